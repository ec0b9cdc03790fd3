// Material effects on the device: the render callback and the plain, no-colour, environment-map and dual renderers.
#include <cstring>

#include "d3d9allinone.h"
#include "d3d9device.h"
#include "d3d9matfx.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"

namespace {

const RwUInt32 kTextured = rwGEOMETRYTEXTURED | rwGEOMETRYTEXTURED2;

RwUInt32 GetState(RwUInt32 state)
{
    RwUInt32 value = 0;
    RwD3D9GetRenderState(state, &value);
    return value;
}

RwInt32 EngineState(RwInt32 state)
{
    RwInt32 value = 0;
    RwD3D9RenderStateGetHandler(state, &value);
    return value;
}

void SetTransformRows(RwUInt32 stage, const RwV3d rows[4])
{
    D3DMATRIX m = {};
    for (int r = 0; r < 4; ++r) {
        m.m[r][0] = rows[r].x;
        m.m[r][1] = rows[r].y;
        m.m[r][2] = rows[r].z;
    }
    m._44 = 1.0f;
    RwD3D9SetTransform(D3DTS_TEXTURE0 + stage, &m);
}

bool ValidatesInOnePass(void)
{
    DWORD passes = 0;
    RwD3D9FlushRenderStates();
    return rwD3D9Driver.device && SUCCEEDED(rwD3D9Driver.device->ValidateDevice(&passes)) && passes == 1;
}

// Saves a Direct3D render state and sets another value; the destructor puts it back.
struct SavedState {
    RwUInt32 state, value;
    SavedState(RwUInt32 s, RwUInt32 v) : state(s), value(GetState(s)) { RwD3D9SetRenderState(s, v); }
    ~SavedState() { RwD3D9SetRenderState(state, value); }
};

// The engine-level blend modes, put back when the pass is over.
struct SavedBlend {
    RwInt32 src = EngineState(rwRENDERSTATESRCBLEND), dst = EngineState(rwRENDERSTATEDESTBLEND);
    RwBool vertexAlpha = RwD3D9GetVertexAlphaEnable();
    SavedBlend(RwUInt32 newSrc, RwUInt32 newDst)
    {
        if (!vertexAlpha) {
            RwD3D9SetVertexAlphaEnable(TRUE);
        }
        RwD3D9SetSrcBlend(newSrc);
        RwD3D9SetDestBlend(newDst);
    }
    ~SavedBlend()
    {
        RwD3D9SetVertexAlphaEnable(vertexAlpha);
        RwD3D9SetSrcBlend(static_cast<RwUInt32>(src));
        RwD3D9SetDestBlend(static_cast<RwUInt32>(dst));
    }
};

// The additive pass of an environment map: its texels scaled by k added to the frame buffer.
void EnvMapAdditivePass(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh,
                        const RwMatFxEnvMapData *env, RwUInt32 k)
{
    RwMatFxSetupEnvMapStage(env->texture, 0, env->frame);
    SavedBlend blend(D3DBLEND_SRCALPHA, D3DBLEND_ONE);
    if (k < 255) {
        RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, k * 0x01010101u);
        RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR);
    } else {
        RwMatFxStageOp(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    }
    RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    {
        SavedState lighting(D3DRS_LIGHTING, FALSE), zwrite(D3DRS_ZWRITEENABLE, FALSE);
        const bool fog = GetState(D3DRS_FOGENABLE) != 0;
        SavedState fogColour(D3DRS_FOGCOLOR, fog ? 0 : GetState(D3DRS_FOGCOLOR));
        RwD3D9SetPixelShader(nullptr);
        RwD3D9SetVertexShader(mesh->vertexShader);
        RwD3D9DrawInstanceMesh(header, mesh);
    }
    RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    RwMatFxStageAlphaOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
}

enum EnvMode { rwENVSHADER, rwENVONEPASS, rwENVTWOPASS };

EnvMode ChooseEnvMode(const RwD3D9InstanceMesh *mesh, const RwMatFxEnvMapData *env, RwTexture *base, bool textured,
                      RwUInt32 k)
{
    const bool opaque = !mesh->vertexAlpha && mesh->material->color.alpha == 255 &&
                        !(textured && RwD3D9TextureHasAlpha(base));
    if (!env->useFrameBufferAlpha && !opaque) {
        return rwENVTWOPASS;
    }
    if (RwD3D9TextureHasAlpha(env->texture)) {
        return rwMatFxDevice.shaders[textured ? 1 : 2] ? rwENVSHADER : rwENVTWOPASS;
    }
    if (rwMatFxDevice.multiplyAdd ||
        (k == 255 && (!textured || rwMatFxDevice.envAddValid || rwMatFxDevice.validateEnvAdd))) {
        return rwENVONEPASS;
    }
    return rwENVTWOPASS;
}

void SetCoefficient(RwReal coefficient)
{
    const float c[4] = {coefficient, coefficient, coefficient, coefficient};
    if (rwD3D9Driver.device) {
        rwD3D9Driver.device->SetPixelShaderConstantF(0, c, 1);
    }
}

void EnvMapShaderPass(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh,
                      const RwMatFxEnvMapData *env, bool textured)
{
    const RwUInt32 stage = textured ? 1 : 0;
    SetCoefficient(env->coef);
    RwMatFxSetupEnvMapStage(env->texture, stage, env->frame);
    RwD3D9SetPixelShader(rwMatFxDevice.shaders[textured ? 1 : 2]);
    RwD3D9SetVertexShader(mesh->vertexShader);
    RwD3D9DrawInstanceMesh(header, mesh);
    RwD3D9SetPixelShader(nullptr);
    if (textured) {
        RwD3D9SetTexture(nullptr, 1);
    }
    RwD3D9SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwD3D9SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, stage);
}

void EnvMapOnePass(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, const RwMatFxEnvMapData *env,
                   bool textured, RwUInt32 k)
{
    RwD3D9SetPixelShader(nullptr);
    RwD3D9SetVertexShader(mesh->vertexShader);
    if (k == 255 && !textured) {
        RwMatFxSetupEnvMapStage(env->texture, 0, env->frame);
        RwMatFxStageOp(0, D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwD3D9DrawInstanceMesh(header, mesh);
        RwD3D9SetTexture(nullptr, 0);
        RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        return;
    }
    RwMatFxSetupEnvMapStage(env->texture, 1, env->frame);
    if (k < 255) {
        RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, k * 0x01010101u);
        RwMatFxStageOp(1, D3DTOP_MULTIPLYADD, D3DTA_TEXTURE, D3DTA_TFACTOR);
        RwD3D9SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_CURRENT);
    } else {
        RwMatFxStageOp(1, D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT);
    }
    RwMatFxStageAlphaOp(1, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT);
    if (k == 255 && rwMatFxDevice.validateEnvAdd) {
        rwMatFxDevice.envAddValid = ValidatesInOnePass();
        rwMatFxDevice.validateEnvAdd = FALSE;
    }
    RwD3D9DrawInstanceMesh(header, mesh);
    RwD3D9SetTexture(nullptr, 1);
    RwD3D9SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    RwD3D9SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    RwD3D9SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwD3D9SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
}

}  // namespace

RwBool RwMatFxMatrixIsIdentity(const RwMatrix *m)
{
    return !m || (m->flags & rwMATRIXINTERNALIDENTITY) ? TRUE : FALSE;
}

void RwMatFxDepalettise(RwTexture *base, RwTexture *effect)
{
    const RwUInt8 palettes = (rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4) >> 8;
    if (base && effect && base->raster && effect->raster && base->raster != effect->raster &&
        (base->raster->cFormat & palettes) && (effect->raster->cFormat & palettes)) {
        RwD3D9RasterConvertToNonPalettized(effect->raster);
    }
}

RwUInt32 RwMatFxCoefficientByte(RwReal coefficient)
{
    const RwReal k = coefficient * 255.0f;
    if (!(k > 0.0f)) {
        return 0;
    }
    return k >= 255.0f ? 255u : static_cast<RwUInt32>(k);
}

void RwMatFxStageOp(RwUInt32 stage, RwUInt32 op, RwUInt32 arg1, RwUInt32 arg2)
{
    RwD3D9SetTextureStageState(stage, D3DTSS_COLOROP, op);
    RwD3D9SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
    RwD3D9SetTextureStageState(stage, D3DTSS_COLORARG2, arg2);
}

void RwMatFxStageAlphaOp(RwUInt32 stage, RwUInt32 op, RwUInt32 arg1, RwUInt32 arg2)
{
    RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAOP, op);
    RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAARG1, arg1);
    RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAARG2, arg2);
}

RwBool RwMatFxMeshTextured(const RwD3D9InstanceMesh *mesh, RwUInt32 flags)
{
    return (flags & kTextured) && mesh->material && mesh->material->texture ? TRUE : FALSE;
}

void RwMatFxStageZero(RwTexture *base)
{
    if (base) {
        RwD3D9SetTexture(base, 0);
        RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwMatFxStageAlphaOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    } else {
        RwD3D9SetTexture(nullptr, 0);
        RwMatFxStageOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    }
}

void RwMatFxSetUVMatrix(RwUInt32 stage, const RwMatrix *m)
{
    D3DMATRIX &t = rwMatFxDevice.texMatrix;
    std::memset(&t, 0, sizeof t);
    t._11 = m->right.x;
    t._12 = m->right.y;
    t._21 = m->up.x;
    t._22 = m->up.y;
    t._31 = m->pos.x;
    t._32 = m->pos.y;
    t._33 = 1.0f;
    RwD3D9SetTransform(D3DTS_TEXTURE0 + stage, &t);
    RwD3D9SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
}

void RwMatFxRenderNoColour(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh)
{
    RwD3D9SetPixelShader(nullptr);
    RwD3D9SetVertexShader(mesh->vertexShader);
    RwD3D9DrawInstanceMesh(header, mesh);
}

void RwMatFxRenderDefault(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                          RwInt32 effectType)
{
    RwMatFxStageZero(RwMatFxMeshTextured(mesh, flags) ? mesh->material->texture : nullptr);
    bool transformed = false;
    if (effectType == rwMATFXEFFECTUVTRANSFORM) {
        const RwMatFxEffectSlot *slot = RwMatFxMaterialGetEffectSlot(mesh->material, rwMATFXKINDUVTRANSFORM);
        const RwMatrix *base = slot ? slot->data.uvTransform.baseTransform : nullptr;
        if (!RwMatFxMatrixIsIdentity(base)) {
            RwMatFxSetUVMatrix(0, base);
            transformed = true;
        }
    }
    RwMatFxRenderNoColour(header, mesh);
    if (transformed) {
        RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    }
}

void RwMatFxSetupEnvMapStage(RwTexture *texture, RwUInt32 stage, RwFrame *frame)
{
    RwD3D9SetTexture(texture, stage);
    const RwCamera *camera = RwEngineInstance->curCamera;
    RwFrame *cameraFrame = camera ? RwCameraGetFrame(camera) : nullptr;
    const RwMatrix *view = cameraFrame ? RwFrameGetWorldMatrix(cameraFrame) : nullptr;
    if (texture && texture->raster && RwD3D9RasterIsCubeMap(texture->raster)) {
        RwD3D9SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
        RwD3D9SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
        const RwV3d rows[4] = {view ? RwV3d{-view->right.x, -view->right.y, -view->right.z} : RwV3d{-1, 0, 0},
                               view ? view->up : RwV3d{0, 1, 0}, view ? view->at : RwV3d{0, 0, 1}, {0, 0, 0}};
        SetTransformRows(stage, rows);
        return;
    }
    RwD3D9SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    RwD3D9SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    // Normals from -1..1 to 0..1, v flipped.
    const RwV3d fixed[4] = {{0.5f, 0, 0}, {0, -0.5f, 0}, {0, 0, 1}, {0.5f, 0.5f, 0}};
    if (!frame || !view) {
        SetTransformRows(stage, fixed);
        return;
    }
    RwMatrix inverse, m;
    RwMatrixInvert(&inverse, RwFrameGetWorldMatrix(frame));
    RwMatrixMultiply(&m, view, &inverse);
    const RwV3d axes[3] = {{-m.right.x, -m.right.y, -m.right.z}, m.up, m.at};
    RwV3d rows[4];
    for (int r = 0; r < 3; ++r) {
        rows[r] = {axes[r].x * fixed[0].x + axes[r].y * fixed[1].x + axes[r].z * fixed[2].x,
                   axes[r].x * fixed[0].y + axes[r].y * fixed[1].y + axes[r].z * fixed[2].y,
                   axes[r].x * fixed[0].z + axes[r].y * fixed[1].z + axes[r].z * fixed[2].z};
    }
    rows[3] = fixed[3];
    SetTransformRows(stage, rows);
}

void RwMatFxRenderEnvMap(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                         RwInt32 index, const RwMatFxEnvMapData *env)
{
    const RwUInt32 k = env ? RwMatFxCoefficientByte(env->coef) : 0;
    if (k == 0 || !env->texture || !env->texture->raster) {
        if (index == 0) {
            RwMatFxRenderDefault(header, mesh, flags, rwMATFXEFFECTENVMAP);
        }
        return;
    }
    if (index == 1) {
        EnvMapAdditivePass(header, mesh, env, k);
        return;
    }
    const bool textured = RwMatFxMeshTextured(mesh, flags) != FALSE;
    RwTexture *base = textured ? mesh->material->texture : nullptr;
    RwMatFxStageZero(base);
    RwMatFxDepalettise(base, env->texture);
    switch (ChooseEnvMode(mesh, env, base, textured, k)) {
    case rwENVSHADER: EnvMapShaderPass(header, mesh, env, textured); break;
    case rwENVONEPASS: EnvMapOnePass(header, mesh, env, textured, k); break;
    case rwENVTWOPASS:
        RwMatFxRenderNoColour(header, mesh);
        EnvMapAdditivePass(header, mesh, env, k);
        break;
    }
}

static void RenderMeshes(RwD3D9InstanceHeader *header, RwUInt32 flags)
{
    const bool lighting = GetState(D3DRS_LIGHTING) != 0;
    const bool noColour = !lighting && !(flags & rwGEOMETRYPRELIT);
    if (noColour) {
        RwD3D9SetTexture(nullptr, 0);
        RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF000000);
        RwMatFxStageOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR);
        RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR);
    }
    RwD3D9SetIndices(header->indexBuffer);
    RwD3D9SetStreams(header->vertexStream, header->useOffsets);
    RwD3D9SetVertexDeclaration(header->vertexDeclaration);
    const RwD3D9InstanceMesh *meshes = reinterpret_cast<const RwD3D9InstanceMesh *>(header + 1);
    for (RwUInt32 i = 0; i < header->numMeshes; ++i) {
        const RwD3D9InstanceMesh *mesh = &meshes[i];
        const RwMaterial *material = mesh->material;
        RwD3D9SetVertexAlphaEnable(mesh->vertexAlpha || (material && material->color.alpha < 255));
        if (noColour) {
            RwMatFxRenderNoColour(header, mesh);
            continue;
        }
        if (lighting && material) {
            RwD3D9SetSurfaceProperties(&material->surfaceProps, &material->color, flags);
        }
        const RwMatFxEffectBlock *block = RwMatFxMaterialGetEffects(material);
        const RwInt32 type = block ? block->type : rwMATFXEFFECTNULL;
        switch (type) {
        case rwMATFXEFFECTBUMPMAP:
            RwMatFxRenderBumpMap(header, mesh, flags, block->slots[0].data.bumpMap.bumpedTexture, nullptr);
            break;
        case rwMATFXEFFECTENVMAP: RwMatFxRenderEnvMap(header, mesh, flags, 0, &block->slots[0].data.envMap); break;
        case rwMATFXEFFECTBUMPENVMAP:
            RwMatFxRenderBumpMap(header, mesh, flags, block->slots[0].data.bumpMap.bumpedTexture,
                                 &block->slots[1].data.envMap);
            break;
        case rwMATFXEFFECTDUAL:
        case rwMATFXEFFECTDUALUVTRANSFORM: RwMatFxRenderDual(header, mesh, flags, type); break;
        default: RwMatFxRenderDefault(header, mesh, flags, type); break;
        }
    }
}

void RwMatFxRenderCallback(RwResourceEntry *entry, void *object, RwUInt8 objectType, RwUInt32 flags)
{
    RwD3D9SetObjectClipping(object, objectType);
    RwMatFxSetDrawnMeshes(objectType == rwD3D9OBJECTATOMIC ? static_cast<RwAtomic *>(object)->geometry->mesh
                                                           : static_cast<RwWorldSector *>(object)->mesh);
    RenderMeshes(static_cast<RwD3D9InstanceHeader *>(RwResourceEntryData(entry)), flags);
    RwMatFxSetDrawnMeshes(nullptr);
}
