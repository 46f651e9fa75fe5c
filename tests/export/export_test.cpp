// Exports of the sky: panoramas (PNG bytes, OpenEXR and Radiance linear
// colours, read back and compared with the plain evaluation of each pixel's
// direction, the sun's disc and the ground, and the light they hold), the
// dome as glTF with its sun (read back with the library's own loader), and
// failed exports, which must leave the file that was there as it was and
// nothing beside it.
#include <ImfChannelList.h>
#include <ImfDoubleAttribute.h>
#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <png.h>
#include <stb_image.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiny_gltf.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <tuple>

#include "app/skydome/program_sky.h"
#include "dome_fixture.h"
#include "engine/world/geometry.h"
#include "export/gltf.h"
#include "export/panorama.h"
#include "sky/night_bodies.h"
#include "sky/sky.h"
#include "sky/sky_model.h"

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

constexpr double kPi = 3.14159265358979323846;

bool IsSun(const std::vector<PanoramaSunPixel>& sun, int x, int y) {
    for (const PanoramaSunPixel& p : sun) {
        if (p.x == x && p.y == y) return true;
    }
    return false;
}

double Luminance709(const float* rgb) { return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]; }

// An EXR read as the floats it holds, with the attributes that give them
// their meaning.
struct Exr {
    int width = 0;
    int height = 0;
    bool floats = false;
    float whiteLuminance = 0.0f;
    bool latLong = false;
    bool rec709 = false;
    std::vector<float> rgb;
    const float* At(int x, int y) const { return &rgb[3 * (static_cast<std::size_t>(y) * width + x)]; }
};

Exr ReadExr(const fs::path& file) {
    Exr e;
    Imf::InputFile in(file.c_str());
    const Imf::Header& h = in.header();
    const Imath::Box2i window = h.dataWindow();
    e.width = window.max.x - window.min.x + 1;
    e.height = window.max.y - window.min.y + 1;
    e.floats = true;
    for (const char* name : {"R", "G", "B"}) {
        const Imf::Channel* c = h.channels().findChannel(name);
        e.floats = e.floats && c != nullptr && c->type == Imf::FLOAT;
    }
    if (Imf::hasWhiteLuminance(h)) e.whiteLuminance = Imf::whiteLuminance(h);
    e.latLong = Imf::hasEnvmap(h) && Imf::envmap(h) == Imf::ENVMAP_LATLONG;
    if (Imf::hasChromaticities(h)) {
        const Imf::Chromaticities c = Imf::chromaticities(h);
        const Imf::Chromaticities rec709;
        e.rec709 = c.red == rec709.red && c.green == rec709.green && c.blue == rec709.blue && c.white == rec709.white;
    }
    e.rgb.resize(3 * static_cast<std::size_t>(e.width) * e.height);
    Imf::FrameBuffer buffer;
    const char* names[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        buffer.insert(names[c], Imf::Slice::Make(Imf::FLOAT, e.rgb.data() + c, window, 3 * sizeof(float),
                                                 3 * sizeof(float) * static_cast<std::size_t>(e.width)));
    }
    in.setFrameBuffer(buffer);
    in.readPixels(window.min.y, window.max.y);
    return e;
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

TEST_F(ExportTest, PngPanoramaHoldsTheToneMappedModelTheSunAndTheGround) {
    constexpr int kWidth = 512;
    constexpr float kExposure = 0.23f;
    for (float turbidity : {kSkyTurbidity, 6.5f}) {
        ASSERT_TRUE(SkySetTurbidity(turbidity));
        ASSERT_NE(MakeDome(2, 31.0f, 200.0f), nullptr);
        const fs::path file = dir / "sky.PNG";
        std::string message;
        ASSERT_TRUE(PanoramaWrite(ProgramSky(), file.c_str(), kWidth, kExposure, &message)) << message;
        Rgb png;
        ASSERT_TRUE(ReadPng(file, &png));
        ASSERT_EQ(png.width, kWidth);
        ASSERT_EQ(png.height, kWidth / 2);
        const std::vector<PanoramaSunPixel> sun = PanoramaSunPixels(ProgramSky(), kWidth);
        ASSERT_FALSE(sun.empty());
        for (const auto& [x, y] : Samples(kWidth, 31.0f, 200.0f)) {
            if (IsSun(sun, x, y)) continue;
            const RGBAReal c = Plain(kWidth, x, y);
            const RGBA expected = SkyToneMap(&c, kExposure);
            const unsigned char* got = png.At(x, y);
            ASSERT_TRUE(got[0] == expected.red && got[1] == expected.green && got[2] == expected.blue)
                << turbidity << " at " << x << "," << y;
        }
        // The sun's disc, thousands of times brighter than the sky, is white.
        for (const PanoramaSunPixel& p : sun) {
            if (p.cover < 0.01) continue;
            const unsigned char* got = png.At(p.x, p.y);
            EXPECT_TRUE(got[0] == 255 && got[1] == 255 && got[2] == 255) << p.x << "," << p.y;
        }
        // Below the horizon the ground, lit alike everywhere.
        const RGBA ground = SkyToneMap(&SkyModelLight()->ground, kExposure);
        EXPECT_GT(ground.red, 0);
        for (int y = PanoramaSkyRows(kWidth); y < png.height; ++y) {
            for (int x = 0; x < kWidth; x += 5) {
                const unsigned char* got = png.At(x, y);
                ASSERT_TRUE(got[0] == ground.red && got[1] == ground.green && got[2] == ground.blue) << x << "," << y;
            }
        }
        EXPECT_EQ(Entries(dir), std::vector<std::string>{"sky.PNG"});
        DomeClumpDestroy(clump);
        clump = nullptr;
    }
}

TEST_F(ExportTest, ExrPanoramaHoldsLinearRec709FloatsWithTheirUnitsTheSunAndTheGround) {
    constexpr int kWidth = 256;
    ASSERT_NE(MakeDome(2, 64.0f, 10.0f), nullptr);
    const fs::path file = dir / "sky.exr";
    std::string message;
    ASSERT_TRUE(PanoramaWrite(ProgramSky(), file.c_str(), kWidth, 0.1f, &message)) << message;
    const Exr exr = ReadExr(file);
    ASSERT_EQ(exr.width, kWidth);
    ASSERT_EQ(exr.height, kWidth / 2);
    EXPECT_TRUE(exr.floats);
    EXPECT_EQ(exr.whiteLuminance, 1000.0f);
    EXPECT_TRUE(exr.latLong);
    EXPECT_TRUE(exr.rec709);

    auto linear = [](RGBAReal c) {
        SkyModelToRec709(&c, 1);
        return c;
    };
    const std::vector<PanoramaSunPixel> sun = PanoramaSunPixels(ProgramSky(), kWidth);
    for (const auto& [x, y] : Samples(kWidth, 64.0f, 10.0f)) {
        if (IsSun(sun, x, y)) continue;
        const RGBAReal want = linear(Plain(kWidth, x, y));
        const float* got = exr.At(x, y);
        ASSERT_TRUE(got[0] == want.red && got[1] == want.green && got[2] == want.blue) << x << "," << y;
    }
    // The sun adds its radiance by the part of each pixel it covers: far past
    // what half floats hold.
    const RGBAReal disc = SkyModelLight()->sun;
    double largest = 0.0;
    for (const PanoramaSunPixel& p : sun) {
        RGBAReal c = Plain(kWidth, p.x, p.y);
        c.red += static_cast<real>(disc.red * p.cover);
        c.green += static_cast<real>(disc.green * p.cover);
        c.blue += static_cast<real>(disc.blue * p.cover);
        const RGBAReal want = linear(c);
        const float* got = exr.At(p.x, p.y);
        EXPECT_NEAR(got[1], want.green, 1e-5 * want.green) << p.x << "," << p.y;
        largest = std::fmax(largest, got[1]);
    }
    EXPECT_GT(largest, 65504.0);
    // The ground: one colour, Lambertian under the sky and the sun.
    const RGBAReal ground = linear(SkyModelLight()->ground);
    for (int y = PanoramaSkyRows(kWidth); y < exr.height; ++y) {
        for (int x = 0; x < kWidth; x += 7) ASSERT_EQ(exr.At(x, y)[1], ground.green) << x << "," << y;
    }
}

// What an engine lit by the panorama receives on the ground, integrated from
// the file, is what the sky and the sun it was made from give.
TEST_F(ExportTest, ThePanoramasLightOnTheGroundIsTheSkysAndTheSuns) {
    constexpr int kWidth = 1024;
    // The physical model's irradiance on the ground comes from a table of its
    // own, not from the sky it shows: the two agree within 3%, in twilight too.
    const struct {
        SkyModelKind model;
        float zenith;
        double skyTolerance;  // relative, of the sky's part
    } cases[] = {
        {SkyModelPreetham, 30.0f, 0.002}, {SkyModelPreetham, 84.0f, 0.002}, {SkyModelPhysical, 30.0f, 0.03},
        {SkyModelPhysical, 84.0f, 0.03},  {SkyModelPhysical, 94.0f, 0.03},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(kSkyModelNames[c.model]) + " " + std::to_string(c.zenith));
        ASSERT_TRUE(SkyModelConfigure(c.model, kSkyTurbidity, 0.3f, 0.0f));
        if (clump == nullptr) {
            ASSERT_NE(MakeDome(2), nullptr);
        }
        SkyMoveSun(c.zenith - SkyGetState()->sunTheta, 140.0f - SkyGetState()->sunPhi);
        ASSERT_EQ(SkyGetState()->sunTheta, c.zenith);
        const fs::path file = dir / "light.exr";
        std::string message;
        ASSERT_TRUE(PanoramaWrite(ProgramSky(), file.c_str(), kWidth, 0.1f, &message)) << message;
        const Exr exr = ReadExr(file);
        ASSERT_EQ(exr.width, kWidth);
        const SkyLight light = *SkyModelLight();

        // The sun's pixels hold its radiance times their cover: its part.
        double sunPart = 0.0;
        double all = 0.0;
        for (int y = 0; y < PanoramaSkyRows(kWidth); ++y) {
            double theta = 0.0, phi = 0.0;
            PanoramaPixelAngles(kWidth, 0, y, &theta, &phi);
            const double weight = PanoramaPixelSolidAngle(kWidth, y) * std::cos(theta) * 1e3;  // kcd to cd
            for (int x = 0; x < kWidth; ++x) all += Luminance709(exr.At(x, y)) * weight;
        }
        RGBAReal disc = light.sun;
        SkyModelToRec709(&disc, 1);
        for (const PanoramaSunPixel& p : PanoramaSunPixels(ProgramSky(), kWidth)) {
            double theta = 0.0, phi = 0.0;
            PanoramaPixelAngles(kWidth, p.x, p.y, &theta, &phi);
            sunPart += Luminance709(&disc.red) * p.cover * PanoramaPixelSolidAngle(kWidth, p.y) * std::cos(theta) * 1e3;
        }
        const double cosSun = std::fmax(0.0, std::cos(c.zenith * kSkyDegToRad));
        EXPECT_NEAR(sunPart, light.sunIlluminance * cosSun, 0.002 * light.sunIlluminance * cosSun + 1e-9);
        EXPECT_NEAR(all - sunPart, light.fromSky, c.skyTolerance * light.fromSky);
        EXPECT_NEAR(all, light.horizontal, c.skyTolerance * light.horizontal);
        // The ground straight down sends back albedo times that over pi.
        EXPECT_NEAR(Luminance709(exr.At(0, exr.height - 1)) * 1e3 * kPi / 0.3, light.horizontal,
                    c.skyTolerance * light.horizontal);
    }
}

TEST_F(ExportTest, RadianceHdrHoldsTheExrsLightInItsOwnUnit) {
    constexpr int kWidth = 128;
    ASSERT_NE(MakeDome(2, 40.0f, 300.0f), nullptr);
    std::string message;
    const fs::path hdr = dir / "sky.hdr";
    const fs::path exr = dir / "sky.exr";
    ASSERT_TRUE(PanoramaWrite(ProgramSky(), hdr.c_str(), kWidth, 0.1f, &message)) << message;
    ASSERT_TRUE(PanoramaWrite(ProgramSky(), exr.c_str(), kWidth, 0.1f, &message)) << message;
    const std::string text = ReadText(hdr);
    const std::size_t blank = text.find("\n\n");
    ASSERT_NE(blank, std::string::npos);
    const std::string header = text.substr(0, blank + 1);
    EXPECT_EQ(header.rfind("#?RADIANCE\n", 0), 0u);
    EXPECT_NE(header.find("\nFORMAT=32-bit_rle_rgbe\n"), std::string::npos);
    EXPECT_NE(header.find("\nPRIMARIES=0.640 0.330 0.300 0.600 0.150 0.060 0.3127 0.3290\n"), std::string::npos);
    EXPECT_NE(header.find("\nEXPOSURE=1\n"), std::string::npos);
    // One header and resolution line for the whole picture: the library's
    // own, one per block of rows, are left out.
    EXPECT_EQ(text.substr(blank + 2, 13), "-Y 64 +X 128\n");
    EXPECT_EQ(text.find("#?RADIANCE", 1), std::string::npos);
    EXPECT_EQ(text.find("Written by"), std::string::npos);

    int w = 0, h = 0, n = 0;
    float* pixels = stbi_loadf(hdr.c_str(), &w, &h, &n, 3);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(w, kWidth);
    ASSERT_EQ(h, kWidth / 2);
    const Exr e = ReadExr(exr);
    double worst = 0.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const float* want = e.At(x, y);
            const float* got = pixels + 3 * (static_cast<std::size_t>(y) * w + x);
            const double largest = std::fmax(want[0], std::fmax(want[1], want[2]));
            for (int k = 0; k < 3; ++k) {
                // Eight bits of mantissa shared by the three channels.
                worst = std::fmax(worst, std::fabs(got[k] * kPanoramaHdrUnit / 1e3 - want[k]) / largest);
            }
        }
    }
    stbi_image_free(pixels);
    EXPECT_LT(worst, 1.0 / 128);
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

// The sun read back as an engine would: a directional light shining along
// its node's -z, whose colour times intensity has the sun's illuminance.
TEST_F(ExportTest, GltfCarriesTheSunAsADirectionalLightInTheDomesCompass) {
    for (const auto& [model, zenith, azimuth] :
         {std::tuple{SkyModelPreetham, 35.0f, 250.0f}, std::tuple{SkyModelPhysical, 88.0f, 70.0f},
          std::tuple{SkyModelPhysical, 0.0f, 0.0f}}) {
        SCOPED_TRACE(std::string(kSkyModelNames[model]) + " " + std::to_string(zenith));
        ASSERT_TRUE(SkyModelConfigure(model, kSkyTurbidity, 0.3f, 0.0f));
        if (clump == nullptr) {
            ASSERT_NE(MakeDome(3), nullptr);
        }
        SkyMoveSun(zenith - SkyGetState()->sunTheta, azimuth - SkyGetState()->sunPhi);
        const SkyLight* light = SkyModelLight();
        const GltfSun sun{SkyGetState()->sunDirection, light->sunColour, light->sunIlluminance};
        const fs::path file = dir / "sun.glb";
        std::string message;
        ASSERT_TRUE(DomeExportGLTF(DomeGeometry(), false, file.c_str(), &message, &sun)) << message;
        tinygltf::Model m;
        tinygltf::TinyGLTF loader;
        std::string error, warning;
        ASSERT_TRUE(loader.LoadBinaryFromFile(&m, &error, &warning, file.string())) << error;
        ASSERT_EQ(m.lights.size(), 1u);
        const tinygltf::Light& l = m.lights[0];
        EXPECT_EQ(l.type, "directional");
        ASSERT_EQ(l.color.size(), 3u);
        EXPECT_DOUBLE_EQ(std::fmax(l.color[0], std::fmax(l.color[1], l.color[2])), 1.0);
        const double y = 0.2126 * l.color[0] + 0.7152 * l.color[1] + 0.0722 * l.color[2];
        EXPECT_NEAR(l.intensity * y, light->sunIlluminance, 1e-6 * light->sunIlluminance);
        EXPECT_GT(light->sunIlluminance, 1000.0);
        EXPECT_NE(std::find(m.extensionsUsed.begin(), m.extensionsUsed.end(), kGltfLights), m.extensionsUsed.end());

        // The dome stands in its own frame; the light's node is the scene's other.
        ASSERT_EQ(m.nodes.size(), 2u);
        EXPECT_TRUE(m.nodes[0].rotation.empty() && m.nodes[0].matrix.empty() && m.nodes[0].translation.empty());
        ASSERT_EQ(m.scenes[0].nodes, (std::vector<int>{0, 1}));
        const tinygltf::Node& node = m.nodes[1];
        ASSERT_EQ(node.extensions.count(kGltfLights), 1u);
        EXPECT_EQ(node.extensions.at(kGltfLights).Get("light").GetNumberAsInt(), 0);
        ASSERT_EQ(node.rotation.size(), 4u);
        // -z turned by the node's rotation (x, y, z, w) is where the light goes.
        const double qx = node.rotation[0], qy = node.rotation[1], qz = node.rotation[2], qw = node.rotation[3];
        const double shines[3] = {-2.0 * (qx * qz + qw * qy), -2.0 * (qy * qz - qw * qx),
                                  -(1.0 - 2.0 * (qx * qx + qy * qy))};
        const V3d towards = SkyGetState()->sunDirection;
        EXPECT_NEAR(shines[0], -towards.x, 1e-6);
        EXPECT_NEAR(shines[1], -towards.y, 1e-6);
        EXPECT_NEAR(shines[2], -towards.z, 1e-6);
    }
    // A set sun lights nothing: no light is written.
    SkyMoveSun(95.0f - SkyGetState()->sunTheta, 0.0f);
    ASSERT_EQ(SkyGetState()->sunTheta, 95.0f);
    const SkyLight* light = SkyModelLight();
    EXPECT_EQ(light->sunIlluminance, 0.0);
    const GltfSun set{SkyGetState()->sunDirection, light->sunColour, light->sunIlluminance};
    std::string message;
    ASSERT_TRUE(DomeExportGLTF(DomeGeometry(), false, (dir / "set.glb").c_str(), &message, &set)) << message;
    tinygltf::Model m;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&m, &error, &warning, (dir / "set.glb").string())) << error;
    EXPECT_TRUE(m.lights.empty());
    EXPECT_EQ(m.nodes.size(), 1u);
}

// The files say what they show: the sun's and the moon's directions in the
// compass's convention and the moment in UTC, checked against an
// independent ephemeris (PyEphem 4.1: Paris, 2026-06-21 16:00 UTC, the moon
// at altitude 35.124, azimuth 149.225, 47.6% lit and waxing; the sun at
// azimuth 265.49), and each file still reads. The glTF gets the moon as a
// second light of its brightness. A sun moved since claims no moment.
TEST_F(ExportTest, PanoramasAndTheGltfSayWhereTheSunAndTheMoonStandAndWhen) {
    constexpr int kWidth = 64;
    constexpr double kLatitude = 48.8566, kLongitude = 2.3522;
    SolarTime t{};
    std::string why;
    ASSERT_TRUE(SolarParseTime("2026-06-21T18:00+02:00", &t, &why)) << why;
    float zenith = 0.0f, azimuth = 0.0f;
    SolarPosition where{};
    ASSERT_TRUE(SkySunFromPlace(SkyModelPhysical, kLatitude, kLongitude, t, &zenith, &azimuth, &where, &why)) << why;
    ASSERT_TRUE(SkyModelConfigure(SkyModelPhysical, kSkyTurbidity, 0.3f, 0.0f));
    ASSERT_NE(MakeDome(3, zenith, azimuth), nullptr);
    SkySetPlaceMoment(ProgramSky(), kLatitude, kLongitude, 0.0, t);
    std::string message;
    const fs::path exr = dir / "sky.exr", hdr = dir / "sky.hdr", png = dir / "sky.png", glb = dir / "sky.glb";
    for (const fs::path& f : {exr, hdr, png}) {
        ASSERT_TRUE(PanoramaWrite(ProgramSky(), f.c_str(), kWidth, 0.1f, &message)) << message;
    }

    {
        Imf::InputFile in(exr.c_str());
        const Imf::Header& h = in.header();
        const auto number = [&](const char* name) { return h.typedAttribute<Imf::DoubleAttribute>(name).value(); };
        const auto text = [&](const char* name) { return h.typedAttribute<Imf::StringAttribute>(name).value(); };
        EXPECT_EQ(text("skyModel"), "physical");
        EXPECT_NEAR(number("sunAltitude"), 90.0 - where.zenith, 1e-4);
        EXPECT_NEAR(number("sunAzimuth"), 265.49, 0.01);
        EXPECT_NEAR(number("moonAltitude"), 35.124, 0.05);
        EXPECT_NEAR(number("moonAzimuth"), 149.225, 0.05);
        EXPECT_NEAR(number("moonIlluminated"), 0.476, 0.01);
        EXPECT_EQ(text("moonPhase"), "waxing");
        EXPECT_EQ(text("moment"), "2026-06-21T16:00:00Z");
        EXPECT_EQ(Imf::capDate(h), "2026:06:21 18:00:00");
        EXPECT_EQ(Imf::utcOffset(h), -7200.0f);  // UTC is the clock's reading less two hours
        EXPECT_FLOAT_EQ(Imf::latitude(h), static_cast<float>(kLatitude));
        EXPECT_FLOAT_EQ(Imf::longitude(h), static_cast<float>(kLongitude));
        EXPECT_TRUE(ReadExr(exr).floats);
    }
    {
        const std::string text = ReadText(hdr);
        const std::string header = text.substr(0, text.find("\n\n") + 1);
        EXPECT_NE(header.find("\nMOMENT= 2026-06-21T16:00:00Z\n"), std::string::npos) << header;
        EXPECT_NE(header.find("\nMOON= altitude 35.1"), std::string::npos) << header;
        EXPECT_NE(header.find(", illuminated 0.47"), std::string::npos) << header;
        int w = 0, hh = 0, n = 0;
        float* pixels = stbi_loadf(hdr.c_str(), &w, &hh, &n, 3);
        ASSERT_NE(pixels, nullptr) << "the header's lines keep the file readable";
        EXPECT_EQ(w, kWidth);
        stbi_image_free(pixels);
    }
    {
        FILE* f = std::fopen(png.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        png_structp read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(read);
        ASSERT_EQ(setjmp(png_jmpbuf(read)), 0);
        png_init_io(read, f);
        png_read_png(read, info, PNG_TRANSFORM_IDENTITY, nullptr);
        png_textp texts = nullptr;
        const int count = png_get_text(read, info, &texts, nullptr);
        std::map<std::string, std::string> chunks;
        for (int i = 0; i < count; ++i) chunks[texts[i].key] = texts[i].text;
        EXPECT_EQ(png_get_image_width(read, info), static_cast<png_uint_32>(kWidth));
        png_destroy_read_struct(&read, &info, nullptr);
        std::fclose(f);
        EXPECT_EQ(chunks["Moment"], "2026-06-21T16:00:00Z");
        EXPECT_EQ(chunks["Moon"].rfind("altitude 35.1", 0), 0u) << chunks["Moon"];
        EXPECT_EQ(chunks["Sky model"].rfind("physical, turbidity 2", 0), 0u) << chunks["Sky model"];
        EXPECT_EQ(chunks["Place"], "latitude 48.8566, longitude 2.3522, altitude 0 m");
    }

    // The moon, 35 degrees up and half lit, as the glTF's second light: a
    // quarter moon gives a few hundredths of a lux (Krisciunas & Schaefer
    // 1991, eq. 9: 2.7 magnitudes fainter than the full moon's 0.3 lx above
    // the air).
    GltfSun moon{};
    ASSERT_TRUE(GltfMoonOf(ProgramSky(), &moon));
    EXPECT_GT(moon.illuminance, 0.01);
    EXPECT_LT(moon.illuminance, 0.05);
    const SkyLight* light = SkyModelLight();
    const GltfSun sun{SkyGetState()->sunDirection, light->sunColour, light->sunIlluminance};
    ASSERT_TRUE(DomeExportGLTF(DomeGeometry(), false, glb.c_str(), &message, &sun, &moon)) << message;
    tinygltf::Model m;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&m, &error, &warning, glb.string())) << error;
    ASSERT_EQ(m.lights.size(), 2u);
    ASSERT_EQ(m.nodes.size(), 3u);
    EXPECT_EQ(m.lights[1].name, "moon");
    EXPECT_EQ(m.nodes[2].name, "moon");
    const tinygltf::Light& l = m.lights[1];
    EXPECT_NEAR(l.intensity * (0.2126 * l.color[0] + 0.7152 * l.color[1] + 0.0722 * l.color[2]), moon.illuminance,
                1e-6 * moon.illuminance);
    // Where it shines from, in the dome's frame (x west, y up, z north).
    const std::vector<double>& q = m.nodes[2].rotation;
    ASSERT_EQ(q.size(), 4u);
    const double towards[3] = {2.0 * (q[0] * q[2] + q[3] * q[1]), 2.0 * (q[1] * q[2] - q[3] * q[0]),
                               1.0 - 2.0 * (q[0] * q[0] + q[1] * q[1])};
    EXPECT_NEAR(std::asin(towards[1]) / kSkyDegToRad, 35.124, 0.05);
    EXPECT_NEAR(std::fmod(std::atan2(-towards[0], towards[2]) / kSkyDegToRad + 360.0, 360.0), 149.225, 0.05);

    // The sun moved by hand: the files no longer claim that moment or moon.
    SkyMoveSun(1.0f, 0.0f);
    EXPECT_FALSE(GltfMoonOf(ProgramSky(), &moon));
    ASSERT_TRUE(PanoramaWrite(ProgramSky(), exr.c_str(), kWidth, 0.1f, &message)) << message;
    Imf::InputFile in(exr.c_str());
    EXPECT_EQ(in.header().findTypedAttribute<Imf::StringAttribute>("moment"), nullptr);
    EXPECT_NE(in.header().findTypedAttribute<Imf::DoubleAttribute>("sunAltitude"), nullptr);
}

TEST_F(ExportTest, RefusedAndFailedExportsKeepThePreviousFileAndLeaveNothingBehind) {
    ASSERT_NE(MakeDome(4), nullptr);
    const fs::path png = dir / "sky.png";
    const fs::path exr = dir / "sky.exr";
    const fs::path glb = dir / "dome.glb";
    for (const fs::path& f : {png, exr, glb}) WriteText(f, "yesterday's");
    std::string message;
    EXPECT_FALSE(PanoramaWrite(ProgramSky(), png.c_str(), 301, 0.1f, &message));
    EXPECT_NE(message.find("even number"), std::string::npos) << message;
    EXPECT_FALSE(PanoramaWrite(ProgramSky(), exr.c_str(), 8194, 0.1f, &message));
    EXPECT_FALSE(PanoramaWrite(ProgramSky(), (dir / "sky.jpg").c_str(), 64, 0.1f, &message));
    EXPECT_NE(message.find(".png, .exr or .hdr"), std::string::npos) << message;
    EXPECT_FALSE(PanoramaWrite(ProgramSky(), (dir / "no" / "sky.exr").c_str(), 64, 0.1f, &message));
    EXPECT_NE(message.find(dir.string() + "/no/sky.exr"), std::string::npos) << message;
    EXPECT_FALSE(PanoramaWrite(ProgramSky(), (dir / "no" / "sky.png").c_str(), 64, 0.1f, &message));
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
        failures += PanoramaWrite(ProgramSky(), png.c_str(), 1024, 0.1f, &why) ? 0 : 1;
        failures += PanoramaWrite(ProgramSky(), exr.c_str(), 1024, 0.1f, &why) ? 0 : 1;
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
    ASSERT_TRUE(PanoramaWrite(ProgramSky(), png.c_str(), 64, 0.1f, &message)) << message;
    ASSERT_TRUE(PanoramaWrite(ProgramSky(), exr.c_str(), 64, 0.1f, &message)) << message;
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
            EXPECT_FALSE(PanoramaWrite(ProgramSky(), f.c_str(), 64, 0.1f, &message)) << f << " " << rows;
            EXPECT_EQ(message, "Cannot write the panorama to " + f.string() +
                                   ": interrupted by SIGTERM. The file there is unchanged.");
            EXPECT_STREQ(PanoramaStopReason(), "interrupted by SIGTERM");
            EXPECT_EQ(rowsAllowed, -1) << "asked once per row, and once more";
        }
    }
    PanoramaSetStop(nullptr);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"sky.exr", "sky.png"}));
    for (const fs::path& f : {png, exr}) EXPECT_EQ(ReadText(f), "yesterday's");
    ASSERT_TRUE(PanoramaWrite(ProgramSky(), exr.c_str(), 64, 0.1f, &message)) << message;
    EXPECT_EQ(PanoramaStopReason(), nullptr);
}

}  // namespace
// The night's bodies keep their flux at any width: a star's all in the pixel
// it lands on, the moon's over the pixels its lit side covers, none of
// either past the horizon; the lit side faces the sun.
TEST(Panorama, NightBodiesKeepTheirFluxOnThePixelsTheyLandOn) {
    const double rad = 3.14159265358979323846 / 180.0;
    std::vector<PanoramaPoint> points(2);
    points[0].theta = 40.0 * rad;
    points[0].phi = 1.0;
    points[0].flux = RGBAReal{1e-9f, 2e-9f, 3e-9f, 0.0f};
    points[1].theta = 100.0 * rad;  // below the horizon
    points[1].flux = RGBAReal{1.0f, 1.0f, 1.0f, 0.0f};
    PanoramaMoon moon;
    moon.shown = true;
    moon.theta = 60.0 * rad;
    moon.phi = 2.0;
    moon.radius = 0.26 * rad;
    // A quarter moon: the sun off to the side, square to the line of sight.
    moon.toSunX = std::cos(moon.phi);
    moon.toSunZ = -std::sin(moon.phi);
    moon.flux = RGBAReal{3e-4f, 3e-4f, 3e-4f, 0.0f};
    PanoramaSetBodies(ProgramSky(), points, moon);
    const double cx = std::sin(moon.theta) * std::sin(moon.phi), cz = std::sin(moon.theta) * std::cos(moon.phi);
    for (const int width : {512, 2048, 8192}) {
        double star[3] = {0, 0, 0}, moonFlux = 0.0, towardsSun = 0.0;
        int moonPixels = 0;
        for (const PanoramaBodyPixel& p : PanoramaBodyPixels(ProgramSky(), width)) {
            ASSERT_LT(p.y, PanoramaSkyRows(width));
            double theta = 0.0, phi = 0.0;
            PanoramaPixelAngles(width, p.x, p.y, &theta, &phi);
            const double omega = PanoramaPixelSolidAngle(width, p.y);
            if (theta < 50.0 * rad) {
                star[0] += p.radiance.red * omega;
                star[1] += p.radiance.green * omega;
                star[2] += p.radiance.blue * omega;
                continue;
            }
            ++moonPixels;
            moonFlux += p.radiance.green * omega;
            const double dx = std::sin(theta) * std::sin(phi) - cx, dz = std::sin(theta) * std::cos(phi) - cz;
            towardsSun += p.radiance.green * omega * (dx * moon.toSunX + dz * moon.toSunZ);
        }
        EXPECT_NEAR(star[0], 1e-9, 1e-14) << width;
        EXPECT_NEAR(star[1], 2e-9, 1e-14) << width;
        EXPECT_NEAR(star[2], 3e-9, 1e-14) << width;
        EXPECT_NEAR(moonFlux, 3e-4, 3e-9) << width;
        EXPECT_GT(towardsSun, 0.0) << width;
        if (width == 8192) {
            EXPECT_GT(moonPixels, 40);
        }
    }
    PanoramaSetBodies(ProgramSky(), {}, PanoramaMoon{});
    EXPECT_TRUE(PanoramaBodyPixels(ProgramSky(), 512).empty());
}

}  // namespace kv::test
