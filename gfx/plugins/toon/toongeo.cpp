// Toon data of a geometry or sector: its arrays, the toon chunk, and binding inks and paints by name.
#include <cstring>
#include <initializer_list>

#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "toon.h"
#include "toonint.h"

// Zeroed room for count records, or NULL for none (and on failure, with *ok cleared).
static void *Array(RwInt32 count, size_t recordSize, RwBool *ok)
{
    if (count <= 0) {
        return nullptr;
    }
    void *p = RwMalloc(static_cast<size_t>(count) * recordSize, rwMEMHINT_TOON);
    if (!p) {
        *ok = FALSE;
        return nullptr;
    }
    std::memset(p, 0, static_cast<size_t>(count) * recordSize);
    return p;
}

static void ReleaseInks(RwToonGeo *toon)
{
    for (RwInt32 i = 0; i < toon->numInks; ++i) {
        if (toon->inks[i]) {
            RwToonInkRelease(toon->inks[i]);
        }
    }
}

RwToonGeo *RwToonGeoCreate(RwInt32 numVertices, RwInt32 numTriangles)
{
    if (numVertices < 0 || numTriangles < 0 || numVertices > rwTOONMAXVERTICES || numTriangles > rwTOONMAXVERTICES) {
        RwToonError(E_RW_READ, "toon data counts out of range");
        return nullptr;
    }
    RwBool ok = TRUE;
    RwToonGeo *toon = static_cast<RwToonGeo *>(Array(1, sizeof(RwToonGeo), &ok));
    if (!toon) {
        RwToonError(E_RW_NOMEM, "toon data");
        return nullptr;
    }
    toon->numVertices = numVertices;
    toon->numTriangles = numTriangles;
    toon->one = 1;
    toon->triangles = static_cast<RwToonTriangle *>(Array(numTriangles, sizeof(RwToonTriangle), &ok));
    toon->triangleNormals = static_cast<RwV3d *>(Array(numTriangles, sizeof(RwV3d), &ok));
    toon->vertexNormals = static_cast<RwV3d *>(Array(numVertices, sizeof(RwV3d), &ok));
    toon->widthFactors = static_cast<RwReal *>(Array(numVertices, sizeof(RwReal), &ok));
    for (RwInt32 i = 0; ok && i < numVertices; ++i) {
        toon->widthFactors[i] = 1.0f;
    }
    if (!ok || !RwToonGeoSetNumInks(toon, 2)) {
        RwToonGeoDestroy(toon);
        RwToonError(E_RW_NOMEM, "toon data");
        return nullptr;
    }
    return toon;
}

RwBool RwToonGeoSetEdges(RwToonGeo *toon, RwInt32 numEdges, RwInt32 numCreaseEdges)
{
    if (!toon || numEdges < 0 || numCreaseEdges < 0 || numCreaseEdges > numEdges) {
        return FALSE;
    }
    RwBool ok = TRUE;
    RwToonEdge *edges = static_cast<RwToonEdge *>(Array(numEdges, sizeof(RwToonEdge), &ok));
    RwToonInkIndex *edgeInks = static_cast<RwToonInkIndex *>(Array(numEdges, sizeof(RwToonInkIndex), &ok));
    if (!ok) {
        RwFree(edges);
        RwFree(edgeInks);
        return FALSE;
    }
    RwFree(toon->edges);
    RwFree(toon->edgeInks);
    toon->edges = edges;
    toon->edgeInks = edgeInks;
    toon->numEdges = numEdges;
    toon->numCreaseEdges = numCreaseEdges;
    return TRUE;
}

RwBool RwToonGeoSetNumInks(RwToonGeo *toon, RwInt32 numInks)
{
    if (!toon || numInks < 0) {
        return FALSE;
    }
    RwBool ok = TRUE;
    void *names = Array(numInks, rwTOONNAMELENGTH, &ok);
    RwToonInk **inks = static_cast<RwToonInk **>(Array(numInks, sizeof(RwToonInk *), &ok));
    if (!ok) {
        RwFree(names);
        RwFree(inks);
        return FALSE;
    }
    ReleaseInks(toon);
    RwFree(toon->inkNames);
    RwFree(toon->inks);
    toon->inkNames = static_cast<RwChar(*)[rwTOONNAMELENGTH]>(names);
    toon->inks = inks;
    toon->numInks = numInks;
    return TRUE;
}

void RwToonGeoDestroy(RwToonGeo *toon)
{
    if (!toon) {
        return;
    }
    ReleaseInks(toon);
    if (toon->paint) {
        RwToonPaintRelease(toon->paint);
    }
    for (void *p : {static_cast<void *>(toon->triangles), static_cast<void *>(toon->edges),
                    static_cast<void *>(toon->widthFactors), static_cast<void *>(toon->inkNames),
                    static_cast<void *>(toon->inks), static_cast<void *>(toon->edgeInks),
                    static_cast<void *>(toon->triangleNormals), static_cast<void *>(toon->vertexNormals)}) {
        RwFree(p);
    }
    RwFree(toon);
}

RwInt32 RwToonGeoStreamGetSize(const RwToonGeo *toon)
{
    if (!toon) {
        return 0;
    }
    return (toon->numVertices + 2 * toon->numInks) * 16 + (toon->numEdges + toon->numTriangles) * 18 + 56;
}

static RwReal *Reals(RwV3d *v) { return v ? &v->x : nullptr; }

static RwStream *WriteInts(RwStream *stream, std::initializer_list<RwInt32> values)
{
    for (RwInt32 v : values) {
        if (!RwStreamWriteInt32(stream, &v, sizeof v)) {
            return nullptr;
        }
    }
    return stream;
}

static RwStream *WriteReals(RwStream *stream, const RwReal *reals, RwInt32 count)
{
    return count <= 0 ? stream : RwStreamWriteReal(stream, reals, static_cast<RwUInt32>(count) * sizeof(RwReal));
}

static RwStream *WriteShorts(RwStream *stream, const RwUInt16 *shorts, RwInt32 count)
{
    return count <= 0 ? stream
                      : RwStreamWriteInt16(stream, reinterpret_cast<const RwInt16 *>(shorts),
                                           static_cast<RwUInt32>(count) * sizeof(RwUInt16));
}

RwStream *RwToonGeoStreamWrite(RwStream *stream, const RwToonGeo *toon)
{
    if (!toon) {
        return stream;
    }
    const RwInt32 n = toon->numInks;
    const RwInt32 e = toon->numEdges;
    const RwBool ok =
        WriteInts(stream, {static_cast<RwInt32>(rwTOONGEOVERSION), toon->numVertices, toon->numTriangles}) &&
        WriteShorts(stream, toon->triangles ? toon->triangles->vertex : nullptr, toon->numTriangles * 3) &&
        WriteReals(stream, toon->widthFactors, toon->numVertices) &&
        WriteInts(stream, {e, toon->numCreaseEdges}) &&
        WriteShorts(stream, toon->edges ? toon->edges->vertex : nullptr, e * 8) &&
        WriteReals(stream, Reals(toon->triangleNormals), toon->numTriangles * 3) &&
        WriteReals(stream, Reals(toon->vertexNormals), toon->numVertices * 3) && WriteInts(stream, {n}) &&
        (n == 0 || RwStreamWrite(stream, toon->inkNames, static_cast<RwUInt32>(n) * rwTOONNAMELENGTH)) &&
        (e == 0 || RwStreamWrite(stream, toon->edgeInks, static_cast<RwUInt32>(e) * 2)) &&
        RwStreamWrite(stream, toon->paintName, rwTOONNAMELENGTH);
    return ok ? stream : nullptr;
}

static RwBool ReadShorts(RwStream *stream, RwUInt16 *shorts, RwInt32 count)
{
    return count <= 0 || RwStreamReadInt16(stream, reinterpret_cast<RwInt16 *>(shorts),
                                           static_cast<RwUInt32>(count) * sizeof(RwUInt16));
}

// Widths and normals: finite ones only.
static RwBool ReadReals(RwStream *stream, RwReal *reals, RwInt32 count)
{
    return count <= 0 || (RwStreamReadReal(stream, reals, static_cast<RwUInt32>(count) * sizeof(RwReal)) &&
                          RwStreamRealsFinite(reals, static_cast<RwUInt32>(count)));
}

static RwBool ReadBytes(RwStream *stream, void *bytes, RwInt32 count)
{
    return count <= 0 || RwStreamReadExact(stream, bytes, static_cast<RwUInt32>(count));
}

static RwBool Below(RwUInt16 index, RwInt32 limit, RwBool noneAllowed)
{
    return index < limit || (noneAllowed && index == rwTOONNOINDEX);
}

// Every index the passes follow points inside what it indexes. An edge's ink
// index beyond the ink list is kept: that edge draws no ink.
static RwBool IndicesValid(const RwToonGeo *t)
{
    for (RwInt32 i = 0; i < t->numTriangles; ++i) {
        for (RwUInt16 v : t->triangles[i].vertex) {
            if (!Below(v, t->numVertices, FALSE)) {
                return FALSE;
            }
        }
    }
    for (RwInt32 i = 0; i < t->numEdges; ++i) {
        const RwToonEdge &e = t->edges[i];
        if (!Below(e.vertex[0], t->numVertices, FALSE) || !Below(e.vertex[1], t->numVertices, FALSE) ||
            !Below(e.triangle[0], t->numTriangles, FALSE) || !Below(e.triangle[1], t->numTriangles, TRUE)) {
            return FALSE;
        }
        for (RwUInt16 link : e.link) {
            if (!Below(link, t->numEdges, TRUE)) {
                return FALSE;
            }
        }
    }
    return TRUE;
}

// Bytes the chunk needs for these counts, in 64 bits so hostile counts cannot wrap.
static long long Needed(long long v, long long t, long long e, long long n)
{
    return (v + 2 * n) * 16 + (e + t) * 18 + 56;
}

static RwToonGeo *Refuse(RwToonGeo *toon, const RwChar *message)
{
    RwToonGeoDestroy(toon);
    RwToonError(E_RW_READ, message);
    return nullptr;
}

RwToonGeo *RwToonGeoStreamRead(RwStream *stream, RwInt32 length, RwInt32 ownerVertices)
{
    RwInt32 head[3];
    if (!RwStreamReadInt32(stream, head, sizeof head)) {
        return nullptr;
    }
    if (static_cast<RwUInt32>(head[0]) != rwTOONGEOVERSION) {
        RwToonError(E_RW_BADVERSION, "Incompatible toon geometry stream version: re-export required");
        return nullptr;
    }
    const RwInt32 v = head[1];
    const RwInt32 t = head[2];
    if (v < 0 || t < 0 || v > rwTOONMAXVERTICES || t > rwTOONMAXVERTICES || v > ownerVertices ||
        Needed(v, t, 0, 0) > length) {
        RwToonError(E_RW_READ, "toon data counts out of range");
        return nullptr;
    }
    RwToonGeo *toon = RwToonGeoCreate(v, t);
    if (!toon) {
        return nullptr;
    }
    RwInt32 ec[2];
    if (!ReadShorts(stream, toon->triangles ? toon->triangles->vertex : nullptr, t * 3) ||
        !ReadReals(stream, toon->widthFactors, v) || !RwStreamReadInt32(stream, ec, sizeof ec)) {
        return Refuse(toon, "toon data truncated");
    }
    if (ec[0] < 0 || ec[1] < 0 || ec[1] > ec[0] || Needed(v, t, ec[0], 0) > length) {
        return Refuse(toon, "toon edge counts out of range");
    }
    if (!RwToonGeoSetEdges(toon, ec[0], ec[1])) {
        return Refuse(toon, "toon edges");
    }
    RwInt32 n;
    if (!ReadShorts(stream, toon->edges ? toon->edges->vertex : nullptr, ec[0] * 8) ||
        !ReadReals(stream, Reals(toon->triangleNormals), t * 3) ||
        !ReadReals(stream, Reals(toon->vertexNormals), v * 3) ||
        !RwStreamReadInt32(stream, &n, sizeof n)) {
        return Refuse(toon, "toon data truncated");
    }
    if (n < 0 || Needed(v, t, ec[0], n) > length || !RwToonGeoSetNumInks(toon, n)) {
        return Refuse(toon, "toon ink count out of range");
    }
    if (!ReadBytes(stream, toon->inkNames, n * rwTOONNAMELENGTH) ||
        !ReadBytes(stream, toon->edgeInks, ec[0] * 2) || !ReadBytes(stream, toon->paintName, rwTOONNAMELENGTH)) {
        return Refuse(toon, "toon data truncated");
    }
    for (RwInt32 i = 0; i < n; ++i) {
        toon->inkNames[i][rwTOONNAMELENGTH - 1] = '\0';
    }
    toon->paintName[rwTOONNAMELENGTH - 1] = '\0';
    if (!IndicesValid(toon)) {
        return Refuse(toon, "toon data index out of range");
    }
    return toon;
}

RwToonGeo *RwToonGeoApplyInkDictionary(RwToonGeo *toon, const RwToonInkDictionary *dictionary)
{
    if (!toon) {
        return nullptr;
    }
    for (RwInt32 i = 0; i < toon->numInks; ++i) {
        RwToonInk *ink = RwToonInkDictionaryFindInk(dictionary, toon->inkNames[i]);
        if (ink) {
            RwToonAddRef(ink);
            if (toon->inks[i]) {
                RwToonInkRelease(toon->inks[i]);
            }
            toon->inks[i] = ink;
        }
    }
    return toon;
}

RwToonGeo *RwToonGeoApplyPaintDictionary(RwToonGeo *toon, const RwToonPaintDictionary *dictionary)
{
    if (!toon) {
        return nullptr;
    }
    RwToonPaint *paint = RwToonPaintDictionaryFindPaint(dictionary, toon->paintName);
    if (paint) {
        RwToonAddRef(paint);
        if (toon->paint) {
            RwToonPaintRelease(toon->paint);
        }
        toon->paint = paint;
    }
    RwMeshHeader *header = toon->geometry ? toon->geometry->mesh : toon->sector ? toon->sector->mesh : nullptr;
    if (!header) {
        return toon;
    }
    RwMesh *meshes = RwMeshHeaderGetMeshes(header);
    for (RwUInt32 i = 0; i < header->numMeshes; ++i) {
        RwToonMaterial *own = RwToonMaterialGetToonMaterial(meshes[i].material);
        if (!own || !own->hasPaint) {
            continue;
        }
        // The material keeps what it binds alive: the dictionary may go first.
        RwToonPaint *found = RwToonPaintDictionaryFindPaint(dictionary, own->paintName);
        if (found) {
            RwToonAddRef(found);
        }
        if (own->paint) {
            RwToonPaintRelease(own->paint);
        }
        own->paint = found;
    }
    return toon;
}
