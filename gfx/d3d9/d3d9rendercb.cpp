// Drawing an instanced world sector or atomic: clipping, streams, per-mesh materials and texture stages.
#include "d3d9allinone.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"

void RwD3D9SetObjectClipping(void *object, RwUInt8 type)
{
    const RwCamera *camera = RwEngineInstance->curCamera;
    RwBool inside = FALSE;
    if (camera) {
        inside = type == rwD3D9OBJECTATOMIC
                     ? RwD3D9CameraIsSphereFullyInsideFrustum(
                           camera, RwAtomicGetWorldBoundingSphere(static_cast<RwAtomic *>(object)))
                     : RwD3D9CameraIsBBoxFullyInsideFrustum(camera, &static_cast<RwWorldSector *>(object)->boundingBox);
    }
    RwD3D9SetRenderState(D3DRS_CLIPPING, !inside);
}

void RwD3D9DrawInstanceMesh(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh)
{
    if (mesh->numPrimitives == 0) {
        return;
    }
    RwD3D9SetVertexShader(mesh->vertexShader);
    if (header->indexBuffer) {
        RwD3D9DrawIndexedPrimitive(header->primType, static_cast<RwInt32>(mesh->baseVertexIndex), 0,
                                   mesh->numVertices, mesh->startIndex, mesh->numPrimitives);
    } else {
        RwD3D9DrawPrimitive(header->primType, mesh->baseVertexIndex, mesh->numPrimitives);
    }
}

void RwD3D9SetStageColourAlpha(RwUInt32 stage, RwUInt32 op, RwUInt32 arg1, RwUInt32 arg2)
{
    RwD3D9SetTextureStageState(stage, D3DTSS_COLOROP, op);
    RwD3D9SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
    RwD3D9SetTextureStageState(stage, D3DTSS_COLORARG2, arg2);
    RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAOP, op);
    RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAARG1, arg1);
    RwD3D9SetTextureStageState(stage, D3DTSS_ALPHAARG2, arg2);
}

static void DisableStageOne(void)
{
    RwD3D9SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    RwD3D9SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}

// Unlit and not pre-lit: a black silhouette that keeps texture alpha for cut-outs.
static void RenderBlack(const RwD3D9InstanceHeader *header, RwUInt32 flags)
{
    RwUInt32 dither = 0;
    RwUInt32 shade = 0;
    RwD3D9GetRenderState(D3DRS_DITHERENABLE, &dither);
    RwD3D9GetRenderState(D3DRS_SHADEMODE, &shade);
    RwD3D9SetVertexAlphaEnable(FALSE);
    RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF000000);
    RwD3D9SetRenderState(D3DRS_DITHERENABLE, FALSE);
    RwD3D9SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    RwD3D9SetStageColourAlpha(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_TFACTOR);
    RwD3D9SetTexture(nullptr, 0);
    bool modulate = false;
    const RwD3D9InstanceMesh *mesh = reinterpret_cast<const RwD3D9InstanceMesh *>(header + 1);
    for (RwUInt32 i = 0; i < header->numMeshes; i++, mesh++) {
        const RwTexture *texture = mesh->material ? mesh->material->texture : nullptr;
        if ((flags & (rwGEOMETRYTEXTURED | rwGEOMETRYTEXTURED2)) && texture && RwD3D9TextureHasAlpha(texture)) {
            RwD3D9SetTexture(texture, 0);
            RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
            modulate = true;
        } else if (modulate) {
            RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
            RwD3D9SetTexture(nullptr, 0);
            modulate = false;
        }
        RwD3D9DrawInstanceMesh(header, mesh);
    }
    RwD3D9SetRenderState(D3DRS_DITHERENABLE, dither);
    RwD3D9SetRenderState(D3DRS_SHADEMODE, shade);
}

static RwUInt32 ColourWord(const RwRGBA &c)
{
    return (static_cast<RwUInt32>(c.alpha) << 24) | (static_cast<RwUInt32>(c.red) << 16) |
           (static_cast<RwUInt32>(c.green) << 8) | c.blue;
}

void RwD3D9DefaultRenderCallback(RwResourceEntry *entry, void *object, RwUInt8 type, RwUInt32 flags)
{
    const RwD3D9InstanceHeader *header = static_cast<const RwD3D9InstanceHeader *>(RwResourceEntryData(entry));
    RwD3D9SetPixelShader(nullptr);
    RwD3D9SetObjectClipping(object, type);
    if (header->indexBuffer) {
        RwD3D9SetIndices(header->indexBuffer);
    }
    RwD3D9SetStreams(header->vertexStream, header->useOffsets);
    RwD3D9SetVertexDeclaration(header->vertexDeclaration);

    RwUInt32 lighting = FALSE;
    RwD3D9GetRenderState(D3DRS_LIGHTING, &lighting);
    if (!lighting && !(flags & rwGEOMETRYPRELIT)) {
        RenderBlack(header, flags);
        return;
    }
    const bool textured = (flags & (rwGEOMETRYTEXTURED | rwGEOMETRYTEXTURED2)) != 0;
    int last = -1;   // previous combination: bit 0 texture, bit 1 factor
    const RwD3D9InstanceMesh *mesh = reinterpret_cast<const RwD3D9InstanceMesh *>(header + 1);
    for (RwUInt32 i = 0; i < header->numMeshes; i++, mesh++) {
        const RwMaterial *material = mesh->material;
        const RwRGBA white = {255, 255, 255, 255};
        const RwRGBA &colour = material ? material->color : white;
        const RwBool alpha = colour.alpha != 255 || mesh->vertexAlpha;
        if (alpha != RwD3D9GetVertexAlphaEnable()) {
            RwD3D9SetVertexAlphaEnable(alpha);
        }
        bool factor = false;
        if (!lighting) {
            if ((flags & rwGEOMETRYMODULATEMATERIALCOLOR) && ColourWord(colour) != 0xFFFFFFFFu) {
                RwD3D9SetRenderState(D3DRS_TEXTUREFACTOR, ColourWord(colour));
                factor = true;
            }
        } else if (material) {
            RwD3D9SetSurfaceProperties(&material->surfaceProps, &colour, flags);
        }
        const RwTexture *texture = textured && material ? material->texture : nullptr;
        RwD3D9SetTexture(texture, 0);
        const int combination = (texture ? 1 : 0) | (factor ? 2 : 0);
        if (combination != last) {
            if (last == 3) {
                DisableStageOne();
            }
            if (!texture) {
                if (factor) {
                    RwD3D9SetStageColourAlpha(0, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TFACTOR);
                } else {
                    RwD3D9SetStageColourAlpha(0, D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE);
                }
            } else {
                if (last < 0 || !(last & 1)) {
                    RwD3D9SetStageColourAlpha(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
                }
                if (factor) {
                    RwD3D9SetStageColourAlpha(1, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TFACTOR);
                }
            }
            last = combination;
        }
        RwD3D9DrawInstanceMesh(header, mesh);
    }
    if (last == 3) {
        DisableStageOne();
    }
}
