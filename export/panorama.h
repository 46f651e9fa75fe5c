// Equirectangular panoramas of the sky as files, for tools that light or
// surround a scene with an environment map (the pixels and their evaluation:
// sky/panorama_rows.h).
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
#include "sky/exposure.h"
#include "sky/panorama_rows.h"

namespace kv {

// An even width from kPanoramaMinWidth to kPanoramaMaxWidth.
bool PanoramaWidthValid(int32 width);

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

// PanoramaEvaluate, asking the stop function before each row.
bool PanoramaEvaluateUnlessStopped(Sky* sky, int32 width, PanoramaRowFn row, void* data);

// Blocks of rows of linear Rec. 709 RGB floats, for the files that hold
// light (EXR, .hdr): the sky model's colours turned into Rec. 709 and scaled
// to the file's unit a row at a time.
struct PanoramaLinearRows {
    const Sky* sky = nullptr;
    int32 width = 0;
    int32 height = 0;
    int32 capacity = 0;    // rows a block holds
    int32 first = 0;       // the picture's row the block starts at
    int32 held = 0;        // rows in the block
    float* rgb = nullptr;  // capacity x width x (red, green, blue)
    RGBAReal* scratch = nullptr;
};
// False when memory runs out.
bool PanoramaLinearRowsInit(PanoramaLinearRows* rows, const Sky* sky, int32 width, int32 capacity);
void PanoramaLinearRowsRelease(PanoramaLinearRows* rows);
// Adds the next row; true when the block is full or holds the last row.
bool PanoramaLinearRowsAdd(PanoramaLinearRows* rows, const RGBAReal* colours, double scale);
// Once the block is written: the next one starts empty after it.
void PanoramaLinearRowsNext(PanoramaLinearRows* rows);
// What a panorama file's writer is handed.
struct PanoramaJob {
    Sky* sky;
    int32 width;
};
// The safe write (export_file.h) of a panorama file of that sky and width,
// by the writer (handed a PanoramaJob); false with *message as
// PanoramaWrite's.
bool PanoramaWriteFile(Sky* sky, const char* path, int32 width, ExportWriterFn writer, std::string* message);

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

// Write the panorama of the sky to path. On failure nothing is left
// under path (an earlier file there stays as it was) and *message (may be
// null) names the file and the problem. The width must be even and within
// [kPanoramaMinWidth, kPanoramaMaxWidth].
bool PanoramaWritePNG(Sky* sky, const char* path, int32 width, float exposure, std::string* message);
bool PanoramaWriteEXR(Sky* sky, const char* path, int32 width, std::string* message);
bool PanoramaWriteHDR(Sky* sky, const char* path, int32 width, std::string* message);
// The format chosen by the extension.
bool PanoramaWrite(Sky* sky, const char* path, int32 width, float exposure, std::string* message);
// The same with a photographic exposure for PNG (sky/exposure.h); the float
// forms above are the exposure curve k.
bool PanoramaWritePNG(Sky* sky, const char* path, int32 width, const SkyPictureExposure& exposure,
                      std::string* message);
bool PanoramaWrite(Sky* sky, const char* path, int32 width, const SkyPictureExposure& exposure, std::string* message);

}  // namespace kv
