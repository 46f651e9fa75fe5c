#include "stars.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "planets.h"

namespace kv {

namespace {
constexpr double kStarRad = 3.14159265358979323846 / 180.0;
}  // namespace

namespace {

constexpr char kMagic[8] = {'K', 'V', 'S', 'T', 'A', 'R', 'S', '1'};
constexpr std::size_t kRecord = 12;

void Put32(std::vector<uint8>* out, uint32 v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8>(v >> (8 * i)));
}
void Put16(std::vector<uint8>* out, uint16 v) {
    out->push_back(static_cast<uint8>(v));
    out->push_back(static_cast<uint8>(v >> 8));
}
uint32 Get32(const uint8* p) {
    return static_cast<uint32>(p[0]) | static_cast<uint32>(p[1]) << 8 | static_cast<uint32>(p[2]) << 16 |
           static_cast<uint32>(p[3]) << 24;
}
uint16 Get16(const uint8* p) { return static_cast<uint16>(p[0] | p[1] << 8); }

std::string LineError(int line, const char* what) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "line %d: %s", line, what);
    return buffer;
}

// One number at *p, advancing past it; false when none is there.
bool Number(const char** p, double* out) {
    char* end = nullptr;
    *out = std::strtod(*p, &end);
    if (end == *p || !std::isfinite(*out)) return false;
    *p = end;
    return true;
}

}  // namespace

bool StarCatalogueParseText(const std::string& text, std::vector<CatalogueStar>* out, std::string* error) {
    out->clear();
    std::size_t start = 0;
    int line = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string row = text.substr(start, end - start);
        start = end + 1;
        ++line;
        const char* p = row.c_str();
        while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
        if (*p == '\0' || *p == '#') continue;
        double dec = 0.0, raHours = 0.0, v = 0.0;
        if (!Number(&p, &dec) || !Number(&p, &raHours) || !Number(&p, &v)) {
            *error = LineError(line, "expected a declination, a right ascension in hours and a V magnitude");
            return false;
        }
        if (dec < -90.0 || dec > 90.0 || raHours < 0.0 || raHours >= 24.0 || v < -2.0 || v > 16.0) {
            *error = LineError(line, "a place or magnitude out of range");
            return false;
        }
        // The name in quotes, then the HR number.
        const char* q1 = std::strchr(p, '"');
        const char* q2 = q1 ? std::strchr(q1 + 1, '"') : nullptr;
        double hr = 0.0;
        const char* after = q2 ? q2 + 1 : nullptr;
        if (!after || !Number(&after, &hr) || hr < 1.0 || hr > 65535.0) {
            *error = LineError(line, "expected a quoted name and the star's HR number");
            return false;
        }
        CatalogueStar s;
        s.declination = dec;
        s.rightAscension = raHours * 15.0;
        s.magnitude = v;
        s.number = static_cast<uint16>(hr);
        out->push_back(s);
    }
    if (out->empty()) {
        *error = "no stars in the catalogue";
        return false;
    }
    return true;
}

std::vector<uint8> StarCatalogueEncode(const std::vector<CatalogueStar>& stars) {
    std::vector<uint8> out(kMagic, kMagic + sizeof kMagic);
    Put32(&out, static_cast<uint32>(stars.size()));
    for (const CatalogueStar& s : stars) {
        const double turn = SkyWrap360(s.rightAscension) / 360.0;
        Put32(&out, static_cast<uint32>(std::llround(turn * 4294967296.0) & 0xffffffffu));
        Put32(&out, static_cast<uint32>(static_cast<int32>(std::lround(s.declination * 1e7))));
        Put16(&out, static_cast<uint16>(static_cast<int16>(std::lround(s.magnitude * 1000.0))));
        Put16(&out, s.number);
    }
    return out;
}

bool StarCatalogueDecode(const uint8* data, std::size_t size, std::vector<CatalogueStar>* out, std::string* error) {
    out->clear();
    if (size < sizeof kMagic + 4 || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        *error = "not a star catalogue of this program";
        return false;
    }
    const uint32 count = Get32(data + sizeof kMagic);
    const std::size_t body = size - sizeof kMagic - 4;
    if (body / kRecord != count || body % kRecord != 0) {
        *error = "the star catalogue is truncated or has bytes past its stars";
        return false;
    }
    out->reserve(count);
    for (uint32 i = 0; i < count; ++i) {
        const uint8* p = data + sizeof kMagic + 4 + i * kRecord;
        CatalogueStar s;
        s.rightAscension = Get32(p) / 4294967296.0 * 360.0;
        s.declination = static_cast<int32>(Get32(p + 4)) * 1e-7;
        s.magnitude = static_cast<int16>(Get16(p + 8)) * 1e-3;
        s.number = Get16(p + 10);
        if (s.declination < -90.0 || s.declination > 90.0) {
            *error = "a star's declination is out of range";
            out->clear();
            return false;
        }
        out->push_back(s);
    }
    return true;
}

bool StarCatalogueLoad(const std::string& path, std::vector<CatalogueStar>* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    const std::vector<uint8> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!StarCatalogueDecode(bytes.data(), bytes.size(), out, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

namespace {

// A rotation of unit vectors about one axis by an angle whose cosine and
// sine are given: x towards y for the z axis, and so on.
struct Turn {
    double c, s;
    explicit Turn(double degrees) : c(std::cos(degrees * kStarRad)), s(std::sin(degrees * kStarRad)) {}
};

}  // namespace

void StarsObserve(const std::vector<CatalogueStar>& stars, const SkyMoment& moment, const SkyPlace& place,
                  std::vector<StarView>* out) {
    // The same rotations SkyPrecessFromJ2000 (Lieske et al. 1977's zeta, z
    // and theta), the nutation (to the ecliptic by the mean obliquity, along
    // it by delta psi, back by the true obliquity, of which Meeus's eq. 23.1
    // is the first order) and SkyTopocentric (to the hour angle and the
    // horizon) make, taken once for the moment and applied to each star's
    // unit vector: the thousands of stars of a time step cost a few
    // multiplications each instead of a dozen trigonometric functions.
    const double t = moment.centuriesTT;
    const Turn zeta((2306.2181 + (0.30188 + 0.017998 * t) * t) * t / 3600.0);
    const Turn z((2306.2181 + (1.09468 + 0.018203 * t) * t) * t / 3600.0);
    const Turn theta((2004.3109 - (0.42665 + 0.041833 * t) * t) * t / 3600.0);
    const Turn meanEps(moment.trueObliquity - moment.nutationObliquity);
    const Turn dpsi(moment.nutationLongitude);
    const Turn trueEps(moment.trueObliquity);
    const Turn lst(moment.apparentSiderealTime + place.longitude);
    const Turn lat(place.latitude);
    out->resize(stars.size());
    for (std::size_t i = 0; i < stars.size(); ++i) {
        const CatalogueStar& star = stars[i];
        const double cd = std::cos(star.declination * kStarRad);
        double x = cd * std::cos(star.rightAscension * kStarRad);
        double y = cd * std::sin(star.rightAscension * kStarRad);
        double w = std::sin(star.declination * kStarRad);
        // Precession: by zeta about the pole, theta about y, z about the pole.
        double x1 = x * zeta.c - y * zeta.s;
        y = x * zeta.s + y * zeta.c;
        x = theta.c * x1 - theta.s * w;
        w = theta.s * x1 + theta.c * w;
        x1 = x * z.c - y * z.s;
        y = x * z.s + y * z.c;
        x = x1;
        // Nutation, through the ecliptic.
        double ye = y * meanEps.c + w * meanEps.s;
        const double we = -y * meanEps.s + w * meanEps.c;
        x1 = x * dpsi.c - ye * dpsi.s;
        ye = x * dpsi.s + ye * dpsi.c;
        x = x1;
        y = ye * trueEps.c - we * trueEps.s;
        w = ye * trueEps.s + we * trueEps.c;
        // The hour angle's frame, then the horizon's.
        const double xh = x * lst.c + y * lst.s;
        const double west = x * lst.s - y * lst.c;
        const double north = -xh * lat.s + w * lat.c;
        const double up = xh * lat.c + w * lat.s;
        StarView& v = (*out)[i];
        v.horizontal.trueAltitude = std::asin(std::clamp(up, -1.0, 1.0)) / kStarRad;
        double azimuth = std::atan2(-west, north) / kStarRad;
        if (azimuth < 0.0) azimuth += 360.0;
        v.horizontal.azimuth = azimuth >= 360.0 ? 0.0 : azimuth;
        v.horizontal.altitude = v.horizontal.trueAltitude + SkyRefraction(v.horizontal.trueAltitude);
        v.magnitude = star.magnitude;
        v.illuminance = MagnitudeIlluminance(star.magnitude);
        v.number = star.number;
    }
}

}  // namespace kv
