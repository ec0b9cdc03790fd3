// Inks and paints: reference counts, their `.ink` and `.pnt` dictionaries and look-up by name.
#include <cstring>

#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/core/texturemodule.h"
#include "toon.h"
#include "toonint.h"

enum : RwUInt32 {
    rwTOONOLDINKSIZE = 44,        // version, name, width, colour
    rwTOONMINPAINTSIZE = 40,      // version, type, name
};

RwToonInk *RwToonInkCreate(void)
{
    RwToonInk *ink = static_cast<RwToonInk *>(RwMalloc(sizeof(RwToonInk), rwMEMHINT_TOON));
    if (!ink) {
        RwToonError(E_RW_NOMEM, "toon ink");
        return nullptr;
    }
    std::memset(ink, 0, sizeof *ink);
    ink->refCount = 1;
    std::strcpy(ink->name, "default ink name");
    ink->width = 1.0f;
    ink->colour = {0, 0, 0, 255};
    ink->nearFactor = 1.0f;
    ink->farFactor = 1.0f;
    return ink;
}

RwToonPaint *RwToonPaintCreate(void)
{
    RwToonPaint *paint = static_cast<RwToonPaint *>(RwMalloc(sizeof(RwToonPaint), rwMEMHINT_TOON));
    if (!paint) {
        RwToonError(E_RW_NOMEM, "toon paint");
        return nullptr;
    }
    std::memset(paint, 0, sizeof *paint);
    paint->refCount = 1;
    std::strcpy(paint->name, "default paint name");
    return paint;
}

// Inks and paints both start with their count.
void *RwToonAddRef(void *inkOrPaint)
{
    if (inkOrPaint) {
        ++*static_cast<RwInt32 *>(inkOrPaint);
    }
    return inkOrPaint;
}

void RwToonInkRelease(RwToonInk *ink)
{
    if (ink && --ink->refCount <= 0) {
        RwFree(ink);
    }
}

void RwToonPaintRelease(RwToonPaint *paint)
{
    if (paint && --paint->refCount <= 0) {
        if (paint->texture) {
            RwTextureDestroy(paint->texture);
        }
        RwFree(paint);
    }
}

static RwToonInk *InkStreamRead(RwStream *stream)
{
    RwToonInk *ink = RwToonInkCreate();
    if (!ink) {
        return nullptr;
    }
    RwInt32 version;
    RwUInt8 colour[4];
    if (!RwStreamFindChunk(stream, rwID_STRUCT, nullptr, nullptr) ||
        !RwStreamReadInt32(stream, &version, sizeof version)) {
        RwToonInkRelease(ink);
        return nullptr;
    }
    if (static_cast<RwUInt32>(version) > rwTOONINKVERSION) {
        RwToonError(E_RW_BADVERSION, "Incompatible toon ink stream version");
    }
    if (!RwStreamReadExact(stream, ink->name, rwTOONNAMELENGTH) ||
        !RwStreamReadReal(stream, &ink->width, sizeof(RwReal)) || !RwStreamReadExact(stream, colour, 4) ||
        (static_cast<RwUInt32>(version) >= rwTOONINKVERSION &&
         !RwStreamReadReal(stream, &ink->nearFactor, 2 * sizeof(RwReal)))) {
        RwToonInkRelease(ink);
        return nullptr;
    }
    const RwReal sizes[3] = {ink->width, ink->nearFactor, ink->farFactor};
    if (!RwStreamRealsFinite(sizes, 3)) {
        RwToonInkRelease(ink);
        return nullptr;
    }
    ink->name[rwTOONNAMELENGTH - 1] = '\0';
    ink->colour = {colour[0], colour[1], colour[2], colour[3]};
    return ink;
}

// The paint's texture chunk: a texture the read callback cannot find leaves the
// paint without one; only a broken stream fails.
static RwBool PaintTextureRead(RwStream *stream, RwToonPaint *paint)
{
    RwUInt32 length;
    return RwStreamFindChunk(stream, rwID_TEXTURE, &length, nullptr) &&
           RwTextureStreamReadBody(stream, length, &paint->texture);
}

static RwToonPaint *PaintStreamRead(RwStream *stream)
{
    RwToonPaint *paint = RwToonPaintCreate();
    if (!paint) {
        return nullptr;
    }
    RwInt32 head[2];
    if (!RwStreamFindChunk(stream, rwID_STRUCT, nullptr, nullptr) ||
        !RwStreamReadInt32(stream, head, sizeof(RwInt32))) {
        RwToonPaintRelease(paint);
        return nullptr;
    }
    if (static_cast<RwUInt32>(head[0]) != rwTOONPAINTVERSION) {
        RwToonError(E_RW_BADVERSION, "Incompatible toon paint stream version");
    }
    if (!RwStreamReadInt32(stream, &head[1], sizeof(RwInt32)) ||
        !RwStreamReadExact(stream, paint->name, rwTOONNAMELENGTH)) {
        RwToonPaintRelease(paint);
        return nullptr;
    }
    paint->type = head[1];
    paint->name[rwTOONNAMELENGTH - 1] = '\0';
    if (paint->type == rwTOONPAINTTEXTURED && !PaintTextureRead(stream, paint)) {
        RwToonPaintRelease(paint);
        return nullptr;
    }
    return paint;
}

// A dictionary's array doubles when full, so reading n entries copies fewer
// than 2n pointers; *capacity is the reader's own.
static RwBool Append(void ***array, RwInt32 *count, RwInt32 *capacity, void *entry)
{
    if (*count == *capacity) {
        const RwInt32 wanted = *capacity < 8 ? 8 : 2 * *capacity;
        const size_t bytes = static_cast<size_t>(wanted) * sizeof(void *);
        void *grown = *capacity >= 0x10000000 ? nullptr
                      : *array                ? RwRealloc(*array, bytes, rwMEMHINT_TOON)
                                              : RwMalloc(bytes, rwMEMHINT_TOON);
        if (!grown) {
            RwToonError(E_RW_NOMEM, "toon dictionary");
            return FALSE;
        }
        *array = static_cast<void **>(grown);
        *capacity = wanted;
    }
    (*array)[(*count)++] = entry;
    return TRUE;
}

struct DictionaryKind {
    RwUInt32 version;
    const RwChar *message;
    RwUInt32 minEntrySize;
    void *(*readEntry)(RwStream *stream);
    void (*release)(void *entry);
};

struct AnyDictionary {
    RwInt32 count;
    void **entries;
};
static_assert(sizeof(AnyDictionary) == sizeof(RwToonInkDictionary), "dictionaries share a layout");
static_assert(sizeof(AnyDictionary) == sizeof(RwToonPaintDictionary), "dictionaries share a layout");

static void DestroyAny(AnyDictionary *d, void (*release)(void *))
{
    if (!d) {
        return;
    }
    for (RwInt32 i = 0; i < d->count; ++i) {
        release(d->entries[i]);
    }
    RwFree(d->entries);
    RwFree(d);
}

static AnyDictionary *ReadAny(RwStream *stream, const DictionaryKind &kind)
{
    RwInt32 head[2];
    if (!stream || !RwStreamFindChunk(stream, rwID_STRUCT, nullptr, nullptr) ||
        !RwStreamReadInt32(stream, head, sizeof(RwInt32))) {
        return nullptr;
    }
    if (static_cast<RwUInt32>(head[0]) != kind.version) {
        RwToonError(E_RW_BADVERSION, kind.message);
    }
    if (!RwStreamReadInt32(stream, &head[1], sizeof(RwInt32))) {
        return nullptr;
    }
    const RwInt32 count = head[1];
    if (count > 0 && !RwStreamCanHold(stream, static_cast<RwUInt32>(count), rwCHUNKHEADERSIZE + kind.minEntrySize)) {
        RwToonError(E_RW_READ, "toon dictionary count beyond the stream");
        return nullptr;
    }
    AnyDictionary *d = static_cast<AnyDictionary *>(RwMalloc(sizeof(AnyDictionary), rwMEMHINT_TOON));
    if (!d) {
        RwToonError(E_RW_NOMEM, "toon dictionary");
        return nullptr;
    }
    d->count = 0;
    d->entries = nullptr;
    RwInt32 capacity = 0;
    for (RwInt32 i = 0; i < count; ++i) {
        void *entry = kind.readEntry(stream);
        if (!entry || !Append(&d->entries, &d->count, &capacity, entry)) {
            if (entry) {
                kind.release(entry);
            }
            DestroyAny(d, kind.release);
            return nullptr;
        }
    }
    return d;
}

static void *ReadInkEntry(RwStream *stream) { return InkStreamRead(stream); }
static void *ReadPaintEntry(RwStream *stream) { return PaintStreamRead(stream); }
static void ReleaseInkEntry(void *ink) { RwToonInkRelease(static_cast<RwToonInk *>(ink)); }
static void ReleasePaintEntry(void *paint) { RwToonPaintRelease(static_cast<RwToonPaint *>(paint)); }

static const DictionaryKind inkKind = {rwTOONINKDICTIONARYVERSION, "Incompatible toon ink dictionary stream version",
                                       rwTOONOLDINKSIZE, ReadInkEntry, ReleaseInkEntry};
static const DictionaryKind paintKind = {rwTOONPAINTDICTIONARYVERSION,
                                         "Incompatible toon paint dictionary stream version", rwTOONMINPAINTSIZE,
                                         ReadPaintEntry, ReleasePaintEntry};

RwToonInkDictionary *RwToonInkDictionaryStreamRead(RwStream *stream)
{
    return reinterpret_cast<RwToonInkDictionary *>(ReadAny(stream, inkKind));
}

RwToonPaintDictionary *RwToonPaintDictionaryStreamRead(RwStream *stream)
{
    return reinterpret_cast<RwToonPaintDictionary *>(ReadAny(stream, paintKind));
}

void RwToonInkDictionaryDestroy(RwToonInkDictionary *dictionary)
{
    DestroyAny(reinterpret_cast<AnyDictionary *>(dictionary), ReleaseInkEntry);
}

void RwToonPaintDictionaryDestroy(RwToonPaintDictionary *dictionary)
{
    DestroyAny(reinterpret_cast<AnyDictionary *>(dictionary), ReleasePaintEntry);
}

RwToonInk *RwToonInkDictionaryFindInk(const RwToonInkDictionary *dictionary, const RwChar *name)
{
    for (RwInt32 i = 0; dictionary && name && i < dictionary->count; ++i) {
        if (std::strncmp(dictionary->inks[i]->name, name, rwTOONNAMELENGTH - 1) == 0) {
            return dictionary->inks[i];
        }
    }
    return nullptr;
}

RwToonPaint *RwToonPaintDictionaryFindPaint(const RwToonPaintDictionary *dictionary, const RwChar *name)
{
    for (RwInt32 i = 0; dictionary && name && i < dictionary->count; ++i) {
        if (std::strncmp(dictionary->paints[i]->name, name, rwTOONNAMELENGTH - 1) == 0) {
            return dictionary->paints[i];
        }
    }
    return nullptr;
}
