// The render heap: per-frame arena for the clusters that pipeline nodes make.
// Space comes from large superblocks, is handed out in 32-byte steps from a
// list of free spaces, and is emptied in one go at the start of each
// top-level render instead of being freed block by block.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct HeapFreeEntry;

// Every block handed out starts 32 bytes after its header.
struct HeapHeader {
    HeapHeader* prev;
    HeapHeader* next;
    uint32 size;               // bytes of space after the header
    HeapFreeEntry* freeEntry;  // none while the space is in use
};
static_assert(sizeof(HeapHeader) == 32, "blocks stay 32-byte aligned behind their headers");

struct HeapFreeEntry {
    uint32 size;
    HeapHeader* header;
};

struct HeapSuperBlock {
    void* regionStart;
    uint32 regionSize;
    HeapSuperBlock* next;
};

struct RenderHeap {
    uint32 superBlockSize;
    HeapSuperBlock* head;     // newest first
    HeapHeader* firstHeader;  // start sentinel of the oldest superblock
    HeapFreeEntry* freeEntries;
    uint32 entriesAlloced;
    uint32 entriesUsed;
    // Counts resets, so that whoever keeps blocks across runs can tell
    // whether they are still valid.
    uint32 resets;
};

constexpr uint32 kHeapGranularity = 32;
// A free space is split only when at least this much would be left over.
constexpr uint32 kHeapSplitThreshold = 256;

RenderHeap* HeapCreate(uint32 size);
void HeapDestroy(RenderHeap* heap);
void* HeapAlloc(RenderHeap* heap, uint32 size);
void HeapFree(RenderHeap* heap, void* block);
void* HeapRealloc(RenderHeap* heap, void* block, uint32 size);
bool HeapReset(RenderHeap* heap);

// The space behind a block handed out (its rounded size).
inline uint32 HeapBlockSize(const void* block) {
    return reinterpret_cast<const HeapHeader*>(static_cast<const char*>(block) - sizeof(HeapHeader))->size;
}
// Bytes of all superblocks together.
uint32 HeapTotalSize(const RenderHeap* heap);

}  // namespace kv
