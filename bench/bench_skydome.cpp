// The whole program: one frame as it draws it (orbit with the ground, the
// wire and the menu; the preview with the flares and the data display), at
// 9 and 32 rings, next to the frame of the dome alone and the frame that only
// clears and presents, all in one run; the memory the engine takes per frame
// once running; and the time from start to the first frame shown with every
// picture loaded, next to a bare window that clears and presents once.
//
// The program runs as it does for a person (shell, skeleton, menu, input);
// each measurement runs inside its first frame's idle event.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/skel/skeleton.h"
#include "app/skydome/dome.h"
#include "app/skydome/options.h"
#include "app/skydome/program_sky.h"
#include "app/skydome/skydome.h"
#include "app/skydome/workshop.h"
#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/memory.h"

namespace kv {

namespace {

using Clock = std::chrono::steady_clock;

// Run inside the first frame's idle event, after the frame.
std::function<void()> inside;
// When the first frame had been shown.
Clock::time_point firstFrame;
bool framed = false;

}  // namespace

int32 AppEventHandler(int32 event, void* data) {
    const int32 result = SkydomeEventHandler(event, data);
    if (event == EventIdle && !framed) {
        framed = true;
        firstFrame = Clock::now();
        if (inside) inside();
        ShellEvent(EventQuit, nullptr);
    }
    return result;
}

namespace {

bool RunProgram(std::vector<std::string> options, std::function<void()> during) {
    static const char* const dataFolders[] = {KV_PROGRAM_DIR, nullptr};
    ShellSetDataFolders(dataFolders);
    *SkydomeGetOptions() = SkydomeOptions{};
    options.insert(options.begin(), {"skydome", "-vms"});
    std::vector<char*> args;
    for (std::string& o : options) args.push_back(o.data());
    std::string error;
    if (!SkydomeParseOptions(args, SkydomeGetOptions(), &error)) return false;
    args.push_back(nullptr);
    inside = std::move(during);
    framed = false;
    const int status = ShellMain(static_cast<int>(args.size()) - 1, args.data());
    inside = nullptr;
    return status == 0 && framed;
}

// Allocations through the engine's memory functions while counting is on.
struct AllocationCount {
    static inline int64_t count = 0;
    static inline MemoryFunctions real{};
    static void* Malloc(std::size_t n) {
        ++count;
        return real.kvmalloc(n);
    }
    static void* Realloc(void* p, std::size_t n) {
        ++count;
        return real.kvrealloc(p, n);
    }
    static void* Calloc(std::size_t c, std::size_t n) {
        ++count;
        return real.kvcalloc(c, n);
    }
    static void Free(void* p) { real.kvfree(p); }
    explicit AllocationCount() {
        MemoryFunctions& m = EngineInstanceGet()->memoryFuncs;
        real = m;
        count = 0;
        m = MemoryFunctions{Malloc, Free, Realloc, Calloc};
    }
    ~AllocationCount() { EngineInstanceGet()->memoryFuncs = real; }
};

// Each start is measured in a process of its own, forked from this one before
// it has touched the video system (these run first): every start loads and sets up the OpenGL
// driver as a program started from the shell does. The child reports the
// seconds from its start to its first frame shown.
template <typename Start>
void MeasureStarts(benchmark::State& state, Start start) {
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) return state.SkipWithError("pipe");
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const double seconds = start();
            const ssize_t written = write(fds[1], &seconds, sizeof seconds);
            _exit(written == sizeof seconds ? 0 : 1);
        }
        close(fds[1]);
        double seconds = -1.0;
        const ssize_t got = read(fds[0], &seconds, sizeof seconds);
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (got != sizeof seconds || seconds < 0.0) return state.SkipWithError("the start failed");
        state.SetIterationTime(seconds);
    }
}

// From the start of the program (window, engine, scene, every picture read)
// to its first frame shown.
void BM_StartToFirstFrame(benchmark::State& state) {
    MeasureStarts(state, [] {
        const Clock::time_point start = Clock::now();
        if (!RunProgram({}, nullptr)) return -1.0;
        return std::chrono::duration<double>(firstFrame - start).count();
    });
}
BENCHMARK(BM_StartToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The least a program can do: a window with an OpenGL context that clears
// and presents once.
void BM_BareWindowFirstFrame(benchmark::State& state) {
    MeasureStarts(state, [] {
        const Clock::time_point start = Clock::now();
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return -1.0;
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_Window* window = SDL_CreateWindow("bare", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 640, 480,
                                              SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        SDL_GLContext context = window != nullptr ? SDL_GL_CreateContext(window) : nullptr;
        if (context == nullptr) return -1.0;
        using ClearColorFn = void (*)(float, float, float, float);
        using ClearFn = void (*)(unsigned);
        const auto clearColor = reinterpret_cast<ClearColorFn>(SDL_GL_GetProcAddress("glClearColor"));
        const auto clear = reinterpret_cast<ClearFn>(SDL_GL_GetProcAddress("glClear"));
        clearColor(0.25f, 0.25f, 0.25f, 0.0f);
        clear(0x00004000u | 0x00000100u);  // colour and depth
        SDL_ShowWindow(window);
        SDL_GL_SwapWindow(window);
        const Clock::time_point shown = Clock::now();
        SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return std::chrono::duration<double>(shown - start).count();
    });
}
BENCHMARK(BM_BareWindowFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The frames measured: the floor, the dome alone in each view, and each
// view with what it is asked to show.
enum FrameKind : int64_t { Floor = 0, DomeOnly = 1, OrbitFull = 2, PreviewDomeOnly = 3, PreviewFull = 4 };

void BM_ProgramFrame(benchmark::State& state) {
    const auto kind = static_cast<FrameKind>(state.range(0));
    const auto rings = std::to_string(state.range(1));
    std::vector<std::string> options = {"--resolution", rings};
    switch (kind) {
        case Floor:
        case DomeOnly:
            options.insert(options.end(), {"--show", "none"});
            break;
        case OrbitFull:
            options.insert(options.end(), {"--show", "none,ground,wire,menu"});
            break;
        case PreviewDomeOnly:
            options.insert(options.end(), {"--view", "preview", "--look", "20,355", "--show", "none"});
            break;
        case PreviewFull:
            // Facing the sun: the flares are drawn.
            options.insert(options.end(), {"--view", "preview", "--look", "20,355", "--show", "none,flares,data"});
            break;
    }
    int64_t allocations = 0;
    const bool ran = RunProgram(options, [&] {
        Camera* camera = SkydomeGetApp()->camera;
        const RGBA clear{64, 64, 64, 0};
        // Frames before counting: buffers grow to their size once.
        for (int i = 0; i < 3; ++i) SkydomeEventHandler(EventIdle, nullptr);
        AllocationCount counting;
        for (auto _ : state) {
            if (kind == Floor) {
                CameraClear(camera, &clear, ClearImage | ClearZ);
                PlatformCameraShowRaster(camera);
            } else {
                SkydomeEventHandler(EventIdle, nullptr);
            }
        }
        allocations = AllocationCount::count;
    });
    if (!ran) return state.SkipWithError("the program did not run (SDL_VIDEODRIVER=offscreen?)");
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ProgramFrame)
    ->ArgNames({"kind", "rings"})
    ->ArgsProduct({{Floor, DomeOnly, OrbitFull, PreviewDomeOnly, PreviewFull}, {9, 32}})
    ->Unit(benchmark::kMicrosecond);

// A step of the time of day in the window at dusk with the moon up, in the
// physical sky with photographic exposure: the sun moved, the
// resolution-32 dome recoloured and metered, the moon, the planets and the
// stars placed for the moment and tone-mapped into what the frame draws.
// Beside it (part 1), the physical sky's own share: the sun moved by as much
// and the dome recoloured, without the bodies.
void BM_NightTimeStep(benchmark::State& state) {
    const bool sunOnly = state.range(0) == 1;
    double stars = 0.0;
    const bool ran = RunProgram({"--sky", "physical", "--location", "48.8566,2.3522", "--time",
                                 "2026-06-28T22:30+02:00", "--resolution", "32", "--view", "preview", "--show", "none"},
                                [&] {
                                    // 90 degrees across 640 pixels, the preview's default.
                                    const double pixelAngle = 2.0 / 640.0;
                                    float step = 0.25f;
                                    for (auto _ : state) {
                                        if (sunOnly) {
                                            SkyMoveSun(step * 3.0f, step);
                                        } else {
                                            WorkshopStepTime(step);
                                            benchmark::DoNotOptimize(DomePrepareBodies(pixelAngle, false));
                                        }
                                        step = -step;
                                    }
                                    stars = DomePrepareBodies(pixelAngle, false) / 6.0;
                                });
    if (!ran) return state.SkipWithError("the program did not run (SDL_VIDEODRIVER=offscreen?)");
    state.counters["bodies_drawn"] = stars;
}
BENCHMARK(BM_NightTimeStep)->ArgName("part")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace kv
