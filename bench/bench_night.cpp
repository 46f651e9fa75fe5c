// A night panorama as a run of the program makes one: the physical sky set
// up, the star catalogue read, the moon, the planets and the stars of a place
// and a moment set on it, and a 4096 x 2048 OpenEXR written, the moonlit air
// and the night's own light included. The goal: 3 s on two cores, set-up
// included; the real time is the figure to read. Without the engine, as the
// Python module runs (the core's services fall back to the standard ones).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "export/panorama.h"
#include "sky/night_bodies.h"
#include "sky/sky.h"
#include "sky/stars.h"

namespace {

using namespace kv;

constexpr int32 kWidth = 4096;

// Paris on the night of 2024 September 17, the full moon rising in the east
// an hour and a half after sunset, Saturn up in the south-east.
constexpr double kLatitude = 48.8566;
constexpr double kLongitude = 2.3522;
constexpr SolarTime kMoment = {2024, 9, 17, 21, 30, 0.0, 120};

// Its peer: the same file of the physical sky by day, without a place.
bool DayPanorama(const std::string& path) {
    SkyParameters p;
    p.model = SkyModelPhysical;
    Sky* sky = SkyCreate(p);
    if (sky == nullptr) return false;
    const bool ok = SkySetSunAngles(sky, 50.0f, 20.0f) && PanoramaWriteEXR(sky, path.c_str(), kWidth, nullptr);
    SkyDestroy(sky);
    return ok;
}

bool NightPanorama(const std::string& path) {
    SkyParameters p;
    p.model = SkyModelPhysical;
    Sky* sky = SkyCreate(p);
    if (sky == nullptr) return false;
    std::vector<CatalogueStar> stars;
    std::string error;
    bool ok = StarCatalogueLoad(KV_STAR_FILE, &stars, &error);
    // The sun where it is, or as low as the model holds it.
    std::string why;
    if (ok && !SkySetSunAt(sky, kLatitude, kLongitude, kMoment, nullptr, &why)) {
        ok = SkySetSunAngles(sky, SkyModelMaxSunZenith(SkyModelPhysical), 270.0f);
    }
    if (ok) {
        SkySetNightBodies(sky, kLatitude, kLongitude, 0.0, kMoment, &stars);
        ok = PanoramaWriteEXR(sky, path.c_str(), kWidth, nullptr);
    }
    SkyDestroy(sky);
    return ok;
}

void EachTime(benchmark::State& state, bool (*make)(const std::string& path)) {
    char pattern[] = "/tmp/kvbenchnight.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = pattern;
    const std::string file = dir + "/night.exr";
    for (auto _ : state) {
        if (!make(file)) state.SkipWithError("the panorama failed");
    }
    std::remove(file.c_str());
    rmdir(dir.c_str());
}

void BM_NightPanoramaEXRWithSetup(benchmark::State& state) { EachTime(state, NightPanorama); }
BENCHMARK(BM_NightPanoramaEXRWithSetup)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_DayPanoramaEXRWithSetup(benchmark::State& state) { EachTime(state, DayPanorama); }
BENCHMARK(BM_DayPanoramaEXRWithSetup)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
