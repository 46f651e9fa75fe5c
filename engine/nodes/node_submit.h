// "SubmitTriangle.csl" and "SubmitLine.csl": hand a packet's screen-space
// triangle list (or line list) to the device's 2D drawing functions with the
// packet's texture and blending.
#pragma once

#include "engine/pipe/p2core.h"

namespace kv {

NodeType* NodeDefinitionGetSubmitTriangle();
NodeType* NodeDefinitionGetSubmitLine();

}  // namespace kv
