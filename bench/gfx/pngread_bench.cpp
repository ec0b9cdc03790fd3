// Times the PNG reader on a legal 4096 x 4096 file and on one of the same size
// whose image data goes on, within the bound on its bytes, with gigabytes of
// zeros past the last row: the second must be refused about as fast.
#include <windows.h>

#include <cstdio>
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

// The best of three reads: seconds, and whether the file read.
static double TimeRead(const char *name, bool *read)
{
    double best = 1e9;
    for (int run = 0; run < 3; run++) {
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
    RwFileSystemManagerClose();
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    return 0;
}
