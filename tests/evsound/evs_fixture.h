// The fixture the sound layer tests share.
#pragma once

#include <gtest/gtest.h>

#include "evsound/evsound.h"
#include "tests/evsound/test_platform.h"

// Base of the sound layer tests: the stand-in bound; at the end the system
// released, every output closed and every block given back.
class EvsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EvsTestPlatformInstall();
        baseline = EvsLiveBlocks();
    }
    void TearDown() override
    {
        EvsSystemRelease(system);
        EXPECT_EQ(0, evsTestPlatform.Live());
        EXPECT_EQ(baseline, EvsLiveBlocks());
        EvsFailAllocationsAfter(-1);
        EvsTestPlatformRemove();
    }
    // Moves the clock and updates.
    void At(uint32_t ms)
    {
        evsTestPlatform.clock = ms;
        ASSERT_EQ(EVS_OK, EvsSystemUpdate(system));
    }
    EvsSystem *system = NULL;
    int32_t baseline = 0;
};
