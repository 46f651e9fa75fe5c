// The dome's overlays: the ground square under it, its wire mesh, its
// vertex normals, the sun's disc and the night's bodies, drawn through the
// 3D immediate mode in the dome's frame.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/skydome/dome.h"
#include "app/skydome/program_sky.h"
#include "engine/core/engine.h"
#include "engine/core/memory.h"
#include "engine/frame/frame.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "sky/atmosphere_medium.h"
#include "sky/panorama_rows.h"

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
// The night's bodies: inside the dome as the sun's disc in the preview, just
// outside it in the orbit view (where the depth test hides the far side's).
constexpr real kBodyInside = 0.95f;
constexpr real kBodyOutside = 1.004f;
// A star or a planet is a square this many pixels across; the moon's disc
// at least this many pixels in radius, so that it shows in a wide view.
constexpr double kPointPixels = 1.5;
constexpr double kMoonMinPixels = 1.5;
constexpr int32 kMoonSteps = 16;

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

namespace {

V3d Towards(double theta, double phi) {
    return V3d{static_cast<real>(std::sin(theta) * std::sin(phi)), static_cast<real>(std::cos(theta)),
               static_cast<real>(std::sin(theta) * std::cos(phi))};
}

// Two unit axes across the line of sight d.
void Across(const V3d& d, V3d* u, V3d* w) {
    const V3d helper = std::fabs(d.y) < 0.9f ? V3d{0.0f, 1.0f, 0.0f} : V3d{1.0f, 0.0f, 0.0f};
    const V3d across = V3dCrossProduct(helper, d);
    V3dNormalize(u, &across);
    *w = V3dCrossProduct(d, *u);
}

// Appends a triangle given counter-clockwise seen from outside the dome,
// wound to face the dome's centre (the preview) or away from it (the orbit
// view), where the viewer is.
void Triangle3(Im3DVertex* v, int32* n, const V3d& a, const V3d& b, const V3d& c, const V3d& normal, RGBA colour,
               bool outside) {
    v[(*n)++] = Vertex(a, normal, colour);
    v[(*n)++] = Vertex(outside ? b : c, normal, colour);
    v[(*n)++] = Vertex(outside ? c : b, normal, colour);
}

bool Same(RGBA a, RGBA b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

// The dome's own colour (the model's RGB) towards a direction, interpolated
// between the vertices of its grid as the dome's shading is: a body's light
// is added to it. Black without colours for the dome that exists.
RGBAReal SkyBehind(double theta, double phi) {
    const DomeTessellation* tess = DomeGetTessellation();
    const int32 rings = tess->rings;
    const RGBAReal* colours = DomeGetColors();
    if (rings <= 0 || colours == nullptr || DomeGetColorCapacity() < DomeVertexCount(rings)) return RGBAReal{};
    const int32 segments = 4 * rings;
    const double step = 6.283185307179586 / segments;
    const double ring = std::clamp((0.5 * 3.14159265358979 - theta) / step, 0.0, static_cast<double>(rings));
    double around = phi / step;
    around -= segments * std::floor(around / segments);
    const auto i = std::min(static_cast<int32>(ring), rings - 1);
    const auto j = std::min(static_cast<int32>(around), segments - 1);
    const double fi = ring - i, fj = around - j;
    const int32 apex = rings * segments;
    auto at = [&](int32 r, int32 s) { return colours[r >= rings ? apex : r * segments + s % segments]; };
    const RGBAReal a = at(i, j), b = at(i, j + 1), c = at(i + 1, j), d = at(i + 1, j + 1);
    auto mix = [&](real RGBAReal::*m) {
        return static_cast<real>((1.0 - fi) * ((1.0 - fj) * a.*m + fj * b.*m) + fi * ((1.0 - fj) * c.*m + fj * d.*m));
    };
    return RGBAReal{mix(&RGBAReal::red), mix(&RGBAReal::green), mix(&RGBAReal::blue), 0.0f};
}

}  // namespace

int32 DomePrepareBodies(double pixelAngle, bool outside) {
    const PanoramaBodies* bodies = SkyModelBodies(ProgramSky());
    if (bodies == nullptr || !(pixelAngle > 0.0)) return 0;
    const PanoramaMoon& moon = bodies->moon;
    const int32 wanted = 6 * static_cast<int32>(bodies->points.size()) + (moon.shown ? 6 * kMoonSteps : 0);
    if (wanted == 0 || !DomeReserveImmediate(wanted, 0)) return 0;
    const real distance = outside ? kBodyOutside : kBodyInside;
    Im3DVertex* v = scratch.vertices;
    int32 n = 0;
    // A point's flux over the square it is drawn as gives its radiance, as
    // a panorama spreads it over the pixel it lands on.
    const double side = kPointPixels * pixelAngle;
    const double perSteradian = 1.0 / (side * side);
    for (const PanoramaPoint& p : bodies->points) {
        if (p.theta > 0.5 * 3.14159265358979) continue;  // below the horizon
        // Added to the sky behind it; one that does not change its pixel is
        // not drawn.
        const RGBAReal sky = SkyBehind(p.theta, p.phi);
        const RGBAReal radiance{static_cast<real>(sky.red + p.flux.red * perSteradian),
                                static_cast<real>(sky.green + p.flux.green * perSteradian),
                                static_cast<real>(sky.blue + p.flux.blue * perSteradian), 0.0f};
        const RGBA colour = DomeToneMap(radiance);
        if (Same(colour, DomeToneMap(sky))) continue;
        const V3d d = Towards(p.theta, p.phi);
        V3d u, w;
        Across(d, &u, &w);
        const V3d centre = V3dScale(d, distance);
        const real h = static_cast<real>(0.5 * side) * distance;
        const V3d a = V3dIncrementScaled(V3dIncrementScaled(centre, u, -h), w, -h);
        const V3d b = V3dIncrementScaled(V3dIncrementScaled(centre, u, h), w, -h);
        const V3d c = V3dIncrementScaled(V3dIncrementScaled(centre, u, h), w, h);
        const V3d e = V3dIncrementScaled(V3dIncrementScaled(centre, u, -h), w, h);
        const V3d normal = V3dNegate(d);
        Triangle3(v, &n, a, b, c, normal, colour, outside);
        Triangle3(v, &n, a, c, e, normal, colour, outside);
    }
    if (moon.shown && moon.theta < 0.5 * 3.14159265358979 + moon.radius) {
        const V3d d = Towards(moon.theta, moon.phi);
        // The disc's axis towards the sun, and how far the terminator bulges
        // the other way: k = -cos(phase angle), -1 full, 1 new.
        const V3d toSun{static_cast<real>(moon.toSunX), static_cast<real>(moon.toSunY), static_cast<real>(moon.toSunZ)};
        const real k = V3dDotProduct(toSun, d);
        const V3d alongSun = V3dIncrementScaled(toSun, d, -k);
        V3d e1, e2;
        if (V3dLength(&alongSun) > 1e-6f) {
            V3dNormalize(&e1, &alongSun);
            e2 = V3dCrossProduct(d, e1);
        } else {
            Across(d, &e1, &e2);
        }
        // The lit part's share of the disc: (1 - k) / 2; its radiance is the
        // flux over that solid angle.
        const double lit = 0.5 * (1.0 - static_cast<double>(k));
        const double area = 3.14159265358979 * moon.radius * moon.radius * lit;
        if (area > 1e-12) {
            const RGBAReal sky = SkyBehind(moon.theta, moon.phi);
            const RGBAReal radiance{static_cast<real>(sky.red + moon.flux.red / area),
                                    static_cast<real>(sky.green + moon.flux.green / area),
                                    static_cast<real>(sky.blue + moon.flux.blue / area), 0.0f};
            const RGBA colour = DomeToneMap(radiance);
            const double radius = std::max(moon.radius, kMoonMinPixels * pixelAngle);
            const real r = static_cast<real>(std::tan(radius)) * distance;
            const V3d centre = V3dScale(d, distance);
            const V3d normal = V3dNegate(d);
            // The lit part between the bright limb, P(t), and the terminator,
            // T(t), both from one pole of the disc (t = 0) to the other.
            auto at = [&](double t, real bulge) {
                V3d p = V3dIncrementScaled(centre, e2, r * static_cast<real>(std::cos(t)));
                p = V3dIncrementScaled(p, e1, r * bulge * static_cast<real>(std::sin(t)));
                // What the ground hides is not drawn below the horizon.
                if (p.y < 0.0f) p.y = 0.0f;
                return p;
            };
            if (!Same(colour, DomeToneMap(sky))) {
                for (int32 i = 0; i < kMoonSteps; ++i) {
                    const double t0 = 3.14159265358979 * i / kMoonSteps;
                    const double t1 = 3.14159265358979 * (i + 1) / kMoonSteps;
                    const V3d p0 = at(t0, 1.0f), p1 = at(t1, 1.0f);
                    const V3d q0 = at(t0, k), q1 = at(t1, k);
                    Triangle3(v, &n, p0, q0, p1, normal, colour, outside);
                    Triangle3(v, &n, p1, q0, q1, normal, colour, outside);
                }
            }
        }
    }
    return n;
}

void DomeDrawBodies(double pixelAngle, bool outside) {
    DomeView dome;
    if (!GetDome(&dome)) return;
    const int32 n = DomePrepareBodies(pixelAngle, outside);
    if (n == 0) return;
    DrawList(n, dome.matrix, Im3DTransformNoAlpha, PrimTypeTriList, nullptr, 0);
}

}  // namespace kv
