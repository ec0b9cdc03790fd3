// Pipeline unlock: graph checks, node ordering, cluster requirements, slot assignment and the executable layout.
#include <cstring>

#include "error.h"
#include "memory.h"
#include "modules.h"
#include "pipelineint.h"

static void Raise(RwInt32 code)
{
    RwErrorRaise(rwID_COREPLUGIN, static_cast<RwUInt32>(code));
}

// ---- ordering ------------------------------------------------------------

struct SortState {
    RxPipelineNode *nodes;
    RwUInt32 order[rxPIPELINEMAXNODES];
    RwUInt32 placed;
};

// Depth first: a target is placed once every one of its inputs has been visited.
static void Visit(SortState &s, RwUInt32 n)
{
    const RxPipelineNode &node = s.nodes[n];
    for (RwUInt32 o = 0; o < node.numOutputs; ++o) {
        const RwUInt32 t = node.outputs[o];
        if (t == rxNODEUNUSED) {
            continue;
        }
        RxPipelineNodeTopSortData *d = s.nodes[t].topSortData;
        if (++d->numInsVisited == d->numIns) {
            s.order[s.placed++] = t;
            Visit(s, t);
        }
    }
}

// Counts inputs, checks the entry node and orders the nodes so that every node
// follows all nodes that feed it; the entry node becomes node 0.
static RwBool SortNodes(RxPipeline *p)
{
    const RwUInt32 n = p->numNodes;
    RxPipelineNode *nodes = p->nodes;
    if (p->entryPoint >= n || !nodes[p->entryPoint].nodeDef) {
        Raise(E_RX_INVALIDENTRYPOINT);
        return FALSE;
    }
    for (RwUInt32 i = 0; i < n; ++i) {
        nodes[i].topSortData->numIns = 0;
        nodes[i].topSortData->numInsVisited = 0;
    }
    for (RwUInt32 i = 0; i < n; ++i) {
        for (RwUInt32 o = 0; o < nodes[i].numOutputs; ++o) {
            const RwUInt32 t = nodes[i].outputs[o];
            if (t != rxNODEUNUSED && t < n) {
                ++nodes[t].topSortData->numIns;
            } else {
                nodes[i].outputs[o] = rxNODEUNUSED;
            }
        }
    }
    for (RwUInt32 i = 0; i < n; ++i) {
        const RwUInt32 ins = nodes[i].topSortData->numIns;
        if (i == p->entryPoint && ins != 0) {
            Raise(E_RX_INVALIDENTRYPOINT);
            return FALSE;
        }
        if (i != p->entryPoint && ins == 0) {
            Raise(E_RX_NODEWITHOUTINPUT);
            return FALSE;
        }
    }
    SortState s;
    s.nodes = nodes;
    s.placed = 0;
    s.order[s.placed++] = p->entryPoint;
    Visit(s, p->entryPoint);
    if (s.placed != n) {
        Raise(E_RX_CYCLICPIPELINE);
        return FALSE;
    }
    // Move every node to its position and rename the links.
    RwUInt32 position[rxPIPELINEMAXNODES];
    for (RwUInt32 i = 0; i < n; ++i) {
        position[s.order[i]] = i;
    }
    RxPipelineNode entries[rxPIPELINEMAXNODES];
    RwUInt32 outputs[rxPIPELINEMAXNODES][rxNODEMAXOUTPUTS];
    RxPipelineNodeTopSortData records[rxPIPELINEMAXNODES];
    for (RwUInt32 i = 0; i < n; ++i) {
        entries[i] = nodes[s.order[i]];
        memcpy(outputs[i], nodes[s.order[i]].outputs, rxEDITOUTPUTSLOT);
        records[i] = *nodes[s.order[i]].topSortData;
    }
    for (RwUInt32 i = 0; i < n; ++i) {
        nodes[i] = entries[i];
        nodes[i].outputs = RwPipelineEditOutputs(p->superBlock, i);
        nodes[i].topSortData = RwPipelineEditSortData(p->superBlock, i);
        *nodes[i].topSortData = records[i];
        for (RwUInt32 o = 0; o < rxNODEMAXOUTPUTS; ++o) {
            const RwUInt32 t = outputs[i][o];
            nodes[i].outputs[o] = t == rxNODEUNUSED ? rxNODEUNUSED : position[t];
        }
    }
    p->entryPoint = 0;
    return TRUE;
}

// ---- clusters ------------------------------------------------------------

// Scratch state of one unlock: per node and distinct cluster definition.
struct Resolve {
    RxPipelineNode *nodes;
    RwUInt32 n;
    RwUInt32 c;                     // distinct cluster definitions
    RxClusterDefinition **defs;     // sorted by address
    RwUInt8 *req;                   // n x c requirement (0 none, 1 required, 2 optional)
    RwUInt16 *sources;              // n x c inputs that may still supply an optional cluster
    RwUInt8 *has;                   // n x c: the node's record has an entry
    RwUInt32 *mask;                 // n x c: outputs through which the cluster leaves
    RwUInt32 *group;                // n x c: group representative (entry id)
    RwUInt32 *slot;                 // n x c
    RwUInt32 slots;
};

// Calls fn(output, target) for every connected output of node n.
template <typename Fn>
static RwBool ForEachLink(const Resolve &r, RwUInt32 n, Fn fn)
{
    const RxPipelineNode &node = r.nodes[n];
    for (RwUInt32 o = 0; o < node.numOutputs; ++o) {
        if (node.outputs[o] != rxNODEUNUSED && !fn(o, node.outputs[o])) {
            return FALSE;
        }
    }
    return TRUE;
}

static RwUInt32 ClusterIndex(const Resolve &r, const RxClusterDefinition *def)
{
    RwUInt32 lo = 0, hi = r.c;
    while (lo < hi) {
        const RwUInt32 mid = (lo + hi) / 2;
        if (r.defs[mid] < def) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

// The cluster-of-interest index of cluster c in node n, or -1.
static RwInt32 InterestIndex(const Resolve &r, RwUInt32 n, RwUInt32 c)
{
    const RxPipelineNodeDefinition *def = r.nodes[n].nodeDef;
    for (RwUInt32 i = 0; i < def->numClustersOfInterest; ++i) {
        if (def->clustersOfInterest[i].clusterDef == r.defs[c]) {
            return static_cast<RwInt32>(i);
        }
    }
    return -1;
}

static RwUInt32 OutputState(const Resolve &r, RwUInt32 n, RwUInt32 o, RwUInt32 c)
{
    const RxOutputSpec &out = r.nodes[n].nodeDef->outputs[o];
    const RwInt32 i = InterestIndex(r, n, c);
    return i >= 0 && out.outputClusters ? out.outputClusters[i] : out.allOtherClusters;
}

// Checks every cluster of interest and collects the distinct definitions in address order.
static RwBool CollectDefinitions(Resolve &r, RxClusterDefinition **defs)
{
    r.c = 0;
    for (RwUInt32 n = r.n; n-- > 0;) {
        const RxPipelineNodeDefinition *def = r.nodes[n].nodeDef;
        for (RwUInt32 i = 0; i < def->numClustersOfInterest; ++i) {
            RxClusterDefinition *cd = def->clustersOfInterest[i].clusterDef;
            if (!cd) {
                Raise(E_RX_NULLCLUSTERDEF);
                return FALSE;
            }
            for (RwUInt32 j = 0; j < i; ++j) {
                if (def->clustersOfInterest[j].clusterDef == cd) {
                    Raise(E_RX_DUPLICATECLUSTER);
                    return FALSE;
                }
            }
            r.defs = defs;
            const RwUInt32 at = ClusterIndex(r, cd);
            if (at < r.c && defs[at] == cd) {
                continue;
            }
            memmove(defs + at + 1, defs + at, (r.c - at) * sizeof *defs);
            defs[at] = cd;
            ++r.c;
        }
    }
    r.defs = defs;
    return TRUE;
}

// An optional cluster that lost its last source leaves the node, and the
// nodes below that would have received it through this one lose a source.
static void Withdraw(Resolve &r, RwUInt32 t, RwUInt32 c)
{
    const RwUInt32 e = t * r.c + c;
    if (r.req[e] != rxCLREQ_OPTIONAL || r.sources[e] == 0 || --r.sources[e] != 0) {
        return;
    }
    r.req[e] = rxCLREQ_DONTWANT;
    ForEachLink(r, t, [&](RwUInt32 o, RwUInt32 u) -> RwBool {
        if (OutputState(r, t, o, c) == rxCLVALID_NOCHANGE) {
            Withdraw(r, u, c);
        }
        return TRUE;
    });
}

static void Require(RwUInt8 &entry, RwUInt32 requirement)
{
    if (entry == rxCLREQ_DONTWANT || requirement == rxCLREQ_REQUIRED) {
        entry = static_cast<RwUInt8>(requirement);
    }
}

// From the last node up: what each node must find in the packet.
static RwBool ResolveDependencies(Resolve &r)
{
    for (RwUInt32 n = r.n; n-- > 0;) {
        const RxPipelineNode &node = r.nodes[n];
        const RwBool linked = ForEachLink(r, n, [&](RwUInt32 o, RwUInt32 t) -> RwBool {
            for (RwUInt32 c = 0; c < r.c; ++c) {
                const RwUInt8 wanted = r.req[t * r.c + c];
                if (wanted == rxCLREQ_DONTWANT) {
                    continue;
                }
                const RwUInt32 state = OutputState(r, n, o, c);
                if (state == rxCLVALID_NOCHANGE) {
                    Require(r.req[n * r.c + c], wanted);
                } else if (state == rxCLVALID_INVALID) {
                    if (wanted == rxCLREQ_REQUIRED) {
                        Raise(E_RX_INVALIDREQUIREMENT);
                        return FALSE;
                    }
                    Withdraw(r, t, c);
                }
            }
            return TRUE;
        });
        if (!linked) {
            return FALSE;
        }
        const RxPipelineNodeDefinition *def = node.nodeDef;
        for (RwUInt32 i = 0; i < def->numClustersOfInterest; ++i) {
            const RwUInt32 want = def->inputRequirements ? def->inputRequirements[i] : rxCLREQ_DONTWANT;
            if (want == rxCLREQ_REQUIRED || want == rxCLREQ_OPTIONAL) {
                Require(r.req[n * r.c + ClusterIndex(r, def->clustersOfInterest[i].clusterDef)], want);
            }
        }
        for (RwUInt32 c = 0; c < r.c; ++c) {
            const RwUInt32 ins = node.topSortData->numIns;
            r.sources[n * r.c + c] = static_cast<RwUInt16>(ins > 0xFFFF ? 0xFFFF : ins);
        }
    }
    return TRUE;
}

// In node order: through which outputs each cluster of each node's record leaves.
static void CollectClusters(Resolve &r)
{
    for (RwUInt32 e = 0; e < r.n * r.c; ++e) {
        r.has[e] = r.req[e] != rxCLREQ_DONTWANT;
    }
    for (RwUInt32 n = 0; n < r.n; ++n) {
        const RxPipelineNodeDefinition *def = r.nodes[n].nodeDef;
        for (RwUInt32 i = 0; i < def->numClustersOfInterest; ++i) {
            if (def->clustersOfInterest[i].forcePresent) {
                r.has[n * r.c + ClusterIndex(r, def->clustersOfInterest[i].clusterDef)] = 1;
            }
        }
        ForEachLink(r, n, [&](RwUInt32 o, RwUInt32 t) -> RwBool {
            for (RwUInt32 c = 0; c < r.c; ++c) {
                if (!r.has[t * r.c + c]) {
                    continue;
                }
                const RwUInt32 e = n * r.c + c;
                const RwUInt32 state = OutputState(r, n, o, c);
                if (state == rxCLVALID_VALID) {
                    r.has[e] = 1;
                }
                if (state != rxCLVALID_INVALID && r.has[e]) {
                    r.mask[e] |= 1u << o;
                }
            }
            return TRUE;
        });
    }
}

static RwUInt32 Find(Resolve &r, RwUInt32 e)
{
    while (r.group[e] != e) {
        r.group[e] = r.group[r.group[e]];
        e = r.group[e];
    }
    return e;
}

// Entries that hand a cluster from node to node share a group; each group
// takes the lowest slot free in every node that owns one of its entries.
static RwBool AssignSlots(Resolve &r)
{
    const RwUInt32 total = r.n * r.c;
    for (RwUInt32 e = 0; e < total; ++e) {
        r.group[e] = e;
        r.slot[e] = rxNODEUNUSED;
    }
    for (RwUInt32 n = 0; n < r.n; ++n) {
        ForEachLink(r, n, [&](RwUInt32 o, RwUInt32 t) -> RwBool {
            for (RwUInt32 c = 0; c < r.c; ++c) {
                const RwUInt32 from = n * r.c + c, to = t * r.c + c;
                if (r.has[from] && r.has[to] && r.req[to] != rxCLREQ_DONTWANT && (r.mask[from] & (1u << o))) {
                    const RwUInt32 a = Find(r, from), b = Find(r, to);
                    r.group[a > b ? a : b] = a < b ? a : b;   // the earlier group stays in the list
                }
            }
            return TRUE;
        });
    }
    // Slot numbers stay below the number of entries.
    RwUInt32 entries = 0;
    for (RwUInt32 e = 0; e < total; ++e) {
        entries += r.has[e];
    }
    const RwUInt32 words = (entries + 31) / 32;
    RwUInt32 *used = static_cast<RwUInt32 *>(RwMalloc((r.n * words + 1) * sizeof(RwUInt32), rxPIPESCRATCHHINT));
    if (!used) {
        Raise(E_RX_DEPENDENCYMEMORY);
        return FALSE;
    }
    memset(used, 0, (r.n * words + 1) * sizeof(RwUInt32));
    r.slots = 0;
    for (RwUInt32 g = 0; g < total; ++g) {
        if (!r.has[g] || Find(r, g) != g) {
            continue;
        }
        RwUInt32 s = 0;
        for (bool clash = true; clash; s += clash ? 1 : 0) {
            clash = false;
            for (RwUInt32 e = g; e < total && !clash; ++e) {
                clash = r.has[e] && Find(r, e) == g && (used[(e / r.c) * words + s / 32] & (1u << (s % 32)));
            }
        }
        for (RwUInt32 e = g; e < total; ++e) {
            if (r.has[e] && Find(r, e) == g) {
                used[(e / r.c) * words + s / 32] |= 1u << (s % 32);
                r.slot[e] = s;
            }
        }
        if (s + 1 > r.slots) {
            r.slots = s + 1;
        }
    }
    RwFree(used);
    if (r.slots > 0xFFFF) {
        Raise(E_RX_DEPENDENCYMEMORY);   // more than a packet can count
        return FALSE;
    }
    return TRUE;
}

// ---- layout --------------------------------------------------------------

// Bump allocation inside the new block.
struct Bump {
    RwUInt8 *at;
    template <typename T>
    T *Take(RwUInt32 bytes)
    {
        T *p = reinterpret_cast<T *>(at);
        at += RwRoundUp4(static_cast<RwInt32>(bytes));
        return p;
    }
};

static RwUInt32 LayoutSize(const Resolve &r, RwUInt32 numInputs)
{
    RwUInt32 size = r.n * (sizeof(RxPipelineNode) + sizeof(RxPipelineNodeTopSortData));
    for (RwUInt32 n = 0; n < r.n; ++n) {
        const RxPipelineNodeDefinition *def = r.nodes[n].nodeDef;
        size += r.nodes[n].numOutputs * 4 + r.slots * 4 + (r.slots + 1) * 4 + def->numClustersOfInterest * 4 +
                static_cast<RwUInt32>(RwRoundUp4(static_cast<RwInt32>(def->pipelineNodePrivateDataSize)));
    }
    return size + offsetof(RxPacket, clusters) + r.slots * sizeof(RxCluster) +
           numInputs * sizeof(RxPipelineRequiresCluster);
}

static void Layout(RxPipeline *p, const Resolve &r, void *block, RwUInt32 size, RwUInt32 numInputs)
{
    memset(block, 0, size);
    Bump bump = {static_cast<RwUInt8 *>(block)};
    RxPipelineNode *nodes = bump.Take<RxPipelineNode>(r.n * sizeof(RxPipelineNode));
    RxPacket *packet = bump.Take<RxPacket>(offsetof(RxPacket, clusters) + r.slots * sizeof(RxCluster));
    packet->numClusters = static_cast<RwUInt16>(r.slots);
    packet->pipeline = p;
    for (RwUInt32 n = 0; n < r.n; ++n) {
        const RxPipelineNode &from = r.nodes[n];
        const RxPipelineNodeDefinition *def = from.nodeDef;
        RxPipelineNode &to = nodes[n];
        to.nodeDef = from.nodeDef;
        to.numOutputs = from.numOutputs;
        to.outputs = bump.Take<RwUInt32>(from.numOutputs * 4);
        memcpy(to.outputs, from.outputs, from.numOutputs * 4);
        to.topSortData = bump.Take<RxPipelineNodeTopSortData>(sizeof(RxPipelineNodeTopSortData));
        to.topSortData->numIns = from.topSortData->numIns;
        to.slotClusterRefs = bump.Take<RxClusterDefinition *>(r.slots * 4);
        to.slotsContinue = bump.Take<RwUInt32>((r.slots + 1) * 4);
        to.inputToClusterSlot = bump.Take<RwUInt32>(def->numClustersOfInterest * 4);
        to.privateData = def->pipelineNodePrivateDataSize
                             ? bump.Take<void>(def->pipelineNodePrivateDataSize)
                             : nullptr;
        to.slotsContinue[0] = 0xFFFFFFFFu;
        for (RwUInt32 c = 0; c < r.c; ++c) {
            const RwUInt32 e = n * r.c + c;
            if (r.has[e]) {
                to.slotClusterRefs[r.slot[e]] = r.defs[c];
                to.slotsContinue[1 + r.slot[e]] = r.mask[e];
                to.slotsContinue[0] &= r.mask[e];
            }
        }
        for (RwUInt32 i = 0; i < def->numClustersOfInterest; ++i) {
            const RwUInt32 e = n * r.c + ClusterIndex(r, def->clustersOfInterest[i].clusterDef);
            to.inputToClusterSlot[i] = r.has[e] ? r.slot[e] : rxNODEUNUSED;
        }
    }
    RxPipelineRequiresCluster *inputs = bump.Take<RxPipelineRequiresCluster>(numInputs * sizeof(RxPipelineRequiresCluster));
    RwUInt32 k = 0;
    for (RwUInt32 c = 0; c < r.c; ++c) {
        const RwUInt8 want = r.req[c];
        if (r.has[c] && (want == rxCLREQ_REQUIRED || want == rxCLREQ_OPTIONAL)) {
            inputs[k++] = {r.defs[c], want, r.slot[c]};
        }
    }
    RwRadixExchangeSort(inputs, numInputs, sizeof *inputs, 0xFFFFFFFFu);
    p->nodes = nodes;
    p->embeddedPacket = packet;
    p->embeddedPacketState = rxPKST_PACKETLESS;
    p->packetNumClusterSlots = r.slots;
    p->inputRequirements = numInputs ? inputs : nullptr;
    p->numInputRequirements = numInputs;
}

// Definition and node initialisation from the last node up, then node config;
// on failure the nodes already initialised are released again.
static RwBool InitialiseNodes(RxPipeline *p)
{
    RwUInt32 n = p->numNodes;
    for (; n-- > 0;) {
        RxPipelineNode *node = &p->nodes[n];
        RxPipelineNodeDefinition *def = node->nodeDef;
        if (++def->inputPipesCnt == 1 && def->nodeInit && !def->nodeInit(def)) {
            --def->inputPipesCnt;
            break;
        }
        if (def->pipelineNodeInit && !def->pipelineNodeInit(node)) {
            if (--def->inputPipesCnt == 0 && def->nodeTerm) {
                def->nodeTerm(def);
            }
            break;
        }
    }
    bool ok = n == static_cast<RwUInt32>(-1);
    for (RwUInt32 i = p->numNodes; ok && i-- > 0;) {
        RxPipelineNode *node = &p->nodes[i];
        ok = !node->nodeDef->pipelineNodeConfig || node->nodeDef->pipelineNodeConfig(node, p);
    }
    if (ok) {
        return TRUE;
    }
    for (RwUInt32 i = n + 1; i < p->numNodes; ++i) {
        RwPipelineNodeRelease(&p->nodes[i]);
    }
    return FALSE;
}

RxPipeline *RwPipelineUnlock(RxPipeline *p)
{
    if (!p) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NULLP);
        return nullptr;
    }
    if (!p->locked) {
        Raise(E_RX_UNLOCKEDPIPE);
        return nullptr;
    }
    if (p->numNodes == 0) {
        p->locked = FALSE;
        return p;
    }
    if (!SortNodes(p)) {
        return nullptr;
    }
    RxClusterDefinition *defs[rxPIPELINEMAXNODES * rxNODEMAXCLUSTERSOFINTEREST];
    Resolve r;
    memset(&r, 0, sizeof r);
    r.nodes = p->nodes;
    r.n = p->numNodes;
    if (!CollectDefinitions(r, defs)) {
        return nullptr;
    }
    const RwUInt32 total = r.n * r.c;
    const RwUInt32 perEntry = sizeof(RwUInt8) * 2 + sizeof(RwUInt16) + sizeof(RwUInt32) * 3;
    RwUInt8 *scratch = static_cast<RwUInt8 *>(RwMalloc(total * perEntry + 4, rxPIPESCRATCHHINT));
    if (!scratch) {
        Raise(E_RX_DEPENDENCYMEMORY);
        return nullptr;
    }
    memset(scratch, 0, total * perEntry + 4);
    r.mask = reinterpret_cast<RwUInt32 *>(scratch);
    r.group = r.mask + total;
    r.slot = r.group + total;
    r.sources = reinterpret_cast<RwUInt16 *>(r.slot + total);
    r.req = reinterpret_cast<RwUInt8 *>(r.sources + total);
    r.has = r.req + total;

    RxPipeline *result = nullptr;
    if (ResolveDependencies(r)) {
        CollectClusters(r);
        if (AssignSlots(r)) {
            RwUInt32 numInputs = 0;
            for (RwUInt32 c = 0; c < r.c; ++c) {
                numInputs += r.has[c] && r.req[c] != rxCLREQ_DONTWANT;
            }
            const RwUInt32 size = LayoutSize(r, numInputs);
            void *block = RwMalloc(size, rxPIPEUNLOCKHINT);
            if (!block) {
                RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
            } else {
                void *editing = p->superBlock;
                Layout(p, r, block, size, numInputs);
                if (InitialiseNodes(p)) {
                    RwFree(editing);
                    p->superBlock = block;
                    p->superBlockSize = size;
                    p->locked = FALSE;
                    result = p;
                } else {
                    // Back to the editing layout, still locked.
                    RwFree(block);
                    p->nodes = static_cast<RxPipelineNode *>(editing);
                    p->embeddedPacket = nullptr;
                    p->packetNumClusterSlots = 0;
                    p->inputRequirements = nullptr;
                    p->numInputRequirements = 0;
                }
            }
        }
    }
    RwFree(scratch);
    return result;
}

// ---- radix-exchange sort ------------------------------------------------

static RwUInt32 Key(const RwUInt8 *base, RwUInt32 i, RwUInt32 size)
{
    RwUInt32 k;
    memcpy(&k, base + i * size, sizeof k);
    return k;
}

static void Swap(RwUInt8 *base, RwUInt32 i, RwUInt32 j, RwUInt32 size)
{
    RwUInt8 *a = base + i * size, *b = base + j * size;
    for (RwUInt32 k = 0; k < size; ++k) {
        const RwUInt8 t = a[k];
        a[k] = b[k];
        b[k] = t;
    }
}

static RwUInt32 NextBit(RwUInt32 bit, RwUInt32 mask)
{
    for (bit >>= 1; bit && !(bit & mask); bit >>= 1) {
    }
    return bit;
}

void RwRadixExchangeSort(void *base, RwUInt32 count, RwUInt32 recordSize, RwUInt32 keyMask)
{
    RwUInt8 *b = static_cast<RwUInt8 *>(base);
    if (!b || count < 2 || recordSize < 4) {
        return;
    }
    struct Range {
        RwUInt32 lo, hi, bit;
    };
    Range stack[70];
    RwUInt32 top = 0;
    RwUInt32 bit = 0x80000000u;
    if (!(bit & keyMask)) {
        bit = NextBit(bit, keyMask);
    }
    if (bit) {
        stack[top++] = {0, count - 1, bit};
    }
    // Partition large ranges on one key bit at a time; small ones are left to the final pass.
    while (top > 0) {
        const Range r = stack[--top];
        RwUInt32 i = r.lo, j = r.hi + 1;
        for (;;) {
            while (i < j && !(Key(b, i, recordSize) & r.bit)) {
                ++i;
            }
            while (i < j && (Key(b, j - 1, recordSize) & r.bit)) {
                --j;
            }
            if (i >= j) {
                break;
            }
            Swap(b, i, j - 1, recordSize);
        }
        const RwUInt32 next = NextBit(r.bit, keyMask);
        if (!next) {
            continue;
        }
        if (i > r.lo && i - r.lo > 5) {
            stack[top++] = {r.lo, i - 1, next};
        }
        if (r.hi + 1 > i && r.hi + 1 - i > 5) {
            stack[top++] = {i, r.hi, next};
        }
    }
    RwUInt32 smallest = 0;
    for (RwUInt32 i = 1; i < count; ++i) {
        if (Key(b, i, recordSize) < Key(b, smallest, recordSize)) {
            smallest = i;
        }
    }
    Swap(b, 0, smallest, recordSize);
    for (RwUInt32 i = 2; i < count; ++i) {
        for (RwUInt32 j = i; Key(b, j - 1, recordSize) > Key(b, j, recordSize); --j) {
            Swap(b, j - 1, j, recordSize);
        }
    }
}
