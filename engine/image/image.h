// Images: pixel memory the engine owns and understands (depth 4, 8 or 32),
// the gamma tables, resampling, the image search path and the registry of
// image file formats by extension.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

struct FreeList;
struct Raster;

// Image flags.
constexpr int32 kImageOwnsPixels = 0x01;      // pixels and palette freed with the image
constexpr int32 kImageGammaCorrected = 0x02;  // pixel values went through the gamma table

// Depth 32: RGBA bytes per pixel. Depths 8 and 4: one palette index per byte
// (depth 4 uses values 0..15, not two per byte). Registered extension data
// follows the record.
struct Image {
    int32 flags;
    int32 width;
    int32 height;
    int32 depth;
    int32 stride;   // bytes from one row to the next
    uint8* pixels;  // first row
    RGBA* palette;  // 16 (depth 4) or 256 (depth 8) entries; null for depth 32
};

// Image file formats, found by the extension of a file name.
using ImageReadFn = Image* (*)(const char* fileName);
using ImageWriteFn = Image* (*)(Image* image, const char* fileName);

constexpr int32 kImageExtensionLength = 20;
struct ImageFormat {
    char extension[kImageExtensionLength];       // "." + up to 18 characters, lower case
    char extensionUpper[kImageExtensionLength];  // the same, upper case
    ImageReadFn readImage;
    ImageWriteFn writeImage;
    ImageFormat* nextFormat;
};

// The image module's block in the engine instance.
struct ImageModule {
    FreeList* imageFreeList;
    char* searchPath;  // ';'-separated elements; each ends with its own separator
    int32 searchPathSize;
    uint8 gammaTable[256];
    uint8 inverseGammaTable[256];
    float gamma;
    char* scratch;  // candidate file names are built here
    int32 scratchSize;
    FreeList* formatFreeList;
    ImageFormat* formats;  // newest first
};

Image* ImageCreate(int32 width, int32 height, int32 depth);
bool ImageDestroy(Image* image);
// One allocation: height * stride bytes of pixels, then the palette.
Image* ImageAllocatePixels(Image* image);
Image* ImageFreePixels(Image* image);

inline int32 ImageGetWidth(const Image* image) { return image->width; }
inline int32 ImageGetHeight(const Image* image) { return image->height; }
inline int32 ImageGetDepth(const Image* image) { return image->depth; }
inline int32 ImageGetStride(const Image* image) { return image->stride; }
inline uint8* ImageGetPixels(const Image* image) { return image->pixels; }
inline RGBA* ImageGetPalette(const Image* image) { return image->palette; }
// Plain stores: the caller keeps ownership of the memory.
inline Image* ImageSetStride(Image* image, int32 stride) {
    image->stride = stride;
    return image;
}
inline Image* ImageSetPixels(Image* image, uint8* pixels) {
    image->pixels = pixels;
    return image;
}
inline Image* ImageSetPalette(Image* image, RGBA* palette) {
    image->palette = palette;
    return image;
}

// Same size assumed; converts 4 -> 8, 4 -> 32, 8 -> 32 and equal depths.
Image* ImageCopy(Image* destination, const Image* source);
// alpha := max(red, green, blue) of every palette entry or pixel.
Image* ImageMakeMask(Image* image);
// The image becomes 32-bit with the mask's alpha.
Image* ImageApplyMask(Image* image, const Image* mask);
Image* ImageGammaCorrect(Image* image);
bool ImageSetGamma(float gamma);
float ImageGetGamma();
const uint8* ImageGetGammaTable();
const uint8* ImageGetInverseGammaTable();

// Area-weighted box filter; both images 32-bit.
Image* ImageResample(Image* destination, const Image* source);
// A new 32-bit image of the given size.
Image* ImageCreateResampled(const Image* image, int32 width, int32 height);

// The search path: elements separated by ';', each used as written.
const char* ImageSetPath(const char* path);
const char* ImageGetPath();
// Calls visitor with every candidate name (search-path element + name, or the
// name alone when it is absolute or the path is empty) until it returns false.
// spare: bytes to keep free behind each candidate for the visitor's use.
// Returns false only when a candidate could not be built (out of memory).
using ImagePathVisitor = bool (*)(char* candidate, void* data);
bool ImagePathSearch(const char* name, int32 spare, ImagePathVisitor visitor, void* data);

// Extension without the dot, either case; replaces the non-null functions of
// an already registered extension.
bool ImageRegisterImageFormat(const char* extension, ImageReadFn readImage, ImageWriteFn writeImage);
Image* ImageRead(const char* fileName);
// The registered formats, newest first; null when there are none.
const ImageFormat* ImageGetFormats();
// The registered extension (".png" or ".PNG") under which name exists on the
// search path, or null.
const char* ImageFindFileExtension(const char* name);
// The image with the alpha of the mask image (none when maskName is empty).
Image* ImageReadMaskedImage(const char* name, const char* maskName);

// Device copies between images and rasters.
Image* ImageSetFromRaster(Image* image, Raster* raster);
Image* ImageFindRasterFormat(Image* image, int32 rasterType, int32* width, int32* height, int32* depth,
                             int32* createFlags);

// The image registry: plugins register before the engine opens.
int32 ImageRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy);
int32 ImageGetPluginOffset(uint32 pluginID);

void* ImageModuleOpen(void* instance, int32 offset, int32 size);
void* ImageModuleClose(void* instance, int32 offset, int32 size);
CoreModule ImageModuleEntry();

}  // namespace kv
