// The cube map as KTX2, for Vulkan: VK_FORMAT_R16G16B16A16_SFLOAT with its
// data format descriptor (linear, Rec. 709 primaries), the six faces of each
// level in Vulkan's order, the levels stored from the smallest up, as the
// KTX 2.0 format lays a file out.
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "export/cubemap.h"
#include "export/export_file.h"

namespace kv {

namespace {

static_assert(std::endian::native == std::endian::little, "the halves are written as they are in memory");

constexpr std::uint8_t kIdentifier[12] = {0xAB, 0x4B, 0x54, 0x58, 0x20, 0x32, 0x30, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kVkFormatR16G16B16A16Sfloat = 97;
// The data format descriptor's values, as the Khronos data format defines them.
constexpr std::uint32_t kDfdVersion = 2;
constexpr std::uint8_t kModelRGBSDA = 1, kPrimariesBT709 = 1, kTransferLinear = 1;
constexpr std::uint8_t kChannelRed = 0, kChannelGreen = 1, kChannelBlue = 2, kChannelAlpha = 15;
constexpr std::uint8_t kQualifierFloat = 0x80, kQualifierSigned = 0x40;
constexpr std::uint32_t kFloatMinusOne = 0xBF800000u, kFloatOne = 0x3F800000u;
constexpr char kWriterKey[] = "KTXwriter";
constexpr char kWriter[] = "skydome cube map export";

void Put32(std::vector<std::uint8_t>* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<std::uint8_t>* b, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PadTo(std::vector<std::uint8_t>* b, std::size_t multiple) {
    while (b->size() % multiple != 0) b->push_back(0);
}

// The basic descriptor block: four samples of 16 bits each, signed floats.
std::vector<std::uint8_t> DataFormatDescriptor() {
    constexpr std::uint32_t kSamples = 4;
    constexpr std::uint32_t kBlockSize = 24 + 16 * kSamples;
    std::vector<std::uint8_t> d;
    Put32(&d, 4 + kBlockSize);  // the descriptor's total size, this word included
    Put32(&d, 0);               // vendor Khronos, type basic
    Put32(&d, kDfdVersion | (kBlockSize << 16));
    Put32(&d, kModelRGBSDA | (kPrimariesBT709 << 8) | (kTransferLinear << 16));  // flags 0: alpha straight
    Put32(&d, 0);                                                                // a block is one texel
    Put32(&d, 8);                                                                // bytes in plane 0
    Put32(&d, 0);
    const std::uint8_t channels[kSamples] = {kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha};
    for (std::uint32_t i = 0; i < kSamples; ++i) {
        const std::uint32_t type = channels[i] | kQualifierFloat | kQualifierSigned;
        Put32(&d, (16 * i) | (15u << 16) | (type << 24));  // offset, length - 1, channel
        Put32(&d, 0);                                      // sample position
        Put32(&d, kFloatMinusOne);
        Put32(&d, kFloatOne);
    }
    return d;
}

std::vector<std::uint8_t> KeyValueData() {
    std::vector<std::uint8_t> d;
    const auto length = static_cast<std::uint32_t>(sizeof kWriterKey + sizeof kWriter);  // both with their NUL
    Put32(&d, length);
    d.insert(d.end(), kWriterKey, kWriterKey + sizeof kWriterKey);
    d.insert(d.end(), kWriter, kWriter + sizeof kWriter);
    PadTo(&d, 4);
    return d;
}

bool WriteKtx2(const char* path, void* data, std::string* why) {
    const Cubemap& cube = *static_cast<const Cubemap*>(data);
    const auto levels = static_cast<std::uint32_t>(cube.levels.size());
    const std::vector<std::uint8_t> dfd = DataFormatDescriptor();
    const std::vector<std::uint8_t> kvd = KeyValueData();
    const std::size_t indexEnd = 80 + 24 * static_cast<std::size_t>(levels);
    const std::size_t dfdOffset = indexEnd;
    const std::size_t kvdOffset = dfdOffset + dfd.size();
    // Levels start on a multiple of 8 (the texel's size and 4's lowest common multiple).
    std::size_t dataStart = kvdOffset + kvd.size();
    dataStart = (dataStart + 7) / 8 * 8;
    auto levelBytes = [&](std::uint32_t l) {
        const auto s = static_cast<std::uint64_t>(CubemapLevelSize(cube, static_cast<int32>(l)));
        return 6 * s * s * 8;
    };
    // The smallest level first in the file.
    std::vector<std::uint64_t> offsets(levels);
    std::uint64_t at = dataStart;
    for (std::uint32_t l = levels; l-- > 0;) {
        offsets[l] = at;
        at += levelBytes(l);
    }
    std::vector<std::uint8_t> h(kIdentifier, kIdentifier + sizeof kIdentifier);
    Put32(&h, kVkFormatR16G16B16A16Sfloat);
    Put32(&h, 2);  // typeSize: a half's bytes
    Put32(&h, static_cast<std::uint32_t>(cube.size));
    Put32(&h, static_cast<std::uint32_t>(cube.size));
    Put32(&h, 0);  // depth: not a 3D texture
    Put32(&h, 0);  // layers: not an array
    Put32(&h, 6);  // faces
    Put32(&h, levels);
    Put32(&h, 0);  // no supercompression
    Put32(&h, static_cast<std::uint32_t>(dfdOffset));
    Put32(&h, static_cast<std::uint32_t>(dfd.size()));
    Put32(&h, static_cast<std::uint32_t>(kvdOffset));
    Put32(&h, static_cast<std::uint32_t>(kvd.size()));
    Put64(&h, 0);  // no supercompression global data
    Put64(&h, 0);
    for (std::uint32_t l = 0; l < levels; ++l) {
        Put64(&h, offsets[l]);
        Put64(&h, levelBytes(l));
        Put64(&h, levelBytes(l));
    }
    h.insert(h.end(), dfd.begin(), dfd.end());
    h.insert(h.end(), kvd.begin(), kvd.end());
    h.resize(dataStart, 0);
    ExportFileOut out;
    if (!ExportFileOpen(&out, path)) {
        *why = out.why;
        return false;
    }
    ExportFilePut(&out, h.data(), h.size());
    std::vector<std::uint16_t> halves;
    for (std::uint32_t l = levels; l-- > 0 && out.why.empty();) {
        for (int32 face = 0; face < 6 && out.why.empty(); ++face) {
            CubemapFaceHalves(cube, static_cast<int32>(l), face, &halves);
            ExportFilePut(&out, halves.data(), halves.size() * sizeof(std::uint16_t));
        }
    }
    if (!ExportFileClose(&out)) {
        *why = out.why;
        return false;
    }
    return true;
}

}  // namespace

bool CubemapWriteKTX2(const Cubemap& cube, const char* path, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    std::string why;
    if (ExportFileWrite(target.c_str(), WriteKtx2, const_cast<Cubemap*>(&cube), &why)) return true;
    if (message != nullptr) *message = "Cannot write the cube map to " + target + ": " + why + ".";
    return false;
}

}  // namespace kv
