// On-screen text. A character set is a 128 x 128 texture raster holding the
// 8 x 14 bitmap font in one foreground and one background colour; strings
// become textured quads drawn through the device's 2D functions. Text is
// batched: consecutive strings in one set reach the device in one indexed
// draw of up to 1024 glyphs, flushed when the set changes, when the batch is
// full, or by the caller (before the camera's end update).
//
// Glyph quads are clipped to the raster of the camera being drawn; printing
// with no camera current fails.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

struct Raster;

// The font: glyphs for the codes 32 (space) to 122 ('z').
constexpr int32 kCharsetGlyphWidth = 8;
constexpr int32 kCharsetGlyphHeight = 14;
constexpr int32 kCharsetFirstCode = 32;
constexpr int32 kCharsetNumGlyphs = 91;
// Glyphs per batch.
constexpr int32 kCharsetBatchGlyphs = 1024;

struct CharsetDesc {
    int32 width;       // glyph width in pixels
    int32 height;      // glyph height in pixels
    int32 count;       // glyphs in the set
    int32 tileWidth;   // glyphs per row of the texture
    int32 tileHeight;  // rows of glyphs in the texture
};

// The 14 rows of a character's glyph, top first, bit 0 the leftmost pixel and
// a set bit a foreground pixel; null for a code without a glyph. The one font
// of the program: the shell's dialog draws with it too.
const uint8* CharsetGlyph(int32 code);

// The batch buffers, allocated once: opened by the skeleton's engine start-up
// and closed at its shut-down.
bool CharsetOpen();
void CharsetClose();

// Colours are red, green, blue, alpha. A background of alpha 0 leaves
// everything but the glyphs' pixels untouched.
Raster* CharsetCreate(const RGBA* foreground, const RGBA* background);
bool CharsetDestroy(Raster* set);
Raster* CharsetGetDesc(Raster* set, CharsetDesc* desc);

// Adds a string at pixel (x, y) (its first glyph's top-left) to the batch.
// Spaces are skipped unless drawSpaces is set, which draws them in the
// background colour (a bar behind the text when the background is opaque).
Raster* CharsetPrintBuffered(Raster* set, const char* string, int32 x, int32 y, bool drawSpaces);
// Draws and empties the batch.
bool CharsetFlush();
// Draws one string at once (spaces included) with buffers of its own.
Raster* CharsetPrint(Raster* set, const char* string, int32 x, int32 y);

}  // namespace kv
