// Device start-up on a real context: modes, pixel format, extension probe,
// default render state, and the full-screen refusal.
#include "gl_fixture.h"

namespace kv::test {
namespace {

using GlDevice_ = GlTest;

TEST_F(GlDevice_, ModesStartWithTheDesktopAndFollowTheRules) {
    const int32 n = EngineGetNumVideoModes();
    ASSERT_GE(n, 1);
    SDL_DisplayMode desktop{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    VideoModeInfo info{};
    ASSERT_NE(EngineGetVideoModeInfo(&info, 0), nullptr);
    EXPECT_EQ(info.width, desktop.w);
    EXPECT_EQ(info.height, desktop.h);
    EXPECT_EQ(info.flags & kVideoModeFullScreen, 0);
    VideoModeInfo previous{};
    for (int32 i = 1; i < n; ++i) {
        ASSERT_NE(EngineGetVideoModeInfo(&info, i), nullptr);
        EXPECT_NE(info.flags & kVideoModeFullScreen, 0);
        EXPECT_GE(info.depth, 16);
        if (i > 1) {
            const bool ordered =
                previous.depth < info.depth ||
                (previous.depth == info.depth &&
                 (previous.width < info.width || (previous.width == info.width && previous.height < info.height)));
            EXPECT_TRUE(ordered) << i;
        }
        previous = info;
    }
    EXPECT_EQ(EngineGetVideoModeInfo(&info, n), nullptr);
    EXPECT_EQ(EngineGetVideoModeInfo(&info, -1), nullptr);
    EXPECT_FALSE(EngineSetVideoMode(n));
    EXPECT_EQ(EngineGetCurrentVideoMode(), 0);
}

TEST_F(GlDevice_, ContextPixelFormatAndExtensions) {
    EXPECT_NE(SDL_GL_GetCurrentContext(), nullptr);
    const int32 depthBits = GlDepthBits();
    EXPECT_TRUE(depthBits == 16 || depthBits == 24 || depthBits == 32) << depthBits;
    uint8 stencil = 99;
    EXPECT_TRUE(GlStencilBits(&stencil));
    EXPECT_EQ(stencil, 0);

    // Mesa offers compiled vertex arrays and multitexture, not the vertex
    // array range: its entry points and the arena stay absent.
    EXPECT_TRUE(GlExtensionSupported("GL_ARB_multitexture"));
    EXPECT_FALSE(GlExtensionSupported("GL_ARB_multitextu"));
    EXPECT_FALSE(GlExtensionSupported(""));
    EXPECT_NE(gl.LockArrays, nullptr);
    EXPECT_NE(gl.UnlockArrays, nullptr);
    EXPECT_NE(gl.ActiveTexture, nullptr);
    EXPECT_NE(gl.ClientActiveTexture, nullptr);
    EXPECT_GE(GlDevice()->textureUnits, 2);
    EXPECT_FALSE(GlExtensionSupported("GL_NV_vertex_array_range"));
    EXPECT_EQ(gl.VertexArrayRange, nullptr);
    EXPECT_EQ(gl.AllocateMemory, nullptr);
    EXPECT_EQ(VertexArenaAlloc(64), nullptr);

    int32 maxSize = 0;
    EXPECT_TRUE(EngineInstanceGet()->dOpenDevice.system(DeviceGetMaxTextureSize, &maxSize, nullptr, 0));
    EXPECT_GE(maxSize, 1024);
    EXPECT_EQ(maxSize, GlMaxTextureSize());
    EXPECT_GE(GlMaxLights(), 8);
    EXPECT_FALSE(EngineInstanceGet()->dOpenDevice.system(12, nullptr, nullptr, 0));
}

TEST_F(GlDevice_, RecordAndStandardFunctions) {
    const DeviceRecord& r = EngineInstanceGet()->dOpenDevice;
    EXPECT_EQ(r.gammaCorrection, 1.0f);
    EXPECT_EQ(r.zBufferNear, 0.0f);
    EXPECT_EQ(r.zBufferFar, -65535.0f);
    EXPECT_NE(r.im2DRenderLine, nullptr);
    EXPECT_NE(r.im2DRenderIndexedPrimitive, nullptr);
    const StandardFunctions& s = EngineInstanceGet()->stdFunc;
    EXPECT_FALSE(s.fn[StdNone](nullptr, nullptr, 0));
    EXPECT_FALSE(s.fn[StdNativeTextureRead](nullptr, nullptr, 0));
    EXPECT_TRUE(s.fn[StdHintRenderF2B](nullptr, nullptr, 0));
    void* word = nullptr;
    int marker = 0;
    EXPECT_TRUE(s.fn[StdSetRasterContext8](&word, &marker, 0));
    EXPECT_EQ(word, &marker);
    uint32 pixel = 0;
    RGBA rgba{1, 2, 3, 4};
    EXPECT_TRUE(s.fn[StdRGBToPixel](&pixel, &rgba, 0));
    EXPECT_EQ(pixel, 0x01020304u);
    RGBA back{};
    EXPECT_TRUE(s.fn[StdPixelToRGB](&back, &pixel, 0));
    EXPECT_EQ(back.alpha, 4);
}

TEST_F(GlDevice_, DefaultRenderStateIsApplied) {
    EXPECT_TRUE(gl.IsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(Integer(GL_DEPTH_FUNC), GL_LEQUAL);
    EXPECT_TRUE(gl.IsEnabled(GL_CULL_FACE));
    EXPECT_EQ(Integer(GL_CULL_FACE_MODE), GL_BACK);
    EXPECT_FALSE(gl.IsEnabled(GL_BLEND));
    EXPECT_EQ(Integer(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(Integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(Integer(GL_ALPHA_TEST_FUNC), GL_GREATER);
    EXPECT_FALSE(gl.IsEnabled(GL_ALPHA_TEST));
    EXPECT_FALSE(gl.IsEnabled(GL_LIGHTING));
    EXPECT_EQ(Integer(GL_SHADE_MODEL), GL_SMOOTH);
    std::intptr_t v = 0;
    EXPECT_TRUE(RenderStateGet(StateShadeMode, &v));
    EXPECT_EQ(v, 2);
    EXPECT_TRUE(RenderStateGet(StateCullMode, &v));
    EXPECT_EQ(v, 2);
    EXPECT_TRUE(RenderStateGet(StateTextureFilter, &v));
    EXPECT_EQ(v, 2);
}

TEST_F(GlDevice_, StopAndStartAgainMakesAFreshContext) {
    ASSERT_TRUE(EngineStop());
    EXPECT_EQ(gl.Clear, nullptr);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
    ASSERT_TRUE(EngineStart());
    EXPECT_NE(gl.Clear, nullptr);
    EXPECT_TRUE(GlExtensionSupported("GL_ARB_multitexture"));
}

TEST_F(GlDevice_, RefusedFullScreenModeFailsStartWithoutTouchingTheDisplay) {
    ASSERT_TRUE(EngineStop());
    // A mode no display offers, as if the list had held it.
    GlDisplayMode& mode = GlDevice()->modes[0];
    const GlDisplayMode saved = mode;
    mode = GlDisplayMode{1, 12345, 77, 32, 60, saved.format};
    EXPECT_FALSE(EngineStart());
    EXPECT_EQ(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN, 0u);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
    mode = saved;
    ASSERT_TRUE(EngineStart());
}

TEST_F(GlDevice_, CallLogCountsThroughTheTable) {
    GlLogStart();
    gl.Flush();
    gl.Flush();
    gl.Finish();
    EXPECT_EQ(GlLogCount(GlIndexFlush), 2);
    EXPECT_EQ(GlLogCount(GlIndexFinish), 1);
    ASSERT_EQ(GlLogSize(), 3);
    EXPECT_EQ(GlLogAt(2), GlIndexFinish);
    EXPECT_STREQ(GlFunctionName(GlIndexFinish), "Finish");
    GlLogStop();
    gl.Flush();
    EXPECT_EQ(GlLogCount(GlIndexFlush), 2);
}

}  // namespace
}  // namespace kv::test
