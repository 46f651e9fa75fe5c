#include "bmp_read.h"

#include <bit>
#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/stream/stream.h"
#include "image.h"
#include "image_readers.h"

namespace kv {

namespace {

constexpr int32 kFileHeaderBytes = 14;
constexpr uint32 kCoreHeaderBytes = 12;
constexpr uint32 kShortestInfoHeader = 16;  // width, height, planes, bit count
constexpr uint32 kMasksInHeader = 52;       // headers from here on hold the colour masks
constexpr uint32 kAlphaMaskInHeader = 56;   // ... and from here on the alpha mask
constexpr uint32 kLargestKnownHeader = 124;
constexpr uint32 kLargestHeader = 4096;  // beyond this the size field is not a header size

constexpr int32 kRowsReadBytes = 64 * 1024;

enum Compression : uint32 {
    kCompressNone = 0,
    kCompressRle8 = 1,
    kCompressRle4 = 2,
    kCompressBitFields = 3,
    kCompressAlphaBitFields = 6,
};

uint16 Le16(const uint8* p) { return static_cast<uint16>(p[0] | p[1] << 8); }
uint32 Le32(const uint8* p) {
    return static_cast<uint32>(p[0]) | static_cast<uint32>(p[1]) << 8 | static_cast<uint32>(p[2]) << 16 |
           static_cast<uint32>(p[3]) << 24;
}

// A word as read from little-endian bytes.
inline uint32 ByteOrderLittle(uint32 v) {
    if constexpr (std::endian::native == std::endian::little) {
        return v;
    } else {
        return __builtin_bswap32(v);
    }
}

// One channel of a bit-field pixel: where it sits, and its values scaled so
// that the channel's largest value becomes 255.
struct Channel {
    uint32 mask;
    int32 shift;
    int32 bits;
    uint8 scale[256];  // used when bits <= 8
};

bool ChannelMake(Channel* c, uint32 mask) {
    c->mask = mask;
    c->shift = 0;
    c->bits = 0;
    c->scale[0] = 0;
    if (mask == 0) return true;
    c->shift = std::countr_zero(mask);
    const uint32 top = mask >> c->shift;
    // Scattered bits have no meaningful value.
    if ((top & (top + 1)) != 0) return false;
    c->bits = std::popcount(top);
    if (c->bits <= 8) {
        for (uint32 v = 0; v <= top; ++v) c->scale[v] = static_cast<uint8>((v * 255 + top / 2) / top);
    }
    return true;
}

inline uint8 ChannelGet(const Channel& c, uint32 d) {
    const uint32 v = (d & c.mask) >> c.shift;
    return c.bits <= 8 ? c.scale[v] : static_cast<uint8>(v >> (c.bits - 8));
}

struct BmpReader {
    Stream* stream;
    int64_t consumed;  // bytes read from the start of the file header
    int32 width;
    int32 height;
    bool topDown;
    int32 bitCount;
    uint32 compression;
    int32 rowBytes;
    int32 runRowBytes;  // a run-length row's buffer: room for runs past the width
    bool bitFields;     // 16 or 32 bits through masks (16 without: 5-5-5)
    bool hasAlpha;
    uint8 alphaSeen;  // OR of every alpha read through the alpha mask
    Channel red, green, blue, alpha;
    RGBA palette[256];
    uint8* row;  // rowsPerRead stored rows
    int32 rowsPerRead;
    Image* image;
};

// 1 and 4 bits a pixel become depth 4, 8 bits depth 8, the rest depth 32.
int32 ImageDepthFor(int32 bitCount) { return bitCount <= 4 ? 4 : (bitCount == 8 ? 8 : 32); }

bool Fail(int32 module, int32 code) {
    ErrorRaise(module, code);
    return false;
}

bool Malformed() { return Fail(kIdImageModule, kErrImageFileMalformed); }

bool Read(BmpReader* r, void* buffer, uint32 length) {
    const uint32 got = StreamRead(r->stream, buffer, length);
    r->consumed += got;
    return got == length;
}

uint8* ImageRow(BmpReader* r, int32 fileRow) {
    const int32 y = r->topDown ? fileRow : r->height - 1 - fileRow;
    return r->image->pixels + static_cast<std::ptrdiff_t>(y) * r->image->stride;
}

void ConvertRow(BmpReader* r, const uint8* src, uint8* dst) {
    const int32 w = r->width;
    switch (r->bitCount) {
        case 1:
            for (int32 x = 0; x < w; ++x) dst[x] = static_cast<uint8>((src[x >> 3] >> (7 - (x & 7))) & 1);
            return;
        case 4:
            for (int32 x = 0; x < w; ++x)
                dst[x] = static_cast<uint8>((x & 1) != 0 ? src[x >> 1] & 0x0F : src[x >> 1] >> 4);
            return;
        case 8:
            std::memcpy(dst, src, static_cast<std::size_t>(w));
            return;
        case 24: {
            // Whole words where a fourth byte can be read: all but the last pixel.
            auto* out = reinterpret_cast<uint32*>(dst);
            int32 x = 0;
            for (; x + 1 < w; ++x, src += 3) {
                uint32 bgr;
                std::memcpy(&bgr, src, 4);
                bgr = ByteOrderLittle(bgr);
                out[x] = ByteOrderLittle((bgr >> 16 & 0xFF) | (bgr & 0xFF00) | (bgr & 0xFF) << 16 | 0xFF000000u);
            }
            dst += 4 * x;
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = 255;
            return;
        }
        default:
            break;
    }
    if (r->bitCount == 32 && !r->bitFields) {
        for (int32 x = 0; x < w; ++x, src += 4, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            dst[3] = 255;
        }
        return;
    }
    // 15 and 16 bits, and 32 bits through masks.
    const int32 bytes = r->bitCount == 32 ? 4 : 2;
    uint8 alphaSeen = 0;
    for (int32 x = 0; x < w; ++x, src += bytes, dst += 4) {
        const uint32 d = bytes == 4 ? Le32(src) : Le16(src);
        dst[0] = ChannelGet(r->red, d);
        dst[1] = ChannelGet(r->green, d);
        dst[2] = ChannelGet(r->blue, d);
        dst[3] = r->hasAlpha ? ChannelGet(r->alpha, d) : 255;
        alphaSeen |= dst[3];
    }
    r->alphaSeen |= alphaSeen;
}

bool ReadRaw(BmpReader* r) {
    for (int32 fileRow = 0; fileRow < r->height;) {
        const int32 rows = r->height - fileRow < r->rowsPerRead ? r->height - fileRow : r->rowsPerRead;
        if (!Read(r, r->row, static_cast<uint32>(rows * r->rowBytes))) return false;
        for (int32 i = 0; i < rows; ++i, ++fileRow) ConvertRow(r, r->row + i * r->rowBytes, ImageRow(r, fileRow));
    }
    return true;
}

// Run-length rows (8 or 4 bits), bottom row first. A row is decoded into the
// layout of a stored row, then converted. Pixels no pair reaches (a row ended
// early, rows after the end of the bitmap) are index 0.
bool ReadRunLength(BmpReader* r) {
    std::memset(r->image->pixels, 0, static_cast<std::size_t>(r->image->stride) * r->height);
    const bool nibbles = r->compression == kCompressRle4;
    // Pixels the row buffer holds; a run or literal past them is refused.
    const int32 limit = nibbles ? 2 * r->runRowBytes : r->runRowBytes;
    // Pixel x of the row gets index v (a nibble when 4 bits a pixel).
    auto put = [r, nibbles](int32 x, uint8 v) {
        if (!nibbles) {
            r->row[x] = v;
        } else {
            uint8& b = r->row[x >> 1];
            b = (x & 1) != 0 ? static_cast<uint8>((b & 0xF0) | (v & 0x0F)) : static_cast<uint8>((b & 0x0F) | v << 4);
        }
    };
    uint8 literal[256];
    for (int32 fileRow = 0; fileRow < r->height; ++fileRow) {
        std::memset(r->row, 0, static_cast<std::size_t>(r->runRowBytes));
        int32 x = 0;
        for (;;) {
            uint8 pair[2];
            if (!Read(r, pair, 2)) return false;
            const int32 count = pair[0];
            const int32 value = pair[1];
            if (count > 0) {
                if (x + count > limit) return Malformed();
                if (!nibbles) {
                    std::memset(r->row + x, value, static_cast<std::size_t>(count));
                } else {
                    // A 4-bit run alternates the byte's two pixels, high first.
                    for (int32 i = 0; i < count; ++i)
                        put(x + i, static_cast<uint8>((i & 1) != 0 ? value & 0x0F : value >> 4));
                }
                x += count;
                continue;
            }
            if (value == 0) break;
            if (value == 1) {
                // The end of the bitmap: this row as far as it got, the rest blank.
                ConvertRow(r, r->row, ImageRow(r, fileRow));
                return true;
            }
            if (value == 2) return Fail(kModuleNone, kErrConvertDepth);  // position deltas are not read
            if (x + value > limit) return Malformed();
            // Literal pixels come packed as stored, padded to a 16-bit word.
            const int32 bytes = nibbles ? (value + 1) / 2 : value;
            const int32 padded = bytes + (bytes & 1);
            if (!Read(r, literal, static_cast<uint32>(padded))) return false;
            for (int32 i = 0; i < value; ++i) {
                put(x + i, nibbles ? static_cast<uint8>((i & 1) != 0 ? literal[i >> 1] & 0x0F : literal[i >> 1] >> 4)
                                   : literal[i]);
            }
            x += value;
        }
        ConvertRow(r, r->row, ImageRow(r, fileRow));
    }
    return true;
}

bool ReadMasks(BmpReader* r, uint32 headerSize, const uint8* info) {
    uint32 masks[4] = {0, 0, 0, 0};
    if (headerSize >= kMasksInHeader) {
        for (int32 i = 0; i < 3; ++i) masks[i] = Le32(info + 40 + 4 * i);
        if (headerSize >= kAlphaMaskInHeader) masks[3] = Le32(info + 52);
    } else {
        // The masks follow a shorter header.
        uint8 bytes[16];
        const uint32 count = r->compression == kCompressAlphaBitFields ? 4 : 3;
        if (!Read(r, bytes, count * 4)) return false;
        for (uint32 i = 0; i < count; ++i) masks[i] = Le32(bytes + 4 * i);
    }
    if (r->bitCount == 16) {
        for (uint32& m : masks) m &= 0xFFFF;
    }
    if (!ChannelMake(&r->red, masks[0]) || !ChannelMake(&r->green, masks[1]) || !ChannelMake(&r->blue, masks[2]) ||
        !ChannelMake(&r->alpha, masks[3])) {
        return Malformed();
    }
    r->hasAlpha = masks[3] != 0;
    return true;
}

// Header, masks and palette; leaves the stream at the pixel data.
bool ReadHeaders(BmpReader* r, int64_t fileBytes) {
    uint8 head[kFileHeaderBytes + 4];
    if (!Read(r, head, sizeof(head))) return false;
    if (head[0] != 'B' || head[1] != 'M') return Malformed();
    const uint32 offset = Le32(head + 10);
    const uint32 headerSize = Le32(head + 14);
    if (headerSize < kCoreHeaderBytes || (headerSize > kCoreHeaderBytes && headerSize < kShortestInfoHeader) ||
        headerSize > kLargestHeader) {
        return Malformed();
    }
    // Fields a short header lacks read as 0.
    uint8 info[kLargestKnownHeader] = {};
    const uint32 known = headerSize < kLargestKnownHeader ? headerSize : kLargestKnownHeader;
    if (!Read(r, info + 4, known - 4)) return false;
    if (headerSize > known) {
        if (StreamSkip(r->stream, headerSize - known) == nullptr) return false;
        r->consumed += headerSize - known;
    }

    int64_t width;
    int64_t height;
    uint32 colorsUsed = 0;
    r->compression = kCompressNone;
    if (headerSize == kCoreHeaderBytes) {
        width = Le16(info + 4);
        height = Le16(info + 6);
        r->bitCount = Le16(info + 10);
    } else {
        width = static_cast<int32>(Le32(info + 4));
        height = static_cast<int32>(Le32(info + 8));
        r->bitCount = Le16(info + 14);
        r->compression = Le32(info + 16);
        colorsUsed = Le32(info + 32);
    }

    const int32 bits = r->bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32) {
        return Fail(kModuleNone, kErrFileDepth);
    }
    r->bitFields = false;
    if (bits == 24) {
        r->compression = kCompressNone;  // 24-bit rows are always read as stored
    } else if (r->compression == kCompressRle8 || r->compression == kCompressRle4) {
        if (bits != (r->compression == kCompressRle8 ? 8 : 4)) return Fail(kModuleNone, kErrConvertDepth);
    } else if (r->compression == kCompressBitFields || r->compression == kCompressAlphaBitFields) {
        if (bits != 16 && bits != 32) return Fail(kModuleNone, kErrConvertDepth);
        r->bitFields = true;
    } else if (r->compression != kCompressNone) {
        return Fail(kModuleNone, kErrConvertDepth);
    }

    r->topDown = height < 0;
    if (height < 0) height = -height;
    if (width <= 0 || height == 0) return Malformed();
    if (width > kBmpMaxDimension || height > kBmpMaxDimension) return Fail(kIdImageModule, kErrImageFileTooLarge);
    r->width = static_cast<int32>(width);
    r->height = static_cast<int32>(height);
    // 15-bit pixels are stored in two bytes like 16-bit ones.
    const int64_t storedBits = bits == 15 ? 16 : bits;
    r->rowBytes = static_cast<int32>(((storedBits * width + 7) / 8 + 3) & ~int64_t{3});
    // Encoders may run a row's last pair past its width (into what would be
    // padding); the buffer has room for that, three bytes a pixel of the width
    // rounded down to eight, and at least a stored row.
    const int64_t runRoom = ((width + 7) & ~int64_t{7}) * 3;
    r->runRowBytes = static_cast<int32>(runRoom > r->rowBytes ? runRoom : r->rowBytes);

    if (r->bitFields) {
        if (!ReadMasks(r, headerSize, info)) return false;
    } else if (bits == 15 || bits == 16) {
        // Without masks 16 bits are 5-5-5, the top bit unused.
        ChannelMake(&r->red, 0x7C00);
        ChannelMake(&r->green, 0x03E0);
        ChannelMake(&r->blue, 0x001F);
        r->hasAlpha = false;
    }

    if (bits <= 8) {
        // A count beyond what the bits can index means the full palette.
        const uint32 full = 1u << bits;
        uint32 count = (headerSize == kCoreHeaderBytes || colorsUsed == 0 || colorsUsed > full) ? full : colorsUsed;
        uint32 entryBytes;
        switch (headerSize) {
            case kCoreHeaderBytes:
                entryBytes = 3;
                break;
            case 40:
            case 52:
            case 56:
            case 108:
            case kLargestKnownHeader:
                entryBytes = 4;
                break;
            default:
                return Fail(kModuleNone, kErrConvertDepth);
        }
        // A palette never reaches into the pixel data.
        if (offset < r->consumed) return Malformed();
        const int64_t room = (offset - r->consumed) / entryBytes;
        if (count > room) count = static_cast<uint32>(room);
        uint8 bytes[256 * 4];
        if (!Read(r, bytes, count * entryBytes)) return false;
        for (uint32 i = 0; i < count; ++i) {
            const uint8* e = bytes + i * entryBytes;
            r->palette[i] = RGBA{e[2], e[1], e[0], 255};
        }
        for (uint32 i = count; i < 256; ++i) r->palette[i] = RGBA{0, 0, 0, 255};
    }

    // The pixel data starts after everything read so far and inside the file,
    // and (stored rows) the file holds all of it.
    if (offset < r->consumed) return Malformed();
    const bool runLength = r->compression == kCompressRle8 || r->compression == kCompressRle4;
    if (fileBytes >= 0) {
        if (offset > fileBytes) return Malformed();
        if (!runLength && static_cast<int64_t>(r->rowBytes) * height > fileBytes - offset) return Malformed();
    }
    // Run-length data may end the bitmap early and leave the rest blank: the
    // size the file claims is held against the size of the file.
    if (!ImageReadSizeAllowed(width, height, ImageDepthFor(bits), 0, fileBytes)) return false;
    const int64_t gap = offset - r->consumed;
    if (gap > 0) {
        if (StreamSkip(r->stream, static_cast<uint32>(gap)) == nullptr) return false;
        r->consumed += gap;
    }
    return true;
}

bool ReadImage(BmpReader* r) {
    const int64_t fileBytes = StreamBytesLeft(r->stream);
    if (!ReadHeaders(r, fileBytes)) return false;

    const int32 depth = ImageDepthFor(r->bitCount);
    r->image = ImageCreate(r->width, r->height, depth);
    if (r->image == nullptr || ImageAllocatePixels(r->image) == nullptr) return false;
    if (depth != 32) {
        std::memcpy(r->image->palette, r->palette, static_cast<std::size_t>(1 << depth) * sizeof(RGBA));
    }
    // Stored rows are read several at a time: one call per row would cost
    // more than converting it.
    const bool runLength = r->compression == kCompressRle8 || r->compression == kCompressRle4;
    r->rowsPerRead = 1;
    if (!runLength) {
        r->rowsPerRead = kRowsReadBytes / r->rowBytes;
        if (r->rowsPerRead < 1) r->rowsPerRead = 1;
        if (r->rowsPerRead > r->height) r->rowsPerRead = r->height;
    }
    const int32 rowBuffer = runLength ? r->runRowBytes : r->rowBytes;
    r->row = static_cast<uint8*>(KvMalloc(static_cast<std::size_t>(r->rowsPerRead) * rowBuffer));
    if (r->row == nullptr) return Fail(kModuleNone, kErrNoMemory);

    if (!(runLength ? ReadRunLength(r) : ReadRaw(r))) return false;

    // Writers that fill no alpha leave it 0 behind an alpha mask: such a
    // picture is opaque, not invisible.
    if (r->hasAlpha && r->alphaSeen == 0) {
        for (int32 y = 0; y < r->height; ++y) {
            uint8* p = r->image->pixels + static_cast<std::ptrdiff_t>(y) * r->image->stride;
            for (int32 x = 0; x < r->width; ++x) p[4 * x + 3] = 255;
        }
    }
    return true;
}

}  // namespace

Image* BmpImageReadStream(Stream* stream) {
    if (stream == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    // Large (four bit-field channels and a palette): kept off the stack of
    // callers that may be deep already.
    auto* r = static_cast<BmpReader*>(KvCalloc(1, sizeof(BmpReader)));
    if (r == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    r->stream = stream;
    Image* image = nullptr;
    if (ReadImage(r)) {
        image = r->image;
    } else {
        ImageDestroy(r->image);
    }
    KvFree(r->row);
    KvFree(r);
    return image;
}

Image* BmpImageRead(const char* fileName) { return ImageReadFileWith(fileName, BmpImageReadStream); }

}  // namespace kv
