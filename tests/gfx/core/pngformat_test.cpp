#include "imagetestutil.h"

#include <string>
#include <vector>

#include "gfx/core/pngformat.h"
#include "support/png_chunks.h"

namespace {

typedef ImageTest Png;

using namespace pngchunks;

// The last byte changed: of a chunk, its CRC; of a zlib stream, its checksum.
std::string Flipped(std::string bytes)
{
    bytes.back() = static_cast<char>(bytes.back() ^ 0x01);
    return bytes;
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

RwImage *ReadBytes(const std::string &bytes, const char *name = "hand.png")
{
    WriteFileBytes(name, bytes);
    return RwImageReadPng(name);
}

// The chunks of a PNG file: (type, data) in file order.
std::vector<std::pair<std::string, std::string>> Chunks(const std::string &file)
{
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const RwUInt32 length = (static_cast<RwUInt8>(file[pos]) << 24) | (static_cast<RwUInt8>(file[pos + 1]) << 16) |
                                (static_cast<RwUInt8>(file[pos + 2]) << 8) | static_cast<RwUInt8>(file[pos + 3]);
        out.push_back({file.substr(pos + 4, 4), file.substr(pos + 8, length)});
        pos += 12 + length;
    }
    return out;
}

// Bits as deflate packs them: fields from the least significant bit,
// Huffman codes from their most significant.
struct BitWriter {
    std::string out;
    unsigned pending = 0;
    int count = 0;
    void Put(unsigned bits, int length)
    {
        for (int i = 0; i < length; i++) {
            pending |= ((bits >> i) & 1u) << count;
            if (++count == 8) {
                out += static_cast<char>(pending);
                pending = 0;
                count = 0;
            }
        }
    }
    void PutCode(unsigned code, int length)
    {
        for (int i = length - 1; i >= 0; i--)
            Put(code >> i, 1);
    }
};

// The bytes as a zlib stream of one fixed-Huffman block of literals only.
std::string FixedHuffman(const std::string &raw)
{
    BitWriter w;
    w.out = "\x78\x01";
    w.Put(1, 1);   // the last block
    w.Put(1, 2);   // fixed codes
    for (unsigned char c : raw) {
        if (c < 144)
            w.PutCode(0x30 + c, 8);
        else
            w.PutCode(0x190 + c - 144, 9);
    }
    w.PutCode(0, 7);   // end of block
    if (w.count != 0)
        w.Put(0, 8 - w.count);
    const uLong check = adler32(1, reinterpret_cast<const Bytef *>(raw.data()), static_cast<uInt>(raw.size()));
    return w.out + Be32(static_cast<unsigned>(check));
}

}  // namespace

// Real files and their independently decoded pixels ----------------------------------------------

namespace {

std::vector<std::string> FilesMatching(const char *pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

}  // namespace

// Each .rgba file holds width, height and depth (little-endian words), then the RGBA pixels.
TEST_F(Png, ReadsEveryReferenceFileAsTheIndependentDecoderDoes)
{
    const std::vector<std::string> names = FilesMatching("data/png/*.rgba");
    ASSERT_GE(names.size(), 55u) << "reference files missing from data/png";
    for (const std::string &rgba : names) {
        const std::string base = "data/png/" + rgba.substr(0, rgba.size() - 5);
        const std::string expected = ReadFileBytes("data/png/" + rgba);
        ASSERT_GE(expected.size(), 12u) << base;
        RwInt32 header[3];
        memcpy(header, expected.data(), sizeof(header));
        RwImage *image = Keep(RwImageReadPng((base + ".png").c_str()));
        ASSERT_NE(nullptr, image) << base;
        ASSERT_EQ(header[0], image->width) << base;
        ASSERT_EQ(header[1], image->height) << base;
        EXPECT_EQ(header[2], image->depth) << base;
        EXPECT_EQ(0u, image->flags & rwIMAGEGAMMACORRECTED);
        std::string shown;
        for (RwInt32 y = 0; y < image->height; y++)
            for (RwInt32 x = 0; x < image->width; x++) {
                if (image->depth == 4) {
                    ASSERT_LT(image->cpPixels[y * image->stride + x], 16) << base;
                }
                const RwRGBA c = ShownColour(image, x, y);
                shown += std::string(reinterpret_cast<const char *>(&c), 4);
            }
        EXPECT_TRUE(expected.substr(12) == shown) << base << ": pixels differ";
    }
}

TEST_F(Png, DamagedReferenceFilesAreRefused)
{
    RwInt32 damaged = 0;
    for (const std::string &png : FilesMatching("data/png/*.png")) {
        const std::string base = "data/png/" + png.substr(0, png.size() - 4);
        if (GetFileAttributesA((base + ".rgba").c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        ++damaged;
        EXPECT_EQ(nullptr, Keep(RwImageReadPng((base + ".png").c_str()))) << png;
    }
    EXPECT_GE(damaged, 4);
}

// Hand-assembled files ----------------------------------------------------------------------------

TEST_F(Png, HandAssembledFilesReadAsTheColourTypeTableSays)
{
    const struct {
        const char *what;
        std::string file;
        RwInt32 depth;
        std::vector<RwRGBA> shown;   // the first row
    } cases[] = {
        // Indices 0-3 packed in one byte; three PLTE entries, tRNS for the first two.
        {"2-bit palette",
         PngFile(Ihdr(4, 1, 2, 3),
                 Chunk("PLTE", Bytes({10, 20, 30, 40, 50, 60, 70, 80, 90})) + Chunk("tRNS", Bytes({0, 128})),
                 {Bytes({0x1B})}),
         4,
         {Rgba(10, 20, 30, 0), Rgba(40, 50, 60, 128), Rgba(70, 80, 90, 255), Rgba(3, 3, 3, 255)}},
        {"grey key", PngFile(Ihdr(3, 1, 8, 0), Chunk("tRNS", Bytes({0, 7})), {Bytes({6, 7, 8})}), 8,
         {Rgba(6, 6, 6, 255), Rgba(7, 7, 7, 0), Rgba(8, 8, 8, 255)}},
        // Two-bit grey 0-3 with key 2: the value 170 is transparent.
        {"2-bit grey key", PngFile(Ihdr(4, 1, 2, 0), Chunk("tRNS", Bytes({0, 2})), {Bytes({0x1B})}), 8,
         {Rgba(0, 0, 0, 255), Rgba(85, 85, 85, 255), Rgba(170, 170, 170, 0), Rgba(255, 255, 255, 255)}},
        {"16-bit grey keeps high byte",
         PngFile(Ihdr(2, 1, 16, 0), Chunk("tRNS", Bytes({0x12, 0x34})), {Bytes({0x12, 0x34, 0xAB, 0xFF})}), 8,
         {Rgba(0x12, 0x12, 0x12, 0), Rgba(0xAB, 0xAB, 0xAB, 255)}},
        {"RGB gets opaque filler",
         PngFile(Ihdr(2, 1, 8, 2), Chunk("tRNS", Bytes({0, 1, 0, 2, 0, 3})), {Bytes({1, 2, 3, 4, 5, 6})}), 32,
         {Rgba(1, 2, 3, 255), Rgba(4, 5, 6, 255)}},
        {"grey and alpha spread to RGB", PngFile(Ihdr(2, 1, 8, 4), "", {Bytes({90, 30, 200, 255})}), 32,
         {Rgba(90, 90, 90, 30), Rgba(200, 200, 200, 255)}},
        // Indices past the file's palette, first, in the middle and last in
        // the row: the grey ramp's entries, at every depth.
        {"8-bit indices past 4 entries", PngFile(Ihdr(4, 1, 8, 3), Chunk("PLTE", std::string(12, '\x40')),
                                                  {Bytes({200, 4, 1, 5})}),
         8, {Rgba(200, 200, 200, 255), Rgba(4, 4, 4, 255), Rgba(64, 64, 64, 255), Rgba(5, 5, 5, 255)}},
        {"4-bit indices past 3 entries", PngFile(Ihdr(4, 1, 4, 3), Chunk("PLTE", std::string(9, '\x40')),
                                                  {Bytes({0xF3, 0x2E})}),
         4, {Rgba(15, 15, 15, 255), Rgba(3, 3, 3, 255), Rgba(64, 64, 64, 255), Rgba(14, 14, 14, 255)}},
        {"2-bit indices past 2 entries", PngFile(Ihdr(8, 1, 2, 3), Chunk("PLTE", std::string(6, '\x40')),
                                                  {Bytes({0xE4, 0x1B})}),
         4, {Rgba(3, 3, 3, 255), Rgba(2, 2, 2, 255), Rgba(64, 64, 64, 255), Rgba(64, 64, 64, 255),
             Rgba(64, 64, 64, 255), Rgba(64, 64, 64, 255), Rgba(2, 2, 2, 255), Rgba(3, 3, 3, 255)}},
        {"1-bit index past 1 entry", PngFile(Ihdr(9, 1, 1, 3), Chunk("PLTE", std::string(3, '\x40')),
                                              {Bytes({0x7F, 0x80})}),
         4, {Rgba(64, 64, 64, 255), Rgba(1, 1, 1, 255), Rgba(1, 1, 1, 255), Rgba(1, 1, 1, 255),
             Rgba(1, 1, 1, 255), Rgba(1, 1, 1, 255), Rgba(1, 1, 1, 255), Rgba(1, 1, 1, 255), Rgba(1, 1, 1, 255)}},
    };
    for (const auto &c : cases) {
        RwImage *image = Keep(ReadBytes(c.file));
        ASSERT_NE(nullptr, image) << c.what;
        EXPECT_EQ(c.depth, image->depth) << c.what;
        for (size_t x = 0; x < c.shown.size(); x++)
            EXPECT_EQ(c.shown[x], ShownColour(image, static_cast<RwInt32>(x), 0)) << c.what << " pixel " << x;
        // Palette entries past the file's are the grey ramp.
        const RwUInt8 last = static_cast<RwUInt8>((1 << c.depth) - 1);
        if (image->palette) {
            EXPECT_EQ(Rgba(last, last, last, 255), image->palette[last]) << c.what;
        }
    }
}

TEST_F(Png, TruncatedOrCorruptFilesNeverCrashOrLeak)
{
    const std::string plain = PngFile(Ihdr(4, 2, 8, 6), "", {std::string(16, '\x40'), std::string(16, '\x80')});
    for (size_t cut = 0; cut < plain.size(); cut++)
        EXPECT_EQ(nullptr, Keep(ReadBytes(plain.substr(0, cut), "cut.png"))) << cut;
    const std::string interlaced = PngFile(Ihdr(3, 3, 4, 3, 1), Chunk("PLTE", std::string(48, '\x33')),
                                           {Bytes({0x12}), Bytes({0x45}), Bytes({0x67}), Bytes({0x9A}),
                                            Bytes({0xBC}), Bytes({0x11, 0x20})});
    RwImage *decoded = Keep(ReadBytes(interlaced, "flip.png"));
    ASSERT_NE(nullptr, decoded);
    // Pass 5 holds (0, 2) and (2, 2); pass 6 (1, 0) and (1, 2); pass 7 the middle row.
    EXPECT_EQ(0x07, decoded->cpPixels[2 * decoded->stride + 2]);
    EXPECT_EQ(0x0B, decoded->cpPixels[2 * decoded->stride + 1]);
    EXPECT_EQ(0x02, decoded->cpPixels[decoded->stride + 2]);
    for (size_t at = 8; at < interlaced.size(); at++) {
        std::string bad = interlaced;
        bad[at] = static_cast<char>(bad[at] ^ 0x5A);
        const RwInt32 live = rwTestMemory.live;
        RwImage *image = ReadBytes(bad, "flip.png");
        if (image)
            RwImageDestroy(image);
        EXPECT_EQ(live, rwTestMemory.live) << "leak with byte " << at << " changed";
    }
    for (RwUInt32 width : {100000u, 0u})
        EXPECT_EQ(nullptr, Keep(ReadBytes(PngFile(Ihdr(width, 4, 8, 6), "", {std::string(8, '\0')}))));
    EXPECT_EQ(nullptr, RwImageReadPng("no such file.png"));
    TakeError();
    EXPECT_EQ(nullptr, RwImageReadPng(nullptr));
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
}

// Damage the library would only warn about, or that only shows after the last row, and sizes
// the file's data could never fill: all refused, nothing leaked, no allocation beyond what the
// data could inflate to.
TEST_F(Png, DamageFoundAfterTheRowsOrByAWarningIsAnError)
{
    const std::string sig("\x89PNG\r\n\x1a\n", 8), end = Chunk("IEND", "");
    const std::vector<std::string> rows = {Bytes({0, 1, 2, 1})};
    const std::string palette = Ihdr(4, 1, 8, 3) + Chunk("PLTE", std::string(9, '\x40'));
    const struct {
        const char *what;
        std::string file;
        RwUInt32 error = E_RW_READ;
    } cases[] = {
        {"zlib checksum", sig + palette + Chunk("IDAT", Flipped(Deflated(rows))) + end},
        {"tRNS CRC", sig + palette + Flipped(Chunk("tRNS", Bytes({0, 9}))) + Idat(rows) + end},
        {"tRNS longer than PLTE", sig + palette + Chunk("tRNS", Bytes({0, 9, 9, 9})) + Idat(rows) + end},
        {"tRNS twice", sig + palette + Chunk("tRNS", Bytes({0})) + Chunk("tRNS", Bytes({9})) + Idat(rows) + end},
        {"rows the data cannot fill", PngFile(Ihdr(4000, 4000, 8, 6), "", {std::string(8, '\0')})},
        // Larger than any texture: refused from the header.
        {"more pixels than a texture holds", PngFile(Ihdr(8192, 8192, 1, 0), "", {std::string(1024, '\0')}),
         E_RW_INVIMAGESIZE},
        {"one more column", PngFile(Ihdr(4097, 4096, 1, 0), "", {std::string(1024, '\0')}), E_RW_INVIMAGESIZE},
        // Compressed data that goes on far past the rows is not inflated to its end.
        {"data far beyond the rows", PngFile(Ihdr(1, 1, 8, 6), "", {std::string(4, '\x40'), std::string(80 << 20, '\0')}),
         E_RW_INVIMAGESIZE},
        // One byte past the rows, with and without interlacing (3 x 3 has rows of
        // 1 pixel in passes 1 and 4, 2 in pass 5, twice 1 in pass 6, 3 in pass 7).
        {"one byte past the rows", sig + palette + Chunk("IDAT", Compressed(std::string(1, '\0') + rows[0] + "x")) + end,
         E_RW_INVIMAGESIZE},
        {"one byte past seven passes",
         sig + Ihdr(3, 3, 8, 0, 1) + Chunk("IDAT", Compressed(std::string(2 + 2 + 3 + 4 + 4, '\0') + "x")) + end,
         E_RW_INVIMAGESIZE},
        {"bytes after the stream's end in its chunk", sig + palette + Chunk("IDAT", Deflated(rows) + "xy") + end},
        // Within the bound on the file's data, but inflating to 150 MB past the
        // rows: refused where the rows end.
        {"zeros past the rows within the data bound",
         Signature() + Ihdr(256, 256, 8, 0) +
             Chunk("IDAT", DeflatedWithZeros(std::string(256 * 257, '\0'), 150)) +
             Chunk("IEND", ""),
         E_RW_INVIMAGESIZE},
        // The same with a damaged checksum: refused before libpng inflates to
        // the end, where it would find the damage.
        {"zeros past the rows before a bad checksum",
         Signature() + Ihdr(256, 256, 8, 0) +
             Chunk("IDAT", Flipped(DeflatedWithZeros(std::string(256 * 257, '\0'), 150))) + Chunk("IEND", ""),
         E_RW_INVIMAGESIZE},
        // Chunks whose data the reader has no use for, claiming more than the file holds.
        {"text longer than the file", sig + palette + Be32(5000000) + "zTXtkey" + std::string(8, '\0'),
         E_RW_ENDOFSTREAM},
        {"profile longer than the file", sig + Ihdr(4, 1, 8, 2) + Be32(5000000) + "iCCPname" + std::string(8, '\0'),
         E_RW_ENDOFSTREAM},
        // The header must come first, before any chunk the reader passes over.
        {"text before the header", sig + Chunk("tEXt", std::string("Title\0x", 7)) + palette + Idat(rows) + end},
        {"histogram before the header", sig + Chunk("hIST", Bytes({0, 1})) + palette + Idat(rows) + end},
        // After the last row: a damaged chunk, garbage or nothing where IEND belongs.
        {"text CRC after the rows", sig + palette + Idat(rows) + Flipped(Chunk("tEXt", std::string("a\0b", 3))) + end},
        {"IEND CRC", sig + palette + Idat(rows) + Flipped(end)},
        // Its first bytes read as a chunk of 2 GB that the file does not hold.
        {"garbage for IEND", sig + palette + Idat(rows) + "\x7F\x01garbage!!", E_RW_ENDOFSTREAM},
        {"no IEND", sig + palette + Idat(rows), E_RW_ENDOFSTREAM},
    };
    for (const auto &c : cases) {
        const RwInt32 live = rwTestMemory.live;
        rwTestMemory.largest = 0;
        EXPECT_EQ(nullptr, Keep(ReadBytes(c.file, "bad.png"))) << c.what;
        EXPECT_EQ(c.error, TakeErrorCode()) << c.what;
        EXPECT_EQ(live, rwTestMemory.live) << c.what;
        EXPECT_LE(rwTestMemory.largest, c.file.size() * 1032) << c.what;
    }
    // The same file undamaged reads, text passed over; what follows the rows
    // is not read at all.
    const std::string text = Chunk("tEXt", std::string("Title\0x", 7));
    EXPECT_NE(nullptr, Keep(ReadBytes(sig + palette + Chunk("tRNS", Bytes({0, 9})) + text + Idat(rows) + end)));
    EXPECT_NE(nullptr, Keep(ReadBytes(sig + palette + Idat(rows) + text + Chunk("IDAT", "") + end)));
    // A writer that flushes leaves empty stored blocks after the last row: 1 KB
    // of them and the checksum may follow the chunk that holds the rows.
    const std::string raw = std::string(1, '\0') + rows[0];
    const std::string head = Chunk("IDAT", Bytes({0x78, 0x01, 0x00, 0x05, 0x00, 0xFA, 0xFF}) + raw);
    for (int blocks : {203, 204}) {
        std::string tail;
        for (int i = 0; i < blocks; i++)
            tail += Bytes({0x00, 0x00, 0x00, 0xFF, 0xFF});
        tail += Bytes({0x01, 0x00, 0x00, 0xFF, 0xFF}) +
                Be32(static_cast<unsigned>(adler32(1, reinterpret_cast<const Bytef *>(raw.data()), 5)));
        RwImage *image = Keep(ReadBytes(sig + palette + head + Chunk("IDAT", tail) + end));
        EXPECT_EQ(blocks == 203, image != nullptr) << blocks;
    }
    EXPECT_EQ(E_RW_INVIMAGESIZE, TakeErrorCode());
    // Image data after a whole image is passed over, where it stands.
    EXPECT_NE(nullptr, Keep(ReadBytes(sig + palette + Idat(rows) + Chunk("IDAT", "junk") + text + end)));
    EXPECT_NE(nullptr, Keep(ReadBytes(sig + palette + Idat(rows) + text + Chunk("IDAT", "junk") + end)));
    // Chunks passed over read at any length, before the image data or after
    // it, and are never held whole.
    const std::string big(10 << 20, 'x');
    const struct {
        const char *what;
        std::string before, after;
    } passed[] = {
        {"10 MB of text after the rows", "", Chunk("tEXt", "Title" + std::string(1, '\0') + big)},
        {"9 MB of Exif after the rows", "", Chunk("eXIf", "MM" + big.substr(0, 9 << 20))},
        {"10 MB private chunk after the rows", "", Chunk("prVt", big)},
        {"10 MB of text before the image data", Chunk("tEXt", "Title" + std::string(1, '\0') + big), ""},
    };
    for (const auto &c : passed) {
        rwTestMemory.largest = 0;
        EXPECT_NE(nullptr, Keep(ReadBytes(sig + palette + c.before + Idat(rows) + c.after + end, "big.png")))
            << c.what;
        EXPECT_LT(rwTestMemory.largest, 1u << 20) << c.what;
    }
    EXPECT_TRUE(RwPngSizeHeld(4096, 4096));
    EXPECT_FALSE(RwPngSizeHeld(0x10000, 0x10000));   // the product needs more than 32 bits
}

// Legal files read however their image data is cut into IDAT chunks, and
// whatever the open device's largest texture (the test device's is 4096).
TEST_F(Png, ImageDataReadsHoweverItIsChunkedAndWhateverTheDevice)
{
    const struct {
        RwUInt32 side, piece;
    } cases[] = {{64, 1}, {64, 8}, {64, 16}, {256, 8}};
    for (const auto &c : cases) {
        // Noise: the stored data is larger than the rows.
        std::vector<std::string> rows(c.side, std::string(4 * c.side, '\0'));
        RwUInt32 seed = c.side;
        for (std::string &row : rows)
            for (char &b : row)
                b = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
        const std::string idat = IdatChunks(Deflated(rows), c.piece);
        RwImage *image = Keep(ReadBytes(Signature() + Ihdr(c.side, c.side, 8, 6) + idat + Chunk("IEND", "")));
        ASSERT_NE(nullptr, image) << c.side << " in pieces of " << c.piece;
        EXPECT_EQ(0, memcmp(rows.back().data(), image->cpPixels + (c.side - 1) * image->stride, 4 * c.side));
    }
    // Literals of nine bits each: the data is larger than its rows, and
    // within twice their size.
    std::string raw;
    std::vector<std::string> wide(256, std::string(4096, '\0'));
    for (RwUInt32 y = 0; y < wide.size(); y++) {
        for (RwUInt32 x = 0; x < 4096; x++)
            wide[y][x] = static_cast<char>(144 + (x * 7 + y * 3) % 112);
        raw += std::string(1, '\0') + wide[y];
    }
    RwImage *fixed = Keep(ReadBytes(Signature() + Ihdr(1024, 256, 8, 6) + Chunk("IDAT", FixedHuffman(raw)) +
                                    Chunk("IEND", "")));
    ASSERT_NE(nullptr, fixed);
    for (RwUInt32 y = 0; y < wide.size(); y++)
        ASSERT_EQ(0, memcmp(wide[y].data(), fixed->cpPixels + y * fixed->stride, 4096)) << "row " << y;
    for (RwUInt32 width : {4097u, 8192u}) {
        const std::vector<std::string> rows(16, std::string((width + 7) / 8, '\xF0'));
        RwImage *image = Keep(ReadBytes(PngFile(Ihdr(width, 16, 1, 0), "", rows)));
        ASSERT_NE(nullptr, image) << width;
        EXPECT_EQ(static_cast<RwInt32>(width), image->width);
    }
}

TEST_F(Png, RowsFitDataHoldsAtTheLargestHeaders)
{
    const struct {
        uint64_t rowBytes;
        RwUInt32 height, data;
        bool fits;
    } cases[] = {
        {1032, 1, 0, true},
        {1033, 1, 0, false},
        {0, 0x7FFFFFFF, 0, true},
        {5, 0, 0, true},
        {uint64_t(8) * 0x7FFFFFFF, 0x7FFFFFFF, 0xFFFFFFFF, false},
        // 8 x 2147437309 x 1073764994 is 2^64 + 537552: a product would wrap to what 521 bytes could fill.
        {uint64_t(8) * 2147437309u, 1073764994u, 600, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.fits, RwPngRowsFitData(c.rowBytes, c.height, c.data) != 0) << c.rowBytes << " x " << c.height;
}

TEST_F(Png, OutOfMemoryAtEveryStepReleasesEverything)
{
    // Interlaced, 4 x 2 at 4 bits: passes 1, 4 and 6 give one byte each, pass 7 two.
    WriteFileBytes("oom.png", PngFile(Ihdr(4, 2, 4, 3, 1), Chunk("PLTE", std::string(48, '\x22')),
                                      {Bytes({0x10}), Bytes({0x20}), Bytes({0x34}), Bytes({0x56, 0x78})}));
    RwImage *image = Owned(4, 4, 8);
    RwInt32 read = 0, written = 0;
    for (RwInt32 fail = 0; fail < 40; fail++) {
        const RwInt32 live = rwTestMemory.live;
        rwTestMemory.failAfter = fail;
        RwImage *back = RwImageReadPng("oom.png");
        written += RwImageWritePng(image, "oomw.png") != nullptr;
        rwTestMemory.failAfter = -1;
        read += back != nullptr;
        if (back)
            RwImageDestroy(back);
        EXPECT_EQ(live, rwTestMemory.live) << "leak when allocation " << fail << " failed";
    }
    EXPECT_GT(read, 0);
    EXPECT_GT(written, 0);
    TakeError();
}

// Writing -----------------------------------------------------------------------------------------

TEST_F(Png, ImagesRoundTripWithTheHeaderAndPaletteChunksOfTheirDepth)
{
    for (RwInt32 depth : {4, 8, 32}) {
        const RwInt32 entries = depth == 32 ? 0 : 1 << depth;
        RwImage *image = Owned(5, 3, depth);
        for (RwInt32 i = 0; i < entries; i++)
            image->palette[i] = Rgba(static_cast<RwUInt8>(i * 16), static_cast<RwUInt8>(255 - i),
                                     static_cast<RwUInt8>(i), static_cast<RwUInt8>(i * 17));
        const RwInt32 rowBytes = RwImageRowBytes(5, depth);
        for (RwInt32 y = 0; y < 3; y++)
            for (RwInt32 x = 0; x < rowBytes; x++)
                image->cpPixels[y * image->stride + x] =
                    static_cast<RwUInt8>(entries ? (x * 3 + y * 5 + 250) % entries : x * 40 + y * 7);
        ASSERT_EQ(image, RwImageWritePng(image, "round.png")) << depth;
        const auto chunks = Chunks(ReadFileBytes("round.png"));
        ASSERT_GE(chunks.size(), 3u);
        EXPECT_EQ(Be32(5) + Be32(3) + Bytes({entries ? depth : 8, entries ? 3 : 6, 0, 0, 0}), chunks[0].second);
        EXPECT_EQ("IEND", chunks.back().first);
        if (entries) {
            EXPECT_EQ("PLTE", chunks[1].first);
            EXPECT_EQ(3u * entries, chunks[1].second.size());
            EXPECT_EQ(Bytes({32, 253, 2}), chunks[1].second.substr(6, 3));
            EXPECT_EQ("tRNS", chunks[2].first);
            EXPECT_EQ(static_cast<size_t>(entries), chunks[2].second.size());
        }
        RwImage *back = Keep(RwImageReadPng("round.png"));
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(depth, back->depth);
        for (RwInt32 y = 0; y < 3; y++)
            EXPECT_EQ(0, memcmp(image->cpPixels + y * image->stride, back->cpPixels + y * back->stride, rowBytes));
        EXPECT_EQ(0, entries ? memcmp(image->palette, back->palette, 4u * entries) : 0);
    }
    // A 4-bit image's stray high nibble does not spill into its neighbour when packed.
    RwImage *image = Owned(3, 1, 4);
    image->cpPixels[0] = 0x02;
    image->cpPixels[1] = 0x31;
    image->cpPixels[2] = 0xF5;
    ASSERT_EQ(image, RwImageWritePng(image, "stray.png"));
    RwImage *back = Keep(RwImageReadPng("stray.png"));
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(0x02, back->cpPixels[0]);
    EXPECT_EQ(0x01, back->cpPixels[1]);
    EXPECT_EQ(0x05, back->cpPixels[2]);
}

TEST_F(Png, WriteFailuresMakeNoFile)
{
    RwImage *image = Owned(2, 2, 32);
    EXPECT_EQ(nullptr, RwImageWritePng(image, nullptr));   // nothing written is no success
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
    EXPECT_EQ(nullptr, RwImageWritePng(nullptr, "x.png"));
    EXPECT_EQ(nullptr, RwImageWritePng(image, "no such folder/x.png"));
    TakeError();
    DeleteFileA("odd.png");
    image->depth = 16;
    EXPECT_EQ(nullptr, RwImageWritePng(image, "odd.png"));
    EXPECT_EQ(E_RW_INVIMAGEDEPTH, TakeErrorCode());
    image->depth = 32;
    EXPECT_EQ(nullptr, RwImageWritePng(Keep(RwImageCreate(2, 2, 32)), "odd.png"));
    EXPECT_EQ(E_RW_NULLP, TakeErrorCode());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("odd.png"));
}

namespace {
::testing::Environment *const engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new ImageEngineEnvironment());
}  // namespace
