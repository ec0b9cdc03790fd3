// Toon ink throughput: both ink passes on the processor over a 60,000-triangle sphere, beside a plain
// facing-and-classify loop timed in the same frames (alternately before and after the passes, so neither
// runs on caches the other warmed) and compared by median frame, which a busy machine's spikes do not move.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9toon.h"
#include "gfx/d3d9/d3d9window.h"
#include "gfx/plugins/toon/toon.h"
#include "sample/toon_mesh.h"
#include "gfx/world/world.h"
#include "bench/benchmode.h"

namespace {

const int kFrames = 200;
const int kWarmUp = 10;               // first locks and allocations, not timed

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

// The yardstick: per frame, every triangle's facing from its first corner, then every edge classified.
int PlainLoop(const RwToonGeo *toon, const RwV3d *positions, const RwV3d &eye, std::vector<unsigned char> &facing)
{
    for (RwInt32 i = 0; i < toon->numTriangles; ++i) {
        const RwV3d &p = positions[toon->triangles[i].vertex[0]];
        const RwV3d &n = toon->triangleNormals[i];
        facing[i] = (eye.x - p.x) * n.x + (eye.y - p.y) * n.y + (eye.z - p.z) * n.z > 0.0f;
    }
    int silhouettes = 0;
    for (RwInt32 i = 0; i < toon->numEdges; ++i) {
        const RwToonEdge &e = toon->edges[i];
        silhouettes += e.triangle[1] != rwTOONNOINDEX && facing[e.triangle[0]] != facing[e.triangle[1]];
    }
    return silhouettes;
}

double Median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    KivBenchSayDirect3DMode(true);
    if (!RwEngineInit(nullptr, 0, 0x400000) || !RwWorldPluginAttach() || !RwToonPluginAttach()) {
        return 1;
    }
    HWND window = KivTestCreateWindow(1024, 768);
    RwEngineOpenParams params = {window};
    if (!RwEngineOpen(&params) || !RwEngineSetVideoMode(0) || !RwEngineStart()) {
        return 1;
    }
    RwCamera *camera = RwCameraCreate();
    RwFrame *cameraFrame = RwFrameCreate();
    RwCameraSetFrame(camera, cameraFrame);
    camera->frameBuffer = RwRasterCreate(1024, 768, 0, rwRASTERTYPECAMERA);
    camera->zBuffer = RwRasterCreate(1024, 768, 0, rwRASTERTYPEZBUFFER);
    RwCameraSetNearClipPlane(camera, 0.5f);
    RwCameraSetFarClipPlane(camera, 100.0f);

    const toonmesh::Mesh mesh = toonmesh::Sphere(174, 174);
    RwToonGeo *toon = toonmesh::ToonFor(mesh, "outline", "crease");
    RwToonInk *inks[2] = {RwToonInkCreate(), RwToonInkCreate()};
    std::strcpy(inks[0]->name, "outline");
    std::strcpy(inks[1]->name, "crease");
    inks[0]->width = inks[1]->width = 3.0f;
    RwToonInkDictionary dictionary = {2, inks};
    RwToonGeoApplyInkDictionary(toon, &dictionary);
    toon->numCreaseEdges = toon->numEdges / 8;
    rwToonDevice.shaderInk = FALSE;

    RwMatrix objectToCamera, world;
    RwMatrixSetIdentity(&world);
    world.pos = {0.0f, 0.0f, 5.0f};
    objectToCamera = world;
    for (RwToonInk *k : inks) {
        k->depthBase = 1.0f;
        k->depthSlope = 0.0f;
        k->screenWidth = k->width / 1024.0f;
        k->halfScreenWidth = k->screenWidth * 0.5f;
    }
    const RwV3d *positions = mesh.positions.data();
    const RwV3d *normals = toon->vertexNormals;

    RwRGBA blue = {0, 0, 255, 255};
    std::vector<unsigned char> facing(toon->numTriangles);
    const RwV3d eye = {0.0f, 0.0f, -5.0f};
    int sink = 0;
    std::vector<double> inkTimes, silhouetteTimes, plainTimes;
    for (int f = -kWarmUp; f < kFrames; ++f) {
        RwCameraClear(camera, &blue, rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
        RwCameraBeginUpdate(camera);
        double plain = 0.0;
        if (f & 1) {
            const double start = Now();
            sink += PlainLoop(toon, positions, eye, facing);
            plain = Now() - start;
        }
        const double start = Now();
        RwToonRenderSilhouettes(toon, positions, normals, FALSE, &objectToCamera, &world);
        const double middle = Now();
        RwToonRenderCreases(toon, positions, &objectToCamera);
        const double end = Now();
        if (!(f & 1)) {
            sink += PlainLoop(toon, positions, eye, facing);
            plain = Now() - end;
        }
        RwCameraEndUpdate(camera);
        RwCameraShowRaster(camera, window, 0);
        if (f >= 0) {
            inkTimes.push_back(end - start);
            silhouetteTimes.push_back(middle - start);
            plainTimes.push_back(plain);
        }
    }
    const double inkTime = Median(inkTimes);
    const double plainTime = Median(plainTimes);
    const double edges = double(toon->numEdges);
    std::printf("toon mesh: %d triangles, %d edges (%d creases), %d frames (median frame)\n", toon->numTriangles,
                toon->numEdges, toon->numCreaseEdges, kFrames);
    std::printf("ink passes (processor): %.1f M edges/s\n", edges / inkTime / 1e6);
    std::printf("  silhouette pass alone: %.1f M edges/s\n", edges / Median(silhouetteTimes) / 1e6);
    std::printf("plain facing loop:      %.1f M edges/s (%d silhouettes seen)\n", edges / plainTime / 1e6,
                sink / (kFrames + kWarmUp));
    std::printf("ratio: %.2f (target at least 0.5)\n", plainTime / inkTime);
    // The same loop back to back on caches it keeps warm, with no device work between: a stricter floor.
    std::vector<double> hotTimes;
    for (int f = 0; f < kFrames; ++f) {
        const double start = Now();
        sink += PlainLoop(toon, positions, eye, facing);
        hotTimes.push_back(Now() - start);
    }
    std::printf("plain loop back to back: %.1f M edges/s (ratio %.2f)\n", edges / Median(hotTimes) / 1e6,
                Median(hotTimes) / inkTime);

    RwToonGeoDestroy(toon);
    for (RwToonInk *k : inks) {
        RwToonInkRelease(k);
    }
    RwRasterDestroy(camera->frameBuffer);
    RwRasterDestroy(camera->zBuffer);
    camera->frameBuffer = camera->zBuffer = nullptr;
    RwCameraSetFrame(camera, nullptr);
    RwCameraDestroy(camera);
    RwFrameDestroy(cameraFrame);
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    DestroyWindow(window);
    return 0;
}
