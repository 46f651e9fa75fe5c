// The Earth's clear atmosphere as a medium: a spherical planet under a shell
// of air, aerosols and ozone lit by the sun, given per wavelength. Both the
// program's physical sky and the slow reference the tests measure it against
// take every figure from here, so that they describe the same atmosphere.
//
// Lengths are metres, angles radians, wavelengths nanometres.
#pragma once

#include <numbers>

namespace kv {

// Mean radius of the Earth (Moritz 1980, "Geodetic Reference System 1980"),
// and the top of the atmosphere 100 km above it, where the air's density is
// below 1e-5 of that at the ground.
constexpr double kAtmospherePlanetRadius = 6371.0e3;
constexpr double kAtmosphereTopRadius = kAtmospherePlanetRadius + 100.0e3;

// Scale heights of the exponential profiles of air and aerosols, 8 km and
// 1.2 km (Bruneton and Neyret 2008, "Precomputed Atmospheric Scattering").
constexpr double kAtmosphereRayleighScaleHeight = 8000.0;
constexpr double kAtmosphereMieScaleHeight = 1200.0;

// Aerosols: Cornette-Shanks phase function with asymmetry 0.8 (Cornette and
// Shanks 1992, "Physically reasonable analytic expression for the
// single-scattering phase function"), single-scattering albedo 0.9
// (Bruneton and Neyret 2008), and Angstrom's wavelength exponent 1.3
// (Angstrom 1964, "The parameters of atmospheric turbidity").
constexpr double kAtmosphereMieG = 0.8;
constexpr double kAtmosphereMieAlbedo = 0.9;
constexpr double kAtmosphereAngstromAlpha = 1.3;

// Ozone: 300 Dobson units (the global mean column), in a layer whose
// density rises linearly from 10 km to its peak at 25 km and falls to zero at
// 40 km, a simple stand-in for the mid-latitude profile of the U.S. Standard
// Atmosphere 1976. One Dobson unit is 2.687e20 molecules per m^2.
constexpr double kAtmosphereOzoneColumn = 300.0 * 2.687e20;
constexpr double kAtmosphereOzoneBottom = 10.0e3;
constexpr double kAtmosphereOzonePeak = 25.0e3;
constexpr double kAtmosphereOzoneTop = 40.0e3;

// Total solar irradiance at 1 AU, W/m^2 (Kopp and Lean 2011, "A new, lower
// value of total solar irradiance: Evidence and climate significance"), and
// the sun's apparent diameter, 0.53 degrees.
constexpr double kSolarConstant = 1361.0;
constexpr double kSunAngularRadius = 0.265 * std::numbers::pi / 180.0;

// The spectral range the sky is computed over: the visible, where the
// colour matching functions are not negligible.
constexpr double kAtmosphereFirstNm = 380.0;
constexpr double kAtmosphereLastNm = 780.0;

// Viewer altitude and ground albedo the models accept, and their defaults.
constexpr float kAtmosphereMinAltitude = 0.0f;
constexpr float kAtmosphereMaxAltitude = 20000.0f;
constexpr float kAtmosphereDefaultAlbedo = 0.3f;

// The medium at one wavelength, at its reference densities: air and
// aerosols at sea level, ozone at its peak. Coefficients per metre.
struct AtmosphereOptics {
    double rayleigh;         // scattering by air (it absorbs nothing)
    double mieScattering;    // scattering by aerosols
    double mieExtinction;    // scattering and absorption by aerosols
    double ozone;            // absorption by ozone
    double solarIrradiance;  // at the top of the atmosphere, W m^-2 nm^-1
};

// The vertical optical depth of the aerosols above sea level at a wavelength,
// from the turbidity T (the program's 1.7 to 10): Angstrom's law
// tau = beta (nm / 1000)^-1.3 with beta = 0.04608 T - 0.04586, the relation
// of Preetham, Shirley and Smits 1999 ("A Practical Analytic Model for
// Daylight", appendix), so that turbidity means what it means for the
// analytic model: at 550 nm, 0.07 at T = 1.7, 0.10 at T = 2, 0.90 at T = 10.
double AtmosphereAerosolDepth(float turbidity, double nm);

void AtmosphereOpticsAt(double nm, float turbidity, AtmosphereOptics* optics);

// Densities relative to the reference ones at an altitude above the ground.
struct AtmosphereDensity {
    double rayleigh;
    double mie;
    double ozone;
};
AtmosphereDensity AtmosphereDensityAt(double altitude);

// Phase functions (per steradian, integrating to 1 over the sphere) of the
// angle between the light's direction before and after scattering.
double AtmosphereRayleighPhase(double cosAngle);
double AtmosphereMiePhase(double cosAngle);

// Solid angle of the sun's disc, sr.
double SunSolidAngle();

}  // namespace kv
