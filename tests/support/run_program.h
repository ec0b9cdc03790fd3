// Runs a program of the build from a test (both under Wine) and waits for its exit code.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

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

// What KivRunProgram returns for a program that did not start, and for one it
// stopped at its time limit; either also fails the running test, saying which.
const int kKivProgramNotStarted = -1;
const int kKivProgramStopped = -2;

// The program's exit code. A program that outlasts the limit is ended there
// (a test waiting on a hung child would otherwise only see a number).
// With an output handle, the program's standard output and error go there.
inline int KivRunProgram(const std::string &unixPath, const std::string &arguments, DWORD limitMs = 120000,
                         HANDLE output = nullptr)
{
    std::string line = "\"" + KivWinePath(unixPath) + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (output) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = si.hStdError = output;
    }
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "could not start " << line << " (error " << GetLastError() << ")";
        return kKivProgramNotStarted;
    }
    DWORD code = static_cast<DWORD>(kKivProgramStopped);
    if (WaitForSingleObject(pi.hProcess, limitMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 10000);
        ADD_FAILURE() << line << " was stopped at its time limit of " << limitMs / 1000.0 << " s";
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

// As KivRunProgram, with what the program printed (standard output and error) in *printed.
inline int KivRunProgramPrinting(const std::string &unixPath, const std::string &arguments, std::string *printed,
                                 DWORD limitMs = 120000)
{
    char folder[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "out", 0, name);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    printed->clear();
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no file for what " << unixPath << " prints (error " << GetLastError() << ")";
        return kKivProgramNotStarted;
    }
    const int code = KivRunProgram(unixPath, arguments, limitMs, file);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        printed->append(buffer, read);
    }
    CloseHandle(file);
    return code;
}
