// libFuzzer target: the chunk walker and printer, and the engine's string
// chunk reader, on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "chunk_walk.h"
#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/core/memory.h"
#include "engine/stream/chunk.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// What the walker promises: nodes lie inside the input and inside their
// parents, one level deeper than them.
void CheckTree(const kv::dump::ChunkTree& tree, std::size_t size) {
    for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
        const kv::dump::ChunkNode& n = tree.nodes[i];
        Check(n.End() <= size);
        if (n.parent >= 0) {
            Check(static_cast<std::size_t>(n.parent) < i);
            const kv::dump::ChunkNode& p = tree.nodes[static_cast<std::size_t>(n.parent)];
            Check(n.offset >= p.BodyOffset() && n.End() <= p.End());
            Check(n.depth == p.depth + 1);
        } else {
            Check(n.depth == 0);
        }
    }
}

void ReadStrings(const uint8_t* data, std::size_t size, char* buffer) {
    kv::StreamMemory mem{const_cast<uint8_t*>(data), static_cast<kv::uint32>(size)};
    kv::Stream* s = kv::StreamOpen(kv::StreamTypeMemory, kv::StreamAccessRead, &mem);
    Check(s != nullptr);
    while (char* text = kv::StringStreamRead(buffer, s)) {
        Check(std::strlen(text) <= size);
        if (buffer == nullptr) kv::KvFree(text);
    }
    Check(kv::StreamClose(s, nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static int display = 0;
    kv::EngineSetDevice(nullptr);
    kv::EngineOpenParams params{&display};
    kv::EngineUseStandardModules();
    if (!kv::EngineInit(nullptr, 0) || !kv::EngineOpen(&params) || !kv::EngineStart()) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    const kv::dump::ChunkTree tree = kv::dump::ChunkWalk(data, size);
    CheckTree(tree, size);
    std::ostringstream out;
    kv::dump::ChunkTreePrint(out, tree);
    kv::dump::ChunkProblemsPrint(out, tree, "input");

    ReadStrings(data, size, nullptr);
    // A caller's buffer as large as the input can hold any string it holds.
    std::vector<char> buffer(size + 1);
    ReadStrings(data, size, buffer.data());
    return 0;
}
