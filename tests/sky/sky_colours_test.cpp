#include "sky/sky_colours.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace kv {
namespace {

// Byte-for-byte comparison of colour arrays, reporting the first difference.
template <typename T>
::testing::AssertionResult SameBytes(const std::vector<T>& a, const std::vector<T>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) return ::testing::AssertionFailure() << "entry " << i;
    }
    return ::testing::AssertionSuccess();
}

// Runs every case with the four-wide kernels and with the scalar path.
class SkyColours : public ::testing::TestWithParam<bool> {
  protected:
    SkyState sky{};
    void SetUp() override {
        ASSERT_TRUE(SkyColorInit());
        SkyColorsSetVectorUnits(GetParam());
        SkyColorCacheInit(&cache);
    }
    void TearDown() override {
        SkyColorCacheRelease(&cache);
        SkyColorsSetVectorUnits(true);
    }
    void Use(const std::vector<V3d>& d) {
        directions = d;
        ASSERT_TRUE(SkyColorCacheSetDirections(&cache, directions.data(), static_cast<int32>(directions.size())));
        fast.assign(d.size(), RGBAReal{});
        plain.assign(d.size(), RGBAReal{});
    }
    // Sets the sun, evaluates both ways and compares the colours and the
    // bytes at a few exposures.
    ::testing::AssertionResult Compare(float thetaDeg, float phiDeg, float turbidity = kSkyTurbidity) {
        SkyStateSetSun(&sky, thetaDeg, phiDeg, turbidity);
        const double t = thetaDeg * kSkyDegToRad;
        const double p = phiDeg * kSkyDegToRad;
        const auto n = static_cast<int32>(directions.size());
        SkyComputeColorsPlain(sky, directions.data(), n, t, p, plain.data());
        SkyColorCacheCompute(&cache, sky, t, p, fast.data());
        if (auto r = SameBytes(fast, plain); !r) return r << " colour, sun " << thetaDeg << " " << phiDeg;
        std::vector<RGBA> a(n);
        std::vector<RGBA> b(n);
        for (float k : {0.01f, 0.1f, 0.37f, 1.0f}) {
            SkyToneMapColorsPlain(plain.data(), a.data(), n, k);
            SkyToneMapColors(fast.data(), b.data(), n, k);
            if (auto r = SameBytes(a, b); !r) return r << " bytes, sun " << thetaDeg << " " << phiDeg << " k " << k;
        }
        return ::testing::AssertionSuccess();
    }
    static std::vector<V3d> Dome(int32 rings) {
        std::vector<V3d> d(4 * rings * rings + 1);
        SkyHemisphereDirections(rings, d.data());
        return d;
    }
    SkyColorCache cache{};
    std::vector<V3d> directions;
    std::vector<RGBAReal> fast;
    std::vector<RGBAReal> plain;
};

TEST_P(SkyColours, FinestDomeOverASweepOfSuns) {
    Use(Dome(32));
    int32 plainTotal = 0;
    int32 runs = 0;
    for (int t = 0; t <= 85; ++t) {
        for (int p = (t * 7) % 29; p < 360; p += 29) {
            ASSERT_TRUE(Compare(static_cast<float>(t), static_cast<float>(p)));
            plainTotal += cache.plainCount;
            ++runs;
        }
    }
    // The exactness must not come from evaluating everything plainly.
    EXPECT_LT(plainTotal, runs * static_cast<int32>(directions.size()) / 100);
}

TEST_P(SkyColours, FinestDomeOverATurbiditySweep) {
    Use(Dome(32));
    int32 plainTotal = 0;
    int32 runs = 0;
    for (float turbidity : {kSkyMinTurbidity, 2.3f, 3.0f, 4.1f, 5.5f, 7.0f, 8.6f, kSkyMaxTurbidity}) {
        for (int t = 0; t <= 85; t += 17) {
            for (int p = t % 31; p < 360; p += 151) {
                ASSERT_TRUE(Compare(static_cast<float>(t), static_cast<float>(p), turbidity)) << turbidity;
                plainTotal += cache.plainCount;
                ++runs;
            }
        }
        // The ends of the range and a sun on the horizon's limit.
        ASSERT_TRUE(Compare(85.0f, 359.0f, kSkyMaxTurbidity));
        ASSERT_TRUE(Compare(85.0f, 0.5f, kSkyMinTurbidity));
    }
    EXPECT_LT(plainTotal, runs * static_cast<int32>(directions.size()) / 100);
}

TEST_P(SkyColours, ArbitraryDirectionsAndSunsIncludingTheSunItself) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<V3d> d;
    for (int i = 0; i < 2000; ++i) {
        V3d v{u(rng), u(rng), u(rng)};  // not normalised, some below the horizon
        if (i % 3 == 0) {
            const float s = 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
            v = V3d{v.x * s, std::fabs(v.y * s), v.z * s};
        }
        d.push_back(v);
    }
    d.push_back(V3d{0.0f, 1.0f, 0.0f});
    d.push_back(V3d{0.0f, 0.0f, 0.0f});
    const std::size_t sunSlot = d.size();
    d.push_back(V3d{});
    for (int run = 0; run < 60; ++run) {
        const float t = std::fabs(u(rng)) * 85.0f;
        const float p = (u(rng) + 1.0f) * 180.0f;
        SkyStateSetSun(&sky, t, p, kSkyTurbidity);
        d[sunSlot] = sky.sunDirection;
        Use(d);
        ASSERT_TRUE(Compare(t, p));
    }
}

TEST_P(SkyColours, SmallDomesAndOtherTurbidities) {
    for (int32 rings : {1, 2, 9, 17}) {
        Use(Dome(rings));
        for (float t : {0.0f, 12.5f, 50.0f, 85.0f}) {
            for (float p : {0.0f, 90.0f, 200.0f}) {
                ASSERT_TRUE(Compare(t, p)) << rings;
                ASSERT_TRUE(Compare(t, p, 6.0f)) << rings;
                // Turbidity 0 makes the chromaticity exponentials grow towards
                // the horizon: those directions go through the plain path's
                // zeroing of non-finite values.
                ASSERT_TRUE(Compare(t, p, 0.0f)) << rings;
            }
        }
    }
}

TEST_P(SkyColours, PanoramaRowsAtOneZenithAngleEach) {
    // Azimuths of a 1002-wide row (not a multiple of the vector width), a
    // few rows from the zenith to the horizon, suns and turbidities.
    constexpr int32 kWidth = 1002;
    std::vector<double> phi(kWidth);
    for (int32 i = 0; i < kWidth; ++i) phi[i] = (i + 0.5) * (360.0 / kWidth) * kSkyDegToRad;
    ASSERT_TRUE(SkyColorCacheSetAzimuths(&cache, phi.data(), kWidth));
    std::vector<RGBAReal> rowFast(kWidth);
    std::vector<RGBAReal> rowPlain(kWidth);
    std::vector<RGBA> a(kWidth);
    std::vector<RGBA> b(kWidth);
    int32 plainTotal = 0;
    int32 evaluated = 0;
    for (float turbidity : {kSkyMinTurbidity, kSkyTurbidity, 4.5f, kSkyMaxTurbidity}) {
        for (float sunTheta : {0.0f, 33.0f, 85.0f}) {
            const float sunPhi = 17.0f + sunTheta * 3.0f;
            SkyStateSetSun(&sky, sunTheta, sunPhi, turbidity);
            const double ts = sunTheta * kSkyDegToRad;
            const double ps = sunPhi * kSkyDegToRad;
            for (double zenithDegrees : {0.09, 20.0, 33.0, 60.0, 85.0, 89.91, 90.0}) {
                const double theta = zenithDegrees * kSkyDegToRad;
                SkyColorCacheSetZenith(&cache, theta);
                SkyColorCacheCompute(&cache, sky, ts, ps, rowFast.data());
                // 90 degrees in these units lies a hair below the horizon,
                // where the model's exponentials overflow: the plain path's.
                if (zenithDegrees < 90.0) {
                    plainTotal += cache.plainCount;
                    evaluated += kWidth;
                }
                for (int32 i = 0; i < kWidth; ++i) rowPlain[i] = SkyColor(sky, ts, ps, theta, phi[i]);
                ASSERT_TRUE(SameBytes(rowFast, rowPlain)) << turbidity << " " << sunTheta << " " << zenithDegrees;
                SkyToneMapColorsPlain(rowPlain.data(), a.data(), kWidth, 0.1f);
                SkyToneMapColors(rowFast.data(), b.data(), kWidth, 0.1f);
                ASSERT_TRUE(SameBytes(a, b));
            }
        }
    }
    // With the sun overhead a whole row shares one colour, so it is taken
    // plainly or not at all: the share allowed is a little higher.
    EXPECT_LT(plainTotal, evaluated / 50);
    // The cache goes back to directions of their own.
    Use(Dome(3));
    ASSERT_TRUE(Compare(30.0f, 40.0f));
}

TEST_P(SkyColours, CacheGrowsAndFollowsTheCoefficients) {
    Use(Dome(9));
    const int32 capacity = cache.capacity;
    Use(Dome(2));
    EXPECT_EQ(cache.capacity, capacity);
    EXPECT_EQ(cache.count, 17);
    ASSERT_TRUE(Compare(30.0f, 40.0f, 2.0f));
    ASSERT_TRUE(Compare(30.0f, 40.0f, 3.0f));  // new A, B: the zenith factors are remade
    Use(Dome(12));
    EXPECT_GT(cache.capacity, capacity);
    ASSERT_TRUE(Compare(30.0f, 40.0f));
}

TEST_P(SkyColours, ToneMapAtByteBoundaries) {
    // Channel values right at, below and above the points where the curve
    // crosses each byte, for several exposures.
    std::vector<RGBAReal> colours;
    for (float k : {0.01f, 0.1f, 0.55f, 1.0f}) {
        for (int b = 1; b < 256; ++b) {
            const float c = static_cast<float>(-std::log(1.0 - b / 255.0) / k);
            float v = c;
            for (int step = 0; step < 4; ++step) v = std::nextafter(v, 0.0f);
            for (int step = 0; step < 9; ++step) {
                colours.push_back(RGBAReal{v, c, 0.5f * v, 0.0f});
                v = std::nextafter(v, INFINITY);
            }
        }
    }
    colours.push_back(RGBAReal{0.0f, -0.0f, 1e30f, 0.0f});
    colours.push_back(RGBAReal{INFINITY, 1.0f, 1.0f, 0.0f});
    colours.push_back(RGBAReal{NAN, 1.0f, 1.0f, 0.0f});
    colours.push_back(RGBAReal{1.0f, -1e-30f, 1.0f, 0.0f});
    const auto n = static_cast<int32>(colours.size());
    std::vector<RGBA> a(n);
    std::vector<RGBA> b(n);
    for (float k : {0.01f, 0.1f, 0.55f, 1.0f, 0.73f}) {
        SkyToneMapColorsPlain(colours.data(), a.data(), n, k);
        SkyToneMapColors(colours.data(), b.data(), n, k);
        ASSERT_TRUE(SameBytes(a, b)) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, SkyColours, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("Vector") : std::string("Scalar");
                         });

TEST(SkyHemisphere, DomeOrderAndShape) {
    std::vector<V3d> d(4 * 9 * 9 + 1);
    SkyHemisphereDirections(9, d.data());
    EXPECT_EQ(d[0].y, 0.0f);  // ring 0 on the horizon
    EXPECT_EQ(d[0].z, 1.0f);
    EXPECT_NEAR(d[8 * 36].y, std::sin(80.0 * 3.14159265 / 180.0), 1e-6);  // top ring at 80 degrees
    EXPECT_EQ(d.back().y, 1.0f);
    for (const V3d& v : d) EXPECT_NEAR(v.x * v.x + v.y * v.y + v.z * v.z, 1.0f, 1e-6f);
}

}  // namespace
}  // namespace kv
