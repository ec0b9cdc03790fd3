// The device side of rasters: the raster extension and its device objects.
#include "d3d9raster.h"

#include <cstring>
#include <initializer_list>

#include "d3d9device.h"
#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/raster.h"

enum : RwUInt32 {
    rwD3D9NODEHINT = 0x30411,
    rwD3D9ERRORUNSUPPORTED = 0x8000000Du,
    rwD3D9ERRORCREATE = 2,
};

static RwInt32 ExtensionOffset = -1;
static RwRaster *RasterContext;

// Rasters whose Direct3D objects live in the default pool, newest first.
struct DeviceObjectNode {
    RwRaster *raster;
    DeviceObjectNode *next;
};
static RwFreeList *NodeFreeList;
static DeviceObjectNode *DeviceObjects;

static RwD3D9PixelFormat PixelFormats[128];

static void FillPixelFormats(void)
{
    struct Row {
        RwUInt32 format;
        RwUInt8 alpha;
        RwUInt8 depth;
        RwUInt16 rwFormat;
    };
    static const Row rows[] = {
        {20, 0, 24, 0},       {21, 1, 32, 0x0500},  {22, 0, 32, 0x0600}, {23, 0, 16, 0x0200}, {24, 0, 16, 0x0A00},
        {25, 1, 16, 0x0100},  {26, 1, 16, 0x0300},  {27, 0, 8, 0},       {28, 1, 8, 0},       {29, 1, 16, 0},
        {30, 0, 16, 0},       {31, 1, 32, 0},       {32, 1, 32, 0},      {33, 0, 32, 0},      {34, 0, 32, 0},
        {35, 1, 32, 0},       {36, 1, 64, 0},       {40, 1, 16, 0},      {41, 0, 8, 0x2000},  {50, 0, 8, 0x0400},
        {51, 1, 16, 0},       {52, 1, 8, 0},        {60, 0, 16, 0},      {61, 0, 16, 0},      {62, 0, 32, 0},
        {63, 0, 32, 0},       {64, 0, 32, 0},       {67, 1, 32, 0},      {70, 0, 16, 0x0700}, {71, 0, 32, 0x0900},
        {73, 0, 16, 0x0700},  {75, 0, 32, 0x0900},  {77, 0, 32, 0x0900}, {79, 0, 32, 0x0900}, {80, 0, 16, 0x0700},
        {81, 0, 16, 0},       {82, 0, 32, 0x0900},  {83, 0, 32, 0x0900}, {110, 0, 64, 0},     {111, 0, 16, 0},
        {112, 0, 32, 0},      {113, 1, 64, 0},      {114, 0, 32, 0},     {115, 0, 64, 0},     {116, 1, 128, 0},
        {117, 0, 16, 0},
    };
    std::memset(PixelFormats, 0, sizeof(PixelFormats));
    for (const Row &r : rows)
        PixelFormats[r.format] = {r.alpha, r.depth, r.rwFormat};
}

RwD3D9PixelFormat RwD3D9GetPixelFormat(D3DFORMAT format)
{
    RwUInt32 index = static_cast<RwUInt32>(format);
    if (index < 128)
        return PixelFormats[index];
    return {0, 0, 0};
}

RwD3D9RasterExtension *RwD3D9RasterGetExtension(const RwRaster *raster)
{
    return reinterpret_cast<RwD3D9RasterExtension *>(
        reinterpret_cast<RwUInt8 *>(const_cast<RwRaster *>(raster)) + ExtensionOffset);
}

RwBool RwD3D9RasterIsCompressed(const RwRaster *raster)
{
    return (RwD3D9RasterGetExtension(raster)->automipmapCompressed >> 4) != 0;
}

IDirect3DSurface9 *RwD3D9RasterGetTextureSurface(const RwRaster *raster)
{
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    IDirect3DSurface9 *surface = nullptr;
    if (ext->texture == nullptr)
        return nullptr;
    if (ext->cube & 0x0F)
        static_cast<IDirect3DCubeTexture9 *>(ext->texture)
            ->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(ext->cube >> 4), 0, &surface);
    else
        static_cast<IDirect3DTexture9 *>(ext->texture)->GetSurfaceLevel(0, &surface);
    return surface;
}

static void *ExtensionConstructor(void *object, RwInt32 offset, RwInt32)
{
    RwD3D9RasterExtension *ext =
        reinterpret_cast<RwD3D9RasterExtension *>(static_cast<RwUInt8 *>(object) + offset);
    ext->swapChain = nullptr;
    return object;
}

static void *ExtensionDestructor(void *object, RwInt32 offset, RwInt32)
{
    RwD3D9RasterExtension *ext =
        reinterpret_cast<RwD3D9RasterExtension *>(static_cast<RwUInt8 *>(object) + offset);
    if (ext->swapChain) {
        ext->swapChain->Release();
        ext->swapChain = nullptr;
    }
    return object;
}

RwBool RwD3D9RasterPluginAttach(void)
{
    FillPixelFormats();
    ExtensionOffset = RwRasterRegisterPlugin(sizeof(RwD3D9RasterExtension), rwID_D3D9RASTEREXT,
                                             ExtensionConstructor, ExtensionDestructor, nullptr);
    return ExtensionOffset >= 0;
}

// ---------------------------------------------------------------------------
// The device-object list

static void AddDeviceObject(RwRaster *raster)
{
    if (NodeFreeList == nullptr)
        return;
    DeviceObjectNode *node = static_cast<DeviceObjectNode *>(RwFreeListAlloc(NodeFreeList, rwD3D9NODEHINT));
    if (node == nullptr)
        return;
    node->raster = raster;
    node->next = DeviceObjects;
    DeviceObjects = node;
}

static void RemoveDeviceObject(RwRaster *raster)
{
    for (DeviceObjectNode **link = &DeviceObjects; *link; link = &(*link)->next) {
        if ((*link)->raster == raster) {
            DeviceObjectNode *node = *link;
            *link = node->next;
            RwFreeListFree(NodeFreeList, node);
            return;
        }
    }
}

RwBool RwD3D9RasterModuleOpen(void)
{
    if (NodeFreeList == nullptr)
        NodeFreeList = RwFreeListCreate(sizeof(DeviceObjectNode), 127, 4, rwD3D9NODEHINT);
    DeviceObjects = nullptr;
    return NodeFreeList != nullptr;
}

void RwD3D9RasterModuleClose(void)
{
    while (DeviceObjects) {
        DeviceObjectNode *node = DeviceObjects;
        DeviceObjects = node->next;
        RwFreeListFree(NodeFreeList, node);
    }
    if (NodeFreeList)
        RwFreeListDestroy(NodeFreeList);
    NodeFreeList = nullptr;
    RasterContext = nullptr;
}

static RwBool ClientSize(RwInt32 *width, RwInt32 *height)
{
    RECT rect;
    if (rwD3D9Driver.window == nullptr || !GetClientRect(rwD3D9Driver.window, &rect))
        return FALSE;
    *width = rect.right;
    *height = rect.bottom;
    return TRUE;
}

// Depth-stencil format for z-buffers of the current video mode.
static D3DFORMAT ZBufferFormat(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    D3DFORMAT adapterFormat = d.displayMode.format;
    auto accepted = [&](D3DFORMAT f) {
        return d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, adapterFormat, D3DUSAGE_DEPTHSTENCIL,
                                        D3DRTYPE_SURFACE, f) == D3D_OK &&
               d.d3d->CheckDepthStencilMatch(d.adapter, d.deviceType, adapterFormat, adapterFormat, f) == D3D_OK;
    };
    if (d.zBufferDepth == 16)
        return accepted(D3DFMT_D15S1) ? D3DFMT_D15S1 : D3DFMT_D16;
    for (D3DFORMAT f : {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32}) {
        if (accepted(f))
            return f;
    }
    return D3DFMT_D24X8;
}

// Gives a z-buffer raster its surface: the device's own when the size is the
// window's client size, else one of its own.
static RwBool CreateZBufferSurface(RwRaster *raster)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RwInt32 w = 0, h = 0;
    ext->alpha = 0;
    if (ClientSize(&w, &h) && w == raster->width && h == raster->height) {
        ext->texture = d.defaultDepthSurface;
        ext->d3dFormat = d.present.AutoDepthStencilFormat;
        return TRUE;
    }
    D3DFORMAT format = ZBufferFormat();
    IDirect3DSurface9 *surface = nullptr;
    d.device->EvictManagedResources();
    HRESULT hr = d.device->CreateDepthStencilSurface(raster->width > 0 ? raster->width : 1,
                                                     raster->height > 0 ? raster->height : 1, format,
                                                     d.present.MultiSampleType, d.present.MultiSampleQuality,
                                                     FALSE, &surface, nullptr);
    if (FAILED(hr)) {
        RwErrorMakeCode(rwD3D9ERRORCREATE, hr == D3DERR_OUTOFVIDEOMEMORY
                                               ? "Out of video memory. Failed to create raster."
                                               : "Failed to create raster.");
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORCREATE);
        return FALSE;
    }
    ext->texture = surface;
    ext->d3dFormat = format;
    return TRUE;
}

RwBool RwD3D9RasterCreate(void *, void *rasterIn, RwInt32 flags)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (raster == nullptr)
        return FALSE;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    raster->cType = static_cast<RwUInt8>(flags & rwRASTERTYPEMASK);
    raster->cFlags = static_cast<RwUInt8>(flags & 0xF8);
    raster->cpPixels = nullptr;
    raster->palette = nullptr;
    std::memset(ext, 0, sizeof(*ext));
    ext->lockedMipLevel = 0xFF;
    RwInt32 code = flags & rwRASTERFORMATPIXELFORMATMASK;
    RwInt32 format = 0;

    switch (raster->cType) {
    case rwRASTERTYPEZBUFFER: {
        RwInt32 depth = d.zBufferDepth;
        RwInt32 wanted = depth == 16 ? rwRASTERFORMAT16 : depth == 32 ? rwRASTERFORMAT32 : 0;
        if (code != 0 && code != wanted) {
            RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
            return FALSE;
        }
        if (wanted) {
            format = wanted;
            raster->depth = depth;
        }
        break;
    }
    case rwRASTERTYPECAMERA: {
        RwInt32 backBuffer = RwD3D9GetPixelFormat(d.present.BackBufferFormat).rwFormat;
        if (code != 0 && code != backBuffer) {
            RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
            return FALSE;
        }
        format = backBuffer;
        raster->depth = d.displayMode.depth;
        break;
    }
    default:
        // Textures and camera textures are not made on this device yet.
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
        return FALSE;
    }
    raster->cFormat = static_cast<RwUInt8>((format | (flags & 0xF000)) >> 8);

    if (raster->width == 0 || raster->height == 0) {
        raster->cFlags = rwRASTERDONTALLOCATE;
        raster->stride = 0;
        if (raster->depth == 0)
            raster->depth = 16;
        if (raster->cType == rwRASTERTYPECAMERA)
            AddDeviceObject(raster);
        return TRUE;
    }

    if (raster->cType == rwRASTERTYPEZBUFFER) {
        if (raster->cFlags & rwRASTERDONTALLOCATE)
            return TRUE;
        if (!CreateZBufferSurface(raster))
            return FALSE;
        AddDeviceObject(raster);
        return TRUE;
    }

    // A camera raster stands for the back buffer (or a swap chain's).
    RwInt32 w = 0, h = 0;
    if (!(raster->cFlags & rwRASTERDONTALLOCATE) && ClientSize(&w, &h) && (raster->width > w || raster->height > h)) {
        RwErrorMakeCode(rwD3D9ERRORCREATE, "Camera raster is too big.");
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORCREATE);
        return FALSE;
    }
    raster->depth = RwD3D9FormatDepth(d.present.BackBufferFormat);
    raster->stride = 0;
    raster->cFlags = rwRASTERDONTALLOCATE;
    raster->originalWidth = raster->width;
    raster->originalHeight = raster->height;
    ext->d3dFormat = d.present.BackBufferFormat;
    ext->alpha = RwD3D9GetPixelFormat(d.present.BackBufferFormat).alpha;
    AddDeviceObject(raster);
    return TRUE;
}

RwBool RwD3D9RasterDestroy(void *, void *rasterIn, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (raster == nullptr)
        return FALSE;
    if (RasterContext == raster)
        RasterContext = nullptr;
    if (raster->parent != raster) {
        if (raster->cType == rwRASTERTYPECAMERA)
            RemoveDeviceObject(raster);
        return TRUE;
    }
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    switch (raster->cType) {
    case rwRASTERTYPEZBUFFER:
        RemoveDeviceObject(raster);
        if (ext->texture && ext->texture != rwD3D9Driver.defaultDepthSurface)
            static_cast<IDirect3DSurface9 *>(ext->texture)->Release();
        ext->texture = nullptr;
        return TRUE;
    case rwRASTERTYPECAMERA:
        RemoveDeviceObject(raster);
        return TRUE;
    default:
        if (raster->cFlags & rwRASTERDONTALLOCATE)
            return TRUE;
        RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
        return FALSE;
    }
}

RwBool RwD3D9SetRasterContext(void *, void *raster, RwInt32)
{
    RasterContext = static_cast<RwRaster *>(raster);
    return TRUE;
}

RwRaster *RwD3D9GetRasterContext(void)
{
    return RasterContext;
}

RwBool RwD3D9RasterSubRaster(void *subIn, void *parentIn, RwInt32)
{
    RwRaster *sub = static_cast<RwRaster *>(subIn);
    RwRaster *parent = static_cast<RwRaster *>(parentIn);
    if (sub == nullptr || parent == nullptr)
        return FALSE;
    sub->stride = parent->stride;
    sub->depth = parent->depth;
    sub->cType = parent->cType;
    sub->cFormat = parent->cFormat;
    sub->cpPixels = nullptr;
    return TRUE;
}

RwBool RwD3D9RasterGetMipLevels(void *out, void *rasterIn, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (out == nullptr || raster == nullptr)
        return FALSE;
    RwRaster *top = raster->parent ? raster->parent : raster;
    RwInt32 levels = 1;
    RwInt32 type = top->cType;
    if (type == rwRASTERTYPENORMAL || type == rwRASTERTYPETEXTURE || type == rwRASTERTYPECAMERATEXTURE) {
        RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(top);
        if (ext->texture) {
            levels = static_cast<IDirect3DBaseTexture9 *>(ext->texture)->GetLevelCount();
        } else {
            RwUInt32 size = static_cast<RwUInt32>(top->width > top->height ? top->width : top->height);
            levels = 0;
            while (size) {
                levels++;
                size >>= 1;
            }
        }
    }
    *static_cast<RwInt32 *>(out) = levels;
    return TRUE;
}

void RwD3D9RasterReleaseDeviceObjects(void)
{
    RwD3D9Driver &d = rwD3D9Driver;
    for (DeviceObjectNode *n = DeviceObjects; n; n = n->next) {
        RwRaster *raster = n->raster;
        RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
        if (raster->cType == rwRASTERTYPEZBUFFER) {
            if (ext->texture && ext->texture != d.defaultDepthSurface)
                static_cast<IDirect3DSurface9 *>(ext->texture)->Release();
            // The automatic surface is recognised again by its size.
            ext->texture = nullptr;
        } else if (raster->cType == rwRASTERTYPECAMERA && ext->swapChain) {
            // The window stays recorded: the restore builds a new chain for it.
            ext->swapChain->Release();
            ext->swapChain = nullptr;
            ext->texture = nullptr;
        }
    }
}

// A new swap chain for a camera raster that presents into another window.
static RwBool RestoreSwapChain(RwD3D9RasterExtension *ext)
{
    RwD3D9Driver &d = rwD3D9Driver;
    D3DPRESENT_PARAMETERS p = d.present;
    RECT client = {0, 0, 0, 0};
    GetClientRect(ext->window, &client);
    p.hDeviceWindow = ext->window;
    p.BackBufferWidth = client.right == 0 ? 1 : 0;
    p.BackBufferHeight = client.bottom == 0 ? 1 : 0;
    p.EnableAutoDepthStencil = FALSE;
    if (FAILED(d.device->CreateAdditionalSwapChain(&p, &ext->swapChain))) {
        ext->swapChain = nullptr;
        return FALSE;
    }
    IDirect3DSurface9 *back = nullptr;
    if (FAILED(ext->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back)))
        return FALSE;
    D3DSURFACE_DESC desc;
    back->GetDesc(&desc);
    ext->texture = back;
    ext->d3dFormat = desc.Format;
    back->Release();
    return TRUE;
}

// A camera raster on the device window follows the new back buffer: its size
// scales with the back buffer and its format becomes the back buffer's.
static void FollowBackBuffer(RwRaster *raster, RwD3D9RasterExtension *ext)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    RwUInt32 backWidth = d.present.BackBufferWidth;
    RwUInt32 backHeight = d.present.BackBufferHeight;
    if (d.displayMode.width != 0 && static_cast<RwUInt32>(raster->width) != backWidth)
        raster->width = static_cast<RwInt32>(static_cast<RwUInt32>(raster->width) * backWidth /
                                             static_cast<RwUInt32>(d.displayMode.width));
    if (d.displayMode.height != 0 && static_cast<RwUInt32>(raster->height) != backHeight)
        raster->height = static_cast<RwInt32>(static_cast<RwUInt32>(raster->height) * backHeight /
                                              static_cast<RwUInt32>(d.displayMode.height));
    RwD3D9PixelFormat info = RwD3D9GetPixelFormat(d.present.BackBufferFormat);
    raster->depth = RwD3D9FormatDepth(d.present.BackBufferFormat);
    raster->cFormat = static_cast<RwUInt8>((raster->cFormat & 0xF0) | (info.rwFormat >> 8));
    ext->d3dFormat = d.present.BackBufferFormat;
    ext->alpha = info.alpha;
}

RwBool RwD3D9RasterRestoreDeviceObjects(void)
{
    RwBool ok = TRUE;
    for (DeviceObjectNode *n = DeviceObjects; n; n = n->next) {
        RwRaster *raster = n->raster;
        RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
        if (raster->cType == rwRASTERTYPEZBUFFER && !(raster->cFlags & rwRASTERDONTALLOCATE) &&
            ext->texture == nullptr) {
            if (!CreateZBufferSurface(raster))
                ok = FALSE;
        } else if (raster->cType == rwRASTERTYPECAMERA && raster->parent == raster && ext->window) {
            if (ext->swapChain == nullptr && !RestoreSwapChain(ext))
                ok = FALSE;
        } else if (raster->cType == rwRASTERTYPECAMERA && raster->parent == raster) {
            FollowBackBuffer(raster, ext);
        }
    }
    return ok;
}
