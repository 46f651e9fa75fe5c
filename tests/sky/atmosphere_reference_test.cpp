// The slow reference against itself. The cache of its fine run, which the
// physical sky's tests read, must be what it gives: a fresh coarse run agrees
// with it within the noise of both. On request the fine run again, with the
// figures of its convergence: its own noise, and how much another seed,
// twice the steps along every ray and a table of columns twice as fine
// change it and the model's figures against it. To make the cache again, in
// the source folder (about 15 minutes on two cores), run
//   build/tests/sky/test_sky_atmosphere --gtest_filter='AtmosphereReferenceFine.*'
// with KV_ATMOSPHERE_FINE=65536 and
// KV_ATMOSPHERE_WRITE=tests/sky/atmosphere_reference_sky.cpp. Each sky's
// cache keeps the paths it was made with (the present one 20000, and 65536
// for the sky 4 degrees below the horizon, whose noise is the largest); a
// run with the same count gives it again, and KV_ATMOSPHERE_FINE=cache runs
// each sky with the count its cache has.
#include "atmosphere_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "atmosphere_sky_cases.h"
#include "sky/atmosphere.h"
#include "sky/colour_matching.h"

namespace kv {
namespace {

ReferenceOptions Options(int paths, uint64_t seed) {
    ReferenceOptions o;
    o.paths = paths;
    o.seed = seed;
    o.threads = 2;
    return o;
}

std::vector<ReferenceRadiance> RunSky(const SkyCase& sky, const ReferenceOptions& options,
                                      const std::vector<V3d>& dirs) {
    AtmosphereReference reference(sky.turbidity, sky.albedo, sky.altitude, options);
    reference.SetSun(90.0f - sky.elevation, kSkySunAzimuth);
    return reference.Radiance(dirs);
}

// One direction in eight of every cached sky at 2048 paths: each within five
// standard errors of the two runs of the cache, and no shift common to all of
// them (their mean within three standard errors of the mean).
TEST(AtmosphereReferenceCache, AgreesWithAFreshCoarseRun) {
    const std::vector<V3d> all = SkyDirections();
    double sum = 0.0;
    int n = 0;
    for (const CachedSky& cached : kCachedSky) {
        std::vector<V3d> dirs;
        std::vector<int> index;
        for (int i = 3; i < kSkyDirections; i += 8) {
            dirs.push_back(all[i]);
            index.push_back(i);
        }
        const std::vector<ReferenceRadiance> fresh = RunSky(cached.sky, Options(2048, 8), dirs);
        for (std::size_t j = 0; j < dirs.size(); ++j) {
            const CachedDirection& c = cached.directions[index[j]];
            const double z = (fresh[j].xyz[1] - c.xyz[1]) / std::hypot(c.error, fresh[j].luminanceError);
            EXPECT_LT(std::fabs(z), 5.0) << "sun elevation " << cached.sky.elevation << ", direction " << index[j];
            sum += z;
            ++n;
        }
    }
    EXPECT_LT(std::fabs(sum / n), 3.0 / std::sqrt(n));
}

struct Differences {
    double rms;        // relative, of the luminance
    double predicted;  // what the two runs' noise alone would give
    double mean;       // signed: a bias the noise cannot explain
    double worstUV;    // largest delta u'v'
};

Differences Compare(const std::vector<ReferenceRadiance>& a, const std::vector<ReferenceRadiance>& b) {
    Differences d{0.0, 0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double rel = b[i].xyz[1] / a[i].xyz[1] - 1.0;
        const double noise = std::hypot(a[i].luminanceError, b[i].luminanceError) / a[i].xyz[1];
        d.rms += rel * rel;
        d.predicted += noise * noise;
        d.mean += rel;
        double ua;
        double va;
        double ub;
        double vb;
        XYZToUV(a[i].xyz, &ua, &va);
        XYZToUV(b[i].xyz, &ub, &vb);
        d.worstUV = std::fmax(d.worstUV, std::hypot(ua - ub, va - vb));
    }
    const auto n = static_cast<double>(a.size());
    d.rms = std::sqrt(d.rms / n);
    d.predicted = std::sqrt(d.predicted / n);
    d.mean /= n;
    return d;
}

// The fast model against one run of the reference: RMS relative luminance
// and worst delta u'v', directions within 3 degrees of the sun left out.
void ModelAgainst(const SkyCase& sky, const std::vector<V3d>& dirs, const std::vector<ReferenceRadiance>& ref,
                  double* rms, double* worstUV) {
    Atmosphere* a = AtmosphereCreate();
    ASSERT_TRUE(a != nullptr && AtmosphereSetup(a, sky.turbidity, sky.albedo, sky.altitude));
    AtmosphereSetSun(a, 90.0f - sky.elevation, kSkySunAzimuth);
    const V3d sun = AtmosphereSunDirection(a);
    *rms = 0.0;
    *worstUV = 0.0;
    int n = 0;
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (dirs[i].x * sun.x + dirs[i].y * sun.y + dirs[i].z * sun.z > std::cos(3.0 * 3.14159265358979 / 180.0))
            continue;
        double xyz[3];
        AtmosphereXYZ(a, dirs[i], AtmosphereSkyOnly, xyz);
        const double rel = xyz[1] / ref[i].xyz[1] - 1.0;
        *rms += rel * rel;
        double u0;
        double v0;
        double u1;
        double v1;
        XYZToUV(xyz, &u0, &v0);
        XYZToUV(ref[i].xyz, &u1, &v1);
        *worstUV = std::fmax(*worstUV, std::hypot(u0 - u1, v0 - v1));
        ++n;
    }
    *rms = std::sqrt(*rms / n);
    AtmosphereDestroy(a);
}

void AppendSky(const SkyCase& sky, int paths, const std::vector<ReferenceRadiance>& ref, std::string* out) {
    char line[256];
    std::snprintf(line, sizeof line, "    {{%.1ff, %.1ff, %.2ff, %.1ff},\n     %d,\n     {\n", sky.elevation,
                  sky.turbidity, sky.albedo, sky.altitude, paths);
    *out += line;
    for (const ReferenceRadiance& r : ref) {
        std::snprintf(line, sizeof line, "         {{%.9g, %.9g, %.9g}, %.6g},\n", r.xyz[0], r.xyz[1], r.xyz[2],
                      r.luminanceError);
        *out += line;
    }
    *out += "     }},\n";
}

// About 15 minutes on two cores at 65536 paths, the cache's.
TEST(AtmosphereReferenceFine, ConvergesAndMatchesItsCache) {
    const char* fine = std::getenv("KV_ATMOSPHERE_FINE");
    if (fine == nullptr) GTEST_SKIP() << "KV_ATMOSPHERE_FINE=PATHS (65536 for the cache) runs it";
    const bool asCached = std::string(fine) == "cache";
    ASSERT_TRUE(asCached || std::atoi(fine) >= 16);
    const std::vector<V3d> dirs = SkyDirections();
    std::string cache =
        "// The slow reference's radiance over the skies of atmosphere_sky_cases.h, from its\n"
        "// fine run: written by AtmosphereReferenceFine.ConvergesAndMatchesItsCache\n"
        "// (atmosphere_reference_test.cpp) with KV_ATMOSPHERE_WRITE; not edited by hand.\n"
        "#include \"atmosphere_sky_cases.h\"\n\nnamespace kv {\n\n// clang-format off\nconst CachedSky "
        "kCachedSky[kCachedSkies] = {\n";
    for (int s = 0; s < kCachedSkies; ++s) {
        const SkyCase& sky = kCachedSky[s].sky;
        const int paths = asCached ? kCachedSky[s].paths : std::atoi(fine);
        const ReferenceOptions base = Options(paths, 1);
        const std::vector<ReferenceRadiance> ref = RunSky(sky, base, dirs);
        double noise = 0.0;
        for (const ReferenceRadiance& r : ref) noise += (r.luminanceError / r.xyz[1]) * (r.luminanceError / r.xyz[1]);
        noise = std::sqrt(noise / kSkyDirections);
        double rms;
        double uv;
        ModelAgainst(sky, dirs, ref, &rms, &uv);
        std::printf(
            "sun elevation %5.1f turbidity %.1f albedo %.2f altitude %5.0f, %d paths: noise %.2f%%; model RMS "
            "%.2f%%, worst du'v' %.4f\n",
            sky.elevation, sky.turbidity, sky.albedo, sky.altitude, paths, 100.0 * noise, 100.0 * rms, uv);
        if (s < kGoalSkies) {
            EXPECT_LE(noise, 0.005);
        }
        struct Variant {
            const char* name;
            ReferenceOptions options;
        };
        Variant variants[3] = {{"another seed", Options(paths / 4, 2)},
                               {"twice the steps", Options(paths / 4, 3)},
                               {"a table twice as fine", Options(paths / 4, 4)}};
        variants[1].options.viewSteps *= 2;
        variants[1].options.raySteps *= 2;
        variants[2].options.tableRows *= 2;
        variants[2].options.tableCols *= 2;
        for (const Variant& v : variants) {
            const std::vector<ReferenceRadiance> other = RunSky(sky, v.options, dirs);
            const Differences d = Compare(ref, other);
            ModelAgainst(sky, dirs, other, &rms, &uv);
            std::printf(
                "  %-22s RMS difference %.2f%% (noise alone %.2f%%), mean %+.3f%%, worst du'v' %.4f; model RMS "
                "%.2f%%, worst du'v' %.4f\n",
                v.name, 100.0 * d.rms, 100.0 * d.predicted, 100.0 * d.mean, d.worstUV, 100.0 * rms, uv);
            std::fflush(stdout);
            EXPECT_LT(d.rms, 1.5 * d.predicted) << v.name;
            EXPECT_LT(std::fabs(d.mean), 0.002 + 3.0 * d.predicted / std::sqrt(kSkyDirections)) << v.name;
        }
        // The cache, if it was made with these settings, is this run.
        if (kCachedSky[s].paths == paths) {
            for (int i = 0; i < kSkyDirections; ++i) {
                EXPECT_NEAR(ref[i].xyz[1], kCachedSky[s].directions[i].xyz[1], 1e-6 * ref[i].xyz[1]);
            }
        }
        AppendSky(sky, paths, ref, &cache);
    }
    cache += "};\n// clang-format on\n\n}  // namespace kv\n";
    if (const char* file = std::getenv("KV_ATMOSPHERE_WRITE")) {
        FILE* f = std::fopen(file, "w");
        ASSERT_TRUE(f != nullptr) << file;
        std::fputs(cache.c_str(), f);
        std::fclose(f);
    }
}

}  // namespace
}  // namespace kv
