// The device side of rasters: the raster extension, creation and destruction of device objects.
#include "d3d9raster.h"

#include <cstring>
#include <initializer_list>

#include "d3d9device.h"
#include "d3d9pixel.h"
#include "d3d9renderstate.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"

enum : RwUInt32 {
    rwD3D9PALETTEHINT = 0x30411,
    rwD3D9PALETTESTACKHINT = 0x1030411,
    rwD3D9PALETTESTACKSTEP = 512,
};
enum : RwInt32 { rwRASTERFORMATMIPBITS = rwRASTERFORMATMIPMAP | rwRASTERFORMATAUTOMIPMAP };

static RwInt32 ExtensionOffset = -1;
static RwInt32 ShapeOffset = -1;
static RwRaster *RasterContext;

// Rasters whose Direct3D objects live in the default pool or whose palette
// must be sent again after a reset, newest first.
struct DeviceObjectNode {
    RwRaster *raster;
    DeviceObjectNode *next;
};
static RwFreeList *NodeFreeList;
static DeviceObjectNode *DeviceObjects;

// Palette records and the stack of palette numbers given back.
static RwFreeList *PaletteFreeList;
static RwUInt16 *FreeNumbers;
static RwUInt32 NumFreeNumbers;
static RwUInt32 FreeNumberCapacity;
static RwUInt32 NextNumber;

static void RaiseCreate(const char *message)
{
    RwErrorMakeCode(rwD3D9ERRORCREATE, message);
    RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORCREATE);
}

static void RaiseUnsupported(void)
{
    RwErrorRaise(rwID_COREPLUGIN, rwD3D9ERRORUNSUPPORTED);
}

RwD3D9RasterExtension *RwD3D9RasterGetExtension(const RwRaster *raster)
{
    return reinterpret_cast<RwD3D9RasterExtension *>(
        reinterpret_cast<RwUInt8 *>(const_cast<RwRaster *>(raster)) + ExtensionOffset);
}

RwD3D9CameraShape *RwD3D9RasterGetCameraShape(const RwRaster *raster)
{
    return reinterpret_cast<RwD3D9CameraShape *>(reinterpret_cast<RwUInt8 *>(const_cast<RwRaster *>(raster)) +
                                                 ShapeOffset);
}

RwRaster *RwD3D9RasterGetTop(const RwRaster *raster)
{
    RwRaster *top = const_cast<RwRaster *>(raster);
    while (top->parent && top->parent != top)
        top = top->parent;
    return top;
}

RwBool RwD3D9RasterIsCompressed(const RwRaster *raster)
{
    return (RwD3D9RasterGetExtension(raster)->automipmapCompressed >> 4) != 0;
}

RwBool RwD3D9RasterIsCubeMap(const RwRaster *raster)
{
    return RwD3D9RasterGetExtension(raster)->cube & 0x0F;
}

RwBool RwD3D9TextureHasAlpha(const RwTexture *texture)
{
    if (texture == nullptr || texture->raster == nullptr)
        return FALSE;
    return RwD3D9RasterGetExtension(texture->raster)->alpha != 0;
}

void RwD3D9RasterClearAlphaFlag(RwRaster *raster)
{
    RwD3D9RasterGetExtension(raster)->alpha = 0;
}

IDirect3DSurface9 *RwD3D9RasterGetLevelSurface(const RwRaster *raster, RwUInt32 level)
{
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    IDirect3DSurface9 *surface = nullptr;
    if (ext->texture == nullptr)
        return nullptr;
    HRESULT hr;
    if (ext->cube & 0x0F)
        hr = static_cast<IDirect3DCubeTexture9 *>(ext->texture)
                 ->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(ext->cube >> 4), level, &surface);
    else
        hr = static_cast<IDirect3DTexture9 *>(ext->texture)->GetSurfaceLevel(level, &surface);
    return SUCCEEDED(hr) ? surface : nullptr;
}

IDirect3DSurface9 *RwD3D9RasterGetTextureSurface(const RwRaster *raster)
{
    return RwD3D9RasterGetLevelSurface(raster, 0);
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
    RwD3D9FillPixelFormats();
    ExtensionOffset = RwRasterRegisterPlugin(sizeof(RwD3D9RasterExtension), rwID_D3D9RASTEREXT,
                                             ExtensionConstructor, ExtensionDestructor, nullptr);
    // No constructor: the raster's constructors run after the device made
    // it, and the device records the shape there (RwD3D9RasterCreate).
    ShapeOffset = RwRasterRegisterPlugin(sizeof(RwD3D9CameraShape), rwID_D3D9CAMERASHAPE, nullptr, nullptr, nullptr);
    return ExtensionOffset >= 0 && ShapeOffset >= 0;
}

// ---------------------------------------------------------------------------
// The device-object list and palette records

// FALSE when no node could be had: a raster left off the list would not
// follow a reset, so whoever asked refuses it.
static RwBool AddDeviceObject(RwRaster *raster)
{
    if (NodeFreeList == nullptr)
        return TRUE;
    DeviceObjectNode *node = static_cast<DeviceObjectNode *>(RwFreeListAlloc(NodeFreeList, rwD3D9NODEHINT));
    if (node == nullptr) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return FALSE;
    }
    node->raster = raster;
    node->next = DeviceObjects;
    DeviceObjects = node;
    return TRUE;
}

static bool IsDeviceObject(const RwRaster *raster)
{
    for (const DeviceObjectNode *n = DeviceObjects; n; n = n->next) {
        if (n->raster == raster)
            return true;
    }
    return false;
}

// Lists a raster just made; one the list cannot hold gives back what was
// made for it and is refused.
static RwBool ListMade(RwRaster *raster)
{
    if (AddDeviceObject(raster))
        return TRUE;
    RwD3D9RasterDestroy(nullptr, raster, 0);
    return FALSE;
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

void RwD3D9RasterForAllDeviceObjects(RwD3D9RasterCallBack callback, void *data)
{
    for (DeviceObjectNode *n = DeviceObjects; n; n = n->next)
        callback(n->raster, data);
}

RwD3D9Palette *RwD3D9PaletteCreate(void)
{
    if (PaletteFreeList == nullptr)
        PaletteFreeList = RwFreeListCreate(sizeof(RwD3D9Palette), 64, 4, rwD3D9PALETTEHINT);
    if (PaletteFreeList == nullptr)
        return nullptr;
    RwD3D9Palette *palette = static_cast<RwD3D9Palette *>(RwFreeListAlloc(PaletteFreeList, rwD3D9PALETTEHINT));
    if (palette == nullptr)
        return nullptr;
    std::memset(palette->entries, 0, sizeof(palette->entries));
    palette->number = NumFreeNumbers ? FreeNumbers[--NumFreeNumbers] : NextNumber++;
    return palette;
}

void RwD3D9PaletteDestroy(RwD3D9Palette *palette)
{
    // Records of rasters that outlive the device went with its free list.
    if (palette == nullptr || PaletteFreeList == nullptr)
        return;
    if (NumFreeNumbers == FreeNumberCapacity) {
        RwUInt32 capacity = FreeNumberCapacity + rwD3D9PALETTESTACKSTEP;
        void *grown = RwRealloc(FreeNumbers, capacity * sizeof(RwUInt16), rwD3D9PALETTESTACKHINT);
        if (grown) {
            FreeNumbers = static_cast<RwUInt16 *>(grown);
            FreeNumberCapacity = capacity;
        }
    }
    // Without room the number is never handed out again; nothing else is lost.
    if (NumFreeNumbers < FreeNumberCapacity)
        FreeNumbers[NumFreeNumbers++] = static_cast<RwUInt16>(palette->number);
    RwFreeListFree(PaletteFreeList, palette);
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
    NumFreeNumbers = FreeNumberCapacity = NextNumber = 0;
    RwFree(FreeNumbers);
    FreeNumbers = nullptr;
    if (PaletteFreeList)
        RwFreeListDestroy(PaletteFreeList);
    PaletteFreeList = nullptr;
    RasterContext = nullptr;
}

// ---------------------------------------------------------------------------
// Creation

static RwBool ClientSize(RwInt32 *width, RwInt32 *height)
{
    RECT rect;
    if (rwD3D9Driver.window == nullptr || !GetClientRect(rwD3D9Driver.window, &rect))
        return FALSE;
    *width = rect.right;
    *height = rect.bottom;
    return TRUE;
}

D3DFORMAT RwD3D9ZBufferFormat(void)
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

RwBool RwD3D9CreateZBufferSurface(RwRaster *raster)
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
    D3DFORMAT format = RwD3D9ZBufferFormat();
    IDirect3DSurface9 *surface = nullptr;
    d.device->EvictManagedResources();
    HRESULT hr = d.device->CreateDepthStencilSurface(raster->width > 0 ? raster->width : 1,
                                                     raster->height > 0 ? raster->height : 1, format,
                                                     d.present.MultiSampleType, d.present.MultiSampleQuality,
                                                     FALSE, &surface, nullptr);
    if (FAILED(hr)) {
        RaiseCreate(hr == D3DERR_OUTOFVIDEOMEMORY ? "Out of video memory. Failed to create raster."
                                                  : "Failed to create raster.");
        return FALSE;
    }
    ext->texture = surface;
    ext->d3dFormat = format;
    return TRUE;
}

static DWORD AutoMipUsage(const RwD3D9RasterExtension *ext)
{
    return (ext->automipmapCompressed & 0x0F) ? D3DUSAGE_AUTOGENMIPMAP : 0;
}

static UINT LevelsToCreate(const RwRaster *raster)
{
    return (raster->cFormat & (rwRASTERFORMATMIPMAP >> 8)) ? 0 : 1;
}

RwBool RwD3D9CreateCameraTexture(RwRaster *raster)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    DWORD usage = D3DUSAGE_RENDERTARGET | AutoMipUsage(ext);
    HRESULT hr;
    if (ext->cube & 0x0F)
        hr = d.device->CreateCubeTexture(raster->width, LevelsToCreate(raster), usage, ext->d3dFormat,
                                         D3DPOOL_DEFAULT,
                                         reinterpret_cast<IDirect3DCubeTexture9 **>(&ext->texture), nullptr);
    else
        hr = d.device->CreateTexture(raster->width, raster->height, LevelsToCreate(raster), usage, ext->d3dFormat,
                                     D3DPOOL_DEFAULT, reinterpret_cast<IDirect3DTexture9 **>(&ext->texture),
                                     nullptr);
    if (SUCCEEDED(hr))
        return TRUE;
    ext->texture = nullptr;
    if (hr == D3DERR_OUTOFVIDEOMEMORY) {
        RaiseCreate("Out of video memory. Failed to create raster.");
        return FALSE;
    }
    // A format that cannot be drawn into falls back to the back buffer's.
    D3DFORMAT backBuffer = d.present.BackBufferFormat;
    hr = d.device->CreateTexture(raster->width, raster->height, LevelsToCreate(raster), AutoMipUsage(ext), backBuffer,
                                 D3DPOOL_DEFAULT, reinterpret_cast<IDirect3DTexture9 **>(&ext->texture), nullptr);
    if (FAILED(hr)) {
        ext->texture = nullptr;
        RaiseCreate("Failed to create raster.");
        return FALSE;
    }
    RwD3D9PixelFormat info = RwD3D9GetPixelFormat(backBuffer);
    raster->cFormat = static_cast<RwUInt8>((raster->cFormat & 0xF0) | (info.rwFormat >> 8));
    raster->depth = rwD3D9Driver.displayMode.depth;
    ext->d3dFormat = backBuffer;
    ext->alpha = info.alpha;
    return TRUE;
}

static RwBool CreateTextureObject(RwRaster *raster)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RwInt32 format = static_cast<RwInt32>(raster->cFormat) << 8;
    RwInt32 code = format & rwRASTERFORMATPIXELFORMATMASK;
    const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(format);
    RwBool palettised = (format & (rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4)) != 0;
    if (palettised) {
        if (code != rwRASTERFORMAT888 && code != rwRASTERFORMAT8888) {
            RaiseCreate("Palletized texture can only be rwRASTERFORMAT888 or rwRASTERFORMAT8888.");
            return FALSE;
        }
        ext->palette = RwD3D9PaletteCreate();
        ext->d3dFormat = D3DFMT_P8;
    } else {
        ext->d3dFormat = info->format;
    }
    ext->alpha = info->alpha;
    RwD3D9RasterAdjustSize(&raster->width, &raster->height, raster->cType | format);

    HRESULT hr;
    IDirect3DTexture9 **out = reinterpret_cast<IDirect3DTexture9 **>(&ext->texture);
    RwBool depth = RwD3D9IsDepthFormat(ext->d3dFormat);
    if (depth)
        hr = d.device->CreateTexture(raster->width, raster->height, 1, D3DUSAGE_DEPTHSTENCIL, ext->d3dFormat,
                                     D3DPOOL_DEFAULT, out, nullptr);
    else
        hr = d.device->CreateTexture(raster->width, raster->height, LevelsToCreate(raster), AutoMipUsage(ext),
                                     ext->d3dFormat, D3DPOOL_MANAGED, out, nullptr);
    if (FAILED(hr)) {
        ext->texture = nullptr;
        RwD3D9PaletteDestroy(static_cast<RwD3D9Palette *>(ext->palette));
        ext->palette = nullptr;
        RaiseCreate("Failed to create texture.");
        return FALSE;
    }
    return depth || ext->palette ? ListMade(raster) : TRUE;
}

// Format word and depth of a normal or texture raster; FALSE when the device
// cannot hold the request.
static RwBool ChooseTextureFormat(RwInt32 flags, RwInt32 *format, RwInt32 *depth)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    RwInt32 code = flags & rwRASTERFORMATPIXELFORMATMASK;
    RwBool paletteAlpha = (d.caps.TextureCaps & D3DPTEXTURECAPS_ALPHAPALETTE) != 0;
    if (code == 0 && (flags & rwRASTERFORMATPAL8)) {
        if (!RwD3D9CheckTextureFormat(D3DFMT_P8))
            return FALSE;
        *format = (paletteAlpha ? rwRASTERFORMAT8888 : rwRASTERFORMAT888) | rwRASTERFORMATPAL8;
        *depth = 8;
    } else if (code == 0) {
        if (d.displayMode.depth > 16 && RwD3D9CheckTextureFormat(D3DFMT_A8R8G8B8)) {
            *format = rwRASTERFORMAT8888;
            *depth = 32;
        } else {
            *format = RwD3D9CheckTextureFormat(D3DFMT_A4R4G4B4) ? rwRASTERFORMAT4444 : rwRASTERFORMAT1555;
            *depth = 16;
        }
        *format |= flags & rwRASTERFORMATPAL4;
    } else if (flags & rwRASTERFORMATPAL4) {
        RaiseUnsupported();
        return FALSE;
    } else if (flags & rwRASTERFORMATPAL8) {
        if (!RwD3D9CheckTextureFormat(D3DFMT_P8) ||
            !(code == rwRASTERFORMAT888 || (code == rwRASTERFORMAT8888 && paletteAlpha)))
            return FALSE;
        *format = code | rwRASTERFORMATPAL8;
        *depth = 8;
    } else {
        const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(code);
        if (info == nullptr) {
            RaiseUnsupported();
            return FALSE;
        }
        RwBool ok = RwD3D9IsDepthFormat(info->format) ? RwD3D9CheckDepthTextureFormat(info->format)
                                                      : RwD3D9CheckTextureFormat(info->format);
        if (!ok)
            return FALSE;
        *format = code;
        *depth = info->depth;
    }
    return TRUE;
}

static RwBool ChooseCameraTextureFormat(RwInt32 flags, RwInt32 *format, RwInt32 *depth)
{
    RwInt32 code = flags & rwRASTERFORMATPIXELFORMATMASK;
    if (code == 0) {
        if (rwD3D9Driver.displayMode.depth != 16 && RwD3D9CheckRenderTargetFormat(D3DFMT_X8R8G8B8)) {
            *format = rwRASTERFORMAT888;
            *depth = 32;
        } else {
            *format = rwRASTERFORMAT565;
            *depth = 16;
        }
    } else {
        const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(code);
        if (info == nullptr || !RwD3D9CheckRenderTargetFormat(info->format)) {
            RaiseUnsupported();
            return FALSE;
        }
        *format = code;
        *depth = info->depth;
    }
    // Creation refuses palettes on render targets with its own message.
    *format |= flags & (rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4);
    return TRUE;
}

// Hardware mip-maps for a raster that asks for both mip-map bits.
static void ChooseAutoMipmap(RwRaster *raster, RwInt32 flags, RwInt32 format)
{
    if ((flags & rwRASTERFORMATMIPBITS) != rwRASTERFORMATMIPBITS ||
        (format & (rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4)))
        return;
    const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(format);
    if (info == nullptr || info->format == D3DFMT_UNKNOWN)
        return;
    RwBool ok = raster->cType == rwRASTERTYPECAMERATEXTURE ? RwD3D9CheckAutoMipmapRenderTargetFormat(info->format)
                                                           : RwD3D9CheckAutoMipmapFormat(info->format);
    if (ok)
        RwD3D9RasterGetExtension(raster)->automipmapCompressed |= 0x01;
}

static RwBool CreateCamera(RwRaster *raster)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RwInt32 w = 0, h = 0;
    const RwBool client = ClientSize(&w, &h);
    if (!(raster->cFlags & rwRASTERDONTALLOCATE) && client && (raster->width > w || raster->height > h)) {
        RaiseCreate("Camera raster is too big.");
        return FALSE;
    }
    raster->depth = RwD3D9FormatDepth(d.present.BackBufferFormat);
    raster->stride = 0;
    raster->cFlags = rwRASTERDONTALLOCATE;
    raster->originalWidth = raster->width;
    raster->originalHeight = raster->height;
    // Resets scale it from the size it was checked against. A windowed back
    // buffer takes the client size at the next window check, which the mode
    // only then catches up with; an exclusive one keeps the mode's.
    const RwBool windowed = !(d.displayMode.flags & rwVIDEOMODEEXCLUSIVE);
    const RwBool fromClient = windowed && client;
    *RwD3D9RasterGetCameraShape(raster) = {raster->width,
                                           raster->height,
                                           static_cast<RwUInt32>(fromClient ? w : d.displayMode.width),
                                           static_cast<RwUInt32>(fromClient ? h : d.displayMode.height),
                                           raster->width,
                                           raster->height,
                                           0,
                                           0};
    ext->d3dFormat = d.present.BackBufferFormat;
    ext->alpha = RwD3D9GetPixelFormat(d.present.BackBufferFormat).alpha;
    return ListMade(raster);
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
    *RwD3D9RasterGetCameraShape(raster) = {};
    ext->lockedMipLevel = 0xFF;
    RwInt32 code = flags & rwRASTERFORMATPIXELFORMATMASK;
    RwInt32 format = 0;
    RwInt32 depth = 0;

    switch (raster->cType) {
    case rwRASTERTYPENORMAL:
    case rwRASTERTYPETEXTURE:
    case rwRASTERTYPECAMERATEXTURE: {
        RwBool chosen = raster->cType == rwRASTERTYPECAMERATEXTURE ? ChooseCameraTextureFormat(flags, &format, &depth)
                                                                    : ChooseTextureFormat(flags, &format, &depth);
        if (!chosen)
            return FALSE;
        raster->depth = depth;
        ChooseAutoMipmap(raster, flags, format);
        break;
    }
    case rwRASTERTYPEZBUFFER: {
        RwInt32 wanted = d.zBufferDepth == 16 ? rwRASTERFORMAT16 : d.zBufferDepth == 32 ? rwRASTERFORMAT32 : 0;
        if (code != 0 && code != wanted) {
            RaiseUnsupported();
            return FALSE;
        }
        if (wanted) {
            format = wanted;
            raster->depth = d.zBufferDepth;
        }
        break;
    }
    case rwRASTERTYPECAMERA: {
        RwInt32 backBuffer = RwD3D9GetPixelFormat(d.present.BackBufferFormat).rwFormat;
        if (code != 0 && code != backBuffer) {
            RaiseUnsupported();
            return FALSE;
        }
        format = backBuffer;
        raster->depth = d.displayMode.depth;
        break;
    }
    default:
        RaiseUnsupported();
        return FALSE;
    }
    raster->cFormat = static_cast<RwUInt8>((format | (flags & rwRASTERFORMATMIPBITS)) >> 8);

    if (raster->width == 0 || raster->height == 0) {
        raster->cFlags = rwRASTERDONTALLOCATE;
        raster->stride = 0;
        if (raster->depth == 0)
            raster->depth = 16;
        return raster->cType == rwRASTERTYPECAMERA ? ListMade(raster) : TRUE;
    }

    switch (raster->cType) {
    case rwRASTERTYPECAMERA:
        return CreateCamera(raster);
    case rwRASTERTYPEZBUFFER:
        if (raster->cFlags & rwRASTERDONTALLOCATE)
            return TRUE;
        return RwD3D9CreateZBufferSurface(raster) && ListMade(raster);
    case rwRASTERTYPECAMERATEXTURE: {
        if (raster->cFlags & rwRASTERDONTALLOCATE)
            return TRUE;
        if (format & (rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4)) {
            RaiseCreate("rwRASTERTYPECAMERATEXTURE can not be palletized.");
            return FALSE;
        }
        const RwD3D9CodeInfo *info = RwD3D9GetCodeInfo(format);
        ext->d3dFormat = info->format;
        ext->alpha = info->alpha;
        RwD3D9RasterAdjustSize(&raster->width, &raster->height, raster->cType | (raster->cFormat << 8));
        d.device->EvictManagedResources();
        return RwD3D9CreateCameraTexture(raster) && ListMade(raster);
    }
    default:
        if (raster->cFlags & rwRASTERDONTALLOCATE)
            return TRUE;
        return CreateTextureObject(raster);
    }
}

RwRaster *RwD3D9RasterCreateFromD3DFormat(RwInt32 width, RwInt32 height, D3DFORMAT format, RwInt32 flags)
{
    RwD3D9Driver &d = rwD3D9Driver;
    RwInt32 type = flags & rwRASTERTYPEMASK;
    if (type == rwRASTERTYPENORMAL || type == rwRASTERTYPEZBUFFER)
        flags &= ~rwRASTERFORMATMIPBITS;
    RwRaster *raster = RwRasterCreate(width, height, 0, flags | rwRASTERDONTALLOCATE);
    if (raster == nullptr)
        return nullptr;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    ext->automipmapCompressed = 0;
    if ((flags & rwRASTERFORMATMIPBITS) == rwRASTERFORMATMIPBITS && RwD3D9CheckAutoMipmapFormat(format))
        ext->automipmapCompressed = 0x01;

    DWORD usage;
    D3DPOOL pool;
    RwBool supported;
    if (type == rwRASTERTYPECAMERATEXTURE) {
        supported = RwD3D9CheckRenderTargetFormat(format);
        usage = D3DUSAGE_RENDERTARGET;
        pool = D3DPOOL_DEFAULT;
    } else if (RwD3D9IsDepthFormat(format)) {
        supported = RwD3D9CheckDepthTextureFormat(format);
        usage = D3DUSAGE_DEPTHSTENCIL;
        pool = D3DPOOL_DEFAULT;
    } else {
        supported = RwD3D9CheckTextureFormat(format);
        usage = 0;
        pool = D3DPOOL_MANAGED;
    }
    if (!supported ||
        FAILED(d.device->CreateTexture(width, height, LevelsToCreate(raster), usage | AutoMipUsage(ext), format, pool,
                                       reinterpret_cast<IDirect3DTexture9 **>(&ext->texture), nullptr))) {
        ext->texture = nullptr;
        RwRasterDestroy(raster);
        return nullptr;
    }
    if (pool == D3DPOOL_DEFAULT && !AddDeviceObject(raster)) {
        RwRasterDestroy(raster);
        return nullptr;
    }
    raster->cFlags &= static_cast<RwUInt8>(~rwRASTERDONTALLOCATE);
    raster->cFormat &= 0xF0;
    ext->d3dFormat = format;
    if (RwD3D9IsCompressedFormat(format)) {
        ext->automipmapCompressed |= 0x10;
        ext->alpha = format == D3DFMT_DXT1 ? 0 : 1;
        raster->cFormat |= (format == D3DFMT_DXT1 ? rwRASTERFORMAT565 : rwRASTERFORMAT4444) >> 8;
        raster->depth = 16;
        return raster;
    }
    RwD3D9PixelFormat info = RwD3D9GetPixelFormat(format);
    ext->alpha = info.alpha;
    raster->depth = info.depth;
    raster->cFormat |= static_cast<RwUInt8>(info.rwFormat >> 8);
    if (format == D3DFMT_P8) {
        ext->palette = RwD3D9PaletteCreate();
        if (!AddDeviceObject(raster)) {
            RwRasterDestroy(raster);
            return nullptr;
        }
    }
    return raster;
}

// ---------------------------------------------------------------------------
// Destruction and the other standard functions

// A sub-raster of a camera raster that is going has no top left to follow.
static void ForgetTop(RwRaster *raster, void *top)
{
    if (raster != top && raster->parent == top)
        *RwD3D9RasterGetCameraShape(raster) = {};
}

RwBool RwD3D9RasterDestroy(void *, void *rasterIn, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (raster == nullptr)
        return FALSE;
    // Nothing may keep drawing with or into a raster that is gone, nor with a
    // sub-raster of it, which draws from its texture.
    for (RwUInt32 stage = 0; stage < rwD3D9TEXTURESTAGES; stage++) {
        for (RwRaster *bound = RwD3D9GetTextureRaster(stage); bound; bound = bound->parent) {
            if (bound == raster) {
                RwD3D9SetTextureRaster(nullptr, stage);
                break;
            }
            if (bound->parent == bound)
                break;
        }
    }
    if (RasterContext == raster)
        RasterContext = nullptr;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    if (ext->lockSurface) {
        ext->lockSurface->UnlockRect();
        ext->lockSurface->Release();
        ext->lockSurface = nullptr;
    }
    if (raster->parent != raster) {
        if (raster->cType == rwRASTERTYPECAMERA)
            RemoveDeviceObject(raster);
        return TRUE;
    }
    switch (raster->cType) {
    case rwRASTERTYPENORMAL:
    case rwRASTERTYPETEXTURE:
    case rwRASTERTYPECAMERATEXTURE:
        RemoveDeviceObject(raster);
        RwD3D9PaletteDestroy(static_cast<RwD3D9Palette *>(ext->palette));
        ext->palette = nullptr;
        if (ext->texture)
            static_cast<IDirect3DBaseTexture9 *>(ext->texture)->Release();
        ext->texture = nullptr;
        return TRUE;
    case rwRASTERTYPEZBUFFER:
        RemoveDeviceObject(raster);
        if (ext->texture && ext->texture != rwD3D9Driver.defaultDepthSurface)
            static_cast<IDirect3DSurface9 *>(ext->texture)->Release();
        ext->texture = nullptr;
        return TRUE;
    case rwRASTERTYPECAMERA:
        RemoveDeviceObject(raster);
        RwD3D9RasterForAllDeviceObjects(ForgetTop, raster);
        return TRUE;
    default:
        RaiseUnsupported();
        return FALSE;
    }
}

RwBool RwD3D9TextureSetRaster(void *texture, void *raster, RwInt32)
{
    if (texture == nullptr)
        return FALSE;
    static_cast<RwTexture *>(texture)->raster = static_cast<RwRaster *>(raster);
    return TRUE;
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
    // Listed as a device object while it is a camera raster, as one made so
    // is: resets move it, and its destruction takes it off. One the list
    // cannot hold is refused before anything changes.
    const RwBool camera = parent->cType == rwRASTERTYPECAMERA;
    if (camera && !IsDeviceObject(sub) && !AddDeviceObject(sub))
        return FALSE;
    if (!camera)
        RemoveDeviceObject(sub);
    // A stage holding the sub-raster holds its old parent's texture: the next
    // set must reach the device, and nothing may keep that texture bound.
    for (RwUInt32 stage = 0; stage < rwD3D9TEXTURESTAGES; stage++) {
        if (RwD3D9GetTextureRaster(stage) == sub)
            RwD3D9SetTextureRaster(nullptr, stage);
    }
    sub->stride = parent->stride;
    sub->depth = parent->depth;
    sub->cType = parent->cType;
    sub->cFormat = parent->cFormat;
    sub->cpPixels = nullptr;
    // Its place in the top camera raster (whose type it took), which resets rescale.
    const RwRaster *top = RwD3D9RasterGetTop(parent);
    RwD3D9CameraShape &shape = *RwD3D9RasterGetCameraShape(sub);
    shape = {};
    if (sub->cType == rwRASTERTYPECAMERA)
        shape = {sub->width,
                 sub->height,
                 static_cast<RwUInt32>(top->width),
                 static_cast<RwUInt32>(top->height),
                 sub->width,
                 sub->height,
                 sub->nOffsetX - top->nOffsetX,
                 sub->nOffsetY - top->nOffsetY};
    return TRUE;
}

RwBool RwD3D9RasterGetMipLevels(void *out, void *rasterIn, RwInt32)
{
    RwRaster *raster = static_cast<RwRaster *>(rasterIn);
    if (out == nullptr || raster == nullptr)
        return FALSE;
    RwRaster *top = RwD3D9RasterGetTop(raster);
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

// TRUE when the raster's kind of device object can hold the format.
static RwBool FormatFitsRaster(const RwRaster *raster, D3DFORMAT format)
{
    RwBool cube = RwD3D9RasterIsCubeMap(raster);
    if (raster->cType == rwRASTERTYPECAMERATEXTURE)
        return cube ? RwD3D9CheckRenderTargetCubeFormat(format) : RwD3D9CheckRenderTargetFormat(format);
    return cube ? RwD3D9CheckCubeTextureFormat(format) : RwD3D9CheckTextureFormat(format);
}

void RwD3D9RasterConvertToNonPalettized(RwRaster *rasterIn)
{
    if (rasterIn == nullptr)
        return;
    RwRaster *raster = RwD3D9RasterGetTop(rasterIn);
    if (!(raster->cFormat & ((rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4) >> 8)))
        return;
    RwImage *image = RwImageCreate(raster->width, raster->height, 32);
    if (image == nullptr)
        return;
    if (!RwImageAllocatePixels(image) || !RwD3D9ImageGetFromRaster(image, raster, 0)) {
        RwImageDestroy(image);
        return;
    }
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RwBool alpha = ext->alpha != 0;
    RwBool texture = raster->cType == rwRASTERTYPENORMAL || raster->cType == rwRASTERTYPETEXTURE ||
                     raster->cType == rwRASTERTYPECAMERATEXTURE;
    RwBool deep = rwD3D9Driver.displayMode.depth > 16;
    RwInt32 code;
    if (!texture)
        code = alpha ? rwRASTERFORMAT1555 : rwRASTERFORMAT565;
    else if (!alpha)
        code = deep && FormatFitsRaster(raster, D3DFMT_X8R8G8B8) ? rwRASTERFORMAT888 : rwRASTERFORMAT565;
    else if (deep && FormatFitsRaster(raster, D3DFMT_A8R8G8B8))
        code = rwRASTERFORMAT8888;
    else
        code = FormatFitsRaster(raster, D3DFMT_A4R4G4B4) ? rwRASTERFORMAT4444 : rwRASTERFORMAT1555;

    RwInt32 flags = raster->cType | (raster->cFlags & 0xF8) | code | rwRASTERFORMATMIPBITS;
    RwD3D9RasterDestroy(nullptr, raster, 0);
    if (RwD3D9RasterCreate(nullptr, raster, flags))
        RwD3D9RasterSetFromImage(raster, image, 0);
    RwImageDestroy(image);
}
