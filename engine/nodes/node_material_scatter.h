// "MaterialScatter.csl": hands each mesh's packet to its material's pipeline
// (the default material pipeline when the material names none) and runs that
// pipeline on it. The last node of every object pipeline.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetMaterialScatter();

}  // namespace kv
