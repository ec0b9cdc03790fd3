// World frame cost: CKivWorld::Render with nine shadowed, partly transparent clumps and nine blobs, beside a plain world render.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/CKivAlphaManager.h"
#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivLight.h"
#include "engine/CKivShadow.h"
#include "engine/CKivSimpleShadow.h"
#include "engine/CKivWorld.h"
#include "engine/engine_host.h"
#include "sample/engine_scene.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "bench/benchmode.h"

namespace {

const int kFrames = 300;

// The whole process: the device's command and rasteriser threads work for the frame too.
double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME &t) {
        return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

double WallSeconds()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

class Blobs : public CKivSimpleShadow
{
public:
    void DrawShadows(void *) override
    {
        for (const RwV3d &p : points)
            RenderShadow(world, &p, 3.0f, 50.0f, texture, camera);
    }
    std::vector<RwV3d> points;
    RwWorld *world = nullptr;
    CKivCamera *camera = nullptr;
    RwTexture *texture = nullptr;
};

struct Timing {
    double cpu, wall;
};

// Each frame is presented as the game does, outside the time taken. The
// machine is shared: the median frame stands for the run.
template <typename Frame>
Timing Measure(Frame frame)
{
    for (int i = 0; i < 10; i++) {
        frame();
        CKivBase::GetInstance()->Present();
    }
    std::vector<double> walls;
    const double cpu = CpuSeconds();
    for (int i = 0; i < kFrames; i++) {
        const double wall = WallSeconds();
        frame();
        walls.push_back(WallSeconds() - wall);
        CKivBase::GetInstance()->Present();
    }
    const double cpuPerFrame = (CpuSeconds() - cpu) / kFrames;   // presents included
    std::sort(walls.begin(), walls.end());
    return {cpuPerFrame, walls[walls.size() / 2]};
}

} // namespace

int main()
{
    KivBenchSayDirect3DMode(true);
    CKivBase *base = new CKivBase;
    if (!InitHost(base)) {
        fprintf(stderr, "engine start failed\n");
        return 1;
    }
    // 64 sectors of 28 x 28 squares: 100,352 triangles.
    WriteFileBytes("benchworld.bsp", KivTestGround(200.0f, 0.0f, 40.0f, 64, 28, false));
    CKivWorld *world = new CKivWorld("bench");
    if (!world->Load("benchworld.bsp", nullptr, nullptr)) {
        fprintf(stderr, "world load failed\n");
        return 1;
    }
    CKivCamera *camera = new CKivCamera("eye");
    const RwV3d eye = {0, 60, -60}, target = {0, 0, 0}, up = {0, 1, 0};
    camera->CreateLookAt(&eye, &target, &up, 1.0f, 1000.0f, 1.2f, base->GetViewport());
    world->AddCamera(camera);
    world->SetCamera(camera);

    WriteFileBytes("benchsun.dff", KivTestDirectionalLightFile());
    CKivLight *sun = new CKivLight("sun");
    sun->Load("benchsun.dff");
    KivTestShineDown(RwLightGetFrame(sun->GetLight()));
    world->AddLight(sun);

    KivTestQuad solid, glass, black;
    solid.colour = {200, 120, 60, 255};
    glass.material = "_t";
    glass.colour = {60, 120, 200, 128};
    black.prelit = false;
    WriteFileBytes("benchbody.dff", KivTestModel({{solid, {0, 2, 0}}, {glass, {0, 4, 0}}}));
    WriteFileBytes("benchshade.dff", KivTestModel({{black, {0, 2, 0}}, {black, {0, 4, 0}}}));
    std::vector<CKivClump *> clumps, shades;
    Blobs blobs;
    for (int i = 0; i < 9; i++) {
        char name[32];
        snprintf(name, sizeof(name), "body%d", i);
        CKivClump *clump = new CKivClump(name), *shade = new CKivClump;
        clump->Load("benchbody.dff", nullptr);
        shade->Load("benchshade.dff", nullptr);
        const RwV3d at = {(i % 3 - 1) * 12.0f, 0.0f, (i / 3 - 1) * 12.0f};
        clump->SetPosition(&at);
        clump->UpdateObjects();
        clump->CreateShadow(shade, 1000.0f);
        world->AddClump(clump);
        clumps.push_back(clump);
        shades.push_back(shade);
        blobs.points.push_back({at.x + 5.0f, 1.0f, at.z + 5.0f});
    }
    blobs.world = world->GetWorld();
    blobs.camera = camera;
    blobs.texture = KivTestBlobTexture(8, 0x80000000u);

    const Timing full = Measure([&] {
        world->Render();
        blobs.DrawShadows(nullptr);
    });
    RwCamera *rw = camera->GetCamera();
    const Timing plain = Measure([&] {
        RwRGBA clear = {255, 255, 255, 255};
        RwCameraClear(rw, &clear, 3);
        if (RwCameraBeginUpdate(rw)) {
            RwWorldRender(world->GetWorld());
            RwCameraEndUpdate(rw);
        }
        world->GetAlphaManager()->Clear();
    });
    base->SetShadowSwitch(0);
    const Timing unshadowed = Measure([&] { world->Render(); });
    base->SetShadowSwitch(1);
    const Timing blobOnly = Measure([&] { blobs.DrawShadows(nullptr); });
    printf("parts: world without shadows %.3f ms CPU, blobs alone %.3f ms CPU per presented frame\n",
           unshadowed.cpu * 1e3, blobOnly.cpu * 1e3);
    int shadowTriangles = 0;
    for (CKivClump *clump : clumps)
        shadowTriangles += clump->GetShadow()->GetTriangleCount();
    printf("world 100352 triangles in 64 sectors, 9 shadowed clumps (%d shadow triangles), 9 blobs\n",
           shadowTriangles);
    printf("CKivWorld::Render + blobs: %.3f ms CPU per presented frame (calls alone: %.3f ms median)\n",
           full.cpu * 1e3, full.wall * 1e3);
    printf("plain RwWorldRender:       %.3f ms CPU per presented frame (calls alone: %.3f ms median)\n",
           plain.cpu * 1e3, plain.wall * 1e3);
    printf("ratio: %.2f CPU (target <= 2)\n", plain.cpu > 0 ? full.cpu / plain.cpu : 0.0);

    for (CKivClump *clump : clumps) {
        world->RemoveClump(clump);
        delete clump;
    }
    for (CKivClump *shade : shades)
        delete shade;
    world->RemoveLight(sun);
    world->RemoveCamera(camera);
    delete sun;
    delete world;
    delete camera;
    RwTextureDestroy(blobs.texture);
    base->Shutdown();
    delete base;
    return 0;
}
