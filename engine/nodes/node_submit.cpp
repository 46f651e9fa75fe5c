#include "node_submit.h"

#include "clip.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/standard_clusters.h"

namespace kv {

namespace {

void SetStates(const RenderStateRecord& record, bool lines) {
    RenderStateApplyTexture(record, record.textureRaster != nullptr);
    if (!lines) return;
    RenderStateSet(StateShadeMode, record.shadeMode);
    RenderStateSet(StateSrcBlend, record.srcBlend);
    RenderStateSet(StateDestBlend, record.destBlend);
    RenderStateSet(StateZTestEnable, (record.flags & RenderStateFlagZTest) != 0 ? 1 : 0);
    RenderStateSet(StateZWriteEnable, (record.flags & RenderStateFlagZWrite) != 0 ? 1 : 0);
}

bool Submit(PipelineNode* node, const ExecuteParams* params, bool lines) {
    ExecutionState* execution = PipelineExecutionState();
    Pipeline* pipeline = execution->pipeline;
    SubmitPacket in;
    if (!SubmitPacketPickUp(pipeline, &in)) return true;
    const MeshState* state = in.state;
    SetStates(*in.record, lines);

    const int32 type = lines ? PrimTypeLineList : PrimTypeTriList;
    const uint32 numVertices = state->numVertices < in.vertices->numUsed ? state->numVertices : in.vertices->numUsed;
    auto* vertices = static_cast<ScrSpace2DVertex*>(in.vertices->data);
    const Cluster* indices = in.indices;
    bool drawn = true;
    if (indices != nullptr) {
        uint32 count = lines ? 2 * state->numPrimitives : indices->numUsed;
        if (count > indices->numUsed) count = indices->numUsed;
        if (count > 0) {
            drawn = Im2DRenderIndexedPrimitive(type, vertices, static_cast<int32>(numVertices),
                                               static_cast<const uint32*>(indices->data), static_cast<int32>(count));
        }
    } else if (numVertices > 0) {
        drawn = Im2DRenderPrimitive(type, vertices, static_cast<int32>(numVertices));
    }
    if (execution->ok != 0) {
        if (PipelineNode* next = PacketDispatch(pipeline, node, 0)) NodeRun(next, params);
    }
    PacketRelease(pipeline);
    return drawn;
}

bool SubmitTriangleRun(PipelineNode* node, const ExecuteParams* params) { return Submit(node, params, false); }
bool SubmitLineRun(PipelineNode* node, const ExecuteParams* params) { return Submit(node, params, true); }

const ClusterUse kClusters[] = {{.clusterType = &clusterScrSpace2DVertices},
                                {.clusterType = &clusterIndices},
                                {.clusterType = &clusterMeshState},
                                {.clusterType = &clusterRenderState}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterOptional, ClusterRequired, ClusterOptional};
const ClusterEffect kTriangleEffects[] = {ClusterMade, ClusterUntouched, ClusterMade, ClusterUntouched};
const ClusterEffect kLineEffects[] = {ClusterMade, ClusterMade, ClusterUntouched, ClusterUntouched};
const OutputSpec kTriangleOutputs[] = {
    {.name = "SubmitOut", .effects = kTriangleEffects, .otherEffect = ClusterUntouched}};
const OutputSpec kLineOutputs[] = {{.name = "SubmitOut", .effects = kLineEffects, .otherEffect = ClusterUntouched}};

NodeType triangleType = {
    .name = "SubmitTriangle.csl",
    .body = SubmitTriangleRun,
    .numClusters = 4,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 1,
    .outputs = kTriangleOutputs,
};
NodeType lineType = {
    .name = "SubmitLine.csl",
    .body = SubmitLineRun,
    .numClusters = 4,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 1,
    .outputs = kLineOutputs,
};

}  // namespace

bool SubmitPacketPickUp(Pipeline* pipeline, SubmitPacket* out) {
    enum : int32 { kVertices = 0, kIndices = 1, kMeshState = 2, kRenderState = 3 };
    out->packet = PacketPickUp(pipeline);
    if (out->packet == nullptr) return false;
    out->vertices = ClusterPeek(out->packet, kVertices);
    const Cluster* meshCluster = ClusterPeek(out->packet, kMeshState);
    if (out->vertices == nullptr || meshCluster == nullptr) {
        PacketRelease(pipeline);
        return false;
    }
    out->state = static_cast<const MeshState*>(meshCluster->data);
    out->indices = ClusterPeek(out->packet, kIndices);
    const Cluster* renderCluster = ClusterPeek(out->packet, kRenderState);
    out->record = renderCluster != nullptr ? static_cast<const RenderStateRecord*>(renderCluster->data)
                                           : PipelineModuleDefaultRenderState();
    if (out->record == nullptr) {
        RenderStateSetDefault(&out->fallback);
        out->record = &out->fallback;
    }
    return true;
}

NodeType* NodeDefinitionGetSubmitTriangle() { return &triangleType; }
NodeType* NodeDefinitionGetSubmitLine() { return &lineType; }

}  // namespace kv
