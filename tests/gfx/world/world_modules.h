// Set-up shared by the world module's tests: module registration as a program does it, and a fixture that checks nothing leaks.
#pragma once

#include <gtest/gtest.h>

#include "gfx/core/counting_extension.h"
#include "gfx/core/started_engine.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldids.h"

inline void RegisterWorldObjectModules()
{
    ASSERT_TRUE(RwWorldPluginAttach());
}

inline void RegisterMeshModule()
{
    RegisterWorldObjectModules();
}

// A test after which nothing it made may be left: no object carrying the
// counting extension, no memory block.
class CountedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        counting::Reset();
        blocks = rwTestMemory.live;
    }
    void TearDown() override
    {
        EXPECT_EQ(0, counting::live) << "objects leaked";
        EXPECT_LE(rwTestMemory.live, blocks) << "blocks leaked";
    }
    RwInt32 blocks = 0;
};
