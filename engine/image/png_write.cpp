#include "png_write.h"

#include <png.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/string_file_functions.h"
#include "engine/stream/safe_write.h"
#include "image.h"
#include "raster.h"

namespace kv {

namespace {

struct WriteContext {
    const Image* image;
    bool keepAlpha;
    void* file;
    int ioError;  // errno of the first failed write or flush; -1 when it gave none
    png_structp png;
    png_infop info;
    png_bytep row;  // conversion buffer for palettised images and dropped alpha
    const PngText* texts;
    int32 textCount;
};

bool Ascii(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        if (static_cast<unsigned char>(*c) > 0x7F) return false;
    }
    return true;
}

// The format's rule for keywords: 1 to 79 printable Latin-1 characters, no
// space at either end and no two together.
bool KeywordFits(const char* keyword) {
    const std::size_t n = std::strlen(keyword);
    if (n < 1 || n > 79 || keyword[0] == ' ' || keyword[n - 1] == ' ') return false;
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(keyword[i]);
        if (c < 0x20 || (c > 0x7E && c < 0xA1) || (c == ' ' && keyword[i + 1] == ' ')) return false;
    }
    return true;
}

// The engine's file functions, or the standard ones when none runs (a
// panorama written from a script starts no engine).
const FileFunctions& Files() {
    const EngineInstance* e = EngineInstanceGet();
    return e != nullptr ? e->fileFuncs : *FileFunctionsDefault();
}

ImageWriteStopFn stopFn = nullptr;

void PngError(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}
png_voidp PngMalloc(png_structp, png_alloc_size_t size) { return KvMalloc(size); }
void PngFree(png_structp, png_voidp p) { KvFree(p); }

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* ctx = static_cast<WriteContext*>(png_get_io_ptr(png));
    errno = 0;
    if (Files().kvfwrite(data, 1, length, ctx->file) != length) {
        if (ctx->ioError == 0) ctx->ioError = errno != 0 ? errno : -1;
        png_error(png, "write failed");
    }
}

void PngFlush(png_structp png) {
    auto* ctx = static_cast<WriteContext*>(png_get_io_ptr(png));
    errno = 0;
    if (Files().kvfflush(ctx->file) != 0) {
        if (ctx->ioError == 0) ctx->ioError = errno != 0 ? errno : -1;
        png_error(png, "flush failed");
    }
}

png_const_bytep RowOf(const WriteContext* ctx, int32 y) {
    const Image* image = ctx->image;
    const uint8* src = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
    const int32 channels = ctx->keepAlpha ? 4 : 3;
    if (image->depth == 32 && ctx->keepAlpha) return src;
    png_bytep out = ctx->row;
    const uint8 mask = static_cast<uint8>(image->depth == 4 ? 0x0F : 0xFF);
    for (int32 x = 0; x < image->width; ++x) {
        const RGBA c = image->depth == 32 ? reinterpret_cast<const RGBA*>(src)[x] : image->palette[src[x] & mask];
        png_bytep p = out + x * channels;
        p[0] = c.red;
        p[1] = c.green;
        p[2] = c.blue;
        if (channels == 4) p[3] = c.alpha;
    }
    return out;
}

// Everything libpng may jump out of lives in ctx, so no local needs to
// survive the jump.
bool WriteImage(WriteContext* ctx) {
    if (setjmp(png_jmpbuf(ctx->png))) return false;
    png_set_write_fn(ctx->png, ctx, PngWrite, PngFlush);
    png_set_IHDR(ctx->png, ctx->info, static_cast<png_uint_32>(ctx->image->width),
                 static_cast<png_uint_32>(ctx->image->height), 8,
                 ctx->keepAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    for (int32 i = 0; i < ctx->textCount; ++i) {
        png_text text{};
        const bool ascii = Ascii(ctx->texts[i].text);
        text.compression = ascii ? PNG_TEXT_COMPRESSION_NONE : PNG_ITXT_COMPRESSION_NONE;
        text.key = const_cast<png_charp>(ctx->texts[i].keyword);
        text.text = const_cast<png_charp>(ctx->texts[i].text);
        text.text_length = ascii ? std::strlen(ctx->texts[i].text) : 0;
        text.itxt_length = ascii ? 0 : std::strlen(ctx->texts[i].text);
        png_set_text(ctx->png, ctx->info, &text, 1);
    }
    png_write_info(ctx->png, ctx->info);
    for (int32 y = 0; y < ctx->image->height; ++y) {
        if (stopFn != nullptr && stopFn()) {
            ctx->ioError = EINTR;
            return false;
        }
        png_write_row(ctx->png, RowOf(ctx, y));
    }
    png_write_end(ctx->png, ctx->info);
    return true;
}

bool Fail(int32 module, int32 code) {
    ErrorRaise(module, code);
    return false;
}

}  // namespace

bool ImageWritePNG(const Image* image, const char* fileName, bool keepAlpha, FileWriteStatus* status) {
    return ImageWritePNGWithText(image, fileName, keepAlpha, nullptr, 0, status);
}

bool ImageWritePNGWithText(const Image* image, const char* fileName, bool keepAlpha, const PngText* texts, int32 count,
                           FileWriteStatus* status) {
    if (status != nullptr) *status = FileWriteStatus{FileWriteOk, 0, 0};
    if (image == nullptr || fileName == nullptr || image->pixels == nullptr ||
        (image->depth != 32 && image->palette == nullptr) || (count > 0 && texts == nullptr)) {
        return Fail(0, kErrNullArgument);
    }
    for (int32 i = 0; i < count; ++i) {
        if (texts[i].keyword == nullptr || texts[i].text == nullptr) return Fail(0, kErrNullArgument);
        if (!KeywordFits(texts[i].keyword)) return Fail(0, kErrOutOfRange);
    }
    if (image->depth != 4 && image->depth != 8 && image->depth != 32) return Fail(0, kErrConvertDepth);
    if (image->width <= 0 || image->height <= 0 || image->width > 0x7FFFFFF || image->height > 0x7FFFFFF) {
        return Fail(0, kErrConvertDepth);
    }

    auto* row = static_cast<png_bytep>(KvMalloc(static_cast<std::size_t>(image->width) * 4));
    if (row == nullptr) return Fail(0, kErrNoMemory);
    FileWrite out;
    if (!FileWriteBegin(&out, fileName)) {
        KvFree(row);
        if (status != nullptr) *status = out.status;
        return Fail(kIdImageModule, kErrPngWrite);
    }

    WriteContext ctx{image, keepAlpha, nullptr, 0, nullptr, nullptr, row, texts, count};
    bool ok = false;
    errno = 0;
    ctx.file = Files().kvfopen(FileWritePath(&out), "wb");
    if (ctx.file == nullptr) {
        FileWriteFail(&out, FileWriteCreate, errno);
    } else {
        ctx.png =
            png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &ctx, PngError, PngWarning, nullptr, PngMalloc, PngFree);
        if (ctx.png != nullptr) ctx.info = png_create_info_struct(ctx.png);
        if (ctx.info != nullptr) ok = WriteImage(&ctx);
        png_destroy_write_struct(ctx.png != nullptr ? &ctx.png : nullptr, ctx.info != nullptr ? &ctx.info : nullptr);
        // Data still buffered is written by the close; its failure counts.
        errno = 0;
        if (Files().kvfclose(ctx.file) != 0) {
            if (ok || ctx.ioError == 0) ctx.ioError = errno != 0 ? errno : -1;
            ok = false;
        }
        if (!ok) FileWriteFail(&out, FileWriteData, ctx.ioError > 0 ? ctx.ioError : 0);
    }
    KvFree(row);
    if (ok) {
        ok = FileWriteCommit(&out, -1);
    } else {
        FileWriteAbort(&out);
    }
    if (status != nullptr) *status = out.status;
    if (!ok) return Fail(kIdImageModule, kErrPngWrite);
    return true;
}

void ImageSetWriteStop(ImageWriteStopFn stop) { stopFn = stop; }

bool RasterWritePNG(Raster* raster, const char* fileName, FileWriteStatus* status) {
    if (status != nullptr) *status = FileWriteStatus{FileWriteOk, 0, 0};
    if (raster == nullptr) return Fail(0, kErrNullArgument);
    Image* image = ImageCreate(RasterGetWidth(raster), RasterGetHeight(raster), 32);
    if (image == nullptr) return false;
    bool ok = ImageAllocatePixels(image) != nullptr && ImageSetFromRaster(image, raster) != nullptr &&
              ImageWritePNG(image, fileName, false, status);
    ImageDestroy(image);
    return ok;
}

bool PngFileNameFits(const char* fileName) {
    if (fileName == nullptr) return false;
    const std::size_t n = std::strlen(fileName);
    if (n > 4 && strcasecmp(fileName + n - 4, ".png") == 0) return true;
    struct stat info;
    return stat(fileName, &info) == 0 && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode));
}

}  // namespace kv
