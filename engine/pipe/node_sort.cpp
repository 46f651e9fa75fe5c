#include "node_sort.h"

#include <cstring>

#include "cluster_resolve.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"

namespace kv {

bool PipelineSortNodes(Pipeline* p) {
    const int32 n = p->numNodes;
    PipelineNode* nodes = p->nodes;
    if (p->entryPoint < 0 || p->entryPoint >= n || nodes[p->entryPoint].nodeType == nullptr) {
        ErrorRaise(kModuleCore, kErrPipeBadEntry);
        return false;
    }
    for (int32 i = 0; i < n; ++i) {
        nodes[i].scratch->numInputs = 0;
        nodes[i].scratch->numVisits = 0;
    }
    for (int32 i = 0; i < n; ++i) {
        for (int32 o = 0; o < nodes[i].numOutputs; ++o) {
            if (nodes[i].outputs[o] >= 0) ++nodes[nodes[i].outputs[o]].scratch->numInputs;
        }
    }
    if (nodes[p->entryPoint].scratch->numInputs != 0) {
        ErrorRaise(kModuleCore, kErrPipeBadEntry);
        return false;
    }
    for (int32 i = 0; i < n; ++i) {
        if (i != p->entryPoint && nodes[i].scratch->numInputs == 0) {
            ErrorRaise(kModuleCore, kErrPipeNoInputs);
            return false;
        }
    }

    // order[k]: old index of the node placed k-th; stack of (node, next output).
    auto* work = static_cast<int32*>(KvMalloc(sizeof(int32) * 4 * static_cast<std::size_t>(n)));
    if (work == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return false;
    }
    int32* order = work;
    int32* newIndex = work + n;
    int32* stack = work + 2 * n;  // pairs
    int32 placed = 0;
    int32 depth = 0;
    order[placed++] = p->entryPoint;
    stack[0] = p->entryPoint;
    stack[1] = 0;
    depth = 1;
    // A node is placed once every link into it has been followed, and its own
    // outputs are followed at once (depth first).
    while (depth > 0) {
        int32* top = &stack[2 * (depth - 1)];
        PipelineNode& node = nodes[top[0]];
        if (top[1] >= node.numOutputs) {
            --depth;
            continue;
        }
        const int32 dest = node.outputs[top[1]++];
        if (dest < 0) continue;
        NodeScratch* s = nodes[dest].scratch;
        if (++s->numVisits == s->numInputs) {
            order[placed++] = dest;
            stack[2 * depth] = dest;
            stack[2 * depth + 1] = 0;
            ++depth;
        }
    }
    if (placed != n) {
        KvFree(work);
        ErrorRaise(kModuleCore, kErrPipeCycle);
        return false;
    }

    for (int32 k = 0; k < n; ++k) newIndex[order[k]] = k;
    auto* copy = static_cast<char*>(KvMalloc(sizeof(PipelineNode) * static_cast<std::size_t>(n)));
    if (copy == nullptr) {
        KvFree(work);
        ErrorRaise(kModuleNone, kErrNoMemory);
        return false;
    }
    std::memcpy(copy, static_cast<void*>(nodes), sizeof(PipelineNode) * static_cast<std::size_t>(n));
    for (int32 k = 0; k < n; ++k) {
        std::memcpy(static_cast<void*>(&nodes[k]), copy + sizeof(PipelineNode) * static_cast<std::size_t>(order[k]),
                    sizeof(PipelineNode));
    }
    KvFree(copy);
    for (int32 k = 0; k < n; ++k) {
        for (int32 o = 0; o < nodes[k].numOutputs; ++o) {
            if (nodes[k].outputs[o] >= 0) nodes[k].outputs[o] = newIndex[nodes[k].outputs[o]];
        }
    }
    p->entryPoint = 0;
    KvFree(work);
    return true;
}

}  // namespace kv
