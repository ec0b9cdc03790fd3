// The GUI's calls with memory running out: every allocation of each call fails in turn, nothing escapes, the
// objects stay whole (live blocks come back to those of a run without failures), and teardown allocates
// nothing.
#include <windows.h>

#include <imm.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "engine/gui/CKivGuiButton.h"
#include "engine/gui/CKivGuiIMEEditBox.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiTempScrollBar.h"
#include "engine/gui/CKivGuiTooltipManager.h"
#include "engine/gui/CKivSprite.h"
#include "engine/gui/CUniBuffer.h"
#include "editbox_host.h"
#include "scripted_ime.h"
#include "support/failnew/fail_new.h"
#include "support/failnew/fail_new_sweep.h"
#include "support/failnew/malloc_probe.h"

namespace {

struct GuiCall {
    const char *name;
    std::function<void()> call;
};

// The game's own new-expression: a control or dialog whose constructor finds
// no memory fails as the allocation of the object itself would.
template <class T, class... Args>
T *Made(Args... args)
{
    try {
        return new T(args...);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// Controls and an edit box on a dialog, as a game screen builds them.
void Build(CKivGuiDialog *d)
{
    CKivGuiStatic *label = d->AddStatic(11, 10, 10, 300, 40, 0, "\xC7\xD1\xB1\xDB label");
    if (label) {
        label->SetFont("DefaultFont2");
        label->SetBackgroundImage("guitest/red");
        label->SetTooltip("tip", 0, 0, 0, 1);
    }
    CKivGuiButton *button = Made<CKivGuiButton>(d);
    if (button && button->Create(12, 10, 60, 90, 80, "ok")) {
        button->LoadElement(1, "guitest/element1");
        d->AddControl(button);
    } else {
        delete button;
    }
    CKivGuiCheckBox *check = Made<CKivGuiCheckBox>(d);
    if (!check || !check->Create(16, 10, 130, 30, 150, "check"))
        delete check;
    CKivGuiIMEEditBox *box = Made<CKivGuiIMEEditBox>(d);
    if (box && box->Create(13, 10, 100, 400, 120, "", 2, 3)) {
        box->SetSkins("skin/back", "skin/caret", "skin/select");
        d->AddControl(box);
    } else {
        delete box;
    }
    d->SetBackgroundImage("guitest/white");
}

class GuiOutOfMemory : public EditFixture {};

TEST_F(GuiOutOfMemory, InAnyGuiCallLeavesTheObjectsWhole)
{
    CKivGuiSystem *g = gui();
    CKivGuiDialog *d = dialog;
    // The fixture's event log would grow with every run of the sweep.
    d->SetCallback(nullptr, 0);
    HWND w = GuiHost::window;
    const std::string longText(300, 'x');
    int kept = 0;   // new tooltips kept after their making failed
    // Korean typed in as it is composed, through the scripted input method;
    // its notes kept in room of their own.
    ScriptedIme::Install(w);
    ScriptedIme::log.reserve(4096);
    const std::vector<GuiCall> calls = {
        {"Dialog::Build", [d] { d->RemoveAllControls(); Build(d); }},
        {"Static::SetText", [d, &longText] { d->GetControl(11) && d->GetControl(11)->SetText(longText.c_str()); }},
        {"Static::SetFont", [d] {
             if (auto *s = static_cast<CKivGuiStatic *>(d->GetControl(11, CKivGuiStatic::kType)))
                 s->SetFont("DefaultFont_Red");
         }},
        {"Dialog::SetStatic", [d] {
             d->SetStatic(14, 5.0f, 5.0f, 0, "set");
             CKivGuiControl *made = d->GetControl(14);
             d->RemoveControl(14);
             delete made;
         }},
        {"Control::SetTooltip", [d] { d->GetControl(12) && (d->GetControl(12)->SetTooltip("tip2", 1, 2, 3, 2), 1); }},
        {"EditBox::SetText", [d, &longText] {
             if (auto *box = static_cast<CKivGuiIMEEditBox *>(d->GetControl(13)))
                 box->SetText(longText.c_str(), 1);
         }},
        {"IMEEditBox::Compose", [d, w, g] {
             auto *box = static_cast<CKivGuiIMEEditBox *>(d->GetControl(13, 8));
             if (!box)
                 return;
             ScriptedIme::log.clear();
             d->FocusControl(13);
             box->Update(0.0f);
             box->SetText("", 0);
             ImeState().insertOnType = 1;
             // Typed in, the caret placed and taken back with keys, committed.
             ScriptedIme::Compose({L"\xD55C\xB098"});
             ScriptedIme::Compose({L"\xD558"});
             ScriptedIme::CommitAnd(L"\xD55C", L"\xB098");
             // A new text under it, an end that reaches no box, a layout change.
             box->SetText("ab", 0);
             ScriptedIme::Compose({L"\xD558"});
             box->SetVisible(0);
             ImeBinding().ImmNotifyIME(nullptr, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
             box->SetVisible(1);
             ScriptedIme::Compose({L"\xB098"});
             g->MsgProc(w, WM_INPUTLANGCHANGE, 0, 0x04120412);
             ScriptedIme::Finish();
             // A surrogate pair typed in two halves.
             SendMessageW(w, WM_CHAR, 0xD83D, 0);
             SendMessageW(w, WM_CHAR, 0xDE00, 0);
             ImeState().insertOnType = 0;
             box->ClearText();
         }},
        {"System::MsgProc", [g, w] {
             g->MsgProc(w, WM_MOUSEMOVE, 0, MAKELPARAM(20, 65));
             g->MsgProc(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 105));
             g->MsgProc(w, WM_LBUTTONUP, 0, MAKELPARAM(20, 105));
             g->MsgProc(w, WM_CHAR, 'a', 0);
             g->MsgProc(w, WM_KEYDOWN, VK_BACK, 0);
         }},
        {"System::UpdateAndRender", [g] {
             g->Update(0.1f);
             GuiHost::base->Lock();
             g->Render(0.1f);
             GuiHost::base->Unlock();
         }},
        {"TooltipManager::AddTooltip", [g, &kept] {
             CKivGuiTooltipManager *tips = g->GetTooltipManager();
             // A new tooltip whose dialog or lines found no memory is not kept.
             for (int id : {77, 78}) {
                 const bool fresh = !tips->FindTooltip(id);
                 CKivGuiTooltip *made = tips->AddTooltip(id == 77 ? 1 : 3, id, 100, id == 77 ? 100 : 300, 200,
                                                         id == 77 ? "tooltip text" : "notice", 0, 0.05f, 1.0f, 4,
                                                         id == 77 ? -1 : 2, 0);
                 // Counted: a failure noted here would need memory.
                 kept += fresh && !made && tips->FindTooltip(id);
             }
             tips->Update(0.1f);
         }},
        {"TooltipManager::AddFollowingTooltip", [g] {
             CKivGuiTooltipManager *tips = g->GetTooltipManager();
             tips->AddFollowingTooltip(0, 79, "nobody", "head", 200, "follows", 0, 0.05f, 1.0f, 4, -1);
             tips->Update(0.1f);
         }},
        {"Dialog::SetLayer", [d] {
             d->SetLayer(2);
             d->SetModalKind(2);
             d->SetModalKind(0);
             d->SetLayer(1);
         }},
        {"System::LoadImage", [g] {
             if (g->LoadImage(1, "guitest/blue", "blue", "guitest/"))
                 g->ReleaseImage("guitest/blue");
         }},
        {"System::AddFont", [g] { g->AddFont("hfont40", GuiDotum, "SweepFont", 12, 500, 0xFFFFFFFF, 1, 0); }},
        {"Sprite::AddSprite", [] {
             CKivSprite sprites;
             sprites.AddSprite("tall", "guitest/", "tall", 1, 2);
             sprites.SetSpriteAlpha("tall", 0.5f);
         }},
        {"UniBuffer::SetTextAnsi", [&longText] { CUniBuffer text; text.SetTextAnsi(longText.c_str()); text.Analyse(); }},
        {"ScrollBar::Create", [d] {
             CKivGuiTempScrollBar *bar = Made<CKivGuiTempScrollBar>(d);
             if (bar && bar->Create(15, 500, 10, 514, 200, 0, 3)) {
                 bar->LoadSkins();
                 d->RemoveControl(15);
                 delete bar;
             } else {
                 delete bar;
             }
         }},
        {"Dialog::Teardown", [g] {
             CKivGuiDialog *made = Made<CKivGuiDialog>(90);
             if (!made)
                 return;
             g->AddDialog(made);
             Build(made);
             delete made;
         }},
    };
    const auto stage = [&] { Build(d); };
    const auto unstage = [&] {
        d->RemoveAllControls();
        d->SetBackgroundImage(nullptr);
        while (g->GetTooltipManager()->GetCount())
            g->GetTooltipManager()->Update(1.0f);
    };

    stage();
    for (const GuiCall &entry : calls)
        entry.call();
    unstage();
    const long blocks = KivLiveHeapBlocks(), cBlocks = MallocProbeLive();

    stage();
    int escaped = 0;
    for (const GuiCall &entry : calls)
        escaped += FailNewSweep(entry.name, entry.call);
    EXPECT_EQ(0, escaped);
    EXPECT_EQ(0, kept) << "new tooltips kept after their making failed";
    unstage();
    EXPECT_EQ(blocks, KivLiveHeapBlocks()) << "blocks lost or kept by a call that ran out of memory";
    EXPECT_EQ(cBlocks, MallocProbeLive()) << "C runtime blocks lost or kept by a call that ran out of memory";

    // Teardown allocates nothing: a full dialog, then the GUI system's own
    // resources, go with no memory at all.
    stage();
    CKivGuiDialog *made = new CKivGuiDialog(91);
    g->AddDialog(made);
    Build(made);
    CKivCamera *camera = g->GetCamera();
    CKivViewport *viewport = g->GetViewport();
    FailNewBegin(0);
    bool threw = false;
    try {
        delete made;
        d->RemoveAllControls();
        g->ReleaseAll();
    } catch (...) {
        threw = true;
    }
    const long refused = FailNewRefused();
    FailNewEnd();
    EXPECT_FALSE(threw);
    EXPECT_EQ(0, refused) << "teardown asked for memory";
    // The host's GUI back for the tests after this one.
    GuiHost::base->CreateFonts(GuiDotum);
    g->SetCamera(camera);
    g->SetViewport(viewport);
    g->AddDialog(d);
    // The IME box that lost the focus left the window without its input
    // context: the system's default one back for the boxes after this test.
    ImeInstallBinding(nullptr);
    ImmAssociateContextEx(GuiHost::window, nullptr, IACE_DEFAULT);
}

} // namespace
