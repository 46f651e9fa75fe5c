// Skies for engines, read back from their files as an engine would: where
// the sun lands in the DDS, the KTX2 and the EXR panorama, how the prefiltered
// mips compare with a brute-force GGX convolution of the panorama, and how the
// irradiance file's coefficients and sun compare with a brute-force integral
// of it.
#include "export/cubemap.h"

#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "export/irradiance.h"
#include "export/panorama.h"
#include "sky/panorama_rows.h"
#include "sky/sky.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;
constexpr double kPi = 3.14159265358979323846;

// ---- The convention, stated once ----------------------------------------
// A direction (the program's axes: y up, +z north, +x west) is looked up as
// (x, y, z) in the KTX2 and as (-x, y, z) in the DDS. The face is that of the
// largest component of the lookup vector r, in the order +X -X +Y -Y +Z -Z;
// on it (sc, tc) = +X (-rz, -ry), -X (rz, -ry), +Y (rx, rz), -Y (rx, -rz),
// +Z (rx, -ry), -Z (-rx, -ry); column (sc / |major| + 1) / 2 * size from the
// left, row (tc / |major| + 1) / 2 * size from the first row of the file.
// The panorama: row from the zenith angle (zenith at the top), column from
// the compass azimuth (360 - the program's), south at the left edge.
struct Texel {
    int face, x, y;
    bool operator==(const Texel&) const = default;
};

Texel Expected(double x, double y, double z, bool dds, int size) {
    const double rx = dds ? -x : x, ry = y, rz = z;
    const double ax = std::fabs(rx), ay = std::fabs(ry), az = std::fabs(rz);
    int face = 0;
    double sc = 0, tc = 0, m = 0;
    if (ax >= ay && ax >= az) {
        face = rx > 0 ? 0 : 1, sc = rx > 0 ? -rz : rz, tc = -ry, m = ax;
    } else if (ay >= az) {
        face = ry > 0 ? 2 : 3, sc = rx, tc = ry > 0 ? rz : -rz, m = ay;
    } else {
        face = rz > 0 ? 4 : 5, sc = rz > 0 ? rx : -rx, tc = -ry, m = az;
    }
    return Texel{face, static_cast<int>((sc / m + 1) / 2 * size), static_cast<int>((tc / m + 1) / 2 * size)};
}

void ExpectedPanorama(double x, double y, double z, int width, int* px, int* py) {
    const double zenith = std::acos(y);
    double compass = std::fmod(360.0 - std::atan2(x, z) * 180.0 / kPi, 360.0);
    *px = static_cast<int>(std::fmod(compass + 180.0, 360.0) / 360.0 * width);
    *py = static_cast<int>(zenith / kPi * (width / 2));
}
// --------------------------------------------------------------------------

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint64_t U64(const std::vector<std::uint8_t>& b, std::size_t at) {
    return U32(b, at) | (static_cast<std::uint64_t>(U32(b, at + 4)) << 32);
}

float Half(std::uint16_t h) {
    const int exponent = (h >> 10) & 31;
    const int mantissa = h & 1023;
    const double v = exponent == 0 ? std::ldexp(mantissa, -24) : std::ldexp(1024 + mantissa, exponent - 25);
    return static_cast<float>((h & 0x8000) ? -v : v);
}

// A cube's faces as a file holds them: level by level, RGB in the files' unit.
struct Cube {
    int size = 0;
    std::vector<std::vector<float>> levels;  // level: 6 faces, rows, RGB
    const float* At(int level, int face, int x, int y) const {
        const int s = std::max(1, size >> level);
        return &levels[static_cast<std::size_t>(level)][3 * ((static_cast<std::size_t>(face) * s + y) * s + x)];
    }
};

void TakeFace(const std::vector<std::uint8_t>& b, std::size_t at, int s, std::vector<float>* level) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(s) * s; ++i) {
        for (int c = 0; c < 3; ++c) {
            level->push_back(
                Half(static_cast<std::uint16_t>(b[at + 8 * i + 2 * c] | (b[at + 8 * i + 2 * c + 1] << 8))));
        }
        EXPECT_EQ(Half(static_cast<std::uint16_t>(b[at + 8 * i + 6] | (b[at + 8 * i + 7] << 8))), 1.0f);
    }
}

// The DDS as Direct3D reads a cube: the DX10 header, each face with its mips.
Cube ReadDds(const fs::path& path) {
    const std::vector<std::uint8_t> b = ReadBytes(path);
    Cube cube;
    if (b.size() < 148 || U32(b, 0) != 0x20534444u) {
        ADD_FAILURE() << "not a DDS";
        return cube;
    }
    EXPECT_EQ(U32(b, 84), 0x30315844u);   // "DX10"
    EXPECT_EQ(U32(b, 108) & 0x8u, 0x8u);  // complex
    EXPECT_EQ(U32(b, 112), 0xFE00u);      // a cube, all six faces
    EXPECT_EQ(U32(b, 128), 10u);          // DXGI_FORMAT_R16G16B16A16_FLOAT
    EXPECT_EQ(U32(b, 132), 3u);           // a 2D texture
    EXPECT_EQ(U32(b, 136) & 0x4u, 0x4u);  // ... cube
    EXPECT_EQ(U32(b, 140), 1u);           // one cube
    cube.size = static_cast<int>(U32(b, 16));
    EXPECT_EQ(U32(b, 12), U32(b, 16));
    const int levels = std::max(1, static_cast<int>(U32(b, 28)));
    cube.levels.resize(static_cast<std::size_t>(levels));
    std::size_t at = 148;
    for (int face = 0; face < 6; ++face) {
        for (int l = 0; l < levels; ++l) {
            const int s = std::max(1, cube.size >> l);
            if (at + 8u * s * s > b.size()) {
                ADD_FAILURE() << "short DDS";
                return cube;
            }
            TakeFace(b, at, s, &cube.levels[static_cast<std::size_t>(l)]);
            at += 8u * s * s;
        }
    }
    EXPECT_EQ(at, b.size());
    return cube;
}

// The KTX2 as Vulkan reads a cube: the level index, six faces a level.
Cube ReadKtx2(const fs::path& path) {
    const std::vector<std::uint8_t> b = ReadBytes(path);
    Cube cube;
    const std::uint8_t id[12] = {0xAB, 0x4B, 0x54, 0x58, 0x20, 0x32, 0x30, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};
    if (b.size() < 80 || std::memcmp(b.data(), id, 12) != 0) {
        ADD_FAILURE() << "not a KTX2";
        return cube;
    }
    EXPECT_EQ(U32(b, 12), 97u);  // VK_FORMAT_R16G16B16A16_SFLOAT
    EXPECT_EQ(U32(b, 36), 6u);   // faces
    cube.size = static_cast<int>(U32(b, 20));
    const int levels = static_cast<int>(U32(b, 40));
    cube.levels.resize(static_cast<std::size_t>(levels));
    for (int l = 0; l < levels; ++l) {
        const int s = std::max(1, cube.size >> l);
        const std::size_t at = U64(b, 80 + 24 * static_cast<std::size_t>(l));
        EXPECT_EQ(U64(b, 88 + 24 * static_cast<std::size_t>(l)), 48u * s * s);
        if (at + 48u * s * s > b.size()) {
            ADD_FAILURE() << "short KTX2";
            return cube;
        }
        for (int face = 0; face < 6; ++face) {
            TakeFace(b, at + 8u * s * s * face, s, &cube.levels[static_cast<std::size_t>(l)]);
        }
    }
    return cube;
}

Texel Brightest(const Cube& cube) {
    Texel best{-1, -1, -1};
    double most = -1.0;
    for (int face = 0; face < 6; ++face) {
        for (int y = 0; y < cube.size; ++y) {
            for (int x = 0; x < cube.size; ++x) {
                const float* t = cube.At(0, face, x, y);
                if (t[0] + t[1] + t[2] > most) most = t[0] + t[1] + t[2], best = Texel{face, x, y};
            }
        }
    }
    return best;
}

struct Panorama {
    int width = 0, height = 0;
    std::vector<float> rgb;
    const float* At(int x, int y) const { return &rgb[3 * (static_cast<std::size_t>(y) * width + x)]; }
};

Panorama ReadExr(const fs::path& file) {
    Panorama p;
    Imf::InputFile in(file.c_str());
    const Imath::Box2i window = in.header().dataWindow();
    p.width = window.max.x - window.min.x + 1;
    p.height = window.max.y - window.min.y + 1;
    p.rgb.resize(3 * static_cast<std::size_t>(p.width) * p.height);
    Imf::FrameBuffer buffer;
    const char* names[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        buffer.insert(names[c], Imf::Slice::Make(Imf::FLOAT, p.rgb.data() + c, window, 3 * sizeof(float),
                                                 3 * sizeof(float) * static_cast<std::size_t>(p.width)));
    }
    in.setFrameBuffer(buffer);
    in.readPixels(window.min.y, window.max.y);
    return p;
}

// Pixel (x, y)'s direction and solid angle, as the panorama's mapping has it.
CubeVector PanoramaDirection(int width, int x, int y) {
    const double theta = (y + 0.5) * kPi / (width / 2);
    const double phi = kPi - (x + 0.5) * 2 * kPi / width;  // the program's azimuth
    return CubeVector{std::sin(theta) * std::sin(phi), std::cos(theta), std::sin(theta) * std::cos(phi)};
}
double PanoramaSolidAngle(int width, int y) {
    const double d = kPi / (width / 2);
    return (std::cos(y * d) - std::cos((y + 1) * d)) * 2 * kPi / width;
}

struct Folder {
    fs::path dir;
    Folder() {
        char pattern[] = "/tmp/kvcubetest.XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir = pattern;
    }
    ~Folder() {
        std::error_code e;
        fs::remove_all(dir, e);
    }
};

bool BlackSky(void*, const V3d*, std::int64_t count, RGBAReal* out) {
    for (std::int64_t i = 0; i < count; ++i) out[i] = RGBAReal{0.01f, 0.01f, 0.01f, 1.0f};
    return true;
}

// 26 suns towards the faces, edges and corners, each moved off the exact
// edge so that the convention names one face and one texel.
std::vector<CubeVector> TwentySixSuns() {
    std::vector<CubeVector> suns;
    for (int i = -1; i <= 1; ++i) {
        for (int j = -1; j <= 1; ++j) {
            for (int k = -1; k <= 1; ++k) {
                if (i == 0 && j == 0 && k == 0) continue;
                const double x = i + 0.013, y = j * 0.96 + 0.021, z = k * 0.92 + 0.034;
                const double n = std::sqrt(x * x + y * y + z * z);
                suns.push_back(CubeVector{x / n, y / n, z / n});
            }
        }
    }
    return suns;
}

TEST(CubemapFiles, TheSunLandsWhereEachFormatsConventionPutsIt) {
    Folder f;
    ASSERT_FALSE(f.dir.empty());
    constexpr int kSize = 32;
    // A disc anywhere, through the writers, at every one of the 26.
    for (const CubeVector& sun : TwentySixSuns()) {
        SCOPED_TRACE(testing::Message() << "sun " << sun.x << ", " << sun.y << ", " << sun.z);
        CubeScene scene;
        scene.radiance = BlackSky;
        scene.discs.push_back(CubeDisc{sun, 0.0046, RGBAReal{1e5f, 1e5f, 1e5f, 1.0f}});
        for (const bool dds : {true, false}) {
            Cubemap cube;
            ASSERT_TRUE(CubemapRender(scene, kSize, dds ? CubeFrameLeftHanded : CubeFrameRightHanded, &cube));
            ASSERT_TRUE(CubemapMakeMips(&cube, CubeMipsBox, 1));
            const fs::path file = f.dir / (dds ? "c.dds" : "c.ktx2");
            std::string message;
            ASSERT_TRUE(dds ? CubemapWriteDDS(cube, file.c_str(), &message)
                            : CubemapWriteKTX2(cube, file.c_str(), &message))
                << message;
            const Cube read = dds ? ReadDds(file) : ReadKtx2(file);
            ASSERT_EQ(read.size, kSize);
            ASSERT_EQ(read.levels.size(), 6u);
            EXPECT_EQ(Brightest(read), Expected(sun.x, sun.y, sun.z, dds, kSize)) << (dds ? "DDS" : "KTX2");
        }
    }
    // The sky itself, with the panorama, where the sky shows its sun.
    Sky* sky = SkyCreate(SkyParameters{});
    ASSERT_NE(sky, nullptr);
    for (const CubeVector& sun : TwentySixSuns()) {
        const double zenith = std::acos(sun.y) * 180.0 / kPi;
        if (zenith > 85.0) continue;
        const double azimuth = std::fmod(std::atan2(sun.x, sun.z) * 180.0 / kPi + 360.0, 360.0);
        ASSERT_TRUE(SkySetSunAngles(sky, static_cast<float>(zenith), static_cast<float>(azimuth)));
        const V3d placed = SkySunDirection(sky);
        SCOPED_TRACE(testing::Message() << "sun " << placed.x << ", " << placed.y << ", " << placed.z);
        std::string message;
        for (const char* name : {"s.dds", "s.ktx2"}) {
            ASSERT_TRUE(CubemapWrite(sky, (f.dir / name).c_str(), kSize, CubeMipsNone, 0.1f, &message)) << message;
            const bool dds = name[2] == 'd';
            const Cube read = dds ? ReadDds(f.dir / name) : ReadKtx2(f.dir / name);
            EXPECT_EQ(Brightest(read), Expected(placed.x, placed.y, placed.z, dds, kSize)) << name;
        }
        ASSERT_TRUE(PanoramaWriteEXR(sky, (f.dir / "s.exr").c_str(), 256, &message)) << message;
        const Panorama p = ReadExr(f.dir / "s.exr");
        int bx = -1, by = -1;
        double most = -1.0;
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                const float* t = p.At(x, y);
                if (t[0] + t[1] + t[2] > most) most = t[0] + t[1] + t[2], bx = x, by = y;
            }
        }
        int ex = 0, ey = 0;
        ExpectedPanorama(placed.x, placed.y, placed.z, p.width, &ex, &ey);
        EXPECT_EQ(by, ey);
        // Near the zenith a row's pixels all touch the disc: any of them
        // may hold most of it, but none is more than the disc and a pixel's
        // height from the sun.
        const CubeVector seen = PanoramaDirection(p.width, bx, by);
        const double off = std::acos(std::min(1.0, seen.x * placed.x + seen.y * placed.y + seen.z * placed.z));
        if (placed.y < 0.99) {
            EXPECT_EQ(bx, ex);
        } else {
            EXPECT_LT(off, 0.0047 + kPi / (p.width / 2));
        }
    }
    SkyDestroy(sky);
}

// The brute-force GGX convolution of the panorama for normal = view = n: the
// sum of L(l) D(h) (n.l) over the pixels, over that of D(h) (n.l), as the
// split sum's prefiltered radiance (Karis 2013) estimates it.
void Convolved(const Panorama& p, const CubeVector& n, double alpha, double out[3]) {
    double sum[3] = {}, weight = 0.0;
    const double a2 = alpha * alpha;
    for (int y = 0; y < p.height; ++y) {
        const double dw = PanoramaSolidAngle(p.width, y);
        for (int x = 0; x < p.width; ++x) {
            const CubeVector l = PanoramaDirection(p.width, x, y);
            const double nl = n.x * l.x + n.y * l.y + n.z * l.z;
            if (nl <= 0.0) continue;
            const double nh = std::sqrt((1.0 + nl) / 2.0);  // h halfway between n and l
            const double q = nh * nh * (a2 - 1.0) + 1.0;
            const double w = a2 / (kPi * q * q) * nl * dw;
            for (int c = 0; c < 3; ++c) sum[c] += w * p.At(x, y)[c];
            weight += w;
        }
    }
    for (int c = 0; c < 3; ++c) out[c] = sum[c] / weight;
}

TEST(CubemapFiles, SpecularMipsAreTheGgxConvolutionOfTheSky) {
    Folder f;
    ASSERT_FALSE(f.dir.empty());
    Sky* sky = SkyCreate(SkyParameters{});
    ASSERT_NE(sky, nullptr);
    ASSERT_TRUE(SkySetSunAngles(sky, 55.0f, 120.0f));
    std::string message;
    ASSERT_TRUE(PanoramaWriteEXR(sky, (f.dir / "p.exr").c_str(), 1024, &message)) << message;
    ASSERT_TRUE(CubemapWrite(sky, (f.dir / "s.ktx2").c_str(), 64, CubeMipsSpecular, 0.1f, &message)) << message;
    ASSERT_TRUE(CubemapWrite(sky, (f.dir / "n.ktx2").c_str(), 64, CubeMipsNone, 0.1f, &message)) << message;
    const Panorama p = ReadExr(f.dir / "p.exr");
    const Cube specular = ReadKtx2(f.dir / "s.ktx2");
    const Cube plain = ReadKtx2(f.dir / "n.ktx2");
    ASSERT_EQ(specular.levels.size(), 7u);
    // Roughness 0 is the sky unfiltered.
    EXPECT_EQ(specular.levels[0], plain.levels[0]);
    // Roughness 1 (the last level) and 2/3 (level 4, 4 x 4): RMS of the
    // relative difference per channel over every texel.
    const double unit = 1000.0 / kCubemapUnit;  // the EXR's kcd/m^2 in the cube's unit
    for (const int level : {6, 4}) {
        const double roughness = level / 6.0;
        const int s = 64 >> level;
        double squares = 0.0;
        int count = 0;
        for (int face = 0; face < 6; ++face) {
            for (int y = 0; y < s; ++y) {
                for (int x = 0; x < s; ++x) {
                    const CubeVector n = CubeFacePoint(face, (x + 0.5) / s, (y + 0.5) / s);
                    double brute[3];
                    Convolved(p, n, roughness * roughness, brute);
                    for (int c = 0; c < 3; ++c) {
                        const double e = specular.At(level, face, x, y)[c] / (brute[c] * unit) - 1.0;
                        squares += e * e;
                        ++count;
                    }
                }
            }
        }
        const double rms = std::sqrt(squares / count);
        std::printf("specular level %d (roughness %.3f): RMS %.4f\n", level, roughness, rms);
        EXPECT_LT(rms, 0.03) << "roughness " << roughness;
    }
    SkyDestroy(sky);
}

// The numbers after "key": [ in the JSON text, as many as asked for.
std::vector<double> Numbers(const std::string& text, const std::string& key, std::size_t count, std::size_t from = 0) {
    std::vector<double> out;
    std::size_t at = text.find("\"" + key + "\":", from);
    if (at == std::string::npos) return out;
    at += key.size() + 3;
    while (out.size() < count && at < text.size()) {
        const char c = text[at];
        if (c == '-' || (c >= '0' && c <= '9')) {
            char* end = nullptr;
            out.push_back(std::strtod(text.c_str() + at, &end));
            at = static_cast<std::size_t>(end - text.c_str());
        } else {
            ++at;
        }
    }
    return out;
}

TEST(CubemapFiles, IrradianceFileLightsAsThePanoramaDoes) {
    Folder f;
    ASSERT_FALSE(f.dir.empty());
    struct Case {
        SkyModelKind model;
        float zenith, azimuth;
    };
    // Nine coefficients hold a sky whose light is spread: the analytic sky
    // with the sun high. A low sun's glow, and the physical sky's forward
    // scattering about the sun, are more than they can hold to 3%.
    for (const Case& k : {Case{SkyModelPreetham, 35.0f, 200.0f}, Case{SkyModelPreetham, 60.0f, 80.0f}}) {
        SCOPED_TRACE(testing::Message() << "model " << k.model << " sun " << k.zenith << ", " << k.azimuth);
        Sky* sky = SkyCreate(SkyParameters{k.model, 2.5f, 0.3f, 0.0f});
        ASSERT_NE(sky, nullptr);
        ASSERT_TRUE(SkySetSunAngles(sky, k.zenith, k.azimuth));
        std::string message;
        ASSERT_TRUE(PanoramaWriteEXR(sky, (f.dir / "p.exr").c_str(), 1024, &message)) << message;
        ASSERT_TRUE(IrradianceWriteJSON(sky, (f.dir / "i.json").c_str(), &message)) << message;
        const Panorama p = ReadExr(f.dir / "p.exr");
        std::ifstream in(f.dir / "i.json");
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        const std::vector<double> e = Numbers(text, "irradiance", 27);
        const std::size_t sun = text.find("\"sun\":");
        const std::vector<double> sunDirection = Numbers(text, "direction", 3, sun);
        const std::vector<double> sunColour = Numbers(text, "colour", 3, sun);
        const std::vector<double> sunLux = Numbers(text, "illuminance", 1, sun);
        ASSERT_EQ(e.size(), 27u);
        ASSERT_EQ(sunDirection.size(), 3u);
        ASSERT_EQ(sunColour.size(), 3u);
        ASSERT_EQ(sunLux.size(), 1u);
        // 100 normals spread evenly over the sphere (a Fibonacci lattice).
        double worst = 0.0;
        for (int i = 0; i < 100; ++i) {
            const double ny = 1.0 - (i + 0.5) / 50.0;
            const double r = std::sqrt(1.0 - ny * ny);
            const double a = i * kPi * (3.0 - std::sqrt(5.0));
            const CubeVector n{r * std::cos(a), ny, r * std::sin(a)};
            // The file's: the coefficients times the basis, and the sun.
            const double y[9] = {0.282095,
                                 0.488603 * n.y,
                                 0.488603 * n.z,
                                 0.488603 * n.x,
                                 1.092548 * n.x * n.y,
                                 1.092548 * n.y * n.z,
                                 0.315392 * (3 * n.z * n.z - 1),
                                 1.092548 * n.x * n.z,
                                 0.546274 * (n.x * n.x - n.y * n.y)};
            const double facing = std::max(0.0, n.x * sunDirection[0] + n.y * sunDirection[1] + n.z * sunDirection[2]);
            double brute[3] = {}, file[3] = {};
            for (int c = 0; c < 3; ++c) {
                for (int j = 0; j < 9; ++j) file[c] += e[3 * j + c] * y[j];
                file[c] += sunLux[0] * sunColour[c] * facing;
            }
            for (int py = 0; py < p.height; ++py) {
                const double dw = PanoramaSolidAngle(p.width, py) * 1000.0;  // kcd/m^2 to cd/m^2
                for (int px = 0; px < p.width; ++px) {
                    const CubeVector l = PanoramaDirection(p.width, px, py);
                    const double nl = n.x * l.x + n.y * l.y + n.z * l.z;
                    if (nl <= 0.0) continue;
                    for (int c = 0; c < 3; ++c) brute[c] += p.At(px, py)[c] * nl * dw;
                }
            }
            const double lb = 0.2126 * brute[0] + 0.7152 * brute[1] + 0.0722 * brute[2];
            const double lf = 0.2126 * file[0] + 0.7152 * file[1] + 0.0722 * file[2];
            worst = std::max(worst, std::fabs(lf / lb - 1.0));
            EXPECT_NEAR(lf / lb, 1.0, 0.03) << "normal " << n.x << ", " << n.y << ", " << n.z;
        }
        std::printf("irradiance, model %d, sun at %g degrees from the zenith: worst of 100 normals %.4f\n", k.model,
                    k.zenith, worst);
        SkyDestroy(sky);
    }
}

}  // namespace
}  // namespace kv::test

namespace kv::test {
namespace {

// The light a cube's first level holds: radiance times solid angle, summed.
double CubeLight(const Cubemap& cube) {
    double sum = 0.0;
    const int32 n = cube.size;
    for (int32 face = 0; face < 6; ++face) {
        for (int32 y = 0; y < n; ++y) {
            for (int32 x = 0; x < n; ++x) {
                const float* t = &cube.levels[0][((static_cast<std::size_t>(face) * n + y) * n + x) * kCubeChannels];
                sum += t[1] * CubeTexelSolidAngle(n, x, y);
            }
        }
    }
    return sum;
}

// The moon, the planets and the stars a sky holds reach its cube with their
// flux, as they reach its panoramas, whether they fall on a face's middle or
// an edge.
TEST(CubemapFiles, TheNightsBodiesKeepTheirFlux) {
    Sky* sky = SkyCreate(SkyParameters{SkyModelPhysical, 2.0f, 0.3f, 0.0f});
    ASSERT_NE(sky, nullptr);
    ASSERT_TRUE(SkySetSunAngles(sky, 95.0f, 100.0f));
    Cubemap bare;
    ASSERT_TRUE(CubemapRender(CubeSceneOfSky(sky), 32, CubeFrameRightHanded, &bare));
    // A moon near an edge between two faces, and points on a face's middle
    // and near a corner; one below the horizon does not show.
    std::vector<PanoramaPoint> points;
    const double degree = std::numbers::pi / 180.0;
    points.push_back(PanoramaPoint{10.0 * degree, 0.3, RGBAReal{0.0f, 2e-3f, 0.0f, 0.0f}});
    points.push_back(PanoramaPoint{54.0 * degree, 44.0 * degree, RGBAReal{0.0f, 3e-3f, 0.0f, 0.0f}});
    points.push_back(PanoramaPoint{120.0 * degree, 1.0, RGBAReal{0.0f, 5e-3f, 0.0f, 0.0f}});
    PanoramaMoon moon;
    moon.shown = true;
    moon.theta = 45.0 * degree;
    moon.phi = 0.0;
    moon.radius = 0.26 * degree;
    moon.toSunY = -1.0;
    moon.flux = RGBAReal{0.0f, 4e-3f, 0.0f, 0.0f};
    PanoramaSetBodies(sky, points, moon);
    Cubemap lit;
    ASSERT_TRUE(CubemapRender(CubeSceneOfSky(sky), 32, CubeFrameRightHanded, &lit));
    EXPECT_NEAR(CubeLight(lit) - CubeLight(bare), 2e-3 + 3e-3 + 4e-3, 1e-4);
    SkyDestroy(sky);
}

}  // namespace
}  // namespace kv::test
