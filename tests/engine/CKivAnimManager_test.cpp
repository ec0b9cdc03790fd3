// Animation manager: keys, loads through the archive, references, holds, refused input.
#include "motion_files.h"

#include <cstring>

#include "engine/CKivAnimManager.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new CountedAnimationGraphics);

std::string Tree(const std::string &path)
{
    return std::string(kMotionTree) + "/" + path;
}

struct AnimManager : ::testing::Test {
    MotionArchive archive;
    CKivAnimManager manager{&archive.parcel};
    void SetUp() override
    {
        WriteMotion(Tree("Data/Avatar/Motions/Walk.anm"), 2, 1.0f);
        WriteMotion(Tree("Data/Avatar/Motions/Run.anm"), 3, 2.0f);
        WriteMotion(Tree("Data/Other/alt.anm"), 1, 0.5f);
        WriteMotion(Tree("Data/v1.2/hop"), 1, 0.25f);
    }
};

TEST_F(AnimManager, KeysIgnoreLetterCaseAndGetLoadsFromTheMotionsFolder)
{
    RwAnimAnimation *walk = manager.GetAnimation("Walk");
    ASSERT_NE(nullptr, walk);
    EXPECT_EQ(4, walk->numFrames);
    EXPECT_FLOAT_EQ(1.0f, walk->duration);
    const RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(walk->pFrames);
    EXPECT_EQ(&k[1], k[3].prevFrame);
    EXPECT_FLOAT_EQ(0.6f, k[3].q.z);
    EXPECT_FLOAT_EQ(1.0f, k[3].t.x);
    EXPECT_EQ(walk, manager.FindAnimation("WALK"));
    EXPECT_EQ(walk, manager.GetAnimation("wALK"));
    EXPECT_EQ(1, manager.GetAnimationCount());
    EXPECT_EQ(nullptr, manager.FindAnimation("run"));   // finding never loads
}

TEST_F(AnimManager, PathKeysAreBaseNamesWithoutExtension)
{
    const struct { const char *path, *key; } cases[] = {
        {"Data/Avatar/Motions/Run.anm", "run"},
        {"Data\\Other\\alt.anm", "ALT"},
        {"Data/v1.2/hop", "hop"},      // no dot in the base name: all of it
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(manager.LoadAnimation(c.path, nullptr)) << c.path;
        EXPECT_NE(nullptr, manager.FindAnimation(c.key)) << c.path;
    }
    EXPECT_EQ(3, manager.GetAnimationCount());
    EXPECT_FALSE(manager.LoadAnimation("Data/Avatar/Motions/", nullptr));
}

TEST_F(AnimManager, RegisteredKeyFromAnotherFileWinsOverTheMotionsFolder)
{
    ASSERT_TRUE(manager.LoadAnimation("Data/Other/alt.anm", "walk"));
    RwAnimAnimation *walk = manager.GetAnimation("Walk");
    ASSERT_NE(nullptr, walk);
    EXPECT_FLOAT_EQ(0.5f, walk->duration);
}

TEST_F(AnimManager, TwoLoadsNeedTwoRemovals)
{
    const RwInt32 live = rwTestMemory.live;
    ASSERT_TRUE(manager.LoadAnimation("Data/Avatar/Motions/Run.anm", "Run"));
    ASSERT_TRUE(manager.LoadAnimation("Data/Other/alt.anm", "RUN"));   // not read again
    EXPECT_FLOAT_EQ(2.0f, manager.FindAnimation("run")->duration);
    EXPECT_TRUE(manager.RemoveAnimation("run"));
    EXPECT_NE(nullptr, manager.FindAnimation("run"));
    EXPECT_TRUE(manager.RemoveAnimation("Run"));
    EXPECT_EQ(nullptr, manager.FindAnimation("run"));
    EXPECT_FALSE(manager.RemoveAnimation("run"));
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST_F(AnimManager, MissingMotionIsTriedAgain)
{
    DeleteFileA(Tree("Data/Avatar/Motions/late.anm").c_str());
    EXPECT_EQ(nullptr, manager.GetAnimation("late"));
    EXPECT_EQ(0, manager.GetAnimationCount());
    WriteMotion(Tree("Data/Avatar/Motions/late.anm"), 1, 3.0f);
    ASSERT_NE(nullptr, manager.GetAnimation("late"));
}

TEST_F(AnimManager, RemovalWhileHeldFreesAtTheLastDrop)
{
    const RwInt32 live = rwTestMemory.live;
    RwAnimAnimation *walk = manager.TakeAnimation("walk");
    ASSERT_NE(nullptr, walk);
    EXPECT_EQ(1, manager.HoldAnimation(walk));
    EXPECT_TRUE(manager.RemoveAnimation("walk"));
    EXPECT_EQ(nullptr, manager.FindAnimation("walk"));   // the key goes at once
    EXPECT_EQ(2, manager.GetHoldCount(walk));
    EXPECT_FLOAT_EQ(1.0f, walk->duration);              // still alive for its players

    // A new load under the key is a new animation beside the held one.
    RwAnimAnimation *again = manager.GetAnimation("walk");
    ASSERT_NE(nullptr, again);
    EXPECT_NE(walk, again);
    EXPECT_TRUE(manager.RemoveAnimation("walk"));

    EXPECT_EQ(1, manager.DropAnimation(walk));
    EXPECT_NE(live, rwTestMemory.live);
    EXPECT_EQ(1, manager.DropAnimation(walk));
    EXPECT_EQ(live, rwTestMemory.live);
    EXPECT_EQ(0, manager.DropAnimation(walk));

    RwAnimAnimation *foreign = MakeMotion(1, 1.0f);
    EXPECT_EQ(0, manager.HoldAnimation(foreign));
    EXPECT_EQ(0, manager.DropAnimation(foreign));
    RwAnimAnimationDestroy(foreign);
}

TEST_F(AnimManager, RemoveAllFreesHeldAnimationsToo)
{
    const RwInt32 live = rwTestMemory.live;
    {
        CKivAnimManager other(&archive.parcel);
        ASSERT_NE(nullptr, other.TakeAnimation("run"));
        ASSERT_NE(nullptr, other.GetAnimation("walk"));
    }
    EXPECT_EQ(live, rwTestMemory.live);
    ASSERT_NE(nullptr, manager.TakeAnimation("run"));
    EXPECT_TRUE(manager.RemoveAllAnimations());
    EXPECT_EQ(0, manager.GetAnimationCount());
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST_F(AnimManager, NamesAndPathsMustFitTheirBuffers)
{
    const std::string fits(259, 'w'), longer(260, 'w'), huge(5000, 'x');
    EXPECT_TRUE(manager.LoadAnimation("Data/Other/alt.anm", fits.c_str()));
    EXPECT_EQ(manager.FindAnimation(fits.c_str()), manager.GetAnimation(fits.c_str()));
    EXPECT_TRUE(manager.RemoveAnimation(fits.c_str()));
    // Fits as a name, but not inside the motions folder's path.
    EXPECT_EQ(nullptr, manager.GetAnimation(std::string(236, 'w').c_str()));
    for (const std::string *name : {&longer, &huge}) {
        EXPECT_EQ(nullptr, manager.GetAnimation(name->c_str()));
        EXPECT_FALSE(manager.LoadAnimation("Data/Other/alt.anm", name->c_str()));
        EXPECT_FALSE(manager.LoadAnimation(name->c_str(), "x"));
        EXPECT_FALSE(manager.LoadAnimation(name->c_str(), nullptr));
        EXPECT_FALSE(manager.RemoveAnimation(name->c_str()));
    }
    EXPECT_EQ(nullptr, manager.GetAnimation(nullptr));
    EXPECT_EQ(nullptr, manager.FindAnimation(nullptr));
    EXPECT_FALSE(manager.LoadAnimation(nullptr, "x"));
    EXPECT_FALSE(manager.RemoveAnimation(nullptr));
    EXPECT_EQ(nullptr, manager.TakeAnimation(nullptr));
}

// Written from the chunk tables: a string chunk before the animation, one
// node turning from rest to a quarter turn.
Bytes HandMotion()
{
    Build b;
    b.Header(0x02, 4).Text("abc", 4);
    b.Header(0x1B, 20 + 2 * 36).U32(0x100).U32(1).U32(2).U32(0);
    PutReals(b.bytes, {1.5f, 0.0f, 0, 0, 0, 1, 0, 0, 0});
    b.U32(0);
    PutReals(b.bytes, {1.5f, 0, 0, 0.70710677f, 0.70710677f, 1, 2, 3});
    return b.U32(0);
}

TEST_F(AnimManager, HandAssembledFileReads)
{
    WriteTreeFile(Tree("Data/Avatar/Motions/hand.anm"), HandMotion());
    RwAnimAnimation *hand = manager.GetAnimation("hand");
    ASSERT_NE(nullptr, hand);
    EXPECT_EQ(rwHANIMKEYFRAMESCHEME, hand->interpInfo->typeID);
    EXPECT_EQ(2, hand->numFrames);
    EXPECT_FLOAT_EQ(1.5f, hand->duration);
    const RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(hand->pFrames);
    EXPECT_EQ(0.0f, k[0].time);
    EXPECT_EQ(&k[0], k[1].prevFrame);
    EXPECT_FLOAT_EQ(0.70710677f, k[1].q.w);
    EXPECT_FLOAT_EQ(3.0f, k[1].t.z);
}

TEST_F(AnimManager, BadFilesGiveNothingAndLeakNothing)
{
    const Bytes good = HandMotion();
    Bytes version = good, scheme = good, count = good;
    version[28] = 0x01;                  // body version 0x101
    scheme[32] = 0x77;                   // no such keyframe scheme
    memset(&count[36], 0xFF, 4);         // -1 keyframes
    std::vector<Bytes> files = {Build().Header(0x02, 4).Text("abc", 4), version, scheme, count};
    for (size_t n = 0; n < good.size(); n++)
        files.emplace_back(good.begin(), good.begin() + n);
    const RwInt32 live = rwTestMemory.live;
    for (size_t i = 0; i < files.size(); i++) {
        WriteTreeFile(Tree("Data/Avatar/Motions/bad.anm"), files[i]);
        EXPECT_FALSE(manager.LoadAnimation("Data/Avatar/Motions/bad.anm", nullptr)) << i;
        EXPECT_EQ(nullptr, manager.GetAnimation("bad")) << i;
    }
    EXPECT_EQ(0, manager.GetAnimationCount());
    EXPECT_EQ(live, rwTestMemory.live);
    RwErrorGetLast();
}

// An archive whose file sizes claim more than the files hold.
struct ShortReads : CParcel {
    DWORD GetFileSize(HANDLE file, LPDWORD high) override { return CParcel::GetFileSize(file, high) + 16; }
};

TEST_F(AnimManager, ShortReadFailsTheLoad)
{
    ShortReads parcel;
    ASSERT_TRUE(parcel.Open(0, kMotionTree, 2, 0x2800));
    CKivAnimManager shortManager(&parcel);
    EXPECT_EQ(nullptr, shortManager.GetAnimation("walk"));
    parcel.Close();
}

} // namespace
