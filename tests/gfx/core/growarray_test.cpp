#include <gtest/gtest.h>

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/growarray.h"
#include "support/test_driver.h"
#include "support/test_memory.h"

namespace {

class GrowArray : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0));
        RwErrorGet();
    }
    void TearDown() override
    {
        RwTestMemoryReset();
        RwEngineTerm();
    }
};

TEST_F(GrowArray, NewArrayHoldsTwentyElements)
{
    RwGrowArray *a = RwGrowArrayCreate(12, 0x30180);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(0x1030180u, rwTestMemory.lastHint);
    EXPECT_EQ(0, a->count);
    EXPECT_EQ(20, a->capacity);
    EXPECT_EQ(12, a->elementSize);
    EXPECT_EQ(a->data, RwGetFirstField(a));
    EXPECT_TRUE(RwGrowArrayDestroy(a));
}

TEST_F(GrowArray, AppendsGrowByAQuarter)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    for (int i = 0; i < 20; ++i) {
        *static_cast<RwInt32 *>(RwGrowArrayAppend(a, 0)) = i;
    }
    EXPECT_EQ(20, a->capacity);
    RwGrowArrayAppend(a, 0);
    EXPECT_EQ(25, a->capacity);
    for (int i = 21; i < 26; ++i) {
        RwGrowArrayAppend(a, 0);
    }
    EXPECT_EQ(26, a->count);
    EXPECT_EQ(31, a->capacity);
    EXPECT_EQ(26, RwGetSecondField(a));
    // The contents survive the moves.
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(i, *static_cast<RwInt32 *>(RwGrowArrayGetAt(a, i)));
    }
    RwGrowArrayDestroy(a);
}

TEST_F(GrowArray, AppendManyGrowsWhenTheCountReachesCapacity)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    RwGrowArray *b = RwGrowArrayCreate(4, 0);
    EXPECT_EQ(a->data, RwGrowArrayAppendMany(a, 10, 0));
    EXPECT_EQ(20, a->capacity);
    EXPECT_EQ(10, a->count);
    ASSERT_NE(nullptr, RwGrowArrayAppendMany(b, 20, 0));
    EXPECT_EQ(45, b->capacity);
    EXPECT_EQ(20, b->count);
    RwUInt8 *first = static_cast<RwUInt8 *>(RwGrowArrayAppendMany(b, 3, 0));
    EXPECT_EQ(static_cast<RwUInt8 *>(b->data) + 20 * 4, first);
    EXPECT_EQ(nullptr, RwGrowArrayAppendMany(b, -1, 0));
    RwGrowArrayDestroy(a);
    RwGrowArrayDestroy(b);
}

TEST_F(GrowArray, FailedGrowthLeavesTheArrayUnchanged)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    RwGrowArrayAppendMany(a, 19, 0);
    RwGrowArrayAppend(a, 0);
    RwGrowArray before = *a;
    rwTestMemory.failRealloc = true;
    EXPECT_EQ(nullptr, RwGrowArrayAppend(a, 0));
    EXPECT_EQ(nullptr, RwGrowArrayAppendMany(a, 5, 0));
    rwTestMemory.failRealloc = false;
    EXPECT_EQ(before.data, a->data);
    EXPECT_EQ(before.count, a->count);
    EXPECT_EQ(before.capacity, a->capacity);
    RwError e = RwErrorGet();
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), e.errorCode);
    RwGrowArrayDestroy(a);
}

TEST_F(GrowArray, HugeAppendManyIsRefused)
{
    RwGrowArray *a = RwGrowArrayCreate(64, 0);
    EXPECT_EQ(nullptr, RwGrowArrayAppendMany(a, 0x7FFFFFF0, 0));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), RwErrorGet().errorCode);
    EXPECT_EQ(nullptr, RwGrowArrayAppendMany(a, 0x01000000, 0));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), RwErrorGet().errorCode);
    EXPECT_EQ(0, a->count);
    EXPECT_EQ(20, a->capacity);
    RwGrowArrayDestroy(a);
}

TEST_F(GrowArray, CreateFailuresRaiseOutOfMemory)
{
    rwTestMemory.failAfter = 0;
    EXPECT_EQ(nullptr, RwGrowArrayCreate(4, 0));
    rwTestMemory.failAfter = -1;
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), RwErrorGet().errorCode);
    EXPECT_EQ(nullptr, RwGrowArrayCreate(0, 0));
    EXPECT_EQ(nullptr, RwGrowArrayCreate(-8, 0));
}

TEST_F(GrowArray, RemoveAtMovesLaterElementsDown)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    for (RwInt32 i = 0; i < 5; ++i) {
        *static_cast<RwInt32 *>(RwGrowArrayAppend(a, 0)) = i * 10;
    }
    EXPECT_TRUE(RwGrowArrayRemoveAt(a, 1));
    EXPECT_EQ(4, a->count);
    const RwInt32 expected[] = {0, 20, 30, 40};
    EXPECT_EQ(0, memcmp(expected, a->data, sizeof(expected)));
    EXPECT_TRUE(RwGrowArrayRemoveAt(a, 3));
    EXPECT_FALSE(RwGrowArrayRemoveAt(a, 3));
    EXPECT_FALSE(RwGrowArrayRemoveAt(a, -1));
    EXPECT_EQ(3, a->count);
    RwGrowArrayDestroy(a);
}

TEST_F(GrowArray, RemoveLastAndClearKeepTheMemory)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    RwGrowArrayAppendMany(a, 30, 0);
    void *data = a->data;
    RwInt32 capacity = a->capacity;
    RwGrowArrayRemoveLast(a, 5);
    EXPECT_EQ(25, a->count);
    RwGrowArrayRemoveLast(a, 100);
    EXPECT_EQ(0, a->count);
    RwGrowArrayAppendMany(a, 3, 0);
    RwGrowArrayClear(a);
    EXPECT_EQ(0, a->count);
    EXPECT_EQ(data, a->data);
    EXPECT_EQ(capacity, a->capacity);
    RwGrowArrayDestroy(a);
}

TEST_F(GrowArray, AccessorsStayInsideTheElements)
{
    RwGrowArray *a = RwGrowArrayCreate(8, 0);
    EXPECT_EQ(nullptr, RwGrowArrayGetFirst(a));
    EXPECT_EQ(nullptr, RwGrowArrayGetAt(a, 0));
    EXPECT_EQ(a->data, RwGrowArrayGetEnd(a));
    RwGrowArrayAppendMany(a, 4, 0);
    RwUInt8 *base = static_cast<RwUInt8 *>(a->data);
    EXPECT_EQ(base, RwGrowArrayGetFirst(a));
    EXPECT_EQ(base + 24, RwGrowArrayGetAt(a, 3));
    EXPECT_EQ(nullptr, RwGrowArrayGetAt(a, 4));
    EXPECT_EQ(nullptr, RwGrowArrayGetAt(a, -1));
    EXPECT_EQ(base + 32, RwGrowArrayGetEnd(a));
    EXPECT_EQ(base + 32, RwGrowArrayGetEnd(a, 0));
    EXPECT_EQ(base + 16, RwGrowArrayGetEnd(a, 2));
    EXPECT_EQ(base, RwGrowArrayGetEnd(a, 4));
    EXPECT_EQ(nullptr, RwGrowArrayGetEnd(a, 5));
    EXPECT_EQ(nullptr, RwGrowArrayGetEnd(a, -1));
    RwGrowArrayDestroy(a);
}

TEST_F(GrowArray, DetachHandsOverTheData)
{
    const RwInt32 liveBefore = rwTestMemory.live;
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    *static_cast<RwInt32 *>(RwGrowArrayAppend(a, 0)) = 77;
    RwInt32 *data = static_cast<RwInt32 *>(RwGrowArrayDetachData(a));
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(77, data[0]);
    // Only the data is left, and it is the caller's.
    EXPECT_EQ(liveBefore + 1, rwTestMemory.live);
    RwFree(data);
    RwGrowArray *empty = RwGrowArrayCreate(4, 0);
    EXPECT_EQ(nullptr, RwGrowArrayDetachData(empty));
    EXPECT_EQ(liveBefore, rwTestMemory.live);
}

TEST_F(GrowArray, DestroyReleasesHeaderAndData)
{
    const RwInt32 liveBefore = rwTestMemory.live;
    RwGrowArray *a = RwGrowArrayCreate(4, 0x30180);
    EXPECT_EQ(liveBefore + 2, rwTestMemory.live);
    RwGrowArrayAppendMany(a, 50, 0x30180);
    EXPECT_TRUE(RwGrowArrayDestroy(a));
    EXPECT_EQ(liveBefore, rwTestMemory.live);
    EXPECT_FALSE(RwGrowArrayDestroy(nullptr));
}

}  // namespace
