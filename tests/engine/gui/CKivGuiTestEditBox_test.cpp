// Tests of the edit box on the engine's window: keys and events, the byte limit, the real clipboard, surrogate
// pairs, mouse selection, the ANSI clean-up, frames read back with the selection bar and the caret, Control
// arrows and the swallow flag around Tab and Enter.
#include "engine/gui/CKivGuiTestEditBox.h"

#include <climits>
#include <cwchar>
#include <initializer_list>
#include <iterator>

#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CUniBuffer.h"
#include "editbox_host.h"

namespace {

class EditBox : public EditFixture {
protected:
    CKivGuiTestEditBox *Make(int width = 600, int limit = 60)
    {
        box = new CKivGuiTestEditBox(dialog);
        box->Create(5, 100, 200, 100 + width, 220, "", 2, 3);
        box->SetMaxBytes(limit);
        box->SetSkins("skin/back", "skin/caret", "skin/select");
        box->SetFont("DefaultFont");
        dialog->FocusControl(5);
        events.clear();
        return box;
    }
    int Key(WPARAM key) { return box->HandleKeyboard(WM_KEYDOWN, key, 0); }
    std::wstring Text() const { return box->GetText(); }
    CKivGuiTestEditBox *box = nullptr;
};

// Runs this program's clipboard reader in a second process; its exit code.
DWORD ChildReadsClipboard(const char *expected)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" --gtest_filter=ClipboardReader.*";
    SetEnvironmentVariableA("KIV_CLIPBOARD_EXPECT", expected);
    STARTUPINFOA start = {};
    start.cb = sizeof(start);
    PROCESS_INFORMATION process = {};
    DWORD code = 99;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process)) {
        // The clipboard's owner answers the other process through its messages.
        for (int i = 0; i < 12000 && MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 10, QS_ALLINPUT) !=
                                         WAIT_OBJECT_0;
             i++)
            Pump();
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    SetEnvironmentVariableA("KIV_CLIPBOARD_EXPECT", nullptr);
    return code;
}

TEST(ClipboardReader, SeesTheExpectedText)
{
    const char *expected = std::getenv("KIV_CLIPBOARD_EXPECT");
    if (!expected)
        GTEST_SKIP() << "run by the copy test in a second process";
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const WCHAR *text = data ? static_cast<const WCHAR *>(GlobalLock(data)) : nullptr;
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text), std::wstring(expected, expected + std::strlen(expected)));
    GlobalUnlock(data);
    CloseClipboard();
}

const std::wstring Syllables(int n)
{
    return std::wstring(n, L'\xD55C');
}

TEST_F(EditBox, EnterEscapeAndBackslashEvents)
{
    Make();
    EXPECT_EQ(Key(VK_RETURN), 0);
    Type(box, L"a\\");
    EXPECT_EQ(Text(), L"a");
    EXPECT_EQ(box->GetCaret(), 1);
    Key(VK_HOME);
    Type(box, L"\\");
    EXPECT_EQ(box->GetCaret(), 0);
    Key(VK_END);
    Key(VK_RETURN);
    Key(VK_ESCAPE);
    EXPECT_EQ(events, "517 515 515 515 514 517 516 ");
    EXPECT_EQ(Text(), L"a") << "Enter keeps the text";
    EXPECT_STREQ(box->GetLanguage(), "KOR");
}

TEST_F(EditBox, TheLimitCountsEveryAnsiByte)
{
    Make();
    Type(box, Syllables(29) + L"a");
    EXPECT_EQ(box->GetTextLength(), 30);
    Type(box, Syllables(1));
    EXPECT_EQ(box->GetTextLength(), 30) << "a 30th syllable makes 61 bytes";
    EXPECT_EQ(box->GetCaret(), 30);

    // 300 bytes would read 44 in eight bits.
    box->SetClipToWidth(0);
    box->SetText(std::string(299, 'x').c_str(), 0);
    Type(box, L"y");
    EXPECT_EQ(box->GetTextLength(), 299);
}

TEST_F(EditBox, ClippingRemovesOnlyWhatWasTyped)
{
    Make(40);
    Type(box, L"abcdefghijkl");
    const int kept = box->GetTextLength();
    EXPECT_GT(kept, 2);
    EXPECT_LT(kept, 12);
    // An over-wide text set and drawn with a selection keeps every character.
    box->SetText("abcdefghijklmnop", 1);
    Frame();
    Key(VK_HOME);
    Key(VK_END);
    EXPECT_EQ(Text(), L"abcdefghijklmnop");

    // Scrolling instead: everything stays, the view follows the caret.
    box->ClearText();
    box->SetClipToWidth(0);
    Type(box, L"abcdefghijkl");
    EXPECT_EQ(box->GetTextLength(), 12);
    EXPECT_GT(box->GetFirstVisible(), 0);
    Key(VK_HOME);
    EXPECT_EQ(box->GetFirstVisible(), 0);
    // Typed into a scrolled game text with backslashes: the view keeps its
    // first character.
    box->SetText("\\\\abcdefghijklmnopqrstuvwxyz", 0);
    Key(VK_LEFT);
    Key(VK_LEFT);
    const int first = box->GetFirstVisible();
    ASSERT_GT(first, 2);
    const WCHAR shown = box->GetText()[first];
    Type(box, L"0");
    EXPECT_EQ(box->GetText()[box->GetFirstVisible()], shown);

    // A box exactly four z wide holds four, and scrolled shows the last four.
    box->SetSize(2 + gui()->GetFont("DefaultFont")->GetTextWidth("zzzz"), 20);
    box->SetClipToWidth(1);
    box->ClearText();
    Type(box, L"zzzzz");
    EXPECT_EQ(Text(), L"zzzz");
    box->SetClipToWidth(0);
    Type(box, L"zzzzzz");
    EXPECT_EQ(box->GetFirstVisible(), 6);
    // A text that fills the byte limit exactly (its ending zero counted)
    // still scrolls to its end.
    box->SetMaxBytes(11);
    Key(VK_HOME);
    Key(VK_END);
    EXPECT_EQ(box->GetFirstVisible(), 6);
}

TEST_F(EditBox, ClipboardCopyCutAndPaste)
{
    Make();
    box->SetText("abc", 0);
    Type(box, L"\x01\x03");
    EXPECT_EQ(Clipboard(), L"abc");
    EXPECT_EQ(ChildReadsClipboard("abc"), 0u) << "another process pastes the copy too";
    Key(VK_END);
    Type(box, L"\x16");
    EXPECT_EQ(Text(), L"abcabc") << "the copy stays on the clipboard after it was made";
    box->SetText("xyz", 1);
    Type(box, L"\x18");
    EXPECT_EQ(Text(), L"");
    EXPECT_EQ(Clipboard(), L"xyz");

    struct Case {
        std::wstring clip;
        std::wstring before;
        std::wstring after;
        int limit;
    } cases[] = {
        {L"a\r\nb", L"", L"ab", 60},
        {L"c\\d\\", L"", L"cd", 60},
        {std::wstring(2000, L'x'), L"", std::wstring(59, L'x'), 60},
        {Syllables(40), L"", Syllables(29), 60},
        {Syllables(3), std::wstring(56, L'q'), Syllables(1) + std::wstring(56, L'q'), 60},
        // Limits with no room: none wraps round to room.
        {L"abc", L"", L"", 0},
        {L"abc", L"", L"", -1},
        {L"abc", L"", L"", INT_MIN},
        // Only what typing takes: no lone half of a pair, no control character.
        {L"a\xD840" L"b\xDC00" L"c\x1B\t\rd\ne\xD840\xDC00", L"", L"abcde\xD840\xDC00", 60},
    };
    for (const Case &c : cases) {
        box->SetMaxBytes(c.limit);
        box->ClearText();
        Type(box, c.before);
        Key(VK_HOME);
        SetClipboard(c.clip);
        Type(box, L"\x16");
        EXPECT_EQ(Text(), c.after) << c.clip.size();
    }
}

// A paste wider than a narrow box keeps what fits, as typing does.
TEST_F(EditBox, APasteWiderThanTheBoxKeepsWhatFits)
{
    Make(100);
    for (const wchar_t *before : {L"", L"ab"}) {
        box->ClearText();
        Type(box, before + std::wstring(40, L'z'));
        const std::wstring typed = Text();
        ASSERT_GT(typed.size(), 5u);
        ASSERT_LT(typed.size(), 40u);
        box->ClearText();
        Type(box, before);
        SetClipboard(std::wstring(40, L'z'));
        Type(box, L"\x16");
        EXPECT_EQ(Text(), typed) << "after \"" << before << "\"";
        EXPECT_EQ(box->GetCaret(), static_cast<int>(typed.size()));
        // Typed or pasted at the start or in the middle, as at the end.
        for (int paste = 0; paste < 2; paste++)
            for (WPARAM key : {VK_HOME, VK_LEFT}) {
                box->SetText(std::string(before, before + wcslen(before)).c_str(), 0);
                Key(key);
                if (paste)
                    Type(box, L"\x16");
                else
                    Type(box, std::wstring(40, L'z'));
                EXPECT_EQ(Text().size(), typed.size()) << "after \"" << before << "\" paste " << paste;
            }
    }
    // A game text with a backslash that fills the box: a character typed
    // behind it passes the edge as it would without the backslash, and the
    // text stays as it was.
    box->ClearText();
    Type(box, std::wstring(40, L'z'));
    const std::wstring full = Text();
    box->SetText(("\\" + std::string(full.size(), 'z')).c_str(), 0);
    Type(box, L"z");
    EXPECT_EQ(Text(), L"\\" + full);
    // Scrolling with room for all: a paste takes at most 1023 units.
    box->ClearText();
    box->SetClipToWidth(0);
    box->SetMaxBytes(5000);
    SetClipboard(std::wstring(2000, L'z'));
    Type(box, L"\x16");
    EXPECT_EQ(box->GetTextLength(), 1023);
}

TEST_F(EditBox, PasteIsBlockedOnceTheLayoutCutTheText)
{
    Make();
    box->SetClipToWidth(0);
    box->SetText(std::string(70, 'z').c_str(), 0);
    Key(VK_DELETE);
    EXPECT_EQ(box->GetTextLength(), 59);
    EXPECT_TRUE(box->IsLimitReached());
    SetClipboard(L"k");
    events.clear();
    Type(box, L"\x16");
    EXPECT_EQ(box->GetTextLength(), 59);
    EXPECT_EQ(events, "515 ");
    Type(box, L"\x08");
    EXPECT_FALSE(box->IsLimitReached());
}

// A box at the right end of the int range: its caret stops at the limit
// instead of wrapping round.
TEST_F(EditBox, ABoxAtTheEndOfTheIntRangeKeepsItsCaretThere)
{
    Make();
    box->SetClipToWidth(0);
    box->SetLocation(INT_MAX - 20, 200);
    box->Update(0);
    Type(box, L"abcdefghij");
    EXPECT_EQ(box->GetCaretX(), INT_MAX);
    Key(VK_HOME);
    EXPECT_EQ(box->GetCaretX(), INT_MAX - 20);
}

TEST_F(EditBox, CaretKeysAndDeletionStepOverSurrogatePairs)
{
    Make();
    SetClipboard(L"a\xD83D\xDE00" L"b");
    Type(box, L"\x16");
    EXPECT_EQ(box->GetCaret(), 4);
    const struct {
        WPARAM key;
        int caret;
    } steps[] = {{VK_LEFT, 3}, {VK_LEFT, 1}, {VK_RIGHT, 3}, {VK_HOME, 0}, {VK_END, 4}, {VK_UP, 4}, {VK_LEFT, 3}};
    for (const auto &s : steps) {
        EXPECT_EQ(Key(s.key), 1);
        EXPECT_EQ(box->GetCaret(), s.caret) << s.key;
    }
    Type(box, L"\x08");
    EXPECT_EQ(Text(), L"ab") << "Backspace after the emoji removes both units";
    Key(VK_HOME);
    Type(box, L"\xD83D\xDE00");
    Key(VK_HOME);
    Key(VK_DELETE);
    EXPECT_EQ(Text(), L"ab");

    // Typed at the limit, a pair goes in whole or not at all; a lone half never.
    std::wstring fits;
    for (int limit = 3; limit <= 8; limit++) {
        box->SetMaxBytes(limit);
        box->SetText("ab", 0);
        Type(box, L"\xD83D\xDE00");
        EXPECT_TRUE(Text() == L"ab" || Text() == L"ab\xD83D\xDE00") << limit;
        fits += Text().size() > 2 ? '1' : '0';
        const std::wstring before = Text();
        Type(box, L"\xDE00\xD83D" L"c");
        EXPECT_TRUE(Text() == before || Text() == before + L"c") << limit;
    }
    EXPECT_EQ(fits.back(), '1');
}

// The second half of a pair with no first half before it is never typed,
// not even as an empty place in the text.
TEST_F(EditBox, ALoneLowSurrogateIsNeverTyped)
{
    Make();
    box->SetText("ab", 0);
    Type(box, L"\xDC00");
    EXPECT_EQ(box->GetTextLength(), 2);
    EXPECT_EQ(box->GetCaret(), 2);
    EXPECT_EQ(events, "") << "nothing typed, nothing changed";
}

// Keys held as the thread's keyboard state says, put back afterwards.
class HeldKeys {
public:
    explicit HeldKeys(std::initializer_list<int> keys)
    {
        GetKeyboardState(m_saved);
        BYTE held[256];
        std::memcpy(held, m_saved, sizeof(held));
        for (int key : keys)
            held[key] = 0x80;
        SetKeyboardState(held);
    }
    ~HeldKeys() { SetKeyboardState(m_saved); }

private:
    BYTE m_saved[256];
};

TEST_F(EditBox, ControlArrowsOnlyCollapseTheSelectionUnlessShiftIsHeld)
{
    Make();
    const struct {
        WPARAM key;
        bool shift;
        int selectionStart;
    } cases[] = {{VK_LEFT, false, 4}, {VK_RIGHT, false, 4}, {VK_LEFT, true, 0}, {VK_RIGHT, true, 0}};
    for (const auto &c : cases) {
        box->SetText("abcdef", 1);
        box->PlaceCaret(4);
        HeldKeys held = c.shift ? HeldKeys{VK_CONTROL, VK_SHIFT} : HeldKeys{VK_CONTROL};
        EXPECT_EQ(Key(c.key), 1);
        EXPECT_EQ(box->GetCaret(), 4) << c.key << " " << c.shift;
        EXPECT_EQ(box->GetSelectionStart(), c.selectionStart) << c.key << " " << c.shift;
    }
}

TEST_F(EditBox, BetweenATabOrEnterAndItsReleaseOtherKeysAreNotClaimed)
{
    Make();
    // A key pressed, a key's release as a message and as a key, a character.
    enum { press, release, releaseKey, character };
    const struct {
        int kind;
        WPARAM key;
        int result;
    } steps[] = {
        {press, 'A', 0},        {releaseKey, 'A', 0},  {release, VK_TAB, 0},    {press, 'A', 1},
        {releaseKey, 'A', 1},   {press, VK_ESCAPE, 1}, {press, VK_TAB, 0},      {press, 'A', 0},
        {press, VK_ESCAPE, 0},  {release, 'A', 0},     {press, 'A', 0},         {release, VK_TAB, 0},
        {press, 'A', 1},        {press, VK_RETURN, 0}, {press, 'A', 0},         {release, VK_RETURN, 0},
        {press, 'A', 1},        {press, VK_RETURN, 0}, {character, '\r', 1},    {press, 'A', 1},
    };
    for (size_t i = 0; i < std::size(steps); i++) {
        const auto &s = steps[i];
        int result = -1;
        if (s.kind == press || s.kind == releaseKey)
            result = box->HandleKeyboard(s.kind == press ? WM_KEYDOWN : WM_KEYUP, s.key, 0);
        else
            result = box->MsgProc(s.kind == release ? WM_KEYUP : WM_CHAR, s.key, 0);
        EXPECT_EQ(result, s.result) << "step " << i;
    }
}

TEST_F(EditBox, MouseSelectsAndAPressOutsideOnlyFocuses)
{
    Make();
    box->SetText("abcdef", 0);
    CUniBuffer measure(16);
    int x2 = 0, x5 = 0;
    measure.SetTextW(L"abcdef");
    measure.SetFontNode(gui()->GetFont("DefaultFont")->GetNode());
    measure.CaretToX(2, FALSE, &x2);
    measure.CaretToX(5, FALSE, &x5);
    EXPECT_EQ(box->HandleMouse(WM_LBUTTONDOWN, 100 + 2 + x2 + 1, 205, 0, 0), 1);
    box->HandleMouse(WM_MOUSEMOVE, 100 + 2 + x5 + 1, 205, 0, 0);
    box->HandleMouse(WM_LBUTTONUP, 100 + 2 + x5 + 1, 205, 0, 0);
    EXPECT_EQ(box->GetSelectionStart(), 2);
    EXPECT_EQ(box->GetCaret(), 5);
    Type(box, L"X");
    EXPECT_EQ(Text(), L"abXf");

    dialog->ClearFocus();
    EXPECT_EQ(box->HandleMouse(WM_LBUTTONDOWN, 5, 5, 0, 0), 0);
    EXPECT_TRUE(box->HasFocus());
    EXPECT_EQ(box->GetSelectionStart(), box->GetCaret());
}

TEST_F(EditBox, DrawsTheSelectionBarAndTheBlinkingCaret)
{
    Make();
    box->SetText("abcdef", 0);
    box->HandleKeyboard(WM_KEYDOWN, VK_LEFT, 0);
    box->Update(0.6f);
    ASSERT_EQ(box->GetCaretVisible(), 1);
    Frame();
    RECT back = Box(0xFFFFFF, 8, {0, 150, 1024, 300});
    EXPECT_EQ(back.left, 100);
    RECT caret = Box(0x0000FF);
    EXPECT_EQ(caret.left, box->GetCaretX() - 1 + 2) << "at the caret's x, left margin added";
    EXPECT_EQ(caret.bottom - caret.top, 13);

    box->Update(0.5f);
    EXPECT_EQ(box->GetCaretVisible(), 0);
    box->SetText("abcdef", 1);
    Frame();
    EXPECT_EQ(Box(0x0000FF).right, -1) << "the caret blinks off";
    RECT bar = Box(0x00FF00);
    EXPECT_EQ(bar.left, 102);
    EXPECT_NEAR(bar.right, box->GetCaretX() + 2, 1);
}

// A centred line starts where the text, centred, begins: drawn, hit, selected and the caret from one origin.
TEST_F(EditBox, ACentredBoxHitsAndSelectsWhatItDraws)
{
    Make();
    box->SetCentred(1);
    box->SetText("abcdef", 0);
    CUniBuffer measure(16);
    int x2 = 0, x5 = 0, x6 = 0;
    measure.SetTextW(L"abcdef");
    measure.SetFontNode(gui()->GetFont("DefaultFont")->GetNode());
    measure.CaretToX(2, FALSE, &x2);
    measure.CaretToX(5, FALSE, &x5);
    measure.CaretToX(6, FALSE, &x6);
    const int origin = 100 + 2 + (598 - x6) / 2;
    box->HandleMouse(WM_LBUTTONDOWN, origin + x2 + 1, 205, 0, 0);
    box->HandleMouse(WM_MOUSEMOVE, origin + x5 + 1, 205, 0, 0);
    box->HandleMouse(WM_LBUTTONUP, origin + x5 + 1, 205, 0, 0);
    EXPECT_EQ(box->GetSelectionStart(), 2);
    EXPECT_EQ(box->GetCaret(), 5);
    box->Update(0.6f);
    Frame();
    const RECT bar = Box(0x00FF00, 8, {0, 150, 1024, 300});
    EXPECT_EQ(bar.left, origin + x2);
    EXPECT_NEAR(bar.right, origin + x5, 1);
    EXPECT_EQ(Box(0x0000FF, 8, {0, 150, 1024, 300}).left, origin + x5 - 1);

    box->ClearText();
    Frame();
    EXPECT_EQ(Box(0x0000FF, 8, {0, 150, 1024, 300}).left, 100 + 2 + 299 - 1) << "an empty box: in the middle";
}

// Reduced images are drawn at full size with their top edge where the full-quality one has it.
TEST_F(EditBox, BackgroundSelectionAndCaretKeepTheirTopEdgeAtEveryImageScale)
{
    Make();
    box->SetText("abcdef", 1);
    box->Update(0.6f);
    std::string full;
    for (int quality = 0; quality < 3; quality++) {
        box->RemoveAllElements();
        GuiHost::base->SetImageQuality(quality);
        box->SetSkins("skin/back", "skin/caret", "skin/select");
        Frame();
        const RECT region = {0, 150, 1024, 300};
        const RECT back = Box(0xFFFFFF, 8, region), bar = Box(0x00FF00, 8, region), caret = Box(0x0000FF, 8, region);
        const std::string corners = std::to_string(back.left) + "," + std::to_string(back.top) + " " +
                                    std::to_string(bar.left) + "," + std::to_string(bar.top) + " " +
                                    std::to_string(caret.left) + "," + std::to_string(caret.top);
        if (quality == 0)
            full = corners;
        EXPECT_EQ(corners, full) << quality;
    }
    box->RemoveAllElements();
    GuiHost::base->SetImageQuality(0);
    box->SetSkins("skin/back", "skin/caret", "skin/select");
}

TEST_F(EditBox, RemoveInvalidAnsiKeepsPrintableKorean)
{
    Make(600, 2000);
    const struct {
        const char *in;
        const char *out;
        bool dropped;
    } cases[] = {
        {"abc", "abc", false},
        {"\xC7\xD1\xB1\xDB", "\xC7\xD1\xB1\xDB", false},
        {"a\tb", "a", true},                  // the tab and the byte after it
        {"\xA4\xA1z", "z", true},             // compatibility jamo
        {"x\xA1\xA1", "x", true},             // a symbol with a high second byte
    };
    for (const auto &c : cases) {
        box->SetText(c.in, 0);
        EXPECT_EQ(box->RemoveInvalidAnsi(), c.dropped) << c.in;
        EXPECT_STREQ(box->GetTextAnsi(), c.out) << c.in;
    }
    std::string korean;
    for (int i = 0; i < 600; i++)
        korean += "\xC7\xD1";
    box->SetText(korean.c_str(), 0);
    box->RemoveInvalidAnsi();
    EXPECT_EQ(std::strlen(box->GetTextAnsi()), 1022u) << "cut at a whole character";
}

TEST_F(EditBox, LanguageSets)
{
    Make();
    box->SetText("\xC7\xD1\xB1\xDB" "a1", 0);
    EXPECT_FALSE(box->HasCharOutsideLanguage("", 1));
    EXPECT_TRUE(box->HasCharOutsideLanguage("KOR", 0));
    EXPECT_TRUE(box->HasCharOutsideLanguage("JPN", 1));
    WCHAR text[] = L"a\\b\\";
    EXPECT_TRUE(CKivGuiTestEditBox::RemoveChar(L'\\', text));
    EXPECT_STREQ(text, L"ab");
}

} // namespace
