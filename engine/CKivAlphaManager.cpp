// The queue of transparent atomics met during a world render, drawn afterwards farthest first.
#include "engine/CKivAlphaManager.h"

#include <cstdint>

#include "engine/KivRenderState.h"
#include "engine/KivUserData.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/world/clump.h"

int CKivAlphaManager::Add(RwAtomic *atomic, float distance)
{
    m_queue.emplace(-distance, atomic);
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
        const RwUInt32 flags = RwUserDataArrayGetElement(array, 1);
        KivSetState(rwRENDERSTATESRCBLEND, 5);
        KivSetState(rwRENDERSTATEDESTBLEND, (flags & 1) ? 2 : 6);
        KivRenderCallBackFromIndex(RwUserDataArrayGetElement(array, 0))(atomic);
    }
    KivSetState(rwRENDERSTATESRCBLEND, 5);
    KivSetState(rwRENDERSTATEDESTBLEND, 6);
    if (!depthTest)
        KivSetState(rwRENDERSTATEZTESTENABLE, 1);
}
