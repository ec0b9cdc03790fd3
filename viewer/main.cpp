// The engine sample: the game's 1024x768 popup window, the engine root on the sample tree, a world and models to orbit.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <process.h>
#include <string>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "sample/avatar_data.h"
#include "sample/gui_skins.h"
#include "sample/sample_data.h"
#include "sample/scene_script.h"
#include "compiledscripts.h"
#include "scenescript.h"
#include "viewerscene.h"

#include "engine/CKivAvatar.h"
#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivLight.h"
#include "engine/CKivSimpleShadow.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivToon.h"
#include "engine/CKivWorld.h"
#include "engine/gui/CKivGuiButton.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiIMEEditBox.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTempScrollBar.h"
#include "engine/gui/CKivGuiTooltip.h"
#include "engine/gui/CKivGuiTooltipManager.h"

namespace {

const int kWidth = 1024;
const int kHeight = 768;
const char kAvatarModel[] = "Data/Avatar/Objects/1.dff";
const char kSunLight[] = "sun.dff";
const int kDialogX = 24, kDialogY = 24, kDialogWidth = 320, kDialogHeight = 190;
// Texts in code page 949: "Dotum", "ga na da ra", "OK", "shadow".
const char kDotum[] = "\xB5\xB8\xBF\xF2";
const char kGreeting[] = "\xB0\xA1\xB3\xAA\xB4\xD9\xB6\xF3";
const char kOk[] = "\xC8\xAE\xC0\xCE";
const char kShadow[] = "\xB1\xD7\xB8\xB2\xC0\xDA";

// A white label; buttons and check boxes draw only their images, so their
// texts stand in labels over and beside them.
void AddLabel(CKivGuiDialog *d, int id, int left, int top, int right, int bottom, const char *text, int centred)
{
    CKivGuiStatic *label = new CKivGuiStatic(d);
    label->Create(id, left, top, right, bottom, text);
    label->SetFont("DefaultFont");
    label->SetTextColor(0xFFFFFFFF);
    label->SetTextFormat(centred ? 1 : 0, 4);
}

// The dialog: a Korean static, a button, a check box, a scroll bar and an IME
// edit box, in the sample tree's skins.
CKivGuiDialog *MakeDialog(CKivGuiSystem *gui)
{
    CKivGuiDialog *d = new CKivGuiDialog(1);
    d->SetLocation(kDialogX, kDialogY);
    d->SetSize(kDialogWidth, kDialogHeight);
    gui->AddDialog(d);
    d->SetBackgroundImage(KIV_SAMPLE_SKIN "dialog");
    AddLabel(d, 1, 16, 12, 280, 40, kGreeting, 0);
    CKivGuiButton *button = new CKivGuiButton(d);
    button->Create(2, 16, 50, 116, 80, kOk);
    button->SetRenderStyle(1);
    const char *const buttonSkins[] = {KIV_SAMPLE_SKIN "button_normal", KIV_SAMPLE_SKIN "button_hover",
                                       KIV_SAMPLE_SKIN "button_down", KIV_SAMPLE_SKIN "button_off"};
    for (int i = 0; i < 4; i++) {
        button->LoadElement(i + 1, buttonSkins[i]);
    }
    AddLabel(d, 6, 16, 50, 116, 80, kOk, 1);
    CKivGuiCheckBox *check = new CKivGuiCheckBox(d);
    check->Create(3, 130, 50, 260, 80, kShadow);
    check->LoadElement(1, KIV_SAMPLE_SKIN "check_off");
    check->LoadElement(2, KIV_SAMPLE_SKIN "check_on");
    check->LoadElement(3, KIV_SAMPLE_SKIN "check_hover");
    check->SetChecked(1, 0);
    AddLabel(d, 7, 168, 50, 270, 80, kShadow, 0);
    CKivGuiTempScrollBar *bar = new CKivGuiTempScrollBar(d);
    bar->Create(4, 290, 12, 304, 170, 0, 0);
    bar->LoadSkins();
    bar->SetPageSize(8);
    bar->SetTrackRange(0, 20);
    CKivGuiIMEEditBox *edit = new CKivGuiIMEEditBox(d);
    edit->Create(5, 16, 100, 270, 130, kGreeting, 8, 6);
    edit->SetSkins(KIV_SAMPLE_SKIN "field", KIV_SAMPLE_SKIN "caret", KIV_SAMPLE_SKIN "selection");
    edit->SetFont("DefaultFont");
    edit->SetText(kGreeting, 0);
    return d;
}

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
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (gui && message != WM_DESTROY && gui->MsgProc(window, message, w, l)) {
        return 0;
    }
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

// The frame buffer into a PNG file, opaque as the screen shows it (blending leaves the frame's alpha anywhere).
bool SaveFrame(RwCamera *camera, const char *path)
{
    RwImage *image = RwImageCreate(kWidth, kHeight, 32);
    bool ok = image && RwImageAllocatePixels(image) && RwImageSetFromRaster(image, camera->frameBuffer);
    for (RwInt32 y = 0; ok && y < kHeight; y++)
        for (RwInt32 x = 0; x < kWidth; x++)
            image->cpPixels[y * image->stride + 4 * x + 3] = 255;
    ok = ok && RwImageWritePng(image, path);
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
    std::string pngAsGiven;   // for messages: the path as the caller spelt it
    std::string pngs;   // a folder for every frame's picture
    int resetEvery = 0;   // the device is reset before every this many frames
    std::string sample;
    int packed = 0;   // 1: reads go through "data.pcl" in the folder
    bool writeOnly = false;   // write the sample tree into the folder and stop
    bool bad = false;   // an argument the sample does not know
};

// A whole number from 1; 0 for anything else.
int Count(const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    return end == text || *end || errno == ERANGE || n < 1 || n > INT_MAX ? 0 : static_cast<int>(n);
}

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) {
            // A count the run reaches: anything else would draw until Escape,
            // on a display nobody may see.
            o.frames = Count(argv[++i]);
            o.bad = o.bad || o.frames == 0;
        } else if (a == "--reset-every" && i + 1 < argc) {
            o.resetEvery = Count(argv[++i]);
            o.bad = o.bad || o.resetEvery == 0;
        } else if (a == "--pngs" && i + 1 < argc) {
            o.pngs = FullPath(argv[++i]);
        } else if (a == "--png" && i + 1 < argc) {
            o.pngAsGiven = argv[++i];
            o.png = FullPath(o.pngAsGiven);
        } else if (a == "--packed") {
            o.packed = 1;
        } else if ((a == "--sample" || a == "--write-sample") && i + 1 < argc) {
            o.writeOnly = o.writeOnly || a == "--write-sample";
            o.sample = FullPath(argv[++i]);
        } else {
            o.bad = true;
        }
    }
    // The packed tree has a folder of its own, so that nothing is read from loose files by mistake.
    if (o.sample.empty()) {
        o.sample = ExeFolder() + (o.packed ? "packed" : "sample");
    }
    // The picture is the last of a counted run: an endless one never writes it.
    o.bad = o.bad || (o.packed && o.writeOnly) ||
            (!o.writeOnly && (!o.png.empty() || !o.pngs.empty()) && o.frames == 0);
    return o;
}

// The tooltip skin, written before the engine starts: its manager loads it then.
bool WriteTooltipSkin(void)
{
    const char *const pieces[] = {"upleft",   "uppattern",   "upright",   "leftpattern", "pattern",       "rightpattern",
                                  "downleft", "downpattern", "downright", "downarrow",   "downleftarrow", "rightdownarrow"};
    for (const char *piece : pieces) {
        const std::string path = std::string("Data/Interface/Tooltip/tooltip-") + piece + ".png";
        if (!Exists(path) && !KivSampleWriteSolidPng(path, 250, 235, 160)) {
            return false;
        }
    }
    return true;
}

// The engine root reads the folder as the game reads its own: loose files,
// written there on the first run, or the "data.pcl" packed from them.
bool PrepareSample(const Options &options)
{
    if (options.packed) {
        return SetCurrentDirectoryA(options.sample.c_str()) != 0 && Exists("data.pcl");
    }
    CreateDirectoryA(options.sample.c_str(), nullptr);
    return SetCurrentDirectoryA(options.sample.c_str()) != 0 && WriteTooltipSkin();
}

// A soft dark disc: black, its alpha falling from the centre to nothing at the rim.
RwTexture *DiscTexture(int size)
{
    RwRaster *raster = RwRasterCreate(size, size, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwUInt8 *p = raster ? RwRasterLock(raster, 0, rwRASTERLOCKWRITE) : nullptr;
    if (!p) {
        if (raster) {
            RwRasterDestroy(raster);
        }
        return nullptr;
    }
    const float half = 0.5f * static_cast<float>(size);
    for (int y = 0; y < size; y++) {
        RwUInt32 *row = reinterpret_cast<RwUInt32 *>(p + y * raster->stride);
        for (int x = 0; x < size; x++) {
            const float dx = (x + 0.5f - half) / half, dy = (y + 0.5f - half) / half;
            const float edge = 1.0f - std::sqrt(dx * dx + dy * dy);
            const RwUInt32 alpha = edge <= 0 ? 0u : static_cast<RwUInt32>(160.0f * std::min(1.0f, 2.5f * edge));
            row[x] = alpha << 24;
        }
    }
    RwRasterUnlock(raster);
    return RwTextureCreate(raster);
}

// The blob shadow: a dark disc laid on the ground under the avatar's root bone.
class Blob : public CKivSimpleShadow {
public:
    Blob(CKivClump *model, RwWorld *world, CKivCamera *camera)
        : m_model(model), m_world(world), m_camera(camera), m_texture(DiscTexture(32))
    {
    }
    ~Blob() override
    {
        if (m_texture) {
            RwTextureDestroy(m_texture);
        }
    }
    void DrawShadows(void *) override
    {
        const RwMatrix *root = m_model->GetFrameMatrix("Bip01");
        if (root) {
            RenderShadow(m_world, &root->pos, 1.2f, 10.0f, m_texture, m_camera);
        }
    }

private:
    CKivClump *m_model;
    RwWorld *m_world;
    CKivCamera *m_camera;
    RwTexture *m_texture;
};

// The sample tree into the working folder (the engine must be started); written on
// every run, so a tree left by an older build never shows old data.
bool WriteSample(const Options &options)
{
    const bool ok = KivViewerWriteSampleScene(".") && KivTestWriteAvatarData() &&
                    KivSampleWrite(kSunLight, KivTestDirectionalLightFile()) && KivSampleWriteSound() &&
                    KivSampleWritePlaceholders() && KivSampleWriteGuiSkins() && KivSampleWriteSceneScript();
    if (!ok) {
        std::fprintf(stderr, "viewer: cannot write the sample scene into %s\n", options.sample.c_str());
    }
    return ok;
}

// What a headless run did: the frames drawn and whether the last was written.
struct Outcome {
    int frames = 0;
    bool written = false;
};

int Run(const Options &options, CKivBase *base, Outcome *outcome)
{
    if (!options.packed && !WriteSample(options)) {
        return 1;
    }
    CKivWorld world("sample");
    if (!world.Load(KIV_SAMPLE_WORLD, KIV_SAMPLE_TEXTURES, "")) {
        std::fprintf(stderr, "viewer: cannot read world %s\n", KIV_SAMPLE_WORLD);
        return 1;
    }
    world.SetClearColor({110, 150, 200, 255});
    std::vector<CKivClump *> clumps;
    for (const char *f : {KIV_SAMPLE_MODEL}) {
        CKivClump *clump = new CKivClump;
        if (clump->Load(f, "") && world.AddClump(clump)) {
            clumps.push_back(clump);
        } else {
            std::fprintf(stderr, "viewer: cannot read model %s\n", f);
            delete clump;
        }
    }
    RwWorld *rw = world.GetWorld();
    RwLight *ambient = rw ? AddLight(rw, rwLIGHTAMBIENT, {0.35f, 0.35f, 0.35f, 1}, 0, 0) : nullptr;
    // The sun is the world's main light: the projected shadow falls away from it.
    CKivLight sun("sun");
    if (sun.Load(kSunLight)) {
        KivSampleTurnSun(RwLightGetFrame(sun.GetLight()));
        world.AddLight(&sun);
    }

    // The avatar: body 1 in skin 1 with face 1, standing on the ground, inked,
    // walking through its script-made behaviour.
    CKivAvatar::LoadScripts("Data/Avatar/");
    CKivToon toon;   // outlives the avatar it is applied to
    CKivAvatar avatar;
    const RwV3d small = {0.3f, 0.3f, 0.3f}, place = {-1.5f, 0.0f, 1.5f};
    if (!avatar.Create(1, 1, 1) || !world.AddClump(&avatar)) {
        std::fprintf(stderr, "viewer: cannot make the avatar from %s\n", kAvatarModel);
        return 1;
    }
    if (toon.Load(kKivTestInkFile, nullptr, nullptr)) {
        avatar.SetToon(&toon);
    } else {
        std::fprintf(stderr, "viewer: cannot read the ink %s\n", kKivTestInkFile);
    }
    avatar.SetScale(&small);
    avatar.SetPosition(&place);
    avatar.SetEmotion("normal");
    avatar.PlayBehavior("walk");
    CKivAvatar shade;
    if (!shade.Create(1, 1, 1) || !KivViewerAddProjectedShadow(&avatar, &shade)) {
        std::fprintf(stderr, "viewer: the avatar casts no projected shadow\n");
    }
    // Group 0's "step" event on the avatar; machines without audio play nothing.
    CKivSoundManager *sound = base->GetSoundManager();
    if (sound) {
        sound->LoadEventGroup(0);
        sound->PlayEventOnObject(0, 4, avatar.GetName());
    }

    base->CreateFonts(kDotum);
    CKivGuiSystem *gui = base->GetGuiSystem();
    CKivGuiDialog *dialog = MakeDialog(gui);

    CKivCamera camera("sample");
    if (!camera.Create(0.2f, 200.0f, 1.1f, base->GetViewport()) || !world.AddCamera(&camera)) {
        std::fprintf(stderr, "viewer: no camera\n");
        return 1;
    }
    world.SetCamera(&camera);
    Blob blob(&avatar, rw, &camera);
    // Above the head: the head's frame stands at the neck.
    if (CKivGuiTooltip *greeting = gui->GetTooltipManager()->AddFollowingTooltip(
            1, 1, avatar.GetName(), "_headShape", 160, kGreeting, 7, 1e6f, 1.0f, 3, -1)) {
        greeting->SetFollowOffset(0, -40);
    }
    base->SetCurrentWorld(&world);
    // The scene script adds a marching figure of its own to the current world.
    SceneScript script;
    if (!script.Run(kKivSampleSceneScript)) {
        std::fprintf(stderr, "viewer: the scene script %s did not run (see Lua.log)\n", kKivSampleSceneScript);
    }

    int status = 0;
    DWORD before = GetTickCount();
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
        // As when the player switches away and back.
        if (options.resetEvery > 0 && frame % options.resetEvery == 0 && !RwD3D9ResetDevice()) {
            std::fprintf(stderr, "viewer: the device reset before frame %d failed\n", frame);
            status = 1;
        }
        // Headless runs step a fixed time so their pictures repeat.
        const DWORD now = GetTickCount();
        const float dt = options.frames > 0 ? 1.0f / 30.0f : static_cast<float>(now - before) / 1000.0f;
        before = now;
        PlaceCamera(RwCameraGetFrame(camera.GetCamera()));
        base->Lock();
        base->Update(dt);
        gui->Update(dt);
        avatar.Update(dt);
        script.Frame(dt);
        base->RenderWorld();
        if (camera.BeginUpdate()) {
            blob.DrawShadows(nullptr);
            camera.EndUpdate();
        }
        gui->Render(dt);
        base->Unlock();
        outcome->frames = frame;
        const bool last = options.frames > 0 && frame >= options.frames;
        if (last && !options.png.empty()) {
            outcome->written = SaveFrame(camera.GetCamera(), options.png.c_str());
        }
        if (!options.pngs.empty()) {
            char name[16];
            std::snprintf(name, sizeof name, "\\%03d.png", frame);
            if (!SaveFrame(camera.GetCamera(), (options.pngs + name).c_str())) {
                std::fprintf(stderr, "viewer: cannot write frame %d into %s\n", frame, options.pngs.c_str());
                status = 1;
            }
        }
        camera.ShowRaster();
        if (last) {
            break;
        }
    }

    script.End();
    base->SetCurrentWorld(nullptr);
    delete dialog;
    world.RemoveCamera(&camera);
    world.RemoveLight(&sun);
    world.RemoveClump(&avatar);

    if (rw) {
        DestroyLight(rw, ambient);
    }
    for (CKivClump *c : clumps) {
        world.RemoveClump(c);
        delete c;
    }
    return status;
}

int RunViewer(int argc, char **argv)
{
    const Options options = Parse(argc, argv);
    if (options.bad) {
        std::fprintf(stderr, "usage: viewer [--frames N [--png FILE] [--pngs FOLDER]] [--reset-every K] "
                             "[--sample FOLDER] [--packed]\n"
                             "       viewer --write-sample FOLDER\n"
                             "--frames N draws N frames (a whole number from 1) and stops; --png FILE writes the "
                             "last of them, --pngs FOLDER every one (FOLDER\\001.png, ...); --reset-every K "
                             "resets the device before every K-th frame\n");
        return 1;
    }
    if (!PrepareSample(options)) {
        std::fprintf(stderr, options.packed ? "viewer: no data.pcl in %s (scripts/pack-sample.sh makes it)\n"
                                            : "viewer: cannot use the folder %s\n",
                     options.sample.c_str());
        return 1;
    }
    HWND window = CreateViewerWindow();
    CKivBase *base = new CKivBase;
    int status = 1;
    Outcome outcome;
    if (window && base->Init(window, GetModuleHandleA(nullptr), kWidth, kHeight, "kiv sample", options.packed, 0)) {
        // --write-sample: the tree alone, for the pack tool to make the packed form from;
        // the engine reads the scripts from the pack compiled.
        status = options.writeOnly ? (WriteSample(options) && KivViewerCompileScripts(".") ? 0 : 1)
                                   : Run(options, base, &outcome);
    } else {
        std::fprintf(stderr, "viewer: the engine did not start\n");
    }
    base->Shutdown();
    delete base;
    if (options.writeOnly) {
        // The engine's own logs are no part of the tree.
        for (const char *log : {"Texture.txt", "Object.txt", "Lua.log"}) {
            DeleteFileA(log);
        }
    }
    if (IsWindow(window)) {
        DestroyWindow(window);
    }
    // A counted run ends by saying what it drew and where the picture went.
    if (options.frames > 0 && !options.writeOnly && status == 0) {
        if (outcome.frames < options.frames) {
            std::fprintf(stderr, "viewer: stopped after %d of %d frames%s\n", outcome.frames, options.frames,
                         options.png.empty() ? "" : "; no picture written");
            status = options.png.empty() ? 0 : 1;
        } else if (options.png.empty()) {
            std::printf("viewer: drew %d frames (--png FILE writes the last)\n", outcome.frames);
        } else if (outcome.written) {
            std::printf("viewer: drew %d frames; the last is in %s\n", outcome.frames, options.pngAsGiven.c_str());
        } else {
            std::fprintf(stderr, "viewer: drew %d frames but could not write the last to %s\n", outcome.frames,
                         options.pngAsGiven.c_str());
            status = 1;
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace

// Under Wine a program that returns from main loses its server connection
// before the Unix libraries' exit handlers run (the GL driver joins its
// threads there), and the server kills a process that takes long over that on
// a busy machine, so the shell sees a killed run instead of its status. The
// engine is shut down by now: the C runtime's exit work runs, the streams still
// open are flushed (Wine's runtime does that only when it is unloaded, which
// TerminateProcess skips), then the process ends itself with its status.
int main(int argc, char **argv)
{
    const int status = RunViewer(argc, argv);
    _cexit();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    return status;
}
