// The menu's colour maths: the mix of two colours in HSV and the palette
// made from the text and background colours.
#include "menu_colours.h"

#include "text_panel.h"

namespace kv {

namespace {

// HSV in 16.16 fixed point: hue in [0, 1), saturation in [0, 1]; value as a
// real. Grey colours (max - min below 0.05) have no hue.
struct Hsv {
    int32 hue;
    int32 saturation;
    float value;
};

Hsv ToHsv(RGBA c) {
    const int32 r = (c.red << 16) / 255, g = (c.green << 16) / 255, b = (c.blue << 16) / 255;
    const int32 mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const int32 mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    Hsv out{0, 0, static_cast<float>(mx) / 65535.0f};
    if (mx - mn < 3276) return out;
    out.saturation = ((mx - mn) * 256) / ((mx + 128) / 256);
    const int32 e = (mx - mn + 128) / 256;
    int32 h;
    if (r == mx) {
        h = ((g - b) * 256) / e;
    } else if (g == mx) {
        h = 0x20000 + ((b - r) * 256) / e;
    } else {
        h = 0x40000 + ((r - g) * 256) / e;
    }
    while (h < 0) h += 0x60000;
    while (h >= 0x60000) h -= 0x60000;
    out.hue = h / 6;
    return out;
}

uint8 Channel(float v) {
    const float c = v * 255.0f + 0.5f;
    return c <= 0.0f ? 0 : c >= 255.0f ? 255 : static_cast<uint8>(c);
}

RGBA FromHsv(float hue, float saturation, float value) {
    if (hue < 0.0f) hue = 0.0f;
    if (hue > 1.0f) hue = 1.0f;
    float r = value, g = value, b = value;
    if (saturation > 0.0f) {
        const float h6 = hue * 6.0f;
        const auto sector = static_cast<int32>(h6);
        const float f = h6 - static_cast<float>(sector);
        const float p = value * (1.0f - saturation);
        const float q = value * (1.0f - saturation * f);
        const float t = value * (1.0f - saturation * (1.0f - f));
        switch (sector % 6) {
            case 0:
                r = value, g = t, b = p;
                break;
            case 1:
                r = q, g = value, b = p;
                break;
            case 2:
                r = p, g = value, b = t;
                break;
            case 3:
                r = p, g = q, b = value;
                break;
            case 4:
                r = t, g = p, b = value;
                break;
            default:
                r = value, g = p, b = q;
                break;
        }
    }
    return RGBA{Channel(r), Channel(g), Channel(b), 255};
}

// The dimmer texts are a mix of the text colour into the background, from
// `start` of the way up; where that is too dark to read on the panel over a
// white scene, the mix moves up until it is not, short of the text colour
// itself. The bar behind the selection moves down from `start` until the
// text reads on it.
constexpr int32 kMixSteps = 20;          // mixes in steps of 0.05
constexpr int32 kDimmestBrightest = 16;  // a dimmed text stays at 0.8 of the way at most

RGBA Mix(RGBA fg, RGBA bg, int32 step) {
    return ColourMix(fg, bg, static_cast<float>(step) / static_cast<float>(kMixSteps));
}

RGBA ReadableOnPanel(RGBA fg, RGBA bg, int32 step) {
    const RGBA panel = TextPanelBrightest();
    while (step < kDimmestBrightest && ContrastRatio(Mix(fg, bg, step), panel) < kTextMinContrast) ++step;
    return Mix(fg, bg, step);
}

RGBA BarUnder(RGBA fg, RGBA bg, int32 step) {
    while (step > 0 && ContrastRatio(fg, Mix(fg, bg, step)) < kTextMinContrast) --step;
    return Mix(fg, bg, step);
}

}  // namespace

MenuPalette MenuMakePalette(RGBA fg, RGBA bg) {
    // Dimmed text at 0.2 of the way, separators and the bar at half way.
    return MenuPalette{fg, ReadableOnPanel(fg, bg, 4), ReadableOnPanel(fg, bg, 10), BarUnder(fg, bg, 10)};
}

RGBA ColourMix(RGBA a, RGBA b, float t) {
    const Hsv ha = ToHsv(a), hb = ToHsv(b);
    const float value = (1.0f - t) * hb.value + t * ha.value;
    return FromHsv(static_cast<float>(ha.hue) / 65536.0f, static_cast<float>(ha.saturation) / 65536.0f * 0.6f, value);
}

}  // namespace kv
