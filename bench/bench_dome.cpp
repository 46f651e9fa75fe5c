// The dome at the menu's highest resolution (32 rings: 4097 vertices, 8064
// triangles): building it, colouring it, and drawing it in the offscreen
// OpenGL context next to a frame that only clears and presents.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdio>

#include "app/skydome/dome.h"
#include "app/skydome/program_sky.h"
#include "engine/assembly/standard_modules.h"
#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/frame/frame.h"
#include "engine/image/raster.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/opengl/gl_device.h"
#include "engine/opengl/gl_functions.h"
#include "engine/opengl/gl_pipelines.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/world.h"
#include "sky/analytic_sky.h"

namespace {

using namespace kv;

constexpr int32 kRings = 32;
constexpr BBox kWorldBox = {{100.0f, 100.0f, 100.0f}, {-100.0f, -100.0f, -100.0f}};

// The dome on the null device, its sun at the start-up position.
struct NullEngine {
    bool ok = false;
    Clump* clump = nullptr;
    NullEngine() {
        EngineSetDevice(nullptr);
        EngineOpenParams p{nullptr};
        EngineUseStandardModules();
        ok = EngineInit(nullptr, 0) && WorldPluginAttach() && EngineOpen(&p) && EngineStart() && SkyColorInit();
        if (!ok) return;
        DomeReset();
        DomeAttachToSky();
        clump = DomeClumpCreate(nullptr, kRings);
        ok = clump != nullptr;
        *SkyGetState() = SkyState{};
        SkyMoveSun(50.0f, 20.0f);
    }
    ~NullEngine() {
        SkySetSunMovedHook(nullptr, nullptr);
        if (clump != nullptr) DomeClumpDestroy(clump);
        DomeReset();
        EngineStop();
        EngineClose();
        EngineTerm();
    }
};

void BM_DomeBuild(benchmark::State& state) {
    NullEngine engine;
    if (!engine.ok) return state.SkipWithError("engine");
    for (auto _ : state) {
        Geometry* g = DomeBuild(kRings);
        benchmark::DoNotOptimize(g);
        GeometryDestroy(g);
    }
}
BENCHMARK(BM_DomeBuild)->Unit(benchmark::kMicrosecond);

// "Tessellate_T": a new geometry, coloured for the current sun.
void BM_DomeBuildAndColour(benchmark::State& state) {
    NullEngine engine;
    if (!engine.ok) return state.SkipWithError("engine");
    DomeGetSettings()->resolution = kRings;
    for (auto _ : state) {
        if (!DomeTessellate()) return state.SkipWithError("tessellate");
    }
}
BENCHMARK(BM_DomeBuildAndColour)->Unit(benchmark::kMicrosecond);

// The same after a change of resolution: the recolour cache is rebuilt for
// the new directions as well (31 and 32 rings in turn).
void BM_DomeBuildAndColourNewResolution(benchmark::State& state) {
    NullEngine engine;
    if (!engine.ok) return state.SkipWithError("engine");
    int32 rings = kRings;
    for (auto _ : state) {
        rings = rings == kRings ? kRings - 1 : kRings;
        DomeGetSettings()->resolution = rings;
        if (!DomeTessellate()) return state.SkipWithError("tessellate");
    }
}
BENCHMARK(BM_DomeBuildAndColourNewResolution)->Unit(benchmark::kMicrosecond);

// A sun drag: the model for the new sun, every vertex recoloured.
void BM_DomeSunMove(benchmark::State& state) {
    NullEngine engine;
    if (!engine.ok) return state.SkipWithError("engine");
    float step = 0.1f;
    for (auto _ : state) {
        SkyMoveSun(0.0f, step);
        step = -step;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * DomeVertexCount(kRings));
}
BENCHMARK(BM_DomeSunMove)->Unit(benchmark::kMicrosecond);

// The scene of the program in a hidden 640 x 480 window on the OpenGL device.
struct GlScene {
    bool ok = false;
    SDL_Window* window = nullptr;
    World* world = nullptr;
    Camera* camera = nullptr;
    Frame* frame = nullptr;
    Raster* colour = nullptr;
    Raster* depth = nullptr;
    Clump* clump = nullptr;

    explicit GlScene(int32 rings = kRings) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0 || SDL_GL_LoadLibrary(nullptr) != 0) return;
        window = GlWindowCreate("bench", 0, 0, 640, 480, SDL_WINDOW_HIDDEN);
        if (window == nullptr) return;
        EngineSetDevice(GlDeviceGetInterface);
        EngineOpenParams p{window};
        EngineUseStandardModules();
        if (!EngineInit(nullptr, 0) || !WorldPluginAttach()) return;
        GlWorldPipelinesInstall();
        if (!EngineOpen(&p) || !EngineSetVideoMode(0) || !EngineStart() || !SkyColorInit()) return;
        started = true;
        world = WorldCreate(&kWorldBox);
        camera = CameraCreate();
        frame = FrameCreate();
        colour = RasterCreate(640, 480, 0, RasterTypeCamera);
        depth = RasterCreate(640, 480, 0, RasterTypeZBuffer);
        if (world == nullptr || camera == nullptr || frame == nullptr || colour == nullptr || depth == nullptr) return;
        CameraSetFrame(camera, frame);
        CameraSetRaster(camera, colour);
        CameraSetZRaster(camera, depth);
        CameraSetNearClipPlane(camera, 0.1f);
        CameraSetFarClipPlane(camera, 30.0f);
        const V2d view{0.41421357f, 0.41421357f * 0.75f};
        CameraSetViewWindow(camera, &view);
        WorldAddCamera(world, camera);
        DomeReset();
        DomeAttachToSky();
        clump = DomeClumpCreate(world, rings);
        if (clump == nullptr) return;
        DomeClumpPlaceOrbit(clump);
        *SkyGetState() = SkyState{};
        SkyMoveSun(50.0f, 20.0f);
        DomeSetCameraFrame(frame);
        DomeUpdateViewer();
        ok = true;
    }

    // The engine's software pipelines for objects and immediate mode, or
    // (false) the OpenGL ones.
    void UseSoftware(bool software) {
        const WorldPipelineSet* g = WorldPipelinesGetGeneric();
        AtomicSetDefaultPipeline(software ? g->atomic : nullptr);
        WorldSectorSetDefaultPipeline(software ? g->sector : nullptr);
        MaterialSetDefaultPipeline(software ? g->material : nullptr);
        Im3DSetTransformPipeline(software ? Im3DGetDefaultTransformPipeline() : nullptr);
        for (int32 t = PrimTypeLineList; t <= PrimTypeTriFan; ++t) {
            Im3DSetRenderPipeline(software ? Im3DGetDefaultRenderPipeline(t) : nullptr, t);
        }
    }
    ~GlScene() {
        SkySetSunMovedHook(nullptr, nullptr);
        if (clump != nullptr) DomeClumpDestroy(clump);
        DomeReset();
        if (camera != nullptr) {
            if (world != nullptr) WorldRemoveCamera(world, camera);
            CameraDestroy(camera);
        }
        if (frame != nullptr) FrameDestroy(frame);
        if (colour != nullptr) RasterDestroy(colour);
        if (depth != nullptr) RasterDestroy(depth);
        if (world != nullptr) WorldDestroy(world);
        if (started) EngineStop();
        if (started) {
            EngineClose();
            EngineTerm();
        }
        EngineSetDevice(nullptr);
        if (window != nullptr) SDL_DestroyWindow(window);
    }

    // One frame of the program; glFinish so that the rasteriser's work is
    // inside the measurement.
    void DrawFrame(bool drawWorld, bool overlays = false) {
        const RGBA clear{64, 64, 64, 0};
        CameraClear(camera, &clear, ClearImage | ClearZ);
        if (CameraBeginUpdate(camera) != nullptr) {
            RenderStateSet(StateShadeMode, 2);
            RenderStateSet(StateZTestEnable, 1);
            RenderStateSet(StateZWriteEnable, 1);
            if (drawWorld) WorldRender(world);
            if (overlays) {
                // As the program draws the ground, the wire mesh and the normals.
                RenderStateSet(StateTextureRaster, 0);
                DomeDrawGround();
                RenderStateSet(StateShadeMode, 1);
                RenderStateSet(StateZTestEnable, 0);
                RenderStateSet(StateZWriteEnable, 0);
                DomeDrawWire();
                DomeDrawNormals();
            }
            CameraEndUpdate(camera);
        }
        CameraShowRaster(camera, window, 0);
        gl.Finish();
    }

  private:
    bool started = false;
};

void RunFrames(benchmark::State& state, bool drawWorld, bool software = false, bool overlays = false,
               int32 rings = kRings) {
    GlScene scene(rings);
    if (!scene.ok) return state.SkipWithError("no OpenGL scene (run with SDL_VIDEODRIVER=offscreen)");
    scene.UseSoftware(software);
    scene.DrawFrame(drawWorld, overlays);  // the first frame instances the dome
    for (auto _ : state) scene.DrawFrame(drawWorld, overlays);
}

void BM_FrameClearAndShow(benchmark::State& state) { RunFrames(state, false); }
BENCHMARK(BM_FrameClearAndShow)->Unit(benchmark::kMicrosecond);

// The argument is the dome's rings.
void BM_FrameDome(benchmark::State& state) { RunFrames(state, true, false, false, static_cast<int32>(state.range(0))); }
BENCHMARK(BM_FrameDome)->Arg(9)->Arg(kRings)->Unit(benchmark::kMicrosecond);

// The same frame transformed, clipped and lit by the engine and drawn as
// screen-space triangles.
void BM_FrameDomeSoftware(benchmark::State& state) {
    RunFrames(state, true, true, false, static_cast<int32>(state.range(0)));
}
BENCHMARK(BM_FrameDomeSoftware)->Arg(9)->Arg(kRings)->Unit(benchmark::kMicrosecond);

// The dome with the ground, the wire mesh and the normals over it.
void BM_FrameDomeOverlays(benchmark::State& state) {
    RunFrames(state, true, false, true, static_cast<int32>(state.range(0)));
}
BENCHMARK(BM_FrameDomeOverlays)->Arg(9)->Arg(kRings)->Unit(benchmark::kMicrosecond);

void BM_FrameDomeOverlaysSoftware(benchmark::State& state) {
    RunFrames(state, true, true, true, static_cast<int32>(state.range(0)));
}
BENCHMARK(BM_FrameDomeOverlaysSoftware)->Arg(9)->Arg(kRings)->Unit(benchmark::kMicrosecond);

}  // namespace
