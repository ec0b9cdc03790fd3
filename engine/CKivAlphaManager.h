// The queue of transparent atomics met during a world render, drawn afterwards farthest first.
#pragma once

#include <cstddef>
#include <map>

struct RwAtomic;

class CKivAlphaManager
{
public:
    CKivAlphaManager() = default;
    virtual ~CKivAlphaManager() = default;

    // Queues the atomic at its squared distance; equal distances keep their order.
    // 1, or 0 when the queue could not grow.
    int Add(RwAtomic *atomic, float distance);
    // Draws and empties the queue, depth test as the flag says.
    void Render(int depthTest);
    // Drops what a pass that did not run left behind.
    void Clear() { m_queue.clear(); }
    size_t GetCount() const { return m_queue.size(); }

private:
    std::multimap<float, RwAtomic *> m_queue;   // key: minus the distance
};
