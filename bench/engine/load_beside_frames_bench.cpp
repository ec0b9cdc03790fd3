// Frames beside a loading thread: the worst frame while a world with a 2048x2048 texture loads and while such textures are read back to back.
#include <windows.h>

#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_textures.h"
#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/CKivWorld.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9window.h"
#include "sample/engine_scene.h"
#include "sample/sample_data.h"

namespace {

const int kLargeSize = 2048;
const int kWorldLoads = 3;
const int kTextureReads = 6;
const int kNormalFrames = 60;
const double kTarget = 3.0;   // worst frame against the normal one

// A picture that compresses like a texture, of any size.
std::string LargePng(int seed)
{
    FIBITMAP *dib = FreeImage_Allocate(kLargeSize, kLargeSize, 32);
    unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
    for (int y = 0; y < kLargeSize; y++) {
        BYTE *row = FreeImage_GetScanLine(dib, y);
        for (int x = 0; x < kLargeSize; x++) {
            state = state * 1103515245u + 12345u;
            row[4 * x + FI_RGBA_RED] = static_cast<BYTE>(x + seed);
            row[4 * x + FI_RGBA_GREEN] = static_cast<BYTE>(y ^ seed);
            row[4 * x + FI_RGBA_BLUE] = static_cast<BYTE>(state >> 28);
            row[4 * x + FI_RGBA_ALPHA] = 255;
        }
    }
    return SavePng(dib);
}

// One frame of the game: the world drawn under the render lock, shown outside it.
double DrawFrame(CKivBase *base)
{
    const double start = BenchNow();
    base->Lock();
    base->RenderWorld();
    base->Unlock();
    base->Present();
    return BenchNow() - start;
}

DWORD WINAPI LoadWorlds(void *)
{
    for (int i = 0; i < kWorldLoads; i++) {
        CKivWorld *world = new CKivWorld("loaded");
        if (!world->Load("benchload/world.bsp", nullptr, "benchload/"))
            fprintf(stderr, "world load %d failed\n", i);
        delete world;
    }
    return 0;
}

DWORD WINAPI ReadTextures(void *)
{
    CKivBase *base = CKivBase::GetInstance();
    for (int i = 0; i < kTextureReads; i++) {
        char name[16];
        snprintf(name, sizeof(name), "big%d", i);
        if (!base->ReadTexture(name, "benchload/"))
            fprintf(stderr, "texture %s not read\n", name);
        base->ReleaseTexture(name);
    }
    return 0;
}

struct Run {
    double seconds;
    double worst;
    int frames;
};

// Frames drawn as fast as they come until the loading thread ends.
Run DrawBeside(CKivBase *base, LPTHREAD_START_ROUTINE load)
{
    Run run = {0.0, 0.0, 0};
    const double start = BenchNow();
    // The game's loading thread has a stack of this size.
    HANDLE thread = CreateThread(nullptr, 102400, load, nullptr, 0, nullptr);
    while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
        run.worst = std::max(run.worst, DrawFrame(base));
        run.frames++;
    }
    CloseHandle(thread);
    run.seconds = BenchNow() - start;
    return run;
}

int Report(const char *what, const Run &run, double normal)
{
    const double ratio = run.worst / normal;
    printf("%-44s %4d frames in %6.0f ms, worst %7.1f ms = %5.1f normal frames (target %.0f): %s\n", what,
           run.frames, run.seconds * 1000.0, run.worst * 1000.0, ratio, kTarget, ratio <= kTarget ? "met" : "missed");
    return ratio <= kTarget ? 0 : 1;
}

} // namespace

int main()
{
    CKivBase *base = new CKivBase;
    HWND window = KivTestCreateWindow(1024, 768, "KivLoadBesideFramesBench");
    if (!base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "bench", 0, 0)) {
        fprintf(stderr, "engine start failed\n");
        return 1;
    }
    CreateDirectoryA("benchload", nullptr);
    KivSampleWrite("benchload/world.bsp", KivTestGround(100.0f, 0.0f, 20.0f, 16, 24, true, "big"));
    for (int i = 0; i < kTextureReads; i++) {
        const std::string png = LargePng(i);
        KivSampleWrite("benchload/big" + std::to_string(i) + ".png", png.data(), png.size());
        if (i == 0)
            KivSampleWrite("benchload/big.png", png.data(), png.size());
    }

    // The drawn scene: a ground seen from above.
    CKivWorld *world = new CKivWorld("drawn");
    CKivCamera *camera = new CKivCamera("eye");
    const RwV3d eye = {0, 30, 0}, target = {0, 0, 0}, up = {0, 0, 1};
    if (!world->Load("benchload/world.bsp", nullptr, "benchload/") ||
        !camera->CreateLookAt(&eye, &target, &up, 0.5f, 1000.0f, 1.5f, base->GetViewport()) ||
        !world->AddCamera(camera)) {
        fprintf(stderr, "scene set-up failed\n");
        return 1;
    }
    world->SetCamera(camera);
    base->SetCurrentWorld(world);

    std::vector<double> frames;
    for (int i = 0; i < kNormalFrames; i++)
        frames.push_back(DrawFrame(base));
    std::sort(frames.begin(), frames.end());
    const double normal = frames[frames.size() / 2];
    printf("normal frame (median of %d): %.1f ms\n", kNormalFrames, normal * 1000.0);

    int missed = Report("world with a 2048x2048 texture loaded x3:", DrawBeside(base, LoadWorlds), normal);
    missed += Report("2048x2048 textures read back to back x6:", DrawBeside(base, ReadTextures), normal);

    base->SetCurrentWorld(nullptr);
    world->RemoveCamera(camera);
    delete world;
    delete camera;
    base->Shutdown();
    delete base;
    DestroyWindow(window);
    return missed;
}
