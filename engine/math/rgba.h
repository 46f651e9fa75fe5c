// Colours: bytes at every interface, reals for computation.
#pragma once

#include "engine/core/types.h"

namespace kv {

// Memory order red, green, blue, alpha: also a palette entry and a 32-bit pixel.
struct RGBA {
    uint8 red;
    uint8 green;
    uint8 blue;
    uint8 alpha;
};
static_assert(sizeof(RGBA) == 4);

// Nominal range 0 to 1.
struct RGBAReal {
    real red;
    real green;
    real blue;
    real alpha;
};
static_assert(sizeof(RGBAReal) == 16);

// A colour byte as a fraction of full intensity.
constexpr real kByteToUnit = 1.0f / 255.0f;

inline bool operator==(const RGBA& a, const RGBA& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

}  // namespace kv
