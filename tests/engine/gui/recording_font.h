// A D3DX font stand-in that forwards to the real one and notes draws, losses and resets.
#pragma once

#include <windows.h>
#include <d3dx9core.h>

#include <string>
#include <vector>

#include "engine/gui/GuiFontNode.h"

#define KIV_PASS(type, name, params, args)                                                                      \
    type STDMETHODCALLTYPE name params override { return real->name args; }

// Forwards to a real D3DX font, noting each draw with the depth test the
// device had then, and each loss and reset with the device's condition.
class RecordingFont : public ID3DXFont {
public:
    struct Draw {
        RECT rect;
        D3DCOLOR colour;
        DWORD zEnable;
        std::string text;
        DWORD format;
    };
    ID3DXFont *real = nullptr;
    IDirect3DDevice9 *device = nullptr;
    std::vector<Draw> draws;
    std::string events;

    RecordingFont(GuiFontNode *node, IDirect3DDevice9 *d) : real(node->font), device(d) { node->font = this; }
    KIV_PASS(HRESULT, QueryInterface, (REFIID r, void **o), (r, o))
    KIV_PASS(ULONG, AddRef, (), ())
    KIV_PASS(ULONG, Release, (), ())
    KIV_PASS(HRESULT, GetDevice, (IDirect3DDevice9 * *d), (d))
    KIV_PASS(HRESULT, GetDescA, (D3DXFONT_DESCA * d), (d))
    KIV_PASS(HRESULT, GetDescW, (D3DXFONT_DESCW * d), (d))
    KIV_PASS(WINBOOL, GetTextMetricsA, (TEXTMETRICA * m), (m))
    KIV_PASS(WINBOOL, GetTextMetricsW, (TEXTMETRICW * m), (m))
    KIV_PASS(HDC, GetDC, (), ())
    KIV_PASS(HRESULT, GetGlyphData, (UINT g, IDirect3DTexture9 **t, RECT *b, POINT *c), (g, t, b, c))
    KIV_PASS(HRESULT, PreloadCharacters, (UINT f, UINT l), (f, l))
    KIV_PASS(HRESULT, PreloadGlyphs, (UINT f, UINT l), (f, l))
    KIV_PASS(HRESULT, PreloadTextA, (const char *s, INT n), (s, n))
    KIV_PASS(HRESULT, PreloadTextW, (const WCHAR *s, INT n), (s, n))
    KIV_PASS(INT, DrawTextW, (ID3DXSprite * s, const WCHAR *t, INT n, RECT *r, DWORD f, D3DCOLOR c),
             (s, t, n, r, f, c))
    INT STDMETHODCALLTYPE DrawTextA(ID3DXSprite *s, const char *t, INT n, RECT *r, DWORD f, D3DCOLOR c) override
    {
        DWORD z = 0xDEAD;
        device->GetRenderState(D3DRS_ZENABLE, &z);
        draws.push_back({*r, c, z, n < 0 ? std::string(t) : std::string(t, n), f});
        return real->DrawTextA(s, t, n, r, f, c);
    }
    HRESULT STDMETHODCALLTYPE OnLostDevice() override
    {
        events += device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET ? "lost-before-reset " : "lost ";
        return real->OnLostDevice();
    }
    HRESULT STDMETHODCALLTYPE OnResetDevice() override
    {
        events += device->TestCooperativeLevel() == D3D_OK ? "reset-after-reset " : "reset ";
        return real->OnResetDevice();
    }
};
