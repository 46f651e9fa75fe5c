// The sky-dome creator's answers to the skeleton's events: the scene (world,
// camera, the coloured dome), one frame per idle event, and saving the dome.
#include <cmath>
#include <cstdio>
#include <string>

#include "app/skel/camhelp.h"
#include "app/skel/skeleton.h"
#include "app/skydome/dome.h"
#include "app/skydome/domesave.h"
#include "app/skydome/options.h"
#include "app/skydome/sky.h"
#include "engine/camera/bacamera.h"
#include "engine/core/badevice.h"
#include "engine/image/baimage.h"
#include "engine/image/batextur.h"
#include "engine/image/ktpngw.h"
#include "engine/opengl/basdlogl.h"
#include "engine/opengl/glpipes.h"
#include "engine/pipe/nodes/baim3d.h"
#include "engine/world/baclump.h"
#include "engine/world/baworld.h"

namespace kv {

namespace {

constexpr float kAspect = 1.3333334f;
// pi rounded to single precision first, as every angle of the program is.
constexpr float kPi = 3.14159265358979f;
constexpr RGBA kOrbitClearColour = {64, 64, 64, 0};
constexpr float kNearClip = 0.1f;
constexpr float kFarClip = 30.0f;
constexpr BBox kWorldBox = {{100.0f, 100.0f, 100.0f}, {-100.0f, -100.0f, -100.0f}};

struct AppState {
    bool engineStarted;
    bool sceneReady;  // start-up went through
    World* world;
    Camera* camera;
    Clump* domeClump;
    Texture* ground;
    float fieldOfView;  // degrees
    float viewWindow;
    long framesDrawn;
};
constexpr AppState kInitialState = {false, false, nullptr, nullptr, nullptr, nullptr, 45.0f, 0.0f, 0};
AppState app = kInitialState;

void Terminate();

// The shell raises no EventTerminate after a failed start-up, so what was
// made is taken down here.
int32 Fail(const char* message) {
    PlatformErrorMessage(message);
    Terminate();
    return EventFailed;
}

// The engine's software pipelines become the defaults, for objects and for
// immediate mode alike.
bool UseSoftwarePipelines() {
    const WorldPipelineSet* generic = WorldPipelinesGetGeneric();
    if (generic == nullptr || generic->atomic == nullptr || generic->sector == nullptr ||
        generic->material == nullptr || Im3DGetDefaultTransformPipeline() == nullptr) {
        return false;
    }
    AtomicSetDefaultPipeline(generic->atomic);
    WorldSectorSetDefaultPipeline(generic->sector);
    MaterialSetDefaultPipeline(generic->material);
    Im3DSetTransformPipeline(Im3DGetDefaultTransformPipeline());
    for (int32 type = PrimTypeLineList; type <= PrimTypePointList; ++type) {
        Im3DSetRenderPipeline(Im3DGetDefaultRenderPipeline(type), type);
    }
    return true;
}

// The overlays of one frame, over the dome the world render drew.
void DrawOverlays() {
    const DomeSettings* settings = DomeGetSettings();
    if (!settings->preview && settings->ground) {
        RenderStateSet(StateTextureRaster,
                       reinterpret_cast<std::intptr_t>(app.ground != nullptr ? TextureGetRaster(app.ground) : nullptr));
        DomeDrawGround();
    }
    const bool normals = !settings->preview && settings->normals;
    if (settings->wire || normals) {
        RenderStateSet(StateTextureRaster, 0);
        RenderStateSet(StateShadeMode, 1);
        RenderStateSet(StateZTestEnable, 0);
        RenderStateSet(StateZWriteEnable, 0);
        if (settings->wire) DomeDrawWire();
        if (normals) DomeDrawNormals();
    }
}

// The ground's picture, "ground" in "textures/" (also where the program's data
// lives, so that a program started from another folder finds it), filtered
// linearly.
Texture* ReadGroundTexture() {
    std::string search = "textures/";
    for (int32 i = 0; const char* folder = PlatformDataFolder(i); ++i)
        search += std::string(";") + folder + "textures/";
    char* path = PlatformPathCreate(search.c_str());
    if (path == nullptr) return nullptr;
    ImageSetPath(path);
    PlatformPathDestroy(path);
    Texture* ground = TextureRead("ground", nullptr);
    if (ground != nullptr) TextureSetFilterMode(ground, 2);
    return ground;
}

// The routine behind "Save dome_X" (with kDomeFileName) and --save-dome.
bool SaveDome(const char* file) {
    char* path = PlatformPathCreate(file);
    if (path == nullptr) {
        PlatformErrorMessage(kDomeCannotOpen);
        return false;
    }
    std::string message;
    const bool saved = DomeSave(app.domeClump, path, &message);
    PlatformPathDestroy(path);
    if (!saved) PlatformErrorMessage(message.c_str());
    return saved;
}

int32 Initialise(void* window) {
    if (ShellDefaultEvent(EventInitialise, window) != EventHandled) return Fail("Error initializing Kelvane.");
    app.engineStarted = true;
    const SkydomeOptions* options = SkydomeGetOptions();
    if (options->softwarePipelines && !UseSoftwarePipelines()) return Fail("Cannot use the software pipelines.");

    app.world = WorldCreate(&kWorldBox);
    if (app.world == nullptr) return Fail("Cannot create world.");

    const ShellSettings* s = ShellGetSettings();
    app.camera = CameraCreateWithRasters(s->width, s->height, true);
    if (app.camera == nullptr) return Fail("Cannot create camera.");
    CameraSetNearClipPlane(app.camera, kNearClip);
    CameraSetFarClipPlane(app.camera, kFarClip);
    if (WorldAddCamera(app.world, app.camera) == nullptr) return Fail("Cannot create camera.");
    // The orbit view looks along +z from the origin.
    FrameSetIdentity(CameraGetFrame(app.camera));
    app.viewWindow = std::tan(app.fieldOfView * kPi / 360.0f);
    ShellEvent(EventCameraResize, nullptr);

    if (!SkyColorInit()) return Fail("Error initializing color.");

    DomeReset();
    DomeSetMessageFunction(PlatformErrorMessage);
    DomeSettings* settings = DomeGetSettings();
    settings->resolution = options->resolution;
    settings->exposure = options->exposure;
    settings->ground = options->showGround;
    settings->wire = options->showWire;
    settings->normals = options->showNormals;
    app.domeClump = DomeClumpCreate(app.world, settings->resolution);
    if (app.domeClump == nullptr) return Fail("Cannot create skydome clump.");
    DomeClumpPlaceOrbit(app.domeClump);
    DomeSetCameraFrame(CameraGetFrame(app.camera));
    DomeAttachToSky();

    // The sun starts below its first move, so the move places it.
    SkyState* sky = SkyGetState();
    sky->sunTheta = 0.0f;
    sky->sunPhi = 0.0f;
    SkyMoveSun(options->sunZenith, options->sunAzimuth);
    DomeUpdateViewer();
    app.ground = ReadGroundTexture();
    if (app.ground == nullptr) return Fail("Cannot create ground texture.");
    app.sceneReady = true;
    // Without a display the program still runs (the video system falls back
    // to drawing offscreen), but nobody can see it or press Escape.
    if (!PlatformDisplayVisible() && options->frames < 0) {
        std::fprintf(stderr,
                     "skydome: no display can show the window; running unseen until interrupted "
                     "(use --frames N for unattended runs)\n");
    }
    return EventHandled;
}

void Terminate() {
    SkydomeOptions* options = SkydomeGetOptions();
    if (!options->saveDome.empty()) {
        options->saveFailed = !app.sceneReady || !SaveDome(options->saveDome.c_str());
    }
    app.sceneReady = false;
    SkySetSunMovedHook(nullptr, nullptr);
    if (app.ground != nullptr) TextureDestroy(app.ground);
    app.ground = nullptr;
    if (app.domeClump != nullptr) DomeClumpDestroy(app.domeClump);
    app.domeClump = nullptr;
    if (app.engineStarted) DomeReset();  // its buffers are the engine's memory
    if (app.camera != nullptr) {
        if (app.world != nullptr) WorldRemoveCamera(app.world, app.camera);
        CameraDestroyWithRasters(app.camera);
    }
    app.camera = nullptr;
    if (app.world != nullptr) WorldDestroy(app.world);
    app.world = nullptr;
    if (app.engineStarted) ShellDefaultEvent(EventTerminate, nullptr);
    app.engineStarted = false;
}

// Written from the back buffer, before it is presented and its contents lost.
void WriteScreenshot() {
    const std::string& file = SkydomeGetOptions()->screenshot;
    if (file.empty()) return;
    if (!RasterWritePNG(CameraGetRaster(app.camera), file.c_str())) {
        std::fprintf(stderr, "skydome: cannot write the screenshot %s\n", file.c_str());
        SkydomeGetOptions()->screenshotFailed = true;
    }
}

void Idle() {
    const long limit = SkydomeGetOptions()->frames;
    if (limit >= 0 && app.framesDrawn >= limit) {
        ShellEvent(EventQuit, nullptr);
        return;
    }
    if (app.camera == nullptr) return;
    CameraClear(app.camera, &kOrbitClearColour, ClearImage | ClearZ);
    if (CameraBeginUpdate(app.camera) != nullptr) {
        RenderStateSet(StateShadeMode, 2);  // Gouraud
        RenderStateSet(StateZTestEnable, 1);
        RenderStateSet(StateZWriteEnable, 1);
        WorldRender(app.world);
        DrawOverlays();
        CameraEndUpdate(app.camera);
    }
    const bool last = limit >= 0 && app.framesDrawn + 1 >= limit;
    if (last) WriteScreenshot();
    PlatformCameraShowRaster(app.camera);
    ++app.framesDrawn;
    if (last) ShellEvent(EventQuit, nullptr);
}

}  // namespace

int32 AppEventHandler(int32 event, void* data) {
    switch (event) {
        case EventPreInitialise: {
            ShellDefaultEvent(EventPreInitialise, nullptr);
            EngineSetDevice(GlDeviceGetInterface);
            app = kInitialState;
            ShellSettings* s = ShellGetSettings();
            if (s->width == 0) s->width = 640;
            if (s->height == 0) s->height = 480;
            s->title = "KV3 Skydome Creator";
            s->maxFrameRate = 100;
            return EventHandled;
        }
        case EventPluginAttach:
            if (!WorldPluginAttach()) return EventFailed;
            GlWorldPipelinesInstall();
            return EventHandled;
        case EventInitialise:
            return Initialise(data);
        case EventCameraResize:
            CameraResizeRasters(app.camera, static_cast<ResizeRecord*>(data), app.viewWindow, kAspect);
            return EventHandled;
        case EventIdle:
            Idle();
            return EventHandled;
        case EventTerminate:
            Terminate();
            return EventHandled;
        default:
            return EventNotHandled;
    }
}

}  // namespace kv
