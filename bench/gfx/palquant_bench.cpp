// Times the palette quantiser and the resampler on texture-sized images.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

#include "gfx/core/engine.h"
#include "gfx/core/image.h"
#include "gfx/core/palquant.h"
#include "gfx/core/resample.h"
#include "bench/benchmode.h"

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

int main()
{
    KivBenchSayDirect3DMode(false);
    RwEngineOpenParams params = {nullptr};
    if (!RwEngineInit(nullptr, 0, 0) || !RwEngineOpen(&params) || !RwEngineStart())
        return 1;
    const RwInt32 size = 256;
    RwImage *image = RwImageCreate(size, size, 32);
    RwImageAllocatePixels(image);
    RwUInt32 seed = 12345;
    for (RwInt32 y = 0; y < size; y++)
        for (RwInt32 x = 0; x < size; x++) {
            seed = seed * 1103515245u + 12345u;
            RwUInt8 *p = image->cpPixels + y * image->stride + x * 4;
            p[0] = static_cast<RwUInt8>(x + (seed >> 28));
            p[1] = static_cast<RwUInt8>(y + (seed >> 24 & 15));
            p[2] = static_cast<RwUInt8>((x * y) >> 8);
            p[3] = 255;
        }
    for (RwInt32 colours : {16, 256}) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        static RwPalQuant pq;
        RwPalQuantInit(&pq);
        RwPalQuantAddImage(&pq, image, 1.0f);
        static RwRGBA palette[256];
        RwPalQuantResolvePalette(palette, colours, &pq);
        static RwUInt8 indices[size * size];
        RwPalQuantMatchImage(indices, size, 8, FALSE, &pq, image);
        RwPalQuantTerm(&pq);
        QueryPerformanceCounter(&t1);
        printf("quantise %dx%d to %d colours: %.3f s\n", size, size, colours, Seconds(t0, t1));
    }
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    RwImage *half = RwImageCreateResample(image, 100, 70);
    QueryPerformanceCounter(&t1);
    printf("resample %dx%d to 100x70: %.3f s\n", size, size, Seconds(t0, t1));
    RwImageDestroy(half);
    RwImageDestroy(image);
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    return 0;
}
