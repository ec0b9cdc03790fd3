// Scenes for the sample, engine tests and benchmarks: grounds as world files, models of square parts written by the library's writers.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "sample/sample_files.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/memory.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/core/stream.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"

// A string user-data array on any object of the plug-in's kinds.
inline void KivTestAddString(const void *object, RwPluginObjectKind kind, const char *text, const char *name = "name")
{
    RwUserDataExtension *ext = RwUserDataGetExtension(object, kind);
    const RwInt32 index = RwUserDataExtensionAddArray(ext, name, rwUSERDATASTRING, 1);
    char *copy = static_cast<char *>(RwMalloc(strlen(text) + 1, rwUSERDATANAMEHINT));
    strcpy(copy, text);
    RwUserDataArraySetElement(RwUserDataExtensionGetArray(ext, index), 0, static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(copy)));
}

// A horizontal square part: both windings, so it shows from above and below.
struct KivTestQuad {
    float half = 1.0f;
    RwRGBA colour = {255, 255, 255, 255};
    bool prelit = true;                  // unlit and not pre-lit draws black
    const char *material = nullptr;      // first material's first string
    const char *second = nullptr;        // a second material, named so, on half the triangles
    const char *name = nullptr;          // the geometry's first string
    bool renderArray = false;            // carries a "render" array as a hostile file would
    bool textured = false;               // one texture-coordinate set over the square
};

inline RwGeometry *KivTestQuadGeometry(const KivTestQuad &q)
{
    RwGeometry *g = RwGeometryCreate(4, 4, rwGEOMETRYPOSITIONS | rwGEOMETRYNORMALS | rwGEOMETRYMODULATEMATERIALCOLOR |
                                               (q.prelit ? rwGEOMETRYPRELIT : 0u) |
                                               (q.textured ? rwGEOMETRYTEXTURED : 0u));
    RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
    for (int i = 0; i < 4; i++) {
        m->verts[i] = {(i & 1) ? q.half : -q.half, 0.0f, (i & 2) ? q.half : -q.half};
        m->normals[i] = {0.0f, 1.0f, 0.0f};
        if (q.textured)
            g->texCoords[0][i] = {(i & 1) ? 1.0f : 0.0f, (i & 2) ? 1.0f : 0.0f};
        if (q.prelit)
            g->preLitLum[i] = {255, 255, 255, 255};
    }
    RwMaterial *materials[2] = {RwMaterialCreate(), q.second ? RwMaterialCreate() : nullptr};
    materials[0]->color = q.colour;
    if (q.material)
        KivTestAddString(materials[0], rwKINDMATERIAL, q.material);
    if (q.second)
        KivTestAddString(materials[1], rwKINDMATERIAL, q.second);
    const RwUInt16 tris[4][3] = {{0, 2, 1}, {1, 2, 3}, {0, 1, 2}, {1, 3, 2}};
    for (int t = 0; t < 4; t++) {
        g->triangles[t] = {{tris[t][0], tris[t][1], tris[t][2]}, 0};
        RwGeometryTriangleSetMaterial(g, &g->triangles[t], materials[q.second && t >= 2 ? 1 : 0]);
    }
    for (RwMaterial *material : materials) {
        if (material)
            RwMaterialDestroy(material);
    }
    m->boundingSphere = {{0, 0, 0}, q.half * 1.5f};
    if (q.name)
        KivTestAddString(g, rwKINDGEOMETRY, q.name);
    if (q.renderArray) {
        const RwInt32 index = RwUserDataGeometryAddArray(g, "render", rwUSERDATAINT, 2);
        RwUserDataArraySetElement(RwUserDataGeometryGetArray(g, index), 0, 0xDEADBEEFu);
    }
    RwGeometryUnlock(g);
    return g;
}

// What a library writer puts into a memory stream.
template <typename Write>
std::string KivTestWrite(Write write)
{
    RwMemory memory = {nullptr, 0};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, &memory);
    write(stream);
    RwStreamClose(stream, &memory);
    std::string bytes(reinterpret_cast<const char *>(memory.start), memory.length);
    RwFree(memory.start);
    return bytes;
}

inline std::string KivTestWritten(const RwGeometry *g)
{
    return KivTestWrite([g](RwStream *stream) { RwGeometryStreamWrite(g, stream); });
}

// One frame per part under the root, at the part's position; each part one atomic.
struct KivTestPart {
    KivTestQuad quad;
    RwV3d position;
    const char *frame = nullptr;   // the frame's name, carried as user data
    int parent = -1;               // the part whose frame is the parent; -1 for the root
    std::string bone = {};         // the frame's bone record, as the hierarchy plug-in writes it
    std::string geometry = {};     // a written geometry chunk in place of the quad
    bool drawn = true;             // false: a bare frame without an atomic
};

inline std::string KivTestFrameExtension(const char *name, const std::string &bone = {})
{
    const std::string boneChunk = bone.empty() ? std::string() : Chunk(rwID_HANIMPLUGIN, bone);
    if (!name)
        return Chunk(3, boneChunk);
    RwFrame *frame = RwFrameCreate();
    KivTestAddString(frame, rwKINDFRAME, name);
    const std::string body =
        KivTestWrite([frame](RwStream *s) { RwUserDataStreamWrite(s, RwUserDataGetExtension(frame, rwKINDFRAME)); });
    RwFrameDestroy(frame);
    return Chunk(3, Chunk(0x11F, body) + boneChunk);
}

inline std::string KivTestModel(const std::vector<KivTestPart> &parts)
{
    std::string counts, frames, geometries, atomics;
    RwUInt32 drawn = 0;
    for (const KivTestPart &part : parts)
        drawn += part.drawn ? 1 : 0;
    PutU32(counts, drawn);
    PutU32(counts, 0);
    PutU32(counts, 0);
    PutU32(frames, static_cast<RwUInt32>(parts.size() + 1));
    for (size_t i = 0; i <= parts.size(); i++) {
        const RwV3d p = i ? parts[i - 1].position : RwV3d{0, 0, 0};
        for (float v : {1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, p.x, p.y, p.z})
            PutF32(frames, v);
        PutU32(frames, i ? static_cast<RwUInt32>(parts[i - 1].parent + 1) : 0xFFFFFFFFu);
        PutU32(frames, 0);
    }
    std::string frameList = Chunk(1, frames) + Chunk(3, "");
    for (const KivTestPart &part : parts)
        frameList += KivTestFrameExtension(part.frame, part.bone);
    std::string count;
    PutU32(count, drawn);
    geometries = Chunk(1, count);
    RwUInt32 atomicIndex = 0;
    for (size_t i = 0; i < parts.size(); i++) {
        if (!parts[i].drawn)
            continue;
        if (parts[i].geometry.empty()) {
            RwGeometry *g = KivTestQuadGeometry(parts[i].quad);
            geometries += KivTestWritten(g);
            RwGeometryDestroy(g);
        } else {
            geometries += parts[i].geometry;
        }
        std::string atomic;
        for (RwUInt32 v : {static_cast<RwUInt32>(i + 1), atomicIndex++, 5u, 0u})
            PutU32(atomic, v);
        atomics += Chunk(0x14, Chunk(1, atomic) + Chunk(3, ""));
    }
    return Chunk(0x10, Chunk(1, counts) + Chunk(0x0E, frameList) + Chunk(0x1A, geometries) +
                                  atomics + Chunk(3, ""));
}

// A ground at height y over [-half, half] in x and z: sectors x sectors world
// sectors, each cells x cells squares of two pre-lit white triangles facing
// up (and two facing down when doubleSided). The world box reaches up to top.
inline std::string KivTestSector(float x0, float x1, float z0, float z1, float y, float top, int cells,
                                 bool doubleSided, bool textured = false)
{
    std::string positions, normals, colours, uvs, triangles;
    const int side = cells + 1;
    for (int j = 0; j <= cells; j++) {
        for (int i = 0; i <= cells; i++) {
            PutF32(positions, x0 + (x1 - x0) * i / cells);
            PutF32(positions, y);
            PutF32(positions, z0 + (z1 - z0) * j / cells);
            PutU32(colours, 0xFFFFFFFFu);
            PutU32(normals, 0x7F00u);   // straight up, as signed bytes over 128
            PutF32(uvs, (x0 + (x1 - x0) * i / cells) / 4);
            PutF32(uvs, (z0 + (z1 - z0) * j / cells) / 4);
        }
    }
    int count = 0;
    for (int j = 0; j < cells; j++) {
        for (int i = 0; i < cells; i++) {
            const RwUInt32 a = j * side + i, b = a + 1, c = a + side, d = c + 1;
            const RwUInt32 up[2][3] = {{a, c, b}, {b, c, d}};
            for (const auto &t : up) {
                PutU32(triangles, t[0] | t[1] << 16);
                PutU32(triangles, t[2]);
                count++;
                if (doubleSided) {
                    PutU32(triangles, t[0] | t[2] << 16);
                    PutU32(triangles, t[1]);
                    count++;
                }
            }
        }
    }
    std::string s;
    PutU32(s, 0);
    PutU32(s, static_cast<RwUInt32>(count));
    PutU32(s, static_cast<RwUInt32>(side * side));
    for (float f : {x0, y, z0, x1, top, z1})
        PutF32(s, f);
    PutU32(s, 0);
    PutU32(s, 0);
    if (!textured)
        return Chunk(9, Chunk(1, s + positions + colours + triangles) + Chunk(3, ""));
    return Chunk(9, Chunk(1, s + positions + normals + colours + uvs + triangles) + Chunk(3, ""));
}

inline std::string KivTestSectorTree(float x0, float x1, float z0, float z1, float y, float top, int sectors,
                                     int cells, bool doubleSided, int *planes, bool textured = false)
{
    if (sectors <= 1)
        return KivTestSector(x0, x1, z0, z1, y, top, cells, doubleSided, textured);
    ++*planes;
    const bool alongX = (x1 - x0) >= (z1 - z0);
    const float mid = alongX ? (x0 + x1) / 2 : (z0 + z1) / 2;
    const int half = sectors / 2;
    std::string plane;
    PutU32(plane, alongX ? 0 : 8);
    PutF32(plane, mid);
    PutU32(plane, half <= 1 ? 1 : 0);
    PutU32(plane, sectors - half <= 1 ? 1 : 0);
    PutF32(plane, mid);
    PutF32(plane, mid);
    const std::string low = alongX ? KivTestSectorTree(x0, mid, z0, z1, y, top, half, cells, doubleSided, planes, textured)
                                   : KivTestSectorTree(x0, x1, z0, mid, y, top, half, cells, doubleSided, planes, textured);
    const std::string high = alongX ? KivTestSectorTree(mid, x1, z0, z1, y, top, sectors - half, cells, doubleSided, planes, textured)
                                    : KivTestSectorTree(x0, x1, mid, z1, y, top, sectors - half, cells, doubleSided, planes, textured);
    return Chunk(0x0A, Chunk(1, plane) + low + high);
}

// With a texture name the ground is lit too (normals up) and wears that
// texture, repeated every 4 units.
inline std::string KivTestGround(float half, float y, float top, int sectors = 1, int cells = 1,
                                 bool doubleSided = true, const char *texture = nullptr)
{
    int planes = 0;
    const std::string tree =
        KivTestSectorTree(-half, half, -half, half, y, top, sectors, cells, doubleSided, &planes, texture != nullptr);
    const int perSector = cells * cells * (doubleSided ? 4 : 2);
    const RwUInt32 lit = 0x00010000 | rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | rwGEOMETRYLIGHT;
    const RwUInt32 format = 0x40000000 | rwGEOMETRYPRELIT | rwGEOMETRYPOSITIONS | (texture ? lit : 0u);
    std::string s;
    PutU32(s, sectors <= 1 ? 1 : 0);
    for (int i = 0; i < 3; i++)
        PutF32(s, 0.0f);
    for (RwUInt32 v : {static_cast<RwUInt32>(perSector * sectors),
                       static_cast<RwUInt32>((cells + 1) * (cells + 1) * sectors), static_cast<RwUInt32>(planes),
                       static_cast<RwUInt32>(sectors), 0u, format})
        PutU32(s, v);
    for (float f : {half, top, half, -half, y, -half})
        PutF32(s, f);
    std::string material;
    for (RwUInt32 v : {0u, 0xFFFFFFFFu, 0u, texture ? 1u : 0u})
        PutU32(material, v);
    for (float f : {1.0f, 1.0f, 1.0f})
        PutF32(material, f);
    std::string textureChunk;
    if (texture) {
        std::string flags, name(texture);
        PutU32(flags, 0x1102);   // linear filtering, wrapped in u and v
        name.resize((name.size() + 4) & ~size_t(3), '\0');
        textureChunk = Chunk(6, Chunk(1, flags) + Chunk(2, name) + Chunk(2, std::string(4, '\0')) + Chunk(3, ""));
    }
    std::string list;
    PutU32(list, 1);
    PutU32(list, 0xFFFFFFFFu);
    const std::string materials =
        Chunk(8, Chunk(1, list) + Chunk(7, Chunk(1, material) + textureChunk + Chunk(3, "")));
    return Chunk(0x0B, Chunk(1, s) + materials + tree + Chunk(3, ""));
}

// A blob: the given colour inside, transparent on the border (size at least 3).
inline RwTexture *KivTestBlobTexture(int size, RwUInt32 inside)
{
    RwRaster *raster = RwRasterCreate(size, size, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwUInt8 *p = RwRasterLock(raster, 0, rwRASTERLOCKWRITE);
    for (int y = 0; y < size; y++) {
        RwUInt32 *row = reinterpret_cast<RwUInt32 *>(p + y * raster->stride);
        for (int x = 0; x < size; x++)
            row[x] = (x == 0 || x == size - 1 || y == 0 || y == size - 1) ? 0u : inside;
    }
    RwRasterUnlock(raster);
    return RwTextureCreate(raster);
}

// A bare directional light chunk, and a frame turned to shine straight down.
inline std::string KivTestDirectionalLightFile()
{
    std::string body;
    for (float f : {0.0f, 1.0f, 1.0f, 1.0f, 0.0f})
        PutF32(body, f);
    PutU32(body, 3 | 1u << 16);
    return Chunk(0x12, Chunk(0x01, body) + Chunk(0x03, ""));
}

inline void KivTestShineDown(RwFrame *frame)
{
    RwMatrix *m = RwFrameGetMatrix(frame);
    m->right = {1, 0, 0};
    m->up = {0, 0, 1};
    m->at = {0, -1, 0};
    RwMatrixMarkChanged(m);
    RwFrameMarkDirty(frame);
}

// The sample's sun: high in the sky, shining from behind the camera's start.
inline void KivSampleTurnSun(RwFrame *frame)
{
    const RwV3d xAxis = {1, 0, 0}, yAxis = {0, 1, 0};
    RwFrameRotate(frame, &xAxis, 60.0f, rwCOMBINEREPLACE);
    RwFrameRotate(frame, &yAxis, 150.0f, rwCOMBINEPOSTCONCAT);
}
