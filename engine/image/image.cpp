#include "image.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "raster.h"

namespace kv {

namespace {

constexpr int32 kImagesPerBlock = 20;
constexpr int32 kFormatsPerBlock = 3;
constexpr int32 kInitialBufferSize = 256;
constexpr int32 kExtensionChars = 18;
// Spare bytes behind a candidate name: enough for any registered extension.
constexpr int32 kReadSpare = 5;
constexpr int32 kFindExtensionSpare = kImageExtensionLength;

PluginRegistry imageRegistry = PluginRegistryMake(sizeof(Image));
ModuleSlot<ImageModule> slot;

ImageModule* Module() { return slot.Get(); }
ImageModule* ModuleOrError() { return slot.GetOrError(); }

int32 BytesPerPixel(int32 depth) { return (depth + 7) >> 3; }
int32 PaletteEntries(int32 depth) { return (depth == 4 || depth == 8) ? (1 << depth) : 0; }

// Palette indices beyond the palette (a corrupt 4-bit image) must not read
// past it.
inline uint8 IndexMask(int32 depth) { return static_cast<uint8>(depth == 4 ? 0x0F : 0xFF); }

Image* ConvertDepth(Image* dst, const Image* src) {
    if (dst->pixels == nullptr || src->pixels == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    const int32 width = dst->width < src->width ? dst->width : src->width;
    const int32 height = dst->height < src->height ? dst->height : src->height;
    const int32 sd = src->depth;
    const int32 dd = dst->depth;
    if (sd == dd) {
        const int32 entries = PaletteEntries(sd);
        if (entries != 0 && dst->palette != nullptr && src->palette != nullptr) {
            std::memcpy(dst->palette, src->palette, static_cast<std::size_t>(entries) * sizeof(RGBA));
        }
        const std::size_t rowBytes = static_cast<std::size_t>(BytesPerPixel(sd)) * width;
        for (int32 y = 0; y < height; ++y) {
            std::memcpy(dst->pixels + static_cast<std::ptrdiff_t>(y) * dst->stride,
                        src->pixels + static_cast<std::ptrdiff_t>(y) * src->stride, rowBytes);
        }
        return dst;
    }
    if (sd == 4 && dd == 8) {
        for (int32 y = 0; y < height; ++y) {
            std::memcpy(dst->pixels + static_cast<std::ptrdiff_t>(y) * dst->stride,
                        src->pixels + static_cast<std::ptrdiff_t>(y) * src->stride, static_cast<std::size_t>(width));
        }
        return dst;
    }
    if ((sd == 4 || sd == 8) && dd == 32) {
        if (src->palette == nullptr) {
            ErrorRaise(kModuleNone, kErrNullArgument);
            return nullptr;
        }
        const uint8 mask = IndexMask(sd);
        for (int32 y = 0; y < height; ++y) {
            const uint8* s = src->pixels + static_cast<std::ptrdiff_t>(y) * src->stride;
            auto* d = reinterpret_cast<RGBA*>(dst->pixels + static_cast<std::ptrdiff_t>(y) * dst->stride);
            for (int32 x = 0; x < width; ++x) d[x] = src->palette[s[x] & mask];
        }
        return dst;
    }
    ErrorRaise(kModuleNone, kErrConvertDepth);
    return nullptr;
}

// Where the extension of a file name starts: after the last ':', then the
// last '/', then the last '\'; the extension begins at the last '.'.
const char* FindExtension(const char* name) {
    const char* base = name;
    if (const char* p = std::strrchr(base, ':')) base = p + 1;
    if (const char* p = std::strrchr(base, '/')) base = p + 1;
    if (const char* p = std::strrchr(base, '\\')) base = p + 1;
    return std::strrchr(base, '.');
}

bool IsAbsolute(const char* name) { return name[0] == '/'; }

bool GrowScratch(ImageModule* m, std::size_t needed) {
    if (needed <= static_cast<std::size_t>(m->scratchSize)) return true;
    auto* grown = static_cast<char*>(KvRealloc(m->scratch, needed));
    if (grown == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(needed));
        return false;
    }
    m->scratch = grown;
    m->scratchSize = static_cast<int32>(needed);
    return true;
}

bool FileExists(const char* name) { return EngineInstanceGet()->fileFuncs.kvfexist(name); }

struct ReadSearch {
    ImageReadFn reader;
    Image* image;
};

bool ReadVisitor(char* candidate, void* data) {
    auto* s = static_cast<ReadSearch*>(data);
    if (!FileExists(candidate)) return true;
    s->image = s->reader(candidate);
    return s->image == nullptr;
}

struct ExtensionSearch {
    ImageModule* module;
    const char* found;
};

bool ExtensionVisitor(char* candidate, void* data) {
    auto* s = static_cast<ExtensionSearch*>(data);
    const std::size_t len = std::strlen(candidate);
    for (ImageFormat* f = s->module->formats; f != nullptr; f = f->nextFormat) {
        for (const char* ext : {f->extension, f->extensionUpper}) {
            std::strcpy(candidate + len, ext);
            if (FileExists(candidate)) {
                s->found = ext;
                candidate[len] = '\0';
                return false;
            }
        }
    }
    candidate[len] = '\0';
    return true;
}

uint8 TableEntry(int32 i, double exponent) {
    const double v = std::pow(static_cast<double>(static_cast<float>(i) * kByteToUnit), exponent) * 255.0 + 0.5;
    return static_cast<uint8>(v >= 255.0 ? 255 : static_cast<int32>(v));
}

}  // namespace

Image* ImageCreate(int32 width, int32 height, int32 depth) {
    ImageModule* m = ModuleOrError();
    if (m == nullptr) return nullptr;
    auto* image = static_cast<Image*>(KvFreeListAlloc(m->imageFreeList));
    if (image == nullptr) return nullptr;
    *image = Image{0, width, height, depth, 0, nullptr, nullptr};
    if (RegistryConstruct(&imageRegistry, image) == nullptr) {
        KvFreeListFree(m->imageFreeList, image);
        return nullptr;
    }
    return image;
}

bool ImageDestroy(Image* image) {
    if (image == nullptr) return true;
    RegistryDestruct(&imageRegistry, image);
    ImageFreePixels(image);
    if (ImageModule* m = Module()) KvFreeListFree(m->imageFreeList, image);
    return true;
}

Image* ImageAllocatePixels(Image* image) {
    if (image->width < 0 || image->height < 0) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    const int64_t stride = (static_cast<int64_t>(BytesPerPixel(image->depth)) * image->width + 3) & ~int64_t{3};
    const int64_t paletteBytes = static_cast<int64_t>(PaletteEntries(image->depth)) * 4;
    const int64_t total = paletteBytes + stride * image->height;
    if (stride > INT32_MAX || total > INT32_MAX) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, total);
        return nullptr;
    }
    auto* mem = static_cast<uint8*>(KvMalloc(static_cast<std::size_t>(total > 0 ? total : 1)));
    if (mem == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, total);
        return nullptr;
    }
    // Allocating again replaces what the image owned instead of leaking it.
    ImageFreePixels(image);
    image->stride = static_cast<int32>(stride);
    image->pixels = mem;
    image->palette = paletteBytes != 0 ? reinterpret_cast<RGBA*>(mem + stride * image->height) : nullptr;
    image->flags |= kImageOwnsPixels;
    return image;
}

Image* ImageFreePixels(Image* image) {
    if ((image->flags & kImageOwnsPixels) != 0) KvFree(image->pixels);
    image->flags &= ~kImageOwnsPixels;
    image->pixels = nullptr;
    image->palette = nullptr;
    return image;
}

Image* ImageCopy(Image* destination, const Image* source) { return ConvertDepth(destination, source); }

Image* ImageMakeMask(Image* image) {
    auto maskOf = [](RGBA* c) {
        uint8 v = c->red > c->green ? c->red : c->green;
        if (c->blue > v) v = c->blue;
        c->alpha = v;
    };
    const int32 entries = PaletteEntries(image->depth);
    if (entries != 0) {
        if (image->palette != nullptr) {
            for (int32 i = 0; i < entries; ++i) maskOf(&image->palette[i]);
        }
    } else if (image->depth == 32 && image->pixels != nullptr) {
        for (int32 y = 0; y < image->height; ++y) {
            auto* row = reinterpret_cast<RGBA*>(image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride);
            for (int32 x = 0; x < image->width; ++x) maskOf(&row[x]);
        }
    }
    return image;
}

Image* ImageApplyMask(Image* image, const Image* mask) {
    const int32 d = image->depth;
    const int32 md = mask->depth;
    // Checked before anything changes, so a refused mask leaves the image as
    // it was. A mask smaller than the image would be read out of bounds.
    if ((d != 4 && d != 8 && d != 32) || (md != 4 && md != 8 && md != 32) || mask->width < image->width ||
        mask->height < image->height) {
        ErrorRaise(kModuleNone, kErrConvertDepth);
        return nullptr;
    }
    if (image->pixels == nullptr || mask->pixels == nullptr || (md != 32 && mask->palette == nullptr) ||
        (d != 32 && image->palette == nullptr)) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (d != 32) {
        Image* temp = ImageCreate(image->width, image->height, d);
        if (temp == nullptr) return nullptr;
        if (ImageAllocatePixels(temp) == nullptr || ImageCopy(temp, image) == nullptr) {
            ImageDestroy(temp);
            return nullptr;
        }
        // Image keeps its pixels until the new ones exist.
        Image grown = *image;
        grown.flags &= ~kImageOwnsPixels;
        grown.depth = 32;
        if (ImageAllocatePixels(&grown) == nullptr) {
            ImageDestroy(temp);
            return nullptr;
        }
        ImageFreePixels(image);
        image->depth = 32;
        image->stride = grown.stride;
        image->pixels = grown.pixels;
        image->palette = nullptr;
        image->flags |= kImageOwnsPixels;
        ConvertDepth(image, temp);
        ImageDestroy(temp);
    }
    const uint8 indexMask = IndexMask(md);
    for (int32 y = 0; y < image->height; ++y) {
        auto* row = reinterpret_cast<RGBA*>(image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride);
        const uint8* m = mask->pixels + static_cast<std::ptrdiff_t>(y) * mask->stride;
        for (int32 x = 0; x < image->width; ++x) {
            row[x].alpha = md == 32 ? reinterpret_cast<const RGBA*>(m)[x].alpha : mask->palette[m[x] & indexMask].alpha;
        }
    }
    return image;
}

Image* ImageGammaCorrect(Image* image) {
    ImageModule* g = ModuleOrError();
    if (g == nullptr) return nullptr;
    const uint8* table = g->gammaTable;
    auto correct = [table](RGBA* c) {
        c->red = table[c->red];
        c->green = table[c->green];
        c->blue = table[c->blue];
    };
    const int32 entries = PaletteEntries(image->depth);
    if (entries != 0) {
        if (image->palette == nullptr) {
            ErrorRaise(kModuleNone, kErrNullArgument);
            return nullptr;
        }
        for (int32 i = 0; i < entries; ++i) correct(&image->palette[i]);
    } else if (image->depth == 32) {
        if (image->pixels == nullptr) {
            ErrorRaise(kModuleNone, kErrNullArgument);
            return nullptr;
        }
        for (int32 y = 0; y < image->height; ++y) {
            auto* row = reinterpret_cast<RGBA*>(image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride);
            for (int32 x = 0; x < image->width; ++x) correct(&row[x]);
        }
    } else {
        ErrorRaise(kModuleNone, kErrFileDepth);
        return nullptr;
    }
    image->flags |= kImageGammaCorrected;
    return image;
}

bool ImageSetGamma(float gamma) {
    ImageModule* m = ModuleOrError();
    if (m == nullptr) return false;
    // A gamma of 0 (or NaN) would fill the tables from infinities.
    if (!(gamma > 0.0f) || !std::isfinite(gamma)) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    m->gamma = gamma;
    m->gammaTable[0] = 0;
    m->inverseGammaTable[0] = 0;
    for (int32 i = 1; i < 256; ++i) {
        m->gammaTable[i] = TableEntry(i, 1.0 / static_cast<double>(gamma));
        m->inverseGammaTable[i] = TableEntry(i, static_cast<double>(gamma));
    }
    return true;
}

float ImageGetGamma() {
    ImageModule* m = Module();
    return m != nullptr ? m->gamma : 1.0f;
}

const uint8* ImageGetGammaTable() {
    ImageModule* m = Module();
    return m != nullptr ? m->gammaTable : nullptr;
}

const uint8* ImageGetInverseGammaTable() {
    ImageModule* m = Module();
    return m != nullptr ? m->inverseGammaTable : nullptr;
}

Image* ImageResample(Image* destination, const Image* source) {
    if (destination->depth != 32 || source->depth != 32) {
        ErrorRaise(kModuleNone, kErrConvertDepth);
        return nullptr;
    }
    if (destination->pixels == nullptr || source->pixels == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    destination->flags |= source->flags & kImageGammaCorrected;
    const int32 dw = destination->width;
    const int32 dh = destination->height;
    const int32 sw = source->width;
    const int32 sh = source->height;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return destination;
    const int64_t stepX = (static_cast<int64_t>(sw) << 16) / dw;
    const int64_t stepY = (static_cast<int64_t>(sh) << 16) / dh;
    constexpr float kFixed = 1.0f / 65536.0f;

    for (int32 dy = 0; dy < dh; ++dy) {
        const int64_t y0 = dy * stepY;
        const int64_t y1 = y0 + stepY;
        auto* out =
            reinterpret_cast<RGBA*>(destination->pixels + static_cast<std::ptrdiff_t>(dy) * destination->stride);
        for (int32 dx = 0; dx < dw; ++dx) {
            const int64_t x0 = dx * stepX;
            const int64_t x1 = x0 + stepX;
            float sum[4] = {0, 0, 0, 0};
            float area = 0.0f;
            for (int64_t sy = y0 >> 16; sy < sh && (sy << 16) < y1; ++sy) {
                const int64_t top = sy << 16 > y0 ? sy << 16 : y0;
                const int64_t bottom = (sy + 1) << 16 < y1 ? (sy + 1) << 16 : y1;
                const float wy = static_cast<float>(bottom - top) * kFixed;
                const auto* row = reinterpret_cast<const RGBA*>(source->pixels + sy * source->stride);
                for (int64_t sx = x0 >> 16; sx < sw && (sx << 16) < x1; ++sx) {
                    const int64_t left = sx << 16 > x0 ? sx << 16 : x0;
                    const int64_t right = (sx + 1) << 16 < x1 ? (sx + 1) << 16 : x1;
                    const float w = wy * static_cast<float>(right - left) * kFixed;
                    const RGBA& c = row[sx];
                    sum[0] += c.red * kByteToUnit * w;
                    sum[1] += c.green * kByteToUnit * w;
                    sum[2] += c.blue * kByteToUnit * w;
                    sum[3] += c.alpha * kByteToUnit * w;
                    area += w;
                }
            }
            uint8 v[4] = {0, 0, 0, 0};
            if (area > 0.0f) {
                for (int i = 0; i < 4; ++i) {
                    const float f = sum[i] / area * 255.0f + 0.5f;
                    v[i] = static_cast<uint8>(f >= 255.0f ? 255 : (f <= 0.0f ? 0 : static_cast<int32>(f)));
                }
            }
            out[dx] = RGBA{v[0], v[1], v[2], v[3]};
        }
    }
    return destination;
}

Image* ImageCreateResampled(const Image* image, int32 width, int32 height) {
    Image* out = ImageCreate(width, height, 32);
    if (out == nullptr) return nullptr;
    if (ImageAllocatePixels(out) == nullptr) {
        ImageDestroy(out);
        return nullptr;
    }
    Image* temp = nullptr;
    const Image* source = image;
    if (image->depth != 32) {
        temp = ImageCreate(image->width, image->height, 32);
        if (temp == nullptr || ImageAllocatePixels(temp) == nullptr || ImageCopy(temp, image) == nullptr) {
            ImageDestroy(temp);
            ImageDestroy(out);
            return nullptr;
        }
        temp->flags |= image->flags & kImageGammaCorrected;
        source = temp;
    }
    Image* result = ImageResample(out, source);
    ImageDestroy(temp);
    if (result == nullptr) ImageDestroy(out);
    return result;
}

const char* ImageSetPath(const char* path) {
    ImageModule* m = ModuleOrError();
    if (m == nullptr) return nullptr;
    if (path == nullptr) path = "";
    const std::size_t needed = std::strlen(path) + 1;
    if (needed > static_cast<std::size_t>(m->searchPathSize)) {
        auto* grown = static_cast<char*>(KvRealloc(m->searchPath, needed));
        if (grown == nullptr) {
            ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(needed));
            return nullptr;
        }
        m->searchPath = grown;
        m->searchPathSize = static_cast<int32>(needed);
    }
    std::memcpy(m->searchPath, path, needed);
    return m->searchPath;
}

const char* ImageGetPath() {
    ImageModule* m = Module();
    return m != nullptr ? m->searchPath : nullptr;
}

bool ImagePathSearch(const char* name, int32 spare, ImagePathVisitor visitor, void* data) {
    ImageModule* m = ModuleOrError();
    if (m == nullptr) return false;
    const std::size_t nameLen = std::strlen(name);
    const std::size_t extra = static_cast<std::size_t>(spare > 0 ? spare : 0) + 1;
    if (IsAbsolute(name) || m->searchPath[0] == '\0') {
        if (!GrowScratch(m, nameLen + extra)) return false;
        std::memcpy(m->scratch, name, nameLen + 1);
        visitor(m->scratch, data);
        return true;
    }
    const char* element = m->searchPath;
    for (;;) {
        const char* end = std::strchr(element, ';');
        const std::size_t elementLen = end != nullptr ? static_cast<std::size_t>(end - element) : std::strlen(element);
        if (!GrowScratch(m, elementLen + nameLen + extra)) return false;
        std::memcpy(m->scratch, element, elementLen);
        std::memcpy(m->scratch + elementLen, name, nameLen + 1);
        if (!visitor(m->scratch, data)) return true;
        if (end == nullptr) return true;
        element = end + 1;
    }
}

bool ImageRegisterImageFormat(const char* extension, ImageReadFn readImage, ImageWriteFn writeImage) {
    ImageModule* m = ModuleOrError();
    if (m == nullptr) return false;
    if (extension == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    char lower[kImageExtensionLength] = ".";
    std::strncat(lower, extension, kExtensionChars);
    StrLwr(lower);
    for (ImageFormat* f = m->formats; f != nullptr; f = f->nextFormat) {
        if (std::strcmp(f->extension, lower) == 0) {
            if (readImage != nullptr) f->readImage = readImage;
            if (writeImage != nullptr) f->writeImage = writeImage;
            return true;
        }
    }
    auto* f = static_cast<ImageFormat*>(KvFreeListAlloc(m->formatFreeList));
    if (f == nullptr) return false;
    std::memcpy(f->extension, lower, sizeof(lower));
    std::memcpy(f->extensionUpper, lower, sizeof(lower));
    StrUpr(f->extensionUpper);
    f->readImage = readImage;
    f->writeImage = writeImage;
    f->nextFormat = m->formats;
    m->formats = f;
    return true;
}

Image* ImageRead(const char* fileName) {
    ImageModule* m = ModuleOrError();
    if (m == nullptr || fileName == nullptr) return nullptr;
    const char* ext = FindExtension(fileName);
    if (ext == nullptr) return nullptr;
    ImageFormat* format = nullptr;
    for (ImageFormat* f = m->formats; f != nullptr; f = f->nextFormat) {
        if (std::strcmp(f->extension, ext) == 0 || std::strcmp(f->extensionUpper, ext) == 0) {
            format = f;
            break;
        }
    }
    if (format == nullptr || format->readImage == nullptr) return nullptr;
    ReadSearch search{format->readImage, nullptr};
    ImagePathSearch(fileName, kReadSpare, ReadVisitor, &search);
    return search.image;
}

const ImageFormat* ImageGetFormats() {
    const ImageModule* m = ModuleOrError();
    return m != nullptr ? m->formats : nullptr;
}

const char* ImageFindFileExtension(const char* name) {
    ImageModule* m = ModuleOrError();
    if (m == nullptr || name == nullptr) return nullptr;
    ExtensionSearch search{m, nullptr};
    ImagePathSearch(name, kFindExtensionSpare, ExtensionVisitor, &search);
    return search.found;
}

Image* ImageReadMaskedImage(const char* name, const char* maskName) {
    Image* image = ImageRead(name);
    if (image == nullptr) return nullptr;
    if (maskName == nullptr || maskName[0] == '\0') return image;
    Image* mask = ImageRead(maskName);
    if (mask == nullptr) {
        ImageDestroy(image);
        return nullptr;
    }
    Image* result = ImageApplyMask(image, ImageMakeMask(mask));
    ImageDestroy(mask);
    if (result == nullptr) ImageDestroy(image);
    return result;
}

Image* ImageSetFromRaster(Image* image, Raster* raster) {
    if (!StandardCall(StdImageGetRaster, image, raster, 0)) return nullptr;
    if ((raster->rasterPrivateFlags & kRasterGammaCorrected) != 0) image->flags |= kImageGammaCorrected;
    return image;
}

Image* ImageFindRasterFormat(Image* image, int32 rasterType, int32* width, int32* height, int32* depth,
                             int32* createFlags) {
    // A whole zeroed record, device block included, for the device to fill.
    const PluginRegistry* reg = RasterGetRegistry();
    auto* scratch = static_cast<Raster*>(KvCalloc(1, static_cast<std::size_t>(reg->sizeOfStruct)));
    if (scratch == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    scratch->parentRaster = scratch;
    Image* result = nullptr;
    if (StandardCall(StdImageFindRasterFormat, scratch, image, rasterType)) {
        *width = scratch->width;
        *height = scratch->height;
        *depth = scratch->depth;
        *createFlags = (static_cast<int32>(scratch->rasterFormat) << 8) | scratch->rasterType;
        result = image;
    }
    KvFree(scratch);
    return result;
}

int32 ImageRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy) {
    return RegistryRegister(&imageRegistry, size, pluginID, construct, destruct, copy);
}

int32 ImageGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&imageRegistry, pluginID); }

void* ImageModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    ImageModule* m = slot.At(instance, offset);
    *m = ImageModule{};
    m->imageFreeList = FreeListCreate(imageRegistry.sizeOfStruct, kImagesPerBlock, alignof(Image));
    m->formatFreeList = FreeListCreate(sizeof(ImageFormat), kFormatsPerBlock, alignof(ImageFormat));
    m->searchPath = static_cast<char*>(KvMalloc(kInitialBufferSize));
    m->scratch = static_cast<char*>(KvMalloc(kInitialBufferSize));
    if (m->imageFreeList == nullptr || m->formatFreeList == nullptr || m->searchPath == nullptr ||
        m->scratch == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        ImageModuleClose(instance, offset, 0);
        return nullptr;
    }
    m->searchPath[0] = '\0';
    m->searchPathSize = kInitialBufferSize;
    m->scratch[0] = '\0';
    m->scratchSize = kInitialBufferSize;
    slot.Opened(offset);
    // The device's gamma, from the record the engine took at open; a device
    // that gives none gets the identity tables.
    const float gamma = static_cast<EngineInstance*>(instance)->dOpenDevice.gammaCorrection;
    ImageSetGamma(gamma > 0.0f && std::isfinite(gamma) ? gamma : 1.0f);
    return instance;
}

void* ImageModuleClose(void* instance, int32 offset, int32 /*size*/) {
    ImageModule* m = slot.At(instance, offset);
    slot.Closed();
    KvFree(m->scratch);
    KvFree(m->searchPath);
    if (m->formatFreeList != nullptr) {
        while (m->formats != nullptr) {
            ImageFormat* next = m->formats->nextFormat;
            KvFreeListFree(m->formatFreeList, m->formats);
            m->formats = next;
        }
        FreeListDestroy(m->formatFreeList);
    }
    if (m->imageFreeList != nullptr) FreeListDestroy(m->imageFreeList);
    *m = ImageModule{};
    return instance;
}

CoreModule ImageModuleEntry() {
    return {"image", static_cast<int32>(sizeof(ImageModule)), kIdImageModule, ImageModuleOpen, ImageModuleClose};
}

}  // namespace kv
