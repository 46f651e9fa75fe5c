// The OpenGL device's system function: video modes from the display, the
// full-screen switch, the rendering context on the SDL window, the extension
// probe with the vertex arena, and the services the other device modules use.
#include "gl_device.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>

#include "engine/core/error.h"
#include "gl_internal.h"
#include "gl_node_immediate.h"

namespace kv {

namespace {

GlDeviceState device = {};
bool deviceInitialised = false;

GlDeviceState& Dev() {
    if (!deviceInitialised) {
        device.currentMode = 0;
        device.maxLights = -1;
        device.textureUnits = 1;
        deviceInitialised = true;
    }
    return device;
}

bool Fail(void*, void*, int32) { return false; }
bool Succeed(void*, void*, int32) { return true; }

// Slot 8: the second argument goes into the first word of the first.
bool StoreWord(void* object, void* value, int32) {
    if (object == nullptr) return false;
    *static_cast<void**>(object) = value;
    return true;
}

// Colours to pixel values and back: red in the top byte, alpha in the lowest.
bool RGBToPixel(void* pixel, void* colour, int32) {
    const auto* c = static_cast<const uint8*>(colour);
    *static_cast<uint32*>(pixel) = (uint32{c[0]} << 24) | (uint32{c[1]} << 16) | (uint32{c[2]} << 8) | c[3];
    return true;
}

bool PixelToRGB(void* colour, void* pixel, int32) {
    const uint32 p = *static_cast<const uint32*>(pixel);
    auto* c = static_cast<uint8*>(colour);
    c[0] = static_cast<uint8>(p >> 24);
    c[1] = static_cast<uint8>(p >> 16);
    c[2] = static_cast<uint8>(p >> 8);
    c[3] = static_cast<uint8>(p);
    return true;
}

struct SlotFunction {
    int32 slot;
    StandardFunc function;
};
const SlotFunction kStandardFunctions[] = {
    {StdCameraBeginUpdate, GlCameraBeginUpdate},
    {StdRGBToPixel, RGBToPixel},
    {StdPixelToRGB, PixelToRGB},
    {StdRasterCreate, GlRasterCreate},
    {StdRasterDestroy, GlRasterDestroy},
    {StdImageGetRaster, GlImageGetRaster},
    {StdRasterSetImage, GlRasterSetImage},
    {StdSetRasterContext8, StoreWord},
    {StdImageFindRasterFormat, GlImageFindRasterFormat},
    {StdCameraEndUpdate, GlCameraEndUpdate},
    {StdSetRasterContext, GlSetRasterContext},
    {StdRasterSubRaster, GlRasterSubRaster},
    {StdRasterClearRect, GlRasterClearRect},
    {StdRasterClear, GlRasterClear},
    {StdRasterLock, GlRasterLock},
    {StdRasterUnlock, GlRasterUnlock},
    {StdRasterRender, GlRasterRender},
    {StdRasterRenderScaled, GlRasterRenderScaled},
    {StdRasterRenderFast, GlRasterRenderFast},
    {StdRasterShowRaster, GlRasterShow},
    {StdCameraClear, GlCameraClear},
    {StdHintRenderF2B, Succeed},
    {StdRasterLockPalette, GlRasterLockPalette},
    {StdRasterUnlockPalette, GlRasterUnlockPalette},
    // Native texture streaming is not offered: those three slots fail.
    {StdRasterGetMipLevels, GlRasterGetMipLevels},
};

bool DeviceSystem(int32 request, void* out, void* inOut, int32 in);

void* WindowCreate(const char* title, int32 width, int32 height) {
    return GlWindowCreate(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                          SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
}

DeviceRecord deviceRecord = {.gammaCorrection = 1.0f,
                             .system = DeviceSystem,
                             .zBufferNear = 0.0f,
                             .zBufferFar = -65535.0f,
                             .setRenderState = GlRenderStateSet,
                             .getRenderState = GlRenderStateGet,
                             .windowCreate = WindowCreate};

GlDisplayMode ModeFrom(const SDL_DisplayMode& m, int32 fullScreen) {
    return GlDisplayMode{fullScreen,     m.w,     m.h, static_cast<int32>(SDL_BITSPERPIXEL(m.format)),
                         m.refresh_rate, m.format};
}

void* DeviceAlloc(std::size_t bytes) {
    return Dev().memoryFuncs != nullptr ? Dev().memoryFuncs->kvmalloc(bytes) : KvMalloc(bytes);
}
void DeviceFree(void* p) {
    if (Dev().memoryFuncs != nullptr) {
        Dev().memoryFuncs->kvfree(p);
    } else {
        KvFree(p);
    }
}

bool Open(void* param) {
    GlDeviceState& d = Dev();
    if (param == nullptr) return false;
    d.window = static_cast<SDL_Window*>(static_cast<EngineOpenParams*>(param)->displayID);
    d.displayIndex = d.window != nullptr ? SDL_GetWindowDisplayIndex(d.window) : 0;
    if (d.displayIndex < 0) d.displayIndex = 0;

    int32 listed = SDL_GetNumDisplayModes(d.displayIndex);
    if (listed < 0) listed = 0;
    // The desktop entry comes on top of the listed modes, all of which may be
    // accepted.
    auto* all = static_cast<GlDisplayMode*>(DeviceAlloc(sizeof(GlDisplayMode) * (2 * listed + 1)));
    if (all == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(sizeof(GlDisplayMode) * (2 * listed + 1)));
        return false;
    }
    GlDisplayMode* found = all + listed + 1;
    int32 n = 0;
    SDL_DisplayMode m;
    for (int32 i = 0; i < listed && SDL_GetDisplayMode(d.displayIndex, i, &m) == 0; ++i) found[n++] = ModeFrom(m, 1);
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(d.displayIndex, &desktop) != 0 && d.window != nullptr) {
        SDL_GetWindowSize(d.window, &desktop.w, &desktop.h);
        desktop.format = SDL_PIXELFORMAT_RGB888;
    }
    d.modes = all;
    d.numModes = GlModeTableBuild(all, ModeFrom(desktop, 0), found, n);
    // The table is new: an index chosen before (or -1 after a close) means
    // nothing in it; the desktop is the choice until one is made.
    d.currentMode = 0;

    // Extension state is reset: everything null until a context is probed.
    GlFunctionsClear();
    d.extensions = nullptr;
    d.textureUnits = 1;
    d.hasArena = false;
    d.arena = VertexArena{};
    // Immediate mode draws through OpenGL's own transformation.
    Im3DSetPlatformPipelinesBuilder(GlIm3DPipelinesBuild);
    return true;
}

bool Close() {
    GlDeviceState& d = Dev();
    Im3DSetPlatformPipelinesBuilder(nullptr);
    d.currentMode = -1;
    if (d.modes != nullptr) DeviceFree(d.modes);
    d.modes = nullptr;
    d.numModes = 0;
    return true;
}

bool EnterFullScreen(const GlDisplayMode& mode) {
    GlDeviceState& d = Dev();
    // The display must offer the mode itself (size and depth; any refresh
    // rate); nothing changes when it does not.
    SDL_DisplayMode offered{};
    bool found = false;
    const int32 count = SDL_GetNumDisplayModes(d.displayIndex);
    for (int32 i = 0; i < count && !found; ++i) {
        found = SDL_GetDisplayMode(d.displayIndex, i, &offered) == 0 && offered.w == mode.width &&
                offered.h == mode.height && static_cast<int32>(SDL_BITSPERPIXEL(offered.format)) == mode.depth;
    }
    if (!found) {
        SDL_SetError("the display does not offer %dx%dx%d", mode.width, mode.height, mode.depth);
        return false;
    }
    if (SDL_SetWindowDisplayMode(d.window, &offered) != 0) return false;
    SDL_SetWindowPosition(d.window, 0, 0);
    SDL_SetWindowSize(d.window, mode.width, mode.height);
    if (SDL_SetWindowFullscreen(d.window, SDL_WINDOW_FULLSCREEN) != 0) {
        SDL_SetWindowFullscreen(d.window, 0);
        return false;
    }
    d.fullScreenActive = true;
    return true;
}

void LeaveFullScreen() {
    GlDeviceState& d = Dev();
    if (!d.fullScreenActive) return;
    SDL_SetWindowFullscreen(d.window, 0);
    d.fullScreenActive = false;
}

void ProbeExtensions() {
    GlDeviceState& d = Dev();
    if (GlExtensionSupported("GL_EXT_compiled_vertex_array")) {
        gl.LockArrays = reinterpret_cast<decltype(gl.LockArrays)>(GlFunctionLookup("glLockArraysEXT"));
        gl.UnlockArrays = reinterpret_cast<decltype(gl.UnlockArrays)>(GlFunctionLookup("glUnlockArraysEXT"));
    } else if (GlExtensionSupported("GL_SGI_compiled_vertex_array")) {
        gl.LockArrays = reinterpret_cast<decltype(gl.LockArrays)>(GlFunctionLookup("glLockArraysSGI"));
        gl.UnlockArrays = reinterpret_cast<decltype(gl.UnlockArrays)>(GlFunctionLookup("glUnlockArraysSGI"));
    }
    if (gl.LockArrays == nullptr || gl.UnlockArrays == nullptr) {
        gl.LockArrays = nullptr;
        gl.UnlockArrays = nullptr;
    }

    if (GlExtensionSupported("GL_NV_vertex_array_range")) {
        gl.FlushVertexArrayRange =
            reinterpret_cast<decltype(gl.FlushVertexArrayRange)>(GlFunctionLookup("glFlushVertexArrayRangeNV"));
        gl.VertexArrayRange = reinterpret_cast<decltype(gl.VertexArrayRange)>(GlFunctionLookup("glVertexArrayRangeNV"));
        gl.AllocateMemory = reinterpret_cast<decltype(gl.AllocateMemory)>(GlFunctionLookup("glXAllocateMemoryNV"));
        gl.FreeMemory = reinterpret_cast<decltype(gl.FreeMemory)>(GlFunctionLookup("glXFreeMemoryNV"));
        void* memory = nullptr;
        if (gl.FlushVertexArrayRange != nullptr && gl.VertexArrayRange != nullptr && gl.AllocateMemory != nullptr &&
            gl.FreeMemory != nullptr) {
            memory = gl.AllocateMemory(static_cast<GLsizei>(kVertexArenaSize), 0.0f, 0.0f, 1.0f);
        }
        if (memory != nullptr && VertexArenaInit(&d.arena, memory, kVertexArenaSize)) {
            gl.EnableClientState(0x851D);  // the vertex array range
            gl.VertexArrayRange(static_cast<GLsizei>(kVertexArenaSize), memory);
            d.hasArena = true;
        } else {
            if (memory != nullptr) gl.FreeMemory(memory);
            gl.FlushVertexArrayRange = nullptr;
            gl.VertexArrayRange = nullptr;
            gl.AllocateMemory = nullptr;
            gl.FreeMemory = nullptr;
        }
    }

    if (GlExtensionSupported("GL_ARB_multitexture")) {
        gl.ActiveTexture = reinterpret_cast<decltype(gl.ActiveTexture)>(GlFunctionLookup("glActiveTextureARB"));
        gl.ClientActiveTexture =
            reinterpret_cast<decltype(gl.ClientActiveTexture)>(GlFunctionLookup("glClientActiveTextureARB"));
        GLint units = 1;
        gl.GetIntegerv(0x84E2, &units);  // the maximum texture units
        d.textureUnits = units > 0 ? units : 1;
    }
}

int KeepLibrary(dl_phdr_info* info, std::size_t, void*) {
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
        // Only marks what is already loaded: no new library comes in.
        if (void* handle = dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(handle);
    }
    return 0;
}

// Once a context exists, every library it brought in stays mapped for the
// life of the process. SDL unloads the OpenGL libraries with the last window;
// drivers do not give back all they hold when unloaded, and memory left in an
// unmapped library is reported as the program's leak by leak checkers, with
// no way to tell whose it was.
void KeepDriverLoaded() {
    static bool kept = false;
    if (kept) return;
    dl_iterate_phdr(KeepLibrary, nullptr);
    kept = true;
}

void ReleaseContext() {
    GlDeviceState& d = Dev();
    if (d.context != nullptr) {
        SDL_GL_MakeCurrent(d.window, nullptr);
        SDL_GL_DeleteContext(d.context);
        d.context = nullptr;
    }
    GlFunctionsClear();
    d.extensions = nullptr;
    d.maxTextureSize = 0;
    d.maxLights = -1;
    d.textureUnits = 1;
}

bool Start() {
    GlDeviceState& d = Dev();
    if (d.window == nullptr || d.currentMode < 0 || d.currentMode >= d.numModes) return false;
    const GlDisplayMode& mode = d.modes[d.currentMode];
    if (mode.fullScreen != 0 && !EnterFullScreen(mode)) return false;

    // The pixel format came with the window (see GlWindowCreate); the context
    // is of the same kind.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    if ((SDL_GetWindowFlags(d.window) & SDL_WINDOW_OPENGL) == 0) {
        SDL_SetError("the window was not made for OpenGL");
        LeaveFullScreen();
        return false;
    }
    d.context = SDL_GL_CreateContext(d.window);
    if (d.context == nullptr) {
        LeaveFullScreen();
        return false;
    }
    const char* missing = nullptr;
    if (SDL_GL_MakeCurrent(d.window, d.context) != 0 || !GlFunctionsLoad(&missing)) {
        if (missing != nullptr) SDL_SetError("OpenGL entry point %s is missing", missing);
        ReleaseContext();
        LeaveFullScreen();
        return false;
    }
    KeepDriverLoaded();
    int depth = 0, stencil = 0;
    SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
    SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &stencil);
    d.depthBits = depth;
    d.stencilBits = stencil;

    ProbeExtensions();
    d.currentCamera = nullptr;
    d.fogStart = -1.0f;
    d.fogEnd = -1.0f;
    d.rasterContext = nullptr;
    d.started = true;
    GlRenderStateDefaults();
    return true;
}

bool Stop() {
    GlDeviceState& d = Dev();
    if (d.context != nullptr) {
        GlMakeCurrent();
        if (d.hasArena) {
            gl.DisableClientState(0x851D);
            gl.FreeMemory(d.arena.memory);
        }
    }
    d.hasArena = false;
    d.arena = VertexArena{};
    ReleaseContext();
    LeaveFullScreen();
    d.started = false;
    d.currentCamera = nullptr;
    return true;
}

bool DeviceSystem(int32 request, void* out, void* inOut, int32 in) {
    GlDeviceState& d = Dev();
    switch (request) {
        case DeviceOpen:
            return Open(inOut);
        case DeviceClose:
            return Close();
        case DeviceStart:
            return Start();
        case DeviceStop:
            return Stop();
        case DeviceGetDeviceRecord: {
            auto* record = static_cast<DeviceRecord*>(out);
            *record = deviceRecord;
            Gl2DDefaultVariants(record);
            d.memoryFuncs = static_cast<const MemoryFunctions*>(inOut);
            const int32 offset =
                RasterRegisterPlugin(sizeof(GlRasterData), kGlRasterPluginID, nullptr, nullptr, nullptr);
            if (offset < 0) return false;
            d.rasterExtOffset = offset;
            return true;
        }
        case DeviceGetNumModes:
            *static_cast<int32*>(out) = d.numModes;
            return true;
        case DeviceGetModeInfo: {
            if (in < 0 || in >= d.numModes) return false;
            const GlDisplayMode& m = d.modes[in];
            *static_cast<VideoModeInfo*>(out) =
                VideoModeInfo{m.width, m.height, m.depth, m.fullScreen != 0 ? kVideoModeFullScreen : 0};
            return true;
        }
        case DeviceUseMode:
            if (in < 0 || in >= d.numModes) return false;
            d.currentMode = in;
            return true;
        case DeviceFocus:
        case DeviceStandards9:
            return true;
        case DeviceGetMode:
            *static_cast<int32*>(out) = d.currentMode;
            return true;
        case DeviceStandards: {
            auto* table = static_cast<StandardFunctions*>(out);
            const int32 count = in < StdNumStandardFunctions ? in : StdNumStandardFunctions;
            for (int32 i = 0; i < count; ++i) table->fn[i] = Fail;
            for (const SlotFunction& f : kStandardFunctions) {
                if (f.slot < count) table->fn[f.slot] = f.function;
            }
            return true;
        }
        case DeviceGetMaxTextureSize:
            if (!d.started) return false;
            *static_cast<int32*>(out) = GlMaxTextureSize();
            return true;
        default:
            return false;
    }
}

}  // namespace

GlDeviceState* GlDevice() { return &Dev(); }

DeviceRecord* GlDeviceGetInterface() {
    Gl2DDefaultVariants(&deviceRecord);
    return &deviceRecord;
}

SDL_Window* GlWindowCreate(const char* title, int x, int y, int width, int height, uint32 flags) {
    static const int kDepths[] = {32, 24, 16};
    for (int depth : kDepths) {
        SDL_GL_ResetAttributes();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
        SDL_Window* window = SDL_CreateWindow(title, x, y, width, height, flags | SDL_WINDOW_OPENGL);
        if (window != nullptr) return window;
    }
    return SDL_CreateWindow(title, x, y, width, height, flags & ~static_cast<uint32>(SDL_WINDOW_OPENGL));
}

void GlMakeCurrent() {
    GlDeviceState& d = Dev();
    if (d.context == nullptr) return;
    if (SDL_GL_GetCurrentContext() != d.context || SDL_GL_GetCurrentWindow() != d.window) {
        SDL_GL_MakeCurrent(d.window, d.context);
    }
}

bool GlSwapBuffers() {
    GlDeviceState& d = Dev();
    if (d.context == nullptr) return false;
    GlMakeCurrent();
    SDL_GL_SwapWindow(d.window);
    return true;
}

int32 GlClientHeight() {
    GlDeviceState& d = Dev();
    if (d.window == nullptr) return 0;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(d.window, &w, &h);
    return h;
}

bool GlExtensionSupported(const char* name) {
    GlDeviceState& d = Dev();
    if (d.extensions == nullptr && d.context != nullptr && gl.GetString != nullptr) {
        GlMakeCurrent();
        d.extensions = reinterpret_cast<const char*>(gl.GetString(GL_EXTENSIONS));
    }
    return GlExtensionInString(d.extensions, name);
}

int32 GlMaxTextureSize() {
    GlDeviceState& d = Dev();
    if (d.maxTextureSize == 0 && d.context != nullptr) {
        GlMakeCurrent();
        GLint size = 0;
        gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
        d.maxTextureSize = size;
    }
    return d.maxTextureSize;
}

int32 GlMaxLights() {
    GlDeviceState& d = Dev();
    if (d.maxLights < 0 && d.context != nullptr) {
        GlMakeCurrent();
        GLint lights = -1;
        gl.GetIntegerv(GL_MAX_LIGHTS, &lights);
        d.maxLights = lights;
    }
    return d.maxLights;
}

int32 GlDepthBits() { return Dev().depthBits; }

bool GlStencilBits(uint8* bits) {
    if (EngineGetState() != EngineStateStarted) {
        *bits = 0;
        return false;
    }
    *bits = static_cast<uint8>(Dev().stencilBits);
    return true;
}

void* VertexArenaAlloc(std::size_t bytes) {
    return Dev().hasArena ? VertexArenaAllocFrom(&Dev().arena, bytes) : nullptr;
}

void VertexArenaFree(void* pointer) {
    if (Dev().hasArena) VertexArenaFreeTo(&Dev().arena, pointer);
}

}  // namespace kv
