// Equirectangular panoramas of the sky, for tools that light or surround a
// scene with an environment map: width x width/2 pixels, every pixel coloured
// by the sky model in use (sky_model.h) for its own direction.
//
// Mapping: the top row looks at the zenith, the middle of the image at the
// horizon. Columns run with the compass: the image's centre looks north, a
// quarter in from the right edge east, the left and right edges south, so
// that the image runs to the right as a viewer inside turns right (clockwise
// seen from above), as environment maps are read. In the program's azimuth
// (from +z towards +x, +z north, +x west): centre 0, a quarter from the left
// edge 90, the edges 180, a quarter from the right edge 270. Pixel (x, y)
// looks at its centre: zenith angle (y + 0.5) * 180 / height degrees, compass
// azimuth (x + 0.5) * 360 / width - 180. Past the horizon the ground shows
// (Lambertian, lit by the sun and the sky). The sun's disc adds its radiance
// to each pixel in proportion to the part of the pixel it covers, so that the
// picture holds the sun's light whatever its size.
#pragma once

#include <string>
#include <vector>

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "export/export_file.h"

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

// The solid angle (sr) of a pixel of row y.
double PanoramaPixelSolidAngle(int32 width, int32 y);

// The pixels the sun's disc covers for the current sun, and the part of each
// it covers: cover * the pixel's solid angle summed over them is the disc's
// solid angle, less what the ground hides.
struct PanoramaSunPixel {
    int32 x;
    int32 y;
    double cover;
};
std::vector<PanoramaSunPixel> PanoramaSunPixels(int32 width);

// The night's bodies the panorama adds to the sky: points of light (stars,
// planets) and the moon's disc, lit on the side that faces the sun. Each
// keeps its flux: a point's falls on the pixel it lands on, the moon's is
// spread over the pixels its lit part covers in proportion to the part of
// each it covers; what lies past the horizon is hidden. Directions as
// PanoramaPixelAngles gives them (zenith angle, the program's azimuth,
// radians); flux in the model's RGB times steradians (klux for the
// physical sky), as it arrives through the atmosphere.
struct PanoramaPoint {
    double theta = 0.0;
    double phi = 0.0;
    RGBAReal flux{};
};
struct PanoramaMoon {
    bool shown = false;
    double theta = 0.0;
    double phi = 0.0;
    double radius = 0.0;                              // angular radius, radians
    double toSunX = 0.0, toSunY = 0.0, toSunZ = 0.0;  // unit vector from the moon to the sun (x west, y up, z north)
    RGBAReal flux{};
};
// Kept until changed: every panorama after it shows them. No points and a
// moon not shown (the default) add nothing.
void PanoramaSetBodies(const std::vector<PanoramaPoint>& points, const PanoramaMoon& moon);
// The radiance each body adds to the pixels it lands on, at that width.
struct PanoramaBodyPixel {
    int32 x;
    int32 y;
    RGBAReal radiance;
};
std::vector<PanoramaBodyPixel> PanoramaBodyPixels(int32 width);

// Linear colours in the sky model's RGB (sky_model.h) for the current sun,
// the sun's disc and the bodies above included, one row at a time from the top down, evaluated on
// two threads. The row function returns false to stop. False when memory
// runs out, the row function stopped or the stop function said to stop.
using PanoramaRowFn = bool (*)(int32 y, const RGBAReal* colours, int32 width, void* data);
bool PanoramaEvaluate(int32 width, PanoramaRowFn row, void* data);

// Blocks of rows of linear Rec. 709 RGB floats, for the files that hold
// light (EXR, .hdr): the sky model's colours turned into Rec. 709 and scaled
// to the file's unit a row at a time.
struct PanoramaLinearRows {
    int32 width = 0;
    int32 height = 0;
    int32 capacity = 0;    // rows a block holds
    int32 first = 0;       // the picture's row the block starts at
    int32 held = 0;        // rows in the block
    float* rgb = nullptr;  // capacity x width x (red, green, blue)
    RGBAReal* scratch = nullptr;
};
// False when memory runs out.
bool PanoramaLinearRowsInit(PanoramaLinearRows* rows, int32 width, int32 capacity);
void PanoramaLinearRowsRelease(PanoramaLinearRows* rows);
// Adds the next row; true when the block is full or holds the last row.
bool PanoramaLinearRowsAdd(PanoramaLinearRows* rows, const RGBAReal* colours, double scale);
// Once the block is written: the next one starts empty after it.
void PanoramaLinearRowsNext(PanoramaLinearRows* rows);
// The safe write (export_file.h) of a panorama file of that width, by the
// writer (handed a pointer to the width); false with *message as
// PanoramaWrite's.
bool PanoramaWriteFile(const char* path, int32 width, ExportWriterFn writer, std::string* message);

enum PanoramaFormat : int32 {
    PanoramaFormatNone = 0,
    PanoramaFormatPNG = 1,  // the tone-mapped bytes the program shows
    PanoramaFormatEXR = 2,  // 32-bit float linear Rec. 709 RGB, 1 = kPanoramaExrWhiteLuminance cd/m^2
    PanoramaFormatHDR = 3,  // Radiance RGBE, linear Rec. 709, 1 = kPanoramaHdrUnit cd/m^2
};
// By the file name's extension, ".png", ".exr" or ".hdr" in any case.
PanoramaFormat PanoramaFormatOf(const char* path);

// The luminance (cd/m^2) of (1, 1, 1) in the EXR: the models' kcd/m^2.
constexpr double kPanoramaExrWhiteLuminance = 1000.0;
// The luminance (cd/m^2) of (1, 1, 1) in the Radiance file: its own
// convention, radiance in W sr^-1 m^-2 at 179 lm/W (Ward Larson and
// Shakespeare 1998, "Rendering with Radiance").
constexpr double kPanoramaHdrUnit = 179.0;

// Write the panorama of the current sky to path. On failure nothing is left
// under path (an earlier file there stays as it was) and *message (may be
// null) names the file and the problem. The width must be even and within
// [kPanoramaMinWidth, kPanoramaMaxWidth].
bool PanoramaWritePNG(const char* path, int32 width, float exposure, std::string* message);
bool PanoramaWriteEXR(const char* path, int32 width, std::string* message);
bool PanoramaWriteHDR(const char* path, int32 width, std::string* message);
// The format chosen by the extension.
bool PanoramaWrite(const char* path, int32 width, float exposure, std::string* message);

}  // namespace kv
