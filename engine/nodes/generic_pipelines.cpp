#include "generic_pipelines.h"

#include "engine/nodes/node_atomic_enumerate_lights.h"
#include "engine/nodes/node_material_scatter.h"
#include "engine/nodes/node_world_sector_enumerate_lights.h"
#include "node_clip_triangle.h"
#include "node_cull_triangle.h"
#include "node_generic_instance.h"
#include "node_lighting.h"
#include "node_submit.h"
#include "node_transform.h"

namespace kv {

Pipeline* GenericMaterialPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(
        created,
        PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetTransform(), NodeDefinitionGetCullTriangle(),
                         NodeDefinitionGetPreLight(), NodeDefinitionGetLight(), NodeDefinitionGetPostLight(),
                         NodeDefinitionGetClipTriangle(), NodeDefinitionGetSubmitTriangle()));
}

Pipeline* GenericAtomicPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(
        created, PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetAtomicInstance(),
                                  NodeDefinitionGetAtomicEnumerateLights(), NodeDefinitionGetMaterialScatter()));
}

Pipeline* GenericWorldSectorPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(
        created, PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetWorldSectorInstance(),
                                  NodeDefinitionGetWorldSectorEnumerateLights(), NodeDefinitionGetMaterialScatter()));
}

bool GenericWorldPipelinesBuild(WorldPipelineSet* set) {
    set->material = GenericMaterialPipelineCreate();
    set->atomic = GenericAtomicPipelineCreate();
    set->sector = GenericWorldSectorPipelineCreate();
    if (set->material != nullptr && set->atomic != nullptr && set->sector != nullptr) return true;
    PipelineDestroy(set->material);
    PipelineDestroy(set->atomic);
    PipelineDestroy(set->sector);
    *set = WorldPipelineSet{nullptr, nullptr, nullptr};
    return false;
}

}  // namespace kv
