// Skinned atomics on the real device: a bent tube by the shader, processor and dynamic paths, alone and in a clump.
#include <cmath>
#include <vector>

#include <d3dx9math.h>

#include "gfx/d3d9/d3d9testlights.h"
#include "gfx/d3d9/d3d9allinone.h"
#include "gfx/d3d9/d3d9decltype.h"
#include "gfx/d3d9/d3d9lights.h"
#include "gfx/d3d9/d3d9skinblend.h"
#include "gfx/d3d9/d3d9skinpipe.h"
#include "gfx/plugins/hanim/dff_bytes.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/hanim/quat_reference.h"
#include "gfx/plugins/skin/skinint.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldids.h"
#include "support/stream_bytes.h"

namespace {

const int kRings = 180, kSegments = 8;
const RwReal kLength = 4.0f, kRadius = 0.3f, kBend = -0.5f;   // radians over the whole tube

// A tube along y bound to a chain of bones, each bone turning by the same
// angle; played from an animation read back from its stream form.
struct Tube {
    RwGeometry *geometry = nullptr;
    RwHAnimHierarchy *hierarchy = nullptr;
    RwAnimAnimation *anim = nullptr;
    RwMaterial *material = nullptr;
    Bytes bytes;    // the geometry chunk as written
    int bones;

    Tube(int numBones, int weights, RwUInt32 flags = rwGEOMETRYPRELIT) : bones(numBones)
    {
        const int numVertices = (kRings + 1) * kSegments;
        geometry = RwGeometryCreate(numVertices, kRings * kSegments * 2, rwGEOMETRYPOSITIONS | rwGEOMETRYNORMALS | flags);
        material = RwMaterialCreate();
        const RwReal seg = kLength / RwReal(numBones);
        RwSkin *skin = RwSkinCreateRecord(numBones, numBones, numVertices);
        skin->maxWeights = weights;
        skin->numUsedBones = numBones;
        for (int b = 0; b < numBones; ++b) {
            skin->usedBones[b] = static_cast<RwUInt8>(b);
            RwMatrixSetIdentity(&skin->skinToBoneMatrices[b]);
            skin->skinToBoneMatrices[b].pos.y = -seg * b;
            RwMatrixMarkChanged(&skin->skinToBoneMatrices[b]);
        }
        for (int r = 0; r <= kRings; ++r) {
            const RwReal y = kLength * r / kRings;
            for (int s = 0; s < kSegments; ++s) {
                const int v = r * kSegments + s;
                const RwReal a = 6.2831853f * s / kSegments;
                geometry->morphTarget[0].verts[v] = {kRadius * std::cos(a), y, kRadius * std::sin(a)};
                geometry->morphTarget[0].normals[v] = {std::cos(a), 0, std::sin(a)};
                if (geometry->preLitLum) {
                    geometry->preLitLum[v] = {255, 255, 255, 255};
                }
                if (geometry->texCoords[0]) {
                    geometry->texCoords[0][v] = {RwReal(s) / kSegments, y / kLength};
                }
                Bind(skin, v, y / seg, weights);
            }
        }
        for (int r = 0; r < kRings; ++r) {
            for (int s = 0; s < kSegments; ++s) {
                const int a = r * kSegments + s, b = r * kSegments + (s + 1) % kSegments;
                RwTriangle *t = &geometry->triangles[2 * (r * kSegments + s)];
                t[0] = {{RwUInt16(a), RwUInt16(b), RwUInt16(a + kSegments)}, 0};
                t[1] = {{RwUInt16(b), RwUInt16(b + kSegments), RwUInt16(a + kSegments)}, 0};
                RwGeometryTriangleSetMaterial(geometry, &t[0], material);
                RwGeometryTriangleSetMaterial(geometry, &t[1], material);
            }
        }
        RwGeometryUnlock(geometry);
        RwSkinGeometrySetSkin(geometry, skin);
        // Drawn as read back from its stream form, skin chunk included.
        bytes = WrittenWith([&](RwStream *w) { return RwGeometryStreamWrite(geometry, w); });
        RwGeometryDestroy(geometry);
        geometry = ReadChunkWith(bytes, rwID_GEOMETRY, RwGeometryStreamRead);
        EXPECT_NE(nullptr, geometry ? RwSkinGeometryGetSkin(geometry) : nullptr);
        hierarchy = RwHAnimHierarchyCreate(numBones, nullptr, nullptr, 0, 36);
        Animate(seg);
    }
    ~Tube()
    {
        RwHAnimHierarchyDestroy(hierarchy);
        RwAnimAnimationDestroy(anim);
        RwGeometryDestroy(geometry);
        RwMaterialDestroy(material);
    }

    // Weights over the bones near u (in bone lengths), largest first.
    static void Bind(RwSkin *skin, int v, RwReal u, int weights)
    {
        const int last = static_cast<int>(skin->numBones) - 1;
        auto clamp = [last](int b) { return b < 0 ? 0 : (b > last ? last : b); };
        RwReal *w = skin->vertexBoneWeights + 4 * v;
        RwUInt8 idx[4] = {};
        if (weights == 1) {
            idx[0] = static_cast<RwUInt8>(clamp(static_cast<int>(u)));
            w[0] = 1;
        } else {
            const int k = static_cast<int>(std::floor(u - 0.5f));
            const RwReal f = u - 0.5f - k;
            const int n = weights == 2 ? 2 : 4;
            RwReal sum = 0;
            for (int j = 0; j < n; ++j) {
                const int b = n == 2 ? k + j : k - 1 + j;
                const RwReal d = (n == 2 ? RwReal(j) : RwReal(j - 1)) - f;
                w[j] = n == 2 ? (j == 0 ? 1 - f : f) : std::exp(-d * d);
                idx[j] = static_cast<RwUInt8>(clamp(b));
                sum += w[j];
            }
            for (int j = 0; j < n; ++j) {
                w[j] /= sum;
            }
        }
        skin->vertexBoneIndices[v] = idx[0] | idx[1] << 8 | idx[2] << 16 | RwUInt32(idx[3]) << 24;
    }

    void Animate(RwReal seg)
    {
        RwAnimAnimation *a = RwAnimAnimationCreate(1, 2 * bones, 0, 1.0f);
        RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
        const RwReal half = 0.5f * kBend / bones;
        for (int i = 0; i < 2 * bones; ++i) {
            const int node = i % bones;
            k[i] = {i < bones ? nullptr : &k[i - bones], i < bones ? 0.0f : 1.0f,
                    {0, 0, std::sin(half), std::cos(half)}, {0, node ? seg : 0.0f, 0}};
        }
        anim = AnimThroughStream(a);
        ASSERT_NE(nullptr, anim);
        RwAnimInterpolatorSetCurrentAnim(hierarchy->currentAnim, anim);
        RwAnimInterpolatorSetTime(hierarchy->currentAnim, 0.5f);
        RwHAnimHierarchyUpdateMatrices(hierarchy);
    }
};

class SkinDevice : public LightDevice {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
        ASSERT_TRUE(RwWorldPluginAttach());
        ASSERT_TRUE(RwD3D9LightPluginAttach());
        ASSERT_TRUE(RwAnimPluginAttach());
        ASSERT_TRUE(RwHAnimPluginAttach());
        ASSERT_TRUE(RwSkinPluginAttach());
        CameraDevice::SetUpTestSuite();
        const RwV3d eye = {0.5f, 2.0f, -7.0f};
        RwFrameTranslate(cameraFrame, &eye, rwCOMBINEREPLACE);
        saved = *RwD3D9SkinGetCaps();
    }
    void SetUp() override
    {
        LightDevice::SetUp();
        *RwD3D9SkinGetCaps() = saved;
    }
    void TearDown() override
    {
        *RwD3D9SkinGetCaps() = saved;
        LightDevice::TearDown();
    }

    RwAtomic *Atomic(Tube &tube, RwV3d at, bool withHierarchy = true)
    {
        RwAtomic *a = RwAtomicCreate();
        RwFrame *f = RwFrameCreate();
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwAtomicSetFrame(a, f);
        RwAtomicSetGeometry(a, tube.geometry, 0);
        RwSkinAtomicSetType(a, rwSKINTYPEGENERIC);
        if (withHierarchy) {
            RwSkinAtomicSetHAnimHierarchy(a, tube.hierarchy);
        }
        return a;
    }
    static void Destroy(RwAtomic *a)
    {
        RwFrame *f = RwAtomicGetFrame(a);
        RwAtomicSetFrame(a, nullptr);
        RwFrameDestroy(f);
        RwAtomicDestroy(a);
    }

    std::vector<DWORD> Draw(std::initializer_list<RwAtomic *> atomics)
    {
        EXPECT_TRUE(Begin());
        for (RwAtomic *a : atomics) {
            EXPECT_NE(nullptr, RwAtomicDefaultRenderCallBack(a));
        }
        End();
        std::vector<DWORD> frame = ReadPixels(real, rwD3D9Driver.defaultColorSurface);
        frame.resize(1024 * 768, 0xDEADBEEF);
        return frame;
    }

    // Where the tube's tip lands, skinned here.
    static RwV3d TipWorld(Tube &tube, RwAtomic *atomic)
    {
        const RwSkin *skin = RwSkinGeometryGetSkin(tube.geometry);
        const int n = kSegments, first = kRings * kSegments;
        std::vector<RwReal> out(n * 8);
        alignas(16) static RwMatrix palette[256];
        for (int b = 0; b < tube.bones; ++b) {
            RwMatrixMultiply(&palette[b], &skin->skinToBoneMatrices[b], &tube.hierarchy->pMatrixArray[b]);
        }
        RwD3D9SkinBlendJob job = {palette, tube.geometry->morphTarget[0].verts + first, nullptr,
                                  skin->vertexBoneIndices + first, skin->vertexBoneWeights + 4 * first, RwUInt32(n),
                                  out.data(), 32, 12};
        RwD3D9SkinBlend(&job, skin->maxWeights, -1, FALSE);
        RwV3d tip = {0, 0, 0};
        for (int i = 0; i < n; ++i) {
            tip = {tip.x + out[8 * i] / n, tip.y + out[8 * i + 1] / n, tip.z + out[8 * i + 2] / n};
        }
        const RwV3d &at = RwFrameGetWorldMatrix(RwAtomicGetFrame(atomic))->pos;
        return {tip.x + at.x, tip.y + at.y, tip.z + at.z};
    }
    // The screen position of a world point, after a draw has set the camera.
    static POINT Project(RwV3d p)
    {
        D3DXMATRIX view, proj, world;
        RwD3D9GetTransform(D3DTS_VIEW, &view);
        RwD3D9GetTransform(D3DTS_PROJECTION, &proj);
        D3DXMatrixIdentity(&world);
        const D3DVIEWPORT9 viewport = {0, 0, 1024, 768, 0, 1};
        const D3DXVECTOR3 in(p.x, p.y, p.z);
        D3DXVECTOR3 out;
        D3DXVec3Project(&out, &in, &viewport, &proj, &view, &world);
        return {static_cast<LONG>(out.x), static_cast<LONG>(out.y)};
    }
    static POINT Tip(Tube &tube, RwAtomic *atomic) { return Project(TipWorld(tube, atomic)); }

    // Draws by the path the atomic takes, then by the processor; both frames
    // must show the tube alike with its tip at the world point given.
    std::vector<DWORD> ExpectPathsAgree(RwAtomic *a, RwD3D9SkinLayout layout, RwV3d tipWorld)
    {
        const std::vector<DWORD> first = Draw({a});
        EXPECT_EQ(layout, RwD3D9SkinAtomicGetLayout(a));
        const RwBool shaders = RwD3D9SkinGetCaps()->vertexShaderSkinning;
        RwD3D9SkinGetCaps()->vertexShaderSkinning = FALSE;
        const std::vector<DWORD> processor = Draw({a});
        EXPECT_EQ(rwD3D9SKINLAYOUTPROCESSOR, RwD3D9SkinAtomicGetLayout(a));
        RwD3D9SkinGetCaps()->vertexShaderSkinning = shaders;
        const int lit = Lit(first);
        EXPECT_GT(lit, 2000);
        EXPECT_LT(Differ(first, processor), lit / 50 + 20);
        const POINT tip = Project(tipWorld);
        EXPECT_TRUE(LitNear(first, tip)) << tip.x << "," << tip.y;
        EXPECT_TRUE(LitNear(processor, tip)) << tip.x << "," << tip.y;
        return first;
    }

    static int Lit(const std::vector<DWORD> &f)
    {
        int n = 0;
        for (DWORD p : f) {
            n += p > 0x404040;
        }
        return n;
    }
    static int Differ(const std::vector<DWORD> &a, const std::vector<DWORD> &b)
    {
        int n = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            n += !NearColour(a[i], b[i], 48);
        }
        return n;
    }
    static bool LitNear(const std::vector<DWORD> &f, POINT p)
    {
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const int x = p.x + dx, y = p.y + dy;
                if (x >= 0 && y >= 0 && x < 1024 && y < 768 && f[y * 1024 + x] > 0x404040)
                    return true;
            }
        return false;
    }

    static inline RwD3D9SkinCaps saved;
};

TEST_F(SkinDevice, ShaderAndProcessorPathsDrawTheSameBentTube)
{
    ASSERT_TRUE(RwD3D9SkinGetCaps()->vertexShaderSkinning) << "the device offers vertex shaders";
    for (int weights : {1, 2, 4}) {
        SCOPED_TRACE(weights);
        Tube tube(8, weights);
        RwAtomic *a = Atomic(tube, {0, 0, 0});
        ExpectPathsAgree(a, rwD3D9SKINLAYOUTSHADER, TipWorld(tube, a));
        Destroy(a);
    }
}

TEST_F(SkinDevice, ClumpReadFromItsStreamDrawsItsPlayedHierarchyByBothPaths)
{
    const int bones = 8;
    const RwReal seg = kLength / bones;
    Tube tube(bones, 2);
    // The clump's root, turned and moved, then the chain of bone frames
    // (ids 100 + b), the first owning the hierarchy.
    const RefMatrix rootWorld = RefRotation({0, 1, 0}, 30, {0.4, 0, 0.5});
    RwFrame *root = RwFrameCreate();
    const RwMatrix m = MakeMatrix(rootWorld, 0);
    RwFrameTransform(root, &m, rwCOMBINEREPLACE);
    std::vector<RwFrame *> frames = {root};
    std::vector<RwInt32> ids;
    for (int b = 0; b < bones; ++b) {
        RwFrame *f = RwFrameCreate();
        const RwV3d at = {0, b ? seg : 0.0f, 0};
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwHAnimFrameSetID(f, 100 + b);
        RwFrameAddChild(frames.back(), f);
        frames.push_back(f);
        ids.push_back(100 + b);
    }
    RwHAnimFrameSetHierarchy(frames[1], RwHAnimHierarchyCreate(bones, nullptr, ids.data(), 0, 36));
    const Bytes rights = Build().Header(0x1F, 8).U32(rwID_SKINPLUGIN).U32(rwSKINTYPEGENERIC);
    Bytes bytes = DffClump(DffFrameList(frames), {tube.bytes}, {0}, rights);
    RwFrameDestroyHierarchy(root);

    RwClump *clump = ReadDff(bytes);
    ASSERT_NE(nullptr, clump);
    RwAtomic *a = nullptr;
    RwClumpForAllAtomics(clump, [](RwAtomic *atomic, void *data) {
        *static_cast<RwAtomic **>(data) = atomic;
        return atomic;
    }, &a);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(rwSKINTYPEGENERIC, RwSkinAtomicGetType(a));
    RwHAnimHierarchy *h = DffFindHierarchy(RwClumpGetFrame(clump));
    ASSERT_NE(nullptr, h);
    RwHAnimHierarchyAttach(h);
    RwSkinAtomicSetHAnimHierarchy(a, h);
    ASSERT_TRUE(RwAnimInterpolatorSetCurrentAnim(h->currentAnim, tube.anim));
    RwAnimInterpolatorSetTime(h->currentAnim, 0.5f);
    RwHAnimHierarchyUpdateMatrices(h);

    // The tip ring hangs on the last bone, one bone length past its node;
    // every bone turns about z by its share of the bend.
    const double half = 0.5 * kBend / bones;
    RefMatrix node = rootWorld;
    for (int b = 0; b < bones; ++b) {
        node = RefMultiply(RefFromQuat({0, 0, std::sin(half), std::cos(half)}, {0, b ? seg : 0.0, 0}), node);
    }
    const std::vector<DWORD> drawn =
        ExpectPathsAgree(a, rwD3D9SKINLAYOUTSHADER, MakeV3(RefTransformPoint({0, seg, 0}, node)));
    const POINT unbent = Project(MakeV3(RefTransformPoint({0, kLength, 0}, rootWorld)));
    EXPECT_FALSE(LitNear(drawn, unbent)) << "drawn in the bind pose";
    RwClumpDestroy(clump);
}

// A geometry that asks for tangents gets them in the shader layout: unit
// vectors along the texture's u direction, around the tube.
TEST_F(SkinDevice, ShaderLayoutCarriesTheTangentsTheGeometryAsksFor)
{
    Tube tube(8, 2, rwGEOMETRYPRELIT | rwGEOMETRYTEXTURED);
    RwD3D9GeometrySetInstanceFlags(tube.geometry,
                                   RwD3D9GeometryGetInstanceFlags(tube.geometry) | rwD3D9INSTANCETANGENTS);
    RwAtomic *a = Atomic(tube, {0, 0, 0});
    Draw({a});
    ASSERT_EQ(rwD3D9SKINLAYOUTSHADER, RwD3D9SkinAtomicGetLayout(a));
    const RwD3D9InstanceHeader *header =
        static_cast<const RwD3D9InstanceHeader *>(RwResourceEntryData(tube.geometry->repEntry));
    D3DVERTEXELEMENT9 e[MAXD3DDECLLENGTH];
    UINT n = 0;
    static_cast<IDirect3DVertexDeclaration9 *>(header->vertexDeclaration)->GetDeclaration(e, &n);
    const D3DVERTEXELEMENT9 *tangent = nullptr, *normal = nullptr;
    for (UINT i = 0; i < n; ++i) {
        tangent = e[i].Usage == D3DDECLUSAGE_TANGENT ? &e[i] : tangent;
        normal = e[i].Usage == D3DDECLUSAGE_NORMAL ? &e[i] : normal;
    }
    ASSERT_NE(nullptr, tangent);
    ASSERT_NE(nullptr, normal);
    const RwD3D9VertexStream &s = header->vertexStream[0];
    void *data = nullptr;
    ASSERT_TRUE(SUCCEEDED(static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)
                              ->Lock(s.offset, s.stride * header->totalNumVertex, &data, D3DLOCK_READONLY)));
    // Away from the seam, where u wraps from 1 back to 0, and from the end rings.
    for (int r : {45, 90, 135}) {
        for (int k = 2; k <= 5; ++k) {
            const RwUInt8 *v = static_cast<const RwUInt8 *>(data) + (r * kSegments + k) * s.stride;
            RwV3d t, nrm;
            RwD3D9DeclTypeReadV3d(tangent->Type, v + tangent->Offset, &t);
            RwD3D9DeclTypeReadV3d(normal->Type, v + normal->Offset, &nrm);
            const RwReal angle = 6.2831853f * k / kSegments;
            EXPECT_NEAR(1.0f, t.x * t.x + t.y * t.y + t.z * t.z, 0.02f) << r << "," << k;
            EXPECT_NEAR(0.0f, t.x * nrm.x + t.y * nrm.y + t.z * nrm.z, 0.02f) << r << "," << k;
            EXPECT_GT(-t.x * std::sin(angle) + t.z * std::cos(angle), 0.95f) << r << "," << k;
        }
    }
    static_cast<IDirect3DVertexBuffer9 *>(s.vertexBuffer)->Unlock();
    ExpectPathsAgree(a, rwD3D9SKINLAYOUTSHADER, TipWorld(tube, a));
    Destroy(a);
}

TEST_F(SkinDevice, OverEightyOneBonesGoToDynamicBuffersAndSurviveAReset)
{
    Tube tube(90, 2);
    RwAtomic *a = Atomic(tube, {0, 0, 0});
    const std::vector<DWORD> dynamic = ExpectPathsAgree(a, rwD3D9SKINLAYOUTDYNAMIC, TipWorld(tube, a));
    ASSERT_TRUE(ForceReset());
    const std::vector<DWORD> after = Draw({a});
    EXPECT_EQ(rwD3D9SKINLAYOUTDYNAMIC, RwD3D9SkinAtomicGetLayout(a));
    EXPECT_LT(Differ(dynamic, after), Lit(dynamic) / 50 + 20);
    Destroy(a);
}

TEST_F(SkinDevice, AtomicWithoutHierarchySharingTheGeometryDrawsTheBindPose)
{
    Tube tube(8, 2);
    RwAtomic *bent = Atomic(tube, {0, 0, 0});
    RwAtomic *straight = Atomic(tube, {-1.5f, 0, 0}, false);
    const std::vector<DWORD> both = Draw({bent, straight, bent});
    EXPECT_TRUE(LitNear(both, Tip(tube, bent)));
    // The straight tube's tip: the bind pose is the identity pose of the chain.
    RwHAnimHierarchy *h = tube.hierarchy;
    for (int b = 0; b < tube.bones; ++b) {
        RwMatrixSetIdentity(&h->pMatrixArray[b]);
        h->pMatrixArray[b].pos.y = kLength / tube.bones * b;
        RwMatrixMarkChanged(&h->pMatrixArray[b]);
    }
    const POINT straightTip = Tip(tube, straight);
    EXPECT_TRUE(LitNear(both, straightTip)) << straightTip.x << "," << straightTip.y;
    Destroy(straight);
    Destroy(bent);
}

// A hierarchy of two nodes on a skin of eight bones, drawn just after a
// full, bent tube: the bones past its nodes keep their bind pose on both
// paths, not the matrices the bent tube left in the palette.
TEST_F(SkinDevice, BonesPastAShortHierarchyKeepTheirBindPoseOnBothPaths)
{
    ASSERT_TRUE(RwD3D9SkinGetCaps()->vertexShaderSkinning) << "the device offers vertex shaders";
    Tube tube(8, 2);
    RwAtomic *bent = Atomic(tube, {1.5f, 0, 0});
    RwAtomic *shortened = Atomic(tube, {-1.5f, 0, 0}, false);
    RwHAnimHierarchy *two = RwHAnimHierarchyCreate(2, nullptr, nullptr, 0, 36);
    for (int b = 0; b < 2; ++b) {
        RwMatrixSetIdentity(&two->pMatrixArray[b]);
        two->pMatrixArray[b].pos.y = kLength / tube.bones * b;
        RwMatrixMarkChanged(&two->pMatrixArray[b]);
    }
    RwSkinAtomicSetHAnimHierarchy(shortened, two);
    const std::vector<DWORD> shader = Draw({bent, shortened});
    EXPECT_EQ(rwD3D9SKINLAYOUTSHADER, RwD3D9SkinAtomicGetLayout(shortened));
    RwD3D9SkinGetCaps()->vertexShaderSkinning = FALSE;
    const std::vector<DWORD> processor = Draw({bent, shortened});
    EXPECT_EQ(rwD3D9SKINLAYOUTPROCESSOR, RwD3D9SkinAtomicGetLayout(shortened));
    const int lit = Lit(shader);
    EXPECT_GT(lit, 4000);
    EXPECT_LT(Differ(shader, processor), lit / 50 + 20);
    // The bind pose is the straight tube: its tip stands above its foot.
    const POINT tip = Project({-1.5f, kLength, 0});
    EXPECT_TRUE(LitNear(shader, tip)) << tip.x << "," << tip.y;
    EXPECT_TRUE(LitNear(processor, tip)) << tip.x << "," << tip.y;
    Destroy(shortened);
    RwHAnimHierarchyDestroy(two);
    Destroy(bent);
}

// The camera belongs to no world, so the render frame never moves: the pose still counts at each update.
TEST_F(SkinDevice, PoseChangedBetweenUpdatesOfACameraOutsideAnyWorldIsDrawn)
{
    Tube tube(8, 2);
    RwAtomic *a = Atomic(tube, {0, 0, 0});
    const std::vector<DWORD> bent = Draw({a});
    RwHAnimHierarchy *h = tube.hierarchy;
    for (int b = 0; b < tube.bones; ++b) {
        RwMatrixSetIdentity(&h->pMatrixArray[b]);
        h->pMatrixArray[b].pos.y = kLength / tube.bones * b;
        RwMatrixMarkChanged(&h->pMatrixArray[b]);
    }
    const std::vector<DWORD> straight = Draw({a});
    const POINT tip = Tip(tube, a);
    EXPECT_TRUE(LitNear(straight, tip)) << tip.x << "," << tip.y;
    EXPECT_GT(Differ(bent, straight), 100);
    Destroy(a);
}

TEST_F(SkinDevice, BoneSlotsFollowTheSplitRemapAndTheUsedList)
{
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        Tube tube(8, 2);
        RwSkin *skin = RwSkinGeometryGetSkin(tube.geometry);
        if (variant == 0) {
            // Split data: one mesh, one run over all bones, slots reversed.
            skin->boneRemap = static_cast<RwUInt8 *>(RwMalloc(8 + 4, rwSKINHINT));
            skin->meshRuns = skin->boneRemap + 8;
            skin->runs = skin->meshRuns + 2;
            for (int b = 0; b < 8; ++b) {
                skin->boneRemap[b] = static_cast<RwUInt8>(7 - b);
            }
            skin->meshRuns[0] = 0;
            skin->meshRuns[1] = 1;
            skin->runs[0] = 0;
            skin->runs[1] = 8;
            skin->boneLimit = 8;
            skin->numMeshes = 1;
            skin->numRuns = 1;
        } else {
            // Bone 0 unused and more nodes than the shader takes: slots are
            // positions in the used list, one below the bone numbers.
            for (int v = 0; v < tube.geometry->numVertices; ++v) {
                for (int j = 0; j < 4; ++j) {
                    if (((skin->vertexBoneIndices[v] >> (8 * j)) & 0xFF) == 0) {
                        skin->vertexBoneIndices[v] |= 1u << (8 * j);
                    }
                }
            }
            skin->numUsedBones = 7;
            for (int k = 0; k < 7; ++k) {
                skin->usedBones[k] = static_cast<RwUInt8>(k + 1);
            }
            RwD3D9SkinGetCaps()->maxBones = 7;
        }
        RwAtomic *a = Atomic(tube, {0, 0, 0});
        ExpectPathsAgree(a, rwD3D9SKINLAYOUTSHADER, TipWorld(tube, a));
        Destroy(a);
    }
}

// Records the end of the highest constant register range uploaded.
struct RegisterWatch : RecordingDevice {
    using RecordingDevice::RecordingDevice;
    UINT end = 0;
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT reg, const float *data, UINT count) override
    {
        end = reg + count > end ? reg + count : end;
        return RecordingDevice::SetVertexShaderConstantF(reg, data, count);
    }
};

// A world around the camera holding the given lights while it lives.
struct LitWorld {
    RwWorld *world;
    RwCamera *camera;
    std::vector<RwLight *> lights;

    LitWorld(RwCamera *cam, std::vector<RwLight *> in) : camera(cam), lights(std::move(in))
    {
        const RwBBox box = {{100, 100, 100}, {-100, -100, -100}};
        world = RwWorldCreate(&box);
        RwWorldAddCamera(world, camera);
        for (RwLight *l : lights) {
            RwWorldAddLight(world, l);
        }
    }
    ~LitWorld()
    {
        for (RwLight *l : lights) {
            RwWorldRemoveLight(world, l);
        }
        RwWorldRemoveCamera(world, camera);
        RwWorldDestroy(world);
    }
};

TEST_F(SkinDevice, LightsAreDroppedUntilTheBonesFit)
{
    std::vector<RwLight *> all = {Light(rwLIGHTAMBIENT, {0, 0, 0}, 0, {0.6f, 0.6f, 0.6f, 1})};
    for (int i = 0; i < 15; ++i) {
        all.push_back(Light(rwLIGHTDIRECTIONAL, {0, 0, 0}, 0, {0.02f, 0.02f, 0.02f, 1}));
    }
    LitWorld lit(camera, all);
    // 75 bones take 225 registers: 15 directional lights with theirs would not fit in 256.
    Tube tube(75, 2, rwGEOMETRYLIGHT);
    RwAtomic *a = Atomic(tube, {0, 0, 0});
    RegisterWatch watch(real);
    rwD3D9Driver.device = &watch;
    const std::vector<DWORD> frame = Draw({a});
    rwD3D9Driver.device = device;
    EXPECT_EQ(rwD3D9SKINLAYOUTSHADER, RwD3D9SkinAtomicGetLayout(a));
    EXPECT_LE(watch.end, 256u) << "constants uploaded past the last register";
    EXPECT_GE(watch.end, 225u);
    EXPECT_GT(Lit(frame), 2000);
    EXPECT_TRUE(LitNear(frame, Tip(tube, a)));
    Destroy(a);
}

TEST_F(SkinDevice, NormalsRenormalisedForScaledAtomicsWithoutHardwareTransform)
{
    LitWorld lit(camera, {Light(rwLIGHTAMBIENT, {0, 0, 0}, 0)});
    Tube tube(8, 1, rwGEOMETRYLIGHT);
    struct Case {
        RwBool hardware;
        RwReal scale;
        RwUInt32 expected;
    };
    for (const Case &c : {Case{FALSE, 2.0f, 1u}, Case{FALSE, 1.0f, 0u}, Case{TRUE, 1.0f, 1u}}) {
        RwD3D9SkinGetCaps()->hardwareTransform = c.hardware;
        RwD3D9SkinGetCaps()->vertexShaderSkinning = FALSE;
        RwAtomic *a = Atomic(tube, {0, 0, 0});
        const RwV3d scale = {c.scale, c.scale, c.scale};
        RwFrameScale(RwAtomicGetFrame(a), &scale, rwCOMBINEPRECONCAT);
        Draw({a});
        EXPECT_EQ(rwD3D9SKINLAYOUTPROCESSOR, RwD3D9SkinAtomicGetLayout(a));
        RwUInt32 value = 99;
        RwD3D9GetRenderState(D3DRS_NORMALIZENORMALS, &value);
        EXPECT_EQ(c.expected, value) << c.hardware << " " << c.scale;
        Destroy(a);
    }
}

} // namespace
