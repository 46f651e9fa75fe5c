#include "atmosphere.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "app/skydome/atmosphere_medium.h"
#include "app/skydome/colour_matching.h"
#include "app/skydome/sky.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"

namespace kv {

namespace {

constexpr int K = kAtmosphereBins;
constexpr double kPi = 3.14159265358979323846;
constexpr double kRg = kAtmospherePlanetRadius;
constexpr double kRt = kAtmosphereTopRadius;
constexpr double kBandWidth = (kAtmosphereLastNm - kAtmosphereFirstNm) / K;
constexpr double kDegToRad = kPi / 180.0;

// Transmittance to the top of the atmosphere over (radius, direction), in
// the parameterisation of Bruneton 2017 ("Precomputed Atmospheric
// Scattering: a New Implementation"), which crowds the samples where rays
// graze the horizon.
constexpr int kTxR = 64;
constexpr int kTxMu = 256;
constexpr int kTxSteps = 40;
// Multiply scattered light over (altitude, cosine of the sun's zenith angle).
constexpr int kMsR = 16;
constexpr int kMsMu = 48;
constexpr int kMsZenith = 16;  // directions over the sphere: zenith bands...
constexpr int kMsAzimuth = 8;  // ...times azimuths over half a turn (the rest by symmetry)
constexpr int kMsDirections = kMsZenith * 2 * kMsAzimuth;
constexpr int kMsSteps = 20;
// How the light scattered a second time depends on the direction it leaves
// in: the cosine of that direction's zenith angle, and its azimuth from the
// sun's (0 to pi).
constexpr int kAnMu = 16;
constexpr int kAnPhi = 9;
constexpr int kAnDirections = kAnMu * kAnPhi;
// The anisotropy is kept for groups of neighbouring bands: blue light
// arrives more evenly from the whole sky than red.
constexpr int kAnGroups = 4;
constexpr int kAnGroupBands = kAtmosphereBins / kAnGroups;
// The sky's irradiance on the ground over the cosine of the sun's zenith
// angle, from kIrrLowMu up.
constexpr int kIrrMu = 32;
constexpr double kIrrLowMu = -0.3;
constexpr int kIrrZenith = 16;
constexpr int kIrrAzimuth = 12;
constexpr int kIrrSteps = 20;
// The viewer's rays: rows of zenith angle above the horizon (the first at
// the zenith, the last along the horizon) and below it (the first along the
// horizon, the last at the nadir), samples along each, and columns of
// azimuth from the sun's (0 to pi) in the sky-view table.
constexpr int kUpRows = 48;
constexpr int kDownRows = 24;
constexpr int kRows = kUpRows + kDownRows;
constexpr int kSamples = 40;
constexpr int kCols = 20;
constexpr int kSunSteps = 256;

struct Columns {
    double rayleigh;
    double mie;
    double ozone;
};

// One sample of a viewer's ray, with what the sky-view table needs of it.
struct RaySample {
    float rayleigh[K];  // transmittance from the viewer times scattering coefficient times step
    float mie[K];
    double a, b;        // the sun's zenith cosine here: a cos(sun zenith) + b cos(angle to the sun)
    double r;           // radius
    double rr;          // r^2
    double horizonMu;   // below this cosine the planet hides the sun
    double txDMin, txDScale;
    int txRow;
    float txW;
    int msRow;
    float msW;
    int anMu;  // the ray's zenith cosine here, in the anisotropy table
    float anMuW;
};

struct ViewRow {
    double theta;
    int count;              // samples
    bool ground;            // the ray ends on the ground
    double groundA, groundB;  // the sun's zenith cosine at the ground, as for RaySample
    float groundT[K];       // transmittance to the ground
};

// Per texel of the sky-view table, XYZ (cd/m^2) of single scattering by air
// and by aerosols (each still to be multiplied by its phase function), of
// multiple scattering, and of the ground.
struct Texel {
    float rayleigh[3];
    float mie[3];
    float multiple[3];
    float ground[3];
};

}  // namespace

struct Atmosphere {
    bool setUp;
    bool sunSet;
    float turbidity;
    float albedo;
    float altitude;
    double r0;
    double thetaHorizon;
    // Per band: coefficients at the reference densities, and XYZ (cd/m^2)
    // of a radiance of 1 sr^-1 relative to the band's extraterrestrial irradiance.
    float rayleigh[K];
    float mieScattering[K];
    float mieExtinction[K];
    float ozone[K];
    double toXYZ[3][K];
    float transmittance[kTxR][kTxMu][K];
    // Light scattered twice, the second time isotropically, per steradian
    // and per unit scattering coefficient; what all further orders add to it;
    // and the factor (grey) by which the real phase functions make the second
    // order brighter or darker in a direction than the isotropic one.
    float second[kMsR][kMsMu][K];
    float further[kMsR][kMsMu][K];
    float anisotropy[2][kMsR][kMsMu][kAnMu][kAnPhi][kAnGroups];  // for air, for aerosols
    // Phase functions between the directions of the anisotropy table and
    // those of the sphere's quadrature, each row normalised to 1.
    float kernel[2][kAnDirections][kMsDirections];
    float quadratureWeight[kMsDirections];  // solid angle over 4 pi
    float skyIrradiance[kIrrMu][K];
    ViewRow rows[kRows];
    RaySample samples[kRows][kSamples];
    // The sun.
    float sunZenith;
    float sunAzimuth;
    double sun[3];
    double sunHorizontal[2];  // (x, z) of its azimuth; zero when it is overhead
    double sunXYZ[3];         // the disc's radiance
    Texel table[kRows][kCols];
};

namespace {

double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

double SafeSqrt(double v) { return v > 0.0 ? std::sqrt(v) : 0.0; }

// e^x for x <= 0 in single precision (relative error below 2e-7), written
// so that loops over the bands vectorise: 2^k by the exponent bits, e^r on
// |r| <= ln 2 / 2 by its Taylor polynomial of degree 6.
inline float ExpNeg(float x) {
    x = 0.5f * ((x - 87.0f) + std::fabs(x + 87.0f));  // max(x, -87) without a branch
    const float t = x * 1.44269504f;
    const int k = static_cast<int>(t - 0.5f);  // rounds to nearest for t <= 0
    const float kf = static_cast<float>(k);
    float r = x - kf * 0.693145752f;
    r = r - kf * 1.42860677e-6f;
    float p = 1.0f / 720.0f;
    p = p * r + 1.0f / 120.0f;
    p = p * r + 1.0f / 24.0f;
    p = p * r + 1.0f / 6.0f;
    p = p * r + 0.5f;
    p = p * r + 1.0f;
    p = p * r + 1.0f;
    return p * std::bit_cast<float>(static_cast<int32_t>((k + 127) << 23));
}

// Distances along a ray from radius r with zenith cosine mu.
double DistanceToTop(double r, double mu) { return -r * mu + SafeSqrt(r * r * (mu * mu - 1.0) + kRt * kRt); }
double DistanceToGround(double r, double mu) { return -r * mu - SafeSqrt(r * r * (mu * mu - 1.0) + kRg * kRg); }
bool HitsGround(double r, double mu) { return mu < 0.0 && r * r * (mu * mu - 1.0) + kRg * kRg >= 0.0; }

// The integral over a step of a density exponential in altitude with scale
// height h, from its values at both ends and their altitudes: exact where the
// altitude changes linearly along the step, and close where it does not.
double ExponentialStep(double a, double b, double altA, double altB, double h, double length) {
    const double x = (altB - altA) / h;  // ln(a / b)
    if (std::fabs(x) < 1e-4) return 0.5 * (a + b) * length;
    return (a - b) / x * length;
}

double Altitude(double r) { return r - kRg; }

AtmosphereDensity DensityAtRadius(double r) { return AtmosphereDensityAt(Altitude(r)); }

double RadiusAt(double r, double mu, double t) { return std::sqrt(r * r + t * t + 2.0 * r * t * mu); }

void AddColumns(Columns* c, const AtmosphereDensity& a, const AtmosphereDensity& b, double rA, double rB,
                double length) {
    const double altA = Altitude(rA);
    const double altB = Altitude(rB);
    c->rayleigh += ExponentialStep(a.rayleigh, b.rayleigh, altA, altB, kAtmosphereRayleighScaleHeight, length);
    c->mie += ExponentialStep(a.mie, b.mie, altA, altB, kAtmosphereMieScaleHeight, length);
    c->ozone += 0.5 * (a.ozone + b.ozone) * length;
}

// Amounts of each constituent along a ray of the given length.
Columns ColumnsAlong(double r, double mu, double length, int steps) {
    Columns c{};
    AtmosphereDensity prev = DensityAtRadius(r);
    double prevR = r;
    const double dt = length / steps;
    for (int i = 1; i <= steps; ++i) {
        const double nextR = RadiusAt(r, mu, dt * i);
        const AtmosphereDensity next = DensityAtRadius(nextR);
        AddColumns(&c, prev, next, prevR, nextR, dt);
        prev = next;
        prevR = nextR;
    }
    return c;
}

void BandTransmittance(const Atmosphere* a, const Columns& c, float* __restrict out) {
    const auto cr = static_cast<float>(c.rayleigh);
    const auto cm = static_cast<float>(c.mie);
    const auto co = static_cast<float>(c.ozone);
    for (int k = 0; k < K; ++k) out[k] = ExpNeg(-(a->rayleigh[k] * cr + a->mieExtinction[k] * cm + a->ozone[k] * co));
}

// Samples of a ray spaced quadratically (crowded at its start, where a ray
// from the ground meets the densest air): the midpoints of n equal steps in
// u = sqrt(t / length), each with its length in t, its radius, the densities
// there and the columns from the ray's start.
struct March {
    int n;
    double t[kSamples];
    double dt[kSamples];
    double r[kSamples];
    AtmosphereDensity density[kSamples];
    Columns columns[kSamples];
};

void MarchRay(double r, double mu, double length, int n, March* m) {
    m->n = n;
    Columns c{};
    double prevT = 0.0;
    double prevR = r;
    AtmosphereDensity prev = DensityAtRadius(r);
    for (int i = 0; i < n; ++i) {
        const double u = (i + 0.5) / n;
        const double t = length * u * u;
        m->t[i] = t;
        m->dt[i] = length * 2.0 * u / n;
        m->r[i] = RadiusAt(r, mu, t);
        m->density[i] = DensityAtRadius(m->r[i]);
        AddColumns(&c, prev, m->density[i], prevR, m->r[i], t - prevT);
        m->columns[i] = c;
        prev = m->density[i];
        prevR = m->r[i];
        prevT = t;
    }
}

// ---- Look-ups.

void TransmittanceLookup(const Atmosphere* a, double r, double mu, float* __restrict out) {
    const double rho = SafeSqrt(r * r - kRg * kRg);
    if (mu < -rho / r) {
        for (int k = 0; k < K; ++k) out[k] = 0.0f;
        return;
    }
    const double h = std::sqrt(kRt * kRt - kRg * kRg);
    const double dMin = kRt - r;
    const double dMax = rho + h;
    const double xMu = dMax > dMin ? (DistanceToTop(r, mu) - dMin) / (dMax - dMin) : 0.0;
    const double fr = Clamp(rho / h, 0.0, 1.0) * (kTxR - 1);
    const double fm = Clamp(xMu, 0.0, 1.0) * (kTxMu - 1);
    const int ir = fr >= kTxR - 1 ? kTxR - 2 : static_cast<int>(fr);
    const int im = fm >= kTxMu - 1 ? kTxMu - 2 : static_cast<int>(fm);
    const auto wr = static_cast<float>(fr - ir);
    const auto wm = static_cast<float>(fm - im);
    const float* t00 = a->transmittance[ir][im];
    const float* t01 = a->transmittance[ir][im + 1];
    const float* t10 = a->transmittance[ir + 1][im];
    const float* t11 = a->transmittance[ir + 1][im + 1];
    for (int k = 0; k < K; ++k) {
        out[k] = (t00[k] * (1.0f - wm) + t01[k] * wm) * (1.0f - wr) + (t10[k] * (1.0f - wm) + t11[k] * wm) * wr;
    }
}

// Row coordinate of the multiple-scattering table for a radius: crowded
// near the ground.
double MultipleRow(double r) { return std::sqrt(Clamp((r - kRg) / (kRt - kRg), 0.0, 1.0)) * (kMsR - 1); }

// Column coordinate of the multiple-scattering table for the cosine of the
// sun's zenith angle: crowded round the horizon, where twilight fades
// quickly (u = sign(mu) sqrt(|mu|) in equal steps).
double MultipleColumn(double muS) {
    const double u = muS < 0.0 ? -std::sqrt(std::fmin(-muS, 1.0)) : std::sqrt(std::fmin(muS, 1.0));
    return (u + 1.0) * 0.5 * (kMsMu - 1);
}

double MultipleColumnMu(int im) {
    const double u = -1.0 + 2.0 * im / (kMsMu - 1);
    return u < 0.0 ? -u * u : u * u;
}

struct MultipleAt {
    int ir;
    float wr;
    int im;
    float wm;
};

MultipleAt MultiplePlace(int ir, float wr, double muS) {
    const double fm = MultipleColumn(muS);
    const int im = fm >= kMsMu - 1 ? kMsMu - 2 : static_cast<int>(fm);
    return MultipleAt{ir, wr, im, static_cast<float>(fm - im)};
}

// Index and weight of a value v in [lo, hi] on n equal steps.
void Place(double v, double lo, double hi, int n, int* i, float* w) {
    const double f = Clamp((v - lo) / (hi - lo), 0.0, 1.0) * (n - 1);
    *i = f >= n - 1 ? n - 2 : static_cast<int>(f);
    *w = static_cast<float>(f - *i);
}

void Anisotropy(const Atmosphere* a, int part, const MultipleAt& p, int iv, float wv, int ip, float wp,
                float out[kAnGroups]) {
    for (int g = 0; g < kAnGroups; ++g) out[g] = 0.0f;
    for (int dr = 0; dr < 2; ++dr) {
        for (int dm = 0; dm < 2; ++dm) {
            const float w = (dr ? p.wr : 1.0f - p.wr) * (dm ? p.wm : 1.0f - p.wm);
            const float(*t)[kAnPhi][kAnGroups] = a->anisotropy[part][p.ir + dr][p.im + dm];
            const float w00 = w * (1.0f - wv) * (1.0f - wp);
            const float w01 = w * (1.0f - wv) * wp;
            const float w10 = w * wv * (1.0f - wp);
            const float w11 = w * wv * wp;
            for (int g = 0; g < kAnGroups; ++g) {
                out[g] += w00 * t[iv][ip][g] + w01 * t[iv][ip + 1][g] + w10 * t[iv + 1][ip][g] + w11 * t[iv + 1][ip + 1][g];
            }
        }
    }
}

// Multiply scattered light per unit scattering coefficient of air and of
// aerosols at a place, leaving in a direction (its zenith cosine's and
// azimuth's places in the anisotropy table). The further orders keep half
// the second order's anisotropy: they are more diffuse, yet still brighter
// along the horizon, where the paths are long.
void MultipleLookup(const Atmosphere* a, const MultipleAt& p, int iv, float wv, int ip, float wp,
                    float* __restrict air, float* __restrict aerosols) {
    float ag[kAnGroups];
    float mg[kAnGroups];
    Anisotropy(a, 0, p, iv, wv, ip, wp, ag);
    Anisotropy(a, 1, p, iv, wv, ip, wp, mg);
    float ar[K];
    float am[K];
    for (int k = 0; k < K; ++k) {
        ar[k] = ag[k / kAnGroupBands];
        am[k] = mg[k / kAnGroupBands];
    }
    const float w00 = (1.0f - p.wr) * (1.0f - p.wm);
    const float w01 = (1.0f - p.wr) * p.wm;
    const float w10 = p.wr * (1.0f - p.wm);
    const float w11 = p.wr * p.wm;
    const float* s00 = a->second[p.ir][p.im];
    const float* s01 = a->second[p.ir][p.im + 1];
    const float* s10 = a->second[p.ir + 1][p.im];
    const float* s11 = a->second[p.ir + 1][p.im + 1];
    const float* f00 = a->further[p.ir][p.im];
    const float* f01 = a->further[p.ir][p.im + 1];
    const float* f10 = a->further[p.ir + 1][p.im];
    const float* f11 = a->further[p.ir + 1][p.im + 1];
    for (int k = 0; k < K; ++k) {
        const float second = w00 * s00[k] + w01 * s01[k] + w10 * s10[k] + w11 * s11[k];
        const float further = w00 * f00[k] + w01 * f01[k] + w10 * f10[k] + w11 * f11[k];
        air[k] = second * ar[k] + further * (0.5f + 0.5f * ar[k]);
        aerosols[k] = second * am[k] + further * (0.5f + 0.5f * am[k]);
    }
}

// Entries of the sky's irradiance table are equal in u, where mu = u |u|:
// crowded round the horizon, where twilight fades quickly.
double IrradianceU(double muS) { return muS < 0.0 ? -std::sqrt(-muS) : std::sqrt(std::fmin(muS, 1.0)); }

double IrradianceMu(int i) {
    const double lo = IrradianceU(kIrrLowMu);
    const double u = lo + (1.0 - lo) * i / (kIrrMu - 1);
    return u * std::fabs(u);
}

void SkyIrradianceLookup(const Atmosphere* a, double muS, float out[K]) {
    const double lo = IrradianceU(kIrrLowMu);
    const double f = muS < kIrrLowMu ? -1.0 : (IrradianceU(muS) - lo) / (1.0 - lo) * (kIrrMu - 1);
    if (!(f >= 0.0)) {
        for (int k = 0; k < K; ++k) out[k] = 0.0f;
        return;
    }
    const double fc = f > kIrrMu - 1 ? kIrrMu - 1 : f;
    const int i = fc >= kIrrMu - 1 ? kIrrMu - 2 : static_cast<int>(fc);
    const auto w = static_cast<float>(fc - i);
    for (int k = 0; k < K; ++k) out[k] = a->skyIrradiance[i][k] * (1.0f - w) + a->skyIrradiance[i + 1][k] * w;
}

// Irradiance on the ground relative to the extraterrestrial, from the sun
// (its centre's cosine muS) and the sky.
void GroundIrradiance(const Atmosphere* a, double muS, float out[K]) {
    SkyIrradianceLookup(a, muS, out);
    if (muS > 0.0) {
        float t[K];
        TransmittanceLookup(a, kRg, muS, t);
        for (int k = 0; k < K; ++k) out[k] += t[k] * static_cast<float>(muS);
    }
}

void ToXYZ(const Atmosphere* a, const float relative[K], double xyz[3]) {
    for (int c = 0; c < 3; ++c) {
        double s = 0.0;
        for (int k = 0; k < K; ++k) s += a->toXYZ[c][k] * relative[k];
        xyz[c] = s;
    }
}

// ---- Tables that depend on the atmosphere only.

void BuildBands(Atmosphere* a) {
    for (int k = 0; k < K; ++k) {
        const double lo = kAtmosphereFirstNm + kBandWidth * k;
        double sums[4] = {};
        double xyz[3] = {};
        const int steps = static_cast<int>(kBandWidth);
        for (int i = 0; i < steps; ++i) {
            const double nm = lo + (i + 0.5) * kBandWidth / steps;
            AtmosphereOptics o;
            AtmosphereOpticsAt(nm, a->turbidity, &o);
            sums[0] += o.rayleigh;
            sums[1] += o.mieScattering;
            sums[2] += o.mieExtinction;
            sums[3] += o.ozone;
            double cmf[3];
            ColourMatching(nm, cmf);
            for (int c = 0; c < 3; ++c) xyz[c] += o.solarIrradiance * cmf[c] * (kBandWidth / steps);
        }
        a->rayleigh[k] = static_cast<float>(sums[0] / steps);
        a->mieScattering[k] = static_cast<float>(sums[1] / steps);
        a->mieExtinction[k] = static_cast<float>(sums[2] / steps);
        a->ozone[k] = static_cast<float>(sums[3] / steps);
        for (int c = 0; c < 3; ++c) a->toXYZ[c][k] = kLuminousEfficacy * xyz[c];
    }
}

void BuildTransmittance(Atmosphere* a) {
    const double h = std::sqrt(kRt * kRt - kRg * kRg);
    for (int ir = 0; ir < kTxR; ++ir) {
        const double rho = h * ir / (kTxR - 1);
        const double r = std::sqrt(rho * rho + kRg * kRg);
        const double dMin = kRt - r;
        const double dMax = rho + h;
        for (int im = 0; im < kTxMu; ++im) {
            const double d = dMin + (dMax - dMin) * im / (kTxMu - 1);
            const double mu = d == 0.0 ? 1.0 : Clamp((h * h - rho * rho - d * d) / (2.0 * r * d), -1.0, 1.0);
            BandTransmittance(a, ColumnsAlong(r, mu, d, kTxSteps), a->transmittance[ir][im]);
        }
    }
}

// Single scattering of sunlight and multiple scattering (from the table,
// once built) along a ray, per band, relative to the extraterrestrial
// irradiance: air's and aerosols' parts without their phase functions, and
// what the ground at the ray's end sends back towards its start.
struct Scattered {
    float rayleigh[K];
    float mie[K];
    float multiple[K];
    float ground[K];
    float scattering[K];  // scattering coefficient times transmittance, summed along the ray
};

void ScatterAlong(const Atmosphere* a, double r, double mu, double muS, double nu, int steps, bool withMultiple,
                  Scattered* out) {
    std::memset(out, 0, sizeof *out);
    const bool ground = HitsGround(r, mu);
    const double length = ground ? DistanceToGround(r, mu) : DistanceToTop(r, mu);
    March m;
    MarchRay(r, mu, length, steps, &m);
    float t[K];
    float sunT[K];
    float msR[K] = {};
    float msM[K] = {};
    // The azimuth from the sun's, taken as at the ray's start all along it.
    const double sinProduct = SafeSqrt((1.0 - mu * mu) * (1.0 - muS * muS));
    const double cosPhi = sinProduct > 1e-9 ? Clamp((nu - mu * muS) / sinProduct, -1.0, 1.0) : 1.0;
    int ip;
    float wp;
    Place(std::acos(cosPhi), 0.0, kPi, kAnPhi, &ip, &wp);
    for (int i = 0; i < m.n; ++i) {
        BandTransmittance(a, m.columns[i], t);
        const double muSi = (r * muS + m.t[i] * nu) / m.r[i];
        TransmittanceLookup(a, m.r[i], muSi, sunT);
        const auto dr = static_cast<float>(m.density[i].rayleigh * m.dt[i]);
        const auto dm = static_cast<float>(m.density[i].mie * m.dt[i]);
        if (withMultiple) {
            const double fr = MultipleRow(m.r[i]);
            const int ir = fr >= kMsR - 1 ? kMsR - 2 : static_cast<int>(fr);
            const MultipleAt p = MultiplePlace(ir, static_cast<float>(fr - ir), muSi);
            int iv;
            float wv;
            Place((r * mu + m.t[i]) / m.r[i], -1.0, 1.0, kAnMu, &iv, &wv);
            MultipleLookup(a, p, iv, wv, ip, wp, msR, msM);
        }
        for (int k = 0; k < K; ++k) {
            out->rayleigh[k] += t[k] * a->rayleigh[k] * dr * sunT[k];
            out->mie[k] += t[k] * a->mieScattering[k] * dm * sunT[k];
            const float scattering = t[k] * (a->rayleigh[k] * dr + a->mieScattering[k] * dm);
            out->multiple[k] += t[k] * (a->rayleigh[k] * dr * msR[k] + a->mieScattering[k] * dm * msM[k]);
            out->scattering[k] += scattering;
        }
    }
    if (ground) {
        const double muG = (r * muS + length * nu) / kRg;
        Columns c = m.n > 0 ? m.columns[m.n - 1] : Columns{};
        if (m.n > 0) AddColumns(&c, m.density[m.n - 1], DensityAtRadius(kRg), m.r[m.n - 1], kRg, length - m.t[m.n - 1]);
        BandTransmittance(a, c, t);
        float e[K];
        if (withMultiple) {
            GroundIrradiance(a, muG, e);
        } else {
            for (int k = 0; k < K; ++k) e[k] = 0.0f;
            if (muG > 0.0) {
                TransmittanceLookup(a, kRg, muG, sunT);
                for (int k = 0; k < K; ++k) e[k] = sunT[k] * static_cast<float>(muG);
            }
        }
        const auto lambert = static_cast<float>(a->albedo / kPi);
        for (int k = 0; k < K; ++k) {
            out->ground[k] = t[k] * lambert * e[k];
            // Isotropic light of radiance L gives the ground an irradiance of
            // pi L, which it sends back as a radiance of albedo x L.
            out->scattering[k] += t[k] * a->albedo;
        }
    }
}

// The directions of the sphere's quadrature and of the anisotropy table, in
// a frame with y up and the sun in the x-y plane. The quadrature's zenith
// bands are equal in u, where mu = u |u|: narrow round the horizon, where
// the light arriving changes fastest; then equal in azimuth over a whole
// turn, from the sun's. Returns the direction's share of the sphere.
double QuadratureDirection(int i, double w[3]) {
    const int iz = i / (2 * kMsAzimuth);
    const int ia = i % (2 * kMsAzimuth);
    const double u = 1.0 - 2.0 * (iz + 0.5) / kMsZenith;
    const double mu = u * std::fabs(u);
    const double s = SafeSqrt(1.0 - mu * mu);
    const double phi = kPi * (ia + 0.5) / kMsAzimuth;
    w[0] = s * std::cos(phi);
    w[1] = mu;
    w[2] = s * std::sin(phi);
    // d(mu) = 2 |u| du with du = 2 / kMsZenith; the sphere's mu spans 2.
    return 2.0 * std::fabs(u) * (2.0 / kMsZenith) / 2.0 / (2 * kMsAzimuth);
}

void AnisotropyDirection(int i, double v[3]) {
    const double mu = -1.0 + 2.0 * (i / kAnPhi) / (kAnMu - 1);
    const double s = SafeSqrt(1.0 - mu * mu);
    const double phi = kPi * (i % kAnPhi) / (kAnPhi - 1);
    v[0] = s * std::cos(phi);
    v[1] = mu;
    v[2] = s * std::sin(phi);
}

void BuildKernels(Atmosphere* a) {
    for (int i = 0; i < kMsDirections; ++i) {
        double w[3];
        a->quadratureWeight[i] = static_cast<float>(QuadratureDirection(i, w));
    }
    for (int o = 0; o < kAnDirections; ++o) {
        double v[3];
        AnisotropyDirection(o, v);
        double sums[2] = {};
        for (int i = 0; i < kMsDirections; ++i) {
            double w[3];
            const double weight = QuadratureDirection(i, w);
            const double c = v[0] * w[0] + v[1] * w[1] + v[2] * w[2];
            a->kernel[0][o][i] = static_cast<float>(AtmosphereRayleighPhase(c) * weight);
            a->kernel[1][o][i] = static_cast<float>(AtmosphereMiePhase(c) * weight);
            sums[0] += a->kernel[0][o][i];
            sums[1] += a->kernel[1][o][i];
        }
        // Normalised, so that the coarse quadrature neither gains nor loses light.
        for (int part = 0; part < 2; ++part) {
            for (int i = 0; i < kMsDirections; ++i) {
                a->kernel[part][o][i] = static_cast<float>(a->kernel[part][o][i] / sums[part]);
            }
        }
    }
}

// Multiple scattering after Hillaire 2020: the light scattered twice, the
// second time isotropically, from every direction round a point, and the
// further orders as a geometric series of the fraction f of isotropic light
// the surroundings scatter back. The second order's dependence on the
// direction it leaves in (the phase functions applied to the light arriving
// from every direction) is kept as a factor for air and one for aerosols.
void BuildMultiple(Atmosphere* a) {
    BuildKernels(a);
    float incoming[kMsDirections][kAnGroups];
    for (int ir = 0; ir < kMsR; ++ir) {
        const double x = static_cast<double>(ir) / (kMsR - 1);
        const double r = kRg + std::fmax(x * x * (kRt - kRg), 1.0);
        for (int im = 0; im < kMsMu; ++im) {
            const double muS = MultipleColumnMu(im);
            const double sinS = SafeSqrt(1.0 - muS * muS);
            double second[K] = {};
            double fraction[K] = {};
            double mean[kAnGroups] = {};
            for (int iz = 0; iz < kMsZenith; ++iz) {
                for (int ia = 0; ia < kMsAzimuth; ++ia) {
                    double w[3];
                    const int index = iz * 2 * kMsAzimuth + ia;
                    // Twice: the mirror image across the sun's plane sees the same.
                    const double weight = 2.0 * QuadratureDirection(index, w);
                    const double nu = w[0] * sinS + w[1] * muS;
                    Scattered s;
                    ScatterAlong(a, r, w[1], muS, nu, kMsSteps, false, &s);
                    const auto pr = static_cast<float>(AtmosphereRayleighPhase(nu));
                    const auto pm = static_cast<float>(AtmosphereMiePhase(nu));
                    float* in = incoming[index];
                    for (int g = 0; g < kAnGroups; ++g) in[g] = 0.0f;
                    for (int k = 0; k < K; ++k) {
                        const float l = pr * s.rayleigh[k] + pm * s.mie[k] + s.ground[k];
                        second[k] += l * weight;
                        fraction[k] += s.scattering[k] * weight;
                        in[k / kAnGroupBands] += l;
                    }
                    for (int g = 0; g < kAnGroups; ++g) {
                        incoming[iz * 2 * kMsAzimuth + 2 * kMsAzimuth - 1 - ia][g] = in[g];
                        mean[g] += in[g] * weight;
                    }
                }
            }
            // The weights are shares of the sphere: the isotropic phase
            // function's 1 / (4 pi) times the solid angle.
            for (int k = 0; k < K; ++k) {
                const double f = std::fmin(fraction[k], 0.99);
                a->second[ir][im][k] = static_cast<float>(second[k]);
                a->further[ir][im][k] = static_cast<float>(second[k] * f / (1.0 - f));
            }
            for (int part = 0; part < 2; ++part) {
                for (int o = 0; o < kAnDirections; ++o) {
                    float j[kAnGroups] = {};
                    for (int i = 0; i < kMsDirections; ++i) {
                        for (int g = 0; g < kAnGroups; ++g) j[g] += a->kernel[part][o][i] * incoming[i][g];
                    }
                    float* dest = a->anisotropy[part][ir][im][o / kAnPhi][o % kAnPhi];
                    for (int g = 0; g < kAnGroups; ++g) dest[g] = mean[g] > 0.0 ? static_cast<float>(j[g] / mean[g]) : 1.0f;
                }
            }
        }
    }
}

// The sky's irradiance on the ground: its radiance over the upper
// hemisphere, weighted by the cosine. Zenith bands are equal in sqrt(mu),
// narrow along the horizon. The weights of each phase function are scaled to
// give its cosine-weighted integral over the hemisphere as a far finer grid
// does, which keeps the aerosols' narrow forward peak from being missed or
// counted twice.
void BuildSkyIrradiance(Atmosphere* a) {
    for (int i = 0; i < kIrrMu; ++i) {
        const double muS = IrradianceMu(i);
        const double sinS = SafeSqrt(1.0 - muS * muS);
        double coarse[2] = {};
        double er[K] = {};
        double em[K] = {};
        double e[K] = {};
        for (int iz = 0; iz < kIrrZenith; ++iz) {
            const double u = (iz + 0.5) / kIrrZenith;
            const double mu = u * u;
            const double sinT = SafeSqrt(1.0 - mu * mu);
            for (int ia = 0; ia < kIrrAzimuth; ++ia) {
                const double phi = kPi * (ia + 0.5) / kIrrAzimuth;
                const double weight = mu * (2.0 * u / kIrrZenith) * (kPi / kIrrAzimuth);
                const double nu = mu * muS + sinT * sinS * std::cos(phi);
                const double pr = AtmosphereRayleighPhase(nu);
                const double pm = AtmosphereMiePhase(nu);
                coarse[0] += pr * weight;
                coarse[1] += pm * weight;
                Scattered s;
                ScatterAlong(a, kRg, mu, muS, nu, kIrrSteps, true, &s);
                for (int k = 0; k < K; ++k) {
                    er[k] += pr * s.rayleigh[k] * weight;
                    em[k] += pm * s.mie[k] * weight;
                    e[k] += s.multiple[k] * weight;
                }
            }
        }
        double fine[2] = {};
        constexpr int kFine = 8;
        for (int iz = 0; iz < kIrrZenith * kFine; ++iz) {
            const double u = (iz + 0.5) / (kIrrZenith * kFine);
            const double mu = u * u;
            const double sinT = SafeSqrt(1.0 - mu * mu);
            for (int ia = 0; ia < kIrrAzimuth * kFine; ++ia) {
                const double phi = kPi * (ia + 0.5) / (kIrrAzimuth * kFine);
                const double weight = mu * (2.0 * u / (kIrrZenith * kFine)) * (kPi / (kIrrAzimuth * kFine));
                const double nu = mu * muS + sinT * sinS * std::cos(phi);
                fine[0] += AtmosphereRayleighPhase(nu) * weight;
                fine[1] += AtmosphereMiePhase(nu) * weight;
            }
        }
        const double scaleR = coarse[0] > 0.0 ? fine[0] / coarse[0] : 1.0;
        const double scaleM = coarse[1] > 0.0 ? fine[1] / coarse[1] : 1.0;
        // Over a whole turn by symmetry.
        for (int k = 0; k < K; ++k) {
            a->skyIrradiance[i][k] = static_cast<float>(2.0 * (e[k] + er[k] * scaleR + em[k] * scaleM));
        }
    }
}

// Zenith angle of row j (kUpRows above the horizon, then kDownRows below).
double RowTheta(const Atmosphere* a, int j) {
    if (j < kUpRows) {
        const double u = 1.0 - static_cast<double>(j) / (kUpRows - 1);
        return a->thetaHorizon * (1.0 - u * u);
    }
    const double u = static_cast<double>(j - kUpRows) / (kDownRows - 1);
    return a->thetaHorizon + (kPi - a->thetaHorizon) * u * u;
}

// The viewer's rays: where each sample is and how much of what it scatters
// reaches the viewer.
void BuildRows(Atmosphere* a) {
    const double r0 = a->r0;
    const double h = std::sqrt(kRt * kRt - kRg * kRg);
    for (int j = 0; j < kRows; ++j) {
        ViewRow& row = a->rows[j];
        row.theta = RowTheta(a, j);
        const double mu = std::cos(row.theta);
        // The horizon's two rows: the one above passes the ground, the one
        // below grazes it.
        row.ground = j >= kUpRows;
        const double length = row.ground ? DistanceToGround(r0, mu) : DistanceToTop(r0, mu);
        row.count = length > 0.0 ? kSamples : 0;
        March m;
        MarchRay(r0, mu, length, row.count, &m);
        float t[K];
        for (int i = 0; i < m.n; ++i) {
            RaySample& s = a->samples[j][i];
            BandTransmittance(a, m.columns[i], t);
            const auto dr = static_cast<float>(m.density[i].rayleigh * m.dt[i]);
            const auto dm = static_cast<float>(m.density[i].mie * m.dt[i]);
            for (int k = 0; k < K; ++k) {
                s.rayleigh[k] = t[k] * a->rayleigh[k] * dr;
                s.mie[k] = t[k] * a->mieScattering[k] * dm;
            }
            const double r = m.r[i];
            s.r = r;
            s.rr = r * r;
            s.a = r0 / r;
            s.b = m.t[i] / r;
            const double rho = SafeSqrt(r * r - kRg * kRg);
            s.horizonMu = -rho / r;
            s.txDMin = kRt - r;
            s.txDScale = (kTxMu - 1) / (rho + h - s.txDMin);
            const double fr = Clamp(rho / h, 0.0, 1.0) * (kTxR - 1);
            s.txRow = fr >= kTxR - 1 ? kTxR - 2 : static_cast<int>(fr);
            s.txW = static_cast<float>(fr - s.txRow);
            const double fm = MultipleRow(r);
            s.msRow = fm >= kMsR - 1 ? kMsR - 2 : static_cast<int>(fm);
            s.msW = static_cast<float>(fm - s.msRow);
            Place((r0 * mu + m.t[i]) / r, -1.0, 1.0, kAnMu, &s.anMu, &s.anMuW);
        }
        if (row.ground) {
            row.groundA = r0 / kRg;
            row.groundB = length / kRg;
            Columns c = m.n > 0 ? m.columns[m.n - 1] : Columns{};
            if (m.n > 0) AddColumns(&c, m.density[m.n - 1], DensityAtRadius(kRg), m.r[m.n - 1], kRg, length - m.t[m.n - 1]);
            BandTransmittance(a, c, row.groundT);
        }
    }
}

// ---- What depends on the sun.

void BuildTexel(Atmosphere* a, int j, double nu, double dphi, Texel* out) {
    int ip;
    float wp;
    Place(dphi, 0.0, kPi, kAnPhi, &ip, &wp);
    const ViewRow& row = a->rows[j];
    const double muS0 = a->sun[1];
    float sr[K] = {};
    float sm[K] = {};
    float sms[K] = {};
    float t[K];
    float msR[K];
    float msM[K];
    for (int i = 0; i < row.count; ++i) {
        const RaySample& s = a->samples[j][i];
        const double muS = s.a * muS0 + s.b * nu;
        // Multiple scattering changes slowly along a ray: looked up at every
        // other sample (the midpoint of the pair), used for both.
        if ((i & 1) == 0) {
            const RaySample& next = a->samples[j][i + 1 < row.count ? i + 1 : i];
            const double muMid = 0.5 * (muS + next.a * muS0 + next.b * nu);
            const float wr = 0.5f * (s.msRow + s.msW + next.msRow + next.msW);
            const int ir = std::min(static_cast<int>(wr), kMsR - 2);
            const float wv = 0.5f * (s.anMu + s.anMuW + next.anMu + next.anMuW);
            const int iv = std::min(static_cast<int>(wv), kAnMu - 2);
            const MultipleAt p = MultiplePlace(ir, wr - ir, muMid);
            MultipleLookup(a, p, iv, wv - iv, ip, wp, msR, msM);
        }
        for (int k = 0; k < K; ++k) sms[k] += s.rayleigh[k] * msR[k] + s.mie[k] * msM[k];
        if (muS < s.horizonMu) continue;
        const double d = -s.r * muS + SafeSqrt(s.rr * (muS * muS - 1.0) + kRt * kRt);
        const double fm = Clamp((d - s.txDMin) * s.txDScale, 0.0, kTxMu - 1);
        const int im = fm >= kTxMu - 1 ? kTxMu - 2 : static_cast<int>(fm);
        const auto wm = static_cast<float>(fm - im);
        const float wr = s.txW;
        const float* t00 = a->transmittance[s.txRow][im];
        const float* t01 = a->transmittance[s.txRow][im + 1];
        const float* t10 = a->transmittance[s.txRow + 1][im];
        const float* t11 = a->transmittance[s.txRow + 1][im + 1];
        for (int k = 0; k < K; ++k) {
            t[k] = (t00[k] * (1.0f - wm) + t01[k] * wm) * (1.0f - wr) + (t10[k] * (1.0f - wm) + t11[k] * wm) * wr;
            sr[k] += s.rayleigh[k] * t[k];
            sm[k] += s.mie[k] * t[k];
        }
    }
    float g[K] = {};
    if (row.ground) {
        const double muG = row.groundA * muS0 + row.groundB * nu;
        GroundIrradiance(a, muG, g);
        const auto lambert = static_cast<float>(a->albedo / kPi);
        for (int k = 0; k < K; ++k) g[k] *= lambert * row.groundT[k];
    }
    const float* parts[4] = {sr, sm, sms, g};
    float* dest[4] = {out->rayleigh, out->mie, out->multiple, out->ground};
    for (int p = 0; p < 4; ++p) {
        double xyz[3];
        ToXYZ(a, parts[p], xyz);
        for (int c = 0; c < 3; ++c) dest[p][c] = static_cast<float>(xyz[c]);
    }
}

void BuildSkyView(Atmosphere* a) {
    const double muS = a->sun[1];
    const double sinS = SafeSqrt(1.0 - muS * muS);
    for (int j = 0; j < kRows; ++j) {
        const double ct = std::cos(a->rows[j].theta);
        const double st = std::sin(a->rows[j].theta);
        for (int c = 0; c < kCols; ++c) {
            const double dphi = kPi * c / (kCols - 1);
            BuildTexel(a, j, ct * muS + st * sinS * std::cos(dphi), dphi, &a->table[j][c]);
        }
    }
}

void PathTransmittance(const Atmosphere* a, double mu, float out[K]) {
    if (HitsGround(a->r0, mu)) {
        for (int k = 0; k < K; ++k) out[k] = 0.0f;
        return;
    }
    BandTransmittance(a, ColumnsAlong(a->r0, mu, DistanceToTop(a->r0, mu), kSunSteps), out);
}

void SunDiscXYZ(const Atmosphere* a, double mu, double xyz[3]) {
    float t[K];
    PathTransmittance(a, mu, t);
    const auto inv = static_cast<float>(1.0 / SunSolidAngle());
    for (int k = 0; k < K; ++k) t[k] *= inv;
    ToXYZ(a, t, xyz);
}

RGBAReal XYZToColour(const double xyz[3]) {
    double rgb[3];
    XYZToRec709(xyz, rgb);
    // cd/m^2 to kcd/m^2; out-of-gamut channels to 0 (negative light).
    for (double& c : rgb) c = c > 0.0 ? c * 1e-3 : 0.0;
    return RGBAReal{static_cast<real>(rgb[0]), static_cast<real>(rgb[1]), static_cast<real>(rgb[2]), 0.0f};
}

// The colour of a direction given by its zenith angle's cosine and sine and
// the cosine of its azimuth from the sun's, and the cosine of its angle to
// the sun.
void Evaluate(const Atmosphere* a, double cosT, double cosDphi, double nu, int32 flags, double xyz[3]) {
    const double theta = std::acos(Clamp(cosT, -1.0, 1.0));
    const double th = a->thetaHorizon;
    int j0;
    int rows;
    double fr;
    if (theta <= th) {
        j0 = 0;
        rows = kUpRows;
        fr = (1.0 - std::sqrt(Clamp((th - theta) / th, 0.0, 1.0))) * (kUpRows - 1);
    } else {
        j0 = kUpRows;
        rows = kDownRows;
        fr = std::sqrt(Clamp((theta - th) / (kPi - th), 0.0, 1.0)) * (kDownRows - 1);
    }
    const int jr = fr >= rows - 1 ? rows - 2 : static_cast<int>(fr);
    const double wr = fr - jr;
    const double fc = std::acos(Clamp(cosDphi, -1.0, 1.0)) / kPi * (kCols - 1);
    const int c = fc >= kCols - 1 ? kCols - 2 : static_cast<int>(fc);
    const double wc = fc - c;
    const Texel& t00 = a->table[j0 + jr][c];
    const Texel& t01 = a->table[j0 + jr][c + 1];
    const Texel& t10 = a->table[j0 + jr + 1][c];
    const Texel& t11 = a->table[j0 + jr + 1][c + 1];
    const double w00 = (1.0 - wr) * (1.0 - wc);
    const double w01 = (1.0 - wr) * wc;
    const double w10 = wr * (1.0 - wc);
    const double w11 = wr * wc;
    const double pr = AtmosphereRayleighPhase(nu);
    const double pm = AtmosphereMiePhase(nu);
    for (int ch = 0; ch < 3; ++ch) {
        const double r = w00 * t00.rayleigh[ch] + w01 * t01.rayleigh[ch] + w10 * t10.rayleigh[ch] + w11 * t11.rayleigh[ch];
        const double m = w00 * t00.mie[ch] + w01 * t01.mie[ch] + w10 * t10.mie[ch] + w11 * t11.mie[ch];
        const double ms = w00 * t00.multiple[ch] + w01 * t01.multiple[ch] + w10 * t10.multiple[ch] + w11 * t11.multiple[ch];
        const double g = w00 * t00.ground[ch] + w01 * t01.ground[ch] + w10 * t10.ground[ch] + w11 * t11.ground[ch];
        xyz[ch] = pr * r + pm * m + ms + g;
    }
    if ((flags & AtmosphereWithSunDisc) != 0 && nu >= std::cos(kSunAngularRadius)) {
        for (int ch = 0; ch < 3; ++ch) xyz[ch] += a->sunXYZ[ch];
    }
}

void EvaluateDirection(const Atmosphere* a, double x, double y, double z, int32 flags, double xyz[3]) {
    const double hl = std::sqrt(x * x + z * z);
    const double sh = std::sqrt(a->sunHorizontal[0] * a->sunHorizontal[0] + a->sunHorizontal[1] * a->sunHorizontal[1]);
    const double cosDphi = hl > 1e-12 && sh > 0.0 ? (x * a->sunHorizontal[0] + z * a->sunHorizontal[1]) / hl : 1.0;
    const double nu = x * a->sun[0] + y * a->sun[1] + z * a->sun[2];
    Evaluate(a, y, cosDphi, nu, flags, xyz);
}

bool InRange(float v, float lo, float hi) { return v >= lo && v <= hi; }

}  // namespace

Atmosphere* AtmosphereCreate() {
    auto* a = static_cast<Atmosphere*>(KvMalloc(sizeof(Atmosphere)));
    if (a == nullptr) return nullptr;
    std::memset(static_cast<void*>(a), 0, sizeof *a);
    return a;
}

void AtmosphereDestroy(Atmosphere* a) {
    if (a != nullptr) KvFree(a);
}

bool AtmosphereSetup(Atmosphere* a, float turbidity, float albedo, float altitude) {
    if (!InRange(turbidity, kSkyMinTurbidity, kSkyMaxTurbidity) ||
        !InRange(albedo, 0.0f, 1.0f) || !InRange(altitude, kAtmosphereMinAltitude, kAtmosphereMaxAltitude)) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    a->turbidity = turbidity;
    a->albedo = albedo;
    a->altitude = altitude;
    a->r0 = kRg + altitude;
    a->thetaHorizon = kPi - std::asin(Clamp(kRg / a->r0, -1.0, 1.0));
    BuildBands(a);
    BuildTransmittance(a);
    BuildMultiple(a);
    BuildSkyIrradiance(a);
    BuildRows(a);
    a->setUp = true;
    a->sunSet = false;
    return true;
}

float AtmosphereTurbidity(const Atmosphere* a) { return a->turbidity; }
float AtmosphereAlbedo(const Atmosphere* a) { return a->albedo; }
float AtmosphereAltitude(const Atmosphere* a) { return a->altitude; }

void AtmosphereSetSun(Atmosphere* a, float zenithDegrees, float azimuthDegrees) {
    float zenith = zenithDegrees;
    if (!(zenith >= 0.0f)) zenith = 0.0f;
    if (zenith > kAtmosphereMaxSunZenith) zenith = kAtmosphereMaxSunZenith;
    a->sunZenith = zenith;
    a->sunAzimuth = azimuthDegrees;
    const double t = zenith * kDegToRad;
    const double p = azimuthDegrees * kDegToRad;
    a->sun[0] = std::sin(t) * std::sin(p);
    a->sun[1] = std::cos(t);
    a->sun[2] = std::sin(t) * std::cos(p);
    const double sh = std::sin(t);
    a->sunHorizontal[0] = sh > 1e-9 ? std::sin(p) : 0.0;
    a->sunHorizontal[1] = sh > 1e-9 ? std::cos(p) : 0.0;
    SunDiscXYZ(a, a->sun[1], a->sunXYZ);
    BuildSkyView(a);
    a->sunSet = true;
}

V3d AtmosphereSunDirection(const Atmosphere* a) {
    return V3d{static_cast<real>(a->sun[0]), static_cast<real>(a->sun[1]), static_cast<real>(a->sun[2])};
}

void AtmosphereXYZ(const Atmosphere* a, V3d d, int32 flags, double xyz[3]) {
    EvaluateDirection(a, d.x, d.y, d.z, flags, xyz);
}

void AtmosphereColors(const Atmosphere* a, const V3d* directions, int32 count, RGBAReal* colours, int32 flags) {
    for (int32 i = 0; i < count; ++i) {
        double xyz[3];
        EvaluateDirection(a, directions[i].x, directions[i].y, directions[i].z, flags, xyz);
        colours[i] = XYZToColour(xyz);
    }
}

void AtmosphereRowColors(const Atmosphere* a, double theta, const double* phi, int32 count, RGBAReal* colours,
                         int32 flags) {
    const double st = std::sin(theta);
    const double ct = std::cos(theta);
    for (int32 i = 0; i < count; ++i) {
        double xyz[3];
        EvaluateDirection(a, st * std::sin(phi[i]), ct, st * std::cos(phi[i]), flags, xyz);
        colours[i] = XYZToColour(xyz);
    }
}

RGBAReal AtmosphereSunRadiance(const Atmosphere* a) { return XYZToColour(a->sunXYZ); }

double AtmosphereSunIlluminance(const Atmosphere* a, RGBAReal* colour) {
    const double lux = a->sunXYZ[1] * SunSolidAngle();
    if (colour != nullptr) {
        double unit[3];
        for (int c = 0; c < 3; ++c) unit[c] = a->sunXYZ[1] > 0.0 ? a->sunXYZ[c] / a->sunXYZ[1] * 1e3 : 0.0;
        *colour = XYZToColour(unit);
    }
    return lux;
}

void AtmosphereTransmittance(const Atmosphere* a, double zenithDegrees, float transmittance[kAtmosphereBins]) {
    PathTransmittance(a, std::cos(zenithDegrees * kDegToRad), transmittance);
}

RGBAReal AtmosphereSunRadianceAt(const Atmosphere* a, double zenithDegrees) {
    double xyz[3];
    SunDiscXYZ(a, std::cos(zenithDegrees * kDegToRad), xyz);
    return XYZToColour(xyz);
}

namespace {

void GroundXYZ(const Atmosphere* a, double scale, double xyz[3]) {
    float e[K];
    GroundIrradiance(a, a->sun[1], e);
    for (int k = 0; k < K; ++k) e[k] *= static_cast<float>(scale);
    ToXYZ(a, e, xyz);
}

}  // namespace

double AtmosphereHorizontalIlluminance(const Atmosphere* a, double* fromSky) {
    if (fromSky != nullptr) {
        float e[K];
        SkyIrradianceLookup(a, a->sun[1], e);
        double xyz[3];
        ToXYZ(a, e, xyz);
        *fromSky = xyz[1];
    }
    double xyz[3];
    GroundXYZ(a, 1.0, xyz);
    return xyz[1];
}

RGBAReal AtmosphereGroundRadiance(const Atmosphere* a) {
    double xyz[3];
    GroundXYZ(a, a->albedo / kPi, xyz);
    return XYZToColour(xyz);
}

double AtmosphereBandCentre(int band) { return kAtmosphereFirstNm + kBandWidth * (band + 0.5); }

void AtmosphereBandsToXYZ(const Atmosphere* a, const float relative[kAtmosphereBins], double xyz[3]) {
    ToXYZ(a, relative, xyz);
}

bool AtmosphereSetupSunPath(Atmosphere* a, float turbidity) {
    if (!InRange(turbidity, kSkyMinTurbidity, kSkyMaxTurbidity)) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    a->turbidity = turbidity;
    a->albedo = kAtmosphereDefaultAlbedo;
    a->altitude = 0.0f;
    a->r0 = kRg;
    a->thetaHorizon = kPi / 2.0;
    BuildBands(a);
    a->setUp = false;
    a->sunSet = false;
    return true;
}

}  // namespace kv
