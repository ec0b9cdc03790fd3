// The sample avatar tree for the sample and engine tests: body and item models, skin and face PNGs, motions and scripts.
#pragma once

#include <cmath>

#include "sample/engine_scene.h"
#include "gfx/plugins/animation/anim.h"

#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"

// A part quad on the frame; body parts are named like their frame, items by their material.
inline KivTestPart KivTestBodyPart(const char *frame, const char *material, RwV3d position, bool item = false)
{
    KivTestQuad quad;
    quad.name = item ? material : frame;
    quad.material = material;
    quad.textured = true;
    return {quad, position, frame, -1, {}};
}

inline void KivTestWritePng(const std::string &path, RwRGBA colour)
{
    RwImage *image = RwImageCreate(4, 4, 32);
    RwImageAllocatePixels(image);
    for (int i = 0; i < 16; i++)
        memcpy(image->cpPixels + (i / 4) * image->stride + 4 * (i % 4), &colour, 4);
    RwImageWritePng(image, path.c_str());
    RwImageDestroy(image);
}

// Face frame f of every face set: a colour of its own.
inline RwRGBA KivTestFaceColour(int frame)
{
    return {static_cast<RwUInt8>(frame * 11), static_cast<RwUInt8>(255 - frame * 11),
            static_cast<RwUInt8>(frame % 2 ? 40 : 200), 255};
}

inline RwRGBA KivTestSkinColour(int part, int skin)
{
    return {static_cast<RwUInt8>(40 * part), static_cast<RwUInt8>(60 * skin), 90, 255};
}

// The body's bones: "Bip01" (node 0) and below it the five parts (nodes 1-5),
// at these positions in their parent.
const RwV3d kKivTestBones[6] = {{0, -5, 0}, {0, 5, 0}, {3, 5, 0}, {-3, 5, 0}, {0, 5, 3}, {0, 5, -3}};

// Node record of the bone; the first carries the hierarchy.
inline std::string KivTestBoneRecord(int bone)
{
    RwFrame *frame = RwFrameCreate();
    RwHAnimFrameSetID(frame, bone + 1);
    if (bone == 0) {
        // Leaf siblings keep the parent (push and pop); the last one pops.
        const RwInt32 flags[6] = {0, 3, 3, 3, 3, rwHANIMPOPPARENTMATRIX}, ids[6] = {1, 2, 3, 4, 5, 6};
        RwHAnimFrameSetHierarchy(frame, RwHAnimHierarchyCreate(6, flags, ids, 0, 36));
    }
    const std::string record = KivTestWrite([frame](RwStream *s) { RwHAnimFrameStreamWrite(frame, s); });
    RwFrameDestroy(frame);
    return record;
}

inline std::string KivTestAvatarModel()
{
    const char *const frames[6] = {"Bip01", "_headShape", "spine", "arml", "armr", "leg"};
    const char *const materials[6] = {"", "head", "spine", "arml", "armr", "leg"};
    std::vector<KivTestPart> parts;
    for (int bone = 0; bone < 6; bone++) {
        KivTestPart part = KivTestBodyPart(frames[bone], materials[bone], kKivTestBones[bone]);
        if (bone == 0)
            part.quad = KivTestQuad();
        part.quad.name = frames[bone];
        part.parent = bone ? 0 : -1;
        part.bone = KivTestBoneRecord(bone);
        parts.push_back(part);
    }
    return KivTestModel(parts);
}

// A motion of the body's bones over the duration: "Bip01" turns that many
// degrees about y, the parts keep their places.
inline bool KivTestWriteAvatarMotion(const std::string &path, RwReal duration, RwReal degrees)
{
    RwAnimAnimation *a = RwAnimAnimationCreate(rwHANIMKEYFRAMESCHEME, 12, 0, duration);
    RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
    const RwReal half = degrees * 3.14159265f / 360.0f;
    for (int n = 0; n < 6; n++) {
        k[n] = {nullptr, 0.0f, {0, 0, 0, 1}, kKivTestBones[n]};
        k[6 + n] = {&k[n], duration, {0, 0, 0, 1}, kKivTestBones[n]};
    }
    k[6].q = {0, std::sin(half), 0, std::cos(half)};
    const std::string bytes = KivTestWrite([a](RwStream *s) { RwAnimAnimationStreamWrite(a, s); });
    RwAnimAnimationDestroy(a);
    return KivSampleWrite(path, bytes);
}

const char kKivTestAvatarEmotion[] = R"(
function SetAvatarEmotion1(avatar)
  avatar:AddEmotion("Normal", 1, 0.5)
  avatar:AddEmotion("Normal", 2, 0.5)
  avatar:AddEmotion("Smile", 3, 0.1)
  avatar:AddEmotion("Smile", 4, 0.2)
  keptAvatar = avatar
end
)";

const char kKivTestAvatarBehavior[] = R"(
function SetAvatarBehavior1(avatar)
  avatar:CreateBehavior("walk", 2, {{"walk", 0.2, true}, {"idle", 0.1, false}})
end
)";

const char kKivTestItems[] = R"(
local items = {
  [100] = {key = 100, value = 7, mode = 0, files = {"Armor.dff"}, replaced = {"spine"}, slots = {3}},
  [101] = {key = 101, value = 8, mode = 1, files = {"Hat.dff"}, replaced = {}, slots = {1}},
  [102] = {key = 102, value = 9, mode = 0, files = {"Helmet.dff"}, replaced = {}, slots = {1, 2}},
  [103] = {key = 103, value = 10, mode = 0, files = {"Hat.dff", "Missing.dff"}, replaced = {}, slots = {7}},
  [104] = {key = 104, value = 11, mode = 2, files = {}, replaced = {}, slots = {5}},
  [105] = {key = 105, value = 12, mode = 0, files = {"Hat.dff"}, replaced = {}, slots = {2, 3}},
}
for number, item in pairs(items) do
  _G["AttachItem" .. number] = function(avatar, id, second, flag)
    avatar:AttachItem(item.key, item.value, item.mode, flag, item.files, item.replaced, item.slots)
  end
end
)";

// Everything below "Data/Avatar/" in the working folder, in loose files.
inline bool KivTestWriteAvatarData()
{
    const std::string root = "Data/Avatar/";
    bool ok = KivSampleWrite(root + "Objects/1.dff", KivTestAvatarModel());
    CreateDirectoryA((root + "Objects/Textures").c_str(), nullptr);
    ok = ok && KivSampleWrite(root + "Objects/Armor.dff", KivTestModel({KivTestBodyPart("spine", "armor", {0, 0, 0}, true)}));
    ok = ok && KivSampleWrite(root + "Objects/Hat.dff", KivTestModel({KivTestBodyPart("_headShape", "hat", {0, 0, 0}, true)}));
    ok = ok && KivSampleWrite(root + "Objects/Helmet.dff",
                              KivTestModel({KivTestBodyPart("_headShape", "helmet", {0, 0, 0}, true)}));
    const char *const parts[5] = {"head", "spine", "arml", "armr", "leg"};
    const char *const variants[2] = {"", "+tk1+tk0+tk5"};
    CreateDirectoryA((root + "Skins").c_str(), nullptr);
    CreateDirectoryA((root + "SkinFaces").c_str(), nullptr);
    char name[128];
    for (const char *variant : variants) {
        for (int skin = 1; skin <= 2; skin++) {
            for (int part = 0; part < 5; part++) {
                snprintf(name, sizeof(name), "%sSkins/_1%s_%d%s.png", root.c_str(), parts[part], skin, variant);
                KivTestWritePng(name, KivTestSkinColour(part, skin));
            }
            for (int frame = 1; frame <= 22; frame++) {
                snprintf(name, sizeof(name), "%sSkinFaces/_1face1_%02d_%d%s.png", root.c_str(), frame, skin, variant);
                KivTestWritePng(name, KivTestFaceColour(frame));
            }
        }
    }
    ok = ok && KivTestWriteAvatarMotion(root + "Motions/walk.anm", 1.0f, 90.0f) &&
         KivTestWriteAvatarMotion(root + "Motions/idle.anm", 1.0f, 0.0f) &&
         KivSampleWrite(root + "Scripts/AvatarEmotion.lua", std::string(kKivTestAvatarEmotion)) &&
         KivSampleWrite(root + "Scripts/MonsterEmotion.lua", std::string("function SetMonsterEmotion1(monster) end\n")) &&
         KivSampleWrite(root + "Scripts/AvatarBehavior.lua", std::string(kKivTestAvatarBehavior)) &&
         KivSampleWrite(root + "Items/Item.lua", std::string(kKivTestItems));
    return ok;
}
