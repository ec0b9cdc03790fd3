// The error module: keeps the first error raised until somebody reads it.
#include "error.h"

#include <cstdarg>

#include "engine.h"
#include "modules.h"

static const RwError idleError = {0, static_cast<RwInt32>(E_RW_NOERROR)};

// Outside the module's open window (before the engine starts, after it stops)
// the record lives here, so that errors of RwEngineOpen and the like are kept.
static RwError pendingError = idleError;
static RwInt32 errorModuleOffset = -1;
static RwInt32 errorModuleOpenCount = 0;

static RwError *HeldError(void)
{
    if (errorModuleOpenCount > 0) {
        return RwEngineModuleGlobals<RwError>(errorModuleOffset);
    }
    return &pendingError;
}

static RwBool IsIdle(const RwError *e)
{
    return e->pluginID == idleError.pluginID && e->errorCode == idleError.errorCode;
}

RwError *RwErrorSet(RwError *code)
{
    if (!code) {
        return nullptr;
    }
    RwError *held = HeldError();
    if (IsIdle(held)) {
        held->errorCode = code->errorCode;
        held->pluginID = (static_cast<RwUInt32>(code->errorCode) & 0x80000000u) ? 0 : code->pluginID;
    }
    return code;
}

RwError *RwErrorGet(RwError *code)
{
    RwError *held = HeldError();
    if (code) {
        *code = *held;
    }
    *held = idleError;
    return code;
}

RwError RwErrorGet(void)
{
    RwError e;
    RwErrorGet(&e);
    return e;
}

RwInt32 RwErrorMakeCode(RwInt32 code, ...)
{
    return code;
}

// The record moves into the module globals at open and back out at close, so
// an error raised while the engine starts or stops is not lost.
void *RwErrorModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    errorModuleOffset = offset;
    RwError *globals = reinterpret_cast<RwError *>(static_cast<RwUInt8 *>(instance) + offset);
    *globals = pendingError;
    pendingError = idleError;
    ++errorModuleOpenCount;
    return instance;
}

void *RwErrorModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    RwError *globals = reinterpret_cast<RwError *>(static_cast<RwUInt8 *>(instance) + offset);
    if (IsIdle(&pendingError)) {
        pendingError = *globals;
    }
    *globals = idleError;
    --errorModuleOpenCount;
    return instance;
}
