// User data in streams: the 0x11F block of an object's arrays, its size, writer and bounded reader.
#include "userdata.h"

#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"

enum : RwUInt32 { rwUSERDATAARRAYHEAD = 12 };   // name length, format, element count at the least

static RwUInt32 DataSize(const RwUserDataArray &a)
{
    if (a.format != rwUSERDATASTRING) {
        return 4 * static_cast<RwUInt32>(a.numElements);
    }
    RwUInt32 size = 0;
    const RwChar *const *strings = static_cast<const RwChar *const *>(a.data);
    for (RwInt32 i = 0; i < a.numElements; ++i) {
        size += 4 + (strings[i] ? static_cast<RwUInt32>(strlen(strings[i])) + 1 : 0);
    }
    return size;
}

static RwUInt32 NameSize(const RwChar *name)
{
    return name ? static_cast<RwUInt32>(strlen(name)) + 1 : 0;
}

RwInt32 RwUserDataStreamGetSize(const RwUserDataExtension *ext)
{
    RwUInt32 size = 0;
    for (RwInt32 i = 0; i < ext->numArrays; ++i) {
        const RwUserDataArray &a = ext->arrays[i];
        if (a.data) {
            size += 4 + NameSize(a.name) + 8 + DataSize(a);
        }
    }
    return size > 0 ? static_cast<RwInt32>(size + 4) : 0;
}

static RwStream *WriteWord(RwStream *stream, RwInt32 value)
{
    return RwStreamWriteInt32(stream, &value, 4);
}

static RwStream *WriteArray(RwStream *stream, const RwUserDataArray &a)
{
    const RwUInt32 nameSize = NameSize(a.name);
    if (a.format < rwUSERDATAINT || a.format > rwUSERDATASTRING || a.numElements < 0) {
        RwErrorRaise(0, E_RW_WRITEFAILED);
        return nullptr;
    }
    if (!WriteWord(stream, static_cast<RwInt32>(nameSize)) || (nameSize && !RwStreamWrite(stream, a.name, nameSize)) ||
        !WriteWord(stream, a.format) || !WriteWord(stream, a.numElements)) {
        return nullptr;
    }
    const RwUInt32 bytes = 4 * static_cast<RwUInt32>(a.numElements);
    if (a.format == rwUSERDATAINT) {
        return RwStreamWriteInt32(stream, static_cast<const RwInt32 *>(a.data), bytes);
    }
    if (a.format == rwUSERDATAFLOAT) {
        return RwStreamWriteReal(stream, static_cast<const RwReal *>(a.data), bytes);
    }
    const RwChar *const *strings = static_cast<const RwChar *const *>(a.data);
    for (RwInt32 i = 0; i < a.numElements; ++i) {
        const RwUInt32 n = NameSize(strings[i]);
        if (!WriteWord(stream, static_cast<RwInt32>(n)) || (n && !RwStreamWrite(stream, strings[i], n))) {
            return nullptr;
        }
    }
    return stream;
}

RwStream *RwUserDataStreamWrite(RwStream *stream, const RwUserDataExtension *ext)
{
    RwInt32 count = 0;
    for (RwInt32 i = 0; i < ext->numArrays; ++i) {
        count += ext->arrays[i].data != nullptr;
    }
    if (count == 0) {
        return stream;
    }
    if (!WriteWord(stream, count)) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < ext->numArrays; ++i) {
        if (ext->arrays[i].data && !WriteArray(stream, ext->arrays[i])) {
            return nullptr;
        }
    }
    return stream;
}

// Reads inside one block: every count is checked against the bytes the
// block has left before anything is allocated for it.
struct RwUserDataReader {
    RwStream *stream;
    RwUInt32 left;

    bool Fits(RwUInt32 count, RwUInt32 recordSize) const
    {
        return count <= left / recordSize && RwStreamCanHold(stream, count, recordSize);
    }
    bool Bytes(void *out, RwUInt32 n)
    {
        if (n > left || !RwStreamReadExact(stream, out, n)) {
            return false;
        }
        left -= n;
        return true;
    }
    bool Word(RwInt32 *out)
    {
        RwUInt8 b[4];
        if (!Bytes(b, 4)) {
            return false;
        }
        *out = ReadI32(b);
        return true;
    }
    // A zero-terminated copy of n stored bytes (the stored zero may be missing).
    RwChar *Text(RwInt32 n)
    {
        if (n < 0 || !Fits(static_cast<RwUInt32>(n), 1)) {
            return nullptr;
        }
        RwChar *text = static_cast<RwChar *>(RwMalloc(static_cast<size_t>(n) + 1, rwUSERDATAHINT));
        if (!text) {
            return nullptr;
        }
        text[n] = 0;
        if (!Bytes(text, static_cast<RwUInt32>(n))) {
            RwFree(text);
            return nullptr;
        }
        return text;
    }
};

static bool ReadElements(RwUserDataReader *r, RwUserDataArray *a)
{
    const RwUInt32 n = static_cast<RwUInt32>(a->numElements);
    const size_t bytes = n > 0 ? 4 * static_cast<size_t>(n) : 4;
    if (!(a->data = RwMalloc(bytes, rwUSERDATAHINT))) {
        return false;
    }
    memset(a->data, 0, bytes);
    if (a->format != rwUSERDATASTRING) {
        RwUInt8 *words = static_cast<RwUInt8 *>(a->data);
        if (!r->Bytes(words, 4 * n)) {
            return false;
        }
        for (RwUInt32 i = 0; i < n; ++i) {
            const RwUInt32 v = ReadU32(words + 4 * i);
            memcpy(words + 4 * i, &v, 4);
        }
        return true;
    }
    RwChar **strings = static_cast<RwChar **>(a->data);
    for (RwUInt32 i = 0; i < n; ++i) {
        RwInt32 length;
        if (!r->Word(&length) || (length != 0 && !(strings[i] = r->Text(length)))) {
            return false;
        }
    }
    return true;
}

static bool ReadArray(RwUserDataReader *r, RwUserDataArray *a)
{
    RwInt32 nameLength;
    if (!r->Word(&nameLength) || (nameLength != 0 && !(a->name = r->Text(nameLength)))) {
        return false;
    }
    RwInt32 format;
    RwInt32 numElements;
    if (!r->Word(&format) || !r->Word(&numElements)) {
        return false;
    }
    // Every element takes at least 4 bytes of the block, whatever the format.
    if (format < rwUSERDATAINT || format > rwUSERDATASTRING || numElements < 0 ||
        !r->Fits(static_cast<RwUInt32>(numElements), 4)) {
        return false;
    }
    a->format = static_cast<RwUserDataFormat>(format);
    a->numElements = numElements;
    return ReadElements(r, a);
}

RwStream *RwUserDataStreamRead(RwStream *stream, RwInt32 length, RwUserDataExtension *ext)
{
    // A second block for the same object replaces the first.
    RwUserDataExtensionEmpty(ext);
    RwUserDataReader r = {stream, length > 0 ? static_cast<RwUInt32>(length) : 0};
    RwInt32 count;
    if (!r.Word(&count)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    if (count <= 0) {
        return stream;
    }
    if (!r.Fits(static_cast<RwUInt32>(count), rwUSERDATAARRAYHEAD)) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    const size_t bytes = sizeof(RwUserDataArray) * static_cast<size_t>(count);
    ext->arrays = static_cast<RwUserDataArray *>(RwMalloc(bytes, rwUSERDATAHINT));
    if (!ext->arrays) {
        RwErrorRaise(0, E_RW_NOMEM);
        return nullptr;
    }
    // Zeroed, so that a read failing midway leaves only what it read to free.
    memset(ext->arrays, 0, bytes);
    ext->numArrays = count;
    for (RwInt32 i = 0; i < count; ++i) {
        if (!ReadArray(&r, &ext->arrays[i])) {
            RwErrorRaise(0, E_RW_READ);
            return nullptr;
        }
    }
    return stream;
}
