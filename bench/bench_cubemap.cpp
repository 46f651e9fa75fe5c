// Skies for engines, beside the panoramas of bench_export: a 512-texel cube
// map of the default sky, its faces alone, its GGX-prefiltered mip chain
// alone and the whole KTX2 export (the goal: 2 s on two cores); and a day
// in sequence, 24 moments of 2048-pixel EXR panoramas made in parallel (the
// goal: 30 s). Real time is the figure to read: every part uses both cores.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/skydome/batch_run.h"
#include "app/skydome/options.h"
#include "export/cubemap.h"
#include "sky/sky.h"

namespace {

using namespace kv;

constexpr int32 kSize = 512;

// The default sky at the program's start-up sun, and a folder for the files.
struct Setup {
    Sky* sky = SkyCreate(SkyParameters{});
    std::string dir;
    Setup() {
        SkySetSunAngles(sky, 50.0f, 20.0f);
        char pattern[] = "/tmp/kvbenchcube.XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir = pattern;
    }
    ~Setup() {
        SkyDestroy(sky);
        std::error_code e;
        if (!dir.empty()) std::filesystem::remove_all(dir, e);
    }
};

void BM_CubemapFaces(benchmark::State& state) {
    Setup s;
    for (auto _ : state) {
        Cubemap cube;
        if (!CubemapRender(CubeSceneOfSky(s.sky), kSize, CubeFrameRightHanded, &cube)) state.SkipWithError("failed");
        benchmark::DoNotOptimize(cube.levels[0].data());
    }
}
BENCHMARK(BM_CubemapFaces)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CubemapSpecularMips(benchmark::State& state) {
    Setup s;
    Cubemap faces;
    CubemapRender(CubeSceneOfSky(s.sky), kSize, CubeFrameRightHanded, &faces);
    for (auto _ : state) {
        Cubemap cube = faces;
        if (!CubemapMakeMips(&cube, CubeMipsSpecular, 0)) state.SkipWithError("failed");
        benchmark::DoNotOptimize(cube.levels.back().data());
    }
}
BENCHMARK(BM_CubemapSpecularMips)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole export: faces, prefiltered chain, the file.
void BM_CubemapExportSpecularKTX2(benchmark::State& state) {
    Setup s;
    const std::string file = s.dir + "/sky.ktx2";
    for (auto _ : state) {
        if (!CubemapWrite(s.sky, file.c_str(), kSize, CubeMipsSpecular, 0.1f, nullptr)) state.SkipWithError("failed");
    }
}
BENCHMARK(BM_CubemapExportSpecularKTX2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A day in Paris by the 36 minutes, 24 moments with the sun at least 5
// degrees high, as --time-lapse writes them.
void BM_TimeLapse24Panoramas(benchmark::State& state) {
    Setup s;
    SkydomeOptions o;
    o.location = true;
    o.latitude = 48.8566;
    o.longitude = 2.3522;
    std::string why;
    SolarParseTime("2026-06-21T07:00+02:00", &o.lapseStart, &why);
    SolarParseTime("2026-06-21T20:48+02:00", &o.lapseEnd, &why);
    o.lapseStep = 36 * 60;
    o.timeLapse = true;
    o.exportPanorama = {s.dir + "/sky.exr"};
    o.panoramaWidth = 2048;
    for (auto _ : state) {
        if (!SkydomeTimeLapse(&o, nullptr, [](const char*) {})) state.SkipWithError("failed");
    }
}
BENCHMARK(BM_TimeLapse24Panoramas)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
