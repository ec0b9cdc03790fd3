#include <gtest/gtest.h>

#include <vector>

#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"
#include "world_modules.h"

namespace {

void Register()
{
    RegisterWorldObjectModules();
    counting::offset = RwMaterialRegisterPlugin(4, 0xCA11, counting::Construct, counting::Destruct, nullptr);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Register));

const RwUInt32 kNoError = 0x80000000u;

// A geometry chunk body: struct of the given words, then a material list of
// `materials` plain materials, then the given extension payload.
Bytes GeometryBody(std::initializer_list<RwUInt32> structWords, RwUInt32 materials, const Bytes &extension = {})
{
    Build b;
    b.Header(1, 4 * static_cast<RwUInt32>(structWords.size()));
    for (RwUInt32 w : structWords) {
        b.U32(w);
    }
    const RwUInt32 material = 12 + 28 + 12;
    b.Header(8, 12 + 4 + 4 * materials + materials * (12 + material)).Header(1, 4 + 4 * materials).U32(materials);
    for (RwUInt32 i = 0; i < materials; ++i) {
        b.U32(static_cast<RwUInt32>(-1));
    }
    for (RwUInt32 i = 0; i < materials; ++i) {
        b.Header(7, material).Header(1, 28).U32(0).U32(0xFFFFFFFF).U32(0).U32(0).U32(0).U32(0).U32(0).Header(3, 0);
    }
    b.Header(3, static_cast<RwUInt32>(extension.size()));
    Bytes out = b;
    out.insert(out.end(), extension.begin(), extension.end());
    return out;
}

class Geometry : public CountedTest {
protected:
    static Bytes Written(const RwGeometry *g)
    {
        return WrittenWith([&](RwStream *w) { return RwGeometryStreamWrite(g, w); });
    }
    static RwGeometry *Read(Bytes &bytes, bool findHeader = false)
    {
        return findHeader ? ReadChunkWith(bytes, 0x0F, RwGeometryStreamRead) : ReadWith(bytes, RwGeometryStreamRead);
    }
};

TEST_F(Geometry, CreationFormats)
{
    struct Case {
        RwInt32 verts;
        RwUInt32 format;
        RwInt32 sets;
        RwUInt32 flags;
        RwUInt32 error;   // when creation fails
    } cases[] = {
        {3, 0x80, 2, 0x80, 0},
        {3, 0x00030000, 3, 0x80, 0},
        {3, 0x04 | 0x08 | 0x10, 1, 0x1C, 0},
        {3, 0x04 | 0x80, 2, 0x80, 0},   // the two-set flag wins
        {3, 0x00080000 | 0x04, 8, 0x80, 0},
        {3, 0x0F000000 | 0x80 | 0x100, 2, 0x0F000080, 0},
        {3, 0x00090000, 0, 0, 7},
        {65536, 0, 0, 0, 6},
        {-1, 0, 0, 0, kNoError},
    };
    for (const Case &c : cases) {
        RwGeometry *g = RwGeometryCreate(c.verts, 2, c.format);
        const RwError e = TakeError();
        if (c.error) {
            EXPECT_EQ(nullptr, g);
            EXPECT_EQ(c.error, static_cast<RwUInt32>(e.errorCode));
            continue;
        }
        ASSERT_NE(nullptr, g) << std::hex << c.format;
        EXPECT_EQ(c.sets, g->numTexCoordSets);
        EXPECT_EQ(c.flags, g->flags);
        const bool native = (c.flags & rwGEOMETRYNATIVE) != 0;
        EXPECT_EQ(native, g->triangles == nullptr);
        EXPECT_EQ(native, g->morphTarget[0].verts == nullptr);
        EXPECT_EQ(!native && (c.flags & 0x10), g->morphTarget[0].normals == g->morphTarget[0].verts + 3);
        EXPECT_EQ(!native && c.sets == 8, g->texCoords[7] != nullptr);
        if (!native) {
            EXPECT_EQ(0xFFFF, g->triangles[1].matIndex);
        }
        RwGeometryDestroy(g);
    }
}

TEST_F(Geometry, MorphTargetsMoveTheirArraysAlong)
{
    RwGeometry *g = RwGeometryCreate(3, 1, rwGEOMETRYNORMALS);
    for (int i = 0; i < 3; ++i) {
        g->morphTarget[0].verts[i] = {1.0f * i, 2, 3};
        g->morphTarget[0].normals[i] = {0, 0, -1.0f * i};
    }
    g->morphTarget[0].boundingSphere.radius = 7;
    EXPECT_EQ(1, RwGeometryAddMorphTargets(g, 2));
    ASSERT_EQ(3, g->numMorphTargets);
    EXPECT_EQ(7.0f, g->morphTarget[0].boundingSphere.radius);
    EXPECT_EQ(2.0f, g->morphTarget[0].verts[2].x);
    EXPECT_EQ(-2.0f, g->morphTarget[0].normals[2].z);
    for (int t = 1; t < 3; ++t) {
        EXPECT_EQ(g, g->morphTarget[t].parentGeom);
        EXPECT_EQ(0.0f, g->morphTarget[t].boundingSphere.radius);
        EXPECT_EQ(g->morphTarget[t - 1].normals + 3, g->morphTarget[t].verts);
        EXPECT_EQ(g->morphTarget[t].verts + 3, g->morphTarget[t].normals);
    }
    rwTestMemory.failRealloc = true;
    EXPECT_EQ(-1, RwGeometryAddMorphTargets(g, 1));
    EXPECT_EQ(E_RW_NOMEM, TakeErrorCode());
    rwTestMemory.failRealloc = false;
    EXPECT_EQ(3, g->numMorphTargets);
    RwGeometryDestroy(g);
}

RwMaterial *StopAtSecond(RwMaterial *m, void *data)
{
    return ++*static_cast<int *>(data) == 2 ? nullptr : m;
}

TEST_F(Geometry, MaterialsLockingAndMeshes)
{
    RwGeometry *g = RwGeometryCreate(4, 3, rwGEOMETRYTRISTRIP);
    RwMaterial *a = RwMaterialCreate();
    RwMaterial *b = RwMaterialCreate();
    const RwTriangle tris[3] = {{{0, 1, 2}, 0}, {{2, 1, 3}, 0}, {{1, 2, 3}, 0}};
    std::copy(tris, tris + 3, g->triangles);
    RwGeometryTriangleSetMaterial(g, &g->triangles[0], a);
    RwGeometryTriangleSetMaterial(g, &g->triangles[1], a);   // no second reference
    RwGeometryTriangleSetMaterial(g, &g->triangles[2], b);
    EXPECT_EQ(2, a->refCount);
    RwGeometryTriangleSetMaterial(g, &g->triangles[2], nullptr);
    EXPECT_EQ(0xFFFF, g->triangles[2].matIndex);
    int calls = 0;
    RwGeometryForAllMaterials(g, StopAtSecond, &calls);
    EXPECT_EQ(2, calls);

    ASSERT_EQ(g, RwGeometryUnlock(g));
    RwMeshHeader *h = g->mesh;
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(rwMESHHEADERTRISTRIP, h->flags);
    ASSERT_EQ(1u, h->numMeshes);   // the triangle without a material is left out
    EXPECT_EQ(4u, h->totalIndicesInMesh);
    EXPECT_EQ(a, RwMeshHeaderGetMeshes(h)->material);
    RwGeometryUnlock(g);
    EXPECT_EQ(h, g->mesh);
    RwGeometryLock(g, rwGEOMETRYLOCKVERTICES);
    EXPECT_EQ(h, g->mesh);
    RwGeometryLock(g, rwGEOMETRYLOCKPOLYGONS);
    EXPECT_EQ(nullptr, g->mesh);
    EXPECT_EQ(3, g->lockedSinceLastInst);
    // A material that stands in two list entries still makes one mesh.
    g->triangles[2].matIndex = static_cast<RwUInt16>(RwMaterialListAppendMaterial(&g->matList, a));
    RwGeometryUnlock(g);
    EXPECT_EQ(1u, g->mesh->numMeshes);
    EXPECT_EQ(5u, g->mesh->totalIndicesInMesh);   // three triangles in one strip

    RwGeometryAddRef(g);
    EXPECT_TRUE(RwGeometryDestroy(g));
    EXPECT_EQ(1, g->refCount);
    RwGeometryDestroy(g);
    EXPECT_EQ(1, a->refCount);
    RwMaterialDestroy(a);
    RwMaterialDestroy(b);

    RwGeometry *e = RwGeometryCreateEmpty(2.5f);
    EXPECT_EQ(RwMeshHeaderGetEmpty(), e->mesh);
    EXPECT_EQ(2.5f, e->morphTarget[0].boundingSphere.radius);
    RwGeometryDestroy(e);
}

// Four vertices, two triangles, two morph targets with normals, pre-lit
// colours, two texture sets and two materials.
RwGeometry *RichGeometry()
{
    RwGeometry *g = RwGeometryCreate(4, 2, rwGEOMETRYPRELIT | rwGEOMETRYNORMALS | 0x00020000 | rwGEOMETRYLIGHT);
    RwGeometryAddMorphTargets(g, 1);
    for (int v = 0; v < 4; ++v) {
        g->preLitLum[v] = {RwUInt8(v), 2, 3, 4};
        g->texCoords[1][v] = {0.5f * v, -1.0f};
        for (int t = 0; t < 2; ++t) {
            g->morphTarget[t].verts[v] = {1.0f * v, 1.0f * t, 0};
            g->morphTarget[t].normals[v] = {0, 0, 1.0f + t};
        }
    }
    g->morphTarget[1].boundingSphere = {{1, 2, 3}, 4};
    const RwTriangle tris[2] = {{{0, 1, 2}, 0}, {{3, 2, 1}, 0}};
    std::copy(tris, tris + 2, g->triangles);
    RwMaterial *m[2] = {RwMaterialCreate(), RwMaterialCreate()};
    m[1]->color.alpha = 9;
    for (int i = 0; i < 2; ++i) {
        RwGeometryTriangleSetMaterial(g, &g->triangles[i], m[i]);
        RwMaterialDestroy(m[i]);
    }
    RwGeometryUnlock(g);
    return g;
}

TEST_F(Geometry, RoundTripKeepsEveryArrayAndTheMeshes)
{
    RwGeometry *g = RichGeometry();
    Bytes bytes = Written(g);
    ASSERT_EQ(12 + RwGeometryStreamGetSize(g), bytes.size());
    RwGeometry *back = Read(bytes, true);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(g->flags, back->flags);
    EXPECT_EQ(2, back->numTexCoordSets);
    EXPECT_EQ(2, back->numMorphTargets);
    // No count in the format, both texture flags: still two sets.
    Bytes flagged = bytes;
    flagged[24] |= 0x84;
    flagged[26] = 0;
    RwGeometry *two = Read(flagged, true);
    ASSERT_NE(nullptr, two);
    EXPECT_EQ(2, two->numTexCoordSets);
    EXPECT_EQ(0, std::memcmp(g->texCoords[1], two->texCoords[1], 4 * 8));
    RwGeometryDestroy(two);
    EXPECT_EQ(0, std::memcmp(g->preLitLum, back->preLitLum, 4 * 4 + 2 * 4 * 8 + 2 * 8));
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(0, std::memcmp(g->morphTarget[t].verts, back->morphTarget[t].verts, 4 * 24));
        EXPECT_EQ(0, std::memcmp(&g->morphTarget[t].boundingSphere, &back->morphTarget[t].boundingSphere, 16));
    }
    ASSERT_EQ(2, back->matList.numMaterials);
    EXPECT_EQ(9, back->matList.materials[1]->color.alpha);
    ASSERT_EQ(g->mesh->numMeshes, back->mesh->numMeshes);
    for (int i = 0; i < 2; ++i) {
        const RwMesh &a = RwMeshHeaderGetMeshes(g->mesh)[i];
        const RwMesh &b = RwMeshHeaderGetMeshes(back->mesh)[i];
        EXPECT_EQ(std::vector<RwUInt16>(a.indices, a.indices + a.numIndices),
                  std::vector<RwUInt16>(b.indices, b.indices + b.numIndices));
        EXPECT_EQ(a.material->color.alpha, b.material->color.alpha);
    }
    RwGeometryDestroy(back);
    RwGeometryDestroy(g);
    auto found = [](RwStream *s) {
        return RwStreamFindChunk(s, 0x0F, nullptr, nullptr) ? RwGeometryStreamRead(s) : nullptr;
    };
    ExpectCustomReadsAsMemory(bytes, found, RwGeometryDestroy, "geometry");
}

TEST_F(Geometry, HandAssembledStructs)
{
    // One triangle stored as vertex 1, vertex 0, material, vertex 2; one
    // morph target with positions.
    Bytes one = GeometryBody({0x02, 1, 3, 1, 0x00000001, 0x00020000, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}, 1);
    RwGeometry *g = Read(one);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(0, g->triangles[0].vertIndex[0]);
    EXPECT_EQ(1, g->triangles[0].vertIndex[1]);
    EXPECT_EQ(2, g->triangles[0].vertIndex[2]);
    EXPECT_EQ(0, g->triangles[0].matIndex);
    RwGeometryDestroy(g);
    // A native geometry, and one without vertices but with triangles, write
    // the head and one morph-target record without arrays.
    for (auto fv : {std::make_pair(rwGEOMETRYNATIVE | rwGEOMETRYNORMALS, 5), std::make_pair(0x10u, 0)}) {
        RwGeometry *n = RwGeometryCreate(fv.second, 3, fv.first);
        Bytes bytes = Written(n);
        const Bytes head = Build().Header(1, 40).U32(fv.first).U32(3).U32(fv.second).U32(1).U32(0).U32(0).U32(0).U32(0).U32(0).U32(0);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + 12));
        RwGeometryDestroy(n);
    }
}

TEST_F(Geometry, HostileStreamsAreRefused)
{
    auto binMesh = [](RwUInt32 total, RwUInt32 count, RwUInt32 material, RwUInt32 index) {
        return Bytes(Build().Header(rwID_BINMESHPLUGIN, 12 + 8 + 4 * count).U32(0).U32(1).U32(total).U32(count).U32(material).U32(0).U32(1).U32(index));
    };
    std::vector<Bytes> cases = {
        GeometryBody({0x02, 1, 3, 1, 0x00000003, 0x00020000, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}, 1),   // vertex 3 of 3
        GeometryBody({0x02, 1, 3, 1, 0x00000001, 0x00020001, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}, 1),   // material 1 of 1
        GeometryBody({0x02, 0, 0, 1, 0, 0, 0, 0, 0, 1}, 0),                           // normals not in the format
        GeometryBody({0x00090000, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 0),                     // nine sets
        GeometryBody({0x02, 0, 70000, 1, 0, 0, 0, 0, 0, 0}, 0),
        GeometryBody({0x02, 0, 0, 0}, 0),                                             // no morph target
        GeometryBody({0x02, 0x10000000, 3, 1, 0, 0, 0, 0, 0, 0}, 0),
        GeometryBody({0x02, 0, 3, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}, 1, binMesh(4, 3, 0, 2)),   // counts differ
        GeometryBody({0x02, 0, 3, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0}, 1, binMesh(3, 3, 0, 3)),   // vertex 3 of 3
        GeometryBody({0x02, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 1, binMesh(3, 3, 1, 0)),        // material 1 of 1
        GeometryBody({0x02, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 1, binMesh(3, 3, 0, 0x10000)),  // beyond 16 bits
        GeometryBody({0x02, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 1, binMesh(3, 3, 0, 0)),        // no vertex 0
    };
    RwGeometry *rich = RichGeometry();
    Bytes good = Written(rich);
    RwGeometryDestroy(rich);
    for (size_t cut = 12; cut < good.size(); ++cut) {
        cases.push_back(Bytes(good.begin() + 12, good.begin() + cut));
    }
    for (Bytes &c : cases) {
        EXPECT_EQ(nullptr, Read(c)) << c.size();
        EXPECT_NE(kNoError, TakeErrorCode()) << c.size();
        EXPECT_EQ(0, counting::live);
        EXPECT_LE(rwTestMemory.live, blocks);
    }
}

TEST_F(Geometry, NonFiniteVerticesNormalsCoordinatesOrSpheresAreRefused)
{
    RwGeometry *g = RichGeometry();
    g->morphTarget[1].verts[3].y = 7.25f;
    g->morphTarget[0].normals[2].x = 0.375f;
    g->texCoords[0][1].v = 0.125f;
    g->morphTarget[0].boundingSphere.radius = 9.5f;
    Bytes bytes = Written(g);
    RwGeometryDestroy(g);
    auto read = [](RwStream *s) { return RwStreamFindChunk(s, 0x0F, nullptr, nullptr) ? RwGeometryStreamRead(s) : nullptr; };
    ExpectNonFiniteRefused(bytes, {FindReal(bytes, 7.25f), FindReal(bytes, 0.375f), FindReal(bytes, 0.125f),
                                   FindReal(bytes, 9.5f)},
                           read);
    EXPECT_EQ(0, counting::live);
}

TEST_F(Geometry, NativeBinMeshesCarryNoIndices)
{
    RwGeometry *n = RwGeometryCreate(0, 0, rwGEOMETRYNATIVE);
    RwMaterial *m = RwMaterialCreate();
    RwMaterialListAppendMaterial(&n->matList, m);
    RwMeshBuilder *b = RwMeshBuilderCreate(1);
    RwMeshBuilderAddTriangle(b, m, 0, 1, 2, 0, 0, 0, 0);
    RwMeshHeader *h = RwMeshHeaderBuild(b, 0);
    EXPECT_EQ(12 + 8, RwBinMeshStreamGetSize(h, n));
    Bytes bytes = WrittenWith([&](RwStream *w) { return RwBinMeshStreamWrite(h, n, w, &n->matList); });
    EXPECT_EQ(Bytes(Build().U32(0).U32(1).U32(3).U32(3).U32(0)), bytes);
    RwMeshHeader *back = ReadWith(bytes, [&](RwStream *r) { return RwBinMeshStreamRead(r, n, &n->matList); });
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(3u, RwMeshHeaderGetMeshes(back)->numIndices);
    EXPECT_EQ(m, RwMeshHeaderGetMeshes(back)->material);
    RwMeshHeaderDestroy(back);
    RwMeshHeaderDestroy(h);
    RwMaterialDestroy(m);
    RwGeometryDestroy(n);
}

}  // namespace
