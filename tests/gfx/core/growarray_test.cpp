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
        liveBefore = rwTestMemory.live;
    }
    void TearDown() override
    {
        EXPECT_EQ(liveBefore, rwTestMemory.live);
        RwTestMemoryReset();
        RwEngineTerm();
    }

    static RwInt32 At(RwGrowArray *a, RwInt32 i) { return *static_cast<RwInt32 *>(RwGrowArrayGetAt(a, i)); }

    RwInt32 liveBefore = 0;
};

TEST_F(GrowArray, StartsAtTwentyAndGrowsByAQuarter)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0x30180);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(0x1030180u, rwTestMemory.lastHint);
    EXPECT_EQ(20, a->capacity);
    for (int i = 0; i < 20; ++i) {
        *static_cast<RwInt32 *>(RwGrowArrayAppend(a, 0)) = i;
    }
    EXPECT_EQ(20, a->capacity);
    RwGrowArrayAppend(a, 0);
    EXPECT_EQ(25, a->capacity);
    for (int i = 21; i < 26; ++i) {
        RwGrowArrayAppend(a, 0);
    }
    EXPECT_EQ(26, RwGetSecondField(a));
    EXPECT_EQ(31, a->capacity);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(i, At(a, i));
    }
    // A run that reaches the capacity grows it by the run and a quarter.
    RwGrowArray *b = RwGrowArrayCreate(4, 0);
    EXPECT_EQ(b->data, RwGrowArrayAppendMany(b, 20, 0));
    EXPECT_EQ(45, b->capacity);
    RwUInt8 *first = static_cast<RwUInt8 *>(RwGrowArrayAppendMany(b, 3, 0));
    EXPECT_EQ(static_cast<RwUInt8 *>(b->data) + 20 * 4, first);
    EXPECT_TRUE(RwGrowArrayDestroy(a));
    EXPECT_TRUE(RwGrowArrayDestroy(b));
    EXPECT_FALSE(RwGrowArrayDestroy(nullptr));
}

TEST_F(GrowArray, FailedGrowthLeavesTheArrayUnchanged)
{
    RwGrowArray *a = RwGrowArrayCreate(64, 0);
    RwGrowArrayAppendMany(a, 19, 0);
    RwGrowArrayAppend(a, 0);
    RwGrowArray before = *a;
    rwTestMemory.failRealloc = true;
    EXPECT_EQ(nullptr, RwGrowArrayAppend(a, 0));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), RwErrorGet().errorCode);
    rwTestMemory.failRealloc = false;
    for (RwInt32 huge : {-1, 0x7FFFFFF0, 0x01000000}) {
        EXPECT_EQ(nullptr, RwGrowArrayAppendMany(a, huge, 0)) << huge;
    }
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), RwErrorGet().errorCode);
    EXPECT_EQ(before.data, a->data);
    EXPECT_EQ(before.count, a->count);
    EXPECT_EQ(before.capacity, a->capacity);
    RwGrowArrayDestroy(a);

    rwTestMemory.failAfter = 0;
    EXPECT_EQ(nullptr, RwGrowArrayCreate(4, 0));
    rwTestMemory.failAfter = -1;
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), RwErrorGet().errorCode);
    EXPECT_EQ(nullptr, RwGrowArrayCreate(0, 0));
    EXPECT_EQ(nullptr, RwGrowArrayCreate(-8, 0));
}

TEST_F(GrowArray, RemovalsMoveLaterElementsDownAndKeepTheMemory)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    RwGrowArrayAppendMany(a, 30, 0);
    for (RwInt32 i = 0; i < 5; ++i) {
        *static_cast<RwInt32 *>(RwGrowArrayGetAt(a, i)) = i * 10;
    }
    void *data = a->data;
    const RwInt32 capacity = a->capacity;
    RwGrowArrayRemoveLast(a, 25);
    EXPECT_TRUE(RwGrowArrayRemoveAt(a, 1));
    const RwInt32 expected[] = {0, 20, 30, 40};
    ASSERT_EQ(4, a->count);
    EXPECT_EQ(0, memcmp(expected, a->data, sizeof(expected)));
    EXPECT_TRUE(RwGrowArrayRemoveAt(a, 3));
    EXPECT_FALSE(RwGrowArrayRemoveAt(a, 3));
    EXPECT_FALSE(RwGrowArrayRemoveAt(a, -1));
    EXPECT_EQ(3, a->count);
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
    EXPECT_EQ(base + 16, RwGrowArrayGetEnd(a, 2));
    EXPECT_EQ(base, RwGrowArrayGetEnd(a, 4));
    EXPECT_EQ(nullptr, RwGrowArrayGetEnd(a, 5));
    EXPECT_EQ(nullptr, RwGrowArrayGetEnd(a, -1));
    RwGrowArrayDestroy(a);
}

TEST_F(GrowArray, DetachHandsOverTheData)
{
    RwGrowArray *a = RwGrowArrayCreate(4, 0);
    *static_cast<RwInt32 *>(RwGrowArrayAppend(a, 0)) = 77;
    RwInt32 *data = static_cast<RwInt32 *>(RwGrowArrayDetachData(a));
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(77, data[0]);
    // Only the data is left, and it is the caller's.
    EXPECT_EQ(liveBefore + 1, rwTestMemory.live);
    RwFree(data);
    EXPECT_EQ(nullptr, RwGrowArrayDetachData(RwGrowArrayCreate(4, 0)));
}

}  // namespace
