// The tests' device itself: what it is not told to answer must be the null
// device's answer, and what it is told must reach the engine, or every test
// built on it checks something other than it says.
#include "test_device.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/core/engine.h"

namespace kv {
namespace {

using test::TestDevice;

class OnTestDevice : public ::testing::Test {
  protected:
    void SetUp() override { TestDevice::Reset(); }
    void TearDown() override { test::EngineDown(); }
    void Up() { ASSERT_TRUE(test::EngineUp({.device = TestDevice::Interface})); }
};

TEST_F(OnTestDevice, UnconfiguredItAnswersAsTheNullDeviceAndLogsEverything) {
    Up();
    const EngineInstance* e = EngineInstanceGet();
    EXPECT_EQ(e->dOpenDevice.system, TestDevice::System) << "the engine talks to this device, not the null one";
    EXPECT_EQ(e->dOpenDevice.zBufferFar, NullDeviceGetInterface()->zBufferFar);
    EXPECT_EQ(e->dOpenDevice.setRenderState, nullptr);
    EXPECT_EQ(e->dOpenDevice.im2DRenderPrimitive, nullptr);

    EXPECT_EQ(EngineGetNumVideoModes(), 1);
    VideoModeInfo mode{};
    ASSERT_NE(EngineGetVideoModeInfo(&mode, 0), nullptr);
    EXPECT_EQ(mode.width, 640);
    EXPECT_EQ(mode.height, 480);
    EXPECT_EQ(EngineGetCurrentVideoMode(), 0);
    EXPECT_EQ(EngineGetNumSubSystems(), 1) << "the engine's default";

    // Every slot is there, fails as the null device's does, and is logged.
    for (int32 slot = 0; slot < StdNumStandardFunctions; ++slot) EXPECT_FALSE(StandardCall(slot, nullptr, &mode, 7));
    ASSERT_EQ(TestDevice::calls.size(), static_cast<std::size_t>(StdNumStandardFunctions));
    EXPECT_EQ(TestDevice::Last(StdRasterLock)->inOut, &mode);
    EXPECT_EQ(TestDevice::Last(StdRasterLock)->in, 7);
    EXPECT_EQ(TestDevice::Arguments(DeviceGetModeInfo), std::vector<int32>{0});
}

TEST_F(OnTestDevice, ConfiguredAnswersReachTheEngineAndFailuresWin) {
    TestDevice::record.gammaCorrection = 2.0f;
    TestDevice::UseModes({{320, 200, 8, 0}, {800, 600, 16, kVideoModeFullScreen}}, 1);
    Up();
    EXPECT_EQ(EngineInstanceGet()->dOpenDevice.gammaCorrection, 2.0f);
    EXPECT_EQ(EngineGetNumVideoModes(), 2);
    EXPECT_EQ(EngineGetCurrentVideoMode(), 1);
    EXPECT_TRUE(EngineSetVideoMode(0));
    EXPECT_EQ(TestDevice::currentMode[0], 0);
    EXPECT_FALSE(EngineSetVideoMode(2));
    TestDevice::failing.insert(DeviceUseMode);
    EXPECT_FALSE(EngineSetVideoMode(1));

    // A slot's answer can change while the engine runs; a failing slot
    // fails whatever answers it.
    TestDevice::standards[StdRasterClear] = TestDevice::Succeed;
    EXPECT_TRUE(StandardCall(StdRasterClear, nullptr, nullptr, 0));
    TestDevice::failingSlots.insert(StdRasterClear);
    EXPECT_FALSE(StandardCall(StdRasterClear, nullptr, nullptr, 0));
    EXPECT_EQ(TestDevice::Count(StdRasterClear), 2);
}

TEST_F(OnTestDevice, EachDisplayHasItsOwnModesAndNoDisplaysMeansNoModes) {
    TestDevice::UseTwoDisplays();
    Up();
    EXPECT_EQ(EngineGetNumSubSystems(), 2);
    SubSystemInfo info{};
    ASSERT_NE(EngineGetSubSystemInfo(&info, 1), nullptr);
    EXPECT_STREQ(info.name, "Display 2");
    EXPECT_EQ(EngineGetNumVideoModes(), 2);
    ASSERT_TRUE(EngineSetSubSystem(1));
    EXPECT_EQ(EngineGetCurrentSubSystem(), 1);
    EXPECT_EQ(EngineGetNumVideoModes(), 3);
    EXPECT_EQ(EngineGetCurrentVideoMode(), 1);
    EXPECT_FALSE(EngineSetSubSystem(2));
    EXPECT_EQ(TestDevice::Arguments(DeviceSetSubSystem), (std::vector<int32>{1, 2}));

    // Without displays the device offers nothing rather than reading past
    // its lists.
    TestDevice::modes.clear();
    EXPECT_EQ(EngineGetNumSubSystems(), 0);
    VideoModeInfo mode{};
    EXPECT_EQ(EngineGetVideoModeInfo(&mode, 0), nullptr);
    EXPECT_FALSE(EngineSetVideoMode(0));
}

}  // namespace
}  // namespace kv
