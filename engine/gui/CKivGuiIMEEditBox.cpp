// The IME edit box: compositions typed in or drawn at the caret, results, candidates, readings, focus.
#include "engine/gui/CKivGuiIMEEditBox.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CUniBuffer.h"
#include "engine/gui/GuiIme.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiSums.h"

namespace {

// The last message lParam of Alt, Control and Shift; bit 31 set: released.
LPARAM Modifiers[3] = {LPARAM(0x80000000), LPARAM(0x80000000), LPARAM(0x80000000)};
const WPARAM ModifierKeys[3] = {VK_MENU, VK_CONTROL, VK_SHIFT};

const int StringUnits = 1024;   // the 2048-byte composition reads

// A composition string into text (StringUnits units), terminated inside;
// an error reads as empty. The unit count.
int ReadString(HIMC context, DWORD index, WCHAR *text)
{
    LONG bytes = ImeBinding().ImmGetCompositionStringW(context, index, text, (StringUnits - 1) * sizeof(WCHAR));
    int units = bytes > 0 ? std::min<int>(bytes / sizeof(WCHAR), StringUnits - 1) : 0;
    text[units] = 0;
    return units;
}

int AnsiBytesOf(const WCHAR *text)
{
    return text && text[0] ? WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
}

bool Traditional()
{
    return ImeLanguageId(ImeState().layout) == 0x404;
}

bool Simplified()
{
    return ImeLanguageId(ImeState().layout) == 0x804;
}

// Chinese input methods whose reading the IME support reads by hand.
bool WithoutReadingSupport()
{
    return !ImeBinding().GetReadingString;
}

// The digit an entry of the shown page is labelled with: the tenth reads '0'.
WCHAR EntryDigit(int entry)
{
    return static_cast<WCHAR>('0' + (entry + 1) % 10);
}

void PressKey(BYTE key)
{
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
}

// While a box sends itself keys through the window: the window's owner may
// move the focus before the GUI gets a key, which then reaches no other control.
class OwnKeys {
public:
    explicit OwnKeys(const CKivGuiControl *box) : m_previous(ImeStore().keysFor) { ImeStore().keysFor = box; }
    ~OwnKeys() { ImeStore().keysFor = m_previous; }
    OwnKeys(const OwnKeys &) = delete;
    OwnKeys &operator=(const OwnKeys &) = delete;

private:
    const CKivGuiControl *m_previous;
};

} // namespace

CKivGuiIMEEditBox::CKivGuiIMEEditBox(CKivGuiDialog *dialog) : CKivGuiTestEditBox(dialog)
{
    m_type = 8;
    ImeBindLibraries();
    ImeBinding().ImmDisableTextFrameService(static_cast<DWORD>(-1));
    ImeState().enabled = 1;
    if (Font())
        ImeStore().composition.SetFontNode(Font()->GetNode());
}

// A box deleted in the middle of a composition leaves nothing of it for the
// next box to take back from its own text.
CKivGuiIMEEditBox::~CKivGuiIMEEditBox()
{
    GuiImeStore &s = ImeStore();
    if (s.drawnBy == this)
        s.drawnBy = nullptr;
    if (s.owner != this)
        return;
    ImeForgetTyped();
    ResetComposition();
}

int CKivGuiIMEEditBox::Create(int id, int left, int top, int right, int bottom, const char *text, int leftMargin,
                              int topMargin)
{
    if (!CKivGuiTestEditBox::Create(id, left, top, right, bottom, text, leftMargin, topMargin))
        return 0;
    HWND window = GuiEngineWindow();
    // A box made while another left the window without its context keeps
    // the default one taken before.
    HIMC context = ImeBinding().ImmGetContext(window);
    if (context) {
        ImeState().defaultContext = context;
        ImeBinding().ImmReleaseContext(window, context);
    }
    return 1;
}

void CKivGuiIMEEditBox::Update(float elapsed)
{
    CKivGuiTestEditBox::Update(elapsed);
}

void CKivGuiIMEEditBox::ResetComposition()
{
    GuiImeStore &s = ImeStore();
    s.compositionCaret = 0;
    s.composition.Clear();
    std::memset(s.attributes, 0, sizeof(s.attributes));
}

void CKivGuiIMEEditBox::CancelComposition()
{
    HWND window = GuiEngineWindow();
    HIMC context = ImeBinding().ImmGetContext(window);
    if (!context)
        return;
    ImeBinding().ImmNotifyIME(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
    ImeBinding().ImmReleaseContext(window, context);
}

int CKivGuiIMEEditBox::SendComposition(bool toNewText, bool marked)
{
    // A copy: typing may change the composition store. Out of memory nothing
    // is typed.
    const WCHAR *text = ImeStore().composition.GetText();
    const int count = lstrlenW(text);
    std::unique_ptr<WCHAR[]> units(new (std::nothrow) WCHAR[count + 1]);
    if (!units)
        return 0;
    std::memcpy(units.get(), text, (count + 1) * sizeof(WCHAR));
    return TypeText(units.get(), count, toNewText, marked);
}

int CKivGuiIMEEditBox::TypeText(const WCHAR *text, int count, bool toNewText, bool marked)
{
    // Each character's event may delete the box or give it a new text.
    Guard guard(this);
    const unsigned replaced = m_replaced, ended = ImeStore().ended;
    // A composition typed in stops where an event ended it, or another box
    // took it: whoever did took back what it had typed.
    auto goesOn = [&] { return !marked || (ImeStore().ended == ended && ImeStore().owner == this); };
    int typed = 0;
    m_highSurrogate = 0;
    for (int i = 0; i < count && guard.Alive() && (toNewText || m_replaced == replaced) && goesOn(); i++) {
        const int units = TypeCharacter(text[i], true);
        if (units < 0)
            continue;
        typed += units;
        // The mark grows with what stands just behind it; a character typed
        // elsewhere (an event moved the caret) is left out of it.
        const int at = m_caret - units;
        if (marked && units > 0 && m_buffer->MarkLength() == 0)
            m_buffer->Mark(at, m_caret);
        else if (marked && units > 0 && m_buffer->MarkLast() == at)
            m_buffer->Mark(m_buffer->MarkFirst(), m_caret);
        Changed();
    }
    // A half pair at the end waits for no key typed later.
    if (guard.Alive())
        m_highSurrogate = 0;
    return typed;
}

bool CKivGuiIMEEditBox::TakesWindowKeys() const
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    return m_focus && m_enabled && m_visible && m_dialog && m_dialog->GetFocusedControl() == this &&
           m_dialog->GetVisible() && !m_dialog->IsMarkedForDeletion() && gui && gui->GetActiveDialog() == m_dialog;
}

bool CKivGuiIMEEditBox::FocusedBoxHasFocus()
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivGuiDialog *active = gui ? gui->GetActiveDialog() : nullptr;
    CKivGuiControl *focused = active ? active->GetFocusedControl() : nullptr;
    return focused && focused->GetType() == 8 && focused->HasFocus();
}

void CKivGuiIMEEditBox::AssociateContext(bool give)
{
    ImeState().contextTaken = !give;
    ImeBinding().ImmAssociateContext(GuiEngineWindow(), give ? ImeState().defaultContext : nullptr);
}

bool CKivGuiIMEEditBox::SendOwnKeys(WPARAM key, int times)
{
    // The window's owner may hide, disable or delete the box, or move the
    // focus, before the GUI gets a key.
    Guard guard(this);
    OwnKeys keys(this);
    HWND window = GuiEngineWindow();
    for (int i = 0; i < times; i++) {
        if (!guard.Alive() || !TakesWindowKeys())
            return false;
        SendMessageW(window, WM_KEYDOWN, key, 0);
    }
    return guard.Alive();
}

void CKivGuiIMEEditBox::TakeBackInPlace()
{
    if (!m_buffer)
        return;
    const int first = m_buffer->MarkFirst(), last = m_buffer->MarkLast();
    m_buffer->Unmark();
    if (last <= first)
        return;
    auto follow = [first, last](int p) { return p <= first ? p : p >= last ? p - (last - first) : first; };
    const int caret = follow(m_caret), anchor = follow(m_selStart);
    m_buffer->RemoveRange(first, last);
    PlaceCaret(caret);
    m_selStart = std::min(anchor, GetTextLength());
}

int CKivGuiIMEEditBox::TypedInText(int *first)
{
    const CKivGuiIMEEditBox *owner = ImeStore().owner;
    if (first)
        *first = owner && owner->m_buffer ? owner->m_buffer->MarkFirst() : 0;
    return owner && owner->m_buffer ? owner->m_buffer->MarkLength() : 0;
}

void CKivGuiIMEEditBox::ForgetTyped()
{
    if (m_buffer)
        m_buffer->Unmark();
}

void ImeForgetTyped()
{
    GuiImeStore &s = ImeStore();
    if (s.owner)
        s.owner->ForgetTyped();
    s.owner = nullptr;
    s.ended++;
}

void CKivGuiIMEEditBox::GiveContextToFocusedBox()
{
    if (ImeState().enabled && ImeState().contextTaken && FocusedBoxHasFocus())
        AssociateContext(true);
}

bool CKivGuiIMEEditBox::CompositionMissed(UINT message, LPARAM flags)
{
    GuiImeStore &s = ImeStore();
    WCHAR text[StringUnits];
    int units = 0;
    bool emptied = false;
    if (message == WM_IME_COMPOSITION) {
        HWND window = GuiEngineWindow();
        if (HIMC context = ImeBinding().ImmGetContext(window)) {
            if (flags & GCS_RESULTSTR)
                units = ReadString(context, GCS_RESULTSTR, text);
            emptied = units == 0 && (flags & GCS_COMPSTR) && ReadString(context, GCS_COMPSTR, text) == 0;
            ImeBinding().ImmReleaseContext(window, context);
        }
        // An empty result commits nothing: the composition goes on, and
        // only an emptied one leaves its owner's text.
        if (units == 0 && !emptied)
            return false;
    }
    CKivGuiIMEEditBox *owner = s.owner;
    // What was typed leaves, found by its mark wherever the caret went; a
    // result is typed at the caret, in either mode, as the player would have
    // typed it (the composition may have grown since it was typed).
    if (owner)
        owner->TakeBackInPlace();
    if (emptied) {
        // The composition goes on in its owner.
        s.composition.Clear();
    } else {
        ImeForgetTyped();
        ResetComposition();
        SetHideCaret(0);
        s.readingShown = 0;
    }
    if (!owner || !owner->m_buffer)
        return false;
    if (units == 0)
        return true;
    Guard guard(owner);
    owner->TypeText(text, units, true);
    if (guard.Alive())
        owner->LayoutPass();
    return true;
}

bool CKivGuiIMEEditBox::TakeOverComposition()
{
    GuiImeStore &s = ImeStore();
    CKivGuiIMEEditBox *owner = s.owner;
    if (owner && owner != this) {
        // Its keys, when they still reach it, may delete either box.
        Guard guard(this);
        owner->RemoveTypedComposition(1, 0);
        if (!guard.Alive())
            return false;
    }
    s.owner = this;
    return true;
}

// Only from the text of the box the composition was typed into.
void CKivGuiIMEEditBox::RemoveTypedComposition(int, int)
{
    GuiImeStore &s = ImeStore();
    // Whatever the layout is now: the units stand in the text until taken.
    if (s.owner != this || !m_buffer || m_buffer->MarkLength() <= 0)
        return;
    // Keys only from where the box's own keys left the caret: in the
    // composition with nothing selected. A caret the mouse or the game moved
    // stays where it was put, and so does the selection.
    const bool atComposition =
        m_caret == m_selStart && m_caret >= m_buffer->MarkFirst() && m_caret <= m_buffer->MarkLast();
    if (atComposition && TakesWindowKeys() && GuiEngineWindow()) {
        // Through the window like keys, so the box's own key handling runs;
        // the window's owner may delete the box meanwhile. Each key's event
        // may close the box or take its focus: the keys left would reach
        // whichever box takes the window's keys then. A Backspace counts
        // when it took from the composition's end.
        Guard guard(this);
        OwnKeys keys(this);
        // A text the game sets from a key's event holds nothing of it.
        const unsigned replaced = m_replaced;
        auto takesKeys = [&] { return guard.Alive() && TakesWindowKeys() && m_replaced == replaced; };
        HWND window = GuiEngineWindow();
        while (takesKeys() && m_caret < m_buffer->MarkLast()) {
            const int caret = m_caret;
            SendMessageW(window, WM_KEYDOWN, VK_RIGHT, 0);
            if (!guard.Alive() || m_caret <= caret)
                break;
        }
        if (!guard.Alive())
            return;
        SendMessageW(window, WM_KEYUP, VK_RIGHT, 0);
        while (takesKeys() && m_buffer->MarkLength() > 0 && m_caret == m_buffer->MarkLast()) {
            const int left = m_buffer->MarkLength();
            SendMessageW(window, WM_KEYDOWN, VK_BACK, 0);
            if (takesKeys())
                SendMessageW(window, WM_CHAR, 8, 0);
            if (!guard.Alive())
                return;
            if (m_buffer->MarkLength() >= left)
                break;
        }
        if (!guard.Alive())
            return;
        SendMessageW(window, WM_KEYUP, VK_BACK, 0);
        if (!guard.Alive())
            return;
    }
    // What no key took back (the caret was moved, the box lost the focus, or
    // the window does not route to the GUI) is taken from the text here.
    TakeBackInPlace();
}

void CKivGuiIMEEditBox::RepairModifier(WPARAM released)
{
    for (int i = 0; i < 3; i++) {
        if ((Modifiers[i] & LPARAM(0x80000000)) || ModifierKeys[i] == released ||
            (GetAsyncKeyState(static_cast<int>(ModifierKeys[i])) & 0x8000))
            continue;
        const LPARAM up = (Modifiers[i] & 0x1FF0000) | LPARAM(0xC0000001);
        Modifiers[i] = up;
        // Without a focused window of ours the engine's window takes it.
        HWND focus = GetFocus();
        PostMessageW(focus ? focus : GuiEngineWindow(), WM_KEYUP, ModifierKeys[i], up);
        return;
    }
}

int CKivGuiIMEEditBox::MsgProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_enabled || !m_visible)
        return 0;
    if (!m_inputOff)
        m_swallowKeys = 1;
    if (!ImeState().enabled)
        return CKivGuiTestEditBox::MsgProc(message, wParam, lParam);
    // With input off and keys not taken a composition is left to the default
    // procedure: answered 0 and not counted as reached. Given up here, so no
    // later message types it into this box for it.
    if (message == WM_IME_COMPOSITION && !m_swallowKeys && (lParam & (GCS_RESULTSTR | GCS_COMPSTR))) {
        if (ImeStore().owner == this) {
            RemoveTypedComposition(1, 0);
            ImeForgetTyped();
        }
        return 0;
    }
    if (message == WM_IME_COMPOSITION || message == WM_IME_ENDCOMPOSITION)
        ImeStore().reached++;
    switch (message) {
    case WM_IME_COMPOSITION:
        OnComposition(lParam);
        return 1;
    case WM_IME_ENDCOMPOSITION:
        if (!TakeOverComposition())
            return 0;
        RemoveTypedComposition(1, 0);
        ImeForgetTyped();
        ResetComposition();
        SetHideCaret(0);
        ImeStore().readingShown = 0;
        return 0;
    case WM_IME_NOTIFY:
        return OnNotify(wParam, lParam);
    case WM_KEYUP:
    case WM_SYSKEYUP:
        RepairModifier(wParam);
        // fall through
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        for (int i = 0; i < 3; i++)
            if (ModifierKeys[i] == wParam)
                Modifiers[i] = lParam;
        return CKivGuiTestEditBox::MsgProc(message, wParam, lParam);
    }
    return CKivGuiTestEditBox::MsgProc(message, wParam, lParam);
}

bool CKivGuiIMEEditBox::CheckCompositionFits(const WCHAR *composition)
{
    GuiImeStore &s = ImeStore();
    int a = AnsiBytesOf(composition);
    int b = AnsiBytesOf(GetText());
    // What insert-on-type typed is the old composition, not text.
    if (s.owner == this && m_buffer->MarkLength() > 0 && b > 0) {
        b -= WideCharToMultiByte(CP_ACP, 0, GetText() + m_buffer->MarkFirst(), m_buffer->MarkLength(), nullptr, 0,
                                 nullptr, nullptr);
        if (b <= 1)
            b = 0;
    }
    if (a > 0 && b > 0)
        a--;
    // In 64 bits: a limit near INT_MIN fits nothing.
    const long long limit = lstrcmpA(m_language, "JPN") ? m_maxBytes - 3LL : m_maxBytes;
    return a + b <= limit;
}

bool CKivGuiIMEEditBox::CheckKoreanFits()
{
    GuiImeStore &s = ImeStore();
    bool fits = true;
    if (m_clipToWidth) {
        // Wherever the caret stands, the whole text moves right by it.
        int w = 0, first = 0, end = 0;
        s.composition.CaretToX(std::min(1, s.composition.GetTextSize()), FALSE, &w);
        m_buffer->CaretToX(m_firstVisible, FALSE, &first);
        m_buffer->CaretToX(GetTextLength(), FALSE, &end);
        fits = w <= static_cast<long long>(TextWidth()) - m_leftMargin - (end - first);
    } else {
        // A text already over a lowered limit loses nothing here: the
        // layout pass cuts it.
        const int a = AnsiBytesOf(s.composition.GetText()), b = AnsiBytesOf(GetText());
        fits = b <= m_maxBytes && a + b - 1 <= m_maxBytes;
    }
    if (!fits) {
        // The input method answers the cancel through the window.
        CancelComposition();
        ResetComposition();
    }
    return fits;
}

void CKivGuiIMEEditBox::OnComposition(LPARAM flags)
{
    HWND window = GuiEngineWindow();
    const GuiImeBinding &imm = ImeBinding();
    HIMC context = imm.ImmGetContext(window);
    if (!context || !m_buffer) {
        if (context)
            imm.ImmReleaseContext(window, context);
        return;
    }
    const bool alive = TakeComposition(context, flags);
    imm.ImmReleaseContext(window, context);
    if (alive)
        LayoutPass();
}

// False when the box was deleted meanwhile: typing sends events, and keys go
// through the window.
bool CKivGuiIMEEditBox::TakeComposition(HIMC context, LPARAM flags)
{
    HWND window = GuiEngineWindow();
    const GuiImeBinding &imm = ImeBinding();
    Guard guard(this);
    GuiImeStore &s = ImeStore();
    if (!TakeOverComposition())
        return false;
    WCHAR text[StringUnits];
    if (flags & GCS_CURSORPOS) {
        LONG at = imm.ImmGetCompositionStringW(context, GCS_CURSORPOS, nullptr, 0);
        s.compositionCaret = std::max(0, std::min<int>(at, m_maxBytes));
    }
    if ((flags & GCS_RESULTSTR) && m_swallowKeys) {
        SetHideCaret(0);
        if (ReadString(context, GCS_RESULTSTR, text) > 0) {
            RemoveTypedComposition(0, 0);
            if (!guard.Alive())
                return false;
            s.composition.SetTextW(text);
            SendComposition(true);
            ResetComposition();
            if (!guard.Alive())
                return false;
        }
    }
    bool done = false;
    if ((flags & GCS_COMPSTR) && m_swallowKeys) {
        const int units = ReadString(context, GCS_COMPSTR, text);
        if (units == 0) {
            // Only what the box typed of the composition leaves the text.
            RemoveTypedComposition(1, 0);
            if (!guard.Alive())
                return false;
            s.composition.Clear();
        } else if (!CheckCompositionFits(text)) {
            done = true;
        } else {
            RemoveTypedComposition(0, 0);
            if (!guard.Alive())
                return false;
            s.composition.SetTextW(text);
            if (!lstrcmpA(m_language, "KOR") && !CheckKoreanFits()) {
                if (!guard.Alive())
                    return false;
                done = true;
            } else if (Traditional() && WithoutReadingSupport()) {
                for (int i = 0; i < 4; i++) {
                    s.candidates[i][0] = i < units ? text[i] : 0;
                    s.candidates[i][1] = 0;
                }
                s.candidateCount = std::min(units, 4);
                s.candidateSelection = -1;
                s.pageSize = 10;
                s.composition.Clear();
                s.readingShown = 1;
                if (ImeState().horizontalReading) {
                    s.readingLine[0] = 0;
                    for (int i = 0; i < s.candidateCount; i++)
                        lstrcatW(s.readingLine, s.candidates[i]);
                }
            } else if (ImeState().insertOnType) {
                // Typed over a selection, the composition replaces it: the
                // units the box typed count, not the change in length.
                const unsigned ended = s.ended, replaced = m_replaced;
                SendComposition(false, true);
                if (!guard.Alive())
                    return false;
                // A typing event gave the box a new text, or ended the
                // composition (the game moved the focus or cancelled it), or
                // another box took it: what was typed left the text then,
                // and a mark here now is a newer composition's.
                if (m_replaced != replaced || s.ended != ended || s.owner != this)
                    return true;
                if (!TakesWindowKeys()) {
                    // A typing event moved the focus or the active dialog:
                    // the keys would reach another box, and the composition
                    // goes on there, if anywhere. Taken back here directly.
                    RemoveTypedComposition(1, 0);
                    return true;
                }
                // The caret steps over characters, a surrogate pair as one,
                // to the composition's caret.
                const int to = m_buffer->MarkLength() > 0
                                   ? m_buffer->MarkFirst() + std::min(s.compositionCaret, m_buffer->MarkLength())
                                   : m_caret;
                int behind = 0;
                for (int i = to; i < m_caret; i = NextChar(i))
                    behind++;
                if (SendOwnKeys(VK_LEFT, behind)) {
                    OwnKeys keys(this);
                    SendMessageW(window, WM_KEYUP, VK_LEFT, 0);
                }
                if (!guard.Alive())
                    return false;
            }
        }
        // After the keys above: their Backspaces show the caret again.
        SetHideCaret(1);
    }
    s.compositionCaret = std::max(0, std::min(s.compositionCaret, s.composition.GetTextSize()));
    if (!done && (flags & GCS_COMPATTR)) {
        LONG bytes = imm.ImmGetCompositionStringW(context, GCS_COMPATTR, s.attributes, GuiImeStore::kAttributes - 1);
        s.attributes[std::max(0, std::min<int>(bytes, GuiImeStore::kAttributes - 1))] = 0;
    }
    if (!done && (flags & GCS_COMPCLAUSE)) {
        LONG bytes = imm.ImmGetCompositionStringW(context, GCS_COMPCLAUSE, s.clauses,
                                                  (GuiImeStore::kClauses - 1) * sizeof(DWORD));
        s.clauses[std::max(0, std::min<int>(bytes / 4, GuiImeStore::kClauses - 1))] = 0;
    }
    return true;
}

void CKivGuiIMEEditBox::BuildCandidateLine()
{
    GuiImeStore &s = ImeStore();
    WCHAR line[GuiImeStore::kEntryUnits] = {};
    int used = 0;
    s.selectedStart = s.selectedLength = 0;
    for (int i = 0; i < s.candidateCount; i++) {
        WCHAR item[32];
        lstrcpynW(item, s.candidates[i], 31);
        lstrcatW(item, L" ");
        const int length = lstrlenW(item);
        if (i == s.candidateSelection) {
            s.selectedStart = used;
            s.selectedLength = length - 1;
        }
        lstrcpynW(line + used, item, GuiImeStore::kEntryUnits - used);
        used = lstrlenW(line);
    }
    if (used > 0)
        line[used - 1] = 0;
    s.candidateLine.SetTextW(line);
}

void CKivGuiIMEEditBox::ReadCandidateList()
{
    HWND window = GuiEngineWindow();
    const GuiImeBinding &imm = ImeBinding();
    HIMC context = imm.ImmGetContext(window);
    if (!context)
        return;
    GuiImeStore &s = ImeStore();
    const bool horizontal = !ImeState().verticalCandidates;
    const DWORD size = imm.ImmGetCandidateListW(context, 0, nullptr, 0);
    const DWORD header = offsetof(CANDIDATELIST, dwOffset);
    BYTE *block = size > header && size < (1u << 24)
                      ? static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size))
                      : nullptr;
    if (block && imm.ImmGetCandidateListW(context, 0, reinterpret_cast<CANDIDATELIST *>(block), size) > header) {
        const CANDIDATELIST *list = reinterpret_cast<const CANDIDATELIST *>(block);
        // Only as many offsets as the block holds.
        const int count = static_cast<int>(std::min<DWORD>(list->dwCount, (size - header) / sizeof(DWORD)));
        const int page = list->dwPageSize == 0 ? GuiImeStore::kEntries
                                               : static_cast<int>(std::min<DWORD>(list->dwPageSize, 10));
        int start = static_cast<int>(std::min<DWORD>(list->dwPageStart, count));
        if (ImePrimaryLanguage(ImeState().layout) == kImeJapanese)
            start = static_cast<int>(std::min<DWORD>(list->dwSelection / page * page, count));
        s.candidateSelection = Simplified() && WithoutReadingSupport()
                                   ? -1
                                   : static_cast<int>(list->dwSelection) - start;
        std::memset(s.candidates, 0, sizeof(s.candidates));
        int filled = 0;
        for (int i = start; i < count && filled < page; i++, filled++) {
            WCHAR *entry = s.candidates[filled];
            int at = 0;
            entry[at++] = EntryDigit(filled);
            if (horizontal)
                entry[at++] = ' ';
            const DWORD offset = list->dwOffset[i];
            if (offset >= header && offset < size) {
                const WCHAR *text = reinterpret_cast<const WCHAR *>(block + offset);
                const int available = static_cast<int>((size - offset) / sizeof(WCHAR));
                for (int k = 0; k < available && text[k] && at < GuiImeStore::kEntryUnits - 2; k++)
                    entry[at++] = text[k];
            }
            if (horizontal)
                entry[at++] = ' ';
            entry[at] = 0;
        }
        s.candidateCount = std::max(0, std::min(count - start, page));
    }
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
    imm.ImmReleaseContext(window, context);
    if (ImePrimaryLanguage(ImeState().layout) == kImeKorean || (Traditional() && WithoutReadingSupport()))
        s.candidateSelection = -1;
    if (s.candidateSelection < 0 || s.candidateSelection >= s.candidateCount)
        s.candidateSelection = -1;
    if (horizontal)
        BuildCandidateLine();
}

int CKivGuiIMEEditBox::OnNotify(WPARAM code, LPARAM lParam)
{
    GuiImeStore &s = ImeStore();
    switch (code) {
    case IMN_OPENSTATUSWINDOW:
    case IMN_SETCANDIDATEPOS:
        return 0;
    case IMN_CHANGECANDIDATE:
    case IMN_OPENCANDIDATE:
        s.candidatesShown = 1;
        s.readingShown = 0;
        ReadCandidateList();
        return 1;
    case IMN_CLOSECANDIDATE:
        s.candidatesShown = 0;
        if (!s.readingShown) {
            s.candidateCount = 0;
            std::memset(s.candidates, 0, sizeof(s.candidates));
        }
        return 1;
    case IMN_SETCONVERSIONMODE:
    case IMN_SETOPENSTATUS:
        ImeCheckToggleState();
        return 0;
    case IMN_PRIVATE: {
        HWND window = GuiEngineWindow();
        HIMC context = ImeBinding().ImmGetContext(window);
        if (!context)
            return 0;
        WCHAR text[StringUnits];
        ReadString(context, GCS_COMPSTR, text);
        int consumed = 0;
        if (AnsiBytesOf(text) + AnsiBytesOf(GetText()) - 1 > m_maxBytes - 3LL) {
            consumed = 1;
        } else {
            if (!s.candidatesShown)
                ImeReadReadingString();
            const DWORD id = ImeGetId(0);
            if (id == 0x4010804 || id == 0x4020804 || id == 0x4020404 || id == 0x4030404 || id == 0x4040404)
                consumed = lParam == 1 || lParam == 2;
            else if (id == 0x5000404 || id == 0x5010404 || id == 0x5020404 || id == 0x5030804 || id == 0x6000404)
                consumed = lParam == 16 || lParam == 17 || lParam == 26 || lParam == 27 || lParam == 28;
        }
        ImeBinding().ImmReleaseContext(window, context);
        return consumed;
    }
    }
    return 1;
}

// A press that gives the box the focus ended the syllable being typed before
// (EndInputAt), as every press in the box does.
void CKivGuiIMEEditBox::OnFocusIn()
{
    CKivGuiTestEditBox::OnFocusIn();
    HWND window = GuiEngineWindow();
    const GuiImeBinding &imm = ImeBinding();
    // The context's change and the cancel are sent through the window.
    Guard guard(this);
    AssociateContext(ImeState().enabled);
    if (ImeState().enabled)
        ImeCheckToggleState();
    if (HIMC context = imm.ImmGetContext(window)) {
        if (!ImeState().enabled)
            ImeState().state = 0;
        imm.ImmReleaseContext(window, context);
        ImeCheckToggleState();
    }
}

void CKivGuiIMEEditBox::EndSyllable(bool anyBox)
{
    FinishComposition(0);
    SetHideCaret(0);
    // Given up whatever messages came or did not: a later result that reaches
    // no box is not typed into it. A box deleted meanwhile owns nothing.
    CKivGuiIMEEditBox *owner = ImeStore().owner;
    if (owner && (anyBox || owner == this)) {
        owner->TakeBackInPlace();
        ImeForgetTyped();
        ResetComposition();
    }
}

int CKivGuiIMEEditBox::EndInputAt(int index)
{
    if (ImeStore().owner == this && index > m_buffer->MarkFirst())
        index = std::max(m_buffer->MarkFirst(), index - m_buffer->MarkLength());
    Guard guard(this);
    EndSyllable(true);
    return guard.Alive() ? index : -1;
}

void CKivGuiIMEEditBox::OnFocusOut()
{
    CKivGuiTestEditBox::OnFocusOut();
    Guard guard(this);
    EndSyllable(false);
    // The finish's notices run through the window: a box the game focused
    // from them keeps the context its focus-in gave the window, and so does
    // the active dialog's focused box hidden or disabled for now.
    if (!FocusedBoxHasFocus())
        AssociateContext(false);
    if (guard.Alive() && m_dialog)
        m_dialog->SendEvent(kEventFocusLost, 1, this);
}

void CKivGuiIMEEditBox::FinishComposition(int send)
{
    GuiImeStore &s = ImeStore();
    HWND window = GuiEngineWindow();
    const GuiImeBinding &imm = ImeBinding();
    HIMC context = imm.ImmGetContext(window);
    if (!context) {
        // Without the input method nothing more comes for what was typed.
        RemoveTypedComposition(1, 0);
        return;
    }
    if (!s.finishing) {
        s.finishing = 1;
        // Typing and keys may delete the box; the input method is told all the same.
        Guard guard(this);
        if (!ImeState().insertOnType && send) {
            // In place: the store takes its own text back without moving it.
            const int length = s.composition.GetTextSize();
            if (Traditional() && length > 0 && s.composition.GetText()[length - 1] == 0x3000)
                s.composition.TruncateAt(length - 1);
            else
                s.composition.SetTextW(s.composition.GetText());
            SendComposition();
        }
        // What insert-on-type typed was never committed.
        if (guard.Alive())
            RemoveTypedComposition(1, 0);
        ResetComposition();
        imm.ImmNotifyIME(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
        imm.ImmNotifyIME(context, NI_CLOSECANDIDATE, 0, 0);
        s.finishing = 0;
    }
    imm.ImmReleaseContext(window, context);
}

CUniBuffer *CKivGuiIMEEditBox::DrawnComposition() const
{
    GuiImeStore &s = ImeStore();
    return s.owner == this && m_focus && m_buffer->MarkLength() == 0 ? &s.composition : nullptr;
}

POINT CKivGuiIMEEditBox::CaretOrigin()
{
    int first = 0;
    m_buffer->CaretToX(m_firstVisible, FALSE, &first);
    return POINT{GuiNearestInt(static_cast<long long>(m_caretX) - first + DialogX() + TextIndent()),
                 GuiNearestInt(static_cast<long long>(m_caretY) + DialogY() + m_topMargin)};
}

void CKivGuiIMEEditBox::Render(float elapsed, int unused)
{
    if (!m_dialog || !m_dialog->IsKeyboardInput() || !m_buffer)
        return;
    CKivGuiTestEditBox::Render(elapsed, unused);
    GuiImeStore &s = ImeStore();
    // A press picks from the composition only where it was drawn last.
    if (s.drawnBy == this)
        s.drawnBy = nullptr;
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (!m_visible || m_dialog->GetFocusedControl() != this || !gui || gui->GetActiveDialog() != m_dialog)
        return;
    if (Font()) {
        s.composition.SetFontNode(Font()->GetNode());
        s.candidateLine.SetFontNode(Font()->GetNode());
    }
    s.compositionOrigin = CaretOrigin();
    RenderIndicator(elapsed);
    // Another box's composition is not drawn here.
    if (s.owner == this && ImePrimaryLanguage(ImeState().layout) == kImeKorean)
        RenderKoreanComposition(elapsed);
    else if (s.owner == this)
        RenderComposition(elapsed);
    if (s.readingShown)
        RenderCandidateWindow(elapsed, 1);
    else if (s.candidatesShown)
        RenderCandidateWindow(elapsed, 0);
}

void CKivGuiIMEEditBox::RenderKoreanComposition(float)
{
    GuiImeStore &s = ImeStore();
    const int length = s.composition.GetTextSize();
    if (!GetHideCaret() || !m_focus || !(m_state & kStateFocus) || !m_swallowKeys || length == 0)
        return;
    const int at = std::min(s.compositionCaret, length - 1);
    int lead = 0, trail = 0, first = 0, start = GuiSpan(m_textRect.left, m_caretX);
    s.composition.CaretToX(at, FALSE, &lead);
    s.composition.CaretToX(at + 1, FALSE, &trail);
    m_buffer->CaretToX(m_firstVisible, FALSE, &first);
    // Typed in: the composition starts where insert-on-type put it.
    if (m_buffer->MarkLength() > 0)
        m_buffer->CaretToX(m_buffer->MarkFirst(), FALSE, &start);
    const int height = Font() ? Font()->GetHeight() : 13;
    RECT r;
    r.left = GuiNearestInt(static_cast<long long>(m_textRect.left) + start + lead - first + DialogX() + TextIndent());
    r.top = GuiNearestInt(static_cast<long long>(m_caretY) + DialogY() + m_topMargin);
    r.right = GuiSum(r.left, trail - lead);
    r.bottom = GuiSum(r.top, height);
    if (m_caretVisible)
        DrawElementAt(2, r.left, r.top, (trail - lead) / 15.0f, 1.0f);
    RECT text = {GuiSum(r.left, -lead), r.top, GuiSum(r.left, 1000LL - lead), r.bottom};
    m_dialog->DrawTextW(s.composition.GetText(), &text, m_fontName[0] ? m_fontName : "DefaultFont", 0);
}

void CKivGuiIMEEditBox::RenderComposition(float)
{
    GuiImeStore &s = ImeStore();
    const int length = s.composition.GetTextSize();
    if (length == 0)
        return;
    const POINT o = s.compositionOrigin;
    const char *font = m_fontName[0] ? m_fontName : "DefaultFont";
    const int height = Font() ? Font()->GetHeight() : 13;
    int width = 0;
    s.composition.CaretToX(length, FALSE, &width);
    s.drawnBy = this;
    DrawElementAt(2, o.x, o.y, width / 15.0f, 1.0f);
    RECT r = {o.x, o.y, GuiSum(o.x, width + 100LL), GuiSum(o.y, height)};
    m_dialog->DrawTextW(s.composition.GetText(), &r, font, 0);
    s.firstTarget = -1;
    for (int i = 0; i < length && i < GuiImeStore::kAttributes; i++) {
        const BYTE attribute = s.attributes[i];
        if (attribute != ATTR_TARGET_CONVERTED && attribute != ATTR_TARGET_NOTCONVERTED)
            continue;
        if (s.firstTarget < 0)
            s.firstTarget = i;
        int x0 = 0, x1 = 0;
        s.composition.CaretToX(i, FALSE, &x0);
        s.composition.CaretToX(i + 1, FALSE, &x1);
        const WCHAR unit[2] = {s.composition.GetText()[i], 0};
        RECT c = {GuiSum(o.x, x0), o.y, GuiSum(o.x, x0 + 100LL), GuiSum(o.y, height)};
        if (attribute == ATTR_TARGET_CONVERTED) {
            DrawElementAt(6, c.left, c.top, float(x1 - x0), 1.0f);
            m_dialog->DrawTextW(unit, &c, "DefaultFont3", 0);
        } else {
            DrawElementAt(2, c.left, c.top, (x1 - x0) / 15.0f, 1.0f);
            m_dialog->DrawTextW(unit, &c, font, 0);
        }
    }
}

void CKivGuiIMEEditBox::RenderCandidateWindow(float, int reading)
{
    GuiImeStore &s = ImeStore();
    CKivGuiDxFont *font = Font();
    const char *fontName = m_fontName[0] ? m_fontName : "DefaultFont";
    const int row = (font ? font->GetHeight() : 13) + 6;
    const bool vertical = ImeState().verticalCandidates && !reading;
    const int rows = vertical ? s.candidateCount : 1;
    if (rows <= 0)
        return;
    CUniBuffer measure(1);
    measure.SetFontNode(font ? font->GetNode() : nullptr);
    auto widthOf = [&measure](const WCHAR *text) {
        int x = 0;
        measure.SetTextW(text);
        measure.CaretToX(measure.GetTextSize(), FALSE, &x);
        return x;
    };
    const WCHAR *line = reading ? s.readingLine : s.candidateLine.GetText();
    int width = 0;
    if (vertical)
        for (int i = 0; i < s.candidateCount; i++)
            width = std::max(width, widthOf(s.candidates[i]));
    else
        width = widthOf(line);
    width += 6;
    int caretX = 0;
    s.composition.CaretToX(s.compositionCaret, FALSE, &caretX);
    RECT panel;
    panel.left = GuiSum(s.compositionOrigin.x, caretX);
    panel.bottom = s.compositionOrigin.y;
    panel.right = GuiSum(panel.left, width);
    panel.top = GuiSum(panel.bottom, -static_cast<long long>(rows) * row);
    if (!reading)
        s.candidateRect = panel;
    // Stretched over the rectangle from the image's size on screen, which is
    // its loaded size over the image scale.
    const float imageScale = GuiImageScale();
    auto fill = [&](int element, const RECT &r) {
        CKivGuiSprite *sprite = GetElement(element);
        if (sprite && sprite->GetWidth() > 0 && sprite->GetHeight() > 0)
            DrawElementAt(element, r.left, r.top, (r.right - r.left) * imageScale / sprite->GetWidth(), 1.0f,
                          (r.bottom - r.top) * imageScale / sprite->GetHeight());
    };
    fill(3, RECT{GuiSum(panel.left, -1), GuiSum(panel.top, -1), GuiSum(panel.right, 1), GuiSum(panel.bottom, 1)});
    fill(4, panel);
    if (!reading && s.candidateSelection >= 0) {
        if (vertical) {
            fill(5, RECT{panel.left, GuiSum(panel.top, static_cast<long long>(s.candidateSelection) * row), panel.right,
                         GuiSum(panel.top, (s.candidateSelection + 1LL) * row)});
        } else {
            int x0 = 0, x1 = 0;
            s.candidateLine.CaretToX(s.selectedStart, FALSE, &x0);
            s.candidateLine.CaretToX(s.selectedStart + s.selectedLength, FALSE, &x1);
            fill(5, RECT{GuiSum(panel.left, 3LL + x0), panel.top, GuiSum(panel.left, 3LL + x1), panel.bottom});
        }
    }
    for (int i = 0; i < rows; i++) {
        RECT r = {GuiSum(panel.left, 3), GuiSum(panel.top, static_cast<long long>(i) * row), GuiSum(panel.right, 100),
                  GuiSum(panel.top, (i + 1LL) * row)};
        m_dialog->DrawTextW(vertical ? s.candidates[i] : line, &r, fontName, DT_VCENTER | DT_SINGLELINE);
    }
}

bool CKivGuiIMEEditBox::PickComposition(int x, int y)
{
    GuiImeStore &s = ImeStore();
    const int length = s.composition.GetTextSize();
    const int height = Font() ? Font()->GetHeight() : 13;
    int width = 0;
    s.composition.CaretToX(length, FALSE, &width);
    const POINT o = s.compositionOrigin;
    if (s.drawnBy != this || length == 0 || x < o.x || x >= static_cast<long long>(o.x) + width || y < o.y ||
        y >= static_cast<long long>(o.y) + height)
        return false;
    int hit = 0, trailing = 0;
    s.composition.XToCaret(GuiSpan(o.x, x), &hit, &trailing);
    HWND window = GuiEngineWindow();
    // The input method answers through the window.
    Guard guard(this);
    if (HIMC context = ImeBinding().ImmGetContext(window)) {
        ImeBinding().ImmNotifyIME(context, NI_CLOSECANDIDATE, 0, 0);
        ImeBinding().ImmReleaseContext(window, context);
    }
    if (!guard.Alive())
        return true;
    int from = s.compositionCaret, to = hit;
    const int primary = ImePrimaryLanguage(ImeState().layout);
    if (primary == kImeChinese || primary == kImeJapanese) {
        // Clause numbers: the clause offsets end at the terminating zero.
        auto clauseOf = [&s](int index) {
            int clause = 0;
            for (int i = 1; i < GuiImeStore::kClauses && s.clauses[i] != 0; i++)
                if (static_cast<int>(s.clauses[i]) <= index)
                    clause = i;
            return clause;
        };
        from = clauseOf(from);
        to = clauseOf(to);
    }
    for (int i = from; i < to; i++)
        PressKey(VK_RIGHT);
    for (int i = to; i < from; i++)
        PressKey(VK_LEFT);
    return true;
}

bool CKivGuiIMEEditBox::PickCandidate(int x, int y)
{
    GuiImeStore &s = ImeStore();
    POINT p = {x, y};
    if (!s.candidatesShown || !PtInRect(&s.candidateRect, p))
        return false;
    const int primary = ImePrimaryLanguage(ImeState().layout);
    const bool digits = primary == kImeChinese || primary == kImeKorean;
    if (ImeState().verticalCandidates) {
        // Rows as drawn.
        const int row = (y - s.candidateRect.top) / ((Font() ? Font()->GetHeight() : 13) + 6);
        if (row < 0 || row >= s.candidateCount)
            return true;
        if (digits) {
            PressKey(static_cast<BYTE>(EntryDigit(row)));
        } else if (primary == kImeJapanese) {
            const int from = std::max(s.candidateSelection, 0);
            for (int i = from; i < row; i++)
                PressKey(VK_DOWN);
            for (int i = row; i < from; i++)
                PressKey(VK_UP);
            PressKey(VK_RIGHT);
            PressKey(VK_LEFT);
        }
        return true;
    }
    int hit = 0, trailing = 0;
    s.candidateLine.XToCaret(x - s.candidateRect.left - 3, &hit, &trailing);
    int index = s.candidateCount - 1, end = 0;
    for (int i = 0; i < s.candidateCount; i++) {
        end += std::min(lstrlenW(s.candidates[i]), 30) + 1;
        if (hit < end) {
            index = i;
            break;
        }
    }
    if (digits && index >= 0)
        PressKey(static_cast<BYTE>(EntryDigit(index)));
    return true;
}

int CKivGuiIMEEditBox::HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_LBUTTONDOWN && m_enabled && m_visible) {
        const int ax = GuiSum(x, DialogX()), ay = GuiSum(y, DialogY());
        if (PickComposition(ax, ay) || PickCandidate(ax, ay))
            return 1;
    }
    return CKivGuiTestEditBox::HandleMouse(message, x, y, wParam, lParam);
}
