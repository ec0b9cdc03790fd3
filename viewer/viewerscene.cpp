// The viewer's sample scene: a textured ground world with objects and a lit, textured model, written for the engine to load; the projected shadow of a model.
#include "viewerscene.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/byteorder.h"
#include "gfx/core/image.h"
#include "gfx/core/memory.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"

#include "engine/CKivClump.h"

namespace {

typedef std::vector<RwUInt8> Bytes;

void U32(Bytes &b, RwUInt32 v)
{
    RwUInt8 w[4];
    WriteU32(w, v);
    b.insert(b.end(), w, w + 4);
}

void F32(Bytes &b, RwReal f)
{
    RwUInt32 u;
    std::memcpy(&u, &f, 4);
    U32(b, u);
}

void Chunk(Bytes &out, RwUInt32 type, const Bytes &body)
{
    U32(out, type);
    U32(out, static_cast<RwUInt32>(body.size()));
    U32(out, RwChunkVersionStamp(rwCHUNKVERSIONWRITE, rwCHUNKBUILDWRITE));
    out.insert(out.end(), body.begin(), body.end());
}

void EmptyExtension(Bytes &out)
{
    Chunk(out, 3, Bytes());
}

// What a library writer puts into a memory stream.
template <typename Write>
Bytes Written(Write write)
{
    RwMemory memory = {nullptr, 0};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, &memory);
    const bool ok = stream && write(stream);
    RwStreamClose(stream, &memory);
    Bytes b;
    if (ok && memory.start) {
        b.assign(memory.start, memory.start + memory.length);
    }
    RwFree(memory.start);
    return b;
}

bool SaveFile(const std::string &path, const Bytes &bytes)
{
    if (bytes.empty()) {
        return false;
    }
    RwStream *stream = RwStreamOpen(rwSTREAMFILENAME, rwSTREAMWRITE, path.c_str());
    const bool ok = stream && RwStreamWrite(stream, bytes.data(), static_cast<RwUInt32>(bytes.size()));
    if (stream) {
        RwStreamClose(stream, nullptr);
    }
    return ok;
}

// ---------------------------------------------------------------------------
// Textures: small patterns made in memory

std::string Join(const RwChar *folder, const char *name)
{
    std::string path = folder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    return path + name;
}

typedef RwRGBA (*Pattern)(int x, int y);

RwRGBA Grass(int x, int y)
{
    const bool light = ((x / 4) + (y / 4)) & 1;
    return light ? RwRGBA{90, 170, 70, 255} : RwRGBA{50, 120, 40, 255};
}

RwRGBA Stone(int x, int y)
{
    const bool mortar = (y % 8) == 0 || ((x + (y / 8) * 4) % 8) == 0;
    return mortar ? RwRGBA{90, 90, 95, 255} : RwRGBA{170, 160, 150, 255};
}

RwRGBA Cloth(int x, int y)
{
    return (y / 2) % 2 ? RwRGBA{230, 120, 40, 255} : RwRGBA{250, 200, 60, 255};
}

RwImage *MakeImage(Pattern pattern)
{
    RwImage *image = RwImageCreate(16, 16, 32);
    if (!image || !RwImageAllocatePixels(image)) {
        RwImageDestroy(image);
        return nullptr;
    }
    for (int y = 0; y < 16; y++) {
        for (int x = 0; x < 16; x++) {
            const RwRGBA c = pattern(x, y);
            std::memcpy(image->cpPixels + y * image->stride + 4 * x, &c, 4);
        }
    }
    return image;
}

// A model reads its textures from "<name>.png" beside it, so a model's
// pattern is written there too; the world's come from its dictionary alone.
RwTexture *MakeTexture(const RwChar *folder, const RwChar *name, Pattern pattern, bool loose)
{
    RwImage *image = MakeImage(pattern);
    if (!image || (loose && !RwImageWritePng(image, Join(folder, (std::string(name) + ".png").c_str()).c_str()))) {
        RwImageDestroy(image);
        return nullptr;
    }
    RwInt32 w = 0, h = 0, depth = 0, format = 0;
    RwRaster *raster = nullptr;
    if (RwImageFindRasterFormat(image, rwRASTERTYPETEXTURE, &w, &h, &depth, &format)) {
        raster = RwRasterCreate(w, h, depth, format);
    }
    if (raster && !RwRasterSetFromImage(raster, image)) {
        RwRasterDestroy(raster);
        raster = nullptr;
    }
    RwImageDestroy(image);
    RwTexture *texture = raster ? RwTextureCreate(raster) : nullptr;
    if (texture) {
        RwTextureSetName(texture, name);
    }
    return texture;
}

// ---------------------------------------------------------------------------
// Geometry shared by the world and the model: boxes of quads

struct Vertex {
    RwV3d pos;
    RwV3d normal;
    RwTexCoords uv;
    RwRGBA colour;
};

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<RwTriangle> triangles;

    void Quad(const RwV3d corners[4], RwV3d normal, RwReal repeat, RwRGBA colour, RwUInt16 material)
    {
        const RwUInt16 base = static_cast<RwUInt16>(vertices.size());
        const RwTexCoords uv[4] = {{0, 0}, {repeat, 0}, {0, repeat}, {repeat, repeat}};
        for (int i = 0; i < 4; i++) {
            vertices.push_back({corners[i], normal, uv[i], colour});
        }
        triangles.push_back({{base, static_cast<RwUInt16>(base + 1), static_cast<RwUInt16>(base + 2)}, material});
        triangles.push_back({{static_cast<RwUInt16>(base + 1), static_cast<RwUInt16>(base + 3),
                              static_cast<RwUInt16>(base + 2)},
                             material});
    }

    // Six faces; pre-lit colours darker on the sides that face away from the sky.
    void Box(RwV3d c, RwV3d h, RwUInt16 material)
    {
        const RwV3d n[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
        const RwUInt8 shade[6] = {200, 150, 255, 90, 180, 120};
        for (int f = 0; f < 6; f++) {
            // Two axes across the face.
            const RwV3d &d = n[f];
            const RwV3d u = d.x != 0 ? RwV3d{0, 1, 0} : RwV3d{1, 0, 0};
            const RwV3d v = {d.y * u.z - d.z * u.y, d.z * u.x - d.x * u.z, d.x * u.y - d.y * u.x};
            RwV3d corners[4];
            for (int i = 0; i < 4; i++) {
                const RwReal a = (i & 1) ? 1.0f : -1.0f;
                const RwReal b = (i & 2) ? 1.0f : -1.0f;
                corners[i] = {c.x + h.x * (d.x + a * u.x + b * v.x), c.y + h.y * (d.y + a * u.y + b * v.y),
                              c.z + h.z * (d.z + a * u.z + b * v.z)};
            }
            Quad(corners, d, 1.0f, {shade[f], shade[f], shade[f], 255}, material);
        }
    }
};

// ---------------------------------------------------------------------------
// The world: two sectors split at x = 0, each with ground and two stone blocks

const RwReal kHalf = 20.0f;

Bytes SectorChunk(const Mesh &m, RwBBox box)
{
    Bytes s;
    U32(s, 0);
    U32(s, static_cast<RwUInt32>(m.triangles.size()));
    U32(s, static_cast<RwUInt32>(m.vertices.size()));
    for (RwReal f : {box.inf.x, box.inf.y, box.inf.z, box.sup.x, box.sup.y, box.sup.z}) {
        F32(s, f);
    }
    U32(s, 0);
    U32(s, 0);
    for (const Vertex &v : m.vertices) {
        F32(s, v.pos.x);
        F32(s, v.pos.y);
        F32(s, v.pos.z);
    }
    for (const Vertex &v : m.vertices) {
        U32(s, static_cast<RwUInt32>(v.colour.red) | v.colour.green << 8 | v.colour.blue << 16 |
                   static_cast<RwUInt32>(v.colour.alpha) << 24);
    }
    for (const Vertex &v : m.vertices) {
        F32(s, v.uv.u);
        F32(s, v.uv.v);
    }
    for (const RwTriangle &t : m.triangles) {
        U32(s, t.vertIndex[0] | static_cast<RwUInt32>(t.vertIndex[1]) << 16);
        U32(s, t.vertIndex[2] | static_cast<RwUInt32>(t.matIndex) << 16);
    }
    Bytes body;
    Chunk(body, rwID_STRUCT, s);
    EmptyExtension(body);
    Bytes out;
    Chunk(out, 9, body);
    return out;
}

Mesh GroundSector(RwReal x0, RwReal x1, RwReal objectX)
{
    Mesh m;
    const RwV3d corners[4] = {{x0, 0, kHalf}, {x1, 0, kHalf}, {x0, 0, -kHalf}, {x1, 0, -kHalf}};
    m.Quad(corners, {0, 1, 0}, 4.0f, {255, 255, 255, 255}, 0);
    m.Box({objectX, 1.0f, 6.0f}, {1.0f, 1.0f, 1.0f}, 1);
    m.Box({objectX * 0.5f, 0.5f, -5.0f}, {1.5f, 0.5f, 0.8f}, 1);
    return m;
}

Bytes WorldFile(const RwMaterialList *materials)
{
    const Mesh left = GroundSector(0.0f, kHalf, 6.0f);
    const Mesh right = GroundSector(-kHalf, 0.0f, -7.0f);
    const RwUInt32 format = 0x40000000 | 0x00010000 | rwGEOMETRYPRELIT | rwGEOMETRYTEXTURED | rwGEOMETRYPOSITIONS;
    Bytes s;
    U32(s, 0);
    for (int i = 0; i < 3; i++) {
        F32(s, 0.0f);
    }
    U32(s, static_cast<RwUInt32>(left.triangles.size() + right.triangles.size()));
    U32(s, static_cast<RwUInt32>(left.vertices.size() + right.vertices.size()));
    U32(s, 1);
    U32(s, 2);
    U32(s, 0);
    U32(s, format);
    for (RwReal f : {kHalf, 3.0f, kHalf, -kHalf, 0.0f, -kHalf}) {
        F32(s, f);
    }
    Bytes plane;
    U32(plane, 0);      // split along x
    F32(plane, 0.0f);
    U32(plane, 1);
    U32(plane, 1);
    F32(plane, 0.0f);
    F32(plane, 0.0f);
    Bytes planeBody;
    Chunk(planeBody, rwID_STRUCT, plane);
    const Bytes a = SectorChunk(right, {{0, 3, kHalf}, {-kHalf, 0, -kHalf}});
    const Bytes b = SectorChunk(left, {{kHalf, 3, kHalf}, {0, 0, -kHalf}});
    planeBody.insert(planeBody.end(), a.begin(), a.end());
    planeBody.insert(planeBody.end(), b.begin(), b.end());
    Bytes body;
    Chunk(body, rwID_STRUCT, s);
    const Bytes list = Written([&](RwStream *st) { return RwMaterialListStreamWrite(materials, st) != nullptr; });
    body.insert(body.end(), list.begin(), list.end());
    Chunk(body, 0x0A, planeBody);
    EmptyExtension(body);
    Bytes out;
    Chunk(out, rwID_WORLD, body);
    return out;
}

// ---------------------------------------------------------------------------
// The model: a root, a body and a head on it, two lit boxes

RwGeometry *BoxGeometry(RwV3d half, RwMaterial *material)
{
    Mesh m;
    m.Box({0, 0, 0}, half, 0);
    RwGeometry *g = RwGeometryCreate(static_cast<RwInt32>(m.vertices.size()), static_cast<RwInt32>(m.triangles.size()),
                                     rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | rwGEOMETRYLIGHT | rwGEOMETRYPOSITIONS);
    if (!g) {
        return nullptr;
    }
    RwMorphTarget *t = RwGeometryGetMorphTarget(g, 0);
    for (size_t i = 0; i < m.vertices.size(); i++) {
        t->verts[i] = m.vertices[i].pos;
        t->normals[i] = m.vertices[i].normal;
        g->texCoords[0][i] = m.vertices[i].uv;
    }
    for (size_t i = 0; i < m.triangles.size(); i++) {
        g->triangles[i] = m.triangles[i];
        RwGeometryTriangleSetMaterial(g, &g->triangles[i], material);
    }
    const RwReal r = std::sqrt(half.x * half.x + half.y * half.y + half.z * half.z);
    t->boundingSphere = {{0, 0, 0}, r};
    RwGeometryUnlock(g);
    return g;
}

void Frame(Bytes &b, RwV3d pos, RwInt32 parent)
{
    for (RwReal f : {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, pos.x, pos.y, pos.z}) {
        F32(b, f);
    }
    U32(b, static_cast<RwUInt32>(parent));
    U32(b, 0);
}

Bytes ModelFile(RwTexture *cloth)
{
    RwMaterial *material = RwMaterialCreate();
    if (!material) {
        return Bytes();
    }
    RwMaterialSetTexture(material, cloth);
    RwGeometry *body = BoxGeometry({0.6f, 0.9f, 0.4f}, material);
    RwGeometry *head = BoxGeometry({0.4f, 0.4f, 0.4f}, material);
    RwMaterialDestroy(material);
    Bytes out;
    if (body && head) {
        Bytes counts;
        U32(counts, 2);
        U32(counts, 0);
        U32(counts, 0);
        Bytes frames;
        U32(frames, 3);
        Frame(frames, {0, 0, 0}, -1);
        Frame(frames, {0, 0.9f, 0}, 0);
        Frame(frames, {0, 1.3f, 0}, 1);
        Bytes frameList;
        Chunk(frameList, rwID_STRUCT, frames);
        for (int i = 0; i < 3; i++) {
            EmptyExtension(frameList);
        }
        Bytes geometries;
        Bytes count;
        U32(count, 2);
        Chunk(geometries, rwID_STRUCT, count);
        for (RwGeometry *g : {body, head}) {
            const Bytes written = Written([&](RwStream *s) { return RwGeometryStreamWrite(g, s) != nullptr; });
            if (written.empty()) {
                geometries.clear();
                break;
            }
            geometries.insert(geometries.end(), written.begin(), written.end());
        }
        Bytes clump;
        Chunk(clump, rwID_STRUCT, counts);
        Chunk(clump, 0x0E, frameList);
        Chunk(clump, 0x1A, geometries);
        for (RwUInt32 i = 0; i < 2; i++) {
            Bytes atomic;
            U32(atomic, i + 1);   // body on frame 1, head on frame 2
            U32(atomic, i);
            U32(atomic, 5);       // collision test and render
            U32(atomic, 0);
            Bytes atomicBody;
            Chunk(atomicBody, rwID_STRUCT, atomic);
            EmptyExtension(atomicBody);
            Chunk(clump, 0x14, atomicBody);
        }
        EmptyExtension(clump);
        if (!geometries.empty()) {
            Chunk(out, 0x10, clump);
        }
    }
    RwGeometryDestroy(body);
    RwGeometryDestroy(head);
    return out;
}

// The stream after the header of the first chunk of the type.
}  // namespace

RwBool KivViewerWriteSampleScene(const RwChar *folder)
{
    CreateDirectoryA(folder, nullptr);
    RwTexture *textures[3] = {MakeTexture(folder, "ground", Grass, false), MakeTexture(folder, "stone", Stone, false),
                              MakeTexture(folder, "cloth", Cloth, true)};
    RwTextureDictionary *dict = RwTextureDictionaryCreate();
    RwMaterialList list;
    RwMaterialListInitialize(&list);
    bool ok = dict && textures[0] && textures[1] && textures[2];
    for (int i = 0; ok && i < 2; i++) {
        RwMaterial *m = RwMaterialCreate();
        ok = m && RwMaterialSetTexture(m, textures[i]) && RwMaterialListAppendMaterial(&list, m) >= 0;
        if (m) {
            RwMaterialDestroy(m);
        }
    }
    for (int i = 0; ok && i < 3; i++) {
        RwTextureDictionaryAddTexture(dict, RwTextureAddRef(textures[i]));
    }
    ok = ok && SaveFile(Join(folder, KIV_SAMPLE_TEXTURES), Written([&](RwStream *s) {
                            return RwPITextureDictionaryStreamWrite(dict, s) != nullptr;
                        }));
    ok = ok && SaveFile(Join(folder, KIV_SAMPLE_WORLD), WorldFile(&list));
    ok = ok && SaveFile(Join(folder, KIV_SAMPLE_MODEL), ModelFile(textures[2]));
    RwMaterialListDeinitialize(&list);
    if (dict) {
        RwTextureDictionaryDestroy(dict);
    }
    for (RwTexture *t : textures) {
        if (t) {
            RwTextureDestroy(t);
        }
    }
    return ok;
}

RwBool KivViewerAddProjectedShadow(CKivClump *model, CKivClump *shadowModel)
{
    // Long enough to reach the ground from the model's height with a low sun.
    const float kLength = 50.0f;
    if (!model || !shadowModel || !model->GetClump() || !shadowModel->GetClump()) {
        return FALSE;
    }
    // The texture darkens the ground as much as the model is dark in it.
    const RwRGBA black = {0, 0, 0, 255};
    shadowModel->SetColorRGB(&black);
    return model->CreateShadow(shadowModel, kLength) == 1;
}
