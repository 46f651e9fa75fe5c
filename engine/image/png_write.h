// PNG writing with libpng: images, and rasters read back through the device.
// A file is written as FileWrite writes (a new file beside it, renamed over it
// only when complete; links followed; devices and pipes in place), so a failed
// write never leaves a partial file under the name asked for.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Image;
struct Raster;
struct FileWriteStatus;

// Writes a 32-bit image as RGBA (or RGB when keepAlpha is false), or a 4- or
// 8-bit image through its palette. False on any failure, with nothing left
// under fileName (an earlier file of that name stays as it was). *status (may
// be null) tells which step of the file's writing failed, and why.
bool ImageWritePNG(const Image* image, const char* fileName, bool keepAlpha, FileWriteStatus* status = nullptr);
// The same with text chunks before the pixels: a keyword (1 to 79 printable
// Latin-1 characters) and its text each, as tEXt when the text is ASCII and
// as iTXt (UTF-8) when not. A keyword the format refuses fails the write.
struct PngText {
    const char* keyword;
    const char* text;
};
bool ImageWritePNGWithText(const Image* image, const char* fileName, bool keepAlpha, const PngText* texts, int32 count,
                           FileWriteStatus* status = nullptr);
// Asked before each row is compressed: true gives the write up (the status
// says FileWriteData, EINTR). A large image takes seconds to compress; a
// program asked to quit need not wait for it. Null (the default) never stops.
using ImageWriteStopFn = bool (*)();
void ImageSetWriteStop(ImageWriteStopFn stop);
// Copies the raster's pixels into an image (the device's image-from-raster)
// and writes them without alpha.
bool RasterWritePNG(Raster* raster, const char* fileName, FileWriteStatus* status = nullptr);
// Whether PNG bytes may go under this name: it ends in .png (either case), or
// it is a device or a pipe (/dev/stdout), which takes the bytes as they come.
// A name that says another format would mislead whoever opens the file.
bool PngFileNameFits(const char* fileName);

}  // namespace kv
