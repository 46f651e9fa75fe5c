// The menu's colours: the palette it draws in, made from its text and
// background colours.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

// The colours the menu draws in: its text, dimmed entries, separators and
// "(more)", and the bar behind the selected entry. Each line of text keeps
// a contrast of 4.5 : 1 on what is behind it (the bar, or the dark panel the
// menu lies on over the brightest scene); dimmed entries stay darker than
// the others.
struct MenuPalette {
    RGBA text;
    RGBA disabled;
    RGBA separator;
    RGBA selectedBar;
};

// A's hue with 0.6 of its saturation, at the value t of the way from b's to
// a's; alpha 255. Worked in 16.16 fixed-point HSV.
RGBA ColourMix(RGBA a, RGBA b, float t);

// The palette for text fg over background bg.
MenuPalette MenuMakePalette(RGBA fg, RGBA bg);

}  // namespace kv
