// The clump's render callbacks: transparent atomics defer themselves to the alpha manager, bone shapes draw nothing.
#include "engine/CKivClump.h"

#include "engine/CKivAlphaManager.h"
#include "engine/CKivBase.h"
#include "engine/KivUserData.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"

enum : RwUInt32 { kStaleSphere = 2 };   // the atomic's interpolator flag

static void Switch(RwAtomic *atomic, RwUInt32 flags)
{
    // A clone sharing the geometry may have left its array: reuse it.
    RwUserDataArray *array = KivGeometryFindIntArray(atomic->geometry, "render", 2, nullptr);
    if (!array) {
        const RwInt32 index = RwUserDataGeometryAddArray(atomic->geometry, "render", rwUSERDATAINT, 2);
        array = index >= 0 ? RwUserDataGeometryGetArray(atomic->geometry, index) : nullptr;
        if (!array)
            return;
    }
    RwUserDataArraySetElement(array, 0, KivRenderCallBackIndex(atomic->renderCallBack));
    RwUserDataArraySetElement(array, 1, flags);
    atomic->renderCallBack = CKivClump::AlphaRenderCallBack;
}

RwAtomic *CKivClump::SetupAlphaAtomic(RwAtomic *atomic)
{
    RwGeometry *geometry = atomic ? atomic->geometry : nullptr;
    if (!geometry || atomic->renderCallBack == AlphaRenderCallBack)
        return atomic;
    if (RwParticleAtomicGetEmitter(atomic)) {
        Switch(atomic, 0);
        return atomic;
    }
    if (geometry->matList.numMaterials < 1 || !geometry->matList.materials[0])
        return atomic;
    const RwMaterial *first = geometry->matList.materials[0];
    const int kind = KivTransparentNameKind(KivMaterialFirstString(first));
    if (kind)
        Switch(atomic, kind == 2 ? 1 : 0);
    else if (first->color.alpha >= 1 && first->color.alpha <= 254)
        Switch(atomic, 0);
    return atomic;
}

static RwAtomic *SetupOne(RwAtomic *atomic, void *)
{
    return CKivClump::SetupAlphaAtomic(atomic);
}

static RwAtomic *RestoreOne(RwAtomic *atomic, void *)
{
    return CKivClump::RestoreAlphaAtomic(atomic);
}

void CKivClump::SetupAlphaAtomics()
{
    if (m_clump)
        RwClumpForAllAtomics(m_clump, SetupOne, nullptr);
}

RwAtomic *CKivClump::RestoreAlphaAtomic(RwAtomic *atomic)
{
    AtomicRestoreRenderCallBack(atomic);
    return atomic;
}

void CKivClump::RestoreAlphaAtomics()
{
    if (m_clump)
        RwClumpForAllAtomics(m_clump, RestoreOne, nullptr);
}

int CKivClump::GetAlphaFlags(RwAtomic *atomic)
{
    const RwUserDataArray *array = atomic ? KivGeometryFindIntArray(atomic->geometry, "render", 2, nullptr) : nullptr;
    return array ? static_cast<int>(RwUserDataArrayGetElement(array, 1)) : 0;
}

void CKivClump::SetAlphaAttribute(int flags)
{
    if (!m_clump)
        return;
    RwClumpForAllAtomics(
        m_clump,
        [](RwAtomic *atomic, void *data) {
            RwUserDataArray *array = KivGeometryFindIntArray(atomic->geometry, "render", 2, nullptr);
            if (array)
                RwUserDataArraySetElement(array, 1, static_cast<RwUInt32>(*static_cast<int *>(data)));
            return atomic;
        },
        &flags);
}

RwAtomic *CKivClump::AlphaRenderCallBack(RwAtomic *atomic)
{
    CKivBase *base = CKivBase::GetInstance();
    CKivAlphaManager *manager = base ? base->GetAlphaManager() : nullptr;
    RwCamera *camera = RwEngineInstance ? RwEngineInstance->curCamera : nullptr;
    RwFrame *frame = RwAtomicGetFrame(atomic);
    if (!manager || !camera || !RwCameraGetFrame(camera) || !frame)
        return atomic;
    if (atomic->interpolator.flags & kStaleSphere)
        RwAtomicUpdateBoundingSphere(atomic);
    RwV3d centre, delta;
    RwV3dTransformPoint(&centre, &atomic->boundingSphere.center, RwFrameGetWorldMatrix(frame));
    RwV3dSub(&delta, &centre, &RwFrameGetWorldMatrix(RwCameraGetFrame(camera))->pos);
    manager->Add(atomic, RwV3dDotProduct(&delta, &delta));
    return atomic;
}

RwAtomic *CKivClump::NullRenderCallBack(RwAtomic *atomic)
{
    return atomic;
}

void CKivClump::HideBoneShapes()
{
    if (!m_clump)
        return;
    RwClumpForAllAtomics(
        m_clump,
        [](RwAtomic *atomic, void *) {
            if (KivIsBoneShape(atomic))
                atomic->renderCallBack = CKivClump::NullRenderCallBack;
            return atomic;
        },
        nullptr);
}
