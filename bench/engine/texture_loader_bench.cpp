// Background texture loading rate: 200 256x256 PNG files read at once, then through the loader beside 60 Hz frames.
#include <windows.h>

#include <FreeImage.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/TextureLoader.h"
#include "bench_textures.h"
#include "sample/sample_data.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9window.h"
#include "bench/benchmode.h"

namespace {

const int kFiles = 200;
const DWORD kPiece = 0x2800;

const char *Name(int i)
{
    static char name[16];
    snprintf(name, sizeof(name), "t%03d", i);
    return name;
}

struct LoaderRun {
    double seconds;
    double longestWait;
    int frames;
    int longWaits;      // frames that waited longer than one synchronous load
};

// Requests every file, then renders 60 Hz frames until the worker has swapped them all.
LoaderRun RunLoader(CKivBase *base, int interval, double oneLoad)
{
    TextureLoader loader(interval);
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionary *saved = RwTextureDictionarySetCurrent(dict);
    LoaderRun run = {0.0, 0.0, 0, 0};
    const double start = BenchNow();
    for (int i = 0; i < kFiles; i++)
        loader.Request(Name(i), "benchtex/", 2);
    CKivCamera *camera = base->GetDefaultCamera();
    double next = BenchNow();
    while (loader.GetPendingCount() > 0) {
        const double before = BenchNow();
        base->Lock();
        const double wait = BenchNow() - before;
        if (wait > run.longestWait)
            run.longestWait = wait;
        run.longWaits += wait > oneLoad;
        camera->BeginUpdate();
        camera->EndUpdate();
        base->Unlock();
        base->Present();
        run.frames++;
        next += 1.0 / 60.0;
        const double left = next - BenchNow();
        if (left > 0)
            Sleep(static_cast<DWORD>(left * 1000.0));
    }
    run.seconds = BenchNow() - start;
    RwTextureDictionarySetCurrent(saved);
    base->Lock();
    RwTextureDictionaryDestroy(dict);
    base->Unlock();
    return run;
}

// What one request per pass allows: a pass every interval, never shorter
// than the 1 ms pauses between a file's pieces.
double PacingRate(int interval, double averagePauses)
{
    return 1000.0 / (interval > averagePauses ? interval : averagePauses);
}

} // namespace

int main()
{
    KivBenchSayDirect3DMode(true);
    KivSampleWritePlaceholders();
    CKivBase *base = new CKivBase;
    HWND window = KivTestCreateWindow(1024, 768, "KivLoaderBench");
    if (!base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "bench", 0, 0)) {
        fprintf(stderr, "engine start failed\n");
        return 1;
    }
    CreateDirectoryA("benchtex", nullptr);
    double pauses = 0;
    for (int i = 0; i < kFiles; i++) {
        const std::string png = BenchMakePng(i);
        pauses += (png.size() + kPiece - 1) / kPiece - 1;
        KivSampleWrite(std::string("benchtex/") + Name(i) + ".png", png.data(), png.size());
    }
    pauses /= kFiles;

    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwTextureDictionary *saved = RwTextureDictionarySetCurrent(dict);
    CKivBase::SetTextureReadMode(1);
    double start = BenchNow();
    int read = 0;
    for (int i = 0; i < kFiles; i++)
        read += base->ReadTexture(Name(i), "benchtex/") != nullptr;
    const double sync = BenchNow() - start;
    CKivBase::SetTextureReadMode(2);
    RwTextureDictionarySetCurrent(saved);
    RwTextureDictionaryDestroy(dict);
    const double syncRate = kFiles / sync;
    const double oneLoad = sync / kFiles;

    printf("%d files, %d read synchronously: %8.1f textures/s (%.2f ms each)\n", kFiles, read, syncRate,
           oneLoad * 1000.0);
    int failures = read == kFiles ? 0 : 1;
    for (int interval : {30, 1}) {
        const LoaderRun run = RunLoader(base, interval, oneLoad);
        const double rate = kFiles / run.seconds;
        const double pacing = PacingRate(interval, pauses);
        printf("interval %2d: %8.1f textures/s, %.2fx synchronous, pacing allows %.1f/s (%.0f%%), "
               "%d frames, longest render-lock wait %.2f ms (%s one load), %d frames waited longer\n",
               interval, rate, rate / syncRate, pacing, 100.0 * rate / pacing, run.frames,
               run.longestWait * 1000.0, run.longestWait <= oneLoad ? "within" : "above", run.longWaits);
    }
    base->Shutdown();
    delete base;
    DestroyWindow(window);
    return failures;
}
