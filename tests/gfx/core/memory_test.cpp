#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/memory.h"
#include "support/test_driver.h"
#include "support/test_memory.h"
#include "support/test_random.h"

namespace {

class FreeList : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0));
    }
    void TearDown() override
    {
        rwTestMemory.failAfter = -1;
        RwEngineTerm();
    }
};

RwInt32 CountBlocks(const RwFreeList *fl)
{
    RwInt32 n = 0;
    for (const RwLLLink *l = fl->blockList.next; l != &fl->blockList; l = l->next) {
        ++n;
    }
    return n;
}

const RwUInt8 *FirstBitmap(const RwFreeList *fl)
{
    return reinterpret_cast<const RwUInt8 *>(fl->blockList.next + 1);
}

TEST_F(FreeList, FiftyFirstEntryComesFromANewBlockPlacedFirst)
{
    RwFreeList *fl = RwFreeListCreate(16, 50, 4, 0x40000);
    ASSERT_NE(nullptr, fl);
    std::vector<RwUInt8 *> entries;
    for (int i = 0; i < 50; ++i) {
        entries.push_back(static_cast<RwUInt8 *>(RwFreeListAlloc(fl, 0x30000)));
        ASSERT_EQ(entries[0] + 16 * i, entries.back());
        if (i == 10) {
            // A freed entry is handed out again before fresh ones.
            RwFreeListFree(fl, entries[3]);
            ASSERT_EQ(entries[3], RwFreeListAlloc(fl, 0));
        }
    }
    EXPECT_EQ(1, CountBlocks(fl));
    RwLLLink *oldFirst = fl->blockList.next;
    RwUInt8 *extra = static_cast<RwUInt8 *>(RwFreeListAlloc(fl, 0x30000));
    ASSERT_NE(nullptr, extra);
    EXPECT_EQ(2, CountBlocks(fl));
    EXPECT_EQ(oldFirst, fl->blockList.next->next);
    // Freeing all 50 entries of the first block releases it.
    RwInt32 liveBefore = rwTestMemory.live;
    for (RwUInt8 *e : entries) {
        RwFreeListFree(fl, e);
    }
    EXPECT_EQ(1, CountBlocks(fl));
    EXPECT_EQ(liveBefore - 1, rwTestMemory.live);
    RwFreeListFree(fl, extra);
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, EntriesHonourTheAlignment)
{
    for (RwInt32 align : {4, 8, 16, 32, 64}) {
        RwFreeList *fl = RwFreeListCreate(33, 10, align, 0x40000);
        ASSERT_NE(nullptr, fl);
        EXPECT_EQ(0u, fl->entrySize % align);
        for (int i = 0; i < 25; ++i) {
            void *e = RwFreeListAlloc(fl, 0);
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e) % align) << align;
        }
        RwFreeListDestroy(fl);
    }
}

TEST_F(FreeList, EntryOfNoBlockIsIgnored)
{
    RwFreeList *fl = RwFreeListCreate(8, 4, 4, 0x40000);
    void *e = RwFreeListAlloc(fl, 0);
    RwUInt8 stranger[8];
    RwFreeListFree(fl, stranger);
    RwFreeListFree(fl, static_cast<RwUInt8 *>(e) + 2);  // inside, not at an entry start
    EXPECT_EQ(1, CountBlocks(fl));
    EXPECT_EQ(0x80, FirstBitmap(fl)[0]);
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, RandomUseNeverHandsOutAnEntryTwice)
{
    RwFreeList *fl = RwFreeListCreate(13, 7, 8, 0x40000);
    ASSERT_NE(nullptr, fl);
    std::vector<RwUInt8 *> held;
    TestRandom random(99);
    for (int step = 0; step < 2000; ++step) {
        if (held.empty() || random.Below(5) < 3) {
            RwUInt8 *e = static_cast<RwUInt8 *>(RwFreeListAlloc(fl, 0x30000));
            ASSERT_NE(nullptr, e);
            // Would spoil a neighbour or the block's bitmap if entries overlapped.
            memset(e, 0xFF, 13);
            held.push_back(e);
        } else {
            size_t i = random.Below(static_cast<RwUInt32>(held.size()));
            RwFreeListFree(fl, held[i]);
            held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    std::set<RwUInt8 *> sorted(held.begin(), held.end());
    ASSERT_EQ(held.size(), sorted.size());
    RwUInt8 *previous = nullptr;
    for (RwUInt8 *e : sorted) {
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e) % 8);
        EXPECT_TRUE(!previous || e - previous >= 16);
        previous = e;
    }
    for (RwUInt8 *e : held) {
        RwFreeListFree(fl, e);
    }
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, PurgeFreesOnlyEmptyBlocks)
{
    RwFreeList *fl = RwFreeListCreateAndPreallocate(24, 4, 4, 2, nullptr, 0x40000);
    ASSERT_NE(nullptr, fl);
    EXPECT_EQ(2, CountBlocks(fl));
    void *e = RwFreeListAlloc(fl, 0);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(24, RwFreeListPurge(fl));
    EXPECT_EQ(1, CountBlocks(fl));
    RwFreeListFree(fl, e);
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeList *a = RwFreeListCreate(8, 4, 4, 0x40000);
    RwFreeList *b = RwFreeListCreate(12, 4, 4, 0x40000);
    EXPECT_GE(RwFreeListPurgeAll(), 20);
    EXPECT_EQ(0, CountBlocks(a));
    EXPECT_EQ(0, CountBlocks(b));
    RwFreeListDestroy(fl);
    RwFreeListDestroy(a);
    RwFreeListDestroy(b);
}

std::vector<const RwLLLink *> BlockOrder(const RwFreeList *fl)
{
    std::vector<const RwLLLink *> order;
    for (const RwLLLink *l = fl->blockList.next; l != &fl->blockList; l = l->next) {
        order.push_back(l);
    }
    return order;
}

TEST_F(FreeList, PurgeRelinksTheKeptBlocksInReverseOrder)
{
    // Four blocks of two entries; five entries fill the first three in list order.
    RwFreeList *fl = RwFreeListCreateAndPreallocate(16, 2, 4, 4, nullptr, 0x40000);
    ASSERT_NE(nullptr, fl);
    const std::vector<const RwLLLink *> before = BlockOrder(fl);
    ASSERT_EQ(4u, before.size());
    std::vector<void *> entries;
    for (int i = 0; i < 5; ++i) {
        entries.push_back(RwFreeListAlloc(fl, 0));
    }
    EXPECT_EQ(before, BlockOrder(fl));
    EXPECT_EQ(16, RwFreeListPurge(fl));
    const std::vector<const RwLLLink *> kept = {before[2], before[1], before[0]};
    EXPECT_EQ(kept, BlockOrder(fl));
    for (void *e : entries) {
        RwFreeListFree(fl, e);
    }
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeListDestroy(fl);
}

void Collect(void *entry, void *data)
{
    static_cast<std::vector<void *> *>(data)->push_back(entry);
}

void FreeEach(void *entry, void *data)
{
    RwFreeListFree(static_cast<RwFreeList *>(data), entry);
}

TEST_F(FreeList, ForAllUsedVisitsEveryEntryInUseEvenWhenTheyAreFreed)
{
    RwFreeList *fl = RwFreeListCreate(8, 4, 4, 0x40000);
    std::set<void *> used;
    for (int i = 0; i < 10; ++i) {
        used.insert(RwFreeListAlloc(fl, 0));
    }
    RwFreeListFree(fl, *used.begin());
    used.erase(used.begin());
    std::vector<void *> seen;
    EXPECT_EQ(fl, RwFreeListForAllUsed(fl, Collect, &seen));
    EXPECT_EQ(used, std::set<void *>(seen.begin(), seen.end()));
    EXPECT_EQ(used.size(), seen.size());
    EXPECT_EQ(fl, RwFreeListForAllUsed(fl, FreeEach, fl));
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeListDestroy(fl);
}

// Teardown walks its lists when memory may be gone: the walk needs none.
TEST_F(FreeList, ForAllUsedNeedsNoMemory)
{
    RwFreeList *fl = RwFreeListCreate(8, 4, 4, 0x40000);
    std::set<void *> used;
    for (int i = 0; i < 10; ++i) {
        used.insert(RwFreeListAlloc(fl, 0));
    }
    std::vector<void *> seen;
    seen.reserve(used.size());
    rwTestMemory.failAfter = 0;
    EXPECT_EQ(fl, RwFreeListForAllUsed(fl, Collect, &seen));
    EXPECT_EQ(used, std::set<void *>(seen.begin(), seen.end()));
    EXPECT_EQ(fl, RwFreeListForAllUsed(fl, FreeEach, fl));
    rwTestMemory.failAfter = -1;
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, CreationFailuresReleaseWhatWasMade)
{
    // Caller storage is never freed (freeing a stack object would crash).
    RwFreeList storage;
    ASSERT_EQ(&storage, RwFreeListCreateAndPreallocate(8, 4, 4, 1, &storage, 0x40000));
    EXPECT_TRUE(RwFreeListDestroy(&storage));

    RwInt32 liveBefore = rwTestMemory.live;
    rwTestMemory.failAfter = 2;  // header slot comes from a pool block, then blocks
    EXPECT_EQ(nullptr, RwFreeListCreateAndPreallocate(8, 4, 4, 5, nullptr, 0x40000));
    rwTestMemory.failAfter = -1;
    EXPECT_EQ(liveBefore, rwTestMemory.live);

    EXPECT_EQ(nullptr, RwFreeListCreate(0, 4, 4, 0));
    EXPECT_EQ(nullptr, RwFreeListCreate(8, 0, 4, 0));
    EXPECT_EQ(nullptr, RwFreeListCreate(8, 4, -4, 0));
    EXPECT_EQ(nullptr, RwFreeListCreate(0x10000000, 0x100, 4, 0));
    EXPECT_FALSE(RwFreeListDestroy(nullptr));
}

TEST_F(FreeList, TermReleasesEveryListAndBlock)
{
    RwFreeList *a = RwFreeListCreate(8, 4, 4, 0x40000);
    RwFreeListAlloc(a, 0);
    RwFreeListCreate(100, 3, 16, 0x40000);
    ASSERT_TRUE(RwEngineTerm());
    EXPECT_EQ(0, rwTestMemory.live);
    EXPECT_EQ(nullptr, RwFreeListCreate(8, 4, 4, 0x40000));
    ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0));
}

TEST(FreeListDisabled, EntriesComeStraightFromTheAllocator)
{
    RwTestMemoryReset();
    ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 1, 0));
    RwFreeList *fl = RwFreeListCreateAndPreallocate(8, 4, 4, 3, nullptr, 0x40000);
    ASSERT_NE(nullptr, fl);
    EXPECT_EQ(0, CountBlocks(fl));
    RwInt32 before = rwTestMemory.live;
    void *e = RwFreeListAlloc(fl, 0);
    EXPECT_EQ(before + 1, rwTestMemory.live);
    RwFreeListFree(fl, e);
    EXPECT_EQ(before, rwTestMemory.live);
    RwFreeListDestroy(fl);
    ASSERT_TRUE(RwEngineTerm());
    EXPECT_EQ(0, rwTestMemory.live);
}

TEST(MemoryFunctions, CallerTableWithoutFreeIsRefused)
{
    RwErrorGet();
    RwMemoryFunctions partial = rwTestMemoryFunctions;
    partial.rwfree = nullptr;
    EXPECT_FALSE(RwEngineInit(&partial, 0, 0));
    EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NULLP), RwErrorGet().errorCode);
}

TEST(MemoryFunctions, NullTableInstallsTheRuntimeAllocator)
{
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    void *p = RwRealloc(RwMalloc(100, 0x30000), 200, 0x1030000);
    ASSERT_NE(nullptr, p);
    RwFree(p);
    RwUInt8 *z = static_cast<RwUInt8 *>(RwCalloc(4, 8));
    ASSERT_NE(nullptr, z);
    EXPECT_EQ(std::vector<RwUInt8>(32, 0), std::vector<RwUInt8>(z, z + 32));
    RwFree(z);
    RwEngineTerm();
}

}  // namespace
