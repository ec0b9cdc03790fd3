#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gfx/core/pipeline.h"
#include "started_engine.h"
#include "support/test_random.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine());

class Heap : public ::testing::Test {
protected:
    void SetUp() override
    {
        live = rwTestMemory.live;
        heap = RwHeapCreate(100);   // raised to 1024 bytes
        ASSERT_NE(nullptr, heap);
    }
    void TearDown() override
    {
        RwHeapDestroy(heap);
        rwTestMemory.failHint = 0;
        EXPECT_EQ(live, rwTestMemory.live) << "blocks leaked";
        TakeError();
    }
    RxHeap *heap = nullptr;
    RwInt32 live = 0;
};

TEST_F(Heap, FreeCoalescesWithFreeNeighbours)
{
    void *b[4];
    for (void *&p : b) {
        p = RwHeapMalloc(heap, 40);   // 64 bytes each
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 32);
    }
    EXPECT_EQ(static_cast<RwUInt8 *>(b[0]) + 96, b[1]);
    EXPECT_EQ(1u, RwHeapGetFreeBlockCount(heap));   // the rest after the four
    const struct {
        int block;
        RwUInt32 freeBlocks;
    } steps[] = {
        {1, 2},   // both neighbours taken: a new entry
        {2, 2},   // the left one free: joins it
        {0, 2},   // the right one free: absorbs it
        {3, 1},   // both free: one entry fewer
    };
    for (const auto &s : steps) {
        RwHeapFree(heap, b[s.block]);
        EXPECT_EQ(s.freeBlocks, RwHeapGetFreeBlockCount(heap)) << s.block;
    }
    // Everything is one block again: the whole usable area comes back from its start.
    EXPECT_EQ(b[0], RwHeapMalloc(heap, 1024 - 96));
}

TEST_F(Heap, ForeignAndStalePointersAreIgnored)
{
    void *a = RwHeapMalloc(heap, 32);
    void *b = RwHeapMalloc(heap, 32);
    RwUInt8 stack[64];
    RwHeapFree(heap, stack);
    RwHeapFree(heap, static_cast<RwUInt8 *>(a) + 4);
    RwHeapFree(heap, static_cast<RwUInt8 *>(b) + 32);   // inside a block, not a block
    EXPECT_EQ(1u, RwHeapGetFreeBlockCount(heap));
    RwHeapFree(heap, a);
    EXPECT_EQ(2u, RwHeapGetFreeBlockCount(heap));
    RwHeapFree(heap, a);   // twice
    EXPECT_EQ(2u, RwHeapGetFreeBlockCount(heap));
    EXPECT_EQ(a, RwHeapMalloc(heap, 32));
}

TEST_F(Heap, GrowsByASuperblockAndResets)
{
    void *small = RwHeapMalloc(heap, 16);
    void *big = RwHeapMalloc(heap, 5000);   // more than a superblock holds
    ASSERT_NE(nullptr, big);
    memset(big, 0xAB, 5000);
    EXPECT_EQ(1u, RwHeapGetFreeBlockCount(heap));   // the new superblock is wholly taken
    rwTestMemory.failHint = 0x1040409;
    EXPECT_EQ(nullptr, RwHeapMalloc(heap, 100000));
    EXPECT_EQ(0x80000013u, TakeErrorCode());
    rwTestMemory.failHint = 0;
    EXPECT_TRUE(RwHeapReset(heap));
    EXPECT_EQ(2u, RwHeapGetFreeBlockCount(heap));
    EXPECT_EQ(small, RwHeapMalloc(heap, 16));
    rwTestMemory.failHint = 0x1040409;
    EXPECT_EQ(nullptr, RwHeapCreate(4096));
}

TEST(RadixExchangeSort, OrdersRecordsByTheirFirstWord)
{
    TestRandom random(13);
    for (RwUInt32 count : {0u, 1u, 5u, 6u, 40u, 500u}) {
        for (RwUInt32 mask : {0xFFFFFFFFu, 0x00F0F00Fu}) {
            std::vector<RwUInt32> records(count * 3);
            for (RwUInt32 i = 0; i < count; ++i) {
                records[i * 3] = ((random.Below(65536) << 16) | random.Below(65536)) & mask;
                records[i * 3 + 1] = i;
                records[i * 3 + 2] = ~records[i * 3];
            }
            std::vector<RwUInt32> keys;
            for (RwUInt32 i = 0; i < count; ++i) {
                keys.push_back(records[i * 3]);
            }
            std::sort(keys.begin(), keys.end());
            RwRadixExchangeSort(records.data(), count, 12, mask);
            std::vector<bool> seen(count);
            for (RwUInt32 i = 0; i < count; ++i) {
                ASSERT_EQ(keys[i], records[i * 3]) << count << " " << i;
                ASSERT_EQ(~records[i * 3], records[i * 3 + 2]) << "records stay whole";
                seen[records[i * 3 + 1]] = true;
            }
            EXPECT_EQ(count, static_cast<RwUInt32>(std::count(seen.begin(), seen.end(), true)));
        }
    }
}

}  // namespace
