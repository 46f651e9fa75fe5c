// BMP files: the 12-byte core header and the 40-byte info header with its
// later versions (52, 56, 108 and 124 bytes), palettes, 8- and 4-bit run-length
// rows, 1, 4, 8, 15, 16, 24 and 32 bits per pixel, bit-field masks for 16 and 32
// bits, and bottom-up or top-down rows. Headers are untrusted: sizes, offsets
// and counts are checked against the file before anything is allocated.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Image;
struct Stream;

// Widths and heights above this are refused.
constexpr int32 kBmpMaxDimension = 32768;

// 1 and 4 bits become depth-4 images, 8 bits depth 8, everything else depth 32.
// Null on any failure, with the reason in the error record; the file is
// closed on every path.
Image* BmpImageRead(const char* fileName);
// The same from the stream's position; the stream stays open.
Image* BmpImageReadStream(Stream* stream);

}  // namespace kv
