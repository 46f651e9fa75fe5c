// The shell's own 8 x 14 bitmap font.
#pragma once

#include "engine/core/kvtypes.h"

namespace kv {

constexpr int32 kFontWidth = 8;
constexpr int32 kFontHeight = 14;

// The 14 rows of a character's glyph, top first, bit 7 the left-most pixel.
// Characters outside 32..126 get a hollow box.
const uint8* FontGlyph(int32 c);

}  // namespace kv
