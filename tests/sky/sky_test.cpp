// A sky as a value: two skies side by side, each evaluated on any number of
// threads, give what each gives alone.
#include "sky/sky.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace kv {
namespace {

std::vector<V3d> Directions(int n) {
    std::mt19937 rng(7);
    std::normal_distribution<float> g;
    std::vector<V3d> d;
    for (int i = 0; i < n; ++i) {
        V3d v{g(rng), g(rng), g(rng)};
        const float s = 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        d.push_back(V3d{v.x * s, v.y * s, v.z * s});
    }
    return d;
}

std::vector<RGBAReal> Radiance(Sky* sky, const std::vector<V3d>& d, int32 threads) {
    std::vector<RGBAReal> out(d.size());
    EXPECT_TRUE(SkyRadiance(sky, d.data(), static_cast<std::int64_t>(d.size()), out.data(), threads));
    return out;
}

bool Same(const std::vector<RGBAReal>& a, const std::vector<RGBAReal>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(RGBAReal)) == 0;
}

TEST(SkyValue, TwoSkiesSideBySideOnAnyNumberOfThreads) {
    const std::vector<V3d> d = Directions(20000);
    Sky* analytic = SkyCreate(SkyParameters{SkyModelPreetham, 3.0f, 0.2f, 0.0f});
    ASSERT_NE(analytic, nullptr);
    ASSERT_TRUE(SkySetSunAngles(analytic, 40.0f, 100.0f));
    const std::vector<RGBAReal> alone = Radiance(analytic, d, 1);

    // A second sky of the other model, its sun elsewhere, made and used in
    // between: the first one's light does not change.
    Sky* physical = SkyCreate(SkyParameters{SkyModelPhysical, 2.0f, 0.3f, 0.0f});
    ASSERT_NE(physical, nullptr);
    ASSERT_TRUE(SkySetSunAngles(physical, 80.0f, 250.0f));
    const std::vector<RGBAReal> physicalAlone = Radiance(physical, d, 1);
    EXPECT_TRUE(Same(Radiance(analytic, d, 1), alone));
    EXPECT_TRUE(Same(Radiance(analytic, d, 3), alone));
    EXPECT_TRUE(Same(Radiance(physical, d, 0), physicalAlone));
    EXPECT_FALSE(Same(alone, physicalAlone));

    // Below the horizon the ground is one colour, lit more by the higher sun.
    std::size_t firstGround = d.size();
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (d[i].y >= -0.01f) continue;
        if (firstGround == d.size()) firstGround = i;
        EXPECT_EQ(std::memcmp(&alone[i], &alone[firstGround], sizeof(RGBAReal)), 0) << i;
    }
    ASSERT_LT(firstGround, d.size());
    EXPECT_GT(alone[firstGround].green, physicalAlone[firstGround].green);
    double fromSky = 0.0;
    EXPECT_GT(SkyHorizontalIlluminance(analytic, &fromSky), SkyHorizontalIlluminance(physical, nullptr));
    EXPECT_GT(fromSky, 0.0);
    EXPECT_GT(SkySunIlluminance(analytic), SkySunIlluminance(physical));
    EXPECT_GT(SkySunRadiance(analytic).green, SkySunRadiance(physical).green);
    const SkyParameters p = SkyGetParameters(physical);
    EXPECT_EQ(p.model, SkyModelPhysical);
    EXPECT_EQ(p.turbidity, 2.0f);
    EXPECT_EQ(SkyGetParameters(analytic).albedo, 0.2f);
    EXPECT_NEAR(SkySunDirection(physical).y, std::cos(80.0 * std::numbers::pi / 180.0), 1e-6);
    SkyDestroy(physical);
    SkyDestroy(analytic);
}

TEST(SkyValue, RefusesWhatItsModelCannotHold) {
    EXPECT_EQ(SkyCreate(SkyParameters{SkyModelPreetham, 1.0f, 0.3f, 0.0f}), nullptr);
    EXPECT_EQ(SkyCreate(SkyParameters{SkyModelPreetham, 2.0f, 1.5f, 0.0f}), nullptr);
    Sky* sky = SkyCreate(SkyParameters{});
    ASSERT_NE(sky, nullptr);
    // 90 degrees from overhead is past what the analytic model holds; the sun stays.
    ASSERT_TRUE(SkySetSunAngles(sky, 30.0f, 10.0f));
    EXPECT_FALSE(SkySetSunAngles(sky, 90.0f, 10.0f));
    EXPECT_FALSE(SkySetSunAngles(sky, 30.0f, 360.0f));
    float zenith = 0.0f;
    float azimuth = 0.0f;
    SkyGetSunAngles(sky, &zenith, &azimuth);
    EXPECT_EQ(zenith, 30.0f);
    EXPECT_EQ(azimuth, 10.0f);
    // Midnight in Munich at midsummer: far below what the sky holds, in words.
    SolarTime night{};
    std::string why;
    ASSERT_TRUE(SolarParseTime("2026-06-21T00:00+02:00", &night, &why));
    EXPECT_FALSE(SkySetSunAt(sky, 48.0, 11.0, night, nullptr, &why));
    EXPECT_NE(why.find("below the horizon"), std::string::npos) << why;
    SkyGetSunAngles(sky, &zenith, &azimuth);
    EXPECT_EQ(zenith, 30.0f);
    SkyDestroy(sky);
}

// The night's light of the physical sky: a site's zenith brightness reaches
// the radiance and the ground's light (and is refused out of range), and
// the analytic sky, which has no night, is left exactly as it was.
TEST(SkyValue, ASitesNightBrightnessReachesItsLightAndOnlyThePhysicalSky) {
    SkyParameters p;
    p.skyBrightness = 13.0;
    EXPECT_EQ(SkyCreate(p), nullptr);
    p.skyBrightness = 23.0;
    EXPECT_EQ(SkyCreate(p), nullptr);

    const V3d zenith[1] = {V3d{0.0f, 1.0f, 0.0f}};
    auto atZenith = [&](Sky* sky) {
        std::vector<RGBAReal> out(1);
        EXPECT_TRUE(SkyRadiance(sky, zenith, 1, out.data(), 1));
        return 1e3 * (0.2126 * out[0].red + 0.7152 * out[0].green + 0.0722 * out[0].blue);
    };
    p.model = SkyModelPhysical;
    p.skyBrightness = 0.0;
    Sky* dark = SkyCreate(p);
    p.skyBrightness = 18.0;
    Sky* town = SkyCreate(p);
    ASSERT_NE(dark, nullptr);
    ASSERT_NE(town, nullptr);
    EXPECT_EQ(SkyGetParameters(town).skyBrightness, 18.0);
    for (Sky* sky : {dark, town}) ASSERT_TRUE(SkySetSunAngles(sky, 100.0f, 0.0f));
    // 18 mag/arcsec^2 is 1.0637e5 * 10^-7.2 cd/m^2; the dark sky's own light
    // is part of it.
    const double wanted = 1.0637e5 * std::pow(10.0, -0.4 * 18.0);
    const double added = atZenith(town) - atZenith(dark);
    EXPECT_NEAR(added, wanted - 1.0637e5 * std::pow(10.0, -0.4 * 21.9), 0.03 * wanted);
    EXPECT_GT(SkyHorizontalIlluminance(town, nullptr), SkyHorizontalIlluminance(dark, nullptr) + 2.0 * wanted);
    SkyDestroy(dark);
    SkyDestroy(town);

    p.model = SkyModelPreetham;
    Sky* plain = SkyCreate(SkyParameters{});
    Sky* bright = SkyCreate(p);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(bright, nullptr);
    const std::vector<V3d> d = Directions(500);
    EXPECT_TRUE(Same(Radiance(plain, d, 1), Radiance(bright, d, 1)));
    SkyDestroy(plain);
    SkyDestroy(bright);
}

}  // namespace
}  // namespace kv
