// The GUI on the engine root's 1024x768 window: sprites from test-written PNGs placed, scaled, tinted
// and faded; the image cache; a dialog drawn under the render lock and read back; Korean through the
// fallback font; device resets reaching the fonts; kind-3 modals over the dimmer and render callbacks.
#include <cstdlib>
#include <string>

#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiControl.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivSprite.h"
#include "gfx/core/camera.h"
#include "gfx/core/image.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/plugins/toolkit2d/toolkit2d.h"
#include "gui_host.h"
#include "recording_font.h"

namespace {

const char Folder[] = "guitest/";

class Gui : public GuiFrame {
protected:
    RwCamera *camera() { return GuiHost::base->GetDefaultCamera()->GetCamera(); }
    // Draws one sprite through the default camera.
    void FrameOf(CKivGuiSprite &sprite)
    {
        FrameWith([&] {
            ASSERT_NE(RwCameraBeginUpdate(camera()), nullptr);
            sprite.Render();
            RwCameraEndUpdate(camera());
        });
    }
    static const RwMatrix *Matrix(CKivGuiSprite &s) { return Rw2dObjectGetMatrix(s.GetShape()); }
};

TEST_F(Gui, SpritesArePlacedScaledTintedAndFaded)
{
    CKivGuiSprite sprite;
    ASSERT_EQ(sprite.Load("red", Folder), 1);
    EXPECT_EQ(sprite.GetWidth(), 100);
    sprite.SetPositionInt(10, 20, 0);
    FrameOf(sprite);
    // 2D y 697.5..747.5 up from the bottom edge: the half pixel taken off y
    // puts the image one row below y (rows 21..70), x is exact.
    EXPECT_EQ(RectText(Box(0xFF0000)), "10,21,110,71");

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
    EXPECT_EQ(set.GetSpriteWidth("none"), 0.0f);
    FrameWith([&] { set.RenderSprite("r"); });
    EXPECT_EQ(Box(0xFF0000).right, -1) << "no camera, nothing drawn";
    set.SetCamera(camera());
    set.SetSpriteScale("r", 2, 1);
    FrameWith([&] { set.RenderSprite("r"); });
    EXPECT_EQ(RectText(Box(0xFF0000)), "10,699,210,749");
}

TEST_F(Gui, ImageScaleKeepsWidthsMultiplesOfTheScale)
{
    // Interface images decode reduced: 102x50 -> 81x40, 100x50 -> 80x40.
    GuiHost::base->SetImageQuality(1);
    CKivGuiSprite odd, red;
    ASSERT_EQ(odd.Load("odd", Folder), 1);
    ASSERT_EQ(red.Load("red", Folder), 1);
    EXPECT_FLOAT_EQ(odd.GetWidth(), 80.8f);
    EXPECT_FLOAT_EQ(red.GetWidth(), 80.0f);
    EXPECT_FLOAT_EQ(red.GetHeight(), 40.0f);
    red.SetPositionInt(0, 100, 1);
    FrameOf(red);
    EXPECT_EQ(RectText(Box(0xFF0000)), "0,101,100,151") << "the top edge at y, drawn 50 tall";
    red.SetPositionInt(0, 100, 0);
    FrameOf(red);
    GuiHost::base->SetImageQuality(0);
    EXPECT_EQ(RectText(Box(0xFF0000)), "0,91,100,141") << "without the fix it reaches 10 rows higher";
}

// A control that draws its element 1.
class Element : public CKivGuiControl {
public:
    using CKivGuiControl::CKivGuiControl;
    void Render(float, int) override { DrawElement(1, 0, 0); }
};

const RECT KoreanRect = {320, 420, 480, 440};

void DrawKorean(int dialog)
{
    RECT r = KoreanRect;
    reinterpret_cast<CKivGuiDialog *>(dialog)->DrawText("\xC7\xD1\xB1\xDB \xC5\xD7\xBD\xBA\xC6\xAE", &r, nullptr,
                                                        DT_LEFT | DT_TOP);
}

TEST_F(Gui, DialogDrawsBackgroundElementsAndKoreanUnderTheRenderLock)
{
    CKivGuiDialog *d = NewDialog(40, 300, 400, 200, 100);
    d->SetBackgroundImage("guitest/white");
    Element *stretched = new Element(d);
    stretched->Create(1, 10, 50, 50, 70, "");
    stretched->LoadElement(1, "guitest/Blue");
    stretched->SetStretch(1);
    Element *tall = new Element(d);
    tall->Create(2, 100, 60, 140, 80, "");
    tall->LoadElement(1, "guitest/tall");
    d->SetRenderCallback(DrawKorean, static_cast<int>(reinterpret_cast<INT_PTR>(d)));
    EXPECT_EQ(gui()->FindImageEntry("GUITEST/BLUE")->count, 1);

    Frame(0.016f);
    EXPECT_EQ(RectText(Box(0xFFFFFF)), "300,401,500,501");
    EXPECT_EQ(RectText(Box(0x0000FF)), "310,451,350,471") << "10x10 stretched by (4, 2)";
    EXPECT_EQ(RectText(Box(0x00FF00)), "400,441,410,481") << "bottom edges aligned, taller than the control";
    int dark = 0;
    for (int y = KoreanRect.top; y < KoreanRect.bottom; y++)
        for (int x = KoreanRect.left; x < KoreanRect.right; x++)
            dark += (Pixel(x, y) & 0xFF) < 200;
    EXPECT_GT(dark, 30) << "black Korean glyphs on the white background";

    d->SetEnabled(0);
    Frame();
    EXPECT_NEAR(int(Pixel(320, 460) >> 16), 128, 3) << "a disabled control draws at alpha 0.5";
    delete d;
    dialogs.pop_back();
    EXPECT_EQ(gui()->FindImageEntry("guitest/blue"), nullptr);
    EXPECT_EQ(gui()->FindImageEntry("guitest/white"), nullptr);
}

TEST_F(Gui, ADialogShownAgainIsDrawnLast)
{
    CKivGuiDialog *under = NewDialog(50, 600, 100, 0, 0), *over = NewDialog(51, 650, 120, 0, 0);
    under->SetBackgroundImage("guitest/white");
    over->SetBackgroundImage("guitest/red");
    const std::wstring longText(3000, L'\xD55C');
    RECT r = {600, 300, 800, 320};
    FrameWith([&] {
        gui()->Render(0);
        RwCameraBeginUpdate(camera());
        EXPECT_EQ(under->DrawTextW(longText.c_str(), &r, "DefaultFont2", DT_LEFT | DT_SINGLELINE), 1);
        RwCameraEndUpdate(camera());
    });
    EXPECT_EQ(Pixel(700, 150), 0xFF0000u);
    under->SetVisible(1);
    Frame();
    EXPECT_EQ(Pixel(700, 150), 0xFFFFFFu);
    delete over;
    dialogs.pop_back();
    EXPECT_FALSE(gui()->IsRegistered(over));
}

// A render callback drawing a green bar and noting its argument.
struct FrameCallback {
    static inline CKivGuiSprite *bar;
    static inline std::string calls;
    static void Draw(int argument)
    {
        calls += std::to_string(argument) + " ";
        bar->SetPositionInt(120, 110, 0);
        bar->Render();
    }
    static void Note(int argument) { calls += "n" + std::to_string(argument) + " "; }
};

// Each channel within 3 of the colour's.
::testing::AssertionResult Near(DWORD pixel, DWORD colour)
{
    for (int c = 0; c < 24; c += 8)
        if (std::abs(int((pixel >> c) & 0xFF) - int((colour >> c) & 0xFF)) > 3)
            return ::testing::AssertionFailure() << std::hex << pixel << " is not " << colour;
    return ::testing::AssertionSuccess();
}

TEST_F(Gui, KindThreeModalsDrawAgainOverTheDimmerAfterTheCallbacks)
{
    CKivGuiDialog *under = NewDialog(60, 100, 100, 200, 100), *back = NewDialog(61, 250, 150, 100, 50),
                  *front = NewDialog(62, 400, 300, 10, 10);
    under->SetBackgroundImage("guitest/white");
    back->SetBackgroundImage("guitest/red");
    front->SetBackgroundImage("guitest/blue");
    back->SetLayer(0);   // drawn under the white dialog in the layer pass
    back->SetModalKind(3);
    front->SetModalKind(3);
    CKivGuiSprite bar;
    ASSERT_EQ(bar.Load("tall", Folder), 1);
    FrameCallback::bar = &bar;
    FrameCallback::calls.clear();
    gui()->AddRenderCallback(FrameCallback::Draw, 7);
    gui()->AddRenderCallback(FrameCallback::Note, 8);
    Frame();
    EXPECT_EQ(FrameCallback::calls, "7 n8 ");
    EXPECT_TRUE(Near(Pixel(125, 130), 0x00B200)) << "the callback's bar over the dialogs, under the dimmer";
    EXPECT_TRUE(Near(Pixel(260, 160), 0xB2B2B2)) << "the back modal under the white dialog, dimmed";
    EXPECT_TRUE(Near(Pixel(320, 160), 0xB20000)) << "only the front kind-3 dialog is drawn again";
    EXPECT_EQ(Pixel(405, 305), 0x0000FFu);
    front->SetVisible(0);
    Frame();
    EXPECT_EQ(Pixel(260, 160), 0xFF0000u) << "the next kind-3 dialog that draws";
    EXPECT_TRUE(Near(Pixel(150, 150), 0xB2B2B2));
    gui()->RemoveRenderCallback(FrameCallback::Draw);
    FrameCallback::calls.clear();
    Frame();
    EXPECT_EQ(FrameCallback::calls, "n8 ");
    gui()->RemoveRenderCallback(FrameCallback::Note);
}

int boxesShown = 0;
int WINAPI CountBoxes(HWND, const char *, const char *, UINT)
{
    boxesShown++;
    return IDOK;
}

TEST_F(Gui, CacheSharesByCaseAndReportsAMissingImageOnce)
{
    auto *first = gui()->LoadImage(1, "guitest/Red", "red", Folder);
    EXPECT_EQ(first, gui()->LoadImage(1, "GUITEST/red", "red", Folder));
    EXPECT_EQ(first->count, 2);
    gui()->ReleaseImage("guitest/red");
    EXPECT_NE(gui()->FindImage("guitest/RED"), nullptr);
    gui()->ReleaseImage("guitest/red");
    EXPECT_EQ(gui()->FindImage("guitest/red"), nullptr);

    CKivGuiSystem::SetMessageBoxBinding(CountBoxes);
    std::string longName(300, 'm');
    auto *broken = gui()->LoadImage(9, "guitest/missing", longName.c_str(), Folder);
    gui()->LoadImage(9, "guitest/Missing", longName.c_str(), Folder);
    CKivGuiSystem::SetMessageBoxBinding(nullptr);
    EXPECT_EQ(boxesShown, 1);
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

    // A load of the same path while the box runs the window's messages finds
    // the entry: no second box, one count for each holder.
    static CKivGuiSystem::ImageEntry *nested;
    static CKivGuiSystem *system;
    system = gui();
    nested = nullptr;
    boxesShown = 0;
    CKivGuiSystem::SetMessageBoxBinding([](HWND, const char *, const char *, UINT) WINAPI -> int {
        if (boxesShown++ == 0)
            nested = system->LoadImage(9, "guitest/Gone", "gone", Folder);
        return IDOK;
    });
    auto *outer = gui()->LoadImage(9, "guitest/gone", "gone", Folder);
    CKivGuiSystem::SetMessageBoxBinding(nullptr);
    PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    EXPECT_EQ(boxesShown, 1);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer, nested);
    EXPECT_EQ(outer->count, 2);
    gui()->ReleaseImage("guitest/gone");
    gui()->ReleaseImage("guitest/gone");
    EXPECT_EQ(gui()->FindImageEntry("guitest/gone"), nullptr);

    CKivGuiResourceManager &resources = gui()->GetResourceManager();
    EXPECT_EQ(resources.AddImage("red", Folder, "img"), 1);
    EXPECT_EQ(resources.ReleaseRef("img"), 0);
    EXPECT_EQ(resources.AddImage("red", Folder, "img"), 0) << "a count released to 0 is still registered";
    EXPECT_EQ(resources.ReleaseRef("img"), 0) << "the second add counted";
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

// A scene draws the image it took over, placed by the scene: at first at the
// bottom-left corner, then with its bottom-left corner (x, y) from the top.
TEST_F(Gui, ASceneDrawsItsChildWhereTheSceneIsPlaced)
{
    CKivGuiSprite scene, image;
    ASSERT_EQ(scene.CreateScene("scene"), 1);
    ASSERT_EQ(image.Load("red", Folder), 1);
    ASSERT_EQ(scene.AddChild(&image), 1);
    FrameOf(scene);
    EXPECT_EQ(RectText(Box(0xFF0000)), "0,718,100,768");
    scene.SetScenePosition(200, 100);
    FrameOf(scene);
    EXPECT_EQ(RectText(Box(0xFF0000)), "200,50,300,100");
    image.Render();   // gave its shape away: nothing of its own to draw
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
    EXPECT_EQ(RectText(Box(0x0000FF)), "5,6,15,16");
}

DWORD WINAPI LoadBlue(void *sprite)
{
    return static_cast<CKivGuiSprite *>(sprite)->Load("blue", Folder);
}

// A sprite load changes the process's current dictionary, image path and
// read mode, so it waits while another thread (a loading thread, with its
// own dictionary current) holds the render lock, and leaves that alone.
TEST_F(Gui, ASpriteLoadWaitsForTheRenderLock)
{
    RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
    RwTextureDictionary *theirs = RwTextureDictionaryCreate();
    GuiHost::base->Lock();
    RwTextureDictionarySetCurrent(theirs);
    RwImageSetPath("theirs/");
    CKivGuiSprite sprite;
    HANDLE thread = CreateThread(nullptr, 0, LoadBlue, &sprite, 0, nullptr);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 50));
    EXPECT_EQ(theirs, RwTextureDictionaryGetCurrent());
    EXPECT_STREQ("theirs/", RwImageGetPath());
    EXPECT_EQ(2, CKivBase::GetTextureReadMode());
    EXPECT_EQ(nullptr, RwTextureDictionaryFindTexture(theirs, "blue"));
    RwTextureDictionarySetCurrent(previous);
    GuiHost::base->Unlock();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 5000));
    DWORD loaded = 0;
    GetExitCodeThread(thread, &loaded);
    CloseHandle(thread);
    EXPECT_EQ(1u, loaded);
    EXPECT_EQ(previous, RwTextureDictionaryGetCurrent());
    RwTextureDictionaryDestroy(theirs);
}

TEST_F(Gui, TheNamedFontsFollowEveryDeviceReset)
{
    CKivGuiDxFont *font = gui()->GetFont("DefaultFont");
    ASSERT_NE(font, nullptr);
    EXPECT_NE(gui()->GetFont("DefaultFont_Opening"), nullptr);
    EXPECT_EQ(gui()->AddFont("x", GuiDotum, "DefaultFont", 30, 700, 0, 0, 0), 0);
    EXPECT_EQ(font->GetHeight(), 13);
    EXPECT_EQ(gui()->GetFont("DefaultFont_Battle")->GetHeight(), 28);

    // A default-pool buffer alive across the reset makes the device lost.
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    CKivGuiDxFont *red = gui()->GetFont("DefaultFont_Red2");
    RecordingFont recorder(red->GetNode(), device);
    IDirect3DVertexBuffer9 *pinned = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &pinned, nullptr), D3D_OK);
    D3DPRESENT_PARAMETERS p = rwD3D9Driver.present;
    device->Reset(&p);
    pinned->Release();
    ASSERT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_TRUE(RwD3D9CheckDeviceReset());
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(recorder.events, "lost-before-reset reset-after-reset ");
    FrameWith([&] {
        ASSERT_NE(RwCameraBeginUpdate(camera()), nullptr);
        RECT r = {10, 10, 200, 40};
        red->DrawText("Reset", &r, DT_LEFT | DT_TOP, 0);
        RwCameraEndUpdate(camera());
    });
    red->GetNode()->font = recorder.real;
    EXPECT_EQ(recorder.draws.size(), 1u);
    RECT drawn = Box(0xD90000, 120);
    EXPECT_GE(drawn.left, 9);
    EXPECT_LT(drawn.right, 200);
}

} // namespace
