// The logo plug-in on a recording device: where the logo goes on a camera's
// picture, when it is drawn, with which render states, and that the camera's
// own end update still runs after it.
#include "engine/world/logo.h"

#include "text_fixture.h"

namespace kv::test {
namespace {

class Logo : public TextTest {
  protected:
    void BeforeOpen() override { ASSERT_TRUE(LogoPluginAttach()); }
    // Ends the update of a width x height camera with the given view window.
    void Frame(int32 width, int32 height, V2d view = V2d{0.5f, 0.375f}, int32 enabled = 1) {
        ASSERT_NE(Begin(width, height), nullptr);
        CameraSetViewWindow(camera, &view);
        LogoSetCamera(camera, enabled);
        const int32 endsBefore = TestDevice::Count(StdCameraEndUpdate);
        ASSERT_NE(CameraEndUpdate(camera), nullptr);
        EXPECT_EQ(TestDevice::Count(StdCameraEndUpdate), endsBefore + 1) << "the camera's own end update runs";
        EXPECT_EQ(EngineInstanceGet()->curCamera, nullptr);
    }
    static LogoRect Rect() {
        LogoRect r{};
        EXPECT_TRUE(LogoGetRect(&r));
        return r;
    }
};

TEST_F(Logo, SitsFivePixelsFromTheBottomLeftCornerInItsOwnShape) {
    ASSERT_NE(LogoGetRaster(), nullptr);
    EXPECT_EQ(RasterGetWidth(LogoGetRaster()), 128);
    EXPECT_EQ(RasterGetHeight(LogoGetRaster()), 64);
    Frame(640, 480);
    // 64 wide, 64 * (480 * 0.5) / (640 * 0.375 * 1.590361) = 40.24 high.
    const LogoRect r = Rect();
    EXPECT_EQ(r.x, 5);
    EXPECT_EQ(r.y, 435);
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 40);

    ASSERT_EQ(TestDevice::draws.size(), 1u);
    const TestDevice::Draw& d = TestDevice::draws[0];
    EXPECT_EQ(d.type, PrimTypeTriFan);
    ASSERT_EQ(d.vertices.size(), 4u);
    const float xs[4] = {5, 5, 69, 69}, ys[4] = {435, 475, 475, 435}, us[4] = {0, 0, 1, 1}, vs[4] = {0, 1, 1, 0};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(d.vertices[i].x, xs[i]);
        EXPECT_FLOAT_EQ(d.vertices[i].y, ys[i]);
        EXPECT_FLOAT_EQ(d.vertices[i].u, us[i]);
        EXPECT_FLOAT_EQ(d.vertices[i].v, vs[i]);
        EXPECT_FLOAT_EQ(d.vertices[i].z, EngineGetZNear());
        EXPECT_FLOAT_EQ(d.vertices[i].recipZ, 2.0f);
    }
    EXPECT_EQ(d.states.at(StateTextureRaster), reinterpret_cast<std::intptr_t>(LogoGetRaster()));
    EXPECT_EQ(d.states.at(StateZTestEnable), 0);
    EXPECT_EQ(d.states.at(StateZWriteEnable), 0);
    EXPECT_EQ(d.states.at(StateVertexAlphaEnable), 0);
    EXPECT_EQ(d.states.at(StateSrcBlend), 5);
    EXPECT_EQ(d.states.at(StateDestBlend), 6);
    EXPECT_EQ(d.states.at(StateTextureFilter), 2);
    EXPECT_EQ(d.states.at(StateCullMode), 1);
    // Everything it changed is back.
    EXPECT_EQ(TestDevice::states.at(StateTextureRaster), 0);
    EXPECT_EQ(TestDevice::states.at(StateZTestEnable), 1);
    EXPECT_EQ(TestDevice::states.at(StateCullMode), 2);
}

TEST_F(Logo, ACameraWithTheFlagOffStillMeasuresButDrawsNothing) {
    Frame(640, 480, V2d{0.5f, 0.375f}, 0);
    EXPECT_EQ(Rect().y, 435);
    EXPECT_TRUE(TestDevice::draws.empty());
    // The flag is per camera and reports what it was.
    EXPECT_EQ(LogoSetCamera(camera, 1), 0);
    EXPECT_EQ(LogoSetCamera(camera, 0), 1);
    Camera* other = CameraCreate();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(LogoSetCamera(other, 1), 0) << "a new camera starts with the logo off";
    CameraDestroy(other);
}

TEST_F(Logo, AFlatRasterGetsNoLogo) {
    Frame(640, 8);
    EXPECT_LE(Rect().height, 0);
    EXPECT_TRUE(TestDevice::draws.empty());
}

TEST_F(Logo, ASubRasterPlacesItInsideItsPartOfTheParent) {
    Raster* parent = RasterCreate(640, 480, 0, RasterTypeCamera);
    Raster* part = RasterCreate(0, 0, 0, RasterTypeCamera);
    ASSERT_NE(parent, nullptr);
    ASSERT_NE(part, nullptr);
    const kv::Rect area{100, 50, 320, 240};
    ASSERT_NE(RasterSubRaster(part, parent, &area), nullptr);
    ASSERT_NE(Begin(16, 16), nullptr);
    CameraSetRaster(camera, part);
    const V2d view{0.5f, 0.375f};
    CameraSetViewWindow(camera, &view);
    LogoSetCamera(camera, 1);
    CameraEndUpdate(camera);
    const LogoRect r = Rect();
    EXPECT_EQ(r.width, 32);
    EXPECT_EQ(r.height, 20);
    EXPECT_EQ(r.x, 105);
    EXPECT_EQ(r.y, 50 + 240 - 20 - 5);
    CameraSetRaster(camera, raster);
    RasterDestroy(part);
    RasterDestroy(parent);
}

class LogoResampled : public Logo {
  protected:
    // A device whose textures are at most 64 x 32.
    void BeforeStart() override {
        TestDevice::standards[StdImageFindRasterFormat] = [](void* out, void* inOut, int32 flags) {
            if (!RasterMemory::FindFormat(out, inOut, flags)) return false;
            auto* r = static_cast<Raster*>(out);
            r->width = 64;
            r->height = 32;
            return true;
        };
    }
};

TEST_F(LogoResampled, TheLogoIsResampledToTheSizeTheDeviceTakes) {
    ASSERT_NE(LogoGetRaster(), nullptr);
    EXPECT_EQ(RasterGetWidth(LogoGetRaster()), 64);
    EXPECT_EQ(RasterGetHeight(LogoGetRaster()), 32);
}

using LogoDetached = RasterMemoryTest;

TEST_F(LogoDetached, WithoutThePluginThereIsNoRectangleAndNoFlag) {
    LogoRect r{1, 2, 3, 4};
    EXPECT_FALSE(LogoGetRect(&r));
    EXPECT_EQ(r.height, 0);
    EXPECT_EQ(LogoGetRaster(), nullptr);
    Camera* c = CameraCreate();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(LogoSetCamera(c, 1), 0);
    CameraDestroy(c);
}

}  // namespace
}  // namespace kv::test
