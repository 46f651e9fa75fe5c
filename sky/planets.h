// The sun and the five planets seen by eye, for a place and a moment: their
// apparent places from the truncated VSOP87 series (planet_series.h), with
// light time, nutation and aberration of the sun (Meeus, Astronomical
// Algorithms, chapters 25 and 33), and their V magnitudes from Mallama &
// Hilton (2018, "Computing apparent planetary magnitudes for The
// Astronomical Almanac", Astronomy and Computing 25, 10-24).
#pragma once

#include "ephemeris.h"

namespace kv {

enum class Planet { kMercury, kVenus, kMars, kJupiter, kSaturn };
constexpr int kPlanetCount = 5;
const char* PlanetName(Planet planet);

// The sun's geocentric apparent place: ecliptic of date and equatorial.
struct SunPlace {
    double longitude = 0.0;  // degrees
    double latitude = 0.0;
    double distance = 0.0;  // AU
    double rightAscension = 0.0;
    double declination = 0.0;
};
SunPlace SunApparent(const SkyMoment& moment);

struct PlanetView {
    SkyHorizontal horizontal;
    double rightAscension = 0.0;  // topocentric apparent, degrees
    double declination = 0.0;
    double distance = 0.0;     // from the Earth, AU
    double sunDistance = 0.0;  // from the sun, AU
    double phaseAngle = 0.0;   // sun-planet-Earth, degrees
    double illuminatedFraction = 0.0;
    double magnitude = 0.0;    // V
    double illuminance = 0.0;  // lux at the top of the atmosphere
};
PlanetView PlanetObserve(Planet planet, const SkyMoment& moment, const SkyPlace& place);

// The illuminance in lux outside the atmosphere of a point source of V
// magnitude: 2.5e-6 lux for V = 0 (the zero point of the V band, about
// 3.6e-8 W m^-2 um^-1 at 550 nm times the photopic efficacy over the band;
// Allen's Astrophysical Quantities, 4th ed., 2000, section 5.4).
double MagnitudeIlluminance(double magnitude);

// The ring plane's tilt towards the Earth, degrees (Meeus ch. 45, its B).
double SaturnRingTilt(double centuriesTT, double geocentricLongitude, double geocentricLatitude);

}  // namespace kv
