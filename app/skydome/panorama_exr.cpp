// The panorama as OpenEXR: half-float linear RGB, streamed a row at a time.
#include <ImfRgbaFile.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <limits>

#include "app/skydome/export_file.h"
#include "app/skydome/panorama.h"
#include "engine/core/memory.h"
#include "engine/stream/safe_write.h"

namespace kv {

namespace {

// Largest finite half: brighter values would become infinities.
constexpr float kHalfMax = 65504.0f;

struct ExrRows {
    Imf::RgbaOutputFile* file;
    Imf::Rgba* row;
    int32 width;
    std::string why;  // why a row could not be written
};

// The library's own text names the file it wrote, which is not the user's
// name: the system's reason is told in the program's words where there is one.
std::string WriteFailure(const char* library) {
    const int error = errno;
    if (error != 0) return ExportFileProblem(FileWriteStatus{FileWriteData, error, 0});
    return std::string("the file could not be written (") + library + ")";
}

float Finite(float v) { return v > kHalfMax ? kHalfMax : (v < -kHalfMax ? -kHalfMax : v); }

// Points the file's frame buffer at one row held in row[]: the library
// addresses pixel (x, y) as base + x + y * width.
void SetRow(ExrRows* e, int32 y) {
    const auto offset = static_cast<std::uintptr_t>(y) * static_cast<std::uintptr_t>(e->width) * sizeof(Imf::Rgba);
    e->file->setFrameBuffer(reinterpret_cast<Imf::Rgba*>(reinterpret_cast<std::uintptr_t>(e->row) - offset), 1,
                            static_cast<std::size_t>(e->width));
}

bool WriteRow(int32 y, const RGBAReal* colours, int32 width, void* data) {
    auto* e = static_cast<ExrRows*>(data);
    for (int32 x = 0; x < width; ++x) {
        e->row[x] = Imf::Rgba(Finite(colours[x].red), Finite(colours[x].green), Finite(colours[x].blue), 1.0f);
    }
    try {
        SetRow(e, y);
        e->file->writePixels(1);
    } catch (const std::exception& ex) {
        e->why = WriteFailure(ex.what());
        return false;
    }
    return true;
}

struct ExrJob {
    int32 width;
};

bool WriteExr(const char* path, void* data, std::string* why) {
    const int32 width = static_cast<ExrJob*>(data)->width;
    const int32 height = PanoramaHeight(width);
    auto* row = static_cast<Imf::Rgba*>(KvMalloc(sizeof(Imf::Rgba) * static_cast<std::size_t>(width)));
    if (row == nullptr) {
        *why = "out of memory";
        return false;
    }
    bool ok = false;
    errno = 0;
    try {
        Imf::RgbaOutputFile file(path, width, height, Imf::WRITE_RGB);
        ExrRows rows{&file, row, width, {}};
        if (!PanoramaEvaluate(width, WriteRow, &rows)) {
            const char* stopped = PanoramaStopReason();
            *why = stopped != nullptr ? stopped : rows.why.empty() ? "out of memory" : rows.why;
        } else {
            // Below the horizon the last sky row (still in row[]) again.
            ok = true;
            for (int32 y = PanoramaSkyRows(width); y < height && ok; ++y) {
                ok = !PanoramaStopAsked();
                if (ok) {
                    SetRow(&rows, y);
                    file.writePixels(1);
                }
            }
            if (!ok) *why = PanoramaStopReason();
        }
    } catch (const std::exception& e) {
        *why = WriteFailure(e.what());
        ok = false;
    } catch (...) {
        *why = "the file could not be written";
        ok = false;
    }
    KvFree(row);
    return ok;
}

}  // namespace

bool PanoramaWriteEXR(const char* path, int32 width, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    std::string why;
    if (!PanoramaWidthValid(width)) {
        why = "the width is not an even number from 16 to 8192";
    } else {
        ExrJob job{width};
        if (ExportFileWrite(target.c_str(), WriteExr, &job, &why)) return true;
    }
    if (message != nullptr) *message = "Cannot write the panorama to " + target + ": " + why + ".";
    return false;
}

}  // namespace kv
