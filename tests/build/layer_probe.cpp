// Built only by the layer test. Linked to a layer alone it compiles; asked to
// include a header that layer may not see (KV_PROBE_HEADER), it must not.
#include "engine/core/error.h"
#ifdef KV_PROBE_HEADER
#include KV_PROBE_HEADER
#endif

int main() { return kv::kErrNoError != 0 ? 0 : 1; }
