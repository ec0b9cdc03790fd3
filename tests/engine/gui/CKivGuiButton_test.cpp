// Buttons and check boxes driven by window messages: element colours per state read back, click and
// release events, toggles from mouse and keys, event 259 and the non-user-events flag, disabled drawing,
// a check box's hovered element and its blink.
#include <gtest/gtest.h>

#include <string>

#include "engine/gui/CKivGuiButton.h"
#include "gui_host.h"

namespace {

std::string Events;

void Note(int event, int id, CKivGuiControl *, int)
{
    Events += std::to_string(event) + ":" + std::to_string(id) + " ";
}

class Button : public GuiFrame {
protected:
    void SetUp() override
    {
        Events.clear();
        dialog = NewDialog(20, 200, 100, 300, 200);
        dialog->SetCallback(Note, 0);
    }
    // Elements 1..4: red, green, blue, yellow (200 each).
    void Load(CKivGuiControl *c, int count)
    {
        for (int i = 1; i <= count; i++)
            c->LoadElement(i, ("guitest/element" + std::to_string(i)).c_str());
    }
    // The colour at the control's middle, as the frame after an update shows it.
    DWORD Shown(int x = 230, int y = 130)
    {
        gui()->Update(0);
        Frame();
        return Pixel(x, y);
    }
    CKivGuiDialog *dialog = nullptr;
};

TEST_F(Button, StatesDrawTheirElementsAndOnlyAReleaseInsideClicks)
{
    CKivGuiButton *b = new CKivGuiButton(dialog);
    b->Create(5, 10, 20, 50, 40, "ok");
    b->SetRenderStyle(1);
    Load(b, 4);
    EXPECT_EQ(Shown(), 0xC80000u) << "normal";
    Send(WM_MOUSEMOVE, 230, 130);
    EXPECT_EQ(Shown(), 0x00C800u) << "hovered";
    Send(WM_LBUTTONDOWN, 230, 130);
    EXPECT_EQ(Shown(), 0x0000C8u) << "pressed";
    Send(WM_MOUSEMOVE, 600, 600);
    Send(WM_LBUTTONUP, 600, 600);
    EXPECT_EQ(Events.find("16:"), std::string::npos) << Events;
    EXPECT_EQ(b->GetState() & CKivGuiControl::kStatePressed, 0);
    Send(WM_MOUSEMOVE, 230, 130);
    Send(WM_LBUTTONDOWN, 230, 130);
    Send(WM_LBUTTONUP, 230, 130);
    EXPECT_NE(Events.find("16:5"), std::string::npos) << Events;
    b->SetEnabled(0);
    EXPECT_EQ(Shown(), 0x646400u) << "disabled: element 4 at the control's alpha 0.5";
    b->LoadElement(4, "");
    EXPECT_EQ(Shown(), 0x640000u) << "without element 4: element 1";
}

TEST_F(Button, PressedStylesTwoAndFourAnimate)
{
    CKivGuiButton *b = new CKivGuiButton(dialog);
    b->Create(6, 10, 20, 50, 40, "");
    b->SetRenderStyle(4);
    Load(b, 4);
    b->AddAnimation(2, 4, 10.0f, 0);
    Send(WM_MOUSEMOVE, 230, 130);
    Send(WM_LBUTTONDOWN, 230, 130);
    EXPECT_EQ(Shown(), 0x00C800u) << "the animation's first frame, element 2";
    b->SetRenderStyle(0);
    EXPECT_EQ(Shown(), 0u) << "style 0 draws only through its callback";
}

TEST_F(Button, CheckBoxesToggleFromTheMouseAndSpaceAndReport259)
{
    dialog->SetNonUserEvents(1);
    CKivGuiCheckBox *box = new CKivGuiCheckBox(dialog);
    box->Create(7, 10, 20, 150, 40, "label");
    EXPECT_EQ(Events, "259:7 ") << "Create reports the value, not as the user";
    dialog->SetNonUserEvents(0);
    CKivGuiCheckBox *quiet = new CKivGuiCheckBox(dialog);
    quiet->Create(8, 10, 60, 150, 80, "");
    EXPECT_EQ(Events, "259:7 ");
    Load(box, 2);
    EXPECT_EQ(Shown(), 0xC80000u);
    Send(WM_MOUSEMOVE, 230, 130);
    Send(WM_LBUTTONDOWN, 230, 130);
    Send(WM_LBUTTONUP, 230, 130);
    EXPECT_EQ(box->GetChecked(), 1);
    EXPECT_NE(Events.find("4:7 259:7 "), std::string::npos) << Events;
    EXPECT_EQ(Shown(), 0x00C800u);
    Send(WM_LBUTTONDOWN, 230, 130);
    Send(WM_LBUTTONUP, 600, 600);
    EXPECT_EQ(box->GetChecked(), 1) << "released outside: no toggle";
    EXPECT_EQ(box->HandleKeyboard(WM_KEYDOWN, VK_SPACE, 0), 1);
    EXPECT_EQ(box->HandleKeyboard(WM_KEYUP, VK_SPACE, 0), 1);
    EXPECT_EQ(box->GetChecked(), 0);
    EXPECT_EQ(box->HandleKeyboard(WM_KEYUP, VK_SPACE, 0), 1);
    EXPECT_EQ(box->GetChecked(), 0) << "a release without its press";
    EXPECT_EQ(box->HandleKeyboard(WM_KEYDOWN, VK_RETURN, 0), 0);
    box->SetHotkey('C');
    Events.clear();
    SendMessageA(GuiHost::window, WM_KEYDOWN, 'C', 0);
    EXPECT_EQ(box->GetChecked(), 1) << "its hot key through the window";
    EXPECT_EQ(Events, "259:7 ");
    box->SetEnabled(0);
    // Element 1 at 0.5 over black, element 2 at 0.5 over that.
    EXPECT_EQ(Shown(), 0x326400u);
    EXPECT_EQ(box->HandleKeyboard(WM_KEYDOWN, VK_SPACE, 0), 0) << "disabled";
    EXPECT_EQ(box->CanHaveFocus(), 0);
    box->LoadElement(2, "");
    EXPECT_EQ(Shown(), 0u) << "without element 2 nothing is drawn";
}

TEST_F(Button, AnUncheckedBoxShowsItsHoveredElementUnderTheMouseOrWhileBlinking)
{
    CKivGuiCheckBox *box = new CKivGuiCheckBox(dialog);
    box->Create(9, 10, 20, 150, 40, "");
    Load(box, 3);
    Send(WM_MOUSEMOVE, 600, 600);
    EXPECT_EQ(Shown(), 0xC80000u) << "unchecked";
    Send(WM_MOUSEMOVE, 230, 130);
    EXPECT_EQ(Shown(), 0x0000C8u) << "hovered: element 3";
    box->SetChecked(1, 0);
    EXPECT_EQ(Shown(), 0x00C800u) << "checked wins over hovered";
    box->SetChecked(0, 0);
    Send(WM_MOUSEMOVE, 600, 600);
    EXPECT_EQ(Shown(), 0xC80000u);

    // Blinking: the unchecked image changes every half second.
    box->SetBlink(1);
    std::string seen;
    // Watched until it has changed twice, so a slow machine only waits longer;
    // about one change a half second, never one a frame.
    const DWORD start = GetTickCount();
    DWORD elapsed = 0;
    while (seen.size() < 3 && elapsed < 5000) {
        const char phase = Shown() == 0x0000C8u ? '3' : '1';
        if (seen.empty() || seen.back() != phase)
            seen += phase;
        Sleep(50);
        elapsed = GetTickCount() - start;
    }
    EXPECT_EQ(seen.size(), 3u) << seen;
    EXPECT_LE(seen.size() - 1, elapsed / 400 + 1) << seen << " in " << elapsed << " ms";
    box->SetBlink(0);
}

} // namespace
