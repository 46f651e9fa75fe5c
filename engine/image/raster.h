// Rasters: device objects (frame buffer, z buffer, texture, camera raster)
// whose pixel storage belongs to the device. The engine keeps size, depth,
// type and format and reaches the pixels by locking; every operation is a
// thin front end over one of the device's standard functions.
//
// Standard-function argument conventions (out, inOut, in):
//   4  raster create        (null, raster, create flags); the whole record,
//                           device block included, arrives zeroed but for
//                           parent (itself), size, depth and the asked type
//                           and format; registry constructors run after it
//   5  raster destroy       (null, raster, 0)
//   6  image from raster    (image, raster, 0)
//   7  raster from image    (raster, image, 0)
//   9  find raster format   (scratch raster, image, create flags); the device
//                           fills the scratch raster's width, height, depth,
//                           rasterType and rasterFormat
//   11 set raster context   (null, raster, 0)
//   12 sub-raster           (raster, parent, 0); the engine has already set the
//                           raster's parent, offsets, width and height
//   13 clear rectangle      (null, const Rect*, pixel value)
//   14 clear                (null, null, pixel value)
//   15 lock                 (uint8** pixels, raster, lock mode + level * 256)
//   16 unlock               (null, raster, 0)
//   17 render               (raster, const Rect* (x, y used), 0)
//   18 render scaled        (raster, const Rect*, 0)
//   19 render fast          (raster, const Rect* (x, y used), 0)
//   20 show raster          (raster, window, flags)
//   23 lock palette         (uint8** palette, raster, lock mode)
//   24 unlock palette       (null, raster, 0)
//   28 mip-level count      (int32* count, raster, 0)
// Pixel values (slots 13, 14): red in bits 24-31, green 16-23, blue 8-15,
// alpha 0-7.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"

namespace kv {

struct FreeList;
struct Image;

struct Rect {
    int32 x, y, w, h;
};

// Raster types: the low 3 bits of the create flags. Types and formats are
// plain constants so that they can be or-ed together.
constexpr int32 RasterTypeNormal = 0;
constexpr int32 RasterTypeZBuffer = 1;
constexpr int32 RasterTypeCamera = 2;
constexpr int32 RasterTypeTexture = 4;
constexpr int32 RasterTypeCameraTexture = 5;
constexpr int32 kRasterTypeMask = 0x07;
// The rest of the create flags' low byte: kept as the raster's flags.
constexpr int32 kRasterCreateFlagsMask = 0xF8;

// Raster formats: bits 8-15 of the create flags.
constexpr int32 RasterFormatDefault = 0x0000;
constexpr int32 RasterFormat8888 = 0x0500;
constexpr int32 RasterFormat888 = 0x0600;
constexpr int32 RasterFormatDepth16 = 0x0700;
constexpr int32 RasterFormatDepth24 = 0x0800;
constexpr int32 RasterFormatDepth32 = 0x0900;
constexpr int32 RasterFormatAutoMipmap = 0x1000;
constexpr int32 RasterFormatPal8 = 0x2000;
constexpr int32 RasterFormatPal4 = 0x4000;
constexpr int32 RasterFormatMipmap = 0x8000;
constexpr int32 kRasterFormatPixelMask = 0x0F00;
constexpr int32 kRasterFormatMask = 0xFF00;

// rasterFlags, kept by the device.
constexpr uint8 kRasterLockedRead = 0x02;
constexpr uint8 kRasterLockedWrite = 0x04;
constexpr uint8 kRasterDontAllocate = 0x80;  // no storage of its own

// rasterPrivateFlags.
constexpr uint8 kRasterGammaCorrected = 0x01;
constexpr uint8 kRasterPaletteLockMask = 0x18;

// Lock modes: bit 0 write, bit 1 read, bit 2 do not fetch; the level goes in
// bits 8-15 of the value passed to the device.
constexpr int32 RasterLockWriteBit = 1;
constexpr int32 RasterLockReadBit = 2;
constexpr int32 RasterLockNoFetch = 4;
constexpr int32 RasterLockRead = 2;
constexpr int32 RasterLockWrite = 5;

// Registered extension data (the device's block first) follows the record.
struct Raster {
    Raster* parentRaster;  // itself unless a sub-raster
    uint8* lockedPixels;   // valid while locked
    uint8* lockedPalette;  // valid while the palette is locked
    int32 width;
    int32 height;
    int32 depth;   // bits per pixel
    int32 stride;  // bytes per row while locked
    int16 offsetX;
    int16 offsetY;
    uint8 rasterType;
    uint8 rasterFlags;
    uint8 rasterPrivateFlags;
    uint8 rasterFormat;  // format >> 8
    // The device's words: level 0's size and stride while a level is locked.
    uint8* originalPixels;
    int32 originalWidth;
    int32 originalHeight;
    int32 originalStride;
};

constexpr int32 kRasterContextStackSize = 10;

// The raster module's block in the engine instance.
struct RasterModule {
    Raster* contextStack[kRasterContextStackSize];  // slot 0: the placeholder
    int32 contextTop;                               // 0 when nothing is pushed
    FreeList* rasterFreeList;
    Raster placeholder;  // no storage (kRasterDontAllocate)
};

// createFlags: type | format.
Raster* RasterCreate(int32 width, int32 height, int32 depth, int32 createFlags);
bool RasterDestroy(Raster* raster);
// Makes raster show the rectangle of parent (relative to parent's origin).
Raster* RasterSubRaster(Raster* raster, Raster* parent, const Rect* rect);

inline int32 RasterGetWidth(const Raster* raster) { return raster->width; }
inline int32 RasterGetHeight(const Raster* raster) { return raster->height; }
inline int32 RasterGetDepth(const Raster* raster) { return raster->depth; }
inline int32 RasterGetStride(const Raster* raster) { return raster->stride; }
inline int32 RasterGetType(const Raster* raster) { return raster->rasterType & kRasterTypeMask; }
inline int32 RasterGetFormat(const Raster* raster) { return static_cast<int32>(raster->rasterFormat) << 8; }
inline Raster* RasterGetParent(const Raster* raster) { return raster->parentRaster; }
inline void RasterGetOffset(const Raster* raster, int16* x, int16* y) {
    *x = raster->offsetX;
    *y = raster->offsetY;
}

// 1 without the mipmap format bit; -1 when the device fails.
int32 RasterGetNumLevels(Raster* raster);
uint8* RasterLock(Raster* raster, int32 level, int32 lockMode);
Raster* RasterUnlock(Raster* raster);
uint8* RasterLockPalette(Raster* raster, int32 lockMode);
Raster* RasterUnlockPalette(Raster* raster);
Raster* RasterSetFromImage(Raster* raster, Image* image);

// Drawing into the current raster context.
Raster* RasterRender(Raster* raster, int32 x, int32 y);
Raster* RasterRenderScaled(Raster* raster, const Rect* rect);
Raster* RasterRenderFast(Raster* raster, int32 x, int32 y);
Raster* RasterClear(int32 pixelValue);
Raster* RasterClearRect(const Rect* rect, int32 pixelValue);
// Closes the resource arena's frame, then presents.
Raster* RasterShowRaster(Raster* raster, void* window, uint32 flags);

// The raster context stack; at most nine rasters above the placeholder.
Raster* RasterPushContext(Raster* raster);
Raster* RasterPopContext();
Raster* RasterGetCurrentContext();

// The raster registry: the device registers its per-raster block here.
int32 RasterRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                           PluginCopy copy);
int32 RasterGetPluginOffset(uint32 pluginID);
PluginRegistry* RasterGetRegistry();

void* RasterModuleOpen(void* instance, int32 offset, int32 size);
void* RasterModuleClose(void* instance, int32 offset, int32 size);
CoreModule RasterModuleEntry();

}  // namespace kv
