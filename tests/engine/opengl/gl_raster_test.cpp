// Rasters on the device: formats, per-level locks of textures, round trips
// of pixels, the frame buffer locked and drawn back.
#include <cstring>

#include "gl_fixture.h"

namespace kv::test {
namespace {

using GlRaster = GlTest;

TEST_F(GlRaster, FormatsByTypeAndDepthBuffer) {
    Raster* cameraRaster = RasterCreate(32, 16, 0, RasterTypeCamera);
    ASSERT_NE(cameraRaster, nullptr);
    EXPECT_EQ(RasterGetFormat(cameraRaster), RasterFormat8888);
    EXPECT_EQ(cameraRaster->depth, 32);
    EXPECT_EQ(cameraRaster->stride, 128);
    RasterDestroy(cameraRaster);

    Raster* z = RasterCreate(32, 16, 0, RasterTypeZBuffer);
    ASSERT_NE(z, nullptr);
    const int32 bits = GlDepthBits();
    EXPECT_EQ(z->depth, bits);
    EXPECT_EQ(RasterGetFormat(z), bits == 16   ? RasterFormatDepth16
                                  : bits == 24 ? RasterFormatDepth24
                                               : RasterFormatDepth32);
    uint8* none = nullptr;
    EXPECT_FALSE(StandardCall(StdRasterLock, &none, z, RasterLockRead));
    RasterDestroy(z);

    Raster* rgb = RasterCreate(10, 4, 0, RasterTypeTexture | RasterFormat888);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb->depth, 24);
    EXPECT_EQ(rgb->stride, 30);
    EXPECT_NE(GlRasterExt(rgb)->textureName, 0u);
    RasterDestroy(rgb);

    ErrorLog log;
    EXPECT_EQ(RasterCreate(8, 8, 0, RasterTypeCamera | RasterFormat888), nullptr);
    EXPECT_EQ(RasterCreate(8, 8, 0, RasterTypeTexture | RasterFormatDepth16), nullptr);
    EXPECT_TRUE(log.Has(0, kErrRasterFormat));

    Raster* empty = RasterCreate(0, 8, 0, RasterTypeTexture);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->rasterFlags, kRasterDontAllocate);
    EXPECT_EQ(empty->stride, 0);
    RasterDestroy(empty);
}

TEST_F(GlRaster, TheCreateFlagsAboveTheTypeAreKeptAsTheRastersFlags) {
    for (int32 flags : {0x08, 0x10, 0x18, 0x40}) {
        Raster* r = RasterCreate(8, 8, 0, RasterTypeTexture | flags | RasterFormat8888);
        ASSERT_NE(r, nullptr) << flags;
        EXPECT_EQ(r->rasterFlags, flags);
        EXPECT_EQ(RasterGetType(r), RasterTypeTexture);
        EXPECT_NE(GlRasterExt(r)->textureName, 0u);
        // Locking adds its own bits beside them and takes only those away.
        ASSERT_NE(RasterLock(r, 0, RasterLockWrite), nullptr);
        EXPECT_EQ(r->rasterFlags, flags | kRasterLockedWrite);
        RasterUnlock(r);
        EXPECT_EQ(r->rasterFlags, flags);
        RasterDestroy(r);
    }
    // 0x80 asks for no storage: there is nothing to lock.
    Raster* bare = RasterCreate(8, 8, 0, RasterTypeCamera | kRasterDontAllocate);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->rasterFlags, kRasterDontAllocate);
    EXPECT_EQ(RasterGetType(bare), RasterTypeCamera);
    EXPECT_EQ(RasterLock(bare, 0, RasterLockRead), nullptr);
    RasterDestroy(bare);
    Raster* texture = RasterCreate(8, 8, 0, RasterTypeTexture | kRasterDontAllocate);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->rasterFlags, kRasterDontAllocate);
    EXPECT_EQ(GlRasterExt(texture)->textureName, 0u);
    RasterDestroy(texture);
}

TEST_F(GlRaster, MipLevelLocks) {
    Raster* t = RasterCreate(64, 32, 0, RasterTypeTexture | RasterFormat8888 | RasterFormatMipmap);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(RasterGetNumLevels(t), 7);
    uint8* p = RasterLock(t, 2, RasterLockWrite);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(t->width, 16);
    EXPECT_EQ(t->height, 8);
    EXPECT_EQ(t->stride, 64);
    EXPECT_EQ(RasterGetNumLevels(t), 7);  // of the raster, not the locked level
    // A second lock while locked is refused.
    EXPECT_EQ(RasterLock(t, 0, RasterLockRead), nullptr);
    ASSERT_NE(RasterUnlock(t), nullptr);
    EXPECT_EQ(t->width, 64);
    EXPECT_EQ(t->stride, 256);

    ASSERT_NE(RasterLock(t, 6, RasterLockWrite), nullptr);
    EXPECT_EQ(t->width, 1);
    EXPECT_EQ(t->height, 1);
    EXPECT_EQ(t->stride, 4);
    RasterUnlock(t);

    ErrorLog log;
    EXPECT_EQ(RasterLock(t, 7, RasterLockRead), nullptr);
    EXPECT_TRUE(log.Has(0, kErrMipLevel));
    EXPECT_EQ(t->width, 64);
    EXPECT_EQ(t->height, 32);
    EXPECT_EQ(t->stride, 256);
    EXPECT_EQ(t->rasterFlags & (kRasterLockedRead | kRasterLockedWrite), 0);
    EXPECT_NE(RasterLock(t, 0, RasterLockRead), nullptr);
    RasterUnlock(t);
    RasterDestroy(t);

    Raster* wide = RasterCreate(256, 64, 0, RasterTypeTexture | RasterFormatMipmap);
    EXPECT_EQ(RasterGetNumLevels(wide), 9);
    RasterDestroy(wide);
}

// Writes a pattern into level 0, unlocks (upload), locks for reading (read
// back from the texture) and compares.
void RoundTrip(Raster* r, int32 bpp) {
    uint8* p = RasterLock(r, 0, RasterLockWrite);
    ASSERT_NE(p, nullptr);
    const int32 w = r->width, h = r->height, stride = r->stride;
    for (int32 y = 0; y < h; ++y) {
        for (int32 x = 0; x < w * bpp; ++x) p[y * stride + x] = static_cast<uint8>(x * 7 + y * 31 + 1);
    }
    ASSERT_NE(RasterUnlock(r), nullptr);
    const uint8* q = RasterLock(r, 0, RasterLockRead);
    ASSERT_NE(q, nullptr);
    for (int32 y = 0; y < h; ++y) {
        for (int32 x = 0; x < w * bpp; ++x) {
            ASSERT_EQ(q[y * stride + x], static_cast<uint8>(x * 7 + y * 31 + 1)) << x << "," << y;
        }
    }
    RasterUnlock(r);
}

TEST_F(GlRaster, PixelsSurviveTheTextureBothFormatsAndPaddedNormalRasters) {
    Raster* rgba = RasterCreate(16, 8, 0, RasterTypeTexture | RasterFormat8888);
    Raster* rgb = RasterCreate(8, 4, 0, RasterTypeTexture | RasterFormat888);
    // A normal raster's texture is padded to powers of two; its rows are not.
    Raster* normal = RasterCreate(10, 6, 0, RasterTypeNormal);
    ASSERT_TRUE(rgba && rgb && normal);
    RoundTrip(rgba, 4);
    RoundTrip(rgb, 3);
    RoundTrip(normal, 4);
    GLint w = 0;
    gl.BindTexture(GL_TEXTURE_2D, GlRasterExt(normal)->textureName);
    gl.GetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    EXPECT_EQ(w, 16);
    gl.BindTexture(GL_TEXTURE_2D, 0);
    for (Raster* r : {rgba, rgb, normal}) RasterDestroy(r);
}

TEST_F(GlRaster, TextureFormatForAnImage) {
    Image* image = ImageCreate(100, 60, 32);
    ASSERT_NE(image, nullptr);
    ASSERT_NE(ImageAllocatePixels(image), nullptr);
    for (int32 y = 0; y < 60; ++y) {
        for (int32 x = 0; x < 100; ++x) {
            uint8* px = image->pixels + y * image->stride + x * 4;
            px[0] = static_cast<uint8>(x);
            px[1] = static_cast<uint8>(y);
            px[2] = 200;
            px[3] = 255;
        }
    }
    int32 w = 0, h = 0, d = 0, flags = 0;
    ASSERT_NE(ImageFindRasterFormat(image, RasterTypeTexture | RasterFormatMipmap, &w, &h, &d, &flags), nullptr);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 32);
    EXPECT_EQ(d, 24);
    EXPECT_EQ(flags, RasterTypeTexture | RasterFormat888 | RasterFormatMipmap);

    // One pixel below full alpha makes it 8888.
    image->pixels[59 * image->stride + 99 * 4 + 3] = 254;
    ASSERT_NE(ImageFindRasterFormat(image, RasterTypeTexture, &w, &h, &d, &flags), nullptr);
    EXPECT_EQ(flags, RasterTypeTexture | RasterFormat8888);
    EXPECT_EQ(d, 32);
    // A normal raster keeps the image's size.
    ASSERT_NE(ImageFindRasterFormat(image, RasterTypeNormal, &w, &h, &d, &flags), nullptr);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 60);

    // Into an 888 texture of the found size, and out again.
    Raster* t = RasterCreate(64, 32, 0, RasterTypeTexture | RasterFormat888);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(RasterSetFromImage(t, image), nullptr);
    Image* out = ImageCreate(64, 32, 32);
    ASSERT_NE(ImageAllocatePixels(out), nullptr);
    ASSERT_NE(ImageSetFromRaster(out, t), nullptr);
    const uint8* px = out->pixels + 20 * out->stride + 40 * 4;
    EXPECT_EQ(px[0], 40);
    EXPECT_EQ(px[1], 20);
    EXPECT_EQ(px[2], 200);
    EXPECT_EQ(px[3], 255);
    // An image too small for the raster is refused.
    Image* small = ImageCreate(8, 8, 32);
    ImageAllocatePixels(small);
    EXPECT_EQ(ImageSetFromRaster(small, t), nullptr);
    for (Image* i : {image, out, small}) ImageDestroy(i);
    RasterDestroy(t);
}

TEST_F(GlRaster, PalettedImageGoesThroughItsPalette) {
    Image* image = ImageCreate(4, 2, 8);
    ASSERT_NE(ImageAllocatePixels(image), nullptr);
    std::memset(image->palette, 0, 256 * 4);
    image->palette[3] = RGBA{10, 20, 30, 255};
    image->palette[9] = RGBA{90, 80, 70, 128};
    for (int32 i = 0; i < 8; ++i) image->pixels[(i / 4) * image->stride + i % 4] = static_cast<uint8>(i % 2 ? 9 : 3);
    Raster* t = RasterCreate(4, 2, 0, RasterTypeTexture | RasterFormat8888);
    ASSERT_NE(RasterSetFromImage(t, image), nullptr);
    const uint8* p = RasterLock(t, 0, RasterLockRead);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 10);
    EXPECT_EQ(p[4 + 3], 128);
    EXPECT_EQ(p[t->stride + 4 * 3], 90);
    RasterUnlock(t);
    RasterDestroy(t);
    ImageDestroy(image);
}

TEST_F(GlRaster, CameraRasterLockedForReadingLeavesThePictureAsItWas) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    const RGBA background{30, 60, 90, 255};
    ASSERT_NE(CameraClear(camera, &background, ClearImage | ClearZ), nullptr);
    // Something that is not uniform: a sub-raster cleared to another colour.
    Rect inner{200, 100, 50, 40};
    sub = RasterCreate(0, 0, 0, RasterTypeCamera);
    ASSERT_NE(RasterSubRaster(sub, colour, &inner), nullptr);
    CameraSetRaster(camera, sub);
    const RGBA red{250, 10, 10, 255};
    ASSERT_NE(CameraClear(camera, &red, ClearImage), nullptr);
    CameraSetRaster(camera, colour);
    const std::vector<uint8> before = Picture();

    const uint8* p = RasterLock(colour, 0, RasterLockRead);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(colour->stride, kWidth * 4);
    // Top row first.
    EXPECT_EQ(p[0], 30);
    EXPECT_EQ(p[100 * colour->stride + 200 * 4], 250);
    EXPECT_EQ(p[99 * colour->stride + 200 * 4], 30);
    // The sub-raster shares the copy.
    const uint8* q = RasterLock(sub, 0, RasterLockRead);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q, p + 100 * colour->stride + 200 * 4);
    EXPECT_EQ(GlRasterExt(colour)->lockCount, 2);
    RasterUnlock(sub);
    RasterUnlock(colour);
    EXPECT_EQ(GlRasterExt(colour)->sharedPixels, nullptr);
    EXPECT_EQ(Picture(), before);
}

TEST_F(GlRaster, CameraRasterWrittenThroughALock) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    const RGBA black{0, 0, 0, 255};
    ASSERT_NE(CameraClear(camera, &black, ClearImage), nullptr);
    uint8* p = RasterLock(colour, 0, RasterLockWrite);
    ASSERT_NE(p, nullptr);
    uint8* px = p + 10 * colour->stride + 20 * 4;
    px[0] = 255;
    px[1] = 128;
    px[2] = 0;
    RasterUnlock(colour);
    EXPECT_TRUE(SameColour(Pixel(20, 10), RGBA{255, 128, 0, 255}));
    EXPECT_TRUE(SameColour(Pixel(21, 10), black));
    EXPECT_TRUE(SameColour(Pixel(20, 11), black));
}

TEST_F(GlRaster, ClearingRasterContexts) {
    Raster* t = RasterCreate(8, 8, 0, RasterTypeTexture | RasterFormat888);
    ASSERT_NE(RasterPushContext(t), nullptr);
    ASSERT_NE(RasterClear(static_cast<int32>(0x10203040u)), nullptr);
    Rect r{2, 2, 3, 100};  // clipped to the raster
    ASSERT_NE(RasterClearRect(&r, static_cast<int32>(0xA0B0C0FFu)), nullptr);
    RasterPopContext();
    const uint8* p = RasterLock(t, 0, RasterLockRead);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0x10);
    EXPECT_EQ(p[2], 0x30);
    EXPECT_EQ(p[7 * t->stride + 2 * 3], 0xA0);
    EXPECT_EQ(p[7 * t->stride + 5 * 3], 0x10);
    RasterUnlock(t);
    RasterDestroy(t);

    // A camera raster's rectangle is scissored; the clear colour comes back.
    ASSERT_NE(MakeWindowCamera(), nullptr);
    const RGBA grey{64, 64, 64, 255};
    ASSERT_NE(CameraClear(camera, &grey, ClearImage), nullptr);
    ASSERT_NE(RasterPushContext(colour), nullptr);
    Rect box{10, 20, 4, 4};
    ASSERT_NE(RasterClearRect(&box, static_cast<int32>(0x00FF00FFu)), nullptr);
    RasterPopContext();
    EXPECT_TRUE(SameColour(Pixel(10, 20), RGBA{0, 255, 0, 255}));
    EXPECT_TRUE(SameColour(Pixel(13, 23), RGBA{0, 255, 0, 255}));
    EXPECT_TRUE(SameColour(Pixel(14, 23), grey));
    EXPECT_TRUE(SameColour(Pixel(10, 19), grey));
    EXPECT_FALSE(gl.IsEnabled(GL_SCISSOR_TEST));
    ASSERT_NE(CameraClear(camera, &grey, ClearImage), nullptr);
    EXPECT_TRUE(SameColour(Pixel(10, 20), grey));
}

}  // namespace
}  // namespace kv::test
