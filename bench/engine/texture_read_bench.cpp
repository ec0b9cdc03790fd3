// Texture reading rate: 200 256x256 PNG files through RwTextureRead beside FreeImage's own load and convert.
#include <windows.h>

#include <FreeImage.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/CKivBase.h"
#include "gfx/core/texture.h"
#include "bench_textures.h"
#include "gfx/d3d9/d3d9window.h"
#include "bench/benchmode.h"

namespace {

const int kFiles = 200;

} // namespace

int main()
{
    KivBenchSayDirect3DMode(true);
    CKivBase *base = new CKivBase;
    HWND window = KivTestCreateWindow(1024, 768, "KivTextureBench");
    if (!base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "bench", 0, 0)) {
        fprintf(stderr, "engine start failed\n");
        return 1;
    }
    CreateDirectoryA("benchtex", nullptr);
    std::vector<std::string> files;
    double megabytes = 0;
    for (int i = 0; i < kFiles; i++) {
        files.push_back(BenchMakePng(i));
        megabytes += files.back().size() / 1e6;
        char name[64];
        snprintf(name, sizeof(name), "benchtex/t%03d.png", i);
        FILE *f = fopen(name, "wb");
        fwrite(files.back().data(), 1, files.back().size(), f);
        fclose(f);
    }

    double start = BenchNow();
    for (const std::string &png : files) {
        FIMEMORY *memory = FreeImage_OpenMemory(reinterpret_cast<BYTE *>(const_cast<char *>(png.data())),
                                                static_cast<DWORD>(png.size()));
        FIBITMAP *dib = FreeImage_LoadFromMemory(FIF_PNG, memory, 0);
        FreeImage_CloseMemory(memory);
        FIBITMAP *wide = FreeImage_ConvertTo32Bits(dib);
        FreeImage_Unload(dib);
        FreeImage_Unload(wide);
    }
    const double freeImage = BenchNow() - start;

    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionary *saved = RwTextureDictionarySetCurrent(dict);
    start = BenchNow();
    int read = 0;
    for (int i = 0; i < kFiles; i++) {
        char name[16];
        snprintf(name, sizeof(name), "t%03d", i);
        read += base->ReadTexture(name, "benchtex/") != nullptr;
    }
    const double engine = BenchNow() - start;
    RwTextureDictionarySetCurrent(saved);
    RwTextureDictionaryDestroy(dict);

    printf("%d files, %.2f MB of PNG, %d textures read\n", kFiles, megabytes, read);
    printf("FreeImage load and convert: %8.2f MB/s\n", megabytes / freeImage);
    printf("RwTextureRead:              %8.2f MB/s (%.0f%% of FreeImage)\n", megabytes / engine,
           100.0 * freeImage / engine);
    base->Shutdown();
    delete base;
    DestroyWindow(window);
    return read == kFiles ? 0 : 1;
}
