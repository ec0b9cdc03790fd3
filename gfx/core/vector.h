// Vectors: table-driven square roots, lengths and the point and vector transforms.
#pragma once

#include "rwtypes.h"

struct RwMatrix;

// Transform routines; the driver installs processor-specific ones at start-up.
// Their own results are ignored: the wrappers return the output themselves.
typedef void (*RwV3dTransformPointFunction)(RwV3d *out, const RwV3d *point, const RwMatrix *matrix);
typedef void (*RwV3dTransformPointsFunction)(RwV3d *out, const RwV3d *points, RwInt32 count,
                                            const RwMatrix *matrix);
typedef void (*RwV3dTransformVectorFunction)(RwV3d *out, const RwV3d *vector, const RwMatrix *matrix);
typedef void (*RwV3dTransformVectorsFunction)(RwV3d *out, const RwV3d *vectors, RwInt32 count,
                                             const RwMatrix *matrix);

// Vector module globals (24 bytes).
struct RwVectorGlobals {
    RwUInt32 *sqrtTable;
    RwUInt32 *invSqrtTable;
    RwV3dTransformPointFunction transformPoint;
    RwV3dTransformPointsFunction transformPoints;
    RwV3dTransformVectorFunction transformVector;
    RwV3dTransformVectorsFunction transformVectors;
};
static_assert(sizeof(RwVectorGlobals) == 24, "vector module globals are 24 bytes");

enum : RwInt32 {
    rwSQRTTABLESIZE = 4096,
    E_RW_ZEROLENGTH = 25,    // normalising a vector of zero length (plug-in id 1)
};

// The tables live from engine start to stop: outside that window the roots
// are 0 and the transforms fail, with error 0x80000001.
RwReal RwSqrt(RwReal x);
RwReal RwInvSqrt(RwReal x);
RwReal RwV3dLength(const RwV3d *v);
RwReal RwV3dNormalize(RwV3d *out, const RwV3d *in);

RwV3d *RwV3dTransformPoint(RwV3d *out, const RwV3d *point, const RwMatrix *matrix);
RwV3d *RwV3dTransformPoints(RwV3d *out, const RwV3d *points, RwInt32 count, const RwMatrix *matrix);
RwV3d *RwV3dTransformVector(RwV3d *out, const RwV3d *vector, const RwMatrix *matrix);
RwV3d *RwV3dTransformVectors(RwV3d *out, const RwV3d *vectors, RwInt32 count, const RwMatrix *matrix);
// Each NULL restores the portable routine.
RwBool RwV3dSetTransformFunctions(RwV3dTransformPointFunction point, RwV3dTransformPointsFunction points,
                                  RwV3dTransformVectorFunction vector, RwV3dTransformVectorsFunction vectors);

// Plain vector arithmetic; out may alias the inputs.
inline void RwV3dAssign(RwV3d *out, const RwV3d *in) { *out = *in; }
inline void RwV3dAdd(RwV3d *out, const RwV3d *a, const RwV3d *b)
{
    out->x = a->x + b->x;
    out->y = a->y + b->y;
    out->z = a->z + b->z;
}
inline void RwV3dSub(RwV3d *out, const RwV3d *a, const RwV3d *b)
{
    out->x = a->x - b->x;
    out->y = a->y - b->y;
    out->z = a->z - b->z;
}
inline void RwV3dScale(RwV3d *out, const RwV3d *in, RwReal s)
{
    out->x = in->x * s;
    out->y = in->y * s;
    out->z = in->z * s;
}
// out += in * s
inline void RwV3dIncrementScaled(RwV3d *out, const RwV3d *in, RwReal s)
{
    out->x += in->x * s;
    out->y += in->y * s;
    out->z += in->z * s;
}
inline void RwV3dNegate(RwV3d *out, const RwV3d *in)
{
    out->x = -in->x;
    out->y = -in->y;
    out->z = -in->z;
}
inline RwReal RwV3dDotProduct(const RwV3d *a, const RwV3d *b) { return a->x * b->x + a->y * b->y + a->z * b->z; }
inline void RwV3dCrossProduct(RwV3d *out, const RwV3d *a, const RwV3d *b)
{
    const RwV3d r = {a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    *out = r;
}
