// Behaviours: motion lists and durations from real motions through the engine root, and the manager's names.
#include "motion_files.h"

#include "engine/CKivAnimManager.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBehaviorManager.h"
#include "support/failnew/fail_new.h"

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

// Memory running out at any allocation of a creation gives null and leaves
// nothing behind; a behaviour made elsewhere stays the caller's then.
TEST(Behaviors, CreationAndAddingGiveNullWhenMemoryRunsOut)
{
    CKivBehaviorManager manager;
    const char name[] = "A behaviour with a long name";
    long refused = 1;
    for (long n = 0; refused && n < 100; n++) {
        const long blocks = KivLiveHeapBlocks();
        CKivBehavior *behavior = nullptr;
        bool thrown = false;
        FailNewAfter(n);
        try {
            behavior = manager.CreateBehavior(name, 2);
        } catch (...) {
            thrown = true;
        }
        refused = FailNewRefused();
        FailNewEnd();
        EXPECT_FALSE(thrown) << n;
        if (refused) {
            EXPECT_EQ(nullptr, behavior) << n;
            EXPECT_EQ(blocks, KivLiveHeapBlocks()) << n;
            EXPECT_EQ(0, manager.GetBehaviorCount());
        } else {
            EXPECT_EQ(behavior, manager.FindBehavior(name));
        }
    }
    EXPECT_EQ(0, refused);

    CKivBehavior *made = new CKivBehavior("Made elsewhere with a long name", 1);
    FailNewBegin(0);
    const int added = manager.AddBehavior(made);
    FailNewEnd();
    EXPECT_EQ(0, added);
    EXPECT_EQ(nullptr, manager.FindBehavior("Made elsewhere with a long name"));
    EXPECT_EQ(1, manager.AddBehavior(made));
    EXPECT_EQ(made, manager.FindBehavior("Made elsewhere with a long name"));
    EXPECT_EQ(0, manager.AddBehavior(made));   // the name is taken now
}

} // namespace
