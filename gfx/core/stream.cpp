// Binary streams over files, memory and callbacks, the chunk headers they carry and string chunks.
#include "stream.h"

#include <climits>
#include <cstring>

#include "byteorder.h"
#include "engine.h"
#include "error.h"
#include "filesys.h"
#include "memory.h"
#include "modules.h"

enum : RwUInt32 {
    rwSTREAMHINT = 0x30404,             // a stream, a memory stream's first buffer
    rwSTREAMBUFFERHINT = 0x1030404,     // a memory stream's grown buffer
    rwSTREAMFREELISTHINT = 0x40404,
    rwSTRINGHINT = 0x30002,             // a string read from a stream
    rwMEMORYSTREAMGROWTH = 512,
};

struct RwStreamGlobals {
    RwFreeList *streamFreeList;
};
static_assert(sizeof(RwStreamGlobals) == 4, "stream module globals are one word");

static RwInt32 StreamModuleOffset = -1;
static RwInt32 StreamModuleOpenCount = 0;
static RwFreeList StreamFreeListSpace;

static void StreamError(RwUInt32 code)
{
    RwErrorRaise(rwID_COREPLUGIN, code);
}

// A stream as the module keeps it. A custom stream does not know its size:
// before a reader allocates for a count it read, the bytes that count needs
// are read ahead here, in growing steps, so memory follows the data that
// really arrives; the reads that follow take them from here first.
struct RwStreamSlot {
    RwStream stream;       // first: a stream is its slot
    RwUInt8 *ahead;        // NULL when nothing is read ahead
    RwUInt32 aheadStart;   // first byte not yet handed on
    RwUInt32 aheadEnd;     // end of the bytes read ahead
    RwUInt32 position;     // custom streams: bytes handed on, skipped or written
    RwBool ended;          // custom streams: the read callback gave 0 or failed
};

enum : RwUInt32 {
    rwSTREAMAHEADSTEP = 0x10000,   // the first step; each later one doubles what is held
};

static RwStreamSlot *Slot(RwStream *stream)
{
    return reinterpret_cast<RwStreamSlot *>(stream);
}

static void DropAhead(RwStreamSlot *slot)
{
    if (slot->ahead) {
        RwFree(slot->ahead);
    }
    slot->ahead = nullptr;
    slot->aheadStart = slot->aheadEnd = 0;
}

// Hands on what was read ahead, up to length bytes; returns how many.
static RwUInt32 TakeAhead(RwStreamSlot *slot, RwUInt8 *buffer, RwUInt32 length)
{
    const RwUInt32 held = slot->aheadEnd - slot->aheadStart;
    const RwUInt32 n = length < held ? length : held;
    if (n > 0 && buffer) {
        std::memcpy(buffer, slot->ahead + slot->aheadStart, n);
    }
    slot->aheadStart += n;
    if (slot->aheadStart == slot->aheadEnd) {
        DropAhead(slot);
    }
    return n;
}

// The read callback may give fewer bytes than asked at any call: it is asked
// again until length bytes arrived. Only 0 ends the stream; a count larger
// than asked ((RwUInt32)-1 included) is an error and delivers nothing. Either
// way the stream stays ended, as a memory stream stays at its end.
static RwUInt32 CallRead(RwStreamSlot *slot, RwUInt8 *buffer, RwUInt32 length)
{
    const RwStreamCustom &custom = slot->stream.Type.callBack;
    RwUInt32 done = 0;
    while (done < length && !slot->ended) {
        const RwUInt32 got = custom.sfnread(custom.data, buffer + done, length - done);
        if (got == 0 || got > length - done) {
            slot->ended = TRUE;
            if (got != 0) {
                StreamError(E_RW_READ);
            }
        } else {
            done += got;
        }
    }
    return done;
}

// Reads ahead until needed bytes are held; FALSE when the stream ends first
// (what arrived stays for the reads that follow) or memory runs out.
static RwBool ReadAhead(RwStreamSlot *slot, uint64_t needed)
{
    if (needed > UINT32_MAX) {
        return FALSE;
    }
    RwUInt32 held = slot->aheadEnd - slot->aheadStart;
    while (held < needed) {
        const uint64_t doubled = held < rwSTREAMAHEADSTEP ? static_cast<uint64_t>(rwSTREAMAHEADSTEP) : 2ull * held;
        const RwUInt32 want = static_cast<RwUInt32>(doubled < needed ? doubled : needed);
        if (slot->aheadStart > 0) {
            std::memmove(slot->ahead, slot->ahead + slot->aheadStart, held);
            slot->aheadStart = 0;
            slot->aheadEnd = held;
        }
        if (slot->ended) {
            return FALSE;
        }
        RwUInt8 *grown = static_cast<RwUInt8 *>(slot->ahead ? RwRealloc(slot->ahead, want, rwSTREAMBUFFERHINT)
                                                            : RwMalloc(want, rwSTREAMBUFFERHINT));
        if (!grown) {
            StreamError(E_RW_NOMEM);
            return FALSE;
        }
        slot->ahead = grown;
        held += CallRead(slot, grown + held, want - held);
        slot->aheadEnd = held;
        if (held < want) {
            return FALSE;
        }
    }
    return TRUE;
}

void *RwStreamModuleOpen(void *instance, RwInt32 offset, RwInt32 size)
{
    StreamModuleOffset = offset;
    RwStreamGlobals *globals = reinterpret_cast<RwStreamGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    globals->streamFreeList =
        RwFreeListCreateAndPreallocate(sizeof(RwStreamSlot), 16, 4, 1, &StreamFreeListSpace, rwSTREAMFREELISTHINT);
    if (!globals->streamFreeList) {
        return nullptr;
    }
    StreamModuleOpenCount++;
    return instance;
}

void *RwStreamModuleClose(void *instance, RwInt32 offset, RwInt32 size)
{
    RwStreamGlobals *globals = reinterpret_cast<RwStreamGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    if (globals->streamFreeList) {
        RwFreeListDestroy(globals->streamFreeList);
        globals->streamFreeList = nullptr;
    }
    StreamModuleOpenCount--;
    return instance;
}

static RwFreeList *StreamFreeList(void)
{
    if (StreamModuleOpenCount <= 0 || StreamModuleOffset < 0 || !RwEngineInstance) {
        return nullptr;
    }
    return RwEngineModuleGlobals<RwStreamGlobals>(StreamModuleOffset)->streamFreeList;
}

static void ReleaseStream(RwStream *stream)
{
    if (stream->rwOwned) {
        RwFreeList *freeList = StreamFreeList();
        if (freeList) {
            RwFreeListFree(freeList, stream);
        }
    }
}

static RwBool OpenFileStream(RwStream *stream, RwStreamAccessType accessType, const void *data)
{
    RwFile *file = static_cast<RwFile *>(const_cast<void *>(data));
    if (!file || RwGetThirdWord(file) == 0xFFFFFFFFu) {
        return FALSE;
    }
    stream->Type.file = file;
    return TRUE;
}

static RwBool OpenNamedFileStream(RwStream *stream, RwStreamAccessType accessType, const void *data)
{
    const RwChar *mode;
    switch (accessType) {
    case rwSTREAMREAD:
        mode = "rb";
        break;
    case rwSTREAMWRITE:
        mode = "wb";
        break;
    case rwSTREAMAPPEND:
        mode = "ab";
        break;
    default:
        StreamError(E_RW_INVSTREAMACCESSTYPE);
        StreamError(E_RW_FILEOPENFAILED);
        return FALSE;
    }
    RwFile *file = data ? RwFopen(static_cast<const RwChar *>(data), mode) : nullptr;
    if (!file) {
        StreamError(E_RW_FILEOPENFAILED);
        return FALSE;
    }
    stream->Type.file = file;
    return TRUE;
}

static RwBool OpenMemoryStream(RwStream *stream, RwStreamAccessType accessType, const void *data)
{
    const RwMemory *memory = static_cast<const RwMemory *>(data);
    RwStreamMemory *m = &stream->Type.memory;
    switch (accessType) {
    case rwSTREAMREAD:
    case rwSTREAMAPPEND:
        if (!memory || (!memory->start && memory->length != 0)) {
            StreamError(E_RW_NULLP);
            return FALSE;
        }
        m->position = (accessType == rwSTREAMREAD) ? 0 : memory->length;
        m->nSize = memory->length;
        m->memBlock = memory->start;
        return TRUE;
    case rwSTREAMWRITE:
        m->position = 0;
        m->nSize = 0;
        m->memBlock = nullptr;
        return TRUE;
    default:
        StreamError(E_RW_INVSTREAMACCESSTYPE);
        return FALSE;
    }
}

RwStream *RwStreamOpen(RwStreamType type, RwStreamAccessType accessType, const void *data)
{
    RwFreeList *freeList = StreamFreeList();
    if (!freeList) {
        StreamError(E_RW_BADOPEN);
        return nullptr;
    }
    RwStream *stream = static_cast<RwStream *>(RwFreeListAlloc(freeList, rwSTREAMHINT));
    if (!stream) {
        StreamError(E_RW_NOMEM);
        return nullptr;
    }
    std::memset(stream, 0, sizeof(RwStreamSlot));
    stream->type = type;
    stream->accessType = accessType;
    stream->rwOwned = TRUE;

    RwBool ok;
    switch (type) {
    case rwSTREAMFILE:
        ok = OpenFileStream(stream, accessType, data);
        break;
    case rwSTREAMFILENAME:
        ok = OpenNamedFileStream(stream, accessType, data);
        break;
    case rwSTREAMMEMORY:
        ok = OpenMemoryStream(stream, accessType, data);
        break;
    case rwSTREAMCUSTOM:
        ok = data != nullptr;
        if (ok) {
            std::memcpy(&stream->Type.callBack, data, sizeof(RwStreamCustom));
        } else {
            StreamError(E_RW_NULLP);
        }
        break;
    default:
        StreamError(E_RW_INVSTREAMTYPE);
        ok = FALSE;
        break;
    }
    if (!ok) {
        RwFreeListFree(freeList, stream);
        return nullptr;
    }
    return stream;
}

RwBool RwStreamClose(RwStream *stream, void *data)
{
    if (!stream) {
        return FALSE;
    }
    RwBool result = TRUE;
    switch (stream->type) {
    case rwSTREAMFILE:
        // The file belongs to the caller.
        break;
    case rwSTREAMFILENAME:
        result = RwFclose(stream->Type.file) <= 0;
        break;
    case rwSTREAMMEMORY:
        if (stream->accessType == rwSTREAMWRITE || stream->accessType == rwSTREAMAPPEND) {
            RwMemory *memory = static_cast<RwMemory *>(data);
            if (memory) {
                memory->start = stream->Type.memory.memBlock;
                memory->length = stream->Type.memory.position;
            } else if (stream->Type.memory.memBlock) {
                // Nobody takes the buffer over: do not leak it.
                RwFree(stream->Type.memory.memBlock);
            }
        }
        break;
    case rwSTREAMCUSTOM:
        DropAhead(Slot(stream));
        if (stream->Type.callBack.sfnclose) {
            stream->Type.callBack.sfnclose(stream->Type.callBack.data);
        }
        break;
    default:
        StreamError(E_RW_INVSTREAMTYPE);
        result = FALSE;
        break;
    }
    ReleaseStream(stream);
    return result;
}

RwUInt32 RwStreamRead(RwStream *stream, void *buffer, RwUInt32 length)
{
    if (!stream || (!buffer && length != 0)) {
        StreamError(E_RW_NULLP);
        return 0;
    }
    switch (stream->type) {
    case rwSTREAMFILE:
    case rwSTREAMFILENAME: {
        RwUInt32 got = static_cast<RwUInt32>(RwFread(buffer, 1, length, stream->Type.file));
        if (got != length) {
            StreamError(RwFeof(stream->Type.file) ? static_cast<RwUInt32>(E_RW_ENDOFSTREAM) : static_cast<RwUInt32>(E_RW_READ));
        }
        return got;
    }
    case rwSTREAMMEMORY: {
        RwStreamMemory *m = &stream->Type.memory;
        if (stream->accessType != rwSTREAMREAD) {
            // Past the write position lies only unwritten buffer capacity.
            StreamError(E_RW_INVSTREAMACCESSTYPE);
            return 0;
        }
        RwUInt32 left = m->nSize - m->position;
        if (length > left) {
            length = left;
            StreamError(E_RW_ENDOFSTREAM);
        }
        if (length > 0) {
            std::memcpy(buffer, m->memBlock + m->position, length);
        }
        m->position += length;
        return length;
    }
    case rwSTREAMCUSTOM: {
        if (!stream->Type.callBack.sfnread) {
            StreamError(E_RW_INVSTREAMACCESSTYPE);
            return 0;
        }
        RwStreamSlot *slot = Slot(stream);
        RwUInt8 *bytes = static_cast<RwUInt8 *>(buffer);
        RwUInt32 got = TakeAhead(slot, bytes, length);
        got += CallRead(slot, bytes + got, length - got);
        slot->position += got;
        if (got < length) {
            StreamError(E_RW_ENDOFSTREAM);
        }
        return got;
    }
    default:
        StreamError(E_RW_INVSTREAMTYPE);
        return 0;
    }
}

RwStream *RwStreamReadExact(RwStream *stream, void *buffer, RwUInt32 length)
{
    if (RwStreamRead(stream, buffer, length) != length) {
        StreamError(E_RW_READ);
        return nullptr;
    }
    return stream;
}

static RwStream *WriteMemory(RwStream *stream, const void *buffer, RwUInt32 length)
{
    RwStreamMemory *m = &stream->Type.memory;
    if (stream->accessType == rwSTREAMREAD) {
        // The buffer belongs to the caller and was not made by our allocator.
        StreamError(E_RW_INVSTREAMACCESSTYPE);
        return nullptr;
    }
    if (!m->memBlock) {
        m->memBlock = static_cast<RwUInt8 *>(RwMalloc(rwMEMORYSTREAMGROWTH, rwSTREAMHINT));
        if (!m->memBlock) {
            StreamError(E_RW_NOMEM);
            return nullptr;
        }
        m->nSize = rwMEMORYSTREAMGROWTH;
    }
    if (m->nSize - m->position < length) {
        RwUInt32 growth = (length < rwMEMORYSTREAMGROWTH) ? static_cast<RwUInt32>(rwMEMORYSTREAMGROWTH) : length;
        if (growth > UINT32_MAX - m->nSize) {
            StreamError(E_RW_NOMEM);
            return nullptr;
        }
        RwUInt8 *grown = static_cast<RwUInt8 *>(RwRealloc(m->memBlock, m->nSize + growth, rwSTREAMBUFFERHINT));
        if (!grown) {
            StreamError(E_RW_NOMEM);
            return nullptr;
        }
        m->memBlock = grown;
        m->nSize += growth;
    }
    if (length > 0) {
        std::memcpy(m->memBlock + m->position, buffer, length);
    }
    m->position += length;
    return stream;
}

RwStream *RwStreamWrite(RwStream *stream, const void *buffer, RwUInt32 length)
{
    if (!stream || (!buffer && length != 0)) {
        StreamError(E_RW_NULLP);
        return nullptr;
    }
    switch (stream->type) {
    case rwSTREAMFILE:
    case rwSTREAMFILENAME:
        if (length > 0 && RwFwrite(buffer, 1, length, stream->Type.file) != length) {
            StreamError(E_RW_WRITEFAILED);
            return nullptr;
        }
        return stream;
    case rwSTREAMMEMORY:
        return WriteMemory(stream, buffer, length);
    case rwSTREAMCUSTOM:
        if (!stream->Type.callBack.sfnwrite) {
            StreamError(E_RW_INVSTREAMACCESSTYPE);
            return nullptr;
        }
        if (stream->Type.callBack.sfnwrite(stream->Type.callBack.data, buffer, length) <= 0) {
            return nullptr;
        }
        Slot(stream)->position += length;
        return stream;
    default:
        StreamError(E_RW_INVSTREAMTYPE);
        return nullptr;
    }
}

RwBool RwStreamGetPosition(const RwStream *stream, RwUInt32 *position)
{
    if (!stream || !position) {
        return FALSE;
    }
    switch (stream->type) {
    case rwSTREAMFILE:
    case rwSTREAMFILENAME:
        if (!stream->Type.file || stream->Type.file->position > UINT32_MAX) {
            return FALSE;
        }
        *position = static_cast<RwUInt32>(stream->Type.file->position);
        return TRUE;
    case rwSTREAMMEMORY:
        *position = stream->Type.memory.position;
        return TRUE;
    case rwSTREAMCUSTOM:
        *position = reinterpret_cast<const RwStreamSlot *>(stream)->position;
        return TRUE;
    default:
        return FALSE;
    }
}

RwBool RwStreamGetRemaining(const RwStream *stream, RwUInt32 *remaining)
{
    if (!stream || !remaining || stream->accessType != rwSTREAMREAD) {
        return FALSE;
    }
    switch (stream->type) {
    case rwSTREAMFILE:
    case rwSTREAMFILENAME: {
        const RwFile *file = stream->Type.file;
        if (!file || file->position == UINT64_MAX) {
            return FALSE;
        }
        uint64_t left = (file->position < file->size) ? file->size - file->position : 0;
        *remaining = (left > UINT32_MAX) ? UINT32_MAX : static_cast<RwUInt32>(left);
        return TRUE;
    }
    case rwSTREAMMEMORY:
        *remaining = stream->Type.memory.nSize - stream->Type.memory.position;
        return TRUE;
    default:
        return FALSE;
    }
}

RwBool RwStreamCanHold(RwStream *stream, RwUInt32 count, RwUInt32 recordSize)
{
    const uint64_t needed = static_cast<uint64_t>(count) * recordSize;
    RwUInt32 left = 0;
    if (RwStreamGetRemaining(stream, &left)) {
        return needed <= left;
    }
    if (stream && stream->type == rwSTREAMCUSTOM && stream->accessType == rwSTREAMREAD &&
        stream->Type.callBack.sfnread) {
        return ReadAhead(Slot(stream), needed);
    }
    return TRUE;
}

// A skip compares the offset with what is left and never adds it to the
// position first: a corrupt size must not wrap the position backwards.
static RwStream *SkipFile(RwStream *stream, RwUInt32 offset)
{
    RwFile *file = stream->Type.file;
    RwUInt32 left;
    if (RwStreamGetRemaining(stream, &left) && offset > left) {
        RwFseek(file, 0, 2);
        StreamError(E_RW_ENDOFSTREAM);
        return nullptr;
    }
    if (offset > static_cast<RwUInt32>(LONG_MAX) || RwFseek(file, static_cast<long>(offset), 1) != 0) {
        if (RwFeof(file)) {
            StreamError(E_RW_ENDOFSTREAM);
        }
        return nullptr;
    }
    return stream;
}

// Without a skip callback the bytes are read and dropped.
static RwBool SkipByReading(RwStreamSlot *slot, RwUInt32 offset)
{
    RwUInt8 scrap[256];
    while (offset > 0) {
        const RwUInt32 n = offset < sizeof scrap ? offset : static_cast<RwUInt32>(sizeof scrap);
        const RwUInt32 got = CallRead(slot, scrap, n);
        slot->position += got;
        if (got < n) {
            return FALSE;
        }
        offset -= n;
    }
    return TRUE;
}

// What was read ahead is passed over first; past an end the read callback
// reported there is nothing left to skip.
static RwStream *SkipCustom(RwStream *stream, RwUInt32 offset)
{
    const RwStreamCustom &custom = stream->Type.callBack;
    RwStreamSlot *slot = Slot(stream);
    const RwUInt32 taken = TakeAhead(slot, nullptr, offset);
    slot->position += taken;
    offset -= taken;
    if (offset == 0) {
        return stream;
    }
    if (!custom.sfnskip) {
        if (!SkipByReading(slot, offset)) {
            StreamError(E_RW_ENDOFSTREAM);
            return nullptr;
        }
        return stream;
    }
    if (slot->ended || custom.sfnskip(custom.data, offset) <= 0) {
        StreamError(E_RW_ENDOFSTREAM);
        return nullptr;
    }
    slot->position += offset;
    return stream;
}

RwStream *RwStreamSkip(RwStream *stream, RwUInt32 offset)
{
    if (!stream) {
        StreamError(E_RW_NULLP);
        return nullptr;
    }
    if (offset == 0) {
        return stream;
    }
    switch (stream->type) {
    case rwSTREAMFILE:
    case rwSTREAMFILENAME:
        return SkipFile(stream, offset);
    case rwSTREAMMEMORY: {
        RwStreamMemory *m = &stream->Type.memory;
        if (offset > m->nSize - m->position) {
            m->position = m->nSize;
            StreamError(E_RW_ENDOFSTREAM);
            return nullptr;
        }
        m->position += offset;
        return stream;
    }
    case rwSTREAMCUSTOM:
        return SkipCustom(stream, offset);
    default:
        StreamError(E_RW_INVSTREAMTYPE);
        return nullptr;
    }
}

// Values go through a small buffer in file byte order, so that the same
// bytes are written on any host.
enum : RwUInt32 { rwSTREAMCONVERTBUFFER = 256 };

template <typename T, void (*Put)(void *, T)>
static RwStream *WriteValues(RwStream *stream, const T *values, RwUInt32 numBytes)
{
    if (!stream || (!values && numBytes != 0)) {
        StreamError(E_RW_NULLP);
        return nullptr;
    }
    const RwUInt32 valueSize = sizeof(T);
    RwUInt32 count = numBytes / valueSize;
    RwUInt8 buffer[rwSTREAMCONVERTBUFFER];
    RwUInt32 done = 0;
    while (done < count) {
        RwUInt32 n = count - done;
        if (n > rwSTREAMCONVERTBUFFER / valueSize) {
            n = rwSTREAMCONVERTBUFFER / valueSize;
        }
        for (RwUInt32 i = 0; i < n; i++) {
            Put(buffer + i * valueSize, values[done + i]);
        }
        if (!RwStreamWrite(stream, buffer, n * valueSize)) {
            return nullptr;
        }
        done += n;
    }
    RwUInt32 tail = numBytes - count * valueSize;
    if (tail > 0 && !RwStreamWrite(stream, reinterpret_cast<const RwUInt8 *>(values) + count * valueSize, tail)) {
        return nullptr;
    }
    return stream;
}

template <typename T, T (*Get)(const void *)>
static RwStream *ReadValues(RwStream *stream, T *values, RwUInt32 numBytes)
{
    if (!RwStreamReadExact(stream, values, numBytes)) {
        return nullptr;
    }
    RwUInt32 count = numBytes / sizeof(T);
    for (RwUInt32 i = 0; i < count; i++) {
        values[i] = Get(&values[i]);
    }
    return stream;
}

RwStream *RwStreamWriteInt32(RwStream *stream, const RwInt32 *ints, RwUInt32 numBytes)
{
    return WriteValues<RwInt32, WriteI32>(stream, ints, numBytes);
}

RwStream *RwStreamWriteReal(RwStream *stream, const RwReal *reals, RwUInt32 numBytes)
{
    return WriteValues<RwReal, WriteF32>(stream, reals, numBytes);
}

RwStream *RwStreamWriteInt16(RwStream *stream, const RwInt16 *ints, RwUInt32 numBytes)
{
    return WriteValues<RwInt16, WriteI16>(stream, ints, numBytes);
}

RwStream *RwStreamReadInt32(RwStream *stream, RwInt32 *ints, RwUInt32 numBytes)
{
    return ReadValues<RwInt32, ReadI32>(stream, ints, numBytes);
}

RwStream *RwStreamReadReal(RwStream *stream, RwReal *reals, RwUInt32 numBytes)
{
    return ReadValues<RwReal, ReadF32>(stream, reals, numBytes);
}

RwStream *RwStreamReadInt16(RwStream *stream, RwInt16 *ints, RwUInt32 numBytes)
{
    return ReadValues<RwInt16, ReadI16>(stream, ints, numBytes);
}

RwUInt32 RwChunkVersionStamp(RwUInt32 version, RwUInt32 build)
{
    return (((version + 0x10000u) >> 8) << 22) | ((version & 63u) << 16) | (build & 0xFFFFu);
}

void RwChunkVersionDecode(RwUInt32 stamp, RwUInt32 *version, RwUInt32 *build)
{
    RwUInt32 v;
    RwUInt32 b;
    if (stamp < 0x10000u) {
        v = stamp << 8;
        b = 0;
    } else {
        v = ((stamp >> 14) & 0x3FF00u) + 0x30000u + ((stamp >> 16) & 63u);
        b = stamp & 0xFFFFu;
    }
    if (version) {
        *version = v;
    }
    if (build) {
        *build = b;
    }
}

RwStream *RwStreamWriteChunkHeader(RwStream *stream, RwUInt32 type, RwUInt32 size, RwUInt32 version,
                                   RwUInt32 build)
{
    RwUInt8 header[rwCHUNKHEADERSIZE];
    WriteU32(header + 0, type);
    WriteU32(header + 4, size);
    WriteU32(header + 8, RwChunkVersionStamp(version, build));
    return RwStreamWrite(stream, header, sizeof(header));
}

RwBool RwStreamReadChunkHeaderInfo(RwStream *stream, RwUInt32 *type, RwUInt32 *length, RwUInt32 *version,
                                   RwUInt32 *build)
{
    RwUInt8 header[rwCHUNKHEADERSIZE];
    if (RwStreamRead(stream, header, sizeof(header)) != sizeof(header)) {
        StreamError(E_RW_READ);
        return FALSE;
    }
    if (type) {
        *type = ReadU32(header + 0);
    }
    if (length) {
        *length = ReadU32(header + 4);
    }
    RwChunkVersionDecode(ReadU32(header + 8), version, build);
    return TRUE;
}

RwBool RwStreamFindChunk(RwStream *stream, RwUInt32 type, RwUInt32 *lengthOut, RwUInt32 *versionOut)
{
    RwUInt32 readType;
    RwUInt32 length;
    RwUInt32 version;
    // Every pass reads a header and moves forward (or fails), so a finite
    // stream always ends the search.
    while (RwStreamReadChunkHeaderInfo(stream, &readType, &length, &version, nullptr)) {
        if (readType == type) {
            if (!RwChunkVersionAccepted(version)) {
                StreamError(E_RW_BADVERSION);
                return FALSE;
            }
            if (lengthOut) {
                *lengthOut = length;
            }
            if (versionOut) {
                *versionOut = version;
            }
            return TRUE;
        }
        if (!RwStreamSkip(stream, length)) {
            return FALSE;
        }
    }
    return FALSE;
}

RwUInt32 RwStringStreamGetSize(const RwChar *string)
{
    RwUInt32 length = string ? static_cast<RwUInt32>(std::strlen(string)) : 0;
    return (length + 4) & ~3u;
}

const RwChar *RwStringStreamWrite(const RwChar *string, RwStream *stream)
{
    static const RwUInt8 zeros[4] = {0, 0, 0, 0};
    if (!string) {
        string = "";
    }
    RwUInt32 length = static_cast<RwUInt32>(std::strlen(string));
    RwUInt32 size = RwStringStreamGetSize(string);
    if (!RwStreamWriteChunkHeader(stream, rwID_STRING, size) || !RwStreamWrite(stream, string, length) ||
        !RwStreamWrite(stream, zeros, size - length)) {
        return nullptr;
    }
    return string;
}

RwChar *RwStringStreamFindAndRead(RwChar *buffer, RwUInt32 bufferSize, RwStream *stream)
{
    RwUInt32 type;
    RwUInt32 length;
    RwUInt32 version;
    for (;;) {
        if (!RwStreamReadChunkHeaderInfo(stream, &type, &length, &version, nullptr)) {
            return nullptr;
        }
        if (!RwChunkVersionAccepted(version)) {
            StreamError(E_RW_BADVERSION);
            return nullptr;
        }
        if (type == rwID_STRING || type == rwID_UNICODESTRING) {
            break;
        }
        if (!RwStreamSkip(stream, length)) {
            return nullptr;
        }
    }
    // A size beyond the data is refused before anything is allocated; a
    // custom stream reads the body ahead first.
    RwUInt32 left;
    if (RwStreamGetRemaining(stream, &left)) {
        if (length > left) {
            RwStreamSkip(stream, left);
            StreamError(E_RW_READ);
            return nullptr;
        }
    } else if (!buffer && !RwStreamCanHold(stream, length, 1)) {
        StreamError(E_RW_READ);
        return nullptr;
    }
    const RwBool wide = (type == rwID_UNICODESTRING);
    const RwUInt32 characters = wide ? length / 2 : length;
    RwChar *out = buffer;
    RwUInt32 capacity = bufferSize;
    if (!out) {
        if (characters == UINT32_MAX) {
            StreamError(E_RW_NOMEM);
            return nullptr;
        }
        capacity = characters + 1;
        out = static_cast<RwChar *>(RwMalloc(capacity, rwSTRINGHINT));
        if (!out) {
            StreamError(E_RW_NOMEM);
            return nullptr;
        }
    } else if (capacity == 0) {
        StreamError(E_RW_NULLP);
        return nullptr;
    }
    const RwUInt32 keep = (characters < capacity - 1) ? characters : capacity - 1;

    RwUInt8 piece[128];
    const RwUInt32 pieceSize = wide ? 128 : 64;
    RwUInt32 done = 0;
    while (done < length) {
        RwUInt32 n = length - done;
        if (n > pieceSize) {
            n = pieceSize;
        }
        if (!RwStreamReadExact(stream, piece, n)) {
            if (!buffer) {
                RwFree(out);
            }
            return nullptr;
        }
        for (RwUInt32 i = 0; i < n; i++) {
            RwUInt32 offset = done + i;
            if (wide && (offset & 1)) {
                continue;
            }
            RwUInt32 index = wide ? offset / 2 : offset;
            if (index < keep) {
                out[index] = static_cast<RwChar>(piece[i]);
            }
        }
        done += n;
    }
    out[keep] = '\0';
    return out;
}
