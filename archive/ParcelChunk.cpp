// Positioned I/O and chunk headers on the archive file (all positions 32-bit).
#include "archive/ParcelChunk.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "archive/CParcelStorage.h"
#include "archive/ParcelIo.h"

bool ParcelSeek(HANDLE file, uint32_t pos)
{
    // The high word makes the distance an unsigned 64-bit value, so positions
    // from 2 GiB up are reached instead of read as negative.
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, (LONG)pos, &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return false;
    return low == pos && high == 0;
}

bool ParcelTell(HANDLE file, uint32_t *pos)
{
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return false;
    if (high != 0)
        return false;
    *pos = low;
    return true;
}

bool ParcelFileSize(HANDLE file, uint32_t *size)
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    if (high != 0)
        return false;
    *size = low;
    return true;
}

bool ParcelReadExact(HANDLE file, void *buffer, uint32_t count)
{
    uint8_t *p = (uint8_t *)buffer;
    while (count) {
        DWORD done = 0;
        if (!::ReadFile(file, p, count, &done, nullptr) || done == 0)
            return false;
        p += done;
        count -= done;
    }
    return true;
}

bool ParcelWriteExact(HANDLE file, const void *buffer, uint32_t count)
{
    const uint8_t *p = (const uint8_t *)buffer;
    while (count) {
        DWORD done = 0;
        if (!ParcelIoWrite(file, p, count, &done) || done == 0)
            return false;
        p += done;
        count -= done;
    }
    return true;
}

bool ParcelWriteU32(HANDLE file, uint32_t value)
{
    uint8_t b[4] = {(uint8_t)value, (uint8_t)(value >> 8), (uint8_t)(value >> 16),
                    (uint8_t)(value >> 24)};
    return ParcelWriteExact(file, b, 4);
}

bool ParcelReadU32(HANDLE file, uint32_t *value)
{
    uint8_t b[4];
    if (!ParcelReadExact(file, b, 4))
        return false;
    *value = (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
    return true;
}

static void PutHeader(uint8_t *b, uint16_t id, uint32_t length)
{
    b[0] = (uint8_t)id;
    b[1] = (uint8_t)(id >> 8);
    b[2] = (uint8_t)length;
    b[3] = (uint8_t)(length >> 8);
    b[4] = (uint8_t)(length >> 16);
    b[5] = (uint8_t)(length >> 24);
}

bool ParcelBeginChunk(HANDLE file, uint32_t *start)
{
    static const uint8_t zeros[PARCEL_CHUNK_HEADER_SIZE] = {0};
    if (!ParcelTell(file, start))
        return false;
    return ParcelWriteExact(file, zeros, sizeof zeros);
}

bool ParcelFinishChunk(HANDLE file, uint16_t id, uint32_t start)
{
    uint32_t end;
    if (!ParcelTell(file, &end) || end < start + PARCEL_CHUNK_HEADER_SIZE)
        return false;
    uint8_t b[PARCEL_CHUNK_HEADER_SIZE];
    PutHeader(b, id, end - start);
    return ParcelSeek(file, start) && ParcelWriteExact(file, b, sizeof b) && ParcelSeek(file, end);
}

bool ParcelPeekHeader(HANDLE file, ParcelChunkHeader *header)
{
    uint32_t at;
    uint8_t b[PARCEL_CHUNK_HEADER_SIZE];
    if (!ParcelTell(file, &at) || !ParcelReadExact(file, b, sizeof b))
        return false;
    header->id = (uint16_t)(b[0] | (b[1] << 8));
    header->length = (uint32_t)b[2] | ((uint32_t)b[3] << 8) | ((uint32_t)b[4] << 16) |
                     ((uint32_t)b[5] << 24);
    return ParcelSeek(file, at);
}

bool ParcelEnterChunk(HANDLE file, uint32_t *start)
{
    if (!ParcelTell(file, start))
        return false;
    if (*start > 0xFFFFFFFFu - PARCEL_CHUNK_HEADER_SIZE)
        return false;
    return ParcelSeek(file, *start + PARCEL_CHUNK_HEADER_SIZE);
}

bool ParcelSkipChunk(HANDLE file, uint32_t start, const ParcelChunkHeader &header)
{
    if ((uint64_t)start + header.length > 0xFFFFFFFFu)
        return false;
    return ParcelSeek(file, start + header.length);
}

bool ParcelReadChunk(HANDLE file, uint16_t id, std::vector<uint8_t> *body, uint32_t *start)
{
    ParcelChunkHeader h;
    uint32_t size, at;
    if (!ParcelFileSize(file, &size) || !ParcelPeekHeader(file, &h) || h.id != id)
        return false;
    if (!ParcelEnterChunk(file, &at))
        return false;
    if (h.length < PARCEL_CHUNK_HEADER_SIZE || (uint64_t)at + h.length > size)
        return false;
    body->assign(h.length - PARCEL_CHUNK_HEADER_SIZE, 0);
    if (!body->empty() && !ParcelReadExact(file, body->data(), (uint32_t)body->size()))
        return false;
    if (start)
        *start = at;
    return true;
}

bool ParcelWriteChunkHeader(HANDLE file, uint16_t id, uint32_t length)
{
    uint8_t b[PARCEL_CHUNK_HEADER_SIZE];
    PutHeader(b, id, length);
    return ParcelWriteExact(file, b, sizeof b);
}

bool ParcelWriteChunk(HANDLE file, uint16_t id, const std::vector<uint8_t> &body)
{
    if (body.size() > 0xFFFFFFFFu - PARCEL_CHUNK_HEADER_SIZE)
        return false;
    if (!ParcelWriteChunkHeader(file, id, (uint32_t)body.size() + PARCEL_CHUNK_HEADER_SIZE))
        return false;
    return body.empty() || ParcelWriteExact(file, body.data(), (uint32_t)body.size());
}

bool ParcelZeroRange(HANDLE file, uint32_t at, uint32_t size)
{
    static const uint8_t kZeros[4096] = {};
    if ((uint64_t)at + size > 0xFFFFFFFFu || !ParcelSeek(file, at))
        return false;
    while (size) {
        const uint32_t n = size < sizeof kZeros ? size : (uint32_t)sizeof kZeros;
        if (!ParcelWriteExact(file, kZeros, n))
            return false;
        size -= n;
    }
    return true;
}

bool ParcelCopyRange(HANDLE file, uint32_t src, uint32_t dst, uint32_t size)
{
    static const uint32_t kBlock = 64 * 1024;
    if ((uint64_t)src + size > 0xFFFFFFFFu || (uint64_t)dst + size > 0xFFFFFFFFu)
        return false;
    // A range moving up over itself is copied from its end, so that no
    // block is written before it has been read.
    const bool backwards = dst > src && dst - src < size;
    std::vector<uint8_t> block;
    try {
        block.resize(size < kBlock ? size : kBlock);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    while (size) {
        const uint32_t n = size < kBlock ? size : kBlock;
        const uint32_t from = backwards ? src + size - n : src, to = backwards ? dst + size - n : dst;
        if (!ParcelSeek(file, from) || !ParcelReadExact(file, block.data(), n))
            return false;
        if (!ParcelSeek(file, to) || !ParcelWriteExact(file, block.data(), n))
            return false;
        if (!backwards) {
            src += n;
            dst += n;
        }
        size -= n;
    }
    return true;
}

static bool ApplyRuns(HANDLE file, const ParcelMove *moves, size_t count);

// Runs of moves whose sources no earlier move of the run wrote over: every
// source is read first (those that lie close together in one read), then
// the destinations are written (those that follow each other in one write).
// A move whose source or destination an earlier one wrote (the same
// contents moved twice, a place filled twice) starts a new run, so the later
// write lands last; one too large to hold is copied on its own.
bool ParcelApplyMoves(HANDLE file, const ParcelMove *moves, size_t count)
{
    // A move the file positions cannot express is refused before anything is written.
    for (size_t i = 0; i < count; ++i)
        if (moves[i].srcHigh || moves[i].dstHigh || moves[i].sizeHigh ||
            (uint64_t)moves[i].srcLow + moves[i].sizeLow > 0xFFFFFFFFu ||
            (uint64_t)moves[i].dstLow + moves[i].sizeLow > 0xFFFFFFFFu)
            return false;
    try {
        return ApplyRuns(file, moves, count);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

static bool ApplyRuns(HANDLE file, const ParcelMove *moves, size_t count)
{
    static const uint32_t kRunBytes = 8u << 20, kReadGap = 4096;
    std::vector<uint8_t> sources, data;
    for (size_t i = 0; i < count;) {
        if (moves[i].sizeLow > kRunBytes) {
            if (!ParcelCopyRange(file, moves[i].srcLow, moves[i].dstLow, moves[i].sizeLow))
                return false;
            ++i;
            continue;
        }
        // The places the run writes, which never overlap one another.
        std::map<uint32_t, uint32_t> written;
        const auto overwritten = [&](uint32_t at, uint32_t size) {
            auto it = written.lower_bound(at + size);
            return size && it != written.begin() && (--it)->second > at;
        };
        uint64_t bytes = 0;
        size_t end = i;
        for (; end < count; ++end) {
            const ParcelMove &m = moves[end];
            if (m.sizeLow > kRunBytes || bytes + m.sizeLow > kRunBytes)
                break;
            if (overwritten(m.srcLow, m.sizeLow) || overwritten(m.dstLow, m.sizeLow))
                break;
            if (m.sizeLow)
                written[m.dstLow] = m.dstLow + m.sizeLow;
            bytes += m.sizeLow;
        }
        std::vector<size_t> order;
        for (size_t k = i; k < end; ++k)
            if (moves[k].sizeLow)
                order.push_back(k);
        // Each move's bytes go to data in the order of their destinations.
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return moves[a].dstLow < moves[b].dstLow; });
        std::vector<uint32_t> at(end - i);
        uint32_t filled = 0;
        for (size_t k : order) {
            at[k - i] = filled;
            filled += moves[k].sizeLow;
        }
        data.resize(filled);
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return moves[a].srcLow < moves[b].srcLow; });
        for (size_t k = 0; k < order.size();) {
            const uint32_t from = moves[order[k]].srcLow;
            uint64_t to = (uint64_t)from + moves[order[k]].sizeLow;
            size_t last = k + 1;
            for (; last < order.size() && moves[order[last]].srcLow <= to + kReadGap &&
                   (uint64_t)moves[order[last]].srcLow + moves[order[last]].sizeLow - from <= 2 * kRunBytes;
                 ++last)
                to = std::max<uint64_t>(to, (uint64_t)moves[order[last]].srcLow + moves[order[last]].sizeLow);
            sources.resize((size_t)(to - from));
            if (!ParcelSeek(file, from) || !ParcelReadExact(file, sources.data(), (uint32_t)(to - from)))
                return false;
            for (; k < last; ++k)
                memcpy(&data[at[order[k] - i]], &sources[moves[order[k]].srcLow - from], moves[order[k]].sizeLow);
        }
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return moves[a].dstLow < moves[b].dstLow; });
        for (size_t k = 0; k < order.size();) {
            const uint32_t from = moves[order[k]].dstLow, first = at[order[k] - i];
            uint32_t length = moves[order[k]].sizeLow;
            for (++k; k < order.size() && moves[order[k]].dstLow == from + length; ++k)
                length += moves[order[k]].sizeLow;
            if (!ParcelSeek(file, from) || !ParcelWriteExact(file, &data[first], length))
                return false;
        }
        i = end;
    }
    return true;
}
