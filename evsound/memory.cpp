// Counted allocation of the sound layer, with a failure switch for tests.
#include <cstdlib>

#include "evsound/internal.h"

static int32_t evsLive = 0;
static int32_t evsFailAfter = -1;

void *evsAlloc(size_t size)
{
    if (evsFailAfter == 0) {
        return NULL;
    }
    void *block = calloc(1, size ? size : 1);
    if (block) {
        ++evsLive;
        if (evsFailAfter > 0) {
            --evsFailAfter;
        }
    }
    return block;
}

void evsFree(void *block)
{
    if (block) {
        --evsLive;
        free(block);
    }
}

int32_t EvsLiveBlocks(void)
{
    return evsLive;
}

void EvsFailAllocationsAfter(int32_t count)
{
    evsFailAfter = count;
}
