#include "app/skel/sdl/device_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/skel/sdl/platform.h"
#include "app_handler.h"
#include "engine/image/charset.h"
#include "test_device.h"

namespace kv {
namespace {

using test::TestDevice;

class Dialog : public ::testing::Test {
  protected:
    DeviceDialog d;
    ShellSettings settings{"t", 320, 240, 0, 0};
    int32 fullScreen = 0;

    void SetUp() override {
        TestDevice::Reset();
        TestDevice::UseTwoDisplays();
        // The dialog runs on an opened engine, before it starts.
        ASSERT_TRUE(test::EngineUp({.device = TestDevice::Interface, .start = false}));
    }
    void TearDown() override { test::EngineDown(); }
    void Open() {
        ASSERT_TRUE(DeviceDialogPrepare(&d));
        DeviceDialogInit(&d);
    }
    void Click(int32 control, int32 dx = 4, int32 dy = 4) {
        const DialogRect r = DeviceDialogControlRect(control);
        DeviceDialogMouseDown(&d, r.x + dx, r.y + dy);
    }
    int32 Press(int32 button) {
        const DialogRect r = DeviceDialogControlRect(button);
        DeviceDialogMouseDown(&d, r.x + 2, r.y + 2);
        return DeviceDialogMouseUp(&d, r.x + 3, r.y + 3);
    }
    // Clicks row `row` of the open list.
    void ClickRow(int32 row) {
        int32 rows = 0;
        const DialogRect r = DeviceDialogOpenListRect(&d, &rows);
        DeviceDialogMouseDown(&d, r.x + 10, r.y + 1 + row * 16 + 8);
    }
};

TEST_F(Dialog, ListsTheSubSystemsAndModesWithTheCurrentOnesSelected) {
    Open();
    ASSERT_EQ(d.subSystems.size(), 2u);
    EXPECT_EQ(d.subSystems[1].text, "Display 2");
    EXPECT_EQ(d.subSystemItem, 0);
    ASSERT_EQ(d.modes.size(), 2u);
    EXPECT_EQ(d.modes[0].text, "640 x 480 x 32 ");
    EXPECT_EQ(d.modes[1].text, "800 x 600 x 16 (Fullscreen)");
    EXPECT_EQ(d.modeItem, 0);
    EXPECT_EQ(d.chosenMode, 0);
    EXPECT_EQ(d.focus, DialogSubSystemList);
}

TEST_F(Dialog, SubSystemsAreCountedAndCutToSixteen) {
    TestDevice::modes.assign(20, {{640, 480, 32, 0}});
    TestDevice::currentMode.assign(20, 0);
    Open();
    EXPECT_EQ(d.subSystems.size(), 16u);

    TestDevice::modes.clear();
    DeviceDialog none;
    EXPECT_FALSE(DeviceDialogPrepare(&none));
}

TEST_F(Dialog, AnotherSubSystemIsSelectedAtOnceAndBringsItsModes) {
    Open();
    DeviceDialogSelect(&d, DialogSubSystemList, 0);
    EXPECT_TRUE(TestDevice::Arguments(DeviceSetSubSystem).empty()) << "the same sub-system again changes nothing";

    DeviceDialogSelect(&d, DialogSubSystemList, 1);
    EXPECT_EQ(TestDevice::Arguments(DeviceSetSubSystem), std::vector<int32>{1});
    EXPECT_EQ(TestDevice::subSystem, 1);
    ASSERT_EQ(d.modes.size(), 3u);
    EXPECT_EQ(d.modes[0].text, "1024 x 768 x 32 (Fullscreen)");
    EXPECT_EQ(d.chosenMode, 1);
    EXPECT_EQ(d.modeItem, 1);

    DeviceDialogSelect(&d, DialogModeList, 2);
    EXPECT_EQ(d.chosenMode, 2);
    DeviceDialogSelect(&d, DialogModeList, 3);  // no such item
    EXPECT_EQ(d.chosenMode, 2);
}

TEST_F(Dialog, AWindowedModeChosenInTheDialogIsTheWindowsSizeWithoutItTheApplicationsStays) {
    Open();
    ASSERT_TRUE(DeviceDialogApply(&d, &settings, &fullScreen));
    EXPECT_EQ(settings.width, 320) << "no dialog shown (-vms, no display)";
    EXPECT_EQ(settings.height, 240);
    EXPECT_EQ(fullScreen, 0);

    // "640 x 480 x 32 " picked by a person: the window takes that size.
    d.shown = true;
    ASSERT_TRUE(DeviceDialogApply(&d, &settings, &fullScreen));
    EXPECT_EQ(settings.width, 640);
    EXPECT_EQ(settings.height, 480);
    EXPECT_EQ(fullScreen, 0);
}

TEST_F(Dialog, AFullScreenModeBecomesTheClientSize) {
    Open();
    DeviceDialogSelect(&d, DialogSubSystemList, 1);
    TestDevice::subSystem = 0;  // as if something moved it meanwhile
    ASSERT_TRUE(DeviceDialogApply(&d, &settings, &fullScreen));
    EXPECT_EQ(TestDevice::subSystem, 1);
    EXPECT_EQ(TestDevice::currentMode[1], 1);
    EXPECT_EQ(settings.width, 640);
    EXPECT_EQ(settings.height, 480);
    EXPECT_EQ(fullScreen, 1);
}

TEST_F(Dialog, FailingToSelectFailsTheStep) {
    Open();
    TestDevice::failing = {DeviceUseMode};
    EXPECT_FALSE(DeviceDialogApply(&d, &settings, &fullScreen));
    TestDevice::failing = {DeviceSetSubSystem};
    d.subSystem = 5;  // the engine's own answer only knows sub-system 0
    EXPECT_FALSE(DeviceDialogApply(&d, &settings, &fullScreen));
}

TEST_F(Dialog, KeyboardMovesFocusSelectsAndCloses) {
    Open();
    const int32 order[] = {DialogModeList, DialogOk, DialogExit, DialogSubSystemList};
    for (int32 next : order) {
        EXPECT_EQ(DeviceDialogKey(&d, DialogKeyTab), DialogStaysOpen);
        EXPECT_EQ(d.focus, next);
    }
    DeviceDialogKey(&d, DialogKeyBackTab);
    EXPECT_EQ(d.focus, DialogExit);
    DeviceDialogKey(&d, DialogKeyTab);

    // Arrows on the closed sub-system list change it at once.
    DeviceDialogKey(&d, DialogKeyDown);
    EXPECT_EQ(TestDevice::subSystem, 1);
    DeviceDialogKey(&d, DialogKeyDown);
    EXPECT_EQ(d.subSystemItem, 1) << "the last item stays";
    DeviceDialogKey(&d, DialogKeyHome);
    EXPECT_EQ(TestDevice::subSystem, 0);

    // The open mode list moves a mark; Escape drops it, Enter takes it.
    DeviceDialogKey(&d, DialogKeyTab);
    DeviceDialogKey(&d, DialogKeyDropDown);
    EXPECT_EQ(d.openList, DialogModeList);
    DeviceDialogKey(&d, DialogKeyDown);
    EXPECT_EQ(d.highlight, 1);
    EXPECT_EQ(DeviceDialogKey(&d, DialogKeyEscape), DialogStaysOpen);
    EXPECT_EQ(d.openList, DialogNoControl);
    EXPECT_EQ(d.chosenMode, 0);
    DeviceDialogKey(&d, DialogKeyDropDown);
    DeviceDialogKey(&d, DialogKeyEnd);
    EXPECT_EQ(DeviceDialogKey(&d, DialogKeyEnter), DialogStaysOpen);
    EXPECT_EQ(d.chosenMode, 1);

    EXPECT_EQ(DeviceDialogKey(&d, DialogKeyEnter), DialogClosedOk);
    d.focus = DialogExit;
    EXPECT_EQ(DeviceDialogKey(&d, DialogKeyEnter), DialogClosedExit);
    EXPECT_EQ(DeviceDialogKey(&d, DialogKeySpace), DialogClosedExit);
    d.focus = DialogOk;
    EXPECT_EQ(DeviceDialogKey(&d, DialogKeySpace), DialogClosedOk);
    EXPECT_EQ(DeviceDialogKey(&d, DialogKeyEscape), DialogClosedExit);
}

TEST_F(Dialog, MouseOpensListsPicksRowsAndPressesButtons) {
    Open();
    Click(DialogModeList);
    EXPECT_EQ(d.focus, DialogModeList);
    EXPECT_EQ(d.openList, DialogModeList);
    ClickRow(1);
    EXPECT_EQ(d.openList, DialogNoControl);
    EXPECT_EQ(d.chosenMode, 1);

    // A click outside an open list closes it and picks nothing.
    Click(DialogSubSystemList);
    EXPECT_EQ(d.openList, DialogSubSystemList);
    DeviceDialogMouseDown(&d, 1, kDialogHeight - 1);
    EXPECT_EQ(d.openList, DialogNoControl);
    EXPECT_EQ(TestDevice::subSystem, 0);

    // Hovering marks a row; the wheel only scrolls.
    Click(DialogSubSystemList);
    int32 rows = 0;
    const DialogRect r = DeviceDialogOpenListRect(&d, &rows);
    EXPECT_EQ(rows, 2);
    EXPECT_LE(r.y + r.h, kDialogHeight);
    DeviceDialogMouseMove(&d, r.x + 5, r.y + 1 + 16 + 3);
    EXPECT_EQ(d.highlight, 1);
    DeviceDialogWheel(&d, -1);
    EXPECT_EQ(d.scrollTop, 0) << "two rows fit: nothing to scroll";
    ClickRow(1);
    EXPECT_EQ(TestDevice::subSystem, 1);

    // A button acts only when released over itself.
    const DialogRect ok = DeviceDialogControlRect(DialogOk);
    DeviceDialogMouseDown(&d, ok.x + 2, ok.y + 2);
    EXPECT_EQ(d.pressed, DialogOk);
    EXPECT_EQ(DeviceDialogMouseUp(&d, ok.x + ok.w + 5, ok.y), DialogStaysOpen);
    EXPECT_EQ(Press(DialogOk), DialogClosedOk);
    EXPECT_EQ(Press(DialogExit), DialogClosedExit);
}

TEST_F(Dialog, ALongListScrollsToKeepTheMarkInView) {
    TestDevice::modes[0].clear();
    for (int32 i = 0; i < 40; ++i) TestDevice::modes[0].push_back({100 + i, 100, 32, 0});
    Open();
    d.focus = DialogModeList;
    DeviceDialogKey(&d, DialogKeyDropDown);
    int32 rows = 0;
    const DialogRect r = DeviceDialogOpenListRect(&d, &rows);
    EXPECT_GE(r.y, 0);
    EXPECT_LE(r.y + r.h, kDialogHeight);
    EXPECT_LT(rows, 40);
    DeviceDialogKey(&d, DialogKeyEnd);
    EXPECT_EQ(d.highlight, 39);
    EXPECT_EQ(d.scrollTop, 40 - rows);
    DeviceDialogKey(&d, DialogKeyPageUp);
    EXPECT_EQ(d.highlight, 39 - rows);
    DeviceDialogKey(&d, DialogKeyHome);
    EXPECT_EQ(d.scrollTop, 0);
    DeviceDialogWheel(&d, -3);
    EXPECT_EQ(d.scrollTop, 3);
    ClickRow(0);
    EXPECT_EQ(d.chosenMode, 3);
}

// The pixels of character c drawn by the dialog at (x, y) in colour ink.
bool GlyphAt(const std::vector<uint32>& px, int32 x, int32 y, char c, uint32 ink) {
    const uint8* g = CharsetGlyph(c);
    if (g == nullptr) return false;
    for (int32 j = 0; j < kCharsetGlyphHeight; ++j) {
        for (int32 i = 0; i < kCharsetGlyphWidth; ++i) {
            const bool on = (g[j] & (1 << i)) != 0;
            if (on != (px[(y + j) * kDialogWidth + x + i] == ink)) return false;
        }
    }
    return true;
}

TEST_F(Dialog, DrawsTheLabelAndTheChoicesInTheFont) {
    Open();
    std::vector<uint32> px(kDialogWidth * kDialogHeight, 0x12345678);
    DeviceDialogDraw(&d, px.data());
    for (uint32 p : px) ASSERT_NE(p, 0x12345678u) << "every pixel is drawn";
    const std::string label = "Please select the device to use:";
    for (std::size_t i = 0; i < label.size(); ++i) {
        EXPECT_TRUE(GlyphAt(px, 14 + 8 * static_cast<int32>(i), 12, label[i], 0xFF000000)) << label[i];
    }
    // The open list shows each mode's text on its own row.
    d.focus = DialogModeList;
    DeviceDialogKey(&d, DialogKeyDropDown);
    DeviceDialogDraw(&d, px.data());
    int32 rows = 0;
    const DialogRect r = DeviceDialogOpenListRect(&d, &rows);
    const std::string second = d.modes[1].text;
    for (std::size_t i = 0; i < second.size(); ++i) {
        EXPECT_TRUE(GlyphAt(px, r.x + 4 + 8 * static_cast<int32>(i), r.y + 1 + 16 + 1, second[i], 0xFF000000));
    }
}

TEST_F(Dialog, SelectDeviceWithoutADisplayTakesTheCurrentChoices) {
    // No video running: even with the flag set no dialog is shown, so this
    // cannot wait for a person.
    TestDevice::subSystem = 1;
    ShellSettings* s = ShellGetSettings();
    s->width = 320;
    s->height = 240;
    PlatformGetRecord()->fullScreen = 0;
    ASSERT_TRUE(PlatformSelectDevice(1));
    EXPECT_EQ(s->width, 640);
    EXPECT_EQ(s->height, 480);
    EXPECT_EQ(PlatformGetRecord()->fullScreen, 1);
    PlatformResetRecord();

    TestDevice::modes.clear();
    EXPECT_FALSE(PlatformSelectDevice(0));
}

}  // namespace
}  // namespace kv
