// The vertex arena's best-fit allocator: a frame's worth of vertex buffers
// taken and given back in a shuffled order, on plain memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/opengl/gl_modes_arena.h"

namespace {

void BM_VertexArenaFrame(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> memory(kv::kVertexArenaSize + 32);
    kv::VertexArena arena{};
    kv::VertexArenaInit(&arena, memory.data(), kv::kVertexArenaSize);
    std::mt19937 random(7);
    std::vector<std::size_t> sizes(count);
    for (std::size_t& s : sizes) s = 36 * (4 + random() % 60);  // 4 to 63 vertices of 36 bytes
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    std::vector<void*> taken(count);
    for (auto _ : state) {
        for (std::size_t i = 0; i < count; ++i) taken[i] = kv::VertexArenaAllocFrom(&arena, sizes[i]);
        for (std::size_t i : order) kv::VertexArenaFreeTo(&arena, taken[i]);
        benchmark::DoNotOptimize(taken.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}
BENCHMARK(BM_VertexArenaFrame)->Arg(16)->Arg(128);

// Its peer: the C library's allocator taking and giving back the same sizes
// in the same order.
void BM_VertexArenaFrameMalloc(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::mt19937 random(7);
    std::vector<std::size_t> sizes(count);
    for (std::size_t& s : sizes) s = 36 * (4 + random() % 60);
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    std::vector<void*> taken(count);
    for (auto _ : state) {
        for (std::size_t i = 0; i < count; ++i) taken[i] = std::malloc(sizes[i]);
        benchmark::DoNotOptimize(taken.data());
        for (std::size_t i : order) std::free(taken[i]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}
BENCHMARK(BM_VertexArenaFrameMalloc)->Arg(16)->Arg(128);

}  // namespace
