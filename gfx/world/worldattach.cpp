// The world module's attach: its engine modules in order, the world extensions and the right-to-render records.
#include "gfx/core/byteorder.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/modules.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/stream.h"
#include "geometry.h"
#include "light.h"
#include "mesh.h"
#include "world.h"
#include "worldids.h"
#include "worldpipe.h"
#include "worldstream.h"

static RwRightsRecord rights[rwRIGHTSKINDS];

RwRightsRecord *RwWorldGetRightsRecord(RwRightsKind kind)
{
    return &rights[kind];
}

static RwInt32 RightsSize(const RxPipeline *pipeline)
{
    return pipeline && pipeline->pluginId != 0 ? 8 : 0;
}

static RwStream *RightsWrite(RwStream *stream, const RxPipeline *pipeline)
{
    const RwInt32 words[2] = {static_cast<RwInt32>(pipeline->pluginId), static_cast<RwInt32>(pipeline->pluginData)};
    return RwStreamWriteInt32(stream, words, sizeof words);
}

static RwStream *RightsRead(RwStream *stream, RwInt32 length, RwRightsKind kind)
{
    RwUInt8 words[8] = {};
    const RwUInt32 n = length == 8 ? 8 : 4;
    if (length < 4 || !RwStreamReadExact(stream, words, n) || (length > 8 && !RwStreamSkip(stream, length - 8))) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    rights[kind] = {ReadU32(words), ReadU32(words + 4)};
    return stream;
}

RwInt32 RwAtomicRightsStreamGetSize(const void *atomic, RwInt32, RwInt32)
{
    return RightsSize(static_cast<const RwAtomic *>(atomic)->pipeline);
}

RwStream *RwAtomicRightsStreamWrite(RwStream *stream, RwInt32, const void *atomic, RwInt32, RwInt32)
{
    return RightsWrite(stream, static_cast<const RwAtomic *>(atomic)->pipeline);
}

RwStream *RwAtomicRightsStreamRead(RwStream *stream, RwInt32 length, void *, RwInt32, RwInt32)
{
    return RightsRead(stream, length, rwRIGHTSATOMIC);
}

static RwInt32 WorldRightsSize(const void *world, RwInt32, RwInt32)
{
    return RightsSize(static_cast<const RwWorld *>(world)->pipeline);
}

static RwStream *WorldRightsWrite(RwStream *stream, RwInt32, const void *world, RwInt32, RwInt32)
{
    return RightsWrite(stream, static_cast<const RwWorld *>(world)->pipeline);
}

static RwStream *WorldRightsRead(RwStream *stream, RwInt32 length, void *, RwInt32, RwInt32)
{
    return RightsRead(stream, length, rwRIGHTSWORLD);
}

static RwInt32 SectorRightsSize(const void *sector, RwInt32, RwInt32)
{
    return RightsSize(static_cast<const RwWorldSector *>(sector)->pipeline);
}

static RwStream *SectorRightsWrite(RwStream *stream, RwInt32, const void *sector, RwInt32, RwInt32)
{
    return RightsWrite(stream, static_cast<const RwWorldSector *>(sector)->pipeline);
}

static RwStream *SectorRightsRead(RwStream *stream, RwInt32 length, void *, RwInt32, RwInt32)
{
    return RightsRead(stream, length, rwRIGHTSSECTOR);
}

// A sector's mesh header, against the material list of the sector's world.
static RwInt32 SectorBinMeshSize(const void *object, RwInt32, RwInt32)
{
    const RwWorldSector *sector = static_cast<const RwWorldSector *>(object);
    const RwWorld *world = RwWorldSectorStreamWorld(sector);
    return sector->mesh && world ? RwBinMeshStreamGetSize(sector->mesh, world) : 0;
}

static RwStream *SectorBinMeshWrite(RwStream *stream, RwInt32, const void *object, RwInt32, RwInt32)
{
    const RwWorldSector *sector = static_cast<const RwWorldSector *>(object);
    const RwWorld *world = RwWorldSectorStreamWorld(sector);
    return sector->mesh && world ? RwBinMeshStreamWrite(sector->mesh, world, stream, &world->matList) : stream;
}

static RwStream *SectorBinMeshRead(RwStream *stream, RwInt32, void *object, RwInt32, RwInt32)
{
    RwWorldSector *sector = static_cast<RwWorldSector *>(object);
    const RwWorld *world = RwWorldSectorStreamWorld(sector);
    if (!world) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    // Indices must stay inside the sector's vertices.
    RwMeshHeader *header = RwBinMeshStreamRead(stream, world, &world->matList, sector->numVertices);
    if (!header) {
        return nullptr;
    }
    if (sector->mesh) {
        RwMeshHeaderDestroy(sector->mesh);
    }
    sector->mesh = header;
    return stream;
}

// The instanced form (native data), read and written by the device.
static RwStream *GeometryNativeRead(RwStream *stream, RwInt32, void *object, RwInt32, RwInt32)
{
    return RwGeometryNativeStreamRead(stream, static_cast<RwGeometry *>(object));
}

static RwStream *GeometryNativeWrite(RwStream *stream, RwInt32, const void *object, RwInt32, RwInt32)
{
    return RwGeometryNativeStreamWrite(stream, static_cast<const RwGeometry *>(object));
}

static RwInt32 GeometryNativeSize(const void *object, RwInt32, RwInt32)
{
    return RwGeometryNativeStreamGetSize(static_cast<const RwGeometry *>(object));
}

static RwStream *SectorNativeRead(RwStream *stream, RwInt32, void *object, RwInt32, RwInt32)
{
    return RwWorldSectorNativeStreamRead(stream, static_cast<RwWorldSector *>(object));
}

static RwStream *SectorNativeWrite(RwStream *stream, RwInt32, const void *object, RwInt32, RwInt32)
{
    return RwWorldSectorNativeStreamWrite(stream, static_cast<const RwWorldSector *>(object));
}

static RwInt32 SectorNativeSize(const void *object, RwInt32, RwInt32)
{
    return RwWorldSectorNativeStreamGetSize(static_cast<const RwWorldSector *>(object));
}

RwBool RwWorldRegisterObjectExtensions(void)
{
    if (!RwWorldRegisterWorldTies()) {
        return FALSE;
    }
    bool ok = RwGeometryRegisterPlugin(0, rwID_BINMESHPLUGIN, nullptr, nullptr, nullptr) >= 0 &&
              RwGeometryRegisterPluginStream(rwID_BINMESHPLUGIN, RwGeometryBinMeshStreamRead,
                                             RwGeometryBinMeshStreamWrite, RwGeometryBinMeshStreamGetSize) >= 0 &&
              RwWorldSectorRegisterPlugin(0, rwID_BINMESHPLUGIN, nullptr, nullptr, nullptr) >= 0 &&
              RwWorldSectorRegisterPluginStream(rwID_BINMESHPLUGIN, SectorBinMeshRead, SectorBinMeshWrite,
                                                SectorBinMeshSize) >= 0;
    ok = ok && RwGeometryRegisterPlugin(0, rwID_NATIVEDATAPLUGIN, nullptr, nullptr, nullptr) >= 0 &&
         RwGeometryRegisterPluginStream(rwID_NATIVEDATAPLUGIN, GeometryNativeRead, GeometryNativeWrite,
                                        GeometryNativeSize) >= 0 &&
         RwWorldSectorRegisterPlugin(0, rwID_NATIVEDATAPLUGIN, nullptr, nullptr, nullptr) >= 0 &&
         RwWorldSectorRegisterPluginStream(rwID_NATIVEDATAPLUGIN, SectorNativeRead, SectorNativeWrite,
                                           SectorNativeSize) >= 0;
    ok = ok && RwAtomicRegisterPlugin(0, rwID_RIGHTTORENDER, nullptr, nullptr, nullptr) >= 0 &&
         RwAtomicRegisterPluginStream(rwID_RIGHTTORENDER, RwAtomicRightsStreamRead, RwAtomicRightsStreamWrite,
                                      RwAtomicRightsStreamGetSize) >= 0 &&
         RwWorldRegisterPlugin(0, rwID_RIGHTTORENDER, nullptr, nullptr, nullptr) >= 0 &&
         RwWorldRegisterPluginStream(rwID_RIGHTTORENDER, WorldRightsRead, WorldRightsWrite, WorldRightsSize) >= 0 &&
         RwWorldSectorRegisterPlugin(0, rwID_RIGHTTORENDER, nullptr, nullptr, nullptr) >= 0 &&
         RwWorldSectorRegisterPluginStream(rwID_RIGHTTORENDER, SectorRightsRead, SectorRightsWrite,
                                           SectorRightsSize) >= 0 &&
         RwMaterialRegisterPlugin(0, rwID_RIGHTTORENDER, nullptr, nullptr, nullptr) >= 0 &&
         RwMaterialRegisterPluginStream(rwID_RIGHTTORENDER, RwMaterialRightsStreamRead, RwMaterialRightsStreamWrite,
                                        RwMaterialRightsStreamGetSize) >= 0;
    return ok && RwReturnTrue() > 0;
}

RwBool RwWorldPluginAttach(void)
{
    struct Module {
        RwInt32 size;
        RwUInt32 id;
        RwPluginEngineCallBack open;
        RwPluginEngineCallBack close;
    };
    static const Module modules[] = {
        {4, rwID_MATERIALMODULE, RwMaterialModuleOpen, RwMaterialModuleClose},
        {48, rwID_MESHMODULE, RwMeshModuleOpen, RwMeshModuleClose},
        {4, rwID_GEOMETRYMODULE, RwGeometryModuleOpen, RwGeometryModuleClose},
        {8, rwID_CLUMPMODULE, RwClumpModuleOpen, RwClumpModuleClose},
        {4, rwID_LIGHTMODULE, RwLightModuleOpen, RwLightModuleClose},
        {0, rwID_SECTORMODULE, RwSectorModuleOpen, RwSectorModuleClose},
        {12, rwID_WORLDMODULE, RwWorldModuleOpen, RwWorldModuleClose},
        {0, rwID_BINWORLDMODULE, RwBinWorldModuleOpen, RwBinWorldModuleClose},
    };
    for (const Module &m : modules) {
        if (RwEngineRegisterPlugin(m.size, m.id, m.open, m.close) < 0) {
            return FALSE;
        }
    }
    return RwWorldRegisterObjectExtensions() && RwClumpAttachExtensions() && RwWorldPipelineAttach();
}
