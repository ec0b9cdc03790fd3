// The queue of transparent atomics met during a world render, drawn afterwards farthest first.
#include "engine/CKivAlphaManager.h"

#include <cstdint>
#include <new>

#include "engine/KivRenderState.h"
#include "engine/KivUserData.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"

// Particles are drawn with their emitter's own blend settings, not the
// render states: the emitters are told to take this blend from outside.
static void BlendEmitters(RwParticleEmitter *emitter, RwInt32 destBlend)
{
    for (; emitter; emitter = emitter->next) {
        const RwInt32 offset = RwParticlePropertyTableGetOffset(emitter->propertyTable, rwPARTICLEPROPERTYRENDER);
        if (offset < 0)
            continue;
        auto *settings = reinterpret_cast<RwParticleRenderSettings *>(reinterpret_cast<uintptr_t>(emitter) + offset);
        settings->externalBlend = TRUE;
        settings->srcBlend = 5;
        settings->destBlend = destBlend;
        settings->flags |= rwPARTICLERENDERCHANGED;
    }
}

int CKivAlphaManager::Add(RwAtomic *atomic, float distance)
{
    // Called from inside the library's world render: with memory used up the
    // atomic misses this frame rather than an exception crossing the library.
    try {
        m_queue.emplace(-distance, atomic);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

void CKivAlphaManager::Render(int depthTest)
{
    KivSetState(rwRENDERSTATEZTESTENABLE, depthTest);
    // Taken out first: a callback may queue again.
    std::multimap<float, RwAtomic *> queue;
    queue.swap(m_queue);
    for (const auto &entry : queue) {
        RwAtomic *atomic = entry.second;
        if (!atomic || !atomic->geometry)
            continue;
        const RwUserDataArray *array = KivGeometryFindIntArray(atomic->geometry, "render", 2, nullptr);
        if (!array)
            continue;
        const RwUInt32 destBlend = (RwUserDataArrayGetElement(array, 1) & 1) ? 2 : 6;
        if (RwParticleEmitter *emitters = RwParticleAtomicGetEmitter(atomic)) {
            BlendEmitters(emitters, destBlend);
        } else {
            KivSetState(rwRENDERSTATESRCBLEND, 5);
            KivSetState(rwRENDERSTATEDESTBLEND, destBlend);
        }
        KivRenderCallBackFromIndex(RwUserDataArrayGetElement(array, 0))(atomic);
    }
    KivSetState(rwRENDERSTATESRCBLEND, 5);
    KivSetState(rwRENDERSTATEDESTBLEND, 6);
    if (!depthTest)
        KivSetState(rwRENDERSTATEZTESTENABLE, 1);
}
