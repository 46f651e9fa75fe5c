#include "gl_node_immediate.h"

#include "engine/nodes/node_immediate.h"
#include "engine/nodes/node_submit.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/standard_clusters.h"
#include "gl_internal.h"

namespace kv {

namespace {

// OpenGL primitive modes by primitive type, filled when the type opens.
GLenum primitiveModes[7] = {};

bool TypeOpen(NodeType* /*type*/) {
    const GLenum modes[7] = {GL_POINTS,         GL_LINES,        GL_LINE_STRIP, GL_TRIANGLES,
                             GL_TRIANGLE_STRIP, GL_TRIANGLE_FAN, GL_POINTS};
    for (int32 i = 0; i < 7; ++i) primitiveModes[i] = modes[i];
    return true;
}

bool SubmitNoLightRun(PipelineNode* node, const ExecuteParams* params) {
    ExecutionState* execution = PipelineExecutionState();
    Pipeline* pipeline = execution->pipeline;
    SubmitPacket in;
    if (!SubmitPacketPickUp(pipeline, &in)) return true;
    const MeshState& state = *in.state;
    const RenderStateRecord* record = in.record;
    const Cluster* vertices = in.vertices;
    const Cluster* indexCluster = in.indices;
    const uint32 numVertices = state.numVertices < vertices->numUsed ? state.numVertices : vertices->numUsed;
    const auto* indices = indexCluster != nullptr ? static_cast<const uint32*>(indexCluster->data) : nullptr;
    const uint32 count = indices != nullptr ? indexCluster->numUsed : numVertices;
    // A vertex number past the vertices would read outside them.
    for (uint32 i = 0; indices != nullptr && i < count; ++i) {
        if (indices[i] >= numVertices) {
            ErrorRaise(kModuleNone, kErrOutOfRange);
            PacketRelease(pipeline);
            return false;
        }
    }
    const bool textured = (state.flags & MeshStateTextured) != 0 && record->textureRaster != nullptr;
    RenderStateApplyTexture(*record, textured);

    if (state.primType >= 0 && state.primType < 7) {
        GlMakeCurrent();
        const bool transformed = (state.objToWorld.flags & kMatrixFlagIdentity) == 0;
        if (transformed) {
            GLfloat m[16];
            GlMatrixFromMatrix(state.objToWorld, m);
            gl.PushMatrix();
            gl.MultMatrixf(m);
        }
        const auto* base = static_cast<const uint8*>(vertices->data);
        const uint32 stride = vertices->stride;
        gl.Begin(primitiveModes[state.primType]);
        for (uint32 i = 0; i < count; ++i) {
            const auto* v = reinterpret_cast<const ObjSpace3DVertex*>(
                base + static_cast<std::size_t>(indices ? indices[i] : i) * stride);
            gl.Color4ubv(&v->colour.red);
            if (textured) gl.TexCoord2f(v->u, v->v);
            gl.Vertex3fv(&v->position.x);
        }
        gl.End();
        if (transformed) gl.PopMatrix();
    }
    if (execution->ok != 0) {
        if (PipelineNode* next = PacketDispatch(pipeline, node, 0)) NodeRun(next, params);
    }
    PacketRelease(pipeline);
    return true;
}

const ClusterUse kClusters[] = {{.clusterType = &clusterObjSpace3DVertices},
                                {.clusterType = &clusterIndices},
                                {.clusterType = &clusterMeshState},
                                {.clusterType = &clusterRenderState}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterOptional, ClusterRequired, ClusterOptional};
const ClusterEffect kEffects[] = {ClusterMade, ClusterMade, ClusterMade, ClusterUntouched};
const OutputSpec kOutputs[] = {{.name = "SubmitOut", .effects = kEffects, .otherEffect = ClusterUntouched}};

NodeType nodeType = {
    .name = "SubmitNoLight.csl",
    .body = SubmitNoLightRun,
    .typeOpen = TypeOpen,
    .numClusters = 4,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 1,
    .outputs = kOutputs,
};

}  // namespace

NodeType* NodeDefinitionGetSubmitNoLight() { return &nodeType; }

Pipeline* GlIm3DTransformPipelineCreate() {
    Pipeline* created = PipelineCreate();
    Pipeline* p =
        PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetImmInstance(), NodeDefinitionGetImmStash());
    // The stash lists the vertices, mesh state and render state already.
    p = NodeAddCluster(p, PipelineFindNode(p, NodeDefinitionGetImmStash()->name, nullptr), &clusterIndices);
    return PipelineFinish(created, p);
}

Pipeline* GlIm3DRenderPipelineCreate() {
    NodeType* setup = NodeDefinitionGetImmRenderSetup();
    Pipeline* created = PipelineCreate();
    Pipeline* p = PipelineAddNodes(PipelineLock(created), nullptr, setup, &nodeType);
    p = PipelineLinkOutput(p, NodeFindOutput(PipelineFindNode(p, setup->name, nullptr), "ImmRenderSetupOutUnindexed"),
                           PipelineFindNode(p, nodeType.name, nullptr));
    return PipelineFinish(created, p);
}

bool GlIm3DPipelinesBuild(Im3DPipelineSet* set) {
    *set = Im3DPipelineSet{};
    set->transform = GlIm3DTransformPipelineCreate();
    Pipeline* render = GlIm3DRenderPipelineCreate();
    if (set->transform == nullptr || render == nullptr) {
        PipelineDestroy(set->transform);
        PipelineDestroy(render);
        *set = Im3DPipelineSet{};
        return false;
    }
    for (int32 type = PrimTypeLineList; type <= PrimTypeTriFan; ++type) set->render[type - 1] = render;
    return true;
}

}  // namespace kv
