// Material effects: bump, environment, dual-texture and UV-transform effects on materials, flagged atomics and sectors.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwFrame;
struct RwMaterial;
struct RwMatrix;
struct RwRaster;
struct RwTexture;
struct RwWorldSector;
struct RxPipeline;

enum : RwUInt32 {
    rwID_MATERIALEFFECTSPLUGIN = 0x120,
    rwMATFXHINT = rwID_MATERIALEFFECTSPLUGIN,
};

enum RwMatFxEffectType : RwInt32 {
    rwMATFXEFFECTNULL = 0,
    rwMATFXEFFECTBUMPMAP = 1,
    rwMATFXEFFECTENVMAP = 2,
    rwMATFXEFFECTBUMPENVMAP = 3,
    rwMATFXEFFECTDUAL = 4,
    rwMATFXEFFECTUVTRANSFORM = 5,
    rwMATFXEFFECTDUALUVTRANSFORM = 6,
    rwMATFXEFFECTMAX = 6,
};

// Kinds of one effect slot (the type's first kinds share its values).
enum : RwInt32 {
    rwMATFXKINDEMPTY = 0,
    rwMATFXKINDBUMPMAP = 1,
    rwMATFXKINDENVMAP = 2,
    rwMATFXKINDDUAL = 4,
    rwMATFXKINDUVTRANSFORM = 5,
};

// Error codes recorded under the plug-in's id.
enum : RwUInt32 {
    E_RP_MATFX_BADTYPE = 1,     // an effect type outside 0..6, or slot kinds that disagree with it
};

struct RwMatFxBumpMapData {
    RwFrame *frame;             // not owned
    RwTexture *bumpedTexture;   // one reference held
    RwTexture *bumpTexture;     // one reference held
    RwReal coef;                // the negation of the streamed value
    RwReal invBumpWidth;        // 1 / width of the bumped texture's raster, 0 when unknown
};

struct RwMatFxEnvMapData {
    RwFrame *frame;             // not owned; NULL: the camera's
    RwTexture *texture;         // one reference held
    RwReal coef;
    RwBool useFrameBufferAlpha;
    RwUInt32 unused;
};

struct RwMatFxDualData {
    RwTexture *texture;         // one reference held
    RwInt32 srcBlendMode;       // Direct3D blend values
    RwInt32 dstBlendMode;
    RwUInt32 unused[2];
};

struct RwMatFxUVTransformData {
    RwMatrix *baseTransform;    // channel 0; not owned; NULL: none
    RwMatrix *dualTransform;    // channel 1
    RwUInt32 unused[3];
};

struct RwMatFxEffectSlot {
    union {
        RwMatFxBumpMapData bumpMap;
        RwMatFxEnvMapData envMap;
        RwMatFxDualData dual;
        RwMatFxUVTransformData uvTransform;
    } data;
    RwInt32 kind;
};
static_assert(sizeof(RwMatFxEffectSlot) == 24, "slot is five data words and its kind");

struct RwMatFxEffectBlock {
    RwMatFxEffectSlot slots[2];
    RwInt32 type;
};
static_assert(sizeof(RwMatFxEffectBlock) == 52, "effect block is 52 bytes");

RwBool RwMatFxPluginAttach(void);

// The material's block, or NULL when it has none.
RwMatFxEffectBlock *RwMatFxMaterialGetEffects(const RwMaterial *material);
RwMatFxEffectType RwMatFxMaterialGetEffectType(const RwMaterial *material);
RwMaterial *RwMatFxMaterialSetEffects(RwMaterial *material, RwInt32 type);
RwMatFxEffectSlot *RwMatFxMaterialGetEffectSlot(const RwMaterial *material, RwInt32 kind);
void RwMatFxMaterialClearEffects(RwMatFxEffectBlock *block);
// Setters on a slot the material's type lacks change nothing and return NULL.
RwMaterial *RwMatFxMaterialSetUVTransformMatrices(RwMaterial *material, RwMatrix *base, RwMatrix *dual);
RwMaterial *RwMatFxMaterialSetDualBlendModes(RwMaterial *material, RwInt32 srcBlend, RwInt32 dstBlend);
RwMaterial *RwMatFxMaterialSetBumpTexture(RwMaterial *material, RwTexture *bumpTexture);
// The base texture's colour with the bump texture's brightness as alpha.
RwTexture *RwMatFxCreateBumpedTexture(RwTexture *base, RwTexture *bump);
// The bumped texture's name: the two names' characters taken in turn.
void RwMatFxBumpedTextureName(RwChar *out, const RwChar *baseName, const RwChar *bumpName);

RwAtomic *RwMatFxAtomicEnableEffects(RwAtomic *atomic);
RwBool RwMatFxAtomicQueryEffects(const RwAtomic *atomic);
RwWorldSector *RwMatFxWorldSectorEnableEffects(RwWorldSector *sector);
RwBool RwMatFxWorldSectorQueryEffects(const RwWorldSector *sector);
RwAtomic *RwMatFxAtomicSetPipeline(RwAtomic *atomic);
RwWorldSector *RwMatFxWorldSectorSetPipeline(RwWorldSector *sector);

// The effects pipelines, made by the device part at the plug-in's first open.
struct RwMatFxPipelineSet {
    RxPipeline *atomic;
    RxPipeline *worldSector;
};
extern RwMatFxPipelineSet rwMatFxPipelines;

// Supplied by the device driver (or a test's stand-in).
RwBool RwMatFxPipelinesCreate(void);
void RwMatFxPipelinesDestroy(void);
RwBool RwMatFxRasterIsCompressed(const RwRaster *raster);

// Slot kinds of an effect type; FALSE for a type outside 0..6.
RwBool RwMatFxTypeKinds(RwInt32 type, RwInt32 kinds[2]);
