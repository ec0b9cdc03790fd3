// Toon set-up: dictionaries read through the archive, toon rendering put on and taken off atomics.
#include "engine/CKivToon.h"

#include <memory>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/CKivClump.h"
#include "engine/KivEngineLock.h"
#include "engine/KivFileRead.h"
#include "gfx/core/image.h"
#include "gfx/core/stream.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"

namespace {

enum : RwInt32 { kToonTextureReadMode = 1 };

// Reads the whole file through the engine's archive and hands a memory stream over it to read.
template <typename Dictionary>
Dictionary *ReadDictionary(const char *name, Dictionary *(*read)(RwStream *))
{
    CKivBase *base = CKivBase::GetInstance();
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    if (!base || KivReadWholeFile(base->GetParcel(), name, bytes, &size) != kKivReadOk) {
        return nullptr;
    }
    RwMemory memory = {bytes.get(), size};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    if (!stream) {
        return nullptr;
    }
    Dictionary *dictionary = read(stream);
    RwStreamClose(stream, nullptr);
    return dictionary;
}

// Toon data on a visible atomic's geometry, or NULL when set-up leaves it alone.
RwToonGeo *ToonOf(RwAtomic *atomic)
{
    if (atomic->renderCallBack == CKivClump::NullRenderCallBack || !atomic->geometry) {
        return nullptr;
    }
    return RwToonGeometryGetToonGeo(atomic->geometry);
}

// Plain geometry goes on the toon pipeline; skinned geometry switches only from the plain skin type.
void Enable(RwAtomic *atomic)
{
    if (!RwSkinGeometryGetSkin(atomic->geometry)) {
        RwToonAtomicEnable(atomic);
    } else if (RwSkinAtomicGetType(atomic) == rwSKINTYPEGENERIC) {
        RwSkinAtomicSetType(atomic, rwSKINTYPETOON);
    }
}

} // namespace

CKivToon::CKivToon() : m_inks(nullptr), m_paints(nullptr) {}

CKivToon::~CKivToon()
{
    EngineLock lock;
    Release();
}

void CKivToon::Release()
{
    EngineLock lock;
    if (m_inks) {
        RwToonInkDictionaryDestroy(m_inks);
        m_inks = nullptr;
    }
    if (m_paints) {
        RwToonPaintDictionaryDestroy(m_paints);
        m_paints = nullptr;
    }
}

// The read mode and image path are set and put back under one hold of the
// lock: no other thread's read sees them.
int CKivToon::Load(const char *inkFile, const char *paintFile, const char *texturePath)
{
    EngineLock lock;
    if (lock.Refused())
        return 0;
    // A second load replaces the first look instead of leaking it.
    Release();
    const int savedMode = CKivBase::GetTextureReadMode();
    CKivBase::SetTextureReadMode(kToonTextureReadMode);
    int ok = 1;
    if (inkFile) {
        m_inks = ReadDictionary(inkFile, RwToonInkDictionaryStreamRead);
        ok = m_inks != nullptr;
    }
    if (ok && paintFile) {
        RwImageSetPath(texturePath ? texturePath : "");
        m_paints = ReadDictionary(paintFile, RwToonPaintDictionaryStreamRead);
        ok = m_paints != nullptr;
    }
    CKivBase::SetTextureReadMode(savedMode);
    return ok;
}

RwAtomic *CKivToon::ApplyInks(RwAtomic *atomic, void *data)
{
    const CKivToon *self = static_cast<const CKivToon *>(data);
    if (RwToonGeo *toon = ToonOf(atomic)) {
        Enable(atomic);
        RwToonGeoApplyInkDictionary(toon, self->m_inks);
    }
    return atomic;
}

RwAtomic *CKivToon::ApplyPaints(RwAtomic *atomic, void *data)
{
    const CKivToon *self = static_cast<const CKivToon *>(data);
    if (RwToonGeo *toon = ToonOf(atomic)) {
        Enable(atomic);
        RwToonGeoApplyPaintDictionary(toon, self->m_paints);
    }
    return atomic;
}

RwAtomic *CKivToon::Remove(RwAtomic *atomic, void *)
{
    if (!ToonOf(atomic)) {
        return atomic;
    }
    atomic->renderCallBack = RwAtomicDefaultRenderCallBack;
    if (!RwSkinGeometryGetSkin(atomic->geometry)) {
        atomic->pipeline = nullptr;
    } else {
        RwSkinAtomicSetType(atomic, rwSKINTYPEGENERIC);
    }
    return atomic;
}

int CKivToon::ApplyToClump(CKivClump *clump)
{
    return ApplyToClump(clump ? clump->GetClump() : nullptr);
}

int CKivToon::RemoveFromClump(CKivClump *clump)
{
    return RemoveFromClump(clump ? clump->GetClump() : nullptr);
}

int CKivToon::ApplyToClump(RwClump *clump)
{
    if (clump && m_inks) {
        RwClumpForAllAtomics(clump, ApplyInks, this);
    }
    if (clump && m_paints) {
        RwClumpForAllAtomics(clump, ApplyPaints, this);
    }
    return 1;
}

int CKivToon::RemoveFromClump(RwClump *clump)
{
    if (clump) {
        RwClumpForAllAtomics(clump, Remove, nullptr);
    }
    return 1;
}

int CKivToon::ApplyToAtomic(RwAtomic *atomic)
{
    if (atomic) {
        if (m_inks) {
            ApplyInks(atomic, this);
        }
        if (m_paints) {
            ApplyPaints(atomic, this);
        }
    }
    return 1;
}

int CKivToon::RemoveFromAtomic(RwAtomic *atomic)
{
    if (atomic) {
        Remove(atomic, nullptr);
    }
    return 1;
}
