// A panorama's pixels and their evaluation: which direction each pixel of an
// equirectangular panorama looks at, and the sky's colours row by row, the
// sun's disc included, on two threads.
//
// Width x width/2 pixels, every pixel coloured by the sky model (sky_model.h)
// for its own direction.
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

#include <vector>

#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

struct Sky;

constexpr int32 kPanoramaDefaultWidth = 2048;
constexpr int32 kPanoramaMinWidth = 16;
constexpr int32 kPanoramaMaxWidth = 8192;

inline int32 PanoramaHeight(int32 width) { return width / 2; }
// Rows 0 up to this one (excluded) look above the horizon.
inline int32 PanoramaSkyRows(int32 width) { return PanoramaHeight(width) / 2; }

// The direction pixel (x, y) looks at, as SkyColor takes it: zenith angle and
// the program's azimuth in [0, 2 pi), radians (degrees times kSkyDegToRad).
void PanoramaPixelAngles(int32 width, int32 x, int32 y, double* theta, double* phi);

// The solid angle (sr) of a pixel of row y.
double PanoramaPixelSolidAngle(int32 width, int32 y);

// The pixels the sun's disc covers for the sky's sun, and the part of each
// it covers: cover * the pixel's solid angle summed over them is the disc's
// solid angle, less what the ground hides.
struct PanoramaSunPixel {
    int32 x;
    int32 y;
    double cover;
};
std::vector<PanoramaSunPixel> PanoramaSunPixels(const Sky* sky, int32 width);

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
struct PanoramaBodies {
    std::vector<PanoramaPoint> points;
    PanoramaMoon moon;
};
// Kept with the sky until changed: every panorama of it after this shows
// them. No points and a moon not shown (a new sky's) add nothing.
void PanoramaSetBodies(Sky* sky, const std::vector<PanoramaPoint>& points, const PanoramaMoon& moon);
// The radiance each body adds to the pixels it lands on, at that width.
struct PanoramaBodyPixel {
    int32 x;
    int32 y;
    RGBAReal radiance;
};
std::vector<PanoramaBodyPixel> PanoramaBodyPixels(const Sky* sky, int32 width);

// Linear colours in the sky model's RGB (sky_model.h) for the sky's sun,
// the sun's disc and the night's bodies included, one row at a time from the top down, evaluated on
// two threads. The row function returns false to stop. False when memory
// runs out or the row function stopped.
using PanoramaRowFn = bool (*)(int32 y, const RGBAReal* colours, int32 width, void* data);
bool PanoramaEvaluate(Sky* sky, int32 width, PanoramaRowFn row, void* data);

// The threads the calling thread's panoramas are evaluated on from now on: 1
// (a caller that runs one panorama per core, such as a cluster's worker) or
// 2, the default (0 restores it).
void PanoramaSetThreads(int32 threads);

}  // namespace kv
