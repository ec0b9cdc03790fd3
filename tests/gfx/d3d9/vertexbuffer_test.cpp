// Tests of static vertex space, dynamic buffers and the ring, on the device and across a reset.
#include "d3d9testdevice.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9vertexbuffer.h"

namespace {

class VertexBuffers : public StartedDevice {};

UINT SizeOf(void *buffer)
{
    D3DVERTEXBUFFER_DESC desc = {};
    static_cast<IDirect3DVertexBuffer9 *>(buffer)->GetDesc(&desc);
    return desc.Size;
}

D3DPOOL PoolOf(void *buffer)
{
    D3DVERTEXBUFFER_DESC desc = {};
    static_cast<IDirect3DVertexBuffer9 *>(buffer)->GetDesc(&desc);
    return desc.Pool;
}

struct Locked {
    RwBool ok;
    void *buffer;
    void *data;
    RwUInt32 base;
};

Locked Lock(RwUInt32 stride, RwUInt32 count)
{
    Locked l = {FALSE, nullptr, nullptr, 0xDEAD};
    l.ok = RwD3D9DynamicVertexBufferLock(stride, count, &l.buffer, &l.data, &l.base);
    if (l.ok)
        RwD3D9DynamicVertexBufferUnlock(l.buffer);
    return l;
}

} // namespace

TEST_F(VertexBuffers, StaticSpaceIsCarvedFromOneBufferAndMergedBack)
{
    void *a = nullptr, *b = nullptr, *c = nullptr;
    RwUInt32 offA = 1, offB = 1, offC = 1;
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(32, 64, &a, &offA));
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(32, 64, &b, &offB));
    EXPECT_EQ(a, b);
    EXPECT_EQ(offA, 0u);
    EXPECT_EQ(offB, 64u);
    EXPECT_EQ(SizeOf(a), 131072u);
    EXPECT_EQ(PoolOf(a), D3DPOOL_MANAGED);
    EXPECT_EQ(device->Count("CreateVertexBuffer"), 1);

    // Returned twice, the first block must not be handed out twice.
    RwD3D9DestroyVertexBuffer(32, 64, a, 0);
    RwD3D9DestroyVertexBuffer(32, 64, a, 0);
    RwD3D9DestroyVertexBuffer(32, 64, b, 64);
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(32, 131072, &c, &offC));
    EXPECT_EQ(c, a);
    EXPECT_EQ(offC, 0u);
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(32, 64, &b, &offB));
    EXPECT_NE(b, a);
    EXPECT_EQ(device->Count("CreateVertexBuffer"), 2);

    // Unknown strides and buffers are ignored.
    RwD3D9DestroyVertexBuffer(33, 64, a, 0);
    RwD3D9DestroyVertexBuffer(32, 64, nullptr, 0);
}

TEST_F(VertexBuffers, SharedBufferSizesFollowTheStrideAndLargeRequests)
{
    void *small = nullptr, *large = nullptr, *next = nullptr;
    RwUInt32 offset = 0;
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(12, 24, &small, &offset));
    EXPECT_EQ(SizeOf(small), 131076u);
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(16, 200000, &large, &offset));
    EXPECT_EQ(SizeOf(large), 200000u);
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(16, 16, &next, &offset));
    EXPECT_NE(next, large) << "the large buffer was used up at once";

    // A size that is not whole vertices keeps later offsets on vertex boundaries.
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(20, 30, &small, &offset));
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(20, 20, &small, &offset));
    EXPECT_EQ(offset % 20, 0u);

    // Hostile sizes: refused without touching the device or the caller's variables.
    device->ResetLog();
    void *untouched = &offset;
    RwUInt32 kept = 77;
    EXPECT_FALSE(RwD3D9CreateVertexBuffer(0, 64, &untouched, &kept));
    EXPECT_FALSE(RwD3D9CreateVertexBuffer(7, 0xFFFFFFFFu, &untouched, &kept));
    EXPECT_FALSE(RwD3D9CreateVertexBuffer(8, 0, &untouched, &kept));
    device->refuseVertexBuffers = true;
    EXPECT_FALSE(RwD3D9CreateVertexBuffer(24, 64, &untouched, &kept));
    device->refuseVertexBuffers = false;
    EXPECT_EQ(untouched, static_cast<void *>(&offset));
    EXPECT_EQ(kept, 77u);
    // The refused stride has no range left behind: the next request creates its buffer.
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(24, 64, &untouched, &kept));
    EXPECT_EQ(kept, 0u);
}

TEST_F(VertexBuffers, RingAppendsOnStrideBoundariesMovesOnAndWraps)
{
    RwD3D9DynamicVertexBufferNewFrame();
    const RwUInt32 first = RwD3D9DynamicVertexBufferGetCurrentSlot();
    Locked a = Lock(20, 5);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.base, 0u);
    EXPECT_EQ(RwD3D9DynamicVertexBufferGetSlot(first)->offset, 100u);
    Locked b = Lock(24, 4);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.buffer, a.buffer);
    EXPECT_EQ(b.base, 5u) << "byte 120: 100 rounded up to a multiple of 24";
    EXPECT_EQ(RwD3D9DynamicVertexBufferGetSlot(first)->offset, 216u);

    // A whole slot's worth does not fit: it goes to the first other slot with room.
    const RwUInt32 whole = rwD3D9RINGSLOTSIZE / 4;
    Locked c = Lock(4, whole);
    ASSERT_TRUE(c.ok);
    const RwUInt32 second = RwD3D9DynamicVertexBufferGetCurrentSlot();
    EXPECT_EQ(second, first == 0 ? 1u : 0u);
    EXPECT_EQ(c.base, 0u);
    EXPECT_EQ(c.buffer, RwD3D9DynamicVertexBufferGetSlot(second)->buffer);

    // With the other slots full too, nothing fits: the next slot is discarded.
    ASSERT_TRUE(Lock(4, whole).ok);
    ASSERT_TRUE(Lock(4, whole).ok);
    const RwUInt32 before = RwD3D9DynamicVertexBufferGetCurrentSlot();
    Locked d = Lock(4, whole);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(RwD3D9DynamicVertexBufferGetCurrentSlot(), (before + 1) % rwD3D9RINGSLOTS);
    EXPECT_EQ(d.base, 0u);

    // A new frame empties every slot and moves on by one.
    RwD3D9DynamicVertexBufferNewFrame();
    EXPECT_EQ(RwD3D9DynamicVertexBufferGetCurrentSlot(), (before + 2) % rwD3D9RINGSLOTS);
    for (RwUInt32 i = 0; i < rwD3D9RINGSLOTS; i++)
        EXPECT_EQ(RwD3D9DynamicVertexBufferGetSlot(i)->offset, 0u);
    EXPECT_EQ(Lock(12, 3).base, 0u);
}

TEST_F(VertexBuffers, SlotGrowsOnlyOnceItsNewBufferExists)
{
    RwD3D9DynamicVertexBufferNewFrame();
    const RwUInt32 slot = RwD3D9DynamicVertexBufferGetCurrentSlot();
    device->refuseVertexBuffers = true;
    Locked refused = Lock(4, rwD3D9RINGSLOTSIZE / 4 + 1);
    EXPECT_FALSE(refused.ok);
    // No slot is big enough, so the next one was chosen to grow.
    EXPECT_EQ(RwD3D9DynamicVertexBufferGetCurrentSlot(), (slot + 1) % rwD3D9RINGSLOTS);
    const RwD3D9RingSlot *s = RwD3D9DynamicVertexBufferGetSlot((slot + 1) % rwD3D9RINGSLOTS);
    EXPECT_EQ(s->buffer, nullptr);
    EXPECT_EQ(s->size, 0u) << "an empty slot must not claim the size it never got";
    device->refuseVertexBuffers = false;

    // Overflowing and empty requests are refused before the device is asked.
    device->ResetLog();
    EXPECT_FALSE(Lock(0x10000, 0x10001).ok);
    EXPECT_FALSE(Lock(0, 10).ok);
    EXPECT_FALSE(Lock(16, 0).ok);
    EXPECT_EQ(device->Count("CreateVertexBuffer"), 0);

    Locked grown = Lock(4, rwD3D9RINGSLOTSIZE / 4 + 1);
    ASSERT_TRUE(grown.ok);
    EXPECT_EQ(grown.base, 0u);
    const RwD3D9RingSlot *now = RwD3D9DynamicVertexBufferGetSlot(RwD3D9DynamicVertexBufferGetCurrentSlot());
    EXPECT_EQ(now->size, rwD3D9RINGSLOTSIZE + 4);
    EXPECT_EQ(SizeOf(now->buffer), rwD3D9RINGSLOTSIZE + 4);
}

TEST_F(VertexBuffers, DynamicBuffersAreReusedBySize)
{
    void *first = nullptr, *again = nullptr, *bigger = nullptr;
    ASSERT_TRUE(RwD3D9DynamicVertexBufferCreate(1000, &first));
    RwD3D9DynamicVertexBufferDestroy(first);
    device->ResetLog();
    ASSERT_TRUE(RwD3D9DynamicVertexBufferCreate(1000, &again));
    EXPECT_EQ(again, first);
    EXPECT_EQ(device->Count("CreateVertexBuffer"), 0);
    RwD3D9DynamicVertexBufferDestroy(again);
    ASSERT_TRUE(RwD3D9DynamicVertexBufferCreate(3000, &bigger));
    EXPECT_EQ(SizeOf(bigger), 3000u);
    EXPECT_EQ(device->Count("Release"), 0) << "the device itself is not released";
    RwD3D9DynamicVertexBufferDestroy(bigger);
    EXPECT_FALSE(RwD3D9DynamicVertexBufferCreate(0, &first));
    EXPECT_FALSE(RwD3D9DynamicVertexBufferCreate(10, nullptr));
}

TEST_F(VertexBuffers, WithoutHardwareTransformOnlySlotZeroInSystemMemory)
{
    const DWORD saved = rwD3D9Driver.caps.DevCaps;
    rwD3D9Driver.caps.DevCaps &= ~static_cast<DWORD>(D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    ASSERT_TRUE(RwD3D9VertexBufferOpen());
    EXPECT_NE(RwD3D9DynamicVertexBufferGetSlot(0)->buffer, nullptr);
    EXPECT_EQ(PoolOf(RwD3D9DynamicVertexBufferGetSlot(0)->buffer), D3DPOOL_SYSTEMMEM);
    for (RwUInt32 i = 1; i < rwD3D9RINGSLOTS; i++)
        EXPECT_EQ(RwD3D9DynamicVertexBufferGetSlot(i)->buffer, nullptr);
    EXPECT_EQ(Lock(16, 4).base, 0u);
    EXPECT_EQ(Lock(16, 4).base, 0u) << "every lock discards slot 0";
    RwD3D9DynamicVertexBufferNewFrame();
    EXPECT_EQ(RwD3D9DynamicVertexBufferGetCurrentSlot(), 0u);
    EXPECT_TRUE(Lock(16, 4).ok);
    rwD3D9Driver.caps.DevCaps = saved;
    ASSERT_TRUE(RwD3D9VertexBufferOpen());
    EXPECT_EQ(PoolOf(RwD3D9DynamicVertexBufferGetSlot(3)->buffer), D3DPOOL_DEFAULT);
}

TEST_F(VertexBuffers, BuffersSurviveAResetAndDraw)
{
    if (!(rwD3D9Driver.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT))
        GTEST_SKIP() << "dynamic buffers live in system memory here";
    // Static space at a non-zero offset, filled before the reset.
    void *unused = nullptr, *shared = nullptr;
    RwUInt32 first = 0, offset = 0;
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(sizeof(ScreenVertex), 4 * sizeof(ScreenVertex), &unused, &first));
    ASSERT_TRUE(RwD3D9CreateVertexBuffer(sizeof(ScreenVertex), 4 * sizeof(ScreenVertex), &shared, &offset));
    ASSERT_NE(offset, 0u);
    ScreenVertex *v = nullptr;
    auto *vb = static_cast<IDirect3DVertexBuffer9 *>(shared);
    ASSERT_EQ(vb->Lock(offset, 4 * sizeof(ScreenVertex), reinterpret_cast<void **>(&v), 0), D3D_OK);
    FillQuad(v, 10, 10, 20, 0xFF00FF00);
    vb->Unlock();

    void *owned = nullptr;
    ASSERT_TRUE(RwD3D9DynamicVertexBufferCreate(4096, &owned));
    ASSERT_TRUE(ForceReset()) << "every default-pool buffer was released before the reset";
    EXPECT_NE(owned, nullptr) << "the owner's variable holds the rebuilt buffer";
    EXPECT_EQ(SizeOf(owned), 4096u);
    EXPECT_EQ(PoolOf(owned), D3DPOOL_DEFAULT);
    for (RwUInt32 i = 0; i < rwD3D9RINGSLOTS; i++) {
        EXPECT_NE(RwD3D9DynamicVertexBufferGetSlot(i)->buffer, nullptr);
        EXPECT_EQ(RwD3D9DynamicVertexBufferGetSlot(i)->size, rwD3D9RINGSLOTSIZE);
    }
    EXPECT_EQ(RwD3D9DynamicVertexBufferGetCurrentSlot(), 0u);

    // Ring vertices after something already written, so they draw from a base vertex.
    RwD3D9SetCullMode(D3DCULL_NONE);
    RwD3D9SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    ASSERT_TRUE(Lock(sizeof(ScreenVertex), 3).ok);
    void *ring = nullptr;
    RwUInt32 base = 0;
    ASSERT_TRUE(RwD3D9DynamicVertexBufferLock(sizeof(ScreenVertex), 4, &ring, reinterpret_cast<void **>(&v), &base));
    FillQuad(v, 50, 10, 20, 0xFF0000FF);
    RwD3D9DynamicVertexBufferUnlock(ring);
    EXPECT_EQ(base, 3u);

    ASSERT_EQ(real->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(real->BeginScene(), D3D_OK);
    RwD3D9SetStreamSource(0, shared, 0, sizeof(ScreenVertex));
    EXPECT_EQ(RwD3D9DrawPrimitive(D3DPT_TRIANGLESTRIP, offset / sizeof(ScreenVertex), 2), D3D_OK);
    RwD3D9SetStreamSource(0, ring, 0, sizeof(ScreenVertex));
    EXPECT_EQ(RwD3D9DrawPrimitive(D3DPT_TRIANGLESTRIP, base, 2), D3D_OK);
    real->EndScene();
    RwD3D9SetStreamSource(0, nullptr, 0, 0);
    EXPECT_TRUE(NearColour(ReadPixel(20, 20), 0x00FF00)) << std::hex << ReadPixel(20, 20);
    EXPECT_TRUE(NearColour(ReadPixel(60, 20), 0x0000FF)) << std::hex << ReadPixel(60, 20);
    EXPECT_EQ(ReadPixel(40, 20), 0u);

    RwD3D9DynamicVertexBufferDestroy(owned);
    RwD3D9DestroyVertexBuffer(sizeof(ScreenVertex), 4 * sizeof(ScreenVertex), shared, offset);
    RwD3D9DestroyVertexBuffer(sizeof(ScreenVertex), 4 * sizeof(ScreenVertex), unused, first);
}
