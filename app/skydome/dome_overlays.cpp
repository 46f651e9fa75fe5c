// The dome's overlays: the ground square under it, its wire mesh, its
// vertex normals and the sun's disc, drawn through the 3D immediate mode in
// the dome's frame.
#include <cmath>
#include <cstring>

#include "app/skydome/dome.h"
#include "engine/core/engine.h"
#include "engine/core/memory.h"
#include "engine/frame/frame.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "sky/atmosphere_medium.h"

namespace kv {

namespace {

constexpr RGBA kGroundTop = {255, 255, 255, 255};
constexpr RGBA kGroundUnderside = {160, 64, 0, 255};
constexpr RGBA kWireColour = {160, 64, 0, 255};
constexpr RGBA kNormalColour = {64, 160, 0, 255};
constexpr real kNormalLength = 0.2f;
constexpr real kGroundHalf = 1.1f;
// The sun's disc lies just inside the dome, so that it covers the dome's
// colour there; a fan of this many triangles.
constexpr real kSunDistance = 0.95f;
constexpr int32 kSunSegments = 24;

// Corners of the ground square (y = 0 in the dome's frame) and their texture
// coordinates.
constexpr V3d kGroundCorners[4] = {
    {kGroundHalf, 0.0f, -kGroundHalf},
    {-kGroundHalf, 0.0f, -kGroundHalf},
    {-kGroundHalf, 0.0f, kGroundHalf},
    {kGroundHalf, 0.0f, kGroundHalf},
};
constexpr real kGroundUV[4][2] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};

struct Scratch {
    Im3DVertex* vertices = nullptr;
    int32 vertexCapacity = 0;
    uint32* indices = nullptr;
    int32 indexCapacity = 0;
};
Scratch scratch;

// The dome's geometry and frame matrix, or false when there is no dome.
struct DomeView {
    const Geometry* geometry;
    const V3d* positions;
    const V3d* normals;
    int32 numVertices;
    const Matrix* matrix;
};
bool GetDome(DomeView* out) {
    Atomic* atomic = DomeGetAtomic();
    Geometry* geometry = atomic != nullptr ? AtomicGetGeometry(atomic) : nullptr;
    Frame* frame = atomic != nullptr ? AtomicGetFrame(atomic) : nullptr;
    if (geometry == nullptr || frame == nullptr) return false;
    const MorphTarget* target = GeometryGetMorphTarget(geometry, 0);
    if (target == nullptr || target->verts == nullptr || target->normals == nullptr) return false;
    *out = DomeView{geometry, target->verts, target->normals, GeometryGetNumVertices(geometry),
                    FrameGetWorldMatrix(frame)};
    return true;
}

// Seen: in front of the camera, its normal turned towards it.
struct Viewer {
    V3d position;
    V3d direction;
    bool Sees(const V3d& p, const V3d& n) const {
        const V3d d = V3dSub(p, position);
        return V3dDotProduct(d, direction) >= 0.0f && V3dDotProduct(d, n) < 0.0f;
    }
    bool SeesEdge(const DomeView& dome, int32 a, int32 b) const {
        const V3d p = V3dScale(V3dAdd(dome.positions[a], dome.positions[b]), 0.5f);
        const V3d n = V3dScale(V3dAdd(dome.normals[a], dome.normals[b]), 0.5f);
        return Sees(p, n);
    }
};
Viewer GetViewer() {
    Viewer v;
    DomeGetViewer(&v.position, &v.direction);
    return v;
}

Im3DVertex Vertex(const V3d& position, const V3d& normal, RGBA colour, real u = 0.0f, real v = 0.0f) {
    return Im3DVertex{position, normal, colour, u, v};
}

void DrawList(int32 numVertices, const Matrix* matrix, uint32 flags, int32 type, const uint32* indices,
              int32 numIndices) {
    if (Im3DTransform(scratch.vertices, numVertices, matrix, flags) == nullptr) return;
    if (indices != nullptr) {
        Im3DRenderIndexedPrimitive(type, indices, numIndices);
    } else {
        Im3DRenderPrimitive(type);
    }
    Im3DEnd();
}

}  // namespace

bool DomeReserveImmediate(int32 numVertices, int32 numIndices) {
    if (numVertices < 0 || numIndices < 0) return false;
    const bool growVertices = numVertices > scratch.vertexCapacity;
    const bool growIndices = numIndices > scratch.indexCapacity;
    if (!growVertices && !growIndices) return true;
    // Both or neither: the old buffers stay until the new ones exist.
    auto* vertices =
        growVertices ? static_cast<Im3DVertex*>(KvMalloc(sizeof(Im3DVertex) * static_cast<std::size_t>(numVertices)))
                     : scratch.vertices;
    auto* indices = growIndices ? static_cast<uint32*>(KvMalloc(sizeof(uint32) * static_cast<std::size_t>(numIndices)))
                                : scratch.indices;
    if ((growVertices && vertices == nullptr) || (growIndices && indices == nullptr)) {
        if (growVertices) KvFree(vertices);
        if (growIndices) KvFree(indices);
        return false;
    }
    if (growVertices) {
        KvFree(scratch.vertices);
        scratch.vertices = vertices;
        scratch.vertexCapacity = numVertices;
    }
    if (growIndices) {
        KvFree(scratch.indices);
        scratch.indices = indices;
        scratch.indexCapacity = numIndices;
    }
    return true;
}

void DomeFreeImmediate() {
    KvFree(scratch.vertices);
    KvFree(scratch.indices);
    scratch = Scratch{};
}

void DomeDrawGround() {
    DomeView dome;
    if (!GetDome(&dome) || !DomeReserveImmediate(6, 0)) return;
    Im3DVertex* v = scratch.vertices;
    // The top face winds counter-clockwise seen from above, the underside
    // the other way round: each shows from its own side only.
    const V3d up{0.0f, 1.0f, 0.0f};
    static const int32 kTop[6] = {0, 1, 2, 0, 2, 3};
    for (int32 i = 0; i < 6; ++i) {
        const int32 c = kTop[i];
        v[i] = Vertex(kGroundCorners[c], up, kGroundTop, kGroundUV[c][0], kGroundUV[c][1]);
    }
    DrawList(6, dome.matrix, Im3DTransformUV | Im3DTransformNoAlpha, PrimTypeTriList, nullptr, 0);

    RenderStateSet(StateTextureRaster, 0);
    RenderStateSet(StateShadeMode, 1);
    const V3d down{0.0f, -1.0f, 0.0f};
    static const int32 kUnderside[6] = {0, 2, 1, 0, 3, 2};
    for (int32 i = 0; i < 6; ++i) v[i] = Vertex(kGroundCorners[kUnderside[i]], down, kGroundUnderside);
    DrawList(6, dome.matrix, Im3DTransformNoAlpha, PrimTypeTriList, nullptr, 0);
}

void DomeDrawWire() {
    DomeView dome;
    if (!GetDome(&dome)) return;
    const DomeTessellation* tess = DomeGetTessellation();
    const int32 r = tess->rings;
    const int32 s = tess->segments;
    const int32 numVertices = r * s + 1;
    // The mesh drawn is the dome that exists, which the tessellation describes.
    if (r <= 0 || s <= 0 || numVertices != dome.numVertices) return;
    if (!DomeReserveImmediate(numVertices, 4 * r * s)) return;
    Im3DVertex* v = scratch.vertices;
    for (int32 i = 0; i < numVertices; ++i) v[i] = Vertex(dome.positions[i], dome.normals[i], kWireColour);

    const Viewer viewer = GetViewer();
    uint32* out = scratch.indices;
    int32 n = 0;
    auto edge = [&](int32 a, int32 b) {
        if (!viewer.SeesEdge(dome, a, b)) return;
        out[n++] = static_cast<uint32>(a);
        out[n++] = static_cast<uint32>(b);
    };
    for (int32 j = 0; j < r; ++j) {
        for (int32 t = 0; t + 1 < s; ++t) edge(j * s + t, j * s + t + 1);
        edge(j * s + s - 1, j * s);
    }
    for (int32 t = 0; t < s; ++t) {
        for (int32 k = 0; k + 1 < r; ++k) edge(k * s + t, (k + 1) * s + t);
    }
    for (int32 t = 0; t < s; ++t) edge((r - 1) * s + t, numVertices - 1);
    if (n < 2) return;
    DrawList(numVertices, dome.matrix, Im3DTransformNoAlpha, PrimTypeLineList, out, n);
}

void DomeDrawNormals() {
    DomeView dome;
    if (!GetDome(&dome) || !DomeReserveImmediate(2 * dome.numVertices, 0)) return;
    const Viewer viewer = GetViewer();
    Im3DVertex* v = scratch.vertices;
    int32 n = 0;
    for (int32 i = 0; i < dome.numVertices; ++i) {
        const V3d& p = dome.positions[i];
        const V3d& normal = dome.normals[i];
        if (!viewer.Sees(p, normal)) continue;
        v[n++] = Vertex(p, normal, kNormalColour);
        v[n++] = Vertex(V3dIncrementScaled(p, normal, kNormalLength), normal, kNormalColour);
    }
    if (n < 2) return;
    DrawList(n, dome.matrix, Im3DTransformNoAlpha, PrimTypeLineList, nullptr, 0);
}

void DomeDrawSun(V3d direction, RGBA colour) {
    DomeView dome;
    if (!GetDome(&dome) || !DomeReserveImmediate(3 * kSunSegments, 0)) return;
    V3d d;
    if (V3dDotProduct(direction, direction) <= 0.0f) return;
    V3dNormalize(&d, &direction);
    // Two axes across the disc.
    const V3d helper = std::fabs(d.y) < 0.9f ? V3d{0.0f, 1.0f, 0.0f} : V3d{1.0f, 0.0f, 0.0f};
    V3d u;
    const V3d across = V3dCrossProduct(helper, d);
    V3dNormalize(&u, &across);
    const V3d w = V3dCrossProduct(d, u);
    const V3d centre = V3dScale(d, kSunDistance);
    const real radius = kSunDistance * static_cast<real>(std::tan(kSunAngularRadius));
    auto rim = [&](int32 i) {
        const real a = 6.2831855f * static_cast<real>(i) / kSunSegments;
        V3d p = V3dIncrementScaled(V3dIncrementScaled(centre, u, radius * std::cos(a)), w, radius * std::sin(a));
        // What the ground hides of a setting sun is not drawn below the horizon.
        if (p.y < 0.0f) p.y = 0.0f;
        return p;
    };
    const V3d normal = V3dNegate(d);
    Im3DVertex* v = scratch.vertices;
    // Counter-clockwise seen from the dome's centre, where the preview looks from.
    for (int32 i = 0; i < kSunSegments; ++i) {
        v[3 * i] = Vertex(centre, normal, colour);
        v[3 * i + 1] = Vertex(rim(i + 1), normal, colour);
        v[3 * i + 2] = Vertex(rim(i), normal, colour);
    }
    DrawList(3 * kSunSegments, dome.matrix, Im3DTransformNoAlpha, PrimTypeTriList, nullptr, 0);
}

}  // namespace kv
