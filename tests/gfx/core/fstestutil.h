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
#include "started_engine.h"
#include "support/scratch_folder.h"
#include "support/test_memory.h"

// The started engine, on a larger arena, that also checks at the end that the
// program's tests gave back every allocation.
class EngineEnvironment : public StartedEngine {
public:
    typedef void (*RegisterFunction)(void);
    explicit EngineEnvironment(RegisterFunction registerPlugins = nullptr) : StartedEngine(registerPlugins, 0x400000) {}

    void TearDown() override
    {
        StartedEngine::TearDown();
        EXPECT_EQ(rwTestMemory.live, 0);
    }
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
