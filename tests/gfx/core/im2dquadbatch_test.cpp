#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "gfx/core/im2dquadbatch.h"
#include "support/test_memory.h"

namespace {

class QuadBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0));
    }
    void TearDown() override
    {
        RwIm2DQuadBatchDestroy();
        RwTestMemoryReset();
        RwEngineTerm();
    }
};

TEST_F(QuadBatch, CreateAndDestroy)
{
    const RwInt32 liveBefore = rwTestMemory.live;
    EXPECT_FALSE(RwIm2DQuadBatchIsCreated());
    ASSERT_TRUE(RwIm2DQuadBatchCreate());
    EXPECT_TRUE(RwIm2DQuadBatchIsCreated());
    EXPECT_EQ(liveBefore + 2, rwTestMemory.live);
    // A second create keeps the buffers it has.
    rwTestMemory.failAfter = 0;
    EXPECT_TRUE(RwIm2DQuadBatchCreate());
    rwTestMemory.failAfter = -1;
    RwIm2DQuadBatchDestroy();
    EXPECT_FALSE(RwIm2DQuadBatchIsCreated());
    EXPECT_EQ(liveBefore, rwTestMemory.live);
    RwIm2DQuadBatchDestroy();
}

TEST_F(QuadBatch, BuffersHold4096VerticesAnd6144Indices)
{
    rwTestMemory.failAfter = 0;
    EXPECT_FALSE(RwIm2DQuadBatchCreate());
    EXPECT_EQ(0x40180u, rwTestMemory.lastHint);
    EXPECT_EQ(4096u * 28u, rwTestMemory.lastSize);
    rwTestMemory.failAfter = 1;
    EXPECT_FALSE(RwIm2DQuadBatchCreate());
    EXPECT_EQ(0x40180u, rwTestMemory.lastHint);
    EXPECT_EQ(6144u * 2u, rwTestMemory.lastSize);
}

TEST_F(QuadBatch, SecondBufferFailingReleasesTheFirst)
{
    const RwInt32 liveBefore = rwTestMemory.live;
    rwTestMemory.failAfter = 1;
    EXPECT_FALSE(RwIm2DQuadBatchCreate());
    EXPECT_FALSE(RwIm2DQuadBatchIsCreated());
    EXPECT_EQ(liveBefore, rwTestMemory.live);
    rwTestMemory.failAfter = -1;
    EXPECT_TRUE(RwIm2DQuadBatchCreate());
}

}  // namespace
