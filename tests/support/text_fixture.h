// The engine for on-screen text, menu and logo tests: the test device with
// rasters in memory, render states kept as a fresh device has them and every
// 2D draw recorded with its states; memory that can be made to run out; the
// text module open; and a camera of any size drawing into an in-memory raster.
#pragma once

#include "engine/camera/camera.h"
#include "engine/frame/frame.h"
#include "engine/image/charset.h"
#include "failing_memory.h"
#include "glyphs.h"
#include "raster_memory.h"

namespace kv::test {

class TextTest : public RasterMemoryTest {
  protected:
    void SetUp() override {
        FailingMemory::allowed = -1;
        memory = FailingMemory::Table();
        RasterMemoryTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(CharsetOpen());
    }
    void TearDown() override {
        FailingMemory::allowed = -1;
        End();
        if (camera != nullptr) CameraDestroy(camera);
        if (frame != nullptr) FrameDestroy(frame);
        if (raster != nullptr) RasterDestroy(raster);
        CharsetClose();
        RasterMemoryTest::TearDown();
    }
    void Configure() override {
        RasterMemoryTest::Configure();
        TestDevice::KeepRenderStates({{StateTextureRaster, 0},
                                      {StateZTestEnable, 1},
                                      {StateZWriteEnable, 1},
                                      {StateTextureFilter, 2},
                                      {StateSrcBlend, 5},
                                      {StateDestBlend, 6},
                                      {StateVertexAlphaEnable, 0},
                                      {StateCullMode, 2},
                                      {StateShadeMode, 2}});
        TestDevice::RecordDraws();
    }

    // A camera drawing into a width x height raster, current until End().
    Camera* Begin(int32 width, int32 height) {
        raster = RasterCreate(width, height, 0, RasterTypeCamera);
        camera = CameraCreate();
        frame = FrameCreate();
        if (raster == nullptr || camera == nullptr || frame == nullptr) return nullptr;
        CameraSetFrame(camera, frame);
        CameraSetRaster(camera, raster);
        CameraSetNearClipPlane(camera, 0.5f);
        return CameraBeginUpdate(camera);
    }
    void End() {
        if (camera != nullptr && EngineInstanceGet()->curCamera == camera) CameraEndUpdate(camera);
    }

    Camera* camera = nullptr;
    Frame* frame = nullptr;
    Raster* raster = nullptr;
};

}  // namespace kv::test
