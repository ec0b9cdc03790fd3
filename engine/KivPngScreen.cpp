// The checks a PNG file passes before FreeImage reads it, and the bytes it is handed.
#include "engine/KivPngScreen.h"

#include <zlib.h>

#include <cstring>
#include <new>

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

// Whether the chunk's CRC (over its type and data) is right: the decoder drops
// an ancillary chunk whose CRC is not.
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

// The filtered bytes of all rows (a filter byte each), Adam7 passes included.
uint64_t ImageDataBytes(const PngHeader &h, int bits)
{
    if (!h.interlace)
        return h.height * (1 + RowBytes(h.width, bits));
    static const int kStart[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    static const int kStep[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
    uint64_t total = 0;
    for (int p = 0; p < 7; p++) {
        const uint64_t w = h.width > static_cast<RwUInt32>(kStart[p][0])
                               ? (h.width - kStart[p][0] + kStep[p][0] - 1) / kStep[p][0] : 0;
        const uint64_t rows = h.height > static_cast<RwUInt32>(kStart[p][1])
                                  ? (h.height - kStart[p][1] + kStep[p][1] - 1) / kStep[p][1] : 0;
        if (w && rows)
            total += rows * (1 + RowBytes(w, bits));
    }
    return total;
}

// Inflates the IDAT chunks in order, taking at most one byte more than the
// image needs: true when the stream ends having given exactly that much.
bool DataEndsWithTheImage(const BYTE *bytes, DWORD size, uint64_t expected)
{
    z_stream z = {};
    if (inflateInit(&z) != Z_OK)
        return false;
    BYTE scratch[16384];
    uint64_t produced = 0;
    int ret = Z_OK;
    DWORD pos = sizeof(kSignature);
    PngChunk chunk;
    while (ret == Z_OK && produced <= expected && NextChunk(bytes, size, &pos, &chunk)) {
        if (!IsType(chunk, "IDAT"))
            continue;
        z.next_in = const_cast<Bytef *>(chunk.data);
        z.avail_in = chunk.length;
        do {
            const uint64_t wanted = expected + 1 - produced;
            z.next_out = scratch;
            z.avail_out = wanted < sizeof(scratch) ? static_cast<uInt>(wanted) : sizeof(scratch);
            const uInt room = z.avail_out;
            ret = inflate(&z, Z_NO_FLUSH);
            produced += room - z.avail_out;
            if (ret == Z_BUF_ERROR && z.avail_in == 0)
                ret = Z_OK;   // this chunk is used up: on to the next
        } while (ret == Z_OK && produced <= expected && (z.avail_in > 0 || z.avail_out == 0));
    }
    inflateEnd(&z);
    return ret == Z_STREAM_END && produced == expected;
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
            // must not join them into a file the decoder would take.
            if (dataDone)
                return 0;
            inData = true;
            idatBytes += chunk.length;
        } else {
            dataDone = inData;
            // The key the decoder takes: the first sound tRNS before the image data.
            if (IsType(chunk, "tRNS") && !inData && greyKey < 0 && header.colourType == 0 && header.bitDepth < 8 &&
                chunk.length == 2 && CrcHolds(chunk))
                greyKey = RwPngGreyTo8(static_cast<RwInt32>((chunk.data[0] << 8) | chunk.data[1]), header.bitDepth);
        }
        ended = IsType(chunk, "IEND");
        if (ChangesPixels(chunk))
            kept += kChunkFrame + chunk.length;
    }
    const int bits = PixelBits(header);
    if (!ended || !bits || header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
        header.height > 0x7FFFFFFFu || header.interlace > 1)
        return 0;
    // Nothing is allocated for rows the image data could not fill, and data
    // past the last row is found without inflating it to its end.
    if (!RwPngRowsFitData(RowBytes(header.width, bits), header.height, static_cast<RwUInt32>(idatBytes)) ||
        !DataEndsWithTheImage(bytes, pos, ImageDataBytes(header, bits)))
        return 0;
    *out = {bytes, pos, nullptr, greyKey};
    if (kept == pos)
        return 1;
    out->copy = new (std::nothrow) BYTE[kept];
    if (!out->copy)
        return 0;
    memcpy(out->copy, bytes, sizeof(kSignature));
    DWORD at = sizeof(kSignature), to = sizeof(kSignature);
    for (DWORD from = at; NextChunk(bytes, pos, &at, &chunk); from = at) {
        if (ChangesPixels(chunk)) {
            memcpy(out->copy + to, bytes + from, at - from);
            to += at - from;
        }
    }
    out->bytes = out->copy;
    out->size = kept;
    return 1;
}

void KivPngScreenRelease(KivPngScreened *screened)
{
    delete[] screened->copy;
    screened->copy = nullptr;
}
