// The OpenGL device's default object pipelines: the material pipeline that
// lights and draws a mesh, and the atomic and world-sector pipelines that
// instance an object, list its lights and scatter its meshes to their
// materials' pipelines.
#pragma once

#include "engine/pipe/pipeline.h"
#include "engine/world/world.h"

namespace kv {

// OpenGLSubmitWithLight.
Pipeline* GlMaterialPipelineCreate();
// AtomicInstance -> AtomicEnumerateLights -> MaterialScatter, with the
// unindexed output also going to the light listing.
Pipeline* GlAtomicPipelineCreate();
// WorldSectorInstance -> WorldSectorEnumerateLights -> MaterialScatter, alike.
Pipeline* GlWorldSectorPipelineCreate();

// Builds all three into the set, or none of them.
bool GlWorldPipelinesBuild(WorldPipelineSet* set);
// Makes the OpenGL pipelines the world's platform pipelines, with the generic
// ones beside them: call before the engine starts (the world pipelines module
// builds them when it opens).
void GlWorldPipelinesInstall();

}  // namespace kv
