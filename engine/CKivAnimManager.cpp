// The engine's cache of keyframe animations by case-insensitive name, with the holds of their players.
#include "engine/CKivAnimManager.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivEngineLock.h"
#include "engine/KivFileRead.h"
#include "engine/KivNames.h"
#include "gfx/core/stream.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"

namespace {

const char kMotionFolder[] = "Data/Avatar/Motions/";
const char kMotionExtension[] = ".anm";

bool FitsBuffer(const char *text)
{
    return text && strnlen(text, CKivAnimManager::kNameBufferSize) < CKivAnimManager::kNameBufferSize;
}

// The key of a name that fits its buffer, lower case; false otherwise.
bool NameKey(const char *name, std::string &key)
{
    return FitsBuffer(name) && KivSetObjectName(&key, nullptr, name);
}

// The file's base name without its extension, lower case. A name without a
// dot keys on all of it; an empty base name gives no key.
bool PathKey(const char *path, std::string &key)
{
    const char *base = path;
    for (const char *p = path; *p; p++) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    const char *dot = strrchr(base, '.');
    const size_t length = dot && dot > base ? static_cast<size_t>(dot - base) : strlen(base);
    if (length == 0)
        return false;
    char name[CKivAnimManager::kNameBufferSize];
    if (length >= sizeof(name))
        return false;
    memcpy(name, base, length);
    name[length] = '\0';
    return NameKey(name, key);
}

} // namespace

CKivAnimManager::CKivAnimManager(CParcelBase *parcel) : m_parcel(parcel) {}

CKivAnimManager::~CKivAnimManager()
{
    RemoveAllAnimations();
}

BOOL CKivAnimManager::LoadAnimation(const char *path, const char *name)
{
    std::string key;
    if (!FitsBuffer(path) || !(name ? NameKey(name, key) : PathKey(path, key)))
        return FALSE;
    EngineLock lock;
    auto found = m_byName.find(key);
    if (found != m_byName.end()) {
        found->second->references++;
        return TRUE;
    }
    RwAnimAnimation *animation = ReadAnimation(path);
    if (!animation)
        return FALSE;
    Record *record = new (std::nothrow) Record{animation, 1, 0};
    if (!record) {
        RwAnimAnimationDestroy(animation);
        return FALSE;
    }
    // In both maps or in neither: scripts load motions, and memory running
    // out between the two would leave a record no name can remove.
    try {
        m_records[animation] = record;
        m_byName[key] = record;
    } catch (const std::bad_alloc &) {
        m_records.erase(animation);
        delete record;
        RwAnimAnimationDestroy(animation);
        return FALSE;
    }
    return TRUE;
}

// The whole file in one read: a file that cannot be read whole holds no animation.
RwAnimAnimation *CKivAnimManager::ReadAnimation(const char *path) const
{
    CParcelBase *parcel = m_parcel;
    if (!parcel && CKivBase::GetInstance())
        parcel = CKivBase::GetInstance()->GetParcel();
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    if (KivReadWholeFile(parcel, path, bytes, &size) != kKivReadOk)
        return nullptr;
    RwMemory memory = {bytes.get(), size};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    if (!stream)
        return nullptr;
    RwAnimAnimation *animation = nullptr;
    if (RwStreamFindChunk(stream, rwID_ANIMANIMATION, nullptr, nullptr))
        animation = RwAnimAnimationStreamRead(stream);
    RwStreamClose(stream, nullptr);
    // Motions drive skeletons: keyframes of another scheme (texture
    // coordinates, say) are no motion.
    if (animation && animation->interpInfo->typeID != rwHANIMKEYFRAMESCHEME) {
        RwAnimAnimationDestroy(animation);
        return nullptr;
    }
    return animation;
}

RwAnimAnimation *CKivAnimManager::GetAnimation(const char *name)
{
    std::string key;
    if (!NameKey(name, key))
        return nullptr;
    EngineLock lock;
    if (RwAnimAnimation *animation = FindAnimation(name))
        return animation;
    // The caller's letter case goes into the path; the key is lower case.
    char path[kNameBufferSize];
    const int length = snprintf(path, sizeof(path), "%s%s%s", kMotionFolder, name, kMotionExtension);
    if (length < 0 || length >= kNameBufferSize || !LoadAnimation(path, name))
        return nullptr;
    return FindAnimation(name);
}

RwAnimAnimation *CKivAnimManager::FindAnimation(const char *name) const
{
    std::string key;
    if (!NameKey(name, key))
        return nullptr;
    EngineLock lock;
    auto found = m_byName.find(key);
    return found == m_byName.end() ? nullptr : found->second->animation;
}

BOOL CKivAnimManager::RemoveAnimation(const char *name)
{
    std::string key;
    if (!NameKey(name, key))
        return FALSE;
    EngineLock lock;
    auto found = m_byName.find(key);
    if (found == m_byName.end())
        return FALSE;
    Record *record = found->second;
    if (!record->animation) {
        char text[kNameBufferSize + 64];
        snprintf(text, sizeof(text), ">>>>>>>>>> You can't remove the animation(%s)!!!\n", name);
        OutputDebugStringA(text);
        return FALSE;
    }
    if (--record->references == 0) {
        m_byName.erase(found);
        DestroyIfUnused(record);
    }
    return TRUE;
}

BOOL CKivAnimManager::RemoveAllAnimations()
{
    EngineLock lock;
    for (auto &entry : m_records) {
        RwAnimAnimationDestroy(entry.second->animation);
        delete entry.second;
    }
    m_records.clear();
    m_byName.clear();
    return TRUE;
}

void CKivAnimManager::DestroyIfUnused(Record *record)
{
    if (record->references > 0 || record->holds > 0)
        return;
    m_records.erase(record->animation);
    RwAnimAnimationDestroy(record->animation);
    delete record;
}

int CKivAnimManager::HoldAnimation(RwAnimAnimation *animation)
{
    EngineLock lock;
    auto found = m_records.find(animation);
    if (found == m_records.end())
        return 0;
    found->second->holds++;
    return 1;
}

int CKivAnimManager::DropAnimation(RwAnimAnimation *animation)
{
    EngineLock lock;
    auto found = m_records.find(animation);
    if (found == m_records.end() || found->second->holds == 0)
        return 0;
    found->second->holds--;
    DestroyIfUnused(found->second);
    return 1;
}

int CKivAnimManager::GetHoldCount(const RwAnimAnimation *animation) const
{
    EngineLock lock;
    auto found = m_records.find(animation);
    return found == m_records.end() ? 0 : found->second->holds;
}

RwAnimAnimation *CKivAnimManager::TakeAnimation(const char *name)
{
    EngineLock lock;
    RwAnimAnimation *animation = GetAnimation(name);
    return animation && HoldAnimation(animation) ? animation : nullptr;
}
