// The pipeline heap against the C library's allocator, one packet through a
// small pipeline, and the resource arena under eviction.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/image/resource_arena.h"
#include "engine/pipe/pipeline.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/render_heap.h"
#include "engine/pipe/standard_clusters.h"

namespace kv {
namespace {

struct Engine {
    explicit Engine(int32 arenaSize = 0) {
        ResourcesSetArenaSize(arenaSize);
        EngineUseStandardModules();
        EngineInit(nullptr, 0);
        EngineOpenParams p{this};
        EngineOpen(&p);
        ok = EngineStart();
    }
    ~Engine() {
        EngineStop();
        EngineClose();
        EngineTerm();
        ResourcesSetArenaSize(0);
    }
    bool ok = false;
};

constexpr int kFrameBlocks = 256;

// Sizes of one frame's blocks: all the same, or (size 0) mixed 32..4096.
std::vector<uint32> FrameSizes(int64_t size) {
    std::vector<uint32> sizes(kFrameBlocks, static_cast<uint32>(size));
    if (size == 0) {
        std::mt19937 rng(7);
        for (uint32& s : sizes) s = 32 + rng() % (4096 - 32 + 1);
    }
    return sizes;
}

// A frame: blocks are made one after another, every fourth one frees the
// block before it (a dropped cluster), and the frame ends with a reset.
void BM_HeapFrame(benchmark::State& state) {
    Engine engine;
    RenderHeap* heap = HeapCreate(kPipelineHeapSize);
    const std::vector<uint32> sizes = FrameSizes(state.range(0));
    std::vector<void*> blocks(kFrameBlocks);
    for (auto _ : state) {
        for (int i = 0; i < kFrameBlocks; ++i) {
            blocks[i] = HeapAlloc(heap, sizes[i]);
            static_cast<char*>(blocks[i])[0] = 1;
            if (i % 4 == 3) HeapFree(heap, blocks[i - 1]);
        }
        benchmark::DoNotOptimize(blocks.data());
        HeapReset(heap);
    }
    state.SetItemsProcessed(state.iterations() * kFrameBlocks);
    HeapDestroy(heap);
}

void BM_MallocFrame(benchmark::State& state) {
    const std::vector<uint32> sizes = FrameSizes(state.range(0));
    std::vector<void*> blocks(kFrameBlocks);
    for (auto _ : state) {
        for (int i = 0; i < kFrameBlocks; ++i) {
            blocks[i] = std::malloc(sizes[i]);
            static_cast<char*>(blocks[i])[0] = 1;
            if (i % 4 == 3) {
                std::free(blocks[i - 1]);
                blocks[i - 1] = nullptr;
            }
        }
        benchmark::DoNotOptimize(blocks.data());
        for (void* b : blocks) std::free(b);
    }
    state.SetItemsProcessed(state.iterations() * kFrameBlocks);
}

BENCHMARK(BM_HeapFrame)->Arg(32)->Arg(256)->Arg(1024)->Arg(4096)->Arg(0);
BENCHMARK(BM_MallocFrame)->Arg(32)->Arg(256)->Arg(1024)->Arg(4096)->Arg(0);

// Three nodes: the source makes vertices and a state record, the middle node
// writes the vertices, the sink reads them; 64 vertices of 36 bytes.
constexpr uint32 kVertices = 64;

Pipeline* Running() { return PipelineExecutionState()->pipeline; }

bool SourceBody(PipelineNode* node, const ExecuteParams* params) {
    Packet* pk = PacketCreate(node);
    Cluster* v = ClusterAllocate(ClusterOpen(pk, 0, node), kVertices, 36);
    Cluster* m = ClusterAllocate(ClusterOpen(pk, 1, node), 1, 188);
    if (v == nullptr || m == nullptr) return false;
    std::memset(v->data, 0, kVertices * 36);
    v->numUsed = kVertices;
    m->numUsed = 1;
    if (PipelineNode* next = PacketDispatch(Running(), node, 0)) NodeRun(next, params);
    PacketRelease(Running());
    return true;
}

bool MiddleBody(PipelineNode* node, const ExecuteParams* params) {
    Packet* pk = PacketPickUp(Running());
    Cluster* v = ClusterOpen(pk, 0, node);
    auto* f = static_cast<float*>(v->data);
    for (uint32 i = 0; i < v->numUsed; ++i) f[i * 9] += 1.0f;
    if (PipelineExecutionState()->ok != 0) {
        if (PipelineNode* next = PacketDispatch(Running(), node, 0)) NodeRun(next, params);
    }
    PacketRelease(Running());
    return true;
}

float sinkSum = 0;
bool SinkBody(PipelineNode* node, const ExecuteParams*) {
    Packet* pk = PacketPickUp(Running());
    Cluster* v = ClusterOpen(pk, 0, node);
    const auto* f = static_cast<const float*>(v->data);
    for (uint32 i = 0; i < v->numUsed; ++i) sinkSum += f[i * 9];
    PacketRelease(Running());
    return true;
}

const ClusterUse kUses[] = {{&clusterObjSpace3DVertices, 0, 0}, {&clusterMeshState, 0, 0}};
const ClusterNeed kSourceNeeds[] = {ClusterIgnored, ClusterIgnored};
const ClusterNeed kWorkNeeds[] = {ClusterRequired, ClusterRequired};
const ClusterEffect kMakeBoth[] = {ClusterMade, ClusterMade};
const ClusterEffect kPass[] = {ClusterUntouched, ClusterUntouched};
const OutputSpec kSourceOut[] = {{"SourceOut", kMakeBoth, ClusterDropped}};
const OutputSpec kMiddleOut[] = {{"MiddleOut", kPass, ClusterUntouched}};

NodeType sourceType = {.name = "Source.csl",
                       .body = SourceBody,
                       .numClusters = 2,
                       .clusters = kUses,
                       .needs = kSourceNeeds,
                       .numOutputs = 1,
                       .outputs = kSourceOut};
NodeType middleType = {.name = "Middle.csl",
                       .body = MiddleBody,
                       .numClusters = 2,
                       .clusters = kUses,
                       .needs = kWorkNeeds,
                       .numOutputs = 1,
                       .outputs = kMiddleOut};
NodeType sinkType = {.name = "Sink.csl", .body = SinkBody, .numClusters = 2, .clusters = kUses, .needs = kWorkNeeds};

void BM_PacketThroughThreeNodes(benchmark::State& state) {
    Engine engine;
    int32 first = 0;
    Pipeline* p = PipelineUnlock(
        PipelineAddNodes(PipelineLock(PipelineCreate()), &first, &sourceType, &middleType, &sinkType, nullptr));
    if (p == nullptr) {
        state.SkipWithError("pipeline did not unlock");
        return;
    }
    for (auto _ : state) {
        if (PipelineExecute(p, nullptr, true) == nullptr) state.SkipWithError("run failed");
    }
    benchmark::DoNotOptimize(sinkSum);
    PipelineDestroy(p);
}
BENCHMARK(BM_PacketThroughThreeNodes);

// The floor: the same work of the three bodies (make 64 vertices and a state
// record, write the vertices, read them) as three plain calls through
// pointers on a malloc'd block, with no pipeline around them.
using PlainBody = void (*)(float* vertices);
void PlainSource(float* v) { std::memset(v, 0, kVertices * 36); }
void PlainMiddle(float* v) {
    for (uint32 i = 0; i < kVertices; ++i) v[i * 9] += 1.0f;
}
void PlainSink(float* v) {
    for (uint32 i = 0; i < kVertices; ++i) sinkSum += v[i * 9];
}
void BM_ThreePlainCalls(benchmark::State& state) {
    PlainBody bodies[] = {PlainSource, PlainMiddle, PlainSink};
    benchmark::DoNotOptimize(bodies);
    for (auto _ : state) {
        auto* v = static_cast<float*>(std::malloc(kVertices * 36 + 188));
        for (PlainBody b : bodies) b(v);
        std::free(v);
    }
    benchmark::DoNotOptimize(sinkSum);
}
BENCHMARK(BM_ThreePlainCalls);

// A full arena: every allocation has to evict; frames end every 16.
void BM_ArenaAllocateWithEviction(benchmark::State& state) {
    Engine engine(256 * 1024);
    constexpr int kOwners = 4096;
    std::vector<ResEntry*> refs(kOwners, nullptr);
    std::mt19937 rng(11);
    std::vector<int32> sizes(1024);
    for (int32& s : sizes) s = 64 + static_cast<int32>(rng() % 8192);
    // Fill it first.
    int next = 0;
    for (int i = 0; i < kOwners; ++i) ResourcesAllocateEntry(nullptr, &refs[i], sizes[i % 1024], true, nullptr);
    int64_t n = 0;
    for (auto _ : state) {
        ResEntry** ref = &refs[next];
        if (*ref != nullptr) ResourcesFreeEntry(*ref);
        ResourcesAllocateEntry(nullptr, ref, sizes[n & 1023], true, nullptr);
        next = (next + 1) % kOwners;
        if ((++n & 15) == 0) ResourcesEndFrame();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ArenaAllocateWithEviction);

// Its peer: the C library's allocator freeing and taking the same sizes in
// turn among as many owners (no limit, so nothing is evicted).
void BM_MallocInTurn(benchmark::State& state) {
    constexpr int kOwners = 4096;
    std::vector<void*> blocks(kOwners, nullptr);
    std::mt19937 rng(11);
    std::vector<int32> sizes(1024);
    for (int32& s : sizes) s = 64 + static_cast<int32>(rng() % 8192);
    for (int i = 0; i < kOwners; ++i) blocks[i] = std::malloc(static_cast<std::size_t>(sizes[i % 1024]));
    int next = 0;
    int64_t n = 0;
    for (auto _ : state) {
        std::free(blocks[next]);
        blocks[next] = std::malloc(static_cast<std::size_t>(sizes[n & 1023]));
        benchmark::DoNotOptimize(blocks[next]);
        next = (next + 1) % kOwners;
        ++n;
    }
    for (void* b : blocks) std::free(b);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MallocInTurn);

// A cache of 512 objects of which 64 are drawn each frame: the ones found
// are marked used, the ones evicted are rebuilt.
void BM_ArenaCacheFrame(benchmark::State& state) {
    Engine engine(1024 * 1024);
    constexpr int kObjects = 512;
    std::vector<ResEntry*> refs(kObjects, nullptr);
    std::mt19937 rng(3);
    std::vector<int> drawn(64 * 64);
    for (int& d : drawn) d = static_cast<int>(rng() % kObjects);
    int64_t frame = 0;
    int64_t rebuilt = 0;
    for (auto _ : state) {
        const int* list = &drawn[(frame % 64) * 64];
        for (int i = 0; i < 64; ++i) {
            ResEntry*& ref = refs[list[i]];
            if (ref != nullptr) {
                ResourcesUseEntry(ref);
            } else {
                ResourcesAllocateEntry(nullptr, &ref, 1024 + (list[i] % 8) * 512, true, nullptr);
                ++rebuilt;
            }
        }
        ResourcesEndFrame();
        ++frame;
    }
    state.counters["rebuilt/frame"] = benchmark::Counter(static_cast<double>(rebuilt) / static_cast<double>(frame));
    state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_ArenaCacheFrame);

}  // namespace
}  // namespace kv
