// Material effects on the device: the bump-map renderer and its vertices with light-shifted second coordinates.
#include <cmath>
#include <cstring>

#include "d3d9decltype.h"
#include "d3d9allinone.h"
#include "d3d9device.h"
#include "d3d9matfx.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/memory.h"
#include "gfx/core/texture.h"
#include "gfx/core/vector.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"

namespace {

RwMeshHeader *drawnMeshes = nullptr;

struct BumpVertex {
    RwV3d position;
    RwV3d normal;
    RwUInt32 colour;
    RwReal u, v;
    RwReal u1, v1;
};
static_assert(sizeof(BumpVertex) == rwMATFXBUMPSTRIDE, "bump vertex is 44 bytes");

// Where each element of stream 0 lies; -1 when absent.
struct Layout {
    RwInt32 position = -1, normal = -1, colour = -1, uv = -1, tangent = -1;
    BYTE positionType = 0, normalType = 0, uvType = 0, tangentType = 0;
};

Layout ReadLayout(void *declaration)
{
    Layout layout;
    D3DVERTEXELEMENT9 elements[MAXD3DDECLLENGTH];
    UINT n = MAXD3DDECLLENGTH;
    IDirect3DVertexDeclaration9 *d = static_cast<IDirect3DVertexDeclaration9 *>(declaration);
    if (!d || FAILED(d->GetDeclaration(elements, &n))) {
        return layout;
    }
    for (UINT i = 0; i < n && elements[i].Stream != 0xFF; ++i) {
        const D3DVERTEXELEMENT9 &e = elements[i];
        if (e.Stream != 0) {
            continue;
        }
        if (e.Usage == D3DDECLUSAGE_POSITION) {
            layout.position = e.Offset, layout.positionType = e.Type;
        } else if (e.Usage == D3DDECLUSAGE_NORMAL) {
            layout.normal = e.Offset, layout.normalType = e.Type;
        } else if (e.Usage == D3DDECLUSAGE_COLOR && e.UsageIndex == 0) {
            layout.colour = e.Offset;
        } else if (e.Usage == D3DDECLUSAGE_TEXCOORD && e.UsageIndex == 0) {
            layout.uv = e.Offset, layout.uvType = e.Type;
        } else if (e.Usage == D3DDECLUSAGE_TANGENT) {
            layout.tangent = e.Offset, layout.tangentType = e.Type;
        }
    }
    return layout;
}

bool HasDirectionalLight(RwFrame *frame)
{
    for (RwLLLink *l = frame->objectList.next; l != &frame->objectList; l = l->next) {
        const RwObjectHasFrame *object = rwLLLinkGetData(l, RwObjectHasFrame, lFrame);
        const RwUInt8 sub = object->object.subType;
        if (object->object.type == rwLIGHT && (sub == rwLIGHTDIRECTIONAL || sub == 0x81 || sub == 0x82)) {
            return true;
        }
    }
    return false;
}

// The light's position (or direction) in the object's space.
RwV3d LightInObjectSpace(RwFrame *frame, bool *directional)
{
    RwMatrix world = {}, inverse;
    D3DMATRIX d;
    RwD3D9GetTransform(D3DTS_WORLD, &d);
    world.right = {d._11, d._12, d._13};
    world.up = {d._21, d._22, d._23};
    world.at = {d._31, d._32, d._33};
    world.pos = {d._41, d._42, d._43};
    RwMatrixInvert(&inverse, &world);
    RwV3d v = {0, 0, 0};
    *directional = frame && HasDirectionalLight(frame);
    if (!frame) {
        return v;
    }
    const RwMatrix *ltm = RwFrameGetWorldMatrix(frame);
    if (*directional) {
        const RwV3d back = {-ltm->at.x, -ltm->at.y, -ltm->at.z};
        RwV3dTransformVector(&v, &back, &inverse);
    } else {
        RwV3dTransformPoint(&v, &ltm->pos, &inverse);
    }
    return v;
}

RwV3d Sub(const RwV3d &a, const RwV3d &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
RwReal Dot(const RwV3d &a, const RwV3d &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
RwV3d Cross(const RwV3d &a, const RwV3d &b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
RwV3d Unit(const RwV3d &a)
{
    const RwReal length = std::sqrt(Dot(a, a));
    return length > 0.0f ? RwV3d{a.x / length, a.y / length, a.z / length} : RwV3d{0, 0, 0};
}

// Corner positions of the triangle whose first corner stands at position i of the index list.
bool Corners(RwUInt32 i, RwUInt32 count, bool strip, RwUInt32 *c1, RwUInt32 *c2)
{
    if (!strip) {
        const RwUInt32 base = 3 * (i / 3);
        *c1 = base + (i + 1) % 3;
        *c2 = base + (i + 2) % 3;
    } else if (i < 2) {
        *c1 = i & 1 ? i + 2 : i + 1;
        *c2 = i & 1 ? i + 1 : i + 2;
    } else {
        *c1 = i & 1 ? i - 1 : i - 2;
        *c2 = i & 1 ? i - 2 : i - 1;
    }
    return *c1 < count && *c2 < count;
}

}  // namespace

void RwMatFxSetDrawnMeshes(RwMeshHeader *meshes)
{
    drawnMeshes = meshes;
}

RwBool RwMatFxBumpMapVertices(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, void *out)
{
    const RwMatFxEffectSlot *slot = RwMatFxMaterialGetEffectSlot(mesh->material, rwMATFXKINDBUMPMAP);
    const RwD3D9VertexStream &stream = header->vertexStream[0];
    const Layout layout = ReadLayout(header->vertexDeclaration);
    IDirect3DVertexBuffer9 *vb = static_cast<IDirect3DVertexBuffer9 *>(stream.vertexBuffer);
    if (!slot || !vb || layout.position < 0 || layout.uv < 0 ||
        mesh->minVertexIndex + mesh->numVertices > header->totalNumVertex) {
        return FALSE;
    }
    const RwReal s = slot->data.bumpMap.invBumpWidth * slot->data.bumpMap.coef;
    RwFrame *frame = slot->data.bumpMap.frame;
    if (!frame && RwEngineInstance->curCamera) {
        frame = RwCameraGetFrame(RwEngineInstance->curCamera);
    }
    bool directional = false;
    const RwV3d light = LightInObjectSpace(frame, &directional);
    void *data = nullptr;
    if (FAILED(vb->Lock(0, 0, &data, D3DLOCK_READONLY))) {
        return FALSE;
    }
    const RwUInt8 *src = static_cast<const RwUInt8 *>(data) + stream.offset;
    BumpVertex *dst = static_cast<BumpVertex *>(out);
    const RwUInt32 first = mesh->minVertexIndex, count = mesh->numVertices;
    for (RwUInt32 j = 0; j < count; ++j) {
        const RwUInt8 *v = src + (first + j) * stream.stride;
        BumpVertex &o = dst[j];
        RwD3D9DeclTypeReadV3d(layout.positionType, v + layout.position, &o.position);
        o.normal = {0, 0, 0};
        if (layout.normal >= 0) {
            RwD3D9DeclTypeReadV3d(layout.normalType, v + layout.normal, &o.normal);
        }
        o.colour = 0xFFFFFFFF;
        if (layout.colour >= 0) {
            std::memcpy(&o.colour, v + layout.colour, 4);
        }
        RwReal uv[2];
        RwD3D9DeclTypeReadTexCoords(layout.uvType, v + layout.uv, uv);
        o.u = o.u1 = uv[0];
        o.v = o.v1 = uv[1];
        if (layout.tangent >= 0) {
            RwV3d t;
            RwD3D9DeclTypeReadV3d(layout.tangentType, v + layout.tangent, &t);
            const RwV3d l = directional ? Unit(light) : Unit(Sub(light, o.position));
            const RwV3d b = Cross(t, o.normal);
            o.u1 = o.u + s * Dot(l, t);
            o.v1 = o.v + s * Dot(l, b);
        }
    }
    vb->Unlock();
    if (layout.tangent >= 0 || !drawnMeshes) {
        return TRUE;
    }
    // Tangents from the triangles, each vertex once, at the first index naming it.
    const RwUInt32 meshIndex =
        static_cast<RwUInt32>(mesh - reinterpret_cast<const RwD3D9InstanceMesh *>(header + 1));
    if (meshIndex >= drawnMeshes->numMeshes) {
        return TRUE;
    }
    const RwMesh &m = RwMeshHeaderGetMeshes(drawnMeshes)[meshIndex];
    RwUInt8 *done = static_cast<RwUInt8 *>(RwMalloc(count ? count : 1, rwMEMHINTDUR_EVENT | rwMATFXHINT));
    if (!done) {
        return TRUE;
    }
    std::memset(done, 0, count);
    // The mesh list keeps its strips where the instance made them a triangle list.
    const bool strip = (drawnMeshes->flags & rwMESHHEADERTRISTRIP) != 0;
    auto local = [&](RwUInt32 position, RwUInt32 *j) {
        const RwUInt32 index = m.indices[position];
        *j = index - first;
        return index >= first && index - first < count;
    };
    for (RwUInt32 i = 0; i < m.numIndices; ++i) {
        RwUInt32 j0, j1, j2, p1, p2;
        if (!local(i, &j0) || done[j0] || !Corners(i, m.numIndices, strip, &p1, &p2) || !local(p1, &j1) ||
            !local(p2, &j2)) {
            continue;
        }
        done[j0] = 1;
        BumpVertex &o = dst[j0];
        const RwV3d e1 = Sub(dst[j1].position, o.position), e2 = Sub(dst[j2].position, o.position);
        const RwReal db1 = dst[j1].v - o.v, db2 = dst[j2].v - o.v;
        const RwV3d t = Unit({e1.x * db2 - e2.x * db1, e1.y * db2 - e2.y * db1, e1.z * db2 - e2.z * db1});
        const RwV3d b = Cross(t, o.normal);
        const RwV3d l = directional ? Unit(light) : Unit(Sub(light, o.position));
        o.u1 = o.u - s * Dot(l, t);
        o.v1 = o.v - s * Dot(l, b);
    }
    RwFree(done);
    return TRUE;
}

void RwMatFxRenderBumpMap(const RwD3D9InstanceHeader *header, const RwD3D9InstanceMesh *mesh, RwUInt32 flags,
                          RwTexture *bumped, const RwMatFxEnvMapData *env)
{
    // An environment texture without a raster, or a zero coefficient, adds nothing.
    const RwUInt32 kEnv = env && env->texture && env->texture->raster ? RwMatFxCoefficientByte(env->coef) : 0;
    if (!kEnv) {
        env = nullptr;
    }
    RwTexture *base = RwMatFxMeshTextured(mesh, flags) ? mesh->material->texture : nullptr;
    RwTexture *texture = bumped ? bumped : (base && RwD3D9TextureHasAlpha(base) ? base : nullptr);
    if (!texture) {
        RwMatFxRenderDefault(header, mesh, flags, rwMATFXEFFECTBUMPMAP);
        return;
    }
    void *vb = nullptr, *data = nullptr;
    RwUInt32 baseIndex = 0;
    if (!mesh->numVertices ||
        !RwD3D9DynamicVertexBufferLock(rwMATFXBUMPSTRIDE, mesh->numVertices, &vb, &data, &baseIndex)) {
        return;
    }
    const RwBool filled = RwMatFxBumpMapVertices(header, mesh, data);
    RwD3D9DynamicVertexBufferUnlock(vb);
    if (!filled) {
        return;
    }
    RwD3D9SetTexture(texture, 0);
    RwD3D9SetFVF(rwMATFXBUMPFVF);
    RwD3D9SetStreamSource(0, vb, 0, rwMATFXBUMPSTRIDE);
    RwD3D9SetVertexShader(mesh->vertexShader);
    // The dynamic buffer holds the mesh's vertex range from baseIndex on, as the indices count it.
    RwD3D9InstanceMesh shifted = *mesh;
    shifted.baseVertexIndex = baseIndex;
    if (rwMatFxDevice.shaders[0] || (rwMatFxDevice.shaders[3] && env)) {
        RwD3D9SetVertexAlphaEnable(FALSE);
        RwD3D9SetTexture(texture, 1);
        RwUInt32 blend = 0, test = 0;
        RwD3D9GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
        RwD3D9GetRenderState(D3DRS_ALPHATESTENABLE, &test);
        RwD3D9SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        if (env && rwMatFxDevice.shaders[3]) {
            RwMatFxSetupEnvMapStage(env->texture, 2, env->frame);
            const float c[4] = {env->coef, env->coef, env->coef, env->coef};
            rwD3D9Driver.device->SetPixelShaderConstantF(0, c, 1);
            const RwInt32 shader = !env->useFrameBufferAlpha ? 3 : (RwD3D9TextureHasAlpha(env->texture) ? 4 : 5);
            RwD3D9SetPixelShader(rwMatFxDevice.shaders[shader]);
            RwD3D9DrawInstanceMesh(header, &shifted);
            RwD3D9SetTexture(nullptr, 2);
            RwD3D9SetTextureStageState(2, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
            RwD3D9SetTextureStageState(2, D3DTSS_TEXCOORDINDEX, 2);
        } else {
            RwD3D9SetPixelShader(rwMatFxDevice.shaders[0]);
            RwD3D9DrawInstanceMesh(header, &shifted);
        }
        RwD3D9SetPixelShader(nullptr);
        RwD3D9SetTexture(nullptr, 1);
        RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwMatFxStageAlphaOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwD3D9SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
        RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, test);
    } else {
        // Emboss: colour x (1 - height), then the shifted colour x shifted height added.
        RwInt32 src = 0, dst = 0;
        RwD3D9RenderStateGetHandler(rwRENDERSTATESRCBLEND, &src);
        RwD3D9RenderStateGetHandler(rwRENDERSTATEDESTBLEND, &dst);
        RwUInt32 test = 0, zwrite = 0;
        RwD3D9GetRenderState(D3DRS_ALPHATESTENABLE, &test);
        RwD3D9GetRenderState(D3DRS_ZWRITEENABLE, &zwrite);
        RwMatFxStageOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwMatFxStageAlphaOp(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
        RwD3D9SetPixelShader(nullptr);
        RwD3D9SetVertexAlphaEnable(TRUE);
        RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        RwD3D9SetSrcBlend(D3DBLEND_INVSRCALPHA);
        RwD3D9SetDestBlend(D3DBLEND_ZERO);
        RwD3D9DrawInstanceMesh(header, &shifted);
        RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        RwD3D9SetSrcBlend(D3DBLEND_SRCALPHA);
        RwD3D9SetDestBlend(D3DBLEND_ONE);
        RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
        RwD3D9DrawInstanceMesh(header, &shifted);
        RwD3D9SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        RwD3D9SetRenderState(D3DRS_ZWRITEENABLE, zwrite);
        RwD3D9SetRenderState(D3DRS_ALPHATESTENABLE, test);
        RwD3D9SetVertexAlphaEnable(FALSE);
        RwD3D9SetSrcBlend(static_cast<RwUInt32>(src));
        RwD3D9SetDestBlend(static_cast<RwUInt32>(dst));
    }
    RwD3D9SetStreams(header->vertexStream, header->useOffsets);
    RwD3D9SetVertexDeclaration(header->vertexDeclaration);
    if (env && !rwMatFxDevice.shaders[3]) {
        RwMatFxRenderEnvMap(header, mesh, flags, 1, env);
    }
}
