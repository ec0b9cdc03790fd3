// Space storage of the packed archive: allocation, freeing, compaction, table bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "LeBytes.h"
#include "Layouts.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelStorage.h"
#include "archive/CParcelWriter.h"
#include "archive/ParcelChunk.h"
#include "archive/ParcelIo.h"
#include "support/failnew/fail_new.h"
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
    // The regions are now where that storage says.
    void Follow(CParcelStorage *s) { m_s = s; }
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

// A literal walk over the free list as the format's description gives
// compaction, on a plain list of regions (file order from offset 14) whose
// records never run out: each hole takes the best fit after it through a
// first-fit allocation and the exchange of the two records, the old place
// is freed with its neighbours, and the walk goes on where that leaves it.
// The end of the used data after it.
struct WalkRegion {
    uint32_t id, offset, size;
    bool used;
};

uint32_t WalkedEnd(const std::vector<WalkRegion> &layout)
{
    typedef std::list<WalkRegion>::iterator It;
    std::list<WalkRegion> rs(layout.begin(), layout.end());
    uint32_t fresh = 1u << 30;
    const auto find = [&](uint32_t id) {
        return std::find_if(rs.begin(), rs.end(), [id](const WalkRegion &r) { return r.id == id; });
    };
    const auto freeFrom = [&](It it) { return std::find_if(it, rs.end(), [](const WalkRegion &r) { return !r.used; }); };
    const auto release = [&](It it) {
        bool absorbed = false;
        for (; it != rs.begin() && !std::prev(it)->used; absorbed = true) {
            std::prev(it)->size += it->size;
            it = std::prev(rs.erase(it));
        }
        for (; std::next(it) != rs.end() && !std::next(it)->used; absorbed = true) {
            std::next(it)->offset = it->offset;
            std::next(it)->size += it->size;
            it = rs.erase(it);
        }
        if (!absorbed && std::next(it) == rs.end())
            rs.erase(it);
        else if (!absorbed)
            it->used = false;
    };
    int64_t remaining = (int64_t)rs.size();
    for (It cur = freeFrom(rs.begin()); cur != rs.end();) {
        It best = rs.end();
        for (It it = std::next(cur); it != rs.end(); ++it)
            if (it->used && it->size <= cur->size && (best == rs.end() || it->size >= best->size))
                best = it;
        if (best == rs.end()) {
            cur = freeFrom(std::next(cur));
        } else {
            const bool exact = best->size == cur->size;
            uint32_t next = 0;
            if (exact) {
                const It n = freeFrom(std::next(cur));
                next = n != rs.end() ? n->id : 0;
                --remaining;
            }
            It got = std::find_if(rs.begin(), rs.end(),
                                  [&](const WalkRegion &r) { return !r.used && r.size >= best->size; });
            if (got->size != best->size) {
                rs.insert(std::next(got), WalkRegion{fresh++, got->offset + best->size, got->size - best->size, false});
                got->size = best->size;
            }
            got->used = true;
            if (!exact && !std::next(got)->used)
                next = std::next(got)->id;
            std::swap(got->id, best->id);
            const uint32_t vacated = best->id;
            release(best);
            It n = next ? find(next) : rs.end();
            if (n == rs.end() || n->used)
                n = find(vacated);
            cur = n != rs.end() && !n->used ? n : freeFrom(rs.begin());
        }
        if (!rs.empty() && !rs.back().used) {
            const bool ends = cur != rs.end() && cur->id == rs.back().id;
            rs.pop_back();
            if (ends)
                break;
        }
        if (remaining <= 0 || freeFrom(rs.begin()) == rs.end())
            break;
    }
    uint32_t end = PARCEL_DATA_START;
    for (const WalkRegion &r : rs)
        if (r.used)
            end = r.offset + r.size;
    return end;
}

// The regions of the entries a layout deletes, freed.
void Punch(CParcelStorage &s, const Indices &r, int kind)
{
    for (size_t i = 0; i < r.size(); ++i)
        if (LayoutPunched(kind, i))
            s.Free(r[i]);
}

// Space given back: at least what that walk gives, within 1% of the file,
// on every layout; and compacting the result moves nothing. Every third
// layout has regions of no size after some entries, so that one or more
// share an offset between two holes; the walk leaves those out, as they
// take no room, and sees one hole where they part two.
TEST(StorageCompact, GivesBackWhatTheWalkOverTheFreeListGives)
{
    srand(777);
    const int rounds = getenv("KIV_FULL_SWEEPS") ? 3000 : 240;
    int behind = 0;
    for (int round = 0; round < rounds; ++round) {
        const int kind = round % LAYOUT_KINDS;
        const std::vector<uint32_t> sizes = LayoutSizes(kind, 10 + rand() % 120);
        CParcelStorage s;
        s.Create((int32_t)sizes.size() * 8);
        SimFile f(&s);
        Indices r;
        for (uint32_t size : sizes) {
            r.push_back(s.Allocate(size, 0));
            f.Fill(r.back(), (char)r.size());
            for (int empty = round % 3 == 2 ? rand() % 5 - 2 : 0; empty > 0; --empty)
                f.Fill(s.Allocate(0, 0), 0);
        }
        for (size_t i = 0; i < r.size(); ++i)
            if (LayoutPunched(kind, i)) {
                s.Free(r[i]);
                f.Forget(r[i]);
            }
        std::vector<WalkRegion> layout;
        for (CParcelIndexList::Node *n = s.GetRegionList().First(); n; n = s.GetRegionList().Next(n)) {
            const CParcelBox *b = s.GetBox(n->value);
            const bool used = b->m_state == PARCEL_BOX_USED;
            if (!used && !layout.empty() && !layout.back().used)
                layout.back().size += b->m_sizeLow;
            else if (b->m_sizeLow)
                layout.push_back(WalkRegion{n->value + 1, b->m_offsetLow, b->m_sizeLow, used});
        }
        const uint32_t walked = WalkedEnd(layout);
        std::vector<ParcelMove> moves;
        ASSERT_TRUE(s.Compact(1 + round % 2, &moves)) << "round " << round;
        ASSERT_TRUE(s.Check());
        f.Apply(moves);
        ASSERT_TRUE(f.Intact()) << "round " << round;
        EXPECT_LE(s.EndOfUsedData(), walked + walked / 100) << "round " << round << " kind " << kind;
        behind += s.EndOfUsedData() > walked;
        moves.clear();
        ASSERT_TRUE(s.Compact(1 + round % 2, &moves));
        EXPECT_TRUE(moves.empty()) << "round " << round;
    }
    EXPECT_EQ(behind, 0);
}

// A hole takes the best fit when a record is left for the hole that fit
// leaves behind, and the region after it by a slide otherwise; room that
// no record names counts as holes, and is filled as well.
TEST(StorageCompact, RecordsLeftForHolesDecideBetweenAFitAndASlide)
{
    for (int32_t capacity : {6, 5}) {
        CParcelStorage s;
        Indices r = Lay(s, capacity, {10, 10, 20, 5, 30});
        s.Free(r[1]);
        std::vector<ParcelMove> moves;
        ASSERT_TRUE(s.Compact(1, &moves));
        EXPECT_EQ(SpanOf(s, r[3]), capacity == 6 ? Span(24, 5) : Span(44, 5));
        EXPECT_EQ(SpanOf(s, r[2]), capacity == 6 ? Span(34, 20) : Span(24, 20));
        EXPECT_TRUE(s.Check());
    }
    // Full tables, the spans expected after a compaction at that level:
    // two holes joined by the move of the region between them count as one
    // (the record left takes the 7 at 134 into the hole at 64, where two
    // would have slid the 40 down); empty regions go to the start and part
    // the holes no more (the 60 takes the room of both); the region right
    // after a small hole with no slide at level 2, and the last region, go
    // in, their old places joining what is left or the room after the data.
    const struct {
        int32_t capacity;
        std::vector<uint32_t> sizes, freed;
        int level;
        std::vector<std::pair<uint32_t, Span>> want;
    } full[] = {
        {8, {10, 20, 10, 10, 30, 40, 7, 50}, {1, 3}, 1, {{2, {24, 10}}, {4, {34, 30}}, {6, {64, 7}}}},
        {8, {10, 20, 0, 0, 50, 5, 30, 60}, {1, 4}, 1,
         {{2, {14, 0}}, {3, {14, 0}}, {7, {24, 60}}, {5, {84, 5}}, {6, {99, 30}}}},
        {4, {10, 20, 5, 30}, {1}, 2, {{2, {24, 5}}}},
        {4, {10, 20, 30, 5}, {1}, 1, {{3, {24, 5}}}},
    };
    for (const auto &c : full) {
        CParcelStorage s;
        s.Create(c.capacity);
        Indices r;
        for (uint32_t size : c.sizes)
            r.push_back(s.Allocate(size, 0));
        for (uint32_t i : c.freed)
            s.Free(r[i]);
        std::vector<ParcelMove> moves;
        ASSERT_TRUE(s.Compact(c.level, &moves));
        for (const auto &w : c.want)
            EXPECT_EQ(SpanOf(s, r[w.first]), w.second) << c.sizes.size() << " regions, entry " << w.first;
        EXPECT_TRUE(s.Check());
    }
    // A full table with room that no record names (as a session that
    // stopped between a compaction's commits may leave it): the 10 at 60
    // takes the room at 24, its old place adding no hole to count.
    Bytes t;
    t.U32s({2, 5, 5});
    t.Record(4, 14, 10);
    t.Record(4, 34, 16);
    t.Record(4, 50, 10);
    t.Record(4, 60, 10);
    t.Record(4, 70, 20);
    t.U32s({5, 0, 0, 0, 1, 2, 3, 4});
    CParcelStorage s;
    ASSERT_TRUE(Parse(t.b, &s));
    std::vector<ParcelMove> moves;
    ASSERT_TRUE(s.Compact(1, &moves));
    EXPECT_EQ(SpanOf(s, 3), Span(24, 10));
    EXPECT_TRUE(s.Check());
}

// Memory running out at any allocation of a compaction (the plan, the
// storage laid anew, their lists) fails it with the storage as it was and
// nothing leaked.
TEST(StorageCompact, WithoutMemoryTheStorageStaysAsItWas)
{
    srand(31);
    CParcelStorage s;
    s.Create(400);
    Indices r;
    for (uint32_t size : LayoutSizes(LAYOUT_RANDOM, 150))
        r.push_back(s.Allocate(size, 0));
    Punch(s, r, LAYOUT_RANDOM);
    CParcelWriter before;
    s.WriteTable(before);
    for (long n = 0;; ++n) {
        CParcelStorage *copy = s.Clone();
        ASSERT_NE(copy, nullptr);
        const long live = KivLiveHeapBlocks();
        BOOL ok;
        {
            std::vector<ParcelMove> moves;
            FailNewAfter(n);
            ok = copy->Compact(1, &moves);
            const long refused = FailNewRefused();
            FailNewEnd();
            EXPECT_EQ(ok != FALSE, refused == 0) << n;
            EXPECT_EQ(ok != FALSE, !moves.empty()) << n;
        }
        if (ok) {
            delete copy;
            break;
        }
        EXPECT_EQ(KivLiveHeapBlocks(), live) << n;
        CParcelWriter after;
        copy->WriteTable(after);
        EXPECT_TRUE(copy->Check()) << n;
        EXPECT_TRUE(after.Bytes() == before.Bytes()) << n;
        delete copy;
    }
    // The two steps to the compacted layout, planned from the tables on
    // disk: a failed plan hands out no staged storage and leaks nothing.
    s.Protect(s.EndOfUsedData() + 100);
    CParcelStorage *laid = s.Clone();
    ASSERT_NE(laid, nullptr);
    std::vector<ParcelMove> sequence;
    ASSERT_TRUE(laid->Compact(1, &sequence));
    for (long n = 0;; ++n) {
        const long live = KivLiveHeapBlocks();
        CParcelStorage *staged = nullptr;
        BOOL ok;
        {
            std::vector<ParcelMove> first, second;
            FailNewAfter(n);
            ok = s.PlanSteps(*laid, laid->EndOfUsedData(), &first, &second, &staged);
            FailNewEnd();
        }
        if (ok) {
            EXPECT_NE(staged, nullptr);
            delete staged;
            break;
        }
        EXPECT_EQ(staged, nullptr) << n;
        EXPECT_EQ(KivLiveHeapBlocks(), live) << n;
    }
    delete laid;
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

// The two steps that take the tables on disk (kept) to a compacted layout
// write over no byte that the tables committed before them name, and leave
// every region's contents at its new place.
void CheckSteps(CParcelStorage &kept, const char *what)
{
    SimFile f(&kept);
    for (CParcelIndexList::Node *n = kept.GetRegionList().First(); n; n = kept.GetRegionList().Next(n))
        if (kept.GetBox(n->value)->m_state == PARCEL_BOX_USED)
            f.Fill(n->value, (char)n->value);
    CParcelStorage *laid = kept.Clone();
    ASSERT_NE(laid, nullptr);
    laid->Commit();
    std::vector<ParcelMove> sequence, first, second;
    ASSERT_TRUE(laid->Compact(1, &sequence));
    CParcelStorage *staged = nullptr;
    ASSERT_TRUE(kept.PlanSteps(*laid, laid->EndOfUsedData() + 100, &first, &second, &staged)) << what;
    EXPECT_EQ(staged != nullptr, !second.empty()) << what;
    for (const ParcelMove &m : first)
        EXPECT_FALSE(kept.UsedOverlaps(m.dstLow, m.sizeLow)) << what << " " << m.dstLow;
    for (const ParcelMove &m : second)
        EXPECT_FALSE(staged->UsedOverlaps(m.dstLow, m.sizeLow)) << what << " " << m.dstLow;
    f.Apply(first);
    f.Apply(second);
    f.Follow(laid);
    EXPECT_TRUE(f.Intact()) << what;
    EXPECT_TRUE(!staged || staged->Check()) << what;
    delete staged;
    delete laid;
}

// Compaction against the tables on disk: a place a move vacates is filled
// only from staging room, after a commit, and so is a place a slide over its
// own old place takes.
TEST(StorageCompact, CommittedPlacesAreNotReusedBeforeACommit)
{
    // A hole of 10 at 24: the 8 at 54 fills it, and the 12 at 88 goes
    // into the place that one left.
    CParcelStorage s;
    Indices r = Lay(s, 16, {10, 10, 20, 8, 20, 6, 12});
    s.Free(r[1]);
    s.Protect(200);
    CheckSteps(s, "chain");

    // With one record for a hole, the hole of 5000 takes the 8000 after it
    // by a slide, over its own old place; the rest follows.
    r = Lay(s, 4, {5000, 8000, 100, 50});
    s.Free(r[0]);
    s.Protect(20000);
    CParcelStorage *laid = s.Clone();
    std::vector<ParcelMove> moves;
    ASSERT_TRUE(laid->Compact(1, &moves));
    EXPECT_EQ(SpanOf(*laid, r[1]), Span(14, 8000));
    EXPECT_EQ(laid->EndOfUsedData(), 14u + 8150u);
    delete laid;
    CheckSteps(s, "slide");

    // Random layouts, tables of every fill.
    srand(4321);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint32_t> sizes;
        for (int i = 0, n = 2 + rand() % 40; i < n; ++i)
            sizes.push_back((uint32_t)(rand() % 3 ? rand() % 200 : rand() % 5000));
        s.Create((int32_t)sizes.size() + rand() % 4);
        r.clear();
        for (uint32_t size : sizes)
            r.push_back(s.Allocate(size, 0));
        for (uint32_t index : r)
            if (rand() % 2)
                s.Free(index);
        s.Protect(s.EndOfUsedData() + 50);
        CheckSteps(s, ("round " + std::to_string(round)).c_str());
    }
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
// A file of 20 MiB whose bytes differ from their neighbours, opened.
HANDLE MovesFile(ScratchFolder &t, std::string *image)
{
    image->assign(20u << 20, '\0');
    for (size_t i = 0; i < image->size(); ++i)
        (*image)[i] = (char)(i * 131 + (i >> 12));
    t.File("moves.bin", *image);
    return CreateFileA(t.Full("moves.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(StorageCompact, MovesAppliedTogetherActAsOneAfterAnother)
{
    ScratchFolder t;
    std::string image;
    HANDLE f = MovesFile(t, &image);
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

// A move larger than one transfer, up over its own bytes, lands whole; a
// move the file positions cannot express is refused with nothing written.
TEST(StorageCompact, AnyMoveAcceptedIsMadeAndTheOthersRefused)
{
    ScratchFolder t;
    std::string image;
    HANDLE f = MovesFile(t, &image);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    const ParcelMove up = {1u << 20, 0, (1u << 20) + 1000, 0, 9u << 20, 0};
    EXPECT_TRUE(ParcelApplyMoves(f, &up, 1));
    image.replace(up.dstLow, up.sizeLow, image.substr(up.srcLow, up.sizeLow));
    // Each after a move that could be made.
    for (const ParcelMove &bad : std::vector<ParcelMove>{{100, 1, 300, 0, 10, 0},
                                                          {100, 0, 300, 1, 10, 0},
                                                          {100, 0, 300, 0, 10, 1},
                                                          {0xFFFFFF00u, 0, 400, 0, 0x200, 0}}) {
        const ParcelMove pair[2] = {{100, 0, 200, 0, 10, 0}, bad};
        EXPECT_FALSE(ParcelApplyMoves(f, pair, 2)) << bad.srcLow;
    }
    const ParcelMove one = {100, 0, 200, 0, 10, 0};
    EXPECT_FALSE(ParcelCopyRange(f, 100, 0xFFFFFFF0u, 0x20));
    // Without memory for a block or a run, nothing is written either.
    FailNewAfter(0);
    const bool copied = ParcelCopyRange(f, 100, 200, 10), applied = ParcelApplyMoves(f, &one, 1);
    FailNewEnd();
    EXPECT_FALSE(copied);
    EXPECT_FALSE(applied);
    CloseHandle(f);
    EXPECT_TRUE(t.Read("moves.bin") == image);
}
