// Matrix module: flagged affine matrices, combine modes, inversion, classification and streaming.
#include "matrix.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "byteorder.h"
#include "engine.h"
#include "error.h"
#include "finite.h"
#include "memory.h"
#include "modules.h"
#include "stream.h"
#include "vector.h"

static RwInt32 matrixModuleOffset = -1;
static RwInt32 matrixModuleOpenCount = 0;

enum : RwUInt32 {
    E_RW_BADCOMBINATION = 0x80000003u,
    rwMATRIXHINT = rwID_MATRIX,           // memory hints name the matrix chunk id
};

// The free list, routine and tolerances exist from engine start to stop only;
// outside that window the call fails with the engine-state error.
static RwMatrixGlobals *MatrixGlobals()
{
    if (matrixModuleOpenCount <= 0) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return nullptr;
    }
    return RwEngineModuleGlobals<RwMatrixGlobals>(matrixModuleOffset);
}

// Portable product, summed left to right per component.
static void MultiplyPortable(RwMatrix *out, const RwMatrix *a, const RwMatrix *b)
{
    const RwV3d *rows[4] = {&a->right, &a->up, &a->at, &a->pos};
    RwV3d *dst[4] = {&out->right, &out->up, &out->at, &out->pos};
    for (int i = 0; i < 4; ++i) {
        const RwV3d *r = rows[i];
        dst[i]->x = r->x * b->right.x + r->y * b->up.x + r->z * b->at.x;
        dst[i]->y = r->x * b->right.y + r->y * b->up.y + r->z * b->at.y;
        dst[i]->z = r->x * b->right.z + r->y * b->up.z + r->z * b->at.z;
    }
    out->pos.x += b->pos.x;
    out->pos.y += b->pos.y;
    out->pos.z += b->pos.z;
}

static void RaiseInvalidCombine()
{
    RwErrorRaise(rwID_COREPLUGIN, RwErrorMakeCode(E_RW_BADCOMBINATION, "Invalid combination type"));
}

static void CopyRows(RwMatrix *dst, const RwMatrix *src)
{
    dst->right = src->right;
    dst->up = src->up;
    dst->at = src->at;
    dst->pos = src->pos;
}

RwMatrix *RwMatrixSetIdentity(RwMatrix *m)
{
    m->right = {1.0f, 0.0f, 0.0f};
    m->up = {0.0f, 1.0f, 0.0f};
    m->at = {0.0f, 0.0f, 1.0f};
    m->pos = {0.0f, 0.0f, 0.0f};
    m->flags = rwMATRIXIDENTITYFLAGS;
    m->pad1 = m->pad2 = m->pad3 = 0;
    return m;
}

RwMatrix *RwMatrixCopy(RwMatrix *dst, const RwMatrix *src)
{
    if (dst != src) {
        *dst = *src;
    }
    return dst;
}

RwMatrix *RwMatrixCreate(void)
{
    const RwMatrixGlobals *g = MatrixGlobals();
    if (!g) {
        return nullptr;
    }
    RwMatrix *m = static_cast<RwMatrix *>(RwFreeListAlloc(g->matrixFreeList, rwMEMHINTDUR_EVENT | rwMATRIXHINT));
    if (!m) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    return RwMatrixSetIdentity(m);
}

RwBool RwMatrixDestroy(RwMatrix *matrix)
{
    const RwMatrixGlobals *g = MatrixGlobals();
    if (!g) {
        return FALSE;
    }
    RwFreeListFree(g->matrixFreeList, matrix);
    return TRUE;
}

RwMatrix *RwMatrixMultiply(RwMatrix *out, const RwMatrix *a, const RwMatrix *b)
{
    const RwMatrixGlobals *g = MatrixGlobals();
    if (!g) {
        return nullptr;
    }
    if (a->flags & g->identityMask) {
        return RwMatrixCopy(out, b);
    }
    if (b->flags & g->identityMask) {
        return RwMatrixCopy(out, a);
    }
    const RwUInt32 flags = a->flags & b->flags;
    if (out == a || out == b) {
        // The installed routines write rows while they still read them.
        RwMatrix product;
        g->multiply(&product, a, b);
        CopyRows(out, &product);
    } else {
        g->multiply(out, a, b);
    }
    out->flags = flags;
    return out;
}

RwBool RwMatrixSetMultiplyFunction(RwMatrixMultiplyFunction multiply)
{
    RwMatrixGlobals *g = MatrixGlobals();
    if (!g) {
        return FALSE;
    }
    g->multiply = multiply ? multiply : MultiplyPortable;
    return TRUE;
}

RwMatrix *RwMatrixTranslate(RwMatrix *m, const RwV3d *t, RwOpCombineType combine)
{
    switch (combine) {
    case rwCOMBINEREPLACE:
        RwMatrixSetIdentity(m);
        m->pos = *t;
        break;
    case rwCOMBINEPRECONCAT:
        RwV3dIncrementScaled(&m->pos, &m->right, t->x);
        RwV3dIncrementScaled(&m->pos, &m->up, t->y);
        RwV3dIncrementScaled(&m->pos, &m->at, t->z);
        break;
    case rwCOMBINEPOSTCONCAT:
        RwV3dAdd(&m->pos, &m->pos, t);
        break;
    default:
        RaiseInvalidCombine();
        return nullptr;
    }
    m->flags &= ~rwMATRIXINTERNALIDENTITY;
    return m;
}

RwMatrix *RwMatrixScale(RwMatrix *m, const RwV3d *s, RwOpCombineType combine)
{
    switch (combine) {
    case rwCOMBINEREPLACE:
        m->right = {s->x, 0.0f, 0.0f};
        m->up = {0.0f, s->y, 0.0f};
        m->at = {0.0f, 0.0f, s->z};
        m->pos = {0.0f, 0.0f, 0.0f};
        break;
    case rwCOMBINEPRECONCAT:
        RwV3dScale(&m->right, &m->right, s->x);
        RwV3dScale(&m->up, &m->up, s->y);
        RwV3dScale(&m->at, &m->at, s->z);
        break;
    case rwCOMBINEPOSTCONCAT: {
        RwV3d *rows[4] = {&m->right, &m->up, &m->at, &m->pos};
        for (RwV3d *r : rows) {
            r->x *= s->x;
            r->y *= s->y;
            r->z *= s->z;
        }
        break;
    }
    default:
        RaiseInvalidCombine();
        return nullptr;
    }
    m->flags &= ~rwMATRIXIDENTITYFLAGS;
    return m;
}

RwMatrix *RwMatrixRotate(RwMatrix *m, const RwV3d *axis, RwReal angle, RwOpCombineType combine)
{
    if (combine != rwCOMBINEREPLACE && combine != rwCOMBINEPRECONCAT && combine != rwCOMBINEPOSTCONCAT) {
        RaiseInvalidCombine();
        return nullptr;
    }
    // The axis is normalised through the tables and combined through the module's product.
    if (!MatrixGlobals()) {
        return nullptr;
    }
    const RwReal lengthSq = RwV3dDotProduct(axis, axis);
    RwV3d u;
    RwV3dScale(&u, axis, RwInvSqrt(lengthSq));
    // A zero axis names no rotation: turning by nothing keeps R a true
    // rotation (the identity) instead of a scaled row flagged orthonormal.
    const RwReal theta = lengthSq > 0.0f ? angle * 0.017453292f : 0.0f;
    const RwReal c = 1.0f - std::cos(theta);
    const RwReal s = std::sin(theta);
    const RwReal x = u.x, y = u.y, z = u.z;

    RwMatrix r;
    r.right = {1.0f - (1.0f - x * x) * c, x * y * c + z * s, x * z * c - y * s};
    r.up = {x * y * c - z * s, 1.0f - (1.0f - y * y) * c, y * z * c + x * s};
    r.at = {x * z * c + y * s, y * z * c - x * s, 1.0f - (1.0f - z * z) * c};
    r.pos = {0.0f, 0.0f, 0.0f};
    r.flags = rwMATRIXTYPEORTHONORMAL;
    r.pad1 = r.pad2 = r.pad3 = 0;

    if (combine == rwCOMBINEREPLACE) {
        *m = r;
    } else if (combine == rwCOMBINEPRECONCAT) {
        RwMatrixMultiply(m, &r, m);
    } else {
        RwMatrixMultiply(m, m, &r);
    }
    return m;
}

RwMatrix *RwMatrixTransform(RwMatrix *m, const RwMatrix *t, RwOpCombineType combine)
{
    switch (combine) {
    case rwCOMBINEREPLACE:
        return RwMatrixCopy(m, t);
    case rwCOMBINEPRECONCAT:
        return RwMatrixMultiply(m, t, m);
    case rwCOMBINEPOSTCONCAT:
        return RwMatrixMultiply(m, m, t);
    default:
        RaiseInvalidCombine();
        return nullptr;
    }
}

// The inverse is worked out in double precision and only its results are
// rounded to reals. Products of up to three reals, and the exact parts of
// the determinant below, never leave the double's normal range, so nothing
// depends on whether the calling thread flushes tiny results to zero (the
// engine's start turns that on for the main thread only).
struct RwInverseWork {
    double rows[3][3];   // the cofactors: the inverse's 3x3 part times the determinant
    double det;          // the determinant, rounded once from its exact value
};

// Error-free sum and product: a + b = s + e and a * b = p + e exactly.
static void TwoSum(double a, double b, double *s, double *e)
{
    *s = a + b;
    const double bv = *s - a;
    *e = (a - (*s - bv)) + (b - bv);
}

static void Split(double a, double *hi, double *lo)
{
    const double c = 134217729.0 * a;   // 2^27 + 1
    *hi = c - (c - a);
    *lo = a - *hi;
}

static void TwoProduct(double a, double b, double *p, double *e)
{
    *p = a * b;
    double ah, al, bh, bl;
    Split(a, &ah, &al);
    Split(b, &bh, &bl);
    *e = ((ah * bh - *p) + ah * bl + al * bh) + al * bl;
}

// The determinant as an exact sum of doubles (each product of two reals is
// exact in a double; the third factor is split off exactly), so that it is
// zero exactly when the true determinant is, and its rounding is faithful.
static double ExactDeterminant(const RwMatrix *in)
{
    const double r[3] = {in->right.x, in->right.y, in->right.z};
    const double u[3] = {in->up.x, in->up.y, in->up.z};
    const double a[3] = {in->at.x, in->at.y, in->at.z};
    static const int terms[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {0, 2, 1}, {1, 0, 2}, {2, 1, 0}};
    double parts[12];
    int count = 0;
    for (int t = 0; t < 6; ++t) {
        const double sign = t < 3 ? 1.0 : -1.0;
        double p, e;
        TwoProduct(sign * r[terms[t][0]] * u[terms[t][1]], a[terms[t][2]], &p, &e);
        // Grow the expansion by p, then by e: each step keeps it exact.
        const double grow[2] = {p, e};
        for (double x : grow) {
            int kept = 0;
            for (int i = 0; i < count; ++i) {
                double sum, err;
                TwoSum(x, parts[i], &sum, &err);
                x = sum;
                if (err != 0.0) {
                    parts[kept++] = err;
                }
            }
            if (x != 0.0) {
                parts[kept++] = x;
            }
            count = kept;
        }
    }
    double det = 0.0;
    for (int i = 0; i < count; ++i) {
        det += parts[i];
    }
    return det;
}

// Cofactors as cross products of the rows: the inverse's columns.
static void InverseCofactors(const RwMatrix *in, double rows[3][3])
{
    const double r[3] = {in->right.x, in->right.y, in->right.z};
    const double u[3] = {in->up.x, in->up.y, in->up.z};
    const double a[3] = {in->at.x, in->at.y, in->at.z};
    const double c0[3] = {u[1] * a[2] - u[2] * a[1], u[2] * a[0] - u[0] * a[2], u[0] * a[1] - u[1] * a[0]};
    const double c1[3] = {a[1] * r[2] - a[2] * r[1], a[2] * r[0] - a[0] * r[2], a[0] * r[1] - a[1] * r[0]};
    const double c2[3] = {r[1] * u[2] - r[2] * u[1], r[2] * u[0] - r[0] * u[2], r[0] * u[1] - r[1] * u[0]};
    for (int i = 0; i < 3; ++i) {
        rows[i][0] = c0[i];
        rows[i][1] = c1[i];
        rows[i][2] = c2[i];
    }
}

// Below the normal range a result is zero, as the thread that flushes would
// make it: both threads then hold the same bits. Past the largest real it
// is held at the largest (only a singular matrix's cofactors get there).
static RwReal RoundToReal(double value)
{
    if (std::fabs(value) < FLT_MIN) {
        return 0.0f;
    }
    if (std::fabs(value) > FLT_MAX) {
        return value < 0.0 ? -FLT_MAX : FLT_MAX;
    }
    return static_cast<RwReal>(value);
}

static RwV3d RoundRow(const double row[3])
{
    return {RoundToReal(row[0]), RoundToReal(row[1]), RoundToReal(row[2])};
}

// pos' = -pos x the inverted 3x3 part.
static void InvertedPosition(const RwV3d &pos, const double rows[3][3], double out[3])
{
    for (int j = 0; j < 3; ++j) {
        out[j] = -(pos.x * rows[0][j] + pos.y * rows[1][j] + pos.z * rows[2][j]);
    }
}

// Whether every value rounds to a finite real.
static bool RowFinite(const double row[3])
{
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(static_cast<RwReal>(row[i]))) {
            return false;
        }
    }
    return true;
}

// The 3x3 rows scaled by k, and the position they give.
static void ScaleRows(const RwMatrix *in, const double cofactors[3][3], double k, double rows[4][3])
{
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            rows[i][j] = cofactors[i][j] * k;
        }
    }
    InvertedPosition(in->pos, rows, rows[3]);
}

// The same; whether every value is a finite real.
static bool ScaledRows(const RwMatrix *in, const double cofactors[3][3], double k, double rows[4][3])
{
    ScaleRows(in, cofactors, k, rows);
    return RowFinite(rows[0]) && RowFinite(rows[1]) && RowFinite(rows[2]) && RowFinite(rows[3]);
}

// Well-scaled matrices need no exact determinant. Summed once in doubles
// (right times its cofactors) it is off by less than 2^-50 times the size of
// its terms (four roundings of 2^-53): far above that bound it is surely not
// zero and within 2^-42 of the exact one. A cofactor is at most twice the
// square of the largest value of the 3x3 part, so no value of the inverse is
// larger than that times (1 + |pos|) over the determinant: far inside the
// reals, none is past the largest.
static const double rwMATRIXWELLSCALED = 1.0 / 256.0;
static const double rwMATRIXSAFELYFINITE = 0x1p126;

static double Larger(double a, double b)
{
    return a > b ? a : b;
}

static bool WellScaled(const RwMatrix *in, double *det)
{
    const double r[3] = {in->right.x, in->right.y, in->right.z};
    const double u[3] = {in->up.x, in->up.y, in->up.z};
    const double a[3] = {in->at.x, in->at.y, in->at.z};
    const double p[3] = {u[1] * a[2], u[2] * a[0], u[0] * a[1]};
    const double q[3] = {u[2] * a[1], u[0] * a[2], u[1] * a[0]};
    *det = r[0] * (p[0] - q[0]) + r[1] * (p[1] - q[1]) + r[2] * (p[2] - q[2]);
    const double size = std::fabs(r[0]) * (std::fabs(p[0]) + std::fabs(q[0])) +
                        std::fabs(r[1]) * (std::fabs(p[1]) + std::fabs(q[1])) +
                        std::fabs(r[2]) * (std::fabs(p[2]) + std::fabs(q[2]));
    const double largest =
        Larger(Larger(Larger(std::fabs(r[0]), std::fabs(r[1])), Larger(std::fabs(r[2]), std::fabs(u[0]))),
               Larger(Larger(std::fabs(u[1]), std::fabs(u[2])),
                      Larger(Larger(std::fabs(a[0]), std::fabs(a[1])), std::fabs(a[2]))));
    const double reach = 1.0 + std::fabs(in->pos.x) + std::fabs(in->pos.y) + std::fabs(in->pos.z);
    // Both false for NaN and infinite values.
    const bool sure = std::fabs(*det) > size * rwMATRIXWELLSCALED;
    const bool inside = 2.0 * largest * largest * reach < std::fabs(*det) * rwMATRIXSAFELYFINITE;
    return sure & inside;
}

// Works out the inverse; FALSE when there is none in reals: the determinant
// is exactly zero, or some value of the inverse is beyond the largest real.
// A matrix without one gets its cofactors (the determinant taken as 1).
static bool InverseRows(const RwMatrix *in, double rows[4][3], RwUInt32 *flags)
{
    RwInverseWork w;
    if (RwMatrixIsOrthonormal(in)) {
        // Transposed.
        const RwV3d &R = in->right, &U = in->up, &A = in->at;
        const double t[3][3] = {{R.x, U.x, A.x}, {R.y, U.y, A.y}, {R.z, U.z, A.z}};
        *flags = rwMATRIXTYPEORTHONORMAL;
        return ScaledRows(in, t, 1.0, rows);
    }
    *flags = 0;
    double det;
    if (WellScaled(in, &det)) {
        InverseCofactors(in, w.rows);
        ScaleRows(in, w.rows, 1.0 / det, rows);
        return true;
    }
    // Otherwise only the exact determinant tells.
    InverseCofactors(in, w.rows);
    w.det = ExactDeterminant(in);
    if (w.det != 0.0 && ScaledRows(in, w.rows, 1.0 / w.det, rows)) {
        return true;
    }
    ScaledRows(in, w.rows, 1.0, rows);
    return false;
}

RwBool RwMatrixInvertible(const RwMatrix *m)
{
    if (m->flags & rwMATRIXINTERNALIDENTITY) {
        return TRUE;
    }
    double det;
    if (!RwMatrixIsOrthonormal(m) && WellScaled(m, &det)) {
        return TRUE;
    }
    double rows[4][3];
    RwUInt32 flags;
    return InverseRows(m, rows, &flags) ? TRUE : FALSE;
}

RwMatrix *RwMatrixInvert(RwMatrix *out, const RwMatrix *in)
{
    if (in->flags & rwMATRIXINTERNALIDENTITY) {
        return RwMatrixCopy(out, in);
    }
    RwMatrix r;
    r.pad1 = r.pad2 = r.pad3 = 0;
    double rows[4][3];
    InverseRows(in, rows, &r.flags);
    r.right = RoundRow(rows[0]);
    r.up = RoundRow(rows[1]);
    r.at = RoundRow(rows[2]);
    r.pos = RoundRow(rows[3]);
    CopyRows(out, &r);
    out->flags = r.flags;
    return out;
}

// Normalises with the table inverse square root and returns the factor used.
static RwReal ScaleToUnit(RwV3d *v)
{
    const RwReal inv = RwInvSqrt(RwV3dDotProduct(v, v));
    RwV3dScale(v, v, inv);
    return inv;
}

static void CrossUnit(RwV3d *out, const RwV3d *a, const RwV3d *b)
{
    RwV3dCrossProduct(out, a, b);
    ScaleToUnit(out);
}

RwMatrix *RwMatrixOrthoNormalize(RwMatrix *out, const RwMatrix *in)
{
    // The rows are normalised through the tables.
    if (!MatrixGlobals()) {
        return nullptr;
    }
    RwV3d right = in->right, up = in->up, at = in->at;
    const RwReal invRight = ScaleToUnit(&right);
    const RwReal invUp = ScaleToUnit(&up);
    const RwReal invAt = ScaleToUnit(&at);

    enum { KeepRight, KeepUp, KeepAt } keep;
    if (!(invRight > 0.0f)) {
        keep = KeepUp;
    } else if (!(invUp > 0.0f)) {
        keep = KeepAt;
    } else if (!(invAt > 0.0f)) {
        keep = KeepRight;
    } else {
        const RwReal upAt = std::fabs(RwV3dDotProduct(&up, &at));
        const RwReal atRight = std::fabs(RwV3dDotProduct(&at, &right));
        const RwReal upRight = std::fabs(RwV3dDotProduct(&up, &right));
        if (upAt < atRight && upAt < upRight) {
            keep = KeepUp;
        } else if (atRight <= upAt && atRight < upRight) {
            keep = KeepAt;
        } else {
            keep = KeepRight;
        }
    }

    switch (keep) {
    case KeepRight:   // pair (right, up)
        CrossUnit(&at, &right, &up);
        CrossUnit(&up, &at, &right);
        break;
    case KeepUp:      // pair (up, at)
        CrossUnit(&right, &up, &at);
        CrossUnit(&at, &right, &up);
        break;
    case KeepAt:      // pair (at, right)
        CrossUnit(&up, &at, &right);
        CrossUnit(&right, &up, &at);
        break;
    }
    out->right = right;
    out->up = up;
    out->at = at;
    out->pos = in->pos;
    out->flags = (out->flags & ~rwMATRIXINTERNALIDENTITY) | rwMATRIXTYPEORTHONORMAL;
    return out;
}

RwReal RwMatrixDeterminant(const RwMatrix *m)
{
    RwV3d c;
    RwV3dCrossProduct(&c, &m->up, &m->at);
    return RwV3dDotProduct(&m->right, &c);
}

RwReal RwMatrixOrthogonalError(const RwMatrix *m)
{
    const RwReal a = RwV3dDotProduct(&m->at, &m->up);
    const RwReal b = RwV3dDotProduct(&m->at, &m->right);
    const RwReal c = RwV3dDotProduct(&m->up, &m->right);
    return a * a + b * b + c * c;
}

RwReal RwMatrixNormalError(const RwMatrix *m)
{
    const RwReal a = RwV3dDotProduct(&m->right, &m->right) - 1.0f;
    const RwReal b = RwV3dDotProduct(&m->up, &m->up) - 1.0f;
    const RwReal c = RwV3dDotProduct(&m->at, &m->at) - 1.0f;
    return a * a + b * b + c * c;
}

RwReal RwMatrixIdentityError(const RwMatrix *m)
{
    RwV3d r = m->right, u = m->up, a = m->at;
    r.x -= 1.0f;
    u.y -= 1.0f;
    a.z -= 1.0f;
    return RwV3dDotProduct(&r, &r) + RwV3dDotProduct(&u, &u) + RwV3dDotProduct(&a, &a) +
           RwV3dDotProduct(&m->pos, &m->pos);
}

RwBool RwMatrixGetTolerances(RwMatrixTolerance *out)
{
    const RwMatrixGlobals *g = MatrixGlobals();
    if (!g) {
        return FALSE;
    }
    *out = g->tolerance;
    return TRUE;
}

RwMatrix *RwMatrixClassify(RwMatrix *m, const RwMatrixTolerance *tolerance)
{
    RwMatrixTolerance t;
    if (tolerance) {
        t = *tolerance;
    } else if (!RwMatrixGetTolerances(&t)) {
        return nullptr;
    }
    RwUInt32 flags = 0;
    if (RwMatrixNormalError(m) <= t.normal) {
        flags |= rwMATRIXTYPENORMAL;
    }
    if (RwMatrixOrthogonalError(m) <= t.orthogonal) {
        flags |= rwMATRIXTYPEORTHOGONAL;
    }
    if (flags == rwMATRIXTYPEORTHONORMAL && RwMatrixIdentityError(m) <= t.identity) {
        flags |= rwMATRIXINTERNALIDENTITY;
    }
    m->flags = (m->flags & ~rwMATRIXIDENTITYFLAGS) | flags;
    return m;
}

RwMatrix *RwMatrixMarkChanged(RwMatrix *matrix)
{
    matrix->flags &= ~rwMATRIXIDENTITYFLAGS;
    return matrix;
}

// Body layout: right, up, at, pos (twelve reals), then the flags word & 3.
static void PutRows(RwUInt8 *body, const RwMatrix *m)
{
    const RwV3d *rows[4] = {&m->right, &m->up, &m->at, &m->pos};
    for (int i = 0; i < 4; ++i) {
        WriteF32(body + i * 12, rows[i]->x);
        WriteF32(body + i * 12 + 4, rows[i]->y);
        WriteF32(body + i * 12 + 8, rows[i]->z);
    }
    WriteU32(body + 48, m->flags & rwMATRIXTYPEMASK);
}

static void GetRows(RwMatrix *m, const RwUInt8 *body)
{
    RwV3d *rows[4] = {&m->right, &m->up, &m->at, &m->pos};
    for (int i = 0; i < 4; ++i) {
        rows[i]->x = ReadF32(body + i * 12);
        rows[i]->y = ReadF32(body + i * 12 + 4);
        rows[i]->z = ReadF32(body + i * 12 + 8);
    }
    m->flags = ReadU32(body + 48) & rwMATRIXTYPEMASK;
    m->pad1 = m->pad2 = m->pad3 = 0;
}

const RwMatrix *RwMatrixStreamWrite(const RwMatrix *matrix, RwStream *stream)
{
    RwMatrix m = *matrix;
    if (RwMatrixIsOrthonormal(&m) && !RwMatrixOrthoNormalize(&m, &m)) {
        return nullptr;
    }
    RwUInt8 body[rwMATRIXSTREAMSIZE];
    PutRows(body, &m);
    if (!RwStreamWriteChunkHeader(stream, rwID_MATRIX, rwCHUNKHEADERSIZE + rwMATRIXSTREAMSIZE) ||
        !RwStreamWriteChunkHeader(stream, rwID_STRUCT, rwMATRIXSTREAMSIZE) ||
        !RwStreamWrite(stream, body, rwMATRIXSTREAMSIZE)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_WRITEFAILED);
        return nullptr;
    }
    return matrix;
}

RwMatrix *RwMatrixStreamRead(RwStream *stream, RwMatrix *matrix)
{
    RwUInt32 length = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, nullptr)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);   // kept only if the search raised nothing
        return nullptr;
    }
    if (length < rwMATRIXSTREAMSIZE) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    RwUInt8 body[rwMATRIXSTREAMSIZE];
    if (!RwStreamReadExact(stream, body, rwMATRIXSTREAMSIZE)) {
        return nullptr;
    }
    // A longer body holds the record first; the rest is not ours.
    if (length > rwMATRIXSTREAMSIZE && !RwStreamSkip(stream, length - rwMATRIXSTREAMSIZE)) {
        return nullptr;
    }
    RwReal rows[12];
    ReadF32s(body, rows, 12);
    if (!RwStreamRealsFinite(rows, 12)) {
        return nullptr;
    }
    RwMatrix *m = matrix ? matrix : RwMatrixCreate();
    if (!m) {
        return nullptr;
    }
    GetRows(m, body);
    if (m->flags == rwMATRIXTYPEORTHONORMAL && !RwMatrixOrthoNormalize(m, m)) {
        if (!matrix) {
            RwMatrixDestroy(m);
        }
        return nullptr;
    }
    return m;
}

void *RwMatrixModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    matrixModuleOffset = offset;
    RwMatrixGlobals *g = reinterpret_cast<RwMatrixGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    g->matrixFreeList = RwFreeListCreateAndPreallocate(sizeof(RwMatrix), 256, 16, 1, nullptr,
                                                       rwMEMHINTDUR_GLOBAL | rwMATRIXHINT);
    if (!g->matrixFreeList) {
        return nullptr;
    }
    g->identityMask = rwMATRIXINTERNALIDENTITY;
    g->multiply = MultiplyPortable;
    g->tolerance.normal = 0.01f;
    g->tolerance.orthogonal = 0.01f;
    g->tolerance.identity = 0.01f;
    ++matrixModuleOpenCount;
    return instance;
}

void *RwMatrixModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    RwMatrixGlobals *g = reinterpret_cast<RwMatrixGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    if (g->matrixFreeList) {
        RwFreeListDestroy(g->matrixFreeList);
        g->matrixFreeList = nullptr;
    }
    --matrixModuleOpenCount;
    return instance;
}
