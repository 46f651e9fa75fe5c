// Orders a pipeline's nodes for unlocking: the entry node first, every node
// after all of its sources, links renumbered to match.
#pragma once

#include "pipeline.h"

namespace kv {

bool PipelineSortNodes(Pipeline* pipeline);

}  // namespace kv
