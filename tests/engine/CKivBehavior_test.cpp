// Behaviours: motion lists and durations from real motions, and the manager's names.
#include "motion_files.h"

#include "engine/CKivAnimManager.h"
#include "engine/CKivBase.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBehaviorManager.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new HostedEngine<>);

// The engine root's own animation manager reads the motions below the working folder.
struct Behaviors : ::testing::Test {
    CKivBase *base = HostedEngine<>::base;
    CKivAnimManager *animations = base->GetAnimManager();
    void SetUp() override
    {
        ASSERT_NE(nullptr, animations);
        WriteMotion("Data/Avatar/Motions/one.anm", 2, 1.0f);
        WriteMotion("Data/Avatar/Motions/two.anm", 2, 2.0f);
        WriteMotion("Data/Avatar/Motions/blink.anm", 1, 0.1f);
    }
    void TearDown() override { base->SetAnimManager(animations); }
};

TEST_F(Behaviors, DurationOverlapsEachMotionByItsBlend)
{
    CKivBehavior walk("walk", -1);
    walk.AddMotion("one", 0.2f, 0);
    walk.AddMotion("Two", 0.2f, 1);
    EXPECT_FLOAT_EQ(2.6f, walk.GetDuration());
    walk.AddMotion("blink", 0.2f, 0);   // shorter than its blend: listed, adds nothing
    walk.AddMotion("missing", 0.2f, 0); // cannot be had: not listed
    EXPECT_FLOAT_EQ(2.6f, walk.GetDuration());

    const struct { const char *name; float blend; int loop; } expected[] = {
        {"one", 0.2f, 0}, {"Two", 0.2f, 1}, {"blink", 0.2f, 0}};
    ASSERT_EQ(3u, walk.GetMotions().size());
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(expected[i].name, walk.GetMotions()[i].name);
        EXPECT_EQ(expected[i].blend, walk.GetMotions()[i].blendTime);
        EXPECT_EQ(expected[i].loop, walk.GetMotions()[i].loopFlags);
    }
    EXPECT_EQ(-1, walk.GetSoundIndex());
}

TEST_F(Behaviors, NoAnimationManagerAddsNothing)
{
    base->SetAnimManager(nullptr);
    CKivBehavior idle("idle", 0);
    idle.AddMotion("one", 0.0f, 0);
    EXPECT_TRUE(idle.GetMotions().empty());
    EXPECT_EQ(0.0f, idle.GetDuration());
}

TEST_F(Behaviors, ManagerNamesAreExactAndTheFirstCreationKeepsTheName)
{
    CKivBehaviorManager manager;
    CKivBehavior *attack = manager.CreateBehavior("Attack", 0);
    ASSERT_NE(nullptr, attack);
    EXPECT_EQ(0, attack->GetSoundIndex());
    EXPECT_EQ(0.0f, attack->GetDuration());
    attack->AddMotion("two", 0.5f, 0);
    EXPECT_EQ(attack, manager.FindBehavior("Attack"));
    EXPECT_EQ(nullptr, manager.FindBehavior("attack"));
    EXPECT_FLOAT_EQ(1.5f, manager.GetBehaviorDuration("Attack"));
    EXPECT_EQ(0.0f, manager.GetBehaviorDuration("attack"));

    // A taken name: the new behaviour is the caller's.
    CKivBehavior *second = manager.CreateBehavior("Attack", 3);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(attack, second);
    EXPECT_EQ(attack, manager.FindBehavior("Attack"));
    EXPECT_EQ(1, manager.GetBehaviorCount());
    delete second;

    EXPECT_EQ(nullptr, manager.CreateBehavior(nullptr, 0));
    EXPECT_EQ(nullptr, manager.FindBehavior(nullptr));
    EXPECT_EQ(0.0f, manager.GetBehaviorDuration(nullptr));
}

} // namespace
