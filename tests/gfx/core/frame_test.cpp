#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "matrix_reference.h"
#include "started_engine.h"
#include "stream_bytes.h"

namespace {

// A frame extension that counts live frames and can be told to fail.
const RwUInt32 kCounterPluginID = 0xF0F0;
RwInt32 counterOffset = -1;
int liveFrames = 0;
int failConstructAfter = -1;   // -1: never fail
int copies = 0;

struct CounterData {
    RwUInt32 magic;
    RwInt32 serial;
};

void *CounterConstruct(void *object, RwInt32 offset, RwInt32)
{
    if (failConstructAfter == 0) {
        return nullptr;
    }
    if (failConstructAfter > 0) {
        --failConstructAfter;
    }
    CounterData *d = reinterpret_cast<CounterData *>(static_cast<RwUInt8 *>(object) + offset);
    d->magic = 0xC0FFEE;
    d->serial = 0;
    ++liveFrames;
    return object;
}

void *CounterDestruct(void *object, RwInt32 offset, RwInt32)
{
    CounterData *d = reinterpret_cast<CounterData *>(static_cast<RwUInt8 *>(object) + offset);
    EXPECT_EQ(0xC0FFEEu, d->magic);
    d->magic = 0xDEAD;
    --liveFrames;
    return object;
}

void *CounterCopy(void *dst, const void *src, RwInt32 offset, RwInt32)
{
    const CounterData *s = reinterpret_cast<const CounterData *>(static_cast<const RwUInt8 *>(src) + offset);
    CounterData *d = reinterpret_cast<CounterData *>(static_cast<RwUInt8 *>(dst) + offset);
    d->serial = s->serial;
    ++copies;
    return dst;
}

CounterData *Counter(RwFrame *f)
{
    return reinterpret_cast<CounterData *>(reinterpret_cast<RwUInt8 *>(f) + counterOffset);
}

// Extension data of the counter: one 32-bit serial. A serial of -1 in the
// stream makes the read fail.
RwStream *CounterRead(RwStream *stream, RwInt32 length, void *object, RwInt32 offset, RwInt32)
{
    RwUInt8 word[4];
    if (length != 4 || !RwStreamReadExact(stream, word, 4)) {
        return nullptr;
    }
    const RwInt32 serial = static_cast<RwInt32>(word[0] | (word[1] << 8) | (word[2] << 16) |
                                                (static_cast<RwUInt32>(word[3]) << 24));
    if (serial == -1) {
        return nullptr;
    }
    reinterpret_cast<CounterData *>(static_cast<RwUInt8 *>(object) + offset)->serial = serial;
    return stream;
}

void RegisterCounter()
{
    counterOffset = RwFrameRegisterPlugin(sizeof(CounterData), kCounterPluginID, CounterConstruct, CounterDestruct,
                                          CounterCopy);
    RwFrameRegisterPluginStream(kCounterPluginID, CounterRead, nullptr, nullptr);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(RegisterCounter));

// An object on a frame that counts its sync callbacks.
struct Watcher {
    RwObjectHasFrame header;
    int syncs;
};

RwObjectHasFrame *WatcherSync(RwObjectHasFrame *object)
{
    ++reinterpret_cast<Watcher *>(object)->syncs;
    return object;
}

void InitWatcher(Watcher *w)
{
    rwObjectInitialize(w, 1, 0);
    w->header.sync = WatcherSync;
    w->syncs = 0;
}

int multiplies = 0;
void CountingMultiply(RwMatrix *out, const RwMatrix *a, const RwMatrix *b)
{
    ++multiplies;
    const RefMatrix p = RefMultiply(Ref(*a), Ref(*b));
    const RwMatrix m = MakeMatrix(p, 0);
    out->right = m.right;
    out->up = m.up;
    out->at = m.at;
    out->pos = m.pos;
}

bool DirtyListEmpty() { return RwLinkListEmpty(&RwEngineInstance->dirtyFrameList); }

bool OnDirtyList(const RwFrame *root)
{
    const RwLinkList *list = &RwEngineInstance->dirtyFrameList;
    for (const RwLLLink *l = list->next; l != list; l = l->next) {
        if (l == &root->inDirtyListLink) {
            return true;
        }
    }
    return false;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwFrameSyncDirtyList();
        liveFrames = 0;
        copies = 0;
        failConstructAfter = -1;
        multiplies = 0;
        TakeError();
    }
    void TearDown() override
    {
        RwMatrixSetMultiplyFunction(nullptr);
        RwFrameSyncDirtyList();
        EXPECT_EQ(0, liveFrames) << "frames leaked";
        TakeError();
    }
};

TEST_F(Frame, CreateGivesFreeStandingIdentityRoot)
{
    RwFrame *f = RwFrameCreate();
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(1, liveFrames);
    EXPECT_EQ(0, f->object.type);
    EXPECT_EQ(0, f->object.privateFlags);
    EXPECT_EQ(0x20003u, f->modelling.flags);
    EXPECT_EQ(0x20003u, f->ltm.flags);
    EXPECT_EQ(f, f->root);
    EXPECT_EQ(nullptr, f->child);
    EXPECT_EQ(nullptr, RwFrameGetParent(f));
    EXPECT_FALSE(RwFrameIsDirty(f));
    EXPECT_TRUE(RwFrameDestroy(f));
}

TEST_F(Frame, FailingExtensionConstructorFailsCreate)
{
    failConstructAfter = 0;
    EXPECT_EQ(nullptr, RwFrameCreate());
    EXPECT_EQ(0, liveFrames);
}

TEST_F(Frame, AddChildLinksAtHeadAndSharesRoot)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *a = RwFrameCreate();
    RwFrame *b = RwFrameCreate();
    RwFrame *c = RwFrameCreate();
    RwFrameAddChild(a, c);
    EXPECT_EQ(root, RwFrameAddChild(root, a));
    RwFrameAddChild(root, b);
    EXPECT_EQ(b, root->child);
    EXPECT_EQ(a, b->next);
    EXPECT_EQ(root, a->root);
    EXPECT_EQ(root, c->root);
    EXPECT_EQ(root, RwFrameGetRoot(c));
    EXPECT_EQ(a, RwFrameGetParent(c));
    EXPECT_TRUE(OnDirtyList(root));
    EXPECT_FALSE(OnDirtyList(a));
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, AddingQueuedRootAsChildTakesItOffTheList)
{
    RwFrame *parent = RwFrameCreate();
    RwFrame *child = RwFrameCreate();
    const RwV3d t = {1, 0, 0};
    RwFrameTranslate(child, &t, rwCOMBINEREPLACE);
    ASSERT_TRUE(OnDirtyList(child));
    ASSERT_FALSE(OnDirtyList(parent));
    RwFrameAddChild(parent, child);
    EXPECT_FALSE(OnDirtyList(child));
    EXPECT_TRUE(OnDirtyList(parent));
    EXPECT_EQ(3, parent->object.privateFlags & 3);
    EXPECT_EQ(0, child->object.privateFlags & 3);
    RwFrameSyncDirtyList();
    EXPECT_TRUE(DirtyListEmpty());
    RwFrameDestroyHierarchy(parent);
}

TEST_F(Frame, MovingChildToAnotherParentRehomesItsSubtree)
{
    RwFrame *r1 = RwFrameCreate();
    RwFrame *r2 = RwFrameCreate();
    RwFrame *a = RwFrameCreate();
    RwFrame *a1 = RwFrameCreate();
    RwFrameAddChild(a, a1);
    RwFrameAddChild(r1, a);
    RwFrameAddChild(r2, a);
    EXPECT_EQ(nullptr, r1->child);
    EXPECT_EQ(a, r2->child);
    EXPECT_EQ(r2, a1->root);
    RwFrameDestroyHierarchy(r1);
    RwFrameDestroyHierarchy(r2);
}

TEST_F(Frame, AddChildRefusesCycles)
{
    RwFrame *a = RwFrameCreate();
    RwFrame *b = RwFrameCreate();
    RwFrameAddChild(a, b);
    EXPECT_EQ(nullptr, RwFrameAddChild(b, a));
    EXPECT_EQ(nullptr, RwFrameAddChild(a, a));
    EXPECT_EQ(static_cast<RwInt32>(0x80000003u), TakeError().errorCode);
    EXPECT_EQ(a, RwFrameGetParent(b));
    RwFrameDestroyHierarchy(a);
}

TEST_F(Frame, WorldMatrixOfGrandchildIsProductOfAncestors)
{
    RwFrame *g = RwFrameCreate();
    RwFrame *p = RwFrameCreate();
    RwFrame *c = RwFrameCreate();
    RwFrameAddChild(g, p);
    RwFrameAddChild(p, c);
    RwFrameSyncDirtyList();

    const RefMatrix mg = RefRotation({0, 1, 0}, 40, {10, 0, -3});
    const RefMatrix mp = RefGeneral();
    const RefMatrix mc = RefRotation({1, 1, 1}, -25, {0.5, 2, 1});
    RwMatrix m = MakeMatrix(mg, 3);
    RwFrameTransform(g, &m, rwCOMBINEREPLACE);
    m = MakeMatrix(mp, 0);
    RwFrameTransform(p, &m, rwCOMBINEREPLACE);
    m = MakeMatrix(mc, 3);
    RwFrameTransform(c, &m, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();

    // Only the grandparent moves now.
    const RwV3d t = {0, 5, 0};
    RwFrameTranslate(g, &t, rwCOMBINEPOSTCONCAT);
    RefMatrix mg2 = mg;
    mg2.r[3].y += 5;
    const RwMatrix *w = RwFrameGetWorldMatrix(c);
    EXPECT_TRUE(NearMatrix(RefMultiply(RefMultiply(mc, mp), mg2), *w, 1e-4));
    EXPECT_TRUE(NearMatrix(RefMultiply(mp, mg2), p->ltm, 1e-4));
    // Still queued so that objects are synced, but matrices are clean.
    EXPECT_TRUE(RwFrameIsDirty(c));
    EXPECT_EQ(0x02, g->object.privateFlags & 0x07);
    EXPECT_TRUE(OnDirtyList(g));
    RwFrameDestroyHierarchy(g);
}

TEST_F(Frame, TwoMovesThenSyncRecomputeOnceAndSyncOnce)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *child = RwFrameCreate();
    RwFrameAddChild(root, child);
    const RwV3d t = {1, 2, 3};
    RwFrameTranslate(root, &t, rwCOMBINEREPLACE);
    Watcher w;
    InitWatcher(&w);
    RwObjectHasFrameSetFrame(&w, child);
    RwFrameSyncDirtyList();
    w.syncs = 0;

    ASSERT_TRUE(RwMatrixSetMultiplyFunction(CountingMultiply));
    multiplies = 0;
    const RwV3d step = {0, 0, 1};
    RwFrameTranslate(child, &step, rwCOMBINEPOSTCONCAT);
    RwFrameTranslate(child, &step, rwCOMBINEPOSTCONCAT);
    EXPECT_EQ(0, w.syncs);
    EXPECT_EQ(0, multiplies);
    RwFrameSyncDirtyList();
    EXPECT_EQ(1, multiplies);
    EXPECT_EQ(1, w.syncs);
    EXPECT_TRUE(NearV3({1, 2, 5}, Ref(child->ltm.pos), 1e-6));
    EXPECT_TRUE(DirtyListEmpty());
    EXPECT_EQ(0, child->object.privateFlags & 0x0F);
    EXPECT_EQ(0, root->object.privateFlags & 0x0F);

    RwFrameSyncDirtyList();
    EXPECT_EQ(1, w.syncs);
    RwObjectHasFrameSetFrame(&w, nullptr);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, SyncAfterWorldMatrixQueryStillRunsCallbacksOnly)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *child = RwFrameCreate();
    RwFrameAddChild(root, child);
    const RwV3d t = {0, 1, 0};
    RwFrameTranslate(child, &t, rwCOMBINEREPLACE);
    Watcher w;
    InitWatcher(&w);
    RwObjectHasFrameSetFrame(&w, child);
    RwFrameSyncDirtyList();
    w.syncs = 0;

    RwFrameTranslate(root, &t, rwCOMBINEREPLACE);
    ASSERT_TRUE(RwMatrixSetMultiplyFunction(CountingMultiply));
    multiplies = 0;
    RwFrameGetWorldMatrix(child);
    EXPECT_EQ(1, multiplies);
    RwFrameGetWorldMatrix(child);
    EXPECT_EQ(1, multiplies);
    EXPECT_EQ(0, w.syncs);
    RwFrameSyncDirtyList();
    EXPECT_EQ(1, multiplies);
    EXPECT_EQ(1, w.syncs);
    EXPECT_EQ(0, child->object.privateFlags & 0x0F);
    RwObjectHasFrameReleaseFrame(&w);
    RwFrameDestroyHierarchy(root);
}

RwFrame *frameToMove = nullptr;
RwObjectHasFrame *MoveOnceSync(RwObjectHasFrame *object)
{
    ++reinterpret_cast<Watcher *>(object)->syncs;
    if (frameToMove) {
        const RwV3d t = {0, 7, 0};
        RwFrameTranslate(frameToMove, &t, rwCOMBINEREPLACE);
        frameToMove = nullptr;
    }
    return object;
}

TEST_F(Frame, SyncCallbackMovingAFrameRequeuesItsHierarchy)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *a = RwFrameCreate();
    RwFrame *b = RwFrameCreate();
    RwFrameAddChild(root, a);
    RwFrameAddChild(root, b);   // b is visited before a
    Watcher w;
    InitWatcher(&w);
    w.header.sync = MoveOnceSync;
    RwObjectHasFrameSetFrame(&w, b);
    frameToMove = b;   // already visited when its callback runs
    RwFrameSyncDirtyList();
    EXPECT_TRUE(DirtyListEmpty());
    EXPECT_EQ(2, w.syncs);
    EXPECT_FLOAT_EQ(7.0f, b->ltm.pos.y);
    EXPECT_EQ(0, root->object.privateFlags & 0x0F);
    EXPECT_EQ(0, b->object.privateFlags & 0x0F);
    RwObjectHasFrameReleaseFrame(&w);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, UnmovedSiblingKeepsItsWorldMatrix)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *a = RwFrameCreate();
    RwFrame *b = RwFrameCreate();
    RwFrameAddChild(root, a);
    RwFrameAddChild(root, b);
    const RwV3d t = {3, 0, 0};
    RwFrameTranslate(root, &t, rwCOMBINEREPLACE);
    RwFrameTranslate(b, &t, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();
    ASSERT_TRUE(RwMatrixSetMultiplyFunction(CountingMultiply));
    multiplies = 0;
    RwFrameTranslate(a, &t, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();
    EXPECT_EQ(1, multiplies);
    EXPECT_TRUE(NearV3({6, 0, 0}, Ref(a->ltm.pos), 0));
    EXPECT_TRUE(NearV3({6, 0, 0}, Ref(b->ltm.pos), 0));
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, ObjectsSetAndReleaseFrames)
{
    RwFrame *f1 = RwFrameCreate();
    RwFrame *f2 = RwFrameCreate();
    RwFrameSyncDirtyList();
    Watcher w1, w2;
    InitWatcher(&w1);
    InitWatcher(&w2);
    RwObjectHasFrameSetFrame(&w1, f1);
    RwObjectHasFrameSetFrame(&w2, f1);
    EXPECT_EQ(f1, RwObjectGetFrame(&w1));
    EXPECT_TRUE(RwFrameIsDirty(f1));
    RwObjectHasFrameSetFrame(&w1, f2);
    RwFrameSyncDirtyList();
    EXPECT_EQ(1, w1.syncs);
    EXPECT_EQ(1, w2.syncs);
    EXPECT_EQ(&w2.header.lFrame, f1->objectList.next);
    EXPECT_EQ(&w1.header.lFrame, f2->objectList.next);
    RwObjectHasFrameReleaseFrame(&w2);
    RwObjectHasFrameReleaseFrame(&w2);
    EXPECT_TRUE(RwLinkListEmpty(&f1->objectList));
    EXPECT_EQ(nullptr, RwObjectGetFrame(&w2));
    RwObjectHasFrameSetFrame(&w2, f2);
    RwFrameDestroy(f2);   // objects still on it lose their frame
    EXPECT_EQ(nullptr, RwObjectGetFrame(&w1));
    EXPECT_EQ(nullptr, RwObjectGetFrame(&w2));
    RwFrameDestroy(f1);
}

RwFrame *StopAtFirst(RwFrame *, void *data)
{
    ++*static_cast<int *>(data);
    return nullptr;
}

RwFrame *DetachEach(RwFrame *child, void *data)
{
    ++*static_cast<int *>(data);
    RwFrameRemoveChild(child);
    RwFrameDestroy(child);
    return child;
}

TEST_F(Frame, ForAllChildrenStopsOnNullAndToleratesDetaching)
{
    RwFrame *root = RwFrameCreate();
    for (int i = 0; i < 3; ++i) {
        RwFrameAddChild(root, RwFrameCreate());
    }
    int visits = 0;
    EXPECT_EQ(root, RwFrameForAllChildren(root, StopAtFirst, &visits));
    EXPECT_EQ(1, visits);
    visits = 0;
    RwFrameForAllChildren(root, DetachEach, &visits);
    EXPECT_EQ(3, visits);
    EXPECT_EQ(nullptr, root->child);
    RwFrameDestroy(root);
}

TEST_F(Frame, CloneReversesChildOrderAndMapsSourceToClone)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *a = RwFrameCreate();
    RwFrame *b = RwFrameCreate();
    RwFrame *a1 = RwFrameCreate();
    RwFrameAddChild(a, a1);
    RwFrameAddChild(root, b);
    RwFrameAddChild(root, a);   // child order: A, B
    Counter(root)->serial = 1;
    Counter(a)->serial = 2;
    Counter(b)->serial = 3;
    Counter(a1)->serial = 4;
    const RefMatrix ma = RefGeneral();
    RwMatrix m = MakeMatrix(ma, 0);
    RwFrameTransform(a, &m, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();

    RwFrame *clone = RwFrameCloneHierarchy(root);
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(8, liveFrames);
    EXPECT_EQ(4, copies);
    EXPECT_EQ(clone, root->root);
    RwFrame *ca = a->root;
    RwFrame *cb = b->root;
    RwFrame *ca1 = a1->root;
    EXPECT_EQ(cb, clone->child);
    EXPECT_EQ(ca, cb->next);
    EXPECT_EQ(ca1, ca->child);
    EXPECT_EQ(2, Counter(ca)->serial);
    EXPECT_EQ(4, Counter(ca1)->serial);
    EXPECT_EQ(clone, ca1->root);
    EXPECT_EQ(0, std::memcmp(&m, &ca->modelling, sizeof m));
    EXPECT_TRUE(OnDirtyList(clone));
    EXPECT_EQ(nullptr, RwFrameGetParent(clone));
    EXPECT_TRUE(NearMatrix(ma, *RwFrameGetWorldMatrix(ca1), 1e-5));

    RwFrameUpdateRoots(root);
    EXPECT_EQ(root, root->root);
    EXPECT_EQ(root, a1->root);
    RwFrameDestroyHierarchy(clone);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, CloneFailureLeavesNothingAndRestoresSourceRoots)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *a = RwFrameCreate();
    RwFrame *b = RwFrameCreate();
    RwFrameAddChild(root, a);
    RwFrameAddChild(a, b);
    failConstructAfter = 2;
    EXPECT_EQ(nullptr, RwFrameCloneHierarchy(root));
    failConstructAfter = -1;
    EXPECT_EQ(3, liveFrames);
    EXPECT_EQ(root, b->root);
    EXPECT_EQ(root, a->root);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, DestroyingMiddleFrameOrphansChildrenAsDirtyRoots)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *mid = RwFrameCreate();
    RwFrame *leaf = RwFrameCreate();
    RwFrame *leaf2 = RwFrameCreate();
    RwFrameAddChild(root, mid);
    RwFrameAddChild(mid, leaf);
    RwFrameAddChild(leaf, leaf2);
    const RwV3d t = {1, 0, 0};
    RwFrameTranslate(root, &t, rwCOMBINEREPLACE);
    RwFrameTranslate(mid, &t, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();
    EXPECT_TRUE(NearV3({2, 0, 0}, Ref(leaf2->ltm.pos), 0));

    RwFrameDestroy(mid);
    EXPECT_EQ(nullptr, root->child);
    EXPECT_EQ(nullptr, RwFrameGetParent(leaf));
    EXPECT_EQ(leaf, leaf->root);
    EXPECT_EQ(leaf, leaf2->root);
    EXPECT_TRUE(OnDirtyList(leaf));
    RwFrameSyncDirtyList();
    EXPECT_TRUE(NearV3({0, 0, 0}, Ref(leaf2->ltm.pos), 0));
    RwFrameDestroyHierarchy(leaf);
    RwFrameDestroy(root);
}

TEST_F(Frame, DestroyQueuedRootLeavesListIntact)
{
    RwFrame *a = RwFrameCreate();
    RwFrame *b = RwFrameCreate();
    const RwV3d t = {1, 0, 0};
    RwFrameTranslate(a, &t, rwCOMBINEREPLACE);
    RwFrameTranslate(b, &t, rwCOMBINEREPLACE);
    RwFrameDestroy(a);
    EXPECT_TRUE(OnDirtyList(b));
    EXPECT_EQ(&b->inDirtyListLink, RwEngineInstance->dirtyFrameList.next);
    EXPECT_EQ(&b->inDirtyListLink, RwEngineInstance->dirtyFrameList.prev);
    RwFrameDestroyHierarchy(b);
    EXPECT_TRUE(DirtyListEmpty());
    EXPECT_TRUE(RwFrameDestroyHierarchy(nullptr));
}

TEST_F(Frame, DeepChainSyncsAndDestroysWithoutRecursion)
{
    const int depth = 20000;
    RwFrame *root = RwFrameCreate();
    RwFrame *tip = root;
    const RwV3d t = {0, 0, 1};
    for (int i = 1; i < depth; ++i) {
        RwFrame *f = RwFrameCreate();
        ASSERT_NE(nullptr, f);
        RwFrameTranslate(f, &t, rwCOMBINEREPLACE);
        RwFrameAddChild(tip, f);
        tip = f;
    }
    RwFrameSyncDirtyList();
    EXPECT_FLOAT_EQ(static_cast<float>(depth - 1), tip->ltm.pos.z);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, TransformsRefuseBadCombineWithoutMarking)
{
    RwFrame *f = RwFrameCreate();
    RwFrameSyncDirtyList();
    const RwV3d v = {1, 1, 1};
    const RwOpCombineType bad = static_cast<RwOpCombineType>(7);
    EXPECT_EQ(nullptr, RwFrameTranslate(f, &v, bad));
    EXPECT_EQ(nullptr, RwFrameScale(f, &v, bad));
    EXPECT_EQ(nullptr, RwFrameRotate(f, &v, 5.0f, bad));
    EXPECT_EQ(nullptr, RwFrameTransform(f, &f->ltm, bad));
    EXPECT_FALSE(RwFrameIsDirty(f));
    EXPECT_EQ(f, RwFrameScale(f, &v, rwCOMBINEPOSTCONCAT));
    EXPECT_EQ(f, RwFrameRotate(f, &v, 5.0f, rwCOMBINEPOSTCONCAT));
    EXPECT_TRUE(RwFrameIsDirty(f));
    RwFrameDestroy(f);
}

TEST_F(Frame, RegisteringAgainReturnsFirstOffset)
{
    EXPECT_EQ(counterOffset, RwFrameGetPluginOffset(kCounterPluginID));
    EXPECT_GE(counterOffset, static_cast<RwInt32>(sizeof(RwFrame)));
    EXPECT_EQ(-1, RwFrameGetPluginOffset(0x7777));
}

// One frame record of a frame-list struct: right, up, at, pos, parent, unused.
void FrameRecord(Bytes &b, const RefMatrix &m, RwInt32 parent)
{
    for (int i = 0; i < 4; ++i) {
        b.F32(static_cast<float>(m.r[i].x)).F32(static_cast<float>(m.r[i].y)).F32(static_cast<float>(m.r[i].z));
    }
    b.I32(parent).U32(0x00020003);
}

// Extension chunk with the counter's serial, or empty when serial is 0.
void Extension(Bytes &b, RwInt32 serial)
{
    if (serial == 0) {
        b.Header(3, 0);
    } else {
        b.Header(3, 16).Header(kCounterPluginID, 4).I32(serial);
    }
}

struct FrameSpec {
    RefMatrix m;
    RwInt32 parent;
    RwInt32 serial;
};

Bytes FrameListBytes(const std::vector<FrameSpec> &frames, RwUInt32 extraStructBytes = 0)
{
    Bytes body;
    body.I32(static_cast<RwInt32>(frames.size()));
    for (const FrameSpec &f : frames) {
        FrameRecord(body, f.m, f.parent);
    }
    for (RwUInt32 i = 0; i < extraStructBytes; i += 4) {
        body.U32(0xEEEEEEEE);
    }
    Bytes b;
    b.Header(1, body.Size()).Append(body);
    for (const FrameSpec &f : frames) {
        Extension(b, f.serial);
    }
    return b;
}

RefMatrix Translation(double x, double y, double z)
{
    RefMatrix m = RefIdentity();
    m.r[3] = {x, y, z};
    return m;
}

class FrameList : public Frame {};

TEST_F(FrameList, ReadsHierarchyMatricesAndExtensions)
{
    const RefMatrix rot = RefRotation({0, 0, 1}, 90, {1, 0, 0});
    const Bytes b = FrameListBytes({{rot, -1, 11}, {Translation(0, 2, 0), 0, 12}, {Translation(0, 0, 3), 0, 13},
                               {RefGeneral(), 2, 0}});
    RwStream *s = OpenRead(b);
    RwFrameList list;
    ASSERT_EQ(&list, RwFrameListStreamRead(s, &list));
    EXPECT_EQ(0u, Remaining(s));
    RwStreamClose(s, nullptr);
    ASSERT_EQ(4, list.numFrames);
    RwFrame **f = list.frames;
    EXPECT_EQ(4, liveFrames);
    EXPECT_EQ(nullptr, RwFrameGetParent(f[0]));
    EXPECT_EQ(f[2], f[0]->child);   // later children go to the head
    EXPECT_EQ(f[1], f[2]->next);
    EXPECT_EQ(f[2], RwFrameGetParent(f[3]));
    EXPECT_EQ(f[0], f[3]->root);
    EXPECT_EQ(11, Counter(f[0])->serial);
    EXPECT_EQ(12, Counter(f[1])->serial);
    EXPECT_EQ(13, Counter(f[2])->serial);
    EXPECT_EQ(0, Counter(f[3])->serial);
    EXPECT_EQ(3u, f[0]->modelling.flags);
    EXPECT_EQ(0u, f[3]->modelling.flags);
    EXPECT_TRUE(OnDirtyList(f[0]));
    RwFrameSyncDirtyList();
    EXPECT_TRUE(NearMatrix(RefMultiply(RefMultiply(RefGeneral(), Translation(0, 0, 3)), rot), f[3]->ltm, 1e-5));
    EXPECT_TRUE(NearV3({-1, 0, 0}, Ref(f[1]->ltm.pos), 1e-6));
    RwFrameDestroyHierarchy(f[0]);
    RwFrameListDeinitialize(&list);
    EXPECT_EQ(nullptr, list.frames);
    EXPECT_EQ(0, list.numFrames);
}

TEST_F(FrameList, SeveralRootsAreEachQueued)
{
    const Bytes b = FrameListBytes({{RefIdentity(), -1, 0}, {RefIdentity(), -1, 0}, {RefIdentity(), 1, 0}});
    RwStream *s = OpenRead(b);
    RwFrameList list;
    ASSERT_NE(nullptr, RwFrameListStreamRead(s, &list));
    RwStreamClose(s, nullptr);
    EXPECT_TRUE(OnDirtyList(list.frames[0]));
    EXPECT_TRUE(OnDirtyList(list.frames[1]));
    EXPECT_FALSE(OnDirtyList(list.frames[2]));
    RwFrameDestroyHierarchy(list.frames[0]);
    RwFrameDestroyHierarchy(list.frames[1]);
    RwFrameListDeinitialize(&list);
}

TEST_F(FrameList, ZeroFramesGiveEmptyList)
{
    Bytes b;
    b.Header(1, 4).I32(0);
    RwStream *s = OpenRead(b);
    RwFrameList list;
    ASSERT_EQ(&list, RwFrameListStreamRead(s, &list));
    EXPECT_EQ(0, list.numFrames);
    EXPECT_EQ(nullptr, list.frames);
    RwFrameListDeinitialize(&list);
    RwStreamClose(s, nullptr);
}

TEST_F(FrameList, MirroredAndScaledMatricesAreNotOrthonormal)
{
    RefMatrix mirror = RefIdentity();
    mirror.r[0].x = -1;
    RefMatrix scaled = RefIdentity();
    scaled.r[1].y = 1.2;
    const Bytes b = FrameListBytes({{mirror, -1, 0}, {scaled, 0, 0}, {RefRotation({1, 1, 0}, 10, {0, 0, 0}), 0, 0}});
    RwStream *s = OpenRead(b);
    RwFrameList list;
    ASSERT_NE(nullptr, RwFrameListStreamRead(s, &list));
    RwStreamClose(s, nullptr);
    EXPECT_EQ(0u, list.frames[0]->modelling.flags);
    EXPECT_EQ(0u, list.frames[1]->modelling.flags);
    EXPECT_EQ(3u, list.frames[2]->modelling.flags);
    RwFrameDestroyHierarchy(list.frames[0]);
    RwFrameListDeinitialize(&list);
}

TEST_F(FrameList, ParentIndexMustNameAnEarlierFrame)
{
    const RwInt32 bad[] = {1, 2, 5, -2, 0x7FFFFFFF, static_cast<RwInt32>(0x80000000u)};
    for (RwInt32 parent : bad) {
        const Bytes b = FrameListBytes({{RefIdentity(), -1, 0}, {RefIdentity(), parent, 0}, {RefIdentity(), 0, 0}});
        RwStream *s = OpenRead(b);
        RwFrameList list;
        EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &list)) << parent;
        EXPECT_EQ(static_cast<RwInt32>(0x8000001Au), TakeError().errorCode) << parent;
        EXPECT_EQ(0, liveFrames) << parent;
        EXPECT_TRUE(DirtyListEmpty());
        RwStreamClose(s, nullptr);
    }
}

TEST_F(FrameList, CountBeyondTheStructIsRefused)
{
    const RwInt32 counts[] = {2, 0x40000000, 0x7FFFFFFF, -1};
    for (RwInt32 count : counts) {
        Bytes b;
        b.Header(1, 4 + 56).I32(count);
        FrameRecord(b, RefIdentity(), -1);
        Extension(b, 0);
        RwStream *s = OpenRead(b);
        RwFrameList list;
        EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &list)) << count;
        EXPECT_EQ(static_cast<RwInt32>(0x8000001Au), TakeError().errorCode) << count;
        EXPECT_EQ(0, liveFrames);
        RwStreamClose(s, nullptr);
    }
}

TEST_F(FrameList, WrongStructVersionIsRefused)
{
    Bytes b;
    b.Header(1, 4, 0x1C030055).I32(0);   // version 0x37003
    RwStream *s = OpenRead(b);
    RwFrameList list;
    EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &list));
    EXPECT_EQ(static_cast<RwInt32>(0x80000004u), TakeError().errorCode);
    RwStreamClose(s, nullptr);
}

TEST_F(FrameList, TruncationAtEveryOffsetLeavesNoFrames)
{
    const Bytes b = FrameListBytes({{RefIdentity(), -1, 5}, {Translation(1, 2, 3), 0, 6}, {RefGeneral(), -1, 7}});
    for (RwUInt32 n = 0; n < b.Size(); ++n) {
        RwStream *s = OpenRead(b, static_cast<RwInt32>(n));
        RwFrameList list;
        EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &list)) << n;
        EXPECT_NE(static_cast<RwInt32>(0x80000000u), TakeError().errorCode) << n;
        EXPECT_EQ(0, liveFrames) << n;
        EXPECT_TRUE(DirtyListEmpty()) << n;
        RwStreamClose(s, nullptr);
    }
}

TEST_F(FrameList, FailedExtensionDestroysEveryFrame)
{
    // Two hierarchies; the last frame's extension read fails.
    const Bytes b = FrameListBytes({{RefIdentity(), -1, 1}, {RefIdentity(), 0, 2}, {RefIdentity(), -1, 3},
                               {RefIdentity(), 2, -1}});
    RwStream *s = OpenRead(b);
    RwFrameList list;
    EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &list));
    EXPECT_EQ(0, liveFrames);
    EXPECT_TRUE(DirtyListEmpty());
    EXPECT_EQ(nullptr, list.frames);
    RwStreamClose(s, nullptr);
}

TEST_F(FrameList, UnknownExtensionIsSkippedAndExtraStructBytesIgnored)
{
    Bytes body;
    body.I32(1);
    FrameRecord(body, Translation(4, 0, 0), -1);
    body.U32(0xAAAAAAAA).U32(0xBBBBBBBB);
    Bytes b;
    b.Header(1, body.Size()).Append(body);
    b.Header(3, 12 + 8 + 16).Header(0x4242, 8).U32(1).U32(2).Header(kCounterPluginID, 4).I32(77);
    RwStream *s = OpenRead(b);
    RwFrameList list;
    ASSERT_NE(nullptr, RwFrameListStreamRead(s, &list));
    EXPECT_EQ(0u, Remaining(s));
    EXPECT_EQ(77, Counter(list.frames[0])->serial);
    EXPECT_FLOAT_EQ(4.0f, list.frames[0]->modelling.pos.x);
    RwFrameDestroyHierarchy(list.frames[0]);
    RwFrameListDeinitialize(&list);
    RwStreamClose(s, nullptr);
}

TEST_F(FrameList, ArrayAllocationFailureIsReported)
{
    const Bytes b = FrameListBytes({{RefIdentity(), -1, 0}, {RefIdentity(), 0, 0}});
    RwStream *s = OpenRead(b);
    const RwInt32 live = rwTestMemory.live;
    rwTestMemory.failHint = 0x3000E;
    RwFrameList list;
    EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &list));
    rwTestMemory.failHint = 0;
    EXPECT_EQ(static_cast<RwInt32>(0x80000013u), TakeError().errorCode);
    EXPECT_EQ(live, rwTestMemory.live);
    EXPECT_EQ(0, liveFrames);
    RwStreamClose(s, nullptr);
}

TEST_F(FrameList, FailedReadsReleaseTheArray)
{
    const Bytes b = FrameListBytes({{RefIdentity(), -1, 1}, {RefIdentity(), 0, -1}});
    const RwInt32 live = rwTestMemory.live;
    for (RwUInt32 n = 0; n <= b.Size(); ++n) {
        RwStream *s = OpenRead(b, static_cast<RwInt32>(n));
        RwFrameList list;
        EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &list)) << n;
        RwStreamClose(s, nullptr);
        EXPECT_EQ(live, rwTestMemory.live) << n;
    }
    TakeError();
}

}  // namespace
