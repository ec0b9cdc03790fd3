// The GUI's font: a D3DX font on the driver's device with text and outline colours.
#pragma once

#include <windows.h>
#include <d3dx9core.h>

#include "engine/gui/GuiFontNode.h"

class CUniBuffer;

class CKivGuiDxFont {
public:
    CKivGuiDxFont();
    virtual ~CKivGuiDxFont();
    CKivGuiDxFont(const CKivGuiDxFont &) = delete;
    CKivGuiDxFont &operator=(const CKivGuiDxFont &) = delete;

    // Creates the D3DX font on the driver's current device; 1 or 0. idString
    // names the font for its owner only.
    int Create(const char *idString, const char *face, int height, int weight, const D3DXCOLOR &textColour,
               int outline, const D3DXCOLOR &outlineColour);
    int Release();

    // Around every device reset: before it and after it.
    void OnLostDevice();
    void OnResetDevice();

    int GetHeight() const;
    int GetWeight() const;
    void SetColor(DWORD argb);
    // Fades the next draw only: the draw after it uses the base colours again.
    void SetAlpha(float alpha);

    // Text in the ANSI code page, inside an open scene; argb 0 means the
    // font's current colour.
    int DrawText(const char *text, const RECT *rect, DWORD format, DWORD argb);
    int DrawTextPlain(const char *text, const RECT *rect, DWORD format);
    // Draws between these two reach the device together, through one D3DX
    // sprite of this font, when EndBatch runs: the same picture as drawing
    // each on its own, without a sprite and a state capture for every call.
    void BeginBatch();
    void EndBatch();
    // position: x, y, width; flipY 1 takes y as measured up from the
    // viewport's bottom edge.
    int DrawTextAt(const char *text, const float *position, DWORD format, int flipY, int unused);
    int GetTextWidth(const char *text);

    GuiFontNode *GetNode() const { return m_node; }
    const D3DXCOLOR &GetCurrentColor() const { return m_textColour; }
    const D3DXCOLOR &GetCurrentOutlineColor() const { return m_outlineColour; }

    // Height of the viewport that DrawTextAt flips against; the GUI system
    // installs its own. Without one: the back buffer's height.
    typedef int (*ViewportHeightSource)(void);
    static void SetViewportHeightSource(ViewportHeightSource source);

    static DWORD ToArgb(const D3DXCOLOR &colour);
    static D3DXCOLOR FromArgb(DWORD argb);

private:
    void Draw(const char *text, const RECT &rect, DWORD format, DWORD argb);

    IDirect3DDevice9 *m_device = nullptr;
    D3DXCOLOR m_textColour;
    D3DXCOLOR m_outlineColour;
    float m_height = 0;
    GuiFontNode *m_node = nullptr;
    CUniBuffer *m_measure = nullptr;
    // Made at the first batch; follows device loss and reset with the font.
    ID3DXSprite *m_batch = nullptr;
    int m_batchDepth = 0;
    DWORD m_batchDepthTest = 0;
};
