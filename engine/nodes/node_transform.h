// "Transform.csl": object-space vertices to camera space (with their clip
// flags) and to screen space, through the mesh state's object-to-camera
// matrix. A packet whose vertices all lie outside one plane of the view
// volume leaves on the second output, which built-in pipelines leave
// unconnected.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetTransform();

}  // namespace kv
