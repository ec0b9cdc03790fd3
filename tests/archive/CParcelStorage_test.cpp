// Space storage of the packed archive: allocation, freeing, compaction, table bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "LeBytes.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelStorage.h"
#include "archive/CParcelWriter.h"
#include "archive/ParcelChunk.h"
#include "archive/ParcelIo.h"
#include "support/scratch_folder.h"

namespace {

typedef std::vector<uint32_t> Indices;
typedef std::pair<uint32_t, uint32_t> Span;

Indices ListOf(const CParcelIndexList &l)
{
    Indices v;
    for (CParcelIndexList::Node *n = l.First(); n; n = l.Next(n))
        v.push_back(n->value);
    return v;
}

// Offset and size of a record's region.
Span SpanOf(const CParcelStorage &s, uint32_t index)
{
    const CParcelBox *b = s.GetBox(index);
    return b ? Span(b->m_offsetLow, b->m_sizeLow) : Span(0xDEAD, 0xDEAD);
}

// Version 2, capacity 8, three records: used [14,114), free [114,164), used [164,194);
// one spare record.
Bytes SampleTable()
{
    Bytes t;
    t.U32s({2, 8, 4});
    t.Record(4, 14, 100);
    t.Record(2, 114, 50);
    t.Record(4, 164, 30);
    t.Record(1, 0, 0);
    t.U32s({3, 1, 1, 0, 1, 2, 1, 3});
    return t;
}

// A storage of that capacity with regions of these sizes, one after another
// from offset 14; their record indices in that order.
Indices Lay(CParcelStorage &s, int32_t capacity, std::initializer_list<uint32_t> sizes)
{
    s.Create(capacity);
    Indices r;
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

TEST(StorageAllocate, FirstFitSplitsAHoleAndAFullTableTakesItWhole)
{
    CParcelStorage s;
    ASSERT_TRUE(s.Create(1024));
    EXPECT_EQ(s.EndOfUsedData(), 14u);
    Indices r = Lay(s, 1024, {100, 10});
    EXPECT_EQ(SpanOf(s, r[0]), Span(14, 100));
    EXPECT_EQ(SpanOf(s, r[1]), Span(114, 10));
    EXPECT_EQ(s.EndOfUsedData(), 124u);
    s.Free(r[0]);
    EXPECT_EQ(s.Allocate(30, 0), r[0]);
    EXPECT_EQ(SpanOf(s, r[0]), Span(14, 30));
    Indices fl = ListOf(s.GetFreeList());
    ASSERT_EQ(fl.size(), 1u);
    EXPECT_EQ(SpanOf(s, fl[0]), Span(44, 70));
    EXPECT_TRUE(s.Check());

    // No record left for the remainder: the hole goes whole.
    r = Lay(s, 2, {100, 10});
    s.Free(r[0]);
    ASSERT_EQ(s.Allocate(30, 0), r[0]);
    EXPECT_EQ(SpanOf(s, r[0]), Span(14, 100));
    EXPECT_EQ(s.Allocate(1, 0), PARCEL_NO_REGION);
    EXPECT_TRUE(s.Check());
}

TEST(StorageAllocate, RegionPastFourGibIsRefusedNotWrapped)
{
    CParcelStorage s;
    s.Create(16);
    ASSERT_NE(s.Allocate(0xF0000000u, 0), PARCEL_NO_REGION);
    EXPECT_EQ(s.Allocate(0x10000000u, 0), PARCEL_NO_REGION);
    EXPECT_EQ(s.Allocate(0, 1), PARCEL_NO_REGION);
    uint32_t edge = s.Allocate(0xFFFFFFFFu - 14 - 0xF0000000u, 0);
    ASSERT_NE(edge, PARCEL_NO_REGION);
    EXPECT_EQ(s.GetBox(edge)->End(), 0xFFFFFFFFull);
    EXPECT_EQ(s.Allocate(1, 0), PARCEL_NO_REGION);
    EXPECT_TRUE(s.Check());
}

TEST(StorageFree, HolesJoinInFileOrderCoalesceAndTrimFromTheEnd)
{
    CParcelStorage s;
    Indices r = Lay(s, 16, {10, 10, 10, 10, 10});
    // The last region leaves no hole: its record becomes spare and is reused first.
    s.Free(r[4]);
    EXPECT_EQ(s.GetBox(r[4])->m_state, PARCEL_BOX_SPARE);
    EXPECT_EQ(s.EndOfUsedData(), 54u);
    EXPECT_EQ(s.Allocate(5, 0), r[4]);
    EXPECT_TRUE(s.Check());

    s.Free(r[3]);
    s.Free(r[1]);
    // Bad indices and regions not in use are ignored.
    s.Free(r[1]);
    s.Free(99);
    s.Free(PARCEL_NO_REGION);
    EXPECT_EQ(ListOf(s.GetFreeList()), (Indices{r[1], r[3]}));
    EXPECT_EQ(s.Trim(), PARCEL_NO_REGION);
    EXPECT_TRUE(s.Check());

    // The region between two holes makes one hole of all three.
    s.Free(r[2]);
    Indices fl = ListOf(s.GetFreeList());
    ASSERT_EQ(fl.size(), 1u);
    EXPECT_EQ(SpanOf(s, fl[0]), Span(24, 30));
    EXPECT_EQ(s.GetRegionList().Count(), 3u);
    EXPECT_EQ(s.GetSpareList().Count(), 2u);
    EXPECT_TRUE(s.Check());

    // The last region joins the hole before it, which Trim then drops.
    s.Free(r[4]);
    EXPECT_EQ(s.Trim(), fl[0]);
    EXPECT_EQ(s.GetFreeList().Count(), 0u);
    EXPECT_EQ(s.EndOfUsedData(), 24u);
    EXPECT_TRUE(s.Check());
}

TEST(StorageCompact, SmallestLeftoverWinsAndRemainderBecomesNextHole)
{
    CParcelStorage s;
    Indices r = Lay(s, 16, {10, 100, 10, 60, 10, 80, 10});
    const uint32_t hole = r[1], r80 = r[5];
    s.Free(hole);
    EXPECT_EQ(s.BestFit(hole), r80);
    std::vector<ParcelMove> moves;
    s.Compact(1, &moves);
    ASSERT_GE(moves.size(), 2u);
    EXPECT_EQ(moves[0].sizeLow, 80u);
    EXPECT_EQ(moves[0].dstLow, 24u);
    EXPECT_EQ(s.GetBox(r80)->m_offsetLow, 24u);
    // The 20 bytes left at 104 are the next hole; the last 10-byte region
    // (equal leftovers: the later one) fills half of it.
    EXPECT_EQ(moves[1].dstLow, 104u);
    EXPECT_EQ(moves[1].srcLow, 284u);
    EXPECT_EQ(moves[1].sizeLow, 10u);
    EXPECT_TRUE(s.Check());

    r = Lay(s, 16, {50, 5, 40, 5, 40, 5});
    s.Free(r[0]);
    EXPECT_EQ(s.BestFit(r[0]), r[4]);
}

// A simulated file: applying the moves must keep every used region's bytes.
class SimFile {
public:
    explicit SimFile(CParcelStorage *s) : m_s(s), m_disk(1 << 20, '\xEE') {}
    void Fill(uint32_t idx, char seed)
    {
        const CParcelBox *b = m_s->GetBox(idx);
        std::string &c = m_expect[idx] = std::string(b->m_sizeLow, '\0');
        for (uint32_t i = 0; i < b->m_sizeLow; ++i)
            c[i] = (char)(seed + i * 7);
        m_disk.replace(b->m_offsetLow, c.size(), c);
    }
    void Forget(uint32_t idx) { m_expect.erase(idx); }
    void Apply(const std::vector<ParcelMove> &moves)
    {
        for (const ParcelMove &m : moves)
            m_disk.replace(m.dstLow, m.sizeLow, m_disk.substr(m.srcLow, m.sizeLow));
    }
    bool Intact() const
    {
        for (const auto &e : m_expect) {
            const CParcelBox *b = m_s->GetBox(e.first);
            if (!b || b->m_state != PARCEL_BOX_USED || m_disk.compare(b->m_offsetLow, b->m_sizeLow, e.second))
                return false;
        }
        return true;
    }

private:
    CParcelStorage *m_s;
    std::string m_disk;
    std::map<uint32_t, std::string> m_expect;
};

// Random allocations, frees and compactions keep the table consistent, the
// contents in place, and the table written, read and written again the same.
TEST(StorageCompact, RandomSequenceKeepsCheckContentsAndTable)
{
    srand(12345);
    for (int round = 0; round < 60; ++round) {
        CParcelStorage s;
        s.Create(round % 3 == 0 ? 12 : 200);
        SimFile f(&s);
        Indices live;
        for (int step = 0; step < 400; ++step) {
            int op = rand() % 10;
            if (op < 5) {
                uint32_t idx = s.Allocate((uint32_t)(rand() % 300), 0);
                if (idx != PARCEL_NO_REGION) {
                    f.Fill(idx, (char)rand());
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
                CParcelWriter w, again;
                s.WriteTable(w);
                CParcelStorage read;
                ASSERT_TRUE(Parse(w.Bytes(), &read)) << round << " " << step;
                read.WriteTable(again);
                ASSERT_EQ(w.Bytes(), again.Bytes());
            }
            ASSERT_TRUE(s.Check()) << round << " " << step;
            ASSERT_TRUE(f.Intact()) << round << " " << step;
        }
        std::vector<ParcelMove> moves;
        s.Compact(1, &moves);
        f.Apply(moves);
        ASSERT_TRUE(s.Check());
        ASSERT_TRUE(f.Intact());
    }
}

// Between two flushes the tables on disk follow the data; nothing may be
// handed out over them.
TEST(StorageProtect, NothingIsHandedOutOverTheTablesOnDisk)
{
    // A free region last in the file overlaps the tables written after the
    // last used region.
    CParcelStorage s;
    Indices r = Lay(s, 16, {10, 10, 10});
    s.Free(r[1]);
    s.Free(r[2]);
    ASSERT_EQ(s.GetFreeList().Count(), 1u);
    s.Protect(60);
    EXPECT_EQ(s.GetFreeList().Count(), 0u);
    EXPECT_EQ(s.GetBox(s.Allocate(10, 0))->m_offsetLow, 60u);
    s.Commit();
    EXPECT_EQ(s.EndOfUsedData(), 70u);
    EXPECT_TRUE(s.Check());

    // The record of the region that covers the tables, held until the next
    // commit, comes on top of the table's capacity, which that commit keeps.
    Lay(s, 2, {10});
    s.Protect(50);
    EXPECT_EQ(s.GetBox(s.Allocate(10, 0))->m_offsetLow, 50u);
    EXPECT_EQ(s.GetCount(), 3);
    EXPECT_TRUE(s.Check());
    EXPECT_EQ(s.Allocate(10, 0), PARCEL_NO_REGION);
    EXPECT_TRUE(s.OutOfRecords());
    s.Commit();
    EXPECT_EQ(s.GetCapacity(), 3);
    EXPECT_EQ(s.GetBox(s.Allocate(10, 0))->m_offsetLow, 24u);
}

// Compaction against the tables on disk: it stops before reusing the place
// a move vacated, and reports a slide over its own old place instead of making it.
TEST(StorageCompact, CommittedPlacesAreNotReusedBeforeACommit)
{
    // A hole of 10 at 24 that no region past where the data would end
    // fits (the 12 at 88): the region of 8 at 54 fills it, and the 6 at 82
    // would then go into the place that one left.
    CParcelStorage s;
    Indices r = Lay(s, 16, {10, 10, 20, 8, 20, 6, 12});
    s.Free(r[1]);
    CParcelStorage *committed = s.Clone();
    std::vector<ParcelMove> all, first;
    CParcelStorage *free = s.Clone();
    free->Compact(1, &all);
    EXPECT_EQ(s.Compact(1, &first, committed), PARCEL_NO_REGION);
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(all.size(), 2u);
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].srcLow, all[i].srcLow);
        EXPECT_EQ(first[i].dstLow, all[i].dstLow);
        EXPECT_FALSE(committed->UsedOverlaps(first[i].dstLow, first[i].sizeLow));
    }
    EXPECT_TRUE(committed->UsedOverlaps(all[first.size()].dstLow, all[first.size()].sizeLow));
    EXPECT_TRUE(s.Check());
    delete free;
    delete committed;

    // With no record left for a split, a hole above the level's threshold
    // takes the region after it by a slide, here one over its own old place.
    CParcelStorage t;
    r = Lay(t, 3, {5000, 8000, 100});
    t.Free(r[0]);
    committed = t.Clone();
    std::vector<ParcelMove> moves;
    EXPECT_EQ(t.Compact(2, &moves, committed), r[1]);
    EXPECT_TRUE(moves.empty());
    delete committed;
    // Staged past the data (a gap before it stays free), its old place joins the hole.
    CParcelStorage u;
    r = Lay(u, 16, {5000, 8000, 100});
    u.Free(r[0]);
    ASSERT_TRUE(u.Stage(r[1], 20000));
    EXPECT_EQ(SpanOf(u, r[1]), Span(20000, 8000));
    EXPECT_EQ(u.GetFreeList().Count(), 2u);
    EXPECT_EQ(SpanOf(u, u.GetFreeList().First()->value), Span(14, 13000));
    EXPECT_EQ(SpanOf(u, u.GetFreeList().Last()->value), Span(13114, 20000 - 13114));
    EXPECT_TRUE(u.Check());
    EXPECT_FALSE(u.Stage(r[2], 100));
    // In a full table it needs no record when nothing lies between.
    r = Lay(t, 3, {5000, 8000, 100});
    t.Free(r[0]);
    EXPECT_FALSE(t.Stage(r[1], 20000));
    ASSERT_TRUE(t.Stage(r[1], 13114));
    EXPECT_EQ(SpanOf(t, r[1]), Span(13114, 8000));
    EXPECT_EQ(ListOf(t.GetFreeList()).size(), 1u);
    EXPECT_EQ(SpanOf(t, t.GetFreeList().First()->value), Span(14, 13000));
    EXPECT_TRUE(t.Check());
    // The last region, behind a hole, leaves the room up to at to the hole.
    r = Lay(t, 2, {5000, 8000});
    t.Free(r[0]);
    ASSERT_TRUE(t.Stage(r[1], 30000));
    EXPECT_EQ(SpanOf(t, r[1]), Span(30000, 8000));
    EXPECT_EQ(SpanOf(t, t.GetFreeList().First()->value), Span(14, 30000 - 14));
    EXPECT_TRUE(t.Check());
}

// Tables go past every committed region and clear of the committed tables;
// the room between the data and the tables is used when they fit there.
TEST(StorageProtect, SafePlaceAvoidsCommittedBytes)
{
    CParcelStorage s;
    Indices r = Lay(s, 16, {100, 100});
    s.Protect(500, 800);
    uint32_t at = 0;
    ASSERT_TRUE(s.SafePlace(214, 200, &at));
    EXPECT_EQ(at, 214u);
    ASSERT_TRUE(s.SafePlace(214, 300, &at));
    EXPECT_EQ(at, 800u);
    // A deleted region still counts until the next commit.
    s.Release(r[1]);
    ASSERT_TRUE(s.SafePlace(114, 50, &at));
    EXPECT_EQ(at, 214u);
    // New regions fill the room below the tables, and go past them otherwise.
    EXPECT_EQ(SpanOf(s, s.Allocate(200, 0)), Span(214, 200));
    EXPECT_EQ(SpanOf(s, s.Allocate(200, 0)), Span(800, 200));
    EXPECT_TRUE(s.Check());
    EXPECT_FALSE(s.SafePlace(0xFFFFFF00u, 0x200, &at));
}

TEST(StorageProtect, CloneIsIndependentAndKeepsTheProtection)
{
    CParcelStorage s;
    uint32_t a = Lay(s, 16, {10})[0];
    s.Protect(40);
    CParcelStorage *c = s.Clone();
    ASSERT_NE(c, nullptr);
    c->Release(a);
    EXPECT_EQ(c->GetBox(a)->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(c->GetBox(c->Allocate(10, 0))->m_offsetLow, 40u);
    c->Commit();
    EXPECT_EQ(c->GetBox(a)->m_state, PARCEL_BOX_FREE);
    EXPECT_EQ(s.GetBox(a)->m_state, PARCEL_BOX_USED);
    EXPECT_EQ(s.GetCount(), 1);
    EXPECT_TRUE(c->Check());
    delete c;
}

TEST(StorageTable, HandAssembledTableReadsFieldByFieldAndWritesBackTheSame)
{
    Bytes t = SampleTable();
    CParcelStorage s;
    ASSERT_TRUE(Parse(t.b, &s));
    EXPECT_EQ(s.GetCapacity(), 8);
    EXPECT_EQ(s.GetCount(), 4);
    EXPECT_EQ(s.GetBox(1)->m_state, PARCEL_BOX_FREE);
    EXPECT_EQ(SpanOf(s, 1), Span(114, 50));
    EXPECT_EQ(SpanOf(s, 2), Span(164, 30));
    EXPECT_EQ(ListOf(s.GetRegionList()), (Indices{0, 1, 2}));
    EXPECT_EQ(ListOf(s.GetFreeList()), Indices{1});
    EXPECT_EQ(ListOf(s.GetSpareList()), Indices{3});
    EXPECT_EQ(s.EndOfUsedData(), 194u);
    CParcelWriter w;
    s.WriteTable(w);
    EXPECT_EQ(w.Bytes(), t.b);
    EXPECT_EQ(s.TableSize(), w.Size());
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
            t.Patch(c.at, c.value);
        CParcelStorage s;
        EXPECT_FALSE(Parse(t.b, &s)) << c.what;
    }

    // A free region missing from the free list.
    Bytes t;
    t.U32s({2, 4, 2});
    t.Record(2, 14, 10);
    t.Record(4, 24, 10);
    t.U32s({2, 0, 0, 0, 1});
    CParcelStorage s;
    EXPECT_FALSE(Parse(t.b, &s));
}

// Moves applied in a few large transfers leave the file as applying them one
// after another does: contents moved twice (the second read after the first
// write), a destination over a later move's source, a place filled twice
// (the later move, lower in the file, wins), a slide over its own old place,
// moves of no size, and runs larger than one transfer holds.
TEST(StorageCompact, MovesAppliedTogetherActAsOneAfterAnother)
{
    ScratchFolder t;
    std::string image(20u << 20, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = (char)(i * 131 + (i >> 12));
    t.File("moves.bin", image);
    std::vector<ParcelMove> moves = {
        {1000, 0, 100, 0, 50, 0},    {100, 0, 3000, 0, 50, 0},      {2000, 0, 1990, 0, 100, 0},
        {5000, 0, 1000, 0, 60, 0},   {7000, 0, 7000, 0, 0, 0},      {6000, 0, 5030, 0, 40, 0},
        {6040, 0, 5070, 0, 40, 0},   {9000, 0, 990, 0, 30, 0},      {10u << 20, 0, 8000, 0, 5u << 20, 0},
        {16u << 20, 0, 9u << 20, 0, 3u << 20, 0}, {3000, 0, 4000, 0, 50, 0},
    };
    // Spread contents packed together, as a round's moves mostly are.
    for (uint32_t i = 0; i < 40; ++i)
        moves.push_back({12000 + i * 20, 0, 11000 + i * 10, 0, 10, 0});
    for (const ParcelMove &m : moves)
        for (uint32_t i = 0; i < m.sizeLow; ++i)
            image[m.dstLow + i] = image[m.srcLow + i];
    HANDLE f = CreateFileA(t.Full("moves.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    unsigned writes = 0;
    ParcelSetIoHook(
        [](void *count, ParcelIoCall call, HANDLE, const void *, DWORD) -> BOOL {
            *static_cast<unsigned *>(count) += call == PARCEL_IO_WRITE;
            return TRUE;
        },
        &writes);
    EXPECT_TRUE(ParcelApplyMoves(f, moves.data(), moves.size()));
    ParcelSetIoHook(nullptr, nullptr);
    CloseHandle(f);
    EXPECT_TRUE(t.Read("moves.bin") == image);
    EXPECT_LE(writes, moves.size() / 4);
}
