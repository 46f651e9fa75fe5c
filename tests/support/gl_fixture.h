// An engine started with the OpenGL device on a hidden 640 x 480 window, with
// helpers to make cameras and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/frame/frame.h"
#include "engine/image/image.h"
#include "engine/image/raster.h"
#include "engine/opengl/gl_device.h"
#include "engine/opengl/gl_internal.h"
#include "engine_fixture.h"
#include "error_log.h"

namespace kv::test {

class GlTest : public ::testing::Test {
  protected:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static inline SDL_Window* window = nullptr;

    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window = GlWindowCreate("gl test", 0, 0, kWidth, kHeight, SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
    }
    static void TearDownTestSuite() {
        if (window != nullptr) SDL_DestroyWindow(window);
        window = nullptr;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    void SetUp() override {
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(EngineUp({.device = GlDeviceGetInterface,
                              .plugins =
                                  [this] {
                                      BeforeOpen();
                                      return true;
                                  },
                              .window = window,
                              .opened = [] { return EngineSetVideoMode(0); }}))
            << SDL_GetError();
    }

    // Plugins attach here, between init and open.
    virtual void BeforeOpen() {}

    void TearDown() override {
        GlLogStop();
        if (camera != nullptr && EngineInstanceGet()->curCamera == camera) CameraEndUpdate(camera);
        DestroyCamera();
        EngineDown();
    }

    // A camera on a frame at the origin looking along +z, drawing into raster.
    Camera* MakeCamera(Raster* raster, Raster* zRaster = nullptr) {
        camera = CameraCreate();
        frame = FrameCreate();
        if (camera == nullptr || frame == nullptr) return nullptr;
        CameraSetFrame(camera, frame);
        CameraSetRaster(camera, raster);
        CameraSetZRaster(camera, zRaster);
        return camera;
    }
    // A whole-window camera raster and its depth raster.
    Camera* MakeWindowCamera() {
        colour = RasterCreate(kWidth, kHeight, 0, RasterTypeCamera);
        depth = RasterCreate(kWidth, kHeight, 0, RasterTypeZBuffer);
        if (colour == nullptr || depth == nullptr) return nullptr;
        return MakeCamera(colour, depth);
    }
    void DestroyCamera() {
        if (camera != nullptr) CameraDestroy(camera);
        if (frame != nullptr) FrameDestroy(frame);
        for (Raster* r : {sub, colour, depth}) {
            if (r != nullptr) RasterDestroy(r);
        }
        camera = nullptr;
        frame = nullptr;
        sub = colour = depth = nullptr;
    }

    // The colour at (x, y) of the back buffer, y counted from the top.
    static RGBA Pixel(int x, int y) {
        uint8 p[4] = {};
        gl.ReadPixels(x, kHeight - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return RGBA{p[0], p[1], p[2], p[3]};
    }
    static std::vector<uint8> Picture() {
        std::vector<uint8> p(static_cast<std::size_t>(kWidth) * kHeight * 4);
        gl.ReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
        return p;
    }
    static float Depth(int x, int y) {
        float d = -1.0f;
        gl.ReadPixels(x, kHeight - 1 - y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &d);
        return d;
    }
    static GLint Integer(GLenum what) {
        GLint v = 0;
        gl.GetIntegerv(what, &v);
        return v;
    }

    Camera* camera = nullptr;
    Frame* frame = nullptr;
    Raster* colour = nullptr;
    Raster* depth = nullptr;
    Raster* sub = nullptr;
};

inline bool SameColour(RGBA a, RGBA b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

}  // namespace kv::test
