// libFuzzer target: the PNG reader on arbitrary bytes, read from memory.
// Checksums are not checked, so that mutated data reaches the decoder.
#include <cstdint>

#include "engine/image/png_read.h"
#include "fuzz_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kv::fuzz::StartEngine();
    kv::PngReadSetChecksumsIgnored(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return kv::fuzz::ReadOne(data, size, kv::PngImageReadStream);
}
