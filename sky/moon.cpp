#include "moon.h"

#include <cmath>
#include <numbers>

#include "planets.h"

namespace kv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;
constexpr double kEarthRadiusKm = 6378.14;
constexpr double kMoonRadiusKm = 1737.4;
constexpr double kAuKm = 149597870.7;

double Sin(double d) { return std::sin(d * kRad); }
double Cos(double d) { return std::cos(d * kRad); }

// Meeus's table 47.A: multiples of D, M, M', F; sine coefficients of the
// longitude (1e-6 degree) and cosine coefficients of the distance (1e-3 km).
struct LongitudeTerm {
    signed char d, m, mp, f;
    double l;
    double r;
};
constexpr LongitudeTerm kLongitude[] = {
    {0, 0, 1, 0, 6288774, -20905355},
    {2, 0, -1, 0, 1274027, -3699111},
    {2, 0, 0, 0, 658314, -2955968},
    {0, 0, 2, 0, 213618, -569925},
    {0, 1, 0, 0, -185116, 48888},
    {0, 0, 0, 2, -114332, -3149},
    {2, 0, -2, 0, 58793, 246158},
    {2, -1, -1, 0, 57066, -152138},
    {2, 0, 1, 0, 53322, -170733},
    {2, -1, 0, 0, 45758, -204586},
    {0, 1, -1, 0, -40923, -129620},
    {1, 0, 0, 0, -34720, 108743},
    {0, 1, 1, 0, -30383, 104755},
    {2, 0, 0, -2, 15327, 10321},
    {0, 0, 1, 2, -12528, 0},
    {0, 0, 1, -2, 10980, 79661},
    {4, 0, -1, 0, 10675, -34782},
    {0, 0, 3, 0, 10034, -23210},
    {4, 0, -2, 0, 8548, -21636},
    {2, 1, -1, 0, -7888, 24208},
    {2, 1, 0, 0, -6766, 30824},
    {1, 0, -1, 0, -5163, -8379},
    {1, 1, 0, 0, 4987, -16675},
    {2, -1, 1, 0, 4036, -12831},
    {2, 0, 2, 0, 3994, -10445},
    {4, 0, 0, 0, 3861, -11650},
    {2, 0, -3, 0, 3665, 14403},
    {0, 1, -2, 0, -2689, -7003},
    {2, 0, -1, 2, -2602, 0},
    {2, -1, -2, 0, 2390, 10056},
    {1, 0, 1, 0, -2348, 6322},
    {2, -2, 0, 0, 2236, -9884},
    {0, 1, 2, 0, -2120, 5751},
    {0, 2, 0, 0, -2069, 0},
    {2, -2, -1, 0, 2048, -4950},
    {2, 0, 1, -2, -1773, 4130},
    {2, 0, 0, 2, -1595, 0},
    {4, -1, -1, 0, 1215, -3958},
    {0, 0, 2, 2, -1110, 0},
    {3, 0, -1, 0, -892, 3258},
    {2, 1, 1, 0, -810, 2616},
    {4, -1, -2, 0, 759, -1897},
    {0, 2, -1, 0, -713, -2117},
    {2, 2, -1, 0, -700, 2354},
    {2, 1, -2, 0, 691, 0},
    {2, -1, 0, -2, 596, 0},
    {4, 0, 1, 0, 549, -1423},
    {0, 0, 4, 0, 537, -1117},
    {4, -1, 0, 0, 520, -1571},
    {1, 0, -2, 0, -487, -1739},
    {2, 1, 0, -2, -399, 0},
    {0, 0, 2, -2, -381, -4421},
    {1, 1, 1, 0, 351, 0},
    {3, 0, -2, 0, -340, 0},
    {4, 0, -3, 0, 330, 0},
    {2, -1, 2, 0, 327, 0},
    {0, 2, 1, 0, -323, 1165},
    {1, 1, -1, 0, 299, 0},
    {2, 0, 3, 0, 294, 0},
    {2, 0, -1, -2, 0, 8752},
};

// Meeus's table 47.B: sine coefficients of the latitude (1e-6 degree).
struct LatitudeTerm {
    signed char d, m, mp, f;
    double b;
};
constexpr LatitudeTerm kLatitude[] = {
    {0, 0, 0, 1, 5128122}, {0, 0, 1, 1, 280602},  {0, 0, 1, -1, 277693}, {2, 0, 0, -1, 173237}, {2, 0, -1, 1, 55413},
    {2, 0, -1, -1, 46271}, {2, 0, 0, 1, 32573},   {0, 0, 2, 1, 17198},   {2, 0, 1, -1, 9266},   {0, 0, 2, -1, 8822},
    {2, -1, 0, -1, 8216},  {2, 0, -2, -1, 4324},  {2, 0, 1, 1, 4200},    {2, 1, 0, -1, -3359},  {2, -1, -1, 1, 2463},
    {2, -1, 0, 1, 2211},   {2, -1, -1, -1, 2065}, {0, 1, -1, -1, -1870}, {4, 0, -1, -1, 1828},  {0, 1, 0, 1, -1794},
    {0, 0, 0, 3, -1749},   {0, 1, -1, 1, -1565},  {1, 0, 0, 1, -1491},   {0, 1, 1, 1, -1475},   {0, 1, 1, -1, -1410},
    {0, 1, 0, -1, -1344},  {1, 0, 0, -1, -1335},  {0, 0, 3, 1, 1107},    {4, 0, 0, -1, 1021},   {4, 0, -1, 1, 833},
    {0, 0, 1, -3, 777},    {4, 0, -2, 1, 671},    {2, 0, 0, -3, 607},    {2, 0, 2, -1, 596},    {2, -1, 1, -1, 491},
    {2, 0, -2, 1, -451},   {0, 0, 3, -1, 439},    {2, 0, 2, 1, 422},     {2, 0, -3, -1, 421},   {2, 1, -1, 1, -366},
    {2, 1, 0, 1, -351},    {4, 0, 0, 1, 331},     {2, -1, 1, 1, 315},    {2, -2, 0, -1, 302},   {0, 0, 1, 3, -283},
    {2, 1, 1, -1, -229},   {1, 1, 0, -1, 223},    {1, 1, 0, 1, 223},     {0, 1, -2, -1, -220},  {2, 1, -1, -1, -220},
    {1, 0, 1, 1, -185},    {2, -1, -2, -1, 181},  {0, 1, 2, 1, -177},    {4, 0, -2, -1, 176},   {4, -1, -1, -1, 166},
    {1, 0, 1, -1, -164},   {4, 0, 1, -1, 132},    {1, 0, -1, -1, -119},  {4, -1, 0, -1, 115},   {2, -2, 0, 1, 107},
};

}  // namespace

MoonGeocentric MoonGeocentricAt(double julianDayTT) {
    const double t = (julianDayTT - 2451545.0) / 36525.0;
    const double t2 = t * t, t3 = t2 * t, t4 = t3 * t;
    // Mean longitude, elongation, the sun's and the moon's mean anomalies and
    // the argument of latitude (Meeus eqs. 47.1-47.5).
    const double lp = 218.3164477 + 481267.88123421 * t - 0.0015786 * t2 + t3 / 538841.0 - t4 / 65194000.0;
    const double d = 297.8501921 + 445267.1114034 * t - 0.0018819 * t2 + t3 / 545868.0 - t4 / 113065000.0;
    const double m = 357.5291092 + 35999.0502909 * t - 0.0001536 * t2 + t3 / 24490000.0;
    const double mp = 134.9633964 + 477198.8675055 * t + 0.0087414 * t2 + t3 / 69699.0 - t4 / 14712000.0;
    const double f = 93.2720950 + 483202.0175233 * t - 0.0036539 * t2 - t3 / 3526000.0 + t4 / 863310000.0;
    const double a1 = 119.75 + 131.849 * t;     // Venus's action
    const double a2 = 53.09 + 479264.290 * t;   // Jupiter's action
    const double a3 = 313.45 + 481266.484 * t;  // the Earth's flattening
    // The decreasing eccentricity of the Earth's orbit (Meeus eq. 47.6).
    const double e = 1.0 - 0.002516 * t - 0.0000074 * t2;

    double sl = 0.0, sr = 0.0, sb = 0.0;
    for (const LongitudeTerm& k : kLongitude) {
        const double arg = k.d * d + k.m * m + k.mp * mp + k.f * f;
        const double scale = k.m == 0 ? 1.0 : (k.m == 1 || k.m == -1 ? e : e * e);
        sl += k.l * scale * Sin(arg);
        sr += k.r * scale * Cos(arg);
    }
    for (const LatitudeTerm& k : kLatitude) {
        const double arg = k.d * d + k.m * m + k.mp * mp + k.f * f;
        const double scale = k.m == 0 ? 1.0 : (k.m == 1 || k.m == -1 ? e : e * e);
        sb += k.b * scale * Sin(arg);
    }
    sl += 3958.0 * Sin(a1) + 1962.0 * Sin(lp - f) + 318.0 * Sin(a2);
    sb += -2235.0 * Sin(lp) + 382.0 * Sin(a3) + 175.0 * Sin(a1 - f) + 175.0 * Sin(a1 + f) + 127.0 * Sin(lp - mp) -
          115.0 * Sin(lp + mp);
    MoonGeocentric g;
    g.longitude = SkyWrap360(lp + sl / 1e6);
    g.latitude = sb / 1e6;
    g.distance = 385000.56 + sr / 1000.0;
    return g;
}

MoonView MoonObserve(const SkyMoment& mo, const SkyPlace& place) {
    const MoonGeocentric g = MoonGeocentricAt(mo.julianDayTT);
    const double lambda = g.longitude + mo.nutationLongitude;
    double ra = 0.0, dec = 0.0;
    SkyEclipticToEquatorial(lambda, g.latitude, mo.trueObliquity, &ra, &dec);

    MoonView v;
    v.horizontal = SkyTopocentric(mo, place, ra, dec, g.distance / kEarthRadiusKm, &v.rightAscension, &v.declination);
    // The observer's distance: the geocentric one less the observer's
    // component towards the moon (Earth radii are small beside 60 of them).
    const double sinAlt = Sin(v.horizontal.trueAltitude);
    v.distance = g.distance - kEarthRadiusKm * sinAlt;
    v.angularRadius = std::asin(kMoonRadiusKm / v.distance) / kRad;

    // Phase from the geocentric elongation (Meeus eqs. 48.2, 48.3); the
    // topocentric phase differs by under 0.001 in the fraction.
    const SunPlace sun = SunApparent(mo);
    const double cosPsi = Cos(g.latitude) * Cos(lambda - sun.longitude);
    const double psi = std::acos(cosPsi > 1.0 ? 1.0 : (cosPsi < -1.0 ? -1.0 : cosPsi));
    const double sunKm = sun.distance * kAuKm;
    v.phaseAngle = std::atan2(sunKm * std::sin(psi), g.distance - sunKm * cosPsi) / kRad;
    v.illuminatedFraction = (1.0 + Cos(v.phaseAngle)) / 2.0;
    v.waxing = SkyWrap360(lambda - sun.longitude) < 180.0;
    const double ra0 = sun.rightAscension, dec0 = sun.declination;
    v.brightLimbAngle = SkyWrap360(
        std::atan2(Cos(dec0) * Sin(ra0 - ra), Sin(dec0) * Cos(dec) - Cos(dec0) * Sin(dec) * Cos(ra0 - ra)) / kRad);

    v.magnitude = MoonMagnitude(v.phaseAngle, v.distance);
    v.illuminance = MagnitudeIlluminance(v.magnitude);
    return v;
}

double MoonMagnitude(double a, double distanceKm) {
    // Krisciunas & Schaefer (1991) eq. 9 for the mean distance of 384,400 km,
    // scaled by the inverse square of the true one.
    a = std::fabs(a);
    return -12.73 + 0.026 * a + 4e-9 * a * a * a * a + 5.0 * std::log10(distanceKm / 384400.0);
}

}  // namespace kv
