// Tests of dialogs without a device: a dialog closed by the game from an event of its own controls, with
// freed memory made unreadable, for every event kind and when a drag's end takes the mouse capture from the
// game's window; arrow-key focus onto a check box; a focus the game gives while another control lets go of
// it or while the new one takes it; a control the game takes out of its dialog from its own event, or
// focuses while it is taken out; showing a dialog that was taken out of the GUI system.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/gui/CKivGuiButton.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTempScrollBar.h"
#include "engine/gui/CKivGuiTestEditBox.h"
#include "support/failnew/fail_new.h"

namespace {

LPARAM At(int x, int y)
{
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

// The game's event callback: notes the events and, at the chosen one, closes
// the dialog as the game does (find it, take it out, empty it, delete it).
struct Closer {
    static inline int at = 0;
    static inline bool closed = false;
    static inline std::string events;
    static void OnEvent(int event, int, CKivGuiControl *, int dialogId)
    {
        events += std::to_string(event) + " ";
        if (event != at || closed)
            return;
        CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
        CKivGuiDialog *dialog = gui->FindDialog(dialogId);
        if (!dialog)
            return;
        gui->RemoveDialog(dialog);
        dialog->RemoveAllControls();
        delete dialog;
        closed = true;
    }
};

class DialogClose : public ::testing::Test {
protected:
    // Builds a dialog at (0, 0), 200 x 200, active, whose callback closes it
    // at the event, and runs the messages; the freed dialog and controls must
    // stay untouched.
    void CloseAt(int event, const std::function<void(CKivGuiDialog *)> &build, const std::function<void()> &run)
    {
        GuardFreedBegin();
        CKivGuiDialog *dialog = new CKivGuiDialog(50);
        dialog->SetSize(200, 200);
        gui.AddDialog(dialog);
        gui.SetActiveDialog(dialog);
        build(dialog);
        Closer::at = event;
        Closer::closed = false;
        Closer::events.clear();
        dialog->SetCallback(Closer::OnEvent, 50);
        run();
        const bool closed = Closer::closed;
        if (!closed) {
            gui.RemoveDialog(dialog);
            delete dialog;
        }
        EXPECT_EQ(GuardFreedEnd(), 0) << "freed memory touched after event " << event << " (events "
                                      << Closer::events << ")";
        EXPECT_TRUE(closed) << "event " << event << " never came (events " << Closer::events << ")";
    }
    int Send(UINT message, int x, int y, WPARAM wParam = 0) { return gui.MsgProc(nullptr, message, wParam, At(x, y)); }
    int Key(UINT message, WPARAM key) { return gui.MsgProc(nullptr, message, key, 0); }
    void Click(int x, int y)
    {
        Send(WM_MOUSEMOVE, x, y);
        Send(WM_LBUTTONDOWN, x, y);
        Send(WM_LBUTTONUP, x, y);
    }
    // The mouse comes over the point and a frame passes: hover events.
    void Hover(int x, int y)
    {
        Send(WM_MOUSEMOVE, x, y);
        gui.Update(0.1f);
    }

    CKivGuiSystem gui;
};

TEST_F(DialogClose, FromEveryButtonEvent)
{
    auto build = [](CKivGuiDialog *d) {
        CKivGuiButton *ok = new CKivGuiButton(d);
        ok->Create(1, 10, 10, 60, 40, "OK");
    };
    for (int event : {CKivGuiDialog::kEventFocus, CKivGuiDialog::kEventPress, CKivGuiDialog::kEventClick,
                      CKivGuiDialog::kEventCommand})
        CloseAt(event, build, [this] { Click(20, 20); });
    CloseAt(CKivGuiDialog::kEventHover, build, [this] { Hover(20, 20); });
    // Enter on the default control, Escape on the cancel control.
    auto keyed = [](CKivGuiDialog *d) {
        CKivGuiButton *ok = new CKivGuiButton(d);
        ok->Create(1, 10, 10, 60, 40, "OK");
        d->SetDefaultControl(ok);
        d->SetCancelControl(1);
    };
    for (int event : {CKivGuiDialog::kEventClick, CKivGuiDialog::kEventPress, CKivGuiDialog::kEventCommand})
        CloseAt(event, keyed, [this] { Key(WM_KEYDOWN, VK_RETURN); });
    CloseAt(CKivGuiDialog::kEventCommand, keyed, [this] { Key(WM_KEYDOWN, VK_ESCAPE); });
}

TEST_F(DialogClose, FromEveryCheckBoxEvent)
{
    auto build = [](CKivGuiDialog *d) {
        CKivGuiButton *ok = new CKivGuiButton(d);
        ok->Create(1, 10, 10, 60, 40, "OK");
        ok->SetNeighbour(3, 2);
        CKivGuiCheckBox *box = new CKivGuiCheckBox(d);
        box->Create(2, 100, 10, 180, 40, "box");
        box->SetHotkey('B');
        d->RequestFocus(ok);
    };
    CloseAt(CKivGuiDialog::kEventClick, build, [this] { Click(120, 20); });
    CloseAt(CKivGuiDialog::kEventCheck, build, [this] { Click(120, 20); });
    CloseAt(CKivGuiDialog::kEventHover, build, [this] { Hover(120, 20); });
    CloseAt(CKivGuiDialog::kEventCheck, build, [this] { Key(WM_KEYDOWN, 'B'); });
    CloseAt(CKivGuiDialog::kEventCheck, build, [this] {
        Key(WM_KEYDOWN, VK_RIGHT);
        Key(WM_KEYDOWN, VK_SPACE);
        Key(WM_KEYUP, VK_SPACE);
    });
}

TEST_F(DialogClose, FromEveryEditBoxEvent)
{
    auto build = [](CKivGuiDialog *d) {
        CKivGuiTestEditBox *box = new CKivGuiTestEditBox(d);
        box->Create(3, 10, 10, 190, 30, "", 2, 2);
        d->RequestFocus(box);
    };
    auto type = [this](const wchar_t *text) {
        for (const wchar_t *c = text; *c; c++)
            Key(WM_CHAR, *c);
    };
    CloseAt(CKivGuiTestEditBox::kEventEnterText, build, [&] {
        type(L"hi");
        Key(WM_KEYDOWN, VK_RETURN);
    });
    CloseAt(CKivGuiTestEditBox::kEventEnter, build, [this] { Key(WM_KEYDOWN, VK_RETURN); });
    CloseAt(CKivGuiTestEditBox::kEventEscape, build, [this] { Key(WM_KEYDOWN, VK_ESCAPE); });
    CloseAt(CKivGuiTestEditBox::kEventChanged, build, [&] { type(L"a"); });
    // Delete and Backspace over a selection, Delete at a character.
    auto changed = [&](std::function<void()> edit) {
        CloseAt(CKivGuiTestEditBox::kEventChanged,
                [&](CKivGuiDialog *d) {
                    build(d);
                    static_cast<CKivGuiTestEditBox *>(d->GetControl(3))->SetText("abc", 1);
                },
                edit);
    };
    changed([this] { Key(WM_KEYDOWN, VK_DELETE); });
    changed([this] { Key(WM_CHAR, 8); });
    changed([this] {
        Key(WM_KEYDOWN, VK_HOME);
        Key(WM_KEYDOWN, VK_DELETE);
    });
    // The focus event of a click, and hovering.
    auto unfocused = [](CKivGuiDialog *d) {
        CKivGuiTestEditBox *box = new CKivGuiTestEditBox(d);
        box->Create(3, 10, 10, 190, 30, "", 2, 2);
    };
    CloseAt(CKivGuiDialog::kEventFocus, unfocused, [this] { Click(50, 20); });
    CloseAt(CKivGuiDialog::kEventHover, unfocused, [this] { Hover(50, 20); });
}

// The game's window, holding the mouse capture: its procedure closes the
// dialog when the capture leaves it.
struct CaptureWindow {
    static inline HWND window = nullptr;
    static const int kLost = 1000;   // not an event: the procedure's own note
    static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_CAPTURECHANGED)
            Closer::OnEvent(kLost, -1, nullptr, 50);
        return DefWindowProcW(w, message, wParam, lParam);
    }
    static HWND Get()
    {
        if (!window) {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"KivDialogCapture";
            RegisterClassW(&wc);
            // Message-only: no display needed.
            window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     wc.hInstance, nullptr);
        }
        return window;
    }
};

// Releasing the button ends a drag with ReleaseCapture, which tells the
// window that held the capture before it returns.
TEST_F(DialogClose, WhenADragsEndTakesTheCaptureFromTheGamesWindow)
{
    ASSERT_NE(CaptureWindow::Get(), nullptr);
    auto drag = [this](int x, int y) {
        return [this, x, y] {
            Send(WM_LBUTTONDOWN, x, y);
            SetCapture(CaptureWindow::window);
            Send(WM_LBUTTONUP, x, y);
        };
    };
    CloseAt(CaptureWindow::kLost,
            [](CKivGuiDialog *d) {
                CKivGuiTestEditBox *box = new CKivGuiTestEditBox(d);
                box->Create(3, 10, 10, 190, 30, "", 2, 2);
            },
            drag(50, 20));
    CloseAt(CaptureWindow::kLost,
            [](CKivGuiDialog *d) {
                CKivGuiTempScrollBar *bar = new CKivGuiTempScrollBar(d);
                bar->Create(4, 10, 10, 26, 190, 0, 0);
                bar->SetTrackRange(0, 50);
                bar->SetPageSize(8);
                bar->Update(0);
            },
            drag(15, 30));
    ReleaseCapture();
}

TEST_F(DialogClose, FromEveryScrollBarEvent)
{
    auto build = [](CKivGuiDialog *d) {
        CKivGuiTempScrollBar *bar = new CKivGuiTempScrollBar(d);
        bar->Create(4, 10, 10, 26, 190, 0, 0);
        bar->SetTrackRange(0, 50);
        bar->SetPageSize(8);
        bar->SetFocusOnClick(1);
        bar->Update(0);
    };
    CloseAt(CKivGuiDialog::kEventFocus, build, [this] { Send(WM_MOUSEMOVE, 15, 15); });
    CloseAt(CKivGuiDialog::kEventHover, build, [this] { Hover(15, 100); });
}

// With the events of program calls on, a check box's first event comes from
// its creation, and may close the dialog it joins.
TEST_F(DialogClose, FromTheEventOfACheckBoxBeingCreated)
{
    auto build = [](CKivGuiDialog *d) { d->SetNonUserEvents(1); };
    CloseAt(CKivGuiDialog::kEventCheck, build, [this] {
        CKivGuiDialog *d = gui.FindDialog(50);
        CKivGuiCheckBox *box = new CKivGuiCheckBox(d);
        box->Create(2, 100, 10, 180, 40, "box");
    });
}

// A control that reports the loss of its focus.
class FocusOut : public CKivGuiButton {
public:
    using CKivGuiButton::CKivGuiButton;
    void OnFocusOut() override
    {
        CKivGuiButton::OnFocusOut();
        if (m_dialog)
            m_dialog->SendEvent(CKivGuiDialog::kEventFocus, 1, this);
    }
};

struct Emptier {
    static inline CKivGuiDialog *dialog;
    static void OnEvent(int, int, CKivGuiControl *, int) { dialog->RemoveAllControls(); }
};

TEST_F(DialogClose, ByRemovingAControlWhoseFocusLossEmptiesTheDialog)
{
    GuardFreedBegin();
    CKivGuiDialog *d = new CKivGuiDialog(50);
    gui.AddDialog(d);
    FocusOut *button = new FocusOut(d);
    button->Create(1, 10, 10, 60, 40, "");
    d->RequestFocus(button);
    Emptier::dialog = d;
    d->SetCallback(Emptier::OnEvent, 0);
    d->RemoveControl(1);
    EXPECT_EQ(d->GetControlCount(), 0);
    EXPECT_EQ(d->GetFocusedControl(), nullptr);
    gui.RemoveDialog(d);
    delete d;
    EXPECT_EQ(GuardFreedEnd(), 0);
}

// A registered 300 x 100 dialog at (0, 0), made the active one.
CKivGuiDialog *ActiveDialog(CKivGuiSystem &gui)
{
    CKivGuiDialog *d = new CKivGuiDialog(1);
    d->SetSize(300, 100);
    gui.AddDialog(d);
    gui.SetActiveDialog(d);
    return d;
}

TEST(DialogFocus, ArrowsMoveTheFocusOntoACheckBoxWhoseSpaceChecksIt)
{
    CKivGuiSystem gui;
    CKivGuiDialog *d = ActiveDialog(gui);
    CKivGuiButton *ok = new CKivGuiButton(d);
    ok->Create(1, 10, 10, 60, 40, "OK");
    CKivGuiCheckBox *box = new CKivGuiCheckBox(d);
    box->Create(2, 100, 10, 180, 40, "box");
    CKivGuiButton *next = new CKivGuiButton(d);
    next->Create(3, 200, 10, 260, 40, "next");
    ok->SetNeighbour(3, 2);
    box->SetNeighbour(3, 3);
    Closer::events.clear();
    Closer::at = 0;
    d->SetCallback(Closer::OnEvent, 1);
    d->RequestFocus(ok);
    Closer::events.clear();

    gui.MsgProc(nullptr, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(d->GetFocusedControl(), box);
    EXPECT_EQ(box->GetState() & CKivGuiControl::kStateFocus, CKivGuiControl::kStateFocus);
    EXPECT_EQ(ok->GetState() & CKivGuiControl::kStateFocus, 0);
    EXPECT_EQ(ok->HasFocus(), 0) << "the old control hears that it lost the focus";
    EXPECT_EQ(Closer::events, "") << "a box that refuses the focus by request gets no focus event";
    EXPECT_EQ(gui.MsgProc(nullptr, WM_KEYDOWN, VK_SPACE, 0), 1);
    EXPECT_EQ(gui.MsgProc(nullptr, WM_KEYUP, VK_SPACE, 0), 1);
    EXPECT_EQ(box->GetChecked(), 1);
    EXPECT_EQ(Closer::events, "259 ");
    // The application goes to the back and comes back: the box keeps the focus.
    gui.MsgProc(nullptr, WM_ACTIVATEAPP, 0, 0);
    EXPECT_EQ(box->HasFocus(), 0);
    gui.MsgProc(nullptr, WM_ACTIVATEAPP, 1, 0);
    EXPECT_EQ(box->HasFocus(), 1);
    EXPECT_EQ(box->GetState() & CKivGuiControl::kStateFocus, CKivGuiControl::kStateFocus);
    EXPECT_EQ(d->GetFocusedControl(), box);

    // On along the neighbours: the box gives the focus up like any control.
    gui.MsgProc(nullptr, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(d->GetFocusedControl(), next);
    EXPECT_EQ(box->GetState() & CKivGuiControl::kStateFocus, 0);
    EXPECT_EQ(Closer::events, "259 2 ");
    gui.RemoveDialog(d);
    delete d;
}

struct Refocus {
    static inline CKivGuiDialog *dialog = nullptr;
    static inline int to = 0;
    static const int kFocusIn = 1000;   // a focus-in reached the game
    static inline std::string given;     // the focus events the game got, but the first's own notice of its loss
    static void OnEvent(int event, int id, CKivGuiControl *control, int)
    {
        const bool lost = event == CKivGuiDialog::kEventFocus && id == 1 && !control->HasFocus();
        if (event == CKivGuiDialog::kEventFocus && !lost)
            given += std::to_string(id) + " ";
        if ((lost || event == kFocusIn) && to)
            dialog->FocusControl(std::exchange(to, 0));
    }
};

// A control whose focus-in reaches the game, as an IME edit box's does
// through the window.
template <class Control>
class FocusIn : public Control {
public:
    using Control::Control;
    void OnFocusIn() override
    {
        Control::OnFocusIn();
        if (this->m_dialog)
            this->m_dialog->SendEvent(Refocus::kFocusIn, 1, this);
    }
};

// The game answers a control's loss of the focus, or another's focus-in, by
// focusing a third: that focus stands, by a click's request and by the
// arrows (onto a check box too), no other control keeps the focus beside it,
// and the game hears of no focus but the third's.
TEST(DialogFocus, AFocusTheGameGivesWhileAControlLetsGoOrTakesItStands)
{
    CKivGuiSystem gui;
    CKivGuiDialog *d = ActiveDialog(gui);
    CKivGuiButton *first = new FocusOut(d);
    first->Create(1, 10, 10, 60, 40, "");
    CKivGuiButton *clicked = new CKivGuiButton(d);
    clicked->Create(2, 100, 10, 150, 40, "");
    CKivGuiButton *chosen = new CKivGuiButton(d);
    chosen->Create(3, 200, 10, 250, 40, "");
    CKivGuiCheckBox *box = new CKivGuiCheckBox(d);
    box->Create(4, 10, 50, 60, 90, "");
    CKivGuiButton *taking = new FocusIn<CKivGuiButton>(d);
    taking->Create(5, 100, 50, 150, 90, "");
    CKivGuiCheckBox *takingBox = new FocusIn<CKivGuiCheckBox>(d);
    takingBox->Create(6, 200, 50, 250, 90, "");
    first->SetNeighbour(1, 4);
    clicked->SetNeighbour(1, 5);
    clicked->SetNeighbour(3, 6);
    const CKivGuiControl *const controls[] = {first, clicked, chosen, box, taking, takingBox};
    Refocus::dialog = d;
    d->SetCallback(Refocus::OnEvent, 0);
    auto click = [&](int x, int y) {
        return [&gui, x, y] {
            gui.MsgProc(nullptr, WM_LBUTTONDOWN, 0, At(x, y));
            gui.MsgProc(nullptr, WM_LBUTTONUP, 0, At(x, y));
        };
    };
    auto key = [&](WPARAM k) { return [&gui, k] { gui.MsgProc(nullptr, WM_KEYDOWN, k, 0); }; };
    const std::pair<CKivGuiControl *, std::function<void()>> moves[] = {
        {first, click(120, 20)}, {first, key(VK_DOWN)},    {clicked, click(120, 60)},
        {clicked, key(VK_DOWN)}, {clicked, key(VK_RIGHT)},
    };
    for (const auto &move : moves) {
        d->RequestFocus(move.first);
        Refocus::to = 3;
        Refocus::given.clear();
        move.second();
        EXPECT_EQ(Refocus::to, 0) << "the game was reached";
        EXPECT_EQ(d->GetFocusedControl(), chosen);
        EXPECT_EQ(Refocus::given, "3 ") << "from control " << move.first->GetID();
        for (const CKivGuiControl *c : controls) {
            EXPECT_EQ(c->HasFocus(), c == chosen) << "control " << c->GetID();
            EXPECT_EQ((c->GetState() & CKivGuiControl::kStateFocus) != 0, c == chosen) << "control " << c->GetID();
        }
    }
    gui.RemoveDialog(d);
    delete d;
}

// The game takes a control out of its dialog, without deleting it, from the
// control's own focus or click event.
struct Remover {
    static inline CKivGuiDialog *dialog = nullptr;
    static inline int at = 0;
    static inline std::string events;
    static void OnEvent(int event, int id, CKivGuiControl *, int)
    {
        events += std::to_string(event) + " ";
        if (event == at)
            dialog->RemoveControl(id);
    }
};

TEST(DialogRemove, AControlTakenOutFromItsOwnEventActsNoMoreAsAMember)
{
    CKivGuiSystem gui;
    CKivGuiDialog *d = ActiveDialog(gui);
    Remover::dialog = d;
    d->SetCallback(Remover::OnEvent, 0);
    const struct {
        int at;
        const char *events;
    } cases[] = {{CKivGuiDialog::kEventFocus, "2 "}, {CKivGuiDialog::kEventClick, "2 8 4 "}};
    for (const auto &c : cases) {
        CKivGuiButton *ok = new CKivGuiButton(d);
        ok->Create(1, 10, 10, 60, 40, "OK");
        Remover::at = c.at;
        Remover::events.clear();
        gui.MsgProc(nullptr, WM_LBUTTONDOWN, 0, At(20, 20));
        gui.MsgProc(nullptr, WM_LBUTTONUP, 0, At(20, 20));
        EXPECT_EQ(Remover::events, c.events) << "no event after it left";
        EXPECT_EQ(d->GetControlCount(), 0);
        EXPECT_EQ(d->GetFocusedControlID(), -1);
        EXPECT_EQ(d->GetPressedControlID(), -1);
        EXPECT_EQ(d->GetClickedControlID(), -1);
        delete ok;
    }
    gui.RemoveDialog(d);
    delete d;
}

// The game answers the focus loss that taking a control out starts by
// focusing that very control: it leaves without the focus all the same.
TEST(DialogRemove, AControlTheGameFocusesWhileItIsTakenOutLeavesWithoutTheFocus)
{
    CKivGuiSystem gui;
    CKivGuiDialog *d = ActiveDialog(gui);
    CKivGuiButton *first = new FocusOut(d);
    first->Create(1, 10, 10, 60, 40, "");
    for (int id : {2, 1}) {
        CKivGuiButton *taken = id == 1 ? first : new CKivGuiButton(d);
        if (id == 2)
            taken->Create(2, 100, 10, 150, 40, "");
        d->RequestFocus(first);
        Refocus::dialog = d;
        Refocus::to = id;
        d->SetCallback(Refocus::OnEvent, 0);
        d->RemoveControl(id);
        // Taking out a control without the focus leaves the focus where it is.
        EXPECT_EQ(Refocus::to, id == 1 ? 0 : 2) << "the game was reached only by the focused control's loss";
        EXPECT_FALSE(d->HasControl(taken));
        EXPECT_EQ(d->GetFocusedControl(), id == 1 ? nullptr : first);
        EXPECT_EQ(taken->HasFocus(), 0) << id;
        EXPECT_EQ(taken->GetState() & CKivGuiControl::kStateFocus, 0) << id;
        delete taken;
    }
    gui.RemoveDialog(d);
    delete d;
}

TEST(DialogShow, ADialogTakenOutOfTheGuiSystemAndShownAgainIsHit)
{
    CKivGuiSystem gui;
    CKivGuiDialog *d = new CKivGuiDialog(1);
    d->SetLocation(100, 100);
    d->SetSize(100, 100);
    d->SetLayer(2);
    d->SetModalKind(1);
    gui.AddDialog(d);
    gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(150, 150));
    EXPECT_EQ(gui.GetMouseOverDialog(), d);
    gui.RemoveDialog(d);
    d->SetVisible(0);
    gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(150, 150));
    EXPECT_EQ(gui.GetMouseOverDialog(), nullptr);
    d->SetVisible(1);
    EXPECT_TRUE(gui.IsRegistered(d));
    EXPECT_EQ(gui.GetLayer(2).front(), d) << "in the layer it keeps";
    EXPECT_EQ(gui.HasOpenDialogOfKind(1), 1) << "with the modal kind it keeps";
    gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(150, 150));
    EXPECT_EQ(gui.GetMouseOverDialog(), d);
    EXPECT_EQ(gui.MsgProc(nullptr, WM_LBUTTONDOWN, 0, At(150, 150)), 1);
    EXPECT_EQ(gui.GetActiveDialog(), d);
    delete d;
    EXPECT_FALSE(gui.IsRegistered(d)) << "deleting it still takes it out";
}

} // namespace
