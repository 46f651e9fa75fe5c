#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/skel/sdl/platform.h"
#include "app_handler.h"
#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/image/image.h"
#include "engine/image/raster.h"
#include "error_log.h"
#include "test_device.h"

namespace kv {
namespace {

struct Seen {
    int32 event;
    void* data;
};

class Skeleton : public ::testing::Test {
  protected:
    std::vector<Seen> seen;
    void SetUp() override {
        test::appHandler = [this](int32 e, void* d) {
            seen.push_back({e, d});
            return EventNotHandled;
        };
    }
    void TearDown() override {
        test::appHandler = nullptr;
        ShellDefaultEvent(EventPreInitialise, nullptr);
    }
};

TEST_F(Skeleton, PreInitialiseRestoresTheDefaults) {
    ShellSettings* s = ShellGetSettings();
    *s = ShellSettings{"Mine", 800, 600, 60, 1};
    InputDeviceRegister(InputKeyboard, [](int32, void*) { return int32{EventHandled}; });
    InputDeviceRegister(InputMouse, [](int32, void*) { return int32{EventHandled}; });
    PlatformRecord* r = PlatformGetRecord();
    r->fullScreen = 1;
    r->lastMouseX = 3.0f;
    r->lastMouseY = 4.0f;
    r->lastFrameTime = 99;

    EXPECT_EQ(ShellEvent(EventPreInitialise, nullptr), EventHandled);
    EXPECT_STREQ(s->title, "Kelvane Application");
    EXPECT_EQ(s->width, 0);
    EXPECT_EQ(s->height, 0);
    EXPECT_EQ(s->maxFrameRate, 0);
    EXPECT_EQ(s->quit, 0);
    EXPECT_EQ(KeyboardEvent(EventKeyDown, nullptr), EventNotHandled);
    EXPECT_EQ(MouseEvent(EventMouseMove, nullptr), EventNotHandled);
    EXPECT_EQ(r->fullScreen, 0);
    EXPECT_EQ(r->lastMouseX, 0.0f);
    EXPECT_EQ(r->lastMouseY, 0.0f);
    EXPECT_EQ(r->lastFrameTime, 0u);
}

TEST_F(Skeleton, TheApplicationComesFirstAndQuitAlwaysSetsTheFlag) {
    test::appHandler = [this](int32 e, void* d) {
        seen.push_back({e, d});
        return e == EventQuit ? EventHandled : EventNotHandled;
    };
    ShellGetSettings()->quit = 0;
    EXPECT_EQ(ShellEvent(EventQuit, nullptr), EventHandled);
    EXPECT_EQ(ShellGetSettings()->quit, 1);

    // A command-line argument the application leaves becomes a file load.
    char arg[] = "dome.dff";
    seen.clear();
    EXPECT_EQ(ShellEvent(EventCommandLineArgument, arg), EventHandled);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].event, EventFileLoad);
    EXPECT_EQ(seen[1].data, arg);

    EXPECT_EQ(ShellEvent(EventEngineInitialised, nullptr), EventHandled);
    EXPECT_EQ(ShellEvent(EventPostTerminate, nullptr), EventHandled);
    // The readers register with a started engine's format registry; there is
    // none here.
    EXPECT_EQ(ShellEvent(EventRegisterImageLoaders, nullptr), EventFailed);
    EXPECT_EQ(ShellEvent(EventIdle, nullptr), EventNotHandled);
    EXPECT_EQ(ShellEvent(EventFileLoad, arg), EventNotHandled);
}

TEST_F(Skeleton, InputHandlersTakeOnlyTheThreeKinds) {
    static std::vector<int32> keys;
    keys.clear();
    EXPECT_TRUE(InputDeviceRegister(InputKeyboard, [](int32 e, void*) {
        keys.push_back(e);
        return int32{EventHandled};
    }));
    EXPECT_TRUE(InputDeviceRegister(InputOther, [](int32, void*) { return int32{EventHandled}; }));
    EXPECT_FALSE(InputDeviceRegister(3, [](int32, void*) { return int32{EventHandled}; }));
    EXPECT_FALSE(InputDeviceRegister(-1, [](int32, void*) { return int32{EventHandled}; }));
    EXPECT_EQ(KeyboardEvent(EventKeyUp, nullptr), EventHandled);
    EXPECT_EQ(MouseEvent(EventMouseWheel, nullptr), EventNotHandled);
    EXPECT_EQ(keys, std::vector<int32>{EventKeyUp});
}

TEST_F(Skeleton, OnlyTheExactOptionClearsTheDialogFlag) {
    ASSERT_EQ(ShellDeviceDialogFlag(), 1) << "the flag is 1 at load; nothing before this test may clear it";
    for (const char* other : {"-vmsx", "-VMS", "-vm", "vms", "--vms", "-vms "}) {
        std::string a = other;
        EXPECT_EQ(ShellEvent(EventPreOption, a.data()), EventFailed) << other;
        EXPECT_EQ(ShellDeviceDialogFlag(), 1) << other;
    }
    char vms[] = "-vms";
    EXPECT_EQ(ShellEvent(EventPreOption, vms), EventHandled);
    EXPECT_EQ(ShellDeviceDialogFlag(), 0);
}

TEST_F(Skeleton, ErrorMessageReleasesTheKeysAndWritesTheText) {
    static std::vector<KeyboardRecord> ups;
    ups.clear();
    InputDeviceRegister(InputKeyboard, [](int32 e, void* d) {
        if (e == EventKeyUp) ups.push_back(*static_cast<KeyboardRecord*>(d));
        return int32{EventHandled};
    });
    ShellGetSettings()->title = "Box Title";
    // No display in unit tests: the text goes to stderr only, no box waits.
    const char* was = std::getenv("SDL_VIDEODRIVER");
    const std::string saved = was != nullptr ? was : "";
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    ::testing::internal::CaptureStderr();
    PlatformErrorMessage("Error initializing Kelvane.");
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (was != nullptr) {
        setenv("SDL_VIDEODRIVER", saved.c_str(), 1);
    } else {
        unsetenv("SDL_VIDEODRIVER");
    }
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(ups[0].scanIndex, 255);
    EXPECT_EQ(ups[0].keyCode, 255);
    EXPECT_NE(err.find("Box Title"), std::string::npos) << err;
    EXPECT_NE(err.find("Error initializing Kelvane."), std::string::npos) << err;
}

// A failure report says why in words: the note when the failure was no
// engine error (once: it goes with the report), else what the engine error
// means. Module numbers and codes are a debug line, shown only when asked.
TEST_F(Skeleton, AFailureReportSaysWhyInWordsAndTheCodesOnlyWhenVerbose) {
    const char* was = std::getenv("SDL_VIDEODRIVER");
    const std::string saved = was != nullptr ? was : "";
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    ShellEvent(EventPreInitialise, nullptr);  // the report hook
    ShellGetSettings()->title = "Box Title";
    const auto report = [](const char* message) {
        ::testing::internal::CaptureStderr();
        ShellReportFailure(message);
        return ::testing::internal::GetCapturedStderr();
    };
    ShellNoteFailure("the device selection was closed with EXIT");
    const std::string noted = report("Error initializing Kelvane.");
    const std::string plain = report("Error initializing Kelvane.");
    ErrorRaise(kIdTextureModule, kErrTextureRead);
    const std::string engine = report("Cannot create ground texture.");
    ErrorRaise(kIdTextureModule, kErrTextureRead);
    const std::string explained = report("Cannot create ground texture.\nThe picture x.png is damaged.");
    ShellSetVerbose(true);
    ErrorRaise(kIdTextureModule, kErrTextureRead);
    const std::string verbose = report("Cannot create ground texture.");
    const std::string nothing = report("Cannot create world.");
    ShellSetVerbose(false);
    if (was != nullptr) {
        setenv("SDL_VIDEODRIVER", saved.c_str(), 1);
    } else {
        unsetenv("SDL_VIDEODRIVER");
    }
    EXPECT_EQ(noted, "Box Title: Error initializing Kelvane.\nThe device selection was closed with EXIT.\n");
    EXPECT_EQ(plain, "Box Title: Error initializing Kelvane.\n");
    EXPECT_EQ(engine, "Box Title: Cannot create ground texture.\nThe texture's picture could not be read.\n");
    EXPECT_EQ(explained, "Box Title: Cannot create ground texture.\nThe picture x.png is damaged.\n");
    EXPECT_EQ(verbose,
              "Box Title: Cannot create ground texture.\nThe texture's picture could not be read.\n"
              "  debug: the engine error: module 1032, code 0x00000016: the texture's picture could not be "
              "read\n");
    EXPECT_EQ(nothing, "Box Title: Cannot create world.\n  debug: the engine reported no error\n");
}

// Memory functions that count, and can be told to fail.
struct CountingMemory {
    static inline int32 allocations = 0;
    static inline int32 frees = 0;
    static inline bool fail = false;
    static void* Malloc(std::size_t n) {
        if (fail) return nullptr;
        ++allocations;
        return std::malloc(n);
    }
    static void Free(void* p) {
        ++frees;
        std::free(p);
    }
};

TEST(PlatformPath, BackslashesBecomeSlashesInEngineMemory) {
    const MemoryFunctions mem = {CountingMemory::Malloc, CountingMemory::Free, std::realloc,
                                 MemoryFunctionsDefault()->kvcalloc};
    ASSERT_TRUE(EngineInit(&mem, 0));
    CountingMemory::allocations = CountingMemory::frees = 0;

    char* p = PlatformPathCreate("textures\\flare\\ring.png");
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "textures/flare/ring.png");
    EXPECT_EQ(CountingMemory::allocations, 1);
    PlatformPathDestroy(p);
    EXPECT_EQ(CountingMemory::frees, 1);
    PlatformPathDestroy(nullptr);
    EXPECT_EQ(CountingMemory::frees, 1);

    char* empty = PlatformPathCreate("");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    PlatformPathDestroy(empty);

    test::ErrorLog log;
    CountingMemory::fail = true;
    EXPECT_EQ(PlatformPathCreate("a\\b"), nullptr);
    CountingMemory::fail = false;
    EXPECT_TRUE(log.Has(0, kErrNoMemory));
    EXPECT_EQ(PlatformPathCreate(nullptr), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
    EXPECT_TRUE(EngineTerm());
}

struct Shown {
    static inline std::vector<std::pair<void*, void*>> calls;
    static inline bool fail = false;
    static bool Show(void* raster, void* window, int32 flags) {
        EXPECT_EQ(flags, 0);
        calls.push_back({raster, window});
        return !fail;
    }
};

TEST(PlatformSeams, ACamerasRasterIsShownInTheMainWindow) {
    test::TestDevice::Reset();
    test::TestDevice::UseTwoDisplays();
    EngineSetDevice(test::TestDevice::Interface);
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EngineOpenParams p{nullptr};
    ASSERT_TRUE(EngineOpen(&p));
    ASSERT_TRUE(EngineStart());
    EngineInstanceGet()->stdFunc.fn[StdRasterShowRaster] = Shown::Show;
    Shown::calls.clear();

    Camera* camera = CameraCreate();
    ASSERT_NE(camera, nullptr);
    EXPECT_FALSE(PlatformCameraShowRaster(camera)) << "no frame buffer yet";
    Raster frame{};
    CameraSetRaster(camera, &frame);
    EXPECT_TRUE(PlatformCameraShowRaster(camera));
    ASSERT_EQ(Shown::calls.size(), 1u);
    EXPECT_EQ(Shown::calls[0].first, &frame);
    EXPECT_EQ(Shown::calls[0].second, PlatformGetWindow());
    Shown::fail = true;
    EXPECT_FALSE(PlatformCameraShowRaster(camera));
    Shown::fail = false;
    EXPECT_FALSE(PlatformCameraShowRaster(nullptr));

    CameraSetRaster(camera, nullptr);
    CameraDestroy(camera);
    EngineStop();
    EngineClose();
    EngineTerm();
    EngineSetDevice(nullptr);
}

TEST(PlatformSeams, ImageReadersAreRegisteredOnAStartedEngine) {
    // Before the engine starts there is no format registry to register with.
    EXPECT_FALSE(PlatformRegisterImageLoaders());

    EngineSetDevice(nullptr);
    ASSERT_TRUE(EngineInit(nullptr, 0));
    EngineOpenParams p{nullptr};
    ASSERT_TRUE(EngineOpen(&p));
    ASSERT_TRUE(EngineStart());
    EXPECT_TRUE(PlatformRegisterImageLoaders());
    // A 1 x 1 24-bit BMP, found by its extension in capitals.
    const std::string name = ::testing::TempDir() + "skel-reader.BMP";
    const unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0,  0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0,
                                   0,   0,   1,  0, 0, 0, 1, 0, 24, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0,
                                   0,   0,   0,  0, 0, 0, 0, 0, 0,  0, 0,  0, 0, 0, 3,  2, 1, 0};
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bmp, 1, sizeof(bmp), f);
    std::fclose(f);
    Image* image = ImageRead(name.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 1);
    EXPECT_EQ(image->pixels[2], 3);
    ImageDestroy(image);
    std::remove(name.c_str());
    EngineStop();
    EngineClose();
    EngineTerm();
}

}  // namespace
}  // namespace kv
