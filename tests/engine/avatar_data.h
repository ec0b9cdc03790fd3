// The sample avatar tree for engine tests: body and item models, skin and face PNGs, motions and scripts.
#pragma once

#include "engine_scene.h"
#include "motion_files.h"

#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"

// A part quad on the frame; body parts are named like their frame, items by their material.
inline KivTestPart KivTestBodyPart(const char *frame, const char *material, RwV3d position, bool item = false)
{
    KivTestQuad quad;
    quad.name = item ? material : frame;
    quad.material = material;
    quad.textured = true;
    return {quad, position, frame};
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
inline void KivTestWriteAvatarData()
{
    const std::string root = "Data/Avatar/";
    WriteTreeFile(root + "Objects/1.dff", {});
    WriteFileBytes(root + "Objects/1.dff",
                   KivTestModel({{[] { KivTestQuad q; q.name = "Bip01"; return q; }(), {0, -5, 0}, "Bip01"},
                                      KivTestBodyPart("_headShape", "head", {0, 0, 0}),
                                      KivTestBodyPart("spine", "spine", {3, 0, 0}),
                                      KivTestBodyPart("arml", "arml", {-3, 0, 0}),
                                      KivTestBodyPart("armr", "armr", {0, 0, 3}),
                                      KivTestBodyPart("leg", "leg", {0, 0, -3})}));
    CreateDirectoryA((root + "Objects/Textures").c_str(), nullptr);
    WriteFileBytes(root + "Objects/Armor.dff", KivTestModel({KivTestBodyPart("spine", "armor", {0, 0, 0}, true)}));
    WriteFileBytes(root + "Objects/Hat.dff", KivTestModel({KivTestBodyPart("_headShape", "hat", {0, 0, 0}, true)}));
    WriteFileBytes(root + "Objects/Helmet.dff",
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
    WriteMotion(root + "Motions/walk.anm", 1, 1.0f);
    WriteMotion(root + "Motions/idle.anm", 1, 1.0f);
    WriteTreeFile(root + "Scripts/AvatarEmotion.lua", Bytes(kKivTestAvatarEmotion, kKivTestAvatarEmotion + strlen(kKivTestAvatarEmotion)));
    WriteFileBytes(root + "Scripts/MonsterEmotion.lua", "function SetMonsterEmotion1(monster) end\n");
    WriteFileBytes(root + "Scripts/AvatarBehavior.lua", kKivTestAvatarBehavior);
    WriteTreeFile(root + "Items/Item.lua", Bytes(kKivTestItems, kKivTestItems + strlen(kKivTestItems)));
}
