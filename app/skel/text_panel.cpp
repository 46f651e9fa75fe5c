// The panel behind on-screen text and the contrast of colours.
#include "text_panel.h"

#include <cmath>

#include "engine/core/engine.h"
#include "engine/image/charset.h"
#include "engine/image/screen_view.h"

namespace kv {

namespace {

// One sRGB channel to linear light, as the relative luminance of W3C (2008),
// "Web Content Accessibility Guidelines (WCAG) 2.0", defines it after the
// sRGB transfer curve of IEC 61966-2-1:1999.
float Linear(uint8 channel) {
    const float c = static_cast<float>(channel) / 255.0f;
    return c <= 0.03928f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

uint8 Over(uint8 under, uint8 colour, uint8 alpha) {
    const float a = static_cast<float>(alpha) / 255.0f;
    return static_cast<uint8>(std::lround(static_cast<float>(colour) * a + static_cast<float>(under) * (1.0f - a)));
}

}  // namespace

RGBA TextPanelBrightest() {
    const RGBA& p = kTextPanelColour;
    return RGBA{Over(255, p.red, p.alpha), Over(255, p.green, p.alpha), Over(255, p.blue, p.alpha), 255};
}

float RelativeLuminance(RGBA c) {
    // The weights of the sRGB primaries (WCAG 2.0, relative luminance).
    return 0.2126f * Linear(c.red) + 0.7152f * Linear(c.green) + 0.0722f * Linear(c.blue);
}

float ContrastRatio(RGBA a, RGBA b) {
    const float la = RelativeLuminance(a), lb = RelativeLuminance(b);
    // WCAG 2.0, contrast ratio: (L1 + 0.05) / (L2 + 0.05), L1 the lighter.
    return la > lb ? (la + 0.05f) / (lb + 0.05f) : (lb + 0.05f) / (la + 0.05f);
}

bool TextPanelDraw(int32 x, int32 y, int32 width, int32 height) {
    ScreenView view;
    if (width <= 0 || height <= 0 || !ScreenViewGet(&view)) return false;
    // Text batched before the panel is drawn before it.
    CharsetFlush();
    const RenderStatesKept kept({StateZTestEnable, StateZWriteEnable, StateVertexAlphaEnable, StateSrcBlend,
                                 StateDestBlend, StateCullMode, StateTextureRaster, StateShadeMode});
    RenderStateSet(StateZTestEnable, 0);
    RenderStateSet(StateZWriteEnable, 0);
    RenderStateSet(StateTextureRaster, 0);
    RenderStateSet(StateVertexAlphaEnable, 1);
    RenderStateSet(StateSrcBlend, 5);   // source alpha
    RenderStateSet(StateDestBlend, 6);  // one minus source alpha
    RenderStateSet(StateCullMode, 1);   // none
    RenderStateSet(StateShadeMode, 1);  // flat: one colour
    const float z = EngineGetZNear(), recipZ = view.nearPlane != 0.0f ? 1.0f / view.nearPlane : 0.0f;
    const auto corner = [&](int32 px, int32 py) {
        Im2DVertex v{};
        v.x = static_cast<float>(px);
        v.y = static_cast<float>(py);
        v.z = z;
        v.r = kTextPanelColour.red;
        v.g = kTextPanelColour.green;
        v.b = kTextPanelColour.blue;
        v.a = kTextPanelColour.alpha;
        v.tq = 1.0f;
        v.recipZ = recipZ;
        return v;
    };
    Im2DVertex fan[4] = {corner(x, y), corner(x, y + height), corner(x + width, y + height), corner(x + width, y)};
    return Im2DRenderPrimitive(PrimTypeTriFan, fan, 4);
}

bool TextPanelAround(int32 x, int32 y, int32 columns, int32 rows, int32 w, int32 h) {
    return TextPanelDraw(x - kTextPanelMarginX, y - kTextPanelMarginY, columns * w + 2 * kTextPanelMarginX,
                         rows * h + 2 * kTextPanelMarginY);
}

}  // namespace kv
