// The skydome program run whole: options, the picture of its last frame
// written with --screenshot, and the dome saved with --save-dome.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/skydome/options.h"
#include "app/skydome/program_sky.h"
#include "picture.h"
#include "run_command.h"
#include "sky/analytic_sky.h"
#include "tools/kvdump/chunk_walk.h"

namespace kv {
namespace {

using RunResult = test::CommandRun;
using test::Picture;

// environment: a prefix such as "env -u DISPLAY".
RunResult RunSkydome(const std::string& arguments, const std::string& environment = "") {
    return test::RunCommand(environment + " '" + KV_SKYDOME_PROGRAM + "' " + arguments + " 2>&1");
}

TEST(SkydomeRun, TheHelpTextLiesBesideTheProgram) {
    // The help page is found there when the program is started from another
    // folder: the text of assets/readme.txt with the options from --help.
    const std::string program = KV_SKYDOME_PROGRAM;
    const std::string beside = program.substr(0, program.rfind('/') + 1) + "readme.txt";
    std::ifstream a(beside, std::ios::binary), b(std::string(KV_ASSETS_DIR) + "readme.txt", std::ios::binary);
    ASSERT_TRUE(a.good()) << beside;
    ASSERT_TRUE(b.good());
    const std::string built((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
    const std::string written((std::istreambuf_iterator<char>(b)), std::istreambuf_iterator<char>());
    const std::size_t marker = written.find("@SKYDOME_HELP@\n");
    ASSERT_NE(marker, std::string::npos);
    const std::string before = written.substr(0, marker), after = written.substr(marker + 15);
    ASSERT_GT(built.size(), before.size() + after.size());
    EXPECT_EQ(built.substr(0, before.size()), before);
    EXPECT_EQ(built.substr(built.size() - after.size()), after);
    EXPECT_EQ(built.substr(before.size()).rfind("  Usage: skydome [OPTION]... [-vms]\n", 0), 0u);
    EXPECT_EQ(built.rfind("KV3 SKYDOME CREATOR - HELP", 0), 0u);
}

TEST(SkydomeRun, ScreenshotShowsTheDomeInSkyColoursOnTheClearColour) {
    const std::string file = "skydome_run_out.png";
    std::remove(file.c_str());
    const RunResult run = RunSkydome("-vms --frames 2 --screenshot " + file);
    ASSERT_EQ(run.status, 0) << run.output;
    const Picture p = test::PictureReadPng(file);
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.width, 640);
    ASSERT_EQ(p.height, 480);
    // The dome (radius 1 at 4.5, 45 degrees across the width) leaves the
    // corners to the background, but for the logo 5 pixels from the left and
    // bottom edges (64 x 40 in this window) and the panels of the menu and
    // the data display (the menu's from 12 down to 436 on the left, 12 to 44,
    // 110 to 142 and 416 to 462 on the right).
    const auto inLogo = [](int x, int y) { return x >= 5 && x < 69 && y >= 435 && y < 475; };
    const auto inMenu = [](int x, int y) { return x >= 18 && x < 262 && y >= 12 && y < 436; };
    for (int y : {0, 300, 479}) {
        for (int x : {0, 60, 579, 639}) {
            if (inLogo(x, y) || inMenu(x, y)) continue;
            const unsigned char* c = p.At(x, y);
            EXPECT_TRUE(c[0] == 64 && c[1] == 64 && c[2] == 64) << x << "," << y;
        }
    }
    std::size_t logoPixels = 0;
    for (int y = 435; y < 475; ++y) {
        for (int x = 5; x < 69; ++x) {
            const unsigned char* c = p.At(x, y);
            logoPixels += c[0] == 64 && c[1] == 64 && c[2] == 64 ? 0 : 1;
        }
    }
    EXPECT_GT(logoPixels, 64u * 40u / 4) << "the logo is drawn in the bottom-left corner";
    // Well inside its outline nothing is left of the clear colour.
    std::size_t cleared = 0;
    for (int y = 160; y < 320; ++y) {
        for (int x = 220; x < 420; ++x) {
            const unsigned char* c = p.At(x, y);
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
    const unsigned char* centre = p.At(320, 240);
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
    EXPECT_NE(run.output.find("Cannot write the screenshot no/such/folder/out.png: the folder it would go in does not "
                              "exist"),
              std::string::npos)
        << run.output;
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

// Saved files are what other programs read: the defaults and the largest dome
// stay byte for byte what this program has always written. A change here is a
// change of the file format or of the sky, never a side effect. The last
// change: the dome is saved in its own frame (the identity) where it was
// saved placed and turned as the orbit view shows it (at 0, 0, 4.5, turned
// half round and tilted); only the first frame's matrix and flags changed.
TEST(SkydomeRun, SavedDomesKeepTheirBytes) {
    const auto fnv1a = [](const std::vector<uint8_t>& bytes) {
        uint64_t h = 0xcbf29ce484222325ull;
        for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
        return h;
    };
    char pattern[] = "/tmp/kvskydomebytes.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    const struct {
        const char* options;
        std::size_t size;
        uint64_t hash;
    } cases[] = {{"", 21840, 0x7029788213e3d8fdull}, {"--resolution 32", 276496, 0x597480b695c93b66ull}};
    for (const auto& c : cases) {
        const std::string file = dir + "/sky.dff";
        const RunResult run = RunSkydome(std::string("-vms --frames 1 ") + c.options + " --save-dome " + file);
        ASSERT_EQ(run.status, 0) << run.output;
        const std::vector<uint8_t> bytes = ReadBytes(file);
        EXPECT_EQ(bytes.size(), c.size) << c.options;
        EXPECT_EQ(fnv1a(bytes), c.hash) << c.options;
    }
}

// What failed, on which file, why and what to do, in words: no engine codes,
// and no "unchanged" file where there was none.
TEST(SkydomeRun, AFailedSaveIsReportedInWordsAndFailsTheRun) {
    RunResult run = RunSkydome("-vms --frames 1 --save-dome /no/such/folder/sky.dff");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Cannot save the dome to /no/such/folder/sky.dff: the folder it would go in does not "
                              "exist (No such file or directory). Make the folder first, or give a name in a folder "
                              "that exists.\n"),
              std::string::npos)
        << run.output;
    for (const char* internal : {"Cannot open stream.", "unchanged", "module", "0x"}) {
        EXPECT_EQ(run.output.find(internal), std::string::npos) << internal << "\n" << run.output;
    }
    run = RunSkydome("-vms --frames 1 --save-dome /tmp");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Cannot save the dome to /tmp: it is a folder"), std::string::npos) << run.output;
    run = RunSkydome("-vms --frames 1 --sun 90,20 --save-dome x.dff");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("--sun: the zenith angle 90 is out of range"), std::string::npos) << run.output;
}

// The program copied into a folder of its own with all its pictures but one,
// and started from another folder: it finds nothing else, says what it looked
// for and where, and stops.
TEST(SkydomeRun, AMissingPictureIsNamedWithWhereItWasLookedFor) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/kvskydomedata.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{dir};
    const fs::path program = KV_SKYDOME_PROGRAM;
    const fs::path pictures = program.parent_path() / "textures";
    const struct {
        const char* missing;
        const char* message;  // the program's own text
        const char* named;    // what it says it looked for
    } cases[] = {
        {"ground.png", "Cannot create ground texture.", "There is no picture ground."},
        {"flare2.png", "Error initializing camera flares.", "There is no picture flare2."},
        {"flare5m.bmp", "Error initializing camera flares.", "There is no picture flare5m."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.missing);
        fs::remove_all(dir / "bin");
        fs::create_directories(dir / "bin" / "textures");
        fs::create_directories(dir / "work");
        fs::copy_file(program, dir / "bin" / "skydome");
        for (const auto& e : fs::directory_iterator(pictures)) {
            if (e.path().filename() != c.missing)
                fs::copy_file(e.path(), dir / "bin" / "textures" / e.path().filename());
        }
        const std::string command =
            "cd '" + (dir / "work").string() + "' && '" + (dir / "bin" / "skydome").string() + "' -vms --frames 1 2>&1";
        RunResult run{-1, {}};
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << run.output;
        EXPECT_NE(run.output.find(std::string("KV3 Skydome Creator: ") + c.message + "\n"), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(c.named), std::string::npos) << run.output;
        // Both file names it would take, and every folder it looked in.
        const std::string stem = fs::path(c.missing).stem().string();
        EXPECT_NE(run.output.find(stem + ".png"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(stem + ".bmp"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(" in " + (dir / "bin").string() + "/textures/, "), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("./textures/"), std::string::npos) << "the current folder is not the program's";
        EXPECT_EQ(run.output.find("skydome: no display"), std::string::npos) << "no frame is drawn";
    }
}

// A picture of the program's second frame, or a failed one.
Picture Shoot(const std::string& arguments, const std::string& file) {
    std::remove(file.c_str());
    const RunResult run = RunSkydome("-vms --frames 2 --screenshot " + file + " " + arguments);
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.output;
    Picture p = test::PictureReadPng(file);
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

// The physical sky's default photographic exposure shows dusk, with the sun
// 4 degrees down, where the brightest exposure of the curve shows black;
// and the moon of a place and a moment is where it stands, a bright disc.
TEST(SkydomeRun, DuskAndTheMoonAreSeenWithThePhysicalSkysExposure) {
    auto mean = [](const Picture& p, int x0, int y0, int x1, int y1) {
        double sum = 0.0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) sum += (p.At(x, y)[0] + p.At(x, y)[1] + p.At(x, y)[2]) / 3.0;
        }
        return sum / ((x1 - x0) * (y1 - y0));
    };
    const std::string dusk = "--sky physical --sun 94,200 --view preview --look 10,200 --show none";
    const Picture metered = Shoot(dusk, "skydome_dusk.png");
    const Picture curve = Shoot(dusk + " --exposure 1", "skydome_dusk_curve.png");
    ASSERT_TRUE(metered.ok && curve.ok);
    EXPECT_GT(mean(metered, 0, 0, 640, 200), 60.0);
    EXPECT_LT(mean(curve, 0, 0, 640, 200), 20.0);
    // Paris, the evening before a full moon: the moon 5.5 degrees high at
    // compass azimuth 147.5 (python3-ephem), 0.52 degrees across, in a view
    // 10 degrees wide (about 33 pixels).
    const Picture moon = Shoot(
        "--sky physical --location 48.8566,2.3522 --time 2026-06-28T22:30+02:00 --view preview --look 5.5,212.5 "
        "--fov 10 --show none",
        "skydome_moon.png");
    ASSERT_TRUE(moon.ok);
    EXPECT_GT(mean(moon, 320 - 8, 240 - 8, 320 + 8, 240 + 8), 200.0);
    EXPECT_LT(mean(moon, 0, 0, 100, 100), 160.0);
}

// The flares only add light, along the line from the sun's image through the
// middle of the view, and only while the camera faces the sun.
TEST(SkydomeRun, LensFlaresAddLightTowardsTheSunOnly) {
    const std::string towards = "--view preview --look 20,355 --show none";
    const Picture plain = Shoot(towards, "skydome_noflares.png");
    const Picture flares = Shoot(towards + ",flares", "skydome_flares.png");
    ASSERT_TRUE(plain.ok && flares.ok);
    std::size_t brighter = 0, darker = 0;
    for (std::size_t i = 0; i < plain.rgb.size(); ++i) {
        brighter += flares.rgb[i] > plain.rgb[i] + 20 ? 1 : 0;
        darker += flares.rgb[i] + 1 < plain.rgb[i] ? 1 : 0;
    }
    EXPECT_GT(brighter, 20000u);
    EXPECT_EQ(darker, 0u);
    // The middle of the view lies on the line: the small flares near the
    // centre light it.
    const unsigned char* a = plain.At(320, 240);
    const unsigned char* b = flares.At(320, 240);
    EXPECT_GT(b[0] + b[1] + b[2], a[0] + a[1] + a[2]);

    const std::string away = "--view preview --look 20,200 --show none";
    const Picture awayPlain = Shoot(away, "skydome_away.png");
    const Picture awayFlares = Shoot(away + ",flares", "skydome_awayflares.png");
    ASSERT_TRUE(awayPlain.ok && awayFlares.ok);
    EXPECT_EQ(awayPlain.rgb, awayFlares.rgb) << "the sun behind the camera: no flares";
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
            EXPECT_TRUE(Within(plain.At(x, y), 64, 64, 64, 0)) << x << "," << y;
            const unsigned char* c = p->At(x, y);
            EXPECT_TRUE(c[1] > c[0] && c[1] > c[2]) << x << "," << y;
            greens.insert(c[1]);
        }
        EXPECT_GE(greens.size(), 3u);
        std::size_t wire = 0, normals = 0, normalsOff = 0, wireAbove = 0;
        for (int y = 0; y < p->height; ++y) {
            for (int x = 0; x < p->width; ++x) {
                const unsigned char* c = p->At(x, y);
                if (Within(c, 160, 64, 0, 12)) {
                    ++wire;
                    if (y < 60) ++wireAbove;
                }
                if (Within(c, 64, 160, 0, 12)) {
                    ++normals;
                    if (Within(plain.At(x, y), 64, 64, 64, 0)) ++normalsOff;
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

// The program started in a folder of its own with each argument as given (no
// shell between), its output collected.
class SkydomeInFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvskydomefiles.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // fileLimit > 0: the file-size limit (bytes) the program runs under;
    // addressSpace > 0: the limit on its memory (bytes).
    pid_t Start(const std::vector<std::string>& args, int* output, long fileLimit = 0, long addressSpace = 0) {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            close(fds[1]);
            if (chdir(dir.c_str()) != 0) _exit(126);
            if (fileLimit > 0) {
                const rlimit limit{static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (addressSpace > 0) {
                const rlimit limit{static_cast<rlim_t>(addressSpace), static_cast<rlim_t>(addressSpace)};
                setrlimit(RLIMIT_AS, &limit);
            }
            std::vector<char*> argv{const_cast<char*>(KV_SKYDOME_PROGRAM)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(KV_SKYDOME_PROGRAM, argv.data());
            _exit(127);
        }
        close(fds[1]);
        *output = fds[0];
        return pid;
    }
    // Exit status, or 128 + the signal that ended it. A run still going after
    // the deadline is killed and reported (status -2): a hang fails its test
    // at once instead of holding the whole suite.
    static RunResult Finish(pid_t pid, int output, int deadlineSeconds = 60) {
        RunResult r{-1, {}};
        char buffer[256];
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
        bool hung = false;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            pollfd p{output, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) == 0) {
                hung = true;
                break;
            }
            const ssize_t n = read(output, buffer, sizeof buffer);
            if (n > 0) {
                r.output.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        close(output);
        if (hung) kill(pid, SIGKILL);
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return r;
        if (hung) {
            r.status = -2;
            r.output += "\n[the run did not end within " + std::to_string(deadlineSeconds) + " s and was killed]";
            return r;
        }
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        return r;
    }
    RunResult Run(const std::vector<std::string>& args, long fileLimit = 0, long addressSpace = 0) {
        int output = -1;
        const pid_t pid = Start(args, &output, fileLimit, addressSpace);
        if (pid < 0) return {-1, "cannot start"};
        return Finish(pid, output);
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path dir;
};

// Whether the process catches the signal yet (its handlers are installed as
// the shell starts).
bool Catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
    }
    return false;
}

TEST_F(SkydomeInFolder, AnInterruptedRunSavesTheDomeButFailsForThePictureItDidNotTake) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        std::filesystem::remove(dir / "sky.dff");
        int output = -1;
        const pid_t pid =
            Start({"-vms", "--frames", "1000000", "--screenshot", "shot.png", "--save-dome", "sky.dff"}, &output);
        ASSERT_GT(pid, 0);
        for (int i = 0; i < 500 && !Catches(pid, signal); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(pid, signal);
        const RunResult run = Finish(pid, output);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("the screenshot shot.png was not taken: the run ended after "), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(" of 1000000 frames (interrupted by SIG"), std::string::npos) << run.output;
        EXPECT_FALSE(std::filesystem::exists(dir / "shot.png"));
        EXPECT_EQ(ReadBytes(Path("sky.dff")).size(), 21840u);
    }
    // With no picture asked, a hang-up is a normal end.
    int output = -1;
    const pid_t pid = Start({"-vms", "--frames", "1000000", "--save-dome", "hup.dff"}, &output);
    for (int i = 0; i < 500 && !Catches(pid, SIGHUP); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGHUP);
    const RunResult run = Finish(pid, output);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadBytes(Path("hup.dff")).size(), 21840u);
}

// Polls until ready() or about a minute has passed (a sanitizer build takes
// seconds to reach a large panorama's compression).
template <typename Ready>
bool WaitFor(Ready ready) {
    for (int i = 0; i < 6000; ++i) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A quit signal sent at a chosen moment: the run's end, how long it took from
// the signal, and what the folder holds then.
struct Interrupted {
    RunResult run;
    double seconds = 0.0;
};

// A quit signal ends the program in every phase, in order, within about a
// second (the bound here only tells an end from a hang, sanitizer builds
// included), and leaves no new file behind.
constexpr double kQuitBound = 5.0;

class SkydomeInterrupted : public SkydomeInFolder {
  protected:
    // Starts the program, waits until atMoment() (false: the test fails),
    // sends the signals, and collects the end.
    template <typename Moment>
    Interrupted Interrupt(const std::vector<std::string>& args, Moment atMoment, std::vector<int> signals = {SIGTERM}) {
        Interrupted i;
        int output = -1;
        const pid_t pid = Start(args, &output);
        EXPECT_GT(pid, 0);
        if (pid <= 0) return i;
        EXPECT_TRUE(WaitFor([&] { return atMoment(pid); })) << "the moment never came";
        const auto sent = std::chrono::steady_clock::now();
        for (std::size_t k = 0; k < signals.size(); ++k) {
            if (k > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            kill(pid, signals[k]);
        }
        i.run = Finish(pid, output);
        i.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
        std::printf("  ended %.3f s after the signal, status %d\n", i.seconds, i.run.status);
        return i;
    }
    bool HasNewFile() const {
        for (const std::string& name : Entries()) {
            if (name.rfind(".kvsave-", 0) == 0) return true;
        }
        return false;
    }
};

TEST_F(SkydomeInterrupted, AtStartUpTheRunEndsInOrderAndSavesTheDome) {
    // The signal is caught from the program's first steps; start-up goes on
    // to its end, the frames do not begin, the dome is saved.
    const Interrupted i = Interrupt({"-vms", "--frames", "1000000", "--save-dome", "sky.dff"},
                                    [](pid_t pid) { return Catches(pid, SIGTERM); });
    EXPECT_EQ(i.run.status, 0) << i.run.output;
    EXPECT_LT(i.seconds, kQuitBound);
    EXPECT_EQ(ReadBytes(Path("sky.dff")).size(), 21840u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"sky.dff"});
}

TEST_F(SkydomeInterrupted, ExportOnlyStopsThePanoramaAndLeavesTheOldFile) {
    // The sky is computed and written a row at a time (EXR), or computed and
    // then compressed (PNG): the new file exists in both phases.
    for (const char* name : {"big.exr", "big.png"}) {
        SCOPED_TRACE(name);
        std::filesystem::remove(dir / "d.dff");
        std::ofstream(dir / name) << "old";
        const Interrupted i =
            Interrupt({"--export-only", "--export-panorama", name, "--panorama-size", "8192", "--save-dome", "d.dff"},
                      [this](pid_t) { return HasNewFile(); });
        EXPECT_EQ(i.run.status, 1) << i.run.output;
        EXPECT_LT(i.seconds, kQuitBound);
        EXPECT_NE(i.run.output.find(std::string("skydome: Cannot write the panorama to ") + name +
                                    ": interrupted by SIGTERM."),
                  std::string::npos)
            << i.run.output;
        // The dome takes no time: it is still saved, as a windowed run saves it.
        EXPECT_FALSE(HasNewFile());
        EXPECT_TRUE(std::filesystem::exists(dir / "d.dff"));
        EXPECT_EQ(ReadBytes(Path(name)).size(), 3u);
    }
}

TEST_F(SkydomeInterrupted, ATimeLapseStopsAndItsIndexListsOnlyTheFilesWritten) {
    // Large panoramas, a moment every ten minutes: the signal comes while
    // the first moments are being written.
    const Interrupted i = Interrupt(
        {"--location", "48.8566,2.3522", "--time-lapse", "2026-06-21T07:00+02:00,2026-06-21T20:00+02:00,10min",
         "--export-panorama", "s.exr", "--panorama-size", "4096"},
        [this](pid_t) { return HasNewFile(); });
    EXPECT_EQ(i.run.status, 1) << i.run.output;
    EXPECT_LT(i.seconds, kQuitBound);
    EXPECT_NE(i.run.output.find("The time-lapse stopped (interrupted by SIGTERM)"), std::string::npos) << i.run.output;
    EXPECT_FALSE(HasNewFile());
    std::ifstream in(Path("s-index.json"));
    const std::string index((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(index.empty());
    // Every moment the index calls shown has its file, and every file its moment.
    std::size_t shown = 0;
    for (std::size_t at = index.find("\"panorama\": \""); at != std::string::npos;
         at = index.find("\"panorama\": \"", at + 1)) {
        const std::size_t begin = at + 14;
        EXPECT_TRUE(std::filesystem::exists(Path(index.substr(begin, index.find('"', begin) - begin))));
        ++shown;
    }
    EXPECT_EQ(Entries().size(), shown + 1);
}

TEST_F(SkydomeInterrupted, AWaitOnAPipeNobodyReadsIsBrokenOff) {
    // Blocked in open() on the pipe when the signal comes (the glTF, written
    // first, says the save is next)...
    ASSERT_EQ(mkfifo(Path("out").c_str(), 0600), 0);
    Interrupted i = Interrupt({"--export-only", "--export-gltf", "d.glb", "--save-dome", "out"}, [this](pid_t) {
        if (!std::filesystem::exists(dir / "d.glb")) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return true;
    });
    EXPECT_EQ(i.run.status, 1) << i.run.output;
    EXPECT_LT(i.seconds, kQuitBound);
    EXPECT_NE(i.run.output.find("Cannot save the dome to out: "), std::string::npos) << i.run.output;
    // ... or beginning the wait after it: the windowed run's save at its end.
    i = Interrupt({"-vms", "--frames", "1000000", "--save-dome", "out"},
                  [](pid_t pid) { return Catches(pid, SIGTERM); });
    EXPECT_EQ(i.run.status, 1) << i.run.output;
    EXPECT_LT(i.seconds, kQuitBound);
    EXPECT_NE(i.run.output.find("Cannot save the dome to out: "), std::string::npos) << i.run.output;
    EXPECT_EQ(Entries(), (std::vector<std::string>{"d.glb", "out"}));
}

// Two signals in quick succession, as an impatient person or a supervisor
// sends them: whichever ends the program, no new file is left, and the file
// that was there stays as it was.
TEST_F(SkydomeInterrupted, TwoSignalsLeaveNoNewFileBehind) {
    for (const char* name : {"big.exr", "big.png"}) {
        SCOPED_TRACE(name);
        std::ofstream(dir / name) << "old";
        const Interrupted i = Interrupt({"--export-only", "--export-panorama", name, "--panorama-size", "8192"},
                                        [this](pid_t) { return HasNewFile(); }, {SIGINT, SIGTERM});
        EXPECT_LT(i.seconds, kQuitBound);
        // In order (the first signal's), or at once by the second. Under load
        // the two may be handled in either order (each by whichever thread the
        // kernel picks), so the one that ends the program may be SIGINT.
        EXPECT_TRUE(i.run.status == 1 || i.run.status == 128 + SIGTERM || i.run.status == 128 + SIGINT)
            << i.run.status << " " << i.run.output;
        EXPECT_FALSE(HasNewFile());
        EXPECT_EQ(ReadBytes(Path(name)).size(), 3u);
    }
}

TEST_F(SkydomeInFolder, NamesAreTakenAsGivenAndLinksWrittenThrough) {
    std::filesystem::create_directory(dir / "pictures");
    std::filesystem::create_symlink("pictures/shot.png", dir / "latest.png");
    const std::string longName(255, 'd');
    RunResult run = Run({"-vms", "--frames", "1", "--screenshot", "latest.png", "--save-dome", "a\\b.dff"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "latest.png"));
    EXPECT_TRUE(test::PictureReadPng(Path("pictures/shot.png")).ok);
    // The backslash is part of the user's name, not a separator.
    EXPECT_EQ(ReadBytes(Path("a\\b.dff")).size(), 21840u);
    EXPECT_FALSE(std::filesystem::exists(dir / "a"));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a\\b.dff", "latest.png", "pictures"}));

    // A name as long as a folder holds is saved; a failed picture names its
    // path and the reason.
    run = Run({"-vms", "--frames", "1", "--save-dome", longName, "--screenshot", "missing/x.png"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Cannot write the screenshot missing/x.png: the folder it would go in does not exist (No "
                              "such file or directory). Make the folder first, or give a name in a folder that "
                              "exists.\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadBytes(Path(longName)).size(), 21840u);

    // A forgotten value is not a file name.
    run = Run({"-vms", "--save-dome", "--frames", "10"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("--save-dome needs a file name, not the option --frames"), std::string::npos)
        << run.output;
    run = Run({"-vms", "--frames", "1", "stray"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a\\b.dff", longName, "latest.png", "pictures"}));
}

TEST_F(SkydomeInFolder, AFileSizeLimitFailsTheSaveAndKeepsTheOldFile) {
    std::ofstream(dir / "sky.dff") << "the dome saved yesterday";
    const RunResult run = Run({"-vms", "--frames", "1", "--save-dome", "sky.dff"}, 10000);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Cannot save the dome to sky.dff: it would grow past the largest file allowed (the "
                              "file-size limit) (File too large). Raise the limit (ulimit -f), or write to another "
                              "disk. The file there is unchanged.\n"),
              std::string::npos)
        << run.output;
    const std::vector<uint8_t> kept = ReadBytes(Path("sky.dff"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "the dome saved yesterday");
    EXPECT_EQ(Entries(), std::vector<std::string>{"sky.dff"});
}

TEST_F(SkydomeInFolder, DevicesAreWrittenInPlaceNeverReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "devices can be made only by an administrator";
    // Our own full and null devices, never the system's.
    ASSERT_EQ(mknod(Path("full").c_str(), S_IFCHR | 0600, makedev(1, 7)), 0);
    ASSERT_EQ(mknod(Path("null").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    RunResult run = Run({"-vms", "--frames", "1", "--save-dome", "full", "--screenshot", "null"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Cannot save the dome to full: the disk is full (No space left on device). Free some "
                              "space, or write to another disk.\n"),
              std::string::npos)
        << run.output;
    run = Run({"-vms", "--frames", "1", "--save-dome", "null", "--screenshot", "full"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Cannot write the screenshot full: the disk is full (No space left on device)"),
              std::string::npos)
        << run.output;
    EXPECT_TRUE(std::filesystem::is_character_file(dir / "full"));
    EXPECT_TRUE(std::filesystem::is_character_file(dir / "null"));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"full", "null"}));
}

// Started in someone's project, the program takes its help and pictures from
// its own data, never from that folder: not its readme.txt (here a link to
// /dev/zero, which would never end), not its textures/ (a pipe, which would
// hold open() up for ever, and a ground that is no picture). Only --data
// names a folder of the user's own, where what is no regular file is passed
// over with a warning naming it.
TEST_F(SkydomeInFolder, TheProgramsDataIsItsOwnUnlessDataNamesAFolder) {
    namespace fs = std::filesystem;
    fs::create_symlink("/dev/zero", dir / "readme.txt");
    fs::create_directory(dir / "textures");
    ASSERT_EQ(mkfifo(Path("textures/ground.png").c_str(), 0600), 0);
    std::ofstream(dir / "textures" / "flare0.png") << "not a picture";
    RunResult run = Run({"-vms", "--frames", "2", "--save-dome", "sky.dff"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("skipped"), std::string::npos) << run.output;
    EXPECT_EQ(ReadBytes(Path("sky.dff")).size(), 21840u);

    fs::remove(dir / "textures" / "flare0.png");
    run = Run({"-vms", "--frames", "2", "--data", "."});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(": ./textures/ground.png is a named pipe, not a file: skipped\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(": ./readme.txt is a character device, not a file: skipped\n"), std::string::npos)
        << run.output;

    // A ground of the user's own, red, is the ground only with --data.
    fs::remove(dir / "textures" / "ground.png");
    png_image red{};
    red.version = PNG_IMAGE_VERSION;
    red.width = red.height = 16;
    red.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(16 * 16 * 3, 0);
    for (std::size_t i = 0; i < pixels.size(); i += 3) pixels[i] = 255;
    ASSERT_NE(png_image_write_to_file(&red, Path("textures/ground.png").c_str(), 0, pixels.data(), 0, nullptr), 0);
    const auto redPixels = [&](const std::vector<std::string>& args) {
        const RunResult shot = Run(args);
        EXPECT_EQ(shot.status, 0) << shot.output;
        const Picture p = test::PictureReadPng(Path("shot.png"));
        std::size_t n = 0;
        for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3)
            n += p.rgb[i] > 120 && p.rgb[i + 1] < 40 && p.rgb[i + 2] < 40;
        return n;
    };
    EXPECT_EQ(redPixels({"-vms", "--frames", "2", "--screenshot", "shot.png"}), 0u);
    EXPECT_GT(redPixels({"-vms", "--frames", "2", "--screenshot", "shot.png", "--data", "."}), 1000u);
}

// /dev/stdout, when standard output is a pipe, is a link the kernel alone can
// follow (/proc/self/fd/1 -> "pipe:[N]"): the dome goes down the pipe.
TEST(SkydomeRun, TheDomeIsSavedToStandardOutputWhenItIsAPipe) {
    for (const char* name : {"/dev/stdout", "/proc/self/fd/1"}) {
        const RunResult run = RunSkydome(std::string("--export-only --save-dome ") + name);
        EXPECT_EQ(run.status, 0) << name;
        ASSERT_EQ(run.output.size(), 21840u) << name << ": " << run.output.substr(0, 200);
        EXPECT_EQ(run.output.compare(0, 4, "\x10\0\0\0", 4), 0) << "a clump chunk";
    }
}

// A file that may be written, in a folder that may not: the save makes its
// new file beside the old one, so it is the folder that is named, with what
// to do, and the file stays as it was.
TEST_F(SkydomeInFolder, AFolderThatTakesNoNewFileIsNamedWithWhatToDo) {
    namespace fs = std::filesystem;
    fs::create_directory(dir / "locked");
    std::ofstream(dir / "locked" / "sky.dff") << "kept";
    fs::permissions(dir / "locked" / "sky.dff", fs::perms(0666));
    fs::permissions(dir / "locked", fs::perms(0555));
    fs::permissions(dir, fs::perms(0755));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        // A folder's mode binds only an ordinary user.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execl(KV_SKYDOME_PROGRAM, KV_SKYDOME_PROGRAM, "--export-only", "--save-dome", "locked/sky.dff", nullptr);
        _exit(127);
    }
    close(fds[1]);
    const RunResult run = Finish(pid, fds[0]);
    fs::permissions(dir / "locked", fs::perms(0755));
    if (run.status == 77) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Cannot save the dome to locked/sky.dff: its folder cannot be written to (Permission "
                              "denied). A save writes the new file beside the old one before it takes the old one's "
                              "place, so save into a folder you can write to, or make this one writable. The file "
                              "there is unchanged."),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadBytes(Path("locked/sky.dff")).size(), 4u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"locked"});
}

// A folder of its own for a run's files, removed with everything in it.
struct RunFolder {
    std::string dir;
    RunFolder() {
        char pattern[] = "/tmp/kvskydomeexport.XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir = pattern;
    }
    ~RunFolder() { std::filesystem::remove_all(dir); }
    std::string operator/(const std::string& name) const { return dir + "/" + name; }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(SkydomeRun, ExportOnlyWritesEveryFileWithNoDisplayAtAll) {
    RunFolder f;
    ASSERT_FALSE(f.dir.empty());
    // No video driver and no display: a window could not even be tried.
    const RunResult run = RunSkydome("--export-only --resolution 5 --sun 40,250 --turbidity 4 --save-dome " +
                                         (f / "d.dff") + " --export-gltf " + (f / "d.glb") + " --export-panorama " +
                                         (f / "p.png") + " --panorama-size 128",
                                     "env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=none");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(f.Entries(), (std::vector<std::string>{"d.dff", "d.glb", "p.png"}));
    const Picture p = test::PictureReadPng(f / "p.png");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.width, 128);
    EXPECT_EQ(p.height, 64);
    // The panorama's zenith pixel is the model's at that turbidity.
    ASSERT_TRUE(SkyColorInit());
    SkySetSun(40.0f, 250.0f, 4.0f);
    const RGBAReal zenith = SkyColor(40.0f * kSkyDegToRad, 250.0f * kSkyDegToRad, 0.5 * 180.0 / 64 * kSkyDegToRad,
                                     (180.0 - 0.5 * 360.0 / 128) * kSkyDegToRad);
    const RGBA want = SkyToneMap(&zenith, 0.1f);
    EXPECT_TRUE(p.At(0, 0)[0] == want.red && p.At(0, 0)[1] == want.green && p.At(0, 0)[2] == want.blue);

    // The dome it saves is the one a windowed run saves with the same options.
    const RunResult windowed =
        RunSkydome("-vms --frames 1 --resolution 5 --sun 40,250 --turbidity 4 --save-dome " + (f / "w.dff"));
    ASSERT_EQ(windowed.status, 0) << windowed.output;
    EXPECT_EQ(ReadBytes(f / "w.dff"), ReadBytes(f / "d.dff"));
}

// A morning in Paris by two hours: the moments before sunrise are listed
// and skipped, the others written, each file of a moment with that moment's
// sun though the moments are made at once on several threads.
TEST(SkydomeRun, ATimeLapseWritesEveryExportForEachMomentAndAnIndex) {
    RunFolder f;
    ASSERT_FALSE(f.dir.empty());
    const RunResult run = RunSkydome(
        "--resolution 3 --location 48.8566,2.3522 --time-lapse 2026-06-21T03:00+02:00,2026-06-21T13:00+02:00,2h "
        "--export-panorama " +
            (f / "p.exr") + " --panorama-size 32 --export-cubemap " + (f / "c.dds") +
            " --cubemap-size 16 --cubemap-mips specular --export-irradiance " + (f / "i.json") + " --export-gltf " +
            (f / "d.glb"),
        "env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=none");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("2 of 6 moments skipped"), std::string::npos) << run.output;
    std::vector<std::string> expected;
    for (const char* stem : {"c", "d", "i"}) {
        for (int i = 2; i <= 5; ++i) {
            const std::string ext = stem[0] == 'c' ? ".dds" : stem[0] == 'd' ? ".glb" : ".json";
            expected.push_back(std::string(stem) + "-000" + std::to_string(i) + ext);
        }
    }
    for (int i = 2; i <= 5; ++i) expected.push_back("p-000" + std::to_string(i) + ".exr");
    expected.push_back("p-index.json");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(f.Entries(), expected);
    std::ifstream in(f / "p-index.json");
    const std::string index((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(index.find("\"frame\": 0, \"time\": \"2026-06-21T03:00:00+02:00\", \"shown\": false"), std::string::npos)
        << index;
    EXPECT_NE(index.find("\"frame\": 5, \"time\": \"2026-06-21T13:00:00+02:00\", \"shown\": true"), std::string::npos)
        << index;
    // Each moment's irradiance file has the sun the index gives that moment.
    for (int i = 2; i <= 5; ++i) {
        const std::string frame = "\"frame\": " + std::to_string(i) + ",";
        const std::size_t at = index.find("\"direction\": [", index.find(frame));
        ASSERT_NE(at, std::string::npos) << frame;
        const std::string direction = index.substr(at, index.find(']', at) - at);
        std::ifstream json(f / ("i-000" + std::to_string(i) + ".json"));
        const std::string text((std::istreambuf_iterator<char>(json)), {});
        EXPECT_NE(text.find(direction), std::string::npos) << direction << "\n" << text;
    }
    // An end a whole number of steps after the start is a moment of its own,
    // whatever the rounding of the days between them.
    RunFolder g;
    const RunResult day = RunSkydome(
        "--location 48.8566,2.3522 --time-lapse "
        "2026-06-21T07:00+02:00,2026-06-21T20:48+02:00,36min --export-irradiance " +
            (g / "i.json"),
        "env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=none");
    ASSERT_EQ(day.status, 0) << day.output;
    EXPECT_EQ(g.Entries().size(), 25u);
    EXPECT_TRUE(std::filesystem::exists(g / "i-0023.json"));
    // A physical time-lapse's sky is the one a single export of the moment
    // makes, with the aerosols and the site's brightness it was given (its
    // workers once made theirs with the default aerosols).
    RunFolder h;
    const std::string sky = "--sky physical --aod 0.5 --sky-brightness 19 --location 48.8566,2.3522 ";
    const std::string env = "env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=none";
    const RunResult lapse = RunSkydome(
        sky + "--time-lapse 2026-06-21T21:30+02:00,2026-06-21T21:30+02:00,1h --export-irradiance " + (h / "l.json"),
        env);
    const RunResult single =
        RunSkydome(sky + "--time 2026-06-21T21:30+02:00 --export-only --export-irradiance " + (h / "s.json"), env);
    ASSERT_EQ(lapse.status, 0) << lapse.output;
    ASSERT_EQ(single.status, 0) << single.output;
    auto firstRadiance = [](const std::string& path) {
        std::ifstream json(path);
        const std::string text((std::istreambuf_iterator<char>(json)), {});
        const std::size_t at = text.find("[", text.find("\"radiance\": ["));
        return at == std::string::npos ? -1.0 : std::strtod(text.c_str() + text.find('[', at + 1) + 1, nullptr);
    };
    const double fromLapse = firstRadiance(h / "l-0000.json");
    const double fromSingle = firstRadiance(h / "s.json");
    EXPECT_GT(fromSingle, 0.0);
    EXPECT_NEAR(fromLapse, fromSingle, 1e-3 * fromSingle);
}

// A time-lapse's moment is the sky a single export of that moment writes,
// with the aerosols asked for (the frames once took the default kind).
TEST(SkydomeRun, ATimeLapsesMomentIsTheSingleExportsSkyWithItsAerosols) {
    RunFolder f;
    const std::string sky = "--sky physical --aerosols desert --turbidity 4 --location 48.8566,2.3522 ";
    const std::string none = "env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=none";
    const RunResult lapse = RunSkydome(
        sky + "--time-lapse 2026-06-21T12:00Z,2026-06-21T12:00Z,1h --export-irradiance " + (f / "lapse.json"), none);
    ASSERT_EQ(lapse.status, 0) << lapse.output;
    const RunResult one =
        RunSkydome(sky + "--time 2026-06-21T12:00Z --export-only --export-irradiance " + (f / "one.json"), none);
    ASSERT_EQ(one.status, 0) << one.output;
    const std::vector<uint8_t> a = ReadBytes(f / "lapse-0000.json"), b = ReadBytes(f / "one.json");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);
}

TEST(SkydomeRun, ExportsComeWithTheFramesScreenshotAndSavedDome) {
    RunFolder f;
    const RunResult run =
        RunSkydome("-vms --frames 2 --screenshot " + (f / "s.png") + " --save-dome " + (f / "d.dff") +
                   " --export-gltf " + (f / "d.glb") + " --export-panorama " + (f / "p.exr") + " --panorama-size 64");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(f.Entries(), (std::vector<std::string>{"d.dff", "d.glb", "p.exr", "s.png"}));
    EXPECT_EQ(ReadBytes(f / "p.exr").size() > 100 && ReadBytes(f / "d.glb").size() > 100, true);
}

TEST(SkydomeRun, LocationAndTimePlaceTheSunOrAreRefusedWithTheElevation) {
    RunFolder f;
    // Paris at the June solstice of 2026, 18:00 summer time (16:00 UT): the
    // sun stands in the west-south-west, about 36 degrees high.
    RunResult run = RunSkydome("--location 48.8566,2.3522 --time 2026-06-21T18:00+02:00 --export-only --export-gltf " +
                               (f / "paris.glb"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("sun: zenith angle 54.2"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("compass azimuth 265.4"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("program azimuth 94.5"), std::string::npos) << run.output;
    // An hour before midnight the sun has set; at 21:20 it is too low.
    run = RunSkydome("--location 48.8566,2.3522 --time 2026-06-21T23:00+02:00 --export-only --export-gltf " +
                     (f / "night.glb"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("degrees below the horizon"), std::string::npos) << run.output;
    run = RunSkydome("--location 48.8566,2.3522 --time 2026-06-21T21:20+02:00 -vms --frames 1 --save-dome " +
                     (f / "low.dff"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("4.4"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("degrees above the horizon"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("at least 5 degrees high (zenith angle up to 85)"), std::string::npos) << run.output;
    EXPECT_EQ(f.Entries(), std::vector<std::string>{"paris.glb"});
}

// The default sky refuses every sun below 5 degrees, as it always has; the
// physical one takes the sun wherever it is, through twilight into the night.
TEST(SkydomeRun, TheDefaultSkyRefusesALowSunAndThePhysicalOneTakesTwilight) {
    RunFolder f;
    const std::string paris = "--location 48.8566,2.3522 --time 2026-06-21T";
    const struct {
        std::string options;
        int status;
        const char* said;
    } cases[] = {
        {"--sun 85.01,20 --export-only --save-dome " + (f / "a.dff"), 2,
         "--sun: the zenith angle 85.01 is out of range (0 to 85 degrees)"},
        {"--sun 95,20 -vms --frames 1", 2, "--sun: the zenith angle 95 is out of range (0 to 85 degrees)"},
        {"--sun 95,20 --sky preetham --export-only --save-dome " + (f / "a.dff"), 2, "(0 to 85 degrees)"},
        {paris + "22:10+02:00 --export-only --save-dome " + (f / "a.dff"), 2,
         "the sun is 2.23 degrees below the horizon there and then; the sky is made for a sun at least 5 degrees"},
        {paris + "22:10+02:00 --sky preetham -vms --frames 1", 2, "2.23 degrees below the horizon"},
        {"--sun 180.5,20 --sky physical --export-only --save-dome " + (f / "a.dff"), 2, "(0 to 180 degrees)"},
        {paris + "23:30+02:00 --sky physical --export-only --save-dome " + (f / "d.dff"), 0, "zenith angle 100.99"},
        {paris + "23:00+02:00 --sky physical --export-only --save-dome " + (f / "b.dff"), 0, "zenith angle 98.07"},
        {"--sun 100,20 --sky physical -vms --frames 1 --save-dome " + (f / "c.dff"), 0, ""},
        {"--sun 180,20 --sky physical -vms --frames 1 --save-dome " + (f / "e.dff"), 0, ""},
    };
    for (const auto& c : cases) {
        const RunResult run = RunSkydome(c.options);
        EXPECT_EQ(run.status, c.status) << c.options << "\n" << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << c.options << "\n" << run.output;
    }
    EXPECT_EQ(f.Entries(), (std::vector<std::string>{"b.dff", "c.dff", "d.dff", "e.dff"}));
}

// Looking at the sun through a narrow view at a low exposure, its disc,
// 0.53 degrees across, is a white disc in the middle of the picture in both
// skies; the physical sky writes every export as the default one does.
TEST(SkydomeRun, ThePreviewShowsTheSunsDiscInBothSkies) {
    RunFolder f;
    for (const std::string sky : {"preetham", "physical"}) {
        SCOPED_TRACE(sky);
        const std::string shot = f / (sky + ".png");
        const RunResult run = RunSkydome("--sky " + sky +
                                         " -vms --frames 2 --sun 60,30 --view preview --look 30,30 --fov 5 "
                                         "--exposure 0.02 --show none --screenshot " +
                                         shot + " --export-panorama " + (f / (sky + ".hdr")) +
                                         " --panorama-size 64 --export-gltf " + (f / (sky + ".glb")));
        ASSERT_EQ(run.status, 0) << run.output;
        const Picture p = test::PictureReadPng(shot);
        ASSERT_TRUE(p.ok);
        // 640 pixels for 5 degrees: the disc is 68 pixels across.
        auto white = [&](int x, int y) {
            const unsigned char* c = p.At(x, y);
            return c[0] == 255 && c[1] == 255 && c[2] == 255;
        };
        EXPECT_TRUE(white(320, 240));
        EXPECT_TRUE(white(320 + 30, 240) && white(320, 240 - 30) && white(320 - 30, 240 + 5));
        EXPECT_FALSE(white(320 + 40, 240) || white(320, 240 + 40) || white(320 - 28, 240 - 28));
        EXPECT_GT(ReadBytes(f / (sky + ".hdr")).size(), 64u * 32u);
        EXPECT_GT(ReadBytes(f / (sky + ".glb")).size(), 1000u);
    }
}

TEST(SkydomeRun, AFailedExportNamesTheFileFailsTheRunAndLeavesNothingBehind) {
    RunFolder f;
    std::ofstream(f / "p.exr") << "kept";
    for (const std::string& mode : {std::string("--export-only"), std::string("-vms --frames 1")}) {
        const RunResult run = RunSkydome(mode + " --save-dome " + (f / "d.dff") + " --export-gltf " + (f / "no/d.glb") +
                                         " --export-panorama " + (f / "p.exr/x.exr"));
        EXPECT_EQ(run.status, 1) << mode;
        EXPECT_NE(run.output.find("Cannot export the dome to " + (f / "no/d.glb")), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("Cannot write the panorama to " + (f / "p.exr/x.exr")), std::string::npos)
            << run.output;
        // What could be written was: the saved dome.
        EXPECT_EQ(f.Entries(), (std::vector<std::string>{"d.dff", "p.exr"})) << mode;
        std::filesystem::remove(f / "d.dff");
    }
    EXPECT_EQ(ReadBytes(f / "p.exr").size(), 4u);
}

// A picture the program finds but cannot read is named, with what is wrong
// with it in the readers' words and what to do; the engine's codes only with
// --verbose.
TEST(SkydomeRun, ADamagedPictureIsNamedWithWhatIsWrongWithIt) {
    namespace fs = std::filesystem;
    RunFolder folder;
    ASSERT_FALSE(folder.dir.empty());
    const fs::path dir = folder.dir;
    const fs::path program = KV_SKYDOME_PROGRAM;
    fs::create_directories(dir / "bin" / "textures");
    fs::copy_file(program, dir / "bin" / "skydome");
    for (const auto& e : fs::directory_iterator(program.parent_path() / "textures"))
        fs::copy_file(e.path(), dir / "bin" / "textures" / e.path().filename());
    // The ground cut off after its header; the fourth flare's mask cut inside its own.
    fs::resize_file(dir / "bin" / "textures" / "ground.png", 40);
    const std::string run = "cd '" + dir.string() + "' && bin/skydome -vms --frames 1 ";
    RunResult r = test::RunCommand(run + "2>&1");
    EXPECT_EQ(r.status, 1) << r.output;
    // The pictures are found beside the program.
    const std::string ground = (dir / "bin" / "textures" / "ground.png").string();
    EXPECT_NE(r.output.find("KV3 Skydome Creator: Cannot create ground texture.\nThe picture " + ground +
                            " cannot be read: the file ends early. Put a PNG or BMP picture there (kvimage " + ground +
                            " says what the program makes of it), or install the program again.\n"),
              std::string::npos)
        << r.output;
    for (const char* internal : {"engine error", "module", "0x"}) {
        EXPECT_EQ(r.output.find(internal), std::string::npos) << internal << "\n" << r.output;
    }
    r = test::RunCommand(run + "--verbose 2>&1");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("  debug: first engine error: module "), std::string::npos) << r.output;

    fs::copy_file(program.parent_path() / "textures" / "ground.png", dir / "bin" / "textures" / "ground.png",
                  fs::copy_options::overwrite_existing);
    fs::resize_file(dir / "bin" / "textures" / "flare3m.bmp", 20);
    r = test::RunCommand(run + "2>&1");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(
        r.output.find("KV3 Skydome Creator: Error initializing camera flares.\nThe picture " +
                      (dir / "bin" / "textures" / "flare3m.bmp").string() + " cannot be read: the file ends early."),
        std::string::npos)
        << r.output;
}

// Without a display a run with no end of its own would spin unseen until
// interrupted: it stops at once and says what to do instead. The video
// system's messages about the drivers it tried are not the user's concern.
TEST(SkydomeRun, WithoutADisplayARunWithNoEndStopsAndSaysWhatToDo) {
    const std::string headless = "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR";
    for (const std::string& environment : {headless, headless + " SDL_VIDEODRIVER=offscreen"}) {
        SCOPED_TRACE(environment);
        const RunResult run = RunSkydome("-vms", environment + " timeout 60");
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_EQ(run.output.rfind("skydome: the program needs a display to show its window, and there is none (", 0),
                  0u)
            << run.output;
        for (const char* pointer : {" --frames N ", "SDL_VIDEODRIVER=offscreen skydome", " --export-only "}) {
            EXPECT_NE(run.output.find(pointer), std::string::npos) << pointer << "\n" << run.output;
        }
        EXPECT_EQ(run.output.find("XDG_RUNTIME_DIR"), std::string::npos) << run.output;
    }
    // With an end of its own it runs there.
    const RunResult frames = RunSkydome("-vms --frames 1", headless + " SDL_VIDEODRIVER=offscreen");
    EXPECT_EQ(frames.status, 0) << frames.output;
    EXPECT_EQ(frames.output, "");
}

// --name=value is the GNU form of --name value: the same run, the same dome.
TEST(SkydomeRun, OptionsTakeTheirValuesAfterAnEqualsSignToo) {
    RunFolder f;
    const RunResult spaced =
        RunSkydome("-vms --frames 1 --sun 30,200 --resolution 5 --turbidity 3 --save-dome " + (f / "spaced.dff"));
    ASSERT_EQ(spaced.status, 0) << spaced.output;
    const RunResult joined =
        RunSkydome("-vms --frames=1 --sun=30,200 --resolution=5 --turbidity=3 --save-dome=" + (f / "joined.dff"));
    ASSERT_EQ(joined.status, 0) << joined.output;
    EXPECT_FALSE(ReadBytes(f / "spaced.dff").empty());
    EXPECT_EQ(ReadBytes(f / "joined.dff"), ReadBytes(f / "spaced.dff"));
    const RunResult flag = RunSkydome("-vms --frames=1 --export-only=yes");
    EXPECT_EQ(flag.status, 2);
    EXPECT_EQ(flag.output, "skydome: --export-only takes no value, not \"yes\"\n");
}

// The screenshot is PNG bytes: a name that says another format is refused
// before anything runs, and nothing is written under it.
TEST(SkydomeRun, AScreenshotUnderANameThatIsNotPngIsRefused) {
    RunFolder f;
    for (const char* name : {"s.jpg", "s.bmp", "s"}) {
        const RunResult run = RunSkydome("-vms --frames 1 --screenshot " + (f / name));
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_EQ(run.output,
                  "skydome: --screenshot needs a file name ending in .png (the picture is written as "
                  "PNG), not \"" +
                      (f / name) + "\"\n");
    }
    EXPECT_TRUE(f.Entries().empty());
}

// Every signal whose default action ends the program, not only the three
// that ask it to quit: the new file of the save under way goes, the file it
// was to replace stays, and the program ends by that signal as before.
TEST_F(SkydomeInterrupted, EveryFatalSignalLeavesNoNewFileBehind) {
    for (const int signal : {SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF, SIGRTMIN + 3}) {
        SCOPED_TRACE(strsignal(signal));
        std::ofstream(dir / "big.exr") << "old";
        const Interrupted i = Interrupt({"--export-only", "--export-panorama", "big.exr", "--panorama-size", "8192"},
                                        [this](pid_t) { return HasNewFile(); }, {signal});
        EXPECT_EQ(i.run.status, 128 + signal) << i.run.output;
        EXPECT_FALSE(HasNewFile());
        EXPECT_EQ(Entries(), std::vector<std::string>{"big.exr"});
        EXPECT_EQ(ReadBytes(Path("big.exr")).size(), 3u);
    }
}

// Runs the program with its standard output a pipe nobody reads any more
// (the reader gone before the first write), its messages kept apart.
RunResult RunIntoDeadPipe(const std::filesystem::path& dir, const std::vector<std::string>& args) {
    const std::filesystem::path messages = dir / "messages";
    int fds[2];
    if (pipe(fds) != 0) return {-1, "no pipe"};
    close(fds[0]);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err < 0 || dup2(fds[1], 1) < 0 || dup2(err, 2) < 0 || chdir(dir.c_str()) != 0) _exit(126);
        // As a shell starts it: SIGPIPE at its default, which ends a program.
        std::signal(SIGPIPE, SIG_DFL);
        std::vector<char*> argv{const_cast<char*>(KV_SKYDOME_PROGRAM)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KV_SKYDOME_PROGRAM, argv.data());
        _exit(127);
    }
    close(fds[1]);
    RunResult r{-1, {}};
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(messages);
    r.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(messages);
    return r;
}

// Pipes and standard output that cannot take what is written: never a silent
// end by SIGPIPE, never a status 0 with output lost; an EXR, which cannot
// stream, is refused for a pipe before anything is written, while .hdr and
// PNG go down one.
TEST_F(SkydomeInFolder, PipesAndOutputsThatTakeNothingFailInWords) {
    // The sun's line into a pipe whose reader has gone: said, and the
    // panorama still written whole.
    RunResult run = RunIntoDeadPipe(dir, {"--export-only", "--location", "48,11", "--time", "2026-06-21T12:00Z",
                                          "--export-panorama", "p.hdr", "--panorama-size", "64"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output,
              "skydome: cannot write to standard output: nothing reads the pipe any more (the program at its other "
              "end has ended) (Broken pipe)\n");
    EXPECT_GT(ReadBytes(Path("p.hdr")).size(), 1000u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"p.hdr"});
    // The dome saved down it.
    run = RunIntoDeadPipe(dir, {"--export-only", "--save-dome", "/dev/stdout"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output,
              "skydome: Cannot save the dome to /dev/stdout: nothing reads the pipe any more (the program at its "
              "other end has ended) (Broken pipe). Keep the reading program running until the write ends, or write "
              "to a file.\n");

    // Standard output on a full disk: help, version, the sun's line.
    const std::string program = std::string("'") + KV_SKYDOME_PROGRAM + "' ";
    for (const std::string& args :
         {std::string("--help"), std::string("--version"),
          "--export-only --location 48,11 --time 2026-06-21T12:00Z --save-dome '" + Path("d.dff") + "'"}) {
        SCOPED_TRACE(args);
        const RunResult full = test::RunCommand(program + args + " 2>&1 >/dev/full");
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.output,
                  "skydome: cannot write to standard output: the disk is full (No space left on device)\n");
    }
    EXPECT_EQ(ReadBytes(Path("d.dff")).size(), 21840u);

    // An EXR to a named pipe: refused before the pipe is opened (without the
    // refusal the open would wait for a reader for ever: the run is bounded).
    ASSERT_EQ(mkfifo(Path("p.exr").c_str(), 0600), 0);
    run = RunSkydome("--export-only --export-panorama '" + Path("p.exr") + "' --panorama-size 16", "timeout 60");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output, "skydome: Cannot write the panorama to " + Path("p.exr") +
                              ": it is a pipe, and an OpenEXR file cannot be written to a pipe (the table of where its "
                              "rows lie is written last, at its start). Write the EXR to a file, or write a .hdr or "
                              ".png panorama, which can go to a pipe.\n");
    // A .hdr and a PNG go down one whole.
    for (const char* name : {"q.hdr", "q.png"}) {
        ASSERT_EQ(mkfifo(Path(name).c_str(), 0600), 0);
        run = test::RunCommand("cd '" + dir.string() + "' && { cat " + name + " > got & } && " + program +
                               "--export-only --export-panorama " + name +
                               " --panorama-size 16 2>&1; s=$?; wait; "
                               "exit $s");
        EXPECT_EQ(run.status, 0) << name << ": " << run.output;
        const std::vector<uint8_t> got = ReadBytes(Path("got"));
        EXPECT_GT(got.size(), 100u) << name;
        std::filesystem::remove(dir / "got");
    }
}

// A link that moves while a file is written through it, or two outputs that
// meet through a link: nothing is left in the folder the link led to, and
// the user is told what happened.
TEST_F(SkydomeInFolder, LinksThatMoveOrMeetAreCaught) {
    namespace fs = std::filesystem;
    fs::create_directory(dir / "A");
    fs::create_directory(dir / "B");
    // The write's folder swapped for another while the panorama is made:
    // once to its end, once ended by a signal. The panorama is large enough
    // that its write is still under way when the swap comes, however fast
    // the machine.
    for (const int signal : {0, SIGUSR1}) {
        SCOPED_TRACE(signal);
        fs::remove(dir / "cur");
        fs::create_directory_symlink("A", dir / "cur");
        int output = -1;
        const pid_t pid =
            Start({"--export-only", "--export-panorama", "cur/p.exr", "--panorama-size", "8192"}, &output);
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(WaitFor([&] { return !fs::is_empty(dir / "A"); })) << "the new file never came";
        fs::create_directory_symlink("B", dir / "cur.new");
        fs::rename(dir / "cur.new", dir / "cur");
        if (signal != 0) kill(pid, signal);
        const RunResult run = Finish(pid, output);
        if (signal == 0) {
            EXPECT_EQ(run.status, 1) << run.output;
            EXPECT_EQ(run.output,
                      "skydome: Cannot write the panorama to cur/p.exr: its folder was moved, or a link on the way to "
                      "it now leads to another folder, since the write began; the new file was removed, and nothing "
                      "was written under the name. Leave the folder and the links to it as they are until the write "
                      "ends, and write it again.\n");
        } else {
            EXPECT_EQ(run.status, 128 + signal) << run.output;
        }
        EXPECT_TRUE(fs::is_empty(dir / "A"));
        EXPECT_TRUE(fs::is_empty(dir / "B"));
    }

    // Two outputs naming one file through a link to a file not yet made, or
    // through a link and a folder's dots.
    fs::create_symlink("a.hdr", dir / "link.hdr");
    RunResult run = Run({"--export-only", "--save-dome", "a.hdr", "--export-panorama", "link.hdr"});
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_EQ(run.output,
              "skydome: --save-dome and --export-panorama name the same file, link.hdr: each would overwrite the "
              "other\n");
    fs::create_symlink("B/../x.glb", dir / "l.glb");
    run = Run({"--export-only", "--export-gltf", "l.glb", "--save-dome", "./x.glb"});
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("name the same file"), std::string::npos) << run.output;
    // Two names of two files are two files.
    run = Run({"--export-only", "--export-gltf", "y.glb", "--save-dome", "l.glb"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadBytes(Path("x.glb")).size(), 21840u);
}

// What the program reads from a folder given with --data: a damaged picture
// there fails the run naming it and what is wrong (never passed over for the
// program's own), and a file of the kernel's is not read at all (a read of
// /proc/kmsg would wait for ever).
TEST_F(SkydomeInFolder, TheDataFolderIsReadOnlyFromSoundFiles) {
    namespace fs = std::filesystem;
    fs::create_directory(dir / "textures");
    const fs::path own = fs::path(KV_SKYDOME_PROGRAM).parent_path() / "textures";
    struct Damage {
        const char* file;
        std::string bytes;
        const char* failure;
    };
    std::ifstream in(own / "flare2.png", std::ios::binary);
    const std::string flare((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string corrupt = flare;
    for (std::size_t i = 60; i < corrupt.size(); i += 7) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
    std::string random(5000, '\0');
    for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
    // The signature and a header of 60000 x 60000 pixels (its CRC with it),
    // past what the reader takes.
    const std::string huge("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\xea\x60\0\0\xea\x60\x08\x06\0\0\0\x80\xd2\x75\x42", 33);
    const Damage damages[] = {
        {"ground.png", flare.substr(0, 40), "Cannot create ground texture.\n"},
        {"ground.png", huge, "Cannot create ground texture.\n"},
        {"ground.png", "", "Cannot create ground texture.\n"},
        {"flare2.png", corrupt, "Error initializing camera flares.\n"},
        {"flare2.png", random, "Error initializing camera flares.\n"},
        {"flare5m.bmp", "BM", "Error initializing camera flares.\n"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(std::string(d.file) + ", " + std::to_string(d.bytes.size()) + " bytes");
        std::ofstream(dir / "textures" / d.file, std::ios::binary) << d.bytes;
        const RunResult run = Run({"-vms", "--frames", "1", "--data", "."});
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find(std::string("KV3 Skydome Creator: ") + d.failure + "The picture ./textures/" +
                                  d.file + " cannot be read: "),
                  std::string::npos)
            << run.output;
        fs::remove(dir / "textures" / d.file);
    }
    fs::create_symlink("/proc/self/status", dir / "readme.txt");
    const RunResult run = Run({"-vms", "--frames", "1", "--data", "."});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output,
              "KV3 Skydome Creator: ./readme.txt is one of the kernel's (such as /proc's), not a file: "
              "skipped\n");
}

// Names as messages show them, values after "=" as after a space, and a PNG
// panorama that runs out of memory.
TEST_F(SkydomeInFolder, NamesAreQuotedAndOptionsAreNeverFileNames) {
    // An escape sequence in a name reaches the terminal as text.
    const std::string red = "no/a\033[31mred.png";
    RunResult run = Run({"--export-only", "--export-panorama", red});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output.find('\033'), std::string::npos) << run.output;
    EXPECT_EQ(run.output.rfind("skydome: Cannot write the panorama to 'no/a'$'\\033''[31mred.png': the folder", 0), 0u)
        << run.output;
    run = Run({"-vms", "--frames", "1", "--data", "\033]0;x\007"});
    EXPECT_EQ(run.output.find('\033'), std::string::npos) << run.output;

    // An option's name after "=" is no file name, as after a space.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--export-only", "--save-dome=--sun"},
                                                 std::vector<std::string>{"--export-only", "--save-dome", "--sun"}}) {
        run = Run(args);
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_EQ(run.output,
                  "skydome: --save-dome needs a file name, not the option --sun (write ./--sun for a file of that "
                  "name)\n");
    }
    EXPECT_TRUE(Entries().empty());

#if defined(KV_SANITIZED) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#else
    // The largest PNG panorama under a memory limit: the file there is kept, and said to be.
    std::ofstream(dir / "big.png") << "old";
    run = Run({"--export-only", "--export-panorama", "big.png", "--panorama-size", "8192"}, 0, 100000000);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output,
              "skydome: Cannot write the panorama to big.png: out of memory. The file there is unchanged.\n");
    EXPECT_EQ(ReadBytes(Path("big.png")).size(), 3u);
#endif
}

}  // namespace
}  // namespace kv
