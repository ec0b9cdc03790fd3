// Reading .met font descriptions: bitmap fonts (METRICS1, METRICS2) and outline fonts (METRICS3).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "font2d.h"
#include "gfx/core/filesys.h"
#include "gfx/core/finite.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "t2dinternal.h"

namespace {

enum : RwInt32 { LineSize = 256, NameSize = 32, MaxCode = 0xFFFF };

struct Reader {
    RwFile *file;
    Rw2dFont *font;
    RwChar line[LineSize];
};

RwBool ReadLine(Reader &r)
{
    return RwFgets(r.line, LineSize, r.file) != nullptr;
}

// Up to `max` whitespace-separated words of the line, each shorter than NameSize;
// the number found, or -1 for a word too long or more words than max.
RwInt32 Words(const RwChar *line, RwChar (*words)[NameSize], RwInt32 max)
{
    RwInt32 n = 0;
    const RwChar *p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
            p++;
        if (!*p)
            return n;
        const RwChar *start = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')
            p++;
        if (n == max || p - start >= NameSize)
            return -1;
        std::memcpy(words[n], start, static_cast<size_t>(p - start));
        words[n][p - start] = '\0';
        n++;
    }
}

// Whole-line integers (any base strtol reads); the number found.
RwInt32 Integers(const RwChar *line, long *values, RwInt32 max)
{
    RwInt32 n = 0;
    const RwChar *p = line;
    while (n < max) {
        RwChar *end;
        const long v = std::strtol(p, &end, 0);
        if (end == p)
            break;
        values[n++] = v;
        p = end;
    }
    return n;
}

// Adds a glyph for a code; FALSE when the code or the glyph count is out of range.
RwBool AddGlyph(Rw2dFont *font, RwInt32 code, const Rw2dGlyph &glyph)
{
    if (code < 0 || code > MaxCode)
        return FALSE;
    if (!font->glyphs) {
        font->glyphs = RwGrowArrayCreate(sizeof(Rw2dGlyph), rwMEMHINT_2DOBJECT);
        if (!font->glyphs)
            return FALSE;
    }
    // Glyph indices are 16-bit with all ones meaning none.
    if (font->glyphs->count >= static_cast<RwInt32>(rw2DFONTNOGLYPH))
        return FALSE;
    const RwInt32 index = font->glyphs->count;
    Rw2dGlyph *g = static_cast<Rw2dGlyph *>(RwGrowArrayAppend(font->glyphs, rwMEMHINT_2DOBJECT));
    RwInt32 *c = static_cast<RwInt32 *>(RwGrowArrayAppend(rw2dGlobals.glyphCodes, rwMEMHINT_2DMODULE));
    if (!g || !c) {
        if (g)
            RwGrowArrayRemoveLast(font->glyphs, 1);
        return FALSE;
    }
    *g = glyph;
    *c = code;
    if (code < 128)
        font->lowMap[code] = static_cast<RwUInt16>(index);
    else
        font->flags |= rw2DFONTWIDECHARS;
    return TRUE;
}

// Decodes one UTF-8 character at p (n bytes available); bytes used, 0 when
// invalid or cut short.
RwInt32 DecodeUtf8(const RwUInt8 *p, RwInt32 n, RwInt32 *code)
{
    if (n < 1)
        return 0;
    RwInt32 len, c = p[0];
    if (c < 0x80) {
        *code = c;
        return 1;
    }
    if ((c & 0xE0) == 0xC0)
        len = 2, c &= 0x1F;
    else if ((c & 0xF0) == 0xE0)
        len = 3, c &= 0x0F;
    else if ((c & 0xF8) == 0xF0)
        len = 4, c &= 0x07;
    else if ((c & 0xFC) == 0xF8)
        len = 5, c &= 0x03;
    else if ((c & 0xFE) == 0xFC)
        len = 6, c &= 0x01;
    else
        return 0;
    if (n < len)
        return 0;
    for (RwInt32 i = 1; i < len; i++) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
        if (c > MaxCode)
            return 0;
    }
    *code = c;
    return len;
}

// Reads a texture with the search path as the image path, which is put back after.
RwTexture *ReadTexture(const RwChar *name, const RwChar *mask)
{
    const RwChar *old = RwImageGetPath();
    const size_t n = old ? std::strlen(old) + 1 : 1;
    RwChar *saved = static_cast<RwChar *>(RwMalloc(n, rwMEMHINTDUR_FUNCTION));
    if (!saved)
        return nullptr;
    std::memcpy(saved, old ? old : "", n);
    RwTexture *t = nullptr;
    if (RwImageSetPath(rw2dGlobals.searchPath))
        t = RwTextureRead(name, mask && *mask ? mask : nullptr);
    RwImageSetPath(saved);
    RwFree(saved);
    return t;
}

// The pixel at (x, y) of a 32-bit image, as one word.
RwUInt32 Pixel(const RwImage *image, RwInt32 x, RwInt32 y)
{
    RwUInt32 v;
    std::memcpy(&v, image->cpPixels + y * image->stride + x * 4, 4);
    return v;
}

RwBool ReadMetrics1(Reader &r)
{
    Rw2dFont *font = r.font;
    RwChar words[2][NameSize] = {};
    std::printf("1...\n");
    if (!ReadLine(r))
        return FALSE;
    const RwInt32 n = Words(r.line, words, 2);
    if (n < 1)
        return FALSE;
    std::printf("2...\n");
    if (n == 1) {
        // A mask "m" + image name beside the image is taken when it exists.
        const RwChar *path = rw2dGlobals.searchPath;
        while (*path) {
            const RwChar *end = std::strchr(path, ';');
            const size_t len = end ? static_cast<size_t>(end - path) : std::strlen(path);
            RwChar candidate[300];
            if (len < 200) {
                std::snprintf(candidate, sizeof(candidate), "%.*sm%s", static_cast<int>(len), path, words[0]);
                if (RwFexist(candidate) && std::strlen(words[0]) + 1 < NameSize) {
                    std::snprintf(words[1], NameSize, "m%s", words[0]);
                    break;
                }
            }
            path += len + (end ? 1 : 0);
        }
    }
    std::printf("3...\n");
    RwTexture *texture = ReadTexture(words[0], words[1]);
    if (!texture)
        return FALSE;
    font->textures[0] = texture;
    std::printf("4...\n");
    long baseline;
    if (!ReadLine(r) || Integers(r.line, &baseline, 1) != 1)
        return FALSE;
    std::printf("5...\n");
    const RwInt32 w = texture->raster->width, h = texture->raster->height;
    font->type = rw2DFONTBITMAP;
    long last = 0;
    std::printf("6...\n");
    while (ReadLine(r)) {
        long v[5];
        if (Integers(r.line, v, 5) != 5)
            continue;
        const long code = v[0], left = v[1], top = v[2], right = v[3], bottom = v[4];
        // Rectangles must have height, not run backwards and stay on the image.
        if (code < 0 || code > MaxCode || bottom <= top || right < left || left < 0 || top < 0 || right > w ||
            bottom > h)
            return FALSE;
        Rw2dGlyph g = {};
        g.advance = static_cast<RwReal>(right - left) / static_cast<RwReal>(bottom - top);
        g.texture = texture;
        g.uLeft = (left + 0.5f) / w;
        g.vTop = (top + 0.5f) / h;
        g.uRight = (right + 0.5f) / w;
        g.vBottom = (bottom + 0.5f) / h;
        if (!AddGlyph(font, static_cast<RwInt32>(code), g))
            return FALSE;
        last = bottom - top;
    }
    std::printf("7...\n");
    // Without glyph lines the font keeps height 1 and baseline 0.
    if (last > 0) {
        font->height = static_cast<RwReal>(last);
        font->baseline = static_cast<RwReal>(baseline) / static_cast<RwReal>(last);
    }
    font->intergap = 0.0f;
    std::printf("8...\n");
    return TRUE;
}

// Characters of a METRICS2 character text, taken across lines.
struct CharText {
    Reader *r;
    RwInt32 pos;
    RwBool valid;
};

// The next character; FALSE at the end of the file or on bad UTF-8.
RwBool NextChar(CharText &t, RwInt32 *code)
{
    Reader &r = *t.r;
    for (;;) {
        if (!t.valid || r.line[t.pos] == '\n' || r.line[t.pos] == '\0') {
            if (!ReadLine(r))
                return FALSE;
            t.pos = 0;
            t.valid = TRUE;
            continue;
        }
        const RwUInt8 *p = reinterpret_cast<const RwUInt8 *>(r.line) + t.pos;
        RwInt32 avail = 0;
        while (p[avail] && p[avail] != '\n')
            avail++;
        const RwInt32 used = DecodeUtf8(p, avail, code);
        if (used > 0) {
            t.pos += used;
            return TRUE;
        }
        // A sequence cut by the buffer of a long line continues on the next read.
        const RwBool longLine = p[avail] == '\0' && std::strlen(r.line) == LineSize - 1;
        if (!longLine || avail >= 6 || p[0] < 0xC0)
            return FALSE;
        std::memmove(r.line, p, static_cast<size_t>(avail));
        if (!RwFgets(r.line + avail, LineSize - avail, r.file))
            return FALSE;
        t.pos = 0;
    }
}

RwBool ReadMetrics2(Reader &r)
{
    Rw2dFont *font = r.font;
    font->type = rw2DFONTBITMAP;
    RwImage *image = nullptr;
    RwBool ok = TRUE;
    for (RwInt32 n = 0; ok && n < static_cast<RwInt32>(rw2DFONTIMAGES); n++) {
        RwChar words[2][NameSize] = {};
        if (!ReadLine(r) || Words(r.line, words, 2) < 1)
            break;
        RwTexture *texture = ReadTexture(words[0], words[1]);
        if (!texture) {
            ok = FALSE;
            break;
        }
        font->textures[n] = texture;
        RwRaster *raster = texture->raster;
        const RwInt32 w = raster->width, h = raster->height;
        if (image && (image->width != w || image->height != h)) {
            RwImageDestroy(image);
            image = nullptr;
        }
        if (!image) {
            image = RwImageCreate(w, h, 32);
            if (image && !RwImageAllocatePixels(image)) {
                RwImageDestroy(image);
                image = nullptr;
            }
        }
        long baseline;
        if (!image || !RwImageSetFromRaster(image, raster) || !ReadLine(r) || Integers(r.line, &baseline, 1) != 1) {
            ok = FALSE;
            break;
        }
        const RwUInt32 sep = Pixel(image, 0, 0);
        RwInt32 rowH = h;
        for (RwInt32 y = 1; y < h; y++)
            if (Pixel(image, 0, y) == sep) {
                rowH = y;
                break;
            }
        // Cells lose a 3-pixel frame: rows of 3 pixels or less hold nothing.
        if (rowH <= 3) {
            ok = FALSE;
            break;
        }
        CharText text = {&r, 0, FALSE};
        for (RwInt32 y = 0; ok && y + rowH <= h; y += rowH) {
            RwInt32 p = 0;
            for (RwInt32 x = 1; x < w; x++) {
                if (Pixel(image, x, y) != sep)
                    continue;
                if (x - p == 1)
                    break;
                RwInt32 code;
                if (x - p < 3 || !NextChar(text, &code)) {
                    ok = FALSE;
                    break;
                }
                Rw2dGlyph g = {};
                g.advance = static_cast<RwReal>(x - p - 3) / static_cast<RwReal>(rowH - 3);
                g.texture = texture;
                g.image = static_cast<RwUInt8>(n);
                g.uLeft = (p + 2.5f) / w;
                g.vTop = (y + 2.5f) / h;
                g.uRight = (x - 0.5f) / w;
                g.vBottom = (y + rowH - 0.5f) / h;
                if (!AddGlyph(font, code, g)) {
                    ok = FALSE;
                    break;
                }
                p = x;
            }
        }
        font->height = static_cast<RwReal>(rowH - 3);
        font->baseline = static_cast<RwReal>(baseline) / static_cast<RwReal>(rowH - 3);
        font->intergap = 0.0f;
    }
    if (image)
        RwImageDestroy(image);
    return ok;
}

// The numbers after a keyword; TRUE when exactly `count` finite ones follow.
RwBool Reals(const RwChar *p, RwReal *out, RwInt32 count)
{
    for (RwInt32 i = 0; i < count; i++) {
        RwChar *end;
        // A double beyond the real's range becomes infinite: checked as a real.
        out[i] = static_cast<RwReal>(std::strtod(p, &end));
        if (end == p || !RwRealsFinite(&out[i], 1))
            return FALSE;
        p = end;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    return *p == '\n' || *p == '\0';
}

RwBool Keyword(const RwChar *line, const RwChar *word, const RwChar **rest)
{
    const size_t n = std::strlen(word);
    if (std::strncmp(line, word, n) != 0)
        return FALSE;
    *rest = line + n;
    return TRUE;
}

RwBool ReadMetrics3(Reader &r)
{
    Rw2dFont *font = r.font;
    font->type = rw2DFONTOUTLINE;
    font->height = 1.0f;
    font->baseline = 0.0f;
    font->intergap = 0.0f;
    font->show = Rw2dFontShowOutline;
    if (!ReadLine(r) || r.line[0] == '\n' || r.line[0] == '\0')
        return TRUE;
    Rw2dPath *path = nullptr;
    RwInt32 code = -1;
    RwReal advance = 0.0f;
    RwBool ok = TRUE;
    while (ok && ReadLine(r)) {
        const RwChar *rest;
        RwReal v[6];
        if (std::strcmp(r.line, "begin\n") == 0 || std::strcmp(r.line, "begin") == 0) {
            if (path)
                Rw2dPathDestroy(path);
            path = Rw2dPathCreate();
            ok = path != nullptr;
        } else if (std::strcmp(r.line, "end\n") == 0 || std::strcmp(r.line, "end") == 0) {
            if (!path)
                continue;
            Rw2dPath *pruned = Rw2dPathUnlock(Rw2dPathPrune(path));
            path = nullptr;
            Rw2dGlyph g = {};
            g.advance = advance;
            g.path = pruned;
            if (code < 0 || !AddGlyph(font, code, g)) {
                if (pruned)
                    Rw2dPathDestroy(pruned);
                // A glyph without its character line is dropped.
                ok = code < 0;
            }
            code = -1;
        } else if (Keyword(r.line, "moveto", &rest) && Reals(rest, v, 2)) {
            advance = v[0];
            if (path)
                Rw2dPathMoveto(path, v[0], v[1]);
        } else if (Keyword(r.line, "lineto", &rest) && Reals(rest, v, 2)) {
            advance = v[0];
            if (path)
                Rw2dPathLineto(path, v[0], v[1]);
        } else if (Keyword(r.line, "curveto", &rest) && Reals(rest, v, 6)) {
            advance = v[0];
            if (path)
                Rw2dPathCurveto(path, v[0], v[1], v[2], v[3], v[4], v[5]);
        } else if (std::strcmp(r.line, "closepath\n") == 0 || std::strcmp(r.line, "closepath") == 0) {
            if (path)
                Rw2dPathClosepath(path);
        } else if (!path && r.line[0] != '\0' && r.line[1] != '\0' && r.line[1] != '\n') {
            const RwUInt8 *p = reinterpret_cast<const RwUInt8 *>(r.line) + 1;
            RwInt32 avail = 0;
            while (p[avail] && p[avail] != '\n')
                avail++;
            ok = DecodeUtf8(p, avail, &code) > 0;
        }
    }
    if (path)
        Rw2dPathDestroy(path);
    return ok;
}

// Builds the high map from the codes of this read's glyphs.
RwBool BuildHighMap(Rw2dFont *font)
{
    RwGrowArray *codes = rw2dGlobals.glyphCodes;
    const RwInt32 *c = static_cast<const RwInt32 *>(codes->data);
    RwInt32 lo = MaxCode + 1, hi = -1;
    for (RwInt32 i = 0; i < codes->count; i++)
        if (c[i] >= 128) {
            lo = c[i] < lo ? c[i] : lo;
            hi = c[i] > hi ? c[i] : hi;
        }
    font->glyphCount = font->glyphs ? font->glyphs->count : 0;
    if (hi < 0)
        return TRUE;
    font->highFirst = lo;
    font->highCount = hi - lo + 1;
    font->highMap = static_cast<RwUInt16 *>(RwMalloc(sizeof(RwUInt16) * static_cast<size_t>(font->highCount),
                                                     rwMEMHINT_2DOBJECT));
    if (!font->highMap)
        return FALSE;
    std::memset(font->highMap, 0xFF, sizeof(RwUInt16) * static_cast<size_t>(font->highCount));
    for (RwInt32 i = 0; i < codes->count; i++)
        if (c[i] >= 128)
            font->highMap[c[i] - lo] = static_cast<RwUInt16>(i);
    return TRUE;
}

RwFile *OpenOnPath(const RwChar *name, RwChar *buffer)
{
    const RwChar *path = rw2dGlobals.searchPath;
    for (;;) {
        const RwChar *end = std::strchr(path, ';');
        const size_t len = end ? static_cast<size_t>(end - path) : std::strlen(path);
        std::memcpy(buffer, path, len);
        std::strcpy(buffer + len, name);
        std::strcat(buffer + len, ".met");
        RwFile *file = RwFopen(buffer, "r");
        if (file || !end)
            return file;
        path = end + 1;
    }
}

} // namespace

Rw2dFont *Rw2dFontRead(const RwChar *name)
{
    if (!name || !rw2dGlobals.open)
        return nullptr;
    Rw2dFont *font = Rw2dFontCreate();
    if (!font)
        return nullptr;
    RwChar *buffer = static_cast<RwChar *>(
        RwMalloc(std::strlen(rw2dGlobals.searchPath) + std::strlen(name) + 5, rwMEMHINT_2DMODULE));
    if (!buffer) {
        Rw2dFontDestroy(font);
        return nullptr;
    }
    std::printf("PRE - AttemptToOpenFont\n");
    Reader r = {OpenOnPath(name, buffer), font, {}};
    std::printf("POST - AttemptToOpenFont (fp = %u)\n",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(r.file)));
    RwBool ok = FALSE;
    if (r.file) {
        RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
        RwTextureDictionarySetCurrent(rw2dGlobals.fontDict);
        RwGrowArrayClear(rw2dGlobals.glyphCodes);
        const RwBool got = ReadLine(r);
        std::printf("POST - RwFgets\n");
        if (got && std::strcmp(r.line, "METRICS1\n") == 0) {
            std::printf("PRE - FontReadMetrics2d1\n");
            ok = ReadMetrics1(r);
        } else if (got && std::strcmp(r.line, "METRICS2\n") == 0) {
            std::printf("PRE - FontReadMetrics2d2\n");
            ok = ReadMetrics2(r);
        } else if (got && std::strcmp(r.line, "METRICS3\n") == 0) {
            std::printf("PRE - FontReadMetrics2d3\n");
            ok = ReadMetrics3(r);
        } else {
            std::printf("PRE - Unknown font format\n");
        }
        ok = ok && BuildHighMap(font);
        RwGrowArrayClear(rw2dGlobals.glyphCodes);
        RwTextureDictionarySetCurrent(previous);
        RwFclose(r.file);
    }
    RwFree(buffer);
    if (!ok) {
        Rw2dFontDestroy(font);
        return nullptr;
    }
    return font;
}
