// Vector module: square-root tables, lengths, normalisation and portable transforms.
#include "vector.h"

#include <cmath>
#include <cstring>

#include "engine.h"
#include "error.h"
#include "matrix.h"
#include "memory.h"
#include "modules.h"

static RwInt32 vectorModuleOffset = -1;
static RwInt32 vectorModuleOpenCount = 0;

// The tables and routines exist from engine start to stop only; outside that
// window the call fails with the engine-state error.
static RwVectorGlobals *VectorGlobals()
{
    if (vectorModuleOpenCount <= 0) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return nullptr;
    }
    return RwEngineModuleGlobals<RwVectorGlobals>(vectorModuleOffset);
}

static RwUInt32 RealBits(RwReal r)
{
    RwUInt32 u;
    memcpy(&u, &r, sizeof u);
    return u;
}

static RwReal BitsReal(RwUInt32 u)
{
    RwReal r;
    memcpy(&r, &u, sizeof r);
    return r;
}

// Entries 0..2047 cover [2, 4), entries 2048..4095 cover [1, 2): the index is
// the low exponent bit and the top eleven mantissa bits. The stored value is
// the root's bit pattern less the exponent part that the lookup adds back.
static void BuildTables(RwUInt32 *sqrtTable, RwUInt32 *invTable)
{
    RwUInt32 bits = RealBits(1.0f);
    for (RwInt32 i = 0; i < 2048; ++i, bits += 0x1000) {
        const double x = BitsReal(bits);
        sqrtTable[2048 + i] = RealBits(static_cast<RwReal>(std::sqrt(x))) - 0x1FC00000u;
        invTable[2048 + i] = RealBits(static_cast<RwReal>(1.0 / std::sqrt(x))) - 0x20000000u;
    }
    for (RwInt32 i = 0; i < 2048; ++i, bits += 0x1000) {
        const double x = BitsReal(bits);
        sqrtTable[i] = RealBits(static_cast<RwReal>(std::sqrt(x))) - 0x20000000u;
        invTable[i] = RealBits(static_cast<RwReal>(1.0 / std::sqrt(x))) - 0x1FC00000u;
    }
}

RwReal RwSqrt(RwReal x)
{
    const RwUInt32 u = RealBits(x);
    if (u == 0) {
        return 0.0f;
    }
    const RwVectorGlobals *g = VectorGlobals();
    if (!g) {
        return 0.0f;
    }
    const RwUInt32 v = u + 2048;
    return BitsReal(g->sqrtTable[(v >> 12) & 0xFFF] + ((v >> 1) & 0x3FC00000u));
}

RwReal RwInvSqrt(RwReal x)
{
    const RwUInt32 u = RealBits(x);
    if (u == 0) {
        return 0.0f;
    }
    const RwVectorGlobals *g = VectorGlobals();
    if (!g) {
        return 0.0f;
    }
    const RwUInt32 v = u + 2048;
    return BitsReal(g->invSqrtTable[(v >> 12) & 0xFFF] + ((~v >> 1) & 0x3FC00000u));
}

RwReal RwV3dLength(const RwV3d *v)
{
    return RwSqrt(RwV3dDotProduct(v, v));
}

RwReal RwV3dNormalize(RwV3d *out, const RwV3d *in)
{
    const RwReal lengthSq = RwV3dDotProduct(in, in);
    if (!(lengthSq > 0.0f)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_ZEROLENGTH);
        out->x = out->y = out->z = 0.0f;
        return 0.0f;
    }
    RwV3dScale(out, in, RwInvSqrt(lengthSq));
    return RwSqrt(lengthSq);
}

// Portable routines. Each input vector is read completely before its result is
// written, so the arrays may be transformed in place.
static void TransformVectorPortable(RwV3d *out, const RwV3d *v, const RwMatrix *m)
{
    const RwV3d r = {v->x * m->right.x + v->y * m->up.x + v->z * m->at.x,
                     v->x * m->right.y + v->y * m->up.y + v->z * m->at.y,
                     v->x * m->right.z + v->y * m->up.z + v->z * m->at.z};
    *out = r;
}

static void TransformPointPortable(RwV3d *out, const RwV3d *p, const RwMatrix *m)
{
    TransformVectorPortable(out, p, m);
    RwV3dAdd(out, out, &m->pos);
}

template <void (*TransformOne)(RwV3d *, const RwV3d *, const RwMatrix *)>
static void TransformArrayPortable(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *m)
{
    for (RwInt32 i = 0; i < count; ++i) {
        TransformOne(&out[i], &in[i], m);
    }
}

static const RwV3dTransformPointsFunction TransformPointsPortable = TransformArrayPortable<TransformPointPortable>;
static const RwV3dTransformVectorsFunction TransformVectorsPortable = TransformArrayPortable<TransformVectorPortable>;

RwV3d *RwV3dTransformPoint(RwV3d *out, const RwV3d *point, const RwMatrix *matrix)
{
    const RwVectorGlobals *g = VectorGlobals();
    if (!g) {
        return nullptr;
    }
    g->transformPoint(out, point, matrix);
    return out;
}

RwV3d *RwV3dTransformPoints(RwV3d *out, const RwV3d *points, RwInt32 count, const RwMatrix *matrix)
{
    const RwVectorGlobals *g = VectorGlobals();
    if (!g) {
        return nullptr;
    }
    if (count > 0) {
        g->transformPoints(out, points, count, matrix);
    }
    return out;
}

RwV3d *RwV3dTransformVector(RwV3d *out, const RwV3d *vector, const RwMatrix *matrix)
{
    const RwVectorGlobals *g = VectorGlobals();
    if (!g) {
        return nullptr;
    }
    g->transformVector(out, vector, matrix);
    return out;
}

RwV3d *RwV3dTransformVectors(RwV3d *out, const RwV3d *vectors, RwInt32 count, const RwMatrix *matrix)
{
    const RwVectorGlobals *g = VectorGlobals();
    if (!g) {
        return nullptr;
    }
    if (count > 0) {
        g->transformVectors(out, vectors, count, matrix);
    }
    return out;
}

RwBool RwV3dSetTransformFunctions(RwV3dTransformPointFunction point, RwV3dTransformPointsFunction points,
                                  RwV3dTransformVectorFunction vector, RwV3dTransformVectorsFunction vectors)
{
    RwVectorGlobals *g = VectorGlobals();
    if (!g) {
        return FALSE;
    }
    g->transformPoint = point ? point : TransformPointPortable;
    g->transformPoints = points ? points : TransformPointsPortable;
    g->transformVector = vector ? vector : TransformVectorPortable;
    g->transformVectors = vectors ? vectors : TransformVectorsPortable;
    return TRUE;
}

void *RwVectorModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    vectorModuleOffset = offset;
    RwVectorGlobals *g = reinterpret_cast<RwVectorGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    const RwUInt32 hint = rwMEMHINTDUR_GLOBAL | rwID_VECTORMODULE;
    g->sqrtTable = static_cast<RwUInt32 *>(RwMalloc(rwSQRTTABLESIZE * sizeof(RwUInt32), hint));
    if (!g->sqrtTable) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    g->invSqrtTable = static_cast<RwUInt32 *>(RwMalloc(rwSQRTTABLESIZE * sizeof(RwUInt32), hint));
    if (!g->invSqrtTable) {
        RwFree(g->sqrtTable);
        g->sqrtTable = nullptr;
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    BuildTables(g->sqrtTable, g->invSqrtTable);
    g->transformPoint = TransformPointPortable;
    g->transformPoints = TransformPointsPortable;
    g->transformVector = TransformVectorPortable;
    g->transformVectors = TransformVectorsPortable;
    ++vectorModuleOpenCount;
    return instance;
}

void *RwVectorModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    RwVectorGlobals *g = reinterpret_cast<RwVectorGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    RwFree(g->invSqrtTable);
    RwFree(g->sqrtTable);
    g->invSqrtTable = nullptr;
    g->sqrtTable = nullptr;
    --vectorModuleOpenCount;
    return instance;
}
