// On-screen text in the offscreen OpenGL context: 1500 characters printed in
// one character set and flushed (one frame of a full screen of text), and the
// menu of 20 entries rendered. Each iteration ends with glFinish so that the
// driver's work for it is done inside the measurement. On a software
// rasteriser most of the CPU time is the driver's vertex and triangle work on
// the calling thread, so the same two are also measured on a device that
// takes the draws and does nothing with them: the text module's own share.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/skel/menu.h"
#include "app/skel/skeleton.h"
#include "engine/assembly/standard_modules.h"
#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/frame/frame.h"
#include "engine/image/charset.h"
#include "engine/image/raster.h"
#include "engine/opengl/gl_device.h"
#include "engine/opengl/gl_functions.h"
#include "engine/world/logo.h"

namespace kv {
// The skeleton's events are not raised here.
int32 AppEventHandler(int32, void*) { return EventNotHandled; }
}  // namespace kv

namespace {

using namespace kv;

constexpr RGBA kFg{200, 200, 200, 255}, kBg{64, 64, 64, 0};

// A device that keeps render states and takes every draw without drawing.
struct SilentDevice {
    static inline std::intptr_t states[32] = {};
    static inline int64_t vertices = 0;
    static bool Yes(void*, void*, int32) { return true; }
    static bool Create(void*, void* raster, int32) {
        auto* r = static_cast<Raster*>(raster);
        if (r->depth == 0) r->depth = 32;
        r->rasterFlags = kRasterDontAllocate;
        return true;
    }
    static bool System(int32 request, void* out, void*, int32 in) {
        switch (request) {
            case DeviceGetDeviceRecord:
                std::memcpy(out, Record(), sizeof(DeviceRecord));
                return true;
            case DeviceStandards: {
                auto* t = static_cast<StandardFunctions*>(out);
                for (int32 i = 0; i < in; ++i) t->fn[i] = Yes;
                t->fn[StdRasterCreate] = Create;
                return true;
            }
            case DeviceGetNumModes:
            case DeviceGetMode:
                *static_cast<int32*>(out) = request == DeviceGetNumModes ? 1 : 0;
                return true;
            case DeviceGetModeInfo:
                *static_cast<VideoModeInfo*>(out) = VideoModeInfo{640, 480, 32, 0};
                return true;
            default:
                return request <= DeviceUseMode || request == DeviceFinalizeStart || request == DeviceInitiateStop;
        }
    }
    static DeviceRecord* Record() {
        static DeviceRecord record = {
            .gammaCorrection = 1.0f,
            .system = System,
            .zBufferNear = 0.0f,
            .zBufferFar = -65535.0f,
            .setRenderState =
                [](int32 state, std::intptr_t value) {
                    return state >= 0 && state < 32 && ((states[state] = value), true);
                },
            .getRenderState =
                [](int32 state, std::intptr_t* value) {
                    return state >= 0 && state < 32 && ((*value = states[state]), true);
                },
            .im2DRenderLine = nullptr,
            .im2DRenderTriangle = nullptr,
            .im2DRenderPrimitive = [](int32, Im2DVertex*, int32 n) { return (vertices += n), true; },
            .im2DRenderIndexedPrimitive = [](int32, Im2DVertex*, int32 n, const uint32*,
                                             int32) { return (vertices += n), true; },
            .unused = {}};
        return &record;
    }
};

// A hidden 640 x 480 window on the OpenGL device, its camera current.
struct GlText {
    bool ok = false;
    SDL_Window* window = nullptr;
    Camera* camera = nullptr;
    Frame* frame = nullptr;
    Raster* colour = nullptr;
    Raster* depth = nullptr;
    Raster* set = nullptr;

    explicit GlText(bool silent = false) {
        if (silent) {
            EngineSetDevice(SilentDevice::Record);
        } else {
            if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return;
            window = GlWindowCreate("bench", 0, 0, 640, 480, SDL_WINDOW_HIDDEN);
            if (window == nullptr) return;
            EngineSetDevice(GlDeviceGetInterface);
        }
        EngineOpenParams p{window};
        EngineUseStandardModules();
        if (!EngineInit(nullptr, 0) || !LogoPluginAttach()) return;
        if (!EngineOpen(&p) || !EngineSetVideoMode(0) || !EngineStart()) return;
        started = true;
        if (!CharsetOpen()) return;
        camera = CameraCreate();
        frame = FrameCreate();
        colour = RasterCreate(640, 480, 0, RasterTypeCamera);
        depth = RasterCreate(640, 480, 0, RasterTypeZBuffer);
        set = CharsetCreate(&kFg, &kBg);
        if (camera == nullptr || frame == nullptr || colour == nullptr || depth == nullptr || set == nullptr) return;
        CameraSetFrame(camera, frame);
        CameraSetRaster(camera, colour);
        CameraSetZRaster(camera, depth);
        const V2d view{0.5f, 0.375f};
        CameraSetViewWindow(camera, &view);
        ok = CameraClear(camera, &kBg, ClearImage | ClearZ) != nullptr && CameraBeginUpdate(camera) != nullptr;
    }
    ~GlText() {
        if (camera != nullptr && EngineInstanceGet()->curCamera == camera) CameraEndUpdate(camera);
        if (set != nullptr) CharsetDestroy(set);
        if (camera != nullptr) CameraDestroy(camera);
        if (frame != nullptr) FrameDestroy(frame);
        if (colour != nullptr) RasterDestroy(colour);
        if (depth != nullptr) RasterDestroy(depth);
        CharsetClose();
        if (started) {
            EngineStop();
            EngineClose();
            EngineTerm();
        }
        EngineSetDevice(nullptr);
        if (window != nullptr) SDL_DestroyWindow(window);
    }

  private:
    bool started = false;
};

// Ends an iteration: the driver's work done, when there is a driver.
void Finish(bool silent) {
    if (!silent) gl.Finish();
}

// 25 lines of 60 characters, every one of them on the screen.
void Print1500AndFlush(benchmark::State& state, bool silent) {
    GlText text(silent);
    if (!text.ok) return state.SkipWithError("no OpenGL (run with SDL_VIDEODRIVER=offscreen)");
    std::string line;
    for (int32 i = 0; i < 60; ++i) line += static_cast<char>('!' + (i * 7) % 90);
    SilentDevice::vertices = 0;
    for (auto _ : state) {
        for (int32 row = 0; row < 25; ++row) CharsetPrintBuffered(text.set, line.c_str(), 8, 14 + row * 16, false);
        CharsetFlush();
        Finish(silent);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1500);
    if (silent) {
        state.counters["vertices"] =
            static_cast<double>(SilentDevice::vertices) / static_cast<double>(state.iterations());
    }
}
void BM_Print1500AndFlush(benchmark::State& state) { Print1500AndFlush(state, false); }
BENCHMARK(BM_Print1500AndFlush)->Unit(benchmark::kMicrosecond);
void BM_Print1500AndFlushTextModuleOnly(benchmark::State& state) { Print1500AndFlush(state, true); }
BENCHMARK(BM_Print1500AndFlushTextModuleOnly)->Unit(benchmark::kMicrosecond);

int32 Available(int32) { return 1; }

// The program's menu size: 20 entries of every kind, one of them selected.
void MenuRender20(benchmark::State& state, bool silent) {
    GlText text(silent);
    if (!text.ok) return state.SkipWithError("no OpenGL (run with SDL_VIDEODRIVER=offscreen)");
    static const char* const names[] = {"Low", "Medium", "High"};
    int32 values[20] = {9, 0, 1, 1};
    float exposure = 0.1f;
    const char* const none[] = {nullptr};
    ShellSetDataFolders(none);
    if (!MenuOpen(1, &kFg, &kBg)) return state.SkipWithError("menu");
    MenuAddInt("Resolution", &values[0], nullptr, 1, 32, 1, nullptr);
    MenuAddAction("Tessellate_T", Available);
    MenuAddFloat("Exposure", &exposure, Available, 0.01f, 1.0f, 0.01f);
    MenuAddToggle("Preview_P", &values[1], Available);
    MenuAddSeparator();
    MenuAddInt("Detail", &values[2], Available, 0, 2, 1, names);
    for (int32 i = 6; i < 19; ++i)
        MenuAddToggle(("Option " + std::to_string(i) + "_" + std::to_string(i % 10)).c_str(), &values[i], Available);
    MenuAddAction("Save dome_X", Available);
    KeyboardRecord down{0, KeyDown};
    MenuKeyboard(EventKeyDown, &down);
    MenuKeyboard(EventKeyUp, &down);
    for (auto _ : state) {
        MenuRender(text.camera, nullptr);
        Finish(silent);
    }
    MenuClose();
    ShellSetDataFolders(nullptr);
}
void BM_MenuRender20(benchmark::State& state) { MenuRender20(state, false); }
BENCHMARK(BM_MenuRender20)->Unit(benchmark::kMicrosecond);
void BM_MenuRender20TextModuleOnly(benchmark::State& state) { MenuRender20(state, true); }
BENCHMARK(BM_MenuRender20TextModuleOnly)->Unit(benchmark::kMicrosecond);

// The help page read from a 2 GB file of NULs (sparse: it costs no disk),
// as a link to /dev/zero or a file of blanks would be: the loader stops at
// its size cap. Set beside the cap's bytes read with fread alone. Before the
// cap the same file took seconds of start-up.
struct NulHelp {
    std::string dir;
    NulHelp() {
        char pattern[] = "/tmp/kvbenchhelp.XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        dir = pattern;
        std::FILE* f = std::fopen((dir + "/readme.txt").c_str(), "w");
        if (f != nullptr) std::fclose(f);
        if (f == nullptr || truncate((dir + "/readme.txt").c_str(), 2LL << 30) != 0) dir.clear();
    }
    ~NulHelp() {
        if (dir.empty()) return;
        std::remove((dir + "/readme.txt").c_str());
        rmdir(dir.c_str());
    }
};

void BM_HelpLoadTwoGigabytesOfNuls(benchmark::State& state) {
    NulHelp help;
    GlText text(true);
    if (help.dir.empty() || !text.ok) return state.SkipWithError("no folder or no engine");
    const char* const none[] = {nullptr};
    ShellSetDataFolders(none);
    ShellSetUserDataFolder(help.dir.c_str());
    for (auto _ : state) {
        if (!MenuOpen(1, &kFg, &kBg)) return state.SkipWithError("menu");
        benchmark::DoNotOptimize(MenuHelpLineCount());
        MenuClose();
    }
    ShellSetUserDataFolder(nullptr);
    ShellSetDataFolders(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kMenuHelpMaxBytes));
}
BENCHMARK(BM_HelpLoadTwoGigabytesOfNuls)->Unit(benchmark::kMillisecond);

void BM_HelpBytesReadAlone(benchmark::State& state) {
    NulHelp help;
    if (help.dir.empty()) return state.SkipWithError("no folder");
    std::string buffer(kMenuHelpMaxBytes, '\0');
    for (auto _ : state) {
        std::FILE* f = std::fopen((help.dir + "/readme.txt").c_str(), "r");
        if (f == nullptr) return state.SkipWithError("open");
        benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), f));
        std::fclose(f);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kMenuHelpMaxBytes));
}
BENCHMARK(BM_HelpBytesReadAlone)->Unit(benchmark::kMillisecond);

}  // namespace
