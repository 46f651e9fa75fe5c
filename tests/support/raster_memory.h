// Rasters in memory for the test device: each keeps 32-bit pixels that the
// device's standard functions make, lock, read and fill, with hooks to refuse
// a raster or choose the format an image gets. The camera slots and the
// clears, shows and palette locks succeed without doing anything. Install()
// after TestDevice::Reset(); the fixture below does both and starts the engine.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "engine/core/engine.h"
#include "engine/image/image.h"
#include "engine/image/raster.h"
#include "test_device.h"

namespace kv::test {

struct RasterMemory {
    // Raster creation fails for the rasters this says no to.
    static inline std::function<bool(const Raster*, int32 flags)> refuseCreate;
    // The size and format the device asks for an image; by default the
    // image's size in 888.
    static inline std::function<void(Raster* scratch, const Image* image, int32 flags)> chooseFormat;
    // The images the raster-from-image slot was given, as they were then.
    struct GivenImage {
        int32 width, height, depth, flags;
        std::vector<RGBA> palette;
    };
    static inline std::vector<GivenImage> givenImages;
    static inline std::map<const Raster*, std::vector<uint8>> storage;
    static inline Rect lastRect{};  // of the last raster render

    static void Install() {
        refuseCreate = nullptr;
        chooseFormat = nullptr;
        givenImages.clear();
        storage.clear();
        lastRect = Rect{};
        auto& fn = TestDevice::standards;
        for (int32 slot :
             {StdCameraBeginUpdate, StdCameraEndUpdate, StdSetRasterContext, StdRasterClearRect, StdRasterClear,
              StdRasterShowRaster, StdCameraClear, StdRasterLockPalette, StdRasterUnlockPalette}) {
            fn[static_cast<std::size_t>(slot)] = TestDevice::Succeed;
        }
        fn[StdRasterCreate] = Create;
        fn[StdRasterDestroy] = Destroy;
        fn[StdImageGetRaster] = ImageFromRaster;
        fn[StdRasterSetImage] = RasterFromImage;
        fn[StdImageFindRasterFormat] = FindFormat;
        fn[StdRasterSubRaster] = SubRaster;
        fn[StdRasterLock] = Lock;
        fn[StdRasterUnlock] = Unlock;
        fn[StdRasterRender] = Render;
        fn[StdRasterGetMipLevels] = MipLevels;
    }

    // The pixels of a raster or of the raster it is cut from.
    static std::vector<uint8>* PixelsOf(const Raster* r) {
        auto it = storage.find(r->parentRaster);
        return it == storage.end() ? nullptr : &it->second;
    }

    static bool Create(void*, void* inOut, int32 flags) {
        auto* r = static_cast<Raster*>(inOut);
        if (refuseCreate && refuseCreate(r, flags)) return false;
        if (r->depth == 0) r->depth = 32;
        r->stride = r->width * 4;
        if (r->width == 0 || r->height == 0) {
            r->rasterFlags = kRasterDontAllocate;
        } else {
            storage[r].assign(static_cast<std::size_t>(r->stride) * r->height, 0);
        }
        return true;
    }
    static bool Destroy(void*, void* inOut, int32) {
        storage.erase(static_cast<Raster*>(inOut));
        return true;
    }
    static bool Lock(void* out, void* inOut, int32 mode) {
        auto* r = static_cast<Raster*>(inOut);
        std::vector<uint8>* px = PixelsOf(r);
        if (px == nullptr) return false;
        r->lockedPixels = px->data() + r->offsetY * r->stride + r->offsetX * 4;
        r->rasterFlags |= static_cast<uint8>(mode & (kRasterLockedRead | kRasterLockedWrite));
        *static_cast<uint8**>(out) = r->lockedPixels;
        return true;
    }
    static bool Unlock(void*, void* inOut, int32) {
        auto* r = static_cast<Raster*>(inOut);
        r->lockedPixels = nullptr;
        r->rasterFlags &= static_cast<uint8>(~(kRasterLockedRead | kRasterLockedWrite));
        return true;
    }
    static bool Render(void*, void* inOut, int32) {
        lastRect = *static_cast<Rect*>(inOut);
        return true;
    }
    static bool ImageFromRaster(void* out, void* inOut, int32) {
        auto* image = static_cast<Image*>(out);
        auto* r = static_cast<Raster*>(inOut);
        std::vector<uint8>* px = PixelsOf(r);
        if (px == nullptr || image->depth != 32 || image->width < r->width || image->height < r->height) return false;
        for (int32 y = 0; y < r->height; ++y) {
            std::memcpy(image->pixels + y * image->stride, px->data() + y * r->stride,
                        static_cast<std::size_t>(r->width) * 4);
        }
        return true;
    }
    static bool RasterFromImage(void* out, void* inOut, int32) {
        auto* r = static_cast<Raster*>(out);
        auto* image = static_cast<Image*>(inOut);
        std::vector<uint8>* px = PixelsOf(r);
        const bool indexed = image->depth == 4 || image->depth == 8;
        if (px == nullptr || (image->depth != 32 && !indexed) || (indexed && image->palette == nullptr)) return false;
        GivenImage given{image->width, image->height, image->depth, image->flags, {}};
        if (indexed) given.palette.assign(image->palette, image->palette + (1 << image->depth));
        givenImages.push_back(given);
        // Palettised pictures go in through their palettes.
        const uint8 mask = image->depth == 4 ? 0x0F : 0xFF;
        for (int32 y = 0; y < r->height && y < image->height; ++y) {
            const uint8* src = image->pixels + y * image->stride;
            uint8* dst = px->data() + y * r->stride;
            for (int32 x = 0; x < r->width && x < image->width; ++x) {
                std::memcpy(dst + 4 * x, indexed ? &image->palette[src[x] & mask].red : src + 4 * x, 4);
            }
        }
        return true;
    }
    static bool FindFormat(void* out, void* inOut, int32 flags) {
        auto* r = static_cast<Raster*>(out);
        auto* image = static_cast<Image*>(inOut);
        r->width = image->width;
        r->height = image->height;
        r->depth = 24;
        r->rasterType = static_cast<uint8>(flags & kRasterTypeMask);
        r->rasterFormat = static_cast<uint8>((RasterFormat888 | (flags & RasterFormatMipmap)) >> 8);
        if (chooseFormat) chooseFormat(r, image, flags);
        return true;
    }
    static bool SubRaster(void* out, void* inOut, int32) {
        auto* r = static_cast<Raster*>(out);
        auto* parent = static_cast<Raster*>(inOut);
        r->stride = parent->stride;
        r->depth = parent->depth;
        r->rasterType = parent->rasterType;
        r->rasterFormat = parent->rasterFormat;
        return true;
    }
    static bool MipLevels(void* out, void* inOut, int32) {
        auto* r = static_cast<Raster*>(inOut);
        int32 n = 0;
        for (int32 v = r->width > r->height ? r->width : r->height; v != 0; v >>= 1) ++n;
        *static_cast<int32*>(out) = n;
        return true;
    }
};

// The engine started on the test device with rasters in memory for each
// test, and stopped after.
class RasterMemoryTest : public TestDeviceTest {
  protected:
    void Configure() override { RasterMemory::Install(); }
};

}  // namespace kv::test
