// Toon plug-in registration: extension slots on geometries, sectors and materials, their chunks, open count and enabling.
#include "toon.h"
#include "toonint.h"

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"

RwToonPipelines rwToonPipelines = {nullptr, nullptr};

static RwInt32 geometryOffset = -1;
static RwInt32 sectorOffset = -1;
static RwInt32 materialOffset = -1;
static RwInt32 engineOffset = -1;
static RwInt32 openCount = 0;

void RwToonError(RwUInt32 code, const RwChar *message)
{
    RwError e = {static_cast<RwInt32>(rwID_TOONPLUGIN), RwErrorMakeCode(static_cast<RwInt32>(code), message)};
    RwErrorSet(&e);
}

template <typename T>
static T *&Slot(const void *object, RwInt32 offset)
{
    return *reinterpret_cast<T **>(const_cast<RwUInt8 *>(static_cast<const RwUInt8 *>(object)) + offset);
}

void *RwToonPluginOpen(void *instance, RwInt32, RwInt32)
{
    if (openCount == 0 && !RwToonPipelinesCreate()) {
        RwToonPipelinesDestroy();
        return nullptr;
    }
    ++openCount;
    return instance;
}

void *RwToonPluginClose(void *instance, RwInt32, RwInt32)
{
    if (openCount > 0 && --openCount == 0) {
        RwToonPipelinesDestroy();
    }
    return instance;
}

static void *SlotConstruct(void *object, RwInt32 offset, RwInt32)
{
    Slot<void>(object, offset) = nullptr;
    return object;
}

static void *ToonGeoDestruct(void *object, RwInt32 offset, RwInt32)
{
    RwToonGeoDestroy(Slot<RwToonGeo>(object, offset));
    Slot<RwToonGeo>(object, offset) = nullptr;
    return object;
}

// A copied geometry or sector starts without toon data.
static void *ToonGeoCopy(void *dst, const void *, RwInt32, RwInt32) { return dst; }

static RwInt32 ToonGeoSize(const void *object, RwInt32 offset, RwInt32)
{
    return RwToonGeoStreamGetSize(Slot<RwToonGeo>(object, offset));
}

static RwStream *ToonGeoWrite(RwStream *stream, RwInt32, const void *object, RwInt32 offset, RwInt32)
{
    return RwToonGeoStreamWrite(stream, Slot<RwToonGeo>(object, offset));
}

static RwStream *GeometryRead(RwStream *stream, RwInt32 length, void *object, RwInt32, RwInt32)
{
    RwGeometry *geometry = static_cast<RwGeometry *>(object);
    RwToonGeo *toon = RwToonGeoStreamRead(stream, length, geometry->numVertices);
    return toon && RwToonGeometrySetToonGeo(geometry, toon) ? stream : nullptr;
}

static RwStream *SectorRead(RwStream *stream, RwInt32 length, void *object, RwInt32, RwInt32)
{
    RwWorldSector *sector = static_cast<RwWorldSector *>(object);
    RwToonGeo *toon = RwToonGeoStreamRead(stream, length, sector->numVertices);
    return toon && RwToonWorldSectorSetToonGeo(sector, toon) ? stream : nullptr;
}

static void FreeToonMaterial(RwToonMaterial *toon)
{
    if (toon) {
        if (toon->paint) {
            RwToonPaintRelease(toon->paint);
        }
        RwFree(toon);
    }
}

static void *MaterialDestruct(void *object, RwInt32 offset, RwInt32)
{
    FreeToonMaterial(Slot<RwToonMaterial>(object, offset));
    Slot<RwToonMaterial>(object, offset) = nullptr;
    return object;
}

static RwToonMaterial *NewToonMaterial(void)
{
    RwToonMaterial *toon = static_cast<RwToonMaterial *>(RwMalloc(sizeof(RwToonMaterial), rwMEMHINT_TOON));
    if (toon) {
        std::memset(toon, 0, sizeof *toon);
    }
    return toon;
}

// The copy holds its own reference on the paint.
static void *MaterialCopy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    const RwToonMaterial *from = Slot<RwToonMaterial>(src, offset);
    RwToonMaterial *copy = nullptr;
    if (from) {
        copy = NewToonMaterial();
        if (!copy) {
            return nullptr;
        }
        *copy = *from;
        if (copy->paint) {
            RwToonAddRef(copy->paint);
        }
    }
    FreeToonMaterial(Slot<RwToonMaterial>(dst, offset));
    Slot<RwToonMaterial>(dst, offset) = copy;
    return dst;
}

static RwInt32 MaterialSize(const void *object, RwInt32 offset, RwInt32)
{
    return Slot<RwToonMaterial>(object, offset) ? rwTOONMATERIALSTREAMSIZE : 0;
}

static RwStream *MaterialWrite(RwStream *stream, RwInt32, const void *object, RwInt32 offset, RwInt32)
{
    const RwToonMaterial *toon = Slot<RwToonMaterial>(object, offset);
    if (!toon) {
        return stream;
    }
    const RwInt32 head[2] = {static_cast<RwInt32>(rwTOONMATERIALVERSION), toon->hasPaint};
    if (!RwStreamWriteInt32(stream, head, sizeof head) || !RwStreamWrite(stream, toon->paintName, rwTOONNAMELENGTH)) {
        return nullptr;
    }
    return RwStreamWriteInt32(stream, &toon->extra, sizeof(RwInt32));
}

static RwStream *MaterialRead(RwStream *stream, RwInt32, void *object, RwInt32 offset, RwInt32)
{
    RwToonMaterial *&slot = Slot<RwToonMaterial>(object, offset);
    if (!slot && !(slot = NewToonMaterial())) {
        RwToonError(E_RW_NOMEM, "toon material");
        return nullptr;
    }
    RwInt32 version;
    if (!RwStreamReadInt32(stream, &version, sizeof version)) {
        return nullptr;
    }
    if (static_cast<RwUInt32>(version) > rwTOONMATERIALVERSION) {
        RwToonError(E_RW_BADVERSION, "Incompatible toon material stream version: re-export required");
        return nullptr;
    }
    const RwBool current = static_cast<RwUInt32>(version) == rwTOONMATERIALVERSION;
    if (!RwStreamReadInt32(stream, &slot->hasPaint, sizeof(RwInt32))) {
        return nullptr;
    }
    if (!current && slot->hasPaint == 0) {
        return stream;
    }
    if (!RwStreamReadExact(stream, slot->paintName, rwTOONNAMELENGTH)) {
        return nullptr;
    }
    slot->paintName[rwTOONNAMELENGTH - 1] = '\0';
    if (!current) {
        return stream;
    }
    return RwStreamReadInt32(stream, &slot->extra, sizeof(RwInt32));
}

RwBool RwToonPluginAttach(void)
{
    engineOffset = RwEngineRegisterPlugin(0, rwID_TOONPLUGIN, RwToonPluginOpen, RwToonPluginClose);
    geometryOffset = RwGeometryRegisterPlugin(sizeof(void *), rwID_TOONPLUGIN, SlotConstruct, ToonGeoDestruct,
                                              ToonGeoCopy);
    const RwInt32 geometryStream =
        RwGeometryRegisterPluginStream(rwID_TOONPLUGIN, GeometryRead, ToonGeoWrite, ToonGeoSize);
    sectorOffset = RwWorldSectorRegisterPlugin(sizeof(void *), rwID_TOONPLUGIN, SlotConstruct, ToonGeoDestruct,
                                               ToonGeoCopy);
    const RwInt32 sectorStream =
        RwWorldSectorRegisterPluginStream(rwID_TOONPLUGIN, SectorRead, ToonGeoWrite, ToonGeoSize);
    materialOffset = RwMaterialRegisterPlugin(sizeof(void *), rwID_TOONPLUGIN, SlotConstruct, MaterialDestruct,
                                              MaterialCopy);
    const RwInt32 materialStream =
        RwMaterialRegisterPluginStream(rwID_TOONPLUGIN, MaterialRead, MaterialWrite, MaterialSize);
    // Every registration counts: a failure in the middle must not hide behind a later success.
    return engineOffset >= 0 && geometryOffset >= 0 && geometryStream >= 0 && sectorOffset >= 0 &&
           sectorStream >= 0 && materialOffset >= 0 && materialStream >= 0;
}

RwToonGeo *RwToonGeometryGetToonGeo(const RwGeometry *geometry)
{
    return geometry && geometryOffset >= 0 ? Slot<RwToonGeo>(geometry, geometryOffset) : nullptr;
}

RwToonGeo *RwToonWorldSectorGetToonGeo(const RwWorldSector *sector)
{
    return sector && sectorOffset >= 0 ? Slot<RwToonGeo>(sector, sectorOffset) : nullptr;
}

RwToonMaterial *RwToonMaterialGetToonMaterial(const RwMaterial *material)
{
    return material && materialOffset >= 0 ? Slot<RwToonMaterial>(material, materialOffset) : nullptr;
}

// The passes index the owner's vertices with the toon data's.
RwBool RwToonGeometrySetToonGeo(RwGeometry *geometry, RwToonGeo *toon)
{
    if (!geometry || geometryOffset < 0 || (toon && toon->numVertices > geometry->numVertices)) {
        return FALSE;
    }
    RwToonGeo *&slot = Slot<RwToonGeo>(geometry, geometryOffset);
    if (slot != toon) {
        RwToonGeoDestroy(slot);
    }
    slot = toon;
    if (toon) {
        toon->geometry = geometry;
        toon->sector = nullptr;
    }
    return TRUE;
}

RwBool RwToonWorldSectorSetToonGeo(RwWorldSector *sector, RwToonGeo *toon)
{
    if (!sector || sectorOffset < 0 || (toon && toon->numVertices > sector->numVertices)) {
        return FALSE;
    }
    RwToonGeo *&slot = Slot<RwToonGeo>(sector, sectorOffset);
    if (slot != toon) {
        RwToonGeoDestroy(slot);
    }
    slot = toon;
    if (toon) {
        toon->geometry = nullptr;
        toon->sector = sector;
    }
    return TRUE;
}

RwBool RwToonMaterialSetPaintName(RwMaterial *material, const RwChar *name)
{
    if (!material || materialOffset < 0) {
        return FALSE;
    }
    RwToonMaterial *&slot = Slot<RwToonMaterial>(material, materialOffset);
    if (!slot && !(slot = NewToonMaterial())) {
        return FALSE;
    }
    slot->hasPaint = name != nullptr;
    std::memset(slot->paintName, 0, sizeof slot->paintName);
    if (name) {
        std::strncpy(slot->paintName, name, rwTOONNAMELENGTH - 1);
    }
    return TRUE;
}

static RwToonGeo *InstallRenderCallBack(RwAtomic *atomic)
{
    RwToonGeo *toon = atomic ? RwToonGeometryGetToonGeo(atomic->geometry) : nullptr;
    if (toon && atomic->renderCallBack != RwToonAtomicRenderCallBack) {
        toon->savedRenderCallBack = atomic->renderCallBack;
        toon->savedWord = 0;
        atomic->renderCallBack = RwToonAtomicRenderCallBack;
    }
    return toon;
}

RwBool RwToonAtomicEnable(RwAtomic *atomic)
{
    if (!InstallRenderCallBack(atomic)) {
        return FALSE;
    }
    atomic->pipeline = rwToonPipelines.atomic;
    return TRUE;
}

RwBool RwToonSkinAtomicEnable(RwAtomic *atomic)
{
    RwToonGeo *toon = InstallRenderCallBack(atomic);
    if (!toon) {
        return FALSE;
    }
    toon->skinned = TRUE;
    return TRUE;
}

RwReal RwToonGetInkScale(void) { return 1.0f; }
