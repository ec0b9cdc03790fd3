// Whole-file reads through an archive object, the way every engine load reads.
#pragma once

#include <windows.h>

#include <memory>

class CParcelBase;

enum KivReadStatus {
    kKivReadOk = 0,
    kKivReadMissing = 1,   // the file does not open
    kKivReadFailed = 2,    // it opened but its bytes could not all be had
};

// Reads the named file in one piece; size gets the bytes that arrived.
// With no archive the file counts as missing. An empty file reads as 0
// bytes in every mode.
KivReadStatus KivReadWholeFile(CParcelBase *parcel, const char *name, std::unique_ptr<unsigned char[]> &bytes,
                               DWORD *size);
// The same into the caller's buffer of capacity bytes, which must hold the
// whole file; with no buffer only the size is had.
KivReadStatus KivReadFileInto(CParcelBase *parcel, const char *name, void *buffer, DWORD capacity, DWORD *size);
