// Material effects on the device: the dual-texture renderer, in one pass over several stages or in a blended second pass.
#include "d3d9device.h"
#include "d3d9matfx.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "gfx/core/matrix.h"
#include "gfx/core/texture.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"

namespace {

bool Pair(const RwMatFxDualData *dual, RwInt32 src, RwInt32 dst)
{
    return dual->srcBlendMode == src && dual->dstBlendMode == dst;
}

bool Multiply(const RwMatFxDualData *d) { return Pair(d, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO) || Pair(d, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR); }
bool Multiply2x(const RwMatFxDualData *d) { return Pair(d, D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR); }
bool AlphaBlend(const RwMatFxDualData *d) { return Pair(d, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA); }
bool Add(const RwMatFxDualData *d) { return Pair(d, D3DBLEND_ONE, D3DBLEND_ONE); }
bool MultiplyAlpha(const RwMatFxDualData *d) { return Pair(d, D3DBLEND_ZERO, D3DBLEND_SRCALPHA); }

// Stage 0 takes the base alone and stage 2 brings the diffuse colour back in.
void ThreeStageFrame(void)
{
    RwMatFxStageOp(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    RwMatFxStageOp(2, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
    RwMatFxStageAlphaOp(2, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
}

// The stage set-up of one pass; FALSE when the device lacks what the pair needs.
bool SetUpOnePass(const RwMatFxDualData *dual, bool textured)
{
    const bool three = rwMatFxDevice.blendStages == 3;
    if (Multiply(dual)) {
        if (!textured) {
            RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
            RwMatFxStageAlphaOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
            return true;
        }
        if (three) {
            ThreeStageFrame();
        }
        RwMatFxStageOp(1, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT);
        RwMatFxStageAlphaOp(1, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_CURRENT);
        return true;
    }
    if (AlphaBlend(dual)) {
        if (!textured) {
            RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);
            RwMatFxStageOp(0, D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR);
            RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR);
            RwMatFxStageOp(1, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
            RwMatFxStageAlphaOp(1, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
            return true;
        }
        if (rwMatFxDevice.blendStages < 3) {
            return false;
        }
        ThreeStageFrame();
        // The alpha keeps the base's. Blended by the dual's alpha as well, an
        // opaque base under a half-transparent dual would come out 3/4
        // opaque and let the frame through, where the second pass of a
        // device without this set-up leaves the base's coverage as it is.
        RwMatFxStageOp(1, D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_CURRENT);
        RwMatFxStageAlphaOp(1, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_CURRENT);
        return true;
    }
    if (Multiply2x(dual)) {
        if (!rwMatFxDevice.modulate2x) {
            return false;
        }
        if (!textured) {
            RwMatFxStageOp(0, D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE);
            RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        } else {
            if (three) {
                ThreeStageFrame();
            }
            RwMatFxStageOp(1, D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_CURRENT);
            RwMatFxStageAlphaOp(1, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_CURRENT);
        }
        if (rwMatFxDevice.validateDual) {
            rwMatFxDevice.validateDual = FALSE;
            DWORD passes = 0;
            RwD3D9FlushRenderStates();
            if (!rwD3D9Driver.device || FAILED(rwD3D9Driver.device->ValidateDevice(&passes)) || passes != 1) {
                rwMatFxDevice.modulate2x = FALSE;
                return false;
            }
        }
        return true;
    }
    if (Add(dual)) {
        if (!rwMatFxDevice.multiplyAdd) {
            return false;
        }
        if (!textured) {
            RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
            RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE);
            RwMatFxStageOp(1, D3DTOP_ADD, D3DTA_DIFFUSE, D3DTA_CURRENT);
            RwMatFxStageAlphaOp(1, D3DTOP_SELECTARG2, D3DTA_DIFFUSE, D3DTA_CURRENT);
            return true;
        }
        RwMatFxStageOp(1, D3DTOP_MULTIPLYADD, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwD3D9SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_CURRENT);
        RwMatFxStageAlphaOp(1, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_CURRENT);
        return true;
    }
    if (MultiplyAlpha(dual)) {
        if (!textured) {
            RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE);
            RwMatFxStageAlphaOp(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE);
            return true;
        }
        if (three) {
            ThreeStageFrame();
        }
        RwMatFxStageOp(1, D3DTOP_MODULATE, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_CURRENT);
        RwMatFxStageAlphaOp(1, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_CURRENT);
        return true;
    }
    return false;
}

// Back to the standard stage 0 with the later stages off.
void ResetStages(RwTexture *base)
{
    RwD3D9SetTexture(nullptr, 1);
    RwMatFxStageZero(base);
    for (RwUInt32 stage = 1; stage <= 2; ++stage) {
        RwD3D9SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
    RwD3D9SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
}

void SecondPass(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                const RwMatFxDualData *dual, const RwMatrix *dualMatrix)
{
    RwD3D9SetTexture(dual->texture, 0);
    RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    RwMatFxStageAlphaOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    if (dualMatrix) {
        RwMatFxSetUVMatrix(0, dualMatrix);
    } else {
        RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    }
    const RwBool vertexAlpha = RwD3D9GetVertexAlphaEnable();
    RwInt32 src = 0, dst = 0;
    RwD3D9RenderStateGetHandler(rwRENDERSTATESRCBLEND, &src);
    RwD3D9RenderStateGetHandler(rwRENDERSTATEDESTBLEND, &dst);
    if (!vertexAlpha) {
        RwD3D9SetVertexAlphaEnable(TRUE);
    }
    RwUInt32 alphaTest = 0, zwrite = 0, fogColour = 0, fog = 0;
    RwD3D9GetRenderState(D3DRS_ALPHATESTENABLE, &alphaTest);
    RwD3D9GetRenderState(D3DRS_ZWRITEENABLE, &zwrite);
    RwD3D9GetRenderState(D3DRS_FOGCOLOR, &fogColour);
    RwD3D9GetRenderState(D3DRS_FOGENABLE, &fog);
    if (Multiply(dual) || Multiply2x(dual)) {
        RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    }
    RwD3D9SetSrcBlend(static_cast<RwUInt32>(dual->srcBlendMode));
    RwD3D9SetDestBlend(static_cast<RwUInt32>(dual->dstBlendMode));
    RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    if (fog) {
        if (dual->dstBlendMode == D3DBLEND_ONE) {
            RwD3D9SetRenderState(D3DRS_FOGCOLOR, 0);
        } else if (dual->srcBlendMode == D3DBLEND_DESTCOLOR || dual->dstBlendMode == D3DBLEND_SRCCOLOR) {
            RwD3D9SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);
        }
    }
    if (flags & rwGEOMETRYTEXTURED2) {
        RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
    }
    RwMatFxRenderNoColour(header, mesh);
    RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, zwrite);
    RwD3D9SetRenderState(D3DRS_FOGCOLOR, fogColour);
    RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, alphaTest);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    RwD3D9SetVertexAlphaEnable(vertexAlpha);
    RwD3D9SetSrcBlend(static_cast<RwUInt32>(src));
    RwD3D9SetDestBlend(static_cast<RwUInt32>(dst));
}

}  // namespace

void RwMatFxRenderDual(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                       RwInt32 effectType)
{
    const RwMatFxEffectSlot *dualSlot = RwMatFxMaterialGetEffectSlot(mesh->material, rwMATFXKINDDUAL);
    const RwMatFxDualData *dual = dualSlot ? &dualSlot->data.dual : nullptr;
    if (!dual || !dual->texture || !dual->texture->raster) {
        RwMatFxRenderDefault(header, mesh, flags, effectType);
        return;
    }
    const RwMatrix *baseMatrix = nullptr, *dualMatrix = nullptr;
    if (effectType == rwMATFXEFFECTDUALUVTRANSFORM) {
        const RwMatFxEffectSlot *uv = RwMatFxMaterialGetEffectSlot(mesh->material, rwMATFXKINDUVTRANSFORM);
        if (uv) {
            baseMatrix = RwMatFxMatrixIsIdentity(uv->data.uvTransform.baseTransform) ? nullptr : uv->data.uvTransform.baseTransform;
            dualMatrix = RwMatFxMatrixIsIdentity(uv->data.uvTransform.dualTransform) ? nullptr : uv->data.uvTransform.dualTransform;
        }
    }
    const bool textured = RwMatFxMeshTextured(mesh, flags) != FALSE;
    RwTexture *base = textured ? mesh->material->texture : nullptr;
    RwMatFxStageZero(base);
    RwMatFxDepalettise(base, dual->texture);
    if (baseMatrix) {
        RwMatFxSetUVMatrix(0, baseMatrix);
    }
    const RwUInt32 dualStage = textured ? 1 : 0;
    RwD3D9SetTexture(dual->texture, dualStage);
    if (rwMatFxDevice.twoTextures && SetUpOnePass(dual, textured)) {
        if (!(flags & rwGEOMETRYTEXTURED2)) {
            RwD3D9SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        }
        if (dualMatrix) {
            RwMatFxSetUVMatrix(dualStage, dualMatrix);
        }
        RwMatFxRenderNoColour(header, mesh);
    } else {
        ResetStages(base);
        if (baseMatrix) {
            RwMatFxSetUVMatrix(0, baseMatrix);
        }
        RwMatFxRenderNoColour(header, mesh);
        SecondPass(header, mesh, flags, dual, dualMatrix);
    }
    ResetStages(base);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwD3D9SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}
