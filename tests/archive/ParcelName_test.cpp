#include <gtest/gtest.h>

#include "archive/ParcelName.h"

static int Sign(int v)
{
    return (v > 0) - (v < 0);
}

TEST(ParcelName, AsciiLettersCompareFolded)
{
    EXPECT_EQ(0, ParcelNameCompare("Data\\Configs\\Item.cfb", "data\\CONFIGS\\item.CFB"));
    EXPECT_EQ(0, ParcelNameCompare("", ""));
    EXPECT_GT(0, ParcelNameCompare("abc", "ABD"));
    EXPECT_LT(0, ParcelNameCompare("abcd", "ABC"));
}

TEST(ParcelName, FoldingIsToLowerCase)
{
    // '_' (0x5F) lies between 'Z' and 'a': folding to lower case puts letters after it.
    EXPECT_LT(0, ParcelNameCompare("A", "_"));
    EXPECT_LT(0, ParcelNameCompare("a", "_"));
}

TEST(ParcelName, BytesCompareUnsigned)
{
    EXPECT_LT(0, ParcelNameCompare("\xB0\xA1", "z"));
    EXPECT_GT(0, ParcelNameCompare("z", "\xC6\xC4"));
}

TEST(ParcelName, TrailByteOfDoubleByteCharacterIsNotFolded)
{
    // 0x81 0x41 and 0x81 0x61 are two different code-page 949 characters.
    EXPECT_NE(0, ParcelNameCompare("\x81\x41.png", "\x81\x61.png"));
    EXPECT_EQ(Sign(0x41 - 0x61), Sign(ParcelNameCompare("\x81\x41", "\x81\x61")));
    // After the double-byte character, letters fold again.
    EXPECT_EQ(0, ParcelNameCompare("\x81\x41X", "\x81\x41x"));
    // A lone letter after a single-byte character folds as usual.
    EXPECT_EQ(0, ParcelNameCompare("aA", "Aa"));
}

TEST(ParcelName, OrderIsAntisymmetric)
{
    const char *names[] = {"", "a", "A", "ab", "b", "_", "\x81\x41", "\x81\x61", "\x81\x41z", "\xFE"};
    for (const char *a : names)
        for (const char *b : names)
            EXPECT_EQ(-Sign(ParcelNameCompare(a, b)), Sign(ParcelNameCompare(b, a))) << a << " " << b;
}

TEST(ParcelName, PrefixIsCaseInsensitive)
{
    EXPECT_TRUE(ParcelNameIsPrefix("", "anything"));
    EXPECT_TRUE(ParcelNameIsPrefix("Data\\", "data\\Configs\\"));
    EXPECT_TRUE(ParcelNameIsPrefix("data\\configs\\", "DATA\\CONFIGS\\"));
    EXPECT_FALSE(ParcelNameIsPrefix("Data\\Foo\\", "Data\\Foobar\\"));
    EXPECT_FALSE(ParcelNameIsPrefix("Data\\Configs\\", "Data\\"));
    EXPECT_FALSE(ParcelNameIsPrefix("\x81\x61", "\x81\x41\\"));
}
