// Whole-file reads through an archive object, the way every engine load reads.
#include "engine/KivFileRead.h"

#include <new>

#include "archive/CParcelBase.h"

KivReadStatus KivReadWholeFile(CParcelBase *parcel, const char *name, std::unique_ptr<unsigned char[]> &bytes,
                               DWORD *size)
{
    bytes.reset();
    *size = 0;
    if (!parcel || !name)
        return kKivReadMissing;
    HANDLE file = parcel->CreateFile(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kKivReadMissing;
    const DWORD length = parcel->GetFileSize(file, nullptr);
    DWORD read = 0;
    // INVALID_FILE_SIZE is a failed size query, never a length to allocate.
    if (length != INVALID_FILE_SIZE)
        bytes.reset(new (std::nothrow) unsigned char[length ? length : 1]);
    const bool ok = bytes && parcel->ReadFile(file, bytes.get(), length, &read, nullptr);
    parcel->CloseHandle(file);
    // A short read is a file that changed or broke under us: never half a file.
    if (!ok || read != length) {
        bytes.reset();
        return kKivReadFailed;
    }
    *size = read;
    return kKivReadOk;
}
