// libFuzzer target: the BMP reader on arbitrary bytes, read from memory.
#include <cstdint>

#include "engine/image/bmp_read.h"
#include "fuzz_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kv::fuzz::StartEngine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    return kv::fuzz::ReadOne(data, size, kv::BmpImageReadStream);
}
