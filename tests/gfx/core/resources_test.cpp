#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/memory.h"
#include "started_engine.h"
#include "support/test_driver.h"
#include "support/test_memory.h"
#include "support/test_random.h"

namespace {

RwEngineOpenParams openParams = {nullptr};

std::vector<RwResourceEntry *> destroyed;

void RecordDestroy(RwResourceEntry *entry)
{
    destroyed.push_back(entry);
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
    void TearDown() override { StopEngineWherever(); }
};

// Entries of 1000 bytes take 1024 + 32 arena bytes: three fit in 4096.
const RwUInt32 smallArena = 4096;
const RwInt32 entrySize = 1000;

TEST_F(Arena, EntryIsStoredThroughTheOwnerReferenceAndClearedOnFree)
{
    StartWith(smallArena);
    RwResourceEntry *ref = nullptr;
    int owner = 0;
    RwResourceEntry *e = RwResourcesAllocateEntry(&owner, &ref, 100, RecordDestroy);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(e, ref);
    EXPECT_EQ(&owner, e->owner);
    EXPECT_EQ(100, RwResourcesGetArenaUsage());
    memset(RwResourceEntryData(e), 0xAB, 100);
    EXPECT_TRUE(RwResourcesFreeEntry(e));
    EXPECT_EQ(nullptr, ref);
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
    EXPECT_EQ(std::vector<RwResourceEntry *>{e}, destroyed);
    // A reference that now names another entry is left alone.
    RwResourceEntry *first = RwResourcesAllocateEntry(nullptr, &ref, 10, nullptr);
    RwResourceEntry *second = RwResourcesAllocateEntry(nullptr, &ref, 10, nullptr);
    RwResourcesFreeEntry(first);
    EXPECT_EQ(second, ref);
    // The form without a reference.
    e = RwResourcesAllocateEntry(&owner, 64, nullptr);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(nullptr, e->ownerRef);
    EXPECT_TRUE(RwResourcesFreeEntry(e));
}

RwResourceEntry *Allocate(RwResourceEntry **ref, RwInt32 size = entrySize)
{
    return RwResourcesAllocateEntry(nullptr, ref, size, RecordDestroy);
}

TEST_F(Arena, FullArenaEvictsLeastRecentlyUsedFirst)
{
    StartWith(smallArena);
    RwResourceEntry *ref[6] = {};
    // Frame 1: e0, e1. Frame 2: e2, and e0 used again.
    Allocate(&ref[0]);
    Allocate(&ref[1]);
    RwResourcesNextFrame();
    Allocate(&ref[2]);
    RwResourcesUseResEntry(ref[0]);
    RwResourcesNextFrame();
    const std::vector<RwResourceEntry *> first(ref, ref + 3);
    ASSERT_TRUE(ref[0] && ref[1] && ref[2]);
    ASSERT_TRUE(destroyed.empty());
    // Frame 3: the arena is full, so e1 (unused longest) goes first, then e2, then e0.
    for (int i = 3; i < 6; ++i) {
        ASSERT_NE(nullptr, Allocate(&ref[i]));
    }
    EXPECT_EQ((std::vector<RwResourceEntry *>{first[1], first[2], first[0]}), destroyed);
    EXPECT_EQ(nullptr, ref[0]);
    EXPECT_EQ(nullptr, ref[1]);
    EXPECT_EQ(nullptr, ref[2]);
    EXPECT_EQ(3 * entrySize, RwResourcesGetArenaUsage());
    EXPECT_EQ(0, RwResourcesGetEvictedThisFrame());
    // Evicting an entry of this frame is counted, until the next frame.
    RwResourceEntry *oldest = ref[3];
    RwResourceEntry *more = nullptr;
    ASSERT_NE(nullptr, Allocate(&more));
    EXPECT_EQ(oldest, destroyed.back());
    EXPECT_EQ(entrySize, RwResourcesGetEvictedThisFrame());
    RwResourcesNextFrame();
    EXPECT_EQ(0, RwResourcesGetEvictedThisFrame());
}

// Largest entry an empty arena takes, found by halving.
RwInt32 LargestEntry()
{
    RwInt32 low = 0;
    RwInt32 high = 1 << 20;
    while (low < high) {
        RwInt32 mid = (low + high + 1) / 2;
        RwResourceEntry *probe = RwResourcesAllocateEntry(nullptr, nullptr, mid, nullptr);
        if (probe) {
            RwResourcesFreeEntry(probe);
            low = mid;
        } else {
            TakeError();
            high = mid - 1;
        }
    }
    return low;
}

TEST_F(Arena, RequestLargerThanTheArenaFailsWithoutEvicting)
{
    StartWith(smallArena);
    RwResourceEntry *ref[3] = {};
    for (auto &r : ref) {
        ASSERT_NE(nullptr, Allocate(&r));
    }
    RwResourceEntry *big = reinterpret_cast<RwResourceEntry *>(1);
    EXPECT_EQ(nullptr, Allocate(&big, smallArena));
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(reinterpret_cast<RwResourceEntry *>(1), big);
    RwError e = TakeError();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_RESOURCES_FULL, e.errorCode);
    EXPECT_EQ(nullptr, RwResourcesAllocateEntry(nullptr, nullptr, -1, nullptr));
    // Nearly the whole arena evicts everything.
    TakeError();
    EXPECT_GT(LargestEntry(), 3800);
    EXPECT_EQ(3u, destroyed.size());
    EXPECT_EQ(nullptr, ref[0]);
    EXPECT_EQ(nullptr, ref[1]);
    EXPECT_EQ(nullptr, ref[2]);
}

TEST_F(Arena, RandomUseKeepsEntriesApartAndMergesBack)
{
    StartWith(0x10000);
    const RwInt32 largest = LargestEntry();
    ASSERT_GT(largest, 0x10000 - 256);
    // Each entry, evicted or freed, is destroyed once.
    struct Held {
        RwResourceEntry *ref;
        RwUInt8 fill;
        int destroyed;
    };
    const RwResourceEntryDestroyNotify count = [](RwResourceEntry *e) { ++static_cast<Held *>(e->owner)->destroyed; };
    std::vector<Held *> held;
    TestRandom random(12345);
    for (int step = 0; step < 3000; ++step) {
        if (held.empty() || random.Below(3) != 0) {
            Held *h = new Held{nullptr, static_cast<RwUInt8>(step), 0};
            RwInt32 size = 1 + static_cast<RwInt32>(random.Below(3000));
            ASSERT_NE(nullptr, RwResourcesAllocateEntry(h, &h->ref, size, count));
            memset(RwResourceEntryData(h->ref), h->fill, static_cast<size_t>(size));
            held.push_back(h);
        } else {
            size_t i = random.Below(static_cast<RwUInt32>(held.size()));
            Held *h = held[i];
            if (h->ref) {
                // No other entry wrote into this one's data.
                const RwUInt8 *data = static_cast<const RwUInt8 *>(RwResourceEntryData(h->ref));
                for (RwInt32 b = 0; b < h->ref->size; ++b) {
                    ASSERT_EQ(h->fill, data[b]) << step;
                }
                RwResourcesFreeEntry(h->ref);
            }
            ASSERT_EQ(1, h->destroyed) << step;
            held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
            delete h;
        }
        if (step % 100 == 99) {
            RwResourcesNextFrame();
        }
    }
    for (Held *h : held) {
        if (h->ref) {
            RwResourcesFreeEntry(h->ref);
        }
        EXPECT_EQ(1, h->destroyed);
        delete h;
    }
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
    // Every freed block joined its neighbours again: the whole arena is one block.
    RwResourceEntry *whole = RwResourcesAllocateEntry(nullptr, nullptr, largest, nullptr);
    EXPECT_NE(nullptr, whole);
    RwResourcesFreeEntry(whole);
}

TEST_F(Arena, EmptyArenaAndStopDestroyEveryEntry)
{
    StartWith(smallArena);
    RwResourceEntry *ref[3] = {};
    Allocate(&ref[0], 10);
    RwResourcesNextFrame();
    Allocate(&ref[1], 20);
    Allocate(&ref[2], 30);
    EXPECT_TRUE(RwResourcesEmptyArena());
    EXPECT_EQ(3u, destroyed.size());
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
    EXPECT_EQ(nullptr, ref[0]);
    EXPECT_EQ(nullptr, ref[1]);
    EXPECT_EQ(nullptr, ref[2]);
    // The arena serves allocations again, and the stop empties it.
    EXPECT_NE(nullptr, RwResourcesAllocateEntry(nullptr, &ref[0], 3 * entrySize, RecordDestroy));
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(4u, destroyed.size());
    EXPECT_EQ(nullptr, ref[0]);
}

TEST_F(Arena, WithoutArenaEntriesArePlainBlocks)
{
    StartWith(0);
    RwResourceEntry *ref = nullptr;
    RwResourceEntry *e = Allocate(&ref, 5000);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(nullptr, e->link.next);
    EXPECT_EQ(e, ref);
    memset(RwResourceEntryData(e), 1, 5000);
    RwResourcesUseResEntry(e);
    RwResourcesNextFrame();
    EXPECT_TRUE(RwResourcesFreeEntry(e));
    EXPECT_EQ(1u, destroyed.size());
    EXPECT_EQ(nullptr, ref);
}

TEST_F(Arena, EntryFilledByHandIsFreedWithTheFreeFunction)
{
    StartWith(smallArena);
    RwResourceEntry *e = static_cast<RwResourceEntry *>(RwMalloc(sizeof(RwResourceEntry) + 16, 0x3050D));
    memset(e, 0, sizeof(*e));
    e->size = 16;
    e->destroyNotify = RecordDestroy;
    EXPECT_TRUE(RwResourcesFreeEntry(e));
    EXPECT_EQ(1u, destroyed.size());
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
}

TEST_F(Arena, ArenaThatCannotBeMadeFailsTheStart)
{
    RwTestDriverReset();
    RwTestMemoryReset();
    // Too small to set up: the error stays for the caller.
    ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 40));
    ASSERT_TRUE(RwEngineOpen(&openParams));
    TakeError();
    EXPECT_FALSE(RwEngineStart());
    RwError e = TakeError();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_RESOURCES_FULL, e.errorCode);
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    ASSERT_TRUE(RwEngineClose());
    ASSERT_TRUE(RwEngineTerm());
    // No memory for it: the modules opened before give theirs back.
    ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, smallArena));
    ASSERT_TRUE(RwEngineOpen(&openParams));
    const RwInt32 liveBefore = rwTestMemory.live;
    rwTestMemory.failHint = 0x4040B;
    EXPECT_FALSE(RwEngineStart());
    rwTestMemory.failHint = 0;
    e = TakeError();
    EXPECT_EQ(0, e.pluginID);
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOMEM), e.errorCode);
    EXPECT_EQ(rwENGINESTATUSOPENED, RwEngineGetStatus());
    EXPECT_EQ(liveBefore, rwTestMemory.live);
    EXPECT_EQ(nullptr, RwResourcesAllocateEntry(nullptr, nullptr, 10, nullptr));
}

TEST(ArenaClosed, AllocationBeforeStartFails)
{
    RwErrorGet();
    EXPECT_EQ(nullptr, RwResourcesAllocateEntry(nullptr, nullptr, 10, nullptr));
    EXPECT_FALSE(RwResourcesEmptyArena());
    RwResourcesNextFrame();
    EXPECT_EQ(0, RwResourcesGetArenaUsage());
}

}  // namespace
