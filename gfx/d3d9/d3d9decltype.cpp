// Vertex-declaration types: writers that pack source arrays into vertex streams, readers, and the tangent generator.
#include "d3d9decltype.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "d3d9device.h"
#include "gfx/core/memory.h"
#include "gfx/core/vector.h"
#include "gfx/world/mesh.h"

enum : RwUInt32 { rwD3D9TANGENTHINT = 0x1050D };

RwUInt32 RwD3D9DeclTypeGetSize(RwUInt32 type)
{
    static const RwUInt8 sizes[] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4};
    return type < sizeof sizes ? sizes[type] : 0;
}

// Nearest integer of v x scale, clamped to [lo, hi] first so that values out
// of range (and NaN) saturate instead of wrapping.
static RwInt32 Pack(RwReal v, RwReal scale, RwReal lo, RwReal hi)
{
    RwReal x = v * scale;
    if (!(x >= lo))
        x = lo;
    if (x > hi)
        x = hi;
    return static_cast<RwInt32>(std::floor(x + 0.5f));
}

static void Store16(RwUInt8 *to, RwInt32 v)
{
    const RwUInt16 u = static_cast<RwUInt16>(v);
    std::memcpy(to, &u, 2);
}

static void Store32(RwUInt8 *to, RwUInt32 v)
{
    std::memcpy(to, &v, 4);
}

static RwUInt32 Load32(const RwUInt8 *from)
{
    RwUInt32 v;
    std::memcpy(&v, from, 4);
    return v;
}

static RwUInt32 ColourWord(RwInt32 x, RwInt32 y, RwInt32 z, RwInt32 w)
{
    return static_cast<RwUInt32>(w) << 24 | static_cast<RwUInt32>(x) << 16 | static_cast<RwUInt32>(y) << 8 |
           static_cast<RwUInt32>(z);
}

static RwUInt32 TenBitFields(RwInt32 x, RwInt32 y, RwInt32 z)
{
    return (static_cast<RwUInt32>(x) & 0x3FF) | (static_cast<RwUInt32>(y) & 0x3FF) << 10 |
           (static_cast<RwUInt32>(z) & 0x3FF) << 20;
}

// Writes one element from `have` components; a missing fourth component is
// one in the type's scale, any other missing component 0.
static void WriteElement(RwUInt32 type, RwUInt8 *to, const RwReal *src, int have)
{
    RwReal c[4];
    for (int i = 0; i < 4; i++)
        c[i] = i < have ? src[i] : (i == 3 ? 1.0f : 0.0f);
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
        std::memcpy(to, c, RwD3D9DeclTypeGetSize(type));
        break;
    case D3DDECLTYPE_D3DCOLOR:
        Store32(to, ColourWord(Pack(c[0], 255, 0, 255), Pack(c[1], 255, 0, 255), Pack(c[2], 255, 0, 255),
                               Pack(c[3], 255, 0, 255)));
        break;
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_UBYTE4N: {
        const RwReal scale = type == D3DDECLTYPE_UBYTE4 ? 1.0f : 255.0f;
        for (int i = 0; i < 4; i++)
            to[i] = static_cast<RwUInt8>(Pack(c[i], scale, 0, 255));
        break;
    }
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
        for (int i = 0; i < (type == D3DDECLTYPE_SHORT2 ? 2 : 4); i++)
            Store16(to + 2 * i, Pack(c[i], 1, -32768, 32767));
        break;
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N:
        for (int i = 0; i < (type == D3DDECLTYPE_SHORT2N ? 2 : 4); i++)
            Store16(to + 2 * i, Pack(c[i], 32767, -32767, 32767));
        break;
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
        for (int i = 0; i < (type == D3DDECLTYPE_USHORT2N ? 2 : 4); i++)
            Store16(to + 2 * i, Pack(c[i], 65535, 0, 65535));
        break;
    case D3DDECLTYPE_UDEC3:
        Store32(to, TenBitFields(Pack(c[0], 1, 0, 1023), Pack(c[1], 1, 0, 1023), Pack(c[2], 1, 0, 1023)));
        break;
    case D3DDECLTYPE_DEC3N:
        Store32(to, TenBitFields(Pack(c[0], 511, -511, 511), Pack(c[1], 511, -511, 511), Pack(c[2], 511, -511, 511)));
        break;
    default:
        break;
    }
}

RwUInt32 RwD3D9DeclTypeWriteV3d(RwUInt32 type, void *dest, const RwV3d *src, RwUInt32 count, RwUInt32 stride)
{
    RwUInt8 *to = static_cast<RwUInt8 *>(dest);
    if (type == D3DDECLTYPE_FLOAT3 && stride == sizeof(RwV3d)) {
        std::memcpy(to, src, count * sizeof(RwV3d));
    } else {
        for (RwUInt32 i = 0; i < count; i++, to += stride)
            WriteElement(type, to, &src[i].x, 3);
    }
    return RwD3D9DeclTypeGetSize(type);
}

RwUInt32 RwD3D9DeclTypeWritePackedNormals(RwUInt32 type, void *dest, const RwUInt8 *src, RwUInt32 count,
                                          RwUInt32 stride)
{
    RwUInt8 *to = static_cast<RwUInt8 *>(dest);
    for (RwUInt32 i = 0; i < count; i++, to += stride, src += 4) {
        const RwReal c[3] = {static_cast<RwInt8>(src[0]) / 128.0f, static_cast<RwInt8>(src[1]) / 128.0f,
                             static_cast<RwInt8>(src[2]) / 128.0f};
        WriteElement(type, to, c, 3);
    }
    return RwD3D9DeclTypeGetSize(type);
}

RwUInt32 RwD3D9DeclTypeWriteInterpolatedV3d(RwUInt32 type, void *dest, const RwV3d *start, const RwV3d *end,
                                            RwReal t, RwUInt32 count, RwUInt32 stride)
{
    const bool floats = type <= D3DDECLTYPE_FLOAT4;
    RwUInt8 *to = static_cast<RwUInt8 *>(dest);
    for (RwUInt32 i = 0; i < count; i++, to += stride) {
        const RwReal *s = &start[i].x;
        const RwReal *e = &end[i].x;
        RwReal c[3];
        for (int k = 0; k < 3; k++)
            c[k] = floats ? s[k] + (e[k] - s[k]) * t : s[k] * (1.0f - t) + e[k] * t;
        WriteElement(type, to, c, 3);
    }
    return RwD3D9DeclTypeGetSize(type);
}

RwUInt32 RwD3D9DeclTypeWriteTexCoords(RwUInt32 type, void *dest, const RwReal *texCoords, RwUInt32 count,
                                      RwUInt32 stride)
{
    RwUInt8 *to = static_cast<RwUInt8 *>(dest);
    for (RwUInt32 i = 0; i < count; i++, to += stride)
        WriteElement(type, to, texCoords + 2 * i, 2);
    return RwD3D9DeclTypeGetSize(type);
}

// Weights in full-scale units whose sum is exactly `full`: the first takes
// what the others leave, never less than 0.
static void SplitWeights(const RwReal *w, RwReal full, int n, RwInt32 *s)
{
    RwInt32 rest = static_cast<RwInt32>(full);
    for (int i = 1; i < n; i++) {
        s[i] = Pack(w[i], full, 0, full);
        rest -= s[i];
    }
    s[0] = rest > 0 ? rest : 0;
}

RwUInt32 RwD3D9DeclTypeWriteV4d(RwUInt32 type, void *dest, const RwReal *weights, RwUInt32 count, RwUInt32 stride)
{
    RwUInt8 *to = static_cast<RwUInt8 *>(dest);
    for (RwUInt32 i = 0; i < count; i++, to += stride) {
        const RwReal *w = weights + 4 * i;
        RwInt32 s[4] = {0, 0, 0, 0};
        switch (type) {
        case D3DDECLTYPE_D3DCOLOR:
        case D3DDECLTYPE_UBYTE4N:
            if (w[0] >= 1.0f)
                s[0] = 255;
            else
                SplitWeights(w, 255, 4, s);
            if (type == D3DDECLTYPE_D3DCOLOR)
                Store32(to, ColourWord(s[0], s[1], s[2], s[3]));
            else
                for (int k = 0; k < 4; k++)
                    to[k] = static_cast<RwUInt8>(s[k]);
            break;
        case D3DDECLTYPE_SHORT2N:
        case D3DDECLTYPE_USHORT2N: {
            const RwReal full = type == D3DDECLTYPE_SHORT2N ? 32767.0f : 65535.0f;
            s[0] = Pack(w[0], full, 0, full);
            Store16(to, s[0]);
            Store16(to + 2, static_cast<RwInt32>(full) - s[0]);
            break;
        }
        case D3DDECLTYPE_SHORT4N:
        case D3DDECLTYPE_USHORT4N:
            SplitWeights(w, type == D3DDECLTYPE_SHORT4N ? 32767.0f : 65535.0f, 4, s);
            for (int k = 0; k < 4; k++)
                Store16(to + 2 * k, s[k]);
            break;
        case D3DDECLTYPE_DEC3N:
            if (w[2] < 1.0f / 511.0f) {
                s[0] = Pack(w[0], 511, 0, 511);
                s[1] = 511 - s[0];
            } else {
                SplitWeights(w, 511, 3, s);
            }
            Store32(to, TenBitFields(s[0], s[1], s[2]));
            break;
        case D3DDECLTYPE_UDEC3:
            break;
        default:
            WriteElement(type, to, w, 4);
            break;
        }
    }
    return RwD3D9DeclTypeGetSize(type);
}

RwBool RwD3D9DeclTypeWriteColors(void *dest, const RwRGBA *colours, RwUInt32 count, RwUInt32 stride)
{
    RwUInt8 *to = static_cast<RwUInt8 *>(dest);
    RwBool alpha = FALSE;
    for (RwUInt32 i = 0; i < count; i++, to += stride) {
        const RwRGBA &c = colours[i];
        Store32(to, ColourWord(c.red, c.green, c.blue, c.alpha));
        alpha |= c.alpha != 255;
    }
    return alpha;
}

RwUInt32 RwD3D9DeclTypeWriteBlendIndices(RwUInt32 type, void *dest, const RwUInt8 *indices, const RwUInt8 *remap,
                                         RwUInt32 count, RwUInt32 stride)
{
    if (type < D3DDECLTYPE_D3DCOLOR || type > D3DDECLTYPE_SHORT4)
        return 0;
    RwUInt8 *to = static_cast<RwUInt8 *>(dest);
    for (RwUInt32 i = 0; i < count; i++, to += stride, indices += 4) {
        RwInt32 b[4];
        for (int k = 0; k < 4; k++)
            b[k] = remap[indices[k]];
        switch (type) {
        case D3DDECLTYPE_D3DCOLOR:
            Store32(to, ColourWord(b[0], b[1], b[2], b[3]));
            break;
        case D3DDECLTYPE_UBYTE4:
            for (int k = 0; k < 4; k++)
                to[k] = static_cast<RwUInt8>(b[k]);
            break;
        default:
            for (int k = 0; k < (type == D3DDECLTYPE_SHORT2 ? 2 : 4); k++)
                Store16(to + 2 * k, b[k]);
            break;
        }
    }
    return RwD3D9DeclTypeGetSize(type);
}

// One stored element as four reals (missing components 0).
static void ReadElement(RwUInt32 type, const void *element, RwReal *c)
{
    const RwUInt8 *from = static_cast<const RwUInt8 *>(element);
    c[0] = c[1] = c[2] = c[3] = 0.0f;
    auto s16 = [from](int i) {
        RwInt16 v;
        std::memcpy(&v, from + 2 * i, 2);
        return static_cast<RwReal>(v);
    };
    auto u16 = [from](int i) {
        RwUInt16 v;
        std::memcpy(&v, from + 2 * i, 2);
        return static_cast<RwReal>(v);
    };
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
        std::memcpy(c, from, RwD3D9DeclTypeGetSize(type));
        break;
    case D3DDECLTYPE_D3DCOLOR:
        c[0] = from[2] / 255.0f;
        c[1] = from[1] / 255.0f;
        c[2] = from[0] / 255.0f;
        c[3] = from[3] / 255.0f;
        break;
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_UBYTE4N:
        for (int i = 0; i < 4; i++)
            c[i] = type == D3DDECLTYPE_UBYTE4 ? from[i] : from[i] / 255.0f;
        break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N: {
        const int n = (type == D3DDECLTYPE_SHORT2 || type == D3DDECLTYPE_SHORT2N) ? 2 : 4;
        const RwReal scale = type >= D3DDECLTYPE_SHORT2N ? 1.0f / 32767.0f : 1.0f;
        for (int i = 0; i < n; i++)
            c[i] = s16(i) * scale;
        break;
    }
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
        for (int i = 0; i < (type == D3DDECLTYPE_USHORT2N ? 2 : 4); i++)
            c[i] = u16(i) / 65535.0f;
        break;
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N: {
        const RwUInt32 v = Load32(from);
        for (int i = 0; i < 3; i++) {
            RwInt32 f = static_cast<RwInt32>((v >> (10 * i)) & 0x3FF);
            if (type == D3DDECLTYPE_DEC3N)
                f = (f >= 512 ? f - 1024 : f);
            c[i] = type == D3DDECLTYPE_DEC3N ? f / 511.0f : static_cast<RwReal>(f);
        }
        break;
    }
    default:
        break;
    }
}

void RwD3D9DeclTypeReadV3d(RwUInt32 type, const void *element, RwV3d *out)
{
    RwReal c[4];
    ReadElement(type, element, c);
    *out = {c[0], c[1], c[2]};
}

void RwD3D9DeclTypeReadTexCoords(RwUInt32 type, const void *element, RwReal *uv)
{
    RwReal c[4];
    ReadElement(type, element, c);
    uv[0] = c[0];
    uv[1] = c[1];
}

RwUInt32 RwD3D9DeclTypeFindForTexCoords(const RwReal *texCoords, RwUInt32 count)
{
    if (count == 0)
        return D3DDECLTYPE_FLOAT2;
    RwReal minU = texCoords[0], maxU = texCoords[0], minV = texCoords[1], maxV = texCoords[1];
    for (RwUInt32 i = 1; i < count; i++) {
        const RwReal u = texCoords[2 * i], v = texCoords[2 * i + 1];
        minU = u < minU ? u : minU;
        maxU = u > maxU ? u : maxU;
        minV = v < minV ? v : minV;
        maxV = v > maxV ? v : maxV;
    }
    const DWORD caps = rwD3D9Driver.caps.DeclTypes;
    if (maxU > 1.0f || maxV > 1.0f)
        return D3DDECLTYPE_FLOAT2;
    if (minU >= 0.0f && minV >= 0.0f) {
        if (caps & D3DDTCAPS_USHORT2N)
            return D3DDECLTYPE_USHORT2N;
        return (caps & D3DDTCAPS_DEC3N) ? D3DDECLTYPE_DEC3N : D3DDECLTYPE_D3DCOLOR;
    }
    if (minU >= -1.0f && minV >= -1.0f) {
        if (caps & D3DDTCAPS_SHORT2N)
            return D3DDECLTYPE_SHORT2N;
        return (caps & D3DDTCAPS_DEC3N) ? D3DDECLTYPE_DEC3N : D3DDECLTYPE_FLOAT2;
    }
    return D3DDECLTYPE_FLOAT2;
}

int RwD3D9VertexElementCompare(const void *a, const void *b)
{
    const D3DVERTEXELEMENT9 *x = static_cast<const D3DVERTEXELEMENT9 *>(a);
    const D3DVERTEXELEMENT9 *y = static_cast<const D3DVERTEXELEMENT9 *>(b);
    if (x->Stream != y->Stream)
        return x->Stream < y->Stream ? -1 : 1;
    if (x->Offset != y->Offset)
        return x->Offset < y->Offset ? -1 : 1;
    return 0;
}

// ---------------------------------------------------------------------------
// Tangents

static RwV3d Sub(const RwV3d &a, const RwV3d &b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

static RwReal Dot(const RwV3d &a, const RwV3d &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

static RwV3d NormalOf(const RwV3d *normals, const RwUInt8 *packed, RwUInt32 i)
{
    if (normals)
        return normals[i];
    if (packed)
        return {static_cast<RwInt8>(packed[4 * i]) / 128.0f, static_cast<RwInt8>(packed[4 * i + 1]) / 128.0f,
                static_cast<RwInt8>(packed[4 * i + 2]) / 128.0f};
    return {0, 0, 0};
}

static void AddTriangle(RwV3d *acc, const RwV3d *p, const RwReal *uv, RwUInt32 a, RwUInt32 b, RwUInt32 c)
{
    const RwV3d e1 = Sub(p[b], p[a]);
    const RwV3d e2 = Sub(p[c], p[a]);
    const RwReal du1 = uv[2 * b] - uv[2 * a], dv1 = uv[2 * b + 1] - uv[2 * a + 1];
    const RwReal du2 = uv[2 * c] - uv[2 * a], dv2 = uv[2 * c + 1] - uv[2 * a + 1];
    const RwReal d = dv2 * du1 - du2 * dv1;
    if (!(std::fabs(d) > 1e-12f))
        return;
    const RwV3d t = {(e1.x * dv2 - e2.x * dv1) / d, (e1.y * dv2 - e2.y * dv1) / d, (e1.z * dv2 - e2.z * dv1) / d};
    for (RwUInt32 v : {a, b, c}) {
        acc[v].x += t.x;
        acc[v].y += t.y;
        acc[v].z += t.z;
    }
}

// Adds every triangle of the meshes; FALSE when an index names no vertex.
static RwBool AccumulateTangents(RwV3d *acc, const RwV3d *p, const RwReal *uv, RwUInt32 numVertices,
                                 D3DPRIMITIVETYPE primType, const RwD3D9TangentMesh *meshes, RwUInt32 numMeshes)
{
    for (RwUInt32 m = 0; m < numMeshes; m++) {
        const RwD3D9TangentMesh &mesh = meshes[m];
        for (RwUInt32 i = 0; i < mesh.numIndices; i++) {
            if (mesh.indices[i] + mesh.minVertex >= numVertices)
                return FALSE;
        }
        auto at = [&mesh](RwUInt32 i) { return mesh.indices[i] + mesh.minVertex; };
        if (primType == D3DPT_TRIANGLESTRIP) {
            for (RwUInt32 i = 0; i + 2 < mesh.numIndices; i++) {
                RwUInt32 a = at(i), b = at(i + 1), c = at(i + 2);
                if (a == b || b == c || a == c)
                    continue;
                if (i & 1)
                    std::swap(a, c);
                AddTriangle(acc, p, uv, a, b, c);
            }
        } else {
            for (RwUInt32 i = 0; i + 2 < mesh.numIndices; i += 3)
                AddTriangle(acc, p, uv, at(i), at(i + 1), at(i + 2));
        }
    }
    return TRUE;
}

RwUInt32 RwD3D9DeclTypeWriteTangents(RwUInt32 type, void *dest, const RwV3d *positions, const RwV3d *normals,
                                     const RwUInt8 *packedNormals, const RwReal *texCoords, RwUInt32 numVertices,
                                     D3DPRIMITIVETYPE primType, const RwD3D9TangentMesh *meshes, RwUInt32 numMeshes,
                                     RwUInt32 stride)
{
    if (numVertices == 0)
        return RwD3D9DeclTypeGetSize(type);
    RwV3d *acc = static_cast<RwV3d *>(RwMalloc(numVertices * sizeof(RwV3d), rwD3D9TANGENTHINT));
    RwUInt32 *remap = static_cast<RwUInt32 *>(RwMalloc(numVertices * sizeof(RwUInt32), rwD3D9TANGENTHINT));
    if (acc)
        std::memset(acc, 0, numVertices * sizeof(RwV3d));
    if (!acc || !remap || !AccumulateTangents(acc, positions, texCoords, numVertices, primType, meshes, numMeshes)) {
        if (acc)
            RwFree(acc);
        if (remap)
            RwFree(remap);
        return 0;
    }
    // Vertices split only by their texture coordinates share one tangent,
    // unless a mirrored mapping turns the tangents apart.
    for (RwUInt32 i = 0; i < numVertices; i++)
        remap[i] = i;
    for (RwUInt32 i = 0; i < numVertices; i++) {
        if (remap[i] != i)
            continue;
        const RwV3d ni = NormalOf(normals, packedNormals, i);
        for (RwUInt32 j = i + 1; j < numVertices; j++) {
            if (remap[j] != j)
                continue;
            const RwV3d d = Sub(positions[i], positions[j]);
            if (std::fabs(d.x) >= 1e-6f || std::fabs(d.y) >= 1e-6f || std::fabs(d.z) >= 1e-6f)
                continue;
            if (Dot(ni, NormalOf(normals, packedNormals, j)) < 0.9999f)
                continue;
            const RwReal li = Dot(acc[i], acc[i]), lj = Dot(acc[j], acc[j]);
            if (li <= 0.0f || lj <= 0.0f || Dot(acc[i], acc[j]) * RwInvSqrt(li) * RwInvSqrt(lj) <= 0.7f)
                continue;
            remap[j] = i;
            acc[i].x += acc[j].x;
            acc[i].y += acc[j].y;
            acc[i].z += acc[j].z;
        }
    }
    for (RwUInt32 i = 0; i < numVertices; i++) {
        if (remap[i] != i)
            continue;
        const RwReal l = Dot(acc[i], acc[i]);
        if (l > 0.0f) {
            const RwReal s = RwInvSqrt(l);
            acc[i] = {acc[i].x * s, acc[i].y * s, acc[i].z * s};
        }
    }
    for (RwUInt32 i = 0; i < numVertices; i++)
        acc[i] = acc[remap[i]];
    RwD3D9DeclTypeWriteV3d(type, dest, acc, numVertices, stride);
    RwFree(acc);
    RwFree(remap);
    return RwD3D9DeclTypeGetSize(type);
}

RwUInt32 RwD3D9DeclTypeWriteMeshTangents(RwUInt32 type, void *dest, const RwV3d *positions, const RwV3d *normals,
                                         const RwUInt8 *packedNormals, const RwReal *texCoords, RwUInt32 numVertices,
                                         const RwMeshHeader *meshHeader, RwUInt32 stride)
{
    RwMeshHeader *header = const_cast<RwMeshHeader *>(meshHeader);
    const RwUInt32 n = header->numMeshes;
    RwD3D9TangentMesh *meshes =
        static_cast<RwD3D9TangentMesh *>(RwMalloc(sizeof(RwD3D9TangentMesh) * (n + 1), rwD3D9TANGENTHINT));
    if (!meshes)
        return 0;
    const RwMesh *from = RwMeshHeaderGetMeshes(header);
    for (RwUInt32 i = 0; i < n; i++)
        meshes[i] = {from[i].indices, from[i].numIndices, 0};
    const D3DPRIMITIVETYPE primType = RwMeshTypeGetPrimitive(header->flags & 0xFF) == rwPRIMTYPETRISTRIP
                                          ? D3DPT_TRIANGLESTRIP
                                          : D3DPT_TRIANGLELIST;
    const RwUInt32 size = RwD3D9DeclTypeWriteTangents(type, dest, positions, normals, packedNormals, texCoords,
                                                      numVertices, primType, meshes, n, stride);
    RwFree(meshes);
    return size;
}
