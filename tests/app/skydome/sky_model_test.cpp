// The sky model in use: the dome takes its colours from it, the sun's range
// follows it, and the analytic model's sun, ground and primaries are the
// physical model's where both describe the same thing.
#include "sky/sky_model.h"

#include <cmath>
#include <tuple>
#include <vector>

#include "app/skydome/program_sky.h"
#include "dome_fixture.h"
#include "sky/atmosphere.h"
#include "sky/colour_matching.h"

namespace kv::test {
namespace {

class SkyModelTest : public DomeTest {
  protected:
    const std::vector<RGBA> Prelit() const {
        const Geometry* g = DomeGeometry();
        const RGBA* p = GeometryGetPrelitColors(g);
        return std::vector<RGBA>(p, p + GeometryGetNumVertices(g));
    }
    static bool Same(const std::vector<RGBA>& a, const std::vector<RGBA>& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i].red != b[i].red || a[i].green != b[i].green || a[i].blue != b[i].blue) return false;
        }
        return true;
    }
    // The physical model's own colours of the dome's vertices, tone-mapped.
    static std::vector<RGBA> PhysicalColours(const Geometry* g, float zenith, float azimuth, float exposure) {
        Atmosphere* a = AtmosphereCreate();
        EXPECT_TRUE(AtmosphereSetup(a, SkyGetTurbidity(), SkyModelAlbedo(), SkyModelAltitude()));
        AtmosphereSetSun(a, zenith, azimuth);
        const int32 n = GeometryGetNumVertices(g);
        std::vector<RGBAReal> linear(static_cast<std::size_t>(n));
        AtmosphereColors(a, MorphTargetGetVertices(GeometryGetMorphTarget(g, 0)), n, linear.data(), AtmosphereSkyOnly);
        AtmosphereDestroy(a);
        std::vector<RGBA> out;
        for (const RGBAReal& c : linear) out.push_back(SkyToneMap(&c, exposure));
        return out;
    }
};

TEST_F(SkyModelTest, TheSunsRangeFollowsTheModelAndTheDomeTheModelsColours) {
    ASSERT_NE(MakeDome(4, 80.0f, 10.0f), nullptr);
    const float exposure = DomeGetSettings()->exposure;
    SkyMoveSun(20.0f, 0.0f);
    EXPECT_EQ(SkyGetState()->sunTheta, 85.0f);
    EXPECT_TRUE(Same(Prelit(), ExpectedColours(DomeGeometry(), 85.0f, 10.0f, exposure)));

    // Twilight: the physical sky takes the sun below the horizon.
    ASSERT_TRUE(SkyModelSelect(SkyModelPhysical));
    EXPECT_EQ(SkyModelInUse(), SkyModelPhysical);
    SkyMoveSun(10.0f, 0.0f);
    EXPECT_EQ(SkyGetState()->sunTheta, 95.0f);
    EXPECT_TRUE(Same(Prelit(), PhysicalColours(DomeGeometry(), 95.0f, 10.0f, exposure)));
    // Five degrees below the horizon the zenith is dim but not black, and
    // blue: ozone's absorption.
    const RGBAReal zenith = DomeGetColors()[GeometryGetNumVertices(DomeGeometry()) - 1];
    EXPECT_GT(zenith.blue, zenith.red);
    EXPECT_GT(zenith.green, 0.0f);
    // Down into the night, and no further than straight below.
    SkyMoveSun(30.0f, 0.0f);
    EXPECT_EQ(SkyGetState()->sunTheta, 125.0f);
    SkyMoveSun(60.0f, 0.0f);
    EXPECT_EQ(SkyGetState()->sunTheta, 180.0f);
    SkyMoveSun(-55.0f, 0.0f);
    EXPECT_EQ(SkyGetState()->sunTheta, 125.0f);

    // Back to the default sky: the sun returns to its range, the dome to its colours.
    ASSERT_TRUE(SkyModelSelect(SkyModelPreetham));
    EXPECT_EQ(SkyGetState()->sunTheta, 85.0f);
    EXPECT_TRUE(Same(Prelit(), ExpectedColours(DomeGeometry(), 85.0f, 10.0f, exposure)));

    // A new dome and a new exposure show the model in use.
    ASSERT_TRUE(SkyModelSelect(SkyModelPhysical));
    DomeGetSettings()->resolution = 6;
    ASSERT_TRUE(DomeTessellate());
    DomeGetSettings()->exposure = 0.5f;
    DomeApplyColors(DomeGetAtomic(), true);
    EXPECT_TRUE(Same(Prelit(), PhysicalColours(DomeGeometry(), 85.0f, 10.0f, 0.5f)));
}

TEST_F(SkyModelTest, OutOfRangeValuesAreRefusedAndChangeNothing) {
    ASSERT_TRUE(SkyModelConfigure(SkyModelPreetham, 3.0f, 0.5f, 0.0f));
    ErrorClear();
    for (const auto& [turbidity, albedo, altitude] :
         {std::tuple{1.6f, 0.3f, 0.0f}, std::tuple{2.0f, 1.1f, 0.0f}, std::tuple{2.0f, -0.1f, 0.0f},
          std::tuple{2.0f, 0.3f, 20001.0f}, std::tuple{NAN, 0.3f, 0.0f}}) {
        EXPECT_FALSE(SkyModelConfigure(SkyModelPhysical, turbidity, albedo, altitude));
        ErrorRecord e{};
        ASSERT_TRUE(ErrorGet(&e));
        EXPECT_EQ(e.errorCode, kErrOutOfRange);
        ErrorClear();
    }
    EXPECT_EQ(SkyModelInUse(), SkyModelPreetham);
    EXPECT_EQ(SkyGetTurbidity(), 3.0f);
    EXPECT_EQ(SkyModelAlbedo(), 0.5f);
    EXPECT_EQ(SkyGetMaxSunZenith(), 85.0f);
    EXPECT_TRUE(SkyModelConfigure(SkyModelPhysical, 2.0f, 0.3f, 10000.0f));
    EXPECT_EQ(SkyGetMaxSunZenith(), 180.0f);
    // The window changes one value at a time: the aerosols chosen stay.
    ASSERT_TRUE(
        SkyModelConfigure(SkyModelPhysical, 2.0f, 0.3f, 10000.0f, AtmosphereAerosols{AtmosphereAerosolMaritime, 0.2f}));
    ASSERT_TRUE(SkyModelConfigure(SkyModelPhysical, 3.0f, 0.3f, 10000.0f));
    EXPECT_EQ(SkyModelAerosols().kind, AtmosphereAerosolMaritime);
    EXPECT_EQ(SkyModelAerosols().depth550, 0.2f);
    // Ten kilometres up the horizon dips: the ground starts 3.2 degrees lower.
    EXPECT_NEAR(SkyModelHorizon() * 180.0 / 3.14159265358979, 93.21, 0.01);
    SkyModelRelease();
    EXPECT_EQ(SkyModelInUse(), SkyModelPreetham);
    EXPECT_EQ(SkyGetMaxSunZenith(), 85.0f);
}

// The analytic model has no sun of its own: it gets the physical model's,
// through an atmosphere at its turbidity, in its own primaries. Its aerosols
// are the ones that sun always had (exponent 1.3, a 1.2 km profile), the
// physical sky's those of its climatology: the same sun within 3%.
TEST_F(SkyModelTest, TheAnalyticSkysSunAndGroundAreThePhysicalOnesLight) {
    ASSERT_NE(MakeDome(2, 60.0f, 200.0f), nullptr);
    for (float turbidity : {2.0f, 7.0f}) {
        SCOPED_TRACE(turbidity);
        ASSERT_TRUE(SkyModelConfigure(SkyModelPreetham, turbidity, 0.3f, 0.0f));
        const SkyLight analytic = *SkyModelLight();
        RGBAReal analyticSun = analytic.sun;
        SkyModelToRec709(&analyticSun, 1);
        // The ground sends back albedo times what falls on it, over pi.
        EXPECT_NEAR(SkyModelLuminance(analytic.ground) * 1e3, 0.3 * analytic.horizontal / 3.14159265358979,
                    1e-6 * analytic.horizontal);
        EXPECT_NEAR(analytic.horizontal, analytic.fromSky + analytic.sunIlluminance * 0.5, 1e-6 * analytic.horizontal);
        ASSERT_TRUE(SkyModelConfigure(SkyModelPhysical, turbidity, 0.3f, 0.0f));
        SkyModelPrepare();
        const SkyLight physical = *SkyModelLight();
        EXPECT_NEAR(analyticSun.red, physical.sun.red, 0.03 * physical.sun.red);
        EXPECT_NEAR(analyticSun.green, physical.sun.green, 0.03 * physical.sun.green);
        EXPECT_NEAR(analyticSun.blue, physical.sun.blue, 0.03 * physical.sun.blue);
        EXPECT_NEAR(analytic.sunIlluminance, physical.sunIlluminance, 0.03 * physical.sunIlluminance);
        EXPECT_NEAR(analytic.sunColour.green, physical.sunColour.green, 0.01);

        // A clear sun 30 degrees high gives tens of thousands of lux, a hazy one less.
        EXPECT_GT(analytic.sunIlluminance, turbidity < 3.0f ? 80e3 : 30e3);
        EXPECT_LT(analytic.sunIlluminance, 120e3);
        // Each sky lights the ground with the ten to thirty thousand lux of a
        // clear sky with the sun 30 degrees high.
        for (double sky : {analytic.fromSky, physical.fromSky}) {
            EXPECT_GT(sky, 8e3);
            EXPECT_LT(sky, 35e3);
        }
        ASSERT_TRUE(SkyModelConfigure(SkyModelPreetham, turbidity, 0.3f, 0.0f));
    }
}

// The analytic model's own primaries turned into Rec. 709 keep each
// colour's light (luminance) and its chromaticity.
TEST_F(SkyModelTest, ColoursReachRec709WithTheirLuminanceAndChromaticity) {
    ASSERT_NE(MakeDome(2, 40.0f, 0.0f), nullptr);
    const std::vector<RGBAReal> analytic = {
        {1.0f, 1.0f, 1.0f, 0.0f}, {5.2f, 6.1f, 9.7f, 0.0f}, {0.3f, 0.2f, 0.1f, 0.0f}};
    for (RGBAReal c : analytic) {
        const double y = SkyModelLuminance(c);
        const double m[3] = {c.red, c.green, c.blue};
        const double(*toRgb)[3] = SkyGetConversionMatrix();
        double inverse[3][3];
        ASSERT_TRUE(Matrix3Invert(toRgb, inverse));
        double xyz[3];
        for (int r = 0; r < 3; ++r) xyz[r] = inverse[r][0] * m[0] + inverse[r][1] * m[1] + inverse[r][2] * m[2];
        SkyModelToRec709(&c, 1);
        const double rgb[3] = {c.red, c.green, c.blue};
        double back[3];
        Rec709ToXYZ(rgb, back);
        EXPECT_NEAR(back[1], y, 1e-4 * y);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(back[k], xyz[k], 1e-3 * y);
    }
    // The physical model's colours are Rec. 709 already.
    ASSERT_TRUE(SkyModelConfigure(SkyModelPhysical, 2.0f, 0.3f, 0.0f));
    RGBAReal c{0.4f, 0.5f, 0.6f, 0.0f};
    SkyModelToRec709(&c, 1);
    EXPECT_TRUE(c.red == 0.4f && c.green == 0.5f && c.blue == 0.6f);
    EXPECT_NEAR(SkyModelLuminance(c), 0.2126 * 0.4 + 0.7152 * 0.5 + 0.0722 * 0.6, 1e-6);
}

}  // namespace
}  // namespace kv::test
