#include "dome.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "app/skydome/controls.h"
#include "app/skydome/program_sky.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/frame/frame.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/material.h"
#include "engine/world/world.h"
#include "sky/analytic_sky.h"
#include "sky/exposure.h"
#include "sky/sky_colours.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

constexpr RGBA kBlack = {0, 0, 0, 255};
constexpr RGBA kWhite = {255, 255, 255, 255};
constexpr DomeSettings kDefaultSettings = {kDomeDefaultResolution, kDomeDefaultExposure, 1, 0, 1, 0, 0, 0, 0, 0, 0.0f};

struct DomeState {
    DomeSettings settings = kDefaultSettings;
    DomeTessellation tessellation = {0, 0};
    RGBAReal* colours = nullptr;
    int32 capacity = 0;
    // The recolour cache and the positions it was made from: a sun change on
    // the same dome then only evaluates what depends on the sun.
    SkyColorCache cache{};
    bool cacheReady = false;
    V3d* cachedPositions = nullptr;
    int32 cachedCount = 0;
    int32 cachedCapacity = 0;
    Atomic* atomic = nullptr;
    Frame* cameraFrame = nullptr;
    V3d viewerPosition = {0.0f, 0.0f, 0.0f};
    V3d viewerDirection = {0.0f, 0.0f, 1.0f};
    DomeMessageFn report = nullptr;
    // Photographic exposure: the colours in Rec. 709 for the meter and the
    // curve, and the EV100 last used.
    std::vector<RGBAReal> rec709;
    double ev = 0.0;
    bool exposureChosen = false;
};
DomeState dome;

void Report(const char* text) {
    if (dome.report != nullptr) {
        dome.report(text);
    } else {
        std::fprintf(stderr, "skydome: %s\n", text);
    }
}

Geometry* DomeGeometry(const Atomic* atomic) { return atomic != nullptr ? AtomicGetGeometry(atomic) : nullptr; }

// Makes the cache hold the directions of these positions. False (the cache
// then holds none) when memory runs out.
bool CacheDirections(const V3d* positions, int32 count) {
    const std::size_t bytes = sizeof(V3d) * static_cast<std::size_t>(count);
    if (dome.cacheReady && dome.cachedCount == count && std::memcmp(dome.cachedPositions, positions, bytes) == 0) {
        return true;
    }
    dome.cacheReady = false;
    if (count > dome.cachedCapacity) {
        auto* grown = static_cast<V3d*>(KvRealloc(dome.cachedPositions, bytes));
        if (grown == nullptr) return false;
        dome.cachedPositions = grown;
        dome.cachedCapacity = count;
    }
    if (!SkyColorCacheSetDirections(&dome.cache, positions, count)) return false;
    std::memcpy(dome.cachedPositions, positions, bytes);
    dome.cachedCount = count;
    dome.cacheReady = true;
    return true;
}

// The meter's reading of the dome's colours (dome.rec709, one per vertex):
// the whole dome from outside, the camera's view from inside.
double Meter(const V3d* positions, int32 n) {
    if (dome.settings.preview == 0) return ExposureMeterHemisphere(positions, dome.rec709.data(), n, nullptr, -1.0);
    // The cone around the view's centre that reaches its corners (4:3).
    const double half = 0.5 * static_cast<double>(ViewGetState()->previewFieldOfView) * kSkyDegToRad;
    const double corner = std::atan(std::tan(half) * 1.25);
    V3d look = dome.viewerDirection;
    const real length = V3dLength(&look);
    if (!(length > 0.0f)) return ExposureMeterHemisphere(positions, dome.rec709.data(), n, nullptr, -1.0);
    look = V3dScale(look, 1.0f / length);
    return ExposureMeterHemisphere(positions, dome.rec709.data(), n, &look, std::cos(corner));
}

// The photographic tone map of the colour buffer into prelit colours; false
// when the Rec. 709 copy cannot be made (the caller paints black).
bool ApplyPhotographic(Geometry* geometry, RGBA* prelit, int32 n) {
    try {
        dome.rec709.assign(dome.colours, dome.colours + n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    SkyModelToRec709(dome.rec709.data(), n);
    const DomeSettings& s = dome.settings;
    dome.ev = s.evFixed != 0 ? static_cast<double>(s.ev)
                             : Meter(MorphTargetGetVertices(GeometryGetMorphTarget(geometry, 0)), n);
    ExposureToneMapColors(dome.rec709.data(), prelit, n, ExposureToneFor(dome.ev, s.nightVision != 0));
    return true;
}

void SunMoved(float /*thetaDegrees*/, float /*phiDegrees*/, void* /*data*/) {
    if (dome.atomic != nullptr) DomeComputeColors(dome.atomic);
}

}  // namespace

DomeSettings* DomeGetSettings() { return &dome.settings; }
const DomeTessellation* DomeGetTessellation() { return &dome.tessellation; }

Geometry* DomeBuild(int32 rings) {
    if (rings < kDomeMinResolution || rings > kDomeMaxResolution) {
        // Vertex indices are 16-bit; the menu never offers more.
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return nullptr;
    }
    const int32 numVertices = DomeVertexCount(rings);
    const int32 numTriangles = DomeTriangleCount(rings);
    Geometry* geometry = GeometryCreate(numVertices, numTriangles, GeometryPrelit | GeometryNormals);
    if (geometry == nullptr) return nullptr;

    MorphTarget* target = GeometryGetMorphTarget(geometry, 0);
    V3d* positions = MorphTargetGetVertices(target);
    V3d* normals = MorphTargetGetNormals(target);
    RGBA* prelit = GeometryGetPrelitColors(geometry);
    // The sky's colour cache takes its directions from the same function.
    SkyHemisphereDirections(rings, positions);
    for (int32 v = 0; v < numVertices; ++v) {
        normals[v] = positions[v];
        prelit[v] = kBlack;
    }

    Material* material = MaterialCreate();
    if (material == nullptr) {
        GeometryDestroy(geometry);
        return nullptr;
    }
    MaterialSetColor(material, &kWhite);

    Triangle* triangles = GeometryGetTriangles(geometry);
    // The faces are the sky's own, as the exports without a dome make them.
    std::vector<uint16> faces(static_cast<std::size_t>(numTriangles) * 3);
    SkyHemisphereTriangles(rings, faces.data());
    bool ok = true;
    for (int32 t = 0; t < numTriangles; ++t) {
        Triangle* tri = triangles + t;
        const uint16* v = &faces[static_cast<std::size_t>(t) * 3];
        TriangleSetVertexIndices(geometry, tri, v[0], v[1], v[2]);
        if (TriangleSetMaterial(geometry, tri, material) == nullptr) ok = false;
    }

    Sphere sphere;
    MorphTargetCalcBoundingSphere(target, &sphere);
    MorphTargetSetBoundingSphere(target, &sphere);
    if (ok) ok = GeometryUnlock(geometry) != nullptr;
    // The triangles hold the geometry's own references.
    MaterialDestroy(material);
    if (!ok) {
        GeometryDestroy(geometry);
        return nullptr;
    }
    return geometry;
}

void DomeInvert() {
    Geometry* geometry = DomeGeometry(dome.atomic);
    if (geometry == nullptr) return;
    GeometryLock(geometry, GeometryLockPolygons | GeometryLockNormals);
    V3d* normals = MorphTargetGetNormals(GeometryGetMorphTarget(geometry, 0));
    const int32 n = GeometryGetNumVertices(geometry);
    for (int32 i = 0; normals != nullptr && i < n; ++i) normals[i] = V3dNegate(normals[i]);
    Triangle* triangles = GeometryGetTriangles(geometry);
    for (int32 i = 0; i < GeometryGetNumTriangles(geometry); ++i) {
        uint16* v = triangles[i].vertIndex;
        const uint16 b = v[1];
        v[1] = v[2];
        v[2] = b;
    }
    GeometryUnlock(geometry);
}

bool DomeTessellate() {
    if (dome.atomic == nullptr) return false;
    const int32 rings = dome.settings.resolution;
    Geometry* geometry = DomeBuild(rings);
    if (geometry == nullptr) return false;
    if (!DomeReserveColors(GeometryGetNumVertices(geometry))) {
        GeometryDestroy(geometry);
        Report("Tessellation failed.");
        return false;
    }
    if (AtomicSetGeometry(dome.atomic, geometry, 0) == nullptr) {
        GeometryDestroy(geometry);
        return false;
    }
    GeometryDestroy(geometry);  // the atomic keeps it; the old one goes with its last reference
    DomeComputeColors(dome.atomic);
    // A new dome faces outwards.
    if (dome.settings.preview != 0) DomeInvert();
    dome.tessellation = DomeTessellation{rings, 4 * rings};
    return true;
}

bool DomeReserveColors(int32 count) {
    if (count <= dome.capacity) return true;
    auto* grown = static_cast<RGBAReal*>(KvRealloc(dome.colours, sizeof(RGBAReal) * static_cast<std::size_t>(count)));
    if (grown == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(sizeof(RGBAReal)) * count);
        return false;
    }
    // New entries read as black until they are computed.
    std::memset(static_cast<void*>(grown + dome.capacity), 0,
                sizeof(RGBAReal) * static_cast<std::size_t>(count - dome.capacity));
    dome.colours = grown;
    dome.capacity = count;
    return true;
}

void DomeFreeColors() {
    KvFree(dome.colours);
    dome.colours = nullptr;
    dome.capacity = 0;
}

int32 DomeGetColorCapacity() { return dome.capacity; }
const RGBAReal* DomeGetColors() { return dome.colours; }

void DomeComputeColors(Atomic* atomic) {
    Geometry* geometry = DomeGeometry(atomic);
    if (geometry == nullptr) return;
    const int32 n = GeometryGetNumVertices(geometry);
    if (!DomeReserveColors(n)) return;
    const V3d* positions = MorphTargetGetVertices(GeometryGetMorphTarget(geometry, 0));
    // Without the per-direction tables, when they could not grow, the same
    // colours come more slowly.
    SkyModelColors(positions, n, CacheDirections(positions, n) ? &dome.cache : nullptr, dome.colours);
    DomeApplyColors(atomic, dome.settings.sky != 0);
}

void DomeApplyColors(Atomic* atomic, bool on) {
    Geometry* geometry = DomeGeometry(atomic);
    if (geometry == nullptr) return;
    RGBA* prelit = GeometryGetPrelitColors(geometry);
    if (prelit == nullptr) return;
    const int32 n = GeometryGetNumVertices(geometry);
    GeometryLock(geometry, GeometryLockPrelight);
    if (on && n <= dome.capacity && dome.settings.autoExposure != 0) {
        if (!ApplyPhotographic(geometry, prelit, n)) {
            for (int32 i = 0; i < n; ++i) prelit[i] = kBlack;
        }
    } else if (on && n <= dome.capacity) {
        SkyToneMapColors(dome.colours, prelit, n, dome.settings.exposure);
    } else {
        for (int32 i = 0; i < n; ++i) prelit[i] = kBlack;
    }
    GeometryUnlock(geometry);
}

double DomeExposureEV() { return dome.ev; }

RGBA DomeToneMap(const RGBAReal& colour) {
    if (dome.settings.autoExposure == 0) return SkyToneMap(&colour, dome.settings.exposure);
    RGBAReal c = colour;
    SkyModelToRec709(&c, 1);
    return ExposureToneMap(c, ExposureToneFor(dome.ev, dome.settings.nightVision != 0));
}

SkyPictureExposure DomePictureExposure() {
    const DomeSettings& s = dome.settings;
    SkyPictureExposure e;
    e.k = s.exposure;
    e.photographic = s.autoExposure != 0;
    e.metered = s.evFixed == 0;
    e.ev100 = s.ev;
    e.nightVision = s.nightVision != 0;
    return e;
}

void DomeExposureChosen() { dome.exposureChosen = true; }

void DomeExposureFollowModel(bool physical) {
    if (dome.exposureChosen || (dome.settings.autoExposure != 0) == physical) return;
    dome.settings.autoExposure = physical ? 1 : 0;
    dome.settings.evFixed = 0;
    DomeApplyColors(dome.atomic, dome.settings.sky != 0);
}

Atomic* DomeGetAtomic() { return dome.atomic; }
void DomeSetCameraFrame(Frame* frame) { dome.cameraFrame = frame; }

void DomeUpdateViewer() {
    Frame* domeFrame = dome.atomic != nullptr ? AtomicGetFrame(dome.atomic) : nullptr;
    if (domeFrame == nullptr || dome.cameraFrame == nullptr) return;
    Matrix inverse;
    MatrixInvert(&inverse, FrameGetWorldMatrix(domeFrame));
    const Matrix* camera = FrameGetWorldMatrix(dome.cameraFrame);
    V3dTransformPoints(&dome.viewerPosition, &camera->pos, 1, &inverse);
    V3dTransformVectors(&dome.viewerDirection, &camera->at, 1, &inverse);
    // The meter follows what the preview's camera looks at.
    const DomeSettings& s = dome.settings;
    if (s.autoExposure != 0 && s.evFixed == 0 && s.preview != 0 && s.sky != 0) DomeApplyColors(dome.atomic, true);
}

void DomeGetViewer(V3d* position, V3d* direction) {
    if (position != nullptr) *position = dome.viewerPosition;
    if (direction != nullptr) *direction = dome.viewerDirection;
}

Clump* DomeClumpCreate(World* world, int32 rings) {
    Clump* clump = ClumpCreate();
    Frame* clumpFrame = FrameCreate();
    Atomic* atomic = AtomicCreate();
    Frame* atomicFrame = FrameCreate();
    Geometry* geometry = DomeBuild(rings);
    bool ok = clump != nullptr && clumpFrame != nullptr && atomic != nullptr && atomicFrame != nullptr &&
              geometry != nullptr && AtomicSetGeometry(atomic, geometry, 0) != nullptr &&
              DomeReserveColors(GeometryGetNumVertices(geometry));
    GeometryDestroy(geometry);  // the atomic's reference, if any, keeps it
    if (ok) {
        ClumpSetFrame(clump, clumpFrame);
        AtomicSetFrame(atomic, atomicFrame);
        FrameAddChild(clumpFrame, atomicFrame);
        ok = ClumpAddAtomic(clump, atomic) != nullptr;
        if (!ok) {
            AtomicSetFrame(atomic, nullptr);
            ClumpSetFrame(clump, nullptr);
        }
    }
    if (ok && world != nullptr) ok = WorldAddClump(world, clump) != nullptr;
    if (!ok) {
        if (clump != nullptr && ClumpGetFrame(clump) != nullptr) {
            ClumpDestroy(clump);  // with its atomic and both frames
        } else {
            if (atomic != nullptr) AtomicDestroy(atomic);
            if (clump != nullptr) ClumpDestroy(clump);
            if (atomicFrame != nullptr) FrameDestroy(atomicFrame);
            if (clumpFrame != nullptr) FrameDestroy(clumpFrame);
        }
        return nullptr;
    }
    dome.atomic = atomic;
    dome.tessellation = DomeTessellation{rings, 4 * rings};
    return clump;
}

void DomeClumpPlaceOrbit(Clump* clump) {
    Frame* frame = ClumpGetFrame(clump);
    const V3d yAxis{0.0f, 1.0f, 0.0f};
    const V3d xAxis{1.0f, 0.0f, 0.0f};
    const V3d away{0.0f, 0.0f, 4.5f};
    FrameRotate(frame, &yAxis, 180.0f, CombineReplace);
    FrameRotate(frame, &xAxis, -45.0f, CombinePostConcat);
    FrameTranslate(frame, &away, CombinePostConcat);
}

void DomeClumpDestroy(Clump* clump) {
    if (clump == nullptr) return;
    World* world = ClumpGetWorld(clump);
    if (world != nullptr) WorldRemoveClump(world, clump);
    if (dome.atomic != nullptr && AtomicGetClump(dome.atomic) == clump) dome.atomic = nullptr;
    ClumpDestroy(clump);
}

void DomeSetMessageFunction(DomeMessageFn report) { dome.report = report; }

void DomeAttachToSky() { SkySetSunMovedHook(SunMoved, nullptr); }

void DomeReset() {
    DomeFreeColors();
    DomeFreeImmediate();
    SkyColorCacheRelease(&dome.cache);
    KvFree(dome.cachedPositions);
    const DomeMessageFn report = dome.report;
    dome = DomeState{};
    dome.report = report;
    SkyColorCacheInit(&dome.cache);
}

}  // namespace kv
