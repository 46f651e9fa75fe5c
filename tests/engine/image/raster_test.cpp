#include "engine/image/raster.h"

#include <gtest/gtest.h>

#include "engine/image/image.h"
#include "error_log.h"
#include "raster_memory.h"

namespace kv {
namespace {

using test::ErrorLog;
using test::RasterMemory;
using test::TestDevice;

int32 constructed = 0;
int32 blockOffset = -1;

void* CountConstruct(void* object, int32 offset, int32) {
    // Runs after the device made the raster (which sets a depth of 0 to 32).
    EXPECT_EQ(static_cast<Raster*>(object)->depth, 32);
    *PtrAdd<int32>(object, offset) = 77;
    ++constructed;
    return object;
}
void* CountDestruct(void* object, int32, int32) {
    --constructed;
    return object;
}

class Rasters : public test::RasterMemoryTest {
  protected:
    void BeforeOpen() override {
        blockOffset = RasterRegisterPlugin(4, 0xF0F0, CountConstruct, CountDestruct, nullptr);
        constructed = 0;
    }
};

TEST_F(Rasters, CreateHandsTheFlagsToTheDeviceThenRunsThePlugins) {
    ASSERT_GE(blockOffset, static_cast<int32>(sizeof(Raster)));
    Raster* r = RasterCreate(8, 4, 0, RasterTypeTexture | RasterFormat8888 | RasterFormatMipmap);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(TestDevice::Last(StdRasterCreate)->in, RasterTypeTexture | RasterFormat8888 | RasterFormatMipmap);
    EXPECT_EQ(RasterGetParent(r), r);
    EXPECT_EQ(RasterGetType(r), RasterTypeTexture);
    EXPECT_EQ(RasterGetFormat(r), RasterFormat8888 | RasterFormatMipmap);
    EXPECT_EQ(RasterGetDepth(r), 32);
    EXPECT_EQ(*PtrAdd<int32>(r, blockOffset), 77);
    EXPECT_EQ(constructed, 1);
    EXPECT_TRUE(RasterDestroy(r));
    EXPECT_EQ(constructed, 0);
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), 1);

    TestDevice::failingSlots.insert(StdRasterCreate);
    EXPECT_EQ(RasterCreate(8, 4, 0, RasterTypeNormal), nullptr);
    EXPECT_EQ(constructed, 0);
}

TEST_F(Rasters, LevelCountAsksTheDeviceOnlyForMipmappedRasters) {
    Raster* plain = RasterCreate(256, 64, 0, RasterTypeTexture);
    Raster* mipped = RasterCreate(256, 64, 0, RasterTypeTexture | RasterFormatMipmap);
    EXPECT_EQ(RasterGetNumLevels(plain), 1);
    EXPECT_EQ(TestDevice::Count(StdRasterGetMipLevels), 0);
    EXPECT_EQ(RasterGetNumLevels(mipped), 9);
    TestDevice::failingSlots.insert(StdRasterGetMipLevels);
    EXPECT_EQ(RasterGetNumLevels(mipped), -1);
    RasterDestroy(plain);
    RasterDestroy(mipped);
}

TEST_F(Rasters, LocksCarryModeAndLevel) {
    Raster* r = RasterCreate(4, 4, 0, RasterTypeTexture);
    uint8* px = RasterLock(r, 2, RasterLockWrite);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(TestDevice::Last(StdRasterLock)->in, 5 + 2 * 256);
    EXPECT_EQ(RasterUnlock(r), r);
    TestDevice::failingSlots.insert(StdRasterLock);
    EXPECT_EQ(RasterLock(r, 0, RasterLockRead), nullptr);

    r->rasterPrivateFlags = 0x1F;
    TestDevice::failingSlots.clear();
    EXPECT_EQ(RasterLockPalette(r, RasterLockRead), nullptr);  // the device gives no palette pointer here
    EXPECT_EQ(RasterUnlockPalette(r), r);
    EXPECT_EQ(r->rasterPrivateFlags, 0x07);
    RasterDestroy(r);
}

TEST_F(Rasters, GammaFlagTravelsBetweenImagesAndRasters) {
    Image* image = ImageCreate(2, 2, 32);
    ASSERT_NE(ImageAllocatePixels(image), nullptr);
    image->pixels[0] = 200;
    image->flags |= kImageGammaCorrected;
    Raster* r = RasterCreate(2, 2, 0, RasterTypeNormal);
    ASSERT_EQ(RasterSetFromImage(r, image), r);
    EXPECT_EQ(r->rasterPrivateFlags & kRasterGammaCorrected, kRasterGammaCorrected);

    Image* back = ImageCreate(2, 2, 32);
    ASSERT_NE(ImageAllocatePixels(back), nullptr);
    ASSERT_EQ(ImageSetFromRaster(back, r), back);
    EXPECT_EQ(back->pixels[0], 200);
    EXPECT_EQ(back->flags & kImageGammaCorrected, kImageGammaCorrected);

    TestDevice::failingSlots.insert(StdRasterSetImage);
    Raster* plain = RasterCreate(2, 2, 0, RasterTypeNormal);
    EXPECT_EQ(RasterSetFromImage(plain, image), nullptr);
    EXPECT_EQ(plain->rasterPrivateFlags, 0);
    ImageDestroy(image);
    ImageDestroy(back);
    RasterDestroy(r);
    RasterDestroy(plain);
}

TEST_F(Rasters, SubRastersAreOffsetWithinTheTopLevelRaster) {
    Raster* top = RasterCreate(640, 480, 0, RasterTypeCamera);
    Raster* mid = RasterCreate(0, 0, 0, RasterTypeCamera);
    Raster* inner = RasterCreate(0, 0, 0, RasterTypeCamera);
    EXPECT_EQ(mid->rasterFlags & kRasterDontAllocate, kRasterDontAllocate);
    Rect a{100, 50, 200, 100};
    ASSERT_EQ(RasterSubRaster(mid, top, &a), mid);
    Rect b{10, 5, 20, 10};
    ASSERT_EQ(RasterSubRaster(inner, mid, &b), inner);
    EXPECT_EQ(RasterGetParent(inner), top);
    int16 x = 0, y = 0;
    RasterGetOffset(inner, &x, &y);
    EXPECT_EQ(x, 110);
    EXPECT_EQ(y, 55);
    EXPECT_EQ(RasterGetWidth(inner), 20);
    EXPECT_EQ(RasterGetHeight(inner), 10);
    EXPECT_EQ(RasterGetStride(inner), 640 * 4);
    // A lock of the sub-raster reaches into the parent's pixels.
    uint8* px = RasterLock(inner, 0, RasterLockWrite);
    ASSERT_NE(px, nullptr);
    px[0] = 42;
    RasterUnlock(inner);
    EXPECT_EQ(RasterMemory::storage[top][55 * 640 * 4 + 110 * 4], 42);
    RasterDestroy(inner);
    RasterDestroy(mid);
    RasterDestroy(top);
}

TEST_F(Rasters, TheContextStackHandsEachNewTopToTheDevice) {
    Raster* placeholder = RasterGetCurrentContext();
    ASSERT_NE(placeholder, nullptr);
    EXPECT_EQ(placeholder->rasterFlags, kRasterDontAllocate);
    EXPECT_EQ(placeholder->width, 0);

    Raster* a = RasterCreate(4, 4, 0, RasterTypeCamera);
    Raster* b = RasterCreate(4, 4, 0, RasterTypeCamera);
    ASSERT_EQ(RasterPushContext(a), a);
    ASSERT_EQ(RasterPushContext(b), b);
    EXPECT_EQ(RasterGetCurrentContext(), b);
    EXPECT_EQ(RasterPopContext(), b);
    EXPECT_EQ(TestDevice::Last(StdSetRasterContext)->inOut, a);
    EXPECT_EQ(RasterPopContext(), a);
    EXPECT_EQ(TestDevice::Last(StdSetRasterContext)->inOut, placeholder);

    ErrorLog log;
    EXPECT_EQ(RasterPopContext(), nullptr);  // nothing above the placeholder
    EXPECT_EQ(RasterGetCurrentContext(), placeholder);

    // A refused push leaves the stack alone.
    TestDevice::failingSlots.insert(StdSetRasterContext);
    EXPECT_EQ(RasterPushContext(a), nullptr);
    EXPECT_EQ(RasterGetCurrentContext(), placeholder);
    TestDevice::failingSlots.clear();

    for (int32 i = 0; i < kRasterContextStackSize - 1; ++i) ASSERT_EQ(RasterPushContext(a), a);
    EXPECT_EQ(RasterPushContext(b), nullptr);  // the tenth would overflow
    for (int32 i = 0; i < kRasterContextStackSize - 1; ++i) ASSERT_EQ(RasterPopContext(), a);
    EXPECT_EQ(RasterGetCurrentContext(), placeholder);
    RasterDestroy(a);
    RasterDestroy(b);
}

TEST_F(Rasters, DrawingCallsPassPositionsAndPixelValues) {
    Raster* cam = RasterCreate(64, 64, 0, RasterTypeCamera);
    Raster* sprite = RasterCreate(16, 8, 0, RasterTypeNormal);
    RasterPushContext(cam);
    ASSERT_EQ(RasterRender(sprite, 24, 28), sprite);
    EXPECT_EQ(TestDevice::Last(StdRasterRender)->out, sprite);
    EXPECT_EQ(RasterMemory::lastRect.x, 24);
    EXPECT_EQ(RasterMemory::lastRect.y, 28);
    ASSERT_EQ(RasterClear(0x40404040), cam);
    EXPECT_EQ(TestDevice::Last(StdRasterClear)->in, 0x40404040);
    ASSERT_EQ(RasterShowRaster(cam, nullptr, 0), cam);
    EXPECT_EQ(TestDevice::Last(StdRasterShowRaster)->out, cam);
    TestDevice::failingSlots.insert(StdRasterShowRaster);
    EXPECT_EQ(RasterShowRaster(cam, nullptr, 0), nullptr);
    RasterPopContext();
    RasterDestroy(sprite);
    RasterDestroy(cam);
}

}  // namespace
}  // namespace kv
