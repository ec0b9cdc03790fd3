// Runs a program of the build from a test (both under Wine) and waits for its exit code.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

// A path of the build tree, as CMake spells it (UTF-8), the way Wine names it
// to the ...A calls: in the system code page, so that a checkout under a
// folder with a Korean name is found. A path the code page cannot hold fails
// the running test, naming it (the commands refuse such a checkout first).
inline std::string KivWinePath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    const int length = static_cast<int>(path.size());
    const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    BOOL lossy = FALSE;
    int narrowLength = 0;
    if (wideLength > 0 && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, &wide[0], wideLength)) {
        narrowLength = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, nullptr,
                                           &lossy);
    }
    if (narrowLength <= 0 || lossy) {
        ADD_FAILURE() << "the path " << unixPath << " cannot be written in the system code page " << GetACP();
        return path;
    }
    std::string narrow(static_cast<size_t>(narrowLength), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, &narrow[0], narrowLength, nullptr,
                        nullptr);
    return narrow;
}

// Text in the code page (a path from KivWinePath) as our programs print it
// into a file or a pipe: UTF-8.
inline std::string KivPrinted(const std::string &codePageText)
{
    const int length = static_cast<int>(codePageText.size());
    std::wstring wide(codePageText.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, codePageText.data(), length, &wide[0], length)));
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                        &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr)));
    return utf8;
}

// What KivRunProgram returns for a program that did not start, and for one it
// stopped at its time limit; either also fails the running test, saying which.
const int kKivProgramNotStarted = -1;
const int kKivProgramStopped = -2;

// The program's exit code. A program that outlasts the limit is ended there
// (a test waiting on a hung child would otherwise only see a number).
// With an output handle, the program's standard output and error go there.
// The arguments are in the code page, as the ...A calls take them, or wide:
// a name the code page cannot hold reaches the program only that way.
inline int KivRunProgram(const std::string &unixPath, const std::wstring &arguments, DWORD limitMs = 120000,
                         HANDLE output = nullptr)
{
    const std::string program = "\"" + KivWinePath(unixPath) + "\" ";
    std::wstring line(program.size(), L'\0');
    line.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, program.data(), static_cast<int>(program.size()),
                                                        &line[0], static_cast<int>(line.size()))));
    line += arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (output) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = si.hStdError = output;
    }
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "could not start " << program << " (error " << GetLastError() << ")";
        return kKivProgramNotStarted;
    }
    DWORD code = static_cast<DWORD>(kKivProgramStopped);
    if (WaitForSingleObject(pi.hProcess, limitMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 10000);
        ADD_FAILURE() << program << "was stopped at its time limit of " << limitMs / 1000.0 << " s";
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

inline int KivRunProgram(const std::string &unixPath, const std::string &arguments, DWORD limitMs = 120000,
                         HANDLE output = nullptr)
{
    std::wstring wide(arguments.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, arguments.data(), static_cast<int>(arguments.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return KivRunProgram(unixPath, wide, limitMs, output);
}

// As KivRunProgram, with what the program printed (standard output and error) in *printed.
template <typename Arguments>
int KivRunProgramPrinting(const std::string &unixPath, const Arguments &arguments, std::string *printed,
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
