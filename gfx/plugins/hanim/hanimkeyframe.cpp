// Keyframe scheme 1: rotation and translation keyframes of skeleton nodes, their mathematics and stream form.
#include "hanim.h"

#include <cmath>
#include <cstdint>

#include "gfx/core/byteorder.h"
#include "gfx/core/finite.h"
#include "gfx/core/stream.h"

const RwAnimInterpolatorInfo rwHAnimKeyFrameScheme = {
    rwHANIMKEYFRAMESCHEME,
    sizeof(RwHAnimInterpFrame),
    sizeof(RwHAnimKeyFrame),
    RwHAnimKeyFrameToMatrix,
    RwHAnimKeyFrameBlend,
    RwHAnimKeyFrameInterpolate,
    RwHAnimKeyFrameAdd,
    RwHAnimKeyFrameMulRecip,
    RwHAnimKeyFrameStreamRead,
    RwHAnimKeyFrameStreamWrite,
    RwHAnimKeyFrameStreamGetSize,
    0,
};

// Spherical interpolation the short way round: a q2 in the other hemisphere
// is negated in place. Close quaternions are mixed linearly.
static void Slerp(RwQuat *out, const RwQuat *q1, RwQuat *q2, RwReal u)
{
    RwReal c = q1->x * q2->x + q1->y * q2->y + q1->z * q2->z + q1->w * q2->w;
    if (c < 0.0f) {
        c = -c;
        q2->x = -q2->x;
        q2->y = -q2->y;
        q2->z = -q2->z;
        q2->w = -q2->w;
    }
    RwReal w1 = 1.0f - u;
    RwReal w2 = u;
    if (c < 0.999f) {
        const RwReal theta = std::acos(c);
        const RwReal s = std::sin(theta);
        w1 = std::sin((1.0f - u) * theta) / s;
        w2 = std::sin(u * theta) / s;
    }
    const RwQuat r = {w1 * q1->x + w2 * q2->x, w1 * q1->y + w2 * q2->y, w1 * q1->z + w2 * q2->z,
                      w1 * q1->w + w2 * q2->w};
    *out = r;
}

static void Lerp(RwV3d *out, const RwV3d *a, const RwV3d *b, RwReal u)
{
    const RwV3d r = {a->x + (b->x - a->x) * u, a->y + (b->y - a->y) * u, a->z + (b->z - a->z) * u};
    *out = r;
}

// a x b, a on the left.
static RwQuat Multiply(const RwQuat &a, const RwQuat &b)
{
    return {a.w * b.x + b.w * a.x + a.y * b.z - a.z * b.y, a.w * b.y + b.w * a.y + a.z * b.x - a.x * b.z,
            a.w * b.z + b.w * a.z + a.x * b.y - a.y * b.x, a.w * b.w - (a.x * b.x + a.y * b.y + a.z * b.z)};
}

void RwHAnimKeyFrameToMatrix(void *matrix, void *slot)
{
    const RwHAnimInterpFrame *f = static_cast<const RwHAnimInterpFrame *>(slot);
    RwHAnimQuatToMatrix(static_cast<RwMatrix *>(matrix), &f->q, &f->t);
}

void RwHAnimKeyFrameInterpolate(void *out, void *keyFrame1, void *keyFrame2, RwReal time, void *)
{
    RwHAnimInterpFrame *o = static_cast<RwHAnimInterpFrame *>(out);
    const RwHAnimKeyFrame *k1 = static_cast<const RwHAnimKeyFrame *>(keyFrame1);
    RwHAnimKeyFrame *k2 = static_cast<RwHAnimKeyFrame *>(keyFrame2);
    // Keyframes at the same time (or out of order) give keyframe 2 rather
    // than a division by zero.
    const RwReal span = k2->time - k1->time;
    const RwReal u = span > 0.0f ? (time - k1->time) / span : 1.0f;
    Lerp(&o->t, &k1->t, &k2->t, u);
    Slerp(&o->q, &k1->q, &k2->q, u);
}

void RwHAnimKeyFrameBlend(void *out, void *in1, void *in2, RwReal alpha)
{
    RwHAnimInterpFrame *o = static_cast<RwHAnimInterpFrame *>(out);
    const RwHAnimInterpFrame *a = static_cast<const RwHAnimInterpFrame *>(in1);
    RwHAnimInterpFrame *b = static_cast<RwHAnimInterpFrame *>(in2);
    Lerp(&o->t, &a->t, &b->t, alpha);
    Slerp(&o->q, &a->q, &b->q, alpha);
}

void RwHAnimKeyFrameAdd(void *out, void *in1, void *in2)
{
    RwHAnimInterpFrame *o = static_cast<RwHAnimInterpFrame *>(out);
    const RwHAnimInterpFrame *a = static_cast<const RwHAnimInterpFrame *>(in1);
    const RwHAnimInterpFrame *b = static_cast<const RwHAnimInterpFrame *>(in2);
    const RwQuat q = Multiply(a->q, b->q);
    const RwV3d t = {a->t.x + b->t.x, a->t.y + b->t.y, a->t.z + b->t.z};
    o->q = q;
    o->t = t;
}

// Works on keyframes and slots alike: both keep the quaternion and the
// translation at the same place.
void RwHAnimKeyFrameMulRecip(void *frame, void *start)
{
    RwHAnimKeyFrame *f = static_cast<RwHAnimKeyFrame *>(frame);
    const RwHAnimKeyFrame *s = static_cast<const RwHAnimKeyFrame *>(start);
    const RwReal n = s->q.x * s->q.x + s->q.y * s->q.y + s->q.z * s->q.z + s->q.w * s->q.w;
    // A zero-length start has no inverse: the rotation is left as it is.
    if (n > 0.0f) {
        const RwQuat inverse = {-s->q.x / n, -s->q.y / n, -s->q.z / n, s->q.w / n};
        f->q = Multiply(inverse, f->q);
    }
    f->t.x -= s->t.x;
    f->t.y -= s->t.y;
    f->t.z -= s->t.z;
}

RwInt32 RwHAnimKeyFrameStreamGetSize(const RwAnimAnimation *animation)
{
    const long long bytes = static_cast<long long>(animation->numFrames) * rwHANIMKEYFRAMESTREAMSIZE;
    return bytes > 0x7FFFFFFFLL ? 0x7FFFFFFF : static_cast<RwInt32>(bytes);
}

RwAnimAnimation *RwHAnimKeyFrameStreamRead(RwStream *stream, RwAnimAnimation *animation)
{
    RwHAnimKeyFrame *frames = static_cast<RwHAnimKeyFrame *>(animation->pFrames);
    const uintptr_t base = reinterpret_cast<uintptr_t>(frames);
    for (RwInt32 i = 0; i < animation->numFrames; ++i) {
        RwUInt8 rec[rwHANIMKEYFRAMESTREAMSIZE];
        if (!RwStreamReadExact(stream, rec, sizeof rec)) {
            return nullptr;
        }
        RwHAnimKeyFrame *k = &frames[i];
        k->time = ReadF32(rec);
        k->q = {ReadF32(rec + 4), ReadF32(rec + 8), ReadF32(rec + 12), ReadF32(rec + 16)};
        k->t = {ReadF32(rec + 20), ReadF32(rec + 24), ReadF32(rec + 28)};
        const RwReal values[8] = {k->time, k->q.x, k->q.y, k->q.z, k->q.w, k->t.x, k->t.y, k->t.z};
        if (!RwStreamRealsFinite(values, 8)) {
            return nullptr;
        }
        // Kept whatever it holds: the interpolator follows only links to
        // earlier keyframes.
        const RwInt32 offset = ReadI32(rec + 32) / rwHANIMKEYFRAMESTREAMSIZE * rwHANIMKEYFRAMESTREAMSIZE;
        k->prevFrame = reinterpret_cast<RwHAnimKeyFrame *>(base + static_cast<uintptr_t>(static_cast<intptr_t>(offset)));
    }
    return animation;
}

RwBool RwHAnimKeyFrameStreamWrite(const RwAnimAnimation *animation, RwStream *stream)
{
    const RwHAnimKeyFrame *frames = static_cast<const RwHAnimKeyFrame *>(animation->pFrames);
    const uintptr_t base = reinterpret_cast<uintptr_t>(frames);
    for (RwInt32 i = 0; i < animation->numFrames; ++i) {
        const RwHAnimKeyFrame *k = &frames[i];
        RwUInt8 rec[rwHANIMKEYFRAMESTREAMSIZE];
        const RwReal values[8] = {k->time, k->q.x, k->q.y, k->q.z, k->q.w, k->t.x, k->t.y, k->t.z};
        for (int v = 0; v < 8; ++v) {
            WriteF32(rec + 4 * v, values[v]);
        }
        WriteU32(rec + 32, static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(k->prevFrame) - base));
        if (!RwStreamWrite(stream, rec, sizeof rec)) {
            return FALSE;
        }
    }
    return TRUE;
}
