// Processor probes, processor-specific transforms and floating-point control.
#include "d3d9cpu.h"

#include <cpuid.h>
#include <emmintrin.h>
#include <xmmintrin.h>

#include "d3d9device.h"

enum : RwUInt32 {
    rwCPUIDFLAG = 0x200000,       // EFLAGS bit 21 can be toggled when CPUID exists
    rwCPUMMX = 1u << 23,
    rwCPUSSEANY = 0x06000000,     // SSE or SSE2
    rwCPUSSE2 = 1u << 26,
    rwCPU3DNOW = 1u << 31,
    rwMXCSRFLUSHTOZERO = 0x8000,
    rwFPUPRECISIONMASK = 0x300,
    rwFPUEXCEPTIONMASKS = 0x3F,
};

RwBool RwCpuHasCPUID(void)
{
    RwUInt32 before, after;
    __asm__ volatile("pushfl\n\t"
                     "popl %%eax\n\t"
                     "movl %%eax, %0\n\t"
                     "xorl $0x200000, %%eax\n\t"
                     "pushl %%eax\n\t"
                     "popfl\n\t"
                     "pushfl\n\t"
                     "popl %%eax\n\t"
                     "movl %%eax, %1\n\t"
                     "pushl %0\n\t"
                     "popfl\n\t"
                     : "=&r"(before), "=&r"(after)
                     :
                     : "eax", "cc");
    return ((before ^ after) & rwCPUIDFLAG) != 0;
}

static RwUInt32 CpuidEdx(RwUInt32 function)
{
    unsigned int a, b, c, d;
    __cpuid(function, a, b, c, d);
    return d;
}

static RwUInt32 CpuidEax(RwUInt32 function)
{
    unsigned int a, b, c, d;
    __cpuid(function, a, b, c, d);
    return a;
}

RwBool RwCpuHasMMX(void)
{
    return RwCpuHasCPUID() && (CpuidEdx(1) & rwCPUMMX) ? TRUE : FALSE;
}

RwBool RwCpuHasSSE(void)
{
    return RwCpuHasCPUID() && (CpuidEdx(1) & rwCPUSSEANY) ? TRUE : FALSE;
}

RwBool RwCpuHasSSE2(void)
{
    return RwCpuHasCPUID() && (CpuidEdx(1) & rwCPUSSE2) ? TRUE : FALSE;
}

RwBool RwCpuHas3DNow(void)
{
    if (!RwCpuHasCPUID() || CpuidEax(0x80000000u) <= 0x80000000u)
        return FALSE;
    return (CpuidEdx(0x80000001u) & rwCPU3DNOW) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------
// x87 control word

static RwUInt16 FpuSavedWord;
static RwBool FpuSaved;
static RwBool FlushToZeroSet;

RwUInt16 RwFpuGetControlWord(void)
{
    RwUInt16 word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

void RwFpuSetControlWord(RwUInt16 word)
{
    __asm__ volatile("fldcw %0" : : "m"(word));
}

static RwUInt16 SinglePrecision(RwUInt16 word)
{
    return static_cast<RwUInt16>((word & ~rwFPUPRECISIONMASK) | rwFPUEXCEPTIONMASKS);
}

void RwFpuSetSinglePrecision(void)
{
    RwUInt16 word = RwFpuGetControlWord();
    // A second call before the restore must not lose the caller's word.
    if (!FpuSaved) {
        FpuSavedWord = word;
        FpuSaved = TRUE;
    }
    RwFpuSetControlWord(SinglePrecision(word));
}

void RwFpuRestoreControlWord(void)
{
    if (!FpuSaved)
        return;
    RwFpuSetControlWord(FpuSavedWord);
    FpuSaved = FALSE;
}

void RwFpuForceSinglePrecision(void)
{
    RwFpuSetControlWord(SinglePrecision(RwFpuGetControlWord()));
}

RwBool RwFpuControlWordSaved(void)
{
    return FpuSaved;
}

// ---------------------------------------------------------------------------
// x87 routines: the arithmetic stays on the x87 unit under its control word.

#define rwX87 __attribute__((target("fpmath=387"), noinline))

rwX87 void RwMatrixMultiplyX87(RwMatrix *out, const RwMatrix *a, const RwMatrix *b)
{
    const RwV3d *rows[4] = {&a->right, &a->up, &a->at, &a->pos};
    RwV3d result[4];
    for (int r = 0; r < 4; r++) {
        const RwV3d &v = *rows[r];
        result[r].x = v.x * b->right.x + v.y * b->up.x + v.z * b->at.x;
        result[r].y = v.x * b->right.y + v.y * b->up.y + v.z * b->at.y;
        result[r].z = v.x * b->right.z + v.y * b->up.z + v.z * b->at.z;
    }
    result[3].x = result[3].x + b->pos.x;
    result[3].y = result[3].y + b->pos.y;
    result[3].z = result[3].z + b->pos.z;
    out->right = result[0];
    out->up = result[1];
    out->at = result[2];
    out->pos = result[3];
}

rwX87 void RwV3dTransformPointX87(RwV3d *out, const RwV3d *in, const RwMatrix *m)
{
    RwReal x = in->x, y = in->y, z = in->z;
    RwReal rx = ((x * m->right.x + y * m->up.x) + z * m->at.x) + m->pos.x;
    RwReal ry = ((x * m->right.y + y * m->up.y) + z * m->at.y) + m->pos.y;
    RwReal rz = ((x * m->right.z + y * m->up.z) + z * m->at.z) + m->pos.z;
    out->x = rx;
    out->y = ry;
    out->z = rz;
}

// The array routines read the matrix once into locals: stores through out
// could otherwise alias it and make it be read again for every vector. Each
// vector is read whole before its result is written, so out may be in.
rwX87 void RwV3dTransformPointsX87(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *m)
{
    const RwReal rx = m->right.x, ry = m->right.y, rz = m->right.z;
    const RwReal ux = m->up.x, uy = m->up.y, uz = m->up.z;
    const RwReal ax = m->at.x, ay = m->at.y, az = m->at.z;
    const RwReal px = m->pos.x, py = m->pos.y, pz = m->pos.z;
    for (RwInt32 i = 0; i < count; i++) {
        RwReal x = in[i].x, y = in[i].y, z = in[i].z;
        RwReal ox = ((x * rx + y * ux) + z * ax) + px;
        RwReal oy = ((x * ry + y * uy) + z * ay) + py;
        RwReal oz = ((x * rz + y * uz) + z * az) + pz;
        out[i].x = ox;
        out[i].y = oy;
        out[i].z = oz;
    }
}

rwX87 void RwV3dTransformVectorX87(RwV3d *out, const RwV3d *in, const RwMatrix *m)
{
    RwReal x = in->x, y = in->y, z = in->z;
    RwReal rx = (x * m->right.x + y * m->up.x) + z * m->at.x;
    RwReal ry = (x * m->right.y + y * m->up.y) + z * m->at.y;
    RwReal rz = (x * m->right.z + y * m->up.z) + z * m->at.z;
    out->x = rx;
    out->y = ry;
    out->z = rz;
}

rwX87 void RwV3dTransformVectorsX87(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *m)
{
    const RwReal rx = m->right.x, ry = m->right.y, rz = m->right.z;
    const RwReal ux = m->up.x, uy = m->up.y, uz = m->up.z;
    const RwReal ax = m->at.x, ay = m->at.y, az = m->at.z;
    for (RwInt32 i = 0; i < count; i++) {
        RwReal x = in[i].x, y = in[i].y, z = in[i].z;
        RwReal ox = (x * rx + y * ux) + z * ax;
        RwReal oy = (x * ry + y * uy) + z * ay;
        RwReal oz = (x * rz + y * uz) + z * az;
        out[i].x = ox;
        out[i].y = oy;
        out[i].z = oz;
    }
}

// ---------------------------------------------------------------------------
// SSE and SSE2 routines. The input vector is read as three scalars so that
// the last vector of a packed array is never read past its 12 bytes.

struct MatrixRows {
    __m128 right, up, at, pos;
};

static inline MatrixRows LoadRows(const RwMatrix *m)
{
    const float *f = reinterpret_cast<const float *>(m);
    MatrixRows rows;
    if ((reinterpret_cast<uintptr_t>(m) & 15) == 0) {
        rows.right = _mm_load_ps(f);
        rows.up = _mm_load_ps(f + 4);
        rows.at = _mm_load_ps(f + 8);
        rows.pos = _mm_load_ps(f + 12);
    } else {
        rows.right = _mm_loadu_ps(f);
        rows.up = _mm_loadu_ps(f + 4);
        rows.at = _mm_loadu_ps(f + 8);
        rows.pos = _mm_loadu_ps(f + 12);
    }
    return rows;
}

static inline __m128 PointSSE(const RwV3d *in, const MatrixRows &m)
{
    __m128 x = _mm_set1_ps(in->x);
    __m128 y = _mm_set1_ps(in->y);
    __m128 z = _mm_set1_ps(in->z);
    __m128 zy = _mm_add_ps(_mm_mul_ps(z, m.at), _mm_mul_ps(y, m.up));
    __m128 xp = _mm_add_ps(_mm_mul_ps(x, m.right), m.pos);
    return _mm_add_ps(zy, xp);
}

static inline __m128 VectorSSE(const RwV3d *in, const MatrixRows &m)
{
    __m128 x = _mm_set1_ps(in->x);
    __m128 y = _mm_set1_ps(in->y);
    __m128 z = _mm_set1_ps(in->z);
    __m128 zy = _mm_add_ps(_mm_mul_ps(z, m.at), _mm_mul_ps(y, m.up));
    return _mm_add_ps(zy, _mm_mul_ps(x, m.right));
}

// x and y in one 64-bit store, z in one 32-bit store.
static inline void StoreSSE(RwV3d *out, __m128 r)
{
    _mm_storel_pi(reinterpret_cast<__m64 *>(out), r);
    _mm_store_ss(&out->z, _mm_movehl_ps(r, r));
}

// Three 32-bit stores.
static inline void StoreSSE2(RwV3d *out, __m128 r)
{
    __m128i bits = _mm_castps_si128(r);
    _mm_store_ss(&out->x, r);
    _mm_store_ss(&out->y, _mm_castsi128_ps(_mm_srli_si128(bits, 4)));
    _mm_store_ss(&out->z, _mm_castsi128_ps(_mm_srli_si128(bits, 8)));
}

void RwV3dTransformPointSSE(RwV3d *out, const RwV3d *in, const RwMatrix *matrix)
{
    StoreSSE(out, PointSSE(in, LoadRows(matrix)));
}

void RwV3dTransformPointsSSE(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix)
{
    MatrixRows m = LoadRows(matrix);
    for (RwInt32 i = 0; i < count; i++)
        StoreSSE(&out[i], PointSSE(&in[i], m));
}

void RwV3dTransformVectorSSE(RwV3d *out, const RwV3d *in, const RwMatrix *matrix)
{
    StoreSSE(out, VectorSSE(in, LoadRows(matrix)));
}

void RwV3dTransformVectorsSSE(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix)
{
    MatrixRows m = LoadRows(matrix);
    for (RwInt32 i = 0; i < count; i++)
        StoreSSE(&out[i], VectorSSE(&in[i], m));
}

void RwV3dTransformPointSSE2(RwV3d *out, const RwV3d *in, const RwMatrix *matrix)
{
    StoreSSE2(out, PointSSE(in, LoadRows(matrix)));
}

void RwV3dTransformPointsSSE2(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix)
{
    MatrixRows m = LoadRows(matrix);
    for (RwInt32 i = 0; i < count; i++)
        StoreSSE2(&out[i], PointSSE(&in[i], m));
}

void RwV3dTransformVectorSSE2(RwV3d *out, const RwV3d *in, const RwMatrix *matrix)
{
    StoreSSE2(out, VectorSSE(in, LoadRows(matrix)));
}

void RwV3dTransformVectorsSSE2(RwV3d *out, const RwV3d *in, RwInt32 count, const RwMatrix *matrix)
{
    MatrixRows m = LoadRows(matrix);
    for (RwInt32 i = 0; i < count; i++)
        StoreSSE2(&out[i], VectorSSE(&in[i], m));
}

// ---------------------------------------------------------------------------
// Selection and installation

RwD3D9TransformSet RwD3D9SelectTransforms(RwBool sse, RwBool sse2, RwBool has3DNow)
{
    if (!sse)
        return {RwMatrixMultiplyX87, RwV3dTransformPointX87, RwV3dTransformPointsX87, RwV3dTransformVectorX87,
                RwV3dTransformVectorsX87};
    if (sse2 && !has3DNow)
        return {RwMatrixMultiplyX87, RwV3dTransformPointSSE2, RwV3dTransformPointsSSE2, RwV3dTransformVectorSSE2,
                RwV3dTransformVectorsSSE2};
    return {RwMatrixMultiplyX87, RwV3dTransformPointSSE, RwV3dTransformPointsSSE, RwV3dTransformVectorSSE,
            RwV3dTransformVectorsSSE};
}

static RwD3D9TransformSet InstalledTransforms;

const RwD3D9TransformSet *RwD3D9GetInstalledTransforms(void)
{
    return &InstalledTransforms;
}

void RwD3D9CpuProbe(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    d.cpuMMX = RwCpuHasMMX();
    d.cpuSSE = RwCpuHasSSE();
    d.cpuSSE2 = RwCpuHasSSE2();
    d.cpu3DNow = RwCpuHas3DNow();
}

void RwD3D9FinishStart(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwFpuSetSinglePrecision();
    if (d.cpuSSE && !FlushToZeroSet) {
        _mm_setcsr(_mm_getcsr() | rwMXCSRFLUSHTOZERO);
        FlushToZeroSet = TRUE;
    }
    InstalledTransforms = RwD3D9SelectTransforms(d.cpuSSE, d.cpuSSE2, d.cpu3DNow);
    RwMatrixSetMultiplyFunction(InstalledTransforms.multiply);
    RwV3dSetTransformFunctions(InstalledTransforms.point, InstalledTransforms.points, InstalledTransforms.vector,
                               InstalledTransforms.vectors);
}

void RwD3D9FpuStop(void)
{
    RwFpuRestoreControlWord();
    if (FlushToZeroSet) {
        _mm_setcsr(_mm_getcsr() & ~static_cast<unsigned int>(rwMXCSRFLUSHTOZERO));
        FlushToZeroSet = FALSE;
    }
}
