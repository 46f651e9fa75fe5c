#include "logo.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/module_slot.h"
#include "engine/image/image.h"
#include "engine/image/raster.h"

namespace kv {

namespace {

constexpr int32 kLogoWidth = 128;
constexpr int32 kLogoHeight = 64;
constexpr int32 kLogoStride = kLogoWidth * 4;

// Our own picture: tools/kvlogo draws it.
const uint8 kLogoPixels[kLogoStride * kLogoHeight] = {
#include "logo_pixels.inc"
};

struct LogoEngineBlock {
    Raster* raster;  // null: no logo is drawn
    int32 positionMode;
    LogoRect rect;  // as last computed
};

struct LogoCameraBlock {
    int32 enabled;
    CameraUpdateFn endUpdate;  // the camera's own, called after the logo
};

ModuleSlot<LogoEngineBlock> engineSlot;
int32 cameraBlockOffset = -1;

LogoCameraBlock* CameraBlock(Camera* camera) { return PtrAdd<LogoCameraBlock>(camera, cameraBlockOffset); }

// The logo at the device's texture size, gamma-corrected, or null.
Raster* MakeLogoRaster() {
    Image* stored = ImageCreate(kLogoWidth, kLogoHeight, 32);
    if (stored == nullptr) return nullptr;
    // Only read from: the working copy below is what gets corrected.
    ImageSetStride(stored, kLogoStride);
    ImageSetPixels(stored, const_cast<uint8*>(kLogoPixels));
    int32 width = 0, height = 0, depth = 0, flags = 0;
    Image* work = nullptr;
    if (ImageFindRasterFormat(stored, RasterTypeTexture, &width, &height, &depth, &flags) != nullptr) {
        if (width != kLogoWidth || height != kLogoHeight) {
            work = ImageCreateResampled(stored, width, height);
        } else {
            work = ImageCreate(kLogoWidth, kLogoHeight, 32);
            if (work != nullptr && (ImageAllocatePixels(work) == nullptr || ImageCopy(work, stored) == nullptr)) {
                ImageDestroy(work);
                work = nullptr;
            }
        }
    }
    ImageDestroy(stored);
    if (work == nullptr) return nullptr;
    Raster* raster = nullptr;
    if (ImageGammaCorrect(work) != nullptr) raster = RasterCreate(width, height, depth, flags);
    if (raster != nullptr && RasterSetFromImage(raster, work) == nullptr) {
        RasterDestroy(raster);
        raster = nullptr;
    }
    ImageDestroy(work);
    return raster;
}

void* LogoEngineOpen(void* instance, int32 offset, int32 /*size*/) {
    LogoEngineBlock* block = ModuleSlot<LogoEngineBlock>::At(instance, offset);
    *block = LogoEngineBlock{nullptr, 0, {0, 0, 0, 0}};
    engineSlot.Opened(offset);
    // Without its raster the engine runs on; there is just no logo.
    block->raster = MakeLogoRaster();
    if (block->raster != nullptr) block->positionMode = kLogoBottomLeft;
    return instance;
}

void* LogoEngineClose(void* instance, int32 offset, int32 /*size*/) {
    LogoEngineBlock* block = ModuleSlot<LogoEngineBlock>::At(instance, offset);
    if (block->raster != nullptr) RasterDestroy(block->raster);
    block->raster = nullptr;
    engineSlot.Closed();
    return instance;
}

// Float to int by truncation, kept inside the int range (and 0 for NaN).
int32 Truncate(float v) {
    if (!(v == v)) return 0;
    if (v >= static_cast<float>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<float>(INT_MIN)) return INT_MIN;
    return static_cast<int32>(v);
}

void Place(LogoEngineBlock* block, const Camera* camera) {
    const Raster* raster = CameraGetRaster(camera);
    const int32 w = raster->width, h = raster->height;
    const int32 ox = raster->offsetX, oy = raster->offsetY;
    const V2d* view = CameraGetViewWindow(camera);
    // The picture keeps its shape on screen whatever the camera's aspect.
    const float ratio = (static_cast<float>(h) * view->x) / (static_cast<float>(w) * view->y * 1.590361f);
    int32 width = Truncate(static_cast<float>(w) * 0.1f);
    const float tall = static_cast<float>(width) * ratio;
    int32 height;
    if (static_cast<float>(h - 10) < tall) {
        height = h - 10;
        width = Truncate(static_cast<float>(height) / ratio);
    } else {
        height = Truncate(tall);
    }
    LogoRect& r = block->rect;
    switch (block->positionMode) {
        case 1:
        case 2:
        case 3:
            r.x = ox + (w - width) / 2;
            break;
        case 5:
        case 7:
        case 9:
            r.x = ox + w - width - 5;
            break;
        case 4:
        case 6:
        case 8:
            r.x = ox + 5;
            break;
        default:
            break;
    }
    switch (block->positionMode) {
        case 2:
        case 4:
        case 5:
            r.y = oy + (h - height) / 2;
            break;
        case 3:
        case 8:
        case 9:
            r.y = oy + h - height - 5;
            break;
        case 1:
        case 6:
        case 7:
            r.y = oy + 5;
            break;
        default:
            break;
    }
    r.width = width;
    r.height = height;
}

Im2DVertex Corner(float x, float y, float u, float v, float recipZ) {
    Im2DVertex out;
    out.x = x;
    out.y = y;
    out.z = EngineGetZNear();
    out.r = out.g = out.b = out.a = 255;
    out.u = u;
    out.v = v;
    out.tr = 0.0f;
    out.tq = 1.0f;
    out.recipZ = recipZ;
    return out;
}

void Draw(const LogoEngineBlock* block, const Camera* camera) {
    const LogoRect& r = block->rect;
    // The texture's filter is restored before the texture itself, so the
    // caller's texture keeps its own.
    const RenderStatesKept kept({StateZTestEnable, StateZWriteEnable, StateVertexAlphaEnable, StateSrcBlend,
                                 StateDestBlend, StateCullMode, StateTextureRaster, StateTextureFilter});
    RenderStateSet(StateZTestEnable, 0);
    RenderStateSet(StateZWriteEnable, 0);
    RenderStateSet(StateVertexAlphaEnable, 0);
    RenderStateSet(StateSrcBlend, 5);
    RenderStateSet(StateDestBlend, 6);
    RenderStateSet(StateCullMode, 1);
    RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(block->raster));
    RenderStateSet(StateTextureFilter, 2);
    const float nearPlane = CameraGetNearClipPlane(camera);
    const float recipZ = nearPlane != 0.0f ? 1.0f / nearPlane : 0.0f;
    const auto x0 = static_cast<float>(r.x), y0 = static_cast<float>(r.y);
    const auto x1 = static_cast<float>(r.x + r.width), y1 = static_cast<float>(r.y + r.height);
    Im2DVertex fan[4] = {Corner(x0, y0, 0.0f, 0.0f, recipZ), Corner(x0, y1, 0.0f, 1.0f, recipZ),
                         Corner(x1, y1, 1.0f, 1.0f, recipZ), Corner(x1, y0, 1.0f, 0.0f, recipZ)};
    Im2DRenderPrimitive(PrimTypeTriFan, fan, 4);
}

Camera* LogoEndUpdate(Camera* camera) {
    LogoCameraBlock* cb = CameraBlock(camera);
    LogoEngineBlock* block = engineSlot.Get();
    if (block != nullptr && block->raster != nullptr && CameraGetRaster(camera) != nullptr) {
        Place(block, camera);
        const LogoRect& r = block->rect;
        if (cb->enabled != 0 && r.x > 0 && r.y > 0 && r.width > 0 && r.height > 0) Draw(block, camera);
    }
    return cb->endUpdate(camera);
}

void* LogoCameraConstruct(void* object, int32 offset, int32 /*size*/) {
    auto* camera = static_cast<Camera*>(object);
    LogoCameraBlock* cb = PtrAdd<LogoCameraBlock>(object, offset);
    cb->enabled = 0;
    cb->endUpdate = camera->endUpdate;
    camera->endUpdate = LogoEndUpdate;
    return object;
}

void* LogoCameraDestruct(void* object, int32 offset, int32 /*size*/) {
    PtrAdd<LogoCameraBlock>(object, offset)->enabled = 0;
    return object;
}

// A copy keeps the block its own construction gave it: flag off, its own end
// update.
void* LogoCameraCopy(void* /*dst*/, const void* /*src*/, int32 /*offset*/, int32 /*size*/) { return nullptr; }

}  // namespace

bool LogoPluginAttach() {
    if (EngineRegisterPlugin(static_cast<int32>(sizeof(LogoEngineBlock)), kIdLogoPlugin, LogoEngineOpen,
                             LogoEngineClose) < 0) {
        return false;
    }
    cameraBlockOffset = CameraRegisterPlugin(static_cast<int32>(sizeof(LogoCameraBlock)), kIdLogoPlugin,
                                             LogoCameraConstruct, LogoCameraDestruct, LogoCameraCopy);
    return cameraBlockOffset >= 0;
}

int32 LogoSetCamera(Camera* camera, int32 enabled) {
    if (camera == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return 0;
    }
    if (cameraBlockOffset < 0 || CameraGetPluginOffset(kIdLogoPlugin) != cameraBlockOffset) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return 0;
    }
    LogoCameraBlock* cb = CameraBlock(camera);
    const int32 previous = cb->enabled;
    cb->enabled = enabled;
    return previous;
}

bool LogoGetRect(LogoRect* rect) {
    const LogoEngineBlock* block = engineSlot.Get();
    if (rect == nullptr) return false;
    *rect = block != nullptr ? block->rect : LogoRect{0, 0, 0, 0};
    return block != nullptr;
}

Raster* LogoGetRaster() {
    const LogoEngineBlock* block = engineSlot.Get();
    return block != nullptr ? block->raster : nullptr;
}

}  // namespace kv
