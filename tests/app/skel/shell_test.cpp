// Runs of the real shell under the offscreen video driver, driven by a
// scripted application handler and by events pushed through SDL's queue.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/skel/sdl/platform.h"
#include "app_handler.h"
#include "engine/core/engine.h"
#include "test_device.h"

namespace kv {
namespace {

using test::TestDevice;

struct MouseSeen {
    int32 event;
    bool hasRecord;
    MouseRecord record;
    int32 wheel;
};

class Shell : public ::testing::Test {
  protected:
    static inline Shell* current = nullptr;

    std::vector<int32> events;
    std::map<int32, int32> results;  // what the application answers, per event
    std::function<void(int32 idle)> onIdle;
    int32 idles = 0;
    std::vector<uint32> idleTimes;
    uint32 resizeTime = 0;
    std::vector<std::string> preOptions, arguments, fileLoads;
    std::vector<int32> preOptionResults;
    std::vector<ResizeRecord> resizes;
    std::function<void(ResizeRecord*)> onResize;
    std::function<void()> afterInitialise;  // after the default start-up
    std::vector<intptr_t> activations;
    std::vector<std::pair<int32, KeyboardRecord>> keys;
    std::vector<MouseSeen> mouse;
    bool windowChecked = false;
    int32 active = 1;

    void SetUp() override {
        // By hand as well as under ctest: never a real display.
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        current = this;
        TestDevice::Reset();
        TestDevice::UseTwoDisplays();
        EngineSetDevice(TestDevice::Interface);
        test::appHandler = [this](int32 e, void* d) { return Handle(e, d); };
    }
    void TearDown() override {
        test::appHandler = nullptr;
        current = nullptr;
        if (EngineGetState() == EngineStateStarted) EngineStop();
        if (EngineOpenCount() != 0) EngineClose();
        EngineTerm();
        EngineSetDevice(nullptr);
    }

    static int32 Keyboard(int32 e, void* d) {
        current->keys.push_back({e, *static_cast<KeyboardRecord*>(d)});
        return EventHandled;
    }
    static int32 Mouse(int32 e, void* d) {
        MouseSeen m{e, false, {}, -1};
        if (e == EventMouseWheel) {
            m.wheel = *static_cast<int32*>(d);
        } else if (d != nullptr) {
            m.hasRecord = true;
            m.record = *static_cast<MouseRecord*>(d);
        }
        current->mouse.push_back(m);
        return EventHandled;
    }

    int32 Handle(int32 e, void* d) {
        events.push_back(e);
        const auto scripted = results.find(e);
        switch (e) {
            case EventPreInitialise: {
                if (scripted != results.end()) return scripted->second;
                ShellDefaultEvent(EventPreInitialise, nullptr);
                ShellSettings* s = ShellGetSettings();
                s->title = "Shell Test";
                s->width = 320;
                s->height = 240;
                s->maxFrameRate = 100;
                return EventHandled;
            }
            case EventInitialise: {
                auto* window = static_cast<SDL_Window*>(d);
                EXPECT_EQ(d, PlatformGetWindow());
                EXPECT_STREQ(SDL_GetWindowTitle(window), "Shell Test");
                int w = 0, h = 0;
                SDL_GetWindowSize(window, &w, &h);
                EXPECT_EQ(w, 320);
                EXPECT_EQ(h, 240);
                windowChecked = true;
                if (afterInitialise) {
                    const int32 started = ShellDefaultEvent(e, d);
                    afterInitialise();
                    return started;
                }
                break;
            }
            case EventInputDeviceAttach:
                InputDeviceRegister(InputKeyboard, Keyboard);
                InputDeviceRegister(InputMouse, Mouse);
                return scripted != results.end() ? scripted->second : EventHandled;
            case EventPreOption: {
                preOptions.emplace_back(static_cast<const char*>(d));
                const int32 r = ShellDefaultEvent(e, d);
                preOptionResults.push_back(r);
                return r;
            }
            case EventCommandLineArgument:
                arguments.emplace_back(static_cast<const char*>(d));
                break;
            case EventFileLoad:
                fileLoads.emplace_back(static_cast<const char*>(d));
                return EventHandled;
            case EventCameraResize: {
                auto* r = static_cast<ResizeRecord*>(d);
                if (resizes.empty()) resizeTime = PlatformGetTimer();
                resizes.push_back(*r);
                if (onResize) onResize(r);
                return EventHandled;
            }
            case EventActivate:
                active = static_cast<int32>(reinterpret_cast<intptr_t>(d));
                activations.push_back(reinterpret_cast<intptr_t>(d));
                return EventHandled;
            case EventIdle:
                ++idles;
                idleTimes.push_back(PlatformGetTimer());
                if (onIdle) onIdle(idles);
                if (idles > 3000) {
                    ADD_FAILURE() << "the script never ended the loop";
                    ShellEvent(EventQuit, nullptr);
                }
                return EventHandled;
            default:
                break;
        }
        return scripted != results.end() ? scripted->second : EventNotHandled;
    }

    int Run(std::vector<std::string> args = {"skel"}) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return ShellMain(static_cast<int>(args.size()), argv.data());
    }

    // The events in order, each run of idle events shown once.
    std::vector<int32> Order() const {
        std::vector<int32> out;
        for (int32 e : events) {
            if (e == EventActivate) continue;
            if (e == EventIdle && !out.empty() && out.back() == EventIdle) continue;
            out.push_back(e);
        }
        return out;
    }
};

Uint32 WindowId() { return SDL_GetWindowID(static_cast<SDL_Window*>(PlatformGetWindow())); }

void PushKey(SDL_Scancode sc, bool down, Uint16 mod = KMOD_NONE, Uint8 repeat = 0) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = WindowId();
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat;
    e.key.keysym.scancode = sc;
    e.key.keysym.sym = SDL_GetKeyFromScancode(sc);
    e.key.keysym.mod = mod;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void PushMotion(int32 x, int32 y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = WindowId();
    e.motion.x = x;
    e.motion.y = y;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void PushButton(Uint8 button, bool down, int32 x, int32 y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = WindowId();
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void PushWheel(int32 x, int32 y, Uint32 direction = SDL_MOUSEWHEEL_NORMAL) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = WindowId();
    e.wheel.x = x;
    e.wheel.y = y;
    e.wheel.preciseX = static_cast<float>(x);
    e.wheel.preciseY = static_cast<float>(y);
    e.wheel.direction = direction;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void PushWindow(Uint8 event, int32 data1 = 0, int32 data2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = WindowId();
    e.window.event = event;
    e.window.data1 = data1;
    e.window.data2 = data2;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void PushDrop(Uint32 type, const char* file) {
    SDL_Event e{};
    e.type = type;
    e.drop.windowID = WindowId();
    e.drop.file = file != nullptr ? SDL_strdup(file) : nullptr;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void ExpectShutDown() {
    EXPECT_EQ(PlatformGetWindow(), nullptr);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST_F(Shell, StartsPacesQuitsOnEscapeAndShutsDown) {
    onIdle = [](int32 idle) {
        if (idle == 5) PushKey(SDL_SCANCODE_ESCAPE, true);
    };
    EXPECT_EQ(Run({"skel", "-vms", "notes.txt"}), 0);

    EXPECT_TRUE(windowChecked);
    EXPECT_EQ(Order(), (std::vector<int32>{EventPreInitialise, EventPreOption, EventPreOption, EventInitialise,
                                           EventEngineInitialised, EventPluginAttach, EventInputDeviceAttach,
                                           EventSelectDevice, EventRegisterImageLoaders, EventCommandLineArgument,
                                           EventFileLoad, EventCommandLineArgument, EventFileLoad, EventCameraResize,
                                           EventIdle, EventQuit, EventTerminate, EventPostTerminate}));
    EXPECT_EQ(preOptions, (std::vector<std::string>{"-vms", "notes.txt"}));
    EXPECT_EQ(preOptionResults, (std::vector<int32>{EventHandled, EventFailed}));
    EXPECT_EQ(ShellDeviceDialogFlag(), 0);
    EXPECT_EQ(arguments, (std::vector<std::string>{"-vms", "notes.txt"}));
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0].x, 0);
    EXPECT_EQ(resizes[0].y, 0);
    EXPECT_EQ(resizes[0].width, 320);
    EXPECT_EQ(resizes[0].height, 240);

    // Escape reached the keyboard handler as 128 before the quit.
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].first, EventKeyDown);
    EXPECT_EQ(keys[0].second.scanIndex, 1);
    EXPECT_EQ(keys[0].second.keyCode, KeyEsc);
    EXPECT_EQ(idles, 5);

    // Paced at 100 frames a second from when the window was shown (just after
    // the resize): frame k is not due before 10 k ms have passed, however late
    // the loop gets to it.
    EXPECT_LE(static_cast<uint32>(idles), (idleTimes.back() - resizeTime) / 10);

    EXPECT_EQ(EngineGetState(), EngineStateNotInitialised);
    ExpectShutDown();
}

struct FailureCase {
    const char* name;
    int32 failingEvent;    // the application answers 0 to it, or -1
    int32 failingRequest;  // the device fails it, or -1
    std::vector<int32> order;
    int32 engineStateAfter;
};

class ShellFailure : public Shell, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ShellFailure, UnwindsWhatWasDoneAndExitsNonZero) {
    const FailureCase& c = GetParam();
    if (c.failingEvent >= 0) results[c.failingEvent] = EventFailed;
    if (c.failingRequest >= 0) TestDevice::failing = {c.failingRequest};
    EXPECT_NE(Run({"skel", "-vms"}), 0);
    std::vector<int32> order;
    for (int32 e : Order()) {
        if (e != EventPreOption) order.push_back(e);
    }
    EXPECT_EQ(order, c.order);
    EXPECT_EQ(EngineGetState(), c.engineStateAfter);
    EXPECT_EQ(idles, 0);
    ExpectShutDown();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, ShellFailure,
    ::testing::Values(
        FailureCase{"PreInitialise", EventPreInitialise, -1, {EventPreInitialise}, EngineStateNotInitialised},
        FailureCase{"Initialise",
                    EventInitialise,
                    -1,
                    {EventPreInitialise, EventInitialise, EventPostTerminate},
                    EngineStateNotInitialised},
        // The two early failures leave the engine initialised.
        FailureCase{
            "PluginAttach",
            EventPluginAttach,
            -1,
            {EventPreInitialise, EventInitialise, EventEngineInitialised, EventPluginAttach, EventPostTerminate},
            EngineStateInitialised},
        FailureCase{"InputDeviceAttach",
                    EventInputDeviceAttach,
                    -1,
                    {EventPreInitialise, EventInitialise, EventEngineInitialised, EventPluginAttach,
                     EventInputDeviceAttach, EventPostTerminate},
                    EngineStateInitialised},
        FailureCase{"EngineOpen",
                    -1,
                    DeviceOpen,
                    {EventPreInitialise, EventInitialise, EventEngineInitialised, EventPluginAttach,
                     EventInputDeviceAttach, EventPostTerminate},
                    EngineStateNotInitialised},
        FailureCase{"SelectDevice",
                    -1,
                    DeviceUseMode,
                    {EventPreInitialise, EventInitialise, EventEngineInitialised, EventPluginAttach,
                     EventInputDeviceAttach, EventSelectDevice, EventPostTerminate},
                    EngineStateNotInitialised},
        FailureCase{"EngineStart",
                    -1,
                    DeviceStart,
                    {EventPreInitialise, EventInitialise, EventEngineInitialised, EventPluginAttach,
                     EventInputDeviceAttach, EventSelectDevice, EventPostTerminate},
                    EngineStateNotInitialised}),
    [](const ::testing::TestParamInfo<FailureCase>& p) { return std::string(p.param.name); });

TEST_F(Shell, NoUsableVideoDriverIsAClearErrorNotACrash) {
    setenv("SDL_VIDEODRIVER", "nonexistent", 1);
    ::testing::internal::CaptureStderr();
    const int rc = Run();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(rc, 0);
    EXPECT_NE(err.find("Shell Test: cannot start the video system"), std::string::npos) << err;
    EXPECT_NE(err.find("nonexistent"), std::string::npos) << err;
    EXPECT_EQ(events, std::vector<int32>{EventPreInitialise});
    ExpectShutDown();
}

TEST_F(Shell, KeysMouseAndWheelReachTheHandlers) {
    onIdle = [](int32 idle) {
        if (idle == 1) {
            SDL_SetModState(KMOD_LCTRL);
            PlatformMouseWarp(100.0f, 100.0f);
            // Whatever the driver made of the warp is not part of the script.
            SDL_PumpEvents();
            SDL_FlushEvent(SDL_MOUSEMOTION);
            PushMotion(110, 105);  // the first move after the warp: no event
            PushMotion(115, 100);
            PushMotion(112, 90);
            PushButton(SDL_BUTTON_LEFT, true, 30, 40);
            PushButton(SDL_BUTTON_LEFT, false, 31, 41);
            PushButton(SDL_BUTTON_MIDDLE, true, 1, 1);
            PushButton(SDL_BUTTON_RIGHT, true, 50, 60);
            PushButton(SDL_BUTTON_RIGHT, false, 50, 60);
            PushWheel(0, 1);
            PushWheel(0, -2);
            PushWheel(3, 0);  // sideways: not the wheel
            PushWheel(0, 1, SDL_MOUSEWHEEL_FLIPPED);
            PushKey(SDL_SCANCODE_A, true);
            PushKey(SDL_SCANCODE_A, true, KMOD_NONE, 1);  // auto-repeat: nothing
            PushKey(SDL_SCANCODE_A, false);
            PushKey(SDL_SCANCODE_ESCAPE, true, KMOD_LALT);  // a system key: no quit
            PushKey(SDL_SCANCODE_ESCAPE, false, KMOD_LALT);
            PushKey(SDL_SCANCODE_RIGHT, true);
        } else if (idle == 2) {
            SDL_SetModState(KMOD_NONE);
            PushKey(SDL_SCANCODE_ESCAPE, true);
        }
    };
    EXPECT_EQ(Run(), 0);

    ASSERT_EQ(mouse.size(), 9u);
    const float moves[2][4] = {{115, 100, 5, -5}, {112, 90, -3, -10}};
    for (int32 i = 0; i < 2; ++i) {
        EXPECT_EQ(mouse[i].event, EventMouseMove);
        ASSERT_TRUE(mouse[i].hasRecord);
        EXPECT_EQ(mouse[i].record.x, moves[i][0]);
        EXPECT_EQ(mouse[i].record.y, moves[i][1]);
        EXPECT_EQ(mouse[i].record.dx, moves[i][2]);
        EXPECT_EQ(mouse[i].record.dy, moves[i][3]);
        EXPECT_EQ(mouse[i].record.shift, 0);
        EXPECT_EQ(mouse[i].record.control, 1);
    }
    EXPECT_EQ(mouse[2].event, EventLeftButtonDown);
    ASSERT_TRUE(mouse[2].hasRecord);
    EXPECT_EQ(mouse[2].record.x, 30.0f);
    EXPECT_EQ(mouse[2].record.y, 40.0f);
    EXPECT_EQ(mouse[2].record.control, 1);
    EXPECT_EQ(mouse[3].event, EventLeftButtonUp);
    EXPECT_FALSE(mouse[3].hasRecord);
    EXPECT_EQ(mouse[4].event, EventRightButtonDown);
    EXPECT_EQ(mouse[4].record.x, 50.0f);
    EXPECT_EQ(mouse[5].event, EventRightButtonUp);
    EXPECT_EQ(mouse[6].event, EventMouseWheel);
    EXPECT_EQ(mouse[6].wheel, 1);
    EXPECT_EQ(mouse[7].wheel, 0);
    EXPECT_EQ(mouse[8].wheel, 0);

    const std::vector<std::pair<int32, KeyboardRecord>> want = {
        {EventKeyDown, {0x1E, 'a'}},  {EventKeyUp, {0x1E, 'a'}},        {EventKeyDown, {0x01, KeyEsc}},
        {EventKeyUp, {0x01, KeyEsc}}, {EventKeyDown, {0xCD, KeyRight}}, {EventKeyDown, {0x01, KeyEsc}},
    };
    ASSERT_EQ(keys.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(keys[i].first, want[i].first) << i;
        EXPECT_EQ(keys[i].second.scanIndex, want[i].second.scanIndex) << i;
        EXPECT_EQ(keys[i].second.keyCode, want[i].second.keyCode) << i;
    }
    int32 quits = 0;
    for (int32 e : events) quits += e == EventQuit;
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(idles, 2);
}

TEST_F(Shell, DroppedFilesComeLastFirstAndClosingQuits) {
    onIdle = [](int32 idle) {
        if (idle == 1) {
            PushDrop(SDL_DROPBEGIN, nullptr);
            PushDrop(SDL_DROPFILE, "/data/first.png");
            PushDrop(SDL_DROPFILE, "/data/second.bmp");
            PushDrop(SDL_DROPTEXT, "not a file");
            PushDrop(SDL_DROPFILE, "/data/third.dff");
            PushDrop(SDL_DROPCOMPLETE, nullptr);
            // Half a drop when the window closes: freed, never raised.
            PushDrop(SDL_DROPBEGIN, nullptr);
            PushDrop(SDL_DROPFILE, "/data/unfinished");
        } else if (idle == 2) {
            PushWindow(SDL_WINDOWEVENT_CLOSE);
        }
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fileLoads, (std::vector<std::string>{"/data/third.dff", "/data/second.bmp", "/data/first.png"}));
    const std::vector<int32> order = Order();
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(std::vector<int32>(order.end() - 3, order.end()),
              (std::vector<int32>{EventIdle, EventTerminate, EventPostTerminate}));
    ExpectShutDown();
}

TEST_F(Shell, TheQuitMessageEndsTheLoopToo) {
    onIdle = [](int32 idle) {
        if (idle == 1) {
            SDL_Event e{};
            e.type = SDL_QUIT;
            SDL_PushEvent(&e);
        }
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(idles, 1);
    EXPECT_EQ(events.back(), EventPostTerminate);
}

TEST_F(Shell, ResizingActivationAndTheHeldClientSize) {
    bool hold = false;
    onResize = [&hold](ResizeRecord* r) {
        // The application keeps its own size once.
        if (hold) {
            r->width = 320;
            r->height = 240;
            hold = false;
        }
    };
    // Moving and sizing raise idle events of their own, so the script goes by
    // what has happened, not by counting idles.
    int32 stage = 0;
    int32 inactiveIdles = 0;
    onIdle = [&](int32) {
        if (active == 0) ++inactiveIdles;
        if (stage == 0) {
            PushWindow(SDL_WINDOWEVENT_SIZE_CHANGED, 0, 0);  // minimised: no resize
            PushWindow(SDL_WINDOWEVENT_SIZE_CHANGED, 400, 300);
            PushWindow(SDL_WINDOWEVENT_SIZE_CHANGED, 400, 300);  // the same size again: nothing
            PushWindow(SDL_WINDOWEVENT_FOCUS_LOST);
            stage = 1;
        } else if (stage == 1 && inactiveIdles == 2) {
            // Inactive, the loop waits; every 20 ms without events is a frame.
            PushMotion(5, 5);  // ignored while inactive
            PushWindow(SDL_WINDOWEVENT_FOCUS_GAINED);
            stage = 2;
        } else if (stage == 2 && active == 1) {
            hold = true;
            PushWindow(SDL_WINDOWEVENT_SIZE_CHANGED, 500, 400);
            // The size is held: the next change puts the window back.
            PushWindow(SDL_WINDOWEVENT_SIZE_CHANGED, 600, 450);
            stage = 3;
        } else if (stage == 3 && resizes.size() >= 4) {
            PushWindow(SDL_WINDOWEVENT_CLOSE);
            stage = 4;
        }
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(stage, 4);

    ASSERT_GE(resizes.size(), 4u);
    const int32 want[4][2] = {{320, 240}, {400, 300}, {500, 400}, {320, 240}};
    for (int32 i = 0; i < 4; ++i) {
        EXPECT_EQ(resizes[i].width, want[i][0]) << i;
        EXPECT_EQ(resizes[i].height, want[i][1]) << i;
    }
    // The window system may confirm the size it was put back to.
    for (std::size_t i = 4; i < resizes.size(); ++i) {
        EXPECT_EQ(resizes[i].width, 320);
        EXPECT_EQ(resizes[i].height, 240);
    }
    EXPECT_EQ(activations, (std::vector<intptr_t>{0, 1}));
    EXPECT_EQ(inactiveIdles, 2);
    EXPECT_TRUE(mouse.empty());
}

TEST_F(Shell, AFullScreenModeTakesTheClientSize) {
    TestDevice::currentMode[0] = 1;  // 800 x 600, full screen
    onIdle = [](int32) { ShellEvent(EventQuit, nullptr); };
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0].width, 800);
    EXPECT_EQ(resizes[0].height, 600);
    EXPECT_EQ(PlatformGetRecord()->fullScreen, 1);
    EXPECT_EQ(ShellGetSettings()->width, 800);
}

// A size settled during start-up (a windowed mode a person picked in the
// device dialog) is the window's from its first frame.
TEST_F(Shell, ASizeChosenDuringStartUpIsTheWindows) {
    afterInitialise = [] {
        ShellGetSettings()->width = 500;
        ShellGetSettings()->height = 400;
    };
    int w = 0, h = 0;
    onIdle = [&](int32) {
        SDL_GetWindowSize(static_cast<SDL_Window*>(PlatformGetWindow()), &w, &h);
        ShellEvent(EventQuit, nullptr);
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(w, 500);
    EXPECT_EQ(h, 400);
    ASSERT_FALSE(resizes.empty());
    EXPECT_EQ(resizes[0].width, 500);
    EXPECT_EQ(resizes[0].height, 400);
    EXPECT_EQ(PlatformGetRecord()->fullScreen, 0);
}

}  // namespace
}  // namespace kv
