// 2D fonts: bitmap and outline glyphs read from .met files, measured and drawn.
#pragma once

#include "toolkit2d.h"

struct Rw2dFont;
typedef Rw2dFont *(*Rw2dFontShowFunction)(Rw2dFont *font, const RwChar *string, RwReal height, RwV2d *anchor,
                                          Rw2dBrush *brush);

enum : RwInt32 { rw2DFONTBITMAP = 0, rw2DFONTOUTLINE = 1 };
enum : RwUInt32 { rw2DFONTWIDECHARS = 0x2, rw2DFONTIMAGES = 4, rw2DFONTNOGLYPH = 0xFFFF };

struct Rw2dGlyph {
    RwReal advance;         // width over height
    RwTexture *texture;
    RwReal uLeft, vTop, uRight, vBottom;
    Rw2dPath *path;
    RwUInt8 image;
    RwUInt8 pad[3];
};
static_assert(sizeof(Rw2dGlyph) == 32, "glyph is 32 bytes");

struct Rw2dFont {
    RwInt32 type;
    RwReal height;
    RwReal baseline;
    RwReal intergap;
    RwUInt32 flags;
    RwTexture *textures[rw2DFONTIMAGES];
    RwUInt16 lowMap[128];
    RwInt32 highFirst;
    RwInt32 highCount;
    RwUInt16 *highMap;
    RwInt32 glyphCount;
    RwGrowArray *glyphs;
    Rw2dFontShowFunction show;
    RwUInt32 reserved[2];
};
static_assert(sizeof(Rw2dFont) == 324, "font is 324 bytes");

Rw2dFont *Rw2dFontCreate(void);
RwBool Rw2dFontDestroy(Rw2dFont *font);
Rw2dFont *Rw2dFontRead(const RwChar *name);
RwReal Rw2dFontGetStringWidth(Rw2dFont *font, const RwChar *string, RwReal height);
Rw2dFont *Rw2dFontShow(Rw2dFont *font, const RwChar *string, RwReal height, RwV2d *anchor, Rw2dBrush *brush);
// The ';'-separated directories searched for .met files ("fonts\" at open).
RwBool Rw2dFontSetPath(const RwChar *path);
const RwChar *Rw2dFontGetPath(void);
// The glyph of a character code, or NULL.
Rw2dGlyph *Rw2dFontGetGlyph(Rw2dFont *font, RwUInt32 code);
Rw2dFont *Rw2dFontShowBitmap(Rw2dFont *font, const RwChar *string, RwReal height, RwV2d *anchor, Rw2dBrush *brush);
Rw2dFont *Rw2dFontShowOutline(Rw2dFont *font, const RwChar *string, RwReal height, RwV2d *anchor,
                              Rw2dBrush *brush);
