// The two views and the mouse. In the orbit view the camera sits at the
// origin looking along +z at the dome in front of it; in the preview it sits
// at the dome's centre (the dome turned inside out) and looks round by
// elevation and azimuth. Drags turn and push the dome, look round, zoom and
// move the sun; the camera spin turns the preview camera.
#pragma once

#include "engine/core/types.h"
#include "engine/math/matrix.h"

namespace kv {

struct Camera;
struct Frame;

constexpr float kViewMaxElevation = 89.9f;
constexpr float kViewMinFov = 1.0f;
constexpr float kViewMaxFov = 179.0f;
constexpr float kViewOrbitFov = 45.0f;
constexpr float kViewPreviewFov = 90.0f;
constexpr float kViewDefaultElevation = 25.0f;
constexpr float kViewDefaultAzimuth = 345.0f;
// Degrees per second of the camera spin.
constexpr float kViewSpinRate = 15.0f;
// The window's shape the view window keeps.
constexpr float kViewAspect = 1.3333334f;

// Which gesture a held button makes (off until its button goes down).
struct DragState {
    bool control;      // a Control key is held
    bool sunDrag;      // left button with Control
    bool previewLook;  // left button in the preview
    bool orbitRotate;  // left button in the orbit view
    bool previewZoom;  // right button in the preview
    bool orbitZoom;    // right button in the orbit view
};

// The views as the program started: what Home brings back.
struct ViewHome {
    Matrix orbitCamera, orbitDome;
    float orbitFieldOfView;
    float elevation, azimuth;  // the preview camera's
    float previewFieldOfView;
};

struct ViewState {
    float elevation;    // preview camera, degrees in [-89.9, 89.9]
    float azimuth;      // degrees in [0, 360)
    float fieldOfView;  // degrees in [1, 179], of the view shown
    float viewWindow;   // tan(fieldOfView / 2)
    // Each view's camera and dome matrices and field of view, kept while the
    // other view is shown.
    Matrix orbitCamera, orbitDome;
    Matrix previewCamera, previewDome;
    float previewFieldOfView;
    int32 spin;  // "Camera spin_C"
    DragState drag;
    ViewHome home;
    Camera* camera;
    Frame* domeFrame;
};
ViewState* ViewGetState();

// The defaults: orbit field of view, preview camera turned down 25 degrees
// and round 345 at the dome's centre, identity preview dome, no drag.
void ViewReset();
// The camera (its frame is the viewer) and the dome's frame the views move.
void ViewSetScene(Camera* camera, Frame* domeFrame);

// Sets the preview camera's angles; the camera takes them now in the
// preview, else when the preview is entered.
void ViewSetPreviewLook(float elevation, float azimuth);
// Turns the dome about its own origin: a degrees about the camera's up
// vector, then b degrees about its right vector.
void CameraOrbitRotate(float a, float b);
// Moves the dome d along the camera's viewing direction.
void CameraOrbitZoom(float d);
// Turns the preview camera in place; elevation stops at +-89.9, azimuth wraps.
void CameraPreviewLook(float deltaElevation, float deltaAzimuth);
// Widens the field of view (stops at 1 and 179) and resizes the camera for it.
void CameraChangeFov(float delta);
// Sets the view window for the field of view and raises EventCameraResize.
void ViewApplyFov();
// After "Preview_P" flipped: turns the dome inside out, swaps in the other
// view's matrices and field of view, stops the spin.
void ViewPreviewSwitch();
// Takes the views as they are (at the end of start-up) as the ones Home
// brings back.
void ViewRememberHome();
// Home: both views' cameras, the dome's turn and place, and the fields of
// view as they were at start-up. The sun and the exposure stay.
void ViewGoHome();
// The camera spin for milliseconds since the previous frame.
void ViewSpin(uint32 elapsed);

// The input handlers: the menu sees every event first; Home is the views'.
int32 ControlsKeyboard(int32 event, void* data);
int32 ControlsMouse(int32 event, void* data);

}  // namespace kv
