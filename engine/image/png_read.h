// PNG files through the system's libpng: every colour type and bit depth,
// palettes with transparency, 16-bit samples cut to 8, interlaced files. A
// libpng error never leaves the reader: it returns null having released
// everything it took.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Image;
struct Stream;

// Grey becomes a depth-8 image with a grey-ramp palette, a palette file depth 8
// (depth 4 below 8 bits per pixel), anything else depth 32. Null on any
// failure, with the reason in the error record; the file is closed on every
// path.
Image* PngImageRead(const char* fileName);
// The same from the stream's position; the stream stays open.
Image* PngImageReadStream(Stream* stream);

// For fuzzing: damaged checksums are let through so that mutated data reaches
// the decoder instead of stopping at the first chunk. Off by default.
void PngReadSetChecksumsIgnored(bool ignored);

}  // namespace kv
