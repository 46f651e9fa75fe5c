// Exports of the sky: a 4096 x 2048 panorama evaluated per direction (to set
// beside the dome's recolour per vertex in bench_sky), and whole PNG, OpenEXR,
// Radiance and glTF exports written to a temporary folder, of the default sky
// and of the physical one. The panoramas use both cores: their real time is
// the figure to read.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/skydome/dome.h"
#include "app/skydome/program_sky.h"
#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/world/geometry.h"
#include "engine/world/world.h"
#include "export/gltf.h"
#include "export/panorama.h"
#include "sky/analytic_sky.h"
#include "sky/sky_colours.h"
#include "sky/sky_model.h"

namespace {

using namespace kv;

constexpr int32 kWidth = 4096;
constexpr float kExposure = 0.1f;

// The engine on its null device (images and geometry need its modules), the
// sky at the program's start-up sun.
struct Engine {
    std::string dir;
    Engine() {
        EngineUseStandardModules();
        EngineSetDevice(nullptr);
        EngineInit(nullptr, 0);
        WorldPluginAttach();
        EngineOpenParams p{nullptr};
        EngineOpen(&p);
        EngineStart();
        SkyColorInit();
        SkySetSun(50.0f, 20.0f, kSkyTurbidity);
        SkyModelConfigure(SkyModelPreetham, kSkyTurbidity, 0.3f, 0.0f);
        char pattern[] = "/tmp/kvbenchexport.XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir = pattern;
    }
    ~Engine() {
        for (const char* name : {"/sky.png", "/sky.exr", "/sky.hdr", "/dome.glb"}) std::remove((dir + name).c_str());
        rmdir(dir.c_str());
        SkyModelRelease();
        EngineStop();
        EngineClose();
        EngineTerm();
    }
};

// The physical sky, set up (half a second, not timed) for the same sun.
struct PhysicalEngine : Engine {
    PhysicalEngine() { SkyModelConfigure(SkyModelPhysical, kSkyTurbidity, 0.3f, 0.0f); }
};

void PerDirection(benchmark::State& state, int32 width) {
    const double directions = static_cast<double>(width) * PanoramaHeight(width);
    state.counters["per_direction"] = benchmark::Counter(static_cast<double>(state.iterations()) * directions,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

struct ToneRow {
    std::vector<RGBA> bytes = std::vector<RGBA>(kWidth);
};

// The colours of every pixel (sky, sun and ground), as the EXR takes them.
template <typename Setup>
void Colours(benchmark::State& state) {
    Setup engine;
    for (auto _ : state) {
        PanoramaEvaluate(
            ProgramSky(), kWidth,
            [](int32, const RGBAReal* c, int32, void*) {
                benchmark::DoNotOptimize(c);
                return true;
            },
            nullptr);
    }
    PerDirection(state, kWidth);
}
void BM_PanoramaColours(benchmark::State& state) { Colours<Engine>(state); }
BENCHMARK(BM_PanoramaColours)->Unit(benchmark::kMillisecond)->UseRealTime();

// Colours and bytes, as the PNG takes them: beside bench_sky's BM_SkyRecolour.
void BM_PanoramaColoursAndBytes(benchmark::State& state) {
    Engine engine;
    ToneRow row;
    for (auto _ : state) {
        PanoramaEvaluate(
            ProgramSky(), kWidth,
            [](int32, const RGBAReal* c, int32 width, void* data) {
                auto* r = static_cast<ToneRow*>(data);
                SkyToneMapColors(c, r->bytes.data(), width, kExposure);
                benchmark::DoNotOptimize(r->bytes.data());
                return true;
            },
            &row);
    }
    PerDirection(state, kWidth);
}
BENCHMARK(BM_PanoramaColoursAndBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Writes the file again and again in the engine (and sky) the type sets up.
template <typename Setup>
void WriteEach(benchmark::State& state, const char* name, bool (*write)(const char* path)) {
    Setup engine;
    const std::string file = engine.dir + name;
    for (auto _ : state) {
        if (!write(file.c_str())) state.SkipWithError("write failed");
    }
}

bool WritePNG(const char* path) { return PanoramaWritePNG(ProgramSky(), path, kWidth, kExposure, nullptr); }
bool WriteEXR(const char* path) { return PanoramaWriteEXR(ProgramSky(), path, kWidth, nullptr); }
bool WriteHDR(const char* path) { return PanoramaWriteHDR(ProgramSky(), path, kWidth, nullptr); }

void BM_PanoramaExportPNG(benchmark::State& state) { WriteEach<Engine>(state, "/sky.png", WritePNG); }
BENCHMARK(BM_PanoramaExportPNG)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PanoramaExportEXR(benchmark::State& state) { WriteEach<Engine>(state, "/sky.exr", WriteEXR); }
BENCHMARK(BM_PanoramaExportEXR)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PanoramaExportHDR(benchmark::State& state) { WriteEach<Engine>(state, "/sky.hdr", WriteHDR); }
BENCHMARK(BM_PanoramaExportHDR)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The physical sky's panorama: every pixel's colour, then the whole EXR
// (the goal: 3 s on two cores, with the half second of the model's set-up).
void BM_PhysicalPanoramaColours(benchmark::State& state) { Colours<PhysicalEngine>(state); }
BENCHMARK(BM_PhysicalPanoramaColours)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PhysicalPanoramaExportEXR(benchmark::State& state) { WriteEach<PhysicalEngine>(state, "/sky.exr", WriteEXR); }
BENCHMARK(BM_PhysicalPanoramaExportEXR)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// As a run of the program makes it: the model set up, then the file.
bool SetUpAndWriteEXR(const char* path) {
    SkyModelRelease();
    return SkyModelConfigure(SkyModelPhysical, kSkyTurbidity, 0.3f, 0.0f) && WriteEXR(path);
}
void BM_PhysicalPanoramaExportEXRWithSetup(benchmark::State& state) {
    WriteEach<Engine>(state, "/sky.exr", SetUpAndWriteEXR);
}
BENCHMARK(BM_PhysicalPanoramaExportEXRWithSetup)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PhysicalPanoramaExportHDR(benchmark::State& state) { WriteEach<PhysicalEngine>(state, "/sky.hdr", WriteHDR); }
BENCHMARK(BM_PhysicalPanoramaExportHDR)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The finest dome as glTF.
void BM_DomeExportGLTF(benchmark::State& state) {
    Engine engine;
    Geometry* dome = DomeBuild(kDomeMaxResolution);
    const std::string file = engine.dir + "/dome.glb";
    for (auto _ : state) {
        if (!DomeExportGLTF(dome, false, file.c_str(), nullptr)) state.SkipWithError("write failed");
    }
    GeometryDestroy(dome);
}
BENCHMARK(BM_DomeExportGLTF)->Unit(benchmark::kMillisecond);

// Its floor: a file of as many bytes as that glTF file written in one go.
void BM_DomeExportBytesOnly(benchmark::State& state) {
    Engine engine;
    Geometry* dome = DomeBuild(kDomeMaxResolution);
    const std::string file = engine.dir + "/dome.glb";
    if (!DomeExportGLTF(dome, false, file.c_str(), nullptr)) state.SkipWithError("write failed");
    GeometryDestroy(dome);
    std::vector<char> bytes;
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        bytes.resize(static_cast<std::size_t>(std::ftell(f)));
        std::fclose(f);
    }
    for (auto _ : state) {
        FILE* f = std::fopen(file.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            state.SkipWithError("write failed");
        }
        if (f != nullptr) std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_DomeExportBytesOnly)->Unit(benchmark::kMillisecond);

}  // namespace
