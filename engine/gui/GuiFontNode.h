// The record that describes one created GUI font, shared with its measuring buffer.
#pragma once

#include <windows.h>
#include <d3dx9core.h>

struct GuiFontNode {
    char faceName[260];          // zero-terminated, cut to 259 bytes
    ID3DXFont *font;
    int height;                  // pixels, as given at creation
    int weight;
    D3DXCOLOR textColour;        // base colours: every draw ends on them
    D3DXCOLOR outlineColour;
    int outline;                 // non-zero: ring the text in the outline colour
};
static_assert(sizeof(GuiFontNode) == 308, "font node is 308 bytes");
