// The sky-dome creator's answers to the skeleton's events: the scene (world,
// camera, the coloured dome), one frame per idle event, and saving the dome.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/skel/camhelp.h"
#include "app/skel/menu.h"
#include "app/skel/skeleton.h"
#include "app/skydome/dome.h"
#include "app/skydome/domesave.h"
#include "app/skydome/options.h"
#include "app/skydome/sky.h"
#include "app/skydome/skyrun.h"
#include "engine/camera/bacamera.h"
#include "engine/core/badevice.h"
#include "engine/image/baimage.h"
#include "engine/image/batextur.h"
#include "engine/image/ktpngw.h"
#include "engine/opengl/basdlogl.h"
#include "engine/opengl/glpipes.h"
#include "engine/pipe/nodes/baim3d.h"
#include "engine/stream/bafwrite.h"
#include "engine/world/baclump.h"
#include "engine/world/baworld.h"
#include "engine/world/kplogo.h"

namespace kv {

namespace {

constexpr float kAspect = 1.3333334f;
// pi rounded to single precision first, as every angle of the program is.
constexpr float kPi = 3.14159265358979f;
constexpr RGBA kOrbitClearColour = {64, 64, 64, 0};
constexpr float kNearClip = 0.1f;
constexpr float kFarClip = 30.0f;
constexpr BBox kWorldBox = {{100.0f, 100.0f, 100.0f}, {-100.0f, -100.0f, -100.0f}};
// Text and menu colours.
constexpr RGBA kTextForeground = {200, 200, 200, 255};
constexpr RGBA kTextBackground = {64, 64, 64, 0};

struct AppState {
    bool engineStarted;
    bool sceneReady;  // start-up went through
    bool menuOpen;
    World* world;
    Camera* camera;
    Clump* domeClump;
    Texture* ground;
    float fieldOfView;  // degrees
    float viewWindow;
    long framesDrawn;
    bool screenshotTaken;
};
constexpr AppState kInitialState = {false, false, false, nullptr, nullptr, nullptr, nullptr, 45.0f, 0.0f, 0, false};
AppState app = kInitialState;

void Terminate();

// The shell raises no EventTerminate after a failed start-up, so what was
// made is taken down here. The message is followed by the engine error
// behind it.
int32 Fail(const char* message) {
    ShellReportFailure(message);
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
    for (int32 i = 0; const char* folder = PlatformDataFolder(i); ++i) {
        search += std::string(";") + folder + "textures/";
    }
    char* path = PlatformPathCreate(search.c_str());
    if (path == nullptr) return nullptr;
    ImageSetPath(path);
    PlatformPathDestroy(path);
    Texture* ground = TextureRead("ground", nullptr);
    if (ground != nullptr) TextureSetFilterMode(ground, 2);
    return ground;
}

// The routine behind "Save dome_X" (the program's own name, in the
// platform's path form) and --save-dome (the user's name, as given: a
// backslash there is part of a file name).
bool SaveDome(const char* file, bool ownName) {
    char* converted = nullptr;
    if (ownName) {
        converted = PlatformPathCreate(file);
        if (converted == nullptr) {
            PlatformErrorMessage(kDomeCannotOpen);
            return false;
        }
    }
    std::string message;
    const bool saved = DomeSave(app.domeClump, ownName ? converted : file, &message);
    PlatformPathDestroy(converted);
    if (!saved) PlatformErrorMessage(message.c_str());
    return saved;
}

const char* SignalName(int32 signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

// A run asked for a picture that ended before its last frame (interrupted,
// or closed by the user) has not done what it was asked.
void ReportScreenshotNotTaken() {
    SkydomeOptions* options = SkydomeGetOptions();
    if (options->screenshot.empty() || app.screenshotTaken || options->screenshotFailed) return;
    const int32 signal = PlatformQuitSignal();
    std::fprintf(stderr, "skydome: the screenshot %s was not taken: the run ended after %ld of %ld frames%s%s%s\n",
                 options->screenshot.c_str(), app.framesDrawn, options->frames, signal != 0 ? " (interrupted by " : "",
                 signal != 0 ? SignalName(signal) : "", signal != 0 ? ")" : "");
    options->screenshotFailed = true;
}

int32 Initialise(void* window) {
    if (ShellDefaultEvent(EventInitialise, window) != EventHandled) return Fail("Error initializing Kelvane.");
    app.engineStarted = true;
    ShellErrorTrailClear();  // what the engine met on its way up is behind it
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
    SkySetTurbidity(options->turbidity);
    SkyState* sky = SkyGetState();
    sky->sunTheta = 0.0f;
    sky->sunPhi = 0.0f;
    SkyMoveSun(options->sunZenith, options->sunAzimuth);
    DomeUpdateViewer();
    app.ground = ReadGroundTexture();
    if (app.ground == nullptr) return Fail("Cannot create ground texture.");

    if (!MenuOpen(1, &kTextForeground, &kTextBackground)) return Fail("Error initializing menu.");
    app.menuOpen = true;
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
    // The exports and the saved dome show the sky as the run leaves it.
    if (!options->exportGltf.empty() || !options->exportPanorama.empty()) {
        options->exportFailed = !app.sceneReady || !SkydomeRunExports(options, DomeGetAtomic(), PlatformErrorMessage);
    }
    if (!options->saveDome.empty()) {
        options->saveFailed = !app.sceneReady || !SaveDome(options->saveDome.c_str(), false);
    }
    ReportScreenshotNotTaken();
    app.sceneReady = false;
    if (app.menuOpen) MenuClose();
    app.menuOpen = false;
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
    FileWriteStatus status{};
    if (!RasterWritePNG(CameraGetRaster(app.camera), file.c_str(), &status)) {
        if (status.step == FileWriteOk) {
            std::fprintf(stderr, "skydome: cannot write the screenshot %s: the picture cannot be read back\n",
                         file.c_str());
        } else {
            std::fprintf(stderr, "skydome: cannot write the screenshot %s: %s%s%s%s\n", file.c_str(),
                         FileWriteStepText(status.step), status.osError != 0 ? " (" : "",
                         status.osError != 0 ? std::strerror(status.osError) : "", status.osError != 0 ? ")" : "");
        }
        SkydomeGetOptions()->screenshotFailed = true;
    } else {
        app.screenshotTaken = true;
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
        // The help page covers the scene: it is not drawn.
        if (!app.menuOpen || MenuGetMode() != MenuModeHelp) {
            RenderStateSet(StateShadeMode, 2);  // Gouraud
            RenderStateSet(StateZTestEnable, 1);
            RenderStateSet(StateZWriteEnable, 1);
            WorldRender(app.world);
            DrawOverlays();
        }
        if (app.menuOpen) MenuRender(app.camera, nullptr);
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
            if (!WorldPluginAttach() || !LogoPluginAttach()) return EventFailed;
            GlWorldPipelinesInstall();
            return EventHandled;
        case EventInputDeviceAttach:
            // The menu sees keys and the mouse first (Space, shortcuts, help).
            InputDeviceRegister(InputKeyboard, MenuKeyboard);
            InputDeviceRegister(InputMouse, MenuMouse);
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
