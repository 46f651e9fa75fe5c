// The cube map as DDS, for Direct3D: the header with its DX10 extension,
// DXGI_FORMAT_R16G16B16A16_FLOAT, the six faces in Direct3D's order, each
// with its mip chain from the largest level down (the layout of the DDS
// file format's documentation for a texture cube).
#include <bit>
#include <cstdint>
#include <vector>

#include "export/cubemap.h"
#include "export/export_file.h"

namespace kv {

namespace {

static_assert(std::endian::native == std::endian::little, "the halves are written as they are in memory");

// The header's words and flags as the format's documentation names them.
constexpr std::uint32_t kMagic = 0x20534444u;  // "DDS "
constexpr std::uint32_t kHeaderSize = 124;
constexpr std::uint32_t kPixelFormatSize = 32;
constexpr std::uint32_t kFlagCaps = 0x1, kFlagHeight = 0x2, kFlagWidth = 0x4, kFlagPitch = 0x8;
constexpr std::uint32_t kFlagPixelFormat = 0x1000, kFlagMipMapCount = 0x20000;
constexpr std::uint32_t kPixelFourCC = 0x4;
constexpr std::uint32_t kFourCCDX10 = 0x30315844u;  // "DX10"
constexpr std::uint32_t kCapsComplex = 0x8, kCapsTexture = 0x1000, kCapsMipMap = 0x400000;
constexpr std::uint32_t kCaps2Cubemap = 0x200, kCaps2AllFaces = 0xFC00;
constexpr std::uint32_t kDxgiR16G16B16A16Float = 10;
constexpr std::uint32_t kDimensionTexture2D = 3;
constexpr std::uint32_t kMiscTextureCube = 0x4;

void Put32(std::vector<std::uint8_t>* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool WriteDds(const char* path, void* data, std::string* why) {
    const Cubemap& cube = *static_cast<const Cubemap*>(data);
    const auto size = static_cast<std::uint32_t>(cube.size);
    const auto levels = static_cast<std::uint32_t>(cube.levels.size());
    std::vector<std::uint8_t> h;
    Put32(&h, kMagic);
    Put32(&h, kHeaderSize);
    Put32(&h,
          kFlagCaps | kFlagHeight | kFlagWidth | kFlagPitch | kFlagPixelFormat | (levels > 1 ? kFlagMipMapCount : 0u));
    Put32(&h, size);      // height
    Put32(&h, size);      // width
    Put32(&h, size * 8);  // a row's bytes
    Put32(&h, 0);         // depth
    Put32(&h, levels);
    for (int i = 0; i < 11; ++i) Put32(&h, 0);
    Put32(&h, kPixelFormatSize);
    Put32(&h, kPixelFourCC);
    Put32(&h, kFourCCDX10);
    for (int i = 0; i < 5; ++i) Put32(&h, 0);  // bit count and masks: in the DXGI format
    Put32(&h, kCapsComplex | kCapsTexture | (levels > 1 ? kCapsMipMap : 0u));
    Put32(&h, kCaps2Cubemap | kCaps2AllFaces);
    for (int i = 0; i < 3; ++i) Put32(&h, 0);
    // The DX10 extension: one cube (its array size counts cubes).
    Put32(&h, kDxgiR16G16B16A16Float);
    Put32(&h, kDimensionTexture2D);
    Put32(&h, kMiscTextureCube);
    Put32(&h, 1);
    Put32(&h, 0);  // alpha mode not stated: alpha is 1 throughout
    ExportFileOut out;
    if (!ExportFileOpen(&out, path)) {
        *why = out.why;
        return false;
    }
    ExportFilePut(&out, h.data(), h.size());
    std::vector<std::uint16_t> halves;
    for (int32 face = 0; face < 6 && out.why.empty(); ++face) {
        for (int32 level = 0; level < static_cast<int32>(levels) && out.why.empty(); ++level) {
            CubemapFaceHalves(cube, level, face, &halves);
            // The format is little-endian, as the halves are in memory here.
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

bool CubemapWriteDDS(const Cubemap& cube, const char* path, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    std::string why;
    if (ExportFileWrite(target.c_str(), WriteDds, const_cast<Cubemap*>(&cube), &why)) return true;
    if (message != nullptr) *message = "Cannot write the cube map to " + target + ": " + why + ".";
    return false;
}

}  // namespace kv
