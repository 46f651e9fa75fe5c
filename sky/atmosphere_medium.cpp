#include "atmosphere_medium.h"

#include <cmath>
#include <numbers>

namespace kv {

namespace {

using std::numbers::pi;

// Tables below give means over 10 nm bands, the first from 360 to 370 nm;
// between band centres they are interpolated linearly.
constexpr int kBands = 48;
constexpr double kFirstBandCentre = 365.0;

// Extraterrestrial solar spectral irradiance, W m^-2 nm^-1: the reference
// spectrum of ASTM G173-03 (after Gueymard 2004, "The sun's total and
// spectral irradiance for solar energy applications and solar radiation
// models"), averaged over each band. Its total is 1366.1 W/m^2; it is scaled
// to kSolarConstant.
constexpr double kSolarBands[kBands] = {
    1.11776, 1.14259, 1.01249, 1.14716, 1.72765, 1.73054, 1.6887,  1.61253, 1.91198, 2.03474, 2.02042, 2.02212,
    1.93377, 1.95809, 1.91686, 1.8298,  1.8685,  1.8931,  1.85149, 1.8504,  1.8341,  1.8345,  1.8147,  1.78158,
    1.7533,  1.6965,  1.68194, 1.64654, 1.6048,  1.52143, 1.55622, 1.5113,  1.474,   1.4482,  1.41018, 1.36775,
    1.34188, 1.31429, 1.28303, 1.26758, 1.2367,  1.2082,  1.18737, 1.14683, 1.12362, 1.1058,  1.07124, 1.04992};
constexpr double kSolarTotal = 1366.1;

// Absorption cross-section of ozone at 233 K, m^2 per molecule (Serdyuchenko
// et al. 2014, "High spectral resolution ozone absorption cross-sections -
// Part 2: Temperature dependence"), averaged over each band.
constexpr double kOzoneBands[kBands] = {
    1.18e-27,  2.182e-28, 2.818e-28, 6.636e-28, 1.527e-27, 2.763e-27, 5.52e-27,  8.451e-27, 1.582e-26, 2.316e-26,
    3.669e-26, 4.924e-26, 7.752e-26, 9.016e-26, 1.48e-25,  1.602e-25, 2.139e-25, 2.755e-25, 3.091e-25, 3.5e-25,
    4.266e-25, 4.672e-25, 4.398e-25, 4.701e-25, 5.019e-25, 4.305e-25, 3.74e-25,  3.215e-25, 2.662e-25, 2.238e-25,
    1.852e-25, 1.473e-25, 1.209e-25, 9.423e-26, 7.455e-26, 6.566e-26, 5.105e-26, 4.15e-26,  4.228e-26, 3.237e-26,
    2.451e-26, 2.801e-26, 2.534e-26, 1.624e-26, 1.465e-26, 2.078e-26, 1.383e-26, 7.105e-27};

double Bands(const double* table, double nm) {
    const double f = (nm - kFirstBandCentre) / 10.0;
    if (f <= 0.0) return table[0];
    if (f >= kBands - 1) return table[kBands - 1];
    const int i = static_cast<int>(f);
    const double w = f - i;
    return table[i] * (1.0 - w) + table[i + 1] * w;
}

// Rayleigh scattering cross-section of standard air, m^2 per molecule
// (Bucholtz 1995, "Rayleigh-scattering calculations for the terrestrial
// atmosphere", table 3: A lambda^-(B + C lambda + D / lambda), lambda in um,
// in cm^2), depolarisation included.
double RayleighCrossSection(double nm) {
    const double l = nm * 1e-3;
    const bool shortWave = l < 0.5;
    const double a = shortWave ? 3.01577e-28 : 4.01061e-28;
    const double b = shortWave ? 3.55212 : 3.99668;
    const double c = shortWave ? 1.35579 : 1.10298e-3;
    const double d = shortWave ? 0.11563 : 2.71393e-2;
    return a * std::pow(l, -(b + c * l + d / l)) * 1e-4;
}

// Molecules per m^3 of air at 288.15 K and 1013.25 hPa (Bucholtz 1995).
constexpr double kAirDensity = 2.54743e25;

// The ozone layer's peak density, molecules per m^3: the column over the
// area of the triangular profile.
constexpr double kOzonePeakDensity = kAtmosphereOzoneColumn / (0.5 * (kAtmosphereOzoneTop - kAtmosphereOzoneBottom));

}  // namespace

double AtmosphereAerosolDepth(float turbidity, double nm) {
    const double beta = 0.04608 * turbidity - 0.04586;
    return beta * std::pow(nm * 1e-3, -kAtmosphereAngstromAlpha);
}

void AtmosphereOpticsAt(double nm, float turbidity, AtmosphereOptics* o) {
    o->rayleigh = RayleighCrossSection(nm) * kAirDensity;
    // The depth over the exponential profile is the sea-level coefficient
    // times the scale height.
    o->mieExtinction = AtmosphereAerosolDepth(turbidity, nm) / kAtmosphereMieScaleHeight;
    o->mieScattering = o->mieExtinction * kAtmosphereMieAlbedo;
    o->ozone = Bands(kOzoneBands, nm) * kOzonePeakDensity;
    o->solarIrradiance = Bands(kSolarBands, nm) * (kSolarConstant / kSolarTotal);
}

AtmosphereDensity AtmosphereDensityAt(double altitude) {
    AtmosphereDensity d;
    d.rayleigh = std::exp(-altitude / kAtmosphereRayleighScaleHeight);
    d.mie = std::exp(-altitude / kAtmosphereMieScaleHeight);
    double ozone = 0.0;
    if (altitude > kAtmosphereOzoneBottom && altitude < kAtmosphereOzoneTop) {
        ozone = altitude < kAtmosphereOzonePeak
                    ? (altitude - kAtmosphereOzoneBottom) / (kAtmosphereOzonePeak - kAtmosphereOzoneBottom)
                    : (kAtmosphereOzoneTop - altitude) / (kAtmosphereOzoneTop - kAtmosphereOzonePeak);
    }
    d.ozone = ozone;
    return d;
}

double AtmosphereRayleighPhase(double c) { return 3.0 / (16.0 * pi) * (1.0 + c * c); }

double AtmosphereMiePhase(double c) {
    const double g = kAtmosphereMieG;
    const double g2 = g * g;
    const double k = 3.0 / (8.0 * pi) * (1.0 - g2) / (2.0 + g2);
    const double d = 1.0 + g2 - 2.0 * g * c;
    return k * (1.0 + c * c) / (d * std::sqrt(d));
}

double SunSolidAngle() { return 2.0 * pi * (1.0 - std::cos(kSunAngularRadius)); }

}  // namespace kv
