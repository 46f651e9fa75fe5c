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

// A short description of an error raised while reading an image, for messages
// to users ("not a BMP file", "image too large", ...); null for codes that are
// not about image files.
const char* ImageReadErrorText(int32 module, int32 code);

}  // namespace kv
