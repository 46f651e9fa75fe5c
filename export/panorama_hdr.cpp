// The panorama as a Radiance picture (.hdr, RGBE), the format most
// collections of HDR environments ship. The library encodes the pixels; the
// header is ours, so that it states the primaries and the whole picture's
// size while the rows are encoded a block at a time.
#include <stb_image_write.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "export/export_file.h"
#include "export/panorama.h"
#include "export/panorama_info.h"

namespace kv {

namespace {

constexpr int32 kHdrRows = 64;
// kcd/m^2, the models' unit, in the picture's unit.
constexpr double kHdrScale = 1000.0 / kPanoramaHdrUnit;

struct HdrRows {
    ExportFileOut* out;
    PanoramaLinearRows* rows;
    // The library starts every call with a header of its own (ending in the
    // "-Y height +X width" line), left out after ours.
    std::string header;
    bool inHeader;
};

void Put(void* context, void* data, int size) {
    auto* h = static_cast<HdrRows*>(context);
    const auto* bytes = static_cast<const char*>(data);
    std::size_t count = static_cast<std::size_t>(size);
    if (h->inHeader) {
        h->header.append(bytes, count);
        const std::size_t resolution = h->header.find("\n-Y ");
        const std::size_t end = resolution == std::string::npos ? resolution : h->header.find('\n', resolution + 1);
        if (end == std::string::npos) return;
        h->inHeader = false;
        const std::string rest = h->header.substr(end + 1);
        h->header.clear();
        if (!rest.empty()) ExportFilePut(h->out, rest.data(), rest.size());
        return;
    }
    ExportFilePut(h->out, bytes, count);
}

bool Flush(HdrRows* h) {
    const PanoramaLinearRows& r = *h->rows;
    h->header.clear();
    h->inHeader = true;
    const bool encoded = stbi_write_hdr_to_func(Put, h, r.width, r.held, 3, r.rgb) != 0;
    PanoramaLinearRowsNext(h->rows);
    return encoded && !h->inHeader && h->out->why.empty();
}

bool WriteRow(int32 /*y*/, const RGBAReal* colours, int32 /*width*/, void* data) {
    auto* h = static_cast<HdrRows*>(data);
    return !PanoramaLinearRowsAdd(h->rows, colours, kHdrScale) || Flush(h);
}

// What the picture shows, as header variables of our own ("SUN= altitude
// ..."): readers pass over variables they do not know. Every line is short
// printable ASCII, so none can end the header or be taken for the
// resolution line.
std::string InfoLines(const PanoramaInfo& info) {
    std::string text;
    for (const auto& [name, value] : PanoramaInfoLines(info)) {
        std::string variable;
        for (const char c : name) {
            if (c != ' ') variable += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        text += variable + "= " + value + "\n";
    }
    return text;
}

bool WriteHdr(const char* path, void* data, std::string* why) {
    const PanoramaJob& job = *static_cast<const PanoramaJob*>(data);
    const int32 width = job.width;
    const int32 height = PanoramaHeight(width);
    ExportFileOut out;
    if (!ExportFileOpen(&out, path)) {
        *why = out.why;
        return false;
    }
    // Rec. 709 primaries and D65 white, as the EXR states them.
    char header[512];
    const int length = std::snprintf(header, sizeof header,
                                     "#?RADIANCE\n"
                                     "# KV3 Skydome Creator: linear Rec. 709, 1 = %g cd/m^2 (W sr^-1 m^-2 at %g lm/W)\n"
                                     "FORMAT=32-bit_rle_rgbe\n"
                                     "PRIMARIES=0.640 0.330 0.300 0.600 0.150 0.060 0.3127 0.3290\n"
                                     "EXPOSURE=1\n",
                                     kPanoramaHdrUnit, kPanoramaHdrUnit);
    std::string text(header, static_cast<std::size_t>(length));
    text += InfoLines(PanoramaDescribe(job.sky));
    std::snprintf(header, sizeof header, "\n-Y %d +X %d\n", static_cast<int>(height), static_cast<int>(width));
    text += header;
    PanoramaLinearRows rows;
    const bool memory = PanoramaLinearRowsInit(&rows, job.sky, width, kHdrRows);
    bool ok = memory && ExportFilePut(&out, text.data(), text.size());
    if (ok) {
        HdrRows h{&out, &rows, {}, false};
        ok = PanoramaEvaluateUnlessStopped(job.sky, width, WriteRow, &h) && rows.first == height;
    }
    PanoramaLinearRowsRelease(&rows);
    const bool closed = ExportFileClose(&out);
    if (!memory) {
        *why = "out of memory";
    } else if (PanoramaStopReason() != nullptr) {
        *why = PanoramaStopReason();
    } else if (!out.why.empty()) {
        *why = out.why;
    } else if (!ok) {
        *why = "the picture could not be encoded";
    }
    return ok && closed;
}

}  // namespace

bool PanoramaWriteHDR(Sky* sky, const char* path, int32 width, std::string* message) {
    return PanoramaWriteFile(sky, path, width, WriteHdr, message);
}

}  // namespace kv
