#include "controls.h"

#include <cmath>

#include "app/skel/menu.h"
#include "app/skel/skeleton.h"
#include "app/skydome/dome.h"
#include "app/skydome/program_sky.h"
#include "engine/camera/camera.h"
#include "engine/frame/frame.h"
#include "sky/analytic_sky.h"

namespace kv {

namespace {

// pi / 360 in single precision: half the field of view in radians.
constexpr float kHalfDegree = 0.008726646f;
constexpr V3d kXAxis{1.0f, 0.0f, 0.0f};
constexpr V3d kYAxis{0.0f, 1.0f, 0.0f};

ViewState view{};

Frame* CameraFrame() { return view.camera != nullptr ? CameraGetFrame(view.camera) : nullptr; }
bool Preview() { return DomeGetSettings()->preview != 0; }

// Rotation about x by -elevation, then about y by azimuth, then the position.
void PreviewRotation(Matrix* m, float elevation, float azimuth) {
    MatrixRotate(m, &kXAxis, -elevation, CombineReplace);
    MatrixRotate(m, &kYAxis, azimuth, CombinePostConcat);
}

// The table of drags: the first one active takes the move.
bool Move(const MouseRecord* m) {
    const DragState& d = view.drag;
    if (d.orbitRotate) {
        CameraOrbitRotate(m->dx, -m->dy);
    } else if (d.orbitZoom) {
        CameraOrbitZoom(m->dy * -0.01f);
    } else if (d.sunDrag) {
        SkyMoveSun(m->dy * 0.1f, m->dx * (Preview() ? -0.1f : 0.1f));
    } else if (d.previewLook) {
        CameraPreviewLook(m->dy * -0.1f, m->dx * -0.1f);
    } else if (d.previewZoom) {
        CameraChangeFov(m->dy * -0.1f);
    } else {
        return false;
    }
    return true;
}

}  // namespace

ViewState* ViewGetState() { return &view; }

void ViewReset() {
    view = ViewState{};
    view.elevation = kViewDefaultElevation;
    view.azimuth = kViewDefaultAzimuth;
    view.fieldOfView = kViewOrbitFov;
    view.viewWindow = std::tan(view.fieldOfView * kHalfDegree);
    view.previewFieldOfView = kViewPreviewFov;
    MatrixSetIdentity(&view.orbitCamera);
    MatrixSetIdentity(&view.orbitDome);
    PreviewRotation(&view.previewCamera, view.elevation, view.azimuth);
    MatrixSetIdentity(&view.previewDome);
}

void ViewSetScene(Camera* camera, Frame* domeFrame) {
    view.camera = camera;
    view.domeFrame = domeFrame;
}

void ViewSetPreviewLook(float elevation, float azimuth) {
    if (Preview()) {
        CameraPreviewLook(elevation - view.elevation, azimuth - view.azimuth);
        return;
    }
    view.elevation = elevation;
    view.azimuth = azimuth;
    const V3d position = view.previewCamera.pos;
    PreviewRotation(&view.previewCamera, elevation, azimuth);
    view.previewCamera.pos = position;
    MatrixUpdate(&view.previewCamera);
}

void CameraOrbitRotate(float a, float b) {
    Frame* cameraFrame = CameraFrame();
    if (cameraFrame == nullptr || view.domeFrame == nullptr) return;
    const Matrix* c = FrameGetWorldMatrix(cameraFrame);
    const V3d right = c->right, up = c->up;
    const V3d p = FrameGetWorldMatrix(view.domeFrame)->pos;
    const V3d back = V3dNegate(p);
    FrameTranslate(view.domeFrame, &back, CombinePostConcat);
    FrameRotate(view.domeFrame, &up, a, CombinePostConcat);
    FrameRotate(view.domeFrame, &right, b, CombinePostConcat);
    FrameTranslate(view.domeFrame, &p, CombinePostConcat);
    DomeUpdateViewer();
}

void CameraOrbitZoom(float d) {
    Frame* cameraFrame = CameraFrame();
    if (cameraFrame == nullptr || view.domeFrame == nullptr) return;
    const V3d step = V3dScale(FrameGetWorldMatrix(cameraFrame)->at, d);
    FrameTranslate(view.domeFrame, &step, CombinePostConcat);
    DomeUpdateViewer();
}

void CameraPreviewLook(float deltaElevation, float deltaAzimuth) {
    view.elevation += deltaElevation;
    if (view.elevation > kViewMaxElevation) {
        view.elevation = kViewMaxElevation;
    } else if (view.elevation < -kViewMaxElevation) {
        view.elevation = -kViewMaxElevation;
    }
    view.azimuth += deltaAzimuth;
    if (view.azimuth >= 360.0f) {
        view.azimuth -= 360.0f;
    } else if (view.azimuth < 0.0f) {
        view.azimuth += 360.0f;
    }
    Frame* cameraFrame = CameraFrame();
    if (cameraFrame == nullptr) return;
    const V3d q = FrameGetWorldMatrix(cameraFrame)->pos;
    Matrix m;
    PreviewRotation(&m, view.elevation, view.azimuth);
    m.pos = q;
    MatrixUpdate(&m);
    FrameTransform(cameraFrame, &m, CombineReplace);
    DomeUpdateViewer();
}

void ViewApplyFov() {
    view.viewWindow = std::tan(view.fieldOfView * kHalfDegree);
    ShellEvent(EventCameraResize, nullptr);
}

void CameraChangeFov(float delta) {
    view.fieldOfView += delta;
    if (view.fieldOfView < kViewMinFov) {
        view.fieldOfView = kViewMinFov;
    } else if (view.fieldOfView > kViewMaxFov) {
        view.fieldOfView = kViewMaxFov;
    }
    ViewApplyFov();
}

void ViewPreviewSwitch() {
    Frame* cameraFrame = CameraFrame();
    if (cameraFrame == nullptr || view.domeFrame == nullptr) return;
    DomeInvert();
    if (Preview()) {
        view.orbitCamera = *FrameGetWorldMatrix(cameraFrame);
        view.orbitDome = *FrameGetWorldMatrix(view.domeFrame);
        FrameTransform(cameraFrame, &view.previewCamera, CombineReplace);
        FrameTransform(view.domeFrame, &view.previewDome, CombineReplace);
        view.fieldOfView = view.previewFieldOfView;
    } else {
        view.previewCamera = *FrameGetWorldMatrix(cameraFrame);
        view.previewDome = *FrameGetWorldMatrix(view.domeFrame);
        view.previewFieldOfView = view.fieldOfView;
        FrameTransform(cameraFrame, &view.orbitCamera, CombineReplace);
        FrameTransform(view.domeFrame, &view.orbitDome, CombineReplace);
        view.fieldOfView = kViewOrbitFov;
    }
    ViewApplyFov();
    DomeUpdateViewer();
    view.spin = 0;
}

void ViewRememberHome() {
    Frame* cameraFrame = CameraFrame();
    if (cameraFrame == nullptr || view.domeFrame == nullptr) return;
    ViewHome& h = view.home;
    h.elevation = view.elevation;
    h.azimuth = view.azimuth;
    if (Preview()) {
        // The orbit view waits in its stored matrices; it comes back at its
        // own field of view.
        h.orbitCamera = view.orbitCamera;
        h.orbitDome = view.orbitDome;
        h.orbitFieldOfView = kViewOrbitFov;
        h.previewFieldOfView = view.fieldOfView;
    } else {
        h.orbitCamera = *FrameGetWorldMatrix(cameraFrame);
        h.orbitDome = *FrameGetWorldMatrix(view.domeFrame);
        h.orbitFieldOfView = view.fieldOfView;
        h.previewFieldOfView = view.previewFieldOfView;
    }
}

void ViewGoHome() {
    Frame* cameraFrame = CameraFrame();
    if (cameraFrame == nullptr || view.domeFrame == nullptr) return;
    const ViewHome& h = view.home;
    view.orbitCamera = h.orbitCamera;
    view.orbitDome = h.orbitDome;
    view.elevation = h.elevation;
    view.azimuth = h.azimuth;
    PreviewRotation(&view.previewCamera, h.elevation, h.azimuth);
    MatrixSetIdentity(&view.previewDome);
    view.previewFieldOfView = h.previewFieldOfView;
    if (Preview()) {
        FrameTransform(cameraFrame, &view.previewCamera, CombineReplace);
        FrameTransform(view.domeFrame, &view.previewDome, CombineReplace);
        view.fieldOfView = h.previewFieldOfView;
    } else {
        FrameTransform(cameraFrame, &view.orbitCamera, CombineReplace);
        FrameTransform(view.domeFrame, &view.orbitDome, CombineReplace);
        view.fieldOfView = h.orbitFieldOfView;
    }
    ViewApplyFov();
    DomeUpdateViewer();
}

void ViewSpin(uint32 elapsed) {
    if (view.spin == 0) return;
    CameraPreviewLook(0.0f, static_cast<float>(elapsed) * 0.001f * kViewSpinRate);
}

int32 ControlsKeyboard(int32 event, void* data) {
    const auto* key = static_cast<const KeyboardRecord*>(data);
    // Control is followed whoever takes its key: the help page takes every
    // key, and a Control released there must not stay held for the drags.
    const bool control = key != nullptr && (key->keyCode == KeyLCtrl || key->keyCode == KeyRCtrl);
    if (control && (event == EventKeyDown || event == EventKeyUp)) view.drag.control = event == EventKeyDown;
    const int32 menu = MenuKeyboard(event, data);
    if (menu != EventNotHandled) return menu;
    if (key != nullptr && key->keyCode == KeyHome) {
        if (event == EventKeyDown) ViewGoHome();
        return EventHandled;
    }
    return control ? EventHandled : EventNotHandled;
}

int32 ControlsMouse(int32 event, void* data) {
    const int32 menu = MenuMouse(event, data);
    if (menu != EventNotHandled) return menu;
    DragState& d = view.drag;
    switch (event) {
        case EventLeftButtonDown:
            if (d.control) {
                d.sunDrag = true;
            } else if (Preview()) {
                d.previewLook = true;
            } else {
                d.orbitRotate = true;
            }
            return EventHandled;
        case EventLeftButtonUp:
            d.sunDrag = d.previewLook = d.orbitRotate = false;
            return EventHandled;
        case EventRightButtonDown:
            if (Preview()) {
                d.previewZoom = true;
            } else {
                d.orbitZoom = true;
            }
            return EventHandled;
        case EventRightButtonUp:
            d.previewZoom = d.orbitZoom = false;
            return EventHandled;
        case EventMouseMove:
            return data != nullptr && Move(static_cast<const MouseRecord*>(data)) ? EventHandled : EventNotHandled;
        default:
            return EventNotHandled;
    }
}

}  // namespace kv
