// The chunk-file walker: reads a file of the engine's chunked binary format
// from memory, without the engine, and returns its chunk tree with short
// summaries of the bodies it knows. Malformed input becomes a list of
// problems, each naming the offset where it was found; the walker never reads
// outside the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace kv::dump {

struct ChunkNode {
    std::size_t offset = 0;  // of the 12-byte header
    uint32_t type = 0;
    uint32_t length = 0;  // body bytes
    uint32_t version = 0;
    int depth = 0;                     // 0 for chunks at the top of the file
    int parent = -1;                   // index in ChunkTree::nodes; -1 at the top
    bool plugin = false;               // a plugin's chunk inside an extension: type is its id
    std::string summary;               // decoded fields, or a string chunk's text
    std::string text;                  // a string chunk's characters (no quoting)
    std::vector<std::string> details;  // one line per frame, mesh, slot...

    std::size_t BodyOffset() const { return offset + 12; }
    std::size_t End() const { return offset + 12 + length; }
};

struct ChunkProblem {
    std::size_t offset;
    std::string message;
};

struct ChunkTree {
    std::size_t size = 0;          // bytes walked
    std::vector<ChunkNode> nodes;  // in file order, parents before children
    std::vector<ChunkProblem> problems;

    bool Ok() const { return problems.empty(); }
    // Indices of the direct children of a node (-1: the top-level chunks).
    std::vector<int> Children(int parent) const;
    // The nth direct child of the given type, or -1.
    int FindChild(int parent, uint32_t type, int nth = 0) const;
};

struct WalkOptions {
    int maxDepth = 32;  // deeper nesting is reported, not followed
};

ChunkTree ChunkWalk(const uint8_t* data, std::size_t size, const WalkOptions& options = {});
inline ChunkTree ChunkWalk(const std::vector<uint8_t>& data, const WalkOptions& options = {}) {
    return ChunkWalk(data.data(), data.size(), options);
}

// "Clump", "FrameList", ... for the known chunk types; null otherwise.
const char* ChunkTypeName(uint32_t type);
// The name of a known plugin id ("MeshExtension"); null otherwise.
const char* PluginName(uint32_t id);

struct PrintOptions {
    bool details = true;          // per-frame, per-mesh and per-slot lines
    std::size_t maxDetails = 16;  // per chunk; the rest are counted
};

// One line per chunk: offset, indentation by depth, type and name, length,
// version and summary.
void ChunkTreePrint(std::ostream& out, const ChunkTree& tree, const PrintOptions& options = {});
// One line per problem: "<name>: offset 0x...: message".
void ChunkProblemsPrint(std::ostream& out, const ChunkTree& tree, const std::string& name);

}  // namespace kv::dump
