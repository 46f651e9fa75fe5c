#include "panorama_info.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "sky/analytic_sky.h"
#include "sky/ephemeris.h"
#include "sky/moon.h"
#include "sky/night_bodies.h"
#include "sky/sky_model.h"
#include "sky/sun_position.h"

namespace kv {

namespace {

std::string Format(const char* format, double a, double b = 0.0, double c = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// The clock's reading as UTC: calendar arithmetic, the fraction of a second
// kept to the millisecond.
std::string UtcText(const SolarTime& m) {
    const double whole = std::floor(m.second);
    const auto at = static_cast<std::time_t>(std::floor(SolarClockSeconds(m))) - 60 * std::time_t{m.offsetMinutes};
    std::tm utc{};
    gmtime_r(&at, &utc);
    char text[48];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900,
                                     utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    const auto millis = static_cast<int>(std::lround((m.second - whole) * 1000.0));
    if (millis > 0 && millis < 1000 && length > 0) {
        std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), ".%03d", millis);
    }
    return std::string(text) + "Z";
}

double Compass(double programAzimuth) {
    double c = std::fmod(360.0 - programAzimuth, 360.0);
    if (c < 0.0) c += 360.0;
    return c;
}

}  // namespace

PanoramaInfo PanoramaDescribe(const Sky* sky) {
    PanoramaInfo info;
    info.model = kSkyModelNames[SkyModelInUse(sky)];
    info.turbidity = SkyModelTurbidity(sky);
    if (SkyModelInUse(sky) == SkyModelPhysical) {
        const AtmosphereAerosols a = SkyModelAerosols(sky);
        info.aerosols = std::string(", ") + kAtmosphereAerosolNames[a.kind] + " aerosols";
        if (a.depth550 > 0.0f) info.aerosols += Format(", optical depth %g at 550 nm", a.depth550);
    }
    const SkyState* s = SkyModelAnalyticState(sky);
    info.sunAltitude = 90.0 - static_cast<double>(s->sunTheta);
    info.sunAzimuth = Compass(static_cast<double>(s->sunPhi));
    SkyPlaceMoment where;
    if (!SkyGetPlaceMoment(sky, &where)) return info;
    info.placed = true;
    info.latitude = where.latitude;
    info.longitude = where.longitude;
    info.altitude = where.altitude;
    info.utc = UtcText(where.moment);
    const SolarTime& t = where.moment;
    info.localClock = Format("%04.0f:%02.0f:%02.0f", t.year, t.month, t.day) +
                      Format(" %02.0f:%02.0f:%02.0f", t.hour, t.minute, std::floor(t.second));
    info.offsetMinutes = t.offsetMinutes;
    const MoonView moon =
        MoonObserve(SkyMomentAt(SolarJulianDay(t)), SkyPlace{where.latitude, where.longitude, where.altitude});
    info.moonAltitude = moon.horizontal.altitude;
    info.moonAzimuth = moon.horizontal.azimuth;
    info.moonIlluminated = moon.illuminatedFraction;
    info.moonWaxing = moon.waxing;
    return info;
}

std::vector<std::pair<std::string, std::string>> PanoramaInfoLines(const PanoramaInfo& info) {
    std::vector<std::pair<std::string, std::string>> lines;
    lines.emplace_back("Sky model", info.model + Format(", turbidity %g", info.turbidity) + info.aerosols);
    lines.emplace_back("Directions", kPanoramaDirections);
    lines.emplace_back("Sun", Format("altitude %.4f, azimuth %.4f", info.sunAltitude, info.sunAzimuth));
    if (!info.placed) return lines;
    lines.emplace_back("Moon", Format("altitude %.4f, azimuth %.4f", info.moonAltitude, info.moonAzimuth) +
                                   Format(", illuminated %.3f, ", info.moonIlluminated) +
                                   (info.moonWaxing ? "waxing" : "waning"));
    lines.emplace_back("Moment", info.utc);
    lines.emplace_back(
        "Place", Format("latitude %.4f, longitude %.4f, altitude %g m", info.latitude, info.longitude, info.altitude));
    return lines;
}

}  // namespace kv
