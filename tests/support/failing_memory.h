// Memory functions that can be made to fail after a number of allocations.
#pragma once

#include <cstdlib>

#include "engine/core/memory.h"

namespace kv::test {

struct FailingMemory {
    static inline int32 allowed = -1;  // -1: never fail
    static inline int32 taken = 0;     // allocations made
    static bool Take() {
        if (allowed == 0) return false;
        if (allowed > 0) --allowed;
        ++taken;
        return true;
    }
    static void* Malloc(std::size_t n) { return Take() ? std::malloc(n) : nullptr; }
    static void* Realloc(void* p, std::size_t n) { return Take() ? std::realloc(p, n) : nullptr; }
    static void* Calloc(std::size_t a, std::size_t b) { return Take() ? std::calloc(a, b) : nullptr; }
    static const MemoryFunctions* Table() {
        static const MemoryFunctions table = {Malloc, std::free, Realloc, Calloc};
        return &table;
    }
};

}  // namespace kv::test
