// Built only by the layer test. Linked to the core alone, it compiles; asked
// to include a header of a layer above the core, it must not.
#include "engine/core/baerr.h"
#ifdef KV_PROBE_ABOVE
#include "engine/world/baworld.h"
#endif

int main() { return kv::kErrNoError != 0 ? 0 : 1; }
