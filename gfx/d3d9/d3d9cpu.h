// Processor probes, processor-specific transforms and floating-point control.
#pragma once

#include "gfx/core/rwtypes.h"
#include "gfx/core/matrix.h"
#include "gfx/core/vector.h"
static_assert(sizeof(RwMatrix) == 64, "matrix is sixteen words");

// CPUID-based probes; all 0 on a processor without CPUID.
RwBool RwCpuHasCPUID(void);
RwBool RwCpuHasMMX(void);
RwBool RwCpuHasSSE(void);
RwBool RwCpuHasSSE2(void);
RwBool RwCpuHas3DNow(void);

// x87 control word.
void RwFpuSetSinglePrecision(void);
void RwFpuRestoreControlWord(void);
void RwFpuForceSinglePrecision(void);
RwUInt16 RwFpuGetControlWord(void);
void RwFpuSetControlWord(RwUInt16 word);
// TRUE while a control word saved by RwFpuSetSinglePrecision is held.
RwBool RwFpuControlWordSaved(void);

void RwMatrixMultiplyX87(RwMatrix *out, const RwMatrix *a, const RwMatrix *b);
void RwV3dTransformPointX87(RwV3d *out, const RwV3d *in, const RwMatrix *matrix);
void RwV3dTransformPointsX87(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix);
void RwV3dTransformVectorX87(RwV3d *out, const RwV3d *in, const RwMatrix *matrix);
void RwV3dTransformVectorsX87(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix);
void RwV3dTransformPointSSE(RwV3d *out, const RwV3d *in, const RwMatrix *matrix);
void RwV3dTransformPointsSSE(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix);
void RwV3dTransformVectorSSE(RwV3d *out, const RwV3d *in, const RwMatrix *matrix);
void RwV3dTransformVectorsSSE(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix);
void RwV3dTransformPointSSE2(RwV3d *out, const RwV3d *in, const RwMatrix *matrix);
void RwV3dTransformPointsSSE2(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix);
void RwV3dTransformVectorSSE2(RwV3d *out, const RwV3d *in, const RwMatrix *matrix);
void RwV3dTransformVectorsSSE2(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix);

typedef void (*RwD3D9MatrixMultiplyRoutine)(RwMatrix *out, const RwMatrix *a, const RwMatrix *b);
typedef void (*RwD3D9TransformRoutine)(RwV3d *out, const RwV3d *in, const RwMatrix *matrix);
typedef void (*RwD3D9TransformArrayRoutine)(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix);

// The routines chosen for a set of processor features.
struct RwD3D9TransformSet {
    RwD3D9MatrixMultiplyRoutine multiply;
    RwD3D9TransformRoutine point;
    RwD3D9TransformArrayRoutine points;
    RwD3D9TransformRoutine vector;
    RwD3D9TransformArrayRoutine vectors;
};

// Picks the routines for the given feature flags.
RwD3D9TransformSet RwD3D9SelectTransforms(RwBool sse, RwBool sse2, RwBool has3DNow);

// Stores the four probes in the driver's CPU flags (device open).
void RwD3D9CpuProbe(void);
// Finish start: single precision, flush to zero and the routines chosen by the
// driver's CPU flags (which tests may set before calling it).
void RwD3D9FinishStart(void);
// Stop: the saved control word back and flush to zero off.
void RwD3D9FpuStop(void);
// The routines installed by the last finish start.
const RwD3D9TransformSet *RwD3D9GetInstalledTransforms(void);
