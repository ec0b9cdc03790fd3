// The queue of transparent atomics met during a world render, drawn afterwards farthest first.
#include "engine/CKivAlphaManager.h"

#include <cstdint>

#include "engine/KivUserData.h"
#include "gfx/core/renderstate.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/world/clump.h"

static void SetState(RwInt32 state, RwUInt32 value)
{
    RwRenderStateSet(state, reinterpret_cast<void *>(static_cast<uintptr_t>(value)));
}

int CKivAlphaManager::Add(RwAtomic *atomic, float distance)
{
    m_queue.emplace(-distance, atomic);
    return 1;
}

void CKivAlphaManager::Render(int depthTest)
{
    SetState(rwRENDERSTATEZTESTENABLE, depthTest);
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
        const RwUInt32 flags = RwUserDataArrayGetElement(array, 1);
        SetState(rwRENDERSTATESRCBLEND, 5);
        SetState(rwRENDERSTATEDESTBLEND, (flags & 1) ? 2 : 6);
        KivRenderCallBackFromIndex(RwUserDataArrayGetElement(array, 0))(atomic);
    }
    SetState(rwRENDERSTATESRCBLEND, 5);
    SetState(rwRENDERSTATEDESTBLEND, 6);
    if (!depthTest)
        SetState(rwRENDERSTATEZTESTENABLE, 1);
}
