// Internals shared by the OpenGL device's modules: the device's state, the
// per-raster block, and the functions one module offers the others.
#pragma once

#include <SDL.h>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/image/raster.h"
#include "engine/math/matrix.h"
#include "engine/math/rgba.h"
#include "gl_device.h"
#include "gl_functions.h"
#include "gl_modes_arena.h"

namespace kv {

struct Camera;

// The device's block in every raster.
struct GlRasterData {
    GLuint textureName;  // 0 when none
    int32 lockCount;     // camera raster: locks sharing the pixel copy
    uint8 lockedLevel;
    // The texture's own sampling state, so re-binding issues only what differs.
    uint8 addressU;
    uint8 addressV;
    uint8 filter;
    uint8* sharedPixels;  // camera raster (top level): the pixel copy its locks share
    uint8* palette;       // the palette's memory copy
};
constexpr uint32 kGlRasterPluginID = 1036;

struct GlDeviceState {
    SDL_Window* window;
    int32 displayIndex;
    SDL_GLContext context;
    const MemoryFunctions* memoryFuncs;  // remembered at the device-record request
    GlDisplayMode* modes;
    int32 numModes;
    int32 currentMode;  // 0 at process start, -1 after close
    int32 rasterExtOffset;
    bool started;
    bool fullScreenActive;
    int32 depthBits;
    int32 stencilBits;
    const char* extensions;  // read once per context
    int32 maxTextureSize;    // 0 until read
    int32 maxLights;         // -1 until read
    int32 textureUnits;
    bool hasArena;
    VertexArena arena;
    Camera* currentCamera;  // between camera begin and end update
    float fogStart;
    float fogEnd;
    Raster* rasterContext;  // the target of the raster-render slots
};
GlDeviceState* GlDevice();

inline GlRasterData* GlRasterExt(Raster* raster) { return PtrAdd<GlRasterData>(raster, GlDevice()->rasterExtOffset); }

// Context services (gl_device).
void GlMakeCurrent();
bool GlSwapBuffers();
int32 GlClientHeight();
bool GlExtensionSupported(const char* name);
int32 GlMaxTextureSize();
int32 GlMaxLights();
int32 GlDepthBits();
bool GlStencilBits(uint8* bits);
void* VertexArenaAlloc(std::size_t bytes);
void VertexArenaFree(void* pointer);

// Render states (gl_render_state).
// What OpenGL holds of the cached state (enables, depth mask, blend factors,
// the bound texture and each texture's sampling) is known in one place, the
// render-state module: every change of it goes through these, which call GL
// only when the value changes. The device's own work (uploads, read-backs,
// blits, clears) uses them too, and puts back what it changed with
// GlStateSave / GlStateRestore, so the render states never go stale.
enum GlCap : uint32 {
    GlCapBlend = 1u << 0,
    GlCapAlphaTest = 1u << 1,
    GlCapTexture2D = 1u << 2,
    GlCapFog = 1u << 3,
    GlCapStencil = 1u << 4,
    GlCapScissor = 1u << 5,
    GlCapCull = 1u << 6,
    GlCapDepthTest = 1u << 7,
};
void GlStateEnable(uint32 cap, bool on);
void GlStateDepthMask(bool on);
void GlStateBlendFunc(GLenum source, GLenum destination);
void GlStateBindTexture(GLuint name);
// A texture object is going: a later object may get its name.
void GlStateTextureDeleted(GLuint name);
// Addressing (1 wrap, 3 clamp) and filter (1..6, or kGlFilterNearestMin) of a
// raster's texture, which must be the one bound; kept in the raster's block.
constexpr int32 kGlFilterNearestMin = 7;  // nearest when shrinking, linear when growing
void GlStateTextureSampling(Raster* raster, int32 address, int32 filter);
struct GlStateHeld {
    uint32 caps;
    bool depthMask;
    GLenum blendSource, blendDestination;
    GLuint texture;
};
GlStateHeld GlStateSave();
void GlStateRestore(const GlStateHeld& held);
// Clears what the mask names (colour to the given red, green, blue, alpha
// bytes) inside the area, or everywhere; depth writes and stencil testing
// are opened for the clear and put back.
struct GlClearArea {
    bool scissor;
    GLint x, y;
    GLsizei width, height;
};
void GlStateClear(GLbitfield mask, const uint8* colour, const GlClearArea& area);

bool GlRenderStateSet(int32 state, std::intptr_t value);
bool GlRenderStateGet(int32 state, std::intptr_t* value);
void GlRenderStateDefaults();
bool GlRenderStateZTestOrWrite();
bool GlRenderStateVertexAlpha();
bool GlRenderStateZWrite();
bool GlRenderStateStencilEnabled();
Raster* GlRenderStateTexture();
// Forgets the texture state of a raster that is going away.
void GlRenderStateRasterDestroyed(Raster* raster);

// 2D drawing (gl_immediate_2d): the entry points of the device record.
// The engine's matrix as GL's sixteen floats, for glLoadMatrixf/glMultMatrixf.
void GlMatrixFromMatrix(const Matrix& m, GLfloat out[16]);

bool Gl2DRenderLine(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2);
bool Gl2DRenderTriangle(Im2DVertex* vertices, int32 numVertices, int32 vert1, int32 vert2, int32 vert3);
// Installs the variant for shading and texturing into the engine's record.
void Gl2DSelectVariants(bool flat, bool textured);
void Gl2DDefaultVariants(DeviceRecord* record);
bool GlRasterRender(void* raster, void* rect, int32);
bool GlRasterRenderScaled(void* raster, void* rect, int32);
bool GlRasterRenderFast(void* raster, void* rect, int32);

// Rasters (gl_textures, gl_convert).
bool GlRasterCreate(void*, void* raster, int32 flags);
bool GlRasterDestroy(void*, void* raster, int32);
bool GlRasterLock(void* pixels, void* raster, int32 modeAndLevel);
bool GlRasterUnlock(void*, void* raster, int32);
bool GlRasterLockPalette(void* palette, void* raster, int32 mode);
bool GlRasterUnlockPalette(void*, void* raster, int32);
bool GlRasterGetMipLevels(void* count, void* raster, int32);
bool GlRasterSubRaster(void* raster, void* parent, int32);
bool GlRasterClear(void*, void*, int32 pixelValue);
bool GlRasterClearRect(void*, void* rect, int32 pixelValue);
bool GlSetRasterContext(void*, void* raster, int32);
bool GlImageGetRaster(void* image, void* raster, int32);
bool GlRasterSetImage(void* raster, void* image, int32);
bool GlImageFindRasterFormat(void* raster, void* image, int32 flags);
// The raster format for create flags; fills depth and format, false with
// the error raised when the combination is not supported.
bool GlRasterChooseFormat(Raster* raster, int32 flags);

// Cameras (gl_camera).
bool GlCameraBeginUpdate(void*, void* camera, int32);
bool GlCameraEndUpdate(void*, void* camera, int32);
bool GlCameraClear(void* camera, void* colour, int32 flags);
bool GlRasterShow(void*, void*, int32);

}  // namespace kv

namespace kv {
// The frame-buffer raster of the device's current camera, or null.
Raster* GlCurrentCameraRaster();
}  // namespace kv

namespace kv {
// Raster helpers shared by the raster modules (gl_textures).
bool GlRasterIsPaletted(const Raster* raster);
int32 GlRasterPixelFormat(const Raster* raster);  // 0x500, 0x600, ... without the other bits
int32 GlRasterPaletteBytes(const Raster* raster);
// Puts the render state's texture back after a raster operation bound another.
void GlRestoreTextureBinding();
}  // namespace kv
