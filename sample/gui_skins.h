// The sample dialog's skins: its background and the images of its button, check box, scroll bar and edit box.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "sample/sample_files.h"

#define KIV_SAMPLE_SKIN "Data/Interface/Sample/"
#define KIV_SAMPLE_SCROLL "Data/Interface/Chat/Multichat/mcscroll_"

const RwRGBA kKivSampleDialogColour = {40, 50, 120, 255};

// How a skin image is painted from its colour.
enum KivSampleShape { kKivSolid, kKivPanel, kKivBox, kKivChecked, kKivArrowUp, kKivArrowDown };

struct KivSampleSkin {
    const char *path;   // without ".png"
    int width, height;
    RwRGBA colour;
    KivSampleShape shape;
};

// The paths the viewer's dialog and the scroll bar's own skin load, at the
// sizes the controls are laid out for; hovered images lighter, pressed darker.
const KivSampleSkin kKivSampleSkins[] = {
    {KIV_SAMPLE_SKIN "dialog", 320, 190, kKivSampleDialogColour, kKivPanel},
    {KIV_SAMPLE_SKIN "button_normal", 100, 30, {70, 110, 200, 255}, kKivPanel},
    {KIV_SAMPLE_SKIN "button_hover", 100, 30, {100, 140, 230, 255}, kKivPanel},
    {KIV_SAMPLE_SKIN "button_down", 100, 30, {45, 75, 150, 255}, kKivPanel},
    {KIV_SAMPLE_SKIN "button_off", 100, 30, {90, 90, 100, 255}, kKivPanel},
    {KIV_SAMPLE_SKIN "check_off", 30, 30, {235, 235, 245, 255}, kKivBox},
    {KIV_SAMPLE_SKIN "check_on", 30, 30, {235, 235, 245, 255}, kKivChecked},
    {KIV_SAMPLE_SKIN "check_hover", 30, 30, {255, 250, 200, 255}, kKivBox},
    {KIV_SAMPLE_SKIN "field", 254, 30, {240, 242, 250, 255}, kKivBox},
    {KIV_SAMPLE_SKIN "caret", 2, 18, {255, 255, 255, 255}, kKivSolid},
    {KIV_SAMPLE_SKIN "selection", 15, 18, {90, 140, 230, 160}, kKivSolid},
    {"Data/Interface/Chat/ime/ime_outline", 8, 8, {200, 200, 220, 255}, kKivSolid},
    {"Data/Interface/Chat/ime/ime_fill", 8, 8, {30, 35, 70, 230}, kKivSolid},
    {"Data/Interface/Chat/ime/ime_focus1", 8, 8, {90, 140, 230, 255}, kKivSolid},
    {"Data/Interface/Chat/ime/ime_focus2", 8, 8, {90, 140, 230, 255}, kKivSolid},
    {KIV_SAMPLE_SCROLL "up0", 14, 14, {170, 190, 240, 255}, kKivArrowUp},
    {KIV_SAMPLE_SCROLL "up1", 14, 14, {210, 225, 255, 255}, kKivArrowUp},
    {KIV_SAMPLE_SCROLL "up2", 14, 14, {120, 140, 200, 255}, kKivArrowUp},
    {KIV_SAMPLE_SCROLL "down0", 14, 14, {170, 190, 240, 255}, kKivArrowDown},
    {KIV_SAMPLE_SCROLL "down1", 14, 14, {210, 225, 255, 255}, kKivArrowDown},
    {KIV_SAMPLE_SCROLL "down2", 14, 14, {120, 140, 200, 255}, kKivArrowDown},
    {KIV_SAMPLE_SCROLL "scroll0_0", 14, 3, {170, 190, 240, 255}, kKivSolid},
    {KIV_SAMPLE_SCROLL "scroll0_1", 14, 86, {170, 190, 240, 255}, kKivPanel},
    {KIV_SAMPLE_SCROLL "scroll0_2", 14, 3, {170, 190, 240, 255}, kKivSolid},
    {KIV_SAMPLE_SCROLL "scroll1_0", 14, 3, {210, 225, 255, 255}, kKivSolid},
    {KIV_SAMPLE_SCROLL "scroll1_1", 14, 86, {210, 225, 255, 255}, kKivPanel},
    {KIV_SAMPLE_SCROLL "scroll1_2", 14, 3, {210, 225, 255, 255}, kKivSolid},
    {KIV_SAMPLE_SCROLL "scroll2_0", 14, 3, {120, 140, 200, 255}, kKivSolid},
    {KIV_SAMPLE_SCROLL "scroll2_1", 14, 86, {120, 140, 200, 255}, kKivPanel},
    {KIV_SAMPLE_SCROLL "scroll2_2", 14, 3, {120, 140, 200, 255}, kKivSolid},
};

inline RwRGBA KivSampleShade(RwRGBA c, int delta)
{
    const auto at = [delta](int v) { return static_cast<RwUInt8>(v + delta < 0 ? 0 : v + delta > 255 ? 255 : v + delta); };
    return {at(c.red), at(c.green), at(c.blue), c.alpha};
}

// Panels: a light rim, transparent corners; boxes: a dark rim; a check mark
// or an arrow in the dark ink over the fill.
inline RwRGBA KivSamplePaint(const KivSampleSkin &skin, int x, int y)
{
    const int w = skin.width, h = skin.height;
    const bool rim = x == 0 || y == 0 || x == w - 1 || y == h - 1;
    const bool corner = (x == 0 || x == w - 1) && (y == 0 || y == h - 1);
    const RwRGBA ink = {25, 30, 60, 255};
    switch (skin.shape) {
    case kKivPanel:
        if (corner)
            return {0, 0, 0, 0};
        return rim ? KivSampleShade(skin.colour, 70) : skin.colour;
    case kKivBox:
    case kKivChecked: {
        if (rim || x == 1 || y == 1 || x == w - 2 || y == h - 2)
            return skin.shape == kKivBox && w > h * 2 ? RwRGBA{150, 160, 210, 255} : ink;
        // Two strokes: down to the bottom third, then up to the top right.
        const int u = x * 12 / w, v = y * 12 / h;
        const bool mark = skin.shape == kKivChecked && ((u >= 2 && u <= 5 && std::abs(v - (u + 4)) <= 1) ||
                                                        (u >= 5 && u <= 10 && std::abs(v - (14 - u)) <= 1));
        return mark ? ink : skin.colour;
    }
    case kKivArrowUp:
    case kKivArrowDown: {
        const int row = skin.shape == kKivArrowUp ? y : h - 1 - y;
        const bool arrow = row >= 4 && row <= 9 && std::abs(2 * x - (w - 1)) <= 2 * (row - 4) + 1;
        return arrow ? ink : (rim ? KivSampleShade(skin.colour, -40) : skin.colour);
    }
    default:
        return skin.colour;
    }
}

inline bool KivSampleWriteSkin(const KivSampleSkin &skin)
{
    RwImage *image = RwImageCreate(skin.width, skin.height, 32);
    bool ok = image && RwImageAllocatePixels(image);
    for (int y = 0; ok && y < skin.height; y++) {
        for (int x = 0; x < skin.width; x++) {
            const RwRGBA c = KivSamplePaint(skin, x, y);
            std::memcpy(image->cpPixels + y * image->stride + 4 * x, &c, 4);
        }
    }
    const std::string path = std::string(skin.path) + ".png";
    KivSampleMakeFolders(path);
    ok = ok && RwImageWritePng(image, path.c_str());
    RwImageDestroy(image);
    return ok;
}

// Every skin into the working folder (the engine must be started).
inline bool KivSampleWriteGuiSkins()
{
    for (const KivSampleSkin &skin : kKivSampleSkins) {
        if (!KivSampleWriteSkin(skin))
            return false;
    }
    return true;
}
