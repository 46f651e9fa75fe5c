// The palette quantiser: a palette of at most 16 or 256 colours for one or
// more images, and the mapping of images onto it. Colours are counted in a
// sparse four-dimensional histogram (red, green, blue, alpha at 5 bits each)
// held in a 16-way tree, and the palette comes from splitting the colour box
// with the largest variance until there are enough boxes.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

struct FreeList;
struct Image;
union QuantiserNode;

// low <= v < high on every axis, in 5-bit units; axes red, green, blue, alpha.
struct QuantiserBox {
    uint8 low[4];
    uint8 high[4];
};
static_assert(sizeof(QuantiserBox) == 8);

constexpr int32 kQuantiserMaxColors = 256;

struct Quantiser {
    QuantiserBox* boxes;  // kQuantiserMaxColors entries
    float* variances;     // kQuantiserMaxColors entries
    QuantiserNode* root;
    FreeList* nodes;
    int32 leafCount;    // colours (5-bit keys) seen
    uint32 spread[32];  // 5-bit value -> its bits one nibble apart, most significant lowest
};

// Sets up an empty quantiser; false (with the error recorded) when memory runs
// out, in which case nothing needs destroying.
bool QuantiserCreate(Quantiser* quantiser);
// Adds every pixel of a 4-, 8- (through the palette) or 32-bit image with the
// weight given. False if the image cannot be read or memory ran out.
bool QuantiserAddImage(Quantiser* quantiser, const Image* image, float weight);
// Makes at most count colours (1 to 256; the callers ask for 16 or 256) into
// palette[0..count-1] and returns how many were made; the entries after them
// are (0, 0, 0, 0). 0 when count is out of range.
int32 QuantiserMakePalette(RGBA* palette, int32 count, Quantiser* quantiser);
// Writes the palette index of every pixel of the image, one per byte, or two
// per byte (first pixel in the high nibble) when packed is non-zero and the
// destination depth is 4. The image's colours must have been added and the
// palette made; a colour that was not added maps to 0.
bool QuantiserMapImage(uint8* destination, int32 destinationStride, int32 destinationDepth, int32 packed,
                       Quantiser* quantiser, const Image* image);
void QuantiserDestroy(Quantiser* quantiser);

}  // namespace kv
