// Draws a raster's texture over the whole back buffer and reads a texel back.
#pragma once

#include "d3d9readback.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9raster.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"

// The back buffer's RGB at the centre of texel (tx, ty) of level 0, drawn with
// point sampling and no blending; the driver's caches are emptied afterwards.
inline DWORD DrawTexel(RwRaster *raster, int tx, int ty)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    D3DSURFACE_DESC back;
    rwD3D9Driver.defaultColorSurface->GetDesc(&back);
    const float w = static_cast<float>(back.Width) - 0.5f, h = static_cast<float>(back.Height) - 0.5f;
    struct Vertex {
        float x, y, z, rhw, u, v;
    } quad[4] = {{-0.5f, -0.5f, 0, 1, 0, 0}, {w, -0.5f, 0, 1, 1, 0}, {-0.5f, h, 0, 1, 0, 1}, {w, h, 0, 1, 1, 1}};
    device->SetRenderTarget(0, rwD3D9Driver.defaultColorSurface);
    device->SetTexture(0, static_cast<IDirect3DBaseTexture9 *>(RwD3D9RasterGetExtension(raster)->texture));
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    device->BeginScene();
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
    device->EndScene();
    device->SetTexture(0, nullptr);
    RwD3D9SetTextureRaster(nullptr, 0);
    RwD3D9GetCurrentD3DDevice();
    int x = static_cast<int>((tx + 0.5) * back.Width / raster->width);
    int y = static_cast<int>((ty + 0.5) * back.Height / raster->height);
    return ReadPixel(device, rwD3D9Driver.defaultColorSurface, x, y);
}

inline bool NearChannel(int a, int b, int tolerance)
{
    return a - b <= tolerance && b - a <= tolerance;
}

// TRUE when an X8R8G8B8 read-back is within the tolerance of the colour on every channel.
inline bool NearRGB(DWORD got, RwRGBA want, int tolerance)
{
    return NearChannel((got >> 16) & 0xFF, want.red, tolerance) && NearChannel((got >> 8) & 0xFF, want.green, tolerance) &&
           NearChannel(got & 0xFF, want.blue, tolerance);
}
