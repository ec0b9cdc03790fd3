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

TEST_F(FreeList, HeaderRecordsRoundedSizeAndBitmapBytes)
{
    RwFreeList *fl = RwFreeListCreate(33, 50, 0, 0x40000);
    ASSERT_NE(nullptr, fl);
    EXPECT_EQ(36u, fl->entrySize);
    EXPECT_EQ(50u, fl->entriesPerBlock);
    EXPECT_EQ(7u, fl->heapSize);
    EXPECT_EQ(4u, fl->alignment);
    EXPECT_EQ(rwFREELISTFLAG_FREEBLOCKS, fl->flags);
    EXPECT_EQ(1, CountBlocks(fl));
    EXPECT_TRUE(RwFreeListDestroy(fl));
}

TEST_F(FreeList, FiftyFirstEntryComesFromANewBlockPlacedFirst)
{
    RwFreeList *fl = RwFreeListCreate(16, 50, 4, 0x40000);
    ASSERT_NE(nullptr, fl);
    std::vector<RwUInt8 *> entries;
    for (int i = 0; i < 50; ++i) {
        entries.push_back(static_cast<RwUInt8 *>(RwFreeListAlloc(fl, 0x30000)));
        ASSERT_NE(nullptr, entries.back());
    }
    EXPECT_EQ(1, CountBlocks(fl));
    // One block: consecutive entries at 16-byte steps.
    for (int i = 1; i < 50; ++i) {
        EXPECT_EQ(entries[0] + 16 * i, entries[i]);
    }
    RwLLLink *oldFirst = fl->blockList.next;
    RwUInt8 *extra = static_cast<RwUInt8 *>(RwFreeListAlloc(fl, 0x30000));
    ASSERT_NE(nullptr, extra);
    EXPECT_EQ(2, CountBlocks(fl));
    EXPECT_NE(oldFirst, fl->blockList.next);
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

TEST_F(FreeList, FreedEntryIsReusedFirst)
{
    RwFreeList *fl = RwFreeListCreate(8, 16, 4, 0x40000);
    void *a = RwFreeListAlloc(fl, 0);
    void *b = RwFreeListAlloc(fl, 0);
    void *c = RwFreeListAlloc(fl, 0);
    RwFreeListFree(fl, b);
    EXPECT_EQ(b, RwFreeListAlloc(fl, 0));
    RwFreeListFree(fl, a);
    EXPECT_EQ(a, RwFreeListAlloc(fl, 0));
    EXPECT_NE(c, a);
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, EntriesHonourTheAlignment)
{
    for (RwInt32 align : {4, 8, 16, 32, 64}) {
        RwFreeList *fl = RwFreeListCreate(33, 10, align, 0x40000);
        ASSERT_NE(nullptr, fl);
        EXPECT_EQ(0u, fl->entrySize % align);
        EXPECT_GE(fl->entrySize, 33u);
        for (int i = 0; i < 25; ++i) {
            void *e = RwFreeListAlloc(fl, 0);
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e) % align) << align;
        }
        RwFreeListDestroy(fl);
    }
}

TEST_F(FreeList, BitmapMarksEntryZeroInTheTopBit)
{
    RwFreeList *fl = RwFreeListCreate(4, 12, 4, 0x40000);
    RwFreeListAlloc(fl, 0);
    RwFreeListAlloc(fl, 0);
    const RwUInt8 *bitmap = reinterpret_cast<const RwUInt8 *>(fl->blockList.next + 1);
    EXPECT_EQ(0xC0, bitmap[0]);
    EXPECT_EQ(0x00, bitmap[1]);
    for (int i = 0; i < 8; ++i) {
        RwFreeListAlloc(fl, 0);
    }
    EXPECT_EQ(0xFF, bitmap[0]);
    EXPECT_EQ(0xC0, bitmap[1]);
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, EntryOfNoBlockIsIgnored)
{
    RwFreeList *fl = RwFreeListCreate(8, 4, 4, 0x40000);
    void *e = RwFreeListAlloc(fl, 0);
    RwUInt8 stranger[8];
    RwFreeListFree(fl, stranger);
    RwFreeListFree(fl, static_cast<RwUInt8 *>(e) + 2);  // inside, not at an entry start
    EXPECT_EQ(1, CountBlocks(fl));
    const RwUInt8 *bitmap = reinterpret_cast<const RwUInt8 *>(fl->blockList.next + 1);
    EXPECT_EQ(0x80, bitmap[0]);
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
            // Filling the whole entry would spoil a neighbour or the block's
            // bitmap if entries overlapped.
            memset(e, 0xFF, 13);
            held.push_back(e);
        } else {
            size_t i = random.Below(static_cast<RwUInt32>(held.size()));
            RwFreeListFree(fl, held[i]);
            held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    // Live entries are distinct and never closer than one entry apart.
    std::set<RwUInt8 *> sorted(held.begin(), held.end());
    ASSERT_EQ(held.size(), sorted.size());
    RwUInt8 *previous = nullptr;
    for (RwUInt8 *e : sorted) {
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e) % 8);
        if (previous) {
            EXPECT_GE(e - previous, 16);
        }
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
    // The remaining block still serves its entry.
    RwFreeListFree(fl, e);
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, PurgeAllSumsOverEveryList)
{
    RwFreeList *a = RwFreeListCreate(8, 4, 4, 0x40000);
    RwFreeList *b = RwFreeListCreate(12, 4, 4, 0x40000);
    RwInt32 purged = RwFreeListPurgeAll();
    EXPECT_GE(purged, 20);
    EXPECT_EQ(0, CountBlocks(a));
    EXPECT_EQ(0, CountBlocks(b));
    RwFreeListDestroy(a);
    RwFreeListDestroy(b);
}

void Collect(void *entry, void *data)
{
    static_cast<std::vector<void *> *>(data)->push_back(entry);
}

TEST_F(FreeList, ForAllUsedVisitsEveryEntryInUse)
{
    RwFreeList *fl = RwFreeListCreate(8, 4, 4, 0x40000);
    std::set<void *> used;
    for (int i = 0; i < 10; ++i) {
        used.insert(RwFreeListAlloc(fl, 0));
    }
    void *gone = *used.begin();
    RwFreeListFree(fl, gone);
    used.erase(gone);
    std::vector<void *> seen;
    EXPECT_EQ(fl, RwFreeListForAllUsed(fl, Collect, &seen));
    EXPECT_EQ(used, std::set<void *>(seen.begin(), seen.end()));
    EXPECT_EQ(used.size(), seen.size());
    RwFreeListDestroy(fl);
}

void FreeEach(void *entry, void *data)
{
    RwFreeListFree(static_cast<RwFreeList *>(data), entry);
}

TEST_F(FreeList, ForAllUsedSurvivesCallbacksThatFreeEntries)
{
    RwFreeList *fl = RwFreeListCreate(8, 4, 4, 0x40000);
    for (int i = 0; i < 11; ++i) {
        RwFreeListAlloc(fl, 0);
    }
    EXPECT_EQ(fl, RwFreeListForAllUsed(fl, FreeEach, fl));
    EXPECT_EQ(0, CountBlocks(fl));
    RwFreeListDestroy(fl);
}

TEST_F(FreeList, CallerStorageIsNeverFreed)
{
    RwFreeList storage;
    RwFreeList *fl = RwFreeListCreateAndPreallocate(8, 4, 4, 1, &storage, 0x40000);
    ASSERT_EQ(&storage, fl);
    EXPECT_EQ(rwFREELISTFLAG_STATIC | rwFREELISTFLAG_FREEBLOCKS, fl->flags);
    EXPECT_TRUE(RwFreeListDestroy(fl));
}

TEST_F(FreeList, FailedPreallocationReleasesWhatWasMade)
{
    RwInt32 liveBefore = rwTestMemory.live;
    rwTestMemory.failAfter = 2;  // header slot comes from a pool block, then blocks
    RwFreeList *fl = RwFreeListCreateAndPreallocate(8, 4, 4, 5, nullptr, 0x40000);
    rwTestMemory.failAfter = -1;
    EXPECT_EQ(nullptr, fl);
    EXPECT_EQ(liveBefore, rwTestMemory.live);
}

TEST_F(FreeList, BadArgumentsAreRefused)
{
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

TEST(FreeListClosed, CreationOutsideTheEngineIsRefused)
{
    EXPECT_EQ(nullptr, RwFreeListCreate(8, 4, 4, 0x40000));
}

TEST(MemoryFunctions, CallerTableWithoutFreeIsRefused)
{
    RwErrorGet();
    RwMemoryFunctions partial = rwTestMemoryFunctions;
    partial.rwfree = nullptr;
    EXPECT_FALSE(RwEngineInit(&partial, 0, 0));
    EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
    RwError e = RwErrorGet();
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NULLP), e.errorCode);
}

TEST(MemoryFunctions, NullTableInstallsTheRuntimeAllocator)
{
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    void *p = RwMalloc(100, 0x30000);
    ASSERT_NE(nullptr, p);
    p = RwRealloc(p, 200, 0x1030000);
    ASSERT_NE(nullptr, p);
    RwFree(p);
    RwUInt8 *z = static_cast<RwUInt8 *>(RwCalloc(4, 8));
    ASSERT_NE(nullptr, z);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(0, z[i]);
    }
    RwFree(z);
    RwEngineTerm();
}

}  // namespace
