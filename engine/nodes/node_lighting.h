// The generic material pipeline's lighting: "PreLight.csl" starts each
// vertex from its own colour, "Light.csl" adds the packet's lights (computed
// in the object's space) and "PostLight.csl" applies the material colour and
// writes the result as the screen colours. Colours are camera-vertex floats
// from 0 to 255 until PostLight; alpha is never lit. A packet whose vertices
// are all outside one plane is not lit at all.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetPreLight();
NodeType* NodeDefinitionGetLight();
NodeType* NodeDefinitionGetPostLight();

}  // namespace kv
