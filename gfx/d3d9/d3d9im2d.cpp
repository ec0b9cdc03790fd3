// Immediate-mode 2D drawing on the device: screen-space vertices through their own buffers.
#include "d3d9im2d.h"

#include <cstring>

#include "d3d9device.h"
#include "d3d9raster.h"
#include "d3d9renderstate.h"
#include "d3d9standard.h"
#include "d3d9state.h"
#include "d3d9vertexbuffer.h"
#include "gfx/core/camera.h"
#include "gfx/core/im3d.h"
#include "gfx/core/raster.h"

enum : RwUInt32 {
    rwD3D9IM2DSTRIDE = 28,
    rwD3D9IM2DVERTEXBUFFERSIZE = 262144,
    rwD3D9IM2DMAXVERTICES = rwD3D9IM2DVERTEXBUFFERSIZE / rwD3D9IM2DSTRIDE,   // 9362
    rwD3D9IM2DMAXINDICES = 10000,
    rwD3D9IM2DOWNBUFFERTEXTUREMEMORY = 0x800000,
};

// The vertex as the device reads it.
struct Im2DVertex {
    RwReal x, y, z, rhw;
    RwUInt32 colour;
    RwReal u, v;
};
static_assert(sizeof(Im2DVertex) == rwD3D9IM2DSTRIDE, "2D vertex is 28 bytes");

struct Im2DState {
    IDirect3DVertexBuffer9 *ownVertexBuffer;    // NULL: vertices go to the shared dynamic buffers
    RwUInt32 nextVertex;
    IDirect3DIndexBuffer9 *indexBuffer;
    RwUInt32 nextIndex;
    void *declaration;
};

static Im2DState Im2D;

static const D3DVERTEXELEMENT9 Im2DElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
    {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    {0, 20, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

D3DPRIMITIVETYPE RwD3D9PrimitiveTypeMap(RwInt32 primType)
{
    switch (primType) {
    case rwPRIMTYPELINELIST:
        return D3DPT_LINELIST;
    case rwPRIMTYPEPOLYLINE:
        return D3DPT_LINESTRIP;
    case rwPRIMTYPETRILIST:
        return D3DPT_TRIANGLELIST;
    case rwPRIMTYPETRISTRIP:
        return D3DPT_TRIANGLESTRIP;
    case rwPRIMTYPETRIFAN:
        return D3DPT_TRIANGLEFAN;
    case rwPRIMTYPEPOINTLIST:
        return D3DPT_POINTLIST;
    default:
        return static_cast<D3DPRIMITIVETYPE>(0);
    }
}

RwInt32 RwD3D9PrimitiveCount(RwInt32 primType, RwInt32 count)
{
    RwInt32 n = 0;
    switch (primType) {
    case rwPRIMTYPELINELIST:
        n = count / 2;
        break;
    case rwPRIMTYPEPOLYLINE:
        n = count - 1;
        break;
    case rwPRIMTYPETRILIST:
        n = count / 3;
        break;
    case rwPRIMTYPETRISTRIP:
    case rwPRIMTYPETRIFAN:
        n = count - 2;
        break;
    case rwPRIMTYPEPOINTLIST:
        // Every vertex is a point: a list of points draws them all.
        n = count;
        break;
    default:
        break;
    }
    return n > 0 ? n : 0;
}

RwBool RwD3D9IndicesInRange(const RwUInt16 *indices, RwInt32 count, RwInt32 numVertices)
{
    for (RwInt32 i = 0; i < count; i++) {
        if (indices[i] >= numVertices)
            return FALSE;
    }
    return TRUE;
}

void RwD3D9SetStageZeroForDiffuse(void)
{
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
}

RwBool RwD3D9Im2DOpen(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    if (!d.device)
        return FALSE;
    RwD3D9Im2DClose();
    // Without hardware transform the shared buffers live in system memory;
    // a card with room keeps the 2D vertices in video memory of their own.
    if (!(d.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) &&
        d.device->GetAvailableTextureMem() > rwD3D9IM2DOWNBUFFERTEXTUREMEMORY) {
        IDirect3DVertexBuffer9 *vb = nullptr;
        if (SUCCEEDED(d.device->CreateVertexBuffer(rwD3D9IM2DVERTEXBUFFERSIZE,
                                                   D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC | D3DUSAGE_DONOTCLIP, 0,
                                                   D3DPOOL_DEFAULT, &vb, nullptr)))
            Im2D.ownVertexBuffer = vb;
    }
    if (FAILED(d.device->CreateIndexBuffer(rwD3D9IM2DMAXINDICES * sizeof(RwUInt16),
                                           D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC | D3DUSAGE_DONOTCLIP,
                                           D3DFMT_INDEX16, D3DPOOL_DEFAULT, &Im2D.indexBuffer, nullptr)) ||
        !RwD3D9CreateVertexDeclaration(Im2DElements, &Im2D.declaration)) {
        RwD3D9Im2DClose();
        return FALSE;
    }
    return TRUE;
}

void RwD3D9Im2DClose(void)
{
    if (Im2D.declaration)
        RwD3D9DeleteVertexDeclaration(Im2D.declaration);
    if (Im2D.ownVertexBuffer) {
        if (rwD3D9Cache.streams[0].vertexBuffer == Im2D.ownVertexBuffer)
            RwD3D9SetStreamSource(0, nullptr, 0, 0);
        Im2D.ownVertexBuffer->Release();
    }
    if (Im2D.indexBuffer) {
        if (rwD3D9Cache.lastIndexBuffer == Im2D.indexBuffer)
            RwD3D9SetIndices(nullptr);
        Im2D.indexBuffer->Release();
    }
    std::memset(&Im2D, 0, sizeof Im2D);
}

RwBool RwD3D9Im2DUsesOwnVertexBuffer(void)
{
    return Im2D.ownVertexBuffer != nullptr;
}

RwUInt32 RwD3D9Im2DGetNextVertex(void)
{
    return Im2D.nextVertex;
}

// Room for n vertices: the locked pointer, the buffer and its first vertex, or NULL.
static Im2DVertex *TakeVertices(RwUInt32 n, void **buffer, RwUInt32 *base)
{
    void *data = nullptr;
    if (n == 0)
        return nullptr;
    if (!Im2D.ownVertexBuffer) {
        if (!RwD3D9DynamicVertexBufferLock(rwD3D9IM2DSTRIDE, n, buffer, &data, base))
            return nullptr;
        Im2D.nextVertex = *base;
        return static_cast<Im2DVertex *>(data);
    }
    // A batch the buffer cannot hold is refused rather than written past its end.
    if (n > rwD3D9IM2DMAXVERTICES)
        return nullptr;
    DWORD flags = D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK;
    if (Im2D.nextVertex + n > rwD3D9IM2DMAXVERTICES) {
        Im2D.nextVertex = 0;
        flags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
    }
    if (FAILED(Im2D.ownVertexBuffer->Lock(Im2D.nextVertex * rwD3D9IM2DSTRIDE, n * rwD3D9IM2DSTRIDE, &data, flags)))
        return nullptr;
    *buffer = Im2D.ownVertexBuffer;
    *base = Im2D.nextVertex;
    return static_cast<Im2DVertex *>(data);
}

static void ReleaseVertices(void *buffer)
{
    if (buffer == Im2D.ownVertexBuffer)
        Im2D.ownVertexBuffer->Unlock();
    else
        RwD3D9DynamicVertexBufferUnlock(buffer);
}

// Where the raster being drawn lies in its parent: the camera's, or else the
// current raster context's when allowed.
static void RasterOffset(RwBool useContext, RwReal *dx, RwReal *dy)
{
    const RwCamera *camera = static_cast<const RwCamera *>(RwD3D9GetCurrentCamera());
    const RwRaster *raster = camera ? camera->frameBuffer : (useContext ? RwD3D9GetRasterContext() : nullptr);
    *dx = raster ? static_cast<RwReal>(raster->nOffsetX) : 0.0f;
    *dy = raster ? static_cast<RwReal>(raster->nOffsetY) : 0.0f;
}

static void CopyVertex(Im2DVertex *to, const Im2DVertex *from, RwReal dx, RwReal dy)
{
    *to = *from;
    to->x += dx;
    to->y += dy;
}

static void SetState(void *buffer)
{
    RwD3D9SetVertexDeclaration(Im2D.declaration);
    RwD3D9SetVertexShader(nullptr);
    RwD3D9SetPixelShader(nullptr);
    RwD3D9SetRenderState(D3DRS_CLIPPING, FALSE);
    RwD3D9SetRenderState(D3DRS_LIGHTING, FALSE);
    RwD3D9SetStageZeroForDiffuse();
    RwD3D9SetStreamSource(0, buffer, 0, rwD3D9IM2DSTRIDE);
    RwD3D9FlushRenderStates();
}

// Copies the listed vertices (all of them when list is NULL) and draws them.
static RwBool DrawVertices(RwInt32 primType, const Im2DVertex *vertices, const RwUInt16 *list, RwInt32 count,
                           RwReal dx, RwReal dy)
{
    const RwInt32 primitives = RwD3D9PrimitiveCount(primType, count);
    if (primitives == 0 || !Im2D.declaration)
        return FALSE;
    void *buffer = nullptr;
    RwUInt32 base = 0;
    Im2DVertex *to = TakeVertices(static_cast<RwUInt32>(count), &buffer, &base);
    if (!to)
        return FALSE;
    for (RwInt32 i = 0; i < count; i++)
        CopyVertex(&to[i], &vertices[list ? list[i] : i], dx, dy);
    ReleaseVertices(buffer);
    SetState(buffer);
    const HRESULT hr = rwD3D9Driver.device->DrawPrimitive(RwD3D9PrimitiveTypeMap(primType), base,
                                                          static_cast<UINT>(primitives));
    Im2D.nextVertex = base + static_cast<RwUInt32>(count);
    return SUCCEEDED(hr);
}

RwBool RwD3D9Im2DRenderLine(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2)
{
    if (!vertices || vert1 < 0 || vert2 < 0 || vert1 >= numVertices || vert2 >= numVertices)
        return FALSE;
    const RwUInt16 list[2] = {static_cast<RwUInt16>(vert1), static_cast<RwUInt16>(vert2)};
    RwReal dx, dy;
    RasterOffset(FALSE, &dx, &dy);
    return DrawVertices(rwPRIMTYPELINELIST, static_cast<const Im2DVertex *>(vertices), list, 2, dx, dy);
}

RwBool RwD3D9Im2DRenderTriangle(void *vertices, RwInt32 numVertices, RwInt32 vert1, RwInt32 vert2, RwInt32 vert3)
{
    if (!vertices || vert1 < 0 || vert2 < 0 || vert3 < 0 || vert1 >= numVertices || vert2 >= numVertices ||
        vert3 >= numVertices)
        return FALSE;
    const RwUInt16 list[3] = {static_cast<RwUInt16>(vert1), static_cast<RwUInt16>(vert2),
                              static_cast<RwUInt16>(vert3)};
    RwReal dx, dy;
    RasterOffset(FALSE, &dx, &dy);
    return DrawVertices(rwPRIMTYPETRILIST, static_cast<const Im2DVertex *>(vertices), list, 3, dx, dy);
}

RwBool RwD3D9Im2DRenderPrimitive(RwInt32 primType, void *vertices, RwInt32 numVertices)
{
    if (!vertices || numVertices <= 0)
        return FALSE;
    RwReal dx, dy;
    RasterOffset(TRUE, &dx, &dy);
    return DrawVertices(primType, static_cast<const Im2DVertex *>(vertices), nullptr, numVertices, dx, dy);
}

// Room for n indices with the same wrap rule as the own vertex buffer.
static RwUInt16 *TakeIndices(RwUInt32 n)
{
    void *data = nullptr;
    DWORD flags = D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK;
    if (Im2D.nextIndex + n > rwD3D9IM2DMAXINDICES) {
        Im2D.nextIndex = 0;
        flags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
    }
    if (FAILED(Im2D.indexBuffer->Lock(Im2D.nextIndex * sizeof(RwUInt16), n * sizeof(RwUInt16), &data, flags)))
        return nullptr;
    return static_cast<RwUInt16 *>(data);
}

RwBool RwD3D9Im2DRenderIndexedPrimitive(RwInt32 primType, void *verticesIn, RwInt32 numVertices, RwUInt16 *indices,
                                        RwInt32 numIndices)
{
    const Im2DVertex *vertices = static_cast<const Im2DVertex *>(verticesIn);
    // Every index is checked before any vertex is read through it.
    if (!vertices || !indices || numVertices <= 0 || numIndices <= 0 ||
        !RwD3D9IndicesInRange(indices, numIndices, numVertices))
        return FALSE;
    RwReal dx, dy;
    RasterOffset(FALSE, &dx, &dy);
    if (numIndices <= numVertices)
        return DrawVertices(primType, vertices, indices, numIndices, dx, dy);

    const RwInt32 primitives = RwD3D9PrimitiveCount(primType, numIndices);
    if (primitives == 0 || !Im2D.indexBuffer || !Im2D.declaration || numIndices > static_cast<RwInt32>(rwD3D9IM2DMAXINDICES))
        return FALSE;
    void *buffer = nullptr;
    RwUInt32 base = 0;
    Im2DVertex *to = TakeVertices(static_cast<RwUInt32>(numVertices), &buffer, &base);
    if (!to)
        return FALSE;
    for (RwInt32 i = 0; i < numVertices; i++)
        CopyVertex(&to[i], &vertices[i], dx, dy);
    ReleaseVertices(buffer);
    Im2D.nextVertex = base + static_cast<RwUInt32>(numVertices);

    RwUInt16 *toIndex = TakeIndices(static_cast<RwUInt32>(numIndices));
    if (!toIndex)
        return FALSE;
    std::memcpy(toIndex, indices, static_cast<size_t>(numIndices) * sizeof(RwUInt16));
    Im2D.indexBuffer->Unlock();
    SetState(buffer);
    RwD3D9SetIndices(Im2D.indexBuffer);
    const HRESULT hr = rwD3D9Driver.device->DrawIndexedPrimitive(
        RwD3D9PrimitiveTypeMap(primType), static_cast<INT>(base), 0, static_cast<UINT>(numVertices),
        Im2D.nextIndex, static_cast<UINT>(primitives));
    Im2D.nextIndex += static_cast<RwUInt32>(numIndices);
    return SUCCEEDED(hr);
}
