// "AtomicEnumerateLights.csl": lists the lights that reach an atomic (data =
// the atomic) in the packet's "Lights.csl" cluster: its world's global
// lights, then the local lights of every sector it lies in, each once.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetAtomicEnumerateLights();

}  // namespace kv
