// Equirectangular panoramas of the sky, for tools that light or surround a
// scene with an environment map: width x width/2 pixels, every pixel coloured
// by the sky model for its own direction.
//
// Mapping: the top row looks at the zenith, the middle of the image at the
// horizon. Columns run with the compass: the image's centre looks north, a
// quarter in from the right edge east, the left and right edges south, so
// that the image runs to the right as a viewer inside turns right (clockwise
// seen from above), as environment maps are read. In the program's azimuth
// (from +z towards +x, +z north, +x west): centre 0, a quarter from the left
// edge 90, the edges 180, a quarter from the right edge 270. Pixel (x, y)
// looks at its centre: zenith angle (y + 0.5) * 180 / height degrees, compass
// azimuth (x + 0.5) * 360 / width - 180. Rows whose centre lies at or below
// the horizon repeat the last row above it.
#pragma once

#include <string>

#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

constexpr int32 kPanoramaDefaultWidth = 2048;
constexpr int32 kPanoramaMinWidth = 16;
constexpr int32 kPanoramaMaxWidth = 8192;

// An even width from kPanoramaMinWidth to kPanoramaMaxWidth.
bool PanoramaWidthValid(int32 width);
inline int32 PanoramaHeight(int32 width) { return width / 2; }
// Rows 0 up to this one (excluded) look above the horizon.
inline int32 PanoramaSkyRows(int32 width) { return PanoramaHeight(width) / 2; }

// The direction pixel (x, y) looks at, as SkyColor takes it: zenith angle and
// the program's azimuth in [0, 2 pi), radians (degrees times kSkyDegToRad).
void PanoramaPixelAngles(int32 width, int32 x, int32 y, double* theta, double* phi);

// Asked before each row of a panorama: null to go on, or why it stops
// ("interrupted by SIGTERM"). The largest panorama takes seconds; a run asked
// to quit does not wait for it. No function (the default) never stops.
using PanoramaStopFn = const char* (*)();
void PanoramaSetStop(PanoramaStopFn stop);
// Asks the stop function now (for work outside PanoramaEvaluate's rows);
// true when it says stop.
bool PanoramaStopAsked();
// Why the last panorama stopped early; null when nothing stopped it.
const char* PanoramaStopReason();

// Linear sky colours (as SkyColor gives them, bit for bit) for the current
// sky state's sun, one row at a time from the top down to the last row above
// the horizon. The row function returns false to stop. False when memory runs
// out, the row function stopped or the stop function said to stop.
using PanoramaRowFn = bool (*)(int32 y, const RGBAReal* colours, int32 width, void* data);
bool PanoramaEvaluate(int32 width, PanoramaRowFn row, void* data);

enum PanoramaFormat : int32 {
    PanoramaFormatNone = 0,
    PanoramaFormatPNG = 1,  // the tone-mapped bytes the program shows
    PanoramaFormatEXR = 2,  // half-float linear RGB, before tone mapping
};
// By the file name's extension, ".png" or ".exr" in any case.
PanoramaFormat PanoramaFormatOf(const char* path);

// Write the panorama of the current sky to path. On failure nothing is left
// under path (an earlier file there stays as it was) and *message (may be
// null) names the file and the problem. The width must be even and within
// [kPanoramaMinWidth, kPanoramaMaxWidth].
bool PanoramaWritePNG(const char* path, int32 width, float exposure, std::string* message);
bool PanoramaWriteEXR(const char* path, int32 width, std::string* message);
// The format chosen by the extension.
bool PanoramaWrite(const char* path, int32 width, float exposure, std::string* message);

}  // namespace kv
