// Built only by the layer test. Linked to the core alone, it compiles; asked
// to include a header of a layer above the core, it must not.
#include "engine/core/error.h"
#ifdef KV_PROBE_ABOVE
#include "engine/world/world.h"
#endif

int main() { return kv::kErrNoError != 0 ? 0 : 1; }
