// Renders a world of a few hundred atomics for a few hundred frames and prints, per frame, the Direct3D calls made,
// the draws against the meshes drawn, the state calls the caches filtered out and any redundant one that got through.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/countingdevice.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "bench/benchmode.h"

namespace {

const int kColumns = 20;
const int kRows = 15;
const int kFrames = 300;

// Counts the calls that set a device state to the value it already has.
class RedundancyDevice : public CountingDevice {
public:
    using CountingDevice::CountingDevice;
    int redundant = 0;
    int draws = 0;

    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE s, DWORD v) override
    {
        Same(std::make_tuple(0u, static_cast<DWORD>(s), 0u), v);
        return CountingDevice::SetRenderState(s, v);
    }
    HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE t, DWORD v) override
    {
        Same(std::make_tuple(1u, stage, static_cast<DWORD>(t)), v);
        return CountingDevice::SetTextureStageState(stage, t, v);
    }
    HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE t, DWORD v) override
    {
        Same(std::make_tuple(2u, sampler, static_cast<DWORD>(t)), v);
        return CountingDevice::SetSamplerState(sampler, t, v);
    }
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD stage, IDirect3DBaseTexture9 *t) override
    {
        Same(std::make_tuple(3u, stage, 0u), reinterpret_cast<uintptr_t>(t));
        return CountingDevice::SetTexture(stage, t);
    }
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9 *b) override
    {
        Same(std::make_tuple(4u, 0u, 0u), reinterpret_cast<uintptr_t>(b));
        return CountingDevice::SetIndices(b);
    }
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT n, IDirect3DVertexBuffer9 *b, UINT offset, UINT stride) override
    {
        Same(std::make_tuple(5u, n, 0u), reinterpret_cast<uintptr_t>(b) ^ (static_cast<uintptr_t>(offset) << 1) ^
                                             (static_cast<uintptr_t>(stride) << 24));
        return CountingDevice::SetStreamSource(n, b, offset, stride);
    }
    HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9 *d) override
    {
        Same(std::make_tuple(6u, 0u, 0u), reinterpret_cast<uintptr_t>(d));
        return CountingDevice::SetVertexDeclaration(d);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9 *v) override
    {
        Same(std::make_tuple(7u, 0u, 0u), reinterpret_cast<uintptr_t>(v));
        return CountingDevice::SetVertexShader(v);
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE t, INT base, UINT min, UINT n, UINT start,
                                                   UINT count) override
    {
        draws++;
        return CountingDevice::DrawIndexedPrimitive(t, base, min, n, start, count);
    }

private:
    std::map<std::tuple<unsigned, DWORD, DWORD>, uintptr_t> last;

    void Same(std::tuple<unsigned, DWORD, DWORD> key, uintptr_t value)
    {
        auto found = last.find(key);
        if (found != last.end() && found->second == value) {
            redundant++;
        }
        last[key] = value;
    }
};

LRESULT CALLBACK WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(w, m, wp, lp);
}

RwTexture *Texture(RwUInt32 argb)
{
    RwRaster *raster = RwRasterCreate(4, 4, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwUInt8 *p = RwRasterLock(raster, 0, rwRASTERLOCKWRITE);
    for (int y = 0; y < 4; y++) {
        for (int x = 0; x < 4; x++) {
            std::memcpy(p + y * raster->stride + 4 * x, &argb, 4);
        }
    }
    RwRasterUnlock(raster);
    return RwTextureCreate(raster);
}

// A unit box of two meshes: its sides in one material, top and bottom in the other.
RwGeometry *Box(RwMaterial *sides, RwMaterial *caps, RwReal height)
{
    RwGeometry *g = RwGeometryCreate(24, 12, rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | rwGEOMETRYLIGHT |
                                                 rwGEOMETRYPOSITIONS);
    RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
    const RwV3d normals[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}, {0, 1, 0}, {0, -1, 0}};
    for (int f = 0; f < 6; f++) {
        const RwV3d n = normals[f];
        const RwV3d u = n.y != 0 ? RwV3d{1, 0, 0} : RwV3d{0, 1, 0};
        const RwV3d v = {n.y * u.z - n.z * u.y, n.z * u.x - n.x * u.z, n.x * u.y - n.y * u.x};
        for (int i = 0; i < 4; i++) {
            const RwReal a = (i & 1) ? 0.5f : -0.5f;
            const RwReal b = (i & 2) ? 0.5f : -0.5f;
            const int k = 4 * f + i;
            m->verts[k] = {0.5f * n.x + a * u.x + b * v.x, height * (0.5f * n.y + a * u.y + b * v.y),
                           0.5f * n.z + a * u.z + b * v.z};
            m->normals[k] = n;
            g->texCoords[0][k] = {a + 0.5f, b + 0.5f};
        }
        for (int t = 0; t < 2; t++) {
            const RwUInt16 k = static_cast<RwUInt16>(4 * f);
            RwTriangle &tri = g->triangles[2 * f + t];
            tri = t ? RwTriangle{{static_cast<RwUInt16>(k + 1), static_cast<RwUInt16>(k + 3),
                                  static_cast<RwUInt16>(k + 2)}, 0}
                    : RwTriangle{{k, static_cast<RwUInt16>(k + 1), static_cast<RwUInt16>(k + 2)}, 0};
            RwGeometryTriangleSetMaterial(g, &tri, f >= 4 ? caps : sides);
        }
    }
    m->boundingSphere = {{0, 0, 0}, height};
    RwGeometryUnlock(g);
    return g;
}

}  // namespace

int main()
{
    KivBenchSayDirect3DMode(true);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KivRenderBench";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    RwEngineOpenParams params = {window};
    if (!window || !RwEngineInit(nullptr, 0, 0x400000) || !RwWorldPluginAttach() || !RwEngineOpen(&params) ||
        !RwEngineSetVideoMode(0) || !RwEngineStart()) {
        std::printf("the graphics library did not start\n");
        return 1;
    }
    const RwBBox box = {{100, 100, 100}, {-100, -100, -100}};
    RwWorld *world = RwWorldCreate(&box);
    RwTexture *red = Texture(0xFFC04040);
    RwTexture *grey = Texture(0xFFA0A0A0);
    RwMaterial *sides = RwMaterialCreate();
    RwMaterial *caps = RwMaterialCreate();
    RwMaterialSetTexture(sides, red);
    RwMaterialSetTexture(caps, grey);
    RwGeometry *shapes[3] = {Box(sides, caps, 1.0f), Box(sides, caps, 2.0f), Box(caps, sides, 0.5f)};
    RwClump *clump = RwClumpCreate();
    RwClumpSetFrame(clump, RwFrameCreate());
    int meshes = 0;
    for (int i = 0; i < kColumns * kRows; i++) {
        RwAtomic *a = RwAtomicCreate();
        RwGeometry *g = shapes[i % 3];
        RwAtomicSetGeometry(a, g, 0);
        RwFrame *f = RwFrameCreate();
        const RwV3d at = {2.0f * (i % kColumns) - kColumns, 0.0f, 2.0f * (i / kColumns)};
        RwFrameTranslate(f, &at, rwCOMBINEREPLACE);
        RwFrameAddChild(RwClumpGetFrame(clump), f);
        RwAtomicSetFrame(a, f);
        RwClumpAddAtomic(clump, a);
        meshes += g->mesh->numMeshes;
    }
    RwWorldAddClump(world, clump);
    RwLight *lights[2] = {RwLightCreate(rwLIGHTAMBIENT), RwLightCreate(rwLIGHTDIRECTIONAL)};
    const RwRGBAReal dim = {0.3f, 0.3f, 0.3f, 1.0f};
    RwLightSetColor(lights[0], &dim);
    for (RwLight *l : lights) {
        RwFrame *f = RwFrameCreate();
        const RwV3d x = {1, 0, 0};
        RwFrameRotate(f, &x, 60.0f, rwCOMBINEREPLACE);
        RwLightSetFrame(l, f);
        RwWorldAddLight(world, l);
    }
    RwCamera *camera = RwCameraCreate();
    RwFrame *cameraFrame = RwFrameCreate();
    const RwV3d xAxis = {1, 0, 0};
    const RwV3d back = {0, 18, -14};
    RwFrameRotate(cameraFrame, &xAxis, 40.0f, rwCOMBINEREPLACE);
    RwFrameTranslate(cameraFrame, &back, rwCOMBINEPOSTCONCAT);
    RwCameraSetFrame(camera, cameraFrame);
    camera->frameBuffer = RwRasterCreate(1024, 768, 0, rwRASTERTYPECAMERA);
    camera->zBuffer = RwRasterCreate(1024, 768, 0, rwRASTERTYPEZBUFFER);
    RwCameraSetFarClipPlane(camera, 300.0f);
    RwWorldAddCamera(world, camera);

    IDirect3DDevice9 *real = rwD3D9Driver.device;
    RedundancyDevice *device = new RedundancyDevice(real);
    rwD3D9Driver.device = device;
    int worst = 0;
    bool drawsMatch = true;
    for (int frame = 0; frame < kFrames; frame++) {
        device->ResetLog();
        device->redundant = 0;
        device->draws = 0;
        const RwUInt32 filtered = rwD3D9FilteredStateCalls;
        const RwRGBA sky = {40, 60, 90, 255};
        RwCameraClear(camera, const_cast<RwRGBA *>(&sky), rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
        if (RwCameraBeginUpdate(camera)) {
            RwWorldRender(world);
            RwCameraEndUpdate(camera);
        }
        RwCameraShowRaster(camera, window, 0);
        std::printf("frame %3d: %5zu Direct3D calls, %4d draws for %4d meshes, %5u state calls filtered, "
                    "%d redundant reached the device\n",
                    frame, device->calls.size(), device->draws, meshes, rwD3D9FilteredStateCalls - filtered,
                    device->redundant);
        worst = device->redundant > worst ? device->redundant : worst;
        drawsMatch = drawsMatch && device->draws == meshes;
    }
    std::printf("%s: at most %d redundant state calls a frame; draws %s meshes drawn\n",
                worst == 0 && drawsMatch ? "target met" : "target missed", worst, drawsMatch ? "equal" : "differ from");
    rwD3D9Driver.device = real;
    delete device;

    RwWorldRemoveCamera(world, camera);
    RwCameraSetFrame(camera, nullptr);
    RwRasterDestroy(camera->frameBuffer);
    RwRasterDestroy(camera->zBuffer);
    camera->frameBuffer = camera->zBuffer = nullptr;
    RwCameraDestroy(camera);
    RwFrameDestroy(cameraFrame);
    for (RwLight *l : lights) {
        RwWorldRemoveLight(world, l);
        RwFrame *f = RwLightGetFrame(l);
        RwLightSetFrame(l, nullptr);
        RwFrameDestroy(f);
        RwLightDestroy(l);
    }
    RwWorldRemoveClump(world, clump);
    RwClumpDestroy(clump);
    for (RwGeometry *g : shapes) {
        RwGeometryDestroy(g);
    }
    RwMaterialDestroy(sides);
    RwMaterialDestroy(caps);
    RwTextureDestroy(red);
    RwTextureDestroy(grey);
    RwWorldDestroy(world);
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    DestroyWindow(window);
    return worst == 0 && drawsMatch ? 0 : 1;
}
