// The Wine prefix and locale the tests run in: Korean code page, Korean font
// names mapped to installed fonts, and crashes that end the program at once.
#include <windows.h>

#include <string>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "support/run_program.h"

namespace {

const wchar_t kDotum[] = L"\uB3CB\uC6C0";  // "돋움"

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

TEST(Locale, UsesKoreanCodePage)
{
    EXPECT_EQ(GetACP(), 949u);
    EXPECT_EQ(GetUserDefaultLCID(), LCID(0x0412));
    EXPECT_EQ(PRIMARYLANGID(GetSystemDefaultLangID()), LANG_KOREAN);
}

TEST(Locale, ConvertsCodePage949Text)
{
    const char dotum[] = "\xb5\xb8\xbf\xf2";
    wchar_t wide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, dotum, -1, wide, 8), 3);
    EXPECT_EQ(std::wstring(wide), kDotum);
}

TEST(Fonts, DotumIsReplacedByNanumGothic)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts\\Replacements", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    bool found = false;
    for (DWORD i = 0;; ++i) {
        wchar_t name[64], data[64];
        DWORD nameLength = 64, dataSize = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(data),
                          &dataSize) != ERROR_SUCCESS)
            break;
        if (std::wstring(name, nameLength) == kDotum) {
            found = true;
            EXPECT_EQ(type, DWORD(REG_SZ));
            EXPECT_EQ(std::wstring(data), L"NanumGothic");
        }
    }
    RegCloseKey(key);
    EXPECT_TRUE(found) << "no replacement for the Dotum face";
}

TEST(Fonts, DotumFaceHasHangulGlyphs)
{
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, HANGUL_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kDotum);
    ASSERT_NE(font, nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    WCHAR text[2] = {0xD55C, 0xAE00};  // "한글"
    WORD glyphs[2] = {};
    EXPECT_EQ(GetGlyphIndicesW(dc, text, 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS), 2u);
    EXPECT_NE(glyphs[0], 0xFFFF);
    EXPECT_NE(glyphs[1], 0xFFFF);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
}

// A crash starts no debugger: one that races the crashing program can end it
// with a Unix status of 0, and the test run would count a crash as a pass
// (infra_endings checks the status itself under load).
TEST(Crash, StartsNoDebugger)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    wchar_t debugger[256] = {};
    DWORD size = sizeof debugger - sizeof debugger[0], type = 0;
    const LONG found = RegQueryValueExW(key, L"Debugger", nullptr, &type, reinterpret_cast<BYTE *>(debugger), &size);
    RegCloseKey(key);
    ASSERT_EQ(found, ERROR_SUCCESS) << "without a value Wine starts its own debugger";
    EXPECT_EQ(std::wstring(debugger), L"");
}

// Direct3D runs on the calling thread: with Wine's command-stream thread the two
// threads spin-wait for each other, and beside busy loops a test that makes
// and drops device objects over and over ran eight times slower than the rest.
TEST(Prefix, Direct3DRunsOnTheCallingThread)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Direct3D", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD csmt = 1, size = sizeof csmt, type = 0;
    const LONG found = RegQueryValueExW(key, L"csmt", nullptr, &type, reinterpret_cast<BYTE *>(&csmt), &size);
    RegCloseKey(key);
    ASSERT_EQ(found, ERROR_SUCCESS) << "without a value Wine starts the command-stream thread";
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(csmt, 0u);
}

TEST(Crash, AccessViolationEndsProgramWithoutDialog)
{
    std::wstring program = ProgramFolder() + L"infra_ending.exe";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring commandLine =
        L"\"" + program + L"\" --gtest_also_run_disabled_tests --gtest_filter=Ends.DISABLED_WritingThroughNull";
    ASSERT_TRUE(CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    DWORD waited = WaitForSingleObject(pi.hProcess, 30000);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the crashed program was held (crash dialog?)";
    EXPECT_NE(code, 0u);
}

// Files the tests and the engine write to the working folder land beside the
// program however it was started: a copy started from the temporary folder
// checks that it works beside itself all the same.
TEST(Harness, TestProgramsWorkInTheirOwnFolder)
{
    wchar_t here[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, here);
    std::wstring folder(here, n);
    if (folder.empty() || folder.back() != L'\\')
        folder += L'\\';
    std::wstring program = ProgramFolder();
    CharLowerW(&folder[0]);
    CharLowerW(&program[0]);
    EXPECT_EQ(folder, program);
    if (GetEnvironmentVariableW(L"KIV_STARTED_ELSEWHERE", nullptr, 0))
        return;
    wchar_t self[MAX_PATH], temp[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetTempPathW(MAX_PATH, temp);
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=Harness.TestProgramsWorkInTheirOwnFolder";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    SetEnvironmentVariableW(L"KIV_STARTED_ELSEWHERE", L"1");
    const BOOL started = CreateProcessW(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, temp, &si, &pi);
    SetEnvironmentVariableW(L"KIV_STARTED_ELSEWHERE", nullptr);
    ASSERT_TRUE(started);
    const DWORD waited = WaitForSingleObject(pi.hProcess, 60000);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u) << "started from the temporary folder, the program did not work beside itself";
}

// A build path as CMake spells it (UTF-8) reaches the ...A calls in the code
// page: a checkout under a folder with a Korean name and a space is found. A
// name the code page cannot hold fails the test, naming it, and never turns
// into another folder's name.
TEST(Harness, BuildPathsReachTheCodePageCalls)
{
    const std::wstring folder = ProgramFolder() + L"\uB0B4 \uC791\uC5C5";   // "내 작업"
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
    ASSERT_EQ(0, folder.compare(0, 2, L"Z:"));
    std::wstring unixWide = folder.substr(2);
    for (wchar_t &c : unixWide)
        c = c == L'\\' ? L'/' : c;
    std::string unixPath(unixWide.size() * 3, '\0');
    unixPath.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, unixWide.data(), static_cast<int>(unixWide.size()),
                                                            &unixPath[0], static_cast<int>(unixPath.size()), nullptr,
                                                            nullptr)));
    const DWORD attributes = GetFileAttributesA(KivWinePath(unixPath).c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        << unixPath << " (error " << GetLastError() << ")";
    RemoveDirectoryW(folder.c_str());
    EXPECT_NONFATAL_FAILURE(KivWinePath("/tmp/caf\xc3\xa9"), "cannot be written in the system code page");
}

// A program run from a test that outlasts its time limit is ended there, and
// the test fails saying so, not with a bare exit code.
TEST(Harness, AProgramStoppedAtItsTimeLimitSaysSo)
{
    int code = 0;
    EXPECT_NONFATAL_FAILURE(code = KivRunProgram(KIV_ENDING_EXE,
                                                 "--gtest_also_run_disabled_tests --gtest_filter=Ends.DISABLED_Hanging",
                                                 1500),
                            "was stopped at its time limit of 1.5 s");
    EXPECT_EQ(kKivProgramStopped, code);
}

}  // namespace
