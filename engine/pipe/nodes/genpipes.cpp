#include "genpipes.h"

#include "engine/pipe/nodes/nodeAtomicEnumerateLights.h"
#include "engine/pipe/nodes/nodeMaterialScatter.h"
#include "engine/pipe/nodes/nodeWorldSectorEnumerateLights.h"
#include "nodeClipTriangle.h"
#include "nodeCullTriangle.h"
#include "nodeGenInstance.h"
#include "nodeLighting.h"
#include "nodeSubmitTriangle.h"
#include "nodeTransform.h"

namespace kv {

Pipeline* GenericMaterialPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(created, PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetTransform(),
                                            NodeDefinitionGetCullTriangle(), NodeDefinitionGetPreLight(),
                                            NodeDefinitionGetLight(), NodeDefinitionGetPostLight(),
                                            NodeDefinitionGetClipTriangle(), NodeDefinitionGetSubmitTriangle()));
}

Pipeline* GenericAtomicPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(created,
                  PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetAtomicInstance(),
                                   NodeDefinitionGetAtomicEnumerateLights(), NodeDefinitionGetMaterialScatter()));
}

Pipeline* GenericWorldSectorPipelineCreate() {
    Pipeline* created = PipelineCreate();
    return PipelineFinish(created,
                  PipelineAddNodes(PipelineLock(created), nullptr, NodeDefinitionGetWorldSectorInstance(),
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
