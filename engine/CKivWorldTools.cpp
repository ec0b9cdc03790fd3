// The world's level tools: empty worlds, file writers, name flags, reduced dictionaries, sight lines and the triangle dump.
#include "engine/CKivWorld.h"

#include <cctype>
#include <cmath>
#include <new>
#include <string>

#include "engine/CKivCamera.h"
#include "engine/KivEngineLock.h"
#include "engine/KivUserData.h"
#include "gfx/core/bbox.h"
#include "gfx/core/byteorder.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/resample.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/int32data/int32data.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"

namespace {

// Tools write plain files through the graphics library's file layer: an
// archive is for reading, and the game never writes its data.
template <typename Write>
int WriteFile(const std::string &fileName, Write write)
{
    RwStream *stream = fileName.empty() ? nullptr : RwStreamOpen(rwSTREAMFILENAME, rwSTREAMWRITE, fileName.c_str());
    if (!stream)
        return 0;
    const bool written = write(stream);
    const bool closed = RwStreamClose(stream, nullptr) != FALSE;
    return written && closed ? 1 : 0;
}

RwInt32 NameFlag(const char *name)
{
    if (!name || name[0] != '_')
        return 0;
    switch (tolower(static_cast<unsigned char>(name[1]))) {
    case 'f': return kKivNameFlagF;
    case 'n': return kKivNameFlagN;
    case 't': return kKivNameFlagTransparent;
    case 'a': return kKivNameFlagAdditive;
    case 'l': return kKivNameFlagL;
    default: return 0;
    }
}

RwWorldSector *FlagSector(RwWorldSector *sector, void *data)
{
    const RwMaterialList &materials = static_cast<const RwWorld *>(data)->matList;
    RwInt32 flags = 0;
    for (RwInt32 i = 0; i < sector->numPolygons && sector->polygons; i++) {
        const RwInt32 index = sector->matListWindowBase + sector->polygons[i].matIndex;
        if (index < materials.numMaterials)
            flags |= NameFlag(KivMaterialFirstString(materials.materials[index]));
    }
    RwInt32DataSet(sector, rwKINDWORLDSECTOR, flags);
    return sector;
}

RwAtomic *FlagAtomic(RwAtomic *atomic, void *)
{
    RwGeometry *geometry = atomic->geometry;
    if (!geometry)
        return atomic;
    RwInt32 flags = 0;
    for (RwInt32 i = 0; i < geometry->matList.numMaterials; i++)
        flags |= NameFlag(KivMaterialFirstString(geometry->matList.materials[i]));
    RwInt32DataSet(geometry, rwKINDGEOMETRY, flags);
    return atomic;
}

RwClump *FlagClump(RwClump *clump, void *)
{
    RwClumpForAllAtomics(clump, FlagAtomic, nullptr);
    return clump;
}

// The texture at half its width and height (at least 1 each), as a plain
// 32-bit raster under the same names, filtering and addressing.
RwTexture *HalvedTexture(RwTexture *texture)
{
    RwRaster *source = texture->raster;
    if (!source)
        return nullptr;
    RwImage *image = RwImageCreate(source->width, source->height, 32);
    if (image && (!RwImageAllocatePixels(image) || !RwImageSetFromRaster(image, source))) {
        RwImageDestroy(image);
        image = nullptr;
    }
    RwImage *half = image ? RwImageCreateResample(image, source->width > 1 ? source->width / 2 : 1,
                                                  source->height > 1 ? source->height / 2 : 1)
                          : nullptr;
    if (image)
        RwImageDestroy(image);
    RwRaster *raster =
        half ? RwRasterCreate(half->width, half->height, 32, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888) : nullptr;
    if (raster && !RwRasterSetFromImage(raster, half)) {
        RwRasterDestroy(raster);
        raster = nullptr;
    }
    if (half)
        RwImageDestroy(half);
    RwTexture *halved = raster ? RwTextureCreate(raster) : nullptr;
    if (!halved) {
        if (raster)
            RwRasterDestroy(raster);
        return nullptr;
    }
    RwTextureSetName(halved, texture->name);
    RwTextureSetMaskName(halved, texture->mask);
    halved->filterMode = texture->filterMode;
    halved->addressing = texture->addressing;
    return halved;
}

struct Halving {
    RwTextureDictionary *into;
    bool failed;
};

RwTexture *HalveInto(RwTexture *texture, void *data)
{
    Halving *halving = static_cast<Halving *>(data);
    RwTexture *halved = HalvedTexture(texture);
    if (!halved) {
        halving->failed = true;
        return nullptr;
    }
    RwTextureDictionaryAddTexture(halving->into, halved);
    return texture;
}

// A new dictionary of every texture halved; null when one cannot be.
RwTextureDictionary *HalvedDictionary(const RwTextureDictionary *dictionary)
{
    Halving halving = {RwTextureDictionaryCreate(), false};
    if (!halving.into)
        return nullptr;
    RwTextureDictionaryForAllTextures(dictionary, HalveInto, &halving);
    if (halving.failed) {
        RwTextureDictionaryDestroy(halving.into);
        return nullptr;
    }
    return halving.into;
}

// A hit counts only before the point itself, so a point on a surface is seen.
const RwReal kSightEnd = 0.9999f;

RwCollisionTriangle *StopAtBlocker(RwIntersection *, RwWorldSector *, RwCollisionTriangle *triangle, RwReal distance,
                                   void *data)
{
    if (distance >= kSightEnd)
        return triangle;
    *static_cast<bool *>(data) = true;
    return nullptr;
}

// Whether polygon i's corners all lie in the sector's vertex array.
bool HasCorners(const RwWorldSector *sector, RwInt32 i)
{
    const RwUInt16 *index = sector->polygons[i].vertIndex;
    return index[0] < sector->numVertices && index[1] < sector->numVertices && index[2] < sector->numVertices;
}

RwUInt32 CountTriangles(const RwWorldSector *sector)
{
    RwUInt32 count = 0;
    for (RwInt32 i = 0; sector->polygons && sector->vertices && i < sector->numPolygons; i++)
        count += HasCorners(sector, i) ? 1 : 0;
    return count;
}

RwWorldSector *CountSector(RwWorldSector *sector, void *data)
{
    *static_cast<RwUInt32 *>(data) += CountTriangles(sector);
    return sector;
}

// A whole world's dump may not fit one allocation: each sector goes out in
// batches of a fixed buffer.
struct TriangleDump {
    RwStream *stream;
    bool written;
};

RwWorldSector *DumpSector(RwWorldSector *sector, void *data)
{
    TriangleDump *dump = static_cast<TriangleDump *>(data);
    RwUInt8 bytes[64 * 36];
    WriteU32(bytes, CountTriangles(sector));
    RwUInt32 used = 4;
    bool written = true;
    for (RwInt32 i = 0; written && sector->polygons && sector->vertices && i < sector->numPolygons; i++) {
        if (!HasCorners(sector, i))
            continue;
        if (used + 36 > sizeof bytes) {
            written = RwStreamWrite(dump->stream, bytes, used) != nullptr;
            used = 0;
        }
        for (int k = 0; k < 3; k++) {
            const RwV3d &v = sector->vertices[sector->polygons[i].vertIndex[k]];
            WriteF32(bytes + used, v.x);
            WriteF32(bytes + used + 4, v.y);
            WriteF32(bytes + used + 8, v.z);
            used += 12;
        }
    }
    if (!written || !RwStreamWrite(dump->stream, bytes, used)) {
        dump->written = false;
        return nullptr;
    }
    return sector;
}

bool IsBox(const RwBBox &box)
{
    const RwReal values[6] = {box.inf.x, box.inf.y, box.inf.z, box.sup.x, box.sup.y, box.sup.z};
    for (RwReal value : values) {
        if (!std::isfinite(value))
            return false;
    }
    return box.inf.x <= box.sup.x && box.inf.y <= box.sup.y && box.inf.z <= box.sup.z;
}

} // namespace

int CKivWorld::CreateEmpty(const RwBBox *box)
{
    if (!box || !IsBox(*box) || m_world || !Load(nullptr, nullptr, nullptr))
        return 0;
    EngineLock lock;
    m_world = RwWorldCreate(box);
    if (!m_world)
        return 0;
    m_world->renderOrder = 1;
    return 1;
}

int CKivWorld::WriteWorld(const char *fileName) const
{
    if (!fileName || !m_world)
        return 0;
    return WriteFile(fileName, [this](RwStream *stream) { return RwWorldStreamWrite(m_world, stream) != nullptr; });
}

int CKivWorld::WriteCurrentDictionary(const char *fileName) const
{
    EngineLock lock;
    const RwTextureDictionary *dictionary = RwTextureDictionaryGetCurrent();
    if (!fileName || !dictionary)
        return 0;
    return WriteFile(fileName, [dictionary](RwStream *stream) {
        return RwTextureDictionaryStreamWrite(dictionary, stream) != nullptr;
    });
}

int CKivWorld::FlagFromMaterialNames()
{
    if (!m_world)
        return 0;
    RwWorldForAllWorldSectors(m_world, FlagSector, m_world);
    RwWorldForAllClumps(m_world, FlagClump, nullptr);
    return 1;
}

RwInt32 CKivWorld::GetSectorFlags(const RwWorldSector *sector)
{
    return sector ? RwInt32DataGet(sector, rwKINDWORLDSECTOR) : 0;
}

RwInt32 CKivWorld::GetAtomicFlags(const RwAtomic *atomic)
{
    return atomic && atomic->geometry ? RwInt32DataGet(atomic->geometry, rwKINDGEOMETRY) : 0;
}

int CKivWorld::WriteReducedDictionaries(const char *fileName) const
{
    // The names first: memory running out for them writes nothing.
    std::string names[3];
    try {
        const std::string name = fileName ? fileName : m_dictionaryFile;
        if (name.empty() || !m_dictionary)
            return 0;
        for (int quality = 0; quality < 3; quality++)
            names[quality] = DictionaryVariant(name.c_str(), quality);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    // The background loader swaps rasters of this dictionary under the lock.
    EngineLock lock;
    auto writePI = [](const RwTextureDictionary *dictionary) {
        return [dictionary](RwStream *stream) { return RwPITextureDictionaryStreamWrite(dictionary, stream) != nullptr; };
    };
    if (!WriteFile(names[0], writePI(m_dictionary)))
        return 0;
    RwTextureDictionary *half = HalvedDictionary(m_dictionary);
    RwTextureDictionary *quarter = half ? HalvedDictionary(half) : nullptr;
    const int written = quarter && WriteFile(names[1], writePI(half)) &&
                        WriteFile(names[2], writePI(quarter));
    if (quarter)
        RwTextureDictionaryDestroy(quarter);
    if (half)
        RwTextureDictionaryDestroy(half);
    return written;
}

int CKivWorld::IsInSight(const RwV3d *point) const
{
    RwCamera *camera = m_camera ? m_camera->GetCamera() : nullptr;
    RwFrame *frame = camera ? RwCameraGetFrame(camera) : nullptr;
    if (!point || !frame || !m_world)
        return 0;
    RwIntersection intersection = {};
    intersection.type = rwINTERSECTLINE;
    intersection.t.line.start = RwFrameGetWorldMatrix(frame)->pos;
    intersection.t.line.end = *point;
    // A line with an end at no finite place would cross no triangle: it sees nothing.
    const RwV3d &from = intersection.t.line.start;
    for (RwReal value : {from.x, from.y, from.z, point->x, point->y, point->z}) {
        if (!std::isfinite(value))
            return 0;
    }
    bool blocked = false;
    RwCollisionWorldForAllIntersections(m_world, &intersection, StopAtBlocker, &blocked);
    return blocked ? 0 : 1;
}

int CKivWorld::WriteTriangles(const char *fileName) const
{
    if (!fileName || !m_world)
        return 0;
    RwUInt32 total = 0;
    RwWorldForAllWorldSectors(m_world, CountSector, &total);
    return WriteFile(fileName, [this, total](RwStream *stream) {
        RwUInt8 word[4];
        WriteU32(word, total);
        TriangleDump dump = {stream, RwStreamWrite(stream, word, sizeof word) != nullptr};
        if (dump.written)
            RwWorldForAllWorldSectors(m_world, DumpSector, &dump);
        return dump.written;
    });
}
