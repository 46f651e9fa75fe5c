// "WorldSectorEnumerateLights.csl": lists the lights that reach a world
// sector (data = the sector) in the packet's "Lights.csl" cluster: the
// current world's global lights, then the sector's local lights.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetWorldSectorEnumerateLights();

}  // namespace kv
