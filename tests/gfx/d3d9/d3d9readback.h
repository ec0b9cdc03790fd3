// Reads one pixel of a render target back from the device.
#pragma once

#include <windows.h>
#include <d3d9.h>

// The RGB of one pixel of a render target, read through a system-memory copy.
inline DWORD ReadPixel(IDirect3DDevice9 *device, IDirect3DSurface9 *source, int x, int y)
{
    D3DSURFACE_DESC desc;
    source->GetDesc(&desc);
    IDirect3DSurface9 *copy = nullptr;
    if (FAILED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                   nullptr)))
        return 0xDEADBEEF;
    DWORD value = 0xDEADBEEF;
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(device->GetRenderTargetData(source, copy)) &&
        SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        value = reinterpret_cast<const DWORD *>(static_cast<const BYTE *>(locked.pBits) + y * locked.Pitch)[x] &
                0xFFFFFF;
        copy->UnlockRect();
    }
    copy->Release();
    return value;
}
