// Two tiny general-purpose routines that the core installs as callbacks.
#include "engine.h"

RwBool RwReturnTrue(...)
{
    return TRUE;
}

RwBool RwReturnZero(...)
{
    return 0;
}

RwUInt32 RwGetThirdWord(const void *record)
{
    return static_cast<const RwUInt32 *>(record)[2];
}
