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
        m_deferred.push_back(DeferredTexture{texture, file, mode});
    } catch (const std::bad_alloc &) {
        return 0;
    }
    RwTextureAddRef(texture);
    return 1;
}

// Each file is read and decoded with no lock, its raster made under the
// lock and filled without it (nobody else's yet), then put under the
// texture. A texture whose only holder is this list is dropped unread; one
// whose picture does not arrive keeps its placeholder.
void CKivBase::FinishDeferred(std::vector<DeferredTexture> &deferred)
{
    for (DeferredTexture &d : deferred) {
        Lock();
        const bool wanted = d.texture->refCount > 1;
        Unlock();
        std::unique_ptr<unsigned char[]> bytes;
        DWORD size = 0;
        KivPngPixels *pixels = nullptr;
        if (wanted && KivReadWholeFile(GetParcel(), d.file.c_str(), bytes, &size) == kKivReadOk)
            pixels = DecodePngPixels(bytes.get(), size, d.mode, nullptr);
        bytes.reset();
        Lock();
        RwRaster *raster = CreatePngRaster(pixels);
        Unlock();
        const int copied = CopyPngPixels(raster, pixels);
        Lock();
        if (raster && !copied && !FillPngRaster(raster, pixels)) {
            RwRasterDestroy(raster);
            raster = nullptr;
        }
        if (raster) {
            RwRaster *placeholder = RwTextureGetRaster(d.texture);
            RwTextureSetRaster(d.texture, raster);
            if (placeholder)
                RwRasterDestroy(placeholder);
        }
        RwTextureDestroy(d.texture);
        Unlock();
        FreePngPixels(pixels);
    }
    deferred.clear();
}
