// Basic types, intrusive lists and the common object header shared by every
// engine module.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

using int8 = std::int8_t;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using uint64 = std::uint64_t;
using real = float;

// Internal invariants: what no caller can make false, only a fault in the
// engine itself. Checked in debug builds (the sanitizer build is one), where a
// broken invariant stops the program with its place; release builds trust
// them.
[[noreturn]] void AssertFailed(const char* condition, const char* file, int line);
#ifdef NDEBUG
#define KV_ASSERT(condition) static_cast<void>(0)
#else
#define KV_ASSERT(condition) ((condition) ? static_cast<void>(0) : ::kv::AssertFailed(#condition, __FILE__, __LINE__))
#endif

// The number of entries of an array, as the engine's tables count them.
template <typename T, std::size_t N>
constexpr int32 CountOf(const T (&)[N]) {
    return static_cast<int32>(N);
}

// Names inside engine records are fixed 32-character fields.
constexpr int kNameLength = 32;

// Intrusive circular doubly linked list. An empty list's sentinel points at
// itself in both directions.
struct LLLink {
    LLLink* next;
    LLLink* prev;
};

struct LinkList {
    LLLink link;
};

inline void LinkListInitialize(LinkList* list) {
    list->link.next = &list->link;
    list->link.prev = &list->link;
}
inline bool LinkListEmpty(const LinkList* list) { return list->link.next == &list->link; }
inline LLLink* LinkListGetFirst(LinkList* list) { return list->link.next; }
inline LLLink* LinkListGetTerminator(LinkList* list) { return &list->link; }
// Inserts at the head of the list.
inline void LinkListAddLLLink(LinkList* list, LLLink* link) {
    link->next = list->link.next;
    link->prev = &list->link;
    list->link.next->prev = link;
    list->link.next = link;
}
inline void LLLinkInitialize(LLLink* link) {
    link->next = nullptr;
    link->prev = nullptr;
}
inline void LLLinkRemove(LLLink* link) {
    link->prev->next = link->next;
    link->next->prev = link->prev;
}

// Recovers the record that holds a link member.
template <typename T>
inline T* LLLinkGetData(LLLink* link, std::size_t memberOffset) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(link) - memberOffset);
}

// The header that begins every engine object.
struct Object {
    uint8 type;
    uint8 subType;
    uint8 flags;
    uint8 privateFlags;
    void* parent;
};

inline void ObjectInitialize(Object* o, uint8 type, uint8 subType) {
    o->type = type;
    o->subType = subType;
    o->flags = 0;
    o->privateFlags = 0;
    o->parent = nullptr;
}

// Moves a pointer by a byte offset; used to reach plugin blocks behind objects.
template <typename T = void>
inline T* PtrAdd(void* base, std::ptrdiff_t bytes) {
    return reinterpret_cast<T*>(static_cast<char*>(base) + bytes);
}

}  // namespace kv
