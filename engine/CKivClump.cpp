// The engine's model object: loading, cloning, transforms, named parts, colours, particles and screen positions.
#include "engine/CKivClump.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/CKivBehaviorManager.h"
#include "engine/KivEngineLock.h"
#include "engine/KivPreparedTextures.h"
#include "engine/CKivCamera.h"
#include "engine/CKivShadow.h"
#include "engine/CKivTextureTrailer.h"
#include "engine/CKivToon.h"
#include "engine/CKivUVAnim.h"
#include "engine/CKivWorld.h"
#include "engine/KivDebug.h"
#include "engine/KivFileRead.h"
#include "engine/KivNames.h"
#include "engine/KivUserData.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/matrix.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "gfx/world/worldids.h"

namespace {

RwFrame *RootFrame(RwClump *clump)
{
    return clump ? RwClumpGetFrame(clump) : nullptr;
}

void MarkChanged(RwFrame *frame)
{
    RwMatrixMarkChanged(RwFrameGetMatrix(frame));
}

// Every atomic of the clump, taken before a callback may change the list.
std::vector<RwAtomic *> Atomics(RwClump *clump)
{
    std::vector<RwAtomic *> atomics;
    if (clump) {
        RwClumpForAllAtomics(
            clump,
            [](RwAtomic *atomic, void *data) {
                static_cast<std::vector<RwAtomic *> *>(data)->push_back(atomic);
                return atomic;
            },
            &atomics);
    }
    return atomics;
}

// Every atomic of the clump, for a visit that leaves the list as it is: a
// plain walk allocates nothing, so it cannot run out of memory.
template <typename Visit>
void ForAtomics(RwClump *clump, Visit visit)
{
    if (!clump)
        return;
    RwClumpForAllAtomics(
        clump,
        [](RwAtomic *atomic, void *data) {
            (*static_cast<Visit *>(data))(atomic);
            return atomic;
        },
        &visit);
}

// Depth first from the frame, children before siblings.
RwFrame *FindFrameFrom(RwFrame *frame, const char *name)
{
    for (; frame; frame = frame->next) {
        const char *own = KivFrameFirstString(frame);
        if (own && !strcmp(own, name))
            return frame;
        if (RwFrame *found = FindFrameFrom(frame->child, name))
            return found;
    }
    return nullptr;
}

RwHAnimHierarchy *FindHierarchyFrom(RwFrame *frame)
{
    for (; frame; frame = frame->next) {
        if (RwHAnimHierarchy *hierarchy = RwHAnimFrameGetHierarchy(frame))
            return hierarchy;
        if (RwHAnimHierarchy *found = FindHierarchyFrom(frame->child))
            return found;
    }
    return nullptr;
}

void NormaliseAxes(RwMatrix *m)
{
    RwV3dNormalize(&m->right, &m->right);
    RwV3dNormalize(&m->up, &m->up);
    RwV3dNormalize(&m->at, &m->at);
}

void ScaleFrame(RwFrame *frame, const RwV3d *scale)
{
    RwMatrix *m = RwFrameGetMatrix(frame);
    NormaliseAxes(m);
    RwMatrixScale(m, scale, rwCOMBINEPRECONCAT);
}

void CopyPoseFrom(RwFrame *to, RwFrame *from)
{
    for (; to && from; to = to->next, from = from->next) {
        to->modelling = from->modelling;
        to->ltm = from->ltm;
        RwMatrixMarkChanged(&to->modelling);
        RwMatrixMarkChanged(&to->ltm);
        CopyPoseFrom(to->child, from->child);
    }
}

// A clump changes its atomics outside its world, then goes back in.
template <typename Change>
void OutsideWorld(RwClump *clump, Change change)
{
    RwWorld *world = RwClumpGetWorld(clump);
    if (world)
        RwWorldRemoveClump(world, clump);
    change();
    if (world)
        RwWorldAddClump(world, clump);
}

} // namespace

CKivClump::CKivClump()
{
    Init(nullptr);
}

CKivClump::CKivClump(const char *name)
{
    Init(name);
}

void CKivClump::Init(const char *name)
{
    KivSetObjectName(&m_name, this, name);
    m_clump = nullptr;
    m_current = m_queue.end();
    m_hierarchy = nullptr;
    m_blendA = m_blendB = nullptr;
    m_playing[0] = m_playing[1] = m_playing[2] = nullptr;
    m_particleTime = 0.0f;
    m_toon = nullptr;
    m_shadow = nullptr;
    m_queueIdle = 1;
    m_shadowEnabled = 1;
    memset(m_typeName, 0, sizeof(m_typeName));
    m_world = nullptr;
    // Without memory for it the clump has no behaviours, and says so.
    m_behaviors = new (std::nothrow) CKivBehaviorManager;
}

// Under the render lock, as a load is: a clump may go on a loading thread,
// and a frame in progress draws it (or a shadow of it) whole.
CKivClump::~CKivClump()
{
    EngineLock lock;
    Destroy();
    CKivShadow::ForgetClump(this);
}

void CKivClump::Destroy()
{
    delete m_behaviors;
    m_behaviors = nullptr;
    ReleaseModel();
}

void CKivClump::ReleaseModel()
{
    ReleaseBoundMaterials();
    m_shadowEnabled = 1;
    DestroyShadow();
    ReleaseAnimation();
    if (!m_clump)
        return;
    RwWorld *graphicsWorld = RwClumpGetWorld(m_clump);
    if (graphicsWorld || m_world)
        KivDebugPrintf(">>>>>>>>>> You must remove the clump(%s:%s) from the world!!!\n", m_typeName, m_name.c_str());
    // Neither world may keep pointing at what is destroyed here.
    if (m_world)
        m_world->RemoveClump(this);
    if ((graphicsWorld = RwClumpGetWorld(m_clump)) != nullptr)
        RwWorldRemoveClump(graphicsWorld, m_clump);
    CKivBase *base = CKivBase::GetInstance();
    if (base)
        base->BeginTextureUpdate();
    RwClumpDestroy(m_clump);
    if (base)
        base->EndTextureUpdate();
    m_clump = nullptr;
    m_hierarchy = nullptr;
}

void CKivClump::ReleaseAnimation()
{
    ClearQueue();
    if (m_blendA)
        RwFree(m_blendA);
    if (m_blendB)
        RwFree(m_blendB);
    m_blendA = m_blendB = nullptr;
    m_nodeScales.clear();
}

// Without memory for the new name the old one stays.
void CKivClump::SetName(const char *name)
{
    KivSetObjectName(&m_name, this, name ? name : "");
}

void CKivClump::SetTypeName(const char *typeName)
{
    memset(m_typeName, 0, sizeof(m_typeName));
    if (typeName)
        strncpy(m_typeName, typeName, sizeof(m_typeName) - 1);
}

// The file is read, and the pictures its textures name decoded, before the
// render lock is taken: frames go on meanwhile.
int CKivClump::Load(const char *fileName, const char *imagePath)
{
    EngineLoad load;
    if (load.Refused())
        return 0;
    CKivBase *base = CKivBase::GetInstance();
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    const KivReadStatus status = KivReadWholeFile(base ? base->GetParcel() : nullptr, fileName, bytes, &size);
    KivPreparedTextures prepared;
    prepared.WantStream(bytes.get(), size, imagePath ? imagePath : "");
    prepared.Decode(nullptr, 1);
    EngineLock lock;
    m_particleTime = 0.0f;
    RwImageSetPath(imagePath ? imagePath : "");
    if (status == kKivReadMissing) {
        if (FILE *log = fopen("Object.txt", "a")) {
            fprintf(log, "%s\n", fileName ? fileName : "");
            fclose(log);
        }
        return 0;
    }
    if (status != kKivReadOk)
        return 0;
    RwMemory memory = {bytes.get(), size};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    if (!stream)
        return 0;
    RwClump *clump = nullptr;
    if (RwStreamFindChunk(stream, rwID_CLUMP, nullptr, nullptr))
        clump = RwClumpStreamRead(stream);
    RwStreamClose(stream, nullptr);
    if (!clump)
        return 0;

    ReleaseModel();
    m_clump = clump;
    // A model file's own "render" arrays are never trusted.
    ForAtomics(m_clump, [](RwAtomic *atomic) { KivGeometryDropRenderArrays(atomic->geometry); });
    HideBoneShapes();
    m_hierarchy = FindHierarchy(m_clump);
    SetupHierarchy(1);
    SetupAlphaAtomics();
    WriteClumpUserData();
    SyncParticleFrames();
    return 1;
}

// Until a motion plays, the bones hold the pose the model's frames give, so a
// skinned model drawn before its first update shows that pose, not a collapse.
static void PoseBonesFromFrames(RwHAnimHierarchy *h)
{
    if (!h->pMatrixArray || (h->flags & rwHANIMHIERARCHYNOMATRICES))
        return;
    // Local-space matrices stop at the hierarchy's own frame; others reach the top.
    const RwFrame *top = (h->flags & rwHANIMHIERARCHYLOCALSPACEMATRICES) && h->parentFrame
                             ? RwFrameGetParent(h->parentFrame)
                             : nullptr;
    for (RwInt32 i = 0; i < h->numNodes; i++) {
        RwFrame *frame = h->pNodeInfo[i].pFrame;
        if (!frame)
            continue;
        RwMatrix pose = frame->modelling;
        for (RwFrame *p = RwFrameGetParent(frame); p && p != top; p = RwFrameGetParent(p)) {
            RwMatrix m;
            RwMatrixMultiply(&m, &pose, &p->modelling);
            pose = m;
        }
        h->pMatrixArray[i] = pose;
    }
}

void CKivClump::SetupHierarchy(int nodeScales)
{
    if (!m_hierarchy)
        return;
    m_hierarchy->flags |= rwHANIMHIERARCHYUPDATEMODELLINGMATRICES;
    RwHAnimHierarchyAttach(m_hierarchy);
    PoseBonesFromFrames(m_hierarchy);
    ForAtomics(m_clump, [this](RwAtomic *atomic) { RwSkinAtomicSetHAnimHierarchy(atomic, m_hierarchy); });
    const RwInt32 keyFrameSize = m_hierarchy->currentAnim ? m_hierarchy->currentAnim->maxInterpKeyFrameSize
                                                          : static_cast<RwInt32>(sizeof(RwHAnimInterpFrame));
    if (!m_blendA)
        m_blendA = RwAnimInterpolatorCreate(m_hierarchy->numNodes, keyFrameSize);
    if (!m_blendB)
        m_blendB = RwAnimInterpolatorCreate(m_hierarchy->numNodes, keyFrameSize);
    if (nodeScales)
        InitNodeScales();
}

void CKivClump::WriteClumpUserData()
{
    RwFrame *root = RootFrame(m_clump);
    if (!root)
        return;
    RwUserDataArray *array = KivFrameFindIntArray(root, "KivClump", 1);
    if (!array) {
        const RwInt32 index = RwUserDataFrameAddArray(root, "KivClump", rwUSERDATAINT, 1);
        array = index >= 0 ? RwUserDataFrameGetArray(root, index) : nullptr;
    }
    if (array)
        RwUserDataArraySetElement(array, 0, static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(this)));
}

int CKivClump::SetClump(RwClump *clump)
{
    EngineLock lock;
    if (!clump)
        return 0;
    ReleaseModel();
    m_clump = clump;
    m_hierarchy = FindHierarchy(m_clump);
    SetupHierarchy(0);
    WriteClumpUserData();
    return 1;
}

int CKivClump::Clone(CKivClump *source)
{
    return CloneFrom(source, 0);
}

int CKivClump::CloneWithOwnGeometry(CKivClump *source)
{
    return CloneFrom(source, 1);
}

int CKivClump::CloneFrom(CKivClump *source, int ownGeometry)
{
    EngineLock lock;
    if (!source || !source->m_clump || source == this)
        return 0;
    RwClump *original = source->m_clump;
    RwClump *copy = nullptr;
    OutsideWorld(original, [&] { copy = RwClumpClone(original); });
    if (!copy)
        return 0;
    if (ownGeometry) {
        ForAtomics(copy, [](RwAtomic *atomic) {
            RwGeometry *geometry = atomic->geometry ? CopyGeometry(atomic->geometry) : nullptr;
            if (geometry) {
                RwAtomicSetGeometry(atomic, geometry, 0);
                RwGeometryDestroy(geometry);
            }
        });
    }
    ReleaseModel();
    m_clump = copy;
    m_particleTime = 0.0f;
    m_hierarchy = FindHierarchy(m_clump);
    if (RwFrame *root = RootFrame(m_clump))
        RwFrameTransform(root, RwFrameGetWorldMatrix(RootFrame(original)), rwCOMBINEREPLACE);
    SetupHierarchy(1);
    m_toon = source->m_toon;
    WriteClumpUserData();
    return 1;
}

RwGeometry *CKivClump::CopyGeometry(RwGeometry *geometry)
{
    if (!geometry)
        return nullptr;
    RwMemory memory = {nullptr, 0};
    RwStream *out = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, &memory);
    if (!out)
        return nullptr;
    const bool written = RwGeometryStreamWrite(geometry, out) != nullptr;
    RwStreamClose(out, &memory);
    RwGeometry *copy = nullptr;
    RwStream *in = written && memory.start ? RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory) : nullptr;
    if (in) {
        if (RwStreamFindChunk(in, rwID_GEOMETRY, nullptr, nullptr))
            copy = RwGeometryStreamRead(in);
        RwStreamClose(in, nullptr);
    }
    if (memory.start)
        RwFree(memory.start);
    return copy;
}

CKivClump *CKivClump::FromClump(RwClump *clump)
{
    const RwUserDataArray *array = KivFrameFindIntArray(RootFrame(clump), "KivClump", 1);
    return array ? reinterpret_cast<CKivClump *>(static_cast<uintptr_t>(RwUserDataArrayGetElement(array, 0)))
                 : nullptr;
}

RwHAnimHierarchy *CKivClump::FindHierarchy(RwClump *clump)
{
    RwFrame *root = RootFrame(clump);
    return root ? FindHierarchyFrom(root->child) : nullptr;
}

// Transforms.

void CKivClump::SetPosition(const RwV3d *position)
{
    if (RwFrame *root = RootFrame(m_clump)) {
        RwFrameGetMatrix(root)->pos = *position;
        MarkChanged(root);
    }
}

void CKivClump::SetRotation(const RwV3d *axis, float degrees)
{
    if (RwFrame *root = RootFrame(m_clump)) {
        RwMatrix *m = RwFrameGetMatrix(root);
        const RwV3d position = m->pos;
        RwMatrixRotate(m, axis, degrees, rwCOMBINEREPLACE);
        m->pos = position;
        MarkChanged(root);
    }
}

void CKivClump::Rotate(const RwV3d *axis, float degrees)
{
    if (RwFrame *root = RootFrame(m_clump)) {
        RwMatrixRotate(RwFrameGetMatrix(root), axis, degrees, rwCOMBINEPRECONCAT);
        MarkChanged(root);
    }
}

void CKivClump::SetScale(const RwV3d *scale)
{
    if (RwFrame *root = RootFrame(m_clump))
        ScaleFrame(root, scale);
}

void CKivClump::SetAtomicScale(const char *atomicName, const RwV3d *scale)
{
    RwAtomic *atomic = FindAtomic(atomicName);
    if (atomic && RwAtomicGetFrame(atomic))
        ScaleFrame(RwAtomicGetFrame(atomic), scale);
}

void CKivClump::SetAxisLengths(const RwV3d *lengths)
{
    if (RwFrame *root = RootFrame(m_clump)) {
        RwMatrix *m = RwFrameGetMatrix(root);
        NormaliseAxes(m);
        RwV3dScale(&m->right, &m->right, lengths->x);
        RwV3dScale(&m->up, &m->up, lengths->y);
        RwV3dScale(&m->at, &m->at, lengths->z);
    }
}

void CKivClump::Transform(const RwMatrix *matrix)
{
    if (RwFrame *root = RootFrame(m_clump))
        RwFrameTransform(root, matrix, rwCOMBINEREPLACE);
}

void CKivClump::Translate(const RwV3d *delta)
{
    if (RwFrame *root = RootFrame(m_clump))
        RwFrameTranslate(root, delta, rwCOMBINEPOSTCONCAT);
}

void CKivClump::Scale(const RwV3d *scale)
{
    if (RwFrame *root = RootFrame(m_clump))
        RwFrameScale(root, scale, rwCOMBINEPOSTCONCAT);
}

static void MoveAlong(RwFrame *root, const RwV3d *axis, float distance)
{
    RwMatrix *m = RwFrameGetMatrix(root);
    RwV3dIncrementScaled(&m->pos, axis, distance);
    RwMatrixMarkChanged(m);
}

void CKivClump::MoveForward(float distance)
{
    if (RwFrame *root = RootFrame(m_clump))
        MoveAlong(root, &RwFrameGetMatrix(root)->at, distance);
}

void CKivClump::MoveRight(float distance)
{
    if (RwFrame *root = RootFrame(m_clump))
        MoveAlong(root, &RwFrameGetMatrix(root)->right, distance);
}

void CKivClump::MoveUp(float distance)
{
    if (RwFrame *root = RootFrame(m_clump))
        MoveAlong(root, &RwFrameGetMatrix(root)->up, distance);
}

RwFrame *CKivClump::GetFirstChildFrame() const
{
    RwFrame *root = RootFrame(m_clump);
    return root ? root->child : nullptr;
}

RwMatrix *CKivClump::GetAtomicMatrix(const char *atomicName)
{
    RwAtomic *atomic = FindAtomic(atomicName);
    return atomic && RwAtomicGetFrame(atomic) ? RwFrameGetWorldMatrix(RwAtomicGetFrame(atomic)) : nullptr;
}

RwMatrix *CKivClump::GetFrameMatrix(const char *frameName)
{
    RwFrame *frame = FindFrame(frameName);
    return frame ? RwFrameGetWorldMatrix(frame) : nullptr;
}

void CKivClump::UpdateObjects()
{
    if (RwFrame *root = RootFrame(m_clump)) {
        MarkChanged(root);
        RwFrameMarkDirty(root);
    }
}

void CKivClump::CopyPose(CKivClump *source)
{
    if (source && RootFrame(m_clump) && RootFrame(source->m_clump))
        CopyPoseFrom(RootFrame(m_clump), RootFrame(source->m_clump));
}

// Named parts.

// A plain walk, no copy of the list: a search changes nothing, and the
// avatar's item attaching relies on it never running out of memory.
RwAtomic *CKivClump::FindAtomic(const char *name) const
{
    if (!name || !m_clump)
        return nullptr;
    struct Search {
        const char *name;
        RwAtomic *found;
    } search = {name, nullptr};
    RwClumpForAllAtomics(
        m_clump,
        [](RwAtomic *atomic, void *data) -> RwAtomic * {
            Search *s = static_cast<Search *>(data);
            const char *own = KivGeometryFirstString(atomic->geometry);
            if (own && !strcmp(own, s->name)) {
                s->found = atomic;
                return nullptr;
            }
            return atomic;
        },
        &search);
    return search.found;
}

RwFrame *CKivClump::FindFrame(const char *name) const
{
    RwFrame *root = RootFrame(m_clump);
    return root && name ? FindFrameFrom(root->child, name) : nullptr;
}

int CKivClump::AttachAtomic(RwAtomic *atomic, RwFrame *frame)
{
    EngineLock lock;
    if (!atomic || atomic->clump || !m_clump)
        return 1;
    OutsideWorld(m_clump, [&] {
        RwAtomicSetFrame(atomic, frame);
        RwSkinAtomicSetHAnimHierarchy(atomic, m_hierarchy);
        RwClumpAddAtomic(m_clump, atomic);
    });
    return 1;
}

int CKivClump::DetachAtomic(RwAtomic *atomic)
{
    EngineLock lock;
    if (!atomic || !atomic->clump)
        return 1;
    RwClump *owner = atomic->clump;
    OutsideWorld(owner, [&] { RwClumpRemoveAtomic(owner, atomic); });
    return 1;
}

int CKivClump::AdoptAtomics(CKivClump *other)
{
    EngineLock lock;
    if (!other || !other->m_clump || !m_clump)
        return 1;
    std::vector<RwAtomic *> atomics;
    try {
        atomics = Atomics(other->m_clump);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    for (RwAtomic *atomic : atomics) {
        if (KivIsBoneShape(atomic))
            continue;
        RwFrame *frame = FindFrame(KivFrameFirstString(RwAtomicGetFrame(atomic)));
        if (!frame)
            continue;
        RwClumpRemoveAtomic(other->m_clump, atomic);
        RwAtomicSetFrame(atomic, frame);
        RwSkinAtomicSetHAnimHierarchy(atomic, m_hierarchy);
        RwClumpAddAtomic(m_clump, atomic);
    }
    return 1;
}

// Materials and colour.

// rgb: colour without alpha; alpha >= 0: alpha only; else the whole colour.
// Clones share their materials with the model a loading thread may be cloning.
void CKivClump::SetMaterials(RwAtomic *atomic, const RwRGBA *colour, int rgb, int alpha)
{
    EngineLock lock;
    RwGeometry *geometry = atomic ? atomic->geometry : nullptr;
    if (!geometry)
        return;
    geometry->flags |= rwGEOMETRYMODULATEMATERIALCOLOR;
    for (RwInt32 i = 0; i < geometry->matList.numMaterials; i++) {
        RwMaterial *material = geometry->matList.materials[i];
        if (!material)
            continue;
        if (alpha >= 0) {
            material->color.alpha = static_cast<RwUInt8>(alpha);
        } else {
            const RwUInt8 own = material->color.alpha;
            material->color = *colour;
            if (rgb)
                material->color.alpha = own;
        }
    }
}

void CKivClump::SwitchByAlpha(int alpha)
{
    EngineLock lock;
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        if (RwParticleAtomicGetEmitter(atomic))
            return;
        if (!AtomicGetSavedRenderCallBack(atomic)) {
            if (alpha >= 1 && alpha <= 254)
                SetupAlphaAtomic(atomic);
        } else if (alpha == 255 && !(GetAlphaFlags(atomic) & 1)) {
            AtomicRestoreRenderCallBack(atomic);
        }
    });
}

void CKivClump::SetColor(const RwRGBA *colour)
{
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        if (!RwParticleAtomicGetEmitter(atomic))
            SetMaterials(atomic, colour, 0, -1);
    });
    SwitchByAlpha(colour->alpha);
}

void CKivClump::SetColorRGB(const RwRGBA *colour)
{
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        if (!RwParticleAtomicGetEmitter(atomic))
            SetMaterials(atomic, colour, 1, -1);
    });
}

void CKivClump::SetAlpha(int alpha)
{
    alpha = alpha < 0 ? 0 : alpha > 255 ? 255 : alpha;
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        if (!RwParticleAtomicGetEmitter(atomic))
            SetMaterials(atomic, nullptr, 0, alpha);
    });
    SwitchByAlpha(alpha);
}

void CKivClump::SetAtomicAlpha(RwAtomic *atomic, int alpha)
{
    SetMaterials(atomic, nullptr, 0, alpha < 0 ? 0 : alpha > 255 ? 255 : alpha);
}

void CKivClump::SetAtomicColor(RwAtomic *atomic, const RwRGBA *colour)
{
    SetMaterials(atomic, colour, 0, -1);
}

// A material shared by several atomics is met more than once: setting the
// same texture again changes nothing, and no list of those done is needed.
int CKivClump::SetMaterialTexture(const char *materialName, RwTexture *texture)
{
    EngineLock lock;
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        RwGeometry *geometry = atomic->geometry;
        for (RwInt32 i = 0; geometry && i < geometry->matList.numMaterials; i++) {
            RwMaterial *material = geometry->matList.materials[i];
            const char *own = KivMaterialFirstString(material);
            if (!material || !own || (materialName && strcmp(own, materialName)))
                continue;
            RwMaterialSetTexture(material, texture);
        }
    });
    return 1;
}

int CKivClump::SetTextureTrailer(const char *atomicName, CKivTextureTrailer *trailer)
{
    EngineLock lock;
    RwAtomic *atomic = atomicName ? FindAtomic(atomicName) : nullptr;
    RwGeometry *geometry = atomic ? atomic->geometry : nullptr;
    RwMaterial *material = geometry && geometry->matList.numMaterials > 0 ? geometry->matList.materials[0] : nullptr;
    RwTexture *texture = trailer ? trailer->GetCurrentTexture() : nullptr;
    if (!material || !texture)
        return 0;
    // The binding first, then its reference and the texture: memory running
    // out leaves the material as it was.
    auto bound = m_trailers.find(material);
    if (bound == m_trailers.end()) {
        try {
            m_trailers.emplace(material, trailer);
        } catch (const std::bad_alloc &) {
            return 0;
        }
        RwMaterialAddRef(material);
    } else {
        bound->second = trailer;
    }
    RwMaterialSetTexture(material, texture);
    return 1;
}

void CKivClump::RemoveTextureTrailer(CKivTextureTrailer *trailer)
{
    EngineLock lock;
    for (auto it = m_trailers.begin(); it != m_trailers.end();) {
        if (it->second != trailer) {
            ++it;
            continue;
        }
        RwMaterialDestroy(it->first);
        it = m_trailers.erase(it);
    }
}

int CKivClump::AddUVAnimMaterial(RwMaterial *material)
{
    try {
        if (m_uvMaterials.insert(material).second)
            RwMaterialAddRef(material);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

// A material that only this clump's own references keep alive has lost its
// atomic: it leaves both maps.
// Each update runs this: it erases in place, allocating nothing.
void CKivClump::DropOrphanMaterials()
{
    for (auto it = m_trailers.begin(); it != m_trailers.end();) {
        RwMaterial *material = it->first;
        const bool animated = m_uvMaterials.count(material) != 0;
        if (material->refCount > 1 + static_cast<int>(animated)) {
            ++it;
            continue;
        }
        it = m_trailers.erase(it);
        RwMaterialDestroy(material);
        if (animated) {
            m_uvMaterials.erase(material);
            RwMaterialDestroy(material);
        }
    }
    for (auto it = m_uvMaterials.begin(); it != m_uvMaterials.end();) {
        RwMaterial *material = *it;
        if (material->refCount > 1 || m_trailers.count(material)) {
            ++it;
            continue;
        }
        it = m_uvMaterials.erase(it);
        RwMaterialDestroy(material);
    }
}

void CKivClump::ReleaseBoundMaterials()
{
    for (const auto &bound : m_trailers)
        RwMaterialDestroy(bound.first);
    m_trailers.clear();
    for (RwMaterial *material : m_uvMaterials)
        RwMaterialDestroy(material);
    m_uvMaterials.clear();
}

int CKivClump::SetMaterialTextureByName(const char *materialName, const char *textureName)
{
    EngineLock lock;
    RwTextureDictionary *dict = RwTextureDictionaryGetCurrent();
    RwTexture *texture = dict && textureName ? RwTextureDictionaryFindTexture(dict, textureName) : nullptr;
    return texture ? SetMaterialTexture(materialName, texture) : 0;
}

void CKivClump::SetToon(CKivToon *toon)
{
    EngineLock lock;
    if (toon || m_toon) {
        RestoreAlphaAtomics();
        if (toon)
            toon->ApplyToClump(this);
        else
            m_toon->RemoveFromClump(this);
        SetupAlphaAtomics();
    }
    m_toon = toon;
}

int CKivClump::ApplyUVAnim(const char *atomicName, CKivUVAnim *uvAnim)
{
    EngineLock lock;
    RwAtomic *atomic = FindAtomic(atomicName);
    RwGeometry *geometry = atomic ? atomic->geometry : nullptr;
    RwMaterial *material = geometry && geometry->matList.numMaterials > 0 ? geometry->matList.materials[0] : nullptr;
    if (!material || !uvAnim)
        return 0;
    RwMaterialSetTexture(material, uvAnim->GetTexture());
    // A deferred transparent part stays deferred: the default is what it draws with.
    RwUserDataArray *array = KivGeometryFindIntArray(geometry, "render", 2, nullptr);
    if (atomic->renderCallBack == AlphaRenderCallBack && array)
        RwUserDataArraySetElement(array, 0, KivRenderCallBackIndex(RwAtomicDefaultRenderCallBack));
    else
        atomic->renderCallBack = RwAtomicDefaultRenderCallBack;
    if (uvAnim->GetAnimation() && !RwSkinGeometryGetSkin(geometry)) {
        RwMatFxAtomicEnableEffects(atomic);
        RwMatFxMaterialSetEffects(material, 5);
        if (RwUVAnimMaterialSetAnim(material, uvAnim->GetAnimation(), 0))
            return AddUVAnimMaterial(material);
    }
    return 1;
}

void CKivClump::CollectUVAnimMaterials()
{
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        RwGeometry *geometry = atomic->geometry;
        for (RwInt32 i = 0; geometry && i < geometry->matList.numMaterials; i++) {
            RwMaterial *material = geometry->matList.materials[i];
            if (material && RwUVAnimMaterialHasAnim(material))
                AddUVAnimMaterial(material);
        }
    });
}

// Particles, shadow, drawing.

float CKivClump::UpdateParticles(float dt)
{
    m_particleTime += dt;
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        if (RwParticleAtomicGetEmitter(atomic))
            RwParticleAtomicUpdate(atomic, &dt);
    });
    return m_particleTime;
}

void CKivClump::SyncParticleFrames()
{
    RwFrame *root = RootFrame(m_clump);
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        RwFrame *frame = RwAtomicGetFrame(atomic);
        if (RwParticleAtomicGetEmitter(atomic) && frame && frame != root)
            frame->modelling = root->modelling;
    });
}

int CKivClump::CreateShadow(CKivClump *shadowModel, float size)
{
    EngineLock lock;
    DestroyShadow();
    m_shadow = new (std::nothrow) CKivShadow;
    return m_shadow ? m_shadow->Set(this, shadowModel, size) : 0;
}

void CKivClump::DestroyShadow()
{
    EngineLock lock;
    delete m_shadow;
    m_shadow = nullptr;
}

void CKivClump::Render()
{
    if (m_clump)
        RwClumpRender(m_clump);
}

RwV2d CKivClump::GetAtomicScreenPosition(const char *atomicName)
{
    RwV2d result = {-1.0f, -1.0f};
    CKivCamera *camera = m_world ? m_world->GetCamera() : nullptr;
    RwAtomic *atomic = FindAtomic(atomicName);
    RwFrame *frame = atomic ? RwAtomicGetFrame(atomic) : nullptr;
    if (!camera || !camera->GetCamera() || !frame)
        return result;
    const RwSphere *sphere = RwAtomicGetWorldBoundingSphere(atomic);
    if (RwCameraFrustumTestSphere(camera->GetCamera(), sphere) == rwSPHEREOUTSIDE)
        return result;
    const RwMatrix *ltm = RwFrameGetWorldMatrix(frame);
    RwV3d point = ltm->pos, screen;
    RwV3dIncrementScaled(&point, &ltm->right, sphere->radius * 1.8f);
    camera->WorldToScreen(&screen, &point);
    result.x = screen.x;
    result.y = screen.y;
    return result;
}

RwV2d CKivClump::GetScreenPositionAbove(float height, float screenWidth, float screenHeight)
{
    RwV2d result = {-1.0f, -1.0f};
    CKivCamera *camera = m_world ? m_world->GetCamera() : nullptr;
    RwFrame *root = RootFrame(m_clump);
    if (!camera || !camera->GetCamera() || !root)
        return result;
    RwV3d point = RwFrameGetWorldMatrix(root)->pos, view;
    point.y += height;
    RwV3dTransformPoint(&view, &point, &camera->GetCamera()->viewMatrix);
    if (view.z == 0.0f)
        return result;
    result.x = screenWidth * view.x / view.z + 0.5f;
    result.y = screenHeight - screenHeight * view.y / view.z + 0.5f;
    return result;
}

// Bone scaling.

// Without memory for them the bones go unscaled: ApplyNodeScales needs six per node.
void CKivClump::InitNodeScales()
{
    m_nodeScales.clear();
    try {
        for (RwInt32 i = 0; m_hierarchy && i < m_hierarchy->numNodes; i++)
            m_nodeScales.insert(m_nodeScales.end(), {0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f});
    } catch (const std::bad_alloc &) {
        m_nodeScales.clear();
    }
}

int CKivClump::SetNodeScale(int node, float first, float second)
{
    if (!m_hierarchy || m_hierarchy->numNodes < 1 || m_queue.empty() || node < 0 ||
        static_cast<size_t>(node) * 6 >= m_nodeScales.size())
        return 0;
    m_nodeScales[node * 6 + 1] = first;
    m_nodeScales[node * 6 + 2] = second;
    ApplyNodeScales();
    return 1;
}

void CKivClump::ApplyNodeScales()
{
    RwAnimInterpolator *interpolator = m_hierarchy ? m_hierarchy->currentAnim : nullptr;
    if (!interpolator || !interpolator->pCurrentAnim ||
        m_nodeScales.size() < static_cast<size_t>(m_hierarchy->numNodes) * 6)
        return;
    // Room for the deepest nesting before any frame changes.
    std::vector<int> stack;
    try {
        stack.reserve(static_cast<size_t>(m_hierarchy->numNodes));
    } catch (const std::bad_alloc &) {
        return;
    }
    int parent = 0;
    for (RwInt32 i = 0; i < m_hierarchy->numNodes && i < interpolator->numNodes; i++) {
        RwHAnimInterpFrame *slot = static_cast<RwHAnimInterpFrame *>(RwAnimInterpolatorGetInterpFrame(interpolator, i));
        const float first = m_nodeScales[parent * 6 + 1], second = m_nodeScales[parent * 6 + 2];
        slot->t.x *= i == 0 ? second : first;
        slot->t.y *= i == 0 ? first : second;
        slot->t.z *= i == 0 ? first : second;
        const RwInt32 flags = m_hierarchy->pNodeInfo[i].flags;
        if (flags & rwHANIMPUSHPARENTMATRIX) {
            stack.push_back(parent);
        } else if (flags & rwHANIMPOPPARENTMATRIX) {
            if (!stack.empty()) {
                parent = stack.back();
                stack.pop_back();
            }
        } else {
            parent = i;
        }
    }
    RwHAnimHierarchyUpdateMatrices(m_hierarchy);
    // A hierarchy without its matrix array poses the node frames only.
    for (RwInt32 i = 0; m_hierarchy->pMatrixArray && i < m_hierarchy->numNodes; i++) {
        const RwV3d scale = {m_nodeScales[i * 6 + 1], m_nodeScales[i * 6 + 2], m_nodeScales[i * 6 + 2]};
        RwMatrixScale(&m_hierarchy->pMatrixArray[i], &scale, rwCOMBINEPRECONCAT);
    }
}

int CKivClump::ScaleNodeMatrix(int node, float x, float y, float z)
{
    bool done = false;
    ForAtomics(m_clump, [&](RwAtomic *atomic) {
        if (done)
            return;
        RwHAnimHierarchy *hierarchy = RwSkinGeometryGetSkin(atomic->geometry) ? RwSkinAtomicGetHAnimHierarchy(atomic)
                                                                               : nullptr;
        if (hierarchy) {
            if (hierarchy->pMatrixArray && node >= 0 && node < hierarchy->numNodes) {
                const RwV3d scale = {x, y, z};
                RwMatrixScale(&hierarchy->pMatrixArray[node], &scale, rwCOMBINEPRECONCAT);
            }
            done = true;
        }
    });
    return 1;
}
