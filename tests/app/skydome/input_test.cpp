// The whole program in this process, driven by SDL events pushed into its
// queue under the offscreen driver: keys and drags reach it through the shell,
// the menu and the controls exactly as a person's would. Each frame the test
// checks what the last events did and pushes the next ones.
#include <SDL.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/skel/menu.h"
#include "app/skel/text_panel.h"
#include "app/skydome/controls.h"
#include "app/skydome/dome.h"
#include "app/skydome/options.h"
#include "app/skydome/program_sky.h"
#include "app/skydome/skydome.h"
#include "app/skydome/workshop.h"
#include "engine/camera/camera.h"
#include "engine/frame/frame.h"
#include "engine/image/charset.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "picture.h"
#include "sky/analytic_sky.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

namespace fs = std::filesystem;

// One step per frame, run after the frame is drawn; the events it pushes are
// handled before the next frame.
std::vector<std::function<void()>> steps;
std::size_t stepAt = 0;

uint32 fakeNow = 0;
uint32 FakeClock() { return fakeNow; }

void PushKey(SDL_Scancode scancode, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    SDL_PushEvent(&e);
}

void Press(SDL_Scancode scancode) {
    PushKey(scancode, true);
    PushKey(scancode, false);
}

void PushMove(int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    SDL_PushEvent(&e);
}

void PushButton(uint8 button, bool down, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
}

void PushWheel(bool forward) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = forward ? 1 : -1;
    e.wheel.preciseY = forward ? 1.0f : -1.0f;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    SDL_PushEvent(&e);
}

// A click at (x, y), the pointer brought there first.
void Click(int x, int y) {
    PushMove(x, y);
    PushButton(SDL_BUTTON_LEFT, true, x, y);
    PushButton(SDL_BUTTON_LEFT, false, x, y);
}

// A drag from (x, y) by (dx, dy): the pointer first comes to (x, y) (the
// first move after the shell's warp only places it), the button goes down,
// the pointer moves, and the button stays down.
void BeginDrag(uint8 button, int x, int y, int dx, int dy) {
    PushMove(x, y);
    PushButton(button, true, x, y);
    PushMove(x + dx, y + dy);
}

}  // namespace

// The program's own handler, with the test's step after each frame.
int32 AppEventHandler(int32 event, void* data) {
    const int32 result = SkydomeEventHandler(event, data);
    if (event == EventIdle && stepAt < steps.size()) steps[stepAt++]();
    return result;
}

namespace {

using test::Picture;

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        home = fs::current_path();
        dir = fs::temp_directory_path() / ("kv_input_test_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        // The program's data comes from beside the program in the build tree.
        fs::current_path(dir);
        ShellSetDataFolders(folders);
        steps.clear();
        stepAt = 0;
    }
    void TearDown() override {
        SkydomeSetClock(nullptr);
        ShellSetDataFolders(nullptr);
        fs::current_path(home);
        fs::remove_all(dir);
    }

    // Runs the program with these options; the last step presses Escape.
    int Run(std::vector<std::string> options) {
        steps.push_back([] { Press(SDL_SCANCODE_ESCAPE); });
        // Escape is the end: a program still running after it has not quit.
        steps.push_back([] { ADD_FAILURE() << "Escape did not quit"; });
        *SkydomeGetOptions() = SkydomeOptions{};
        options.insert(options.begin(), {"skydome", "-vms"});
        std::vector<char*> args;
        for (std::string& o : options) args.push_back(o.data());
        std::string error;
        EXPECT_TRUE(SkydomeParseOptions(args, SkydomeGetOptions(), &error)) << error;
        args.push_back(nullptr);
        const int status = ShellMain(static_cast<int>(args.size()) - 1, args.data());
        EXPECT_EQ(stepAt, steps.size() - 1) << "every step ran, and the program ended at Escape";
        return status;
    }

    // Runs the program for a number of frames and returns the picture of
    // the last, kept in KV_TEST_PICTURES when that names a folder.
    Picture RunFor(int frames, std::vector<std::string> options, const std::string& name) {
        *SkydomeGetOptions() = SkydomeOptions{};
        const std::string file = (dir / name).string();
        options.insert(options.begin(), {"skydome", "-vms", "--frames", std::to_string(frames), "--screenshot", file});
        std::vector<char*> args;
        for (std::string& o : options) args.push_back(o.data());
        std::string error;
        EXPECT_TRUE(SkydomeParseOptions(args, SkydomeGetOptions(), &error)) << error;
        args.push_back(nullptr);
        EXPECT_EQ(ShellMain(static_cast<int>(args.size()) - 1, args.data()), 0);
        EXPECT_EQ(stepAt, steps.size()) << "every step ran";
        Picture p = test::PictureReadPng(file);
        if (!p.ok) return p;
        if (const char* keep = std::getenv("KV_TEST_PICTURES")) {
            std::error_code ignored;
            fs::copy_file(file, fs::path(keep) / name, fs::copy_options::overwrite_existing, ignored);
        }
        return p;
    }

    fs::path home, dir;
    const char* const folders[2] = {KV_PROGRAM_DIR, nullptr};
};

constexpr RGBA kText = {200, 200, 200, 255};
constexpr RGBA kBackground = {64, 64, 64, 255};

const SkyState* Sun() { return SkyGetState(); }
const ViewState* View() { return ViewGetState(); }
Frame* CameraFrame() { return CameraGetFrame(SkydomeGetApp()->camera); }
Frame* DomeFrame() { return ClumpGetFrame(SkydomeGetApp()->domeClump); }
Geometry* Dome() { return AtomicGetGeometry(DomeGetAtomic()); }

void ExpectNear(const V3d& a, const V3d& b, const char* what) {
    EXPECT_NEAR(a.x, b.x, 1e-4f) << what;
    EXPECT_NEAR(a.y, b.y, 1e-4f) << what;
    EXPECT_NEAR(a.z, b.z, 1e-4f) << what;
}

void ExpectMatrix(const Matrix* m, const Matrix& expected) {
    ExpectNear(m->right, expected.right, "right");
    ExpectNear(m->up, expected.up, "up");
    ExpectNear(m->at, expected.at, "at");
    ExpectNear(m->pos, expected.pos, "pos");
}

TEST_F(Program, ControlLeftDragMovesTheSunByTheTableInBothViews) {
    steps = {
        [] {
            EXPECT_FLOAT_EQ(Sun()->sunTheta, 50.0f);
            EXPECT_FLOAT_EQ(Sun()->sunPhi, 20.0f);
            PushKey(SDL_SCANCODE_LCTRL, true);
            BeginDrag(SDL_BUTTON_LEFT, 300, 200, 0, 10);  // 10 down
        },
        [] {
            EXPECT_NEAR(Sun()->sunTheta, 51.0f, 1e-4f);
            EXPECT_NEAR(Sun()->sunPhi, 20.0f, 1e-4f);
            PushMove(310, 210);  // 10 right
        },
        [] {
            EXPECT_NEAR(Sun()->sunPhi, 21.0f, 1e-4f) << "right adds azimuth in the orbit view";
            // Control let go mid-drag: the drag stays a sun drag.
            PushKey(SDL_SCANCODE_LCTRL, false);
            PushMove(310, 220);
        },
        [] {
            EXPECT_NEAR(Sun()->sunTheta, 52.0f, 1e-4f);
            PushButton(SDL_BUTTON_LEFT, false, 310, 220);
            Press(SDL_SCANCODE_P);  // the preview
        },
        [] {
            ASSERT_EQ(DomeGetSettings()->preview, 1);
            PushKey(SDL_SCANCODE_RCTRL, true);
            BeginDrag(SDL_BUTTON_LEFT, 310, 220, 10, 0);
        },
        [] {
            EXPECT_NEAR(Sun()->sunPhi, 20.0f, 1e-4f) << "right takes azimuth off in the preview";
            EXPECT_NEAR(Sun()->sunTheta, 52.0f, 1e-4f);
            EXPECT_NEAR(View()->elevation, 25.0f, 1e-6f) << "the camera stays";
            PushMove(320, -400);  // far up: the zenith angle stops at 0
        },
        [] {
            EXPECT_EQ(Sun()->sunTheta, 0.0f);
            PushButton(SDL_BUTTON_LEFT, false, 320, -400);
            PushKey(SDL_SCANCODE_RCTRL, false);
        },
    };
    EXPECT_EQ(Run({}), 0);
}

// M flips the sky model; the sun's drag stops where the model in use stops:
// 85 degrees in the default sky, 100 in the physical one, and back at 85
// when the default sky returns.
TEST_F(Program, TheSkyModelKeyFlipsTheModelAndTheSunsDragFollowsItsRange) {
    static std::vector<RGBA> before;
    steps = {
        [] {
            EXPECT_EQ(SkyModelInUse(), SkyModelPreetham);
            EXPECT_EQ(SkydomeGetApp()->skyModel, SkyModelPreetham);
            PushKey(SDL_SCANCODE_LCTRL, true);
            BeginDrag(SDL_BUTTON_LEFT, 300, 100, 0, 400);  // 40 degrees down
        },
        [] {
            EXPECT_EQ(Sun()->sunTheta, 85.0f);
            PushButton(SDL_BUTTON_LEFT, false, 300, 500);
            const RGBA* prelit = GeometryGetPrelitColors(Dome());
            before.assign(prelit, prelit + GeometryGetNumVertices(Dome()));
            Press(SDL_SCANCODE_M);
        },
        [] {
            // The first switch is shown on the status line before the
            // physical sky is set up, at the next frame.
            EXPECT_EQ(SkyModelInUse(), SkyModelPreetham);
            EXPECT_STREQ(SkydomeGetApp()->status, "Setting up the physical sky: a moment...");
        },
        [] {
            EXPECT_EQ(SkyModelInUse(), SkyModelPhysical);
            EXPECT_EQ(SkydomeGetApp()->skyModel, SkyModelPhysical);
            EXPECT_NE(std::memcmp(GeometryGetPrelitColors(Dome()), before.data(), sizeof(RGBA) * before.size()), 0)
                << "the dome shows the physical sky";
            BeginDrag(SDL_BUTTON_LEFT, 300, 100, 0, 100);  // 10 degrees down
        },
        [] {
            EXPECT_NEAR(Sun()->sunTheta, 95.0f, 1e-4f);
            PushMove(300, 400);
        },
        [] {
            EXPECT_EQ(Sun()->sunTheta, 115.0f);  // into the night
            PushButton(SDL_BUTTON_LEFT, false, 300, 400);
            PushKey(SDL_SCANCODE_LCTRL, false);
            Press(SDL_SCANCODE_M);
        },
        [] {
            EXPECT_EQ(SkyModelInUse(), SkyModelPreetham);
            EXPECT_EQ(Sun()->sunTheta, 85.0f);
            EXPECT_EQ(std::memcmp(GeometryGetPrelitColors(Dome()), before.data(), sizeof(RGBA) * before.size()), 0)
                << "the default sky's colours again";
            // Where the sun went is said.
            EXPECT_STREQ(SkydomeGetApp()->status,
                         "The analytic sky holds the sun at most 85 degrees from overhead:\n"
                         "the sun went from 115.0 to 85.0 degrees");
        },
    };
    EXPECT_EQ(Run({}), 0);
}

TEST_F(Program, ThePreviewTurnsTheDomeInsideOutAndSwapsTheMatrices) {
    static V3d normal0;
    static uint16 triangle0[3];
    static Matrix orbitDome;
    steps = {
        [] {
            normal0 = MorphTargetGetNormals(GeometryGetMorphTarget(Dome(), 0))[0];
            const uint16* v = GeometryGetTriangles(Dome())[0].vertIndex;
            std::copy(v, v + 3, triangle0);
            orbitDome = *FrameGetWorldMatrix(DomeFrame());
            // The dome's place from outside: 4.5 along +z.
            ExpectNear(orbitDome.pos, V3d{0.0f, 0.0f, 4.5f}, "orbit dome");
            // Turn the dome a little first: the orbit view keeps that.
            BeginDrag(SDL_BUTTON_LEFT, 300, 200, 30, 0);
            PushButton(SDL_BUTTON_LEFT, false, 330, 200);
        },
        [] {
            EXPECT_GT(std::fabs(FrameGetWorldMatrix(DomeFrame())->right.x - orbitDome.right.x), 0.1f);
            orbitDome = *FrameGetWorldMatrix(DomeFrame());
            Press(SDL_SCANCODE_P);
        },
        [] {
            ASSERT_EQ(DomeGetSettings()->preview, 1);
            ExpectNear(MorphTargetGetNormals(GeometryGetMorphTarget(Dome(), 0))[0], V3dNegate(normal0), "normal");
            const uint16* v = GeometryGetTriangles(Dome())[0].vertIndex;
            EXPECT_EQ(v[0], triangle0[0]);
            EXPECT_EQ(v[1], triangle0[2]) << "the winding turns";
            EXPECT_EQ(v[2], triangle0[1]);
            // The camera at the dome's centre, turned down 25 and round 345.
            Matrix camera;
            const V3d x{1.0f, 0.0f, 0.0f}, y{0.0f, 1.0f, 0.0f};
            MatrixRotate(&camera, &x, -25.0f, CombineReplace);
            MatrixRotate(&camera, &y, 345.0f, CombinePostConcat);
            ExpectMatrix(FrameGetWorldMatrix(CameraFrame()), camera);
            Matrix identity;
            MatrixSetIdentity(&identity);
            ExpectMatrix(FrameGetWorldMatrix(DomeFrame()), identity);
            EXPECT_EQ(View()->fieldOfView, 90.0f);
            EXPECT_NEAR(CameraGetViewWindow(SkydomeGetApp()->camera)->x, 1.0f, 1e-5f) << "tan 45";
            // Looking round in the preview is kept for the next time.
            BeginDrag(SDL_BUTTON_LEFT, 300, 200, 0, -50);  // 5 degrees up
            PushButton(SDL_BUTTON_LEFT, false, 300, 150);
            Press(SDL_SCANCODE_P);
        },
        [] {
            ASSERT_EQ(DomeGetSettings()->preview, 0);
            ExpectNear(MorphTargetGetNormals(GeometryGetMorphTarget(Dome(), 0))[0], normal0, "normal");
            Matrix identity;
            MatrixSetIdentity(&identity);
            ExpectMatrix(FrameGetWorldMatrix(CameraFrame()), identity);
            ExpectMatrix(FrameGetWorldMatrix(DomeFrame()), orbitDome);
            EXPECT_EQ(View()->fieldOfView, 45.0f);
            EXPECT_NEAR(View()->elevation, 30.0f, 1e-4f);
            Press(SDL_SCANCODE_P);
        },
        [] {
            Matrix camera;
            const V3d x{1.0f, 0.0f, 0.0f}, y{0.0f, 1.0f, 0.0f};
            MatrixRotate(&camera, &x, -30.0f, CombineReplace);
            MatrixRotate(&camera, &y, 345.0f, CombinePostConcat);
            ExpectMatrix(FrameGetWorldMatrix(CameraFrame()), camera);
        },
    };
    EXPECT_EQ(Run({}), 0);
}

TEST_F(Program, FieldOfViewStopsAt179AndElevationAt89Point9) {
    steps = {
        [] {
            EXPECT_EQ(View()->fieldOfView, 178.0f);
            BeginDrag(SDL_BUTTON_RIGHT, 320, 240, 0, -20);  // 20 up: +2 degrees
        },
        [] {
            EXPECT_EQ(View()->fieldOfView, 179.0f);
            // The camera's view window follows: tan(89.5 degrees) across, 3/4 of it up.
            const V2d* w = CameraGetViewWindow(SkydomeGetApp()->camera);
            EXPECT_NEAR(w->x, std::tan(179.0f * 0.008726646f), 0.01f);
            EXPECT_NEAR(w->y, w->x * 0.75f, 0.01f);
            PushButton(SDL_BUTTON_RIGHT, false, 320, 220);
            EXPECT_EQ(View()->elevation, 89.0f);
            BeginDrag(SDL_BUTTON_LEFT, 320, 240, 0, -20);
        },
        [] {
            EXPECT_EQ(View()->elevation, 89.9f);
            EXPECT_EQ(View()->azimuth, 345.0f);
            // While the look drag lasts the pointer is in the middle.
            EXPECT_TRUE(View()->drag.previewLook);
            PushButton(SDL_BUTTON_LEFT, false, 320, 220);
        },
        [] { EXPECT_FALSE(View()->drag.previewLook); },
    };
    EXPECT_EQ(Run({"--view", "preview", "--fov", "178", "--look", "89,345"}), 0);
}

TEST_F(Program, SpinTurnsFifteenDegreesASecondAndStopsWithThePreview) {
    fakeNow = 10000;
    SkydomeSetClock(FakeClock);
    steps.push_back([] { Press(SDL_SCANCODE_C); });
    // Two seconds in steps of 100 ms.
    for (int i = 0; i < 20; ++i) steps.push_back([] { fakeNow += 100; });
    steps.push_back([] {
        // 345 + 30 = 375, wrapped.
        EXPECT_NEAR(View()->azimuth, 15.0f, 0.01f);
        EXPECT_EQ(View()->spin, 1);
        Press(SDL_SCANCODE_P);
    });
    steps.push_back([] {
        EXPECT_EQ(View()->spin, 0) << "leaving the preview stops the spin";
        Press(SDL_SCANCODE_C);  // not offered outside the preview
        fakeNow += 1000;
    });
    steps.push_back([] {
        EXPECT_EQ(View()->spin, 0);
        Press(SDL_SCANCODE_P);
        fakeNow += 1000;
    });
    steps.push_back([] { EXPECT_NEAR(View()->azimuth, 15.0f, 0.01f) << "the preview camera stays where it was"; });
    EXPECT_EQ(Run({"--view", "preview"}), 0);
}

TEST_F(Program, XSavesWhileTheSkyIsOnAndIsNotOfferedWhileItIsOff) {
    steps = {
        [] { Press(SDL_SCANCODE_X); },
        [] {
            ASSERT_TRUE(fs::exists("skydome.dff"));
            std::ifstream in("skydome.dff", std::ios::binary);
            unsigned char header[12] = {};
            in.read(reinterpret_cast<char*>(header), sizeof header);
            EXPECT_EQ(header[0], 0x10) << "a clump";
            EXPECT_EQ(fs::file_size("skydome.dff"), 12u + (header[4] | header[5] << 8 | header[6] << 16));
            EXPECT_STREQ(SkydomeGetApp()->status, "Saved the dome to skydome.dff");
            fs::remove("skydome.dff");
            Press(SDL_SCANCODE_S);  // the sky off
        },
        [] {
            EXPECT_EQ(DomeGetSettings()->sky, 0);
            Press(SDL_SCANCODE_X);
        },
        [] {
            EXPECT_FALSE(fs::exists("skydome.dff")) << "a black dome is not saved";
            Press(SDL_SCANCODE_S);
        },
        [] {
            // A save that cannot be made says so, on screen too.
            fs::create_directory("skydome.dff");
            ::testing::internal::CaptureStderr();
            Press(SDL_SCANCODE_X);
        },
        [] {
            const std::string told = ::testing::internal::GetCapturedStderr();
            // The menu's own words first, then what the user can act on; the
            // status line has the latter.
            EXPECT_NE(told.find(": Cannot open stream.\nCannot save the dome to skydome.dff: it is a folder (Is a "
                                "directory). Give the name of a file, not of a folder.\n"),
                      std::string::npos)
                << told;
            EXPECT_EQ(
                std::string(SkydomeGetApp()->status).rfind("Cannot save the dome to skydome.dff: it is a folder", 0),
                0u)
                << SkydomeGetApp()->status;
        },
    };
    EXPECT_EQ(Run({}), 0);
}

// Shortcuts reach only the entries that apply: the ground and the normals
// outside the preview, the lens effect and the spin inside it, the lens effect
// only with the sky on.
TEST_F(Program, ShortcutsChangeOnlyTheEntriesOfferedInTheView) {
    steps = {
        [] {
            Press(SDL_SCANCODE_L);
            Press(SDL_SCANCODE_C);
            Press(SDL_SCANCODE_G);
            Press(SDL_SCANCODE_N);
            Press(SDL_SCANCODE_W);
        },
        [] {
            EXPECT_EQ(SkydomeGetApp()->lensEffect, 1) << "not offered outside the preview";
            EXPECT_EQ(View()->spin, 0);
            EXPECT_EQ(DomeGetSettings()->ground, 0);
            EXPECT_EQ(DomeGetSettings()->normals, 1);
            EXPECT_EQ(DomeGetSettings()->wire, 1);
            Press(SDL_SCANCODE_P);
            Press(SDL_SCANCODE_G);
            Press(SDL_SCANCODE_N);
            Press(SDL_SCANCODE_L);
        },
        [] {
            EXPECT_EQ(DomeGetSettings()->ground, 0) << "not offered in the preview";
            EXPECT_EQ(DomeGetSettings()->normals, 1);
            EXPECT_EQ(SkydomeGetApp()->lensEffect, 0);
            Press(SDL_SCANCODE_S);  // the sky off
            Press(SDL_SCANCODE_L);
            Press(SDL_SCANCODE_D);
            Press(SDL_SCANCODE_F);
        },
        [] {
            EXPECT_EQ(SkydomeGetApp()->lensEffect, 0) << "no flares without the sky";
            EXPECT_EQ(SkydomeGetApp()->displayData, 0);
            EXPECT_EQ(SkydomeGetApp()->showFps, 1);
        },
    };
    EXPECT_EQ(Run({}), 0);
}

// Resolution is the entry selected at start: Right raises it, and T builds
// the dome again, inside out in the preview.
TEST_F(Program, TessellateRebuildsTheDomeAtTheMenusResolution) {
    steps = {
        [] {
            Press(SDL_SCANCODE_RIGHT);
            Press(SDL_SCANCODE_P);
        },
        [] {
            EXPECT_EQ(DomeGetSettings()->resolution, 10);
            EXPECT_EQ(GeometryGetNumVertices(Dome()), 325) << "not before Tessellate";
            Press(SDL_SCANCODE_T);
        },
        [] {
            ASSERT_EQ(GeometryGetNumVertices(Dome()), 401);
            EXPECT_EQ(DomeGetTessellation()->rings, 10);
            const MorphTarget* m = GeometryGetMorphTarget(Dome(), 0);
            ExpectNear(MorphTargetGetNormals(m)[0], V3dNegate(MorphTargetGetVertices(m)[0]), "inwards in the preview");
            Press(SDL_SCANCODE_P);
        },
        [] {
            const MorphTarget* m = GeometryGetMorphTarget(Dome(), 0);
            ExpectNear(MorphTargetGetNormals(m)[0], MorphTargetGetVertices(m)[0], "outwards again");
        },
    };
    EXPECT_EQ(Run({}), 0);
}

TEST_F(Program, EscapeQuitsCleanlyAndTakesTheSceneDown) {
    steps = {[] { EXPECT_TRUE(SkydomeGetApp()->sceneReady); }};
    EXPECT_EQ(Run({}), 0);
    const SkydomeApp* app = SkydomeGetApp();
    EXPECT_FALSE(app->engineStarted);
    EXPECT_EQ(app->camera, nullptr);
    EXPECT_EQ(app->domeClump, nullptr);
    EXPECT_EQ(app->ground, nullptr);
    EXPECT_EQ(DomeGetAtomic(), nullptr);
}

// While the left button looks round in the preview, the pointer's cross is
// drawn in the middle of the picture.
TEST_F(Program, ACrossMarksTheMiddleWhileLookingRound) {
    // The cross's white pixels (rows 3 and 4 of its arms, columns 3 and 4 of
    // row 7) with the 16 x 16 raster centred in 640 x 480.
    const int white[][2] = {{319, 235}, {320, 235}, {319, 236}, {320, 236},
                            {315, 239}, {316, 239}, {323, 239}, {324, 239}};
    auto whites = [&](const Picture& p) {
        int n = 0;
        for (const auto& w : white) n += p.Count(RGBA{255, 255, 255, 255}, w[0], w[1], w[0] + 1, w[1] + 1);
        return n;
    };
    steps = {[] { BeginDrag(SDL_BUTTON_LEFT, 320, 240, 0, 0); }, [] { EXPECT_TRUE(View()->drag.previewLook); }, [] {}};
    const Picture looking = RunFor(3, {"--view", "preview", "--show", "none"}, "pointer.png");
    ASSERT_TRUE(looking.ok);
    EXPECT_EQ(whites(looking), 8);
    steps.clear();
    stepAt = 0;
    const Picture still = RunFor(3, {"--view", "preview", "--show", "none"}, "nopointer.png");
    ASSERT_TRUE(still.ok);
    EXPECT_EQ(whites(still), 0);
}

TEST_F(Program, TheHelpPageCoversTheScene) {
    // The menu is shown at start: one Space shows the help. The save's line
    // stays off the page: the picture is the one without a save.
    steps = {[] { Press(SDL_SCANCODE_SPACE); }, [] { EXPECT_EQ(MenuGetMode(), MenuModeHelp); }, [] {}};
    const Picture p = RunFor(3, {}, "help.png");
    ASSERT_TRUE(p.ok);
    steps = {[] {
                 Press(SDL_SCANCODE_X);
                 Press(SDL_SCANCODE_SPACE);
             },
             [] { EXPECT_NE(SkydomeGetApp()->status[0], '\0'); }, [] {}};
    stepAt = 0;
    const Picture saved = RunFor(3, {}, "help_saved.png");
    ASSERT_TRUE(saved.ok);
    EXPECT_TRUE(saved.rgb == p.rgb) << "the save's line is drawn over the help";
    // The help's first line at the top, text down the page, and nothing of
    // the dome, the data display or the logo.
    EXPECT_GT(p.Count(kText, 24, 14, 24 + 26 * 8, 28), 100);
    EXPECT_GT(p.Count(kText, 0, 240, 640, 480), 1000);
    // The text on a darker panel, the page round it.
    const unsigned char* under = p.At(5, 20);
    const RGBA panel{under[0], under[1], under[2], 255};
    EXPECT_LT(panel.red, kBackground.red);
    EXPECT_EQ(p.Count(kBackground, 0, 0, 640, 480) + p.Count(panel, 0, 0, 640, 480) + p.Count(kText, 0, 0, 640, 480),
              640 * 480)
        << "only the help's colours";
}

TEST_F(Program, FramesPerSecondAreCountedOverEachSecondAndShownAtTheTop) {
    fakeNow = 50000;
    SkydomeSetClock(FakeClock);
    steps.push_back([] {
        Press(SDL_SCANCODE_F);
        fakeNow += 100;
    });
    // A frame each 100 ms: the count of the first second is 11 frames (the
    // second ends with the first frame more than 1000 ms after the first).
    for (int i = 0; i < 12; ++i) steps.push_back([] { fakeNow += 100; });
    const Picture p = RunFor(static_cast<int>(steps.size()), {}, "fps.png");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(SkydomeGetApp()->framesPerSecond, 11u);
    // "FPS: 011", centred on the first text row.
    const int width = 8 * 8, left = (640 - width) / 2;
    EXPECT_GT(p.Count(kText, left, 14, left + width, 28), 60);
    EXPECT_EQ(p.Count(kText, left - 40, 14, left, 28), 0);
    EXPECT_EQ(p.Count(kText, left + width, 14, left + width + 20, 28), 0);
}

TEST_F(Program, ThePreviewWithTheMenu) {
    const Picture p = RunFor(2, {"--view", "preview"}, "preview_menu.png");
    ASSERT_TRUE(p.ok);
    // Below the horizon the preview's own clear colour; the menu at the top
    // left, the camera's angles at the top right.
    EXPECT_EQ(p.Count(RGBA{7, 77, 48, 255}, 100, 440, 500, 480), 400 * 40);
    EXPECT_GT(p.Count(kText, 24, 14, 24 + 8 * 28, 14 * 16), 500);
    EXPECT_GT(p.Count(kText, 640 - 130, 14 * 4, 640, 14 * 7), 100) << "Cam EL, AZ and HF";
}

// --- The mouse and the menu ----------------------------------------------------

// The menu's lines as the program draws them: 24 cells from x = 24, a row of
// 14 pixels each from y = 14; values in the last cells.
// The menu's lines are 28 characters wide (its longest label and value, the
// Sky model's "preetham", and room between); a point well inside the values.
constexpr int kMenuLeft = 24, kMenuChars = 28, kMenuValue = 24 + (kMenuChars - 3) * 8, kRow = 14;
int MenuRowY(int row) { return kRow * (row + 1) + 7; }
enum MenuRow { RowResolution = 0, RowTessellate = 1, RowExposure = 2, RowPreview = 3 };

Matrix DomeMatrix() { return *FrameGetWorldMatrix(DomeFrame()); }

// A drag the menu did not start ends when its button comes up, whatever the
// menu selected meanwhile (a float entry selected mid-drag once took the
// release, and the dome, the sun or the look went on following the pointer).
TEST_F(Program, ADragEndsWithItsButtonWhateverTheMenuSelectsMeanwhile) {
    static Matrix dome;
    static float zenith, elevation;
    steps = {
        [] {
            Press(SDL_SCANCODE_DOWN);  // Tessellate
            BeginDrag(SDL_BUTTON_LEFT, 400, 300, 5, 0);
        },
        [] {
            EXPECT_TRUE(View()->drag.orbitRotate);
            Press(SDL_SCANCODE_DOWN);  // Exposure
            PushButton(SDL_BUTTON_LEFT, false, 405, 300);
        },
        [] {
            EXPECT_FALSE(View()->drag.orbitRotate);
            dome = DomeMatrix();
            PushMove(450, 330);  // no button held
        },
        [] {
            ExpectMatrix(FrameGetWorldMatrix(DomeFrame()), dome);
            EXPECT_FLOAT_EQ(DomeGetSettings()->exposure, 0.1f);
            // The sun: Control and a drag begun on Tessellate, the selection
            // moved onto Exposure and off it again.
            Press(SDL_SCANCODE_UP);
            PushKey(SDL_SCANCODE_LCTRL, true);
            BeginDrag(SDL_BUTTON_LEFT, 450, 330, 0, 10);
            Press(SDL_SCANCODE_DOWN);
            Press(SDL_SCANCODE_UP);
            PushButton(SDL_BUTTON_LEFT, false, 450, 340);
            PushKey(SDL_SCANCODE_LCTRL, false);
        },
        [] {
            EXPECT_NEAR(Sun()->sunTheta, 51.0f, 1e-4f);
            EXPECT_FALSE(View()->drag.sunDrag);
            zenith = Sun()->sunTheta;
            PushMove(450, 400);
        },
        [] {
            EXPECT_EQ(Sun()->sunTheta, zenith);
            // Looking round in the preview.
            Press(SDL_SCANCODE_P);
            BeginDrag(SDL_BUTTON_LEFT, 450, 400, 0, -20);
            Press(SDL_SCANCODE_DOWN);
            Press(SDL_SCANCODE_UP);
            PushButton(SDL_BUTTON_LEFT, false, 450, 380);
        },
        [] {
            EXPECT_NEAR(View()->elevation, 27.0f, 1e-4f);
            EXPECT_FALSE(View()->drag.previewLook);
            elevation = View()->elevation;
            PushMove(450, 300);
        },
        [] { EXPECT_EQ(View()->elevation, elevation); },
    };
    EXPECT_EQ(Run({}), 0);
}

TEST_F(Program, TheMouseOnTheMenuWorksTheMenuAndLeavesTheScene) {
    static Matrix dome;
    steps = {
        [] {
            dome = DomeMatrix();
            // A click and a drag on the menu's labels: the scene stays.
            Click(kMenuLeft + 20, MenuRowY(RowPreview));
            BeginDrag(SDL_BUTTON_LEFT, kMenuLeft + 20, MenuRowY(RowResolution), 60, 40);
            PushButton(SDL_BUTTON_LEFT, false, kMenuLeft + 80, MenuRowY(RowResolution) + 40);
        },
        [] {
            ExpectMatrix(FrameGetWorldMatrix(DomeFrame()), dome);
            EXPECT_FALSE(View()->drag.orbitRotate);
            EXPECT_EQ(DomeGetSettings()->preview, 0);
            EXPECT_EQ(DomeGetSettings()->resolution, 9);
            // Its value: as Right; with Shift, as Left.
            Click(kMenuValue, MenuRowY(RowResolution));
            Click(kMenuValue, MenuRowY(RowResolution));
        },
        [] {
            EXPECT_EQ(DomeGetSettings()->resolution, 11);
            // The shell reads Shift as the click is taken, after this step.
            SDL_SetModState(KMOD_LSHIFT);
            Click(kMenuValue + 8, MenuRowY(RowResolution));
        },
        [] {
            SDL_SetModState(KMOD_NONE);
            EXPECT_EQ(DomeGetSettings()->resolution, 10);
            // The wheel over Exposure's value.
            PushMove(kMenuValue, MenuRowY(RowExposure));
            PushMove(kMenuValue + 4, MenuRowY(RowExposure));
            PushWheel(true);
            PushWheel(true);
            PushWheel(false);
        },
        [] {
            EXPECT_NEAR(DomeGetSettings()->exposure, 0.11f, 1e-5f);
            // A drag that starts on Exposure's line changes it, not the dome.
            BeginDrag(SDL_BUTTON_LEFT, kMenuLeft + 20, MenuRowY(RowExposure), 50, 0);
        },
        [] {
            EXPECT_NEAR(DomeGetSettings()->exposure, 0.11f + 0.99f * 0.002f * 50.0f, 1e-4f);
            ExpectMatrix(FrameGetWorldMatrix(DomeFrame()), dome);
            PushButton(SDL_BUTTON_LEFT, false, kMenuLeft + 70, MenuRowY(RowExposure));
            // Exposure stays selected: a left drag in the scene changes it,
            // and the dome stays; the wheel in the scene moves the selection.
            BeginDrag(SDL_BUTTON_LEFT, 400, 300, 0, -20);
            PushButton(SDL_BUTTON_LEFT, false, 400, 280);
        },
        [] {
            EXPECT_NEAR(DomeGetSettings()->exposure, 0.11f + 0.99f * 0.002f * 70.0f, 1e-4f);
            ExpectMatrix(FrameGetWorldMatrix(DomeFrame()), dome);
            PushMove(400, 300);
            PushWheel(false);
        },
        [] {
            EXPECT_EQ(MenuGetSelectedIndex(), RowPreview) << "the wheel moved the selection down";
            // Preview selected, a drag in the scene turns the dome.
            BeginDrag(SDL_BUTTON_LEFT, 400, 300, 30, 0);
            PushButton(SDL_BUTTON_LEFT, false, 430, 300);
        },
        [] {
            EXPECT_NEAR(DomeGetSettings()->exposure, 0.11f + 0.99f * 0.002f * 70.0f, 1e-4f);
            EXPECT_GT(std::fabs(DomeMatrix().right.x - dome.right.x), 0.1f) << "the dome turned";
            // Preview's value: the view changes.
            Click(kMenuValue + 8, MenuRowY(RowPreview));
        },
        [] { EXPECT_EQ(DomeGetSettings()->preview, 1); },
    };
    EXPECT_EQ(Run({}), 0);
}

// Home: both views as they started (the options' look and field of view
// included), whatever the drags did; the sun and the exposure stay.
TEST_F(Program, HomeBringsBackTheStartingViewsButNotTheSunOrTheExposure) {
    static Matrix orbitCamera, orbitDome, previewCamera;
    steps = {
        [] {
            previewCamera = *FrameGetWorldMatrix(CameraFrame());
            BeginDrag(SDL_BUTTON_LEFT, 400, 300, 40, 30);  // look round
            PushButton(SDL_BUTTON_LEFT, false, 440, 330);
            BeginDrag(SDL_BUTTON_RIGHT, 400, 300, 0, -200);  // wider
            PushButton(SDL_BUTTON_RIGHT, false, 400, 100);
            PushKey(SDL_SCANCODE_LCTRL, true);
            BeginDrag(SDL_BUTTON_LEFT, 400, 300, 0, 50);  // the sun 5 lower
            PushButton(SDL_BUTTON_LEFT, false, 400, 350);
            PushKey(SDL_SCANCODE_LCTRL, false);
            Press(SDL_SCANCODE_DOWN);
            Press(SDL_SCANCODE_DOWN);
            Press(SDL_SCANCODE_RIGHT);  // exposure 0.11
        },
        [] {
            EXPECT_NE(View()->elevation, 10.0f);
            EXPECT_GT(View()->fieldOfView, 60.0f);
            Press(SDL_SCANCODE_HOME);
        },
        [] {
            EXPECT_NEAR(View()->elevation, 10.0f, 1e-5f);
            EXPECT_NEAR(View()->azimuth, 100.0f, 1e-5f);
            EXPECT_EQ(View()->fieldOfView, 60.0f);
            EXPECT_NEAR(CameraGetViewWindow(SkydomeGetApp()->camera)->x, std::tan(30.0f * 0.0174533f), 1e-4f);
            ExpectMatrix(FrameGetWorldMatrix(CameraFrame()), previewCamera);
            EXPECT_NEAR(Sun()->sunTheta, 55.0f, 1e-4f) << "the sun stays";
            EXPECT_NEAR(DomeGetSettings()->exposure, 0.11f, 1e-5f) << "the exposure stays";
            Press(SDL_SCANCODE_P);
            Press(SDL_SCANCODE_UP);  // off Exposure: the drags are the scene's
        },
        [] {
            // The orbit view as it started.
            orbitCamera = *FrameGetWorldMatrix(CameraFrame());
            orbitDome = DomeMatrix();
            EXPECT_EQ(View()->fieldOfView, 45.0f);
            // Turned, and pushed behind the camera.
            BeginDrag(SDL_BUTTON_LEFT, 400, 300, 60, 20);
            PushButton(SDL_BUTTON_LEFT, false, 460, 320);
            BeginDrag(SDL_BUTTON_RIGHT, 400, 300, 0, 1000);
            PushButton(SDL_BUTTON_RIGHT, false, 400, 1300);
        },
        [] {
            EXPECT_LT(DomeMatrix().pos.z, 0.0f) << "behind the camera";
            Press(SDL_SCANCODE_HOME);
        },
        [] {
            ExpectMatrix(FrameGetWorldMatrix(CameraFrame()), orbitCamera);
            ExpectMatrix(FrameGetWorldMatrix(DomeFrame()), orbitDome);
            ExpectNear(DomeMatrix().pos, V3d{0.0f, 0.0f, 4.5f}, "the dome's place");
            EXPECT_EQ(View()->fieldOfView, 45.0f);
            EXPECT_NEAR(Sun()->sunTheta, 55.0f, 1e-4f);
        },
    };
    EXPECT_EQ(Run({"--view", "preview", "--look", "10,100", "--fov", "60"}), 0);
}

// --- The workshop ------------------------------------------------------------------

// Export writes under the first number none of its files has, and says
// where each went; a failed one names its folder.
TEST_F(Program, ExportNumbersItsFilesBesideTheOnesThereAndNamesAFailedFolder) {
    std::ofstream("skydome-001.png") << "a picture of someone's";
    steps = {[] { Press(SDL_SCANCODE_E); }, [] {}};
    EXPECT_EQ(Run({"--panorama-size", "64"}), 0);
    for (const char* e : {".glb", ".exr", ".png", ".dff"}) {
        EXPECT_TRUE(fs::exists(std::string("skydome-002") + e)) << e;
        EXPECT_FALSE(fs::exists(std::string("skydome-001") + e) && std::string(e) != ".png") << e;
    }
    EXPECT_EQ(std::string(SkydomeGetApp()->status),
              "Exported\n" + (dir / "skydome-002.glb").string() + "\n" + (dir / "skydome-002.exr").string() + "\n" +
                  (dir / "skydome-002.png").string() + "\n" + (dir / "skydome-002.dff").string());
    steps = {[] { Press(SDL_SCANCODE_E); }, [] {}};
    stepAt = 0;
    EXPECT_EQ(Run({"--export-gltf", "/proc/sky.glb"}), 0);
    EXPECT_EQ(std::string(SkydomeGetApp()->status),
              "Cannot write in /proc:\nits folder is there, but it is a system folder that makes no new files\n"
              "The files go where the program started, or where the options say");
}

// ] and [ step the time of day and the sun follows the place; a hand that
// moves the sun ends that.
TEST_F(Program, TheTimeKeysMoveTheSunWithThePlaceUntilAHandMovesIt) {
    static float zenith;
    steps = {
        [] {
            EXPECT_EQ(WorkshopGetPlace()->on, 1);
            zenith = Sun()->sunTheta;
            for (int i = 0; i < 4; ++i) Press(SDL_SCANCODE_RIGHTBRACKET);
            Press(SDL_SCANCODE_LEFTBRACKET);
        },
        [] {
            EXPECT_EQ(WorkshopGetPlace()->hours, 18.75f);
            double expected = 0.0;
            float azimuth = 0.0f;
            PlaceTimeSun(*WorkshopGetPlace(), &expected, &azimuth);
            EXPECT_EQ(Sun()->sunTheta, static_cast<float>(expected));
            EXPECT_EQ(Sun()->sunPhi, azimuth);
            EXPECT_GT(Sun()->sunTheta, zenith) << "lower in the evening";
            PushKey(SDL_SCANCODE_LCTRL, true);
            BeginDrag(SDL_BUTTON_LEFT, 300, 200, 0, -30);
            PushButton(SDL_BUTTON_LEFT, false, 300, 170);
            PushKey(SDL_SCANCODE_LCTRL, false);
        },
        [] {},
        [] {
            EXPECT_EQ(WorkshopGetPlace()->on, 0);
            EXPECT_STREQ(SkydomeGetApp()->status,
                         "The sun was moved by hand: it no longer follows the place and time (O)");
        },
    };
    EXPECT_EQ(Run({"--location", "48.8566, 2.3522", "--time", "2026-06-21T18:00", "--zone", "Europe/Paris"}), 0);
}

// --- The text over the scene -----------------------------------------------------

// Whether text is drawn in the picture at (x, y) in the text colour, glyph
// for glyph, nothing of the text colour between the glyphs' pixels.
testing::AssertionResult ShowsText(const Picture& p, int x, int y, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const uint8* glyph = CharsetGlyph(static_cast<unsigned char>(text[i]));
        for (int row = 0; row < 14; ++row) {
            for (int bit = 0; bit < 8; ++bit) {
                const int px = x + static_cast<int>(i) * 8 + bit;
                const bool on = ((glyph[row] >> bit) & 1) != 0;
                const bool ink = p.Count(kText, px, y + row, px + 1, y + row + 1) == 1;
                if (on != ink) {
                    return testing::AssertionFailure() << "'" << text << "' differs at character " << i << " ('"
                                                       << text[i] << "'), pixel " << px << "," << y + row;
                }
            }
        }
    }
    return testing::AssertionSuccess();
}

// The lines at the places the data display has always had, 130 pixels from
// the right edge; the compass bearings on lines of their own below them.
TEST_F(Program, TheDataDisplayKeepsItsLinesAndGivesTheCompassBearingsBelow) {
    constexpr int x = 640 - 130;
    const Picture p = RunFor(2, {"--view", "preview", "--look", "30,40", "--sun", "50,0.04"}, "compass.png");
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(ShowsText(p, x, kRow, "Sun ZD: 50.0"));
    EXPECT_TRUE(ShowsText(p, x, 2 * kRow, "Sun AZ: 0.0"));
    EXPECT_TRUE(ShowsText(p, x, 4 * kRow, "Cam EL: 30.0"));
    EXPECT_TRUE(ShowsText(p, x, 5 * kRow, "Cam AZ: 40.0"));
    EXPECT_TRUE(ShowsText(p, x, 6 * kRow, "Cam HF: 90.0"));
    // +z is north and +x west: the compass turns the other way.
    EXPECT_TRUE(ShowsText(p, x, 8 * kRow, "Compass bearings"));
    EXPECT_TRUE(ShowsText(p, x, 9 * kRow, "Sun: 0.0")) << "not 360.0";
    EXPECT_TRUE(ShowsText(p, x, 10 * kRow, "Cam: 320.0"));
}

// The lowest contrast between the text in [x0, x1) x [y, y + 14) (pixels of
// one of the inks) and every other pixel there, what lies right behind it;
// 0 when no text is there.
float LowestContrast(const Picture& p, int x0, int x1, int y, const std::vector<RGBA>& inks) {
    std::vector<RGBA> text, behind;
    for (int j = y; j < y + 14; ++j) {
        for (int i = x0; i < x1; ++i) {
            const unsigned char* c = p.At(i, j);
            const RGBA pixel{c[0], c[1], c[2], 255};
            bool isInk = false;
            for (const RGBA& ink : inks) isInk = isInk || (ink.red == c[0] && ink.green == c[1] && ink.blue == c[2]);
            (isInk ? text : behind).push_back(pixel);
        }
    }
    if (text.empty()) return 0.0f;
    float lowest = 21.0f;
    for (const RGBA& t : text) {
        for (const RGBA& b : behind) lowest = std::min(lowest, ContrastRatio(t, b));
    }
    return lowest;
}

// Facing the sun at the highest exposure the sky behind the text is white:
// the menu, the data display, the frames per second and the save's line keep
// 4.5 : 1 on their panels, and dimmed entries stay darker than the others.
TEST_F(Program, TheTextStaysReadableOverTheBrightestSky) {
    static MenuPalette colours;
    steps = {[] {
                 colours = *MenuGetPalette();
                 Press(SDL_SCANCODE_X);
             },
             [] {}, [] {}};
    const Picture p =
        RunFor(3, {"--view", "preview", "--look", "15,340", "--exposure", "1", "--show", "fps"}, "readable.png");
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(fs::exists("skydome.dff"));
    // Between the menu and the data, the sky with the sun behind the menu is
    // white or, in the flares' rings, nearly so.
    int bright = 0;
    const int right = kMenuLeft + kMenuChars * 8 + 16;
    for (int y = 20; y < 240; ++y) {
        for (int x = right; x < 360; ++x)
            bright += p.At(x, y)[0] >= 245 && p.At(x, y)[1] >= 245 && p.At(x, y)[2] >= 245;
    }
    EXPECT_GT(bright, (360 - right) * 220 * 95 / 100);

    const MenuPalette* palette = &colours;
    const std::vector<RGBA> inks = {palette->text, palette->disabled, palette->separator};
    EXPECT_GT(RelativeLuminance(palette->text), 1.5f * RelativeLuminance(palette->disabled));
    struct Line {
        const char* what;
        int x0, x1, y;
    };
    std::vector<Line> lines;
    for (int row = 0; row < 16; ++row)
        lines.push_back({"menu", kMenuLeft, kMenuLeft + kMenuChars * 8, kRow * (row + 1)});
    for (int row : {1, 2, 4, 5, 6, 8, 9, 10}) lines.push_back({"data", 640 - 130, 640 - 2, kRow * row});
    for (int y : {480 - 2 * kRow - 20, 480 - kRow - 20}) lines.push_back({"counts", 640 - 135, 640 - 135 + 14 * 8, y});
    lines.push_back({"fps", (640 - 64) / 2, (640 + 64) / 2, kRow});
    const int status = static_cast<int>(std::strlen(SkydomeGetApp()->status)) * 8;
    lines.push_back({"save", (640 - status) / 2, (640 + status) / 2, 480 - 3 * kRow - 20});
    for (const Line& l : lines) {
        const float contrast = LowestContrast(p, l.x0, l.x1, l.y, inks);
        EXPECT_GE(contrast, kTextMinContrast) << l.what << " at y " << l.y << (contrast == 0.0f ? ": no text" : "");
    }
    // Ground and Normals are dimmed in the preview, Sky and Wire mesh not.
    const int menuEnd = kMenuLeft + kMenuChars * 8;
    for (int row : {6, 8})
        EXPECT_GT(p.Count(palette->disabled, kMenuLeft, kRow * (row + 1), menuEnd, kRow * (row + 2)), 40);
    for (int row : {5, 7})
        EXPECT_GT(p.Count(palette->text, kMenuLeft, kRow * (row + 1), menuEnd, kRow * (row + 2)), 40);
}

}  // namespace

}  // namespace kv
