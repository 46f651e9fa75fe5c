#include "panorama_rows.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <system_error>
#include <thread>

#include "engine/core/memory.h"
#include "sky/analytic_sky.h"
#include "sky/atmosphere_medium.h"
#include "sky/sky_colours.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

using std::numbers::pi;
// Rows evaluated together, on both cores, before they are handed on.
constexpr int32 kBlockRows = 64;
// Each pixel near the sun is sampled n x n times, evenly in solid angle, for
// the part of it the disc covers.
constexpr int32 kSunSamples = 16;

// Per calling thread: each of several callers chooses for its own panoramas.
thread_local int32 panoramaThreads = 2;

// Two blocks of rows: one handed to the row function while the other is
// evaluated.
struct Buffers {
    SkyColorCache cache[2]{};
    double* phi = nullptr;
    RGBAReal* colours = nullptr;
    ~Buffers() {
        for (SkyColorCache& c : cache) SkyColorCacheRelease(&c);
        if (phi != nullptr) KvFree(phi);
        if (colours != nullptr) KvFree(colours);
    }
};

// A direction in double precision: the sun's disc is a few thousandths of a
// radian across.
struct Direction {
    double x, y, z;
    Direction(double theta, double phi)
        : x(std::sin(theta) * std::sin(phi)), y(std::cos(theta)), z(std::sin(theta) * std::cos(phi)) {}
    double Dot(const Direction& o) const { return x * o.x + y * o.y + z * o.z; }
};

// A block of rows being evaluated: each thread takes the next row not yet
// taken, so that a thread busy elsewhere (writing the block before) leaves
// them all to the other.
struct Block {
    const Sky* sky = nullptr;
    int32 width = 0;
    int32 first = 0;
    int32 count = 0;
    const double* phi = nullptr;
    RGBAReal* colours = nullptr;
    std::atomic<int32> next{0};
};

void EvaluateRows(Block* b, SkyColorCache* cache) {
    for (int32 i = b->next.fetch_add(1); i < b->count; i = b->next.fetch_add(1)) {
        double theta = 0.0;
        double unused = 0.0;
        PanoramaPixelAngles(b->width, 0, b->first + i, &theta, &unused);
        SkyModelRowColors(b->sky, cache, theta, b->phi, b->width,
                          b->colours + static_cast<std::ptrdiff_t>(i) * b->width);
    }
}

}  // namespace

void PanoramaSetThreads(int32 threads) { panoramaThreads = threads == 1 ? 1 : 2; }

void PanoramaPixelAngles(int32 width, int32 x, int32 y, double* theta, double* phi) {
    const int32 height = PanoramaHeight(width);
    *theta = (y + 0.5) * 180.0 / height * kSkyDegToRad;
    // Compass azimuth (x + 0.5) * 360 / width - 180; the program's is 360 less it.
    double degrees = 180.0 - (x + 0.5) * 360.0 / width;
    if (degrees < 0.0) degrees += 360.0;
    *phi = degrees * kSkyDegToRad;
}

double PanoramaPixelSolidAngle(int32 width, int32 y) {
    const double dTheta = pi / PanoramaHeight(width);
    return (std::cos(y * dTheta) - std::cos((y + 1) * dTheta)) * (2.0 * pi / width);
}

std::vector<PanoramaSunPixel> PanoramaSunPixels(const Sky* sky, int32 width) {
    std::vector<PanoramaSunPixel> pixels;
    const int32 height = PanoramaHeight(width);
    if (height < 1) return pixels;
    const SkyState* s = SkyModelAnalyticState(sky);
    const double thetaS = s->sunTheta * kSkyDegToRad;
    const double phiS = s->sunPhi * kSkyDegToRad;
    const Direction sun(thetaS, phiS);
    const double cosRadius = std::cos(kSunAngularRadius);
    const double cosHorizon = std::cos(SkyModelHorizon(sky));
    const double dTheta = pi / height;
    const double dPhi = 2.0 * pi / width;
    // Beyond this from a pixel's centre no part of the pixel can reach.
    const double reach = kSunAngularRadius + 0.5 * std::sqrt(dTheta * dTheta + dPhi * dPhi);
    const int32 firstRow = std::max(0, static_cast<int32>((thetaS - reach) / dTheta));
    const int32 lastRow = std::min(height - 1, static_cast<int32>((thetaS + reach) / dTheta));
    double inDisc = 0.0;  // solid angle of the samples within the disc, hidden or not
    for (int32 y = firstRow; y <= lastRow; ++y) {
        const double cosTop = std::cos(y * dTheta);
        const double cosBottom = std::cos((y + 1) * dTheta);
        const double sampleSolidAngle = PanoramaPixelSolidAngle(width, y) / (kSunSamples * kSunSamples);
        for (int32 x = 0; x < width; ++x) {
            double theta = 0.0;
            double phi = 0.0;
            PanoramaPixelAngles(width, x, y, &theta, &phi);
            const double centre = std::acos(std::clamp(Direction(theta, phi).Dot(sun), -1.0, 1.0));
            if (centre > reach) continue;
            int32 hits = 0;
            int32 seen = 0;
            for (int32 i = 0; i < kSunSamples; ++i) {
                const double u = cosTop + (cosBottom - cosTop) * (i + 0.5) / kSunSamples;
                const double sinT = std::sqrt(std::max(0.0, 1.0 - u * u));
                for (int32 j = 0; j < kSunSamples; ++j) {
                    const double p = phi + dPhi * ((j + 0.5) / kSunSamples - 0.5);
                    const double cosToSun = sinT * std::sin(p) * sun.x + u * sun.y + sinT * std::cos(p) * sun.z;
                    if (cosToSun < cosRadius) continue;
                    ++hits;
                    if (u > cosHorizon) ++seen;
                }
            }
            inDisc += hits * sampleSolidAngle;
            if (seen > 0) {
                pixels.push_back(PanoramaSunPixel{x, y, static_cast<double>(seen) / (kSunSamples * kSunSamples)});
            }
        }
    }
    const double disc = SunSolidAngle();
    if (inDisc > 0.0) {
        // The samples' count of the disc, made exact.
        for (PanoramaSunPixel& p : pixels) p.cover *= disc / inDisc;
    } else if (thetaS < SkyModelHorizon(sky)) {
        // A disc smaller than the samples' spacing: all of it in its centre's pixel.
        const int32 y = std::min(height - 1, static_cast<int32>(thetaS / dTheta));
        double compass = 180.0 - s->sunPhi;  // the program's azimuth to the compass's, then to the column
        compass = std::fmod(compass + 360.0, 360.0);
        const int32 x = std::min(width - 1, static_cast<int32>(compass / 360.0 * width));
        pixels.push_back(PanoramaSunPixel{x, y, disc / PanoramaPixelSolidAngle(width, y)});
    }
    return pixels;
}

void PanoramaSetBodies(Sky* sky, const std::vector<PanoramaPoint>& points, const PanoramaMoon& moon) {
    PanoramaBodies* bodies = SkyModelBodies(sky);
    bodies->points = points;
    bodies->moon = moon;
}

namespace {

// The column and row of a direction (radians, as PanoramaPixelAngles).
void PixelOf(int32 width, double theta, double phi, int32* x, int32* y) {
    const int32 height = PanoramaHeight(width);
    *y = std::clamp(static_cast<int32>(theta / (pi / height)), 0, height - 1);
    double compass = std::fmod(pi - phi, 2.0 * pi);
    if (compass < 0.0) compass += 2.0 * pi;
    *x = std::clamp(static_cast<int32>(compass / (2.0 * pi) * width), 0, width - 1);
}

void AddScaled(RGBAReal* to, const RGBAReal& c, double k) {
    to->red += static_cast<real>(c.red * k);
    to->green += static_cast<real>(c.green * k);
    to->blue += static_cast<real>(c.blue * k);
}

// The moon's lit part sampled n x n times in each pixel near it, as the
// sun's disc is: the flux shared out by the solid angle of the lit samples.
void AddMoon(const Sky* sky, int32 width, std::vector<PanoramaBodyPixel>* out) {
    const PanoramaMoon& m = SkyModelBodies(sky)->moon;
    const int32 height = PanoramaHeight(width);
    const Direction centre(m.theta, m.phi);
    const double cosHorizon = std::cos(SkyModelHorizon(sky));
    const double dTheta = pi / height;
    const double dPhi = 2.0 * pi / width;
    const double reach = m.radius + 0.5 * std::sqrt(dTheta * dTheta + dPhi * dPhi);
    const int32 firstRow = std::max(0, static_cast<int32>((m.theta - reach) / dTheta));
    const int32 lastRow = std::min(height - 1, static_cast<int32>((m.theta + reach) / dTheta));
    struct Share {
        int32 x, y;
        double seen;
    };
    std::vector<Share> shares;
    double lit = 0.0;  // solid angle of the lit samples, hidden or not
    for (int32 y = firstRow; y <= lastRow; ++y) {
        const double cosTop = std::cos(y * dTheta);
        const double cosBottom = std::cos((y + 1) * dTheta);
        const double sample = PanoramaPixelSolidAngle(width, y) / (kSunSamples * kSunSamples);
        for (int32 x = 0; x < width; ++x) {
            double theta = 0.0, phi = 0.0;
            PanoramaPixelAngles(width, x, y, &theta, &phi);
            if (std::acos(std::clamp(Direction(theta, phi).Dot(centre), -1.0, 1.0)) > reach) continue;
            double seen = 0.0;
            for (int32 i = 0; i < kSunSamples; ++i) {
                const double u = cosTop + (cosBottom - cosTop) * (i + 0.5) / kSunSamples;
                const double sinT = std::sqrt(std::max(0.0, 1.0 - u * u));
                for (int32 j = 0; j < kSunSamples; ++j) {
                    const double p = phi + dPhi * ((j + 0.5) / kSunSamples - 0.5);
                    // The sample's offset from the disc's centre in disc
                    // radii, and the moon's surface there: lit when it faces
                    // the sun.
                    const double dx = (sinT * std::sin(p) - centre.x) / m.radius;
                    const double dy = (u - centre.y) / m.radius;
                    const double dz = (sinT * std::cos(p) - centre.z) / m.radius;
                    const double rho2 = dx * dx + dy * dy + dz * dz;
                    if (rho2 > 1.0) continue;
                    const double depth = std::sqrt(1.0 - rho2);
                    const double facing = (dx - depth * centre.x) * m.toSunX + (dy - depth * centre.y) * m.toSunY +
                                          (dz - depth * centre.z) * m.toSunZ;
                    if (facing <= 0.0) continue;
                    lit += sample;
                    if (u > cosHorizon) seen += sample;
                }
            }
            if (seen > 0.0) shares.push_back(Share{x, y, seen});
        }
    }
    if (lit > 0.0) {
        for (const Share& s : shares) {
            RGBAReal add{};
            AddScaled(&add, m.flux, s.seen / lit / PanoramaPixelSolidAngle(width, s.y));
            out->push_back(PanoramaBodyPixel{s.x, s.y, add});
        }
    } else if (m.theta < SkyModelHorizon(sky)) {
        // A disc (or crescent) finer than the samples: all in its centre's pixel.
        int32 x = 0, y = 0;
        PixelOf(width, m.theta, m.phi, &x, &y);
        RGBAReal add{};
        AddScaled(&add, m.flux, 1.0 / PanoramaPixelSolidAngle(width, y));
        out->push_back(PanoramaBodyPixel{x, y, add});
    }
}

}  // namespace

std::vector<PanoramaBodyPixel> PanoramaBodyPixels(const Sky* sky, int32 width) {
    std::vector<PanoramaBodyPixel> out;
    if (PanoramaHeight(width) < 1) return out;
    const double horizon = SkyModelHorizon(sky);
    const PanoramaBodies* bodies = SkyModelBodies(sky);
    for (const PanoramaPoint& p : bodies->points) {
        if (!(p.theta < horizon)) continue;
        int32 x = 0, y = 0;
        PixelOf(width, p.theta, p.phi, &x, &y);
        RGBAReal add{};
        AddScaled(&add, p.flux, 1.0 / PanoramaPixelSolidAngle(width, y));
        out.push_back(PanoramaBodyPixel{x, y, add});
    }
    if (bodies->moon.shown && bodies->moon.radius > 0.0) AddMoon(sky, width, &out);
    return out;
}

bool PanoramaEvaluate(Sky* sky, int32 width, PanoramaRowFn row, void* data) {
    if (width < 2) return false;
    const int32 height = PanoramaHeight(width);
    SkyModelPrepare(sky);
    const RGBAReal sun = SkyModelLight(sky)->sun;
    const std::vector<PanoramaSunPixel> sunPixels = PanoramaSunPixels(sky, width);
    const std::vector<PanoramaBodyPixel> bodyPixels = PanoramaBodyPixels(sky, width);
    const int32 blockRows = std::min(kBlockRows, height);
    const std::size_t blockSize = static_cast<std::size_t>(width) * blockRows;
    Buffers b;
    b.phi = static_cast<double*>(KvMalloc(sizeof(double) * static_cast<std::size_t>(width)));
    b.colours = static_cast<RGBAReal*>(KvMalloc(sizeof(RGBAReal) * blockSize * 2));
    if (b.phi == nullptr || b.colours == nullptr) return false;
    double theta = 0.0;
    for (int32 x = 0; x < width; ++x) PanoramaPixelAngles(width, x, 0, &theta, &b.phi[x]);
    for (SkyColorCache& c : b.cache) {
        if (!SkyColorCacheSetAzimuths(&c, b.phi, width)) return false;
    }
    auto addSun = [&](const Block& block) {
        for (const PanoramaSunPixel& p : sunPixels) {
            if (p.y < block.first || p.y >= block.first + block.count) continue;
            RGBAReal& c = block.colours[static_cast<std::ptrdiff_t>(p.y - block.first) * width + p.x];
            c.red += static_cast<real>(sun.red * p.cover);
            c.green += static_cast<real>(sun.green * p.cover);
            c.blue += static_cast<real>(sun.blue * p.cover);
        }
        for (const PanoramaBodyPixel& p : bodyPixels) {
            if (p.y < block.first || p.y >= block.first + block.count) continue;
            AddScaled(&block.colours[static_cast<std::ptrdiff_t>(p.y - block.first) * width + p.x], p.radiance, 1.0);
        }
    };
    // Block k + 1 is evaluated by the other core while this one hands block
    // k on (tone-mapped, converted, compressed, written), then joins in.
    Block blocks[2];
    bool stopped = false;
    int32 ready = -1;  // the block evaluated and waiting to be handed on
    for (int32 k = 0, first = 0; !stopped && (first < height || ready >= 0); ++k, first += blockRows) {
        Block* next = nullptr;
        if (first < height) {
            next = &blocks[k % 2];
            next->sky = sky;
            next->width = width;
            next->first = first;
            next->count = std::min(blockRows, height - first);
            next->phi = b.phi;
            next->colours = b.colours + blockSize * static_cast<std::size_t>(k % 2);
            next->next.store(0);
        }
        std::thread helper;
        if (next != nullptr && panoramaThreads > 1) {
            try {
                helper = std::thread(EvaluateRows, next, &b.cache[1]);
            } catch (const std::system_error&) {
                // No second thread: this one evaluates every row.
            }
        }
        if (ready >= 0) {
            const Block& done = blocks[ready % 2];
            for (int32 i = 0; i < done.count && !stopped; ++i) {
                stopped = !row(done.first + i, done.colours + static_cast<std::ptrdiff_t>(i) * width, width, data);
            }
            ready = -1;
        }
        if (next != nullptr) {
            // After a stop the rows left are taken unevaluated: the helper ends soon.
            if (stopped) next->next.store(next->count);
            EvaluateRows(next, &b.cache[0]);
            if (helper.joinable()) helper.join();
            addSun(*next);
            ready = k;
        }
    }
    return !stopped;
}

}  // namespace kv
