// Critical section that serialises packed-mode access to one archive object.
#pragma once

#include <windows.h>

class CParcelLock {
public:
    CParcelLock() { InitializeCriticalSection(&m_section); }
    ~CParcelLock() { DeleteCriticalSection(&m_section); }
    CParcelLock(const CParcelLock &) = delete;
    CParcelLock &operator=(const CParcelLock &) = delete;

    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }

    // Held for one scope; the section is recursive, so operations that call
    // other operations through the virtual slots may nest.
    class Scope {
    public:
        explicit Scope(CParcelLock &lock) : m_lock(lock) { m_lock.Enter(); }
        ~Scope() { m_lock.Leave(); }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        CParcelLock &m_lock;
    };

private:
    CRITICAL_SECTION m_section;
};
