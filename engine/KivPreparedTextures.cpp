// Pictures a load decodes before it takes the render lock, for the texture reads its own thread makes under the hold.
#include "engine/KivPreparedTextures.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>

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
std::atomic<unsigned long> g_compared(0), g_decoded(0);

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

// Calls found with each name until it answers false.
template <typename Found>
void ForEachName(const unsigned char *bytes, size_t size, Found found)
{
    for (size_t at = 0; bytes && at + 2 * kChunkHeader <= size; at++) {
        if (bytes[at] != kTextureChunk)
            continue;
        const std::string name = NameAt(bytes, size, at);
        if (!name.empty() && !found(name))
            return;
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

// Case bits left out, so that every spelling the comparison finds equal
// hashes alike.
size_t KivPreparedTextures::NameHash::operator()(const char *name) const
{
    size_t hash = 2166136261u;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; p++)
        hash = (hash ^ (*p | 0x20u)) * 16777619u;
    return hash;
}

bool KivPreparedTextures::NameEqual::operator()(const char *a, const char *b) const
{
    g_compared.fetch_add(1, std::memory_order_relaxed);
    return RwStringCompareNoCase(a, b) == 0;
}

unsigned long KivPreparedTextures::NamesCompared()
{
    return g_compared.load();
}

unsigned long KivPreparedTextures::PicturesDecoded()
{
    return g_decoded.load();
}

// Paths compared as names are: the archive and the file system both leave
// letter case aside.
KivPreparedTextures::Entry *KivPreparedTextures::Find(const char *path, const char *name)
{
    const auto range = m_byName.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
        if (NameEqual()(it->second->path.c_str(), path))
            return it->second;
    return nullptr;
}

bool KivPreparedTextures::Known(const char *path, const char *name)
{
    for (KivPreparedTextures *list = this; list; list = list->m_outer)
        if (list->Find(path, name))
            return true;
    return false;
}

void KivPreparedTextures::Want(const char *name, const char *path)
{
    char file[MAX_PATH];
    path = path ? path : "";
    if (!m_active || !name || m_entries.size() >= kMostNames ||
        !RwStringPrintBounded(file, sizeof(file), "%s%s.png", path, name))
        return;
    try {
        if (Known(path, name))
            return;
        m_entries.push_back(Entry{name, path, file, nullptr, nullptr, 0, 0});
    } catch (const std::bad_alloc &) {
        return;
    }
    try {
        m_byName.emplace(m_entries.back().name.c_str(), &m_entries.back());
    } catch (const std::bad_alloc &) {
        m_entries.pop_back();
    }
}

void KivPreparedTextures::WantStream(const unsigned char *bytes, size_t size, const char *path,
                                     const unsigned char *skip, size_t skipSize)
{
    if (!m_active)
        return;
    try {
        std::unordered_set<std::string, NameHash, NameEqual> skipped;
        ForEachName(skip, skipSize, [&](const std::string &name) {
            skipped.insert(name);
            return true;
        });
        ForEachName(bytes, size, [&](const std::string &name) {
            if (!skipped.count(name))
                Want(name.c_str(), path);
            return m_entries.size() < kMostNames;
        });
    } catch (const std::bad_alloc &) {
    }
}

// Under a brief hold: a texture already there is not read at all. One walk
// of the dictionary, each of its names looked up in the list.
void KivPreparedTextures::DropNamesIn(RwTextureDictionary *dictionary)
{
    CKivBase *base = CKivBase::GetInstance();
    base->Lock();
    RwTextureDictionary *dict = dictionary ? dictionary : RwTextureDictionaryGetCurrent();
    if (dict)
        RwTextureDictionaryForAllTextures(
            dict,
            [](RwTexture *texture, void *data) {
                const auto range = static_cast<KivPreparedTextures *>(data)->m_byName.equal_range(texture->name);
                for (auto it = range.first; it != range.second; ++it)
                    if (!it->second->pixels)
                        it->second->inDictionary = 1;
                return texture;
            },
            this);
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
        if (entry.pixels || entry.inDictionary || bytes >= kPreparedBytes)
            continue;
        std::unique_ptr<unsigned char[]> file;
        DWORD size = 0;
        if (KivReadWholeFile(base->GetParcel(), entry.file.c_str(), file, &size) != kKivReadOk)
            continue;
        entry.pixels = DecodePngPixels(file.get(), size, m_mode, nullptr);
        if (!ReducePngPixels(entry.pixels)) {
            FreePngPixels(entry.pixels);
            entry.pixels = nullptr;
        } else {
            g_decoded.fetch_add(1, std::memory_order_relaxed);
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

RwRaster *KivPreparedTextures::Take(const char *path, const char *name, int mode)
{
    KivPreparedTextures **innermost = Innermost();
    for (KivPreparedTextures *list = innermost ? *innermost : nullptr; list; list = list->m_outer) {
        Entry *entry = list->Find(path, name);
        if (entry && entry->pixels && PngPixelsFit(entry->pixels, mode))
            return entry->Finish();
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
