// The engine's recursive render lock held for a scope: every engine load takes it, on any thread.
#pragma once

#include "engine/CKivBase.h"

// Lock order: the render lock, then the texture loader's lock.
class EngineLock
{
public:
    EngineLock() : m_base(CKivBase::GetInstance())
    {
        if (m_base)
            m_base->Lock();
    }
    ~EngineLock()
    {
        if (m_base)
            m_base->Unlock();
    }
    EngineLock(const EngineLock &) = delete;
    EngineLock &operator=(const EngineLock &) = delete;

private:
    CKivBase *m_base;
};
