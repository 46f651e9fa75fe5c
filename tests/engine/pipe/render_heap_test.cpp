#include "engine/pipe/render_heap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/core/error.h"
#include "pipeline_fixture.h"

namespace kv {
namespace {

using test::ExpectHeapSound;

class Heap : public test::EngineFixture {
  protected:
    RenderHeap* Make(uint32 size) {
        heap_ = HeapCreate(size);
        return heap_;
    }
    void TearDown() override {
        HeapDestroy(heap_);
        test::EngineFixture::TearDown();
    }
    RenderHeap* heap_ = nullptr;
    static char* C(void* p) { return static_cast<char*>(p); }
};

TEST_F(Heap, BlocksTakeWholeMultiplesOf32AndSmallRemaindersAreNotSplit) {
    RenderHeap* h = Make(1024);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(HeapTotalSize(h), 1024u);
    ASSERT_EQ(h->entriesUsed, 1u);
    EXPECT_EQ(h->freeEntries[0].size, 1024u - 96u);

    void* a = HeapAlloc(h, 1);
    void* b = HeapAlloc(h, 1);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 32, 0u);
    EXPECT_EQ(HeapBlockSize(a), 32u);
    EXPECT_EQ(C(b) - C(a), 64) << "32 bytes of space and a 32-byte header";
    HeapFree(h, a);
    HeapFree(h, b);
    ExpectHeapSound(h);

    // 928 - 704 leaves 224: the whole space is handed out.
    void* whole = HeapAlloc(h, 700);
    EXPECT_EQ(HeapBlockSize(whole), 928u);
    EXPECT_EQ(h->entriesUsed, 0u);
    HeapFree(h, whole);
    // 928 - 672 leaves 256: split.
    void* split = HeapAlloc(h, 672);
    EXPECT_EQ(HeapBlockSize(split), 672u);
    ASSERT_EQ(h->entriesUsed, 1u);
    EXPECT_EQ(h->freeEntries[0].size, 224u);
    ExpectHeapSound(h);
}

TEST_F(Heap, CreateRoundsTheSuperblockUpToAtLeast128) {
    RenderHeap* h = Make(0);
    EXPECT_EQ(h->superBlockSize, 128u);
    RenderHeap* other = HeapCreate(1000);
    EXPECT_EQ(other->superBlockSize, 1024u);
    HeapDestroy(other);
}

TEST_F(Heap, FreeingFirstThirdSecondLeavesOneFreeSpace) {
    RenderHeap* h = Make(4096);
    const uint32 space = h->freeEntries[0].size;
    void* a = HeapAlloc(h, 64);
    void* b = HeapAlloc(h, 64);
    void* c = HeapAlloc(h, 64);
    HeapFree(h, a);
    HeapFree(h, c);
    EXPECT_EQ(h->entriesUsed, 2u);
    HeapFree(h, b);
    ASSERT_EQ(h->entriesUsed, 1u);
    EXPECT_EQ(h->freeEntries[0].size, space);
    EXPECT_EQ(C(h->freeEntries[0].header) + 32, C(a));
    ExpectHeapSound(h);
}

TEST_F(Heap, GrowingInPlaceUntilTheFreeSpaceBehindIsTooSmallThenMoving) {
    RenderHeap* h = Make(4096);  // 4000 bytes of space
    auto* a = static_cast<uint8*>(HeapAlloc(h, 64));
    std::memset(a, 0x11, 64);
    // The free header moves up: 3904 - 1024 remain.
    EXPECT_EQ(HeapRealloc(h, a, 64 + 1024), a);
    EXPECT_EQ(HeapBlockSize(a), 1088u);
    ASSERT_EQ(h->entriesUsed, 1u);
    EXPECT_EQ(h->freeEntries[0].size, 2880u);
    ExpectHeapSound(h);
    // Less than 256 would remain: the whole free space is absorbed.
    EXPECT_EQ(HeapRealloc(h, a, 1088 + 2700), a);
    EXPECT_EQ(HeapBlockSize(a), 4000u);
    EXPECT_EQ(h->entriesUsed, 0u);
    ExpectHeapSound(h);
    // Nothing behind it now: the data moves to a new superblock.
    auto* moved = static_cast<uint8*>(HeapRealloc(h, a, 5000));
    ASSERT_NE(moved, nullptr);
    EXPECT_NE(moved, a);
    EXPECT_EQ(moved[0], 0x11);
    EXPECT_EQ(moved[63], 0x11);
    ExpectHeapSound(h);
}

TEST_F(Heap, ShrinkingFreesTheTailOnlyWhenAtLeast256BytesGo) {
    RenderHeap* h = Make(8192);
    void* a = HeapAlloc(h, 2048);
    HeapAlloc(h, 64);  // keeps a's tail from joining the rest
    EXPECT_EQ(HeapRealloc(h, a, 2048 - 224), a);
    EXPECT_EQ(HeapBlockSize(a), 2048u);
    const uint32 before = h->entriesUsed;
    EXPECT_EQ(HeapRealloc(h, a, 1024), a);
    EXPECT_EQ(HeapBlockSize(a), 1024u);
    EXPECT_EQ(h->entriesUsed, before + 1);
    EXPECT_EQ(HeapAlloc(h, 992), C(a) + 1024 + 32);
    ExpectHeapSound(h);
}

TEST_F(Heap, ARequestLargerThanTheSuperblockAddsOneOfRequestPlus96) {
    RenderHeap* h = Make(1024);
    void* big = HeapAlloc(h, 5000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(HeapTotalSize(h), 1024u + 5024u + 96u);
    EXPECT_EQ(HeapBlockSize(big), 5024u);
    std::memset(big, 1, 5000);
    ExpectHeapSound(h);
}

TEST_F(Heap, AnEmptyFreeListGrowsTheHeapInsteadOfFailing) {
    RenderHeap* h = Make(1024);
    void* all = HeapAlloc(h, 928);
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(h->entriesUsed, 0u);
    void* more = HeapAlloc(h, 32);
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(HeapTotalSize(h), 2048u);
    ExpectHeapSound(h);
}

TEST_F(Heap, ResetHandsOutTheFirstBlockAgainAndReusesEverySuperblock) {
    RenderHeap* h = Make(1024);
    void* first = HeapAlloc(h, 100);
    HeapAlloc(h, 300);
    EXPECT_TRUE(HeapReset(h));
    EXPECT_EQ(HeapAlloc(h, 100), first);

    HeapAlloc(h, 4000);  // second superblock
    const uint32 total = HeapTotalSize(h);
    EXPECT_TRUE(HeapReset(h));
    EXPECT_EQ(h->entriesUsed, 2u);
    ExpectHeapSound(h);
    // Both spaces are whole again: filling them needs no new memory.
    void* x = HeapAlloc(h, 4000);
    void* y = HeapAlloc(h, 900);
    EXPECT_NE(x, nullptr);
    EXPECT_NE(y, nullptr);
    EXPECT_EQ(HeapTotalSize(h), total);
    EXPECT_EQ(h->entriesUsed, 0u);
}

TEST_F(Heap, NullHeapIsReported) {
    test::ErrorLog log;
    EXPECT_EQ(HeapAlloc(nullptr, 32), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
    EXPECT_EQ(HeapRealloc(nullptr, nullptr, 32), nullptr);
    EXPECT_FALSE(HeapReset(nullptr));
}

// Random allocations, frees and reallocations: the chain stays sound and no
// block's contents are disturbed by another.
TEST_F(Heap, RandomUseKeepsEveryBlockIntact) {
    RenderHeap* h = Make(16384);
    std::mt19937 rng(1234);
    struct Live {
        uint8* p;
        uint32 n;
        uint8 fill;
    };
    std::vector<Live> live;
    for (int step = 0; step < 4000; ++step) {
        const int op = static_cast<int>(rng() % 10);
        if (op < 5 || live.empty()) {
            const uint32 n = 1 + rng() % 3000;
            auto* p = static_cast<uint8*>(HeapAlloc(h, n));
            ASSERT_NE(p, nullptr);
            const auto fill = static_cast<uint8>(rng());
            std::memset(p, fill, n);
            live.push_back({p, n, fill});
        } else if (op < 8) {
            const std::size_t i = rng() % live.size();
            HeapFree(h, live[i].p);
            live[i] = live.back();
            live.pop_back();
        } else {
            Live& l = live[rng() % live.size()];
            const uint32 n = 1 + rng() % 5000;
            auto* p = static_cast<uint8*>(HeapRealloc(h, l.p, n));
            ASSERT_NE(p, nullptr);
            const uint32 kept = n < l.n ? n : l.n;
            for (uint32 k = 0; k < kept; ++k) ASSERT_EQ(p[k], l.fill);
            std::memset(p, l.fill, n);
            l = {p, n, l.fill};
        }
        if (step % 50 == 0) {
            ExpectHeapSound(h);
            for (const Live& l : live) {
                for (uint32 k = 0; k < l.n; k += 97) ASSERT_EQ(l.p[k], l.fill);
                ASSERT_EQ(l.p[l.n - 1], l.fill);
            }
        }
        if (step % 1000 == 999) {
            ASSERT_TRUE(HeapReset(h));
            live.clear();
            ExpectHeapSound(h);
        }
    }
}

#ifndef NDEBUG
// A block freed twice would join the free list twice and be handed out to two
// owners: debug builds stop at the second free.
TEST_F(Heap, FreeingABlockTwiceStopsADebugBuild) {
    RenderHeap* h = Make(1024);
    ASSERT_NE(h, nullptr);
    void* a = HeapAlloc(h, 64);
    HeapAlloc(h, 64);  // keeps the first from joining the rest of the free space
    HeapFree(h, a);
    EXPECT_DEATH(HeapFree(h, a), "internal invariant broken");
}
#endif

}  // namespace
}  // namespace kv
