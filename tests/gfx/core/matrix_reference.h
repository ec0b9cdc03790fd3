// Double-precision reference arithmetic for checking the library's matrices.
#pragma once

#include <gtest/gtest.h>

#include <cmath>

#include "gfx/core/matrix.h"

struct RefV3 {
    double x, y, z;
};

// Rows right, up, at, pos; row vectors, a point p maps to p * M.
struct RefMatrix {
    RefV3 r[4];
};

inline RefV3 Ref(const RwV3d &v) { return {v.x, v.y, v.z}; }

inline RefMatrix Ref(const RwMatrix &m)
{
    return {{Ref(m.right), Ref(m.up), Ref(m.at), Ref(m.pos)}};
}

inline RefV3 RefAdd(RefV3 a, RefV3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline RefV3 RefSub(RefV3 a, RefV3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline RefV3 RefScale(RefV3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double RefDot(RefV3 a, RefV3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline RefV3 RefCross(RefV3 a, RefV3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline RefV3 RefNormal(RefV3 a) { return RefScale(a, 1.0 / std::sqrt(RefDot(a, a))); }

inline RefV3 RefTransformVector(RefV3 p, const RefMatrix &m)
{
    return RefAdd(RefAdd(RefScale(m.r[0], p.x), RefScale(m.r[1], p.y)), RefScale(m.r[2], p.z));
}

inline RefV3 RefTransformPoint(RefV3 p, const RefMatrix &m) { return RefAdd(RefTransformVector(p, m), m.r[3]); }

// a x b, a applied first.
inline RefMatrix RefMultiply(const RefMatrix &a, const RefMatrix &b)
{
    RefMatrix out;
    for (int i = 0; i < 3; ++i) {
        out.r[i] = RefTransformVector(a.r[i], b);
    }
    out.r[3] = RefTransformPoint(a.r[3], b);
    return out;
}

inline RefMatrix RefIdentity() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}}; }

inline RwMatrix MakeMatrix(const RefMatrix &m, RwUInt32 flags)
{
    RwMatrix out = {};
    RwV3d *rows[4] = {&out.right, &out.up, &out.at, &out.pos};
    for (int i = 0; i < 4; ++i) {
        *rows[i] = {static_cast<RwReal>(m.r[i].x), static_cast<RwReal>(m.r[i].y), static_cast<RwReal>(m.r[i].z)};
    }
    out.flags = flags;
    return out;
}

inline ::testing::AssertionResult NearV3(RefV3 expected, RefV3 actual, double tolerance)
{
    const double d = std::fabs(expected.x - actual.x) + std::fabs(expected.y - actual.y) +
                     std::fabs(expected.z - actual.z);
    if (d <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected (" << expected.x << ", " << expected.y << ", " << expected.z
                                         << ") got (" << actual.x << ", " << actual.y << ", " << actual.z << ")";
}

inline ::testing::AssertionResult NearMatrix(const RefMatrix &expected, const RwMatrix &actual, double tolerance)
{
    const RefMatrix a = Ref(actual);
    for (int i = 0; i < 4; ++i) {
        ::testing::AssertionResult r = NearV3(expected.r[i], a.r[i], tolerance);
        if (!r) {
            return r << " in row " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

// A general (scaled, sheared, translated) matrix and an orthonormal one.
inline RefMatrix RefGeneral()
{
    return {{{1.5, 0.25, -0.5}, {0.3, 2.0, 0.1}, {-0.2, 0.4, 0.75}, {3.0, -4.0, 5.5}}};
}

inline RefMatrix RefRotation(RefV3 axis, double degrees, RefV3 pos)
{
    const RefV3 u = RefNormal(axis);
    const double t = degrees * 3.14159265358979323846 / 180.0;
    const double c = std::cos(t), s = std::sin(t), k = 1.0 - c;
    RefMatrix m;
    // Row-vector rotation: right = R applied to (1,0,0).
    m.r[0] = {c + u.x * u.x * k, u.x * u.y * k + u.z * s, u.x * u.z * k - u.y * s};
    m.r[1] = {u.x * u.y * k - u.z * s, c + u.y * u.y * k, u.y * u.z * k + u.x * s};
    m.r[2] = {u.x * u.z * k + u.y * s, u.y * u.z * k - u.x * s, c + u.z * u.z * k};
    m.r[3] = pos;
    return m;
}
