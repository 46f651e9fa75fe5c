// The physical sky against a slow reference of the same atmosphere, and the
// physics it must keep: the sun's disc, the ground, twilight.
#include "sky/atmosphere.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "atmosphere_sky_cases.h"
#include "engine/core/error.h"
#include "error_log.h"
#include "sky/analytic_sky.h"
#include "sky/atmosphere_medium.h"
#include "sky/colour_matching.h"

namespace kv {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct AtmosphereDeleter {
    void operator()(Atmosphere* a) const { AtmosphereDestroy(a); }
};
using AtmospherePtr = std::unique_ptr<Atmosphere, AtmosphereDeleter>;

AtmospherePtr MakeAtmosphere(float turbidity, float albedo, float altitude) {
    AtmospherePtr a(AtmosphereCreate());
    EXPECT_TRUE(a != nullptr && AtmosphereSetup(a.get(), turbidity, albedo, altitude));
    return a;
}

double AngleDegrees(V3d a, V3d b) {
    const double c = a.x * b.x + a.y * b.y + a.z * b.z;
    return std::acos(std::fmax(-1.0, std::fmin(1.0, c))) * 180.0 / kPi;
}

double DeltaUV(const double a[3], const double b[3]) {
    double ua;
    double va;
    double ub;
    double vb;
    XYZToUV(a, &ua, &va);
    XYZToUV(b, &ub, &vb);
    return std::hypot(ua - ub, va - vb);
}

struct Comparison {
    double rms;       // relative, of the luminance
    double worstUV;   // largest delta u'v'
    double worstRel;  // largest relative luminance difference
    double noise;     // RMS relative standard error of the reference
};

// The fast model against the reference's fine run over a sky (the cache of
// atmosphere_reference_sky.cpp, which atmosphere_reference_test.cpp checks
// against the reference), directions within 3 degrees of the sun left out.
Comparison Compare(const CachedSky& cached) {
    const SkyCase& sky = cached.sky;
    AtmospherePtr fast = MakeAtmosphere(sky.turbidity, sky.albedo, sky.altitude);
    AtmosphereSetSun(fast.get(), 90.0f - sky.elevation, kSkySunAzimuth);
    const V3d sun = AtmosphereSunDirection(fast.get());
    const std::vector<V3d> dirs = SkyDirections();
    Comparison c{0.0, 0.0, 0.0, 0.0};
    int n = 0;
    for (int i = 0; i < kSkyDirections; ++i) {
        if (AngleDegrees(dirs[i], sun) <= 3.0) continue;
        const CachedDirection& ref = cached.directions[i];
        double xyz[3];
        AtmosphereXYZ(fast.get(), dirs[i], AtmosphereSkyOnly, xyz);
        const double rel = (xyz[1] - ref.xyz[1]) / ref.xyz[1];
        c.rms += rel * rel;
        c.worstRel = std::fmax(c.worstRel, std::fabs(rel));
        c.worstUV = std::fmax(c.worstUV, DeltaUV(xyz, ref.xyz));
        c.noise += (ref.error / ref.xyz[1]) * (ref.error / ref.xyz[1]);
        ++n;
    }
    c.rms = std::sqrt(c.rms / n);
    c.noise = std::sqrt(c.noise / n);
    std::printf(
        "sun elevation %5.1f turbidity %.1f albedo %.2f altitude %5.0f: %d directions, luminance RMS %.2f%% "
        "(worst %.2f%%), worst du'v' %.4f, reference noise %.2f%%\n",
        sky.elevation, sky.turbidity, sky.albedo, sky.altitude, n, 100.0 * c.rms, 100.0 * c.worstRel, c.worstUV,
        100.0 * c.noise);
    return c;
}

// The goals: luminance within 3% RMS over the sky and colour within delta
// u'v' 0.01, at every elevation of the sun from 60 degrees to 4 below the
// horizon (turbidity 2, albedo 0.3, at the ground), and from 12 km up. The
// reference's own noise is a small part of what is measured.
class AtmosphereVersusReference : public ::testing::TestWithParam<int> {};

TEST_P(AtmosphereVersusReference, LuminanceWithin3PercentAndColourWithinAHundredth) {
    const Comparison c = Compare(kCachedSky[GetParam()]);
    EXPECT_LE(c.rms, 0.03);
    EXPECT_LE(c.worstUV, 0.01);
    EXPECT_LE(c.noise, 0.006);
}

INSTANTIATE_TEST_SUITE_P(SunElevationsAndAloft, AtmosphereVersusReference, ::testing::Range(0, kGoalSkies + 1));

// A hazy sky (turbidity 6) falls short of the goals: the aerosols' narrow
// forward peak is resolved only coarsely by the model's directions, and
// their many further orders are more than the geometric series gives.
// These bounds (the figures measured, with a margin) keep it from getting
// worse.
TEST(AtmosphereVersusReferenceHazy, WithinItsMeasuredBounds) {
    const Comparison c = Compare(kCachedSky[kGoalSkies + 1]);
    EXPECT_LE(c.rms, 0.075);
    EXPECT_LE(c.worstUV, 0.01);
}

// The sun's disc: its radiance is the extraterrestrial sun through the
// atmosphere, which for a sun overhead has a closed form; its illuminance is
// its radiance times its solid angle, which a fine grid of directions across
// it finds too, and its edge lies 0.265 degrees from its centre.
TEST(AtmosphereSun, DiscRadianceIlluminanceAndSize) {
    AtmospherePtr a = MakeAtmosphere(2.0f, 0.3f, 2000.0f);
    AtmosphereSetSun(a.get(), 0.0f, 0.0f);
    // Vertical columns from 2 km: the air's and the aerosols' profiles by a
    // fine midpoint rule, and the ozone triangle.
    const double h = 2000.0;
    const double top = kAtmosphereTopRadius - kAtmospherePlanetRadius;
    const AtmosphereMedium& medium = AtmosphereMediumOf(a.get());
    double air = 0.0;
    double aerosols = 0.0;
    for (int i = 0; i < 100000; ++i) {
        const AtmosphereDensity d = AtmosphereDensityAt(medium, h + (top - h) * (i + 0.5) / 100000);
        air += d.rayleigh;
        aerosols += d.mie;
    }
    air *= (top - h) / 100000;
    aerosols *= (top - h) / 100000;
    const double ozone = 0.5 * (kAtmosphereOzoneTop - kAtmosphereOzoneBottom);
    double expected = 0.0;
    double outside = 0.0;
    for (int i = 0; i < 400; ++i) {
        const double nm = kAtmosphereFirstNm + i + 0.5;
        AtmosphereOptics o;
        AtmosphereOpticsAt(medium, nm, &o);
        const double t = std::exp(-(o.rayleigh * air + o.mieExtinction * aerosols + o.ozone * ozone));
        double cmf[3];
        ColourMatching(nm, cmf);
        expected += kLuminousEfficacy * o.solarIrradiance * t * cmf[1];
        outside += kLuminousEfficacy * o.solarIrradiance * cmf[1];
    }
    RGBAReal colour;
    const double lux = AtmosphereSunIlluminance(a.get(), &colour);
    EXPECT_NEAR(lux, expected, 0.01 * expected);
    // The extraterrestrial sun, for scale: near 128 klx.
    EXPECT_NEAR(outside, 128e3, 6e3);
    EXPECT_NEAR(0.2126 * colour.red + 0.7152 * colour.green + 0.0722 * colour.blue, 1.0, 1e-3);

    // Integrate the disc over a grid 0.01 degrees fine round the zenith.
    const double step = 0.01 * kPi / 180.0;
    double integral = 0.0;
    double edgeIn = 0.0;
    double edgeOut = 0.0;
    for (int i = -40; i <= 40; ++i) {
        for (int j = -40; j <= 40; ++j) {
            const double x = i * step;
            const double z = j * step;
            const V3d d{static_cast<real>(x), static_cast<real>(std::sqrt(1.0 - x * x - z * z)), static_cast<real>(z)};
            double with[3];
            double without[3];
            AtmosphereXYZ(a.get(), d, AtmosphereWithSunDisc, with);
            AtmosphereXYZ(a.get(), d, AtmosphereSkyOnly, without);
            integral += (with[1] - without[1]) * step * step;
            const double angle = std::hypot(x, z) * 180.0 / kPi;
            if (angle < 0.26) edgeIn = std::fmax(edgeIn, with[1] - without[1]);
            if (angle > 0.27) edgeOut = std::fmax(edgeOut, with[1] - without[1]);
        }
    }
    EXPECT_NEAR(integral, lux, 0.02 * lux);
    EXPECT_GT(edgeIn, 0.0);
    EXPECT_EQ(edgeOut, 0.0);
    const RGBAReal sun = AtmosphereSunRadiance(a.get());
    const double luminance = (0.2126 * sun.red + 0.7152 * sun.green + 0.0722 * sun.blue) * 1e3;
    EXPECT_NEAR(luminance, lux / SunSolidAngle(), 0.01 * luminance);
    // Below the horizon it is gone; the same path's radiance is asked for
    // directly for the analytic model's sun.
    AtmosphereSetSun(a.get(), 95.0f, 0.0f);
    EXPECT_EQ(AtmosphereSunIlluminance(a.get(), nullptr), 0.0);
    const RGBAReal low = AtmosphereSunRadianceAt(a.get(), 85.0);
    EXPECT_GT(low.red, low.blue);  // reddened by the long path
}

// The ground is Lambertian: albedo times the illuminance from the sun and
// the sky, over pi; and that illuminance is what the sky the model shows
// and its sun give a horizontal surface.
TEST(AtmosphereGround, RadianceIsAlbedoTimesIlluminanceOverPi) {
    AtmospherePtr a = MakeAtmosphere(2.0f, 0.4f, 0.0f);
    for (float zenith : {30.0f, 80.0f, 91.5f, 93.0f, 96.0f, 102.0f, 108.0f}) {
        AtmosphereSetSun(a.get(), zenith, 100.0f);
        double sky = 0.0;
        const double e = AtmosphereHorizontalIlluminance(a.get(), &sky);
        // The sky over the hemisphere, cosine weighted, by a fine midpoint rule.
        double integral = 0.0;
        const int nz = 180;
        const int na = 180;
        for (int i = 0; i < nz; ++i) {
            const double mu = (i + 0.5) / nz;
            const double s = std::sqrt(1.0 - mu * mu);
            for (int j = 0; j < na; ++j) {
                const double phi = 2.0 * kPi * (j + 0.5) / na;
                double xyz[3];
                AtmosphereXYZ(a.get(),
                              V3d{static_cast<real>(s * std::sin(phi)), static_cast<real>(mu),
                                  static_cast<real>(s * std::cos(phi))},
                              AtmosphereSkyOnly, xyz);
                integral += xyz[1] * mu * (1.0 / nz) * (2.0 * kPi / na);
            }
        }
        EXPECT_NEAR(sky, integral, 0.03 * integral) << "sun zenith " << zenith;
        const double direct =
            AtmosphereSunIlluminance(a.get(), nullptr) * std::fmax(0.0, std::cos(zenith * kPi / 180.0));
        EXPECT_NEAR(e, sky + direct, 0.01 * e) << "sun zenith " << zenith;
        const RGBAReal g = AtmosphereGroundRadiance(a.get());
        const double luminance = (0.2126 * g.red + 0.7152 * g.green + 0.0722 * g.blue) * 1e3;
        EXPECT_NEAR(luminance, 0.4 * e / kPi, 0.01 * luminance + 1e-6) << "sun zenith " << zenith;
        // Looking down from the ground, the viewer sees that ground.
        double down[3];
        AtmosphereXYZ(a.get(), V3d{0.3f, -0.9f, 0.316f}, AtmosphereSkyOnly, down);
        EXPECT_NEAR(down[1], luminance, 0.01 * luminance + 1e-6) << "sun zenith " << zenith;
    }
}

// The moon is the sun's light scaled and reddened, scattered by the same
// air: its sky is the sky of a sun in its place times its share of the
// sun's light, a little redder; its ground gets its beam through the air and
// the light of that sky; a moon of no light, or taken away, leaves the sky
// exactly as it was, and setting the atmosphere up again takes it away.
TEST(AtmosphereMoon, LightsTheAirAndTheGroundAsASunInItsPlaceByItsShare) {
    AtmospherePtr a = MakeAtmosphere(2.0f, 0.3f, 0.0f);
    AtmospherePtr sun = MakeAtmosphere(2.0f, 0.3f, 0.0f);
    const float zenith = 40.0f;
    const float azimuth = 120.0f;
    AtmosphereSetSun(sun.get(), zenith, azimuth);
    ASSERT_TRUE(AtmosphereSetSun(a.get(), 100.0f, 300.0f));
    float ones[kAtmosphereBins];
    for (float& v : ones) v = 1.0f;
    double outside[3];
    AtmosphereBandsToXYZ(a.get(), ones, outside);
    const double lux = 0.3;
    const double share = lux / outside[1];
    const V3d directions[] = {{0.0f, 1.0f, 0.0f},    {0.5f, 0.5f, -0.7071f}, {-0.6f, 0.2f, 0.7746f},
                              {0.63f, 0.77f, -0.1f}, {-0.3f, -0.9f, 0.316f}, {0.9848f, 0.1736f, 0.0f}};
    std::vector<std::array<double, 3>> before;
    for (const V3d& d : directions) {
        std::array<double, 3> xyz{};
        AtmosphereXYZ(a.get(), d, AtmosphereSkyOnly, xyz.data());
        before.push_back(xyz);
    }
    ASSERT_TRUE(AtmosphereSetMoon(a.get(), zenith, azimuth, lux));
    for (std::size_t i = 0; i < before.size(); ++i) {
        double with[3];
        double sunlit[3];
        AtmosphereXYZ(a.get(), directions[i], AtmosphereSkyOnly, with);
        AtmosphereXYZ(sun.get(), directions[i], AtmosphereSkyOnly, sunlit);
        double moonlit[3];
        for (int c = 0; c < 3; ++c) moonlit[c] = with[c] - before[i][c];
        EXPECT_NEAR(moonlit[1], sunlit[1] * share, 0.08 * sunlit[1] * share) << "direction " << i;
        // Redder: more X, less Z, for the same Y.
        EXPECT_GT(moonlit[0] / moonlit[1], sunlit[0] / sunlit[1]) << "direction " << i;
        EXPECT_LT(moonlit[2] / moonlit[1], sunlit[2] / sunlit[1]) << "direction " << i;
    }
    double fromSky = 0.0;
    RGBAReal ground{};
    const double e = AtmosphereMoonIlluminance(a.get(), &fromSky, &ground);
    double sunSky = 0.0;
    AtmosphereHorizontalIlluminance(sun.get(), &sunSky);
    const double beam = AtmosphereSunIlluminance(sun.get(), nullptr) * std::cos(zenith * kPi / 180.0) * share;
    EXPECT_NEAR(fromSky, sunSky * share, 0.08 * sunSky * share);
    EXPECT_NEAR(e - fromSky, beam, 0.03 * beam);
    EXPECT_NEAR((0.2126 * ground.red + 0.7152 * ground.green + 0.0722 * ground.blue) * 1e3, 0.3 * e / kPi, 0.01 * e);
    for (int off = 0; off < 2; ++off) {
        if (off == 0) {
            ASSERT_TRUE(AtmosphereSetMoon(a.get(), zenith, azimuth, 0.0));
        } else {
            ASSERT_TRUE(AtmosphereSetMoon(a.get(), zenith, azimuth, lux));
            ASSERT_TRUE(AtmosphereSetup(a.get(), 2.0f, 0.3f, 0.0f));
            ASSERT_TRUE(AtmosphereSetSun(a.get(), 100.0f, 300.0f));
        }
        for (std::size_t i = 0; i < before.size(); ++i) {
            double xyz[3];
            AtmosphereXYZ(a.get(), directions[i], AtmosphereSkyOnly, xyz);
            for (int c = 0; c < 3; ++c) EXPECT_EQ(xyz[c], before[i][c]) << "direction " << i << " pass " << off;
        }
        EXPECT_EQ(AtmosphereMoonIlluminance(a.get(), nullptr, nullptr), 0.0);
    }
}

// Twilight: the zenith stays blue (ozone's Chappuis band takes the orange
// out of the long, grazing sunlight); the sky darkens steadily as the sun
// sets (the zenith all along, the horizon towards and away from the sun
// once it is down), with no step
// where setting the sun passes from one of the model's tabulated suns to the
// next (the second difference of the log of luminance over quarter degrees
// stays below 0.1: a step of 10% would pass it), down to the last lit sun,
// past which the sun gives nothing, the sky nor the ground; it is symmetric
// about the sun's azimuth.
TEST(AtmosphereTwilight, BlueZenithSteadyDarkeningAndSymmetry) {
    AtmospherePtr a = MakeAtmosphere(2.0f, 0.3f, 0.0f);
    const V3d looks[3] = {V3d{0.0f, 1.0f, 0.0f}, V3d{0.0f, 0.0872f, -0.9962f}, V3d{0.0f, 0.0872f, 0.9962f}};
    constexpr int kSteps = static_cast<int>(4 * kAtmosphereLitSunZenith);
    double log[3][kSteps + 1];
    for (int i = 0; i <= kSteps; ++i) {
        const float zenith = 0.25f * i;
        AtmosphereSetSun(a.get(), zenith, 180.0f);
        for (int d = 0; d < 3; ++d) {
            double xyz[3];
            AtmosphereXYZ(a.get(), looks[d], AtmosphereSkyOnly, xyz);
            log[d][i] = std::log(xyz[1]);
            if (i > 0 && (d == 0 || zenith > 90.0f)) {
                EXPECT_LT(log[d][i], log[d][i - 1]) << "sun zenith " << zenith << ", look " << d;
            }
            // The last few degrees fade to nothing, where the log falls away.
            if (i > 1 && zenith <= kAtmosphereLitSunZenith - 4.0f) {
                EXPECT_LT(std::fabs(log[d][i] - 2.0 * log[d][i - 1] + log[d][i - 2]), 0.1) << "sun zenith " << zenith;
            }
            if (d == 0 && zenith == 94.0f) {
                double u;
                double v;
                XYZToUV(xyz, &u, &v);
                // Bluer than D65 (u' 0.1978, v' 0.4683).
                EXPECT_LT(v, 0.44);
                EXPECT_LT(u, 0.195);
            }
        }
    }
    for (float zenith : {kAtmosphereLitSunZenith, 130.0f, 180.0f}) {
        AtmosphereSetSun(a.get(), zenith, 180.0f);
        for (const V3d& look : looks) {
            double xyz[3];
            AtmosphereXYZ(a.get(), look, AtmosphereWithSunDisc, xyz);
            EXPECT_EQ(xyz[1], 0.0) << "sun zenith " << zenith;
        }
        EXPECT_EQ(AtmosphereHorizontalIlluminance(a.get(), nullptr), 0.0) << "sun zenith " << zenith;
    }
    AtmosphereSetSun(a.get(), 60.0f, 200.0f);
    const double sunAzimuth = 200.0 * kPi / 180.0;
    for (double offset : {0.3, 1.0, 2.0, 3.0}) {
        for (double elevation : {2.0, 20.0, 50.0}) {
            const double e = elevation * kPi / 180.0;
            double left[3];
            double right[3];
            auto dir = [&](double az) {
                return V3d{static_cast<real>(std::cos(e) * std::sin(az)), static_cast<real>(std::sin(e)),
                           static_cast<real>(std::cos(e) * std::cos(az))};
            };
            AtmosphereXYZ(a.get(), dir(sunAzimuth + offset), AtmosphereSkyOnly, left);
            AtmosphereXYZ(a.get(), dir(sunAzimuth - offset), AtmosphereSkyOnly, right);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(left[c], right[c], 1e-4 * std::fabs(left[c]) + 1e-6);
        }
    }
}

// Each kind of aerosols scatters with the mean cosine its climatology
// publishes (the phase function's own parameter is not it), its phase
// function integrates to 1, and its profile holds the optical depth asked
// for; the help's table of turbidities is what the medium gives.
TEST(AtmosphereMedium, KindsKeepTheirAsymmetryAndDepthAndTheHelpItsFigures) {
    for (int kind = 0; kind < kAtmosphereAerosolKinds; ++kind) {
        const AtmosphereMedium m =
            AtmosphereMediumFor(2.0f, AtmosphereAerosols{static_cast<AtmosphereAerosolKind>(kind), 0.25f});
        double norm = 0.0;
        double mean = 0.0;
        const int n = 200000;
        for (int i = 0; i < n; ++i) {
            const double c = -1.0 + 2.0 * (i + 0.5) / n;
            const double p = AtmosphereMiePhase(m, c) * 2.0 * kPi * (2.0 / n);
            norm += p;
            mean += p * c;
        }
        EXPECT_NEAR(norm, 1.0, 1e-3) << kind;
        EXPECT_NEAR(mean, m.asymmetry, 1e-3) << kind;
        EXPECT_LT(m.asymmetry, 0.8) << kind;
        const double top = kAtmosphereTopRadius - kAtmospherePlanetRadius;
        double depth = 0.0;
        AtmosphereOptics o;
        AtmosphereOpticsAt(m, 550.0, &o);
        for (int i = 0; i < n; ++i) depth += AtmosphereDensityAt(m, top * (i + 0.5) / n).mie * o.mieExtinction;
        EXPECT_NEAR(depth * top / n, 0.25, 0.25e-3) << kind;
    }
    const double help[][3] = {{1.7f, 0.07, 2.6}, {2.0f, 0.10, 2.8}, {3.0f, 0.20, 3.5},
                              {4.0f, 0.30, 4.2}, {6.0f, 0.50, 5.5}, {10.0f, 0.90, 8.3}};
    const AtmosphereMedium continental = AtmosphereMediumFor(2.0f, AtmosphereAerosols{});
    for (const auto& row : help) {
        const double depth = AtmosphereAerosolDepth550(static_cast<float>(row[0]));
        EXPECT_NEAR(depth, row[1], 0.005) << row[0];
        EXPECT_NEAR(AtmosphereLinkeTurbidity(depth, continental.angstromLong), row[2], 0.05) << row[0];
    }
}

// The physical sky's air is the standard atmosphere's (U.S. Standard
// Atmosphere 1976, table 1: 1.8410e-2 kg/m^3 at 30 km and 1.0269e-3 at 50 km
// over 1.2250 at sea level), in the model and its reference alike; the
// analytic sky's sun keeps the exponential air it always had, so that the
// default sky's files do not change.
TEST(AtmosphereMedium, TheAirIsTheStandardAtmospheresAndTheAnalyticSunKeepsItsOwn) {
    const AtmosphereMedium physical = AtmosphereMediumFor(2.0f, AtmosphereAerosols{});
    const double at30 = 1.8410e-2 / 1.2250;
    const double at50 = 1.0269e-3 / 1.2250;
    EXPECT_NEAR(AtmosphereDensityAt(physical, 30000.0).rayleigh, at30, 1e-3 * at30);
    EXPECT_NEAR(AtmosphereDensityAt(physical, 50000.0).rayleigh, at50, 1e-3 * at50);
    const AtmosphereMedium sun = AtmosphereAnalyticSunMedium(2.0f);
    EXPECT_EQ(AtmosphereDensityAt(sun, 30000.0).rayleigh, std::exp(-30000.0 / 8000.0));
    // A step's air is the logarithmic mean of its ends' densities times its
    // length, short steps (taken without the logarithm) as long ones.
    for (const double ratio : {1.0001, 1.05, 1.2, 1.22, 1.5, 4.0}) {
        const double a = 0.3 * ratio, b = 0.3;
        const double exact = (a - b) / std::log(a / b) * 700.0;
        EXPECT_NEAR(AtmosphereAirStep(physical, a, b, 0.0, 0.0, 700.0), exact, 1e-9 * exact) << ratio;
        EXPECT_NEAR(AtmosphereAirStep(physical, b, a, 0.0, 0.0, 700.0), exact, 1e-9 * exact) << ratio;
    }
}

// The air's vertical depth over the ground is the published one, which the
// reference cannot check since it shares the medium: Bodhaine, Wood, Dutton
// and Slusser 1999's fit for sea level at latitude 45 degrees, 0.3602 at 400
// nm, 0.0971 at 550 and 0.0364 at 700. Its phase function, depolarised,
// still integrates to 1 and is symmetric fore and aft.
TEST(AtmosphereMedium, AirHasThePublishedRayleighDepthAndANormalisedPhase) {
    const AtmosphereMedium m = AtmosphereMediumFor(2.0f, AtmosphereAerosols{});
    const double top = kAtmosphereTopRadius - kAtmospherePlanetRadius;
    const int n = 100000;
    for (const double nm : {400.0, 550.0, 700.0}) {
        const double l2 = (nm * 1e-3) * (nm * 1e-3);
        const double published =
            0.0021520 * (1.0455996 - 341.29061 / l2 - 0.90230850 * l2) / (1.0 + 0.0027059889 / l2 - 85.968563 * l2);
        AtmosphereOptics o;
        AtmosphereOpticsAt(m, nm, &o);
        double depth = 0.0;
        for (int i = 0; i < n; ++i) depth += AtmosphereDensityAt(m, top * (i + 0.5) / n).rayleigh * o.rayleigh;
        EXPECT_NEAR(depth * top / n, published, 0.01 * published) << nm;
    }
    double norm = 0.0;
    for (int i = 0; i < n; ++i) norm += AtmosphereRayleighPhase(-1.0 + 2.0 * (i + 0.5) / n) * 2.0 * kPi * (2.0 / n);
    EXPECT_NEAR(norm, 1.0, 1e-6);
    EXPECT_DOUBLE_EQ(AtmosphereRayleighPhase(0.6), AtmosphereRayleighPhase(-0.6));
}

// Ranges: refused values leave the model as it was; the sun is clamped.
TEST(AtmosphereSetup, RefusesValuesOutOfRangeAndClampsTheSun) {
    AtmospherePtr a = MakeAtmosphere(3.0f, 0.2f, 100.0f);
    for (auto bad : {std::array<float, 3>{1.0f, 0.3f, 0.0f}, std::array<float, 3>{11.0f, 0.3f, 0.0f},
                     std::array<float, 3>{2.0f, -0.1f, 0.0f}, std::array<float, 3>{2.0f, 1.5f, 0.0f},
                     std::array<float, 3>{2.0f, 0.3f, -1.0f}, std::array<float, 3>{2.0f, 0.3f, 20001.0f},
                     std::array<float, 3>{NAN, 0.3f, 0.0f}}) {
        test::ErrorLog log;
        EXPECT_FALSE(AtmosphereSetup(a.get(), bad[0], bad[1], bad[2]));
        EXPECT_TRUE(log.Has(kModuleNone, kErrOutOfRange));
    }
    for (const AtmosphereAerosols& bad :
         {AtmosphereAerosols{static_cast<AtmosphereAerosolKind>(kAtmosphereAerosolKinds), 0.0f},
          AtmosphereAerosols{AtmosphereAerosolUrban, 0.005f}, AtmosphereAerosols{AtmosphereAerosolUrban, 3.5f},
          AtmosphereAerosols{AtmosphereAerosolUrban, NAN}}) {
        test::ErrorLog log;
        EXPECT_FALSE(AtmosphereSetup(a.get(), 2.0f, 0.3f, 0.0f, bad));
        EXPECT_TRUE(log.Has(kModuleNone, kErrOutOfRange));
    }
    EXPECT_EQ(AtmosphereTurbidity(a.get()), 3.0f);
    EXPECT_EQ(AtmosphereAlbedo(a.get()), 0.2f);
    EXPECT_EQ(AtmosphereAltitude(a.get()), 100.0f);
    ASSERT_TRUE(AtmosphereSetSun(a.get(), 190.0f, 0.0f));
    EXPECT_NEAR(AtmosphereSunDirection(a.get()).y, -1.0, 1e-6);
    // A sun needs the model's tables: an atmosphere never set up, or made for
    // the sun's path alone, refuses it.
    for (bool sunPath : {false, true}) {
        Atmosphere* bare = AtmosphereCreate();
        ASSERT_NE(bare, nullptr);
        if (sunPath) {
            ASSERT_TRUE(AtmosphereSetupSunPath(bare, 2.0f));
        }
        test::ErrorLog log;
        EXPECT_FALSE(AtmosphereSetSun(bare, 30.0f, 0.0f)) << sunPath;
        EXPECT_TRUE(log.Has(kModuleNone, kErrNotReady)) << sunPath;
        AtmosphereDestroy(bare);
    }
}

// A panorama row gives what the same directions give one by one, and two
// threads evaluating at once give what one does.
TEST(AtmosphereEvaluation, RowsAndThreadsAgreeWithSingleDirections) {
    AtmospherePtr a = MakeAtmosphere(2.5f, 0.3f, 500.0f);
    AtmosphereSetSun(a.get(), 70.0f, 123.0f);
    const int n = 4096;
    std::vector<double> phi(n);
    std::vector<V3d> dirs(n);
    const double theta = 1.2;
    for (int i = 0; i < n; ++i) {
        phi[i] = 2.0 * kPi * (i + 0.5) / n;
        dirs[i] = V3d{static_cast<real>(std::sin(theta) * std::sin(phi[i])), static_cast<real>(std::cos(theta)),
                      static_cast<real>(std::sin(theta) * std::cos(phi[i]))};
    }
    std::vector<RGBAReal> row(n);
    std::vector<RGBAReal> one(n);
    std::vector<RGBAReal> two(n);
    AtmosphereRowColors(a.get(), theta, phi.data(), n, row.data(), AtmosphereWithSunDisc);
    AtmosphereColors(a.get(), dirs.data(), n, one.data(), AtmosphereWithSunDisc);
    std::thread t([&] { AtmosphereColors(a.get(), dirs.data(), n / 2, two.data(), AtmosphereWithSunDisc); });
    AtmosphereColors(a.get(), dirs.data() + n / 2, n - n / 2, two.data() + n / 2, AtmosphereWithSunDisc);
    t.join();
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(row[i].green, one[i].green, 1e-4 * one[i].green);
        EXPECT_EQ(one[i].green, two[i].green);
        EXPECT_GT(one[i].green, 0.0f);
    }
}

}  // namespace
}  // namespace kv
