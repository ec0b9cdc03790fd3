#include <gtest/gtest.h>

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/rwstring.h"

namespace {

// "가나" in code page 949 is B0 A1 B3 AA; "갃" is 88 41 (a second byte in the
// range of ASCII 'A') and "갂" is 88 61 ('a').
const char hangulLowerTrail[] = "\x88\x61";
const char hangulUpperTrail[] = "\x88\x41";

TEST(String, CompareNoCaseFoldsAsciiLetters)
{
    EXPECT_EQ(0, RwStringCompareNoCase("Abc", "aBC"));
    EXPECT_LT(RwStringCompareNoCase("abc", "abd"), 0);
    EXPECT_GT(RwStringCompareNoCase("abd", "ABC"), 0);
    EXPECT_LT(RwStringCompareNoCase("ab", "abc"), 0);
    EXPECT_EQ(0, RwStringCompareNoCase(nullptr, "x"));
    EXPECT_EQ(0, RwStringCompareNoCase("x", nullptr));
    // Letters fold to lower case, so 'A' (as 'a', 0x61) sorts after '_' (0x5F).
    EXPECT_EQ(2, RwStringCompareNoCase("A", "_"));
}

TEST(String, CompareNoCaseTreatsHighBytesAsUnsigned)
{
    // B0 is above every ASCII byte.
    EXPECT_GT(RwStringCompareNoCase("\xB0\xA1", "z"), 0);
    EXPECT_LT(RwStringCompareNoCase("z", "\xB0\xA1"), 0);
    EXPECT_EQ(0xB0 - 'z', RwStringCompareNoCase("\xB0\xA1", "z"));
}

TEST(String, CompareNoCaseKeepsSecondBytesOfKoreanCharacters)
{
    EXPECT_NE(0, RwStringCompareNoCase(hangulLowerTrail, hangulUpperTrail));
    EXPECT_EQ(0, RwStringCompareNoCase("\xB0\xA1Tex", "\xB0\xA1tEX"));
}

TEST(String, CaseChangesOnlyAsciiLetters)
{
    char s[] = "Tex_01 \xB0\xA1 name";
    EXPECT_EQ(s, RwStringToUpper(s));
    EXPECT_STREQ("TEX_01 \xB0\xA1 NAME", s);
    EXPECT_EQ(s, RwStringToLower(s));
    EXPECT_STREQ("tex_01 \xB0\xA1 name", s);
    char empty[] = "";
    EXPECT_EQ(empty, RwStringToUpper(empty));
    EXPECT_EQ(nullptr, RwStringToLower(nullptr));
}

TEST(String, CaseChangesLeaveKoreanSecondBytesAlone)
{
    char s[] = "\x88\x61x\x88\x41";
    RwStringToUpper(s);
    EXPECT_STREQ("\x88\x61X\x88\x41", s);
    RwStringToLower(s);
    EXPECT_STREQ("\x88\x61x\x88\x41", s);
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

TEST(String, CopyBoundedAlwaysTerminates)
{
    char buf[6];
    memset(buf, 'X', sizeof(buf));
    EXPECT_TRUE(RwStringCopyBounded(buf, sizeof(buf), "abcde"));
    EXPECT_STREQ("abcde", buf);
    memset(buf, 'X', sizeof(buf));
    EXPECT_FALSE(RwStringCopyBounded(buf, sizeof(buf), "abcdefgh"));
    EXPECT_STREQ("abcde", buf);
    EXPECT_TRUE(RwStringCopyBounded(buf, sizeof(buf), ""));
    EXPECT_STREQ("", buf);
    EXPECT_FALSE(RwStringCopyBounded(buf, 0, "a"));
    EXPECT_TRUE(RwStringCopyBounded(buf, 1, ""));
    EXPECT_FALSE(RwStringCopyBounded(buf, 1, "a"));
    EXPECT_EQ(0, buf[0]);
}

TEST(String, BoundedFormsDoNotSplitKoreanCharacters)
{
    char buf[4];
    // "a" + two-byte character + two-byte character: the second does not fit.
    EXPECT_FALSE(RwStringCopyBounded(buf, sizeof(buf), "a\xB0\xA1\xB3\xAA"));
    EXPECT_STREQ("a\xB0\xA1", buf);
    EXPECT_FALSE(RwStringCopyBounded(buf, sizeof(buf), "ab\xB0\xA1"));
    EXPECT_STREQ("ab", buf);
    EXPECT_FALSE(RwStringPrintBounded(buf, sizeof(buf), "%s", "ab\xB0\xA1"));
    EXPECT_STREQ("ab", buf);
}

TEST(String, AppendBoundedReportsTruncation)
{
    char buf[8] = "abc";
    EXPECT_TRUE(RwStringAppendBounded(buf, sizeof(buf), "def"));
    EXPECT_STREQ("abcdef", buf);
    EXPECT_FALSE(RwStringAppendBounded(buf, sizeof(buf), "ghi"));
    EXPECT_STREQ("abcdefg", buf);
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(RwStringAppendBounded(unterminated, sizeof(unterminated), "x"));
    EXPECT_EQ(0, unterminated[3]);
}

TEST(String, PrintBoundedFormatsAndTruncates)
{
    char buf[8];
    EXPECT_TRUE(RwStringPrintBounded(buf, sizeof(buf), "%s.%d", "ab", 42));
    EXPECT_STREQ("ab.42", buf);
    EXPECT_FALSE(RwStringPrintBounded(buf, sizeof(buf), "%s.png", "texture"));
    EXPECT_STREQ("texture", buf);
    EXPECT_FALSE(RwStringPrintBounded(buf, 0, "x"));
}

TEST(String, TableIsInstalledByInit)
{
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    const RwStringFunctions &f = RwEngineInstance->stringFuncs;
    char buf[32];
    EXPECT_EQ(5, f.vecSprintf(buf, "%d-%s", 12, "ab"));
    EXPECT_STREQ("12-ab", buf);
    EXPECT_EQ(0, f.vecStricmp("NAME", "name"));
    EXPECT_EQ(5u, f.vecStrlen("hello"));
    EXPECT_EQ(buf + 2, f.vecStrchr(buf, '-'));
    EXPECT_EQ(buf + 2, f.vecStrrchr(buf, '-'));
    int a = 0;
    int b = 0;
    EXPECT_EQ(2, f.vecSscanf("7 9", "%d %d", &a, &b));
    EXPECT_EQ(7, a);
    EXPECT_EQ(9, b);
    EXPECT_STREQ("12-AB", f.vecStrUpr(buf));
    EXPECT_LT(f.vecStrcmp("a", "\xB0"), 0);
    RwEngineTerm();
}

}  // namespace
