#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/memory.h"
#include "support/test_driver.h"

namespace {

RwEngineOpenParams openParams = {nullptr};

std::vector<RwResEntry *> destroyed;

void RecordDestroy(RwResEntry *entry)
{
    destroyed.push_back(entry);
}

RwError TakeError()
{
    return RwErrorGetLast();
}

// An engine started with an arena of the given size.
class Arena : public ::testing::Test {
protected:
    void StartWith(RwUInt32 arenaSize)
    {
        RwTestDriverReset();
        ASSERT_TRUE(RwEngineInit(nullptr, 0, arenaSize));
        ASSERT_TRUE(RwEngineOpen(&openParams));
        ASSERT_TRUE(RwEngineStart());
        destroyed.clear();
        TakeError();
    }
    void TearDown() override
    {
        if (RwEngineGetStatus() == rwENGINESTATUSSTARTED) {
            RwEngineStop();
        }
        if (RwEngineGetStatus() == rwENGINESTATUSOPENED) {
            RwEngineClose();
        }
        RwEngineTerm();
    }
};

// Entries of 1000 bytes take 1024 + 32 arena bytes: three fit in 4096.
const RwUInt32 smallArena = 4096;
const RwInt32 entrySize = 1000;

TEST_F(Arena, EntryIsStoredThroughTheOwnerReference)
{
    StartWith(smallArena);
    RwResEntry *ref = nullptr;
    int owner = 0;
    RwResEntry *e = RwResourcesAllocateEntry(&owner, &ref, 100, RecordDestroy);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(e, ref);
    EXPECT_EQ(&owner, e->owner);
    EXPECT_EQ(100, e->size);
    EXPECT_NE(nullptr, e->link.next);
    EXPECT_EQ(100, RwResourcesGetArenaUsage());
    memset(RwResEntryData(e), 0xAB, 100);
    EXPECT_TRUE(RwResourcesFreeEntry(e));
    EXPECT_EQ(nullptr, ref);
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
    ASSERT_EQ(1u, destroyed.size());
    EXPECT_EQ(e, destroyed[0]);
}

TEST_F(Arena, FormWithoutOwnerReference)
{
    StartWith(smallArena);
    int owner = 0;
    RwResEntry *e = RwResourcesAllocateEntry(&owner, 64, nullptr);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(nullptr, e->ownerRef);
    EXPECT_TRUE(RwResourcesFreeEntry(e));
}

TEST_F(Arena, FullArenaEvictsLeastRecentlyUsedFirst)
{
    StartWith(smallArena);
    RwResEntry *ref[4] = {};
    // Frame 1: e0, e1.
    RwResourcesAllocateEntry(nullptr, &ref[0], entrySize, RecordDestroy);
    RwResourcesAllocateEntry(nullptr, &ref[1], entrySize, RecordDestroy);
    RwResourcesNextFrame();
    // Frame 2: e2, and e0 used again.
    RwResourcesAllocateEntry(nullptr, &ref[2], entrySize, RecordDestroy);
    RwResourcesUseResEntry(ref[0]);
    RwResourcesNextFrame();
    RwResEntry *e1 = ref[1];
    RwResEntry *e2 = ref[2];
    ASSERT_TRUE(ref[0] && e1 && e2);
    ASSERT_TRUE(destroyed.empty());
    // Frame 3: the arena is full, so e1 (unused longest) goes first.
    ASSERT_NE(nullptr, RwResourcesAllocateEntry(nullptr, &ref[3], entrySize, RecordDestroy));
    ASSERT_EQ(1u, destroyed.size());
    EXPECT_EQ(e1, destroyed[0]);
    EXPECT_EQ(nullptr, ref[1]);
    EXPECT_NE(nullptr, ref[0]);
    EXPECT_NE(nullptr, ref[2]);
    EXPECT_EQ(0, RwResourcesGetEvictedThisFrame());
    // Next victim is e2, then e0.
    RwResEntry *extra = nullptr;
    ASSERT_NE(nullptr, RwResourcesAllocateEntry(nullptr, &extra, entrySize, RecordDestroy));
    ASSERT_EQ(2u, destroyed.size());
    EXPECT_EQ(e2, destroyed[1]);
    EXPECT_EQ(3 * entrySize, RwResourcesGetArenaUsage());
}

TEST_F(Arena, EvictionWithinTheCurrentFrameIsCounted)
{
    StartWith(smallArena);
    RwResEntry *ref[3] = {};
    for (auto &r : ref) {
        ASSERT_NE(nullptr, RwResourcesAllocateEntry(nullptr, &r, entrySize, RecordDestroy));
    }
    RwResEntry *oldest = ref[0];
    RwResEntry *more = nullptr;
    ASSERT_NE(nullptr, RwResourcesAllocateEntry(nullptr, &more, entrySize, RecordDestroy));
    ASSERT_EQ(1u, destroyed.size());
    EXPECT_EQ(oldest, destroyed[0]);
    EXPECT_EQ(entrySize, RwResourcesGetEvictedThisFrame());
    RwResourcesNextFrame();
    EXPECT_EQ(0, RwResourcesGetEvictedThisFrame());
}

std::vector<intptr_t> destroyedOwners;

void RecordOwner(RwResEntry *entry)
{
    destroyedOwners.push_back(reinterpret_cast<intptr_t>(entry->owner));
}

TEST_F(Arena, EachEvictedEntryIsDestroyedOnce)
{
    StartWith(smallArena);
    destroyedOwners.clear();
    RwResEntry *refs[40] = {};
    for (intptr_t i = 0; i < 40; ++i) {
        ASSERT_NE(nullptr, RwResourcesAllocateEntry(reinterpret_cast<void *>(i), &refs[i],
                                                    200 + 37 * static_cast<RwInt32>(i % 7), RecordOwner));
        if (i % 5 == 4) {
            RwResourcesNextFrame();
        }
    }
    std::map<intptr_t, int> calls;
    for (intptr_t owner : destroyedOwners) {
        ++calls[owner];
    }
    RwInt32 sum = 0;
    for (intptr_t i = 0; i < 40; ++i) {
        if (refs[i]) {
            EXPECT_EQ(0, calls[i]) << i;
            sum += refs[i]->size;
        } else {
            EXPECT_EQ(1, calls[i]) << i;
        }
    }
    EXPECT_FALSE(destroyedOwners.empty());
    EXPECT_EQ(sum, RwResourcesGetArenaUsage());
}

TEST_F(Arena, RequestLargerThanTheArenaFailsWithoutEvicting)
{
    StartWith(smallArena);
    RwResEntry *ref = nullptr;
    ASSERT_NE(nullptr, RwResourcesAllocateEntry(nullptr, &ref, 100, RecordDestroy));
    RwResEntry *big = reinterpret_cast<RwResEntry *>(1);
    EXPECT_EQ(nullptr, RwResourcesAllocateEntry(nullptr, &big, smallArena, RecordDestroy));
    EXPECT_TRUE(destroyed.empty());
    EXPECT_NE(nullptr, ref);
    EXPECT_EQ(reinterpret_cast<RwResEntry *>(1), big);
    RwError e = TakeError();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_RESOURCES_FULL, e.errorCode);
    EXPECT_EQ(nullptr, RwResourcesAllocateEntry(nullptr, nullptr, -1, nullptr));
}

TEST_F(Arena, RequestOfTheWholeArenaEvictsEverything)
{
    StartWith(smallArena);
    RwResEntry *ref[3] = {};
    for (auto &r : ref) {
        ASSERT_NE(nullptr, RwResourcesAllocateEntry(nullptr, &r, entrySize, RecordDestroy));
    }
    // Find the largest size that fits into an empty arena of this size.
    RwInt32 largest = 0;
    for (RwInt32 size = 3000; size < 4096; size += 8) {
        RwResEntry *probe = RwResourcesAllocateEntry(nullptr, nullptr, size, nullptr);
        if (!probe) {
            TakeError();
            break;
        }
        largest = size;
        RwResourcesFreeEntry(probe);
    }
    EXPECT_GT(largest, 3800);
    EXPECT_EQ(3u, destroyed.size());
    EXPECT_EQ(nullptr, ref[0]);
    EXPECT_EQ(nullptr, ref[1]);
    EXPECT_EQ(nullptr, ref[2]);
}

TEST_F(Arena, FreedNeighboursMergeIntoOneBlock)
{
    StartWith(smallArena);
    RwResEntry *a = RwResourcesAllocateEntry(nullptr, entrySize, RecordDestroy);
    RwResEntry *b = RwResourcesAllocateEntry(nullptr, entrySize, RecordDestroy);
    RwResEntry *c = RwResourcesAllocateEntry(nullptr, entrySize, RecordDestroy);
    ASSERT_TRUE(a && b && c);
    RwResourcesFreeEntry(b);
    RwResourcesFreeEntry(a);
    destroyed.clear();
    // a and b together (2 x 1024 + one 32-byte header) hold 2000 + 24 bytes.
    RwResEntry *ab = RwResourcesAllocateEntry(nullptr, 2 * 1024 + 32 - 24, RecordDestroy);
    ASSERT_NE(nullptr, ab);
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(a, ab);
}

TEST_F(Arena, EmptyArenaDestroysEveryEntry)
{
    StartWith(smallArena);
    RwResEntry *ref[3] = {};
    RwResourcesAllocateEntry(nullptr, &ref[0], 10, RecordDestroy);
    RwResourcesNextFrame();
    RwResourcesAllocateEntry(nullptr, &ref[1], 20, RecordDestroy);
    RwResourcesAllocateEntry(nullptr, &ref[2], 30, RecordDestroy);
    EXPECT_TRUE(RwResourcesEmptyArena());
    EXPECT_EQ(3u, destroyed.size());
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
    for (RwResEntry *r : ref) {
        EXPECT_EQ(nullptr, r);
    }
    // The arena serves allocations again.
    EXPECT_NE(nullptr, RwResourcesAllocateEntry(nullptr, 3 * entrySize, nullptr));
}

TEST_F(Arena, StopDestroysRemainingEntries)
{
    StartWith(smallArena);
    RwResEntry *ref = nullptr;
    RwResourcesAllocateEntry(nullptr, &ref, 10, RecordDestroy);
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(1u, destroyed.size());
    EXPECT_EQ(nullptr, ref);
}

TEST_F(Arena, StaleOwnerReferenceIsNotCleared)
{
    StartWith(smallArena);
    RwResEntry *ref = nullptr;
    RwResEntry *first = RwResourcesAllocateEntry(nullptr, &ref, 10, nullptr);
    RwResEntry *second = RwResourcesAllocateEntry(nullptr, &ref, 10, nullptr);
    ASSERT_EQ(second, ref);
    RwResourcesFreeEntry(first);
    EXPECT_EQ(second, ref);
}

TEST_F(Arena, WithoutArenaEntriesArePlainBlocks)
{
    StartWith(0);
    RwResEntry *ref = nullptr;
    RwResEntry *e = RwResourcesAllocateEntry(nullptr, &ref, 5000, RecordDestroy);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(nullptr, e->link.next);
    EXPECT_EQ(e, ref);
    memset(RwResEntryData(e), 1, 5000);
    RwResourcesUseResEntry(e);
    RwResourcesNextFrame();
    EXPECT_TRUE(RwResourcesFreeEntry(e));
    EXPECT_EQ(1u, destroyed.size());
    EXPECT_EQ(nullptr, ref);
}

TEST_F(Arena, EntryFilledByHandIsFreedWithTheFreeFunction)
{
    StartWith(smallArena);
    RwResEntry *e = static_cast<RwResEntry *>(RwMalloc(sizeof(RwResEntry) + 16, 0x3050D));
    memset(e, 0, sizeof(*e));
    e->size = 16;
    e->destroyNotify = RecordDestroy;
    EXPECT_TRUE(RwResourcesFreeEntry(e));
    EXPECT_EQ(1u, destroyed.size());
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
}

TEST_F(Arena, ArenaTooSmallFailsTheStart)
{
    RwTestDriverReset();
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 40));
    ASSERT_TRUE(RwEngineOpen(&openParams));
    TakeError();
    EXPECT_FALSE(RwEngineStart());
    RwError e = TakeError();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_RESOURCES_FULL, e.errorCode);
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
}

TEST(ArenaClosed, AllocationBeforeStartFails)
{
    RwErrorGetLast();
    EXPECT_EQ(nullptr, RwResourcesAllocateEntry(nullptr, nullptr, 10, nullptr));
    EXPECT_FALSE(RwResourcesEmptyArena());
    RwResourcesNextFrame();
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
}

}  // namespace
