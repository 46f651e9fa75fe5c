#include "node_cull_triangle.h"

#include <cmath>

#include "clip.h"
#include "engine/camera/camera.h"
#include "engine/pipe/standard_clusters.h"

namespace kv {

namespace {

enum CullCluster : int32 { kCamVertices = 0, kScrVertices = 1, kIndices = 2, kMeshState = 3 };
enum CullOutput : int32 { kOut = 0, kOutAllCulled = 1 };

// Only a strictly positive area faces the camera: zero, -0 and negative
// areas are culled.
bool ScreenFront(const ScrSpace2DVertex& s0, const ScrSpace2DVertex& s1, const ScrSpace2DVertex& s2) {
    const real cross = (s0.x - s1.x) * (s2.y - s1.y) - (s0.y - s1.y) * (s2.x - s1.x);
    return cross > 0.0f;
}

bool CameraFront(const V3d& c0, const V3d& c1, const V3d& c2) {
    return V3dDotProduct(c0, V3dCrossProduct(V3dSub(c0, c1), V3dSub(c2, c1))) > 0.0f;
}

struct Triangles {
    uint32* index;
    uint32 count;
    // Replaces triangle t by the last one.
    void Remove(uint32 t) {
        --count;
        for (int32 k = 0; k < 3; ++k) index[3 * t + k] = index[3 * count + k];
    }
};

void CullPerspective(Triangles* tris, const CamSpace3DVertex* cam, const ScrSpace2DVertex* scr, uint32 numVertices,
                     bool anyOutside) {
    uint32 t = 0;
    while (t < tris->count) {
        const uint32* i = tris->index + 3 * t;
        bool keep = false;
        if (i[0] < numVertices && i[1] < numVertices && i[2] < numVertices) {
            if (!anyOutside) {
                keep = ScreenFront(scr[i[0]], scr[i[1]], scr[i[2]]);
            } else {
                const uint8 f0 = cam[i[0]].clipFlags, f1 = cam[i[1]].clipFlags, f2 = cam[i[2]].clipFlags;
                if ((f0 & f1 & f2) != 0) {
                    keep = false;
                } else if ((f0 | f1 | f2) == 0) {
                    keep = ScreenFront(scr[i[0]], scr[i[1]], scr[i[2]]);
                } else {
                    // Outside vertices have no screen position to test.
                    keep = CameraFront(cam[i[0]].position, cam[i[1]].position, cam[i[2]].position);
                }
            }
        }
        if (keep) {
            ++t;
        } else {
            tris->Remove(t);
        }
    }
}

void CullParallel(Triangles* tris, const CamSpace3DVertex* cam, uint32 numVertices) {
    uint32 t = 0;
    while (t < tris->count) {
        const uint32* i = tris->index + 3 * t;
        bool keep = false;
        if (i[0] < numVertices && i[1] < numVertices && i[2] < numVertices) {
            const V3d& c0 = cam[i[0]].position;
            const V3d& c1 = cam[i[1]].position;
            const V3d& c2 = cam[i[2]].position;
            const real cross = (c0.x - c1.x) * (c2.y - c1.y) - (c0.y - c1.y) * (c2.x - c1.x);
            // A zero area is kept when it is +0: only a set sign bit culls.
            keep = !std::signbit(cross);
        }
        if (keep) {
            ++t;
        } else {
            tris->Remove(t);
        }
    }
}

bool CullTriangleRun(PipelineNode* node, const ExecuteParams* params) {
    ExecutionState* execution = PipelineExecutionState();
    Pipeline* pipeline = execution->pipeline;
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    const Cluster* camCluster = ClusterPeek(packet, kCamVertices);
    const Cluster* scrCluster = ClusterPeek(packet, kScrVertices);
    Cluster* meshCluster = ClusterOpen(packet, kMeshState, node);
    Cluster* indexCluster = ClusterOpen(packet, kIndices, node);
    if (camCluster == nullptr || scrCluster == nullptr || meshCluster == nullptr || meshCluster->data == nullptr ||
        indexCluster == nullptr || indexCluster->data == nullptr) {
        PacketRelease(pipeline);
        return true;
    }
    auto* state = static_cast<MeshState*>(meshCluster->data);
    const auto* camera = static_cast<const Camera*>(EngineInstanceGet()->curCamera);
    const bool perspective = camera == nullptr || CameraGetProjection(camera) == ProjectionPerspective;
    uint32 count = state->numPrimitives;
    if (count > indexCluster->numUsed / 3) count = indexCluster->numUsed / 3;
    // Vertex numbers past the vertices never reach the arrays: such a triangle goes.
    const uint32 numVertices = camCluster->numUsed < scrCluster->numUsed ? camCluster->numUsed : scrCluster->numUsed;
    Triangles tris{static_cast<uint32*>(indexCluster->data), count};
    const auto* cam = static_cast<const CamSpace3DVertex*>(camCluster->data);
    if (perspective) {
        CullPerspective(&tris, cam, static_cast<const ScrSpace2DVertex*>(scrCluster->data), numVertices,
                        state->clipFlagsOr != 0);
    } else {
        CullParallel(&tris, cam, numVertices);
    }
    indexCluster->numUsed = tris.count * 3;
    state->numPrimitives = tris.count;
    if (execution->ok != 0) {
        const int32 output = tris.count == 0 ? kOutAllCulled : kOut;
        if (PipelineNode* next = PacketDispatch(pipeline, node, output)) NodeRun(next, params);
    }
    PacketRelease(pipeline);
    return true;
}

const ClusterUse kClusters[] = {{.clusterType = &clusterCamSpace3DVertices},
                                {.clusterType = &clusterScrSpace2DVertices},
                                {.clusterType = &clusterIndices},
                                {.clusterType = &clusterMeshState}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterRequired, ClusterRequired, ClusterRequired};
const ClusterEffect kOutEffects[] = {ClusterUntouched, ClusterUntouched, ClusterMade, ClusterMade};
const ClusterEffect kCulledEffects[] = {ClusterUntouched, ClusterUntouched, ClusterDropped, ClusterMade};
const OutputSpec kOutputs[] = {
    {.name = "CullTriangleOut", .effects = kOutEffects, .otherEffect = ClusterUntouched},
    {.name = "CullTriangleAllCulled", .effects = kCulledEffects, .otherEffect = ClusterUntouched}};

NodeType nodeType = {
    .name = "CullTriangle.csl",
    .body = CullTriangleRun,
    .numClusters = 4,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 2,
    .outputs = kOutputs,
};

}  // namespace

NodeType* NodeDefinitionGetCullTriangle() { return &nodeType; }

}  // namespace kv
