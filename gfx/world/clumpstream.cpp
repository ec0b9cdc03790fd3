// Clump streams: chunk 0x10 with its frame list, geometry list, atomics, lights and cameras.
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/camera.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/stream.h"
#include "clump.h"
#include "geometry.h"
#include "light.h"
#include "world.h"
#include "worldids.h"
#include "worldstream.h"

enum : RwUInt32 {
    rwATOMICSTRUCTSIZE = 16,
    rwCLUMPSTRUCTSIZE = 12,
    rwMINATOMICCHUNK = 3 * rwCHUNKHEADERSIZE + 8,
    rwMINGEOMETRYCHUNK = 4 * rwCHUNKHEADERSIZE,
    rwMINMEMBERCHUNK = 3 * rwCHUNKHEADERSIZE + 4,
};

static void ReadError(RwUInt32 code = E_RW_READ)
{
    RwErrorRaise(rwID_COREPLUGIN, code);
}

static bool ValidIndex(RwInt32 index, RwInt32 count)
{
    if (index >= 0 && index < count) {
        return true;
    }
    ReadError();
    return false;
}

static RwAtomic *FailAtomic(RwAtomic *atomic)
{
    ReadError();
    RwAtomicDestroy(atomic);
    return nullptr;
}

RwAtomic *RwAtomicStreamRead(RwStream *stream, const RwFrameList *frameList, const RwGeometryList *geomList)
{
    RwUInt32 length = 0;
    RwUInt8 body[rwATOMICSTRUCTSIZE] = {};
    if (!RwWorldStreamFindChecked(stream, rwID_STRUCT, &length)) {
        return nullptr;
    }
    if (length > sizeof body || !RwStreamReadExact(stream, body, length)) {
        ReadError();
        return nullptr;
    }
    const RwInt32 frameIndex = ReadI32(body);
    const RwInt32 geometryIndex = ReadI32(body + 4);
    if ((frameList->numFrames > 0 && !ValidIndex(frameIndex, frameList->numFrames)) ||
        (geomList->numGeoms > 0 && !ValidIndex(geometryIndex, geomList->numGeoms))) {
        return nullptr;
    }
    RwAtomic *atomic = RwAtomicCreate();
    if (!atomic) {
        return nullptr;
    }
    atomic->object.object.flags = body[8];
    if (frameList->numFrames > 0) {
        RwAtomicSetFrame(atomic, frameList->frames[frameIndex]);
    }
    if (geomList->numGeoms > 0) {
        RwAtomicSetGeometry(atomic, geomList->geometries[geometryIndex], 0);
    } else {
        if (!RwWorldStreamFindChecked(stream, rwID_GEOMETRY, nullptr)) {
            RwAtomicDestroy(atomic);
            return nullptr;
        }
        RwGeometry *geometry = RwGeometryStreamRead(stream);
        if (!geometry) {
            return FailAtomic(atomic);
        }
        RwAtomicSetGeometry(atomic, geometry, 0);
        RwGeometryDestroy(geometry);   // the atomic holds the only reference
    }
    RwRightsRecord *rights = RwWorldGetRightsRecord(rwRIGHTSATOMIC);
    *rights = {};
    if (!RwPluginRegistryReadDataChunks(RwAtomicGetPluginRegistry(), stream, atomic)) {
        return FailAtomic(atomic);
    }
    if (rights->pluginID) {
        RwPluginRegistryInvokeRights(RwAtomicGetPluginRegistry(), rights->pluginID, atomic, rights->data);
    }
    return atomic;
}

static void ReleaseGeometries(RwGeometryList *list, RwInt32 count)
{
    for (RwInt32 i = 0; i < count; ++i) {
        RwGeometryDestroy(list->geometries[i]);
    }
    if (list->geometries) {
        RwFree(list->geometries);
    }
    *list = {};
}

static bool ReadGeometryList(RwStream *stream, RwGeometryList *list)
{
    *list = {};
    RwUInt32 length = 0;
    RwUInt8 word[4];
    if (!RwWorldStreamFindChecked(stream, rwID_GEOMETRYLIST, nullptr) ||
        !RwWorldStreamFindChecked(stream, rwID_STRUCT, &length)) {
        return false;
    }
    if (length != sizeof word || !RwStreamReadExact(stream, word, sizeof word)) {
        ReadError();
        return false;
    }
    const RwInt32 count = ReadI32(word);
    if (count < 0 || !RwStreamCanHold(stream, static_cast<RwUInt32>(count), rwMINGEOMETRYCHUNK)) {
        ReadError();
        return false;
    }
    if (count == 0) {
        return true;
    }
    list->geometries = static_cast<RwGeometry **>(RwMalloc(sizeof(RwGeometry *) * count, rwMEMHINT_GEOMETRY));
    if (!list->geometries) {
        ReadError(E_RW_NOMEM);
        return false;
    }
    for (RwInt32 i = 0; i < count; ++i) {
        RwGeometry *g =
            RwWorldStreamFindChecked(stream, rwID_GEOMETRY, nullptr) ? RwGeometryStreamRead(stream) : nullptr;
        if (!g) {
            ReadError();
            ReleaseGeometries(list, i);
            return false;
        }
        list->geometries[i] = g;
        list->numGeoms = i + 1;
    }
    return true;
}

// Reads the frame index of a light or camera; the chunk of the object follows.
static bool ReadMemberFrame(RwStream *stream, const RwFrameList *frames, RwUInt32 chunkType, RwInt32 *index)
{
    RwUInt32 length = 0;
    RwUInt8 word[4];
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, nullptr) || length != sizeof word ||
        !RwStreamReadExact(stream, word, sizeof word)) {
        ReadError();
        return false;
    }
    *index = ReadI32(word);
    return ValidIndex(*index, frames->numFrames) && RwWorldStreamFindChecked(stream, chunkType, nullptr);
}

static bool ReadMembers(RwStream *stream, RwClump *clump, const RwFrameList *frames, const RwGeometryList *geoms,
                        const RwInt32 counts[3])
{
    for (RwInt32 i = 0; i < counts[0]; ++i) {
        RwAtomic *atomic = RwWorldStreamFindChecked(stream, rwID_ATOMIC, nullptr)
                               ? RwAtomicStreamRead(stream, frames, geoms)
                               : nullptr;
        if (!atomic) {
            return false;
        }
        RwClumpAddAtomic(clump, atomic);
    }
    RwInt32 index = 0;
    for (RwInt32 i = 0; i < counts[1]; ++i) {
        RwLight *light = ReadMemberFrame(stream, frames, rwID_LIGHT, &index) ? RwLightStreamRead(stream) : nullptr;
        if (!light) {
            return false;
        }
        RwLightSetFrame(light, frames->frames[index]);
        RwClumpAddLight(clump, light);
    }
    for (RwInt32 i = 0; i < counts[2]; ++i) {
        RwCamera *camera = ReadMemberFrame(stream, frames, rwID_CAMERA, &index) ? RwCameraStreamRead(stream) : nullptr;
        if (!camera) {
            return false;
        }
        // A frame scaled so far that the frustum overflows, or to nothing,
        // leaves the camera blind, as it would at run time; the model stays.
        RwCameraSetFrame(camera, frames->frames[index]);
        RwClumpAddCamera(clump, camera);
    }
    return true;
}

RwClump *RwClumpStreamRead(RwStream *stream)
{
    RwUInt32 length = 0;
    RwUInt8 body[rwCLUMPSTRUCTSIZE];
    if (!RwWorldStreamFindChecked(stream, rwID_STRUCT, &length)) {
        return nullptr;
    }
    if (length != sizeof body || !RwStreamReadExact(stream, body, sizeof body)) {
        ReadError();
        return nullptr;
    }
    const RwInt32 counts[3] = {ReadI32(body), ReadI32(body + 4), ReadI32(body + 8)};
    if (counts[0] < 0 || counts[1] < 0 || counts[2] < 0 ||
        !RwStreamCanHold(stream, static_cast<RwUInt32>(counts[0]), rwMINATOMICCHUNK) ||
        !RwStreamCanHold(stream, static_cast<RwUInt32>(counts[1]) + static_cast<RwUInt32>(counts[2]),
                         rwMINMEMBERCHUNK)) {
        ReadError();
        return nullptr;
    }
    RwClump *clump = RwClumpCreate();
    if (!clump) {
        return nullptr;
    }
    RwFrameList frames = {};
    if (!RwWorldStreamFindChecked(stream, rwID_FRAMELIST, nullptr) || !RwFrameListStreamRead(stream, &frames)) {
        ReadError();
        RwClumpDestroy(clump);
        return nullptr;
    }
    // Every frame hangs under the first, which the clump owns; atomics need one.
    bool ok = frames.numFrames > 0;
    if (ok) {
        RwClumpSetFrame(clump, frames.frames[0]);
    }
    RwInt32 firstStray = frames.numFrames;
    for (RwInt32 i = frames.numFrames - 1; i > 0; --i) {
        if (!RwFrameGetParent(frames.frames[i])) {
            firstStray = i;
        }
    }
    if (firstStray < frames.numFrames) {
        // A parent always comes first, so later roots are never inside earlier ones.
        for (RwInt32 i = frames.numFrames - 1; i >= firstStray; --i) {
            if (!RwFrameGetParent(frames.frames[i]) && frames.frames[i]->root == frames.frames[i]) {
                RwFrameDestroyHierarchy(frames.frames[i]);
            }
        }
        ok = false;
    }
    RwGeometryList geoms = {};
    ok = ok && ReadGeometryList(stream, &geoms);
    ok = ok && ReadMembers(stream, clump, &frames, &geoms, counts);
    ReleaseGeometries(&geoms, geoms.numGeoms);
    RwFrameListDeinitialize(&frames);
    if (!ok || !RwPluginRegistryReadDataChunks(RwClumpGetPluginRegistry(), stream, clump)) {
        ReadError();
        RwClumpDestroy(clump);
        return nullptr;
    }
    return clump;
}
