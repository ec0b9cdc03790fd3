#include <gtest/gtest.h>

#include <cstdlib>

#include "gfx/core/engine.h"
#include "gfx/core/growarray.h"

namespace {

RwUInt32 lastHint = 0;
int mallocsLeft = -1;

void *CountedMalloc(size_t size, RwUInt32 hint)
{
    lastHint = hint;
    if (mallocsLeft == 0) {
        return nullptr;
    }
    if (mallocsLeft > 0) {
        --mallocsLeft;
    }
    return malloc(size);
}
void TestFree(void *p) { free(p); }
void *TestRealloc(void *p, size_t size, RwUInt32) { return realloc(p, size); }
void *TestCalloc(size_t n, size_t size) { return calloc(n, size); }
const RwMemoryFunctions funcs = {CountedMalloc, TestFree, TestRealloc, TestCalloc};

TEST(QuadBatch, CreateAndDestroy)
{
    mallocsLeft = -1;
    ASSERT_TRUE(RwEngineInit(&funcs, 0, 0));
    EXPECT_FALSE(RwIm2DQuadBatchIsCreated());
    ASSERT_TRUE(RwIm2DQuadBatchCreate());
    EXPECT_EQ(0x40180u, lastHint);
    EXPECT_TRUE(RwIm2DQuadBatchIsCreated());
    // A second create keeps the buffers it has.
    mallocsLeft = 0;
    EXPECT_TRUE(RwIm2DQuadBatchCreate());
    mallocsLeft = -1;
    RwIm2DQuadBatchDestroy();
    EXPECT_FALSE(RwIm2DQuadBatchIsCreated());
    RwIm2DQuadBatchDestroy();
    RwEngineTerm();
}

TEST(QuadBatch, SecondBufferFailingReleasesTheFirst)
{
    mallocsLeft = -1;
    ASSERT_TRUE(RwEngineInit(&funcs, 0, 0));
    mallocsLeft = 1;
    EXPECT_FALSE(RwIm2DQuadBatchCreate());
    EXPECT_FALSE(RwIm2DQuadBatchIsCreated());
    mallocsLeft = -1;
    EXPECT_TRUE(RwIm2DQuadBatchCreate());
    RwIm2DQuadBatchDestroy();
    RwEngineTerm();
}

}  // namespace
