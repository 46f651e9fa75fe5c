// The engine as assembled from its layers: the modules EngineInit registers,
// in their fixed order (the order fixes where each module's block lies in the
// engine instance). The core knows none of them; this table is handed to it.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"

namespace kv {

// The table, in registration order.
const CoreModule* EngineStandardModules(int32* count);

// Hands the table to the core; call before EngineInit.
void EngineUseStandardModules();

}  // namespace kv
