// PNG files assembled by hand from the format's tables: big-endian fields, chunks
// with CRCs, one zlib stream of filtered scanlines as IDAT.
#pragma once

#include <zlib.h>

#include <string>
#include <vector>

namespace pngchunks {

inline std::string Be32(unsigned v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; i++)
        s[static_cast<size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
    return s;
}

inline std::string Chunk(const char *type, const std::string &data)
{
    std::string body = std::string(type, 4) + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    return Be32(static_cast<unsigned>(data.size())) + body + Be32(static_cast<unsigned>(crc));
}

inline std::string Ihdr(unsigned width, unsigned height, int bitDepth, int colourType, int interlace = 0)
{
    return Chunk("IHDR", Be32(width) + Be32(height) + std::string(1, static_cast<char>(bitDepth)) +
                             std::string(1, static_cast<char>(colourType)) + std::string(2, '\0') +
                             std::string(1, static_cast<char>(interlace)));
}

// The bytes as one zlib stream.
inline std::string Compressed(const std::string &raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef *>(&out[0]), &size, reinterpret_cast<const Bytef *>(raw.data()),
              static_cast<uLong>(raw.size()), 9);
    out.resize(size);
    return out;
}

// rows: each scanline's bytes without the filter byte (filter 0 is added); a zlib stream.
inline std::string Deflated(const std::vector<std::string> &rows)
{
    std::string raw;
    for (const std::string &row : rows)
        raw += std::string(1, '\0') + row;
    return Compressed(raw);
}

// The filtered rows as a zlib stream that goes on with megabytes of zeros:
// each megabyte one block deflated once and repeated (flushed whole, so it
// stands alone), so that nothing large is ever deflated.
inline std::string DeflatedWithZeros(const std::string &filtered, int megabytes)
{
    z_stream z = {};
    deflateInit(&z, 9);
    std::string out;
    auto deflateFlushed = [&](const std::string &in) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        do {
            Bytef buffer[1 << 16];
            z.next_out = buffer;
            z.avail_out = sizeof(buffer);
            deflate(&z, Z_FULL_FLUSH);
            out.append(reinterpret_cast<char *>(buffer), sizeof(buffer) - z.avail_out);
        } while (z.avail_out == 0);
    };
    deflateFlushed(filtered);
    uLong check = adler32(1, reinterpret_cast<const Bytef *>(filtered.data()), static_cast<uInt>(filtered.size()));
    if (megabytes > 0) {
        const std::string zeros(1 << 20, '\0');
        const size_t head = out.size();
        deflateFlushed(zeros);
        const std::string block = out.substr(head);
        const uLong zerosCheck = adler32(1, reinterpret_cast<const Bytef *>(zeros.data()), 1u << 20);
        for (int i = 0; i < megabytes; i++) {
            if (i > 0)
                out += block;
            check = adler32_combine(check, zerosCheck, 1 << 20);
        }
    }
    deflateEnd(&z);
    // The last block, empty and stored, then the checksum.
    return out + std::string("\x01\x00\x00\xFF\xFF", 5) + Be32(static_cast<unsigned>(check));
}

// The zlib stream cut into IDAT chunks of piece bytes (the last one shorter).
inline std::string IdatChunks(const std::string &data, size_t piece)
{
    std::string chunks;
    for (size_t at = 0; at < data.size(); at += piece)
        chunks += Chunk("IDAT", data.substr(at, piece));
    return chunks;
}

inline std::string Idat(const std::vector<std::string> &rows)
{
    return Chunk("IDAT", Deflated(rows));
}

inline std::string Signature()
{
    return std::string("\x89PNG\r\n\x1a\n", 8);
}

inline std::string PngFile(const std::string &header, const std::string &middle, const std::vector<std::string> &rows)
{
    return Signature() + header + middle + Idat(rows) + Chunk("IEND", "");
}

} // namespace pngchunks
