// A clump's behaviours by exact (case-sensitive) name.
#include "engine/CKivBehaviorManager.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/CKivBehavior.h"

CKivBehaviorManager::~CKivBehaviorManager()
{
    for (auto &entry : m_behaviors)
        delete entry.second;
}

CKivBehavior *CKivBehaviorManager::CreateBehavior(const char *name, int soundIndex)
{
    if (!name)
        return nullptr;
    // The names are strings: memory can run out in the behaviour's own or in
    // the map's, and either way nothing is left behind.
    std::unique_ptr<CKivBehavior> behavior;
    try {
        behavior.reset(new CKivBehavior(name, soundIndex));
        if (std::strcmp(behavior->GetName(), name))
            return nullptr;
        m_behaviors.emplace(name, behavior.get());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return behavior.release();
}

int CKivBehaviorManager::AddBehavior(CKivBehavior *behavior)
{
    if (!behavior)
        return 0;
    try {
        return m_behaviors.emplace(behavior->GetName(), behavior).second ? 1 : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

CKivBehavior *CKivBehaviorManager::FindBehavior(const char *name) const
{
    if (!name)
        return nullptr;
    auto found = m_behaviors.find(name);
    return found == m_behaviors.end() ? nullptr : found->second;
}

float CKivBehaviorManager::GetBehaviorDuration(const char *name) const
{
    const CKivBehavior *behavior = FindBehavior(name);
    return behavior ? behavior->GetDuration() : 0.0f;
}
