#include "gl_pipelines.h"

#include "engine/image/texture.h"
#include "engine/nodes/generic_pipelines.h"
#include "engine/nodes/instance.h"
#include "engine/nodes/node_atomic_enumerate_lights.h"
#include "engine/nodes/node_material_scatter.h"
#include "engine/nodes/node_world_sector_enumerate_lights.h"
#include "engine/pipe/standard_clusters.h"
#include "gl_node_instance.h"
#include "gl_node_submit.h"

namespace kv {

namespace {

// Instance -> light listing -> scatter, the instance node's unindexed output
// also to the light listing. The scatter node passes the OpenGL clusters on
// to the material pipeline (it lists Indices already).
Pipeline* ObjectPipelineCreate(NodeType* instance, NodeType* lights, const char* unindexedOutput) {
    NodeType* scatter = NodeDefinitionGetMaterialScatter();
    Pipeline* created = PipelineCreate();
    Pipeline* p = PipelineAddNodes(PipelineLock(created), nullptr, instance, lights, scatter);
    p = PipelineLinkOutput(p, NodeFindOutput(PipelineFindNode(p, instance->name, nullptr), unindexedOutput),
                           PipelineFindNode(p, lights->name, nullptr));
    PipelineNode* scatterNode = PipelineFindNode(p, scatter->name, nullptr);
    p = NodeAddCluster(p, scatterNode, &clusterOpenGLExtensionData);
    p = NodeAddCluster(p, scatterNode, &clusterUVs);
    return PipelineFinish(created, p);
}

// What a mesh's texture stands for when it is drawn: its raster and its own
// sampling settings.
void ReadTexture(const Texture* texture, RenderStateRecord* record) {
    record->textureRaster = texture->raster;
    record->filter = texture->filterMode;
    record->addressU = texture->addressU;
    record->addressV = texture->addressV;
}

}  // namespace

Pipeline* GlMaterialPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(created,
                          PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetOpenGLSubmitWithLight()));
}

Pipeline* GlAtomicPipelineCreate() {
    return ObjectPipelineCreate(NodeDefinitionGetOpenGLAtomicInstance(), NodeDefinitionGetAtomicEnumerateLights(),
                                "AtomicInstanceOutUnindexed");
}

Pipeline* GlWorldSectorPipelineCreate() {
    return ObjectPipelineCreate(NodeDefinitionGetOpenGLWorldSectorInstance(),
                                NodeDefinitionGetWorldSectorEnumerateLights(), "OutputUnindexed");
}

bool GlWorldPipelinesBuild(WorldPipelineSet* set) {
    MeshStateSetTextureReader(ReadTexture);
    set->material = GlMaterialPipelineCreate();
    set->atomic = GlAtomicPipelineCreate();
    set->sector = GlWorldSectorPipelineCreate();
    if (set->material != nullptr && set->atomic != nullptr && set->sector != nullptr) return true;
    PipelineDestroy(set->material);
    PipelineDestroy(set->atomic);
    PipelineDestroy(set->sector);
    *set = WorldPipelineSet{nullptr, nullptr, nullptr};
    return false;
}

void GlWorldPipelinesInstall() { WorldPipelinesSetBuilders(GenericWorldPipelinesBuild, GlWorldPipelinesBuild); }

}  // namespace kv
