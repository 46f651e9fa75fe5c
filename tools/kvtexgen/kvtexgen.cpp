// kvtexgen: draws the program's own pictures: the ground texture, the eight
// lens-flare textures with their masks, and the logo (also as a C++ include
// of its pixels for the logo plug-in). Everything is computed here, with a
// fixed seed, so the files can be made again at will:
//
//     kvtexgen textures engine/world/logo_pixels.inc
//
// ground.png       256 x 256 RGB, grass with patches of earth; tiles seamlessly
// flare0..7.png    128 x 128 RGB, light shapes drawn additively over the sky
// flare0m..7m.bmp  128 x 128 8-bit grey: the alpha of each flare (the engine
//                  takes a mask's alpha from its brightest channel)
// logo.png         128 x 64 RGBA
// skydome.png      128 x 128 RGBA, the program's icon (kept in assets/)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/image/image.h"
#include "engine/image/png_write.h"

namespace {

constexpr int kGroundSize = 256;
constexpr int kFlareSize = 128;
constexpr int kLogoWidth = 128;
constexpr int kLogoHeight = 64;
constexpr int kIconSize = 128;
constexpr float kPi = std::numbers::pi_v<float>;

struct Rgba {
    float r, g, b, a;
};

uint8_t Byte(float v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }
float SmoothStep(float edge0, float edge1, float x) {
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}
float Mix(float a, float b, float t) { return a + (b - a) * t; }

// Value noise on a lattice that wraps with the given period, so that a
// picture made of it tiles.
float Lattice(int x, int y, int period, uint32_t seed) {
    x = ((x % period) + period) % period;
    y = ((y % period) + period) % period;
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return static_cast<float>(h & 0xFFFFFF) / static_cast<float>(0xFFFFFF);
}

float Noise(float u, float v, int period, uint32_t seed) {
    const float x = u * static_cast<float>(period);
    const float y = v * static_cast<float>(period);
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const float fx = SmoothStep(0.0f, 1.0f, x - static_cast<float>(x0));
    const float fy = SmoothStep(0.0f, 1.0f, y - static_cast<float>(y0));
    const float a = Mix(Lattice(x0, y0, period, seed), Lattice(x0 + 1, y0, period, seed), fx);
    const float b = Mix(Lattice(x0, y0 + 1, period, seed), Lattice(x0 + 1, y0 + 1, period, seed), fx);
    return Mix(a, b, fy);
}

// Octaves of noise from a base period, each twice as fine and half as strong.
float Fractal(float u, float v, int period, int octaves, uint32_t seed) {
    float sum = 0.0f;
    float amplitude = 0.5f;
    float total = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * Noise(u, v, period << i, seed + static_cast<uint32_t>(i));
        total += amplitude;
        amplitude *= 0.5f;
    }
    return sum / total;
}

kv::Image* MakeImage(int width, int height, int depth) {
    kv::Image* image = kv::ImageCreate(width, height, depth);
    if (image != nullptr && kv::ImageAllocatePixels(image) == nullptr) {
        kv::ImageDestroy(image);
        return nullptr;
    }
    return image;
}

// Fills a 32-bit image from a function of the pixel centre, 4 x 4 samples a
// pixel for smooth edges.
void Paint(kv::Image* image, const std::function<Rgba(float x, float y)>& shade, int samples = 4) {
    for (int y = 0; y < image->height; ++y) {
        uint8_t* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
        for (int x = 0; x < image->width; ++x) {
            Rgba sum{0, 0, 0, 0};
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const Rgba c = shade(static_cast<float>(x) + (static_cast<float>(sx) + 0.5f) / samples,
                                         static_cast<float>(y) + (static_cast<float>(sy) + 0.5f) / samples);
                    sum.r += c.r;
                    sum.g += c.g;
                    sum.b += c.b;
                    sum.a += c.a;
                }
            }
            const float n = static_cast<float>(samples * samples);
            row[4 * x + 0] = Byte(sum.r / n);
            row[4 * x + 1] = Byte(sum.g / n);
            row[4 * x + 2] = Byte(sum.b / n);
            row[4 * x + 3] = Byte(sum.a / n);
        }
    }
}

// ---- ground ----

Rgba Ground(float x, float y) {
    const float u = x / kGroundSize;
    const float v = y / kGroundSize;
    const float body = Fractal(u, v, 4, 5, 11);
    // Blades: noise stretched along one diagonal, fine.
    const float blades = Noise(u + v * 0.2f, v * 0.5f, 64, 23);
    const float speckle = Noise(u, v, 128, 31);
    const float earthiness = SmoothStep(0.54f, 0.64f, Fractal(u, v, 2, 4, 47));
    const float shade = 0.75f + 0.5f * (body - 0.5f) + 0.25f * (blades - 0.5f);
    Rgba grass{Mix(0.20f, 0.38f, body) * shade, Mix(0.36f, 0.56f, body) * shade + 0.06f * (speckle - 0.5f),
               Mix(0.12f, 0.20f, blades) * shade, 1.0f};
    const float grain = Fractal(u, v, 32, 3, 59);
    Rgba earth{Mix(0.36f, 0.48f, grain), Mix(0.26f, 0.35f, grain), Mix(0.16f, 0.22f, grain), 1.0f};
    return Rgba{Mix(grass.r, earth.r, earthiness), Mix(grass.g, earth.g, earthiness), Mix(grass.b, earth.b, earthiness),
                1.0f};
}

// ---- flares ----

// Brightness and a slight tint of each flare at (px, py) in [-1, 1]; 0 at
// and beyond the edge of the square, so the quads leave no seams.
using Flare = std::function<Rgba(float px, float py)>;

float Glow(float r) { return r >= 1.0f ? 0.0f : (1.0f - r) * (1.0f - r); }
float Gauss(float x, float width) { return std::exp(-(x / width) * (x / width)); }
Rgba Grey(float v) { return Rgba{v, v, v, 1.0f}; }

const Flare kFlares[8] = {
    // 0: a soft disc
    [](float px, float py) { return Grey(Glow(std::hypot(px, py) / 0.9f)); },
    // 1: a ring with a faint inner glow
    [](float px, float py) {
        const float r = std::hypot(px, py);
        return Grey((Gauss(r - 0.72f, 0.07f) + 0.15f * Glow(r / 0.8f)) * SmoothStep(1.0f, 0.9f, r));
    },
    // 2: a bright disc with a soft rim
    [](float px, float py) {
        const float r = std::hypot(px, py);
        return Grey(0.75f * SmoothStep(0.75f, 0.55f, r) + 0.25f * Glow(r));
    },
    // 3: a glow with a hot core
    [](float px, float py) {
        const float r = std::hypot(px, py);
        return Grey(0.6f * std::pow(Glow(r), 1.5f) + 0.4f * Gauss(r, 0.15f));
    },
    // 4: a hexagonal aperture ghost, brighter at its edge
    [](float px, float py) {
        float d = 0.0f;
        for (int i = 0; i < 3; ++i) {
            const float a = static_cast<float>(i) * kPi / 3.0f;
            d = std::max(d, std::fabs(px * std::cos(a) + py * std::sin(a)));
        }
        const float inside = SmoothStep(0.78f, 0.7f, d);
        return Rgba{inside * (0.2f + 0.6f * d), inside * (0.22f + 0.6f * d), inside * (0.26f + 0.6f * d), 1.0f};
    },
    // 5: streaks across the sun
    [](float px, float py) {
        const float r = std::hypot(px, py);
        const float fade = SmoothStep(1.0f, 0.6f, r);
        const float streaks =
            Gauss(py, 0.025f) * (1.0f - std::fabs(px)) + 0.5f * Gauss(px, 0.02f) * (1.0f - std::fabs(py));
        return Grey((streaks + 0.5f * Gauss(r, 0.12f)) * fade);
    },
    // 6: a wide thin halo, its colours slightly apart
    [](float px, float py) {
        const float r = std::hypot(px, py);
        const float fade = SmoothStep(1.0f, 0.94f, r);
        return Rgba{Gauss(r - 0.86f, 0.035f) * fade, Gauss(r - 0.83f, 0.035f) * fade, Gauss(r - 0.80f, 0.035f) * fade,
                    1.0f};
    },
    // 7: a star of rays
    [](float px, float py) {
        const float r = std::hypot(px, py);
        const float angle = std::atan2(py, px);
        const float rays = std::pow(std::fabs(std::cos(3.0f * angle)), 40.0f) +
                           0.6f * std::pow(std::fabs(std::cos(5.0f * angle + 0.3f)), 60.0f);
        return Grey((rays * Glow(r) + 0.6f * Gauss(r, 0.1f)) * SmoothStep(1.0f, 0.85f, r));
    },
};

kv::Image* FlareImage(int index) {
    kv::Image* image = MakeImage(kFlareSize, kFlareSize, 32);
    if (image == nullptr) return nullptr;
    const Flare& flare = kFlares[index];
    Paint(image, [&flare](float x, float y) {
        const float half = kFlareSize * 0.5f;
        const Rgba c = flare((x - half) / half, (y - half) / half);
        return Rgba{c.r, c.g, c.b, 1.0f};
    });
    return image;
}

// An 8-bit grey BMP (the mask of a flare: its brightest channel).
bool WriteGreyBmp(const kv::Image* image, const std::string& file) {
    const int width = image->width;
    const int height = image->height;
    const int rowBytes = (width + 3) & ~3;
    const uint32_t offset = 14 + 40 + 256 * 4;
    const uint32_t size = offset + static_cast<uint32_t>(rowBytes * height);
    std::vector<uint8_t> out;
    auto put16 = [&out](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&put16](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    out.push_back('B');
    out.push_back('M');
    put32(size);
    put32(0);
    put32(offset);
    put32(40);
    put32(static_cast<uint32_t>(width));
    put32(static_cast<uint32_t>(height));
    put16(1);
    put16(8);
    put32(0);
    put32(static_cast<uint32_t>(rowBytes * height));
    put32(2835);
    put32(2835);
    put32(256);
    put32(0);
    for (int i = 0; i < 256; ++i) out.insert(out.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
        for (int x = 0; x < width; ++x) out.push_back(std::max({row[4 * x], row[4 * x + 1], row[4 * x + 2]}));
        out.resize(out.size() + static_cast<std::size_t>(rowBytes - width), 0);
    }
    FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

// ---- logo ----

float SegmentDistance(float x, float y, float ax, float ay, float bx, float by) {
    const float dx = bx - ax;
    const float dy = by - ay;
    const float t = std::clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy), 0.0f, 1.0f);
    return std::hypot(x - ax - t * dx, y - ay - t * dy);
}

// The letters K, V and 3 as strokes in a 128 x 64 frame.
float Letters(float x, float y) {
    struct Stroke {
        float ax, ay, bx, by;
    };
    static const Stroke strokes[] = {
        // K
        {62, 18, 62, 46},
        {62, 33, 76, 18},
        {66, 29, 77, 46},
        // V
        {82, 18, 90, 46},
        {90, 46, 98, 18},
        // 3
        {104, 18, 117, 18},
        {117, 18, 110, 30},
        {110, 30, 117, 36},
        {117, 36, 113, 46},
        {113, 46, 104, 45},
    };
    float d = 1e9f;
    for (const Stroke& s : strokes) d = std::min(d, SegmentDistance(x, y, s.ax, s.ay, s.bx, s.by));
    return SmoothStep(2.9f, 2.1f, d);
}

Rgba Logo(float x, float y) {
    // A rounded plate, dark and half transparent.
    const float inset = 4.0f;
    const float qx = std::max(std::fabs(x - 64.0f) - (64.0f - 12.0f), 0.0f);
    const float qy = std::max(std::fabs(y - 32.0f) - (32.0f - 12.0f), 0.0f);
    const float plate = SmoothStep(8.5f, 7.5f, std::hypot(qx, qy) + inset - 4.0f);
    Rgba c{0.08f, 0.10f, 0.16f, 0.7f * plate};

    // A dome over a horizon on the left: sky graded from the zenith, a sun.
    const float cx = 30.0f;
    const float cy = 46.0f;
    const float r = std::hypot(x - cx, y - cy);
    if (y <= cy && r <= 22.0f) {
        const float h = std::clamp((cy - y) / 22.0f, 0.0f, 1.0f);
        const float edge = SmoothStep(22.0f, 21.0f, r);
        c = Rgba{Mix(c.r, Mix(0.95f, 0.20f, h), edge), Mix(c.g, Mix(0.70f, 0.45f, h), edge),
                 Mix(c.b, Mix(0.45f, 0.90f, h), edge), Mix(c.a, 1.0f, edge)};
        const float sun = SmoothStep(5.0f, 4.0f, std::hypot(x - 38.0f, y - 32.0f));
        const float halo = 0.35f * Glow(std::hypot(x - 38.0f, y - 32.0f) / 12.0f);
        c.r = Mix(c.r, 1.0f, std::min(1.0f, sun + halo));
        c.g = Mix(c.g, 0.95f, std::min(1.0f, sun + halo));
        c.b = Mix(c.b, 0.75f, std::min(1.0f, sun + halo));
    }
    // The dome's rim and the horizon line.
    const float rim = SmoothStep(1.6f, 0.6f, std::fabs(r - 22.0f)) * (y <= cy + 0.5f ? 1.0f : 0.0f);
    const float horizon = SmoothStep(1.6f, 0.6f, std::fabs(y - cy)) * SmoothStep(28.0f, 26.0f, std::fabs(x - cx));
    const float line = std::max(rim, horizon);
    c = Rgba{Mix(c.r, 0.92f, line), Mix(c.g, 0.92f, line), Mix(c.b, 0.95f, line), Mix(c.a, 1.0f, line)};

    const float ink = Letters(x, y);
    return Rgba{Mix(c.r, 0.95f, ink), Mix(c.g, 0.95f, ink), Mix(c.b, 0.97f, ink), Mix(c.a, 1.0f, ink)};
}

// ---- icon ----

// The dome seen from a little above: a sky graded from the zenith's deep blue
// to the horizon's haze, with the sun and its glow, standing on a disc of
// ground; a light rim around the dome. Transparent around it.
Rgba Icon(float x, float y) {
    const float cx = 64.0f, horizon = 84.0f, radius = 54.0f;
    const Rgba rimColour{0.93f, 0.95f, 0.98f, 1.0f};
    Rgba c{rimColour.r, rimColour.g, rimColour.b, 0.0f};

    // The ground: an ellipse under the dome, darker towards its far edge.
    const float gx = (x - cx) / 60.0f, gy = (y - horizon) / 22.0f;
    const float ground = SmoothStep(1.0f, 0.97f, std::hypot(gx, gy));
    if (ground > 0.0f) {
        const float shade = 0.75f + 0.25f * std::clamp(0.5f + 0.5f * gy, 0.0f, 1.0f);
        c = Rgba{Mix(c.r, 0.22f * shade, ground), Mix(c.g, 0.50f * shade, ground), Mix(c.b, 0.18f * shade, ground),
                 ground};
    }

    // The dome: the upper half of a disc, its front edge on the ground's
    // centre line bent a little towards the viewer.
    const float r = std::hypot(x - cx, y - horizon);
    const float front =
        horizon + 8.0f * std::sqrt(std::clamp(1.0f - ((x - cx) / radius) * ((x - cx) / radius), 0.0f, 1.0f));
    const float inside = SmoothStep(radius + 0.5f, radius - 0.5f, r) * SmoothStep(front + 0.5f, front - 0.5f, y);
    if (inside > 0.0f) {
        const float h = std::clamp((horizon - y) / radius, 0.0f, 1.0f);
        Rgba sky{Mix(0.86f, 0.16f, h), Mix(0.90f, 0.38f, h), Mix(0.96f, 0.86f, h), 1.0f};
        const float d = std::hypot(x - 82.0f, y - 52.0f);
        const float sun = SmoothStep(8.0f, 7.0f, d);
        const float glow = std::min(1.0f, sun + 0.5f * Glow(d / 30.0f));
        sky = Rgba{Mix(sky.r, 1.0f, glow), Mix(sky.g, 0.96f, glow), Mix(sky.b, 0.80f, glow), 1.0f};
        c = Rgba{Mix(c.r, sky.r, inside), Mix(c.g, sky.g, inside), Mix(c.b, sky.b, inside), Mix(c.a, 1.0f, inside)};
    }
    const float rim = SmoothStep(2.2f, 1.2f, std::fabs(r - radius)) * SmoothStep(front + 0.5f, front - 0.5f, y);
    const float base =
        SmoothStep(2.0f, 1.0f, std::fabs(y - front)) * SmoothStep(radius + 1.0f, radius - 1.0f, std::fabs(x - cx));
    const float line = std::max(rim, base);
    return Rgba{Mix(c.r, rimColour.r, line), Mix(c.g, rimColour.g, line), Mix(c.b, rimColour.b, line),
                Mix(c.a, 1.0f, line)};
}

bool WriteInclude(const kv::Image* image, const std::string& file) {
    FILE* f = std::fopen(file.c_str(), "w");
    if (f == nullptr) return false;
    std::fprintf(f,
                 "// The logo picture: %d x %d pixels of red, green, blue and alpha bytes, rows\n"
                 "// of %d bytes from the top. Made by tools/kvtexgen (do not edit; run it\n"
                 "// again instead). Included inside the initialiser of a byte array.\n",
                 image->width, image->height, image->width * 4);
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
        for (int x = 0; x < image->width * 4; ++x) {
            std::fprintf(f, "%s%u,", x % 16 == 0 ? (x == 0 && y == 0 ? "" : "\n") : " ", row[x]);
        }
    }
    std::fprintf(f, "\n");
    return std::fclose(f) == 0;
}

bool Save(kv::Image* image, const std::string& file, bool alpha) {
    const bool ok = image != nullptr && kv::ImageWritePNG(image, file.c_str(), alpha);
    if (!ok) std::fprintf(stderr, "kvtexgen: cannot write %s\n", file.c_str());
    return ok;
}

int Generate(const std::string& dir, const char* include) {
    bool ok = true;
    kv::Image* ground = MakeImage(kGroundSize, kGroundSize, 32);
    if (ground != nullptr) Paint(ground, Ground, 2);
    ok = Save(ground, dir + "/ground.png", false) && ok;
    kv::ImageDestroy(ground);

    for (int i = 0; i < 8; ++i) {
        kv::Image* flare = FlareImage(i);
        const std::string base = dir + "/flare" + std::to_string(i);
        ok = Save(flare, base + ".png", false) && ok;
        if (flare == nullptr || !WriteGreyBmp(flare, base + "m.bmp")) {
            std::fprintf(stderr, "kvtexgen: cannot write %sm.bmp\n", base.c_str());
            ok = false;
        }
        kv::ImageDestroy(flare);
    }

    kv::Image* logo = MakeImage(kLogoWidth, kLogoHeight, 32);
    if (logo != nullptr) Paint(logo, Logo);
    ok = Save(logo, dir + "/logo.png", true) && ok;
    if (include != nullptr && (logo == nullptr || !WriteInclude(logo, include))) {
        std::fprintf(stderr, "kvtexgen: cannot write %s\n", include);
        ok = false;
    }
    kv::ImageDestroy(logo);

    kv::Image* icon = MakeImage(kIconSize, kIconSize, 32);
    if (icon != nullptr) Paint(icon, Icon);
    ok = Save(icon, dir + "/skydome.png", true) && ok;
    kv::ImageDestroy(icon);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: kvtexgen OUTDIR [LOGO.inc]\n");
        return 2;
    }
    static int display = 0;
    kv::EngineSetDevice(nullptr);
    kv::EngineOpenParams params{&display};
    kv::EngineUseStandardModules();
    if (!kv::EngineInit(nullptr, 0) || !kv::EngineOpen(&params) || !kv::EngineStart()) {
        std::fprintf(stderr, "kvtexgen: the engine could not start\n");
        return 1;
    }
    const int status = Generate(argv[1], argc == 3 ? argv[2] : nullptr);
    kv::EngineStop();
    kv::EngineClose();
    kv::EngineTerm();
    return status;
}
