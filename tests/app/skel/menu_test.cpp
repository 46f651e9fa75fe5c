// The menu on a recording device: entries and their lines as drawn (read back
// from the glyph quads), shortcuts, changes, navigation, the scroll window
// and "(more)", the mouse, the key repeat on a clock the test turns, the
// modes, the help text and page, and the colours of the character sets.
#include "app/skel/menu.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_handler.h"
#include "engine/world/logo.h"
#include "error_log.h"
#include "text_fixture.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

constexpr int32 kW = 8, kH = 14;
constexpr int32 kX = 3 * kW;  // where menu lines start
// Where help lines start on a 640-pixel raster: a 78-character line fits.
constexpr int32 kHelpX = (640 - 78 * kW) / 2;
constexpr RGBA kFg{200, 200, 200, 255}, kBg{64, 64, 64, 0};

uint32 fakeNow = 0;
uint32 FakeClock() { return fakeNow; }

// Callbacks with a record of what they were told.
struct Calls {
    static inline std::vector<int32> changed;  // entry numbers
    static inline bool available[8] = {true, true, true, true, true, true, true, true};
    static inline bool refuse = false;
    template <int32 N>
    static int32 Callback(int32 query) {
        if (query == kMenuQueryAvailable) return available[N] ? 1 : 0;
        changed.push_back(N);
        return refuse ? 0 : 1;
    }
    static void Reset() {
        changed.clear();
        for (bool& a : available) a = true;
        refuse = false;
    }
};

class Menu : public TextTest {
  protected:
    void SetUp() override {
        TextTest::SetUp();
        Calls::Reset();
        fakeNow = 5000;
        MenuSetClock(FakeClock);
        // Each test in a folder of its own, given as the user's data folder
        // (--data .), with no help file unless it writes one, and no other
        // folder searched.
        home = fs::current_path();
        dir = fs::temp_directory_path() / ("kv_menu_test_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
        ShellSetDataFolders(noFolders);
        ShellSetUserDataFolder(".");
        ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    }
    void TearDown() override {
        MenuClose();
        MenuSetClock(nullptr);
        ShellSetDataFolders(nullptr);
        ShellSetUserDataFolder(nullptr);
        appHandler = nullptr;
        fs::current_path(home);
        fs::remove_all(dir);
        TextTest::TearDown();
    }

    // The entries of the program's menu, and one of every other kind.
    void AddEntries() {
        ASSERT_TRUE(MenuAddInt("Resolution", &resolution, nullptr, 1, 32, 1, nullptr));
        ASSERT_TRUE(MenuAddAction("Tessellate_T", Calls::Callback<1>));
        ASSERT_TRUE(MenuAddFloat("Exposure", &exposure, Calls::Callback<2>, 0.01f, 1.0f, 0.01f));
        ASSERT_TRUE(MenuAddToggle("Preview_P", &preview, Calls::Callback<3>));
        ASSERT_TRUE(MenuAddSeparator());
        ASSERT_TRUE(MenuAddInt("Detail", &detail, Calls::Callback<4>, 0, 2, 1, kDetailNames));
        ASSERT_TRUE(MenuAddAction("Save dome_X", Calls::Callback<5>));
        ASSERT_TRUE(MenuAddAction("Help pageF1", Calls::Callback<6>));
    }
    static constexpr const char* kDetailNames[] = {"Low", "Medium", "High"};

    // One frame of the menu on a width x height camera.
    bool Render(int32 width = 640, int32 height = 480) {
        if (camera == nullptr && Begin(width, height) == nullptr) return false;
        TestDevice::draws.clear();
        return MenuRender(camera, nullptr);
    }
    static int32 Key(int32 event, int32 code) {
        KeyboardRecord r{0, code};
        return MenuKeyboard(event, &r);
    }
    static int32 Press(int32 code) {
        const int32 result = Key(EventKeyDown, code);
        Key(EventKeyUp, code);
        return result;
    }
    // The menu line of display row i (first entry shown on row 0), without
    // the trailing blanks of the selected line's bar.
    static std::string Row(int32 i, int32 top = kH) {
        std::string s = TextAt(top + i * kH, kX);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    }
    // The line of the help page on text row i (from 1).
    static std::string HelpRow(int32 i) { return TextAt(i * kH, kHelpX); }
    // Draws a frame and tells which row the selection is on now (a frame's
    // key repeat moves it after the frame is drawn).
    int32 SelectionNow() {
        if (!Render()) return -1;
        return SelectedRow();
    }
    // The row of the selected entry, from the selected set's bar.
    static int32 SelectedRow() {
        for (const TestDevice::Draw& d : TestDevice::draws) {
            if (d.indices.empty()) continue;  // the panel, not text
            const std::vector<ScreenGlyph> g = Glyphs(d);
            if (!g.empty() && g[0].c == ' ') return g[0].y / kH - 1;  // only the bar draws spaces
        }
        return -1;
    }
    static void WriteFile(const std::string& name, const std::string& text) {
        std::ofstream(name, std::ios::binary) << text;
    }
    // The help is read when the menu opens.
    static void Reopen() {
        MenuClose();
        ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    }

    int32 resolution = 9, preview = 0, detail = 1;
    float exposure = 0.1f;
    static inline const char* const noFolders[] = {nullptr};
    fs::path home, dir;
};

TEST(ColourMix, KeepsTheHueTakesSixTenthsOfTheSaturationAndMixesTheValue) {
    // Greys stay grey: value 0.5 of the way from 64 to 200.
    EXPECT_EQ(ColourMix(RGBA{200, 200, 200, 255}, RGBA{64, 64, 64, 0}, 0.5f), (RGBA{132, 132, 132, 255}));
    EXPECT_EQ(ColourMix(RGBA{200, 200, 200, 255}, RGBA{64, 64, 64, 0}, 0.2f), (RGBA{91, 91, 91, 255}));
    // Cyan on dark blue: hue 0.5, saturation 0.6, value (1 + 0.196) / 2.
    EXPECT_EQ(ColourMix(RGBA{0, 255, 255, 255}, RGBA{0, 0, 50, 0}, 0.5f), (RGBA{61, 153, 153, 255}));
    EXPECT_EQ(ColourMix(RGBA{255, 0, 0, 0}, RGBA{0, 0, 0, 0}, 0.5f), (RGBA{128, 51, 51, 255}));
    // Nearly grey (within 0.05): no hue, so no colour.
    EXPECT_EQ(ColourMix(RGBA{200, 190, 200, 255}, RGBA{200, 190, 200, 255}, 1.0f), (RGBA{200, 200, 200, 255}));
}

TEST_F(Menu, LinesShowLabelShortcutAndValueInColumns) {
    AddEntries();
    ASSERT_TRUE(Render());
    // Label width 10, widest value 6 ("Medium"): lines are 24 wide.
    EXPECT_EQ(Row(0), " Resolution           9");
    EXPECT_EQ(Row(1), " Tessellate [T]       <");
    EXPECT_EQ(Row(2), " Exposure          0.10");
    EXPECT_EQ(Row(3), " Preview    [P]     Off");
    EXPECT_EQ(Row(4), " ----------------------") << "a separator: the dash line one cell in";
    EXPECT_EQ(Row(5), " Detail          Medium");
    EXPECT_EQ(Row(6), " Save dome  [X]       <");
    EXPECT_EQ(Row(7), " Help page  [F1]      <");
    EXPECT_EQ(TextAt(9 * kH, 0), "");
    preview = 1;
    detail = 7;  // outside its names: shown as a number
    ASSERT_TRUE(Render());
    EXPECT_EQ(Row(3), " Preview    [P]      On");
    EXPECT_EQ(Row(5), " Detail               7");
}

TEST_F(Menu, ShortcutsChangeTheirEntryWhateverIsSelectedInEveryMode) {
    AddEntries();
    ASSERT_TRUE(Render());
    ASSERT_EQ(SelectedRow(), 0);
    EXPECT_EQ(Key(EventKeyDown, 'x'), EventHandled);
    EXPECT_EQ(Key(EventKeyUp, 'x'), EventHandled);
    EXPECT_EQ(Key(EventKeyDown, 'X'), EventHandled);
    EXPECT_EQ(Press(KeyF1), EventHandled);
    EXPECT_EQ(Press('p'), EventHandled);
    EXPECT_EQ(Calls::changed, (std::vector<int32>{5, 5, 6, 3}));
    EXPECT_EQ(preview, 1);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 0) << "the selection stays";
    // In the help page and with the menu off too.
    ASSERT_TRUE(MenuSetMode(MenuModeHelp));
    Press('p');
    ASSERT_TRUE(MenuSetMode(MenuModeOff));
    Press('p');
    EXPECT_EQ(preview, 1);
    // A disabled entry's shortcut does nothing.
    Calls::available[5] = false;
    Calls::changed.clear();
    EXPECT_EQ(Press('x'), EventNotHandled);
    EXPECT_TRUE(Calls::changed.empty());
    // A refused change reports failure; the value stays changed.
    Calls::refuse = true;
    EXPECT_EQ(Key(EventKeyDown, 'p'), EventFailed);
    EXPECT_EQ(preview, 0);
}

TEST_F(Menu, LeftAndRightWrapIntegersStopFloatsAndFireActions) {
    AddEntries();
    resolution = 32;
    EXPECT_EQ(Press(KeyRight), EventHandled);
    EXPECT_EQ(resolution, 1);
    Press(KeyLeft);
    EXPECT_EQ(resolution, 32);
    Press(KeyDown);
    Press(KeyDown);  // Exposure
    exposure = 1.0f;
    Press(KeyRight);
    EXPECT_FLOAT_EQ(exposure, 1.0f);
    Press(KeyLeft);
    EXPECT_NEAR(exposure, 0.99f, 1e-6);
    exposure = 0.01f;
    Press(KeyLeft);
    EXPECT_FLOAT_EQ(exposure, 0.01f);
    Press(KeyUp);  // Tessellate
    Press(KeyRight);
    EXPECT_EQ(Calls::changed, (std::vector<int32>{2, 2, 2, 1}));
    // Other keys are the application's.
    EXPECT_EQ(Press('q'), EventNotHandled);
    EXPECT_EQ(Key(EventKeyUp, KeyRight), EventNotHandled);
}

// Mouse records at a pixel of a menu line: row i of the drawn menu (the first
// entry on row 0), x pixels from the line's start.
MouseRecord At(int32 row, int32 x, int32 shift = 0) {
    return MouseRecord{static_cast<float>(kX + x), static_cast<float>(kH * (row + 1) + 5), 0, 0, shift, 0};
}
// Lines are 24 cells wide: the value takes the last ones.
constexpr int32 kOnLabel = 2 * kW, kOnValue = 22 * kW;

TEST_F(Menu, DraggingAFloatThatStartsOnItsLineMovesItByTwoThousandthsOfItsRangeAPixel) {
    AddEntries();
    ASSERT_TRUE(Render());
    exposure = 0.5f;
    MouseRecord press = At(2, kOnLabel);
    EXPECT_EQ(MenuMouse(EventLeftButtonDown, &press), EventHandled);
    MouseRecord move{0, 0, 100, 0, 0, 0};
    EXPECT_EQ(MenuMouse(EventMouseMove, &move), EventHandled);
    EXPECT_NEAR(exposure, 0.5f + 0.198f, 1e-5);
    // Mostly up counts as up: raising the value.
    move = MouseRecord{0, 0, 3, -10, 0, 0};
    MenuMouse(EventMouseMove, &move);
    EXPECT_NEAR(exposure, 0.698f + 0.0198f, 1e-5);
    move = MouseRecord{0, 0, 200, 0, 0, 0};
    MenuMouse(EventMouseMove, &move);
    EXPECT_FLOAT_EQ(exposure, 1.0f) << "clamped";
    EXPECT_EQ(MenuMouse(EventLeftButtonUp, nullptr), EventHandled);
    EXPECT_EQ(MenuMouse(EventMouseMove, &move), EventNotHandled) << "no drag after the button is up";
    EXPECT_EQ(Calls::changed.size(), 3u);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 2) << "the press selected it";

    // Exposure selected, a left drag outside the panel drags it too: its
    // press, its moves and its release are the menu's. The right button's
    // drag there stays the application's.
    exposure = 0.5f;
    press = MouseRecord{400, 300, 0, 0, 0, 0};
    EXPECT_EQ(MenuMouse(EventLeftButtonDown, &press), EventHandled);
    move = MouseRecord{401, 300, 1, -50, 0, 0};
    EXPECT_EQ(MenuMouse(EventMouseMove, &move), EventHandled);
    EXPECT_NEAR(exposure, 0.5f + 0.099f, 1e-5);
    EXPECT_EQ(MenuMouse(EventLeftButtonUp, nullptr), EventHandled);
    EXPECT_EQ(MenuMouse(EventRightButtonDown, &press), EventNotHandled);
    EXPECT_EQ(MenuMouse(EventMouseMove, &move), EventNotHandled);
    EXPECT_EQ(MenuMouse(EventRightButtonUp, nullptr), EventNotHandled);
    EXPECT_NEAR(exposure, 0.599f, 1e-5);
    exposure = 0.5f;
    move = MouseRecord{0, 0, 200, 0, 0, 0};
    // A drag that starts on another entry changes nothing, and is the menu's.
    press = At(0, kOnLabel);
    EXPECT_EQ(MenuMouse(EventLeftButtonDown, &press), EventHandled);
    EXPECT_EQ(MenuMouse(EventMouseMove, &move), EventHandled);
    EXPECT_EQ(MenuMouse(EventLeftButtonUp, nullptr), EventHandled);
    EXPECT_EQ(resolution, 9);
    EXPECT_FLOAT_EQ(exposure, 0.5f);
}

// The application's drag does not end in the menu, whatever the menu selects
// meanwhile (a float entry took every release once).
TEST_F(Menu, OnlyTheReleaseOfAPressTheMenuTookIsTheMenus) {
    AddEntries();
    ASSERT_TRUE(Render());
    Press(KeyDown);  // Tessellate
    MouseRecord press{400, 300, 0, 0, 0, 0};
    ASSERT_EQ(MenuMouse(EventLeftButtonDown, &press), EventNotHandled);
    Press(KeyDown);  // Exposure, mid-drag
    MouseRecord move{405, 300, 5, 0, 0, 0};
    EXPECT_EQ(MenuMouse(EventMouseMove, &move), EventNotHandled);
    EXPECT_EQ(MenuMouse(EventLeftButtonUp, nullptr), EventNotHandled);
    // The right button likewise, and a press of one button does not take the
    // other's release.
    EXPECT_EQ(MenuMouse(EventRightButtonDown, &press), EventNotHandled);
    EXPECT_EQ(MenuMouse(EventRightButtonUp, nullptr), EventNotHandled);
    MouseRecord onMenu = At(5, kOnLabel);
    EXPECT_EQ(MenuMouse(EventRightButtonDown, &onMenu), EventHandled);
    EXPECT_EQ(MenuMouse(EventLeftButtonUp, nullptr), EventNotHandled);
    // A press the menu took stays its own when the menu goes away meanwhile.
    ASSERT_TRUE(MenuSetMode(MenuModeOff));
    EXPECT_EQ(MenuMouse(EventRightButtonUp, nullptr), EventHandled);
    EXPECT_EQ(MenuMouse(EventRightButtonUp, nullptr), EventNotHandled);
}

TEST_F(Menu, AClickSelectsAnEntryAndOnItsValueActsAsRightOrWithShiftAsLeft) {
    AddEntries();
    ASSERT_TRUE(Render());
    const auto click = [](MouseRecord m) {
        const int32 down = MenuMouse(EventLeftButtonDown, &m);
        const int32 up = MenuMouse(EventLeftButtonUp, nullptr);
        return down == EventHandled ? up : down;
    };
    EXPECT_EQ(click(At(3, kOnLabel)), EventHandled);
    EXPECT_EQ(preview, 0) << "the label only selects";
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 3);
    EXPECT_EQ(click(At(3, kOnValue)), EventHandled);
    EXPECT_EQ(preview, 1);
    EXPECT_EQ(click(At(0, kOnValue, 1)), EventHandled);
    EXPECT_EQ(resolution, 8) << "Shift: as Left";
    EXPECT_EQ(click(At(5, kOnValue)), EventHandled);
    EXPECT_EQ(detail, 2);
    EXPECT_EQ(click(At(1, kOnValue)), EventHandled);
    EXPECT_EQ(Calls::changed, (std::vector<int32>{3, 4, 1})) << "the action fired";
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 1);
    // A float's value: a step, as Right.
    exposure = 0.5f;
    click(At(2, kOnValue));
    EXPECT_NEAR(exposure, 0.51f, 1e-6);

    // The separator and the margin of the menu's panel are the menu's but do
    // nothing; a disabled entry is not selected.
    Calls::changed.clear();
    EXPECT_EQ(click(At(4, kOnValue)), EventHandled);
    EXPECT_EQ(click(MouseRecord{static_cast<float>(kX - 2), static_cast<float>(kH + 5), 0, 0, 0, 0}), EventHandled);
    Calls::available[4] = false;
    ASSERT_TRUE(Render());
    EXPECT_EQ(click(At(5, kOnValue)), EventHandled);
    EXPECT_EQ(detail, 2);
    EXPECT_TRUE(Calls::changed.empty());
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 2);
    // Pressed on a value and let go off it: nothing changes.
    MouseRecord m = At(3, kOnValue);
    MenuMouse(EventLeftButtonDown, &m);
    MouseRecord away = At(3, kOnLabel);
    away.dx = -160;
    MenuMouse(EventMouseMove, &away);
    MenuMouse(EventLeftButtonUp, nullptr);
    EXPECT_EQ(preview, 1);
    // Nothing is hit before the menu was drawn, nor where it is not.
    EXPECT_EQ(click(MouseRecord{300, 5 * kH, 0, 0, 0, 0}), EventNotHandled);
    EXPECT_EQ(click(MouseRecord{static_cast<float>(kX + 10), 20 * kH, 0, 0, 0, 0}), EventNotHandled);
}

TEST_F(Menu, TheWheelOverAValueChangesItAndElsewhereMovesTheSelection) {
    AddEntries();
    ASSERT_TRUE(Render());
    int32 backward = 0, forward = 1;
    // Before the pointer was seen anywhere: the selection.
    EXPECT_EQ(MenuMouse(EventMouseWheel, &backward), EventHandled);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 1);
    MouseRecord over = At(0, kOnValue);
    EXPECT_EQ(MenuMouse(EventMouseMove, &over), EventNotHandled) << "a move without a press is the application's";
    EXPECT_EQ(MenuMouse(EventMouseWheel, &forward), EventHandled);
    EXPECT_EQ(resolution, 10);
    EXPECT_EQ(MenuMouse(EventMouseWheel, &backward), EventHandled);
    EXPECT_EQ(MenuMouse(EventMouseWheel, &backward), EventHandled);
    EXPECT_EQ(resolution, 8);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 0) << "the wheel selected what it changed";
    // Over a label, and away from the menu: the selection moves.
    over = At(0, kOnLabel);
    MenuMouse(EventMouseMove, &over);
    MenuMouse(EventMouseWheel, &backward);
    MenuMouse(EventMouseWheel, &backward);
    over = MouseRecord{500, 400, 0, 0, 0, 0};
    MenuMouse(EventMouseMove, &over);
    MenuMouse(EventMouseWheel, &backward);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 3);
    MenuMouse(EventMouseWheel, &forward);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 2);
    EXPECT_EQ(resolution, 8);
}

TEST_F(Menu, NavigationSkipsSeparatorsAndDisabledEntriesAndStopsAtTheEnds) {
    AddEntries();
    Calls::available[4] = false;  // Detail
    Press(KeyUp);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 0) << "stays at the top";
    for (int32 i = 0; i < 3; ++i) Press(KeyDown);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 3);
    Press(KeyDown);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 6) << "past the separator and the disabled entry";
    Press(KeyDown);
    Press(KeyDown);
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 7) << "stays at the bottom";
    // The disabled entry is drawn in the dimmed set, the separator in its
    // own, the selection as a bar in the selected set.
    std::vector<Raster*> setOfRow(8, nullptr);
    int32 barGlyphs = 0;
    for (const ScreenGlyph& g : AllGlyphs()) {
        setOfRow[static_cast<std::size_t>(g.y / kH - 1)] = g.set;
        barGlyphs += g.y == 8 * kH ? 1 : 0;
    }
    EXPECT_EQ(barGlyphs, 24) << "every cell of the selected line, spaces too";
    EXPECT_NE(setOfRow[5], setOfRow[0]);
    EXPECT_NE(setOfRow[4], setOfRow[0]);
    EXPECT_NE(setOfRow[4], setOfRow[5]);
    EXPECT_NE(setOfRow[7], setOfRow[0]);
    // The panel under the menu first, then three sets in use besides the
    // main one, one batch each.
    ASSERT_EQ(TestDevice::draws.size(), 5u);
    EXPECT_TRUE(TestDevice::draws[0].indices.empty());
    EXPECT_EQ(TestDevice::draws[0].states.at(StateTextureRaster), 0);

    // When the selected entry becomes unavailable the selection moves up.
    Calls::available[6] = false;
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 6);
}

TEST_F(Menu, WithNothingAvailableTheSelectionShowsDisabledAndChangesNothing) {
    ASSERT_TRUE(MenuAddAction("One", Calls::Callback<0>));
    ASSERT_TRUE(MenuAddSeparator());
    ASSERT_TRUE(MenuAddAction("Two", Calls::Callback<1>));
    Calls::available[0] = Calls::available[1] = false;
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), -1) << "no bar";
    EXPECT_EQ(Row(0), " One        <");
    EXPECT_EQ(Press(KeyRight), EventHandled);
    EXPECT_EQ(Press(KeyDown), EventHandled);
    EXPECT_TRUE(Calls::changed.empty());
    Calls::available[1] = true;
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectedRow(), 2) << "the selection goes to what became available";
}

TEST_F(Menu, MoreIsShownOnlyWhenEntriesAreHidden) {
    // 480 / 14 - 2 = 32 rows, of which 30 hold entries.
    static int32 values[40];
    for (int32 i = 0; i < 30; ++i) ASSERT_TRUE(MenuAddToggle("Entry", &values[i], nullptr));
    ASSERT_TRUE(Render());
    for (const ScreenGlyph& g : AllGlyphs()) ASSERT_NE(g.c, '(') << "nothing hidden, no (more)";
    EXPECT_EQ(Row(29), " Entry      Off");

    ASSERT_TRUE(MenuAddToggle("Entry", &values[30], nullptr));
    ASSERT_TRUE(Render());
    const int32 width = 5 + 3 + 8;
    const int32 centre = kX + (width - 6) * kW / 2;
    EXPECT_EQ(TextAt(32 * kH, centre), "(more)");
    EXPECT_EQ(Row(29), " Entry      Off");
    EXPECT_EQ(Row(30), "");

    // At the last entry the list has scrolled: "(more)" at the top, entries
    // from the second row.
    for (int32 i = 0; i < 30; ++i) Press(KeyDown);
    ASSERT_TRUE(Render());
    EXPECT_EQ(TextAt(kH, centre), "(more)");
    EXPECT_EQ(TextAt(32 * kH, centre), "");
    EXPECT_EQ(SelectedRow(), 30);
    EXPECT_EQ(Row(0, 2 * kH), " Entry      Off");
}

TEST_F(Menu, AHeldKeyRepeatsAfter700MsEvery50MsAtMostOncePerFrame) {
    static int32 values[20];
    for (int32 i = 0; i < 20; ++i) ASSERT_TRUE(MenuAddToggle("Entry", &values[i], nullptr));
    ASSERT_TRUE(Render());
    fakeNow = 10000;
    Key(EventKeyDown, KeyDown);
    // Frames every 10 ms for one second.
    for (fakeNow = 10010; fakeNow <= 11000; fakeNow += 10) ASSERT_TRUE(Render());
    // Once at the press, then at 700, 750, ..., 1000 ms.
    fakeNow = 11000;
    EXPECT_EQ(SelectionNow(), 1 + 7);
    Key(EventKeyUp, KeyDown);
    for (; fakeNow <= 12000; fakeNow += 10) ASSERT_TRUE(Render());
    EXPECT_EQ(SelectionNow(), 8) << "released: no more";

    // Frames 200 ms apart: one step per frame, from the frame at 800 ms.
    const uint32 pressed = fakeNow;
    Key(EventKeyDown, KeyDown);
    for (fakeNow = pressed + 200; fakeNow <= pressed + 1800; fakeNow += 200) ASSERT_TRUE(Render());
    fakeNow = pressed + 1800;
    EXPECT_EQ(SelectionNow(), 9 + 6);
    Key(EventKeyUp, KeyDown);
    // Frames that stopped for more than a second do not repeat the key.
    Key(EventKeyDown, KeyUp);
    fakeNow += 1500;
    EXPECT_EQ(SelectionNow(), 14);
    EXPECT_EQ(SelectionNow(), 14);
    // Shift pressed with it neither repeats nor stops the repeat.
    Key(EventKeyUp, KeyUp);
    Key(EventKeyDown, KeyUp);
    Key(EventKeyDown, KeyLShift);
    fakeNow += 750;
    ASSERT_TRUE(Render());
    EXPECT_EQ(SelectionNow(), 12);
}

TEST_F(Menu, SpaceCyclesTheModesAndAMenuWithoutEntriesShowsItsHelp) {
    EXPECT_EQ(MenuGetMode(), MenuModeMenu);
    EXPECT_TRUE(MenuSetMode(MenuModeOff));
    EXPECT_TRUE(MenuSetMode(MenuModeMenu));
    EXPECT_EQ(MenuGetMode(), MenuModeHelp) << "no entries";
    ErrorLog log;
    EXPECT_FALSE(MenuSetMode(3));
    EXPECT_TRUE(log.Has(kModuleNone, kErrOutOfRange));
    AddEntries();
    ASSERT_TRUE(MenuSetMode(MenuModeMenu));
    EXPECT_EQ(Press(' '), EventHandled);
    EXPECT_EQ(MenuGetMode(), MenuModeHelp);
    Press(' ');
    EXPECT_EQ(MenuGetMode(), MenuModeOff);
    EXPECT_FALSE(Render()) << "off: nothing drawn";
    EXPECT_TRUE(TestDevice::draws.empty());
    EXPECT_EQ(Press(KeyDown), EventNotHandled);
    Press(' ');
    EXPECT_EQ(MenuGetMode(), MenuModeMenu);
}

TEST_F(Menu, BadEntriesAreRefusedAndAddNothing) {
    static const char* const incomplete[] = {"a", nullptr, "c"};
    int32 v = 0;
    float f = 0.0f;
    EXPECT_FALSE(MenuAddToggle(nullptr, &v, nullptr));
    EXPECT_FALSE(MenuAddToggle("x", nullptr, nullptr));
    EXPECT_FALSE(MenuAddInt("x", &v, nullptr, 3, 2, 1, nullptr));
    EXPECT_FALSE(MenuAddInt("x", &v, nullptr, 0, 2, 1, incomplete));
    EXPECT_FALSE(MenuAddFloat("x", &f, nullptr, 1.0f, 0.0f, 0.1f));
    EXPECT_FALSE(MenuAddFloat("x", nullptr, nullptr, 0.0f, 1.0f, 0.1f));
    EXPECT_FALSE(MenuAddAction(nullptr, nullptr));
    EXPECT_TRUE(MenuSetMode(MenuModeOff));
    EXPECT_TRUE(MenuSetMode(MenuModeMenu));
    EXPECT_EQ(MenuGetMode(), MenuModeHelp) << "still no entries";
}

TEST_F(Menu, ARasterUnderThreeRowsHighShowsNoMenu) {
    AddEntries();
    EXPECT_FALSE(Render(640, 42));
    EXPECT_TRUE(TestDevice::draws.empty());
}

// --- The help text and page ---------------------------------------------------

TEST_F(Menu, HelpComesFromReadmeElseWinInTheUsersFolderElseTheDataFolders) {
    EXPECT_EQ(MenuHelpLineCount(), 1);
    EXPECT_STREQ(MenuHelpLine(0), "Cannot open help file");

    const fs::path data = dir / "data";
    fs::create_directories(data);
    std::ofstream(data / "readme.txt") << "from the data folder\n";
    const std::string folder = data.string() + "/";
    const char* const folders[] = {"/nonexistent/", folder.c_str(), nullptr};
    ShellSetDataFolders(folders);
    Reopen();
    EXPECT_STREQ(MenuHelpLine(0), "from the data folder");
    WriteFile("win.txt", "from win\n");
    Reopen();
    EXPECT_STREQ(MenuHelpLine(0), "from win");
    WriteFile("readme.txt", "from readme\nsecond\tline\x01\xE9!\r\n\nfourth");
    Reopen();
    ASSERT_EQ(MenuHelpLineCount(), 4);
    EXPECT_STREQ(MenuHelpLine(0), "from readme");
    EXPECT_STREQ(MenuHelpLine(1), "second line  !") << "control and 8-bit characters become spaces";
    EXPECT_STREQ(MenuHelpLine(2), "");
    EXPECT_STREQ(MenuHelpLine(3), "fourth");
}

TEST_F(Menu, LongHelpLinesGoOnInTheNextLines) {
    std::string words = "  A long line";
    while (words.size() < 200) words += " of words";
    const std::string word(170, 'w');
    WriteFile("readme.txt", words + "\n" + word + "\nend\n");
    MenuClose();
    ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    std::string joined;
    int32 i = 0;
    for (; i < MenuHelpLineCount(); ++i) {
        const std::string line = MenuHelpLine(i);
        ASSERT_LE(line.size(), 78u);
        if (line.find('w') == 0) break;
        // Broken after a word; the rest indented like the line's start.
        EXPECT_EQ(line.rfind("  ", 0), 0u) << line;
        EXPECT_NE(line.back(), ' ');
        joined += (joined.empty() ? "" : " ") + line.substr(2);
    }
    EXPECT_EQ("  " + joined, words);
    EXPECT_GE(i, 3);
    // A word longer than a line is cut into pieces of 78.
    ASSERT_EQ(MenuHelpLineCount(), i + 4);
    EXPECT_EQ(std::string(MenuHelpLine(i)), word.substr(0, 78));
    EXPECT_EQ(std::string(MenuHelpLine(i + 1)), word.substr(78, 78));
    EXPECT_EQ(std::string(MenuHelpLine(i + 2)), word.substr(156));
    EXPECT_STREQ(MenuHelpLine(i + 3), "end");
}

// A help line is at most 78 characters: it is drawn whole wherever a raster
// is wide enough for it, on a panel as wide as the page.
TEST_F(Menu, AHelpLineOf78CharactersIsDrawnWhole) {
    std::string line;
    for (int32 i = 0; i < 78; ++i) line += static_cast<char>('a' + i % 26);
    WriteFile("readme.txt", line + "\n");
    MenuClose();
    ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    ASSERT_TRUE(MenuSetMode(MenuModeHelp));
    for (const int32 width : {640, 1000, 630, 600}) {
        if (camera != nullptr) {
            End();
            CameraDestroy(camera);
            FrameDestroy(frame);
            RasterDestroy(raster);
            camera = nullptr;
        }
        ASSERT_TRUE(Render(width, 480));
        const std::vector<ScreenGlyph> glyphs = AllGlyphs();
        ASSERT_FALSE(glyphs.empty());
        const int32 left = glyphs.front().x;
        // Three cells in when the line fits after them, else centred, else at
        // the left edge and cut at the right.
        EXPECT_EQ(left, width == 1000 ? 3 * kW : width >= 78 * kW ? (width - 78 * kW) / 2 : 0) << width;
        const std::string shown = TextAt(kH, left);
        EXPECT_EQ(shown, width >= 78 * kW ? line : line.substr(0, static_cast<std::size_t>(width / kW))) << width;
        // Under it, the panel.
        ASSERT_FALSE(TestDevice::draws.empty());
        const TestDevice::Draw& panel = TestDevice::draws.front();
        ASSERT_TRUE(panel.indices.empty());
        EXPECT_LE(panel.vertices[0].x, static_cast<float>(left));
        EXPECT_GE(panel.vertices[2].x, static_cast<float>(std::min(width, left + 78 * kW)));
        EXPECT_LE(panel.vertices[0].y, static_cast<float>(kH));
        EXPECT_GE(panel.vertices[2].y, static_cast<float>(2 * kH));
    }
}

TEST_F(Menu, HelpLongerThanTheTableStopsThereAndSaysSo) {
    std::string text;
    for (int32 i = 0; i < 1600; ++i) text += "line " + std::to_string(i) + "\n";
    WriteFile("readme.txt", text);
    MenuClose();
    ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    ASSERT_EQ(MenuHelpLineCount(), 1500);
    EXPECT_STREQ(MenuHelpLine(1498), "line 1498");
    EXPECT_NE(std::string(MenuHelpLine(1499)).find("1500 lines"), std::string::npos) << MenuHelpLine(1499);
    EXPECT_EQ(MenuHelpLine(1500), nullptr);

    // Exactly 1500 lines: all of them, no note.
    text.clear();
    for (int32 i = 0; i < 1500; ++i) text += "line " + std::to_string(i) + "\n";
    WriteFile("readme.txt", text);
    MenuClose();
    ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    ASSERT_EQ(MenuHelpLineCount(), 1500);
    EXPECT_STREQ(MenuHelpLine(1499), "line 1499");
}

// A file of NULs or blanks makes no lines, so the line cap alone never ends
// it (a link to /dev/zero would be read for ever, a file of gigabytes for
// seconds): the bytes are capped too, and a NUL counts like any character.
TEST_F(Menu, HelpStopsAtItsSizeCapWhateverTheBytes) {
    const std::size_t over = kMenuHelpMaxBytes + 4096;
    WriteFile("readme.txt", std::string(over, '\0'));
    Reopen();
    ASSERT_EQ(MenuHelpLineCount(), 2);
    EXPECT_STREQ(MenuHelpLine(0), "") << "one line of blanks";
    EXPECT_STREQ(MenuHelpLine(1), "[The help stops here: the file is larger than 1 MB.]");

    const char start[] = "first\nx\0y\n";
    std::string text(start, sizeof start - 1);
    text += std::string(over, ' ') + "\nnever shown\n";
    WriteFile("readme.txt", text);
    Reopen();
    ASSERT_EQ(MenuHelpLineCount(), 4);
    EXPECT_STREQ(MenuHelpLine(0), "first");
    EXPECT_STREQ(MenuHelpLine(1), "x y") << "a NUL is a character, shown as a space";
    EXPECT_STREQ(MenuHelpLine(2), "");
    EXPECT_STREQ(MenuHelpLine(3), "[The help stops here: the file is larger than 1 MB.]");

    // Exactly the cap: all of it, no note; a byte more, and the note.
    const std::string end = "\nlast line\n";
    WriteFile("readme.txt", std::string(kMenuHelpMaxBytes - end.size(), ' ') + end);
    Reopen();
    ASSERT_EQ(MenuHelpLineCount(), 2);
    EXPECT_STREQ(MenuHelpLine(1), "last line");
    WriteFile("readme.txt", std::string(kMenuHelpMaxBytes - end.size() + 1, ' ') + end);
    Reopen();
    ASSERT_EQ(MenuHelpLineCount(), 3);
    EXPECT_STREQ(MenuHelpLine(1), "last line");
    EXPECT_STREQ(MenuHelpLine(2), "[The help stops here: the file is larger than 1 MB.]");
}

// Only a regular file is a help file: a pipe would hold the program up in
// open() for ever, a device never ends, a folder reads as nothing. Each is
// passed over like a missing file.
TEST_F(Menu, HelpThatIsNoRegularFileIsPassedOver) {
    fs::create_directory(dir / "readme.txt");
    Reopen();
    ASSERT_EQ(MenuHelpLineCount(), 1);
    EXPECT_STREQ(MenuHelpLine(0), "Cannot open help file");
    WriteFile("win.txt", "from win\n");
    Reopen();
    EXPECT_STREQ(MenuHelpLine(0), "from win");

    fs::remove(dir / "readme.txt");
    ASSERT_EQ(mkfifo((dir / "readme.txt").c_str(), 0600), 0);
    Reopen();
    EXPECT_STREQ(MenuHelpLine(0), "from win");

    fs::remove(dir / "readme.txt");
    fs::remove(dir / "win.txt");
    fs::create_symlink("/dev/zero", dir / "readme.txt");
    const fs::path data = dir / "data";
    fs::create_directories(data);
    std::ofstream(data / "readme.txt") << "the program's own\n";
    const std::string folder = data.string() + "/";
    const char* const folders[] = {folder.c_str(), nullptr};
    ShellSetDataFolders(folders);
    Reopen();
    EXPECT_STREQ(MenuHelpLine(0), "the program's own");
}

int32 releasedKeys = 0;

TEST_F(Menu, RunningOutOfMemoryKeepsTheHelpReadSoFar) {
    WriteFile("readme.txt", "one\ntwo\nthree\nfour\n");
    MenuClose();
    // The help lines are the last allocations of opening the menu: count
    // them, then open again with memory for all but the last two.
    FailingMemory::taken = 0;
    ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    ASSERT_EQ(MenuHelpLineCount(), 4);
    const int32 needed = FailingMemory::taken;
    MenuClose();

    // No box for anyone to close: the message goes to stderr. The error box
    // first releases whatever key is held.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    releasedKeys = 0;
    ASSERT_TRUE(InputDeviceRegister(InputKeyboard, [](int32 event, void* data) {
        if (event == EventKeyUp && static_cast<KeyboardRecord*>(data)->keyCode == KeyNull) ++releasedKeys;
        return static_cast<int32>(EventNotHandled);
    }));
    ::testing::internal::CaptureStderr();
    FailingMemory::allowed = needed - 2;
    const bool opened = MenuOpen(1, &kFg, &kBg);
    FailingMemory::allowed = -1;
    const std::string err = ::testing::internal::GetCapturedStderr();
    InputDeviceRegister(InputKeyboard, nullptr);
    unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(opened);
    EXPECT_NE(err.find("Out of memory - not all of help loaded"), std::string::npos) << err;
    EXPECT_EQ(releasedKeys, 1);
    ASSERT_EQ(MenuHelpLineCount(), 2);
    EXPECT_STREQ(MenuHelpLine(1), "two");
}

TEST_F(Menu, TheHelpPageScrollsByLinesAndPagesAndKeepsItsLastPageFull) {
    std::string text;
    for (int32 i = 0; i < 100; ++i) text += "help " + std::to_string(i) + "\n";
    WriteFile("readme.txt", text);
    MenuClose();
    ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    AddEntries();
    ASSERT_TRUE(MenuSetMode(MenuModeHelp));
    ASSERT_TRUE(Render());
    const int32 clears = TestDevice::Count(StdCameraClear);
    EXPECT_EQ(HelpRow(1), "help 0");
    EXPECT_EQ(HelpRow(32), "help 31") << "32 rows";
    EXPECT_EQ(HelpRow(33), "");
    EXPECT_EQ(TextAt(kH, 0), " help 0") << "one cell in, where a whole line of 78 fits";
    Press(KeyDown);
    Press(KeyPageDown);
    ASSERT_TRUE(Render());
    EXPECT_EQ(HelpRow(1), "help 31");
    int32 forward = 1, backward = 0;
    MenuMouse(EventMouseWheel, &forward);
    ASSERT_TRUE(Render());
    EXPECT_EQ(HelpRow(1), "help 29");
    for (int32 i = 0; i < 10; ++i) {
        Press(KeyPageDown);
        MenuMouse(EventMouseWheel, &backward);
    }
    ASSERT_TRUE(Render());
    EXPECT_EQ(HelpRow(1), "help 68") << "the last page is full";
    EXPECT_EQ(HelpRow(32), "help 99");
    for (int32 i = 0; i < 10; ++i) Press(KeyPageUp);
    ASSERT_TRUE(Render());
    EXPECT_EQ(HelpRow(1), "help 0");
    EXPECT_EQ(TestDevice::Count(StdCameraClear), clears + 4) << "each page clears the picture under it";
    // Every key is the help page's; Escape quits.
    std::vector<int32> events;
    appHandler = [&](int32 event, void*) {
        events.push_back(event);
        return static_cast<int32>(EventNotHandled);
    };
    EXPECT_EQ(Press('q'), EventHandled);
    EXPECT_EQ(Press(KeyEsc), EventHandled);
    EXPECT_EQ(events, std::vector<int32>{EventQuit});
}

TEST(PlatformDataFolder, FirstBesideTheProgramThenTheInstalledData) {
    const std::string programFolder = fs::canonical("/proc/self/exe").parent_path().string() + "/";
    ASSERT_NE(PlatformDataFolder(0), nullptr);
    EXPECT_EQ(fs::canonical(PlatformDataFolder(0)).string() + "/", programFolder);
    ASSERT_NE(PlatformDataFolder(1), nullptr);
    EXPECT_EQ(std::string(PlatformDataFolder(1)), std::string(PlatformDataFolder(0)) + "../share/kv3skydome/");
    int32 n = 0;
    while (PlatformDataFolder(n) != nullptr) ++n;
    ASSERT_EQ(n, 3);
    const std::string installed = PlatformDataFolder(2);
    EXPECT_EQ(installed.front(), '/');
    EXPECT_EQ(installed.substr(installed.size() - 12), "/kv3skydome/");
}

// The one order the program's data is looked up in: the user's folder given
// with --data, when there is one, then the platform's folders (or a test's in
// their place). The current folder is never searched of itself.
TEST(ShellDataFolder, TheUsersFolderWhenGivenThenTheProgramsOwn) {
    ShellSetUserDataFolder(nullptr);
    int32 n = 0;
    for (; PlatformDataFolder(n) != nullptr; ++n) EXPECT_STREQ(ShellDataFolder(n), PlatformDataFolder(n));
    EXPECT_EQ(ShellDataFolder(n), nullptr);
    EXPECT_EQ(ShellDataFolder(-1), nullptr);

    const char* const mine[] = {"/a/", "/b/", nullptr};
    ShellSetDataFolders(mine);
    EXPECT_STREQ(ShellDataFolder(0), "/a/");
    EXPECT_STREQ(ShellDataFolder(1), "/b/");
    EXPECT_EQ(ShellDataFolder(2), nullptr);
    EXPECT_EQ(ShellDataFolder(40), nullptr) << "nothing is read past the list's end";

    ShellSetUserDataFolder("/home/me/project");
    EXPECT_STREQ(ShellDataFolder(0), "/home/me/project/") << "a folder's name gets its slash";
    EXPECT_STREQ(ShellDataFolder(1), "/a/");
    EXPECT_STREQ(ShellDataFolder(2), "/b/");
    EXPECT_EQ(ShellDataFolder(3), nullptr);
    ShellSetUserDataFolder("");
    EXPECT_STREQ(ShellDataFolder(0), "/a/");
    ShellSetDataFolders(nullptr);
    EXPECT_STREQ(ShellDataFolder(0), PlatformDataFolder(0));
}

// --- With the logo -----------------------------------------------------------

class MenuWithLogo : public Menu {
  protected:
    void BeforeOpen() override { ASSERT_TRUE(LogoPluginAttach()); }
    // A frame as the program draws it: menu, then the camera's end update
    // (where the logo goes), then the next update.
    bool Frame() {
        if (camera == nullptr) {
            if (Begin(640, 480) == nullptr) return false;
            const V2d view{0.5f, 0.375f};
            CameraSetViewWindow(camera, &view);
        }
        TestDevice::draws.clear();
        const bool drawn = MenuRender(camera, nullptr);
        CameraEndUpdate(camera);
        CameraBeginUpdate(camera);
        return drawn;
    }
};

TEST_F(MenuWithLogo, TheMenuShowsTheLogoKeepsClearOfItAndTheHelpPageHidesIt) {
    static int32 values[40];
    for (int32 i = 0; i < 29; ++i) ASSERT_TRUE(MenuAddToggle("Entry", &values[i], nullptr));
    ASSERT_TRUE(Frame());
    EXPECT_EQ(TestDevice::draws.back().type, PrimTypeTriFan) << "the logo, last";
    EXPECT_EQ(LogoSetCamera(camera, 1), 1) << "the menu turned it on";
    // The logo is 40 high: two rows fewer, 28 entries shown.
    ASSERT_TRUE(Frame());
    EXPECT_EQ(TextAt(30 * kH, kX + (5 + 3 + 8 - 6) * kW / 2), "(more)");
    LogoRect logo{};
    ASSERT_TRUE(LogoGetRect(&logo));
    for (const ScreenGlyph& g : AllGlyphs()) EXPECT_LT(g.y + kH, logo.y) << "text above the logo";

    ASSERT_TRUE(MenuSetMode(MenuModeHelp));
    ASSERT_TRUE(Frame());
    for (const TestDevice::Draw& d : TestDevice::draws) {
        EXPECT_FALSE(d.type == PrimTypeTriFan && d.states.at(StateTextureRaster) != 0) << "no logo over the help";
    }
    ASSERT_TRUE(MenuSetMode(MenuModeOff));
    EXPECT_FALSE(Frame());
    EXPECT_EQ(TestDevice::draws.size(), 1u) << "menu off: the logo alone";
}

}  // namespace
}  // namespace kv::test
