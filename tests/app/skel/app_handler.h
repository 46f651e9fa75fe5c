// The application handler of the shell tests: each test installs its own.
#pragma once

#include <functional>

#include "app/skel/skeleton.h"

namespace kv::test {

// Called for every shell event; unset, every event is left to the defaults.
extern std::function<int32(int32 event, void* data)> appHandler;

}  // namespace kv::test
