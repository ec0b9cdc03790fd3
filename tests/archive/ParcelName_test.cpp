#include <gtest/gtest.h>

#include "archive/ParcelName.h"

static int Sign(int v)
{
    return (v > 0) - (v < 0);
}

TEST(ParcelName, LettersFoldToLowerCaseAndTrailBytesStayUnfolded)
{
    const struct {
        const char *a, *b;
        int sign;
    } cases[] = {
        {"Data\\Configs\\Item.cfb", "data\\CONFIGS\\item.CFB", 0},
        {"", "", 0},
        {"abc", "ABD", -1},
        {"abcd", "ABC", 1},
        // '_' (0x5F) lies between 'Z' and 'a': folded to lower case, letters come after it.
        {"A", "_", 1},
        // Unsigned bytes: double-byte names sort after ASCII.
        {"\xB0\xA1", "z", 1},
        // 0x81 0x41 and 0x81 0x61 are two different code-page 949 characters...
        {"\x81\x41.png", "\x81\x61.png", -1},
        // ...and after one, letters fold again.
        {"\x81\x41X", "\x81\x41x", 0},
        // A trail byte in the lead bytes' range ends its character all the
        // same: the next byte is a character of its own, folded or a lead.
        {"\xB0\xA1X", "\xB0\xA1x", 0},
        {"\xB0\xA1\xB0\x41", "\xB0\xA1\xB0\x61", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.sign, Sign(ParcelNameCompare(c.a, c.b))) << c.a << " " << c.b;

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
