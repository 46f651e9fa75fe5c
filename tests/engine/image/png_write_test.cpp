#include "engine/image/png_write.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/image/image.h"
#include "engine/image/raster.h"
#include "engine/stream/safe_write.h"
#include "raster_memory.h"

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

class PngWrite : public test::RasterMemoryTest {
  protected:
    void SetUp() override {
        test::RasterMemoryTest::SetUp();
        dir = fs::temp_directory_path() / ("kvpng-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
        test::RasterMemoryTest::TearDown();
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
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string Text(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
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

// The user's own FILE.part, and a link planted under that name, are none of
// the writer's business: its new file has a name of its own, made exclusively.
TEST_F(PngWrite, AFilePartOrALinkPlantedUnderItIsLeftAlone) {
    Image* image = Gradient(8, 8);
    const fs::path file = dir / "shot.png";
    {
        std::ofstream(dir / "shot.png.part") << "the user's own";
        std::ofstream(dir / "victim") << "precious";
    }
    ASSERT_TRUE(ImageWritePNG(image, file.c_str(), true));
    EXPECT_TRUE(ReadBack(file).ok);
    EXPECT_EQ(Text(dir / "shot.png.part"), "the user's own");
    fs::remove(dir / "shot.png.part");
    fs::create_symlink("victim", dir / "shot.png.part");
    ASSERT_TRUE(ImageWritePNG(image, file.c_str(), true));
    EXPECT_EQ(Text(dir / "victim"), "precious");
    EXPECT_TRUE(fs::is_symlink(dir / "shot.png.part"));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"shot.png", "shot.png.part", "victim"}));
    ImageDestroy(image);
}

TEST_F(PngWrite, LinksAreWrittenThroughLoopsRefusedAndLongNamesWritten) {
    Image* image = Gradient(8, 8);
    fs::create_directory(dir / "pictures");
    std::ofstream(dir / "pictures" / "sky.png") << "old";
    fs::create_symlink("pictures/sky.png", dir / "latest.png");
    ASSERT_TRUE(ImageWritePNG(image, (dir / "latest.png").c_str(), true));
    EXPECT_TRUE(fs::is_symlink(dir / "latest.png"));
    EXPECT_TRUE(ReadBack(dir / "pictures" / "sky.png").ok);
    // Dangling: the file the link names is made.
    fs::create_symlink("pictures/new.png", dir / "next.png");
    ASSERT_TRUE(ImageWritePNG(image, (dir / "next.png").c_str(), true));
    EXPECT_TRUE(ReadBack(dir / "pictures" / "new.png").ok);
    // A loop fails, saying why.
    fs::create_symlink("loop.png", dir / "loop.png");
    FileWriteStatus status{};
    EXPECT_FALSE(ImageWritePNG(image, (dir / "loop.png").c_str(), true, &status));
    EXPECT_EQ(status.step, FileWriteFollow);
    EXPECT_EQ(status.osError, ELOOP);
    // 255 characters: the longest name a folder holds.
    const std::string longName = std::string(251, 'p') + ".png";
    ASSERT_TRUE(ImageWritePNG(image, (dir / longName).c_str(), true, &status));
    EXPECT_EQ(status.step, FileWriteOk);
    EXPECT_TRUE(ReadBack(dir / longName).ok);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"latest.png", "loop.png", "next.png", "pictures", longName}));
    // Where no file can be made, the status says which step and why.
    EXPECT_FALSE(ImageWritePNG(image, (dir / "missing" / "x.png").c_str(), true, &status));
    EXPECT_EQ(status.step, FileWriteCreate);
    EXPECT_EQ(status.osError, ENOENT);
    ImageDestroy(image);
}

TEST_F(PngWrite, DevicesAndPipesAreWrittenInPlace) {
    if (geteuid() != 0) GTEST_SKIP() << "devices can be made only by an administrator";
    Image* image = Gradient(64, 64);
    // Our own devices in the test's folder, never the system's.
    const fs::path null = dir / "null", full = dir / "full";
    ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    ASSERT_EQ(mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)), 0);
    FileWriteStatus status{};
    EXPECT_TRUE(ImageWritePNG(image, null.c_str(), true, &status));
    EXPECT_FALSE(ImageWritePNG(image, full.c_str(), true, &status));
    EXPECT_EQ(status.step, FileWriteData);
    EXPECT_EQ(status.osError, ENOSPC);
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_TRUE(fs::is_character_file(full));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"full", "null"}));
    ImageDestroy(image);
}

TEST_F(PngWrite, RastersAreReadThroughTheDeviceAndWrittenOpaque) {
    Raster* raster = RasterCreate(4, 2, 0, RasterTypeCamera);
    ASSERT_NE(raster, nullptr);
    std::vector<uint8>& px = test::RasterMemory::storage[raster];
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8>(i);
    const fs::path file = dir / "shot.png";
    ASSERT_TRUE(RasterWritePNG(raster, file.c_str()));
    EXPECT_EQ(test::TestDevice::Count(StdImageGetRaster), 1);
    Decoded d = ReadBack(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 4u);
    EXPECT_EQ(d.format, static_cast<uint32>(PNG_FORMAT_RGB));
    EXPECT_EQ(d.pixels[4 * 7 + 0], 28);  // last pixel's red
    EXPECT_EQ(d.pixels[4 * 7 + 3], 255);

    test::TestDevice::failingSlots.insert(StdImageGetRaster);
    EXPECT_FALSE(RasterWritePNG(raster, (dir / "fail.png").c_str()));
    EXPECT_FALSE(fs::exists(dir / "fail.png"));
    RasterDestroy(raster);
}

}  // namespace
}  // namespace kv
