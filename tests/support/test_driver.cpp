// Stand-in device driver: a scriptable system function for tests.
#include "test_driver.h"

#include "gfx/core/im3d.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/worldpipe.h"
#include "gfx/plugins/skin/skin.h"

#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

enum : RwInt32 {
    numRenderStates = 256,
};

struct DriverState {
    RwInt32 failTimes[rwTESTDRIVERMAXREQUEST];
    RwSystemFunc handlers[rwTESTDRIVERMAXREQUEST];
    RwInt32 counts[rwTESTDRIVERMAXREQUEST];
    std::vector<RwTestDriverRequest> log;
    RwStandardFunc stdReplacement[rwSTANDARDNUMOFSTANDARD];
    RwBool stdResult[rwSTANDARDNUMOFSTANDARD];
    RwInt32 stdCounts[rwSTANDARDNUMOFSTANDARD];
    std::vector<RwTestDriverStandardCall> stdLog;
    RwBool (*registerPlugins)(void);
    RwInt32 registerPluginsCount;
    void *window;
    RwInt32 videoMode;
    RwInt32 renderStates[numRenderStates];
};

DriverState state;
RwDevice device;

RwBool System(RwInt32 request, void *out, void *inOut, RwInt32 in);

bool KnownRequest(RwInt32 request)
{
    return request >= 0 && request < rwTESTDRIVERMAXREQUEST;
}

bool KnownStandard(RwInt32 index)
{
    return index >= 0 && index < rwSTANDARDNUMOFSTANDARD;
}

template <class T>
const T *Entry(const std::vector<T> &log, RwInt32 index)
{
    return index >= 0 && static_cast<size_t>(index) < log.size() ? &log[static_cast<size_t>(index)] : nullptr;
}

RwBool RenderStateSet(RwInt32 rs, void *value)
{
    if (rs < 0 || rs >= numRenderStates) {
        return FALSE;
    }
    state.renderStates[rs] = static_cast<RwInt32>(reinterpret_cast<intptr_t>(value));
    return TRUE;
}

RwBool RenderStateGet(RwInt32 rs, void *value)
{
    if (rs < 0 || rs >= numRenderStates || !value) {
        return FALSE;
    }
    *static_cast<RwInt32 *>(value) = state.renderStates[rs];
    return TRUE;
}

RwBool Im2DLine(void *, RwInt32, RwInt32, RwInt32) { return TRUE; }
RwBool Im2DTriangle(void *, RwInt32, RwInt32, RwInt32, RwInt32) { return TRUE; }
RwBool Im2DPrimitive(RwInt32, void *, RwInt32) { return TRUE; }
RwBool Im2DIndexedPrimitive(RwInt32, void *, RwInt32, RwUInt16 *, RwInt32) { return TRUE; }

void ResetDevice(void)
{
    memset(&device, 0, sizeof(device));
    device.gammaCorrection = 1.0f;
    device.fpSystem = System;
    device.zBufferNear = 0.0f;
    device.zBufferFar = 1.0f;
    device.fpRenderStateSet = RenderStateSet;
    device.fpRenderStateGet = RenderStateGet;
    device.fpIm2DRenderLine = Im2DLine;
    device.fpIm2DRenderTriangle = Im2DTriangle;
    device.fpIm2DRenderPrimitive = Im2DPrimitive;
    device.fpIm2DRenderIndexedPrimitive = Im2DIndexedPrimitive;
}

template <int N>
RwBool Recorder(void *out, void *inOut, RwInt32 in)
{
    RwBool result = state.stdReplacement[N] ? state.stdReplacement[N](out, inOut, in) : state.stdResult[N];
    ++state.stdCounts[N];
    state.stdLog.push_back({N, out, inOut, in, result});
    return result;
}

template <int... N>
struct RecorderTable {
    static constexpr RwStandardFunc table[sizeof...(N)] = {Recorder<N>...};
};
template <int... N>
constexpr RwStandardFunc RecorderTable<N...>::table[sizeof...(N)];

using Recorders = RecorderTable<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                23, 24, 25, 26, 27, 28>;
static_assert(sizeof(Recorders::table) / sizeof(Recorders::table[0]) == rwSTANDARDNUMOFSTANDARD,
              "one recorder per standard function");

const RwVideoMode defaultMode = {640, 480, 32, 0, 60, 0x16};

RwBool DefaultRequest(RwInt32 request, void *out, void *inOut, RwInt32 in)
{
    switch (request) {
    case rwDEVICESYSTEMOPEN:
        state.window = inOut ? *static_cast<void **>(inOut) : nullptr;
        return TRUE;
    case rwDEVICESYSTEMCLOSE:
    case rwDEVICESYSTEMSTART:
    case rwDEVICESYSTEMSTOP:
    case rwDEVICESYSTEMFINALIZESTART:
        return TRUE;
    case rwDEVICESYSTEMREGISTER:
        if (out) {
            memcpy(out, &device, sizeof(device));
        }
        return TRUE;
    case rwDEVICESYSTEMGETNUMMODES:
        if (out) {
            *static_cast<RwInt32 *>(out) = 1;
        }
        return TRUE;
    case rwDEVICESYSTEMGETMODEINFO:
        if (in != 0 || !out) {
            return FALSE;
        }
        *static_cast<RwVideoMode *>(out) = defaultMode;
        return TRUE;
    case rwDEVICESYSTEMUSEMODE:
        if (in != 0) {
            return FALSE;
        }
        state.videoMode = in;
        return TRUE;
    case rwDEVICESYSTEMGETMODE:
        if (out) {
            *static_cast<RwInt32 *>(out) = state.videoMode;
        }
        return TRUE;
    case rwDEVICESYSTEMSTANDARDS: {
        RwStandardFunc *table = static_cast<RwStandardFunc *>(out);
        if (!table) {
            return FALSE;
        }
        for (RwInt32 i = 0; i < in && i < rwSTANDARDNUMOFSTANDARD; ++i) {
            table[i] = Recorders::table[i];
        }
        return TRUE;
    }
    case rwDEVICESYSTEMGETTEXMEMSIZE:
        if (out) {
            *static_cast<RwUInt32 *>(out) = 64u << 20;
        }
        return TRUE;
    case rwDEVICESYSTEMGETMAXTEXTURESIZE:
        if (out) {
            *static_cast<RwUInt32 *>(out) = 4096;
        }
        return TRUE;
    case rwDEVICESYSTEMGETID:
        if (out) {
            *static_cast<RwUInt16 *>(out) = rwTESTDRIVERDEVICEID;
        }
        return TRUE;
    default:
        // Sub-system requests and the rest: refused, as a driver without them.
        return FALSE;
    }
}

RwBool System(RwInt32 request, void *out, void *inOut, RwInt32 in)
{
    RwBool result;
    bool known = KnownRequest(request);
    if (known && state.failTimes[request] != 0) {
        if (state.failTimes[request] > 0) {
            --state.failTimes[request];
        }
        result = FALSE;
    } else if (known && state.handlers[request]) {
        result = state.handlers[request](request, out, inOut, in);
    } else {
        result = DefaultRequest(request, out, inOut, in);
    }
    if (known) {
        ++state.counts[request];
    }
    state.log.push_back({request, out, inOut, in, result});
    return result;
}

struct AutoReset {
    AutoReset() { RwTestDriverReset(); }
} autoReset;

}  // namespace

static RwTestDriverIm3DHooks im3dHooks;

void RwTestDriverReset(void)
{
    im3dHooks = RwTestDriverIm3DHooks{};
    memset(state.failTimes, 0, sizeof(state.failTimes));
    memset(state.handlers, 0, sizeof(state.handlers));
    memset(state.counts, 0, sizeof(state.counts));
    state.log.clear();
    memset(state.stdReplacement, 0, sizeof(state.stdReplacement));
    for (RwBool &r : state.stdResult) {
        r = TRUE;
    }
    memset(state.stdCounts, 0, sizeof(state.stdCounts));
    state.stdLog.clear();
    state.registerPlugins = nullptr;
    state.registerPluginsCount = 0;
    state.window = nullptr;
    state.videoMode = 0;
    memset(state.renderStates, 0, sizeof(state.renderStates));
    ResetDevice();
}

void RwTestDriverFailRequest(RwInt32 request, RwInt32 times)
{
    if (KnownRequest(request)) {
        state.failTimes[request] = times;
    }
}

void RwTestDriverSetRequestHandler(RwInt32 request, RwSystemFunc handler)
{
    if (KnownRequest(request)) {
        state.handlers[request] = handler;
    }
}

RwInt32 RwTestDriverGetRequestCount(RwInt32 request)
{
    return KnownRequest(request) ? state.counts[request] : 0;
}

RwInt32 RwTestDriverGetLogSize(void)
{
    return static_cast<RwInt32>(state.log.size());
}

const RwTestDriverRequest *RwTestDriverGetLog(RwInt32 index)
{
    return Entry(state.log, index);
}

void RwTestDriverSetStandardFunction(RwInt32 index, RwStandardFunc fn)
{
    if (KnownStandard(index)) {
        state.stdReplacement[index] = fn;
    }
}

void RwTestDriverSetStandardResult(RwInt32 index, RwBool result)
{
    if (KnownStandard(index)) {
        state.stdResult[index] = result;
    }
}

RwInt32 RwTestDriverGetStandardCount(RwInt32 index)
{
    return KnownStandard(index) ? state.stdCounts[index] : 0;
}

RwInt32 RwTestDriverGetStandardLogSize(void)
{
    return static_cast<RwInt32>(state.stdLog.size());
}

const RwTestDriverStandardCall *RwTestDriverGetStandardLog(RwInt32 index)
{
    return Entry(state.stdLog, index);
}

RwDevice *RwTestDriverGetDevice(void)
{
    return &device;
}

void RwTestDriverSetRegisterPlugins(RwBool (*fn)(void))
{
    state.registerPlugins = fn;
}

RwInt32 RwTestDriverGetRegisterPluginsCount(void)
{
    return state.registerPluginsCount;
}

void *RwTestDriverGetWindow(void)
{
    return state.window;
}

RwDevice *RwD3D9GetDeviceBlock(void)
{
    return &device;
}

RwBool RwD3D9DriverRegisterPlugins(void)
{
    ++state.registerPluginsCount;
    return state.registerPlugins ? state.registerPlugins() : TRUE;
}

void RwTestDriverSetIm3DHooks(const RwTestDriverIm3DHooks *hooks)
{
    im3dHooks = hooks ? *hooks : RwTestDriverIm3DHooks{};
}

RwBool RwD3D9Im3DTransformPipelineCreate(RxPipeline **slot)
{
    *slot = nullptr;
    return im3dHooks.transformCreate ? im3dHooks.transformCreate(slot) : TRUE;
}

void RwD3D9Im3DTransformPipelineDestroy(RxPipeline **slot)
{
    if (im3dHooks.transformDestroy) {
        im3dHooks.transformDestroy(slot);
    }
    *slot = nullptr;
}

RwBool RwD3D9Im3DRenderPipelinesCreate(RxPipeline **slots)
{
    for (int i = 0; i < 6; ++i) {
        slots[i] = nullptr;
    }
    return im3dHooks.renderCreate ? im3dHooks.renderCreate(slots) : TRUE;
}

void RwD3D9Im3DRenderPipelinesDestroy(RxPipeline **slots)
{
    if (im3dHooks.renderDestroy) {
        im3dHooks.renderDestroy(slots);
    }
    for (int i = 0; i < 6; ++i) {
        slots[i] = nullptr;
    }
}

RwBool RwD3D9WorldPipelineAttach(void)
{
    return TRUE;
}

// The default world pipelines run a node that draws nothing and succeeds,
// and no object carries native data.
static RwBool StandInBody(RxPipelineNode *, const RxPipelineNodeParam *)
{
    return TRUE;
}

static RxPipelineNodeDefinition StandInNode(const RwChar *name)
{
    RxPipelineNodeDefinition definition = {};
    definition.name = name;
    definition.body = StandInBody;
    return definition;
}

RxPipelineNodeDefinition *RwD3D9WorldSectorAllInOneNodeGet(void)
{
    static RxPipelineNodeDefinition node = StandInNode("WorldSectorAllInOne.stand-in");
    return &node;
}

RxPipelineNodeDefinition *RwD3D9AtomicAllInOneNodeGet(void)
{
    static RxPipelineNodeDefinition node = StandInNode("AtomicAllInOne.stand-in");
    return &node;
}

void RwD3D9LightingStateInit(void) {}
void RwD3D9LightingStateTerm(void) {}
void RwD3D9VertexShaderCacheInit(void) {}
void RwD3D9VertexShaderCacheTerm(void) {}

// Native data is passed over unread.
RwStream *RwGeometryNativeStreamWrite(RwStream *stream, const RwGeometry *) { return stream; }
RwStream *RwGeometryNativeStreamRead(RwStream *, RwGeometry *) { return nullptr; }
RwInt32 RwGeometryNativeStreamGetSize(const RwGeometry *) { return 0; }
RwStream *RwWorldSectorNativeStreamWrite(RwStream *stream, const RwWorldSector *) { return stream; }
RwStream *RwWorldSectorNativeStreamRead(RwStream *, RwWorldSector *) { return nullptr; }
RwInt32 RwWorldSectorNativeStreamGetSize(const RwWorldSector *) { return 0; }

// Skin pipelines without nodes: they carry the plug-in id and type that
// RwSkinAtomicGetType reads, and draw nothing.
static RxPipeline *SkinStandIn(RwUInt32 type)
{
    RxPipeline *pipeline = RwPipelineCreate();
    if (pipeline) {
        pipeline->pluginId = rwID_SKINPLUGIN;
        pipeline->pluginData = type;
    }
    return pipeline;
}

void RwD3D9SkinPipelinesCreate(const RwSkinPipelineSetup *setup, RxPipeline **plain, RxPipeline **toon)
{
    *plain = SkinStandIn(rwSKINTYPEGENERIC);
    *toon = setup->toon ? SkinStandIn(rwSKINTYPETOON) : nullptr;
}

void RwD3D9SkinPipelinesDestroy(RxPipeline *plain, RxPipeline *toon)
{
    for (RxPipeline *p : {plain, toon}) {
        if (p) {
            RwPipelineDestroy(p);
        }
    }
}
