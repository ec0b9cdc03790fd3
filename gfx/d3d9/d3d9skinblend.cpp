// Processor skinning routines: one, two and four weights, each plain and with SSE.
#include "d3d9skinblend.h"

#include <xmmintrin.h>

namespace {

// Rows of a 4x3 matrix as plain reals.
struct Rows {
    RwReal r[4][3];
};

inline void Load(Rows *out, const RwMatrix *m, RwReal w)
{
    const RwV3d *v[4] = {&m->right, &m->up, &m->at, &m->pos};
    for (int i = 0; i < 4; ++i) {
        out->r[i][0] = v[i]->x * w;
        out->r[i][1] = v[i]->y * w;
        out->r[i][2] = v[i]->z * w;
    }
}

inline void Add(Rows *out, const RwMatrix *m, RwReal w)
{
    const RwV3d *v[4] = {&m->right, &m->up, &m->at, &m->pos};
    for (int i = 0; i < 4; ++i) {
        out->r[i][0] += v[i]->x * w;
        out->r[i][1] += v[i]->y * w;
        out->r[i][2] += v[i]->z * w;
    }
}

inline void Apply(const Rows &m, const RwV3d *p, const RwV3d *n, RwUInt8 *dest, RwUInt32 normalOffset)
{
    RwReal *out = reinterpret_cast<RwReal *>(dest);
    for (int c = 0; c < 3; ++c) {
        out[c] = p->x * m.r[0][c] + p->y * m.r[1][c] + p->z * m.r[2][c] + m.r[3][c];
    }
    if (n) {
        RwReal *on = reinterpret_cast<RwReal *>(dest + normalOffset);
        for (int c = 0; c < 3; ++c) {
            on[c] = n->x * m.r[0][c] + n->y * m.r[1][c] + n->z * m.r[2][c];
        }
    }
}

inline RwUInt32 Bone(RwUInt32 word, int j)
{
    return (word >> (8 * j)) & 0xFF;
}

// Plain: by weights 1, 2 or 4 (singleBone only for 1).
void BlendPlain(const RwD3D9SkinBlendJob *job, int weights, RwInt32 singleBone)
{
    RwUInt8 *dest = static_cast<RwUInt8 *>(job->dest);
    Rows rows;
    if (singleBone >= 0) {
        Load(&rows, &job->palette[singleBone], 1.0f);
    }
    for (RwUInt32 v = 0; v < job->numVertices; ++v, dest += job->stride) {
        const RwUInt32 word = job->indices[v];
        const RwReal *w = job->weights + 4 * v;
        if (singleBone < 0) {
            if (weights == 1 || w[0] >= 1.0f) {
                Load(&rows, &job->palette[Bone(word, 0)], 1.0f);
            } else {
                Load(&rows, &job->palette[Bone(word, 0)], w[0]);
                Add(&rows, &job->palette[Bone(word, 1)], w[1]);
                for (int j = 2; j < weights; ++j) {
                    if (w[j] > 0.0f) {
                        Add(&rows, &job->palette[Bone(word, j)], w[j]);
                    }
                }
            }
        }
        Apply(rows, &job->positions[v], job->normals ? &job->normals[v] : nullptr, dest, job->normalOffset);
    }
}

inline void Store3(RwUInt8 *d, __m128 v)
{
    _mm_storel_pi(reinterpret_cast<__m64 *>(d), v);
    _mm_store_ss(reinterpret_cast<float *>(d) + 2, _mm_movehl_ps(v, v));
}

struct SimdRows {
    __m128 r, u, a, p;
};

inline void SimdLoad(SimdRows *m, const RwMatrix *src)
{
    const float *f = reinterpret_cast<const float *>(src);
    m->r = _mm_load_ps(f);
    m->u = _mm_load_ps(f + 4);
    m->a = _mm_load_ps(f + 8);
    m->p = _mm_load_ps(f + 12);
}

inline void SimdAdd(SimdRows *m, const RwMatrix *src, __m128 w)
{
    const float *f = reinterpret_cast<const float *>(src);
    m->r = _mm_add_ps(m->r, _mm_mul_ps(_mm_load_ps(f), w));
    m->u = _mm_add_ps(m->u, _mm_mul_ps(_mm_load_ps(f + 4), w));
    m->a = _mm_add_ps(m->a, _mm_mul_ps(_mm_load_ps(f + 8), w));
    m->p = _mm_add_ps(m->p, _mm_mul_ps(_mm_load_ps(f + 12), w));
}

inline void SimdScale(SimdRows *m, const RwMatrix *src, __m128 w)
{
    const float *f = reinterpret_cast<const float *>(src);
    m->r = _mm_mul_ps(_mm_load_ps(f), w);
    m->u = _mm_mul_ps(_mm_load_ps(f + 4), w);
    m->a = _mm_mul_ps(_mm_load_ps(f + 8), w);
    m->p = _mm_mul_ps(_mm_load_ps(f + 12), w);
}

inline void SimdApply(const SimdRows &m, const RwV3d *p, const RwV3d *n, RwUInt8 *dest, RwUInt32 normalOffset)
{
    __m128 out = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(p->x), m.r), _mm_mul_ps(_mm_set1_ps(p->y), m.u)),
                            _mm_add_ps(_mm_mul_ps(_mm_set1_ps(p->z), m.a), m.p));
    Store3(dest, out);
    if (n) {
        __m128 on = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(n->x), m.r), _mm_mul_ps(_mm_set1_ps(n->y), m.u)),
                               _mm_mul_ps(_mm_set1_ps(n->z), m.a));
        Store3(dest + normalOffset, on);
    }
}

template <int weights, bool hasNormals>
void BlendSimd(const RwD3D9SkinBlendJob *job, RwInt32 singleBone)
{
    RwUInt8 *dest = static_cast<RwUInt8 *>(job->dest);
    const RwMatrix *palette = job->palette;
    SimdRows m = {};   // set before use on every path; the compiler cannot see it
    if (singleBone >= 0) {
        SimdLoad(&m, &palette[singleBone]);
    }
    for (RwUInt32 v = 0; v < job->numVertices; ++v, dest += job->stride) {
        const RwUInt32 word = job->indices[v];
        const RwReal *w = job->weights + 4 * v;
        if (singleBone < 0) {
            if (weights == 1 || w[0] >= 1.0f) {
                SimdLoad(&m, &palette[Bone(word, 0)]);
            } else {
                SimdScale(&m, &palette[Bone(word, 0)], _mm_set1_ps(w[0]));
                SimdAdd(&m, &palette[Bone(word, 1)], _mm_set1_ps(w[1]));
                if (weights > 2 && w[2] > 0.0f) {
                    SimdAdd(&m, &palette[Bone(word, 2)], _mm_set1_ps(w[2]));
                    if (w[3] > 0.0f) {
                        SimdAdd(&m, &palette[Bone(word, 3)], _mm_set1_ps(w[3]));
                    }
                }
            }
        }
        SimdApply(m, &job->positions[v], hasNormals ? &job->normals[v] : nullptr, dest, job->normalOffset);
    }
}

template <int weights>
void BlendSimd(const RwD3D9SkinBlendJob *job, RwInt32 singleBone)
{
    if (job->normals) {
        BlendSimd<weights, true>(job, singleBone);
    } else {
        BlendSimd<weights, false>(job, singleBone);
    }
}

} // namespace

void RwD3D9SkinBlend1(const RwD3D9SkinBlendJob *job, RwInt32 singleBone, RwBool simd)
{
    if (simd) {
        BlendSimd<1>(job, singleBone);
    } else {
        BlendPlain(job, 1, singleBone);
    }
}

void RwD3D9SkinBlend2(const RwD3D9SkinBlendJob *job, RwBool simd)
{
    if (simd) {
        BlendSimd<2>(job, -1);
    } else {
        BlendPlain(job, 2, -1);
    }
}

void RwD3D9SkinBlend4(const RwD3D9SkinBlendJob *job, RwBool simd)
{
    if (simd) {
        BlendSimd<4>(job, -1);
    } else {
        BlendPlain(job, 4, -1);
    }
}

void RwD3D9SkinBlend(const RwD3D9SkinBlendJob *job, RwUInt32 maxWeights, RwInt32 singleBone, RwBool simd)
{
    if (maxWeights > 2) {
        RwD3D9SkinBlend4(job, simd);
    } else if (maxWeights == 2) {
        RwD3D9SkinBlend2(job, simd);
    } else {
        RwD3D9SkinBlend1(job, singleBone, simd);
    }
}
