// Behaviours: motion lists and durations from real motions through the engine root, and the manager's names.
#include "motion_files.h"

#include "engine/CKivAnimManager.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBehaviorManager.h"

namespace {

auto *const host = HostEngine();

TEST(Behaviors, DurationOverlapsEachMotionByItsBlend)
{
    WriteMotion("Data/Avatar/Motions/one.anm", 2, 1.0f);
    WriteMotion("Data/Avatar/Motions/two.anm", 2, 2.0f);
    WriteMotion("Data/Avatar/Motions/blink.anm", 1, 0.1f);
    CKivBehaviorManager manager;
    CKivBehavior *walk = manager.CreateBehavior("Walk", -1);
    ASSERT_NE(nullptr, walk);
    walk->AddMotion("one", 0.2f, 0);
    walk->AddMotion("Two", 0.2f, 1);
    walk->AddMotion("blink", 0.2f, 0);     // shorter than its blend: listed, adds nothing
    walk->AddMotion("missing", 0.2f, 0);   // cannot be had: not listed
    EXPECT_FLOAT_EQ(2.6f, manager.GetBehaviorDuration("Walk"));
    const std::vector<KivBehaviorMotion> &motions = walk->GetMotions();
    ASSERT_EQ(3u, motions.size());
    EXPECT_EQ("Two", motions[1].name);
    EXPECT_EQ(0.2f, motions[1].blendTime);
    EXPECT_EQ(1, motions[1].loopFlags);
    EXPECT_EQ(-1, walk->GetSoundIndex());

    // Without an animation manager nothing can be had.
    CKivAnimManager *animations = HostedEngine<>::base->GetAnimManager();
    HostedEngine<>::base->SetAnimManager(nullptr);
    walk->AddMotion("one", 0.0f, 0);
    HostedEngine<>::base->SetAnimManager(animations);
    EXPECT_EQ(3u, motions.size());
}

TEST(Behaviors, NamesAreExactAndATakenNameReturnsTheNewOneUnregistered)
{
    CKivBehaviorManager manager;
    CKivBehavior *attack = manager.CreateBehavior("Attack", 0);
    ASSERT_NE(nullptr, attack);
    EXPECT_EQ(0, attack->GetSoundIndex());
    EXPECT_EQ(attack, manager.FindBehavior("Attack"));
    EXPECT_EQ(nullptr, manager.FindBehavior("attack"));
    EXPECT_EQ(0.0f, manager.GetBehaviorDuration("attack"));
    CKivBehavior *second = manager.CreateBehavior("Attack", 3);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(attack, second);
    EXPECT_EQ(attack, manager.FindBehavior("Attack"));
    EXPECT_EQ(1, manager.GetBehaviorCount());
    delete second;
    EXPECT_EQ(nullptr, manager.CreateBehavior(nullptr, 0));
}

} // namespace
