// Toon paint pass: each mesh shaded by a lookup in its paint texture, by camera-space normal and the first directional light.
#include <windows.h>
#include <d3d9.h>

#include "d3d9allinone.h"
#include "d3d9device.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "d3d9toon.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"

namespace {

enum : RwUInt32 {
    FLAGTEXTURED = 0x04,
    FLAGLIT = 0x20,
    FLAGMODULATE = 0x40,
    FLAGTEXTURED2 = 0x80,
};

enum PaintMode : RwInt32 { MODENONE = -1, MODEPLAIN = 0, MODEPAINT = 1 };

D3DCOLOR Argb(const RwRGBA &c) { return D3DCOLOR_ARGB(c.alpha, c.red, c.green, c.blue); }

RwTexture *BaseTexture(const RwMaterial *material, RwUInt32 flags)
{
    return (flags & (FLAGTEXTURED | FLAGTEXTURED2)) ? material->texture : nullptr;
}

void SetFactor(const RwMaterial *material, RwUInt32 flags)
{
    RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, (flags & FLAGMODULATE) ? Argb(material->color) : 0xFFFFFFFFu);
}

void DrawPlain(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags)
{
    SetFactor(mesh->material, flags);
    RwTexture *base = BaseTexture(mesh->material, flags);
    if (base) {
        RwD3D9SetTexture(base, 0);
        RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        RwD3D9SetStageColourAlpha(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR);
    } else {
        RwD3D9SetTexture(nullptr, 0);
        RwD3D9SetStageColourAlpha(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR);
    }
    RwD3D9DrawInstanceMesh(header, mesh);
}

void EndPlain(void)
{
    RwD3D9SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

// The paint texture matrix: identity but for its first column, the light term.
D3DMATRIX PaintMatrix(void)
{
    const RwReal *l = rwToonDevice.lightTerm;
    D3DMATRIX m = {{{l[0], 0, 0, 0, l[1], 1, 0, 0, l[2], 0, 1, 0, 0, 0, 0, 1}}};
    return m;
}

void DrawPaintFixed(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                    const RwToonPaint *paint)
{
    SetFactor(mesh->material, flags);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    const D3DMATRIX matrix = PaintMatrix();
    RwD3D9SetTransform(D3DTS_TEXTURE0, &matrix);
    RwD3D9SetTexture(paint->texture, 0);
    RwD3D9SetStageColourAlpha(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR);
    RwTexture *base = BaseTexture(mesh->material, flags);
    if (base && rwToonDevice.multiTexture) {
        RwD3D9SetTexture(base, 1);
        RwD3D9SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        RwD3D9SetStageColourAlpha(1, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT);
    } else {
        RwD3D9SetTexture(nullptr, 1);
        RwD3D9SetStageColourAlpha(1, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT);
    }
    RwD3D9DrawInstanceMesh(header, mesh);
    if (!base || rwToonDevice.multiTexture) {
        return;
    }
    // One texture at a time: the base texture multiplies what the paint drew.
    RwUInt32 zWrite, srcBlend, destBlend;
    RwD3D9GetRenderState(D3DRS_ZWRITEENABLE, &zWrite);
    RwD3D9GetRenderState(D3DRS_SRCBLEND, &srcBlend);
    RwD3D9GetRenderState(D3DRS_DESTBLEND, &destBlend);
    RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    RwD3D9SetTexture(base, 0);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwD3D9SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    RwD3D9SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    RwD3D9SetVertexAlphaEnable(TRUE);
    RwD3D9SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    RwD3D9SetRenderState(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR);
    RwD3D9DrawInstanceMesh(header, mesh);
    RwD3D9SetVertexAlphaEnable(FALSE);
    RwD3D9SetRenderState(D3DRS_SRCBLEND, srcBlend);
    RwD3D9SetRenderState(D3DRS_DESTBLEND, destBlend);
    RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, zWrite);
}

void EndPaintFixed(void)
{
    RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    RwD3D9SetStageColourAlpha(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    RwD3D9SetTexture(nullptr, 1);
    RwD3D9SetStageColourAlpha(1, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT);
    RwD3D9SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
}

void DrawPaintShader(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                     const RwToonPaint *paint)
{
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    RwD3D9SetTexture(paint->texture, 0);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwTexture *base = BaseTexture(mesh->material, flags);
    RwD3D9SetTexture(base, 1);
    RwD3D9SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, base ? 0 : 1);
    device->SetPixelShaderConstantF(0, rwToonDevice.lightTerm, 1);
    const RwRGBA &c = mesh->material->color;
    const RwBool coloured = (flags & FLAGMODULATE) && (c.red & c.green & c.blue & c.alpha) != 255;
    if (coloured) {
        const float colour[4] = {c.red / 255.0f, c.green / 255.0f, c.blue / 255.0f, c.alpha / 255.0f};
        device->SetPixelShaderConstantF(1, colour, 1);
    }
    RwD3D9SetPixelShader(rwToonDevice.paintShaders[(base ? 0 : 1) + (coloured ? 0 : 2)]);
    RwD3D9DrawInstanceMesh(header, mesh);
}

void EndPaintShader(void)
{
    RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    RwD3D9SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    RwD3D9SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    RwD3D9SetTexture(nullptr, 1);
    RwD3D9SetPixelShader(nullptr);
}

RwBool PaintShadersReady(void)
{
    if (!rwToonDevice.shaderPaint) {
        return FALSE;
    }
    for (void *shader : rwToonDevice.paintShaders) {
        if (!shader) {
            return FALSE;
        }
    }
    return TRUE;
}

void End(PaintMode mode)
{
    if (mode == MODEPLAIN) {
        EndPlain();
    } else if (mode == MODEPAINT) {
        PaintShadersReady() ? EndPaintShader() : EndPaintFixed();
    }
}

// The light term of the first directional light that lights atomics, in camera space.
void UpdateLightTerm(void)
{
    const RwWorld *world = static_cast<const RwWorld *>(RwEngineInstance->curWorld);
    const RwCamera *camera = static_cast<const RwCamera *>(RwEngineInstance->curCamera);
    if (!world || !camera || !RwCameraGetFrame(camera)) {
        return;
    }
    RwLinkList *list = const_cast<RwLinkList *>(&world->directionalLightList);
    for (RwLLLink *l = list->next; l != list; l = l->next) {
        const RwLight *light = rwLLLinkGetData(l, RwLight, inWorld);
        if (RwLightGetType(light) != rwLIGHTDIRECTIONAL || !(RwLightGetFlags(light) & rwLIGHTLIGHTATOMICS) ||
            !RwLightGetFrame(light)) {
            continue;
        }
        RwMatrix inverse;
        RwMatrixInvert(&inverse, RwFrameGetWorldMatrix(RwCameraGetFrame(camera)));
        const RwV3d at = RwFrameGetWorldMatrix(RwLightGetFrame(light))->at;
        const RwReal lx = at.x * inverse.right.x + at.y * inverse.up.x + at.z * inverse.at.x;
        const RwReal ly = at.x * inverse.right.y + at.y * inverse.up.y + at.z * inverse.at.y;
        const RwReal lz = at.x * inverse.right.z + at.y * inverse.up.z + at.z * inverse.at.z;
        rwToonDevice.lightTerm[0] = lx;
        rwToonDevice.lightTerm[1] = -ly;
        rwToonDevice.lightTerm[2] = -lz;
        rwToonDevice.lightTerm[3] = 0.0f;
        return;
    }
}

} // namespace

void RwToonPaintRenderCallBack(RwResourceEntry *entry, void *object, RwUInt8 type, RwUInt32 flags)
{
    if (!entry || !object) {
        return;
    }
    const RwD3D9InstanceHeader *header = static_cast<const RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    const RwToonGeo *toon = type == rwD3D9OBJECTATOMIC
                                ? RwToonGeometryGetToonGeo(static_cast<RwAtomic *>(object)->geometry)
                                : RwToonWorldSectorGetToonGeo(static_cast<const RwWorldSector *>(object));
    RwD3D9SetObjectClipping(object, type);
    const RwBool lit = (flags & FLAGLIT) != 0;
    if (lit) {
        UpdateLightTerm();
    }
    RwD3D9SetPixelShader(nullptr);
    RwD3D9SetIndices(header->indexBuffer);
    RwD3D9SetStreams(header->vertexStream, header->useOffsets);
    RwD3D9SetVertexDeclaration(header->vertexDeclaration);
    const RwD3D9InstanceMesh *meshes = reinterpret_cast<const RwD3D9InstanceMesh *>(header + 1);
    PaintMode last = MODENONE;
    for (RwUInt32 i = 0; i < header->numMeshes; ++i) {
        const RwD3D9InstanceMesh *mesh = &meshes[i];
        RwD3D9SetVertexAlphaEnable(mesh->vertexAlpha || mesh->material->color.alpha != 255);
        const RwToonMaterial *own = RwToonMaterialGetToonMaterial(mesh->material);
        const RwToonPaint *paint = own && own->hasPaint && own->paint ? own->paint : toon ? toon->paint : nullptr;
        const PaintMode mode =
            lit && paint && paint->type == rwTOONPAINTTEXTURED && paint->texture ? MODEPAINT : MODEPLAIN;
        if (mode != last) {
            End(last);
        }
        RwD3D9SetVertexShader(mesh->vertexShader);
        if (mode == MODEPLAIN) {
            DrawPlain(header, mesh, flags);
        } else if (PaintShadersReady()) {
            DrawPaintShader(header, mesh, flags, paint);
        } else {
            DrawPaintFixed(header, mesh, flags, paint);
        }
        last = mode;
    }
    End(last);
}
