// The generic object pipelines, which transform, cull, light, clip and draw
// in software through the device's 2D functions: the material pipeline
// (Transform -> CullTriangle -> PreLight -> Light -> PostLight ->
// ClipTriangle -> SubmitTriangle) and the atomic and world-sector pipelines
// (instance -> light listing -> material scatter).
#pragma once

#include "engine/pipe/pipeline.h"
#include "engine/world/world.h"

namespace kv {

Pipeline* GenericMaterialPipelineCreate();
Pipeline* GenericAtomicPipelineCreate();
Pipeline* GenericWorldSectorPipelineCreate();

// Builds all three into the set, or none of them (the world pipelines
// module's generic builder).
bool GenericWorldPipelinesBuild(WorldPipelineSet* set);

}  // namespace kv
