// Stand-in device driver: a scriptable system function for tests.
//
// The driver serves every request with a plausible default (open, start and
// stop succeed; one 640x480x32 windowed video mode; sub-system requests are
// refused so the engine's fall-backs apply). Tests can make any request fail,
// replace its handling, and read the log of requests. Request 11 fills the
// standard-function table with recorders: each call is logged and answered by
// a test's replacement when one is set, else with a configurable result.
#pragma once

#include "gfx/core/engine.h"

struct RwTestDriverRequest {
    RwInt32 request;
    void *out;
    void *inOut;
    RwInt32 in;
    RwBool result;
};

struct RwTestDriverStandardCall {
    RwInt32 index;
    void *out;
    void *inOut;
    RwInt32 in;
    RwBool result;
};

enum : RwInt32 {
    rwTESTDRIVERMAXREQUEST = 32,
    rwTESTDRIVERDEVICEID = 2,
};

// Back to the default behaviour: no failures, no handlers, empty logs, default
// device block, standard functions answering TRUE.
void RwTestDriverReset(void);

// The next `times` calls of the request fail (-1: until cleared). Failing calls
// do not reach a handler.
void RwTestDriverFailRequest(RwInt32 request, RwInt32 times = -1);
// Replaces the handling of one request (NULL restores the default).
void RwTestDriverSetRequestHandler(RwInt32 request, RwSystemFunc handler);

RwInt32 RwTestDriverGetRequestCount(RwInt32 request);
RwInt32 RwTestDriverGetLogSize(void);
const RwTestDriverRequest *RwTestDriverGetLog(RwInt32 index);

// Standard functions: replacement (NULL restores the recorder's own answer),
// the answer of an entry without a replacement, calls and their log.
void RwTestDriverSetStandardFunction(RwInt32 index, RwStandardFunc fn);
void RwTestDriverSetStandardResult(RwInt32 index, RwBool result);
RwInt32 RwTestDriverGetStandardCount(RwInt32 index);
RwInt32 RwTestDriverGetStandardLogSize(void);
const RwTestDriverStandardCall *RwTestDriverGetStandardLog(RwInt32 index);

// The device block that RwD3D9GetDeviceBlock hands out (tests may change it,
// e.g. the gamma); RwTestDriverReset restores it.
RwDevice *RwTestDriverGetDevice(void);

// What RwD3D9DriverRegisterPlugins does: NULL (default) returns TRUE.
void RwTestDriverSetRegisterPlugins(RwBool (*fn)(void));
RwInt32 RwTestDriverGetRegisterPluginsCount(void);

// The window handle of the last successful open request (first word of the
// open parameters).
void *RwTestDriverGetWindow(void);

// The default immediate-mode pipelines that the immediate module asks the
// driver for at start: NULL (default) leaves the slots empty and succeeds; a
// test's function fills the slots itself (and may fail). Destroying calls the
// destroy hook when one is set, else clears the slots.
struct RxPipeline;
struct RwTestDriverIm3DHooks {
    RwBool (*transformCreate)(RxPipeline **slot);
    void (*transformDestroy)(RxPipeline **slot);
    RwBool (*renderCreate)(RxPipeline **slots);
    void (*renderDestroy)(RxPipeline **slots);
};
void RwTestDriverSetIm3DHooks(const RwTestDriverIm3DHooks *hooks);
