// The text the frame draws over the scene: the data display and the line
// that reports a save.
#include <cstdio>
#include <cstring>

#include "app/skydome/controls.h"
#include "app/skydome/dome.h"
#include "app/skydome/sky.h"
#include "app/skydome/skydome.h"
#include "engine/camera/camera.h"
#include "engine/image/raster.h"
#include "engine/image/charset.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"

namespace kv {

namespace {

// Each line is printed in the set's batch, spaces left out: the set's
// background is clear, so that looks as printing each line on its own does,
// in one draw and without memory taken per frame.
void Line(Raster* set, int32 x, int32 y, const char* format, double value) {
    char text[256];
    std::snprintf(text, sizeof text, format, value);
    CharsetPrintBuffered(set, text, x, y, false);
}

void LineInt(Raster* set, int32 x, int32 y, const char* format, int value) {
    char text[256];
    std::snprintf(text, sizeof text, format, value);
    CharsetPrintBuffered(set, text, x, y, false);
}

}  // namespace

void DataDisplay() {
    const SkydomeApp* app = SkydomeGetApp();
    Raster* set = app->charset;
    CharsetDesc desc{};
    if (set == nullptr || app->camera == nullptr || CharsetGetDesc(set, &desc) == nullptr) return;
    const Raster* raster = CameraGetRaster(app->camera);
    if (raster == nullptr) return;
    const int32 W = RasterGetWidth(raster), H = RasterGetHeight(raster);
    const int32 w = desc.width, h = desc.height;
    const SkyState* sky = SkyGetState();
    const ViewState* view = ViewGetState();

    Line(set, W - 130, h, "Sun ZD: %.1f", sky->sunTheta);
    Line(set, W - 130, 2 * h, "Sun AZ: %.1f", sky->sunPhi);
    if (DomeGetSettings()->preview != 0) {
        Line(set, W - 130, 4 * h, "Cam EL: %.1f", view->elevation);
        Line(set, W - 130, 5 * h, "Cam AZ: %.1f", view->azimuth);
        Line(set, W - 130, 6 * h, "Cam HF: %.1f", view->fieldOfView);
    }
    // The dome that exists, not the menu's resolution.
    Atomic* atomic = DomeGetAtomic();
    const Geometry* geometry = atomic != nullptr ? AtomicGetGeometry(atomic) : nullptr;
    const int vertices = geometry != nullptr ? GeometryGetNumVertices(geometry) : 0;
    const int triangles = geometry != nullptr ? GeometryGetNumTriangles(geometry) : 0;
    LineInt(set, W - 135, H - 2 * h - 20, " Vertices: %3d", vertices);
    LineInt(set, W - 135, H - h - 20, "Triangles: %3d", triangles);
    if (app->showFps != 0) {
        char text[256];
        const int length = std::snprintf(text, sizeof text, "FPS: %03d", static_cast<int>(app->framesPerSecond));
        CharsetPrintBuffered(set, text, (W - length * w) / 2, h, false);
    }
    CharsetFlush();
}

// Centred above the vertex count, clear of the logo and the data lines.
void StatusLineDraw(uint32 now) {
    const SkydomeApp* app = SkydomeGetApp();
    if (app->status[0] == '\0' || static_cast<int32>(app->statusUntil - now) <= 0) return;
    CharsetDesc desc{};
    if (app->charset == nullptr || app->camera == nullptr || CharsetGetDesc(app->charset, &desc) == nullptr) return;
    const Raster* raster = CameraGetRaster(app->camera);
    if (raster == nullptr) return;
    const int32 W = RasterGetWidth(raster), H = RasterGetHeight(raster);
    const auto length = static_cast<int32>(std::strlen(app->status));
    int32 x = (W - length * desc.width) / 2;
    if (x < 0) x = 0;
    CharsetPrintBuffered(app->charset, app->status, x, H - 3 * desc.height - 20, false);
    CharsetFlush();
}

}  // namespace kv
