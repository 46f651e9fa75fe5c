// Reading the mesh extension of the dome at the menu's highest resolution (32
// rings: 8064 triangles, 24192 indices) from memory: the reader gathers the
// indices as they arrive and makes the header once they are all there.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/skydome/dome.h"
#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/core/memory.h"
#include "engine/stream/stream.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/geometry_stream.h"
#include "engine/world/mesh.h"
#include "engine/world/world.h"

namespace {

using namespace kv;

void BM_MeshStreamRead(benchmark::State& state) {
    EngineSetDevice(nullptr);
    EngineUseStandardModules();
    EngineOpenParams p{nullptr};
    if (!EngineInit(nullptr, 0) || !WorldPluginAttach() || !EngineOpen(&p) || !EngineStart()) {
        return state.SkipWithError("engine");
    }
    Geometry* g = DomeBuild(static_cast<int32>(state.range(0)));
    std::vector<uint8> body;
    if (g != nullptr) {
        Stream* out = StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr);
        StreamMemory written{};
        if (MeshStreamWrite(out, 0, g, 0, 0) != nullptr && StreamClose(out, &written)) {
            body.assign(written.buffer, written.buffer + written.length);
            KvFree(written.buffer);
        }
    }
    if (body.empty()) {
        state.SkipWithError("dome");
    } else {
        for (auto _ : state) {
            StreamMemory memory{body.data(), static_cast<uint32>(body.size())};
            Stream* s = StreamOpen(StreamTypeMemory, StreamAccessRead, &memory);
            benchmark::DoNotOptimize(MeshStreamRead(s, static_cast<int32>(body.size()), g, 0, 0));
            StreamClose(s, nullptr);
        }
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
    }
    GeometryDestroy(g);
    EngineStop();
    EngineClose();
    EngineTerm();
}
BENCHMARK(BM_MeshStreamRead)->Arg(9)->Arg(32);

// The floor: the same body copied once, the least any reader of it does.
void BM_MeshBodyCopy(benchmark::State& state) {
    // The body of an n-ring dome as the reader above is given it: 12 bytes of
    // header, one mesh of 8 bytes, three indices of 4 bytes a triangle
    // (8n^2 - 4n triangles: 8064 at 32 rings).
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::size_t bytes = 12 + 8 + 4 * 3 * (8 * n * n - 4 * n);
    std::vector<uint8> body(bytes, 7), copy(bytes);
    for (auto _ : state) {
        std::memcpy(copy.data(), body.data(), bytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MeshBodyCopy)->Arg(9)->Arg(32);

}  // namespace
