// "ClipLine.csl": the line twin of ClipTriangle; a segment crossing the view
// volume keeps its part inside, one wholly outside goes.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetClipLine();

}  // namespace kv
