// Animation manager: keys, loads through the archive, references, holds, refused input.
#include "motion_files.h"

#include "archive/CParcel.h"
#include "engine/CKivAnimManager.h"
#include "gfx/plugins/uvanim/uva_bytes.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new CountedAnimationGraphics);

const std::string kTree = "motiontree/", kMotions = kTree + "Data/Avatar/Motions/";

struct AnimManager : ::testing::Test {
    CParcel parcel;
    CKivAnimManager manager{&parcel};
    RwInt32 live = rwTestMemory.live;
    void SetUp() override
    {
        WriteMotion(kMotions + "Walk.anm", 2, 1.0f);
        WriteMotion(kMotions + "Run.anm", 3, 2.0f);
        WriteMotion(kTree + "Data/Other/alt.anm", 1, 0.5f);
        WriteMotion(kTree + "Data/v1.2/hop", 1, 0.25f);
        ASSERT_TRUE(parcel.Open(0, "motiontree", 2, 0x2800));
    }
};

TEST_F(AnimManager, KeysIgnoreLetterCaseAndPathsKeyOnTheirBaseName)
{
    RwAnimAnimation *walk = manager.GetAnimation("Walk");
    ASSERT_NE(nullptr, walk);
    const RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(walk->pFrames);
    EXPECT_EQ(4, walk->numFrames);
    EXPECT_EQ(&k[1], k[3].prevFrame);
    EXPECT_EQ(1.0f, k[3].t.x);
    EXPECT_EQ(walk, manager.FindAnimation("WALK"));
    EXPECT_EQ(walk, manager.GetAnimation("wALK"));
    EXPECT_EQ(nullptr, manager.FindAnimation("run"));   // finding never loads

    const struct { const char *path, *key; } paths[] = {
        {"Data/Avatar/Motions/Run.anm", "run"}, {"Data\\Other\\alt.anm", "ALT"}, {"Data/v1.2/hop", "hop"}};
    for (const auto &c : paths) {
        EXPECT_TRUE(manager.LoadAnimation(c.path, nullptr)) << c.path;
        EXPECT_NE(nullptr, manager.FindAnimation(c.key)) << c.path;
    }
    // A key loaded from elsewhere keeps GetAnimation out of the motions folder.
    ASSERT_TRUE(manager.LoadAnimation("Data/Other/alt.anm", "Jog"));
    ASSERT_NE(nullptr, manager.GetAnimation("jog"));
    EXPECT_EQ(0.5f, manager.GetAnimation("jog")->duration);
    EXPECT_EQ(5, manager.GetAnimationCount());
}

TEST_F(AnimManager, ReferencesAndHolds)
{
    ASSERT_TRUE(manager.LoadAnimation("Data/Avatar/Motions/Run.anm", "Run"));
    ASSERT_TRUE(manager.LoadAnimation("Data/Other/alt.anm", "RUN"));   // not read again
    EXPECT_EQ(2.0f, manager.FindAnimation("run")->duration);
    EXPECT_TRUE(manager.RemoveAnimation("run"));
    EXPECT_NE(nullptr, manager.FindAnimation("run"));
    EXPECT_TRUE(manager.RemoveAnimation("Run"));
    EXPECT_FALSE(manager.RemoveAnimation("run"));
    EXPECT_EQ(live, rwTestMemory.live);

    // Removed while two players hold it: the key goes, the animation stays.
    RwAnimAnimation *walk = manager.TakeAnimation("walk");
    ASSERT_NE(nullptr, walk);
    EXPECT_EQ(1, manager.HoldAnimation(walk));
    EXPECT_TRUE(manager.RemoveAnimation("walk"));
    EXPECT_EQ(nullptr, manager.FindAnimation("walk"));
    EXPECT_EQ(2, manager.GetHoldCount(walk));
    RwAnimAnimation *again = manager.GetAnimation("walk");
    EXPECT_NE(walk, again);
    EXPECT_EQ(1, manager.DropAnimation(walk));
    EXPECT_EQ(1, manager.DropAnimation(walk));
    EXPECT_EQ(0, manager.DropAnimation(walk));
    EXPECT_EQ(0, manager.HoldAnimation(walk));
    EXPECT_TRUE(manager.RemoveAnimation("walk"));
    EXPECT_EQ(live, rwTestMemory.live);

    ASSERT_NE(nullptr, manager.TakeAnimation("run"));
    EXPECT_TRUE(manager.RemoveAllAnimations());
    EXPECT_EQ(0, manager.GetAnimationCount());
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST_F(AnimManager, MissingMotionIsTriedAgain)
{
    DeleteFileA((kMotions + "late.anm").c_str());
    EXPECT_EQ(nullptr, manager.GetAnimation("late"));
    WriteMotion(kMotions + "late.anm", 1, 3.0f);
    EXPECT_NE(nullptr, manager.GetAnimation("late"));
}

TEST_F(AnimManager, NamesAndPathsMustFitTheirBuffers)
{
    const std::string fits(259, 'w'), longer(260, 'w'), pathTooLong(236, 'w');
    EXPECT_TRUE(manager.LoadAnimation("Data/Other/alt.anm", fits.c_str()));
    EXPECT_NE(nullptr, manager.GetAnimation(fits.c_str()));
    EXPECT_EQ(nullptr, manager.GetAnimation(pathTooLong.c_str()));
    EXPECT_EQ(nullptr, manager.GetAnimation(longer.c_str()));
    EXPECT_FALSE(manager.LoadAnimation("Data/Other/alt.anm", longer.c_str()));
    EXPECT_FALSE(manager.LoadAnimation(longer.c_str(), nullptr));
    EXPECT_FALSE(manager.RemoveAnimation(longer.c_str()));
    EXPECT_FALSE(manager.LoadAnimation("Data/Avatar/Motions/", nullptr));
    EXPECT_FALSE(manager.LoadAnimation(nullptr, "x"));
    EXPECT_EQ(nullptr, manager.TakeAnimation(nullptr));
    EXPECT_EQ(nullptr, manager.FindAnimation(nullptr));
    EXPECT_FALSE(manager.RemoveAnimation(nullptr));
}

// From the chunk tables: a string chunk, then one node turning a quarter turn
// and moving to (1, 2, 3) in 1.5 s.
Bytes HandMotion()
{
    Build b;
    b.Header(0x02, 4).Text("abc", 4).Header(0x1B, 20 + 2 * 36).U32(0x100).U32(1).U32(2).U32(0);
    PutReals(b.bytes, {1.5f, 0.0f, 0, 0, 0, 1, 0, 0, 0});
    PutReals(b.U32(0).bytes, {1.5f, 0, 0, 0.70710677f, 0.70710677f, 1, 2, 3});
    return b.U32(0);
}

// An archive whose sizes claim more than its files hold.
struct ShortReads : CParcel {
    DWORD GetFileSize(HANDLE file, LPDWORD high) override { return CParcel::GetFileSize(file, high) + 16; }
};

TEST_F(AnimManager, HandAssembledFileReadsAndBadFilesGiveNothing)
{
    const Bytes good = HandMotion();
    WriteTreeFile(kMotions + "hand.anm", good);
    RwAnimAnimation *hand = manager.GetAnimation("hand");
    ASSERT_NE(nullptr, hand);
    const RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(hand->pFrames);
    EXPECT_EQ(1.5f, hand->duration);
    EXPECT_EQ(&k[0], k[1].prevFrame);
    EXPECT_EQ(0.70710677f, k[1].q.w);
    EXPECT_EQ(3.0f, k[1].t.z);
    ShortReads shortParcel;
    ASSERT_TRUE(shortParcel.Open(0, "motiontree", 2, 0x2800));
    EXPECT_EQ(nullptr, CKivAnimManager(&shortParcel).GetAnimation("hand"));

    Bytes version = good, scheme = good, count = good;
    version[28] = 0x01;                  // body version 0x101
    scheme[32] = 0x77;                   // no such keyframe scheme
    memset(&count[36], 0xFF, 4);         // -1 keyframes
    // Texture-coordinate keyframes are no motion.
    std::vector<Bytes> files = {version, scheme, count, uvabytes::Scroll("hand")};
    for (size_t n = 0; n < good.size(); n++)
        files.emplace_back(good.begin(), good.begin() + n);
    live = rwTestMemory.live;
    for (size_t i = 0; i < files.size(); i++) {
        WriteTreeFile(kMotions + "bad.anm", files[i]);
        EXPECT_EQ(nullptr, manager.GetAnimation("bad")) << i;
    }
    EXPECT_EQ(1, manager.GetAnimationCount());
    EXPECT_EQ(live, rwTestMemory.live);
    RwErrorGetLast();
}

} // namespace
