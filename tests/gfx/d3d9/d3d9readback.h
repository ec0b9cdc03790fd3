// Reads pixels of a render target back from the device.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <vector>

// Calls read(locked, desc) on a locked system-memory copy of a render target;
// FALSE when no copy could be made.
template <class Read>
bool ReadRenderTarget(IDirect3DDevice9 *device, IDirect3DSurface9 *source, Read read)
{
    D3DSURFACE_DESC desc;
    source->GetDesc(&desc);
    IDirect3DSurface9 *copy = nullptr;
    if (FAILED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                   nullptr)))
        return false;
    D3DLOCKED_RECT locked;
    const bool ok = SUCCEEDED(device->GetRenderTargetData(source, copy)) &&
                    SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY));
    if (ok) {
        read(locked, desc);
        copy->UnlockRect();
    }
    copy->Release();
    return ok;
}

inline DWORD LockedPixel(const D3DLOCKED_RECT &locked, UINT x, UINT y)
{
    return reinterpret_cast<const DWORD *>(static_cast<const BYTE *>(locked.pBits) + y * locked.Pitch)[x] & 0xFFFFFF;
}

// The RGB of one pixel of a render target.
inline DWORD ReadPixel(IDirect3DDevice9 *device, IDirect3DSurface9 *source, int x, int y)
{
    DWORD value = 0xDEADBEEF;
    ReadRenderTarget(device, source, [&](const D3DLOCKED_RECT &locked, const D3DSURFACE_DESC &) {
        value = LockedPixel(locked, static_cast<UINT>(x), static_cast<UINT>(y));
    });
    return value;
}

// The RGB of every pixel of a render target, row after row (empty when it cannot be read).
inline std::vector<DWORD> ReadPixels(IDirect3DDevice9 *device, IDirect3DSurface9 *source)
{
    std::vector<DWORD> pixels;
    ReadRenderTarget(device, source, [&](const D3DLOCKED_RECT &locked, const D3DSURFACE_DESC &desc) {
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x)
                pixels.push_back(LockedPixel(locked, x, y));
    });
    return pixels;
}
