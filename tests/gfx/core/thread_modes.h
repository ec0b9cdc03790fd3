// Work run as the engine's two threads run it: on the main thread, with tiny
// results flushed to zero as the engine's start sets it there, and on a
// thread of its own in the default mode, as the loading thread.
#pragma once

#include <windows.h>
#include <xmmintrin.h>
#undef far   // the old pointer qualifiers are names of values in the tests
#undef near

template <class Work>
DWORD WINAPI RunWork(void *work)
{
    static_cast<Work *>(work)->Run();
    return 0;
}

// onMain->Run() here, onLoader->Run() on a new thread; FALSE when no thread starts.
template <class Work>
bool RunOnMainAndLoadingThreads(Work *onMain, Work *onLoader)
{
    const unsigned int csr = _mm_getcsr();
    _mm_setcsr(csr | _MM_FLUSH_ZERO_ON);
    onMain->Run();
    _mm_setcsr(csr);
    HANDLE thread = CreateThread(nullptr, 0, RunWork<Work>, onLoader, 0, nullptr);
    if (!thread)
        return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
}
