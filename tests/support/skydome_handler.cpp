// The program's own answer to the skeleton, for the tests that link the
// program's library without driving its window themselves (the program's
// main.cpp is not in the library).
#include "app/skydome/skydome.h"

namespace kv {

int32 AppEventHandler(int32 event, void* data) { return SkydomeEventHandler(event, data); }

}  // namespace kv
