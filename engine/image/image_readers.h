// The image file readers the engine ships ("bmp" and "png"), registered with
// the image module's format registry, and the codes they raise when a file is
// refused.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Image;
struct Stream;

// Registers "bmp" (BmpImageRead) and then "png" (PngImageRead), neither with a
// writer. Needs a started engine; false if a registration failed.
bool ImageRegisterFileReaders();

// Opens the named file and reads it with a reader of streams; null (with the
// error raised) when the name is null, the file cannot be opened or the
// reader fails.
Image* ImageReadFileWith(const char* fileName, Image* (*readStream)(Stream* stream));

// How large a picture a file may decode to. Up to kImageReadFreeBytes (a
// 4096 x 4096 RGBA picture) any file may; beyond it the file must hold at
// least one byte for every kImageReadBytesPerFileByte decoded ones. Only flat
// fills compress further than that, and a flat fill that large is no
// texture: a header that claims more is refused before anything is
// allocated.
constexpr int64_t kImageReadFreeBytes = int64_t{64} << 20;
constexpr int64_t kImageReadBytesPerFileByte = 32;
// Neither side of a picture read from a file may pass this.
constexpr int64_t kImageReadMaxDimension = 32768;

// Whether a width x height picture of the given depth (4, 8 or 32), with
// extraBytes the reader needs beside the pixels, may be decoded from a file
// of fileBytes (-1: not known, and only the free size is allowed). If not,
// raises the image module's "image too large" and returns false.
bool ImageReadSizeAllowed(int64_t width, int64_t height, int32 depth, int64_t extraBytes, int64_t fileBytes);

// A short description of an error raised while reading an image, for messages
// to users ("not a BMP file", "image too large", ...); null for codes that are
// not about image files.
const char* ImageReadErrorText(int32 module, int32 code);

}  // namespace kv
