// The graphics library's texture read callback: "<image path><name>.png" through the main archive.
#include <cstdio>
#include <memory>

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

// The load's own hold of the render lock (a world's, a model's, ReadTexture's)
// and the texture read's: with no more the lock is the load's alone.
const int kLoadHolds = 2;

// Appends the file name to the list of missing images.
void LogMissing(const char *path, const char *name)
{
    FILE *f = fopen("Texture.txt", "a");
    if (f) {
        fprintf(f, "%s%s.png\n", path ? path : "", name);
        fclose(f);
    }
}

// The raster of the decoded pixels: made under the render lock, filled with
// the lock paused when it can be (the raster is nobody else's yet).
RwRaster *MakeRaster(CKivBase *base, const KivPngPixels *pixels)
{
    RwRaster *raster = CreatePngRaster(pixels);
    if (!raster)
        return nullptr;
    CKivBase::LockPause pause;
    const int paused = base->PauseLock(&pause, kLoadHolds);
    const int copied = CopyPngPixels(raster, pixels);
    if (paused)
        base->ResumeLock(&pause);
    if (!copied && !FillPngRaster(raster, pixels)) {
        RwRasterDestroy(raster);
        return nullptr;
    }
    return raster;
}

// Another thread may have read the same texture while the lock was paused:
// that one, with a reference for the caller.
RwTexture *TakeRead(const char *name)
{
    RwTextureDictionary *dict = RwTextureDictionaryGetCurrent();
    RwTexture *texture = dict ? RwTextureDictionaryFindTexture(dict, name) : nullptr;
    return texture ? RwTextureAddRef(texture) : nullptr;
}

} // namespace

// Runs on whichever thread reads graphics data, under the render lock, which
// keeps a loading thread's dictionary change out of a frame in progress. A
// load holding the lock for itself alone pauses it while the file is read and
// decoded, so frames go on meanwhile.
RwTexture *CKivBase::TextureReadCallback(const char *name, const char *)
{
    CKivBase *base = GetInstance();
    if (!base || !name)
        return nullptr;
    const char *path = RwImageGetPath();
    if (!path)
        path = "";
    const int mode = GetTextureReadMode();
    // Mode 1 asks for the texture now, loader or not.
    TextureLoader *loader = base->GetTextureLoader();
    if (base->IsAsyncTextureLoading() && loader && mode != 1)
        return loader->Request(name, path, mode);
    base->Lock();
    char file[MAX_PATH];
    // A name too long for a Windows path cannot name an existing file.
    KivReadStatus status = kKivReadMissing;
    KivPngPixels *pixels = nullptr;
    if (RwStringPrintBounded(file, sizeof(file), "%s%s.png", path, name)) {
        LockPause pause;
        const int paused = base->PauseLock(&pause, kLoadHolds);
        std::unique_ptr<unsigned char[]> bytes;
        DWORD size = 0;
        status = KivReadWholeFile(base->GetParcel(), file, bytes, &size);
        if (status == kKivReadOk)
            pixels = DecodePngPixels(bytes.get(), size, mode, nullptr);
        bytes.reset();
        if (paused)
            base->ResumeLock(&pause);
    }
    RwTexture *texture = nullptr;
    // The path read again: a pause puts its text back, perhaps in new room.
    if (status == kKivReadMissing)
        LogMissing(RwImageGetPath(), name);
    else if (pixels) {
        RwRaster *raster = MakeRaster(base, pixels);
        if (!(texture = TakeRead(name)))
            TextureFromPngRaster(&texture, name, raster);
        else if (raster)
            RwRasterDestroy(raster);
    }
    FreePngPixels(pixels);
    base->Unlock();
    return texture;
}
