#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "matrix_reference.h"
#include "started_engine.h"

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

void RegisterCounter()
{
    counterOffset = RwFrameRegisterPlugin(sizeof(CounterData), kCounterPluginID, CounterConstruct, CounterDestruct,
                                          CounterCopy);
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

}  // namespace
