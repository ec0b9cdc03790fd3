#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "counting_extension.h"
#include "gfx/core/frame.h"
#include "matrix_reference.h"
#include "started_engine.h"
#include "thread_modes.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"

namespace {

const RwUInt32 kExtensionID = 0xF0F0;

void RegisterExtension()
{
    counting::offset =
        RwFrameRegisterPlugin(4, kExtensionID, counting::Construct, counting::Destruct, counting::Copy);
    RwFrameRegisterPluginStream(kExtensionID, counting::Read, nullptr, nullptr);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(RegisterExtension));

// An object on a frame that counts its sync callbacks and can move a frame
// from inside one.
struct Watcher {
    RwObjectHasFrame header;
    int syncs = 0;
    RwFrame *moveOnSync = nullptr;

    Watcher()
    {
        rwObjectInitialize(&header, 1, 0);
        header.sync = [](RwObjectHasFrame *object) {
            Watcher *w = reinterpret_cast<Watcher *>(object);
            ++w->syncs;
            if (RwFrame *f = w->moveOnSync) {
                w->moveOnSync = nullptr;
                const RwV3d t = {0, 7, 0};
                RwFrameTranslate(f, &t, rwCOMBINEREPLACE);
            }
            return object;
        };
    }
};

int multiplies = 0;
void CountingMultiply(RwMatrix *out, const RwMatrix *a, const RwMatrix *b)
{
    ++multiplies;
    const RwMatrix m = MakeMatrix(RefMultiply(Ref(*a), Ref(*b)), 0);
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

// A new frame added below parent.
RwFrame *Child(RwFrame *parent)
{
    RwFrame *f = RwFrameCreate();
    RwFrameAddChild(parent, f);
    return f;
}

void Move(RwFrame *f, RwReal x, RwReal y, RwReal z, RwOpCombineType combine = rwCOMBINEREPLACE)
{
    const RwV3d t = {x, y, z};
    RwFrameTranslate(f, &t, combine);
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        RwFrameSyncDirtyList();
        counting::Reset();
        multiplies = 0;
        TakeError();
    }
    void TearDown() override
    {
        RwMatrixSetMultiplyFunction(nullptr);
        RwFrameSyncDirtyList();
        EXPECT_EQ(0, counting::live) << "frames leaked";
        TakeError();
    }
};

TEST_F(Frame, HierarchiesLinkChildrenAtTheHeadAndShareTheRoot)
{
    RwFrame *root = RwFrameCreate();
    ASSERT_NE(nullptr, root);
    EXPECT_EQ(0x20003u, root->modelling.flags);
    EXPECT_FALSE(RwFrameIsDirty(root));
    RwFrame *a = RwFrameCreate();
    RwFrame *a1 = Child(a);
    EXPECT_EQ(root, RwFrameAddChild(root, a));
    RwFrame *b = Child(root);
    EXPECT_EQ(b, root->child);
    EXPECT_EQ(a, b->next);
    EXPECT_EQ(root, RwFrameGetRoot(a1));
    // A queued root added as a child leaves the list to its new root.
    EXPECT_TRUE(OnDirtyList(root));
    EXPECT_FALSE(OnDirtyList(a));

    // Moving a subtree to another hierarchy re-homes every frame in it.
    RwFrame *other = RwFrameCreate();
    RwFrameAddChild(other, a);
    EXPECT_EQ(b, root->child);
    EXPECT_EQ(nullptr, b->next);
    EXPECT_EQ(other, a1->root);

    // A frame cannot become its own descendant.
    EXPECT_EQ(nullptr, RwFrameAddChild(a1, other));
    EXPECT_EQ(nullptr, RwFrameAddChild(a, a));
    EXPECT_EQ(0x80000003u, TakeErrorCode());
    EXPECT_EQ(other, RwFrameGetParent(a));
    RwFrameDestroyHierarchy(other);
    RwFrameDestroyHierarchy(root);

    counting::constructionsBeforeFailure = 0;
    EXPECT_EQ(nullptr, RwFrameCreate());
}

TEST_F(Frame, WorldMatrixQueryComputesProductsAndLeavesTheSyncsQueued)
{
    RwFrame *g = RwFrameCreate();
    RwFrame *p = Child(g);
    RwFrame *c = Child(p);
    const RefMatrix mg = RefRotation({0, 1, 0}, 40, {10, 0, -3});
    const RefMatrix mp = RefGeneral();
    const RefMatrix mc = RefRotation({1, 1, 1}, -25, {0.5, 2, 1});
    const RwMatrix m[3] = {MakeMatrix(mg, 3), MakeMatrix(mp, 0), MakeMatrix(mc, 3)};
    RwFrameTransform(g, &m[0], rwCOMBINEREPLACE);
    RwFrameTransform(p, &m[1], rwCOMBINEREPLACE);
    RwFrameTransform(c, &m[2], rwCOMBINEREPLACE);
    Watcher w;
    RwObjectHasFrameSetFrame(&w, c);
    RwFrameSyncDirtyList();
    w.syncs = 0;

    // The grandparent moves; the child is marked without moving.
    Move(g, 0, 5, 0, rwCOMBINEPOSTCONCAT);
    RwFrameMarkDirty(c);
    const RefMatrix mg2 = RefMultiply(mg, RefTranslation(0, 5, 0));
    ASSERT_TRUE(RwMatrixSetMultiplyFunction(CountingMultiply));
    const RwMatrix *world = RwFrameGetWorldMatrix(c);
    EXPECT_TRUE(NearMatrix(RefMultiply(RefMultiply(mc, mp), mg2), *world, 1e-4));
    EXPECT_TRUE(NearMatrix(RefMultiply(mp, mg2), p->ltm, 1e-4));
    EXPECT_EQ(2, multiplies);
    RwFrameGetWorldMatrix(c);
    EXPECT_EQ(2, multiplies);
    EXPECT_EQ(0, w.syncs);
    // Matrices are clean, but the hierarchy stays queued for its objects.
    EXPECT_EQ(0x02, g->object.privateFlags & 0x07);
    EXPECT_TRUE(OnDirtyList(g));
    RwFrameSyncDirtyList();
    EXPECT_EQ(2, multiplies);
    EXPECT_EQ(1, w.syncs);
    EXPECT_EQ(0, c->object.privateFlags & 0x0F);
    RwObjectHasFrameReleaseFrame(&w);
    RwFrameDestroyHierarchy(g);
}

TEST_F(Frame, TwoMovesThenSyncRecomputeOnlyTheMovedFrameOnce)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *a = Child(root);
    RwFrame *b = Child(root);
    Move(root, 1, 2, 3);
    Move(b, 3, 0, 0);
    Watcher w;
    RwObjectHasFrameSetFrame(&w, a);
    RwFrameSyncDirtyList();
    w.syncs = 0;

    ASSERT_TRUE(RwMatrixSetMultiplyFunction(CountingMultiply));
    Move(a, 0, 0, 1, rwCOMBINEPOSTCONCAT);
    Move(a, 0, 0, 1, rwCOMBINEPOSTCONCAT);
    EXPECT_EQ(0, w.syncs);
    EXPECT_EQ(0, multiplies);
    RwFrameSyncDirtyList();
    EXPECT_EQ(1, multiplies);
    EXPECT_EQ(1, w.syncs);
    EXPECT_TRUE(NearV3({1, 2, 5}, Ref(a->ltm.pos), 1e-6));
    EXPECT_TRUE(NearV3({4, 2, 3}, Ref(b->ltm.pos), 0));   // the unmoved sibling keeps its matrix
    EXPECT_TRUE(DirtyListEmpty());
    EXPECT_EQ(0, a->object.privateFlags & 0x0F);
    EXPECT_EQ(0, root->object.privateFlags & 0x0F);
    RwFrameSyncDirtyList();
    EXPECT_EQ(1, w.syncs);
    RwObjectHasFrameSetFrame(&w, nullptr);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, SyncCallbackMovingAFrameRequeuesItsHierarchy)
{
    RwFrame *root = RwFrameCreate();
    Child(root);
    RwFrame *b = Child(root);   // visited first
    Watcher w;
    RwObjectHasFrameSetFrame(&w, b);
    w.moveOnSync = b;   // already visited when its callback runs
    RwFrameSyncDirtyList();
    EXPECT_TRUE(DirtyListEmpty());
    EXPECT_EQ(2, w.syncs);
    EXPECT_FLOAT_EQ(7.0f, b->ltm.pos.y);
    EXPECT_EQ(0, root->object.privateFlags & 0x0F);
    EXPECT_EQ(0, b->object.privateFlags & 0x0F);
    RwObjectHasFrameReleaseFrame(&w);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, ObjectsSetAndReleaseFrames)
{
    RwFrame *f1 = RwFrameCreate();
    RwFrame *f2 = RwFrameCreate();
    RwFrameSyncDirtyList();
    Watcher w1, w2;
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
    RwObjectHasFrameReleaseFrame(&w2);   // a second release touches no list
    EXPECT_TRUE(RwLinkListEmpty(&f1->objectList));
    RwObjectHasFrameSetFrame(&w2, f2);
    RwFrameDestroy(f2);   // objects still on it lose their frame
    EXPECT_EQ(nullptr, RwObjectGetFrame(&w1));
    EXPECT_EQ(nullptr, RwObjectGetFrame(&w2));
    RwFrameDestroy(f1);
}

TEST_F(Frame, ForAllChildrenStopsOnNullAndToleratesDetaching)
{
    RwFrame *root = RwFrameCreate();
    for (int i = 0; i < 3; ++i) {
        Child(root);
    }
    int visits = 0;
    const RwFrameCallBack stop = [](RwFrame *, void *n) -> RwFrame * {
        ++*static_cast<int *>(n);
        return nullptr;
    };
    const RwFrameCallBack destroy = [](RwFrame *child, void *n) {
        ++*static_cast<int *>(n);
        RwFrameDestroy(child);
        return child;
    };
    EXPECT_EQ(root, RwFrameForAllChildren(root, stop, &visits));
    EXPECT_EQ(1, visits);
    RwFrameForAllChildren(root, destroy, &visits);
    EXPECT_EQ(4, visits);
    EXPECT_EQ(nullptr, root->child);
    RwFrameDestroy(root);
}

TEST_F(Frame, CloneReversesChildOrderAndMapsSourceToClone)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *b = Child(root);
    RwFrame *a = Child(root);   // child order: A, B
    RwFrame *a1 = Child(a);
    counting::Word(a) = 2;
    counting::Word(a1) = 4;
    const RwMatrix m = MakeMatrix(RefGeneral(), 0);
    RwFrameTransform(a, &m, rwCOMBINEREPLACE);
    RwFrameSyncDirtyList();

    RwFrame *clone = RwFrameCloneHierarchy(root);
    ASSERT_NE(nullptr, clone);
    EXPECT_EQ(8, counting::live);
    EXPECT_EQ(4, counting::copies);
    EXPECT_EQ(clone, root->root);
    RwFrame *ca = a->root, *cb = b->root, *ca1 = a1->root;
    EXPECT_EQ(cb, clone->child);
    EXPECT_EQ(ca, cb->next);
    EXPECT_EQ(ca1, ca->child);
    EXPECT_EQ(2, counting::Word(ca));
    EXPECT_EQ(4, counting::Word(ca1));
    EXPECT_EQ(clone, ca1->root);
    EXPECT_EQ(0, std::memcmp(&m, &ca->modelling, sizeof m));
    EXPECT_TRUE(OnDirtyList(clone));
    EXPECT_EQ(nullptr, RwFrameGetParent(clone));
    EXPECT_TRUE(NearMatrix(RefGeneral(), *RwFrameGetWorldMatrix(ca1), 1e-5));

    RwFrameUpdateRoots(root);
    EXPECT_EQ(root, root->root);
    EXPECT_EQ(root, a1->root);
    RwFrameDestroyHierarchy(clone);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, CloneFailureLeavesNothingAndRestoresSourceRoots)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *a = Child(root);
    RwFrame *b = Child(a);
    counting::constructionsBeforeFailure = 2;
    EXPECT_EQ(nullptr, RwFrameCloneHierarchy(root));
    EXPECT_EQ(3, counting::live);
    EXPECT_EQ(root, b->root);
    EXPECT_EQ(root, a->root);
    // An extension that cannot copy its data fails the clone the same way.
    counting::constructionsBeforeFailure = -1;
    counting::copiesBeforeFailure = 1;
    EXPECT_EQ(nullptr, RwFrameCloneHierarchy(root));
    counting::copiesBeforeFailure = -1;
    EXPECT_EQ(3, counting::live);
    EXPECT_EQ(root, b->root);
    EXPECT_EQ(root, a->root);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, DestroyingAMiddleFrameOrphansChildrenAsDirtyRoots)
{
    RwFrame *root = RwFrameCreate();
    RwFrame *mid = Child(root);
    RwFrame *leaf = Child(mid);
    RwFrame *leaf2 = Child(leaf);
    Move(root, 1, 0, 0);
    Move(mid, 1, 0, 0);
    RwFrameSyncDirtyList();
    EXPECT_TRUE(NearV3({2, 0, 0}, Ref(leaf2->ltm.pos), 0));

    RwFrameDestroy(mid);
    EXPECT_EQ(nullptr, root->child);
    EXPECT_EQ(nullptr, RwFrameGetParent(leaf));
    EXPECT_EQ(leaf, leaf2->root);
    EXPECT_TRUE(OnDirtyList(leaf));
    RwFrameSyncDirtyList();
    EXPECT_TRUE(NearV3({0, 0, 0}, Ref(leaf2->ltm.pos), 0));

    // A queued root leaves the list without disturbing the others on it.
    Move(root, 1, 0, 0);
    RwFrameDestroyHierarchy(leaf);
    EXPECT_EQ(&root->inDirtyListLink, RwEngineInstance->dirtyFrameList.next);
    EXPECT_EQ(&root->inDirtyListLink, RwEngineInstance->dirtyFrameList.prev);
    RwFrameDestroy(root);
    EXPECT_TRUE(DirtyListEmpty());
    EXPECT_TRUE(RwFrameDestroyHierarchy(nullptr));
}

TEST_F(Frame, RemovedChildTakesItsOwnModellingMatrixAsWorldMatrix)
{
    RwFrame *parent = RwFrameCreate();
    RwFrame *child = Child(parent);
    RwFrame *grandchild = Child(child);
    Move(parent, 10, 20, 30);
    Move(child, 0, 0, 1);
    Move(grandchild, 2, 0, 0);
    Watcher w;
    RwObjectHasFrameSetFrame(&w, grandchild);
    RwFrameSyncDirtyList();
    EXPECT_TRUE(NearV3({12, 20, 31}, Ref(grandchild->ltm.pos), 0));
    w.syncs = 0;

    EXPECT_EQ(child, RwFrameRemoveChild(child));
    EXPECT_EQ(nullptr, RwFrameGetParent(child));
    EXPECT_EQ(nullptr, parent->child);
    EXPECT_EQ(child, RwFrameGetRoot(grandchild));
    EXPECT_TRUE(OnDirtyList(child));
    EXPECT_TRUE(NearV3({0, 0, 1}, Ref(RwFrameGetWorldMatrix(child)->pos), 0));
    EXPECT_TRUE(NearV3({2, 0, 1}, Ref(RwFrameGetWorldMatrix(grandchild)->pos), 0));
    RwFrameSyncDirtyList();
    EXPECT_EQ(1, w.syncs);
    // A root has nothing to leave.
    EXPECT_EQ(parent, RwFrameRemoveChild(parent));
    EXPECT_FALSE(OnDirtyList(parent));
    RwObjectHasFrameSetFrame(&w, nullptr);
    RwFrameDestroyHierarchy(child);
    RwFrameDestroy(parent);
}

TEST_F(Frame, DeepChainSyncsAndDestroysWithoutRecursion)
{
    const int depth = 20000;
    RwFrame *root = RwFrameCreate();
    RwFrame *tip = root;
    for (int i = 1; i < depth; ++i) {
        tip = Child(tip);
        ASSERT_NE(nullptr, tip);
        Move(tip, 0, 0, 1);
    }
    RwFrameSyncDirtyList();
    EXPECT_FLOAT_EQ(static_cast<float>(depth - 1), tip->ltm.pos.z);
    RwFrameDestroyHierarchy(root);
}

TEST_F(Frame, TransformsRefuseABadCombineWithoutMarking)
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
    EXPECT_TRUE(RwFrameIsDirty(f));
    RwFrameDestroy(f);
}

// A frame-list struct: count, then per frame right, up, at, pos, parent index
// and an unused word; then per frame an extension chunk holding the counting
// extension's word (none when it is 0).
struct FrameSpec {
    RefMatrix m;
    RwInt32 parent;
    RwInt32 word;
};

const RwInt32 kCountOfFrames = 0x7EEEEEEE;   // the count word says how many frames follow

Bytes FrameListBytes(const std::vector<FrameSpec> &frames, RwInt32 count = kCountOfFrames,
                     RwUInt32 stamp = 0x1C020055, RwUInt32 extraStructBytes = 0)
{
    Bytes b;
    PutHeader(b, 1, 4 + 56 * static_cast<RwUInt32>(frames.size()) + extraStructBytes, stamp);
    Put32(b, static_cast<RwUInt32>(count == kCountOfFrames ? static_cast<RwInt32>(frames.size()) : count));
    for (const FrameSpec &f : frames) {
        for (const RefV3 &r : f.m.r) {
            PutReals(b, {float(r.x), float(r.y), float(r.z)});
        }
        Put32(b, static_cast<RwUInt32>(f.parent));
        Put32(b, 0x00020003);
    }
    b.insert(b.end(), extraStructBytes, 0xEE);
    for (const FrameSpec &f : frames) {
        PutHeader(b, 3, f.word ? 16 : 0);
        if (f.word) {
            PutHeader(b, kExtensionID, 4);
            Put32(b, static_cast<RwUInt32>(f.word));
        }
    }
    return b;
}

RwFrameList *ReadList(Bytes &b, RwFrameList *list, size_t n = static_cast<size_t>(-1))
{
    RwStream *s = OpenRead(b, n);
    RwFrameList *result = RwFrameListStreamRead(s, list);
    EXPECT_TRUE(result == nullptr || Unread(s) == 0);
    RwStreamClose(s, nullptr);
    return result;
}

TEST_F(Frame, ListReadsHierarchiesMatricesAndExtensions)
{
    const RefMatrix rot = RefRotation({0, 0, 1}, 90, {1, 0, 0});
    const RefMatrix mirror = RefScaling(-1, 1, 1), stretch = RefScaling(1, 1.2, 1);
    Bytes b = FrameListBytes({{rot, -1, 11}, {RefTranslation(0, 2, 0), 0, 12}, {RefTranslation(0, 0, 3), 0, 13},
                              {RefGeneral(), 2, 0}, {mirror, -1, 0}, {stretch, 4, 0}},
                             kCountOfFrames, 0x1C020055, 8);   // struct bytes past the records are skipped
    RwFrameList list;
    ASSERT_EQ(&list, ReadList(b, &list));
    ASSERT_EQ(6, list.numFrames);
    RwFrame **f = list.frames;
    EXPECT_EQ(6, counting::live);
    EXPECT_EQ(nullptr, RwFrameGetParent(f[0]));
    EXPECT_EQ(f[2], f[0]->child);   // later children go to the head
    EXPECT_EQ(f[1], f[2]->next);
    EXPECT_EQ(f[2], RwFrameGetParent(f[3]));
    EXPECT_EQ(f[0], f[3]->root);
    const RwInt32 words[6] = {11, 12, 13, 0, 0, 0};
    const RwUInt32 flags[6] = {3, 3, 3, 0, 0, 0};   // mirrored and stretched are not orthonormal
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(words[i], counting::Word(f[i])) << i;
        EXPECT_EQ(flags[i], f[i]->modelling.flags) << i;
        EXPECT_EQ(i == 0 || i == 4, OnDirtyList(f[i])) << i;
    }
    RwFrameSyncDirtyList();
    EXPECT_TRUE(NearMatrix(RefMultiply(RefMultiply(RefGeneral(), RefTranslation(0, 0, 3)), rot), f[3]->ltm, 1e-5));
    EXPECT_TRUE(NearV3({-1, 0, 0}, Ref(f[1]->ltm.pos), 1e-6));
    RwFrameDestroyHierarchy(f[0]);
    RwFrameDestroyHierarchy(f[4]);
    RwFrameListDeinitialize(&list);
    EXPECT_EQ(nullptr, list.frames);
    EXPECT_EQ(0, list.numFrames);

    Bytes none = FrameListBytes({});
    ASSERT_EQ(&list, ReadList(none, &list));
    EXPECT_EQ(0, list.numFrames);
    EXPECT_EQ(nullptr, list.frames);
}

TEST_F(Frame, ListHostileInputLeavesNoFramesAndNoMemory)
{
    const RefMatrix id = RefIdentity();
    std::vector<std::pair<Bytes, RwUInt32>> cases;
    // A parent must be an earlier frame.
    for (RwInt32 parent : {1, 2, 5, -2, 0x7FFFFFFF, static_cast<RwInt32>(0x80000000u)}) {
        cases.push_back({FrameListBytes({{id, -1, 0}, {id, parent, 0}, {id, 0, 0}}), 0x8000001A});
    }
    // The count must fit in the struct.
    for (RwInt32 count : {2, 0x40000000, 0x7FFFFFFF, -2}) {
        cases.push_back({FrameListBytes({{id, -1, 0}}, count), 0x8000001A});
    }
    cases.push_back({FrameListBytes({{id, -1, 0}}, kCountOfFrames, 0x1C030055), 0x80000004});   // version 0x37003
    cases.push_back({FrameListBytes({{id, -1, 1}, {id, 0, 2}, {id, -1, 3}, {id, 2, -1}}), 0});   // bad extension
    // Finite rows whose world matrix is not: a child's product with its parent's, or a grandchild's.
    const RefMatrix huge = RefScaling(1e38, 1, 1), far = RefTranslation(0, 3e38, 0);
    cases.push_back({FrameListBytes({{huge, -1, 0}, {huge, 0, 0}}), 0x80000020});
    cases.push_back({FrameListBytes({{id, -1, 0}, {far, 0, 0}, {far, 1, 0}}), 0x80000020});
    // A child's position carried through its parent's scale overflows.
    cases.push_back({FrameListBytes({{RefScaling(1e10, 1e10, 1e10), -1, 0}, {RefTranslation(1e30, 0, 0), 0, 0}}),
                     0x80000020});
    const RwInt32 memory = rwTestMemory.live;
    for (auto &c : cases) {
        RwFrameList list;
        EXPECT_EQ(nullptr, ReadList(c.first, &list));
        const RwUInt32 error = TakeErrorCode();
        if (c.second) {
            EXPECT_EQ(c.second, error);
        }
        EXPECT_EQ(nullptr, list.frames);
        EXPECT_EQ(0, counting::live);
        EXPECT_TRUE(DirtyListEmpty());
        EXPECT_EQ(memory, rwTestMemory.live);
    }
    // A scale of 1e20 has a finite inverse (a camera's view on it): read.
    Bytes large = FrameListBytes({{id, -1, 0}, {RefScaling(1e20, 1e20, 1), 0, 0}});
    RwFrameList read;
    ASSERT_EQ(&read, ReadList(large, &read));
    RwFrameDestroyHierarchy(read.frames[0]);
    RwFrameListDeinitialize(&read);
    // Rows of the second frame, its right and its position, infinite or not a number.
    RwFrameList list;
    ExpectNonFiniteRefused(FrameListBytes({{id, -1, 5}, {RefTranslation(1, 2, 3), 0, 6}}), {16 + 56, 16 + 56 + 44},
                           [&](RwStream *s) { return RwFrameListStreamRead(s, &list); });
    EXPECT_EQ(0, counting::live);
    // A 16-byte chunk claiming 64 million records: nothing is allocated for them.
    Bytes claim = Build().Header(1, 0xFFFFFFF0u).U32(0x04000000);
    RwFrameList none;
    EXPECT_LE(LargestRequestReading(claim, [&](RwStream *s) { EXPECT_EQ(nullptr, RwFrameListStreamRead(s, &none)); }),
              claim.size());
    EXPECT_EQ(0x8000001Au, TakeErrorCode());
    Bytes whole = FrameListBytes({{id, -1, 5}, {RefTranslation(1, 2, 3), 0, 6}, {RefGeneral(), -1, 7}});
    for (size_t n = 0; n < whole.size(); ++n) {
        RwFrameList list;
        EXPECT_EQ(nullptr, ReadList(whole, &list, n)) << n;
        EXPECT_NE(0x80000000u, TakeErrorCode()) << n;
        EXPECT_EQ(0, counting::live) << n;
        EXPECT_TRUE(DirtyListEmpty()) << n;
        EXPECT_EQ(memory, rwTestMemory.live) << n;
    }
}

// The world matrix checked is the child's modelling matrix times its
// parent's: a scaled child under a parent placed far away is finite.
TEST_F(Frame, ListChecksTheChildTimesItsParent)
{
    Bytes b = FrameListBytes({{RefTranslation(1e30, 0, 0), -1, 0}, {RefScaling(1e10, 1e10, 1e10), 0, 0}});
    RwFrameList list;
    ASSERT_EQ(&list, ReadList(b, &list));
    EXPECT_FLOAT_EQ(1e30f, list.frames[1]->ltm.pos.x);
    RwFrameDestroyHierarchy(list.frames[0]);
    RwFrameListDeinitialize(&list);
}

// Hierarchies scaled down until their world matrices' determinants leave the
// normal range (a part scaled to nothing hides it): read by the main thread,
// which flushes tiny results to zero once the engine has started, and by a
// loading thread, which does not, alike.
struct TinyScaleLists {
    std::vector<Bytes> lists;
    std::vector<bool> read;

    TinyScaleLists()
    {
        lists.push_back(FrameListBytes({{RefScaling(1e-20, 1e-20, 1), -1, 0}}));
        for (double s : {1e-13, 1e-14, 1e-15}) {
            lists.push_back(FrameListBytes({{RefScaling(s, s, s), -1, 0}}));
        }
        lists.push_back(FrameListBytes({{RefScaling(1e-30, 1e-10, 1), -1, 0}}));
        const struct {
            double scale;
            int depth;
        } chains[] = {{0.001, 5}, {1e-5, 3}, {0.01, 8}};
        for (const auto &c : chains) {
            std::vector<FrameSpec> chain;
            for (int i = 0; i < c.depth; ++i) {
                chain.push_back({RefScaling(c.scale, c.scale, c.scale), i - 1, 0});
            }
            lists.push_back(FrameListBytes(chain));
        }
    }
    void Run()
    {
        read.clear();
        for (Bytes &b : lists) {
            RwStream *s = OpenRead(b);
            RwFrameList list;
            const bool ok = RwFrameListStreamRead(s, &list) != nullptr;
            RwStreamClose(s, nullptr);
            if (ok) {
                RwFrameDestroyHierarchy(list.frames[0]);
                RwFrameListDeinitialize(&list);
            }
            read.push_back(ok);
        }
    }
};

TEST_F(Frame, ListOfTinyScalesReadsOnEveryThread)
{
    TinyScaleLists main, loader;
    ASSERT_TRUE(RunOnMainAndLoadingThreads(&main, &loader));
    for (size_t i = 0; i < main.lists.size(); ++i) {
        EXPECT_TRUE(main.read[i]) << i;
        EXPECT_TRUE(loader.read[i]) << i;
    }
    EXPECT_EQ(0, counting::live);
    TakeError();
}

TEST_F(Frame, ListArrayAllocationFailureIsReported)
{
    Bytes b = FrameListBytes({{RefIdentity(), -1, 0}, {RefIdentity(), 0, 0}});
    const RwInt32 memory = rwTestMemory.live;
    rwTestMemory.failHint = 0x3000E;
    RwFrameList list;
    EXPECT_EQ(nullptr, ReadList(b, &list));
    rwTestMemory.failHint = 0;
    EXPECT_EQ(0x80000013u, TakeErrorCode());
    EXPECT_EQ(memory, rwTestMemory.live);
    EXPECT_EQ(0, counting::live);
}

}  // namespace
