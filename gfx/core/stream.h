// Binary streams over files, memory and callbacks, the chunk headers they carry and string chunks.
#pragma once

#include "rwtypes.h"

struct RwFile;

enum RwStreamType : RwInt32 {
    rwNASTREAM = 0,
    rwSTREAMFILE = 1,       // an open RwFile that stays the caller's
    rwSTREAMFILENAME = 2,   // a file opened (and closed) by the stream
    rwSTREAMMEMORY = 3,
    rwSTREAMCUSTOM = 4,
};

enum RwStreamAccessType : RwInt32 {
    rwNASTREAMACCESS = 0,
    rwSTREAMREAD = 1,
    rwSTREAMWRITE = 2,
    rwSTREAMAPPEND = 3,
};

// Chunk types that the stream module itself reads and writes.
enum : RwUInt32 {
    rwID_STRUCT = 0x01,
    rwID_STRING = 0x02,
    rwID_EXTENSION = 0x03,
    rwID_UNICODESTRING = 0x13,
};

// Library version range that chunk readers accept, and what writers stamp.
enum : RwUInt32 {
    rwCHUNKVERSIONMIN = 0x35000,
    rwCHUNKVERSIONMAX = 0x37002,
    rwCHUNKVERSIONWRITE = 0x37002,
    rwCHUNKBUILDWRITE = 0x55,
    rwCHUNKHEADERSIZE = 12,
};

// Error codes of the stream module (plug-in id 1).
enum : RwUInt32 {
    E_RW_ENDOFSTREAM = 5,               // short read, or a skip past the end
    E_RW_INVSTREAMACCESSTYPE = 13,      // access not valid for the stream type
    E_RW_INVSTREAMTYPE = 14,
    E_RW_FILEOPENFAILED = 0x80000002u,  // a named file could not be opened
    E_RW_WRITEFAILED = 0x8000001Cu,     // fewer bytes were written than given
};

// Custom stream callbacks: read returns the bytes read, which may be fewer
// than asked (the stream asks again; 0 is the end, a count above the one
// asked, such as (RwUInt32)-1, an error); write and skip return a positive
// value for success.
typedef RwBool (*RwStreamCustomClose)(void *data);
typedef RwUInt32 (*RwStreamCustomRead)(void *data, void *buffer, RwUInt32 length);
typedef RwBool (*RwStreamCustomWrite)(void *data, const void *buffer, RwUInt32 length);
typedef RwBool (*RwStreamCustomSkip)(void *data, RwUInt32 offset);

struct RwStreamMemory {
    RwUInt32 position;
    RwUInt32 nSize;         // bytes valid for reading, or the capacity when writing
    RwUInt8 *memBlock;
};

struct RwStreamCustom {
    RwStreamCustomClose sfnclose;
    RwStreamCustomRead sfnread;
    RwStreamCustomWrite sfnwrite;
    RwStreamCustomSkip sfnskip;
    void *data;
};
static_assert(sizeof(RwStreamCustom) == 20, "custom record is five words");

union RwStreamUnion {
    RwStreamMemory memory;
    RwFile *file;
    RwStreamCustom callBack;
};

struct RwStream {
    RwStreamType type;
    RwStreamAccessType accessType;
    RwInt32 position;       // not used
    RwStreamUnion Type;
    RwBool rwOwned;         // goes back to the free list when closed
};
static_assert(sizeof(RwStream) == 36, "stream is nine words");

// Data of a memory stream: the buffer and its size. A stream opened for write
// or append hands (buffer, bytes written) back through it at close.
struct RwMemory {
    RwUInt8 *start;
    RwUInt32 length;
};

RwStream *RwStreamOpen(RwStreamType type, RwStreamAccessType accessType, const void *data);
RwBool RwStreamClose(RwStream *stream, void *data);
RwUInt32 RwStreamRead(RwStream *stream, void *buffer, RwUInt32 length);
// The stream when exactly length bytes arrived, else NULL (error 0x8000001A
// unless the read recorded one first).
RwStream *RwStreamReadExact(RwStream *stream, void *buffer, RwUInt32 length);
RwStream *RwStreamWrite(RwStream *stream, const void *buffer, RwUInt32 length);
// Moves forward only; a skip past the end of readable data stops at the end
// and fails with error 5.
RwStream *RwStreamSkip(RwStream *stream, RwUInt32 offset);

// Bytes left to read, when the stream knows them (memory and file streams
// opened for reading); FALSE otherwise.
RwBool RwStreamGetRemaining(const RwStream *stream, RwUInt32 *remaining);
// Whether count records of recordSize bytes could still be read: FALSE when
// the stream knows what is left and it is less. A custom stream reading does
// not know: the bytes are read ahead (in growing steps) and kept for the reads
// that follow, and FALSE means they ran out. Readers check this before
// allocating for a count taken from the stream, so a short or hostile stream
// never makes them ask for more memory than its bytes could fill.
RwBool RwStreamCanHold(RwStream *stream, RwUInt32 count, RwUInt32 recordSize);
// Current byte position: for a custom stream, the bytes handed on, skipped
// or written since it was opened (bytes read ahead count when handed on).
RwBool RwStreamGetPosition(const RwStream *stream, RwUInt32 *position);

// Arrays of 16- and 32-bit values, stored little-endian whatever the host.
// Counts are in bytes; a trailing part of a value is copied as it is.
RwStream *RwStreamWriteInt32(RwStream *stream, const RwInt32 *ints, RwUInt32 numBytes);
RwStream *RwStreamWriteReal(RwStream *stream, const RwReal *reals, RwUInt32 numBytes);
RwStream *RwStreamWriteInt16(RwStream *stream, const RwInt16 *ints, RwUInt32 numBytes);
RwStream *RwStreamReadInt32(RwStream *stream, RwInt32 *ints, RwUInt32 numBytes);
RwStream *RwStreamReadReal(RwStream *stream, RwReal *reals, RwUInt32 numBytes);
RwStream *RwStreamReadInt16(RwStream *stream, RwInt16 *ints, RwUInt32 numBytes);

// Version stamp of a chunk header, and its decoding (old-style stamps below
// 0x10000 decode to stamp << 8 with build 0).
RwUInt32 RwChunkVersionStamp(RwUInt32 version, RwUInt32 build);
void RwChunkVersionDecode(RwUInt32 stamp, RwUInt32 *version, RwUInt32 *build);
inline RwBool RwChunkVersionAccepted(RwUInt32 version)
{
    return version >= rwCHUNKVERSIONMIN && version <= rwCHUNKVERSIONMAX;
}

RwStream *RwStreamWriteChunkHeader(RwStream *stream, RwUInt32 type, RwUInt32 size,
                                   RwUInt32 version = rwCHUNKVERSIONWRITE, RwUInt32 build = rwCHUNKBUILDWRITE);
// Any out pointer may be NULL.
RwBool RwStreamReadChunkHeaderInfo(RwStream *stream, RwUInt32 *type, RwUInt32 *length, RwUInt32 *version,
                                   RwUInt32 *build);
// Skips other chunks until one of the type; TRUE with the stream at its body.
RwBool RwStreamFindChunk(RwStream *stream, RwUInt32 type, RwUInt32 *lengthOut, RwUInt32 *versionOut);

// String chunks (type 2; type 0x13 is read too, keeping the low byte of each
// 16-bit character).
RwUInt32 RwStringStreamGetSize(const RwChar *string);
// A NULL string is written as the empty string. Returns the string written.
const RwChar *RwStringStreamWrite(const RwChar *string, RwStream *stream);
// Finds the next string chunk and reads it into buffer (at most bufferSize - 1
// characters, always terminated; the rest of a longer string is skipped), or
// into a new allocation when buffer is NULL (bufferSize is then ignored).
RwChar *RwStringStreamFindAndRead(RwChar *buffer, RwUInt32 bufferSize, RwStream *stream);
