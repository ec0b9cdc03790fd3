// Tests of the GUI's text helpers: cuts at whole characters.
#include "engine/gui/GuiText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// A character that ends exactly at the limit stays; one that passes it goes
// whole, single-byte or double-byte.
TEST(GuiText, ACutKeepsTheCharacterEndingAtTheLimit)
{
    EXPECT_EQ(GuiCutWhole("abcd", 4), "abcd");
    EXPECT_EQ(GuiCutWhole("abcde", 4), "abcd");
    char out[5];
    GuiCopyWhole(out, sizeof(out), "abcd");
    EXPECT_EQ(std::string(out), "abcd");
    // A lead byte of the code page the process runs in, and its trail.
    for (int lead = 0x81; lead < 0xFF; lead++) {
        if (!IsDBCSLeadByte(static_cast<BYTE>(lead)))
            continue;
        const std::string pair = {'a', 'b', static_cast<char>(lead), 'A'};
        EXPECT_EQ(GuiCutWhole(pair.c_str(), 4), pair);
        EXPECT_EQ(GuiCutWhole(pair.c_str(), 3), "ab");
        break;
    }
}

} // namespace
