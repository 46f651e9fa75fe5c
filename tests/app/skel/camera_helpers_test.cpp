#include "app/skel/camera_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/frame/frame.h"
#include "raster_memory.h"

namespace kv {
namespace {

using test::RasterMemory;
using test::TestDevice;

class CameraHelpers : public test::RasterMemoryTest {
  protected:
    void SetUp() override {
        CameraResizeForget();
        test::RasterMemoryTest::SetUp();
    }
    void TearDown() override {
        CameraDestroyWithRasters(camera);
        test::RasterMemoryTest::TearDown();
    }
    void Make(int32 w, int32 h) {
        camera = CameraCreateWithRasters(w, h, true);
        ASSERT_NE(camera, nullptr);
    }
    Camera* camera = nullptr;
};

TEST_F(CameraHelpers, CreateMakesFrameAndBothRastersAndDestroyRemovesThem) {
    Make(320, 200);
    ASSERT_NE(CameraGetFrame(camera), nullptr);
    Raster* colour = CameraGetRaster(camera);
    Raster* depth = CameraGetZRaster(camera);
    ASSERT_NE(colour, nullptr);
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(RasterGetType(colour), RasterTypeCamera);
    EXPECT_EQ(RasterGetType(depth), RasterTypeZBuffer);
    EXPECT_EQ(RasterGetWidth(depth), 320);
    CameraDestroyWithRasters(camera);
    camera = nullptr;
    EXPECT_TRUE(RasterMemory::storage.empty());
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), 2);
    CameraDestroyWithRasters(nullptr);

    Camera* plain = CameraCreateWithRasters(8, 8, false);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(CameraGetZRaster(plain), nullptr);
    CameraDestroyWithRasters(plain);
}

TEST_F(CameraHelpers, AFailedCreateLeavesNothingBehind) {
    RasterMemory::refuseCreate = [](const Raster* r, int32 flags) {
        (void)r;
        return (flags & kRasterTypeMask) == RasterTypeZBuffer;
    };
    EXPECT_EQ(CameraCreateWithRasters(64, 64, true), nullptr);
    EXPECT_TRUE(RasterMemory::storage.empty());
    EXPECT_EQ(TestDevice::Count(StdRasterDestroy), 1);  // the colour raster
}

TEST_F(CameraHelpers, ResizeGivesTheLargerSideTheViewWindow) {
    Make(640, 480);
    ResizeRecord wide{0, 0, 800, 600};
    CameraResizeRasters(camera, &wide, 0.5f, 4.0f / 3.0f);
    EXPECT_EQ(RasterGetWidth(CameraGetRaster(camera)), 800);
    EXPECT_EQ(RasterGetHeight(CameraGetZRaster(camera)), 600);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->x, 0.5f);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->y, 0.375f);

    ResizeRecord tall{0, 0, 600, 800};
    CameraResizeRasters(camera, &tall, 0.5f, 4.0f / 3.0f);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->x, 0.375f);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->y, 0.5f);
    EXPECT_EQ(RasterMemory::storage.size(), 2u);  // the old rasters are gone

    // A collapsed window changes nothing.
    ResizeRecord none{0, 0, 0, 600};
    Raster* before = CameraGetRaster(camera);
    CameraResizeRasters(camera, &none, 0.5f, 4.0f / 3.0f);
    EXPECT_EQ(CameraGetRaster(camera), before);
    CameraResizeRasters(nullptr, &wide, 0.5f, 1.0f);
}

TEST_F(CameraHelpers, FullScreenModesKeepTheModeSize) {
    TestDevice::UseModes({{640, 480, 32, 0}, {1024, 768, 32, kVideoModeFullScreen}}, 1);
    Make(640, 480);
    ResizeRecord window{0, 0, 300, 200};
    CameraResizeRasters(camera, &window, 0.5f, 4.0f / 3.0f);
    EXPECT_EQ(window.width, 1024);
    EXPECT_EQ(window.height, 768);
    EXPECT_EQ(RasterGetWidth(CameraGetRaster(camera)), 1024);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->x, 0.5f);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->y, 0.375f);
}

TEST_F(CameraHelpers, AFailedResizeFallsBackToTheFirstSize) {
    Make(640, 480);
    ResizeRecord ok{0, 0, 800, 600};
    CameraResizeRasters(camera, &ok, 0.5f, 4.0f / 3.0f);
    RasterMemory::refuseCreate = [](const Raster* r, int32) { return r->width > 2000; };
    ResizeRecord huge{0, 0, 4000, 3000};
    CameraResizeRasters(camera, &huge, 0.5f, 4.0f / 3.0f);
    EXPECT_EQ(huge.width, 640);
    EXPECT_EQ(huge.height, 480);
    ASSERT_NE(CameraGetRaster(camera), nullptr);
    ASSERT_NE(CameraGetZRaster(camera), nullptr);
    EXPECT_EQ(RasterGetWidth(CameraGetRaster(camera)), 640);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->y, 0.375f);  // left as it was
    EXPECT_EQ(RasterMemory::storage.size(), 2u);

    // Without a record the camera's own size is used.
    CameraResizeRasters(camera, nullptr, 0.5f, 4.0f / 3.0f);
    EXPECT_EQ(RasterGetWidth(CameraGetRaster(camera)), 640);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->y, 0.375f);
}

TEST_F(CameraHelpers, ThePointerIsACrossWithATransparentBorder) {
    Raster* pointer = CameraPointerCreate();
    ASSERT_NE(pointer, nullptr);
    EXPECT_EQ(RasterGetWidth(pointer), 16);
    EXPECT_EQ(RasterGetType(pointer), RasterTypeNormal);
    const std::vector<uint8>& px = RasterMemory::storage[pointer];
    ASSERT_EQ(px.size(), 16u * 16u * 4u);
    EXPECT_EQ(0, std::memcmp(px.data(), CameraPointerPixels(), px.size()));
    auto at = [&](int32 row, int32 col) {
        const uint8* p = &px[static_cast<std::size_t>(row * 16 + col) * 4];
        return (uint32(p[0]) << 24) | (uint32(p[1]) << 16) | (uint32(p[2]) << 8) | p[3];
    };
    for (int32 i = 0; i < 16; ++i) {
        EXPECT_EQ(at(0, i), 0u);
        EXPECT_EQ(at(15, i), 0u);
        EXPECT_EQ(at(i, 0), 0u);
        EXPECT_EQ(at(i, 15), 0u);
    }
    EXPECT_EQ(at(1, 7), 0x404040A0u);
    EXPECT_EQ(at(13, 8), 0x808080E0u);
    EXPECT_EQ(at(4, 9), 0x00000060u);
    EXPECT_EQ(at(7, 3), 0xFFFFFFFFu);
    EXPECT_EQ(at(7, 7), 0x00000060u);
    EXPECT_EQ(at(8, 2), 0x808080E0u);
    EXPECT_EQ(at(8, 3), 0xFFFFFFFFu);
    EXPECT_EQ(at(9, 12), 0x00000060u);
    EXPECT_EQ(at(2, 2), 0u);
    // The two bars mirror each other across the diagonal.
    for (int32 r = 0; r < 16; ++r) {
        for (int32 c = 0; c < 16; ++c) EXPECT_EQ(at(r, c) >> 8 == 0, at(c, r) >> 8 == 0) << r << "," << c;
    }
    RasterDestroy(pointer);

    TestDevice::failingSlots.insert(StdRasterSetImage);
    EXPECT_EQ(CameraPointerCreate(), nullptr);
    EXPECT_TRUE(RasterMemory::storage.empty());
}

}  // namespace
}  // namespace kv
