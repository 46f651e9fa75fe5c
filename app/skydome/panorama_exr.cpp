// The panorama as OpenEXR, for lighting: 32-bit float linear Rec. 709 RGB
// (the sun's disc is far past what half floats hold), with the standard
// attributes that say so: chromaticities, whiteLuminance (cd/m^2 of
// (1, 1, 1)) and envmap (latitude-longitude). Written in blocks of rows,
// compressed while the next are evaluated, losslessly with the wavelet coder:
// for the sky's floats it is both the smallest and the fastest of its
// lossless ones (30.7 MB and 1.0 s of processor time at 4096 x 2048, where
// zlib takes 39.9 MB and 1.8 s).
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>

#include <cstdint>
#include <cstring>
#include <exception>

#include "app/skydome/export_file.h"
#include "app/skydome/panorama.h"
#include "app/skydome/sky_model.h"
#include "engine/core/memory.h"

namespace kv {

namespace {

// Rows handed to the library at once: two blocks of its compression.
constexpr int32 kExrRows = 64;

struct ExrRows {
    Imf::OutputFile* file;
    float* rows;  // kExrRows rows of RGB
    int32 width;
    int32 height;
    int32 first;  // the row rows[0] holds
    int32 held;   // rows held
    std::string why;
};

// Hands the rows held to the library.
void Flush(ExrRows* e) {
    if (e->held == 0) return;
    const std::size_t pixel = 3 * sizeof(float);
    const std::size_t line = pixel * static_cast<std::size_t>(e->width);
    const Imath::V2i origin(0, e->first);
    Imf::FrameBuffer buffer;
    const char* names[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        buffer.insert(names[c], Imf::Slice::Make(Imf::FLOAT, e->rows + c, origin, e->width, e->held, pixel, line));
    }
    e->file->setFrameBuffer(buffer);
    e->file->writePixels(e->held);
    e->first += e->held;
    e->held = 0;
}

bool WriteRow(int32 /*y*/, const RGBAReal* colours, int32 width, void* data) {
    auto* e = static_cast<ExrRows*>(data);
    float* out = e->rows + static_cast<std::ptrdiff_t>(e->held) * 3 * width;
    RGBAReal* linear = reinterpret_cast<RGBAReal*>(e->rows + static_cast<std::ptrdiff_t>(kExrRows) * 3 * width);
    std::memcpy(static_cast<void*>(linear), colours, sizeof(RGBAReal) * static_cast<std::size_t>(width));
    SkyModelToRec709(linear, width);
    for (int32 x = 0; x < width; ++x) {
        out[3 * x] = linear[x].red;
        out[3 * x + 1] = linear[x].green;
        out[3 * x + 2] = linear[x].blue;
    }
    ++e->held;
    if (e->held < kExrRows && e->first + e->held < e->height) return true;
    try {
        Flush(e);
    } catch (const std::exception& ex) {
        e->why = std::string("the file could not be written (") + ex.what() + ")";
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
    // The rows, then one row of the model's colours to convert.
    auto* rows = static_cast<float*>(KvMalloc(sizeof(float) * 3 * static_cast<std::size_t>(width) * kExrRows +
                                              sizeof(RGBAReal) * static_cast<std::size_t>(width)));
    if (rows == nullptr) {
        *why = "out of memory";
        return false;
    }
    bool ok = false;
    try {
        Imf::Header header(width, height);
        header.compression() = Imf::PIZ_COMPRESSION;
        for (const char* name : {"R", "G", "B"}) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        Imf::addChromaticities(header, Imf::Chromaticities());  // Rec. 709 primaries, D65 white
        Imf::addWhiteLuminance(header, static_cast<float>(kPanoramaExrWhiteLuminance));
        Imf::addEnvmap(header, Imf::ENVMAP_LATLONG);
        // The library's own pool of threads stays off: it does not survive a
        // fork, and the other core is busy with the next rows meanwhile.
        Imf::OutputFile file(path, header, 0);
        ExrRows e{&file, rows, width, height, 0, 0, {}};
        if (!PanoramaEvaluate(width, WriteRow, &e)) {
            *why = e.why.empty() ? "out of memory" : e.why;
        } else {
            ok = true;
        }
    } catch (const std::exception& e) {
        *why = std::string("the file could not be written (") + e.what() + ")";
        ok = false;
    } catch (...) {
        *why = "the file could not be written";
        ok = false;
    }
    KvFree(rows);
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
