#include "png_read.h"

#include <png.h>

#include <cstddef>
#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/stream/stream.h"
#include "image.h"
#include "image_readers.h"

namespace kv {

namespace {

// Deflate turns at most 1032 bytes into one, so a file cannot hold more
// image data than this many times its size (plus a little for the zlib
// framing); a header that claims more is refused before anything is
// allocated.
constexpr int64_t kDeflateMaxRatio = 1032;
constexpr int64_t kDeflateSlack = 1 << 16;

// libpng sizes some blocks from length fields before it has read what they
// describe (a chunk of any claimed length, in a file of a few bytes), so its
// requests are capped: until the header is read, at what a buffered chunk
// may need; then at its row buffers too. What it holds at once is capped at
// twice that: only the chunks the reader uses are kept (the rest, text
// among them, are skipped unread), and those are few and small.
constexpr png_alloc_size_t kChunkBytesMax = 8000000;
constexpr png_alloc_size_t kRowBufferBytesPerPixel = 16;
constexpr png_alloc_size_t kHeldPerAllowed = 2;
// Ancillary chunks libpng may keep, whatever they are.
constexpr png_uint_32 kChunkCacheMax = 16;

bool checksumsIgnored = false;

struct ReadContext {
    Stream* stream;
    int64_t fileBytes;  // -1 when the stream cannot tell
    png_structp png;
    png_infop info;
    png_bytepp rows;
    Image* image;
    bool errorRaised;                  // the reason is already in the error record
    png_alloc_size_t allocationLimit;  // for each of libpng's own requests
    png_alloc_size_t held;             // what libpng holds now
};

void PngError(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// libpng's blocks carry their size in front, so that what it holds can be
// counted; the header keeps the block's alignment.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

png_voidp PngMalloc(png_structp png, png_alloc_size_t size) {
    auto* ctx = static_cast<ReadContext*>(png_get_mem_ptr(png));
    if (ctx != nullptr && (size > ctx->allocationLimit || ctx->held + size > kHeldPerAllowed * ctx->allocationLimit)) {
        return nullptr;
    }
    auto* block = static_cast<uint8*>(KvMalloc(size + kBlockHeader));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &size, sizeof(size));
    if (ctx != nullptr) ctx->held += size;
    return block + kBlockHeader;
}
void PngFree(png_structp png, png_voidp p) {
    if (p == nullptr) return;
    uint8* block = static_cast<uint8*>(p) - kBlockHeader;
    png_alloc_size_t size = 0;
    std::memcpy(&size, block, sizeof(size));
    if (auto* ctx = static_cast<ReadContext*>(png_get_mem_ptr(png))) ctx->held -= size;
    KvFree(block);
}

void PngReadData(png_structp png, png_bytep data, png_size_t length) {
    auto* ctx = static_cast<ReadContext*>(png_get_io_ptr(png));
    if (ctx == nullptr || ctx->stream == nullptr || length > UINT32_MAX ||
        StreamRead(ctx->stream, data, static_cast<uint32>(length)) != length) {
        png_error(png, "read past the end of the file");
    }
}

int32 Channels(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;
    }
}

bool RaiseFrom(ReadContext* ctx, int32 module, int32 code) {
    ErrorRaise(module, code);
    ctx->errorRaised = true;
    return false;
}

// The image depth for the file's colour type, with the transformations that
// give one byte (depths 4 and 8) or one RGBA pixel (depth 32) per pixel.
int32 RequestTransforms(png_structp png, int colorType, int bitDepth) {
    png_set_strip_16(png);
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY:
            if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
            return 8;
        case PNG_COLOR_TYPE_RGB:
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
            return 32;
        case PNG_COLOR_TYPE_PALETTE:
            if (bitDepth < 8) {
                png_set_packing(png);
                return 4;
            }
            return 8;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            png_set_gray_to_rgb(png);
            return 32;
        default:
            return 32;
    }
}

// Grey ramp, then the file's palette and transparency over it.
void FillPalette(ReadContext* ctx, int colorType) {
    const int32 entries = 1 << ctx->image->depth;
    RGBA* pal = ctx->image->palette;
    for (int32 j = 0; j < entries; ++j) {
        const auto v = static_cast<uint8>(j);
        pal[j] = RGBA{v, v, v, 255};
    }
    if (colorType != PNG_COLOR_TYPE_PALETTE) return;
    png_colorp plte = nullptr;
    int count = 0;
    if (png_get_PLTE(ctx->png, ctx->info, &plte, &count) != 0 && plte != nullptr) {
        for (int32 j = 0; j < count && j < entries; ++j) pal[j] = RGBA{plte[j].red, plte[j].green, plte[j].blue, 255};
    }
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    if (png_get_tRNS(ctx->png, ctx->info, &alphas, &alphaCount, nullptr) != 0 && alphas != nullptr) {
        for (int32 j = 0; j < alphaCount && j < entries; ++j) pal[j].alpha = alphas[j];
    }
}

// Everything that has to be released after a jump out of libpng lives in
// ctx; nothing here owns anything, so the jump skips no destructor.
bool Decode(ReadContext* ctx) {
    if (setjmp(png_jmpbuf(ctx->png))) return false;
    png_structp png = ctx->png;
    png_infop info = ctx->info;
    png_set_read_fn(png, ctx, PngReadData);
    // Only the header, the palette, the transparency and the pixels are of
    // use; everything else (text, profiles, suggested palettes, chunks libpng
    // does not know) is skipped without being decompressed or kept.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_cache_max(png, kChunkCacheMax);
    png_set_chunk_malloc_max(png, kChunkBytesMax);
    if (checksumsIgnored) {
        png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
        png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    }
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);

    const int64_t rawRow = (static_cast<int64_t>(width) * Channels(colorType) * bitDepth + 7) / 8;
    if (ctx->fileBytes >= 0 &&
        rawRow * static_cast<int64_t>(height) > kDeflateMaxRatio * ctx->fileBytes + kDeflateSlack) {
        return RaiseFrom(ctx, kIdImageModule, kErrImageFileTooLarge);
    }
    const int32 depth = RequestTransforms(png, colorType, bitDepth);
    // Sized by what is made, not by what is stored: a 1-bit pixel takes a
    // byte, and every row a pointer.
    if (!ImageReadSizeAllowed(width, height, depth, static_cast<int64_t>(height) * sizeof(png_bytep), ctx->fileBytes)) {
        ctx->errorRaised = true;
        return false;
    }

    ctx->allocationLimit = kChunkBytesMax + kRowBufferBytesPerPixel * static_cast<png_alloc_size_t>(width);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    ctx->image = ImageCreate(static_cast<int32>(width), static_cast<int32>(height), depth);
    if (ctx->image == nullptr || ImageAllocatePixels(ctx->image) == nullptr) {
        ctx->errorRaised = true;
        return false;
    }
    // The transformations must have produced exactly the rows the image has.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * (depth == 32 ? 4 : 1);
    if (png_get_rowbytes(png, info) != rowBytes) png_error(png, "unexpected row layout");

    ctx->rows = static_cast<png_bytepp>(KvMalloc(static_cast<std::size_t>(height) * sizeof(png_bytep)));
    if (ctx->rows == nullptr) return RaiseFrom(ctx, kModuleNone, kErrNoMemory);
    for (png_uint_32 y = 0; y < height; ++y) {
        ctx->rows[y] = ctx->image->pixels + static_cast<std::ptrdiff_t>(y) * ctx->image->stride;
    }
    if (depth != 32) FillPalette(ctx, colorType);

    png_read_image(png, ctx->rows);
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

void PngReadSetChecksumsIgnored(bool ignored) { checksumsIgnored = ignored; }

Image* PngImageReadStream(Stream* stream) {
    if (stream == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    ReadContext ctx{stream, StreamBytesLeft(stream), nullptr, nullptr, nullptr, nullptr, false, kChunkBytesMax, 0};
    ctx.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &ctx, PngError, PngWarning, &ctx, PngMalloc, PngFree);
    if (ctx.png == nullptr) {
        ErrorRaise(kIdImageModule, kErrPngRead);
        return nullptr;
    }
    ctx.info = png_create_info_struct(ctx.png);
    const bool ok = ctx.info != nullptr && Decode(&ctx);
    png_destroy_read_struct(&ctx.png, ctx.info != nullptr ? &ctx.info : nullptr, nullptr);
    KvFree(ctx.rows);
    if (!ok) {
        ImageDestroy(ctx.image);
        if (!ctx.errorRaised) ErrorRaise(kIdImageModule, kErrPngRead);
        return nullptr;
    }
    return ctx.image;
}

Image* PngImageRead(const char* fileName) { return ImageReadFileWith(fileName, PngImageReadStream); }

}  // namespace kv
