// Stand-ins for the device part of the toon plug-in: counted pipeline builds and a render callback that only counts.
#include "gfx/plugins/toon/toon.h"
#include "toon_standin.h"

RwInt32 toonStandInCreates = 0;
RwInt32 toonStandInDestroys = 0;
RwInt32 toonStandInRenders = 0;

RwBool RwToonPipelinesCreate(void)
{
    ++toonStandInCreates;
    return TRUE;
}

RwBool RwToonPipelinesDestroy(void)
{
    ++toonStandInDestroys;
    return TRUE;
}

RwAtomic *RwToonAtomicRenderCallBack(RwAtomic *atomic)
{
    ++toonStandInRenders;
    return atomic;
}
