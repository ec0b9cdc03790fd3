// Tooltips and notices on a real device with skins the host writes: layout (arrow minimum, anchors,
// missing pieces, bad kinds, icons and anchors, long text), fades read back, drawing passes and the
// dimmer, kinds' fonts, icons and click signs, the three arrows, kind-4 notices, a followed model, a
// hovered control's tooltip, widths and margins beyond the screen laid out as given, boxes running past its edges.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiButton.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiTooltip.h"
#include "engine/gui/CKivGuiTooltipManager.h"
#include "gfx/core/frame.h"
#include "gfx/world/clump.h"
#include "draw_count.h"
#include "gui_host.h"

namespace {

const DWORD Blue = 0x0000C8;   // kind 1 tiles

class Tooltip : public GuiFrame {
protected:
    CKivGuiTooltipManager *tips() { return gui()->GetTooltipManager(); }
    CKivGuiTooltip *Add(int kind, int id, int x, int y, const char *text, int anchor = 0, float lifetime = 5,
                        int icon = -1)
    {
        return tips()->AddTooltip(kind, id, x, y, 350, text, anchor, lifetime, 1.0f, 3, icon, 0);
    }
    // Draws one frame with the tooltip alone at the top left; the draw calls it took.
    int DrawAlone(int kind, int width, int margin, int *boxWidth = nullptr)
    {
        CKivGuiTooltip *t = tips()->AddTooltip(kind, 90, 0, 0, width, "wide", 0, 5, 1.0f, margin, -1, 0);
        if (boxWidth)
            *boxWidth = t->GetBoxWidth();
        DrawCount count;
        Frame(1.0f);
        tips()->Update(1e6f);
        return count.Draws();
    }
    void TearDown() override
    {
        tips()->Update(1e6f);
        EXPECT_EQ(tips()->GetCount(), 0);
        GuiFrame::TearDown();
    }
};

TEST_F(Tooltip, LayoutKeepsTheArrowMinimumAndPlacesByAnchor)
{
    CKivGuiTooltip *t = Add(1, 1, 500, 400, "a");
    ASSERT_NE(t, nullptr);
    // "a" and margins (12) are narrower than the 20-pixel arrow over 8-pixel
    // tiles: at least 20 / 8 + 1 tiles, plus one.
    EXPECT_EQ(t->GetColumns(), 4);
    EXPECT_EQ(t->GetRows(), 3) << "one 18-pixel line and margins in 8-pixel rows";
    struct Case {
        int anchor, x, y;
    } cases[] = {{0, 500, 400}, {4, 484, 388}, {8, 468, 376}, {12, 500, 400}, {-1, 500, 400}};
    for (const Case &c : cases) {
        Add(1, 1, 500, 400, "a", c.anchor);
        int x, y;
        t->GetPosition(&x, &y);
        EXPECT_EQ(x, c.x) << c.anchor;
        EXPECT_EQ(y, c.y) << c.anchor;
    }
    EXPECT_EQ(tips()->GetCount(), 1) << "the same id is laid out again";
    t->SetDownArrow(1);
    int w, h;
    t->GetSize(&w, &h);
    EXPECT_EQ(h, 24 + 12);
    EXPECT_EQ(Add(1, 2, 0, 0, "two\\nlines")->GetRows(), 6) << "(2 x 18 + 6) rounded up to rows";

    EXPECT_EQ(Add(6, 3, 0, 0, "x"), nullptr);
    EXPECT_EQ(Add(-1, 3, 0, 0, "x"), nullptr);
    EXPECT_EQ(tips()->GetSkin(6), nullptr);
    EXPECT_EQ(CKivGuiTooltipManager::GetFontName(-2), nullptr);
    EXPECT_EQ(Add(1, 4, 0, 0, "x", 0, 5, 40)->GetIcon(), -1);
    std::string korean;
    for (int i = 0; i < 750; i++)
        korean += "\xC7\xD1";
    CKivGuiTooltip *longer = Add(1, 5, 0, 0, korean.c_str());
    EXPECT_EQ(std::strlen(longer->GetText()), 998u) << "999 bytes would end in half a character";

    // Kind 2 has no corner piece: text and margins, no tiles.
    CKivGuiTooltip *bare = Add(2, 6, 100, 100, "a");
    const int text = gui()->GetFont("DefaultFont")->GetTextWidth("a");
    EXPECT_EQ(bare->GetColumns(), 0);
    EXPECT_EQ(bare->GetBoxWidth(), text + 6);
    EXPECT_EQ(bare->GetBoxHeight(), 24);
    Frame(0.1f);
}

TEST_F(Tooltip, FadesInOutAndDrawsAroundTheDialogs)
{
    Add(1, 10, 100, 100, "a", 0, 1.0f);
    const DWORD expected[] = {0x000064, Blue, Blue, 0x000064};
    for (int i = 0; i < 4; i++) {
        Frame(0.25f);
        EXPECT_NEAR(int(Pixel(128, 122)), int(expected[i]), 3) << i;
    }
    EXPECT_EQ(RectText(Box(0x000064, 3)), "100,101,132,125") << "a 32x24 box";
    Frame(0.25f);
    EXPECT_EQ(tips()->FindTooltip(10), nullptr) << "gone 0.5 s after its lifetime";
    EXPECT_EQ(Pixel(128, 122), 0u);

    CKivGuiDialog *plain = NewDialog(40, 300, 300, 200, 100);
    plain->SetBackgroundImage("guitest/white");
    Add(5, 11, 310, 310, "a");   // before the dialogs: hidden
    Add(1, 12, 400, 310, "a");   // after them: on top
    Frame(0.5f);
    EXPECT_EQ(Pixel(320, 330), 0xFFFFFFu);
    EXPECT_EQ(Pixel(420, 330), Blue);
    CKivGuiDialog *modal = NewDialog(41, 600, 500, 100, 50);
    modal->SetBackgroundImage("guitest/red");
    modal->SetModalKind(1);
    Frame(0.0f);
    EXPECT_NEAR(int(Pixel(480, 380) & 0xFF), 178, 3) << "dimmed to 0.7 under the modal";
    EXPECT_EQ(Pixel(650, 520), 0xFF0000u) << "the modal over the dimmer";
    EXPECT_EQ(Pixel(420, 330), Blue) << "kind 1 over the dimmer";
}

TEST_F(Tooltip, KindsDrawWithTheirFontsIconsAndClickSigns)
{
    struct Case {
        int kind;
        const char *font;
    } cases[] = {{1, "DefaultFont"}, {3, "DefaultFont2"}, {5, "DefaultFont_Black"}};
    for (const Case &c : cases) {
        CKivGuiTooltip *t = Add(c.kind, 20 + c.kind, 0, 0, "text");
        auto *line = static_cast<CKivGuiStatic *>(t->GetDialog()->GetControl(0));
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->GetFont(), gui()->GetFont(c.font)) << c.kind;
    }
    CKivGuiTooltip *notice = Add(3, 23, 100, 300, "notice");
    EXPECT_EQ(notice->GetBoxWidth(), 352) << "a notice is as wide as it is told";
    Frame(1.0f);
    int light = 0;
    for (int y = 300; y < 330; y++)
        for (int x = 100; x < 452; x++)
            light += (Pixel(x, y) >> 16) > 120;
    EXPECT_GT(light, 10) << "light outlined text on the green notice";

    Add(1, 30, 600, 100, "with icon", 0, 5, 0);
    Frame(1.0f);
    CKivGuiTooltip *iconic = tips()->FindTooltip(30);
    EXPECT_EQ(RectText(Box(0xFF0000)), "603,105,613,115") << "the friend icon";
    RECT click = Box(0x00FFFF);
    EXPECT_EQ(click.left, 600 + iconic->GetBoxWidth() - 28) << "the click sign by the bottom-right piece";
    EXPECT_EQ(click.bottom, 100 + iconic->GetBoxHeight() - 3);
    Add(1, 30, 600, 100, "with icon", 0, 5, 12);
    Frame(0.0f);
    EXPECT_EQ(Box(0xFF0000).right, -1) << "icon 12 is not one";
}

TEST_F(Tooltip, ArrowsStandUnderTheBoxOrByItsBottomRightCorner)
{
    CKivGuiTooltip *t = Add(1, 60, 200, 200, "three arrows");
    const int columns = t->GetColumns(), bottom = 200 + t->GetBoxHeight() + 1;
    const int middle = 200 + 8 * ((columns - 1) / 2), last = 200 + 8 * (columns - 1);
    // Down arrows are lowered so that 4 of their 12 rows hang below the box.
    const struct {
        void (CKivGuiTooltip::*set)(int);
        RECT arrow;
    } cases[] = {
        {&CKivGuiTooltip::SetDownArrow, {middle, bottom - 8, middle + 20, bottom + 4}},
        {&CKivGuiTooltip::SetDownLeftArrow, {208, bottom - 8, 228, bottom + 4}},
        {&CKivGuiTooltip::SetRightArrow, {last, bottom - 12, last + 20, bottom}},
    };
    for (const auto &c : cases) {
        (t->*c.set)(1);
        Frame(1.0f);
        EXPECT_EQ(RectText(Box(0x0064C8, 3)), RectText(c.arrow));
        (t->*c.set)(0);
    }
}

TEST_F(Tooltip, KindFourNoticesDrawOverTheDialogsInTheirOwnSkinAndFont)
{
    CKivGuiDialog *plain = NewDialog(43, 80, 380, 200, 100);
    plain->SetBackgroundImage("guitest/white");
    CKivGuiTooltip *notice = Add(4, 61, 100, 400, "notice", 0, 5, 6);
    auto *line = static_cast<CKivGuiStatic *>(notice->GetDialog()->GetControl(0));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->GetFont(), gui()->GetFont("DefaultFont"));
    EXPECT_EQ(notice->GetBoxWidth(), 352) << "as wide as it is told";
    Frame(1.0f);
    EXPECT_EQ(RectText(Box(0x783C00, 3)), RectText({100, 401, 452, 401 + notice->GetBoxHeight()}));
    EXPECT_EQ(Box(0x8000FF, 3).left, 103) << "its icon";
    EXPECT_GT(Box(0xFF8080, 3).right, 0) << "its click sign";
    int dark = 0;
    for (int y = 401; y < 401 + notice->GetBoxHeight(); y++)
        for (int x = 100; x < 452; x++)
            dark += (Pixel(x, y) >> 16) < 80 && ((Pixel(x, y) >> 8) & 0xFF) < 40 && (Pixel(x, y) & 0xFF) < 40;
    EXPECT_GT(dark, 20) << "black text on the brown notice";
}

TEST_F(Tooltip, WidthsAndMarginsBeyondTheScreenLayOutAsGivenAndDrawOnlyWhatItShows)
{
    // Notices wider than the screen keep their width, centred on the point.
    for (int width : {1100, 1500}) {
        CKivGuiTooltip *t = tips()->AddTooltip(3, 91, 512, 300, width, "wide", 1, 5, 1.0f, 3, -1, 0);
        int x = 0;
        t->GetPosition(&x, nullptr);
        EXPECT_EQ(t->GetBoxWidth(), width + 4);
        EXPECT_EQ(x, 512 - (width + 4) / 2);
        tips()->Update(1e6f);
    }
    const int widest = INT_MAX / 8 * 8;   // the widest box of 8-pixel tiles an int holds
    struct Case {
        int kind, width, margin, boxWidth;
    } cases[] = {
        {3, 0x7FFFFFF0, 3, 0x7FFFFFF0}, {3, INT_MAX, 3, widest}, {3, INT_MIN, 3, 32},
        {1, 350, 0x40000000, widest},   {3, INT_MAX, INT_MAX, widest},
    };
    for (const Case &c : cases) {
        int boxWidth = 0;
        const int draws = DrawAlone(c.kind, c.width, c.margin, &boxWidth);
        EXPECT_EQ(boxWidth, c.boxWidth) << c.width << " " << c.margin;
        // A draw per 8x8 tile: no more than cover the screen, and a little beyond.
        EXPECT_LE(draws, (1024 / 8 + 3) * (768 / 8 + 3)) << c.width << " " << c.margin;
    }
    // A notice wider than the screen spans it.
    DrawAlone(3, INT_MAX, 3);
    EXPECT_EQ(Box(0x00A000, 3).left, 0);
    EXPECT_EQ(Box(0x00A000, 3).right, 1024);
    // The arrows and the centred text add to sizes and places at the int's
    // limit: they stop there.
    CKivGuiTooltip *t = tips()->AddTooltip(3, 93, 0, 0, INT_MAX, "wide", 0, 5, 1.0f, INT_MAX, -1, 0);
    t->SetRightArrow(1);
    t->SetDownArrow(1);
    int w = 0, h = 0;
    t->GetSize(&w, &h);
    EXPECT_EQ(w, INT_MAX);
    EXPECT_EQ(h, INT_MAX);
    t = tips()->AddTooltip(3, 93, 0, 0, 350, "wide", 0, 5, 1.0f, INT_MAX, -1, 0);
    int x = 0;
    t->GetDialog()->GetControl(0)->GetLocation(&x, nullptr);
    EXPECT_EQ(x, INT_MAX) << "the line stays beyond the box's right";
    tips()->Update(1e6f);
}

TEST_F(Tooltip, ABoxPartlyOffTheScreenShowsTheTilesItWouldOnIt)
{
    // The same box and arrows (no text) where it shows whole and where it runs
    // past the screen's edges by parts of tiles: what is on the screen is the
    // same picture, moved.
    int w = 0, h = 0;
    auto draw = [&](int kind, int x, int y) {
        CKivGuiTooltip *t = tips()->AddTooltip(kind, 92, x, y, 300, "", 0, 5, 1.0f, 45, -1, 0);
        t->SetDownArrow(1);
        t->SetDownLeftArrow(1);
        t->SetRightArrow(1);
        w = t->GetBoxWidth();
        h = t->GetBoxHeight();
        Frame(1.0f);
        tips()->Update(1e6f);
        return pixels;
    };
    const int x0 = 300, y0 = 300;
    for (int kind : {1, 3}) {
        const std::vector<DWORD> whole = draw(kind, x0, y0);
        const POINT places[] = {{-w / 2 - 3, -h / 2 - 5}, {-w / 2 + 5, 768 - h / 2 + 3}, {1024 - w / 2 + 3, -h / 2 + 1},
                                {1024 - w / 2 - 5, 768 - h / 2 - 3}, {-w + 2, 300}, {300, -h + 2}};
        for (const POINT at : places) {
            const std::vector<DWORD> cut = draw(kind, at.x, at.y);
            int differ = 0, shown = 0;
            for (int y = 0; y < 768; y++) {
                for (int x = 0; x < 1024; x++) {
                    const int wx = x - at.x + x0, wy = y - at.y + y0;
                    if (wx < 0 || wx >= 1024 || wy < 0 || wy >= 768)
                        continue;
                    const DWORD a = cut[y * 1024 + x] & 0xFFFFFF, b = whole[wy * 1024 + wx] & 0xFFFFFF;
                    differ += a != b;
                    shown += a != 0;
                }
            }
            EXPECT_EQ(differ, 0) << kind << " at " << at.x << "," << at.y;
            EXPECT_GT(shown, 20) << kind << " at " << at.x << "," << at.y;
        }
    }
}

struct Followed {
    static inline RwAtomic *atomic;
    static inline CKivCamera *camera;
    static inline bool present;
    static int Resolve(const char *model, const char *part, GuiFollowTarget *out)
    {
        if (!present || std::strcmp(model, "hero") || std::strcmp(part, "head"))
            return 0;
        *out = {atomic, camera};
        return 1;
    }
};

TEST_F(Tooltip, AFollowedPartIsTrackedUntilItLeavesTheViewOrTheWorld)
{
    CKivCamera camera;
    const RwV3d eye = {0, 0, -10}, target = {0, 0, 0}, up = {0, 1, 0};
    ASSERT_EQ(camera.CreateLookAt(&eye, &target, &up, 0.1f, 100.0f, 1.0f, GuiHost::base->GetViewport()), 1);
    RwFrame *frame = RwFrameCreate();
    Followed::atomic = RwAtomicCreate();
    Followed::atomic->boundingSphere = {{0, 0, 0}, 1.0f};
    RwAtomicSetFrame(Followed::atomic, frame);
    Followed::camera = &camera;
    Followed::present = true;
    auto moveTo = [frame](float x, float z) {
        const RwV3d at = {x, 0, z};
        RwFrameTranslate(frame, &at, rwCOMBINEREPLACE);
        RwFrameSyncDirtyList();
    };
    auto follow = [this] { return tips()->AddFollowingTooltip(1, 50, "hero", "head", 350, "a", 7, 60, 1, 3, -1); };
    moveTo(0, 0);
    ASSERT_NE(follow(), nullptr);
    Frame(0.1f);
    EXPECT_EQ(tips()->GetCount(), 0) << "nothing answers for the world yet";
    CKivGuiTooltipManager::SetFollowResolver(Followed::Resolve);
    CKivGuiTooltip *t = follow();
    int x, y, movedX, movedY, sideX;
    t->GetPosition(&x, &y);
    EXPECT_EQ(x, 512 - 16) << "anchor 7: bottom centre on the screen centre";
    EXPECT_EQ(y, 384 - 24);
    moveTo(2, 0);
    Frame(0.1f);
    t->GetPosition(&movedX, &movedY);
    EXPECT_GT(std::abs(movedX - x), 50);
    EXPECT_EQ(movedY, y);
    t->SetFollowMode(0);
    Frame(0.1f);
    t->GetPosition(&sideX, nullptr);
    EXPECT_NE(sideX, movedX) << "mode 0 stands off along the right axis";
    moveTo(0, -30);
    Frame(0.1f);
    EXPECT_EQ(tips()->FindTooltip(50, "hero", "head"), nullptr) << "behind the camera";
    moveTo(0, 0);
    CKivGuiTooltip *again = follow();
    EXPECT_EQ(again, tips()->FindTooltip(50));
    Followed::present = false;
    Frame(0.1f);
    EXPECT_EQ(tips()->GetCount(), 0) << "taken out of the world";
    CKivGuiTooltipManager::SetFollowResolver(nullptr);
    RwAtomicDestroy(Followed::atomic);
    RwFrameDestroy(frame);
}

// A kind past the last is refused before the tooltip takes anything of the call.
TEST_F(Tooltip, AFollowingKindPastTheLastIsRefusedWithNothingTaken)
{
    CKivGuiTooltip t;
    EXPECT_EQ(t.InitFollowing(CKivGuiTooltipManager::kKinds, 1, "hero", "head", 350, "a", 7, 60, 1, 3, -1), 0);
    EXPECT_EQ(t.GetModelName(), "");
    EXPECT_EQ(t.GetPartName(), "");
}

TEST_F(Tooltip, AHoveredControlShowsItsTooltipUntilTheMouseLeaves)
{
    CKivGuiDialog *d = NewDialog(60, 200, 100, 300, 200);
    CKivGuiButton *b = new CKivGuiButton(d);
    b->Create(1, 10, 20, 50, 40, "");
    b->SetTooltip("hello", 0, 0, 50, 1);
    Send(WM_MOUSEMOVE, 220, 130);
    for (int i = 0; i < 4; i++) {
        gui()->Update(0.3f);
        Frame(0.3f);
    }
    CKivGuiTooltip *t = tips()->FindTooltip(CKivGuiControl::kHoverTooltipId);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetKind(), 1);
    EXPECT_FLOAT_EQ(t->GetAlpha(), 1.0f) << "kept faded in under the mouse";
    EXPECT_EQ(Pixel(211, 171), Blue) << "at the control's corner, 50 pixels down";
    Send(WM_MOUSEMOVE, 700, 600);
    gui()->Update(0.3f);
    Frame(0.3f);
    ASSERT_EQ(tips()->FindTooltip(CKivGuiControl::kHoverTooltipId), t) << "no longer re-added, not yet fading";
    EXPECT_NEAR(t->GetAlpha(), 0.4f, 0.01f) << "0.1 s of fading after the 0.5 s lifetime";
    Frame(0.3f);
    EXPECT_EQ(tips()->FindTooltip(CKivGuiControl::kHoverTooltipId), nullptr);
}

} // namespace
