// What a panorama shows, as its file's metadata says it: the sky model, the
// sun's direction and, for a sky placed from a place and a moment, those and
// the moon's direction and phase. The EXR holds them as attributes, the .hdr
// as header lines and the PNG as text chunks.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/core/types.h"

namespace kv {

struct Sky;

// Directions are the apparent ones (refraction included), in degrees:
// altitude above the horizon, azimuth from north towards east.
constexpr const char* kPanoramaDirections =
    "degrees; altitude above the horizon as seen (refracted), azimuth from north towards east";

struct PanoramaInfo {
    std::string model;  // "preetham" or "physical"
    float turbidity = 0.0f;
    std::string aerosols;  // the physical sky's: ", continental aerosols[, optical depth 0.2 at 550 nm]"
    double sunAltitude = 0.0;
    double sunAzimuth = 0.0;
    bool placed = false;  // the rest is known
    double latitude = 0.0;
    double longitude = 0.0;
    double altitude = 0.0;  // metres
    std::string utc;        // the moment in UTC, ISO 8601: "2026-06-21T16:00:00Z"
    // The moment as the place's clock read it, with its offset: "2026:06:21
    // 18:00:00" and minutes east of UTC.
    std::string localClock;
    int32 offsetMinutes = 0;
    double moonAltitude = 0.0;
    double moonAzimuth = 0.0;
    double moonIlluminated = 0.0;  // the lit fraction of the disc, 0 to 1
    bool moonWaxing = false;
};

PanoramaInfo PanoramaDescribe(const Sky* sky);

// The same as (name, value) pairs of printable ASCII, one line each: the PNG
// text chunks' keywords and the .hdr's header variables are made from them.
std::vector<std::pair<std::string, std::string>> PanoramaInfoLines(const PanoramaInfo& info);

}  // namespace kv
