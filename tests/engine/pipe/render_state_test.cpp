#include "engine/pipe/render_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/pipe/pipeline_module.h"
#include "error_log.h"
#include "test_device.h"

namespace kv {
namespace {

using test::TestDevice;

class RenderStates : public test::TestDeviceTest {
  protected:
    // Render states in a table; a state not in it cannot be read.
    void Configure() override { TestDevice::KeepRenderStates(); }
};

TEST_F(RenderStates, TheModuleDefaultIsTheDocumentedRecord) {
    const RenderStateRecord* d = PipelineModuleDefaultRenderState();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->flags, 7u);
    EXPECT_EQ(d->shadeMode, 2);
    EXPECT_EQ(d->srcBlend, 5);
    EXPECT_EQ(d->destBlend, 6);
    EXPECT_EQ(d->textureRaster, nullptr);
    EXPECT_EQ(d->addressU, 1);
    EXPECT_EQ(d->addressV, 1);
    EXPECT_EQ(d->filter, 2);
    EXPECT_EQ(d->borderColour, 0xFFFFFFFFu);
    EXPECT_EQ(d->fogType, 0);
    EXPECT_EQ(d->fogColour, 0xFFFFFFFFu);
    EXPECT_EQ(d->state18, 0);

    RenderStateRecord* r = RenderStateCreate(false);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::memcmp(r, d, sizeof(RenderStateRecord)), 0);
    EXPECT_TRUE(TestDevice::stateQueries.empty()) << "no capture asked for";
    EXPECT_TRUE(RenderStateDestroy(r));
}

TEST_F(RenderStates, CaptureReadsTheDeviceAndBothAddressModesFromState2) {
    int raster = 0;
    TestDevice::states = {{StateTextureRaster, reinterpret_cast<std::intptr_t>(&raster)},
                          {StateTextureAddress, 3},
                          {StateTexturePerspective, 1},
                          {StateZTestEnable, 0},
                          {StateZWriteEnable, 1},
                          {StateVertexAlphaEnable, 1},
                          {19, 1},
                          {StateShadeMode, 1},
                          {StateSrcBlend, 2},
                          {StateDestBlend, 9},
                          {StateTextureFilter, 6},
                          {StateBorderColour, 0x11223344},
                          {StateFogType, 3},
                          {StateFogColour, 0x55667788},
                          {18, 4}};
    RenderStateRecord* r = RenderStateCreate(true);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->flags, 1u | 4u | 8u | 32u);
    EXPECT_EQ(r->textureRaster, &raster);
    EXPECT_EQ(r->addressU, 3);
    EXPECT_EQ(r->addressV, 3);
    EXPECT_EQ(r->shadeMode, 1);
    EXPECT_EQ(r->srcBlend, 2);
    EXPECT_EQ(r->destBlend, 9);
    EXPECT_EQ(r->filter, 6);
    EXPECT_EQ(r->borderColour, 0x11223344u);
    EXPECT_EQ(r->fogType, 3);
    EXPECT_EQ(r->fogColour, 0x55667788u);
    EXPECT_EQ(r->state18, 4);
    EXPECT_EQ(std::count(TestDevice::stateQueries.begin(), TestDevice::stateQueries.end(), StateTextureAddressU), 0);
    RenderStateDestroy(r);
}

TEST_F(RenderStates, CaptureFallsBackToTheSeparateAddressModesAndKeepsUnreadableStates) {
    TestDevice::states = {{StateTextureAddressU, 3}, {StateTextureAddressV, 1}, {StateZTestEnable, 0}};
    RenderStateRecord* r = RenderStateCreate(true);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->addressU, 3);
    EXPECT_EQ(r->addressV, 1);
    EXPECT_EQ(r->flags, 1u | 4u) << "only the depth test was read (off)";
    EXPECT_EQ(r->shadeMode, 2);
    EXPECT_EQ(r->fogColour, 0xFFFFFFFFu);
    RenderStateDestroy(r);
}

TEST_F(RenderStates, CreateNeedsAStartedEngineAndDestroyARecord) {
    test::ErrorLog log;
    EXPECT_FALSE(RenderStateDestroy(nullptr));
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
    EngineStop();
    EXPECT_EQ(RenderStateCreate(true), nullptr);
    EXPECT_TRUE(log.Has(0, static_cast<int32>(0x80000018u)));
    ASSERT_TRUE(EngineStart());
}

}  // namespace
}  // namespace kv
