#include "engine/core/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

namespace kv {
namespace {

TEST(FreeList, EntriesAreSpacedAlignedAndLowestFirst) {
    FreeList* list = FreeListCreate(10, 8, 4);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->entrySize, 12);
    EXPECT_EQ(list->alignMask, 3);

    std::vector<char*> got;
    for (int i = 0; i < 8; ++i) got.push_back(static_cast<char*>(FreeListAlloc(list)));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(got[i]) % 4, 0u);
        if (i > 0) {
            EXPECT_EQ(got[i] - got[i - 1], 12) << "entry " << i;
        }
    }
    // Every entry lies inside the one block, above its link word.
    auto* block = static_cast<char*>(list->blocks);
    EXPECT_GE(got.front(), block + sizeof(void*));
    EXPECT_LE(got.back() + 12, block + list->blockBytes);
    FreeListDestroy(list);
}

TEST(FreeList, GrowsByBlocksAndReusesLastFreedFirst) {
    FreeList* list = FreeListCreate(16, 4, 8);
    std::vector<void*> got;
    for (int i = 0; i < 5; ++i) got.push_back(FreeListAlloc(list));
    EXPECT_EQ(list->totalEntries, 8);
    ASSERT_NE(list->blocks, nullptr);
    EXPECT_NE(*static_cast<void**>(list->blocks), nullptr) << "two blocks, linked";
    EXPECT_EQ(std::set<void*>(got.begin(), got.end()).size(), 5u);

    for (void* e : got) FreeListFree(list, e);
    // Last freed comes out first.
    for (int i = 4; i >= 0; --i) EXPECT_EQ(FreeListAlloc(list), got[i]);
    FreeListDestroy(list);
}

TEST(FreeList, ForAllUsedSkipsFreeEntries) {
    FreeList* list = FreeListCreate(8, 4, 0);
    void* a = FreeListAlloc(list);
    void* b = FreeListAlloc(list);
    void* c = FreeListAlloc(list);
    FreeListFree(list, b);
    std::vector<void*> used;
    FreeListForAllUsed(
        list, [](void* e, void* d) { static_cast<std::vector<void*>*>(d)->push_back(e); }, &used);
    std::sort(used.begin(), used.end());
    std::vector<void*> want{a, c};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(used, want);
    FreeListDestroy(list);
}

TEST(FreeList, ListOfAllListsTracksCreateAndDestroy) {
    FreeListResetAll();
    FreeList* a = FreeListCreate(4, 2, 0);
    FreeList* b = FreeListCreate(4, 2, 0);
    EXPECT_EQ(FreeListFirst(), a);
    EXPECT_EQ(a->next, b);
    FreeListDestroy(a);
    EXPECT_EQ(FreeListFirst(), b);
    FreeListDestroy(b);
    EXPECT_EQ(FreeListFirst(), nullptr);
}

}  // namespace
}  // namespace kv
