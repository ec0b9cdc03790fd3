// The calls by which the packed archive changes its file, all behind one seam.
#pragma once

#include <windows.h>

enum ParcelIoCall {
    PARCEL_IO_WRITE = 1,
    PARCEL_IO_SET_END = 2,
    PARCEL_IO_FLUSH = 3,
};

// Called before every write, end-of-file change and flush of the archive file
// with what the call is about to do (buffer and count only for writes). A
// FALSE answer makes the call fail without reaching the file. A test installs
// one to make the Nth call fail or to end the process there; nothing else does.
typedef BOOL (*ParcelIoHook)(void *context, ParcelIoCall call, HANDLE file, const void *buffer, DWORD count);

// Null removes the hook. Not for use while another thread writes an archive.
void ParcelSetIoHook(ParcelIoHook hook, void *context);

// WriteFile, SetEndOfFile and FlushFileBuffers on the archive file.
BOOL ParcelIoWrite(HANDLE file, const void *buffer, DWORD count, DWORD *written);
BOOL ParcelIoSetEnd(HANDLE file);
BOOL ParcelIoFlush(HANDLE file);
