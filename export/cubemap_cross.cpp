// The cube map's six faces as a picture, for looking at: a cross four faces
// wide and three high, the faces in Direct3D's frame (the DDS's), where seen
// from inside they are unmirrored and meet along their edges:
//          up
//   west  north  east  south
//          down
// The light is tone-mapped with the program's exposure curve; the corners
// outside the cross are transparent.
#include <cstring>
#include <vector>

#include "engine/image/image.h"
#include "engine/image/png_write.h"
#include "engine/stream/safe_write.h"
#include "export/cubemap.h"
#include "export/export_file.h"
#include "sky/sky_colours.h"

namespace kv {

namespace {

// Where each face goes, in faces from the left and the top.
struct Place {
    int32 face, column, row;
};
constexpr Place kCross[6] = {{2, 1, 0}, {1, 0, 1}, {4, 1, 1}, {0, 2, 1}, {5, 3, 1}, {3, 1, 2}};

}  // namespace

bool CubemapWriteCrossPNG(Sky* sky, const char* path, int32 size, float exposure, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    auto fail = [&](const std::string& why) {
        if (message != nullptr) *message = "Cannot write the cube map to " + target + ": " + why + ".";
        return false;
    };
    if (!CubemapSizeValid(size)) return fail("the size is not a power of two from 16 to 4096");
    Cubemap cube;
    if (!CubemapRender(CubeSceneOfSky(sky), size, CubeFrameLeftHanded, &cube)) return fail("out of memory");
    Image* image = ImageCreate(4 * size, 3 * size, 32);
    if (image == nullptr || ImageAllocatePixels(image) == nullptr) {
        if (image != nullptr) ImageDestroy(image);
        return fail("out of memory");
    }
    for (int32 y = 0; y < 3 * size; ++y) {
        std::memset(ImageGetPixels(image) + static_cast<std::ptrdiff_t>(y) * ImageGetStride(image), 0,
                    sizeof(RGBA) * 4 * static_cast<std::size_t>(size));
    }
    std::vector<RGBAReal> row(static_cast<std::size_t>(size));
    const std::size_t faceTexels = static_cast<std::size_t>(size) * size;
    for (const Place& p : kCross) {
        for (int32 y = 0; y < size; ++y) {
            const float* in = cube.levels[0].data() + (p.face * faceTexels + static_cast<std::size_t>(y) * size) * 3;
            for (int32 x = 0; x < size; ++x) row[x] = RGBAReal{in[3 * x], in[3 * x + 1], in[3 * x + 2], 1.0f};
            auto* out = reinterpret_cast<RGBA*>(ImageGetPixels(image) +
                                                static_cast<std::ptrdiff_t>(p.row * size + y) * ImageGetStride(image)) +
                        p.column * size;
            SkyToneMapColors(row.data(), out, size, exposure);
        }
    }
    FileWriteStatus status{};
    const bool written = ImageWritePNG(image, target.c_str(), true, &status);
    ImageDestroy(image);
    if (!written) return fail(ExportFileProblem(status));
    return true;
}

}  // namespace kv
