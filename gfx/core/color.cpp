// The colour module: registered with the core modules, it keeps no state.
#include "modules.h"

static RwInt32 colorModuleOpenCount = 0;

void *RwColorModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    ++colorModuleOpenCount;
    return instance;
}

void *RwColorModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    --colorModuleOpenCount;
    return instance;
}
