// The GUI on the engine root's 1024x768 window: sprites from test-written PNGs placed, scaled, tinted
// and faded; the image cache; a dialog drawn under the render lock and read back; Korean through the
// fallback font; real window messages; device resets reaching the fonts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiControl.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivSprite.h"
#include "gfx/core/camera.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/d3d9/d3d9window.h"
#include "gfx/plugins/toolkit2d/toolkit2d.h"
#include "backbuffer.h"
#include "gui_png.h"
#include "recording_font.h"

namespace {

const char Folder[] = "guitest/";
const char Dotum[] = "\xB5\xB8\xBF\xF2";

void WritePng(const char *name, int w, int h, RwRGBA colour)
{
    WriteGuiPng(std::string(Folder) + name, w, h, colour);
}

class Engine : public ::testing::Environment {
public:
    void SetUp() override
    {
        window = KivTestCreateWindow(1024, 768, "KivGuiHost");
        base = new CKivBase;
        ASSERT_EQ(base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "gui test", 0, 0), 1);
        base->CreateFonts(Dotum);
        CreateDirectoryA("guitest", nullptr);
        WritePng("red", 100, 50, {255, 0, 0, 255});
        WritePng("white", 200, 100, {255, 255, 255, 255});
        WritePng("blue", 10, 10, {0, 0, 255, 255});
        WritePng("tall", 10, 40, {0, 255, 0, 255});
        WritePng("odd", 102, 50, {255, 255, 255, 255});
    }
    void TearDown() override
    {
        base->Shutdown();
        delete base;
        DestroyWindow(window);
    }
    static inline CKivBase *base;
    static inline HWND window;
};
const auto *const Host = ::testing::AddGlobalTestEnvironment(new Engine);

class Gui : public ::testing::Test {
protected:
    CKivGuiSystem *gui() { return Engine::base->GetGuiSystem(); }
    RwCamera *camera() { return Engine::base->GetDefaultCamera()->GetCamera(); }

    // Clears to black, draws, and keeps the back buffer.
    template <typename Draw> void Frame(Draw draw)
    {
        RwRGBA black = {0, 0, 0, 255};
        RwCameraClear(camera(), &black, rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
        draw();
        pixels = CopyBackBuffer(rwD3D9Driver.device);
        ASSERT_EQ(pixels.size(), 1024u * 768u);
    }
    // Draws one sprite through the default camera.
    void FrameOf(CKivGuiSprite &sprite)
    {
        Frame([&] {
            ASSERT_NE(RwCameraBeginUpdate(camera()), nullptr);
            sprite.Render();
            RwCameraEndUpdate(camera());
        });
    }
    DWORD Pixel(int x, int y) const { return pixels[y * 1024 + x] & 0xFFFFFF; }
    // The box of pixels of this colour, within a tolerance per channel.
    RECT Box(DWORD colour, int tolerance = 8) const
    {
        RECT box = {1 << 30, 1 << 30, -1, -1};
        for (int y = 0; y < 768; y++)
            for (int x = 0; x < 1024; x++) {
                DWORD p = Pixel(x, y);
                bool match = true;
                for (int c = 0; c < 24; c += 8)
                    match = match && std::abs(int((p >> c) & 0xFF) - int((colour >> c) & 0xFF)) <= tolerance;
                if (match) {
                    box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x + 1),
                           std::max<LONG>(box.bottom, y + 1)};
                }
            }
        return box;
    }
    static const RwMatrix *Matrix(CKivGuiSprite &s) { return Rw2dObjectGetMatrix(s.GetShape()); }
    std::vector<DWORD> pixels;
};

std::string Str(const RECT &r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST_F(Gui, SpritesArePlacedScaledTintedAndFaded)
{
    CKivGuiSprite sprite;
    ASSERT_EQ(sprite.Load("red", Folder), 1);
    EXPECT_EQ(sprite.GetWidth(), 100);
    EXPECT_EQ(sprite.GetHeight(), 50);
    EXPECT_STREQ(sprite.GetPath(), "guitest/red");
    sprite.SetPositionInt(10, 20, 0);
    EXPECT_FLOAT_EQ(Matrix(sprite)->pos.x, 9.5f);
    EXPECT_FLOAT_EQ(Matrix(sprite)->pos.y, 697.5f);
    FrameOf(sprite);
    // 2D y 697.5..747.5 up from the bottom edge: the half pixel taken off y
    // puts the image one row below y (rows 21..70), x is exact.
    EXPECT_EQ(Str(Box(0xFF0000)), "10,21,110,71");

    const float twice[2] = {2, 2};
    sprite.SetScaleCentered(twice);
    EXPECT_FLOAT_EQ(Matrix(sprite)->pos.x, -40.5f);
    EXPECT_FLOAT_EQ(Matrix(sprite)->pos.y, 672.5f);

    sprite.SetPositionInt(300, 300, 0);
    sprite.SetScale();
    sprite.SetColor(0, 1, 1);
    FrameOf(sprite);
    EXPECT_EQ(Box(0xFF0000).right, -1) << "red times (0, 1, 1) is black";
    sprite.SetColor(1, 1, 1);
    sprite.SetAlpha(0.5f);
    FrameOf(sprite);
    EXPECT_NEAR(int(Pixel(350, 320) >> 16), 128, 3) << "half red over black";
    sprite.SetAlpha(7.0f);
    FrameOf(sprite);
    EXPECT_EQ(Pixel(350, 320), 0xFF0000u) << "alpha is clamped, not wrapped";

    CKivSprite set;
    ASSERT_EQ(set.AddSprite("red", Folder, "r", 10, 20), 1);
    EXPECT_EQ(set.AddSprite("red", Folder, "r", 0, 0), 0);
    EXPECT_EQ(set.AddSprite("none", Folder, "n", 0, 0), 0);
    EXPECT_EQ(set.HasSprite("n"), 0);
    EXPECT_FLOAT_EQ(Rw2dObjectGetMatrix(set.GetSprite("r")->GetShape())->pos.x, 9.5f);
    EXPECT_FLOAT_EQ(Rw2dObjectGetMatrix(set.GetSprite("r")->GetShape())->pos.y, 19.5f);
    EXPECT_EQ(set.GetSpriteWidth("none"), 0.0f);
    Frame([&] { set.RenderSprite("r"); });
    EXPECT_EQ(Box(0xFF0000).right, -1) << "no camera, nothing drawn";
    set.SetCamera(camera());
    set.SetSpriteScale("r", 2, 1);
    Frame([&] { set.RenderSprite("r"); });
    EXPECT_EQ(Str(Box(0xFF0000)), "10,699,210,749");
}

TEST_F(Gui, ImageScaleKeepsWidthsMultiplesOfTheScale)
{
    // Interface images decode reduced: 102x50 -> 81x40, 100x50 -> 80x40.
    Engine::base->SetImageQuality(1);
    CKivGuiSprite odd, red;
    ASSERT_EQ(odd.Load("odd", Folder), 1);
    ASSERT_EQ(red.Load("red", Folder), 1);
    EXPECT_FLOAT_EQ(odd.GetWidth(), 80.8f);
    EXPECT_FLOAT_EQ(red.GetWidth(), 80.0f);
    EXPECT_FLOAT_EQ(red.GetHeight(), 40.0f);
    red.SetPositionInt(0, 100, 1);
    EXPECT_FLOAT_EQ(Matrix(red)->pos.y, 768 - (40 + 100) - 10 - 0.5f) << "the top edge at y, drawn 50 tall";
    FrameOf(red);
    EXPECT_EQ(Str(Box(0xFF0000)), "0,101,100,151");
    red.SetPositionInt(0, 100, 0);
    FrameOf(red);
    Engine::base->SetImageQuality(0);
    EXPECT_EQ(Str(Box(0xFF0000)), "0,91,100,141") << "without the fix it reaches 10 rows higher";
}

// A control that draws its element 1 (or an animation of 2..).
class Element : public CKivGuiControl {
public:
    using CKivGuiControl::CKivGuiControl;
    void Render(float, int) override { DrawElement(1, 0, 0); }
};

struct Drawn {
    static inline RECT rect = {320, 420, 480, 440};
    static void Korean(int dialog)
    {
        reinterpret_cast<CKivGuiDialog *>(dialog)->DrawText("\xC7\xD1\xB1\xDB \xC5\xD7\xBD\xBA\xC6\xAE", &rect,
                                                            nullptr, DT_LEFT | DT_TOP);
    }
};

TEST_F(Gui, DialogDrawsBackgroundElementsAndKoreanUnderTheRenderLock)
{
    CKivGuiDialog *d = new CKivGuiDialog(40);
    d->SetLocation(300, 400);
    d->SetSize(200, 100);
    gui()->AddDialog(d);
    d->SetBackgroundImage("guitest/white");
    Element *stretched = new Element(d);
    stretched->Create(1, 10, 50, 50, 70, "");
    stretched->LoadElement(1, "guitest/Blue");
    stretched->SetStretch(1);
    Element *tall = new Element(d);
    tall->Create(2, 100, 60, 140, 80, "");
    tall->LoadElement(1, "guitest/tall");
    d->SetRenderCallback(Drawn::Korean, static_cast<int>(reinterpret_cast<INT_PTR>(d)));
    EXPECT_EQ(gui()->FindImageEntry("GUITEST/BLUE")->count, 1);

    Frame([&] {
        Engine::base->Lock();
        gui()->Render(0.016f);
        Engine::base->Unlock();
    });
    RECT white = Box(0xFFFFFF);
    EXPECT_EQ(Str(white), "300,401,500,501");
    EXPECT_EQ(Str(Box(0x0000FF)), "310,451,350,471") << "10x10 stretched by (4, 2)";
    EXPECT_EQ(Str(Box(0x00FF00)), "400,441,410,481") << "bottom edges aligned, taller than the control";
    int dark = 0;
    for (int y = Drawn::rect.top; y < Drawn::rect.bottom; y++)
        for (int x = Drawn::rect.left; x < Drawn::rect.right; x++)
            dark += (Pixel(x, y) & 0xFF) < 200;
    EXPECT_GT(dark, 30) << "black Korean glyphs on the white background";

    d->SetEnabled(0);
    Frame([&] { gui()->Render(0); });
    EXPECT_NEAR(int(Pixel(320, 460) >> 16), 128, 3) << "a disabled control draws at alpha 0.5";
    gui()->RemoveDialog(d);
    delete d;
    EXPECT_EQ(gui()->FindImageEntry("guitest/blue"), nullptr);
    EXPECT_EQ(gui()->FindImageEntry("guitest/white"), nullptr);
}

TEST_F(Gui, ADialogShownAgainIsDrawnLast)
{
    CKivGuiDialog *under = new CKivGuiDialog(50), *over = new CKivGuiDialog(51);
    under->SetLocation(600, 100);
    over->SetLocation(650, 120);
    gui()->AddDialog(under);
    gui()->AddDialog(over);
    under->SetBackgroundImage("guitest/white");
    over->SetBackgroundImage("guitest/red");
    const std::wstring longText(3000, L'\xD55C');
    RECT r = {600, 300, 800, 320};
    Frame([&] {
        Engine::base->Lock();
        gui()->Render(0);
        RwCameraBeginUpdate(camera());
        EXPECT_EQ(under->DrawTextW(longText.c_str(), &r, "DefaultFont2", DT_LEFT | DT_SINGLELINE), 1);
        RwCameraEndUpdate(camera());
        Engine::base->Unlock();
    });
    EXPECT_EQ(Pixel(700, 150), 0xFF0000u);
    under->SetVisible(1);
    Frame([&] { gui()->Render(0); });
    EXPECT_EQ(Pixel(700, 150), 0xFFFFFFu);
    delete under;
    delete over;
    EXPECT_FALSE(gui()->IsRegistered(over));
}

struct Boxes {
    static inline int shown;
    static int WINAPI Count(HWND, const char *, const char *, UINT)
    {
        shown++;
        return IDOK;
    }
};

TEST_F(Gui, CacheSharesByCaseAndReportsAMissingImageOnce)
{
    auto *first = gui()->LoadImage(1, "guitest/Red", "red", Folder);
    auto *second = gui()->LoadImage(1, "GUITEST/red", "red", Folder);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->count, 2);
    gui()->ReleaseImage("guitest/red");
    EXPECT_NE(gui()->FindImage("guitest/RED"), nullptr);
    gui()->ReleaseImage("guitest/red");
    EXPECT_EQ(gui()->FindImage("guitest/red"), nullptr);

    Boxes::shown = 0;
    CKivGuiSystem::SetMessageBoxBinding(Boxes::Count);
    std::string longName(300, 'm');
    auto *broken = gui()->LoadImage(9, "guitest/missing", longName.c_str(), Folder);
    gui()->LoadImage(9, "guitest/Missing", longName.c_str(), Folder);
    CKivGuiSystem::SetMessageBoxBinding(nullptr);
    EXPECT_EQ(Boxes::shown, 1);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    ASSERT_NE(broken, nullptr);
    EXPECT_FALSE(broken->sprite->IsLoaded());
    broken->sprite->SetPositionInt(1, 1, 1);
    broken->sprite->SetAlpha(0.5f);
    FrameOf(*broken->sprite);
    gui()->ReleaseImage("guitest/missing");
    gui()->ReleaseImage("guitest/missing");
    EXPECT_EQ(gui()->FindImageEntry("guitest/missing"), nullptr);

    CKivGuiResourceManager &resources = gui()->GetResourceManager();
    EXPECT_EQ(resources.AddImage("red", Folder, "img"), 1);
    EXPECT_EQ(resources.ReleaseRef("img"), 0);
    EXPECT_EQ(resources.AddImage("red", Folder, "img"), 0) << "a count released to 0 is still registered";
    EXPECT_EQ(resources.AddImage("none", Folder, "gone"), 0);
    EXPECT_EQ(resources.HasResource("gone"), 0);
    EXPECT_EQ(resources.AddScene("scene"), 1);
    EXPECT_EQ(resources.AddScene("scene"), 0);
    int type = 0;
    auto *scene = static_cast<CKivGuiSprite *>(resources.GetResource("scene", &type));
    auto *image = static_cast<CKivGuiSprite *>(resources.GetResource("img", &type));
    EXPECT_EQ(type, CKivGuiResourceManager::kSprite);
    EXPECT_EQ(scene->AddChild(image), 1);
    EXPECT_FALSE(image->IsLoaded()) << "the scene took the shape";
    EXPECT_EQ(image->AddChild(scene), 0);
    EXPECT_EQ(scene->GetChildCount(), 1);
}

TEST_F(Gui, SpriteTexturesOutliveTheDictionaryCurrentWhileTheyWereRead)
{
    RwTextureDictionary *scratch = RwTextureDictionaryCreate();
    RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
    RwTextureDictionarySetCurrent(scratch);
    CKivGuiSprite sprite;
    ASSERT_EQ(sprite.Load("blue", Folder), 1);
    EXPECT_EQ(RwTextureDictionaryFindTexture(scratch, "blue"), nullptr);
    EXPECT_EQ(RwTextureDictionaryGetCurrent(), scratch);
    RwTextureDictionarySetCurrent(previous);
    RwTextureDictionaryDestroy(scratch);
    sprite.SetPositionInt(5, 5, 0);
    FrameOf(sprite);
    EXPECT_EQ(Str(Box(0x0000FF)), "5,6,15,16");
}

// The host window's procedure hands every message to the GUI first.
LRESULT CALLBACK Routed(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (CKivGuiSystem *gui = CKivGuiSystem::GetInstance())
        if (gui->MsgProc(window, message, w, l))
            return 0;
    return DefWindowProcA(window, message, w, l);
}

struct Clicks {
    static inline std::string log;
    static void Note(int event, int id, CKivGuiControl *, int) { log += std::to_string(event) + ":" + std::to_string(id) + " "; }
};

TEST_F(Gui, RealMessagesReachDialogsThroughTheWindowProcedure)
{
    HWND window = Engine::window;
    WNDPROC old = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Routed)));
    CKivGuiDialog *d = new CKivGuiDialog(41);
    d->SetLocation(100, 100);
    d->SetSize(100, 100);
    gui()->AddDialog(d);
    CKivGuiControl *c = new CKivGuiControl(d);
    c->Create(3, 0, 0, 50, 50, "");
    d->SetCallback(Clicks::Note, 0);
    Clicks::log.clear();
    PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(110, 110));
    KivTestPumpMessages();
    EXPECT_EQ(gui()->GetActiveDialog(), d);
    d->FocusControl(3);
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    d->SetCancelControl(3);
    KivTestPumpMessages();
    EXPECT_EQ(Clicks::log, "2:3 16:3 ");

    // Captured, the mouse left of the window reports a negative x.
    SetWindowPos(window, nullptr, 200, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetCapture(window);
    SetCursorPos(150, 300);
    KivTestPumpMessages();
    ReleaseCapture();
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    int x = 0, y = 0;
    gui()->GetMousePosition(&x, &y);
    EXPECT_EQ(x, -50);
    EXPECT_EQ(y, 300);
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    gui()->RemoveDialog(d);
    delete d;
}

TEST_F(Gui, TheNamedFontsFollowEveryDeviceReset)
{
    CKivGuiDxFont *font = gui()->GetFont("DefaultFont");
    ASSERT_NE(font, nullptr);
    EXPECT_NE(gui()->GetFont("DefaultFont_Opening"), nullptr);
    EXPECT_EQ(font->GetHeight(), 13);
    EXPECT_EQ(gui()->AddFont("x", Dotum, "DefaultFont", 30, 700, 0, 0, 0), 0);
    EXPECT_EQ(font->GetHeight(), 13);
    EXPECT_EQ(gui()->GetFont("DefaultFont_Battle")->GetHeight(), 28);

    // A default-pool buffer alive across the reset makes the device lost.
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    RecordingFont recorder(gui()->GetFont("DefaultFont_Red2")->GetNode(), device);
    IDirect3DVertexBuffer9 *pinned = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &pinned, nullptr), D3D_OK);
    D3DPRESENT_PARAMETERS p = rwD3D9Driver.present;
    device->Reset(&p);
    pinned->Release();
    ASSERT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_TRUE(RwD3D9CheckDeviceReset());
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(recorder.events, "lost-before-reset reset-after-reset ");
    Frame([&] {
        ASSERT_NE(RwCameraBeginUpdate(camera()), nullptr);
        RECT r = {10, 10, 200, 40};
        gui()->GetFont("DefaultFont_Red2")->DrawText("Reset", &r, DT_LEFT | DT_TOP, 0);
        RwCameraEndUpdate(camera());
    });
    gui()->GetFont("DefaultFont_Red2")->GetNode()->font = recorder.real;
    EXPECT_EQ(recorder.draws.size(), 1u);
    RECT red = Box(0xD90000, 120);
    EXPECT_GE(red.left, 9);
    EXPECT_LT(red.right, 200);
}

} // namespace
