// Shared set-up of the stream and file tests: a started engine, a scratch folder and raw file access.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/filesys.h"
#include "gfx/core/win32filesys.h"
#include "support/test_memory.h"

// Starts the engine once for the whole test program.
class EngineEnvironment : public ::testing::Environment {
public:
    // Runs between RwEngineInit and RwEngineOpen, when registration is allowed.
    typedef void (*RegisterFunction)(void);
    explicit EngineEnvironment(RegisterFunction registerPlugins = nullptr) : registerPlugins_(registerPlugins) {}

    void SetUp() override
    {
        // Counted memory, so that tests can fail chosen allocations.
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0x400000));
        if (registerPlugins_) {
            registerPlugins_();
        }
        RwEngineOpenParams params = {nullptr};
        ASSERT_TRUE(RwEngineOpen(&params));
        ASSERT_TRUE(RwEngineStart());
    }
    void TearDown() override
    {
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
        // Whatever the program's tests made and released, nothing is left.
        EXPECT_EQ(rwTestMemory.live, 0);
    }

private:
    RegisterFunction registerPlugins_;
};

inline RwError TakeError()
{
    return RwErrorGet();
}

// A fresh folder below the system's temporary folder, removed with its files.
class ScratchFolder {
public:
    ScratchFolder()
    {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        char name[MAX_PATH];
        GetTempFileNameA(base, "kiv", 0, name);
        DeleteFileA(name);
        CreateDirectoryA(name, nullptr);
        path_ = name;
    }
    ~ScratchFolder()
    {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    DeleteFileA((path_ + "\\" + found.cFileName).c_str());
                }
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
        RemoveDirectoryA(path_.c_str());
    }
    // The folder with a trailing backslash, as a device prefix.
    std::string Prefix() const { return path_ + "\\"; }
    std::string File(const std::string &name) const { return path_ + "\\" + name; }

    void Put(const std::string &name, const std::vector<unsigned char> &bytes) const
    {
        HANDLE h = CreateFileA(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        DWORD wrote = 0;
        if (!bytes.empty()) {
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
        }
        CloseHandle(h);
    }
    void Put(const std::string &name, const std::string &text) const
    {
        Put(name, std::vector<unsigned char>(text.begin(), text.end()));
    }
    std::vector<unsigned char> Get(const std::string &name) const
    {
        std::vector<unsigned char> bytes;
        HANDLE h = CreateFileA(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return bytes;
        }
        unsigned char buffer[4096];
        DWORD got = 0;
        while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        CloseHandle(h);
        return bytes;
    }
    std::string Text(const std::string &name) const
    {
        std::vector<unsigned char> bytes = Get(name);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    std::string path_;
};

// The file-system manager open, with a scratch folder mounted as the default
// system "unc", as the engine mounts its working directory.
class ScratchFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        ASSERT_TRUE(RwFileSystemManagerOpen(-1));
        unc = RwWin32FileSystemCreate(20, folder.Prefix().c_str(), "unc");
        ASSERT_NE(unc, nullptr);
        ASSERT_TRUE(RwFileSystemRegister(unc));
        RwFileSystemSetDefault(unc);
    }
    void TearDown() override { RwFileSystemManagerClose(); }

    ScratchFolder folder;
    RwFileSystem *unc = nullptr;
};
