// Vertex buffers shared by the pipelines: static space, dynamic buffers and the ring.
#include "d3d9vertexbuffer.h"

#include <cstdint>

#include "d3d9device.h"
#include "gfx/core/memory.h"

// A free stretch of a shared static buffer.
struct FreeRange {
    RwUInt32 offset;
    RwUInt32 size;
    IDirect3DVertexBuffer9 *buffer;
    FreeRange *next;
    FreeRange *prev;
};
static_assert(sizeof(FreeRange) == 20, "free range is 20 bytes");

// Every shared buffer made for a stride, released at close.
struct BufferRecord {
    IDirect3DVertexBuffer9 *buffer;
    BufferRecord *next;
};
static_assert(sizeof(BufferRecord) == 8, "buffer record is 8 bytes");

struct StrideEntry {
    RwUInt32 stride;
    FreeRange *ranges;
    BufferRecord *buffers;
    StrideEntry *next;
};
static_assert(sizeof(StrideEntry) == 16, "stride entry is 16 bytes");

struct DynamicRecord {
    RwUInt32 size;
    RwUInt32 inUse;
    IDirect3DVertexBuffer9 *buffer;   // NULL while released for a device reset
    void **owner;                     // the owner's variable, or NULL
    DynamicRecord *next;
};
static_assert(sizeof(DynamicRecord) == 20, "dynamic record is 20 bytes");

enum : RwUInt32 {
    StaticHint = 0x30411,
    DynamicHint = 0x40411,
    FreeListHint = 0x40411,
    DynamicUsage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
};

static RwFreeList *StrideFreeList;
static RwFreeList *RangeFreeList;
static RwFreeList *BufferFreeList;
static RwFreeList *DynamicFreeList;

static StrideEntry *Strides;
static DynamicRecord *DynamicRecords;
static RwD3D9RingSlot Ring[rwD3D9RINGSLOTS];
static RwUInt32 CurrentSlot;

static RwBool HardwareTnL(void)
{
    return (rwD3D9Driver.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
}

static IDirect3DVertexBuffer9 *AsBuffer(void *buffer)
{
    return static_cast<IDirect3DVertexBuffer9 *>(buffer);
}

// ---------------------------------------------------------------------------
// Static space

static StrideEntry *FindStride(RwUInt32 stride)
{
    for (StrideEntry *e = Strides; e; e = e->next)
        if (e->stride == stride)
            return e;
    return nullptr;
}

static void Unlink(StrideEntry *entry, FreeRange *range)
{
    if (range->prev)
        range->prev->next = range->next;
    else
        entry->ranges = range->next;
    if (range->next)
        range->next->prev = range->prev;
}

static void PushFront(StrideEntry *entry, FreeRange *range)
{
    range->prev = nullptr;
    range->next = entry->ranges;
    if (entry->ranges)
        entry->ranges->prev = range;
    entry->ranges = range;
}

// Sizes are kept whole vertices so that every offset stays a vertex boundary;
// 0 when the rounded size would not fit in 32 bits.
static RwUInt32 WholeVertices(RwUInt32 size, RwUInt32 stride)
{
    uint64_t rounded = (static_cast<uint64_t>(size) + stride - 1) / stride * stride;
    return rounded > 0xFFFFFFFFu ? 0 : static_cast<RwUInt32>(rounded);
}

RwBool RwD3D9CreateVertexBuffer(RwUInt32 stride, RwUInt32 size, void **vertexBuffer, RwUInt32 *offset)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (stride == 0 || vertexBuffer == nullptr || offset == nullptr || device == nullptr || RangeFreeList == nullptr)
        return FALSE;
    size = WholeVertices(size, stride);
    if (size == 0)
        return FALSE;

    StrideEntry *entry = FindStride(stride);
    if (entry == nullptr) {
        entry = static_cast<StrideEntry *>(RwFreeListAlloc(StrideFreeList, StaticHint));
        if (entry == nullptr)
            return FALSE;
        *entry = {stride, nullptr, nullptr, Strides};
        Strides = entry;
    }

    FreeRange *range = entry->ranges;
    while (range && range->size < size)
        range = range->next;
    if (range == nullptr) {
        RwUInt32 bufferSize = WholeVertices(rwD3D9STATICBUFFERSIZE, stride);
        if (size >= bufferSize)
            bufferSize = size;
        range = static_cast<FreeRange *>(RwFreeListAlloc(RangeFreeList, StaticHint));
        BufferRecord *record = static_cast<BufferRecord *>(RwFreeListAlloc(BufferFreeList, StaticHint));
        IDirect3DVertexBuffer9 *buffer = nullptr;
        if (range == nullptr || record == nullptr ||
            FAILED(device->CreateVertexBuffer(bufferSize, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &buffer, nullptr))) {
            if (range)
                RwFreeListFree(RangeFreeList, range);
            if (record)
                RwFreeListFree(BufferFreeList, record);
            return FALSE;
        }
        *range = {0, bufferSize, buffer, nullptr, nullptr};
        PushFront(entry, range);
        *record = {buffer, entry->buffers};
        entry->buffers = record;
    }

    *vertexBuffer = range->buffer;
    *offset = range->offset;
    range->offset += size;
    range->size -= size;
    if (range->size == 0) {
        Unlink(entry, range);
        RwFreeListFree(RangeFreeList, range);
    }
    return TRUE;
}

static RwBool OwnsBuffer(const StrideEntry *entry, const IDirect3DVertexBuffer9 *buffer)
{
    for (const BufferRecord *r = entry->buffers; r; r = r->next)
        if (r->buffer == buffer)
            return TRUE;
    return FALSE;
}

// The range of the same buffer that ends where [start, end) begins or begins where it ends.
static FreeRange *Neighbour(StrideEntry *entry, IDirect3DVertexBuffer9 *buffer, RwUInt32 start, RwUInt32 end,
                            const FreeRange *skip)
{
    for (FreeRange *r = entry->ranges; r; r = r->next)
        if (r != skip && r->buffer == buffer && (r->offset + r->size == start || r->offset == end))
            return r;
    return nullptr;
}

static void MergeInto(FreeRange *range, RwUInt32 offset, RwUInt32 size)
{
    if (offset < range->offset)
        range->offset = offset;
    range->size += size;
}

void RwD3D9DestroyVertexBuffer(RwUInt32 stride, RwUInt32 size, void *vertexBuffer, RwUInt32 offset)
{
    StrideEntry *entry = stride ? FindStride(stride) : nullptr;
    IDirect3DVertexBuffer9 *buffer = AsBuffer(vertexBuffer);
    if (entry == nullptr || buffer == nullptr || !OwnsBuffer(entry, buffer))
        return;
    size = WholeVertices(size, stride);
    if (size == 0 || offset > 0xFFFFFFFFu - size)
        return;
    const RwUInt32 end = offset + size;
    // Space returned twice would be handed out twice.
    for (const FreeRange *r = entry->ranges; r; r = r->next)
        if (r->buffer == buffer && r->offset < end && offset < r->offset + r->size)
            return;

    FreeRange *range = Neighbour(entry, buffer, offset, end, nullptr);
    if (range == nullptr) {
        range = static_cast<FreeRange *>(RwFreeListAlloc(RangeFreeList, StaticHint));
        if (range == nullptr)
            return;
        *range = {offset, size, buffer, nullptr, nullptr};
        PushFront(entry, range);
        return;
    }
    MergeInto(range, offset, size);
    FreeRange *other;
    while ((other = Neighbour(entry, buffer, range->offset, range->offset + range->size, range)) != nullptr) {
        Unlink(entry, range);
        MergeInto(other, range->offset, range->size);
        RwFreeListFree(RangeFreeList, range);
        range = other;
    }
}

// ---------------------------------------------------------------------------
// Dynamic buffers

static D3DPOOL DynamicPool(void)
{
    return HardwareTnL() ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
}

static DynamicRecord *FindDynamic(const IDirect3DVertexBuffer9 *buffer)
{
    for (DynamicRecord *r = DynamicRecords; r; r = r->next)
        if (r->buffer == buffer)
            return r;
    return nullptr;
}

static void UnlinkDynamic(DynamicRecord *record)
{
    DynamicRecord **link = &DynamicRecords;
    while (*link && *link != record)
        link = &(*link)->next;
    if (*link)
        *link = record->next;
}

RwBool RwD3D9DynamicVertexBufferCreate(RwUInt32 size, void **vertexBuffer)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (size == 0 || vertexBuffer == nullptr || device == nullptr || DynamicFreeList == nullptr)
        return FALSE;

    DynamicRecord *largest = nullptr;
    for (DynamicRecord *r = DynamicRecords; r; r = r->next) {
        if (r->inUse)
            continue;
        if (r->size == size && r->buffer) {
            r->inUse = TRUE;
            r->owner = vertexBuffer;
            *vertexBuffer = r->buffer;
            return TRUE;
        }
        if (largest == nullptr || r->size > largest->size)
            largest = r;
    }

    DynamicRecord *record = largest;
    if (record) {
        if (record->buffer)
            record->buffer->Release();
        record->buffer = nullptr;
    } else {
        record = static_cast<DynamicRecord *>(RwFreeListAlloc(DynamicFreeList, DynamicHint));
        if (record == nullptr)
            return FALSE;
        *record = {0, FALSE, nullptr, nullptr, DynamicRecords};
        DynamicRecords = record;
    }

    IDirect3DVertexBuffer9 *buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(size, DynamicUsage, 0, DynamicPool(), &buffer, nullptr))) {
        // A record without a buffer would be handed out or released again.
        UnlinkDynamic(record);
        RwFreeListFree(DynamicFreeList, record);
        return FALSE;
    }
    *record = {size, TRUE, buffer, vertexBuffer, record->next};
    *vertexBuffer = buffer;
    return TRUE;
}

static void GiveBack(DynamicRecord *record)
{
    if (record) {
        record->inUse = FALSE;
        record->owner = nullptr;
    }
}

void RwD3D9DynamicVertexBufferDestroy(void *vertexBuffer)
{
    GiveBack(vertexBuffer ? FindDynamic(AsBuffer(vertexBuffer)) : nullptr);
}

void RwD3D9DynamicVertexBufferDestroyOwned(void **vertexBuffer)
{
    if (vertexBuffer == nullptr)
        return;
    for (DynamicRecord *r = DynamicRecords; r; r = r->next) {
        if (r->inUse && r->owner == vertexBuffer) {
            GiveBack(r);
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// The ring

static void ForgetSlot(RwD3D9RingSlot &slot)
{
    if (slot.buffer)
        RwD3D9DynamicVertexBufferDestroy(slot.buffer);
    slot = {0, 0, nullptr};
}

RwBool RwD3D9DynamicVertexBufferLock(RwUInt32 stride, RwUInt32 count, void **vertexBuffer, void **data,
                                     RwUInt32 *baseIndex)
{
    if (stride == 0 || count == 0 || vertexBuffer == nullptr || data == nullptr || baseIndex == nullptr)
        return FALSE;
    const uint64_t wanted = static_cast<uint64_t>(stride) * count;
    if (wanted > 0xFFFFFFFFu)
        return FALSE;
    const RwUInt32 bytes = static_cast<RwUInt32>(wanted);

    RwUInt32 index = 0;
    uint64_t start = 0;
    if (HardwareTnL()) {
        auto startIn = [&](RwUInt32 i) {
            return (static_cast<uint64_t>(Ring[i].offset) + stride - 1) / stride * stride;
        };
        index = CurrentSlot;
        start = startIn(index);
        if (start + bytes > Ring[index].size) {
            RwBool found = FALSE;
            for (RwUInt32 i = 0; i < rwD3D9RINGSLOTS && !found; i++) {
                if (i == CurrentSlot || startIn(i) + bytes > Ring[i].size)
                    continue;
                index = i;
                start = startIn(i);
                found = TRUE;
            }
            if (!found) {
                index = (CurrentSlot + 1) % rwD3D9RINGSLOTS;
                start = 0;
            }
            CurrentSlot = index;
        }
    }
    RwD3D9RingSlot &slot = Ring[index];

    if (bytes > slot.size) {
        // The slot takes its new size only once the bigger buffer exists.
        ForgetSlot(slot);
        start = 0;
        if (!RwD3D9DynamicVertexBufferCreate(bytes, &slot.buffer)) {
            slot.buffer = nullptr;
            return FALSE;
        }
        slot.size = bytes;
    }

    IDirect3DVertexBuffer9 *buffer = AsBuffer(slot.buffer);
    if (buffer == nullptr)
        return FALSE;
    const DWORD flags = start == 0 ? (D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK) : (D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK);
    const RwUInt32 at = static_cast<RwUInt32>(start);
    void *locked = nullptr;
    if (FAILED(buffer->Lock(at, bytes, &locked, flags)))
        return FALSE;
    // A lock that hands back no memory has nothing to fill: many frames
    // without a present can leave the device unable to rename the buffer.
    if (locked == nullptr) {
        buffer->Unlock();
        return FALSE;
    }
    slot.offset = at + bytes;
    *vertexBuffer = buffer;
    *data = locked;
    *baseIndex = at / stride;
    return TRUE;
}

RwBool RwD3D9DynamicVertexBufferUnlock(void *vertexBuffer)
{
    return vertexBuffer && SUCCEEDED(AsBuffer(vertexBuffer)->Unlock());
}

void RwD3D9DynamicVertexBufferNewFrame(void)
{
    for (RwD3D9RingSlot &slot : Ring)
        slot.offset = 0;
    if (HardwareTnL())
        CurrentSlot = (CurrentSlot + 1) % rwD3D9RINGSLOTS;
}

const RwD3D9RingSlot *RwD3D9DynamicVertexBufferGetSlot(RwUInt32 index)
{
    return index < rwD3D9RINGSLOTS ? &Ring[index] : nullptr;
}

RwUInt32 RwD3D9DynamicVertexBufferGetCurrentSlot(void)
{
    return CurrentSlot;
}

static RwBool CreateRing(void)
{
    CurrentSlot = 0;
    const RwUInt32 slots = HardwareTnL() ? static_cast<RwUInt32>(rwD3D9RINGSLOTS) : 1u;
    for (RwUInt32 i = 0; i < slots; i++) {
        Ring[i] = {0, 0, nullptr};
        if (!RwD3D9DynamicVertexBufferCreate(rwD3D9RINGSLOTSIZE, &Ring[i].buffer)) {
            Ring[i].buffer = nullptr;
            return FALSE;
        }
        Ring[i].size = rwD3D9RINGSLOTSIZE;
    }
    return TRUE;
}

static void ReleaseRing(void)
{
    CurrentSlot = 0;
    for (RwD3D9RingSlot &slot : Ring)
        ForgetSlot(slot);
}

// ---------------------------------------------------------------------------
// Device reset, open and close

RwBool RwD3D9VertexBufferReleaseVideoMemory(void)
{
    ReleaseRing();
    // System-memory buffers survive a reset; default-pool ones must go.
    if (!HardwareTnL())
        return TRUE;
    for (DynamicRecord *r = DynamicRecords; r; r = r->next) {
        if (r->buffer)
            r->buffer->Release();
        r->buffer = nullptr;
        if (r->owner)
            *r->owner = nullptr;
    }
    return TRUE;
}

RwBool RwD3D9VertexBufferRestoreVideoMemory(void)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (device == nullptr)
        return FALSE;
    RwBool ok = TRUE;
    if (HardwareTnL()) {
        for (DynamicRecord *r = DynamicRecords; r; r = r->next) {
            if (r->buffer)
                continue;
            if (FAILED(device->CreateVertexBuffer(r->size, DynamicUsage, 0, D3DPOOL_DEFAULT, &r->buffer, nullptr))) {
                r->buffer = nullptr;
                ok = FALSE;
                continue;
            }
            if (r->owner)
                *r->owner = r->buffer;
        }
    }
    return CreateRing() && ok;
}

static void DestroyFreeList(RwFreeList *&list)
{
    if (list)
        RwFreeListDestroy(list);
    list = nullptr;
}

void RwD3D9VertexBufferClose(void)
{
    ReleaseRing();
    while (DynamicRecords) {
        DynamicRecord *r = DynamicRecords;
        DynamicRecords = r->next;
        if (r->buffer)
            r->buffer->Release();
        if (r->owner)
            *r->owner = nullptr;
        RwFreeListFree(DynamicFreeList, r);
    }
    DestroyFreeList(DynamicFreeList);

    while (Strides) {
        StrideEntry *e = Strides;
        Strides = e->next;
        while (e->ranges) {
            FreeRange *r = e->ranges;
            e->ranges = r->next;
            RwFreeListFree(RangeFreeList, r);
        }
        while (e->buffers) {
            BufferRecord *b = e->buffers;
            e->buffers = b->next;
            b->buffer->Release();
            RwFreeListFree(BufferFreeList, b);
        }
        RwFreeListFree(StrideFreeList, e);
    }
    DestroyFreeList(StrideFreeList);
    DestroyFreeList(RangeFreeList);
    DestroyFreeList(BufferFreeList);
}

RwBool RwD3D9VertexBufferOpen(void)
{
    RwD3D9VertexBufferClose();
    StrideFreeList = RwFreeListCreate(sizeof(StrideEntry), 16, 4, FreeListHint);
    RangeFreeList = RwFreeListCreate(sizeof(FreeRange), 100, 4, FreeListHint);
    BufferFreeList = RwFreeListCreate(sizeof(BufferRecord), 100, 4, FreeListHint);
    DynamicFreeList = RwFreeListCreate(sizeof(DynamicRecord), 42, 4, FreeListHint);
    if (!StrideFreeList || !RangeFreeList || !BufferFreeList || !DynamicFreeList) {
        RwD3D9VertexBufferClose();
        return FALSE;
    }
    CreateRing();
    return TRUE;
}
