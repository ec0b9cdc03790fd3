// Tests of the declaration-type writers and readers, the texture-coordinate type choice and tangents.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "d3d9testdevice.h"
#include "gfx/d3d9/d3d9decltype.h"
#include "support/test_memory.h"

namespace {

std::vector<RwUInt8> Bytes(std::initializer_list<int> b)
{
    std::vector<RwUInt8> v;
    for (int x : b)
        v.push_back(static_cast<RwUInt8>(x));
    return v;
}

// A started engine: the tangent generator's square roots need it.
class DeclType : public StartedDevice {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0x400000));
        StartedDevice::SetUpTestSuite();
    }
};

TEST_F(DeclType, VectorsPackToTheBytesOfEachType)
{
    const RwV3d v = {0.5f, -0.25f, 1.0f};
    struct Case {
        RwUInt32 type;
        std::vector<RwUInt8> bytes;
    } cases[] = {
        {D3DDECLTYPE_D3DCOLOR, Bytes({0xFF, 0x00, 0x80, 0xFF})},     // z, clamped y, x, one
        {D3DDECLTYPE_UBYTE4, Bytes({1, 0, 1, 1})},                   // 0.5 rounds up, -0.25 clamps
        {D3DDECLTYPE_SHORT2, Bytes({1, 0, 0, 0})},
        {D3DDECLTYPE_UBYTE4N, Bytes({0x80, 0x00, 0xFF, 0xFF})},
        {D3DDECLTYPE_SHORT2N, Bytes({0x00, 0x40, 0x00, 0xE0})},      // 16384, -8192
        {D3DDECLTYPE_SHORT4N, Bytes({0x00, 0x40, 0x00, 0xE0, 0xFF, 0x7F, 0xFF, 0x7F})},
        {D3DDECLTYPE_USHORT2N, Bytes({0x00, 0x80, 0x00, 0x00})},     // 32768, clamped 0
        {D3DDECLTYPE_USHORT4N, Bytes({0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF})},
        {D3DDECLTYPE_UDEC3, Bytes({0x01, 0x00, 0x10, 0x00})},        // 1, 0, 1
        {D3DDECLTYPE_DEC3N, Bytes({0x00, 0x01, 0xFE, 0x1F})},        // 256, -128, 511
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        RwUInt8 out[16] = {};
        EXPECT_EQ(RwD3D9DeclTypeWriteV3d(c.type, out, &v, 1, 16), c.bytes.size());
        EXPECT_EQ(std::memcmp(out, c.bytes.data(), c.bytes.size()), 0);
    }
    float f4[4];
    EXPECT_EQ(RwD3D9DeclTypeWriteV3d(D3DDECLTYPE_FLOAT4, f4, &v, 1, 16), 16u);
    EXPECT_EQ(f4[3], 1.0f);
    // Out-of-range values saturate instead of wrapping.
    const RwV3d big = {2.0f, -3.0f, 70000.0f};
    RwUInt8 out[8];
    RwD3D9DeclTypeWriteV3d(D3DDECLTYPE_SHORT4N, out, &big, 1, 8);
    EXPECT_EQ(std::memcmp(out, Bytes({0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x7F}).data(), 6), 0);
    RwD3D9DeclTypeWriteV3d(D3DDECLTYPE_SHORT2, out, &big, 1, 8);
    EXPECT_EQ(std::memcmp(out, Bytes({0x02, 0x00, 0xFD, 0xFF}).data(), 4), 0);
}

TEST_F(DeclType, EveryTypeReadsBackWhatWasWritten)
{
    // Per type: components kept, and the values it can hold (i integers,
    // u unsigned fractions, s signed fractions).
    const struct {
        int components;
        char kind;
    } types[] = {{1, 's'}, {2, 's'}, {3, 's'}, {3, 's'}, {3, 'u'}, {3, 'i'}, {2, 'i'}, {3, 'i'},
                 {3, 'u'}, {2, 's'}, {3, 's'}, {2, 'u'}, {3, 'u'}, {3, 'i'}, {3, 's'}};
    for (RwUInt32 type = 0; type <= D3DDECLTYPE_DEC3N; type++) {
        SCOPED_TRACE(type);
        const char kind = types[type].kind;
        const RwV3d in = kind == 'i' ? RwV3d{3, 1, 2} : (kind == 'u' ? RwV3d{0.25f, 0.75f, 1} : RwV3d{0.6f, -0.8f, 0});
        RwUInt8 element[16];
        RwD3D9DeclTypeWriteV3d(type, element, &in, 1, 16);
        RwV3d out;
        RwD3D9DeclTypeReadV3d(type, element, &out);
        EXPECT_NEAR(out.x, in.x, 0.002f);
        EXPECT_NEAR(out.y, types[type].components > 1 ? in.y : 0.0f, 0.002f);
        EXPECT_NEAR(out.z, types[type].components > 2 ? in.z : 0.0f, 0.002f);
        RwD3D9DeclTypeWriteTexCoords(type, element, &in.x, 1, 16);
        RwReal uv[2];
        RwD3D9DeclTypeReadTexCoords(type, element, uv);
        EXPECT_NEAR(uv[0], in.x, 0.002f);
    }
    // A DEC3N normal pointing down z keeps -511 in its top field.
    const RwV3d down = {0, 0, -1};
    RwUInt32 word = 0;
    RwD3D9DeclTypeWriteV3d(D3DDECLTYPE_DEC3N, &word, &down, 1, 4);
    EXPECT_EQ(word, 0x201u << 20);
    RwV3d back;
    RwD3D9DeclTypeReadV3d(D3DDECLTYPE_DEC3N, &word, &back);
    EXPECT_EQ(back.z, -1.0f);
}

TEST_F(DeclType, WeightsSumToFullScaleAndNeverGoNegative)
{
    const RwReal weights[][4] = {{0.5f, 0.25f, 0.25f, 0}, {1.0f, 0, 0, 0}, {0.2f, 0.6f, 0.6f, 0}};
    RwUInt8 b[4];
    RwD3D9DeclTypeWriteV4d(D3DDECLTYPE_UBYTE4N, b, weights[0], 1, 4);
    EXPECT_EQ(std::memcmp(b, Bytes({127, 64, 64, 0}).data(), 4), 0);
    RwUInt32 colour = 0;
    RwD3D9DeclTypeWriteV4d(D3DDECLTYPE_D3DCOLOR, &colour, weights[1], 1, 4);
    EXPECT_EQ(colour, 0x00FF0000u);
    RwD3D9DeclTypeWriteV4d(D3DDECLTYPE_UBYTE4N, b, weights[2], 1, 4);
    EXPECT_EQ(b[0], 0);
    RwInt16 s[4];
    RwD3D9DeclTypeWriteV4d(D3DDECLTYPE_SHORT4N, s, weights[0], 1, 8);
    EXPECT_EQ(s[0] + s[1] + s[2] + s[3], 32767);
    RwD3D9DeclTypeWriteV4d(D3DDECLTYPE_SHORT2N, s, weights[0], 1, 4);
    EXPECT_EQ(s[0], 16384);
    EXPECT_EQ(s[1], 32767 - 16384);
    RwUInt32 dec = 0;
    RwD3D9DeclTypeWriteV4d(D3DDECLTYPE_DEC3N, &dec, weights[0], 1, 4);
    EXPECT_EQ((dec & 0x3FF) + ((dec >> 10) & 0x3FF) + ((dec >> 20) & 0x3FF), 511u);
}

TEST_F(DeclType, ColoursIndicesAndInterpolation)
{
    const RwRGBA colours[2] = {{1, 2, 3, 255}, {4, 5, 6, 7}};
    RwUInt32 out[2];
    EXPECT_FALSE(RwD3D9DeclTypeWriteColors(out, colours, 1, 4));
    EXPECT_TRUE(RwD3D9DeclTypeWriteColors(out, colours, 2, 4));
    EXPECT_EQ(out[0], 0xFF010203u);
    EXPECT_EQ(out[1], 0x07040506u);
    const RwUInt8 indices[4] = {0, 1, 2, 3};
    const RwUInt8 remap[4] = {9, 8, 7, 6};
    RwUInt8 b[8];
    EXPECT_EQ(RwD3D9DeclTypeWriteBlendIndices(D3DDECLTYPE_UBYTE4, b, indices, remap, 1, 4), 4u);
    EXPECT_EQ(std::memcmp(b, remap, 4), 0);
    EXPECT_EQ(RwD3D9DeclTypeWriteBlendIndices(D3DDECLTYPE_FLOAT4, b, indices, remap, 1, 16), 0u);
    const RwV3d a = {0, 0, 0}, z = {1, -1, 0.5f};
    float f[3];
    RwD3D9DeclTypeWriteInterpolatedV3d(D3DDECLTYPE_FLOAT3, f, &a, &z, 0.25f, 1, 12);
    EXPECT_FLOAT_EQ(f[0], 0.25f);
    EXPECT_FLOAT_EQ(f[1], -0.25f);
    const RwUInt8 packed[4] = {64, 0xC0, 0, 0};
    RwD3D9DeclTypeWritePackedNormals(D3DDECLTYPE_FLOAT3, f, packed, 1, 12);
    EXPECT_EQ(f[0], 0.5f);
    EXPECT_EQ(f[1], -0.5f);
}

TEST_F(DeclType, TexCoordTypeFollowsRangeAndCaps)
{
    const RwReal unitRange[] = {0, 0, 1, 1, 0.5f, 0.25f};
    const RwReal tooBig[] = {0, 0, 1.5f, 0.5f};
    const RwReal signedRange[] = {-1, 0, 0.5f, 1};
    const RwReal farOut[] = {-2, 0, 0.5f, 1};
    struct Case {
        DWORD caps;
        const RwReal *uv;
        RwUInt32 count;
        RwUInt32 type;
    } cases[] = {
        {D3DDTCAPS_USHORT2N | D3DDTCAPS_DEC3N, unitRange, 3, D3DDECLTYPE_USHORT2N},
        {D3DDTCAPS_DEC3N, unitRange, 3, D3DDECLTYPE_DEC3N},
        {0, unitRange, 3, D3DDECLTYPE_D3DCOLOR},
        {D3DDTCAPS_USHORT2N, tooBig, 2, D3DDECLTYPE_FLOAT2},
        {D3DDTCAPS_SHORT2N, signedRange, 2, D3DDECLTYPE_SHORT2N},
        {D3DDTCAPS_DEC3N, signedRange, 2, D3DDECLTYPE_DEC3N},
        {0, signedRange, 2, D3DDECLTYPE_FLOAT2},
        {D3DDTCAPS_SHORT2N, farOut, 2, D3DDECLTYPE_FLOAT2},
        {D3DDTCAPS_SHORT2N, unitRange, 0, D3DDECLTYPE_FLOAT2},
    };
    const DWORD saved = rwD3D9Driver.caps.DeclTypes;
    for (const Case &c : cases) {
        rwD3D9Driver.caps.DeclTypes = c.caps;
        EXPECT_EQ(RwD3D9DeclTypeFindForTexCoords(c.uv, c.count), c.type);
    }
    rwD3D9Driver.caps.DeclTypes = saved;
}

// Four vertices of a quad in the xy plane, u along x and v along y; vertex 4
// duplicates vertex 1 with a mirrored u.
struct Quad {
    RwV3d p[6] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {2, 0, 0}};
    RwV3d n[6] = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    RwReal uv[12] = {0, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0};
};

TEST_F(DeclType, TangentsFollowUAndMergeOnlyWhenAlike)
{
    Quad q;
    const RwUInt16 list[9] = {0, 1, 2, 2, 1, 3, 4, 5, 3};
    RwD3D9TangentMesh mesh = {list, 9, 0};
    RwV3d t[6];
    ASSERT_EQ(RwD3D9DeclTypeWriteTangents(D3DDECLTYPE_FLOAT3, t, q.p, q.n, nullptr, q.uv, 6, D3DPT_TRIANGLELIST,
                                          &mesh, 1, 12),
              12u);
    EXPECT_NEAR(t[0].x, 1.0f, 1e-3f);
    EXPECT_NEAR(t[0].y, 0.0f, 1e-3f);
    // Vertex 4 sits on vertex 1 but its mapping runs the other way: not merged.
    EXPECT_NEAR(t[4].x, -1.0f, 1e-3f);
    EXPECT_NEAR(t[1].x, 1.0f, 1e-3f);
    // A strip with a repeated index adds no degenerate triangle; an index past
    // the vertices is refused.
    const RwUInt16 strip[5] = {0, 1, 1, 2, 3};
    mesh = {strip, 5, 0};
    ASSERT_EQ(RwD3D9DeclTypeWriteTangents(D3DDECLTYPE_FLOAT3, t, q.p, q.n, nullptr, q.uv, 4, D3DPT_TRIANGLESTRIP,
                                          &mesh, 1, 12),
              12u);
    EXPECT_NEAR(t[3].x, 1.0f, 1e-3f);
    EXPECT_NEAR(t[0].x, 0.0f, 1e-3f);
    // Out of memory, or an index past the vertices: refused, nothing kept.
    const RwInt32 live = rwTestMemory.live;
    rwTestMemory.failAfter = 1;
    EXPECT_EQ(RwD3D9DeclTypeWriteTangents(D3DDECLTYPE_FLOAT3, t, q.p, q.n, nullptr, q.uv, 4, D3DPT_TRIANGLESTRIP,
                                          &mesh, 1, 12),
              0u);
    rwTestMemory.failAfter = -1;
    mesh = {list, 9, 1};
    EXPECT_EQ(RwD3D9DeclTypeWriteTangents(D3DDECLTYPE_FLOAT3, t, q.p, q.n, nullptr, q.uv, 6, D3DPT_TRIANGLELIST,
                                          &mesh, 1, 12),
              0u);
    EXPECT_EQ(rwTestMemory.live, live);
}

}  // namespace
