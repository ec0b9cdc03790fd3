// The engine sample: the game's 1024x768 popup window, the engine root on the sample tree, a world and models to orbit.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>
#include <process.h>
#include <string>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/d3d9/d3d9standard.h"
#include "compiledscripts.h"
#include "samplescene.h"
#include "sample/sample_files.h"

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/gui/CKivGuiSystem.h"

namespace {

const int kWidth = 1024;
const int kHeight = 768;

// The viewer's orbit: dragged with the left button, zoomed with the wheel.
struct Orbit : KivOrbit {
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

std::string ExeFolder(void)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/") + 1);
}

// Text for the user: a console shows it through WriteConsoleW; any other
// output (a pipe, a file: the Unix side under Wine) gets UTF-8, as a Unix
// reader expects, not the code page's raw bytes.
void SayWide(FILE *stream, const std::wstring &wide)
{
    const int wideLength = static_cast<int>(wide.size());
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode) && WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wideLength), &written, nullptr))
        return;
    std::string utf8(static_cast<size_t>(wideLength) * 3 + 1, '\0');
    const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0],
                                               static_cast<int>(utf8.size()), nullptr, nullptr);
    std::fwrite(utf8.data(), 1, static_cast<size_t>(utf8Length), stream);
    std::fflush(stream);
}

// A message of the viewer's: its paths come from the command line in the
// system code page.
void Say(FILE *stream, const char *format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0)
        return;
    const int length = n < static_cast<int>(sizeof text) ? n : static_cast<int>(sizeof text) - 1;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text, length, &wide[0], length)));
    SayWide(stream, wide);
}

// The first argument the system code page cannot hold, as it was given; ""
// when none. The arguments reach main in that code page, where a letter it
// lacks turns into a look-alike or '?': "café" would name the folder "cafe",
// another folder than the one asked for.
std::wstring OutsideCodePage(void)
{
    int count = 0;
    LPWSTR *arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring outside;
    for (int i = 1; arguments && i < count && outside.empty(); i++) {
        BOOL lossy = FALSE;
        if (!WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, arguments[i], -1, nullptr, 0, nullptr, &lossy) || lossy)
            outside = arguments[i];
    }
    LocalFree(arguments);
    return outside;
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
    std::string pngsAsGiven;
    int resetEvery = 0;   // the device is reset before every this many frames
    std::string sample;
    std::string sampleAsGiven;
    bool sampleIsBuilds = false;   // the build's own folder beside the program, not named by the caller
    int packed = 0;   // 1: reads go through "data.pcl" in the folder
    bool writeOnly = false;   // write the sample tree into the folder and stop
    bool checkOnly = false;   // only say whether the arguments are accepted
    bool bad = false;   // an argument the sample does not know
    std::string why;    // the first thing refused, for the usage message
};

// The first refusal is the one reported: later ones often follow from it.
void Refuse(Options *o, const std::string &why)
{
    if (!o->bad)
        o->why = why;
    o->bad = true;
}

// A whole number from 1, in digits alone (no sign or space, which strtol
// would pass over); 0 for anything else.
int Count(const char *text)
{
    if (*text < '0' || *text > '9')
        return 0;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    return *end || errno == ERANGE || n < 1 || n > INT_MAX ? 0 : static_cast<int>(n);
}

// A count's value: a whole number from 1, or the refusal naming the argument.
int CountOf(Options *o, const std::string &name, const char *text)
{
    const int n = Count(text);
    if (n == 0)
        Refuse(o, name + " needs a whole number from 1, not '" + text + "'");
    return n;
}

Options Parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool valued = a == "--frames" || a == "--reset-every" || a == "--pngs" || a == "--png" ||
                            a == "--sample" || a == "--write-sample";
        // An empty value (an unset shell variable, most often) is no value:
        // taken as one, it would drop the default and write nowhere.
        if (valued && (i + 1 >= argc || !*argv[i + 1])) {
            Refuse(&o, a + " needs a value");
            i++;
        } else if (a == "--frames") {
            // A count the run reaches: anything else would draw until Escape,
            // on a display nobody may see.
            o.frames = CountOf(&o, a, argv[++i]);
        } else if (a == "--reset-every") {
            o.resetEvery = CountOf(&o, a, argv[++i]);
        } else if (a == "--pngs") {
            o.pngsAsGiven = argv[++i];
            o.pngs = FullPath(o.pngsAsGiven);
        } else if (a == "--png") {
            o.pngAsGiven = argv[++i];
            o.png = FullPath(o.pngAsGiven);
        } else if (a == "--packed") {
            o.packed = 1;
        } else if (a == "--check") {
            o.checkOnly = true;
        } else if (a == "--sample" || a == "--write-sample") {
            o.writeOnly = o.writeOnly || a == "--write-sample";
            o.sampleAsGiven = argv[++i];
            o.sample = FullPath(o.sampleAsGiven);
        } else {
            Refuse(&o, "unknown argument '" + a + "'");
        }
    }
    // The packed tree has a folder of its own, so that nothing is read from loose files by mistake.
    if (o.sample.empty()) {
        o.sample = ExeFolder() + (o.packed ? "packed" : "sample");
        o.sampleAsGiven = o.sample;
        o.sampleIsBuilds = true;
    }
    if (o.packed && o.writeOnly)
        Refuse(&o, "--write-sample writes loose files, which --packed does not read");
    if (o.writeOnly && (o.frames || o.resetEvery || !o.png.empty() || !o.pngs.empty()))
        Refuse(&o, "--write-sample only writes the tree; --frames, --png, --pngs and --reset-every are for drawing");
    // The picture is the last of a counted run: an endless one never writes it.
    if (!o.writeOnly && (!o.png.empty() || !o.pngs.empty()) && o.frames == 0)
        Refuse(&o, std::string(o.png.empty() ? "--pngs" : "--png") + " needs --frames N");
    return o;
}

bool IsFolder(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// What the viewer leaves in every sample folder it writes, first thing: a
// folder holding it is one the viewer made and may write into again. Any
// other folder with something in it is the user's, whose files the tree and
// the engine's logs would overwrite. scripts/pack-sample.sh marks the packed
// folders it makes with the same line.
const char kSampleMark[] = ".kiv-sample";
const char kSampleMarkText[] = "kiv sample folder: written by the viewer, which may write into it again\n";

bool HoldsMark(const std::string &folder)
{
    FILE *f = std::fopen((folder + "\\" + kSampleMark).c_str(), "rb");
    if (!f)
        return false;
    char text[sizeof kSampleMarkText + 1];
    const size_t n = std::fread(text, 1, sizeof text, f);
    std::fclose(f);
    return n == sizeof kSampleMarkText - 1 && std::memcmp(text, kSampleMarkText, n) == 0;
}

bool IsEmptyFolder(const std::string &folder)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool empty;
    do {
        empty = std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0;
    } while (empty && FindNextFileA(find, &found));
    FindClose(find);
    return empty;
}

// Whether the sample may go into the folder: the build's own, one that is not
// there yet, an empty one, or one holding the mark. A file in its place is
// left to fail as a folder the viewer cannot use.
bool IsViewersFolder(const Options &options)
{
    const std::string &folder = options.sample;
    return options.sampleIsBuilds || !IsFolder(folder) || HoldsMark(folder) || IsEmptyFolder(folder);
}

std::string NotTheViewers(const std::string &folder)
{
    return "the folder " + folder + " holds files that are not the viewer's; the sample goes only into a new or "
           "empty folder, or one the viewer wrote it into before: name another";
}

// The engine root reads the folder as the game reads its own: loose files,
// written there on the first run, or the "data.pcl" packed from them, opened
// here first so that a damaged archive is named as such and not as the first
// file the scene misses in it. Returns what is wrong ("" when nothing).
std::string PrepareSample(const Options &options)
{
    const std::string folder = options.sampleAsGiven;
    if (options.packed) {
        if (!SetCurrentDirectoryA(options.sample.c_str()) || GetFileAttributesA("data.pcl") == INVALID_FILE_ATTRIBUTES)
            return "no data.pcl in " + folder + " (scripts/pack-sample.sh makes it)";
        CParcel parcel;
        const BOOL opened = parcel.Open(1, "data.pcl", 2, 0x2800);
        parcel.Close();
        if (!opened)
            return "data.pcl in " + folder + " is not an archive the engine can read; scripts/pack-sample.sh makes it anew";
        // The engine writes its logs beside the archive.
        return IsViewersFolder(options) ? "" : NotTheViewers(folder);
    }
    if (!IsViewersFolder(options))
        return NotTheViewers(folder);
    CreateDirectoryA(options.sample.c_str(), nullptr);
    return SetCurrentDirectoryA(options.sample.c_str()) && KivSampleWrite(kSampleMark, std::string(kSampleMarkText)) &&
                   KivSampleWriteTooltipSkin()
               ? ""
               : "cannot use the folder " + folder;
}

// What a headless run did: the frames drawn, whether the last was written,
// and the first frame --pngs could not write (0: none).
struct Outcome {
    int frames = 0;
    bool written = false;
    int unwritten = 0;
};

int Run(const Options &options, CKivBase *base, Outcome *outcome)
{
    if (!options.packed && !KivSampleWriteTree(options.sample.c_str())) {
        return 1;
    }
    KivSampleScene scene(base);
    if (!scene.Build()) {
        return 1;
    }
    RwCamera *camera = scene.Camera();

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
        KivPlaceCamera(RwCameraGetFrame(camera), orbit);
        scene.Draw(dt);
        outcome->frames = frame;
        const bool last = options.frames > 0 && frame >= options.frames;
        if (last && !options.png.empty()) {
            outcome->written = SaveFrame(camera, options.png.c_str());
        }
        // After a frame that could not be written the rest would fail alike: said once, at the end.
        if (!options.pngs.empty() && !outcome->unwritten) {
            char name[16];
            std::snprintf(name, sizeof name, "\\%03d.png", frame);
            if (!SaveFrame(camera, (options.pngs + name).c_str())) {
                outcome->unwritten = frame;
            }
        }
        scene.Show();
        if (last) {
            break;
        }
    }
    return status;
}

const char *Plural(int count)
{
    return count == 1 ? "" : "s";
}

int RunViewer(int argc, char **argv)
{
    const std::wstring outside = OutsideCodePage();
    if (!outside.empty()) {
        SayWide(stderr, L"viewer: '" + outside + L"' has letters the system code page (" + std::to_wstring(GetACP()) +
                            L") cannot hold; name files and folders without them\n");
        return 1;
    }
    const Options options = Parse(argc, argv);
    if (options.bad) {
        Say(stderr, "viewer: %s\n", options.why.c_str());
        std::fprintf(stderr, "usage: viewer [--frames N [--png FILE] [--pngs FOLDER]] [--reset-every K] "
                             "[--sample FOLDER] [--packed]\n"
                             "       viewer --write-sample FOLDER\n"
                             "       viewer --check ARGUMENT... (only says whether they are accepted)\n"
                             "--frames N draws N frames (a whole number from 1) and stops; --png FILE writes the "
                             "last of them, --pngs FOLDER every one (FOLDER\\001.png, ...); --reset-every K "
                             "resets the device before every K-th frame\n");
        return 1;
    }
    if (options.checkOnly)
        return 0;
    // Frames are written into a folder that is there: a missing one would fail every frame.
    if (!options.pngs.empty() && !IsFolder(options.pngs)) {
        Say(stderr, "viewer: there is no folder %s for --pngs; make it first\n", options.pngsAsGiven.c_str());
        return 1;
    }
    const std::string unusable = PrepareSample(options);
    if (!unusable.empty()) {
        Say(stderr, "viewer: %s\n", unusable.c_str());
        return 1;
    }
    // The engine's logs go into the sample folder; --write-sample removes
    // those this run made, the tree's being the sample's files alone.
    const char *const logs[] = {"Texture.txt", "Object.txt", "Lua.log"};
    bool logged[3] = {};
    for (int i = 0; i < 3; i++)
        logged[i] = GetFileAttributesA(logs[i]) != INVALID_FILE_ATTRIBUTES;
    HWND window = CreateViewerWindow();
    CKivBase *base = new CKivBase;
    int status = 1;
    Outcome outcome;
    if (window && base->Init(window, GetModuleHandleA(nullptr), kWidth, kHeight, "kiv sample", options.packed, 0)) {
        // --write-sample: the tree alone, for the pack tool to make the packed form from;
        // the engine reads the scripts from the pack compiled.
        status = options.writeOnly ? (KivSampleWriteTree(options.sample.c_str()) && KivViewerCompileScripts(".") ? 0 : 1)
                                   : Run(options, base, &outcome);
    } else if (!window) {
        const char *display = std::getenv("DISPLAY");
        Say(stderr, "viewer: no window could be opened on the display %s; start the display or, without "
                    "DISPLAY set, let scripts/run.sh start a virtual one\n",
            display && *display ? display : "(DISPLAY is not set)");
    } else {
        // Every step of the engine's start before the archive is the graphics
        // library's and the device's: the sample tree is read only later.
        Say(stderr, "viewer: the graphics engine did not start on this window: no Direct3D 9 device could be made "
                    "on the display (its OpenGL, GLX on a virtual one, is what Wine's Direct3D draws with); "
                    "ctest -R infra_d3d9 in the build folder shows what the device lacks\n");
    }
    base->Shutdown();
    delete base;
    for (int i = 0; i < 3 && options.writeOnly; i++) {
        if (!logged[i])
            DeleteFileA(logs[i]);
    }
    if (IsWindow(window)) {
        DestroyWindow(window);
    }
    if (options.writeOnly && status == 0) {
        Say(stdout, "viewer: wrote the sample tree into %s\n", options.sampleAsGiven.c_str());
    }
    if (outcome.unwritten) {
        Say(stderr, "viewer: could not write frame %d into %s; no later frame was written\n", outcome.unwritten,
                     options.pngsAsGiven.c_str());
        status = 1;
    } else if (!options.pngs.empty() && status == 0 && outcome.frames > 0) {
        Say(stdout, "viewer: wrote frames 1 to %d into %s\n", outcome.frames, options.pngsAsGiven.c_str());
    }
    // A counted run ends by saying what it drew and where the picture went.
    if (options.frames > 0 && !options.writeOnly && status == 0) {
        if (outcome.frames < options.frames) {
            Say(stderr, "viewer: stopped after %d of %d frames%s\n", outcome.frames, options.frames,
                         options.png.empty() ? "" : "; no picture written");
            status = options.png.empty() ? 0 : 1;
        } else if (options.png.empty()) {
            Say(stdout, "viewer: drew %d frame%s (--png FILE writes the last)\n", outcome.frames, Plural(outcome.frames));
        } else if (outcome.written) {
            Say(stdout, "viewer: drew %d frame%s; the last is in %s\n", outcome.frames, Plural(outcome.frames),
                options.pngAsGiven.c_str());
        } else {
            Say(stderr, "viewer: drew %d frame%s but could not write the last to %s\n", outcome.frames,
                Plural(outcome.frames), options.pngAsGiven.c_str());
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
