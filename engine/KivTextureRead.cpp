// The graphics library's texture read callback: "<image path><name>.png" through the main archive.
#include <cstdio>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivFileRead.h"
#include "engine/KivImageDecode.h"
#include "engine/TextureLoader.h"
#include "gfx/core/image.h"
#include "gfx/core/rwstring.h"

namespace {

// Appends the file name to the list of missing images.
void LogMissing(const char *path, const char *name)
{
    FILE *f = fopen("Texture.txt", "a");
    if (f) {
        fprintf(f, "%s%s.png\n", path, name);
        fclose(f);
    }
}

} // namespace

// Runs on whichever thread reads graphics data: the render lock keeps a
// loading thread's decode and dictionary change out of a frame in progress.
RwTexture *CKivBase::TextureReadCallback(const char *name, const char *)
{
    CKivBase *base = GetInstance();
    if (!base || !name)
        return nullptr;
    const char *path = RwImageGetPath();
    if (!path)
        path = "";
    // Mode 1 asks for the texture now, loader or not.
    TextureLoader *loader = base->GetTextureLoader();
    if (base->IsAsyncTextureLoading() && loader && GetTextureReadMode() != 1)
        return loader->Request(name, path, GetTextureReadMode());
    base->Lock();
    RwTexture *texture = nullptr;
    char file[MAX_PATH];
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    // A name too long for a Windows path cannot name an existing file.
    KivReadStatus status = kKivReadMissing;
    if (RwStringPrintBounded(file, sizeof(file), "%s%s.png", path, name))
        status = KivReadWholeFile(base->GetParcel(), file, bytes, &size);
    if (status == kKivReadMissing)
        LogMissing(path, name);
    else if (status == kKivReadOk)
        DecodePngTexture(&texture, name, bytes.get(), size, GetTextureReadMode(), nullptr);
    base->Unlock();
    return texture;
}
