#include <gtest/gtest.h>
#include "gfx/core/engine.h"

TEST(Helpers, ReturnTrueIgnoresArguments)
{
    EXPECT_EQ(TRUE, RwReturnTrue());
    EXPECT_EQ(TRUE, RwReturnTrue(1, "x", 2.0));
    EXPECT_EQ(0, RwReturnZero(nullptr, nullptr, 5));
}

TEST(Helpers, ThirdWordIsAtByteOffsetEight)
{
    const RwUInt32 record[4] = {1, 2, 0xFFFFFFFFu, 4};
    EXPECT_EQ(0xFFFFFFFFu, RwGetThirdWord(record));
}
