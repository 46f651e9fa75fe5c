// The series of the planetary theory VSOP87 (Bretagnon & Francou 1988,
// A&A 202, 309), version D: heliocentric ecliptic longitude L, latitude B
// and radius R referred to the ecliptic and equinox of the date, as Meeus
// (Astronomical Algorithms, 2nd ed., appendix III) prints them: amplitudes
// in 1e-8 radian (L, B) or 1e-8 AU (R), phases in radians, frequencies in
// radians per Julian millennium. Each series is cut further below Meeus's
// tables where a term's largest effect over 1950-2090 (|tau| < 0.1
// millennium) stays under about an arcsecond.
#pragma once

#include <cstddef>

namespace kv {

struct VsopTerm {
    double a;
    double b;
    double c;
};

struct VsopSeries {
    const VsopTerm* terms;
    std::size_t count;
};

// L0..L5, B0..B5, R0..R5 of one body.
struct VsopBody {
    VsopSeries l[6];
    VsopSeries b[6];
    VsopSeries r[6];
};

enum class VsopPlanet { kMercury, kVenus, kEarth, kMars, kJupiter, kSaturn };

const VsopBody& VsopBodyOf(VsopPlanet planet);

// The sum of one body's series at tau Julian millennia of TT from J2000.0:
// longitude and latitude in radians, radius in AU.
void VsopEvaluate(const VsopBody& body, double tau, double* l, double* b, double* r);

}  // namespace kv
