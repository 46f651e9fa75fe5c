// A sky on its own, as a script makes it through the Python module: the
// panorama of a sky value (no engine) into an array of linear Rec. 709 floats,
// as the EXR holds them, at 1024 x 512. bench/bench_kvsky.py times the same
// work from Python and sets the two side by side. Both threads of the
// evaluation run: the real time is the figure to read. Each panorama goes
// into new memory, as the module's does (it hands back a new array every
// call): the first touch of its pages is part of the work.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "export/panorama.h"
#include "sky/sky.h"

namespace {

using namespace kv;

struct Floats {
    PanoramaLinearRows rows;
};

bool AddRow(int32, const RGBAReal* colours, int32, void* data) {
    PanoramaLinearRowsAdd(&static_cast<Floats*>(data)->rows, colours, 1.0);
    return true;
}

void Panorama(benchmark::State& state, SkyModelKind model, int32 threads) {
    const int32 width = static_cast<int32>(state.range(0));
    Sky* sky = SkyCreate(SkyParameters{model, 2.0f, 0.3f, 0.0f});
    SkySetSunAngles(sky, 50.0f, 20.0f);
    const std::size_t count = static_cast<std::size_t>(width) * PanoramaHeight(width) * 3;
    std::vector<RGBAReal> scratch(static_cast<std::size_t>(width));
    PanoramaSetThreads(threads);
    for (auto _ : state) {
        // Uninitialised, as NumPy's new array is.
        const std::unique_ptr<float[]> pixels(new float[count]);
        Floats f;
        f.rows.sky = sky;
        f.rows.width = width;
        f.rows.height = PanoramaHeight(width);
        f.rows.capacity = PanoramaHeight(width);
        f.rows.rgb = pixels.get();
        f.rows.scratch = scratch.data();
        if (!PanoramaEvaluate(sky, width, AddRow, &f)) state.SkipWithError("out of memory");
        benchmark::DoNotOptimize(pixels.get());
    }
    PanoramaSetThreads(0);
    SkyDestroy(sky);
}

void BM_SkyValuePanorama(benchmark::State& state) { Panorama(state, SkyModelPreetham, 2); }
BENCHMARK(BM_SkyValuePanorama)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_SkyValuePanoramaOneThread(benchmark::State& state) { Panorama(state, SkyModelPreetham, 1); }
BENCHMARK(BM_SkyValuePanoramaOneThread)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_SkyValuePhysicalPanorama(benchmark::State& state) { Panorama(state, SkyModelPhysical, 2); }
BENCHMARK(BM_SkyValuePhysicalPanorama)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
