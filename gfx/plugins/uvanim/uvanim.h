// UV animation: keyframe schemes of texture transforms, "UVAnim" dictionaries and up to eight animations per material.
#pragma once

#include "gfx/core/rwtypes.h"
#include "gfx/plugins/animation/anim.h"

struct RwMaterial;
struct RwMatrix;
struct RwDictionarySchema;

enum : RwUInt32 {
    rwID_UVANIMPLUGIN = 0x135,
    rwID_UVANIMDICT = 0x2B,                 // chunk type of a "UVAnim" dictionary
};

enum : RwInt32 {
    rwUVANIMLINEARKEYFRAMES = 0x1C0,
    rwUVANIMPARAMKEYFRAMES = 0x1C1,
    rwUVANIMNUMSLOTS = 8,
    rwUVANIMMAXNODES = 8,
    rwUVANIMNAMELENGTH = 32,
    rwUVANIMKEYFRAMESTREAMSIZE = 32,        // time, six values, previous keyframe's index
    rwUVANIMSTREAMHEADSIZE = 68,            // reserved word, name, eight channels
};

// Error codes recorded under the plug-in's id.
enum : RwUInt32 {
    E_RP_UVANIM_BADSTREAM = 1,              // a mask, size, name, channel or link that cannot be right
    E_RP_UVANIM_BADSLOT = 2,
};

// Both schemes' custom data, in the animation's own block behind its keyframes.
struct RwUVAnimCustomData {
    RwChar name[rwUVANIMNAMELENGTH];
    RwInt32 nodeToUVChannel[rwUVANIMMAXNODES];
    RwInt32 refCount;
};
static_assert(sizeof(RwUVAnimCustomData) == 68, "custom data is 68 bytes");

// Linear scheme: right.x, right.y, up.x, up.y, pos.x, pos.y. Parametric
// scheme: angle (radians), scale u, scale v, skew, translation u, v.
struct RwUVAnimKeyFrame {
    RwUVAnimKeyFrame *prevFrame;
    RwReal time;
    RwReal uv[6];
};
static_assert(sizeof(RwUVAnimKeyFrame) == 32, "keyframe is 32 bytes");

struct RwUVAnimInterpFrame {
    RwUVAnimKeyFrame *keyFrame1;
    RwUVAnimKeyFrame *keyFrame2;
    RwReal uv[6];
};
static_assert(sizeof(RwUVAnimInterpFrame) == 32, "interpolated keyframe is 32 bytes");

// The material extension.
struct RwUVAnimMaterialData {
    RwMatrix *uv[2];                                // channel 0 and 1, NULL when absent
    RwAnimInterpolator *interp[rwUVANIMNUMSLOTS];   // NULL when free
};
static_assert(sizeof(RwUVAnimMaterialData) == 40, "material extension is 40 bytes");

RwBool RwUVAnimPluginAttach(void);
RwDictionarySchema *RwUVAnimGetDictSchema(void);

inline RwUVAnimCustomData *RwUVAnimGetCustomData(const RwAnimAnimation *animation)
{
    return static_cast<RwUVAnimCustomData *>(animation->customData);
}
const RwChar *RwUVAnimGetName(const RwAnimAnimation *animation);
// Drops one reference; the last one destroys the animation.
RwBool RwUVAnimDestroy(RwAnimAnimation *animation);
RwAnimAnimation *RwUVAnimAddRef(RwAnimAnimation *animation);
RwAnimAnimation *RwUVAnimCreateIdentity(const RwChar *name);

RwUVAnimMaterialData *RwUVAnimMaterialGetData(const RwMaterial *material);
RwMaterial *RwUVAnimMaterialSetAnim(RwMaterial *material, RwAnimAnimation *animation, RwInt32 slot);
RwAnimInterpolator *RwUVAnimMaterialGetInterpolator(const RwMaterial *material, RwInt32 slot);
RwBool RwUVAnimMaterialHasAnim(const RwMaterial *material);
RwMaterial *RwUVAnimMaterialAddTime(RwMaterial *material, RwReal seconds);
RwMaterial *RwUVAnimMaterialApplyUpdate(RwMaterial *material);
RwMaterial *RwUVAnimMaterialEnsureMatrices(RwMaterial *material);

// Keyframe callbacks of the two schemes.
void RwUVAnimLinearKeyFrameApply(void *matrix, void *frame);
void RwUVAnimLinearKeyFrameInterpolate(void *out, void *a, void *b, RwReal time, void *customData);
void RwUVAnimLinearKeyFrameBlend(void *out, void *a, void *b, RwReal fraction);
void RwUVAnimParamKeyFrameApply(void *matrix, void *frame);
void RwUVAnimParamKeyFrameInterpolate(void *out, void *a, void *b, RwReal time, void *customData);
void RwUVAnimParamKeyFrameBlend(void *out, void *a, void *b, RwReal fraction);
// Keyframe values from a texture matrix.
void RwUVAnimLinearKeyFrameFromMatrix(RwReal uv[6], const RwMatrix *matrix);
void RwUVAnimParamKeyFrameFromMatrix(RwReal uv[6], const RwMatrix *matrix);
