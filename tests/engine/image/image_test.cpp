#include "engine/image/image.h"

#include <gtest/gtest.h>

#include <vector>

#include "error_log.h"
#include "raster_memory.h"

namespace kv {
namespace {

using test::ErrorLog;
using test::TestDevice;

class Images : public test::RasterMemoryTest {
  protected:
    Image* Make(int32 w, int32 h, int32 depth) {
        Image* image = ImageCreate(w, h, depth);
        EXPECT_NE(image, nullptr);
        EXPECT_NE(ImageAllocatePixels(image), nullptr);
        made.push_back(image);
        return image;
    }
    void TearDown() override {
        for (Image* i : made) ImageDestroy(i);
        test::RasterMemoryTest::TearDown();
    }
    static RGBA& Px(Image* image, int32 x, int32 y) {
        return reinterpret_cast<RGBA*>(image->pixels + y * image->stride)[x];
    }
    std::vector<Image*> made;
};

TEST_F(Images, PixelsAndPaletteShareOneAllocationWithAlignedRows) {
    Image* i8 = Make(3, 2, 8);
    EXPECT_EQ(i8->stride, 4);
    EXPECT_EQ(reinterpret_cast<uint8*>(i8->palette), i8->pixels + 8);
    EXPECT_EQ(i8->flags & kImageOwnsPixels, kImageOwnsPixels);
    // Writing the whole 1 KB palette must stay inside the allocation (the
    // sanitizer build checks this).
    for (int32 i = 0; i < 256; ++i) i8->palette[i] = RGBA{1, 2, 3, 4};

    Image* i4 = Make(3, 2, 4);
    EXPECT_EQ(i4->stride, 4);
    EXPECT_EQ(reinterpret_cast<uint8*>(i4->palette), i4->pixels + 8);
    for (int32 i = 0; i < 16; ++i) i4->palette[i] = RGBA{1, 2, 3, 4};

    Image* i32 = Make(3, 2, 32);
    EXPECT_EQ(i32->stride, 12);
    EXPECT_EQ(i32->palette, nullptr);

    ImageFreePixels(i8);
    EXPECT_EQ(i8->pixels, nullptr);
    EXPECT_EQ(i8->palette, nullptr);
    EXPECT_EQ(i8->flags & kImageOwnsPixels, 0);
}

TEST_F(Images, ForeignPixelsAreNeitherOwnedNorFreed) {
    uint8 pixels[16] = {};
    Image* image = ImageCreate(2, 2, 32);
    ASSERT_NE(image, nullptr);
    ImageSetStride(image, 8);
    ImageSetPixels(image, pixels);
    EXPECT_EQ(image->flags & kImageOwnsPixels, 0);
    EXPECT_TRUE(ImageDestroy(image));  // would be a bad free otherwise
}

TEST_F(Images, CopyConvertsPalettedDepthsAndRefusesTheRest) {
    Image* p4 = Make(2, 1, 4);
    p4->pixels[0] = 1;
    p4->pixels[1] = 15;
    for (int32 i = 0; i < 16; ++i) p4->palette[i] = RGBA{uint8(i * 10), 0, 0, 255};

    Image* p8 = Make(2, 1, 8);
    ASSERT_NE(ImageCopy(p8, p4), nullptr);
    EXPECT_EQ(p8->pixels[0], 1);
    EXPECT_EQ(p8->pixels[1], 15);

    Image* rgba = Make(2, 1, 32);
    ASSERT_NE(ImageCopy(rgba, p4), nullptr);
    EXPECT_EQ(Px(rgba, 0, 0), (RGBA{10, 0, 0, 255}));
    EXPECT_EQ(Px(rgba, 1, 0), (RGBA{150, 0, 0, 255}));

    Image* same = Make(2, 1, 4);
    ASSERT_NE(ImageCopy(same, p4), nullptr);
    EXPECT_EQ(same->palette[15], (RGBA{150, 0, 0, 255}));

    ErrorLog log;
    EXPECT_EQ(ImageCopy(p8, rgba), nullptr);
    EXPECT_TRUE(log.Has(0, kErrConvertDepth));
}

TEST_F(Images, MasksTakeTheBrightestChannelAsAlpha) {
    Image* mask = Make(2, 1, 8);
    mask->pixels[0] = 0;
    mask->pixels[1] = 1;
    for (int32 i = 0; i < 256; ++i) mask->palette[i] = RGBA{0, 0, 0, 255};
    mask->palette[0] = RGBA{10, 200, 30, 0};
    mask->palette[1] = RGBA{0, 0, 77, 0};
    ImageMakeMask(mask);
    EXPECT_EQ(mask->palette[0].alpha, 200);
    EXPECT_EQ(mask->palette[1].alpha, 77);
    EXPECT_EQ(mask->palette[2].alpha, 0);  // every entry, used or not

    // An 8-bit picture becomes 32-bit with its palette colours and the
    // mask's alpha.
    Image* picture = Make(2, 1, 8);
    picture->pixels[0] = 5;
    picture->pixels[1] = 6;
    picture->palette[5] = RGBA{1, 2, 3, 4};
    picture->palette[6] = RGBA{9, 8, 7, 6};
    ASSERT_EQ(ImageApplyMask(picture, mask), picture);
    EXPECT_EQ(picture->depth, 32);
    EXPECT_EQ(picture->palette, nullptr);
    EXPECT_EQ(Px(picture, 0, 0), (RGBA{1, 2, 3, 200}));
    EXPECT_EQ(Px(picture, 1, 0), (RGBA{9, 8, 7, 77}));

    // A 32-bit mask lends its pixels' alpha.
    Image* mask32 = Make(2, 1, 32);
    Px(mask32, 0, 0) = RGBA{255, 0, 0, 0};
    Px(mask32, 1, 0) = RGBA{0, 0, 0, 0};
    ImageMakeMask(mask32);
    ASSERT_EQ(ImageApplyMask(picture, mask32), picture);
    EXPECT_EQ(Px(picture, 0, 0), (RGBA{1, 2, 3, 255}));
    EXPECT_EQ(Px(picture, 1, 0), (RGBA{9, 8, 7, 0}));
}

TEST_F(Images, AMaskSmallerThanThePictureIsRefusedAndChangesNothing) {
    Image* picture = Make(4, 4, 8);
    Image* mask = Make(2, 2, 32);
    ErrorLog log;
    EXPECT_EQ(ImageApplyMask(picture, mask), nullptr);
    EXPECT_EQ(picture->depth, 8);
    EXPECT_NE(picture->palette, nullptr);
}

TEST_F(Images, GammaTablesFollowTheExponent) {
    const uint8* g = ImageGetGammaTable();
    const uint8* inv = ImageGetInverseGammaTable();
    for (int32 i = 0; i < 256; ++i) {
        ASSERT_EQ(g[i], i);
        ASSERT_EQ(inv[i], i);
    }
    ASSERT_TRUE(ImageSetGamma(2.0f));
    EXPECT_EQ(g[128], 181);
    EXPECT_EQ(inv[128], 64);
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(g[255], 255);
    EXPECT_EQ(inv[255], 255);

    ErrorLog log;
    EXPECT_FALSE(ImageSetGamma(0.0f));
    EXPECT_EQ(g[128], 181);  // the last good tables stay
}

TEST_F(Images, GammaCorrectionGoesThroughTheTableEachTime) {
    ASSERT_TRUE(ImageSetGamma(2.0f));
    Image* rgba = Make(1, 1, 32);
    Px(rgba, 0, 0) = RGBA{128, 0, 255, 128};
    ASSERT_NE(ImageGammaCorrect(rgba), nullptr);
    EXPECT_EQ(Px(rgba, 0, 0), (RGBA{181, 0, 255, 128}));  // alpha untouched
    EXPECT_EQ(rgba->flags & kImageGammaCorrected, kImageGammaCorrected);
    ImageGammaCorrect(rgba);
    EXPECT_EQ(Px(rgba, 0, 0).red, ImageGetGammaTable()[181]);

    Image* pal = Make(1, 1, 8);
    pal->palette[255] = RGBA{128, 128, 128, 7};
    ASSERT_NE(ImageGammaCorrect(pal), nullptr);
    EXPECT_EQ(pal->palette[255], (RGBA{181, 181, 181, 7}));

    ErrorLog log;
    Image* bare = ImageCreate(1, 1, 8);
    made.push_back(bare);
    EXPECT_EQ(ImageGammaCorrect(bare), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
    Image* odd = Make(1, 1, 16);
    EXPECT_EQ(ImageGammaCorrect(odd), nullptr);
    EXPECT_TRUE(log.Has(0, kErrFileDepth));
}

TEST_F(Images, EngineStartTakesTheDeviceGamma) {
    EngineStop();
    TestDevice::record.gammaCorrection = 2.0f;
    EngineClose();
    EngineOpenParams p{this};
    ASSERT_TRUE(EngineOpen(&p));
    ASSERT_TRUE(EngineStart());
    EXPECT_FLOAT_EQ(ImageGetGamma(), 2.0f);
    EXPECT_EQ(ImageGetGammaTable()[128], 181);
}

TEST_F(Images, ResampleAveragesByCoveredArea) {
    Image* two = Make(2, 1, 32);
    Px(two, 0, 0) = RGBA{0, 0, 0, 255};
    Px(two, 1, 0) = RGBA{255, 255, 255, 255};
    two->flags |= kImageGammaCorrected;
    Image* one = Make(1, 1, 32);
    ASSERT_EQ(ImageResample(one, two), one);
    EXPECT_EQ(Px(one, 0, 0), (RGBA{128, 128, 128, 255}));
    EXPECT_EQ(one->flags & kImageGammaCorrected, kImageGammaCorrected);

    // 3 -> 2: the first output pixel covers one whole source pixel and half
    // of the next.
    Image* three = Make(3, 1, 32);
    Px(three, 0, 0) = RGBA{0, 0, 0, 0};
    Px(three, 1, 0) = RGBA{255, 255, 255, 255};
    Px(three, 2, 0) = RGBA{90, 90, 90, 90};
    Image* out = Make(2, 1, 32);
    ASSERT_NE(ImageResample(out, three), nullptr);
    EXPECT_EQ(Px(out, 0, 0).red, 85);   // (0 + 0.5 * 255) / 1.5
    EXPECT_EQ(Px(out, 1, 0).red, 145);  // (0.5 * 255 + 90) / 1.5

    // Upsampling repeats pixels.
    Image* big = Make(4, 2, 32);
    ASSERT_NE(ImageResample(big, two), nullptr);
    EXPECT_EQ(Px(big, 1, 1), (RGBA{0, 0, 0, 255}));
    EXPECT_EQ(Px(big, 2, 0), (RGBA{255, 255, 255, 255}));
}

TEST_F(Images, CreateResampledConvertsPalettedSourcesFirst) {
    Image* pal = Make(2, 2, 8);
    for (int32 i = 0; i < 4; ++i) pal->pixels[(i / 2) * pal->stride + i % 2] = static_cast<uint8>(i);
    for (int32 i = 0; i < 4; ++i) pal->palette[i] = RGBA{uint8(i * 40), 0, 0, 255};
    Image* one = ImageCreateResampled(pal, 1, 1);
    ASSERT_NE(one, nullptr);
    made.push_back(one);
    EXPECT_EQ(one->depth, 32);
    EXPECT_EQ(Px(one, 0, 0), (RGBA{60, 0, 0, 255}));

    ErrorLog log;
    Image* odd = Make(2, 2, 16);
    EXPECT_EQ(ImageCreateResampled(odd, 1, 1), nullptr);
}

TEST_F(Images, RasterFormatComesFromTheDeviceThroughAScratchRaster) {
    Image* image = Make(100, 60, 32);
    int32 w = 0, h = 0, d = 0, flags = 0;
    ASSERT_EQ(ImageFindRasterFormat(image, RasterTypeTexture | RasterFormatMipmap, &w, &h, &d, &flags), image);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 60);
    EXPECT_EQ(d, 24);
    EXPECT_EQ(flags, RasterTypeTexture | RasterFormat888 | RasterFormatMipmap);
    TestDevice::failingSlots.insert(StdImageFindRasterFormat);
    EXPECT_EQ(ImageFindRasterFormat(image, RasterTypeTexture, &w, &h, &d, &flags), nullptr);
}

}  // namespace
}  // namespace kv
