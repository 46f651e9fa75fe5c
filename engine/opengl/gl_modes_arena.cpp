// Mode-table rules, extension matching and the vertex-arena allocator.
#include "gl_modes_arena.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kv {

int32 GlModeTableBuild(GlDisplayMode* table, const GlDisplayMode& desktop, const GlDisplayMode* listed, int32 count) {
    table[0] = desktop;
    table[0].fullScreen = 0;
    int32 n = 1;
    for (int32 i = 0; i < count; ++i) {
        const GlDisplayMode& m = listed[i];
        if (m.depth < 16) continue;
        bool seen = false;
        for (int32 j = 1; j < n && !seen; ++j) {
            seen = table[j].width == m.width && table[j].height == m.height && table[j].depth == m.depth;
        }
        if (seen) continue;
        table[n] = m;
        table[n].fullScreen = 1;
        ++n;
    }
    std::stable_sort(table + 1, table + n, [](const GlDisplayMode& a, const GlDisplayMode& b) {
        if (a.depth != b.depth) return a.depth < b.depth;
        if (a.width != b.width) return a.width < b.width;
        return a.height < b.height;
    });
    return n;
}

bool GlExtensionInString(const char* extensions, const char* name) {
    if (extensions == nullptr || name == nullptr || *name == '\0' || std::strchr(name, ' ') != nullptr) return false;
    const std::size_t length = std::strlen(name);
    const char* p = extensions;
    while ((p = std::strstr(p, name)) != nullptr) {
        const bool starts = p == extensions || p[-1] == ' ';
        const bool ends = p[length] == ' ' || p[length] == '\0';
        if (starts && ends) return true;
        p += length;
    }
    return false;
}

namespace {

constexpr std::size_t kInUse = 1;

std::uintptr_t RoundUp32(std::uintptr_t v) { return (v + 31) & ~std::uintptr_t{31}; }

bool Free(const VertexArenaBlock* b) { return b != nullptr && (b->flags & kInUse) == 0; }

// Takes next (free, following b) into b.
void Absorb(VertexArena* arena, VertexArenaBlock* b, VertexArenaBlock* next) {
    b->size += next->size + kVertexArenaHeader;
    b->next = next->next;
    if (b->next != nullptr) b->next->previous = b;
    if (arena->rover == next) arena->rover = b;
}

}  // namespace

bool VertexArenaInit(VertexArena* arena, void* memory, std::size_t size) {
    *arena = VertexArena{memory, size, nullptr, nullptr};
    if (memory == nullptr) return false;
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t first = RoundUp32(start);
    const std::uintptr_t end = (start + size) & ~std::uintptr_t{31};
    if (end < first + kVertexArenaHeader + 32) return false;
    auto* b = reinterpret_cast<VertexArenaBlock*>(first);
    b->next = nullptr;
    b->previous = nullptr;
    b->size = end - first - kVertexArenaHeader;
    b->flags = 0;
    arena->first = b;
    arena->rover = b;
    return true;
}

void* VertexArenaAllocFrom(VertexArena* arena, std::size_t bytes) {
    if (arena == nullptr || arena->first == nullptr) return nullptr;
    const std::size_t n = (bytes + 31) & ~std::size_t{31};
    VertexArenaBlock* best = nullptr;
    for (VertexArenaBlock* b = arena->rover; b != nullptr; b = b->next) {
        if (Free(b) && b->size >= n && (best == nullptr || b->size < best->size)) best = b;
    }
    if (best == nullptr) return nullptr;
    if (best->size > n + 64) {
        auto* rest = reinterpret_cast<VertexArenaBlock*>(reinterpret_cast<char*>(best) + kVertexArenaHeader + n);
        rest->flags = 0;
        rest->previous = best;
        rest->next = best->next;
        rest->size = best->size - n - kVertexArenaHeader;
        if (rest->next != nullptr) rest->next->previous = rest;
        best->next = rest;
        best->size = n;
        // A free block behind the new one is joined to it at once.
        if (Free(rest->next)) Absorb(arena, rest, rest->next);
    }
    if (best == arena->rover) {
        VertexArenaBlock* r = best->next;
        while (r != nullptr && !Free(r)) r = r->next;
        arena->rover = r;
    }
    best->flags |= kInUse;
    return reinterpret_cast<char*>(best) + kVertexArenaHeader;
}

void VertexArenaFreeTo(VertexArena* arena, void* pointer) {
    if (arena == nullptr || pointer == nullptr) return;
    auto* b = reinterpret_cast<VertexArenaBlock*>(static_cast<char*>(pointer) - kVertexArenaHeader);
    b->flags &= ~kInUse;
    if (arena->rover == nullptr || b < arena->rover) arena->rover = b;
    if (Free(b->previous)) {
        VertexArenaBlock* p = b->previous;
        Absorb(arena, p, b);
        b = p;
    }
    if (Free(b->next)) Absorb(arena, b, b->next);
}

}  // namespace kv
