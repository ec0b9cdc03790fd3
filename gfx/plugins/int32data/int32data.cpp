// 32-bit values: the extension on seven object kinds, its copy and its 4-byte 0x137 block.
#include "int32data.h"

#include <cstdint>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"

static RwInt32 offsets[rwNUMOBJECTKINDS] = {-1, -1, -1, -1, -1, -1, -1};

static RwInt32 *Value(const void *object, RwInt32 offset)
{
    return reinterpret_cast<RwInt32 *>(reinterpret_cast<uintptr_t>(object) + offset);
}

RwInt32 RwInt32DataGet(const void *object, RwPluginObjectKind kind)
{
    return object && offsets[kind] >= 0 ? *Value(object, offsets[kind]) : 0;
}

void RwInt32DataSet(void *object, RwPluginObjectKind kind, RwInt32 value)
{
    if (object && offsets[kind] >= 0) {
        *Value(object, offsets[kind]) = value;
    }
}

static void *Construct(void *object, RwInt32 offset, RwInt32)
{
    *Value(object, offset) = 0;
    return object;
}

static void *Destruct(void *object, RwInt32, RwInt32)
{
    return object;
}

static void *Copy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    *Value(dst, offset) = *Value(src, offset);
    return dst;
}

static RwInt32 StreamSize(const void *object, RwInt32 offset, RwInt32)
{
    return *Value(object, offset) != 0 ? 4 : 0;
}

static RwStream *StreamWrite(RwStream *stream, RwInt32, const void *object, RwInt32 offset, RwInt32)
{
    RwUInt8 bytes[4];
    WriteI32(bytes, *Value(object, offset));
    return RwStreamWrite(stream, bytes, sizeof bytes);
}

// A block shorter than the value fails; the rest of a longer one is passed over.
static RwStream *StreamRead(RwStream *stream, RwInt32 length, void *object, RwInt32 offset, RwInt32)
{
    RwUInt8 bytes[4];
    if (length < 4) {
        RwErrorRaise(0, E_RW_READ);
        return nullptr;
    }
    if (!RwStreamReadExact(stream, bytes, sizeof bytes) || (length > 4 && !RwStreamSkip(stream, length - 4))) {
        return nullptr;
    }
    *Value(object, offset) = ReadI32(bytes);
    return stream;
}

RwBool RwInt32DataPluginAttach(void)
{
    const RwPluginObjectCallBacks callbacks = {Construct, Destruct, Copy, StreamRead, StreamWrite, StreamSize};
    return RwPluginRegisterOnObjectKinds(sizeof(RwInt32DataExtension), rwID_INT32DATAPLUGIN, callbacks, offsets);
}
