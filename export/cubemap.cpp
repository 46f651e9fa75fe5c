#include "cubemap.h"

#include <strings.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <system_error>
#include <thread>

#include "export/panorama.h"
#include "sky/atmosphere_medium.h"
#include "sky/panorama_rows.h"
#include "sky/sky.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

constexpr double kPi = std::numbers::pi;
// Texels evaluated by one call of the scene's radiance.
constexpr std::int64_t kRenderBlock = 1 << 16;

CubeVector Normalised(double x, double y, double z) {
    const double n = std::sqrt(x * x + y * y + z * z);
    return CubeVector{x / n, y / n, z / n};
}

double Dot(const CubeVector& a, const CubeVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

std::size_t FaceTexels(int32 size) { return static_cast<std::size_t>(size) * static_cast<std::size_t>(size); }

float* Texel(std::vector<float>& level, int32 size, int32 face, int32 x, int32 y) {
    return level.data() + ((face * FaceTexels(size)) + static_cast<std::size_t>(y) * size + x) * kCubeChannels;
}
const float* Texel(const std::vector<float>& level, int32 size, int32 face, int32 x, int32 y) {
    return level.data() + ((face * FaceTexels(size)) + static_cast<std::size_t>(y) * size + x) * kCubeChannels;
}

// Runs work(i) for i from 0 up to count on up to the given number of
// threads (0: one per processor), each taking the next i not yet taken.
template <typename Work>
void Parallel(std::int64_t count, int32 threads, const Work& work) {
    std::int64_t n = threads > 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    n = std::min(n, count);
    std::atomic<std::int64_t> next{0};
    auto run = [&] {
        for (std::int64_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) work(i);
    };
    std::vector<std::thread> helpers;
    for (std::int64_t t = 1; t < n; ++t) {
        try {
            helpers.emplace_back(run);
        } catch (const std::system_error&) {
            break;  // fewer threads: the ones there take the rest
        }
    }
    run();
    for (std::thread& h : helpers) h.join();
}

}  // namespace

bool CubemapSizeValid(int32 size) {
    return size >= kCubemapMinSize && size <= kCubemapMaxSize && (size & (size - 1)) == 0;
}

int32 CubemapFullChain(int32 size) {
    int32 levels = 1;
    while ((size >> (levels - 1)) > 1) ++levels;
    return levels;
}

CubeVector CubeLookupOf(CubeFrame frame, const CubeVector& d) {
    return frame == CubeFrameLeftHanded ? CubeVector{-d.x, d.y, d.z} : d;
}

CubeVector CubeFacePoint(int32 face, double u, double v) {
    const double s = 2.0 * u - 1.0;
    const double t = 2.0 * v - 1.0;
    switch (face) {
        case 0:
            return Normalised(1.0, -t, -s);
        case 1:
            return Normalised(-1.0, -t, s);
        case 2:
            return Normalised(s, 1.0, t);
        case 3:
            return Normalised(s, -1.0, -t);
        case 4:
            return Normalised(s, -t, 1.0);
        default:
            return Normalised(-s, -t, -1.0);
    }
}

void CubeFaceOf(const CubeVector& r, int32* face, double* u, double* v) {
    const double ax = std::fabs(r.x);
    const double ay = std::fabs(r.y);
    const double az = std::fabs(r.z);
    double s = 0.0, t = 0.0, major = 1.0;
    if (ax >= ay && ax >= az) {
        *face = r.x >= 0.0 ? 0 : 1;
        s = r.x >= 0.0 ? -r.z : r.z;
        t = -r.y;
        major = ax;
    } else if (ay >= az) {
        *face = r.y >= 0.0 ? 2 : 3;
        s = r.x;
        t = r.y >= 0.0 ? r.z : -r.z;
        major = ay;
    } else {
        *face = r.z >= 0.0 ? 4 : 5;
        s = r.z >= 0.0 ? r.x : -r.x;
        t = -r.y;
        major = az;
    }
    *u = 0.5 * (s / major + 1.0);
    *v = 0.5 * (t / major + 1.0);
}

double CubeTexelSolidAngle(int32 size, int32 x, int32 y) {
    // The solid angle of the part of a face from its centre to (a, b) on
    // the plane at distance 1 is atan(a b / sqrt(a^2 + b^2 + 1)); a texel's
    // is that at its four corners, signed.
    auto area = [](double a, double b) { return std::atan2(a * b, std::sqrt(a * a + b * b + 1.0)); };
    const double a0 = 2.0 * x / size - 1.0;
    const double a1 = 2.0 * (x + 1) / size - 1.0;
    const double b0 = 2.0 * y / size - 1.0;
    const double b1 = 2.0 * (y + 1) / size - 1.0;
    return area(a0, b0) - area(a0, b1) - area(a1, b0) + area(a1, b1);
}

bool CubemapRender(const CubeScene& scene, int32 size, CubeFrame frame, Cubemap* cube) {
    cube->size = size;
    cube->frame = frame;
    cube->levels.clear();
    try {
        cube->levels.emplace_back(6 * FaceTexels(size) * kCubeChannels);
        const std::int64_t total = 6 * static_cast<std::int64_t>(FaceTexels(size));
        const std::int64_t block = std::min(total, kRenderBlock);
        std::vector<V3d> directions(static_cast<std::size_t>(block));
        std::vector<RGBAReal> radiance(static_cast<std::size_t>(block));
        std::vector<float>& level = cube->levels[0];
        for (std::int64_t first = 0; first < total; first += block) {
            // A run asked to quit does not wait for the largest cube.
            if (PanoramaStopAsked()) {
                cube->levels.clear();
                return false;
            }
            const std::int64_t n = std::min(block, total - first);
            for (std::int64_t i = 0; i < n; ++i) {
                const std::int64_t k = first + i;
                const auto face = static_cast<int32>(k / static_cast<std::int64_t>(FaceTexels(size)));
                const std::int64_t inFace = k % static_cast<std::int64_t>(FaceTexels(size));
                const auto x = static_cast<int32>(inFace % size);
                const auto y = static_cast<int32>(inFace / size);
                const CubeVector d = CubeLookupOf(frame, CubeFacePoint(face, (x + 0.5) / size, (y + 0.5) / size));
                directions[static_cast<std::size_t>(i)] =
                    V3d{static_cast<real>(d.x), static_cast<real>(d.y), static_cast<real>(d.z)};
            }
            if (!scene.radiance(scene.data, directions.data(), n, radiance.data())) return false;
            float* out = level.data() + first * kCubeChannels;
            for (std::int64_t i = 0; i < n; ++i) {
                const RGBAReal& c = radiance[static_cast<std::size_t>(i)];
                out[i * kCubeChannels] = c.red;
                out[i * kCubeChannels + 1] = c.green;
                out[i * kCubeChannels + 2] = c.blue;
            }
        }
    } catch (const std::bad_alloc&) {
        cube->levels.clear();
        return false;
    }
    for (const CubeDisc& disc : scene.discs) CubemapAddDisc(cube, disc);
    for (const CubePoint& point : scene.points) CubemapAddPoint(cube, point);
    return true;
}

namespace {

bool SkySceneRadiance(void* data, const V3d* directions, std::int64_t count, RGBAReal* out) {
    return SkyRadiance(static_cast<Sky*>(data), directions, count, out, 0);
}

}  // namespace

CubeScene CubeSceneOfSky(Sky* sky) {
    CubeScene scene;
    scene.radiance = SkySceneRadiance;
    scene.data = sky;
    const V3d sun = SkySunDirection(sky);
    CubeDisc disc;
    disc.direction = Normalised(sun.x, sun.y, sun.z);
    disc.angularRadius = kSunAngularRadius;
    disc.radiance = SkySunRadiance(sky);
    disc.hiddenBelow = std::cos(SkyModelHorizon(sky));
    scene.discs.push_back(disc);
    // The night's bodies the sky holds for its place and moment, as its
    // panoramas show them: the moon as a disc of its flux (its lit part's
    // shape is the panoramas' alone), the stars and planets as points.
    const PanoramaBodies* bodies = SkyModelBodies(sky);
    auto toward = [](double theta, double phi) {
        return Normalised(std::sin(theta) * std::sin(phi), std::cos(theta), std::sin(theta) * std::cos(phi));
    };
    for (const PanoramaPoint& p : bodies->points) {
        RGBAReal flux = p.flux;
        SkyModelToRec709(sky, &flux, 1);
        scene.points.push_back(CubePoint{toward(p.theta, p.phi), flux, disc.hiddenBelow});
    }
    const PanoramaMoon& m = bodies->moon;
    if (m.shown && m.radius > 0.0) {
        CubeDisc moon;
        moon.direction = toward(m.theta, m.phi);
        moon.angularRadius = m.radius;
        RGBAReal flux = m.flux;
        SkyModelToRec709(sky, &flux, 1);
        const double perSteradian = 1.0 / (2.0 * kPi * (1.0 - std::cos(m.radius)));
        moon.radiance =
            RGBAReal{static_cast<real>(flux.red * perSteradian), static_cast<real>(flux.green * perSteradian),
                     static_cast<real>(flux.blue * perSteradian), 0.0f};
        moon.hiddenBelow = disc.hiddenBelow;
        scene.discs.push_back(moon);
    }
    return scene;
}

void CubemapAddPoint(Cubemap* cube, const CubePoint& point) {
    if (point.direction.y <= point.hiddenBelow) return;
    const int32 size = cube->size;
    int32 face = 0;
    double u = 0.0, v = 0.0;
    CubeFaceOf(CubeLookupOf(cube->frame, point.direction), &face, &u, &v);
    const int32 x = std::clamp(static_cast<int32>(u * size), 0, size - 1);
    const int32 y = std::clamp(static_cast<int32>(v * size), 0, size - 1);
    const double perSteradian = 1.0 / CubeTexelSolidAngle(size, x, y);
    float* t = Texel(cube->levels[0], size, face, x, y);
    t[0] += static_cast<float>(point.flux.red * perSteradian);
    t[1] += static_cast<float>(point.flux.green * perSteradian);
    t[2] += static_cast<float>(point.flux.blue * perSteradian);
}

void CubemapAddDisc(Cubemap* cube, const CubeDisc& disc) {
    if (disc.radiance.red <= 0.0f && disc.radiance.green <= 0.0f && disc.radiance.blue <= 0.0f) return;
    const int32 size = cube->size;
    const CubeVector centre = CubeLookupOf(cube->frame, disc.direction);
    const double cosRadius = std::cos(disc.angularRadius);
    const double discSolidAngle = 2.0 * kPi * (1.0 - cosRadius);
    // Samples per texel side: a few across the disc's radius, whatever the
    // texel's size.
    const double texelAngle = 2.0 / size;
    const auto n = static_cast<int32>(std::clamp(std::ceil(4.0 * texelAngle / disc.angularRadius), 8.0, 64.0));
    struct Covered {
        int32 face, x, y;
        double seen;  // solid angle of the samples inside the disc and not hidden
    };
    std::vector<Covered> covered;
    double inDisc = 0.0;  // solid angle of the samples inside the disc, hidden or not
    // On each face, the texels the disc's outline reaches: its points
    // projected onto the face's plane, with a texel's margin.
    constexpr int32 kOutline = 64;
    for (int32 face = 0; face < 6; ++face) {
        double uMin = 2.0, uMax = -1.0, vMin = 2.0, vMax = -1.0;
        CubeVector a = std::fabs(centre.y) < 0.9 ? CubeVector{0.0, 1.0, 0.0} : CubeVector{1.0, 0.0, 0.0};
        // Two unit vectors across the disc's centre.
        const double along = Dot(a, centre);
        const CubeVector e1 = Normalised(a.x - along * centre.x, a.y - along * centre.y, a.z - along * centre.z);
        const CubeVector e2{centre.y * e1.z - centre.z * e1.y, centre.z * e1.x - centre.x * e1.z,
                            centre.x * e1.y - centre.y * e1.x};
        const double sinRadius = std::sin(disc.angularRadius);
        for (int32 k = 0; k <= kOutline; ++k) {
            CubeVector p = centre;
            if (k < kOutline) {
                const double angle = 2.0 * kPi * k / kOutline;
                const double c = std::cos(angle) * sinRadius;
                const double s = std::sin(angle) * sinRadius;
                p = CubeVector{centre.x * cosRadius + e1.x * c + e2.x * s, centre.y * cosRadius + e1.y * c + e2.y * s,
                               centre.z * cosRadius + e1.z * c + e2.z * s};
            }
            // Only the points in this face: one in another, seen on this
            // face's plane, could lie anywhere out to infinity.
            int32 in = 0;
            double u = 0.0, v = 0.0;
            CubeFaceOf(p, &in, &u, &v);
            if (in != face) continue;
            uMin = std::min(uMin, u);
            uMax = std::max(uMax, u);
            vMin = std::min(vMin, v);
            vMax = std::max(vMax, v);
        }
        if (uMax < 0.0 || vMax < 0.0 || uMin > 1.0 || vMin > 1.0) continue;
        // Two texels' margin: where the disc crosses into the next face, its
        // part here reaches the edge between two of the outline's points.
        const int32 x0 = std::max(0, static_cast<int32>(std::floor(uMin * size)) - 2);
        const int32 x1 = std::min(size - 1, static_cast<int32>(std::floor(uMax * size)) + 2);
        const int32 y0 = std::max(0, static_cast<int32>(std::floor(vMin * size)) - 2);
        const int32 y1 = std::min(size - 1, static_cast<int32>(std::floor(vMax * size)) + 2);
        for (int32 y = y0; y <= y1; ++y) {
            for (int32 x = x0; x <= x1; ++x) {
                double hits = 0.0;
                double seen = 0.0;
                for (int32 i = 0; i < n; ++i) {
                    for (int32 j = 0; j < n; ++j) {
                        // A sample's solid angle: its area on the plane over r^3.
                        const double s = 2.0 * (x + (j + 0.5) / n) / size - 1.0;
                        const double t = 2.0 * (y + (i + 0.5) / n) / size - 1.0;
                        const double r2 = 1.0 + s * s + t * t;
                        const CubeVector p = CubeFacePoint(face, 0.5 * (s + 1.0), 0.5 * (t + 1.0));
                        if (Dot(p, centre) < cosRadius) continue;
                        const double w = 1.0 / (r2 * std::sqrt(r2));
                        hits += w;
                        const CubeVector world = CubeLookupOf(cube->frame, p);
                        if (world.y > disc.hiddenBelow) seen += w;
                    }
                }
                const double sampleArea = (2.0 / size / n) * (2.0 / size / n);
                inDisc += hits * sampleArea;
                if (seen > 0.0) covered.push_back(Covered{face, x, y, seen * sampleArea});
            }
        }
    }
    std::vector<float>& level = cube->levels[0];
    if (inDisc <= 0.0) {
        // A disc narrower than the samples' spacing: all of it in its centre's texel.
        if (CubeLookupOf(cube->frame, centre).y <= disc.hiddenBelow) return;
        int32 face = 0;
        double u = 0.0, v = 0.0;
        CubeFaceOf(centre, &face, &u, &v);
        const int32 x = std::min(size - 1, static_cast<int32>(u * size));
        const int32 y = std::min(size - 1, static_cast<int32>(v * size));
        covered.push_back(Covered{face, x, y, discSolidAngle});
        inDisc = discSolidAngle;
    }
    for (const Covered& c : covered) {
        // The samples' count of the disc made exact, over the texel's solid angle.
        const double part = c.seen * (discSolidAngle / inDisc) / CubeTexelSolidAngle(size, c.x, c.y);
        float* t = Texel(level, size, c.face, c.x, c.y);
        t[0] += static_cast<float>(disc.radiance.red * part);
        t[1] += static_cast<float>(disc.radiance.green * part);
        t[2] += static_cast<float>(disc.radiance.blue * part);
    }
}

double CubemapLevelRoughness(int32 level, int32 count) {
    return count > 1 ? static_cast<double>(level) / (count - 1) : 0.0;
}

namespace {

// Level l + 1 from level l: each texel the mean of four, weighted by their
// solid angles, so that a level holds the light of the one above.
bool BoxLevel(const std::vector<float>& above, int32 aboveSize, std::vector<float>* out) {
    const int32 size = std::max(1, aboveSize / 2);
    try {
        out->assign(6 * FaceTexels(size) * kCubeChannels, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int32 face = 0; face < 6; ++face) {
        for (int32 y = 0; y < size; ++y) {
            for (int32 x = 0; x < size; ++x) {
                double sum[kCubeChannels] = {};
                double weight = 0.0;
                for (int32 dy = 0; dy < 2; ++dy) {
                    for (int32 dx = 0; dx < 2; ++dx) {
                        const int32 ax = std::min(aboveSize - 1, 2 * x + dx);
                        const int32 ay = std::min(aboveSize - 1, 2 * y + dy);
                        const double w = CubeTexelSolidAngle(aboveSize, ax, ay);
                        const float* t = Texel(above, aboveSize, face, ax, ay);
                        for (int32 c = 0; c < kCubeChannels; ++c) sum[c] += w * t[c];
                        weight += w;
                    }
                }
                float* t = Texel(*out, size, face, x, y);
                for (int32 c = 0; c < kCubeChannels; ++c) t[c] = static_cast<float>(sum[c] / weight);
            }
        }
    }
    return true;
}

// The Hammersley point i of n (the radical inverse of i in base 2).
double RadicalInverse(std::uint32_t i) {
    i = (i << 16u) | (i >> 16u);
    i = ((i & 0x55555555u) << 1u) | ((i & 0xAAAAAAAAu) >> 1u);
    i = ((i & 0x33333333u) << 2u) | ((i & 0xCCCCCCCCu) >> 2u);
    i = ((i & 0x0F0F0F0Fu) << 4u) | ((i & 0xF0F0F0F0u) >> 4u);
    i = ((i & 0x00FF00FFu) << 8u) | ((i & 0xFF00FF00u) >> 8u);
    return static_cast<double>(i) * (1.0 / 4294967296.0);
}

// A sample of the GGX lobe about the normal, in the normal's frame (z the
// normal): the light's direction and the source level it is read from.
struct LobeSample {
    double x, y, z;  // z = n.l
    double level;
};

// Samples of the lobe for normal = view = reflection (Karis 2013): half
// vectors drawn from D(h) (n.h), each read from the source level whose
// texels are as large as the sample's share of the lobe's solid angle,
// 1 / (count * pdf), one level coarser (Krivanek & Colbert 2008's filtered
// importance sampling, their bias of 1): the sun's light is spread over the
// samples instead of caught by a few.
std::vector<LobeSample> LobeSamples(double alpha, int32 count, int32 sourceSize, int32 sourceLevels) {
    std::vector<LobeSample> samples;
    const double a2 = alpha * alpha;
    const double texelSolidAngle = 4.0 * kPi / (6.0 * sourceSize * sourceSize);
    for (int32 i = 0; i < count; ++i) {
        const double xi1 = (i + 0.5) / count;
        const double xi2 = RadicalInverse(static_cast<std::uint32_t>(i));
        const double phi = 2.0 * kPi * xi2;
        const double cosH = std::sqrt((1.0 - xi1) / (1.0 + (a2 - 1.0) * xi1));
        const double sinH = std::sqrt(std::max(0.0, 1.0 - cosH * cosH));
        const double hx = sinH * std::cos(phi);
        const double hy = sinH * std::sin(phi);
        // l = 2 (v.h) h - v with v = n = (0, 0, 1).
        const double lz = 2.0 * cosH * cosH - 1.0;
        if (lz <= 0.0) continue;
        const double lx = 2.0 * cosH * hx;
        const double ly = 2.0 * cosH * hy;
        // The GGX distribution, and the pdf of l: D (n.h) / (4 (v.h)) = D / 4.
        const double denominator = cosH * cosH * (a2 - 1.0) + 1.0;
        const double d = a2 / (kPi * denominator * denominator);
        const double pdf = d / 4.0;
        const double sampleSolidAngle = 1.0 / (count * pdf);
        const double level = std::clamp(0.5 * std::log2(sampleSolidAngle / texelSolidAngle) + 1.0, 0.0,
                                        static_cast<double>(sourceLevels - 1));
        samples.push_back(LobeSample{lx, ly, lz, level});
    }
    return samples;
}

// Samples a texel of a level prefiltered with: about four million a level,
// more a texel where the lobe is wide and the level small. Even filtered,
// the sun's light in the coarse levels it is read from needs thousands to
// come within 1.5% of the exact convolution at roughness 1 (16 to 512 a
// texel: 8%).
int32 LobeSampleCount(int32 levelSize) {
    const std::int64_t texels = 6 * static_cast<std::int64_t>(levelSize) * levelSize;
    return static_cast<int32>(std::clamp<std::int64_t>((std::int64_t{1} << 22) / texels, 16, 8192));
}

RGBAReal SampleLevel(const std::vector<float>& level, int32 size, const CubeVector& lookup) {
    int32 face = 0;
    double u = 0.0, v = 0.0;
    CubeFaceOf(lookup, &face, &u, &v);
    const double fx = std::clamp(u * size - 0.5, 0.0, size - 1.0);
    const double fy = std::clamp(v * size - 0.5, 0.0, size - 1.0);
    const int32 x0 = static_cast<int32>(fx);
    const int32 y0 = static_cast<int32>(fy);
    const int32 x1 = std::min(size - 1, x0 + 1);
    const int32 y1 = std::min(size - 1, y0 + 1);
    const double wx = fx - x0;
    const double wy = fy - y0;
    const float* a = Texel(level, size, face, x0, y0);
    const float* b = Texel(level, size, face, x1, y0);
    const float* c = Texel(level, size, face, x0, y1);
    const float* d = Texel(level, size, face, x1, y1);
    float out[kCubeChannels];
    for (int32 k = 0; k < kCubeChannels; ++k) {
        out[k] =
            static_cast<float>((a[k] * (1.0 - wx) + b[k] * wx) * (1.0 - wy) + (c[k] * (1.0 - wx) + d[k] * wx) * wy);
    }
    return RGBAReal{out[0], out[1], out[2], 1.0f};
}

RGBAReal SampleLevels(const std::vector<std::vector<float>>& levels, int32 size, const CubeVector& lookup,
                      double level) {
    const auto last = static_cast<int32>(levels.size()) - 1;
    level = std::clamp(level, 0.0, static_cast<double>(last));
    const auto l0 = static_cast<int32>(level);
    const int32 l1 = std::min(last, l0 + 1);
    const double w = level - l0;
    const RGBAReal a = SampleLevel(levels[static_cast<std::size_t>(l0)], std::max(1, size >> l0), lookup);
    if (w <= 0.0 || l1 == l0) return a;
    const RGBAReal b = SampleLevel(levels[static_cast<std::size_t>(l1)], std::max(1, size >> l1), lookup);
    return RGBAReal{static_cast<real>(a.red + (b.red - a.red) * w),
                    static_cast<real>(a.green + (b.green - a.green) * w),
                    static_cast<real>(a.blue + (b.blue - a.blue) * w), 1.0f};
}

}  // namespace

RGBAReal CubemapSample(const Cubemap& cube, const CubeVector& lookup, double level) {
    return SampleLevels(cube.levels, cube.size, lookup, level);
}

bool CubemapMakeMips(Cubemap* cube, CubeMips mips, int32 threads) {
    if (cube->levels.empty()) return false;
    cube->levels.resize(1);
    if (mips == CubeMipsNone) return true;
    const int32 count = CubemapFullChain(cube->size);
    // The box chain: the mips themselves, or what the prefilter reads.
    // Level 0 is the box chain's first and the prefiltered chain's first
    // alike: lent to the box chain, not copied (a 4096 cube's is 1.2 GB).
    std::vector<std::vector<float>> box;
    box.push_back(std::move(cube->levels[0]));
    cube->levels.clear();
    struct GiveBack {
        std::vector<std::vector<float>>* box;
        Cubemap* cube;
        ~GiveBack() {
            if (box->empty()) return;  // the box chain became the mips, level 0 with them
            if (cube->levels.empty()) cube->levels.emplace_back();
            if (!(*box)[0].empty()) cube->levels[0] = std::move((*box)[0]);
        }
    } giveBack{&box, cube};
    try {
        for (int32 l = 1; l < count; ++l) {
            box.emplace_back();
            if (!BoxLevel(box[static_cast<std::size_t>(l - 1)], std::max(1, cube->size >> (l - 1)), &box.back())) {
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (mips == CubeMipsBox) {
        cube->levels = std::move(box);
        return true;
    }
    cube->levels.emplace_back();  // level 0, given back at the end
    try {
        for (int32 l = 1; l < count; ++l) {
            if (PanoramaStopAsked()) {
                cube->levels.resize(1);
                return false;
            }
            const int32 size = std::max(1, cube->size >> l);
            const double roughness = CubemapLevelRoughness(l, count);
            const std::vector<LobeSample> samples =
                LobeSamples(roughness * roughness, LobeSampleCount(size), cube->size, count);
            cube->levels.emplace_back(6 * FaceTexels(size) * kCubeChannels);
            std::vector<float>& out = cube->levels.back();
            Parallel(6 * static_cast<std::int64_t>(size), threads, [&](std::int64_t row) {
                const auto face = static_cast<int32>(row / size);
                const auto y = static_cast<int32>(row % size);
                for (int32 x = 0; x < size; ++x) {
                    const CubeVector n = CubeFacePoint(face, (x + 0.5) / size, (y + 0.5) / size);
                    // A frame about the normal.
                    const CubeVector up =
                        std::fabs(n.y) < 0.999 ? CubeVector{0.0, 1.0, 0.0} : CubeVector{1.0, 0.0, 0.0};
                    const double along = Dot(up, n);
                    const CubeVector tx = Normalised(up.x - along * n.x, up.y - along * n.y, up.z - along * n.z);
                    const CubeVector ty{n.y * tx.z - n.z * tx.y, n.z * tx.x - n.x * tx.z, n.x * tx.y - n.y * tx.x};
                    double sum[kCubeChannels] = {};
                    double weight = 0.0;
                    for (const LobeSample& s : samples) {
                        const CubeVector light{tx.x * s.x + ty.x * s.y + n.x * s.z, tx.y * s.x + ty.y * s.y + n.y * s.z,
                                               tx.z * s.x + ty.z * s.y + n.z * s.z};
                        const RGBAReal c = SampleLevels(box, cube->size, light, s.level);
                        sum[0] += c.red * s.z;
                        sum[1] += c.green * s.z;
                        sum[2] += c.blue * s.z;
                        weight += s.z;
                    }
                    float* t = Texel(out, size, face, x, y);
                    for (int32 c = 0; c < kCubeChannels; ++c) t[c] = static_cast<float>(sum[c] / weight);
                }
            });
        }
    } catch (const std::bad_alloc&) {
        cube->levels.resize(1);
        return false;
    }
    return true;
}

std::uint16_t CubemapHalf(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    const std::uint32_t magnitude = bits & 0x7FFFFFFFu;
    if (magnitude > 0x7F800000u) return static_cast<std::uint16_t>(sign | 0x7E00u);  // NaN stays NaN
    // 65520 and above round to infinity: the largest finite half instead.
    if (magnitude >= 0x477FF000u) return static_cast<std::uint16_t>(sign | 0x7BFFu);
    if (magnitude < 0x38800000u) {
        // A subnormal half (or zero): the value in units of 2^-24, rounded to even.
        if (magnitude < 0x33000000u) return sign;
        const std::uint32_t mantissa = (magnitude & 0x007FFFFFu) | 0x00800000u;
        const int shift = 126 - static_cast<int>(magnitude >> 23);  // 14 + (113 - exponent)
        const std::uint32_t half = mantissa >> shift;
        const std::uint32_t rest = mantissa & ((1u << shift) - 1u);
        const std::uint32_t midway = 1u << (shift - 1);
        const std::uint32_t rounded = half + ((rest > midway || (rest == midway && (half & 1u))) ? 1u : 0u);
        return static_cast<std::uint16_t>(sign | rounded);
    }
    // A normal half: rebias the exponent, round the mantissa to 10 bits, to even.
    const std::uint32_t rebased = magnitude - 0x38000000u;
    const std::uint32_t rounded = (rebased + 0x0FFFu + ((rebased >> 13) & 1u)) >> 13;
    return static_cast<std::uint16_t>(sign | rounded);
}

void CubemapFaceHalves(const Cubemap& cube, int32 level, int32 face, std::vector<std::uint16_t>* out) {
    const int32 size = CubemapLevelSize(cube, level);
    const std::size_t texels = FaceTexels(size);
    const float* in = cube.levels[static_cast<std::size_t>(level)].data() + face * texels * kCubeChannels;
    // kcd/m^2 to the files' unit.
    const double scale = 1000.0 / kCubemapUnit;
    out->resize(texels * 4);
    const std::uint16_t one = CubemapHalf(1.0f);
    for (std::size_t i = 0; i < texels; ++i) {
        for (int32 c = 0; c < kCubeChannels; ++c) {
            (*out)[i * 4 + c] = CubemapHalf(static_cast<float>(std::max(0.0, in[i * kCubeChannels + c] * scale)));
        }
        (*out)[i * 4 + 3] = one;
    }
}

CubemapFormat CubemapFormatOf(const char* path) {
    if (path == nullptr) return CubemapFormatNone;
    const std::size_t n = std::strlen(path);
    if (n > 4 && strcasecmp(path + n - 4, ".dds") == 0) return CubemapFormatDDS;
    if (n > 5 && strcasecmp(path + n - 5, ".ktx2") == 0) return CubemapFormatKTX2;
    if (n > 4 && strcasecmp(path + n - 4, ".png") == 0) return CubemapFormatCrossPNG;
    return CubemapFormatNone;
}

bool CubemapWrite(Sky* sky, const char* path, int32 size, CubeMips mips, float exposure, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    auto fail = [&](const std::string& why) {
        if (message != nullptr) *message = "Cannot write the cube map to " + target + ": " + why + ".";
        return false;
    };
    const CubemapFormat format = CubemapFormatOf(path);
    if (format == CubemapFormatNone) return fail("the name must end in .dds, .ktx2 or .png");
    if (format == CubemapFormatCrossPNG) return CubemapWriteCrossPNG(sky, path, size, exposure, message);
    if (!CubemapSizeValid(size)) return fail("the size is not a power of two from 16 to 4096");
    Cubemap cube;
    const CubeFrame frame = format == CubemapFormatDDS ? CubeFrameLeftHanded : CubeFrameRightHanded;
    if (!CubemapRender(CubeSceneOfSky(sky), size, frame, &cube) || !CubemapMakeMips(&cube, mips, 0)) {
        return fail(PanoramaStopReason() != nullptr ? PanoramaStopReason() : "out of memory");
    }
    return format == CubemapFormatDDS ? CubemapWriteDDS(cube, path, message) : CubemapWriteKTX2(cube, path, message);
}

}  // namespace kv
