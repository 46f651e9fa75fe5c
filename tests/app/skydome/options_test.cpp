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

TEST(SkydomeExportOptions, PlaceMomentHazeAndExportsAreTakenAsGiven) {
    SkydomeOptions o;
    std::string error;
    EXPECT_EQ(o.turbidity, 2.0f);
    EXPECT_EQ(o.panoramaWidth, 2048);
    ASSERT_TRUE(
        Parse({"skydome", "--turbidity", "10", "--location", "-33.8688,151.2093", "--time", "2026-01-15T09:30+11:00",
               "--export-gltf", "dome.GLB", "--export-panorama", "sky.exr", "--panorama-size", "16", "--export-only"},
              &o, &error))
        << error;
    EXPECT_EQ(o.turbidity, 10.0f);
    EXPECT_TRUE(o.location && o.time);
    EXPECT_EQ(o.latitude, -33.8688);
    EXPECT_EQ(o.longitude, 151.2093);
    EXPECT_EQ(o.timeText, "2026-01-15T09:30+11:00");
    EXPECT_EQ(o.moment.offsetMinutes, 11 * 60);
    EXPECT_EQ(o.exportGltf, "dome.GLB");
    EXPECT_EQ(o.exportPanorama, "sky.exr");
    EXPECT_EQ(o.panoramaWidth, 16);
    EXPECT_TRUE(o.exportOnly);
    SkydomeOptions edges;
    ASSERT_TRUE(Parse({"skydome", "--turbidity", "1.7", "--location", "90,-180", "--time", "2099-12-31T23:59:59Z",
                       "--export-panorama", "p.png", "--panorama-size", "8192"},
                      &edges, &error))
        << error;
    EXPECT_EQ(edges.turbidity, 1.7f);
    EXPECT_EQ(edges.latitude, 90.0);
    EXPECT_EQ(edges.longitude, -180.0);
}

TEST(SkydomeExportOptions, BadValuesAndMismatchedOptionsAreRefusedByName) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--turbidity", "1.6"}, "--turbidity: 1.6 is out of range (1.7 to 10)"},
        {{"--turbidity", "11"}, "--turbidity: 11 is out of range"},
        {{"--turbidity", "haze"}, "--turbidity needs a number"},
        {{"--turbidity"}, "--turbidity needs a number"},
        {{"--location", "91,0", "--time", "2026-01-01T12:00Z"}, "--location: the latitude 91 is out of range"},
        {{"--location", "0,180.5", "--time", "2026-01-01T12:00Z"}, "--location: the longitude 180.5 is out of range"},
        {{"--location", "48.8"}, "--location needs LATITUDE,LONGITUDE"},
        {{"--location", "48.8,2.3,7"}, "--location needs LATITUDE,LONGITUDE"},
        {{"--location", "north,2"}, "--location needs LATITUDE,LONGITUDE"},
        {{"--time", "2026-06-21T18:00"}, "--time: the time has no UTC offset"},
        {{"--time", "yesterday"}, "--time: expected YYYY-MM-DD"},
        {{"--location", "1,2"}, "--location needs --time"},
        {{"--time", "2026-06-21T18:00Z"}, "--time needs --location"},
        {{"--sun", "30,30", "--location", "1,2", "--time", "2026-06-21T18:00Z"}, "--sun and --location"},
        {{"--export-gltf", "dome.gltf"}, "--export-gltf needs a file name ending in .glb"},
        {{"--export-gltf"}, "--export-gltf needs a file name"},
        {{"--export-panorama", "sky.jpg"}, "--export-panorama needs a file name ending in .png"},
        {{"--export-panorama", "sky.png", "--panorama-size", "1001"}, "--panorama-size needs an even width"},
        {{"--export-panorama", "sky.png", "--panorama-size", "8194"}, "--panorama-size needs an even width"},
        {{"--export-panorama", "sky.png", "--panorama-size", "8"}, "--panorama-size needs an even width"},
        {{"--panorama-size", "64"}, "--panorama-size needs --export-panorama"},
        {{"--export-only"}, "--export-only needs something to write"},
        {{"--export-only", "--export-gltf", "d.glb", "--frames", "3"}, "--export-only shows no frames"},
        {{"--export-panorama", "same.png", "--frames", "1", "--screenshot", "same.png"}, "two outputs name the same"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"skydome"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SkydomeOptions o;
        std::string error;
        EXPECT_FALSE(Parse(argv, &o, &error)) << c.message;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
}

}  // namespace
}  // namespace kv
