// The panel under on-screen text, on the recording device: where it is drawn,
// in which states, after the text batched before it, the states put back; and
// the contrast measure against the published values.
#include "app/skel/text_panel.h"

#include <gtest/gtest.h>

#include "text_fixture.h"

namespace kv::test {
namespace {

TEST(Contrast, FollowsTheWcagDefinitions) {
    constexpr RGBA white{255, 255, 255, 255}, black{0, 0, 0, 255};
    EXPECT_FLOAT_EQ(RelativeLuminance(white), 1.0f);
    EXPECT_FLOAT_EQ(RelativeLuminance(black), 0.0f);
    EXPECT_NEAR(ContrastRatio(white, black), 21.0f, 1e-4f);
    EXPECT_NEAR(ContrastRatio(black, white), 21.0f, 1e-4f) << "either order";
    EXPECT_FLOAT_EQ(ContrastRatio(RGBA{90, 20, 200, 255}, RGBA{90, 20, 200, 255}), 1.0f);
    // Mid greys of the usual examples: #767676 on white just passes 4.5 : 1,
    // #777777 just fails it.
    EXPECT_GT(ContrastRatio(RGBA{0x76, 0x76, 0x76, 255}, white), 4.5f);
    EXPECT_LT(ContrastRatio(RGBA{0x77, 0x77, 0x77, 255}, white), 4.5f);
    // Green weighs most, blue least.
    EXPECT_GT(RelativeLuminance(RGBA{0, 255, 0, 255}), RelativeLuminance(RGBA{255, 0, 0, 255}));
    EXPECT_GT(RelativeLuminance(RGBA{255, 0, 0, 255}), RelativeLuminance(RGBA{0, 0, 255, 255}));
}

TEST(Contrast, ThePanelOverWhiteKeepsLightTextReadable) {
    const RGBA lightest = TextPanelBrightest();
    EXPECT_EQ(lightest, (RGBA{38, 38, 38, 255})) << "black at 217/255 over white";
    EXPECT_GT(ContrastRatio(RGBA{200, 200, 200, 255}, lightest), 9.0f);
}

class Panel : public TextTest {};

TEST_F(Panel, IsDrawnAfterTheTextBatchedBeforeItInItsOwnStatesWhichArePutBack) {
    ASSERT_NE(Begin(320, 240), nullptr);
    const RGBA fg{200, 200, 200, 255}, bg{0, 0, 0, 0};
    Raster* set = CharsetCreate(&fg, &bg);
    ASSERT_NE(set, nullptr);
    ASSERT_NE(CharsetPrintBuffered(set, "under", 10, 10, false), nullptr);
    TestDevice::draws.clear();
    const std::map<int32, std::intptr_t> before = TestDevice::states;

    ASSERT_TRUE(TextPanelAround(50, 20, 10, 2, 8, 14));
    ASSERT_EQ(TestDevice::draws.size(), 2u);
    EXPECT_FALSE(TestDevice::draws[0].indices.empty()) << "the text batched first";
    const TestDevice::Draw& panel = TestDevice::draws[1];
    EXPECT_EQ(panel.type, PrimTypeTriFan);
    ASSERT_EQ(panel.vertices.size(), 4u);
    // Ten cells by two rows, with the margins.
    EXPECT_EQ(panel.vertices[0].x, 50.0f - kTextPanelMarginX);
    EXPECT_EQ(panel.vertices[0].y, 20.0f - kTextPanelMarginY);
    EXPECT_EQ(panel.vertices[2].x, 50.0f + 80.0f + kTextPanelMarginX);
    EXPECT_EQ(panel.vertices[2].y, 20.0f + 28.0f + kTextPanelMarginY);
    for (const Im2DVertex& v : panel.vertices) {
        EXPECT_EQ(v.a, kTextPanelColour.alpha);
        EXPECT_EQ(v.r, kTextPanelColour.red);
    }
    // Untextured, blended by its alpha, on top of everything.
    EXPECT_EQ(panel.states.at(StateTextureRaster), 0);
    EXPECT_EQ(panel.states.at(StateVertexAlphaEnable), 1);
    EXPECT_EQ(panel.states.at(StateSrcBlend), 5);
    EXPECT_EQ(panel.states.at(StateDestBlend), 6);
    EXPECT_EQ(panel.states.at(StateZTestEnable), 0);
    EXPECT_EQ(TestDevice::states, before) << "the states as they were";

    EXPECT_FALSE(TextPanelDraw(0, 0, 0, 10)) << "nothing to draw";
    End();
    EXPECT_FALSE(TextPanelDraw(0, 0, 10, 10)) << "no camera being drawn";
    CharsetDestroy(set);
}

}  // namespace
}  // namespace kv::test
