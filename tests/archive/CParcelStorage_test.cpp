// Space storage of the packed archive: allocation, freeing, compaction, table bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "archive/CParcelReader.h"
#include "archive/CParcelStorage.h"
#include "archive/CParcelWriter.h"
#include "archive/ParcelChunk.h"

namespace {

std::vector<uint32_t> ListOf(const CParcelIndexList &l)
{
    std::vector<uint32_t> v;
    for (CParcelIndexList::Node *n = l.First(); n; n = l.Next(n))
        v.push_back(n->value);
    return v;
}

struct Bytes {
    std::vector<uint8_t> b;
    void U8(uint8_t v) { b.push_back(v); }
    void U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b.push_back((uint8_t)(v >> (8 * i)));
    }
    void Box(uint8_t state, uint32_t off, uint32_t size)
    {
        U8(state);
        U32(off);
        U32(0);
        U32(size);
        U32(0);
        U32(0);
    }
};

// Version 2, capacity 8, three records: used [14,114), free [114,164), used [164,194).
Bytes SampleTable()
{
    Bytes t;
    t.U32(2);
    t.U32(8);
    t.U32(4);
    t.Box(4, 14, 100);
    t.Box(2, 114, 50);
    t.Box(4, 164, 30);
    t.Box(1, 0, 0);
    t.U32(3);
    t.U32(1);
    t.U32(1);
    t.U32(0);
    t.U32(1);
    t.U32(2);
    t.U32(1);
    t.U32(3);
    return t;
}

// A storage of that capacity with regions of these sizes, one after another
// from offset 14; their record indices in that order.
std::vector<uint32_t> Lay(CParcelStorage &s, int32_t capacity, std::initializer_list<uint32_t> sizes)
{
    s.Create(capacity);
    std::vector<uint32_t> r;
    for (uint32_t size : sizes)
        r.push_back(s.Allocate(size, 0));
    return r;
}

bool Parse(const std::vector<uint8_t> &b, CParcelStorage *s)
{
    CParcelReader r(b.data(), b.size());
    return s->ReadTable(r) != FALSE;
}

} // namespace

TEST(StorageAllocate, FirstRegionStartsAfterHeaderAndNextFollows)
{
    CParcelStorage s;
    ASSERT_TRUE(s.Create(1024));
    uint32_t a = s.Allocate(100, 0);
    uint32_t b = s.Allocate(40, 0);
    ASSERT_NE(a, PARCEL_NO_REGION);
    ASSERT_NE(b, PARCEL_NO_REGION);
    EXPECT_EQ(s.GetBox(a)->m_offsetLow, 14u);
    EXPECT_EQ(s.GetBox(b)->m_offsetLow, 114u);
    EXPECT_EQ(s.GetBox(b)->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(s.EndOfUsedData(), 154u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageAllocate, EmptyStorageEndsDataAtFourteen)
{
    CParcelStorage s;
    ASSERT_TRUE(s.Create(1));
    EXPECT_EQ(s.EndOfUsedData(), 14u);
}

TEST(StorageAllocate, FirstFitSplitsFreeRegionAndKeepsRemainderFree)
{
    CParcelStorage s;
    s.Create(1024);
    uint32_t a = s.Allocate(100, 0);
    s.Allocate(10, 0);
    s.Free(a);
    uint32_t c = s.Allocate(30, 0);
    EXPECT_EQ(c, a);
    EXPECT_EQ(s.GetBox(c)->m_offsetLow, 14u);
    std::vector<uint32_t> fl = ListOf(s.GetFreeList());
    ASSERT_EQ(fl.size(), 1u);
    EXPECT_EQ(s.GetBox(fl[0])->m_offsetLow, 44u);
    EXPECT_EQ(s.GetBox(fl[0])->m_sizeLow, 70u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageAllocate, FullTableTakesFreeRegionWhole)
{
    CParcelStorage s;
    s.Create(2);
    uint32_t a = s.Allocate(100, 0);
    s.Allocate(10, 0);
    s.Free(a);
    uint32_t c = s.Allocate(30, 0);
    ASSERT_EQ(c, a);
    EXPECT_EQ(s.GetBox(c)->m_sizeLow, 100u);
    EXPECT_EQ(s.Allocate(1, 0), PARCEL_NO_REGION);
    EXPECT_TRUE(s.Check());
}

TEST(StorageAllocate, CapacityOf1024AcceptsExactly1024Regions)
{
    CParcelStorage s;
    s.Create(1024);
    for (int i = 0; i < 1024; ++i)
        ASSERT_NE(s.Allocate(8, 0), PARCEL_NO_REGION) << i;
    EXPECT_EQ(s.Allocate(8, 0), PARCEL_NO_REGION);
    EXPECT_TRUE(s.Check());
}

TEST(StorageAllocate, RegionPastFourGibIsRefusedNotWrapped)
{
    CParcelStorage s;
    s.Create(16);
    uint32_t big = s.Allocate(0xF0000000u, 0);
    ASSERT_NE(big, PARCEL_NO_REGION);
    EXPECT_EQ(s.Allocate(0x10000000u, 0), PARCEL_NO_REGION);
    EXPECT_EQ(s.Allocate(0, 1), PARCEL_NO_REGION);
    uint32_t edge = s.Allocate(0xFFFFFFFFu - 14 - 0xF0000000u, 0);
    ASSERT_NE(edge, PARCEL_NO_REGION);
    EXPECT_EQ(s.GetBox(edge)->End(), 0xFFFFFFFFull);
    EXPECT_EQ(s.Allocate(1, 0), PARCEL_NO_REGION);
    EXPECT_TRUE(s.Check());
}

TEST(StorageFree, LastRegionBecomesSpare)
{
    CParcelStorage s;
    s.Create(16);
    s.Allocate(10, 0);
    uint32_t b = s.Allocate(20, 0);
    s.Free(b);
    EXPECT_EQ(s.GetBox(b)->m_state, PARCEL_BOX_SPARE);
    EXPECT_EQ(ListOf(s.GetSpareList()), std::vector<uint32_t>{b});
    EXPECT_EQ(s.GetRegionList().Count(), 1u);
    EXPECT_EQ(s.EndOfUsedData(), 24u);
    // The spare record is reused first.
    EXPECT_EQ(s.Allocate(5, 0), b);
    EXPECT_TRUE(s.Check());
}

TEST(StorageFree, MiddleRegionJoinsFreeListInFileOrder)
{
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 16, {10, 10, 10, 10, 10});
    s.Free(r[3]);
    s.Free(r[1]);
    EXPECT_EQ(ListOf(s.GetFreeList()), (std::vector<uint32_t>{r[1], r[3]}));
    EXPECT_EQ(s.GetBox(r[1])->m_state, PARCEL_BOX_FREE);
    EXPECT_TRUE(s.Check());
}

TEST(StorageFree, RegionBetweenTwoFreeRegionsCoalescesIntoOne)
{
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 16, {10, 10, 10, 10, 10});
    s.Free(r[1]);
    s.Free(r[3]);
    s.Free(r[2]);
    std::vector<uint32_t> fl = ListOf(s.GetFreeList());
    ASSERT_EQ(fl.size(), 1u);
    EXPECT_EQ(s.GetBox(fl[0])->m_offsetLow, 24u);
    EXPECT_EQ(s.GetBox(fl[0])->m_sizeLow, 30u);
    EXPECT_EQ(s.GetRegionList().Count(), 3u);
    EXPECT_EQ(s.GetSpareList().Count(), 2u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageFree, IgnoresBadIndexAndRegionsNotUsed)
{
    CParcelStorage s;
    s.Create(16);
    uint32_t a = s.Allocate(10, 0);
    s.Allocate(10, 0);
    s.Free(a);
    s.Free(a);
    s.Free(99);
    s.Free(PARCEL_NO_REGION);
    EXPECT_EQ(s.GetFreeList().Count(), 1u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageTrim, DropsFreeRegionAtTheEnd)
{
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 16, {10, 10, 10});
    s.Free(r[1]);
    EXPECT_EQ(s.Trim(), PARCEL_NO_REGION);
    s.Free(r[2]); // absorbed by r[1], which is now free and last
    EXPECT_EQ(s.Trim(), r[1]);
    EXPECT_EQ(s.GetFreeList().Count(), 0u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageCompact, EqualHoleAndLaterRegionMoveAndFileShrinks)
{
    CParcelStorage s;
    s.Create(16);
    uint32_t a = s.Allocate(100, 0);
    uint32_t b = s.Allocate(100, 0);
    s.Free(a);
    uint32_t end = s.EndOfUsedData();
    std::vector<ParcelMove> moves;
    s.Compact(1, &moves);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].srcLow, 114u);
    EXPECT_EQ(moves[0].dstLow, 14u);
    EXPECT_EQ(moves[0].sizeLow, 100u);
    EXPECT_EQ(s.GetBox(b)->m_offsetLow, 14u);
    EXPECT_EQ(s.EndOfUsedData(), end - 100);
    EXPECT_TRUE(s.Check());
}

TEST(StorageCompact, SmallestLeftoverWinsAndRemainderBecomesNextHole)
{
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 16, {10, 100, 10, 60, 10, 80, 10});
    const uint32_t hole = r[1], r80 = r[5];
    s.Free(hole);
    EXPECT_EQ(s.BestFit(hole), r80);
    std::vector<ParcelMove> moves;
    s.Compact(1, &moves);
    ASSERT_GE(moves.size(), 1u);
    EXPECT_EQ(moves[0].sizeLow, 80u);
    EXPECT_EQ(moves[0].dstLow, 24u);
    EXPECT_EQ(s.GetBox(r80)->m_offsetLow, 24u);
    // The 20 bytes left at 104 are the next hole; the last 10-byte region
    // (equal leftovers: the later one) fills half of it.
    ASSERT_GE(moves.size(), 2u);
    EXPECT_EQ(moves[1].dstLow, 104u);
    EXPECT_EQ(moves[1].srcLow, 284u);
    EXPECT_EQ(moves[1].sizeLow, 10u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageCompact, EqualCandidatesLaterRegionMoves)
{
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 16, {50, 5, 40, 5, 40, 5});
    s.Free(r[0]);
    EXPECT_EQ(s.BestFit(r[0]), r[4]);
}

TEST(StorageCompact, OutOfRangeLevelIsClamped)
{
    for (int level : {-5, 0, 3, 1000}) {
        CParcelStorage s;
        s.Free(Lay(s, 16, {100, 100, 7})[0]);
        std::vector<ParcelMove> moves;
        s.Compact(level, &moves);
        EXPECT_TRUE(s.Check()) << level;
        EXPECT_EQ(s.EndOfUsedData(), 14u + 107u) << level;
    }
}

// A simulated file: applying the moves must keep every used region's bytes.
class SimFile {
public:
    explicit SimFile(CParcelStorage *s) : m_s(s) {}
    void Fill(uint32_t idx, uint8_t seed)
    {
        const CParcelBox *b = m_s->GetBox(idx);
        Grow(b->End());
        std::vector<uint8_t> &c = m_expect[idx];
        c.resize(b->m_sizeLow);
        for (uint32_t i = 0; i < b->m_sizeLow; ++i) {
            c[i] = (uint8_t)(seed + i * 7);
            m_disk[b->m_offsetLow + i] = c[i];
        }
    }
    void Forget(uint32_t idx) { m_expect.erase(idx); }
    void Apply(const std::vector<ParcelMove> &moves)
    {
        for (const ParcelMove &m : moves) {
            Grow((uint64_t)m.srcLow + m.sizeLow);
            Grow((uint64_t)m.dstLow + m.sizeLow);
            for (uint32_t i = 0; i < m.sizeLow; ++i)
                m_disk[m.dstLow + i] = m_disk[m.srcLow + i];
        }
    }
    bool Intact() const
    {
        for (const auto &e : m_expect) {
            const CParcelBox *b = m_s->GetBox(e.first);
            if (!b || b->m_state != PARCEL_BOX_USED || b->m_sizeLow != e.second.size())
                return false;
            if (!e.second.empty() && memcmp(&m_disk[b->m_offsetLow], e.second.data(), e.second.size()))
                return false;
        }
        return true;
    }

private:
    void Grow(uint64_t end)
    {
        if (m_disk.size() < end)
            m_disk.resize((size_t)end, 0xEE);
    }
    CParcelStorage *m_s;
    std::vector<uint8_t> m_disk;
    std::map<uint32_t, std::vector<uint8_t>> m_expect;
};

TEST(StorageCompact, FullTableNeverFreesOverLiveData)
{
    // Hole of 100 with a 60-byte region after it and no record for the leftover.
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 4, {10, 100, 200, 60});
    SimFile f(&s);
    f.Fill(r[0], 1);
    f.Fill(r[2], 2);
    f.Fill(r[3], 3);
    s.Free(r[1]);
    ASSERT_EQ(s.GetCount(), 4);
    std::vector<ParcelMove> moves;
    s.Compact(1, &moves);
    f.Apply(moves);
    EXPECT_TRUE(s.Check());
    EXPECT_TRUE(f.Intact());
    EXPECT_EQ(s.EndOfUsedData(), 14u + 270u);
}

TEST(StorageCompact, RandomSequenceKeepsCheckAndContents)
{
    srand(12345);
    for (int round = 0; round < 60; ++round) {
        CParcelStorage s;
        s.Create(round % 3 == 0 ? 12 : 200);
        SimFile f(&s);
        std::vector<uint32_t> live;
        for (int step = 0; step < 400; ++step) {
            int op = rand() % 10;
            if (op < 5) {
                uint32_t size = (uint32_t)(rand() % 300);
                uint32_t idx = s.Allocate(size, 0);
                if (idx != PARCEL_NO_REGION) {
                    f.Fill(idx, (uint8_t)rand());
                    live.push_back(idx);
                }
            } else if (op < 9 && !live.empty()) {
                size_t k = (size_t)rand() % live.size();
                s.Free(live[k]);
                f.Forget(live[k]);
                live.erase(live.begin() + (long)k);
            } else {
                CParcelStorage *copy = s.Clone();
                ASSERT_NE(copy, nullptr);
                std::vector<ParcelMove> moves;
                s.Compact(1 + rand() % 2, &moves);
                f.Apply(moves);
                ASSERT_TRUE(copy->Check());
                delete copy;
            }
            ASSERT_TRUE(s.Check()) << round << " " << step;
            ASSERT_TRUE(f.Intact()) << round << " " << step;
        }
        std::vector<ParcelMove> moves;
        s.Compact(1, &moves);
        f.Apply(moves);
        ASSERT_TRUE(s.Check());
        ASSERT_TRUE(f.Intact());
        // Whatever is left ends no later than before: nothing grew.
        uint64_t used = 0;
        for (uint32_t i : live)
            used += s.GetBox(i)->m_sizeLow;
        EXPECT_GE(s.EndOfUsedData(), 14u + used);
    }
}

// Tables on disk end the file at 200; the data before them ends at 114.
TEST(StorageProtect, NewRegionsGoPastTheTablesOnDisk)
{
    CParcelStorage s;
    s.Create(16);
    uint32_t a = s.Allocate(100, 0);
    s.Protect(200);
    uint32_t b = s.Allocate(10, 0);
    ASSERT_NE(b, PARCEL_NO_REGION);
    EXPECT_EQ(s.GetBox(b)->m_offsetLow, 200u);
    // A held region covers the tables, so nothing else lands there either.
    std::vector<uint32_t> regions = ListOf(s.GetRegionList());
    ASSERT_EQ(regions.size(), 3u);
    const CParcelBox *cover = s.GetBox(regions[1]);
    EXPECT_EQ(cover->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(cover->m_offsetLow, 114u);
    EXPECT_EQ(cover->m_sizeLow, 86u);
    EXPECT_EQ(s.GetBox(s.Allocate(5, 0))->m_offsetLow, 210u);
    EXPECT_TRUE(s.Check());
    // Once new tables are due, the old ones' place is free space.
    s.Commit();
    EXPECT_EQ(cover->m_state, PARCEL_BOX_FREE);
    EXPECT_EQ(s.GetBox(a)->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(s.EndOfUsedData(), 215u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageProtect, ReleasedRegionOfTheTablesOnDiskIsHeldUntilCommit)
{
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 16, {10, 10});
    const uint32_t a = r[0], b = r[1];
    s.Protect(100);
    uint32_t fresh = s.Allocate(10, 0);
    s.Release(b);
    s.Release(b);
    EXPECT_EQ(s.GetBox(b)->m_state, PARCEL_BOX_USED);
    // A region the tables on disk do not know goes at once.
    s.Release(fresh);
    EXPECT_EQ(s.GetBox(fresh)->m_state, PARCEL_BOX_SPARE);
    // Same size as b, yet it cannot take b's place.
    uint32_t c = s.Allocate(10, 0);
    EXPECT_EQ(s.GetBox(c)->m_offsetLow, 100u);
    EXPECT_TRUE(s.Check());
    s.Commit();
    // b and the place of the tables now make one hole.
    std::vector<uint32_t> fl = ListOf(s.GetFreeList());
    ASSERT_EQ(fl.size(), 1u);
    EXPECT_EQ(s.GetBox(fl[0])->m_offsetLow, 24u);
    EXPECT_EQ(s.GetBox(fl[0])->m_sizeLow, 76u);
    EXPECT_EQ(s.GetBox(a)->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(s.GetBox(s.Allocate(10, 0))->m_offsetLow, 24u);
    // Unprotected, release frees as before.
    s.Release(a);
    EXPECT_NE(s.GetBox(a)->m_state, PARCEL_BOX_USED);
    EXPECT_TRUE(s.Check());
}

TEST(StorageProtect, FreeRegionAtTheEndIsTrimmedBeforeTheTables)
{
    // A free region last in the file overlaps the tables written after the
    // last used region; handing it out would overwrite them.
    CParcelStorage s;
    std::vector<uint32_t> r = Lay(s, 16, {10, 10, 10});
    s.Free(r[1]);
    s.Free(r[2]);
    ASSERT_EQ(s.GetFreeList().Count(), 1u);
    s.Protect(60);
    EXPECT_EQ(s.GetFreeList().Count(), 0u);
    EXPECT_EQ(s.GetBox(s.Allocate(10, 0))->m_offsetLow, 60u);
    s.Commit();
    EXPECT_EQ(s.EndOfUsedData(), 70u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageProtect, NoRecordToCoverTheTablesRefusesTheRegion)
{
    CParcelStorage s;
    s.Create(2);
    s.Allocate(10, 0);
    s.Protect(50);
    EXPECT_EQ(s.Allocate(10, 0), PARCEL_NO_REGION);
    EXPECT_EQ(s.GetCount(), 1);
    EXPECT_TRUE(s.Check());
    s.Commit();
    EXPECT_EQ(s.GetBox(s.Allocate(10, 0))->m_offsetLow, 24u);
}

TEST(StorageProtect, CloneKeepsTheProtection)
{
    CParcelStorage s;
    s.Create(16);
    uint32_t a = s.Allocate(10, 0);
    s.Protect(40);
    CParcelStorage *c = s.Clone();
    ASSERT_NE(c, nullptr);
    c->Release(a);
    EXPECT_EQ(c->GetBox(a)->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(c->GetBox(c->Allocate(10, 0))->m_offsetLow, 40u);
    c->Commit();
    EXPECT_EQ(c->GetBox(a)->m_state, PARCEL_BOX_FREE);
    EXPECT_EQ(s.GetBox(a)->m_state, PARCEL_BOX_USED);
    delete c;
}

TEST(StorageTable, HandAssembledTableReadsFieldByField)
{
    Bytes t = SampleTable();
    CParcelStorage s;
    ASSERT_TRUE(Parse(t.b, &s));
    EXPECT_EQ(s.GetCapacity(), 8);
    EXPECT_EQ(s.GetCount(), 4);
    EXPECT_EQ(s.GetBox(1)->m_state, PARCEL_BOX_FREE);
    EXPECT_EQ(s.GetBox(1)->m_offsetLow, 114u);
    EXPECT_EQ(s.GetBox(2)->m_sizeLow, 30u);
    EXPECT_EQ(ListOf(s.GetRegionList()), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(ListOf(s.GetFreeList()), std::vector<uint32_t>{1});
    EXPECT_EQ(ListOf(s.GetSpareList()), std::vector<uint32_t>{3});
    EXPECT_EQ(s.EndOfUsedData(), 194u);
    CParcelWriter w;
    s.WriteTable(w);
    EXPECT_EQ(w.Bytes(), t.b);
}

TEST(StorageTable, WrittenTableReadsBackIdentically)
{
    CParcelStorage s;
    s.Create(64);
    uint32_t r[6];
    for (int i = 0; i < 6; ++i)
        r[i] = s.Allocate(10 + i, 0);
    s.Free(r[1]);
    s.Free(r[5]);
    s.Free(r[3]);
    CParcelWriter w;
    s.WriteTable(w);
    CParcelStorage t;
    ASSERT_TRUE(Parse(w.Bytes(), &t));
    CParcelWriter w2;
    t.WriteTable(w2);
    EXPECT_EQ(w.Bytes(), w2.Bytes());
    EXPECT_EQ(ListOf(t.GetFreeList()), ListOf(s.GetFreeList()));
    EXPECT_EQ(ListOf(t.GetSpareList()), ListOf(s.GetSpareList()));
}

TEST(StorageTable, TruncationAtEveryOffsetFails)
{
    Bytes t = SampleTable();
    for (size_t n = 0; n < t.b.size(); ++n) {
        std::vector<uint8_t> cut(t.b.begin(), t.b.begin() + (long)n);
        CParcelStorage s;
        EXPECT_FALSE(Parse(cut, &s)) << n;
        EXPECT_EQ(s.GetCount(), 0);
    }
}

static void Poke(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (uint8_t)(v >> (8 * i));
}

// Offsets inside SampleTable: header 12, records 21 each, then lengths and lists.
enum { kRec = 12, kLens = 12 + 4 * 21, kLists = kLens + 12 };

TEST(StorageTable, ContradictoryTablesAreRefused)
{
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        bool byte;
    } cases[] = {
        {"version", 0, 1, false},
        {"count above capacity", 8, 9, false},
        {"huge count", 8, 0xFFFFFFF0u, false},
        {"zero capacity", 4, 0, false},
        {"huge capacity", 4, 0x80000000u, false},
        {"bad state", kRec, 3, true},
        {"spare in region list", kRec, 1, true},
        {"used in free list", kRec + 21, 4, true},
        {"overlap", kRec + 21 + 1, 100, false},
        {"before data start", kRec + 1, 13, false},
        {"offset high", kRec + 5, 1, false},
        {"size high", kRec + 13, 1, false},
        {"wraps 4 GiB", kRec + 2 * 21 + 9, 0xFFFFFFF0u, false},
        {"region length", kLens, 4, false},
        {"free length", kLens + 4, 3, false},
        {"spare length", kLens + 8, 0x40000000u, false},
        {"index out of range", kLists, 4, false},
        {"duplicate region", kLists + 4, 0, false},
        {"free index out of range", kLists + 12, 7, false},
        {"free not in region list", kLists + 12, 3, false},
        {"spare index used", kLists + 16, 0, false},
    };
    for (const Case &c : cases) {
        Bytes t = SampleTable();
        if (c.byte)
            t.b[c.at] = (uint8_t)c.value;
        else
            Poke(t.b, c.at, c.value);
        CParcelStorage s;
        EXPECT_FALSE(Parse(t.b, &s)) << c.what;
    }
}

TEST(StorageTable, FreeRegionMissingFromFreeListIsRefused)
{
    Bytes t;
    t.U32(2);
    t.U32(4);
    t.U32(2);
    t.Box(2, 14, 10);
    t.Box(4, 24, 10);
    t.U32(2);
    t.U32(0);
    t.U32(0);
    t.U32(0);
    t.U32(1);
    CParcelStorage s;
    EXPECT_FALSE(Parse(t.b, &s));
}

TEST(StorageTable, ReadsAndWritesChunkThroughFile)
{
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "pst", 0, path);
    HANDLE f = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CParcelStorage s;
    s.Create(32);
    s.Allocate(10, 0);
    s.Free(s.Allocate(20, 0));
    s.Allocate(5, 0);
    ASSERT_TRUE(ParcelWriteU32(f, 0xAABBCCDDu));
    ASSERT_TRUE(s.Write(f));
    uint32_t end;
    ASSERT_TRUE(ParcelTell(f, &end));
    ASSERT_TRUE(ParcelSeek(f, 4));
    ParcelChunkHeader h;
    ASSERT_TRUE(ParcelPeekHeader(f, &h));
    EXPECT_EQ(h.id, 0x1102);
    EXPECT_EQ(h.length, end - 4);
    CParcelStorage t;
    ASSERT_TRUE(t.Read(f));
    uint32_t after;
    ASSERT_TRUE(ParcelTell(f, &after));
    EXPECT_EQ(after, end);
    EXPECT_EQ(t.GetCount(), s.GetCount());
    EXPECT_TRUE(t.Check());
    // A chunk whose length runs past the end of the file is refused.
    ASSERT_TRUE(ParcelSeek(f, end - 1));
    SetEndOfFile(f);
    ASSERT_TRUE(ParcelSeek(f, 4));
    CParcelStorage u;
    EXPECT_FALSE(u.Read(f));
    CloseHandle(f);
    DeleteFileA(path);
}

TEST(StorageClone, CopyIsIndependent)
{
    CParcelStorage s;
    s.Create(16);
    uint32_t a = s.Allocate(10, 0);
    s.Allocate(10, 0);
    CParcelStorage *c = s.Clone();
    ASSERT_NE(c, nullptr);
    c->Free(a);
    EXPECT_EQ(s.GetBox(a)->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(c->GetBox(a)->m_state, PARCEL_BOX_FREE);
    EXPECT_TRUE(s.Check());
    EXPECT_TRUE(c->Check());
    delete c;
}
