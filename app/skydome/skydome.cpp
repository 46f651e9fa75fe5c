#include "skydome.h"

#include <strings.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/skel/camera_helpers.h"
#include "app/skel/menu.h"
#include "app/skydome/batch_run.h"
#include "app/skydome/controls.h"
#include "app/skydome/dome.h"
#include "app/skydome/dome_save.h"
#include "app/skydome/flares.h"
#include "app/skydome/options.h"
#include "app/skydome/program_sky.h"
#include "app/skydome/scene.h"
#include "app/skydome/workshop.h"
#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/quoted_name.h"
#include "engine/image/charset.h"
#include "engine/image/image.h"
#include "engine/image/image_readers.h"
#include "engine/image/png_write.h"
#include "engine/image/texture.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/opengl/gl_device.h"
#include "engine/opengl/gl_pipelines.h"
#include "engine/stream/safe_write.h"
#include "engine/world/clump.h"
#include "engine/world/logo.h"
#include "engine/world/world.h"
#include "export/export_file.h"
#include "sky/analytic_sky.h"
#include "sky/panorama_rows.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

constexpr RGBA kOrbitClearColour = {64, 64, 64, 0};
constexpr RGBA kPreviewClearColour = {7, 77, 48, 255};
constexpr float kNearClip = 0.1f;
constexpr float kFarClip = 30.0f;
// Text and menu colours.
constexpr RGBA kTextForeground = {200, 200, 200, 255};
constexpr RGBA kTextBackground = {64, 64, 64, 0};
// The folder of the program's pictures in each of its data folders.
constexpr const char* kTextureFolder = "textures/";
// The window's icon among the program's data.
constexpr const char* kIconFile = "skydome.png";
// Frames per second are counted over periods of just over this.
constexpr uint32 kFpsPeriod = 1000;

SkydomeApp app{};
SkydomeClock clock = nullptr;

uint32 Now() { return clock != nullptr ? clock() : PlatformGetTimer(); }

DomeSettings* Settings() { return DomeGetSettings(); }
bool Preview() { return Settings()->preview != 0; }
bool HelpShown() { return app.menuOpen && MenuGetMode() == MenuModeHelp; }

void Terminate();

// The shell raises no EventTerminate after a failed start-up, so what was
// made is taken down here. A message of one line is followed by the reason
// in words (ShellReportFailure).
int32 Fail(const std::string& message) {
    ShellReportFailure(message.c_str());
    Terminate();
    return EventFailed;
}

// --- Data files ---------------------------------------------------------------

// The picture path: textures/ in each of the program's data folders, in
// their order.
std::string TexturePath() {
    std::string path;
    for (int32 i = 0; const char* folder = ShellDataFolder(i); ++i) {
        if (!path.empty()) path += ';';
        path += std::string(folder) + kTextureFolder;
    }
    return path;
}

// "a, b or c"
std::string Listed(const std::string& items) {
    const std::size_t last = items.rfind(", ");
    return last == std::string::npos ? items : items.substr(0, last) + " or " + items.substr(last + 2);
}

// The file the engine reads for a picture: the first name on the picture
// path with a registered extension that exists; empty when there is none.
struct PictureSearch {
    std::string found;
};

bool FindPicture(char* candidate, void* data) {
    auto* search = static_cast<PictureSearch*>(data);
    const std::string stem = candidate;
    for (const ImageFormat* f = ImageGetFormats(); f != nullptr; f = f->nextFormat) {
        for (const char* extension : {f->extension, f->extensionUpper}) {
            const std::string name = stem + extension;
            if (EngineInstanceGet()->fileFuncs.kvfexist(name.c_str())) {
                search->found = name;
                return false;
            }
        }
    }
    return true;
}

// What went wrong with a picture the program could not read, and what to do:
// the file it found and why it could not be read, or the names it looked for
// and where.
std::string LookedFor(const char* name) {
    PictureSearch search;
    ImagePathSearch(name, 0, FindPicture, &search);
    if (!search.found.empty()) {
        ErrorRecord first{};
        const char* why =
            ShellErrorTrail(&first, nullptr) > 0 ? ImageReadErrorText(first.pluginID, first.errorCode) : nullptr;
        const std::string found = QuotedName(search.found);
        return "The picture " + found +
               " cannot be read: " + (why != nullptr ? why : "it is damaged, or not a picture the program reads") +
               ". Put a PNG or BMP picture there (kvimage " + found +
               " says what the program makes of it), or install the program again.";
    }
    std::string names;
    for (const ImageFormat* f = ImageGetFormats(); f != nullptr; f = f->nextFormat) {
        names += (names.empty() ? "" : ", ") + std::string(name) + f->extension;
    }
    std::string folders;
    for (int32 i = 0; const char* folder = ShellDataFolder(i); ++i) {
        folders += (folders.empty() ? "" : ", ") + QuotedName(std::string(folder) + kTextureFolder);
    }
    return std::string("There is no picture ") + (names.empty() ? name : Listed(names)) + " in " + Listed(folders) +
           ". Install the program again, or start it where its textures/ folder is.";
}

// The engine passes over a picture it cannot read for the next folder's, the
// program's own: one the user put in --data DIR/textures/ would be dropped in
// silence. The first picture found under the name must be read, or the run
// fails naming it (LookedFor, with the reader's reason).
bool PictureReadable(const char* name) {
    PictureSearch search;
    ImagePathSearch(name, 0, FindPicture, &search);
    if (search.found.empty()) return true;  // missing: the read reports it
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(search.found, error);
    ShellErrorTrailClear();
    Image* image = ImageRead(error ? search.found.c_str() : file.c_str());
    if (image == nullptr) return false;
    ImageDestroy(image);
    return true;
}

std::string FlareFailure(int32 index) {
    char name[16], mask[16];
    std::snprintf(name, sizeof name, "flare%d", static_cast<int>(index));
    std::snprintf(mask, sizeof mask, "flare%dm", static_cast<int>(index));
    // The picture first, then its mask.
    return LookedFor(ImageFindFileExtension(name) == nullptr ? name : mask);
}

Texture* ReadGroundTexture() {
    Texture* ground = TextureRead("ground", nullptr);
    if (ground != nullptr) TextureSetFilterMode(ground, 2);  // linear
    return ground;
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

// --- Saving ---------------------------------------------------------------------

// The routine behind "Save dome_X" (the program's own name, in the
// platform's path form) and --save-dome (the user's name, as given: a
// backslash there is part of a file name). The menu's save says "Cannot open
// stream." first when no file could be opened; *message is the rest.
bool SaveDome(const char* file, bool ownName, DomeFacing facing, std::string* message) {
    char* converted = nullptr;
    if (ownName) {
        converted = PlatformPathCreate(file);
        if (converted == nullptr) {
            *message = "Cannot save the dome to " + QuotedName(file) +
                       ": the program ran out of memory. Close other programs, and try again.";
            PlatformErrorMessage((std::string(kDomeCannotOpen) + "\n" + *message).c_str());
            return false;
        }
    }
    FileWriteStatus status{};
    DomeSaveOptions options;
    options.facing = facing;
    const bool saved = DomeSave(app.domeClump, ownName ? converted : file, message, &options, &status);
    PlatformPathDestroy(converted);
    if (!saved) {
        const bool opening = ownName && DomeSaveCouldNotOpen(status);
        PlatformErrorMessage(opening ? (std::string(kDomeCannotOpen) + "\n" + *message).c_str() : message->c_str());
    }
    return saved;
}

void SetStatus(const char* text) { SkydomeSetStatus(text); }

// --- Menu -----------------------------------------------------------------------

int32 Answer(bool available) { return available ? 1 : 0; }

int32 TessellateAction(int32 query) {
    if (query == kMenuQueryAvailable) return 1;
    return Answer(DomeTessellate());
}

// The exposure curve's K; photographic exposure has none.
int32 ExposureChanged(int32 query) {
    if (query == kMenuQueryAvailable) return Answer(Settings()->sky != 0 && Settings()->autoExposure == 0);
    DomeApplyColors(DomeGetAtomic(), Settings()->sky != 0);
    return 1;
}

// Photographic exposure and the eye's night vision: the dome is tone-mapped
// again (the sun's disc and the bodies follow at the next frame).
int32 AutoExposureChanged(int32 query) {
    if (query == kMenuQueryAvailable) return Answer(Settings()->sky != 0);
    DomeExposureChosen();
    DomeApplyColors(DomeGetAtomic(), Settings()->sky != 0);
    return 1;
}

int32 NightVisionChanged(int32 query) {
    if (query == kMenuQueryAvailable) return Answer(Settings()->sky != 0 && Settings()->autoExposure != 0);
    DomeApplyColors(DomeGetAtomic(), Settings()->sky != 0);
    return 1;
}

int32 PreviewChanged(int32 query) {
    if (query == kMenuQueryAvailable) return 1;
    ViewPreviewSwitch();
    return 1;
}

int32 SkyChanged(int32 query) {
    if (query == kMenuQueryAvailable) return 1;
    DomeApplyColors(DomeGetAtomic(), Settings()->sky != 0);
    return 1;
}

// The ground and the normals belong to the view from outside.
int32 OutsidePreview(int32 query) { return query == kMenuQueryAvailable ? Answer(!Preview()) : 1; }

int32 LensAvailable(int32 query) {
    return query == kMenuQueryAvailable ? Answer(Preview() && Settings()->sky != 0) : 1;
}

int32 SpinAvailable(int32 query) { return query == kMenuQueryAvailable ? Answer(Preview()) : 1; }

// The menu flipped the model; a model that cannot be made leaves the one in use.
int32 SkyModelChanged(int32 query) {
    if (query == kMenuQueryAvailable) return 1;
    return Answer(WorkshopSelectModel(&app.skyModel));
}

// Only the sky's colours are worth saving.
int32 SaveAction(int32 query) {
    if (query == kMenuQueryAvailable) return Answer(Settings()->sky != 0);
    return Answer(SkydomeSave());
}

bool BuildMenu() {
    if (!MenuOpen(1, &kTextForeground, &kTextBackground)) return false;
    app.menuOpen = true;
    DomeSettings* s = Settings();
    ViewState* view = ViewGetState();
    return MenuAddInt("Resolution", &s->resolution, nullptr, kDomeMinResolution, kDomeMaxResolution, 1, nullptr) &&
           MenuAddAction("Tessellate_T", TessellateAction) &&
           MenuAddFloat("Exposure", &s->exposure, ExposureChanged, kDomeMinExposure, kDomeMaxExposure, 0.01f) &&
           MenuAddToggle("Preview_P", &s->preview, PreviewChanged) && MenuAddSeparator() &&
           MenuAddToggle("Sky_S", &s->sky, SkyChanged) && MenuAddToggle("Ground_G", &s->ground, OutsidePreview) &&
           MenuAddToggle("Wire mesh_W", &s->wire, nullptr) && MenuAddToggle("Normals_N", &s->normals, OutsidePreview) &&
           MenuAddSeparator() && MenuAddToggle("Lens effect_L", &app.lensEffect, LensAvailable) &&
           MenuAddToggle("Camera spin_C", &view->spin, SpinAvailable) && MenuAddAction("Save dome_X", SaveAction) &&
           MenuAddSeparator() && MenuAddToggle("Display data_D", &app.displayData, nullptr) &&
           MenuAddToggle("FPS_F", &app.showFps, nullptr) && MenuAddSeparator() &&
           MenuAddInt("Sky model_M", &app.skyModel, SkyModelChanged, SkyModelPreetham, SkyModelPhysical, 1,
                      kSkyModelNames) &&
           WorkshopAddMenuEntries() && MenuAddSeparator() &&
           MenuAddToggle("Auto exposure_A", &s->autoExposure, AutoExposureChanged) &&
           MenuAddToggle("Night vision_K", &s->nightVision, NightVisionChanged);
}

// Keys the menu and the views leave: the time of day's.
int32 SkydomeKeyboard(int32 event, void* data) {
    const int32 result = ControlsKeyboard(event, data);
    return result != EventNotHandled ? result : WorkshopKeyboard(event, data);
}

// --- Start-up and shut-down -----------------------------------------------------

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
                 QuotedName(options->screenshot).c_str(), app.framesDrawn, options->frames,
                 signal != 0 ? " (interrupted by " : "", signal != 0 ? SignalName(signal) : "", signal != 0 ? ")" : "");
    options->screenshotFailed = true;
}

// The view the options ask for at start: the preview camera's look, the
// field of view, and the preview itself.
void ApplyViewOptions(const SkydomeOptions* options) {
    ViewState* view = ViewGetState();
    if (options->look) ViewSetPreviewLook(options->lookElevation, options->lookAzimuth);
    if (options->fov > 0.0f) {
        if (options->preview) {
            view->previewFieldOfView = options->fov;
        } else {
            view->fieldOfView = options->fov;
            ViewApplyFov();
        }
    }
    if (options->preview) {
        Settings()->preview = 1;
        ViewPreviewSwitch();
    }
}

// Why the engine could not start, and what to do. A choice the person made
// (EXIT in the device dialog) is told as it is (ShellReportFailure).
std::string EngineFailure() {
    const char* reason = ShellFailureReason();
    if (reason != nullptr && ShellErrorTrail(nullptr, nullptr) == 0) return "Error initializing Kelvane.";
    std::string text = "Error initializing Kelvane.\nThe 3D engine could not start on this display";
    if (reason != nullptr) text += std::string(": ") + reason;
    return text +
           ". Check that OpenGL works here (glxinfo -B names the driver), or write the files without a window "
           "(--export-only).";
}

}  // namespace

std::string SkydomeNoDisplayMessage() {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string why;
    if (driver != nullptr && (strcasecmp(driver, "offscreen") == 0 || strcasecmp(driver, "dummy") == 0)) {
        why = std::string("SDL_VIDEODRIVER=") + driver + " draws where nobody sees it";
    } else if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) {
        why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    } else {
        why = std::string("the display ") + (x11 != nullptr && *x11 != '\0' ? x11 : wayland) + " cannot be opened";
    }
    return "skydome: the program needs a display to show its window, and there is none (" + why +
           ").\nWithout one, give the run an end:\n"
           "  SDL_VIDEODRIVER=offscreen skydome -vms --frames N --screenshot FILE.png\n"
           "      draws N frames unseen and keeps the last (add --save-dome FILE to save the dome)\n"
           "  skydome --export-only --save-dome FILE\n"
           "      writes the dome (or --export-gltf, --export-panorama) without a window\n";
}

namespace {

int32 Initialise(void* window) {
    if (ShellDefaultEvent(EventInitialise, window) != EventHandled) return Fail(EngineFailure());
    app.engineStarted = true;
    ShellErrorTrailClear();  // what the engine met on its way up is behind it
    const SkydomeOptions* options = SkydomeGetOptions();
    if (options->softwarePipelines && !UseSoftwarePipelines()) return Fail("Cannot use the software pipelines.");

    app.charset = CharsetCreate(&kTextForeground, &kTextBackground);
    if (app.charset == nullptr) return Fail("Cannot create raster chraset.");

    app.world = WorldCreate(&kSkydomeWorldBox);
    if (app.world == nullptr) return Fail("Cannot create world.");

    const ShellSettings* s = ShellGetSettings();
    app.camera = CameraCreateWithRasters(s->width, s->height, true);
    if (app.camera == nullptr) return Fail("Cannot create camera.");
    CameraSetNearClipPlane(app.camera, kNearClip);
    CameraSetFarClipPlane(app.camera, kFarClip);
    if (WorldAddCamera(app.world, app.camera) == nullptr) return Fail("Cannot create camera.");
    // The orbit view looks along +z from the origin; the preview's camera
    // matrix is made with the view's defaults.
    FrameSetIdentity(CameraGetFrame(app.camera));
    ViewReset();
    ViewSetScene(app.camera, nullptr);
    ViewApplyFov();

    DomeSetMessageFunction(PlatformErrorMessage);
    const char* failure = nullptr;
    app.domeClump = SkydomeSceneCreate(app.world, options, &failure);
    if (app.domeClump == nullptr) return Fail(failure);
    app.skyModel = SkyModelInUse();
    DomeSettings* settings = Settings();
    settings->ground = options->showGround ? 1 : 0;
    settings->wire = options->showWire ? 1 : 0;
    settings->normals = options->showNormals ? 1 : 0;
    ViewSetScene(app.camera, ClumpGetFrame(app.domeClump));
    DomeSetCameraFrame(CameraGetFrame(app.camera));
    DomeUpdateViewer();

    // The pictures: textures/ where the program's data lives.
    char* path = PlatformPathCreate(TexturePath().c_str());
    if (path != nullptr) {
        ImageSetPath(path);
        PlatformPathDestroy(path);
    }
    if (!PictureReadable("ground")) return Fail(std::string("Cannot create ground texture.\n") + LookedFor("ground"));
    ShellErrorTrailClear();  // the reader's errors say why a picture was refused
    app.ground = ReadGroundTexture();
    if (app.ground == nullptr) return Fail(std::string("Cannot create ground texture.\n") + LookedFor("ground"));

    app.pointer = CameraPointerCreate();
    if (app.pointer == nullptr) return Fail("Cannot create camera pointer.");

    WorkshopStart(*options);
    if (!BuildMenu()) return Fail("Error initializing menu.");

    for (int32 i = 0; i < kFlareTextureCount; ++i) {
        for (const char* form : {"flare%d", "flare%dm"}) {
            char name[16];
            std::snprintf(name, sizeof name, form, static_cast<int>(i));
            if (!PictureReadable(name))
                return Fail(std::string("Error initializing camera flares.\n") + LookedFor(name));
        }
    }
    int32 failedFlare = 0;
    ShellErrorTrailClear();
    app.flaresLoaded = true;  // what was read goes at shut-down
    if (!FlaresLoad(&failedFlare)) {
        return Fail(std::string("Error initializing camera flares.\n") + FlareFailure(failedFlare));
    }

    // What the options show besides the dome: the menu's toggles and mode.
    app.lensEffect = options->showFlares ? 1 : 0;
    app.displayData = options->showData ? 1 : 0;
    app.showFps = options->showFps ? 1 : 0;
    if (!options->showMenu) MenuSetMode(MenuModeOff);
    ApplyViewOptions(options);
    ViewRememberHome();
    // The desktop shows the window with the program's own picture; without
    // it, with its default.
    PlatformSetWindowIcon(kIconFile);
    app.sceneReady = true;
    return EventHandled;
}

void Terminate() {
    SkydomeOptions* options = SkydomeGetOptions();
    // The exports and the saved dome show the sky as the run leaves it.
    if (!options->exportGltf.empty() || !options->exportPanorama.empty() || !options->exportCubemap.empty() ||
        !options->exportIrradiance.empty()) {
        options->exportFailed = !app.sceneReady || !SkydomeRunExports(options, DomeGetAtomic(), PlatformErrorMessage);
    }
    for (const std::string& file : options->saveDome) {
        std::string message;
        if (!app.sceneReady || !SaveDome(file.c_str(), false, options->domeFacing, &message)) {
            options->saveFailed = true;
        }
    }
    ReportScreenshotNotTaken();
    app.sceneReady = false;
    // In the reverse order of start-up; the overlays' buffers first.
    if (app.engineStarted) DomeFreeImmediate();
    if (app.flaresLoaded) FlaresDestroy();
    app.flaresLoaded = false;
    if (app.menuOpen) MenuClose();
    app.menuOpen = false;
    if (app.pointer != nullptr) RasterDestroy(app.pointer);
    app.pointer = nullptr;
    if (app.ground != nullptr) TextureDestroy(app.ground);
    app.ground = nullptr;
    SkySetSunMovedHook(nullptr, nullptr);
    if (app.domeClump != nullptr) DomeClumpDestroy(app.domeClump);
    app.domeClump = nullptr;
    ViewSetScene(nullptr, nullptr);
    if (app.engineStarted) {
        // Their buffers and tables are the engine's memory.
        DomeReset();
        SkyModelRelease();
    }
    if (app.camera != nullptr) {
        if (app.world != nullptr) WorldRemoveCamera(app.world, app.camera);
        CameraDestroyWithRasters(app.camera);
    }
    app.camera = nullptr;
    if (app.world != nullptr) WorldDestroy(app.world);
    app.world = nullptr;
    if (app.charset != nullptr) CharsetDestroy(app.charset);
    app.charset = nullptr;
    if (app.engineStarted) ShellDefaultEvent(EventTerminate, nullptr);
    app.engineStarted = false;
}

// --- One frame ------------------------------------------------------------------

// Written from the back buffer, before it is presented and its contents lost.
void WriteScreenshot() {
    const std::string& file = SkydomeGetOptions()->screenshot;
    if (file.empty()) return;
    FileWriteStatus status{};
    if (!RasterWritePNG(CameraGetRaster(app.camera), file.c_str(), &status)) {
        if (status.step == FileWriteOk) {
            std::fprintf(stderr,
                         "skydome: Cannot write the screenshot %s: the video driver cannot give the picture "
                         "back. Try another one (SDL_VIDEODRIVER=offscreen draws without a display).\n",
                         QuotedName(file).c_str());
        } else {
            std::fprintf(stderr, "skydome: Cannot write the screenshot %s: %s.\n", QuotedName(file).c_str(),
                         ExportFileProblem(status).c_str());
        }
        SkydomeGetOptions()->screenshotFailed = true;
    } else {
        app.screenshotTaken = true;
    }
}

// The frame counter and the spin, from the clock.
void Tick(uint32 now) {
    if (!app.clockStarted) {
        app.timeBase = now;
        app.previousTime = now;
        app.clockStarted = true;
    }
    if (now - app.timeBase > kFpsPeriod) {
        app.framesPerSecond = app.frameCounter;
        app.frameCounter = 0;
        app.timeBase = now;
    }
    ViewSpin(now - app.previousTime);
    app.previousTime = now;
}

// The dome, its overlays, the flares and the data display.
void DrawScene() {
    RenderStateSet(StateShadeMode, 2);  // Gouraud
    RenderStateSet(StateZTestEnable, 1);
    RenderStateSet(StateZWriteEnable, 1);
    WorldRender(app.world);
    const DomeSettings* s = Settings();
    if (!Preview() && s->ground != 0) {
        RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(TextureGetRaster(app.ground)));
        DomeDrawGround();
    }
    const bool normals = !Preview() && s->normals != 0;
    if (s->wire != 0 || normals) {
        RenderStateSet(StateTextureRaster, 0);
        RenderStateSet(StateShadeMode, 1);  // flat
        RenderStateSet(StateZTestEnable, 0);
        RenderStateSet(StateZWriteEnable, 0);
        if (s->wire != 0) DomeDrawWire();
        if (normals) DomeDrawNormals();
    }
    // The sun's disc and its flares in the preview, while the sun is up.
    const RGBAReal sun = Preview() && s->sky != 0 ? SkyModelSunRadiance() : RGBAReal{0.0f, 0.0f, 0.0f, 0.0f};
    const bool sunUp = sun.red > 0.0f || sun.green > 0.0f || sun.blue > 0.0f;
    if (sunUp) {
        RenderStateSet(StateTextureRaster, 0);
        RenderStateSet(StateShadeMode, 1);
        RenderStateSet(StateZTestEnable, 0);
        RenderStateSet(StateZWriteEnable, 0);
        DomeDrawSun(SkyGetState()->sunDirection, DomeToneMap(sun));
    }
    // The night's bodies, while the sky holds them (a place and a moment
    // with the physical sky): in front of the dome in the preview, on its
    // near side in the orbit view.
    Raster* raster = CameraGetRaster(app.camera);
    const PanoramaBodies* bodies = SkyModelBodies(ProgramSky());
    const bool night = bodies != nullptr && (!bodies->points.empty() || bodies->moon.shown);
    if (night && s->sky != 0 && raster != nullptr && RasterGetWidth(raster) > 0) {
        RenderStateSet(StateTextureRaster, 0);
        RenderStateSet(StateShadeMode, 1);
        RenderStateSet(StateZTestEnable, Preview() ? 0 : 1);
        RenderStateSet(StateZWriteEnable, 0);
        DomeDrawBodies(2.0 * ViewGetState()->viewWindow / RasterGetWidth(raster), !Preview());
    }
    if (Preview() && app.lensEffect != 0 && s->sky != 0 && sunUp &&
        FlaresPlace(FrameGetWorldMatrix(CameraGetFrame(app.camera)), &SkyGetState()->sunDirection)) {
        RenderStateSet(StateZTestEnable, 0);
        RenderStateSet(StateZWriteEnable, 0);
        RenderStateSet(StateSrcBlend, 2);  // one: the flares add light
        RenderStateSet(StateDestBlend, 2);
        FlaresDraw();
    }
    if (app.displayData != 0) DataDisplay();
}

// The cross in the middle of the picture while the preview look drag is on.
void DrawPointer() {
    Raster* raster = CameraGetRaster(app.camera);
    if (app.pointer == nullptr || raster == nullptr) return;
    const int32 x = (RasterGetWidth(raster) - RasterGetWidth(app.pointer)) / 2;
    const int32 y = (RasterGetHeight(raster) - RasterGetHeight(app.pointer)) / 2;
    if (RasterPushContext(raster) == nullptr) return;
    RasterRender(app.pointer, x, y);
    RasterPopContext();
}

void Idle() {
    const long limit = SkydomeGetOptions()->frames;
    if (limit >= 0 && app.framesDrawn >= limit) {
        ShellEvent(EventQuit, nullptr);
        return;
    }
    if (app.camera == nullptr) return;
    const uint32 now = Now();
    WorkshopFrame(now);
    Tick(now);
    CameraClear(app.camera, Preview() ? &kPreviewClearColour : &kOrbitClearColour, ClearImage | ClearZ);
    if (CameraBeginUpdate(app.camera) != nullptr) {
        // The help page covers the scene: it is not drawn.
        if (!HelpShown()) DrawScene();
        if (app.menuOpen) MenuRender(app.camera, nullptr);
        // Over the menu, which may reach down to it, but not over the help.
        if (!HelpShown()) StatusLineDraw(now);
        CameraEndUpdate(app.camera);
    }
    if (!HelpShown() && ViewGetState()->drag.previewLook) DrawPointer();
    const bool last = limit >= 0 && app.framesDrawn + 1 >= limit;
    if (last) WriteScreenshot();
    PlatformCameraShowRaster(app.camera);
    WorkshopFrameShown();
    ++app.frameCounter;
    ++app.framesDrawn;
    if (last) ShellEvent(EventQuit, nullptr);
}

}  // namespace

const SkydomeApp* SkydomeGetApp() { return &app; }

void SkydomeSetClock(SkydomeClock c) { clock = c; }

const char* SkydomeInterruption() {
    static char text[40];
    const int32 signal = PlatformQuitSignal();
    if (signal == 0) return nullptr;
    std::snprintf(text, sizeof text, "interrupted by %s", SignalName(signal));
    return text;
}

void SkydomeSetStatus(const char* text) {
    // Each line as wide as the window allows; what goes on is on stderr.
    constexpr std::size_t kColumns = 78;
    std::string lines;
    const std::string all = text;
    for (std::size_t at = 0; at <= all.size();) {
        std::size_t end = all.find('\n', at);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(at, end - at);
        if (line.size() > kColumns) line = line.substr(0, kColumns - 3) + "...";
        lines += (lines.empty() ? "" : "\n") + line;
        at = end + 1;
    }
    std::snprintf(app.status, sizeof app.status, "%s", lines.c_str());
    app.statusUntil = Now() + kSkydomeStatusMillis;
}

bool SkydomeSaveDomeFile(const char* file, std::string* message) {
    return SaveDome(file, false, SkydomeGetOptions()->domeFacing, message);
}

bool SkydomeSave() {
    std::string message;
    const bool saved = SaveDome(kDomeFileName, true, DomeFacingAsShown, &message);
    if (saved) {
        std::fprintf(stderr, "skydome: saved the dome to %s\n", kDomeFileName);
        SetStatus((std::string("Saved the dome to ") + kDomeFileName).c_str());
    } else {
        // The message box (or stderr) has it all; the line has its start.
        SetStatus(message.c_str());
    }
    return saved;
}

int32 SkydomeEventHandler(int32 event, void* data) {
    switch (event) {
        case EventPreInitialise: {
            ShellDefaultEvent(EventPreInitialise, nullptr);
            EngineSetDevice(GlDeviceGetInterface);
            // A folder of the user's own help and pictures, when one was given.
            ShellSetUserDataFolder(SkydomeGetOptions()->dataFolder.c_str());
            app = SkydomeApp{};
            // The menu's defaults: lens effect and data display on, the rest off.
            app.lensEffect = 1;
            app.displayData = 1;
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
            InputDeviceRegister(InputKeyboard, SkydomeKeyboard);
            InputDeviceRegister(InputMouse, ControlsMouse);
            return EventHandled;
        case EventInitialise:
            return Initialise(data);
        case EventCameraResize:
            CameraResizeRasters(app.camera, static_cast<ResizeRecord*>(data), ViewGetState()->viewWindow, kViewAspect);
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
