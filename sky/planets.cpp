#include "planets.h"

#include <cmath>
#include <numbers>

#include "planet_series.h"

namespace kv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;
// Earth radii in an astronomical unit (IAU 2012 au, IAU 1976 radius).
constexpr double kEarthRadiiPerAu = 149597870.7 / 6378.14;
// The constant of aberration, degrees (Meeus ch. 23).
constexpr double kAberration = 20.49552 / 3600.0;

double Sin(double d) { return std::sin(d * kRad); }
double Cos(double d) { return std::cos(d * kRad); }

struct Heliocentric {
    double l;  // radians
    double b;
    double r;  // AU
};

Heliocentric At(VsopPlanet body, double julianDayTT) {
    Heliocentric h{};
    VsopEvaluate(VsopBodyOf(body), (julianDayTT - 2451545.0) / 365250.0, &h.l, &h.b, &h.r);
    return h;
}

VsopPlanet SeriesOf(Planet p) {
    switch (p) {
        case Planet::kMercury:
            return VsopPlanet::kMercury;
        case Planet::kVenus:
            return VsopPlanet::kVenus;
        case Planet::kMars:
            return VsopPlanet::kMars;
        case Planet::kJupiter:
            return VsopPlanet::kJupiter;
        case Planet::kSaturn:
            break;
    }
    return VsopPlanet::kSaturn;
}

// Mallama & Hilton (2018), the Almanac's formulas for the phase angles seen
// from the Earth (their eqs. for Mercury, Venus, Mars, Jupiter, and Saturn
// with its rings), before the distance term 5 log10(r delta).
double PhaseMagnitude(Planet p, double a, double ringTilt) {
    switch (p) {
        case Planet::kMercury:
            return -0.613 +
                   a * (6.3280e-02 +
                        a * (-1.6336e-03 + a * (3.3644e-05 + a * (-3.4265e-07 + a * (1.6893e-09 - a * 3.0334e-12)))));
        case Planet::kVenus:
            if (a <= 163.7) return -4.384 + a * (-1.044e-03 + a * (3.687e-04 + a * (-2.814e-06 + a * 8.938e-09)));
            return 236.05828 + a * (-2.81914 + a * 8.39034e-03);
        case Planet::kMars:
            if (a <= 50.0) return -1.601 + a * (2.267e-02 - a * 1.302e-04);
            return -0.367 + a * (-0.02573 + a * 3.445e-04);
        case Planet::kJupiter:
            return -9.395 + a * (-3.7e-04 + a * 6.16e-04);
        case Planet::kSaturn: {
            // The rings' formula holds for a tilt up to 27 degrees, the
            // largest the Earth sees.
            const double s = std::sin(std::fabs(ringTilt) * kRad);
            return -8.914 - 1.825 * s + 0.026 * a - 0.378 * s * std::exp(-2.25 * a);
        }
    }
    return 0.0;
}

}  // namespace

const char* PlanetName(Planet planet) {
    static const char* const names[kPlanetCount] = {"Mercury", "Venus", "Mars", "Jupiter", "Saturn"};
    return names[static_cast<int>(planet)];
}

double MagnitudeIlluminance(double magnitude) { return 2.5e-6 * std::pow(10.0, -0.4 * magnitude); }

SunPlace SunApparent(const SkyMoment& m) {
    const Heliocentric e = At(VsopPlanet::kEarth, m.julianDayTT);
    SunPlace s;
    s.distance = e.r;
    // Geocentric: the Earth's heliocentric place turned round; then nutation
    // and the aberration of the sun's light (Meeus eq. 25.10).
    s.longitude = SkyWrap360(e.l / kRad + 180.0 + m.nutationLongitude - kAberration / e.r);
    s.latitude = -e.b / kRad;
    SkyEclipticToEquatorial(s.longitude, s.latitude, m.trueObliquity, &s.rightAscension, &s.declination);
    return s;
}

double SaturnRingTilt(double t, double lambda, double beta) {
    // The ring plane's inclination and node on the ecliptic of date.
    const double i = 28.075216 - t * (0.012998 - t * 0.000004);
    const double node = 169.508470 + t * (1.394681 + t * 0.000412);
    const double s = Sin(i) * Cos(beta) * Sin(lambda - node) - Cos(i) * Sin(beta);
    return std::asin(s) / kRad;
}

PlanetView PlanetObserve(Planet planet, const SkyMoment& m, const SkyPlace& place) {
    const Heliocentric earth = At(VsopPlanet::kEarth, m.julianDayTT);
    const double ex = earth.r * std::cos(earth.b) * std::cos(earth.l);
    const double ey = earth.r * std::cos(earth.b) * std::sin(earth.l);
    const double ez = earth.r * std::sin(earth.b);
    // Light time: the planet where it was when the light now arriving left it.
    double tau = 0.0;
    double x = 0.0, y = 0.0, z = 0.0, delta = 0.0;
    Heliocentric p{};
    for (int pass = 0; pass < 3; ++pass) {
        p = At(SeriesOf(planet), m.julianDayTT - tau);
        x = p.r * std::cos(p.b) * std::cos(p.l) - ex;
        y = p.r * std::cos(p.b) * std::sin(p.l) - ey;
        z = p.r * std::sin(p.b) - ez;
        delta = std::sqrt(x * x + y * y + z * z);
        tau = 0.0057755183 * delta;
    }
    double lambda = SkyWrap360(std::atan2(y, x) / kRad);
    double beta = std::atan2(z, std::sqrt(x * x + y * y)) / kRad;
    const double ringTilt = SaturnRingTilt(m.centuriesTT, lambda, beta);
    // Annual aberration (Meeus eq. 23.2, its circular part) and nutation.
    const double sunLongitude = earth.l / kRad + 180.0;
    lambda += -kAberration * Cos(sunLongitude - lambda) / Cos(beta) + m.nutationLongitude;
    beta += -kAberration * Sin(beta) * Sin(sunLongitude - lambda);
    double ra = 0.0, dec = 0.0;
    SkyEclipticToEquatorial(lambda, beta, m.trueObliquity, &ra, &dec);

    PlanetView v;
    v.horizontal = SkyTopocentric(m, place, ra, dec, delta * kEarthRadiiPerAu, &v.rightAscension, &v.declination);
    v.distance = delta;
    v.sunDistance = p.r;
    const double r = p.r;
    const double cosPhase = (r * r + delta * delta - earth.r * earth.r) / (2.0 * r * delta);
    v.phaseAngle = std::acos(cosPhase > 1.0 ? 1.0 : (cosPhase < -1.0 ? -1.0 : cosPhase)) / kRad;
    v.illuminatedFraction = (1.0 + Cos(v.phaseAngle)) / 2.0;
    v.magnitude = 5.0 * std::log10(r * delta) + PhaseMagnitude(planet, v.phaseAngle, ringTilt);
    v.illuminance = MagnitudeIlluminance(v.magnitude);
    return v;
}

}  // namespace kv
