// Material effects on the device: capabilities, shaders, and the two pipelines built on the all-in-one nodes.
#include <cstring>
#include <initializer_list>

#include "d3d9allinone.h"
#include "d3d9device.h"
#include "d3d9matfx.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"

RwMatFxDeviceGlobals rwMatFxDevice;

namespace {

// The driver's instance callbacks, which the effects callbacks wrap.
RwD3D9AllInOneInstanceCallBack savedAtomicInstance = nullptr;
RwD3D9AllInOneInstanceCallBack savedSectorInstance = nullptr;

// A bump map drawn with shaders reads a tangent per vertex.
bool NeedsTangents(const RwMeshHeader *meshes)
{
    if (!rwMatFxDevice.shaders[0] || !meshes) {
        return false;
    }
    const RwMesh *mesh = RwMeshHeaderGetMeshes(const_cast<RwMeshHeader *>(meshes));
    for (RwUInt32 i = 0; i < meshes->numMeshes; ++i) {
        const RwInt32 type = RwMatFxMaterialGetEffectType(mesh[i].material);
        if (type == rwMATFXEFFECTBUMPMAP || type == rwMATFXEFFECTBUMPENVMAP) {
            return true;
        }
    }
    return false;
}

// The driver's all-in-one node with the effects' instance and render callbacks.
RxPipeline *MakePipeline(RxPipelineNodeDefinition *definition, RwD3D9AllInOneInstanceCallBack instance,
                         RwD3D9AllInOneInstanceCallBack *saved)
{
    RxPipelineNode *node = nullptr;
    RxPipeline *pipeline = RwD3D9AllInOnePipelineCreate(definition, rwID_MATERIALEFFECTSPLUGIN, &node);
    if (pipeline) {
        *saved = RwD3D9AllInOneNodeGetInstanceCallback(node);
        RwD3D9AllInOneNodeSetInstanceCallback(node, instance);
        RwD3D9AllInOneNodeSetRenderCallback(node, RwMatFxRenderCallback);
    }
    return pipeline;
}

}  // namespace

RwBool RwMatFxAtomicInstanceCallback(void *object, RwD3D9InstanceHeader *header, RwBool reinstance)
{
    RwAtomic *atomic = static_cast<RwAtomic *>(object);
    if (!savedAtomicInstance) {
        return FALSE;
    }
    if (!reinstance) {
        RwGeometry *g = atomic->geometry;
        if (NeedsTangents(g->mesh)) {
            RwD3D9GeometrySetInstanceFlags(g, RwD3D9GeometryGetInstanceFlags(g) | rwD3D9INSTANCETANGENTS);
        }
    }
    return savedAtomicInstance(object, header, reinstance);
}

RwBool RwMatFxWorldSectorInstanceCallback(void *object, RwD3D9InstanceHeader *header, RwBool reinstance)
{
    RwWorldSector *sector = static_cast<RwWorldSector *>(object);
    if (!savedSectorInstance) {
        return FALSE;
    }
    if (NeedsTangents(sector->mesh)) {
        RwD3D9WorldSectorSetInstanceFlags(sector, RwD3D9WorldSectorGetInstanceFlags(sector) | rwD3D9INSTANCETANGENTS);
    }
    return savedSectorInstance(object, header, reinstance);
}

void RwMatFxDeviceOpen(void)
{
    std::memset(&rwMatFxDevice, 0, sizeof rwMatFxDevice);
    rwMatFxDevice.texMatrix._33 = 1.0f;
    const D3DCAPS9 *caps = RwD3D9GetCaps();
    if (!caps || !rwD3D9Driver.device) {
        return;
    }
    rwMatFxDevice.twoTextures = caps->MaxSimultaneousTextures >= 2;
    rwMatFxDevice.multiplyAdd = (caps->TextureOpCaps & D3DTEXOPCAPS_MULTIPLYADD) != 0;
    rwMatFxDevice.modulate2x = (caps->TextureOpCaps & D3DTEXOPCAPS_MODULATE2X) != 0;
    rwMatFxDevice.blendStages = caps->MaxTextureBlendStages;
    rwMatFxDevice.pixelShaders = caps->PixelShaderVersion >= D3DPS_VERSION(1, 1);
    rwMatFxDevice.validateDual = TRUE;
    rwMatFxDevice.validateEnvAdd = TRUE;
    if (rwMatFxDevice.blendStages < 2) {
        rwMatFxDevice.twoTextures = rwMatFxDevice.multiplyAdd = rwMatFxDevice.modulate2x = FALSE;
        rwMatFxDevice.validateDual = rwMatFxDevice.validateEnvAdd = FALSE;
    }
    if (rwMatFxDevice.pixelShaders) {
        for (RwInt32 i = 0; i < rwMATFXNUMSHADERS; ++i) {
            if (!RwD3D9CreatePixelShader(reinterpret_cast<const RwUInt32 *>(rwMatFxShaderTokens[i]),
                                         &rwMatFxDevice.shaders[i])) {
                rwMatFxDevice.shaders[i] = nullptr;
            }
        }
    }
}

void RwMatFxDeviceClose(void)
{
    for (void *&shader : rwMatFxDevice.shaders) {
        if (shader) {
            if (rwD3D9Cache.lastPixelShader == shader) {
                RwD3D9SetPixelShader(nullptr);
            }
            RwD3D9DeleteShader(shader);
            shader = nullptr;
        }
    }
}

RwBool RwMatFxPipelinesCreate(void)
{
    rwMatFxPipelines.atomic =
        MakePipeline(RwD3D9AtomicAllInOneNodeGet(), RwMatFxAtomicInstanceCallback, &savedAtomicInstance);
    rwMatFxPipelines.worldSector =
        MakePipeline(RwD3D9WorldSectorAllInOneNodeGet(), RwMatFxWorldSectorInstanceCallback, &savedSectorInstance);
    if (!rwMatFxPipelines.atomic || !rwMatFxPipelines.worldSector) {
        RwMatFxPipelinesDestroy();
        return FALSE;
    }
    RwMatFxDeviceOpen();
    return TRUE;
}

void RwMatFxPipelinesDestroy(void)
{
    for (RxPipeline **p : {&rwMatFxPipelines.atomic, &rwMatFxPipelines.worldSector}) {
        if (*p) {
            RwPipelineDestroy(*p);
            *p = nullptr;
        }
    }
    RwMatFxDeviceClose();
}

RwBool RwMatFxRasterIsCompressed(const RwRaster *raster)
{
    return RwD3D9RasterIsCompressed(raster);
}
