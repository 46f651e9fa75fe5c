// Exports of the sky: panoramas (PNG bytes and OpenEXR linear colours, read
// back and compared with the plain evaluation of each pixel's direction), the
// dome as glTF (read back with the library's own loader), and failed exports,
// which must leave the file that was there as it was and nothing beside it.
#include <ImfRgbaFile.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiny_gltf.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "app/skydome/dome_gltf.h"
#include "app/skydome/panorama.h"
#include "dome_fixture.h"
#include "engine/world/geometry.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bytes;
    const unsigned char* At(int x, int y) const { return &bytes[3 * (static_cast<std::size_t>(y) * width + x)]; }
};

bool ReadPng(const fs::path& file, Rgb* out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return false;
    image.format = PNG_FORMAT_RGB;
    out->bytes.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, out->bytes.data(), 0, nullptr) == 0) return false;
    out->width = static_cast<int>(image.width);
    out->height = static_cast<int>(image.height);
    return true;
}

class ExportTest : public DomeTest {
  protected:
    void SetUp() override {
        DomeTest::SetUp();
        char pattern[] = "/tmp/kvexport.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        fs::remove_all(dir);
        ASSERT_TRUE(SkySetTurbidity(kSkyTurbidity));
        DomeTest::TearDown();
    }

    // The pixels every panorama test looks at: the zenith row, the pixel
    // nearest the sun and its neighbours, the last row above the horizon,
    // and random ones in the sky half.
    static std::vector<std::pair<int, int>> Samples(int width, float sunZenith, float sunAzimuth) {
        const int height = PanoramaHeight(width);
        std::vector<std::pair<int, int>> s;
        for (int x = 0; x < width; x += width / 16) s.emplace_back(x, 0);
        // Compass azimuth of the sun = 360 - the program's; column from the mapping.
        const double compass = std::fmod(360.0 - sunAzimuth, 360.0);
        const int sx = static_cast<int>(std::fmod(compass + 180.0, 360.0) / 360.0 * width);
        const int sy = static_cast<int>(sunZenith / 180.0 * height);
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx)
                s.emplace_back((sx + dx + width) % width, std::clamp(sy + dy, 0, height / 2 - 1));
        }
        for (int x = 0; x < width; ++x) s.emplace_back(x, PanoramaSkyRows(width) - 1);
        std::mt19937 rng(11);
        for (int i = 0; i < 400; ++i) {
            s.emplace_back(static_cast<int>(rng() % width), static_cast<int>(rng() % PanoramaSkyRows(width)));
        }
        return s;
    }
    // The plain evaluation of that pixel's direction.
    static RGBAReal Plain(int width, int x, int y) {
        double theta = 0.0;
        double phi = 0.0;
        PanoramaPixelAngles(width, x, y, &theta, &phi);
        const SkyState* s = SkyGetState();
        return SkyColor(s->sunTheta * kSkyDegToRad, s->sunPhi * kSkyDegToRad, theta, phi);
    }

    fs::path dir;
};

TEST_F(ExportTest, PanoramaMappingPutsNorthInTheCentreAndTheSunWhereTheModelHasIt) {
    constexpr int kWidth = 360;
    double theta = 0.0;
    double phi = 0.0;
    // Column centres at compass (x + 0.5) - 180: x = 179 is half a degree west of north.
    PanoramaPixelAngles(kWidth, 179, 0, &theta, &phi);
    EXPECT_NEAR(phi / kSkyDegToRad, 0.5, 1e-9);
    EXPECT_NEAR(theta / kSkyDegToRad, 0.5, 1e-9);  // rows of one degree
    PanoramaPixelAngles(kWidth, 180, 89, &theta, &phi);
    EXPECT_NEAR(phi / kSkyDegToRad, 359.5, 1e-9);   // half a degree east of north
    EXPECT_NEAR(theta / kSkyDegToRad, 89.5, 1e-9);  // the last row above the horizon
    PanoramaPixelAngles(kWidth, 269, 0, &theta, &phi);
    EXPECT_NEAR(phi / kSkyDegToRad, 270.5, 1e-9);  // east, three quarters across
    PanoramaPixelAngles(kWidth, 0, 0, &theta, &phi);
    EXPECT_NEAR(phi / kSkyDegToRad, 179.5, 1e-9);  // south at the left edge
    EXPECT_EQ(PanoramaSkyRows(kWidth), 90);
    EXPECT_EQ(PanoramaSkyRows(18), 4);  // a height of 9: its middle row lies on the horizon

    // The pixel the sample list picks as the sun's looks at the model's sun.
    ASSERT_NE(MakeDome(2, 37.0f, 123.0f), nullptr);
    const auto s = Samples(kWidth, 37.0f, 123.0f)[kWidth / (kWidth / 16) + 4];
    PanoramaPixelAngles(kWidth, s.first, s.second, &theta, &phi);
    const V3d d{static_cast<real>(std::sin(theta) * std::sin(phi)), static_cast<real>(std::cos(theta)),
                static_cast<real>(std::sin(theta) * std::cos(phi))};
    const V3d sun = SkyGetState()->sunDirection;
    EXPECT_GT(d.x * sun.x + d.y * sun.y + d.z * sun.z, std::cos(1.0 * 3.14159265 / 180.0));
}

TEST_F(ExportTest, PngPanoramaHoldsTheToneMappedPlainEvaluationOfEveryPixel) {
    constexpr int kWidth = 512;
    constexpr float kExposure = 0.23f;
    for (float turbidity : {kSkyTurbidity, 6.5f}) {
        ASSERT_TRUE(SkySetTurbidity(turbidity));
        ASSERT_NE(MakeDome(2, 31.0f, 200.0f), nullptr);
        const fs::path file = dir / "sky.PNG";
        std::string message;
        ASSERT_TRUE(PanoramaWrite(file.c_str(), kWidth, kExposure, &message)) << message;
        Rgb png;
        ASSERT_TRUE(ReadPng(file, &png));
        ASSERT_EQ(png.width, kWidth);
        ASSERT_EQ(png.height, kWidth / 2);
        for (const auto& [x, y] : Samples(kWidth, 31.0f, 200.0f)) {
            const RGBAReal c = Plain(kWidth, x, y);
            const RGBA expected = SkyToneMap(&c, kExposure);
            const unsigned char* got = png.At(x, y);
            ASSERT_TRUE(got[0] == expected.red && got[1] == expected.green && got[2] == expected.blue)
                << turbidity << " at " << x << "," << y;
        }
        // Below the horizon every row is the last sky row again.
        const int last = PanoramaSkyRows(kWidth) - 1;
        for (int y = last + 1; y < png.height; ++y) {
            ASSERT_EQ(std::memcmp(png.At(0, y), png.At(0, last), 3 * kWidth), 0) << y;
        }
        EXPECT_EQ(Entries(dir), std::vector<std::string>{"sky.PNG"});
        DomeClumpDestroy(clump);
        clump = nullptr;
    }
}

TEST_F(ExportTest, ExrPanoramaHoldsTheLinearColourAsHalfFloats) {
    constexpr int kWidth = 256;
    ASSERT_NE(MakeDome(2, 64.0f, 10.0f), nullptr);
    const fs::path file = dir / "sky.exr";
    std::string message;
    ASSERT_TRUE(PanoramaWrite(file.c_str(), kWidth, 0.1f, &message)) << message;
    Imf::RgbaInputFile in(file.c_str());
    const Imath::Box2i window = in.dataWindow();
    ASSERT_EQ(window.max.x - window.min.x + 1, kWidth);
    ASSERT_EQ(window.max.y - window.min.y + 1, kWidth / 2);
    EXPECT_EQ(in.channels(), Imf::WRITE_RGB);
    std::vector<Imf::Rgba> pixels(static_cast<std::size_t>(kWidth) * (kWidth / 2));
    in.setFrameBuffer(pixels.data(), 1, kWidth);
    in.readPixels(window.min.y, window.max.y);
    auto at = [&](int x, int y) { return pixels[static_cast<std::size_t>(y) * kWidth + x]; };
    bool bright = false;
    for (const auto& [x, y] : Samples(kWidth, 64.0f, 10.0f)) {
        const RGBAReal c = Plain(kWidth, x, y);
        const Imf::Rgba p = at(x, y);
        ASSERT_EQ(p.r.bits(), half(c.red).bits()) << x << "," << y;
        ASSERT_EQ(p.g.bits(), half(c.green).bits()) << x << "," << y;
        ASSERT_EQ(p.b.bits(), half(c.blue).bits()) << x << "," << y;
        bright = bright || c.red > 1.0f;  // linear, not bytes: well past 1 in places
    }
    EXPECT_TRUE(bright);
    const int last = PanoramaSkyRows(kWidth) - 1;
    for (int y = last + 1; y < kWidth / 2; ++y) {
        for (int x = 0; x < kWidth; x += 7) ASSERT_EQ(at(x, y).g.bits(), at(x, last).g.bits());
    }
}

TEST_F(ExportTest, GltfReadsBackWithTheDomesCountsColoursAndOneUnlitMaterial) {
    ASSERT_NE(MakeDome(9, 40.0f, 300.0f), nullptr);
    const Geometry* g = DomeGeometry();
    const fs::path file = dir / "dome.glb";
    std::string message;
    ASSERT_TRUE(DomeExportGLTF(g, false, file.c_str(), &message)) << message;

    // The binary container's header: magic, version 2, the file's length.
    const std::string bytes = ReadText(file);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(bytes.substr(0, 4), "glTF");
    uint32 header[3];
    std::memcpy(header, bytes.data(), sizeof header);
    EXPECT_EQ(header[1], 2u);
    EXPECT_EQ(header[2], bytes.size());

    tinygltf::Model m;
    tinygltf::TinyGLTF loader;
    std::string error;
    std::string warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&m, &error, &warning, file.string())) << error;
    EXPECT_EQ(m.asset.version, "2.0");
    ASSERT_EQ(m.meshes.size(), 1u);
    ASSERT_EQ(m.meshes[0].primitives.size(), 1u);
    const tinygltf::Primitive& prim = m.meshes[0].primitives[0];
    EXPECT_EQ(prim.mode, TINYGLTF_MODE_TRIANGLES);
    ASSERT_EQ(m.materials.size(), 1u);
    EXPECT_EQ(m.materials[0].extensions.count(kGltfUnlit), 1u);
    EXPECT_TRUE(m.materials[0].doubleSided);
    EXPECT_NE(std::find(m.extensionsUsed.begin(), m.extensionsUsed.end(), kGltfUnlit), m.extensionsUsed.end());
    ASSERT_EQ(m.scenes.size(), 1u);
    ASSERT_EQ(m.nodes.size(), 1u);
    EXPECT_EQ(m.nodes[0].mesh, 0);

    // Reads accessor a as count x width floats (or indices).
    auto data = [&](int a) {
        const tinygltf::Accessor& acc = m.accessors[a];
        const tinygltf::BufferView& view = m.bufferViews[acc.bufferView];
        return m.buffers[view.buffer].data.data() + view.byteOffset + acc.byteOffset;
    };
    const int32 nv = GeometryGetNumVertices(g);
    const int32 nt = GeometryGetNumTriangles(g);
    ASSERT_EQ(nv, 325);
    for (const char* name : {"POSITION", "NORMAL", "COLOR_0"}) {
        ASSERT_EQ(prim.attributes.count(name), 1u) << name;
        const tinygltf::Accessor& acc = m.accessors[prim.attributes.at(name)];
        EXPECT_EQ(acc.count, static_cast<std::size_t>(nv)) << name;
        EXPECT_EQ(acc.type, TINYGLTF_TYPE_VEC3) << name;
        EXPECT_EQ(acc.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT) << name;
    }
    const tinygltf::Accessor& idx = m.accessors[prim.indices];
    ASSERT_EQ(idx.count, static_cast<std::size_t>(3 * nt));
    ASSERT_EQ(idx.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    const auto* positions = reinterpret_cast<const float*>(data(prim.attributes.at("POSITION")));
    const auto* normals = reinterpret_cast<const float*>(data(prim.attributes.at("NORMAL")));
    const auto* colours = reinterpret_cast<const float*>(data(prim.attributes.at("COLOR_0")));
    const auto* indices = reinterpret_cast<const uint16*>(data(prim.indices));
    const MorphTarget* target = GeometryGetMorphTarget(g, 0);
    const RGBA* prelit = GeometryGetPrelitColors(g);
    int lit = 0;
    for (int32 i = 0; i < nv; ++i) {
        const V3d p = MorphTargetGetVertices(target)[i];
        const V3d n = MorphTargetGetNormals(target)[i];
        ASSERT_TRUE(positions[3 * i] == p.x && positions[3 * i + 1] == p.y && positions[3 * i + 2] == p.z) << i;
        ASSERT_TRUE(normals[3 * i] == n.x && normals[3 * i + 1] == n.y && normals[3 * i + 2] == n.z) << i;
        const uint8 rgb[3] = {prelit[i].red, prelit[i].green, prelit[i].blue};
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(colours[3 * i + k], GltfLinearFromSrgb(rgb[k])) << i;
            // Encoded back to sRGB the colour is the byte the program shows.
            const float v = colours[3 * i + k];
            const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
            ASSERT_NEAR(encoded * 255.0, rgb[k], 1e-3) << i;
        }
        lit += prelit[i].blue > 0 ? 1 : 0;
    }
    EXPECT_EQ(lit, nv);  // a coloured dome, not a black one
    for (int32 t = 0; t < nt; ++t) {
        const uint16* v = GeometryGetTriangles(g)[t].vertIndex;
        ASSERT_TRUE(indices[3 * t] == v[0] && indices[3 * t + 1] == v[1] && indices[3 * t + 2] == v[2]) << t;
    }
    EXPECT_FLOAT_EQ(GltfLinearFromSrgb(0), 0.0f);
    EXPECT_FLOAT_EQ(GltfLinearFromSrgb(255), 1.0f);
    EXPECT_NEAR(GltfLinearFromSrgb(188), 0.5029, 1e-4);

    // The dome turned inside out (the preview) exports as the same file.
    DomeInvert();
    const fs::path inverted = dir / "inverted.glb";
    ASSERT_TRUE(DomeExportGLTF(g, true, inverted.c_str(), &message)) << message;
    EXPECT_EQ(ReadText(inverted), bytes);
}

TEST_F(ExportTest, RefusedAndFailedExportsKeepThePreviousFileAndLeaveNothingBehind) {
    ASSERT_NE(MakeDome(4), nullptr);
    const fs::path png = dir / "sky.png";
    const fs::path exr = dir / "sky.exr";
    const fs::path glb = dir / "dome.glb";
    for (const fs::path& f : {png, exr, glb}) WriteText(f, "yesterday's");
    std::string message;
    EXPECT_FALSE(PanoramaWrite(png.c_str(), 301, 0.1f, &message));
    EXPECT_NE(message.find("even number"), std::string::npos) << message;
    EXPECT_FALSE(PanoramaWrite(exr.c_str(), 8194, 0.1f, &message));
    EXPECT_FALSE(PanoramaWrite((dir / "sky.jpg").c_str(), 64, 0.1f, &message));
    EXPECT_NE(message.find(".png or .exr"), std::string::npos) << message;
    EXPECT_FALSE(PanoramaWrite((dir / "no" / "sky.exr").c_str(), 64, 0.1f, &message));
    EXPECT_NE(message.find(dir.string() + "/no/sky.exr"), std::string::npos) << message;
    EXPECT_FALSE(PanoramaWrite((dir / "no" / "sky.png").c_str(), 64, 0.1f, &message));
    EXPECT_FALSE(DomeExportGLTF(DomeGeometry(), false, (dir / "no" / "d.glb").c_str(), &message));
    EXPECT_NE(message.find("Cannot export the dome to"), std::string::npos) << message;
    EXPECT_FALSE(DomeExportGLTF(DomeGeometry(), false, dir.c_str(), &message));
    EXPECT_NE(message.find("folder"), std::string::npos) << message;
    EXPECT_FALSE(DomeExportGLTF(nullptr, false, glb.c_str(), &message));

    // A disk that fills up part way: a file-size limit in a child process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{3000, 3000};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(70);
        std::string why;
        int failures = 0;
        failures += PanoramaWrite(png.c_str(), 1024, 0.1f, &why) ? 0 : 1;
        failures += PanoramaWrite(exr.c_str(), 1024, 0.1f, &why) ? 0 : 1;
        failures += DomeExportGLTF(DomeGeometry(), false, glb.c_str(), &why) ? 0 : 1;
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    for (const fs::path& f : {png, exr, glb}) EXPECT_EQ(ReadText(f), "yesterday's") << f;
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"dome.glb", "sky.exr", "sky.png"}));

    // With room they replace the old files.
    ASSERT_TRUE(PanoramaWrite(png.c_str(), 64, 0.1f, &message)) << message;
    ASSERT_TRUE(PanoramaWrite(exr.c_str(), 64, 0.1f, &message)) << message;
    ASSERT_TRUE(DomeExportGLTF(DomeGeometry(), false, glb.c_str(), &message)) << message;
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"dome.glb", "sky.exr", "sky.png"}));
    EXPECT_NE(ReadText(png), "yesterday's");
}

// A panorama asked to stop (a quit signal, in the program) stops at the next
// row, says why, and leaves the old file as it was and nothing beside it.
int rowsAllowed = 0;
const char* StopAfterRows() { return rowsAllowed-- > 0 ? nullptr : "interrupted by SIGTERM"; }

TEST_F(ExportTest, APanoramaAskedToStopStopsAtTheNextRowAndLeavesNothing) {
    const fs::path png = dir / "sky.png", exr = dir / "sky.exr";
    for (const fs::path& f : {png, exr}) WriteText(f, "yesterday's");
    PanoramaSetStop(StopAfterRows);
    std::string message;
    // Of 64 x 32, 16 rows are sky: stopped while the sky is computed, or
    // after (the PNG's compression, the EXR's rows below the horizon).
    for (const fs::path& f : {png, exr}) {
        for (int rows : {5, 20}) {
            rowsAllowed = rows;
            EXPECT_FALSE(PanoramaWrite(f.c_str(), 64, 0.1f, &message)) << f << " " << rows;
            EXPECT_EQ(message,
                      "Cannot write the panorama to " + f.string() + ": interrupted by SIGTERM. The file there is unchanged.");
            EXPECT_STREQ(PanoramaStopReason(), "interrupted by SIGTERM");
            EXPECT_EQ(rowsAllowed, -1) << "asked once per row, and once more";
        }
    }
    PanoramaSetStop(nullptr);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"sky.exr", "sky.png"}));
    for (const fs::path& f : {png, exr}) EXPECT_EQ(ReadText(f), "yesterday's");
    ASSERT_TRUE(PanoramaWrite(exr.c_str(), 64, 0.1f, &message)) << message;
    EXPECT_EQ(PanoramaStopReason(), nullptr);
}

}  // namespace
}  // namespace kv::test
