// "SubmitTriangle.csl" and "SubmitLine.csl": hand a packet's screen-space
// triangle list (or line list) to the device's 2D drawing functions with the
// packet's texture and blending.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetSubmitTriangle();
NodeType* NodeDefinitionGetSubmitLine();

}  // namespace kv
