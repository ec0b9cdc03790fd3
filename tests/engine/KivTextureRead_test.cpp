// Texture read callback and PNG decoders: reference pixels, misses, hostile bytes, scales, keys, dictionaries.
#include "engine_host.h"

#include <psapi.h>

#include <FreeImage.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivWorld.h"
#include "engine/KivImageDecode.h"
#include "engine/KivPngScreen.h"
#include "engine/KivPreparedTextures.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "support/failnew/fail_new_sweep.h"
#include "support/failnew/malloc_probe.h"
#include "support/png_chunks.h"
#include "sample/engine_scene.h"

namespace {

using namespace pngchunks;

auto *const host = HostEngine();

CKivBase *Base() { return HostedEngine<>::base; }

size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

std::string LastLine(const std::string &text)
{
    const size_t end = text.rfind("\r\n");
    const size_t start = text.rfind('\n', end - 1);
    return text.substr(start + 1, end - start - 1);
}

// Screen gamma 2.2 applied to a file's gAMA of 1.0.
int Gamma(double v, bool linear)
{
    return linear ? static_cast<int>(std::lround(255.0 * std::pow(v / 255.0, 1.0 / 2.2))) : static_cast<int>(v);
}

// The reference pictures: each name has a .png and its pixels in a .rgba.
std::vector<std::string> ReferenceNames()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA("data/png/*.rgba", &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.emplace_back(found.cFileName);
        names.back().resize(names.back().size() - 5);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

TEST(TextureRead, ReferencePicturesArriveWithTheirPixels)
{
    const std::vector<std::string> names = ReferenceNames();
    ASSERT_GE(names.size(), 30u);
    for (const std::string &name : names) {
        const std::string png = ReadFileBytes("data/png/" + name + ".png");
        std::string rgba = ReadFileBytes("data/png/" + name + ".rgba");
        // The reference leaves an 8-bit RGB file's colour key opaque; here it is clear.
        const size_t trns = png.find("tRNS");
        if (png[25] == 2 && png[24] == 8 && trns != std::string::npos) {
            const std::string key = {png[trns + 5], png[trns + 7], png[trns + 9]};
            for (size_t i = 12; i + 4 <= rgba.size(); i += 4)
                if (rgba.compare(i, 3, key) == 0)
                    rgba[i + 3] = 0;
        }
        const bool linear = png.find(std::string("gAMA\0\x01\x86\xa0", 8)) != std::string::npos;
        const bool wide = png[24] == 16;   // IHDR bit depth
        // Corrected grey below 8 bits stays at its own precision: within one step.
        const int slack = png[24] < 8 && png[25] == 0 && linear ? 255 / ((1 << png[24]) - 1) : 2;
        RwTexture *texture = Base()->ReadTexture(name.c_str(), "data/png/");
        ASSERT_NE(nullptr, texture) << name;
        EXPECT_EQ(2, RwTextureGetFilterMode(texture));
        const std::vector<RwUInt8> got = RasterPixels(RwTextureGetRaster(texture));
        ASSERT_EQ(rgba.size() - 12, got.size()) << name;
        int bad = 0;
        for (size_t i = 0; i < got.size() && bad < 3; i++) {
            const double v = static_cast<unsigned char>(rgba[12 + i]);
            const bool alpha = i % 4 == 3;
            // A 16-bit sample whose high byte is v lies anywhere up to v + 1.
            const int lo = alpha ? static_cast<int>(v) : Gamma(v, linear);
            const int hi = alpha ? static_cast<int>(v) : Gamma(wide ? std::min(v + 1, 255.0) : v, linear);
            if (got[i] + slack < lo || got[i] > hi + slack) {
                ADD_FAILURE() << name << " byte " << i << ": " << int(got[i]) << " not in " << lo << ".." << hi;
                bad++;
            }
        }
        RwTextureDestroy(texture);
    }
}

// Everything FreeImage makes of a file: layout, rows, palette and key.
std::string Decoded(const BYTE *bytes, DWORD size)
{
    FIMEMORY *memory = FreeImage_OpenMemory(const_cast<BYTE *>(bytes), size);
    FIBITMAP *dib = FreeImage_LoadFromMemory(FIF_PNG, memory, 0);
    FreeImage_CloseMemory(memory);
    if (!dib)
        return "";
    std::string out = std::to_string(FreeImage_GetImageType(dib)) + " " + std::to_string(FreeImage_GetBPP(dib)) + " " +
                      std::to_string(FreeImage_GetWidth(dib)) + " " + std::to_string(FreeImage_GetHeight(dib)) + " ";
    const auto add = [&out](const void *bytes, size_t count) { out.append(static_cast<const char *>(bytes), count); };
    for (unsigned y = 0; y < FreeImage_GetHeight(dib); y++)
        add(FreeImage_GetScanLine(dib, static_cast<int>(y)), FreeImage_GetLine(dib));
    add(FreeImage_GetPalette(dib), FreeImage_GetColorsUsed(dib) * sizeof(RGBQUAD));
    add(FreeImage_GetTransparencyTable(dib), FreeImage_GetTransparencyCount(dib));
    FreeImage_Unload(dib);
    return out;
}

// What FreeImage is handed after the screen decodes exactly as the file itself
// does, for every colour type, depth and interlace; damaged files are refused.
TEST(TextureRead, ScreenedFilesDecodeAsTheirOriginals)
{
    const std::vector<std::string> names = ReferenceNames();
    ASSERT_GE(names.size(), 30u);
    for (const std::string &name : names) {
        const std::string png = ReadFileBytes("data/png/" + name + ".png");
        KivPngScreened screened;
        ASSERT_EQ(1, KivPngScreen(png.data(), static_cast<DWORD>(png.size()), &screened)) << name;
        EXPECT_EQ(Decoded(reinterpret_cast<const BYTE *>(png.data()), static_cast<DWORD>(png.size())),
                  Decoded(screened.bytes, screened.size))
            << name;
        KivPngScreenRelease(&screened);
    }
    for (const char *name : {"badcrc", "badadler", "huge_IDAT", "bad_iCCP"}) {
        const std::string png = ReadFileBytes(std::string("data/png/") + name + ".png");
        KivPngScreened screened;
        EXPECT_EQ(0, KivPngScreen(png.data(), static_cast<DWORD>(png.size()), &screened)) << name;
    }
    // Larger than a texture may be: refused from the header, before any row is inflated.
    for (unsigned side : {4097u, 8192u}) {
        const std::string png =
            PngFile(Ihdr(side, side, 1, 0), "", std::vector<std::string>(side, std::string((side + 7) / 8, '\0')));
        KivPngScreened screened;
        EXPECT_EQ(0, KivPngScreen(png.data(), static_cast<DWORD>(png.size()), &screened)) << side;
    }
}

TEST(TextureRead, MissingFilesAreListedAndNothingElse)
{
    const struct {
        const char *name;
        const char *line;
    } rows[] = {
        {"wall", "data/png/wall.png"},
        {"x.jpg", "data/png/x.jpg.png"},   // no other format is looked for
    };
    for (const auto &r : rows) {
        EXPECT_EQ(nullptr, Base()->ReadTexture(r.name, "data/png/"));
        EXPECT_EQ(r.line, LastLine(ReadFileBytes("Texture.txt"))) << r.name;
    }
    // A name too long for any path is missing too, and logged whole.
    const std::string longName(300, 'n');
    EXPECT_EQ(nullptr, Base()->ReadTexture(longName.c_str(), "data/png/"));
    EXPECT_EQ("data/png/" + longName + ".png", LastLine(ReadFileBytes("Texture.txt")));

    // A file that exists but does not decode is not missing.
    const std::string before = ReadFileBytes("Texture.txt");
    WriteFileBytes("data/png/jpeg.jpg.png", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11) + std::string(64, 'j'));
    EXPECT_EQ(nullptr, Base()->ReadTexture("jpeg.jpg", "data/png/"));
    EXPECT_EQ(before, ReadFileBytes("Texture.txt"));
}

TEST(TextureRead, HostileBytesGiveNothingAndLeakNothing)
{
    const std::string png = GradientPng(64, 64);
    const int held = Base()->ReportTextureMemory(nullptr, nullptr, 0);
    std::vector<std::string> inputs = {"", std::string(1, '\x89'), ReadFileBytes("data/png/badcrc.png"),
                                       ReadFileBytes("data/png/badadler.png")};
    for (size_t cut = 0; cut < png.size(); cut += 7)
        inputs.push_back(png.substr(0, cut));
    auto decodeAll = [&] {
        for (const std::string &bytes : inputs) {
            RwTexture *texture = reinterpret_cast<RwTexture *>(1);
            EXPECT_EQ(0, DecodePngTexture(&texture, "bad", bytes.data(), static_cast<DWORD>(bytes.size()), 2,
                                          nullptr));
            EXPECT_EQ(nullptr, texture);
            RwImage *image = reinterpret_cast<RwImage *>(1);
            EXPECT_EQ(0, DecodePngImage(&image, "bad", bytes.data(), static_cast<DWORD>(bytes.size()), 2));
            EXPECT_EQ(nullptr, image);
        }
    };
    decodeAll();
    const size_t before = PrivateBytes();
    for (int i = 0; i < 20; i++)
        decodeAll();
    EXPECT_LT(PrivateBytes(), before + 4 * 1024 * 1024);
    EXPECT_EQ(held, Base()->ReportTextureMemory(nullptr, nullptr, 0));
    RwRaster *raster = reinterpret_cast<RwRaster *>(1);
    EXPECT_EQ(0, DecodePngRaster(&raster, "bad", png.data(), 0xFFFFFFFF, 2, nullptr));
    EXPECT_EQ(nullptr, raster);
}

// A zlib stream of the bytes followed by megabytes of zeros, made a megabyte at a time.
std::string CompressedWithZeros(const std::string &bytes, int megabytes)
{
    z_stream z = {};
    deflateInit(&z, 9);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[1 << 16];
    auto feed = [&](const std::string &in, int flush) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof(buffer);
            deflate(&z, flush);
            out.append(buffer, sizeof(buffer) - z.avail_out);
        } while (z.avail_out == 0);
    };
    feed(bytes, megabytes ? Z_NO_FLUSH : Z_FINISH);
    for (int i = 0; i < megabytes; i++)
        feed(zeros, i + 1 < megabytes ? Z_NO_FLUSH : Z_FINISH);
    deflateEnd(&z);
    return out;
}

// Every decoder refuses the file (or decodes it), with nothing left behind and
// no request for more memory than such a file is worth.
void ExpectDecodedCheaply(const std::string &what, const std::string &file, bool decodes)
{
    const long live = MallocProbeLive();
    MallocProbeResetLargest();
    const DWORD size = static_cast<DWORD>(file.size());
    RwTexture *texture = nullptr;
    EXPECT_EQ(decodes ? 1 : 0, DecodePngTexture(&texture, "hostile", file.data(), size, 2, nullptr)) << what;
    if (texture)
        RwTextureDestroy(texture);
    RwImage *image = nullptr;
    EXPECT_EQ(decodes ? 1 : 0, DecodePngImage(&image, "hostile", file.data(), size, 2)) << what;
    if (image)
        RwImageDestroy(image);
    EXPECT_LT(MallocProbeLargest(), 512u * 1024) << what;
    EXPECT_EQ(live, MallocProbeLive()) << what;
}

// Memory running out at each allocation of a decode (FreeImage's, libpng's and
// zlib's included): the decoders give a whole object or none, leak nothing
// and never touch what a failed step freed.
TEST(TextureRead, DecodingOutOfMemoryGivesAWholeObjectOrNone)
{
    RwTextureDictionary *current = RwTextureDictionaryGetCurrent();
    RwTextureDictionarySetCurrent(nullptr);
    for (const char *name : {"basn0g16", "basn3p08", "basn6a08", "gray-1-tRNS"}) {
        const std::string png = ReadFileBytes(std::string("data/png/") + name + ".png");
        const DWORD size = static_cast<DWORD>(png.size());
        const auto decode = [&] {
            RwTexture *texture = nullptr;
            const int made = DecodePngTexture(&texture, "swept", png.data(), size, 2, nullptr);
            EXPECT_EQ(made, texture ? 1 : 0) << name;
            if (texture)
                RwTextureDestroy(texture);
            RwImage *image = nullptr;
            const int decoded = DecodePngImage(&image, "swept", png.data(), size, 2);
            EXPECT_EQ(decoded, image ? 1 : 0) << name;
            if (image)
                RwImageDestroy(image);
        };
        decode();   // what a first decode makes to keep is not counted
        const long blocks = MallocProbeLive(), heap = KivLiveHeapBlocks();
        FailNewSweep(name, decode);
        EXPECT_EQ(blocks, MallocProbeLive()) << name;
        EXPECT_EQ(heap, KivLiveHeapBlocks()) << name;
    }
    // The engine root's read at a quarter size (its raster filled through an image).
    Base()->SetTextureQuality(2);
    // Each read gives the whole texture or null, never a stand-in.
    const auto read = [] {
        if (RwTexture *texture = Base()->ReadTexture("basn6a08", "data/png/")) {
            EXPECT_EQ(8, RwTextureGetRaster(texture)->width);
            RwTextureDestroy(texture);
        }
    };
    read();
    const long blocks = MallocProbeLive(), heap = KivLiveHeapBlocks();
    FailNewSweep("ReadTexture", read);
    EXPECT_EQ(blocks, MallocProbeLive());
    EXPECT_EQ(heap, KivLiveHeapBlocks());
    Base()->SetTextureQuality(0);
    RwTextureDictionarySetCurrent(current);
}

TEST(TextureRead, HostileFilesCostNoMoreThanTheyHold)
{
    const std::string ihdr = Ihdr(1, 1, 8, 6), end = Chunk("IEND", "");
    const std::string pixel = Idat({std::string(4, '\x7F')});
    const std::string stream = Deflated({std::string(4, '\x7F')}), text = Chunk("tEXt", std::string("k\0v", 3));
    struct Case {
        std::string what, file;
        bool decodes;
    };
    std::vector<Case> cases = {
        {"8192 x 8192 from one row", Signature() + Ihdr(8192, 8192, 8, 6) + pixel + end, false},
        {"30000 x 30000 from one row", Signature() + Ihdr(30000, 30000, 8, 6) + pixel + end, false},
        {"IDAT longer than the file", Signature() + ihdr + Be32(0x7FFFFFF0) + "IDAT" + std::string(40, '\0'), false},
        {"a row past the last", Signature() + ihdr + Idat({std::string(4, '\x7F'), std::string(4, '\0')}) + end,
         false},
        {"zeros past the last row",
         Signature() + ihdr + Chunk("IDAT", CompressedWithZeros(std::string(5, '\0'), 16)) + end, false},
        {"no IEND", Signature() + ihdr + pixel, false},
        {"bytes after the stream's end in its chunk", Signature() + ihdr + Chunk("IDAT", stream + "xy") + end, false},
        // Image data in two runs with text between, whole only when the text is dropped.
        {"IDAT runs apart", Signature() + ihdr + Chunk("IDAT", stream.substr(0, 6)) + text +
                                Chunk("IDAT", stream.substr(6)) + end, false},
        {"IDAT after the image and text", Signature() + ihdr + pixel + text + Chunk("IDAT", stream) + end, false},
        {"empty IDAT only", Signature() + ihdr + Chunk("IDAT", "") + end, false},
        {"empty IDAT inside the run", Signature() + ihdr + Chunk("IDAT", "") + Chunk("IDAT", stream.substr(0, 6)) +
                                          Chunk("IDAT", "") + Chunk("IDAT", stream.substr(6)) + end, true},
        {"chunks after IEND", Signature() + ihdr + pixel + end + text + std::string(7, '\xFF'), true},
        {"plain", Signature() + ihdr + pixel + end, true},
    };
    // Text and metadata chunks claiming 256 MB of a 151-byte file, before and after the rows.
    for (const char *type : {"tEXt", "zTXt", "iTXt", "eXIf", "iCCP"}) {
        const std::string claim = Be32(0x10000000) + type + "key" + std::string(96, '\0');
        cases.push_back({std::string(type) + " claiming 256 MB", Signature() + ihdr + claim, false});
        cases.push_back({std::string(type) + " claiming 256 MB after the rows", Signature() + ihdr + pixel + claim,
                         false});
    }
    // Compressed text and profiles that would inflate to 7 MB: the picture is read, they are not.
    const std::string bomb = CompressedWithZeros("", 7);
    for (const char *type : {"zTXt", "iCCP"})
        cases.push_back({std::string(type) + " bomb",
                         Signature() + ihdr + Chunk(type, std::string("k\0\0", 3) + bomb) + pixel + end, true});
    cases.push_back({"iTXt bomb", Signature() + ihdr + pixel + Chunk("iTXt", std::string("k\0\1\0\0\0", 6) + bomb) + end,
                     true});
    for (const Case &c : cases)
        ExpectDecodedCheaply(c.what, c.file, c.decodes);
}

TEST(TextureRead, GreyKeysClearTheirPixelsAtEveryDepth)
{
    for (int depth : {1, 2, 4, 8, 16}) {
        // One row of four samples (all values for 1 bit), keyed at the third.
        const int top = (1 << std::min(depth, 8)) - 1;
        const int samples[4] = {0, top / 3, top, top / 2};
        std::string bits((4 * depth + 7) / 8, '\0');
        for (int i = 0; i < 4; i++) {
            const unsigned value = depth == 16 ? samples[i] * 257u : static_cast<unsigned>(samples[i]);
            for (int b = 0; b < depth; b++)
                if (value & (1u << (depth - 1 - b)))
                    bits[(i * depth + b) / 8] |= static_cast<char>(0x80 >> ((i * depth + b) % 8));
        }
        const unsigned key = depth == 16 ? samples[2] * 257u : static_cast<unsigned>(samples[2]);
        const std::string file =
            PngFile(Ihdr(4, 1, depth, 0), Chunk("tRNS", std::string(1, static_cast<char>(key >> 8)) +
                                                            std::string(1, static_cast<char>(key & 0xFF))),
                    {bits});
        RwRaster *raster = nullptr;
        ASSERT_EQ(1, DecodePngRaster(&raster, "grey", file.data(), static_cast<DWORD>(file.size()), 2, nullptr));
        const std::vector<RwUInt8> p = RasterPixels(raster);
        RwRasterDestroy(raster);
        for (int i = 0; i < 4; i++) {
            const int grey = samples[i] * 255 / top;
            const bool keyed = samples[i] == samples[2];
            EXPECT_EQ((std::vector<int>{grey, grey, grey, keyed ? 0 : 255}),
                      std::vector<int>(&p[i * 4], &p[i * 4 + 4]))
                << depth << "-bit sample " << i;
        }
    }
}

// A grey key the decoder drops (after the rows, or with a bad CRC) clears nothing,
// though FreeImage widens 2-bit grey either way.
TEST(TextureRead, GreyKeysTheDecoderDropsStayOpaque)
{
    for (int depth : {2, 4}) {
        const int top = (1 << depth) - 1;
        // Samples 0, 1, 2 and top in one row.
        const std::string row = depth == 2 ? std::string("\x1B") : std::string("\x01\x2F", 2);
        const auto trns = [](int key) { return Chunk("tRNS", std::string(1, '\0') + static_cast<char>(key)); };
        std::string broken = trns(2);
        broken.back() ^= 1;
        const struct {
            const char *what;
            std::string file;
            int cleared;   // the sample that comes out clear, or -1
        } cases[] = {
            {"after the rows", Signature() + Ihdr(4, 1, depth, 0) + Idat({row}) + trns(2) + Chunk("IEND", ""), -1},
            {"bad CRC", PngFile(Ihdr(4, 1, depth, 0), broken, {row}), -1},
            {"bad CRC, then sound", PngFile(Ihdr(4, 1, depth, 0), broken + trns(1), {row}), 1},
        };
        for (const auto &c : cases) {
            RwRaster *raster = nullptr;
            const DWORD size = static_cast<DWORD>(c.file.size());
            ASSERT_EQ(1, DecodePngRaster(&raster, "grey", c.file.data(), size, 2, nullptr));
            const std::vector<RwUInt8> p = RasterPixels(raster);
            RwRasterDestroy(raster);
            const int samples[4] = {0, 1, 2, top};
            for (int i = 0; i < 4; i++)
                EXPECT_EQ(samples[i] == c.cleared ? 0 : 255, p[i * 4 + 3]) << depth << "-bit, " << c.what << ", " << i;
        }
    }
}

// Grey of a depth no file may have, with a key before the rows: refused, not
// expanded (depth 0 has no top value to divide by).
TEST(TextureRead, GreyKeysOfImpossibleDepthsAreRefused)
{
    for (int depth : {0, 3, 5, 7}) {
        const std::string file = PngFile(Ihdr(4, 1, depth, 0), Chunk("tRNS", std::string("\0\1", 2)), {"\x1B"});
        RwRaster *raster = nullptr;
        EXPECT_EQ(0, DecodePngRaster(&raster, "grey", file.data(), static_cast<DWORD>(file.size()), 2, nullptr))
            << depth;
        EXPECT_EQ(nullptr, raster) << depth;
    }
}

TEST(TextureRead, ModeSetsFilterAndQualityScales)
{
    const std::string png = GradientPng(64, 64);
    const struct {
        int mode, textureQuality, imageQuality, filter, size;
    } rows[] = {
        {2, 0, 0, 2, 64}, {1, 0, 0, 1, 64}, {2, 2, 0, 2, 16}, {1, 2, 0, 1, 64}, {1, 0, 2, 1, 42}, {2, 1, 2, 2, 32},
    };
    for (const auto &r : rows) {
        CKivBase::SetTextureReadMode(r.mode);
        Base()->SetTextureQuality(r.textureQuality);
        Base()->SetImageQuality(r.imageQuality);
        RwTexture *texture = nullptr;
        ASSERT_EQ(1, DecodePngTexture(&texture, "Scaled", png.data(), static_cast<DWORD>(png.size()), r.mode,
                                      nullptr));
        EXPECT_EQ(r.filter, RwTextureGetFilterMode(texture));
        EXPECT_EQ(r.size, RwTextureGetRaster(texture)->width) << r.mode << r.textureQuality << r.imageQuality;
        EXPECT_EQ(r.size, RwTextureGetRaster(texture)->height);
        EXPECT_STREQ("Scaled", RwTextureGetName(texture));
        EXPECT_EQ(texture, RwTextureDictionaryFindTexture(RwTextureDictionaryGetCurrent(), "scaled"));
        RwImage *image = nullptr;
        ASSERT_EQ(1, DecodePngImage(&image, "Scaled", png.data(), static_cast<DWORD>(png.size()), r.mode));
        EXPECT_EQ(r.size, image->width);
        RwImageDestroy(image);
        RwTextureDestroy(texture);
    }
    // A quarter is the picture box-filtered: the pixel right of the top-left
    // one averages red 4..7 and green 0..3, clear of the diagonal.
    Base()->SetTextureQuality(2);
    RwRaster *raster = nullptr;
    ASSERT_EQ(1, DecodePngRaster(&raster, "q", png.data(), static_cast<DWORD>(png.size()), 2, nullptr));
    const std::vector<RwUInt8> p = RasterPixels(raster);
    EXPECT_NEAR(5.5, p[4], 1.0);
    EXPECT_NEAR(1.5, p[5], 1.0);
    EXPECT_EQ(255, p[7]);
    RwRasterDestroy(raster);
    // Read through the engine root, a quarter is filled through the image too.
    WriteFileBytes("data/png/quarter.png", png);
    RwTexture *read = Base()->ReadTexture("quarter", "data/png/");
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(p, RasterPixels(read->raster));
    Base()->ReleaseTexture("quarter");
    // A placeholder image is scaled the same way, by the library's resampler.
    RwImage *image = nullptr;
    ASSERT_EQ(1, DecodePngImage(&image, "q", png.data(), static_cast<DWORD>(png.size()), 2));
    ASSERT_EQ(16, image->width);
    std::vector<RwUInt8> scaled;
    for (int y = 0; y < image->height; y++)
        scaled.insert(scaled.end(), image->cpPixels + y * image->stride, image->cpPixels + y * image->stride + 64);
    RwImageDestroy(image);
    EXPECT_EQ(p, scaled);
    // Scaled pixels are never copied straight in: they go through the image,
    // a picture whose height stays as it was (one row) too.
    KivPngPixels *quarter = DecodePngPixels(png.data(), static_cast<DWORD>(png.size()), 2, nullptr);
    raster = CreatePngRaster(quarter);
    ASSERT_NE(nullptr, raster);
    EXPECT_EQ(16, raster->width);
    EXPECT_EQ(0, CopyPngPixels(raster, quarter));
    EXPECT_EQ(1, FillPngRaster(raster, quarter));
    EXPECT_EQ(p, RasterPixels(raster));
    RwRasterDestroy(raster);
    FreePngPixels(quarter);
    const std::string row = GradientPng(8, 1);
    KivPngPixels *narrowed = DecodePngPixels(row.data(), static_cast<DWORD>(row.size()), 2, nullptr);
    raster = CreatePngRaster(narrowed);
    ASSERT_NE(nullptr, raster);
    EXPECT_EQ(0, CopyPngPixels(raster, narrowed));
    RwRasterDestroy(raster);
    FreePngPixels(narrowed);
    // Nor into a raster of another width.
    Base()->SetTextureQuality(0);
    KivPngPixels *whole = DecodePngPixels(png.data(), static_cast<DWORD>(png.size()), 2, nullptr);
    raster = RwRasterCreate(32, 64, 32, rwRASTERTYPETEXTURE);
    ASSERT_NE(nullptr, raster);
    EXPECT_EQ(0, CopyPngPixels(raster, whole));
    RwRasterDestroy(raster);
    FreePngPixels(whole);
    Base()->SetTextureQuality(2);
    // A 1x1 picture stays 1x1 at a quarter.
    const std::string one = GradientPng(1, 1);
    RwTexture *texture = nullptr;
    ASSERT_EQ(1, DecodePngTexture(&texture, "one", one.data(), static_cast<DWORD>(one.size()), 2, nullptr));
    EXPECT_EQ(1, RwTextureGetRaster(texture)->width);
    RwTextureDestroy(texture);
    CKivBase::SetTextureReadMode(2);
    Base()->SetTextureQuality(0);
    Base()->SetImageQuality(0);
}

TEST(TextureRead, ColourKeyMakesClearPixelsOpaqueKeyColour)
{
    const std::string png = GradientPng(8, 8);
    for (const ColourKey &key : {ColourKey{0, 1, 2, 3}, ColourKey{1, 10, 20, 30}}) {
        RwRaster *raster = nullptr;
        ASSERT_EQ(1, DecodePngRaster(&raster, "k", png.data(), static_cast<DWORD>(png.size()), 2, &key));
        const std::vector<RwUInt8> p = RasterPixels(raster);
        const std::vector<int> clear(&p[(5 * 8 + 5) * 4], &p[(5 * 8 + 5) * 4 + 4]);
        const std::vector<int> opaque(&p[3 * 4], &p[3 * 4 + 4]);   // top row, x = 3
        const std::vector<int> expected = key.enable ? std::vector<int>{10, 20, 30, 255} : std::vector<int>{5, 5, 7, 0};
        EXPECT_EQ(expected, clear);
        EXPECT_EQ((std::vector<int>{3, 0, 7, 255}), opaque);
        // The pixels decoded on another thread make the same raster here.
        KivPngPixels *pixels = nullptr;
        std::thread([&] { pixels = DecodePngPixels(png.data(), static_cast<DWORD>(png.size()), 2, &key); }).join();
        RwRaster *split = RasterFromPngPixels(pixels);
        ASSERT_NE(nullptr, split);
        EXPECT_EQ(p, RasterPixels(split));
        FreePngPixels(pixels);
        RwRasterDestroy(split);
        RwRasterDestroy(raster);
    }
    EXPECT_EQ(nullptr, DecodePngPixels(png.data(), 20, 2, nullptr));
    EXPECT_EQ(nullptr, RasterFromPngPixels(nullptr));
    FreePngPixels(nullptr);
}

TEST(TextureRead, DictionariesReleaseAndReport)
{
    const std::string png4 = GradientPng(4, 4), png2 = GradientPng(2, 2);
    WriteFileBytes("data/png/four.png", png4);
    WriteFileBytes("data/png/two.png", png2);
    RwTextureDictionary *saved = RwTextureDictionaryGetCurrent();

    // Without a current dictionary a texture joins none, and release does nothing.
    RwTextureDictionarySetCurrent(nullptr);
    RwTexture *loose = nullptr;
    ASSERT_EQ(1, DecodePngTextureNoKey(&loose, "loose", png2.data(), static_cast<DWORD>(png2.size()), 2));
    EXPECT_EQ(nullptr, RwTextureGetDictionary(loose));
    Base()->ReleaseTexture("loose");
    EXPECT_EQ(1, loose->refCount);
    RwTextureDestroy(loose);

    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionarySetCurrent(dict);
    int a2 = -1, a3 = -1;
    const int others = Base()->ReportTextureMemory(&a2, &a3, 0);
    EXPECT_EQ(0, a2 + a3);
    RwTexture *four = Base()->ReadTexture("four", "data/png/");
    CKivBase::SetTextureReadMode(1);
    RwTexture *two = Base()->ReadTexture("two", "data/png/");
    CKivBase::SetTextureReadMode(2);
    ASSERT_TRUE(four && two);
    EXPECT_EQ(four, Base()->ReadTexture("four", "data/png/"));   // found again: one more reference
    EXPECT_EQ(2, four->refCount);

    int bytes2D = 0, bytes3D = 0;
    EXPECT_EQ(80, Base()->ReportTextureMemory(&bytes2D, &bytes3D, 1));
    EXPECT_EQ(16, bytes2D);
    EXPECT_EQ(64, bytes3D);
    ASSERT_EQ(0, others) << "earlier tests left textures behind";
    EXPECT_EQ("2D : two (1) = 16\t16(2D:16, 3D:0)\r\n3D : four (2) = 64\t80(2D:16, 3D:64)\r\n",
              ReadFileBytes("tm.txt"));

    // Release drops one reference; the last one frees the texture.
    Base()->ReleaseTexture("four");
    EXPECT_EQ(1, four->refCount);
    Base()->ReleaseTexture("absent");
    // A texture that a material still holds outlives its dictionary's release.
    RwMaterial *material = RwMaterialCreate();
    RwMaterialSetTexture(material, two);
    Base()->DestroyDictionaryTextures(dict);
    EXPECT_EQ(nullptr, RwTextureDictionaryFindTexture(dict, "four"));
    EXPECT_EQ(nullptr, RwTextureGetDictionary(two));
    EXPECT_EQ(1, two->refCount);
    EXPECT_EQ(two, material->texture);
    RwMaterialDestroy(material);
    RwTextureDictionarySetCurrent(saved);
    RwTextureDictionaryDestroy(dict);
}

TEST(TextureRead, LoadingThreadReadsWhileFramesAreShown)
{
    WriteFileBytes("data/png/threaded.png", GradientPng(16, 16));
    int read = 0;
    std::thread loader([&] {
        for (int i = 0; i < 40; i++) {
            if (Base()->ReadTexture("threaded", "data/png/"))
                read++;
            Base()->ReleaseTexture("threaded");
        }
    });
    CKivCamera *camera = Base()->GetDefaultCamera();
    for (int frame = 0; frame < 40; frame++) {
        Base()->Lock();
        if (camera->BeginUpdate())
            camera->EndUpdate();
        Base()->Unlock();
        Base()->Present();
    }
    loader.join();
    EXPECT_EQ(40, read);
    EXPECT_EQ(nullptr, RwTextureDictionaryFindTexture(RwTextureDictionaryGetCurrent(), "threaded"));
}

DWORD WINAPI TakeTheLock(void *taken)
{
    CKivBase::GetInstance()->Lock();
    *static_cast<volatile LONG *>(taken) = 1;
    CKivBase::GetInstance()->Unlock();
    return 0;
}

// A read made inside a frame (here a bare one, as the GUI makes) keeps the
// frame's lock: no other thread takes it before the frame ends.
TEST(TextureRead, AReadInsideAFrameKeepsTheFramesLock)
{
    WriteFileBytes("data/png/inframe.png", GradientPng(512, 512));
    volatile LONG taken = 0;
    Base()->Lock();
    HANDLE other = CreateThread(nullptr, 0, TakeTheLock, const_cast<LONG *>(&taken), 0, nullptr);
    Sleep(5);
    EXPECT_TRUE(Base()->HoldsLock());
    RwImageSetPath("data/png/");
    RwTexture *texture = RwTextureRead("inframe", nullptr);
    ASSERT_NE(nullptr, texture);
    EXPECT_EQ(512, RwTextureGetRaster(texture)->width);
    EXPECT_EQ(0, taken) << "the frame's lock was lent out";
    RwTextureDestroy(texture);
    Base()->Unlock();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(other, 5000));
    CloseHandle(other);
    EXPECT_EQ(1, taken);
    EXPECT_FALSE(Base()->HoldsLock());
}

struct WorldLoad {
    CKivWorld *world;
    int result;
};

DWORD WINAPI LoadTexturedWorld(void *data)
{
    WorldLoad *load = static_cast<WorldLoad *>(data);
    // Given no image path of its own the load decodes its picture under its
    // hold (nothing prepared), which keeps the world-loading flag up long
    // enough to be seen.
    load->result = load->world->Load("data/png/textured.bsp", nullptr, nullptr);
    return 0;
}

// Waits (at most 5 s) for a loading thread to be inside its locked part.
bool SeenWhileLoading(const std::function<bool()> &inside)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000;) {
        if (inside())
            return true;
        SwitchToThread();
    }
    return false;
}

// While a world loads on another thread, the main thread makes its own
// dictionary current (and drops the one it had): after the load its own is
// still current, and the world's texture went to the world's dictionary.
TEST(TextureRead, AWorldLoadLeavesTheMainThreadsDictionaryCurrent)
{
    WriteFileBytes("data/png/ground.png", GradientPng(1024, 1024));
    WriteFileBytes("data/png/textured.bsp", KivTestGround(10.0f, 0.0f, 5.0f, 1, 1, true, "ground"));
    RwTextureDictionary *outer = RwTextureDictionaryGetCurrent();
    RwTextureDictionary *old = RwTextureDictionaryCreate(), *mine = RwTextureDictionaryCreate();
    RwTextureDictionarySetCurrent(old);
    RwImageSetPath("data/png/");
    WorldLoad load = {new CKivWorld("textured"), -1};
    HANDLE loader = CreateThread(nullptr, 102400, LoadTexturedWorld, &load, 0, nullptr);
    EXPECT_TRUE(SeenWhileLoading([] { return Base()->IsWorldLoading() != 0; }));
    Base()->Lock();
    RwTextureDictionarySetCurrent(mine);
    RwTextureDictionaryDestroy(old);
    Base()->Unlock();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(loader, 10000));
    CloseHandle(loader);
    EXPECT_EQ(1, load.result);
    EXPECT_EQ(mine, RwTextureDictionaryGetCurrent());
    EXPECT_EQ(0, Base()->IsWorldLoading());
    RwTexture *ground = RwTextureDictionaryFindTexture(load.world->GetTextureDictionary(), "ground");
    ASSERT_NE(nullptr, ground);
    EXPECT_EQ(1024, RwTextureGetRaster(ground)->width);
    EXPECT_EQ(nullptr, RwTextureDictionaryFindTexture(mine, "ground"));
    delete load.world;
    RwTextureDictionarySetCurrent(outer);
    RwTextureDictionaryDestroy(mine);
}

// The texture chunk of a texture named so, as the library writes it, with
// the flags and a user-data string when given.
std::string TextureChunk(const char *name, RwUInt8 filter = 2, RwUInt8 addressing = 0x11, const char *text = nullptr)
{
    RwTexture *texture = RwTextureCreate(nullptr);
    RwTextureSetName(texture, name);
    texture->filterMode = filter;
    texture->addressing = addressing;
    if (text)
        KivTestAddString(texture, rwKINDTEXTURE, text);
    const std::string chunk = KivTestWrite([texture](RwStream *s) { RwTextureStreamWrite(texture, s); });
    RwTextureDestroy(texture);
    return chunk;
}

// A material with the texture chunk (or none) and a bump map naming a
// premade bumped texture, a bump texture, both or neither.
std::string MaterialChunk(const std::string &texture, const std::string &bumped = "", const std::string &bump = "")
{
    std::string body, effects;
    for (RwUInt32 v : {0u, 0xFFFFFFFFu, 0u, texture.empty() ? 0u : 1u})
        PutU32(body, v);
    for (float f : {1.0f, 1.0f, 1.0f})
        PutF32(body, f);
    if (!bumped.empty() || !bump.empty()) {
        PutU32(effects, 1);   // bump map, then no second effect
        PutU32(effects, 1);
        PutF32(effects, 0.5f);
        PutU32(effects, bumped.empty() ? 0 : 1);
        effects += bumped;
        PutU32(effects, bump.empty() ? 0 : 1);
        effects += bump;
        PutU32(effects, 0);
        effects = Chunk(0x120, effects);
    }
    return Chunk(7, Chunk(1, body) + texture + Chunk(3, effects));
}

// The material list chunk of the materials.
std::string MaterialList(const std::vector<std::string> &materials)
{
    std::string list, all;
    PutU32(list, static_cast<RwUInt32>(materials.size()));
    for (const std::string &material : materials) {
        PutU32(list, 0xFFFFFFFFu);
        all += material;
    }
    return Chunk(8, Chunk(1, list) + all);
}

// Every kind of texture a file may name: flags and user data of its own, a
// bumped texture built while it is read and a premade one, a file that is
// missing, one cut short and one over the size bound.
std::string SameMaterials()
{
    return MaterialList({
        MaterialChunk(TextureChunk("flagged", 1, 0x32, "hello")),
        MaterialChunk(TextureChunk("base"), "", TextureChunk("bumpy")),
        MaterialChunk("", TextureChunk("premade"), TextureChunk("bumpy")),
        MaterialChunk(TextureChunk("missing")),
        MaterialChunk(TextureChunk("cut")),
        MaterialChunk(TextureChunk("huge")),
    });
}

// The chunk's material list (after its struct) replaced by the one given.
std::string WithMaterials(const std::string &chunk, const std::string &materials)
{
    const auto u32 = [&chunk](size_t at) { return static_cast<RwUInt32>(static_cast<unsigned char>(chunk[at])) |
                                                   static_cast<unsigned char>(chunk[at + 1]) << 8 |
                                                   static_cast<unsigned char>(chunk[at + 2]) << 16 |
                                                   static_cast<RwUInt32>(static_cast<unsigned char>(chunk[at + 3]))
                                                       << 24; };
    const size_t list = 24 + u32(16), end = list + 12 + u32(list + 4);
    std::string out = chunk.substr(0, list) + materials + chunk.substr(end);
    std::string size;
    PutU32(size, static_cast<RwUInt32>(out.size() - 12));
    return out.replace(4, 4, size);
}

std::string Described(const RwTexture *texture)
{
    if (!texture)
        return "null";
    std::string out = std::string(texture->name) + " filter " + std::to_string(texture->filterMode) + " addressing " +
                      std::to_string(texture->addressing);
    const RwUserDataExtension *ext = RwUserDataGetExtension(texture, rwKINDTEXTURE);
    const RwInt32 arrays = RwUserDataExtensionGetArrayCount(ext);
    out += " arrays " + std::to_string(arrays);
    const RwUserDataArray *array = arrays > 0 ? RwUserDataExtensionGetArray(ext, 0) : nullptr;
    if (array && array->format == rwUSERDATASTRING && array->numElements > 0)
        out += std::string(" '") + static_cast<char **>(array->data)[0] + "'";
    if (RwRaster *raster = RwTextureGetRaster(texture)) {
        const std::vector<RwUInt8> pixels = RasterPixels(raster);
        out += " " + std::to_string(raster->width) + "x" + std::to_string(raster->height) + " pixels " +
               std::to_string(std::hash<std::string>()(std::string(pixels.begin(), pixels.end())));
    }
    return out;
}

// Every material's texture and bump data, one line each.
std::string Described(const RwMaterialList &list)
{
    std::string out;
    for (RwInt32 i = 0; i < list.numMaterials; i++) {
        const RwMaterial *material = list.materials[i];
        out += Described(material->texture);
        if (const RwMatFxEffectSlot *slot = RwMatFxMaterialGetEffectSlot(material, rwMATFXKINDBUMPMAP)) {
            const RwMatFxBumpMapData &b = slot->data.bumpMap;
            out += "; bumped " + Described(b.bumpedTexture) + "; bump " + Described(b.bumpTexture) +
                   "; inverse width " + std::to_string(b.invBumpWidth);
        }
        out += "\n";
    }
    return out;
}

RwAtomic *FirstAtomic(const CKivClump &model)
{
    RwAtomic *atomic = nullptr;
    RwClumpForAllAtomics(
        model.GetClump(),
        [](RwAtomic *a, void *first) {
            *static_cast<RwAtomic **>(first) = a;
            return a;
        },
        &atomic);
    return atomic;
}

// The same world and model (of the folder given) read on one thread, described on the main one.
struct SameLoad {
    explicit SameLoad(const std::string &folder = "data/same/") : folder(folder) {}
    std::string folder;
    CKivWorld world{"same"};
    CKivClump model;
    int loaded = 0;
    // Names made with no memory asked for: memory may be failing.
    void Load()
    {
        char bsp[MAX_PATH], dff[MAX_PATH];
        snprintf(bsp, sizeof(bsp), "%ssame.bsp", folder.c_str());
        snprintf(dff, sizeof(dff), "%ssame.dff", folder.c_str());
        loaded = world.Load(bsp, nullptr, folder.c_str()) + model.Load(dff, folder.c_str());
    }
    std::string Seen() const
    {
        return std::to_string(loaded) + " loaded\nworld\n" + Described(world.GetWorld()->matList) + "model\n" +
               Described(FirstAtomic(model)->geometry->matList);
    }
};

// A model of one quad with the materials.
std::string ModelWith(const std::string &materials)
{
    KivTestPart part;
    part.quad.textured = true;
    part.position = {0, 0, 0};
    RwGeometry *quad = KivTestQuadGeometry(part.quad);
    part.geometry = WithMaterials(KivTestWritten(quad), materials);
    RwGeometryDestroy(quad);
    return KivTestModel({part});
}

// The world and model files of the folder, both with the materials.
void WriteSameModels(const std::string &folder, const std::string &materials)
{
    WriteFileBytes(folder + "same.bsp",
                   WithMaterials(KivTestGround(10.0f, 0.0f, 5.0f, 1, 1, true, "flagged"), materials));
    WriteFileBytes(folder + "same.dff", ModelWith(materials));
}

// The pictures and the world and model files that name them all.
void WriteSameFiles()
{
    WriteFileBytes("data/same/flagged.png", GradientPng(32, 32));
    WriteFileBytes("data/same/base.png", GradientPng(64, 64));
    WriteFileBytes("data/same/bumpy.png", GradientPng(64, 16));
    WriteFileBytes("data/same/premade.png", GradientPng(128, 128));
    WriteFileBytes("data/same/cut.png", GradientPng(64, 64).substr(0, 80));
    WriteFileBytes("data/same/huge.png",
                   Signature() + Ihdr(8192, 8192, 8, 6) + Idat({std::string(4, '\x7F')}) + Chunk("IEND", ""));
    DeleteFileA("data/same/missing.png");
    WriteSameModels("data/same/", SameMaterials());
}

// The folder's world and model read inside a frame (way 0), outside one on
// the main thread (1) or on a loading thread (2), described.
std::string SeenLoading(int way, const std::string &folder = "data/same/")
{
    // The model's textures go to the current dictionary: a new one each time.
    RwTextureDictionary *saved = RwTextureDictionaryGetCurrent(), *fresh = RwTextureDictionaryCreate();
    RwTextureDictionarySetCurrent(fresh);
    std::string seen;
    {
        SameLoad load(folder);
        if (way == 0) {
            Base()->Lock();
            load.Load();
            Base()->Unlock();
        } else if (way == 1) {
            load.Load();
        } else {
            std::thread loader([&load] { load.Load(); });
            loader.join();
        }
        seen = load.Seen();
    }
    RwTextureDictionarySetCurrent(saved);
    RwTextureDictionaryDestroy(fresh);
    return seen;
}

// A world and a model read inside a frame, outside one on the main thread
// and on a loading thread give the same textures, with every flag, user-data
// string, size, pixel and bump datum, and the same nulls; at a reduced
// texture quality as well.
TEST(TextureRead, AWorldAndAModelGiveTheSameTexturesOnEveryThread)
{
    WriteSameFiles();
    for (int quality : {0, 1}) {
        Base()->SetTextureQuality(quality);
        std::string seen[3];
        for (int way = 0; way < 3; way++)
            seen[way] = SeenLoading(way);
        EXPECT_EQ(seen[0], seen[1]) << "quality " << quality << ": outside a frame";
        EXPECT_EQ(seen[0], seen[2]) << "quality " << quality << ": on a loading thread";
        if (quality == 0) {
            const std::string &in = seen[0];
            EXPECT_EQ(0u, in.find("2 loaded\n")) << in;
            EXPECT_NE(std::string::npos, in.find("flagged filter 1 addressing 50 arrays 1 'hello' 32x32")) << in;
            EXPECT_NE(std::string::npos, in.find("bump bumpy filter 2 addressing 17 arrays 0 64x16")) << in;
            EXPECT_NE(std::string::npos, in.find("inverse width 0.015625")) << in;
            EXPECT_NE(std::string::npos, in.find("bumped premade filter 2 addressing 17 arrays 0 128x128")) << in;
            EXPECT_NE(std::string::npos, in.find("inverse width 0.007812")) << in;
            EXPECT_NE(std::string::npos, in.find("\nnull\nnull\nnull\nmodel\n")) << in;
        }
    }
    Base()->SetTextureQuality(0);
    // The engine root's reads: a file cut short and one over the bound are no textures anywhere.
    for (const char *name : {"cut", "huge"}) {
        Base()->Lock();
        EXPECT_EQ(nullptr, Base()->ReadTexture(name, "data/same/")) << name;
        Base()->Unlock();
        EXPECT_EQ(nullptr, Base()->ReadTexture(name, "data/same/")) << name;
        RwTexture *threaded = reinterpret_cast<RwTexture *>(1);
        std::thread([&] { threaded = Base()->ReadTexture(name, "data/same/"); }).join();
        EXPECT_EQ(nullptr, threaded) << name;
    }
}

// One picture named in four letter cases by a world's and a model's
// materials, as the dictionary takes them for one texture: each load decodes
// it once before its hold, and every material has the texture a load inside
// a frame gives.
TEST(TextureRead, SpellingsOfOneNameAreOnePicture)
{
    CreateDirectoryA("data/spelt", nullptr);
    WriteFileBytes("data/spelt/big.png", GradientPng(256, 256));
    std::vector<std::string> materials;
    for (const char *name : {"Big", "big", "BIG", "bIg"})
        materials.push_back(MaterialChunk(TextureChunk(name)));
    WriteSameModels("data/spelt/", MaterialList(materials));
    const std::string held = SeenLoading(0, "data/spelt/");
    const unsigned long decoded = KivPreparedTextures::PicturesDecoded();
    EXPECT_EQ(held, SeenLoading(1, "data/spelt/"));
    EXPECT_EQ(2ul, KivPreparedTextures::PicturesDecoded() - decoded);
    EXPECT_NE(std::string::npos, held.find("world\nBig filter 2 addressing 17 arrays 0 256x256")) << held;

    // Nor is one the current dictionary, or the world's dictionary file,
    // holds in another spelling decoded at all.
    WriteFileBytes("data/spelt/first.png", GradientPng(8, 8));
    WriteFileBytes("data/spelt/last.png", GradientPng(4, 4));
    RwTextureDictionary *saved = RwTextureDictionaryGetCurrent(), *own = RwTextureDictionaryCreate();
    RwTextureDictionarySetCurrent(own);
    for (const char *name : {"first", "bIG", "last"})
        Base()->ReadTexture(name, "data/spelt/");
    WriteFileBytes("data/spelt/spelt.txd",
                   KivTestWrite([own](RwStream *s) { RwPITextureDictionaryStreamWrite(own, s); }));
    const unsigned long before = KivPreparedTextures::PicturesDecoded();
    {
        CKivClump model;
        CKivWorld world("spelt");
        EXPECT_EQ(1, model.Load("data/spelt/same.dff", "data/spelt/"));
        EXPECT_EQ(1, world.Load("data/spelt/same.bsp", "data/spelt/spelt.txd", "data/spelt/"));
        EXPECT_EQ(Base()->ReadTexture("big", "data/spelt/"), FirstAtomic(model)->geometry->matList.materials[3]->texture);
        Base()->ReleaseTexture("big");
    }
    EXPECT_EQ(before, KivPreparedTextures::PicturesDecoded());
    RwTextureDictionarySetCurrent(saved);
    RwTextureDictionaryDestroy(own);
}

// The model loaded (inside a frame when held) into a dictionary of its own, described.
std::string ModelSeen(const char *file, const char *folder, bool held)
{
    RwTextureDictionary *saved = RwTextureDictionaryGetCurrent(), *fresh = RwTextureDictionaryCreate();
    RwTextureDictionarySetCurrent(fresh);
    std::string seen;
    {
        CKivClump model;
        if (held)
            Base()->Lock();
        seen = std::to_string(model.Load(file, folder)) + " ";
        if (held)
            Base()->Unlock();
        RwAtomic *atomic = FirstAtomic(model);
        seen += atomic ? Described(atomic->geometry->matList) : "no atomic";
    }
    RwTextureDictionarySetCurrent(saved);
    RwTextureDictionaryDestroy(fresh);
    return seen;
}

// A model whose file names thousands of pictures no material uses (the
// model reader passes over them): the prepared load gives the texture a
// load inside a frame gives, its lookups compare names in proportion to
// their count, not its square, and a name past the list's room is read
// under the lock.
TEST(TextureRead, ManyUnusedNamesCostInProportionToTheirCount)
{
    CreateDirectoryA("data/names", nullptr);
    WriteFileBytes("data/names/used.png", GradientPng(16, 16));
    const std::string model = ModelWith(MaterialList({MaterialChunk(TextureChunk("used"))}));
    const size_t room = KivPreparedTextures::kMostNames;
    for (size_t names : {room / 4, room - 1, 3 * room}) {
        std::string unused;
        for (size_t i = 0; i < names; i++)
            unused += TextureChunk(("unused" + std::to_string(i)).c_str());
        for (bool usedFirst : {true, false}) {
            WriteFileBytes("data/names/many.dff", usedFirst ? model + unused : unused + model);
            const std::string held = ModelSeen("data/names/many.dff", "data/names/", true);
            const unsigned long compared = KivPreparedTextures::NamesCompared();
            const unsigned long decoded = KivPreparedTextures::PicturesDecoded();
            EXPECT_EQ(held, ModelSeen("data/names/many.dff", "data/names/", false)) << names;
            EXPECT_LE(KivPreparedTextures::NamesCompared() - compared, 2 * names) << names;
            EXPECT_EQ(usedFirst || names < room ? 1ul : 0ul, KivPreparedTextures::PicturesDecoded() - decoded)
                << names << (usedFirst ? " after the model" : " before the model");
            EXPECT_EQ(0u, held.find("1 used filter 2 addressing 17 arrays 0 16x16")) << held;
        }
    }
}

// Every texture of the dictionaries, described.
std::set<std::string> TexturesIn(std::initializer_list<RwTextureDictionary *> dictionaries)
{
    std::set<std::string> out;
    for (RwTextureDictionary *dictionary : dictionaries)
        RwTextureDictionaryForAllTextures(
            dictionary,
            [](RwTexture *texture, void *seen) {
                static_cast<std::set<std::string> *>(seen)->insert(Described(texture));
                return texture;
            },
            &out);
    return out;
}

// Memory running out at each allocation of a world's and a model's loads out
// of a frame (the scan, the decoding and the rasters made before the hold
// among them): every texture either of them keeps is the whole one, never a
// picture cut short, and nothing is left behind.
TEST(TextureRead, LoadsOutOfMemoryKeepWholeTexturesOrNone)
{
    WriteSameFiles();
    // The textures the loads keep, with memory failing after n allocations (never when n < 0).
    const auto load = [](long n, long *refused) {
        RwTextureDictionary *saved = RwTextureDictionaryGetCurrent(), *fresh = RwTextureDictionaryCreate();
        RwTextureDictionarySetCurrent(fresh);
        std::set<std::string> kept;
        {
            SameLoad same;
            if (n >= 0)
                FailNewAfter(n);
            bool thrown = false;
            try {
                same.Load();
            } catch (...) {
                thrown = true;
            }
            *refused = FailNewRefused();
            FailNewEnd();
            EXPECT_FALSE(thrown) << "after " << n;
            kept = TexturesIn({same.world.GetTextureDictionary(), fresh});
        }
        RwTextureDictionarySetCurrent(saved);
        RwTextureDictionaryDestroy(fresh);
        return kept;
    };
    for (int quality : {0, 1}) {
        Base()->SetTextureQuality(quality);
        long refused = 0;
        const std::set<std::string> whole = load(-1, &refused);
        ASSERT_EQ(5u, whole.size());
        const long blocks = MallocProbeLive(), heap = KivLiveHeapBlocks();
        refused = 1;
        for (long n = 0; refused && n < 5000; n += n < 300 ? 1 : 4) {
            for (const std::string &texture : load(n, &refused))
                EXPECT_EQ(1u, whole.count(texture)) << "quality " << quality << " after " << n << ": " << texture;
            ASSERT_EQ(blocks, MallocProbeLive()) << "quality " << quality << " after " << n;
            ASSERT_EQ(heap, KivLiveHeapBlocks()) << "quality " << quality << " after " << n;
        }
        EXPECT_EQ(0, refused) << "the loads never ran whole";
    }
    Base()->SetTextureQuality(0);
}

// The width of a world's texture loaded on another thread while this one
// holds a frame, doing what it is given during the frame.
int LoadedWhileAFrameIsHeld(const std::function<void()> &during)
{
    WriteFileBytes("data/png/held.bsp", KivTestGround(10.0f, 0.0f, 5.0f, 1, 1, true, "held"));
    CKivWorld world("held");
    Base()->Lock();
    std::thread loader([&world] { world.Load("data/png/held.bsp", nullptr, "data/png/"); });
    Sleep(300);
    during();
    Base()->Unlock();
    loader.join();
    RwTexture *texture = RwTextureDictionaryFindTexture(world.GetTextureDictionary(), "held");
    return texture ? RwTextureGetRaster(texture)->width : 0;
}

// A world load decodes its pictures before it waits for the frame: a file
// replaced meanwhile is not read again. A picture decoded before the quality
// changed is: the texture has the new quality's size. Either way the lock
// is left as it was.
TEST(TextureRead, AWorldLoadWaitingForTheFrameHasDecodedItsPictures)
{
    WriteFileBytes("data/png/held.png", GradientPng(64, 64));
    EXPECT_EQ(64, LoadedWhileAFrameIsHeld([] { WriteFileBytes("data/png/held.png", GradientPng(32, 32)); }));
    EXPECT_EQ(8, LoadedWhileAFrameIsHeld([] { Base()->SetTextureQuality(2); }));
    Base()->SetTextureQuality(0);
    EXPECT_FALSE(Base()->HoldsLock());
    Base()->Lock();
    EXPECT_TRUE(Base()->HoldsLock());
    Base()->Unlock();
}

// A file that begins as a PNG but breaks later is no texture, read inside
// a frame or outside one, and it is not listed as missing.
TEST(TextureRead, ABrokenPictureIsNoTextureInsideOrOutsideAFrame)
{
    const std::string png = GradientPng(64, 64);
    WriteFileBytes("data/png/broken.png", png.substr(0, 8) + std::string(64, 'x'));
    const std::string listed = ReadFileBytes("Texture.txt");
    Base()->Lock();
    EXPECT_EQ(nullptr, Base()->ReadTexture("broken", "data/png/"));
    Base()->Unlock();
    EXPECT_EQ(nullptr, Base()->ReadTexture("broken", "data/png/"));
    EXPECT_EQ(listed, ReadFileBytes("Texture.txt"));
}

// Two threads reading one texture, the second while the first's read is
// surely in progress, share one texture with its whole picture.
TEST(TextureRead, OneTextureReadOnTwoThreadsAtOnceIsOneTexture)
{
    WriteFileBytes("data/png/twice.png", GradientPng(2048, 2048));
    RwTexture *first = nullptr;
    volatile LONG started = 0;
    DWORD firstDone = 0, secondStart = 0;
    std::thread loader([&] {
        started = 1;
        first = Base()->ReadTexture("twice", "data/png/");
        firstDone = GetTickCount();
    });
    while (!started)
        SwitchToThread();
    Sleep(10);
    secondStart = GetTickCount();
    RwTexture *second = Base()->ReadTexture("twice", "data/png/");
    loader.join();
    ASSERT_LT(secondStart, firstDone) << "the reads did not overlap";
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(2, first->refCount);
    EXPECT_EQ(2048, RwTextureGetRaster(first)->width);
    int named = 0;
    RwTextureDictionaryForAllTextures(
        RwTextureDictionaryGetCurrent(),
        [](RwTexture *texture, void *count) {
            *static_cast<int *>(count) += strcmp(texture->name, "twice") == 0;
            return texture;
        },
        &named);
    EXPECT_EQ(1, named);
    Base()->ReleaseTexture("twice");
    Base()->ReleaseTexture("twice");
    EXPECT_EQ(nullptr, RwTextureDictionaryFindTexture(RwTextureDictionaryGetCurrent(), "twice"));
}

} // namespace
