// Reads a whole file the engine's way through an archive object.
#pragma once

#include <string>

#include "archive/CParcelBase.h"

// One CreateFile, one GetFileSize, one ReadFile and one CloseHandle; the
// bytes that arrived, or "<missing>" when the file does not open.
inline std::string ReadWhole(CParcelBase &parcel, const char *name)
{
    HANDLE h = parcel.CreateFile(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    DWORD high = 0;
    const DWORD size = parcel.GetFileSize(h, &high);
    std::string bytes(size, '\0');
    DWORD read = 0;
    parcel.ReadFile(h, size ? &bytes[0] : nullptr, size, &read, nullptr);
    if (!parcel.CloseHandle(h) || high != 0)
        return "<bad handle>";
    bytes.resize(read);
    return bytes;
}
