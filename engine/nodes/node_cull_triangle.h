// "CullTriangle.csl": removes triangles that face away from the camera or lie
// wholly outside one plane of the view volume, so that clipping, lighting and
// drawing see only what can show. A packet left with no triangle leaves on
// the second output.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetCullTriangle();

}  // namespace kv
