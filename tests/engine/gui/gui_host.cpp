// The GUI tests' host: window procedure into the GUI system, engine root, skins, frames read back.
#include "gui_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/CKivCamera.h"
#include "gfx/core/camera.h"
#include "gfx/d3d9/d3d9device.h"
#include "backbuffer.h"

const char GuiDotum[] = "\xB5\xB8\xBF\xF2";
std::function<bool(const MSG &)> KeyFilter;

namespace {

LRESULT CALLBACK GuiWindowProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (gui && gui->MsgProc(window, message, w, l))
        return 0;
    return DefWindowProcW(window, message, w, l);
}

// A Unicode window, so the edit boxes get UTF-16 characters.
HWND CreateGuiWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = GuiWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KivGuiMessages";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"gui test", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    return window;
}

void Skins()
{
    const std::string tip = "Data/Interface/Tooltip/";
    const char *const files[] = {"upleft",   "uppattern", "upright",   "leftpattern",   "pattern",       "rightpattern",
                                 "downleft", "downpattern", "downright", "downarrow", "downleftarrow", "rightdownarrow"};
    // Kind 1: 8x8 blue tiles, 20x12 arrows of a lighter blue. Kinds 3, 4 and
    // 5 likewise in other colours. Kind 2 lacks its corner piece.
    for (const char *file : files) {
        const bool arrow = std::strstr(file, "arrow") != nullptr;
        const int w = arrow ? 20 : 8, h = arrow ? 12 : 8;
        WriteGuiPng(tip + "tooltip-" + file, w, h, {0, static_cast<unsigned char>(arrow ? 100 : 0), 200, 255});
        WriteGuiPng(tip + "notice-" + file, w, h, {0, 160, 0, 255});
        WriteGuiPng(tip + "notice2-" + file, w, h, {120, 60, 0, 255});
        WriteGuiPng(tip + "bchat-" + file + "b", w, h, {200, 200, 0, 255});
        if (std::strcmp(file, "upleft") != 0)
            WriteGuiPng(tip + "tballoon-" + file, w, h, {160, 0, 160, 255});
    }
    WriteGuiPng(tip + "ifriend", 10, 10, {255, 0, 0, 255});
    WriteGuiPng(tip + "notice-click", 6, 6, {0, 255, 255, 255});
    WriteGuiPng(tip + "notice2-click", 6, 6, {255, 128, 128, 255});
    WriteGuiPng(tip + "inotice2", 10, 10, {128, 0, 255, 255});
    WriteGuiPng(tip + "blackbar", 4, 4, {0, 0, 0, 255});
    // The chat scroll bar: 14-pixel arrows, an 86-pixel thumb with 3-pixel caps.
    const std::string chat = "Data/Interface/Chat/Multichat/mcscroll_";
    for (int s = 0; s < 3; s++) {
        const unsigned char v = static_cast<unsigned char>(100 + 70 * s);
        const std::string n = std::to_string(s);
        WriteGuiPng(chat + "up" + n, 14, 14, {v, 0, 0, 255});
        WriteGuiPng(chat + "down" + n, 14, 14, {0, 0, v, 255});
        WriteGuiPng(chat + "scroll" + n + "_1", 14, 86, {0, v, 0, 255});
        WriteGuiPng(chat + "scroll" + n + "_0", 14, 3, {255, 255, 255, 255});
        WriteGuiPng(chat + "scroll" + n + "_2", 14, 3, {255, 255, 255, 255});
    }
    // Plain images, button elements 1..4, edit-box skins and the IME panel.
    WriteGuiPng("guitest/red", 100, 50, {255, 0, 0, 255});
    WriteGuiPng("guitest/white", 200, 100, {255, 255, 255, 255});
    WriteGuiPng("guitest/blue", 10, 10, {0, 0, 255, 255});
    WriteGuiPng("guitest/tall", 10, 40, {0, 255, 0, 255});
    WriteGuiPng("guitest/odd", 102, 50, {255, 255, 255, 255});
    const RwRGBA elements[4] = {{200, 0, 0, 255}, {0, 200, 0, 255}, {0, 0, 200, 255}, {200, 200, 0, 255}};
    for (int i = 0; i < 4; i++)
        WriteGuiPng("guitest/element" + std::to_string(i + 1), 40, 20, elements[i]);
    WriteGuiPng("skin/back", 400, 20, {255, 255, 255, 255});
    WriteGuiPng("skin/caret", 2, 13, {0, 0, 255, 255});
    WriteGuiPng("skin/select", 15, 13, {0, 255, 0, 255});
    const std::string ime = "Data/Interface/Chat/ime/ime_";
    WriteGuiPng(ime + "outline", 10, 10, {255, 0, 255, 255});
    WriteGuiPng(ime + "fill", 10, 10, {255, 255, 0, 255});
    WriteGuiPng(ime + "focus1", 10, 10, {0, 255, 255, 255});
    WriteGuiPng(ime + "focus2", 1, 10, {255, 128, 0, 255});
}

const auto *const Host = ::testing::AddGlobalTestEnvironment(new GuiHost);

} // namespace

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && KeyFilter && KeyFilter(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void GuiHost::SetUp()
{
    // A second process of the edit-box program only reads the clipboard.
    if (std::getenv("KIV_CLIPBOARD_EXPECT"))
        return;
    // The GUI test programs run side by side: each writes its images in a
    // folder of its own.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    name = name.substr(name.find_last_of("\\/") + 1);
    name = "run_" + name.substr(0, name.find('.'));
    CreateDirectoryA(name.c_str(), nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(name.c_str()));
    window = CreateGuiWindow();
    ASSERT_NE(window, nullptr);
    base = new CKivBase;
    ASSERT_EQ(base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "gui test", 0, 0), 1);
    Skins();
    base->CreateFonts(GuiDotum);
}

void GuiHost::TearDown()
{
    if (!base)
        return;
    base->Shutdown();
    delete base;
    DestroyWindow(window);
}

CKivGuiDialog *GuiFrame::NewDialog(int id, int x, int y, int w, int h)
{
    CKivGuiDialog *d = new CKivGuiDialog(id);
    d->SetLocation(x, y);
    d->SetSize(w, h);
    gui()->AddDialog(d);
    dialogs.push_back(d);
    return d;
}

void GuiFrame::TearDown()
{
    for (CKivGuiDialog *d : dialogs)
        delete d;
    dialogs.clear();
    gui()->SetActiveDialog(nullptr);
}

void GuiFrame::Frame(float elapsed)
{
    FrameWith([this, elapsed] { gui()->Render(elapsed); });
}

void GuiFrame::FrameWith(const std::function<void()> &draw)
{
    RwCamera *camera = GuiHost::base->GetDefaultCamera()->GetCamera();
    RwRGBA black = {0, 0, 0, 255};
    RwCameraClear(camera, &black, rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
    GuiHost::base->Lock();
    draw();
    GuiHost::base->Unlock();
    pixels = CopyBackBuffer(rwD3D9Driver.device);
    ASSERT_EQ(pixels.size(), 1024u * 768u);
}

RECT GuiFrame::Box(DWORD colour, int tolerance, RECT region) const
{
    RECT box = {1 << 30, 1 << 30, -1, -1};
    for (int y = region.top; y < region.bottom; y++)
        for (int x = region.left; x < region.right; x++) {
            const DWORD p = Pixel(x, y);
            bool match = true;
            for (int c = 0; c < 24 && match; c += 8)
                match = std::abs(int((p >> c) & 0xFF) - int((colour >> c) & 0xFF)) <= tolerance;
            if (match)
                box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x + 1),
                       std::max<LONG>(box.bottom, y + 1)};
        }
    return box;
}

LRESULT GuiFrame::Send(UINT message, int x, int y, WPARAM wParam)
{
    return SendMessageA(GuiHost::window, message, wParam, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
}

std::string RectText(const RECT &r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}
