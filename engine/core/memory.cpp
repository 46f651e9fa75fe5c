#include "memory.h"

#include <cstdlib>
#include <cstring>

#include "engine.h"
#include "error.h"

namespace kv {

namespace {

void* DefaultCalloc(std::size_t count, std::size_t size) {
    const std::size_t bytes = count * size;
    void* mem = std::malloc(bytes);
    if (mem != nullptr) std::memset(mem, 0, bytes);
    return mem;
}

const MemoryFunctions kDefaultMemory = {std::malloc, std::free, std::realloc, DefaultCalloc};

// Sentinel of the list of all free lists.
FreeList allLists = {nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, &allLists, &allLists};

const MemoryFunctions& Mem() {
    const EngineInstance* e = EngineInstanceGet();
    return e != nullptr && e->memoryFuncs.kvmalloc != nullptr ? e->memoryFuncs : kDefaultMemory;
}

void* OutOfMemory(std::size_t bytes) {
    ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
    return nullptr;
}

}  // namespace

const MemoryFunctions* MemoryFunctionsDefault() { return &kDefaultMemory; }

void* KvMalloc(std::size_t size) { return Mem().kvmalloc(size); }
void KvFree(void* mem) { Mem().kvfree(mem); }
void* KvRealloc(void* mem, std::size_t size) { return Mem().kvrealloc(mem, size); }
void* KvCalloc(std::size_t count, std::size_t size) { return Mem().kvcalloc(count, size); }

void* KvFreeListAlloc(FreeList* list) {
    const EngineInstance* e = EngineInstanceGet();
    return e != nullptr && e->freeListAlloc != nullptr ? e->freeListAlloc(list) : FreeListAlloc(list);
}

void KvFreeListFree(FreeList* list, void* entry) {
    const EngineInstance* e = EngineInstanceGet();
    if (e != nullptr && e->freeListFree != nullptr) {
        e->freeListFree(list, entry);
    } else {
        FreeListFree(list, entry);
    }
}

void FreeListResetAll() {
    allLists.next = &allLists;
    allLists.previous = &allLists;
}

FreeList* FreeListFirst() { return allLists.next == &allLists ? nullptr : allLists.next; }

FreeList* FreeListCreate(int32 entrySize, int32 entriesPerBlock, int32 alignment) {
    auto* list = static_cast<FreeList*>(KvMalloc(sizeof(FreeList)));
    if (list == nullptr) return static_cast<FreeList*>(OutOfMemory(sizeof(FreeList)));
    if (alignment <= 1) alignment = 1;
    list->alignMask = alignment - 1;
    list->entrySize = (entrySize + alignment - 1) & ~list->alignMask;
    list->entriesPerBlock = entriesPerBlock;
    list->blockBytes = entriesPerBlock * list->entrySize + alignment + 3;
    // The "+ 3" leaves room for a 4-byte link below the lowest entry; a
    // pointer here is 8 bytes, so widen it by the difference.
    list->blockBytes += static_cast<int32>(sizeof(void*)) - 4;
    list->stack = static_cast<void**>(KvMalloc(sizeof(void*)));
    if (list->stack == nullptr) {
        KvFree(list);
        return static_cast<FreeList*>(OutOfMemory(sizeof(void*)));
    }
    list->top = list->stack - 1;
    list->blocks = nullptr;
    list->totalEntries = 0;
    list->previous = allLists.previous;
    list->next = &allLists;
    allLists.previous->next = list;
    allLists.previous = list;
    return list;
}

void* FreeListAlloc(FreeList* list) {
    if (list->top < list->stack) {
        auto* block = static_cast<char*>(KvMalloc(static_cast<std::size_t>(list->blockBytes)));
        if (block == nullptr) return OutOfMemory(static_cast<std::size_t>(list->blockBytes));
        const auto stackEntries = static_cast<std::size_t>(list->entriesPerBlock + list->totalEntries);
        auto** stack = static_cast<void**>(KvMalloc(stackEntries * sizeof(void*)));
        if (stack == nullptr) {
            KvFree(block);
            return OutOfMemory(stackEntries * sizeof(void*));
        }
        KvFree(list->stack);
        list->stack = stack;
        list->totalEntries += list->entriesPerBlock;
        *reinterpret_cast<void**>(block) = list->blocks;
        list->blocks = block;

        // Entries are pushed from the top of the block downwards, so the
        // lowest entry ends on top of the stack and comes out first.
        auto addr = reinterpret_cast<std::uintptr_t>(block) + static_cast<std::uintptr_t>(list->blockBytes) -
                    static_cast<std::uintptr_t>(list->entrySize);
        addr &= ~static_cast<std::uintptr_t>(list->alignMask);
        for (int32 k = 0; k < list->entriesPerBlock; ++k) {
            stack[k] = reinterpret_cast<void*>(addr);
            addr -= static_cast<std::uintptr_t>(list->entrySize);
        }
        list->top = stack + list->entriesPerBlock - 1;
    }
    return *list->top--;
}

void FreeListFree(FreeList* list, void* entry) { *++list->top = entry; }

void FreeListDestroy(FreeList* list) {
    if (list == nullptr) return;
    KvFree(list->stack);
    void* block = list->blocks;
    while (block != nullptr) {
        void* previous = *static_cast<void**>(block);
        KvFree(block);
        block = previous;
    }
    list->previous->next = list->next;
    list->next->previous = list->previous;
    KvFree(list);
}

void FreeListForAllUsed(FreeList* list, void (*fn)(void* entry, void* data), void* data) {
    for (void* block = list->blocks; block != nullptr; block = *static_cast<void**>(block)) {
        auto addr = reinterpret_cast<std::uintptr_t>(block) + static_cast<std::uintptr_t>(list->blockBytes) -
                    static_cast<std::uintptr_t>(list->entrySize);
        addr &= ~static_cast<std::uintptr_t>(list->alignMask);
        for (int32 k = 0; k < list->entriesPerBlock; ++k) {
            void* entry = reinterpret_cast<void*>(addr);
            bool isFree = false;
            for (void** s = list->stack; s <= list->top; ++s) {
                if (*s == entry) {
                    isFree = true;
                    break;
                }
            }
            if (!isFree) fn(entry, data);
            addr -= static_cast<std::uintptr_t>(list->entrySize);
        }
    }
}

void* FreeListAllocPlain(FreeList* list) {
    void* entry = KvMalloc(static_cast<std::size_t>(list->entrySize));
    if (entry == nullptr) return OutOfMemory(static_cast<std::size_t>(list->entrySize));
    return entry;
}

void FreeListFreePlain(FreeList* /*list*/, void* entry) { KvFree(entry); }

}  // namespace kv
