// The dome as a glTF 2.0 binary (.glb), for modellers, engines and web
// viewers: positions, normals, vertex colours, indices and one unlit,
// double-sided material, y up (the dome's own frame: +z north, +x west),
// and the sun (and at night the moon) as directional lights
// (KHR_lights_punctual), so that an engine that loads the sky gets its light.
#pragma once

#include <string>

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"

namespace kv {

struct Geometry;
struct Sky;

constexpr const char* kGltfUnlit = "KHR_materials_unlit";

// sRGB-encoded byte to linear (the colours viewers blend and light with).
float GltfLinearFromSrgb(uint8 byte);

constexpr const char* kGltfLights = "KHR_lights_punctual";

// The sun as a light: towards it (a unit vector in the dome's frame), its
// linear Rec. 709 colour at luminance 1, and its illuminance in lux on a
// surface facing it.
struct GltfSun {
    V3d direction;
    RGBAReal colour;
    double illuminance;
};

// Writes the geometry's first morph target with its prelit colours decoded
// from sRGB as COLOR_0. The dome is written facing outwards whichever way it
// faces now: inward says that it is turned inside out (the preview) and is
// turned back in the file. A sun (may be null; none either when its
// illuminance is 0, the sun set) becomes a second node holding a directional
// light that shines along its -z, away from the sun: its colour is the sun's
// scaled to a largest channel of 1, and its intensity such that intensity
// times the colour's luminance is the sun's illuminance. On failure nothing
// is left under path (an earlier file there stays as it was) and *message
// (may be null) names the problem.
// A moon (may be null; none either when its illuminance is 0) becomes a
// third node, "moon", a directional light made the same way.
bool DomeExportGLTF(const Geometry* geometry, bool inward, const char* path, std::string* message,
                    const GltfSun* sun = nullptr, const GltfSun* moon = nullptr);

// A dome as plain arrays, for a caller without the engine's geometry: the
// vertices' positions, normals and prelit (sRGB-encoded) colours, and three
// vertex indices a triangle.
struct GltfDome {
    const V3d* positions;
    const V3d* normals;
    const RGBA* prelit;
    int32 vertices;
    const uint16* indices;
    int32 triangles;
};
// The same file as DomeExportGLTF writes, of that dome.
bool GltfExportDome(const GltfDome& dome, bool inward, const char* path, std::string* message,
                    const GltfSun* sun = nullptr, const GltfSun* moon = nullptr);

// The moon as a light, for a physical sky placed from a place and a moment
// (night_bodies.h): towards it, its colour as it arrives through the sky's
// air, and the illuminance in lux it gives on a surface facing it (its
// brightness outside the atmosphere, sky/moon.h, times the air's
// transmittance). False when the sky is another model, has no place and
// moment, or the moon is below the horizon.
bool GltfMoonOf(Sky* sky, GltfSun* moon);

}  // namespace kv
