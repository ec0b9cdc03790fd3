// Random numbers: the engine plug-in that owns the generator, its seeding at engine start and the draw.
#include "random.h"

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"

static RwInt32 randomOffset = -1;

static RwRandomState *State(void *instance, RwInt32 offset)
{
    return reinterpret_cast<RwRandomState *>(static_cast<RwUInt8 *>(instance) + offset);
}

const RwRandomState *RwRandomGetState(void)
{
    if (randomOffset < 0 || !RwEngineInstance || RwEngineGetStatus() < rwENGINESTATUSSTARTED) {
        return nullptr;
    }
    const RwRandomState *s = State(RwEngineInstance, randomOffset);
    return s->table ? s : nullptr;
}

static RwUInt32 Draw(RwRandomState *s)
{
    *s->front += *s->rear;
    const RwUInt32 result = *s->front >> 1;
    if (++s->front == s->end) {
        s->front = s->table;
        ++s->rear;
    } else if (++s->rear == s->end) {
        s->rear = s->table;
    }
    return result;
}

RwUInt32 RwRandomDraw(void)
{
    RwRandomState *s = const_cast<RwRandomState *>(RwRandomGetState());
    return s ? Draw(s) : 0;
}

void *RwRandomPluginOpen(void *instance, RwInt32 offset, RwInt32)
{
    RwRandomState *s = State(instance, offset);
    s->table = static_cast<RwUInt32 *>(RwMalloc(rwRANDOMTABLESIZE * sizeof(RwUInt32), rwRANDOMTABLEHINT));
    if (!s->table) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    s->end = s->table + rwRANDOMTABLESIZE;
    s->table[0] = rwRANDOMSEED;
    for (RwUInt32 i = 1; i < rwRANDOMTABLESIZE; ++i) {
        s->table[i] = s->table[i - 1] * 0x41C64E6Du + 0x3039u;
    }
    s->front = s->table + rwRANDOMLAG;
    s->rear = s->table;
    for (RwUInt32 i = 0; i < rwRANDOMWARMUP; ++i) {
        Draw(s);
    }
    return instance;
}

void *RwRandomPluginClose(void *instance, RwInt32 offset, RwInt32)
{
    RwRandomState *s = State(instance, offset);
    RwFree(s->table);
    s->table = s->front = s->rear = s->end = nullptr;
    return instance;
}

RwBool RwRandomPluginAttach(void)
{
    randomOffset = RwEngineRegisterPlugin(sizeof(RwRandomState), rwID_RANDOMPLUGIN, RwRandomPluginOpen,
                                          RwRandomPluginClose);
    return randomOffset >= 0;
}
