// Tests of the random-number plug-in: seeding, the warm-up, the lagged additive recurrence and restarts.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/core/started_engine.h"
#include "gfx/plugins/random/random.h"

namespace {

void Attach()
{
    ASSERT_TRUE(RwRandomPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

std::vector<RwUInt32> Draws(int n)
{
    std::vector<RwUInt32> out;
    for (int i = 0; i < n; ++i) {
        out.push_back(RwRandomDraw());
    }
    return out;
}

void Restart(bool failTable = false)
{
    static RwEngineOpenParams params = {reinterpret_cast<void *>(0x1234)};
    RwEngineStop();
    RwEngineClose();
    rwTestMemory.failHint = failTable ? static_cast<RwUInt32>(rwRANDOMTABLEHINT) : 0u;
    ASSERT_TRUE(RwEngineOpen(&params));
    ASSERT_EQ(!failTable, RwEngineStart());
    rwTestMemory.failHint = 0;
    if (failTable) {
        ASSERT_TRUE(RwEngineStart());
    }
}

TEST(Random, SeedTableAndRecurrence)
{
    // Rebuild the table as open does, then replay the warm-up on it.
    const RwRandomState *state = RwRandomGetState();
    ASSERT_NE(nullptr, state);
    EXPECT_EQ(state->table + 31, state->end);
    RwUInt32 table[31] = {0x9A319039u, 0x9A319039u * 0x41C64E6Du + 0x3039u};
    for (int i = 2; i < 31; ++i) {
        table[i] = table[i - 1] * 0x41C64E6Du + 0x3039u;
    }
    int front = 3, rear = 0;
    std::vector<RwUInt32> expected;
    for (int i = 0; i < 310 + 100; ++i) {
        table[front] += table[rear];
        expected.push_back(table[front] >> 1);
        front = (front + 1) % 31;
        rear = (rear + 1) % 31;
    }
    expected.erase(expected.begin(), expected.begin() + 310);
    Restart();
    EXPECT_EQ(expected, Draws(100));
}

TEST(Random, EveryStartGivesTheSameSequenceAndAFailedTableFailsTheStart)
{
    Restart();
    const std::vector<RwUInt32> first = Draws(64);
    Restart();
    EXPECT_EQ(first, Draws(64));
    const RwInt32 live = rwTestMemory.live;
    Restart(true);
    EXPECT_EQ(first, Draws(64));
    EXPECT_EQ(live, rwTestMemory.live);
}

}  // namespace
