// The triangle-strip builder: one strip per material, the separate strips of
// a material joined through degenerate triangles.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct BuildMeshTriangle;
struct MeshHeader;

// Header flags kMeshHeaderTriStrip, meshes ordered as by MeshesBuild.
MeshHeader* MeshesBuildStrips(const BuildMeshTriangle* triangles, int32 numTriangles);

// Appends strip `next` to the strip held in out[0..outCount): the last index
// once more, next's first index twice (three times when outCount is odd, to
// keep the winding), then the rest of next. out must have room for
// StripJoinedLength(outCount, nextCount). Returns the new length.
uint32 StripAppend(uint32* out, uint32 outCount, const uint32* next, uint32 nextCount);
uint32 StripJoinedLength(uint32 outCount, uint32 nextCount);

}  // namespace kv
