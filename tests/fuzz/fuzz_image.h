// What every image a reader hands back must satisfy, whatever the input: the
// shared checks of the image-reader fuzz targets.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/image/image.h"
#include "engine/stream/stream.h"

namespace kv::fuzz {

inline void Check(bool ok) {
    if (!ok) __builtin_trap();
}

inline void StartEngine() {
    static int display = 0;
    EngineSetDevice(nullptr);
    EngineOpenParams params{&display};
    EngineUseStandardModules();
    if (!EngineInit(nullptr, 0) || !EngineOpen(&params) || !EngineStart()) std::abort();
}

// Reads every byte the image claims to own (the sanitizer reports any that
// lie outside it) and checks the record.
inline void CheckImage(const Image* image) {
    Check(image->width > 0 && image->height > 0);
    Check(image->depth == 4 || image->depth == 8 || image->depth == 32);
    const int32 rowBytes = image->depth == 32 ? image->width * 4 : image->width;
    Check(image->stride >= rowBytes);
    Check((image->depth == 32) == (image->palette == nullptr));
    volatile uint32 sum = 0;
    for (int32 y = 0; y < image->height; ++y) {
        const uint8* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
        for (int32 x = 0; x < rowBytes; ++x) {
            sum = sum + row[x];
            // Depth 4 keeps one index per byte, below 16.
            if (image->depth == 4) Check(row[x] < 16);
        }
    }
    if (image->palette != nullptr) {
        for (int32 i = 0; i < (1 << image->depth); ++i) sum = sum + image->palette[i].alpha;
    }
}

// One input through a reader of streams: whatever it hands back is checked
// and freed, and the stream closes cleanly.
inline int ReadOne(const uint8_t* data, std::size_t size, Image* (*read)(Stream* stream)) {
    if (size > 0xFFFFFFFFu) return 0;
    StreamMemory mem{const_cast<uint8_t*>(data), static_cast<uint32>(size)};
    Stream* stream = StreamOpen(StreamTypeMemory, StreamAccessRead, &mem);
    Check(stream != nullptr);
    if (Image* image = read(stream)) {
        CheckImage(image);
        ImageDestroy(image);
    }
    Check(StreamClose(stream, nullptr));
    return 0;
}

}  // namespace kv::fuzz
