// Tests of the text buffer: growth, edits, limits, ANSI forms, and analyses
// counted through a scripted stand-in for the shaping library.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/gui/CUniBuffer.h"

namespace {

// Counts analyses and frees; x is 10 per unit.
struct Scripted {
    static inline int analyses, frees, count;

    static HRESULT WINAPI Analyse(HDC, const void *, int n, int, int, DWORD, int, SCRIPT_CONTROL *, SCRIPT_STATE *,
                                  const int *, SCRIPT_TABDEF *, const BYTE *, SCRIPT_STRING_ANALYSIS *out)
    {
        return analyses++, count = n, *out = &count, S_OK;
    }
    static HRESULT WINAPI CPtoX(SCRIPT_STRING_ANALYSIS, int cp, BOOL, int *x) { return *x = cp * 10, S_OK; }
    static HRESULT WINAPI Free(SCRIPT_STRING_ANALYSIS *a) { return frees++, *a = nullptr, S_OK; }
};

class UniBuffer : public ::testing::Test {
protected:
    void SetUp() override { saved = CUniBuffer::Binding(); }
    void TearDown() override { CUniBuffer::Binding() = saved; }
    void Script()
    {
        Scripted::analyses = Scripted::frees = 0;
        CUniBuffer::Uniscribe &u = CUniBuffer::Binding();
        u.StringAnalyse = Scripted::Analyse;
        u.StringCPtoX = Scripted::CPtoX;
        u.StringFree = Scripted::Free;
    }
    CUniBuffer::Uniscribe saved;
};

TEST_F(UniBuffer, GrowthSteps)
{
    struct Case {
        int initial, capacity;
        std::function<bool(CUniBuffer &)> grow;
        int grown;
    } cases[] = {
        {0, 0, [](CUniBuffer &b) { return b.InsertChar(0, L'a'); }, 1024},
        {0, 0, [](CUniBuffer &b) { return b.InsertString(0, L"abcde"); }, 12},
        {-3, 0, [](CUniBuffer &b) { return b.SetTextW(std::wstring(1100, L'a').c_str()); }, 2048},
        {1, 2, [](CUniBuffer &b) { return b.Reserve(-1); }, 4},
        {1024, 2048, [](CUniBuffer &b) { return b.Reserve(0); }, 4096},
        {40000, 65535, [](CUniBuffer &b) { return !b.Reserve(-1); }, 65535},
    };
    for (const Case &c : cases) {
        CUniBuffer b(c.initial);
        EXPECT_EQ(b.GetCapacity(), c.capacity) << c.initial;
        EXPECT_EQ(b.GetTextSize(), 0);
        EXPECT_TRUE(c.grow(b));
        EXPECT_EQ(b.GetCapacity(), c.grown) << c.initial;
    }
}

TEST_F(UniBuffer, EditsAndTheirBounds)
{
    struct Case {
        std::function<bool(CUniBuffer &)> edit;
        bool done;
        const WCHAR *text;
        int first, last;   // where the mark over "cd" went
    } cases[] = {
        {[](CUniBuffer &b) { return b.InsertChar(6, L'g'); }, true, L"abcdefg", 2, 4},
        {[](CUniBuffer &b) { return b.InsertChar(7, L'g'); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.InsertChar(-1, L'g'); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.InsertString(1, L"XYZ", 2); }, true, L"aXYbcdef", 4, 6},
        {[](CUniBuffer &b) { return b.InsertString(-1, L"X"); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.InsertString(7, L"X"); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.InsertString(0, L"X", -2); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.InsertString(0, nullptr); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.RemoveRange(1, 3); }, true, L"adef", 1, 2},
        {[](CUniBuffer &b) { return b.RemoveRange(4, 3); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.RemoveRange(6, 6); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.RemoveRange(0, 7); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.RemoveChar(0); }, true, L"bcdef", 1, 3},
        {[](CUniBuffer &b) { return b.RemoveChar(6); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.TruncateAt(3); }, true, L"abc", 2, 3},
        {[](CUniBuffer &b) { return b.TruncateAt(6); }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.At(7) != nullptr; }, false, L"abcdef", 2, 4},
        {[](CUniBuffer &b) { return b.SetTextW(nullptr) || b.SetTextAnsi(nullptr); }, false, L"abcdef", 2, 4},
        // The mark moves with the characters it covers; what is inserted
        // inside it ends it there.
        {[](CUniBuffer &b) { return b.InsertChar(3, L'X'); }, true, L"abcXdef", 2, 3},
        {[](CUniBuffer &b) { return b.InsertString(2, L"XY"); }, true, L"abXYcdef", 4, 6},
        {[](CUniBuffer &b) { return b.InsertString(4, L"X"); }, true, L"abcdXef", 2, 4},
        {[](CUniBuffer &b) { return b.RemoveRange(3, 5); }, true, L"abcf", 2, 3},
        {[](CUniBuffer &b) { return b.RemoveAll(L'c'); }, true, L"abdef", 2, 3},
        {[](CUniBuffer &b) { return b.RemoveRange(2, 4) && (b.Mark(0, 1), true); }, true, L"abef", 0, 1},
    };
    for (const Case &c : cases) {
        CUniBuffer b(16);
        ASSERT_TRUE(b.SetTextW(L"abcdef"));
        b.Mark(2, 4);
        EXPECT_EQ(c.edit(b), c.done) << &c - cases;
        EXPECT_STREQ(b.GetText(), c.text) << &c - cases;
        EXPECT_EQ(b.MarkFirst(), c.first) << &c - cases;
        EXPECT_EQ(b.MarkLast(), c.last) << &c - cases;
        // Units behind the text are zero, never stale.
        EXPECT_EQ(b.GetText()[b.GetTextSize() + 1], 0);
    }
    // A whole new text, or none, drops the mark.
    for (bool clear : {false, true}) {
        CUniBuffer b(16);
        b.SetTextW(L"abcdef");
        b.Mark(2, 4);
        clear ? b.Clear() : (void)b.SetTextW(L"xyz");
        EXPECT_EQ(b.MarkLength(), 0) << clear;
    }
    CUniBuffer empty(0);
    EXPECT_FALSE(empty.RemoveChar(0) || empty.RemoveRange(0, 0) || empty.TruncateAt(0) || empty.At(0));
    // Its own text, inserted, survives the growth it causes.
    CUniBuffer b(1);
    std::wstring text = L"a" + std::wstring(1500, L'q');
    ASSERT_TRUE(b.SetTextW(text.c_str()));
    ASSERT_TRUE(b.InsertString(0, b.GetText()));
    EXPECT_EQ(std::wstring(b.GetText()), text + text);
}

TEST_F(UniBuffer, At65534CharactersEveryGrowthStops)
{
    CUniBuffer b(0);
    EXPECT_FALSE(b.SetTextW(std::wstring(65534, L'a').c_str()));
    EXPECT_FALSE(b.SetTextAnsi(std::string(65534, 'a').c_str()));
    ASSERT_TRUE(b.SetTextW(std::wstring(65533, L'a').c_str()));
    EXPECT_FALSE(b.InsertString(0, L"ab"));
    EXPECT_TRUE(b.InsertChar(0, L'b'));
    EXPECT_FALSE(b.InsertChar(0, L'c') || b.InsertString(0, L"c"));
    EXPECT_EQ(b.GetTextSize(), 65534);
    EXPECT_EQ(b.GetCapacity(), 65535);
}

TEST_F(UniBuffer, AnsiFormsInCodePage949)
{
    ASSERT_EQ(GetACP(), 949u);
    CUniBuffer b(1);
    EXPECT_EQ(b.GetAnsiLength(), 0);
    ASSERT_TRUE(b.SetTextAnsi("\xC7\xD1\xB1\xDB a"));
    EXPECT_STREQ(b.GetText(), L"\xD55C\xAE00 a");
    EXPECT_STREQ(b.GetTextAnsi(), "\xC7\xD1\xB1\xDB a");
    EXPECT_EQ(b.GetAnsiLength(), 7);
    // Counts past 255 are told in full; nothing is cut past 1024 bytes on the way in.
    ASSERT_TRUE(b.SetTextW(std::wstring(299, L'a').c_str()));
    EXPECT_EQ(b.GetAnsiLength(), 300);
    ASSERT_TRUE(b.SetTextAnsi(std::string(3000, 'z').c_str()));
    EXPECT_EQ(b.GetTextSize(), 3000);
    // The 4096-byte copy ends on a whole double-byte character.
    ASSERT_TRUE(b.SetTextW((L"a" + std::wstring(2100, L'\xD55C')).c_str()));
    EXPECT_EQ(b.GetAnsiLength(), 4202);
    ASSERT_TRUE(b.InsertChar(1, L'b'));
    std::string ansi = b.GetTextAnsi();
    EXPECT_EQ(ansi.size(), 4094u);
    EXPECT_EQ(ansi.substr(0, 4), "ab\xC7\xD1");
    EXPECT_EQ(ansi.substr(ansi.size() - 2), "\xC7\xD1");
}

TEST_F(UniBuffer, StandbysMeasureNothing)
{
    CUniBuffer::UseStandbys();
    CUniBuffer b(1);
    b.SetTextW(L"ab cd");
    int x = 5, cp = 5, trailing = 5, next = -1, prev = -1;
    EXPECT_EQ(b.CaretToX(2, FALSE, &x), E_NOTIMPL);
    EXPECT_EQ(b.XToCaret(30, &cp, &trailing), E_NOTIMPL);
    b.NextWordStop(1, &next);
    b.PrevWordStop(99, &prev);
    EXPECT_EQ(x + cp + trailing + b.WidthBetween(0, 5), 0);
    EXPECT_EQ(next, 1);
    EXPECT_EQ(prev, 5);
    // Binding again finds the library's own entry points.
    ASSERT_TRUE(CUniBuffer::BindUniscribe());
    EXPECT_EQ(reinterpret_cast<FARPROC>(CUniBuffer::Binding().StringAnalyse),
              GetProcAddress(GetModuleHandleA("usp10.dll"), "ScriptStringAnalyse"));
}

TEST_F(UniBuffer, OneAnalysisPerChangeAndEachFreed)
{
    Script();
    {
        CUniBuffer b(1);
        b.SetTextW(L"abc");
        int x = 0;
        EXPECT_EQ(b.CaretToX(3, FALSE, &x), S_OK);
        EXPECT_EQ(b.WidthBetween(1, 3), 20);
        EXPECT_EQ(Scripted::analyses, 1);
        EXPECT_EQ(b.CaretToX(4, FALSE, &x), E_INVALIDARG);
        EXPECT_EQ(b.CaretToX(-1, FALSE, &x), E_INVALIDARG);
        *b.At(0) = L'z';
        b.CaretToX(0, FALSE, &x);
        b.InsertChar(0, L'y');
        b.CaretToX(0, FALSE, &x);
        b.CaretToX(1, FALSE, &x);
        EXPECT_EQ(Scripted::analyses, 3);
        // An empty buffer is analysed as "" with its terminator, never as null.
        CUniBuffer empty(0);
        EXPECT_EQ(empty.CaretToX(0, FALSE, &x), S_OK);
        EXPECT_EQ(Scripted::count, 1);
    }
    EXPECT_EQ(Scripted::frees, Scripted::analyses);
}

} // namespace
