#include "atmosphere.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "sky/analytic_sky.h"
#include "sky/atmosphere_medium.h"
#include "sky/colour_matching.h"

namespace kv {

namespace {

constexpr int K = kAtmosphereBins;
using std::numbers::pi;
constexpr double kRg = kAtmospherePlanetRadius;
constexpr double kRt = kAtmosphereTopRadius;
constexpr double kBandWidth = (kAtmosphereLastNm - kAtmosphereFirstNm) / K;
constexpr double kDegToRad = pi / 180.0;

// Transmittance to the top of the atmosphere over (radius, direction), in
// the parameterisation of Bruneton 2017 ("Precomputed Atmospheric
// Scattering: a New Implementation"), which crowds the samples where rays
// graze the horizon.
constexpr int kTxR = 64;
constexpr int kTxMu = 256;
constexpr int kTxSteps = 40;
// Multiply scattered light over (altitude, cosine of the sun's zenith
// angle): at each point light arrives from the directions of a quadrature
// of the sphere (zenith bands times azimuths over half a turn, the rest by
// symmetry), each gathered along a ray of kMsSteps samples.
constexpr int kMsR = 16;
constexpr int kMsMu = 48;
constexpr int kMsZenith = 16;
constexpr int kMsAzimuth = 8;
constexpr int kMsDirections = kMsZenith * 2 * kMsAzimuth;
constexpr int kMsHalf = kMsDirections / 2;
constexpr int kMsSteps = 20;
// The directions scattered light leaves in: the cosine of their zenith
// angle, and their azimuth from the sun's (0 to pi).
constexpr int kAnMu = 16;
constexpr int kAnPhi = 9;
constexpr int kAnDirections = kAnMu * kAnPhi;
// How that light depends on its direction is kept for groups of
// neighbouring bands: blue light arrives more evenly from the whole sky
// than red.
constexpr int kAnGroups = 4;
constexpr int kAnGroupBands = kAtmosphereBins / kAnGroups;
// The sky's irradiance on the ground over the cosine of the sun's zenith
// angle, from the lowest lit sun up, gathered over zenith bands and azimuths.
constexpr int kIrrMu = 68;
double IrrLowMu() { return std::cos(kAtmosphereLitSunZenith * std::numbers::pi / 180.0); }
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
// The multiply scattered light of each texel of the sky-view table, for
// suns from overhead to kAtmosphereLitSunZenith: placing the sun only
// interpolates it.
constexpr int kSunSlices = 46;

struct Columns {
    double rayleigh;
    double mie;
    double ozone;
};

// One sample of a ray from a point (the viewer, a point of the tables, the
// ground), with what the integrals along the ray need of it.
struct RaySample {
    float rayleigh[K];  // transmittance from the ray's start times scattering coefficient times step
    float mie[K];
    double a, b;       // the sun's zenith cosine here: a cos(sun zenith at the start) + b cos(angle to the sun)
    double r;          // radius
    double rr;         // r^2
    double horizonMu;  // below this cosine the planet hides the sun
    double txDMin, txDScale;
    int txRow;
    float txW;
    int msRow;
    float msW;
    int anMu;  // the ray's zenith cosine here, in the tables of directions
    float anMuW;
};

struct Ray {
    int count;                // samples
    bool ground;              // the ray ends on the ground
    double groundA, groundB;  // the sun's zenith cosine at the ground, as for RaySample
    float groundT[K];         // transmittance to the ground
};

// Multiply scattered light at the points of the tables, per steradian, unit
// scattering coefficient and extraterrestrial irradiance: the mean over the
// directions it leaves in (the isotropic part), in logs, since it fades by
// orders of magnitude as the sun sinks; and the factor by which the phase
// functions of air and of aerosols make it brighter or darker in each
// direction than that mean.
struct Field {
    float logMean[kMsR][kMsMu][K];
    float shape[kMsR][kMsMu][kAnMu][kAnPhi][2][kAnGroups];
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
    // Multiple scattering: the tables' rays, one per altitude and zenith band
    // of the quadrature; the phase functions (air, aerosols) between the
    // directions light leaves in and those it arrives from, each row
    // normalised to 1; the share of isotropic light of unit radiance the
    // surroundings of a point send back to it (f of Hillaire 2020); the
    // field of the order being built; and the field of all orders past the
    // first.
    Ray tableRays[kMsR][kMsZenith];
    RaySample tableSamples[kMsR][kMsZenith][kMsSteps];
    float kernel[kAnDirections][kMsHalf][2];
    double quadrature[kMsHalf][4];  // direction, and its share of the sphere
    float transfer[kMsR][K];
    Field order;
    Field multiple;
    // The ground's rays up into the sky, and its irradiance from the sky: by
    // single scattering, by the order of light before the one being built,
    // and by everything, in logs.
    Ray groundRays[kIrrZenith];
    RaySample groundSamples[kIrrZenith][kIrrSteps];
    float singleIrradiance[kIrrMu][K];
    float orderIrradiance[kIrrMu][K];
    float logSkyIrradiance[kIrrMu][K];
    // The viewer's rays, and the multiply scattered light they see per
    // slice of the sun's zenith angle (logs of XYZ in cd/m^2).
    double rowTheta[kRows];
    Ray rows[kRows];
    RaySample samples[kRows][kSamples];
    float viewMultiple[kSunSlices][kRows][kCols][3];
    // The sun.
    float sunZenith;
    float sunAzimuth;
    double sun[3];
    double sunHorizontal[2];  // (x, z) of its azimuth; zero when it is overhead
    double sunXYZ[3];         // the disc's radiance
    Texel table[kRows][kCols];
    // The aerosols as asked for, and the medium they make: after the tables,
    // whose alignment the vectorised loops over the bands rely on.
    AtmosphereAerosols aerosols;
    AtmosphereMedium medium;
    // The moon as a second light: its direction, its light per band relative
    // to the sun's extraterrestrial irradiance (the sun's spectrum reddened by
    // the lunar albedo, scaled to the moon's illuminance), the same per XYZ
    // channel for the multiply scattered light kept in XYZ, and its sky-view
    // table.
    bool moonOn;
    double moon[3];
    double moonHorizontal[2];
    float moonWeights[K];
    double moonChannels[3];
    Texel moonTable[kRows][kCols];
};

namespace {

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

double Altitude(double r) { return r - kRg; }

AtmosphereDensity DensityAtRadius(const AtmosphereMedium& m, double r) { return AtmosphereDensityAt(m, Altitude(r)); }

double RadiusAt(double r, double mu, double t) { return std::sqrt(r * r + t * t + 2.0 * r * t * mu); }

void AddColumns(const AtmosphereMedium& m, Columns* c, const AtmosphereDensity& a, const AtmosphereDensity& b,
                double rA, double rB, double length) {
    const double altA = Altitude(rA);
    const double altB = Altitude(rB);
    c->rayleigh += AtmosphereAirStep(m, a.rayleigh, b.rayleigh, altA, altB, length);
    c->mie += AtmosphereAerosolStep(m, a.mie, b.mie, altA, altB, length);
    c->ozone += 0.5 * (a.ozone + b.ozone) * length;
}

// Amounts of each constituent along a ray of the given length.
Columns ColumnsAlong(const AtmosphereMedium& m, double r, double mu, double length, int steps) {
    Columns c{};
    AtmosphereDensity prev = DensityAtRadius(m, r);
    double prevR = r;
    const double dt = length / steps;
    for (int i = 1; i <= steps; ++i) {
        const double nextR = RadiusAt(r, mu, dt * i);
        const AtmosphereDensity next = DensityAtRadius(m, nextR);
        AddColumns(m, &c, prev, next, prevR, nextR, dt);
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

void MarchRay(const AtmosphereMedium& medium, double r, double mu, double length, int n, March* m) {
    m->n = n;
    Columns c{};
    double prevT = 0.0;
    double prevR = r;
    AtmosphereDensity prev = DensityAtRadius(medium, r);
    for (int i = 0; i < n; ++i) {
        const double u = (i + 0.5) / n;
        const double t = length * u * u;
        m->t[i] = t;
        m->dt[i] = length * 2.0 * u / n;
        m->r[i] = RadiusAt(r, mu, t);
        m->density[i] = DensityAtRadius(medium, m->r[i]);
        AddColumns(medium, &c, prev, m->density[i], prevR, m->r[i], t - prevT);
        m->columns[i] = c;
        prev = m->density[i];
        prevR = m->r[i];
        prevT = t;
    }
}

// ---- Look-ups.

// The transmittance table between rows ir and ir + 1 (weight wr of the
// second) at column coordinate fm.
inline void TransmittanceBetween(const Atmosphere* a, int ir, float wr, double fm, float* __restrict out) {
    const int im = fm >= kTxMu - 1 ? kTxMu - 2 : static_cast<int>(fm);
    const auto wm = static_cast<float>(fm - im);
    const float* t00 = a->transmittance[ir][im];
    const float* t01 = a->transmittance[ir][im + 1];
    const float* t10 = a->transmittance[ir + 1][im];
    const float* t11 = a->transmittance[ir + 1][im + 1];
    for (int k = 0; k < K; ++k) {
        out[k] = (t00[k] * (1.0f - wm) + t01[k] * wm) * (1.0f - wr) + (t10[k] * (1.0f - wm) + t11[k] * wm) * wr;
    }
}

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
    const double fr = std::clamp(rho / h, 0.0, 1.0) * (kTxR - 1);
    const double fm = std::clamp(xMu, 0.0, 1.0) * (kTxMu - 1);
    const int ir = fr >= kTxR - 1 ? kTxR - 2 : static_cast<int>(fr);
    TransmittanceBetween(a, ir, static_cast<float>(fr - ir), fm, out);
}

// Row coordinate of the tables of multiple scattering for a radius: crowded
// near the ground.
double MultipleRow(double r) { return std::sqrt(std::clamp((r - kRg) / (kRt - kRg), 0.0, 1.0)) * (kMsR - 1); }

double MultipleRowRadius(int ir) {
    const double x = static_cast<double>(ir) / (kMsR - 1);
    return kRg + std::fmax(x * x * (kRt - kRg), 1.0);
}

// Column coordinate of those tables for the cosine of the sun's zenith
// angle: crowded round the horizon, where twilight fades quickly (u =
// sign(mu) sqrt(|mu|) in equal steps).
double MultipleColumn(double muS) {
    const double u = muS < 0.0 ? -std::sqrt(std::fmin(-muS, 1.0)) : std::sqrt(std::fmin(muS, 1.0));
    return (u + 1.0) * 0.5 * (kMsMu - 1);
}

double MultipleColumnMu(int im) {
    const double u = -1.0 + 2.0 * im / (kMsMu - 1);
    return u < 0.0 ? -u * u : u * u;
}

// Index and weight of a value v in [lo, hi] on n equal steps.
void Place(double v, double lo, double hi, int n, int* i, float* w) {
    const double f = std::clamp((v - lo) / (hi - lo), 0.0, 1.0) * (n - 1);
    *i = f >= n - 1 ? n - 2 : static_cast<int>(f);
    *w = static_cast<float>(f - *i);
}

// Where a field is looked up: radius, the sun's zenith cosine, and the
// zenith cosine and azimuth of the direction the light leaves in.
struct FieldPlace {
    int ir;
    float wr;
    int im;
    float wm;
    int iv;
    float wv;
    int ip;
    float wp;
};

void PlaceSun(FieldPlace* p, double muS) {
    const double fm = MultipleColumn(muS);
    p->im = fm >= kMsMu - 1 ? kMsMu - 2 : static_cast<int>(fm);
    p->wm = static_cast<float>(fm - p->im);
}

// The direction dependence at one point of the tables, between its four
// nearest directions, added to shape.
inline void AddShape(const float (*t)[kAnPhi][2][kAnGroups], const FieldPlace& p, const float w[4],
                     float* __restrict shape) {
    const float* c00 = t[p.iv][p.ip][0];
    const float* c01 = c00 + 2 * kAnGroups;
    const float* c10 = t[p.iv + 1][p.ip][0];
    const float* c11 = c10 + 2 * kAnGroups;
    for (int g = 0; g < 2 * kAnGroups; ++g) shape[g] += w[0] * c00[g] + w[1] * c01[g] + w[2] * c10[g] + w[3] * c11[g];
}

// Multiply scattered light of a field per unit scattering coefficient of air
// and of aerosols, at a place and leaving in a direction.
void FieldLookup(const Field& f, const FieldPlace& p, float* __restrict air, float* __restrict aerosols) {
    const float v[4] = {(1.0f - p.wv) * (1.0f - p.wp), (1.0f - p.wv) * p.wp, p.wv * (1.0f - p.wp), p.wv * p.wp};
    const float c[4] = {(1.0f - p.wr) * (1.0f - p.wm), (1.0f - p.wr) * p.wm, p.wr * (1.0f - p.wm), p.wr * p.wm};
    float shape[2 * kAnGroups] = {};
    float w[4];
    for (int i = 0; i < 4; ++i) w[i] = c[0] * v[i];
    AddShape(f.shape[p.ir][p.im], p, w, shape);
    for (int i = 0; i < 4; ++i) w[i] = c[1] * v[i];
    AddShape(f.shape[p.ir][p.im + 1], p, w, shape);
    for (int i = 0; i < 4; ++i) w[i] = c[2] * v[i];
    AddShape(f.shape[p.ir + 1][p.im], p, w, shape);
    for (int i = 0; i < 4; ++i) w[i] = c[3] * v[i];
    AddShape(f.shape[p.ir + 1][p.im + 1], p, w, shape);
    const float* m00 = f.logMean[p.ir][p.im];
    const float* m01 = f.logMean[p.ir][p.im + 1];
    const float* m10 = f.logMean[p.ir + 1][p.im];
    const float* m11 = f.logMean[p.ir + 1][p.im + 1];
    float mean[K];
    for (int k = 0; k < K; ++k) mean[k] = ExpNeg(c[0] * m00[k] + c[1] * m01[k] + c[2] * m10[k] + c[3] * m11[k]);
    for (int q = 0; q < kAnGroups; ++q) {
        const float sa = shape[q];
        const float sm = shape[kAnGroups + q];
        for (int b = 0; b < kAnGroupBands; ++b) {
            air[q * kAnGroupBands + b] = mean[q * kAnGroupBands + b] * sa;
            aerosols[q * kAnGroupBands + b] = mean[q * kAnGroupBands + b] * sm;
        }
    }
}

// Entries of the sky's irradiance table are equal in u, where mu = u |u|:
// crowded round the horizon, where twilight fades quickly.
double IrradianceU(double muS) { return muS < 0.0 ? -std::sqrt(-muS) : std::sqrt(std::fmin(muS, 1.0)); }

double IrradianceMu(int i) {
    const double lo = IrradianceU(IrrLowMu());
    const double u = lo + (1.0 - lo) * i / (kIrrMu - 1);
    return u * std::fabs(u);
}

// The entry below muS and the weight of the one above; false below the
// table, where the sky is dark.
bool IrradiancePlace(double muS, int* i, float* w) {
    const double lo = IrradianceU(IrrLowMu());
    const double f = muS < IrrLowMu() ? -1.0 : (IrradianceU(muS) - lo) / (1.0 - lo) * (kIrrMu - 1);
    if (!(f >= 0.0)) return false;
    const double fc = f > kIrrMu - 1 ? kIrrMu - 1 : f;
    *i = fc >= kIrrMu - 1 ? kIrrMu - 2 : static_cast<int>(fc);
    *w = static_cast<float>(fc - *i);
    return true;
}

// Interpolated between the entries' logs: in twilight the irradiance falls
// by a large factor from one entry to the next, and linearly it would be
// overestimated between them. Over the first step it fades to nothing at
// the lowest lit sun, so that the light has no step there.
void SkyIrradianceLookup(const Atmosphere* a, double muS, float out[K]) {
    int i;
    float w;
    if (!IrradiancePlace(muS, &i, &w)) {
        for (int k = 0; k < K; ++k) out[k] = 0.0f;
        return;
    }
    const float* l0 = a->logSkyIrradiance[i];
    const float* l1 = a->logSkyIrradiance[i + 1];
    const float fade = i == 0 ? w : 1.0f;
    for (int k = 0; k < K; ++k) out[k] = fade * ExpNeg(l0[k] * (1.0f - w) + l1[k] * w);
}

// The same of a table kept as it is, for the irradiance of one order.
void IrradianceLookup(const float table[kIrrMu][K], double muS, float out[K]) {
    int i;
    float w;
    if (!IrradiancePlace(muS, &i, &w)) {
        for (int k = 0; k < K; ++k) out[k] = 0.0f;
        return;
    }
    for (int k = 0; k < K; ++k) out[k] = table[i][k] * (1.0f - w) + table[i + 1][k] * w;
}

// Direct sunlight on the ground, relative to the extraterrestrial (its
// centre's cosine muS), added to out.
void AddSunOnGround(const Atmosphere* a, double muS, float out[K]) {
    if (muS <= 0.0) return;
    float t[K];
    TransmittanceLookup(a, kRg, muS, t);
    for (int k = 0; k < K; ++k) out[k] += t[k] * static_cast<float>(muS);
}

// Irradiance on the ground relative to the extraterrestrial, from the sun
// and the sky.
void GroundIrradiance(const Atmosphere* a, double muS, float out[K]) {
    SkyIrradianceLookup(a, muS, out);
    AddSunOnGround(a, muS, out);
}

void ToXYZ(const Atmosphere* a, const float relative[K], double xyz[3]) {
    for (int c = 0; c < 3; ++c) {
        double s = 0.0;
        for (int k = 0; k < K; ++k) s += a->toXYZ[c][k] * relative[k];
        xyz[c] = s;
    }
}

// ---- Rays and what is gathered along them.

// A ray from radius r with zenith cosine mu, to the ground or the top of the
// atmosphere, in n samples (see MarchRay).
void BuildRay(const Atmosphere* a, double r, double mu, bool ground, int n, Ray* ray, RaySample* samples) {
    const double h = std::sqrt(kRt * kRt - kRg * kRg);
    const double length = ground ? DistanceToGround(r, mu) : DistanceToTop(r, mu);
    ray->ground = ground;
    ray->count = length > 0.0 ? n : 0;
    March m;
    MarchRay(a->medium, r, mu, length, ray->count, &m);
    float t[K];
    for (int i = 0; i < m.n; ++i) {
        RaySample& s = samples[i];
        BandTransmittance(a, m.columns[i], t);
        const auto dr = static_cast<float>(m.density[i].rayleigh * m.dt[i]);
        const auto dm = static_cast<float>(m.density[i].mie * m.dt[i]);
        for (int k = 0; k < K; ++k) {
            s.rayleigh[k] = t[k] * a->rayleigh[k] * dr;
            s.mie[k] = t[k] * a->mieScattering[k] * dm;
        }
        const double ri = m.r[i];
        s.r = ri;
        s.rr = ri * ri;
        s.a = r / ri;
        s.b = m.t[i] / ri;
        const double rho = SafeSqrt(ri * ri - kRg * kRg);
        s.horizonMu = -rho / ri;
        s.txDMin = kRt - ri;
        s.txDScale = (kTxMu - 1) / (rho + h - s.txDMin);
        const double fr = std::clamp(rho / h, 0.0, 1.0) * (kTxR - 1);
        s.txRow = fr >= kTxR - 1 ? kTxR - 2 : static_cast<int>(fr);
        s.txW = static_cast<float>(fr - s.txRow);
        const double fm = MultipleRow(ri);
        s.msRow = fm >= kMsR - 1 ? kMsR - 2 : static_cast<int>(fm);
        s.msW = static_cast<float>(fm - s.msRow);
        Place((r * mu + m.t[i]) / ri, -1.0, 1.0, kAnMu, &s.anMu, &s.anMuW);
    }
    ray->groundA = r / kRg;
    ray->groundB = length / kRg;
    if (ground) {
        Columns c = m.n > 0 ? m.columns[m.n - 1] : Columns{};
        if (m.n > 0) {
            AddColumns(a->medium, &c, m.density[m.n - 1], DensityAtRadius(a->medium, kRg), m.r[m.n - 1], kRg,
                       length - m.t[m.n - 1]);
        }
        BandTransmittance(a, c, ray->groundT);
    }
}

// Transmittance from a sample to the sun, whose zenith cosine there is muS;
// false where the planet hides the sun.
inline bool SunTransmittance(const Atmosphere* a, const RaySample& s, double muS, float* __restrict t) {
    if (muS < s.horizonMu) return false;
    const double d = -s.r * muS + SafeSqrt(s.rr * (muS * muS - 1.0) + kRt * kRt);
    TransmittanceBetween(a, s.txRow, s.txW, std::clamp<double>((d - s.txDMin) * s.txDScale, 0.0, kTxMu - 1), t);
    return true;
}

// Sunlight scattered once along a ray towards its start, per band and
// relative to the extraterrestrial irradiance, by air and by aerosols (their
// phase functions still to be applied). muS0 is the sun's zenith cosine at
// the ray's start, nu the cosine of the angle between the ray and the sun.
void SingleAlong(const Atmosphere* a, const Ray& ray, const RaySample* samples, double muS0, double nu,
                 float* __restrict sr, float* __restrict sm) {
    for (int k = 0; k < K; ++k) sr[k] = sm[k] = 0.0f;
    float t[K];
    for (int i = 0; i < ray.count; ++i) {
        const RaySample& s = samples[i];
        if (!SunTransmittance(a, s, s.a * muS0 + s.b * nu, t)) continue;
        for (int k = 0; k < K; ++k) {
            sr[k] += s.rayleigh[k] * t[k];
            sm[k] += s.mie[k] * t[k];
        }
    }
}

// The light of a field scattered along a ray towards its start, added to
// out. Its azimuth from the sun's (place ip, wp) is taken as at the ray's
// start all along it. The field changes slowly along a ray: it is looked up
// at the middle of each pair of samples and used for both.
void MultipleAlong(const Field& f, const Ray& ray, const RaySample* samples, double muS0, double nu, int ip, float wp,
                   float* __restrict out) {
    float air[K];
    float aerosols[K];
    FieldPlace p{0, 0.0f, 0, 0.0f, 0, 0.0f, ip, wp};
    for (int i = 0; i < ray.count; i += 2) {
        const RaySample& s = samples[i];
        const int last = i + 1 < ray.count ? i + 1 : i;
        const RaySample& next = samples[last];
        const float wr = 0.5f * (s.msRow + s.msW + next.msRow + next.msW);
        p.ir = std::min(static_cast<int>(wr), kMsR - 2);
        p.wr = wr - p.ir;
        const float wv = 0.5f * (s.anMu + s.anMuW + next.anMu + next.anMuW);
        p.iv = std::min(static_cast<int>(wv), kAnMu - 2);
        p.wv = wv - p.iv;
        PlaceSun(&p, 0.5 * ((s.a + next.a) * muS0 + (s.b + next.b) * nu));
        FieldLookup(f, p, air, aerosols);
        for (int j = i; j <= last; ++j) {
            for (int k = 0; k < K; ++k) out[k] += samples[j].rayleigh[k] * air[k] + samples[j].mie[k] * aerosols[k];
        }
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
            AtmosphereOpticsAt(a->medium, nm, &o);
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
            const double mu = d == 0.0 ? 1.0 : std::clamp((h * h - rho * rho - d * d) / (2.0 * r * d), -1.0, 1.0);
            BandTransmittance(a, ColumnsAlong(a->medium, r, mu, d, kTxSteps), a->transmittance[ir][im]);
        }
    }
}

// The directions of the sphere's quadrature and of the tables of directions,
// in a frame with y up and the sun in the x-y plane. The quadrature's zenith
// bands are equal in u, where mu = u |u|: narrow round the horizon, where
// the light arriving changes fastest; then equal in azimuth over a whole
// turn, from the sun's. Returns the direction's share of the sphere.
double QuadratureDirection(int i, double w[3]) {
    const int iz = i / (2 * kMsAzimuth);
    const int ia = i % (2 * kMsAzimuth);
    const double u = 1.0 - 2.0 * (iz + 0.5) / kMsZenith;
    const double mu = u * std::fabs(u);
    const double s = SafeSqrt(1.0 - mu * mu);
    const double phi = pi * (ia + 0.5) / kMsAzimuth;
    w[0] = s * std::cos(phi);
    w[1] = mu;
    w[2] = s * std::sin(phi);
    // d(mu) = 2 |u| du with du = 2 / kMsZenith; the sphere's mu spans 2.
    return 2.0 * std::fabs(u) * (2.0 / kMsZenith) / 2.0 / (2 * kMsAzimuth);
}

void AnisotropyDirection(int i, double v[3]) {
    const double mu = -1.0 + 2.0 * (i / kAnPhi) / (kAnMu - 1);
    const double s = SafeSqrt(1.0 - mu * mu);
    const double phi = pi * (i % kAnPhi) / (kAnPhi - 1);
    v[0] = s * std::cos(phi);
    v[1] = mu;
    v[2] = s * std::sin(phi);
}

// The light arriving from a direction and from its mirror image across the
// sun's plane is the same: the kernel adds the two, over the half of the
// quadrature on one side (azimuths 0 to pi).
int HalfIndex(int iz, int ia) { return iz * kMsAzimuth + ia; }

void BuildKernels(Atmosphere* a) {
    for (int iz = 0; iz < kMsZenith; ++iz) {
        for (int ia = 0; ia < kMsAzimuth; ++ia) {
            double* q = a->quadrature[HalfIndex(iz, ia)];
            q[3] = QuadratureDirection(iz * 2 * kMsAzimuth + ia, q);
        }
    }
    for (int o = 0; o < kAnDirections; ++o) {
        double v[3];
        AnisotropyDirection(o, v);
        double sums[2] = {};
        double k[kMsHalf][2] = {};
        for (int i = 0; i < kMsDirections; ++i) {
            double w[3];
            const double weight = QuadratureDirection(i, w);
            const double c = v[0] * w[0] + v[1] * w[1] + v[2] * w[2];
            const int iz = i / (2 * kMsAzimuth);
            const int ia = i % (2 * kMsAzimuth);
            const int h = HalfIndex(iz, ia < kMsAzimuth ? ia : 2 * kMsAzimuth - 1 - ia);
            const double kr = AtmosphereRayleighPhase(c) * weight;
            const double km = AtmosphereMiePhase(a->medium, c) * weight;
            k[h][0] += kr;
            k[h][1] += km;
            sums[0] += kr;
            sums[1] += km;
        }
        // Normalised, so that the coarse quadrature neither gains nor loses light.
        for (int h = 0; h < kMsHalf; ++h) {
            for (int part = 0; part < 2; ++part) a->kernel[o][h][part] = static_cast<float>(k[h][part] / sums[part]);
        }
    }
}

// The tables' rays, and what the surroundings of each point send back of
// isotropic light of unit radiance: what air and aerosols scatter along
// every ray, and what the ground reflects (isotropic light of radiance L
// gives it an irradiance of pi L, which it sends back as a radiance of albedo
// times L).
void BuildTableRays(Atmosphere* a) {
    for (int ir = 0; ir < kMsR; ++ir) {
        const double r = MultipleRowRadius(ir);
        double transfer[K] = {};
        for (int iz = 0; iz < kMsZenith; ++iz) {
            double w[3];
            // A whole zenith band: its share of the sphere times the azimuths.
            const double weight = QuadratureDirection(iz * 2 * kMsAzimuth, w) * 2 * kMsAzimuth;
            Ray& ray = a->tableRays[ir][iz];
            RaySample* samples = a->tableSamples[ir][iz];
            BuildRay(a, r, w[1], HitsGround(r, w[1]), kMsSteps, &ray, samples);
            for (int k = 0; k < K; ++k) {
                double s = ray.ground ? ray.groundT[k] * a->albedo : 0.0;
                for (int i = 0; i < ray.count; ++i) s += samples[i].rayleigh[k] + samples[i].mie[k];
                transfer[k] += s * weight;
            }
        }
        for (int k = 0; k < K; ++k) a->transfer[ir][k] = static_cast<float>(std::fmin(transfer[k], 0.99));
    }
}

// The ground's rays up into the sky: zenith bands equal in sqrt(mu), narrow
// along the horizon.
double GroundRayMu(int iz) {
    const double u = (iz + 0.5) / kIrrZenith;
    return u * u;
}

void BuildGroundRays(Atmosphere* a) {
    for (int iz = 0; iz < kIrrZenith; ++iz) {
        BuildRay(a, kRg, GroundRayMu(iz), false, kIrrSteps, &a->groundRays[iz], a->groundSamples[iz]);
    }
}

// The irradiance on the ground, relative to the extraterrestrial, from the
// sky's light: of a field along the ground's rays, or (null) of sunlight
// scattered once. Over the upper hemisphere, cosine weighted; for single
// scattering the weights of each phase function are scaled to give its
// cosine-weighted integral over the hemisphere as a far finer grid does,
// which keeps the aerosols' narrow forward peak from being missed or counted
// twice.
void BuildIrradiance(const Atmosphere* a, const Field* field, float out[kIrrMu][K]) {
    for (int i = 0; i < kIrrMu; ++i) {
        const double muS = IrradianceMu(i);
        const double sinS = SafeSqrt(1.0 - muS * muS);
        double coarse[2] = {};
        float er[K] = {};
        float em[K] = {};
        float e[K] = {};
        float sr[K];
        float sm[K];
        for (int iz = 0; iz < kIrrZenith; ++iz) {
            const double u = (iz + 0.5) / kIrrZenith;
            const double mu = GroundRayMu(iz);
            const double sinT = SafeSqrt(1.0 - mu * mu);
            for (int ia = 0; ia < kIrrAzimuth; ++ia) {
                const double phi = pi * (ia + 0.5) / kIrrAzimuth;
                const double weight = mu * (2.0 * u / kIrrZenith) * (pi / kIrrAzimuth);
                const double nu = mu * muS + sinT * sinS * std::cos(phi);
                if (field != nullptr) {
                    int ip;
                    float wp;
                    Place(phi, 0.0, pi, kAnPhi, &ip, &wp);
                    float l[K] = {};
                    MultipleAlong(*field, a->groundRays[iz], a->groundSamples[iz], muS, nu, ip, wp, l);
                    for (int k = 0; k < K; ++k) e[k] += static_cast<float>(weight) * l[k];
                    continue;
                }
                const double pr = AtmosphereRayleighPhase(nu);
                const double pm = AtmosphereMiePhase(a->medium, nu);
                coarse[0] += pr * weight;
                coarse[1] += pm * weight;
                SingleAlong(a, a->groundRays[iz], a->groundSamples[iz], muS, nu, sr, sm);
                for (int k = 0; k < K; ++k) {
                    er[k] += static_cast<float>(pr * weight) * sr[k];
                    em[k] += static_cast<float>(pm * weight) * sm[k];
                }
            }
        }
        double scaleR = 1.0;
        double scaleM = 1.0;
        if (field == nullptr) {
            double fine[2] = {};
            constexpr int kFine = 8;
            for (int iz = 0; iz < kIrrZenith * kFine; ++iz) {
                const double u = (iz + 0.5) / (kIrrZenith * kFine);
                const double mu = u * u;
                const double sinT = SafeSqrt(1.0 - mu * mu);
                for (int ia = 0; ia < kIrrAzimuth * kFine; ++ia) {
                    const double phi = pi * (ia + 0.5) / (kIrrAzimuth * kFine);
                    const double weight = mu * (2.0 * u / (kIrrZenith * kFine)) * (pi / (kIrrAzimuth * kFine));
                    const double nu = mu * muS + sinT * sinS * std::cos(phi);
                    fine[0] += AtmosphereRayleighPhase(nu) * weight;
                    fine[1] += AtmosphereMiePhase(a->medium, nu) * weight;
                }
            }
            scaleR = coarse[0] > 0.0 ? fine[0] / coarse[0] : 1.0;
            scaleM = coarse[1] > 0.0 ? fine[1] / coarse[1] : 1.0;
        }
        // Over a whole turn by symmetry.
        for (int k = 0; k < K; ++k) out[i][k] = static_cast<float>(2.0 * (e[k] + er[k] * scaleR + em[k] * scaleM));
    }
}

// Multiple scattering, order by order. The light of each order arriving at
// a point from every direction is what the order before scattered along
// the ray from that direction (for the first, sunlight), with the ground at
// the ray's end lit by the order before's light (for the first, the sun);
// its mean over the directions and, through the phase functions, its
// dependence on the direction it is scattered into make the next order's
// field. Orders 2 to 4 are built so, each from the one before; the further
// orders are a geometric series of the fourth with the ratio f of
// Hillaire 2020 ("A Scalable and Production Ready Sky and Atmosphere
// Rendering Technique"), by then a fair measure of how much of each order
// the next one returns. Isotropic scattering of every order past the first,
// as Hillaire assumes, makes the sky too bright overhead and too dark along
// the horizon, where the light of further orders comes from.

// One point's field, before it is stored: the mean per band and the
// direction dependence per group, both still summed over the directions.
struct PointField {
    double mean[K];
    double group[kAnGroups];
    float directed[kAnDirections][2][kAnGroups];
};

// The light of the given order (1: single scattering; past it, of the
// field `from`, with the ground lit by orderIrradiance) arriving at point
// (ir, im) from every direction of the quadrature, scattered into the
// directions of the tables.
void GatherPoint(const Atmosphere* a, int ir, int im, const Field* from, PointField* out) {
    const double muS = MultipleColumnMu(im);
    const double sinS = SafeSqrt(1.0 - muS * muS);
    const auto lambert = static_cast<float>(a->albedo / pi);
    alignas(16) float in[kMsHalf][kAnGroups];
    for (int k = 0; k < K; ++k) out->mean[k] = 0.0;
    float sr[K];
    float sm[K];
    for (int iz = 0; iz < kMsZenith; ++iz) {
        const Ray& ray = a->tableRays[ir][iz];
        const RaySample* samples = a->tableSamples[ir][iz];
        for (int ia = 0; ia < kMsAzimuth; ++ia) {
            const double* w = a->quadrature[HalfIndex(iz, ia)];
            // Twice: the mirror image across the sun's plane sees the same.
            const double weight = 2.0 * w[3];
            const double nu = w[0] * sinS + w[1] * muS;
            const double muG = ray.groundA * muS + ray.groundB * nu;
            float l[K] = {};
            float e[K] = {};
            if (from == nullptr) {
                SingleAlong(a, ray, samples, muS, nu, sr, sm);
                const auto pr = static_cast<float>(AtmosphereRayleighPhase(nu));
                const auto pm = static_cast<float>(AtmosphereMiePhase(a->medium, nu));
                for (int k = 0; k < K; ++k) l[k] = pr * sr[k] + pm * sm[k];
                if (ray.ground) AddSunOnGround(a, muG, e);
            } else {
                int ip;
                float wp;
                Place(pi * (ia + 0.5) / kMsAzimuth, 0.0, pi, kAnPhi, &ip, &wp);
                MultipleAlong(*from, ray, samples, muS, nu, ip, wp, l);
                if (ray.ground) IrradianceLookup(a->orderIrradiance, muG, e);
            }
            if (ray.ground) {
                for (int k = 0; k < K; ++k) l[k] += ray.groundT[k] * lambert * e[k];
            }
            for (int k = 0; k < K; ++k) out->mean[k] += l[k] * weight;
            float* g = in[HalfIndex(iz, ia)];
            for (int q = 0; q < kAnGroups; ++q) {
                float sum = 0.0f;
                for (int b = 0; b < kAnGroupBands; ++b) sum += l[q * kAnGroupBands + b];
                g[q] = sum;
            }
        }
    }
    for (int q = 0; q < kAnGroups; ++q) out->group[q] = 0.0;
    for (int k = 0; k < K; ++k) out->group[k / kAnGroupBands] += out->mean[k];
    for (int o = 0; o < kAnDirections; ++o) {
        float jr[kAnGroups] = {};
        float jm[kAnGroups] = {};
        const float(*kernel)[2] = a->kernel[o];
        for (int h = 0; h < kMsHalf; ++h) {
            const float kr = kernel[h][0];
            const float km = kernel[h][1];
            for (int q = 0; q < kAnGroups; ++q) {
                jr[q] += kr * in[h][q];
                jm[q] += km * in[h][q];
            }
        }
        for (int q = 0; q < kAnGroups; ++q) {
            out->directed[o][0][q] = jr[q];
            out->directed[o][1][q] = jm[q];
        }
    }
}

void StorePoint(Field* f, int ir, int im, const PointField& p) {
    for (int k = 0; k < K; ++k) {
        // Below 1e-30 the light is none; the mean of a radiance relative to
        // the extraterrestrial irradiance never reaches 1 sr^-1.
        f->logMean[ir][im][k] = static_cast<float>(std::log(std::clamp(p.mean[k], 1e-30, 1.0)));
    }
    for (int o = 0; o < kAnDirections; ++o) {
        float* dest = f->shape[ir][im][o / kAnPhi][o % kAnPhi][0];
        for (int part = 0; part < 2; ++part) {
            for (int q = 0; q < kAnGroups; ++q) {
                dest[part * kAnGroups + q] =
                    p.group[q] > 0.0 ? static_cast<float>(p.directed[o][part][q] / p.group[q]) : 1.0f;
            }
        }
    }
}

// A stored point's field back in the form GatherPoint gives.
void LoadPoint(const Field& f, int ir, int im, PointField* p) {
    for (int k = 0; k < K; ++k) p->mean[k] = f.logMean[ir][im][k] > -69.0f ? std::exp(f.logMean[ir][im][k]) : 0.0;
    for (int q = 0; q < kAnGroups; ++q) p->group[q] = 0.0;
    for (int k = 0; k < K; ++k) p->group[k / kAnGroupBands] += p->mean[k];
    for (int o = 0; o < kAnDirections; ++o) {
        const float* shape = f.shape[ir][im][o / kAnPhi][o % kAnPhi][0];
        for (int part = 0; part < 2; ++part) {
            for (int q = 0; q < kAnGroups; ++q) {
                p->directed[o][part][q] = static_cast<float>(shape[part * kAnGroups + q] * p->group[q]);
            }
        }
    }
}

void BuildMultiple(Atmosphere* a) {
    BuildKernels(a);
    BuildTableRays(a);
    BuildGroundRays(a);
    PointField p;
    // The second order, from single scattering.
    for (int ir = 0; ir < kMsR; ++ir) {
        for (int im = 0; im < kMsMu; ++im) {
            GatherPoint(a, ir, im, nullptr, &p);
            StorePoint(&a->multiple, ir, im, p);
        }
    }
    BuildIrradiance(a, nullptr, a->singleIrradiance);
    std::memcpy(a->orderIrradiance, a->singleIrradiance, sizeof a->orderIrradiance);
    // The third, from the second.
    for (int ir = 0; ir < kMsR; ++ir) {
        for (int im = 0; im < kMsMu; ++im) {
            GatherPoint(a, ir, im, &a->multiple, &p);
            StorePoint(&a->order, ir, im, p);
        }
    }
    BuildIrradiance(a, &a->multiple, a->orderIrradiance);
    // The fourth from the third, and with it the rest; all of them summed
    // where the second was.
    PointField second;
    PointField third;
    for (int ir = 0; ir < kMsR; ++ir) {
        for (int im = 0; im < kMsMu; ++im) {
            GatherPoint(a, ir, im, &a->order, &p);
            LoadPoint(a->multiple, ir, im, &second);
            LoadPoint(a->order, ir, im, &third);
            double rest[kAnGroups] = {};
            for (int k = 0; k < K; ++k) {
                const double further = p.mean[k] / (1.0 - a->transfer[ir][k]);
                rest[k / kAnGroupBands] += further;
                p.mean[k] = second.mean[k] + third.mean[k] + further;
            }
            for (int q = 0; q < kAnGroups; ++q) {
                const double scale = p.group[q] > 0.0 ? rest[q] / p.group[q] : 0.0;
                for (int o = 0; o < kAnDirections; ++o) {
                    for (int part = 0; part < 2; ++part) {
                        p.directed[o][part][q] = static_cast<float>(
                            second.directed[o][part][q] + third.directed[o][part][q] + p.directed[o][part][q] * scale);
                    }
                }
                p.group[q] = second.group[q] + third.group[q] + rest[q];
            }
            StorePoint(&a->multiple, ir, im, p);
        }
    }
}

// The sky's irradiance on the ground: single scattering and the field of
// every further order.
void BuildSkyIrradiance(Atmosphere* a) {
    float e[kIrrMu][K];
    BuildIrradiance(a, &a->multiple, e);
    for (int i = 0; i < kIrrMu; ++i) {
        for (int k = 0; k < K; ++k) {
            a->logSkyIrradiance[i][k] =
                static_cast<float>(std::log(std::clamp<double>(e[i][k] + a->singleIrradiance[i][k], 1e-30, 1.0)));
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
    return a->thetaHorizon + (pi - a->thetaHorizon) * u * u;
}

// The viewer's rays. Of the horizon's two rows the one above passes the
// ground, the one below grazes it.
void BuildRows(Atmosphere* a) {
    for (int j = 0; j < kRows; ++j) {
        a->rowTheta[j] = RowTheta(a, j);
        BuildRay(a, a->r0, std::cos(a->rowTheta[j]), j >= kUpRows, kSamples, &a->rows[j], a->samples[j]);
    }
}

// Slices of the sun's zenith cosine, equal in u, where mu = u |u|: crowded
// round the horizon, where twilight fades quickly.
double SliceLowU() { return -std::sqrt(-std::cos(kAtmosphereLitSunZenith * kDegToRad)); }

double SliceMu(int n) {
    const double lo = SliceLowU();
    const double u = lo + (1.0 - lo) * n / (kSunSlices - 1);
    return u * std::fabs(u);
}

void BuildViewMultiple(Atmosphere* a) {
    for (int n = 0; n < kSunSlices; ++n) {
        const double muS = SliceMu(n);
        const double sinS = SafeSqrt(1.0 - muS * muS);
        for (int j = 0; j < kRows; ++j) {
            const double ct = std::cos(a->rowTheta[j]);
            const double st = std::sin(a->rowTheta[j]);
            for (int c = 0; c < kCols; ++c) {
                const double dphi = pi * c / (kCols - 1);
                int ip;
                float wp;
                Place(dphi, 0.0, pi, kAnPhi, &ip, &wp);
                float l[K] = {};
                MultipleAlong(a->multiple, a->rows[j], a->samples[j], muS, ct * muS + st * sinS * std::cos(dphi), ip,
                              wp, l);
                double xyz[3];
                ToXYZ(a, l, xyz);
                for (int ch = 0; ch < 3; ++ch) {
                    a->viewMultiple[n][j][c][ch] = static_cast<float>(std::log(std::clamp(xyz[ch], 1e-30, 1e30)));
                }
            }
        }
    }
}

// ---- What depends on the sun.

// A texel of the sky-view table of a light whose zenith cosine is muS0, of
// the sun's spectrum times weights per band (null: the sun itself), and
// channels its multiply scattered light by XYZ channel (null: 1).
void BuildTexel(Atmosphere* a, int j, int c, double nu, int slice, float ws, double muS0, const float* weights,
                const double* channels, Texel* out) {
    const Ray& row = a->rows[j];
    float sr[K];
    float sm[K];
    SingleAlong(a, row, a->samples[j], muS0, nu, sr, sm);
    float g[K] = {};
    if (row.ground) {
        GroundIrradiance(a, row.groundA * muS0 + row.groundB * nu, g);
        const auto lambert = static_cast<float>(a->albedo / pi);
        for (int k = 0; k < K; ++k) g[k] *= lambert * row.groundT[k];
    }
    if (weights != nullptr) {
        for (int k = 0; k < K; ++k) {
            sr[k] *= weights[k];
            sm[k] *= weights[k];
            g[k] *= weights[k];
        }
    }
    const float* parts[3] = {sr, sm, g};
    float* dest[3] = {out->rayleigh, out->mie, out->ground};
    for (int p = 0; p < 3; ++p) {
        double xyz[3];
        ToXYZ(a, parts[p], xyz);
        for (int ch = 0; ch < 3; ++ch) dest[p][ch] = static_cast<float>(xyz[ch]);
    }
    // Between the slices by their logs: in twilight the light fades by a
    // large factor from one slice to the next. Below the second slice it
    // fades to nothing at the lowest lit sun.
    const float* m0 = a->viewMultiple[slice][j][c];
    const float* m1 = a->viewMultiple[slice + 1][j][c];
    const float fade = slice == 0 ? ws : 1.0f;
    for (int ch = 0; ch < 3; ++ch) {
        out->multiple[ch] = fade * std::exp(m0[ch] * (1.0f - ws) + m1[ch] * ws) *
                            static_cast<float>(channels != nullptr ? channels[ch] : 1.0);
    }
}

// The sky-view table of a light from the unit direction towards it (the sun
// unless weights are given: see BuildTexel). A light too low to reach the
// air gives nothing.
void BuildView(Atmosphere* a, const double* towards, const float* weights, const double* channels,
               Texel (*table)[kCols]) {
    const double muS = towards[1];
    if (muS <= std::cos(kAtmosphereLitSunZenith * kDegToRad)) {
        std::memset(static_cast<void*>(table), 0, sizeof(Texel) * kRows * kCols);
        return;
    }
    const double sinS = SafeSqrt(1.0 - muS * muS);
    const double lo = SliceLowU();
    const double u = muS < 0.0 ? -std::sqrt(-muS) : std::sqrt(muS);
    const double fs = std::clamp((u - lo) / (1.0 - lo), 0.0, 1.0) * (kSunSlices - 1);
    const int slice = fs >= kSunSlices - 1 ? kSunSlices - 2 : static_cast<int>(fs);
    const auto ws = static_cast<float>(fs - slice);
    for (int j = 0; j < kRows; ++j) {
        const double ct = std::cos(a->rowTheta[j]);
        const double st = std::sin(a->rowTheta[j]);
        for (int c = 0; c < kCols; ++c) {
            const double dphi = pi * c / (kCols - 1);
            BuildTexel(a, j, c, ct * muS + st * sinS * std::cos(dphi), slice, ws, muS, weights, channels, &table[j][c]);
        }
    }
}

void BuildSkyView(Atmosphere* a) { BuildView(a, a->sun, nullptr, nullptr, a->table); }

void PathTransmittance(const Atmosphere* a, double mu, float out[K]) {
    if (HitsGround(a->r0, mu)) {
        for (int k = 0; k < K; ++k) out[k] = 0.0f;
        return;
    }
    BandTransmittance(a, ColumnsAlong(a->medium, a->r0, mu, DistanceToTop(a->r0, mu), kSunSteps), out);
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
// The pair of the sky-view table's rows a direction falls between, by the
// cosine of its zenith angle: the same for every light, and for a whole row
// of a panorama.
struct RowPlace {
    int j;      // the upper row
    double wr;  // the weight of the one below it
};

RowPlace PlaceRow(const Atmosphere* a, double cosT) {
    const double theta = std::acos(std::clamp(cosT, -1.0, 1.0));
    const double th = a->thetaHorizon;
    int j0;
    int rows;
    double fr;
    if (theta <= th) {
        j0 = 0;
        rows = kUpRows;
        fr = (1.0 - std::sqrt(std::clamp((th - theta) / th, 0.0, 1.0))) * (kUpRows - 1);
    } else {
        j0 = kUpRows;
        rows = kDownRows;
        fr = std::sqrt(std::clamp((theta - th) / (pi - th), 0.0, 1.0)) * (kDownRows - 1);
    }
    const int jr = fr >= rows - 1 ? rows - 2 : static_cast<int>(fr);
    return RowPlace{j0 + jr, fr - jr};
}

// arccos to 2e-8 radians (Abramowitz & Stegun 1964, 4.4.46), for the
// table's column of every direction and light: the library's takes a fifth
// of a panorama's time.
double FastAcos(double x) {
    const double t = std::fabs(x);
    double p = -0.0012624911;
    p = p * t + 0.0066700901;
    p = p * t - 0.0170881256;
    p = p * t + 0.0308918810;
    p = p * t - 0.0501743046;
    p = p * t + 0.0889789874;
    p = p * t - 0.2145988016;
    p = p * t + 1.5707963050;
    const double r = std::sqrt(1.0 - t) * p;
    return x < 0.0 ? pi - r : r;
}

void Evaluate(const Atmosphere* a, const Texel (*table)[kCols], const RowPlace& row, double cosDphi, double nu,
              int32 flags, double xyz[3]) {
    const double wr = row.wr;
    const double fc = FastAcos(std::clamp(cosDphi, -1.0, 1.0)) / pi * (kCols - 1);
    const int c = fc >= kCols - 1 ? kCols - 2 : static_cast<int>(fc);
    const double wc = fc - c;
    const Texel& t00 = table[row.j][c];
    const Texel& t01 = table[row.j][c + 1];
    const Texel& t10 = table[row.j + 1][c];
    const Texel& t11 = table[row.j + 1][c + 1];
    const double w00 = (1.0 - wr) * (1.0 - wc);
    const double w01 = (1.0 - wr) * wc;
    const double w10 = wr * (1.0 - wc);
    const double w11 = wr * wc;
    const double pr = AtmosphereRayleighPhase(nu);
    const double pm = AtmosphereMiePhase(a->medium, nu);
    for (int ch = 0; ch < 3; ++ch) {
        const double r =
            w00 * t00.rayleigh[ch] + w01 * t01.rayleigh[ch] + w10 * t10.rayleigh[ch] + w11 * t11.rayleigh[ch];
        const double m = w00 * t00.mie[ch] + w01 * t01.mie[ch] + w10 * t10.mie[ch] + w11 * t11.mie[ch];
        const double ms =
            w00 * t00.multiple[ch] + w01 * t01.multiple[ch] + w10 * t10.multiple[ch] + w11 * t11.multiple[ch];
        const double g = w00 * t00.ground[ch] + w01 * t01.ground[ch] + w10 * t10.ground[ch] + w11 * t11.ground[ch];
        xyz[ch] = pr * r + pm * m + ms + g;
    }
    if ((flags & AtmosphereWithSunDisc) != 0 && nu >= std::cos(kSunAngularRadius)) {
        for (int ch = 0; ch < 3; ++ch) xyz[ch] += a->sunXYZ[ch];
    }
}

// A direction whose row of the table is placed: the sun's light and the
// moon's.
void EvaluatePlaced(const Atmosphere* a, const RowPlace& row, double x, double y, double z, int32 flags,
                    double xyz[3]) {
    const double hl = std::sqrt(x * x + z * z);
    const double sh = std::sqrt(a->sunHorizontal[0] * a->sunHorizontal[0] + a->sunHorizontal[1] * a->sunHorizontal[1]);
    const double cosDphi = hl > 1e-12 && sh > 0.0 ? (x * a->sunHorizontal[0] + z * a->sunHorizontal[1]) / hl : 1.0;
    const double nu = x * a->sun[0] + y * a->sun[1] + z * a->sun[2];
    Evaluate(a, a->table, row, cosDphi, nu, flags, xyz);
    if (a->moonOn) {
        const double mh = a->moonHorizontal[0] * a->moonHorizontal[0] + a->moonHorizontal[1] * a->moonHorizontal[1];
        const double cosDphiMoon =
            hl > 1e-12 && mh > 0.0 ? (x * a->moonHorizontal[0] + z * a->moonHorizontal[1]) / hl : 1.0;
        const double nuMoon = x * a->moon[0] + y * a->moon[1] + z * a->moon[2];
        double m[3];
        Evaluate(a, a->moonTable, row, cosDphiMoon, nuMoon, AtmosphereSkyOnly, m);
        for (int ch = 0; ch < 3; ++ch) xyz[ch] += m[ch];
    }
}

void EvaluateDirection(const Atmosphere* a, double x, double y, double z, int32 flags, double xyz[3]) {
    EvaluatePlaced(a, PlaceRow(a, y), x, y, z, flags, xyz);
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

bool AtmosphereSetup(Atmosphere* a, float turbidity, float albedo, float altitude, AtmosphereAerosols aerosols) {
    if (!InRange(turbidity, kSkyMinTurbidity, kSkyMaxTurbidity) || !InRange(albedo, 0.0f, 1.0f) ||
        !InRange(altitude, kAtmosphereMinAltitude, kAtmosphereMaxAltitude) || aerosols.kind < 0 ||
        aerosols.kind >= kAtmosphereAerosolKinds ||
        !(aerosols.depth550 == 0.0f || InRange(aerosols.depth550, kAtmosphereMinDepth, kAtmosphereMaxDepth))) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    a->turbidity = turbidity;
    a->aerosols = aerosols;
    a->medium = AtmosphereMediumFor(turbidity, aerosols);
    a->albedo = albedo;
    a->altitude = altitude;
    a->r0 = kRg + altitude;
    a->thetaHorizon = pi - std::asin(std::clamp(kRg / a->r0, -1.0, 1.0));
    BuildBands(a);
    BuildTransmittance(a);
    BuildMultiple(a);
    BuildSkyIrradiance(a);
    BuildRows(a);
    BuildViewMultiple(a);
    a->setUp = true;
    a->sunSet = false;
    a->moonOn = false;
    return true;
}

float AtmosphereTurbidity(const Atmosphere* a) { return a->turbidity; }
AtmosphereAerosols AtmosphereAerosolsOf(const Atmosphere* a) { return a->aerosols; }
const AtmosphereMedium& AtmosphereMediumOf(const Atmosphere* a) { return a->medium; }
float AtmosphereAlbedo(const Atmosphere* a) { return a->albedo; }
float AtmosphereAltitude(const Atmosphere* a) { return a->altitude; }

bool AtmosphereSetSun(Atmosphere* a, float zenithDegrees, float azimuthDegrees) {
    if (!a->setUp) {
        ErrorRaise(kModuleNone, kErrNotReady);
        return false;
    }
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
    return true;
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
    const RowPlace row = PlaceRow(a, ct);
    for (int32 i = 0; i < count; ++i) {
        double xyz[3];
        EvaluatePlaced(a, row, st * std::sin(phi[i]), ct, st * std::cos(phi[i]), flags, xyz);
        colours[i] = XYZToColour(xyz);
    }
}

void AtmosphereRowColorsAt(const Atmosphere* a, double theta, const double* sinPhi, const double* cosPhi, int32 count,
                           RGBAReal* colours, int32 flags) {
    const double st = std::sin(theta);
    const double ct = std::cos(theta);
    const RowPlace row = PlaceRow(a, ct);
    for (int32 i = 0; i < count; ++i) {
        double xyz[3];
        EvaluatePlaced(a, row, st * sinPhi[i], ct, st * cosPhi[i], flags, xyz);
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
    GroundXYZ(a, a->albedo / pi, xyz);
    return XYZToColour(xyz);
}

void AtmosphereBandsToXYZ(const Atmosphere* a, const float relative[kAtmosphereBins], double xyz[3]) {
    ToXYZ(a, relative, xyz);
}

bool AtmosphereSetupSunPath(Atmosphere* a, float turbidity) {
    if (!InRange(turbidity, kSkyMinTurbidity, kSkyMaxTurbidity)) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    a->turbidity = turbidity;
    a->aerosols = AtmosphereAerosols{};
    a->medium = AtmosphereAnalyticSunMedium(turbidity);
    a->albedo = kAtmosphereDefaultAlbedo;
    a->altitude = 0.0f;
    a->r0 = kRg;
    a->thetaHorizon = pi / 2.0;
    BuildBands(a);
    a->setUp = false;
    a->sunSet = false;
    a->moonOn = false;
    return true;
}

namespace {

// The moon's albedo rises towards the red: its colour index B-V is 0.92
// against the sun's 0.65 (Allen's Astrophysical Quantities, 4th ed., Cox
// 2000, the moon's and the sun's tables). A reflectance growing as
// wavelength^p reddens B-V by 2.5 p log10(550 / 440) between the bands'
// centres, so p = 0.27 / 0.242.
constexpr double kMoonReddening = 0.27 / 0.2423;

}  // namespace

bool AtmosphereSetMoon(Atmosphere* a, float zenithDegrees, float azimuthDegrees, double illuminance) {
    if (!a->setUp) {
        ErrorRaise(kModuleNone, kErrNotReady);
        return false;
    }
    // Past the tables' range a light adds nothing the eye could see: the
    // moon's is a millionth of the sun's.
    a->moonOn = illuminance > 0.0 && zenithDegrees >= 0.0f && zenithDegrees <= kAtmosphereMaxSunZenith;
    if (!a->moonOn) return true;
    const double t = zenithDegrees * kDegToRad;
    const double p = azimuthDegrees * kDegToRad;
    a->moon[0] = std::sin(t) * std::sin(p);
    a->moon[1] = std::cos(t);
    a->moon[2] = std::sin(t) * std::cos(p);
    const double sh = std::sin(t);
    a->moonHorizontal[0] = sh > 1e-9 ? std::sin(p) : 0.0;
    a->moonHorizontal[1] = sh > 1e-9 ? std::cos(p) : 0.0;
    // The sun's spectrum reddened, scaled so that its luminance is the
    // moon's illuminance outside the atmosphere.
    double shape[K];
    double y = 0.0;
    for (int k = 0; k < K; ++k) {
        const double nm = kAtmosphereFirstNm + kBandWidth * (k + 0.5);
        shape[k] = std::pow(nm / 550.0, kMoonReddening);
        y += a->toXYZ[1][k] * shape[k];
    }
    for (int k = 0; k < K; ++k) a->moonWeights[k] = static_cast<float>(shape[k] * illuminance / y);
    for (int c = 0; c < 3; ++c) {
        double moonlit = 0.0;
        double sunlit = 0.0;
        for (int k = 0; k < K; ++k) {
            moonlit += a->toXYZ[c][k] * a->moonWeights[k];
            sunlit += a->toXYZ[c][k];
        }
        a->moonChannels[c] = sunlit > 0.0 ? moonlit / sunlit : 0.0;
    }
    BuildView(a, a->moon, a->moonWeights, a->moonChannels, a->moonTable);
    return true;
}

double AtmosphereMoonIlluminance(const Atmosphere* a, double* fromSky, RGBAReal* groundRadiance) {
    float e[K] = {};
    float sky[K] = {};
    if (a->moonOn) {
        SkyIrradianceLookup(a, a->moon[1], sky);
        for (int k = 0; k < K; ++k) {
            sky[k] *= a->moonWeights[k];
            e[k] = sky[k];
        }
        float direct[K] = {};
        AddSunOnGround(a, a->moon[1], direct);
        for (int k = 0; k < K; ++k) e[k] += direct[k] * a->moonWeights[k];
    }
    double xyz[3];
    if (fromSky != nullptr) {
        ToXYZ(a, sky, xyz);
        *fromSky = xyz[1];
    }
    ToXYZ(a, e, xyz);
    if (groundRadiance != nullptr) {
        double radiance[3];
        for (int c = 0; c < 3; ++c) radiance[c] = xyz[c] * a->albedo / pi;
        *groundRadiance = XYZToColour(radiance);
    }
    return xyz[1];
}

}  // namespace kv
