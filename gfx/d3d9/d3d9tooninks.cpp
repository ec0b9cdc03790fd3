// Toon ink lines: per-frame ink widths, silhouette and crease edges drawn as screen-facing quads.
#include <windows.h>
#include <d3d9.h>

#include <cmath>
#include <cstring>

#include "d3d9device.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "d3d9toon.h"
#include "d3d9toonshaders.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/finite.h"
#include "gfx/core/frame.h"
#include "gfx/core/memory.h"
#include "gfx/core/raster.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"

namespace {

enum : RwUInt32 {
    TAGNONE = 0,              // nothing computed this pass
    TAGPOINT = 1,             // the camera-space point is known
    TAGPROJECTED = 0xFFFFFFFFu,
    MEMHINT_INKS = 0x4012E,
};

// Per-vertex scratch: camera-space point (or eye vector), extruded or projected screen point, tag.
struct WorkEntry {
    RwReal x, y, z;
    RwReal sx, sy;
    RwUInt32 tag;
};
static_assert(sizeof(WorkEntry) == 24, "work entry is six words");

struct PointColour {
    RwReal x, y, z;
    D3DCOLOR colour;
};

// Device-extruded layouts: the outer corners carry their extrusion factors.
struct EdgeVertex {
    RwV3d position;
    RwV3d normal;
    D3DCOLOR colour;
    RwReal a, b;
};
static_assert(sizeof(EdgeVertex) == 36, "per-edge device vertex is 36 bytes");

struct OneInkVertex {
    RwV3d position;
    RwV3d normal;
    RwReal f;
};
static_assert(sizeof(OneInkVertex) == 28, "one-ink device vertex is 28 bytes");

const D3DVERTEXELEMENT9 edgeElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    {0, 28, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

const D3DVERTEXELEMENT9 oneInkElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

// Tags are all 0 between passes except those of the vertices in `touched`, so a pass resets only what the last
// one computed. The missing triangle of a border edge (index rwTOONNOINDEX) faces 2: f ^ 2 is never 1, so no
// silhouette, and (f | 2) & 1 is f, so the edge is seen through its own triangle alone.
WorkEntry *work = nullptr;
RwUInt8 *facing = nullptr;
RwUInt16 *touched = nullptr;
RwInt32 numTouched = 0;
RwUInt32 *edgeList = nullptr;         // the edges a pass draws, gathered in one sweep
RwUInt32 edgeListSize = 0;

void FreeScratch(void)
{
    RwFree(work);
    RwFree(facing);
    RwFree(touched);
    RwFree(edgeList);
    work = nullptr;
    facing = nullptr;
    touched = nullptr;
    edgeList = nullptr;
    numTouched = 0;
    edgeListSize = 0;
}

RwBool Scratch(void)
{
    if (!work) {
        work = static_cast<WorkEntry *>(RwMalloc(sizeof(WorkEntry) * rwTOONMAXVERTICES, MEMHINT_INKS));
        facing = static_cast<RwUInt8 *>(RwMalloc(rwTOONMAXVERTICES + 1, MEMHINT_INKS));
        touched = static_cast<RwUInt16 *>(RwMalloc(sizeof(RwUInt16) * rwTOONMAXVERTICES, MEMHINT_INKS));
        if (!work || !facing || !touched) {
            FreeScratch();
            return FALSE;
        }
        std::memset(work, 0, sizeof(WorkEntry) * rwTOONMAXVERTICES);
        facing[rwTOONNOINDEX] = 2;
    }
    return TRUE;
}

// Room in the edge list for `count` edges; FALSE without memory or for a count whose size wraps.
RwBool EdgeListReserve(RwUInt32 count)
{
    if (count > 0x3FFFFFFFu) {
        return FALSE;
    }
    if (count > edgeListSize) {
        RwUInt32 *list = static_cast<RwUInt32 *>(RwMalloc(sizeof(RwUInt32) * count, MEMHINT_INKS));
        if (!list) {
            return FALSE;
        }
        RwFree(edgeList);
        edgeList = list;
        edgeListSize = count;
    }
    return TRUE;
}

void ResetWork(void)
{
    for (RwInt32 i = 0; i < numTouched; ++i) {
        work[touched[i]].tag = TAGNONE;
    }
    numTouched = 0;
}

inline void TransformPoint(RwV3d *out, const RwV3d &p, const RwMatrix *m)
{
    out->x = p.x * m->right.x + p.y * m->up.x + p.z * m->at.x + m->pos.x;
    out->y = p.x * m->right.y + p.y * m->up.y + p.z * m->at.y + m->pos.y;
    out->z = p.x * m->right.z + p.y * m->up.z + p.z * m->at.z + m->pos.z;
}

inline D3DCOLOR Argb(const RwRGBA &c) { return D3DCOLOR_ARGB(c.alpha, c.red, c.green, c.blue); }

RwCamera *Camera(void) { return static_cast<RwCamera *>(RwEngineInstance->curCamera); }

// The camera-space point of vertex v, computed once per pass.
inline WorkEntry &Point(RwUInt32 v, const RwV3d *positions, const RwMatrix *objectToCamera)
{
    WorkEntry &e = work[v];
    if (e.tag == TAGNONE) {
        RwV3d p;
        TransformPoint(&p, positions[v], objectToCamera);
        e.x = p.x;
        e.y = p.y;
        e.z = p.z;
        e.tag = TAGPOINT;
        touched[numTouched++] = static_cast<RwUInt16>(v);
    }
    return e;
}

inline WorkEntry &Projected(RwUInt32 v, const RwV3d *positions, const RwMatrix *objectToCamera)
{
    WorkEntry &e = Point(v, positions, objectToCamera);
    if (e.tag != TAGPROJECTED) {
        const RwReal recip = e.z != 0.0f ? 1.0f / e.z : 0.0f;
        e.sx = e.x * recip;
        e.sy = e.y * recip;
        e.tag = TAGPROJECTED;
    }
    return e;
}

// Quad emission: vertices go to the dynamic ring in batches drawn against the quad index buffer.
struct QuadBatch {
    RwUInt32 stride;
    RwUInt32 cap;
    void *buffer;
    RwUInt8 *data;
    RwUInt32 base;
    RwUInt32 room;
    RwUInt32 used;
};

RwBool BatchLock(QuadBatch &b, RwUInt32 wanted)
{
    b.room = wanted < b.cap ? wanted : b.cap;
    b.used = 0;
    void *data = nullptr;
    if (b.room == 0 || !RwD3D9DynamicVertexBufferLock(b.stride, b.room, &b.buffer, &data, &b.base)) {
        b.room = 0;
        b.data = nullptr;
        return FALSE;
    }
    b.data = static_cast<RwUInt8 *>(data);
    return TRUE;
}

void BatchDraw(QuadBatch &b)
{
    if (!b.data) {
        return;
    }
    RwD3D9DynamicVertexBufferUnlock(b.buffer);
    b.data = nullptr;
    if (b.used >= 4) {
        RwD3D9SetStreamSource(0, b.buffer, 0, b.stride);
        RwD3D9SetIndices(rwToonDevice.quadIndexBuffer);
        RwD3D9DrawIndexedPrimitive(D3DPT_TRIANGLELIST, static_cast<RwInt32>(b.base), 0, b.used, 0, b.used / 2);
    }
}

// Room for one more quad; `left` counts this quad and the most that may follow it.
RwUInt8 *BatchQuad(QuadBatch &b, RwUInt32 left)
{
    if (b.data && b.used + 4 > b.room) {
        BatchDraw(b);
    }
    if (!b.data && !BatchLock(b, left * 4)) {
        return nullptr;
    }
    RwUInt8 *quad = b.data + b.used * b.stride;
    b.used += 4;
    return quad;
}

// Extrusion coefficients of an ink: w = (a z + b) z per unit width factor.
inline void InkCoefficients(const RwToonInk *k, RwReal *a, RwReal *b)
{
    if (k->depthSlope != 0.0f) {
        *a = k->screenWidth * k->depthSlope;
        *b = (k->depthBase - k->depthOrigin * k->depthSlope) * k->screenWidth;
    } else {
        *a = 0.0f;
        *b = k->screenWidth * k->depthBase;
    }
}

// Projection (Direct3D's, with x mirrored back into camera space) as rows c0-c3, object-to-camera as c4-c6.
void InkShaderConstants(const RwMatrix *objectToCamera)
{
    D3DMATRIX p;
    RwD3D9GetTransform(D3DTS_PROJECTION, &p);
    float c[7][4];
    for (int col = 0; col < 4; ++col) {
        c[col][0] = -p.m[0][col];
        c[col][1] = p.m[1][col];
        c[col][2] = p.m[2][col];
        c[col][3] = p.m[3][col];
    }
    const RwMatrix *m = objectToCamera;
    const float rows[3][4] = {{m->right.x, m->up.x, m->at.x, m->pos.x},
                              {m->right.y, m->up.y, m->at.y, m->pos.y},
                              {m->right.z, m->up.z, m->at.z, m->pos.z}};
    std::memcpy(c[4], rows, sizeof rows);
    RwD3D9SetVertexShaderConstant(0, &c[0][0], 7);
}

void BatchBegin(QuadBatch &b, RwUInt32 stride, RwBool oneInk, D3DCOLOR colour, RwBool device = FALSE)
{
    b = {};
    b.stride = stride;
    b.cap = rwTOONBATCHVERTICES;
    if (b.cap * stride > rwD3D9RINGSLOTSIZE) {
        b.cap = (rwD3D9RINGSLOTSIZE / stride) & ~3u;
    }
    if (!device) {
        RwD3D9SetTransformWorld(RwFrameGetWorldMatrix(RwCameraGetFrame(Camera())));
        RwD3D9SetRenderState(D3DRS_LIGHTING, FALSE);
    }
    RwD3D9SetVertexAlphaEnable(FALSE);
    RwD3D9SetRenderState(D3DRS_CLIPPING, TRUE);
    RwD3D9SetTexture(nullptr, 0);
    const RwUInt32 arg = oneInk ? D3DTA_TFACTOR : D3DTA_DIFFUSE;
    if (oneInk) {
        RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, colour);
    }
    RwD3D9SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    RwD3D9SetTextureStageState(0, D3DTSS_COLORARG2, arg);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG2, arg);
    RwD3D9SetPixelShader(nullptr);
    if (device) {
        RwD3D9SetVertexDeclaration(rwToonDevice.inkDeclarations[oneInk ? 1 : 0]);
        RwD3D9SetVertexShader(rwToonDevice.inkShaders[oneInk ? 1 : 0]);
    } else {
        RwD3D9SetVertexShader(nullptr);
        RwD3D9SetFVF(oneInk ? D3DFVF_XYZ : (D3DFVF_XYZ | D3DFVF_DIFFUSE));
    }
}

void BatchEnd(QuadBatch &b, RwBool oneInk)
{
    BatchDraw(b);
    RwD3D9SetVertexShader(nullptr);
    if (oneInk) {
        RwD3D9SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
}

inline void PutVertex(RwUInt8 *&out, RwReal x, RwReal y, RwReal z, RwBool withColour, D3DCOLOR colour)
{
    RwReal *f = reinterpret_cast<RwReal *>(out);
    f[0] = x;
    f[1] = y;
    f[2] = z;
    out += 12;
    if (withColour) {
        std::memcpy(out, &colour, 4);
        out += 4;
    }
}

// Camera-space width factor of an ink at depth z: screen width scaled over the model's depth.
inline RwReal InkScale(const RwToonInk *k, RwReal z)
{
    return k->depthSlope != 0.0f ? k->depthBase + (z - k->depthOrigin) * k->depthSlope : k->depthBase;
}

// Extrudes vertex v for ink k along its camera-space normal, once per ink.
inline WorkEntry &Extruded(RwUInt32 v, const RwToonGeo *toon, const RwV3d *positions, const RwV3d *normals,
                           const RwMatrix *objectToCamera, const RwToonInk *k)
{
    WorkEntry &e = Point(v, positions, objectToCamera);
    const RwUInt32 tag = static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(k));
    if (e.tag != tag) {
        const RwV3d &n = normals[v];
        const RwReal mx = n.x * objectToCamera->right.x + n.y * objectToCamera->up.x + n.z * objectToCamera->at.x;
        const RwReal my = n.x * objectToCamera->right.y + n.y * objectToCamera->up.y + n.z * objectToCamera->at.y;
        const RwReal m2 = mx * mx + my * my;
        e.sx = e.x;
        e.sy = e.y;
        if (m2 > 0.000001f) {
            const RwReal w = k->screenWidth * InkScale(k, e.z) * toon->widthFactors[v] * e.z / std::sqrt(m2);
            e.sx += mx * w;
            e.sy += my * w;
        }
        e.tag = tag;
    }
    return e;
}

// The toon data keeps (and streams) these normals, and its reader takes finite reals only. The
// cross product of positions near the ends of the finite range overflows single precision: such a
// triangle's normal is worked out again in double precision and kept at unit length, or left
// without a direction when even that has none.
void RecomputeTriangleNormals(RwToonGeo *toon, const RwV3d *positions)
{
    for (RwInt32 i = 0; i < toon->numTriangles; ++i) {
        const RwUInt16 *v = toon->triangles[i].vertex;
        const RwV3d &a = positions[v[0]];
        const RwV3d &b = positions[v[1]];
        const RwV3d &c = positions[v[2]];
        const RwV3d u = {b.x - a.x, b.y - a.y, b.z - a.z};
        const RwV3d w = {c.x - a.x, c.y - a.y, c.z - a.z};
        RwV3d &n = toon->triangleNormals[i];
        n = {u.y * w.z - u.z * w.y, u.z * w.x - u.x * w.z, u.x * w.y - u.y * w.x};
        if (RwRealsFinite(&n.x, 3)) {
            continue;
        }
        const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
        const double wx = double(c.x) - a.x, wy = double(c.y) - a.y, wz = double(c.z) - a.z;
        const double d[3] = {uy * wz - uz * wy, uz * wx - ux * wz, ux * wy - uy * wx};
        const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        n = length > 0.0 && std::isfinite(length)
                ? RwV3d{RwReal(d[0] / length), RwReal(d[1] / length), RwReal(d[2] / length)}
                : RwV3d{0.0f, 0.0f, 0.0f};
    }
}

// The ink an edge names; NULL until a dictionary bound its name.
inline const RwToonInk *InkAt(const RwToonGeo *toon, RwUInt8 index)
{
    return index < toon->numInks ? toon->inks[index] : nullptr;
}

inline RwUInt32 IsSilhouette(const RwUInt8 *f, const RwToonEdge &e)
{
    return (f[e.triangle[0]] ^ f[e.triangle[1]]) == 1;
}

inline RwUInt32 Seen(const RwUInt8 *f, const RwToonEdge &e)
{
    return (f[e.triangle[0]] | f[e.triangle[1]]) & 1;
}

// Of the first `count` edges, those that pass `test` go to the edge list; how many, or -1 without memory.
// Branch-free: every index is stored and only the passing ones advance the list.
template <RwUInt32 (*test)(const RwUInt8 *, const RwToonEdge &)>
RwInt32 GatherEdges(const RwToonEdge *edges, RwUInt32 count)
{
    if (!EdgeListReserve(count)) {
        return -1;
    }
    const RwUInt8 *f = facing;
    RwUInt32 *list = edgeList;
    RwUInt32 n = 0;
    for (RwUInt32 i = 0; i < count; ++i) {
        list[n] = i;
        n += test(f, edges[i]);
    }
    return static_cast<RwInt32>(n);
}

// Facing of every triangle from the eye point in object space, through locals: stores through the byte
// buffer may alias anything, which would reload every field per triangle.
void ComputeFacing(const RwToonGeo *toon, const RwV3d *positions, const RwV3d &eye)
{
    const RwToonTriangle *triangles = toon->triangles;
    const RwV3d *normals = toon->triangleNormals;
    RwUInt8 *f = facing;
    const RwReal ex = eye.x;
    const RwReal ey = eye.y;
    const RwReal ez = eye.z;
    const RwInt32 count = toon->numTriangles;
    for (RwInt32 i = 0; i < count; ++i) {
        const RwV3d &p = positions[triangles[i].vertex[0]];
        const RwV3d &n = normals[i];
        f[i] = (ex - p.x) * n.x + (ey - p.y) * n.y + (ez - p.z) * n.z > 0.0f;
    }
}

} // namespace

RwBool RwToonInkResourcesCreate(void)
{
    if (!RwD3D9CreateIndexBuffer(rwTOONQUADS * 6, &rwToonDevice.quadIndexBuffer)) {
        return FALSE;
    }
    IDirect3DIndexBuffer9 *ib = static_cast<IDirect3DIndexBuffer9 *>(rwToonDevice.quadIndexBuffer);
    RwUInt16 *indices = nullptr;
    if (FAILED(ib->Lock(0, 0, reinterpret_cast<void **>(&indices), 0))) {
        return FALSE;
    }
    for (RwUInt16 q = 0; q < rwTOONQUADS; ++q) {
        const RwUInt16 v = static_cast<RwUInt16>(q * 4);
        const RwUInt16 quad[6] = {v, static_cast<RwUInt16>(v + 1), static_cast<RwUInt16>(v + 2),
                                  static_cast<RwUInt16>(v + 2), static_cast<RwUInt16>(v + 1),
                                  static_cast<RwUInt16>(v + 3)};
        std::memcpy(indices + q * 6, quad, sizeof quad);
    }
    ib->Unlock();
    const D3DCAPS9 *caps = RwD3D9GetCaps();
    if (caps && caps->VertexShaderVersion >= D3DVS_VERSION(1, 1) && caps->PixelShaderVersion >= D3DPS_VERSION(1, 1)) {
        rwToonDevice.shaderInk =
            RwD3D9CreateVertexDeclaration(edgeElements, &rwToonDevice.inkDeclarations[0]) &&
            RwD3D9CreateVertexDeclaration(oneInkElements, &rwToonDevice.inkDeclarations[1]) &&
            RwD3D9CreateVertexShader(rwToonInkShaderTokens[0], &rwToonDevice.inkShaders[0]) &&
            RwD3D9CreateVertexShader(rwToonInkShaderTokens[1], &rwToonDevice.inkShaders[1]);
    }
    return TRUE;
}

void RwToonInkResourcesDestroy(void)
{
    for (RwInt32 i = 0; i < 2; ++i) {
        if (rwToonDevice.inkShaders[i]) {
            RwD3D9DeleteShader(rwToonDevice.inkShaders[i]);
        }
        if (rwToonDevice.inkDeclarations[i]) {
            RwD3D9DeleteVertexDeclaration(rwToonDevice.inkDeclarations[i]);
        }
        rwToonDevice.inkShaders[i] = nullptr;
        rwToonDevice.inkDeclarations[i] = nullptr;
    }
    rwToonDevice.shaderInk = FALSE;
    if (rwToonDevice.quadIndexBuffer) {
        static_cast<IDirect3DIndexBuffer9 *>(rwToonDevice.quadIndexBuffer)->Release();
        rwToonDevice.quadIndexBuffer = nullptr;
    }
    FreeScratch();
}

void RwToonGeoUpdateInks(RwToonGeo *toon, RwAtomic *atomic)
{
    RwCamera *camera = Camera();
    if (!toon || !atomic || !camera || !camera->frameBuffer || camera->frameBuffer->width <= 0) {
        return;
    }
    if (atomic->interpolator.flags & rwINTERPOLATORDIRTYSPHERE) {
        RwAtomicUpdateBoundingSphere(atomic);
    }
    RwMatrix toCamera;
    RwMatrix inverse;
    RwMatrixInvert(&inverse, RwFrameGetWorldMatrix(RwCameraGetFrame(camera)));
    RwMatrixMultiply(&toCamera, RwFrameGetWorldMatrix(RwAtomicGetFrame(atomic)), &inverse);
    RwV3d centre;
    TransformPoint(&centre, atomic->boundingSphere.center, &toCamera);
    const RwReal r = atomic->boundingSphere.radius;
    const RwReal clipRange = camera->farPlane - camera->nearPlane;
    const RwReal t = clipRange != 0.0f ? (centre.z - camera->nearPlane) / clipRange : 0.0f;
    const RwReal s = 1.0f / static_cast<RwReal>(camera->frameBuffer->width);
    for (RwInt32 i = 0; i < toon->numInks; ++i) {
        RwToonInk *k = toon->inks[i];
        if (!k) {
            continue;
        }
        k->depthBase = k->nearFactor;
        // A sphere of radius 0 has no depth range: the near factor holds throughout.
        k->depthSlope = r > 0.0f ? (1.0f - k->nearFactor) / (2.0f * r) : 0.0f;
        k->depthOrigin = centre.z - r;
        k->screenWidth = ((k->farFactor - 1.0f) * t + 1.0f) * k->width * s;
        k->halfScreenWidth = k->screenWidth * 0.5f;
    }
}

void RwToonRenderSilhouettes(RwToonGeo *toon, const RwV3d *positions, const RwV3d *normals, RwBool normalsStale,
                             const RwMatrix *objectToCamera, const RwMatrix *objectWorld)
{
    if (!toon || toon->numEdges == 0 || !positions || !normals || !Camera() || !Scratch()) {
        return;
    }
    RwUInt32 savedCull = 0;
    RwD3D9RenderStateGetHandler(rwRENDERSTATECULLMODE, &savedCull);
    RwD3D9SetCullMode(D3DCULL_NONE);
    if (normalsStale) {
        RecomputeTriangleNormals(toon, positions);
    }
    RwMatrix inverse;
    RwMatrixInvert(&inverse, objectWorld);
    RwV3d eye;
    TransformPoint(&eye, RwFrameGetWorldMatrix(RwCameraGetFrame(Camera()))->pos, &inverse);
    // Nothing computed for one atomic is reused for the next.
    ResetWork();
    ComputeFacing(toon, positions, eye);
    const RwBool perEdge = toon->numInks > 2;
    const RwToonInk *one = perEdge ? nullptr : InkAt(toon, toon->edgeInks[0].silhouette);
    const RwBool drawn = perEdge || (one && one->screenWidth != 0.0f);
    // Gathered first so that the vertex room locked is the room used.
    const RwInt32 silhouettes =
        drawn ? GatherEdges<IsSilhouette>(toon->edges, static_cast<RwUInt32>(toon->numEdges)) : -1;
    if (silhouettes < 0) {
        RwD3D9SetCullMode(savedCull);
        return;
    }
    const RwBool device = rwToonDevice.shaderInk;
    const RwUInt32 stride = device ? (perEdge ? sizeof(EdgeVertex) : sizeof(OneInkVertex))
                                   : (perEdge ? sizeof(PointColour) : sizeof(RwV3d));
    QuadBatch batch;
    BatchBegin(batch, stride, !perEdge, one ? Argb(one->colour) : 0, device);
    RwReal a = 0.0f;
    RwReal b = 0.0f;
    if (device) {
        InkShaderConstants(objectToCamera);
        if (one) {
            InkCoefficients(one, &a, &b);
            const float c7[4] = {a, b, 0.0f, 1.0f};
            RwD3D9SetVertexShaderConstant(7, c7, 1);
        }
    }
    RwUInt32 left = static_cast<RwUInt32>(silhouettes);
    for (RwUInt32 j = 0; j < static_cast<RwUInt32>(silhouettes) && left > 0; ++j) {
        const RwUInt32 i = edgeList[j];
        const RwToonEdge &edge = toon->edges[i];
        const RwToonInk *k = perEdge ? InkAt(toon, toon->edgeInks[i].silhouette) : one;
        if (!k) {
            continue;
        }
        RwUInt8 *out = BatchQuad(batch, left--);
        if (!out) {
            break;
        }
        const D3DCOLOR colour = Argb(k->colour);
        if (device) {
            const RwUInt16 va = edge.vertex[0];
            const RwUInt16 vb = edge.vertex[1];
            const RwReal fa = toon->widthFactors[va];
            const RwReal fb = toon->widthFactors[vb];
            if (perEdge) {
                InkCoefficients(k, &a, &b);
                const EdgeVertex quad[4] = {{positions[va], normals[va], colour, 0.0f, 0.0f},
                                            {positions[vb], normals[vb], colour, 0.0f, 0.0f},
                                            {positions[va], normals[va], colour, a * fa, b * fa},
                                            {positions[vb], normals[vb], colour, a * fb, b * fb}};
                std::memcpy(out, quad, sizeof quad);
            } else {
                const OneInkVertex quad[4] = {{positions[va], normals[va], 0.0f},
                                              {positions[vb], normals[vb], 0.0f},
                                              {positions[va], normals[va], fa},
                                              {positions[vb], normals[vb], fb}};
                std::memcpy(out, quad, sizeof quad);
            }
            continue;
        }
        const WorkEntry &pa = Extruded(edge.vertex[0], toon, positions, normals, objectToCamera, k);
        const WorkEntry &pb = Extruded(edge.vertex[1], toon, positions, normals, objectToCamera, k);
        PutVertex(out, pa.x, pa.y, pa.z, perEdge, colour);
        PutVertex(out, pb.x, pb.y, pb.z, perEdge, colour);
        PutVertex(out, pa.sx, pa.sy, pa.z, perEdge, colour);
        PutVertex(out, pb.sx, pb.sy, pb.z, perEdge, colour);
    }
    BatchEnd(batch, !perEdge);
    RwD3D9SetCullMode(savedCull);
}

namespace {

struct Screen {
    RwReal x, y;
};

inline Screen Sub(Screen a, Screen b) { return {a.x - b.x, a.y - b.y}; }
inline RwReal Dot(Screen a, Screen b) { return a.x * b.x + a.y * b.y; }
inline RwReal Cross(Screen a, Screen b) { return a.x * b.y - a.y * b.x; }
inline Screen Scale(Screen a, RwReal s) { return {a.x * s, a.y * s}; }
inline Screen Unit(Screen a)
{
    const RwReal l = std::sqrt(Dot(a, a));
    return l > 0.0f ? Scale(a, 1.0f / l) : Screen{0.0f, 0.0f};
}

// The crease edge met first from edge i around vertex `shared` on side `side`, or -1.
// The walk is bounded: a cycle of non-crease edges must not hold the frame.
RwInt32 CreaseNeighbour(const RwToonGeo *toon, RwUInt32 i, RwUInt32 side, RwUInt32 end)
{
    const RwUInt16 shared = toon->edges[i].vertex[end];
    RwUInt16 next = toon->edges[i].link[side * 2 + end];
    for (RwInt32 steps = 0; steps < toon->numEdges; ++steps) {
        if (next == rwTOONNOINDEX || next == i) {
            return -1;
        }
        if (next < toon->numCreaseEdges) {
            return next;
        }
        const RwToonEdge &e = toon->edges[next];
        next = e.link[side * 2 + (e.vertex[0] == shared ? 0 : 1)];
    }
    return -1;
}

// Screen offset of one corner of a crease quad, already scaled by w.
Screen Corner(const RwToonGeo *toon, RwUInt32 i, RwUInt32 side, RwUInt32 end, RwReal w, Screen normal, Screen s,
              Screen other, const RwV3d *positions, const RwMatrix *objectToCamera)
{
    const Screen own = Scale(normal, side == 0 ? -w : w);
    const RwInt32 j = CreaseNeighbour(toon, i, side, end);
    if (j < 0) {
        return own;
    }
    const RwToonEdge &n = toon->edges[j];
    const RwUInt16 shared = toon->edges[i].vertex[end];
    const WorkEntry &f = Projected(n.vertex[0] == shared ? n.vertex[1] : n.vertex[0], positions, objectToCamera);
    const Screen farEnd = {f.sx, f.sy};
    const Screen u1 = Unit(Sub(other, s));
    const Screen toFar = Sub(farEnd, s);
    if (Dot(toFar, toFar) < 0.000001f) {
        return own;
    }
    const Screen u2 = Unit(toFar);
    const RwReal c = Dot(u1, u2);
    if (c >= 0.999f) {
        return {0.0f, 0.0f};
    }
    const Screen out = Unit(own);
    if (c < -0.8f) {
        // Nearly straight on: average the two lines' perpendiculars on this side.
        Screen perp2 = {-u2.y, u2.x};
        if (Dot(perp2, out) < 0.0f) {
            perp2 = Scale(perp2, -1.0f);
        }
        return Scale(Unit({out.x + perp2.x, out.y + perp2.y}), w);
    }
    const RwReal fade = c > 0.95f ? (1.0f - c) * 20.0f : 1.0f;
    const Screen bisector = Unit({-(u1.x + u2.x), -(u1.y + u2.y)});
    if (Dot(bisector, out) > 0.0f) {
        // The outer side of the joint: along the bisector, long enough to keep the line width.
        const RwReal cosine = std::fabs(Dot(bisector, out));
        const RwReal length = cosine > 0.1f ? w / cosine : w * 10.0f;
        return Scale(bisector, length * fade);
    }
    // The inner side: slide along the neighbour, never past its far end.
    const RwReal sine = std::fabs(Cross(u1, u2));
    RwReal length = sine > 0.0f ? w / sine : 0.0f;
    const RwReal reach = std::sqrt(Dot(toFar, toFar));
    if (length > reach) {
        length = reach;
    }
    return Scale(u2, length * fade);
}

// The depth a crease end is drawn at: pulled along its view ray just far enough for the line (half width w on
// the screen) to stay in front of the faces it lies on, and never more than the ink scale. A whole unit would
// lift the lines of a small model over nearer surfaces: hidden edges and models behind others would show.
inline RwReal Pulled(RwReal z, RwReal w, RwReal scale)
{
    const RwReal pull = 2.0f * std::fabs(w) * z;
    return z - (pull < scale ? pull : scale);
}

} // namespace

void RwToonRenderCreases(RwToonGeo *toon, const RwV3d *positions, const RwMatrix *objectToCamera)
{
    if (!toon || toon->numCreaseEdges == 0 || !positions || !Camera() || !Scratch()) {
        return;
    }
    // Quads face either way depending on the side they lie on.
    RwUInt32 savedCull = 0;
    RwD3D9RenderStateGetHandler(rwRENDERSTATECULLMODE, &savedCull);
    RwD3D9SetCullMode(D3DCULL_NONE);
    const RwReal scale = RwToonGetInkScale();
    QuadBatch batch;
    BatchBegin(batch, sizeof(PointColour), FALSE, 0);
    const RwInt32 seen = GatherEdges<Seen>(toon->edges, static_cast<RwUInt32>(toon->numCreaseEdges));
    const RwUInt32 count = seen > 0 ? static_cast<RwUInt32>(seen) : 0;
    RwUInt32 left = 2 * count;
    for (RwUInt32 j = 0; j < count && left > 0; ++j) {
        const RwUInt32 i = edgeList[j];
        const RwToonEdge &edge = toon->edges[i];
        const RwToonInk *k = InkAt(toon, toon->edgeInks[i].crease);
        if (!k) {
            continue;
        }
        const WorkEntry &a = Projected(edge.vertex[0], positions, objectToCamera);
        const WorkEntry &b = Projected(edge.vertex[1], positions, objectToCamera);
        if (!(a.z > scale && b.z > scale)) {
            continue;
        }
        const Screen sa = {a.sx, a.sy};
        const Screen sb = {b.sx, b.sy};
        const Screen d = Sub(sb, sa);
        const RwReal d2 = Dot(d, d);
        if (d2 <= 0.000001f) {
            continue;
        }
        const RwReal len = std::sqrt(d2);
        const Screen normal = {-d.y / len, d.x / len};
        const RwReal wa = InkScale(k, a.z) * toon->widthFactors[edge.vertex[0]] * k->halfScreenWidth;
        const RwReal wb = InkScale(k, b.z) * toon->widthFactors[edge.vertex[1]] * k->halfScreenWidth;
        const RwReal za = Pulled(a.z, wa, scale);
        const RwReal zb = Pulled(b.z, wb, scale);
        const D3DCOLOR colour = Argb(k->colour);
        for (RwUInt32 side = 0; side < 2; ++side) {
            const Screen oa = Corner(toon, i, side, 0, wa, normal, sa, sb, positions, objectToCamera);
            const Screen ob = Corner(toon, i, side, 1, wb, normal, sb, sa, positions, objectToCamera);
            RwUInt8 *out = BatchQuad(batch, left--);
            if (!out) {
                break;
            }
            PutVertex(out, sa.x * za, sa.y * za, za, TRUE, colour);
            PutVertex(out, sb.x * zb, sb.y * zb, zb, TRUE, colour);
            PutVertex(out, (sa.x + oa.x) * za, (sa.y + oa.y) * za, za, TRUE, colour);
            PutVertex(out, (sb.x + ob.x) * zb, (sb.y + ob.y) * zb, zb, TRUE, colour);
        }
    }
    BatchEnd(batch, FALSE);
    RwD3D9SetCullMode(savedCull);
}
