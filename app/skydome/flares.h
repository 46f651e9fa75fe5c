// Lens flares: in the preview, when the camera faces the sun, twelve textured
// quads blended additively along the line from the view centre through the
// sun's image.
#pragma once

#include "engine/core/types.h"
#include "engine/math/matrix.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"

namespace kv {

struct Texture;

constexpr int32 kFlareTextureCount = 8;
constexpr int32 kFlareCount = 12;
// The plane the flares lie on, this far in front of the camera.
constexpr real kFlarePlaneDistance = 1.01f;

// One flare: its texture, its place t along the flare line (1 the sun's
// image, 0 the view centre, below 0 beyond the centre), its half size and its
// brightness.
struct FlareEntry {
    int32 texture;
    real t;
    real halfSize;
    real brightness;
};
// The table, in drawing order.
const FlareEntry* FlaresGetTable();

// Reads the textures "flare0".."flare7" with the masks "flare0m".."flare7m"
// from the image search path. Stops at the first that cannot be read and
// returns false with its index in *failed (may be null); those read so far
// stay until FlaresDestroy.
bool FlaresLoad(int32* failed);
void FlaresDestroy();

// Places the flares for a camera (its world matrix) and the sun's direction
// (world space). False when the sun is behind the camera's plane or on it
// (its image would lie at infinity): no flares are drawn then.
bool FlaresPlace(const Matrix* camera, const V3d* sun);
// Draws the twelve quads where FlaresPlace put them, through the 3D immediate
// mode in world space, each with its texture. The caller sets the blending
// (additive in the program) and turns depth testing and writing off.
void FlaresDraw();
// Where FlaresPlace put each flare, and the two axes of the quads (unit
// vectors, or zero when the camera looks straight at the sun).
const V3d* FlaresGetPositions();
void FlaresGetAxes(V3d* u, V3d* w);
// The colour of a flare of that brightness: red 128 b, green and blue 64 b
// (truncated), opaque.
RGBA FlareColour(real brightness);

}  // namespace kv
