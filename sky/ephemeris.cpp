#include "ephemeris.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;
constexpr double kArcSecond = 1.0 / 3600.0;

double Sin(double d) { return std::sin(d * kRad); }
double Cos(double d) { return std::cos(d * kRad); }
double Atan2(double y, double x) { return std::atan2(y, x) / kRad; }
double Asin(double v) { return std::asin(v > 1.0 ? 1.0 : (v < -1.0 ? -1.0 : v)) / kRad; }

// The Julian day of 1 January 0h of a year is enough for a decimal year:
// Delta T moves by seconds over decades.
double DecimalYear(double julianDay) { return 2000.0 + (julianDay - 2451544.5) / 365.2425; }

}  // namespace

double SkyWrap360(double degrees) {
    const double w = std::fmod(degrees, 360.0);
    return w < 0.0 ? w + 360.0 : w;
}

double SkyDeltaT(double y) {
    // Espenak & Meeus (2006), the spans of the modern era, and their long-term
    // parabola (Morrison & Stephenson 2004) outside them.
    if (y >= 1941.0 && y < 1961.0) {
        const double t = y - 1950.0;
        return 29.07 + 0.407 * t - t * t / 233.0 + t * t * t / 2547.0;
    }
    if (y >= 1961.0 && y < 1986.0) {
        const double t = y - 1975.0;
        return 45.45 + 1.067 * t - t * t / 260.0 - t * t * t / 718.0;
    }
    if (y >= 1986.0 && y < 2005.0) {
        const double t = y - 2000.0;
        return 63.86 + t * (0.3345 + t * (-0.060374 + t * (0.0017275 + t * (0.000651814 + t * 0.00002373599))));
    }
    if (y >= 2005.0 && y < 2050.0) {
        const double t = y - 2000.0;
        return 62.92 + 0.32217 * t + 0.005589 * t * t;
    }
    const double u = (y - 1820.0) / 100.0;
    if (y >= 2050.0 && y < 2150.0) return -20.0 + 32.0 * u * u - 0.5628 * (2150.0 - y);
    if (y >= 1900.0 && y < 1941.0) {
        const double t = y - 1900.0;
        return -2.79 + t * (1.494119 + t * (-0.0598939 + t * (0.0061966 - t * 0.000197)));
    }
    return -20.0 + 32.0 * u * u;
}

SkyMoment SkyMomentAt(double julianDayUT) {
    SkyMoment m;
    m.julianDayUT = julianDayUT;
    m.julianDayTT = julianDayUT + SkyDeltaT(DecimalYear(julianDayUT)) / 86400.0;
    const double t = (m.julianDayTT - 2451545.0) / 36525.0;
    m.centuriesTT = t;
    // Nutation to 0.5" (Meeus ch. 22, the abridged series of the IAU 1980
    // theory): the longitude of the moon's ascending node and the mean
    // longitudes of the sun and the moon.
    const double omega = 125.04452 - 1934.136261 * t;
    const double sunL = 280.4665 + 36000.7698 * t;
    const double moonL = 218.3165 + 481267.8813 * t;
    m.nutationLongitude =
        (-17.20 * Sin(omega) - 1.32 * Sin(2 * sunL) - 0.23 * Sin(2 * moonL) + 0.21 * Sin(2 * omega)) * kArcSecond;
    m.nutationObliquity =
        (9.20 * Cos(omega) + 0.57 * Cos(2 * sunL) + 0.10 * Cos(2 * moonL) - 0.09 * Cos(2 * omega)) * kArcSecond;
    // Mean obliquity, IAU (Meeus eq. 22.2).
    m.meanObliquity = 23.0 + 26.0 / 60.0 + (21.448 - t * (46.8150 + t * (0.00059 - t * 0.001813))) * kArcSecond;
    m.trueObliquity = m.meanObliquity + m.nutationObliquity;
    // Greenwich mean sidereal time (Meeus eq. 12.4, IAU 1982), then apparent
    // by the equation of the equinoxes.
    const double d = julianDayUT - 2451545.0;
    const double tu = d / 36525.0;
    const double mean = 280.46061837 + 360.98564736629 * d + tu * tu * (0.000387933 - tu / 38710000.0);
    m.apparentSiderealTime = SkyWrap360(mean + m.nutationLongitude * Cos(m.trueObliquity));
    return m;
}

void SkyEclipticToEquatorial(double lon, double lat, double eps, double* ra, double* dec) {
    *ra = SkyWrap360(Atan2(Sin(lon) * Cos(eps) - std::tan(lat * kRad) * Sin(eps), Cos(lon)));
    *dec = Asin(Sin(lat) * Cos(eps) + Cos(lat) * Sin(eps) * Sin(lon));
}

void SkyPrecessFromJ2000(double t, double ra, double dec, double* outRa, double* outDec) {
    // Lieske et al. (1977) as Meeus eq. 21.3 gives them, from J2000.0.
    const double zeta = (2306.2181 + (0.30188 + 0.017998 * t) * t) * t * kArcSecond;
    const double z = (2306.2181 + (1.09468 + 0.018203 * t) * t) * t * kArcSecond;
    const double theta = (2004.3109 - (0.42665 + 0.041833 * t) * t) * t * kArcSecond;
    const double a = Cos(dec) * Sin(ra + zeta);
    const double b = Cos(theta) * Cos(dec) * Cos(ra + zeta) - Sin(theta) * Sin(dec);
    const double c = Sin(theta) * Cos(dec) * Cos(ra + zeta) + Cos(theta) * Sin(dec);
    *outRa = SkyWrap360(Atan2(a, b) + z);
    *outDec = Asin(c);
}

void SkyNutate(const SkyMoment& m, double* ra, double* dec) {
    // Meeus eq. 23.1; singular only at the celestial poles, where no star of
    // the catalogue stands close enough to matter.
    const double eps = m.trueObliquity;
    const double dpsi = m.nutationLongitude;
    const double deps = m.nutationObliquity;
    const double cd = Cos(*dec);
    const double dRa = (Cos(eps) + Sin(eps) * Sin(*ra) * std::tan(*dec * kRad)) * dpsi -
                       (cd > 1e-6 ? Cos(*ra) * std::tan(*dec * kRad) * deps : 0.0);
    const double dDec = Sin(eps) * Cos(*ra) * dpsi + Sin(*ra) * deps;
    *ra = SkyWrap360(*ra + dRa);
    *dec += dDec;
}

double SkyRefraction(double h) {
    if (h > 89.9) return 0.0;
    // Below -1 degree the formula runs away; a body there is out of sight
    // anyway, so its refraction fades out by -5 degrees, keeping the seen
    // altitude rising steadily with the true one.
    const double fade = h < -1.0 ? std::max(0.0, 1.0 + (h + 1.0) / 4.0) : 1.0;
    h = std::max(h, -1.0);
    const double arcMinutes = 1.02 / std::tan((h + 10.3 / (h + 5.11)) * kRad);
    // Meeus's small correction that makes R vanish at the zenith.
    return fade * (arcMinutes + 0.0019279) / 60.0;
}

SkyHorizontal SkyTopocentric(const SkyMoment& m, const SkyPlace& place, double ra, double dec, double distance,
                             double* topoRa, double* topoDec) {
    const double lst = SkyWrap360(m.apparentSiderealTime + place.longitude);
    // Equatorial rectangular coordinates with x towards the local meridian.
    double h = lst - ra;
    double x = Cos(dec) * Cos(h);
    double y = Cos(dec) * Sin(h);
    double zc = Sin(dec);
    if (distance > 0.0) {
        // The observer's geocentric place on the IAU 1976 ellipsoid
        // (b/a = 0.99664719, a = 6378.14 km; Meeus ch. 11).
        const double u = std::atan(0.99664719 * std::tan(place.latitude * kRad));
        const double hr = place.height / 6378140.0;
        const double rhoSin = 0.99664719 * std::sin(u) + hr * Sin(place.latitude);
        const double rhoCos = std::cos(u) + hr * Cos(place.latitude);
        x = x * distance - rhoCos;
        y = y * distance;
        zc = zc * distance - rhoSin;
        const double n = std::sqrt(x * x + y * y + zc * zc);
        x /= n;
        y /= n;
        zc /= n;
    }
    const double topoHourAngle = Atan2(y, x);
    if (topoRa) *topoRa = SkyWrap360(lst - topoHourAngle);
    if (topoDec) *topoDec = Asin(zc);
    // To the horizon: rotate about the east-west axis by the colatitude.
    const double phi = place.latitude;
    const double north = -x * Sin(phi) + zc * Cos(phi);
    const double up = x * Cos(phi) + zc * Sin(phi);
    const double west = y;
    SkyHorizontal out;
    out.trueAltitude = Asin(up);
    out.azimuth = SkyWrap360(Atan2(-west, north));
    out.altitude = out.trueAltitude + SkyRefraction(out.trueAltitude);
    return out;
}

double SkySeparation(double lon1, double lat1, double lon2, double lat2) {
    // The haversine form stays exact for the small angles that matter here.
    const double s1 = Sin((lat2 - lat1) / 2.0);
    const double s2 = Sin((lon2 - lon1) / 2.0);
    const double a = s1 * s1 + Cos(lat1) * Cos(lat2) * s2 * s2;
    return 2.0 * Asin(std::sqrt(a));
}

}  // namespace kv
