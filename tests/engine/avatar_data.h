// The sample avatar tree for engine tests: body and item models, skin and face PNGs, motions and scripts.
#pragma once

#include "engine_scene.h"
#include "motion_files.h"

#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"

// One part per frame under the root; the frame carries its name as user data.
struct KivTestNamedPart {
    const char *frame;
    KivTestQuad quad;
    RwV3d position;
};

inline std::string KivTestFrameExtension(const char *name)
{
    RwFrame *frame = RwFrameCreate();
    KivTestAddString(frame, rwKINDFRAME, name);
    const std::string body =
        KivTestWrite([frame](RwStream *s) { RwUserDataStreamWrite(s, RwUserDataGetExtension(frame, rwKINDFRAME)); });
    RwFrameDestroy(frame);
    return KivTestChunk(3, KivTestChunk(0x11F, body));
}

inline std::string KivTestNamedModel(const std::vector<KivTestNamedPart> &parts)
{
    std::string counts, frames, geometries, atomics;
    KivTestPut32(counts, static_cast<RwUInt32>(parts.size()));
    KivTestPut32(counts, 0);
    KivTestPut32(counts, 0);
    KivTestPut32(frames, static_cast<RwUInt32>(parts.size() + 1));
    for (size_t i = 0; i <= parts.size(); i++) {
        const RwV3d p = i ? parts[i - 1].position : RwV3d{0, 0, 0};
        for (float v : {1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, p.x, p.y, p.z})
            KivTestPutReal(frames, v);
        KivTestPut32(frames, i ? 0u : 0xFFFFFFFFu);
        KivTestPut32(frames, 0);
    }
    std::string frameList = KivTestChunk(1, frames) + KivTestChunk(3, "");
    for (const KivTestNamedPart &part : parts)
        frameList += KivTestFrameExtension(part.frame);
    std::string count;
    KivTestPut32(count, static_cast<RwUInt32>(parts.size()));
    geometries = KivTestChunk(1, count);
    for (size_t i = 0; i < parts.size(); i++) {
        RwGeometry *g = KivTestQuadGeometry(parts[i].quad);
        geometries += KivTestWritten(g);
        RwGeometryDestroy(g);
        std::string atomic;
        for (RwUInt32 v : {static_cast<RwUInt32>(i + 1), static_cast<RwUInt32>(i), 5u, 0u})
            KivTestPut32(atomic, v);
        atomics += KivTestChunk(0x14, KivTestChunk(1, atomic) + KivTestChunk(3, ""));
    }
    return KivTestChunk(0x10, KivTestChunk(1, counts) + KivTestChunk(0x0E, frameList) + KivTestChunk(0x1A, geometries) +
                                  atomics + KivTestChunk(3, ""));
}

// A part quad on the frame; body parts are named like their frame, items by their material.
inline KivTestNamedPart KivTestBodyPart(const char *frame, const char *material, RwV3d position, bool item = false)
{
    KivTestQuad quad;
    quad.name = item ? material : frame;
    quad.material = material;
    quad.textured = true;
    return {frame, quad, position};
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
                   KivTestNamedModel({{"Bip01", [] { KivTestQuad q; q.name = "Bip01"; return q; }(), {0, -5, 0}},
                                      KivTestBodyPart("_headShape", "head", {0, 0, 0}),
                                      KivTestBodyPart("spine", "spine", {3, 0, 0}),
                                      KivTestBodyPart("arml", "arml", {-3, 0, 0}),
                                      KivTestBodyPart("armr", "armr", {0, 0, 3}),
                                      KivTestBodyPart("leg", "leg", {0, 0, -3})}));
    CreateDirectoryA((root + "Objects/Textures").c_str(), nullptr);
    WriteFileBytes(root + "Objects/Armor.dff", KivTestNamedModel({KivTestBodyPart("spine", "armor", {0, 0, 0}, true)}));
    WriteFileBytes(root + "Objects/Hat.dff", KivTestNamedModel({KivTestBodyPart("_headShape", "hat", {0, 0, 0}, true)}));
    WriteFileBytes(root + "Objects/Helmet.dff",
                   KivTestNamedModel({KivTestBodyPart("_headShape", "helmet", {0, 0, 0}, true)}));
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
