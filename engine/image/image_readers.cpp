#include "image_readers.h"

#include "bmp_read.h"
#include "engine/core/error.h"
#include "engine/stream/stream.h"
#include "image.h"
#include "png_read.h"

namespace kv {

bool ImageRegisterFileReaders() {
    // Newest first in the registry: png is looked at before bmp.
    const bool bmp = ImageRegisterImageFormat("bmp", BmpImageRead, nullptr);
    const bool png = ImageRegisterImageFormat("png", PngImageRead, nullptr);
    return bmp && png;
}

Image* ImageReadFileWith(const char* fileName, Image* (*readStream)(Stream* stream)) {
    if (fileName == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    Stream* stream = StreamOpen(StreamTypeFileName, StreamAccessRead, fileName);
    if (stream == nullptr) return nullptr;
    Image* image = readStream(stream);
    StreamClose(stream, nullptr);
    return image;
}

bool ImageReadSizeAllowed(int64_t width, int64_t height, int32 depth, int64_t extraBytes, int64_t fileBytes) {
    bool allowed = width > 0 && height > 0 && width <= kImageReadMaxDimension && height <= kImageReadMaxDimension;
    if (allowed) {
        // As the image module lays the pixels out: rows of whole words.
        const int64_t stride = ((depth == 32 ? 4 : 1) * width + 3) & ~int64_t{3};
        const int64_t decoded = stride * height + extraBytes;
        allowed =
            decoded <= kImageReadFreeBytes || (fileBytes >= 0 && decoded / kImageReadBytesPerFileByte <= fileBytes);
    }
    if (!allowed) ErrorRaise(kIdImageModule, kErrImageFileTooLarge);
    return allowed;
}

const char* ImageReadErrorText(int32 module, int32 code) {
    // A reader's failures read better in the words of a file being read than
    // in the engine's general ones.
    if (module == kModuleCore && code == kErrStreamEnd) return "the file ends early";
    switch (code) {
        case kErrFileOpen:
            return "cannot open the file";
        case kErrReadFailed:
            return "cannot read the file";
        case kErrFileDepth:
            return "unsupported number of bits per pixel";
        case kErrConvertDepth:
            return "unsupported compression or header";
        case kErrNoMemory:
            return "out of memory";
        default:
            break;
    }
    return module == kIdImageModule ? ErrorMeaningIn(module, code) : nullptr;
}

}  // namespace kv
