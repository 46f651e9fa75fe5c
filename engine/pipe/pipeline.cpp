#include "pipeline.h"

#include <cstring>

#include "cluster_resolve.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "node_sort.h"
#include "pipeline_module.h"
#include "render_heap.h"

namespace kv {

namespace {

ExecutionState execution{};

constexpr std::uintptr_t kNodeAlign = alignof(PipelineNode);

void NoMemory() { ErrorRaise(kModuleNone, kErrNoMemory); }

// A use of the type ends; the last one closes it.
void ReleaseType(NodeType* t) {
    if (t->useCount > 0 && --t->useCount == 0 && t->typeClose != nullptr) t->typeClose(t);
}

void FreeCopyIfUnused(NodeType* t) {
    if (t != nullptr && t->isCopy != 0 && t->useCount == 0) KvFree(t);
}

bool NodeInitialize(PipelineNode* node, NodeType* type) {
    std::memset(static_cast<void*>(node), 0, sizeof(PipelineNode));
    if (type->numOutputs > 0) {
        if (type->numOutputs > kMaxNodeOutputs) {
            ErrorRaise(kModuleCore, kErrPipeTooManyOutputs);
            return false;
        }
        if (type->numClusters > kMaxNodeClusters) {
            ErrorRaise(kModuleCore, kErrPipeTooManyClusters);
            return false;
        }
        node->outputs = static_cast<int32*>(KvMalloc(sizeof(int32) * static_cast<std::size_t>(type->numOutputs)));
        if (node->outputs == nullptr) {
            NoMemory();
            return false;
        }
        for (int32 o = 0; o < type->numOutputs; ++o) node->outputs[o] = -1;
    }
    node->scratch = static_cast<NodeScratch*>(KvCalloc(1, sizeof(NodeScratch)));
    if (node->scratch == nullptr) {
        KvFree(node->outputs);
        node->outputs = nullptr;
        NoMemory();
        return false;
    }
    node->nodeType = type;
    node->numOutputs = type->numOutputs > 0 ? type->numOutputs : 0;
    return true;
}

void NodeFree(PipelineNode* node) {
    NodeScratchFree(node->scratch);
    node->scratch = nullptr;
    KvFree(node->outputs);
    node->outputs = nullptr;
}

void ForgetMaps(Pipeline* p) {
    for (int32 i = 0; i < p->numNodes; ++i) {
        PipelineNode& node = p->nodes[i];
        node.slotClusterRefs = nullptr;
        node.slotsContinue = nullptr;
        node.inputToClusterSlot = nullptr;
        node.privateData = nullptr;
    }
    KvFree(p->block);
    p->block = nullptr;
    p->packet = nullptr;
    p->packetNumClusters = 0;
    p->numInputRequirements = 0;
    p->inputRequirements = nullptr;
}

// Closes nodes [from, numNodes) that unlocking opened, last opened last.
void CloseOpened(Pipeline* p, int32 from) {
    for (int32 i = from; i < p->numNodes; ++i) {
        PipelineNode* node = &p->nodes[i];
        if (node->nodeType->nodeClose != nullptr) node->nodeType->nodeClose(node);
        ReleaseType(node->nodeType);
    }
}

std::size_t AlignUp(std::size_t n, std::size_t a) { return (n + a - 1) & ~(a - 1); }
std::size_t TextSize(const char* s) { return s != nullptr ? std::strlen(s) + 1 : 0; }

char* CopyText(char*& at, const char* s) {
    if (s == nullptr) return nullptr;
    const std::size_t n = std::strlen(s) + 1;
    std::memcpy(at, s, n);
    char* copy = at;
    at += n;
    return copy;
}

// One allocation: the record, cluster list, outputs, needs, effects, texts.
NodeType* CopyTypeWithCluster(const NodeType* t, const ClusterType* added) {
    const auto nc = static_cast<std::size_t>(t->numClusters + 1);
    const auto no = static_cast<std::size_t>(t->numOutputs > 0 ? t->numOutputs : 0);
    std::size_t size = AlignUp(sizeof(NodeType), 8) + sizeof(ClusterUse) * nc + sizeof(OutputSpec) * no +
                       sizeof(ClusterNeed) * nc + sizeof(ClusterEffect) * nc * no + TextSize(t->name);
    for (std::size_t o = 0; o < no; ++o) size += TextSize(t->outputs[o].name);
    auto* base = static_cast<char*>(KvMalloc(size));
    if (base == nullptr) {
        NoMemory();
        return nullptr;
    }
    char* at = base;
    auto* copy = reinterpret_cast<NodeType*>(at);
    at += AlignUp(sizeof(NodeType), 8);
    auto* clusters = reinterpret_cast<ClusterUse*>(at);
    at += sizeof(ClusterUse) * nc;
    auto* outputs = reinterpret_cast<OutputSpec*>(at);
    at += sizeof(OutputSpec) * no;
    auto* needs = reinterpret_cast<ClusterNeed*>(at);
    at += sizeof(ClusterNeed) * nc;
    auto* effects = reinterpret_cast<ClusterEffect*>(at);
    at += sizeof(ClusterEffect) * nc * no;

    *copy = *t;
    copy->name = CopyText(at, t->name);
    for (std::size_t k = 0; k + 1 < nc; ++k) {
        clusters[k] = t->clusters[k];
        needs[k] = t->needs[k];
    }
    clusters[nc - 1] = ClusterUse{added, 0, 0};
    needs[nc - 1] = ClusterOptional;
    for (std::size_t o = 0; o < no; ++o) {
        ClusterEffect* e = effects + o * nc;
        for (std::size_t k = 0; k + 1 < nc; ++k) e[k] = t->outputs[o].effects[k];
        e[nc - 1] = t->outputs[o].otherEffect;
        outputs[o] = OutputSpec{CopyText(at, t->outputs[o].name), e, t->outputs[o].otherEffect};
    }
    copy->numClusters = static_cast<int32>(nc);
    copy->clusters = clusters;
    copy->needs = needs;
    copy->outputs = no > 0 ? outputs : nullptr;
    copy->isCopy = 1;
    copy->useCount = 0;
    return copy;
}

RenderHeap* CurrentHeap() { return execution.params.heap != nullptr ? execution.params.heap : PipelineModuleHeap(); }

void ClusterClear(Cluster* c) {
    if (c->data != nullptr && (c->flags & ClusterExternal) == 0) HeapFree(CurrentHeap(), c->data);
    *c = Cluster{};
}

void FreeOwned(Cluster* c) {
    if (c->data != nullptr && (c->flags & ClusterExternal) == 0) HeapFree(CurrentHeap(), c->data);
    c->data = nullptr;
    c->currentData = nullptr;
}

void TakeMaps(Packet* packet, const PipelineNode* node) {
    packet->inputToClusterSlot = node->inputToClusterSlot;
    packet->slotsContinue = node->slotsContinue;
    packet->slotClusterRefs = node->slotClusterRefs;
}

bool BytesFor(uint32 count, uint32 stride, uint32* bytes) {
    const uint64 n = static_cast<uint64>(count) * stride;
    if (n > 0x7FFFFF00u) {
        NoMemory();
        return false;
    }
    *bytes = static_cast<uint32>(n);
    return true;
}

}  // namespace

Pipeline* PipelineCreate() {
    auto* p = static_cast<Pipeline*>(KvCalloc(1, sizeof(Pipeline)));
    if (p == nullptr) NoMemory();
    return p;
}

void PipelineDestroy(Pipeline* p) {
    if (p == nullptr) return;
    for (int32 i = 0; i < p->numNodes; ++i) {
        PipelineNode* node = &p->nodes[i];
        NodeType* t = node->nodeType;
        if (t != nullptr) {
            if (p->locked == 0) {
                if (t->nodeClose != nullptr) t->nodeClose(node);
                ReleaseType(t);
            }
            FreeCopyIfUnused(t);
        }
        NodeFree(node);
    }
    KvFree(p->nodeStorage);
    KvFree(p->block);
    KvFree(p);
}

Pipeline* PipelineLock(Pipeline* p) {
    if (p == nullptr) return nullptr;
    if (p->locked != 0) return p;
    p->locked = 1;
    for (int32 i = 0; i < p->numNodes; ++i) {
        PipelineNode* node = &p->nodes[i];
        if (node->nodeType->nodeClose != nullptr) node->nodeType->nodeClose(node);
        ReleaseType(node->nodeType);
    }
    ForgetMaps(p);
    return p;
}

Pipeline* PipelineAddNodeList(Pipeline* p, int32* firstIndex, NodeType* const* types, int32 count) {
    if (p == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (p->locked == 0) {
        ErrorRaise(kModuleCore, kErrPipeNotLocked);
        return nullptr;
    }
    if (count < 0 || (count > 0 && types == nullptr)) return nullptr;
    for (int32 k = 0; k < count; ++k) {
        if (types[k] == nullptr) return nullptr;
    }
    const int32 old = p->numNodes;
    const auto total = static_cast<std::size_t>(old + count);
    void* storage = KvMalloc(sizeof(PipelineNode) * total + kNodeAlign - 1);
    if (storage == nullptr) {
        NoMemory();
        return nullptr;
    }
    auto* nodes = reinterpret_cast<PipelineNode*>((reinterpret_cast<std::uintptr_t>(storage) + kNodeAlign - 1) &
                                                  ~(kNodeAlign - 1));
    if (old > 0) std::memcpy(static_cast<void*>(nodes), p->nodes, sizeof(PipelineNode) * static_cast<std::size_t>(old));

    int32 made = 0;
    bool ok = true;
    for (int32 k = 0; k < count && ok; ++k) {
        PipelineNode* node = &nodes[old + k];
        if (!NodeInitialize(node, types[k])) {
            ok = false;
            break;
        }
        ++made;
        // The chain: each new node hangs off the previous new node's first output.
        if (k > 0) {
            PipelineNode* prev = &nodes[old + k - 1];
            if (prev->numOutputs < 1 || prev->outputs[0] != -1) {
                ok = false;
                break;
            }
            prev->outputs[0] = old + k;
        }
    }
    if (!ok) {
        for (int32 k = 0; k < made; ++k) {
            NodeType* t = nodes[old + k].nodeType;
            NodeFree(&nodes[old + k]);
            // A copied type goes with its node: free each one once, and never
            // one that a node kept in the pipeline still uses.
            bool seen = false;
            for (int32 j = 0; j < old + k; ++j) seen = seen || nodes[j].nodeType == t;
            if (!seen) FreeCopyIfUnused(t);
        }
        KvFree(storage);
        return nullptr;
    }
    KvFree(p->nodeStorage);
    p->nodeStorage = storage;
    p->nodes = nodes;
    p->numNodes = old + count;
    if (firstIndex != nullptr) *firstIndex = old;
    return p;
}

PipelineNode* PipelineFindNode(Pipeline* p, const char* name, PipelineNode* after) {
    if (p == nullptr || name == nullptr) return nullptr;
    int32 start = 0;
    if (after != nullptr) {
        const std::ptrdiff_t index = after - p->nodes;
        if (index < 0 || index >= p->numNodes) return nullptr;
        start = static_cast<int32>(index) + 1;
    }
    EngineInstance* instance = EngineInstanceGet();
    int (*compare)(const char*, const char*) =
        instance != nullptr && instance->stringFuncs.kvstrcmp != nullptr ? instance->stringFuncs.kvstrcmp : std::strcmp;
    for (int32 i = start; i < p->numNodes; ++i) {
        const NodeType* t = p->nodes[i].nodeType;
        if (t != nullptr && t->name != nullptr && compare(t->name, name) == 0) return &p->nodes[i];
    }
    return nullptr;
}

int32* NodeFindOutput(PipelineNode* node, const char* name) {
    if (node == nullptr || node->nodeType == nullptr || name == nullptr || node->outputs == nullptr) return nullptr;
    for (int32 o = 0; o < node->numOutputs; ++o) {
        const char* outName = node->nodeType->outputs[o].name;
        if (outName != nullptr && std::strcmp(outName, name) == 0) return &node->outputs[o];
    }
    return nullptr;
}

PipelineNode* NodeCheck(PipelineNode* node) { return node != nullptr && node->nodeType != nullptr ? node : nullptr; }

Pipeline* PipelineLinkOutput(Pipeline* p, int32* output, PipelineNode* destination) {
    if (p == nullptr || p->locked == 0 || output == nullptr || *output != -1 || destination == nullptr) {
        return nullptr;
    }
    // Only a whole record of this pipeline's node array is looked into.
    const auto offset = reinterpret_cast<std::intptr_t>(destination) - reinterpret_cast<std::intptr_t>(p->nodes);
    if (offset < 0 || offset % static_cast<std::intptr_t>(sizeof(PipelineNode)) != 0) return nullptr;
    const std::intptr_t index = offset / static_cast<std::intptr_t>(sizeof(PipelineNode));
    if (index >= p->numNodes || NodeCheck(destination) == nullptr) return nullptr;
    // The output must be one of this pipeline's too, or the index would
    // point into the wrong node array.
    bool ours = false;
    for (int32 i = 0; i < p->numNodes && !ours; ++i) {
        const PipelineNode& n = p->nodes[i];
        ours = n.outputs != nullptr && output >= n.outputs && output < n.outputs + n.numOutputs;
    }
    if (!ours) return nullptr;
    *output = static_cast<int32>(index);
    return p;
}

Pipeline* NodeAddCluster(Pipeline* p, PipelineNode* node, const ClusterType* clusterType) {
    if (p == nullptr || p->locked == 0 || NodeCheck(node) == nullptr || clusterType == nullptr) return nullptr;
    NodeType* t = node->nodeType;
    for (int32 k = 0; k < t->numClusters; ++k) {
        if (t->clusters[k].clusterType == clusterType) return nullptr;
    }
    NodeType* copy = CopyTypeWithCluster(t, clusterType);
    if (copy == nullptr) return nullptr;
    FreeCopyIfUnused(t);
    node->nodeType = copy;
    return p;
}

Pipeline* PipelineFinish(Pipeline* created, Pipeline* edited) {
    if (edited != nullptr && PipelineUnlock(edited) != nullptr) return edited;
    PipelineDestroy(created);
    return nullptr;
}

Pipeline* PipelineUnlock(Pipeline* p) {
    if (p == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (p->locked == 0) {
        ErrorRaise(kModuleCore, kErrPipeNotLocked);
        return nullptr;
    }
    if (p->numNodes == 0) {
        p->locked = 0;
        return p;
    }
    if (!PipelineSortNodes(p) || !PipelineResolveClusters(p)) return nullptr;

    // Open from the last node to the first. A failure closes again what was
    // opened, so use counts and type resources are not left behind.
    const int32 n = p->numNodes;
    for (int32 i = n - 1; i >= 0; --i) {
        PipelineNode* node = &p->nodes[i];
        NodeType* t = node->nodeType;
        if (t->useCount++ == 0 && t->typeOpen != nullptr && !t->typeOpen(t)) {
            --t->useCount;
            CloseOpened(p, i + 1);
            ForgetMaps(p);
            return nullptr;
        }
        if (t->nodeOpen != nullptr && !t->nodeOpen(node)) {
            ReleaseType(t);
            CloseOpened(p, i + 1);
            ForgetMaps(p);
            return nullptr;
        }
    }
    for (int32 i = n - 1; i >= 0; --i) {
        PipelineNode* node = &p->nodes[i];
        if (node->nodeType->nodeSetup != nullptr && !node->nodeType->nodeSetup(node, p)) {
            CloseOpened(p, 0);
            ForgetMaps(p);
            return nullptr;
        }
    }
    p->locked = 0;
    return p;
}

ExecutionState* PipelineExecutionState() { return &execution; }

bool NodeRun(PipelineNode* node, const ExecuteParams* params) {
    if (node->nodeType->body == nullptr || node->nodeType->body(node, params)) return true;
    execution.ok = 0;
    return false;
}

Pipeline* PipelineExecute(Pipeline* p, void* data, bool resetHeap) {
    if (p == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (p->locked != 0 || p->numNodes == 0) return nullptr;
    RenderHeap* heap = PipelineModuleHeap();
    if (heap == nullptr) {
        ErrorRaise(kModuleNone, kErrNotReady);
        return nullptr;
    }
    if (resetHeap) HeapReset(heap);
    const ExecutionState outer = execution;
    execution = ExecutionState{p, 1, ExecuteParams{data, heap}};
    p->packetState = PacketStateNone;
    NodeRun(&p->nodes[p->entryPoint], &execution.params);
    PacketRelease(p);
    const bool ok = execution.ok != 0;
    execution = outer;
    return ok ? p : nullptr;
}

Packet* PacketCreate(PipelineNode* node) {
    Pipeline* p = execution.pipeline;
    if (p == nullptr || p->packet == nullptr || node == nullptr) return nullptr;
    // A packet still held would lose its clusters.
    if (p->packetState > PacketStateDead) PacketDestroy(p->packet);
    p->packetState = PacketStateHeld;
    TakeMaps(p->packet, node);
    return p->packet;
}

PipelineNode* PacketDispatch(Pipeline* p, PipelineNode* node, int32 output) {
    // A node sends packets only along the outputs its type declares.
    KV_ASSERT(node == nullptr || (output >= 0 && output < node->numOutputs) || node->numOutputs == 0);
    if (p == nullptr || node == nullptr || output < 0 || output >= node->numOutputs) return nullptr;
    const int32 d = node->outputs[output];
    if (d < 0) return nullptr;
    PipelineNode* dest = &p->nodes[d];
    if (p->packetState <= PacketStateDead) return dest;
    Packet* packet = p->packet;
    const uint32 bit = 1u << output;
    if ((node->slotsContinue[0] & bit) == 0) {
        for (int32 s = packet->numClusters - 1; s >= 0; --s) {
            Cluster* c = &packet->clusters[s];
            if (c->clusterRef != nullptr && (node->slotsContinue[1 + s] & bit) == 0) ClusterClear(c);
        }
    }
    TakeMaps(packet, dest);
    p->packetState = PacketStatePassed;
    return dest;
}

void PacketDestroy(Packet* packet) {
    if (packet == nullptr) return;
    packet->pipeline->packetState = PacketStateDead;
    for (int32 s = 0; s < packet->numClusters; ++s) {
        Cluster* c = &packet->clusters[s];
        if (c->clusterRef != nullptr || c->data != nullptr) ClusterClear(c);
    }
    packet->flags = 0;
}

void PacketTransfer(Pipeline* source, Pipeline* target) {
    if (source == nullptr || target == nullptr || source == target || source->packetState < PacketStateHeld ||
        target->packet == nullptr || target->locked != 0) {
        return;
    }
    if (target->packetState > PacketStateDead) PacketDestroy(target->packet);
    Packet* from = source->packet;
    Packet* to = target->packet;
    const PipelineNode* entry = &target->nodes[target->entryPoint];
    for (int32 r = 0; r < target->numInputRequirements; ++r) {
        const PipelineInput& row = target->inputRequirements[r];
        if (row.slot < 0 || row.slot >= to->numClusters) continue;
        for (int32 s = 0; s < from->numClusters; ++s) {
            Cluster* c = &from->clusters[s];
            if (c->clusterRef == nullptr || c->clusterRef->clusterType != row.clusterType) continue;
            if (c->data != nullptr) {
                to->clusters[row.slot] = *c;
                to->clusters[row.slot].clusterRef = entry->slotClusterRefs[row.slot];
                c->data = nullptr;  // now the target's to free
            }
            break;
        }
    }
    PacketDestroy(from);
    TakeMaps(to, entry);
    target->packetState = PacketStatePassed;
}

Packet* PacketPickUp(Pipeline* p) {
    if (p == nullptr || p->packetState != PacketStatePassed) return nullptr;
    p->packetState = PacketStateHeld;
    return p->packet;
}

void PacketRelease(Pipeline* p) {
    if (p == nullptr || p->packetState <= PacketStateDead) return;
    p->packetState = PacketStateHeld;
    PacketDestroy(p->packet);
}

Cluster* ClusterOpen(Packet* packet, int32 index, PipelineNode* node) {
    if (packet == nullptr || packet->inputToClusterSlot == nullptr || index < 0) return nullptr;
    if (node != nullptr && (node->nodeType == nullptr || index >= node->nodeType->numClusters)) return nullptr;
    const int32 slot = packet->inputToClusterSlot[index];
    if (slot < 0) return nullptr;
    Cluster* c = &packet->clusters[slot];
    if (c->clusterRef == nullptr) {
        c->clusterRef = packet->slotClusterRefs[slot];
        c->attributes = c->clusterRef->attributes;
    }
    if ((c->flags & ClusterExternal) != 0 && c->data != nullptr) {
        // Writers get their own copy; the owner's array stays as it was.
        uint32 bytes = 0;
        if (!BytesFor(c->numAlloced, c->stride, &bytes)) return nullptr;
        void* copy = HeapAlloc(CurrentHeap(), bytes);
        if (copy == nullptr) return nullptr;
        const uint32 count = c->numUsed < c->numAlloced ? c->numUsed : c->numAlloced;
        std::memcpy(copy, c->data, static_cast<std::size_t>(count) * c->stride);
        c->data = copy;
        c->flags = static_cast<uint16>((c->flags & ~ClusterExternal) | ClusterValid);
    }
    c->flags |= ClusterOpened;
    c->currentData = c->data;
    return c;
}

Cluster* ClusterAttach(Cluster* c, void* data, uint16 stride, uint32 count) {
    if (c == nullptr) return nullptr;
    if (c->data != data) FreeOwned(c);
    c->flags |= ClusterValid | ClusterExternal;
    c->stride = stride;
    c->data = data;
    c->currentData = data;
    c->numAlloced = count;
    c->numUsed = count;
    return c;
}

Cluster* ClusterAdopt(Cluster* c, void* block, uint16 stride, uint32 count) {
    if (c == nullptr) return nullptr;
    if (c->data != block) FreeOwned(c);
    c->flags = static_cast<uint16>((c->flags | ClusterValid) & ~ClusterExternal);
    c->stride = stride;
    c->data = block;
    c->currentData = block;
    c->numAlloced = count;
    c->numUsed = count;
    return c;
}

Cluster* ClusterAllocate(Cluster* c, uint32 count, uint16 stride) {
    if (c == nullptr) return nullptr;
    FreeOwned(c);
    c->flags = static_cast<uint16>(c->flags & ~(ClusterValid | ClusterExternal));
    c->numAlloced = 0;
    c->numUsed = 0;
    uint32 bytes = 0;
    if (!BytesFor(count, stride, &bytes)) return nullptr;
    void* block = HeapAlloc(CurrentHeap(), bytes);
    if (block == nullptr) return nullptr;
    c->flags |= ClusterValid;
    c->stride = stride;
    c->data = block;
    c->currentData = block;
    c->numAlloced = count;
    return c;
}

Cluster* ClusterResize(Cluster* c, uint32 count) {
    // Only owned data can move: someone else's array is never reallocated.
    if (c == nullptr || (c->flags & ClusterExternal) != 0) return nullptr;
    uint32 bytes = 0;
    if (!BytesFor(count, c->stride, &bytes)) return nullptr;
    void* block = HeapRealloc(CurrentHeap(), c->data, bytes);
    if (block == nullptr) return nullptr;
    c->flags |= ClusterValid;
    c->data = block;
    c->currentData = block;
    c->numAlloced = count;
    if (c->numUsed > count) c->numUsed = count;
    return c;
}

}  // namespace kv
