// The program in a real X11 window, used as a person would: a virtual X
// server of the test's own (Xvfb), keys and drags from xdotool, the window's
// picture taken with xwd. No display is needed to run it.
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <tiny_gltf.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/skydome/program_sky.h"
#include "engine/image/charset.h"
#include "export/panorama.h"
#include "picture.h"
#include "run_command.h"
#include "sky/analytic_sky.h"
#include "sky/sun_position.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::Picture;

uint32_t Big32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

int Shift(uint32_t mask) {
    int s = 0;
    while (mask != 0 && (mask & 1) == 0) mask >>= 1, ++s;
    return s;
}

// An xwd file of a true-colour window: a big-endian header, the window's
// name, the colour table, then the pixels rows in the server's byte order.
Picture ReadXwd(const std::string& file) {
    Picture p;
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
    if (b.size() < 100) return p;
    const auto field = [&](int i) { return Big32(&b[4 * static_cast<std::size_t>(i)]); };
    const uint32_t headerSize = field(0), format = field(2), width = field(4), height = field(5);
    const uint32_t byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12);
    const uint32_t redMask = field(14), greenMask = field(15), blueMask = field(16), colours = field(19);
    if (field(1) != 7 || format != 2 || bitsPerPixel != 32) return p;
    const std::size_t pixels = headerSize + 12u * colours;
    if (b.size() < pixels + static_cast<std::size_t>(bytesPerLine) * height) return p;
    p.width = static_cast<int>(width);
    p.height = static_cast<int>(height);
    p.rgb.resize(3u * width * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char* q = &b[pixels + static_cast<std::size_t>(y) * bytesPerLine + 4u * x];
            const uint32_t v =
                byteOrder == 0 ? static_cast<uint32_t>(q[3]) << 24 | q[2] << 16 | q[1] << 8 | q[0] : Big32(q);
            unsigned char* o = &p.rgb[3 * (static_cast<std::size_t>(y) * width + x)];
            o[0] = static_cast<unsigned char>((v & redMask) >> Shift(redMask));
            o[1] = static_cast<unsigned char>((v & greenMask) >> Shift(greenMask));
            o[2] = static_cast<unsigned char>((v & blueMask) >> Shift(blueMask));
        }
    }
    p.ok = true;
    return p;
}

bool OnPath(const char* tool) {
    const std::string command = std::string("command -v ") + tool + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// A child with its output in a file; the environment given is added.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& folder,
            const fs::path& log, int keepFd = -1) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    if (chdir(folder.c_str()) != 0) _exit(126);
    for (const std::string& e : env) putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (int fd = 3; fd < 256; ++fd) {
        if (fd != keepFd) close(fd);
    }
    execvp(args[0], args.data());
    _exit(127);
}

// The exit status, or -1 when the child did not end in time (it is killed).
int WaitFor(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

class X11Program : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "xwd"}) {
            ASSERT_TRUE(OnPath(tool)) << tool << " is missing: scripts/setup installs it";
        }
        char pattern[] = "/tmp/kvskydomex11.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // The server picks a free display and writes its number, then a line
        // end, to the pipe: it is read to the end (a server that finds the
        // pipe closed before the line end gives up).
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        server =
            Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {},
                  dir, dir / "xvfb.log", fds[1]);
        close(fds[1]);
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start\n" << Log("xvfb.log");
        display = ":" + number;
    }
    void TearDown() override {
        if (program > 0) WaitFor(program, 0ms);
        if (server > 0) {
            kill(server, SIGTERM);
            WaitFor(server, 5000ms);
        }
        if (!dir.empty()) fs::remove_all(dir);
    }

    // An xdotool command on the test's display; its output.
    std::string XdoTool(const std::string& arguments) {
        return test::RunCommand("DISPLAY=" + display + " timeout 20 xdotool " + arguments + " 2>&1").output;
    }
    std::string Log(const char* name) const {
        std::ifstream in(dir / name);
        return std::string(name) + ":\n" + std::string((std::istreambuf_iterator<char>(in)), {});
    }
    Picture Shot(const std::string& name) {
        const std::string file = (dir / name).string();
        const std::string command =
            "DISPLAY=" + display + " timeout 20 xwd -silent -id " + window + " -out '" + file + "'";
        if (std::system(command.c_str()) != 0) return {};
        // Kept for a person to look at when asked.
        if (const char* keep = std::getenv("KV_TEST_PICTURES")) {
            std::error_code ignored;
            fs::copy_file(file, fs::path(keep) / name, fs::copy_options::overwrite_existing, ignored);
        }
        return ReadXwd(file);
    }

    // The first visible window xdotool finds by what it is given.
    void FindWindow(const std::string& what) {
        window = XdoTool("search --sync --onlyvisible " + what);
        window = window.substr(0, window.find('\n'));
        ASSERT_FALSE(window.empty());
        ASSERT_EQ(window.find_first_not_of("0123456789"), std::string::npos) << window << " on " << display << "\n"
                                                                             << Log("xvfb.log") << Log("skydome.log");
    }
    // The program's main window; the pointer comes into it as a hand would,
    // away from the menu.
    void StartProgram(const std::vector<std::string>& arguments) {
        fs::create_directories(dir / "work");
        std::vector<std::string> argv = {KV_SKYDOME_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        // In a sanitizer build the leak checker leaves the session bus's
        // library alone.
        program =
            Spawn(argv, {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11", "LSAN_OPTIONS=suppressions=" KV_X11_SUPPRESSIONS},
                  dir / "work", dir / "skydome.log");
    }
    void PointerIn() {
        XdoTool("windowfocus --sync " + window);
        XdoTool("mousemove --window " + window + " 500 300");
        std::this_thread::sleep_for(300ms);
        XdoTool("mousemove --window " + window + " 320 240");
        std::this_thread::sleep_for(300ms);
    }
    int Quit() {
        XdoTool("key Escape");
        const int status = WaitFor(program, 10000ms);
        program = -1;
        return status;
    }

    // The window's picture once it shows what is expected (the program takes
    // its events in its own time), or the last one taken after 10 seconds.
    template <typename Shows>
    Picture ShotOnce(const std::string& name, Shows shows) {
        Picture p;
        for (int i = 0; i < 50; ++i) {
            p = Shot(name);
            if (p.ok && shows(p)) break;
            std::this_thread::sleep_for(200ms);
        }
        return p;
    }

    fs::path dir;
    std::string display;
    std::string window;
    pid_t server = -1;
    pid_t program = -1;
};

// The middle of the window: the sky 45 degrees up on the dome's side towards
// the camera.
RGBA SkyInTheMiddle(float zenith, float azimuth, float exposure = 0.1f) {
    SkySetSun(zenith, azimuth, kSkyTurbidity);
    const V3d towardsCamera{0.0f, std::sqrt(0.5f), std::sqrt(0.5f)};
    double theta = 0.0, phi = 0.0;
    SkyDirectionAngles(&towardsCamera, &theta, &phi);
    const RGBAReal linear = SkyColor(zenith * kSkyDegToRad, azimuth * kSkyDegToRad, theta, phi);
    return SkyToneMap(&linear, exposure);
}

bool Near(const unsigned char* c, RGBA want, int tolerance) {
    return std::abs(c[0] - want.red) <= tolerance && std::abs(c[1] - want.green) <= tolerance &&
           std::abs(c[2] - want.blue) <= tolerance;
}

void ExpectColour(const unsigned char* c, RGBA want, int tolerance, const char* what) {
    EXPECT_NEAR(c[0], want.red, tolerance) << what;
    EXPECT_NEAR(c[1], want.green, tolerance) << what;
    EXPECT_NEAR(c[2], want.blue, tolerance) << what;
}

TEST_F(X11Program, APersonDragsTheSunSavesLooksFromInsideAndQuits) {
    StartProgram({"-vms"});
    FindWindow("--class KvAppClass");
    ASSERT_FALSE(HasFatalFailure());
    PointerIn();

    ASSERT_TRUE(SkyColorInit());
    const RGBA sun50 = SkyInTheMiddle(50.0f, 20.0f), sun60 = SkyInTheMiddle(60.0f, 20.0f);
    const Picture before = ShotOnce("before.xwd", [&](const Picture& p) { return Near(p.At(320, 240), sun50, 6); });
    ASSERT_TRUE(before.ok);
    ASSERT_EQ(before.width, 640);
    ASSERT_EQ(before.height, 480);
    ExpectColour(before.At(320, 240), sun50, 6, "the sky for the sun at 50, 20");

    // Control held, the left button dragged 100 pixels down: 10 degrees lower.
    XdoTool("keydown ctrl mousedown 1");
    XdoTool("mousemove --window " + window + " 320 290");
    XdoTool("mousemove --window " + window + " 320 340");
    XdoTool("mouseup 1 keyup ctrl");
    const Picture after = ShotOnce("after.xwd", [&](const Picture& p) { return Near(p.At(320, 240), sun60, 6); });
    ASSERT_TRUE(after.ok);
    ExpectColour(after.At(320, 240), sun60, 6, "the sky for the sun at 60, 20");

    // x saves the dome here.
    XdoTool("key x");
    const fs::path saved = dir / "work" / "skydome.dff";
    for (int i = 0; i < 200 && !(fs::exists(saved) && fs::file_size(saved) == 21840u); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(fs::file_size(saved), 21840u);

    // p: from the dome's centre, the ground below the horizon in its colour.
    XdoTool("key p");
    const RGBA ground{7, 77, 48, 255};
    const Picture inside = ShotOnce("inside.xwd", [&](const Picture& p) { return Near(p.At(320, 470), ground, 0); });
    ASSERT_TRUE(inside.ok);
    ExpectColour(inside.At(320, 470), ground, 0, "the preview's clear colour");

    const int status = Quit();
    const std::string output = Log("skydome.log");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("saved the dome to skydome.dff"), std::string::npos) << output;
}

// The mouse on the menu as a hand uses it: a drag that starts on a label
// leaves the dome where it is, the wheel over Exposure's value raises it, a
// click on Preview's value switches the view.
TEST_F(X11Program, APersonWorksTheMenuWithTheMouse) {
    StartProgram({"-vms", "--show", "menu"});
    FindWindow("--class KvAppClass");
    ASSERT_FALSE(HasFatalFailure());
    PointerIn();
    ASSERT_TRUE(SkyColorInit());
    const RGBA start = SkyInTheMiddle(50.0f, 20.0f), brighter = SkyInTheMiddle(50.0f, 20.0f, 0.12f);
    ASSERT_TRUE(ShotOnce("start.xwd", [&](const Picture& p) { return Near(p.At(320, 240), start, 6); }).ok);

    // From Resolution's label far into the scene and back.
    XdoTool("mousemove --window " + window + " 60 21 mousedown 1");
    XdoTool("mousemove --window " + window + " 300 250");
    XdoTool("mousemove --window " + window + " 320 240 mouseup 1");
    // Exposure is the third line; its value ends the line.
    XdoTool("mousemove --window " + window + " 232 49 click 4 click 4");
    const Picture after = ShotOnce("wheel.xwd", [&](const Picture& p) { return Near(p.At(320, 240), brighter, 6); });
    ASSERT_TRUE(after.ok);
    ExpectColour(after.At(320, 240), brighter, 6, "the dome unturned, at exposure 0.12");

    XdoTool("mousemove --window " + window + " 232 63 click 1");
    const RGBA ground{7, 77, 48, 255};
    const Picture inside = ShotOnce("preview.xwd", [&](const Picture& p) { return Near(p.At(320, 470), ground, 0); });
    ASSERT_TRUE(inside.ok);
    ExpectColour(inside.At(320, 470), ground, 0, "the preview's clear colour");
    EXPECT_EQ(Quit(), 0) << Log("skydome.log");
}

// With a float entry selected, a left drag in the scene changes it (the dome
// stays where it is), and the wheel in the scene moves the selection.
TEST_F(X11Program, ADragInTheSceneChangesTheSelectedFloatAndTheWheelMovesTheSelection) {
    StartProgram({"-vms", "--show", "menu"});
    FindWindow("--class KvAppClass");
    ASSERT_FALSE(HasFatalFailure());
    PointerIn();
    ASSERT_TRUE(SkyColorInit());
    const RGBA start = SkyInTheMiddle(50.0f, 20.0f), brighter = SkyInTheMiddle(50.0f, 20.0f, 0.1f + 0.99f * 0.1f);
    ASSERT_TRUE(ShotOnce("start.xwd", [&](const Picture& p) { return Near(p.At(320, 240), start, 6); }).ok);

    // Exposure selected; 50 pixels up in the scene raise it by 0.099.
    XdoTool("key Down key Down");
    XdoTool("mousedown 1");
    XdoTool("mousemove --window " + window + " 320 215");
    XdoTool("mousemove --window " + window + " 320 190 mouseup 1");
    const Picture after = ShotOnce("drag.xwd", [&](const Picture& p) { return Near(p.At(320, 240), brighter, 6); });
    ASSERT_TRUE(after.ok);
    ExpectColour(after.At(320, 240), brighter, 6, "the dome unturned, at exposure 0.199");

    // The wheel backwards in the scene: Preview is selected, and Right
    // switches it on.
    XdoTool("mousemove --window " + window + " 320 240 click 5");
    XdoTool("key Right");
    const RGBA ground{7, 77, 48, 255};
    const Picture inside = ShotOnce("preview.xwd", [&](const Picture& p) { return Near(p.At(320, 470), ground, 0); });
    ASSERT_TRUE(inside.ok);
    ExpectColour(inside.At(320, 470), ground, 0, "the preview's clear colour");
    EXPECT_EQ(Quit(), 0) << Log("skydome.log");
}

// Whether the text is drawn at (x, y) in the text colour, glyph for glyph.
bool ShowsText(const Picture& p, int x, int y, const std::string& text) {
    const RGBA ink{200, 200, 200, 255};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const uint8* glyph = CharsetGlyph(static_cast<unsigned char>(text[i]));
        for (int row = 0; row < 14; ++row) {
            for (int bit = 0; bit < 8; ++bit) {
                const int px = x + static_cast<int>(i) * 8 + bit;
                if ((((glyph[row] >> bit) & 1) != 0) != (p.Count(ink, px, y + row, px + 1, y + row + 1) == 1)) {
                    return false;
                }
            }
        }
    }
    return true;
}

bool Same(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    const std::string ta((std::istreambuf_iterator<char>(fa)), {}), tb((std::istreambuf_iterator<char>(fb)), {});
    return !ta.empty() && ta == tb;
}

// The angle in degrees between a direction and the one of a zenith angle and
// the program's azimuth (degrees; +y up, azimuth from +z towards +x).
double DegreesFrom(double x, double y, double z, double zenith, double azimuth) {
    const double t = zenith * kSkyDegToRad, p = azimuth * kSkyDegToRad;
    const double length = std::sqrt(x * x + y * y + z * z);
    const double c = (x * std::sin(t) * std::sin(p) + y * std::cos(t) + z * std::sin(t) * std::cos(p)) / length;
    return std::acos(std::min(1.0, std::max(-1.0, c))) / kSkyDegToRad;
}

// A person's path through the window: a place, a day and a time from the
// menu (the time with its keys), the physical sky, an export and the
// settings saved; the files agree with what the data display shows, and the
// settings file makes the same files again without the window.
TEST_F(X11Program, APersonSetsAPlaceAndATimeExportsAndMakesTheSameFilesFromTheSettings) {
    StartProgram({"-vms", "--panorama-size", "256"});
    FindWindow("--class KvAppClass");
    ASSERT_FALSE(HasFatalFailure());
    PointerIn();
    const fs::path work = dir / "work";
    // Down to Latitude (entries not offered in the orbit view are passed),
    // 48.5 north in steps of 0.5; Longitude 2.5 east; the day of the year
    // from 172 to 174 (23 June); ] seven hours on from noon, in quarters.
    XdoTool("key --delay 20 --repeat 15 Down");
    XdoTool("key --delay 10 --repeat 97 Right");
    XdoTool("key Down");
    XdoTool("key --delay 10 --repeat 5 Right");
    XdoTool("key Down key Right key Right");
    XdoTool("key --delay 10 --repeat 28 bracketright");
    // The sun of that place and moment, as the data display shows it.
    const SolarPosition sun = SolarCompute(48.5, 2.5, SolarJulianDay(SolarTime{2026, 6, 23, 19, 0, 0.0, 0}));
    char zenith[32], azimuth[32];
    std::snprintf(zenith, sizeof zenith, "Sun ZD: %.1f", sun.zenith);
    std::snprintf(azimuth, sizeof azimuth, "Sun AZ: %.1f", SolarProgramAzimuth(sun.azimuth));
    const Picture shown = ShotOnce("place.xwd", [&](const Picture& p) {
        return ShowsText(p, 640 - 130, 14, zenith) && ShowsText(p, 640 - 130, 28, azimuth) &&
               ShowsText(p, 640 - 130, 12 * 14, "Date: 2026-06-23") && ShowsText(p, 640 - 130, 13 * 14, "Time: 19:00");
    });
    ASSERT_TRUE(shown.ok);
    EXPECT_TRUE(ShowsText(shown, 640 - 130, 14, zenith)) << zenith;
    EXPECT_TRUE(ShowsText(shown, 640 - 130, 28, azimuth)) << azimuth;
    EXPECT_TRUE(ShowsText(shown, 640 - 130, 12 * 14, "Date: 2026-06-23"));
    EXPECT_TRUE(ShowsText(shown, 640 - 130, 13 * 14, "Time: 19:00"));

    // The physical sky (set up while the status line says so), then the
    // files: numbered, and the settings.
    XdoTool("key m");
    const auto physical = [](const Picture& p) {
        return ShowsText(p, (640 - 20 * 8) / 2, 480 - 3 * 14 - 20, "Now the physical sky");
    };
    EXPECT_TRUE(physical(ShotOnce("physical.xwd", physical)));
    XdoTool("key e");
    const char* endings[] = {".glb", ".exr", ".png", ".dff"};
    for (int i = 0; i < 200; ++i) {
        bool all = true;
        for (const char* e : endings) all = all && fs::exists(work / (std::string("skydome-001") + e));
        if (all) break;
        std::this_thread::sleep_for(50ms);
    }
    XdoTool("key v");
    for (int i = 0; i < 200 && !fs::exists(work / "skydome-001.json"); ++i) std::this_thread::sleep_for(50ms);
    ASSERT_EQ(Quit(), 0) << Log("skydome.log");
    const std::string log = Log("skydome.log");
    for (const char* e : endings) {
        EXPECT_NE(log.find("exported " + (work / (std::string("skydome-001") + e)).string()), std::string::npos) << log;
    }
    EXPECT_NE(log.find("saved the settings to " + (work / "skydome-001.json").string()), std::string::npos) << log;

    // The glTF's sun light points away from the sun the display shows (the
    // moon, when up, is a light of its own).
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, (work / "skydome-001.glb").string())) << error;
    const tinygltf::Node* light = nullptr;
    for (const tinygltf::Node& n : model.nodes) {
        if (n.extensions.count("KHR_lights_punctual") != 0 && n.name == "sun") light = &n;
    }
    ASSERT_NE(light, nullptr);
    ASSERT_EQ(light->rotation.size(), 4u);
    // +z turned by the node's rotation: towards the sun.
    const double qx = light->rotation[0], qy = light->rotation[1], qz = light->rotation[2], qw = light->rotation[3];
    const double towardsX = 2.0 * (qx * qz + qw * qy), towardsY = 2.0 * (qy * qz - qw * qx),
                 towardsZ = 1.0 - 2.0 * (qx * qx + qy * qy);
    EXPECT_LT(DegreesFrom(towardsX, towardsY, towardsZ, sun.zenith, SolarProgramAzimuth(sun.azimuth)), 0.1);

    // The EXR's brightest pixel is the sun's, within a pixel.
    Imf::InputFile in((work / "skydome-001.exr").c_str());
    const Imath::Box2i area = in.header().dataWindow();
    const int width = area.max.x - area.min.x + 1, height = area.max.y - area.min.y + 1;
    ASSERT_EQ(width, 256);
    std::vector<float> rgb(3 * static_cast<std::size_t>(width) * height);
    Imf::FrameBuffer buffer;
    const char* names[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        buffer.insert(names[c], Imf::Slice::Make(Imf::FLOAT, rgb.data() + c, area, 3 * sizeof(float),
                                                 3 * sizeof(float) * static_cast<std::size_t>(width)));
    }
    in.setFrameBuffer(buffer);
    in.readPixels(area.min.y, area.max.y);
    std::size_t brightest = 0;
    for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
        if (rgb[3 * i] + rgb[3 * i + 1] + rgb[3 * i + 2] >
            rgb[3 * brightest] + rgb[3 * brightest + 1] + rgb[3 * brightest + 2])
            brightest = i;
    }
    double theta = 0.0, phi = 0.0;
    PanoramaPixelAngles(width, static_cast<int32>(brightest % width), static_cast<int32>(brightest / width), &theta,
                        &phi);
    const double x = std::sin(theta) * std::sin(phi), y = std::cos(theta), z = std::sin(theta) * std::cos(phi);
    EXPECT_LT(DegreesFrom(x, y, z, sun.zenith, SolarProgramAzimuth(sun.azimuth)), 1.5 * 360.0 / width);

    // The settings again, without a window: the same files, byte for byte.
    const std::string again =
        "cd '" + work.string() + "' && '" KV_SKYDOME_PROGRAM "' --settings skydome-001.json --export-only " +
        "--export-gltf again.glb --export-panorama again.exr --export-panorama again.png --save-dome again.dff 2>&1";
    const auto run = test::RunCommand(again);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* e : endings) {
        EXPECT_TRUE(Same(work / (std::string("skydome-001") + e), work / (std::string("again") + e))) << e;
    }
}

// Without -vms a person picks the device and the mode: the window opens at
// the windowed mode's size (the desktop's, 1024 x 768 here), with the
// program's icon, in the class the desktop entry names.
TEST_F(X11Program, TheWindowHasTheChosenSizeTheIconAndTheEntrysClass) {
    ASSERT_TRUE(OnPath("xprop")) << "xprop is missing: scripts/setup installs it";
    StartProgram({});
    FindWindow("--name '^Device Selection$'");
    ASSERT_FALSE(HasFatalFailure());
    XdoTool("windowfocus --sync " + window + " key Return");
    FindWindow("--name '^KV3 Skydome Creator$'");
    ASSERT_FALSE(HasFatalFailure());
    const std::string geometry = XdoTool("getwindowgeometry " + window);
    EXPECT_NE(geometry.find("Geometry: 1024x768"), std::string::npos) << geometry;
    const std::string properties =
        test::RunCommand("DISPLAY=" + display + " timeout 20 xprop -id " + window + " WM_CLASS _NET_WM_ICON 2>&1")
            .output;
    EXPECT_NE(properties.find("WM_CLASS(STRING) = \"KvAppClass\", \"KvAppClass\""), std::string::npos)
        << properties.substr(0, 300);
    EXPECT_NE(properties.find("_NET_WM_ICON(CARDINAL) ="), std::string::npos) << properties.substr(0, 300);
    EXPECT_NE(properties.find("Icon (128 x 128)"), std::string::npos) << properties.substr(0, 300);
    XdoTool("windowfocus --sync " + window);
    EXPECT_EQ(Quit(), 0) << Log("skydome.log");
}

}  // namespace
}  // namespace kv
