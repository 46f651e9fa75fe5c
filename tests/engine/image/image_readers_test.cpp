// The image search path and the registry of image file formats, tried with a
// format of our own: a file holds width, height and then RGBA bytes.
#include "engine/image/image_readers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/error.h"
#include "engine/image/image.h"
#include "raster_memory.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> readerCalls;
std::vector<std::string> existCalls;
bool (*realExists)(const char*) = nullptr;

Image* ReadTiny(const char* fileName) {
    readerCalls.emplace_back(fileName);
    std::ifstream in(fileName, std::ios::binary);
    unsigned char wh[2];
    if (!in.read(reinterpret_cast<char*>(wh), 2)) return nullptr;
    Image* image = ImageCreate(wh[0], wh[1], 32);
    if (image == nullptr || ImageAllocatePixels(image) == nullptr) return nullptr;
    for (int32 y = 0; y < wh[1]; ++y) {
        in.read(reinterpret_cast<char*>(image->pixels + y * image->stride), wh[0] * 4);
    }
    return image;
}

Image* ReadOther(const char* fileName) {
    readerCalls.push_back(std::string("other:") + fileName);
    return nullptr;
}

bool CountingExists(const char* name) {
    existCalls.emplace_back(name);
    return realExists(name);
}

class ImageFiles : public test::RasterMemoryTest {
  protected:
    void SetUp() override {
        test::RasterMemoryTest::SetUp();
        readerCalls.clear();
        existCalls.clear();
        root = fs::temp_directory_path() / ("kvimg-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root / "first");
        fs::create_directories(root / "second");
        FileFunctions& files = EngineInstanceGet()->fileFuncs;
        realExists = files.kvfexist;
        files.kvfexist = CountingExists;
        ASSERT_TRUE(ImageRegisterImageFormat("tst", ReadTiny, nullptr));
    }
    void TearDown() override {
        fs::remove_all(root);
        test::RasterMemoryTest::TearDown();
    }
    void Write(const fs::path& p, const std::vector<uint8>& bytes) {
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string Dir(const char* sub) { return (root / sub).string() + "/"; }
    fs::path root;
};

TEST_F(ImageFiles, PicturesPast64MebibytesNeedAByteOfFileForEvery32) {
    const auto tooLarge = [] {
        ErrorRecord e{};
        return ErrorGet(&e) && e.pluginID == kIdImageModule && e.errorCode == kErrImageFileTooLarge;
    };
    // 4096 x 4096 RGBA is exactly the free size: any file, even of unknown size.
    EXPECT_TRUE(ImageReadSizeAllowed(4096, 4096, 32, 0, 0));
    EXPECT_TRUE(ImageReadSizeAllowed(4096, 4096, 32, 0, -1));
    // A row more needs a 32nd of it from the file.
    const int64_t decoded = int64_t{4096} * 4 * 4097;
    EXPECT_TRUE(ImageReadSizeAllowed(4096, 4097, 32, 0, decoded / 32));
    ErrorClear();
    EXPECT_FALSE(ImageReadSizeAllowed(4096, 4097, 32, 0, decoded / 32 - 1));
    EXPECT_TRUE(tooLarge());
    EXPECT_FALSE(ImageReadSizeAllowed(4096, 4097, 32, 0, -1));
    // Depths 4 and 8 take a byte a pixel, rows of whole words; extra bytes count.
    EXPECT_TRUE(ImageReadSizeAllowed(8192, 8192, 4, 0, 0));
    EXPECT_FALSE(ImageReadSizeAllowed(8192, 8192, 8, 1, 0));
    EXPECT_FALSE(ImageReadSizeAllowed(8189, 8193, 8, 0, 0));  // 8192-byte rows
    // Past 32768 on either side nothing is read, whatever the file.
    EXPECT_FALSE(ImageReadSizeAllowed(32769, 1, 8, 0, int64_t{1} << 40));
    EXPECT_FALSE(ImageReadSizeAllowed(1, 32769, 8, 0, int64_t{1} << 40));
    EXPECT_TRUE(ImageReadSizeAllowed(32768, 32768, 32, 0, int64_t{1} << 40));
}

TEST_F(ImageFiles, ExtensionsMatchInLowerOrUpperCaseOnly) {
    Write(root / "a.tst", {1, 1, 1, 2, 3, 4});
    Write(root / "b.TST", {1, 1, 5, 6, 7, 8});
    Write(root / "c.Tst", {1, 1, 0, 0, 0, 0});
    Image* a = ImageRead((root / "a.tst").c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->pixels[3], 4);
    ImageDestroy(a);
    Image* b = ImageRead((root / "b.TST").c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->pixels[0], 5);
    ImageDestroy(b);

    readerCalls.clear();
    EXPECT_EQ(ImageRead((root / "c.Tst").c_str()), nullptr);
    EXPECT_TRUE(readerCalls.empty());

    existCalls.clear();
    EXPECT_EQ(ImageRead("noextension"), nullptr);
    EXPECT_EQ(ImageRead("dir.tst/noextension"), nullptr);  // a dot in a directory is no extension
    EXPECT_TRUE(existCalls.empty());
    EXPECT_TRUE(readerCalls.empty());
}

TEST_F(ImageFiles, TheSearchPathIsTriedInOrderUntilAReaderSucceeds) {
    Write(root / "second" / "sky.tst", {2, 1, 1, 1, 1, 1, 2, 2, 2, 2});
    const std::string path = Dir("first") + ";" + Dir("second");
    ASSERT_NE(ImageSetPath(path.c_str()), nullptr);
    Image* image = ImageRead("sky.tst");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 2);
    ImageDestroy(image);
    EXPECT_EQ(existCalls, (std::vector<std::string>{Dir("first") + "sky.tst", Dir("second") + "sky.tst"}));
    EXPECT_EQ(readerCalls, (std::vector<std::string>{Dir("second") + "sky.tst"}));

    // An absolute name ignores the path.
    existCalls.clear();
    const std::string absolute = (root / "second" / "sky.tst").string();
    image = ImageRead(absolute.c_str());
    ASSERT_NE(image, nullptr);
    ImageDestroy(image);
    EXPECT_EQ(existCalls, (std::vector<std::string>{absolute}));
}

TEST_F(ImageFiles, ReRegisteringReplacesOnlyTheGivenFunctions) {
    Write(root / "x.tst", {1, 1, 0, 0, 0, 0});
    ASSERT_TRUE(ImageRegisterImageFormat("TST", ReadOther, nullptr));
    EXPECT_EQ(ImageRead((root / "x.tst").c_str()), nullptr);
    EXPECT_EQ(readerCalls, (std::vector<std::string>{"other:" + (root / "x.tst").string()}));
    ASSERT_TRUE(ImageRegisterImageFormat("tst", nullptr, nullptr));  // keeps ReadOther
    readerCalls.clear();
    EXPECT_EQ(ImageRead((root / "x.tst").c_str()), nullptr);
    EXPECT_EQ(readerCalls.size(), 1u);
}

TEST_F(ImageFiles, LongExtensionsAreCutTo18Characters) {
    ASSERT_TRUE(ImageRegisterImageFormat("abcdefghijklmnopqrstuvwxyz", ReadTiny, nullptr));
    Write(root / "f.abcdefghijklmnopqr", {1, 1, 9, 9, 9, 9});
    Image* image = ImageRead((root / "f.abcdefghijklmnopqr").c_str());
    ASSERT_NE(image, nullptr);
    ImageDestroy(image);
}

TEST_F(ImageFiles, FindFileExtensionReportsTheFormThatExists) {
    ASSERT_TRUE(ImageRegisterImageFormat("zzz", ReadOther, nullptr));
    Write(root / "second" / "ground.TST", {1, 1, 0, 0, 0, 0});
    const std::string path = Dir("first") + ";" + Dir("second");
    ImageSetPath(path.c_str());
    const char* ext = ImageFindFileExtension("ground");
    ASSERT_NE(ext, nullptr);
    EXPECT_STREQ(ext, ".TST");
    EXPECT_EQ(ImageFindFileExtension("missing"), nullptr);
    // Newest format first, lower case before upper, per directory.
    existCalls.clear();
    ImageFindFileExtension("missing");
    ASSERT_EQ(existCalls.size(), 8u);
    EXPECT_EQ(existCalls[0], Dir("first") + "missing.zzz");
    EXPECT_EQ(existCalls[1], Dir("first") + "missing.ZZZ");
    EXPECT_EQ(existCalls[3], Dir("first") + "missing.TST");
}

TEST_F(ImageFiles, ALongSearchPathGrowsItsBuffers) {
    // Deeper than the 256 bytes the buffers start with.
    std::string longDir = root.string();
    for (int i = 0; i < 3; ++i) longDir += "/" + std::string(100, 'd');
    longDir += "/";
    fs::create_directories(longDir);
    Write(longDir + "p.tst", {1, 1, 1, 2, 3, 4});
    const std::string path = Dir("first") + ";" + longDir;
    ASSERT_NE(ImageSetPath(path.c_str()), nullptr);
    EXPECT_EQ(std::string(ImageGetPath()), path);
    Image* image = ImageRead("p.tst");
    ASSERT_NE(image, nullptr);
    ImageDestroy(image);
}

TEST_F(ImageFiles, MaskedImagesTakeTheMaskBrightnessAsAlpha) {
    Write(root / "pic.tst", {2, 1, 10, 20, 30, 255, 40, 50, 60, 255});
    Write(root / "pica.tst", {2, 1, 0, 128, 0, 255, 7, 0, 0, 255});
    ImageSetPath(Dir("").c_str());
    Image* image = ImageReadMaskedImage("pic.tst", "pica.tst");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[3], 128);
    EXPECT_EQ(image->pixels[7], 7);
    EXPECT_EQ(image->pixels[4], 40);
    ImageDestroy(image);

    image = ImageReadMaskedImage("pic.tst", "");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[3], 255);
    ImageDestroy(image);

    EXPECT_EQ(ImageReadMaskedImage("pic.tst", "nomask.tst"), nullptr);
    EXPECT_EQ(ImageReadMaskedImage("nopic.tst", "pica.tst"), nullptr);
}

}  // namespace
}  // namespace kv
