// The options that make skies in batch: each value is taken as given or
// refused with a message naming its option; nothing is clamped.
#include "app/skydome/options.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/skydome/place_time.h"

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
    EXPECT_EQ(o.saveDome, std::vector<std::string>{"out.dff"});
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
        {{"--sun", "50,360.0000001"}, "--sun: the azimuth 360.0000001 is out of range"},
        {{"--sun", "50"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun", "50,"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun", "nan,20"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun", "50,20,3"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sun"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--exposure", "0.009"}, "--exposure: 0.009 is out of range (0.01 to 1)"},
        {{"--exposure", "1.5"}, "--exposure: 1.5 is out of range"},
        {{"--exposure", "bright"}, "--exposure needs a number"},
        {{"--exposure", "1e99"}, "--exposure: 1e99 is out of range (0.01 to 1)"},
        {{"--exposure", "1e999"}, "--exposure: 1e999 is out of range (0.01 to 1)"},
        {{"--resolution", "0"}, "--resolution: 0 is out of range (1 to 32)"},
        {{"--resolution", "33"}, "--resolution: 33 is out of range"},
        {{"--resolution", "4.5"}, "--resolution needs a whole number"},
        {{"--resolution", ""}, "--resolution needs a whole number"},
        {{"--save-dome"}, "--save-dome needs a file name"},
        {{"--save-dome", ""}, "--save-dome needs a file name"},
        {{"--view", "inside"}, "--view needs orbit or preview, not \"inside\""},
        {{"--view", "Preview"}, "--view needs orbit or preview"},
        {{"--view"}, "--view needs orbit or preview"},
        {{"--look", "90,0"}, "--look: the elevation 90 is out of range (-89.9 to 89.9 degrees)"},
        {{"--look", "-89.95,0"}, "--look: the elevation -89.95 is out of range"},
        {{"--look", "0,360"}, "--look: the azimuth 360 is out of range"},
        {{"--look", "25"}, "--look needs ELEVATION,AZIMUTH"},
        {{"--fov", "0.5"}, "--fov: 0.5 is out of range (1 to 179 degrees)"},
        {{"--fov", "180"}, "--fov: 180 is out of range"},
        {{"--fov", "wide"}, "--fov needs a number of degrees"},
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
        EXPECT_FALSE(o.preview);
        EXPECT_FALSE(o.look);
        EXPECT_EQ(o.fov, 0.0f);
    }
}

// --data names the user's own folder of help and pictures; a name that is no
// folder is refused, or the program would quietly use its own data instead.
TEST(SkydomeDataOption, AFolderThatIsThereAndNothingElse) {
    char pattern[] = "/tmp/kvdataopt.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    std::ofstream(dir / "readme.txt") << "mine\n";
    SkydomeOptions o;
    std::string error;
    EXPECT_TRUE(o.dataFolder.empty());
    ASSERT_TRUE(Parse({"skydome", "--data", pattern}, &o, &error)) << error;
    EXPECT_EQ(o.dataFolder, pattern);
    const std::string missing = (dir / "missing").string(), file = (dir / "readme.txt").string();
    const struct {
        std::vector<const char*> args;
        std::string message;
    } cases[] = {
        {{"--data", missing.c_str()},
         "--data needs a folder that holds readme.txt or textures/, not \"" + missing + "\" (there is no such folder)"},
        {{"--data", file.c_str()},
         "--data needs a folder that holds readme.txt or textures/, not \"" + file + "\" (it is not a folder)"},
        {{"--data", ""}, "--data needs a folder"},
        {{"--data"}, "--data needs a folder"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"skydome"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SkydomeOptions refused;
        EXPECT_FALSE(Parse(argv, &refused, &error)) << c.message;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
    std::filesystem::remove_all(dir);
}

TEST(SkydomeViewOptions, TheViewItsLookAndItsFieldOfViewAtTheEndsOfTheirRanges) {
    SkydomeOptions o;
    std::string error;
    EXPECT_FALSE(o.preview);
    EXPECT_EQ(o.fov, 0.0f) << "each view's own default";
    ASSERT_TRUE(Parse({"skydome", "--view", "preview", "--look", "89.9,359.5", "--fov", "179"}, &o, &error)) << error;
    EXPECT_TRUE(o.preview);
    EXPECT_TRUE(o.look);
    EXPECT_EQ(o.lookElevation, 89.9f);
    EXPECT_EQ(o.lookAzimuth, 359.5f);
    EXPECT_EQ(o.fov, 179.0f);
    ASSERT_TRUE(Parse({"skydome", "--view", "orbit", "--look", "-89.9,0", "--fov", "1"}, &o, &error)) << error;
    EXPECT_FALSE(o.preview) << "the last --view wins";
    EXPECT_EQ(o.lookElevation, -89.9f);
    EXPECT_EQ(o.lookAzimuth, 0.0f);
    EXPECT_EQ(o.fov, 1.0f);
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
    EXPECT_EQ(o.exportGltf, std::vector<std::string>{"dome.GLB"});
    EXPECT_EQ(o.exportPanorama, std::vector<std::string>{"sky.exr"});
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
        {{"--time", "yesterday"}, "--time: expected a date and time as ISO 8601 writes them"},
        {{"--location", "1,2"}, "--location needs --time"},
        {{"--time", "2026-06-21T18:00Z"}, "--time needs --location"},
        {{"--sun", "30,30", "--location", "1,2", "--time", "2026-06-21T18:00Z"}, "--sun and --location"},
        {{"--export-gltf", "dome.gltf"}, "--export-gltf needs a file name ending in .glb"},
        {{"--export-gltf"}, "--export-gltf needs a file name"},
        {{"--export-panorama", "sky.jpg"}, "--export-panorama needs a file name ending in .png"},
        {{"--export-panorama", "sky.png", "--panorama-size", "1001"},
         "--panorama-size: 1001 is out of range (an even number from 16 to 8192)"},
        {{"--export-panorama", "sky.png", "--panorama-size", "8194"}, "--panorama-size: 8194 is out of range"},
        {{"--export-panorama", "sky.png", "--panorama-size", "8"}, "--panorama-size: 8 is out of range"},
        {{"--export-panorama", "sky.png", "--panorama-size", "wide"}, "--panorama-size needs an even width"},
        {{"--location", "--time", "2026-01-01T12:00Z"}, "--location needs LATITUDE,LONGITUDE"},
        {{"--panorama-size", "64", "--export-only", "--save-dome", "d.dff"}, "--panorama-size needs --export-panorama"},
        {{"--export-only"}, "--export-only needs something to write"},
        {{"--export-only", "--export-gltf", "d.glb", "--frames", "3"}, "--export-only shows no frames"},
        {{"--export-panorama", "same.png", "--frames", "1", "--screenshot", "same.png"},
         "--screenshot and --export-panorama name the same file, same.png"},
        {{"--export-gltf", "./same.glb", "--save-dome", "same.glb"},
         "--save-dome and --export-gltf name the same file"},
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

namespace kv {
namespace {

std::string Refusal(std::vector<const char*> argv) {
    argv.insert(argv.begin(), "skydome");
    SkydomeOptions o;
    std::string error;
    if (Parse(argv, &o, &error)) return "(taken)";
    return error;
}

// What a person copies from elsewhere: a place as map applications give it,
// a time on a named zone's clock; and an output option given twice.
TEST(SkydomeExportOptions, CopiedPlacesNamedZonesAndRepeatedOutputsAreTaken) {
    SkydomeOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"skydome", "--location", "40.7128, -74.0060", "--time", "2026-06-21T18:00", "--zone",
                       "Europe/Paris", "--export-panorama", "a.png", "--export-panorama", "b.exr", "--export-gltf",
                       "a.glb", "--export-gltf", "b.glb", "--save-dome", "a.dff", "--save-dome", "b.dff"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.latitude, 40.7128);
    EXPECT_EQ(o.longitude, -74.0060);
    // Paris keeps summer time in June, and not in January.
    EXPECT_EQ(o.moment.offsetMinutes, 120);
    EXPECT_EQ(o.moment.hour, 18);
    EXPECT_EQ(o.exportPanorama, (std::vector<std::string>{"a.png", "b.exr"}));
    EXPECT_EQ(o.exportGltf, (std::vector<std::string>{"a.glb", "b.glb"}));
    EXPECT_EQ(o.saveDome, (std::vector<std::string>{"a.dff", "b.dff"}));
    SkydomeOptions winter;
    ASSERT_TRUE(Parse({"skydome", "--zone", "Europe/Paris", "--location", "48.85,2.35", "--time", "2026-01-15T12:00"},
                      &winter, &error))
        << error;
    EXPECT_EQ(winter.moment.offsetMinutes, 60);
    EXPECT_EQ(std::getenv("TZ"), nullptr) << "the process's own zone is left as it was";

    EXPECT_EQ(Refusal({"--location", "1,2", "--time", "2026-06-21T18:00", "--zone", "Mars/Olympus"}),
              "--zone needs a zone of the tz database, for example Europe/Paris, not \"Mars/Olympus\" (the system's tz "
              "database has no such zone)");
    EXPECT_EQ(Refusal({"--location", "1,2", "--time", "2026-06-21T18:00", "--zone", "../../etc/passwd"})
                  .rfind("--zone needs", 0),
              0u);
    EXPECT_EQ(Refusal({"--location", "1,2", "--time", "2026-06-21T18:00+02:00", "--zone", "Europe/Paris"}),
              "--time with --zone takes the clock's reading without a UTC offset, not \"2026-06-21T18:00+02:00\"");
    EXPECT_EQ(Refusal({"--zone", "Europe/Paris"}), "--zone needs --time: it says which clock the time is read on");
    EXPECT_NE(Refusal({"--export-panorama", "a.png", "--export-panorama", "./a.png"}).find("name the same file"),
              std::string::npos);
    // A sun the analytic sky cannot hold is one the physical sky can.
    EXPECT_NE(Refusal({"--sun", "95,20"}).find("--sky physical takes a sun anywhere"), std::string::npos);
    EXPECT_NE(Refusal({"--sun", "150,20"}).find("--sky physical takes a sun anywhere"), std::string::npos);
    EXPECT_EQ(Refusal({"--sun", "185,20"}).find("--sky physical"), std::string::npos);
}

// --time now is the clock's moment to the minute, on the zone's clock when
// one is named, and it is kept as that moment (its text reads back to it),
// not as "now".
TEST(SkydomeExportOptions, TimeNowIsTheClocksMomentOnTheZonesClock) {
    for (const char* zone : {"", "Asia/Kolkata", "America/New_York"}) {
        SkydomeOptions o;
        std::string error;
        std::vector<const char*> args = {"skydome", "--location", "48.85,2.35", "--time", "now"};
        if (*zone != '\0') args.insert(args.end(), {"--zone", zone});
        const std::time_t before = std::time(nullptr);
        ASSERT_TRUE(Parse(args, &o, &error)) << error;
        const std::time_t after = std::time(nullptr);
        std::tm clock{};
        clock.tm_year = o.moment.year - 1900;
        clock.tm_mon = o.moment.month - 1;
        clock.tm_mday = o.moment.day;
        clock.tm_hour = o.moment.hour;
        clock.tm_min = o.moment.minute;
        clock.tm_sec = static_cast<int>(o.moment.second);
        const std::time_t utc = timegm(&clock) - 60 * static_cast<std::time_t>(o.moment.offsetMinutes);
        EXPECT_EQ(o.moment.second, 0.0) << zone;
        EXPECT_GE(utc, before - 59) << zone;
        EXPECT_LE(utc, after) << zone;
        EXPECT_EQ(o.moment.offsetMinutes, *zone != '\0' ? ZoneOffsetMinutes(zone, o.moment) : 0) << zone;
        EXPECT_NE(o.timeText, "now");
        SolarTime again{};
        ASSERT_TRUE(SolarParseTime(o.timeText.c_str(), &again, &error)) << o.timeText;
        EXPECT_EQ(SolarJulianDay(again), SolarJulianDay(o.moment)) << o.timeText;
    }
    EXPECT_EQ(std::getenv("TZ"), nullptr) << "the process's own zone is left as it was";
}

// A settings file gives options as the command line does, in its place
// among them; what it cannot give is refused with the file's name.
TEST(SkydomeSettingsOption, ASettingsFileIsTheOptionsItNamesAndIsRefusedInWords) {
    char pattern[] = "/tmp/kvsettings.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    std::vector<std::unique_ptr<std::string>> names;
    const auto write = [&](const char* name, const char* text) {
        std::ofstream(dir / name) << text;
        names.push_back(std::make_unique<std::string>((dir / name).string()));
        return names.back()->c_str();
    };
    const char* look = write("look.json",
                             "{\"sky\": \"physical\", \"sun\": \"95,20\", \"exposure\": 0.2, \"resolution\": 12,"
                             " \"export-panorama\": [\"a.exr\", \"a.png\"], \"software-pipelines\": true,"
                             " \"show\": \"none,wire\"}");
    SkydomeOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"skydome", "--settings", look, "--exposure", "0.3"}, &o, &error)) << error;
    EXPECT_EQ(o.sky, SkyModelPhysical);
    EXPECT_EQ(o.sunZenith, 95.0f) << "the file's sky model holds the file's sun";
    EXPECT_EQ(o.exposure, 0.3f) << "an option after the file changes what it set";
    EXPECT_EQ(o.resolution, 12);
    EXPECT_EQ(o.exportPanorama, (std::vector<std::string>{"a.exr", "a.png"}));
    EXPECT_TRUE(o.softwarePipelines);
    EXPECT_TRUE(o.showWire);
    EXPECT_FALSE(o.showGround);
    SkydomeOptions before;
    ASSERT_TRUE(Parse({"skydome", "--exposure", "0.3", "--settings", look}, &before, &error)) << error;
    EXPECT_EQ(before.exposure, 0.2f);

    const std::string head = "--settings " + (dir / "").string();
    EXPECT_EQ(Refusal({"--settings", write("bad.json", "{\"sun\": 30,")}),
              head + "bad.json: not JSON: " +
                  "parse error at line 1, column 12: syntax error while parsing object key - unexpected end of input; "
                  "expected string literal");
    EXPECT_EQ(Refusal({"--settings", write("list.json", "[1, 2]")}),
              head + "list.json: expected one JSON object of settings, {\"name\": value, ...}");
    EXPECT_EQ(Refusal({"--settings", write("unknown.json", "{\"colour\": \"red\"}")}),
              head +
                  "unknown.json: unknown setting \"colour\" (the settings are the options of --help, named "
                  "without --)");
    EXPECT_EQ(Refusal({"--settings", write("self.json", "{\"settings\": \"self.json\"}")}).find("unknown setting"),
              head.size() + 11);
    EXPECT_EQ(Refusal({"--settings", write("range.json", "{\"exposure\": 7}")}),
              head + "range.json: \"exposure\" --exposure: 7 is out of range (0.01 to 1)");
    EXPECT_EQ(Refusal({"--settings", write("kind.json", "{\"exposure\": {}}")}),
              head + "kind.json: \"exposure\" needs a string or a number");
    EXPECT_EQ(Refusal({"--settings", write("flag.json", "{\"software-pipelines\": 1}")}),
              head + "flag.json: \"software-pipelines\" needs true or false");
    EXPECT_EQ(Refusal({"--settings", (dir / "missing.json").c_str()}).rfind(head + "missing.json: ", 0), 0u);
    EXPECT_EQ(Refusal({"--settings", dir.c_str()}).rfind(head.substr(0, head.size() - 1) + ": ", 0), 0u)
        << "a folder is not a settings file";
    std::filesystem::remove_all(dir);
}

// A value that is the next option means the value was forgotten: it is
// refused rather than taken as a file name or a number.
TEST(SkydomeOptionValues, AnOptionInPlaceOfAValueAndStrayWordsAreRefused) {
    EXPECT_EQ(Refusal({"--save-dome", "--frames", "10"}),
              "--save-dome needs a file name, not the option --frames (write ./--frames for a file of that name)");
    for (const char* option : {"--screenshot", "--sun", "--exposure", "--resolution", "--frames"}) {
        EXPECT_EQ(Refusal({"--frames", "1", option, "--help"}).rfind(std::string(option) + " needs ", 0), 0u) << option;
        EXPECT_NE(Refusal({option, "-vms"}).find("not the option -vms"), std::string::npos) << option;
    }
    SkydomeOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"skydome", "--save-dome", "./--frames", "-vms"}, &o, &error)) << error;
    EXPECT_EQ(o.saveDome, std::vector<std::string>{"./--frames"});
    // A negative number is a value, refused for its range.
    EXPECT_EQ(Refusal({"--exposure", "-1"}), "--exposure: -1 is out of range (0.01 to 1)");

    EXPECT_EQ(Refusal({"sky.dff"}), "unexpected argument \"sky.dff\": the program reads no files (see --help)");
    EXPECT_EQ(Refusal({"-vms", "--frames", "2", "extra"}).rfind("unexpected argument \"extra\"", 0), 0u);
    for (const char* dash : {"-x", "-vm", "-vmsx", "-", "-frames"}) {
        EXPECT_EQ(Refusal({dash}), std::string("unknown option ") + dash + " (see --help)");
    }
    // What the skeleton takes goes on to it; nothing else does.
    std::vector<char*> args;
    for (const char* a : {"skydome", "--frames", "3", "-vms", "-h"}) args.push_back(const_cast<char*>(a));
    SkydomeOptions parsed;
    ASSERT_TRUE(SkydomeParseOptions(args, &parsed, &error)) << error;
    EXPECT_TRUE(parsed.help);
    ASSERT_EQ(args.size(), 2u);
    EXPECT_STREQ(args[1], "-vms");
}

// One reader for every number: decimal only, the value shown as given.
TEST(SkydomeOptionValues, EveryNumberIsReadTheSameDecimalWay) {
    for (std::vector<const char*> hex : {std::vector<const char*>{"--frames", "0x10"},
                                         {"--resolution", "0x8"},
                                         {"--exposure", "0x0.1p1"},
                                         {"--sun", "0x10,20"},
                                         {"--sun", "50,0X14"}}) {
        const std::string error = Refusal(hex);
        EXPECT_EQ(error.rfind(std::string(hex[0]) + " needs ", 0), 0u) << error;
        EXPECT_NE(error.find(std::string("not \"") + hex[1] + "\""), std::string::npos) << error;
    }
    for (const char* odd : {" 5", "5 ", "inf", "nan", "1e", ".", "+", "5,"}) {
        EXPECT_NE(Refusal({"--resolution", odd}).find(std::string("not \"") + odd + "\""), std::string::npos) << odd;
    }
    EXPECT_EQ(Refusal({"--exposure", "1.50"}), "--exposure: 1.50 is out of range (0.01 to 1)");
    EXPECT_EQ(Refusal({"--sun", "85.50,20"}).rfind("--sun: the zenith angle 85.50 is out of range", 0), 0u);
    EXPECT_EQ(Refusal({"--resolution", "4.5"}), "--resolution needs a whole number of rings from 1 to 32, not \"4.5\"");
    EXPECT_EQ(Refusal({"--frames", "1e10"}), "--frames: 1e10 is out of range (0 to 2147483647)");

    SkydomeOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"skydome", "--sun", "1e-50,0", "--frames", "1e2", "--resolution", "+4.0", "--exposure", ".5"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.sunZenith, 0.0f);
    EXPECT_EQ(o.frames, 100);
    EXPECT_EQ(o.resolution, 4);
    EXPECT_EQ(o.exposure, 0.5f);
    // Inside the azimuth's range as given, and kept inside it in single
    // precision (where it would round to 360, which is 0).
    ASSERT_TRUE(Parse({"skydome", "--sun", "85,359.99999"}, &o, &error)) << error;
    EXPECT_LT(o.sunAzimuth, 360.0f);
    EXPECT_GT(o.sunAzimuth, 359.9999f);
}

TEST(SkydomeOptionValues, TheDomeAndThePictureCannotShareAFile) {
    char pattern[] = "/tmp/kvoptions.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string a = (dir / "out.png").string();
    EXPECT_NE(Refusal({"--frames", "1", "--save-dome", a.c_str(), "--screenshot", (dir / "." / "out.png").c_str()})
                  .find("name the same file"),
              std::string::npos);
    // Through a link, to a file that exists.
    std::ofstream(dir / "out.png") << "x";
    std::filesystem::create_symlink("out.png", dir / "link.png");
    EXPECT_NE(Refusal({"--frames", "1", "--save-dome", a.c_str(), "--screenshot", (dir / "link.png").c_str()})
                  .find("name the same file"),
              std::string::npos);
    EXPECT_EQ(Refusal({"--frames", "1", "--save-dome", a.c_str(), "--screenshot", (dir / "other.png").c_str()}),
              "(taken)");
    std::filesystem::remove_all(dir);
}

// --help is the one source of the options' help (the help page and the
// manual page are made from it): every option, in lines that fit the page.
TEST(SkydomeOptionValues, HelpListsEveryOptionInLinesThatFitThePage) {
    const std::string usage = SkydomeUsage();
    for (const char* line : {"  -vms  ",
                             "  --frames N  ",
                             "  --screenshot FILE.png\n",
                             "  --save-dome FILE  ",
                             "  --sun ZENITH,AZIMUTH  ",
                             "  --exposure K  ",
                             "  --resolution R  ",
                             "  --view VIEW  ",
                             "  --look ELEVATION,AZIMUTH\n",
                             "  --fov DEG  ",
                             "  --show LIST  ",
                             "  --software-pipelines  ",
                             "  --turbidity T  ",
                             "  --location LATITUDE,LONGITUDE\n",
                             "  --time ISO8601  ",
                             "  --export-gltf FILE.glb\n",
                             "  --export-panorama FILE.png|.exr|.hdr\n",
                             "  --panorama-size W  ",
                             "  --export-only  ",
                             "  --verbose  ",
                             "  --version  ",
                             "  -h, --help  "}) {
        EXPECT_NE(usage.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(usage.rfind("Usage: skydome [OPTION]... [-vms]\n", 0), 0u);
    EXPECT_NE(usage.find("\nExit status: 0 "), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t at = 0; at < usage.size(); ++lines) {
        const std::size_t end = usage.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "the text ends with a line end";
        EXPECT_LE(end - at, 76u) << usage.substr(at, end - at);
        EXPECT_NE(usage[end - 1], ' ') << usage.substr(at, end - at);
        at = end + 1;
    }
    EXPECT_GT(lines, 60u);
}

// The GNU form, --name=value, is the same as --name value; an option that
// takes no value refuses one given that way.
TEST(SkydomeOptionValues, AValueFollowsItsOptionAsTheNextWordOrAfterAnEqualsSign) {
    SkydomeOptions spaced, joined;
    std::string error;
    ASSERT_TRUE(Parse({"skydome", "--sun", "30,200", "--frames", "2", "--save-dome", "a=b.dff", "--show", "none,wire",
                       "--turbidity", "4"},
                      &spaced, &error))
        << error;
    ASSERT_TRUE(
        Parse({"skydome", "--sun=30,200", "--frames=2", "--save-dome=a=b.dff", "--show=none,wire", "--turbidity=4"},
              &joined, &error))
        << error;
    EXPECT_EQ(joined.sunZenith, 30.0f);
    EXPECT_EQ(joined.sunAzimuth, 200.0f);
    EXPECT_EQ(joined.frames, 2);
    EXPECT_EQ(joined.saveDome, std::vector<std::string>{"a=b.dff"});
    EXPECT_EQ(joined.turbidity, spaced.turbidity);
    EXPECT_EQ(joined.showWire, spaced.showWire);
    EXPECT_EQ(joined.showGround, spaced.showGround);
    // Given after "=", a value that begins with "--" is the value asked for.
    ASSERT_TRUE(Parse({"skydome", "--save-dome=--x.dff"}, &joined, &error)) << error;
    EXPECT_EQ(joined.saveDome, (std::vector<std::string>{"a=b.dff", "--x.dff"}));

    EXPECT_EQ(Refusal({"--sun=90,20"}).rfind("--sun: the zenith angle 90 is out of range", 0), 0u);
    EXPECT_EQ(Refusal({"--save-dome="}), "--save-dome needs a file name");
    EXPECT_EQ(Refusal({"--frames="}), "--frames needs a whole number of frames, 0 or more, not \"\"");
    EXPECT_EQ(Refusal({"--export-only=yes"}), "--export-only takes no value, not \"yes\"");
    EXPECT_EQ(Refusal({"--version=1"}), "--version takes no value, not \"1\"");
    EXPECT_EQ(Refusal({"--colour=red"}), "unknown option --colour (see --help)");
    EXPECT_EQ(Refusal({"-vms=1"}), "unknown option -vms=1 (see --help)");
}

// The picture is PNG: a name that says another format is refused, as the
// panorama's is; a device or a pipe takes it under its own name.
TEST(SkydomeOptionValues, AScreenshotIsWrittenOnlyUnderAPngName) {
    for (const char* name : {"s.jpg", "s", "s.png.bmp", "s.PNG.tmp"}) {
        EXPECT_EQ(Refusal({"--frames", "1", "--screenshot", name}),
                  std::string("--screenshot needs a file name ending in .png (the picture is written as PNG), not \"") +
                      name + "\"");
    }
    for (const char* name : {"s.png", "S.PNG", "/tmp/.png.png", "/dev/null"}) {
        EXPECT_EQ(Refusal({"--frames", "1", "--screenshot", name}), "(taken)") << name;
    }
}

// Like --help, --version answers at once: what else the line asks for
// together is not checked, but a malformed option is still refused.
TEST(SkydomeOptionValues, VersionIsTakenAloneOrWithAnythingWellFormed) {
    SkydomeOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"skydome", "--version"}, &o, &error)) << error;
    EXPECT_TRUE(o.version);
    EXPECT_FALSE(o.help);
    SkydomeOptions p;
    ASSERT_TRUE(Parse({"skydome", "--screenshot", "a.png", "--version"}, &p, &error)) << error;
    EXPECT_TRUE(p.version);
    EXPECT_EQ(Refusal({"--version", "--frames", "x"}).rfind("--frames needs ", 0), 0u);
    // Major.minor.patch, as the package takes it.
    const std::string v = SkydomeVersion();
    EXPECT_EQ(std::count(v.begin(), v.end(), '.'), 2) << v;
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
    // The program's other toggles: flares, the data display and the menu are
    // on as in the program, the frames per second off; none turns them all off.
    EXPECT_TRUE(o.showFlares && o.showData && o.showMenu);
    EXPECT_FALSE(o.showFps);
    EXPECT_FALSE(off.showFlares || off.showData || off.showMenu || off.showFps);
    SkydomeOptions views;
    ASSERT_TRUE(Parse({"skydome", "--show", "none,fps", "--show", "menu,flares"}, &views, &error)) << error;
    EXPECT_TRUE(views.showFps && views.showMenu && views.showFlares);
    EXPECT_FALSE(views.showData || views.showGround);
    ASSERT_TRUE(Parse({"skydome", "--show", "none,data"}, &views, &error)) << error;
    EXPECT_TRUE(views.showData);
    EXPECT_FALSE(views.showFps || views.showMenu || views.showFlares);

    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--show", "grid"},
         "--show: unknown overlay 'grid' (known: ground, wire, normals, flares, data, fps, menu, none)"},
        {{"--show", "FPS"}, "--show: unknown overlay 'FPS'"},
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

namespace kv {
namespace {

// The sky model's options, and the sun's range that follows the model,
// whatever the order of the options.
TEST(SkydomeSkyModelOptions, TheModelSetsTheSunsRangeAndItsOwnValuesAreTakenAsGiven) {
    SkydomeOptions o;
    std::string error;
    EXPECT_EQ(o.sky, SkyModelPreetham);
    EXPECT_EQ(o.albedo, 0.3f);
    EXPECT_EQ(o.altitude, 0.0f);
    EXPECT_EQ(o.domeFacing, DomeFacingAsShown);
    EXPECT_EQ(o.aerosols.kind, AtmosphereAerosolContinental);
    EXPECT_EQ(o.aerosols.depth550, 0.0f);
    ASSERT_TRUE(Parse({"skydome", "--sun", "100,90", "--sky", "physical", "--albedo", "0", "--altitude", "20000",
                       "--dome-facing", "inward", "--aerosols", "desert", "--aod", "0.4"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.sky, SkyModelPhysical);
    EXPECT_EQ(o.sunZenith, 100.0f);
    EXPECT_EQ(o.sunAzimuth, 90.0f);
    EXPECT_EQ(o.albedo, 0.0f);
    EXPECT_EQ(o.altitude, 20000.0f);
    EXPECT_EQ(o.domeFacing, DomeFacingInward);
    EXPECT_EQ(o.aerosols.kind, AtmosphereAerosolDesert);
    EXPECT_EQ(o.aerosols.depth550, 0.4f);
    SkydomeOptions p;
    ASSERT_TRUE(Parse({"skydome", "--sky", "physical", "--sun", "92.5,0", "--albedo", "1", "--dome-facing", "outward",
                       "--sky", "preetham", "--sky", "physical"},
                      &p, &error))
        << error;
    EXPECT_EQ(p.sunZenith, 92.5f);
    EXPECT_EQ(p.albedo, 1.0f);
    EXPECT_EQ(p.domeFacing, DomeFacingOutward);
    SkydomeOptions q;
    ASSERT_TRUE(Parse({"skydome", "--sky", "preetham", "--albedo", "0.7", "--sun", "85,10"}, &q, &error)) << error;
    EXPECT_EQ(q.sky, SkyModelPreetham);
    EXPECT_EQ(q.albedo, 0.7f);
    EXPECT_EQ(q.sunZenith, 85.0f);
}

// With the default sky a sun below 85 degrees is refused as it always was,
// whichever side of it --sky stands; the physical sky stops at 100.
TEST(SkydomeSkyModelOptions, SunsBeyondTheModelsRangeAndBadValuesAreRefusedByName) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--sun", "86,20"}, "--sun: the zenith angle 86 is out of range (0 to 85 degrees)"},
        {{"--sun", "100,20", "--sky", "preetham"}, "--sun: the zenith angle 100 is out of range (0 to 85 degrees)"},
        {{"--sky", "physical", "--sky", "preetham", "--sun", "90,0"},
         "--sun: the zenith angle 90 is out of range (0 to 85 degrees)"},
        {{"--sun", "180.5,20", "--sky", "physical"},
         "--sun: the zenith angle 180.5 is out of range (0 to 180 degrees)"},
        {{"--sky", "physical", "--sun", "-0.5,20"}, "--sun: the zenith angle -0.5 is out of range (0 to 180 degrees)"},
        {{"--sky", "physical", "--sun", "95"}, "--sun needs ZENITH,AZIMUTH"},
        {{"--sky", "Physical"}, "--sky needs preetham or physical, not \"Physical\""},
        {{"--sky", "hosek"}, "--sky needs preetham or physical"},
        {{"--sky"}, "--sky needs preetham or physical"},
        {{"--albedo", "1.01"}, "--albedo: 1.01 is out of range (0 to 1)"},
        {{"--albedo", "-0.1"}, "--albedo: -0.1 is out of range"},
        {{"--albedo", "grey"}, "--albedo needs a number from 0 to 1"},
        {{"--sky", "physical", "--altitude", "20001"}, "--altitude: 20001 is out of range (0 to 20000 metres)"},
        {{"--sky", "physical", "--altitude", "-1"}, "--altitude: -1 is out of range"},
        {{"--altitude", "1000"}, "--altitude needs --sky physical"},
        {{"--altitude", "0", "--sky", "preetham"}, "--altitude needs --sky physical"},
        {{"--sky", "physical", "--aerosols", "rural"},
         "--aerosols needs continental, maritime, urban or desert, not \"rural\""},
        {{"--sky", "physical", "--aod", "0"}, "--aod: 0 is out of range (0.01 to 3)"},
        {{"--sky", "physical", "--aod", "3.5"}, "--aod: 3.5 is out of range"},
        {{"--aod", "0.2"}, "--aerosols and --aod need --sky physical"},
        {{"--aerosols", "urban", "--sky", "preetham"}, "--aerosols and --aod need --sky physical"},
        {{"--dome-facing", "up"}, "--dome-facing needs inward or outward, not \"up\""},
        {{"--dome-facing"}, "--dome-facing needs inward or outward"},
        {{"--export-panorama", "sky.hdri"}, "--export-panorama needs a file name ending in .png"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Refusal(c.args).rfind(c.message, 0), 0u) << Refusal(c.args);
    }
    const std::string usage = SkydomeUsage();
    for (const char* line : {"  --sky MODEL  ", "  --albedo A  ", "  --altitude M  ", "  --aerosols KIND  ",
                             "  --aod TAU  ", "  --dome-facing SIDE  ", "0.04608 T - 0.04586", ".hdr"}) {
        EXPECT_NE(usage.find(line), std::string::npos) << line;
    }
}

// Skies for engines: what each export takes, and a time-lapse's moments
// read as --time reads a moment, with a step that has a unit.
TEST(SkydomeEngineExportOptions, FilesSizesAndMomentsAreReadOrRefusedByName) {
    SkydomeOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"skydome", "--location", "48.85,2.35", "--time-lapse",
                       "2026-06-21T05:00+02:00,2026-06-22T05:00+02:00,90min", "--export-cubemap", "c.ktx2",
                       "--cubemap-size", "256", "--cubemap-mips", "specular", "--export-irradiance", "i.json"},
                      &o, &error))
        << error;
    EXPECT_TRUE(o.timeLapse);
    EXPECT_TRUE(o.exportOnly);
    EXPECT_EQ(o.lapseStep, 5400.0);
    EXPECT_EQ(o.lapseStart.hour, 5);
    EXPECT_EQ(o.lapseEnd.day, 22);
    EXPECT_EQ(o.cubemapSize, 256);
    EXPECT_EQ(o.cubemapMips, 2);
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--export-cubemap", "sky.hdr"}, "--export-cubemap needs a file name ending in .dds"},
        {{"--export-irradiance", "sky.txt"}, "--export-irradiance needs a file name ending in .json"},
        {{"--export-cubemap", "c.dds", "--cubemap-size", "100"},
         "--cubemap-size: 100 is out of range (a power of two from 16 to 4096)"},
        {{"--export-cubemap", "c.dds", "--cubemap-size", "8192"}, "--cubemap-size: 8192 is out of range"},
        {{"--cubemap-size", "64"}, "--cubemap-size and --cubemap-mips need --export-cubemap"},
        {{"--export-cubemap", "c.dds", "--cubemap-mips", "trilinear"}, "--cubemap-mips needs none, box or specular"},
        {{"--time-lapse", "2026-06-21T05:00Z,2026-06-21T06:00Z"}, "--time-lapse needs START,END,STEP"},
        {{"--time-lapse", "2026-06-21T05:00Z,2026-06-21T06:00Z,10"}, "--time-lapse needs START,END,STEP"},
        {{"--time-lapse", "2026-06-21T05:00Z,2026-06-21T06:00Z,0h"}, "--time-lapse needs START,END,STEP"},
        {{"--time-lapse", "2026-06-21T05:00,2026-06-21T06:00Z,1h"}, "--time-lapse: "},
        {{"--location", "1,2", "--export-irradiance", "i.json", "--time-lapse",
          "2026-06-21T06:00Z,2026-06-21T05:00Z,1h"},
         "--time-lapse: the end 2026-06-21T05:00Z comes before the start 2026-06-21T06:00Z"},
        {{"--location", "1,2", "--export-irradiance", "i.json", "--time-lapse",
          "2026-06-21T00:00Z,2026-06-23T00:00Z,1min"},
         "--time-lapse: 2881 moments; at most 1441"},
        {{"--export-irradiance", "i.json", "--time-lapse", "2026-06-21T05:00Z,2026-06-21T06:00Z,1h"},
         "--time-lapse needs --location"},
        {{"--location", "1,2", "--time", "2026-06-21T05:00Z", "--export-irradiance", "i.json", "--time-lapse",
          "2026-06-21T05:00Z,2026-06-21T06:00Z,1h"},
         "--time and --time-lapse both give the moment"},
        {{"--location", "1,2", "--time-lapse", "2026-06-21T05:00Z,2026-06-21T06:00Z,1h"},
         "--time-lapse needs something to write"},
        {{"--location", "1,2", "--export-irradiance", "i.json", "--save-dome", "d.dff", "--time-lapse",
          "2026-06-21T05:00Z,2026-06-21T06:00Z,1h"},
         "--time-lapse writes its exports for every moment"},
        {{"--export-only", "--frames", "2"},
         "--export-only needs something to write: --export-gltf, --export-panorama, "
         "--export-cubemap, --export-irradiance or --save-dome"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Refusal(c.args).rfind(c.message, 0), 0u) << Refusal(c.args);
    }
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// --exposure takes auto as well as the curve's K, --ev a fixed EV100; the
// last of them given decides, and bad values are refused by name.
TEST(SkydomeExposureOptions, AutoAndAFixedEvAreTakenAndTheLastChoiceDecides) {
    SkydomeOptions o;
    std::string error;
    EXPECT_EQ(o.exposureChoice, ExposureChoiceDefault);
    ASSERT_TRUE(Parse({"skydome", "--exposure", "auto"}, &o, &error)) << error;
    EXPECT_EQ(o.exposureChoice, ExposureChoiceAuto);
    SkydomeOptions e;
    ASSERT_TRUE(Parse({"skydome", "--exposure", "auto", "--ev=-6.5"}, &e, &error)) << error;
    EXPECT_EQ(e.exposureChoice, ExposureChoiceEv);
    EXPECT_EQ(e.ev, -6.5f);
    SkydomeOptions k;
    ASSERT_TRUE(Parse({"skydome", "--ev", "22", "--exposure", "0.3"}, &k, &error)) << error;
    EXPECT_EQ(k.exposureChoice, ExposureChoiceCurve);
    EXPECT_EQ(k.exposure, 0.3f);
    const std::pair<std::vector<const char*>, const char*> refused[] = {
        {{"--ev", "22.5"}, "--ev: 22.5 is out of range (-16 to 22)"},
        {{"--ev", "dusk"}, "--ev needs a number from -16 to 22"},
        {{"--exposure", "automatic"}, "--exposure needs a number from 0.01 to 1, or auto"},
    };
    for (const auto& [args, message] : refused) {
        std::vector<const char*> argv = {"skydome"};
        argv.insert(argv.end(), args.begin(), args.end());
        SkydomeOptions r;
        EXPECT_FALSE(Parse(argv, &r, &error));
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace kv
