#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/image/baimage.h"
#include "engine/image/baraster.h"
#include "engine/image/ktpngw.h"
#include "raster_device.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

struct Decoded {
    bool ok = false;
    uint32 width = 0, height = 0, format = 0;
    std::vector<uint8> pixels;  // RGBA
};

Decoded ReadBack(const fs::path& file) {
    Decoded d;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) return d;
    d.width = image.width;
    d.height = image.height;
    d.format = image.format;
    image.format = PNG_FORMAT_RGBA;
    d.pixels.resize(PNG_IMAGE_SIZE(image));
    d.ok = png_image_finish_read(&image, nullptr, d.pixels.data(), 0, nullptr) != 0;
    return d;
}

class PngWrite : public test::RasterDeviceTest {
  protected:
    void SetUp() override {
        test::RasterDeviceTest::SetUp();
        dir = fs::temp_directory_path() / ("kvpng-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
        test::RasterDeviceTest::TearDown();
    }
    Image* Gradient(int32 w, int32 h) {
        Image* image = ImageCreate(w, h, 32);
        EXPECT_NE(ImageAllocatePixels(image), nullptr);
        for (int32 y = 0; y < h; ++y) {
            for (int32 x = 0; x < w; ++x) {
                uint8* p = image->pixels + y * image->stride + x * 4;
                p[0] = static_cast<uint8>(x);
                p[1] = static_cast<uint8>(y);
                p[2] = static_cast<uint8>(x ^ y);
                p[3] = static_cast<uint8>(255 - x);
            }
        }
        return image;
    }
    std::vector<std::string> Listing() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        return names;
    }
    fs::path dir;
};

TEST_F(PngWrite, RgbaImagesComeBackPixelForPixel) {
    Image* image = Gradient(37, 11);
    const fs::path file = dir / "g.png";
    ASSERT_TRUE(ImageWritePNG(image, file.c_str(), true));
    Decoded d = ReadBack(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 37u);
    EXPECT_EQ(d.height, 11u);
    EXPECT_EQ(d.format, static_cast<uint32>(PNG_FORMAT_RGBA));
    for (int32 y = 0; y < 11; ++y) {
        ASSERT_EQ(
            0, std::memcmp(&d.pixels[static_cast<std::size_t>(y) * 37 * 4], image->pixels + y * image->stride, 37 * 4))
            << "row " << y;
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"g.png"}));

    // Without alpha the file is RGB and reads back opaque.
    ASSERT_TRUE(ImageWritePNG(image, file.c_str(), false));
    d = ReadBack(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.format, static_cast<uint32>(PNG_FORMAT_RGB));
    EXPECT_EQ(d.pixels[4 * 5 + 0], 5);
    EXPECT_EQ(d.pixels[4 * 5 + 3], 255);
    ImageDestroy(image);
}

TEST_F(PngWrite, PalettedImagesAreWrittenThroughTheirPalette) {
    Image* image = ImageCreate(3, 1, 4);
    ASSERT_NE(ImageAllocatePixels(image), nullptr);
    image->pixels[0] = 0;
    image->pixels[1] = 1;
    image->pixels[2] = 15;
    image->palette[0] = RGBA{1, 2, 3, 4};
    image->palette[1] = RGBA{5, 6, 7, 8};
    image->palette[15] = RGBA{9, 10, 11, 12};
    const fs::path file = dir / "p.png";
    ASSERT_TRUE(ImageWritePNG(image, file.c_str(), true));
    Decoded d = ReadBack(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pixels, (std::vector<uint8>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ImageDestroy(image);
}

TEST_F(PngWrite, FailuresAreReportedAndLeaveNoFileBehind) {
    Image* image = Gradient(8, 8);
    EXPECT_FALSE(ImageWritePNG(image, (dir / "missing" / "x.png").c_str(), true));

    Image* bare = ImageCreate(8, 8, 32);
    EXPECT_FALSE(ImageWritePNG(bare, (dir / "bare.png").c_str(), true));
    ImageDestroy(bare);
    EXPECT_TRUE(Listing().empty());

    // A file too large for the process's file-size limit fails part way.
    const fs::path file = dir / "big.png";
    {
        std::ofstream keep(file);
        keep << "earlier";
    }
    Image* big = Gradient(256, 256);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ImageWritePNG(big, file.c_str(), true);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"big.png"}));
    std::ifstream in(file);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "earlier");
    ImageDestroy(big);
    ImageDestroy(image);
}

TEST_F(PngWrite, RastersAreReadThroughTheDeviceAndWrittenOpaque) {
    Raster* raster = RasterCreate(4, 2, 0, RasterTypeCamera);
    ASSERT_NE(raster, nullptr);
    std::vector<uint8>& px = test::RasterDevice::storage[raster];
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8>(i);
    const fs::path file = dir / "shot.png";
    ASSERT_TRUE(RasterWritePNG(raster, file.c_str()));
    EXPECT_EQ(test::RasterDevice::Count(StdImageGetRaster), 1);
    Decoded d = ReadBack(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 4u);
    EXPECT_EQ(d.format, static_cast<uint32>(PNG_FORMAT_RGB));
    EXPECT_EQ(d.pixels[4 * 7 + 0], 28);  // last pixel's red
    EXPECT_EQ(d.pixels[4 * 7 + 3], 255);

    test::RasterDevice::failingSlots.insert(StdImageGetRaster);
    EXPECT_FALSE(RasterWritePNG(raster, (dir / "fail.png").c_str()));
    EXPECT_FALSE(fs::exists(dir / "fail.png"));
    RasterDestroy(raster);
}

}  // namespace
}  // namespace kv
