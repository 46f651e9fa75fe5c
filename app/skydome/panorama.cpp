#include "panorama.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstring>

#include "app/skydome/export_file.h"
#include "app/skydome/sky.h"
#include "app/skydome/sky_colours.h"
#include "engine/core/memory.h"
#include "engine/image/image.h"
#include "engine/image/png_write.h"
#include "engine/stream/safe_write.h"

namespace kv {

namespace {

PanoramaStopFn stopFn = nullptr;
const char* stopReason = nullptr;

struct Buffers {
    SkyColorCache cache{};
    double* phi = nullptr;
    RGBAReal* colours = nullptr;
    ~Buffers() {
        SkyColorCacheRelease(&cache);
        if (phi != nullptr) KvFree(phi);
        if (colours != nullptr) KvFree(colours);
    }
};

bool EndsWith(const char* path, const char* extension) {
    const std::size_t n = std::strlen(path);
    const std::size_t e = std::strlen(extension);
    return n > e && strcasecmp(path + n - e, extension) == 0;
}

struct PngRows {
    Image* image;
    float exposure;
};

bool ToneMapRow(int32 y, const RGBAReal* colours, int32 width, void* data) {
    auto* png = static_cast<PngRows*>(data);
    auto* row = reinterpret_cast<RGBA*>(ImageGetPixels(png->image) +
                                        static_cast<std::ptrdiff_t>(y) * ImageGetStride(png->image));
    SkyToneMapColors(colours, row, width, png->exposure);
    return true;
}

}  // namespace

void PanoramaPixelAngles(int32 width, int32 x, int32 y, double* theta, double* phi) {
    const int32 height = PanoramaHeight(width);
    *theta = (y + 0.5) * 180.0 / height * kSkyDegToRad;
    // Compass azimuth (x + 0.5) * 360 / width - 180; the program's is 360 less it.
    double degrees = 180.0 - (x + 0.5) * 360.0 / width;
    if (degrees < 0.0) degrees += 360.0;
    *phi = degrees * kSkyDegToRad;
}

void PanoramaSetStop(PanoramaStopFn stop) { stopFn = stop; }

bool PanoramaStopAsked() { return stopFn != nullptr && (stopReason = stopFn()) != nullptr; }

const char* PanoramaStopReason() { return stopReason; }

bool PanoramaEvaluate(int32 width, PanoramaRowFn row, void* data) {
    stopReason = nullptr;
    if (width < 1) return false;
    Buffers b;
    b.phi = static_cast<double*>(KvMalloc(sizeof(double) * static_cast<std::size_t>(width)));
    b.colours = static_cast<RGBAReal*>(KvMalloc(sizeof(RGBAReal) * static_cast<std::size_t>(width)));
    if (b.phi == nullptr || b.colours == nullptr) return false;
    double theta = 0.0;
    for (int32 x = 0; x < width; ++x) PanoramaPixelAngles(width, x, 0, &theta, &b.phi[x]);
    if (!SkyColorCacheSetAzimuths(&b.cache, b.phi, width)) return false;
    const SkyState* sky = SkyGetState();
    const double thetaS = sky->sunTheta * kSkyDegToRad;
    const double phiS = sky->sunPhi * kSkyDegToRad;
    for (int32 y = 0; y < PanoramaSkyRows(width); ++y) {
        if (PanoramaStopAsked()) return false;
        double phi = 0.0;
        PanoramaPixelAngles(width, 0, y, &theta, &phi);
        SkyColorCacheSetZenith(&b.cache, theta);
        SkyColorCacheCompute(&b.cache, thetaS, phiS, b.colours);
        if (!row(y, b.colours, width, data)) return false;
    }
    return true;
}

PanoramaFormat PanoramaFormatOf(const char* path) {
    if (path == nullptr) return PanoramaFormatNone;
    if (EndsWith(path, ".png")) return PanoramaFormatPNG;
    if (EndsWith(path, ".exr")) return PanoramaFormatEXR;
    return PanoramaFormatNone;
}

bool PanoramaWidthValid(int32 width) {
    return width >= kPanoramaMinWidth && width <= kPanoramaMaxWidth && width % 2 == 0;
}

bool PanoramaWritePNG(const char* path, int32 width, float exposure, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    auto fail = [&](const std::string& why) {
        if (message != nullptr) *message = "Cannot write the panorama to " + target + ": " + why + ".";
        return false;
    };
    if (target.empty()) return fail("no file name");
    if (!PanoramaWidthValid(width)) return fail("the width is not an even number from 16 to 8192");
    const int32 height = PanoramaHeight(width);
    Image* image = ImageCreate(width, height, 32);
    if (image == nullptr || ImageAllocatePixels(image) == nullptr) {
        if (image != nullptr) ImageDestroy(image);
        return fail("out of memory");
    }
    PngRows rows{image, exposure};
    if (!PanoramaEvaluate(width, ToneMapRow, &rows)) {
        ImageDestroy(image);
        if (stopReason == nullptr) return fail("out of memory");
        // Stopped before anything was written: a file there was not touched.
        struct stat info;
        const bool kept = stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        return fail(std::string(stopReason) + (kept ? ". The file there is unchanged" : ""));
    }
    // Below the horizon the last sky row again.
    uint8* pixels = ImageGetPixels(image);
    const int32 stride = ImageGetStride(image);
    const int32 last = PanoramaSkyRows(width) - 1;
    for (int32 y = last + 1; y < height; ++y) {
        std::memcpy(pixels + static_cast<std::ptrdiff_t>(y) * stride,
                    pixels + static_cast<std::ptrdiff_t>(last) * stride,
                    sizeof(RGBA) * static_cast<std::size_t>(width));
    }
    // Compressing the largest panorama takes seconds too.
    FileWriteStatus status{};
    ImageSetWriteStop(PanoramaStopAsked);
    const bool written = ImageWritePNG(image, target.c_str(), false, &status);
    ImageSetWriteStop(nullptr);
    ImageDestroy(image);
    if (!written && stopReason != nullptr) {
        return fail(std::string(stopReason) + (status.kept != 0 ? ". The file there is unchanged" : ""));
    }
    if (!written) return fail(ExportFileProblem(status));
    return true;
}

bool PanoramaWrite(const char* path, int32 width, float exposure, std::string* message) {
    switch (PanoramaFormatOf(path)) {
        case PanoramaFormatPNG:
            return PanoramaWritePNG(path, width, exposure, message);
        case PanoramaFormatEXR:
            return PanoramaWriteEXR(path, width, message);
        default:
            if (message != nullptr) {
                *message = std::string("Cannot write the panorama to ") + (path != nullptr ? path : "") +
                           ": the name must end in .png or .exr.";
            }
            return false;
    }
}

}  // namespace kv
