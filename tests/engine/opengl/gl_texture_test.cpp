// Textures on the OpenGL device: level copies of every size, pictures put in
// through palettes and quantised to them, levels that the device builds from
// level 0, and the depth formats a z-buffer raster can be asked for.
#include <cstring>
#include <vector>

#include "engine/image/texture.h"
#include "gl_fixture.h"

namespace kv::test {
namespace {

using GlTexture = GlTest;

Image* NewImage(int32 w, int32 h, int32 depth) {
    Image* image = ImageCreate(w, h, depth);
    EXPECT_NE(image, nullptr);
    EXPECT_NE(ImageAllocatePixels(image), nullptr);
    return image;
}

// Level `level` of a raster's texture as OpenGL holds it, RGBA.
std::vector<uint8> TextureLevel(Raster* r, int32 level, int32* w, int32* h) {
    gl.BindTexture(GL_TEXTURE_2D, GlRasterExt(r)->textureName);
    gl.GetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, w);
    gl.GetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, h);
    std::vector<uint8> out(static_cast<std::size_t>(*w) * *h * 4);
    gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!out.empty()) gl.GetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    GlRestoreTextureBinding();
    return out;
}

RGBA At(const std::vector<uint8>& px, int32 w, int32 x, int32 y) {
    const uint8* p = px.data() + (static_cast<std::size_t>(y) * w + x) * 4;
    return RGBA{p[0], p[1], p[2], p[3]};
}

TEST_F(GlTexture, NormalRastersOfOddSizesKeepEveryLevelTheyWereGiven) {
    // Each level's copy is uploaded as the padded level: the copy must hold
    // what the upload reads, at every level (checked under the sanitizers).
    for (const auto& [w, h] : std::vector<std::pair<int32, int32>>{{65, 65}, {33, 17}, {100, 3}, {5, 70}}) {
        Raster* r = RasterCreate(w, h, 0, RasterTypeNormal);
        ASSERT_NE(r, nullptr);
        for (int32 level = 0; (w >> level) > 0 || (h >> level) > 0; ++level) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " level " << level);
            uint8* p = RasterLock(r, level, RasterLockWrite);
            ASSERT_NE(p, nullptr);
            const int32 lw = r->width, lh = r->height, stride = r->stride;
            EXPECT_EQ(stride, lw * 4);
            for (int32 y = 0; y < lh; ++y) {
                for (int32 x = 0; x < stride; ++x) p[y * stride + x] = static_cast<uint8>(x * 3 + y * 17 + level);
            }
            ASSERT_NE(RasterUnlock(r), nullptr);
            const uint8* q = RasterLock(r, level, RasterLockRead);
            ASSERT_NE(q, nullptr);
            bool same = true;
            for (int32 y = 0; y < lh && same; ++y) {
                for (int32 x = 0; x < stride && same; ++x) {
                    same = q[y * stride + x] == static_cast<uint8>(x * 3 + y * 17 + level);
                }
            }
            EXPECT_TRUE(same);
            RasterUnlock(r);
        }
        EXPECT_EQ(r->width, w);
        RasterDestroy(r);
    }
}

TEST_F(GlTexture, A4BitPictureNamesOnlyItsSixteenEntries) {
    Image* image = NewImage(4, 1, 4);
    for (int32 i = 0; i < 16; ++i) image->palette[i] = RGBA{static_cast<uint8>(i * 16), 7, 9, 255};
    // Bytes with bits above the low four: a reader that left them would
    // index past the 16 entries.
    const uint8 indices[4] = {0x03, 0x13, 0xF5, 0x0F};
    std::memcpy(image->pixels, indices, 4);
    Raster* t = RasterCreate(4, 1, 0, RasterTypeTexture | RasterFormat8888);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(RasterSetFromImage(t, image), nullptr);
    const uint8* p = RasterLock(t, 0, RasterLockRead);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 3 * 16);
    EXPECT_EQ(p[4], 3 * 16);
    EXPECT_EQ(p[8], 5 * 16);
    EXPECT_EQ(p[12], 15 * 16);
    RasterUnlock(t);
    // The format asked for an image looks at the same 16 entries.
    image->palette[3].alpha = 100;
    int32 w = 0, hgt = 0, d = 0, flags = 0;
    ASSERT_NE(ImageFindRasterFormat(image, RasterTypeTexture, &w, &hgt, &d, &flags), nullptr);
    EXPECT_EQ(flags & kRasterFormatPixelMask, RasterFormat8888);
    RasterDestroy(t);
    ImageDestroy(image);
}

TEST_F(GlTexture, AutomaticLevelsAreTheBoxFilteredPicture) {
    // 6 x 3 in three colours, two columns each: level 1 keeps the columns,
    // level 2 is their mean, all three of them.
    Raster* t =
        RasterCreate(6, 3, 0, RasterTypeTexture | RasterFormat8888 | RasterFormatMipmap | RasterFormatAutoMipmap);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(RasterGetNumLevels(t), 3);
    uint8* p = RasterLock(t, 0, RasterLockWrite);
    ASSERT_NE(p, nullptr);
    const RGBA colours[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    for (int32 y = 0; y < 3; ++y) {
        for (int32 x = 0; x < 6; ++x) std::memcpy(p + y * t->stride + 4 * x, &colours[x / 2], 4);
    }
    ASSERT_NE(RasterUnlock(t), nullptr);
    EXPECT_EQ(RasterGetFormat(t) & RasterFormatAutoMipmap, RasterFormatAutoMipmap);

    int32 w = 0, h = 0;
    const std::vector<uint8> level1 = TextureLevel(t, 1, &w, &h);
    ASSERT_EQ(w, 3);
    ASSERT_EQ(h, 1);
    for (int32 x = 0; x < 3; ++x) EXPECT_TRUE(SameColour(At(level1, w, x, 0), colours[x])) << x;
    const std::vector<uint8> level2 = TextureLevel(t, 2, &w, &h);
    ASSERT_EQ(w, 1);
    EXPECT_TRUE(SameColour(At(level2, w, 0, 0), RGBA{85, 85, 85, 255}));
    // Level 0 stays as it was written.
    const std::vector<uint8> level0 = TextureLevel(t, 0, &w, &h);
    EXPECT_TRUE(SameColour(At(level0, w, 5, 2), colours[2]));
    RasterDestroy(t);
}

TEST_F(GlTexture, APaletteRasterQuantisesAPictureOfAnotherDepth) {
    Image* image = NewImage(8, 4, 32);
    const RGBA colours[3] = {{200, 30, 30, 255}, {30, 200, 30, 255}, {30, 30, 200, 128}};
    for (int32 y = 0; y < 4; ++y) {
        for (int32 x = 0; x < 8; ++x) std::memcpy(image->pixels + y * image->stride + 4 * x, &colours[(x + y) % 3], 4);
    }
    for (int32 format : {RasterFormatPal8, RasterFormatPal4}) {
        SCOPED_TRACE(format);
        Raster* t = RasterCreate(8, 4, 0, RasterTypeTexture | RasterFormat8888 | format);
        ASSERT_NE(t, nullptr);
        ASSERT_NE(RasterSetFromImage(t, image), nullptr);
        EXPECT_EQ(t->rasterPrivateFlags & kRasterPaletteLockMask, 0);
        // The colours reach OpenGL through the palette made for them.
        int32 w = 0, h = 0;
        const std::vector<uint8> level0 = TextureLevel(t, 0, &w, &h);
        for (int32 y = 0; y < 4; ++y) {
            for (int32 x = 0; x < 8; ++x) {
                const RGBA want = colours[(x + y) % 3];
                const RGBA got = At(level0, w, x, y);
                EXPECT_TRUE(SameColour(got, want) && got.alpha == want.alpha) << x << "," << y;
            }
        }
        // A picture with a palette of the raster's own size goes in as it is.
        Image* indexed = NewImage(8, 4, format == RasterFormatPal4 ? 4 : 8);
        std::memset(indexed->pixels, 1, static_cast<std::size_t>(indexed->stride) * 4);
        indexed->palette[1] = RGBA{1, 2, 3, 255};
        ASSERT_NE(RasterSetFromImage(t, indexed), nullptr);
        EXPECT_TRUE(SameColour(At(TextureLevel(t, 0, &w, &h), w, 7, 3), RGBA{1, 2, 3, 255}));
        ImageDestroy(indexed);
        RasterDestroy(t);
    }
    ImageDestroy(image);
}

TEST_F(GlTexture, AutomaticLevelsOfAPaletteRasterShareItsPalette) {
    Raster* t = RasterCreate(
        8, 8, 0, RasterTypeTexture | RasterFormat8888 | RasterFormatPal8 | RasterFormatMipmap | RasterFormatAutoMipmap);
    ASSERT_NE(t, nullptr);
    Image* image = NewImage(8, 8, 32);
    for (int32 y = 0; y < 8; ++y) {
        for (int32 x = 0; x < 8; ++x) {
            const RGBA c = x < 4 ? RGBA{240, 0, 0, 255} : RGBA{0, 0, 240, 255};
            std::memcpy(image->pixels + y * image->stride + 4 * x, &c, 4);
        }
    }
    ASSERT_NE(RasterSetFromImage(t, image), nullptr);
    int32 w = 0, h = 0;
    const std::vector<uint8> level1 = TextureLevel(t, 1, &w, &h);
    ASSERT_EQ(w, 4);
    EXPECT_TRUE(SameColour(At(level1, w, 0, 0), RGBA{240, 0, 0, 255}));
    EXPECT_TRUE(SameColour(At(level1, w, 3, 3), RGBA{0, 0, 240, 255}));
    // The last level mixes both halves: its colour joins the palette.
    const std::vector<uint8> level3 = TextureLevel(t, 3, &w, &h);
    ASSERT_EQ(w, 1);
    EXPECT_TRUE(SameColour(At(level3, w, 0, 0), RGBA{120, 0, 120, 255}));
    RasterDestroy(t);
    ImageDestroy(image);
}

TEST_F(GlTexture, AZBufferRasterCanBeAskedOnlyForSixteenBitsByName) {
    const int32 bits = GlDepthBits();
    ErrorLog log;
    EXPECT_EQ(RasterCreate(8, 8, 0, RasterTypeZBuffer | RasterFormatDepth24), nullptr);
    EXPECT_EQ(RasterCreate(8, 8, 0, RasterTypeZBuffer | RasterFormatDepth32), nullptr);
    EXPECT_TRUE(log.Has(0, kErrRasterFormat));
    Raster* sixteen = RasterCreate(8, 8, 0, RasterTypeZBuffer | RasterFormatDepth16);
    EXPECT_EQ(sixteen != nullptr, bits == 16);
    RasterDestroy(sixteen);
}

}  // namespace
}  // namespace kv::test
