// Meshes for the sample, toon tests and benchmarks: a sphere and a cube with outward faces, and toon data built from their edges.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "gfx/plugins/toon/toon.h"

namespace toonmesh {

struct Mesh {
    std::vector<RwV3d> positions;
    std::vector<RwV3d> normals;
    std::vector<RwUInt16> tris;
};

inline Mesh Outward(Mesh m);

inline Mesh Sphere(int rings = 16, int segments = 24)
{
    Mesh m;
    const float pi = 3.14159265f;
    m.positions.push_back({0, 1, 0});
    for (int r = 1; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const float t = pi * r / rings, p = 2 * pi * s / segments;
            m.positions.push_back({std::sin(t) * std::cos(p), std::cos(t), std::sin(t) * std::sin(p)});
        }
    }
    m.positions.push_back({0, -1, 0});
    m.normals = m.positions;
    const int last = static_cast<int>(m.positions.size()) - 1;
    auto at = [&](int r, int s) { return static_cast<RwUInt16>(1 + (r - 1) * segments + (s % segments)); };
    for (int s = 0; s < segments; ++s) {
        m.tris.insert(m.tris.end(), {0, at(1, s + 1), at(1, s)});
        for (int r = 1; r < rings - 1; ++r) {
            m.tris.insert(m.tris.end(), {at(r, s), at(r, s + 1), at(r + 1, s)});
            m.tris.insert(m.tris.end(), {at(r + 1, s), at(r, s + 1), at(r + 1, s + 1)});
        }
        m.tris.insert(m.tris.end(), {at(rings - 1, s), at(rings - 1, s + 1), static_cast<RwUInt16>(last)});
    }
    return Outward(m);
}

inline Mesh Cube()
{
    Mesh m;
    for (int i = 0; i < 8; ++i) {
        const RwV3d p = {i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f};
        m.positions.push_back(p);
        const float l = std::sqrt(3.0f);
        m.normals.push_back({p.x / l, p.y / l, p.z / l});
    }
    const RwUInt16 faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    for (const auto &f : faces) {
        m.tris.insert(m.tris.end(), {f[0], f[1], f[2], f[0], f[2], f[3]});
    }
    return Outward(m);
}

inline RwV3d FaceNormal(const Mesh &m, int t)
{
    const RwV3d &a = m.positions[m.tris[3 * t]], &b = m.positions[m.tris[3 * t + 1]], &c = m.positions[m.tris[3 * t + 2]];
    const RwV3d u = {b.x - a.x, b.y - a.y, b.z - a.z}, w = {c.x - a.x, c.y - a.y, c.z - a.z};
    return {u.y * w.z - u.z * w.y, u.z * w.x - u.x * w.z, u.x * w.y - u.y * w.x};
}

// Turns every triangle of a mesh around its origin to face outward.
inline Mesh Outward(Mesh m)
{
    for (size_t t = 0; t < m.tris.size() / 3; ++t) {
        const RwV3d n = FaceNormal(m, static_cast<int>(t));
        const RwV3d &a = m.positions[m.tris[3 * t]];
        if (n.x * a.x + n.y * a.y + n.z * a.z < 0.0f) {
            std::swap(m.tris[3 * t + 1], m.tris[3 * t + 2]);
        }
    }
    return m;
}

// Toon data for the mesh: its edges, creases first (faces meeting at a sharp angle), two ink slots.
inline RwToonGeo *ToonFor(const Mesh &m, const char *silhouetteInk, const char *creaseInk)
{
    const RwInt32 v = static_cast<RwInt32>(m.positions.size()), t = static_cast<RwInt32>(m.tris.size() / 3);
    RwToonGeo *toon = RwToonGeoCreate(v, t);
    std::map<std::pair<int, int>, RwToonEdge> edges;
    for (int i = 0; i < t; ++i) {
        for (int k = 0; k < 3; ++k) {
            const int a = m.tris[3 * i + k], b = m.tris[3 * i + (k + 1) % 3];
            auto key = std::make_pair(std::min(a, b), std::max(a, b));
            auto found = edges.find(key);
            if (found == edges.end()) {
                edges[key] = {{static_cast<RwUInt16>(a), static_cast<RwUInt16>(b)},
                              {static_cast<RwUInt16>(i), 0xFFFF},
                              {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}};
            } else {
                found->second.triangle[1] = static_cast<RwUInt16>(i);
            }
        }
        std::memcpy(toon->triangles[i].vertex, &m.tris[3 * i], 6);
        toon->triangleNormals[i] = FaceNormal(m, i);
    }
    std::vector<RwToonEdge> creases, rest;
    for (auto &e : edges) {
        const RwV3d n1 = FaceNormal(m, e.second.triangle[0]), n2 = FaceNormal(m, e.second.triangle[1]);
        const float cosine = (n1.x * n2.x + n1.y * n2.y + n1.z * n2.z) /
                             std::sqrt((n1.x * n1.x + n1.y * n1.y + n1.z * n1.z) * (n2.x * n2.x + n2.y * n2.y + n2.z * n2.z));
        (cosine < 0.5f ? creases : rest).push_back(e.second);
    }
    RwToonGeoSetEdges(toon, static_cast<RwInt32>(edges.size()), static_cast<RwInt32>(creases.size()));
    creases.insert(creases.end(), rest.begin(), rest.end());
    std::memcpy(toon->edges, creases.data(), creases.size() * sizeof(RwToonEdge));
    for (size_t i = 0; i < creases.size(); ++i) {
        toon->edgeInks[i] = {0, 1};
    }
    std::memcpy(toon->vertexNormals, m.normals.data(), v * sizeof(RwV3d));
    std::strcpy(toon->inkNames[0], silhouetteInk);
    std::strcpy(toon->inkNames[1], creaseInk);
    std::strcpy(toon->paintName, "split");
    return toon;
}

} // namespace toonmesh
