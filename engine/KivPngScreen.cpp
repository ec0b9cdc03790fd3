// The checks a PNG file passes before FreeImage reads it, and the bytes it is handed.
#include "engine/KivPngScreen.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "gfx/core/pngformat.h"

namespace {

const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const DWORD kChunkFrame = 12;   // length, type and CRC around the data

RwUInt32 ReadBe32(const BYTE *p)
{
    return (static_cast<RwUInt32>(p[0]) << 24) | (static_cast<RwUInt32>(p[1]) << 16) |
           (static_cast<RwUInt32>(p[2]) << 8) | p[3];
}

struct PngChunk {
    const BYTE *type;
    const BYTE *data;
    RwUInt32 length;
};

bool IsType(const PngChunk &chunk, const char *type)
{
    return memcmp(chunk.type, type, 4) == 0;
}

// Whether the chunk's CRC (over its type and data) is right.
bool CrcHolds(const PngChunk &chunk)
{
    return crc32(0, chunk.type, 4 + chunk.length) == ReadBe32(chunk.data + chunk.length);
}

// The chunk at *pos, which must lie wholly inside the file; *pos moves past it.
bool NextChunk(const BYTE *bytes, DWORD size, DWORD *pos, PngChunk *chunk)
{
    if (size - *pos < kChunkFrame)
        return false;
    chunk->length = ReadBe32(bytes + *pos);
    if (chunk->length > size - *pos - kChunkFrame)
        return false;
    chunk->type = bytes + *pos + 4;
    chunk->data = bytes + *pos + 8;
    *pos += kChunkFrame + chunk->length;
    return true;
}

// Ancillary chunks that change the pixels FreeImage makes; every other one is
// metadata (text, profiles, times...) and stays behind.
bool ChangesPixels(const PngChunk &chunk)
{
    const bool critical = (chunk.type[0] & 0x20) == 0;
    return critical || IsType(chunk, "tRNS") || IsType(chunk, "gAMA") || IsType(chunk, "sRGB");
}

struct PngHeader {
    RwUInt32 width, height;
    int bitDepth, colourType, interlace;
};

// Bits per pixel, 0 for a combination PNG does not have.
int PixelBits(const PngHeader &h)
{
    const int d = h.bitDepth;
    const bool wide = d == 8 || d == 16;
    switch (h.colourType) {
    case 0: return d == 1 || d == 2 || d == 4 || wide ? d : 0;
    case 2: return wide ? 3 * d : 0;
    case 3: return d == 1 || d == 2 || d == 4 || d == 8 ? d : 0;
    case 4: return wide ? 2 * d : 0;
    case 6: return wide ? 4 * d : 0;
    default: return 0;
    }
}

uint64_t RowBytes(uint64_t width, int bits)
{
    return (width * static_cast<uint64_t>(bits) + 7) / 8;
}

// The file FreeImage reads, built in a block that grows with what has been
// inflated (never to more than total bytes), so a header alone costs nothing.
struct Rewrite {
    BYTE *data;
    size_t size, capacity, total;
};

bool Reserve(Rewrite *file, size_t more)
{
    const size_t need = file->size + more;
    if (need <= file->capacity)
        return true;
    size_t grown = file->capacity * 2 > need ? file->capacity * 2 : need;
    if (grown > file->total)
        grown = file->total;
    BYTE *moved = need <= grown ? static_cast<BYTE *>(realloc(file->data, grown)) : nullptr;
    if (!moved)
        return false;
    file->data = moved;
    file->capacity = grown;
    return true;
}

void Append(Rewrite *file, const void *bytes, size_t count)
{
    memcpy(file->data + file->size, bytes, count);
    file->size += count;
}

void AppendBe32(Rewrite *file, RwUInt32 v)
{
    const BYTE b[4] = {static_cast<BYTE>(v >> 24), static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 8),
                       static_cast<BYTE>(v)};
    Append(file, b, 4);
}

// The IDAT chunks' data, handed to the inflater as it asks for more.
struct IdatFeed {
    z_stream z;
    const BYTE *bytes;
    DWORD size, pos;
    int status;   // Z_OK while the stream goes on, Z_STREAM_END, or the error
};

// Inflates up to room bytes into out; the count given, fewer when the stream
// ends, breaks or runs out of IDAT chunks.
uInt InflateInto(IdatFeed *feed, BYTE *out, uInt room)
{
    feed->z.next_out = out;
    feed->z.avail_out = room;
    while (feed->z.avail_out > 0 && feed->status == Z_OK) {
        if (feed->z.avail_in == 0) {
            PngChunk chunk;
            bool found = false;
            while (!found && NextChunk(feed->bytes, feed->size, &feed->pos, &chunk))
                found = IsType(chunk, "IDAT");
            if (!found)
                break;
            feed->z.next_in = const_cast<Bytef *>(chunk.data);
            feed->z.avail_in = chunk.length;
            continue;
        }
        feed->status = inflate(&feed->z, Z_NO_FLUSH);
    }
    return room - feed->z.avail_out;
}

const uInt kStoredBlock = 65535;   // the most a stored deflate block holds
const DWORD kStoredHeader = 5;     // final bit and type, then LEN and NLEN

// Appends the image data as one IDAT chunk of stored deflate blocks, so that
// the decoder only copies what was inflated here once: false unless the
// stream gives exactly expected bytes and ends there (one byte past them is
// all that is ever asked for). Stored blocks carry the same bytes, so the
// pixels are the same.
bool AppendStoredData(Rewrite *file, const BYTE *bytes, DWORD size, uint64_t expected, uint64_t streamBytes)
{
    IdatFeed feed = {{}, bytes, size, sizeof(kSignature), Z_OK};
    if (inflateInit(&feed.z) != Z_OK)
        return false;
    bool ok = Reserve(file, kChunkFrame + 2);
    const size_t type = file->size + 4;
    if (ok) {
        AppendBe32(file, static_cast<RwUInt32>(streamBytes));
        Append(file, "IDAT\x78\x01", 6);   // zlib header: deflate, 32 KB window, no dictionary
    }
    for (uint64_t left = expected; ok && left > 0;) {
        const uInt n = left < kStoredBlock ? static_cast<uInt>(left) : kStoredBlock;
        left -= n;
        const BYTE header[kStoredHeader] = {static_cast<BYTE>(left == 0), static_cast<BYTE>(n),
                                            static_cast<BYTE>(n >> 8), static_cast<BYTE>(~n),
                                            static_cast<BYTE>(~n >> 8)};
        ok = Reserve(file, kStoredHeader + n + 8);
        if (ok) {
            Append(file, header, kStoredHeader);
            ok = InflateInto(&feed, file->data + file->size, n) == n;
            file->size += n;
        }
    }
    BYTE beyond;
    if (ok && feed.status == Z_OK)
        ok = InflateInto(&feed, &beyond, 1) == 0;
    // Bytes after the stream's end in its chunk are refused, as the library's
    // own reader refuses them.
    ok = ok && feed.status == Z_STREAM_END && feed.z.avail_in == 0;
    if (ok) {
        AppendBe32(file, static_cast<RwUInt32>(feed.z.adler));
        AppendBe32(file, static_cast<RwUInt32>(crc32(0, file->data + type, static_cast<uInt>(file->size - type))));
    }
    inflateEnd(&feed.z);
    return ok;
}

} // namespace

int KivPngScreen(const void *file, DWORD size, KivPngScreened *out)
{
    const BYTE *bytes = static_cast<const BYTE *>(file);
    if (!bytes || size < sizeof(kSignature) || memcmp(bytes, kSignature, sizeof(kSignature)) != 0)
        return 0;
    PngHeader header = {};
    int greyKey = -1;
    uint64_t idatBytes = 0;
    DWORD kept = sizeof(kSignature), pos = sizeof(kSignature);
    bool ended = false, inData = false, dataDone = false;
    PngChunk chunk;
    for (int index = 0; !ended && NextChunk(bytes, size, &pos, &chunk); index++) {
        if ((index == 0) != IsType(chunk, "IHDR"))
            return 0;
        if (index == 0) {
            if (chunk.length != 13)
                return 0;
            header = {ReadBe32(chunk.data), ReadBe32(chunk.data + 4), chunk.data[8], chunk.data[9], chunk.data[12]};
        } else if (IsType(chunk, "IDAT")) {
            // One run of image data: dropping the metadata between two runs
            // must not join them into a file the decoder would take. The
            // decoder never sees these chunks, so their CRCs are checked here.
            if (dataDone || !CrcHolds(chunk))
                return 0;
            inData = true;
            idatBytes += chunk.length;
            continue;
        } else {
            dataDone = inData;
            // The key the decoder takes: the first sound tRNS before the image data.
            // Only grey depths 1, 2 and 4 expand: others (0 among them) are refused
            // below and must not reach the expansion, which divides by the top value.
            const bool smallGrey =
                header.colourType == 0 && (header.bitDepth == 1 || header.bitDepth == 2 || header.bitDepth == 4);
            if (IsType(chunk, "tRNS") && !inData && greyKey < 0 && smallGrey && chunk.length == 2 && CrcHolds(chunk))
                greyKey = RwPngGreyTo8(static_cast<RwInt32>((chunk.data[0] << 8) | chunk.data[1]), header.bitDepth);
        }
        ended = IsType(chunk, "IEND");
        if (ChangesPixels(chunk))
            kept += kChunkFrame + chunk.length;
    }
    const int bits = PixelBits(header);
    if (!ended || !inData || !bits || header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
        header.height > 0x7FFFFFFFu || header.interlace > 1)
        return 0;
    // Nothing is decoded that the library's own reader would refuse for its
    // size, nor rows the image data could not fill.
    if (!RwPngSizeHeld(header.width, header.height))
        return 0;
    if (!RwPngRowsFitData(RowBytes(header.width, bits), header.height, static_cast<RwUInt32>(idatBytes)))
        return 0;
    const uint64_t expected = RwPngImageDataBytes(header.width, header.height, bits, header.interlace);
    const uint64_t streamBytes = 2 + expected + kStoredHeader * ((expected + kStoredBlock - 1) / kStoredBlock) + 4;
    const uint64_t total = kept + kChunkFrame + streamBytes;
    if (streamBytes > 0x7FFFFFFFu || total > 0x7FFFFFFFu)
        return 0;
    // The metadata stays behind; the image data is inflated once, here, and
    // data past the last row is found without inflating it to its end.
    Rewrite rewrite = {nullptr, 0, 0, static_cast<size_t>(total)};
    bool ok = Reserve(&rewrite, sizeof(kSignature));
    if (ok)
        Append(&rewrite, kSignature, sizeof(kSignature));
    bool stored = false;
    DWORD at = sizeof(kSignature);
    for (DWORD from = at; ok && NextChunk(bytes, pos, &at, &chunk); from = at) {
        if (IsType(chunk, "IDAT")) {
            ok = stored || AppendStoredData(&rewrite, bytes, pos, expected, streamBytes);
            stored = true;
        } else if (ChangesPixels(chunk)) {
            ok = Reserve(&rewrite, at - from);
            if (ok)
                Append(&rewrite, bytes + from, at - from);
        }
    }
    if (!ok) {
        free(rewrite.data);
        return 0;
    }
    *out = {rewrite.data, static_cast<DWORD>(rewrite.size), greyKey};
    return 1;
}

void KivPngScreenRelease(KivPngScreened *screened)
{
    free(screened->bytes);
    screened->bytes = nullptr;
}
