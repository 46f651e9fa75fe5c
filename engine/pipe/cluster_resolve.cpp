#include "cluster_resolve.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/core/error.h"
#include "engine/core/memory.h"

namespace kv {

namespace {

constexpr int32 kReqGrowth = 16;

struct Resolver {
    Pipeline* p;
    int32 error = 0;

    NodeScratch* List(int32 node) const { return p->nodes[node].scratch; }

    int32 Find(int32 node, const ClusterType* type) const {
        const NodeScratch* s = List(node);
        for (int32 i = 0; i < s->numReqs; ++i) {
            if (s->reqs[i].clusterType == type) return i;
        }
        return -1;
    }

    // Returns the entry's index, or -1 when the list cannot grow.
    int32 Add(int32 node, const ClusterType* type, ClusterNeed need, int32 origin) {
        NodeScratch* s = List(node);
        const int32 found = Find(node, type);
        if (found >= 0) {
            if (need == ClusterRequired) {
                s->reqs[found].need = ClusterRequired;
                s->reqs[found].origin = origin;
            }
            return found;
        }
        if (s->numReqs == s->reqsAlloced) {
            const int32 capacity = s->reqsAlloced + kReqGrowth;
            auto* grown =
                static_cast<Requirement*>(KvRealloc(s->reqs, sizeof(Requirement) * static_cast<std::size_t>(capacity)));
            if (grown == nullptr) {
                error = kErrPipeResolveMemory;
                return -1;
            }
            s->reqs = grown;
            s->reqsAlloced = capacity;
        }
        s->reqs[s->numReqs] = Requirement{type, need, s->numInputs, origin, 0, -1, -1};
        return s->numReqs++;
    }

    static ClusterEffect EffectOf(const NodeType* t, int32 output, const ClusterType* type) {
        const OutputSpec& out = t->outputs[output];
        for (int32 k = 0; k < t->numClusters; ++k) {
            if (t->clusters[k].clusterType == type) return out.effects[k];
        }
        return out.otherEffect;
    }

    // One source no longer delivers the cluster to `node`; once none does, the
    // node forgets it and so do the nodes it passed it on to.
    void Withdraw(int32 node, const ClusterType* type) {
        const int32 at = Find(node, type);
        if (at < 0) return;
        NodeScratch* s = List(node);
        if (--s->reqs[at].count > 0) return;
        std::memmove(&s->reqs[at], &s->reqs[at + 1],
                     sizeof(Requirement) * static_cast<std::size_t>(s->numReqs - at - 1));
        --s->numReqs;
        const PipelineNode& n = p->nodes[node];
        for (int32 o = 0; o < n.numOutputs; ++o) {
            if (n.outputs[o] >= 0 && EffectOf(n.nodeType, o, type) == ClusterUntouched) Withdraw(n.outputs[o], type);
        }
    }

    // What every node needs on input, from the sinks back to the entry.
    bool CollectNeeds() {
        for (int32 i = p->numNodes - 1; i >= 0; --i) {
            const PipelineNode& node = p->nodes[i];
            const NodeType* t = node.nodeType;
            for (int32 k = 0; k < t->numClusters; ++k) {
                if (t->clusters[k].clusterType == nullptr) {
                    error = kErrPipeEmptyCluster;
                    return false;
                }
                for (int32 l = 0; l < k; ++l) {
                    if (t->clusters[l].clusterType == t->clusters[k].clusterType) {
                        error = kErrPipeDuplicateCluster;
                        return false;
                    }
                }
            }
            for (int32 o = 0; o < node.numOutputs; ++o) {
                const int32 d = node.outputs[o];
                if (d < 0) continue;
                NodeScratch* dl = List(d);
                for (int32 j = 0; j < dl->numReqs;) {
                    const Requirement e = dl->reqs[j];
                    switch (EffectOf(t, o, e.clusterType)) {
                        case ClusterUntouched:
                            if (Add(i, e.clusterType, e.need, e.origin) < 0) return false;
                            ++j;
                            break;
                        case ClusterMade:
                            ++j;
                            break;
                        case ClusterDropped: {
                            if (e.need == ClusterRequired) {
                                error = kErrPipeRequiredDropped;
                                return false;
                            }
                            const int32 before = dl->numReqs;
                            Withdraw(d, e.clusterType);
                            if (dl->numReqs == before) ++j;
                            break;
                        }
                    }
                }
            }
            for (int32 k = 0; k < t->numClusters; ++k) {
                if (t->needs[k] != ClusterIgnored && Add(i, t->clusters[k].clusterType, t->needs[k], i) < 0) {
                    return false;
                }
            }
        }
        return true;
    }

    // Which clusters leave each node along which output.
    bool MarkOutputs() {
        for (int32 i = 0; i < p->numNodes; ++i) {
            const PipelineNode& node = p->nodes[i];
            const NodeType* t = node.nodeType;
            for (int32 k = 0; k < t->numClusters; ++k) {
                if (t->clusters[k].alwaysSlot != 0 && Add(i, t->clusters[k].clusterType, ClusterIgnored, i) < 0) {
                    return false;
                }
            }
            for (int32 o = 0; o < node.numOutputs; ++o) {
                const int32 d = node.outputs[o];
                if (d < 0) continue;
                const uint32 bit = 1u << o;
                const NodeScratch* dl = List(d);
                for (int32 j = 0; j < dl->numReqs; ++j) {
                    const ClusterType* type = dl->reqs[j].clusterType;
                    const ClusterEffect effect = EffectOf(t, o, type);
                    if (effect == ClusterMade) {
                        const int32 at = Add(i, type, ClusterIgnored, i);
                        if (at < 0) return false;
                        List(i)->reqs[at].outputMask |= bit;
                    } else if (effect == ClusterUntouched) {
                        const int32 at = Find(i, type);
                        if (at >= 0) List(i)->reqs[at].outputMask |= bit;
                    }
                }
            }
        }
        return true;
    }
};

int32 Root(int32* parent, int32 g) {
    while (parent[g] != g) {
        parent[g] = parent[parent[g]];
        g = parent[g];
    }
    return g;
}

std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

}  // namespace

void NodeScratchFree(NodeScratch* scratch) {
    if (scratch == nullptr) return;
    KvFree(scratch->reqs);
    KvFree(scratch);
}

namespace {

// The resolver's scratch for one pipeline: per group (at most one per entry)
// its parent in its chain; the entries bucketed by chain; per node the slots
// in use. One allocation, freed when the slots are known.
struct Chains {
    int32 total = 0;
    int32 numGroups = 0;
    int32* work = nullptr;
    int32* parent = nullptr;
    int32* bucketStart = nullptr;  // per group root: first index in the members
    int32* cursor = nullptr;       // per root: members placed so far
    int32* memberNode = nullptr;
    int32* memberEntry = nullptr;
    uint32* used = nullptr;

    bool Allocate(int32 entries, int32 nodes) {
        total = entries;
        const std::size_t words = static_cast<std::size_t>(total) * 5 + static_cast<std::size_t>(nodes) + 2;
        work = static_cast<int32*>(KvMalloc(sizeof(int32) * words));
        if (work == nullptr) return false;
        parent = work;
        bucketStart = parent + total + 1;
        cursor = bucketStart + total + 1;
        memberNode = cursor + total;
        memberEntry = memberNode + total;
        used = reinterpret_cast<uint32*>(memberEntry + total);
        return true;
    }
    ~Chains() { KvFree(work); }
};

// Phase 1. Entries that must share a slot: a cluster and its continuation
// along an output form one chain.
void JoinChains(const Resolver& r, Chains& c) {
    Pipeline* p = r.p;
    for (int32 i = 0; i < p->numNodes; ++i) {
        const PipelineNode& node = p->nodes[i];
        NodeScratch* s = node.scratch;
        for (int32 j = 0; j < s->numReqs; ++j) {
            if (s->reqs[j].group < 0) {
                c.parent[c.numGroups] = c.numGroups;
                s->reqs[j].group = c.numGroups++;
            }
        }
        for (int32 o = 0; o < node.numOutputs; ++o) {
            const int32 d = node.outputs[o];
            if (d < 0) continue;
            const uint32 bit = 1u << o;
            NodeScratch* dl = p->nodes[d].scratch;
            for (int32 j = 0; j < dl->numReqs; ++j) {
                Requirement& de = dl->reqs[j];
                if (de.need == ClusterIgnored) continue;
                const int32 at = r.Find(i, de.clusterType);
                if (at < 0 || (s->reqs[at].outputMask & bit) == 0) continue;
                const int32 g = s->reqs[at].group;
                if (de.group < 0) {
                    de.group = g;
                } else {
                    const int32 a = Root(c.parent, de.group);
                    const int32 b = Root(c.parent, g);
                    if (a != b) c.parent[a] = b;
                }
            }
        }
    }
}

// Phase 2. Bucket the entries by chain.
void BucketByChain(const Pipeline* p, Chains& c) {
    for (int32 g = 0; g <= c.numGroups; ++g) c.bucketStart[g] = 0;
    for (int32 i = 0; i < p->numNodes; ++i) {
        const NodeScratch* s = p->nodes[i].scratch;
        for (int32 j = 0; j < s->numReqs; ++j) ++c.bucketStart[Root(c.parent, s->reqs[j].group) + 1];
    }
    for (int32 g = 0; g < c.numGroups; ++g) c.bucketStart[g + 1] += c.bucketStart[g];
    for (int32 g = 0; g < c.numGroups; ++g) c.cursor[g] = 0;
    for (int32 i = 0; i < p->numNodes; ++i) {
        const NodeScratch* s = p->nodes[i].scratch;
        for (int32 j = 0; j < s->numReqs; ++j) {
            const int32 root = Root(c.parent, s->reqs[j].group);
            const int32 at = c.bucketStart[root] + c.cursor[root]++;
            c.memberNode[at] = i;
            c.memberEntry[at] = j;
        }
    }
}

// Phase 3. Slots: newest chain first, each the lowest slot free at all its
// nodes. Returns the number of slots, or -1 when a packet's 32-bit slot masks
// cannot hold them.
int32 AssignSlots(Pipeline* p, Chains& c) {
    for (int32 i = 0; i < p->numNodes; ++i) c.used[i] = 0;
    int32 slotCount = 0;
    for (int32 g = c.numGroups - 1; g >= 0; --g) {
        if (Root(c.parent, g) != g) continue;
        uint32 busy = 0;
        for (int32 m = c.bucketStart[g]; m < c.bucketStart[g + 1]; ++m) busy |= c.used[c.memberNode[m]];
        if (busy == 0xFFFFFFFFu) return -1;
        int32 slot = 0;
        while ((busy & (1u << slot)) != 0) ++slot;
        for (int32 m = c.bucketStart[g]; m < c.bucketStart[g + 1]; ++m) {
            c.used[c.memberNode[m]] |= 1u << slot;
            p->nodes[c.memberNode[m]].scratch->reqs[c.memberEntry[m]].slot = slot;
        }
        if (slot + 1 > slotCount) slotCount = slot + 1;
    }
    return slotCount;
}

// Phase 4. Distinct cluster types, in order of first appearance; the array
// has room for every entry.
int32 CollectTypes(const Pipeline* p, const ClusterType** types) {
    int32 numTypes = 0;
    for (int32 i = 0; i < p->numNodes; ++i) {
        const NodeScratch* s = p->nodes[i].scratch;
        for (int32 j = 0; j < s->numReqs; ++j) {
            if (std::find(types, types + numTypes, s->reqs[j].clusterType) == types + numTypes) {
                types[numTypes++] = s->reqs[j].clusterType;
            }
        }
    }
    return numTypes;
}

// Fills a node's slot maps: which type table entry each slot holds, which
// slots continue along each output, which slot each of its clusters is in.
void MapNodeSlots(PipelineNode& node, const ClusterType* const* types, int32 numTypes, const TypeTableEntry* table,
                  int32 slotCount) {
    const NodeType* t = node.nodeType;
    const NodeScratch* s = node.scratch;
    uint32 all = 0xFFFFFFFFu;
    for (int32 j = 0; j < s->numReqs; ++j) {
        const Requirement& e = s->reqs[j];
        const int32 k = static_cast<int32>(std::find(types, types + numTypes, e.clusterType) - types);
        node.slotClusterRefs[e.slot] = &table[k];
        node.slotsContinue[1 + e.slot] = e.outputMask;
        all &= e.outputMask;
    }
    node.slotsContinue[0] = all;
    for (int32 k = 0; k < t->numClusters; ++k) {
        node.inputToClusterSlot[k] = -1;
        for (int32 slot = 0; slot < slotCount; ++slot) {
            const TypeTableEntry* ref = node.slotClusterRefs[slot];
            if (ref != nullptr && ref->clusterType == t->clusters[k].clusterType) {
                node.inputToClusterSlot[k] = slot;
                break;
            }
        }
    }
}

// Phase 5. The block: packet, clusters, type table, per node its maps and
// private data, and last the input table, sorted by cluster type.
bool LayOutBlock(Pipeline* p, const ClusterType* const* types, int32 numTypes, int32 slotCount) {
    const int32 n = p->numNodes;
    const NodeScratch* entryList = p->nodes[p->entryPoint].scratch;
    int32 numInputs = 0;
    for (int32 j = 0; j < entryList->numReqs; ++j) {
        if (entryList->reqs[j].need != ClusterIgnored) ++numInputs;
    }
    const auto slots = static_cast<std::size_t>(slotCount);
    std::size_t size = Align8(sizeof(Packet)) + Align8(sizeof(Cluster) * slots) +
                       Align8(sizeof(TypeTableEntry) * static_cast<std::size_t>(numTypes));
    for (int32 i = 0; i < n; ++i) {
        const NodeType* t = p->nodes[i].nodeType;
        size += Align8(sizeof(TypeTableEntry*) * slots) + Align8(sizeof(uint32) * (slots + 1)) +
                Align8(sizeof(int32) * static_cast<std::size_t>(t->numClusters)) +
                Align8(static_cast<std::size_t>(t->privateSize > 0 ? t->privateSize : 0));
    }
    size += sizeof(PipelineInput) * static_cast<std::size_t>(numInputs);
    auto* block = static_cast<char*>(KvCalloc(1, size));
    if (block == nullptr) return false;
    char* at = block;
    auto take = [&at](std::size_t bytes) {
        char* here = at;
        at += Align8(bytes);
        return here;
    };
    auto* packet = reinterpret_cast<Packet*>(take(sizeof(Packet)));
    packet->numClusters = static_cast<uint16>(slotCount);
    packet->pipeline = p;
    packet->clusters = reinterpret_cast<Cluster*>(take(sizeof(Cluster) * slots));
    auto* table = reinterpret_cast<TypeTableEntry*>(take(sizeof(TypeTableEntry) * static_cast<std::size_t>(numTypes)));
    for (int32 k = 0; k < numTypes; ++k) table[k] = TypeTableEntry{types[k], types[k]->defaultAttributes};

    for (int32 i = 0; i < n; ++i) {
        PipelineNode& node = p->nodes[i];
        const NodeType* t = node.nodeType;
        node.slotClusterRefs = reinterpret_cast<const TypeTableEntry**>(take(sizeof(TypeTableEntry*) * slots));
        node.slotsContinue = reinterpret_cast<uint32*>(take(sizeof(uint32) * (slots + 1)));
        node.inputToClusterSlot =
            reinterpret_cast<int32*>(take(sizeof(int32) * static_cast<std::size_t>(t->numClusters)));
        node.privateData = t->privateSize > 0 ? take(static_cast<std::size_t>(t->privateSize)) : nullptr;
        MapNodeSlots(node, types, numTypes, table, slotCount);
    }

    auto* inputs = reinterpret_cast<PipelineInput*>(at);
    int32 m = 0;
    for (int32 j = 0; j < entryList->numReqs; ++j) {
        const Requirement& e = entryList->reqs[j];
        if (e.need != ClusterIgnored) inputs[m++] = PipelineInput{e.clusterType, e.need, e.slot};
    }
    std::sort(inputs, inputs + numInputs, [](const PipelineInput& a, const PipelineInput& b) {
        return std::less<const ClusterType*>()(a.clusterType, b.clusterType);
    });

    p->block = block;
    p->packet = packet;
    p->packetNumClusters = slotCount;
    p->numInputRequirements = numInputs;
    p->inputRequirements = numInputs > 0 ? inputs : nullptr;
    return true;
}

}  // namespace

bool PipelineResolveClusters(Pipeline* p) {
    const int32 n = p->numNodes;
    for (int32 i = 0; i < n; ++i) p->nodes[i].scratch->numReqs = 0;
    Resolver r{p};
    if (!r.CollectNeeds() || !r.MarkOutputs()) {
        ErrorRaise(kModuleCore, r.error);
        return false;
    }
    int32 total = 0;
    for (int32 i = 0; i < n; ++i) total += p->nodes[i].scratch->numReqs;

    int32 slotCount = 0;
    {
        Chains chains;
        if (!chains.Allocate(total, n)) {
            ErrorRaise(kModuleCore, kErrPipeResolveMemory);
            return false;
        }
        JoinChains(r, chains);
        BucketByChain(p, chains);
        slotCount = AssignSlots(p, chains);
    }
    if (slotCount < 0) {
        ErrorRaise(kModuleCore, kErrPipeTooManySlots);
        return false;
    }

    const ClusterType** types =
        static_cast<const ClusterType**>(KvMalloc(sizeof(ClusterType*) * static_cast<std::size_t>(total + 1)));
    if (types == nullptr) {
        ErrorRaise(kModuleCore, kErrPipeResolveMemory);
        return false;
    }
    const int32 numTypes = CollectTypes(p, types);
    const bool laidOut = LayOutBlock(p, types, numTypes, slotCount);
    KvFree(types);
    if (!laidOut) ErrorRaise(kModuleCore, kErrPipeResolveMemory);
    return laidOut;
}

}  // namespace kv
