// The texture chunk: how a material's texture is written to a stream. Only
// the name, the mask name and the sampling settings are written; the pixels
// are found again by name when a reader loads the texture.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Stream;
struct Texture;

// The struct word of the texture chunk.
constexpr uint32 kTextureStructFilterMask = 0x000000FF;
constexpr int32 kTextureStructAddressUShift = 8;
constexpr int32 kTextureStructAddressVShift = 12;
// Set when the texture has a raster whose levels are not built by the
// device (the format lacks automatic mip levels).
constexpr uint32 kTextureStructOwnLevels = 0x00010000;

uint32 TextureStructWord(const Texture* texture);
// The body length of the texture chunk: struct, name, mask name, extension.
uint32 TextureStreamGetSize(const Texture* texture);
const Texture* TextureStreamWrite(const Texture* texture, Stream* stream);

}  // namespace kv
