// The graphics library's texture read callback: "<image path><name>.png" through the main archive.
#include <cstdio>
#include <memory>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivFileRead.h"
#include "engine/KivImageDecode.h"
#include "engine/KivPreparedTextures.h"
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

RwTexture *TextureFromPixels(const char *name, KivPngPixels *pixels)
{
    RwTexture *texture = nullptr;
    if (pixels)
        TextureFromPngRaster(&texture, name, RasterFromPngPixels(pixels));
    FreePngPixels(pixels);
    return texture;
}

// A picture the load prepared before its hold gives the texture a read now
// would give: only the texture is made here.
RwTexture *ReadNow(CKivBase *base, const char *path, const char *name, const char *file, int mode)
{
    if (RwRaster *prepared = KivPreparedTextures::Take(path, name, mode)) {
        RwTexture *texture = nullptr;
        TextureFromPngRaster(&texture, name, prepared);
        return texture;
    }
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    const KivReadStatus status = KivReadWholeFile(base->GetParcel(), file, bytes, &size);
    if (status == kKivReadMissing)
        LogMissing(path, name);
    return status == kKivReadOk ? TextureFromPixels(name, DecodePngPixels(bytes.get(), size, mode, nullptr))
                                : nullptr;
}

} // namespace

// Runs on whichever thread reads graphics data, under the render lock, which
// keeps the current dictionary, image path and read mode one thread's while
// the texture is made. A load that prepared its pictures before its hold
// keeps the decoding out of it; the texture is the same either way.
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
    if (base->IsAsyncTextureLoading() && loader && mode != 1) {
        texture = loader->Request(name, path, mode);
    } else if (!RwStringPrintBounded(file, sizeof(file), "%s%s.png", path, name)) {
        // A name too long for a Windows path cannot name an existing file.
        LogMissing(path, name);
    } else {
        texture = ReadNow(base, path, name, file, mode);
    }
    base->Unlock();
    return texture;
}
