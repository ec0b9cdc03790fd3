// Benchmark of hierarchy playback: 200 hierarchies of 64 nodes stepped and updated per frame, beside a flat loop.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/plugins/hanim/hanim.h"
#include "bench/benchmode.h"

namespace {

const int kHierarchies = 200;
const int kNodes = 64;
const int kFrames = 300;
const RwReal kStep = 1.0f / 60.0f;

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

RwQuat Quat(int seed)
{
    const RwReal a = 0.37f * static_cast<RwReal>(seed % 17), b = 0.11f * static_cast<RwReal>(seed % 29);
    return {std::sin(a) * std::cos(b), std::sin(a) * std::sin(b), std::cos(a) * 0.6f, std::cos(a) * 0.8f};
}

// Every node has keyframes at 0, 1 and 2 s; each node's parent is the one before.
RwAnimAnimation *MakeAnimation()
{
    RwAnimAnimation *a = RwAnimAnimationCreate(rwHANIMKEYFRAMESCHEME, 3 * kNodes, 0, 2.0f);
    RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
    for (int i = 0; i < 3 * kNodes; ++i) {
        k[i] = {i < kNodes ? nullptr : &k[i - kNodes], static_cast<RwReal>(i / kNodes), Quat(i), {0.1f, 1.0f, 0.0f}};
    }
    return a;
}

// The same work on flat arrays: slerp, quaternion to matrix, parent multiply.
struct Flat {
    std::vector<RwQuat> q1, q2;
    std::vector<RwV3d> t1, t2;
    std::vector<RwMatrix> out;
};

void FlatSlerp(RwQuat *o, const RwQuat &a, const RwQuat &b, RwReal u)
{
    RwReal c = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    const RwReal sign = c < 0 ? -1.0f : 1.0f;
    c *= sign;
    RwReal w1 = 1 - u, w2 = u * sign;
    if (c < 0.999f) {
        const RwReal th = std::acos(c), s = std::sin(th);
        w1 = std::sin((1 - u) * th) / s;
        w2 = sign * std::sin(u * th) / s;
    }
    *o = {w1 * a.x + w2 * b.x, w1 * a.y + w2 * b.y, w1 * a.z + w2 * b.z, w1 * a.w + w2 * b.w};
}

void FlatFrame(Flat &f, RwReal u)
{
    for (int h = 0; h < kHierarchies; ++h) {
        RwMatrix parent;
        RwMatrixSetIdentity(&parent);
        for (int n = 0; n < kNodes; ++n) {
            const int i = h * kNodes + n;
            RwQuat q;
            FlatSlerp(&q, f.q1[i], f.q2[i], u);
            const RwV3d t = {f.t1[i].x + (f.t2[i].x - f.t1[i].x) * u, f.t1[i].y + (f.t2[i].y - f.t1[i].y) * u,
                             f.t1[i].z + (f.t2[i].z - f.t1[i].z) * u};
            RwMatrix local;
            RwHAnimQuatToMatrix(&local, &q, &t);
            RwMatrixMultiply(&f.out[i], &local, &parent);
            parent = f.out[i];
        }
    }
}

}  // namespace

int main()
{
    KivBenchSayDirect3DMode(false);
    RwEngineOpenParams params = {nullptr};
    if (!RwEngineInit(nullptr, 0, 0) || !RwAnimPluginAttach() || !RwHAnimPluginAttach() || !RwEngineOpen(&params) ||
        !RwEngineStart()) {
        printf("engine start failed\n");
        return 1;
    }
    RwAnimAnimation *anim = MakeAnimation();
    std::vector<RwHAnimHierarchy *> hierarchies;
    for (int h = 0; h < kHierarchies; ++h) {
        RwHAnimHierarchy *hierarchy = RwHAnimHierarchyCreate(kNodes, nullptr, nullptr, 0, sizeof(RwHAnimInterpFrame));
        RwAnimInterpolatorSetCurrentAnim(hierarchy->currentAnim, anim);
        RwAnimInterpolatorAddTime(hierarchy->currentAnim, 0.01f * static_cast<RwReal>(h));
        hierarchies.push_back(hierarchy);
    }
    Flat flat;
    for (int i = 0; i < kHierarchies * kNodes; ++i) {
        flat.q1.push_back(Quat(i % kNodes));
        flat.q2.push_back(Quat(i % kNodes + kNodes));
        flat.t1.push_back({0.1f, 1.0f, 0.0f});
        flat.t2.push_back({0.1f, 1.0f, 0.0f});
    }
    flat.out.resize(flat.q1.size());

    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    for (int frame = 0; frame < kFrames; ++frame) {
        for (RwHAnimHierarchy *h : hierarchies) {
            RwAnimInterpolatorAddTime(h->currentAnim, kStep);
            RwHAnimHierarchyUpdateMatrices(h);
        }
    }
    QueryPerformanceCounter(&t1);
    for (int frame = 0; frame < kFrames; ++frame) {
        FlatFrame(flat, static_cast<RwReal>(frame % 60) / 60.0f);
    }
    QueryPerformanceCounter(&t2);

    const double nodes = static_cast<double>(kFrames) * kHierarchies * kNodes;
    const double hierarchyRate = nodes / Seconds(t0, t1);
    const double flatRate = nodes / Seconds(t1, t2);
    printf("hierarchies: %.0f nodes/s\n", hierarchyRate);
    printf("flat loop:   %.0f nodes/s\n", flatRate);
    printf("ratio:       %.2f (target at least 0.50)\n", hierarchyRate / flatRate);

    for (RwHAnimHierarchy *h : hierarchies) {
        RwHAnimHierarchyDestroy(h);
    }
    RwAnimAnimationDestroy(anim);
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    return 0;
}
