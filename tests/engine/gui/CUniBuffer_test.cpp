// Tests of the text buffer: growth, edits, limits, ANSI forms and word stops
// (over a scripted stand-in for the shaping library).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/gui/CUniBuffer.h"

namespace {

// A shaping stand-in: counts analyses and frees, marks spaces as white space.
struct Scripted {
    static inline int analyses, frees;
    static inline std::vector<SCRIPT_LOGATTR> attrs;
    static inline int count;

    static HRESULT WINAPI Analyse(HDC, const void *text, int n, int, int, DWORD, int, SCRIPT_CONTROL *,
                                  SCRIPT_STATE *, const int *, SCRIPT_TABDEF *, const BYTE *,
                                  SCRIPT_STRING_ANALYSIS *out)
    {
        analyses++;
        count = n;
        attrs.assign(n, SCRIPT_LOGATTR{});
        for (int i = 0; i < n; i++)
            attrs[i].fWhiteSpace = static_cast<const WCHAR *>(text)[i] == L' ';
        *out = &attrs;
        return S_OK;
    }
    static HRESULT WINAPI CPtoX(SCRIPT_STRING_ANALYSIS, int cp, BOOL, int *x)
    {
        *x = cp * 10;
        return S_OK;
    }
    static HRESULT WINAPI Free(SCRIPT_STRING_ANALYSIS *a)
    {
        frees++;
        *a = nullptr;
        return S_OK;
    }
    static const SCRIPT_LOGATTR *WINAPI LogAttr(SCRIPT_STRING_ANALYSIS) { return attrs.data(); }
    static const int *WINAPI OutChars(SCRIPT_STRING_ANALYSIS) { return &count; }
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
        u.String_pLogAttr = Scripted::LogAttr;
        u.String_pcOutChars = Scripted::OutChars;
    }
    CUniBuffer::Uniscribe saved;
};

bool Korean()
{
    return GetACP() == 949;
}

TEST_F(UniBuffer, GrowthSteps)
{
    struct Case {
        int initial;
        int capacity;
    } cases[] = {{0, 0}, {-3, 0}, {1, 2}, {1024, 2048}, {40000, 65535}};
    for (const Case &c : cases) {
        CUniBuffer b(c.initial);
        EXPECT_EQ(b.GetCapacity(), c.capacity) << c.initial;
        EXPECT_EQ(b.GetTextSize(), 0);
    }
    CUniBuffer one(0);
    EXPECT_EQ(one.At(0), nullptr);
    EXPECT_TRUE(one.InsertChar(0, L'a'));
    EXPECT_EQ(one.GetCapacity(), 1024);
    CUniBuffer many(0);
    EXPECT_TRUE(many.InsertString(0, L"abcde"));
    EXPECT_EQ(many.GetCapacity(), 12);
    EXPECT_TRUE(many.Reserve(-1));
    EXPECT_EQ(many.GetCapacity(), 24);
    EXPECT_STREQ(many.GetText(), L"abcde");
    CUniBuffer full(40000);
    EXPECT_FALSE(full.Reserve(-1));
}

TEST_F(UniBuffer, EditsAndTheirBounds)
{
    CUniBuffer b(1);
    EXPECT_FALSE(b.RemoveChar(0));
    EXPECT_FALSE(b.RemoveRange(0, 0));
    EXPECT_FALSE(b.TruncateAt(0));
    EXPECT_TRUE(b.SetTextW(L"abcdef"));
    EXPECT_FALSE(b.InsertChar(7, L'x'));
    EXPECT_FALSE(b.InsertChar(-1, L'x'));
    EXPECT_TRUE(b.InsertChar(6, L'g'));
    EXPECT_FALSE(b.InsertString(-1, L"x"));
    EXPECT_FALSE(b.InsertString(8, L"x"));
    EXPECT_FALSE(b.InsertString(0, L"x", -2));
    EXPECT_FALSE(b.InsertString(0, nullptr));
    EXPECT_TRUE(b.InsertString(1, L"XYZ", 2));
    EXPECT_STREQ(b.GetText(), L"aXYbcdefg");
    EXPECT_FALSE(b.RemoveRange(5, 4));
    EXPECT_FALSE(b.RemoveRange(9, 9));
    EXPECT_FALSE(b.RemoveRange(0, 10));
    EXPECT_TRUE(b.RemoveRange(1, 3));
    EXPECT_STREQ(b.GetText(), L"abcdefg");
    // The units freed at the end are zero, not stale text.
    EXPECT_EQ(b.GetText()[8], 0);
    EXPECT_FALSE(b.RemoveChar(7));
    EXPECT_TRUE(b.RemoveChar(0));
    EXPECT_FALSE(b.TruncateAt(6));
    EXPECT_TRUE(b.TruncateAt(3));
    EXPECT_STREQ(b.GetText(), L"bcd");
    EXPECT_EQ(b.At(4), nullptr);
    b.Clear();
    EXPECT_EQ(b.GetTextSize(), 0);
    EXPECT_FALSE(b.SetTextW(nullptr));
    EXPECT_FALSE(b.SetTextAnsi(nullptr));
}

TEST_F(UniBuffer, TextOfItsOwnSurvivesGrowth)
{
    CUniBuffer b(1);
    std::wstring text(1500, L'q');
    text[0] = L'a';
    ASSERT_TRUE(b.SetTextW(text.c_str()));
    ASSERT_EQ(b.GetCapacity(), 2048);
    ASSERT_TRUE(b.InsertString(0, b.GetText()));
    EXPECT_EQ(std::wstring(b.GetText()), text + text);
}

TEST_F(UniBuffer, At65534CharactersEveryGrowthStops)
{
    CUniBuffer b(0);
    std::wstring text(65534, L'a');
    EXPECT_FALSE(b.SetTextW(text.c_str()));
    EXPECT_FALSE(b.SetTextAnsi(std::string(65534, 'a').c_str()));
    text.pop_back();
    ASSERT_TRUE(b.SetTextW(text.c_str()));
    EXPECT_EQ(b.GetCapacity(), 65535);
    EXPECT_FALSE(b.InsertString(0, L"ab"));
    EXPECT_TRUE(b.InsertChar(0, L'b'));
    EXPECT_FALSE(b.InsertChar(0, L'c'));
    EXPECT_FALSE(b.InsertString(0, L"c"));
    EXPECT_EQ(b.GetTextSize(), 65534);
    EXPECT_EQ(b.GetText()[0], L'b');
}

TEST_F(UniBuffer, AnsiFormsInCodePage949)
{
    if (!Korean())
        GTEST_SKIP() << "needs the Korean code page";
    CUniBuffer b(1);
    EXPECT_EQ(b.GetAnsiLength(), 0);
    ASSERT_TRUE(b.SetTextAnsi("\xC7\xD1\xB1\xDB a"));
    EXPECT_STREQ(b.GetText(), L"\xD55C\xAE00 a");
    EXPECT_STREQ(b.GetTextAnsi(), "\xC7\xD1\xB1\xDB a");
    EXPECT_EQ(b.GetAnsiLength(), 7);
    // Counts past 255 are told in full.
    ASSERT_TRUE(b.SetTextW(std::wstring(299, L'a').c_str()));
    EXPECT_EQ(b.GetAnsiLength(), 300);
    // Beyond 1024 bytes nothing is cut on the way in.
    ASSERT_TRUE(b.SetTextAnsi(std::string(3000, 'z').c_str()));
    EXPECT_EQ(b.GetTextSize(), 3000);
    // The 4096-byte copy ends on a whole double-byte character.
    ASSERT_TRUE(b.SetTextW((L"a" + std::wstring(2100, L'\xD55C')).c_str()));
    EXPECT_EQ(b.GetAnsiLength(), 4202);
    std::string ansi = b.GetTextAnsi();
    EXPECT_EQ(ansi.size(), 4095u);
    EXPECT_EQ(ansi.substr(ansi.size() - 2), "\xC7\xD1");
    ASSERT_TRUE(b.InsertChar(1, L'b'));
    EXPECT_EQ(std::string(b.GetTextAnsi()).substr(0, 4), "ab\xC7\xD1");
}

TEST_F(UniBuffer, StandbysMeasureNothing)
{
    CUniBuffer::UseStandbys();
    CUniBuffer b(1);
    b.SetTextW(L"ab cd");
    int x = 5, cp = 5, trailing = 5, stop = -1;
    EXPECT_EQ(b.CaretToX(2, FALSE, &x), E_NOTIMPL);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(b.XToCaret(30, &cp, &trailing), E_NOTIMPL);
    EXPECT_EQ(cp, 0);
    EXPECT_EQ(trailing, 0);
    b.NextWordStop(1, &stop);
    EXPECT_EQ(stop, 1);
    b.PrevWordStop(99, &stop);
    EXPECT_EQ(stop, 5);
    EXPECT_EQ(b.WidthBetween(0, 5), 0);
    // Binding again finds the library's own entry points.
    ASSERT_TRUE(CUniBuffer::BindUniscribe());
    HMODULE usp10 = GetModuleHandleA("usp10.dll");
    ASSERT_NE(usp10, nullptr);
    EXPECT_EQ(reinterpret_cast<FARPROC>(CUniBuffer::Binding().StringAnalyse),
              GetProcAddress(usp10, "ScriptStringAnalyse"));
}

TEST_F(UniBuffer, OneAnalysisPerChangeAndEachFreed)
{
    Script();
    {
        CUniBuffer b(1);
        b.SetTextW(L"abc");
        int x = 0;
        EXPECT_EQ(b.CaretToX(3, FALSE, &x), S_OK);
        EXPECT_EQ(x, 30);
        EXPECT_EQ(b.WidthBetween(1, 3), 20);
        EXPECT_EQ(Scripted::analyses, 1);
        EXPECT_EQ(b.CaretToX(4, FALSE, &x), E_INVALIDARG);
        EXPECT_EQ(b.CaretToX(-1, FALSE, &x), E_INVALIDARG);
        *b.At(0) = L'z';
        b.CaretToX(0, FALSE, &x);
        EXPECT_EQ(Scripted::analyses, 2);
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

TEST_F(UniBuffer, WordStopsStayInsideTheText)
{
    Script();
    CUniBuffer b(1);
    b.SetTextW(L"ab cd  ef");
    struct Case {
        int cp;
        int next;
        int prev;
    } cases[] = {{0, 3, 0}, {3, 7, 0}, {7, 9, 3}, {9, 9, 7}, {-5, 3, 0}, {1000, 9, 7}, {5, 7, 3}};
    for (const Case &c : cases) {
        int stop = -1;
        b.NextWordStop(c.cp, &stop);
        EXPECT_EQ(stop, c.next) << c.cp;
        b.PrevWordStop(c.cp, &stop);
        EXPECT_EQ(stop, c.prev) << c.cp;
    }
    EXPECT_EQ(Scripted::analyses, 1);
}

} // namespace
