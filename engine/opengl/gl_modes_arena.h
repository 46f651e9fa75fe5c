// Pieces of the OpenGL device that need no context: the rules that turn the
// display's modes into the device's mode table, matching a name against the
// extension string, and the best-fit allocator of the fast vertex arena.
#pragma once

#include <cstddef>

#include "engine/core/types.h"

namespace kv {

// One entry of the device's mode table. Entry 0 is the desktop (windowed).
struct GlDisplayMode {
    int32 fullScreen;  // 0 for the desktop entry, 1 for modes from the list
    int32 width;
    int32 height;
    int32 depth;        // bits per pixel
    int32 refreshRate;  // as the display reported it
    uint32 format;      // the display's pixel format code
};

// Fills table (room for 1 + count entries) with the desktop entry followed by
// the listed modes: duplicates by size and depth are dropped (refresh rates
// do not count), modes under 16 bits per pixel are skipped, and the listed
// ones are sorted by depth, width, height. Returns the number of entries.
int32 GlModeTableBuild(GlDisplayMode* table, const GlDisplayMode& desktop, const GlDisplayMode* listed, int32 count);

// 1 when name is one whole word of the space-separated extension string.
// Empty names and names holding a space never match.
bool GlExtensionInString(const char* extensions, const char* name);

// The vertex arena: one block of memory cut into blocks with 32-byte headers,
// allocated best-fit from a rover that points at the lowest free block.
struct VertexArenaBlock {
    VertexArenaBlock* next;
    VertexArenaBlock* previous;
    std::size_t size;   // usable bytes after the header
    std::size_t flags;  // bit 0: in use
};
static_assert(sizeof(VertexArenaBlock) <= 32);
constexpr std::size_t kVertexArenaHeader = 32;
constexpr std::size_t kVertexArenaSize = 0x400000;

struct VertexArena {
    void* memory;  // as allocated
    std::size_t size;
    VertexArenaBlock* first;
    VertexArenaBlock* rover;
};

// Lays one free block over memory (first header at the start rounded up to
// 32, the block running to the end rounded down to 32). False when the memory
// cannot hold a header and one 32-byte unit.
bool VertexArenaInit(VertexArena* arena, void* memory, std::size_t size);
void* VertexArenaAllocFrom(VertexArena* arena, std::size_t bytes);
void VertexArenaFreeTo(VertexArena* arena, void* pointer);

}  // namespace kv
