// Tests of hierarchical animation: the frame extension in frame lists, hierarchies and their matrix update.
#include <gtest/gtest.h>

#include <vector>

#include "dff_bytes.h"
#include "gfx/core/started_engine.h"
#include "gfx/world/world.h"
#include "quat_reference.h"
#include "support/stream_bytes.h"

namespace {

void Attach()
{
    RwWorldPluginAttach();
    RwAnimPluginAttach();
    RwHAnimPluginAttach();
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

// Record of a hierarchy root: id 10, three nodes with flags 0x1000 and slots of 36 bytes.
Bytes RootRecord(RwUInt32 version = 0x100, RwUInt32 count = 3, RwUInt32 maxSize = 36, RwUInt32 lastIndex = 2,
                 RwUInt32 flags = 0x1000)
{
    Build b;
    b.U32(version).U32(10).U32(count).U32(flags).U32(maxSize);
    return b.U32(10).U32(0).U32(2).U32(11).U32(1).U32(1).U32(12).U32(lastIndex).U32(1);
}

// A frame list (frame i's parent i - 1, identity matrices) whose frames carry
// these extension records (empty: no chunk of the plug-in).
Bytes FrameList(const std::vector<Bytes> &records)
{
    const RwUInt32 n = static_cast<RwUInt32>(records.size());
    Build b;
    b.Header(1, 4 + 56 * n).U32(n);
    for (RwUInt32 i = 0; i < n; ++i) {
        PutReals(b.bytes, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
        b.U32(i - 1).U32(0);
    }
    for (const Bytes &r : records) {
        if (r.empty()) {
            b.Header(3, 0);
        } else {
            b.Header(3, 12 + static_cast<RwUInt32>(r.size())).Header(0x11E, static_cast<RwUInt32>(r.size()));
            b.bytes.insert(b.bytes.end(), r.begin(), r.end());
        }
    }
    return b;
}

std::vector<Bytes> GoodRecords() { return {RootRecord(), Build().U32(0x100).U32(11).U32(0), Bytes()}; }

RwFrameList *ReadList(Bytes &bytes, RwFrameList *list, size_t n = static_cast<size_t>(-1))
{
    return ReadWith(bytes, [&](RwStream *s) { return RwFrameListStreamRead(s, list); }, n);
}

void DestroyList(RwFrameList *list)
{
    RwFrameDestroyHierarchy(list->frames[0]);
    RwFrameListDeinitialize(list);
}

TEST(HAnimFrame, ExtensionRecordsReadFromAFrameListAndWriteBack)
{
    Bytes bytes = FrameList(GoodRecords());
    RwFrameList list;
    ASSERT_NE(nullptr, ReadList(bytes, &list));
    ASSERT_EQ(3, list.numFrames);
    RwHAnimHierarchy *h = RwHAnimFrameGetHierarchy(list.frames[0]);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(3, h->numNodes);
    EXPECT_EQ(0x1000, h->flags);
    EXPECT_EQ(list.frames[0], h->parentFrame);
    EXPECT_EQ(h, h->parentHierarchy);
    EXPECT_EQ(36, h->currentAnim->maxInterpKeyFrameSize);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(h->pMatrixArray) % 16);
    EXPECT_EQ(12, h->pNodeInfo[2].nodeID);
    EXPECT_EQ(1, h->pNodeInfo[1].flags);
    EXPECT_EQ(11, RwHAnimFrameGetID(list.frames[1]));
    EXPECT_EQ(-1, RwHAnimFrameGetID(list.frames[2]));
    const std::vector<Bytes> records = GoodRecords();
    EXPECT_EQ(0, RwHAnimFrameStreamGetSize(list.frames[2]));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(static_cast<RwInt32>(records[i].size()), RwHAnimFrameStreamGetSize(list.frames[i]));
        EXPECT_EQ(records[i], WrittenWith([&](RwStream *w) { return RwHAnimFrameStreamWrite(list.frames[i], w); }));
    }
    RwHAnimHierarchyAttach(h);
    EXPECT_EQ(list.frames[0], h->pNodeInfo[0].pFrame);
    EXPECT_EQ(list.frames[1], h->pNodeInfo[1].pFrame);
    EXPECT_EQ(nullptr, h->pNodeInfo[2].pFrame);
    DestroyList(&list);
}

TEST(HAnimFrame, HostileRecordsFailTheReadWithoutLeaks)
{
    const RwInt32 live = rwTestMemory.live;
    Bytes pushes = Build().U32(0x100).U32(1).U32(33).U32(0).U32(36);
    for (RwUInt32 i = 0; i < 33; ++i) {
        Put32(pushes, i), Put32(pushes, i), Put32(pushes, 2);
    }
    struct { Bytes record; RwUInt32 code; } cases[] = {
        {RootRecord(0x101), E_RW_BADVERSION},
        {RootRecord(0x100, 4), E_RW_READ},            // more nodes than the chunk holds
        {RootRecord(0x100, 0x80000000u), E_RW_READ},
        {RootRecord(0x100, 0x15555556u), E_RW_READ},  // 12 x n overflows
        {RootRecord(0x100, 3, 0), E_RW_READ},
        {RootRecord(0x100, 3, 37), E_RW_READ},        // slots larger than any scheme's
        {RootRecord(0x100, 3, 0x7FFFFFFF), E_RW_READ},
        {pushes, E_RW_READ},                          // 33 pushes: deeper than the stack
    };
    for (auto &c : cases) {
        TakeError();
        Bytes bytes = FrameList({c.record});
        RwFrameList list;
        EXPECT_EQ(nullptr, ReadList(bytes, &list));
        EXPECT_EQ(c.code, static_cast<RwUInt32>(TakeError().errorCode));
        EXPECT_EQ(live, rwTestMemory.live);
    }
    Bytes good = FrameList(GoodRecords());
    for (size_t n = 0; n < good.size(); ++n) {
        RwFrameList list;
        EXPECT_EQ(nullptr, ReadList(good, &list, n)) << n;
        EXPECT_EQ(live, rwTestMemory.live) << n;
    }
}

TEST(HAnimFrame, RecordsCannotTakeTheMatricesAwayAndStrayIndicesRead)
{
    // "No matrices" and "sub-hierarchy" are the program's to set; a node
    // index outside the node range is kept as read and used by nothing.
    Bytes bytes = FrameList({RootRecord(0x100, 3, 36, 0x7FFF, 0x1003), Build().U32(0x100).U32(11).U32(0), Bytes()});
    RwFrameList list;
    ASSERT_NE(nullptr, ReadList(bytes, &list));
    RwHAnimHierarchy *h = RwHAnimFrameGetHierarchy(list.frames[0]);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0x1000, h->flags);
    ASSERT_NE(nullptr, h->pMatrixArray);
    EXPECT_EQ(0x7FFF, h->pNodeInfo[2].nodeIndex);
    RwHAnimHierarchyAttach(h);
    EXPECT_TRUE(RwHAnimHierarchyUpdateMatrices(h));
    EXPECT_EQ(1.0f, h->pMatrixArray[2].right.x);
    DestroyList(&list);
}

TEST(HAnimFrame, NoRequestOutgrowsWhatTheRecordCouldFill)
{
    // Held so that the frame and hierarchy pools keep their blocks out of the count.
    RwFrame *keep = RwFrameCreate();
    RwHAnimHierarchy *held = RwHAnimHierarchyCreate(1, nullptr, nullptr, 0, 36);
    for (RwUInt32 slot : {36u, 37u, 0x10000u, 0x7FFFFFFFu}) {
        Bytes bytes = FrameList({RootRecord(0x100, 3, slot)});
        const size_t largest = LargestRequestReading(bytes, [](RwStream *s) {
            RwFrameList list;
            if (RwFrameListStreamRead(s, &list)) {
                DestroyList(&list);
            }
        });
        EXPECT_LE(largest, 8 * bytes.size()) << slot;
        TakeError();
    }
    RwHAnimHierarchyDestroy(held);
    RwFrameDestroy(keep);
}

// Six nodes: 0 is followed by its child 1; 1 has siblings after its subtree
// (push); its child 2 ends the branch (pop back to 0); 3 pushes and pops, so
// 4 also hangs under 0; 4 pops an empty stack, so 5 hangs where 0 does
// (its frame, beside the hierarchy's root frame, is not attached).
const int kNodes = 6;
const RwInt32 kFlags[kNodes] = {0, 2, 1, 3, 1, 0};
const RwInt32 kIDs[kNodes] = {10, 11, 12, 13, 14, 15};
const int kParent[kNodes] = {-1, 0, 1, 0, 0, -1};

struct Skeleton {
    RwFrame *top = RwFrameCreate();     // above the hierarchy's root frame
    RwFrame *frames[kNodes];
    RwAnimAnimation *anim;
    std::vector<RefMatrix> local;
    RefMatrix topWorld = RefRotation({1, 2, 3}, 30, {5, -6, 7});

    explicit Skeleton(RwInt32 numNodes = kNodes, uint32_t seed = 5)
    {
        const RwMatrix m = MakeMatrix(topWorld, 0);
        RwFrameTransform(top, &m, rwCOMBINEREPLACE);
        for (int i = 0; i < kNodes; ++i) {
            frames[i] = RwFrameCreate();
            RwHAnimFrameSetID(frames[i], kIDs[i]);
            RwFrameAddChild(kParent[i] < 0 ? top : frames[kParent[i]], frames[i]);
        }
        // Keyframes at 0 and 1 per node; played to 0.37.
        TestRandom random(seed);
        anim = RwAnimAnimationCreate(1, 2 * numNodes, 0, 1.0f);
        RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(anim->pFrames);
        for (int i = 0; i < 2 * numNodes; ++i) {
            k[i] = {i < numNodes ? nullptr : &k[i - numNodes], i < numNodes ? 0.0f : 1.0f, RandomQuat(random),
                    RandomV3(random)};
        }
        for (int i = 0; i < numNodes; ++i) {
            const RwHAnimKeyFrame &a = k[i], &b = k[numNodes + i];
            const RefV3 t = RefAdd(RefScale(Ref(a.t), 0.63), RefScale(Ref(b.t), 0.37));
            local.push_back(RefFromQuat(RefSlerp(Ref(a.q), Ref(b.q), 0.37), t));
        }
        anim = AnimThroughStream(anim);
    }
    ~Skeleton()
    {
        RwFrameDestroyHierarchy(top);
        RwAnimAnimationDestroy(anim);
    }
    RwHAnimHierarchy *Hierarchy(RwInt32 flags)
    {
        RwHAnimHierarchy *h = RwHAnimHierarchyCreate(kNodes, kFlags, kIDs, flags, 36);
        RwHAnimFrameSetHierarchy(frames[0], h);
        RwHAnimHierarchyAttach(h);
        Play(h->currentAnim);
        return h;
    }
    void Play(RwAnimInterpolator *in)
    {
        EXPECT_TRUE(RwAnimInterpolatorSetCurrentAnim(in, anim));
        RwAnimInterpolatorAddTime(in, 0.37f);
    }
    RefMatrix Node(int i, const RefMatrix &start) const
    {
        return RefMultiply(local[i], kParent[i] < 0 ? start : Node(kParent[i], start));
    }
};

TEST(HAnimHierarchy, UpdateMatchesAnIndependentComputation)
{
    const RwInt32 cases[] = {0, 0x4000, 0x1000, 0x2000, 0x2000 | 0x4000, 0x02 | 0x1000, 0x02 | 0x2000};
    for (RwInt32 flags : cases) {
        SCOPED_TRACE(flags);
        Skeleton s;
        RwHAnimHierarchy *h = s.Hierarchy(flags);
        EXPECT_EQ(s.frames[3], h->pNodeInfo[3].pFrame);
        RwFrameSyncDirtyList();
        ASSERT_TRUE(RwHAnimHierarchyUpdateMatrices(h));
        const RefMatrix start = (flags & 0x4000) ? RefIdentity() : s.topWorld;
        for (int i = 0; i < kNodes; ++i) {
            if (!(flags & 0x02)) {
                EXPECT_TRUE(NearMatrix(s.Node(i, start), h->pMatrixArray[i], 2e-4)) << i;
            }
            ASSERT_EQ(i < 5 ? s.frames[i] : nullptr, h->pNodeInfo[i].pFrame);
            if (!h->pNodeInfo[i].pFrame) {
                continue;
            }
            if (flags & 0x2000) {
                EXPECT_TRUE(NearMatrix(s.Node(i, s.topWorld), s.frames[i]->ltm, 2e-4)) << i;
            }
            if (flags & 0x1000) {
                EXPECT_TRUE(NearMatrix(s.Node(i, s.topWorld), *RwFrameGetWorldMatrix(s.frames[i]), 2e-4)) << i;
            }
        }
        if (flags & 0x2000) {
            EXPECT_TRUE(RwFrameIsDirty(s.top));   // queued so that the frames' objects are synced
        }
    }
}

TEST(HAnimHierarchy, SlotsSmallerThanASkeletonSlotLeaveNodesAtTheirParent)
{
    // Without a motion the update reads the slots in place; 8-byte slots hold
    // no pose, and reading one as a skeleton slot runs into the next ones.
    const RwInt32 numNodes = 4;
    RwHAnimHierarchy *h = RwHAnimHierarchyCreate(numNodes, nullptr, nullptr, 0x4000, 8);
    ASSERT_NE(nullptr, h);
    RwAnimInterpolator *in = h->currentAnim;
    ASSERT_EQ(8, in->currentInterpKeyFrameSize);
    RwReal *slots = static_cast<RwReal *>(RwAnimInterpolatorGetInterpFrame(in, 0));
    for (RwInt32 i = 0; i < numNodes * 2; ++i) {
        slots[i] = 0.5f;
    }
    ASSERT_TRUE(RwHAnimHierarchyUpdateMatrices(h));
    for (RwInt32 i = 0; i < numNodes; ++i) {
        const RwMatrix &m = h->pMatrixArray[i];
        EXPECT_FLOAT_EQ(1.0f, m.right.x) << i;
        EXPECT_FLOAT_EQ(1.0f, m.up.y) << i;
        EXPECT_FLOAT_EQ(1.0f, m.at.z) << i;
        EXPECT_FLOAT_EQ(0.0f, m.pos.x) << i;
        EXPECT_FLOAT_EQ(0.0f, m.pos.y) << i;
    }
    RwHAnimHierarchyDestroy(h);
}

TEST(HAnimHierarchy, ClumpReadFromItsStreamPlaysItsHierarchy)
{
    // The clump's root is the skeleton's top frame; node records come from its frames.
    Skeleton s;
    RwHAnimFrameSetHierarchy(s.frames[0], RwHAnimHierarchyCreate(kNodes, kFlags, kIDs, 0x1000, 36));
    std::vector<RwFrame *> frames = {s.top};
    frames.insert(frames.end(), s.frames, s.frames + kNodes);
    Bytes bytes = DffClump(DffFrameList(frames), {}, {});
    RwClumpDestroy(ReadDff(bytes));   // free lists let go of blocks they emptied
    const RwInt32 live = rwTestMemory.live;
    RwClump *clump = ReadDff(bytes);
    ASSERT_NE(nullptr, clump);
    RwHAnimHierarchy *h = DffFindHierarchy(RwClumpGetFrame(clump));
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(0x1000, h->flags);
    RwHAnimHierarchyAttach(h);
    s.Play(h->currentAnim);
    ASSERT_TRUE(RwHAnimHierarchyUpdateMatrices(h));
    for (int i = 0; i < kNodes; ++i) {
        EXPECT_TRUE(NearMatrix(s.Node(i, s.topWorld), h->pMatrixArray[i], 2e-4)) << i;
        RwFrame *f = h->pNodeInfo[i].pFrame;
        ASSERT_EQ(i < 5, f != nullptr) << i;   // node 5's frame is beside the hierarchy's root
        if (f) {
            EXPECT_EQ(kIDs[i], RwHAnimFrameGetID(f));
            EXPECT_EQ(RwClumpGetFrame(clump), RwFrameGetRoot(f));
            EXPECT_TRUE(NearMatrix(s.Node(i, s.topWorld), *RwFrameGetWorldMatrix(f), 2e-4)) << i;
        }
    }
    RwClumpDestroy(clump);
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST(HAnimHierarchy, SubHierarchiesUpdateTheirPartOfTheParent)
{
    Skeleton s;
    Skeleton other(2, 77);
    RwHAnimHierarchy *h = s.Hierarchy(0);
    const struct { RwInt32 start, count, rootParent; } cases[] = {{1, 2, 0}, {3, 1, 0}, {0, 5, -1}, {4, 1, 0}, {5, 1, -1}};
    for (auto &c : cases) {
        RwHAnimHierarchy *sub = RwHAnimHierarchyCreateSubHierarchy(h, c.start, 0, 36);
        ASSERT_NE(nullptr, sub);
        EXPECT_EQ(c.count, sub->numNodes);
        EXPECT_EQ(c.rootParent, sub->rootParentOffset);
        EXPECT_EQ(h->pNodeInfo[c.start].pFrame, sub->parentFrame);
        RwHAnimHierarchyDestroy(sub);
    }
    RwHAnimHierarchy *sub = RwHAnimHierarchyCreateSubHierarchy(h, 1, 0, 36);
    other.Play(sub->currentAnim);
    RwHAnimHierarchyUpdateMatrices(h);
    RwHAnimHierarchyUpdateMatrices(sub);
    const RefMatrix node0 = s.Node(0, s.topWorld);
    const RefMatrix node1 = RefMultiply(other.local[0], node0);
    EXPECT_TRUE(NearMatrix(node0, h->pMatrixArray[0], 2e-4));
    EXPECT_TRUE(NearMatrix(node1, h->pMatrixArray[1], 2e-4));
    EXPECT_TRUE(NearMatrix(RefMultiply(other.local[1], node1), h->pMatrixArray[2], 2e-4));
    EXPECT_TRUE(NearMatrix(s.Node(5, s.topWorld), h->pMatrixArray[5], 2e-4));
    RwHAnimHierarchyDestroy(sub);
    EXPECT_EQ(nullptr, RwHAnimHierarchyCreateSubHierarchy(h, kNodes, 0, 36));
}

TEST(HAnimHierarchy, CreateRefusesStacksDeeperThanTheUpdateHolds)
{
    std::vector<RwInt32> flags(33, rwHANIMPUSHPARENTMATRIX);
    EXPECT_EQ(nullptr, RwHAnimHierarchyCreate(33, flags.data(), nullptr, 0, 36));
    flags[32] = rwHANIMPOPPARENTMATRIX;
    RwHAnimHierarchy *h = RwHAnimHierarchyCreate(33, flags.data(), nullptr, 0, 36);
    ASSERT_NE(nullptr, h);
    EXPECT_TRUE(RwHAnimHierarchyUpdateMatrices(h));
    RwHAnimHierarchyDestroy(h);
    EXPECT_EQ(nullptr, RwHAnimHierarchyCreate(2, nullptr, nullptr, 0, 0));
}

TEST(HAnimHierarchy, ClonedFramesCarryAnUnattachedCopy)
{
    const RwInt32 live = rwTestMemory.live;
    {
        Skeleton s;
        RwHAnimHierarchy *h = s.Hierarchy(0x1000);
        RwFrame *clone = RwFrameCloneHierarchy(s.frames[0]);
        RwHAnimHierarchy *copy = RwHAnimFrameGetHierarchy(clone);
        ASSERT_NE(nullptr, copy);
        EXPECT_NE(h, copy);
        EXPECT_EQ(clone, copy->parentFrame);
        EXPECT_EQ(13, copy->pNodeInfo[3].nodeID);
        EXPECT_EQ(nullptr, copy->pNodeInfo[3].pFrame);
        RwFrameDestroyHierarchy(clone);
    }
    EXPECT_EQ(live, rwTestMemory.live);
}

// Last: the engine restarts.
TEST(HAnimPlugin, RestartRegistersSchemeOneAgain)
{
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(nullptr, RwAnimGetInterpolatorInfo(1));
    ASSERT_TRUE(RwEngineStart());
    ASSERT_NE(nullptr, RwAnimGetInterpolatorInfo(1));
    EXPECT_EQ(RwHAnimKeyFrameToMatrix, RwAnimGetInterpolatorInfo(1)->keyFrameApplyCB);
}

}  // namespace
