// The panorama as OpenEXR, for lighting: 32-bit float linear Rec. 709 RGB
// (the sun's disc is far past what half floats hold), with the standard
// attributes that say so: chromaticities, whiteLuminance (cd/m^2 of
// (1, 1, 1)) and envmap (latitude-longitude), and what it shows
// (panorama_info.h). Written in blocks of rows,
// compressed while the next are evaluated, losslessly with the wavelet coder:
// for the sky's floats it is both the smallest and the fastest of its
// lossless ones (30.7 MB and 1.0 s of processor time at 4096 x 2048, where
// zlib takes 39.9 MB and 1.8 s).
#include <ImfChannelList.h>
#include <ImfDoubleAttribute.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <exception>

#include "engine/core/quoted_name.h"
#include "engine/stream/safe_write.h"
#include "export/export_file.h"
#include "export/panorama.h"
#include "export/panorama_info.h"

namespace kv {

namespace {

// Rows handed to the library at once: two blocks of its compression.
constexpr int32 kExrRows = 64;

struct ExrRows {
    Imf::OutputFile* file;
    PanoramaLinearRows* rows;
    std::string why;
};

// The library's own text names the file it wrote, which is not the user's
// name: the system's reason is told in the program's words where there is one.
std::string WriteFailure(const char* library) {
    const int error = errno;
    if (error != 0) return ExportFileProblem(FileWriteStatus{FileWriteData, error, 0});
    return std::string("the file could not be written (") + library + ")";
}

// Hands the rows held to the library.
void Flush(ExrRows* e) {
    const PanoramaLinearRows& r = *e->rows;
    const std::size_t pixel = 3 * sizeof(float);
    const std::size_t line = pixel * static_cast<std::size_t>(r.width);
    const Imath::V2i origin(0, r.first);
    Imf::FrameBuffer buffer;
    const char* names[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        buffer.insert(names[c], Imf::Slice::Make(Imf::FLOAT, r.rgb + c, origin, r.width, r.held, pixel, line));
    }
    e->file->setFrameBuffer(buffer);
    e->file->writePixels(r.held);
    PanoramaLinearRowsNext(e->rows);
}

bool WriteRow(int32 /*y*/, const RGBAReal* colours, int32 /*width*/, void* data) {
    auto* e = static_cast<ExrRows*>(data);
    if (!PanoramaLinearRowsAdd(e->rows, colours, 1.0)) return true;
    try {
        Flush(e);
    } catch (const std::exception& ex) {
        e->why = WriteFailure(ex.what());
        return false;
    }
    return true;
}

// What the panorama shows: the standard attributes where the format has
// them (the place; the moment as capDate on the place's clock with its
// utcOffset), and attributes of our own for the rest.
void AddInfo(Imf::Header* header, const PanoramaInfo& info) {
    header->insert("skyModel", Imf::StringAttribute(info.model));
    header->insert("directions", Imf::StringAttribute(kPanoramaDirections));
    header->insert("sunAltitude", Imf::DoubleAttribute(info.sunAltitude));
    header->insert("sunAzimuth", Imf::DoubleAttribute(info.sunAzimuth));
    if (!info.placed) return;
    header->insert("moonAltitude", Imf::DoubleAttribute(info.moonAltitude));
    header->insert("moonAzimuth", Imf::DoubleAttribute(info.moonAzimuth));
    header->insert("moonIlluminated", Imf::DoubleAttribute(info.moonIlluminated));
    header->insert("moonPhase", Imf::StringAttribute(info.moonWaxing ? "waxing" : "waning"));
    header->insert("moment", Imf::StringAttribute(info.utc));
    Imf::addLatitude(*header, static_cast<float>(info.latitude));
    Imf::addLongitude(*header, static_cast<float>(info.longitude));
    Imf::addAltitude(*header, static_cast<float>(info.altitude));
    Imf::addCapDate(*header, info.localClock);
    // Seconds to add to the clock's reading to give UTC.
    Imf::addUtcOffset(*header, static_cast<float>(-60 * info.offsetMinutes));
}

bool WriteExr(const char* path, void* data, std::string* why) {
    const PanoramaJob& job = *static_cast<const PanoramaJob*>(data);
    const int32 width = job.width;
    PanoramaLinearRows rows;
    if (!PanoramaLinearRowsInit(&rows, job.sky, width, kExrRows)) {
        *why = "out of memory";
        return false;
    }
    bool ok = false;
    errno = 0;
    try {
        Imf::Header header(width, PanoramaHeight(width));
        header.compression() = Imf::PIZ_COMPRESSION;
        for (const char* name : {"R", "G", "B"}) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        Imf::addChromaticities(header, Imf::Chromaticities());  // Rec. 709 primaries, D65 white
        Imf::addWhiteLuminance(header, static_cast<float>(kPanoramaExrWhiteLuminance));
        Imf::addEnvmap(header, Imf::ENVMAP_LATLONG);
        AddInfo(&header, PanoramaDescribe(job.sky));
        // The library's own pool of threads stays off: it does not survive a
        // fork, and the other core is busy with the next rows meanwhile.
        Imf::OutputFile file(path, header, 0);
        ExrRows e{&file, &rows, {}};
        if (!PanoramaEvaluateUnlessStopped(job.sky, width, WriteRow, &e)) {
            const char* stopped = PanoramaStopReason();
            *why = stopped != nullptr ? stopped : e.why.empty() ? "out of memory" : e.why;
        } else {
            ok = true;
        }
    } catch (const std::exception& e) {
        *why = WriteFailure(e.what());
        ok = false;
    } catch (...) {
        *why = "the file could not be written";
        ok = false;
    }
    PanoramaLinearRowsRelease(&rows);
    return ok;
}

}  // namespace

bool PanoramaWriteEXR(Sky* sky, const char* path, int32 width, std::string* message) {
    // The file's table of where each block of rows lies comes before the
    // rows and is filled in once they are written: a pipe takes the bytes in
    // order only, so nothing is sent down one.
    struct stat info;
    if (path != nullptr && stat(path, &info) == 0 && S_ISFIFO(info.st_mode)) {
        if (message != nullptr) {
            *message = "Cannot write the panorama to " + QuotedName(path) +
                       ": it is a pipe, and an OpenEXR file cannot be written to a pipe (the table of where its rows "
                       "lie is written last, at its start). Write the EXR to a file, or write a .hdr or .png "
                       "panorama, which can go to a pipe.";
        }
        return false;
    }
    return PanoramaWriteFile(sky, path, width, WriteExr, message);
}

}  // namespace kv
