// Tiny general-purpose routines that the library installs as callbacks.
#include "engine.h"

RwBool RwReturnTrue(...)
{
    return TRUE;
}

RwBool RwReturnZero(...)
{
    return 0;
}

void RwDoNothing(...)
{
}

RwUInt32 RwGetThirdWord(const void *record)
{
    return static_cast<const RwUInt32 *>(record)[2];
}
