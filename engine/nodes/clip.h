// What the software vertex nodes share: the camera-space vertex with its clip
// flags, the interpolation record of clipping, the view of the current camera
// read at the start of each run, and the clipper that cuts a polygon (or a
// segment) at one plane of the view volume at a time.
//
// Camera space is the camera's view matrix applied: x / z and y / z run from
// 0 to 1 across the window (x and y alone with a parallel camera), z is the
// distance along the camera's at axis.
#pragma once

#include "engine/core/engine.h"
#include "engine/nodes/cluster_layouts.h"

namespace kv {

enum ClipFlag : uint8 {
    ClipLeft = 0x01,
    ClipRight = 0x02,
    ClipBottom = 0x04,
    ClipTop = 0x08,
    ClipNear = 0x10,
    ClipFar = 0x20,
    ClipAll = 0x3F,
};

// "KxCamSpace3DVertices.csl".
struct CamSpace3DVertex {
    V3d position;
    uint8 clipFlags;  // outside bits; a vertex the clipper made also carries its plane's bit
    uint8 pad[3];
    real red, green, blue, alpha;  // 0 .. 255
    real u, v;
};
static_assert(sizeof(CamSpace3DVertex) == 40);

// "KxScrSpace2DVertices.csl": what the device's 2D functions draw.
using ScrSpace2DVertex = Im2DVertex;

// "KxInterpolants.csl": one per vertex the clipper made.
struct ClipInterpolant {
    uint32 newVertex;
    uint32 outsideVertex;
    uint32 insideVertex;
    real t;  // from the outside vertex (0) to the inside one (1)
};
static_assert(sizeof(ClipInterpolant) == 16);

// The current camera as the nodes see it.
struct ClipView {
    bool perspective;
    // The camera raster's size. The device's 2D functions count pixels from
    // the camera raster's own corner (its viewport), so where the raster sits
    // in a parent raster moves nothing here.
    real width, height;
    real nearPlane, farPlane;
    real zScale, zShift;
    real nearScreenZ, farScreenZ;  // device depth of the near and far planes
};

// Null without a current camera with a raster (kErrCoreNoCamera raised).
const ClipView* ClipViewRead(ClipView* view);

// Outside bits of a camera-space position; equality counts as inside.
inline uint8 ClipFlagsXY(real x, real y, real z, bool perspective) {
    const real edge = perspective ? z : 1.0f;
    uint8 f = 0;
    if (x < 0.0f) {
        f |= ClipLeft;
    } else if (edge < x) {
        f |= ClipRight;
    }
    if (y < 0.0f) {
        f |= ClipBottom;
    } else if (edge < y) {
        f |= ClipTop;
    }
    return f;
}
inline uint8 ClipFlagsOf(const V3d& p, const ClipView& view) {
    uint8 f = ClipFlagsXY(p.x, p.y, p.z, view.perspective);
    if (p.z < view.nearPlane) {
        f |= ClipNear;
    } else if (p.z > view.farPlane) {
        f |= ClipFar;
    }
    return f;
}

// The screen values of a vertex inside the view volume, as Transform makes
// them: position in pixels, device depth, texture (u / z, v / z, 0, 1 / z).
void ClipProjectVertex(const CamSpace3DVertex& c, const ClipView& view, ScrSpace2DVertex* s);

// The clipper's working state over one packet's vertex clusters. The
// clusters must be owned (opened for writing) and hold room for the vertices
// it appends: up to 12 for one triangle.
struct ClipWork {
    const ClipView* view;
    Cluster* cam;
    Cluster* scr;
    Cluster* interpolants;  // or none
};

// Cuts the ring of vertex indices (closed: a polygon; open: a segment of two)
// at the planes in `planes`, in the order near, far, bottom, top, left,
// right, applying a plane only while some vertex is outside it. Returns the
// vertices left (less than 3 for a polygon or 2 for a segment: nothing left).
// The ring needs room for 16 entries.
int32 ClipRing(ClipWork* work, uint32* ring, int32 count, bool closed);

// Screen values of the ring's vertices that the clipper made: those on an
// edge of the volume land exactly on that edge.
void ClipProjectRing(const ClipWork& work, const uint32* ring, int32 count);

// Clip flags of a ring's vertices ORed together.
uint8 ClipRingFlags(const ClipWork& work, const uint32* ring, int32 count);

// Mesh-state flags whose vertices carry their own colours.
constexpr uint32 kMeshStateOwnColours = 0x02 | MeshStatePrelit;

// The body of "ClipTriangle.csl" (perVertex 3) and "ClipLine.csl" (2); both
// list camera vertices, screen vertices, indices, mesh state and render state
// first, and the triangle node the interpolants after them.
bool ClipNodeRun(PipelineNode* node, const ExecuteParams* params, int32 verticesPerPrimitive);

}  // namespace kv
