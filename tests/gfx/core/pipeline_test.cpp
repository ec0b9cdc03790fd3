#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "gfx/core/pipeline.h"
#include "started_engine.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine());

RxClusterDefinition clusterX = {"X", 4, 0, nullptr};
RxClusterDefinition clusterY = {"Y", 4, 0, nullptr};

std::vector<std::string> calls;   // "init:name", "node:name", "config:name", "term:name", "defterm:name"
int failNodeInit = -1;            // node inits left before one fails

RwBool DefInit(RxPipelineNodeDefinition *d)
{
    calls.push_back(std::string("init:") + d->name);
    return TRUE;
}
void DefTerm(RxPipelineNodeDefinition *d) { calls.push_back(std::string("defterm:") + d->name); }
RwBool NodeInit(RxPipelineNode *n)
{
    if (failNodeInit == 0) {
        return FALSE;
    }
    --failNodeInit;
    calls.push_back(std::string("node:") + n->nodeDef->name);
    return TRUE;
}
void NodeTerm(RxPipelineNode *n) { calls.push_back(std::string("term:") + n->nodeDef->name); }
RwBool NodeConfig(RxPipelineNode *n, RxPipeline *) 
{
    calls.push_back(std::string("config:") + n->nodeDef->name);
    return TRUE;
}

// A node definition with its own output and cluster tables.
struct Def {
    RxPipelineNodeDefinition d = {};
    RxOutputSpec outs[33] = {};
    RwUInt32 states[33][33] = {};
    RxClusterRef refs[33] = {};
    RwUInt32 reqs[33] = {};

    explicit Def(const char *name, RwUInt32 outputs = 1, RxNodeBodyFn body = nullptr, RwUInt32 privateSize = 0)
    {
        d = {name, body, DefInit, DefTerm, NodeInit, NodeTerm, NodeConfig, nullptr, 0, refs, reqs, outputs, outs,
             privateSize, 0, 0};
        for (RwUInt32 o = 0; o < 33; ++o) {
            outs[o] = {"out", states[o], rxCLVALID_NOCHANGE};
        }
    }
    // A cluster of interest with its input requirement and its state per output.
    Def &Cluster(RxClusterDefinition *cd, RwUInt32 requirement, std::initializer_list<RwUInt32> outputStates,
                 RwUInt32 force = 0)
    {
        const RwUInt32 i = d.numClustersOfInterest++;
        refs[i] = {cd, force, 0};
        reqs[i] = requirement;
        RwUInt32 o = 0;
        for (RwUInt32 s : outputStates) {
            states[o++][i] = s;
        }
        return *this;
    }
    operator RxPipelineNodeDefinition *() { return &d; }
};

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        failNodeInit = -1;
        TakeError();
        keep = RwPipelineCreate();   // holds the free list's block, which goes when it empties
        live = rwTestMemory.live;
    }
    void TearDown() override
    {
        EXPECT_EQ(live, rwTestMemory.live) << "blocks leaked";
        RwPipelineDestroy(keep);
        TakeError();
    }
    RxPipeline *keep = nullptr;
    // A locked pipeline of single nodes, with the given links (from, output, to).
    static RxPipeline *Graph(std::initializer_list<RxPipelineNodeDefinition *> defs,
                             std::initializer_list<std::initializer_list<RwUInt32>> links)
    {
        RxPipeline *p = RwPipelineLock(RwPipelineCreate());
        for (RxPipelineNodeDefinition *d : defs) {
            EXPECT_TRUE(RwPipelineAddFragment(p, nullptr, d, nullptr));
        }
        for (auto l : links) {
            const RwUInt32 *v = l.begin();
            EXPECT_TRUE(RwPipelineLinkNodes(p, v[0], v[1], v[2]));
        }
        return p;
    }
    RwInt32 live = 0;
};

TEST_F(Pipeline, EditingErrors)
{
    Def a("a"), wide("wide", 33), many("many");
    for (int i = 0; i < 33; ++i) {
        many.Cluster(reinterpret_cast<RxClusterDefinition *>(0x1000 + 16 * i), rxCLREQ_OPTIONAL, {});
    }
    RxPipeline *p = RwPipelineCreate();
    EXPECT_EQ(nullptr, RwPipelineUnlock(nullptr));
    EXPECT_EQ(0x80000016u, TakeErrorCode());
    EXPECT_EQ(nullptr, RwPipelineAddFragment(nullptr, nullptr, a, nullptr));
    EXPECT_EQ(0x80000016u, TakeErrorCode());
    EXPECT_EQ(nullptr, RwPipelineUnlock(p));
    EXPECT_EQ(52u, TakeErrorCode());
    EXPECT_EQ(nullptr, RwPipelineAddFragment(p, nullptr, a, nullptr));
    EXPECT_EQ(52u, TakeErrorCode());

    ASSERT_EQ(p, RwPipelineLock(p));
    EXPECT_EQ(nullptr, RwPipelineAddFragment(p, nullptr, nullptr));   // empty list: no error
    EXPECT_EQ(0x80000000u, TakeErrorCode());
    EXPECT_EQ(nullptr, RwPipelineAddFragment(p, nullptr, wide, nullptr));
    EXPECT_EQ(41u, TakeErrorCode());
    EXPECT_EQ(nullptr, RwPipelineAddFragment(p, nullptr, many, nullptr));
    EXPECT_EQ(40u, TakeErrorCode());
    Def end("end", 0);
    EXPECT_EQ(nullptr, RwPipelineAddFragment(p, nullptr, &a.d, &end.d, &a.d, nullptr));   // "end" cannot link on
    EXPECT_EQ(0u, p->numNodes);
    EXPECT_EQ(0x80000000u, TakeErrorCode());

    RxPipelineNodeDefinition *const d = a;
    RwUInt32 first = 99;
    ASSERT_TRUE(RwPipelineAddFragment(p, &first, d, d, d, nullptr));
    EXPECT_EQ(0u, first);
    EXPECT_EQ(1u, p->nodes[0].outputs[0]);
    EXPECT_EQ(2u, p->nodes[1].outputs[0]);
    EXPECT_EQ(rxNODEUNUSED, p->nodes[2].outputs[0]);
    while (p->numNodes < 63) {
        ASSERT_TRUE(RwPipelineAddFragment(p, nullptr, d, nullptr));
    }
    EXPECT_EQ(nullptr, RwPipelineAddFragment(p, &first, d, d, nullptr));   // would make 65
    EXPECT_EQ(42u, TakeErrorCode());
    EXPECT_EQ(63u, p->numNodes);
    EXPECT_TRUE(RwPipelineAddFragment(p, &first, d, nullptr));
    EXPECT_EQ(63u, first);
    EXPECT_EQ(rxNODEUNUSED, p->nodes[63].outputs[0]);   // a new fragment is not linked to the old nodes
    RwPipelineDestroy(p);
    EXPECT_TRUE(calls.empty());
}

TEST_F(Pipeline, UnlockRefusesBadGraphsAndStaysLocked)
{
    Def a("a", 2), b("b", 2), c("c", 2);
    const struct {
        std::initializer_list<std::initializer_list<RwUInt32>> links;
        RwUInt32 entry;
        RwUInt32 error;
    } cases[] = {
        {{{0, 0, 1}, {1, 0, 2}, {2, 0, 0}}, 0, 36},   // the entry node has an input
        {{{0, 0, 1}}, 0, 34},                          // node 2 has none
        {{{0, 0, 1}, {1, 0, 2}, {2, 0, 1}}, 0, 28},   // cycle behind the entry
        {{{0, 0, 1}, {0, 1, 2}}, 3, 36},              // entry index out of range
    };
    for (const auto &k : cases) {
        RxPipeline *p = Graph({a, b, c}, k.links);
        p->entryPoint = k.entry;
        EXPECT_EQ(nullptr, RwPipelineUnlock(p));
        EXPECT_EQ(k.error, TakeErrorCode());
        EXPECT_TRUE(p->locked);
        RwPipelineDestroy(p);
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(Pipeline, UnlockPutsTheEntryFirstAndEveryNodeAfterItsInputs)
{
    Def a("a", 2), b("b", 2), c("c", 2), d("d", 2);
    // d feeds b and c, both feed a; c also feeds b.
    RxPipeline *p = Graph({a, b, c, d}, {{3, 0, 1}, {3, 1, 2}, {1, 0, 0}, {2, 0, 0}, {2, 1, 1}});
    p->entryPoint = 3;
    ASSERT_EQ(p, RwPipelineUnlock(p));
    EXPECT_FALSE(p->locked);
    EXPECT_EQ(0u, p->entryPoint);
    std::string order;
    for (RwUInt32 i = 0; i < 4; ++i) {
        order += p->nodes[i].nodeDef->name;
        for (RwUInt32 o = 0; o < 2; ++o) {
            const RwUInt32 t = p->nodes[i].outputs[o];
            if (t != rxNODEUNUSED) {
                EXPECT_GT(t, i);
            }
        }
    }
    EXPECT_EQ("dcba", order);
    EXPECT_EQ("a", std::string(p->nodes[p->nodes[2].outputs[0]].nodeDef->name));
    // Relocking keeps the order and links.
    ASSERT_EQ(p, RwPipelineLock(p));
    EXPECT_EQ(2u, p->nodes[1].outputs[1]);
    RwPipelineDestroy(p);
}

TEST_F(Pipeline, DefinitionCallbacksFollowUse)
{
    Def a("a"), b("b");
    RxPipeline *p = Graph({a, b}, {{0, 0, 1}});
    RxPipeline *q = Graph({a}, {});
    ASSERT_TRUE(RwPipelineUnlock(p));
    EXPECT_EQ((std::vector<std::string>{"init:b", "node:b", "init:a", "node:a", "config:b", "config:a"}), calls);
    calls.clear();
    ASSERT_TRUE(RwPipelineUnlock(q));
    EXPECT_EQ((std::vector<std::string>{"node:a", "config:a"}), calls);
    EXPECT_EQ(2, a.d.inputPipesCnt);
    calls.clear();
    RwPipelineLock(p);
    EXPECT_EQ((std::vector<std::string>{"term:a", "term:b", "defterm:b"}), calls);
    calls.clear();
    RwPipelineDestroy(q);
    EXPECT_EQ((std::vector<std::string>{"term:a", "defterm:a"}), calls);
    calls.clear();
    RwPipelineDestroy(p);   // locked: nothing left to terminate
    EXPECT_TRUE(calls.empty());

    // A failing node init releases what was initialised; the pipeline stays editable.
    p = Graph({a, b}, {{0, 0, 1}});
    failNodeInit = 1;
    calls.clear();
    EXPECT_EQ(nullptr, RwPipelineUnlock(p));
    EXPECT_EQ((std::vector<std::string>{"init:b", "node:b", "init:a", "defterm:a", "term:b", "defterm:b"}), calls);
    EXPECT_TRUE(p->locked);
    EXPECT_EQ(0, a.d.inputPipesCnt);
    EXPECT_EQ(0, b.d.inputPipesCnt);
    failNodeInit = -1;
    EXPECT_EQ(p, RwPipelineUnlock(p));
    RwPipelineDestroy(p);
}

TEST_F(Pipeline, ClusterSlotsFollowRequirements)
{
    // make -> pass -> use: make creates X, pass hands everything on, use needs X
    // and wants Y, which nobody supplies before the entry node.
    Def make("make"), pass("pass"), use("use", 0);
    make.Cluster(&clusterX, rxCLREQ_DONTWANT, {rxCLVALID_VALID});
    use.Cluster(&clusterX, rxCLREQ_REQUIRED, {}).Cluster(&clusterY, rxCLREQ_OPTIONAL, {});
    RxPipeline *p = Graph({make, pass, use}, {{0, 0, 1}, {1, 0, 2}});
    ASSERT_EQ(p, RwPipelineUnlock(p));
    ASSERT_EQ(2u, p->packetNumClusterSlots);
    const RwUInt32 x = p->nodes[0].inputToClusterSlot[0];
    EXPECT_EQ(x, p->nodes[2].inputToClusterSlot[0]);
    EXPECT_EQ(&clusterX, p->nodes[1].slotClusterRefs[x]);
    EXPECT_EQ(1u, p->nodes[0].slotsContinue[1 + x]);
    EXPECT_EQ(0u, p->nodes[2].slotsContinue[1 + x]);
    // Y is optional input of the whole pipeline.
    ASSERT_EQ(1u, p->numInputRequirements);
    EXPECT_EQ(&clusterY, p->inputRequirements[0].clusterDef);
    EXPECT_EQ(rxCLREQ_OPTIONAL, p->inputRequirements[0].rqdOrOpt);
    EXPECT_EQ(p->nodes[2].inputToClusterSlot[1], p->inputRequirements[0].slotIndex);
    EXPECT_NE(x, p->inputRequirements[0].slotIndex);
    RwPipelineDestroy(p);

    // X lives from makeX to useX, Y from makeY on: they share the one slot.
    Def makeX("makeX"), useX("useX"), makeY("makeY"), useY("useY", 0);
    makeX.Cluster(&clusterX, rxCLREQ_DONTWANT, {rxCLVALID_VALID});
    useX.Cluster(&clusterX, rxCLREQ_REQUIRED, {rxCLVALID_INVALID});
    makeY.Cluster(&clusterY, rxCLREQ_DONTWANT, {rxCLVALID_VALID});
    useY.Cluster(&clusterY, rxCLREQ_REQUIRED, {});
    p = Graph({makeX, useX, makeY, useY}, {{0, 0, 1}, {1, 0, 2}, {2, 0, 3}});
    ASSERT_EQ(p, RwPipelineUnlock(p));
    EXPECT_EQ(1u, p->packetNumClusterSlots);
    EXPECT_EQ(0u, p->nodes[1].inputToClusterSlot[0]);
    EXPECT_EQ(0u, p->nodes[3].inputToClusterSlot[0]);
    EXPECT_EQ(0u, p->nodes[1].slotsContinue[0]);   // X goes no further than useX
    RwPipelineDestroy(p);

    // An optional cluster made invalid on the only way in is withdrawn; a required one is an error.
    Def cut("cut");
    cut.Cluster(&clusterY, rxCLREQ_DONTWANT, {rxCLVALID_INVALID});
    Def wantsX("wantsX", 0);
    wantsX.Cluster(&clusterY, rxCLREQ_OPTIONAL, {});
    p = Graph({cut, wantsX}, {{0, 0, 1}});
    ASSERT_EQ(p, RwPipelineUnlock(p));
    EXPECT_EQ(rxNODEUNUSED, p->nodes[1].inputToClusterSlot[0]);
    EXPECT_EQ(0u, p->numInputRequirements);
    RwPipelineDestroy(p);
    wantsX.reqs[0] = rxCLREQ_REQUIRED;
    p = Graph({cut, wantsX}, {{0, 0, 1}});
    EXPECT_EQ(nullptr, RwPipelineUnlock(p));
    EXPECT_EQ(29u, TakeErrorCode());
    RwPipelineDestroy(p);

    Def nullCluster("null", 0), twice("twice", 0);
    nullCluster.Cluster(nullptr, rxCLREQ_OPTIONAL, {});
    twice.Cluster(&clusterX, rxCLREQ_OPTIONAL, {}).Cluster(&clusterX, rxCLREQ_OPTIONAL, {});
    for (auto [def, error] : {std::make_pair(&nullCluster, 31u), std::make_pair(&twice, 30u)}) {
        p = Graph({*def}, {});
        EXPECT_EQ(nullptr, RwPipelineUnlock(p));
        EXPECT_EQ(error, TakeErrorCode());
        EXPECT_TRUE(p->locked);
        RwPipelineDestroy(p);
    }
}

// Bodies of the execution tests.
RwUInt8 notHeapMemory[64];
void *xData;
bool makeFails;
std::string seen;

// Puts heap data in X and memory the heap does not own (not flagged external) in Y.
RwBool MakeBody(RxPipelineNode *self, const RxPipelineNodeParam *params)
{
    RxPipeline *p = static_cast<RxPipeline *>(params->dataParam);
    RxPacket *packet = RwPacketCreate(p, self, 0);
    RxCluster &x = packet->clusters[self->inputToClusterSlot[0]];
    x.data = xData = RwHeapMalloc(params->heap, 64);
    x.inUse = 1;
    RxCluster &y = packet->clusters[self->inputToClusterSlot[1]];
    y.data = notHeapMemory;
    y.inUse = 1;
    if (makeFails) {
        return FALSE;
    }
    RxPipelineNode *next = RwPacketDispatch(p, self, 0);
    return next->nodeDef->body(next, params);
}

RwBool UseBody(RxPipelineNode *self, const RxPipelineNodeParam *params)
{
    RxPipeline *p = static_cast<RxPipeline *>(params->dataParam);
    RxPacket *packet = p->embeddedPacket;
    seen = packet->clusters[self->inputToClusterSlot[0]].data == xData ? "x" : "-";
    for (RwUInt32 s = 0; s < packet->numClusters; ++s) {
        seen += packet->clusters[s].inUse && packet->clusters[s].data == notHeapMemory ? "y" : "";
    }
    return p->embeddedPacketState == rxPKST_PENDING;
}

TEST_F(Pipeline, ExecuteDispatchesAndFreesOnlyHeapData)
{
    Def make("make", 1, MakeBody), use("use", 0, UseBody);
    make.Cluster(&clusterX, rxCLREQ_DONTWANT, {rxCLVALID_VALID}, 1)
        .Cluster(&clusterY, rxCLREQ_DONTWANT, {rxCLVALID_INVALID}, 1);
    use.Cluster(&clusterX, rxCLREQ_REQUIRED, {});
    RxPipeline *p = Graph({make, use}, {{0, 0, 1}});
    ASSERT_EQ(p, RwPipelineUnlock(p));
    RxHeap *h = RwPipelineGetHeap();
    for (bool fails : {false, true}) {
        makeFails = fails;
        seen.clear();
        EXPECT_EQ(fails ? nullptr : p, RwPipelineExecute(p, p, TRUE));
        EXPECT_EQ(fails ? "" : "x", seen);   // Y left at the dispatch
        EXPECT_EQ(rxPKST_UNUSED, p->embeddedPacketState);
        for (RwUInt32 s = 0; s < p->packetNumClusterSlots; ++s) {
            EXPECT_EQ(0u, p->embeddedPacket->clusters[s].inUse);
        }
        // X went back to the heap and merged with the free rest.
        EXPECT_EQ(1u, RwHeapGetFreeBlockCount(h));
        void *again = RwHeapMalloc(h, 64);
        EXPECT_EQ(xData, again);
        RwHeapFree(h, again);
    }
    makeFails = false;
    EXPECT_EQ(nullptr, RwPipelineExecute(nullptr, nullptr, TRUE));
    EXPECT_EQ(0x80000016u, TakeErrorCode());
    RwPipelineLock(p);
    EXPECT_EQ(nullptr, RwPipelineExecute(p, p, TRUE));   // locked: not executable
    RwPipelineDestroy(p);
}

RxPipeline *inner;
RxPipelineNodeParam seenParams;

RwBool FailBody(RxPipelineNode *, const RxPipelineNodeParam *) { return FALSE; }
RwBool OuterBody(RxPipelineNode *, const RxPipelineNodeParam *params)
{
    EXPECT_EQ(nullptr, RwPipelineExecute(inner, nullptr, FALSE));
    seenParams = *params;
    return TRUE;
}

TEST_F(Pipeline, NestedExecutionKeepsTheOuterResultAndParameters)
{
    Def outer("outer", 0, OuterBody), failing("failing", 0, FailBody);
    RxPipeline *p = Graph({outer}, {});
    inner = Graph({failing}, {});
    ASSERT_TRUE(RwPipelineUnlock(p));
    ASSERT_TRUE(RwPipelineUnlock(inner));
    int data = 5;
    EXPECT_EQ(p, RwPipelineExecute(p, &data, FALSE));
    EXPECT_EQ(&data, seenParams.dataParam);
    EXPECT_EQ(RwPipelineGetHeap(), seenParams.heap);
    RwPipelineDestroy(inner);
    RwPipelineDestroy(p);
}

TEST_F(Pipeline, EngineMemoryDefinitionGoesOnceWithItsLastNode)
{
    Def model("heap");
    RxPipelineNodeDefinition *owned = static_cast<RxPipelineNodeDefinition *>(RwMalloc(sizeof model.d, 0x30409));
    *owned = model.d;
    owned->editable = 1;
    RxPipeline *p = Graph({owned, owned, owned}, {{0, 0, 1}, {1, 0, 2}});
    ASSERT_TRUE(RwPipelineUnlock(p));
    RwPipelineLock(p);
    RwPipelineDestroy(p);   // counted by the leak check; a second free would crash the heap
}

TEST(PipelineModule, DefaultRenderStateVector)
{
    EXPECT_EQ(nullptr, RwRenderStateVectorSetDefault(nullptr));
    EXPECT_EQ(0x80000016u, TakeErrorCode());
    RwRenderStateVector v = {};
    ASSERT_EQ(&v, RwRenderStateVectorSetDefault(&v));
    const RwUInt32 want[11] = {7, 2, 5, 6, 0, 1, 1, 2, 0xFFFFFFFF, 0, 0xFFFFFFFF};
    const RwUInt32 *got = reinterpret_cast<const RwUInt32 *>(&v);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(want[i], got[i]) << i;
    }
    ASSERT_TRUE(RwEngineStop());
    EXPECT_EQ(nullptr, RwRenderStateVectorSetDefault(&v));   // before start only the module's own
    EXPECT_EQ(0x80000018u, TakeErrorCode());
    ASSERT_TRUE(RwEngineStart());
}

}  // namespace
