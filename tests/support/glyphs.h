// Text read back from the glyph quads the test device recorded: where each
// glyph's cell is and which character its texture rectangle shows (for an
// uncut cell of an 8 x 14 character set).
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "test_device.h"

namespace kv {
struct Raster;
}

namespace kv::test {

struct ScreenGlyph {
    Raster* set;
    int32 x, y;
    char c;
};

inline std::vector<ScreenGlyph> Glyphs(const TestDevice::Draw& d) {
    std::vector<ScreenGlyph> out;
    for (std::size_t q = 0; q + 3 < d.vertices.size(); q += 4) {
        const Im2DVertex& v = d.vertices[q];
        const int32 u = static_cast<int32>(std::lround(v.u * 128.0f));
        const int32 t = static_cast<int32>(std::lround(v.v * 128.0f));
        const int32 k = (t / 14) * 16 + u / 8;
        out.push_back(ScreenGlyph{reinterpret_cast<Raster*>(d.states.at(StateTextureRaster)),
                                  static_cast<int32>(std::lround(v.x)), static_cast<int32>(std::lround(v.y)),
                                  static_cast<char>(32 + k)});
    }
    return out;
}

inline std::vector<ScreenGlyph> AllGlyphs() {
    std::vector<ScreenGlyph> out;
    for (const TestDevice::Draw& d : TestDevice::draws) {
        if (d.indices.empty()) continue;  // glyphs are drawn indexed
        for (const ScreenGlyph& g : Glyphs(d)) out.push_back(g);
    }
    return out;
}

// The text drawn on the row at y, from x on (spaces where no glyph was drawn),
// optionally only the glyphs of one set.
inline std::string TextAt(int32 y, int32 x = 0, Raster* set = nullptr) {
    std::vector<ScreenGlyph> row;
    for (const ScreenGlyph& g : AllGlyphs()) {
        if (g.y == y && g.x >= x && (set == nullptr || g.set == set)) row.push_back(g);
    }
    std::sort(row.begin(), row.end(), [](const ScreenGlyph& a, const ScreenGlyph& b) { return a.x < b.x; });
    std::string s;
    for (const ScreenGlyph& g : row) {
        const auto column = static_cast<std::size_t>((g.x - x) / 8);
        if (s.size() < column) s.append(column - s.size(), ' ');
        s += g.c;
    }
    return s;
}

}  // namespace kv::test
