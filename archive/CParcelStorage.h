// Space manager of a packed archive: hands out, takes back and compacts file regions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "archive/CParcelBox.h"

class CParcelReader;
class CParcelWriter;

// Where the data area starts: archive version (4), data chunk header (6) and
// data chunk version (4).
enum { PARCEL_DATA_START = 14 };
static_assert(4 + 6 + 4 == PARCEL_DATA_START, "first region offset");

enum { PARCEL_STORAGE_VERSION = 2 };

// One copy of contents that compaction asks for: size bytes from src to dst.
struct ParcelMove {
    uint32_t srcLow;
    uint32_t srcHigh;
    uint32_t dstLow;
    uint32_t dstHigh;
    uint32_t sizeLow;
    uint32_t sizeHigh;
};

class CParcelStorage {
public:
    CParcelStorage();
    virtual ~CParcelStorage();
    CParcelStorage(const CParcelStorage &) = delete;
    CParcelStorage &operator=(const CParcelStorage &) = delete;

    // An empty table that can hold capacity records (at least 1).
    BOOL Create(int32_t capacity);
    // The storage-table chunk at the file's current position; the file is
    // left at the chunk's end. A table that contradicts itself fails.
    BOOL Read(HANDLE file);
    BOOL Write(HANDLE file) const;
    // The chunk body alone (what follows the chunk header).
    BOOL ReadTable(CParcelReader &reader);
    void WriteTable(CParcelWriter &writer) const;
    // The size of that body.
    uint32_t TableSize() const;

    // Record index of a used region of that size, or PARCEL_NO_REGION. A
    // region that replaces one about to be released (a copy of committed
    // contents) takes a record even from a full table.
    uint32_t Allocate(uint32_t sizeLow, uint32_t sizeHigh, bool replacing = false);
    // Whether the last Allocate was refused for want of a record (otherwise
    // the region would have passed 4 GiB).
    bool OutOfRecords() const { return m_outOfRecords; }
    void Free(uint32_t index);
    // Drops a free region at the end of the file; its index or PARCEL_NO_REGION.
    uint32_t Trim();
    uint32_t EndOfUsedData() const;
    // The used region after the hole that fits it best, or PARCEL_NO_REGION.
    uint32_t BestFit(uint32_t hole) const;
    // Moves contents forward into holes (ParcelPlanLayout: each hole in file
    // order takes the largest region after it that fits), with the level's
    // threshold for slides; the moves, to apply in order, go to moves. The
    // storage, with nothing held, is laid out anew and no longer protected.
    // FALSE without memory, the storage as it was.
    BOOL Compact(int level, std::vector<ParcelMove> *moves);
    // A storage like this one with each used region at the offset given for
    // its record (the room between them free regions while records last),
    // with nothing held or protected; null without memory.
    CParcelStorage *Relaid(const std::vector<uint32_t> &offsets) const;
    // How to reach the layout of laid (worked out from this storage, whose
    // tables are on disk) without writing over a byte those tables name:
    // first the contents that can go to their places at once go there, and
    // those whose places hold named bytes go to staging room from stageFrom
    // on; when any did, the storage to commit after that goes to staged and
    // second holds the moves from there to their places (otherwise staged
    // is null). FALSE without memory or room, the last error saying which
    // (ERROR_NOT_ENOUGH_MEMORY, ERROR_FILE_TOO_LARGE).
    BOOL PlanSteps(const CParcelStorage &laid, uint32_t stageFrom, std::vector<ParcelMove> *first,
                   std::vector<ParcelMove> *second, CParcelStorage **staged) const;
    // Whether a used region overlaps size bytes from offset.
    bool UsedOverlaps(uint32_t offset, uint32_t size) const;
    BOOL Check() const;
    void Clear();

    // Between two flushes the file's tables describe the regions used when
    // they were written, and lie after them up to the end of the file; a
    // process that stops before the next flush leaves exactly those tables.
    // Protect (after reading or writing the tables) keeps both intact: new
    // regions start at fileEnd or later, and Release holds a region those
    // tables name until Commit, which comes right before new tables are
    // written and lets everything go.
    void Protect(uint32_t fileEnd);
    // Tables from tablesStart to fileEnd; what lies between the data and
    // tablesStart is named by nothing and may be handed out.
    void Protect(uint32_t tablesStart, uint32_t fileEnd);
    // Where size bytes that the tables on disk must survive (new tables, a
    // staging copy) can go, for new data that ends at dataEnd: right there
    // when nothing those tables name lies there, otherwise past every region
    // they name and clear of the tables themselves. FALSE past 4 GiB.
    bool SafePlace(uint32_t dataEnd, uint32_t size, uint32_t *at) const;
    uint32_t TablesStart() const { return m_tablesStart; }
    uint32_t TablesEnd() const { return m_floor; }
    // The tables on disk, which name no region, now lie from tablesStart to fileEnd.
    void MoveTables(uint32_t tablesStart, uint32_t fileEnd)
    {
        m_tablesStart = tablesStart;
        m_floor = fileEnd;
    }
    // The end of the last region, used or not, or the start of the data.
    uint32_t EndOfRegions() const;
    // After a commit of tables from tablesStart to fileEnd that may or may not
    // have reached the disk: until the next commit, no byte that either those
    // tables or the ones before them name is handed out again, and the regions
    // used now are written over only by copy.
    void KeepTables(uint32_t tablesStart, uint32_t fileEnd);
    // Frees a region, or holds it when the tables on disk still name it.
    void Release(uint32_t index);
    // Whether the tables on disk are sure and name nothing held: the next
    // tables need only be written when they differ from them.
    bool Settled() const { return !m_unsure && m_held.empty(); }
    // Frees what was held; a table that ran past its capacity keeps the
    // larger one.
    void Commit();
    // A deep copy, so that a compaction can be tried before it is kept; its
    // Commit cannot run out of memory. Null without memory.
    CParcelStorage *Clone() const;
    // Sets aside what the next count allocations or releases (Allocate,
    // Release, Free) can need, so that none of them stops half way for want
    // of memory. False, and nothing changed, without memory.
    bool Ready(uint32_t count);

    // Records that a copy took past it count from the next commit on.
    int32_t GetCapacity() const { return m_capacity; }
    int32_t GetCount() const { return (int32_t)m_records.size(); }
    // Null when the index has not been handed out.
    const CParcelBox *GetBox(uint32_t index) const;
    const CParcelIndexList &GetRegionList() const { return m_regions; }
    const CParcelIndexList &GetFreeList() const { return m_free; }
    const CParcelIndexList &GetSpareList() const { return m_spare; }

private:
    bool RecordAvailable() const;
    // With held more records about to be held.
    uint32_t RecordsAvailable(uint32_t held = 0) const;
    void TrimAll();
    uint32_t TakeRecord(uint32_t held = 0);
    void MakeSpare(uint32_t index);
    void Absorb(uint32_t into, uint32_t absorbed);
    uint32_t FirstFit(uint32_t size) const;
    // Hands out size bytes from the start of that free region.
    uint32_t TakeFree(uint32_t taken, uint32_t sizeLow, uint32_t held);
    // Where the compaction puts every used region (by record), and the
    // moves that take them there.
    bool PlanLayout(int level, std::vector<uint32_t> *offsets, std::vector<ParcelMove> *moves) const;
    bool Lay(const CParcelStorage &from, const std::vector<uint32_t> &offsets);
    void Swap(CParcelStorage &other);
    bool TablesOverlap(uint32_t offset, uint32_t size) const;
    bool UsedOverlapsAfter(uint32_t offset, uint32_t size) const;
    uint32_t RegionAfter(uint32_t index) const;
    uint32_t RegionBefore(uint32_t index) const;
    bool LinkLists(const std::vector<uint32_t> lists[3]);
    // Holds the region until the next commit.
    void Hold(uint32_t index);

    // The free regions of some size, by offset, each knowing the largest
    // size below it: first fit and the free region before a place without
    // walking the list. A free region of no size covers no bytes and is
    // made spare instead; one read from a table is left out, and then the
    // free list is walked as before.
    struct FreeNode {
        uint32_t left, right, largest;
        bool in;
    };
    void FreeIndexIn(uint32_t index);
    void FreeIndexOut(uint32_t index);
    // After the offset or size of an indexed region changed without passing
    // another free region.
    void FreeIndexUpdate(uint32_t index);
    void FreeIndexPull(uint32_t node);
    void FreeIndexSplit(uint32_t node, uint64_t key, uint32_t *left, uint32_t *right);
    uint32_t FreeIndexMerge(uint32_t left, uint32_t right);
    void FreeIndexFix(uint32_t node, uint32_t index);
    // The last free region before that offset, or PARCEL_NO_REGION.
    uint32_t FreeBefore(uint32_t offset) const;
    bool CheckFreeIndex() const;

    int32_t m_capacity;
    std::vector<CParcelBox> m_records;
    CParcelIndexList m_regions;
    CParcelIndexList m_free;
    CParcelIndexList m_spare;
    // While the tables on disk are kept they lie from m_tablesStart to
    // m_floor, and the regions they name end at m_committedEnd: a region that
    // does not fit below m_tablesStart starts at m_floor or later.
    uint32_t m_floor;
    uint32_t m_tablesStart;
    uint32_t m_committedEnd;
    // Set by KeepTables until the next Commit: holes are not handed out and
    // released regions are held.
    bool m_unsure;
    // Regions to free at Commit: released ones the tables on disk name, and
    // the one that covers those tables when new regions had to go past them.
    std::vector<uint32_t> m_held;
    bool m_outOfRecords;
    std::vector<FreeNode> m_freeIndex;
    uint32_t m_freeRoot;
    // A table read held a free region of no size, which the index leaves out.
    bool m_unindexedFree;
};
