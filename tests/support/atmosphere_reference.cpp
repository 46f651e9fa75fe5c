#include "atmosphere_reference.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>
#include <thread>

#include "sky/atmosphere_medium.h"
#include "sky/colour_matching.h"

namespace kv {

namespace {

constexpr int N = kReferenceWavelengths;
constexpr double kPi = 3.14159265358979323846;
constexpr double kRg = kAtmospherePlanetRadius;
constexpr double kRt = kAtmosphereTopRadius;
// The wavelengths whose light decides where paths go (450, 550, 650 nm),
// by their mean; all follow with weights, which the mean keeps within a
// small factor of 1 for every wavelength.
constexpr int kGuides[3] = {7, 17, 27};

// e^-x for x >= 0 to about 1e-15, written so that loops over the
// wavelengths vectorise (the library's exp does not): x = k ln 2 - r with k
// rounded by the 1.5 * 2^52 trick, 2^-k by the exponent's bits, e^r on
// |r| <= ln 2 / 2 by its Taylor series to r^12 / 12!, nested as
// 1 + r (1 + r / 2 (1 + r / 3 (...))).
inline double ExpMinus(double x) {
    constexpr double kShift = 6755399441055744.0;     // 1.5 * 2^52
    x -= 0.5 * ((x - 700.0) + std::fabs(x - 700.0));  // at most 700, without a branch
    const double shifted = x * 1.4426950408889634 + kShift;
    const double k = shifted - kShift;
    const double r = (k * 0.6931471803691238 - x) + k * 1.9082149292705877e-10;
    double p = 1.0;
    for (int n = 12; n >= 1; --n) p = 1.0 + p * r * (1.0 / n);
    const int64_t scale = (1023 - (std::bit_cast<int64_t>(shifted) & 0xFFFFF)) << 52;
    return p * std::bit_cast<double>(scale);
}

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Length(const double a[3]) { return std::sqrt(Dot(a, a)); }
double Root(double v) { return v > 0.0 ? std::sqrt(v) : 0.0; }

double ToTop(double r, double mu) { return -r * mu + Root(r * r * (mu * mu - 1.0) + kRt * kRt); }
double ToGround(double r, double mu) { return -r * mu - Root(r * r * (mu * mu - 1.0) + kRg * kRg); }
bool MeetsGround(double r, double mu) { return mu < 0.0 && r * r * (mu * mu - 1.0) + kRg * kRg >= 0.0; }

// A small, fast generator (splitmix64) seeded per direction.
struct Random {
    uint64_t state;
    double Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
    }
};

// An orthonormal frame round a unit vector.
void Frame(const double w[3], double u[3], double v[3]) {
    const double a[3] = {std::fabs(w[0]) < 0.9 ? 1.0 : 0.0, std::fabs(w[0]) < 0.9 ? 0.0 : 1.0, 0.0};
    u[0] = a[1] * w[2] - a[2] * w[1];
    u[1] = a[2] * w[0] - a[0] * w[2];
    u[2] = a[0] * w[1] - a[1] * w[0];
    const double l = Length(u);
    for (int i = 0; i < 3; ++i) u[i] /= l;
    v[0] = w[1] * u[2] - w[2] * u[1];
    v[1] = w[2] * u[0] - w[0] * u[2];
    v[2] = w[0] * u[1] - w[1] * u[0];
}

void Around(const double w[3], double cosT, double phi, double out[3]) {
    double u[3];
    double v[3];
    Frame(w, u, v);
    const double sinT = Root(1.0 - cosT * cosT);
    for (int i = 0; i < 3; ++i) out[i] = sinT * std::cos(phi) * u[i] + sinT * std::sin(phi) * v[i] + cosT * w[i];
}

// Directions for the next order, from a mixture: a third uniform over the
// sphere, a third from a Henyey-Greenstein lobe round the ray (the aerosols'
// forward peak), a third from the same lobe round the sun (the bright
// aureole every further ray sees there), with the aerosols' asymmetry. The
// pdf is the mixture's.
double Lobe(double g, double c) {
    const double g2 = g * g;
    const double d = 1.0 + g2 - 2.0 * g * c;
    return (1.0 - g2) / (4.0 * kPi * d * std::sqrt(d));
}

double LobeCos(double g, double x) {
    const double g2 = g * g;
    const double s = (1.0 - g2) / (1.0 - g + 2.0 * g * x);
    return std::clamp((1.0 + g2 - s * s) / (2.0 * g), -1.0, 1.0);
}

void SampleDirection(double g, const double ray[3], const double sun[3], double u1, double u2, double w[3],
                     double* pdf) {
    if (u1 < 1.0 / 3.0) {
        Around(ray, 1.0 - 2.0 * (u1 * 3.0), 2.0 * kPi * u2, w);
    } else if (u1 < 2.0 / 3.0) {
        Around(ray, LobeCos(g, u1 * 3.0 - 1.0), 2.0 * kPi * u2, w);
    } else {
        Around(sun, LobeCos(g, u1 * 3.0 - 2.0), 2.0 * kPi * u2, w);
    }
    *pdf = (1.0 / (4.0 * kPi) + Lobe(g, Dot(ray, w)) + Lobe(g, Dot(sun, w))) / 3.0;
}

}  // namespace

// The samples of one ray: where they are, the transmittance to each from the
// ray's start, and how much each scatters.
struct RayNodes {
    int n = 0;
    bool ground = false;
    double dir[3];
    double end[3];
    std::vector<double> pos;       // 3 per node
    std::vector<double> dt;        // length each stands for
    std::vector<double> rayleigh;  // densities
    std::vector<double> mie;
    std::vector<double> columns;  // 3 per node: air, aerosols and ozone from the start
    ReferenceSpectrum groundT{};
    std::vector<double> weight;  // what each scatters at the guide wavelength, then the ground's
    double total = 0.0;
};

AtmosphereReference::AtmosphereReference(float turbidity, float albedo, float altitude, const ReferenceOptions& options,
                                         const AtmosphereAerosols& aerosols)
    : options_(options), medium_(AtmosphereMediumFor(turbidity, aerosols)), albedo_(albedo), r0_(kRg + altitude) {
    for (int i = 0; i < N; ++i) {
        AtmosphereOptics o;
        AtmosphereOpticsAt(medium_, Wavelength(i), &o);
        rayleigh_[i] = o.rayleigh;
        mieScattering_[i] = o.mieScattering;
        mieExtinction_[i] = o.mieExtinction;
        ozone_[i] = o.ozone;
        solar_[i] = o.solarIrradiance;
    }
    tableR_ = options.tableRows;
    tableMu_ = options.tableCols;
    columns_.assign(static_cast<std::size_t>(tableR_) * tableMu_ * 3, 0.0);
    const double h = std::sqrt(kRt * kRt - kRg * kRg);
    for (int ir = 0; ir < tableR_; ++ir) {
        const double rho = h * ir / (tableR_ - 1);
        const double r = std::sqrt(rho * rho + kRg * kRg);
        const double dMin = kRt - r;
        const double dMax = rho + h;
        for (int im = 0; im < tableMu_; ++im) {
            const double d = dMin + (dMax - dMin) * im / (tableMu_ - 1);
            const double mu = d == 0.0 ? 1.0 : std::clamp((h * h - rho * rho - d * d) / (2.0 * r * d), -1.0, 1.0);
            ColumnsTo(r, mu, &columns_[(static_cast<std::size_t>(ir) * tableMu_ + im) * 3]);
        }
    }
}

// Columns to the top along a ray by Simpson's rule on 200 intervals.
double AtmosphereReference::ColumnsTo(double r, double mu, double out[3]) const {
    const double length = ToTop(r, mu);
    constexpr int kIntervals = 200;
    out[0] = out[1] = out[2] = 0.0;
    for (int i = 0; i <= kIntervals; ++i) {
        const double t = length * i / kIntervals;
        const double w = (i == 0 || i == kIntervals) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
        const AtmosphereDensity d = AtmosphereDensityAt(medium_, std::sqrt(r * r + t * t + 2.0 * r * t * mu) - kRg);
        out[0] += w * d.rayleigh;
        out[1] += w * d.mie;
        out[2] += w * d.ozone;
    }
    for (int c = 0; c < 3; ++c) out[c] *= length / (3.0 * kIntervals);
    return length;
}

bool AtmosphereReference::SunColumns(double r, double muS, double c[3]) const {
    if (MeetsGround(r, muS)) return false;
    const double h = std::sqrt(kRt * kRt - kRg * kRg);
    const double rho = Root(r * r - kRg * kRg);
    const double dMin = kRt - r;
    const double dMax = rho + h;
    const double xMu = dMax > dMin ? (ToTop(r, muS) - dMin) / (dMax - dMin) : 0.0;
    const double fr = std::clamp(rho / h, 0.0, 1.0) * (tableR_ - 1);
    const double fm = std::clamp(xMu, 0.0, 1.0) * (tableMu_ - 1);
    const int ir = std::min(static_cast<int>(fr), tableR_ - 2);
    const int im = std::min(static_cast<int>(fm), tableMu_ - 2);
    const double wr = fr - ir;
    const double wm = fm - im;
    for (int k = 0; k < 3; ++k) {
        auto at = [&](int a, int b) { return columns_[(static_cast<std::size_t>(a) * tableMu_ + b) * 3 + k]; };
        c[k] = (at(ir, im) * (1.0 - wm) + at(ir, im + 1) * wm) * (1.0 - wr) +
               (at(ir + 1, im) * (1.0 - wm) + at(ir + 1, im + 1) * wm) * wr;
    }
    return true;
}

void AtmosphereReference::Transmit(const double c[3], ReferenceSpectrum* t) const {
    for (int i = 0; i < N; ++i) (*t)[i] = ExpMinus(rayleigh_[i] * c[0] + mieExtinction_[i] * c[1] + ozone_[i] * c[2]);
}

void AtmosphereReference::SetSun(float zenithDegrees, float azimuthDegrees) {
    const double t = zenithDegrees * kPi / 180.0;
    const double p = azimuthDegrees * kPi / 180.0;
    sun_[0] = std::sin(t) * std::sin(p);
    sun_[1] = std::cos(t);
    sun_[2] = std::sin(t) * std::cos(p);
}

// Integrates single scattering along a ray (relative to the extraterrestrial
// irradiance, per sr) with samples crowded at its start, and keeps the
// samples for the next order.
void AtmosphereReference::TraceRay(const double origin[3], const double dir[3], int steps, ReferenceSpectrum* single,
                                   RayNodes* nodes) const {
    const double r = Length(origin);
    const double mu = Dot(origin, dir) / r;
    nodes->ground = MeetsGround(r, mu);
    const double length = std::max(0.0, nodes->ground ? ToGround(r, mu) : ToTop(r, mu));
    const int n = length > 0.0 ? steps : 0;
    nodes->n = n;
    for (int i = 0; i < 3; ++i) {
        nodes->dir[i] = dir[i];
        nodes->end[i] = origin[i] + length * dir[i];
    }
    nodes->pos.resize(3 * static_cast<std::size_t>(n));
    nodes->dt.resize(n);
    nodes->rayleigh.resize(n);
    nodes->mie.resize(n);
    nodes->columns.resize(3 * static_cast<std::size_t>(n));
    nodes->weight.resize(static_cast<std::size_t>(n) + 1);
    single->fill(0.0);
    const double nu = Dot(dir, sun_);
    const double pr = AtmosphereRayleighPhase(nu);
    const double pm = AtmosphereMiePhase(medium_, nu);
    double columns[3] = {};
    double prevT = 0.0;
    AtmosphereDensity prev = AtmosphereDensityAt(medium_, r - kRg);
    double prevAlt = r - kRg;
    nodes->total = 0.0;
    auto addStep = [&](const AtmosphereDensity& d, double alt, double step) {
        // Exact for the exponential profiles, trapezoidal for ozone.
        columns[0] += AtmosphereAirStep(medium_, prev.rayleigh, d.rayleigh, prevAlt, alt, step);
        columns[1] += AtmosphereAerosolStep(medium_, prev.mie, d.mie, prevAlt, alt, step);
        columns[2] += 0.5 * (prev.ozone + d.ozone) * step;
    };
    for (int i = 0; i < n; ++i) {
        const double u = (i + 0.5) / n;
        const double t = length * u * u;
        double* p = &nodes->pos[3 * static_cast<std::size_t>(i)];
        for (int k = 0; k < 3; ++k) p[k] = origin[k] + t * dir[k];
        const double ri = Length(p);
        const AtmosphereDensity d = AtmosphereDensityAt(medium_, ri - kRg);
        addStep(d, ri - kRg, t - prevT);
        prev = d;
        prevAlt = ri - kRg;
        prevT = t;
        const double dt = length * 2.0 * u / n;
        nodes->dt[i] = dt;
        nodes->rayleigh[i] = d.rayleigh;
        nodes->mie[i] = d.mie;
        for (int k = 0; k < 3; ++k) nodes->columns[3 * static_cast<std::size_t>(i) + k] = columns[k];
        // Transmittance from the ray's start and from the sun in one exponential.
        double sunColumns[3];
        const bool lit = SunColumns(ri, Dot(p, sun_) / ri, sunColumns);
        if (lit) {
            for (int k = 0; k < N; ++k) {
                const double tau = rayleigh_[k] * (columns[0] + sunColumns[0]) +
                                   mieExtinction_[k] * (columns[1] + sunColumns[1]) +
                                   ozone_[k] * (columns[2] + sunColumns[2]);
                (*single)[k] += ExpMinus(tau) * (rayleigh_[k] * d.rayleigh * pr + mieScattering_[k] * d.mie * pm) * dt;
            }
        }
        double guide = 0.0;
        for (int g : kGuides) {
            guide += ExpMinus(rayleigh_[g] * columns[0] + mieExtinction_[g] * columns[1] + ozone_[g] * columns[2]) *
                     (rayleigh_[g] * d.rayleigh + mieScattering_[g] * d.mie) * dt / 3.0;
        }
        nodes->weight[i] = guide;
        nodes->total += nodes->weight[i];
    }
    nodes->weight[n] = 0.0;
    if (nodes->ground) {
        const AtmosphereDensity g = AtmosphereDensityAt(medium_, 0.0);
        addStep(g, 0.0, length - prevT);
        Transmit(columns, &nodes->groundT);
        const double muS = Dot(nodes->end, sun_) / Length(nodes->end);
        double sunColumns[3];
        if (muS > 0.0 && SunColumns(kRg, muS, sunColumns)) {
            ReferenceSpectrum sunT;
            Transmit(sunColumns, &sunT);
            for (int k = 0; k < N; ++k) (*single)[k] += nodes->groundT[k] * albedo_ / kPi * sunT[k] * muS;
        }
        nodes->weight[n] =
            (nodes->groundT[kGuides[0]] + nodes->groundT[kGuides[1]] + nodes->groundT[kGuides[2]]) / 3.0 * albedo_;
        nodes->total += nodes->weight[n];
    }
}

namespace {

// The colour matching functions at the wavelengths, times the trapezoid's
// width (nm) and the luminous efficacy.
struct Observer {
    double weight[kReferenceWavelengths][3];
    Observer() {
        for (int i = 0; i < N; ++i) {
            ColourMatching(AtmosphereReference::Wavelength(i), weight[i]);
            const double w = (i == 0 || i == N - 1) ? 5.0 : 10.0;
            for (double& c : weight[i]) c *= kLuminousEfficacy * w;
        }
    }
};

const Observer& TheObserver() {
    static const Observer observer;
    return observer;
}

// Sums of a path's luminance and its square, for the standard error of the mean.
struct Tally {
    double sum = 0.0;
    double squares = 0.0;
    void Add(double y) {
        sum += y;
        squares += y * y;
    }
    double Error(int n) const {
        const double mean = sum / n;
        return n > 1 ? std::sqrt(std::max(0.0, squares / n - mean * mean) / (n - 1)) : 0.0;
    }
};

}  // namespace

void AtmosphereReference::SpectrumToXYZ(const ReferenceSpectrum& radiance, double xyz[3]) {
    const Observer& o = TheObserver();
    xyz[0] = xyz[1] = xyz[2] = 0.0;
    for (int i = 0; i < N; ++i) {
        for (int c = 0; c < 3; ++c) xyz[c] += radiance[i] * o.weight[i][c];
    }
}

double AtmosphereReference::Luminance(const ReferenceSpectrum& relative) const {
    const Observer& o = TheObserver();
    double y = 0.0;
    for (int i = 0; i < N; ++i) y += relative[i] * solar_[i] * o.weight[i][1];
    return y;
}

ReferenceRadiance AtmosphereReference::One(const V3d& direction, uint64_t seed) const {
    const double origin[3] = {0.0, r0_, 0.0};
    double v[3] = {direction.x, direction.y, direction.z};
    const double lv = Length(v);
    for (double& c : v) c /= lv;
    RayNodes view;
    ReferenceSpectrum single;
    TraceRay(origin, v, options_.viewSteps, &single, &view);

    Random rng{seed};
    const int paths = options_.paths;
    const int side = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(paths))));
    std::vector<int> order(paths);
    std::iota(order.begin(), order.end(), 0);
    for (int i = paths - 1; i > 0; --i) std::swap(order[i], order[static_cast<int>(rng.Next() * (i + 1))]);

    ReferenceSpectrum further{};
    ReferenceSpectrum secondSum{};
    Tally all;
    Tally second;
    Tally past;
    RayNodes a;
    RayNodes b;
    ReferenceSpectrum s;
    for (int p = 0; p < paths; ++p) {
        ReferenceSpectrum path{};
        ReferenceSpectrum pathSecond{};
        ReferenceSpectrum throughput;
        throughput.fill(1.0);
        const RayNodes* ray = &view;
        RayNodes* next = &a;
        for (int order2 = 2; order2 <= options_.maxOrder && ray->total > 0.0; ++order2) {
            // Stratified choices for the first further order, random after.
            const bool first = order2 == 2;
            const double uNode = first ? (order[p] + rng.Next()) / paths : rng.Next();
            const double u1 = first && side * side == paths ? ((p % side) + rng.Next()) / side : rng.Next();
            const double u2 = first && side * side == paths ? ((p / side) + rng.Next()) / side : rng.Next();
            // The node (or the ground) in proportion to its weight.
            double target = uNode * ray->total;
            int j = 0;
            const int last = ray->ground ? ray->n : ray->n - 1;
            while (j < last && target >= ray->weight[j]) target -= ray->weight[j++];
            const double chosen = ray->weight[j] / ray->total;
            if (!(chosen > 0.0)) break;
            double w[3];
            double start[3];
            if (j == ray->n) {
                // The ground: the cosine-weighted hemisphere; albedo / pi x
                // cosine over the pdf cosine / pi leaves the albedo.
                double up[3];
                const double l = Length(ray->end);
                for (int k = 0; k < 3; ++k) {
                    up[k] = ray->end[k] / l;
                    start[k] = up[k] * (kRg + 1e-3);
                }
                Around(up, std::sqrt(u1), 2.0 * kPi * u2, w);
                for (int k = 0; k < N; ++k) throughput[k] *= ray->groundT[k] * albedo_ / chosen;
            } else {
                double pdf;
                SampleDirection(medium_.asymmetry, ray->dir, sun_, u1, u2, w, &pdf);
                const double cosAngle = Dot(ray->dir, w);
                const double pr = AtmosphereRayleighPhase(cosAngle);
                const double pm = AtmosphereMiePhase(medium_, cosAngle);
                for (int k = 0; k < 3; ++k) start[k] = ray->pos[3 * static_cast<std::size_t>(j) + k];
                ReferenceSpectrum t;
                Transmit(&ray->columns[3 * static_cast<std::size_t>(j)], &t);
                for (int k = 0; k < N; ++k) {
                    throughput[k] *= t[k] *
                                     (rayleigh_[k] * ray->rayleigh[j] * pr + mieScattering_[k] * ray->mie[j] * pm) *
                                     ray->dt[j] / (pdf * chosen);
                }
            }
            // Russian roulette past the third order, on the guide wavelengths.
            if (order2 > 3) {
                const double keep =
                    std::min(1.0, std::max({throughput[kGuides[0]], throughput[kGuides[1]], throughput[kGuides[2]]}));
                if (rng.Next() >= keep) break;
                for (double& x : throughput) x /= keep;
            }
            TraceRay(start, w, options_.raySteps, &s, next);
            for (int k = 0; k < N; ++k) path[k] += throughput[k] * s[k];
            if (first) pathSecond = path;
            ray = next;
            next = next == &a ? &b : &a;
        }
        for (int k = 0; k < N; ++k) further[k] += path[k];
        for (int k = 0; k < N; ++k) secondSum[k] += pathSecond[k];
        const double y = Luminance(path);
        const double y2 = Luminance(pathSecond);
        all.Add(y);
        second.Add(y2);
        past.Add(y - y2);
    }
    ReferenceRadiance out;
    for (int k = 0; k < N; ++k) {
        out.spectrum[k] = (single[k] + further[k] / paths) * solar_[k];
        out.single[k] = single[k] * solar_[k];
        out.second[k] = secondSum[k] / paths * solar_[k];
    }
    SpectrumToXYZ(out.spectrum, out.xyz);
    out.firstOrderY = Luminance(single);
    out.luminanceError = all.Error(paths);
    out.secondError = second.Error(paths);
    out.furtherError = past.Error(paths);
    return out;
}

std::vector<ReferenceRadiance> AtmosphereReference::Radiance(const std::vector<V3d>& directions) const {
    std::vector<ReferenceRadiance> out(directions.size());
    const int threads = std::max(1, options_.threads);
    auto work = [&](int part) {
        for (std::size_t i = part; i < directions.size(); i += threads) {
            out[i] = One(directions[i], options_.seed * 0x100000001B3ull + i * 0x9E3779B97F4A7C15ull + 1);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool) t.join();
    return out;
}

ReferenceSpectrum AtmosphereReference::Transmittance(double zenithDegrees) const {
    ReferenceSpectrum out{};
    const double mu = std::cos(zenithDegrees * kPi / 180.0);
    if (MeetsGround(r0_, mu)) return out;
    double c[3];
    ColumnsTo(r0_, mu, c);
    Transmit(c, &out);
    return out;
}

}  // namespace kv
