// One record of the archive's storage table: a region of the file, or a spare slot.
#pragma once

#include <cstdint>

#include "archive/CParcelList.h"

enum {
    PARCEL_BOX_SPARE = 1,
    PARCEL_BOX_FREE = 2,
    PARCEL_BOX_USED = 4,
};

// On disk: u8 state, u32 offset low/high, u32 size low/high, u32 reserved.
enum { PARCEL_BOX_RECORD_SIZE = 21 };
static_assert(1 + 5 * 4 == PARCEL_BOX_RECORD_SIZE, "region record is 21 bytes");

// A record index that names no region.
const uint32_t PARCEL_NO_REGION = 0xFFFFFFFFu;

typedef CParcelList<uint32_t> CParcelIndexList;

class CParcelBox {
public:
    CParcelBox();
    virtual ~CParcelBox() {}

    uint64_t End() const { return (uint64_t)m_offsetLow + m_sizeLow; }

    uint8_t m_state;
    uint32_t m_offsetLow;
    uint32_t m_offsetHigh;
    uint32_t m_sizeLow;
    uint32_t m_sizeHigh;
    uint32_t m_reserved;
    // Where the record sits in each of the storage's lists (memory only); at
    // most one of region/spare is set, and free only together with region.
    CParcelIndexList::Node *m_region;
    CParcelIndexList::Node *m_free;
    CParcelIndexList::Node *m_spare;
    // A used region that the tables on disk name (memory only): its bytes
    // stay put until new tables are written.
    bool m_onDisk;
    // Among the regions the storage holds until the next commit (memory only).
    bool m_held;
};
