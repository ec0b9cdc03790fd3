// Space manager of a packed archive: hands out, takes back and compacts file regions.
#include "archive/CParcelStorage.h"

#include <algorithm>
#include <memory>
#include <new>
#include <tuple>
#include <utility>

#include "archive/CParcelReader.h"
#include "archive/CParcelWriter.h"
#include "archive/ParcelChunk.h"
#include "archive/ParcelLayout.h"

// The largest offset plus size a region may reach: every file position,
// the tables after the data included, must stay a 32-bit value.
static const uint64_t kRegionLimit = 0xFFFFFFFFu;

// Holes no larger than this are left alone when only a slide could fill them.
static const uint32_t kSlideThreshold[3] = {0, 0, 4096};

// A record that now describes a used region of the archive file.
static void SetUsed(CParcelBox &b, uint32_t offset, uint32_t size)
{
    b.m_offsetLow = offset;
    b.m_offsetHigh = 0;
    b.m_sizeLow = size;
    b.m_sizeHigh = 0;
    b.m_reserved = 0;
    b.m_state = PARCEL_BOX_USED;
}

CParcelStorage::CParcelStorage()
    : m_capacity(0), m_floor(0), m_tablesStart(0), m_committedEnd(0), m_unsure(false), m_outOfRecords(false),
      m_freeRoot(PARCEL_NO_REGION), m_unindexedFree(false)
{
}

CParcelStorage::~CParcelStorage()
{
    Clear();
}

void CParcelStorage::Clear()
{
    m_regions.Clear();
    m_free.Clear();
    m_spare.Clear();
    m_records.clear();
    m_capacity = 0;
    m_floor = 0;
    m_tablesStart = 0;
    m_committedEnd = 0;
    m_unsure = false;
    m_held.clear();
    m_freeIndex.clear();
    m_freeRoot = PARCEL_NO_REGION;
    m_unindexedFree = false;
}

BOOL CParcelStorage::Create(int32_t capacity)
{
    Clear();
    if (capacity < 1)
        return FALSE;
    m_capacity = capacity;
    return TRUE;
}

const CParcelBox *CParcelStorage::GetBox(uint32_t index) const
{
    return index < m_records.size() ? &m_records[index] : nullptr;
}

bool CParcelStorage::RecordAvailable() const
{
    return RecordsAvailable() > 0;
}

// Records held for the tables on disk go back at the next commit, so they
// do not count against the capacity, nor does one about to be held: the
// record count may run past it until then, and that commit's table states
// the larger capacity.
uint32_t CParcelStorage::RecordsAvailable(uint32_t held) const
{
    const int64_t fresh = (int64_t)m_capacity + m_held.size() + held - (int64_t)m_records.size();
    return m_spare.Count() + (fresh > 0 ? (uint32_t)fresh : 0);
}

// A record for a new region: a spare one first, then a fresh one.
uint32_t CParcelStorage::TakeRecord(uint32_t held)
{
    uint32_t index;
    if (m_spare.PopFront(&index)) {
        m_records[index].m_spare = nullptr;
        m_records[index].m_onDisk = false;
        return index;
    }
    if (RecordsAvailable(held) == 0)
        return PARCEL_NO_REGION;
    m_records.push_back(CParcelBox());
    m_freeIndex.push_back(FreeNode{PARCEL_NO_REGION, PARCEL_NO_REGION, 0, false});
    return (uint32_t)m_records.size() - 1;
}

// Takes the record out of the region and free lists and parks it as spare.
void CParcelStorage::MakeSpare(uint32_t index)
{
    FreeIndexOut(index);
    CParcelBox &b = m_records[index];
    if (b.m_free) {
        m_free.Remove(b.m_free);
        b.m_free = nullptr;
    }
    if (b.m_region) {
        m_regions.Remove(b.m_region);
        b.m_region = nullptr;
    }
    b.m_state = PARCEL_BOX_SPARE;
    b.m_spare = m_spare.PushBack(index);
}

// A free neighbour swallows the region beside it.
void CParcelStorage::Absorb(uint32_t into, uint32_t absorbed)
{
    // Out of the index before the survivor takes its offset.
    FreeIndexOut(absorbed);
    CParcelBox &a = m_records[into];
    const CParcelBox &b = m_records[absorbed];
    if (b.m_offsetLow < a.m_offsetLow)
        a.m_offsetLow = b.m_offsetLow;
    if (b.m_offsetHigh < a.m_offsetHigh)
        a.m_offsetHigh = b.m_offsetHigh;
    a.m_sizeLow += b.m_sizeLow;
    MakeSpare(absorbed);
    FreeIndexUpdate(into);
}

uint32_t CParcelStorage::RegionAfter(uint32_t index) const
{
    CParcelIndexList::Node *n = m_regions.Next(m_records[index].m_region);
    return n ? n->value : PARCEL_NO_REGION;
}

uint32_t CParcelStorage::RegionBefore(uint32_t index) const
{
    CParcelIndexList::Node *n = m_regions.Prev(m_records[index].m_region);
    return n ? n->value : PARCEL_NO_REGION;
}

// The first free region, in file order, of at least that size.
uint32_t CParcelStorage::FirstFit(uint32_t size) const
{
    uint32_t n = m_freeRoot;
    if (n == PARCEL_NO_REGION || m_freeIndex[n].largest < size)
        return PARCEL_NO_REGION;
    for (;;) {
        const FreeNode &f = m_freeIndex[n];
        if (f.left != PARCEL_NO_REGION && m_freeIndex[f.left].largest >= size)
            n = f.left;
        else if (m_records[n].m_sizeLow >= size)
            return n;
        else
            n = f.right;
    }
}

uint32_t CParcelStorage::FreeBefore(uint32_t offset) const
{
    uint32_t best = PARCEL_NO_REGION;
    for (uint32_t n = m_freeRoot; n != PARCEL_NO_REGION;) {
        if (m_records[n].m_offsetLow < offset) {
            best = n;
            n = m_freeIndex[n].right;
        } else {
            n = m_freeIndex[n].left;
        }
    }
    return best;
}

// A fixed pseudo-random priority per record keeps the index shallow.
static uint32_t FreePriority(uint32_t index)
{
    index ^= index >> 16;
    index *= 0x7FEB352Du;
    index ^= index >> 15;
    index *= 0x846CA68Bu;
    return index ^ (index >> 16);
}

void CParcelStorage::FreeIndexPull(uint32_t node)
{
    FreeNode &f = m_freeIndex[node];
    uint32_t largest = m_records[node].m_sizeLow;
    if (f.left != PARCEL_NO_REGION && m_freeIndex[f.left].largest > largest)
        largest = m_freeIndex[f.left].largest;
    if (f.right != PARCEL_NO_REGION && m_freeIndex[f.right].largest > largest)
        largest = m_freeIndex[f.right].largest;
    f.largest = largest;
}

// Offsets below key go left, the others right.
void CParcelStorage::FreeIndexSplit(uint32_t node, uint64_t key, uint32_t *left, uint32_t *right)
{
    if (node == PARCEL_NO_REGION) {
        *left = *right = PARCEL_NO_REGION;
        return;
    }
    uint32_t a, b;
    if (m_records[node].m_offsetLow < key) {
        FreeIndexSplit(m_freeIndex[node].right, key, &a, &b);
        m_freeIndex[node].right = a;
        FreeIndexPull(node);
        *left = node;
        *right = b;
    } else {
        FreeIndexSplit(m_freeIndex[node].left, key, &a, &b);
        m_freeIndex[node].left = b;
        FreeIndexPull(node);
        *left = a;
        *right = node;
    }
}

uint32_t CParcelStorage::FreeIndexMerge(uint32_t left, uint32_t right)
{
    if (left == PARCEL_NO_REGION)
        return right;
    if (right == PARCEL_NO_REGION)
        return left;
    if (FreePriority(left) > FreePriority(right)) {
        m_freeIndex[left].right = FreeIndexMerge(m_freeIndex[left].right, right);
        FreeIndexPull(left);
        return left;
    }
    m_freeIndex[right].left = FreeIndexMerge(left, m_freeIndex[right].left);
    FreeIndexPull(right);
    return right;
}

void CParcelStorage::FreeIndexIn(uint32_t index)
{
    FreeNode &f = m_freeIndex[index];
    if (f.in || m_records[index].m_sizeLow == 0)
        return;
    f.in = true;
    f.left = f.right = PARCEL_NO_REGION;
    FreeIndexPull(index);
    uint32_t a, b;
    FreeIndexSplit(m_freeRoot, m_records[index].m_offsetLow, &a, &b);
    m_freeRoot = FreeIndexMerge(FreeIndexMerge(a, index), b);
}

void CParcelStorage::FreeIndexOut(uint32_t index)
{
    if (index >= m_freeIndex.size() || !m_freeIndex[index].in)
        return;
    const uint64_t key = m_records[index].m_offsetLow;
    uint32_t a, b, mid, c;
    FreeIndexSplit(m_freeRoot, key, &a, &b);
    FreeIndexSplit(b, key + 1, &mid, &c);
    m_freeIndex[index].in = false;
    m_freeRoot = FreeIndexMerge(a, c);
}

void CParcelStorage::FreeIndexFix(uint32_t node, uint32_t index)
{
    if (node != index) {
        FreeNode &f = m_freeIndex[node];
        if (m_records[index].m_offsetLow < m_records[node].m_offsetLow)
            FreeIndexFix(f.left, index);
        else
            FreeIndexFix(f.right, index);
    }
    FreeIndexPull(node);
}

void CParcelStorage::FreeIndexUpdate(uint32_t index)
{
    if (!m_freeIndex[index].in)
        FreeIndexIn(index);
    else
        FreeIndexFix(m_freeRoot, index);
}

uint32_t CParcelStorage::Allocate(uint32_t sizeLow, uint32_t sizeHigh, bool replacing)
{
    const uint32_t held = replacing ? 1 : 0;
    m_outOfRecords = false;
    if (sizeHigh != 0 || m_capacity == 0)
        return PARCEL_NO_REGION;

    // A hole may hold what a commit of unknown fate moved there.
    const uint32_t taken = m_unsure ? PARCEL_NO_REGION : FirstFit(sizeLow);
    if (taken != PARCEL_NO_REGION)
        return TakeFree(taken, sizeLow, held);

    uint64_t start = PARCEL_DATA_START;
    if (CParcelIndexList::Node *last = m_regions.Last())
        start = m_records[last->value].End();
    // Past 4 GiB the offset would wrap onto the start of the file.
    // Below the tables on disk there may be room that nothing names.
    const bool pastTables = start < m_floor && start + sizeLow > m_tablesStart;
    if ((pastTables ? (uint64_t)m_floor : start) + sizeLow > kRegionLimit)
        return PARCEL_NO_REGION;
    if (pastTables) {
        // The tables on disk lie in the way: a held region covers them (and
        // becomes free space at the next flush), the new one follows.
        if (RecordsAvailable(held + 1) < 2) {
            m_outOfRecords = true;
            return PARCEL_NO_REGION;
        }
        const uint32_t cover = TakeRecord(held + 1);
        CParcelBox &c = m_records[cover];
        SetUsed(c, (uint32_t)start, m_floor - (uint32_t)start);
        c.m_region = m_regions.PushBack(cover);
        Hold(cover);
        start = m_floor;
    }
    uint32_t index = TakeRecord(held);
    if (index == PARCEL_NO_REGION) {
        m_outOfRecords = true;
        return PARCEL_NO_REGION;
    }
    CParcelBox &b = m_records[index];
    SetUsed(b, (uint32_t)start, sizeLow);
    b.m_region = m_regions.PushBack(index);
    return index;
}

uint32_t CParcelStorage::TakeFree(uint32_t taken, uint32_t sizeLow, uint32_t held)
{
    FreeIndexOut(taken);
    if (m_records[taken].m_sizeLow != sizeLow) {
        // Split off the rest as a free region; with no record for it the
        // request simply gets the whole region.
        uint32_t rest = TakeRecord(held);
        if (rest != PARCEL_NO_REGION) {
            CParcelBox &t = m_records[taken];
            CParcelBox &r = m_records[rest];
            r.m_offsetLow = t.m_offsetLow + sizeLow;
            r.m_offsetHigh = 0;
            r.m_sizeLow = t.m_sizeLow - sizeLow;
            r.m_sizeHigh = 0;
            r.m_state = PARCEL_BOX_FREE;
            r.m_region = m_regions.InsertAfter(t.m_region, rest);
            r.m_free = m_free.InsertAfter(t.m_free, rest);
            t.m_sizeLow = sizeLow;
            FreeIndexIn(rest);
        }
    }
    CParcelBox &t = m_records[taken];
    t.m_state = PARCEL_BOX_USED;
    m_free.Remove(t.m_free);
    t.m_free = nullptr;
    return taken;
}

void CParcelStorage::Free(uint32_t index)
{
    if (index >= m_records.size())
        return;
    if (m_records[index].m_state != PARCEL_BOX_USED || !m_records[index].m_region)
        return;

    bool absorbed = false;
    uint32_t cur = index;
    for (uint32_t prev = RegionBefore(cur);
         prev != PARCEL_NO_REGION && m_records[prev].m_state == PARCEL_BOX_FREE;
         prev = RegionBefore(cur)) {
        Absorb(prev, cur);
        cur = prev;
        absorbed = true;
    }
    for (uint32_t next = RegionAfter(cur);
         next != PARCEL_NO_REGION && m_records[next].m_state == PARCEL_BOX_FREE;
         next = RegionAfter(cur)) {
        Absorb(next, cur);
        cur = next;
        absorbed = true;
    }
    if (absorbed)
        return;

    CParcelBox &b = m_records[cur];
    // A hole of no size would only take a record.
    if (b.m_region == m_regions.Last() || b.m_sizeLow == 0) {
        MakeSpare(cur);
        return;
    }
    // Keep the free list in file order: after the nearest free region before it.
    CParcelIndexList::Node *before = nullptr;
    if (!m_unindexedFree) {
        const uint32_t prev = FreeBefore(b.m_offsetLow);
        before = prev != PARCEL_NO_REGION ? m_records[prev].m_free : nullptr;
    } else {
        for (CParcelIndexList::Node *n = m_regions.Prev(b.m_region); n; n = m_regions.Prev(n)) {
            if (m_records[n->value].m_state == PARCEL_BOX_FREE) {
                before = m_records[n->value].m_free;
                break;
            }
        }
    }
    b.m_state = PARCEL_BOX_FREE;
    b.m_free = before ? m_free.InsertAfter(before, cur) : m_free.PushFront(cur);
    FreeIndexIn(cur);
}

void CParcelStorage::TrimAll()
{
    while (Trim() != PARCEL_NO_REGION) {
    }
}

// Tables written right after the data, as every archive has them.
void CParcelStorage::Protect(uint32_t fileEnd)
{
    TrimAll();
    Protect(EndOfUsedData(), fileEnd);
}

void CParcelStorage::Protect(uint32_t tablesStart, uint32_t fileEnd)
{
    // A free region at the end would be handed out over the tables.
    TrimAll();
    for (CParcelBox &b : m_records)
        b.m_onDisk = b.m_state == PARCEL_BOX_USED;
    m_floor = fileEnd;
    m_tablesStart = tablesStart < fileEnd ? tablesStart : fileEnd;
    m_committedEnd = EndOfUsedData();
}

void CParcelStorage::KeepTables(uint32_t tablesStart, uint32_t fileEnd)
{
    // What that commit names lies in the regions used here (a flush), in
    // holes (contents a compaction moved) or past the data named before (a
    // staging copy, new tables): all of it stays put until the next commit.
    // The regions used now are written over only by copy, as committed ones.
    for (CParcelBox &b : m_records)
        if (b.m_state == PARCEL_BOX_USED)
            b.m_onDisk = true;
    if (m_committedEnd < m_tablesStart)
        m_tablesStart = m_committedEnd;
    const uint32_t dataEnd = EndOfUsedData();
    if (dataEnd > m_committedEnd)
        m_committedEnd = dataEnd;
    if (tablesStart < m_tablesStart)
        m_tablesStart = tablesStart;
    if (fileEnd > m_floor)
        m_floor = fileEnd;
    m_unsure = true;
}

bool CParcelStorage::SafePlace(uint32_t dataEnd, uint32_t size, uint32_t *at) const
{
    // Right at dataEnd when nothing there is named; after a commit of
    // unknown fate a hole may hold what the newer tables name.
    if (!m_unsure && (uint64_t)dataEnd + size <= kRegionLimit && !TablesOverlap(dataEnd, size) &&
        !UsedOverlapsAfter(dataEnd, size)) {
        *at = dataEnd;
        return true;
    }
    uint64_t p = dataEnd > m_committedEnd ? dataEnd : m_committedEnd;
    if (p + size > m_tablesStart && p < m_floor)
        p = m_floor;
    if (p + size > kRegionLimit)
        return false;
    *at = (uint32_t)p;
    return true;
}

bool CParcelStorage::TablesOverlap(uint32_t offset, uint32_t size) const
{
    return size && offset < m_floor && (uint64_t)offset + size > m_tablesStart;
}

// Only the regions that end past offset are walked, from the last one.
bool CParcelStorage::UsedOverlapsAfter(uint32_t offset, uint32_t size) const
{
    const uint64_t end = (uint64_t)offset + size;
    for (CParcelIndexList::Node *n = m_regions.Last(); n && m_records[n->value].End() > offset; n = m_regions.Prev(n)) {
        const CParcelBox &b = m_records[n->value];
        if (b.m_state == PARCEL_BOX_USED && size && b.m_sizeLow && b.m_offsetLow < end)
            return true;
    }
    return false;
}

bool CParcelStorage::UsedOverlaps(uint32_t offset, uint32_t size) const
{
    const uint64_t end = (uint64_t)offset + size;
    for (CParcelIndexList::Node *n = m_regions.First(); n; n = m_regions.Next(n)) {
        const CParcelBox &b = m_records[n->value];
        if (b.m_state == PARCEL_BOX_USED && b.m_offsetLow < end && offset < b.End() && size && b.m_sizeLow)
            return true;
    }
    return false;
}

void CParcelStorage::Release(uint32_t index)
{
    if (index >= m_records.size() || m_records[index].m_state != PARCEL_BOX_USED)
        return;
    if (!m_records[index].m_onDisk) {
        Free(index);
        return;
    }
    if (!m_records[index].m_held)
        Hold(index);
}

void CParcelStorage::Hold(uint32_t index)
{
    m_records[index].m_held = true;
    m_held.push_back(index);
}

void CParcelStorage::Commit()
{
    for (CParcelBox &b : m_records)
        b.m_onDisk = false;
    for (uint32_t index : m_held) {
        m_records[index].m_held = false;
        Free(index);
    }
    m_held.clear();
    if ((int32_t)m_records.size() > m_capacity)
        m_capacity = (int32_t)m_records.size();
    m_floor = 0;
    m_tablesStart = 0;
    m_committedEnd = 0;
    m_unsure = false;
    // The new tables go right after the last used region.
    TrimAll();
}

uint32_t CParcelStorage::Trim()
{
    CParcelIndexList::Node *last = m_regions.Last();
    if (!last || m_records[last->value].m_state != PARCEL_BOX_FREE)
        return PARCEL_NO_REGION;
    uint32_t index = last->value;
    MakeSpare(index);
    return index;
}

uint32_t CParcelStorage::EndOfUsedData() const
{
    for (CParcelIndexList::Node *n = m_regions.Last(); n; n = m_regions.Prev(n)) {
        const CParcelBox &b = m_records[n->value];
        if (b.m_state == PARCEL_BOX_USED)
            return b.m_offsetLow + b.m_sizeLow;
    }
    return PARCEL_DATA_START;
}

uint32_t CParcelStorage::EndOfRegions() const
{
    const CParcelIndexList::Node *last = m_regions.Last();
    if (!last)
        return PARCEL_DATA_START;
    return m_records[last->value].m_offsetLow + m_records[last->value].m_sizeLow;
}

// Among the used regions after the hole, the largest that fits; of equal
// ones the later (moving it frees more at the end).
uint32_t CParcelStorage::BestFit(uint32_t hole) const
{
    if (hole >= m_records.size() || !m_records[hole].m_region)
        return PARCEL_NO_REGION;
    const uint32_t room = m_records[hole].m_sizeLow;
    uint32_t best = PARCEL_NO_REGION;
    for (CParcelIndexList::Node *n = m_regions.Next(m_records[hole].m_region); n; n = m_regions.Next(n)) {
        const CParcelBox &b = m_records[n->value];
        if (b.m_state == PARCEL_BOX_USED && b.m_sizeLow <= room &&
            (best == PARCEL_NO_REGION || b.m_sizeLow >= m_records[best].m_sizeLow))
            best = n->value;
    }
    return best;
}

bool CParcelStorage::PlanLayout(int level, std::vector<uint32_t> *offsets, std::vector<ParcelMove> *moves) const
{
    level = level < 0 ? 0 : level > 2 ? 2 : level;
    const size_t before = moves->size();
    try {
        std::vector<ParcelSpan> used;
        std::vector<uint32_t> records, at;
        for (CParcelIndexList::Node *n = m_regions.First(); n; n = m_regions.Next(n)) {
            const CParcelBox &b = m_records[n->value];
            if (b.m_state == PARCEL_BOX_USED) {
                used.push_back(ParcelSpan{b.m_offsetLow, b.m_sizeLow});
                records.push_back(n->value);
            }
        }
        // Every record not used can describe a hole.
        const uint64_t slots = std::max<uint64_t>((uint64_t)std::max(m_capacity, 0), m_records.size());
        if (!ParcelPlanLayout(used, PARCEL_DATA_START, slots - used.size(), kSlideThreshold[level], &at, moves))
            return false;
        offsets->assign(m_records.size(), 0);
        for (size_t i = 0; i < records.size(); ++i)
            (*offsets)[records[i]] = at[i];
        return true;
    } catch (const std::bad_alloc &) {
        moves->resize(before);
        return false;
    }
}

BOOL CParcelStorage::Compact(int level, std::vector<ParcelMove> *moves)
{
    const size_t before = moves->size();
    std::vector<uint32_t> offsets;
    if (!PlanLayout(level, &offsets, moves))
        return FALSE;
    CParcelStorage *laid = Relaid(offsets);
    if (!laid) {
        moves->resize(before);
        return FALSE;
    }
    Swap(*laid);
    delete laid;
    return TRUE;
}

CParcelStorage *CParcelStorage::Relaid(const std::vector<uint32_t> &offsets) const
{
    CParcelStorage *laid = new (std::nothrow) CParcelStorage;
    if (!laid)
        return nullptr;
    bool ok;
    try {
        ok = laid->Lay(*this, offsets);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    if (!ok) {
        delete laid;
        return nullptr;
    }
    return laid;
}

// The used records of from at their new offsets, in file order; the room
// between two takes a record that describes no region, a fresh one while
// the capacity allows, or stays named by nothing (legal, and given back by
// the next compaction). Records left over are spare.
bool CParcelStorage::Lay(const CParcelStorage &from, const std::vector<uint32_t> &offsets)
{
    const uint32_t count = (uint32_t)from.m_records.size();
    if (offsets.size() < count)
        return false;
    m_capacity = std::max<int32_t>(from.m_capacity, (int32_t)count);
    // Regions of no size before the one that starts where they lie.
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> order;
    std::vector<uint32_t> idle;
    for (uint32_t i = 0; i < count; ++i) {
        const CParcelBox &b = from.m_records[i];
        if (b.m_state == PARCEL_BOX_USED && b.m_region)
            order.push_back(std::make_tuple(offsets[i], b.m_sizeLow, i));
        else
            idle.push_back(i);
    }
    std::sort(order.begin(), order.end());
    m_records.resize(count);
    m_freeIndex.assign(count, FreeNode{PARCEL_NO_REGION, PARCEL_NO_REGION, 0, false});
    size_t nextIdle = 0;
    uint64_t cursor = PARCEL_DATA_START;
    for (const auto &o : order) {
        const uint32_t at = std::get<0>(o), index = std::get<2>(o);
        if (at > cursor) {
            uint32_t hole = PARCEL_NO_REGION;
            if (nextIdle < idle.size()) {
                hole = idle[nextIdle++];
            } else if ((int64_t)m_records.size() < m_capacity) {
                hole = (uint32_t)m_records.size();
                m_records.push_back(CParcelBox());
                m_freeIndex.push_back(FreeNode{PARCEL_NO_REGION, PARCEL_NO_REGION, 0, false});
            }
            if (hole != PARCEL_NO_REGION) {
                CParcelBox &h = m_records[hole];
                SetUsed(h, (uint32_t)cursor, at - (uint32_t)cursor);
                h.m_state = PARCEL_BOX_FREE;
                if (!(h.m_region = m_regions.PushBack(hole)) || !(h.m_free = m_free.PushBack(hole)))
                    return false;
                FreeIndexIn(hole);
            }
        }
        CParcelBox &b = m_records[index];
        const CParcelBox &was = from.m_records[index];
        SetUsed(b, at, was.m_sizeLow);
        b.m_sizeHigh = was.m_sizeHigh;
        b.m_reserved = was.m_reserved;
        if (!(b.m_region = m_regions.PushBack(index)))
            return false;
        cursor = std::max<uint64_t>(cursor, (uint64_t)at + was.m_sizeLow);
    }
    for (; nextIdle < idle.size(); ++nextIdle) {
        CParcelBox &b = m_records[idle[nextIdle]];
        b.m_state = PARCEL_BOX_SPARE;
        if (!(b.m_spare = m_spare.PushBack(idle[nextIdle])))
            return false;
    }
    // Offsets that would let two regions overlap are refused here.
    return Check() != FALSE;
}

void CParcelStorage::Swap(CParcelStorage &other)
{
    std::swap(m_capacity, other.m_capacity);
    m_records.swap(other.m_records);
    m_regions.Swap(other.m_regions);
    m_free.Swap(other.m_free);
    m_spare.Swap(other.m_spare);
    std::swap(m_floor, other.m_floor);
    std::swap(m_tablesStart, other.m_tablesStart);
    std::swap(m_committedEnd, other.m_committedEnd);
    std::swap(m_unsure, other.m_unsure);
    m_held.swap(other.m_held);
    std::swap(m_outOfRecords, other.m_outOfRecords);
    m_freeIndex.swap(other.m_freeIndex);
    std::swap(m_freeRoot, other.m_freeRoot);
    std::swap(m_unindexedFree, other.m_unindexedFree);
}

BOOL CParcelStorage::PlanSteps(const CParcelStorage &laid, uint32_t stageFrom, std::vector<ParcelMove> *first,
                               std::vector<ParcelMove> *second, CParcelStorage **staged) const
{
    *staged = nullptr;
    try {
        // The bytes the tables on disk name, the tables themselves among
        // them, by where they end.
        std::vector<std::pair<uint32_t, uint32_t>> named;
        for (CParcelIndexList::Node *n = m_regions.First(); n; n = m_regions.Next(n)) {
            const CParcelBox &b = m_records[n->value];
            if (b.m_state == PARCEL_BOX_USED && b.m_sizeLow)
                named.push_back(std::make_pair(b.m_offsetLow + b.m_sizeLow, b.m_offsetLow));
        }
        if (m_floor > m_tablesStart)
            named.push_back(std::make_pair(m_floor, m_tablesStart));
        std::sort(named.begin(), named.end());
        const auto holdsNamed = [&](uint32_t offset, uint32_t size) {
            const auto it = std::upper_bound(named.begin(), named.end(), std::make_pair(offset, 0xFFFFFFFFu));
            return it != named.end() && (uint64_t)it->second < (uint64_t)offset + size;
        };
        std::vector<uint32_t> offsets(laid.m_records.size(), 0), parked;
        uint64_t parkedBytes = 0;
        for (uint32_t i = 0; i < laid.m_records.size(); ++i) {
            const CParcelBox &to = laid.m_records[i];
            if (to.m_state != PARCEL_BOX_USED)
                continue;
            const CParcelBox *was = GetBox(i);
            if (!was || was->m_state != PARCEL_BOX_USED || was->m_sizeLow != to.m_sizeLow)
                return FALSE;
            offsets[i] = to.m_offsetLow;
            if (was->m_offsetLow == to.m_offsetLow || !to.m_sizeLow)
                continue;
            if (holdsNamed(to.m_offsetLow, to.m_sizeLow)) {
                parked.push_back(i);
                parkedBytes += to.m_sizeLow;
            } else {
                first->push_back(ParcelMove{was->m_offsetLow, 0, to.m_offsetLow, 0, to.m_sizeLow, 0});
            }
        }
        if (parked.empty())
            return TRUE;
        uint32_t at;
        if (parkedBytes > kRegionLimit || !SafePlace(stageFrom, (uint32_t)parkedBytes, &at)) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return FALSE;
        }
        for (uint32_t i : parked) {
            const uint32_t size = m_records[i].m_sizeLow;
            first->push_back(ParcelMove{m_records[i].m_offsetLow, 0, at, 0, size, 0});
            second->push_back(ParcelMove{at, 0, offsets[i], 0, size, 0});
            offsets[i] = at;
            at += size;
        }
        *staged = laid.Relaid(offsets);
        if (!*staged)
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return *staged ? TRUE : FALSE;
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL CParcelStorage::Check() const
{
    const uint32_t count = (uint32_t)m_records.size();
    if ((int64_t)count > (int64_t)m_capacity + m_held.size())
        return FALSE;
    std::vector<uint32_t> ordinal(count, PARCEL_NO_REGION);
    uint32_t position = 0;
    uint64_t cursor = PARCEL_DATA_START;
    for (CParcelIndexList::Node *n = m_regions.First(); n; n = m_regions.Next(n), ++position) {
        if (n->value >= count)
            return FALSE;
        const CParcelBox &b = m_records[n->value];
        if (b.m_region != n || b.m_spare || b.m_state == PARCEL_BOX_SPARE)
            return FALSE;
        if (b.m_state == PARCEL_BOX_USED && b.m_free)
            return FALSE;
        if (b.m_state == PARCEL_BOX_FREE && !b.m_free)
            return FALSE;
        if (b.m_state != PARCEL_BOX_USED && b.m_state != PARCEL_BOX_FREE)
            return FALSE;
        if (b.m_offsetHigh != 0 || b.m_sizeHigh != 0 || b.m_offsetLow < cursor)
            return FALSE;
        cursor = b.End();
        if (cursor > kRegionLimit)
            return FALSE;
        ordinal[n->value] = position;
    }
    // The free list holds the free regions, in the region list's order.
    bool first = true;
    uint32_t last = 0;
    for (CParcelIndexList::Node *n = m_free.First(); n; n = m_free.Next(n)) {
        if (n->value >= count)
            return FALSE;
        const CParcelBox &b = m_records[n->value];
        if (b.m_free != n || !b.m_region || b.m_state != PARCEL_BOX_FREE)
            return FALSE;
        if (!first && ordinal[n->value] <= last)
            return FALSE;
        last = ordinal[n->value];
        first = false;
    }
    for (CParcelIndexList::Node *n = m_spare.First(); n; n = m_spare.Next(n)) {
        if (n->value >= count)
            return FALSE;
        const CParcelBox &b = m_records[n->value];
        if (b.m_spare != n || b.m_region || b.m_free || b.m_state != PARCEL_BOX_SPARE)
            return FALSE;
    }
    // Every record handed out is either a region or spare, never lost.
    if ((uint64_t)m_regions.Count() + m_spare.Count() != count)
        return FALSE;
    return CheckFreeIndex() ? TRUE : FALSE;
}

// The index holds the free regions of some size, in the free list's order,
// each with the largest size below it.
bool CParcelStorage::CheckFreeIndex() const
{
    if (m_freeIndex.size() != m_records.size())
        return false;
    std::vector<uint32_t> stack, order;
    for (uint32_t n = m_freeRoot; n != PARCEL_NO_REGION || !stack.empty();) {
        if (n != PARCEL_NO_REGION) {
            if (n >= m_records.size() || !m_freeIndex[n].in || stack.size() > m_records.size())
                return false;
            stack.push_back(n);
            n = m_freeIndex[n].left;
            continue;
        }
        n = stack.back();
        stack.pop_back();
        order.push_back(n);
        uint32_t largest = m_records[n].m_sizeLow;
        for (uint32_t child : {m_freeIndex[n].left, m_freeIndex[n].right})
            if (child != PARCEL_NO_REGION && m_freeIndex[child].largest > largest)
                largest = m_freeIndex[child].largest;
        if (largest != m_freeIndex[n].largest)
            return false;
        n = m_freeIndex[n].right;
    }
    size_t k = 0;
    for (CParcelIndexList::Node *n = m_free.First(); n; n = m_free.Next(n)) {
        if (!m_records[n->value].m_sizeLow) {
            if (!m_unindexedFree)
                return false;
            continue;
        }
        if (k >= order.size() || order[k++] != n->value)
            return false;
    }
    size_t in = 0;
    for (const FreeNode &f : m_freeIndex)
        in += f.in ? 1 : 0;
    return k == order.size() && in == order.size();
}

CParcelStorage *CParcelStorage::Clone() const
{
    std::unique_ptr<CParcelStorage> copy(new (std::nothrow) CParcelStorage);
    if (!copy)
        return nullptr;
    try {
        copy->m_records.resize(m_records.size());
        copy->m_freeIndex = m_freeIndex;
        copy->m_held = m_held;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    copy->m_capacity = m_capacity;
    for (size_t i = 0; i < m_records.size(); ++i) {
        CParcelBox &d = copy->m_records[i];
        const CParcelBox &s = m_records[i];
        d.m_state = s.m_state;
        d.m_offsetLow = s.m_offsetLow;
        d.m_offsetHigh = s.m_offsetHigh;
        d.m_sizeLow = s.m_sizeLow;
        d.m_sizeHigh = s.m_sizeHigh;
        d.m_reserved = s.m_reserved;
        d.m_onDisk = s.m_onDisk;
        d.m_held = s.m_held;
    }
    copy->m_freeRoot = m_freeRoot;
    copy->m_unindexedFree = m_unindexedFree;
    copy->m_floor = m_floor;
    copy->m_tablesStart = m_tablesStart;
    copy->m_committedEnd = m_committedEnd;
    copy->m_unsure = m_unsure;
    for (CParcelIndexList::Node *n = m_regions.First(); n; n = m_regions.Next(n))
        if (!(copy->m_records[n->value].m_region = copy->m_regions.PushBack(n->value)))
            return nullptr;
    for (CParcelIndexList::Node *n = m_free.First(); n; n = m_free.Next(n))
        if (!(copy->m_records[n->value].m_free = copy->m_free.PushBack(n->value)))
            return nullptr;
    for (CParcelIndexList::Node *n = m_spare.First(); n; n = m_spare.Next(n))
        if (!(copy->m_records[n->value].m_spare = copy->m_spare.PushBack(n->value)))
            return nullptr;
    // Its commit frees what is held, and trims the end.
    if (!copy->Ready((uint32_t)m_held.size() + 1))
        return nullptr;
    return copy.release();
}

// Room for more elements without a move for each: growing by at least half.
template <class V>
static void ReserveMore(V &v, size_t more)
{
    const size_t want = v.size() + more;
    if (want > v.capacity())
        v.reserve(want > v.size() + v.size() / 2 ? want : v.size() + v.size() / 2);
}

// An allocation takes up to two records (one covering the tables on disk),
// two region-list places, a free-list place and a held place; a release
// holds one region, or frees it, which parks up to three records as spare.
bool CParcelStorage::Ready(uint32_t count)
{
    if (!m_regions.Reserve(2 * count) || !m_free.Reserve(count) || !m_spare.Reserve(3 * count))
        return false;
    try {
        ReserveMore(m_records, 2 * count);
        ReserveMore(m_freeIndex, 2 * count);
        ReserveMore(m_held, 2 * count);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

uint32_t CParcelStorage::TableSize() const
{
    return 3 * 4 + PARCEL_BOX_RECORD_SIZE * (uint32_t)m_records.size() + 3 * 4 +
           4 * (m_regions.Count() + m_free.Count() + m_spare.Count());
}

void CParcelStorage::WriteTable(CParcelWriter &w) const
{
    w.WriteU32(PARCEL_STORAGE_VERSION);
    w.WriteU32((uint32_t)std::max<int64_t>(m_capacity, (int64_t)m_records.size()));
    w.WriteU32((uint32_t)m_records.size());
    for (const CParcelBox &b : m_records) {
        w.WriteU8(b.m_state);
        w.WriteU32(b.m_offsetLow);
        w.WriteU32(b.m_offsetHigh);
        w.WriteU32(b.m_sizeLow);
        w.WriteU32(b.m_sizeHigh);
        w.WriteU32(b.m_reserved);
    }
    w.WriteU32(m_regions.Count());
    w.WriteU32(m_free.Count());
    w.WriteU32(m_spare.Count());
    for (CParcelIndexList::Node *n = m_regions.First(); n; n = m_regions.Next(n))
        w.WriteU32(n->value);
    for (CParcelIndexList::Node *n = m_free.First(); n; n = m_free.Next(n))
        w.WriteU32(n->value);
    for (CParcelIndexList::Node *n = m_spare.First(); n; n = m_spare.Next(n))
        w.WriteU32(n->value);
}

static bool OutOfMemory()
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
}

// Builds the three lists from the indices read, refusing anything that would
// let two regions overlap or a record be in two places at once.
bool CParcelStorage::LinkLists(const std::vector<uint32_t> lists[3])
{
    const uint32_t count = (uint32_t)m_records.size();
    std::vector<uint32_t> ordinal(count, PARCEL_NO_REGION);
    uint64_t cursor = PARCEL_DATA_START;
    for (uint32_t i = 0; i < lists[0].size(); ++i) {
        uint32_t idx = lists[0][i];
        if (idx >= count)
            return false;
        CParcelBox &b = m_records[idx];
        if (b.m_region || (b.m_state != PARCEL_BOX_USED && b.m_state != PARCEL_BOX_FREE))
            return false;
        if (b.m_offsetHigh != 0 || b.m_sizeHigh != 0 || b.m_offsetLow < cursor)
            return false;
        cursor = b.End();
        if (cursor > kRegionLimit)
            return false;
        if (!(b.m_region = m_regions.PushBack(idx)))
            return OutOfMemory();
        ordinal[idx] = i;
    }
    uint32_t lastOrdinal = 0;
    for (size_t i = 0; i < lists[1].size(); ++i) {
        uint32_t idx = lists[1][i];
        if (idx >= count)
            return false;
        CParcelBox &b = m_records[idx];
        if (b.m_free || !b.m_region || b.m_state != PARCEL_BOX_FREE)
            return false;
        if (i > 0 && ordinal[idx] <= lastOrdinal)
            return false;
        lastOrdinal = ordinal[idx];
        if (!(b.m_free = m_free.PushBack(idx)))
            return OutOfMemory();
        if (b.m_sizeLow)
            FreeIndexIn(idx);
        else
            m_unindexedFree = true;
    }
    for (uint32_t idx : lists[2]) {
        if (idx >= count)
            return false;
        CParcelBox &b = m_records[idx];
        if (b.m_spare || b.m_region || b.m_state != PARCEL_BOX_SPARE)
            return false;
        if (!(b.m_spare = m_spare.PushBack(idx)))
            return OutOfMemory();
    }
    for (const CParcelBox &b : m_records)
        if (b.m_state == PARCEL_BOX_FREE && b.m_region && !b.m_free)
            return false;
    return Check() != FALSE;
}

BOOL CParcelStorage::ReadTable(CParcelReader &r)
{
    Clear();
    uint32_t version = r.ReadU32();
    uint32_t capacity = r.ReadU32();
    uint32_t count = r.ReadU32();
    if (!r.Ok() || version != PARCEL_STORAGE_VERSION)
        return FALSE;
    if (capacity == 0 || capacity > 0x7FFFFFFFu || count > capacity)
        return FALSE;
    // Check the count against the bytes present before allocating for it.
    if ((uint64_t)count * PARCEL_BOX_RECORD_SIZE > r.Remaining())
        return FALSE;
    m_capacity = (int32_t)capacity;
    m_records.resize(count);
    m_freeIndex.assign(count, FreeNode{PARCEL_NO_REGION, PARCEL_NO_REGION, 0, false});
    for (CParcelBox &b : m_records) {
        b.m_state = r.ReadU8();
        b.m_offsetLow = r.ReadU32();
        b.m_offsetHigh = r.ReadU32();
        b.m_sizeLow = r.ReadU32();
        b.m_sizeHigh = r.ReadU32();
        b.m_reserved = r.ReadU32();
    }
    uint32_t lengths[3];
    for (uint32_t &n : lengths)
        n = r.ReadU32();
    if (!r.Ok() || (uint64_t)lengths[0] + lengths[2] != count || lengths[1] > lengths[0] ||
        ((uint64_t)lengths[0] + lengths[1] + lengths[2]) * 4 > r.Remaining()) {
        Clear();
        return FALSE;
    }
    std::vector<uint32_t> lists[3];
    for (int l = 0; l < 3; ++l) {
        lists[l].resize(lengths[l]);
        for (uint32_t &v : lists[l])
            v = r.ReadU32();
    }
    if (!r.Ok() || !LinkLists(lists)) {
        Clear();
        return FALSE;
    }
    return TRUE;
}

BOOL CParcelStorage::Read(HANDLE file)
{
    std::vector<uint8_t> body;
    if (!ParcelReadChunk(file, PARCEL_CHUNK_STORAGE, &body, nullptr)) {
        Clear();
        return FALSE;
    }
    CParcelReader r(body.data(), body.size());
    return ReadTable(r);
}

BOOL CParcelStorage::Write(HANDLE file) const
{
    CParcelWriter w;
    WriteTable(w);
    return ParcelWriteChunk(file, PARCEL_CHUNK_STORAGE, w.Bytes()) ? TRUE : FALSE;
}
