// The menu and the help page drawn by OpenGL, looked at: a test menu with an
// entry of every kind, a selected, a disabled and a separator entry and
// "(more)" above and below, and the help page with the program's own help
// text. Both are written as PNG files to look at.
#include <string>

#include "app/skel/menu.h"
#include "engine/image/charset.h"
#include "engine/image/png_write.h"
#include "engine/world/logo.h"
#include "gl_fixture.h"

namespace kv::test {
namespace {

constexpr RGBA kFg{200, 200, 200, 255}, kBg{64, 64, 64, 0};
constexpr int32 kW = 8, kH = 14;

int32 Available(int32 query) { return query == kMenuQueryAvailable ? 0 : 1; }
int32 Fine(int32) { return 1; }

class GlMenu : public GlTest {
  protected:
    void BeforeOpen() override { ASSERT_TRUE(LogoPluginAttach()); }
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_TRUE(CharsetOpen());
        ASSERT_NE(MakeWindowCamera(), nullptr);
        const V2d view{0.5f, 0.375f};
        CameraSetViewWindow(camera, &view);
        ShellSetDataFolders(folders);
        ASSERT_TRUE(MenuOpen(1, &kFg, &kBg));
    }
    void TearDown() override {
        MenuClose();
        ShellSetDataFolders(nullptr);
        CharsetClose();
        GlTest::TearDown();
    }
    // One frame as the program draws it.
    void Frame() {
        ASSERT_NE(CameraClear(camera, &kBg, ClearImage | ClearZ), nullptr);
        ASSERT_NE(CameraBeginUpdate(camera), nullptr);
        MenuRender(camera, nullptr);
        ASSERT_NE(CameraEndUpdate(camera), nullptr);
    }
    static void Press(int32 key) {
        KeyboardRecord r{0, key};
        MenuKeyboard(EventKeyDown, &r);
        MenuKeyboard(EventKeyUp, &r);
    }
    // Pixels of exactly this colour in the rectangle.
    static int32 Count(RGBA c, int32 x0, int32 y0, int32 x1, int32 y1) {
        const std::vector<uint8> p = Picture();
        int32 n = 0;
        for (int32 y = y0; y < y1; ++y) {
            for (int32 x = x0; x < x1; ++x) {
                const uint8* q = &p[static_cast<std::size_t>((kHeight - 1 - y) * kWidth + x) * 4];
                n += q[0] == c.red && q[1] == c.green && q[2] == c.blue ? 1 : 0;
            }
        }
        return n;
    }
    // The program's help text where it is written.
    const char* const folders[2] = {KV_ASSETS_DIR, nullptr};
    int32 values[40] = {};
    float numbers[2] = {0.25f, 12.5f};
};

TEST_F(GlMenu, ATestMenuOfEveryKindScrolledToTheMiddle) {
    static const char* const quality[] = {"Draft", "Fine", "Best"};
    ASSERT_TRUE(MenuAddInt("Resolution", &values[0], nullptr, 1, 32, 1, nullptr));
    values[0] = 9;
    ASSERT_TRUE(MenuAddAction("Tessellate_T", Fine));
    ASSERT_TRUE(MenuAddFloat("Exposure", &numbers[0], Fine, 0.01f, 1.0f, 0.01f));
    ASSERT_TRUE(MenuAddToggle("Preview_P", &values[1], Fine));
    ASSERT_TRUE(MenuAddSeparator());
    ASSERT_TRUE(MenuAddInt("Quality", &values[2], nullptr, 0, 2, 1, quality));
    ASSERT_TRUE(MenuAddToggle("Not here_N", &values[3], Available));
    ASSERT_TRUE(MenuAddFloat("Angle", &numbers[1], nullptr, -90.0f, 90.0f, 0.5f));
    ASSERT_TRUE(MenuAddAction("Show helpF1", Fine));
    for (int32 i = 4; i < 40; ++i) {
        if (i % 9 == 0) {
            ASSERT_TRUE(MenuAddSeparator());
        } else {
            ASSERT_TRUE(MenuAddToggle(("Option " + std::to_string(i)).c_str(), &values[i], nullptr));
        }
    }
    // Down to the end, then back up into the middle: entries hidden both ways.
    Frame();
    for (int32 i = 0; i < 44; ++i) {
        Press(KeyDown);
        Frame();
    }
    for (int32 i = 0; i < 35; ++i) {
        Press(KeyUp);
        Frame();
    }
    EXPECT_TRUE(RasterWritePNG(colour, "menu_gl.png"));

    LogoRect logo{};
    ASSERT_TRUE(LogoGetRect(&logo));
    const int32 rows = kHeight / kH - 2 - logo.height / kH;
    const MenuPalette* palette = MenuGetPalette();
    // "(more)" in the separator colour on the first row and on the last.
    EXPECT_GT(Count(palette->separator, 0, kH, kWidth, 2 * kH), 20);
    EXPECT_GT(Count(palette->separator, 0, rows * kH, kWidth, rows * kH + kH), 20);
    // The selection's bar: a run of its colour a line long.
    EXPECT_GT(Count(palette->selectedBar, 3 * kW, 2 * kH, 3 * kW + 2, kHeight), 13);
    // Text never reaches the logo, and the logo is there.
    EXPECT_EQ(Count(kFg, 0, logo.y, kWidth, kHeight), 0);
    EXPECT_LT(Count(kBg, logo.x, logo.y, logo.x + logo.width, logo.y + logo.height), logo.width * logo.height);
    // Nothing between glyphs: the last column of every cell of text is empty.
    int32 stray = 0;
    for (int32 x = 3 * kW + 7; x < kWidth; x += kW) stray += Count(kFg, x, kH, x + 1, logo.y);
    EXPECT_EQ(stray, 0);
}

TEST_F(GlMenu, TheHelpPageWithTheProgramsHelpText) {
    ASSERT_GT(MenuHelpLineCount(), 50) << "the program's help from " << KV_ASSETS_DIR;
    EXPECT_STREQ(MenuHelpLine(0), "KV3 SKYDOME CREATOR - HELP");
    int32 unused = 0;
    ASSERT_TRUE(MenuAddToggle("Sky_S", &unused, nullptr));
    ASSERT_TRUE(MenuSetMode(MenuModeHelp));
    // The logo's place is known from the first frame's end on.
    Frame();
    Frame();
    EXPECT_TRUE(RasterWritePNG(colour, "help_gl.png"));
    // The first line in the text colour, each glyph where the font has it,
    // on the dark panel, with a line of 78 characters fitting the width.
    const int32 left = (kWidth - kMenuHelpColumns * kW) / 2;
    const RGBA panel = Pixel(left - 2, kH + 7);
    EXPECT_LT(panel.red, kBg.red) << "a darker panel under the text";
    const char* first = MenuHelpLine(0);
    int32 bad = 0;
    for (int32 i = 0; first[i] != '\0'; ++i) {
        const uint8* g = CharsetGlyph(first[i]);
        for (int32 y = 0; y < kH; ++y) {
            for (int32 x = 0; x < kW; ++x) {
                const bool on = ((g[y] >> x) & 1) != 0;
                bad += SameColour(Pixel(left + i * kW + x, kH + y), on ? kFg : panel) ? 0 : 1;
            }
        }
    }
    EXPECT_EQ(bad, 0);
    // No logo over the help page: only the page and the panel's edge there.
    LogoRect logo{};
    ASSERT_TRUE(LogoGetRect(&logo));
    EXPECT_EQ(Count(kBg, logo.x, logo.y, logo.x + logo.width, logo.y + logo.height) +
                  Count(panel, logo.x, logo.y, logo.x + logo.width, logo.y + logo.height),
              logo.width * logo.height);

    // A page down and back.
    Press(KeyPageDown);
    Frame();
    EXPECT_TRUE(RasterWritePNG(colour, "help_gl_page2.png"));
    EXPECT_GT(Count(kFg, 0, kH, kWidth, 2 * kH), 0);
}

}  // namespace
}  // namespace kv::test
