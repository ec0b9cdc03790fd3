// Avatars from the sample tree: names, parts, emotions and their timing, items, hidden bodies, texture references.
#include "engine_host.h"
#include "motion_files.h"
#include "support/failnew/fail_new.h"
#include "sample/avatar_data.h"

#include <functional>

#include <lua.hpp>

#include "engine/CKivAvatar.h"
#include "engine/CKivAvatarAtomic.h"
#include "engine/CKivAvatarItem.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivBehaviorManager.h"
#include "engine/CKivCamera.h"
#include "engine/CKivWorld.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivTextureTrailer.h"
#include "engine/CKivToon.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9device.h"
#include "tests/gfx/d3d9/d3d9readback.h"
#include "gfx/world/clump.h"
#include "gfx/world/material.h"

namespace {

auto *const host = HostEngine();

class Avatar : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(KivTestWriteAvatarData());
        CKivAvatar::LoadScripts("Data/Avatar/");
    }
    void SetUp() override { WriteFileBytes("Lua.log", ""); }
    static RwMaterial *Material(CKivClump &clump, const char *atomic)
    {
        RwAtomic *found = clump.FindAtomic(atomic);
        return found ? found->geometry->matList.materials[0] : nullptr;
    }
    static std::string TextureOf(CKivClump &clump, const char *atomic)
    {
        RwMaterial *material = Material(clump, atomic);
        return material && material->texture ? material->texture->name : "<none>";
    }
    static RwTexture *Find(const char *name)
    {
        return RwTextureDictionaryFindTexture(RwTextureDictionaryGetCurrent(), name);
    }
};

TEST_F(Avatar, NamesFollowTheNumbersAndTheVariant)
{
    CKivAvatar plain;
    plain.Create(3, 2, 1);   // no body 3: the names still follow
    EXPECT_EQ(32, plain.GetSkinId());
    EXPECT_EQ(3201, plain.GetFaceId());
    char name[CKivAvatar::kNameSize];
    plain.PartSkinName(0, name, sizeof(name));
    EXPECT_STREQ("_3head_2", name);
    plain.FaceFrameName(1, name, sizeof(name));
    EXPECT_STREQ("_3face1_01_2", name);
    const std::string objects = ReadFileBytes("Object.txt");
    EXPECT_NE(std::string::npos, objects.find("Data/Avatar/Objects/3.dff"));

    CKivAvatar variant;
    variant.CreateVariant(3, 2, 1, 1, 0, 5);
    variant.PartSkinName(4, name, sizeof(name));
    EXPECT_STREQ("_3leg_2+tk1+tk0+tk5", name);
    variant.FaceFrameName(22, name, sizeof(name));
    EXPECT_STREQ("_3face1_22_2+tk1+tk0+tk5", name);
}

TEST_F(Avatar, CreateDressesPartsAndRunsTheScripts)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    EXPECT_EQ(5u, avatar.GetPartAtomics().size());   // the bone shape is no part
    EXPECT_EQ("_1spine_1", TextureOf(avatar, "spine"));
    EXPECT_EQ("_1leg_1", TextureOf(avatar, "leg"));
    EXPECT_EQ("<none>", TextureOf(avatar, "_headShape"));   // faces come with emotions
    ASSERT_NE(nullptr, avatar.FindEmotion("NORMAL"));
    EXPECT_EQ(2, avatar.FindEmotion("normal")->GetFrameCount());
    EXPECT_NE(nullptr, avatar.GetBehaviorManager()->FindBehavior("walk"));
    EXPECT_EQ("", ReadFileBytes("Lua.log"));

    // The script's loop flags are 1 and 0.
    const std::vector<KivBehaviorMotion> &walk = avatar.GetBehaviorManager()->FindBehavior("walk")->GetMotions();
    ASSERT_EQ(2u, walk.size());
    EXPECT_EQ(1, walk[0].loopFlags);
    EXPECT_EQ(0, walk[1].loopFlags);

    // A new body replaces the parts rather than adding to them; its
    // behaviours, already there, leave nothing behind.
    EXPECT_EQ(1, avatar.SetBody(1));
    EXPECT_EQ(5u, avatar.GetPartAtomics().size());
    const long blocks = KivLiveHeapBlocks();
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(1, avatar.SetBody(1));
    EXPECT_EQ(blocks, KivLiveHeapBlocks());
    EXPECT_EQ(1, avatar.GetBehaviorManager()->GetBehaviorCount());
    EXPECT_EQ(0, avatar.SetBody(9));
    EXPECT_EQ(0u, avatar.GetPartAtomics().size());
}

// The body script's "walk" drives the bones: "Bip01" turns a quarter about y
// each second, carrying the shoulders round; the head stays above it.
TEST_F(Avatar, BehavioursMoveTheBones)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    ASSERT_NE(nullptr, avatar.GetHierarchy());
    EXPECT_EQ(kKivTestBoneCount, avatar.GetHierarchy()->numNodes);
    RwFrame *arm = avatar.FindFrame("arml"), *head = avatar.FindFrame("_headShape");
    ASSERT_TRUE(arm && head);
    const RwV3d rest = RwFrameGetWorldMatrix(arm)->pos, shoulder = KivTestBoneRest(3);
    EXPECT_NEAR(shoulder.x, rest.x, 1e-4f);
    ASSERT_EQ(1, avatar.PlayBehavior("walk"));
    for (float t : {0.5f, 0.25f}) {
        avatar.Update(t);
        const float angle = avatar.GetAnimationTime() * 3.14159265f / 2;
        const RwV3d at = RwFrameGetWorldMatrix(arm)->pos, top = RwFrameGetWorldMatrix(head)->pos;
        EXPECT_NEAR(shoulder.x * std::cos(angle), at.x, 1e-3f) << t;
        EXPECT_NEAR(shoulder.y, at.y, 1e-3f);
        EXPECT_NEAR(-shoulder.x * std::sin(angle), at.z, 1e-3f) << t;
        EXPECT_NEAR(0.0f, top.x * top.x + top.z * top.z, 1e-6f);
        EXPECT_NEAR(KivTestBoneRest(2).y, top.y, 1e-3f);
    }
    EXPECT_GT(avatar.GetAnimationTime(), 0.5f);
}

// The sample ink puts every body part on the toon skin pipeline with both inks bound.
TEST_F(Avatar, TheSampleInkTakesEveryPart)
{
    CKivToon toon;
    ASSERT_EQ(1, toon.Load(kKivTestInkFile, nullptr, nullptr));
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    avatar.SetToon(&toon);
    for (const char *part : {"_headShape", "spine", "arml", "armr", "leg"}) {
        RwAtomic *atomic = avatar.FindAtomic(part);
        ASSERT_NE(nullptr, atomic) << part;
        EXPECT_EQ(rwSKINTYPETOON, RwSkinAtomicGetType(atomic)) << part;
        const RwToonGeo *geo = RwToonGeometryGetToonGeo(atomic->geometry);
        ASSERT_NE(nullptr, geo) << part;
        EXPECT_GT(geo->numCreaseEdges, 0) << part;
        for (int i = 0; i < 2; i++) {
            ASSERT_NE(nullptr, geo->inks[i]) << part;
            EXPECT_EQ(0, std::memcmp(&kKivTestInkColour, &geo->inks[i]->colour, 4)) << part;
        }
    }
    avatar.SetToon(nullptr);
}

TEST_F(Avatar, DirtyTextureTakesOneReferencePerMaterial)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    RwMaterial *spine = Material(avatar, "spine"), *leg = Material(avatar, "leg");
    DeleteFileA("Data/Interface/Dummy/dirty.png");
    EXPECT_EQ(spine, CKivAvatarAtomic::UseDirtyTexture(spine, reinterpret_cast<void *>(1)));   // missing
    EXPECT_EQ("_1spine_1", TextureOf(avatar, "spine"));
    WriteTreeFile("Data/Interface/Dummy/dirty.png", {});
    KivTestWritePng("Data/Interface/Dummy/dirty.png", {1, 2, 3, 255});
    CKivAvatarAtomic::UseDirtyTexture(spine, nullptr);
    EXPECT_EQ("_1spine_1", TextureOf(avatar, "spine"));
    CKivAvatarAtomic::UseDirtyTexture(spine, reinterpret_cast<void *>(1));
    ASSERT_EQ("dirty", TextureOf(avatar, "spine"));
    const RwInt32 one = spine->texture->refCount;
    CKivAvatarAtomic::UseDirtyTexture(leg, reinterpret_cast<void *>(2));
    EXPECT_EQ(spine->texture, leg->texture);
    EXPECT_EQ(one + 1, leg->texture->refCount);
}

TEST_F(Avatar, EmotionsTimeOutBackToTheBase)
{
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    ASSERT_EQ(1, avatar.SetEmotion("NORMAL"));
    EXPECT_STREQ("normal", avatar.GetBaseEmotion());
    EXPECT_STREQ("normal", avatar.GetCurrentEmotion());
    EXPECT_EQ("_1face1_01_1", TextureOf(avatar, "_headShape"));
    avatar.Update(5.0f);   // the base never times out
    EXPECT_STREQ("normal", avatar.GetCurrentEmotion());

    ASSERT_EQ(1, avatar.PlayEmotion("Smile", 2.0f, 3));
    EXPECT_EQ("_1face1_03_1", TextureOf(avatar, "_headShape"));
    avatar.Update(0.15f);
    EXPECT_EQ("_1face1_04_1", TextureOf(avatar, "_headShape"));
    avatar.Update(1.75f);
    EXPECT_STREQ("smile", avatar.GetCurrentEmotion());
    avatar.Update(0.1f);
    EXPECT_STREQ("normal", avatar.GetCurrentEmotion());
    EXPECT_EQ("_1face1_01_1", TextureOf(avatar, "_headShape"));
    EXPECT_EQ(0, avatar.PlayEmotion("absent", 1.0f, 1));

    // Removed and re-made emotions leave no trailer bound to the head.
    avatar.PlayEmotion("smile", 9.0f, 1);
    EXPECT_EQ(1, avatar.RemoveEmotion("Smile"));
    EXPECT_EQ(0, avatar.RemoveEmotion("smile"));
    avatar.Update(0.2f);
    EXPECT_EQ(1, avatar.SetFace(1));
    avatar.Update(0.2f);
}

TEST_F(Avatar, ItemsReplacePartsAndDisplaceInKeyOrder)
{
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    ASSERT_NE(nullptr, avatar.AttachItem(100, 100, 0, 0));
    EXPECT_EQ(nullptr, avatar.FindAtomic("spine"));
    EXPECT_NE(nullptr, avatar.FindAtomic("armor"));
    avatar.AttachItem(101, 101, 0, 0);
    ASSERT_NE(nullptr, Material(avatar, "hat"));
    EXPECT_EQ(100, Material(avatar, "hat")->color.alpha);   // display mode 1
    const int *displaced = avatar.AttachItem(102, 102, 0, 0);
    ASSERT_NE(nullptr, displaced);
    EXPECT_EQ(101, displaced[0]);
    EXPECT_EQ(0, displaced[1]);
    EXPECT_EQ(nullptr, avatar.FindAtomic("hat"));

    const int *slots = avatar.GetItemSlots(101, 101);   // listing wears nothing
    EXPECT_EQ(1, slots[0]);
    EXPECT_EQ(0, slots[1]);
    EXPECT_EQ(1, avatar.HasItem(102));
    EXPECT_EQ(0, avatar.HasItem(101));
    EXPECT_NE(nullptr, avatar.FindAtomic("helmet"));

    displaced = avatar.AttachItem(105, 105, 0, 0);
    EXPECT_EQ(100, displaced[0]);
    EXPECT_EQ(102, displaced[1]);
    EXPECT_EQ(0, displaced[2]);
    EXPECT_NE(nullptr, avatar.FindAtomic("spine"));

    avatar.AttachItem(103, 103, 0, 0);   // its last file is missing
    EXPECT_EQ(0, avatar.HasItem(103));
    avatar.AttachItem(104, 104, 0, 0);   // no files: an item without atomics
    EXPECT_EQ(1, avatar.HasItem(104));
    EXPECT_EQ(11, avatar.FindItemByValue(11)->GetValue());
    EXPECT_EQ(1, avatar.ItemHasMode(11));
    EXPECT_EQ(0, avatar.ItemHasMode(12));
    EXPECT_EQ(1, avatar.RemoveItem(105));
    EXPECT_EQ(nullptr, avatar.FindAtomic("hat"));
    EXPECT_EQ(nullptr, avatar.AttachItem(1, 999, 0, 0));   // no such script function
    EXPECT_EQ("attempt to call a nil value", ReadFileBytes("Lua.log").substr(0, 27));
}

// The displaced list is the last attach's of a script call, and keeps its
// end mark however many worn items one attach displaces; slots are listed
// only for a script call that succeeded.
TEST_F(Avatar, DisplacedListsAreTheLastAttachsAndEndMarked)
{
    ASSERT_EQ(1, CKivBase::GetScriptBinder()->RunString(
                     "function AttachItem901(avatar, id, second, flag)\n"
                     "  avatar:AttachItem(901, 1, 0, flag, {}, {}, {1, 5})\n"
                     "  avatar:AttachItem(902, 1, 0, flag, {}, {}, {1})\n"
                     "end\n"
                     "function AttachItem900(avatar, id, second, flag)\n"
                     "  local slots = {}\n"
                     "  for i = 1, 1100 do slots[i] = 2000 + i end\n"
                     "  avatar:AttachItem(900, 1, 0, flag, {}, {}, slots)\n"
                     "end\n"
                     "function AttachItem903(avatar, id, second, flag)\n"
                     "  avatar:AttachItem(903, 1, 0, flag, {}, {}, {4})\n"
                     "  error('after the attach')\n"
                     "end\n"));
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    avatar.AttachItem(101, 101, 0, 0);
    avatar.AttachItem(104, 104, 0, 0);
    const int *displaced = avatar.AttachItem(0, 901, 0, 0);
    ASSERT_NE(nullptr, displaced);
    EXPECT_EQ(901, displaced[0]);
    EXPECT_EQ(0, displaced[1]);
    // A script that fails after its attach lists no slots.
    EXPECT_EQ(0, avatar.GetItemSlots(903, 903)[0]);
    for (int i = 1; i <= 1100; i++) {
        CKivAvatarItem *item = new CKivAvatarItem;
        item->SetKey(3000 + i);
        ASSERT_EQ(1, item->AddSlot(2000 + i));
        ASSERT_EQ(1, avatar.AttachItemObject(item));
    }
    displaced = avatar.AttachItem(0, 900, 0, 0);
    ASSERT_NE(nullptr, displaced);
    EXPECT_EQ(3001, displaced[0]);
    EXPECT_EQ(3000 + CKivAvatar::kDisplacedSize - 1, displaced[CKivAvatar::kDisplacedSize - 2]);
    EXPECT_EQ(0, displaced[CKivAvatar::kDisplacedSize - 1]);
}

// Memory running out while an emotion frame or an item is added adds
// nothing and changes nothing: no emotion without its trailer or its frame,
// no worn item taken off or half attached, no block left behind.
TEST_F(Avatar, EmotionsAndItemsAreAddedWholeOrNotAtAll)
{
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    ASSERT_NE(nullptr, avatar.AttachItem(100, 100, 0, 0));   // the armour over the spine
    ASSERT_NE(nullptr, avatar.AttachItem(101, 101, 0, 0));   // the hat, slot 1
    const auto attempt = [](long n, const std::function<int()> &call, long *refused) {
        int result = -1;
        FailNewAfter(n);
        try {
            result = call();
        } catch (...) {
            result = -2;
        }
        *refused = FailNewRefused();
        FailNewEnd();
        return result;
    };

    // A new emotion, then a new frame of one that exists.
    for (const char *name : {"A wink long enough to need a block", "Normal"}) {
        long refused = 1;
        for (long n = 0; refused && n < 20; n++) {
            const long blocks = KivLiveHeapBlocks();
            CKivTextureTrailer *before = avatar.FindEmotion(name);
            const int frames = before ? before->GetFrameCount() : 0;
            const int added = attempt(n, [&] { return avatar.AddEmotion(name, 5, 0.3f); }, &refused);
            if (!refused) {
                EXPECT_EQ(1, added);
                break;
            }
            EXPECT_EQ(0, added) << name << " after " << n;
            EXPECT_EQ(blocks, KivLiveHeapBlocks()) << name << " after " << n;
            EXPECT_EQ(before, avatar.FindEmotion(name));
            if (before) {
                EXPECT_EQ(frames, before->GetFrameCount());
            }
        }
        EXPECT_EQ(0, refused);
    }
    ASSERT_NE(nullptr, avatar.FindEmotion("a wink long enough to need a block"));
    EXPECT_EQ(1, avatar.FindEmotion("a wink long enough to need a block")->GetFrameCount());
    EXPECT_EQ(3, avatar.FindEmotion("normal")->GetFrameCount());

    // The helmet shares the hat's slot: whole, it displaces the hat.
    long refused = 1;
    for (long n = 0; refused && n < 20; n++) {
        CKivAvatarItem *helmet = nullptr;
        const long blocks = KivLiveHeapBlocks();
        {
            CKivClump model;
            EXPECT_EQ(1, model.Load("Data/Avatar/Objects/Helmet.dff", "Data/Avatar/Objects/Textures/"));
            helmet = new CKivAvatarItem;
            helmet->SetKey(102);
            helmet->AddSlot(1);
            helmet->AddSlot(2);
            helmet->AddClumpAtomics(&model);
        }
        const int worn = attempt(n, [&] { return avatar.AttachItemObject(helmet); }, &refused);
        if (!refused) {
            EXPECT_EQ(1, worn);
            break;
        }
        EXPECT_EQ(0, worn) << n;
        EXPECT_EQ(blocks, KivLiveHeapBlocks()) << n;   // the helmet went
        EXPECT_EQ(2, avatar.GetItemCount());
        EXPECT_EQ(1, avatar.HasItem(101));
        EXPECT_NE(nullptr, avatar.FindAtomic("hat"));
        EXPECT_NE(nullptr, avatar.FindAtomic("armor"));
        EXPECT_EQ(nullptr, avatar.FindAtomic("spine"));
        EXPECT_EQ(nullptr, avatar.FindAtomic("helmet"));
    }
    EXPECT_EQ(0, refused);
    EXPECT_EQ(0, avatar.HasItem(101));
    EXPECT_EQ(1, avatar.HasItem(102));
    EXPECT_NE(nullptr, avatar.FindAtomic("helmet"));
    EXPECT_NE(nullptr, avatar.FindAtomic("armor"));
    EXPECT_EQ(nullptr, avatar.FindAtomic("hat"));
}

// A new body deletes the parts that were off the model (here the head, under
// a mask); when the new model then fails to load, the head's material that
// the emotion writes is gone with its part. No update may write it: a
// material made in its place keeps no texture, and once the update lets it
// go its memory is the next material's.
TEST_F(Avatar, AFailedBodyChangeLeavesNoEmotionOnAFreedMaterial)
{
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    ASSERT_EQ(1, avatar.SetEmotion("normal"));
    RwMaterial *head = Material(avatar, "_headShape");
    ASSERT_NE(nullptr, head);
    ASSERT_NE(nullptr, head->texture);
    CKivAvatarItem *mask = new CKivAvatarItem;
    mask->SetKey(300);
    mask->AddSlot(40);
    mask->AddReplacedPart("_headShape");
    ASSERT_EQ(1, avatar.AttachItemObject(mask));
    EXPECT_EQ(nullptr, avatar.FindAtomic("_headShape"));
    avatar.Update(0.1f);   // a part off the model still shows its emotion
    EXPECT_EQ(0, avatar.SetBody(9));
    EXPECT_EQ(0u, avatar.GetPartAtomics().size());
    RwMaterial *fresh = RwMaterialCreate();
    ASSERT_NE(nullptr, fresh);
    avatar.Update(0.1f);
    avatar.Update(0.6f);
    EXPECT_EQ(nullptr, fresh->texture);
    RwMaterial *next = RwMaterialCreate();
    EXPECT_EQ(head, next);
    EXPECT_EQ(nullptr, next->texture);
    RwMaterialDestroy(next);
    RwMaterialDestroy(fresh);
}

TEST_F(Avatar, HiddenBodiesStayHiddenThroughRebuilds)
{
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    avatar.SetBodyHidden(1);
    EXPECT_EQ(nullptr, avatar.FindAtomic("leg"));
    avatar.RebuildParts();
    EXPECT_EQ(nullptr, avatar.FindAtomic("leg"));
    avatar.SetBodyHidden(0);
    avatar.RebuildParts();
    EXPECT_NE(nullptr, avatar.FindAtomic("leg"));
}

TEST_F(Avatar, ScriptsCannotReachAnAvatarAfterItsCall)
{
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    // The kept userdata is empty: each call does nothing, and raises no error.
    for (const char *late : {"keptAvatar:AddEmotion('x', 1, 1)", "keptAvatar.AttachItem(3)",
                             "keptAvatar:CreateBehavior('late', 0, {{'walk', 0, 1}})",
                             "keptAvatar:AttachItem(104, 11, 2, true, {}, {}, {5})",
                             "local c = Clump.Load('x', '') keptAvatar.AddEmotion(c, 'x', 1, 1) c:Release()"}) {
        EXPECT_EQ(1, CKivBase::GetScriptBinder()->RunString(late)) << late;
        EXPECT_EQ("", ReadFileBytes("Lua.log")) << late;
    }
    EXPECT_EQ(nullptr, avatar.FindEmotion("x"));
    EXPECT_EQ(nullptr, avatar.GetBehaviorManager()->FindBehavior("late"));
    EXPECT_EQ(0, avatar.GetItemCount());
}

TEST_F(Avatar, TextureReferencesReturnToTheirStart)
{
    CKivBase *base = CKivBase::GetInstance();
    const char *names[] = {"_1head_1", "_1spine_1", "_1face1_01_1", "_1face1_22_1", "_1head_1+tk1+tk0+tk5",
                           "_1face1_07_1+tk1+tk0+tk5"};
    // Our own reference keeps each texture alive to be counted.
    std::vector<int> start;
    for (const char *name : names) {
        const char *folder = strstr(name, "face") ? "Data/Avatar/SkinFaces/" : "Data/Avatar/Skins/";
        ASSERT_NE(nullptr, base->ReadTexture(name, folder)) << name;
        start.push_back(Find(name)->refCount);
    }
    {
        CKivAvatar plain, shared, variant;
        plain.Create(1, 1, 1);
        shared.Create(1, 1, 1);
        variant.CreateVariant(1, 1, 1, 1, 0, 5);
        EXPECT_GT(Find("_1head_1")->refCount, start[0]);
        plain.Release();
        variant.SetVariant(1, 1, 0, 5, 0);
    }
    for (size_t i = 0; i < start.size(); i++) {
        EXPECT_EQ(start[i], Find(names[i])->refCount) << names[i];
        base->ReleaseTexture(names[i]);
    }
}

// The head seen from above at the middle of the screen shows the face frame of the emotion.
TEST_F(Avatar, TheHeadShowsTheEmotionsFaceFrames)
{
    WriteFileBytes("ground.bsp", KivTestGround(50.0f, -1.0f, 30.0f));
    CKivWorld world("Stage");
    ASSERT_EQ(1, world.Load("ground.bsp", nullptr, nullptr));
    world.SetClearColor({0, 0, 0, 255});
    CKivCamera camera("eye");
    const RwV3d eye = {0, 20, 0}, target = {0, 0, 0}, up = {0, 0, 1};
    ASSERT_EQ(1, camera.CreateLookAt(&eye, &target, &up, 0.5f, 1000.0f, 3.14159265f / 2,
                                     CKivBase::GetInstance()->GetViewport()));
    world.AddCamera(&camera);
    world.SetCamera(&camera);
    CKivAvatar avatar;
    avatar.Create(1, 1, 1);
    avatar.SetEmotion("normal");
    // No motion has played: the skinned body stands in its model's own pose.
    ASSERT_EQ(1, world.AddClump(&avatar));
    CKivBase::GetInstance()->SetCurrentWorld(&world);
    const auto expect = [](int frame) {
        ASSERT_EQ(1, CKivBase::GetInstance()->RenderWorld());
        const DWORD p = ReadPixel(rwD3D9Driver.device, rwD3D9Driver.defaultColorSurface, 512, 384);
        const RwRGBA c = KivTestFaceColour(frame);
        EXPECT_NEAR(c.red, static_cast<int>(p >> 16 & 0xFF), 8) << frame;
        EXPECT_NEAR(c.green, static_cast<int>(p >> 8 & 0xFF), 8) << frame;
        EXPECT_NEAR(c.blue, static_cast<int>(p & 0xFF), 8) << frame;
    };
    expect(1);
    avatar.Update(0.6f);
    expect(2);
    avatar.PlayEmotion("smile", 5.0f, 1);
    expect(3);
    avatar.Update(0.15f);
    expect(4);
    CKivBase::GetInstance()->SetCurrentWorld(nullptr);
    world.RemoveClump(&avatar);
    world.RemoveCamera(&camera);
}

TEST(AvatarItem, DisplayAlphaFollowsModeAndFlag)
{
    const struct {
        int mode, flag, shown, reset;
    } cases[] = {{0, 0, -1, 255}, {1, 0, 100, 100}, {1, 1, 1, 1}, {0, 1, 254, 254}, {2, 1, 254, 254}, {2, 0, 100, 255}};
    for (const auto &c : cases) {
        EXPECT_EQ(c.shown, CKivAvatarAtomic::DisplayAlpha(c.mode, c.flag, 0)) << c.mode << c.flag;
        EXPECT_EQ(c.reset, CKivAvatarAtomic::DisplayAlpha(c.mode, c.flag, 1)) << c.mode << c.flag;
    }
}

} // namespace
