// The chat scroll bar as the game sets it up, driven by window messages: thumb size from the range,
// nothing drawn while a page holds it all, wheel notches, page clicks, drags rounded and clamped,
// capture released by the button or lost, degenerate tracks and ranges that shrink mid-drag, the track
// tile and the thumb's caps, pages far taller than the screen (a bar far above it too), showing the item
// below the page, the largest steps over any range, and places at the ends of the int range for every control.
#include <gtest/gtest.h>

#include <climits>

#include "engine/gui/CKivGuiButton.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiTempScrollBar.h"
#include "draw_count.h"
#include "gui_host.h"

namespace {

class ScrollBar : public GuiFrame {
protected:
    // The chat window's bar at screen (510..524, 110..310).
    CKivGuiTempScrollBar *Chat(int height = 200)
    {
        CKivGuiDialog *d = NewDialog(30, 500, 100, 100, 300);
        CKivGuiTempScrollBar *bar = new CKivGuiTempScrollBar(d);
        bar->Create(1, 10, 10, 24, 10 + height, 0, 3);
        bar->SetFocusOnClick(1);
        bar->LoadSkins();
        bar->SetPageSize(8);
        bar->UpdateThumbRect();
        bar->Cap();
        gui()->Update(0);
        // The dialog becomes the active one, as after the player's first click.
        Send(WM_LBUTTONDOWN, 590, 390);
        Send(WM_LBUTTONUP, 590, 390);
        return bar;
    }
    // Screen y of the thumb's top.
    int ThumbY(CKivGuiTempScrollBar *bar) { return bar->GetThumbRect().top + 100; }
    void Wheel(int delta) { Send(WM_MOUSEWHEEL, 515, 200, MAKEWPARAM(0, static_cast<WORD>(delta))); }
    void TearDown() override
    {
        ReleaseCapture();
        GuiFrame::TearDown();
    }
};

TEST_F(ScrollBar, ThumbFollowsTheRangeAndNothingIsDrawnWhileAPageHoldsIt)
{
    CKivGuiTempScrollBar *bar = Chat();
    // Arrows 14 high, gaps of 7: the track runs 31..189.
    EXPECT_EQ(RectText(bar->GetTrackRect()), "10,31,24,189");
    bar->SetTrackRange(0, 8);
    Frame();
    EXPECT_EQ(bar->IsThumbShown(), 0);
    EXPECT_EQ(Box(0x640000, 2).right, -1) << "no up arrow";
    EXPECT_EQ(Box(0x006400, 2).right, -1) << "no thumb";
    bar->SetTrackRange(0, 9);
    Frame();
    EXPECT_EQ(bar->GetThumbRect().bottom - bar->GetThumbRect().top, 158 * 8 / 9);
    EXPECT_EQ(RectText(Box(0x640000, 2)), "510,111,524,125") << "up arrow";
    EXPECT_EQ(RectText(Box(0x000064, 2)), "510,297,524,311") << "down arrow";
    EXPECT_EQ(RectText(Box(0x006400, 2)), "510,132,524,272") << "thumb stretched to its length";
    bar->SetTrackRange(-5, -1);
    EXPECT_EQ(bar->GetPosition(), 0);
}

TEST_F(ScrollBar, TheTrackTileRepeatsAndTheThumbWearsItsCaps)
{
    WriteGuiPng("guitest/track", 16, 14, {90, 90, 90, 255});
    CKivGuiTempScrollBar *bar = Chat();
    bar->LoadElement(11, "guitest/track");
    bar->SetTrackRange(0, 9);
    Frame();
    // Page 8: seven tiles one arrow height apart from the up arrow's top, a
    // pixel left of it; the arrows and the thumb cover all but the edges.
    EXPECT_EQ(RectText(Box(0x5A5A5A, 2)), "509,112,525,210");
    const RECT thumb = bar->GetThumbRect();
    // The caps, 3 pixels each, stand right above and right below the stretched middle.
    EXPECT_EQ(RectText(Box(0xFFFFFF, 2)), RectText({510, thumb.top + 100 - 3 + 1, 524, thumb.bottom + 100 + 3 + 1}));
    EXPECT_EQ(RectText(Box(0x006400, 2)), RectText({510, thumb.top + 100 + 1, 524, thumb.bottom + 100 + 1}));
}

TEST_F(ScrollBar, PagesTallerThanTheScreenDrawTheTrackTilesItShows)
{
    WriteGuiPng("guitest/track", 16, 14, {90, 90, 90, 255});
    CKivGuiTempScrollBar *bar = Chat();
    bar->LoadElement(11, "guitest/track");
    bar->SetTrackRange(0, 0x7FFFFFFF);
    // From the up arrow's top, one arrow height apart, to the screen's bottom edge.
    auto draws = [&](int page) {
        bar->SetPageSize(page);
        DrawCount count;
        Frame();
        return count.Draws();
    };
    const int tile = draws(9) - draws(8);
    EXPECT_GT(tile, 0);
    const int screenful = draws(1000);
    EXPECT_EQ(RectText(Box(0x5A5A5A, 2)), "509,112,525,768");
    EXPECT_EQ(draws(8) + (47 - 7) * tile, screenful) << "47 tiles reach the screen";
    for (int page : {100000, 0x7FFFFFF0}) {
        EXPECT_EQ(draws(page), screenful) << page;
        EXPECT_EQ(RectText(Box(0x5A5A5A, 2)), "509,112,525,768") << page;
        EXPECT_EQ(bar->GetThumbRect().bottom - bar->GetThumbRect().top, page == 100000 ? 1 : 157) << page;
    }
}

TEST_F(ScrollBar, ABarFarAboveTheScreenStillDrawsTheTrackTilesThatReachIt)
{
    WriteGuiPng("guitest/track", 16, 14, {90, 90, 90, 255});
    CKivGuiTempScrollBar *bar = Chat();
    bar->LoadElement(11, "guitest/track");
    bar->SetTrackRange(0, 0x7FFFFFFF);
    // The up arrow's top 20000 pixels above the screen: of a page's 4999
    // tiles, 14 apart, those from about the 1429th to the 1484th cover the
    // screen's height.
    for (int page : {5000, 0x7FFFFFF0}) {
        bar->SetPageSize(page);
        bar->GetDialog()->SetLocation(500, -20000 - 10);
        DrawCount count;
        Frame();
        EXPECT_EQ(RectText(Box(0x5A5A5A, 2)), "509,0,525,768") << page;
        EXPECT_LE(count.Draws(), 768 / 14 + 8) << page;
    }
}

TEST_F(ScrollBar, ShowingTheItemBelowThePageScrollsByExactlyOne)
{
    CKivGuiTempScrollBar *bar = Chat();
    bar->SetTrackRange(0, 30);
    bar->Scroll(5);
    ASSERT_EQ(bar->GetPosition(), 5);
    bar->ShowItem(5 + 8 - 1);
    EXPECT_EQ(bar->GetPosition(), 5) << "the page's last item is shown already";
    bar->ShowItem(5 + 8);
    EXPECT_EQ(bar->GetPosition(), 6);
    bar->ShowItem(6 + 8);
    EXPECT_EQ(bar->GetPosition(), 7);
    bar->ShowItem(6);
    EXPECT_EQ(bar->GetPosition(), 6) << "and the item above it back by one";
}

TEST_F(ScrollBar, TheLargestStepsStopAtTheEndsOfAnyRange)
{
    CKivGuiTempScrollBar *bar = Chat();
    bar->SetPageSize(10);
    bar->SetTrackRange(0, 100);
    bar->Scroll(5);
    bar->Scroll(INT_MAX);
    EXPECT_EQ(bar->GetPosition(), 90);
    bar->Scroll(INT_MIN);
    EXPECT_EQ(bar->GetPosition(), 0);
    bar->SetTrackRange(0, INT_MAX);
    bar->ShowItem(INT_MAX);
    ASSERT_EQ(bar->GetPosition(), INT_MAX - 10);
    bar->Scroll(1);
    EXPECT_EQ(bar->GetPosition(), INT_MAX - 10) << "the last page stays the last";
}

// Controls at the far ends of the int range: the rectangles, points and
// sizes worked out from them stop at the limit instead of wrapping round.
TEST_F(ScrollBar, PlacesAtTheEndsOfTheIntRangeStopThere)
{
    CKivGuiDialog *d = NewDialog(31, 0, 0, 100, 100);
    CKivGuiTempScrollBar *low = new CKivGuiTempScrollBar(d);
    low->Create(1, 0, INT_MAX - 8, 16, INT_MAX, 0, 40);
    CKivGuiTempScrollBar *wide = new CKivGuiTempScrollBar(d);
    wide->Create(2, INT_MIN, 0, INT_MAX, 100, 0, 3);
    for (CKivGuiTempScrollBar *bar : {low, wide}) {
        bar->SetTrackRange(0, 50);
        bar->SetPageSize(8);
        bar->Update(0);
        EXPECT_GE(bar->GetUpRect().bottom, bar->GetUpRect().top) << bar->GetID();
        EXPECT_LE(bar->GetDownRect().top, bar->GetDownRect().bottom) << bar->GetID();
        EXPECT_GE(bar->GetTrackRect().top, bar->GetUpRect().top) << bar->GetID();
        EXPECT_GE(bar->GetThumbRect().bottom, bar->GetThumbRect().top) << bar->GetID();
    }
    EXPECT_EQ(wide->GetWidth(), INT_MAX);
    wide->SetLocation(0, 0);
    EXPECT_EQ(wide->GetRect().right, INT_MAX);

    // A check box's square reaches past its rectangle to the right.
    CKivGuiCheckBox *check = new CKivGuiCheckBox(d);
    check->Create(3, INT_MAX - 10, 0, INT_MAX - 5, 100, "");
    check->Update(0);
    EXPECT_TRUE(check->ContainsPoint(INT_MAX - 2, 50));
    check->SetTooltip("far", 0, 100, INT_MIN, 0);
    EXPECT_EQ(check->GetTooltip()->x, INT_MAX);
    EXPECT_EQ(check->GetTooltip()->y, INT_MIN);

    // The mouse far right of an active dialog far left of the screen.
    d->SetLocation(INT_MIN + 5, 0);
    gui()->SetActiveDialog(d);
    Send(WM_MOUSEMOVE, 1000, 50);
    int x = 0, y = 0;
    d->GetMousePoint(&x, &y);
    EXPECT_EQ(x, INT_MAX);
    EXPECT_EQ(y, 50);

    // A thumb dragged to a point at the int limit stops at the track's end,
    // on the last page.
    CKivGuiTempScrollBar *bar = new CKivGuiTempScrollBar(d);
    bar->Create(4, 40, 0, 56, 100, 0, 3);
    bar->SetTrackRange(0, 50);
    bar->SetPageSize(8);
    bar->Update(0);
    const RECT thumb = bar->GetThumbRect();
    ASSERT_EQ(bar->HandleMouse(WM_LBUTTONDOWN, 45, thumb.bottom - 1, 0, 0), 1);
    bar->HandleMouse(WM_MOUSEMOVE, 45, INT_MAX, 0, 0);
    EXPECT_EQ(bar->GetThumbRect().bottom, bar->GetTrackRect().bottom);
    EXPECT_EQ(bar->GetPosition(), 42);
    bar->HandleMouse(WM_LBUTTONUP, 45, INT_MAX, 0, 0);

    // Statics placed by their size, in whole pixels or not, end at the limit.
    EXPECT_EQ(d->AddStatic(5, INT_MAX - 10, 0, 100, 20, 0, "s")->GetRect().right, INT_MAX);
    EXPECT_EQ(d->SetStatic(6, 2e9f, 0.0f, 1e10f, 20.0f, 0, "s")->GetRect().right, INT_MAX);
}

TEST_F(ScrollBar, WheelArrowsAndPageClicks)
{
    CKivGuiTempScrollBar *bar = Chat();
    bar->SetTrackRange(0, 30);
    bar->ShowItem(29);
    EXPECT_EQ(bar->GetPosition(), 22);
    Send(WM_MOUSEMOVE, 515, 200);
    Wheel(240);
    EXPECT_EQ(bar->GetPosition(), 20) << "two notches up";
    Wheel(-120);
    EXPECT_EQ(bar->GetPosition(), 21);
    Send(WM_LBUTTONDOWN, 515, 132);
    EXPECT_EQ(bar->GetPosition(), 14) << "a click above the thumb scrolls page - 1";
    EXPECT_EQ(GetCapture(), GuiHost::window);
    Send(WM_LBUTTONUP, 515, 132);
    EXPECT_EQ(GetCapture(), nullptr);
    Send(WM_LBUTTONDOWN, 515, 300);
    EXPECT_EQ(bar->GetPosition(), 15) << "down arrow";
    EXPECT_EQ(bar->GetPartState(), CKivGuiTempScrollBar::kDownPressed);
    Send(WM_LBUTTONUP, 515, 300);
    Send(WM_LBUTTONDOWN, 515, 127);
    EXPECT_EQ(GetCapture(), nullptr) << "a press in the gap is not handled and takes no capture";
    Send(WM_LBUTTONUP, 515, 127);
    bar->ShowItem(-4);
    EXPECT_EQ(bar->GetPosition(), 0);
    Send(WM_LBUTTONDOWN, 515, 115);
    EXPECT_EQ(bar->GetPosition(), 0) << "up arrow at the start";
    Send(WM_LBUTTONUP, 515, 115);
}

TEST_F(ScrollBar, DragsRoundClampAndEndOnReleaseOrLostCapture)
{
    CKivGuiTempScrollBar *bar = Chat();
    bar->SetTrackRange(0, 30);
    gui()->Update(0);
    const int top = ThumbY(bar);
    Send(WM_MOUSEMOVE, 515, top + 2);
    Send(WM_LBUTTONDOWN, 515, top + 2);
    EXPECT_EQ(bar->IsDragging(), 1);
    // Items are 116 / 22 = 5.3 pixels of travel; the nearest one is taken.
    Send(WM_MOUSEMOVE, 515, top + 2 + 2);
    EXPECT_EQ(bar->GetPosition(), 0);
    Send(WM_MOUSEMOVE, 515, top + 2 + 4);
    EXPECT_EQ(bar->GetPosition(), 1);
    Send(WM_MOUSEMOVE, 515, 700);
    EXPECT_EQ(bar->GetPosition(), 22) << "past the end: end - page";
    EXPECT_EQ(bar->GetThumbRect().bottom + 100, 289);
    Send(WM_LBUTTONUP, 900, 700);
    EXPECT_EQ(bar->IsDragging(), 0) << "released outside the bar";
    EXPECT_EQ(GetCapture(), nullptr);

    gui()->Update(0);
    Send(WM_MOUSEMOVE, 515, ThumbY(bar) + 1);
    Send(WM_LBUTTONDOWN, 515, ThumbY(bar) + 1);
    ASSERT_EQ(bar->IsDragging(), 1);
    ReleaseCapture();
    EXPECT_EQ(bar->IsDragging(), 0) << "the capture was lost";

    Send(WM_MOUSEMOVE, 515, ThumbY(bar) + 1);
    Send(WM_LBUTTONDOWN, 515, ThumbY(bar) + 1);
    bar->SetTrackRange(0, 8);
    Send(WM_MOUSEMOVE, 515, 200);
    EXPECT_EQ(bar->GetPosition(), 0) << "the range shrank to a page mid-drag";
    Send(WM_LBUTTONUP, 515, 200);
}

TEST_F(ScrollBar, ABarOnlyAsTallAsItsArrowsAndGapsSurvivesADrag)
{
    CKivGuiTempScrollBar *bar = Chat(42);
    bar->SetTrackRange(0, 30);
    bar->Scroll(5);
    gui()->Update(0);
    EXPECT_EQ(bar->GetTrackRect().bottom - bar->GetTrackRect().top, 0);
    const RECT thumb = bar->GetThumbRect();
    Send(WM_MOUSEMOVE, 515, thumb.top + 100);
    Send(WM_LBUTTONDOWN, 515, thumb.top + 100);
    ASSERT_EQ(bar->IsDragging(), 1);
    Send(WM_MOUSEMOVE, 515, 400);
    EXPECT_EQ(bar->GetPosition(), 0);
    Send(WM_LBUTTONUP, 515, 400);
    Frame();
}

} // namespace
