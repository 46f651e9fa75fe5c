// Memory functions and free lists: every allocation of the engine goes through
// the instance's memory-function table, and every engine object comes from a
// pool of fixed-size entries.
#pragma once

#include "types.h"

namespace kv {

struct MemoryFunctions {
    void* (*kvmalloc)(std::size_t size);
    void (*kvfree)(void* mem);
    void* (*kvrealloc)(void* mem, std::size_t newSize);
    void* (*kvcalloc)(std::size_t count, std::size_t size);
};

// The standard library's functions, with an allocate-zeroed that multiplies,
// allocates and clears.
const MemoryFunctions* MemoryFunctionsDefault();

struct FreeList {
    void** stack;  // free-entry stack
    void** top;    // top of the stack; stack - 1 when empty
    void* blocks;  // newest block; each block's first word links the previous
    int32 blockBytes;
    int32 entrySize;
    int32 alignMask;
    int32 entriesPerBlock;
    int32 totalEntries;
    FreeList* next;
    FreeList* previous;
};

FreeList* FreeListCreate(int32 entrySize, int32 entriesPerBlock, int32 alignment);
void FreeListDestroy(FreeList* list);
void* FreeListAlloc(FreeList* list);
void FreeListFree(FreeList* list, void* entry);
void FreeListForAllUsed(FreeList* list, void (*fn)(void* entry, void* data), void* data);

// The list of all free lists (maintained on create and destroy).
void FreeListResetAll();
FreeList* FreeListFirst();

// Plain mode: one allocation per entry through the memory functions.
void* FreeListAllocPlain(FreeList* list);
void FreeListFreePlain(FreeList* list, void* entry);

// Allocation through the current engine instance's tables; these are what the
// rest of the engine calls.
void* KvMalloc(std::size_t size);
void KvFree(void* mem);
void* KvRealloc(void* mem, std::size_t size);
void* KvCalloc(std::size_t count, std::size_t size);
void* KvFreeListAlloc(FreeList* list);
void KvFreeListFree(FreeList* list, void* entry);

}  // namespace kv
