#include "raster.h"

#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "image.h"
#include "resource_arena.h"

namespace kv {

namespace {

constexpr int32 kRastersPerBlock = 20;

PluginRegistry rasterRegistry = PluginRegistryMake(sizeof(Raster));
ModuleSlot<RasterModule> slot;

RasterModule* Module() { return slot.Get(); }

RasterModule* ModuleOrError() {
    RasterModule* m = Module();
    if (m == nullptr) ErrorRaise(kModuleNone, kErrEngineState);
    return m;
}

bool NullArgument(const void* p) {
    if (p != nullptr) return false;
    ErrorRaise(kModuleNone, kErrNullArgument);
    return true;
}

}  // namespace

Raster* RasterCreate(int32 width, int32 height, int32 depth, int32 createFlags) {
    RasterModule* m = ModuleOrError();
    if (m == nullptr) return nullptr;
    auto* raster = static_cast<Raster*>(KvFreeListAlloc(m->rasterFreeList));
    if (raster == nullptr) return nullptr;
    // The device block behind the record starts cleared as well.
    std::memset(static_cast<void*>(raster), 0, static_cast<std::size_t>(rasterRegistry.sizeOfStruct));
    raster->parentRaster = raster;
    raster->width = width;
    raster->height = height;
    raster->depth = depth;
    // The device may choose another format; these are what was asked for.
    raster->rasterType = static_cast<uint8>(createFlags & kRasterTypeMask);
    raster->rasterFormat = static_cast<uint8>((createFlags & kRasterFormatMask) >> 8);
    if (!StandardCall(StdRasterCreate, nullptr, raster, createFlags)) {
        KvFreeListFree(m->rasterFreeList, raster);
        return nullptr;
    }
    if (RegistryConstruct(&rasterRegistry, raster) == nullptr) {
        StandardCall(StdRasterDestroy, nullptr, raster, 0);
        KvFreeListFree(m->rasterFreeList, raster);
        return nullptr;
    }
    return raster;
}

bool RasterDestroy(Raster* raster) {
    if (raster == nullptr) return true;
    RegistryDestruct(&rasterRegistry, raster);
    StandardCall(StdRasterDestroy, nullptr, raster, 0);
    if (RasterModule* m = Module()) {
        // A destroyed raster must not stay the target of later drawing.
        for (int32 i = 1; i <= m->contextTop; ++i) {
            if (m->contextStack[i] == raster) m->contextStack[i] = &m->placeholder;
        }
        KvFreeListFree(m->rasterFreeList, raster);
    }
    return true;
}

Raster* RasterSubRaster(Raster* raster, Raster* parent, const Rect* rect) {
    if (NullArgument(raster) || NullArgument(parent) || NullArgument(rect)) return nullptr;
    raster->parentRaster = parent->parentRaster;
    raster->offsetX = static_cast<int16>(parent->offsetX + rect->x);
    raster->offsetY = static_cast<int16>(parent->offsetY + rect->y);
    raster->width = rect->w;
    raster->height = rect->h;
    if (!StandardCall(StdRasterSubRaster, raster, parent, 0)) return nullptr;
    return raster;
}

int32 RasterGetNumLevels(Raster* raster) {
    if ((RasterGetFormat(raster) & RasterFormatMipmap) == 0) return 1;
    int32 levels = 0;
    if (!StandardCall(StdRasterGetMipLevels, &levels, raster, 0)) return -1;
    return levels;
}

uint8* RasterLock(Raster* raster, int32 level, int32 lockMode) {
    uint8* pixels = nullptr;
    if (!StandardCall(StdRasterLock, &pixels, raster, lockMode + level * 256)) return nullptr;
    return pixels;
}

Raster* RasterUnlock(Raster* raster) {
    if (!StandardCall(StdRasterUnlock, nullptr, raster, 0)) return nullptr;
    return raster;
}

uint8* RasterLockPalette(Raster* raster, int32 lockMode) {
    uint8* palette = nullptr;
    if (!StandardCall(StdRasterLockPalette, &palette, raster, lockMode)) return nullptr;
    return palette;
}

Raster* RasterUnlockPalette(Raster* raster) {
    const bool ok = StandardCall(StdRasterUnlockPalette, nullptr, raster, 0);
    raster->rasterPrivateFlags &= static_cast<uint8>(~kRasterPaletteLockMask);
    return ok ? raster : nullptr;
}

Raster* RasterSetFromImage(Raster* raster, Image* image) {
    if (!StandardCall(StdRasterSetImage, raster, image, 0)) return nullptr;
    if ((image->flags & kImageGammaCorrected) != 0) raster->rasterPrivateFlags |= kRasterGammaCorrected;
    return raster;
}

Raster* RasterRender(Raster* raster, int32 x, int32 y) {
    Rect r{x, y, raster->width, raster->height};
    if (!StandardCall(StdRasterRender, raster, &r, 0)) return nullptr;
    return raster;
}

Raster* RasterRenderScaled(Raster* raster, const Rect* rect) {
    Rect r = *rect;
    if (!StandardCall(StdRasterRenderScaled, raster, &r, 0)) return nullptr;
    return raster;
}

Raster* RasterRenderFast(Raster* raster, int32 x, int32 y) {
    Rect r{x, y, raster->width, raster->height};
    if (!StandardCall(StdRasterRenderFast, raster, &r, 0)) return nullptr;
    return raster;
}

Raster* RasterClear(int32 pixelValue) {
    if (!StandardCall(StdRasterClear, nullptr, nullptr, pixelValue)) return nullptr;
    return RasterGetCurrentContext();
}

Raster* RasterClearRect(const Rect* rect, int32 pixelValue) {
    Rect r = *rect;
    if (!StandardCall(StdRasterClearRect, nullptr, &r, pixelValue)) return nullptr;
    return RasterGetCurrentContext();
}

Raster* RasterShowRaster(Raster* raster, void* window, uint32 flags) {
    ResourcesEndFrame();
    if (!StandardCall(StdRasterShowRaster, raster, window, static_cast<int32>(flags))) return nullptr;
    return raster;
}

Raster* RasterPushContext(Raster* raster) {
    RasterModule* m = ModuleOrError();
    if (m == nullptr || NullArgument(raster)) return nullptr;
    // The stack is fixed: a tenth push would write past it.
    if (m->contextTop + 1 >= kRasterContextStackSize) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    if (!StandardCall(StdSetRasterContext, nullptr, raster, 0)) return nullptr;
    m->contextStack[++m->contextTop] = raster;
    return raster;
}

Raster* RasterPopContext() {
    RasterModule* m = ModuleOrError();
    if (m == nullptr) return nullptr;
    // Popping the placeholder would leave the stack below its bottom.
    if (m->contextTop == 0) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    Raster* top = m->contextStack[m->contextTop--];
    if (!StandardCall(StdSetRasterContext, nullptr, m->contextStack[m->contextTop], 0)) return nullptr;
    return top;
}

Raster* RasterGetCurrentContext() {
    RasterModule* m = Module();
    return m != nullptr ? m->contextStack[m->contextTop] : nullptr;
}

int32 RasterRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                           PluginCopy copy) {
    return RegistryRegister(&rasterRegistry, size, pluginID, construct, destruct, copy);
}

int32 RasterGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&rasterRegistry, pluginID); }

PluginRegistry* RasterGetRegistry() { return &rasterRegistry; }

void* RasterModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    RasterModule* m = slot.At(instance, offset);
    std::memset(static_cast<void*>(m), 0, sizeof(RasterModule));
    m->placeholder.rasterFlags = kRasterDontAllocate;
    m->contextStack[0] = &m->placeholder;
    m->contextTop = 0;
    m->rasterFreeList = FreeListCreate(rasterRegistry.sizeOfStruct, kRastersPerBlock, alignof(Raster));
    if (m->rasterFreeList == nullptr) return nullptr;
    slot.Opened(offset);
    return instance;
}

void* RasterModuleClose(void* instance, int32 offset, int32 /*size*/) {
    RasterModule* m = slot.At(instance, offset);
    if (m->rasterFreeList != nullptr) {
        FreeListDestroy(m->rasterFreeList);
        m->rasterFreeList = nullptr;
    }
    slot.Closed();
    return instance;
}

CoreModule RasterModuleEntry() {
    return {"raster", static_cast<int32>(sizeof(RasterModule)), kIdRasterModule, RasterModuleOpen, RasterModuleClose};
}

}  // namespace kv
