// The BMP reader: headers of every size, palettes, run-length rows, bit
// fields, and headers that lie.
#include "engine/image/bmp_read.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/image/image_readers.h"
#include "engine/stream/stream.h"
#include "reader_fixture.h"

namespace kv {
namespace {

void Put16(std::vector<uint8>* out, uint32 v) {
    out->push_back(static_cast<uint8>(v));
    out->push_back(static_cast<uint8>(v >> 8));
}
void Put32(std::vector<uint8>* out, uint32 v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A BMP file as stored, field by field.
struct Bmp {
    uint32 headerSize = 40;
    int32 width = 1;
    int32 height = 1;
    uint32 bitCount = 24;
    uint32 compression = 0;
    uint32 colorsUsed = 0;
    std::vector<uint32> masks;  // in the header from 52 bytes on, else after it
    std::vector<uint8> palette;
    std::vector<uint8> pixels;
    int64_t offset = -1;  // default: right after the palette

    std::vector<uint8> Bytes() const {
        std::vector<uint8> info;
        Put32(&info, headerSize);
        if (headerSize == 12) {
            Put16(&info, static_cast<uint32>(width));
            Put16(&info, static_cast<uint32>(height));
            Put16(&info, 1);
            Put16(&info, bitCount);
        } else {
            Put32(&info, static_cast<uint32>(width));
            Put32(&info, static_cast<uint32>(height));
            Put16(&info, 1);
            Put16(&info, bitCount);
            Put32(&info, compression);
            Put32(&info, 0);
            Put32(&info, 2835);
            Put32(&info, 2835);
            Put32(&info, colorsUsed);
            Put32(&info, 0);
            if (headerSize >= 52) {
                for (std::size_t i = 0; i < 4 && i < masks.size(); ++i) Put32(&info, masks[i]);
            }
            if (info.size() < headerSize) info.resize(headerSize, 0);
            if (headerSize < 52) {
                for (uint32 m : masks) Put32(&info, m);
            }
        }
        const uint32 start = 14 + static_cast<uint32>(info.size() + palette.size());
        const uint32 dataAt = offset >= 0 ? static_cast<uint32>(offset) : start;
        std::vector<uint8> out{'B', 'M'};
        Put32(&out, start + static_cast<uint32>(pixels.size()));
        Put32(&out, 0);
        Put32(&out, dataAt);
        out.insert(out.end(), info.begin(), info.end());
        out.insert(out.end(), palette.begin(), palette.end());
        out.insert(out.end(), pixels.begin(), pixels.end());
        return out;
    }
};

// A run-length BMP (8 or 4 bits) whose palette entry i is red 256 / entries · i.
Bmp RunLength(uint32 bits, int32 width, int32 height) {
    Bmp bmp;
    bmp.bitCount = bits;
    bmp.compression = bits == 8 ? 1 : 2;
    bmp.width = width;
    bmp.height = height;
    const int32 entries = 1 << bits;
    for (int32 i = 0; i < entries; ++i) {
        bmp.palette.insert(bmp.palette.end(), {0, 0, static_cast<uint8>(i * (256 / entries)), 0});
    }
    return bmp;
}

class BmpRead : public test::ReaderTest {
  protected:
    // Every pixel's index, top row first.
    static std::vector<uint8> Indices(const Image* image) {
        std::vector<uint8> out;
        for (int32 y = 0; y < image->height; ++y) {
            for (int32 x = 0; x < image->width; ++x) out.push_back(Index(image, x, y));
        }
        return out;
    }
    Image* Read(const Bmp& bmp, const char* name = "t.bmp") { return Read(bmp.Bytes(), name); }
    Image* Read(const std::vector<uint8>& bytes, const char* name = "t.bmp") {
        return ReadChecked(BmpImageRead, Write(name, bytes));
    }
};

TEST_F(BmpRead, TwentyFourBitRowsArePaddedToFourBytesAndStoredBottomUp) {
    Bmp bmp;
    bmp.width = 3;
    bmp.height = 2;
    // Stored rows of 9 bytes and 3 of padding; bottom row first, blue first.
    bmp.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE, 0xEE};
    Image* image = Read(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 32);
    EXPECT_EQ(Pixel(image, 0, 1), (RGBA{3, 2, 1, 255}));
    EXPECT_EQ(Pixel(image, 2, 1), (RGBA{9, 8, 7, 255}));
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{12, 11, 10, 255}));
    EXPECT_EQ(Pixel(image, 2, 0), (RGBA{18, 17, 16, 255}));
    ImageDestroy(image);

    // A negative height stores the top row first.
    bmp.height = -2;
    image = Read(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{3, 2, 1, 255}));
    EXPECT_EQ(Pixel(image, 2, 1), (RGBA{18, 17, 16, 255}));
    ImageDestroy(image);
}

TEST_F(BmpRead, InfoHeadersOfEveryVersionReadFourBytePalettes) {
    for (uint32 headerSize : {40u, 108u, 124u}) {
        SCOPED_TRACE(headerSize);
        Bmp bmp;
        bmp.headerSize = headerSize;
        bmp.width = 3;
        bmp.bitCount = 8;
        // Colours used 0: all 256 entries (blue, green, red, unused).
        for (int32 i = 0; i < 256; ++i) {
            bmp.palette.insert(bmp.palette.end(),
                               {static_cast<uint8>(i / 2), static_cast<uint8>(255 - i), static_cast<uint8>(i), 0x77});
        }
        bmp.pixels = {0, 7, 255, 0};
        Image* image = Read(bmp);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->depth, 8);
        EXPECT_EQ(Index(image, 1, 0), 7);
        EXPECT_EQ(Pixel(image, 0, 0), (RGBA{0, 255, 0, 255}));
        EXPECT_EQ(Pixel(image, 2, 0), (RGBA{255, 0, 127, 255}));
        ImageDestroy(image);
    }
}

TEST_F(BmpRead, ColoursUsedBelowOrAboveWhatTheBitsAllowAndCoreHeaders) {
    // Two colours used of 256: the rest of the palette is opaque black. 300
    // used of 256: the full palette (entry i: red i, blue 7).
    std::vector<uint8> full;
    for (int32 i = 0; i < 256; ++i) full.insert(full.end(), {7, 0, static_cast<uint8>(i), 0});
    struct Case {
        uint32 used;
        std::vector<uint8> palette;
        std::vector<uint8> pixels;
        RGBA first, second;
    };
    const Case cases[] = {{2, {10, 20, 30, 0, 40, 50, 60, 0}, {1, 200, 0, 0}, {60, 50, 40, 255}, {0, 0, 0, 255}},
                          {300, full, {255, 3, 0, 0}, {255, 0, 7, 255}, {3, 0, 7, 255}}};
    Image* image = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.used);
        Bmp used;
        used.bitCount = 8;
        used.width = 2;
        used.colorsUsed = c.used;
        used.palette = c.palette;
        used.pixels = c.pixels;
        image = Read(used);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(Pixel(image, 0, 0), c.first);
        EXPECT_EQ(Pixel(image, 1, 0), c.second);
        ImageDestroy(image);
    }

    // Core header, 4 bits: 16 entries of 3 bytes, high nibble first.
    Bmp core4;
    core4.headerSize = 12;
    core4.bitCount = 4;
    core4.width = 3;
    for (int32 i = 0; i < 16; ++i) core4.palette.insert(core4.palette.end(), {0, 0, static_cast<uint8>(i * 16)});
    core4.pixels = {0x5A, 0xF0, 0, 0};
    image = Read(core4);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 4);
    EXPECT_EQ(Index(image, 0, 0), 5);
    EXPECT_EQ(Index(image, 1, 0), 10);
    EXPECT_EQ(Index(image, 2, 0), 15);
    EXPECT_EQ(Pixel(image, 1, 0), (RGBA{160, 0, 0, 255}));
    ImageDestroy(image);

    // 1 bit, most significant first, across a byte boundary.
    Bmp mono = core4;
    mono.bitCount = 1;
    mono.width = 10;
    mono.palette = {0, 0, 0, 255, 255, 255};
    mono.pixels = {0x81, 0x40, 0, 0};
    image = Read(mono);
    ASSERT_NE(image, nullptr);
    std::string bits;
    for (int32 x = 0; x < 10; ++x) bits += static_cast<char>('0' + Index(image, x, 0));
    EXPECT_EQ(bits, "1000000101");
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{255, 255, 255, 255}));
    ImageDestroy(image);
}

TEST_F(BmpRead, RunLengthRowsDecodeBottomUp) {
    Bmp bmp = RunLength(8, 4, 3);
    bmp.pixels = {
        4, 9, 0, 0,                    // bottom row: a run of four
        0, 3, 1, 2, 3, 0, 1, 5, 0, 0,  // literal of three and its pad byte, then a run of one
        2, 1, 0, 0,                    // a short row: the rest stays 0
    };
    Image* image = Read(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Indices(image), (std::vector<uint8>{1, 1, 0, 0, 1, 2, 3, 5, 9, 9, 9, 9}));
    ImageDestroy(image);

    // The end of the bitmap keeps the row where it was and leaves the rest blank.
    bmp.pixels = {4, 7, 0, 0, 2, 3, 0, 1};
    image = Read(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Indices(image), (std::vector<uint8>{0, 0, 0, 0, 3, 3, 0, 0, 7, 7, 7, 7}));
    ImageDestroy(image);

    // A position delta anywhere fails; so does a run past the row buffer
    // (three bytes a pixel of the width rounded to eight: 24).
    bmp.pixels = {4, 7, 0, 0, 0, 2, 1, 1, 0, 0, 0, 1};
    EXPECT_EQ(Read(bmp), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(0, static_cast<int32>(kErrConvertDepth)));
    bmp.pixels = {25, 7, 0, 0};
    EXPECT_EQ(Read(bmp), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileMalformed));
}

TEST_F(BmpRead, FourBitRunLengthsAlternateNibblesAndPadLiteralsToWords) {
    Bmp bmp = RunLength(4, 7, 3);
    bmp.pixels = {
        5, 0x12, 2,    0x34, 0,    0,           // bottom row: 1 2 1 2 1, then 3 4
        0, 3,    0xAB, 0xC0, 3,    0xEF, 0, 0,  // three literal pixels in two bytes (a word), then e f e
        0, 5,    0x98, 0x76, 0x50, 0,    0, 0,  // five in three bytes and a pad byte; the rest stays 0
        0, 1,
    };
    Image* image = Read(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 4);
    EXPECT_EQ(Indices(image), (std::vector<uint8>{9,  8,  7,  6,  5,  0,  0,     // top
                                                  10, 11, 12, 14, 15, 14, 0,     // middle
                                                  1,  2,  1,  2,  1,  3,  4}));  // bottom
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{144, 0, 0, 255}));
    ImageDestroy(image);

    // The end of the bitmap leaves the rows above blank; a run past the row
    // buffer fails.
    bmp.pixels = {7, 0x11, 0, 1};
    image = Read(bmp);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Index(image, 6, 2), 1);
    EXPECT_EQ(Index(image, 0, 1), 0);
    ImageDestroy(image);
    bmp.pixels = {100, 0x11, 0, 0};
    EXPECT_EQ(Read(bmp), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileMalformed));
}

TEST_F(BmpRead, RunsMayPassTheWidthAsFarAsTheRowBufferReaches) {
    // 5 pixels wide: stored rows of 8 bytes, a run buffer of 8 · 3 = 24.
    Bmp bmp = RunLength(8, 5, 2);
    bmp.pixels = {5, 1, 0, 0, 24, 2, 0, 0};  // the last row runs on to the buffer's end
    Image* image = Read(bmp);
    ASSERT_NE(image, nullptr);
    for (int32 x = 0; x < 5; ++x) {
        EXPECT_EQ(Index(image, x, 0), 2);
        EXPECT_EQ(Index(image, x, 1), 1);
    }
    ImageDestroy(image);
    bmp.pixels = {5, 1, 0, 0, 20, 2, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0};  // a literal past it
    EXPECT_EQ(Read(bmp), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileMalformed));
    bmp.pixels = {5, 1, 0, 0, 25, 2, 0, 0};
    EXPECT_EQ(Read(bmp), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileMalformed));
}

TEST_F(BmpRead, SixteenBitPixelsAreFiveFiveFiveUnlessMasksSayOtherwise) {
    Bmp plain;
    plain.bitCount = 16;
    plain.width = 6;
    for (uint32 d : {0x7FFFu, 0x7C00u, 0x03E0u, 0x001Fu, 0xFFFFu, 0x8000u}) Put16(&plain.pixels, d);
    Image* image = Read(plain);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{255, 255, 255, 255}));
    EXPECT_EQ(Pixel(image, 1, 0), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(image, 2, 0), (RGBA{0, 255, 0, 255}));
    EXPECT_EQ(Pixel(image, 3, 0), (RGBA{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(image, 4, 0), (RGBA{255, 255, 255, 255}));  // the top bit is not a colour
    EXPECT_EQ(Pixel(image, 5, 0), (RGBA{0, 0, 0, 255}));
    ImageDestroy(image);

    // 5-6-5 through masks after a 40-byte header: full scale is 255 on every channel.
    Bmp masked;
    masked.bitCount = 16;
    masked.compression = 3;
    masked.width = 4;
    masked.masks = {0xF800, 0x07E0, 0x001F};
    for (uint32 d : {0xFFFFu, 0xF800u, 0x07E0u, 0x0020u}) Put16(&masked.pixels, d);
    image = Read(masked);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{255, 255, 255, 255}));
    EXPECT_EQ(Pixel(image, 1, 0), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(image, 2, 0), (RGBA{0, 255, 0, 255}));
    EXPECT_EQ(Pixel(image, 3, 0), (RGBA{0, 4, 0, 255}));
    ImageDestroy(image);

    // 15 bits are stored in two bytes: 17 pixels need 34 of a 36-byte row.
    Bmp fifteen;
    fifteen.bitCount = 15;
    fifteen.width = 17;
    for (int32 x = 0; x < 17; ++x) Put16(&fifteen.pixels, x == 16 ? 0x001F : 0);
    fifteen.pixels.resize(36, 0);
    image = Read(fifteen);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 16, 0), (RGBA{0, 0, 255, 255}));
    ImageDestroy(image);
}

TEST_F(BmpRead, ThirtyTwoBitPixelsUseTheAlphaMaskWhenThereIsOne) {
    Bmp plain;
    plain.bitCount = 32;
    plain.width = 1;
    plain.pixels = {1, 2, 3, 0};  // the fourth byte is unused
    Image* image = Read(plain);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{3, 2, 1, 255}));
    ImageDestroy(image);

    Bmp v5;
    v5.headerSize = 124;
    v5.bitCount = 32;
    v5.compression = 3;
    v5.width = 2;
    v5.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    Put32(&v5.pixels, 0x80FF0000);
    Put32(&v5.pixels, 0x0000FF00);
    image = Read(v5);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{255, 0, 0, 128}));
    EXPECT_EQ(Pixel(image, 1, 0), (RGBA{0, 255, 0, 0}));
    ImageDestroy(image);

    // Alpha 0 everywhere is a writer that filled none: opaque.
    v5.pixels.clear();
    Put32(&v5.pixels, 0x00FF0000);
    Put32(&v5.pixels, 0x0000FF00);
    image = Read(v5);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{255, 0, 0, 255}));
    ImageDestroy(image);
}

TEST_F(BmpRead, HeadersThatLieAreRefusedWithAReason) {
    const auto malformed = std::make_pair(kIdImageModule, kErrImageFileMalformed);
    const auto tooLarge = std::make_pair(kIdImageModule, kErrImageFileTooLarge);
    const auto unsupported = std::make_pair(0, static_cast<int32>(kErrConvertDepth));
    struct Case {
        const char* what;
        void (*change)(Bmp*);
        std::pair<int32, int32> error;
    };
    const Case cases[] = {
        {"width 0", [](Bmp* b) { b->width = 0; }, malformed},
        {"height 0", [](Bmp* b) { b->height = 0; }, malformed},
        {"width past the limit", [](Bmp* b) { b->width = 40000; }, tooLarge},
        {"top-down height past the limit", [](Bmp* b) { b->height = -40000; }, tooLarge},
        {"most negative height", [](Bmp* b) { b->height = INT_MIN; }, tooLarge},
        {"largest width", [](Bmp* b) { b->width = INT_MAX; }, tooLarge},
        {"rows the file does not hold",
         [](Bmp* b) {
             b->width = 32768;
             b->height = 32768;
         },
         malformed},
        {"one byte of the rows missing", [](Bmp* b) { b->pixels.pop_back(); }, malformed},
        {"pixel offset past the end", [](Bmp* b) { b->offset = 1 << 20; }, malformed},
        {"pixel offset inside the header", [](Bmp* b) { b->offset = 20; }, malformed},
        {"header of 5 bytes", [](Bmp* b) { b->headerSize = 5; }, malformed},
        {"header of 100000 bytes", [](Bmp* b) { b->headerSize = 100000; }, malformed},
        {"2 bits per pixel", [](Bmp* b) { b->bitCount = 2; }, std::make_pair(0, static_cast<int32>(kErrFileDepth))},
        {"4-bit run lengths of 8-bit pixels",
         [](Bmp* b) {
             b->bitCount = 8;
             b->compression = 2;
         },
         unsupported},
        {"8-bit run lengths of 4-bit pixels",
         [](Bmp* b) {
             b->bitCount = 4;
             b->compression = 1;
         },
         unsupported},
        {"scattered mask bits",
         [](Bmp* b) {
             b->bitCount = 16;
             b->compression = 3;
             b->masks = {0x0F0F, 0x00F0, 0xF000};
         },
         malformed},
        {"palette after an unknown header",
         [](Bmp* b) {
             b->headerSize = 64;
             b->bitCount = 8;
         },
         unsupported},
        {"a huge run-length bitmap in four bytes",
         [](Bmp* b) {
             b->bitCount = 8;
             b->compression = 1;
             b->width = 32768;
             b->height = 32768;
             b->pixels = {0, 0, 0, 1};
         },
         tooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bmp bmp;
        bmp.width = 2;
        bmp.height = 2;
        bmp.pixels.assign(16, 0x40);
        c.change(&bmp);
        Image* image = Read(bmp);
        EXPECT_EQ(image, nullptr);
        ImageDestroy(image);
        EXPECT_EQ(LastError(), c.error);
        EXPECT_NE(ImageReadErrorText(LastError().first, LastError().second), nullptr);
    }

    // Not a BMP at all, and a file that ends inside its header.
    EXPECT_EQ(Read(std::vector<uint8>{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), nullptr);
    EXPECT_EQ(LastError(), malformed);
    std::vector<uint8> cut = Bmp{}.Bytes();
    cut.resize(30);
    EXPECT_EQ(Read(cut), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kModuleCore, kErrStreamEnd));
    EXPECT_EQ(Read(std::vector<uint8>{}), nullptr);
}

TEST_F(BmpRead, ARunLengthPictureMayBeThirtyTwoTimesItsFileBeyondSixtyFourMebibytes) {
    // 8192 x 8200 at a byte a pixel passes 64 MiB: its file must hold a 32nd
    // of that, whatever its run-length data says.
    for (uint32 compression : {1u, 2u}) {
        SCOPED_TRACE(compression);
        Bmp bmp = RunLength(compression == 1 ? 8 : 4, 8192, 8200);
        bmp.pixels = {0, 1};
        EXPECT_EQ(Read(bmp), nullptr);
        EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileTooLarge));
        // Half the file it needs: still refused.
        bmp.pixels.assign(static_cast<std::size_t>(8192) * 8200 / 64, 0);
        bmp.pixels[1] = 1;
        EXPECT_EQ(Read(bmp), nullptr);
        EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileTooLarge));
        // Enough file for it: read, and what no pair reached is blank.
        bmp.pixels.assign(static_cast<std::size_t>(8192) * 8200 / 32, 0);
        bmp.pixels[0] = 2;
        bmp.pixels[1] = 0x11;
        bmp.pixels[2] = 0;
        bmp.pixels[3] = 1;
        Image* image = Read(bmp);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(Index(image, 1, 8199), compression == 1 ? 0x11 : 1);
        EXPECT_EQ(Index(image, 2, 8199), 0);
        ImageDestroy(image);
    }
}

TEST_F(BmpRead, MemoryStreamsAreCheckedAgainstTheirLength) {
    Bmp bmp;
    bmp.width = 2;
    bmp.height = 2;
    bmp.pixels.assign(15, 0);  // one byte short
    std::vector<uint8> bytes = bmp.Bytes();
    StreamMemory mem{bytes.data(), static_cast<uint32>(bytes.size())};
    Stream* stream = StreamOpen(StreamTypeMemory, StreamAccessRead, &mem);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(BmpImageReadStream(stream), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileMalformed));
    StreamClose(stream, nullptr);

    bytes.push_back(0);
    mem = StreamMemory{bytes.data(), static_cast<uint32>(bytes.size())};
    stream = StreamOpen(StreamTypeMemory, StreamAccessRead, &mem);
    Image* image = BmpImageReadStream(stream);
    StreamClose(stream, nullptr);
    ASSERT_NE(image, nullptr);
    ImageDestroy(image);
}

}  // namespace
}  // namespace kv
