// A device for image, raster and camera tests: rasters keep 32-bit pixels in
// memory, every standard function it answers is logged, and any slot can be
// made to fail. Engine up and down helpers included.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "engine/core/badevice.h"
#include "engine/core/baerr.h"
#include "engine/image/baimage.h"
#include "engine/image/baraster.h"

namespace kv::test {

struct RasterDevice {
    struct Call {
        int32 slot;
        void* out;
        void* inOut;
        int32 in;
    };
    static inline std::vector<Call> calls;
    static inline std::set<int32> failingSlots;
    // Raster creation fails for the rasters this says no to.
    static inline std::function<bool(const Raster*, int32 flags)> refuseCreate;
    // The size and format the device asks for an image (slot 9); by default
    // the image's size in 888.
    static inline std::function<void(Raster* scratch, const Image* image, int32 flags)> chooseFormat;
    // The images the raster-from-image slot was given, as they were then.
    struct GivenImage {
        int32 width, height, depth, flags;
        std::vector<RGBA> palette;
    };
    static inline std::vector<GivenImage> givenImages;
    static inline std::map<const Raster*, std::vector<uint8>> storage;
    static inline std::vector<VideoModeInfo> modes{{640, 480, 32, 0}};
    static inline int32 currentMode = 0;
    static inline DeviceRecord record{};  // set by Reset

    static void Reset() {
        calls.clear();
        failingSlots.clear();
        refuseCreate = nullptr;
        chooseFormat = nullptr;
        givenImages.clear();
        storage.clear();
        modes = {{640, 480, 32, 0}};
        currentMode = 0;
        record = DeviceRecord{1.0f, System, 0.0f, 1.0f};
    }
    static DeviceRecord* Interface() { return &record; }

    static int32 Count(int32 slot) {
        int32 n = 0;
        for (const Call& c : calls) n += c.slot == slot ? 1 : 0;
        return n;
    }
    static const Call* Last(int32 slot) {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
            if (it->slot == slot) return &*it;
        }
        return nullptr;
    }

    static bool System(int32 request, void* out, void* /*inOut*/, int32 in) {
        switch (request) {
            case DeviceGetDeviceRecord:
                std::memcpy(out, &record, sizeof(DeviceRecord));
                return true;
            case DeviceStandards: {
                auto* t = static_cast<StandardFunctions*>(out);
                for (int32 i = 0; i < in; ++i) t->fn[i] = [](void*, void*, int32) { return false; };
                Install(t);
                return true;
            }
            case DeviceGetNumModes:
                *static_cast<int32*>(out) = static_cast<int32>(modes.size());
                return true;
            case DeviceGetModeInfo:
                if (in < 0 || in >= static_cast<int32>(modes.size())) return false;
                *static_cast<VideoModeInfo*>(out) = modes[static_cast<std::size_t>(in)];
                return true;
            case DeviceGetMode:
                *static_cast<int32*>(out) = currentMode;
                return true;
            case DeviceOpen:
            case DeviceClose:
            case DeviceStart:
            case DeviceStop:
            case DeviceFinalizeStart:
            case DeviceInitiateStop:
                return true;
            default:
                return false;
        }
    }

    // Logs the call; false when the slot is made to fail.
    static bool Enter(int32 slot, void* out, void* inOut, int32 in) {
        calls.push_back({slot, out, inOut, in});
        return failingSlots.count(slot) == 0;
    }

    template <int32 Slot>
    static bool Logged(void* out, void* inOut, int32 in) {
        return Enter(Slot, out, inOut, in);
    }

    static inline Rect lastRect{};
    static bool Render(void* out, void* inOut, int32 in) {
        if (!Enter(StdRasterRender, out, inOut, in)) return false;
        lastRect = *static_cast<Rect*>(inOut);
        return true;
    }
    static bool Create(void* out, void* inOut, int32 flags) {
        if (!Enter(StdRasterCreate, out, inOut, flags)) return false;
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
    static bool Destroy(void* out, void* inOut, int32 in) {
        Enter(StdRasterDestroy, out, inOut, in);
        storage.erase(static_cast<Raster*>(inOut));
        return true;
    }
    static std::vector<uint8>* PixelsOf(const Raster* r) {
        auto it = storage.find(r->parentRaster);
        return it == storage.end() ? nullptr : &it->second;
    }
    static bool Lock(void* out, void* inOut, int32 mode) {
        if (!Enter(StdRasterLock, out, inOut, mode)) return false;
        auto* r = static_cast<Raster*>(inOut);
        std::vector<uint8>* px = PixelsOf(r);
        if (px == nullptr) return false;
        r->lockedPixels = px->data() + r->offsetY * r->stride + r->offsetX * 4;
        r->rasterFlags |= static_cast<uint8>(mode & (kRasterLockedRead | kRasterLockedWrite));
        *static_cast<uint8**>(out) = r->lockedPixels;
        return true;
    }
    static bool Unlock(void* out, void* inOut, int32 in) {
        if (!Enter(StdRasterUnlock, out, inOut, in)) return false;
        auto* r = static_cast<Raster*>(inOut);
        r->lockedPixels = nullptr;
        r->rasterFlags &= static_cast<uint8>(~(kRasterLockedRead | kRasterLockedWrite));
        return true;
    }
    static bool ImageFromRaster(void* out, void* inOut, int32 in) {
        if (!Enter(StdImageGetRaster, out, inOut, in)) return false;
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
    static bool RasterFromImage(void* out, void* inOut, int32 in) {
        if (!Enter(StdRasterSetImage, out, inOut, in)) return false;
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
        if (!Enter(StdImageFindRasterFormat, out, inOut, flags)) return false;
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
    static bool SubRaster(void* out, void* inOut, int32 in) {
        if (!Enter(StdRasterSubRaster, out, inOut, in)) return false;
        auto* r = static_cast<Raster*>(out);
        auto* parent = static_cast<Raster*>(inOut);
        r->stride = parent->stride;
        r->depth = parent->depth;
        r->rasterType = parent->rasterType;
        r->rasterFormat = parent->rasterFormat;
        return true;
    }
    static bool MipLevels(void* out, void* inOut, int32 in) {
        if (!Enter(StdRasterGetMipLevels, out, inOut, in)) return false;
        auto* r = static_cast<Raster*>(inOut);
        int32 n = 0;
        for (int32 v = r->width > r->height ? r->width : r->height; v != 0; v >>= 1) ++n;
        *static_cast<int32*>(out) = n;
        return true;
    }

    static void Install(StandardFunctions* t) {
        t->fn[StdCameraBeginUpdate] = Logged<StdCameraBeginUpdate>;
        t->fn[StdRasterCreate] = Create;
        t->fn[StdRasterDestroy] = Destroy;
        t->fn[StdImageGetRaster] = ImageFromRaster;
        t->fn[StdRasterSetImage] = RasterFromImage;
        t->fn[StdImageFindRasterFormat] = FindFormat;
        t->fn[StdCameraEndUpdate] = Logged<StdCameraEndUpdate>;
        t->fn[StdSetRasterContext] = Logged<StdSetRasterContext>;
        t->fn[StdRasterSubRaster] = SubRaster;
        t->fn[StdRasterClearRect] = Logged<StdRasterClearRect>;
        t->fn[StdRasterClear] = Logged<StdRasterClear>;
        t->fn[StdRasterLock] = Lock;
        t->fn[StdRasterUnlock] = Unlock;
        t->fn[StdRasterRender] = Render;
        t->fn[StdRasterShowRaster] = Logged<StdRasterShowRaster>;
        t->fn[StdCameraClear] = Logged<StdCameraClear>;
        t->fn[StdRasterLockPalette] = Logged<StdRasterLockPalette>;
        t->fn[StdRasterUnlockPalette] = Logged<StdRasterUnlockPalette>;
        t->fn[StdRasterGetMipLevels] = MipLevels;
    }
};

// Starts the engine on the raster device for each test and stops it after.
class RasterDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RasterDevice::Reset();
        EngineSetDevice(RasterDevice::Interface);
        ASSERT_TRUE(EngineInit(nullptr, 0));
        BeforeOpen();
        EngineOpenParams p{this};
        ASSERT_TRUE(EngineOpen(&p));
        ASSERT_TRUE(EngineStart());
    }
    void TearDown() override {
        if (EngineGetState() == EngineStateStarted) EngineStop();
        if (EngineOpenCount() != 0) EngineClose();
        EngineTerm();
        EngineSetDevice(nullptr);
    }
    // Plugins register and the device is configured here, between init and
    // open.
    virtual void BeforeOpen() {}
};

}  // namespace kv::test
