// Tests of processor skinning and of the skin vertex layouts chosen from declaration caps.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gfx/d3d9/d3d9decltype.h"
#include "gfx/d3d9/d3d9skinblend.h"
#include "gfx/d3d9/d3d9skinpipe.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/world/geometry.h"

namespace {

struct alignas(16) Palette {
    RwMatrix m[4];
};

// Bone b: scale 1 + b, then a move of (b, 2b, 3b).
Palette MakePalette()
{
    Palette p = {};
    for (int b = 0; b < 4; ++b) {
        const RwReal s = 1.0f + b;
        p.m[b].right = {s, 0, 0};
        p.m[b].up = {0, 0, s};          // y goes to z: a rotation with the scale
        p.m[b].at = {0, -s, 0};
        p.m[b].pos = {RwReal(b), 2.0f * b, 3.0f * b};
    }
    return p;
}

RwV3d Apply(const RwMatrix &m, const RwV3d &p, RwReal w)
{
    return {p.x * m.right.x + p.y * m.up.x + p.z * m.at.x + w * m.pos.x,
            p.x * m.right.y + p.y * m.up.y + p.z * m.at.y + w * m.pos.y,
            p.x * m.right.z + p.y * m.up.z + p.z * m.at.z + w * m.pos.z};
}

TEST(SkinBlend, PlainAndSimdMatchTheWeightedSumOfBoneTransforms)
{
    const Palette palette = MakePalette();
    const std::vector<RwV3d> positions = {{1, 2, 3}, {-1, 0.5f, 2}, {0, 0, 0}, {4, -2, 1}};
    const std::vector<RwV3d> normals = {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {0.6f, 0.8f, 0}};
    // Bones in bytes; weights sorted as a stored skin keeps them.
    const std::vector<RwUInt32> indices = {0x03020100, 0x00000102, 0x00000003, 0x01000302};
    const std::vector<RwReal> weights = {0.4f, 0.3f, 0.2f, 0.1f, 0.7f, 0.3f, 0, 0, 1.0f, 0, 0, 0,
                                         0.5f, 0.25f, 0.25f, 0};
    struct Out {
        RwV3d p, n;
        RwUInt32 pad;
    };
    for (RwUInt32 w : {1u, 2u, 4u}) {
        for (RwInt32 single : {-1, 2}) {
            if (single >= 0 && w != 1) {
                continue;
            }
            std::vector<Out> plain(4), simd(4);
            RwD3D9SkinBlendJob job = {palette.m, positions.data(), normals.data(), indices.data(), weights.data(), 4,
                                      plain.data(), sizeof(Out), 12};
            RwD3D9SkinBlend(&job, w, single, FALSE);
            job.dest = simd.data();
            RwD3D9SkinBlend(&job, w, single, TRUE);
            for (int v = 0; v < 4; ++v) {
                RwV3d ep = {0, 0, 0}, en = {0, 0, 0};
                const RwReal *wt = &weights[4 * v];
                const int used = w == 1 || wt[0] >= 1.0f ? 1 : (w == 2 ? 2 : 4);
                for (int j = 0; j < used; ++j) {
                    const RwUInt32 bone = single >= 0 ? RwUInt32(single) : (indices[v] >> (8 * j)) & 0xFF;
                    const RwReal f = used == 1 ? 1.0f : wt[j];
                    const RwV3d a = Apply(palette.m[bone], positions[v], 1), b = Apply(palette.m[bone], normals[v], 0);
                    ep = {ep.x + f * a.x, ep.y + f * a.y, ep.z + f * a.z};
                    en = {en.x + f * b.x, en.y + f * b.y, en.z + f * b.z};
                }
                for (const Out *o : {&plain[v], &simd[v]}) {
                    EXPECT_NEAR(ep.x, o->p.x, 1e-4f) << w << " " << v;
                    EXPECT_NEAR(ep.y, o->p.y, 1e-4f) << w << " " << v;
                    EXPECT_NEAR(ep.z, o->p.z, 1e-4f) << w << " " << v;
                    EXPECT_NEAR(en.x, o->n.x, 1e-4f) << w << " " << v;
                    EXPECT_NEAR(en.z, o->n.z, 1e-4f) << w << " " << v;
                }
                EXPECT_EQ(0u, plain[v].pad) << "wrote past the normal";
            }
        }
    }
}

TEST(SkinBlend, WeightsSortDescendingWithTheirBones)
{
    RwReal w[4] = {0.2f, 0.5f, 0.3f, 0};
    RwUInt32 idx = 0x04030201;
    RwSkinSortVertexWeights(w, &idx);
    EXPECT_EQ(0.5f, w[0]);
    EXPECT_EQ(0.3f, w[1]);
    EXPECT_EQ(0.2f, w[2]);
    EXPECT_EQ(0.0f, w[3]);
    EXPECT_EQ(0x04010302u, idx);
    RwReal one[4] = {1.0f, 0, 0.5f, 0};     // a first weight of one is left as read
    RwUInt32 kept = 0x00000102;
    RwSkinSortVertexWeights(one, &kept);
    EXPECT_EQ(0.5f, one[2]);
    EXPECT_EQ(0x00000102u, kept);
}

TEST(SkinLayout, DeclarationsFollowTheDeclarationCaps)
{
    struct Case {
        RwUInt32 declTypes, weights, weightType, indexType, normalType;
    };
    const Case cases[] = {
        // This platform: UBYTE4, UBYTE4N, SHORT2N, SHORT4N and half floats.
        {0x30F, 2, D3DDECLTYPE_SHORT2N, D3DDECLTYPE_SHORT2, D3DDECLTYPE_FLOAT3},
        {0x30F, 3, D3DDECLTYPE_SHORT4N, D3DDECLTYPE_UBYTE4, D3DDECLTYPE_FLOAT3},
        {0x30F, 4, D3DDECLTYPE_SHORT4N, D3DDECLTYPE_UBYTE4, D3DDECLTYPE_FLOAT3},
        // Everything offered.
        {0x3FF, 2, D3DDECLTYPE_USHORT2N, D3DDECLTYPE_SHORT2, D3DDECLTYPE_DEC3N},
        {0x3FF, 3, D3DDECLTYPE_DEC3N, D3DDECLTYPE_UBYTE4, D3DDECLTYPE_DEC3N},
        {0x3FF, 4, D3DDECLTYPE_USHORT4N, D3DDECLTYPE_UBYTE4, D3DDECLTYPE_DEC3N},
        // Nothing offered.
        {0, 2, D3DDECLTYPE_D3DCOLOR, D3DDECLTYPE_SHORT2, D3DDECLTYPE_FLOAT3},
        {0, 4, D3DDECLTYPE_D3DCOLOR, D3DDECLTYPE_SHORT4, D3DDECLTYPE_FLOAT3},
    };
    const RwUInt32 tex[1] = {D3DDECLTYPE_FLOAT2};
    for (const Case &c : cases) {
        RwD3D9SkinCaps caps = {TRUE, TRUE, 256, 81, c.declTypes};
        D3DVERTEXELEMENT9 e[16];
        RwUInt32 stride = 0;
        const RwUInt32 n =
            RwD3D9SkinBuildDeclaration(e, rwD3D9SKINLAYOUTSHADER, 0x1A, FALSE, 1, tex, c.weights, &caps, &stride);
        ASSERT_EQ(6u, n) << c.declTypes << " " << c.weights;
        EXPECT_EQ(D3DDECLUSAGE_NORMAL, e[1].Usage);
        EXPECT_EQ(c.normalType, e[1].Type);
        EXPECT_EQ(D3DDECLUSAGE_BLENDWEIGHT, e[4].Usage);
        EXPECT_EQ(c.weightType, e[4].Type) << c.declTypes << " " << c.weights;
        EXPECT_EQ(c.indexType, e[5].Type) << c.declTypes << " " << c.weights;
        EXPECT_EQ(0xFF, e[6].Stream);
        EXPECT_EQ(e[5].Offset + RwD3D9DeclTypeGetSize(e[5].Type), stride);
        // Asked for, a tangent follows the normal in the normal's type.
        const RwUInt32 plain = stride;
        ASSERT_EQ(7u, RwD3D9SkinBuildDeclaration(e, rwD3D9SKINLAYOUTSHADER, 0x1A, TRUE, 1, tex, c.weights, &caps,
                                                 &stride));
        EXPECT_EQ(D3DDECLUSAGE_TANGENT, e[2].Usage);
        EXPECT_EQ(c.normalType, e[2].Type);
        EXPECT_EQ(e[1].Offset + RwD3D9DeclTypeGetSize(c.normalType), e[2].Offset);
        EXPECT_EQ(plain + RwD3D9DeclTypeGetSize(c.normalType), stride);
        // The processor layout: floats only, no weights, indices or tangents.
        EXPECT_EQ(4u, RwD3D9SkinBuildDeclaration(e, rwD3D9SKINLAYOUTPROCESSOR, 0x1A, TRUE, 1, tex, c.weights, &caps,
                                                 &stride));
        EXPECT_EQ(D3DDECLTYPE_FLOAT3, e[1].Type);
        EXPECT_EQ(36u, stride);
    }
    // One weight: indices only; without texture coordinates there are no tangents.
    RwD3D9SkinCaps caps = {TRUE, TRUE, 256, 81, 0x30F};
    D3DVERTEXELEMENT9 e[16];
    RwUInt32 stride = 0;
    ASSERT_EQ(2u, RwD3D9SkinBuildDeclaration(e, rwD3D9SKINLAYOUTSHADER, 0x02, TRUE, 0, nullptr, 1, &caps, &stride));
    EXPECT_EQ(D3DDECLUSAGE_BLENDINDICES, e[1].Usage);
    EXPECT_EQ(16u, stride);
}

TEST(SkinLayout, CapsRecordFromTheDevice)
{
    D3DCAPS9 d = {};
    d.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    d.VertexShaderVersion = D3DVS_VERSION(3, 0);
    d.PixelShaderVersion = D3DPS_VERSION(3, 0);
    d.MaxVertexShaderConst = 256;
    RwD3D9SkinCaps c;
    RwD3D9SkinCapsFromDevice(&c, &d);
    EXPECT_TRUE(c.vertexShaderSkinning);
    EXPECT_EQ(81u, c.maxBones);
    d.PixelShaderVersion = D3DPS_VERSION(1, 0);
    RwD3D9SkinCapsFromDevice(&c, &d);
    EXPECT_FALSE(c.vertexShaderSkinning);
    EXPECT_EQ(0u, c.maxBones);
    d.PixelShaderVersion = D3DPS_VERSION(1, 1);
    d.DevCaps = 0;
    RwD3D9SkinCapsFromDevice(&c, &d);
    EXPECT_FALSE(c.hardwareTransform);
    EXPECT_FALSE(c.vertexShaderSkinning);
}

} // namespace
