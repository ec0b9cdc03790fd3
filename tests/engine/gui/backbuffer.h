// Copies the driver's 1024x768 back buffer into memory, one DWORD per pixel.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <cstring>
#include <vector>

#include "gfx/d3d9/d3d9device.h"

// Empty when the copy cannot be made.
inline std::vector<DWORD> CopyBackBuffer(IDirect3DDevice9 *device)
{
    std::vector<DWORD> pixels;
    IDirect3DSurface9 *copy = nullptr;
    D3DLOCKED_RECT locked;
    if (FAILED(device->CreateOffscreenPlainSurface(1024, 768, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr)))
        return pixels;
    if (SUCCEEDED(device->GetRenderTargetData(rwD3D9Driver.defaultColorSurface, copy)) &&
        SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        pixels.assign(1024 * 768, 0);
        for (int y = 0; y < 768; y++)
            std::memcpy(&pixels[y * 1024], static_cast<BYTE *>(locked.pBits) + y * locked.Pitch, 4096);
        copy->UnlockRect();
    }
    copy->Release();
    return pixels;
}
