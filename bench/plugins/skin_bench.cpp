// Processor skinning throughput: 100,000 vertices with normals on 64 bones, beside a one-matrix loop.
#include <emmintrin.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gfx/d3d9/d3d9skinblend.h"
#include "bench/benchmode.h"

namespace {

const int kVertices = 100000, kBones = 64, kRepeats = 20;

struct alignas(16) Palette {
    RwMatrix m[kBones];
};

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

// The yardstick: each vertex and normal by one 4x3 matrix, its first bone's.
void OneMatrix(const RwD3D9SkinBlendJob &job)
{
    unsigned char *dest = static_cast<unsigned char *>(job.dest);
    for (RwUInt32 v = 0; v < job.numVertices; ++v, dest += job.stride) {
        const float *m = reinterpret_cast<const float *>(&job.palette[job.indices[v] & 0xFF]);
        const __m128 r = _mm_load_ps(m), u = _mm_load_ps(m + 4), a = _mm_load_ps(m + 8), p = _mm_load_ps(m + 12);
        const RwV3d &x = job.positions[v], &n = job.normals[v];
        const __m128 o = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(x.x), r), _mm_mul_ps(_mm_set1_ps(x.y), u)),
                                    _mm_add_ps(_mm_mul_ps(_mm_set1_ps(x.z), a), p));
        const __m128 on = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(n.x), r), _mm_mul_ps(_mm_set1_ps(n.y), u)),
                                     _mm_mul_ps(_mm_set1_ps(n.z), a));
        _mm_storeu_ps(reinterpret_cast<float *>(dest), o);
        _mm_storel_pi(reinterpret_cast<__m64 *>(dest + job.normalOffset), on);
        _mm_store_ss(reinterpret_cast<float *>(dest + job.normalOffset) + 2, _mm_movehl_ps(on, on));
    }
}

template <class F>
double Rate(F run)
{
    run();
    const double start = Now();
    for (int i = 0; i < kRepeats; ++i) {
        run();
    }
    return kVertices * double(kRepeats) / (Now() - start);
}

} // namespace

int main()
{
    KivBenchSayDirect3DMode(true);
    static Palette palette;
    for (int b = 0; b < kBones; ++b) {
        const float a = 0.1f * b;
        palette.m[b] = {{std::cos(a), std::sin(a), 0}, 0, {-std::sin(a), std::cos(a), 0}, 0, {0, 0, 1}, 0,
                        {float(b), 0, 0}, 0};
    }
    std::vector<RwV3d> positions(kVertices), normals(kVertices);
    std::vector<RwUInt32> indices(kVertices);
    std::vector<RwReal> weights(4 * kVertices);
    srand(7);
    for (int v = 0; v < kVertices; ++v) {
        positions[v] = {float(rand() % 100), float(rand() % 100), float(rand() % 100)};
        normals[v] = {0, 1, 0};
        RwUInt32 word = 0;
        float sum = 0;
        for (int j = 0; j < 4; ++j) {
            word |= RwUInt32(rand() % kBones) << (8 * j);
            weights[4 * v + j] = float(4 - j);
            sum += float(4 - j);
        }
        for (int j = 0; j < 4; ++j) {
            weights[4 * v + j] /= sum;
        }
        indices[v] = word;
    }
    // Position and normal in a 32-byte, 16-byte aligned vertex.
    float *out = static_cast<float *>(_mm_malloc(size_t(kVertices) * 32, 16));
    RwD3D9SkinBlendJob job = {palette.m, positions.data(), normals.data(), indices.data(), weights.data(),
                              kVertices, out, 32, 12};
    const double base = Rate([&] { OneMatrix(job); });
    std::printf("one 4x3 matrix (SSE2 loop): %.1f M vertices/s\n", base / 1e6);
    const double targets[] = {0.8, 0.45, 0.25};
    int i = 0;
    for (RwUInt32 w : {1u, 2u, 4u}) {
        for (RwBool simd : {TRUE, FALSE}) {
            const double r = Rate([&] { RwD3D9SkinBlend(&job, w, -1, simd); });
            std::printf("%u weight%s, %-5s: %.1f M vertices/s, %.2f of the loop%s\n", w, w > 1 ? "s" : " ",
                        simd ? "SSE" : "plain", r / 1e6, r / base,
                        simd ? (r / base >= targets[i] ? " (target met)" : " (below target)") : "");
        }
        ++i;
    }
    _mm_free(out);
    return 0;
}
