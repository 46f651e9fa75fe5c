// 2D drawing read back from the frame buffer: primitives with flat and
// Gouraud shading, with and without z, and rasters drawn as sprites.
#include <cstring>
#include <utility>

#include "app/skel/camera_helpers.h"
#include "gl_fixture.h"

namespace kv::test {
namespace {

class GlIm2D : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_NE(MakeWindowCamera(), nullptr);
        ASSERT_NE(CameraClear(camera, &background, ClearImage | ClearZ), nullptr);
        ASSERT_NE(CameraBeginUpdate(camera), nullptr);
        ASSERT_TRUE(RenderStateSet(StateCullMode, 1));
    }
    static Im2DVertex V(float x, float y, RGBA c, float z = 0.0f) {
        Im2DVertex v{};
        v.x = x;
        v.y = y;
        v.z = z;
        v.r = c.red;
        v.g = c.green;
        v.b = c.blue;
        v.a = c.alpha;
        v.tq = 1.0f;
        return v;
    }
    const RGBA background{20, 20, 20, 255};
};

constexpr RGBA kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255}, kWhite{255, 255, 255, 255};

TEST_F(GlIm2D, FlatTriangleListTakesEachThirdVertexColour) {
    ASSERT_TRUE(RenderStateSet(StateShadeMode, 1));
    // Two triangles side by side, each with three different colours.
    Im2DVertex v[6] = {V(10, 10, kRed),   V(10, 110, kGreen), V(110, 10, kBlue),
                       V(200, 10, kBlue), V(200, 110, kRed),  V(300, 10, kWhite)};
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriList, v, 6));
    EXPECT_TRUE(SameColour(Pixel(20, 20), kBlue));
    EXPECT_TRUE(SameColour(Pixel(60, 40), kBlue));
    EXPECT_TRUE(SameColour(Pixel(210, 20), kWhite));
    // Pixels land where the vertices say: row 120 and column 5 are untouched.
    EXPECT_TRUE(SameColour(Pixel(20, 120), background));
    EXPECT_TRUE(SameColour(Pixel(5, 20), background));
    EXPECT_TRUE(SameColour(Pixel(150, 20), background));
}

TEST_F(GlIm2D, GouraudBlendsAndIndexedDrawsTheGivenVertices) {
    Im2DVertex v[4] = {V(0, 0, kRed), V(0, 200, kRed), V(200, 200, kBlue), V(200, 0, kBlue)};
    const uint32 indices[6] = {0, 1, 2, 0, 2, 3};
    ASSERT_TRUE(Im2DRenderIndexedPrimitive(PrimTypeTriList, v, 4, indices, 6));
    const RGBA left = Pixel(2, 100), right = Pixel(197, 100), middle = Pixel(100, 100);
    EXPECT_GT(left.red, 240);
    EXPECT_GT(right.blue, 240);
    EXPECT_GT(middle.red, 100);
    EXPECT_GT(middle.blue, 100);
    // An index past the vertices is refused before anything is drawn.
    const uint32 bad[3] = {0, 1, 4};
    GlLogStart();
    EXPECT_FALSE(Im2DRenderIndexedPrimitive(PrimTypeTriList, v, 4, bad, 3));
    EXPECT_FALSE(Im2DRenderPrimitive(0, v, 4));
    EXPECT_FALSE(Im2DRenderPrimitive(6, v, 4));
    EXPECT_EQ(GlLogSize(), 0);
}

TEST_F(GlIm2D, PositionsCarryZOnlyWhileDepthIsInUse) {
    Im2DVertex v[3] = {V(300, 300, kGreen), V(300, 400, kGreen), V(400, 300, kGreen)};
    GlLogStart();
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriList, v, 3));
    EXPECT_EQ(GlLogCount(GlIndexVertex3fv), 3);
    EXPECT_EQ(GlLogCount(GlIndexVertex2fv), 0);
    ASSERT_TRUE(RenderStateSet(StateZTestEnable, 0));
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriList, v, 3));
    EXPECT_EQ(GlLogCount(GlIndexVertex3fv), 6);  // z write still on
    ASSERT_TRUE(RenderStateSet(StateZWriteEnable, 0));
    GlLogClear();
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriList, v, 3));
    EXPECT_EQ(GlLogCount(GlIndexVertex2fv), 3);
    EXPECT_EQ(GlLogCount(GlIndexVertex3fv), 0);
    EXPECT_EQ(GlLogCount(GlIndexColor3ubv), 3);
    ASSERT_TRUE(RenderStateSet(StateVertexAlphaEnable, 1));
    GlLogClear();
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriList, v, 3));
    EXPECT_EQ(GlLogCount(GlIndexColor4ubv), 3);
    EXPECT_TRUE(SameColour(Pixel(310, 310), kGreen));
}

TEST_F(GlIm2D, DepthOfScreenVerticesIsTested) {
    // Far green first, then a near red square over part of it, then a far
    // blue one that must stay hidden behind the red.
    Im2DVertex far[4] = {V(0, 0, kGreen, -60000), V(0, 100, kGreen, -60000), V(100, 100, kGreen, -60000),
                         V(100, 0, kGreen, -60000)};
    Im2DVertex nearSquare[4] = {V(0, 0, kRed, -10), V(0, 50, kRed, -10), V(50, 50, kRed, -10), V(50, 0, kRed, -10)};
    Im2DVertex hidden[4] = {V(0, 0, kBlue, -30000), V(0, 100, kBlue, -30000), V(100, 100, kBlue, -30000),
                            V(100, 0, kBlue, -30000)};
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriFan, far, 4));
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriFan, nearSquare, 4));
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriFan, hidden, 4));
    EXPECT_TRUE(SameColour(Pixel(25, 25), kRed));
    EXPECT_TRUE(SameColour(Pixel(75, 75), kBlue));
}

TEST_F(GlIm2D, LinesAndFlatStrips) {
    ASSERT_TRUE(RenderStateSet(StateShadeMode, 1));
    Im2DVertex v[2] = {V(10.5f, 300.5f, kRed), V(200.5f, 300.5f, kGreen)};
    ASSERT_TRUE(Im2DRenderLine(v, 2, 0, 1));
    EXPECT_TRUE(SameColour(Pixel(100, 300), kGreen));
    EXPECT_TRUE(SameColour(Pixel(100, 302), background));
    // A strip of 4: two triangles, taking the colours of vertices 2 and 3.
    Im2DVertex s[4] = {V(300, 10, kWhite), V(300, 60, kWhite), V(350, 10, kRed), V(350, 60, kBlue)};
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriStrip, s, 4));
    EXPECT_TRUE(SameColour(Pixel(305, 15), kRed));
    EXPECT_TRUE(SameColour(Pixel(345, 55), kBlue));
}

TEST_F(GlIm2D, TexturedQuadModulatesVertexColours) {
    Raster* t = RasterCreate(2, 2, 0, RasterTypeTexture | RasterFormat888);
    uint8* p = RasterLock(t, 0, RasterLockWrite);
    ASSERT_NE(p, nullptr);
    const uint8 texels[2][6] = {{255, 0, 0, 0, 255, 0}, {0, 0, 255, 255, 255, 255}};
    for (int y = 0; y < 2; ++y) std::memcpy(p + y * t->stride, texels[y], 6);
    RasterUnlock(t);
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(t)));
    ASSERT_TRUE(RenderStateSet(StateTextureFilter, 1));
    Im2DVertex v[4] = {V(400, 200, kWhite), V(400, 300, kWhite), V(500, 300, kWhite), V(500, 200, kWhite)};
    const float uv[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    for (int i = 0; i < 4; ++i) {
        v[i].u = uv[i][0];
        v[i].v = uv[i][1];
    }
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriFan, v, 4));
    EXPECT_TRUE(SameColour(Pixel(410, 210), kRed));
    EXPECT_TRUE(SameColour(Pixel(490, 210), kGreen));
    EXPECT_TRUE(SameColour(Pixel(410, 290), kBlue));
    EXPECT_TRUE(SameColour(Pixel(490, 290), kWhite));
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, 0));
    RasterDestroy(t);
}

TEST_F(GlIm2D, PointerRasterAtTheCentreShowsItsCross) {
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    Raster* pointer = CameraPointerCreate();
    ASSERT_NE(pointer, nullptr);
    const int32 x = (colour->width - pointer->width) / 2, y = (colour->height - pointer->height) / 2;
    ASSERT_NE(RasterPushContext(colour), nullptr);
    ASSERT_NE(RasterRender(pointer, x, y), nullptr);
    RasterPopContext();
    // Opaque white arms, a see-through centre, untouched corners.
    EXPECT_TRUE(SameColour(Pixel(x + 7, y + 3), kWhite));
    EXPECT_TRUE(SameColour(Pixel(x + 8, y + 12), kWhite));
    EXPECT_TRUE(SameColour(Pixel(x + 3, y + 7), kWhite));
    EXPECT_TRUE(SameColour(Pixel(x + 12, y + 8), kWhite));
    EXPECT_TRUE(SameColour(Pixel(x, y), background));
    EXPECT_TRUE(SameColour(Pixel(x + 15, y + 15), background));
    EXPECT_TRUE(SameColour(Pixel(x + 2, y + 2), background));
    // Row 7, column 7: black at alpha 0x60 over the background darkens it.
    const RGBA centre = Pixel(x + 7, y + 7);
    EXPECT_LT(centre.red, background.red);
    EXPECT_GT(centre.red, 0);
    RasterDestroy(pointer);
}

TEST_F(GlIm2D, AScaledSubRasterLandsUprightInItsRectangleWithItsOwnTexels) {
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    // A 48 x 40 picture (a 64 x 64 texture) of magenta with four quadrants
    // at (16, 8): red, green above; blue, white below.
    const RGBA magenta{255, 0, 255, 255};
    Raster* parent = RasterCreate(48, 40, 0, RasterTypeNormal);
    ASSERT_NE(parent, nullptr);
    uint8* p = RasterLock(parent, 0, RasterLockWrite);
    ASSERT_NE(p, nullptr);
    for (int32 y = 0; y < 40; ++y) {
        for (int32 x = 0; x < 48; ++x) {
            RGBA c = magenta;
            if (x >= 16 && x < 32 && y >= 8 && y < 24)
                c = y < 16 ? (x < 24 ? kRed : kGreen) : (x < 24 ? kBlue : kWhite);
            std::memcpy(p + y * parent->stride + 4 * x, &c, 4);
        }
    }
    RasterUnlock(parent);
    Raster* sprite = RasterCreate(0, 0, 0, RasterTypeNormal);
    const Rect part{16, 8, 16, 16};
    ASSERT_NE(RasterSubRaster(sprite, parent, &part), nullptr);

    // Four times as wide and twice as high, at (100, 60).
    const Rect to{100, 60, 64, 32};
    ASSERT_NE(RasterPushContext(colour), nullptr);
    ASSERT_NE(RasterRenderScaled(sprite, &to), nullptr);
    RasterPopContext();
    EXPECT_TRUE(SameColour(Pixel(108, 64), kRed));
    EXPECT_TRUE(SameColour(Pixel(156, 64), kGreen));
    EXPECT_TRUE(SameColour(Pixel(108, 88), kBlue));
    EXPECT_TRUE(SameColour(Pixel(156, 88), kWhite));
    // Exactly the rectangle is covered.
    for (auto [x, y] : {std::pair{99, 70}, std::pair{164, 70}, std::pair{130, 59}, std::pair{130, 92}}) {
        EXPECT_TRUE(SameColour(Pixel(x, y), background)) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{100, 70}, std::pair{163, 70}, std::pair{130, 60}, std::pair{130, 91}}) {
        EXPECT_FALSE(SameColour(Pixel(x, y), background)) << x << "," << y;
    }
    RasterDestroy(sprite);
    RasterDestroy(parent);
}

TEST_F(GlIm2D, RasterRenderedIntoATextureCopiesItsPixels) {
    Raster* target = RasterCreate(8, 8, 0, RasterTypeTexture | RasterFormat8888);
    Raster* source = RasterCreate(2, 2, 0, RasterTypeTexture | RasterFormat888);
    uint8* p = RasterLock(source, 0, RasterLockWrite);
    std::memset(p, 77, static_cast<std::size_t>(source->stride) * 2);
    RasterUnlock(source);
    ASSERT_NE(RasterPushContext(target), nullptr);
    ASSERT_NE(RasterClear(0), nullptr);
    ASSERT_NE(RasterRender(source, 7, 3), nullptr);  // half off the right edge
    RasterPopContext();
    const uint8* q = RasterLock(target, 0, RasterLockRead);
    EXPECT_EQ(q[3 * target->stride + 7 * 4], 77);
    EXPECT_EQ(q[3 * target->stride + 7 * 4 + 3], 255);
    EXPECT_EQ(q[4 * target->stride + 7 * 4], 77);
    EXPECT_EQ(q[3 * target->stride + 6 * 4], 0);
    RasterUnlock(target);
    RasterDestroy(source);
    RasterDestroy(target);
}

}  // namespace
}  // namespace kv::test
