// UV animation keyframes: the linear and parametric schemes, their mathematics and their stream form.
#include <cmath>
#include <cstring>

#include "gfx/core/byteorder.h"
#include "gfx/core/error.h"
#include "gfx/core/finite.h"
#include "gfx/core/matrix.h"
#include "gfx/core/stream.h"
#include "uvanimint.h"

namespace {

const RwReal kDegreesPerRadian = 57.2957763671875f;
const RwReal kPi = 3.14159265358979f;

// One 2D affine map as six values: right.x, right.y, up.x, up.y, pos.x, pos.y.
void Compose(RwReal out[6], const RwReal a[6], const RwReal b[6])
{
    const RwReal r[6] = {a[0] * b[0] + a[1] * b[2],        a[0] * b[1] + a[1] * b[3],
                         a[2] * b[0] + a[3] * b[2],        a[2] * b[1] + a[3] * b[3],
                         a[4] * b[0] + a[5] * b[2] + b[4], a[4] * b[1] + a[5] * b[3] + b[5]};
    std::memcpy(out, r, sizeof r);
}

void LinearAdd(void *out, void *in1, void *in2)
{
    Compose(static_cast<RwUVAnimInterpFrame *>(out)->uv, static_cast<RwUVAnimInterpFrame *>(in1)->uv,
            static_cast<RwUVAnimInterpFrame *>(in2)->uv);
}

// frame = inverse(start) then frame; a start without inverse leaves it.
void LinearMulRecip(void *frame, void *start)
{
    const RwReal *s = static_cast<RwUVAnimKeyFrame *>(start)->uv;
    const RwReal det = s[0] * s[3] - s[1] * s[2];
    if (det == 0.0f) {
        return;
    }
    const RwReal inverse[6] = {s[3] / det,
                               -s[1] / det,
                               -s[2] / det,
                               s[0] / det,
                               -(s[4] * s[3] - s[5] * s[2]) / det,
                               -(-s[4] * s[1] + s[5] * s[0]) / det};
    RwReal *f = static_cast<RwUVAnimKeyFrame *>(frame)->uv;
    Compose(f, inverse, f);
}

void NoAdd(void *, void *, void *) {}
void NoMulRecip(void *, void *) {}

RwReal Fraction(const RwUVAnimKeyFrame *a, const RwUVAnimKeyFrame *b, RwReal time)
{
    const RwReal span = b->time - a->time;
    return span > 0.0f ? (time - a->time) / span : 1.0f;
}

void Mix(RwReal *out, const RwReal *a, const RwReal *b, RwReal f)
{
    for (int i = 0; i < 6; ++i) {
        out[i] = a[i] + (b[i] - a[i]) * f;
    }
}

// The angle the short way round.
void MixParam(RwReal *out, const RwReal *a, const RwReal *b, RwReal f)
{
    RwReal d = b[0] - a[0];
    if (d < -kPi) {
        d += 2.0f * kPi;
    } else if (d > kPi) {
        d -= 2.0f * kPi;
    }
    const RwReal angle = a[0] + d * f;
    Mix(out, a, b, f);
    out[0] = angle;
}

void SetRows(RwMatrix *m, RwReal rx, RwReal ry, RwReal ux, RwReal uy, RwReal px, RwReal py)
{
    m->right = {rx, ry, 0.0f};
    m->up = {ux, uy, 0.0f};
    m->at = {0.0f, 0.0f, 0.0f};
    m->pos = {px, py, 0.0f};
    m->flags = 0;
}

// Turns m about the texture centre by degrees.
void TurnAboutCentre(RwMatrix *m, RwReal degrees)
{
    const RwV3d toOrigin = {-0.5f, -0.5f, 0.0f}, back = {0.5f, 0.5f, 0.0f}, axis = {0.0f, 0.0f, 1.0f};
    RwMatrixTranslate(m, &toOrigin, rwCOMBINEPOSTCONCAT);
    RwMatrixRotate(m, &axis, degrees, rwCOMBINEPOSTCONCAT);
    RwMatrixTranslate(m, &back, rwCOMBINEPOSTCONCAT);
}

RwInt32 StreamGetSize(const RwAnimAnimation *animation)
{
    const long long bytes = rwUVANIMSTREAMHEADSIZE + static_cast<long long>(animation->numFrames) * 32;
    return bytes > 0x7FFFFFFFLL ? 0x7FFFFFFF : static_cast<RwInt32>(bytes);
}

RwAnimAnimation *Refuse(void)
{
    RwErrorRaise(static_cast<RwInt32>(rwID_UVANIMPLUGIN), E_RP_UVANIM_BADSTREAM);
    return nullptr;
}

// A node's channel is taken as stored: the update skips channels it has no
// matrix for.
RwAnimAnimation *StreamRead(RwStream *stream, RwAnimAnimation *animation)
{
    RwUInt8 head[rwUVANIMSTREAMHEADSIZE];
    if (!RwStreamReadExact(stream, head, sizeof head)) {
        return nullptr;
    }
    RwUVAnimCustomData *data = RwUVAnimInitCustomData(animation);
    std::memcpy(data->name, head + 4, rwUVANIMNAMELENGTH);
    if (!std::memchr(data->name, 0, rwUVANIMNAMELENGTH)) {
        return Refuse();
    }
    for (RwInt32 n = 0; n < rwUVANIMMAXNODES; ++n) {
        data->nodeToUVChannel[n] = ReadI32(head + 36 + 4 * n);
    }
    RwUVAnimKeyFrame *frames = static_cast<RwUVAnimKeyFrame *>(animation->pFrames);
    for (RwInt32 i = 0; i < animation->numFrames; ++i) {
        RwUInt8 rec[rwUVANIMKEYFRAMESTREAMSIZE];
        if (!RwStreamReadExact(stream, rec, sizeof rec)) {
            return nullptr;
        }
        frames[i].time = ReadF32(rec);
        for (int c = 0; c < 6; ++c) {
            frames[i].uv[c] = ReadF32(rec + 4 + 4 * c);
        }
        if (!RwStreamRealsFinite(&frames[i].time, 1) || !RwStreamRealsFinite(frames[i].uv, 6)) {
            return nullptr;
        }
        // Any keyframe of the array may be linked (a first keyframe that is its
        // own previous one holds no node): the interpolator follows only links
        // to earlier keyframes.
        const RwInt32 prev = ReadI32(rec + 28);
        if (prev < -1 || prev >= animation->numFrames) {
            return Refuse();
        }
        frames[i].prevFrame = prev < 0 ? nullptr : &frames[prev];
    }
    if (RwAnimAnimationGetNumNodes(animation) > rwUVANIMMAXNODES) {
        return Refuse();
    }
    return animation;
}

RwBool StreamWrite(const RwAnimAnimation *animation, RwStream *stream)
{
    const RwUVAnimCustomData *data = RwUVAnimGetCustomData(animation);
    RwUInt8 head[rwUVANIMSTREAMHEADSIZE] = {};
    std::memcpy(head + 4, data->name, rwUVANIMNAMELENGTH);
    for (RwInt32 n = 0; n < rwUVANIMMAXNODES; ++n) {
        WriteI32(head + 36 + 4 * n, data->nodeToUVChannel[n]);
    }
    if (!RwStreamWrite(stream, head, sizeof head)) {
        return FALSE;
    }
    const RwUVAnimKeyFrame *frames = static_cast<const RwUVAnimKeyFrame *>(animation->pFrames);
    for (RwInt32 i = 0; i < animation->numFrames; ++i) {
        RwUInt8 rec[rwUVANIMKEYFRAMESTREAMSIZE];
        WriteF32(rec, frames[i].time);
        for (int c = 0; c < 6; ++c) {
            WriteF32(rec + 4 + 4 * c, frames[i].uv[c]);
        }
        WriteI32(rec + 28, frames[i].prevFrame ? static_cast<RwInt32>(frames[i].prevFrame - frames) : -1);
        if (!RwStreamWrite(stream, rec, sizeof rec)) {
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace

void RwUVAnimLinearKeyFrameApply(void *matrix, void *frame)
{
    const RwReal *c = static_cast<RwUVAnimInterpFrame *>(frame)->uv;
    SetRows(static_cast<RwMatrix *>(matrix), c[0], c[1], c[2], c[3], c[4], c[5]);
}

void RwUVAnimLinearKeyFrameInterpolate(void *out, void *a, void *b, RwReal time, void *)
{
    const RwUVAnimKeyFrame *ka = static_cast<RwUVAnimKeyFrame *>(a), *kb = static_cast<RwUVAnimKeyFrame *>(b);
    Mix(static_cast<RwUVAnimInterpFrame *>(out)->uv, ka->uv, kb->uv, Fraction(ka, kb, time));
}

void RwUVAnimLinearKeyFrameBlend(void *out, void *a, void *b, RwReal fraction)
{
    Mix(static_cast<RwUVAnimInterpFrame *>(out)->uv, static_cast<RwUVAnimInterpFrame *>(a)->uv,
        static_cast<RwUVAnimInterpFrame *>(b)->uv, fraction);
}

void RwUVAnimParamKeyFrameApply(void *matrix, void *frame)
{
    const RwReal *c = static_cast<RwUVAnimInterpFrame *>(frame)->uv;
    RwMatrix *m = static_cast<RwMatrix *>(matrix);
    SetRows(m, c[1], c[3], 0.0f, c[2], c[4], c[5]);
    TurnAboutCentre(m, c[0] * kDegreesPerRadian);
}

void RwUVAnimParamKeyFrameInterpolate(void *out, void *a, void *b, RwReal time, void *)
{
    const RwUVAnimKeyFrame *ka = static_cast<RwUVAnimKeyFrame *>(a), *kb = static_cast<RwUVAnimKeyFrame *>(b);
    MixParam(static_cast<RwUVAnimInterpFrame *>(out)->uv, ka->uv, kb->uv, Fraction(ka, kb, time));
}

void RwUVAnimParamKeyFrameBlend(void *out, void *a, void *b, RwReal fraction)
{
    MixParam(static_cast<RwUVAnimInterpFrame *>(out)->uv, static_cast<RwUVAnimInterpFrame *>(a)->uv,
             static_cast<RwUVAnimInterpFrame *>(b)->uv, fraction);
}

void RwUVAnimLinearKeyFrameFromMatrix(RwReal uv[6], const RwMatrix *m)
{
    const RwReal values[6] = {m->right.x, m->right.y, m->up.x, m->up.y, m->pos.x, m->pos.y};
    std::memcpy(uv, values, sizeof values);
}

void RwUVAnimParamKeyFrameFromMatrix(RwReal uv[6], const RwMatrix *matrix)
{
    RwMatrix m = *matrix;
    const RwReal angle = std::atan2(-m.up.x, m.right.x);
    TurnAboutCentre(&m, angle * -kDegreesPerRadian);
    const RwReal values[6] = {angle, m.right.x, m.up.y, m.right.y, m.pos.x, m.pos.y};
    std::memcpy(uv, values, sizeof values);
}

const RwAnimInterpolatorInfo rwUVAnimLinearScheme = {
    rwUVANIMLINEARKEYFRAMES,         sizeof(RwUVAnimInterpFrame),     sizeof(RwUVAnimKeyFrame),
    RwUVAnimLinearKeyFrameApply,     RwUVAnimLinearKeyFrameBlend,     RwUVAnimLinearKeyFrameInterpolate,
    LinearAdd,                       LinearMulRecip,                  StreamRead,
    StreamWrite,                     StreamGetSize,                   sizeof(RwUVAnimCustomData),
};

const RwAnimInterpolatorInfo rwUVAnimParamScheme = {
    rwUVANIMPARAMKEYFRAMES,          sizeof(RwUVAnimInterpFrame),     sizeof(RwUVAnimKeyFrame),
    RwUVAnimParamKeyFrameApply,      RwUVAnimParamKeyFrameBlend,      RwUVAnimParamKeyFrameInterpolate,
    NoAdd,                           NoMulRecip,                      StreamRead,
    StreamWrite,                     StreamGetSize,                   sizeof(RwUVAnimCustomData),
};
