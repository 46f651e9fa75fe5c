// The skydome program run whole: options, the picture of its last frame
// written with --screenshot, and the dome saved with --save-dome.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/skydome/options.h"
#include "app/skydome/sky.h"
#include "tools/kvdump/chunkwalk.h"

namespace kv {
namespace {

struct RunResult {
    int status;
    std::string output;  // stdout and stderr together
};

RunResult RunSkydome(const std::string& arguments) {
    const std::string command = std::string("'") + KV_SKYDOME_PROGRAM + "' " + arguments + " 2>&1";
    RunResult run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) run.output += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

struct Picture {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

Picture ReadPng(const std::string& file) {
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return p;
    image.format = PNG_FORMAT_RGB;
    p.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr) == 0) return p;
    p.ok = true;
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    return p;
}

// The pixel at (x, y), red, green, blue.
const unsigned char* Pixel(const Picture& p, int x, int y) {
    return &p.rgb[3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x))];
}

TEST(SkydomeRun, ScreenshotShowsTheDomeInSkyColoursOnTheClearColour) {
    const std::string file = "skydome_run_out.png";
    std::remove(file.c_str());
    const RunResult run = RunSkydome("-vms --frames 2 --screenshot " + file);
    ASSERT_EQ(run.status, 0) << run.output;
    const Picture p = ReadPng(file);
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.width, 640);
    ASSERT_EQ(p.height, 480);
    // The dome (radius 1 at 4.5, 45 degrees across the width) leaves the
    // corners to the background.
    for (int y : {0, 40, 439, 479}) {
        for (int x : {0, 60, 579, 639}) {
            const unsigned char* c = Pixel(p, x, y);
            EXPECT_TRUE(c[0] == 64 && c[1] == 64 && c[2] == 64) << x << "," << y;
        }
    }
    // Well inside its outline nothing is left of the clear colour.
    std::size_t cleared = 0;
    for (int y = 160; y < 320; ++y) {
        for (int x = 220; x < 420; ++x) {
            const unsigned char* c = Pixel(p, x, y);
            cleared += c[0] == 64 && c[1] == 64 && c[2] == 64 ? 1 : 0;
        }
    }
    EXPECT_EQ(cleared, 0u);
    // The middle of the picture is the sky 45 degrees up towards the camera,
    // Gouraud-shaded between vertices 10 degrees apart.
    ASSERT_TRUE(SkyColorInit());
    SkySetSun(50.0f, 20.0f, kSkyTurbidity);
    const V3d towardsCamera{0.0f, std::sqrt(0.5f), std::sqrt(0.5f)};
    double theta = 0.0, phi = 0.0;
    SkyDirectionAngles(&towardsCamera, &theta, &phi);
    const RGBAReal linear = SkyColor(50.0f * kSkyDegToRad, 20.0f * kSkyDegToRad, theta, phi);
    const RGBA sky = SkyToneMap(&linear, 0.1f);
    const unsigned char* centre = Pixel(p, 320, 240);
    EXPECT_NEAR(centre[0], sky.red, 6);
    EXPECT_NEAR(centre[1], sky.green, 6);
    EXPECT_NEAR(centre[2], sky.blue, 6);
    std::remove(file.c_str());
}

TEST(SkydomeRun, BadOptionsAreRefusedWithAMessage) {
    RunResult run = RunSkydome("--frames");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("--frames needs"), std::string::npos) << run.output;
    run = RunSkydome("--colour red");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("unknown option --colour"), std::string::npos) << run.output;
    run = RunSkydome("-vms --screenshot x.png");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("--screenshot needs --frames"), std::string::npos) << run.output;
    run = RunSkydome("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("--screenshot FILE"), std::string::npos) << run.output;
}

TEST(SkydomeRun, UnwritableScreenshotFailsTheRun) {
    const RunResult run = RunSkydome("-vms --frames 1 --screenshot no/such/folder/out.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot write the screenshot"), std::string::npos) << run.output;
}

TEST(SkydomeOptions, ScreenshotNeedsAFileAndFrames) {
    auto parse = [](std::vector<const char*> argv, SkydomeOptions* o, std::string* error) {
        std::vector<char*> args;
        for (const char* a : argv) args.push_back(const_cast<char*>(a));
        return SkydomeParseOptions(args, o, error);
    };
    SkydomeOptions o;
    std::string error;
    EXPECT_TRUE(parse({"skydome", "--frames", "2", "--screenshot", "a.png", "-vms"}, &o, &error));
    EXPECT_EQ(o.screenshot, "a.png");
    EXPECT_EQ(o.frames, 2);
    SkydomeOptions none;
    EXPECT_FALSE(parse({"skydome", "--frames", "2", "--screenshot"}, &none, &error));
    EXPECT_FALSE(parse({"skydome", "--frames", "0", "--screenshot", "a.png"}, &none, &error));
    // Asking for help is never an error.
    SkydomeOptions help;
    EXPECT_TRUE(parse({"skydome", "--screenshot", "a.png", "--help"}, &help, &error));
}

std::vector<uint8_t> ReadBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(SkydomeRun, SaveDomeWritesTheSkyItWasAskedFor) {
    char pattern[] = "/tmp/kvskydomerun.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    const std::string file = dir + "/batch.dff";
    const RunResult run = RunSkydome("-vms --frames 1 --resolution 4 --sun 30,100 --exposure 0.5 --save-dome " + file);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<uint8_t> bytes = ReadBytes(file);
    const dump::ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok() && !tree.nodes.empty()) << bytes.size();
    const int geometry = tree.FindChild(tree.FindChild(0, 26), 15);
    const dump::ChunkNode& body = tree.nodes[tree.FindChild(geometry, 1)];
    ASSERT_EQ(body.summary, "flags 0x18, triangles 112, vertices 65, morph targets 1");

    // Each saved colour is the model's for the saved direction, sun and exposure.
    ASSERT_TRUE(SkyColorInit());
    SkySetSun(30.0f, 100.0f, kSkyTurbidity);
    const std::size_t prelit = body.BodyOffset() + 28;
    const std::size_t positions = prelit + 4 * 65 + 8 * 112 + 24;
    for (std::size_t i = 0; i < 65; ++i) {
        V3d v;
        std::memcpy(&v, &bytes[positions + 12 * i], sizeof v);
        double theta = 0.0, phi = 0.0;
        SkyDirectionAngles(&v, &theta, &phi);
        const RGBAReal linear = SkyColor(30.0f * kSkyDegToRad, 100.0f * kSkyDegToRad, theta, phi);
        const RGBA want = SkyToneMap(&linear, 0.5f);
        EXPECT_EQ(std::memcmp(&bytes[prelit + 4 * i], &want, 4), 0) << i;
    }
}

TEST(SkydomeRun, AFailedSaveIsReportedAndFailsTheRun) {
    RunResult run = RunSkydome("-vms --frames 1 --save-dome /no/such/folder/sky.dff");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Cannot open stream."), std::string::npos) << run.output;
    run = RunSkydome("-vms --frames 1 --save-dome /tmp");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Cannot save the dome to /tmp: it is a folder"), std::string::npos) << run.output;
    run = RunSkydome("-vms --frames 1 --sun 90,20 --save-dome x.dff");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("--sun: the zenith angle 90 is out of range"), std::string::npos) << run.output;
}

// A picture of the program's second frame, or a failed one.
Picture Shoot(const std::string& arguments, const std::string& file) {
    std::remove(file.c_str());
    const RunResult run = RunSkydome("-vms --frames 2 --screenshot " + file + " " + arguments);
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.output;
    Picture p = ReadPng(file);
    std::remove(file.c_str());
    return p;
}

bool Within(const unsigned char* c, int r, int g, int b, int tolerance) {
    return std::abs(c[0] - r) <= tolerance && std::abs(c[1] - g) <= tolerance && std::abs(c[2] - b) <= tolerance;
}

TEST(SkydomeRun, TheSoftwarePipelinesDrawTheDomeAsTheDriverDoes) {
    for (const char* rings : {"9", "32"}) {
        SCOPED_TRACE(rings);
        const std::string common = std::string("--resolution ") + rings;
        const Picture driver = Shoot(common, "skydome_driver.png");
        const Picture software = Shoot(common + " --software-pipelines", "skydome_software.png");
        ASSERT_TRUE(driver.ok && software.ok);
        ASSERT_EQ(driver.rgb.size(), software.rgb.size());
        std::size_t same = 0, dome = 0;
        const std::size_t n = driver.rgb.size() / 3;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char* a = &driver.rgb[3 * i];
            const unsigned char* b = &software.rgb[3 * i];
            same += Within(a, b[0], b[1], b[2], 8) ? 1 : 0;
            dome += Within(a, 64, 64, 64, 0) ? 0 : 1;
        }
        EXPECT_GE(static_cast<double>(same), 0.99 * static_cast<double>(n));
        // Not two empty pictures: the dome and the ground cover a good part.
        EXPECT_GT(dome, n / 4);
    }
}

TEST(SkydomeRun, TheOverlaysShowWhereTheyBelong) {
    const Picture plain = Shoot("--show none", "skydome_plain.png");
    const Picture all = Shoot("--show ground,wire,normals", "skydome_overlays.png");
    const Picture soft = Shoot("--show ground,wire,normals --software-pipelines", "skydome_overlays_sw.png");
    ASSERT_TRUE(plain.ok && all.ok && soft.ok);
    for (const Picture* p : {&all, &soft}) {
        // The ground's near corners reach out beside and below the dome,
        // textured with the green ground picture: no flat colour.
        std::set<int> greens;
        for (auto [x, y] : {std::pair{110, 390}, std::pair{530, 390}, std::pair{120, 300}, std::pair{520, 330},
                            std::pair{160, 380}, std::pair{500, 370}}) {
            EXPECT_TRUE(Within(Pixel(plain, x, y), 64, 64, 64, 0)) << x << "," << y;
            const unsigned char* c = Pixel(*p, x, y);
            EXPECT_TRUE(c[1] > c[0] && c[1] > c[2]) << x << "," << y;
            greens.insert(c[1]);
        }
        EXPECT_GE(greens.size(), 3u);
        std::size_t wire = 0, normals = 0, normalsOff = 0, wireAbove = 0;
        for (int y = 0; y < p->height; ++y) {
            for (int x = 0; x < p->width; ++x) {
                const unsigned char* c = Pixel(*p, x, y);
                if (Within(c, 160, 64, 0, 12)) {
                    ++wire;
                    if (y < 60) ++wireAbove;
                }
                if (Within(c, 64, 160, 0, 12)) {
                    ++normals;
                    if (Within(Pixel(plain, x, y), 64, 64, 64, 0)) ++normalsOff;
                }
            }
        }
        // The wire lies on the dome; the normals stick out past its outline.
        EXPECT_GT(wire, 3000u);
        EXPECT_EQ(wireAbove, 0u);
        EXPECT_GT(normals, 1000u);
        EXPECT_GT(normalsOff, 300u);
    }
    // Drawn each way, the overlays land on the same pixels.
    std::size_t same = 0;
    const std::size_t n = all.rgb.size() / 3;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char* b = &soft.rgb[3 * i];
        same += Within(&all.rgb[3 * i], b[0], b[1], b[2], 8) ? 1 : 0;
    }
    EXPECT_GE(static_cast<double>(same), 0.98 * static_cast<double>(n));
}

TEST(SkydomeRun, UnknownOverlaysAreRefusedByName) {
    const RunResult run = RunSkydome("-vms --frames 1 --show wire,grid");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("unknown overlay 'grid'"), std::string::npos) << run.output;
    const RunResult help = RunSkydome("--help");
    EXPECT_NE(help.output.find("--show LIST"), std::string::npos);
    EXPECT_NE(help.output.find("--software-pipelines"), std::string::npos);
}

}  // namespace
}  // namespace kv
