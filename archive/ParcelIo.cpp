// The calls by which the packed archive changes its file, all behind one seam.
#include "archive/ParcelIo.h"

static ParcelIoHook s_hook;
static void *s_context;

void ParcelSetIoHook(ParcelIoHook hook, void *context)
{
    s_hook = hook;
    s_context = hook ? context : nullptr;
}

static BOOL Allowed(ParcelIoCall call, HANDLE file, const void *buffer, DWORD count)
{
    if (!s_hook || s_hook(s_context, call, file, buffer, count))
        return TRUE;
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
}

BOOL ParcelIoWrite(HANDLE file, const void *buffer, DWORD count, DWORD *written)
{
    if (written)
        *written = 0;
    if (!Allowed(PARCEL_IO_WRITE, file, buffer, count))
        return FALSE;
    return ::WriteFile(file, buffer, count, written, nullptr);
}

BOOL ParcelIoSetEnd(HANDLE file)
{
    return Allowed(PARCEL_IO_SET_END, file, nullptr, 0) && ::SetEndOfFile(file);
}

BOOL ParcelIoFlush(HANDLE file)
{
    return Allowed(PARCEL_IO_FLUSH, file, nullptr, 0) && ::FlushFileBuffers(file);
}
