// Affine matrices with type flags, the combine modes and the matrix stream chunk.
#pragma once

#include "rwtypes.h"

struct RwStream;

// Row vectors: a point p maps to p.x * right + p.y * up + p.z * at + pos.
struct RwMatrix {
    RwV3d right;
    RwUInt32 flags;
    RwV3d up;
    RwUInt32 pad1;
    RwV3d at;
    RwUInt32 pad2;
    RwV3d pos;
    RwUInt32 pad3;
};
static_assert(sizeof(RwMatrix) == 64, "matrix is sixteen words");

enum : RwUInt32 {
    rwMATRIXTYPENORMAL = 0x1,         // rows of unit length
    rwMATRIXTYPEORTHOGONAL = 0x2,     // rows mutually perpendicular
    rwMATRIXTYPEORTHONORMAL = 0x3,
    rwMATRIXTYPEMASK = 0x3,
    rwMATRIXINTERNALIDENTITY = 0x20000,
    rwMATRIXIDENTITYFLAGS = 0x20003,
};

enum RwOpCombineType : RwInt32 {
    rwCOMBINEREPLACE = 0,      // the new transform replaces the matrix
    rwCOMBINEPRECONCAT = 1,    // the new transform applies first: new x matrix
    rwCOMBINEPOSTCONCAT = 2,   // the new transform applies last: matrix x new
};

struct RwMatrixTolerance {
    RwReal normal;
    RwReal orthogonal;
    RwReal identity;
};

// out = a x b; called only for operands that are not flagged identity. The
// flags word of out is the caller's business.
typedef void (*RwMatrixMultiplyFunction)(RwMatrix *out, const RwMatrix *a, const RwMatrix *b);

struct RwFreeList;

// Matrix module globals (24 bytes).
struct RwMatrixGlobals {
    RwFreeList *matrixFreeList;
    RwUInt32 identityMask;            // flag bits that allow the identity short cuts
    RwMatrixMultiplyFunction multiply;
    RwMatrixTolerance tolerance;
};
static_assert(sizeof(RwMatrixGlobals) == 24, "matrix module globals are 24 bytes");

enum : RwUInt32 {
    rwID_MATRIX = 0x0D,                   // matrix chunk type
    rwMATRIXSTREAMSIZE = 52,              // body of the matrix struct chunk
};

// Functions that need the module (its free list, multiply routine or
// tolerances, or the square-root tables) fail with error 0x80000001 outside
// engine start to stop.
RwMatrix *RwMatrixCreate(void);
RwBool RwMatrixDestroy(RwMatrix *matrix);
RwMatrix *RwMatrixSetIdentity(RwMatrix *matrix);
RwMatrix *RwMatrixCopy(RwMatrix *dst, const RwMatrix *src);
RwMatrix *RwMatrixMultiply(RwMatrix *out, const RwMatrix *a, const RwMatrix *b);
RwBool RwMatrixSetMultiplyFunction(RwMatrixMultiplyFunction multiply);
RwMatrix *RwMatrixTranslate(RwMatrix *matrix, const RwV3d *translation, RwOpCombineType combine);
RwMatrix *RwMatrixScale(RwMatrix *matrix, const RwV3d *scale, RwOpCombineType combine);
RwMatrix *RwMatrixRotate(RwMatrix *matrix, const RwV3d *axis, RwReal angle, RwOpCombineType combine);
RwMatrix *RwMatrixTransform(RwMatrix *matrix, const RwMatrix *transform, RwOpCombineType combine);
// A singular matrix (its determinant or the determinant's reciprocal not a
// finite normal real) inverts to its cofactors, on every thread alike.
RwMatrix *RwMatrixInvert(RwMatrix *out, const RwMatrix *in);
// FALSE when RwMatrixInvert would find the matrix singular.
RwBool RwMatrixInvertible(const RwMatrix *matrix);
RwMatrix *RwMatrixOrthoNormalize(RwMatrix *out, const RwMatrix *in);
RwMatrix *RwMatrixClassify(RwMatrix *matrix, const RwMatrixTolerance *tolerance);
RwBool RwMatrixGetTolerances(RwMatrixTolerance *out);
RwMatrix *RwMatrixMarkChanged(RwMatrix *matrix);
RwReal RwMatrixDeterminant(const RwMatrix *matrix);
RwReal RwMatrixOrthogonalError(const RwMatrix *matrix);
RwReal RwMatrixNormalError(const RwMatrix *matrix);
RwReal RwMatrixIdentityError(const RwMatrix *matrix);
// Writes the matrix chunk (header, struct header, body); a matrix flagged
// orthonormal is written orthonormalised.
const RwMatrix *RwMatrixStreamWrite(const RwMatrix *matrix, RwStream *stream);
// Reads the struct chunk of a matrix chunk into matrix, or into a new matrix
// when it is NULL.
RwMatrix *RwMatrixStreamRead(RwStream *stream, RwMatrix *matrix);

inline RwBool RwMatrixIsOrthonormal(const RwMatrix *m)
{
    return (m->flags & rwMATRIXTYPEORTHONORMAL) == rwMATRIXTYPEORTHONORMAL;
}
