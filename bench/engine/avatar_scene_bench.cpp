// The sample scene with nine inked, walking avatars: the engine's update and render per frame beside a bare replay of the
// same device calls, the calls per frame, the state calls the caches filtered and the redundant ones that got through.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/engine/devicecapture.h"
#include "engine/CKivAvatar.h"
#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivLight.h"
#include "engine/CKivSimpleShadow.h"
#include "engine/CKivToon.h"
#include "engine/CKivWorld.h"
#include "engine/engine_host.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "sample/avatar_data.h"
#include "sample/sample_data.h"
#include "viewer/viewerscene.h"
#include "bench/benchmode.h"

namespace {

const int kFrames = 200;
const int kRounds = 5;
const int kAvatars = 9;
const char kSunLight[] = "sun.dff";

struct Clock {
    double thread, process, wall;
};

double Seconds(const FILETIME &t)
{
    return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1e-7;
}

double Wall()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// The submitting thread alone, the whole process (the device's own threads
// included) and the wall clock.
Clock Now()
{
    FILETIME created, exited, kernel, user;
    Clock c = {};
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    c.thread = Seconds(kernel) + Seconds(user);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    c.process = Seconds(kernel) + Seconds(user);
    c.wall = Wall();
    return c;
}

// Milliseconds per frame over kFrames frames.
template <typename Frame>
Clock Timed(Frame frame)
{
    const Clock start = Now();
    for (int i = 0; i < kFrames; i++)
        frame();
    const Clock end = Now();
    const double ms = 1e3 / kFrames;
    return {(end.thread - start.thread) * ms, (end.process - start.process) * ms, (end.wall - start.wall) * ms};
}

Clock Best(const Clock &a, const Clock &b)
{
    return {std::min(a.thread, b.thread), std::min(a.process, b.process), std::min(a.wall, b.wall)};
}

// A blob under every avatar's root bone, as the sample lays one.
class Blobs : public CKivSimpleShadow {
public:
    void DrawShadows(void *) override
    {
        for (CKivAvatar *a : avatars) {
            const RwMatrix *root = a->GetFrameMatrix("Bip01");
            if (root)
                RenderShadow(world, &root->pos, 1.2f, 10.0f, texture, camera);
        }
    }
    std::vector<CKivAvatar *> avatars;
    RwWorld *world = nullptr;
    CKivCamera *camera = nullptr;
    RwTexture *texture = nullptr;
};

bool WriteScene()
{
    CreateDirectoryA("avatar_scene", nullptr);
    return SetCurrentDirectoryA("avatar_scene") && KivViewerWriteSampleScene(".") && KivTestWriteAvatarData() &&
           KivSampleWrite(kSunLight, KivTestDirectionalLightFile()) && KivSampleWritePlaceholders();
}

void Orbit(RwFrame *frame)
{
    const RwV3d xAxis = {1, 0, 0}, yAxis = {0, 1, 0};
    RwFrameRotate(frame, &xAxis, 25.0f, rwCOMBINEREPLACE);
    RwFrameRotate(frame, &yAxis, 30.0f, rwCOMBINEPOSTCONCAT);
    const RwV3d at = RwFrameGetMatrix(frame)->at;
    const RwReal distance = 11.0f;
    const RwV3d from = {-distance * at.x, 1.2f - distance * at.y, -distance * at.z};
    RwFrameTranslate(frame, &from, rwCOMBINEPOSTCONCAT);
}

// The back buffer into a PNG file.
void SavePicture(CKivCamera &camera, const std::string &path)
{
    RwRaster *raster = camera.GetCamera()->frameBuffer;
    RwImage *image = RwImageCreate(raster->width, raster->height, 32);
    if (!image || !RwImageAllocatePixels(image) || !RwImageSetFromRaster(image, raster) ||
        !RwImageWritePng(image, path.c_str()))
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    RwImageDestroy(image);
}

void Compare(CKivBase *base, CKivCamera &camera, const std::vector<CKivAvatar *> &avatars, Blobs &blobs,
             DeviceCapture &capture, const std::string &pictures);

// The scene lives here so that it is gone before the engine root shuts down.
// With a picture prefix, the engine's frame and the replayed one are written
// as PNG files (prefix-engine.png, prefix-bare.png) to compare by eye.
int Run(CKivBase *base, const std::string &pictures)
{
    CKivWorld world("sample");
    if (!world.Load(KIV_SAMPLE_WORLD, KIV_SAMPLE_TEXTURES, "")) {
        std::fprintf(stderr, "world load failed\n");
        return 1;
    }
    world.SetClearColor({110, 150, 200, 255});
    CKivClump model;
    if (!model.Load(KIV_SAMPLE_MODEL, "") || !world.AddClump(&model)) {
        std::fprintf(stderr, "model load failed\n");
        return 1;
    }
    // The sample's lights: a dim ambient and the sun as the main light.
    RwLight *ambient = RwLightCreate(rwLIGHTAMBIENT);
    const RwRGBAReal dim = {0.35f, 0.35f, 0.35f, 1.0f};
    RwLightSetColor(ambient, &dim);
    RwWorldAddLight(world.GetWorld(), ambient);
    CKivLight sun("sun");
    if (sun.Load(kSunLight)) {
        KivSampleTurnSun(RwLightGetFrame(sun.GetLight()));
        world.AddLight(&sun);
    }
    CKivCamera camera("bench");
    bool ok = camera.Create(0.2f, 200.0f, 1.1f, base->GetViewport()) && world.AddCamera(&camera);
    if (ok) {
        world.SetCamera(&camera);
        Orbit(RwCameraGetFrame(camera.GetCamera()));
    }

    // The avatars as the sample makes its one: inked, smiling, walking, with a
    // projected shadow drawn through a second copy each.
    CKivAvatar::LoadScripts("Data/Avatar/");
    CKivToon toon;   // outlives the avatars it is applied to
    ok = ok && toon.Load(kKivTestInkFile, nullptr, nullptr);
    std::vector<CKivAvatar *> avatars, shades;
    const RwV3d small = {0.3f, 0.3f, 0.3f};
    for (int i = 0; ok && i < kAvatars; i++) {
        CKivAvatar *a = new CKivAvatar, *shade = new CKivAvatar;
        avatars.push_back(a);
        shades.push_back(shade);
        const RwV3d place = {(i % 3 - 1) * 3.0f, 0.0f, (i / 3 - 1) * 3.0f};
        ok = a->Create(1, 1 + i % 2, 1) && world.AddClump(a) && shade->Create(1, 1 + i % 2, 1);
        a->SetToon(&toon);
        a->SetScale(&small);
        a->SetPosition(&place);
        a->SetEmotion("normal");
        a->PlayBehavior("walk");
        if (!KivViewerAddProjectedShadow(a, shade))
            std::fprintf(stderr, "avatar %d casts no projected shadow\n", i);
    }
    Blobs blobs;
    blobs.avatars = avatars;
    blobs.world = world.GetWorld();
    blobs.camera = &camera;
    blobs.texture = KivTestBlobTexture(16, 0xA0000000u);
    base->SetCurrentWorld(&world);
    DeviceCapture capture;
    if (ok && capture.Attach(rwD3D9Driver.device))
        Compare(base, camera, avatars, blobs, capture, pictures);
    else
        std::fprintf(stderr, "the scene could not be made or its device calls not captured\n");

    base->SetCurrentWorld(nullptr);
    for (CKivAvatar *a : avatars) {
        world.RemoveClump(a);
        delete a;
    }
    for (CKivAvatar *shade : shades)
        delete shade;
    RwTextureDestroy(blobs.texture);
    world.RemoveCamera(&camera);
    world.RemoveLight(&sun);
    world.RemoveClump(&model);
    RwWorldRemoveLight(world.GetWorld(), ambient);
    RwLightDestroy(ambient);
    return ok ? 0 : 1;
}

// Runs the engine and the bare loop in turn and prints what they cost.
void Compare(CKivBase *base, CKivCamera &camera, const std::vector<CKivAvatar *> &avatars, Blobs &blobs,
             DeviceCapture &capture, const std::string &pictures)
{
    // One frame as the sample makes it: update, world, blobs, present; the
    // wall time of each step is summed.
    double steps[4] = {};
    const auto engineFrame = [&](bool present = true) {
        const float dt = 1.0f / 30.0f;
        double t = Wall();
        const auto step = [&](int i) {
            const double now = Wall();
            steps[i] += now - t;
            t = now;
        };
        base->Lock();
        base->Update(dt);
        for (CKivAvatar *a : avatars)
            a->Update(dt);
        step(0);
        base->RenderWorld();
        step(1);
        if (camera.BeginUpdate()) {
            blobs.DrawShadows(nullptr);
            camera.EndUpdate();
        }
        base->Unlock();
        step(2);
        if (present)
            camera.ShowRaster();
        step(3);
    };
    for (int i = 0; i < 30; i++)
        engineFrame();

    // The first recorded frame finds the buffers whose uploads the second records.
    capture.Start();
    engineFrame();
    capture.Start();
    engineFrame();
    capture.Stop();
    capture.Detach();
    const DeviceCapture::Counts counts = capture.GetCounts();

    std::fill(steps, steps + 4, 0.0);
    double bareSubmit = 0.0;
    Clock engine = {1e9, 1e9, 1e9}, bare = engine;
    RwUInt32 filtered = 0;
    for (int round = 0; round < kRounds; round++) {
        const RwUInt32 before = rwD3D9FilteredStateCalls;
        engine = Best(engine, Timed([&] { engineFrame(); }));
        filtered = (rwD3D9FilteredStateCalls - before) / kFrames;
        bare = Best(bare, Timed([&] {
            const double t = Wall();
            capture.Replay(false);
            bareSubmit += Wall() - t;
            capture.ReplayPresent();
        }));
    }
    if (!pictures.empty()) {
        capture.Replay(false);
        SavePicture(camera, pictures + "-bare.png");
        camera.ShowRaster();
    }
    // The bare loop left the device as the recorded frame did; the driver's caches must not trust theirs.
    RwD3D9GetCurrentD3DDevice();
    if (!pictures.empty()) {
        engineFrame(false);
        SavePicture(camera, pictures + "-engine.png");
        camera.ShowRaster();
    }

    std::printf("scene: sample world and model, %d inked, walking avatars with blob and projected shadows; "
                "%d frames a run, best of %d runs\n",
                kAvatars, kFrames, kRounds);
    std::printf("engine update + render: %7.3f ms thread CPU, %7.3f ms process CPU, %7.3f ms wall per frame\n",
                engine.thread, engine.process, engine.wall);
    std::printf("bare replay:            %7.3f ms thread CPU, %7.3f ms process CPU, %7.3f ms wall per frame\n",
                bare.thread, bare.process, bare.wall);
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("ratio engine / bare: %.2f thread CPU, %.2f process CPU, %.2f wall (target <= 1.5)\n",
                ratio(engine.thread, bare.thread), ratio(engine.process, bare.process), ratio(engine.wall, bare.wall));
    const double perFrame = 1e3 / (kFrames * kRounds);
    std::printf("engine steps, wall per frame: update %.3f ms, world %.3f ms, blobs %.3f ms, present %.3f ms\n",
                steps[0] * perFrame, steps[1] * perFrame, steps[2] * perFrame, steps[3] * perFrame);
    const double submit = (steps[0] + steps[1] + steps[2]) * perFrame;
    std::printf("submission before present, wall per frame: engine %.3f ms, bare %.3f ms, ratio %.2f\n", submit,
                bareSubmit * perFrame, ratio(submit, bareSubmit * perFrame));
    std::printf("engine's own work beyond the device calls: %.3f ms thread CPU per frame\n",
                std::max(0.0, engine.thread - bare.thread));
    std::printf("Direct3D calls per frame: %d (%d draws, %d state calls); state calls filtered by the caches: %u\n",
                counts.calls, counts.draws, counts.stateCalls, filtered);
    std::printf("  by method: %s\n", capture.CallsByMethod().c_str());
    std::printf("redundant state calls that reached the device: %d (%s)\n", counts.redundant,
                capture.RedundantByMethod().c_str());
    if (counts.unreplayed)
        std::printf("calls the bare loop does not repeat: %s\n", capture.UnreplayedByMethod().c_str());
}

}  // namespace

int main(int argc, char **argv)
{
    KivBenchSayDirect3DMode(true);
    // Pictures go beside the program's working folder, not into the scene's.
    char folder[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, folder);
    const std::string pictures = argc > 1 ? std::string(folder) + "\\" + argv[1] : std::string();
    CKivBase *base = new CKivBase;
    int status = 1;
    if (InitHost(base) && WriteScene())
        status = Run(base, pictures);
    else
        std::fprintf(stderr, "engine start or sample tree failed\n");
    base->Shutdown();
    delete base;
    return status;
}
