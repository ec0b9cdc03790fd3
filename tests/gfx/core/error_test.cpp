#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "support/test_driver.h"

namespace {

TEST(Error, FirstErrorIsKeptUntilRead)
{
    RwErrorGet();
    RwError first = {5, 42};
    RwError second = {6, 43};
    EXPECT_EQ(&first, RwErrorSet(&first));
    RwErrorSet(&second);
    RwError out;
    EXPECT_EQ(&out, RwErrorGet(&out));
    EXPECT_EQ(5, out.pluginID);
    EXPECT_EQ(42, out.errorCode);
    RwErrorGet(&out);
    EXPECT_EQ(0, out.pluginID);
    EXPECT_EQ(static_cast<RwInt32>(0x80000000u), out.errorCode);
}

TEST(Error, ValueFormHandsOutTheFirstErrorThenTheIdleRecord)
{
    RwErrorGet();
    RwErrorRaise(4, 22);
    RwErrorRaise(1, E_RW_NOMEM);
    RwError first = RwErrorGet();
    EXPECT_EQ(4, first.pluginID);
    EXPECT_EQ(22, first.errorCode);
    RwError idle = RwErrorGet();
    EXPECT_EQ(0, idle.pluginID);
    EXPECT_EQ(static_cast<RwInt32>(0x80000000u), idle.errorCode);
}

TEST(Error, CommonCodesAreStoredWithPluginZero)
{
    RwErrorGet();
    RwErrorRaise(7, E_RW_READ);
    RwError e = RwErrorGet();
    EXPECT_EQ(0, e.pluginID);
    EXPECT_EQ(static_cast<RwInt32>(E_RW_READ), e.errorCode);
}

TEST(Error, MakeCodeIgnoresTheMessage)
{
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
    RwError e = RwErrorGet();
    EXPECT_EQ(9, e.pluginID);
    EXPECT_EQ(77, e.errorCode);
    RwErrorRaise(3, 12);
    ASSERT_TRUE(RwEngineStop());
    e = RwErrorGet();
    EXPECT_EQ(3, e.pluginID);
    EXPECT_EQ(12, e.errorCode);
    ASSERT_TRUE(RwEngineClose());
    ASSERT_TRUE(RwEngineTerm());
}

TEST(Error, GetWithoutRecordOnlyClears)
{
    RwErrorRaise(2, 5);
    EXPECT_EQ(nullptr, RwErrorGet(nullptr));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_NOERROR), RwErrorGet().errorCode);
    EXPECT_EQ(nullptr, RwErrorSet(nullptr));
}

TEST(Error, ErrorOfAFailedStartIsKept)
{
    RwTestDriverReset();
    RwEngineOpenParams params = {nullptr};
    ASSERT_TRUE(RwEngineInit(nullptr, 0, 24));  // arena too small to set up
    ASSERT_TRUE(RwEngineOpen(&params));
    RwErrorGet();
    EXPECT_FALSE(RwEngineStart());
    RwError e = RwErrorGet();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_RESOURCES_FULL, e.errorCode);
    ASSERT_TRUE(RwEngineClose());
    ASSERT_TRUE(RwEngineTerm());
}

}  // namespace
