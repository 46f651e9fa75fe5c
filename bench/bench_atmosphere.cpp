// The physical sky: a sun drag's recolour of the finest dome (everything that
// depends on the sun rebuilt, then every vertex evaluated and tone-mapped),
// beside the analytic model's; a 4096 x 2048 panorama's worth of colours on
// both cores; the setup; and the slow reference it is measured against.
#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "app/skydome/program_sky.h"
#include "atmosphere_reference.h"
#include "sky/analytic_sky.h"
#include "sky/atmosphere.h"
#include "sky/sky_colours.h"

namespace {

using namespace kv;

constexpr int32 kRings = 32;
constexpr int32 kVertices = 4 * kRings * kRings + 1;
constexpr float kExposure = 0.1f;

struct Dome {
    std::vector<V3d> directions = std::vector<V3d>(kVertices);
    std::vector<RGBAReal> colours = std::vector<RGBAReal>(kVertices);
    std::vector<RGBA> bytes = std::vector<RGBA>(kVertices);
    Dome() { SkyHemisphereDirections(kRings, directions.data()); }
};

struct Model {
    Atmosphere* atmosphere = AtmosphereCreate();
    Model() { AtmosphereSetup(atmosphere, kSkyTurbidity, 0.3f, 0.0f); }
    ~Model() { AtmosphereDestroy(atmosphere); }
};

// Sun positions visited in turn, as a drag would, down to 10 degrees below
// the horizon.
struct Drag {
    int step = 0;
    void Next(Atmosphere* a) {
        AtmosphereSetSun(a, static_cast<float>(step % 101), static_cast<float>((step * 7) % 360));
        ++step;
    }
};

void BM_AtmosphereRecolour(benchmark::State& state) {
    Model model;
    Dome dome;
    Drag drag;
    for (auto _ : state) {
        drag.Next(model.atmosphere);
        AtmosphereColors(model.atmosphere, dome.directions.data(), kVertices, dome.colours.data(), AtmosphereSkyOnly);
        SkyToneMapColors(dome.colours.data(), dome.bytes.data(), kVertices, kExposure);
        benchmark::DoNotOptimize(dome.bytes.data());
    }
}
BENCHMARK(BM_AtmosphereRecolour)->Unit(benchmark::kMillisecond);

// The two parts of it: the sun's tables, and the evaluation of the dome.
void BM_AtmosphereSetSun(benchmark::State& state) {
    Model model;
    Drag drag;
    for (auto _ : state) drag.Next(model.atmosphere);
}
BENCHMARK(BM_AtmosphereSetSun)->Unit(benchmark::kMillisecond);

void BM_AtmosphereDomeColours(benchmark::State& state) {
    Model model;
    Dome dome;
    AtmosphereSetSun(model.atmosphere, 60.0f, 30.0f);
    for (auto _ : state) {
        AtmosphereColors(model.atmosphere, dome.directions.data(), kVertices, dome.colours.data(), AtmosphereSkyOnly);
        benchmark::DoNotOptimize(dome.colours.data());
    }
}
BENCHMARK(BM_AtmosphereDomeColours)->Unit(benchmark::kMillisecond);

// The analytic model's recolour, measured the same way, for comparison.
void BM_AnalyticRecolour(benchmark::State& state) {
    SkyColorInit();
    Dome dome;
    SkyColorCache cache{};
    SkyColorCacheInit(&cache);
    SkyColorCacheSetDirections(&cache, dome.directions.data(), kVertices);
    int step = 0;
    for (auto _ : state) {
        const float t = static_cast<float>(step % 86);
        const float p = static_cast<float>((step * 7) % 360);
        ++step;
        SkySetSun(t, p, kSkyTurbidity);
        SkyColorCacheCompute(&cache, *SkyGetState(), t * kSkyDegToRad, p * kSkyDegToRad, dome.colours.data());
        SkyToneMapColors(dome.colours.data(), dome.bytes.data(), kVertices, kExposure);
        benchmark::DoNotOptimize(dome.bytes.data());
    }
    SkyColorCacheRelease(&cache);
}
BENCHMARK(BM_AnalyticRecolour)->Unit(benchmark::kMillisecond);

// Every pixel of a 4096 x 2048 panorama, rows shared between two threads,
// the sun included (its disc in the panorama's pixels).
void BM_AtmospherePanorama4096(benchmark::State& state) {
    Model model;
    AtmosphereSetSun(model.atmosphere, 80.0f, 30.0f);
    constexpr int32 kWidth = 4096;
    constexpr int32 kHeight = 2048;
    std::vector<double> phi(kWidth);
    for (int32 x = 0; x < kWidth; ++x) phi[x] = 2.0 * 3.14159265358979323846 * (x + 0.5) / kWidth;
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto rows = [&](int part) {
            std::vector<RGBAReal> row(kWidth);
            for (int32 y = part; y < kHeight; y += threads) {
                const double theta = (y + 0.5) * 3.14159265358979323846 / kHeight;
                AtmosphereRowColors(model.atmosphere, theta, phi.data(), kWidth, row.data(), AtmosphereWithSunDisc);
                benchmark::DoNotOptimize(row.data());
            }
        };
        std::vector<std::thread> pool;
        for (int t = 1; t < threads; ++t) pool.emplace_back(rows, t);
        rows(0);
        for (std::thread& t : pool) t.join();
    }
}
BENCHMARK(BM_AtmospherePanorama4096)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AtmosphereSetup(benchmark::State& state) {
    Atmosphere* a = AtmosphereCreate();
    float turbidity = 2.0f;
    for (auto _ : state) {
        AtmosphereSetup(a, turbidity, 0.3f, 0.0f);
        turbidity = turbidity >= 9.0f ? 2.0f : turbidity + 1.0f;
    }
    AtmosphereDestroy(a);
}
BENCHMARK(BM_AtmosphereSetup)->Unit(benchmark::kMillisecond);

// The reference: per direction of the sky, at the settings of the check of
// its cache in the tests and of its fine run (state.range: paths per
// direction); a cached sky of 64 directions takes 64 times the second.
void BM_ReferencePerDirection(benchmark::State& state) {
    ReferenceOptions options;
    options.paths = static_cast<int>(state.range(0));
    options.threads = 1;
    AtmosphereReference reference(kSkyTurbidity, 0.3f, 0.0f, options);
    reference.SetSun(70.0f, 30.0f);
    const std::vector<V3d> one = {V3d{0.3f, 0.5f, -0.812f}};
    for (auto _ : state) benchmark::DoNotOptimize(reference.Radiance(one).data());
}
BENCHMARK(BM_ReferencePerDirection)->Arg(2048)->Arg(65536)->Unit(benchmark::kMillisecond);

}  // namespace
