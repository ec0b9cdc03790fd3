// Tests of the device state setters on a real device seen through a counting wrapper.
#include <gtest/gtest.h>

#include <cstring>

#include "countingdevice.h"
#include "d3d9window.h"
#include "gfx/core/camera.h"
#include "gfx/d3d9/d3d9cpu.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"

namespace {

HWND Window;

class DeviceState : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (RwEngineGetStatus() == rwENGINESTATUSIDLE)
            RwEngineInit(nullptr, 0, 0x400000);
        Window = KivTestCreateWindow(1024, 768);
        RwEngineOpenParams params = {Window};
        ASSERT_TRUE(RwD3D9DeviceSystem(rwDEVICESYSTEMOPEN, nullptr, &params, 0));
        ASSERT_TRUE(RwD3D9DeviceSystem(rwDEVICESYSTEMSTART, nullptr, nullptr, 0));
    }

    static void TearDownTestSuite()
    {
        RwD3D9DeviceSystem(rwDEVICESYSTEMSTOP, nullptr, nullptr, 0);
        RwD3D9DeviceSystem(rwDEVICESYSTEMCLOSE, nullptr, nullptr, 0);
        DestroyWindow(Window);
    }

    void SetUp() override
    {
        real = rwD3D9Driver.device;
        ASSERT_NE(real, nullptr);
        counting = new CountingDevice(real);
        rwD3D9Driver.device = counting;
    }

    void TearDown() override
    {
        rwD3D9Driver.device = real;
        delete counting;
        // Later tests start from unknown caches, as after a hand-over.
        RwD3D9GetCurrentD3DDevice();
    }

    IDirect3DDevice9 *real = nullptr;
    CountingDevice *counting = nullptr;
};

RwMatrix MakeMatrix(float x)
{
    RwMatrix m;
    std::memset(&m, 0, sizeof(m));
    m.right = {1, 0, 0};
    m.up = {0, 1, 0};
    m.at = {0, 0, 1};
    m.pos = {x, 2, 3};
    return m;
}

D3DLIGHT9 PointLight(float range)
{
    D3DLIGHT9 light;
    std::memset(&light, 0, sizeof(light));
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 1, 1, 1};
    light.Position = {0, 5, 0};
    light.Range = range;
    light.Attenuation0 = 1.0f;
    return light;
}

const D3DVERTEXELEMENT9 PositionColour[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

} // namespace

TEST_F(DeviceState, SameWorldMatrixIsSentOnce)
{
    RwMatrix m = MakeMatrix(7);
    EXPECT_TRUE(RwD3D9SetTransformWorld(&m));
    EXPECT_TRUE(RwD3D9SetTransformWorld(&m));
    EXPECT_EQ(counting->Count("SetTransform"), 1);
    EXPECT_FALSE(RwD3D9WorldIsIdentity());
    EXPECT_TRUE(RwD3D9SetTransformWorld(nullptr));
    EXPECT_EQ(counting->Count("SetTransform"), 2);
    EXPECT_TRUE(RwD3D9WorldIsIdentity());
    EXPECT_TRUE(RwD3D9SetTransformWorld(nullptr));
    RwMatrix identity = MakeMatrix(0);
    identity.flags = 0x20003;
    EXPECT_TRUE(RwD3D9SetTransformWorld(&identity));
    EXPECT_EQ(counting->Count("SetTransform"), 2);

    D3DMATRIX sent;
    real->GetTransform(D3DTS_WORLD, &sent);
    EXPECT_EQ(sent._41, 0.0f);
    EXPECT_TRUE(RwD3D9SetTransformWorld(&m));
    real->GetTransform(D3DTS_WORLD, &sent);
    EXPECT_EQ(sent._41, 7.0f);
    EXPECT_EQ(sent._42, 2.0f);
    EXPECT_EQ(sent._44, 1.0f);
}

TEST_F(DeviceState, TransformsAreComparedBeforeSendingAndUnsetOnesReadAsIdentity)
{
    D3DMATRIX view = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1}}};
    EXPECT_TRUE(RwD3D9SetTransform(D3DTS_VIEW, &view));
    EXPECT_TRUE(RwD3D9SetTransform(D3DTS_VIEW, &view));
    EXPECT_EQ(counting->Count("SetTransform"), 1);
    D3DMATRIX back;
    RwD3D9GetTransform(D3DTS_VIEW, &back);
    EXPECT_EQ(std::memcmp(&back, &view, sizeof(view)), 0);
    EXPECT_FALSE(RwD3D9SetTransform(rwD3D9NUMTRANSFORMS, &view));
    EXPECT_EQ(counting->Count("SetTransform"), 1);

    // A state never set, or out of range, reads as the identity.
    D3DMATRIX m;
    std::memset(&m, 0x7F, sizeof(m));
    RwD3D9GetTransform(17, &m);
    EXPECT_EQ(m._11, 1.0f);
    EXPECT_EQ(m._12, 0.0f);
    EXPECT_EQ(m._44, 1.0f);
    RwD3D9GetTransform(17, nullptr);
    RwD3D9GetTransform(9999, &m);
    EXPECT_EQ(m._22, 1.0f);
}

TEST_F(DeviceState, LightBeyondTheStoreCreatesDisabledRecords)
{
    const D3DLIGHT9 light = PointLight(10);
    ASSERT_TRUE(RwD3D9SetLight(4, &light));
    EXPECT_EQ(RwD3D9GetNumLights(), 5);
    EXPECT_EQ(counting->Count("SetLight"), 1);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(RwD3D9GetLightRecord(i)->enabled, 0);
    EXPECT_TRUE(RwD3D9SetLight(4, &light));
    EXPECT_EQ(counting->Count("SetLight"), 1);
    // Indices whose store would not fit in memory (or whose size wraps) are
    // refused with nothing changed.
    for (RwInt32 index : {39768216, 0x7FFFFFFF, 0x10000}) {
        EXPECT_FALSE(RwD3D9SetLight(index, &light)) << index;
        EXPECT_EQ(RwD3D9GetNumLights(), 5) << index;
    }
    EXPECT_EQ(counting->Count("SetLight"), 1);
}

TEST_F(DeviceState, EnablingALightBeyondTheStoreSendsNothing)
{
    const D3DLIGHT9 light = PointLight(10);
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(RwD3D9SetLight(i, &light));
    // Past the store, or a record below a light set further on that holds
    // none: the device would switch on a default light of its own there.
    ASSERT_TRUE(RwD3D9SetLight(20, &light));
    counting->ResetLog();
    EXPECT_FALSE(RwD3D9EnableLight(5 + RwD3D9GetNumLights(), TRUE));
    EXPECT_FALSE(RwD3D9EnableLight(0x10000, TRUE));
    EXPECT_FALSE(RwD3D9EnableLight(-1, TRUE));
    EXPECT_FALSE(RwD3D9EnableLight(17, TRUE));
    EXPECT_EQ(RwD3D9GetLightRecord(17)->enabled, 0);
    EXPECT_TRUE(RwD3D9EnableLight(17, FALSE));
    EXPECT_TRUE(RwD3D9EnableLight(5 + RwD3D9GetNumLights(), FALSE));
    EXPECT_EQ(counting->Count("LightEnable"), 0);
    BOOL gap = FALSE;
    EXPECT_TRUE(FAILED(real->GetLightEnable(17, &gap)) || !gap);
    EXPECT_TRUE(RwD3D9EnableLight(1, TRUE));
    EXPECT_TRUE(RwD3D9EnableLight(1, 7));
    EXPECT_EQ(counting->Count("LightEnable"), 1);
    BOOL on = FALSE;
    real->GetLightEnable(1, &on);
    EXPECT_TRUE(on);
}

TEST_F(DeviceState, LightEqualityComparesTheWholeLight)
{
    D3DLIGHT9 light = PointLight(11);
    ASSERT_TRUE(RwD3D9SetLight(0, &light));
    ASSERT_EQ(counting->Count("SetLight"), 1);
    light.Attenuation1 = 0.5f;     // not among the fields a partial compare would look at
    light.Specular.r = 1.0f;
    ASSERT_TRUE(RwD3D9SetLight(0, &light));
    EXPECT_EQ(counting->Count("SetLight"), 2);
    D3DLIGHT9 sent;
    real->GetLight(0, &sent);
    EXPECT_EQ(sent.Attenuation1, 0.5f);
}

TEST_F(DeviceState, EnabledLightsStayKnownAfterTheDeviceIsHandedOut)
{
    const D3DLIGHT9 light = PointLight(10);
    ASSERT_TRUE(RwD3D9SetLight(0, &light));
    ASSERT_TRUE(RwD3D9EnableLight(0, TRUE));
    EXPECT_EQ(RwD3D9GetCurrentD3DDevice(), counting);
    counting->ResetLog();
    EXPECT_TRUE(RwD3D9EnableLight(0, FALSE));
    EXPECT_EQ(counting->Count("LightEnable"), 1);
    BOOL on = TRUE;
    real->GetLightEnable(0, &on);
    EXPECT_FALSE(on);

    // What the caller did with the device is not known: a light or a world
    // matrix it changed gets the cached value back on the next set, and a
    // light is not switched on before it is set again.
    EXPECT_FALSE(RwD3D9EnableLight(0, TRUE));
    ASSERT_TRUE(RwD3D9SetLight(0, &light));
    ASSERT_TRUE(RwD3D9EnableLight(0, TRUE));
    ASSERT_TRUE(RwD3D9SetTransform(D3DTS_WORLD, nullptr));
    RwD3D9GetCurrentD3DDevice();
    const D3DLIGHT9 other = PointLight(20);
    real->SetLight(0, &other);
    real->LightEnable(0, FALSE);
    const D3DMATRIX moved = {{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1}}};
    real->SetTransform(D3DTS_WORLD, &moved);
    EXPECT_TRUE(RwD3D9SetLight(0, &light));
    EXPECT_TRUE(RwD3D9EnableLight(0, TRUE));
    EXPECT_TRUE(RwD3D9SetTransform(D3DTS_WORLD, nullptr));
    D3DLIGHT9 held;
    real->GetLight(0, &held);
    EXPECT_EQ(held.Range, 10.0f);
    real->GetLightEnable(0, &on);
    EXPECT_TRUE(on);
    D3DMATRIX world;
    real->GetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(world._41, 0.0f);
    RwD3D9EnableLight(0, FALSE);
}

namespace {
RwMemoryFunctions SavedMemory;
void *FailingRealloc(void *, size_t, RwUInt32) { return nullptr; }
void *FailingMalloc(size_t, RwUInt32) { return nullptr; }
} // namespace

TEST_F(DeviceState, FailedGrowthOfTheLightStoreLeavesItConsistent)
{
    const D3DLIGHT9 light = PointLight(3);
    ASSERT_TRUE(RwD3D9SetLight(1, &light));
    RwInt32 count = RwD3D9GetNumLights();
    SavedMemory = RwEngineInstance->memoryFuncs;
    RwEngineInstance->memoryFuncs.rwrealloc = FailingRealloc;
    RwEngineInstance->memoryFuncs.rwmalloc = FailingMalloc;
    const D3DLIGHT9 distant = PointLight(99);
    RwBool ok = RwD3D9SetLight(count + 10, &distant);
    RwEngineInstance->memoryFuncs = SavedMemory;
    EXPECT_FALSE(ok);
    EXPECT_EQ(RwD3D9GetNumLights(), count);
    EXPECT_EQ(RwD3D9GetLightRecord(1)->light.Range, 3.0f);
    EXPECT_TRUE(RwD3D9SetLight(count + 10, &distant));
    EXPECT_EQ(RwD3D9GetNumLights(), count + 11);

    // A light the device refuses changes nothing: no records for it, and an
    // enabled light keeps its record as the device keeps the light.
    ASSERT_TRUE(RwD3D9EnableLight(1, TRUE));
    D3DLIGHT9 refused = PointLight(7);
    refused.Attenuation0 = -1.0f;
    EXPECT_FALSE(RwD3D9SetLight(count + 5000, &refused));
    EXPECT_EQ(RwD3D9GetNumLights(), count + 11);
    EXPECT_FALSE(RwD3D9SetLight(1, &refused));
    EXPECT_EQ(RwD3D9GetLightRecord(1)->light.Range, 3.0f);
    EXPECT_EQ(RwD3D9GetLightRecord(1)->enabled, 1);
    D3DLIGHT9 held;
    real->GetLight(1, &held);
    EXPECT_EQ(held.Range, 3.0f);
    counting->ResetLog();
    EXPECT_TRUE(RwD3D9SetLight(1, &light));
    EXPECT_EQ(counting->Count("SetLight"), 0);
    RwD3D9EnableLight(1, FALSE);
}

TEST_F(DeviceState, HandingOutTheDeviceMakesShadersReachItAgain)
{
    static const DWORD vs11[] = {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x00000001, 0xC00F0000,
                                 0x90E40000, 0x0000FFFF};
    void *shader = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexShader(reinterpret_cast<const RwUInt32 *>(vs11), &shader));
    RwD3D9SetVertexShader(shader);
    RwD3D9SetVertexShader(shader);
    EXPECT_EQ(counting->Count("SetVertexShader"), 1);
    RwD3D9GetCurrentD3DDevice();
    RwD3D9SetVertexShader(shader);
    EXPECT_EQ(counting->Count("SetVertexShader"), 2);
    // A new shader invalidates the cache too.
    void *other = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexShader(reinterpret_cast<const RwUInt32 *>(vs11), &other));
    RwD3D9SetVertexShader(shader);
    EXPECT_EQ(counting->Count("SetVertexShader"), 3);
    RwD3D9SetVertexShader(nullptr);
    RwD3D9DeleteShader(shader);
    RwD3D9DeleteShader(other);
    // The declaration as well (a reset device holds none either).
    void *declaration = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(PositionColour, &declaration));
    RwD3D9SetVertexDeclaration(declaration);
    RwD3D9GetCurrentD3DDevice();
    counting->ResetLog();
    RwD3D9SetVertexDeclaration(declaration);
    EXPECT_EQ(counting->Count("SetVertexDeclaration"), 1);
    RwD3D9SetVertexDeclaration(nullptr);
    RwD3D9DeleteVertexDeclaration(declaration);
    // The hand-out also sends every held state again at the next flush: done
    // here, so that the calls the next test counts are its own.
    RwD3D9FlushRenderStates();
}

TEST_F(DeviceState, IdenticalDeclarationsAreShared)
{
    void *a = nullptr, *b = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(PositionColour, &a));
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(PositionColour, &b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(counting->Count("CreateVertexDeclaration"), 1);
    auto *d = static_cast<IDirect3DVertexDeclaration9 *>(a);
    d->AddRef();
    EXPECT_EQ(d->Release(), 3u);    // the cache's own and two deliveries
    RwD3D9DeleteVertexDeclaration(a);
    RwD3D9DeleteVertexDeclaration(b);
    void *c = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(PositionColour, &c));
    EXPECT_EQ(counting->Count("CreateVertexDeclaration"), 2) << "re-created from the stored copy";
    D3DVERTEXELEMENT9 elements[4];
    UINT n = 4;
    ASSERT_EQ(static_cast<IDirect3DVertexDeclaration9 *>(c)->GetDeclaration(elements, &n), D3D_OK);
    EXPECT_EQ(n, 3u);
    RwD3D9DeleteVertexDeclaration(c);
    RwD3D9DeleteVertexDeclaration(nullptr);
}

TEST_F(DeviceState, DeclarationWithoutEndMarkerIsRefused)
{
    D3DVERTEXELEMENT9 endless[80];
    for (int i = 0; i < 80; i++)
        endless[i] = {0, static_cast<WORD>(i * 4), D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_DEFAULT,
                      D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i)};
    void *d = reinterpret_cast<void *>(1);
    EXPECT_FALSE(RwD3D9CreateVertexDeclaration(endless, &d));
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(counting->Count("CreateVertexDeclaration"), 0);
}

TEST_F(DeviceState, DeclarationChangeForgetsTheVertexFormat)
{
    void *decl = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(PositionColour, &decl));
    RwD3D9SetFVF(D3DFVF_XYZ);
    RwD3D9SetFVF(D3DFVF_XYZ);
    EXPECT_EQ(counting->Count("SetFVF"), 1);
    RwD3D9SetVertexDeclaration(decl);
    RwD3D9SetVertexDeclaration(decl);
    EXPECT_EQ(counting->Count("SetVertexDeclaration"), 1);
    EXPECT_EQ(rwD3D9Cache.lastFVF, 0xFFFFFFFFu);
    RwD3D9SetFVF(D3DFVF_XYZ);
    EXPECT_EQ(counting->Count("SetFVF"), 2);
    RwD3D9SetVertexDeclaration(nullptr);
    RwD3D9DeleteVertexDeclaration(decl);
}

TEST_F(DeviceState, StreamsAndIndicesAreSentOnlyWhenTheyChange)
{
    IDirect3DVertexBuffer9 *vb = nullptr;
    ASSERT_EQ(real->CreateVertexBuffer(256, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    RwD3D9SetStreamSource(0, vb, 0, 16);
    RwD3D9SetStreamSource(0, vb, 0, 16);
    EXPECT_EQ(counting->Count("SetStreamSource"), 1);
    RwD3D9SetStreamSource(0, vb, 32, 16);
    EXPECT_EQ(counting->Count("SetStreamSource"), 2);

    RwD3D9VertexStream streams[2];
    std::memset(streams, 0, sizeof(streams));
    streams[0].vertexBuffer = vb;
    streams[0].offset = 64;
    streams[0].stride = 16;
    // (vb, 0, 16); stream 1 is unknown and is unbound once.
    RwD3D9SetStreams(streams, FALSE);
    EXPECT_EQ(counting->Count("SetStreamSource"), 4);
    EXPECT_EQ(rwD3D9Cache.streams[0].offset, 0u);
    EXPECT_EQ(rwD3D9Cache.streams[1].vertexBuffer, nullptr);
    RwD3D9SetStreams(streams, TRUE);      // (vb, 64, 16)
    EXPECT_EQ(counting->Count("SetStreamSource"), 5);
    RwD3D9SetStreams(streams, TRUE);
    EXPECT_EQ(counting->Count("SetStreamSource"), 5);
    streams[0].vertexBuffer = nullptr;
    RwD3D9SetStreams(streams, TRUE);
    EXPECT_EQ(counting->Count("SetStreamSource"), 6);
    EXPECT_EQ(rwD3D9Cache.streams[0].vertexBuffer, nullptr);
    RwD3D9SetStreams(nullptr, TRUE);   // no streams: nothing to send
    EXPECT_EQ(counting->Count("SetStreamSource"), 6);

    void *ib = nullptr;
    ASSERT_TRUE(RwD3D9CreateIndexBuffer(30, &ib));
    D3DINDEXBUFFER_DESC desc;
    static_cast<IDirect3DIndexBuffer9 *>(ib)->GetDesc(&desc);
    EXPECT_EQ(desc.Size, 60u);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX16);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    RwD3D9SetIndices(ib);
    RwD3D9SetIndices(ib);
    EXPECT_EQ(counting->Count("SetIndices"), 1);
    RwD3D9SetIndices(nullptr);
    RwD3D9SetStreamSource(0, nullptr, 0, 0);
    static_cast<IDirect3DIndexBuffer9 *>(ib)->Release();
    vb->Release();
}

TEST_F(DeviceState, DrawingFlushesQueuedRenderStatesFirst)
{
    struct Vertex {
        float x, y, z;
        DWORD colour;
    };
    IDirect3DVertexBuffer9 *vb = nullptr;
    ASSERT_EQ(real->CreateVertexBuffer(3 * sizeof(Vertex), D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb, nullptr),
              D3D_OK);
    Vertex *v = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, reinterpret_cast<void **>(&v), 0), D3D_OK);
    v[0] = {0, 0, 0.5f, 0xFFFFFFFF};
    v[1] = {1, 0, 0.5f, 0xFFFFFFFF};
    v[2] = {0, 1, 0.5f, 0xFFFFFFFF};
    vb->Unlock();
    void *decl = nullptr;
    ASSERT_TRUE(RwD3D9CreateVertexDeclaration(PositionColour, &decl));
    RwD3D9SetVertexDeclaration(decl);
    RwD3D9SetStreamSource(0, vb, 0, sizeof(Vertex));
    // The hand-out before every test sends the held states at the next flush:
    // that goes first, then two states that change.
    RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    RwD3D9SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);
    RwD3D9FlushRenderStates();
    RwD3D9SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    RwD3D9SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    ASSERT_EQ(real->BeginScene(), D3D_OK);
    counting->ResetLog();
    EXPECT_EQ(RwD3D9DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    ASSERT_EQ(counting->calls.size(), 3u);
    EXPECT_EQ(counting->calls[0], "SetRenderState");
    EXPECT_EQ(counting->calls[1], "SetRenderState");
    EXPECT_EQ(counting->calls[2], "DrawPrimitive");
    counting->ResetLog();
    EXPECT_EQ(RwD3D9DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    EXPECT_EQ(counting->calls.size(), 1u);
    real->EndScene();
    RwD3D9SetStreamSource(0, nullptr, 0, 0);
    RwD3D9SetVertexDeclaration(nullptr);
    RwD3D9DeleteVertexDeclaration(decl);
    vb->Release();
}

TEST_F(DeviceState, RenderTargetsAndDepthAreCached)
{
    IDirect3DSurface9 *colour = rwD3D9Driver.defaultColorSurface;
    IDirect3DSurface9 *depth = rwD3D9Driver.defaultDepthSurface;
    EXPECT_TRUE(RwD3D9SetRenderTargetSurface(0, colour));
    EXPECT_TRUE(RwD3D9SetRenderTargetSurface(0, colour));
    EXPECT_EQ(counting->Count("SetRenderTarget"), 1);
    EXPECT_FALSE(RwD3D9SetRenderTargetSurface(4, colour));
    RwD3D9SetDepthStencilSurface(depth);
    RwD3D9SetDepthStencilSurface(depth);
    EXPECT_EQ(counting->Count("SetDepthStencilSurface"), 1);
    EXPECT_TRUE(RwD3D9SetRenderTargetSurface(1, nullptr));
    EXPECT_EQ(counting->Count("SetRenderTarget"), 1) << "target 1 is known to be empty";
}

TEST_F(DeviceState, ViewportIsSentOnlyWhenTheDeviceDoesNotHoldIt)
{
    IDirect3DSurface9 *colour = rwD3D9Driver.defaultColorSurface;
    D3DSURFACE_DESC desc;
    ASSERT_TRUE(SUCCEEDED(colour->GetDesc(&desc)));
    const D3DVIEWPORT9 full = {0, 0, desc.Width, desc.Height, 0.0f, 1.0f}, part = {8, 8, 64, 64, 0.0f, 1.0f};
    ASSERT_TRUE(RwD3D9SetRenderTargetSurface(0, colour));
    const RwUInt32 filtered = rwD3D9FilteredStateCalls;
    RwD3D9SetViewport(&full);   // the new target already made it the viewport
    EXPECT_EQ(counting->Count("SetViewport"), 0);
    RwD3D9SetViewport(&part);
    RwD3D9SetViewport(&part);
    EXPECT_EQ(counting->Count("SetViewport"), 1);
    EXPECT_EQ(rwD3D9FilteredStateCalls - filtered, 2u);
    D3DVIEWPORT9 held;
    ASSERT_TRUE(SUCCEEDED(real->GetViewport(&held)));
    EXPECT_EQ(held.X, 8u);
    RwD3D9GetCurrentD3DDevice();   // outside code may have changed it
    RwD3D9SetViewport(&part);
    EXPECT_EQ(counting->Count("SetViewport"), 2);
    RwD3D9SetViewport(nullptr);   // no viewport: nothing to send
    EXPECT_EQ(counting->Count("SetViewport"), 2);
}

TEST_F(DeviceState, VertexShaderConstantsAreSentOnlyWhenARegisterChanges)
{
    float values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(RwD3D9SetVertexShaderConstant(10, values, 2));
    EXPECT_TRUE(RwD3D9SetVertexShaderConstant(10, values, 2));
    EXPECT_TRUE(RwD3D9SetVertexShaderConstant(11, values + 4, 1));   // inside what was sent
    EXPECT_EQ(counting->Count("SetVertexShaderConstantF"), 1);
    values[7] = -8;
    EXPECT_TRUE(RwD3D9SetVertexShaderConstant(10, values, 2));
    EXPECT_TRUE(RwD3D9SetVertexShaderConstant(9, values, 2));   // register 9 was never sent
    EXPECT_EQ(counting->Count("SetVertexShaderConstantF"), 3);
    float held[4] = {};
    ASSERT_TRUE(SUCCEEDED(real->GetVertexShaderConstantF(10, held, 1)));
    EXPECT_EQ(held[3], -8.0f);
    RwD3D9GetCurrentD3DDevice();
    EXPECT_TRUE(RwD3D9SetVertexShaderConstant(9, values, 2));
    EXPECT_EQ(counting->Count("SetVertexShaderConstantF"), 4) << "outside code may have changed the registers";
    EXPECT_FALSE(RwD3D9SetVertexShaderConstant(255, values, 2)) << "past the last register the device refuses";
    EXPECT_FALSE(RwD3D9SetVertexShaderConstant(0, nullptr, 1));
}

namespace {

// A camera whose frustum is the box [-1, 1] on every axis.
RwCamera BoxFrustum(void)
{
    RwCamera camera;
    std::memset(&camera, 0, sizeof(camera));
    const RwV3d normals[6] = {{0, 0, 1}, {0, 0, -1}, {-1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}};
    for (int i = 0; i < 6; i++) {
        RwFrustumPlane &p = camera.frustumPlanes[i];
        p.plane.normal = normals[i];
        p.plane.distance = 1.0f;
        p.closestX = normals[i].x >= 0;
        p.closestY = normals[i].y >= 0;
        p.closestZ = normals[i].z >= 0;
    }
    return camera;
}

} // namespace

TEST(FrustumTests, SphereMustLieWhollyInside)
{
    RwCamera camera = BoxFrustum();
    RwSphere s = {{0, 0, 0}, 0.5f};
    EXPECT_TRUE(RwD3D9CameraIsSphereFullyInsideFrustum(&camera, &s));
    s.radius = 1.0f;     // touching the planes still counts as inside
    EXPECT_TRUE(RwD3D9CameraIsSphereFullyInsideFrustum(&camera, &s));
    s.radius = 1.01f;
    EXPECT_FALSE(RwD3D9CameraIsSphereFullyInsideFrustum(&camera, &s));
    s = {{0.6f, 0, 0}, 0.5f};
    EXPECT_FALSE(RwD3D9CameraIsSphereFullyInsideFrustum(&camera, &s));
    s = {{0, 0, -0.4f}, 0.5f};
    EXPECT_TRUE(RwD3D9CameraIsSphereFullyInsideFrustum(&camera, &s));
}

TEST(FrustumTests, BoxUsesTheCornerFurthestAlongEachNormal)
{
    RwCamera camera = BoxFrustum();
    RwBBox box = {{0.5f, 0.5f, 0.5f}, {-0.5f, -0.5f, -0.5f}};
    EXPECT_TRUE(RwD3D9CameraIsBBoxFullyInsideFrustum(&camera, &box));
    box = {{1, 1, 1}, {-1, -1, -1}};
    EXPECT_TRUE(RwD3D9CameraIsBBoxFullyInsideFrustum(&camera, &box));
    box = {{0.5f, 0.5f, 0.5f}, {-1.2f, -0.5f, -0.5f}};
    EXPECT_FALSE(RwD3D9CameraIsBBoxFullyInsideFrustum(&camera, &box));
    box = {{0.5f, 0.5f, 1.5f}, {-0.5f, -0.5f, 0.9f}};
    EXPECT_FALSE(RwD3D9CameraIsBBoxFullyInsideFrustum(&camera, &box));
}
