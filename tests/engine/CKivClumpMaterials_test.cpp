// Materials a clump writes every update (texture trailers, UV scrolls) outlive the atomics that go: removed, displaced and released items.
#include "engine_host.h"
#include "support/test_memory.h"

#include <functional>

#include "engine/CKivAvatar.h"
#include "engine/CKivAvatarItem.h"
#include "gfx/core/engine.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/int32data/int32data.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/plugins/random/random.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "sample/avatar_data.h"

namespace {

// The library with the engine's plug-ins, through the counting memory
// functions and without free lists, so every freed object can be quarantined.
struct UncachedGraphics : ::testing::Environment {
    void SetUp() override
    {
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 1, 0x400000));
        RwBool (*const attaches[])(void) = {
            RwWorldPluginAttach,         RwMatFxPluginAttach,          RwUVAnimPluginAttach,
            RwCollisionPluginAttach,     RwPvsPluginAttach,            RwLightmapPluginAttach,
            RwAnimPluginAttach,          RwHAnimPluginAttach,          RwSkinPluginAttach,
            RwInt32DataPluginAttach,     RwRandomPluginAttach,         RwToonPluginAttach,
            RwUserDataPluginAttach,      RwParticleTankPluginAttach,   RwParticleStandardPluginAttach,
            RwParticleAdvancedPluginAttach,
        };
        for (RwBool (*attach)(void) : attaches)
            ASSERT_TRUE(attach());
        RwEngineOpenParams params = {HostWindow()};
        ASSERT_TRUE(RwEngineOpen(&params) && RwEngineStart());
    }
    void TearDown() override
    {
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
    }
};
auto *const graphics = ::testing::AddGlobalTestEnvironment(new UncachedGraphics);

RwClump *ReadClump(const std::string &bytes)
{
    RwMemory memory = {reinterpret_cast<RwUInt8 *>(const_cast<char *>(bytes.data())),
                       static_cast<RwUInt32>(bytes.size())};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    RwClump *clump = stream && RwStreamFindChunk(stream, rwID_CLUMP, nullptr, nullptr) ? RwClumpStreamRead(stream)
                                                                                        : nullptr;
    if (stream)
        RwStreamClose(stream, nullptr);
    return clump;
}

// An item whose own "_headShape" shows the face: the copies of its atomics
// hold the only geometry, so removing the item frees its material.
CKivAvatarItem *FaceItem(int key, int slot)
{
    CKivClump model;
    model.SetClump(ReadClump(KivTestModel({KivTestBodyPart("_headShape", "mask", {0, 1.5f, 0})})));
    CKivAvatarItem *item = new CKivAvatarItem;
    item->SetKey(key);
    item->AddSlot(slot);
    item->AddClumpAtomics(&model);
    return item;
}

RwMaterial *HeadMaterial(CKivClump &clump)
{
    RwAtomic *head = clump.FindAtomic("_headShape");
    return head ? head->geometry->matList.materials[0] : nullptr;
}

class ClumpMaterials : public ::testing::Test {
protected:
    void SetUp() override
    {
        dict = RwTextureDictionaryCreate();
        RwTextureDictionarySetCurrent(dict);
        // The body has a bare "_headShape" frame: the items bring the head.
        KivTestPart head;
        head.position = {0, 1.5f, 0};
        head.frame = "_headShape";
        head.drawn = false;
        ASSERT_EQ(1, avatar.SetClump(ReadClump(KivTestModel({head, KivTestBodyPart("spine", "spine", {0, 1, 0})}))));
        char name[CKivAvatar::kNameSize];
        avatar.FaceFrameName(3, name, sizeof(name));
        face = RwTextureCreate(nullptr);
        RwTextureSetName(face, name);
        RwTextureDictionaryAddTexture(dict, face);
        avatar.AddEmotion("smile", 3, 0.1f);
    }
    void TearDown() override
    {
        avatar.Release();
        RwTextureDictionarySetCurrent(nullptr);
        RwTextureDictionaryDestroy(dict);
    }
    // The item's head shows the face and scrolls (or only scrolls).
    RwMaterial *Wear(int key, int slot, bool showFace = true)
    {
        EXPECT_EQ(1, avatar.AttachItemObject(FaceItem(key, slot)));
        RwMaterial *mask = HeadMaterial(avatar);
        EXPECT_NE(nullptr, mask);
        if (!mask)
            return nullptr;
        RwAnimAnimation *scroll = RwUVAnimCreateIdentity("scroll");
        RwUVAnimMaterialSetAnim(mask, scroll, 0);
        RwUVAnimDestroy(scroll);
        avatar.CollectUVAnimMaterials();
        if (!showFace)
            return mask;
        EXPECT_EQ(1, avatar.PlayEmotion("smile", 5.0f, 1));
        avatar.Update(0.05f);
        EXPECT_EQ(face, mask->texture);
        return mask;
    }
    // Updates with freed memory held and poisoned: nothing may write it.
    void UpdateQuarantined(const std::function<void()> &change)
    {
        rwTestMemory.quarantine = true;
        change();
        avatar.Update(0.05f);
        avatar.Update(0.05f);
        rwTestMemory.quarantine = false;
        EXPECT_EQ(0, RwTestMemoryReleaseQuarantine());
    }
    CKivAvatar avatar;
    RwTextureDictionary *dict = nullptr;
    RwTexture *face = nullptr;
};

TEST_F(ClumpMaterials, ARemovedItemsMaterialIsNeverWrittenAndLeavesTheMaps)
{
    const RwInt32 live = rwTestMemory.live;
    ASSERT_NE(nullptr, Wear(200, 9));
    UpdateQuarantined([this] { EXPECT_EQ(1, avatar.RemoveItem(200)); });
    EXPECT_EQ(nullptr, avatar.FindAtomic("_headShape"));
    EXPECT_EQ(live, rwTestMemory.live);   // the item's material went with the update
}

// A material that only scrolls is let go the same way.
TEST_F(ClumpMaterials, ARemovedItemsScrollingMaterialIsNeverWrittenAndLeaves)
{
    const RwInt32 live = rwTestMemory.live;
    ASSERT_NE(nullptr, Wear(200, 9, false));
    avatar.Update(0.5f);
    UpdateQuarantined([this] { EXPECT_EQ(1, avatar.RemoveItem(200)); });
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST_F(ClumpMaterials, ADisplacedItemsMaterialIsNeverWritten)
{
    ASSERT_NE(nullptr, Wear(200, 9));
    UpdateQuarantined([this] { EXPECT_EQ(1, avatar.AttachItemObject(FaceItem(201, 9))); });
    EXPECT_EQ(0, avatar.HasItem(200));
    EXPECT_EQ(1, avatar.HasItem(201));
    // The newcomer's head takes the face again.
    EXPECT_EQ(1, avatar.PlayEmotion("smile", 5.0f, 1));
    avatar.Update(0.05f);
    ASSERT_NE(nullptr, HeadMaterial(avatar));
    EXPECT_EQ(face, HeadMaterial(avatar)->texture);
}

TEST_F(ClumpMaterials, ReleasingAnAvatarWithABoundItemFreesNothingTwice)
{
    const RwInt32 live = rwTestMemory.live;
    ASSERT_NE(nullptr, Wear(200, 9));
    rwTestMemory.quarantine = true;
    avatar.Release();
    rwTestMemory.quarantine = false;
    EXPECT_EQ(0, RwTestMemoryReleaseQuarantine());
    EXPECT_GT(live, rwTestMemory.live);   // the body went too
}

} // namespace
