#include "render_heap.h"

#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"

namespace kv {

namespace {

constexpr uint32 kRegionAlign = 128;
constexpr uint32 kEntryGrowth = 32;
// Start sentinel, first header and end sentinel of a region.
constexpr uint32 kRegionOverhead = 3 * sizeof(HeapHeader);
constexpr uint32 kMaxRequest = 0x7FFFFF00u;

uint32 RoundUp(uint32 size) {
    if (size == 0) return kHeapGranularity;
    return (size + kHeapGranularity - 1) & ~(kHeapGranularity - 1);
}

HeapHeader* HeaderOf(void* block) { return static_cast<HeapHeader*>(block) - 1; }
void* SpaceOf(HeapHeader* h) { return h + 1; }
HeapHeader* HeaderAt(void* p, uint32 bytes) { return PtrAdd<HeapHeader>(p, bytes); }

HeapFreeEntry* AddEntry(RenderHeap* heap, HeapHeader* h) {
    if (heap->entriesUsed == heap->entriesAlloced) {
        const uint32 capacity = heap->entriesAlloced + kEntryGrowth;
        auto* entries = static_cast<HeapFreeEntry*>(KvRealloc(heap->freeEntries, capacity * sizeof(HeapFreeEntry)));
        if (entries == nullptr) {
            ErrorRaise(kModuleNone, kErrNoMemory);
            return nullptr;
        }
        // The array may have moved: the free headers point into it.
        if (entries != heap->freeEntries) {
            for (uint32 i = 0; i < heap->entriesUsed; ++i) entries[i].header->freeEntry = &entries[i];
        }
        heap->freeEntries = entries;
        heap->entriesAlloced = capacity;
    }
    HeapFreeEntry* e = &heap->freeEntries[heap->entriesUsed++];
    e->size = h->size;
    e->header = h;
    h->freeEntry = e;
    return e;
}

// The last entry moves into the hole so the array stays dense.
void RemoveEntry(RenderHeap* heap, HeapFreeEntry* e) {
    e->header->freeEntry = nullptr;
    HeapFreeEntry* last = &heap->freeEntries[--heap->entriesUsed];
    if (e != last) {
        *e = *last;
        e->header->freeEntry = e;
    }
}

void Unlink(HeapHeader* h) {
    h->prev->next = h->next;
    h->next->prev = h->prev;
}

void InsertAfter(HeapHeader* at, HeapHeader* h) {
    h->prev = at;
    h->next = at->next;
    at->next->prev = h;
    at->next = h;
}

// Lays a region out as one free space between two sentinels, in front of the
// header chain that starts at `chainHead`. Returns the start sentinel.
HeapHeader* LayRegion(HeapSuperBlock* sb, HeapHeader* chainHead) {
    auto* start = static_cast<HeapHeader*>(sb->regionStart);
    HeapHeader* space = start + 1;
    HeapHeader* end = HeaderAt(sb->regionStart, sb->regionSize - sizeof(HeapHeader));
    *start = HeapHeader{nullptr, space, 0, nullptr};
    *space = HeapHeader{start, end, sb->regionSize - kRegionOverhead, nullptr};
    *end = HeapHeader{space, chainHead, 0, nullptr};
    if (chainHead != nullptr) chainHead->prev = end;
    return start;
}

// Adds a superblock of `size` region bytes in front of the chain and returns
// the free entry of its space.
HeapFreeEntry* AddSuperBlock(RenderHeap* heap, uint32 size) {
    const std::size_t bytes = sizeof(HeapSuperBlock) + (kRegionAlign - 1) + static_cast<std::size_t>(size);
    auto* sb = static_cast<HeapSuperBlock*>(KvMalloc(bytes));
    if (sb == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return nullptr;
    }
    const auto base = reinterpret_cast<std::uintptr_t>(sb + 1);
    sb->regionStart = reinterpret_cast<void*>((base + kRegionAlign - 1) & ~std::uintptr_t{kRegionAlign - 1});
    sb->regionSize = size;
    HeapHeader* start = LayRegion(sb, heap->firstHeader);
    HeapFreeEntry* e = AddEntry(heap, start->next);
    if (e == nullptr) {
        if (heap->firstHeader != nullptr) heap->firstHeader->prev = nullptr;
        KvFree(sb);
        return nullptr;
    }
    sb->next = heap->head;
    heap->head = sb;
    heap->firstHeader = start;
    return e;
}

void* Carve(RenderHeap* heap, HeapFreeEntry* e, uint32 size) {
    HeapHeader* h = e->header;
    if (h->size - size < kHeapSplitThreshold) {
        RemoveEntry(heap, e);
        return SpaceOf(h);
    }
    HeapHeader* rest = HeaderAt(SpaceOf(h), size);
    rest->size = h->size - size - sizeof(HeapHeader);
    InsertAfter(h, rest);
    rest->freeEntry = e;
    e->header = rest;
    e->size = rest->size;
    h->size = size;
    h->freeEntry = nullptr;
    return SpaceOf(h);
}

}  // namespace

RenderHeap* HeapCreate(uint32 size) {
    if (size > kMaxRequest) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    auto* heap = static_cast<RenderHeap*>(KvMalloc(sizeof(RenderHeap)));
    if (heap == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    *heap = RenderHeap{};
    heap->superBlockSize = RoundUp(size) < kRegionAlign ? kRegionAlign : RoundUp(size);
    if (AddSuperBlock(heap, heap->superBlockSize) == nullptr) {
        HeapDestroy(heap);
        return nullptr;
    }
    return heap;
}

void HeapDestroy(RenderHeap* heap) {
    if (heap == nullptr) return;
    for (HeapSuperBlock* sb = heap->head; sb != nullptr;) {
        HeapSuperBlock* next = sb->next;
        KvFree(sb);
        sb = next;
    }
    KvFree(heap->freeEntries);
    KvFree(heap);
}

void* HeapAlloc(RenderHeap* heap, uint32 size) {
    if (heap == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (size > kMaxRequest) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    size = RoundUp(size);
    for (uint32 i = heap->entriesUsed; i-- > 0;) {
        if (heap->freeEntries[i].size >= size) return Carve(heap, &heap->freeEntries[i], size);
    }
    // Nothing fits (or nothing is free at all): grow by a superblock.
    const uint32 wanted = size + kRegionOverhead;
    HeapFreeEntry* e = AddSuperBlock(heap, wanted > heap->superBlockSize ? wanted : heap->superBlockSize);
    return e != nullptr ? Carve(heap, e, size) : nullptr;
}

void HeapFree(RenderHeap* heap, void* block) {
    if (heap == nullptr || block == nullptr) return;
    HeapHeader* h = HeaderOf(block);
    KV_ASSERT(h->freeEntry == nullptr);  // freed twice
    HeapHeader* prev = h->prev;
    HeapHeader* next = h->next;
    const bool prevFree = prev->freeEntry != nullptr;
    const bool nextFree = next->freeEntry != nullptr;
    if (prevFree && nextFree) {
        prev->size += h->size + next->size + 2 * sizeof(HeapHeader);
        Unlink(h);
        Unlink(next);
        RemoveEntry(heap, next->freeEntry);
        prev->freeEntry->size = prev->size;
    } else if (prevFree) {
        prev->size += h->size + sizeof(HeapHeader);
        Unlink(h);
        prev->freeEntry->size = prev->size;
    } else if (nextFree) {
        h->size += next->size + sizeof(HeapHeader);
        HeapFreeEntry* e = next->freeEntry;
        Unlink(next);
        e->header = h;
        e->size = h->size;
        h->freeEntry = e;
    } else {
        // Without an entry the space is lost until the next reset.
        AddEntry(heap, h);
    }
}

void* HeapRealloc(RenderHeap* heap, void* block, uint32 size) {
    if (heap == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (block == nullptr) return HeapAlloc(heap, size);
    if (size > kMaxRequest) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    size = RoundUp(size);
    HeapHeader* h = HeaderOf(block);
    const uint32 old = h->size;
    if (size > old) {
        const uint32 growth = size - old;
        HeapHeader* next = h->next;
        if (next->freeEntry != nullptr && next->size + sizeof(HeapHeader) >= growth) {
            if (next->size >= growth && next->size - growth >= kHeapSplitThreshold) {
                // The free header moves up; read it out first, the two may overlap.
                const HeapHeader saved = *next;
                HeapHeader* moved = HeaderAt(next, growth);
                *moved = saved;
                moved->size = saved.size - growth;
                moved->prev = h;
                h->next = moved;
                saved.next->prev = moved;
                moved->freeEntry->header = moved;
                moved->freeEntry->size = moved->size;
                h->size = size;
            } else {
                h->size += next->size + sizeof(HeapHeader);
                RemoveEntry(heap, next->freeEntry);
                Unlink(next);
            }
            return block;
        }
        void* moved = HeapAlloc(heap, size);
        if (moved == nullptr) return nullptr;
        std::memcpy(moved, block, old);
        HeapFree(heap, block);
        return moved;
    }
    if (old - size >= kHeapSplitThreshold) {
        // The tail becomes free space (joining a free neighbour behind it).
        HeapHeader* tail = HeaderAt(block, size);
        tail->size = old - size - sizeof(HeapHeader);
        tail->freeEntry = nullptr;
        InsertAfter(h, tail);
        h->size = size;
        HeapFree(heap, SpaceOf(tail));
    }
    return block;
}

bool HeapReset(RenderHeap* heap) {
    if (heap == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    heap->entriesUsed = 0;
    ++heap->resets;
    // Walk oldest to newest so the chain comes out newest first, as built.
    HeapSuperBlock* reversed = nullptr;
    for (HeapSuperBlock* sb = heap->head; sb != nullptr;) {
        HeapSuperBlock* next = sb->next;
        sb->next = reversed;
        reversed = sb;
        sb = next;
    }
    bool ok = true;
    heap->head = nullptr;
    heap->firstHeader = nullptr;
    for (HeapSuperBlock* sb = reversed; sb != nullptr;) {
        HeapSuperBlock* next = sb->next;
        HeapHeader* start = LayRegion(sb, heap->firstHeader);
        if (AddEntry(heap, start->next) == nullptr) ok = false;
        sb->next = heap->head;
        heap->head = sb;
        heap->firstHeader = start;
        sb = next;
    }
    return ok;
}

uint32 HeapTotalSize(const RenderHeap* heap) {
    uint32 total = 0;
    for (const HeapSuperBlock* sb = heap->head; sb != nullptr; sb = sb->next) total += sb->regionSize;
    return total;
}

}  // namespace kv
