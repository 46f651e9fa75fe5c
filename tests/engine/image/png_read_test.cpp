// The PNG reader: the colour-type table, palettes and their transparency,
// 16-bit and packed samples, interlacing, and failures that give back all
// they took.
#include "engine/image/png_read.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/image/image_readers.h"
#include "engine/stream/stream.h"
#include "reader_fixture.h"

namespace kv {
namespace {

// A PNG file made by libpng's writer from rows as the file stores them.
struct Png {
    uint32 width = 1;
    uint32 height = 1;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<uint8> rows;  // height rows of packed samples, 16-bit big-endian
    std::vector<png_color> palette;
    std::vector<uint8> alphas;

    std::vector<uint8> Bytes() const {
        std::vector<uint8> out;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            ADD_FAILURE() << "libpng could not write the test file";
            return {};
        }
        png_set_write_fn(
            png, &out,
            [](png_structp p, png_bytep data, png_size_t n) {
                auto* o = static_cast<std::vector<uint8>*>(png_get_io_ptr(p));
                o->insert(o->end(), data, data + n);
            },
            nullptr);
        png_set_IHDR(png, info, width, height, bitDepth, colorType,
                     interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
        if (!alphas.empty()) {
            png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
        }
        png_write_info(png, info);
        const std::size_t rowBytes = rows.size() / height;
        std::vector<png_bytep> pointers;
        for (uint32 y = 0; y < height; ++y) pointers.push_back(const_cast<uint8*>(rows.data()) + y * rowBytes);
        png_write_image(png, pointers.data());
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        return out;
    }
};

class PngRead : public test::ReaderTest {
  protected:
    Image* Read(const Png& png) { return Read(png.Bytes()); }
    Image* Read(const std::vector<uint8>& bytes) { return ReadChecked(PngImageRead, Write("t.png", bytes)); }
};

TEST_F(PngRead, PaletteFilesKeepTheirColoursOverAGreyRamp) {
    // Two colours at one bit per pixel: depth 4, the file colours, then grey.
    Png mono;
    mono.width = 10;
    mono.bitDepth = 1;
    mono.colorType = PNG_COLOR_TYPE_PALETTE;
    mono.palette = {{200, 10, 20}, {30, 40, 250}};
    mono.rows = {0xA0, 0x40};
    Image* image = Read(mono);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 4);
    std::string indices;
    for (int32 x = 0; x < 10; ++x) indices += static_cast<char>('0' + Index(image, x, 0));
    EXPECT_EQ(indices, "1010000001");
    EXPECT_EQ(image->palette[0], (RGBA{200, 10, 20, 255}));
    EXPECT_EQ(image->palette[1], (RGBA{30, 40, 250, 255}));
    for (int32 j = 2; j < 16; ++j) {
        EXPECT_EQ(image->palette[j], (RGBA{static_cast<uint8>(j), static_cast<uint8>(j), static_cast<uint8>(j), 255}));
    }
    ImageDestroy(image);

    // Three transparency values cover entries 0 to 2 only.
    Png clear;
    clear.width = 3;
    clear.colorType = PNG_COLOR_TYPE_PALETTE;
    clear.palette = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5}};
    clear.alphas = {0, 128, 200};
    clear.rows = {4, 1, 0};
    image = Read(clear);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 8);
    EXPECT_EQ(image->palette[0].alpha, 0);
    EXPECT_EQ(image->palette[1].alpha, 128);
    EXPECT_EQ(image->palette[2].alpha, 200);
    EXPECT_EQ(image->palette[3], (RGBA{4, 4, 4, 255}));
    EXPECT_EQ(image->palette[5], (RGBA{5, 5, 5, 255}));
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{5, 5, 5, 255}));
    EXPECT_EQ(Pixel(image, 1, 0), (RGBA{2, 2, 2, 128}));
    ImageDestroy(image);
}

TEST_F(PngRead, GreyBecomesEightBitIndicesIntoTheGreyRamp) {
    Png deep;
    deep.width = 2;
    deep.bitDepth = 16;
    deep.colorType = PNG_COLOR_TYPE_GRAY;
    deep.rows = {0xC8, 0xFF, 0x01, 0x00};
    Image* image = Read(deep);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 8);
    EXPECT_EQ(Index(image, 0, 0), 200);
    EXPECT_EQ(Index(image, 1, 0), 1);
    EXPECT_EQ(image->palette[200], (RGBA{200, 200, 200, 255}));
    EXPECT_EQ(image->palette[255], (RGBA{255, 255, 255, 255}));
    ImageDestroy(image);

    Png shallow;
    shallow.width = 4;
    shallow.bitDepth = 2;
    shallow.colorType = PNG_COLOR_TYPE_GRAY;
    shallow.rows = {0x1B};  // 0, 1, 2, 3
    image = Read(shallow);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 8);
    EXPECT_EQ(Index(image, 0, 0), 0);
    EXPECT_EQ(Index(image, 1, 0), 85);
    EXPECT_EQ(Index(image, 2, 0), 170);
    EXPECT_EQ(Index(image, 3, 0), 255);
    ImageDestroy(image);
}

TEST_F(PngRead, ColourFilesBecomeRgbaPixels) {
    Png rgb;
    rgb.width = 2;
    rgb.rows = {1, 2, 3, 4, 5, 6};
    Image* image = Read(rgb);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 32);
    EXPECT_EQ(image->palette, nullptr);
    EXPECT_EQ(Pixel(image, 1, 0), (RGBA{4, 5, 6, 255}));
    ImageDestroy(image);

    Png greyAlpha;
    greyAlpha.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    greyAlpha.rows = {90, 30};
    image = Read(greyAlpha);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{90, 90, 90, 30}));
    ImageDestroy(image);

    Png deep;
    deep.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    deep.bitDepth = 16;
    deep.rows = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    image = Read(deep);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{0x12, 0x56, 0x9A, 0xDE}));
    ImageDestroy(image);
}

TEST_F(PngRead, InterlacedFilesReadTheSameAsPlainOnes) {
    Png plain;
    plain.width = 13;
    plain.height = 11;
    plain.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    for (uint32 y = 0; y < plain.height; ++y) {
        for (uint32 x = 0; x < plain.width; ++x) {
            plain.rows.insert(plain.rows.end(), {static_cast<uint8>(x * 19), static_cast<uint8>(y * 23),
                                                 static_cast<uint8>(x ^ y), static_cast<uint8>(255 - x - y)});
        }
    }
    Png interlaced = plain;
    interlaced.interlaced = true;
    Image* a = Read(plain);
    Image* b = Read(interlaced);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (int32 y = 0; y < 11; ++y) {
        for (int32 x = 0; x < 13; ++x) ASSERT_EQ(Pixel(a, x, y), Pixel(b, x, y)) << x << ", " << y;
    }
    EXPECT_EQ(Pixel(b, 12, 10), (RGBA{228, 230, 6, 233}));
    ImageDestroy(a);
    ImageDestroy(b);
}

TEST_F(PngRead, EveryCutOfAFileFailsCleanly) {
    Png png;
    png.width = 9;
    png.height = 7;
    png.bitDepth = 4;
    png.colorType = PNG_COLOR_TYPE_PALETTE;
    png.interlaced = true;
    png.palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    png.alphas = {10};
    for (uint32 y = 0; y < png.height; ++y) png.rows.insert(png.rows.end(), {0x01, 0x20, 0x12, 0x01, 0x20});
    const std::vector<uint8> whole = png.Bytes();
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        Image* image = Read(std::vector<uint8>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        ASSERT_EQ(image, nullptr);
        EXPECT_EQ(LastError(), std::make_pair(kModuleCore, kErrStreamEnd));
    }
    Image* image = Read(whole);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 0, 0), (RGBA{1, 2, 3, 10}));
    EXPECT_EQ(Pixel(image, 1, 0), (RGBA{4, 5, 6, 255}));
    EXPECT_EQ(Pixel(image, 8, 6), (RGBA{7, 8, 9, 255}));
    ImageDestroy(image);
}

TEST_F(PngRead, DamagedOrImpossibleFilesAreRefused) {
    Png png;
    png.width = 4;
    png.height = 4;
    png.rows.assign(48, 7);
    std::vector<uint8> bytes = png.Bytes();

    // A flipped bit in the pixel data fails its checksum.
    std::vector<uint8> damaged = bytes;
    damaged[damaged.size() - 20] ^= 0x10;
    EXPECT_EQ(Read(damaged), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrPngRead));

    // A header that claims 30000 x 30000 pixels in a file of a hundred bytes.
    std::vector<uint8> huge = bytes;
    for (int32 i : {16, 20}) {
        huge[i] = 0;
        huge[i + 1] = 0;
        huge[i + 2] = 0x75;
        huge[i + 3] = 0x30;
    }
    const uint32 crc = static_cast<uint32>(crc32(0, huge.data() + 12, 17));
    for (int32 i = 0; i < 4; ++i) huge[29 + i] = static_cast<uint8>(crc >> (24 - 8 * i));
    EXPECT_EQ(Read(huge), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileTooLarge));

    EXPECT_EQ(Read(std::vector<uint8>{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrPngRead));

    ErrorClear();
    EXPECT_EQ(PngImageRead(nullptr), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(0, static_cast<int32>(kErrNullArgument)));
    EXPECT_EQ(ReadChecked(PngImageRead, (dir / "missing.png").string()), nullptr);
}

// Found by fuzzing: a chunk whose length field says 1.2 GB in a file of 74
// bytes had libpng ask for all of it before finding the file too short.
TEST_F(PngRead, ChunkLengthsCannotAskForHugeBlocks) {
    const std::vector<uint8> found = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49,
                                      0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x01, 0x01, 0x03,
                                      0x00, 0x00, 0x00, 0xdd, 0x00, 0x00, 0x00, 0x4a, 0x00, 0x00, 0x06, 0x73, 0x50,
                                      0x4c, 0x54, 0x45, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x26, 0xff, 0xff, 0xff,
                                      0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                                      0xff, 0xff, 0xff, 0xff, 0x44, 0xae, 0x42, 0x60, 0x82};
    // The same with its header's checksum put right, so that it is read with
    // checksums checked as well.
    std::vector<uint8> fixed = found;
    const uint32 crc = static_cast<uint32>(crc32(0, fixed.data() + 12, 17));
    for (int32 i = 0; i < 4; ++i) fixed[29 + i] = static_cast<uint8>(crc >> (24 - 8 * i));
    for (bool ignored : {true, false}) {
        SCOPED_TRACE(ignored);
        PngReadSetChecksumsIgnored(ignored);
        test::Counted::largest = 0;
        EXPECT_EQ(Read(ignored ? found : fixed), nullptr);
        EXPECT_LT(test::Counted::largest, std::size_t{1} << 20);
    }
    PngReadSetChecksumsIgnored(false);
}

// A chunk as a PNG stores it: length, type, data, checksum.
void PutChunk(std::vector<uint8>* out, const char* type, const std::vector<uint8>& data) {
    const auto n = static_cast<uint32>(data.size());
    for (int32 i = 3; i >= 0; --i) out->push_back(static_cast<uint8>(n >> (8 * i)));
    const std::size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    const auto crc = static_cast<uint32>(crc32(0, out->data() + start, static_cast<uInt>(4 + n)));
    for (int32 i = 3; i >= 0; --i) out->push_back(static_cast<uint8>(crc >> (8 * i)));
}

std::vector<uint8> Deflated(const std::vector<uint8>& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8> out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

TEST_F(PngRead, TextAndOtherUnusedChunksAreSkippedUnread) {
    // A 4 x 4 picture with 40 compressed text chunks of a megabyte each, an
    // international one and a private one: none of it is inflated or kept.
    Png png;
    png.width = 4;
    png.height = 4;
    png.rows.assign(48, 0x40);
    const std::vector<uint8> plain = png.Bytes();
    std::vector<uint8> text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    const std::vector<uint8> packed = Deflated(std::vector<uint8>(1 << 20, 'A'));
    text.insert(text.end(), packed.begin(), packed.end());
    std::vector<uint8> bytes(plain.begin(), plain.begin() + 33);  // signature and header
    for (int32 i = 0; i < 40; ++i) PutChunk(&bytes, "zTXt", text);
    std::vector<uint8> itxt = {'T', 0, 1, 0, 0, 0};
    itxt.insert(itxt.end(), packed.begin(), packed.end());
    PutChunk(&bytes, "iTXt", itxt);
    PutChunk(&bytes, "prVt", std::vector<uint8>(100000, 7));
    bytes.insert(bytes.end(), plain.begin() + 33, plain.end());
    test::Counted::requested = 0;
    Image* image = Read(bytes);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Pixel(image, 3, 3), (RGBA{0x40, 0x40, 0x40, 255}));
    ImageDestroy(image);
    EXPECT_LT(test::Counted::requested, std::size_t{1} << 20) << "text was inflated";
}

TEST_F(PngRead, TheSizeCheckCountsTheBytesThePictureBecomes) {
    // 1 bit a pixel, 16384 x 8192: 16 MiB packed in the file, within what
    // any file may hold and what 20000 bytes of deflate can, but a byte a
    // pixel (128 MiB) once read, which needs a file of 4 MiB.
    Png header;
    header.bitDepth = 1;
    header.colorType = PNG_COLOR_TYPE_GRAY;
    header.rows = {0};
    std::vector<uint8> bytes = header.Bytes();
    bytes.resize(33);
    for (auto [at, side] : {std::pair{16, 16384u}, std::pair{20, 8192u}}) {
        for (int32 i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8>(side >> (24 - 8 * i));
    }
    const uint32 crc = static_cast<uint32>(crc32(0, bytes.data() + 12, 17));
    for (int32 i = 0; i < 4; ++i) bytes[29 + i] = static_cast<uint8>(crc >> (24 - 8 * i));
    PutChunk(&bytes, "IDAT", std::vector<uint8>(20000, 0));
    PutChunk(&bytes, "IEND", {});
    test::Counted::largest = 0;
    EXPECT_EQ(Read(bytes), nullptr);
    EXPECT_EQ(LastError(), std::make_pair(kIdImageModule, kErrImageFileTooLarge));
    EXPECT_LT(test::Counted::largest, std::size_t{16} << 20);
}

TEST_F(PngRead, BothReadersAreFoundByExtension) {
    ASSERT_TRUE(ImageRegisterFileReaders());
    Png png;
    png.rows = {9, 8, 7};
    Write("pic.png", png.Bytes());
    // 1 x 1, 24 bits: the 54-byte headers and one padded row.
    std::vector<uint8> bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0,  0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0,
                              0,   0,   1,  0, 0, 0, 1, 0, 24, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0,
                              0,   0,   0,  0, 0, 0, 0, 0, 0,  0, 0,  0, 0, 0, 3,  2, 1, 0};
    Write("pic.BMP", bmp);
    ASSERT_TRUE(ImageSetPath((dir.string() + "/").c_str()));
    Image* a = ImageRead("pic.png");
    Image* b = ImageRead("pic.BMP");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Pixel(a, 0, 0), (RGBA{9, 8, 7, 255}));
    EXPECT_EQ(Pixel(b, 0, 0), (RGBA{1, 2, 3, 255}));
    EXPECT_STREQ(ImageFindFileExtension("pic"), ".png");
    ImageDestroy(a);
    ImageDestroy(b);
}

}  // namespace
}  // namespace kv
