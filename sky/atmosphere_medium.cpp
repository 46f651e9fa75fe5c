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

// Depolarisation of air from its King factor F at 550 nm, rho = 6 (F - 1) /
// (3 + 7 F): F = 1.0488 for the mix of N2, O2, Ar and CO2 with the factors of
// Bates 1984 that Bodhaine et al. 1999 use, so rho = 0.0283 (0.0297 at 400 nm,
// 0.0278 at 700). The anisotropy of the molecules that raises the
// cross-section also makes their scattering a little more even over angle
// (Chandrasekhar 1950, "Radiative Transfer"; Bucholtz 1995, eq. 12).
constexpr double kAirKingFactor = 1.0488;
constexpr double kAirDepolarisation = 6.0 * (kAirKingFactor - 1.0) / (3.0 + 7.0 * kAirKingFactor);

// The U.S. Standard Atmosphere 1976 (NOAA-S/T 76-1562, table 4): layers of
// linear temperature in geopotential altitude, from their base (m) with
// their lapse rate (K/m), sea level at 288.15 K and 101325 Pa; the air in
// hydrostatic equilibrium with g0 M0 / R* = 0.034163195 K/m. Above 86 km
// (84852 m geopotential) the standard's air is no longer mixed; the last
// layer's temperature is kept to the top, where the air's density is below
// 1e-6 of the ground's and scatters nothing that shows.
struct AirLayer {
    double base;
    double lapse;
};
constexpr AirLayer kAirLayers[] = {{0.0, -6.5e-3}, {11000.0, 0.0},     {20000.0, 1.0e-3},  {32000.0, 2.8e-3},
                                   {47000.0, 0.0}, {51000.0, -2.8e-3}, {71000.0, -2.0e-3}, {84852.0, 0.0}};
constexpr double kAirGravityRatio = 0.034163195;
// The standard's effective Earth radius for geopotential altitude, m.
constexpr double kGeopotentialRadius = 6356766.0;

// Log of the density relative to sea level's at a geometric altitude (m),
// layer by layer: (T / Tb)^(-1 - g0 M0 / (R* L)) where the temperature
// changes, e^(-g0 M0 (H - Hb) / (R* Tb)) where it does not.
double StandardLogDensity(double altitude) {
    const double h = kGeopotentialRadius * altitude / (kGeopotentialRadius + altitude);
    double t = 288.15;
    double logDensity = 0.0;
    constexpr int kLayers = sizeof kAirLayers / sizeof kAirLayers[0];
    for (int i = 0; i < kLayers; ++i) {
        const AirLayer& l = kAirLayers[i];
        const double top = i + 1 < kLayers ? kAirLayers[i + 1].base : h;
        const double dh = std::fmin(h, top) - l.base;
        if (dh <= 0.0) break;
        if (l.lapse == 0.0) {
            logDensity -= kAirGravityRatio * dh / t;
        } else {
            const double t1 = t + l.lapse * dh;
            logDensity += (-1.0 - kAirGravityRatio / l.lapse) * std::log(t1 / t);
            t = t1;
        }
    }
    return logDensity;
}

// That log every 250 m to the top, between which it changes linearly to
// within 1e-4: made once, then only read.
constexpr double kAirStep = 250.0;
constexpr int kAirEntries = static_cast<int>((kAtmosphereTopRadius - kAtmospherePlanetRadius) / kAirStep) + 2;
struct AirProfile {
    double logDensity[kAirEntries];
    AirProfile() {
        for (int i = 0; i < kAirEntries; ++i) logDensity[i] = StandardLogDensity(i * kAirStep);
    }
};

double AirDensity(double altitude) {
    static const AirProfile profile;
    // Not a number counts as the ground, never as an index.
    const double f = altitude > 0.0 ? std::fmin(altitude / kAirStep, kAirEntries - 1.000001) : 0.0;
    const int i = static_cast<int>(f);
    const double w = f - i;
    return std::exp(profile.logDensity[i] * (1.0 - w) + profile.logDensity[i + 1] * w);
}

// The ozone layer's peak density, molecules per m^3: the column over the
// area of the triangular profile.
constexpr double kOzonePeakDensity = kAtmosphereOzoneColumn / (0.5 * (kAtmosphereOzoneTop - kAtmosphereOzoneBottom));

// The aerosol kinds at 550 nm and 80% relative humidity, from Hess, Koepke
// and Schult 1998 (table 4: single-scattering albedo, asymmetry parameter,
// Angstrom exponents between 350 and 500 nm and between 500 and 800 nm, for
// continental average, maritime clean, urban and desert), and their default
// profiles (table 5: exponential with the scale height given, in a mixing
// layer 2 km deep, 6 km for desert dust).
struct AerosolKind {
    double albedo;
    double asymmetry;
    double angstromShort;
    double angstromLong;
    double scaleHeight;   // in the mixing layer
    double mixingHeight;  // its top
};
constexpr AerosolKind kKinds[kAtmosphereAerosolKinds] = {
    {0.925, 0.703, 1.11, 1.42, 8000.0, 2000.0},  // continental average
    {0.997, 0.772, 0.12, 0.08, 1000.0, 2000.0},  // maritime clean
    {0.817, 0.689, 1.14, 1.43, 8000.0, 2000.0},  // urban
    {0.888, 0.729, 0.20, 0.17, 2000.0, 6000.0},  // desert
};
// Where the two Angstrom exponents meet, nm.
constexpr double kAngstromBreakNm = 500.0;
// Preetham et al.'s exponent, at every wavelength.
constexpr double kPreethamAngstrom = 1.3;
// Precipitable water for the Linke turbidity, cm: about the mean over the
// mid-latitudes (Remund et al. 2003 take it from the site's climate).
constexpr double kPrecipitableWater = 1.4;
// The solver samples its rays too coarsely for the mixing layer's sharp top
// (a step of a few hundred metres, where its view rays take one sample every
// 700 m): the aerosols are given an exponential profile with the same mean
// height as the kind's layer, Z - H e^(-H/Z) / (1 - e^(-H/Z)), which keeps
// where the haze sits (0.97 km for continental and urban aerosols, 0.69 km
// for maritime, 1.69 km for desert dust) and what the sun's path crosses.
double LayerMeanHeight(double scaleHeight, double mixingHeight) {
    const double e = std::exp(-mixingHeight / scaleHeight);
    return scaleHeight - mixingHeight * e / (1.0 - e);
}

// Above 28 scale heights (27 km for the lowest haze) the aerosols are taken
// as none: their density there, below 1e-12 of the ground's, would make the
// solver's single-precision sums denormal, and those are many times slower.
constexpr double kAerosolTop = 27.6;

double AerosolDensity(const AtmosphereMedium& m, double altitude) {
    const double x = altitude / m.scaleHeight;
    return x < kAerosolTop ? std::exp(-x) : 0.0;
}

// The vertical integral of the relative density to the top of the
// atmosphere, by Simpson's rule on 10 m steps.
double Column(const AtmosphereMedium& m) {
    const double top = kAtmosphereTopRadius - kAtmospherePlanetRadius;
    constexpr int kIntervals = 10000;
    double sum = 0.0;
    for (int i = 0; i <= kIntervals; ++i) {
        const double w = (i == 0 || i == kIntervals) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
        sum += w * AerosolDensity(m, top * i / kIntervals);
    }
    return sum * top / (3.0 * kIntervals);
}

// The Cornette-Shanks phase function with parameter g has the mean cosine
// 3 g (4 + g^2) / (5 (2 + g^2)) (Cornette and Shanks 1992), well above g
// itself; the parameter that gives a published asymmetry is found by
// bisection, the mean cosine rising with g.
double CornetteShanksAsymmetry(double g) { return 3.0 * g * (4.0 + g * g) / (5.0 * (2.0 + g * g)); }

double CornetteShanksParameter(double asymmetry) {
    double lo = 0.0;
    double hi = 0.999;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        (CornetteShanksAsymmetry(mid) < asymmetry ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

}  // namespace

double AtmosphereAerosolDepth550(float turbidity) {
    const double beta = 0.04608 * turbidity - 0.04586;
    return beta * std::pow(0.55, -kPreethamAngstrom);
}

double AtmosphereLinkeTurbidity(double depth550, double angstrom) {
    // Remund, Wald, Lefevre, Ranchin and Page 2003 ("Worldwide Linke
    // turbidity information", ISES Solar World Congress): at air mass 2,
    // TL = 1.8494 + 0.2425 w - 0.0203 w^2 + beta (15.427 + 0.3153 w - 0.0254 w^2)
    // with w the precipitable water in cm and beta Angstrom's coefficient.
    const double w = kPrecipitableWater;
    const double beta = depth550 * std::pow(0.55, angstrom);
    return 1.8494 + 0.2425 * w - 0.0203 * w * w + beta * (15.427 + 0.3153 * w - 0.0254 * w * w);
}

AtmosphereMedium AtmosphereMediumFor(float turbidity, const AtmosphereAerosols& aerosols) {
    const int kind = aerosols.kind >= 0 && aerosols.kind < kAtmosphereAerosolKinds ? aerosols.kind : 0;
    const AerosolKind& k = kKinds[kind];
    AtmosphereMedium m;
    m.depth550 = aerosols.depth550 > 0.0f ? aerosols.depth550 : AtmosphereAerosolDepth550(turbidity);
    m.angstromShort = k.angstromShort;
    m.angstromLong = k.angstromLong;
    m.beta = m.depth550 * std::pow(0.55, m.angstromLong);
    m.albedo = k.albedo;
    m.asymmetry = k.asymmetry;
    m.phaseG = CornetteShanksParameter(k.asymmetry);
    m.scaleHeight = LayerMeanHeight(k.scaleHeight, k.mixingHeight);
    m.column = Column(m);
    m.airScaleHeight = 0.0;
    return m;
}

AtmosphereMedium AtmosphereAnalyticSunMedium(float turbidity) {
    AtmosphereMedium m;
    m.beta = 0.04608 * turbidity - 0.04586;
    m.depth550 = AtmosphereAerosolDepth550(turbidity);
    m.angstromShort = kPreethamAngstrom;
    m.angstromLong = kPreethamAngstrom;
    // Scattering and phase matter nothing to the sun's path; these are the
    // ones the physical sky used to have (Bruneton and Neyret 2008).
    m.albedo = 0.9;
    m.asymmetry = CornetteShanksAsymmetry(0.8);
    m.phaseG = 0.8;
    m.scaleHeight = 1200.0;
    m.column = m.scaleHeight;
    m.airScaleHeight = 8000.0;
    return m;
}

double AtmosphereAerosolDepth(const AtmosphereMedium& m, double nm) {
    if (nm >= kAngstromBreakNm || m.angstromShort == m.angstromLong)
        return m.beta * std::pow(nm * 1e-3, -m.angstromLong);
    const double atBreak = m.beta * std::pow(kAngstromBreakNm * 1e-3, -m.angstromLong);
    return atBreak * std::pow(nm / kAngstromBreakNm, -m.angstromShort);
}

void AtmosphereOpticsAt(const AtmosphereMedium& m, double nm, AtmosphereOptics* o) {
    o->rayleigh = RayleighCrossSection(nm) * kAirDensity;
    // The depth over the profile is the sea-level coefficient times the
    // profile's column.
    o->mieExtinction = AtmosphereAerosolDepth(m, nm) / m.column;
    o->mieScattering = o->mieExtinction * m.albedo;
    o->ozone = Bands(kOzoneBands, nm) * kOzonePeakDensity;
    o->solarIrradiance = Bands(kSolarBands, nm) * (kSolarConstant / kSolarTotal);
}

AtmosphereDensity AtmosphereDensityAt(const AtmosphereMedium& m, double altitude) {
    AtmosphereDensity d;
    d.rayleigh = m.airScaleHeight > 0.0 ? std::exp(-altitude / m.airScaleHeight) : AirDensity(altitude);
    d.mie = AerosolDensity(m, altitude);
    double ozone = 0.0;
    if (altitude > kAtmosphereOzoneBottom && altitude < kAtmosphereOzoneTop) {
        ozone = altitude < kAtmosphereOzonePeak
                    ? (altitude - kAtmosphereOzoneBottom) / (kAtmosphereOzonePeak - kAtmosphereOzoneBottom)
                    : (kAtmosphereOzoneTop - altitude) / (kAtmosphereOzoneTop - kAtmosphereOzonePeak);
    }
    d.ozone = ozone;
    return d;
}

double AtmosphereRayleighPhase(double c) {
    constexpr double gamma = kAirDepolarisation / (2.0 - kAirDepolarisation);
    return 3.0 / (16.0 * pi * (1.0 + 2.0 * gamma)) * ((1.0 + 3.0 * gamma) + (1.0 - gamma) * c * c);
}

double AtmosphereMiePhase(const AtmosphereMedium& m, double c) {
    const double g = m.phaseG;
    const double g2 = g * g;
    const double k = 3.0 / (8.0 * pi) * (1.0 - g2) / (2.0 + g2);
    const double d = 1.0 + g2 - 2.0 * g * c;
    return k * (1.0 + c * c) / (d * std::sqrt(d));
}

double AtmosphereDensityStep(double a, double b, double altA, double altB, double h, double length) {
    const double x = (altB - altA) / h;  // ln(a / b)
    if (std::fabs(x) < 1e-4) return 0.5 * (a + b) * length;
    return (a - b) / x * length;
}

double AtmosphereAirStep(const AtmosphereMedium& m, double a, double b, double altA, double altB, double length) {
    if (m.airScaleHeight > 0.0) return AtmosphereDensityStep(a, b, altA, altB, m.airScaleHeight, length);
    if (!(a > 0.0 && b > 0.0)) return 0.5 * (a + b) * length;
    // The logarithmic mean (a - b) / ln(a / b). With m = (a + b) / 2 and
    // u = (a - b) / (a + b), ln(a / b) = 2 atanh(u), so the mean is
    // m / (1 + u^2/3 + u^4/5 + u^6/7 + u^8/9 + ...): for the short steps of most
    // paths (|u| < 0.1) the series' first terms give it to 1e-9 without the
    // logarithm, which dominated the cost of placing the sun and the moon.
    const double m2 = a + b;
    const double u = (a - b) / m2;
    const double u2 = u * u;
    if (u2 < 0.01) {
        return 0.5 * m2 * length / (1.0 + u2 * (1.0 / 3.0 + u2 * (1.0 / 5.0 + u2 * (1.0 / 7.0 + u2 * (1.0 / 9.0)))));
    }
    return AtmosphereDensityStep(a, b, 0.0, std::log(a / b), 1.0, length);
}

double AtmosphereAerosolStep(const AtmosphereMedium& m, double a, double b, double altA, double altB, double length) {
    return AtmosphereDensityStep(a, b, altA, altB, m.scaleHeight, length);
}

double SunSolidAngle() { return 2.0 * pi * (1.0 - std::cos(kSunAngularRadius)); }

}  // namespace kv
