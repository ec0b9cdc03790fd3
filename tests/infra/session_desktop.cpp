// Holds the desktop of a test session. Wine starts its desktop process with the
// first program that needs the desktop, hands it that program's error stream,
// and closes it about a second after the last program on the desktop ends: a
// test program that started it would have its output held open for the
// desktop's whole life, and the test run would wait for that output to end.
// scripts/wine-session.sh runs this program, its output going nowhere, when a
// session starts: it brings the desktop up and leaves a copy of itself on it
// until the session's server ends, so no test program ever starts the desktop.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const wchar_t kHeld[] = L"kiv-session-desktop-held";

[[noreturn]] void Hold()
{
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, kHeld);
    if (!held || !GetDesktopWindow()) {
        ExitProcess(1);
    }
    SetEvent(held);
    CloseHandle(held);
    for (;;) {
        Sleep(INFINITE);
    }
}

bool DesktopIsUp()
{
    const HWND desktop = GetDesktopWindow();
    DWORD owner = 0;
    GetWindowThreadProcessId(desktop, &owner);
    return desktop && owner != 0 && owner != GetCurrentProcessId();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--hold") == 0) {
        Hold();
    }
    if (!DesktopIsUp()) {
        std::fprintf(stderr, "session desktop: the desktop process did not start\n");
        return 1;
    }
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, kHeld);
    std::string line = "\"" + std::string(self, n) + "\" --hold";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!held || n == 0 || n == MAX_PATH ||
        !CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        if (held) {
            CloseHandle(held);
        }
        std::fprintf(stderr, "session desktop: cannot start the holder\n");
        return 1;
    }
    // The copy is on the desktop once it says so; ended, it could not hold it.
    HANDLE ends[2] = {held, pi.hProcess};
    const DWORD waited = WaitForMultipleObjects(2, ends, FALSE, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(held);
    if (waited != WAIT_OBJECT_0) {
        std::fprintf(stderr, "session desktop: the holder did not stay on the desktop\n");
        return 1;
    }
    return 0;
}
