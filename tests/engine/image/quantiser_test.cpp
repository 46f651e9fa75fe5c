// The palette quantiser: how many colours it makes, what they are, and how
// pixels map onto them.
#include "engine/image/quantiser.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "reader_fixture.h"

namespace kv {
namespace {

class Quantise : public test::ReaderTest {
  protected:
    void SetUp() override {
        test::ReaderTest::SetUp();
        ASSERT_TRUE(QuantiserCreate(&q));
    }
    void TearDown() override {
        QuantiserDestroy(&q);
        for (Image* image : images) ImageDestroy(image);
        test::ReaderTest::TearDown();
    }
    Image* Make(int32 w, int32 h, const std::vector<RGBA>& pixels) {
        Image* image = ImageCreate(w, h, 32);
        EXPECT_NE(ImageAllocatePixels(image), nullptr);
        for (int32 i = 0; i < w * h; ++i) {
            reinterpret_cast<RGBA*>(image->pixels + (i / w) * image->stride)[i % w] = pixels[i % pixels.size()];
        }
        images.push_back(image);
        return image;
    }
    // Palette index of every pixel, one byte each.
    std::vector<uint8> Map(const Image* image) {
        std::vector<uint8> out(static_cast<std::size_t>(image->width * image->height), 0xEE);
        EXPECT_TRUE(QuantiserMapImage(out.data(), image->width, 8, 0, &q, image));
        return out;
    }
    Quantiser q{};
    std::vector<Image*> images;
    RGBA palette[256];
};

TEST_F(Quantise, ThreeColoursAskedForSixteenGiveThreeExactEntries) {
    const std::vector<RGBA> colours = {{255, 0, 0, 255}, {0, 200, 17, 255}, {1, 2, 3, 4}};
    Image* image = Make(5, 3, colours);
    ASSERT_TRUE(QuantiserAddImage(&q, image, 1.0f));
    ASSERT_EQ(QuantiserMakePalette(palette, 16, &q), 3);
    for (int32 i = 3; i < 16; ++i) EXPECT_EQ(palette[i], (RGBA{0, 0, 0, 0})) << i;
    const std::vector<uint8> indices = Map(image);
    for (int32 i = 0; i < 15; ++i) EXPECT_EQ(palette[indices[i]], colours[i % 3]) << i;
    EXPECT_EQ((std::set<uint8>(indices.begin(), indices.end()).size()), 3u);
}

TEST_F(Quantise, OneColourIsItsExactMeanNotItsBucket) {
    Image* image = Make(4, 4, {{13, 77, 201, 129}});
    ASSERT_TRUE(QuantiserAddImage(&q, image, 1.0f));
    ASSERT_EQ(QuantiserMakePalette(palette, 256, &q), 1);
    EXPECT_EQ(palette[0], (RGBA{13, 77, 201, 129}));
    EXPECT_EQ(palette[1], (RGBA{0, 0, 0, 0}));

    // Colours of one 5-bit bucket share a leaf: one entry, their weighted mean.
    Quantiser shared{};
    ASSERT_TRUE(QuantiserCreate(&shared));
    Image* dark = Make(2, 1, {{64, 64, 64, 255}});
    Image* light = Make(2, 1, {{70, 67, 64, 255}});
    ASSERT_TRUE(QuantiserAddImage(&shared, dark, 1.0f));
    ASSERT_TRUE(QuantiserAddImage(&shared, light, 3.0f));
    ASSERT_EQ(QuantiserMakePalette(palette, 16, &shared), 1);
    EXPECT_EQ(palette[0], (RGBA{68, 66, 64, 255}));  // (64 + 3 * 70) / 4 = 68.5
    QuantiserDestroy(&shared);
}

TEST_F(Quantise, AMillionPixelsOfOneGreyGiveThatGreyAtEveryLevel) {
    // Sums of a million equal values must still divide back to the value
    // (every third level, the last among them, keeps the test quick).
    Image* image = Make(1024, 1024, {{0, 0, 0, 255}});
    std::vector<int32> wrong;
    for (int32 level = 0; level < 256; level += 3) {
        const auto v = static_cast<uint8>(level);
        for (int32 y = 0; y < image->height; ++y) {
            auto* row = reinterpret_cast<RGBA*>(image->pixels + y * image->stride);
            for (int32 x = 0; x < image->width; ++x) row[x] = RGBA{v, v, v, 255};
        }
        Quantiser one{};
        ASSERT_TRUE(QuantiserCreate(&one));
        ASSERT_TRUE(QuantiserAddImage(&one, image, 1.0f));
        ASSERT_EQ(QuantiserMakePalette(palette, 256, &one), 1);
        if (!(palette[0] == RGBA{v, v, v, 255})) wrong.push_back(level);
        QuantiserDestroy(&one);
    }
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " levels come back changed, the first "
                               << (wrong.empty() ? -1 : wrong[0]);
}

TEST_F(Quantise, TheCutSearchStopsWhereTheGainFirstFalls) {
    // Four reds: along red the gain of a cut rises to a first peak (24 apart
    // from the rest), falls, and rises higher further on (232 apart). The
    // search stops at the first peak.
    std::vector<RGBA> pixels;
    for (auto [red, count] : {std::pair{24, 4}, std::pair{64, 2}, std::pair{80, 16}, std::pair{232, 2}}) {
        pixels.insert(pixels.end(), static_cast<std::size_t>(count), RGBA{static_cast<uint8>(red), 0, 0, 255});
    }
    Image* image = Make(static_cast<int32>(pixels.size()), 1, pixels);
    ASSERT_TRUE(QuantiserAddImage(&q, image, 1.0f));
    ASSERT_EQ(QuantiserMakePalette(palette, 2, &q), 2);
    EXPECT_EQ(q.boxes[0].high[0], 4);  // the cut below the bucket of 64
    EXPECT_EQ(q.boxes[1].low[0], 4);
    const std::vector<uint8> indices = Map(image);
    EXPECT_EQ(palette[indices[0]], (RGBA{24, 0, 0, 255}));
    // 64, 80 and 232 share the other entry: (2·64 + 16·80 + 2·232) / 20.
    EXPECT_EQ(indices[4], indices.back());
    EXPECT_EQ(palette[indices.back()], (RGBA{93, 0, 0, 255}));
}

TEST_F(Quantise, ColoursDifferingOnlyInAlphaAreSplitOnAlpha) {
    Image* image = Make(2, 2, {{90, 90, 90, 255}, {90, 90, 90, 0}});
    ASSERT_TRUE(QuantiserAddImage(&q, image, 1.0f));
    ASSERT_EQ(QuantiserMakePalette(palette, 16, &q), 2);
    for (int32 axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(q.boxes[0].low[axis], 0);
        EXPECT_EQ(q.boxes[0].high[axis], 32);
        EXPECT_EQ(q.boxes[1].low[axis], 0);
        EXPECT_EQ(q.boxes[1].high[axis], 32);
    }
    EXPECT_EQ(q.boxes[0].high[3], q.boxes[1].low[3]);
    const std::vector<uint8> indices = Map(image);
    EXPECT_NE(indices[0], indices[1]);
    EXPECT_EQ(palette[indices[0]], (RGBA{90, 90, 90, 255}));
    EXPECT_EQ(palette[indices[1]], (RGBA{90, 90, 90, 0}));
}

TEST_F(Quantise, ManyColoursFillEveryEntryAndMapNearby) {
    // 4096 colours in a smooth gradient, 256 entries.
    std::vector<RGBA> colours;
    for (int32 i = 0; i < 4096; ++i) {
        colours.push_back(RGBA{static_cast<uint8>((i & 63) << 2), static_cast<uint8>((i >> 6) << 2),
                               static_cast<uint8>(128 + (i & 31)), 255});
    }
    Image* image = Make(64, 64, colours);
    ASSERT_TRUE(QuantiserAddImage(&q, image, 1.0f));
    ASSERT_EQ(QuantiserMakePalette(palette, 256, &q), 256);
    const std::vector<uint8> indices = Map(image);
    EXPECT_EQ((std::set<uint8>(indices.begin(), indices.end()).size()), 256u);
    double error = 0.0;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const RGBA& a = colours[i];
        const RGBA& b = palette[indices[i]];
        for (int32 d : {a.red - b.red, a.green - b.green, a.blue - b.blue, a.alpha - b.alpha}) error += d * d;
    }
    // 1024 buckets of red and green for 256 entries: each entry covers about
    // 16 levels of red and of green, a squared error near 16^2 / 12 on each,
    // and blue follows red: about 11 per channel.
    EXPECT_LT(error / (indices.size() * 4.0), 14.0);

    // 16 entries for the same image through a depth-8 palette, packed two to a byte.
    Quantiser small{};
    ASSERT_TRUE(QuantiserCreate(&small));
    Image* indexed = ImageCreate(3, 1, 8);
    images.push_back(indexed);
    ASSERT_NE(ImageAllocatePixels(indexed), nullptr);
    for (int32 i = 0; i < 256; ++i) indexed->palette[i] = RGBA{static_cast<uint8>(i), 0, 0, 255};
    indexed->pixels[0] = 0;
    indexed->pixels[1] = 255;
    indexed->pixels[2] = 0;
    ASSERT_TRUE(QuantiserAddImage(&small, indexed, 1.0f));
    ASSERT_EQ(QuantiserMakePalette(palette, 16, &small), 2);
    uint8 packed[2] = {0xAA, 0xAA};
    ASSERT_TRUE(QuantiserMapImage(packed, 2, 4, 1, &small, indexed));
    const uint8 black = palette[0].red == 0 ? 0 : 1;
    EXPECT_EQ(packed[0], (black << 4) | (1 - black));
    EXPECT_EQ(packed[1] >> 4, black);
    QuantiserDestroy(&small);
}

TEST_F(Quantise, RefusesWhatItCannotUse) {
    EXPECT_EQ(QuantiserMakePalette(palette, 0, &q), 0);
    EXPECT_EQ(QuantiserMakePalette(palette, 257, &q), 0);
    EXPECT_FALSE(QuantiserAddImage(&q, nullptr, 1.0f));
    Image* noPalette = ImageCreate(1, 1, 8);
    images.push_back(noPalette);
    uint8 pixel = 0;
    ImageSetPixels(noPalette, &pixel);
    ImageSetStride(noPalette, 1);
    EXPECT_FALSE(QuantiserAddImage(&q, noPalette, 1.0f));
    ImageSetPixels(noPalette, nullptr);
    // Nothing added: one empty entry.
    EXPECT_EQ(QuantiserMakePalette(palette, 16, &q), 1);
    EXPECT_EQ(palette[0], (RGBA{0, 0, 0, 0}));
}

}  // namespace
}  // namespace kv
