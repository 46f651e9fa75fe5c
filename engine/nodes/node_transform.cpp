#include "node_transform.h"

#include "clip.h"
#include "engine/pipe/standard_clusters.h"

namespace kv {

namespace {

enum TransformCluster : int32 { kObjVertices = 0, kCamVertices = 1, kScrVertices = 2, kMeshState = 3 };
enum TransformOutput : int32 { kOut = 0, kOutAllOutside = 1 };

constexpr std::size_t kColourOffset = offsetof(ObjSpace3DVertex, colour);
constexpr std::size_t kUVOffset = offsetof(ObjSpace3DVertex, u);

bool TransformRun(PipelineNode* node, const ExecuteParams* params) {
    ExecutionState* execution = PipelineExecutionState();
    Pipeline* pipeline = execution->pipeline;
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    ClipView view;
    if (ClipViewRead(&view) == nullptr) {
        PacketRelease(pipeline);
        return false;
    }
    const Cluster* objects = ClusterPeek(packet, kObjVertices);
    Cluster* meshCluster = ClusterOpen(packet, kMeshState, node);
    if (objects == nullptr || meshCluster == nullptr || meshCluster->data == nullptr) {
        PacketRelease(pipeline);
        return true;
    }
    auto* state = static_cast<MeshState*>(meshCluster->data);
    const uint32 n = state->numVertices < objects->numUsed ? state->numVertices : objects->numUsed;
    Cluster* camCluster = ClusterOpen(packet, kCamVertices, node);
    Cluster* scrCluster = ClusterOpen(packet, kScrVertices, node);
    if (n == 0 || camCluster == nullptr || scrCluster == nullptr) {
        PacketRelease(pipeline);
        return true;
    }
    if (ClusterAllocate(camCluster, n, sizeof(CamSpace3DVertex)) == nullptr ||
        ClusterAllocate(scrCluster, n, sizeof(ScrSpace2DVertex)) == nullptr) {
        PacketRelease(pipeline);
        return false;
    }
    auto* cam = static_cast<CamSpace3DVertex*>(camCluster->data);
    auto* scr = static_cast<ScrSpace2DVertex*>(scrCluster->data);
    const auto* src = static_cast<const uint8*>(objects->data);
    const uint32 stride = objects->stride;

    const bool ownColours = (state->flags & kMeshStateOwnColours) != 0;
    const bool textured = (state->flags & MeshStateTextured) != 0;
    const RGBA mat = state->matColour;
    const Matrix& m = state->objToCamera;
    uint8 flagsOr = 0;
    uint8 flagsAnd = 0xFF;
    for (uint32 i = 0; i < n; ++i, src += stride) {
        const auto* p = reinterpret_cast<const V3d*>(src);
        CamSpace3DVertex& c = cam[i];
        ScrSpace2DVertex& s = scr[i];
        c.position = V3d{p->x * m.right.x + p->y * m.up.x + p->z * m.at.x + m.pos.x,
                         p->x * m.right.y + p->y * m.up.y + p->z * m.at.y + m.pos.y,
                         p->x * m.right.z + p->y * m.up.z + p->z * m.at.z + m.pos.z};
        if (ownColours) {
            const RGBA& k = *reinterpret_cast<const RGBA*>(src + kColourOffset);
            c.red = k.red;
            c.green = k.green;
            c.blue = k.blue;
            c.alpha = k.alpha;
            s.r = k.red;
            s.g = k.green;
            s.b = k.blue;
            s.a = k.alpha;
        } else {
            c.red = c.green = c.blue = 0.0f;
            c.alpha = 255.0f;
            s.r = mat.red;
            s.g = mat.green;
            s.b = mat.blue;
            s.a = mat.alpha;
        }
        if (textured) {
            const auto* uv = reinterpret_cast<const real*>(src + kUVOffset);
            c.u = uv[0];
            c.v = uv[1];
        } else {
            c.u = c.v = 0.0f;
        }
        const uint8 f = ClipFlagsOf(c.position, view);
        c.clipFlags = f;
        flagsOr |= f;
        flagsAnd &= f;
        if (f != 0) {
            // Outside: the clipper gives it screen values if a piece of it stays.
            s.x = s.y = s.z = 0.0f;
            s.u = s.v = s.tr = s.tq = 0.0f;
            s.recipZ = 0.0f;
        } else {
            ClipProjectVertex(c, view, &s);
        }
    }
    camCluster->numUsed = n;
    scrCluster->numUsed = n;
    state->clipFlagsOr = flagsOr;
    state->clipFlagsAnd = flagsAnd;
    if (execution->ok != 0) {
        const int32 output = flagsAnd != 0 ? kOutAllOutside : kOut;
        if (PipelineNode* next = PacketDispatch(pipeline, node, output)) NodeRun(next, params);
    }
    PacketRelease(pipeline);
    return true;
}

const ClusterUse kClusters[] = {{.clusterType = &clusterObjSpace3DVertices},
                                {.clusterType = &clusterCamSpace3DVertices},
                                {.clusterType = &clusterScrSpace2DVertices},
                                {.clusterType = &clusterMeshState}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterIgnored, ClusterIgnored, ClusterRequired};
const ClusterEffect kEffects[] = {ClusterUntouched, ClusterMade, ClusterMade, ClusterMade};
const OutputSpec kOutputs[] = {{.name = "TransformOut", .effects = kEffects, .otherEffect = ClusterUntouched},
                               {.name = "TransformOut2", .effects = kEffects, .otherEffect = ClusterUntouched}};

NodeType nodeType = {
    .name = "Transform.csl",
    .body = TransformRun,
    .numClusters = 4,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 2,
    .outputs = kOutputs,
};

}  // namespace

NodeType* NodeDefinitionGetTransform() { return &nodeType; }

}  // namespace kv
