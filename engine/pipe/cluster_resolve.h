// Cluster resolution for unlocking: which clusters each node must see, which
// continue along which output, which packet slot each one lives in, and the
// block that holds the packet and every node's maps.
#pragma once

#include "pipeline.h"

namespace kv {

struct Requirement {
    const ClusterType* clusterType;
    ClusterNeed need;
    int32 count;   // predecessors that may still withdraw it
    int32 origin;  // node whose need brought it in
    uint32 outputMask;
    int32 group;
    int32 slot;
};

// Per-node working state of unlocking.
struct NodeScratch {
    int32 numInputs;
    int32 numVisits;
    Requirement* reqs;
    int32 numReqs;
    int32 reqsAlloced;
};

// Resolves the clusters of a sorted pipeline and builds its block; on
// failure the pipeline is left without a block.
bool PipelineResolveClusters(Pipeline* pipeline);
void NodeScratchFree(NodeScratch* scratch);

}  // namespace kv
