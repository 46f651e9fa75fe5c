#include "panorama.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/core/memory.h"
#include "engine/core/quoted_name.h"
#include "engine/image/image.h"
#include "engine/image/png_write.h"
#include "engine/stream/safe_write.h"
#include "export/export_file.h"
#include "export/panorama_info.h"
#include "sky/analytic_sky.h"
#include "sky/exposure.h"
#include "sky/sky_colours.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

PanoramaStopFn stopFn = nullptr;
// Per thread: panoramas written on several threads at once (a time-lapse,
// callers of the Python module) each keep their own.
thread_local const char* stopReason = nullptr;

struct PngRows {
    Image* image;
    float exposure;
    // Photographic exposure (sky/exposure.h) instead of the curve k.
    const Sky* sky = nullptr;
    bool photographic = false;
    ExposureTone tone{};
};

bool ToneMapRow(int32 y, const RGBAReal* colours, int32 width, void* data) {
    auto* png = static_cast<PngRows*>(data);
    auto* row = reinterpret_cast<RGBA*>(png->image->pixels + static_cast<std::ptrdiff_t>(y) * png->image->stride);
    if (!png->photographic) {
        SkyToneMapColors(colours, row, width, png->exposure);
        return true;
    }
    // Rows may come on either evaluation thread: a copy of each thread's own.
    thread_local std::vector<RGBAReal> rec709;
    rec709.assign(colours, colours + width);
    SkyModelToRec709(png->sky, rec709.data(), width);
    ExposureToneMapColors(rec709.data(), row, width, png->tone);
    return true;
}

// A row handed on unless the run was asked to stop.
struct Stoppable {
    PanoramaRowFn row;
    void* data;
};

bool RowUnlessStopped(int32 y, const RGBAReal* colours, int32 width, void* data) {
    auto* s = static_cast<Stoppable*>(data);
    // A run asked to quit does not wait for the rest.
    return !PanoramaStopAsked() && s->row(y, colours, width, s->data);
}

// The picture with text chunks that say what it shows (panorama_info.h).
bool WritePngWithInfo(const Image* image, const char* path, const Sky* sky, FileWriteStatus* status) {
    const std::vector<std::pair<std::string, std::string>> lines = PanoramaInfoLines(PanoramaDescribe(sky));
    std::vector<PngText> texts{{"Software", "KV3 Skydome Creator"}};
    for (const auto& [keyword, text] : lines) texts.push_back(PngText{keyword.c_str(), text.c_str()});
    return ImageWritePNGWithText(image, path, false, texts.data(), static_cast<int32>(texts.size()), status);
}

}  // namespace

void PanoramaSetStop(PanoramaStopFn stop) { stopFn = stop; }

bool PanoramaStopAsked() { return stopFn != nullptr && (stopReason = stopFn()) != nullptr; }

const char* PanoramaStopReason() { return stopReason; }

bool PanoramaEvaluateUnlessStopped(Sky* sky, int32 width, PanoramaRowFn row, void* data) {
    stopReason = nullptr;
    Stoppable stoppable{row, data};
    return PanoramaEvaluate(sky, width, RowUnlessStopped, &stoppable);
}

bool PanoramaLinearRowsInit(PanoramaLinearRows* rows, const Sky* sky, int32 width, int32 capacity) {
    *rows = PanoramaLinearRows{};
    rows->sky = sky;
    rows->width = width;
    rows->height = PanoramaHeight(width);
    rows->capacity = capacity;
    rows->rgb = static_cast<float*>(KvMalloc(sizeof(float) * 3 * static_cast<std::size_t>(width) * capacity));
    rows->scratch = static_cast<RGBAReal*>(KvMalloc(sizeof(RGBAReal) * static_cast<std::size_t>(width)));
    if (rows->rgb != nullptr && rows->scratch != nullptr) return true;
    PanoramaLinearRowsRelease(rows);
    return false;
}

void PanoramaLinearRowsRelease(PanoramaLinearRows* rows) {
    if (rows->rgb != nullptr) KvFree(rows->rgb);
    if (rows->scratch != nullptr) KvFree(rows->scratch);
    rows->rgb = nullptr;
    rows->scratch = nullptr;
}

bool PanoramaLinearRowsAdd(PanoramaLinearRows* rows, const RGBAReal* colours, double scale) {
    const int32 width = rows->width;
    std::memcpy(static_cast<void*>(rows->scratch), colours, sizeof(RGBAReal) * static_cast<std::size_t>(width));
    SkyModelToRec709(rows->sky, rows->scratch, width);
    float* out = rows->rgb + static_cast<std::ptrdiff_t>(rows->held) * 3 * width;
    for (int32 x = 0; x < width; ++x) {
        out[3 * x] = static_cast<float>(rows->scratch[x].red * scale);
        out[3 * x + 1] = static_cast<float>(rows->scratch[x].green * scale);
        out[3 * x + 2] = static_cast<float>(rows->scratch[x].blue * scale);
    }
    ++rows->held;
    return rows->held == rows->capacity || rows->first + rows->held == rows->height;
}

void PanoramaLinearRowsNext(PanoramaLinearRows* rows) {
    rows->first += rows->held;
    rows->held = 0;
}

bool PanoramaWriteFile(Sky* sky, const char* path, int32 width, ExportWriterFn writer, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    std::string why;
    PanoramaJob job{sky, width};
    if (!PanoramaWidthValid(width)) {
        why = "the width is not an even number from 16 to 8192";
    } else if (ExportFileWrite(target.c_str(), writer, &job, &why)) {
        return true;
    }
    if (message != nullptr) *message = "Cannot write the panorama to " + QuotedName(target) + ": " + why + ".";
    return false;
}

PanoramaFormat PanoramaFormatOf(const char* path) {
    if (path == nullptr) return PanoramaFormatNone;
    if (EndsWith(path, ".png")) return PanoramaFormatPNG;
    if (EndsWith(path, ".exr")) return PanoramaFormatEXR;
    if (EndsWith(path, ".hdr")) return PanoramaFormatHDR;
    return PanoramaFormatNone;
}

bool PanoramaWidthValid(int32 width) {
    return width >= kPanoramaMinWidth && width <= kPanoramaMaxWidth && width % 2 == 0;
}

bool PanoramaWritePNG(Sky* sky, const char* path, int32 width, float exposure, std::string* message) {
    SkyPictureExposure curve;
    curve.k = exposure;
    return PanoramaWritePNG(sky, path, width, curve, message);
}

bool PanoramaWritePNG(Sky* sky, const char* path, int32 width, const SkyPictureExposure& exposure,
                      std::string* message) {
    const std::string target = path != nullptr ? path : "";
    auto fail = [&](const std::string& why) {
        if (message != nullptr) *message = "Cannot write the panorama to " + QuotedName(target) + ": " + why + ".";
        return false;
    };
    if (target.empty()) return fail("no file name");
    if (!PanoramaWidthValid(width)) return fail("the width is not an even number from 16 to 8192");
    // Stopped before anything was written: a file there was not touched, as
    // the other formats say.
    auto untouched = [&](const std::string& why) {
        struct stat info;
        const bool kept = stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        return fail(why + (kept ? ". The file there is unchanged" : ""));
    };
    const int32 height = PanoramaHeight(width);
    // The pixels in an image of our own, not the image module's: a panorama
    // needs no engine running (a script that only wants the file has none).
    const std::size_t stride = 4 * static_cast<std::size_t>(width);
    auto* pixels = static_cast<uint8*>(KvMalloc(stride * static_cast<std::size_t>(height)));
    if (pixels == nullptr) return untouched("out of memory");
    Image image{0, width, height, 32, static_cast<int32>(stride), pixels, nullptr};
    PngRows rows{&image, exposure.k};
    if (exposure.photographic) {
        rows.sky = sky;
        rows.photographic = true;
        rows.tone = ExposureToneFor(exposure.metered ? SkyMeterEV100(sky) : exposure.ev100, exposure.nightVision);
    }
    if (!PanoramaEvaluateUnlessStopped(sky, width, ToneMapRow, &rows)) {
        KvFree(pixels);
        return untouched(stopReason == nullptr ? "out of memory" : stopReason);
    }
    // Compressing the largest panorama takes seconds too. The image writer's
    // stop is one for the whole program: set only when a stop is asked for,
    // so that threads writing panoramas at once never touch it.
    FileWriteStatus status{};
    if (stopFn != nullptr) ImageSetWriteStop(PanoramaStopAsked);
    const bool written = WritePngWithInfo(&image, target.c_str(), sky, &status);
    if (stopFn != nullptr) ImageSetWriteStop(nullptr);
    KvFree(pixels);
    if (!written && stopReason != nullptr) {
        return fail(std::string(stopReason) + (status.kept != 0 ? ". The file there is unchanged" : ""));
    }
    if (!written) return fail(ExportFileProblem(status));
    return true;
}

bool PanoramaWrite(Sky* sky, const char* path, int32 width, float exposure, std::string* message) {
    SkyPictureExposure curve;
    curve.k = exposure;
    return PanoramaWrite(sky, path, width, curve, message);
}

bool PanoramaWrite(Sky* sky, const char* path, int32 width, const SkyPictureExposure& exposure, std::string* message) {
    switch (PanoramaFormatOf(path)) {
        case PanoramaFormatPNG:
            return PanoramaWritePNG(sky, path, width, exposure, message);
        case PanoramaFormatEXR:
            return PanoramaWriteEXR(sky, path, width, message);
        case PanoramaFormatHDR:
            return PanoramaWriteHDR(sky, path, width, message);
        default:
            if (message != nullptr) {
                *message = "Cannot write the panorama to " + QuotedName(path != nullptr ? path : "") +
                           ": the name must end in .png, .exr or .hdr.";
            }
            return false;
    }
}

}  // namespace kv
