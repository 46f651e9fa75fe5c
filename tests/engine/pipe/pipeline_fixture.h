// Small node and cluster types for pipeline tests, and a started engine.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/core/engine.h"
#include "engine/pipe/pipeline.h"
#include "engine/pipe/render_heap.h"
#include "engine_fixture.h"
#include "error_log.h"

namespace kv::test {

// Short names for the effect and need tables the tests spell out.
constexpr ClusterEffect U = ClusterUntouched;
constexpr ClusterEffect M = ClusterMade;
constexpr ClusterEffect D = ClusterDropped;
constexpr ClusterNeed Ign = ClusterIgnored;
constexpr ClusterNeed Req = ClusterRequired;
constexpr ClusterNeed Opt = ClusterOptional;

inline const ClusterType cA = {"A.csl", 0, 0xA0, 0};
inline const ClusterType cB = {"B.csl", 0, 0xB0, 0};
inline const ClusterType cC = {"C.csl", 0, 0xC0, 0};
inline const ClusterType cD = {"D.csl", 0, 0xD0, 0};

struct OutputDecl {
    const char* name;
    std::vector<ClusterEffect> effects;
    ClusterEffect other;
};

// A node type whose arrays live with it; not copyable (the record points
// into its own members).
struct TestType {
    std::vector<ClusterUse> clusters;
    std::vector<ClusterNeed> needs;
    std::vector<OutputDecl> decls;
    std::vector<OutputSpec> outputs;
    NodeType type{};

    TestType(const char* name, std::vector<std::pair<const ClusterType*, ClusterNeed>> cl, std::vector<OutputDecl> outs,
             NodeBodyFn body = nullptr)
        : decls(std::move(outs)) {
        for (auto& [t, need] : cl) {
            clusters.push_back(ClusterUse{t, 0, 0});
            needs.push_back(need);
        }
        // Effects not given are the output's other effect.
        for (auto& d : decls) {
            d.effects.resize(clusters.size(), d.other);
            outputs.push_back(OutputSpec{d.name, d.effects.data(), d.other});
        }
        type.name = name;
        type.body = body;
        type.numClusters = static_cast<int32>(clusters.size());
        type.clusters = clusters.data();
        type.needs = needs.data();
        type.numOutputs = static_cast<int32>(outputs.size());
        type.outputs = outputs.data();
    }
    TestType(const TestType&) = delete;
    TestType& operator=(const TestType&) = delete;
};

// A pass-through node: one output leaving everything as it was.
inline OutputDecl PassAll(const char* name = "Out") { return OutputDecl{name, {}, ClusterUntouched}; }

class EngineFixture : public ::testing::Test {
  protected:
    void SetUp() override { StartEngine(); }
    void TearDown() override { StopEngine(); }
    void StartEngine(const MemoryFunctions* mem = nullptr) { ASSERT_TRUE(EngineUp({.memory = mem})); }
    void StopEngine() { EngineDown(); }
};

inline int32 IndexOf(const Pipeline* p, const PipelineNode* n) { return static_cast<int32>(n - p->nodes); }

inline PipelineNode* Node(Pipeline* p, const char* name) { return PipelineFindNode(p, name, nullptr); }

// The slot a node keeps for a cluster type, or -1.
inline int32 SlotOf(const PipelineNode* n, const ClusterType* t) {
    for (int32 k = 0; k < n->nodeType->numClusters; ++k) {
        if (n->nodeType->clusters[k].clusterType == t) return n->inputToClusterSlot[k];
    }
    return -1;
}

}  // namespace kv::test

namespace kv::test {

// Walks the heap's header chain and free list and checks that they agree.
inline void ExpectHeapSound(const RenderHeap* heap) {
    uint32 freeHeaders = 0;
    const HeapHeader* prev = nullptr;
    for (const HeapHeader* h = heap->firstHeader; h != nullptr; h = h->next) {
        ASSERT_EQ(h->prev, prev);
        ASSERT_EQ(h->size % kHeapGranularity, 0u);
        if (h->freeEntry != nullptr) {
            ++freeHeaders;
            ASSERT_EQ(h->freeEntry->header, h);
            ASSERT_EQ(h->freeEntry->size, h->size);
            // Neighbouring free spaces would have been merged.
            ASSERT_TRUE(h->next == nullptr || h->next->freeEntry == nullptr);
        }
        if (h->next != nullptr && h->size != 0) {
            ASSERT_EQ(reinterpret_cast<const char*>(h->next), reinterpret_cast<const char*>(h + 1) + h->size);
        }
        prev = h;
    }
    ASSERT_EQ(freeHeaders, heap->entriesUsed);
}

}  // namespace kv::test
