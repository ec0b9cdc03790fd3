// The one-line edit box: UTF-16 text, caret and selection, clipboard, a byte limit on the ANSI form, skins.
#pragma once

#include <windows.h>

#include "engine/gui/CKivGuiControl.h"

class CUniBuffer;
class CKivGuiDxFont;

class CKivGuiTestEditBox : public CKivGuiControl {
public:
    enum : int {
        kEventEnterText = 514,
        kEventChanged = 515,
        kEventEscape = 516,
        kEventEnter = 517,
        kStagingUnits = 1024,
    };

    explicit CKivGuiTestEditBox(CKivGuiDialog *dialog);
    ~CKivGuiTestEditBox() override;

    void Update(float elapsed) override;
    void Render(float elapsed, int unused) override;
    int MsgProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    int HandleKeyboard(UINT message, WPARAM wParam, LPARAM lParam) override;
    int HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM lParam) override;
    int CanHaveFocus() override { return m_visible && m_enabled; }
    using CKivGuiControl::Create;
    virtual int Create(int id, int left, int top, int right, int bottom, const char *text, int leftMargin,
                       int topMargin);

    void SetSize(int width, int height);
    void SetClipToWidth(int flag) { m_clipToWidth = flag; }
    int SetFont(const char *name);
    int SetMaxBytes(int limit);
    void SetCentred(int flag) { m_centred = flag; }
    int SetSkins(const char *background, const char *caret, const char *selection);
    void SetText(const char *text, int selectAll);
    void ClearText();
    const char *GetTextAnsi();
    const WCHAR *GetText() const;
    int GetTextLength() const;
    void SetCaretVisible(int flag) { m_caretVisible = flag; }
    void PlaceCaret(int index);
    void DeleteSelection();
    void CopyToClipboard();
    void PasteFromClipboard();
    static bool RemoveChar(WCHAR unit, WCHAR *text);
    bool HasCharOutsideLanguage(const char *language, int allowAscii);
    bool RemoveInvalidAnsi();
    // Clamps the caret, cuts the text below the byte limit, keeps the
    // remaining width.
    void LayoutPass();

    int GetCaret() const { return m_caret; }
    int GetSelectionStart() const { return m_selStart; }
    int GetFirstVisible() const { return m_firstVisible; }
    int GetCaretX() const { return m_caretX; }
    int GetMaxBytes() const { return m_maxBytes; }
    int IsLimitReached() const { return m_limitReached; }
    int GetRemainingWidth() const { return m_remainingWidth; }
    void SetInputOff(int flag) { m_inputOff = flag; }
    int GetCaretVisible() const { return m_caretVisible; }
    const char *GetLanguage() const { return m_language; }
    const char *GetFontNameText() const { return m_fontName; }
    static void SetHideCaret(int flag) { s_hideCaret = static_cast<BYTE>(flag); }
    static int GetHideCaret() { return s_hideCaret; }

protected:
    // The unit index of the character before or after index, a surrogate
    // pair counting as one.
    int PrevChar(int index) const;
    int NextChar(int index) const;
    // The caret index under a dialog-relative x in the text as drawn (a
    // composition drawn at the caret pushes what follows it right); -1 when
    // it cannot be found.
    int HitIndex(int x);
    // A press in the box ends what it ends before the caret is placed; the
    // index the press hit, kept on its character in the text left after
    // that, or -1 when the box went meanwhile.
    virtual int EndInputAt(int index) { return index; }
    void MoveCaret(int index);
    // One character by the rules of typing: control characters refused, a
    // surrogate pair whole or not at all, the selection replaced, the byte
    // limit and the width kept, every backslash of the text gone with it,
    // never inside a composition typed in; no event. A composition drawn at
    // the caret counts as the text shown, as one typed in does, unless the
    // unit is part of a composition or result being typed (composing). The
    // units it left in the text (0 to 2; the caret stands behind them), or
    // -1 when it typed nothing (refused, or the first half of a pair waiting
    // for the second).
    int TypeCharacter(WCHAR unit, bool composing = false);
    // Whether the text as it will be shown, without its backslashes, keeps
    // the byte limit and, in a box that clips, fits its width wherever the
    // last character went in.
    bool FitsAsTyped(bool composing) const;
    void Changed();
    void DrawElementAt(int element, int x, int y, float scaleX, float alpha, float scaleY = 1.0f);
    // Where the text starts inside the text rectangle: the left margin, or in
    // a centred box the start of the line centred with its composition, so
    // the caret, the composition and the text after it share one origin.
    int TextIndent();
    // The composition drawn over the text at the caret, if any.
    virtual CUniBuffer *DrawnComposition() const { return nullptr; }
    // Room left for it at the caret.
    int CompositionWidth() const;
    CKivGuiDxFont *Font() const;
    int DialogX() const;
    int DialogY() const;
    int TextWidth() const { return GuiSpan(m_textRect.left, m_textRect.right); }
    // Bytes of the ANSI form of the first units of the text, terminator not counted.
    int AnsiBytes(int units) const;

    CUniBuffer *m_buffer;
    RECT m_textRect = {};
    int m_caretVisible = 1;
    int m_centred = 0;
    int m_selStart = 0;
    int m_firstVisible = 0;
    int m_dragging = 0;
    int m_caretX = 0;
    int m_caretY = 0;
    char m_fontName[256] = "DefaultFont";
    int m_leftMargin = 0;
    int m_topMargin = 0;
    int m_caret = 0;
    int m_absCaret = 0;
    int m_inputOff = 0;
    int m_maxBytes = 60;
    float m_blink = 0;
    int m_clipToWidth = 1;
    BYTE m_limitReached = 0;
    WCHAR m_highSurrogate = 0;   // the first half of a pair, typed with the second
    int m_remainingWidth = 0;
    char m_language[10] = {};
    unsigned m_replaced = 0;   // counts the texts the game set or cleared

    static BYTE s_hideCaret;
};
