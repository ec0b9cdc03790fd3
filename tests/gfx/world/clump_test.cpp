#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "support/chunk_bytes.h"
#include "support/stream_bytes.h"
#include "world_modules.h"

namespace {

const RwUInt32 kRightsUser = 0xAB1;
int rightsCalls = 0;
RwUInt32 rightsData = 99;
int liveCameras = 0;   // cameras made and not yet destroyed

void Register()
{
    RegisterWorldObjectModules();
    counting::offset = RwAtomicRegisterPlugin(4, 0xA70, counting::Construct, counting::Destruct, counting::Copy);
    ASSERT_GE(RwAtomicRegisterPlugin(0, kRightsUser, nullptr, nullptr, nullptr), 0);
    ASSERT_GE(RwCameraRegisterPlugin(
                  0, 0xCA3, [](void *o, RwInt32, RwInt32) { return ++liveCameras, o; },
                  [](void *o, RwInt32, RwInt32) { return --liveCameras, o; }, nullptr),
              0);
    ASSERT_GE(RwAtomicSetStreamRightsCallBack(kRightsUser, [](void *, RwInt32, RwInt32, RwUInt32 data) -> RwBool {
                  ++rightsCalls;
                  rightsData = data;
                  return TRUE;
              }), 0);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Register));

using chunkbytes::Cat;
using chunkbytes::Chunk;

// Frame list: frame i at x = i, scaled as given, parents as given.
Bytes FrameList(std::initializer_list<RwInt32> parents, float scale = 1)
{
    Build s;
    s.U32(static_cast<RwUInt32>(parents.size()));
    float x = 0;
    for (RwInt32 p : parents) {
        PutReals(s.bytes, {scale, 0, 0, 0, scale, 0, 0, 0, scale, x++, 0, 0});
        s.U32(static_cast<RwUInt32>(p)).U32(0);
    }
    Bytes body = Chunk(1, s);
    for (size_t i = 0; i < parents.size(); ++i) {
        PutHeader(body, 3, 0);
    }
    return Chunk(0x0E, body);
}

// An empty geometry with one morph target whose sphere has the given radius.
Bytes Geometry(float radius)
{
    Build s;
    s.U32(0).U32(0).U32(0).U32(1);
    PutReals(s.bytes, {0, 0, 0, radius});
    s.U32(0).U32(0);
    Build rest;
    rest.Header(8, 16).Header(1, 4).U32(0).Header(3, 0);
    return Chunk(0x0F, Cat({Chunk(1, s), rest}));
}

Bytes GeometryList(std::initializer_list<float> radii)
{
    Build s;
    s.U32(static_cast<RwUInt32>(radii.size()));
    Bytes body = Chunk(1, s);
    for (float r : radii) {
        body = Cat({body, Geometry(r)});
    }
    return Chunk(0x1A, body);
}

Bytes Atomic(RwUInt32 frame, RwUInt32 geometry, RwUInt32 structSize = 16, const Bytes &own = {},
             const Bytes &extension = {})
{
    Build s;
    s.U32(frame).U32(geometry).U32(5).U32(0);
    s.bytes.resize(structSize, 0);
    return Chunk(0x14, Cat({Chunk(1, s), own, Chunk(3, extension)}));
}

Bytes Light(RwUInt32 frame)
{
    Build b;
    b.Header(1, 4).U32(frame);
    Build l;
    PutReals(l.bytes, {2, 1, 1, 1, 0});
    l.U32(0x00010003);
    return Cat({b, Chunk(0x12, Cat({Chunk(1, l), Chunk(3, {})}))});
}

// A perspective camera on the frame: window (w, 0.75), near 0.1, far 100, fog 50.
Bytes Camera(RwUInt32 frame, float w)
{
    Build b;
    b.Header(1, 4).U32(frame);
    Build c;
    PutReals(c.bytes, {w, 0.75f, 0, 0, 0.1f, 100, 50});
    c.U32(1);
    return Cat({b, Chunk(5, Cat({Chunk(1, c), Chunk(3, {})}))});
}

// One frame scaled as given, no atomics, a camera of window w on the frame.
Bytes CameraClump(float scale, float w)
{
    Build s;
    s.Header(1, 12).U32(0).U32(0).U32(1);
    return Cat({s, FrameList({-1}, scale), GeometryList({}), Camera(0, w), Chunk(3, {})});
}

Bytes ClumpBody(RwUInt32 atomics, RwUInt32 lights, std::initializer_list<Bytes> parts)
{
    Build s;
    s.Header(1, 12).U32(atomics).U32(lights).U32(0);
    return Cat({s, Cat(parts), Chunk(3, {})});
}

// Frames 0 and 1, geometries of radius 1 and 2, atomics A (0, 0), B (1, 1) and C (1, 1), one light on frame 1.
Bytes SharedClump()
{
    Build rights;
    rights.Header(0x1F, 4).U32(kRightsUser);
    return ClumpBody(3, 1, {FrameList({-1, 0}), GeometryList({1, 2}), Atomic(0, 0, 12), Atomic(1, 1, 16, {}, rights),
                           Atomic(1, 1), Light(1)});
}

RwClump *Read(Bytes &bytes, size_t n = static_cast<size_t>(-1)) { return ReadWith(bytes, RwClumpStreamRead, n); }

std::vector<RwAtomic *> Atomics(RwClump *clump)
{
    std::vector<RwAtomic *> all;
    RwClumpForAllAtomics(clump, [](RwAtomic *a, void *d) {
        static_cast<std::vector<RwAtomic *> *>(d)->push_back(a);
        return a;
    }, &all);
    return all;
}

class Clump : public CountedTest {
protected:
    void SetUp() override
    {
        CountedTest::SetUp();
        rightsCalls = 0;
    }
};

TEST_F(Clump, AtomicSpheresFollowTheInterpolator)
{
    RwAtomic *a = RwAtomicCreate();
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(5, a->object.object.flags);
    EXPECT_EQ(1.0f, a->interpolator.time);
    RwAtomicUpdateBoundingSphere(a);
    EXPECT_EQ(0.0f, a->boundingSphere.radius);
    RwGeometry *g = RwGeometryCreateEmpty(1.0f);
    ASSERT_EQ(1, RwGeometryAddMorphTargets(g, 1));
    g->morphTarget[1].boundingSphere = {{2, 0, 0}, 3.0f};
    RwAtomicSetGeometry(a, g, 0);
    RwAtomicSetGeometry(a, g, 0);
    EXPECT_EQ(2, g->refCount);
    struct Case {
        RwUInt16 start, end;
        float radius, x;
    } cases[] = {{0, 1, 2.0f, 1.0f}, {1, 1, 3.0f, 2.0f}, {0, 5, 1.0f, 0.0f}};
    a->interpolator.position = 0.5f;
    for (const Case &c : cases) {
        a->interpolator.startMorphTarget = c.start;
        a->interpolator.endMorphTarget = c.end;
        RwAtomicUpdateBoundingSphere(a);
        EXPECT_FLOAT_EQ(c.radius, a->boundingSphere.radius);
        EXPECT_FLOAT_EQ(c.x, a->boundingSphere.center.x);
    }
    RwGeometry *other = RwGeometryCreateEmpty(7.0f);
    RwAtomicSetGeometry(a, other, 1);
    EXPECT_FLOAT_EQ(1.0f, a->boundingSphere.radius);   // kept
    EXPECT_EQ(1, g->refCount);
    RwFrame *f = RwFrameCreate();
    const RwV3d scale = {1, 2, 1};
    RwFrameScale(f, &scale, rwCOMBINEREPLACE);
    RwAtomicSetFrame(a, f);
    EXPECT_FLOAT_EQ(2.0f, RwAtomicGetWorldBoundingSphere(a)->radius);
    RwAtomicDestroy(a);
    RwFrameDestroy(f);
    EXPECT_EQ(1, other->refCount);
    RwGeometryDestroy(other);
    RwGeometryDestroy(g);
}

TEST_F(Clump, CloneCopiesAtomicsOnCopiedFramesOnly)
{
    RwClump *c = RwClumpCreate();
    RwFrame *root = RwFrameCreate();
    RwClumpSetFrame(c, root);
    RwGeometry *g = RwGeometryCreateEmpty(1.0f);
    for (int i = 0; i < 2; ++i) {
        RwAtomic *a = RwAtomicCreate();
        RwAtomicSetGeometry(a, g, 0);
        RwAtomicSetFrame(a, root);
        RwClumpAddAtomic(c, a);
    }
    RwLight *light = RwLightCreate(rwLIGHTPOINT);
    RwClumpAddLight(c, light);
    RwClump *copy = RwClumpClone(c);
    ASSERT_NE(nullptr, copy);
    const std::vector<RwAtomic *> atomics = Atomics(copy);
    ASSERT_EQ(2u, atomics.size());
    EXPECT_EQ(RwClumpGetFrame(copy), RwAtomicGetFrame(atomics[0]));
    EXPECT_NE(root, RwClumpGetFrame(copy));
    EXPECT_EQ(root, root->root);
    EXPECT_EQ(5, g->refCount);
    EXPECT_EQ(2, counting::copies);
    EXPECT_TRUE(RwLinkListEmpty(&copy->lightList));
    RwClumpDestroy(copy);
    // An atomic whose extension cannot be copied has no clone, and nothing is left.
    const int live = counting::live;
    counting::copiesBeforeFailure = 0;
    EXPECT_EQ(nullptr, RwAtomicClone(Atomics(c)[0]));
    counting::copiesBeforeFailure = 1;
    EXPECT_EQ(nullptr, RwClumpClone(c));
    counting::copiesBeforeFailure = -1;
    EXPECT_EQ(live, counting::live);
    EXPECT_EQ(3, g->refCount);
    // An atomic without a frame makes the clone fail whole.
    RwAtomic *loose = RwAtomicCreate();
    RwClumpAddAtomic(c, loose);
    EXPECT_EQ(nullptr, RwClumpClone(c));
    EXPECT_EQ(5u, TakeErrorCode());
    EXPECT_EQ(3, g->refCount);
    // A walk may destroy every atomic it is given.
    RwClumpForAllAtomics(c, [](RwAtomic *a, void *) {
        RwClumpRemoveAtomic(a->clump, a);
        RwAtomicDestroy(a);
        return a;
    }, nullptr);
    EXPECT_TRUE(RwLinkListEmpty(&c->atomicList));
    EXPECT_EQ(1, g->refCount);
    RwClumpDestroy(c);
    RwGeometryDestroy(g);
}

std::vector<RwAtomic *> drawn;

// Only atomics flagged for rendering are drawn; any callback's failure is the clump's.
TEST_F(Clump, RenderDrawsFlaggedAtomicsOnly)
{
    RwClump *c = RwClumpCreate();
    RwFrame *root = RwFrameCreate();
    RwClumpSetFrame(c, root);
    RwAtomic *atomics[3];
    for (RwAtomic *&a : atomics) {
        a = RwAtomicCreate();
        RwAtomicSetFrame(a, root);
        a->renderCallBack = [](RwAtomic *atomic) {
            drawn.push_back(atomic);
            return atomic;
        };
        RwClumpAddAtomic(c, a);
    }
    atomics[1]->object.object.flags &= ~static_cast<RwUInt8>(rwATOMICRENDER);
    drawn.clear();
    EXPECT_EQ(c, RwClumpRender(c));
    std::sort(drawn.begin(), drawn.end());
    std::vector<RwAtomic *> want = {atomics[0], atomics[2]};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, drawn);
    atomics[2]->renderCallBack = [](RwAtomic *atomic) {
        drawn.push_back(atomic);
        return static_cast<RwAtomic *>(nullptr);
    };
    drawn.clear();
    EXPECT_EQ(nullptr, RwClumpRender(c));
    EXPECT_EQ(2u, drawn.size());
    RwClumpDestroy(c);
}

TEST_F(Clump, SharedGeometryListReadsInReverseOrder)
{
    Bytes bytes = SharedClump();
    RwClump *c = Read(bytes);
    ASSERT_NE(nullptr, c);
    const std::vector<RwAtomic *> atomics = Atomics(c);
    ASSERT_EQ(3u, atomics.size());
    RwGeometry *g0 = atomics[2]->geometry;
    RwGeometry *g1 = atomics[0]->geometry;
    EXPECT_EQ(g1, atomics[1]->geometry);
    EXPECT_EQ(1, g0->refCount);
    EXPECT_EQ(2, g1->refCount);
    EXPECT_FLOAT_EQ(2.0f, atomics[0]->boundingSphere.radius);
    EXPECT_EQ(5, atomics[2]->object.object.flags);
    EXPECT_EQ(RwClumpGetFrame(c), RwAtomicGetFrame(atomics[2]));
    EXPECT_EQ(RwClumpGetFrame(c)->child, RwAtomicGetFrame(atomics[0]));
    EXPECT_EQ(1, rightsCalls);
    EXPECT_EQ(0u, rightsData);
    int lights = 0;
    RwClumpForAllLights(c, [](RwLight *l, void *d) {
        ++*static_cast<int *>(d);
        EXPECT_FLOAT_EQ(2.0f, l->radius);
        return l;
    }, &lights);
    EXPECT_EQ(1, lights);
    RwClumpDestroy(c);
}

TEST_F(Clump, EmbeddedGeometriesHoldOneReferenceEach)
{
    Bytes bytes = ClumpBody(2, 0, {FrameList({-1}), GeometryList({}), Atomic(0, 0, 16, Geometry(1)),
                                   Atomic(0, 0, 16, Geometry(2))});
    RwClump *c = Read(bytes);
    ASSERT_NE(nullptr, c);
    for (RwAtomic *a : Atomics(c)) {
        EXPECT_EQ(1, a->geometry->refCount);
    }
    RwClumpDestroy(c);
}

TEST_F(Clump, CutAnywhereOrHostileIsRefused)
{
    Bytes bytes = SharedClump();
    for (size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_EQ(nullptr, Read(bytes, n)) << n;
        EXPECT_NE(0x80000000u, TakeErrorCode()) << n;
        ASSERT_LE(rwTestMemory.live, blocks) << n;
        ASSERT_EQ(0, counting::live) << n;
    }
    Bytes blind = CameraClump(0, 1);
    ExpectCustomReadsAsMemory(bytes, RwClumpStreamRead, RwClumpDestroy, "clump");
    ExpectCustomReadsAsMemory(blind, RwClumpStreamRead, RwClumpDestroy, "clump with a blind camera");
    ASSERT_LE(rwTestMemory.live, blocks);
    Bytes cases[] = {
        ClumpBody(1, 0, {FrameList({-1}), GeometryList({1}), Atomic(1, 0)}),
        ClumpBody(1, 0, {FrameList({-1}), GeometryList({1}), Atomic(0, 1)}),
        ClumpBody(1, 0, {FrameList({-1}), GeometryList({1}), Atomic(0, 0, 20)}),
        ClumpBody(0, 1, {FrameList({-1}), GeometryList({1}), Light(0xFFFFFFFF)}),
        ClumpBody(1, 0, {FrameList({-1, -1}), GeometryList({1}), Atomic(0, 0)}),
        ClumpBody(1, 0, {FrameList({}), GeometryList({1}), Atomic(0, 0)}),
        ClumpBody(0x7FFFFFFF, 0, {FrameList({-1}), GeometryList({1})}),
    };
    for (Bytes &b : cases) {
        EXPECT_EQ(nullptr, Read(b));
        EXPECT_EQ(0x8000001Au, TakeErrorCode());
        EXPECT_LE(rwTestMemory.live, blocks);
    }
}

// A camera that reads well alone, on a frame it can have no finite view from
// (scaled so far its frustum overflows, so far its view does, or to nothing),
// is blind there as at run time; the model around it is kept.
TEST_F(Clump, ACameraWithoutAViewOnItsFrameIsBlindAndTheModelKept)
{
    const struct {
        float scale, window;
        RwBool blind;
    } cases[] = {{2, 1, FALSE}, {1e19f, 1, TRUE}, {1e10f, 1e-30f, TRUE}, {0, 1, TRUE}};
    for (const auto &c : cases) {
        Bytes b = CameraClump(c.scale, c.window);
        RwClump *clump = Read(b);
        ASSERT_NE(nullptr, clump) << c.scale;
        RwCamera *camera = nullptr;
        RwClumpForAllCameras(
            clump, [](RwCamera *cam, void *out) { return *static_cast<RwCamera **>(out) = cam; }, &camera);
        ASSERT_NE(nullptr, camera) << c.scale;
        RwCameraSync(&camera->object);
        EXPECT_EQ(c.blind, RwCameraIsBlind(camera)) << c.scale;
        RwClumpDestroy(clump);
        EXPECT_LE(rwTestMemory.live, blocks) << c.scale;
        EXPECT_EQ(0, counting::live) << c.scale;
        EXPECT_EQ(0, liveCameras) << c.scale;
    }
}

}  // namespace
