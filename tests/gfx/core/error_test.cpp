#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "support/test_driver.h"

namespace {

void ExpectError(const RwError &e, RwInt32 pluginID, RwUInt32 code)
{
    EXPECT_EQ(pluginID, e.pluginID);
    EXPECT_EQ(static_cast<RwInt32>(code), e.errorCode);
}

TEST(Error, FirstErrorIsKeptUntilReadThenTheIdleRecord)
{
    RwErrorGet();
    RwError first = {5, 42};
    RwError second = {6, 43};
    EXPECT_EQ(&first, RwErrorSet(&first));
    RwErrorSet(&second);
    RwError out;
    EXPECT_EQ(&out, RwErrorGet(&out));
    ExpectError(out, 5, 42);
    RwErrorGet(&out);
    ExpectError(out, 0, 0x80000000u);

    RwErrorRaise(4, 22);
    RwErrorRaise(1, E_RW_NOMEM);
    ExpectError(RwErrorGet(), 4, 22);
    ExpectError(RwErrorGet(), 0, 0x80000000u);
    // Common codes are stored with plug-in 0.
    RwErrorRaise(7, E_RW_READ);
    ExpectError(RwErrorGet(), 0, E_RW_READ);
    // Without a record the error is only cleared.
    RwErrorRaise(2, 5);
    EXPECT_EQ(nullptr, RwErrorGet(nullptr));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOERROR), RwErrorGet().errorCode);
    EXPECT_EQ(nullptr, RwErrorSet(nullptr));
    EXPECT_EQ(22, RwErrorMakeCode(22, "texture %s", "x"));
}

TEST(Error, ErrorRaisedWhileStartedSurvivesTheStop)
{
    RwTestDriverReset();
    RwEngineOpenParams params = {nullptr};
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 0));
    ASSERT_TRUE(RwEngineOpen(&params));
    RwErrorRaise(9, 77);  // before the error module opens
    ASSERT_TRUE(RwEngineStart());
    ExpectError(RwErrorGet(), 9, 77);
    RwErrorRaise(3, 12);
    ASSERT_TRUE(RwEngineStop());
    ExpectError(RwErrorGet(), 3, 12);
    ASSERT_TRUE(RwEngineClose());
    ASSERT_TRUE(RwEngineTerm());
}

}  // namespace
