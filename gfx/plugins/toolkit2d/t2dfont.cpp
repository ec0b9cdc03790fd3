// 2D fonts: the font module, glyph maps, string measuring and the two string renderers.
#include <cstring>

#include "font2d.h"
#include "gfx/core/engine.h"
#include "gfx/core/texture.h"
#include "t2dinternal.h"

static const RwChar DefaultPath[] = "fonts\\";

RwBool Rw2dFontModuleOpen(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    g.fontList = RwFreeListCreateAndPreallocate(sizeof(Rw2dFont), 8, 4, 1, nullptr, rwMEMHINT_2DMODULE);
    g.fontCacheList = RwFreeListCreateAndPreallocate(12, 16, 4, 1, nullptr, rwMEMHINT_2DMODULE);
    g.fontCache = nullptr;
    g.searchPath = nullptr;
    for (RwInt32 i = 0; i < rw2DQUADS; i++) {
        const RwUInt16 b = static_cast<RwUInt16>(4 * i);
        const RwUInt16 quad[6] = {b, static_cast<RwUInt16>(b + 2), static_cast<RwUInt16>(b + 3),
                                  b, static_cast<RwUInt16>(b + 3), static_cast<RwUInt16>(b + 1)};
        std::memcpy(&g.quadIndices[6 * i], quad, sizeof(quad));
    }
    g.glyphCodes = RwGrowArrayCreate(sizeof(RwInt32), rwMEMHINT_2DMODULE);
    g.fontDict = RwTextureDictionaryCreate();
    if (g.fontList && g.fontCacheList && g.glyphCodes && g.fontDict && Rw2dFontSetPath(DefaultPath))
        return TRUE;
    Rw2dFontModuleClose();
    return FALSE;
}

void Rw2dFontModuleClose(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (g.fontDict)
        RwTextureDictionaryDestroy(g.fontDict);
    Rw2dFreeListClose(&g.fontList);
    Rw2dFreeListClose(&g.fontCacheList);
    if (g.glyphCodes)
        RwGrowArrayDestroy(g.glyphCodes);
    RwFree(g.searchPath);
    g.fontDict = nullptr;
    g.glyphCodes = nullptr;
    g.searchPath = nullptr;
    g.fontCache = nullptr;
}

RwBool Rw2dFontSetPath(const RwChar *path)
{
    if (!path)
        return FALSE;
    const size_t n = std::strlen(path) + 1;
    // The buffer holds at least what the default needed.
    RwChar *copy = static_cast<RwChar *>(RwMalloc(n < 81 ? 81 : n, rwMEMHINT_2DMODULE));
    if (!copy)
        return FALSE;
    std::memcpy(copy, path, n);
    RwFree(rw2dGlobals.searchPath);
    rw2dGlobals.searchPath = copy;
    return TRUE;
}

const RwChar *Rw2dFontGetPath(void)
{
    return rw2dGlobals.searchPath;
}

Rw2dFont *Rw2dFontCreate(void)
{
    Rw2dFont *f = static_cast<Rw2dFont *>(Rw2dTake(rw2dGlobals.fontList));
    if (!f)
        return nullptr;
    std::memset(f, 0, sizeof(*f));
    f->type = rw2DFONTOUTLINE;
    f->height = 1.0f;
    std::memset(f->lowMap, 0xFF, sizeof(f->lowMap));
    f->show = Rw2dFontShowBitmap;
    return f;
}

RwBool Rw2dFontDestroy(Rw2dFont *font)
{
    if (!font)
        return FALSE;
    if (font->glyphs) {
        Rw2dGlyph *g = static_cast<Rw2dGlyph *>(font->glyphs->data);
        for (RwInt32 i = 0; i < font->glyphs->count; i++)
            if (g[i].path)
                Rw2dPathDestroy(g[i].path);
        RwGrowArrayDestroy(font->glyphs);
    }
    RwFree(font->highMap);
    for (RwTexture *t : font->textures)
        if (t)
            RwTextureDestroy(t);
    RwFreeListFree(rw2dGlobals.fontList, font);
    return TRUE;
}

Rw2dGlyph *Rw2dFontGetGlyph(Rw2dFont *font, RwUInt32 code)
{
    if (!font || !font->glyphs)
        return nullptr;
    RwUInt32 index = rw2DFONTNOGLYPH;
    if (code < 128)
        index = font->lowMap[code];
    else if (font->highMap && code >= static_cast<RwUInt32>(font->highFirst) &&
             code - static_cast<RwUInt32>(font->highFirst) < static_cast<RwUInt32>(font->highCount))
        index = font->highMap[code - static_cast<RwUInt32>(font->highFirst)];
    if (index == rw2DFONTNOGLYPH || static_cast<RwInt32>(index) >= font->glyphs->count)
        return nullptr;
    return static_cast<Rw2dGlyph *>(font->glyphs->data) + index;
}

// Walks the characters of a string: bytes, or 16-bit little-endian units.
static RwUInt32 NextCode(const Rw2dFont *font, const RwChar **p)
{
    const RwUInt8 *s = reinterpret_cast<const RwUInt8 *>(*p);
    if (font->flags & rw2DFONTWIDECHARS) {
        *p += 2;
        return static_cast<RwUInt32>(s[0] | s[1] << 8);
    }
    *p += 1;
    return s[0];
}

RwReal Rw2dFontGetStringWidth(Rw2dFont *font, const RwChar *string, RwReal height)
{
    if (!font || !string)
        return 0.0f;
    RwReal width = 0.0f;
    for (RwUInt32 code; (code = NextCode(font, &string)) != 0;) {
        const Rw2dGlyph *g = Rw2dFontGetGlyph(font, code);
        if (g)
            width += g->advance + font->intergap;
    }
    return width * height;
}

Rw2dFont *Rw2dFontShow(Rw2dFont *font, const RwChar *string, RwReal height, RwV2d *anchor, Rw2dBrush *brush)
{
    if (!font || !string || !anchor || !brush || !font->show)
        return nullptr;
    return font->show(font, string, height, anchor, brush);
}

// Glyph space: 1.0 is the text height, y = 0 the glyph bottom.
static RwBool PushGlyphSpace(const Rw2dFont *font, RwReal height, const RwV2d *anchor)
{
    if (!Rw2dCTMPush())
        return FALSE;
    Rw2dCTMTranslate(anchor->x, anchor->y);
    Rw2dCTMScale(height, height);
    Rw2dCTMTranslate(0.0f, -font->baseline);
    return TRUE;
}

// Glyph quads always carry texture coordinates and are not clipped.
static void DrawQuads(RwInt32 quads)
{
    if (quads > 0)
        Rw2dImDraw(rw2dGlobals.vertices, 4 * quads, rwPRIMTYPETRILIST, rw2dGlobals.quadIndices, 6 * quads,
                   rwIM3D_VERTEXUV | rwIM3D_NOCLIP);
}

Rw2dFont *Rw2dFontShowBitmap(Rw2dFont *font, const RwChar *string, RwReal height, RwV2d *anchor, Rw2dBrush *brush)
{
    if (!PushGlyphSpace(font, height, anchor))
        return font;
    const RwReal total = Rw2dFontGetStringWidth(font, string, 1.0f);
    const RwReal z = rw2dGlobals.layerDepth;
    RwTexture *current = nullptr;
    RwInt32 quads = 0;
    RwReal pen = 0.0f;
    for (RwUInt32 code; (code = NextCode(font, &string)) != 0;) {
        const Rw2dGlyph *g = Rw2dFontGetGlyph(font, code);
        if (!g)
            continue;
        if (g->texture != current || quads >= rw2DQUADS) {
            DrawQuads(quads);
            quads = 0;
            if (g->texture != current) {
                current = g->texture;
                Rw2dSetTextureStates(current);
                if (brush->texture)
                    brush->flags &= ~rw2DBRUSHUV;
            }
        }
        const RwReal a = g->advance;
        const RwReal s0 = total > 0.0f ? pen / total : 0.0f, s1 = total > 0.0f ? (pen + a) / total : 0.0f;
        RwIm3DVertex *v = &rw2dGlobals.vertices[4 * quads];
        const RwReal xs[4] = {pen, pen, pen + a, pen + a};
        const RwReal ys[4] = {0.0f, 1.0f, 0.0f, 1.0f};
        const RwReal us[4] = {g->uLeft, g->uLeft, g->uRight, g->uRight};
        const RwReal vs[4] = {g->vBottom, g->vTop, g->vBottom, g->vTop};
        for (int k = 0; k < 4; k++) {
            v[k].objVertex = {xs[k], ys[k], z};
            v[k].objNormal = {0.0f, 0.0f, 0.0f};
            v[k].u = us[k];
            v[k].v = vs[k];
            if (brush->flags & rw2DBRUSHGRADIENT) {
                RwRGBAReal c;
                Rw2dBrushSideColor(brush, ys[k] > 0.0f, k < 2 ? s0 : s1, &c);
                v[k].color = Rw2dPackColor(c.red, c.green, c.blue, c.alpha);
            } else {
                v[k].color = Rw2dPackColor(brush->flat.red, brush->flat.green, brush->flat.blue, brush->flat.alpha);
            }
        }
        quads++;
        pen += font->intergap + a;
    }
    DrawQuads(quads);
    anchor->x += pen * height;
    Rw2dCTMPop();
    return font;
}

Rw2dFont *Rw2dFontShowOutline(Rw2dFont *font, const RwChar *string, RwReal height, RwV2d *anchor,
                              Rw2dBrush *brush)
{
    if (!PushGlyphSpace(font, height, anchor))
        return font;
    for (RwUInt32 code; (code = NextCode(font, &string)) != 0;) {
        const Rw2dGlyph *g = Rw2dFontGetGlyph(font, code);
        if (!g || g->texture)
            continue;
        if (g->path)
            Rw2dPathStroke(g->path, brush);
        Rw2dCTMTranslate(font->intergap + g->advance, 0.0f);
    }
    Rw2dCTMPop();
    return font;
}
