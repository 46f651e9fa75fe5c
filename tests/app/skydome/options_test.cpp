// The options that make skies in batch: each value is taken as given or
// refused with a message naming its option; nothing is clamped.
#include "app/skydome/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

bool Parse(std::vector<const char*> argv, SkydomeOptions* o, std::string* error) {
    std::vector<char*> args;
    for (const char* a : argv) args.push_back(const_cast<char*>(a));
    return SkydomeParseOptions(args, o, error);
}

TEST(SkydomeSkyOptions, ValuesInTheMenusRangesAreTakenAsGiven) {
    SkydomeOptions o;
    std::string error;
    EXPECT_EQ(o.sunZenith, 50.0f);
    EXPECT_EQ(o.sunAzimuth, 20.0f);
    EXPECT_EQ(o.exposure, 0.1f);
    EXPECT_EQ(o.resolution, 9);
    ASSERT_TRUE(Parse(
        {"skydome", "--sun", "85,359.5", "--exposure", "0.01", "--resolution", "32", "--save-dome", "out.dff", "-vms"},
        &o, &error))
        << error;
    EXPECT_EQ(o.sunZenith, 85.0f);
    EXPECT_EQ(o.sunAzimuth, 359.5f);
    EXPECT_EQ(o.exposure, 0.01f);
    EXPECT_EQ(o.resolution, 32);
    EXPECT_EQ(o.saveDome, "out.dff");
    SkydomeOptions low;
    ASSERT_TRUE(Parse({"skydome", "--sun", "0,0", "--exposure", "1", "--resolution", "1"}, &low, &error)) << error;
    EXPECT_EQ(low.sunZenith, 0.0f);
    EXPECT_EQ(low.exposure, 1.0f);
    EXPECT_EQ(low.resolution, 1);
}

TEST(SkydomeSkyOptions, OutOfRangeOrUnreadableValuesAreRefusedByName) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--sun", "85.5,20"}, "--sun: the zenith angle 85.5 is out of range"},
        {{"--sun", "-1,20"}, "--sun: the zenith angle -1 is out of range"},
        {{"--sun", "50,360"}, "--sun: the azimuth 360 is out of range"},
        // Rounds to 360 in single precision, where it would wrap to 0.
        {{"--sun", "50,359.99999999"}, "--sun: the azimuth 360 is out of range"},
        {{"--sun", "50"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun", "50,"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun", "nan,20"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun", "50,20,3"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--exposure", "0.009"}, "--exposure: 0.009 is out of range (0.01 to 1)"},
        {{"--exposure", "1.5"}, "--exposure: 1.5 is out of range"},
        {{"--exposure", "bright"}, "--exposure needs a number"},
        {{"--exposure", "1e99"}, "--exposure needs a number"},
        {{"--resolution", "0"}, "--resolution: 0 is out of range (1 to 32)"},
        {{"--resolution", "33"}, "--resolution: 33 is out of range"},
        {{"--resolution", "4.5"}, "--resolution needs a whole number"},
        {{"--resolution", ""}, "--resolution needs a whole number"},
        {{"--save-dome"}, "--save-dome needs a file name"},
        {{"--save-dome", ""}, "--save-dome needs a file name"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"skydome"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SkydomeOptions o;
        std::string error;
        EXPECT_FALSE(Parse(argv, &o, &error)) << c.message;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
        // A refused value leaves the default in place.
        EXPECT_EQ(o.sunZenith, 50.0f);
        EXPECT_EQ(o.exposure, 0.1f);
        EXPECT_EQ(o.resolution, 9);
    }
}

TEST(SkydomeShowOptions, OverlaysAreTurnedOnByNameAndNoneTurnsThemOff) {
    SkydomeOptions o;
    std::string error;
    EXPECT_TRUE(o.showGround);
    EXPECT_FALSE(o.showWire || o.showNormals || o.softwarePipelines);
    ASSERT_TRUE(Parse({"skydome", "--show", "wire,normals", "--software-pipelines"}, &o, &error)) << error;
    EXPECT_TRUE(o.showGround && o.showWire && o.showNormals && o.softwarePipelines);
    SkydomeOptions off;
    ASSERT_TRUE(Parse({"skydome", "--show", "none"}, &off, &error)) << error;
    EXPECT_FALSE(off.showGround || off.showWire || off.showNormals);
    SkydomeOptions some;
    ASSERT_TRUE(Parse({"skydome", "--show", "none,normals"}, &some, &error)) << error;
    EXPECT_FALSE(some.showGround || some.showWire);
    EXPECT_TRUE(some.showNormals);

    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--show", "grid"}, "--show: unknown overlay 'grid'"},
        {{"--show", "wire,grid,sky"}, "--show: unknown overlay 'grid', 'sky'"},
        {{"--show", "wire,"}, "--show: unknown overlay (empty)"},
        {{"--show", ""}, "--show needs a list of overlays"},
        {{"--show"}, "--show needs a list of overlays"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"skydome"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SkydomeOptions bad;
        EXPECT_FALSE(Parse(argv, &bad, &error)) << c.message;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
}

}  // namespace
}  // namespace kv
