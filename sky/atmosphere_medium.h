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

// Scale height of the air's exponential profile, 8 km (Bruneton and Neyret
// 2008, "Precomputed Atmospheric Scattering").
constexpr double kAtmosphereRayleighScaleHeight = 8000.0;

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

// The kinds of aerosols a sky can have, after the standard mixtures of
// Hess, Koepke and Schult 1998 ("Optical Properties of Aerosols and Clouds:
// The Software Package OPAC", BAMS 79, table 4): continental average,
// maritime clean, urban and desert.
enum AtmosphereAerosolKind : int {
    AtmosphereAerosolContinental = 0,
    AtmosphereAerosolMaritime = 1,
    AtmosphereAerosolUrban = 2,
    AtmosphereAerosolDesert = 3,
};
constexpr int kAtmosphereAerosolKinds = 4;
// The names --aerosols takes, by kind.
constexpr const char* kAtmosphereAerosolNames[kAtmosphereAerosolKinds] = {"continental", "maritime", "urban", "desert"};

// What a user says of the aerosols: their kind, and their vertical optical
// depth at 550 nm when measured (a sun photometer's), or 0 to take it from
// the turbidity (AtmosphereAerosolDepth550).
struct AtmosphereAerosols {
    AtmosphereAerosolKind kind = AtmosphereAerosolContinental;
    float depth550 = 0.0f;
};
// The optical depths --aod accepts: from a sky clearer than any measured at
// sea level to a thick haze.
constexpr float kAtmosphereMinDepth = 0.01f;
constexpr float kAtmosphereMaxDepth = 3.0f;

// Everything the solver and its reference know of the aerosols: how much
// there is, how its depth varies with wavelength, how it scatters and how it
// is spread with height.
struct AtmosphereMedium {
    double depth550;       // vertical optical depth at 550 nm above sea level
    double beta;           // Angstrom's turbidity coefficient: the depth at 1000 nm by angstromLong
    double angstromShort;  // Angstrom exponent below 500 nm
    double angstromLong;   // and above
    double albedo;         // single-scattering albedo
    double asymmetry;      // mean cosine of the scattering angle
    double phaseG;         // the Cornette-Shanks parameter with that mean cosine
    double scaleHeight;    // of the exponential profile, m
    double column;         // integral of the relative density over height, m
    double airDensity;     // molecules of air per m^3 at sea level
};

// The vertical optical depth at 550 nm the physical sky gives a turbidity T
// (the program's 1.7 to 10): Angstrom's beta of Preetham, Shirley and Smits
// 1999 ("A Practical Analytic Model for Daylight", appendix),
// beta = 0.04608 T - 0.04586, at 550 nm with their exponent 1.3.
double AtmosphereAerosolDepth550(float turbidity);
// The Linke turbidity at air mass 2 that a sky of that optical depth and
// Angstrom exponent has, for a column of precipitable water of 1.4 cm.
double AtmosphereLinkeTurbidity(double depth550, double angstrom);

// The medium of the physical sky for a turbidity and what is said of the
// aerosols.
AtmosphereMedium AtmosphereMediumFor(float turbidity, const AtmosphereAerosols& aerosols);
// The medium of the analytic model's sun: the aerosols of Preetham et al.
// 1999 (exponent 1.3 at every wavelength) in an exponential profile 1.2 km
// high (Bruneton and Neyret 2008), as it has always been.
AtmosphereMedium AtmosphereAnalyticSunMedium(float turbidity);

// The vertical optical depth of the aerosols at a wavelength.
double AtmosphereAerosolDepth(const AtmosphereMedium& medium, double nm);

// The medium at one wavelength, at its reference densities: air and
// aerosols at sea level, ozone at its peak. Coefficients per metre.
struct AtmosphereOptics {
    double rayleigh;         // scattering by air (it absorbs nothing)
    double mieScattering;    // scattering by aerosols
    double mieExtinction;    // scattering and absorption by aerosols
    double ozone;            // absorption by ozone
    double solarIrradiance;  // at the top of the atmosphere, W m^-2 nm^-1
};
void AtmosphereOpticsAt(const AtmosphereMedium& medium, double nm, AtmosphereOptics* optics);

// Densities relative to the reference ones at an altitude above the ground.
struct AtmosphereDensity {
    double rayleigh;
    double mie;
    double ozone;
};
AtmosphereDensity AtmosphereDensityAt(const AtmosphereMedium& medium, double altitude);

// The integral of a density along a step of a ray, from its values at both
// ends: exact where it changes exponentially along the step, as the
// exponential profiles of air (scale height h) and aerosols nearly do.
double AtmosphereDensityStep(double a, double b, double altA, double altB, double h, double length);
double AtmosphereAerosolStep(const AtmosphereMedium& medium, double a, double b, double altA, double altB,
                             double length);

// Phase functions (per steradian, integrating to 1 over the sphere) of the
// angle between the light's direction before and after scattering.
double AtmosphereRayleighPhase(double cosAngle);
double AtmosphereMiePhase(const AtmosphereMedium& medium, double cosAngle);

// Solid angle of the sun's disc, sr.
double SunSolidAngle();

}  // namespace kv
