// Background texture loading: placeholder textures at once, the real rasters swapped in by a worker thread.
#include "engine/TextureLoader.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivFileRead.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/rwstring.h"
#include "gfx/core/texture.h"

namespace {

const DWORD kPieceBytes = 0x2800;
// Placeholder creation gives up after this many tries, 1 ms apart.
const int kPlaceholderTries = 100;

RwImage *ReadPlaceholder(const char *file, const char *name)
{
    CKivBase *base = CKivBase::GetInstance();
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    RwImage *image = nullptr;
    if (base && KivReadWholeFile(base->GetParcel(), file, bytes, &size) == kKivReadOk)
        DecodePngImage(&image, name, bytes.get(), size, 2);
    return image;
}

// The render lock where there is an engine root: placeholders' dictionaries
// and reference counts change only under it. Not counted as a load: the
// worker's holds must not keep Shutdown waiting.
class RenderHold {
public:
    RenderHold() : m_base(CKivBase::GetInstance())
    {
        if (m_base)
            m_base->Lock();
    }
    ~RenderHold()
    {
        if (m_base)
            m_base->Unlock();
    }
    RenderHold(const RenderHold &) = delete;
    RenderHold &operator=(const RenderHold &) = delete;

private:
    CKivBase *m_base;
};

RwUInt8 KeyNumber(const char *&cursor)
{
    if (!cursor)
        return 0;
    const int value = atoi(cursor);
    const char *next = strstr(cursor, "+tk");
    cursor = next ? next + 3 : nullptr;
    return static_cast<RwUInt8>(value);
}

} // namespace

void TextureLoader::ParseColourKey(const char *name, char *base, size_t baseSize, ColourKey *key)
{
    *key = ColourKey{};
    const char *suffix = name ? strstr(name, "+tk") : nullptr;
    const size_t length = !name ? 0 : suffix ? static_cast<size_t>(suffix - name) : strlen(name);
    if (baseSize) {
        const size_t kept = length < baseSize ? length : baseSize - 1;
        memcpy(base, name ? name : "", kept);
        base[kept] = '\0';
    }
    if (!suffix)
        return;
    const char *cursor = suffix + 3;
    key->enable = 1;
    key->red = KeyNumber(cursor);
    key->green = KeyNumber(cursor);
    key->blue = KeyNumber(cursor);
}

TextureLoader::TextureLoader(int interval)
    : m_interval(interval), m_worldImage(nullptr), m_modelImage(nullptr), m_queueHead(nullptr), m_queueTail(nullptr),
      m_active(nullptr), m_pending(0), m_stop(0), m_wake(nullptr), m_thread(nullptr)
{
    m_worldImage = ReadPlaceholder("Data/Interface/Dummy/fill_bsp.png", "fill_bsp");
    m_modelImage = ReadPlaceholder("Data/Interface/Dummy/fill_dff.png", "fill_dff");
    InitializeCriticalSection(&m_lock);
    InitializeCriticalSection(&m_readLock);
    m_wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_wake)
        m_thread = CreateThread(nullptr, 0x19000, WorkerMain, this, 0, nullptr);
}

TextureLoader::~TextureLoader()
{
    m_stop = 1;
    if (m_wake)
        SetEvent(m_wake);
    // A worker that never started is not waited for; a running one ends
    // after its current request (a read in progress gives up at once).
    if (m_thread) {
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    if (m_wake)
        CloseHandle(m_wake);
    {
        // A worker that stopped mid-request left it in the active list.
        RenderHold hold;
        EnterCriticalSection(&m_lock);
        DropQueued(nullptr);
        while (TextureRequest *request = m_active) {
            m_active = request->next;
            Release(request);
        }
        LeaveCriticalSection(&m_lock);
    }
    DeleteCriticalSection(&m_readLock);
    DeleteCriticalSection(&m_lock);
    if (m_worldImage)
        RwImageDestroy(m_worldImage);
    if (m_modelImage)
        RwImageDestroy(m_modelImage);
}

RwTexture *TextureLoader::Request(const char *name, const char *imagePath, int mode)
{
    CKivBase *base = CKivBase::GetInstance();
    TextureRequest *request = new (std::nothrow) TextureRequest{};
    if (!base || !name || !request) {
        delete request;
        return nullptr;
    }
    char scratch[260];
    ParseColourKey(name, scratch, sizeof(scratch), &request->key);
    if (!RwStringPrintBounded(request->name, sizeof(request->name), "%s", name) ||
        !RwStringPrintBounded(request->imagePath, sizeof(request->imagePath), "%s", imagePath ? imagePath : "")) {
        delete request;
        return nullptr;
    }
    request->mode = mode;

    base->Lock();
    RwRaster *raster = nullptr;
    RwTexture *texture = nullptr;
    for (int tries = 0; tries < kPlaceholderTries && !texture; tries++) {
        if (!raster)
            raster = RwRasterCreate(2, 2, 0, rwRASTERTYPETEXTURE);
        if (!raster)
            raster = RwRasterCreate(8, 8, 0, rwRASTERTYPETEXTURE);
        if (raster)
            texture = RwTextureCreate(raster);
        if (!texture) {
            // Let the frame and the worker free what they hold before the next try.
            base->Unlock();
            Sleep(1);
            base->Lock();
        }
    }
    if (!texture) {
        if (raster)
            RwRasterDestroy(raster);
        base->Unlock();
        delete request;
        return nullptr;
    }
    RwImage *image = base->IsWorldLoading() == 1 ? m_worldImage : m_modelImage;
    if (image)
        RwRasterSetFromImage(raster, image);
    texture->filterMode = static_cast<RwUInt8>(mode & 0xFF);
    RwTextureSetName(texture, name);
    request->texture = RwTextureAddRef(texture);
    request->placeholder = raster;
    if (RwTextureDictionary *dict = RwTextureDictionaryGetCurrent())
        RwTextureDictionaryAddTexture(dict, texture);
    base->Unlock();

    EnterCriticalSection(&m_lock);
    if (m_queueTail)
        m_queueTail->next = request;
    else
        m_queueHead = request;
    m_queueTail = request;
    m_pending = 1;
    LeaveCriticalSection(&m_lock);
    return texture;
}

void TextureLoader::Cancel(RwTextureDictionary *dictionary)
{
    RenderHold hold;
    EnterCriticalSection(&m_lock);
    DropQueued(dictionary);
    CancelActive(dictionary);
    LeaveCriticalSection(&m_lock);
}

void TextureLoader::DropQueued(RwTextureDictionary *dictionary)
{
    m_queueTail = nullptr;
    for (TextureRequest **link = &m_queueHead; *link;) {
        TextureRequest *request = *link;
        if (!dictionary || request->texture->dict == dictionary) {
            *link = request->next;
            Release(request);
        } else {
            m_queueTail = request;
            link = &request->next;
        }
    }
}

void TextureLoader::CancelActive(RwTextureDictionary *dictionary)
{
    for (TextureRequest *request = m_active; request; request = request->next) {
        if (!dictionary || request->texture->dict == dictionary)
            request->cancelled = 1;
    }
}

void TextureLoader::Drain(int discard)
{
    if (discard) {
        Cancel(nullptr);
        return;
    }
    while (TextureRequest *request = TakeFirst()) {
        LoadRequest(request);
        Finish(request);
    }
}

int TextureLoader::GetPendingCount()
{
    EnterCriticalSection(&m_lock);
    int count = 0;
    for (const TextureRequest *request = m_queueHead; request; request = request->next)
        count++;
    for (const TextureRequest *request = m_active; request; request = request->next)
        count++;
    LeaveCriticalSection(&m_lock);
    return count;
}

// The first queued request, now counted as being loaded; null when none.
TextureRequest *TextureLoader::TakeFirst()
{
    EnterCriticalSection(&m_lock);
    TextureRequest *request = m_queueHead;
    if (!request) {
        m_pending = 0;
    } else {
        m_queueHead = request->next;
        if (!m_queueHead)
            m_queueTail = nullptr;
        request->next = m_active;
        m_active = request;
    }
    LeaveCriticalSection(&m_lock);
    return request;
}

void TextureLoader::Finish(TextureRequest *request)
{
    RenderHold hold;
    EnterCriticalSection(&m_lock);
    for (TextureRequest **link = &m_active; *link; link = &(*link)->next) {
        if (*link == request) {
            *link = request->next;
            break;
        }
    }
    LeaveCriticalSection(&m_lock);
    Release(request);
}

// The placeholder goes with the request's reference when nobody else holds it.
void TextureLoader::Release(TextureRequest *request)
{
    RwTextureDestroy(request->texture);
    delete request;
}

DWORD WINAPI TextureLoader::WorkerMain(void *data)
{
    TextureLoader *loader = static_cast<TextureLoader *>(data);
    // Passes start one interval apart on a steady schedule: the reading
    // pauses and a late wake-up count toward it; a pass that overran starts
    // the schedule again rather than racing to catch up.
    DWORD next = GetTickCount();
    for (;;) {
        if (TextureRequest *request = loader->TakeFirst()) {
            loader->LoadRequest(request);
            // A stopping loader's worker leaves the render lock alone (the
            // thread stopping it may hold it): destruction releases the request.
            if (loader->m_stop)
                break;
            loader->Finish(request);
        }
        if (loader->m_stop)
            break;
        next += static_cast<DWORD>(loader->m_interval);
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(next - now) < 0)
            next = now;
        WaitForSingleObject(loader->m_wake, next - now);
    }
    return 0;
}

// Pieces of 10240 bytes with a pause between them, so the disk stays shared;
// no engine lock is held. 1 with the whole file in bytes.
int TextureLoader::ReadRequestFile(const TextureRequest *request, unsigned char **bytes, DWORD *size)
{
    char base[260];
    ColourKey key;
    ParseColourKey(request->name, base, sizeof(base), &key);
    char file[MAX_PATH];
    CKivBase *engine = CKivBase::GetInstance();
    CParcelBase *parcel = engine ? engine->GetLoaderParcel() : nullptr;
    if (!parcel || !RwStringPrintBounded(file, sizeof(file), "%s%s.png", request->imagePath,
                                         key.enable ? base : request->name))
        return 0;
    EnterCriticalSection(&m_readLock);
    std::unique_ptr<unsigned char[]> buffer;
    DWORD done = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    // The archive keeps its names and handles in standard containers: memory
    // running out inside it is a failed read, with the handle closed and the
    // read lock released.
    try {
        handle = parcel->CreateFile(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE && !ReadPieces(parcel, handle, buffer, &done))
            buffer.reset();
    } catch (...) {
        buffer.reset();
    }
    if (handle != INVALID_HANDLE_VALUE) {
        try {
            parcel->CloseHandle(handle);
        } catch (...) {
        }
    }
    LeaveCriticalSection(&m_readLock);
    *size = buffer ? done : 0;
    *bytes = buffer.release();
    return *bytes ? 1 : 0;
}

bool TextureLoader::ReadPieces(CParcelBase *parcel, HANDLE handle, std::unique_ptr<unsigned char[]> &buffer,
                               DWORD *done)
{
    const DWORD length = parcel->GetFileSize(handle, nullptr);
    if (length == INVALID_FILE_SIZE)
        return false;
    buffer.reset(new (std::nothrow) unsigned char[length ? length : 1]);
    for (*done = 0; buffer && *done < length;) {
        const DWORD piece = length - *done < kPieceBytes ? length - *done : kPieceBytes;
        DWORD read = 0;
        // A failed or empty read ends the load, and so does the loader's destruction.
        if (m_stop || !parcel->ReadFile(handle, buffer.get() + *done, piece, &read, nullptr) || read == 0 ||
            read > piece)
            return false;
        *done += read;
        if (*done < length)
            Sleep(1);
    }
    return buffer != nullptr;
}

// Only under the render lock: not cancelled, held by someone besides the
// request, and still showing the raster the request made for it.
bool TextureLoader::IsWanted(const TextureRequest *request)
{
    EnterCriticalSection(&m_lock);
    const bool cancelled = request->cancelled != 0;
    LeaveCriticalSection(&m_lock);
    RwTexture *texture = request->texture;
    // Given up by everyone else: a read of its name from now on must make a
    // new placeholder, not find this one, which will never be filled.
    if (texture->refCount < 2)
        RwTextureDictionaryRemoveTexture(texture);
    return !cancelled && texture->refCount > 1 && texture->raster == request->placeholder;
}

// The file is read, decoded and copied into the new raster with no engine
// lock held (the copy waits for the device, which may be busy with a frame);
// the render lock covers only making the raster and swapping it in.
void TextureLoader::LoadRequest(TextureRequest *request)
{
    unsigned char *bytes = nullptr;
    DWORD size = 0;
    CKivBase *base = CKivBase::GetInstance();
    if (!base || !ReadRequestFile(request, &bytes, &size))
        return;
    KivPngPixels *pixels = m_stop ? nullptr : DecodePngPixels(bytes, size, request->mode, &request->key);
    delete[] bytes;
    if (!pixels)
        return;
    base->Lock();
    RwRaster *raster = IsWanted(request) ? CreatePngRaster(pixels) : nullptr;
    base->Unlock();
    const bool copied = raster && CopyPngPixels(raster, pixels);
    base->Lock();
    if (raster && IsWanted(request) && (copied || FillPngRaster(raster, pixels))) {
        base->BeginTextureUpdate();
        // The placeholder raster goes only once the picture has its place.
        if (RwTextureSetRaster(request->texture, raster)) {
            RwRasterDestroy(request->placeholder);
            raster = nullptr;
        }
        base->EndTextureUpdate();
    }
    if (raster)
        RwRasterDestroy(raster);
    base->Unlock();
    FreePngPixels(pixels);
}
