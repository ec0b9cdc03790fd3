// Whole-file reads through an archive object, the way every engine load reads.
#include "engine/KivFileRead.h"

#include <new>

#include "archive/CParcelBase.h"

namespace {

KivReadStatus ReadOpened(CParcelBase *parcel, HANDLE file, std::unique_ptr<unsigned char[]> &bytes, DWORD *size)
{
    const DWORD length = parcel->GetFileSize(file, nullptr);
    DWORD read = 0;
    // INVALID_FILE_SIZE is a failed size query, never a length to allocate.
    if (length != INVALID_FILE_SIZE)
        bytes.reset(new (std::nothrow) unsigned char[length ? length : 1]);
    // A short read is a file that changed or broke under us: never half a file.
    if (!bytes || !parcel->ReadFile(file, bytes.get(), length, &read, nullptr) || read != length)
        return kKivReadFailed;
    *size = read;
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
