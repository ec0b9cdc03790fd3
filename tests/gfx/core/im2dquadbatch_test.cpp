#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "gfx/core/im2dquadbatch.h"
#include "support/test_memory.h"

namespace {

TEST(QuadBatch, BuffersHold4096VerticesAnd6144IndicesAndFailuresLeaveNothing)
{
    RwTestMemoryReset();
    ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0));
    const RwInt32 liveBefore = rwTestMemory.live;
    const size_t sizes[] = {4096u * 28u, 6144u * 2u};
    for (RwInt32 failing = 0; failing < 2; ++failing) {
        rwTestMemory.failAfter = failing;
        EXPECT_FALSE(RwIm2DQuadBatchCreate());
        EXPECT_EQ(0x40180u, rwTestMemory.lastHint);
        EXPECT_EQ(sizes[failing], rwTestMemory.lastSize);
        EXPECT_FALSE(RwIm2DQuadBatchIsCreated());
        EXPECT_EQ(liveBefore, rwTestMemory.live);
    }
    rwTestMemory.failAfter = -1;
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
    RwEngineTerm();
}

}  // namespace
