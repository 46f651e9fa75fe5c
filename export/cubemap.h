// The sky as a cube map, for engines that light a scene from one: six square
// faces of linear Rec. 709 light, the sun's disc spread over the texels it
// covers so that the faces hold its light whatever their size, and a mip
// chain either box-filtered or prefiltered for GGX reflections.
//
// Texels and directions. A cube map is looked up with a vector (rx, ry, rz)
// in the lookup frame of the file's graphics interface; DDS (Direct3D) and
// KTX2 (Vulkan) place texels alike: the face is that of the component largest
// in magnitude, in the order +X, -X, +Y, -Y, +Z, -Z, and within it
//   face  s from   t from
//   +X     -rz      -ry
//   -X     +rz      -ry
//   +Y     +rx      +rz
//   -Y     +rx      -rz
//   +Z     +rx      -ry
//   -Z     -rx      -ry
// with u = (s / |major| + 1) / 2 running along a row (column x = u * size)
// and v = (t / |major| + 1) / 2 down the rows (row y = v * size, row 0
// first in the file). The two interfaces differ in the handedness of the
// world they are used in, so the files differ in which world axis the lookup
// frame's axes are (the program's axes: y up, +z north, +x west):
//   KTX2 (right-handed, as glTF): lookup = (x, y, z): +X west, -X east,
//        +Y up, -Y down, +Z north, -Z south;
//   DDS (left-handed, x to the right of a viewer facing +z): lookup =
//        (-x, y, z): +X east, -X west, +Y up, -Y down, +Z north, -Z south.
// Seen from inside, the DDS's faces are the views a viewer turning right
// sees, unmirrored.
//
// Units: 1 in a face is kCubemapUnit cd/m^2, chosen so that the sun's disc
// (up to about 2e9 cd/m^2) fits the largest 16-bit half float (65504).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"

namespace kv {

struct Sky;

constexpr int32 kCubemapDefaultSize = 512;
constexpr int32 kCubemapMinSize = 16;
constexpr int32 kCubemapMaxSize = 4096;
// cd/m^2 of 1 in the files: 1e5, where the sun at 2e9 cd/m^2 is 20000.
constexpr double kCubemapUnit = 100000.0;

// A power of two from kCubemapMinSize to kCubemapMaxSize.
bool CubemapSizeValid(int32 size);

enum CubeFrame : int32 {
    CubeFrameRightHanded = 0,  // KTX2's: lookup = the program's (x, y, z)
    CubeFrameLeftHanded = 1,   // DDS's: lookup = (-x, y, z)
};

// A direction in double precision: the sun's disc is a few thousandths of a
// radian across.
struct CubeVector {
    double x, y, z;
};
// The lookup vector of a direction in the program's axes, and back (the
// same mirror both ways).
CubeVector CubeLookupOf(CubeFrame frame, const CubeVector& direction);
// The unit lookup vector through the point (u, v) of a face (0 to 1 across).
CubeVector CubeFacePoint(int32 face, double u, double v);
// The face and its (u, v) of a lookup vector, as the table above.
void CubeFaceOf(const CubeVector& lookup, int32* face, double* u, double* v);
// The solid angle (sr) of texel (x, y) of a face size texels across.
double CubeTexelSolidAngle(int32 size, int32 x, int32 y);

enum CubeMips : int32 {
    CubeMipsNone = 0,      // one level
    CubeMipsBox = 1,       // each level the mean of four texels of the one above
    CubeMipsSpecular = 2,  // prefiltered for GGX reflections (CubemapPrefilterSpecular)
};

// A cube map's levels in memory: level l holds six faces of size >> l
// texels across, face after face, rows from the top, each texel four floats
// (red, green, blue; alpha is 1 in the files) in the sky's unit, kcd/m^2.
struct Cubemap {
    int32 size = 0;
    CubeFrame frame = CubeFrameRightHanded;
    std::vector<std::vector<float>> levels;
};
constexpr int32 kCubeChannels = 3;
inline int32 CubemapLevelSize(const Cubemap& c, int32 level) { return std::max(1, c.size >> level); }
// Levels of a full chain: down to one texel.
int32 CubemapFullChain(int32 size);

// A disc whose light a cube keeps: the sun's, or a test's.
struct CubeDisc {
    CubeVector direction;       // unit, the program's axes
    double angularRadius;       // radians
    RGBAReal radiance;          // linear Rec. 709, kcd/m^2
    double hiddenBelow = -2.0;  // a part with y at or below this does not show (the ground); -2: none
};
// A point of light (a star, a planet): its flux, linear Rec. 709 kcd/m^2
// times steradians, all of it in the texel its direction falls in.
struct CubePoint {
    CubeVector direction;  // unit, the program's axes
    RGBAReal flux;
    double hiddenBelow = -2.0;  // with y at or below this it does not show (the ground); -2: none
};
// What a cube shows: radiance for directions (the program's axes, linear
// Rec. 709 kcd/m^2; false when it fails) and discs added over it.
struct CubeScene {
    bool (*radiance)(void* data, const V3d* directions, std::int64_t count, RGBAReal* out) = nullptr;
    void* data = nullptr;
    std::vector<CubeDisc> discs;
    std::vector<CubePoint> points;
};

// The level 0 faces of the scene (the others left out); false when memory
// runs out or the scene's radiance fails.
bool CubemapRender(const CubeScene& scene, int32 size, CubeFrame frame, Cubemap* cube);
// The sky's scene: its radiance (ground below the horizon) and its sun.
CubeScene CubeSceneOfSky(Sky* sky);
// Adds the disc's light to level 0, each texel by the part of it the disc
// covers, so that the faces' sum of radiance times solid angle is the
// disc's radiance times the disc's visible solid angle.
void CubemapAddDisc(Cubemap* cube, const CubeDisc& disc);
// Adds a point of light to the first level, in the texel its direction falls in.
void CubemapAddPoint(Cubemap* cube, const CubePoint& point);

// Fills levels 1 onward of a full chain: box means, or the GGX prefilter.
bool CubemapMakeMips(Cubemap* cube, CubeMips mips, int32 threads);
// The GGX roughness level l of count is prefiltered for: l / (count - 1),
// linear in the level, alpha = roughness^2 (Karis 2013).
double CubemapLevelRoughness(int32 level, int32 count);

// Bilinear radiance of a level for a lookup vector (trilinear between two
// levels for a fractional one); no filtering across faces' edges.
RGBAReal CubemapSample(const Cubemap& cube, const CubeVector& lookup, double level);

// The files, written the safe way (export_file.h). False with *message
// naming the file and the problem.
bool CubemapWriteDDS(const Cubemap& cube, const char* path, std::string* message);
bool CubemapWriteKTX2(const Cubemap& cube, const char* path, std::string* message);

// The six faces of the sky as a picture to look at (PNG, tone-mapped at the
// exposure): a cross of faces in the DDS's frame, up above north, west,
// north, east and south across, down below north.
bool CubemapWriteCrossPNG(Sky* sky, const char* path, int32 size, float exposure, std::string* message);

enum CubemapFormat : int32 {
    CubemapFormatNone = 0,
    CubemapFormatDDS = 1,
    CubemapFormatKTX2 = 2,
    CubemapFormatCrossPNG = 3,
};
// By the extension: ".dds", ".ktx2" or ".png", in any case.
CubemapFormat CubemapFormatOf(const char* path);
// The sky's cube map of that size and mips (not the picture's), in the
// frame of the format the name asks for.
bool CubemapWrite(Sky* sky, const char* path, int32 size, CubeMips mips, float exposure, std::string* message);

// A face of a level as the files hold it: RGBA 16-bit half floats in the
// files' unit (kCubemapUnit), alpha 1, rows from the top.
void CubemapFaceHalves(const Cubemap& cube, int32 level, int32 face, std::vector<std::uint16_t>* out);

// Float to IEEE 754 half, rounded to nearest even; beyond the largest finite
// half, that (no infinities: a texel too bright stays bright, not lost).
std::uint16_t CubemapHalf(float value);

}  // namespace kv
