// The dome as a glTF 2.0 binary (.glb), for modellers, engines and web
// viewers: positions, normals, vertex colours, indices and one unlit,
// double-sided material, y up (the dome's own frame: +z north, +x west).
#pragma once

#include <string>

#include "engine/core/types.h"

namespace kv {

struct Geometry;

constexpr const char* kGltfUnlit = "KHR_materials_unlit";

// sRGB-encoded byte to linear (the colours viewers blend and light with).
float GltfLinearFromSrgb(uint8 byte);

// Writes the geometry's first morph target with its prelit colours decoded
// from sRGB as COLOR_0. The dome is written facing outwards whichever way it
// faces now: inward says that it is turned inside out (the preview) and is
// turned back in the file. On failure nothing is left under path (an earlier
// file there stays as it was) and *message (may be null) names the problem.
bool DomeExportGLTF(const Geometry* geometry, bool inward, const char* path, std::string* message);

}  // namespace kv
