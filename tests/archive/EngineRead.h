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

// A whole file written the way a tool writes one into an archive: CreateFile
// with CREATE_ALWAYS, SetFileSize, one WriteFile and CloseHandle; whether
// every byte went in.
inline bool WriteWhole(CParcelBase &parcel, const std::string &name, const std::string &data)
{
    HANDLE h = parcel.CreateFile(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    parcel.SetFileSize(h, (DWORD)data.size(), 0);
    DWORD done = 0;
    const BOOL ok = parcel.WriteFile(h, data.data(), (DWORD)data.size(), &done, nullptr);
    parcel.CloseHandle(h);
    return ok && done == data.size();
}
