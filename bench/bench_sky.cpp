// Recolouring the finest dome: the plain per-vertex evaluation against the
// cached path the dome uses, and the tone map alone (an exposure change).
#include <benchmark/benchmark.h>

#include <vector>

#include "app/skydome/program_sky.h"
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
    SkyColorCache cache{};
    Dome() {
        SkyColorInit();
        SkyHemisphereDirections(kRings, directions.data());
        SkyColorCacheInit(&cache);
        SkyColorCacheSetDirections(&cache, directions.data(), kVertices);
    }
    ~Dome() { SkyColorCacheRelease(&cache); }
};

// Sun positions visited in turn, as a drag would.
struct Sun {
    int step = 0;
    double theta = 0.0;
    double phi = 0.0;
    void Next() {
        const float t = static_cast<float>(step % 86);
        const float p = static_cast<float>((step * 7) % 360);
        ++step;
        SkySetSun(t, p, kSkyTurbidity);
        theta = t * kSkyDegToRad;
        phi = p * kSkyDegToRad;
    }
};

// Seconds per vertex: shown with an SI prefix, "16.1n" being 16.1 ns.
void Report(benchmark::State& state) {
    state.counters["per_vertex"] = benchmark::Counter(static_cast<double>(state.iterations()) * kVertices,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SkyRecolourPlain(benchmark::State& state) {
    Dome dome;
    Sun sun;
    for (auto _ : state) {
        state.PauseTiming();
        sun.Next();
        state.ResumeTiming();
        SkyComputeColorsPlain(*SkyGetState(), dome.directions.data(), kVertices, sun.theta, sun.phi,
                              dome.colours.data());
        SkyToneMapColorsPlain(dome.colours.data(), dome.bytes.data(), kVertices, kExposure);
        benchmark::DoNotOptimize(dome.bytes.data());
    }
    Report(state);
}
BENCHMARK(BM_SkyRecolourPlain)->Unit(benchmark::kMicrosecond);

void BM_SkyRecolour(benchmark::State& state) {
    Dome dome;
    Sun sun;
    for (auto _ : state) {
        state.PauseTiming();
        sun.Next();
        state.ResumeTiming();
        SkyColorCacheCompute(&dome.cache, *SkyGetState(), sun.theta, sun.phi, dome.colours.data());
        SkyToneMapColors(dome.colours.data(), dome.bytes.data(), kVertices, kExposure);
        benchmark::DoNotOptimize(dome.bytes.data());
    }
    Report(state);
}
BENCHMARK(BM_SkyRecolour)->Unit(benchmark::kMicrosecond);

void BM_SkyColoursOnly(benchmark::State& state) {
    Dome dome;
    Sun sun;
    for (auto _ : state) {
        state.PauseTiming();
        sun.Next();
        state.ResumeTiming();
        SkyColorCacheCompute(&dome.cache, *SkyGetState(), sun.theta, sun.phi, dome.colours.data());
        benchmark::DoNotOptimize(dome.colours.data());
    }
    Report(state);
}
BENCHMARK(BM_SkyColoursOnly)->Unit(benchmark::kMicrosecond);

void BM_SkyToneMapOnly(benchmark::State& state) {
    Dome dome;
    Sun sun;
    sun.Next();
    SkyColorCacheCompute(&dome.cache, *SkyGetState(), sun.theta, sun.phi, dome.colours.data());
    float k = 0.01f;
    for (auto _ : state) {
        SkyToneMapColors(dome.colours.data(), dome.bytes.data(), kVertices, k);
        k = k >= 1.0f ? 0.01f : k + 0.01f;
        benchmark::DoNotOptimize(dome.bytes.data());
    }
    Report(state);
}
BENCHMARK(BM_SkyToneMapOnly)->Unit(benchmark::kMicrosecond);

// Tessellation-time work: the directions' angles and zenith factors.
void BM_SkyCacheDirections(benchmark::State& state) {
    Dome dome;
    Sun sun;
    sun.Next();
    for (auto _ : state) {
        SkyColorCacheSetDirections(&dome.cache, dome.directions.data(), kVertices);
        SkyColorCacheCompute(&dome.cache, *SkyGetState(), sun.theta, sun.phi, dome.colours.data());
        benchmark::DoNotOptimize(dome.colours.data());
    }
    Report(state);
}
BENCHMARK(BM_SkyCacheDirections)->Unit(benchmark::kMicrosecond);

}  // namespace
