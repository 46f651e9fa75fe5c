#include "node_material_scatter.h"

#include "cluster_layouts.h"
#include "engine/core/error.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/world.h"

namespace kv {

namespace {

bool MaterialScatterRun(PipelineNode* /*node*/, const ExecuteParams* params) {
    ExecutionState* state = PipelineExecutionState();
    Pipeline* pipeline = state->pipeline;
    Packet* packet = PacketPickUp(pipeline);
    if (packet == nullptr) return true;
    if (state->ok == 0) {
        PacketRelease(pipeline);
        return true;
    }
    const Cluster* meshState = ClusterPeek(packet, 0);
    Pipeline* target = meshState != nullptr ? static_cast<const MeshState*>(meshState->data)->matPipeline : nullptr;
    if (target == nullptr) target = MaterialGetDefaultPipeline();
    if (target == nullptr || target == pipeline || target->locked != 0 || target->numNodes == 0) {
        // Nothing can draw the mesh.
        PacketRelease(pipeline);
        ErrorRaise(kModuleNone, kErrEngineState);
        return false;
    }
    PacketTransfer(pipeline, target);
    state->pipeline = target;
    NodeRun(&target->nodes[target->entryPoint], params);
    state->pipeline = pipeline;
    PacketRelease(target);
    return true;
}

const ClusterUse kClusters[] = {{&clusterMeshState, 0, 0}, {&clusterObjSpace3DVertices, 0, 0},
                                {&clusterIndices, 0, 0},   {&clusterRenderState, 0, 0},
                                {&clusterTriPlanes, 0, 0}, {&clusterLights, 0, 0}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterOptional, ClusterOptional,
                              ClusterOptional, ClusterOptional, ClusterOptional};

NodeType nodeType = {.name = "MaterialScatter.csl",
                     .body = MaterialScatterRun,
                     .numClusters = CountOf(kClusters),
                     .clusters = kClusters,
                     .needs = kNeeds};

}  // namespace

NodeType* NodeDefinitionGetMaterialScatter() { return &nodeType; }

}  // namespace kv
