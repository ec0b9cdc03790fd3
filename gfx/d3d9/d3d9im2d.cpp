// Immediate-mode drawing on the device: the 2D entry points and the 3D buffers.
#include "d3d9im2d.h"

#include <windows.h>
#include <d3d9.h>

#include "d3d9device.h"
#include "d3d9renderstate.h"
#include "d3d9state.h"
#include "gfx/core/im3d.h"

// 2D vertices are drawn straight from the caller's memory; the dynamic 2D
// buffers are not kept yet. Sub-raster offsets of the camera are not applied.

namespace {

// x, y, z, 1/w, colour, u, v as the device reads them.
struct Im2DVertex {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};
static_assert(sizeof(Im2DVertex) == 28, "2D vertex is 28 bytes");

void *Declaration = nullptr;

// Direct3D type and primitive count of a vertex or index count; type 0 when
// the count draws nothing.
D3DPRIMITIVETYPE MapType(RwInt32 type, RwInt32 n, UINT *primitives)
{
    switch (type) {
    case 1: *primitives = n / 2; return D3DPT_LINELIST;
    case 2: *primitives = n - 1; return D3DPT_LINESTRIP;
    case 3: *primitives = n / 3; return D3DPT_TRIANGLELIST;
    case 4: *primitives = n - 2; return D3DPT_TRIANGLESTRIP;
    case 5: *primitives = n - 2; return D3DPT_TRIANGLEFAN;
    case 6: *primitives = n; return D3DPT_POINTLIST;
    default: *primitives = 0; return static_cast<D3DPRIMITIVETYPE>(0);
    }
}

void SetState(void)
{
    RwD3D9SetVertexDeclaration(Declaration);
    RwD3D9SetVertexShader(nullptr);
    RwD3D9SetPixelShader(nullptr);
    RwD3D9SetRenderState(D3DRS_CLIPPING, FALSE);
    RwD3D9SetRenderState(D3DRS_LIGHTING, FALSE);
    if (RwD3D9GetTextureRaster(0)) {
        RwD3D9SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        RwD3D9SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        RwD3D9SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    } else {
        RwD3D9SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        RwD3D9SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        RwD3D9SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    }
    RwD3D9SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    RwD3D9FlushRenderStates();
}

RwBool Draw(RwInt32 type, const void *vertices, RwInt32 count)
{
    UINT primitives = 0;
    D3DPRIMITIVETYPE d3dType = MapType(type, count, &primitives);
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (device == nullptr || Declaration == nullptr || vertices == nullptr || count <= 0 || d3dType == 0 ||
        static_cast<RwInt32>(primitives) <= 0)
        return FALSE;
    SetState();
    // A UP draw unbinds stream 0 on the device.
    rwD3D9Cache.streams[0].vertexBuffer = nullptr;
    return SUCCEEDED(device->DrawPrimitiveUP(d3dType, primitives, vertices, sizeof(Im2DVertex)));
}

RwBool DrawIndexed(RwInt32 type, const void *vertices, RwInt32 count, const RwUInt16 *indices, RwInt32 n)
{
    UINT primitives = 0;
    D3DPRIMITIVETYPE d3dType = MapType(type, n, &primitives);
    IDirect3DDevice9 *device = rwD3D9Driver.device;
    if (device == nullptr || Declaration == nullptr || vertices == nullptr || indices == nullptr || count <= 0 ||
        d3dType == 0 || static_cast<RwInt32>(primitives) <= 0)
        return FALSE;
    // An index past the vertices would read beyond the caller's array.
    for (RwInt32 i = 0; i < n; i++)
        if (indices[i] >= count)
            return FALSE;
    SetState();
    rwD3D9Cache.streams[0].vertexBuffer = nullptr;
    rwD3D9Cache.lastIndexBuffer = nullptr;
    return SUCCEEDED(device->DrawIndexedPrimitiveUP(d3dType, 0, count, primitives, indices, D3DFMT_INDEX16,
                                                    vertices, sizeof(Im2DVertex)));
}

} // namespace

RwBool RwD3D9Im2DOpen(void)
{
    static const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
        {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
        {0, 20, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END(),
    };
    if (Declaration)
        return TRUE;
    return RwD3D9CreateVertexDeclaration(elements, &Declaration);
}

void RwD3D9Im2DClose(void)
{
    if (Declaration) {
        RwD3D9DeleteVertexDeclaration(Declaration);
        Declaration = nullptr;
    }
}

RwBool RwD3D9Im2DRenderLine(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2)
{
    if (vertices == nullptr || vert1 < 0 || vert2 < 0 || vert1 >= numVertices || vert2 >= numVertices)
        return FALSE;
    const Im2DVertex *v = static_cast<const Im2DVertex *>(vertices);
    Im2DVertex line[2] = {v[vert1], v[vert2]};
    return Draw(1, line, 2);
}

RwBool RwD3D9Im2DRenderTriangle(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2, RwInt32 vert3)
{
    if (vertices == nullptr || vert1 < 0 || vert2 < 0 || vert3 < 0 || vert1 >= numVertices ||
        vert2 >= numVertices || vert3 >= numVertices)
        return FALSE;
    const Im2DVertex *v = static_cast<const Im2DVertex *>(vertices);
    Im2DVertex triangle[3] = {v[vert1], v[vert2], v[vert3]};
    return Draw(3, triangle, 3);
}

RwBool RwD3D9Im2DRenderPrimitive(RwInt32 primType, void *vertices, RwInt32 numVertices)
{
    return Draw(primType, vertices, numVertices);
}

RwBool RwD3D9Im2DRenderIndexedPrimitive(RwInt32 primType, void *vertices, RwInt32 numVertices, RwUInt16 *indices,
                                        RwInt32 numIndices)
{
    return DrawIndexed(primType, vertices, numVertices, indices, numIndices);
}

RwBool RwD3D9Im3DCreateBuffers(void)
{
    return TRUE;
}

void RwD3D9Im3DReleaseBuffers(void)
{
}

// The default 3D immediate pipelines are not made yet: the slots stay empty,
// so 3D batches are refused until a caller installs its own pipelines.
RwBool RwD3D9Im3DTransformPipelineCreate(RxPipeline **slot)
{
    *slot = nullptr;
    return TRUE;
}

void RwD3D9Im3DTransformPipelineDestroy(RxPipeline **slot)
{
    *slot = nullptr;
}

RwBool RwD3D9Im3DRenderPipelinesCreate(RxPipeline **slots)
{
    for (int i = 0; i < 6; ++i) {
        slots[i] = nullptr;
    }
    return TRUE;
}

void RwD3D9Im3DRenderPipelinesDestroy(RxPipeline **slots)
{
    for (int i = 0; i < 6; ++i) {
        slots[i] = nullptr;
    }
}
