// Helpers for writing the sample tree: files below a folder and hand-assembled chunks.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

// The folders on the way to a file ('/' separated).
inline void KivSampleMakeFolders(const std::string &path)
{
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
        CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
}

inline bool KivSampleWrite(const std::string &path, const void *bytes, size_t size)
{
    KivSampleMakeFolders(path);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(bytes, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

inline bool KivSampleWrite(const std::string &path, const std::string &bytes)
{
    return KivSampleWrite(path, bytes.data(), bytes.size());
}

// Little-endian words and reals for hand-assembled streams.
inline void PutU32(std::string &s, unsigned v)
{
    for (int i = 0; i < 4; i++)
        s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void PutF32(std::string &s, float f)
{
    unsigned v;
    memcpy(&v, &f, 4);
    PutU32(s, v);
}
// A chunk header stamped with library version 0x37002, build 0x55.
inline std::string Chunk(unsigned type, const std::string &body)
{
    std::string s;
    PutU32(s, type);
    PutU32(s, static_cast<unsigned>(body.size()));
    PutU32(s, 0x1C020055);
    return s + body;
}
