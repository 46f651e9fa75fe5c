// The resource arena: one fixed block in which the renderer caches data it
// can rebuild at any time (instanced vertices and indices). Entries are kept
// in recency order at frame granularity; when the arena is full the least
// recently used entries are thrown away, and their owners find their
// reference cleared and rebuild.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct CoreModule;

struct ResEntry;
using ResEntryDestroyNotify = void (*)(ResEntry* entry);

// The header in front of an entry's data.
struct ResEntry {
    LLLink link;  // both null for an entry outside the arena
    int32 size;   // data bytes requested
    void* owner;
    ResEntry** ownerRef;  // cleared when the entry goes
    ResEntryDestroyNotify destroyNotify;
};

inline void* ResEntryData(ResEntry* entry) { return entry + 1; }

// The arena heap's block header; blocks are 32-byte aligned.
struct ArenaBlock {
    void* heapOwner;
    ArenaBlock* nextBlock;  // address order
    ArenaBlock* prevBlock;
    uint32 blockSize;  // data bytes
    uint32 used;       // bit 0
};
static_assert(sizeof(ArenaBlock) == 32, "arena blocks keep 32-byte alignment");

struct ResourcesModule {
    int32 arenaSize;
    int32 bytesInUse;
    int32 bytesThrashed;  // evicted from the current frame since it began
    void* memory;
    LinkList lists[2];
    LinkList* currentFrameList;  // allocated or used since the last frame end, newest first
    LinkList* olderList;         // every other entry, newest first
};

constexpr int32 kResourcesDefaultArenaSize = 0x200000;

// inArena = false: the entry comes from the general allocator and is never
// evicted. *ownerRef is set to the entry, or to null on failure.
ResEntry* ResourcesAllocateEntry(void* owner, ResEntry** ownerRef, int32 size, bool inArena,
                                 ResEntryDestroyNotify destroyNotify);
ResEntry* ResourcesUseEntry(ResEntry* entry);
bool ResourcesFreeEntry(ResEntry* entry);
// Closes the frame: called when a raster is shown, before the device shows it.
void ResourcesEndFrame();
bool ResourcesEmptyArena();

// The arena size the next engine start uses (0: the default).
void ResourcesSetArenaSize(int32 size);

// Registered with the engine (core module table).
void* ResourcesModuleOpen(void* instance, int32 offset, int32 size);
void* ResourcesModuleClose(void* instance, int32 offset, int32 size);
CoreModule ResourcesModuleEntry();
// Null while the module is not started.
ResourcesModule* ResourcesModuleGet();
const ArenaBlock* ResourcesArenaFirstBlock();

}  // namespace kv
