#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/skydome/program_sky.h"
#include "sky/analytic_sky.h"

namespace kv {
namespace {

constexpr double kPi = 3.14159265358979323846;

class Sky : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SkyColorInit());
        // The state starts at sun (0, 0); start-up moves it by (50, 20).
        SkyGetState()->sunTheta = 0.0f;
        SkyGetState()->sunPhi = 0.0f;
        SkyMoveSun(50.0f, 20.0f);
    }
    void TearDown() override { SkySetSunMovedHook(nullptr, nullptr); }
    static RGBAReal ColourOf(V3d v) {
        double theta;
        double phi;
        SkyDirectionAngles(&v, &theta, &phi);
        const SkyState* s = SkyGetState();
        return SkyColor(s->sunTheta * kSkyDegToRad, s->sunPhi * kSkyDegToRad, theta, phi);
    }
};

void ExpectBytes(const RGBA& c, int r, int g, int b, int a) {
    EXPECT_EQ(c.red, r);
    EXPECT_EQ(c.green, g);
    EXPECT_EQ(c.blue, b);
    EXPECT_EQ(c.alpha, a);
}

TEST_F(Sky, ConversionMatrixMapsTheWhitePointToOne) {
    const double expected[3][3] = {
        {3.453411, -1.529866, -0.533211}, {-1.064214, 1.951980, 0.041724}, {0.046088, -0.166952, 0.798828}};
    const double(*m)[3] = SkyGetConversionMatrix();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(m[r][c], expected[r][c], 5e-7) << r << "," << c;
    }
    const RGBAReal white = SkyXYZToRGB(0.283 / 0.298, 1.0, 0.419 / 0.298);
    EXPECT_NEAR(white.red, 1.0f, 1e-6f);
    EXPECT_NEAR(white.green, 1.0f, 1e-6f);
    EXPECT_NEAR(white.blue, 1.0f, 1e-6f);
    EXPECT_EQ(white.alpha, 0.0f);
}

TEST(Matrix3, InvertsAndRefusesSingular) {
    const double a[3][3] = {{2, 1, 0}, {0, 3, 1}, {1, 0, 4}};
    double inv[3][3];
    ASSERT_TRUE(Matrix3Invert(a, inv));
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += a[r][k] * inv[k][c];
            EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, 1e-15);
        }
    }
    const double singular[3][3] = {{1, 2, 3}, {2, 4, 6}, {0, 1, 1}};
    double untouched[3][3] = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}};
    EXPECT_FALSE(Matrix3Invert(singular, untouched));
    EXPECT_EQ(untouched[1][2], 7.0);
}

TEST_F(Sky, StartUpStateAndZenithValues) {
    const SkyState* s = SkyGetState();
    EXPECT_EQ(s->sunTheta, 50.0f);
    EXPECT_EQ(s->sunPhi, 20.0f);
    EXPECT_EQ(s->turbidity, 2.0f);
    EXPECT_NEAR(s->zenith[SkyChannelX], 0.238787, 5e-7);
    EXPECT_NEAR(s->zenith[SkyChannelY], 0.241555, 5e-7);
    EXPECT_NEAR(s->zenith[SkyChannelLum], 4.110047, 5e-7);
    // Coefficients are linear in T: check one of each channel at T = 2.
    EXPECT_DOUBLE_EQ(s->perez[SkyChannelX][0], -0.0193 * 2 - 0.2592);
    EXPECT_DOUBLE_EQ(s->perez[SkyChannelY][3], -0.0441 * 2 - 1.6537);
    EXPECT_DOUBLE_EQ(s->perez[SkyChannelLum][2], 5.3251 - 0.0227 * 2);
    const double t = 50 * kSkyDegToRad;
    EXPECT_DOUBLE_EQ(s->normaliser[SkyChannelLum], SkyPerez(0.0, t, SkyChannelLum));
    const double p = 20 * kSkyDegToRad;
    EXPECT_FLOAT_EQ(s->sunDirection.x, static_cast<float>(std::sin(t) * std::sin(p)));
    EXPECT_FLOAT_EQ(s->sunDirection.y, static_cast<float>(std::cos(t)));
    EXPECT_FLOAT_EQ(s->sunDirection.z, static_cast<float>(std::sin(t) * std::cos(p)));
}

TEST_F(Sky, WorkedExamplesAtZenithAndHorizon) {
    const RGBAReal zenith = ColourOf(V3d{0.0f, 1.0f, 0.0f});
    EXPECT_NEAR(zenith.red, 3.0286, 5e-5);
    EXPECT_NEAR(zenith.green, 4.0678, 5e-5);
    EXPECT_NEAR(zenith.blue, 6.5643, 5e-5);
    ExpectBytes(SkyToneMap(&zenith, 0.1f), 66, 85, 122, 255);

    const RGBAReal horizon = ColourOf(V3d{0.0f, 0.0f, 1.0f});
    EXPECT_NEAR(horizon.red, 38.192, 5e-4);
    EXPECT_NEAR(horizon.green, 25.411, 5e-4);
    EXPECT_NEAR(horizon.blue, 20.430, 5e-4);
    ExpectBytes(SkyToneMap(&horizon, 0.1f), 249, 234, 221, 255);
    // On the horizon the first Perez factor is exactly 1, so the luminance
    // is the second factor alone, scaled.
    const SkyState* s = SkyGetState();
    const double gamma = std::acos(std::cos(-20 * kSkyDegToRad) * std::sin(50 * kSkyDegToRad));
    const double Y = SkyPerez(kPi / 2, gamma, SkyChannelLum) * s->zenith[2] / s->normaliser[2];
    EXPECT_NEAR(Y, 27.5745, 5e-5);
}

TEST_F(Sky, SunOverheadGivesTheZenithValuesAtTheZenith) {
    SkySetSun(0.0f, 0.0f, kSkyTurbidity);
    const SkyState* s = SkyGetState();
    const double x = s->zenith[0];
    const double y = s->zenith[1];
    const double Y = s->zenith[2];
    const RGBAReal expected = SkyXYZToRGB(x * Y / y, Y, (1 - x - y) * Y / y);
    const RGBAReal c = SkyColor(0.0, 0.0, 0.0, kPi / 2);
    EXPECT_NEAR(c.red, expected.red, 1e-5);
    EXPECT_NEAR(c.green, expected.green, 1e-5);
    EXPECT_NEAR(c.blue, expected.blue, 1e-5);
}

TEST_F(Sky, DirectionNextToTheSunStaysFiniteAndClose) {
    // The sun's own direction, where rounding can carry cos(gamma) past 1.
    for (float t = 0.0f; t <= 85.0f; t += 5.0f) {
        for (float p = 0.0f; p < 360.0f; p += 15.0f) {
            SkySetSun(t, p, kSkyTurbidity);
            const V3d sun = SkyGetState()->sunDirection;
            double theta;
            double phi;
            SkyDirectionAngles(&sun, &theta, &phi);
            const RGBAReal at = SkyColor(t * kSkyDegToRad, p * kSkyDegToRad, theta, phi);
            const RGBAReal near = SkyColor(t * kSkyDegToRad, p * kSkyDegToRad, theta + 1e-4, phi);
            ASSERT_TRUE(std::isfinite(at.red) && std::isfinite(at.green) && std::isfinite(at.blue)) << t << " " << p;
            EXPECT_NEAR(at.green, near.green, 0.02 * std::fabs(near.green) + 1e-3) << t << " " << p;
        }
    }
}

TEST(SkyAngles, ZenithHorizonAndTheNegativeXSide) {
    double theta;
    double phi;
    const V3d up{0.0f, 1.0f, 0.0f};
    SkyDirectionAngles(&up, &theta, &phi);
    EXPECT_EQ(theta, 0.0);
    EXPECT_DOUBLE_EQ(phi, kPi / 2);
    const V3d front{0.0f, 0.0f, 1.0f};
    SkyDirectionAngles(&front, &theta, &phi);
    EXPECT_DOUBLE_EQ(theta, kPi / 2);
    EXPECT_EQ(phi, 0.0);
    const V3d right{1.0f, 0.0f, 0.0f};
    SkyDirectionAngles(&right, &theta, &phi);
    EXPECT_DOUBLE_EQ(phi, kPi / 2);
    const V3d left{-1.0f, 0.0f, 0.0f};
    SkyDirectionAngles(&left, &theta, &phi);
    EXPECT_DOUBLE_EQ(phi, 6.2831854820251465 - kPi / 2);
    const V3d back{0.0f, 0.0f, -1.0f};  // x = 0 keeps arccos(d)
    SkyDirectionAngles(&back, &theta, &phi);
    EXPECT_DOUBLE_EQ(phi, kPi);
    // Not normalised, and the vertical part clamped.
    const V3d tall{0.0f, 3.0f, 0.0f};
    SkyDirectionAngles(&tall, &theta, &phi);
    EXPECT_EQ(theta, 0.0);
    const V3d slant{-0.6f, 0.0f, 0.8f};
    SkyDirectionAngles(&slant, &theta, &phi);
    EXPECT_NEAR(phi, 6.2831854820251465 - std::acos(0.8), 1e-7);
}

TEST(SkyPerezFn, NonFiniteIsZero) {
    SkySetSun(30.0f, 0.0f, kSkyTurbidity);
    SkyState saved = *SkyGetState();
    SkyGetState()->perez[0][1] = 1.0;  // a growing exponential towards the horizon
    EXPECT_EQ(SkyPerez(kPi / 2, 0.5, 0), 0.0);
    EXPECT_GT(SkyPerez(0.3, 0.5, 0), 0.0);
    *SkyGetState() = saved;
}

TEST_F(Sky, MoveSunClampsWrapsAndRecolours) {
    static int calls;
    static float hookTheta;
    static float hookPhi;
    calls = 0;
    SkySetSunMovedHook(
        [](float t, float p, void* data) {
            ++calls;
            hookTheta = t;
            hookPhi = p;
            EXPECT_EQ(data, nullptr);
            // The model is already recomputed when the dome is told.
            EXPECT_EQ(SkyGetState()->sunTheta, t);
        },
        nullptr);
    SkyMoveSun(40.0f, 330.0f);  // 90 -> 85, 350
    EXPECT_EQ(SkyGetState()->sunTheta, 85.0f);
    EXPECT_EQ(SkyGetState()->sunPhi, 350.0f);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hookTheta, 85.0f);
    EXPECT_EQ(hookPhi, 350.0f);
    SkyMoveSun(0.0f, 20.0f);
    EXPECT_EQ(SkyGetState()->sunPhi, 10.0f);
    SkyMoveSun(-100.0f, -20.0f);
    EXPECT_EQ(SkyGetState()->sunTheta, 0.0f);
    EXPECT_EQ(SkyGetState()->sunPhi, 350.0f);
    SkyMoveSun(0.0f, 10.0f);  // exactly 360 wraps to 0
    EXPECT_EQ(SkyGetState()->sunPhi, 0.0f);
    EXPECT_EQ(SkyGetState()->turbidity, 2.0f);
    EXPECT_FLOAT_EQ(SkyGetState()->sunDirection.y, 1.0f);
    EXPECT_EQ(calls, 4);
}

TEST_F(Sky, TurbidityIsKeptInItsRangeAndUsedByEverySunMove) {
    EXPECT_EQ(SkyGetTurbidity(), kSkyTurbidity);
    const RGBAReal clear = ColourOf(V3d{0.0f, 0.0f, 1.0f});
    for (float bad : {1.69f, 10.01f, -1.0f, NAN, INFINITY}) {
        EXPECT_FALSE(SkySetTurbidity(bad)) << bad;
        EXPECT_EQ(SkyGetTurbidity(), kSkyTurbidity);
    }
    ASSERT_TRUE(SkySetTurbidity(10.0f));
    SkyMoveSun(0.0f, 0.0f);
    EXPECT_EQ(SkyGetState()->turbidity, 10.0f);
    // The zenith luminance grows with the haze: (4.0453 T - 4.9710) tan chi - 0.2155 T + 2.4192.
    EXPECT_NEAR(SkyGetState()->zenith[SkyChannelLum], 19.85, 0.02);
    const RGBAReal hazy = ColourOf(V3d{0.0f, 0.0f, 1.0f});
    EXPECT_NE(std::memcmp(&hazy, &clear, sizeof clear), 0);
    ASSERT_TRUE(SkySetTurbidity(1.7f));
    SkyMoveSun(0.0f, 0.0f);
    EXPECT_EQ(SkyGetState()->turbidity, 1.7f);
    // Back at the default the model is the one it always was, bit for bit.
    ASSERT_TRUE(SkySetTurbidity(kSkyTurbidity));
    SkyMoveSun(0.0f, 0.0f);
    const RGBAReal again = ColourOf(V3d{0.0f, 0.0f, 1.0f});
    EXPECT_EQ(std::memcmp(&again, &clear, sizeof clear), 0);
}

TEST(SkyTone, CurveAndBlack) {
    RGBAReal c{10.0f, 0.0f, 1e6f, 0.0f};
    ExpectBytes(SkyToneMap(&c, 0.1f), 161, 0, 255, 255);
    c = RGBAReal{10.0f, -1e-6f, 3.0f, 0.0f};
    ExpectBytes(SkyToneMap(&c, 0.1f), 0, 0, 0, 255);
    c = RGBAReal{NAN, 1.0f, 1.0f, 0.0f};
    ExpectBytes(SkyToneMap(&c, 0.1f), 0, 0, 0, 255);
    c = RGBAReal{-0.0f, INFINITY, 1.0f, 0.0f};
    ExpectBytes(SkyToneMap(&c, 1.0f), 0, 255, 161, 255);
    // Monotonic and never wrapping.
    int last = 0;
    for (float v = 0.0f; v < 500.0f; v += 0.25f) {
        c = RGBAReal{v, v, v, 0.0f};
        const int b = SkyToneMap(&c, 0.1f).red;
        EXPECT_GE(b, last);
        last = b;
    }
    EXPECT_EQ(last, 255);
}

}  // namespace
}  // namespace kv
