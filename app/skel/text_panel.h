// The dark, see-through panel that on-screen text sits on, so that it stays
// readable over whatever the scene shows behind it (a white sky included),
// and the contrast measure its colours are chosen by.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

// Black at 85 %: light text on it keeps more than 4.5 : 1 over white, and a
// little of the scene still shows through.
constexpr RGBA kTextPanelColour = {0, 0, 0, 217};
// Pixels the panel reaches beyond its text, across and up and down.
constexpr int32 kTextPanelMarginX = 4;
constexpr int32 kTextPanelMarginY = 2;

// The contrast text needs against what is right behind it.
constexpr float kTextMinContrast = 4.5f;

// The panel over the brightest thing behind it (white): the lightest it can
// look, which its text is measured against.
RGBA TextPanelBrightest();

// Relative luminance of an sRGB colour, 0 (black) to 1 (white), and the
// contrast ratio of two colours, 1 to 21, either order.
float RelativeLuminance(RGBA c);
float ContrastRatio(RGBA a, RGBA b);

// Draws the panel over the pixels [x, x + width) x [y, y + height) of the
// camera being drawn, after the text already batched (which it would
// otherwise cover). The render states it changes are put back.
bool TextPanelDraw(int32 x, int32 y, int32 width, int32 height);
// The panel around a block of text: columns x rows character cells of
// w x h pixels from (x, y), with the margins.
bool TextPanelAround(int32 x, int32 y, int32 columns, int32 rows, int32 w, int32 h);

}  // namespace kv
