// Tests of the world queries and the collision, visibility, lightmap and particle stand-ins.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/raster.h"
#include "gfx/core/started_engine.h"
#include "support/chunk_bytes.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"
#include "support/stream_bytes.h"

namespace {

using chunkbytes::Cat;
using chunkbytes::Chunk;

void Attach()
{
    ASSERT_TRUE(RwWorldPluginAttach());
    ASSERT_TRUE(RwCollisionPluginAttach());
    ASSERT_TRUE(RwPvsPluginAttach());
    ASSERT_TRUE(RwLightmapPluginAttach());
    ASSERT_TRUE(RwParticleTankPluginAttach());
    ASSERT_TRUE(RwParticleStandardPluginAttach());
    ASSERT_TRUE(RwParticleAdvancedPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

// Blocks of the stand-in plug-ins, with payloads they would never understand.
Bytes Blocks(std::initializer_list<RwUInt32> ids)
{
    Bytes out;
    for (RwUInt32 id : ids) {
        out = Cat({out, Chunk(id, Build().U32(0xC0FFEE00u + id).U32(3))});
    }
    return out;
}

Bytes PlainMaterialList()
{
    Build b;
    b.Header(1, 8).U32(1).U32(0xFFFFFFFFu);
    b.Header(7, 52).Header(1, 28).U32(0).U32(0xFFFFFFFF).U32(0).U32(0).U32(0).U32(0).U32(0).Header(3, 0);
    return Chunk(8, b);
}

// A world of one sector (box +-10) holding the triangles (three vertex indices each, material 0).
Bytes WorldChunk(const std::vector<float> &verts, const std::vector<RwUInt32> &tris, const Bytes &sectorExt,
                 const Bytes &worldExt)
{
    const RwUInt32 nv = static_cast<RwUInt32>(verts.size() / 3);
    const RwUInt32 np = static_cast<RwUInt32>(tris.size() / 3);
    Build s;
    s.U32(0).U32(np).U32(nv);
    PutReals(s.bytes, {-10, -10, -10, 10, 10, 10});
    s.U32(0).U32(0);
    for (float f : verts) {
        PutReals(s.bytes, {f});
    }
    for (RwUInt32 i = 0; i < np; ++i) {
        s.U32(tris[3 * i] | tris[3 * i + 1] << 16).U32(tris[3 * i + 2]);
    }
    Build w;
    w.U32(1);
    PutReals(w.bytes, {0, 0, 0});
    w.U32(np).U32(nv).U32(0).U32(1).U32(0).U32(0x40000000);
    PutReals(w.bytes, {10, 10, 10, -10, -10, -10});
    const Bytes sector = Chunk(9, Cat({Chunk(1, s), Chunk(3, sectorExt)}));
    return Chunk(0x0B, Cat({Chunk(1, w), PlainMaterialList(), sector, Chunk(3, worldExt)}));
}

// T0 a ground triangle facing up, T1 one whose box overlaps the query box
// while it misses it, T2 one far away, T3 a wall through the box.
const std::vector<float> kVerts = {0, 0, 0, 0, 0, 4, 4, 0, 0,  6, 0, 0, 0, 0, 6, 6, 0, 6,
                                   8, 5, 8, 9, 5, 8, 8, 5, 9,  1.5f, -5, 0, 1.5f, 5, 0, 1.5f, 0, 5};
const std::vector<RwUInt32> kTris = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

Bytes Written(const RwWorld *world)
{
    return WrittenWith([&](RwStream *s) { return RwWorldStreamWrite(world, s); });
}

RwWorld *ReadWorld(Bytes &bytes) { return ReadChunkWith(bytes, 0x0B, RwWorldStreamRead); }

struct Hit {
    RwInt32 index;
    RwV3d normal;
    RwReal distance;
    RwV3d *vertex0;
};

struct Hits {
    std::vector<Hit> hits;
    size_t stopAfter = 1000;
};

RwCollisionTriangle *Collect(RwIntersection *, RwWorldSector *, RwCollisionTriangle *t, RwReal d, void *data)
{
    Hits *h = static_cast<Hits *>(data);
    h->hits.push_back({t->index, t->normal, d, t->vertices[0]});
    return h->hits.size() < h->stopAfter ? t : nullptr;
}

class Queries : public ::testing::Test {
protected:
    void SetUp() override
    {
        bytes = WorldChunk(kVerts, kTris, Blocks({0x11D, 0x114, 0x12A}), Blocks({0x114, 0x12A}));
        world = ReadWorld(bytes);
        ASSERT_NE(nullptr, world);
        sector = reinterpret_cast<RwWorldSector *>(world->rootSector);
    }
    void TearDown() override { RwWorldDestroy(world); }
    std::vector<Hit> BoxQuery(RwBBox box, size_t stopAfter = 1000, RwIntersectionType type = rwINTERSECTBOX)
    {
        RwIntersection is;
        is.t.box = box;
        is.type = type;
        Hits h;
        h.stopAfter = stopAfter;
        EXPECT_EQ(world, RwCollisionWorldForAllIntersections(world, &is, Collect, &h));
        return h.hits;
    }
    Bytes bytes;
    RwWorld *world = nullptr;
    RwWorldSector *sector = nullptr;
};

TEST_F(Queries, BoxMeetsOnlyTrianglesThatReallyOverlapIt)
{
    const std::vector<Hit> hits = BoxQuery({{2, 1, 2}, {1, -1, 1}});
    ASSERT_EQ(2u, hits.size());
    EXPECT_EQ(0, hits[0].index);
    EXPECT_EQ(3, hits[1].index);
    EXPECT_EQ(0.0f, hits[0].distance);
    EXPECT_NEAR(0.0f, hits[0].normal.x, 1e-6f);
    EXPECT_NEAR(1.0f, hits[0].normal.y, 1e-6f);
    EXPECT_NEAR(0.0f, hits[0].normal.z, 1e-6f);
    EXPECT_NEAR(1.0f, std::fabs(hits[1].normal.x), 1e-6f);
    EXPECT_EQ(&sector->vertices[sector->polygons[3].vertIndex[0]], hits[1].vertex0);
    EXPECT_EQ(1u, BoxQuery({{2, 1, 2}, {1, -1, 1}}, 1).size());
    EXPECT_TRUE(BoxQuery({{30, 30, 30}, {20, 20, 20}}).empty());
    EXPECT_TRUE(BoxQuery({{2, 1, 2}, {1, -1, 1}}, 1000, rwINTERSECTSPHERE).empty());
    // A box just touching the far triangle's plane from above meets it.
    EXPECT_EQ(2, BoxQuery({{8.2f, 6, 8.2f}, {8.1f, 5, 8.1f}}).at(0).index);
}

// A triangle tilted against every axis (plane x + y + z = 6): a box just off
// its plane is told apart only by the triangle's normal, and does not meet it;
// the same box moved across the plane does.
TEST_F(Queries, BoxJustOffATiltedTrianglesPlaneMissesIt)
{
    Bytes tiltedBytes = WorldChunk({4, 1, 1, 1, 4, 1, 1, 1, 4}, {0, 1, 2}, {}, {});
    RwWorld *tilted = ReadWorld(tiltedBytes);
    ASSERT_NE(nullptr, tilted);
    std::swap(world, tilted);
    EXPECT_TRUE(BoxQuery({{2.35f, 2.35f, 2.35f}, {2.05f, 2.05f, 2.05f}}).empty());
    EXPECT_EQ(1u, BoxQuery({{2.2f, 2.2f, 2.2f}, {1.9f, 1.9f, 1.9f}}).size());
    std::swap(world, tilted);
    RwWorldDestroy(tilted);
}

TEST_F(Queries, LinesMeetTheStaticTrianglesTheyCross)
{
    const struct {
        RwLine line;
        std::vector<RwInt32> hit;   // triangle indices, in sector order
    } cases[] = {
        {{{1, 1, 1}, {1, -1, 1}}, {0}},              // down through the ground triangle at its middle
        {{{0, 1, 1}, {3, 1, 1}}, {3}},               // across the wall
        {{{0, -1, 1}, {3, 1, 1}}, {0, 3}},           // both
        {{{1, 2, 1}, {1, 0.5f, 1}}, {}},             // stops short of the ground
        {{{5, 1, 0.5f}, {5, -1, 0.5f}}, {}},         // beside every triangle
        {{{20, 20, 20}, {30, 20, 30}}, {}},          // outside the sector's box
    };
    for (const auto &c : cases) {
        RwIntersection is;
        is.t.line = c.line;
        is.type = rwINTERSECTLINE;
        Hits h;
        EXPECT_EQ(world, RwCollisionWorldForAllIntersections(world, &is, Collect, &h));
        std::vector<RwInt32> indices;
        for (const Hit &hit : h.hits)
            indices.push_back(hit.index);
        EXPECT_EQ(c.hit, indices) << c.line.start.x << "," << c.line.start.y << "," << c.line.start.z;
        if (c.hit.size() == 1) {
            EXPECT_NEAR(0.5f, h.hits[0].distance, 1e-5f);
        }
    }
}

TEST_F(Queries, StandInBlocksAreSkippedOnReadAndNotWrittenBack)
{
    for (RwUInt32 id : {0x11Du, 0x12Au, 0x114u, 0x12Fu, 0x130u, 0x132u}) {
        EXPECT_GE(RwEngineGetPluginOffset(id), 0) << id;
    }
    ASSERT_EQ(4, sector->numPolygons);
    EXPECT_EQ(4.0f, sector->vertices[1].z);
    // Written back exactly as the same world without the blocks.
    Bytes plain = WorldChunk(kVerts, kTris, {}, {});
    RwWorld *without = ReadWorld(plain);
    ASSERT_NE(nullptr, without);
    EXPECT_EQ(Written(without), Written(world));
    RwWorldDestroy(without);
    EXPECT_EQ(0, RwLightmapWorldCountLightmaps(world));
    EXPECT_EQ(world, RwLightmapSetRenderStyle(3, world));
    EXPECT_EQ(3, RwLightmapGetRenderStyle(world));
}

// A clump whose frame, geometry, atomic and clump extensions carry stand-in blocks.
Bytes ClumpWithBlocks()
{
    Build frames;
    frames.U32(1);
    PutReals(frames.bytes, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    frames.U32(0xFFFFFFFFu).U32(0);
    Build g;
    g.U32(0).U32(0).U32(0).U32(1);
    PutReals(g.bytes, {0, 0, 0, 2});
    g.U32(0).U32(0);
    const Bytes geometry = Chunk(0x0F, Cat({Chunk(1, g), Chunk(8, Build().Header(1, 4).U32(0)), Chunk(3, Blocks({0x114}))}));
    const Bytes atomic = Chunk(0x14, Cat({Chunk(1, Build().U32(0).U32(0).U32(5).U32(0)),
                                          Chunk(3, Blocks({0x11D, 0x12F, 0x130, 0x132}))}));
    return Chunk(0x10, Cat({Chunk(1, Build().U32(1).U32(0).U32(0)),
                            Chunk(0x0E, Cat({Chunk(1, frames), Chunk(3, Blocks({0x12A}))})),
                            Chunk(0x1A, Cat({Chunk(1, Build().U32(1)), geometry})), atomic, Chunk(3, Blocks({0x12F}))}));
}

TEST(StandIns, ClumpWithTheirBlocksLoadsIntactAndParticleQueriesAnswer)
{
    Bytes bytes = ClumpWithBlocks();
    RwClump *c = ReadChunkWith(bytes, 0x10, RwClumpStreamRead);
    ASSERT_NE(nullptr, c);
    RwAtomic *a = nullptr;
    RwClumpForAllAtomics(c, [](RwAtomic *atomic, void *d) {
        *static_cast<RwAtomic **>(d) = atomic;
        return atomic;
    }, &a);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(2.0f, a->geometry->morphTarget[0].boundingSphere.radius);
    EXPECT_EQ(nullptr, RwParticleAtomicGetEmitter(a));
    RwReal dt = 0.5f;
    EXPECT_EQ(a, RwParticleAtomicUpdate(a, &dt));
    RwUInt32 offsets[] = {16, 40};
    RwInt32 ids[] = {2, rwPARTICLEPROPERTYRENDER};
    const RwParticlePropertyTable table = {offsets, ids, 2};
    // An emitter list given to an atomic is found on it, not on its clone.
    RwParticleEmitter emitter = {nullptr, &table};
    EXPECT_TRUE(RwParticleAtomicSetEmitter(a, &emitter));
    EXPECT_EQ(&emitter, RwParticleAtomicGetEmitter(a));
    RwAtomic *clone = RwAtomicClone(a);
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(nullptr, RwParticleAtomicGetEmitter(clone));
    RwAtomicDestroy(clone);
    EXPECT_FALSE(RwParticleAtomicSetEmitter(nullptr, &emitter));
    RwClumpDestroy(c);
    EXPECT_EQ(nullptr, RwParticleAtomicGetEmitter(nullptr));
    EXPECT_EQ(40, RwParticlePropertyTableGetOffset(&table, rwPARTICLEPROPERTYRENDER));
    EXPECT_EQ(-1, RwParticlePropertyTableGetOffset(&table, 7));
    EXPECT_EQ(-1, RwParticlePropertyTableGetOffset(nullptr, 6));
}

struct AtomicHit {
    RwAtomic *atomic;
    RwWorldSector *sector;
    RwReal distance;
};

// Atomics of one triangle (0,0,0) (1,0,0) (0,1,0) in a unit sphere around
// (0.5, 0.5, 0), on frames at z = 5 (hit), (5, 5, 5) (missed) and z = 8.
TEST_F(Queries, LineFindsAtomicsByTheirSpheresThenTheirTriangles)
{
    RwGeometry *geometry = RwGeometryCreate(3, 1, rwGEOMETRYPOSITIONS);
    ASSERT_NE(nullptr, geometry);
    RwV3d *v = geometry->morphTarget[0].verts;
    v[0] = {0, 0, 0};
    v[1] = {1, 0, 0};
    v[2] = {0, 1, 0};
    geometry->triangles[0] = {{0, 1, 2}, 0xFFFF};
    geometry->morphTarget[0].boundingSphere = {{0.5f, 0.5f, 0}, 1};
    RwClump *clump = RwClumpCreate();
    RwClumpSetFrame(clump, RwFrameCreate());
    RwAtomic *near = nullptr;
    for (RwV3d at : {RwV3d{0, 0, 5}, RwV3d{5, 5, 5}, RwV3d{0, 0, 8}}) {
        RwAtomic *a = RwAtomicCreate();
        RwAtomicSetGeometry(a, geometry, 0);
        RwFrame *f = RwFrameCreate();
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwFrameAddChild(RwClumpGetFrame(clump), f);
        RwAtomicSetFrame(a, f);
        RwClumpAddAtomic(clump, a);
        near = near ? near : a;
    }
    ASSERT_TRUE(RwWorldAddClump(world, clump));
    RwFrameSyncDirtyList();
    RwIntersection is;
    is.type = rwINTERSECTLINE;
    is.t.line = {{0.25f, 0.25f, 0}, {0.25f, 0.25f, 10}};
    static std::vector<AtomicHit> found;
    static size_t stopAfter;
    const RwIntersectionCallBackAtomic collect = [](RwIntersection *, RwWorldSector *s, RwAtomic *a, RwReal d,
                                                    void *) -> RwAtomic * {
        found.push_back({a, s, d});
        return found.size() < stopAfter ? a : nullptr;
    };
    found.clear();
    stopAfter = 100;
    EXPECT_EQ(world, RwWorldForAllAtomicIntersections(world, &is, collect, nullptr));
    ASSERT_EQ(2u, found.size());
    const RwReal enter = (5 - std::sqrt(1 - 0.125f)) / 10;
    for (const AtomicHit &h : found) {
        EXPECT_EQ(sector, h.sector);
        EXPECT_NEAR(h.atomic == near ? enter : enter + 0.3f, h.distance, 1e-3f);
    }
    found.clear();
    stopAfter = 1;
    RwWorldForAllAtomicIntersections(world, &is, collect, nullptr);
    EXPECT_EQ(1u, found.size());

    struct {
        RwLine line;
        size_t hits;
        RwReal t;
    } const lines[] = {
        {{{0.25f, 0.25f, 0}, {0.25f, 0.25f, 10}}, 1, 0.5f},
        {{{0.25f, 0.25f, 10}, {0.25f, 0.25f, 0}}, 1, 0.5f},   // from the back
        {{{0.75f, 0.75f, 0}, {0.75f, 0.75f, 10}}, 0, 0},      // inside the sphere, beside the triangle
        {{{0.25f, 0.25f, 0}, {0.25f, 0.25f, 4}}, 0, 0},       // stops short
    };
    for (const auto &l : lines) {
        is.t.line = l.line;
        Hits h;
        EXPECT_EQ(near, RwAtomicForAllIntersections(near, &is, [](RwIntersection *i, RwCollisionTriangle *t, RwReal d,
                                                                  void *data) {
            return Collect(i, nullptr, t, d, data);
        }, &h));
        ASSERT_EQ(l.hits, h.hits.size());
        if (l.hits) {
            EXPECT_NEAR(l.t, h.hits[0].distance, 1e-5f);
            EXPECT_NEAR(1.0f, std::fabs(h.hits[0].normal.z), 1e-6f);
            EXPECT_EQ(5.0f, h.hits[0].vertex0->z);
        }
    }
    RwWorldRemoveClump(world, clump);
    RwClumpDestroy(clump);
    RwGeometryDestroy(geometry);
}

struct RayCase {
    RwCameraProjection projection;
    RwV2d offset;
};

TEST(PixelRay, PointsProjectBackOntoThePixelForBothProjections)
{
    RwRaster raster = {};
    raster.width = 640;
    raster.height = 480;
    RwCamera *camera = RwCameraCreate();
    RwFrame *frame = RwFrameCreate();
    RwCameraSetFrame(camera, frame);
    const RwV3d axis = {0, 1, 0}, pos = {1, 2, 3};
    RwFrameRotate(frame, &axis, 30, rwCOMBINEREPLACE);
    RwFrameTranslate(frame, &pos, rwCOMBINEPOSTCONCAT);
    RwCameraSetRaster(camera, &raster);
    const RwV2d window = {0.5f, 0.375f};
    RwCameraSetViewWindow(camera, &window);
    RwCameraSetNearClipPlane(camera, 0.5f);
    RwCameraSetFarClipPlane(camera, 50);
    const RayCase cases[] = {{rwPERSPECTIVE, {0, 0}}, {rwPERSPECTIVE, {0.2f, -0.1f}},
                             {rwPARALLEL, {0, 0}}, {rwPARALLEL, {0.2f, -0.1f}}};
    const RwV2d pixels[] = {{320, 240}, {0, 0}, {640, 480}, {640, 0}, {100, 400}};
    for (const RayCase &c : cases) {
        RwCameraSetProjection(camera, c.projection);
        RwCameraSetViewOffset(camera, &c.offset);
        RwCameraSync(reinterpret_cast<RwObjectHasFrame *>(camera));
        const RwMatrix *m = RwFrameGetWorldMatrix(frame);
        for (const RwV2d &p : pixels) {
            SCOPED_TRACE(testing::Message() << c.projection << " " << c.offset.x << " " << p.x << "," << p.y);
            RwLine line;
            ASSERT_EQ(&line, RwCameraComputePixelRay(camera, &line, &p));
            for (const RwV3d &point : {line.start, line.end}) {
                RwV3d q;
                RwV3dTransformPoint(&q, &point, &camera->viewMatrix);
                const RwReal w = c.projection == rwPERSPECTIVE ? q.z : 1.0f;
                EXPECT_NEAR(p.x, q.x / w * 640, 0.01f);
                EXPECT_NEAR(p.y, q.y / w * 480, 0.01f);
            }
            // Near and far lie at their clip distances; the centre pixel of
            // an unshifted view lies on the at axis.
            RwV3d d;
            RwV3dSub(&d, &line.end, &m->pos);
            EXPECT_NEAR(50.0f, RwV3dDotProduct(&d, &m->at), 1e-3f);
            RwV3dSub(&d, &line.start, &m->pos);
            EXPECT_NEAR(0.5f, RwV3dDotProduct(&d, &m->at), 1e-4f);
            if (p.x == 320 && c.offset.x == 0) {
                EXPECT_NEAR(0.0f, RwV3dDotProduct(&d, &m->right), 1e-4f);
                EXPECT_NEAR(0.0f, RwV3dDotProduct(&d, &m->up), 1e-4f);
            }
        }
    }
    RwCameraSetRaster(camera, nullptr);
    RwLine line;
    EXPECT_EQ(nullptr, RwCameraComputePixelRay(camera, &line, &pixels[0]));
    RwCameraSetFrame(camera, nullptr);
    RwFrameDestroy(frame);
    RwCameraDestroy(camera);
}

}  // namespace
