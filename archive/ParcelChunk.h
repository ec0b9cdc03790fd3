// Positioned I/O and chunk headers on the archive file (all positions 32-bit).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

enum {
    PARCEL_CHUNK_HEADER_SIZE = 6,
    PARCEL_CHUNK_DATA = 0x1101,
    PARCEL_CHUNK_STORAGE = 0x1102,
    PARCEL_CHUNK_FOLDERS = 0x1103,
};
static_assert(2 + 4 == PARCEL_CHUNK_HEADER_SIZE, "chunk header is u16 id, u32 length");

// The length counts the header itself.
struct ParcelChunkHeader {
    uint16_t id;
    uint32_t length;
};

bool ParcelSeek(HANDLE file, uint32_t pos);
bool ParcelTell(HANDLE file, uint32_t *pos);
// The file's size; false when it does not fit in 32 bits.
bool ParcelFileSize(HANDLE file, uint32_t *size);
// Whole transfers only: a short read or write is a failure.
bool ParcelReadExact(HANDLE file, void *buffer, uint32_t count);
bool ParcelWriteExact(HANDLE file, const void *buffer, uint32_t count);
bool ParcelWriteU32(HANDLE file, uint32_t value);
bool ParcelReadU32(HANDLE file, uint32_t *value);

// Writes a zero placeholder header and returns where it starts.
bool ParcelBeginChunk(HANDLE file, uint32_t *start);
// Writes the real header at start (length up to the current position) and
// returns to the current position.
bool ParcelFinishChunk(HANDLE file, uint16_t id, uint32_t start);
// Reads the header at the current position and steps back over it.
bool ParcelPeekHeader(HANDLE file, ParcelChunkHeader *header);
bool ParcelEnterChunk(HANDLE file, uint32_t *start);
bool ParcelSkipChunk(HANDLE file, uint32_t start, const ParcelChunkHeader &header);

// Reads the chunk at the current position when it has the given id and lies
// inside the file: its body goes to body, the file is left at the chunk's end.
bool ParcelReadChunk(HANDLE file, uint16_t id, std::vector<uint8_t> *body, uint32_t *start);
// Writes a chunk header at the current position.
bool ParcelWriteChunkHeader(HANDLE file, uint16_t id, uint32_t length);
// Writes a whole chunk (header and body) at the current position.
bool ParcelWriteChunk(HANDLE file, uint16_t id, const std::vector<uint8_t> &body);

// Copies size bytes from src to dst inside the file; the two may overlap
// either way. FALSE when either range would pass 4 GiB.
bool ParcelCopyRange(HANDLE file, uint32_t src, uint32_t dst, uint32_t size);
// Writes size zero bytes from at on.
bool ParcelZeroRange(HANDLE file, uint32_t at, uint32_t size);
// Copies as the moves say, each as if after the ones before it, in a few
// large transfers. A move with a high half set or past 4 GiB fails the call
// before anything is written; want of memory fails it, with no exception.
struct ParcelMove;
bool ParcelApplyMoves(HANDLE file, const ParcelMove *moves, size_t count);
