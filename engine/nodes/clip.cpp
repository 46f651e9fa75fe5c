#include "clip.h"

#include <initializer_list>

#include "engine/camera/camera.h"
#include "engine/core/error.h"
#include "engine/image/raster.h"
#include "engine/pipe/pipeline_module.h"

namespace kv {

namespace {

CamSpace3DVertex* Cam(const ClipWork& w) { return static_cast<CamSpace3DVertex*>(w.cam->data); }
ScrSpace2DVertex* Scr(const ClipWork& w) { return static_cast<ScrSpace2DVertex*>(w.scr->data); }

real Lerp(real a, real b, real t) { return a + (b - a) * t; }

// Colour bytes cut back to whole values, as the rasteriser would.
uint8 LerpByte(uint8 a, uint8 b, real t) {
    const real v = Lerp(static_cast<real>(a), static_cast<real>(b), t);
    return v <= 0.0f ? uint8{0} : v >= 255.0f ? uint8{255} : static_cast<uint8>(v);
}

real Ratio(real num, real den) { return den != 0.0f ? num / den : 0.0f; }

// The vertex where the edge from the outside vertex a to the inside vertex b
// crosses the plane; appended to the clusters. Returns its index.
uint32 Cut(ClipWork* w, uint32 ia, uint32 ib, uint8 plane) {
    const ClipView& view = *w->view;
    const uint32 in = w->cam->numUsed;
    CamSpace3DVertex* cam = Cam(*w);
    ScrSpace2DVertex* scr = Scr(*w);
    const CamSpace3DVertex a = cam[ia];
    const CamSpace3DVertex b = cam[ib];
    const V3d& p = a.position;
    const V3d& q = b.position;
    const bool persp = view.perspective;
    real t = 0.0f;
    switch (plane) {
        case ClipNear:
            t = Ratio(view.nearPlane - p.z, q.z - p.z);
            break;
        case ClipFar:
            t = Ratio(view.farPlane - p.z, q.z - p.z);
            break;
        case ClipBottom:
            t = Ratio(p.y, p.y - q.y);
            break;
        case ClipTop:
            t = persp ? Ratio(p.y - p.z, (p.y - p.z) - (q.y - q.z)) : Ratio(1.0f - p.y, q.y - p.y);
            break;
        case ClipLeft:
            t = Ratio(p.x, p.x - q.x);
            break;
        default:  // ClipRight
            t = persp ? Ratio(p.x - p.z, (p.x - p.z) - (q.x - q.z)) : Ratio(1.0f - p.x, q.x - p.x);
            break;
    }
    CamSpace3DVertex& c = cam[in];
    c = a;
    c.position = V3d{Lerp(p.x, q.x, t), Lerp(p.y, q.y, t), Lerp(p.z, q.z, t)};
    c.red = Lerp(a.red, b.red, t);
    c.green = Lerp(a.green, b.green, t);
    c.blue = Lerp(a.blue, b.blue, t);
    c.alpha = Lerp(a.alpha, b.alpha, t);
    c.u = Lerp(a.u, b.u, t);
    c.v = Lerp(a.v, b.v, t);
    V3d& n = c.position;
    // The coordinate of the plane itself is exact, and the new vertex carries
    // the plane's bit as the mark that it lies on it.
    switch (plane) {
        case ClipNear:
        case ClipFar:
            n.z = plane == ClipNear ? view.nearPlane : view.farPlane;
            c.clipFlags = static_cast<uint8>(plane | ClipFlagsXY(n.x, n.y, n.z, persp));
            break;
        case ClipBottom:
        case ClipTop: {
            n.y = plane == ClipBottom ? 0.0f : (persp ? n.z : 1.0f);
            const uint8 x = ClipFlagsXY(n.x, 0.0f, n.z, persp) & (ClipLeft | ClipRight);
            c.clipFlags =
                static_cast<uint8>((a.clipFlags & ~(ClipLeft | ClipRight | ClipBottom | ClipTop)) | plane | x);
            break;
        }
        case ClipLeft:
            n.x = 0.0f;
            c.clipFlags = static_cast<uint8>((a.clipFlags & ~ClipRight) | ClipLeft);
            break;
        default:
            n.x = persp ? n.z : 1.0f;
            c.clipFlags = static_cast<uint8>((a.clipFlags & ~ClipLeft) | ClipRight);
            break;
    }
    ScrSpace2DVertex& s = scr[in];
    s = scr[ia];
    s.r = LerpByte(scr[ia].r, scr[ib].r, t);
    s.g = LerpByte(scr[ia].g, scr[ib].g, t);
    s.b = LerpByte(scr[ia].b, scr[ib].b, t);
    s.a = LerpByte(scr[ia].a, scr[ib].a, t);
    w->cam->numUsed = in + 1;
    w->scr->numUsed = in + 1;
    if (w->interpolants != nullptr) {
        auto* list = static_cast<ClipInterpolant*>(w->interpolants->data);
        list[w->interpolants->numUsed++] = ClipInterpolant{in, ia, ib, t};
    }
    return in;
}

// One plane over the ring; returns the new count.
int32 ClipPlane(ClipWork* w, uint32* ring, int32 count, bool closed, uint8 plane) {
    uint32 out[16];
    int32 n = 0;
    const CamSpace3DVertex* cam = Cam(*w);
    if (!closed) {
        // A segment: an outside end moves to the plane.
        const bool aIn = (cam[ring[0]].clipFlags & plane) == 0;
        const bool bIn = (cam[ring[1]].clipFlags & plane) == 0;
        if (!aIn && !bIn) return 0;
        if (!aIn) ring[0] = Cut(w, ring[0], ring[1], plane);
        if (!bIn) ring[1] = Cut(w, ring[1], ring[0], plane);
        return 2;
    }
    uint32 prev = ring[count - 1];
    for (int32 i = 0; i < count && n < 15; ++i) {
        const uint32 cur = ring[i];
        // Cut may move the clusters: look the flags up again each time.
        const bool prevIn = (Cam(*w)[prev].clipFlags & plane) == 0;
        const bool curIn = (Cam(*w)[cur].clipFlags & plane) == 0;
        if (prevIn) out[n++] = prev;
        if (prevIn != curIn) out[n++] = prevIn ? Cut(w, cur, prev, plane) : Cut(w, prev, cur, plane);
        prev = cur;
    }
    for (int32 i = 0; i < n; ++i) ring[i] = out[i];
    return n;
}

}  // namespace

const ClipView* ClipViewRead(ClipView* view) {
    EngineInstance* instance = EngineInstanceGet();
    const auto* camera = instance != nullptr ? static_cast<const Camera*>(instance->curCamera) : nullptr;
    const Raster* raster = camera != nullptr ? CameraGetRaster(camera) : nullptr;
    if (raster == nullptr) {
        ErrorRaise(kModuleCore, kErrCoreNoCamera);
        return nullptr;
    }
    view->perspective = CameraGetProjection(camera) == ProjectionPerspective;
    view->width = static_cast<real>(raster->width);
    view->height = static_cast<real>(raster->height);
    view->nearPlane = camera->nearPlane;
    view->farPlane = camera->farPlane;
    view->zScale = camera->zScale;
    view->zShift = camera->zShift;
    const real n = view->perspective ? 1.0f / camera->nearPlane : camera->nearPlane;
    const real f = view->perspective ? 1.0f / camera->farPlane : camera->farPlane;
    view->nearScreenZ = n * camera->zScale + camera->zShift;
    view->farScreenZ = f * camera->zScale + camera->zShift;
    return view;
}

void ClipProjectVertex(const CamSpace3DVertex& c, const ClipView& view, ScrSpace2DVertex* s) {
    const V3d& p = c.position;
    if (view.perspective) {
        const real r = 1.0f / p.z;
        s->x = p.x * r * view.width;
        s->y = p.y * r * view.height;
        s->z = r * view.zScale + view.zShift;
        s->u = c.u * r;
        s->v = c.v * r;
        s->tr = 0.0f;
        s->tq = r;
        s->recipZ = r;
    } else {
        s->x = p.x * view.width;
        s->y = p.y * view.height;
        s->z = p.z * view.zScale + view.zShift;
        s->u = c.u;
        s->v = c.v;
        s->tr = 0.0f;
        s->tq = 1.0f;
        s->recipZ = 1.0f;
    }
}

uint8 ClipRingFlags(const ClipWork& work, const uint32* ring, int32 count) {
    const CamSpace3DVertex* cam = Cam(work);
    uint8 f = 0;
    for (int32 i = 0; i < count; ++i) f |= cam[ring[i]].clipFlags;
    return f;
}

int32 ClipRing(ClipWork* work, uint32* ring, int32 count, bool closed) {
    const int32 least = closed ? 3 : 2;
    static const uint8 kGroups[3][2] = {{ClipNear, ClipFar}, {ClipBottom, ClipTop}, {ClipLeft, ClipRight}};
    for (const auto& group : kGroups) {
        const uint8 outside = ClipRingFlags(*work, ring, count);
        for (uint8 plane : group) {
            if ((outside & plane) == 0) continue;
            count = ClipPlane(work, ring, count, closed, plane);
            if (count < least) return count;
        }
    }
    return count;
}

void ClipProjectRing(const ClipWork& work, const uint32* ring, int32 count) {
    const ClipView& view = *work.view;
    const CamSpace3DVertex* cam = Cam(work);
    ScrSpace2DVertex* scr = Scr(work);
    for (int32 i = 0; i < count; ++i) {
        const CamSpace3DVertex& c = cam[ring[i]];
        const uint8 f = c.clipFlags & ClipAll;
        if (f == 0) continue;
        ScrSpace2DVertex& s = scr[ring[i]];
        ClipProjectVertex(c, view, &s);
        // On an edge of the window the vertex sits exactly on it.
        const real r = view.perspective ? 1.0f / c.position.z : 1.0f;
        if ((f & (ClipLeft | ClipRight)) == ClipLeft) {
            s.x = 0.0f;
        } else if ((f & (ClipLeft | ClipRight)) == ClipRight) {
            s.x = view.width;
        } else {
            s.x = view.width * c.position.x * r;
        }
        // A corner keeps the computed y (it is on the edge all the same).
        const uint8 side = f & (ClipLeft | ClipRight | ClipBottom | ClipTop);
        if (side == ClipBottom) {
            s.y = 0.0f;
        } else if (side == ClipTop) {
            s.y = view.height;
        } else {
            s.y = view.height * c.position.y * r;
        }
        if (f == ClipNear) {
            s.z = view.nearScreenZ;
        } else if (f == ClipFar) {
            s.z = view.farScreenZ;
        }
    }
}

namespace {

enum ClipCluster : int32 {
    kCamVertices = 0,
    kScrVertices = 1,
    kIndices = 2,
    kMeshState = 3,
    kRenderState = 4,
    kInterpolants = 5,
};
enum ClipOutput : int32 { kOut = 0, kOutAllClipped = 1 };

// A primitive removed from the incoming ones: the last unprocessed one takes
// its place, and the last of the whole array (a piece appended by an earlier
// cut) takes that one's, so appended pieces stay behind the unprocessed ones.
struct Primitives {
    uint32* index;
    uint32 per;       // indices per primitive
    uint32 incoming;  // not yet processed: positions t .. incoming - 1
    uint32 total;     // incoming and appended pieces
    void Copy(uint32 to, uint32 from) {
        for (uint32 k = 0; k < per; ++k) index[per * to + k] = index[per * from + k];
    }
    void Remove(uint32 t) {
        Copy(t, incoming - 1);
        Copy(incoming - 1, total - 1);
        --incoming;
        --total;
    }
};

// Flat shading colours a whole triangle with its last vertex, so a cut must
// not hand that role to a vertex the clipper made with some other colour:
// the ring turns so that the original vertices left lead it (never last in
// a fan piece) and every made vertex takes the original flat colour.
void KeepFlatColour(ClipWork* work, uint32* ring, int32 n, uint32 firstMade, const ScrSpace2DVertex& flat) {
    int32 start = 0;
    for (int32 j = 0; j < n; ++j) {
        const bool original = ring[j] < firstMade;
        const bool prevOriginal = ring[(j + n - 1) % n] < firstMade;
        if (original && !prevOriginal) {
            start = j;
            break;
        }
    }
    if (start != 0) {
        uint32 turned[16];
        for (int32 j = 0; j < n; ++j) turned[j] = ring[(start + j) % n];
        for (int32 j = 0; j < n; ++j) ring[j] = turned[j];
    }
    auto* scr = static_cast<ScrSpace2DVertex*>(work->scr->data);
    for (int32 j = 0; j < n; ++j) {
        if (ring[j] < firstMade) continue;
        ScrSpace2DVertex& s = scr[ring[j]];
        s.r = flat.r;
        s.g = flat.g;
        s.b = flat.b;
        s.a = flat.a;
    }
}

// Grows what one more cut could overflow: up to 7 fan pieces and 12 made
// vertices per triangle, in steps sized by the work still to do.
bool Reserve(ClipWork* work, Cluster* indices, uint32 remaining) {
    if (indices->numAlloced < indices->numUsed + 24 &&
        ClusterResize(indices, indices->numAlloced + remaining + 24) == nullptr) {
        return false;
    }
    for (Cluster* c : {work->cam, work->scr, work->interpolants}) {
        if (c == nullptr || c->numAlloced >= c->numUsed + 12) continue;
        if (ClusterResize(c, c->numAlloced + remaining + 12) == nullptr) return false;
    }
    return true;
}

}  // namespace

bool ClipNodeRun(PipelineNode* node, const ExecuteParams* params, int32 verticesPerPrimitive) {
    ExecutionState* execution = PipelineExecutionState();
    Pipeline* pipeline = execution->pipeline;
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    const bool lines = verticesPerPrimitive == 2;
    Cluster* meshCluster = ClusterOpen(packet, kMeshState, node);
    if (meshCluster == nullptr || meshCluster->data == nullptr) {
        PacketRelease(pipeline);
        return true;
    }
    auto* state = static_cast<MeshState*>(meshCluster->data);
    if (state->clipFlagsOr == 0) {
        // Nothing is outside: the packet passes as it came.
        if (execution->ok != 0) {
            if (PipelineNode* next = PacketDispatch(pipeline, node, kOut)) NodeRun(next, params);
        }
        PacketRelease(pipeline);
        return true;
    }
    ClipView view;
    Cluster* cam = ClusterOpen(packet, kCamVertices, node);
    Cluster* scr = ClusterOpen(packet, kScrVertices, node);
    Cluster* indexCluster = ClusterOpen(packet, kIndices, node);
    if (ClipViewRead(&view) == nullptr || cam == nullptr || scr == nullptr || indexCluster == nullptr ||
        cam->data == nullptr || scr->data == nullptr || indexCluster->data == nullptr) {
        PacketRelease(pipeline);
        return false;
    }
    Cluster* interpolants = lines ? nullptr : ClusterOpen(packet, kInterpolants, node);
    if (interpolants != nullptr && interpolants->data == nullptr) {
        if (ClusterAllocate(interpolants, 12, sizeof(ClipInterpolant)) == nullptr) {
            PacketRelease(pipeline);
            return false;
        }
        interpolants->numUsed = 0;
    }
    const Cluster* renderCluster = ClusterPeek(packet, kRenderState);
    const RenderStateRecord* record = renderCluster != nullptr
                                          ? static_cast<const RenderStateRecord*>(renderCluster->data)
                                          : PipelineModuleDefaultRenderState();
    const bool flat = record != nullptr && (record->shadeMode & 2) == 0;
    ClipWork work{&view, cam, scr, interpolants};

    const auto per = static_cast<uint32>(verticesPerPrimitive);
    uint32 count = indexCluster->numUsed / per;
    if (state->numPrimitives < count) count = state->numPrimitives;
    indexCluster->numUsed = count * per;
    Primitives prims{static_cast<uint32*>(indexCluster->data), per, count, count};
    uint32 t = 0;
    while (t < prims.incoming) {
        const uint32 numVertices = cam->numUsed < scr->numUsed ? cam->numUsed : scr->numUsed;
        uint32* p = prims.index + per * t;
        bool valid = true;
        uint8 flagsOr = 0, flagsAnd = 0xFF;
        for (uint32 k = 0; k < per; ++k) {
            if (p[k] >= numVertices) {
                valid = false;
                break;
            }
            const uint8 f = static_cast<const CamSpace3DVertex*>(cam->data)[p[k]].clipFlags;
            flagsOr |= f;
            flagsAnd &= f;
        }
        if (!valid || (flagsAnd & ClipAll) != 0) {
            prims.Remove(t);
            continue;
        }
        if ((flagsOr & ClipAll) == 0) {
            ++t;
            continue;
        }
        if (!Reserve(&work, indexCluster, prims.incoming - t)) {
            PacketRelease(pipeline);
            return false;
        }
        prims.index = static_cast<uint32*>(indexCluster->data);
        p = prims.index + per * t;
        const uint32 firstMade = cam->numUsed;
        const uint32 interpolantsBefore = interpolants != nullptr ? interpolants->numUsed : 0;
        uint32 ring[16] = {p[0], p[1], lines ? 0u : p[2]};
        const uint32 lastOriginal = p[per - 1];
        const int32 n = ClipRing(&work, ring, static_cast<int32>(per), !lines);
        if (n < verticesPerPrimitive) {
            cam->numUsed = firstMade;
            scr->numUsed = firstMade;
            if (interpolants != nullptr) interpolants->numUsed = interpolantsBefore;
            prims.Remove(t);
            continue;
        }
        ClipProjectRing(work, ring, n);
        if (flat) {
            const ScrSpace2DVertex colour = static_cast<const ScrSpace2DVertex*>(scr->data)[lastOriginal];
            if (lines) {
                // A line is drawn in its second vertex's colour.
                if (ring[1] >= firstMade) {
                    ScrSpace2DVertex& s = static_cast<ScrSpace2DVertex*>(scr->data)[ring[1]];
                    s.r = colour.r;
                    s.g = colour.g;
                    s.b = colour.b;
                    s.a = colour.a;
                }
            } else {
                KeepFlatColour(&work, ring, n, firstMade, colour);
            }
        }
        p[0] = ring[0];
        p[1] = ring[1];
        if (!lines) {
            p[2] = ring[2];
            // The rest of the fan goes behind everything.
            for (int32 k = 2; k + 1 < n; ++k) {
                uint32* q = prims.index + 3 * prims.total++;
                q[0] = ring[0];
                q[1] = ring[k];
                q[2] = ring[k + 1];
            }
        }
        indexCluster->numUsed = prims.total * per;
        ++t;
    }
    indexCluster->numUsed = prims.total * per;
    state->numPrimitives = prims.total;
    state->numVertices = cam->numUsed;
    if (execution->ok != 0) {
        const int32 output = prims.total == 0 ? kOutAllClipped : kOut;
        if (PipelineNode* next = PacketDispatch(pipeline, node, output)) NodeRun(next, params);
    }
    PacketRelease(pipeline);
    return true;
}

}  // namespace kv
