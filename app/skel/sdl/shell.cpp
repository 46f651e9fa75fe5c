// The platform shell on SDL: process start-up and shut-down, the paced main
// loop, the window's events turned into shell events, and the services the
// rest of the program asks of the platform.
#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device_dialog.h"
#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/image/image.h"
#include "engine/image/image_readers.h"
#include "engine/image/png_read.h"
#include "platform.h"

namespace kv {

namespace {

// The X11 window class of the main window.
constexpr const char* kWindowClass = "KvAppClass";

struct ShellState {
    int32 ready;       // 1 while events that draw may be raised
    int32 foreground;  // 0 while the window is inactive
    int32 mouseSeen;   // 0 until the first move after a warp
    int32 resizePending;
    int32 lastWidth, lastHeight;  // the client size last reported
    bool quitMessage;             // the window was closed
    bool resending;               // a maximised window's re-sized report is under way
    FramePacing pacing;
    std::vector<char*> drops;  // dropped files until the drop is complete
};

PlatformRecord record = {nullptr, nullptr, 0, 0.0f, 0.0f, 0};
ShellState state = {0, 1, 0, 0, 0, 0, false, false, {0, 0.0f, 0.0f, 0}, {}};

SDL_Window* Window() { return static_cast<SDL_Window*>(record.window); }

const char* Title() {
    const char* t = ShellGetSettings()->title;
    return t != nullptr ? t : "";
}

bool IsHeadlessDriver(const char* driver) {
    return driver != nullptr && (SDL_strcasecmp(driver, "offscreen") == 0 || SDL_strcasecmp(driver, "dummy") == 0);
}

void FreeDrops() {
    for (char* f : state.drops) SDL_free(f);
    state.drops.clear();
}

void ModifierFlags(int32* shift, int32* control) {
    const SDL_Keymod mod = SDL_GetModState();
    *shift = (mod & KMOD_SHIFT) != 0 ? 1 : 0;
    *control = (mod & KMOD_CTRL) != 0 ? 1 : 0;
}

void Activate(bool active) {
    if (active) {
        state.foreground = 1;
        ShellEvent(EventActivate, reinterpret_cast<void*>(std::intptr_t{1}));
        // Pacing starts again from now, not from before the pause.
        record.lastFrameTime = PlatformGetTimer();
    } else {
        state.foreground = 0;
        ShellEvent(EventActivate, reinterpret_cast<void*>(std::intptr_t{0}));
    }
}

void PositionChanged(int32 width, int32 height);

// The client area has a new size: the application may take it or hold its
// own, in which case the window is put back to the settings' size.
void Resized(int32 width, int32 height) {
    if (state.ready == 0 || width <= 0 || height <= 0) return;
    ResizeRecord r{0, 0, width, height};
    ShellEvent(EventCameraResize, &r);
    if (r.width != width && r.height != height) {
        state.resizePending = 1;
        SDL_CaptureMouse(SDL_FALSE);
        if ((SDL_GetWindowFlags(Window()) & SDL_WINDOW_MAXIMIZED) != 0 && !state.resending) {
            state.resending = true;
            PositionChanged(state.lastWidth, state.lastHeight);
            state.resending = false;
        }
    } else {
        state.resizePending = 0;
    }
}

void PositionChanged(int32 width, int32 height) {
    const bool maximised = (SDL_GetWindowFlags(Window()) & SDL_WINDOW_MAXIMIZED) != 0;
    if (width == state.lastWidth && height == state.lastHeight && !maximised) return;
    if (state.ready != 0) ShellEvent(EventIdle, nullptr);
    int32 reportW = width, reportH = height;
    if (state.resizePending != 0) {
        const ShellSettings* s = ShellGetSettings();
        SDL_SetWindowSize(Window(), s->width, s->height);
        reportW = s->width;
        reportH = s->height;
    }
    state.lastWidth = width;
    state.lastHeight = height;
    Resized(reportW, reportH);
}

void KeyDown(const SDL_KeyboardEvent& k) {
    if (k.repeat != 0) return;
    KeyboardRecord r;
    r.scanIndex = ScanIndexFromScancode(k.keysym.scancode);
    r.keyCode = KeyCodeFromScanIndex(r.scanIndex);
    KeyboardEvent(EventKeyDown, &r);
    // A key pressed with Alt held is a system key: it reaches the handler, but
    // Alt+Escape does not quit.
    if (r.keyCode == KeyEsc && (k.keysym.mod & KMOD_ALT) == 0) ShellEvent(EventQuit, nullptr);
}

void KeyUp(const SDL_KeyboardEvent& k) {
    KeyboardRecord r;
    r.scanIndex = ScanIndexFromScancode(k.keysym.scancode);
    r.keyCode = KeyCodeFromScanIndex(r.scanIndex);
    KeyboardEvent(EventKeyUp, &r);
}

void MouseMoved(const SDL_MouseMotionEvent& m) {
    if (state.foreground == 0) return;
    const float x = static_cast<float>(m.x), y = static_cast<float>(m.y);
    if (state.mouseSeen != 0) {
        MouseRecord r{x, y, x - record.lastMouseX, y - record.lastMouseY, 0, 0};
        ModifierFlags(&r.shift, &r.control);
        MouseEvent(EventMouseMove, &r);
    } else {
        // The first move after a warp is the warp itself: no delta to report.
        state.mouseSeen = 1;
    }
    record.lastMouseX = x;
    record.lastMouseY = y;
}

void MouseButton(const SDL_MouseButtonEvent& b) {
    const bool left = b.button == SDL_BUTTON_LEFT;
    if (!left && b.button != SDL_BUTTON_RIGHT) return;
    if (b.type == SDL_MOUSEBUTTONDOWN) {
        SDL_CaptureMouse(SDL_TRUE);
        MouseRecord r{static_cast<float>(b.x), static_cast<float>(b.y), 0.0f, 0.0f, 0, 0};
        ModifierFlags(&r.shift, &r.control);
        MouseEvent(left ? EventLeftButtonDown : EventRightButtonDown, &r);
    } else {
        SDL_CaptureMouse(SDL_FALSE);
        MouseEvent(left ? EventLeftButtonUp : EventRightButtonUp, nullptr);
    }
}

void MouseWheel(const SDL_MouseWheelEvent& w) {
    float turn = w.preciseY != 0.0f ? w.preciseY : static_cast<float>(w.y);
    if (w.direction == SDL_MOUSEWHEEL_FLIPPED) turn = -turn;
    // A sideways scroll is not the wheel.
    if (turn == 0.0f) return;
    int32 forward = turn >= 0.0f ? 1 : 0;
    MouseEvent(EventMouseWheel, &forward);
}

void WindowEvent(const SDL_WindowEvent& w) {
    switch (w.event) {
        case SDL_WINDOWEVENT_CLOSE:
            SDL_SetWindowGrab(Window(), SDL_FALSE);
            state.quitMessage = true;
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            PositionChanged(w.data1, w.data2);
            break;
        case SDL_WINDOWEVENT_MOVED:
            PositionChanged(state.lastWidth, state.lastHeight);
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            Activate(true);
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            Activate(false);
            break;
        default:
            break;
    }
}

void Dispatch(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT:
            state.quitMessage = true;
            break;
        case SDL_WINDOWEVENT:
            WindowEvent(e.window);
            break;
        case SDL_KEYDOWN:
            KeyDown(e.key);
            break;
        case SDL_KEYUP:
            KeyUp(e.key);
            break;
        case SDL_MOUSEMOTION:
            MouseMoved(e.motion);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            MouseButton(e.button);
            break;
        case SDL_MOUSEWHEEL:
            MouseWheel(e.wheel);
            break;
        case SDL_DROPFILE:
            if (e.drop.file != nullptr) state.drops.push_back(e.drop.file);
            break;
        case SDL_DROPTEXT:
            SDL_free(e.drop.file);
            break;
        case SDL_DROPCOMPLETE:
            // Files dropped together are offered last first.
            for (auto it = state.drops.rbegin(); it != state.drops.rend(); ++it) ShellEvent(EventFileLoad, *it);
            FreeDrops();
            break;
        default:
            break;
    }
}

void MainLoop() {
    const ShellSettings* settings = ShellGetSettings();
    SDL_Event e;
    while (settings->quit == 0 && !state.quitMessage && PlatformQuitSignal() == 0) {
        if (SDL_PollEvent(&e) != 0) {
            Dispatch(e);
        } else if (state.foreground != 0) {
            // Active: never sleep, raise a frame whenever one is due.
            PacingSetRate(&state.pacing, settings->maxFrameRate);
            if (state.ready != 0 && PacingFrameDue(&state.pacing, &record.lastFrameTime, PlatformGetTimer())) {
                ShellEvent(EventIdle, nullptr);
            }
        } else if (SDL_WaitEventTimeout(&e, 20) != 0) {
            Dispatch(e);
        } else if (state.ready != 0) {
            // Inactive: a frame per 20 ms without events keeps the view alive.
            ShellEvent(EventIdle, nullptr);
        }
    }
}

// The video drivers SDL tries before the one that starts may say on stderr
// why they could not (the Wayland client: "XDG_RUNTIME_DIR is invalid or not
// set"). That is the system talking about drivers it did not use: the lines
// are held back, and shown when no driver starts or with --verbose.
bool StartVideo() {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    FILE* held = saved >= 0 ? std::tmpfile() : nullptr;
    if (held == nullptr || dup2(fileno(held), STDERR_FILENO) < 0) {
        if (held != nullptr) std::fclose(held);
        if (saved >= 0) close(saved);
        return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    const bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    if (!started || ShellVerbose()) {
        std::rewind(held);
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, held)) > 0) std::fwrite(buffer, 1, n, stderr);
    }
    std::fclose(held);
    return started;
}

void ResetState() {
    FreeDrops();
    state.ready = 0;
    state.foreground = 1;
    state.mouseSeen = 0;
    state.resizePending = 0;
    state.lastWidth = 0;
    state.lastHeight = 0;
    state.quitMessage = false;
    state.resending = false;
    state.pacing = FramePacing{0, 0.0f, 0.0f, 0};
}

}  // namespace

int ShellMain(int argc, char** argv) {
    ResetState();
    if (ShellEvent(EventPreInitialise, nullptr) == EventFailed) return 1;
    ShellSettings* settings = ShellGetSettings();

    // The shell catches the quit signals itself (SDL would catch only two of
    // them, and only once its event loop runs); a program may have caught
    // them before, to cover its own start.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    PlatformCatchQuitSignals();
    struct Release {
        ~Release() { PlatformReleaseQuitSignals(); }
    } release;

    // X11 takes the class from the environment (a user's own setting wins),
    // other SDL versions from the hint of the same name.
    SDL_setenv("SDL_VIDEO_X11_WMCLASS", kWindowClass, 0);
    SDL_SetHint("SDL_VIDEO_X11_WMCLASS", kWindowClass);
    if (!StartVideo()) {
        const char* driver = SDL_getenv("SDL_VIDEODRIVER");
        std::fprintf(stderr, "%s: cannot start the video system%s%s%s: %s\n", Title(),
                     driver != nullptr ? " (SDL_VIDEODRIVER=" : "", driver != nullptr ? driver : "",
                     driver != nullptr ? ")" : "", SDL_GetError());
        SDL_Quit();
        return 1;
    }

    // Before anything is made for it: a window nobody can see, in a run only
    // a person could end.
    if (ShellNoDisplayMessage() != nullptr && !PlatformDisplayVisible()) {
        std::fputs(ShellNoDisplayMessage(), stderr);
        SDL_Quit();
        return 1;
    }

    for (int i = 1; i < argc; ++i) ShellEvent(EventPreOption, argv[i]);

    // The window is made for the device that will draw in it: a device that
    // needs a window of its own kind (the OpenGL device fixes its pixel format
    // with the window) makes it; any other (the null device, a test's) gets a
    // plain one and no OpenGL is loaded.
    const DeviceRecord* device = EngineGetDevice()();
    SDL_Window* window =
        device != nullptr && device->windowCreate != nullptr
            ? static_cast<SDL_Window*>(device->windowCreate(Title(), settings->width, settings->height))
            : SDL_CreateWindow(Title(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, settings->width,
                               settings->height, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (window == nullptr) {
        std::fprintf(stderr, "%s: cannot create the window: %s\n", Title(), SDL_GetError());
        SDL_Quit();
        return 1;
    }
    record.window = window;
    record.instance = nullptr;
    SDL_GetWindowSize(window, &state.lastWidth, &state.lastHeight);

    if (ShellEvent(EventInitialise, window) == EventFailed) {
        SDL_DestroyWindow(window);
        record.window = nullptr;
        ShellEvent(EventPostTerminate, nullptr);
        SDL_Quit();
        return 1;
    }

    state.ready = 1;
    if (record.fullScreen != 0) {
        // A full-screen mode was chosen: the window loses its frame; the
        // device switches the display when it starts.
        SDL_SetWindowBordered(window, SDL_FALSE);
    } else if (settings->width > 0 && settings->height > 0 &&
               (settings->width != state.lastWidth || settings->height != state.lastHeight)) {
        // A size chosen during start-up (a windowed mode picked in the device
        // dialog) is the window's, placed again so that it stays on screen.
        SDL_SetWindowSize(window, settings->width, settings->height);
        SDL_SetWindowPosition(window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
        SDL_GetWindowSize(window, &state.lastWidth, &state.lastHeight);
    }

    for (int i = 1; i < argc; ++i) ShellEvent(EventCommandLineArgument, argv[i]);

    ResizeRecord size{0, 0, settings->width, settings->height};
    ShellEvent(EventCameraResize, &size);

    SDL_ShowWindow(window);
    // Showing the window makes it the active one: frames are paced from now.
    record.lastFrameTime = PlatformGetTimer();
    PlatformMouseWarp(static_cast<float>(settings->width) * 0.5f, static_cast<float>(settings->height) * 0.5f);

    MainLoop();

    state.ready = 0;
    ShellEvent(EventTerminate, nullptr);
    SDL_DestroyWindow(window);
    record.window = nullptr;
    ShellEvent(EventPostTerminate, nullptr);
    FreeDrops();
    SDL_Quit();
    return 0;
}

PlatformRecord* PlatformGetRecord() { return &record; }

bool PlatformDisplayVisible() {
    return SDL_WasInit(SDL_INIT_VIDEO) != 0 && !IsHeadlessDriver(SDL_GetCurrentVideoDriver());
}

uint32 PlatformGetTimer() { return SDL_GetTicks(); }

void PlatformMouseWarp(float x, float y) {
    if (Window() != nullptr) SDL_WarpMouseInWindow(Window(), static_cast<int>(x), static_cast<int>(y));
    state.mouseSeen = 0;
}

void PlatformErrorMessage(const char* text) {
    // Release whatever key the handler believes is held: the box takes the
    // keyboard and the key-up would go to it.
    KeyboardRecord none{KeyNull, KeyNull};
    KeyboardEvent(EventKeyUp, &none);
    if (text == nullptr) text = "";
    std::fprintf(stderr, "%s: %s\n", Title(), text);

    // Where no one can see a box (headless drivers, no display at all) the
    // text on stderr is the report.
    bool visible;
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) {
        visible = !IsHeadlessDriver(SDL_GetCurrentVideoDriver());
    } else {
        visible = !IsHeadlessDriver(SDL_getenv("SDL_VIDEODRIVER")) &&
                  (SDL_getenv("DISPLAY") != nullptr || SDL_getenv("WAYLAND_DISPLAY") != nullptr);
    }
    // A program asked to quit by a signal does not wait for anyone to close
    // a box.
    if (visible && PlatformQuitSignal() == 0) SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, Title(), text, nullptr);
}

char* PlatformPathCreate(const char* path) {
    if (path == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    const EngineInstance* engine = EngineInstanceGet();
    const StringFunctions& s = engine != nullptr ? engine->stringFuncs : *StringFunctionsDefault();
    const std::size_t length = s.kvstrlen(path);
    auto* copy = static_cast<char*>(KvMalloc(length + 1));
    if (copy == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(length + 1));
        return nullptr;
    }
    s.kvstrcpy(copy, path);
    for (char* c = copy; *c != '\0'; ++c) {
        if (*c == '\\') *c = '/';
    }
    return copy;
}

void PlatformPathDestroy(char* path) {
    if (path != nullptr) KvFree(path);
}

bool PlatformCameraShowRaster(void* camera) {
    if (camera == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    return CameraShowRaster(static_cast<Camera*>(camera), record.window, 0) != nullptr;
}

bool PlatformRegisterImageLoaders() { return ImageRegisterFileReaders(); }

bool PlatformSelectDevice(int32 useDialog) {
    DeviceDialog dialog;
    if (!DeviceDialogPrepare(&dialog)) return false;
    DeviceDialogInit(&dialog);
    // Without the dialog ("-vms", or no display to show it on) the current
    // choices are taken as they are.
    if (useDialog != 0 && PlatformDisplayVisible() && DeviceDialogRun(&dialog) == DialogClosedExit) {
        ShellNoteFailure(PlatformQuitSignal() != 0 ? "the device selection was ended by a quit signal"
                                                   : "the device selection was closed with EXIT");
        return false;
    }
    return DeviceDialogApply(&dialog, ShellGetSettings(), &record.fullScreen);
}

void PlatformResetRecord() {
    record.fullScreen = 0;
    record.lastMouseX = 0.0f;
    record.lastMouseY = 0.0f;
    record.lastFrameTime = 0;
}

void* PlatformGetWindow() { return record.window; }

bool PlatformSetWindowIcon(const char* fileName) {
    if (Window() == nullptr || fileName == nullptr || EngineInstanceGet() == nullptr) return false;
    // The program's own picture, never one of the user's (--data).
    std::string path;
    for (int32 i = 0; const char* folder = PlatformDataFolder(i); ++i) {
        SDL_RWops* probe = SDL_RWFromFile((std::string(folder) + fileName).c_str(), "rb");
        if (probe == nullptr) continue;
        SDL_RWclose(probe);
        path = std::string(folder) + fileName;
        break;
    }
    if (path.empty()) return false;
    Image* image = PngImageRead(path.c_str());
    if (image == nullptr) return false;
    const int32 w = image->width, h = image->height;
    std::vector<RGBA> pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int32 y = 0; y < h; ++y) {
        const uint8* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
        for (int32 x = 0; x < w; ++x) {
            RGBA& out = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)];
            if (image->depth == 32) {
                out = RGBA{row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
            } else {
                out = image->palette[row[x]];
            }
        }
    }
    ImageDestroy(image);
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), w, h, 32, w * 4, SDL_PIXELFORMAT_RGBA32);
    if (icon == nullptr) return false;
    SDL_SetWindowIcon(Window(), icon);
    SDL_FreeSurface(icon);
    return true;
}

const char* PlatformDataFolder(int32 index) {
    // Worked out once: the executable's folder (where the build puts the
    // data beside the program), the data folder of an installation relative
    // to it, and the one the build was configured to install into.
    static const std::vector<std::string> folders = [] {
        std::vector<std::string> f;
        if (char* base = SDL_GetBasePath()) {
            f.emplace_back(base);
            f.emplace_back(std::string(base) + "../share/kv3skydome/");
            SDL_free(base);
        }
        const std::string installed = KV_DATA_DIR;
        if (!installed.empty()) f.push_back(installed.back() == '/' ? installed : installed + "/");
        return f;
    }();
    if (index < 0 || static_cast<std::size_t>(index) >= folders.size()) return nullptr;
    return folders[static_cast<std::size_t>(index)].c_str();
}

}  // namespace kv
