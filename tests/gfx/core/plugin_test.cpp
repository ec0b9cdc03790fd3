#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/plugin.h"
#include "support/test_driver.h"

namespace {

// A registry of a 20-byte object type.
RwPluginRegistry thingRegistry = rwPLUGINREGISTRY_INIT(20);

std::vector<std::string> calls;
int failingConstructor = 0;

template <int N>
void *Construct(void *object, RwInt32 offset, RwInt32 size)
{
    if (failingConstructor == N) {
        calls.push_back("fail" + std::to_string(N));
        return nullptr;
    }
    calls.push_back("c" + std::to_string(N) + "@" + std::to_string(offset) + "/" + std::to_string(size));
    return object;
}

template <int N>
void *Destruct(void *object, RwInt32, RwInt32)
{
    calls.push_back("d" + std::to_string(N));
    return object;
}

int failingCopy = 0;

template <int N>
void *Copy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    calls.push_back("k" + std::to_string(N));
    if (failingCopy == N) {
        return nullptr;
    }
    static_cast<RwUInt8 *>(dst)[offset] = static_cast<const RwUInt8 *>(src)[offset];
    return dst;
}

RwInt32 Add(RwInt32 size, RwUInt32 id, RwPluginObjectConstructor c = nullptr, RwPluginObjectDestructor d = nullptr,
            RwPluginObjectCopy k = nullptr)
{
    return RwPluginRegistryAddPlugin(&thingRegistry, size, id, c, d, k);
}

// Every case runs with and without free lists.
class Registry : public ::testing::TestWithParam<RwUInt32> {
protected:
    void SetUp() override
    {
        RwTestDriverReset();
        ASSERT_TRUE(RwEngineInit(nullptr, GetParam(), 0));
        calls.clear();
        failingConstructor = 0;
        failingCopy = 0;
        RwErrorGet();
    }
    // Term resets the registry to its base size.
    void TearDown() override
    {
        RwEngineTerm();
        EXPECT_EQ(20, thingRegistry.sizeOfStruct);
        EXPECT_EQ(nullptr, thingRegistry.firstRegEntry);
        EXPECT_EQ(nullptr, thingRegistry.lastRegEntry);
    }
};

TEST_P(Registry, OffsetsFollowTheBaseSizeRoundedToWords)
{
    EXPECT_EQ(20, Add(5, 0x100));
    EXPECT_EQ(28, Add(0, 0x101));
    EXPECT_EQ(28, Add(4, 0x102));
    EXPECT_EQ(32, thingRegistry.sizeOfStruct);
    EXPECT_EQ(28, RwPluginRegistryGetPluginOffset(&thingRegistry, 0x101));
    EXPECT_EQ(-1, RwPluginRegistryGetPluginOffset(&thingRegistry, 0x999));
    RwPluginEntry *e = RwPluginRegistryFindEntry(&thingRegistry, 0x100);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(5, e->size);
}

TEST_P(Registry, SecondRegistrationOfAnIdGivesTheFirstOffsetOrIsRefused)
{
    ASSERT_EQ(20, Add(8, 0x100, Construct<1>, Destruct<1>));
    EXPECT_EQ(20, Add(8, 0x100, Construct<1>, Destruct<1>));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_PLUGININIT), RwErrorGet().errorCode);
    EXPECT_EQ(-1, Add(64, 0x100, Construct<1>, Destruct<1>));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_PLUGININIT), RwErrorGet().errorCode);
    EXPECT_EQ(-1, Add(8, 0x100, Construct<2>, Destruct<1>));
    EXPECT_EQ(28, thingRegistry.sizeOfStruct);
}

TEST_P(Registry, BadArgumentsAndTheSizeLimitAreRefused)
{
    EXPECT_EQ(-1, RwPluginRegistryAddPlugin(nullptr, 4, 0x1, nullptr, nullptr, nullptr));
    EXPECT_EQ(-1, Add(-4, 0x1));
    EXPECT_EQ(-1, Add(0x7FFFFFF0, 0x1));
    EXPECT_EQ(20, thingRegistry.sizeOfStruct);
    EXPECT_EQ(-1, RwPluginRegistryGetPluginOffset(nullptr, 0x1));
    RwPluginRegistry limited = {16, 16, 24, 0, nullptr, nullptr};
    EXPECT_EQ(16, RwPluginRegistryAddPlugin(&limited, 8, 0x1, nullptr, nullptr, nullptr));
    EXPECT_EQ(-1, RwPluginRegistryAddPlugin(&limited, 1, 0x2, nullptr, nullptr, nullptr));
    EXPECT_EQ(24, limited.sizeOfStruct);
    RwEngineTerm();
    EXPECT_EQ(16, limited.sizeOfStruct);
    EXPECT_EQ(-1, Add(4, 0x1));  // before init
    ASSERT_TRUE(RwEngineInit(nullptr, GetParam(), 0));
}

TEST_P(Registry, ConstructorsRunInOrderDestructorsInReverse)
{
    Add(4, 0x1, Construct<1>, Destruct<1>, Copy<1>);
    Add(6, 0x2, Construct<2>, Destruct<2>, Copy<2>);
    Add(4, 0x3);
    Add(4, 0x4, Construct<4>, Destruct<4>, Copy<4>);
    RwUInt8 a[40] = {};
    RwUInt8 b[40] = {};
    EXPECT_EQ(&thingRegistry, RwPluginRegistryInitObject(&thingRegistry, a));
    EXPECT_EQ(&thingRegistry, RwPluginRegistryDeInitObject(&thingRegistry, a));
    a[20] = 11;
    a[24] = 12;
    a[36] = 14;
    EXPECT_EQ(&thingRegistry, RwPluginRegistryCopyObject(&thingRegistry, b, a));
    EXPECT_EQ((std::vector<std::string>{"c1@20/4", "c2@24/6", "c4@36/4", "d4", "d2", "d1", "k1", "k2", "k4"}),
              calls);
    EXPECT_EQ(11, b[20]);
    EXPECT_EQ(12, b[24]);
    EXPECT_EQ(14, b[36]);
    // A failed copy fails the whole: the owner destroys what it made.
    calls.clear();
    failingCopy = 2;
    EXPECT_EQ(nullptr, RwPluginRegistryCopyObject(&thingRegistry, b, a));
    EXPECT_EQ((std::vector<std::string>{"k1", "k2"}), calls);
}

TEST_P(Registry, FailingConstructorUndoesTheEarlierOnes)
{
    Add(4, 0x1, Construct<1>, Destruct<1>);
    Add(4, 0x2, Construct<2>, Destruct<2>);
    Add(4, 0x3, Construct<3>, Destruct<3>);
    Add(4, 0x4, Construct<4>, Destruct<4>);
    const struct {
        int failing;
        std::vector<std::string> calls;
    } cases[] = {{3, {"c1@20/4", "c2@24/4", "fail3", "d2", "d1"}}, {1, {"fail1"}}};
    for (const auto &c : cases) {
        RwUInt8 a[40] = {};
        calls.clear();
        failingConstructor = c.failing;
        EXPECT_EQ(nullptr, RwPluginRegistryInitObject(&thingRegistry, a));
        EXPECT_EQ(c.calls, calls);
    }
}

TEST_P(Registry, ManyRegistrationsGiveTheSameOffsetsAfterTermAndInit)
{
    for (int round = 0; round < 2; ++round) {
        for (RwUInt32 i = 0; i < 200; ++i) {
            ASSERT_EQ(20 + 4 * static_cast<RwInt32>(i), Add(3, 0x1000 + i));
        }
        EXPECT_EQ(20 + 800, thingRegistry.sizeOfStruct);
        EXPECT_EQ(20 + 4 * 150, RwPluginRegistryGetPluginOffset(&thingRegistry, 0x1000 + 150));
        ASSERT_TRUE(RwEngineTerm());
        EXPECT_EQ(20, thingRegistry.sizeOfStruct);
        ASSERT_TRUE(RwEngineInit(nullptr, GetParam(), 0));
    }
}

INSTANTIATE_TEST_SUITE_P(FreeListModes, Registry, ::testing::Values(0u, 1u));

}  // namespace
