// Engine file systems: the working directory's form and the choice of the default file system.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/KivFileSystems.h"

namespace {

const unsigned long kA = 1, kC = 1 << 2, kD = 1 << 3, kZ = 1 << 25;

TEST(EngineFileSystems, DefaultFollowsTheWorkingDirectory)
{
    const struct {
        const char *dir;
        unsigned long drives;
        const char *expected;
    } rows[] = {
        {"\\\\server\\share\\game\\", kC | kZ, "unc"},   // network path
        {"D:\\game\\", kC | kD | kZ, "D"},
        {"d:\\game\\", kC | kD | kZ, "D"},                // compared upper-cased
        {"Z:\\", kC | kZ, "Z"},
        {"A:\\", kA | kC, "unc"},                          // drive A: has no file system
        {"Q:\\game\\", kC | kZ, "unc"},                    // a drive without one falls back
        {"", kC, "unc"},
    };
    for (const auto &r : rows) {
        char letter[2];
        EXPECT_STREQ(r.expected, KivDefaultFileSystemName(r.dir, r.drives, letter)) << r.dir;
    }
}

TEST(EngineFileSystems, WorkingDirectoryEndsInOneBackslash)
{
    char saved[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, saved);
    char out[kKivWorkingDirSize];
    ASSERT_TRUE(SetCurrentDirectoryA("Z:\\"));
    ASSERT_EQ(1, KivGetWorkingDirectory(out, sizeof(out)));
    EXPECT_STREQ("Z:\\", out);
    ASSERT_TRUE(SetCurrentDirectoryA(saved));
    ASSERT_EQ(1, KivGetWorkingDirectory(out, sizeof(out)));
    EXPECT_EQ(std::string(saved) + "\\", out);
    EXPECT_EQ(0, KivGetWorkingDirectory(out, 100));   // too small to hold any answer

    // The longest directory the call reports, 259 characters, still fits
    // with its backslash.
    std::string deep = saved;
    bool made = true;
    while (made && deep.size() < 259) {
        const size_t left = 259 - deep.size();
        size_t k = left - 1 > 60 ? 60 : left - 1;
        if (left - (k + 1) == 1)
            k--;   // never leave room for a backslash alone
        deep += "\\" + std::string(k, 'd');
        made = CreateDirectoryA(deep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    }
    ASSERT_TRUE(made);
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str())) << deep.size();
    {
        EXPECT_EQ(1, KivGetWorkingDirectory(out, sizeof(out)));
        EXPECT_EQ(260u, strlen(out));
        EXPECT_EQ('\\', out[259]);
        SetCurrentDirectoryA(saved);
    }
}

} // namespace
