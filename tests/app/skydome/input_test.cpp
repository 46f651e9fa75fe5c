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
#include "app/skydome/controls.h"
#include "app/skydome/dome.h"
#include "app/skydome/options.h"
#include "app/skydome/sky.h"
#include "app/skydome/sky_model.h"
#include "app/skydome/skydome.h"
#include "engine/camera/camera.h"
#include "engine/frame/frame.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"

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
    struct Picture {
        bool ok = false;
        int width = 0, height = 0;
        std::vector<unsigned char> rgb;
        const unsigned char* At(int x, int y) const {
            return &rgb[3 *
                        (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))];
        }
        // Pixels of that colour in [x0, x1) x [y0, y1).
        int Count(RGBA c, int x0, int y0, int x1, int y1) const {
            int n = 0;
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x)
                    n += At(x, y)[0] == c.red && At(x, y)[1] == c.green && At(x, y)[2] == c.blue;
            }
            return n;
        }
    };
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
            EXPECT_EQ(Sun()->sunTheta, 100.0f);
            PushButton(SDL_BUTTON_LEFT, false, 300, 400);
            PushKey(SDL_SCANCODE_LCTRL, false);
            Press(SDL_SCANCODE_M);
        },
        [] {
            EXPECT_EQ(SkyModelInUse(), SkyModelPreetham);
            EXPECT_EQ(Sun()->sunTheta, 85.0f);
            EXPECT_EQ(std::memcmp(GeometryGetPrelitColors(Dome()), before.data(), sizeof(RGBA) * before.size()), 0)
                << "the default sky's colours again";
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
            Press(SDL_SCANCODE_X);
        },
        [] {
            EXPECT_NE(std::string(SkydomeGetApp()->status).find("Cannot save the dome to skydome.dff"),
                      std::string::npos)
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
    // The menu is shown at start: one Space shows the help.
    steps = {[] { Press(SDL_SCANCODE_SPACE); }, [] { EXPECT_EQ(MenuGetMode(), MenuModeHelp); }, [] {}};
    const Picture p = RunFor(3, {}, "help.png");
    ASSERT_TRUE(p.ok);
    // The help's first line at the top, text down the page, and nothing of
    // the dome, the data display or the logo.
    EXPECT_GT(p.Count(kText, 24, 14, 24 + 26 * 8, 28), 100);
    EXPECT_GT(p.Count(kText, 0, 240, 640, 480), 1000);
    EXPECT_EQ(p.Count(kBackground, 0, 0, 640, 480) + p.Count(kText, 0, 0, 640, 480), 640 * 480)
        << "only the help's two colours";
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
    EXPECT_EQ(p.Count(kText, left + width, 14, left + width + 40, 28), 0);
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

}  // namespace

}  // namespace kv
