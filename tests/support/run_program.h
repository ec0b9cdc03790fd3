// Runs a program of the build from a test (both under Wine) and waits for its exit code.
#pragma once

#include <windows.h>

#include <string>

// A path of the build tree, as CMake spells it, the way Wine names it.
inline std::string KivWinePath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

// The program's exit code, or -1 when it does not start or outlasts the limit.
inline int KivRunProgram(const std::string &unixPath, const std::string &arguments, DWORD limitMs = 120000)
{
    std::string line = "\"" + KivWinePath(unixPath) + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, limitMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
