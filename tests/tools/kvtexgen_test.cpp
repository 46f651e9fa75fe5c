// The program's pictures: the generator makes again exactly what is in
// textures/, the logo's include and the icon, and the pictures are what the program
// needs (sizes the device takes as they are, masks that carry a shape).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/image/image.h"
#include "engine/image/image_readers.h"
#include "engine_fixture.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

class Pictures : public ::testing::Test {
  protected:
    void SetUp() override {
        source = std::getenv("KV_SOURCE_DIR");
        made = fs::temp_directory_path() / ("kvtexgen-" + std::to_string(::getpid()));
        fs::create_directories(made);
        const std::string cmd = std::string(KVTEXGEN_PATH) + " " + made.string() + " " + (made / "logo.inc").string();
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        ASSERT_TRUE(test::EngineUp());
        ASSERT_TRUE(ImageRegisterFileReaders());
    }
    void TearDown() override {
        test::EngineDown();
        fs::remove_all(made);
    }
    // Every pixel as RGBA, or empty when the file cannot be read.
    static std::vector<RGBA> Pixels(const fs::path& file, int32* width, int32* height, int32* depth) {
        Image* image = ImageRead(file.c_str());
        if (image == nullptr) return {};
        *width = image->width;
        *height = image->height;
        *depth = image->depth;
        std::vector<RGBA> out;
        for (int32 y = 0; y < image->height; ++y) {
            const uint8* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
            for (int32 x = 0; x < image->width; ++x) {
                out.push_back(image->depth == 32 ? reinterpret_cast<const RGBA*>(row)[x] : image->palette[row[x]]);
            }
        }
        ImageDestroy(image);
        return out;
    }
    fs::path source;
    fs::path made;
};

TEST_F(Pictures, TheGeneratorMakesWhatIsCommitted) {
    std::vector<std::string> names = {"ground.png", "logo.png"};
    for (int i = 0; i < 8; ++i) {
        names.push_back("flare" + std::to_string(i) + ".png");
        names.push_back("flare" + std::to_string(i) + "m.bmp");
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        int32 w = 0, h = 0, d = 0, w2 = 0, h2 = 0, d2 = 0;
        const std::vector<RGBA> committed = Pixels(source / "textures" / name, &w, &h, &d);
        const std::vector<RGBA> again = Pixels(made / name, &w2, &h2, &d2);
        ASSERT_FALSE(committed.empty());
        EXPECT_EQ(w, w2);
        EXPECT_EQ(h, h2);
        EXPECT_EQ(d, d2);
        EXPECT_TRUE(committed == again);
        // Powers of two: the device takes them without resampling.
        EXPECT_EQ(w & (w - 1), 0);
        EXPECT_EQ(h & (h - 1), 0);
    }
    // The icon lives with the program's other installed data.
    int32 w = 0, h = 0, d = 0, w2 = 0, h2 = 0, d2 = 0;
    const std::vector<RGBA> icon = Pixels(source / "assets" / "skydome.png", &w, &h, &d);
    ASSERT_FALSE(icon.empty());
    EXPECT_TRUE(icon == Pixels(made / "skydome.png", &w2, &h2, &d2));
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 128);
    EXPECT_EQ(d, d2);
    EXPECT_EQ(icon.front().alpha, 0) << "transparent around the dome";
    EXPECT_EQ(icon[64 * 128 + 64].alpha, 255);
    std::ifstream a(source / "engine/world/logo_pixels.inc");
    std::ifstream b(made / "logo.inc");
    std::stringstream committed, again;
    committed << a.rdbuf();
    again << b.rdbuf();
    EXPECT_FALSE(committed.str().empty());
    EXPECT_TRUE(committed.str() == again.str());
}

TEST_F(Pictures, TheLogoIncludeHoldsTheLogoAndMasksFollowTheirFlares) {
    int32 w = 0, h = 0, d = 0;
    const std::vector<RGBA> logo = Pixels(source / "textures" / "logo.png", &w, &h, &d);
    ASSERT_EQ(w, 128);
    ASSERT_EQ(h, 64);
    EXPECT_EQ(d, 32);
    // The include's numbers are the picture's bytes in order.
    std::ifstream in(source / "engine/world/logo_pixels.inc");
    std::vector<uint8> bytes;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("//", 0) == 0) continue;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) {
            if (field.find_first_not_of(' ') != std::string::npos)
                bytes.push_back(static_cast<uint8>(std::stoi(field)));
        }
    }
    ASSERT_EQ(bytes.size(), 128u * 64u * 4u);
    EXPECT_EQ(std::memcmp(bytes.data(), logo.data(), bytes.size()), 0);
    // Transparent corners, an opaque emblem.
    EXPECT_EQ(logo[0].alpha, 0);
    int32 opaque = 0;
    for (const RGBA& c : logo) opaque += c.alpha == 255 ? 1 : 0;
    EXPECT_GT(opaque, 500);

    // A mask is bright where its flare is bright and dark at the edges, where
    // the quads end.
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const std::string base = "flare" + std::to_string(i);
        const std::vector<RGBA> flare = Pixels(source / "textures" / (base + ".png"), &w, &h, &d);
        const std::vector<RGBA> mask = Pixels(source / "textures" / (base + "m.bmp"), &w, &h, &d);
        ASSERT_EQ(flare.size(), mask.size());
        int32 lit = 0;
        for (std::size_t k = 0; k < flare.size(); ++k) {
            const uint8 brightest = std::max({flare[k].red, flare[k].green, flare[k].blue});
            ASSERT_EQ(mask[k].red, brightest) << k;
            lit += brightest > 128 ? 1 : 0;
        }
        EXPECT_GT(lit, 20);
        for (int32 x = 0; x < w; ++x) {
            EXPECT_LT(mask[static_cast<std::size_t>(x)].red, 8);
            EXPECT_LT(mask[static_cast<std::size_t>((h - 1) * w + x)].red, 8);
        }
    }
}

}  // namespace
}  // namespace kv
