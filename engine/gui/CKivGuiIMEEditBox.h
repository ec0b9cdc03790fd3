// The edit box with input-method support: compositions, results, candidates and readings drawn by the GUI.
#pragma once

#include "engine/gui/CKivGuiTestEditBox.h"

class CKivGuiIMEEditBox : public CKivGuiTestEditBox {
public:
    enum : int { kEventFocusLost = 519 };

    explicit CKivGuiIMEEditBox(CKivGuiDialog *dialog);
    ~CKivGuiIMEEditBox() override;

    void Update(float elapsed) override;
    void Render(float elapsed, int unused) override;
    int MsgProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    int HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM lParam) override;
    void OnFocusIn() override;
    void OnFocusOut() override;
    int Create(int id, int left, int top, int right, int bottom, const char *text, int leftMargin,
               int topMargin) override;
    using CKivGuiTestEditBox::Create;
    virtual void RenderCandidateWindow(float elapsed, int reading);
    virtual void RenderComposition(float elapsed);
    virtual void RenderKoreanComposition(float elapsed);
    virtual void RenderIndicator(float) {}

    void FinishComposition(int send);
    void CancelComposition();
    static void ResetComposition();
    // Types the composition in, character by character as keys would, and
    // stops at a text the game sets from an event unless toNewText; marked:
    // what it types is marked in the text as the composition typed in. The
    // units typed.
    int SendComposition(bool toNewText = true, bool marked = false);
    // Takes back what insert-on-type typed of the composition, found by its
    // mark in the text; the box always inserts, so nothing is kept whatever
    // the arguments say.
    void RemoveTypedComposition(int backspace = 1, int keep = 0);
    // Units of the composition standing typed in its owner's text, and
    // where they start.
    static int TypedInText(int *first = nullptr);
    // Drops the mark of what was typed, taking nothing from the text.
    void ForgetTyped();
    // A result, an emptied composition or an end of composition
    // (WM_IME_COMPOSITION with its flags, or WM_IME_ENDCOMPOSITION) that
    // reached no IME edit box, or a layout change (any other message): a
    // result is typed into its owner's text in place of what was typed, in
    // either mode and hidden or disabled or not, by the rules of typing; an
    // emptied composition, an end or a change takes out what was typed and
    // never committed (the input method types it again if it goes on). The
    // store forgets the owner after a result or an end; an emptied
    // composition goes on in its owner. An empty result ends nothing. True
    // when it acted for an owner: the message is then consumed.
    static bool CompositionMissed(UINT message, LPARAM flags);
    // Gives the window's input context back, when a focus-out took it, to
    // the focused IME edit box of the active dialog, if any; once a frame,
    // so that no registry call of the game sends through its window.
    static void GiveContextToFocusedBox();

protected:
    // This box's own composition, when none is typed in.
    CUniBuffer *DrawnComposition() const override;
    // The syllable being typed, in whichever box, ends as a focus change
    // ends it; a press on what was typed in here lands where it stood.
    int EndInputAt(int index) override;

private:
    // Ends the syllable being typed as a focus change ends it: nothing of it
    // is committed, and what was typed in leaves the text of this box, or of
    // whichever box it was typed into when anyBox.
    void EndSyllable(bool anyBox);
    // Another box's composition ends where this one starts to receive the
    // input method: what it typed leaves its text. False when this box was
    // deleted meanwhile.
    bool TakeOverComposition();
    // The focus of the active dialog: the keys the window gets reach it.
    bool TakesWindowKeys() const;
    // Whether the active dialog's focused control is an IME edit box with
    // the focus, hidden or disabled for now or not: the one the input
    // context is for.
    static bool FocusedBoxHasFocus();
    // The window's input context given (the default one) or taken.
    static void AssociateContext(bool give);
    // Keys through the window for this box alone, each sent only while it
    // still takes them; false when one was not.
    bool SendOwnKeys(WPARAM key, int times);
    // Characters typed by the rules of typing, each with its change event;
    // stops at a text the game sets from one unless toNewText. The units
    // that stayed in the text.
    int TypeText(const WCHAR *text, int count, bool toNewText, bool marked = false);
    // What insert-on-type typed, taken from the text without keys; the caret
    // and the selection keep their characters.
    void TakeBackInPlace();
    void OnComposition(LPARAM flags);
    bool TakeComposition(HIMC context, LPARAM flags);
    // False when the composition may not grow; the Korean form also
    // cancels it in the input method.
    bool CheckCompositionFits(const WCHAR *composition);
    bool CheckKoreanFits();
    int OnNotify(WPARAM code, LPARAM lParam);
    void ReadCandidateList();
    void BuildCandidateLine();
    void RepairModifier(WPARAM released);
    bool PickCandidate(int x, int y);
    bool PickComposition(int x, int y);
    // The caret's screen position, where compositions and panels stand.
    POINT CaretOrigin();
};
