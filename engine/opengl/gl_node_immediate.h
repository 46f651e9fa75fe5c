// The OpenGL device's immediate-mode pipelines: transformation is left to
// OpenGL, so the transform pipeline only stashes the caller's vertices
// (ImmInstance -> ImmStash) and the render pipeline draws them with
// begin/end primitives ("SubmitNoLight.csl" after ImmRenderSetup).
#pragma once

#include "engine/nodes/immediate_3d.h"

namespace kv {

NodeType* NodeDefinitionGetSubmitNoLight();

Pipeline* GlIm3DTransformPipelineCreate();
Pipeline* GlIm3DRenderPipelineCreate();
// The platform pipelines of the immediate-mode module: the render pipeline
// serves every type from lines to fans.
bool GlIm3DPipelinesBuild(Im3DPipelineSet* set);

}  // namespace kv
