// An engine started on the null device, with counted memory, for the stream
// and chunk tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/stream/stream.h"
#include "engine_fixture.h"
#include "error_log.h"

namespace kv::test {

struct CountedMemory {
    static inline long live = 0;
    static inline bool failRealloc = false;
    static inline bool failMalloc = false;
    static inline std::size_t largest = 0;  // the largest block asked for
    static void Note(std::size_t s) {
        if (s > largest) largest = s;
    }
    static const MemoryFunctions* Table() {
        static const MemoryFunctions table = {
            [](std::size_t s) -> void* {
                Note(s);
                if (failMalloc) return nullptr;
                void* p = std::malloc(s);
                if (p != nullptr) ++live;
                return p;
            },
            [](void* p) {
                if (p != nullptr) --live;
                std::free(p);
            },
            [](void* p, std::size_t s) -> void* {
                Note(s);
                if (failRealloc) return nullptr;
                void* q = std::realloc(p, s);
                if (p == nullptr && q != nullptr) ++live;
                return q;
            },
            [](std::size_t n, std::size_t s) -> void* {
                Note(n * s);
                void* p = std::calloc(n, s);
                if (p != nullptr) ++live;
                return p;
            },
        };
        return &table;
    }
};

class StreamTest : public StartedEngine {
  protected:
    EngineSetup HowToStart() override {
        return {.memory = CountedMemory::Table(), .plugins = [this] {
                    RegisterPlugins();
                    return true;
                }};
    }
    void SetUp() override {
        CountedMemory::failRealloc = false;
        CountedMemory::failMalloc = false;
        StartedEngine::SetUp();
        if (HasFatalFailure()) return;
        // Grow the stream pool now so that counts of live memory in the tests
        // see only what the streams themselves hold.
        StreamClose(OpenWrite(), nullptr);
    }
    void TearDown() override {
        CountedMemory::failRealloc = false;
        CountedMemory::failMalloc = false;
        StartedEngine::TearDown();
    }
    // Plugins register between init and open.
    virtual void RegisterPlugins() {}

    static Stream* OpenRead(const std::vector<uint8>& bytes) {
        static StreamMemory mem;
        mem = {const_cast<uint8*>(bytes.data()), static_cast<uint32>(bytes.size())};
        return StreamOpen(StreamTypeMemory, StreamAccessRead, &mem);
    }
    static Stream* OpenWrite() { return StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr); }
    // Closes a write stream and returns what was written.
    static std::vector<uint8> Written(Stream* s) {
        StreamMemory out{};
        EXPECT_TRUE(StreamClose(s, &out));
        std::vector<uint8> bytes(out.buffer, out.buffer + out.length);
        KvFree(out.buffer);
        return bytes;
    }
};

inline void PutLE32(std::vector<uint8>& v, uint32 x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8>(x >> (8 * i)));
}

inline void PutHeader(std::vector<uint8>& v, uint32 type, uint32 length, uint32 version = 0x310) {
    PutLE32(v, type);
    PutLE32(v, length);
    PutLE32(v, version);
}

inline uint32 GetLE32(const std::vector<uint8>& v, std::size_t at) {
    return static_cast<uint32>(v.at(at)) | static_cast<uint32>(v.at(at + 1)) << 8 |
           static_cast<uint32>(v.at(at + 2)) << 16 | static_cast<uint32>(v.at(at + 3)) << 24;
}

}  // namespace kv::test
