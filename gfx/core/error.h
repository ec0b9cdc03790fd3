// The error module: keeps the first error raised until somebody reads it.
#pragma once

#include "rwtypes.h"

struct RwError {
    RwInt32 pluginID;
    RwInt32 errorCode;
};
static_assert(sizeof(RwError) == 8, "error record is two words");

// Common codes (plug-in id 0 when stored).
enum : RwUInt32 {
    E_RW_NOERROR = 0x80000000u,
    E_RW_BADOPEN = 0x80000001u,      // engine not in the state the call needs
    E_RW_BADVERSION = 0x80000004u,   // chunk version out of range
    E_RW_NOMEM = 0x80000013u,        // out of memory
    E_RW_NULLP = 0x80000016u,        // NULL argument
    E_RW_PLUGININIT = 0x80000017u,   // registration refused
    E_RW_READ = 0x8000001Au,         // chunk missing or short read
    E_RW_NONFINITE = 0x80000020u,    // a real read from a stream is infinite or not a number
};
// Library-module error codes (with plug-in id 1).
enum : RwInt32 {
    E_RW_RESOURCES_FULL = 12,        // resources arena cannot hold an entry
    E_RW_DEVICEERROR = 0x18,         // the driver refused a request without fall-back
};

// Stores the record unless an error is already held. A code with bit 31 set
// is a common code and is stored with plug-in id 0. Returns the argument.
RwError *RwErrorSet(RwError *code);
// Hands out the held record and restores the idle one (0, 0x80000000).
RwError *RwErrorGet(RwError *code);
// The same, for callers that take the record by value.
RwError RwErrorGet(void);
inline RwError RwErrorGetLast(void) { return RwErrorGet(); }
// Returns code; the remaining arguments (a message and its values) are not kept.
RwInt32 RwErrorMakeCode(RwInt32 code, ...);

// Shorthand for the common "raise (id, code)" pattern.
inline void RwErrorRaise(RwInt32 pluginID, RwUInt32 code)
{
    RwError e = {pluginID, static_cast<RwInt32>(code)};
    RwErrorSet(&e);
}

