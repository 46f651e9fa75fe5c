// Render states: the shadow spares OpenGL repeated calls, the tables reach
// the right enumerants, textures carry their sampling state.
#include <cstring>

#include "gl_fixture.h"

namespace kv::test {
namespace {

class GlRenderState : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_NE(MakeWindowCamera(), nullptr);
        ASSERT_NE(CameraBeginUpdate(camera), nullptr);
    }
    void TearDown() override {
        RenderStateSet(StateTextureRaster, 0);
        for (Raster* t : textures) RasterDestroy(t);
        GlTest::TearDown();
    }
    Raster* Texture(int32 w, int32 h, int32 format) {
        Raster* t = RasterCreate(w, h, 0, RasterTypeTexture | format);
        if (t != nullptr) {
            textures.push_back(t);
            // Give the texture its pixels so that it is complete.
            if (uint8* p = RasterLock(t, 0, RasterLockWrite)) {
                std::memset(p, 0xFF, static_cast<std::size_t>(t->stride) * t->height);
                RasterUnlock(t);
            }
        }
        return t;
    }
    static GLint TexParameter(GLenum what) {
        GLint v = 0;
        gl.GetTexParameteriv(GL_TEXTURE_2D, what, &v);
        return v;
    }
    std::vector<Raster*> textures;
};

TEST_F(GlRenderState, UnchangedValuesMakeNoCalls) {
    GlLogStart();
    EXPECT_TRUE(RenderStateSet(StateShadeMode, 1));
    EXPECT_TRUE(RenderStateSet(StateShadeMode, 1));
    EXPECT_EQ(GlLogCount(GlIndexShadeModel), 1);
    EXPECT_EQ(Integer(GL_SHADE_MODEL), GL_FLAT);
    EXPECT_TRUE(RenderStateSet(StateShadeMode, 2));
    EXPECT_EQ(GlLogCount(GlIndexShadeModel), 2);
    EXPECT_FALSE(RenderStateSet(StateShadeMode, 3));
    EXPECT_EQ(GlLogCount(GlIndexShadeModel), 2);

    EXPECT_TRUE(RenderStateSet(StateZTestEnable, 0));
    EXPECT_TRUE(RenderStateSet(StateZTestEnable, 0));
    EXPECT_EQ(GlLogCount(GlIndexDepthFunc), 1);
    EXPECT_EQ(Integer(GL_DEPTH_FUNC), GL_ALWAYS);
    EXPECT_TRUE(RenderStateSet(StateZWriteEnable, 0));
    EXPECT_TRUE(RenderStateSet(StateZWriteEnable, 0));
    EXPECT_EQ(GlLogCount(GlIndexDepthMask), 1);
    EXPECT_TRUE(RenderStateSet(StateSrcBlend, 5));  // already the default
    EXPECT_EQ(GlLogCount(GlIndexBlendFunc), 0);
}

TEST_F(GlRenderState, TextureAlphaDrivesAlphaTestAndBlending) {
    Raster* rgba = Texture(8, 8, RasterFormat8888);
    Raster* rgb = Texture(8, 8, RasterFormat888);
    ASSERT_TRUE(rgba && rgb);
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(rgba)));
    EXPECT_TRUE(gl.IsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(gl.IsEnabled(GL_ALPHA_TEST));
    EXPECT_EQ(Integer(GL_ALPHA_TEST_FUNC), GL_GREATER);
    GLfloat ref = -1.0f;
    gl.GetFloatv(GL_ALPHA_TEST_REF, &ref);
    EXPECT_EQ(ref, 0.0f);
    EXPECT_TRUE(gl.IsEnabled(GL_BLEND));
    EXPECT_EQ(static_cast<GLuint>(Integer(GL_TEXTURE_BINDING_2D)), GlRasterExt(rgba)->textureName);

    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(rgb)));
    EXPECT_FALSE(gl.IsEnabled(GL_ALPHA_TEST));
    EXPECT_FALSE(gl.IsEnabled(GL_BLEND));
    EXPECT_EQ(static_cast<GLuint>(Integer(GL_TEXTURE_BINDING_2D)), GlRasterExt(rgb)->textureName);

    // Vertex alpha keeps blending on whatever the texture.
    ASSERT_TRUE(RenderStateSet(StateVertexAlphaEnable, 1));
    EXPECT_TRUE(gl.IsEnabled(GL_BLEND));
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(rgba)));
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, 0));
    EXPECT_FALSE(gl.IsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(gl.IsEnabled(GL_ALPHA_TEST));
    EXPECT_TRUE(gl.IsEnabled(GL_BLEND));
    ASSERT_TRUE(RenderStateSet(StateVertexAlphaEnable, 0));
    EXPECT_FALSE(gl.IsEnabled(GL_BLEND));
    std::intptr_t v = -1;
    EXPECT_TRUE(RenderStateGet(StateTextureRaster, &v));
    EXPECT_EQ(v, 0);
}

TEST_F(GlRenderState, FilterOnATextureWithoutMipLevels) {
    Raster* t = Texture(16, 16, RasterFormat8888);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(t)));
    ASSERT_TRUE(RenderStateSet(StateTextureFilter, 6));
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(TexParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    ASSERT_TRUE(RenderStateSet(StateTextureFilter, 3));
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(TexParameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    // Without levels 3 and 4 sample the nearest texel, 5 and 6 blend.
    ASSERT_TRUE(RenderStateSet(StateTextureFilter, 4));
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(TexParameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    ASSERT_TRUE(RenderStateSet(StateTextureFilter, 5));
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(TexParameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    std::intptr_t v = 0;
    EXPECT_TRUE(RenderStateGet(StateTextureFilter, &v));
    EXPECT_EQ(v, 5);
    EXPECT_FALSE(RenderStateSet(StateTextureFilter, 7));
    EXPECT_FALSE(RenderStateSet(StateTextureFilter, 0));
}

TEST_F(GlRenderState, FilterOnAMipmappedTextureAndRebindingIssuesOnlyDifferences) {
    Raster* mipped = Texture(16, 16, RasterFormat8888 | RasterFormatMipmap | RasterFormatAutoMipmap);
    Raster* plain = Texture(16, 16, RasterFormat8888);
    ASSERT_TRUE(mipped && plain);
    ASSERT_TRUE(RenderStateSet(StateTextureFilter, 6));
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(mipped)));
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
    ASSERT_TRUE(RenderStateSet(StateTextureAddressU, 3));
    EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_S), GL_CLAMP);
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(plain)));
    GlLogStart();
    // Back to a texture that already has these settings: a bind, nothing more.
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(mipped)));
    EXPECT_EQ(GlLogCount(GlIndexBindTexture), 1);
    EXPECT_EQ(GlLogCount(GlIndexTexParameteri), 0);
    // And the first texture took the clamp when it was bound again.
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(plain)));
    EXPECT_EQ(GlLogCount(GlIndexTexParameteri), 0);
    EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_S), GL_CLAMP);
}

TEST_F(GlRenderState, AddressModes) {
    Raster* t = Texture(8, 8, RasterFormat888);
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(t)));
    std::intptr_t v = -1;
    ASSERT_TRUE(RenderStateSet(StateTextureAddressU, 1));
    ASSERT_TRUE(RenderStateSet(StateTextureAddressV, 3));
    EXPECT_TRUE(RenderStateGet(StateTextureAddress, &v));
    EXPECT_EQ(v, 0);
    EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_T), GL_CLAMP);
    ASSERT_TRUE(RenderStateSet(StateTextureAddress, 3));
    EXPECT_TRUE(RenderStateGet(StateTextureAddress, &v));
    EXPECT_EQ(v, 3);
    // A refused value changes nothing.
    EXPECT_FALSE(RenderStateSet(StateTextureAddress, 2));
    EXPECT_FALSE(RenderStateSet(StateTextureAddressU, 0));
    EXPECT_TRUE(RenderStateGet(StateTextureAddressU, &v));
    EXPECT_EQ(v, 3);
    EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_S), GL_CLAMP);
}

TEST_F(GlRenderState, BlendFactorsStencilCullAndFixedStates) {
    EXPECT_FALSE(RenderStateSet(StateSrcBlend, 3));   // colour of the source as its own factor
    EXPECT_FALSE(RenderStateSet(StateDestBlend, 9));  // colour of the destination likewise
    EXPECT_FALSE(RenderStateSet(StateSrcBlend, 12));
    ASSERT_TRUE(RenderStateSet(StateSrcBlend, 2));
    ASSERT_TRUE(RenderStateSet(StateDestBlend, 2));
    EXPECT_EQ(Integer(GL_BLEND_SRC), GL_ONE);
    EXPECT_EQ(Integer(GL_BLEND_DST), GL_ONE);
    ASSERT_TRUE(RenderStateSet(StateSrcBlend, 11));
    EXPECT_EQ(Integer(GL_BLEND_SRC), GL_SRC_ALPHA_SATURATE);

    // No stencil bits in this pixel format: enabling fails, the state stays 0.
    EXPECT_FALSE(RenderStateSet(StateStencilEnable, 1));
    std::intptr_t v = -1;
    EXPECT_TRUE(RenderStateGet(StateStencilEnable, &v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(gl.IsEnabled(GL_STENCIL_TEST));
    EXPECT_TRUE(RenderStateSet(StateStencilEnable, 0));
    EXPECT_TRUE(RenderStateSet(StateStencilFunction, 8));
    EXPECT_EQ(Integer(GL_STENCIL_FUNC), GL_GREATER);
    EXPECT_FALSE(RenderStateSet(StateStencilFail, 7));

    ASSERT_TRUE(RenderStateSet(StateCullMode, 3));
    EXPECT_TRUE(gl.IsEnabled(GL_CULL_FACE));
    EXPECT_EQ(Integer(GL_CULL_FACE_MODE), GL_FRONT);
    ASSERT_TRUE(RenderStateSet(StateCullMode, 1));
    EXPECT_FALSE(gl.IsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(RenderStateSet(StateCullMode, 4));

    EXPECT_TRUE(RenderStateSet(StateTexturePerspective, 1));
    EXPECT_FALSE(RenderStateSet(StateTexturePerspective, 0));
    EXPECT_TRUE(RenderStateGet(StateTexturePerspective, &v));
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(RenderStateSet(StateBorderColour, 0));
    EXPECT_FALSE(RenderStateSet(19, 0));
    EXPECT_TRUE(RenderStateGet(19, &v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(RenderStateGet(StateBorderColour, &v));
}

TEST_F(GlRenderState, Fog) {
    ASSERT_TRUE(RenderStateSet(StateFogEnable, 1));
    EXPECT_TRUE(gl.IsEnabled(GL_FOG));
    ASSERT_TRUE(RenderStateSet(StateFogColour, static_cast<std::intptr_t>(0xFF336699u)));
    GLfloat c[4] = {};
    gl.GetFloatv(GL_FOG_COLOR, c);
    EXPECT_NEAR(c[0], 0x33 / 255.0f, 1e-5f);
    EXPECT_NEAR(c[1], 0x66 / 255.0f, 1e-5f);
    EXPECT_NEAR(c[2], 0x99 / 255.0f, 1e-5f);
    EXPECT_NEAR(c[3], 1.0f, 1e-5f);
    std::intptr_t v = 0;
    EXPECT_TRUE(RenderStateGet(StateFogColour, &v));
    EXPECT_EQ(static_cast<uint32>(v), 0xFF336699u);
    ASSERT_TRUE(RenderStateSet(StateFogType, 3));
    EXPECT_EQ(Integer(GL_FOG_MODE), GL_EXP2);
    float density = 0.25f;
    GlLogStart();
    ASSERT_TRUE(RenderStateSet(StateFogDensity, reinterpret_cast<std::intptr_t>(&density)));
    ASSERT_TRUE(RenderStateSet(StateFogDensity, reinterpret_cast<std::intptr_t>(&density)));
    EXPECT_EQ(GlLogCount(GlIndexFogf), 1);
    // The camera gives fog its start and end.
    GLfloat start = 0, end = 0;
    gl.GetFloatv(GL_FOG_START, &start);
    gl.GetFloatv(GL_FOG_END, &end);
    EXPECT_EQ(start, camera->fogPlane);
    EXPECT_EQ(end, camera->farPlane);
}

TEST_F(GlRenderState, DestroyingTheBoundTextureLeavesNoStaleState) {
    Raster* t = Texture(8, 8, RasterFormat8888);
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(t)));
    RasterDestroy(t);
    textures.clear();
    std::intptr_t v = -1;
    EXPECT_TRUE(RenderStateGet(StateTextureRaster, &v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(gl.IsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(gl.IsEnabled(GL_ALPHA_TEST));
}

// Blits, clears, uploads and read-backs change GL state the render states
// cache; afterwards GL must hold exactly what the render-state module says it
// holds, and the render states must still be what they were set to.
TEST_F(GlRenderState, TheDevicesOwnWorkLeavesGlAsTheRenderStatesKnowIt) {
    Raster* opaque = Texture(16, 16, RasterFormat888);
    Raster* alpha = Texture(16, 16, RasterFormat8888);
    ASSERT_NE(opaque, nullptr);
    ASSERT_NE(alpha, nullptr);
    ASSERT_TRUE(RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(opaque)));
    ASSERT_TRUE(RenderStateSet(StateTextureAddress, 1));
    ASSERT_TRUE(RenderStateSet(StateTextureFilter, 1));
    ASSERT_TRUE(RenderStateSet(StateZWriteEnable, 0));
    ASSERT_TRUE(RenderStateSet(StateCullMode, 3));
    ASSERT_TRUE(RenderStateSet(StateFogEnable, 1));
    ASSERT_TRUE(RenderStateSet(StateSrcBlend, 2));
    ASSERT_TRUE(RenderStateSet(StateDestBlend, 2));
    ASSERT_TRUE(RenderStateSet(StateVertexAlphaEnable, 1));

    // Blits of both kinds of texture, scaled and fast, a clear of a rectangle
    // and of the camera, a write into a texture and a read back from one.
    Raster* target = CameraGetRaster(camera);
    ASSERT_NE(RasterPushContext(target), nullptr);
    const Rect scaled{8, 8, 32, 16};
    const Rect corner{0, 0, 8, 8};
    EXPECT_NE(RasterRender(alpha, 4, 4), nullptr);
    EXPECT_NE(RasterRenderScaled(opaque, &scaled), nullptr);
    EXPECT_NE(RasterRenderFast(alpha, 40, 4), nullptr);
    EXPECT_NE(RasterClearRect(&corner, 0x11223344), nullptr);
    ASSERT_NE(RasterPopContext(), nullptr);
    const RGBA grey{64, 64, 64, 255};
    EXPECT_NE(CameraClear(camera, &grey, ClearImage | ClearZ), nullptr);
    if (uint8* p = RasterLock(alpha, 0, RasterLockWrite)) {
        p[0] = 1;
        RasterUnlock(alpha);
    }
    EXPECT_NE(RasterLock(opaque, 0, RasterLockRead), nullptr);
    RasterUnlock(opaque);

    const GlStateHeld held = GlStateSave();
    const std::pair<uint32, GLenum> caps[] = {
        {GlCapBlend, GL_BLEND},    {GlCapAlphaTest, GL_ALPHA_TEST}, {GlCapTexture2D, GL_TEXTURE_2D},
        {GlCapFog, GL_FOG},        {GlCapStencil, GL_STENCIL_TEST}, {GlCapScissor, GL_SCISSOR_TEST},
        {GlCapCull, GL_CULL_FACE}, {GlCapDepthTest, GL_DEPTH_TEST},
    };
    for (const auto& [cap, name] : caps) {
        EXPECT_EQ(gl.IsEnabled(name) == GL_TRUE, (held.caps & cap) != 0) << "cap " << cap;
    }
    EXPECT_EQ(Integer(GL_DEPTH_WRITEMASK) != 0, held.depthMask);
    EXPECT_EQ(static_cast<GLuint>(Integer(GL_TEXTURE_BINDING_2D)), held.texture);
    EXPECT_EQ(static_cast<GLenum>(Integer(GL_BLEND_SRC)), held.blendSource);
    EXPECT_EQ(static_cast<GLenum>(Integer(GL_BLEND_DST)), held.blendDestination);

    // The render states as set: the opaque texture bound and sampled as asked,
    // depth writes off, front faces culled, fog on, additive blending.
    EXPECT_EQ(held.texture, GlRasterExt(opaque)->textureName);
    EXPECT_EQ(TexParameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(TexParameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_FALSE(held.depthMask);
    EXPECT_TRUE(gl.IsEnabled(GL_CULL_FACE));
    EXPECT_EQ(Integer(GL_CULL_FACE_MODE), GL_FRONT);
    EXPECT_TRUE(gl.IsEnabled(GL_FOG));
    EXPECT_TRUE(gl.IsEnabled(GL_BLEND));
    EXPECT_EQ(Integer(GL_BLEND_SRC), GL_ONE);
    EXPECT_FALSE(gl.IsEnabled(GL_SCISSOR_TEST));
}

}  // namespace
}  // namespace kv::test
