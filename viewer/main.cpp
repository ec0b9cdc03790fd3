// The viewer: opens the game's 1024x768 popup window, loads a world and models (or the sample scene) and orbits them.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/filesys.h"
#include "gfx/core/win32filesys.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "viewerscene.h"

namespace {

const int kWidth = 1024;
const int kHeight = 768;

// Where the camera looks from: angles in degrees around the target.
struct Orbit {
    RwV3d target = {0.0f, 1.2f, 0.0f};
    RwReal yaw = 30.0f;
    RwReal pitch = 20.0f;
    RwReal distance = 9.0f;
    bool dragging = false;
    POINT last = {0, 0};
};

Orbit orbit;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    switch (message) {
    case WM_KEYDOWN:
        if (w == VK_ESCAPE) {
            DestroyWindow(window);
        }
        return 0;
    case WM_LBUTTONDOWN:
        orbit.dragging = true;
        orbit.last = {static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
        SetCapture(window);
        return 0;
    case WM_LBUTTONUP:
        orbit.dragging = false;
        ReleaseCapture();
        return 0;
    case WM_MOUSEMOVE:
        if (orbit.dragging) {
            const POINT at = {static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
            orbit.yaw += 0.4f * static_cast<RwReal>(at.x - orbit.last.x);
            orbit.pitch += 0.4f * static_cast<RwReal>(at.y - orbit.last.y);
            orbit.pitch = orbit.pitch < -5.0f ? -5.0f : orbit.pitch > 85.0f ? 85.0f : orbit.pitch;
            orbit.last = at;
        }
        return 0;
    case WM_MOUSEWHEEL:
        orbit.distance *= static_cast<short>(HIWORD(w)) > 0 ? 0.9f : 1.1f;
        orbit.distance = orbit.distance < 2.0f ? 2.0f : orbit.distance > 60.0f ? 60.0f : orbit.distance;
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, w, l);
    }
}

HWND CreateViewerWindow(void)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "KivViewer";
    RegisterClassA(&wc);
    // Centred, 16 pixels above the middle, as the game places its window.
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2 - 16;
    HWND window = CreateWindowExA(0, wc.lpszClassName, "kiv viewer", WS_POPUP | WS_VISIBLE, x < 0 ? 0 : x,
                                  y < 0 ? 0 : y, kWidth, kHeight, nullptr, nullptr, wc.hInstance, nullptr);
    if (window) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    return window;
}

// Turns the camera frame to look at the target from the orbit's angles.
void PlaceCamera(RwFrame *frame)
{
    const RwV3d xAxis = {1, 0, 0};
    const RwV3d yAxis = {0, 1, 0};
    RwFrameRotate(frame, &xAxis, orbit.pitch, rwCOMBINEREPLACE);
    RwFrameRotate(frame, &yAxis, orbit.yaw, rwCOMBINEPOSTCONCAT);
    const RwV3d at = RwFrameGetMatrix(frame)->at;
    const RwV3d from = {orbit.target.x - orbit.distance * at.x, orbit.target.y - orbit.distance * at.y,
                        orbit.target.z - orbit.distance * at.z};
    RwFrameTranslate(frame, &from, rwCOMBINEPOSTCONCAT);
}

RwLight *AddLight(RwWorld *world, RwInt32 type, RwRGBAReal colour, RwReal turnX, RwReal turnY)
{
    RwLight *light = RwLightCreate(type);
    RwFrame *frame = RwFrameCreate();
    if (!light || !frame) {
        return nullptr;
    }
    const RwV3d xAxis = {1, 0, 0};
    const RwV3d yAxis = {0, 1, 0};
    RwFrameRotate(frame, &xAxis, turnX, rwCOMBINEREPLACE);
    RwFrameRotate(frame, &yAxis, turnY, rwCOMBINEPOSTCONCAT);
    RwLightSetFrame(light, frame);
    RwLightSetColor(light, &colour);
    RwWorldAddLight(world, light);
    return light;
}

void DestroyLight(RwWorld *world, RwLight *light)
{
    if (light) {
        RwWorldRemoveLight(world, light);
        RwFrame *frame = RwLightGetFrame(light);
        RwLightSetFrame(light, nullptr);
        RwFrameDestroy(frame);
        RwLightDestroy(light);
    }
}

bool EndsWith(const std::string &s, const char *tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && _stricmp(s.c_str() + s.size() - n, tail) == 0;
}

std::string ExeFolder(void)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/") + 1);
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The frame buffer into a PNG file.
bool SaveFrame(RwCamera *camera, const char *path)
{
    RwImage *image = RwImageCreate(kWidth, kHeight, 32);
    bool ok = image && RwImageAllocatePixels(image) && RwImageSetFromRaster(image, camera->frameBuffer) &&
              RwImageWritePng(image, path);
    RwImageDestroy(image);
    return ok;
}

std::string FullPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(full) : path;
}

struct Options {
    int frames = 0;   // 0: until Escape
    std::string png;
    std::string sample;
    std::vector<std::string> files;
};

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) {
            o.frames = std::atoi(argv[++i]);
        } else if (a == "--png" && i + 1 < argc) {
            o.png = FullPath(argv[++i]);
        } else if (a == "--sample" && i + 1 < argc) {
            o.sample = FullPath(argv[++i]);
        } else {
            o.files.push_back(FullPath(a));
        }
    }
    if (o.sample.empty()) {
        o.sample = ExeFolder() + "sample";
    }
    return o;
}

// One file system per drive letter; the viewer hands them full paths.
bool MountDrives(void)
{
    if (!RwFileSystemManagerOpen(-1)) {
        return false;
    }
    const DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; i++) {
        if (drives & (1u << i)) {
            const char prefix[3] = {static_cast<char>('A' + i), ':', 0};
            RwFileSystem *fs = RwWin32FileSystemCreate(16, prefix, prefix);
            if (fs && !RwFileSystemRegister(fs)) {
                fs->close(fs);
            }
        }
    }
    return true;
}

bool StartEngine(HWND window)
{
    RwEngineOpenParams params = {window};
    return RwEngineInit(nullptr, 0, 0x400000) && RwWorldPluginAttach() && RwEngineOpen(&params) &&
           MountDrives() && RwEngineSetVideoMode(0) && RwEngineStart() &&
           RwImageRegisterFormat("png", RwImageReadPng, RwImageWritePng);
}

int Run(const Options &options, HWND window)
{
    std::vector<std::string> files = options.files;
    if (files.empty()) {
        const std::string folder = options.sample + "\\";
        if (!Exists(folder + KIV_SAMPLE_MODEL) && !KivViewerWriteSampleScene(options.sample.c_str())) {
            std::fprintf(stderr, "viewer: cannot write the sample scene into %s\n", options.sample.c_str());
            return 1;
        }
        files = {folder + KIV_SAMPLE_TEXTURES, folder + KIV_SAMPLE_WORLD, folder + KIV_SAMPLE_MODEL};
    }
    RwWorld *world = nullptr;
    std::vector<RwClump *> clumps;
    for (const std::string &f : files) {
        if (EndsWith(f, ".txd")) {
            if (!KivViewerLoadTextures(f.c_str())) {
                std::fprintf(stderr, "viewer: cannot read textures %s\n", f.c_str());
            }
        } else if (EndsWith(f, ".bsp") && !world) {
            world = KivViewerLoadWorld(f.c_str());
            if (!world) {
                std::fprintf(stderr, "viewer: cannot read world %s\n", f.c_str());
                return 1;
            }
        } else if (RwClump *c = KivViewerLoadClump(f.c_str())) {
            clumps.push_back(c);
        } else {
            std::fprintf(stderr, "viewer: cannot read model %s\n", f.c_str());
        }
    }
    if (!world) {
        const RwBBox box = {{100, 100, 100}, {-100, -100, -100}};
        world = RwWorldCreate(&box);
    }
    if (!world) {
        return 1;
    }
    for (RwClump *c : clumps) {
        RwWorldAddClump(world, c);
    }
    RwLight *ambient = AddLight(world, rwLIGHTAMBIENT, {0.35f, 0.35f, 0.35f, 1}, 0, 0);
    RwLight *sun = AddLight(world, rwLIGHTDIRECTIONAL, {0.9f, 0.85f, 0.8f, 1}, 50.0f, 150.0f);

    RwCamera *camera = RwCameraCreate();
    RwFrame *cameraFrame = RwFrameCreate();
    RwCameraSetFrame(camera, cameraFrame);
    camera->frameBuffer = RwRasterCreate(kWidth, kHeight, 0, rwRASTERTYPECAMERA);
    camera->zBuffer = RwRasterCreate(kWidth, kHeight, 0, rwRASTERTYPEZBUFFER);
    const RwV2d view = {0.6f, 0.45f};
    RwCameraSetViewWindow(camera, &view);
    RwCameraSetNearClipPlane(camera, 0.2f);
    RwCameraSetFarClipPlane(camera, 200.0f);
    RwWorldAddCamera(world, camera);

    int status = 0;
    for (int frame = 1;; frame++) {
        MSG msg;
        bool quit = false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (quit) {
            break;
        }
        PlaceCamera(cameraFrame);
        const RwRGBA sky = {110, 150, 200, 255};
        RwCameraClear(camera, const_cast<RwRGBA *>(&sky), rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
        if (RwCameraBeginUpdate(camera)) {
            RwWorldRender(world);
            RwCameraEndUpdate(camera);
        }
        const bool last = options.frames > 0 && frame >= options.frames;
        if (last && !options.png.empty() && !SaveFrame(camera, options.png.c_str())) {
            std::fprintf(stderr, "viewer: cannot write %s\n", options.png.c_str());
            status = 1;
        }
        RwCameraShowRaster(camera, window, 0);
        if (last) {
            break;
        }
    }

    RwWorldRemoveCamera(world, camera);
    RwCameraSetFrame(camera, nullptr);
    RwRasterDestroy(camera->frameBuffer);
    RwRasterDestroy(camera->zBuffer);
    camera->frameBuffer = camera->zBuffer = nullptr;
    RwCameraDestroy(camera);
    RwFrameDestroy(cameraFrame);
    DestroyLight(world, ambient);
    DestroyLight(world, sun);
    for (RwClump *c : clumps) {
        RwWorldRemoveClump(world, c);
        RwClumpDestroy(c);
    }
    RwWorldDestroy(world);
    return status;
}

}  // namespace

int main(int argc, char **argv)
{
    const Options options = Parse(argc, argv);
    HWND window = CreateViewerWindow();
    if (!window || !StartEngine(window)) {
        std::fprintf(stderr, "viewer: the graphics library did not start\n");
        return 1;
    }
    const int status = Run(options, window);
    RwEngineStop();
    RwEngineClose();
    RwFileSystemManagerClose();
    RwEngineTerm();
    if (IsWindow(window)) {
        DestroyWindow(window);
    }
    return status;
}
