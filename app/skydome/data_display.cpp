// The text the frame draws over the scene: the data display and the line
// that reports a save, each block on a panel of its own.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/skel/text_panel.h"
#include "app/skydome/controls.h"
#include "app/skydome/dome.h"
#include "app/skydome/program_sky.h"
#include "app/skydome/skydome.h"
#include "app/skydome/workshop.h"
#include "engine/camera/camera.h"
#include "engine/image/charset.h"
#include "engine/image/raster.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "sky/analytic_sky.h"
#include "sky/ephemeris.h"
#include "sky/moon.h"

namespace kv {

namespace {

// The top-right lines start 130 pixels from the right edge; the compass
// bearings go on lines of their own below them, a row apart, so that the
// lines above keep their places. A block is at least this many characters
// wide, so that its panel keeps its size as the numbers change.
constexpr int32 kDataLeft = 130;
constexpr int32 kDataColumns = 16;
constexpr int32 kCompassRow = 8;

// The compass reading of an azimuth: the program's azimuth runs from +z
// (north) towards +x (west), the compass's from north towards east. Taken
// from the value as shown, so the two lines agree to the digit.
double Compass(float azimuth) {
    const double shown = std::round(static_cast<double>(azimuth) * 10.0) / 10.0;
    double c = std::fmod(360.0 - shown, 360.0);
    if (c < 0.0) c += 360.0;
    return c;
}

// A block of lines at one place; each line is printed in the set's batch,
// spaces left out, over one panel for the block.
struct TextBlock {
    // The first line's top-left, the row height, and the panel's least width
    // in characters (so that it keeps its size as the numbers change).
    TextBlock(int32 left, int32 top, int32 rowHeight, int32 columns) : x(left), y(top), h(rowHeight), widest(columns) {}

    int32 x, y, h;
    int32 widest;
    char lines[8][256] = {};
    int32 rowOf[8] = {};
    int32 count = 0;

    template <typename... Values>
    void Add(int32 row, const char* format, Values... values) {
        if (count == 8) return;
        const int n = std::snprintf(lines[count], sizeof lines[count], format, values...);
        if (n > widest) widest = n;
        rowOf[count++] = row;
    }
    void Draw(Raster* set, int32 w) const {
        if (count == 0) return;
        const int32 rows = rowOf[count - 1] - rowOf[0] + 1;
        TextPanelAround(x, y + rowOf[0] * h, widest, rows, w, h);
        for (int32 i = 0; i < count; ++i) CharsetPrintBuffered(set, lines[i], x, y + rowOf[i] * h, false);
    }
};

// The moon of the place and moment the window shows, worked out again only
// when they change (the display is drawn every frame).
const MoonView& MoonAt(const PlaceTime& place, const SolarTime& t) {
    static MoonView moon;
    static double lastDay = -1.0, lastLatitude = 0.0, lastLongitude = 0.0;
    static float lastAltitude = 0.0f;
    const double day = SolarJulianDay(t);
    const double latitude = PlaceTimeLatitude(place), longitude = PlaceTimeLongitude(place);
    const float altitude = SkyModelAltitude();
    if (day != lastDay || latitude != lastLatitude || longitude != lastLongitude || altitude != lastAltitude) {
        moon = MoonObserve(SkyMomentAt(day), SkyPlace{latitude, longitude, static_cast<double>(altitude)});
        lastDay = day;
        lastLatitude = latitude;
        lastLongitude = longitude;
        lastAltitude = altitude;
    }
    return moon;
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

    const int32 left = W - kDataLeft;
    TextBlock angles(left, h, h, kDataColumns);
    angles.Add(0, "Sun ZD: %.1f", static_cast<double>(sky->sunTheta));
    angles.Add(1, "Sun AZ: %.1f", static_cast<double>(sky->sunPhi));
    const bool preview = DomeGetSettings()->preview != 0;
    // The photographic exposure in use (metered, or fixed by --ev).
    if (DomeGetSettings()->autoExposure != 0) angles.Add(2, "EV100: %.1f", DomeExposureEV());
    if (preview) {
        angles.Add(3, "Cam EL: %.1f", static_cast<double>(view->elevation));
        angles.Add(4, "Cam AZ: %.1f", static_cast<double>(view->azimuth));
        angles.Add(5, "Cam HF: %.1f", static_cast<double>(view->fieldOfView));
    }
    TextBlock compass(left, kCompassRow * h, h, kDataColumns);
    compass.Add(0, "%s", "Compass bearings");
    compass.Add(1, "Sun: %.1f", Compass(sky->sunPhi));
    if (preview) compass.Add(2, "Cam: %.1f", Compass(view->azimuth));
    // The local clock of the place the sun follows.
    const PlaceTime* place = WorkshopGetPlace();
    TextBlock local(left, (kCompassRow + 4) * h, h, kDataColumns);
    if (place->on != 0) {
        const SolarTime t = PlaceTimeMoment(*place);
        const int32 offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
        local.Add(0, "Date: %04d-%02d-%02d", static_cast<int>(t.year), static_cast<int>(t.month),
                  static_cast<int>(t.day));
        local.Add(1, "Time: %02d:%02d", static_cast<int>(t.hour), static_cast<int>(t.minute));
        local.Add(2, "Zone: UTC%c%02d:%02d", t.offsetMinutes < 0 ? '-' : '+', static_cast<int>(offset / 60),
                  static_cast<int>(offset % 60));
        const MoonView& moon = MoonAt(*place, t);
        local.Add(3, "Moon EL: %.1f", moon.horizontal.altitude);
        local.Add(4, "Moon: %d%% %s", static_cast<int>(std::lround(moon.illuminatedFraction * 100.0)),
                  moon.waxing ? "waxing" : "waning");
    }
    // The dome that exists, not the menu's resolution.
    Atomic* atomic = DomeGetAtomic();
    const Geometry* geometry = atomic != nullptr ? AtomicGetGeometry(atomic) : nullptr;
    const int vertices = geometry != nullptr ? GeometryGetNumVertices(geometry) : 0;
    const int triangles = geometry != nullptr ? GeometryGetNumTriangles(geometry) : 0;
    TextBlock counts(W - 135, H - 2 * h - 20, h, 0);
    counts.Add(0, " Vertices: %3d", vertices);
    counts.Add(1, "Triangles: %3d", triangles);
    angles.Draw(set, w);
    compass.Draw(set, w);
    local.Draw(set, w);
    counts.Draw(set, w);
    if (app->showFps != 0) {
        char text[32];
        const int length = std::snprintf(text, sizeof text, "FPS: %03d", static_cast<int>(app->framesPerSecond));
        const int32 x = (W - length * w) / 2;
        TextPanelAround(x, h, length, 1, w, h);
        CharsetPrintBuffered(set, text, x, h, false);
    }
    CharsetFlush();
}

// Centred above the vertex count, clear of the logo and the data lines; a
// status of several lines grows upwards.
void StatusLineDraw(uint32 now) {
    const SkydomeApp* app = SkydomeGetApp();
    if (app->status[0] == '\0' || static_cast<int32>(app->statusUntil - now) <= 0) return;
    CharsetDesc desc{};
    if (app->charset == nullptr || app->camera == nullptr || CharsetGetDesc(app->charset, &desc) == nullptr) return;
    const Raster* raster = CameraGetRaster(app->camera);
    if (raster == nullptr) return;
    const int32 W = RasterGetWidth(raster), H = RasterGetHeight(raster);
    char lines[8][128] = {};
    int32 count = 0;
    for (const char* at = app->status; count < 8;) {
        const char* end = std::strchr(at, '\n');
        const std::size_t n = end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
        std::snprintf(lines[count++], sizeof lines[0], "%.*s", static_cast<int>(n), at);
        if (end == nullptr) break;
        at = end + 1;
    }
    for (int32 i = 0; i < count; ++i) {
        const auto length = static_cast<int32>(std::strlen(lines[i]));
        int32 x = (W - length * desc.width) / 2;
        if (x < 0) x = 0;
        const int32 y = H - (3 + count - 1 - i) * desc.height - 20;
        TextPanelAround(x, y, length, 1, desc.width, desc.height);
        CharsetPrintBuffered(app->charset, lines[i], x, y, false);
    }
    CharsetFlush();
}

}  // namespace kv
