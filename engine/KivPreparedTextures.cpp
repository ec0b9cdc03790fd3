// Pictures a load decodes before it takes the render lock, for the texture reads its own thread makes under the hold.
#include "engine/KivPreparedTextures.h"

#include <cstring>
#include <memory>
#include <new>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivFileRead.h"
#include "engine/KivImageDecode.h"
#include "engine/KivThreadBlock.h"
#include "gfx/core/raster.h"
#include "gfx/core/rwstring.h"
#include "gfx/core/texture.h"

namespace {

// Decoded pixels one list may hold at once: the pictures past it are decoded
// under the lock when asked for, as unprepared ones are.
const size_t kPreparedBytes = 64u << 20;

// A texture chunk: its header, a struct chunk (the flags) and the name's string chunk.
const unsigned kChunkHeader = 12;
const unsigned kTextureChunk = 0x06, kStructChunk = 0x01, kStringChunk = 0x02;
const unsigned kLongestStruct = 64, kLongestName = 128;

KivThreadBlock g_innermost(sizeof(KivPreparedTextures *));

KivPreparedTextures **Innermost()
{
    return static_cast<KivPreparedTextures **>(g_innermost.Get());
}

unsigned ReadU32(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned>(p[3]) << 24;
}

// The name a texture chunk at the offset (with two chunk headers' room
// after it) carries, or an empty string. Only a hint: a name the scan
// misreads or misses is read under the lock.
std::string NameAt(const unsigned char *bytes, size_t size, size_t at)
{
    if (ReadU32(bytes + at) != kTextureChunk || ReadU32(bytes + at + kChunkHeader) != kStructChunk)
        return std::string();
    const unsigned structSize = ReadU32(bytes + at + kChunkHeader + 4);
    if (structSize > kLongestStruct || size - at - 2 * kChunkHeader < structSize + kChunkHeader)
        return std::string();
    const size_t string = at + 2 * kChunkHeader + structSize;
    const unsigned length = ReadU32(bytes + string + 4);
    if (ReadU32(bytes + string) != kStringChunk || length > kLongestName ||
        size - string - kChunkHeader < length)
        return std::string();
    const char *text = reinterpret_cast<const char *>(bytes + string + kChunkHeader);
    const size_t used = strnlen(text, length);
    return used < length ? std::string(text, used) : std::string();
}

template <typename Found>
void ForEachName(const unsigned char *bytes, size_t size, Found found)
{
    for (size_t at = 0; bytes && at + 2 * kChunkHeader <= size; at++) {
        if (bytes[at] != kTextureChunk)
            continue;
        const std::string name = NameAt(bytes, size, at);
        if (!name.empty())
            found(name);
    }
}

} // namespace

KivPreparedTextures::KivPreparedTextures() : m_active(0), m_mode(CKivBase::GetTextureReadMode()), m_outer(nullptr)
{
    CKivBase *base = CKivBase::GetInstance();
    // With background loading the loader answers the reads instead.
    if (!base || base->HoldsLock() || (base->IsAsyncTextureLoading() && base->GetTextureLoader()))
        return;
    KivPreparedTextures **innermost = Innermost();
    if (!innermost)
        return;
    m_outer = *innermost;
    *innermost = this;
    m_active = 1;
}

// Rasters nobody took go under a brief hold.
KivPreparedTextures::~KivPreparedTextures()
{
    if (!m_active)
        return;
    *Innermost() = m_outer;
    if (m_entries.empty())
        return;
    CKivBase *base = CKivBase::GetInstance();
    base->Lock();
    for (Entry &entry : m_entries) {
        if (entry.raster)
            RwRasterDestroy(entry.raster);
        FreePngPixels(entry.pixels);
    }
    base->Unlock();
}

bool KivPreparedTextures::Known(const std::string &file) const
{
    for (const KivPreparedTextures *list = this; list; list = list->m_outer)
        for (const Entry &entry : list->m_entries)
            if (entry.file == file)
                return true;
    return false;
}

void KivPreparedTextures::Want(const char *name, const char *path)
{
    char file[MAX_PATH];
    if (!m_active || !name || !RwStringPrintBounded(file, sizeof(file), "%s%s.png", path ? path : "", name))
        return;
    try {
        if (!Known(file))
            m_entries.push_back(Entry{name, file, nullptr, nullptr, 0});
    } catch (const std::bad_alloc &) {
    }
}

void KivPreparedTextures::WantStream(const unsigned char *bytes, size_t size, const char *path,
                                     const unsigned char *skip, size_t skipSize)
{
    if (!m_active)
        return;
    try {
        std::vector<std::string> skipped;
        ForEachName(skip, skipSize, [&](const std::string &name) { skipped.push_back(name); });
        ForEachName(bytes, size, [&](const std::string &name) {
            for (const std::string &other : skipped)
                if (other == name)
                    return;
            Want(name.c_str(), path);
        });
    } catch (const std::bad_alloc &) {
    }
}

// Under a brief hold: a texture already there is not read at all.
void KivPreparedTextures::DropNamesIn(RwTextureDictionary *dictionary)
{
    CKivBase *base = CKivBase::GetInstance();
    base->Lock();
    RwTextureDictionary *dict = dictionary ? dictionary : RwTextureDictionaryGetCurrent();
    for (Entry &entry : m_entries)
        if (!entry.pixels && dict && RwTextureDictionaryFindTexture(dict, entry.name.c_str()))
            entry.file.clear();
    base->Unlock();
}

void KivPreparedTextures::Decode(RwTextureDictionary *dictionary, int current)
{
    CKivBase *base = CKivBase::GetInstance();
    if (!m_active || m_entries.empty())
        return;
    if (dictionary || current)
        DropNamesIn(dictionary);
    size_t bytes = 0;
    for (Entry &entry : m_entries) {
        if (entry.pixels || entry.file.empty() || bytes >= kPreparedBytes)
            continue;
        std::unique_ptr<unsigned char[]> file;
        DWORD size = 0;
        if (KivReadWholeFile(base->GetParcel(), entry.file.c_str(), file, &size) != kKivReadOk)
            continue;
        entry.pixels = DecodePngPixels(file.get(), size, m_mode, nullptr);
        if (!ReducePngPixels(entry.pixels)) {
            FreePngPixels(entry.pixels);
            entry.pixels = nullptr;
        }
        bytes += PngPixelBytes(entry.pixels);
    }
    MakeRasters();
}

// Made under a brief hold, filled with none: the rasters are nobody else's
// yet, and a device reset keeps a plain texture's pixels.
void KivPreparedTextures::MakeRasters()
{
    bool decoded = false;
    for (const Entry &entry : m_entries)
        decoded = decoded || entry.pixels;
    if (!decoded)
        return;
    CKivBase *base = CKivBase::GetInstance();
    base->Lock();
    for (Entry &entry : m_entries)
        if (!entry.raster)
            entry.raster = CreatePngRaster(entry.pixels);
    base->Unlock();
    for (Entry &entry : m_entries)
        if (!entry.copied)
            entry.copied = CopyPngPixels(entry.raster, entry.pixels);
}

RwRaster *KivPreparedTextures::Take(const char *file, int mode)
{
    KivPreparedTextures **innermost = Innermost();
    for (KivPreparedTextures *list = innermost ? *innermost : nullptr; list; list = list->m_outer) {
        for (Entry &entry : list->m_entries) {
            if (entry.pixels && entry.file == file && PngPixelsFit(entry.pixels, mode))
                return entry.Finish();
        }
    }
    return nullptr;
}

// Whatever the raster still lacks is done now, under the hold.
RwRaster *KivPreparedTextures::Entry::Finish()
{
    RwRaster *made = raster ? raster : CreatePngRaster(pixels);
    if (made && !copied && !CopyPngPixels(made, pixels) && !FillPngRaster(made, pixels)) {
        RwRasterDestroy(made);
        made = nullptr;
    }
    raster = nullptr;
    FreePngPixels(pixels);
    pixels = nullptr;
    return made;
}
