// Native texture streams: textures stored as the device's own locked pixel blocks.
#include "d3d9nativetexture.h"

#include <cstdint>
#include <cstring>

#include "d3d9device.h"
#include "d3d9pixel.h"
#include "d3d9raster.h"
#include "gfx/core/byteorder.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"

enum : RwUInt32 {
    rwNATIVEFLAGALPHA = 0x01,
    rwNATIVEFLAGCUBE = 0x02,
    rwNATIVEFLAGAUTOMIPMAP = 0x04,
    rwNATIVEFLAGCOMPRESSED = 0x08,
    rwNATIVEWRITEPIECE = 1024,
    rwNATIVEMAXLEVELS = 16,
};
enum : RwInt32 {
    rwRASTERFORMATMIPBITS = rwRASTERFORMATMIPMAP | rwRASTERFORMATAUTOMIPMAP,
    rwRASTERFORMATPALETTES = rwRASTERFORMATPAL8 | rwRASTERFORMATPAL4,
};

// What the 16-byte block says about the raster.
struct NativeRaster {
    RwInt32 format;       // raster format word
    D3DFORMAT d3dFormat;
    RwInt32 width;
    RwInt32 height;
    RwInt32 depth;
    RwInt32 levels;
    RwInt32 type;
    RwUInt32 flags;
};

static RwUInt32 PaletteBytes(RwInt32 format)
{
    if (format & rwRASTERFORMATPAL8)
        return 1024;
    return (format & rwRASTERFORMATPAL4) ? 128 : 0;
}

// Rows of a level as a lock presents them: block-compressed levels have one
// row per four pixel rows, a partial block row counting as a whole one.
static RwUInt32 LevelRows(D3DFORMAT format, RwInt32 height)
{
    if (RwD3D9IsCompressedFormat(format))
        return (static_cast<RwUInt32>(height) + 3) / 4;
    return static_cast<RwUInt32>(height);
}

static RwInt32 StoredLevels(const RwRaster *raster)
{
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    if (ext->automipmapCompressed & 0x0F)
        return 1;
    return static_cast<RwInt32>(static_cast<IDirect3DBaseTexture9 *>(ext->texture)->GetLevelCount());
}

static RwInt32 StoredFaces(const RwRaster *raster)
{
    return RwD3D9RasterIsCubeMap(raster) ? 6 : 1;
}

static void SelectFace(RwRaster *raster, RwInt32 face)
{
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    ext->cube = static_cast<RwUInt8>((ext->cube & 0x0F) | (face << 4));
}

// Bytes of one stored level; 0 when the level cannot be locked.
static RwUInt32 LevelBytes(RwRaster *raster, RwInt32 level)
{
    if (RwRasterLock(raster, static_cast<RwUInt8>(level), rwRASTERLOCKREAD) == nullptr)
        return 0;
    RwUInt32 bytes = static_cast<RwUInt32>(raster->stride) *
                     LevelRows(RwD3D9RasterGetExtension(raster)->d3dFormat, raster->height);
    RwRasterUnlock(raster);
    return bytes;
}

static RwUInt32 NativeSize(const RwTexture *texture)
{
    RwRaster *raster = texture->raster;
    if (raster == nullptr || RwD3D9RasterGetExtension(raster)->texture == nullptr)
        return rwCHUNKHEADERSIZE + rwD3D9NATIVEBLOCKSIZE;
    RwUInt32 size = rwCHUNKHEADERSIZE + rwD3D9NATIVEBLOCKSIZE + rwD3D9NATIVERASTERSIZE +
                    PaletteBytes(static_cast<RwInt32>(raster->cFormat) << 8);
    RwUInt32 levels = 0;
    for (RwInt32 level = StoredLevels(raster) - 1; level >= 0; level--)
        levels += 4 + LevelBytes(raster, level);
    return size + levels * static_cast<RwUInt32>(StoredFaces(raster));
}

RwBool RwD3D9NativeTextureGetSize(void *out, void *texture, RwInt32)
{
    if (out == nullptr || texture == nullptr)
        return FALSE;
    *static_cast<RwUInt32 *>(out) = NativeSize(static_cast<const RwTexture *>(texture));
    return TRUE;
}

// ---------------------------------------------------------------------------
// Writing

static RwBool WriteLevel(RwStream *stream, RwRaster *raster, RwInt32 level)
{
    RwUInt8 *pixels = RwRasterLock(raster, static_cast<RwUInt8>(level), rwRASTERLOCKREAD);
    if (pixels == nullptr)
        return FALSE;
    RwUInt32 bytes = static_cast<RwUInt32>(raster->stride) *
                     LevelRows(RwD3D9RasterGetExtension(raster)->d3dFormat, raster->height);
    RwUInt8 count[4];
    WriteU32(count, bytes);
    RwBool ok = RwStreamWrite(stream, count, 4) != nullptr;
    for (RwUInt32 done = 0; ok && done < bytes; done += rwNATIVEWRITEPIECE) {
        RwUInt32 piece = bytes - done < rwNATIVEWRITEPIECE ? bytes - done : rwNATIVEWRITEPIECE;
        ok = RwStreamWrite(stream, pixels + done, piece) != nullptr;
    }
    RwRasterUnlock(raster);
    return ok;
}

RwBool RwD3D9NativeTextureWrite(void *streamIn, void *textureIn, RwInt32)
{
    RwStream *stream = static_cast<RwStream *>(streamIn);
    const RwTexture *texture = static_cast<const RwTexture *>(textureIn);
    if (stream == nullptr || texture == nullptr)
        return FALSE;
    RwUInt32 size = NativeSize(texture);
    if (!RwStreamWriteChunkHeader(stream, rwID_STRUCT, size - rwCHUNKHEADERSIZE))
        return FALSE;
    RwUInt8 block[rwD3D9NATIVEBLOCKSIZE];
    std::memset(block, 0, sizeof(block));
    WriteU32(block, rwD3D9NATIVEPLATFORM);
    WriteU32(block + 4, texture->filterMode | static_cast<RwUInt32>(texture->addressing) << 8);
    std::memcpy(block + 8, texture->name, rwTEXTUREBASENAMELENGTH);
    std::memcpy(block + 40, texture->mask, rwTEXTUREBASENAMELENGTH);
    if (!RwStreamWrite(stream, block, sizeof(block)))
        return FALSE;
    RwRaster *raster = texture->raster;
    if (size == rwCHUNKHEADERSIZE + rwD3D9NATIVEBLOCKSIZE)
        return TRUE;

    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RwInt32 format = static_cast<RwInt32>(raster->cFormat) << 8;
    RwUInt8 info[rwD3D9NATIVERASTERSIZE];
    WriteU32(info, static_cast<RwUInt32>(format));
    WriteU32(info + 4, static_cast<RwUInt32>(ext->d3dFormat));
    WriteU16(info + 8, static_cast<RwUInt16>(raster->width));
    WriteU16(info + 10, static_cast<RwUInt16>(raster->height));
    WriteU8(info + 12, static_cast<RwUInt8>(raster->depth));
    WriteU8(info + 13, static_cast<RwUInt8>(RwRasterGetNumLevels(raster)));
    WriteU8(info + 14, raster->cType);
    RwUInt32 flags = 0;
    if (ext->alpha)
        flags |= rwNATIVEFLAGALPHA;
    if (RwD3D9RasterIsCubeMap(raster))
        flags |= rwNATIVEFLAGCUBE;
    if (ext->automipmapCompressed & 0x0F)
        flags |= rwNATIVEFLAGAUTOMIPMAP;
    if (RwD3D9RasterIsCompressed(raster))
        flags |= rwNATIVEFLAGCOMPRESSED;
    WriteU8(info + 15, static_cast<RwUInt8>(flags));
    if (!RwStreamWrite(stream, info, sizeof(info)))
        return FALSE;
    if (PaletteBytes(format)) {
        RwUInt8 *palette = RwRasterLockPalette(raster, rwRASTERLOCKREAD);
        if (palette == nullptr)
            return FALSE;
        RwBool ok = RwStreamWrite(stream, palette, PaletteBytes(format)) != nullptr;
        RwRasterUnlockPalette(raster);
        if (!ok)
            return FALSE;
    }
    RwBool ok = TRUE;
    for (RwInt32 face = 0; ok && face < StoredFaces(raster); face++) {
        SelectFace(raster, face);
        for (RwInt32 level = 0; ok && level < StoredLevels(raster); level++)
            ok = WriteLevel(stream, raster, level);
    }
    SelectFace(raster, 0);
    return ok;
}

// ---------------------------------------------------------------------------
// Reading

// A texture's raster holds its own pixels: the screen and depth buffers
// (whose locks reach surfaces of other sizes) are no texture types.
static bool TextureType(RwInt32 type)
{
    return type == rwRASTERTYPENORMAL || type == rwRASTERTYPETEXTURE || type == rwRASTERTYPECAMERATEXTURE;
}

static RwBool ReadBlocks(RwStream *stream, RwUInt8 *block, NativeRaster *n)
{
    RwUInt8 info[rwD3D9NATIVERASTERSIZE];
    if (!RwStreamReadExact(stream, block, rwD3D9NATIVEBLOCKSIZE) || ReadU32(block) != rwD3D9NATIVEPLATFORM ||
        !RwStreamReadExact(stream, info, sizeof(info)))
        return FALSE;
    n->format = static_cast<RwInt32>(ReadU32(info));
    n->d3dFormat = static_cast<D3DFORMAT>(ReadU32(info + 4));
    n->width = ReadU16(info + 8);
    n->height = ReadU16(info + 10);
    n->depth = ReadU8(info + 12);
    n->levels = ReadU8(info + 13);
    n->type = ReadU8(info + 14);
    n->flags = ReadU8(info + 15);
    // Only the format word's own bits; a level count no texture can have is
    // malformed, and so is a cube whose faces (made width x width) are not square.
    // Cube and compressed textures are made in the managed pool, which a camera
    // texture (filled through a render target) cannot live in.
    const bool managedOnly = (n->flags & (rwNATIVEFLAGCUBE | rwNATIVEFLAGCOMPRESSED)) != 0;
    return (n->format & ~0xFF00) == 0 && n->levels >= 1 && n->levels <= static_cast<RwInt32>(rwNATIVEMAXLEVELS) && n->width > 0 &&
           n->height > 0 && (!(n->flags & rwNATIVEFLAGCUBE) || n->width == n->height) && TextureType(n->type) &&
           !(managedOnly && n->type == rwRASTERTYPECAMERATEXTURE);
}

static RwBool CreateDeviceTexture(RwRaster *raster, const NativeRaster &n)
{
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    const D3DCAPS9 &caps = rwD3D9Driver.caps;
    RwBool mipmapped = (n.format & rwRASTERFORMATMIPMAP) != 0;
    UINT levels = mipmapped ? static_cast<UINT>(n.levels) : 1;
    RwBool autoMip = (n.format & rwRASTERFORMATMIPBITS) == rwRASTERFORMATMIPBITS;
    HRESULT hr;
    if (n.flags & rwNATIVEFLAGCUBE) {
        if (levels > 1 && !(caps.CubeTextureFilterCaps & (D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR)))
            return FALSE;
        ext->cube = 0x01;
        if (autoMip && RwD3D9CheckAutoMipmapCubeFormat(n.d3dFormat))
            ext->automipmapCompressed |= 0x01;
        hr = rwD3D9Driver.device->CreateCubeTexture(n.width, levels, (ext->automipmapCompressed & 0x0F) ? D3DUSAGE_AUTOGENMIPMAP : 0,
                                                    n.d3dFormat, D3DPOOL_MANAGED,
                                                    reinterpret_cast<IDirect3DCubeTexture9 **>(&ext->texture), nullptr);
    } else {
        if (autoMip && RwD3D9CheckAutoMipmapFormat(n.d3dFormat))
            ext->automipmapCompressed |= 0x01;
        hr = rwD3D9Driver.device->CreateTexture(n.width, n.height, levels,
                                                (ext->automipmapCompressed & 0x0F) ? D3DUSAGE_AUTOGENMIPMAP : 0,
                                                n.d3dFormat, D3DPOOL_MANAGED,
                                                reinterpret_cast<IDirect3DTexture9 **>(&ext->texture), nullptr);
    }
    if (FAILED(hr)) {
        ext->texture = nullptr;
        return FALSE;
    }
    raster->cFlags &= static_cast<RwUInt8>(~rwRASTERDONTALLOCATE);
    ext->d3dFormat = n.d3dFormat;
    ext->alpha = (n.flags & rwNATIVEFLAGALPHA) ? 1 : 0;
    if (n.flags & rwNATIVEFLAGCOMPRESSED)
        ext->automipmapCompressed |= 0x10;
    return TRUE;
}

// Palettised and other formats that the device has no textures for are held
// as A8R8G8B8 and expanded while they are read.
static RwBool NeedsExpansion(const NativeRaster &n)
{
    if (n.flags & (rwNATIVEFLAGCUBE | rwNATIVEFLAGCOMPRESSED))
        return FALSE;
    if (n.format & rwRASTERFORMATPALETTES)
        return !RwD3D9CheckTextureFormat(D3DFMT_P8);
    if ((n.format & ~rwRASTERFORMATMIPBITS) != 0 || RwD3D9CheckTextureFormat(n.d3dFormat))
        return FALSE;
    return n.d3dFormat == D3DFMT_R8G8B8 || RwD3D9PixelUnpackerForFormat(n.d3dFormat) != nullptr;
}

static RwRaster *CreateRaster(const NativeRaster &n, RwBool expand)
{
    if (expand) {
        // Every stored level is expanded in turn; levels the device made are made again.
        RwInt32 mip = (n.flags & rwNATIVEFLAGAUTOMIPMAP) ? rwRASTERFORMATMIPBITS : n.format & rwRASTERFORMATMIPMAP;
        return RwRasterCreate(n.width, n.height, 32, n.type | rwRASTERFORMAT8888 | mip);
    }
    if ((n.flags & (rwNATIVEFLAGCUBE | rwNATIVEFLAGCOMPRESSED))) {
        if ((n.flags & rwNATIVEFLAGCOMPRESSED) &&
            (!RwD3D9IsCompressedFormat(n.d3dFormat) || !RwD3D9CheckTextureFormat(n.d3dFormat)))
            return nullptr;
        RwRaster *raster = RwRasterCreate(n.width, n.height, n.depth, n.type | rwRASTERDONTALLOCATE | n.format);
        if (raster && !CreateDeviceTexture(raster, n)) {
            RwRasterDestroy(raster);
            return nullptr;
        }
        return raster;
    }
    if (n.format & ~rwRASTERFORMATMIPBITS)
        return RwRasterCreate(n.width, n.height, n.depth, n.type | n.format);
    return RwD3D9RasterCreateFromD3DFormat(n.width, n.height, n.d3dFormat, n.type | n.format);
}

// TRUE when the raster made is the one the stream describes.
static RwBool RasterMatches(RwRaster *raster, const NativeRaster &n)
{
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    if ((n.flags & rwNATIVEFLAGAUTOMIPMAP) && !(ext->automipmapCompressed & 0x0F))
        return FALSE;
    return (static_cast<RwInt32>(raster->cFormat) << 8) == n.format && ext->d3dFormat == n.d3dFormat &&
           raster->width == n.width && raster->height == n.height;
}

// The pixel of a level stored in a format the raster expands.
static RwRGBA ExpandedPixel(const RwUInt8 *src, const NativeRaster &n, const RwRGBA *palette)
{
    if (n.format & rwRASTERFORMATPALETTES) {
        RwRGBA c = palette[src[0]];
        // A palette without alpha holds no meaningful fourth byte.
        if ((n.format & rwRASTERFORMATPIXELFORMATMASK) != rwRASTERFORMAT8888)
            c.alpha = 255;
        return c;
    }
    if (n.d3dFormat == D3DFMT_R8G8B8) {
        RwRGBA c = {src[2], src[1], src[0], 255};
        return c;
    }
    RwInt32 bytes = RwD3D9GetPixelFormat(n.d3dFormat).depth / 8;
    RwUInt32 p = 0;
    for (RwInt32 i = 0; i < bytes; i++)
        p |= static_cast<RwUInt32>(src[i]) << (8 * i);
    return RwD3D9PixelUnpackerForFormat(n.d3dFormat)(p);
}

static RwInt32 StoredPixelBytes(const NativeRaster &n)
{
    if (n.format & rwRASTERFORMATPALETTES)
        return 1;
    return RwD3D9GetPixelFormat(n.d3dFormat).depth / 8;
}

// Bytes of pixels in one stored row (a row of blocks when compressed); at
// least one byte a pixel where the format is not known.
static RwUInt32 StoredRowBytes(const NativeRaster &n, RwUInt32 width)
{
    if (RwD3D9IsCompressedFormat(n.d3dFormat))
        return (width + 3) / 4 * (n.d3dFormat == D3DFMT_DXT1 ? 8 : 16);
    const RwInt32 bytes = StoredPixelBytes(n);
    return width * static_cast<RwUInt32>(bytes > 0 ? bytes : 1);
}

// Compressed levels whose height is not a multiple of four may have been
// stored one block row short; they still load.
static bool ShortBlockRows(const NativeRaster &n, RwUInt32 height)
{
    return RwD3D9IsCompressedFormat(n.d3dFormat) && height >= 4 && height % 4 != 0;
}

// The fewest bytes the levels of every face can take: checked against the
// chunk before a raster of the stream's size is made.
static uint64_t LeastLevelBytes(const NativeRaster &n)
{
    const RwInt32 levels = (n.flags & rwNATIVEFLAGAUTOMIPMAP) ? 1 : n.levels;
    uint64_t total = 0;
    for (RwInt32 level = 0; level < levels; level++) {
        const RwUInt32 w = static_cast<RwUInt32>(n.width >> level ? n.width >> level : 1);
        const RwUInt32 h = static_cast<RwUInt32>(n.height >> level ? n.height >> level : 1);
        const RwUInt32 rows = LevelRows(n.d3dFormat, static_cast<RwInt32>(h)) - (ShortBlockRows(n, h) ? 1 : 0);
        total += 4 + static_cast<uint64_t>(StoredRowBytes(n, w)) * rows;
    }
    return PaletteBytes(n.format) + total * ((n.flags & rwNATIVEFLAGCUBE) ? 6 : 1);
}

// The pitch of the stored rows when the count covers `rows` rows of at least
// rowBytes and at most the locked pitch each; 0 otherwise.
static RwUInt32 StoredPitch(RwUInt32 count, RwUInt32 rows, RwUInt32 rowBytes, RwUInt32 lockedPitch)
{
    if (rows == 0 || count % rows != 0)
        return 0;
    const RwUInt32 pitch = count / rows;
    return pitch >= rowBytes && pitch <= lockedPitch ? pitch : 0;
}

// Reads one stored level into the locked raster. A count must cover every
// row's pixels and may not exceed the locked level; a compressed level stored
// one block row short gets that row cleared.
static RwBool ReadLevel(RwStream *stream, RwRaster *raster, const NativeRaster &n, RwInt32 level, RwBool expand,
                        const RwRGBA *palette)
{
    RwUInt8 *pixels = RwRasterLock(raster, static_cast<RwUInt8>(level), rwRASTERLOCKWRITE | rwRASTERLOCKNOFETCH);
    if (pixels == nullptr)
        return FALSE;
    RwUInt8 countBytes[4];
    RwBool ok = RwStreamReadExact(stream, countBytes, 4) != nullptr;
    RwUInt32 count = ok ? ReadU32(countBytes) : 0;
    const RwUInt32 rows = LevelRows(n.d3dFormat, raster->height);
    const RwUInt32 dstPitch = static_cast<RwUInt32>(raster->stride);
    const RwUInt32 rowBytes = StoredRowBytes(n, static_cast<RwUInt32>(raster->width));
    RwUInt32 stored = rows;
    RwUInt32 srcPitch = StoredPitch(count, rows, rowBytes, dstPitch);
    if (srcPitch == 0 && ShortBlockRows(n, static_cast<RwUInt32>(raster->height))) {
        stored = rows - 1;
        srcPitch = StoredPitch(count, stored, rowBytes, dstPitch);
    }
    if (ok && (srcPitch == 0 || !RwStreamCanHold(stream, count, 1)))
        ok = FALSE;
    if (ok && stored < rows)
        std::memset(pixels + stored * dstPitch, 0, dstPitch);
    RwUInt8 row[4 * 4096];
    for (RwUInt32 y = 0; ok && y < stored; y++) {
        RwUInt8 *dst = pixels + y * dstPitch;
        if (!expand) {
            ok = RwStreamReadExact(stream, dst, srcPitch) != nullptr;
            continue;
        }
        RwUInt32 take = rowBytes <= sizeof(row) ? rowBytes : 0;
        ok = take && RwStreamReadExact(stream, row, take) && (srcPitch == take || RwStreamSkip(stream, srcPitch - take));
        for (RwInt32 x = 0; ok && x < raster->width; x++) {
            RwRGBA c = ExpandedPixel(row + x * StoredPixelBytes(n), n, palette);
            RwUInt32 v = static_cast<RwUInt32>(c.alpha) << 24 | c.red << 16 | c.green << 8 | c.blue;
            std::memcpy(dst + 4 * x, &v, 4);
        }
    }
    // A camera texture's level arrives only with the unlock's copy.
    return RwRasterUnlock(raster) != nullptr && ok;
}

static RwBool ReadPalette(RwStream *stream, RwRaster *raster, const NativeRaster &n, RwBool expand, RwRGBA *palette)
{
    RwUInt32 bytes = PaletteBytes(n.format);
    if (bytes == 0)
        return TRUE;
    if (expand)
        return RwStreamReadExact(stream, palette, bytes) != nullptr;
    RwUInt8 *locked = RwRasterLockPalette(raster, rwRASTERLOCKWRITE);
    if (locked == nullptr)
        return FALSE;
    RwBool ok = RwStreamReadExact(stream, locked, bytes) != nullptr;
    RwRasterUnlockPalette(raster);
    return ok;
}

static RwBool FillRaster(RwStream *stream, RwRaster *raster, const NativeRaster &n, RwBool expand)
{
    RwRGBA palette[256];
    std::memset(palette, 0, sizeof(palette));
    if (!ReadPalette(stream, raster, n, expand, palette))
        return FALSE;
    RwD3D9RasterExtension *ext = RwD3D9RasterGetExtension(raster);
    RwInt32 levels = (n.flags & rwNATIVEFLAGAUTOMIPMAP) ? 1 : n.levels;
    // Levels are filled as stored: nothing is regenerated meanwhile.
    RwUInt8 autoMip = raster->cFormat & (rwRASTERFORMATAUTOMIPMAP >> 8);
    raster->cFormat &= static_cast<RwUInt8>(~autoMip);
    RwBool ok = TRUE;
    for (RwInt32 face = 0; ok && face < StoredFaces(raster); face++) {
        SelectFace(raster, face);
        for (RwInt32 level = 0; ok && level < levels; level++)
            ok = ReadLevel(stream, raster, n, level, expand, palette);
    }
    SelectFace(raster, 0);
    raster->cFormat |= autoMip;
    if (expand) {
        ext->alpha = (n.flags & rwNATIVEFLAGALPHA) ? 1 : 0;
        if (ok && autoMip && !(ext->automipmapCompressed & 0x0F))
            RwTextureRasterGenerateMipmaps(raster, nullptr);
    }
    return ok;
}

// Copies a 32-byte name field that may lack its terminator.
static void CopyName(RwChar *out, const RwUInt8 *field)
{
    std::memcpy(out, field, rwTEXTUREBASENAMELENGTH);
    out[rwTEXTUREBASENAMELENGTH - 1] = '\0';
}

RwBool RwD3D9NativeTextureRead(void *streamIn, void *out, RwInt32)
{
    RwStream *stream = static_cast<RwStream *>(streamIn);
    if (stream == nullptr || out == nullptr)
        return FALSE;
    RwUInt32 length = 0, version = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, &version) || !RwChunkVersionAccepted(version))
        return FALSE;
    RwUInt8 block[rwD3D9NATIVEBLOCKSIZE];
    NativeRaster n;
    if (!ReadBlocks(stream, block, &n))
        return FALSE;
    // A raster is only made for levels the chunk and the stream can fill.
    const uint64_t least = LeastLevelBytes(n);
    const RwUInt32 blocks = rwD3D9NATIVEBLOCKSIZE + rwD3D9NATIVERASTERSIZE;
    if (length < blocks || least > length - blocks || least > 0xFFFFFFFFu ||
        !RwStreamCanHold(stream, static_cast<RwUInt32>(least), 1))
        return FALSE;
    RwBool expand = NeedsExpansion(n);
    RwRaster *raster = CreateRaster(n, expand);
    if (raster == nullptr)
        return FALSE;
    if ((!expand && !RasterMatches(raster, n)) || !FillRaster(stream, raster, n, expand)) {
        RwRasterDestroy(raster);
        return FALSE;
    }
    RwTexture *texture = RwTextureCreate(raster);
    if (texture == nullptr) {
        RwRasterDestroy(raster);
        return FALSE;
    }
    RwUInt32 sampling = ReadU32(block + 4);
    texture->filterMode = static_cast<RwUInt8>(sampling & 0xFF);
    texture->addressing = static_cast<RwUInt8>((sampling >> 8) & 0xFF);
    RwChar name[rwTEXTUREBASENAMELENGTH];
    CopyName(name, block + 8);
    RwTextureSetName(texture, name);
    CopyName(name, block + 40);
    RwTextureSetMaskName(texture, name);
    *static_cast<RwTexture **>(out) = texture;
    return TRUE;
}
