// The graphics library's texture read callback: "<image path><name>.png" through the main archive.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivFileRead.h"
#include "engine/KivImageDecode.h"
#include "engine/TextureLoader.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/core/rwstring.h"

namespace {

// Pictures decoded at once before their rasters are made: enough to take
// the lock three times per batch rather than per texture, little enough
// not to hold a whole world's pictures in memory.
const size_t kBatchPixelBytes = 32u << 20;

// Appends the file name to the list of missing images.
void LogMissing(const char *path, const char *name)
{
    FILE *f = fopen("Texture.txt", "a");
    if (f) {
        fprintf(f, "%s%s.png\n", path ? path : "", name);
        fclose(f);
    }
}

// Only files that begin as a PNG wait for their decoding: anything else is
// refused now, as the caller expects of a file that is no picture.
bool LooksLikePng(const unsigned char *bytes, DWORD size)
{
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= sizeof(kSignature) && memcmp(bytes, kSignature, sizeof(kSignature)) == 0;
}

// A texture on a one-pixel raster, named and in the current dictionary as a
// decoded one would be; its picture comes when the engine call ends.
RwTexture *PlaceholderTexture(CKivBase *base, const char *name, const char *file, int mode)
{
    RwTexture *texture = nullptr;
    if (!TextureFromPngRaster(&texture, name, CreateBlankPngRaster()))
        return nullptr;
    if (!base->DeferTextureDecoding(texture, file, mode)) {
        RwTextureDestroy(texture);
        return nullptr;
    }
    return texture;
}

RwTexture *DecodedTexture(const char *name, const unsigned char *bytes, DWORD size, int mode)
{
    KivPngPixels *pixels = DecodePngPixels(bytes, size, mode, nullptr);
    RwTexture *texture = nullptr;
    if (pixels)
        TextureFromPngRaster(&texture, name, RasterFromPngPixels(pixels));
    FreePngPixels(pixels);
    return texture;
}

// The file's start tells whether its picture may wait: only the file's
// presence and kind are needed now. Null with *decided 0 when it must be
// read and decoded at once.
RwTexture *DeferredRead(CKivBase *base, const char *path, const char *name, const char *file, int mode,
                        int *decided)
{
    unsigned char head[8];
    DWORD got = 0;
    const KivReadStatus status = KivReadFileHead(base->GetParcel(), file, head, sizeof(head), &got);
    *decided = 1;
    if (status == kKivReadMissing) {
        LogMissing(path, name);
        return nullptr;
    }
    RwTexture *texture = status == kKivReadOk && LooksLikePng(head, got) ? PlaceholderTexture(base, name, file, mode)
                                                                          : nullptr;
    *decided = texture != nullptr;
    return texture;
}

RwTexture *ReadNow(CKivBase *base, const char *path, const char *name, const char *file, int mode)
{
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    const KivReadStatus status = KivReadWholeFile(base->GetParcel(), file, bytes, &size);
    if (status == kKivReadMissing)
        LogMissing(path, name);
    return status == kKivReadOk ? DecodedTexture(name, bytes.get(), size, mode) : nullptr;
}

} // namespace

// Runs on whichever thread reads graphics data, under the render lock, which
// keeps the current dictionary, image path and read mode one thread's while
// the texture is made. Under an engine call's hold the image is decoded when
// the call's hold ends, so frames go on meanwhile; under a frame's it is
// decoded now.
RwTexture *CKivBase::TextureReadCallback(const char *name, const char *)
{
    CKivBase *base = GetInstance();
    if (!base || !name)
        return nullptr;
    base->Lock();
    const char *path = RwImageGetPath();
    if (!path)
        path = "";
    const int mode = GetTextureReadMode();
    // Mode 1 asks for the texture now, loader or not.
    TextureLoader *loader = base->GetTextureLoader();
    RwTexture *texture = nullptr;
    char file[MAX_PATH];
    int decided = 0;
    if (base->IsAsyncTextureLoading() && loader && mode != 1) {
        texture = loader->Request(name, path, mode);
    } else if (!RwStringPrintBounded(file, sizeof(file), "%s%s.png", path, name)) {
        // A name too long for a Windows path cannot name an existing file.
        LogMissing(path, name);
    } else {
        if (mode != 1 && base->DefersTextureDecoding())
            texture = DeferredRead(base, path, name, file, mode, &decided);
        if (!decided)
            texture = ReadNow(base, path, name, file, mode);
    }
    base->Unlock();
    return texture;
}

int CKivBase::DeferTextureDecoding(RwTexture *texture, const char *file, int mode)
{
    try {
        m_deferred.push_back(DeferredTexture{texture, file, mode, nullptr, nullptr, 0});
    } catch (const std::bad_alloc &) {
        return 0;
    }
    RwTextureAddRef(texture);
    return 1;
}

// Each file is read and decoded with no lock; the batch's rasters are made
// under the lock and filled without it (nobody else's yet), then put under
// their textures under it. A texture whose picture does not arrive keeps its
// placeholder; one that only this list still holds is simply dropped.
void CKivBase::FinishDeferred(std::vector<DeferredTexture> &deferred)
{
    for (size_t first = 0; first < deferred.size();) {
        size_t end = first, bytes = 0;
        for (; end < deferred.size() && (end == first || bytes < kBatchPixelBytes); end++) {
            DeferredTexture &d = deferred[end];
            std::unique_ptr<unsigned char[]> file;
            DWORD size = 0;
            if (KivReadWholeFile(GetParcel(), d.file.c_str(), file, &size) == kKivReadOk)
                d.pixels = DecodePngPixels(file.get(), size, d.mode, nullptr);
            bytes += PngPixelBytes(d.pixels);
        }
        Lock();
        for (size_t i = first; i < end; i++)
            deferred[i].raster = CreatePngRaster(deferred[i].pixels);
        Unlock();
        for (size_t i = first; i < end; i++)
            deferred[i].copied = CopyPngPixels(deferred[i].raster, deferred[i].pixels);
        Lock();
        for (size_t i = first; i < end; i++)
            PutRaster(deferred[i]);
        Unlock();
        for (size_t i = first; i < end; i++)
            FreePngPixels(deferred[i].pixels);
        first = end;
    }
    deferred.clear();
}

// Under the lock: the filled raster under the texture, the list's reference dropped.
void CKivBase::PutRaster(DeferredTexture &d)
{
    RwRaster *raster = d.raster;
    if (raster && !d.copied && !FillPngRaster(raster, d.pixels)) {
        RwRasterDestroy(raster);
        raster = nullptr;
    }
    if (raster && d.texture->refCount > 1) {
        RwRaster *placeholder = RwTextureGetRaster(d.texture);
        RwTextureSetRaster(d.texture, raster);
        if (placeholder)
            RwRasterDestroy(placeholder);
    } else if (raster) {
        RwRasterDestroy(raster);
    }
    RwTextureDestroy(d.texture);
}
