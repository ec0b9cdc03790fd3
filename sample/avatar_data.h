// The sample avatar tree for the sample and engine tests: body and item models, skin and face PNGs, motions, scripts and ink.
#pragma once

#include <algorithm>
#include <cmath>

#include "sample/engine_scene.h"
#include "sample/toon_mesh.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/skin/skinint.h"

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

// Face frame f of every face set: a skin tone of its own, redder for the smiles (3 and 4).
inline RwRGBA KivTestFaceColour(int frame)
{
    return {static_cast<RwUInt8>(255 - 2 * frame), static_cast<RwUInt8>(210 - 12 * ((frame - 1) % 4)),
            static_cast<RwUInt8>(frame % 2 ? 170 : 150), 255};
}

// Skin 1: red shirt, bare arms, blue trousers; skin 2: green shirt, grey trousers.
inline RwRGBA KivTestSkinColour(int part, int skin)
{
    static const RwRGBA colours[2][5] = {
        {{245, 205, 165, 255}, {200, 55, 50, 255}, {240, 195, 155, 255}, {240, 195, 155, 255}, {50, 70, 140, 255}},
        {{245, 205, 165, 255}, {60, 150, 80, 255}, {60, 150, 80, 255}, {60, 150, 80, 255}, {110, 110, 120, 255}}};
    return colours[skin == 2 ? 1 : 0][part];
}

// The inks the body's toon data names, and the dictionary that holds them:
// a dark outline round the silhouette, thinner lines along the box edges.
const char kKivTestOutlineInk[] = "outline";
const char kKivTestCreaseInk[] = "crease";
const char kKivTestInkFile[] = "Data/ToonData/ToonInk/avatar.ink";
const RwRGBA kKivTestInkColour = {25, 20, 35, 255};

inline std::string KivTestInkDictionary()
{
    std::string head;
    PutU32(head, rwTOONINKDICTIONARYVERSION);
    PutU32(head, 2);
    std::string file = Chunk(1, head);
    const struct {
        const char *name;
        RwReal width;   // pixels
    } inks[2] = {{kKivTestOutlineInk, 3.0f}, {kKivTestCreaseInk, 1.5f}};
    for (const auto &entry : inks) {
        std::string ink;
        PutU32(ink, rwTOONINKVERSION);
        char padded[rwTOONNAMELENGTH] = {};
        strncpy(padded, entry.name, sizeof(padded) - 1);
        ink.append(padded, sizeof(padded));
        PutF32(ink, entry.width);
        ink.append(reinterpret_cast<const char *>(&kKivTestInkColour), 4);
        PutF32(ink, 1.0f);
        PutF32(ink, 1.0f);
        file += Chunk(1, ink);
    }
    return file;
}

// The body's bones in node order, each at its place in its parent: the
// pelvis "Bip01" three units above the feet, the parts' own bones below it,
// and the two thighs under "leg", which carries both legs' boxes.
struct KivTestBone {
    const char *name;
    int parent;        // node index, -1 under the model's root
    RwV3d at;
    RwInt32 flags;     // push and pop of the parent matrix, as the node table walks
};
const int kKivTestBoneCount = 8;
const KivTestBone kKivTestBones[kKivTestBoneCount] = {
    {"Bip01", -1, {0, 3.0f, 0}, 0},
    {"spine", 0, {0, 0.2f, 0}, rwHANIMPUSHPARENTMATRIX},
    {"_headShape", 1, {0, 1.8f, 0}, rwHANIMPUSHPARENTMATRIX | rwHANIMPOPPARENTMATRIX},
    {"arml", 1, {1.15f, 1.6f, 0}, rwHANIMPUSHPARENTMATRIX | rwHANIMPOPPARENTMATRIX},
    {"armr", 1, {-1.15f, 1.6f, 0}, rwHANIMPOPPARENTMATRIX},
    {"leg", 0, {0, 0, 0}, 0},
    {"thighl", 5, {0.45f, 0, 0}, rwHANIMPUSHPARENTMATRIX | rwHANIMPOPPARENTMATRIX},
    {"thighr", 5, {-0.45f, 0, 0}, rwHANIMPOPPARENTMATRIX},
};

// Where a bone stands in the model at rest.
inline RwV3d KivTestBoneRest(int bone)
{
    RwV3d p = {0, 0, 0};
    for (; bone >= 0; bone = kKivTestBones[bone].parent)
        p = {p.x + kKivTestBones[bone].at.x, p.y + kKivTestBones[bone].at.y, p.z + kKivTestBones[bone].at.z};
    return p;
}

// Node record of the bone; the first carries the hierarchy.
inline std::string KivTestBoneRecord(int bone)
{
    RwFrame *frame = RwFrameCreate();
    RwHAnimFrameSetID(frame, bone + 1);
    if (bone == 0) {
        RwInt32 flags[kKivTestBoneCount], ids[kKivTestBoneCount];
        for (int n = 0; n < kKivTestBoneCount; n++) {
            flags[n] = kKivTestBones[n].flags;
            ids[n] = n + 1;
        }
        RwHAnimFrameSetHierarchy(frame, RwHAnimHierarchyCreate(kKivTestBoneCount, flags, ids, 0, 36));
    }
    const std::string record = KivTestWrite([frame](RwStream *s) { RwHAnimFrameStreamWrite(frame, s); });
    RwFrameDestroy(frame);
    return record;
}

// A box of a body part in its bone's space, its vertices bound to one bone.
struct KivTestBox {
    RwV3d centre, half;
    int bone;
};

// A part's skinned geometry: boxes of eight shared corners (so the ink finds
// the silhouette where faces meet), lit from above by their pre-lit colours,
// with toon edges. The skin's space is the part bone's at rest.
inline std::string KivTestBodyGeometry(const char *name, const char *material, int partBone,
                                       const std::vector<KivTestBox> &boxes)
{
    toonmesh::Mesh mesh;
    std::vector<int> bones;
    RwV3d lo = {1e9f, 1e9f, 1e9f}, hi = {-1e9f, -1e9f, -1e9f};
    for (const KivTestBox &box : boxes) {
        const toonmesh::Mesh cube = toonmesh::Cube();
        const RwUInt16 base = static_cast<RwUInt16>(mesh.positions.size());
        for (size_t i = 0; i < cube.positions.size(); i++) {
            const RwV3d &c = cube.positions[i];
            const RwV3d p = {box.centre.x + c.x * box.half.x, box.centre.y + c.y * box.half.y,
                             box.centre.z + c.z * box.half.z};
            mesh.positions.push_back(p);
            mesh.normals.push_back(cube.normals[i]);
            bones.push_back(box.bone);
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        for (RwUInt16 t : cube.tris)
            mesh.tris.push_back(static_cast<RwUInt16>(base + t));
    }
    const RwInt32 numVertices = static_cast<RwInt32>(mesh.positions.size());
    const RwInt32 numTriangles = static_cast<RwInt32>(mesh.tris.size() / 3);
    RwGeometry *g = RwGeometryCreate(numVertices, numTriangles,
                                     rwGEOMETRYPOSITIONS | rwGEOMETRYNORMALS | rwGEOMETRYPRELIT |
                                         rwGEOMETRYTEXTURED | rwGEOMETRYMODULATEMATERIALCOLOR);
    RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
    for (RwInt32 i = 0; i < numVertices; i++) {
        const RwV3d &n = mesh.normals[i];
        m->verts[i] = mesh.positions[i];
        m->normals[i] = n;
        g->texCoords[0][i] = {n.x > 0 ? 1.0f : 0.0f, n.y > 0 ? 0.0f : 1.0f};
        const RwUInt8 shade = n.y > 0 ? 255 : 185;
        g->preLitLum[i] = {shade, shade, shade, 255};
    }
    RwMaterial *mat = RwMaterialCreate();
    KivTestAddString(mat, rwKINDMATERIAL, material);
    for (RwInt32 t = 0; t < numTriangles; t++) {
        g->triangles[t] = {{mesh.tris[3 * t], mesh.tris[3 * t + 1], mesh.tris[3 * t + 2]}, 0};
        RwGeometryTriangleSetMaterial(g, &g->triangles[t], mat);
    }
    RwMaterialDestroy(mat);
    const RwV3d mid = {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
    m->boundingSphere = {mid, std::sqrt((hi.x - mid.x) * (hi.x - mid.x) + (hi.y - mid.y) * (hi.y - mid.y) +
                                        (hi.z - mid.z) * (hi.z - mid.z))};
    KivTestAddString(g, rwKINDGEOMETRY, name);
    RwGeometryUnlock(g);

    // Inverse bind matrices from the skin's space (the part bone's) into each bone's.
    RwSkin *skin = RwSkinCreateRecord(kKivTestBoneCount, kKivTestBoneCount, static_cast<RwUInt32>(numVertices));
    const RwV3d own = KivTestBoneRest(partBone);
    for (int b = 0; b < kKivTestBoneCount; b++) {
        const RwV3d rest = KivTestBoneRest(b);
        RwMatrixSetIdentity(&skin->skinToBoneMatrices[b]);
        skin->skinToBoneMatrices[b].pos = {own.x - rest.x, own.y - rest.y, own.z - rest.z};
        RwMatrixMarkChanged(&skin->skinToBoneMatrices[b]);
    }
    for (RwInt32 i = 0; i < numVertices; i++) {
        skin->vertexBoneIndices[i] = static_cast<RwUInt32>(bones[i]);
        skin->vertexBoneWeights[4 * i] = 1.0f;
        if (std::find(skin->usedBones, skin->usedBones + skin->numUsedBones, bones[i]) ==
            skin->usedBones + skin->numUsedBones)
            skin->usedBones[skin->numUsedBones++] = static_cast<RwUInt8>(bones[i]);
    }
    RwSkinGeometrySetSkin(g, skin);
    RwToonGeometrySetToonGeo(g, toonmesh::ToonFor(mesh, kKivTestOutlineInk, kKivTestCreaseInk));
    const std::string bytes = KivTestWritten(g);
    RwGeometryDestroy(g);
    return bytes;
}

// The standing body: a torso, a head, two arms and the legs, each part a
// skinned atomic on its bone's frame, with materials named after the parts.
inline std::string KivTestAvatarModel()
{
    const RwV3d arm = {0.28f, 1.05f, 0.32f}, leg = {0.36f, 1.5f, 0.42f};
    struct Body {
        int bone;
        const char *material;
        std::vector<KivTestBox> boxes;
    };
    const Body bodies[] = {
        {1, "spine", {{{0, 0.8f, 0}, {0.9f, 1.0f, 0.5f}, 1}}},
        {2, "head", {{{0, 0.75f, 0}, {0.7f, 0.7f, 0.7f}, 2}}},
        {3, "arml", {{{0.08f, -0.85f, 0}, arm, 3}}},
        {4, "armr", {{{-0.08f, -0.85f, 0}, arm, 4}}},
        {5, "leg", {{{0.45f, -1.5f, 0}, leg, 6}, {{-0.45f, -1.5f, 0}, leg, 7}}},
    };
    std::vector<KivTestPart> parts;
    for (int bone = 0; bone < kKivTestBoneCount; bone++) {
        KivTestPart part;
        part.position = kKivTestBones[bone].at;
        part.frame = kKivTestBones[bone].name;
        part.parent = kKivTestBones[bone].parent;
        part.bone = KivTestBoneRecord(bone);
        part.drawn = false;
        for (const Body &body : bodies) {
            if (body.bone == bone) {
                part.geometry = KivTestBodyGeometry(part.frame, body.material, bone, body.boxes);
                part.drawn = true;
            }
        }
        parts.push_back(part);
    }
    return KivTestModel(parts);
}

// A motion of the body's bones, keyed every quarter second: "Bip01" turns
// about y at that many degrees a second, the arms and thighs swing to and fro
// by the swing angle once a second, arms against legs; the bones keep their places.
inline bool KivTestWriteAvatarMotion(const std::string &path, RwReal duration, RwReal degreesPerSecond, RwReal swing)
{
    const int steps = static_cast<int>(duration * 4.0f + 0.5f), n = kKivTestBoneCount;
    RwAnimAnimation *a = RwAnimAnimationCreate(rwHANIMKEYFRAMESCHEME, (steps + 1) * n, 0, duration);
    RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
    const RwReal radians = 3.14159265f / 180.0f;
    // Sideways swing of each bone, in units of the swing angle.
    const RwReal swings[kKivTestBoneCount] = {0, 0, 0, 1, -1, 0, -1, 1};
    const RwReal phases[4] = {0, 1, 0, -1};
    for (int step = 0; step <= steps; step++) {
        const RwReal time = duration * step / steps;
        for (int b = 0; b < n; b++) {
            RwHAnimKeyFrame &key = k[step * n + b];
            const RwReal half = (b == 0 ? degreesPerSecond * time : swing * swings[b] * phases[step % 4]) * radians / 2;
            key = {step ? &k[(step - 1) * n + b] : nullptr, time, {0, 0, 0, std::cos(half)}, kKivTestBones[b].at};
            (b == 0 ? key.q.y : key.q.x) = std::sin(half);
        }
    }
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
  avatar:CreateBehavior("walk", 2, {{"walk", 0.2, 1}, {"idle", 0.1, 0}})
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

// Everything below "Data/Avatar/" in the working folder, and the avatar's ink, in loose files.
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
    // A whole turn in four seconds, so the walk loops without a jump.
    ok = ok && KivTestWriteAvatarMotion(root + "Motions/walk.anm", 4.0f, 90.0f, 35.0f) &&
         KivTestWriteAvatarMotion(root + "Motions/idle.anm", 1.0f, 0.0f, 0.0f) &&
         KivSampleWrite(root + "Scripts/AvatarEmotion.lua", std::string(kKivTestAvatarEmotion)) &&
         KivSampleWrite(root + "Scripts/MonsterEmotion.lua", std::string("function SetMonsterEmotion1(monster) end\n")) &&
         KivSampleWrite(root + "Scripts/AvatarBehavior.lua", std::string(kKivTestAvatarBehavior)) &&
         KivSampleWrite(root + "Items/Item.lua", std::string(kKivTestItems)) &&
         KivSampleWrite(kKivTestInkFile, KivTestInkDictionary());
    return ok;
}
