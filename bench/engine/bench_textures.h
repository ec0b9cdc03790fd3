// Texture benchmarks' shared pieces: a high-resolution clock and generated 256x256 PNG pictures.
#pragma once

#include <windows.h>

#include <FreeImage.h>

#include <string>

#include "sample/png_bytes.h"

const int kBenchTextureSize = 256;

inline double BenchNow()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// A picture that compresses like a texture: gradients with some noise.
inline std::string BenchMakePng(int seed, int size = kBenchTextureSize)
{
    FIBITMAP *dib = FreeImage_Allocate(size, size, 32);
    unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
    for (int y = 0; y < size; y++) {
        BYTE *row = FreeImage_GetScanLine(dib, y);
        for (int x = 0; x < size; x++) {
            state = state * 1103515245u + 12345u;
            row[4 * x + FI_RGBA_RED] = static_cast<BYTE>(x + seed);
            row[4 * x + FI_RGBA_GREEN] = static_cast<BYTE>(y ^ seed);
            row[4 * x + FI_RGBA_BLUE] = static_cast<BYTE>(state >> 28);
            row[4 * x + FI_RGBA_ALPHA] = 255;
        }
    }
    return SavePng(dib);
}
