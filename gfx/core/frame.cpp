// Frame module: hierarchies, lazy world-matrix update through the dirty-frame list, frame-list streams.
#include "frame.h"

#include <windows.h>

#include "byteorder.h"
#include "engine.h"
#include "error.h"
#include "finite.h"
#include "memory.h"
#include "modules.h"
#include "pluginstream.h"
#include "stream.h"

static RwInt32 frameModuleOffset = -1;
static RwInt32 frameModuleOpenCount = 0;
static RwPluginRegistry frameTKList = rwPLUGINREGISTRY_INIT(sizeof(RwFrame));

enum : RwUInt32 {
    E_RW_FRAMECYCLE = 0x80000003u,
    rwFRAMEHINT = rwID_FRAMELIST,       // memory hints name the frame-list chunk id
};

// Transient bit: the frame's world matrix was recomputed in the walk under way.
// Set while the frame's subtree is walked, cleared when the walk leaves it.
static const RwUInt8 rwFRAMEPRIVATEPASSLTM = 0x10;

struct RwFrameGlobals {
    RwFreeList *frameFreeList;
};
static_assert(sizeof(RwFrameGlobals) == 4, "frame module globals are one word");

static RwFrameGlobals *FrameGlobals()
{
    return RwEngineModuleGlobals<RwFrameGlobals>(frameModuleOffset);
}

// Frames and the dirty-frame list exist from engine start to stop only;
// outside that window a call fails with the engine-state error.
static bool FrameModuleOpen()
{
    if (frameModuleOpenCount <= 0) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_BADOPEN);
        return false;
    }
    return true;
}

// Next frame of a depth-first walk below top (each frame before its children,
// children in child-list order), or NULL when the walk is over. Frames whose
// subtree is finished lose the bits in clearOnLeave. Iterative, so that deep
// hierarchies read from files cannot exhaust the stack.
static RwFrame *NextBelow(RwFrame *f, RwFrame *top, RwUInt8 clearOnLeave)
{
    if (f->child) {
        return f->child;
    }
    for (;;) {
        f->object.privateFlags &= static_cast<RwUInt8>(~clearOnLeave);
        if (f == top) {
            return nullptr;
        }
        if (f->next) {
            return f->next;
        }
        f = RwFrameGetParent(f);
    }
}

static void SetRootBelow(RwFrame *top, RwFrame *root)
{
    for (RwFrame *f = top; f; f = NextBelow(f, top, 0)) {
        f->root = root;
    }
}

static void SyncObjects(RwFrame *frame)
{
    RwLLLink *link = frame->objectList.next;
    while (link != &frame->objectList) {
        RwLLLink *next = link->next;   // the callback may move the object elsewhere
        RwObjectHasFrame *object = rwLLLinkGetData(link, RwObjectHasFrame, lFrame);
        if (object->sync) {
            object->sync(object);
        }
        link = next;
    }
}

// The dirty-frame list is the one piece of frame state shared by every
// thread's frames: a loading thread queues the frames it builds and moves
// while the main thread moves its own outside the frame and syncs the list
// inside it. The lock covers each edit of the list and of a root's bits, and
// every update of a hierarchy's world matrices (a whole sync, whose callbacks
// may queue frames again on the same thread), so a root's bits are never
// written by two threads at once. A frame moved while another thread's sync
// reads it is queued again by the move, and the next sync gets it right. The
// lock lives as long as the process, so that no start or stop of the library
// races it.
namespace {
struct DirtyListSection {
    DirtyListSection() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
};

CRITICAL_SECTION *DirtyListLock()
{
    static DirtyListSection lock;   // made once, whichever thread comes first
    return &lock.section;
}

class DirtyListGuard
{
public:
    DirtyListGuard() { EnterCriticalSection(DirtyListLock()); }
    ~DirtyListGuard() { LeaveCriticalSection(DirtyListLock()); }
    DirtyListGuard(const DirtyListGuard &) = delete;
    DirtyListGuard &operator=(const DirtyListGuard &) = delete;
};
} // namespace

static bool OnDirtyList(const RwFrame *root)
{
    return (root->object.privateFlags & rwFRAMEPRIVATEHIERARCHYSYNC) != 0;
}

static void TakeOffDirtyList(RwFrame *root)
{
    DirtyListGuard guard;
    if (OnDirtyList(root)) {
        RwLLLinkRemove(&root->inDirtyListLink);
        root->object.privateFlags &= static_cast<RwUInt8>(~rwFRAMEPRIVATEHIERARCHYSYNC);
    }
}

// The first queued root, taken off the list with its bits cleared (its old
// bits go to flags), or NULL when the list is empty. Under the list's lock.
static RwFrame *TakeFirstDirtyRoot(RwUInt8 *flags)
{
    RwLinkList *list = &RwEngineInstance->dirtyFrameList;
    if (RwLinkListEmpty(list)) {
        return nullptr;
    }
    RwFrame *root = rwLLLinkGetData(list->next, RwFrame, inDirtyListLink);
    RwLLLinkRemove(&root->inDirtyListLink);
    *flags = root->object.privateFlags;
    root->object.privateFlags &= 0xF0;
    return root;
}

// Recomputes the world matrices of a hierarchy below frames whose modelling
// matrix changed (the root's own change given by rootChanged). With
// syncObjects the objects of every frame are synced and the frames below the
// root lose bits 0x0C; without, they lose bit 0x04 only.
static void UpdateHierarchy(RwFrame *root, bool rootChanged, bool syncObjects)
{
    if (rootChanged) {
        RwMatrixCopy(&root->ltm, &root->modelling);
        root->object.privateFlags |= rwFRAMEPRIVATEPASSLTM;
    }
    if (syncObjects) {
        SyncObjects(root);
    }
    const RwUInt8 clear = syncObjects ? rwFRAMEPRIVATESUBTREESYNC : rwFRAMEPRIVATESUBTREESYNCLTM;
    for (RwFrame *f = NextBelow(root, root, rwFRAMEPRIVATEPASSLTM); f;
         f = NextBelow(f, root, rwFRAMEPRIVATEPASSLTM)) {
        RwFrame *parent = RwFrameGetParent(f);
        const bool inherited = (parent->object.privateFlags & rwFRAMEPRIVATEPASSLTM) != 0;
        if (inherited || (f->object.privateFlags & rwFRAMEPRIVATESUBTREESYNCLTM)) {
            RwMatrixMultiply(&f->ltm, &f->modelling, &parent->ltm);
            f->object.privateFlags |= rwFRAMEPRIVATEPASSLTM;
        }
        f->object.privateFlags &= static_cast<RwUInt8>(~clear);
        if (syncObjects) {
            SyncObjects(f);
        }
    }
}

RwFrame *RwFrameMarkDirty(RwFrame *frame)
{
    DirtyListGuard guard;
    RwFrame *root = frame->root;
    if (!OnDirtyList(root)) {
        RwLinkListAddLLLink(&RwEngineInstance->dirtyFrameList, &root->inDirtyListLink);
    }
    root->object.privateFlags |= rwFRAMEPRIVATEHIERARCHYSYNC;
    frame->object.privateFlags |= rwFRAMEPRIVATESUBTREESYNC;
    return frame;
}

RwBool RwFrameSyncDirtyList(void)
{
    if (!FrameModuleOpen()) {
        return FALSE;
    }
    // Each root leaves the list and loses its bits before its hierarchy is
    // handled, so that a sync callback that moves a frame (or asks for a world
    // matrix) of this hierarchy queues it again cleanly instead of starting a
    // nested update; queued roots are handled in this same pass.
    DirtyListGuard guard;
    RwUInt8 flags = 0;
    while (RwFrame *root = TakeFirstDirtyRoot(&flags)) {
        if (flags & rwFRAMEPRIVATEHIERARCHYSYNCLTM) {
            UpdateHierarchy(root, (flags & rwFRAMEPRIVATESUBTREESYNCLTM) != 0, true);
        } else {
            SyncObjects(root);
            for (RwFrame *f = NextBelow(root, root, 0); f; f = NextBelow(f, root, 0)) {
                f->object.privateFlags &= static_cast<RwUInt8>(~rwFRAMEPRIVATESUBTREESYNCOBJ);
                SyncObjects(f);
            }
        }
    }
    return TRUE;
}

RwMatrix *RwFrameGetWorldMatrix(RwFrame *frame)
{
    DirtyListGuard guard;
    RwFrame *root = frame->root;
    if (root->object.privateFlags & rwFRAMEPRIVATEHIERARCHYSYNCLTM) {
        // The root stays queued: the objects still want their sync callbacks.
        UpdateHierarchy(root, (root->object.privateFlags & rwFRAMEPRIVATESUBTREESYNCLTM) != 0, false);
        root->object.privateFlags &=
            static_cast<RwUInt8>(~(rwFRAMEPRIVATEHIERARCHYSYNCLTM | rwFRAMEPRIVATESUBTREESYNCLTM));
    }
    return &frame->ltm;
}

RwFrame *RwFrameGetRoot(const RwFrame *frame)
{
    return frame->root;
}

RwBool RwFrameIsDirty(const RwFrame *frame)
{
    return frame->root->object.privateFlags & rwFRAMEPRIVATEHIERARCHYSYNC;
}

static RwFrame *AllocFrame()
{
    if (!FrameModuleOpen()) {
        return nullptr;
    }
    RwFrame *f = static_cast<RwFrame *>(RwFreeListAlloc(FrameGlobals()->frameFreeList,
                                                        rwMEMHINTDUR_EVENT | rwFRAMEHINT));
    if (!f) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    rwObjectInitialize(f, 0, 0);
    f->inDirtyListLink.next = f->inDirtyListLink.prev = nullptr;
    RwMatrixSetIdentity(&f->modelling);
    RwMatrixSetIdentity(&f->ltm);
    RwLinkListInitialize(&f->objectList);
    f->child = nullptr;
    f->next = nullptr;
    f->root = f;
    return f;
}

RwFrame *RwFrameCreate(void)
{
    RwFrame *f = AllocFrame();
    if (!f) {
        return nullptr;
    }
    if (!RwPluginRegistryInitObject(&frameTKList, f)) {
        // The registry has already undone the constructors that succeeded.
        RwFreeListFree(FrameGlobals()->frameFreeList, f);
        return nullptr;
    }
    return f;
}

// Takes a frame out of its parent's child list; it becomes the root of its
// own hierarchy.
static void Detach(RwFrame *child)
{
    RwFrame *parent = RwFrameGetParent(child);
    if (parent->child == child) {
        parent->child = child->next;
    } else {
        RwFrame *c = parent->child;
        while (c && c->next != child) {
            c = c->next;
        }
        if (c) {
            c->next = child->next;
        }
    }
    child->object.parent = nullptr;
    child->next = nullptr;
    SetRootBelow(child, child);
}

// Objects left on a frame that goes away lose their frame instead of keeping
// a pointer to freed memory.
static void ReleaseObjects(RwFrame *frame)
{
    while (!RwLinkListEmpty(&frame->objectList)) {
        RwLLLink *link = frame->objectList.next;
        RwLLLinkRemove(link);
        rwLLLinkGetData(link, RwObjectHasFrame, lFrame)->object.parent = nullptr;
    }
}

// Destructors, off the dirty list, objects released, back to the free list.
static void DestroyOne(RwFrame *frame)
{
    RwPluginRegistryDeInitObject(&frameTKList, frame);
    if (frame->root == frame) {
        TakeOffDirtyList(frame);
    }
    ReleaseObjects(frame);
    RwFreeListFree(FrameGlobals()->frameFreeList, frame);
}

RwFrame *RwFrameRemoveChild(RwFrame *child)
{
    if (RwFrameGetParent(child)) {
        Detach(child);
        RwFrameMarkDirty(child);
    }
    return child;
}

RwBool RwFrameDestroy(RwFrame *frame)
{
    if (!FrameModuleOpen()) {
        return FALSE;
    }
    if (RwFrameGetParent(frame)) {
        Detach(frame);
    }
    // Each child heads a hierarchy of its own now, whose world matrices no
    // longer include this frame's: queue it so that they are recomputed.
    RwFrame *child = frame->child;
    frame->child = nullptr;
    while (child) {
        RwFrame *next = child->next;
        child->object.parent = nullptr;
        child->next = nullptr;
        SetRootBelow(child, child);
        RwFrameMarkDirty(child);
        child = next;
    }
    DestroyOne(frame);
    return TRUE;
}

RwBool RwFrameDestroyHierarchy(RwFrame *root)
{
    if (!root) {
        return TRUE;
    }
    if (!FrameModuleOpen()) {
        return FALSE;
    }
    if (RwFrameGetParent(root)) {
        Detach(root);   // never leave the parent pointing at freed frames
    }
    // Children before their parents: always destroy a childless first child.
    RwFrame *f = root;
    for (;;) {
        while (f->child) {
            f = f->child;
        }
        RwFrame *parent = RwFrameGetParent(f);
        RwFrame *next = f->next;
        const bool last = (f == root);
        DestroyOne(f);
        if (last) {
            break;
        }
        parent->child = next;
        f = next ? next : parent;
    }
    return TRUE;
}

static bool IsAncestorOrSelf(const RwFrame *candidate, const RwFrame *frame)
{
    for (const RwFrame *f = frame; f; f = RwFrameGetParent(f)) {
        if (f == candidate) {
            return true;
        }
    }
    return false;
}

RwFrame *RwFrameAddChild(RwFrame *parent, RwFrame *child)
{
    // A frame cannot become its own descendant: the walks would never end.
    // Only a child with children of its own can be above the parent.
    if (child == parent || (child->child && IsAncestorOrSelf(child, parent))) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_FRAMECYCLE);
        return nullptr;
    }
    if (RwFrameGetParent(child)) {
        Detach(child);
        RwFrameMarkDirty(child);
    }
    child->next = parent->child;
    parent->child = child;
    child->object.parent = parent;
    TakeOffDirtyList(child);
    SetRootBelow(child, parent->root);
    RwFrameMarkDirty(child);
    return parent;
}

RwFrame *RwFrameUpdateRoots(RwFrame *frame)
{
    RwFrame *parent = RwFrameGetParent(frame);
    frame->root = parent ? parent->root : frame;
    for (RwFrame *f = NextBelow(frame, frame, 0); f; f = NextBelow(f, frame, 0)) {
        f->root = RwFrameGetParent(f)->root;
    }
    return frame;
}

// Frees what was cloned so far; the source's root fields pointed at it.
static RwFrame *CloneFailed(RwFrame *root, RwFrame *newRoot)
{
    RwFrameDestroyHierarchy(newRoot);
    RwFrameUpdateRoots(root);
    return nullptr;
}

RwFrame *RwFrameCloneHierarchy(RwFrame *root)
{
    RwFrame *newRoot = nullptr;
    // Pre-order, so that a source frame's parent already points at its clone
    // through its root field.
    for (RwFrame *src = root; src; src = NextBelow(src, root, 0)) {
        RwFrame *clone = AllocFrame();
        if (clone && !RwPluginRegistryInitObject(&frameTKList, clone)) {
            RwFreeListFree(FrameGlobals()->frameFreeList, clone);
            clone = nullptr;
        }
        if (!clone) {
            return CloneFailed(root, newRoot);
        }
        clone->object.type = src->object.type;
        clone->object.subType = src->object.subType;
        clone->object.flags = src->object.flags;
        clone->object.privateFlags = src->object.privateFlags & 0x0F;
        RwMatrixCopy(&clone->modelling, &src->modelling);
        if (!newRoot) {
            newRoot = clone;
            clone->object.privateFlags &= static_cast<RwUInt8>(~rwFRAMEPRIVATEHIERARCHYSYNC);
        } else {
            RwFrame *parentClone = RwFrameGetParent(src)->root;
            clone->object.parent = parentClone;
            clone->next = parentClone->child;
            parentClone->child = clone;
            clone->root = newRoot;
            // Bits 0x01/0x02 mean "on the dirty list" only on a root.
            clone->object.privateFlags &= static_cast<RwUInt8>(~rwFRAMEPRIVATEHIERARCHYSYNC);
        }
        src->root = clone;
        // A clone without all of its extensions' data is no clone.
        if (!RwPluginRegistryCopyObject(&frameTKList, clone, src)) {
            return CloneFailed(root, newRoot);
        }
    }
    RwFrameMarkDirty(newRoot);
    return newRoot;
}

RwFrame *RwFrameForAllChildren(RwFrame *frame, RwFrameCallBack callBack, void *data)
{
    RwFrame *child = frame->child;
    while (child) {
        RwFrame *next = child->next;   // the callback may detach the child
        if (!callBack(child, data)) {
            break;
        }
        child = next;
    }
    return frame;
}

RwFrame *RwFrameTranslate(RwFrame *frame, const RwV3d *v, RwOpCombineType combine)
{
    if (!RwMatrixTranslate(&frame->modelling, v, combine)) {
        return nullptr;
    }
    return RwFrameMarkDirty(frame);
}

RwFrame *RwFrameScale(RwFrame *frame, const RwV3d *v, RwOpCombineType combine)
{
    if (!RwMatrixScale(&frame->modelling, v, combine)) {
        return nullptr;
    }
    return RwFrameMarkDirty(frame);
}

RwFrame *RwFrameTransform(RwFrame *frame, const RwMatrix *m, RwOpCombineType combine)
{
    if (!RwMatrixTransform(&frame->modelling, m, combine)) {
        return nullptr;
    }
    return RwFrameMarkDirty(frame);
}

RwFrame *RwFrameRotate(RwFrame *frame, const RwV3d *axis, RwReal angle, RwOpCombineType combine)
{
    if (!RwMatrixRotate(&frame->modelling, axis, angle, combine)) {
        return nullptr;
    }
    return RwFrameMarkDirty(frame);
}

void RwObjectHasFrameSetFrame(void *object, RwFrame *frame)
{
    RwObjectHasFrame *o = static_cast<RwObjectHasFrame *>(object);
    if (o->object.parent) {
        RwLLLinkRemove(&o->lFrame);
    }
    o->object.parent = frame;
    if (frame) {
        RwLinkListAddLLLink(&frame->objectList, &o->lFrame);
        RwFrameMarkDirty(frame);
    }
}

// The frame pointer is cleared too, so that a later set cannot unlink the
// object a second time from a list it has left.
void RwObjectHasFrameReleaseFrame(void *object)
{
    RwObjectHasFrame *o = static_cast<RwObjectHasFrame *>(object);
    if (o->object.parent) {
        RwLLLinkRemove(&o->lFrame);
        o->object.parent = nullptr;
    }
}

RwInt32 RwFrameRegisterPlugin(RwInt32 size, RwUInt32 pluginID, RwPluginObjectConstructor constructCB,
                              RwPluginObjectDestructor destructCB, RwPluginObjectCopy copyCB)
{
    return RwPluginRegistryAddPlugin(&frameTKList, size, pluginID, constructCB, destructCB, copyCB);
}

RwInt32 RwFrameRegisterPluginStream(RwUInt32 pluginID, RwPluginDataChunkReadCallBack readCB,
                                    RwPluginDataChunkWriteCallBack writeCB,
                                    RwPluginDataChunkGetSizeCallBack getSizeCB)
{
    return RwPluginRegistryAddPluginStream(&frameTKList, pluginID, readCB, writeCB, getSizeCB);
}

RwInt32 RwFrameGetPluginOffset(RwUInt32 pluginID)
{
    return RwPluginRegistryGetPluginOffset(&frameTKList, pluginID);
}

// Destroys every frame made so far. A parent always precedes its children in
// the list, so walking backwards meets each root while it is still alive and
// after every later root's hierarchy (which holds none of the earlier frames)
// is gone.
static void DestroyListFrames(RwFrame **frames, RwInt32 made)
{
    for (RwInt32 i = made - 1; i >= 0; --i) {
        if (!RwFrameGetParent(frames[i])) {
            RwFrameDestroyHierarchy(frames[i]);
        }
    }
}

static void FailList(RwFrameList *list, RwFrame **frames, RwInt32 made)
{
    DestroyListFrames(frames, made);
    RwFree(frames);
    list->frames = nullptr;
    list->numFrames = 0;
}

// Orthonormal when the rows are unit length and perpendicular and the basis
// is right-handed (a mirrored frame must not take the transpose short cut).
static RwUInt32 FrameMatrixFlags(const RwMatrix *m)
{
    if (RwMatrixNormalError(m) <= 0.01f && RwMatrixOrthogonalError(m) <= 0.01f &&
        RwMatrixDeterminant(m) >= 0.99f) {
        return rwMATRIXTYPEORTHONORMAL;
    }
    return 0;
}

// Every row of the matrix finite; says so in the stream error when not.
static bool MatrixFinite(const RwMatrix *w)
{
    const RwReal rows[12] = {w->right.x, w->right.y, w->right.z, w->up.x,  w->up.y,  w->up.z,
                             w->at.x,    w->at.y,    w->at.z,    w->pos.x, w->pos.y, w->pos.z};
    return RwStreamRealsFinite(rows, 12);
}

RwFrameList *RwFrameListStreamRead(RwStream *stream, RwFrameList *list)
{
    list->frames = nullptr;
    list->numFrames = 0;
    RwUInt32 length = 0;
    if (!RwStreamFindChunk(stream, rwID_STRUCT, &length, nullptr)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    RwUInt8 word[4];
    if (length < sizeof word) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    if (!RwStreamReadExact(stream, word, sizeof word)) {
        return nullptr;
    }
    const RwInt32 count = ReadI32(word);
    // The count must fit in the struct: this also bounds the array size.
    const RwUInt32 room = (length - sizeof word) / rwFRAMELISTENTRYSIZE;
    if (count < 0 || static_cast<RwUInt32>(count) > room) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    // The chunk's length is only a claim: the array waits until the stream
    // could hold every record.
    if (!RwStreamCanHold(stream, static_cast<RwUInt32>(count), rwFRAMELISTENTRYSIZE)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
        return nullptr;
    }
    if (count == 0) {
        if (length > sizeof word && !RwStreamSkip(stream, length - sizeof word)) {
            return nullptr;
        }
        return list;
    }
    RwFrame **frames = static_cast<RwFrame **>(
        RwMalloc(static_cast<size_t>(count) * sizeof(RwFrame *), rwMEMHINTDUR_EVENT | rwFRAMEHINT));
    if (!frames) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return nullptr;
    }
    for (RwInt32 i = 0; i < count; ++i) {
        RwUInt8 rec[rwFRAMELISTENTRYSIZE];
        if (!RwStreamReadExact(stream, rec, sizeof rec)) {
            FailList(list, frames, i);
            return nullptr;
        }
        RwReal rows[12];
        ReadF32s(rec, rows, 12);
        if (!RwStreamRealsFinite(rows, 12)) {
            FailList(list, frames, i);
            return nullptr;
        }
        const RwInt32 parent = ReadI32(rec + 48);
        if (parent < -1 || parent >= i) {
            // Only an earlier frame can be a parent: anything else would
            // index past what exists or build a cycle.
            RwErrorRaise(rwID_COREPLUGIN, E_RW_READ);
            FailList(list, frames, i);
            return nullptr;
        }
        RwFrame *f = RwFrameCreate();
        if (!f) {
            FailList(list, frames, i);
            return nullptr;
        }
        RwMatrix *m = &f->modelling;
        RwV3d *axes[4] = {&m->right, &m->up, &m->at, &m->pos};
        for (int r = 0; r < 4; ++r) {
            *axes[r] = {rows[3 * r], rows[3 * r + 1], rows[3 * r + 2]};
        }
        m->flags = FrameMatrixFlags(m);
        frames[i] = f;
        if (parent >= 0) {
            RwFrameAddChild(frames[parent], f);
        }
        // Finite rows can still multiply into an infinite world matrix: the
        // one a sync will make (parents come first, so theirs is known). Its
        // inverse (a camera's view, a skin's object space) must be finite too.
        if (parent >= 0) {
            RwMatrixMultiply(&f->ltm, m, &frames[parent]->ltm);
        } else {
            RwMatrixCopy(&f->ltm, m);
        }
        RwMatrix inverse;
        RwMatrixInvert(&inverse, &f->ltm);
        if (!MatrixFinite(&f->ltm) || !MatrixFinite(&inverse)) {
            FailList(list, frames, i + 1);
            return nullptr;
        }
    }
    const RwUInt32 used = sizeof word + static_cast<RwUInt32>(count) * rwFRAMELISTENTRYSIZE;
    if (length > used && !RwStreamSkip(stream, length - used)) {
        FailList(list, frames, count);
        return nullptr;
    }
    for (RwInt32 i = 0; i < count; ++i) {
        if (!RwPluginRegistryReadDataChunks(&frameTKList, stream, frames[i])) {
            FailList(list, frames, count);
            return nullptr;
        }
        if (frames[i]->root == frames[i]) {
            RwFrameMarkDirty(frames[i]);
        }
    }
    list->frames = frames;
    list->numFrames = count;
    return list;
}

RwFrameList *RwFrameListDeinitialize(RwFrameList *list)
{
    if (list->numFrames != 0) {
        RwFree(list->frames);
    }
    list->frames = nullptr;
    list->numFrames = 0;
    return list;
}

void *RwFrameModuleOpen(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    frameModuleOffset = offset;
    RwFrameGlobals *g = reinterpret_cast<RwFrameGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    g->frameFreeList = RwFreeListCreateAndPreallocate(frameTKList.sizeOfStruct, 50, 16, 1, nullptr,
                                                      rwMEMHINTDUR_GLOBAL | rwFRAMEHINT);
    if (!g->frameFreeList) {
        return nullptr;
    }
    RwLinkListInitialize(&static_cast<RwGlobals *>(instance)->dirtyFrameList);
    ++frameModuleOpenCount;
    return instance;
}

void *RwFrameModuleClose(void *instance, RwInt32 offset, RwInt32 /*size*/)
{
    RwFrameGlobals *g = reinterpret_cast<RwFrameGlobals *>(static_cast<RwUInt8 *>(instance) + offset);
    if (g->frameFreeList) {
        RwFreeListDestroy(g->frameFreeList);
        g->frameFreeList = nullptr;
    }
    RwLinkListInitialize(&static_cast<RwGlobals *>(instance)->dirtyFrameList);
    --frameModuleOpenCount;
    return instance;
}
