// "ClipTriangle.csl": cuts triangles that straddle the view volume into the
// pieces inside it (a fan per triangle), with screen values for the vertices
// it makes; triangles wholly outside go. A packet left with no triangle
// leaves on the second output.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetClipTriangle();

}  // namespace kv
