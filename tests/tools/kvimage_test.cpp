// kvimage, run as users run it: what it prints, what it writes and how it
// exits.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

namespace fs = std::filesystem;

using kv::test::ToolRun;

class KvImage : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kvimage-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolRun Run(const std::string& args) {
        return kv::test::RunTool(std::string(KVIMAGE_PATH) + " " + args, dir / "stderr");
    }
    std::string Save(const char* name, const std::vector<unsigned char>& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return p.string();
    }
    // The RGBA pixels of a PNG file, or empty.
    static std::vector<unsigned char> Rgba(const std::string& file, unsigned* width, unsigned* height) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, file.c_str())) return {};
        const bool wasRgba = image.format == PNG_FORMAT_RGBA;
        image.format = PNG_FORMAT_RGBA;
        std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) || !wasRgba) return {};
        *width = image.width;
        *height = image.height;
        return pixels;
    }
    fs::path dir;
};

// A 2 x 1 BMP of 8 bits whose palette holds two colours.
std::vector<unsigned char> PaletteBmp() {
    std::vector<unsigned char> b = {'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0,
                                    2,   0,   0,  0, 1, 0, 0, 0, 1, 0, 8,  0, 0, 0, 0,  0, 0, 0,
                                    0,   0,   0,  0, 0, 0, 0, 0, 0, 0, 2,  0, 0, 0, 0,  0, 0, 0};
    b.insert(b.end(), {30, 20, 10, 0, 60, 50, 40, 0});  // blue, green, red, unused
    b.insert(b.end(), {1, 0, 0, 0});
    return b;
}

TEST_F(KvImage, PrintsTheSizeAndWritesRgbaWithThePaletteApplied) {
    const std::string in = Save("pal.bmp", PaletteBmp());
    const std::string out = (dir / "pal.png").string();
    const ToolRun r = Run(in + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, in + ": 2 x 1, depth 8\n");
    EXPECT_TRUE(r.err.empty()) << r.err;
    unsigned w = 0, h = 0;
    const std::vector<unsigned char> rgba = Rgba(out, &w, &h);
    ASSERT_EQ(rgba.size(), 8u);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{40, 50, 60, 255, 10, 20, 30, 255}));

    // A palette PNG with transparency keeps it in the alpha channel.
    const std::string seed = std::string(std::getenv("KV_SOURCE_DIR")) + "/tests/fuzz/seeds/png/pal8trns.png";
    const ToolRun p = Run(seed + " " + out);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.out.find(": 3 x 1, depth 8"), std::string::npos) << p.out;
    EXPECT_EQ(Rgba(out, &w, &h), (std::vector<unsigned char>{12, 13, 14, 255, 3, 4, 5, 128, 0, 1, 2, 0}));
}

TEST_F(KvImage, ExplainsInOneLineWhatItCannotRead) {
    const std::vector<unsigned char> good = PaletteBmp();
    std::vector<unsigned char> lying = good;
    lying[18] = 0xFF;  // a width far past the limit
    lying[19] = 0xFF;
    lying[20] = 0xFF;
    lying[21] = 0x7F;
    struct Case {
        std::string file;
        const char* reason;
    };
    const Case cases[] = {
        {Save("lying.bmp", lying), "image too large"},
        {Save("cut.bmp", std::vector<unsigned char>(good.begin(), good.begin() + 40)), "the file ends early"},
        {Save("text.png", std::vector<unsigned char>(40, 'x')), "damaged or unsupported PNG file"},
        {(dir / "missing.png").string(), "no such file"},
        {Save("picture.gif", good), "not a .bmp or .png file name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const ToolRun r = Run(c.file + " " + (dir / "never.png").string());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err, "kvimage: " + c.file + ": " + c.reason + "\n");
        EXPECT_FALSE(fs::exists(dir / "never.png"));
    }

    const std::string in = Save("pal.bmp", PaletteBmp());
    const ToolRun unwritable = Run(in + " " + (dir / "no" / "such" / "dir.png").string());
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "kvimage: cannot write " + (dir / "no" / "such" / "dir.png").string() +
                                  ": the folder it would go in does not exist (No such file or directory). Make the "
                                  "folder first, or give a name in a folder that exists.\n");

    const ToolRun usage = Run("");
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("Usage: kvimage IN [OUT.png]"), std::string::npos);
}

// The bytes written are PNG: a name that says another format is refused
// before anything is read, and nothing is written under it.
TEST_F(KvImage, WritesOnlyUnderAPngNameOrIntoADevice) {
    const std::string in = Save("pal.bmp", PaletteBmp());
    for (const char* name : {"x.bmp", "x.jpg", "x", "x.png.bmp"}) {
        const ToolRun r = Run(in + " " + (dir / name).string());
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_EQ(r.err, "kvimage: " + (dir / name).string() +
                             ": the picture is written as PNG, so the name must end in .png\n");
        EXPECT_FALSE(fs::exists(dir / name)) << name;
    }
    EXPECT_EQ(Run(in + " " + (dir / "x.PNG").string()).status, 0);
    // A pipe takes the bytes under its own name.
    const ToolRun piped = Run(in + " /dev/stdout");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_NE(piped.out.find("\x89PNG"), std::string::npos);
}

TEST_F(KvImage, TakesTheGnuFormsAndTellsItsVersion) {
    const ToolRun version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("kvimage ") + KV_VERSION + "\n");
    EXPECT_EQ(Run("--help=all").status, 2);
    EXPECT_EQ(Run("--help=all").err, "kvimage: --help takes no value\n");
    EXPECT_EQ(Run("--size=2 x.png").err, "kvimage: unknown option --size (see --help)\n");
    const ToolRun help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  --version "), std::string::npos) << help.out;
}

}  // namespace
