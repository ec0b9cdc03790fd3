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
inline RefMatrix Ref(const RwMatrix &m) { return {{Ref(m.right), Ref(m.up), Ref(m.at), Ref(m.pos)}}; }

inline RefV3 RefAdd(RefV3 a, RefV3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline RefV3 RefScale(RefV3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double RefDot(RefV3 a, RefV3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline RefV3 RefTransformVector(RefV3 p, const RefMatrix &m)
{
    return RefAdd(RefAdd(RefScale(m.r[0], p.x), RefScale(m.r[1], p.y)), RefScale(m.r[2], p.z));
}
inline RefV3 RefTransformPoint(RefV3 p, const RefMatrix &m) { return RefAdd(RefTransformVector(p, m), m.r[3]); }

// a x b, a applied first.
inline RefMatrix RefMultiply(const RefMatrix &a, const RefMatrix &b)
{
    return {{RefTransformVector(a.r[0], b), RefTransformVector(a.r[1], b), RefTransformVector(a.r[2], b),
             RefTransformPoint(a.r[3], b)}};
}

inline RefMatrix RefIdentity() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}}; }
inline RefMatrix RefTranslation(double x, double y, double z) { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {x, y, z}}}; }
inline RefMatrix RefScaling(double x, double y, double z) { return {{{x, 0, 0}, {0, y, 0}, {0, 0, z}, {0, 0, 0}}}; }

// A general (scaled, sheared, translated) matrix.
inline RefMatrix RefGeneral() { return {{{1.5, 0.25, -0.5}, {0.3, 2.0, 0.1}, {-0.2, 0.4, 0.75}, {3.0, -4.0, 5.5}}}; }

// Rotation about an axis (any length) by degrees, then the translation pos.
inline RefMatrix RefRotation(RefV3 axis, double degrees, RefV3 pos)
{
    const RefV3 u = RefScale(axis, 1.0 / std::sqrt(RefDot(axis, axis)));
    const double t = degrees * 3.14159265358979323846 / 180.0;
    const double c = std::cos(t), s = std::sin(t), k = 1.0 - c;
    return {{{c + u.x * u.x * k, u.x * u.y * k + u.z * s, u.x * u.z * k - u.y * s},
             {u.x * u.y * k - u.z * s, c + u.y * u.y * k, u.y * u.z * k + u.x * s},
             {u.x * u.z * k + u.y * s, u.y * u.z * k - u.x * s, c + u.z * u.z * k},
             pos}};
}

inline RwV3d MakeV3(RefV3 v) { return {static_cast<RwReal>(v.x), static_cast<RwReal>(v.y), static_cast<RwReal>(v.z)}; }

inline RwMatrix MakeMatrix(const RefMatrix &m, RwUInt32 flags)
{
    RwMatrix out = {};
    out.right = MakeV3(m.r[0]);
    out.up = MakeV3(m.r[1]);
    out.at = MakeV3(m.r[2]);
    out.pos = MakeV3(m.r[3]);
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
