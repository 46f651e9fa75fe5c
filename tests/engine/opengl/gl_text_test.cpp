// On-screen text drawn by OpenGL and read back: every pixel of a glyph where
// the font puts it, nothing between glyphs, cut cells at the raster's edges,
// and spaces as a bar in an opaque background. The logo in the corner.
#include "engine/image/charset.h"
#include "engine/image/png_write.h"
#include "engine/world/logo.h"
#include "gl_fixture.h"

namespace kv::test {
namespace {

constexpr RGBA kGround{20, 20, 20, 255}, kInk{255, 255, 255, 255}, kClear{0, 0, 90, 0}, kBar{0, 0, 160, 255};

class GlText : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_TRUE(CharsetOpen());
        ASSERT_NE(MakeWindowCamera(), nullptr);
        ASSERT_NE(CameraClear(camera, &kGround, ClearImage | ClearZ), nullptr);
        ASSERT_NE(CameraBeginUpdate(camera), nullptr);
        text = CharsetCreate(&kInk, &kClear);
        bar = CharsetCreate(&kInk, &kBar);
        ASSERT_NE(text, nullptr);
        ASSERT_NE(bar, nullptr);
    }
    void TearDown() override {
        if (text != nullptr) CharsetDestroy(text);
        if (bar != nullptr) CharsetDestroy(bar);
        CharsetClose();
        GlTest::TearDown();
    }
    // The glyph of c drawn at (x, y): its set pixels in ink, the rest of its
    // cell showing what is under it. Columns and rows outside [x0, x1) x
    // [y0, y1) of the cell are not looked at.
    static int32 Mismatches(char c, int32 x, int32 y, RGBA under, int32 x0 = 0, int32 x1 = 8, int32 y0 = 0,
                            int32 y1 = 14) {
        const uint8* g = CharsetGlyph(c);
        int32 bad = 0;
        for (int32 j = y0; j < y1; ++j) {
            for (int32 i = x0; i < x1; ++i) {
                const bool on = ((g[j] >> i) & 1) != 0;
                if (!SameColour(Pixel(x + i, y + j), on ? kInk : under)) ++bad;
            }
        }
        return bad;
    }
    Raster* text = nullptr;
    Raster* bar = nullptr;
};

TEST_F(GlText, GlyphsLandPixelForPixelWithNothingBetweenThem) {
    const char* line = "0A@Wm%gjz";
    ASSERT_EQ(CharsetPrintBuffered(text, line, 10, 20, false), text);
    ASSERT_TRUE(CharsetFlush());
    for (int32 i = 0; line[i] != '\0'; ++i) EXPECT_EQ(Mismatches(line[i], 10 + 8 * i, 20, kGround), 0) << line[i];
    // The row above and below and the column before and after stay clear.
    for (int32 x = 9; x <= 10 + 8 * 9; ++x) {
        EXPECT_TRUE(SameColour(Pixel(x, 19), kGround)) << x;
        EXPECT_TRUE(SameColour(Pixel(x, 34), kGround)) << x;
    }
    for (int32 y = 20; y < 34; ++y) EXPECT_TRUE(SameColour(Pixel(9, y), kGround));

    // The same through CharsetPrint at odd positions.
    ASSERT_EQ(CharsetPrint(text, "0A", 301, 77), text);
    EXPECT_EQ(Mismatches('0', 301, 77, kGround), 0);
    EXPECT_EQ(Mismatches('A', 309, 77, kGround), 0);
}

TEST_F(GlText, CutCellsShowTheirPartOfTheGlyph) {
    // Left edge: 'M' from x = -4 shows its columns 4 to 7 in columns 0 to 3.
    CharsetPrintBuffered(text, "MM", -4, 100, false);
    // Bottom and right edges: from y = H - 5 only the glyph's top rows, from
    // x = W - 3 its left columns; the raster's last row and column included.
    CharsetPrintBuffered(text, "0", 200, kHeight - 5, false);
    CharsetPrintBuffered(text, "W", kWidth - 3, 300, false);
    CharsetFlush();
    EXPECT_EQ(Mismatches('M', -4, 100, kGround, 4, 8), 0);
    EXPECT_EQ(Mismatches('M', 4, 100, kGround), 0);
    EXPECT_EQ(Mismatches('0', 200, kHeight - 5, kGround, 0, 8, 0, 5), 0);
    EXPECT_EQ(Mismatches('W', kWidth - 3, 300, kGround, 0, 3), 0);
}

TEST_F(GlText, SpacesInAnOpaqueBackgroundMakeABarAndAreInvisibleOtherwise) {
    CharsetPrintBuffered(bar, "a  b", 40, 60, true);
    CharsetPrintBuffered(text, "a  b", 40, 90, true);
    CharsetFlush();
    EXPECT_EQ(Mismatches('a', 40, 60, kBar), 0);
    EXPECT_EQ(Mismatches(' ', 48, 60, kBar), 0);
    EXPECT_EQ(Mismatches(' ', 56, 60, kBar), 0);
    EXPECT_EQ(Mismatches('b', 64, 60, kBar), 0);
    EXPECT_EQ(Mismatches(' ', 48, 90, kGround), 0);
    EXPECT_EQ(Mismatches('b', 64, 90, kGround), 0);
    // The bar ends with the last cell.
    EXPECT_TRUE(SameColour(Pixel(72, 65), kGround));
    EXPECT_TRUE(SameColour(Pixel(39, 65), kGround));

    // A look at it: text, bar, and the cut cells.
    CharsetPrintBuffered(text, "The quick brown fox jumps over the lazy dog: 0123456789 (more)", 16, 140, false);
    CharsetPrintBuffered(bar, " Exposure                0.10 ", 16, 160, true);
    CharsetFlush();
    EXPECT_TRUE(RasterWritePNG(colour, "gl_text.png"));
}

class GlLogo : public GlText {
  protected:
    void BeforeOpen() override { ASSERT_TRUE(LogoPluginAttach()); }
};

TEST_F(GlLogo, TheLogoIsDrawnInTheCornerOverThePictureAtTheEndUpdate) {
    const V2d view{0.5f, 0.375f};
    CameraSetViewWindow(camera, &view);
    CharsetPrintBuffered(text, "Text and the logo", 16, 16, false);
    CharsetFlush();
    EXPECT_EQ(LogoSetCamera(camera, 1), 0);
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    LogoRect r{};
    ASSERT_TRUE(LogoGetRect(&r));
    EXPECT_EQ(r.x, 5);
    EXPECT_EQ(r.y, 435);
    // Something of the picture inside the rectangle, the clear colour where
    // the picture is transparent and all round it.
    int32 covered = 0;
    for (int32 y = r.y; y < r.y + r.height; ++y) {
        for (int32 x = r.x; x < r.x + r.width; ++x) covered += SameColour(Pixel(x, y), kGround) ? 0 : 1;
    }
    EXPECT_GT(covered, r.width * r.height / 5);
    EXPECT_LT(covered, r.width * r.height);
    for (int32 x = 0; x < 80; ++x) {
        EXPECT_TRUE(SameColour(Pixel(x, r.y - 1), kGround)) << x;
        EXPECT_TRUE(SameColour(Pixel(x, r.y + r.height), kGround)) << x;
    }
    for (int32 y = 420; y < kHeight; ++y) {
        EXPECT_TRUE(SameColour(Pixel(r.x - 1, y), kGround)) << y;
        EXPECT_TRUE(SameColour(Pixel(r.x + r.width, y), kGround)) << y;
    }
    EXPECT_EQ(Mismatches('T', 16, 16, kGround), 0) << "the text drawn before is untouched";
    EXPECT_TRUE(RasterWritePNG(colour, "gl_logo.png"));

    // Off again: the next picture has no logo.
    EXPECT_EQ(LogoSetCamera(camera, 0), 1);
    ASSERT_NE(CameraClear(camera, &kGround, ClearImage | ClearZ), nullptr);
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    for (int32 y = r.y; y < r.y + r.height; y += 3) {
        for (int32 x = r.x; x < r.x + r.width; x += 3) ASSERT_TRUE(SameColour(Pixel(x, y), kGround));
    }
}

}  // namespace
}  // namespace kv::test
