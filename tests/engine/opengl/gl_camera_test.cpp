// Camera begin and end update, clear and show on the device.
#include <cmath>

#include "gl_fixture.h"

namespace kv::test {
namespace {

using GlCamera = GlTest;

TEST_F(GlCamera, WholeWindowCameraClearsWithoutScissor) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    GLint viewport[4] = {};
    gl.GetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    GlLogStart();
    const RGBA c{64, 64, 64, 0};
    ASSERT_NE(CameraClear(camera, &c, ClearImage | ClearZ), nullptr);
    EXPECT_EQ(GlLogCount(GlIndexScissor), 0);
    EXPECT_TRUE(SameColour(Pixel(0, 0), c));
    EXPECT_TRUE(SameColour(Pixel(639, 479), c));
}

TEST_F(GlCamera, SubRasterViewportAndScissorCountFromTheBottom) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    const RGBA outside{10, 20, 30, 255};
    ASSERT_NE(CameraClear(camera, &outside, ClearImage | ClearZ), nullptr);
    sub = RasterCreate(0, 0, 0, RasterTypeCamera);
    Rect rect{100, 50, 200, 100};
    ASSERT_NE(RasterSubRaster(sub, colour, &rect), nullptr);
    CameraSetRaster(camera, sub);
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    GLint box[4] = {};
    gl.GetIntegerv(GL_VIEWPORT, box);
    EXPECT_EQ(box[0], 100);
    EXPECT_EQ(box[1], 330);
    EXPECT_EQ(box[2], 200);
    EXPECT_EQ(box[3], 100);
    ASSERT_NE(CameraEndUpdate(camera), nullptr);

    const RGBA inside{200, 150, 100, 255};
    ASSERT_NE(CameraClear(camera, &inside, ClearImage | ClearZ), nullptr);
    gl.GetIntegerv(GL_SCISSOR_BOX, box);
    EXPECT_EQ(box[0], 100);
    EXPECT_EQ(box[1], 330);
    EXPECT_EQ(box[2], 200);
    EXPECT_EQ(box[3], 100);
    EXPECT_FALSE(gl.IsEnabled(GL_SCISSOR_TEST));
    EXPECT_TRUE(SameColour(Pixel(100, 50), inside));
    EXPECT_TRUE(SameColour(Pixel(299, 149), inside));
    EXPECT_TRUE(SameColour(Pixel(99, 50), outside));
    EXPECT_TRUE(SameColour(Pixel(100, 49), outside));
    EXPECT_TRUE(SameColour(Pixel(300, 149), outside));
    EXPECT_TRUE(SameColour(Pixel(299, 150), outside));
    CameraSetRaster(camera, colour);
}

TEST_F(GlCamera, SameClearColourIsSetOnce) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    GlLogStart();
    const RGBA c{1, 2, 3, 4};
    ASSERT_NE(CameraClear(camera, &c, ClearImage), nullptr);
    ASSERT_NE(CameraClear(camera, &c, ClearImage | ClearZ), nullptr);
    EXPECT_EQ(GlLogCount(GlIndexClearColor), 1);
    EXPECT_EQ(GlLogCount(GlIndexClear), 2);
    const RGBA d{1, 2, 3, 5};
    ASSERT_NE(CameraClear(camera, &d, ClearImage), nullptr);
    EXPECT_EQ(GlLogCount(GlIndexClearColor), 2);
    // A depth-only clear does not look at the colour.
    const RGBA e{9, 9, 9, 9};
    ASSERT_NE(CameraClear(camera, &e, ClearZ), nullptr);
    EXPECT_EQ(GlLogCount(GlIndexClearColor), 2);
}

TEST_F(GlCamera, DepthClearedWhileDepthWritesAreOff) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    const RGBA c{0, 0, 0, 255};
    ASSERT_NE(CameraClear(camera, &c, ClearImage | ClearZ), nullptr);
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    // A triangle at the near end leaves depth 0 behind it.
    Im2DVertex v[3] = {};
    const float xy[3][2] = {{0, 0}, {0, 480}, {640, 0}};
    for (int i = 0; i < 3; ++i) {
        v[i].x = xy[i][0];
        v[i].y = xy[i][1];
        v[i].z = 0.0f;
        v[i].r = 255;
        v[i].a = 255;
    }
    ASSERT_TRUE(RenderStateSet(StateCullMode, 1));
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriList, v, 3));
    EXPECT_LT(Depth(5, 5), 0.01f);
    ASSERT_TRUE(RenderStateSet(StateZWriteEnable, 0));
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    ASSERT_NE(CameraClear(camera, &c, ClearImage | ClearZ), nullptr);
    EXPECT_EQ(Depth(5, 5), 1.0f);
    GLboolean mask = GL_TRUE;
    gl.GetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    EXPECT_EQ(mask, GL_FALSE);
}

TEST_F(GlCamera, PerspectiveFrustumAndView) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    const V2d viewWindow{0.5f, 0.375f};
    CameraSetViewWindow(camera, &viewWindow);
    CameraSetNearClipPlane(camera, 0.1f);
    CameraSetFarClipPlane(camera, 100.0f);
    GlLogStart();
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    EXPECT_EQ(GlLogCount(GlIndexFrustum), 1);
    GLfloat m[16] = {};
    gl.GetFloatv(GL_PROJECTION_MATRIX, m);
    // The frustum (-0.05, 0.05, -0.0375, 0.0375, 0.1, 100).
    const double l = -0.05, r = 0.05, b = -0.0375, t = 0.0375, n = 0.1, f = 100.0;
    EXPECT_NEAR(m[0], 2 * n / (r - l), 1e-4);
    EXPECT_NEAR(m[5], 2 * n / (t - b), 1e-4);
    EXPECT_NEAR(m[8], (r + l) / (r - l), 1e-6);
    EXPECT_NEAR(m[9], (t + b) / (t - b), 1e-6);
    EXPECT_NEAR(m[10], -(f + n) / (f - n), 1e-5);
    EXPECT_NEAR(m[11], -1.0, 1e-6);
    EXPECT_NEAR(m[14], -2 * f * n / (f - n), 1e-5);
    EXPECT_EQ(Integer(GL_FRONT_FACE), GL_CCW);
    // The camera at the origin looks along +z: OpenGL's view turns +z into -z
    // and mirrors x.
    gl.GetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[0], -1.0f);
    EXPECT_EQ(m[5], 1.0f);
    EXPECT_EQ(m[10], -1.0f);
    EXPECT_EQ(m[12], 0.0f);
}

TEST_F(GlCamera, MovedCameraAndParallelProjection) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    const V3d at{1.0f, 2.0f, 3.0f};
    FrameTranslate(frame, &at, CombineReplace);
    ASSERT_NE(CameraSetProjection(camera, ProjectionParallel), nullptr);
    CameraSetNearClipPlane(camera, 1.0f);
    CameraSetFarClipPlane(camera, 11.0f);
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    GLfloat m[16] = {};
    gl.GetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], 1.0f);
    EXPECT_FLOAT_EQ(m[10], -0.2f);
    EXPECT_FLOAT_EQ(m[14], -1.2f);
    EXPECT_FLOAT_EQ(m[15], 1.0f);
    gl.GetFloatv(GL_MODELVIEW_MATRIX, m);
    // The eye at (1, 2, 3): the origin of the world is seen at (1, -2, 3).
    EXPECT_FLOAT_EQ(m[12], 1.0f);
    EXPECT_FLOAT_EQ(m[13], -2.0f);
    EXPECT_FLOAT_EQ(m[14], 3.0f);
}

TEST_F(GlCamera, CameraTextureIsDrawnUpsideDownAndCopiedAtEnd) {
    Raster* texture = RasterCreate(128, 128, 0, RasterTypeCameraTexture);
    ASSERT_NE(texture, nullptr);
    ASSERT_NE(MakeCamera(texture), nullptr);
    const RGBA c{40, 80, 120, 255};
    ASSERT_NE(CameraClear(camera, &c, ClearImage | ClearZ), nullptr);
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    GLint viewport[4] = {};
    gl.GetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[1], 480 - 128);
    EXPECT_EQ(Integer(GL_FRONT_FACE), GL_CW);
    // A red band across the top 8 rows of the picture.
    Im2DVertex v[4] = {};
    const float xy[4][2] = {{0, 0}, {0, 8}, {128, 8}, {128, 0}};
    for (int i = 0; i < 4; ++i) {
        v[i].x = xy[i][0];
        v[i].y = xy[i][1];
        v[i].r = 255;
        v[i].a = 255;
    }
    ASSERT_TRUE(RenderStateSet(StateCullMode, 1));
    ASSERT_TRUE(Im2DRenderPrimitive(PrimTypeTriFan, v, 4));
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    CameraSetRaster(camera, nullptr);
    // The copy is upright: its first row is red, its last the clear colour.
    const uint8* p = RasterLock(texture, 0, RasterLockRead);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[127 * texture->stride], 40);
    RasterUnlock(texture);
    RasterDestroy(texture);
}

TEST_F(GlCamera, ShowSwapsTheBuffers) {
    ASSERT_NE(MakeWindowCamera(), nullptr);
    GlLogStart();
    EXPECT_NE(CameraShowRaster(camera, window, 0), nullptr);
    // The current camera is not left set by begin and end.
    ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    EXPECT_EQ(GlDevice()->currentCamera, camera);
    ASSERT_NE(CameraEndUpdate(camera), nullptr);
    EXPECT_EQ(GlDevice()->currentCamera, nullptr);
}

}  // namespace
}  // namespace kv::test
