// Rendering pipelines: graphs of nodes that pass one packet of cluster arrays
// from node to node. Node types and cluster types are static records; a
// pipeline is edited while locked and run once unlocked, when every node
// knows in which packet slot each of its clusters lives.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct PipelineNode;
struct Pipeline;
struct NodeType;
struct RenderHeap;

// A kind of data array. Its identity is its address.
struct ClusterType {
    const char* name = nullptr;
    uint32 reserved1 = 0;
    uint32 defaultAttributes = 0;  // copied into a cluster when a node first opens it
    uint32 reserved2 = 0;
};

enum ClusterNeed : int32 {
    ClusterIgnored = 0,
    ClusterRequired = 1,
    ClusterOptional = 2,
};

enum ClusterEffect : int32 {
    ClusterUntouched = 0,
    ClusterMade = 1,
    ClusterDropped = 2,
};

struct ClusterUse {
    const ClusterType* clusterType = nullptr;
    int32 alwaysSlot = 0;  // give it a slot here even when no later node wants it
    int32 reserved = 0;
};

struct OutputSpec {
    const char* name = nullptr;
    const ClusterEffect* effects = nullptr;        // one per entry of the node type's cluster list
    ClusterEffect otherEffect = ClusterUntouched;  // for every cluster type not in the list
};

struct ExecuteParams {
    void* data;
    RenderHeap* heap;
};

using NodeBodyFn = bool (*)(PipelineNode* node, const ExecuteParams* params);
using NodeTypeOpenFn = bool (*)(NodeType* type);
using NodeTypeCloseFn = void (*)(NodeType* type);
using NodeOpenFn = bool (*)(PipelineNode* node);
using NodeCloseFn = void (*)(PipelineNode* node);
using NodeSetupFn = bool (*)(PipelineNode* node, Pipeline* pipeline);

constexpr int32 kMaxNodeOutputs = 32;
constexpr int32 kMaxNodeClusters = 32;
constexpr int32 kMaxPacketSlots = 32;

// Filled by field name; what a table leaves out is zero (no callback, no
// clusters, no outputs).
struct NodeType {
    const char* name = nullptr;
    NodeBodyFn body = nullptr;
    NodeTypeOpenFn typeOpen = nullptr;    // when useCount goes from 0 to 1
    NodeTypeCloseFn typeClose = nullptr;  // when useCount returns to 0
    NodeOpenFn nodeOpen = nullptr;        // per node, when its pipeline is unlocked
    NodeCloseFn nodeClose = nullptr;      // per node, when its pipeline is locked or destroyed
    NodeSetupFn nodeSetup = nullptr;      // per node, once every node is open
    void* reservedCallback = nullptr;     // carried along with copies, never called
    int32 numClusters = 0;
    const ClusterUse* clusters = nullptr;
    const ClusterNeed* needs = nullptr;  // one per cluster list entry
    int32 numOutputs = 0;
    const OutputSpec* outputs = nullptr;
    int32 privateSize = 0;
    int32 isCopy = 0;    // a heap copy made by NodeAddCluster, owned by its node
    int32 useCount = 0;  // nodes of unlocked pipelines using the type
};

// One per distinct cluster type of an unlocked pipeline.
struct TypeTableEntry {
    const ClusterType* clusterType;
    uint32 attributes;
};

enum ClusterFlags : uint16 {
    ClusterValid = 1,
    ClusterExternal = 2,  // the data belongs to someone else: never freed here
    ClusterOpened = 8,    // a node opened it for writing
};

struct Cluster {
    uint16 flags;
    uint16 stride;
    void* data;
    void* currentData;  // working cursor
    uint32 numAlloced;
    uint32 numUsed;
    const TypeTableEntry* clusterRef;  // none while the slot is unused
    uint32 attributes;
};

struct Packet {
    uint16 flags;
    uint16 numClusters;
    Pipeline* pipeline;
    // The maps of the node holding the packet.
    const int32* inputToClusterSlot;
    const uint32* slotsContinue;
    const TypeTableEntry* const* slotClusterRefs;
    Cluster* clusters;
};

enum PacketState : int32 {
    PacketStateNone = 0,
    PacketStateDead = 1,
    PacketStateHeld = 2,    // held by the running node
    PacketStatePassed = 3,  // handed to the next node, not yet picked up
};

struct PipelineInput {
    const ClusterType* clusterType;
    ClusterNeed need;
    int32 slot;
};

struct NodeScratch;

// Nodes sit 32-byte aligned in their pipeline's node array.
struct alignas(32) PipelineNode {
    NodeType* nodeType;
    int32 numOutputs;
    int32* outputs;  // per output: destination node index, or -1
    // Valid while the pipeline is unlocked; they live in the pipeline block.
    const TypeTableEntry** slotClusterRefs;  // per slot
    uint32* slotsContinue;                   // word 0: all continue; word 1 + s: slot s, one bit per output
    void* privateData;
    int32* inputToClusterSlot;  // per cluster list entry: slot or -1
    NodeScratch* scratch;       // used by unlocking
};

struct Pipeline {
    int32 locked;
    int32 numNodes;
    PipelineNode* nodes;
    void* nodeStorage;  // what `nodes` sits in, for freeing
    int32 packetNumClusters;
    int32 packetState;
    Packet* packet;
    int32 numInputRequirements;
    PipelineInput* inputRequirements;  // sorted by cluster type identity
    void* block;                       // maps, packet, type table and private data
    int32 entryPoint;
};

// Editing. Every editing call passes nothing on when handed nothing, so a
// construction chain needs one test at its end.
Pipeline* PipelineCreate();
void PipelineDestroy(Pipeline* pipeline);
Pipeline* PipelineLock(Pipeline* pipeline);
Pipeline* PipelineUnlock(Pipeline* pipeline);
// The end of a construction chain that began with created = PipelineCreate():
// unlocks and returns the edited pipeline, or, when the chain failed (edited is
// null) or the unlock does, destroys created and returns null.
Pipeline* PipelineFinish(Pipeline* created, Pipeline* edited);
// Adds one node per type; each new node is linked from the previous new
// node's first output. Writes the first new index to *firstIndex.
Pipeline* PipelineAddNodeList(Pipeline* pipeline, int32* firstIndex, NodeType* const* types, int32 count);
// PipelineAddNodes(pipeline, &first, A, B, C, nullptr): the list ends at the
// first null.
template <typename... Types>
Pipeline* PipelineAddNodes(Pipeline* pipeline, int32* firstIndex, Types... types) {
    NodeType* const list[] = {static_cast<NodeType*>(types)..., nullptr};
    int32 count = 0;
    while (list[count] != nullptr) ++count;
    return PipelineAddNodeList(pipeline, firstIndex, list, count);
}
PipelineNode* PipelineFindNode(Pipeline* pipeline, const char* name, PipelineNode* after);
int32* NodeFindOutput(PipelineNode* node, const char* name);
PipelineNode* NodeCheck(PipelineNode* node);
Pipeline* PipelineLinkOutput(Pipeline* pipeline, int32* output, PipelineNode* destination);
Pipeline* NodeAddCluster(Pipeline* pipeline, PipelineNode* node, const ClusterType* clusterType);

// Execution.
Pipeline* PipelineExecute(Pipeline* pipeline, void* data, bool resetHeap);

// The one execution in progress.
struct ExecutionState {
    Pipeline* pipeline;
    int32 ok;
    ExecuteParams params;
};
ExecutionState* PipelineExecutionState();
// Runs a node's body as the protocol asks; a failure clears ok.
bool NodeRun(PipelineNode* node, const ExecuteParams* params);

Packet* PacketCreate(PipelineNode* node);
PipelineNode* PacketDispatch(Pipeline* pipeline, PipelineNode* node, int32 output);
void PacketDestroy(Packet* packet);
void PacketTransfer(Pipeline* source, Pipeline* target);
// Picks up the packet handed to the running node (protocol step 1), or null.
Packet* PacketPickUp(Pipeline* pipeline);
// Protocol step 4: destroys the packet if a node still holds it.
void PacketRelease(Pipeline* pipeline);

Cluster* ClusterOpen(Packet* packet, int32 index, PipelineNode* node);
Cluster* ClusterAttach(Cluster* cluster, void* data, uint16 stride, uint32 count);
Cluster* ClusterAdopt(Cluster* cluster, void* block, uint16 stride, uint32 count);
Cluster* ClusterAllocate(Cluster* cluster, uint32 count, uint16 stride);
Cluster* ClusterResize(Cluster* cluster, uint32 count);

}  // namespace kv
