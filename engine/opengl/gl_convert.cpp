// Pixels between images and rasters, and the raster format an image needs.
#include <cstring>

#include "engine/image/image.h"
#include "engine/image/quantiser.h"
#include "gl_internal.h"

namespace kv {

namespace {

int32 PowerOfTwoBelow(int32 v) {
    int32 p = 1;
    while (p * 2 <= v) p *= 2;
    return p;
}

// A 4-bit image keeps one index per byte; only the low 4 bits name an entry
// of its 16, whatever the rest of the byte holds.
uint8 IndexMask(int32 depth) { return static_cast<uint8>(depth == 4 ? 0x0F : 0xFF); }

// The image as indices into a palette of 1 << depth entries of its colours.
Image* Quantised(const Image* image, int32 depth) {
    Image* out = ImageCreate(image->width, image->height, depth);
    if (out == nullptr || ImageAllocatePixels(out) == nullptr) {
        ImageDestroy(out);
        return nullptr;
    }
    Quantiser q;
    if (!QuantiserCreate(&q)) {
        ImageDestroy(out);
        return nullptr;
    }
    const bool ok = QuantiserAddImage(&q, image, 1.0f) && QuantiserMakePalette(out->palette, 1 << depth, &q) > 0 &&
                    QuantiserMapImage(out->pixels, out->stride, depth, 0, &q, image);
    QuantiserDestroy(&q);
    if (!ok) {
        ImageDestroy(out);
        return nullptr;
    }
    return out;
}

bool ImageHasAlpha(const Image* image) {
    if (image->depth == 32) {
        if (image->pixels == nullptr) return false;
        for (int32 y = 0; y < image->height; ++y) {
            const uint8* row = image->pixels + y * image->stride;
            for (int32 x = 0; x < image->width; ++x) {
                if (row[x * 4 + 3] != 255) return true;
            }
        }
        return false;
    }
    if ((image->depth == 4 || image->depth == 8) && image->palette != nullptr && image->pixels != nullptr) {
        // Only the entries the pixels use count.
        bool used[256] = {};
        const uint8 mask = IndexMask(image->depth);
        for (int32 y = 0; y < image->height; ++y) {
            const uint8* row = image->pixels + y * image->stride;
            for (int32 x = 0; x < image->width; ++x) used[row[x] & mask] = true;
        }
        const int32 entries = image->depth == 4 ? 16 : 256;
        for (int32 i = 0; i < entries; ++i) {
            if (used[i] && image->palette[i].alpha != 255) return true;
        }
    }
    return false;
}

}  // namespace

bool GlImageFindRasterFormat(void* rasterArg, void* imageArg, int32 flags) {
    auto* r = static_cast<Raster*>(rasterArg);
    const auto* image = static_cast<const Image*>(imageArg);
    if (r == nullptr || image == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    r->width = image->width;
    r->height = image->height;
    r->depth = 0;
    if (!GlRasterChooseFormat(r, flags)) return false;
    const int32 type = flags & kRasterTypeMask;
    if (type == RasterTypeNormal || type == RasterTypeTexture) {
        const int32 maxSize = GlMaxTextureSize();
        if (maxSize > 0) {
            if (r->width > maxSize) r->width = maxSize;
            if (r->height > maxSize) r->height = maxSize;
        }
    }
    if (type == RasterTypeTexture) {
        r->width = PowerOfTwoBelow(r->width);
        r->height = PowerOfTwoBelow(r->height);
        const int32 mips = flags & (RasterFormatMipmap | RasterFormatAutoMipmap);
        const bool alpha = ImageHasAlpha(image);
        r->rasterFormat = static_cast<uint8>(((alpha ? RasterFormat8888 : RasterFormat888) | mips) >> 8);
        r->depth = alpha ? 32 : 24;
    }
    return true;
}

bool GlRasterSetImage(void* rasterArg, void* imageArg, int32) {
    auto* r = static_cast<Raster*>(rasterArg);
    const auto* given = static_cast<const Image*>(imageArg);
    if (r == nullptr || given == nullptr || given->pixels == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    const bool paletted = GlRasterIsPaletted(r);
    const int32 format = GlRasterPixelFormat(r);
    const bool palettedImage = given->depth == 4 || given->depth == 8;
    if ((!paletted && format != RasterFormat8888 && format != RasterFormat888) ||
        (given->depth != 32 && !palettedImage) || (palettedImage && given->palette == nullptr)) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    // A picture whose depth is not the raster's palette size gets a palette
    // of that size first.
    const int32 paletteDepth = (r->rasterFormat & (RasterFormatPal4 >> 8)) != 0 ? 4 : 8;
    Image* quantised = nullptr;
    if (paletted && given->depth != paletteDepth) {
        quantised = Quantised(given, paletteDepth);
        if (quantised == nullptr) return false;
    }
    const Image* image = quantised != nullptr ? quantised : given;
    const uint8 mask = IndexMask(image->depth);

    // Level 0 is locked for writing without fetching, unless the caller has
    // a level locked for writing already; only what is locked here is
    // unlocked here.
    const bool lockedHere = (r->rasterFlags & kRasterLockedWrite) == 0;
    uint8* pixels = r->lockedPixels;
    if (lockedHere && !GlRasterLock(&pixels, r, RasterLockWrite)) {
        ImageDestroy(quantised);
        return false;
    }
    const int32 w = image->width < r->width ? image->width : r->width;
    const int32 h = image->height < r->height ? image->height : r->height;
    bool ok = true;
    if (paletted) {
        uint8* palette = r->lockedPalette;
        const bool paletteHere = palette == nullptr;
        if (paletteHere) ok = GlRasterLockPalette(&palette, r, RasterLockWrite);
        if (ok) {
            const int32 c = format == RasterFormat888 ? 3 : 4;
            const int32 entries = 1 << image->depth;
            std::memset(palette, 0, static_cast<std::size_t>(GlRasterPaletteBytes(r)));
            for (int32 i = 0; i < entries; ++i)
                std::memcpy(palette + i * c, &image->palette[i], static_cast<std::size_t>(c));
            for (int32 y = 0; y < h; ++y) {
                const uint8* src = image->pixels + y * image->stride;
                uint8* dst = pixels + y * r->stride;
                for (int32 x = 0; x < w; ++x) dst[x] = src[x] & mask;
            }
            if (paletteHere) GlRasterUnlockPalette(nullptr, r, 0);
        }
    } else {
        const int32 bpp = format == RasterFormat888 ? 3 : 4;
        for (int32 y = 0; y < h; ++y) {
            const uint8* src = image->pixels + y * image->stride;
            uint8* dst = pixels + y * r->stride;
            for (int32 x = 0; x < w; ++x) {
                const uint8* colour = image->depth != 32 ? &image->palette[src[x] & mask].red : src + x * 4;
                std::memcpy(dst + x * bpp, colour, static_cast<std::size_t>(bpp));
            }
        }
    }
    ImageDestroy(quantised);
    // Said before the unlock, so that levels built from these pixels are
    // not corrected a second time.
    if ((given->flags & kImageGammaCorrected) != 0) r->rasterPrivateFlags |= kRasterGammaCorrected;
    if (lockedHere) ok = GlRasterUnlock(nullptr, r, 0) && ok;
    return ok;
}

bool GlImageGetRaster(void* imageArg, void* rasterArg, int32) {
    auto* image = static_cast<Image*>(imageArg);
    auto* r = static_cast<Raster*>(rasterArg);
    if (image == nullptr || r == nullptr || image->pixels == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    const bool paletted = GlRasterIsPaletted(r);
    const int32 format = GlRasterPixelFormat(r);
    const bool pal4 = (r->rasterFormat & (RasterFormatPal4 >> 8)) != 0;
    const bool depthFits =
        paletted ? (pal4 ? image->depth >= 4 : image->depth >= 8) && image->depth != 32 && image->palette != nullptr
                 : image->depth == 32 && (format == RasterFormat8888 || format == RasterFormat888);
    const bool lockedHere = (r->rasterFlags & kRasterLockedRead) == 0;
    if (!depthFits || image->width < r->width || image->height < r->height) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    uint8* pixels = r->lockedPixels;
    if (lockedHere && !GlRasterLock(&pixels, r, RasterLockRead)) return false;
    if (paletted) {
        for (int32 y = 0; y < r->height; ++y)
            std::memcpy(image->pixels + y * image->stride, pixels + y * r->stride, static_cast<std::size_t>(r->width));
        const uint8* palette = GlRasterExt(r->parentRaster != nullptr ? r->parentRaster : r)->palette;
        const int32 c = format == RasterFormat888 ? 3 : 4;
        const int32 entries = pal4 ? 16 : 256;
        for (int32 i = 0; i < entries && palette != nullptr; ++i) {
            RGBA& e = image->palette[i];
            e = RGBA{palette[i * c], palette[i * c + 1], palette[i * c + 2], c == 4 ? palette[i * c + 3] : uint8{255}};
        }
    } else if (format == RasterFormat8888) {
        for (int32 y = 0; y < r->height; ++y) {
            std::memcpy(image->pixels + y * image->stride, pixels + y * r->stride,
                        static_cast<std::size_t>(r->width) * 4);
        }
    } else {
        for (int32 y = 0; y < r->height; ++y) {
            const uint8* src = pixels + y * r->stride;
            uint8* dst = image->pixels + y * image->stride;
            for (int32 x = 0; x < r->width; ++x) {
                dst[x * 4] = src[x * 3];
                dst[x * 4 + 1] = src[x * 3 + 1];
                dst[x * 4 + 2] = src[x * 3 + 2];
                dst[x * 4 + 3] = 255;
            }
        }
    }
    if (lockedHere) return GlRasterUnlock(nullptr, r, 0);
    return true;
}

}  // namespace kv
