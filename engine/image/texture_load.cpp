// The texture loader: image files fitted to what the device accepts, the one
// palette that the levels of a palettised raster share, the mipmap builder
// and the names of mip-level files.
#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "image.h"
#include "quantiser.h"
#include "raster.h"
#include "texture.h"

namespace kv {

Raster* TextureDefaultGenerateMipmaps(Raster* raster, Image* image);

namespace {

// Room for a name cut to 255 characters and the extension found for it.
constexpr std::size_t kNameWithExtension = kTextureNameBufferSize + kImageExtensionLength;

void CopyCut(char* buffer, const char* name) {
    if (name == nullptr) name = "";
    const std::size_t length = std::strlen(name);
    const std::size_t keep = kTextureNameBufferSize - 1;
    if (length > keep) {
        ErrorRaise(kModuleNone, kErrNameTooLong);
        std::memcpy(buffer, name, keep);
        buffer[keep] = '\0';
        return;
    }
    std::memcpy(buffer, name, length + 1);
}

void AppendFoundExtension(char* name) {
    if (name[0] == '\0') return;
    if (const char* extension = ImageFindFileExtension(name)) std::strcat(name, extension);
}

Image* NewImage(int32 width, int32 height, int32 depth) {
    Image* image = ImageCreate(width, height, depth);
    if (image != nullptr && ImageAllocatePixels(image) == nullptr) {
        ImageDestroy(image);
        return nullptr;
    }
    return image;
}

// A picture of the given depth (4 or 8) drawn from a 32-bit one with a
// palette of its own colours.
Image* Palettise(const Image* source, int32 depth) {
    Image* out = NewImage(source->width, source->height, depth);
    if (out == nullptr) return nullptr;
    Quantiser q;
    if (!QuantiserCreate(&q)) {
        ImageDestroy(out);
        return nullptr;
    }
    const bool ok = QuantiserAddImage(&q, source, 1.0f) && QuantiserMakePalette(out->palette, 1 << depth, &q) > 0 &&
                    QuantiserMapImage(out->pixels, out->stride, depth, 0, &q, source);
    QuantiserDestroy(&q);
    if (!ok) {
        ImageDestroy(out);
        return nullptr;
    }
    out->flags |= source->flags & kImageGammaCorrected;
    return out;
}

bool IsPaletteDepth(int32 depth) { return depth == 4 || depth == 8; }

// Level 0 of the raster into a 32-bit image; a palettised raster's indices
// come out through its palette.
bool FetchLevel0(Raster* raster, Image* out) {
    const int32 format = RasterGetFormat(raster);
    if ((format & (RasterFormatPal4 | RasterFormatPal8)) == 0) return ImageSetFromRaster(out, raster) != nullptr;
    Image* indexed = NewImage(out->width, out->height, (format & RasterFormatPal4) != 0 ? 4 : 8);
    const bool ok =
        indexed != nullptr && ImageSetFromRaster(indexed, raster) != nullptr && ImageCopy(out, indexed) != nullptr;
    if (ok) out->flags |= indexed->flags & kImageGammaCorrected;
    ImageDestroy(indexed);
    return ok;
}

}  // namespace

Image* TextureImageRead(const char* name, const char* maskName, int32 rasterType, int32* width, int32* height,
                        int32* depth, int32* createFlags) {
    if (name == nullptr || width == nullptr || height == nullptr || depth == nullptr || createFlags == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    char fileName[kNameWithExtension];
    char maskFileName[kNameWithExtension];
    CopyCut(fileName, name);
    CopyCut(maskFileName, maskName);
    AppendFoundExtension(fileName);
    AppendFoundExtension(maskFileName);

    Image* image = ImageReadMaskedImage(fileName, maskFileName);
    if (image == nullptr) return nullptr;
    if ((*width == 0 || *height == 0) &&
        ImageFindRasterFormat(image, rasterType, width, height, depth, createFlags) == nullptr) {
        ImageDestroy(image);
        ErrorRaise(kModuleNone, kErrConvertDepth);
        return nullptr;
    }
    if (image->width == *width && image->height == *height) return image;

    Image* resampled = ImageCreateResampled(image, *width, *height);
    const int32 sourceDepth = image->depth;
    ImageDestroy(image);
    if (resampled == nullptr || !IsPaletteDepth(sourceDepth)) return resampled;
    // Resampling blends colours: a palettised picture gets a palette of them.
    Image* palettised = Palettise(resampled, sourceDepth);
    ImageDestroy(resampled);
    return palettised;
}

Texture* TextureDefaultRead(const char* name, const char* maskName) {
    char levelName[kTextureNameBufferSize];
    char levelMask[kTextureNameBufferSize];
    CopyCut(levelName, name);
    CopyCut(levelMask, maskName);
    // Mipmapped loading (one file per level) is never turned on: level 0
    // names the files as given.
    if (!TextureGetMipmapNameCallBack()(levelName, levelMask, 0, RasterTypeTexture)) return nullptr;

    int32 width = 0, height = 0, depth = 0, createFlags = 0;
    Image* image = TextureImageRead(levelName, levelMask, RasterTypeTexture, &width, &height, &depth, &createFlags);
    if (image == nullptr) return nullptr;
    Raster* raster = RasterCreate(width, height, depth, createFlags);
    if (raster == nullptr) {
        ImageDestroy(image);
        return nullptr;
    }
    RGBA palette[256];
    bool ok = true;
    if ((createFlags & (RasterFormatPal4 | RasterFormatPal8)) != 0) {
        ok = ImageListMakePalette(palette, nullptr, &image, 1, (createFlags & RasterFormatPal4) != 0 ? 4 : 8);
    }
    ok = ok && ImageGammaCorrect(image) != nullptr && RasterSetFromImage(raster, image) != nullptr;
    ImageDestroy(image);
    if (!ok) {
        RasterDestroy(raster);
        return nullptr;
    }
    Texture* texture = TextureCreate(raster);
    if (texture == nullptr) {
        RasterDestroy(raster);
        return nullptr;
    }
    if (TextureSetName(texture, name) == nullptr || TextureSetMaskName(texture, maskName) == nullptr) {
        TextureDestroy(texture);
        return nullptr;
    }
    return texture;
}

bool ImageListMakePalette(RGBA* palette, const Image* keepImage, Image** images, int32 count, int32 depth) {
    if (palette == nullptr || images == nullptr || count < 1) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    if (!IsPaletteDepth(depth)) {
        ErrorRaise(kModuleNone, kErrConvertDepth);
        return false;
    }
    const int32 entries = 1 << depth;
    const std::size_t paletteBytes = sizeof(RGBA) * static_cast<std::size_t>(entries);
    // Indices of a deeper image would pass the end of a shallower palette, so
    // only images of the palette's own depth can keep theirs.
    bool shared = images[0]->palette != nullptr;
    for (int32 i = 0; i < count && shared; ++i) {
        shared = images[i]->depth == depth && images[i]->palette != nullptr &&
                 std::memcmp(images[i]->palette, images[0]->palette, paletteBytes) == 0;
    }
    if (shared) {
        std::memmove(palette, images[0]->palette, paletteBytes);
        for (int32 i = 0; i < count; ++i) images[i]->palette = palette;
        return true;
    }

    Quantiser q;
    if (!QuantiserCreate(&q)) return false;
    // Each level has a quarter of the pixels of the one before: weighed four
    // times as much, every level counts about the same.
    bool ok = true;
    float weight = 1.0f;
    for (int32 i = 0; i < count && ok; ++i, weight *= 4.0f) ok = QuantiserAddImage(&q, images[i], weight);
    ok = ok && QuantiserMakePalette(palette, entries, &q) > 0;
    for (int32 i = 0; i < count && ok; ++i) {
        Image* old = images[i];
        Image* mapped = NewImage(old->width, old->height, depth);
        if (mapped == nullptr || !QuantiserMapImage(mapped->pixels, mapped->stride, depth, 0, &q, old)) {
            ImageDestroy(mapped);
            ok = false;
            break;
        }
        mapped->palette = palette;
        mapped->flags |= old->flags & kImageGammaCorrected;
        if (old != keepImage) ImageDestroy(old);
        images[i] = mapped;
    }
    QuantiserDestroy(&q);
    return ok;
}

Raster* TextureDefaultGenerateMipmaps(Raster* raster, Image* image) {
    const int32 levels = RasterGetNumLevels(raster);
    if (levels < 1) return nullptr;
    auto** images = static_cast<Image**>(KvCalloc(static_cast<std::size_t>(levels), sizeof(Image*)));
    if (images == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    // Level 0 as a 32-bit image. The caller's own image is used as it is only
    // when nothing needs changing in it.
    bool ok = true;
    // The image is what level 0 holds; it is written back only when made
    // different here.
    bool rewriteLevel0 = false;
    if (image != nullptr && image->depth == 32 && (image->flags & kImageGammaCorrected) != 0) {
        images[0] = image;
    } else {
        const int32 w = image != nullptr ? image->width : raster->width;
        const int32 h = image != nullptr ? image->height : raster->height;
        images[0] = NewImage(w, h, 32);
        ok = images[0] != nullptr;
        if (ok && image != nullptr) {
            ok = ImageCopy(images[0], image) != nullptr;
            images[0]->flags |= image->flags & kImageGammaCorrected;
        } else if (ok) {
            ok = FetchLevel0(raster, images[0]);
        }
    }

    // Writing the levels must not start another build.
    const uint8 savedFormat = raster->rasterFormat;
    raster->rasterFormat = static_cast<uint8>(savedFormat & ~(RasterFormatAutoMipmap >> 8));
    for (int32 i = 1; i < levels && ok; ++i) {
        // The lock says the level's size; nothing needs reading.
        ok = RasterLock(raster, i, RasterLockRead | RasterLockNoFetch) != nullptr;
        if (!ok) break;
        const int32 w = raster->width, h = raster->height;
        RasterUnlock(raster);
        images[i] = ImageCreateResampled(images[i - 1], w, h);
        ok = images[i] != nullptr;
    }

    RGBA palette[256];
    if (ok && (savedFormat & ((RasterFormatPal4 | RasterFormatPal8) >> 8)) != 0) {
        const int32 depth = (savedFormat & (RasterFormatPal4 >> 8)) != 0 ? 4 : 8;
        ok = ImageListMakePalette(palette, image, images, levels, depth);
        rewriteLevel0 = true;
        // The levels share one palette: correcting it once corrects them all.
        if (ok && (images[0]->flags & kImageGammaCorrected) == 0) ok = ImageGammaCorrect(images[0]) != nullptr;
        for (int32 i = 1; i < levels && ok; ++i) images[i]->flags |= images[0]->flags & kImageGammaCorrected;
    } else {
        // A level made from a corrected one is corrected already.
        for (int32 i = 0; i < levels && ok; ++i) {
            if ((images[i]->flags & kImageGammaCorrected) != 0) continue;
            ok = ImageGammaCorrect(images[i]) != nullptr;
            if (i == 0) rewriteLevel0 = true;
        }
    }

    for (int32 i = rewriteLevel0 ? 0 : 1; i < levels && ok; ++i) {
        ok = RasterLock(raster, i, RasterLockWrite) != nullptr;
        if (!ok) break;
        ok = RasterSetFromImage(raster, images[i]) != nullptr;
        ok = RasterUnlock(raster) != nullptr && ok;
    }
    raster->rasterFormat = savedFormat;
    for (int32 i = 0; i < levels; ++i) {
        if (images[i] != image) ImageDestroy(images[i]);
    }
    KvFree(images);
    return ok ? raster : nullptr;
}

bool TextureMipmapName(char* name, char* maskName, uint8 level, int32 /*rasterFlags*/) {
    if (level < 1 || level > 15) return true;
    const bool mask = maskName != nullptr && maskName[0] != '\0';
    const std::size_t room = kTextureNameBufferSize - 1;
    if (std::strlen(name) + 2 > room || (mask && std::strlen(maskName) + 2 > room)) {
        ErrorRaise(kModuleNone, kErrNameTooLong);
        return false;
    }
    const char suffix[3] = {'m', "0123456789abcdef"[level], '\0'};
    std::strcat(name, suffix);
    if (mask) std::strcat(maskName, suffix);
    return true;
}

}  // namespace kv
