// One avatar atomic: a model atomic with the name of the frame it belongs on and its display colouring.
#include "engine/CKivAvatarAtomic.h"

#include <cstdint>
#include <vector>

#include "engine/CKivBase.h"
#include "engine/CKivClump.h"
#include "engine/KivNames.h"
#include "engine/KivUserData.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"

CKivAvatarAtomic::CKivAvatarAtomic() : m_atomic(nullptr), m_displayMode(0), m_flag(0) {}

CKivAvatarAtomic::~CKivAvatarAtomic()
{
    if (!m_atomic)
        return;
    if (m_atomic->clump)
        RwClumpRemoveAtomic(m_atomic->clump, m_atomic);
    CKivBase *base = CKivBase::GetInstance();
    if (base)
        base->BeginTextureUpdate();
    RwAtomicDestroy(m_atomic);
    if (base)
        base->EndTextureUpdate();
}

RwMaterial *CKivAvatarAtomic::UseDirtyTexture(RwMaterial *material, void *data)
{
    CKivBase *base = CKivBase::GetInstance();
    if (!material || reinterpret_cast<intptr_t>(data) <= 0 || !base)
        return material;
    RwTexture *dirty = base->ReadTexture("dirty", "Data/Interface/Dummy/");
    if (!dirty)
        return material;
    RwMaterialSetTexture(material, dirty);
    // The material keeps its own reference; the read's goes.
    RwTextureDestroy(dirty);
    return material;
}

int CKivAvatarAtomic::DisplayAlpha(int displayMode, int flag, int resetColor)
{
    if (flag)
        return displayMode == 1 ? 1 : 254;
    if (displayMode == 1)
        return 100;
    if (displayMode == 0)
        return resetColor ? 255 : -1;
    return resetColor ? 255 : 100;
}

void CKivAvatarAtomic::Colour(RwAtomic *atomic, int alpha)
{
    RwGeometry *geometry = atomic ? atomic->geometry : nullptr;
    if (!geometry || alpha < 0)
        return;
    geometry->flags |= rwGEOMETRYMODULATEMATERIALCOLOR;
    for (RwInt32 i = 0; i < geometry->matList.numMaterials; i++) {
        if (RwMaterial *material = geometry->matList.materials[i])
            material->color = {255, 255, 255, static_cast<RwUInt8>(alpha)};
    }
    if (!AtomicGetSavedRenderCallBack(atomic)) {
        if (alpha >= 1 && alpha <= 254)
            CKivClump::SetupAlphaAtomic(atomic);
    } else if (alpha == 255 && !(CKivClump::GetAlphaFlags(atomic) & 1)) {
        AtomicRestoreRenderCallBack(atomic);
    }
}

int CKivAvatarAtomic::SetFrameName(const char *name)
{
    return KivSetText(&m_frameName, name) ? 1 : 0;
}

void CKivAvatarAtomic::ForParts(RwClump *clump, void (*make)(RwAtomic *, const char *, void *), void *data)
{
    // Collected first: make may change the clump.
    std::vector<RwAtomic *> parts;
    if (clump) {
        RwClumpForAllAtomics(
            clump,
            [](RwAtomic *atomic, void *list) {
                const RwFrame *frame = RwAtomicGetFrame(atomic);
                if (atomic->geometry && KivGeometryFirstString(atomic->geometry) && !KivIsBoneShape(atomic) &&
                    frame && KivFrameFirstString(frame))
                    static_cast<std::vector<RwAtomic *> *>(list)->push_back(atomic);
                return atomic;
            },
            &parts);
    }
    for (RwAtomic *atomic : parts)
        make(atomic, KivFrameFirstString(RwAtomicGetFrame(atomic)), data);
}

void CKivAvatarAtomic::SetDisplayFlags(int displayMode, int flag)
{
    m_displayMode = displayMode;
    m_flag = flag;
    Colour(m_atomic, DisplayAlpha(displayMode, flag, 0));
}
