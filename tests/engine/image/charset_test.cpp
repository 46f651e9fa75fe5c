// The font, character-set rasters and batched text on a recording device: the
// quads, their clipping and texture rectangles, batching and the render
// states around each draw.
#include <set>
#include <string>

#include "error_log.h"
#include "text_fixture.h"

namespace kv::test {
namespace {

bool Bit(const uint8* rows, int32 x, int32 y) { return ((rows[y] >> x) & 1) != 0; }

TEST(Font, RowsAreBitZeroLeftmostAndEveryCharacterHasItsOwnGlyph) {
    const uint8 zero[14] = {0x00, 0x00, 0x3E, 0x63, 0x73, 0x7B, 0x6F, 0x67, 0x63, 0x63, 0x3E, 0x00, 0x00, 0x00};
    const uint8 a[14] = {0x00, 0x00, 0x08, 0x1C, 0x36, 0x63, 0x63, 0x7F, 0x63, 0x63, 0x63, 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(zero, zero + 14, CharsetGlyph('0')));
    EXPECT_TRUE(std::equal(a, a + 14, CharsetGlyph('A')));
    // 'A' row 2 is one pixel in the middle: column 3 counted from the left.
    EXPECT_TRUE(Bit(CharsetGlyph('A'), 3, 2));

    std::set<std::vector<uint8>> shapes;
    for (int32 c = 33; c <= 122; ++c) {
        const uint8* g = CharsetGlyph(c);
        ASSERT_NE(g, nullptr) << c;
        std::vector<uint8> rows(g, g + 14);
        int32 ink = 0;
        for (uint8 r : rows) {
            ink += r != 0;
            EXPECT_EQ(r & 0x80, 0) << "column 7 keeps characters apart: '" << static_cast<char>(c) << "'";
        }
        EXPECT_GT(ink, 0) << static_cast<char>(c);
        EXPECT_TRUE(shapes.insert(rows).second) << "'" << static_cast<char>(c) << "' looks like another character";
    }
    for (int32 j = 0; j < 14; ++j) EXPECT_EQ(CharsetGlyph(' ')[j], 0);
    for (int32 c : {0, 31, 123, 126, 200}) EXPECT_EQ(CharsetGlyph(c), nullptr) << c;
}

class Charset : public TextTest {
  protected:
    Raster* Set(RGBA fg, RGBA bg) {
        Raster* s = CharsetCreate(&fg, &bg);
        if (s != nullptr) sets.push_back(s);
        return s;
    }
    void TearDown() override {
        for (Raster* s : sets) CharsetDestroy(s);
        TextTest::TearDown();
    }
    std::vector<Raster*> sets;
};

constexpr RGBA kFg{250, 240, 230, 255}, kBg{10, 20, 30, 0};

TEST_F(Charset, CreateLaysTheGlyphsOutInTheTextureInBothColours) {
    Raster* s = Set(kFg, kBg);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(RasterGetWidth(s), 128);
    EXPECT_EQ(RasterGetHeight(s), 128);
    EXPECT_EQ(RasterGetType(s), RasterTypeTexture);
    CharsetDesc d;
    ASSERT_EQ(CharsetGetDesc(s, &d), s);
    EXPECT_EQ(d.width, 8);
    EXPECT_EQ(d.height, 14);
    EXPECT_EQ(d.count, 91);
    EXPECT_EQ(d.tileWidth, 16);
    EXPECT_EQ(d.tileHeight, 6);

    const std::vector<uint8>& px = *RasterMemory::PixelsOf(s);
    auto at = [&](int32 x, int32 y) {
        const uint8* p = &px[static_cast<std::size_t>(y * 128 + x) * 4];
        return RGBA{p[0], p[1], p[2], p[3]};
    };
    // 'A' is glyph 33: row 2 of the texture, column 1; 'z' is the last, 90.
    for (char c : {'A', 'z', '0'}) {
        const int32 k = c - 32, cx = (k % 16) * 8, cy = (k / 16) * 14;
        for (int32 y = 0; y < 14; ++y) {
            for (int32 x = 0; x < 8; ++x) {
                EXPECT_EQ(at(cx + x, cy + y), Bit(CharsetGlyph(c), x, y) ? kFg : kBg) << c << " " << x << "," << y;
            }
        }
    }
    // Below the six rows of glyphs the texture is background.
    EXPECT_EQ(at(127, 127), kBg);

    ErrorLog log;
    EXPECT_EQ(CharsetCreate(nullptr, &kBg), nullptr);
    EXPECT_TRUE(log.Has(kIdCharsetModule, kErrNullArgument));
    log.errors.clear();
    EXPECT_FALSE(CharsetDestroy(nullptr));
    // The module's errors carry its own id, not the general module's.
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.errors[0].pluginID, kIdCharsetModule);
    EXPECT_EQ(static_cast<uint32>(log.errors[0].errorCode), 0x80000016u);
}

TEST_F(Charset, GlyphQuadsCarryTheCellTheNearDepthAndAWhiteColour) {
    Raster* s = Set(kFg, kBg);
    ASSERT_NE(Begin(640, 480), nullptr);
    ASSERT_EQ(CharsetPrintBuffered(s, "A", 100, 50, false), s);
    EXPECT_TRUE(TestDevice::draws.empty()) << "nothing is drawn before the flush";
    ASSERT_TRUE(CharsetFlush());
    ASSERT_EQ(TestDevice::draws.size(), 1u);
    const TestDevice::Draw& d = TestDevice::draws[0];
    EXPECT_EQ(d.type, PrimTypeTriList);
    ASSERT_EQ(d.vertices.size(), 4u);
    EXPECT_EQ(d.indices, (std::vector<uint32>{0, 1, 2, 0, 2, 3}));
    // (left, top), (left, bottom), (right, bottom), (right, top) on pixel
    // edges; the texture rectangle is 'A''s cell.
    const float xs[4] = {100, 100, 108, 108}, ys[4] = {50, 64, 64, 50};
    const float us[4] = {8, 8, 16, 16}, vs[4] = {28, 42, 42, 28};
    for (int32 i = 0; i < 4; ++i) {
        const Im2DVertex& v = d.vertices[static_cast<std::size_t>(i)];
        EXPECT_FLOAT_EQ(v.x, xs[i]);
        EXPECT_FLOAT_EQ(v.y, ys[i]);
        EXPECT_FLOAT_EQ(v.u * 128.0f, us[i]);
        EXPECT_FLOAT_EQ(v.v * 128.0f, vs[i]);
        EXPECT_FLOAT_EQ(v.z, EngineGetZNear());
        EXPECT_FLOAT_EQ(v.recipZ, 2.0f);  // near plane 0.5
        EXPECT_EQ(v.r & v.g & v.b & v.a, 255);
    }
}

TEST_F(Charset, AStringLongerThanTheBatchIsDrawnInTwoBatches) {
    Raster* s = Set(kFg, kBg);
    // Wide enough for every glyph of the string to be on it.
    ASSERT_NE(Begin(12100, 100), nullptr);
    std::string text;
    for (int32 i = 0; i < 1500; ++i) text += static_cast<char>('A' + i % 26);
    ASSERT_EQ(CharsetPrintBuffered(s, text.c_str(), 0, 10, false), s);
    ASSERT_EQ(TestDevice::draws.size(), 1u) << "the full batch goes at once";
    EXPECT_EQ(TestDevice::draws[0].vertices.size(), 1024u * 4);
    EXPECT_EQ(TestDevice::draws[0].indices.size(), 1024u * 6);
    ASSERT_TRUE(CharsetFlush());
    ASSERT_EQ(TestDevice::draws.size(), 2u);
    EXPECT_EQ(TestDevice::draws[1].vertices.size(), 476u * 4);
    EXPECT_EQ(TestDevice::draws[1].indices.size(), 476u * 6);
    // The second batch goes on where the first stopped.
    const std::vector<ScreenGlyph> second = Glyphs(TestDevice::draws[1]);
    EXPECT_EQ(second[0].x, 1024 * 8);
    EXPECT_EQ(second[0].c, text[1024]);
    EXPECT_EQ(TextAt(10), text);
}

TEST_F(Charset, EachChangeOfSetStartsANewBatch) {
    Raster* a = Set(kFg, kBg);
    Raster* b = Set(kBg, kFg);
    ASSERT_NE(Begin(640, 480), nullptr);
    CharsetPrintBuffered(a, "one", 0, 0, false);
    CharsetPrintBuffered(a, "two", 0, 14, false);
    CharsetPrintBuffered(b, "three", 0, 28, false);
    CharsetPrintBuffered(a, "four", 0, 42, false);
    CharsetFlush();
    ASSERT_EQ(TestDevice::draws.size(), 3u);
    const Raster* expected[3] = {a, b, a};
    const std::size_t glyphs[3] = {6, 5, 4};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reinterpret_cast<Raster*>(TestDevice::draws[i].states.at(StateTextureRaster)), expected[i]);
        EXPECT_EQ(TestDevice::draws[i].vertices.size(), glyphs[i] * 4);
    }
    // Destroying the set the batch holds draws it first.
    CharsetPrintBuffered(b, "five", 0, 56, false);
    ASSERT_TRUE(CharsetDestroy(b));
    sets.erase(sets.begin() + 1);
    EXPECT_EQ(TestDevice::draws.size(), 4u);
    EXPECT_TRUE(CharsetFlush());
    EXPECT_EQ(TestDevice::draws.size(), 4u) << "an empty batch draws nothing";
}

TEST_F(Charset, CellsCrossingTheRasterEdgesAreCutWithTheirTexture) {
    Raster* s = Set(kFg, kBg);
    ASSERT_NE(Begin(640, 480), nullptr);
    // Left edge: the first glyph keeps its right half.
    CharsetPrintBuffered(s, "AB", -4, 100, false);
    // Bottom edge: only the top rows, down to the last row.
    CharsetPrintBuffered(s, "A", 200, 480 - 5, false);
    // Right edge, and cells wholly off the raster make no quad.
    CharsetPrintBuffered(s, "AAAA", 636, 20, false);
    CharsetPrintBuffered(s, "A", 0, 480, false);
    CharsetPrintBuffered(s, "A", 0, -14, false);
    CharsetFlush();
    ASSERT_EQ(TestDevice::draws.size(), 1u);
    const std::vector<Im2DVertex>& v = TestDevice::draws[0].vertices;
    ASSERT_EQ(v.size(), 4u * 4);
    // 'A': cell (8, 28) in the texture.
    EXPECT_FLOAT_EQ(v[0].x, 0.0f);
    EXPECT_FLOAT_EQ(v[2].x, 4.0f);
    EXPECT_FLOAT_EQ(v[0].u * 128.0f, 12.0f);
    EXPECT_FLOAT_EQ(v[2].u * 128.0f, 16.0f);
    EXPECT_FLOAT_EQ(v[4].x, 4.0f) << "'B' follows 8 pixels on";
    EXPECT_FLOAT_EQ(v[4].u * 128.0f, 16.0f);

    EXPECT_FLOAT_EQ(v[8].y, 475.0f);
    EXPECT_FLOAT_EQ(v[9].y, 480.0f);
    EXPECT_FLOAT_EQ(v[8].v * 128.0f, 28.0f);
    EXPECT_FLOAT_EQ(v[9].v * 128.0f, 33.0f) << "five rows of the glyph";

    EXPECT_FLOAT_EQ(v[12].x, 636.0f);
    EXPECT_FLOAT_EQ(v[14].x, 640.0f);
    EXPECT_FLOAT_EQ(v[14].u * 128.0f, 12.0f);
}

TEST_F(Charset, SpacesAreDrawnOnlyWhenAskedAndCharactersWithoutAGlyphAreEmpty) {
    Raster* s = Set(kFg, kBg);
    ASSERT_NE(Begin(640, 480), nullptr);
    CharsetPrintBuffered(s, "a b~c", 0, 0, false);
    CharsetFlush();
    ASSERT_EQ(TestDevice::draws.size(), 1u);
    EXPECT_EQ(TestDevice::draws[0].vertices.size(), 3u * 4);
    EXPECT_EQ(TextAt(0), "a b c");

    TestDevice::draws.clear();
    CharsetPrintBuffered(s, "a b~c", 0, 0, true);
    CharsetFlush();
    ASSERT_EQ(TestDevice::draws.size(), 1u);
    const std::vector<ScreenGlyph> g = Glyphs(TestDevice::draws[0]);
    ASSERT_EQ(g.size(), 5u);
    // The space and the glyph-less '~' both show the space's empty cell.
    EXPECT_EQ(g[1].c, ' ');
    EXPECT_EQ(g[3].c, ' ');
}

TEST_F(Charset, TheDrawSetsTextStatesAndPutsTheCallersBack) {
    Raster* s = Set(kFg, kBg);
    ASSERT_NE(Begin(640, 480), nullptr);
    Raster* other = Set(kBg, kFg);
    RenderStateSet(StateTextureRaster, reinterpret_cast<std::intptr_t>(other));
    const std::map<int32, std::intptr_t> before = TestDevice::states;
    CharsetPrintBuffered(s, "x", 0, 0, false);
    CharsetFlush();
    ASSERT_EQ(TestDevice::draws.size(), 1u);
    const std::map<int32, std::intptr_t>& at = TestDevice::draws[0].states;
    EXPECT_EQ(at.at(StateZTestEnable), 0);
    EXPECT_EQ(at.at(StateZWriteEnable), 0);
    EXPECT_EQ(at.at(StateTextureFilter), 1);
    EXPECT_EQ(at.at(StateTextureRaster), reinterpret_cast<std::intptr_t>(s));
    EXPECT_EQ(at.at(StateSrcBlend), 5);
    EXPECT_EQ(at.at(StateDestBlend), 6);
    EXPECT_EQ(at.at(StateCullMode), 1);
    EXPECT_EQ(TestDevice::states, before);
    // The filter goes back while the set's texture is bound, so the caller's
    // texture is never made nearest.
    std::intptr_t boundTexture = 0;
    for (const auto& [state, value] : TestDevice::stateSets) {
        if (state == StateTextureRaster) boundTexture = value;
        if (state == StateTextureFilter && value == 1) {
            EXPECT_EQ(boundTexture, reinterpret_cast<std::intptr_t>(s));
        }
    }

    // CharsetPrint draws at once, spaces included, with the same states.
    TestDevice::draws.clear();
    EXPECT_EQ(CharsetPrint(s, "a b", 10, 10), s);
    ASSERT_EQ(TestDevice::draws.size(), 1u);
    EXPECT_EQ(TestDevice::draws[0].vertices.size(), 3u * 4);
    EXPECT_EQ(TestDevice::draws[0].states.at(StateTextureFilter), 1);
    EXPECT_EQ(TestDevice::states, before);
}

TEST_F(Charset, PrintingNeedsACameraAndMemory) {
    Raster* s = Set(kFg, kBg);
    ErrorLog log;
    EXPECT_EQ(CharsetPrintBuffered(s, "x", 0, 0, false), nullptr);
    EXPECT_EQ(CharsetPrint(s, "x", 0, 0), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrCoreNoCamera));
    ASSERT_NE(Begin(640, 480), nullptr);
    EXPECT_EQ(CharsetPrintBuffered(s, "", 0, 0, false), nullptr);
    EXPECT_EQ(CharsetPrintBuffered(nullptr, "x", 0, 0, false), nullptr);
    EXPECT_EQ(CharsetPrint(s, nullptr, 0, 0), nullptr);
    EXPECT_TRUE(log.Has(kIdCharsetModule, kErrNullArgument));
    EXPECT_FALSE(log.Has(kModuleNone, kErrNullArgument));

    // The temporary buffers of CharsetPrint.
    FailingMemory::allowed = 1;
    EXPECT_EQ(CharsetPrint(s, "no memory", 0, 0), nullptr);
    EXPECT_TRUE(log.Has(kIdCharsetModule, kErrNoMemory));
    FailingMemory::allowed = -1;
    EXPECT_TRUE(TestDevice::draws.empty());

    // A string far longer than the raster is wide, from far off to the left.
    std::string wide(100000, 'w');
    EXPECT_EQ(CharsetPrint(s, wide.c_str(), -400000, 0), s);
    ASSERT_EQ(TestDevice::draws.size(), 1u);
    EXPECT_EQ(TestDevice::draws[0].vertices.size(), 80u * 4);
}

}  // namespace
}  // namespace kv::test
