// The edit box: caret, selection, keys, characters, mouse, clipboard, byte limit, layout and drawing.
#include "engine/gui/CKivGuiTestEditBox.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CUniBuffer.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiSums.h"
#include "engine/gui/GuiText.h"

BYTE CKivGuiTestEditBox::s_hideCaret = 0;

namespace {

const char *const ImeFrames[4] = {
    "Data/Interface/Chat/ime/ime_outline",
    "Data/Interface/Chat/ime/ime_fill",
    "Data/Interface/Chat/ime/ime_focus1",
    "Data/Interface/Chat/ime/ime_focus2",
};

// Two printable bytes of the Korean code page kept by the ANSI clean-up.
bool KeepsPair(BYTE lead, BYTE second)
{
    if (lead >= 161 && lead <= 172)
        return lead != 164 && second < 161;
    return lead >= 129 && lead <= 201;
}

} // namespace

CKivGuiTestEditBox::CKivGuiTestEditBox(CKivGuiDialog *dialog)
    : CKivGuiControl(dialog), m_buffer(new (std::nothrow) CUniBuffer(1024))
{
    m_type = 7;
    s_hideCaret = 0;
    if (m_buffer && Font())
        m_buffer->SetFontNode(Font()->GetNode());
}

CKivGuiTestEditBox::~CKivGuiTestEditBox()
{
    delete m_buffer;
}

int CKivGuiTestEditBox::Create(int id, int left, int top, int right, int bottom, const char *, int leftMargin,
                               int topMargin)
{
    // A box whose text buffer found no memory is never made.
    if (!m_buffer || !CKivGuiControl::Create(id, left, top, right, bottom, ""))
        return 0;
    m_textRect = m_rect;
    m_leftMargin = leftMargin;
    m_topMargin = topMargin;
    m_remainingWidth = 0;
    std::memset(m_language, 0, sizeof(m_language));
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME, m_language, sizeof(m_language) - 1);
    return 1;
}

void CKivGuiTestEditBox::SetSize(int width, int height)
{
    CKivGuiControl::SetSize(width, height);
    m_textRect = m_rect;
}

CKivGuiDxFont *CKivGuiTestEditBox::Font() const
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    return gui ? gui->GetFont(m_fontName[0] ? m_fontName : "DefaultFont") : nullptr;
}

int CKivGuiTestEditBox::SetFont(const char *name)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (name && gui && gui->GetFont(name))
        GuiCopyWhole(m_fontName, sizeof(m_fontName), name);
    else
        m_fontName[0] = 0;
    if (m_buffer && Font())
        m_buffer->SetFontNode(Font()->GetNode());
    return 1;
}

int CKivGuiTestEditBox::SetMaxBytes(int limit)
{
    m_maxBytes = limit;
    return 1;
}

// Each load may end in the box's deletion (LoadElement answers 0): the rest stops.
int CKivGuiTestEditBox::SetSkins(const char *background, const char *caret, const char *selection)
{
    const char *const paths[] = {background, caret, selection, ImeFrames[0], ImeFrames[1], ImeFrames[2], ImeFrames[3]};
    for (int i = 0; i < 7; i++)
        if (!LoadElement(i, paths[i]))
            return 0;
    return 1;
}

void CKivGuiTestEditBox::SetText(const char *text, int selectAll)
{
    if (!m_buffer)
        return;
    m_buffer->SetTextAnsi(text ? text : "");
    m_firstVisible = 0;
    PlaceCaret(GetTextLength());
    m_selStart = selectAll ? 0 : m_caret;
    m_replaced++;
}

void CKivGuiTestEditBox::ClearText()
{
    if (m_buffer)
        m_buffer->Clear();
    m_caret = m_absCaret = m_selStart = m_firstVisible = 0;
    m_limitReached = 0;
    // The caret's place too: a composition's fit is measured from it before
    // the next frame.
    PlaceCaret(0);
    m_replaced++;
}

const char *CKivGuiTestEditBox::GetTextAnsi()
{
    return m_buffer ? m_buffer->GetTextAnsi() : "";
}

const WCHAR *CKivGuiTestEditBox::GetText() const
{
    return m_buffer ? m_buffer->GetText() : L"";
}

int CKivGuiTestEditBox::GetTextLength() const
{
    return m_buffer ? m_buffer->GetTextSize() : 0;
}

int CKivGuiTestEditBox::AnsiBytes(int units) const
{
    return units > 0 ? WideCharToMultiByte(CP_ACP, 0, GetText(), units, nullptr, 0, nullptr, nullptr) : 0;
}

int CKivGuiTestEditBox::PrevChar(int index) const
{
    const WCHAR *t = GetText();
    index = std::min(index, GetTextLength());
    if (index >= 2 && IS_LOW_SURROGATE(t[index - 1]) && IS_HIGH_SURROGATE(t[index - 2]))
        return index - 2;
    return std::max(index - 1, 0);
}

int CKivGuiTestEditBox::NextChar(int index) const
{
    const WCHAR *t = GetText();
    const int length = GetTextLength();
    index = std::max(index, 0);
    if (index + 1 < length && IS_HIGH_SURROGATE(t[index]) && IS_LOW_SURROGATE(t[index + 1]))
        return index + 2;
    return std::min(index + 1, length);
}

void CKivGuiTestEditBox::PlaceCaret(int index)
{
    if (!m_buffer)
        return;
    index = std::max(0, std::min(index, GetTextLength()));
    m_caret = index;
    int x1 = 0, x = 0;
    m_buffer->CaretToX(m_firstVisible, FALSE, &x1);
    m_buffer->CaretToX(index, FALSE, &x);
    m_absCaret = m_caret;
    m_caretX = GuiSum(m_textRect.left, x);
    m_caretY = m_textRect.top;
    const long long room = static_cast<long long>(TextWidth()) - m_leftMargin;
    if (index < m_firstVisible) {
        m_firstVisible = index;
    } else if (x > room + x1 && !m_clipToWidth && m_buffer->GetAnsiLength() <= m_maxBytes) {
        // What typing lets in is kept by the typing (FitsAsTyped): placing
        // the caret only scrolls.
        const int target = GuiNearestInt(x - room);
        int cp = 0, trailing = 0, lead = 0;
        m_buffer->XToCaret(target, &cp, &trailing);
        m_buffer->CaretToX(cp, FALSE, &lead);
        m_firstVisible = lead < target ? NextChar(cp) : cp;
    }
}

void CKivGuiTestEditBox::DeleteSelection()
{
    if (!m_buffer)
        return;
    const int length = GetTextLength();
    const int first = std::max(0, std::min(std::min(m_caret, m_selStart), length));
    const int last = std::max(0, std::min(std::max(m_caret, m_selStart), length));
    if (last > first)
        m_buffer->RemoveRange(first, last);
    PlaceCaret(first);
    m_selStart = m_caret;
}

void CKivGuiTestEditBox::MoveCaret(int index)
{
    PlaceCaret(index);
    if (GetKeyState(VK_SHIFT) >= 0)
        m_selStart = m_caret;
}

void CKivGuiTestEditBox::Changed()
{
    if (m_dialog)
        m_dialog->SendEvent(kEventChanged, 1, this);
}

int CKivGuiTestEditBox::HandleKeyboard(UINT message, WPARAM wParam, LPARAM)
{
    if (!m_enabled || !m_visible)
        return 0;
    if (message == WM_KEYUP)
        return m_swallowKeys;
    if (message != WM_KEYDOWN || !m_buffer)
        return 0;
    const bool control = GetKeyState(VK_CONTROL) < 0;
    switch (wParam) {
    case VK_TAB:
        m_swallowKeys = 0;
        return 0;
    case VK_RETURN: {
        // Either event may delete the box or its dialog.
        Guard guard(this);
        if (GetTextLength() > 0 && m_dialog)
            m_dialog->SendEvent(kEventEnterText, 1, this);
        if (!guard.Alive())
            return 0;
        m_swallowKeys = 0;
        m_limitReached = 0;
        if (m_dialog)
            m_dialog->SendEvent(kEventEnter, 1, this);
        return 0;
    }
    case VK_ESCAPE: {
        const int swallow = m_swallowKeys;
        if (m_dialog)
            m_dialog->SendEvent(kEventEscape, 1, this);
        return swallow;
    }
    case VK_END:
        MoveCaret(GetTextLength());
        return 1;
    case VK_HOME:
        MoveCaret(0);
        return 1;
    case VK_LEFT:
        MoveCaret(control ? m_caret : PrevChar(m_caret));
        return 1;
    case VK_RIGHT:
        MoveCaret(control ? m_caret : NextChar(m_caret));
        return 1;
    case VK_UP:
    case VK_DOWN:
        return 1;
    case VK_DELETE: {
        m_limitReached = 0;
        Guard guard(this);
        if (m_caret != m_selStart) {
            DeleteSelection();
            Changed();
        } else if (m_caret < GetTextLength() && m_buffer->RemoveRange(m_caret, NextChar(m_caret))) {
            Changed();
        }
        if (guard.Alive())
            LayoutPass();
        return 1;
    }
    }
    return m_swallowKeys;
}

int CKivGuiTestEditBox::MsgProc(UINT message, WPARAM wParam, LPARAM)
{
    if (!m_enabled || !m_visible || !m_buffer)
        return 0;
    if (message == WM_KEYUP) {
        if (wParam == VK_TAB || wParam == VK_RETURN)
            m_swallowKeys = 1;
        return 0;
    }
    if (message != WM_CHAR)
        return 0;
    const WCHAR unit = static_cast<WCHAR>(wParam);
    switch (unit) {
    case 1:
        m_selStart = 0;
        PlaceCaret(GetTextLength());
        return 1;
    case 3:
        CopyToClipboard();
        return 1;
    case 24: {
        Guard guard(this);
        CopyToClipboard();
        if (!guard.Alive())
            return 1;
        DeleteSelection();
        m_limitReached = 0;
        Changed();
        return 1;
    }
    case 22: {
        Guard guard(this);
        if (!m_limitReached)
            PasteFromClipboard();
        if (guard.Alive())
            Changed();
        return 1;
    }
    case 8:
        m_limitReached = 0;
        s_hideCaret = 0;
        if (m_caret != m_selStart) {
            DeleteSelection();
            m_selStart = m_caret;
            Guard guard(this);
            Changed();
            if (guard.Alive())
                LayoutPass();
        } else if (m_caret > 0) {
            const int previous = PrevChar(m_caret);
            m_buffer->RemoveRange(previous, m_caret);
            PlaceCaret(previous);
            m_selStart = m_caret;
            Changed();
        }
        return 1;
    case 13:
        m_swallowKeys = 1;
        return 1;
    }
    if (TypeCharacter(unit) >= 0)
        Changed();
    return 1;
}

int CKivGuiTestEditBox::TypeCharacter(WCHAR unit, bool composing)
{
    if (!m_buffer || (unit < 32 && unit != 30 && unit != 31))
        return -1;
    // A surrogate pair comes as two characters and is typed whole, within the
    // limit or not at all; a lone half is never typed.
    const WCHAR high = std::exchange(m_highSurrogate, WCHAR(0));
    if (IS_HIGH_SURROGATE(unit)) {
        m_highSurrogate = unit;
        return -1;
    }
    if (IS_LOW_SURROGATE(unit) && !high)
        return -1;
    const WCHAR units[2] = {high, unit};
    const int count = IS_LOW_SURROGATE(unit) ? 2 : 1;
    if (m_caret != m_selStart)
        DeleteSelection();
    // Never inside a composition typed in: the character goes in front of
    // it, as it does when the composition is drawn at the caret instead.
    if (m_buffer->MarkFirst() < m_caret && m_caret < m_buffer->MarkLast())
        PlaceCaret(m_buffer->MarkFirst());
    const int at = m_caret;
    int from = at;   // where the character stands once the backslashes went
    if (m_buffer->InsertString(at, units + 2 - count, count)) {
        // Every backslash goes with a typed character, the game's too; one
        // refused leaves the text as it was.
        if (FitsAsTyped(composing)) {
            const WCHAR *text = GetText();
            const int length = GetTextLength();
            m_firstVisible -= static_cast<int>(std::count(text, text + std::min(m_firstVisible, length), L'\\'));
            from = at - static_cast<int>(std::count(text, text + at, L'\\'));
            m_buffer->RemoveAll(L'\\');
            PlaceCaret(from + (unit == L'\\' ? 0 : count));
        } else {
            m_buffer->RemoveRange(at, at + count);
        }
        m_selStart = m_caret;
    }
    // Past the edge, the limit or a refused character the caret is back
    // where the character would have gone.
    return m_caret - from;
}

int CKivGuiTestEditBox::CompositionWidth() const
{
    CUniBuffer *composition = DrawnComposition();
    int width = 0;
    if (composition)
        composition->CaretToX(composition->GetTextSize(), FALSE, &width);
    return width;
}

bool CKivGuiTestEditBox::FitsAsTyped(bool composing) const
{
    const WCHAR *text = GetText();
    const int length = GetTextLength();
    int end = 0;
    m_buffer->CaretToX(length, FALSE, &end);
    long long bytes = m_buffer->GetAnsiLength(), width = end;
    // Shown beside the text, not yet in it.
    if (CUniBuffer *drawn = composing ? nullptr : DrawnComposition()) {
        bytes += WideCharToMultiByte(CP_ACP, 0, drawn->GetText(), drawn->GetTextSize(), nullptr, 0, nullptr, nullptr);
        width += CompositionWidth();
    }
    // Gone once the character is in.
    for (int i = 0; i < length; i++) {
        if (text[i] != L'\\')
            continue;
        int x0 = 0, x1 = 0;
        m_buffer->CaretToX(i, FALSE, &x0);
        m_buffer->CaretToX(i + 1, FALSE, &x1);
        width -= x1 - x0;
        bytes--;
    }
    if (bytes > m_maxBytes)
        return false;
    if (!m_clipToWidth)
        return true;
    int first = 0;
    m_buffer->CaretToX(m_firstVisible, FALSE, &first);
    return width - first <= static_cast<long long>(TextWidth()) - m_leftMargin;
}

int CKivGuiTestEditBox::HitIndex(int x)
{
    int first = 0, cp = 0, trailing = 0;
    m_buffer->CaretToX(m_firstVisible, FALSE, &first);
    long long at = static_cast<long long>(x) - m_textRect.left + first - TextIndent();
    // A composition drawn at the caret: a press on it lands at the caret,
    // one behind it on the character drawn there.
    if (const int gap = CompositionWidth()) {
        int caret = 0;
        m_buffer->CaretToX(m_caret, FALSE, &caret);
        if (at >= caret && at < static_cast<long long>(caret) + gap)
            return m_caret;
        if (at >= caret)
            at -= gap;
    }
    if (FAILED(m_buffer->XToCaret(GuiNearestInt(at), &cp, &trailing)))
        return -1;
    // Measured in units: a hit on either half of a pair lands before or behind all of it.
    if (trailing && cp < GetTextLength())
        return NextChar(cp);
    const WCHAR *t = GetText();
    if (cp > 0 && cp < GetTextLength() && IS_LOW_SURROGATE(t[cp]) && IS_HIGH_SURROGATE(t[cp - 1]))
        cp--;
    return cp;
}

int CKivGuiTestEditBox::HandleMouse(UINT message, int x, int y, WPARAM, LPARAM)
{
    if (!m_enabled || !m_visible || !m_buffer)
        return 0;
    switch (message) {
    case WM_LBUTTONDOWN: {
        // Measured on the text as drawn at the press, before what the press
        // ends (a syllable being typed) changes it: the caret goes to the
        // character clicked. The focus event may delete the box or its dialog.
        Guard guard(this);
        const unsigned replaced = m_replaced;
        int index = ContainsPoint(x, y) ? EndInputAt(HitIndex(x)) : -1;
        if (guard.Alive() && m_dialog)
            m_dialog->RequestFocus(this);
        if (!guard.Alive())
            return 1;
        if (!ContainsPoint(x, y))
            return 0;
        m_dragging = 1;
        // The capture's change is sent through the window.
        if (HWND window = GuiEngineWindow())
            SetCapture(window);
        if (!guard.Alive())
            return 1;
        // A text the game set meanwhile is measured as it stands.
        if (m_replaced != replaced)
            index = HitIndex(x);
        if (index >= 0) {
            PlaceCaret(index);
            m_selStart = m_caret;
        }
        return 1;
    }
    case WM_MOUSEMOVE:
        if (m_dragging) {
            const int index = HitIndex(x);
            if (index >= 0)
                PlaceCaret(index);
        }
        return 0;
    case WM_LBUTTONUP:
        m_dragging = 0;
        // Last: the capture's loss is sent through the window, whose owner
        // may close the box.
        ReleaseCapture();
        return 0;
    }
    return 0;
}

// The clipboard's calls may send its owner, the window, a message: the
// selection is taken first and the box is touched no more.
void CKivGuiTestEditBox::CopyToClipboard()
{
    if (m_caret == m_selStart || !m_buffer)
        return;
    const int length = GetTextLength();
    const int first = std::max(0, std::min(std::min(m_caret, m_selStart), length));
    const int last = std::max(0, std::min(std::max(m_caret, m_selStart), length));
    // Copied before the clipboard is opened: emptying it may send the window
    // a message whose owner closes the box.
    const size_t count = last - first;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (count + 1) * sizeof(WCHAR));
    WCHAR *units = block ? static_cast<WCHAR *>(GlobalLock(block)) : nullptr;
    if (!units) {
        if (block)
            GlobalFree(block);
        return;
    }
    std::memcpy(units, GetText() + first, count * sizeof(WCHAR));
    units[count] = 0;
    GlobalUnlock(block);
    if (!OpenClipboard(GuiEngineWindow())) {
        GlobalFree(block);
        return;
    }
    EmptyClipboard();
    // The system owns the block once it took it.
    if (SetClipboardData(CF_UNICODETEXT, block))
        block = nullptr;
    if (block)
        GlobalFree(block);
    CloseClipboard();
}

// The clipboard's text is read whole before the box is touched again: its
// calls may send the window a message, whose owner may close the box.
void CKivGuiTestEditBox::PasteFromClipboard()
{
    if (!m_buffer)
        return;
    DeleteSelection();
    Guard guard(this);
    if (!OpenClipboard(GuiEngineWindow()))
        return;
    std::wstring text;
    bool read = false;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const WCHAR *clip = data ? static_cast<const WCHAR *>(GlobalLock(data)) : nullptr) {
        const size_t units = GlobalSize(data) / sizeof(WCHAR);
        // Out of memory nothing is pasted; the clipboard is still closed.
        try {
            for (size_t i = 0; i < units && clip[i]; i++)
                if (clip[i] != L'\\')
                    text += clip[i];
            read = true;
        } catch (const std::exception &) {
        }
        GlobalUnlock(data);
    }
    CloseClipboard();
    if (!read || !guard.Alive())
        return;
    for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;)
        text.erase(at, 2);
    // Typed in as the player types, character by character: what typing
    // refuses (control characters, half a pair) stays out, and the paste
    // stops at the first character past the limit or the box's edge, keeping
    // what fits before it.
    const int count = std::min(static_cast<int>(text.size()), static_cast<int>(kStagingUnits) - 1);
    m_highSurrogate = 0;
    for (int i = 0; i < count; i++)
        if (TypeCharacter(text[i]) == 0)
            break;
    m_highSurrogate = 0;
    m_selStart = m_caret;
}

bool CKivGuiTestEditBox::RemoveChar(WCHAR unit, WCHAR *text)
{
    if (!text)
        return false;
    WCHAR *out = text;
    bool removed = false;
    for (const WCHAR *in = text; *in; in++) {
        if (*in == unit)
            removed = true;
        else
            *out++ = *in;
    }
    *out = 0;
    return removed;
}

bool CKivGuiTestEditBox::HasCharOutsideLanguage(const char *language, int allowAscii)
{
    struct Range {
        WCHAR first, last;
    };
    static const Range Korean[] = {{0xAC00, 0xD7AF}, {0x1100, 0x11FF}, {0x3130, 0x318F}};
    static const Range Japanese[] = {{0x3040, 0x309F}, {0x30A0, 0x30FF}, {0x31F0, 0x31FF}, {0x4E00, 0x9FCF},
                                     {0x3400, 0x4DBF}, {0xFF10, 0xFF19}, {0xFF21, 0xFF5A}, {0xFF66, 0xFF9F}};
    static const Range Chinese[] = {{0x4E00, 0x9FCF}, {0x3400, 0x4DBF}, {0xFF10, 0xFF19}, {0xFF21, 0xFF5A}};
    const char *name = language && language[0] ? language : m_language;
    const Range *ranges = nullptr;
    int count = 0;
    if (!lstrcmpA(name, "KOR"))
        ranges = Korean, count = 3;
    else if (!lstrcmpA(name, "JPN"))
        ranges = Japanese, count = 8;
    else if (!lstrcmpA(name, "CHT"))
        ranges = Chinese, count = 4;
    for (const WCHAR *c = GetText(); *c; c++) {
        if (allowAscii && ((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z')))
            continue;
        if (!std::any_of(ranges, ranges + count, [c](const Range &r) { return *c >= r.first && *c <= r.last; }))
            return true;
    }
    return false;
}

// Out of memory the text stays as it was.
bool CKivGuiTestEditBox::RemoveInvalidAnsi()
try {
    if (!m_buffer)
        return false;
    const std::string text = GuiCutWhole(m_buffer->GetTextAnsi(), 1023);
    const int n = static_cast<int>(text.size());
    std::string kept;
    bool dropped = false;
    for (int i = 0; i < n;) {
        const BYTE b = static_cast<BYTE>(text[i]);
        if (b >= 32 && b <= 126) {
            kept += text[i++];
        } else if (i + 1 < n && KeepsPair(b, static_cast<BYTE>(text[i + 1]))) {
            kept.append(text, i, 2);
            i += 2;
        } else {
            // Two bytes go, but never the terminator.
            dropped = true;
            i += i + 1 < n ? 2 : 1;
        }
    }
    if (dropped || n < static_cast<int>(std::strlen(m_buffer->GetTextAnsi()))) {
        m_buffer->SetTextAnsi(kept.c_str());
        PlaceCaret(std::min(m_caret, GetTextLength()));
        m_selStart = m_caret;
    }
    return dropped;
} catch (const std::exception &) {
    return false;
}

void CKivGuiTestEditBox::LayoutPass()
{
    if (!m_buffer)
        return;
    const int length = GetTextLength();
    m_absCaret = std::max(0, std::min(m_absCaret, length));
    for (int i = 0; i < length;) {
        const int next = NextChar(i);
        if (AnsiBytes(next) >= m_maxBytes) {
            m_buffer->RemoveRange(i, length);
            PlaceCaret(std::min(m_caret, i));
            m_selStart = m_caret;
            m_limitReached = 1;
            break;
        }
        i = next;
    }
    int width = 0;
    m_buffer->CaretToX(GetTextLength(), FALSE, &width);
    m_remainingWidth = GuiNearestInt(static_cast<long long>(TextWidth()) - m_leftMargin - width);
}

void CKivGuiTestEditBox::Update(float elapsed)
{
    // The hover event may delete the box.
    Guard guard(this);
    CKivGuiControl::Update(elapsed);
    if (!guard.Alive())
        return;
    m_textRect = m_rect;
    if (m_dialog && m_dialog->IsKeyboardInput()) {
        m_blink += elapsed;
        m_caretVisible = (static_cast<int>(2 * m_blink) & 1) ? 1 : 0;
    } else {
        m_caretVisible = 0;
    }
}

int CKivGuiTestEditBox::DialogX() const
{
    int x = 0;
    if (m_dialog)
        m_dialog->GetLocation(&x, nullptr);
    return x;
}

int CKivGuiTestEditBox::DialogY() const
{
    int y = 0;
    if (m_dialog)
        m_dialog->GetLocation(nullptr, &y);
    return y;
}

void CKivGuiTestEditBox::DrawElementAt(int element, int x, int y, float scaleX, float alpha, float scaleY)
{
    CKivGuiSprite *sprite = GetElement(element);
    if (!sprite)
        return;
    // Scaled about its bottom-left corner: the top edge of the image as drawn
    // (loaded height x scale / image scale) is put at y.
    const float xy[2] = {static_cast<float>(x),
                         y + sprite->GetHeight() * scaleY / GuiImageScale() - sprite->GetHeight()};
    sprite->SetPosition(xy, 0);
    const float scale[2] = {scaleX, scaleY};
    sprite->SetScale(scale);
    sprite->SetAlpha(alpha);
    sprite->Render();
}

int CKivGuiTestEditBox::TextIndent()
{
    if (!m_centred)
        return m_leftMargin;
    int width = 0;
    m_buffer->CaretToX(GetTextLength(), FALSE, &width);
    width += CompositionWidth();
    const long long room = static_cast<long long>(TextWidth()) - m_leftMargin;
    return GuiSum(m_leftMargin, std::max(0LL, (room - width) / 2));
}

void CKivGuiTestEditBox::Render(float, int)
{
    if (!m_dialog || !m_dialog->IsKeyboardInput() || !m_visible || !m_buffer)
        return;
    if (Font())
        m_buffer->SetFontNode(Font()->GetNode());
    PlaceCaret(m_caret);
    const int dx = DialogX(), dy = DialogY();
    // On screen: the box's rectangle moved by the dialog's place.
    const RECT r = {GuiSum(m_textRect.left, dx), GuiSum(m_textRect.top, dy), GuiSum(m_textRect.right, dx),
                    GuiSum(m_textRect.bottom, dy)};
    const int indent = TextIndent();
    DrawElementAt(0, r.left, r.top, 1.0f, m_focus ? 1.0f : 0.5f);

    int firstX = 0, selX = 0, caretX = 0;
    m_buffer->CaretToX(m_firstVisible, FALSE, &firstX);
    m_buffer->CaretToX(m_caret, FALSE, &caretX);
    if (m_caret != m_selStart) {
        m_buffer->CaretToX(std::min(m_selStart, GetTextLength()), FALSE, &selX);
        int left = std::min(caretX, selX) - firstX, right = std::max(caretX, selX) - firstX;
        left = std::max(left, 0);
        const int width =
            GuiNearestInt(std::min<long long>(right - left, static_cast<long long>(TextWidth()) - m_leftMargin));
        if (width > 0)
            DrawElementAt(2, GuiSum(r.left, static_cast<long long>(indent) + left), GuiSum(r.top, m_topMargin),
                          width / 15.0f, 1.0f);
    }

    const char *font = m_fontName[0] ? m_fontName : "DefaultFont";
    // From the first visible character; the composition stands at the caret.
    RECT text = {GuiSum(r.left, indent), GuiSum(r.top, m_topMargin), r.right, r.bottom};
    const WCHAR *t = GetText();
    const int first = std::min(m_firstVisible, m_caret);
    std::wstring before(t + first, t + m_caret);
    m_dialog->DrawTextW(before.c_str(), &text, font, 0);
    RECT after = text;
    after.left = GuiSum(after.left, static_cast<long long>(caretX) - firstX + CompositionWidth());
    m_dialog->DrawTextW(t + m_caret, &after, font, 0);

    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (m_focus && m_caretVisible && !s_hideCaret && (m_state & kStateFocus) && gui &&
        gui->GetActiveDialog() == m_dialog) {
        DrawElementAt(1, GuiNearestInt(static_cast<long long>(m_caretX) - firstX - 1 + indent + dx),
                      GuiNearestInt(static_cast<long long>(m_caretY) + m_topMargin + dy), 1.0f, 1.0f);
    }
}
