// Tests of the vertex-shader generator: its text, every allowed descriptor on the device, the cache and a draw.
#include <cstring>
#include <string>

#include "d3d9testdevice.h"
#include "gfx/d3d9/d3d9instance.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9vertexshader.h"

namespace {

RwD3D9VertexShaderDescriptor Descriptor(RwUInt32 key)
{
    RwD3D9VertexShaderDescriptor d;
    std::memcpy(&d, &key, 4);
    return d;
}

class VertexShader : public StartedDevice {
protected:
    void SetUp() override
    {
        StartedDevice::SetUp();
        savedCaps = rwD3D9Driver.caps;
        RwD3D9VertexShaderCacheInit();
    }
    void TearDown() override
    {
        RwD3D9VertexShaderCacheTerm();
        rwD3D9Driver.caps = savedCaps;
        StartedDevice::TearDown();
    }

    // Pretends the device has another vertex-shader version and W-fog cap.
    void UseLevel(DWORD version, DWORD flowControl, bool wFog)
    {
        RwD3D9VertexShaderCacheTerm();
        rwD3D9Driver.caps = savedCaps;
        rwD3D9Driver.caps.VertexShaderVersion = D3DVS_VERSION(version >> 8, version & 0xFF);
        rwD3D9Driver.caps.VS20Caps.DynamicFlowControlDepth = static_cast<INT>(flowControl);
        if (wFog)
            rwD3D9Driver.caps.RasterCaps |= D3DPRASTERCAPS_WFOG;
        else
            rwD3D9Driver.caps.RasterCaps &= ~static_cast<DWORD>(D3DPRASTERCAPS_WFOG);
        RwD3D9VertexShaderCacheInit();
    }

    std::string Text(RwUInt32 key, RwD3D9VertexShaderRegisters *registers = nullptr)
    {
        RwD3D9VertexShaderRegisters r;
        const RwChar *text = nullptr;
        RwD3D9VertexShaderDescriptor d = Descriptor(key);
        if (!RwD3D9VertexShaderGenerateText(&d, &text, registers ? registers : &r))
            return "refused";
        return text;
    }

    D3DCAPS9 savedCaps;
};

// Keys: byte 0 directional | point << 4, byte 1 spot | sets << 4, byte 2 flags, byte 3 fog | effect << 2.
TEST_F(VertexShader, TextOfOneLitTexturedObject)
{
    UseLevel(0x300, 0, false);
    RwD3D9VertexShaderRegisters r;
    EXPECT_EQ(Text(0x00201001, &r), "vs_2_x\n"
                                    "dcl_position0 v0\n"
                                    "dcl_normal0 v3\n"
                                    "dcl_texcoord0 v5\n"
                                    "m4x4 oPos.xyzw, v0, c[0]\n"
                                    "mov r11, c[4]\n"
                                    "dp3 r6.x, c[5], v3\n"
                                    "max r6.x, c[5].w, -r6.x\n"
                                    "mad oD0, c[6], r6.x, r11\n"
                                    "mov oT0.xy, v5\n");
    const RwUInt8 unused[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(&r, unused, 8), 0);
}

TEST_F(VertexShader, TextFollowsTheDescriptor)
{
    UseLevel(0x300, 0, false);
    struct Case {
        RwUInt32 key;
        const char *present;
        const char *absent;
    } cases[] = {
        {0x00000000, "mov oD0, c[4]\n", "r6"},
        {0x00100000, "add oD0, v4, c[4]\n", "r11"},
        {0x00A00000 | 0x10000, "mul oD0, r11, c[5]\n", "oD0, c[4]"},                 // morph, material colour
        {0x00200005, "max r6.xyzw, c[5].w, -r6.xyzw\n", "mad oD0, c[12]"},           // five directional lights
        {0x00200005, "max r6.x, c[5].w, -r6.x\n", "c[15]"},
        {0x00200005, "mad oD0, c[14], r6.x, r11\n", "mul oD0"},
        {0x00220000, "mova a0.x, v2.x\n", "dcl_blendweight0"},                        // one bone, no weights
        {0x00260000, "mova a0.xyz, v2\n", "mov a0.x"},                                // three weights
        {0x01000000, "dp4 r0.w, v0, c[3]\nmad oFog, r0.w, c[5].x, c[5].y\n", "expp"}, // linear fog
        {0x03000000, "mul r0.w, r0.w, r0.w\nexpp r0.w, r0.w\nrcp oFog, r0.w\n", "mad oFog"},
        {0x00200010, "max r8.x, c[5].x, r1.x\nmax r6.x, c[6].wwww, -r6.x\n", "r9"},  // one point light
        {0x00200100, "mad r9.x, r7.w, c[8].x, c[8].y\n", "mad oD0, c[10]"},          // one spot light
        {0x2C201000, "dp3 oT2.x, r7, c[8]\n", "refused"},                               // effect 11
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        const std::string t = Text(c.key);
        EXPECT_NE(t.find(c.present), std::string::npos) << t;
        EXPECT_EQ(t.find(c.absent), std::string::npos) << t;
    }
    // A vs_1_1 device reloads the address register per weight; with W fog the
    // depth goes straight out and no fog register is taken.
    UseLevel(0x101, 0, true);
    RwD3D9VertexShaderRegisters r;
    const std::string t = Text(0x01260000, &r);
    EXPECT_EQ(t.rfind("vs_1_1\n", 0), 0u);
    EXPECT_NE(t.find("mov a0.x, v2.z\nm4x3 r5.xyz, v0, c[a0.x + 5]\n"), std::string::npos) << t;
    EXPECT_NE(t.find("dp4 oFog, r3, c[3]\n"), std::string::npos) << t;
    EXPECT_EQ(r.fog, 0xFF);
    EXPECT_EQ(r.bones, 5);
}

TEST_F(VertexShader, LimitsRefuseWhatCannotBeMade)
{
    UseLevel(0x101, 0, false);
    EXPECT_NE(Text(0x0020000A), "refused");             // ten lights on a level-10 device
    EXPECT_EQ(Text(0x0020000B), "refused");
    UseLevel(0x200, 0, false);
    EXPECT_NE(Text(0x00200055), "refused");             // 10 lights fit level 20
    EXPECT_EQ(Text(0x00200F5F), "refused");             // 35 lights
    EXPECT_EQ(Text(0x00009000), "refused");             // nine texture sets
    EXPECT_EQ(Text(0x04000000), "refused");             // effect 1 without normals or a set
    EXPECT_EQ(Text(0x10201000), "refused");             // effect 4 needs two sets
    EXPECT_EQ(Text(0x000A0000), "refused");             // five weights
    UseLevel(0x000, 0, false);
    EXPECT_EQ(Text(0), "refused");
    EXPECT_EQ(RwD3D9VertexShaderGetLevel(), 0);
}

TEST_F(VertexShader, ConstantCountsPerDescriptor)
{
    const struct {
        RwUInt32 key, count;
    } cases[] = {
        {0x00000000, 5}, {0x00000003, 11}, {0x00000050, 5 + 10 + 2}, {0x00000004, 5 + 8},
        {0x00000001 | 0x00000100, 5 + 2 + 5}, {0x00800000, 6}, {0x01000000, 6}, {0x2C010000, 5 + 6 + 1},
    };
    for (const auto &c : cases) {
        RwD3D9VertexShaderDescriptor d = Descriptor(c.key);
        EXPECT_EQ(RwD3D9VertexShaderGetNumConstants(&d), c.count) << c.key;
    }
}

// Every descriptor the generator allows, over every feature but the light
// counts (cycled through), assembles and makes a shader on every level.
TEST_F(VertexShader, EveryAllowedDescriptorAssemblesAndCreates)
{
    const struct {
        DWORD version, flow;
        bool wFog;
    } levels[] = {{0x101, 0, false}, {0x200, 0, true}, {0x200, 1, false}};
    const RwUInt8 lightMixes[][2] = {{0x00, 0x0}, {0x01, 0x0}, {0x10, 0x0}, {0x00, 0x1}, {0x21, 0x3}, {0x54, 0x1}};
    for (const auto &level : levels) {
        UseLevel(level.version, level.flow, level.wFog);
        int made = 0, refused = 0, mix = 0;
        for (RwUInt32 effect = 0; effect <= 11; effect++)
            for (RwUInt32 sets : {0u, 1u, 2u, 3u, 8u})
                for (RwUInt32 flags = 0; flags < 256; flags++)
                    for (RwUInt32 fog = 0; fog < 4; fog += (flags & 0x0E) ? 3 : 1) {
                        const RwUInt8 *lights = lightMixes[mix++ % 6];
                        RwD3D9VertexShaderDescriptor d = {lights[0], static_cast<RwUInt8>(lights[1] | sets << 4),
                                                          static_cast<RwUInt8>(flags),
                                                          static_cast<RwUInt8>(fog | effect << 2)};
                        RwD3D9VertexShaderRegisters r;
                        const RwChar *text;
                        if (!RwD3D9VertexShaderGenerateText(&d, &text, &r)) {
                            refused++;
                            continue;
                        }
                        const std::string copy = text;
                        void *shader = RwD3D9GenerateVertexShader(&d, &r);
                        EXPECT_NE(shader, nullptr) << copy;
                        RwD3D9DeleteShader(shader);
                        made++;
                        if (::testing::Test::HasFailure())
                            return;
                    }
        EXPECT_GT(made, 3 * refused / 4) << level.version;
        // Every count of every kind of light, lit, with fog and a material colour.
        for (RwUInt32 lights = 0; lights < 4096; lights++) {
            RwD3D9VertexShaderDescriptor d = {static_cast<RwUInt8>(lights & 0xFF),
                                              static_cast<RwUInt8>(0x10 | lights >> 8), 0xB0, 0x01};
            RwD3D9VertexShaderRegisters r;
            const RwChar *text;
            const RwUInt32 total = (lights & 0xF) + ((lights >> 4) & 0xF) + (lights >> 8);
            const bool allowed = total <= (level.version < 0x200 ? 10u : 20u + 5u * level.flow);
            ASSERT_EQ(RwD3D9VertexShaderGenerateText(&d, &text, &r), allowed) << lights;
            // The longer texts are sampled: they differ only in counts.
            if (!allowed || (total > 10 && lights % 7))
                continue;
            void *shader = RwD3D9GenerateVertexShader(&d, &r);
            EXPECT_NE(shader, nullptr) << lights;
            RwD3D9DeleteShader(shader);
        }
    }
}

TEST_F(VertexShader, CacheKeepsOrderAndReplacesTheLeastRecentlyUsed)
{
    // Nine texture sets are refused: entries without shaders, quick to make.
    auto key = [](RwUInt32 i) { return 0x00009000u | (i & 0xFF) | (i >> 8) << 24; };
    RwD3D9VertexShaderRegisters r;
    for (RwUInt32 i = 0; i < 256; i++) {
        RwEngineInstance->renderFrame = 1000 + (i * 37) % 256;
        RwD3D9VertexShaderDescriptor d = Descriptor(key(255 - i));
        EXPECT_EQ(RwD3D9GetVertexShaderForDescriptor(nullptr, &d, &r), nullptr);
    }
    ASSERT_EQ(RwD3D9VertexShaderCacheGetCount(), 256u);
    // The entry used at frame 1000 (the first made) is the oldest; one more
    // descriptor replaces it and the table stays sorted.
    RwEngineInstance->renderFrame = 2000;
    RwD3D9VertexShaderDescriptor d = Descriptor(key(256));
    RwD3D9GetVertexShaderForDescriptor(nullptr, &d, &r);
    EXPECT_EQ(RwD3D9VertexShaderCacheGetCount(), 256u);
    for (RwUInt32 i = 1; i < 256; i++)
        EXPECT_LT(RwD3D9VertexShaderCacheGetKey(i - 1), RwD3D9VertexShaderCacheGetKey(i));
    bool oldestGone = true, newPresent = false;
    for (RwUInt32 i = 0; i < 256; i++) {
        oldestGone &= RwD3D9VertexShaderCacheGetKey(i) != key(255);
        newPresent |= RwD3D9VertexShaderCacheGetKey(i) == key(256);
    }
    EXPECT_TRUE(oldestGone);
    EXPECT_TRUE(newPresent);
    // A real shader is made once and then found.
    RwD3D9VertexShaderDescriptor plain = Descriptor(0);
    void *s = RwD3D9GetVertexShaderForDescriptor(nullptr, &plain, &r);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(RwD3D9GetVertexShaderForDescriptor(nullptr, &plain, &r), s);
}

TEST_F(VertexShader, GeneratedShaderDrawsTheAmbientColour)
{
    RwD3D9VertexShaderRegisters r;
    RwD3D9VertexShaderDescriptor plain = Descriptor(0);
    void *shader = RwD3D9GetVertexShaderForDescriptor(nullptr, &plain, &r);
    ASSERT_NE(shader, nullptr);
    // A triangle straight in clip space covering the centre.
    const float tri[3][3] = {{-0.5f, -0.5f, 0.5f}, {0.5f, -0.5f, 0.5f}, {0.0f, 0.5f, 0.5f}};
    IDirect3DVertexBuffer9 *vb = nullptr;
    ASSERT_EQ(real->CreateVertexBuffer(sizeof tri, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    void *p;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, tri, sizeof tri);
    vb->Unlock();
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    void *declaration = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(elements, &declaration));
    const float constants[5][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {0.0f, 1.0f, 0.5f, 1}};
    real->SetVertexShaderConstantF(0, &constants[0][0], 5);
    RwD3D9InstanceHeader header = {};
    header.primType = D3DPT_TRIANGLELIST;
    RwD3D9InstanceMesh mesh = {};
    mesh.vertexShader = shader;
    mesh.numVertices = 3;
    mesh.numPrimitives = 1;
    real->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(real->BeginScene(), D3D_OK);
    RwD3D9SetVertexDeclaration(declaration);
    RwD3D9SetStreamSource(0, vb, 0, 12);
    RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    RwD3D9SetRenderState(D3DRS_ZENABLE, FALSE);
    RwD3D9RenderMeshWithVertexShader(&header, &mesh);
    real->EndScene();
    EXPECT_TRUE(NearColour(ReadPixel(512, 384), 0x00FF80)) << std::hex << ReadPixel(512, 384);
    EXPECT_EQ(ReadPixel(5, 5), 0u);
    RwD3D9SetStreamSource(0, nullptr, 0, 0);
    RwD3D9SetVertexShader(nullptr);
    RwD3D9DeleteVertexDeclaration(declaration);
    vb->Release();
}

}  // namespace
