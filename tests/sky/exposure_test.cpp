// Photographic exposure: the meter and the curve from a moonless night to
// the sun's disc, and the eye's night vision.
#include "sky/exposure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kv {
namespace {

RGBAReal Grey(double kcd) {
    const auto v = static_cast<real>(kcd);
    return RGBAReal{v, v, v, 0.0f};
}

// A sky of one luminance, metered, comes out at mid-grey (0.18 through
// x / (1 + x), sRGB-encoded: byte 109) whatever its level, at the EV100 that
// ISO 2720's K = 12.5 gives; a meter that reads nothing, black or NaN sets
// the darkest exposure rather than NaN.
TEST(PhotographicExposure, MetersEveryLevelFromNightToNoonAtMidGrey) {
    for (double kcd : {1e-7, 1e-5, 1e-3, 0.1, 8.0}) {
        ExposureMeter meter;
        ExposureMeterAdd(&meter, kcd, 1.0);
        ExposureMeterAdd(&meter, kcd, 3.0);
        const double ev = ExposureMeterEV100(meter);
        EXPECT_NEAR(ev, std::log2(kcd * 1000.0 * 100.0 / 12.5), 1e-4) << kcd;
        const RGBA byte = ExposureToneMap(Grey(kcd), ExposureToneFor(ev, false));
        EXPECT_NEAR(byte.red, 109, 1) << kcd;
        EXPECT_EQ(byte.red, byte.blue) << kcd;
    }
    ExposureMeter none;
    EXPECT_EQ(ExposureMeterEV100(none), kExposureMinEV);
    ExposureMeter black;
    ExposureMeterAdd(&black, 0.0, 1.0);
    ExposureMeterAdd(&black, std::numeric_limits<double>::quiet_NaN(), 1.0);
    EXPECT_EQ(ExposureMeterEV100(black), kExposureMinEV);
    // The log-average: a sky half at 1 and half at 100 reads 10.
    ExposureMeter split;
    ExposureMeterAdd(&split, 1.0, 1.0);
    ExposureMeterAdd(&split, 100.0, 1.0);
    EXPECT_NEAR(ExposureMeterEV100(split), ExposureEV100(10.0 * 1000.0), 1e-9);
}

// Far above the metered sky the curve keeps a disc's colour: an orange
// setting sun a million times the sky stays orange, not a flat white; a
// sky five times the mean is brighter than mid-grey and still short of white.
TEST(PhotographicExposure, KeepsTheHighlightsColour) {
    const ExposureTone tone = ExposureToneFor(ExposureEV100(1.0), false);  // 1 cd/m^2 at mid-grey
    const RGBA sun = ExposureToneMap(RGBAReal{1000.0f, 500.0f, 150.0f, 0.0f}, tone);
    EXPECT_EQ(sun.red, 255);
    EXPECT_GT(sun.red - sun.blue, 80);
    EXPECT_GT(sun.green, sun.blue);
    const RGBA bright = ExposureToneMap(Grey(5e-3), tone);
    EXPECT_GT(bright.red, 140);
    EXPECT_LT(bright.red, 230);
    EXPECT_EQ(ExposureToneMap(RGBAReal{-1.0f, 0.0f, 0.0f, 0.0f}, tone).red, 0);
}

// Night vision: a dim red goes darker and blue-grey (the rods barely see
// red), a dim grey turns blue-grey at its own luminance, and daylight is
// left as it is.
TEST(PhotographicExposure, NightVisionShiftsOnlyWhatIsDim) {
    RGBAReal red{1e-6f, 0.0f, 0.0f, 0.0f};  // 0.2 mcd/m^2 of Rec. 709 red
    ExposureNightVision(&red);
    EXPECT_GT(red.blue, red.red);
    EXPECT_LT(0.2126 * red.red + 0.7152 * red.green + 0.0722 * red.blue, 0.5 * 0.2126e-6);
    RGBAReal grey = Grey(1e-6);
    ExposureNightVision(&grey);
    EXPECT_GT(grey.blue, grey.red);
    EXPECT_NEAR(0.2126 * grey.red + 0.7152 * grey.green + 0.0722 * grey.blue, 1e-6, 2e-8);
    RGBAReal day{0.9f, 0.5f, 0.2f, 0.0f};
    ExposureNightVision(&day);
    EXPECT_EQ(day.red, 0.9f);
    EXPECT_EQ(day.blue, 0.2f);
}

}  // namespace
}  // namespace kv
