// libFuzzer target: the BMP reader on arbitrary bytes, read from memory.
#include <cstdint>

#include "engine/image/image.h"
#include "engine/image/bmp_read.h"
#include "engine/stream/stream.h"
#include "fuzz_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kv::fuzz::StartEngine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    kv::StreamMemory mem{const_cast<uint8_t*>(data), static_cast<kv::uint32>(size)};
    kv::Stream* stream = kv::StreamOpen(kv::StreamTypeMemory, kv::StreamAccessRead, &mem);
    kv::fuzz::Check(stream != nullptr);
    if (kv::Image* image = kv::BmpImageReadStream(stream)) {
        kv::fuzz::CheckImage(image);
        kv::ImageDestroy(image);
    }
    kv::fuzz::Check(kv::StreamClose(stream, nullptr));
    return 0;
}
