// Tests of the GUI system, dialogs and the control base without a device: modal hit tests, message
// routing, focus walks, events, callbacks that delete what is being walked, animations and hover.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiControl.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiResourceManager.h"
#include "engine/gui/CKivGuiSystem.h"

namespace {

// A control that notes what reaches it and answers mouse messages as told.
class Probe : public CKivGuiControl {
public:
    Probe(CKivGuiDialog *dialog, int id, int left, int top, int right, int bottom) : CKivGuiControl(dialog)
    {
        Create(id, left, top, right, bottom, "");
    }
    int HandleMouse(UINT message, int x, int y, WPARAM, LPARAM) override
    {
        log += message == WM_MOUSEMOVE ? "move " : "mouse ";
        lastX = x;
        lastY = y;
        // The callback may delete this control.
        const int a = answer;
        if (onMouse)
            onMouse();
        return a;
    }
    void OnFocusOut() override
    {
        log += "out ";
        CKivGuiControl::OnFocusOut();
    }
    std::string log;
    int answer = 1, lastX = 0, lastY = 0;
    std::function<void()> onMouse;
};

LPARAM At(int x, int y)
{
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

class GuiSystem : public ::testing::Test {
protected:
    CKivGuiDialog *Dialog(int id, int x, int y, int kind = 0)
    {
        CKivGuiDialog *d = new CKivGuiDialog(id);
        d->SetLocation(x, y);
        d->SetSize(100, 100);
        gui.AddDialog(d);
        d->SetModalKind(kind);
        return d;
    }
    int Click(int x, int y) { return gui.MsgProc(nullptr, WM_LBUTTONDOWN, 0, At(x, y)); }
    CKivGuiDialog *HitAt(int x, int y)
    {
        gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(x, y));
        return gui.GetMouseOverDialog();
    }
    void TearDown() override
    {
        for (int layer = 0; layer < 4; layer++)
            while (!gui.GetLayer(layer).empty())
                delete gui.GetLayer(layer).front();
    }
    CKivGuiSystem gui;
};

TEST_F(GuiSystem, ModalKindsDecideWhatTheMouseCanHit)
{
    CKivGuiDialog *plain = Dialog(1, 0, 0);
    CKivGuiDialog *over = Dialog(2, 0, 200, 2);
    EXPECT_EQ(HitAt(100, 100), plain) << "bounds are inclusive";
    CKivGuiDialog *modal = Dialog(3, 200, 0, 1);
    EXPECT_EQ(HitAt(50, 50), nullptr);
    EXPECT_EQ(Click(50, 50), 1) << "a click under a modal is swallowed";
    EXPECT_EQ(gui.GetActiveDialog(), nullptr);
    EXPECT_EQ(HitAt(50, 250), over);
    EXPECT_EQ(HitAt(250, 50), modal);
    CKivGuiDialog *second = Dialog(4, 250, 0, 1);
    EXPECT_EQ(HitAt(260, 50), second);
    EXPECT_EQ(HitAt(210, 50), nullptr) << "only the last registered kind-1 dialog";
    modal->SetVisible(1);
    EXPECT_EQ(HitAt(260, 50), modal) << "shown again, it is first";
    CKivGuiDialog *top = Dialog(5, 500, 0, 3);
    EXPECT_EQ(HitAt(50, 250), nullptr) << "kind 3 is modal over everything";
    EXPECT_EQ(HitAt(550, 50), top);
    top->SetVisible(0);
    EXPECT_EQ(HitAt(50, 250), over);
    EXPECT_EQ(gui.HasOpenDialogOfKind(3), 0);
    EXPECT_EQ(gui.AddDialog(plain), 0);
    EXPECT_EQ(gui.FindDialog(4), second);
}

TEST_F(GuiSystem, MessagesMissingEveryDialogGoToTheActiveOne)
{
    CKivGuiDialog *a = Dialog(1, 0, 0);
    Probe *probe = new Probe(a, 7, 0, 0, 50, 50);
    EXPECT_EQ(gui.MsgProc(nullptr, WM_LBUTTONUP, 0, At(10, 10)), 0) << "no active dialog yet";
    EXPECT_EQ(Click(10, 10), 1);
    EXPECT_EQ(gui.GetActiveDialog(), a);
    probe->answer = 0;
    EXPECT_EQ(Click(500, 500), 0) << "the active dialog's answer";
    probe->answer = 1;
    EXPECT_EQ(gui.MsgProc(nullptr, WM_RBUTTONDOWN, 0, At(500, 500)), 0) << "outside every control";
    EXPECT_EQ(gui.MsgProc(nullptr, WM_RBUTTONDOWN, 0, At(20, 20)), 1);
    // Without an IME edit box the context message is the caller's, as it came.
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(gui.MsgProc(window, WM_IME_SETCONTEXT, TRUE, ISC_SHOWUIALL), 0);
    DestroyWindow(window);
    // Under capture the mouse is left of the window: signed coordinates.
    gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(-50, 30));
    int x, y;
    gui.GetMousePosition(&x, &y);
    EXPECT_EQ(x, -50);
    EXPECT_EQ(y, 30);
    a->MsgProc(nullptr, WM_MOUSEMOVE, 0, At(-50, 30));
    a->GetMousePoint(&x, &y);
    EXPECT_EQ(x, -50);
    a->MsgProc(nullptr, WM_MOUSEWHEEL, 0, At(70, 70));
    a->GetMousePoint(&x, &y);
    EXPECT_EQ(x, -50) << "the wheel does not move the point";
}

TEST_F(GuiSystem, ShowingBringsToTheFrontAndRemovalPromotesTheNextActive)
{
    CKivGuiDialog *a = Dialog(1, 0, 0);
    CKivGuiDialog *b = Dialog(2, 0, 0);
    EXPECT_EQ(gui.GetLayer(1).front(), b);
    Click(10, 10);
    EXPECT_EQ(gui.GetActiveDialog(), b);
    a->SetVisible(1);
    EXPECT_EQ(gui.GetLayer(1).front(), a);
    EXPECT_EQ(gui.GetActiveDialog(), b);
    b->SetLayer(2);
    EXPECT_EQ(gui.GetActiveDialog(), b) << "re-registering keeps it active";
    b->SetLayer(1);
    gui.RemoveDialog(b);
    EXPECT_EQ(gui.GetActiveDialog(), a);
    gui.RemoveDialog(a);
    EXPECT_EQ(gui.GetActiveDialog(), nullptr);
    delete a;
    delete b;
}

TEST_F(GuiSystem, ControlsTakeClicksInOrderAndDisabledOnesOnlyMoves)
{
    CKivGuiDialog *d = Dialog(1, 100, 100);
    Probe *first = new Probe(d, 1, 0, 0, 50, 50);
    Probe *second = new Probe(d, 2, 10, 10, 60, 60);
    d->MsgProc(nullptr, WM_LBUTTONDOWN, 0, At(120, 120));
    EXPECT_EQ(first->log, "mouse ");
    EXPECT_EQ(first->lastX, 20);
    EXPECT_EQ(second->log, "");
    first->SetEnabled(0);
    EXPECT_FLOAT_EQ(first->GetAlpha(), 0.5f);
    d->MsgProc(nullptr, WM_LBUTTONDOWN, 0, At(120, 120));
    d->MsgProc(nullptr, WM_MOUSEMOVE, 0, At(120, 120));
    EXPECT_EQ(first->log, "mouse move ");
    EXPECT_EQ(second->log, "mouse ");
    first->SetEnabled(1);
    EXPECT_FLOAT_EQ(first->GetAlpha(), 1.0f);

    // Empty space takes the focus away, and the control hears it.
    d->RequestFocus(second);
    second->answer = 0;
    d->MsgProc(nullptr, WM_LBUTTONDOWN, 0, At(190, 190));
    EXPECT_EQ(d->GetFocusedControlID(), -1);
    EXPECT_EQ(second->HasFocus(), 0);
    EXPECT_NE(second->log.find("out"), std::string::npos);
}

TEST_F(GuiSystem, ArrowsSkipDisabledNeighboursAndStopOnALoop)
{
    CKivGuiDialog *d = Dialog(1, 0, 0);
    Probe *a = new Probe(d, 1, 0, 0, 10, 10);
    Probe *b = new Probe(d, 2, 0, 10, 10, 20);
    Probe *c = new Probe(d, 3, 0, 20, 10, 30);
    a->SetNeighbour(1, 2);
    b->SetNeighbour(1, 3);
    b->SetEnabled(0);
    d->RequestFocus(a);
    d->MsgProc(nullptr, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(d->GetFocusedControlID(), 3);
    EXPECT_EQ(a->HasFocus(), 0) << "the old control is told it lost the focus";
    EXPECT_EQ(a->GetState() & CKivGuiControl::kStateFocus, 0);
    EXPECT_EQ(c->GetState() & CKivGuiControl::kStateFocus, CKivGuiControl::kStateFocus);
    // c -> b -> c ... with b disabled: the walk ends, the focus stays.
    c->SetNeighbour(1, 2);
    b->SetNeighbour(1, 3);
    d->MsgProc(nullptr, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(d->GetFocusedControlID(), 3);
    EXPECT_EQ(c->HasFocus(), 1);
    EXPECT_EQ(c->log, "") << "re-focusing is not a loss";
    EXPECT_EQ(b->GetState() & CKivGuiControl::kStateFocus, 0);
}

struct EventLog {
    static inline std::string text;
    static inline CKivGuiDialog *victim;
    static void Note(int event, int id, CKivGuiControl *, int user)
    {
        text += std::to_string(event) + ":" + std::to_string(id) + ":" + std::to_string(user) + " ";
    }
    static void DeleteDialog(int event, int, CKivGuiControl *, int)
    {
        text += std::to_string(event) + " ";
        delete victim;
    }
    static void RemoveControls(int event, int, CKivGuiControl *, int)
    {
        text += std::to_string(event) + " ";
        victim->RemoveAllControls();
    }
};

TEST_F(GuiSystem, EventsReachTheCallbackAndCallbacksMayDeleteWhatIsWalked)
{
    CKivGuiDialog *d = Dialog(1, 0, 0);
    Probe *ok = new Probe(d, 5, 0, 0, 50, 50);
    new Probe(d, 6, 60, 0, 90, 50);
    d->SetDefaultControl(ok);
    d->SetCancelControl(6);
    EventLog::text.clear();
    d->SetCallback(EventLog::Note, 42);
    d->FocusControl(5);
    d->MsgProc(nullptr, WM_KEYDOWN, VK_RETURN, 0);
    d->MsgProc(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);
    d->SendEvent(CKivGuiDialog::kEventCheck, 0, ok);
    EXPECT_EQ(EventLog::text, "2:5:42 4:5:42 8:5:42 16:5:42 16:6:42 ") << "program events are dropped by default";
    EXPECT_EQ(d->GetClickedControlID(), 5);
    EXPECT_EQ(d->GetPressedControlID(), 5);

    // A click whose event deletes the dialog, then one that empties it.
    ok->onMouse = [ok] { ok->GetDialog()->SendEvent(CKivGuiDialog::kEventCommand, 1, ok); };
    EventLog::victim = d;
    d->SetCallback(EventLog::RemoveControls, 0);
    EXPECT_EQ(Click(10, 10), 1);
    EXPECT_EQ(d->GetControlCount(), 0);
    ok = new Probe(d, 5, 0, 0, 50, 50);
    ok->onMouse = [ok] { ok->GetDialog()->SendEvent(CKivGuiDialog::kEventCommand, 1, ok); };
    ok->answer = 0;
    new Probe(d, 7, 0, 0, 50, 50);
    d->SetCallback(EventLog::DeleteDialog, 0);
    EventLog::text.clear();
    EXPECT_EQ(Click(10, 10), 1);
    EXPECT_EQ(EventLog::text, "16 ");
    EXPECT_FALSE(gui.IsRegistered(d));
    EXPECT_EQ(gui.GetActiveDialog(), nullptr);
    EXPECT_EQ(gui.MsgProc(nullptr, WM_KEYDOWN, VK_RETURN, 0), 0);
}

struct Counter {
    static inline int renders;
    static void Count(int) { renders++; }
};

TEST_F(GuiSystem, UpdateDeletesFlaggedDialogsAndTracksHover)
{
    CKivGuiDialog *a = Dialog(1, 0, 0);
    CKivGuiDialog *c = Dialog(3, 600, 0);
    CKivGuiDialog *b = Dialog(2, 200, 0);
    Probe *p = new Probe(b, 9, 10, 10, 30, 30);
    a->MarkForDeletion();
    gui.Update(0.1f);
    EXPECT_EQ(gui.GetLayer(1).size(), 2u);
    EXPECT_EQ(gui.FindDialog(1), nullptr);

    // The hover event deletes a dialog the same walk has still to update.
    EventLog::text.clear();
    EventLog::victim = c;
    b->SetCallback(EventLog::DeleteDialog, 0);
    gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(215, 15));
    gui.Update(0.1f);
    EXPECT_EQ(EventLog::text, "1 ");
    EXPECT_EQ(gui.FindDialog(3), nullptr);
    b->SetCallback(nullptr, 0);
    EXPECT_EQ(p->GetState() & CKivGuiControl::kStateMouseOver, CKivGuiControl::kStateMouseOver);
    EXPECT_EQ(gui.GetMouseOverControl(), p);
    gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(250, 50));
    gui.Update(0.1f);
    EXPECT_EQ(p->GetState() & CKivGuiControl::kStateMouseOver, 0);
    EXPECT_EQ(gui.GetMouseOverControl(), nullptr);
    b->SetVisible(0);
    gui.MsgProc(nullptr, WM_MOUSEMOVE, 0, At(215, 15));
    gui.Update(0.1f);
    EXPECT_EQ(p->GetState(), 0) << "a hidden dialog's controls do not track the mouse";

    // A camera that cannot begin an update draws nothing.
    CKivCamera unmade("unmade");
    gui.SetCamera(&unmade);
    b->SetVisible(1);
    Counter::renders = 0;
    b->SetRenderCallback(Counter::Count, 0);
    gui.AddRenderCallback(Counter::Count, 0);
    gui.Render(0.1f);
    EXPECT_EQ(Counter::renders, 0);
    gui.RemoveRenderCallback(Counter::Count);
}

TEST(GuiControl, AnimationsTextAndResourceCounts)
{
    CKivGuiControl control(nullptr);
    control.AddAnimation(2, 5, 0.1f, 0);
    std::string frames;
    for (int i = 0; i < 9; i++) {
        control.DrawAnimation(2, 0.11f, 0, 0);
        frames += std::to_string(2 + control.GetAnimationFrame());
    }
    EXPECT_EQ(frames, "345234523");
    // 998 ASCII bytes and a double-byte character: cut before the character.
    std::string text(998, 'a');
    text += "\xC7\xD1";
    control.SetText(text.c_str());
    EXPECT_EQ(std::string(control.GetText()), std::string(998, 'a'));

    CKivGuiResourceManager resources;
    int type = 77;
    EXPECT_EQ(resources.GetResource("none", &type), nullptr);
    EXPECT_EQ(type, 77);
    EXPECT_EQ(resources.AddRef("none"), 1);
    EXPECT_EQ(resources.ReleaseRef("none"), 0);
    EXPECT_EQ(resources.AddResource("x", 9, &type), 1);
    EXPECT_EQ(resources.AddResource("x", 1, nullptr), 1);
    EXPECT_EQ(resources.GetResource("x", &type), &type);
    EXPECT_EQ(type, 9);
    EXPECT_EQ(resources.ReleaseRef("x"), 0);
    EXPECT_EQ(resources.ReleaseRef("x"), -1);
    EXPECT_EQ(resources.HasResource("x"), 1) << "nothing is freed by counting";
}

} // namespace
