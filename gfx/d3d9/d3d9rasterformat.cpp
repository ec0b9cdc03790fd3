// Raster formats on the device: the format tables, format checks and texture sizes.
#include "d3d9raster.h"

#include <cstring>

#include "d3d9device.h"
#include "gfx/core/raster.h"

static RwD3D9PixelFormat PixelFormats[128];

// Filled when the raster extension is registered.
void RwD3D9FillPixelFormats(void)
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

const RwD3D9CodeInfo *RwD3D9GetCodeInfo(RwInt32 formatWord)
{
    static const RwD3D9CodeInfo codes[11] = {
        {D3DFMT_UNKNOWN, 0, 0},  {D3DFMT_A1R5G5B5, 16, 1}, {D3DFMT_R5G6B5, 16, 0}, {D3DFMT_A4R4G4B4, 16, 1},
        {D3DFMT_L8, 8, 0},       {D3DFMT_A8R8G8B8, 32, 1}, {D3DFMT_X8R8G8B8, 32, 0}, {D3DFMT_D16, 16, 0},
        {D3DFMT_D24X8, 32, 0},   {D3DFMT_D32, 32, 0},      {D3DFMT_X1R5G5B5, 16, 0},
    };
    RwUInt32 code = static_cast<RwUInt32>(formatWord & rwRASTERFORMATPIXELFORMATMASK) >> 8;
    return code < 11 ? &codes[code] : nullptr;
}

RwBool RwD3D9IsDepthFormat(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_D32:
    case D3DFMT_D15S1:
    case D3DFMT_D24S8:
    case D3DFMT_D24X8:
    case D3DFMT_D24X4S4:
    case D3DFMT_D16:
    case D3DFMT_D32F_LOCKABLE:
    case D3DFMT_D24FS8:
    case D3DFMT_D32_LOCKABLE:
        return TRUE;
    default:
        return FALSE;
    }
}

RwBool RwD3D9IsCompressedFormat(D3DFORMAT format)
{
    RwUInt32 f = static_cast<RwUInt32>(format);
    return f >= static_cast<RwUInt32>(D3DFMT_DXT1) && f <= static_cast<RwUInt32>(D3DFMT_DXT5);
}

static RwBool CheckFormat(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    if (d.d3d == nullptr)
        return FALSE;
    return SUCCEEDED(d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, d.displayMode.format, usage, type, format));
}

static RwBool DepthMatches(D3DFORMAT renderTarget, D3DFORMAT depth)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    return SUCCEEDED(
        d.d3d->CheckDepthStencilMatch(d.adapter, d.deviceType, d.displayMode.format, renderTarget, depth));
}

// Automatic mip-maps count only when the device says exactly D3D_OK.
static RwBool CheckAutoMipmap(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)
{
    const RwD3D9Driver &d = rwD3D9Driver;
    if (d.d3d == nullptr || !(d.caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP))
        return FALSE;
    return d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, d.displayMode.format, usage | D3DUSAGE_AUTOGENMIPMAP,
                                    type, format) == D3D_OK;
}

RwBool RwD3D9CheckTextureFormat(D3DFORMAT format)
{
    return CheckFormat(0, D3DRTYPE_TEXTURE, format);
}

RwBool RwD3D9CheckCubeTextureFormat(D3DFORMAT format)
{
    return CheckFormat(0, D3DRTYPE_CUBETEXTURE, format);
}

RwBool RwD3D9CheckRenderTargetFormat(D3DFORMAT format)
{
    return CheckFormat(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, format) &&
           DepthMatches(format, rwD3D9Driver.present.AutoDepthStencilFormat);
}

RwBool RwD3D9CheckRenderTargetCubeFormat(D3DFORMAT format)
{
    return CheckFormat(D3DUSAGE_RENDERTARGET, D3DRTYPE_CUBETEXTURE, format) &&
           DepthMatches(format, rwD3D9Driver.present.AutoDepthStencilFormat);
}

RwBool RwD3D9CheckDepthTextureFormat(D3DFORMAT format)
{
    return CheckFormat(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_TEXTURE, format) &&
           DepthMatches(rwD3D9Driver.displayMode.format, format);
}

RwBool RwD3D9CheckAutoMipmapFormat(D3DFORMAT format)
{
    return CheckAutoMipmap(0, D3DRTYPE_TEXTURE, format);
}

RwBool RwD3D9CheckAutoMipmapRenderTargetFormat(D3DFORMAT format)
{
    return CheckAutoMipmap(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, format);
}

RwBool RwD3D9CheckAutoMipmapCubeFormat(D3DFORMAT format)
{
    return CheckAutoMipmap(0, D3DRTYPE_CUBETEXTURE, format);
}

static RwInt32 FloorPowerOfTwo(RwInt32 n)
{
    RwInt32 p = 1;
    while (p <= n / 2)
        p <<= 1;
    return n > 0 ? p : n;
}

void RwD3D9RasterAdjustSize(RwInt32 *width, RwInt32 *height, RwInt32 flags)
{
    const D3DCAPS9 &caps = rwD3D9Driver.caps;
    if (caps.MaxTextureWidth && *width > static_cast<RwInt32>(caps.MaxTextureWidth))
        *width = static_cast<RwInt32>(caps.MaxTextureWidth);
    if (caps.MaxTextureHeight && *height > static_cast<RwInt32>(caps.MaxTextureHeight))
        *height = static_cast<RwInt32>(caps.MaxTextureHeight);
    RwBool pow2;
    if ((flags & rwRASTERTYPEMASK) == rwRASTERTYPENORMAL || !(flags & rwRASTERFORMATMIPMAP))
        pow2 = (caps.TextureCaps & D3DPTEXTURECAPS_POW2) && !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
    else
        pow2 = (caps.TextureCaps & D3DPTEXTURECAPS_POW2) != 0;
    if (pow2) {
        *width = FloorPowerOfTwo(*width);
        *height = FloorPowerOfTwo(*height);
    }
    if (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) {
        RwInt32 side = *width < *height ? *width : *height;
        *width = *height = side;
    }
}
