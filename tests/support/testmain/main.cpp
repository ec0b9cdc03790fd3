// The test programs' entry: each works in its own folder of the build tree, however it was started.
#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // What the tests and the engine write to the working folder (logs, skins,
    // scratch trees) stays beside the program, never where it was started from.
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::string folder(path, n);
        folder.resize(folder.find_last_of("\\/") + 1);
        if (!SetCurrentDirectoryA(folder.c_str())) {
            std::fprintf(stderr, "cannot work in %s\n", folder.c_str());
            return 1;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
