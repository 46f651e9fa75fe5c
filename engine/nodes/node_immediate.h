// The immediate-mode node types. The transform pipelines start with
// "ImmInstance.csl" (the caller's vertices with a mesh state and render
// state) and end with "ImmStash.csl", which keeps what the packet made in
// the batch; each render pipeline starts with "ImmRenderSetup.csl", which
// makes a packet of the stashed batch for one primitive, and the software
// ones turn the primitive into a plain triangle list
// ("ImmMangleTriangleIndices.csl") or line list ("ImmMangleLineIndices.csl").
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetImmInstance();
NodeType* NodeDefinitionGetImmStash();
NodeType* NodeDefinitionGetImmRenderSetup();
NodeType* NodeDefinitionGetImmMangleTriangleIndices();
NodeType* NodeDefinitionGetImmMangleLineIndices();

// Primitives that n indices (or n vertices) make of a type; 0 for fewer than
// one primitive needs.
uint32 ImmPrimitiveCount(int32 primType, uint32 n);

}  // namespace kv
