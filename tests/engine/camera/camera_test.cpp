#include "engine/camera/camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/frame/frame.h"
#include "error_log.h"
#include "raster_memory.h"

namespace kv {
namespace {

using test::ErrorLog;
using test::TestDevice;

int32 syncCount = 0;
ObjectWithFrameSyncCallBack realSync = nullptr;
ObjectWithFrame* CountingSync(ObjectWithFrame* o) {
    ++syncCount;
    return realSync(o);
}

class Cameras : public test::RasterMemoryTest {
  protected:
    void SetUp() override {
        test::RasterMemoryTest::SetUp();
        camera = CameraCreate();
        ASSERT_NE(camera, nullptr);
        frame = FrameCreate();
        ASSERT_NE(frame, nullptr);
        CameraSetFrame(camera, frame);
    }
    void TearDown() override {
        if (camera != nullptr) {
            CameraSetFrame(camera, nullptr);
            CameraDestroy(camera);
        }
        FrameDestroy(frame);
        test::RasterMemoryTest::TearDown();
    }
    // Depth from 0 to 1, as the depth mapping below is checked against.
    void Configure() override {
        test::RasterMemoryTest::Configure();
        TestDevice::record.zBufferFar = 1.0f;
    }
    void Sync() {
        ASSERT_EQ(CameraBeginUpdate(camera), camera);
        ASSERT_EQ(CameraEndUpdate(camera), camera);
    }
    // The view matrix's screen position of a world point.
    V3d Project(const V3d& q) {
        V3d out;
        V3dTransformPoint(&out, &q, CameraGetViewMatrix(camera));
        return out;
    }
    int32 Test(V3d centre, real radius) {
        Sphere s{centre, radius};
        return CameraFrustumTestSphere(camera, &s);
    }
    // Places the frame with a rotation and translation that mix every axis.
    void Tilt() {
        const V3d axis{1, 2, 3};
        FrameRotate(frame, &axis, 37.0f, CombineReplace);
        const V3d move{1.5f, -2.0f, 0.75f};
        FrameTranslate(frame, &move, CombinePostConcat);
    }
    Camera* camera = nullptr;
    Frame* frame = nullptr;
};

constexpr float kTol = 2e-3f;

#define EXPECT_V3D_NEAR(a, ex, ey, ez) \
    do {                               \
        const V3d v_ = (a);            \
        EXPECT_NEAR(v_.x, (ex), kTol); \
        EXPECT_NEAR(v_.y, (ey), kTol); \
        EXPECT_NEAR(v_.z, (ez), kTol); \
    } while (0)

TEST_F(Cameras, ANewCameraMapsItsClipPlanesIntoThePulledInDeviceRange) {
    EXPECT_EQ(camera->object.object.type, kObjectTypeCamera);
    EXPECT_EQ(CameraGetProjection(camera), ProjectionPerspective);
    EXPECT_FLOAT_EQ(CameraGetViewWindow(camera)->x, 1.0f);
    EXPECT_FLOAT_EQ(CameraGetViewOffset(camera)->y, 0.0f);
    EXPECT_FLOAT_EQ(CameraGetNearClipPlane(camera), 0.05f);
    EXPECT_FLOAT_EQ(CameraGetFarClipPlane(camera), 10.0f);
    EXPECT_FLOAT_EQ(CameraGetFogDistance(camera), 5.0f);
    EXPECT_EQ(CameraGetRaster(camera), nullptr);
    // The raster device's depth range is 0..1.
    EXPECT_NEAR(camera->zScale * (1.0f / 0.05f) + camera->zShift, 0.0001f, 1e-6f);
    EXPECT_NEAR(camera->zScale * (1.0f / 10.0f) + camera->zShift, 0.9999f, 1e-6f);

    CameraSetProjection(camera, ProjectionParallel);
    EXPECT_NEAR(camera->zScale * 0.05f + camera->zShift, 0.0001f, 1e-6f);
    EXPECT_NEAR(camera->zScale * 10.0f + camera->zShift, 0.9999f, 1e-6f);

    // Equal planes have no mapping: the last one stays finite.
    CameraSetFarClipPlane(camera, 0.05f);
    EXPECT_TRUE(std::isfinite(camera->zScale));
    EXPECT_TRUE(std::isfinite(camera->zShift));
}

TEST_F(Cameras, TheViewMatrixSpansTheViewWindowFromZeroToOne) {
    const V2d window{2.0f, 1.0f};
    CameraSetViewWindow(camera, &window);
    EXPECT_FLOAT_EQ(camera->recipViewWindow.x, 0.5f);
    Sync();
    V3d right = Project({2, 0, 1});
    EXPECT_NEAR(right.x / right.z, 0.0f, 1e-6f);
    V3d left = Project({-2, 0, 1});
    EXPECT_NEAR(left.x / left.z, 1.0f, 1e-6f);
    V3d top = Project({0, 1, 3});
    EXPECT_NEAR(top.z, 3.0f, 1e-6f);
    EXPECT_NEAR(top.y / top.z, 1.0f / 3.0f, 1e-6f);
}

TEST_F(Cameras, CornersProjectOntoTheScreenCornersEvenWhenTiltedAndOffset) {
    for (int32 projection : {ProjectionPerspective, ProjectionParallel}) {
        SCOPED_TRACE(projection);
        CameraSetProjection(camera, projection);
        const V2d window{0.5f, 0.375f};
        const V2d offset{0.1f, -0.2f};
        CameraSetViewWindow(camera, &window);
        CameraSetViewOffset(camera, &offset);
        CameraSetNearClipPlane(camera, 0.5f);
        Tilt();
        Sync();
        const float sx[4] = {0, 1, 1, 0};
        const float sy[4] = {0, 0, 1, 1};
        for (int32 i = 0; i < 8; ++i) {
            const V3d s = Project(camera->frustumCorners[i]);
            const float depth = i < 4 ? 0.5f : 10.0f;
            EXPECT_NEAR(s.z, depth, 1e-3f) << i;
            const float w = projection == ProjectionPerspective ? s.z : 1.0f;
            EXPECT_NEAR(s.x / w, sx[i & 3], 1e-4f) << i;
            EXPECT_NEAR(s.y / w, sy[i & 3], 1e-4f) << i;
        }
        // Every corner lies on its planes and inside the others; the box
        // holds them all.
        for (int32 i = 0; i < 8; ++i) {
            for (const FrustumPlane& p : camera->frustumPlanes) {
                EXPECT_LE(V3dDotProduct(p.normal, camera->frustumCorners[i]) - p.distance, 2e-3f);
            }
            EXPECT_TRUE(BBoxContainsPoint(&camera->frustumBox, &camera->frustumCorners[i]));
        }
    }
}

TEST_F(Cameras, PlanesOfAnUntransformedCameraPointOutward) {
    Sync();
    const FrustumPlane* p = camera->frustumPlanes;
    EXPECT_V3D_NEAR(p[0].normal, 0, 0, 1);
    EXPECT_NEAR(p[0].distance, 10.0f, kTol);
    EXPECT_V3D_NEAR(p[1].normal, 0, 0, -1);
    EXPECT_NEAR(p[1].distance, -0.05f, kTol);
    EXPECT_V3D_NEAR(p[2].normal, -0.7071f, 0, -0.7071f);
    EXPECT_V3D_NEAR(p[3].normal, 0, 0.7071f, -0.7071f);
    EXPECT_V3D_NEAR(p[4].normal, 0.7071f, 0, -0.7071f);
    EXPECT_V3D_NEAR(p[5].normal, 0, -0.7071f, -0.7071f);
    for (int32 i = 2; i < 6; ++i) EXPECT_NEAR(p[i].distance, 0.0f, kTol);
    EXPECT_EQ(p[2].closestX, 0);
    EXPECT_EQ(p[2].closestZ, 0);
    EXPECT_EQ(p[4].closestX, 1);
    EXPECT_V3D_NEAR(camera->frustumBox.max, 10, 10, 10);
    EXPECT_V3D_NEAR(camera->frustumBox.min, -10, -10, 0.05f);
}

TEST_F(Cameras, SpheresAreInsideOnTheBoundaryOrOutside) {
    Sync();
    EXPECT_EQ(Test({0, 0, 10}, 0.5f), FrustumBoundary);
    EXPECT_EQ(Test({0, 0, 10.6f}, 0.5f), FrustumOutside);
    EXPECT_EQ(Test({0, 0, 5}, 0.1f), FrustumInside);
    EXPECT_EQ(Test({0, 0, -1}, 0.5f), FrustumOutside);  // behind the camera
    EXPECT_EQ(Test({-5.5f, 0, 5}, 0.1f), FrustumOutside);
    EXPECT_EQ(Test({0, 4.9f, 5}, 0.2f), FrustumBoundary);

    CameraSetProjection(camera, ProjectionParallel);
    Sync();
    EXPECT_EQ(Test({0, 0, 5}, 0.1f), FrustumInside);
    EXPECT_EQ(Test({0.95f, 0, 5}, 0.1f), FrustumBoundary);
    EXPECT_EQ(Test({1.2f, 0, 5}, 0.1f), FrustumOutside);
    // Opposite sides of a parallel volume are parallel.
    EXPECT_V3D_NEAR(camera->frustumPlanes[4].normal, -camera->frustumPlanes[2].normal.x, 0, 0);
}

TEST_F(Cameras, ChangesOnlyMarkTheFrameAndSyncOnceAtBeginUpdate) {
    Sync();
    realSync = camera->object.syncCallback;
    camera->object.syncCallback = CountingSync;
    syncCount = 0;
    const V2d window{0.5f, 0.5f};
    CameraSetViewWindow(camera, &window);
    CameraSetFarClipPlane(camera, 20.0f);
    EXPECT_EQ(syncCount, 0);
    EXPECT_NEAR(camera->frustumPlanes[0].distance, 10.0f, kTol);
    Sync();
    EXPECT_EQ(syncCount, 1);
    EXPECT_NEAR(camera->frustumPlanes[0].distance, 20.0f, kTol);

    // Without a frame the frustum stays, the depth mapping follows.
    CameraSetFrame(camera, nullptr);
    const real oldScale = camera->zScale;
    CameraSetNearClipPlane(camera, 1.0f);
    EXPECT_NE(camera->zScale, oldScale);
    Sync();
    EXPECT_EQ(syncCount, 1);
    EXPECT_NEAR(camera->frustumPlanes[1].distance, -0.05f, kTol);
}

TEST_F(Cameras, UpdatesGoThroughTheDeviceAndHoldTheCurrentCamera) {
    EngineInstance* engine = EngineInstanceGet();
    ASSERT_EQ(CameraBeginUpdate(camera), camera);
    EXPECT_EQ(engine->curCamera, camera);
    EXPECT_EQ(TestDevice::Last(StdCameraBeginUpdate)->inOut, camera);
    ASSERT_EQ(CameraEndUpdate(camera), camera);
    EXPECT_EQ(engine->curCamera, nullptr);

    TestDevice::failingSlots.insert(StdCameraEndUpdate);
    ASSERT_EQ(CameraBeginUpdate(camera), camera);
    EXPECT_EQ(CameraEndUpdate(camera), nullptr);
    EXPECT_EQ(engine->curCamera, camera);  // still inside the update
    TestDevice::failingSlots.insert(StdCameraBeginUpdate);
    EXPECT_EQ(CameraBeginUpdate(camera), nullptr);

    const RGBA grey{64, 64, 64, 255};
    ASSERT_EQ(CameraClear(camera, &grey, ClearImage | ClearZ), camera);
    const auto* clear = TestDevice::Last(StdCameraClear);
    EXPECT_EQ(clear->out, camera);
    EXPECT_EQ(clear->in, 3);
    EXPECT_EQ(CameraClear(camera, nullptr, ClearZ), camera);  // depth needs no colour

    ErrorLog log;
    EXPECT_EQ(CameraShowRaster(camera, nullptr, 0), nullptr);  // no raster yet
    Raster* raster = RasterCreate(64, 32, 0, RasterTypeCamera);
    CameraSetRaster(camera, raster);
    ASSERT_EQ(CameraShowRaster(camera, nullptr, 0), camera);
    EXPECT_EQ(TestDevice::Last(StdRasterShowRaster)->out, raster);
    RasterDestroy(raster);

    // Destroying the current camera leaves the engine without one.
    CameraSetFrame(camera, nullptr);
    CameraDestroy(camera);
    camera = nullptr;
    EXPECT_EQ(engine->curCamera, nullptr);
}

}  // namespace
}  // namespace kv
