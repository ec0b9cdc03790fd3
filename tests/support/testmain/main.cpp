// The test programs' entry: each works in its own folder of the build tree, however it was started,
// and ends with its result however busy the machine is.
#include <windows.h>

#include <cstdio>
#include <process.h>
#include <string>

#include <gtest/gtest.h>

namespace {

int RunTests(int argc, char **argv)
{
    // What the tests and the engine write to the working folder (logs, skins,
    // scratch trees) stays beside the program, never where it was started from.
    // Wide calls: the build tree's path may hold letters of any language.
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::wstring folder(path, n);
        folder.resize(folder.find_last_of(L"\\/") + 1);
        if (!SetCurrentDirectoryW(folder.c_str())) {
            std::fprintf(stderr, "cannot work in %ls\n", folder.c_str());
            return 1;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// A program that returns from main under Wine first closes its connection to
// the wineserver and only then runs the Unix libraries' exit handlers (the GL
// driver joins its threads there). The server kills the Unix process when that
// takes longer than about half a second, as it does on a busy machine, and the
// test run sees a killed program instead of the result. Ending itself with
// TerminateProcess leaves nothing after the connection closes: Wine leaves at
// once with the code. The C runtime's own exit work runs first, as it would on
// return: _cexit runs the atexit functions and static destructors, and the
// streams still open are flushed after them, since Wine's runtime flushes them
// only when it is unloaded, which TerminateProcess skips.
//
// Some crashes end a program with status 0 all the same (seen with a stack
// overflow inside the system's code: the process ends at once, with no
// exception to see): the code is also written where KIV_END_MARK names, so
// that the command that started the program can tell an end from a crash.
// The mark lies in the build tree's prefix, whose path may hold letters of any
// language: wide calls.
wchar_t endMark[MAX_PATH];

// Taken out of the environment, so that a program this one starts cannot mark
// this one's end.
void TakeEndMark()
{
    const DWORD n = GetEnvironmentVariableW(L"KIV_END_MARK", endMark, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        endMark[0] = L'\0';
    SetEnvironmentVariableW(L"KIV_END_MARK", nullptr);
}

[[noreturn]] void EndWith(int code)
{
    _cexit();
    std::fflush(nullptr);
    if (endMark[0]) {
        HANDLE file = CreateFileW(endMark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const std::string text = std::to_string(code);
            DWORD written;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace

int main(int argc, char **argv)
{
    TakeEndMark();
    EndWith(RunTests(argc, argv));
}
