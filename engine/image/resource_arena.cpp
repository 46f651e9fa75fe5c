#include "resource_arena.h"

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"

namespace kv {

namespace {

ModuleSlot<ResourcesModule> slot;
int32 configuredSize = 0;
uint32 usableBytes = 0;  // the data bytes of the arena as one block

constexpr uint32 kAlign = 32;
constexpr uint32 kMinUsable = 64;
constexpr uint32 kHeader = sizeof(ArenaBlock);

// The two words at the start of the arena memory.
struct ArenaHeap {
    ArenaBlock* first;
    ArenaBlock* freeHint;  // lowest free block
};

ArenaHeap* HeapOf(ResourcesModule* m) { return static_cast<ArenaHeap*>(m->memory); }
void* DataOf(ArenaBlock* b) { return b + 1; }

bool InitHeap(ResourcesModule* m) {
    auto* heap = HeapOf(m);
    const auto base = reinterpret_cast<std::uintptr_t>(m->memory);
    const std::uintptr_t first = (base + sizeof(ArenaHeap) + kAlign - 1) & ~std::uintptr_t{kAlign - 1};
    const std::uintptr_t end = (base + static_cast<std::uintptr_t>(m->arenaSize)) & ~std::uintptr_t{kAlign - 1};
    if (end < first + sizeof(ArenaBlock) + kMinUsable) return false;
    auto* b = reinterpret_cast<ArenaBlock*>(first);
    *b = ArenaBlock{m->memory, nullptr, nullptr, static_cast<uint32>(end - first - sizeof(ArenaBlock)), 0};
    heap->first = b;
    heap->freeHint = b;
    usableBytes = b->blockSize;
    return true;
}

// Best fit from the hint on: the smallest free block that holds n bytes.
void* ArenaHeapAlloc(ResourcesModule* m, uint32 n) {
    ArenaHeap* heap = HeapOf(m);
    n = n == 0 ? kAlign : (n + kAlign - 1) & ~(kAlign - 1);
    ArenaBlock* best = nullptr;
    for (ArenaBlock* b = heap->freeHint; b != nullptr; b = b->nextBlock) {
        if ((b->used & 1) != 0 || b->blockSize < n) continue;
        if (best == nullptr || b->blockSize < best->blockSize) {
            best = b;
            if (b->blockSize == n) break;
        }
    }
    if (best == nullptr) return nullptr;
    if (best->blockSize > n + 2 * kAlign) {
        auto* rest = PtrAdd<ArenaBlock>(DataOf(best), n);
        *rest = ArenaBlock{m->memory, best->nextBlock, best, best->blockSize - n - kHeader, 0};
        ArenaBlock* after = rest->nextBlock;
        if (after != nullptr && (after->used & 1) == 0) {
            rest->blockSize += after->blockSize + sizeof(ArenaBlock);
            rest->nextBlock = after->nextBlock;
            if (heap->freeHint == after) heap->freeHint = rest;
        }
        if (rest->nextBlock != nullptr) rest->nextBlock->prevBlock = rest;
        best->nextBlock = rest;
        best->blockSize = n;
    }
    best->used |= 1;
    if (heap->freeHint == best) {
        ArenaBlock* b = best->nextBlock;
        while (b != nullptr && (b->used & 1) != 0) b = b->nextBlock;
        heap->freeHint = b;
    }
    return DataOf(best);
}

void ArenaHeapFree(ResourcesModule* m, void* data) {
    ArenaHeap* heap = HeapOf(m);
    ArenaBlock* b = static_cast<ArenaBlock*>(data) - 1;
    b->used &= ~1u;
    if (heap->freeHint == nullptr || b < heap->freeHint) heap->freeHint = b;
    ArenaBlock* prev = b->prevBlock;
    if (prev != nullptr && (prev->used & 1) == 0) {
        prev->blockSize += b->blockSize + sizeof(ArenaBlock);
        prev->nextBlock = b->nextBlock;
        if (b->nextBlock != nullptr) b->nextBlock->prevBlock = prev;
        if (heap->freeHint == b) heap->freeHint = prev;
        b = prev;
    }
    ArenaBlock* next = b->nextBlock;
    if (next != nullptr && (next->used & 1) == 0) {
        b->blockSize += next->blockSize + sizeof(ArenaBlock);
        b->nextBlock = next->nextBlock;
        if (next->nextBlock != nullptr) next->nextBlock->prevBlock = b;
        if (heap->freeHint == next) heap->freeHint = b;
    }
}

ResEntry* EntryOf(LLLink* link) { return reinterpret_cast<ResEntry*>(link); }

// The owner learns first, then the memory goes.
void Release(ResourcesModule* m, ResEntry* e) {
    if (e->destroyNotify != nullptr) e->destroyNotify(e);
    if (e->ownerRef != nullptr && *e->ownerRef == e) *e->ownerRef = nullptr;
    if (e->link.next != nullptr) {
        LLLinkRemove(&e->link);
        m->bytesInUse -= e->size;
        ArenaHeapFree(m, e);
    } else {
        KvFree(e);
    }
}

}  // namespace

ResEntry* ResourcesAllocateEntry(void* owner, ResEntry** ownerRef, int32 size, bool inArena,
                                 ResEntryDestroyNotify destroyNotify) {
    if (ownerRef != nullptr) *ownerRef = nullptr;
    if (size < 0) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    const uint64 bytes = sizeof(ResEntry) + static_cast<uint64>(size);
    ResEntry* e = nullptr;
    if (!inArena) {
        e = static_cast<ResEntry*>(KvMalloc(bytes));
        if (e == nullptr) {
            ErrorRaise(kModuleNone, kErrNoMemory);
            return nullptr;
        }
        LLLinkInitialize(&e->link);
    } else {
        ResourcesModule* m = ResourcesModuleGet();
        if (m == nullptr) {
            ErrorRaise(kModuleNone, kErrNotReady);
            return nullptr;
        }
        // Evicting everything would not make room for it: keep the cache.
        if (bytes > usableBytes) {
            ErrorRaise(kModuleCore, kErrResourcesArenaFull);
            return nullptr;
        }
        void* block = nullptr;
        while ((block = ArenaHeapAlloc(m, static_cast<uint32>(bytes))) == nullptr) {
            LLLink* victim = nullptr;
            if (!LinkListEmpty(m->olderList)) {
                victim = m->olderList->link.prev;
            } else if (!LinkListEmpty(m->currentFrameList)) {
                victim = m->currentFrameList->link.prev;
                m->bytesThrashed += EntryOf(victim)->size;
            } else {
                ErrorRaise(kModuleCore, kErrResourcesArenaFull);
                return nullptr;
            }
            Release(m, EntryOf(victim));
        }
        e = static_cast<ResEntry*>(block);
        LinkListAddLLLink(m->currentFrameList, &e->link);
        m->bytesInUse += size;
    }
    e->size = size;
    e->owner = owner;
    e->ownerRef = ownerRef;
    e->destroyNotify = destroyNotify;
    if (ownerRef != nullptr) *ownerRef = e;
    return e;
}

ResEntry* ResourcesUseEntry(ResEntry* entry) {
    ResourcesModule* m = ResourcesModuleGet();
    if (entry == nullptr || entry->link.next == nullptr || m == nullptr) return entry;
    LLLinkRemove(&entry->link);
    LinkListAddLLLink(m->currentFrameList, &entry->link);
    return entry;
}

bool ResourcesFreeEntry(ResEntry* entry) {
    if (entry == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    ResourcesModule* m = ResourcesModuleGet();
    if (entry->link.next != nullptr && m == nullptr) return false;
    Release(m, entry);
    return true;
}

void ResourcesEndFrame() {
    ResourcesModule* m = ResourcesModuleGet();
    if (m == nullptr) return;
    LinkList* current = m->currentFrameList;
    LinkList* older = m->olderList;
    if (!LinkListEmpty(older)) {
        // The older entries follow this frame's, in their order.
        LLLink* first = older->link.next;
        LLLink* last = older->link.prev;
        LLLink* tail = current->link.prev;
        tail->next = first;
        first->prev = tail;
        last->next = &current->link;
        current->link.prev = last;
        LinkListInitialize(older);
    }
    m->currentFrameList = older;
    m->olderList = current;
    m->bytesThrashed = 0;
}

bool ResourcesEmptyArena() {
    ResourcesModule* m = ResourcesModuleGet();
    if (m == nullptr) return false;
    // A destroy callback may free other entries: always take a list head.
    while (!LinkListEmpty(m->currentFrameList)) Release(m, EntryOf(m->currentFrameList->link.next));
    while (!LinkListEmpty(m->olderList)) Release(m, EntryOf(m->olderList->link.next));
    m->bytesThrashed = 0;
    return true;
}

void ResourcesSetArenaSize(int32 size) { configuredSize = size > 0 ? size : 0; }

void* ResourcesModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    ResourcesModule* m = slot.At(instance, offset);
    m->arenaSize = configuredSize != 0 ? configuredSize : kResourcesDefaultArenaSize;
    m->memory = KvMalloc(static_cast<std::size_t>(m->arenaSize));
    if (m->memory == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, m->arenaSize);
        return nullptr;
    }
    if (!InitHeap(m)) {
        KvFree(m->memory);
        m->memory = nullptr;
        ErrorRaise(kModuleCore, kErrResourcesArenaFull);
        return nullptr;
    }
    LinkListInitialize(&m->lists[0]);
    LinkListInitialize(&m->lists[1]);
    m->currentFrameList = &m->lists[0];
    m->olderList = &m->lists[1];
    m->bytesInUse = 0;
    m->bytesThrashed = 0;
    slot.Opened(offset);
    return instance;
}

void* ResourcesModuleClose(void* instance, int32 /*offset*/, int32 /*size*/) {
    if (ResourcesModule* m = ResourcesModuleGet()) {
        ResourcesEmptyArena();
        KvFree(m->memory);
        m->memory = nullptr;
    }
    slot.Closed();
    return instance;
}

ResourcesModule* ResourcesModuleGet() { return slot.Get(); }

CoreModule ResourcesModuleEntry() {
    return {"resources", static_cast<int32>(sizeof(ResourcesModule)), kIdResourcesModule, ResourcesModuleOpen,
            ResourcesModuleClose};
}

const ArenaBlock* ResourcesArenaFirstBlock() {
    ResourcesModule* m = ResourcesModuleGet();
    return m != nullptr ? HeapOf(m)->first : nullptr;
}

}  // namespace kv
