#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/core/error.h"
#include "engine/pipe/pipeline.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/render_heap.h"
#include "pipeline_fixture.h"

namespace kv {
namespace {

using test::cA;
using test::cB;
using test::cC;
using test::cD;
using test::ExpectHeapSound;
using test::Node;
using test::OutputDecl;
using test::SlotOf;
using test::TestType;

using test::D;
using test::Ign;
using test::M;
using test::Opt;
using test::Req;
using test::U;

using Body = std::function<bool(PipelineNode*, const ExecuteParams*)>;
Body srcBody;
Body sinkBody;
Body midBody;
bool SrcTrampoline(PipelineNode* n, const ExecuteParams* p) { return srcBody(n, p); }
bool SinkTrampoline(PipelineNode* n, const ExecuteParams* p) { return sinkBody(n, p); }
bool MidTrampoline(PipelineNode* n, const ExecuteParams* p) { return midBody(n, p); }

Pipeline* Running() { return PipelineExecutionState()->pipeline; }

// Protocol step 3: hand the packet on along an output and run the node there.
void Forward(PipelineNode* node, int32 output, const ExecuteParams* params) {
    if (PipelineExecutionState()->ok == 0) return;
    if (PipelineNode* dest = PacketDispatch(Running(), node, output)) NodeRun(dest, params);
}

// Src makes A (4 ints) and B (8 × 16 bytes) and attaches the caller's array
// as C; the output to take comes with the data pointer.
struct SrcInput {
    int32 output;
    std::vector<int32>* external;
};

class Execute : public test::EngineFixture {
  protected:
    // Outputs: 0 all made; 1 drops B; 2 drops C.
    TestType src{
        "Src",
        {{&cA, Ign}, {&cB, Ign}, {&cC, Ign}},
        {OutputDecl{"Out", {M, M, M}, U}, OutputDecl{"DropB", {M, D, M}, U}, OutputDecl{"DropC", {M, M, D}, U}},
        SrcTrampoline};
    TestType sink{"Sink", {{&cA, Req}, {&cB, Opt}, {&cC, Opt}}, {}, SinkTrampoline};
    Pipeline* p = nullptr;
    void* bData = nullptr;

    void SetUp() override {
        test::EngineFixture::SetUp();
        srcBody = [this](PipelineNode* node, const ExecuteParams* params) {
            auto* in = static_cast<SrcInput*>(params->data);
            Packet* pk = PacketCreate(node);
            EXPECT_EQ(Running()->packetState, PacketStateHeld);
            Cluster* a = ClusterAllocate(ClusterOpen(pk, 0, node), 4, 4);
            for (int32 i = 0; i < 4; ++i) static_cast<int32*>(a->data)[i] = i + 1;
            a->numUsed = 4;
            Cluster* b = ClusterAllocate(ClusterOpen(pk, 1, node), 8, 16);
            bData = b->data;
            ClusterAttach(ClusterOpen(pk, 2, node), in->external->data(), 4, static_cast<uint32>(in->external->size()));
            Forward(node, in->output, params);
            PacketRelease(Running());
            return true;
        };
        sinkBody = [](PipelineNode*, const ExecuteParams*) { return true; };
        p = PipelineLock(PipelineCreate());
        int32 first = 0;
        ASSERT_EQ(PipelineAddNodes(p, &first, &src.type, &sink.type, nullptr), p);
        ASSERT_EQ(PipelineLinkOutput(p, NodeFindOutput(Node(p, "Src"), "DropB"), Node(p, "Sink")), p);
        ASSERT_EQ(PipelineLinkOutput(p, NodeFindOutput(Node(p, "Src"), "DropC"), Node(p, "Sink")), p);
        ASSERT_EQ(PipelineUnlock(p), p);
    }
    void TearDown() override {
        PipelineDestroy(p);
        srcBody = sinkBody = midBody = nullptr;
        test::EngineFixture::TearDown();
    }
    Cluster* SlotAt(PipelineNode* node, const ClusterType* t) { return &p->packet->clusters[SlotOf(node, t)]; }
};

TEST_F(Execute, DispatchKeepsEveryClusterAlongAnOutputThatPassesThemAll) {
    std::vector<int32> ext = {10, 20, 30};
    SrcInput in{0, &ext};
    bool ran = false;
    sinkBody = [&](PipelineNode* node, const ExecuteParams*) {
        EXPECT_EQ(Running()->packetState, PacketStatePassed);
        Packet* pk = PacketPickUp(Running());
        EXPECT_EQ(Running()->packetState, PacketStateHeld);
        EXPECT_EQ(pk->slotsContinue, node->slotsContinue) << "the packet carries the holder's maps";
        Cluster* a = ClusterOpen(pk, 0, node);
        EXPECT_EQ(a->numUsed, 4u);
        EXPECT_EQ(static_cast<int32*>(a->data)[3], 4);
        EXPECT_EQ(a->attributes, cA.defaultAttributes);
        EXPECT_EQ(ClusterOpen(pk, 1, node)->data, bData);
        EXPECT_EQ(SlotAt(node, &cC)->data, ext.data());
        ran = true;
        PacketRelease(Running());
        return true;
    };
    EXPECT_EQ(PipelineExecute(p, &in, true), p);
    EXPECT_TRUE(ran);
    EXPECT_EQ(p->packetState, PacketStateDead);
    ExpectHeapSound(PipelineModuleHeap());
}

TEST_F(Execute, DispatchClearsDroppedSlotsFreeingOwnedDataButNotExternalData) {
    std::vector<int32> ext = {10, 20, 30};
    SrcInput in{1, &ext};
    RenderHeap* heap = PipelineModuleHeap();
    sinkBody = [&](PipelineNode* node, const ExecuteParams* params) {
        Packet* pk = PacketPickUp(Running());
        Cluster* b = SlotAt(node, &cB);
        EXPECT_EQ(b->clusterRef, nullptr);
        EXPECT_EQ(b->data, nullptr);
        // B's block went back to the heap at dispatch: the same space is
        // handed out again.
        void* again = HeapAlloc(params->heap, 128);
        EXPECT_EQ(again, bData);
        HeapFree(params->heap, again);
        EXPECT_NE(ClusterOpen(pk, 0, node), nullptr);
        PacketRelease(Running());
        return true;
    };
    EXPECT_EQ(PipelineExecute(p, &in, true), p);

    const uint32 freeBefore = heap->entriesUsed;
    in.output = 2;
    sinkBody = [&](PipelineNode* node, const ExecuteParams*) {
        PacketPickUp(Running());
        EXPECT_EQ(SlotAt(node, &cC)->data, nullptr);
        EXPECT_EQ(SlotAt(node, &cB)->data, bData);
        PacketRelease(Running());
        return true;
    };
    EXPECT_EQ(PipelineExecute(p, &in, true), p);
    EXPECT_EQ(ext, (std::vector<int32>{10, 20, 30}));
    EXPECT_EQ(heap->entriesUsed, freeBefore);
    ExpectHeapSound(heap);
}

TEST_F(Execute, OpeningExternalDataGivesTheNodeAHeapCopy) {
    std::vector<int32> ext = {10, 20, 30};
    SrcInput in{0, &ext};
    sinkBody = [&](PipelineNode* node, const ExecuteParams*) {
        Packet* pk = PacketPickUp(Running());
        Cluster* c = ClusterOpen(pk, 2, node);
        EXPECT_NE(c->data, ext.data());
        EXPECT_EQ(c->currentData, c->data);
        EXPECT_EQ(c->flags & ClusterExternal, 0);
        EXPECT_NE(c->flags & ClusterValid, 0);
        EXPECT_NE(c->flags & ClusterOpened, 0);
        EXPECT_EQ(std::memcmp(c->data, ext.data(), 12), 0);
        static_cast<int32*>(c->data)[0] = 99;
        PacketRelease(Running());
        return true;
    };
    EXPECT_EQ(PipelineExecute(p, &in, true), p);
    EXPECT_EQ(ext[0], 10);
    ExpectHeapSound(PipelineModuleHeap());
}

TEST_F(Execute, AFailingBodyFailsTheRunAndThePacketIsStillDestroyed) {
    std::vector<int32> ext = {1};
    SrcInput in{0, &ext};
    sinkBody = [](PipelineNode*, const ExecuteParams*) { return false; };
    EXPECT_EQ(PipelineExecute(p, &in, true), nullptr);
    EXPECT_EQ(p->packetState, PacketStateDead);
    EXPECT_EQ(PipelineExecutionState()->pipeline, nullptr);
    for (int32 s = 0; s < p->packetNumClusters; ++s) EXPECT_EQ(p->packet->clusters[s].data, nullptr);
    // Nodes that do not destroy the packet leave it to the run.
    sinkBody = [](PipelineNode*, const ExecuteParams*) { return true; };
    EXPECT_EQ(PipelineExecute(p, &in, true), p);
    EXPECT_EQ(p->packetState, PacketStateDead);
    EXPECT_EQ(PipelineExecute(nullptr, &in, true), nullptr);
}

TEST_F(Execute, ClusterOperationsAllocateAdoptAttachAndResizeOwnedDataOnly) {
    std::vector<int32> ext = {1, 2};
    SrcInput in{0, &ext};
    sinkBody = [&](PipelineNode* node, const ExecuteParams* params) {
        Packet* pk = PacketPickUp(Running());
        [&] {
            Cluster* b = ClusterOpen(pk, 1, node);
            ASSERT_EQ(ClusterAllocate(b, 10, 8), b);
            EXPECT_EQ(b->numAlloced, 10u);
            EXPECT_EQ(b->numUsed, 0u);
            std::memset(b->data, 0x5A, 80);
            b->numUsed = 10;
            ASSERT_EQ(ClusterResize(b, 1000), b);
            EXPECT_EQ(b->numAlloced, 1000u);
            EXPECT_EQ(b->currentData, b->data);
            EXPECT_EQ(static_cast<uint8*>(b->data)[79], 0x5A);
            ASSERT_EQ(ClusterResize(b, 4), b);
            EXPECT_EQ(b->numUsed, 4u);

            void* block = HeapAlloc(params->heap, 64);
            ASSERT_EQ(ClusterAdopt(b, block, 16, 4), b);
            EXPECT_EQ(b->flags & (ClusterValid | ClusterExternal), ClusterValid);

            Cluster* c = &pk->clusters[SlotOf(node, &cC)];
            EXPECT_EQ(ClusterResize(c, 100), nullptr) << "the caller's array is never reallocated";
            EXPECT_EQ(c->data, ext.data());
            ExpectHeapSound(params->heap);
        }();
        PacketRelease(Running());
        return true;
    };
    EXPECT_EQ(PipelineExecute(p, &in, true), p);
    RenderHeap* heap = PipelineModuleHeap();
    ExpectHeapSound(heap);
    // Everything went back: one free space again.
    EXPECT_EQ(heap->entriesUsed, 1u);
}

TEST_F(Execute, RunsWithoutAHeapResetKeepEarlierBlocks) {
    std::vector<int32> ext = {1};
    SrcInput in{0, &ext};
    RenderHeap* heap = PipelineModuleHeap();
    void* kept = HeapAlloc(heap, 256);
    std::memset(kept, 7, 256);
    EXPECT_EQ(PipelineExecute(p, &in, false), p);
    EXPECT_EQ(static_cast<uint8*>(kept)[255], 7);
    ExpectHeapSound(heap);
    EXPECT_EQ(PipelineExecute(p, &in, true), p);
    EXPECT_EQ(HeapAlloc(heap, 256), kept) << "a reset hands out the first block again";
}

// A packet moved to a second pipeline keeps its data; the first packet is
// destroyed without freeing what moved.
TEST_F(Execute, TransferMovesTheInputsOfTheTargetPipeline) {
    TestType scatter("Scatter", {{&cA, Req}, {&cB, Opt}}, {}, MidTrampoline);
    TestType sink2("Sink2", {{&cB, Req}, {&cD, Opt}}, {}, SinkTrampoline);
    Pipeline* first = PipelineLock(PipelineCreate());
    Pipeline* second = PipelineLock(PipelineCreate());
    int32 index = 0;
    ASSERT_EQ(PipelineAddNodes(first, &index, &src.type, &scatter.type, nullptr), first);
    ASSERT_EQ(PipelineAddNodes(second, &index, &sink2.type, nullptr), second);
    ASSERT_EQ(PipelineUnlock(first), first);
    ASSERT_EQ(PipelineUnlock(second), second);

    midBody = [&](PipelineNode*, const ExecuteParams* params) {
        PacketPickUp(first);
        PacketTransfer(first, second);
        EXPECT_EQ(first->packetState, PacketStateDead);
        EXPECT_EQ(second->packetState, PacketStatePassed);
        ExecutionState* ex = PipelineExecutionState();
        ex->pipeline = second;
        NodeRun(&second->nodes[second->entryPoint], params);
        ex->pipeline = first;
        PacketRelease(second);
        return true;
    };
    bool ran = false;
    sinkBody = [&](PipelineNode* node, const ExecuteParams*) {
        Packet* pk = PacketPickUp(second);
        [&] {
            Cluster* b = ClusterOpen(pk, 0, node);
            EXPECT_EQ(b->data, bData);
            EXPECT_EQ(b->numAlloced, 8u);
            EXPECT_EQ(b->clusterRef, node->slotClusterRefs[SlotOf(node, &cB)]);
            // D is an input of the second pipeline that the first never had.
            Cluster* d = ClusterOpen(pk, 1, node);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->data, nullptr);
            ran = true;
        }();
        PacketRelease(second);
        return true;
    };
    std::vector<int32> ext = {1};
    SrcInput in{0, &ext};
    EXPECT_EQ(PipelineExecute(first, &in, true), first);
    EXPECT_TRUE(ran);
    RenderHeap* heap = PipelineModuleHeap();
    ExpectHeapSound(heap);
    EXPECT_EQ(heap->entriesUsed, 1u) << "everything freed exactly once";
    PipelineDestroy(first);
    PipelineDestroy(second);
}

// Memory that can be made to fail, to see ClusterOpen refuse cleanly.
bool failAllocation = false;
void* FailingMalloc(std::size_t n) { return failAllocation ? nullptr : std::malloc(n); }
void* FailingRealloc(void* p, std::size_t n) { return failAllocation ? nullptr : std::realloc(p, n); }
void* FailingCalloc(std::size_t c, std::size_t n) { return failAllocation ? nullptr : std::calloc(c, n); }

class ExecuteLowMemory : public test::EngineFixture {
  protected:
    void SetUp() override {
        static const MemoryFunctions mem = {FailingMalloc, std::free, FailingRealloc, FailingCalloc};
        StartEngine(&mem);
    }
};

TEST_F(ExecuteLowMemory, OpeningExternalDataFailsCleanlyWhenNoCopyCanBeMade) {
    test::ErrorLog log;
    TestType src("Src", {{&cA, Ign}}, {OutputDecl{"Out", {M}, U}}, SrcTrampoline);
    TestType sink("Sink", {{&cA, Req}}, {}, SinkTrampoline);
    Pipeline* p = PipelineLock(PipelineCreate());
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &src.type, &sink.type, nullptr), p);
    ASSERT_EQ(PipelineUnlock(p), p);
    // Larger than a superblock: the copy needs new engine memory.
    std::vector<int32> big(kPipelineHeapSize / 2, 3);
    srcBody = [&](PipelineNode* node, const ExecuteParams* params) {
        Packet* pk = PacketCreate(node);
        ClusterAttach(ClusterOpen(pk, 0, node), big.data(), 4, static_cast<uint32>(big.size()));
        Forward(node, 0, params);
        PacketRelease(Running());
        return true;
    };
    sinkBody = [&](PipelineNode* node, const ExecuteParams*) {
        Packet* pk = PacketPickUp(Running());
        failAllocation = true;
        EXPECT_EQ(ClusterOpen(pk, 0, node), nullptr);
        failAllocation = false;
        Cluster* c = &pk->clusters[SlotOf(node, &cA)];
        EXPECT_EQ(c->data, big.data());
        EXPECT_NE(c->flags & ClusterExternal, 0);
        EXPECT_TRUE(log.Has(0, kErrNoMemory));
        // With memory back the copy is made.
        Cluster* opened = ClusterOpen(pk, 0, node);
        EXPECT_NE(opened, nullptr);
        EXPECT_NE(opened->data, big.data());
        PacketRelease(Running());
        return true;
    };
    EXPECT_EQ(PipelineExecute(p, nullptr, true), p);
    EXPECT_EQ(big[0], 3);
    PipelineDestroy(p);
    srcBody = sinkBody = nullptr;
}

}  // namespace
}  // namespace kv
