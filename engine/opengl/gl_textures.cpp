// Rasters on the OpenGL device: textures (normal rasters, textures, camera
// textures), the window's frame buffer (camera rasters) and the depth buffer
// (z-buffer rasters); locking a level to a memory copy and writing it back.
#include <cstring>
#include <initializer_list>

#include "engine/image/image.h"
#include "engine/image/texture.h"
#include "gl_internal.h"

namespace kv {

namespace {

constexpr uint8 kLockBits = kRasterLockedRead | kRasterLockedWrite;

int32 Type(const Raster* r) { return r->rasterType & kRasterTypeMask; }
bool IsTextureType(int32 type) {
    return type == RasterTypeNormal || type == RasterTypeTexture || type == RasterTypeCameraTexture;
}
Raster* Top(Raster* r) { return r->parentRaster != nullptr ? r->parentRaster : r; }

int32 NextPowerOfTwo(int32 v) {
    int32 p = 1;
    while (p < v) p <<= 1;
    return p;
}

void* Alloc(std::size_t bytes) {
    const MemoryFunctions* m = GlDevice()->memoryFuncs;
    return m != nullptr ? m->kvmalloc(bytes) : KvMalloc(bytes);
}
void Free(void* p) {
    if (p == nullptr) return;
    const MemoryFunctions* m = GlDevice()->memoryFuncs;
    if (m != nullptr) {
        m->kvfree(p);
    } else {
        KvFree(p);
    }
}
void* AllocZeroed(std::size_t bytes) {
    void* p = Alloc(bytes);
    if (p == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return nullptr;
    }
    std::memset(p, 0, bytes);
    return p;
}

bool HasContext() { return GlDevice()->context != nullptr; }

// The size of a level in the texture itself: a normal raster's texture is
// padded to powers of two.
void TextureLevelSize(const Raster* r, int32 width, int32 height, int32 level, int32* w, int32* h) {
    const bool normal = Type(r) == RasterTypeNormal;
    *w = (normal ? NextPowerOfTwo(width) : width) >> level;
    *h = (normal ? NextPowerOfTwo(height) : height) >> level;
    if (*w < 1) *w = 1;
    if (*h < 1) *h = 1;
}

// Bytes of a level's memory copy. A normal raster's copy is uploaded as the
// whole padded level of tw x th texels (rows the level's width apart, which
// is never more than tw), so it holds that many; lock and unlock both take
// tw and th from TextureLevelSize.
std::size_t CopyBytes(const Raster* r, int32 stride, int32 levelHeight, int32 tw, int32 th, int32 bpp) {
    if (Type(r) == RasterTypeNormal) return static_cast<std::size_t>(tw) * th * bpp;
    return static_cast<std::size_t>(stride) * levelHeight;
}

GLenum DataFormat(const Raster* r) { return GlRasterPixelFormat(r) == RasterFormat888 ? GL_RGB : GL_RGBA; }
int32 Components(const Raster* r) { return GlRasterPixelFormat(r) == RasterFormat888 ? 3 : 4; }

// Paletted pixels become colours for OpenGL through the palette's copy.
uint8* ExpandPaletted(Raster* r, const uint8* indices, int32 count) {
    const int32 c = Components(r);
    auto* out = static_cast<uint8*>(AllocZeroed(static_cast<std::size_t>(count) * c));
    if (out == nullptr) return nullptr;
    const uint8* palette = GlRasterExt(r)->palette;
    const int32 entries = (r->rasterFormat & (RasterFormatPal4 >> 8)) != 0 ? 16 : 256;
    if (palette == nullptr) return out;
    for (int32 i = 0; i < count; ++i) {
        const int32 index = indices[i] < entries ? indices[i] : 0;
        std::memcpy(out + i * c, palette + index * c, static_cast<std::size_t>(c));
    }
    return out;
}

bool LockTexture(uint8** out, Raster* r, int32 mode, int32 level) {
    if (Top(r) != r) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    const bool paletted = GlRasterIsPaletted(r);
    const int32 format = GlRasterPixelFormat(r);
    if (!paletted && format != RasterFormat8888 && format != RasterFormat888) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    const int32 bpp = paletted ? 1 : (format == RasterFormat8888 ? 4 : 3);
    int32 lw = r->width >> level, lh = r->height >> level;
    if (lw == 0 && lh == 0) {
        ErrorRaise(kModuleNone, kErrMipLevel);
        return false;
    }
    if (lw < 1) lw = 1;
    if (lh < 1) lh = 1;
    const int32 stride = bpp * lw;
    int32 tw = 0, th = 0;
    TextureLevelSize(r, r->width, r->height, level, &tw, &th);
    const std::size_t bytes = CopyBytes(r, stride, lh, tw, th, bpp);
    auto* copy = static_cast<uint8*>(AllocZeroed(bytes));
    if (copy == nullptr) return false;

    GlRasterData* ext = GlRasterExt(r);
    if ((mode & RasterLockNoFetch) == 0 && !paletted && ext->textureName != 0 && HasContext()) {
        GlMakeCurrent();
        GlStateBindTexture(ext->textureName);
        gl.PushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
        gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
        gl.PixelStorei(GL_PACK_SKIP_PIXELS, 0);
        gl.PixelStorei(GL_PACK_SKIP_ROWS, 0);
        GLint defined = 0;
        gl.GetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &defined);
        if (defined == tw) {
            if (tw == lw && th == lh) {
                gl.GetTexImage(GL_TEXTURE_2D, level, DataFormat(r), GL_UNSIGNED_BYTE, copy);
            } else {
                // The padded texture comes back whole; the copy keeps the raster's rows.
                auto* whole = static_cast<uint8*>(Alloc(static_cast<std::size_t>(tw) * th * bpp));
                if (whole != nullptr) {
                    gl.GetTexImage(GL_TEXTURE_2D, level, DataFormat(r), GL_UNSIGNED_BYTE, whole);
                    for (int32 y = 0; y < lh; ++y) {
                        std::memcpy(copy + y * stride, whole + y * tw * bpp, static_cast<std::size_t>(stride));
                    }
                    Free(whole);
                }
            }
        }
        gl.PopClientAttrib();
        GlRestoreTextureBinding();
    }
    r->originalPixels = nullptr;
    r->originalWidth = r->width;
    r->originalHeight = r->height;
    r->originalStride = r->stride;
    r->width = lw;
    r->height = lh;
    r->stride = stride;
    r->lockedPixels = copy;
    ext->lockedLevel = static_cast<uint8>(level);
    if ((mode & RasterLockReadBit) != 0) r->rasterFlags |= kRasterLockedRead;
    if ((mode & RasterLockWriteBit) != 0) r->rasterFlags |= kRasterLockedWrite;
    *out = copy;
    return true;
}

// Hands level 0 as it was written to the mipmap builder, so that nothing
// has to be read back (a paletted raster's indices could not be: OpenGL
// holds only their colours). An 888 copy is no image depth: the builder
// reads that level back itself.
bool BuildLevels(Raster* r, uint8* pixels, int32 stride) {
    const bool paletted = GlRasterIsPaletted(r);
    if (!paletted && GlRasterPixelFormat(r) == RasterFormat888) return TextureRasterGenerateMipmaps(r, nullptr);
    const bool pal4 = (r->rasterFormat & (RasterFormatPal4 >> 8)) != 0;
    Image* image = ImageCreate(r->width, r->height, paletted ? (pal4 ? 4 : 8) : 32);
    if (image == nullptr) return false;
    ImageSetPixels(image, pixels);
    ImageSetStride(image, stride);
    RGBA palette[256] = {};
    if (paletted) {
        const uint8* own = GlRasterExt(r)->palette;
        const int32 c = Components(r);
        for (int32 i = 0; i < (pal4 ? 16 : 256) && own != nullptr; ++i) {
            palette[i] = RGBA{own[i * c], own[i * c + 1], own[i * c + 2], c == 4 ? own[i * c + 3] : uint8{255}};
        }
        ImageSetPalette(image, palette);
    }
    if ((r->rasterPrivateFlags & kRasterGammaCorrected) != 0) image->flags |= kImageGammaCorrected;
    const bool ok = TextureRasterGenerateMipmaps(r, image);
    ImageDestroy(image);
    return ok;
}

bool UnlockTexture(Raster* r) {
    if ((r->rasterFlags & kLockBits) == 0 || r->lockedPixels == nullptr) return false;
    GlRasterData* ext = GlRasterExt(r);
    const int32 level = ext->lockedLevel;
    const bool written = (r->rasterFlags & kRasterLockedWrite) != 0;
    if (written && ext->textureName != 0 && HasContext()) {
        GlMakeCurrent();
        uint8* data = r->lockedPixels;
        uint8* expanded = nullptr;
        int32 tw = 0, th = 0;
        TextureLevelSize(r, r->originalWidth, r->originalHeight, level, &tw, &th);
        if (GlRasterIsPaletted(r)) {
            // No paletted textures here: the colours are uploaded instead.
            const int32 count = Type(r) == RasterTypeNormal ? tw * th : r->width * r->height;
            expanded = ExpandPaletted(r, data, count);
            data = expanded;
        }
        if (data != nullptr) {
            GlStateBindTexture(ext->textureName);
            gl.PushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
            gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
            gl.PixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
            gl.PixelStorei(GL_UNPACK_SKIP_ROWS, 0);
            if (Type(r) == RasterTypeNormal) {
                gl.PixelStorei(GL_UNPACK_ROW_LENGTH, r->width);
                gl.TexImage2D(GL_TEXTURE_2D, level, Components(r), tw, th, 0, DataFormat(r), GL_UNSIGNED_BYTE, data);
            } else {
                gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
                gl.TexImage2D(GL_TEXTURE_2D, level, Components(r), r->width, r->height, 0, DataFormat(r),
                              GL_UNSIGNED_BYTE, data);
            }
            gl.PopClientAttrib();
            GlRestoreTextureBinding();
        }
        Free(expanded);
    }
    uint8* pixels = r->lockedPixels;
    const int32 stride = r->stride;
    r->width = r->originalWidth;
    r->height = r->originalHeight;
    r->stride = r->originalStride;
    r->lockedPixels = nullptr;
    r->rasterFlags &= static_cast<uint8>(~kLockBits);
    // The other levels follow level 0 when the device builds them; the
    // builder writes them with the automatic bit cleared.
    bool ok = true;
    if (written && level == 0 && (r->rasterFormat & (RasterFormatAutoMipmap >> 8)) != 0) {
        ok = BuildLevels(r, pixels, stride);
    }
    Free(pixels);
    return ok;
}

// All of a camera raster's locks share one copy of the frame buffer, held by
// the top-level raster.
bool LockCamera(uint8** out, Raster* r, int32 mode, int32 level) {
    if (level != 0) {
        ErrorRaise(kModuleNone, kErrMipLevel);
        return false;
    }
    Raster* top = Top(r);
    GlRasterData* shared = GlRasterExt(top);
    if (shared->sharedPixels == nullptr) {
        if (!HasContext()) return false;
        const int32 stride = top->width * 4;
        auto* copy = static_cast<uint8*>(AllocZeroed(static_cast<std::size_t>(stride) * top->height));
        if (copy == nullptr) return false;
        GlMakeCurrent();
        gl.PushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
        gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
        gl.PixelStorei(GL_PACK_SKIP_PIXELS, 0);
        gl.PixelStorei(GL_PACK_SKIP_ROWS, 0);
        const int32 windowHeight = GlClientHeight();
        // The top row first: OpenGL counts rows from the bottom.
        for (int32 row = 0; row < top->height; ++row) {
            gl.ReadPixels(top->offsetX, windowHeight - top->offsetY - 1 - row, top->width, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                          copy + row * stride);
        }
        gl.PopClientAttrib();
        shared->sharedPixels = copy;
    }
    ++shared->lockCount;
    const int32 stride = top->width * 4;
    r->stride = stride;
    r->lockedPixels = shared->sharedPixels + (r->offsetY - top->offsetY) * stride + (r->offsetX - top->offsetX) * 4;
    if ((mode & RasterLockReadBit) != 0) r->rasterFlags |= kRasterLockedRead;
    if ((mode & RasterLockWriteBit) != 0) r->rasterFlags |= kRasterLockedWrite;
    *out = r->lockedPixels;
    return true;
}

bool UnlockCamera(Raster* r) {
    Raster* top = Top(r);
    GlRasterData* shared = GlRasterExt(top);
    if (shared->sharedPixels == nullptr || (r->rasterFlags & kLockBits) == 0) return false;
    if (HasContext()) {
        GlMakeCurrent();
        int32 windowWidth = 0, windowHeight = 0;
        SDL_GL_GetDrawableSize(GlDevice()->window, &windowWidth, &windowHeight);
        // What is cached goes through the render-state module and comes back
        // from it; the rest of what changes comes back from GL's own stack.
        const GlStateHeld saved = GlStateSave();
        gl.PushAttrib(GL_VIEWPORT_BIT | GL_TRANSFORM_BIT | GL_CURRENT_BIT);
        gl.PushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        gl.Viewport(0, 0, windowWidth, windowHeight);
        gl.MatrixMode(GL_PROJECTION);
        gl.PushMatrix();
        gl.LoadIdentity();
        gl.Ortho(0.0, windowWidth, 0.0, windowHeight, -1.0, 1.0);
        gl.MatrixMode(GL_MODELVIEW);
        gl.PushMatrix();
        gl.LoadIdentity();
        // Pixels drawn back are the picture itself: nothing may test or blend them.
        for (uint32 cap :
             {GlCapDepthTest, GlCapBlend, GlCapAlphaTest, GlCapTexture2D, GlCapFog, GlCapStencil, GlCapScissor}) {
            GlStateEnable(cap, false);
        }
        GlStateDepthMask(false);
        gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
        gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        gl.PixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        gl.PixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        for (int32 row = 0; row < r->height; ++row) {
            gl.RasterPos2i(r->offsetX, windowHeight - r->offsetY - 1 - row);
            GLboolean valid = GL_FALSE;
            gl.GetBooleanv(GL_CURRENT_RASTER_POSITION_VALID, &valid);
            if (valid) gl.DrawPixels(r->width, 1, GL_RGBA, GL_UNSIGNED_BYTE, r->lockedPixels + row * r->stride);
        }
        gl.MatrixMode(GL_PROJECTION);
        gl.PopMatrix();
        gl.MatrixMode(GL_MODELVIEW);
        gl.PopMatrix();
        gl.PopClientAttrib();
        gl.PopAttrib();
        GlStateRestore(saved);
    }
    if (--shared->lockCount <= 0) {
        Free(shared->sharedPixels);
        shared->sharedPixels = nullptr;
        shared->lockCount = 0;
    }
    r->lockedPixels = nullptr;
    r->rasterFlags &= static_cast<uint8>(~kLockBits);
    return true;
}

}  // namespace

bool GlRasterIsPaletted(const Raster* raster) {
    return (raster->rasterFormat & ((RasterFormatPal8 | RasterFormatPal4) >> 8)) != 0;
}

int32 GlRasterPixelFormat(const Raster* raster) {
    return (static_cast<int32>(raster->rasterFormat) << 8) & kRasterFormatPixelMask;
}

int32 GlRasterPaletteBytes(const Raster* raster) {
    const int32 entries = (raster->rasterFormat & (RasterFormatPal4 >> 8)) != 0 ? 16 : 256;
    return entries * (GlRasterPixelFormat(raster) == RasterFormat888 ? 3 : 4);
}

void GlRestoreTextureBinding() {
    Raster* bound = GlRenderStateTexture();
    GlStateBindTexture(bound != nullptr ? GlRasterExt(Top(bound))->textureName : 0);
}

bool GlRasterChooseFormat(Raster* r, int32 flags) {
    const int32 type = flags & kRasterTypeMask;
    int32 format = flags & kRasterFormatMask;
    const int32 pixel = format & kRasterFormatPixelMask;
    int32 depth = 0;
    switch (type) {
        case RasterTypeNormal:
        case RasterTypeCamera:
        case RasterTypeCameraTexture:
            if (pixel == 0) {
                format |= RasterFormat8888;
            } else if (pixel != RasterFormat8888) {
                ErrorRaise(kModuleNone, kErrRasterFormat);
                return false;
            }
            depth = 32;
            break;
        case RasterTypeZBuffer: {
            const int32 bits = GlDepthBits();
            const int32 fromBits = bits == 16   ? RasterFormatDepth16
                                   : bits == 24 ? RasterFormatDepth24
                                   : bits == 32 ? RasterFormatDepth32
                                                : 0;
            // Only the depth buffer there is can be described, and only a
            // 16-bit one can be asked for by name.
            if (fromBits == 0 || (pixel != 0 && (pixel != RasterFormatDepth16 || bits != 16))) {
                ErrorRaise(kModuleNone, kErrRasterFormat);
                return false;
            }
            format = fromBits;
            depth = bits;
            break;
        }
        case RasterTypeTexture:
            if (pixel == 0) {
                format |= RasterFormat8888;
                depth = 32;
            } else if (pixel == RasterFormat8888) {
                depth = 32;
            } else if (pixel == RasterFormat888) {
                depth = 24;
            } else {
                ErrorRaise(kModuleNone, kErrRasterFormat);
                return false;
            }
            break;
        default:
            ErrorRaise(kModuleNone, kErrRasterFormat);
            return false;
    }
    r->rasterType = static_cast<uint8>(type);
    r->rasterFormat = static_cast<uint8>(format >> 8);
    r->depth = depth;
    return true;
}

bool GlRasterCreate(void*, void* rasterArg, int32 flags) {
    auto* r = static_cast<Raster*>(rasterArg);
    if (r == nullptr) return false;
    if (!GlRasterChooseFormat(r, flags)) return false;
    GlRasterData* ext = GlRasterExt(r);
    *ext = GlRasterData{};
    const int32 type = Type(r);
    // Bits 3 to 7 of the create flags are kept as the raster's flags; bits 1
    // and 2 there are the device's own lock marks.
    r->rasterFlags = static_cast<uint8>(flags & kRasterCreateFlagsMask);
    if (r->width == 0 || r->height == 0 || (r->rasterFlags & kRasterDontAllocate) != 0) {
        r->stride = r->width * 4;
        r->rasterFlags |= kRasterDontAllocate;
        if (r->depth == 0) r->depth = 32;
        return true;
    }
    if (r->width < 0 || r->height < 0) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    const bool paletted = GlRasterIsPaletted(r);
    if (IsTextureType(type)) {
        if (!HasContext()) return false;
        GlMakeCurrent();
        gl.GenTextures(1, &ext->textureName);
        if (type == RasterTypeCameraTexture) {
            GlStateBindTexture(ext->textureName);
            gl.TexImage2D(GL_TEXTURE_2D, 0, 4, r->width, r->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            GlRestoreTextureBinding();
        }
        const int32 bpp = paletted ? 1 : (GlRasterPixelFormat(r) == RasterFormat888 ? 3 : 4);
        r->stride = r->width * bpp;
    } else if (type == RasterTypeCamera) {
        r->stride = r->width * 4;
        r->depth = 32;
    }
    return true;
}

bool GlRasterDestroy(void*, void* rasterArg, int32) {
    auto* r = static_cast<Raster*>(rasterArg);
    if (r == nullptr) return false;
    GlRasterData* ext = GlRasterExt(r);
    if (HasContext()) {
        GlRenderStateRasterDestroyed(r);
        if (GlDevice()->rasterContext == r) GlDevice()->rasterContext = nullptr;
        if (ext->textureName != 0) {
            GlMakeCurrent();
            if (gl.IsTexture(ext->textureName)) gl.DeleteTextures(1, &ext->textureName);
            GlStateTextureDeleted(ext->textureName);
        }
    }
    ext->textureName = 0;
    if (Top(r) == r) {
        if (Type(r) != RasterTypeCamera && r->lockedPixels != nullptr) Free(r->lockedPixels);
        Free(ext->sharedPixels);
        Free(ext->palette);
        r->lockedPixels = nullptr;
        ext->sharedPixels = nullptr;
        ext->palette = nullptr;
    }
    return true;
}

bool GlRasterLock(void* outArg, void* rasterArg, int32 modeAndLevel) {
    auto** out = static_cast<uint8**>(outArg);
    auto* r = static_cast<Raster*>(rasterArg);
    if (out == nullptr || r == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    const int32 mode = modeAndLevel & 0xFF;
    const int32 level = (modeAndLevel >> 8) & 0xFF;
    // A raster without storage has nothing to lock, unless it shows part of
    // a parent that has.
    if ((r->rasterFlags & kLockBits) != 0 || ((r->rasterFlags & kRasterDontAllocate) != 0 && Top(r) == r)) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    const int32 type = Type(r);
    if (IsTextureType(type)) return LockTexture(out, r, mode, level);
    if (type == RasterTypeCamera) return LockCamera(out, r, mode, level);
    ErrorRaise(kModuleNone, kErrRasterFormat);
    return false;
}

bool GlRasterUnlock(void*, void* rasterArg, int32) {
    auto* r = static_cast<Raster*>(rasterArg);
    if (r == nullptr) return false;
    const int32 type = Type(r);
    if (IsTextureType(type)) return UnlockTexture(r);
    if (type == RasterTypeCamera) return UnlockCamera(r);
    return false;
}

bool GlRasterLockPalette(void* outArg, void* rasterArg, int32 mode) {
    auto** out = static_cast<uint8**>(outArg);
    auto* r = static_cast<Raster*>(rasterArg);
    if (out == nullptr || r == nullptr) return false;
    if (!GlRasterIsPaletted(r)) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    Raster* top = Top(r);
    GlRasterData* ext = GlRasterExt(top);
    if (ext->palette == nullptr) {
        ext->palette = static_cast<uint8*>(AllocZeroed(static_cast<std::size_t>(GlRasterPaletteBytes(top))));
        if (ext->palette == nullptr) return false;
    }
    if ((mode & RasterLockReadBit) != 0) r->rasterPrivateFlags |= 0x08;
    if ((mode & RasterLockWriteBit) != 0) r->rasterPrivateFlags |= 0x10;
    r->lockedPalette = ext->palette;
    *out = ext->palette;
    return true;
}

bool GlRasterUnlockPalette(void*, void* rasterArg, int32) {
    auto* r = static_cast<Raster*>(rasterArg);
    if (r == nullptr || !GlRasterIsPaletted(r)) return false;
    // The palette's copy stays: the colours reach OpenGL when the pixels do.
    r->lockedPalette = nullptr;
    r->rasterPrivateFlags &= static_cast<uint8>(~kRasterPaletteLockMask);
    return true;
}

bool GlRasterGetMipLevels(void* countArg, void* rasterArg, int32) {
    auto* count = static_cast<int32*>(countArg);
    const auto* r = static_cast<const Raster*>(rasterArg);
    if (count == nullptr || r == nullptr) return false;
    const int32 w = (r->rasterFlags & kLockBits) != 0 ? r->originalWidth : r->width;
    const int32 h = (r->rasterFlags & kLockBits) != 0 ? r->originalHeight : r->height;
    uint32 larger = static_cast<uint32>(w > h ? w : h);
    int32 bits = 0;
    while (larger != 0) {
        ++bits;
        larger >>= 1;
    }
    *count = bits;
    return true;
}

bool GlRasterSubRaster(void* rasterArg, void* parentArg, int32) {
    auto* r = static_cast<Raster*>(rasterArg);
    auto* parent = static_cast<Raster*>(parentArg);
    if (r == nullptr || parent == nullptr) return false;
    r->stride = parent->stride;
    r->depth = parent->depth;
    r->rasterType = parent->rasterType;
    r->rasterFormat = parent->rasterFormat;
    return true;
}

bool GlSetRasterContext(void*, void* rasterArg, int32) {
    GlDevice()->rasterContext = static_cast<Raster*>(rasterArg);
    return true;
}

namespace {

bool ClearRect(const Rect& given, int32 pixelValue) {
    Raster* r = GlDevice()->rasterContext;
    if (r == nullptr || (r->rasterFlags & kRasterDontAllocate) != 0) return false;
    // The rectangle is clipped to the raster.
    int32 x0 = given.x < 0 ? 0 : given.x, y0 = given.y < 0 ? 0 : given.y;
    int32 x1 = given.x + given.w, y1 = given.y + given.h;
    if (x1 > r->width) x1 = r->width;
    if (y1 > r->height) y1 = r->height;
    if (x1 <= x0 || y1 <= y0) return true;
    const auto value = static_cast<uint32>(pixelValue);
    const uint8 rgba[4] = {static_cast<uint8>(value >> 24), static_cast<uint8>(value >> 16),
                           static_cast<uint8>(value >> 8), static_cast<uint8>(value)};
    const int32 type = Type(r);
    if (type == RasterTypeCamera || type == RasterTypeZBuffer) {
        if (!HasContext()) return false;
        GlMakeCurrent();
        const GlClearArea area{true, r->offsetX + x0, GlClientHeight() - (r->offsetY + y1), x1 - x0, y1 - y0};
        if (type == RasterTypeCamera) {
            GlStateClear(GL_COLOR_BUFFER_BIT, rgba, area);
        } else {
            GlStateClear(GL_DEPTH_BUFFER_BIT, nullptr, area);
        }
        return true;
    }
    if (GlRasterIsPaletted(r) || !IsTextureType(type)) {
        ErrorRaise(kModuleNone, kErrRasterFormat);
        return false;
    }
    uint8* pixels = nullptr;
    if (!GlRasterLock(&pixels, r, RasterLockWriteBit)) return false;
    const int32 bpp = GlRasterPixelFormat(r) == RasterFormat888 ? 3 : 4;
    for (int32 y = y0; y < y1; ++y) {
        uint8* row = pixels + y * r->stride;
        for (int32 x = x0; x < x1; ++x) std::memcpy(row + x * bpp, rgba, static_cast<std::size_t>(bpp));
    }
    return GlRasterUnlock(nullptr, r, 0);
}

}  // namespace

bool GlRasterClearRect(void*, void* rectArg, int32 pixelValue) {
    const auto* rect = static_cast<const Rect*>(rectArg);
    if (rect == nullptr) return false;
    return ClearRect(*rect, pixelValue);
}

bool GlRasterClear(void*, void*, int32 pixelValue) {
    const Raster* r = GlDevice()->rasterContext;
    if (r == nullptr) return false;
    return ClearRect(Rect{0, 0, r->width, r->height}, pixelValue);
}

}  // namespace kv
