// The engine's file systems: the working directory ("unc") and one per drive letter from B:.
#include "engine/KivFileSystems.h"

#include <windows.h>

#include <cstring>

#include "gfx/core/filesys.h"
#include "gfx/core/win32filesys.h"

namespace {

const int kOpenFileSlots = 20;

int Mount(const char *prefix, const char *name)
{
    RwFileSystem *fs = RwWin32FileSystemCreate(kOpenFileSlots, prefix, name);
    return fs && RwFileSystemRegister(fs) ? 1 : 0;
}

} // namespace

int KivGetWorkingDirectory(char *out, size_t outSize)
{
    if (outSize < kKivWorkingDirSize)
        return 0;
    char dir[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, dir);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    memcpy(out, dir, length);
    size_t n = length;
    if (out[n - 1] != '\\')
        out[n++] = '\\';
    out[n] = 0;
    return 1;
}

const char *KivDefaultFileSystemName(const char *workingDir, unsigned long drives, char letterName[2])
{
    if (!workingDir || !workingDir[0] || workingDir[1] != ':')
        return "unc";
    char letter = workingDir[0];
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'B' || letter > 'Z' || !(drives & (1ul << (letter - 'A'))))
        return "unc";
    letterName[0] = letter;
    letterName[1] = 0;
    return letterName;
}

int KivInstallFileSystems(const char *root, unsigned long drives)
{
    if (!Mount(root, "unc"))
        return 0;
    for (int d = 1; d < 26; d++) {
        if (!(drives & (1ul << d)))
            continue;
        const char prefix[3] = {static_cast<char>('A' + d), ':', 0};
        const char name[2] = {prefix[0], 0};
        if (!Mount(prefix, name))
            return 0;
    }
    char letter[2];
    RwFileSystem *fs = RwFileSystemFindByName(KivDefaultFileSystemName(root, drives, letter));
    return fs && RwFileSystemSetDefault(fs) ? 1 : 0;
}
