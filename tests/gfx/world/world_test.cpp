#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldpipe.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"
#include "world_modules.h"

namespace {

void Register()
{
    RegisterWorldObjectModules();
    counting::offset = RwWorldSectorRegisterPlugin(4, 0x5EC7, counting::Construct, counting::Destruct, nullptr);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Register));

const RwUInt32 kOldStamp = 0x35000u >> 8;   // an old-style stamp: version 0x35000

struct SectorData {
    RwUInt32 base;
    std::vector<float> verts;                  // x, y, z per vertex
    std::vector<RwUInt16> polys;               // four u16 per polygon, in stream order
    RwUInt32 stamp = 0x1C020055;
};

void Put16(Bytes &b, RwUInt16 v)
{
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

// World sector chunk of a pre-lit world without normals or texture coordinates.
Bytes SectorChunk(const SectorData &s)
{
    const RwUInt32 nv = static_cast<RwUInt32>(s.verts.size() / 3);
    const RwUInt32 np = static_cast<RwUInt32>(s.polys.size() / 4);
    const RwUInt32 structSize = 44 + nv * 16 + np * 8;
    Build b;
    b.Header(9, 12 + structSize + 12).Header(1, structSize, s.stamp).U32(s.base).U32(np).U32(nv);
    PutReals(b.bytes, {-10, -1, -1, 1, 1, 1});
    b.U32(0).U32(0);
    for (float f : s.verts) {
        PutReals(b.bytes, {f});
    }
    for (RwUInt32 i = 0; i < nv; ++i) {
        b.U32(0xFF102030u + i);
    }
    for (RwUInt16 p : s.polys) {
        Put16(b.bytes, p);
    }
    return b.Header(3, 0);
}

Bytes PlaneChunk(RwInt32 type, float value, float left, float right, const Bytes &l, const Bytes &r, bool lw, bool rw)
{
    Build b;
    b.Header(10, 12 + 24 + static_cast<RwUInt32>(l.size() + r.size())).Header(1, 24).U32(type);
    PutReals(b.bytes, {value});
    b.U32(lw ? 1 : 0).U32(rw ? 1 : 0);
    PutReals(b.bytes, {left, right});
    Bytes out = b;
    out.insert(out.end(), l.begin(), l.end());
    out.insert(out.end(), r.begin(), r.end());
    return out;
}

struct WorldData {
    RwUInt32 format = 0x40000008;
    RwUInt32 word32 = 0;
    RwInt32 totals[4] = {1, 3, 1, 2};          // polygons, vertices, planes, sectors
    bool rootIsSector = false;
};

// World chunk body (after its header) with one material around the root chunk.
Bytes WorldBody(const WorldData &w, const Bytes &root)
{
    Build b;
    b.Header(1, 64).U32(w.rootIsSector ? 1 : 0);
    PutReals(b.bytes, {-1, -2, -3});
    for (RwInt32 t : w.totals) {
        b.U32(static_cast<RwUInt32>(t));
    }
    b.U32(w.word32).U32(w.format);
    PutReals(b.bytes, {10, 10, 10, -10, -10, -10});
    b.Header(8, 12 + 8 + 12 + 52).Header(1, 8).U32(1).U32(0xFFFFFFFF);
    b.Header(7, 52).Header(1, 28).U32(0).U32(0xFFFFFFFF).U32(0).U32(0).U32(0).U32(0).U32(0).Header(3, 0);
    Bytes out = b;
    out.insert(out.end(), root.begin(), root.end());
    PutHeader(out, 3, 0);
    return out;
}

SectorData Triangle()
{
    return {0, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0}};
}

Bytes TwoSectorWorld(const SectorData &left = Triangle(), const WorldData &w = WorldData())
{
    return WorldBody(w, PlaneChunk(0, 0, 1, -1, SectorChunk(left), SectorChunk({0, {}, {}}), true, true));
}

RwWorld *Read(Bytes &bytes, size_t n = static_cast<size_t>(-1)) { return ReadWith(bytes, RwWorldStreamRead, n); }

RwWorldSector *Leaf(RwWorld *w, int side)
{
    RwPlaneSector *p = reinterpret_cast<RwPlaneSector *>(w->rootSector);
    return reinterpret_cast<RwWorldSector *>(side ? p->rightSubTree : p->leftSubTree);
}

using World = CountedTest;

TEST_F(World, CreatedWorldHasOneSectorAndFindsItByWalking)
{
    const RwBBox box = {{1, 2, 3}, {-1, -2, -3}};
    RwWorld *w = RwWorldCreate(&box);
    ASSERT_NE(nullptr, w);
    RwWorldSector *s = reinterpret_cast<RwWorldSector *>(w->rootSector);
    EXPECT_EQ(-1, s->type);
    EXPECT_EQ(2, w->renderOrder);
    EXPECT_EQ(0, std::memcmp(&box, &s->boundingBox, sizeof box));
    EXPECT_EQ(0, std::memcmp(&box, &s->tightBoundingBox, sizeof box));
    EXPECT_EQ(w, RwWorldSectorGetWorld(s));
    EXPECT_EQ(s, RwWorldSectorDefaultRenderCallBack(s));
    RwWorldSetSectorRenderCallBack(w, [](RwWorldSector *) -> RwWorldSector * { return nullptr; });
    RwWorldSetSectorRenderCallBack(w, nullptr);
    EXPECT_EQ(RwWorldSectorDefaultRenderCallBack, w->renderCallBack);
    EXPECT_EQ(1, counting::live);
    EXPECT_TRUE(RwWorldDestroy(w));
    EXPECT_EQ(nullptr, RwWorldSectorGetWorld(s));
}

TEST_F(World, HandAssembledStreamReadsIntoOneBlock)
{
    Bytes bytes = TwoSectorWorld();
    RwWorld *w = Read(bytes);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(1u, w->object.privateFlags);
    EXPECT_EQ(0x40000008u, w->flags);
    EXPECT_FLOAT_EQ(3.0f, w->worldOrigin.z);
    EXPECT_EQ(1, w->matList.numMaterials);
    RwWorldSector *left = Leaf(w, 0);
    RwWorldSector *right = Leaf(w, 1);
    EXPECT_EQ(w, RwWorldSectorGetWorld(right));
    EXPECT_FLOAT_EQ(1.0f, left->boundingBox.sup.x);
    EXPECT_FLOAT_EQ(-10.0f, left->boundingBox.inf.x);
    EXPECT_FLOAT_EQ(-1.0f, right->boundingBox.inf.x);
    EXPECT_FLOAT_EQ(-10.0f, left->tightBoundingBox.inf.x);
    ASSERT_EQ(3, left->numVertices);
    EXPECT_FLOAT_EQ(1.0f, left->vertices[1].x);
    EXPECT_EQ(0x31, left->preLitLum[1].red);
    EXPECT_EQ(2, left->polygons[0].vertIndex[2]);
    ASSERT_NE(nullptr, left->mesh);
    EXPECT_EQ(1, left->mesh->numMeshes);
    EXPECT_EQ(2, counting::live);
    // Sectors and arrays lie in the world's block.
    const RwUInt8 *start = reinterpret_cast<RwUInt8 *>(w);
    for (const void *p : {static_cast<const void *>(right), static_cast<const void *>(left->polygons)}) {
        EXPECT_TRUE(p > start && p < start + 1024);
    }
    std::vector<RwWorldSector *> seen;
    RwWorldForAllWorldSectors(w, [](RwWorldSector *s, void *d) {
        static_cast<std::vector<RwWorldSector *> *>(d)->push_back(s);
        return static_cast<RwWorldSector *>(nullptr);
    }, &seen);
    EXPECT_EQ((std::vector<RwWorldSector *>{left}), seen);
    RwWorldDestroy(w);
}

TEST_F(World, WriteReadRoundTrip)
{
    Bytes bytes = TwoSectorWorld();
    RwWorld *w = Read(bytes);
    ASSERT_NE(nullptr, w);
    auto write = [&](RwStream *out) { return RwWorldStreamWrite(w, out); };
    Bytes first = WrittenWith(write);
    EXPECT_EQ(RwWorldStreamGetSize(w) + 12, first.size());
    RwWorldDestroy(w);
    w = ReadChunkWith(first, 0x0B, RwWorldStreamRead);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(first, WrittenWith(write));
    EXPECT_EQ(0, Leaf(w, 0)->polygons[0].matIndex);
    EXPECT_FLOAT_EQ(-1.0f, reinterpret_cast<RwPlaneSector *>(w->rootSector)->rightValue);
    RwWorldDestroy(w);
}

// A plane sector and a world sector streamed alone through their entry points:
// the bytes the world writer gives them, read back into a block of the caller's.
TEST_F(World, SectorsStreamAloneThroughTheirEntryPoints)
{
    Bytes bytes = TwoSectorWorld();
    RwWorld *w = Read(bytes);
    ASSERT_NE(nullptr, w);
    const RwPlaneSector *root = reinterpret_cast<RwPlaneSector *>(w->rootSector);
    const Bytes whole = WrittenWith([&](RwStream *out) { return RwWorldStreamWrite(w, out); });
    Bytes plane = WrittenWith([&](RwStream *out) { return RwPlaneSectorStreamWrite(root, w, out); });
    Bytes leaf = WrittenWith([&](RwStream *out) { return RwAtomicSectorStreamWrite(Leaf(w, 0), w, out); });
    EXPECT_NE(whole.end(), std::search(whole.begin(), whole.end(), plane.begin(), plane.end()));
    EXPECT_NE(plane.end(), std::search(plane.begin(), plane.end(), leaf.begin(), leaf.end()));

    // Records from the block's start, arrays from its middle; totals as the world's.
    std::vector<RwUInt8> block(8192);
    RwWorldStreamCursor cursor = {block.data(), block.data() + 4096, 2, 1, 3, 1, 0};
    RwPlaneSector *back = ReadChunkWith(plane, 0x0A, [&](RwStream *in) {
        return RwPlaneSectorStreamRead(in, &cursor, w, w->flags);
    });
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(0, cursor.worldSectors + cursor.planeSectors + cursor.vertices + cursor.polygons);
    EXPECT_EQ(plane, WrittenWith([&](RwStream *out) { return RwPlaneSectorStreamWrite(back, w, out); }));

    // A world sector alone; one whose counts exceed the totals left is refused.
    cursor = {block.data() + 2048, block.data() + 6144, 1, 0, 3, 1, 0};
    RwWorldSector *one = ReadChunkWith(leaf, 0x09, [&](RwStream *in) {
        return RwAtomicSectorStreamRead(in, &cursor, w, w->flags);
    });
    ASSERT_NE(nullptr, one);
    EXPECT_EQ(leaf, WrittenWith([&](RwStream *out) { return RwAtomicSectorStreamWrite(one, w, out); }));
    cursor = {block.data() + 3072, block.data() + 7168, 1, 0, 2, 1, 0};
    EXPECT_EQ(nullptr, ReadChunkWith(leaf, 0x09, [&](RwStream *in) {
        return RwAtomicSectorStreamRead(in, &cursor, w, w->flags);
    }));
    EXPECT_EQ(static_cast<RwUInt32>(E_RW_READ), TakeErrorCode());

    for (RwSector *s : {back->leftSubTree, back->rightSubTree, reinterpret_cast<RwSector *>(one)}) {
        RwWorldSectorRelease(reinterpret_cast<RwWorldSector *>(s));
    }
    RwWorldDestroy(w);
}

// A world sector read into a block full of stale bytes keeps none of them:
// no mesh, pipeline, device copy, box or array that the chunk did not give.
TEST_F(World, SectorsReadIntoAGarbageBlockStartClean)
{
    Bytes bytes = TwoSectorWorld();
    RwWorld *w = Read(bytes);
    ASSERT_NE(nullptr, w);
    Bytes leaf = WrittenWith([&](RwStream *out) { return RwAtomicSectorStreamWrite(Leaf(w, 0), w, out); });
    std::vector<RwUInt8> block(8192, 0xCD);
    RwWorldStreamCursor cursor = {block.data(), block.data() + 4096, 1, 0, 3, 1, 0};
    const int constructed = counting::live;
    RwWorldSector *one = ReadChunkWith(leaf, 0x09, [&](RwStream *in) {
        return RwAtomicSectorStreamRead(in, &cursor, w, w->flags);
    });
    ASSERT_NE(nullptr, one);
    ASSERT_NE(nullptr, one->mesh);   // the one the chunk holds
    EXPECT_EQ(Leaf(w, 0)->mesh->numMeshes, one->mesh->numMeshes);
    EXPECT_EQ(nullptr, one->pipeline);
    EXPECT_EQ(nullptr, one->repEntry);
    EXPECT_EQ(nullptr, one->normals);   // the world has none
    for (RwTexCoords *set : one->texCoords) {
        EXPECT_EQ(nullptr, set);
    }
    const RwBBox none = {};
    EXPECT_EQ(0, std::memcmp(&none, &one->boundingBox, sizeof none));
    EXPECT_TRUE(RwLinkListEmpty(&one->collAtomicsInWorldSector));
    EXPECT_EQ(constructed + 1, counting::live) << "the plug-in data was constructed";
    EXPECT_EQ(leaf, WrittenWith([&](RwStream *out) { return RwAtomicSectorStreamWrite(one, w, out); }));
    RwWorldSectorRelease(one);
    RwWorldDestroy(w);
}

TEST_F(World, OldPolygonOrderAndMissingExtents)
{
    SectorData old = {0, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 2, 1, 0}, kOldStamp};
    WorldData noExtents;
    noExtents.format = 0x08;
    Bytes bytes = TwoSectorWorld(old, noExtents);
    RwWorld *w = Read(bytes);
    ASSERT_NE(nullptr, w);
    const RwTriangle &t = Leaf(w, 0)->polygons[0];
    EXPECT_EQ(2, t.vertIndex[0]);
    EXPECT_EQ(1, t.vertIndex[1]);
    EXPECT_EQ(0, t.vertIndex[2]);
    EXPECT_EQ(0, t.matIndex);
    const RwPlaneSector *p = reinterpret_cast<RwPlaneSector *>(w->rootSector);
    EXPECT_EQ(0.0f, p->leftValue);
    EXPECT_EQ(0.0f, p->rightValue);
    RwWorldDestroy(w);
}

Bytes DeepTree(int planes)
{
    Bytes tree = SectorChunk({0, {}, {}});
    for (int i = 0; i < planes; ++i) {
        tree = PlaneChunk(4, 0, 0, 0, SectorChunk({0, {}, {}}), tree, true, i == 0);
    }
    return tree;
}

TEST_F(World, HostileStreamsAreRefused)
{
    WorldData tooFew;
    tooFew.totals[1] = 2;
    WorldData flagged;
    flagged.word32 = 1;
    WorldData deep;
    deep.totals[0] = 0;
    deep.totals[1] = 0;
    deep.totals[2] = 64;
    deep.totals[3] = 65;
    WorldData deeper = deep;
    deeper.totals[2] = 65;
    deeper.totals[3] = 66;
    WorldData sets;
    sets.format = 0x40090008;
    const SectorData badVertex = {0, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 3, 0}};
    const SectorData badMaterial = {0, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 1}};
    const SectorData badBase = {1, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0}};
    const SectorData noVertices = {0, {}, {0, 0, 0, 0}};
    struct Case {
        Bytes bytes;
        RwUInt32 error;
    } cases[] = {
        {TwoSectorWorld(Triangle(), tooFew), 0x8000001A},
        {TwoSectorWorld(Triangle(), flagged), 0x80000004},
        {TwoSectorWorld(badVertex), 0x8000001A},
        {TwoSectorWorld(badMaterial), 0x8000001A},
        {TwoSectorWorld(badBase), 0x8000001A},
        {TwoSectorWorld(noVertices), 0x8000001A},
        {TwoSectorWorld(Triangle(), sets), 7},
        {WorldBody(deeper, DeepTree(65)), 0x8000001A},
        {WorldBody(WorldData(), PlaneChunk(12, 0, 1, -1, SectorChunk(Triangle()), SectorChunk({0, {}, {}}), true,
                                           true)),
         0x8000001A},
    };
    for (Case &c : cases) {
        EXPECT_EQ(nullptr, Read(c.bytes));
        EXPECT_EQ(c.error, TakeErrorCode());
        EXPECT_LE(rwTestMemory.live, blocks);
        EXPECT_EQ(0, counting::live);
    }
    Bytes ok = WorldBody(deep, DeepTree(64));
    RwWorld *w = Read(ok);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(64, RwSectorTreeDepth(w->rootSector));
    RwWorldDestroy(w);
}

TEST_F(World, NonFiniteOriginBoxesPlanesOrVerticesAreRefused)
{
    Bytes hand = TwoSectorWorld();
    RwWorld *w = Read(hand);
    ASSERT_NE(nullptr, w);
    RwPlaneSector *plane = reinterpret_cast<RwPlaneSector *>(w->rootSector);
    w->worldOrigin.x = -4.25f;
    w->boundingBox.sup.y = 12.5f;
    plane->value = 0.625f;
    plane->leftValue = 1.5f;
    plane->rightValue = -1.5f;
    Leaf(w, 0)->tightBoundingBox.sup.z = 2.75f;
    Leaf(w, 0)->vertices[2].z = 6.5f;
    Bytes bytes = WrittenWith([&](RwStream *out) { return RwWorldStreamWrite(w, out); });
    RwWorldDestroy(w);
    auto read = [](RwStream *s) { return RwStreamFindChunk(s, 0x0B, nullptr, nullptr) ? RwWorldStreamRead(s) : nullptr; };
    ExpectNonFiniteRefused(bytes, {FindReal(bytes, 4.25f), FindReal(bytes, 12.5f), FindReal(bytes, 0.625f),
                                   FindReal(bytes, 1.5f), FindReal(bytes, -1.5f), FindReal(bytes, 2.75f),
                                   FindReal(bytes, 6.5f)},
                           read);
    EXPECT_EQ(0, counting::live);
}

TEST_F(World, TruncationAnywhereLeavesNothing)
{
    Bytes bytes = TwoSectorWorld();
    for (size_t n = 0; n < bytes.size(); ++n) {
        RwWorld *w = Read(bytes, n);
        EXPECT_EQ(nullptr, w) << n;
        if (w) {
            RwWorldDestroy(w);
        }
        TakeError();
        ASSERT_LE(rwTestMemory.live, blocks) << n;
    }
    ExpectCustomReadsAsMemory(bytes, RwWorldStreamRead, RwWorldDestroy, "world");
    ASSERT_LE(rwTestMemory.live, blocks);
}

// A world of two sectors split at x = 0 with overlapping extents, a camera in
// it at x = 5 looking along z, and a clump of atomics.
class Membership : public World {
protected:
    void SetUp() override
    {
        World::SetUp();
        bytes = TwoSectorWorld();
        world = Read(bytes);
        ASSERT_NE(nullptr, world);
        camera = RwCameraCreate();
        RwFrame *cf = RwFrameCreate();
        RwCameraSetFrame(camera, cf);
        RwCameraSetFarClipPlane(camera, 100.0f);
        const RwV3d at = {5, 0, -40};
        RwFrameTranslate(cf, &at, rwCOMBINEREPLACE);
        RwWorldAddCamera(world, camera);
        geometry = RwGeometryCreateEmpty(0.5f);
        clump = RwClumpCreate();
        RwClumpSetFrame(clump, RwFrameCreate());
    }
    void TearDown() override
    {
        if (RwClumpGetWorld(clump)) {
            RwWorldRemoveClump(world, clump);
        }
        RwClumpDestroy(clump);
        RwGeometryDestroy(geometry);
        RwWorldRemoveCamera(world, camera);
        RwFrame *cf = RwCameraGetFrame(camera);
        RwCameraSetFrame(camera, nullptr);
        RwFrameDestroy(cf);
        RwCameraDestroy(camera);
        RwWorldDestroy(world);
        World::TearDown();
    }
    RwAtomic *AddAtomic(float x)
    {
        RwAtomic *a = RwAtomicCreate();
        RwAtomicSetGeometry(a, geometry, 0);
        RwFrame *f = RwFrameCreate();
        const RwV3d p = {x, 0, 0};
        RwFrameTranslate(f, &p, rwCOMBINEREPLACE);
        RwFrameAddChild(RwClumpGetFrame(clump), f);
        RwAtomicSetFrame(a, f);
        RwClumpAddAtomic(clump, a);
        return a;
    }
    static RwInt32 SectorCount(RwAtomic *a)
    {
        RwInt32 n = 0;
        RwAtomicForAllWorldSectors(a, [](RwWorldSector *s, void *d) {
            ++*static_cast<RwInt32 *>(d);
            return s;
        }, &n);
        return n;
    }
    Bytes bytes;
    RwWorld *world = nullptr;
    RwCamera *camera = nullptr;
    RwGeometry *geometry = nullptr;
    RwClump *clump = nullptr;
};

TEST_F(Membership, FrustumListFollowsRenderOrder)
{
    RwFrameSyncDirtyList();
    ASSERT_EQ(2, RwCameraGetFrustumSectorCount(camera));
    EXPECT_EQ(Leaf(world, 0), RwCameraGetFrustumSector(camera, 0));   // far side first
    world->renderOrder = 1;
    RwFrameMarkDirty(RwCameraGetFrame(camera));
    RwFrameSyncDirtyList();
    EXPECT_EQ(Leaf(world, 1), RwCameraGetFrustumSector(camera, 0));
    EXPECT_EQ(Leaf(world, 0), RwCameraGetFrustumSector(camera, 1));
    std::vector<RwWorldSector *> rendered;
    static std::vector<RwWorldSector *> *sink;
    sink = &rendered;
    RwWorldSetSectorRenderCallBack(world, [](RwWorldSector *s) {
        sink->push_back(s);
        return s;
    });
    ASSERT_NE(nullptr, RwCameraBeginUpdate(camera));
    EXPECT_EQ(world, RwEngineInstance->curWorld);
    RwWorldRender(world);
    RwCameraEndUpdate(camera);
    EXPECT_EQ(nullptr, RwEngineInstance->curWorld);
    EXPECT_EQ((std::vector<RwWorldSector *>{Leaf(world, 1), Leaf(world, 0)}), rendered);
}

int drawn = 0;
RwAtomic *CountDraw(RwAtomic *a)
{
    ++drawn;
    return a;
}

TEST_F(Membership, TiesDrawingOnceAndLeaving)
{
    RwAtomic *straddling = AddAtomic(0.0f);
    RwAtomic *leftOnly = AddAtomic(-5.0f);
    RwAtomic *hidden = AddAtomic(3.0f);
    hidden->object.object.flags = 0;
    ASSERT_EQ(world, RwWorldAddClump(world, clump));
    EXPECT_EQ(nullptr, RwWorldAddClump(world, clump));
    EXPECT_EQ(8u, TakeErrorCode());
    EXPECT_EQ(1, world->numClumpsInWorld);
    RwFrameSyncDirtyList();
    EXPECT_EQ(2, SectorCount(straddling));
    EXPECT_EQ(1, SectorCount(leftOnly));
    for (RwAtomic *a : {straddling, leftOnly, hidden}) {
        a->renderCallBack = CountDraw;
    }
    drawn = 0;
    for (int frame = 0; frame < 2; ++frame) {
        RwCameraBeginUpdate(camera);
        RwWorldRender(world);
        RwCameraEndUpdate(camera);
    }
    EXPECT_EQ(4, drawn);   // two atomics, once per update
    int visits = 0;
    RwClumpSetCallBack(clump, [](RwClump *c, void *d) {
        ++*static_cast<int *>(d);
        return c;
    });
    RwCameraForAllClumpsInFrustum(camera, &visits);
    EXPECT_EQ(1, visits);
    // A walk whose callback removes every tie of the sector keeps going.
    RwInt32 walked = 0;
    static RwInt32 *counter;
    counter = &walked;
    RwWorldSectorForAllAtomics(Leaf(world, 0), [](RwAtomic *a, void *) {
        ++*counter;
        RwAtomicFreeTies(a);
        return a;
    }, nullptr);
    EXPECT_EQ(2, walked);
    EXPECT_EQ(world, RwWorldRemoveClump(world, clump));
    EXPECT_EQ(0, world->numClumpsInWorld);
    EXPECT_EQ(0, SectorCount(straddling));
    EXPECT_EQ(nullptr, RwAtomicGetWorld(straddling));
    EXPECT_EQ(nullptr, RwWorldRemoveClump(world, clump));
    EXPECT_EQ(4u, TakeErrorCode());
}

TEST_F(Membership, SectorRenderRunsTheCurrentWorldsCallbackAlone)
{
    AddAtomic(0.0f)->renderCallBack = CountDraw;   // tied to both sectors
    ASSERT_EQ(world, RwWorldAddClump(world, clump));
    RwFrameSyncDirtyList();
    static std::vector<RwWorldSector *> seen;
    static bool fail;
    seen.clear();
    RwWorldSetSectorRenderCallBack(world, [](RwWorldSector *s) {
        seen.push_back(s);
        return fail ? nullptr : s;
    });
    drawn = 0;
    RwWorldSector *left = Leaf(world, 0), *right = Leaf(world, 1);
    EXPECT_EQ(nullptr, RwWorldSectorRender(left)) << "no world is current";
    RwCameraBeginUpdate(camera);
    fail = false;
    EXPECT_EQ(left, RwWorldSectorRender(left));
    EXPECT_EQ(right, RwWorldSectorRender(right));
    fail = true;
    EXPECT_EQ(nullptr, RwWorldSectorRender(left));
    RwCameraEndUpdate(camera);
    EXPECT_EQ((std::vector<RwWorldSector *>{left, right, left}), seen);
    EXPECT_EQ(0, drawn) << "the sectors' atomics are not drawn";
}

TEST_F(Membership, LightsJoinTheirListsAndLeaveOnce)
{
    RwLight *sun = RwLightCreate(rwLIGHTDIRECTIONAL);
    RwLight *lamp = RwLightCreate(rwLIGHTPOINT);
    RwFrame *f = RwFrameCreate();
    RwLightSetFrame(lamp, f);
    RwLightSetRadius(lamp, 0.5f);
    EXPECT_EQ(world, RwWorldAddLight(world, sun));
    EXPECT_EQ(world, RwWorldAddLight(world, lamp));
    RwFrameSyncDirtyList();
    for (int side = 0; side < 2; ++side) {
        int lights = 0;
        RwWorldSectorForAllLights(Leaf(world, side), [](RwLight *l, void *d) {
            ++*static_cast<int *>(d);
            return l;
        }, &lights);
        EXPECT_EQ(2, lights) << side;   // the sun, and the lamp straddling the split
    }
    EXPECT_EQ(world, RwWorldRemoveLight(world, sun));
    EXPECT_EQ(nullptr, RwWorldRemoveLight(world, sun));
    EXPECT_EQ(4u, TakeErrorCode());
    RwLightDestroy(sun);
    RwLightDestroy(lamp);   // leaves the world with its ties
    EXPECT_TRUE(RwLinkListEmpty(&world->lightList));
    EXPECT_TRUE(RwLinkListEmpty(&Leaf(world, 0)->lightsInWorldSector));
    RwFrameDestroy(f);
}

TEST_F(Membership, DestroyingLeavesNothingPointingAtTheDead)
{
    AddAtomic(0.0f);
    RwWorldAddClump(world, clump);
    RwFrameSyncDirtyList();
    RwClumpDestroy(clump);
    clump = RwClumpCreate();
    EXPECT_EQ(0, world->numClumpsInWorld);
    EXPECT_TRUE(RwLinkListEmpty(&world->clumpList));
    EXPECT_TRUE(RwLinkListEmpty(&Leaf(world, 0)->collAtomicsInWorldSector));
    RwLight *sun = RwLightCreate(rwLIGHTDIRECTIONAL);
    RwWorldAddLight(world, sun);
    RwWorld *doomed = Read(bytes);
    ASSERT_NE(nullptr, doomed);
    RwClump *inDoomed = RwClumpCreate();
    RwWorldAddClump(doomed, inDoomed);
    RwWorldRemoveLight(world, sun);
    RwWorldAddLight(doomed, sun);
    RwWorldDestroy(doomed);
    EXPECT_EQ(nullptr, RwClumpGetWorld(inDoomed));
    EXPECT_EQ(nullptr, RwLightGetWorld(sun));
    RwClumpDestroy(inDoomed);
    RwLightDestroy(sun);
}

// A world of three sectors: x = 0 splits A (left, x < 1) from a plane
// z = 0 that splits B (z < 1) from C (z > -1), for x > -1.
class Ties : public World {
protected:
    void SetUp() override
    {
        World::SetUp();
        WorldData w;
        w.totals[2] = 2;
        w.totals[3] = 3;
        const Bytes right = PlaneChunk(8, 0, 1, -1, SectorChunk({0, {}, {}}), SectorChunk({0, {}, {}}), true, true);
        bytes = WorldBody(w, PlaneChunk(0, 0, 1, -1, SectorChunk(Triangle()), right, true, false));
        world = Read(bytes);
        ASSERT_NE(nullptr, world);
        RwPlaneSector *root = reinterpret_cast<RwPlaneSector *>(world->rootSector);
        RwPlaneSector *split = reinterpret_cast<RwPlaneSector *>(root->rightSubTree);
        a = reinterpret_cast<RwWorldSector *>(root->leftSubTree);
        b = reinterpret_cast<RwWorldSector *>(split->leftSubTree);
        c = reinterpret_cast<RwWorldSector *>(split->rightSubTree);
        geometry = RwGeometryCreateEmpty(0.5f);
        clump = RwClumpCreate();
        RwClumpSetFrame(clump, RwFrameCreate());
    }
    void TearDown() override
    {
        if (clump) {
            if (RwClumpGetWorld(clump)) {
                RwWorldRemoveClump(world, clump);
            }
            RwClumpDestroy(clump);
            RwGeometryDestroy(geometry);
        }
        if (world) {
            RwWorldDestroy(world);
        }
        World::TearDown();
    }
    RwAtomic *AddAtomic(float x, float z)
    {
        RwAtomic *atomic = RwAtomicCreate();
        RwAtomicSetGeometry(atomic, geometry, 0);
        RwFrame *f = RwFrameCreate();
        Place(f, x, z);
        RwFrameAddChild(RwClumpGetFrame(clump), f);
        RwAtomicSetFrame(atomic, f);
        RwClumpAddAtomic(clump, atomic);
        return atomic;
    }
    static void Place(RwFrame *f, float x, float z)
    {
        const RwV3d p = {x, 0, z};
        RwFrameTranslate(f, &p, rwCOMBINEREPLACE);
    }
    // The sectors the atomic is tied to, in the order of the tree (A, B, C).
    std::vector<RwWorldSector *> TiedTo(RwAtomic *atomic)
    {
        std::vector<RwWorldSector *> found;
        RwAtomicForAllWorldSectors(atomic, [](RwWorldSector *s, void *d) {
            static_cast<std::vector<RwWorldSector *> *>(d)->push_back(s);
            return s;
        }, &found);
        std::vector<RwWorldSector *> ordered;
        for (RwWorldSector *s : {a, b, c}) {
            if (std::count(found.begin(), found.end(), s) == 1) {
                ordered.push_back(s);
            }
        }
        EXPECT_EQ(found.size(), ordered.size()) << "a tie to a sector twice or to another world";
        return ordered;
    }
    // The atomics a sector lists, each once.
    static std::vector<RwAtomic *> Listed(RwWorldSector *sector)
    {
        std::vector<RwAtomic *> found;
        RwWorldSectorForAllAtomics(sector, [](RwAtomic *atomic, void *d) {
            static_cast<std::vector<RwAtomic *> *>(d)->push_back(atomic);
            return atomic;
        }, &found);
        std::sort(found.begin(), found.end());
        return found;
    }
    Bytes bytes;
    RwWorld *world = nullptr;
    RwWorldSector *a = nullptr, *b = nullptr, *c = nullptr;
    RwGeometry *geometry = nullptr;
    RwClump *clump = nullptr;
};

// Bounding spheres of radius 0.5 against the overlapping extents: a box
// reaching a boundary value exactly does not cross it.
TEST_F(Ties, ObjectsAreTiedToEverySectorTheirBoundsReach)
{
    using Sectors = std::vector<RwWorldSector *>;
    const struct {
        float x, z;
        Sectors want;
    } cases[] = {
        {-5, 0, {a}},     {5, -5, {b}},       {5, 5, {c}},         {5, 0, {b, c}},
        {0, 0, {a, b, c}}, {0, -5, {a, b}},    {0, 5, {a, c}},      {1.5f, -5, {b}},
        {-1.5f, 5, {a}},  {0.5f, 1.5f, {a, c}}, {5, -1.5f, {b}},
    };
    std::vector<RwAtomic *> atomics;
    for (const auto &k : cases) {
        atomics.push_back(AddAtomic(k.x, k.z));
    }
    ASSERT_EQ(world, RwWorldAddClump(world, clump));
    RwFrameSyncDirtyList();
    std::vector<RwAtomic *> inA, inB, inC;
    for (size_t i = 0; i < atomics.size(); ++i) {
        EXPECT_EQ(cases[i].want, TiedTo(atomics[i])) << cases[i].x << ", " << cases[i].z;
        for (RwWorldSector *s : cases[i].want) {
            (s == a ? inA : s == b ? inB : inC).push_back(atomics[i]);
        }
    }
    for (std::vector<RwAtomic *> *list : {&inA, &inB, &inC}) {
        std::sort(list->begin(), list->end());
    }
    EXPECT_EQ(inA, Listed(a));
    EXPECT_EQ(inB, Listed(b));
    EXPECT_EQ(inC, Listed(c));

    // Moving re-ties: from A alone to C alone, and A no longer lists it.
    Place(RwAtomicGetFrame(atomics[0]), 5, 5);
    RwFrameSyncDirtyList();
    EXPECT_EQ(Sectors{c}, TiedTo(atomics[0]));
    const std::vector<RwAtomic *> nowInA = Listed(a);
    EXPECT_EQ(0, std::count(nowInA.begin(), nowInA.end(), atomics[0]));

    // A point light is tied the same way by its radius.
    RwLight *lamp = RwLightCreate(rwLIGHTPOINT);
    RwFrame *lf = RwFrameCreate();
    Place(lf, 5, 0);
    RwLightSetFrame(lamp, lf);
    RwLightSetRadius(lamp, 0.5f);
    ASSERT_EQ(world, RwWorldAddLight(world, lamp));
    RwFrameSyncDirtyList();
    for (RwWorldSector *s : {a, b, c}) {
        int lights = 0;
        RwWorldSectorForAllLights(s, [](RwLight *l, void *d) {
            ++*static_cast<int *>(d);
            return l;
        }, &lights);
        EXPECT_EQ(s == a ? 0 : 1, lights);
    }
    RwWorldRemoveLight(world, lamp);
    RwLightDestroy(lamp);
    RwFrameDestroy(lf);
}

// A camera leaves a world that is destroyed around it, as clumps and lights
// do: moving and syncing its frame afterwards reads nothing of the freed world.
TEST_F(Membership, DestroyedWorldsSendTheirCamerasAway)
{
    RwWorld *doomed = Read(bytes);
    ASSERT_NE(nullptr, doomed);
    EXPECT_EQ(doomed, RwWorldAddCamera(doomed, camera));   // moves out of the kept world
    RwFrameSyncDirtyList();
    ASSERT_EQ(2, RwCameraGetFrustumSectorCount(camera));
    EXPECT_EQ(Leaf(doomed, 0), RwCameraGetFrustumSector(camera, 0));

    rwTestMemory.quarantine = true;
    RwWorldDestroy(doomed);
    EXPECT_EQ(nullptr, RwCameraGetWorld(camera));
    EXPECT_EQ(0, RwCameraGetFrustumSectorCount(camera));
    const RwV3d step = {1, 0, 0};
    RwFrameTranslate(RwCameraGetFrame(camera), &step, rwCOMBINEPOSTCONCAT);
    RwFrameSyncDirtyList();
    EXPECT_EQ(0, RwCameraGetFrustumSectorCount(camera));
    ASSERT_NE(nullptr, RwCameraBeginUpdate(camera));
    EXPECT_EQ(nullptr, RwEngineInstance->curWorld);
    RwCameraEndUpdate(camera);
    rwTestMemory.quarantine = false;
    EXPECT_EQ(0, RwTestMemoryReleaseQuarantine());

    // The moved camera was listed in the doomed world only; destroying the
    // kept one later leaves it alone once it is gone elsewhere.
    EXPECT_EQ(world, RwWorldAddCamera(world, camera));
    RwFrameSyncDirtyList();
    EXPECT_EQ(2, RwCameraGetFrustumSectorCount(camera));

    // A camera destroyed in a world is off its list before the world goes.
    RwWorld *second = Read(bytes);
    ASSERT_NE(nullptr, second);
    RwCamera *lost = RwCameraCreate();
    RwWorldAddCamera(second, lost);
    rwTestMemory.quarantine = true;
    RwCameraDestroy(lost);
    RwWorldDestroy(second);
    rwTestMemory.quarantine = false;
    EXPECT_EQ(0, RwTestMemoryReleaseQuarantine());
    EXPECT_EQ(world, RwCameraGetWorld(camera));
}

// A world destroyed while one of its cameras is between begin and end update
// stops being the engine's current world: the rest of the update (sector
// callbacks, light walks, pipelines) reads nothing of it. A world that is not
// current leaves the current one alone.
TEST_F(Membership, AWorldDestroyedInsideAnUpdateIsNoLongerCurrent)
{
    RwWorld *doomed = Read(bytes);
    ASSERT_NE(nullptr, doomed);
    RwWorldAddCamera(doomed, camera);
    ASSERT_NE(nullptr, RwCameraBeginUpdate(camera));
    ASSERT_EQ(doomed, RwEngineInstance->curWorld);
    rwTestMemory.quarantine = true;
    RwWorldDestroy(doomed);
    const bool gone = RwEngineInstance->curWorld == nullptr;
    EXPECT_TRUE(gone) << "the freed world is still current";
    if (gone) {
        EXPECT_EQ(nullptr, RwWorldSectorRender(Leaf(world, 0))) << "no world is current";
    }
    RwCameraEndUpdate(camera);
    rwTestMemory.quarantine = false;
    EXPECT_EQ(0, RwTestMemoryReleaseQuarantine());

    RwWorldAddCamera(world, camera);
    RwWorld *other = Read(bytes);
    ASSERT_NE(nullptr, other);
    ASSERT_NE(nullptr, RwCameraBeginUpdate(camera));
    RwWorldDestroy(other);
    EXPECT_EQ(world, RwEngineInstance->curWorld);
    RwCameraEndUpdate(camera);
}

// A camera moved into another world drops the frustum list it had in the old
// one: a walk before its frame is synced again (or ever, without a frame)
// meets no sector of the old world, which may be gone by then.
TEST_F(Membership, ACameraMovedToAnotherWorldKeepsNoSectorOfTheOld)
{
    RwWorld *doomed = Read(bytes);
    ASSERT_NE(nullptr, doomed);
    RwWorldAddCamera(doomed, camera);
    RwFrameSyncDirtyList();
    ASSERT_EQ(2, RwCameraGetFrustumSectorCount(camera));
    EXPECT_EQ(world, RwWorldAddCamera(world, camera));
    RwWorldDestroy(doomed);
    std::vector<RwWorldSector *> listed;
    RwCameraForAllSectorsInFrustum(camera, [](RwWorldSector *s, void *d) {
        static_cast<std::vector<RwWorldSector *> *>(d)->push_back(s);
        return s;
    }, &listed);
    for (RwWorldSector *s : listed) {
        EXPECT_TRUE(s == Leaf(world, 0) || s == Leaf(world, 1)) << "a sector of the destroyed world";
    }
    RwFrameSyncDirtyList();
    EXPECT_EQ(2, RwCameraGetFrustumSectorCount(camera));
    // Added again to the world it is in, it keeps its list.
    EXPECT_EQ(world, RwWorldAddCamera(world, camera));
    EXPECT_EQ(2, RwCameraGetFrustumSectorCount(camera));
}

// An atomic follows its clump's world: taken out of a clump in a world it
// leaves that world with its ties, and put into a clump in a world it joins
// it. Moved between clumps of two worlds, it keeps nothing of the first once
// that is destroyed, however its frame moves afterwards.
TEST_F(Membership, AtomicsFollowTheWorldOfTheirClump)
{
    RwAtomic *atomic = AddAtomic(0.0f);
    RwWorld *doomed = Read(bytes);
    ASSERT_NE(nullptr, doomed);
    ASSERT_EQ(doomed, RwWorldAddClump(doomed, clump));
    RwFrameSyncDirtyList();
    ASSERT_EQ(2, SectorCount(atomic));

    RwClumpRemoveAtomic(clump, atomic);
    EXPECT_EQ(nullptr, RwAtomicGetWorld(atomic));
    EXPECT_EQ(0, SectorCount(atomic));
    EXPECT_TRUE(RwLinkListEmpty(&Leaf(doomed, 0)->collAtomicsInWorldSector));
    EXPECT_TRUE(RwLinkListEmpty(&Leaf(doomed, 1)->collAtomicsInWorldSector));
    RwClumpAddAtomic(clump, atomic);
    EXPECT_EQ(doomed, RwAtomicGetWorld(atomic));
    RwFrameSyncDirtyList();
    EXPECT_EQ(2, SectorCount(atomic));

    // Into a clump of the kept world.
    RwClump *keeper = RwClumpCreate();
    ASSERT_EQ(world, RwWorldAddClump(world, keeper));
    RwClumpRemoveAtomic(clump, atomic);
    RwClumpAddAtomic(keeper, atomic);
    EXPECT_EQ(world, RwAtomicGetWorld(atomic));
    rwTestMemory.quarantine = true;
    RwWorldRemoveClump(doomed, clump);
    RwWorldDestroy(doomed);
    const RwV3d step = {-5, 0, 0};
    RwFrameTranslate(RwAtomicGetFrame(atomic), &step, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();
    rwTestMemory.quarantine = false;
    EXPECT_EQ(0, RwTestMemoryReleaseQuarantine());
    EXPECT_EQ(world, RwAtomicGetWorld(atomic));
    EXPECT_EQ(1, SectorCount(atomic));
    RwWorldRemoveClump(world, keeper);
    RwClumpRemoveAtomic(keeper, atomic);
    RwClumpAddAtomic(clump, atomic);
    RwClumpDestroy(keeper);
}

}  // namespace

namespace {

RwInt32 executed = 0;
void *lastObject = nullptr;
RwBool CountingBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    ++executed;
    lastObject = params->dataParam;
    return TRUE;
}
RxPipelineNodeDefinition CountingNode()
{
    RxPipelineNodeDefinition definition = {};
    definition.name = "counting";
    definition.body = CountingBody;
    return definition;
}
RxPipelineNodeDefinition countingNode = CountingNode();

TEST_F(World, RenderCallbacksRunTheCurrentPipelines)
{
    RxPipeline *standIn = RwAtomicGetDefaultPipeline();
    ASSERT_NE(nullptr, standIn);
    ASSERT_NE(nullptr, RwWorldGetDefaultSectorPipeline());
    RxPipeline *own = RwPipelineCreate();
    ASSERT_NE(nullptr, RwPipelineLock(own));
    ASSERT_NE(nullptr, RwPipelineAddFragment(own, nullptr, &countingNode, nullptr));
    ASSERT_NE(nullptr, RwPipelineUnlock(own));
    RwAtomic *a = RwAtomicCreate();
    executed = 0;
    EXPECT_EQ(a, RwAtomicDefaultRenderCallBack(a));   // the stand-in draws nothing and succeeds
    RwAtomicSetDefaultPipeline(own);
    EXPECT_EQ(a, RwAtomicDefaultRenderCallBack(a));
    EXPECT_EQ(1, executed);
    EXPECT_EQ(a, lastObject);
    RwAtomicSetDefaultPipeline(nullptr);
    EXPECT_EQ(standIn, RwAtomicGetDefaultPipeline());
    Bytes bytes = TwoSectorWorld();
    RwWorld *w = Read(bytes);
    ASSERT_NE(nullptr, w);
    RwWorldSetDefaultSectorPipeline(own);
    EXPECT_EQ(Leaf(w, 0), RwWorldSectorDefaultRenderCallBack(Leaf(w, 0)));
    EXPECT_EQ(Leaf(w, 1), RwWorldSectorDefaultRenderCallBack(Leaf(w, 1)));   // no polygons: not executed
    EXPECT_EQ(2, executed);
    EXPECT_EQ(Leaf(w, 0), lastObject);
    RwWorldSetDefaultSectorPipeline(nullptr);
    RwWorldDestroy(w);
    RwAtomicDestroy(a);
    RwPipelineDestroy(own);
}

TEST_F(World, RestoreListHoldsEachGeometryOnce)
{
    RwGeometry *listed = RwGeometryCreateEmpty(1.0f);
    RwGeometry *dropped = RwGeometryCreateEmpty(1.0f);
    listed->lockedSinceLastInst = 0;
    dropped->lockedSinceLastInst = 0;
    RwGeometryAddToRestoreList(listed);
    RwGeometryAddToRestoreList(listed);
    RwGeometryAddToRestoreList(dropped);
    RwGeometryRemoveFromRestoreList(dropped);
    RwGeometryRemoveFromRestoreList(dropped);
    RwWorldDeviceRestoreCallback();
    EXPECT_EQ(0xFFF, listed->lockedSinceLastInst);
    EXPECT_EQ(0, dropped->lockedSinceLastInst);
    listed->lockedSinceLastInst = 0;
    RwGeometryRemoveFromRestoreList(listed);
    RwWorldDeviceRestoreCallback();
    EXPECT_EQ(0, listed->lockedSinceLastInst);
    RwGeometryDestroy(listed);
    RwGeometryDestroy(dropped);
}

}  // namespace
