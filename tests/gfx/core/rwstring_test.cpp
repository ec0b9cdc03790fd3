#include <gtest/gtest.h>

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/rwstring.h"

namespace {

// "가나" in code page 949 is B0 A1 B3 AA; "갃" is 88 41 (a second byte in the
// range of ASCII 'A') and "갂" is 88 61 ('a').

TEST(String, CompareNoCaseFoldsOnlyAsciiLetters)
{
    EXPECT_EQ(0, RwStringCompareNoCase("Abc", "aBC"));
    EXPECT_LT(RwStringCompareNoCase("abc", "abd"), 0);
    EXPECT_GT(RwStringCompareNoCase("abd", "ABC"), 0);
    EXPECT_LT(RwStringCompareNoCase("ab", "abc"), 0);
    EXPECT_EQ(0, RwStringCompareNoCase(nullptr, "x"));
    EXPECT_EQ(0, RwStringCompareNoCase("x", nullptr));
    // Letters fold to lower case, so 'A' (as 'a', 0x61) sorts after '_' (0x5F).
    EXPECT_EQ(2, RwStringCompareNoCase("A", "_"));
    // High bytes are unsigned, and second bytes of Korean characters are not letters.
    EXPECT_EQ(0xB0 - 'z', RwStringCompareNoCase("\xB0\xA1", "z"));
    EXPECT_LT(RwStringCompareNoCase("z", "\xB0\xA1"), 0);
    EXPECT_NE(0, RwStringCompareNoCase("\x88\x61", "\x88\x41"));
    EXPECT_EQ(0, RwStringCompareNoCase("\xB0\xA1Tex", "\xB0\xA1tEX"));
}

TEST(String, CaseChangesOnlyAsciiLetters)
{
    char s[] = "Tex_01 \xB0\xA1 \x88\x61x\x88\x41";
    EXPECT_EQ(s, RwStringToUpper(s));
    EXPECT_STREQ("TEX_01 \xB0\xA1 \x88\x61X\x88\x41", s);
    EXPECT_EQ(s, RwStringToLower(s));
    EXPECT_STREQ("tex_01 \xB0\xA1 \x88\x61x\x88\x41", s);
    EXPECT_EQ(nullptr, RwStringToLower(nullptr));
    // Both ends of the alphabet change; the characters just outside it do not.
    char edges[] = "@AZ[`az{";
    EXPECT_STREQ("@AZ[`AZ{", RwStringToUpper(edges));
    EXPECT_STREQ("@az[`az{", RwStringToLower(edges));
}

TEST(String, FindCharFindsTheTerminator)
{
    const char s[] = "a/b/c";
    EXPECT_EQ(s + 1, RwStringFindChar(s, '/'));
    EXPECT_EQ(s + 3, RwStringFindLastChar(s, '/'));
    EXPECT_EQ(s + 5, RwStringFindChar(s, 0));
    EXPECT_EQ(s + 5, RwStringFindLastChar(s, 0));
    EXPECT_EQ(nullptr, RwStringFindChar(s, 'x'));
    EXPECT_EQ(nullptr, RwStringFindLastChar(s, 'x'));
    EXPECT_EQ(nullptr, RwStringFindChar(nullptr, 'a'));
    const char high[] = "a\xB0z";
    EXPECT_EQ(high + 1, RwStringFindChar(high, 0xB0));
}

TEST(String, BoundedFormsTerminateAndReportTruncation)
{
    const struct {
        size_t size;
        const char *text;
        bool whole;
        const char *kept;
    } copies[] = {
        {6, "abcde", true, "abcde"},  {6, "abcdefgh", false, "abcde"}, {6, "", true, ""},
        {1, "", true, ""},            {1, "a", false, ""},
        // A two-byte character is never split.
        {4, "a\xB0\xA1\xB3\xAA", false, "a\xB0\xA1"}, {4, "ab\xB0\xA1", false, "ab"},
    };
    for (const auto &c : copies) {
        char buf[8];
        memset(buf, 'X', sizeof(buf));
        EXPECT_EQ(c.whole, RwStringCopyBounded(buf, c.size, c.text) != FALSE) << c.text;
        EXPECT_STREQ(c.kept, buf);
        EXPECT_EQ('X', buf[c.size]) << c.text;
    }
    char buf[8];
    EXPECT_FALSE(RwStringCopyBounded(buf, 0, "a"));
    EXPECT_FALSE(RwStringPrintBounded(buf, 4, "%s", "ab\xB0\xA1"));
    EXPECT_STREQ("ab", buf);
    EXPECT_TRUE(RwStringPrintBounded(buf, sizeof(buf), "%s.%d", "ab", 42));
    EXPECT_STREQ("ab.42", buf);
    EXPECT_FALSE(RwStringPrintBounded(buf, sizeof(buf), "%s.png", "texture"));
    EXPECT_STREQ("texture", buf);
    EXPECT_FALSE(RwStringPrintBounded(buf, 0, "x"));

    char text[8] = "abc";
    EXPECT_TRUE(RwStringAppendBounded(text, sizeof(text), "def"));
    EXPECT_STREQ("abcdef", text);
    EXPECT_FALSE(RwStringAppendBounded(text, sizeof(text), "ghi"));
    EXPECT_STREQ("abcdefg", text);
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(RwStringAppendBounded(unterminated, sizeof(unterminated), "x"));
    EXPECT_EQ(0, unterminated[3]);
}

TEST(String, TableIsInstalledByInit)
{
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    const RwStringFunctions &f = RwEngineInstance->stringFuncs;
    char buf[32];
    EXPECT_EQ(5, f.vecSprintf(buf, "%d-%s", 12, "ab"));
    EXPECT_STREQ("12-AB", f.vecStrUpr(buf));
    EXPECT_EQ(0, f.vecStricmp("NAME", "name"));
    EXPECT_LT(f.vecStrcmp("a", "\xB0"), 0);
    RwEngineTerm();
}

}  // namespace
