// The core modules that EngineInit registers with the engine registry, in
// their fixed order. Each module's constructor and destructor live with the
// module; an entry without one registers its block with no work to do.
#pragma once

#include "batkreg.h"
#include "kvtypes.h"

namespace kv {

struct CoreModule {
    const char* name;
    int32 size;
    uint32 id;
    PluginConstructor open;
    PluginDestructor close;
};

// The table, in registration order.
const CoreModule* CoreModules(int32* count);

// Hands the device's gamma value to the image module at start.
void CoreModulesSetGamma(float gamma);

}  // namespace kv
