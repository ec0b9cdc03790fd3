// The first line of every benchmark: the Direct3D mode it ran with. The build's
// player prefix (where scripts/wine-run.sh runs the benchmarks) keeps Wine's
// default, the device's work on a thread of Wine's own as a player's Wine has
// it; the tests' prefix runs it on the calling thread (csmt=0), where every
// figure of a device benchmark includes the device's work.
#pragma once

#include <windows.h>

#include <cstdio>

inline void KivBenchSayDirect3DMode(bool usesDevice)
{
    if (!usesDevice) {
        std::printf("Direct3D: none (this benchmark opens no device)\n");
        return;
    }
    DWORD csmt = 1, size = sizeof csmt;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Direct3D", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, "csmt", nullptr, nullptr, reinterpret_cast<BYTE *>(&csmt), &size) != ERROR_SUCCESS)
            csmt = 1;
        RegCloseKey(key);
    }
    std::printf(csmt ? "Direct3D: Wine's default mode (the device's work on Wine's command-stream thread)\n"
                     : "Direct3D: on the calling thread (csmt=0): the device's work is timed with the engine's\n");
    std::fflush(stdout);
}
