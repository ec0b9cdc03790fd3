// One started device per test program, seen through a recording wrapper, and pixel read-back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "countingdevice.h"
#include "d3d9readback.h"
#include "d3d9window.h"
#include "gfx/core/engine.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9standard.h"

// Records the render states sent and can refuse vertex-buffer creation and
// textures that can be drawn into.
class RecordingDevice : public CountingDevice {
public:
    using CountingDevice::CountingDevice;
    std::vector<std::pair<DWORD, DWORD>> renderStates;
    bool refuseVertexBuffers = false;
    int refusedVertexBuffers = 0;   // the next this many are refused
    bool refuseTargetTextures = false;

    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override
    {
        renderStates.emplace_back(state, value);
        return CountingDevice::SetRenderState(state, value);
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9 **buffer, HANDLE *shared) override
    {
        if (refuseVertexBuffers || refusedVertexBuffers > 0) {
            refusedVertexBuffers -= refusedVertexBuffers > 0 ? 1 : 0;
            calls.emplace_back("CreateVertexBuffer refused");
            return E_OUTOFMEMORY;
        }
        return CountingDevice::CreateVertexBuffer(length, usage, fvf, pool, buffer, shared);
    }
    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9 **texture, HANDLE *shared) override
    {
        if (refuseTargetTextures && (usage & D3DUSAGE_RENDERTARGET))
            return Refuse("CreateTexture");
        return CountingDevice::CreateTexture(width, height, levels, usage, format, pool, texture, shared);
    }

    // Surface copies that break the documented pool rules are refused, as
    // drivers refuse them (Wine lets some through).
    bool strictCopies = false;
    // The calls refused since the log was last reset, one a line.
    std::string Refusals() const
    {
        std::string out;
        for (const std::string &c : calls)
            if (c.find(" refused") != std::string::npos)
                out += c + "\n";
        return out;
    }
    // Every SetTransform, every SetLight, every LightEnable is refused.
    bool refuseTransforms = false;
    bool refuseLights = false;
    bool refuseLightEnables = false;
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD index, BOOL enable) override
    {
        return refuseLightEnables ? Refuse("LightEnable") : CountingDevice::LightEnable(index, enable);
    }
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override
    {
        return refuseTransforms ? Refuse("SetTransform") : CountingDevice::SetTransform(state, matrix);
    }
    HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT9 *light) override
    {
        return refuseLights ? Refuse("SetLight") : CountingDevice::SetLight(index, light);
    }
    // The next `refusedTargets` SetRenderTarget calls are refused.
    int refusedTargets = 0;
    HRESULT STDMETHODCALLTYPE SetRenderTarget(DWORD index, IDirect3DSurface9 *surface) override
    {
        if (refusedTargets > 0) {
            refusedTargets--;
            return Refuse("SetRenderTarget");
        }
        return CountingDevice::SetRenderTarget(index, surface);
    }
    // Every SetMaterial is refused.
    bool refuseMaterials = false;
    HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9 *material) override
    {
        return refuseMaterials ? Refuse("SetMaterial") : CountingDevice::SetMaterial(material);
    }
    // A device loss as switching away from the game makes it: a Present with
    // `loseAtPresent` reports the loss, or else the `loseAtCheck`-th
    // TestCooperativeLevel from now (inside a frame, as a loss mostly is
    // first seen); TestCooperativeLevel then reports it for `lostChecks`
    // calls and asks for a reset after that; the first `refusedResets` resets
    // fail as on a device lost again. `checks` counts every TestCooperativeLevel.
    bool loseAtPresent = false;
    bool lost = false;
    int loseAtCheck = 0;
    int lostChecks = 0;
    int refusedResets = 0;
    int checks = 0;
    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override
    {
        checks++;
        if (loseAtCheck > 0 && --loseAtCheck == 0 && !lost) {
            lost = true;
            Note("TestCooperativeLevel");
            return D3DERR_DEVICELOST;
        }
        if (!lost)
            return CountingDevice::TestCooperativeLevel();
        Note("TestCooperativeLevel");
        if (lostChecks > 0) {
            lostChecks--;
            return D3DERR_DEVICELOST;
        }
        return D3DERR_DEVICENOTRESET;
    }
    HRESULT STDMETHODCALLTYPE Present(const RECT *from, const RECT *to, HWND window, const RGNDATA *dirty) override
    {
        if (loseAtPresent) {
            loseAtPresent = false;
            lost = true;
        }
        if (lost) {
            Note("Present");
            return D3DERR_DEVICELOST;
        }
        return CountingDevice::Present(from, to, window, dirty);
    }
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS *parameters) override
    {
        if (lost && (lostChecks > 0 || refusedResets > 0)) {
            refusedResets -= lostChecks > 0 ? 0 : 1;
            Note("Reset");
            return D3DERR_DEVICELOST;
        }
        const HRESULT hr = CountingDevice::Reset(parameters);
        lost = lost && FAILED(hr);
        return hr;
    }
    // Every UpdateSurface is refused, as a device out of video memory would.
    bool refuseSurfaceUpdates = false;
    HRESULT STDMETHODCALLTYPE UpdateSurface(IDirect3DSurface9 *from, const RECT *rect, IDirect3DSurface9 *to,
                                            const POINT *at) override
    {
        if (refuseSurfaceUpdates)
            return Refuse("UpdateSurface");
        if (strictCopies && (Desc(from).Pool != D3DPOOL_SYSTEMMEM || Desc(to).Pool != D3DPOOL_DEFAULT ||
                             Desc(from).Format != Desc(to).Format))
            return Refuse("UpdateSurface");
        return CountingDevice::UpdateSurface(from, rect, to, at);
    }
    HRESULT STDMETHODCALLTYPE GetRenderTargetData(IDirect3DSurface9 *from, IDirect3DSurface9 *to) override
    {
        const D3DSURFACE_DESC a = Desc(from), b = Desc(to);
        if (strictCopies && (!IsTarget(from) || b.Pool != D3DPOOL_SYSTEMMEM || a.Format != b.Format ||
                             a.Width != b.Width || a.Height != b.Height))
            return Refuse("GetRenderTargetData");
        return CountingDevice::GetRenderTargetData(from, to);
    }
    HRESULT STDMETHODCALLTYPE StretchRect(IDirect3DSurface9 *from, const RECT *rect, IDirect3DSurface9 *to,
                                          const RECT *toRect, D3DTEXTUREFILTERTYPE filter) override
    {
        if (strictCopies && (from == to || Desc(from).Pool != D3DPOOL_DEFAULT || !IsTarget(to)))
            return Refuse("StretchRect");
        return CountingDevice::StretchRect(from, rect, to, toRect, filter);
    }
    HRESULT STDMETHODCALLTYPE ColorFill(IDirect3DSurface9 *surface, const RECT *rect, D3DCOLOR colour) override
    {
        if (strictCopies && !IsTarget(surface) && !IsPlainSurface(surface))
            return Refuse("ColorFill");
        return CountingDevice::ColorFill(surface, rect, colour);
    }

private:
    static D3DSURFACE_DESC Desc(IDirect3DSurface9 *surface)
    {
        D3DSURFACE_DESC desc = {};
        if (surface)
            surface->GetDesc(&desc);
        return desc;
    }
    static bool IsTarget(IDirect3DSurface9 *surface)
    {
        const D3DSURFACE_DESC desc = Desc(surface);
        return desc.Pool == D3DPOOL_DEFAULT && (desc.Usage & D3DUSAGE_RENDERTARGET);
    }
    // An offscreen surface of the default pool, not a texture's level.
    static bool IsPlainSurface(IDirect3DSurface9 *surface)
    {
        void *texture = nullptr;
        if (surface && SUCCEEDED(surface->GetContainer(__uuidof(IDirect3DBaseTexture9), &texture))) {
            static_cast<IDirect3DBaseTexture9 *>(texture)->Release();
            return false;
        }
        const D3DSURFACE_DESC desc = Desc(surface);
        return desc.Pool == D3DPOOL_DEFAULT && !(desc.Usage & D3DUSAGE_DEPTHSTENCIL);
    }
    HRESULT Refuse(const char *call)
    {
        calls.emplace_back(std::string(call) + " refused");
        return D3DERR_INVALIDCALL;
    }
};

class StartedDevice : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (RwEngineGetStatus() == rwENGINESTATUSIDLE) {
            ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
        }
        window = KivTestCreateWindow(1024, 768);
        RwEngineOpenParams params = {window};
        ASSERT_TRUE(RwEngineOpen(&params));
        ASSERT_TRUE(RwEngineSetVideoMode(0));
        ASSERT_TRUE(RwEngineStart());
    }

    static void TearDownTestSuite()
    {
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
        DestroyWindow(window);
    }

    void SetUp() override
    {
        real = rwD3D9Driver.device;
        ASSERT_NE(real, nullptr);
        device = new RecordingDevice(real);
        rwD3D9Driver.device = device;
    }

    void TearDown() override
    {
        if (rwD3D9Driver.inScene) {
            real->EndScene();
            rwD3D9Driver.inScene = FALSE;
        }
        rwD3D9Driver.device = real;
        delete device;
    }

    // Puts the device into the state that needs a reset: the driver's own
    // release and reset, failing once (a default-pool buffer outside it is
    // alive). Then lets the driver release, reset and restore. No reset
    // bypasses the driver's release: one made while lights are on costs the
    // device light slots for good.
    bool ForceReset()
    {
        IDirect3DVertexBuffer9 *pinned = nullptr;
        if (FAILED(real->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &pinned, nullptr)))
            return false;
        D3DPRESENT_PARAMETERS p = rwD3D9Driver.present;
        RwD3D9ReleaseDeviceResources();
        real->Reset(&p);
        pinned->Release();
        if (real->TestCooperativeLevel() != D3DERR_DEVICENOTRESET)
            return false;
        return RwD3D9CheckDeviceReset() && real->TestCooperativeLevel() == D3D_OK;
    }

    // The RGB of one back-buffer pixel.
    DWORD ReadPixel(int x, int y) { return ::ReadPixel(real, rwD3D9Driver.defaultColorSurface, x, y); }

    static inline HWND window;
    IDirect3DDevice9 *real = nullptr;
    RecordingDevice *device = nullptr;
};

// A screen-space vertex with a colour.
struct ScreenVertex {
    float x, y, z, rhw;
    DWORD colour;
};
static_assert(sizeof(ScreenVertex) == 20, "screen vertex is 20 bytes");

inline void FillQuad(ScreenVertex *v, float x, float y, float size, DWORD colour)
{
    v[0] = {x, y, 0.5f, 1, colour};
    v[1] = {x + size, y, 0.5f, 1, colour};
    v[2] = {x, y + size, 0.5f, 1, colour};
    v[3] = {x + size, y + size, 0.5f, 1, colour};
}

// Channels within a small tolerance.
inline bool NearColour(DWORD a, DWORD b, int tolerance = 3)
{
    for (int shift = 0; shift < 24; shift += 8) {
        int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance)
            return false;
    }
    return true;
}
