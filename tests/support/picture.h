// A picture the program showed, as RGB bytes row by row from the top: read
// back from its screenshot or from a dump of its window, for tests to look at
// its pixels.
#pragma once

#include <png.h>

#include <cstddef>
#include <string>
#include <vector>

#include "engine/math/rgba.h"

namespace kv::test {

struct Picture {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char* At(int x, int y) const {
        return &rgb[3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))];
    }
    // Pixels of that colour in [x0, x1) x [y0, y1).
    int Count(RGBA c, int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) n += At(x, y)[0] == c.red && At(x, y)[1] == c.green && At(x, y)[2] == c.blue;
        }
        return n;
    }
};

// The PNG file as RGB; ok is false when it cannot be read.
inline Picture PictureReadPng(const std::string& file) {
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return p;
    image.format = PNG_FORMAT_RGB;
    p.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr) == 0) return p;
    p.ok = true;
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    return p;
}

}  // namespace kv::test
