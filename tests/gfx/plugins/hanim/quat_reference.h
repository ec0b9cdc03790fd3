// Double-precision quaternion arithmetic for checking the hierarchical-animation plug-in.
#pragma once

#include <cmath>

#include "gfx/core/matrix_reference.h"
#include "gfx/plugins/hanim/hanim.h"
#include "support/test_random.h"

struct RefQuat {
    double x, y, z, w;
};

inline RefQuat Ref(const RwQuat &q) { return {q.x, q.y, q.z, q.w}; }
inline double RefDot(const RefQuat &a, const RefQuat &b) { return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w; }

// a x b, a on the left.
inline RefQuat RefMultiply(const RefQuat &a, const RefQuat &b)
{
    return {a.w * b.x + b.w * a.x + a.y * b.z - a.z * b.y, a.w * b.y + b.w * a.y + a.z * b.x - a.x * b.z,
            a.w * b.z + b.w * a.z + a.x * b.y - a.y * b.x, a.w * b.w - (a.x * b.x + a.y * b.y + a.z * b.z)};
}

// Spherical interpolation the short way round.
inline RefQuat RefSlerp(RefQuat a, RefQuat b, double u)
{
    double c = RefDot(a, b);
    if (c < 0) {
        c = -c;
        b = {-b.x, -b.y, -b.z, -b.w};
    }
    double w1 = 1 - u, w2 = u;
    if (c < 0.999) {
        const double t = std::acos(c);
        w1 = std::sin((1 - u) * t) / std::sin(t);
        w2 = std::sin(u * t) / std::sin(t);
    }
    return {w1 * a.x + w2 * b.x, w1 * a.y + w2 * b.y, w1 * a.z + w2 * b.z, w1 * a.w + w2 * b.w};
}

// Rotation matrix of a unit quaternion (rows right, up, at), then t.
inline RefMatrix RefFromQuat(const RefQuat &q, RefV3 t)
{
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    return {{{1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y)},
             {2 * (x * y - w * z), 1 - 2 * (x * x + z * z), 2 * (y * z + w * x)},
             {2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)},
             t}};
}

// A random unit quaternion.
inline RwQuat RandomQuat(TestRandom &random)
{
    double v[4], n = 0;
    for (double &c : v) {
        c = static_cast<double>(random.Below(2001)) / 1000.0 - 1.0;
        n += c * c;
    }
    n = std::sqrt(n);
    return {static_cast<RwReal>(v[0] / n), static_cast<RwReal>(v[1] / n), static_cast<RwReal>(v[2] / n),
            static_cast<RwReal>(v[3] / n)};
}

inline RwV3d RandomV3(TestRandom &random)
{
    return {static_cast<RwReal>(random.Below(200)) / 10.0f - 10.0f, static_cast<RwReal>(random.Below(200)) / 10.0f,
            static_cast<RwReal>(random.Below(200)) / 10.0f - 5.0f};
}
