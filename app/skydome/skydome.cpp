// The sky-dome creator's answers to the skeleton's events.
#include <cmath>
#include <cstdio>
#include <string>

#include "app/skel/camhelp.h"
#include "app/skel/skeleton.h"
#include "app/skydome/options.h"
#include "engine/camera/bacamera.h"
#include "engine/core/badevice.h"
#include "engine/image/ktpngw.h"
#include "engine/opengl/basdlogl.h"

namespace kv {

namespace {

constexpr float kAspect = 1.3333334f;
// pi rounded to single precision first, as every angle of the program is.
constexpr float kPi = 3.14159265358979f;
constexpr RGBA kOrbitClearColour = {64, 64, 64, 0};

struct AppState {
    Camera* camera;
    float fieldOfView;  // degrees
    float viewWindow;
    long framesDrawn;
};
AppState app = {nullptr, 45.0f, 0.0f, 0};

int32 Fail(const char* message) {
    PlatformErrorMessage(message);
    return EventFailed;
}

int32 Initialise(void* window) {
    if (ShellDefaultEvent(EventInitialise, window) != EventHandled) return Fail("Error initializing Kelvane.");
    const ShellSettings* s = ShellGetSettings();
    app.camera = CameraCreateWithRasters(s->width, s->height, true);
    if (app.camera == nullptr) return Fail("Cannot create camera.");
    CameraSetNearClipPlane(app.camera, 0.1f);
    CameraSetFarClipPlane(app.camera, 30.0f);
    FrameSetIdentity(CameraGetFrame(app.camera));
    app.viewWindow = std::tan(app.fieldOfView * kPi / 360.0f);
    ShellEvent(EventCameraResize, nullptr);
    return EventHandled;
}

void Terminate() {
    if (app.camera != nullptr) CameraDestroyWithRasters(app.camera);
    app.camera = nullptr;
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
        RenderStateSet(StateShadeMode, 2);
        RenderStateSet(StateZTestEnable, 1);
        RenderStateSet(StateZWriteEnable, 1);
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
            app = AppState{nullptr, 45.0f, 0.0f, 0};
            ShellSettings* s = ShellGetSettings();
            if (s->width == 0) s->width = 640;
            if (s->height == 0) s->height = 480;
            s->title = "KV3 Skydome Creator";
            s->maxFrameRate = 100;
            return EventHandled;
        }
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
            return ShellDefaultEvent(EventTerminate, nullptr);
        default:
            return EventNotHandled;
    }
}

}  // namespace kv
