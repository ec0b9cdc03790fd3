// Makes the next Lock of one vertex buffer fail, as a busy or lost device may.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <cstring>

// The buffer wears a copy of its method table whose Lock puts the buffer's
// own table back and fails, so the device sees its own table again at once.
namespace failnextlock {
enum { kLock = 11, kMethods = 14 };
inline void **original = nullptr;
inline void *table[kMethods];

inline void **&TableOf(IDirect3DVertexBuffer9 *buffer)
{
    return *reinterpret_cast<void ***>(buffer);
}

inline HRESULT STDMETHODCALLTYPE Lock(IDirect3DVertexBuffer9 *self, UINT, UINT, void **, DWORD)
{
    TableOf(self) = original;
    return D3DERR_INVALIDCALL;
}
}  // namespace failnextlock

inline void FailNextLock(IDirect3DVertexBuffer9 *buffer)
{
    failnextlock::original = failnextlock::TableOf(buffer);
    std::memcpy(failnextlock::table, failnextlock::original, sizeof failnextlock::table);
    failnextlock::table[failnextlock::kLock] = reinterpret_cast<void *>(&failnextlock::Lock);
    failnextlock::TableOf(buffer) = failnextlock::table;
}

// TRUE once the failing Lock has run; a buffer not locked gets its own table back here.
inline bool LockFailed(IDirect3DVertexBuffer9 *buffer)
{
    const bool ran = failnextlock::TableOf(buffer) == failnextlock::original;
    failnextlock::TableOf(buffer) = failnextlock::original;
    return ran;
}
