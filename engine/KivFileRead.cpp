// Whole-file reads through an archive object, the way every engine load reads.
#include "engine/KivFileRead.h"

#include <new>

#include "archive/CParcelBase.h"

namespace {

// The whole file into buffer. A packed archive answers a read at an
// entry's end with FALSE, so an empty file is not read at all: it is whole
// with its 0 bytes.
bool ReadAll(CParcelBase *parcel, HANDLE file, void *buffer, DWORD length)
{
    DWORD read = 0;
    // A short read is a file that changed or broke under us: never half a file.
    return length == 0 || (parcel->ReadFile(file, buffer, length, &read, nullptr) && read == length);
}

KivReadStatus ReadOpened(CParcelBase *parcel, HANDLE file, std::unique_ptr<unsigned char[]> &bytes, DWORD *size)
{
    const DWORD length = parcel->GetFileSize(file, nullptr);
    // INVALID_FILE_SIZE is a failed size query, never a length to allocate.
    if (length != INVALID_FILE_SIZE)
        bytes.reset(new (std::nothrow) unsigned char[length ? length : 1]);
    if (!bytes || !ReadAll(parcel, file, bytes.get(), length))
        return kKivReadFailed;
    *size = length;
    return kKivReadOk;
}

// The file opened, read and closed. The archive keeps its names and tables
// in standard containers. Memory running out inside it is a failed read
// here: the engine's loads run inside the library's callbacks and under the
// render lock, which an exception would cross and leave held.
template <typename Read>
KivReadStatus ReadThrough(CParcelBase *parcel, const char *name, Read read)
{
    if (!parcel || !name)
        return kKivReadMissing;
    HANDLE file = INVALID_HANDLE_VALUE;
    try {
        file = parcel->CreateFile(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    } catch (const std::bad_alloc &) {
        return kKivReadFailed;
    }
    // The archive reports memory that ran out through the last error.
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? kKivReadFailed : kKivReadMissing;
    KivReadStatus status = kKivReadFailed;
    try {
        status = read(file);
    } catch (const std::bad_alloc &) {
        status = kKivReadFailed;
    }
    try {
        parcel->CloseHandle(file);
    } catch (const std::bad_alloc &) {
    }
    return status;
}

} // namespace

KivReadStatus KivReadWholeFile(CParcelBase *parcel, const char *name, std::unique_ptr<unsigned char[]> &bytes,
                               DWORD *size)
{
    const KivReadStatus status =
        ReadThrough(parcel, name, [&](HANDLE file) { return ReadOpened(parcel, file, bytes, size); });
    if (status != kKivReadOk) {
        bytes.reset();
        *size = 0;
    }
    return status;
}

KivReadStatus KivReadFileInto(CParcelBase *parcel, const char *name, void *buffer, DWORD capacity, DWORD *size)
{
    *size = 0;
    return ReadThrough(parcel, name, [&](HANDLE file) {
        const DWORD length = parcel->GetFileSize(file, nullptr);
        if (length == INVALID_FILE_SIZE || (buffer && (length > capacity || !ReadAll(parcel, file, buffer, length))))
            return kKivReadFailed;
        *size = length;
        return kKivReadOk;
    });
}
