// Times the PNG reader on a legal 4096 x 4096 file and on one of the same size
// whose image data goes on, within the bound on its bytes, with gigabytes of
// zeros past the last row: the second must be refused about as fast. Then
// legal textures of three kinds, each read by the reader and decoded by plain
// libpng calls in turn: the reader's checks must cost little beside the decode.
#include <windows.h>

#include <png.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "bench/benchmode.h"
#include "gfx/core/engine.h"
#include "gfx/core/filesys.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/win32filesys.h"
#include "support/png_chunks.h"

using namespace pngchunks;

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

static bool WriteFile(const char *name, const std::string &bytes)
{
    FILE *f = std::fopen(name, "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// The best of some reads: seconds, and whether the file read.
static double TimeRead(const char *name, bool *read, int runs = 3)
{
    double best = 1e9;
    for (int run = 0; run < runs; run++) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        RwImage *image = RwImageReadPng(name);
        QueryPerformanceCounter(&t1);
        *read = image != nullptr;
        if (image)
            RwImageDestroy(image);
        const double s = Seconds(t0, t1);
        best = s < best ? s : best;
    }
    return best;
}

// The file decoded as it stands, with nothing checked past what libpng checks:
// seconds, and whether it decoded.
static double PlainDecode(const char *name, bool *read)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    *read = false;
    FILE *f = std::fopen(name, "rb");
    png_structp png = f ? png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr) : nullptr;
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    png_bytep volatile pixels = nullptr;   // set after the jump is armed
    png_bytepp volatile rows = nullptr;
    if (info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        const size_t rowBytes = png_get_rowbytes(png, info);
        pixels = static_cast<png_bytep>(std::malloc(rowBytes * height));
        rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * height));
        if (pixels && rows) {
            for (png_uint_32 y = 0; y < height; y++)
                rows[y] = pixels + y * rowBytes;
            png_read_image(png, rows);
            png_read_end(png, nullptr);
            *read = true;
        }
    }
    std::free(rows);
    std::free(pixels);
    if (png)
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (f)
        std::fclose(f);
    QueryPerformanceCounter(&t1);
    return Seconds(t0, t1);
}

// Rows of a texture: a smooth picture with noise, each row with its filter
// byte, the filters taken in turn as writers mix them.
static std::string TextureRows(int width, int height, int channels)
{
    std::string rows;
    rows.reserve(static_cast<size_t>(width * channels + 1) * height);
    RwUInt32 seed = 777;
    for (int y = 0; y < height; y++) {
        rows += static_cast<char>(y % 5);
        for (int x = 0; x < width; x++) {
            for (int c = 0; c < channels; c++) {
                seed = seed * 1103515245u + 12345u;
                rows += static_cast<char>(((x * (c + 1) + y) >> 4) + (seed >> 29));
            }
        }
    }
    return rows;
}

// The reader and the plain decode of one file, taken in turn so that both
// see the same load; the best of each, and their ratio against the target.
static void CompareWithPlainDecode(const char *what, const std::string &file)
{
    if (!WriteFile("bench_texture.png", file))
        return;
    double reader = 1e9, plain = 1e9;
    bool readerRead = true, plainRead = true;
    for (int round = 0; round < 9; round++) {
        bool ok = false;
        reader = std::min(reader, TimeRead("bench_texture.png", &ok, 1));
        readerRead = readerRead && ok;
        plain = std::min(plain, PlainDecode("bench_texture.png", &ok));
        plainRead = plainRead && ok;
    }
    std::printf("%s (%.1f MB): RwImageReadPng %.1f ms%s, plain libpng decode %.1f ms%s: x%.2f (target: at most "
                "x1.15)\n",
                what, file.size() / 1048576.0, reader * 1000, readerRead ? "" : " (REFUSED)", plain * 1000,
                plainRead ? "" : " (REFUSED)", reader / plain);
    DeleteFileA("bench_texture.png");
}

int main()
{
    KivBenchSayDirect3DMode(false);
    RwEngineOpenParams params = {nullptr};
    if (!RwEngineInit(nullptr, 0, 0) || !RwEngineOpen(&params) || !RwEngineStart())
        return 1;
    RwFileSystem *fs = nullptr;
    if (!RwFileSystemManagerOpen(0) || (fs = RwWin32FileSystemCreate(8, "", "work")) == nullptr ||
        !RwFileSystemRegister(fs))
        return 1;
    RwFileSystemSetDefault(fs);

    // 4096 rows of 4096 grey pixels, each with its filter byte: a smooth
    // picture with noise, as a texture is; and the same rows all zero.
    std::string rows, zeros(4097u * 4096u, '\0');
    rows.reserve(4097u * 4096u);
    RwUInt32 seed = 12345;
    for (int y = 0; y < 4096; y++) {
        rows += '\0';
        for (int x = 0; x < 4096; x++) {
            seed = seed * 1103515245u + 12345u;
            rows += static_cast<char>(((x + y) >> 5) + (seed >> 29));
        }
    }
    const std::string header = Signature() + Ihdr(4096, 4096, 8, 0), end = Chunk("IEND", "");
    // IDAT chunks of 1 MB, as writers cut them. The flood has as many
    // megabytes of zeros past its rows as the bound on the image data lets through.
    const std::string legal = header + IdatChunks(DeflatedWithZeros(rows, 0), 1 << 20) + end;
    const std::string plain = header + IdatChunks(DeflatedWithZeros(zeros, 0), 1 << 20) + end;
    const std::string flood = header + IdatChunks(DeflatedWithZeros(zeros, 25000), 1 << 20) + end;
    if (!WriteFile("bench_legal.png", legal) || !WriteFile("bench_plain.png", plain) ||
        !WriteFile("bench_flood.png", flood))
        return 1;

    bool legalRead = false, plainRead = false, floodRead = true;
    const double legalSeconds = TimeRead("bench_legal.png", &legalRead);
    const double plainSeconds = TimeRead("bench_plain.png", &plainRead);
    const double floodSeconds = TimeRead("bench_flood.png", &floodRead);
    std::printf("legal 4096x4096 grey texture (%.1f MB): read in %.3f s (%s)\n", legal.size() / 1048576.0,
                legalSeconds, legalRead ? "read" : "REFUSED");
    std::printf("legal 4096x4096 grey, all zero (%.1f MB): read in %.3f s (%s)\n", plain.size() / 1048576.0,
                plainSeconds, plainRead ? "read" : "REFUSED");
    std::printf("all zero with 25000 MB of zeros past its rows (%.1f MB): refused in %.3f s (%s); "
                "target: within 2 x the legal texture's read (%.3f s)\n",
                flood.size() / 1048576.0, floodSeconds, floodRead ? "READ" : "refused", 2 * legalSeconds);
    DeleteFileA("bench_legal.png");
    DeleteFileA("bench_plain.png");
    DeleteFileA("bench_flood.png");

    std::string palette;
    for (int i = 0; i < 256; i++)
        palette += std::string(1, static_cast<char>(i)) + static_cast<char>(255 - i) + static_cast<char>(i / 2);
    CompareWithPlainDecode("legal 1024x1024 RGBA",
                           Signature() + Ihdr(1024, 1024, 8, 6) + IdatChunks(Compressed(TextureRows(1024, 1024, 4)), 1 << 16) + end);
    CompareWithPlainDecode("legal 2048x2048 RGB",
                           Signature() + Ihdr(2048, 2048, 8, 2) + IdatChunks(Compressed(TextureRows(2048, 2048, 3)), 1 << 16) + end);
    CompareWithPlainDecode("legal 2048x2048 palette", Signature() + Ihdr(2048, 2048, 8, 3) + Chunk("PLTE", palette) +
                                                          IdatChunks(Compressed(TextureRows(2048, 2048, 1)), 1 << 16) + end);
    RwFileSystemManagerClose();
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    return 0;
}
