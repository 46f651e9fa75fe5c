// Draws the program's logo: a small sky dome with its sun over a strip of
// ground, and "KV3" in the program's own font, 128 x 64 RGBA with a
// transparent background. Writes the pixels as a C++ include (row stride 512
// bytes) for the logo plug-in, and, when asked, a PNG to look at.
//
//     kvlogo OUT.inc [OUT.png]
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/image/ktcharse.h"

namespace {

constexpr int kWidth = 128;
constexpr int kHeight = 64;
constexpr int kSamples = 4;  // per axis, for smooth edges

struct Colour {
    float r, g, b, a;
};

// Straight (not premultiplied) colour over what is there.
void Over(Colour* dst, Colour src) {
    const float a = src.a + dst->a * (1.0f - src.a);
    if (a <= 0.0f) {
        *dst = Colour{0, 0, 0, 0};
        return;
    }
    auto mix = [&](float s, float d) { return (s * src.a + d * dst->a * (1.0f - src.a)) / a; };
    *dst = Colour{mix(src.r, dst->r), mix(src.g, dst->g), mix(src.b, dst->b), a};
}

float Lerp(float a, float b, float t) { return a + (b - a) * t; }

// The dome's half disc and the sun.
constexpr float kDomeX = 36.0f, kDomeY = 54.0f, kDomeR = 30.0f;
constexpr float kSunX = 47.0f, kSunY = 33.0f, kSunR = 5.5f;

// "KV3" in the font at twice its size, with a one-pixel dark rim.
constexpr int kTextX = 74, kTextY = 20, kTextScale = 2;
const char kText[] = "KV3";

bool TextInk(int x, int y) {
    const int gx = (x - kTextX) / kTextScale, gy = (y - kTextY) / kTextScale;
    if (x < kTextX || y < kTextY || gy >= kv::kCharsetGlyphHeight) return false;
    const int index = gx / kv::kCharsetGlyphWidth;
    if (index >= static_cast<int>(sizeof(kText)) - 1) return false;
    const kv::uint8* rows = kv::CharsetGlyph(kText[index]);
    return rows != nullptr && ((rows[gy] >> (gx % kv::kCharsetGlyphWidth)) & 1) != 0;
}

bool TextRim(int x, int y) {
    if (TextInk(x, y)) return false;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (TextInk(x + dx, y + dy)) return true;
        }
    }
    return false;
}

// One sample point of the picture.
Colour Sample(float x, float y) {
    Colour c{0, 0, 0, 0};
    // Ground strip under the dome.
    if (y >= kDomeY && y < kDomeY + 5.0f && x >= kDomeX - kDomeR - 4.0f && x < kDomeX + kDomeR + 4.0f) {
        Over(&c, Colour{0.28f, 0.40f, 0.18f, 1.0f});
    }
    // The dome: deep blue at the zenith, pale at the horizon, a darker rim.
    const float dx = x - kDomeX, dy = y - kDomeY, d = std::sqrt(dx * dx + dy * dy);
    if (y < kDomeY && d < kDomeR) {
        const float t = std::clamp((kDomeY - y) / kDomeR, 0.0f, 1.0f);
        Over(&c, Colour{Lerp(0.78f, 0.10f, t), Lerp(0.90f, 0.28f, t), Lerp(1.00f, 0.72f, t), 1.0f});
        if (d > kDomeR - 1.5f) Over(&c, Colour{0.05f, 0.12f, 0.35f, 0.9f});
    }
    // The sun with a soft glow, inside the dome only.
    if (y < kDomeY && d < kDomeR - 1.5f) {
        const float sx = x - kSunX, sy = y - kSunY, s = std::sqrt(sx * sx + sy * sy);
        if (s < kSunR) {
            Over(&c, Colour{1.0f, 0.95f, 0.62f, 1.0f});
        } else if (s < kSunR * 2.2f) {
            const float glow = 1.0f - (s - kSunR) / (kSunR * 1.2f);
            Over(&c, Colour{1.0f, 0.92f, 0.55f, 0.6f * glow * glow});
        }
    }
    return c;
}

struct Picture {
    std::vector<unsigned char> rgba = std::vector<unsigned char>(kWidth * kHeight * 4);
};

Picture Draw() {
    Picture p;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            // Average the samples in premultiplied form, so edges fade cleanly.
            float r = 0, g = 0, b = 0, a = 0;
            for (int j = 0; j < kSamples; ++j) {
                for (int i = 0; i < kSamples; ++i) {
                    const Colour s = Sample(static_cast<float>(x) + (static_cast<float>(i) + 0.5f) / kSamples,
                                            static_cast<float>(y) + (static_cast<float>(j) + 0.5f) / kSamples);
                    r += s.r * s.a;
                    g += s.g * s.a;
                    b += s.b * s.a;
                    a += s.a;
                }
            }
            const float n = kSamples * kSamples;
            Colour c = a > 0.0f ? Colour{r / a, g / a, b / a, a / n} : Colour{0, 0, 0, 0};
            // The letters are pixel art: whole pixels, no smoothing.
            if (TextRim(x, y)) Over(&c, Colour{0.04f, 0.08f, 0.22f, 1.0f});
            if (TextInk(x, y)) Over(&c, Colour{0.96f, 0.97f, 1.0f, 1.0f});
            unsigned char* out = &p.rgba[(static_cast<std::size_t>(y) * kWidth + x) * 4];
            const float channels[4] = {c.r, c.g, c.b, c.a};
            for (int k = 0; k < 4; ++k) {
                out[k] = static_cast<unsigned char>(std::lround(std::clamp(channels[k], 0.0f, 1.0f) * 255.0f));
            }
        }
    }
    return p;
}

bool WriteInclude(const Picture& p, const char* file) {
    FILE* f = std::fopen(file, "w");
    if (f == nullptr) return false;
    std::fprintf(f,
                 "// The logo, 128 x 64 pixels of red, green, blue and alpha, row by row\n"
                 "// (512 bytes a row). Made by tools/kvlogo; do not edit.\n");
    for (int y = 0; y < kHeight; ++y) {
        for (int half = 0; half < 2; ++half) {
            for (int i = 0; i < 256; ++i) {
                std::fprintf(f, "%u,", p.rgba[static_cast<std::size_t>(y) * 512 + half * 256 + i]);
            }
            std::fprintf(f, "\n");
        }
    }
    return std::fclose(f) == 0;
}

bool WritePng(const Picture& p, const char* file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&image, file, 0, p.rgba.data(), 0, nullptr) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: kvlogo OUT.inc [OUT.png]\n");
        return 2;
    }
    const Picture p = Draw();
    if (!WriteInclude(p, argv[1])) {
        std::fprintf(stderr, "kvlogo: cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3 && !WritePng(p, argv[2])) {
        std::fprintf(stderr, "kvlogo: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
