#include "engine/image/resource_arena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine_fixture.h"
#include "error_log.h"

namespace kv {
namespace {

// Owners remember which of their entries were thrown away, in order.
std::vector<std::string> notified;

struct Owner {
    std::string name;
    ResEntry* entry = nullptr;
};

void Notify(ResEntry* e) { notified.push_back(static_cast<Owner*>(e->owner)->name); }

constexpr int32 kHeader = static_cast<int32>(sizeof(ResEntry));

class Arena : public ::testing::Test {
  protected:
    void SetUp() override {
        notified.clear();
        Start(kArena);
    }
    void TearDown() override {
        Stop();
        ResourcesSetArenaSize(0);
    }
    void Start(int32 size) {
        ResourcesSetArenaSize(size);
        ASSERT_TRUE(test::EngineUp());
        space_ = ResourcesArenaFirstBlock()->blockSize + 32;
    }
    void Stop() { test::EngineDown(); }
    // Entries whose blocks take exactly a quarter of the arena's space.
    ResEntry* Quarter(Owner* o) { return ResourcesAllocateEntry(o, &o->entry, QuarterSize(), true, Notify); }
    int32 QuarterSize() const { return static_cast<int32>(Space() / 4 - 32) - kHeader; }
    // Bytes of the arena's blocks with their headers.
    uint32 Space() const { return space_; }
    static std::vector<const ArenaBlock*> Blocks() {
        std::vector<const ArenaBlock*> v;
        for (const ArenaBlock* b = ResourcesArenaFirstBlock(); b != nullptr; b = b->nextBlock) v.push_back(b);
        return v;
    }

    // 32 bytes of heap words and alignment, then 4 × 1024 of blocks.
    static constexpr int32 kArena = 4096 + 32;
    // Owners outlive the engine, whose stop empties the arena into them.
    Owner& Own(const std::string& name) {
        owners_.push_back(Owner{name});
        return owners_.back();
    }
    std::deque<Owner> owners_;
    uint32 space_ = 0;
};

TEST_F(Arena, OneByteTakesTheHeaderAndOneByteRoundedTo32) {
    Owner& o = Own("o");
    ResEntry* e = ResourcesAllocateEntry(&o, &o.entry, 1, true, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(o.entry, e);
    const ArenaBlock* b = ResourcesArenaFirstBlock();
    EXPECT_EQ(reinterpret_cast<const void*>(b + 1), reinterpret_cast<void*>(e));
    EXPECT_EQ(b->blockSize, static_cast<uint32>((kHeader + 1 + 31) / 32 * 32));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 32, 0u);
    ResourcesModule* m = ResourcesModuleGet();
    EXPECT_EQ(m->bytesInUse, 1);
    EXPECT_TRUE(ResourcesFreeEntry(e));
    EXPECT_EQ(o.entry, nullptr);
    EXPECT_EQ(m->bytesInUse, 0);
    EXPECT_EQ(Blocks().size(), 1u);
}

TEST_F(Arena, EvictionTakesTheLeastRecentlyUsedAndThisFramesEntriesLast) {
    ResourcesModule* m = ResourcesModuleGet();
    Owner& a = Own("a");
    Owner& b = Own("b");
    Owner& c = Own("c");
    Owner& d = Own("d");
    Owner& e = Own("e");
    Owner& f = Own("f");
    ASSERT_NE(Quarter(&a), nullptr);
    ASSERT_NE(Quarter(&b), nullptr);
    ResourcesEndFrame();
    ASSERT_NE(Quarter(&c), nullptr);
    ASSERT_NE(Quarter(&d), nullptr);
    ResourcesUseEntry(a.entry);  // a is now this frame's
    ResourcesEndFrame();
    // Recency: a, d, c (last frame), then b.
    ASSERT_NE(Quarter(&e), nullptr);
    EXPECT_EQ(notified, (std::vector<std::string>{"b"}));
    EXPECT_EQ(b.entry, nullptr);
    ASSERT_NE(Quarter(&f), nullptr);
    EXPECT_EQ(notified, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(m->bytesThrashed, 0);
    EXPECT_EQ(m->bytesInUse, 4 * QuarterSize());

    // With only this frame's entries left, the oldest of them goes, counted
    // as thrashing.
    Owner& g = Own("g");
    Owner& h = Own("h");
    ResourcesEmptyArena();
    notified.clear();
    ASSERT_NE(Quarter(&a), nullptr);
    ResourcesEndFrame();
    ASSERT_NE(Quarter(&b), nullptr);
    ASSERT_NE(Quarter(&c), nullptr);
    ASSERT_NE(Quarter(&d), nullptr);
    ASSERT_NE(Quarter(&g), nullptr);
    ASSERT_NE(Quarter(&h), nullptr);
    EXPECT_EQ(notified, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(m->bytesThrashed, QuarterSize());
    ResourcesEndFrame();
    EXPECT_EQ(m->bytesThrashed, 0);
}

TEST_F(Arena, AnEntryUsedEveryFrameSurvivesWhileOlderEntriesExist) {
    Owner& keep = Own("keep");
    ASSERT_NE(Quarter(&keep), nullptr);
    for (int frame = 0; frame < 20; ++frame) {
        ResourcesUseEntry(keep.entry);
        ASSERT_NE(Quarter(&Own("o" + std::to_string(frame))), nullptr);
        ResourcesEndFrame();
        ASSERT_EQ(keep.entry != nullptr, true) << "frame " << frame;
    }
    EXPECT_EQ(std::count(notified.begin(), notified.end(), "keep"), 0);
    EXPECT_EQ(notified.size(), 20u - 3u);
}

TEST_F(Arena, FreedNeighboursMergeIntoOneBlock) {
    Owner& a = Own("a");
    Owner& b = Own("b");
    Owner& c = Own("c");
    Owner& d = Own("d");
    ASSERT_NE(Quarter(&a), nullptr);
    ASSERT_NE(Quarter(&b), nullptr);
    ASSERT_NE(Quarter(&c), nullptr);
    ASSERT_NE(Quarter(&d), nullptr);
    ASSERT_EQ(Blocks().size(), 4u);
    const uint32 each = Blocks()[0]->blockSize;
    ResourcesFreeEntry(b.entry);
    ResourcesFreeEntry(a.entry);
    const std::vector<const ArenaBlock*> blocks = Blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0]->used & 1, 0u);
    EXPECT_EQ(blocks[0]->blockSize, 2 * each + 32);
    EXPECT_EQ(blocks[1]->prevBlock, blocks[0]);
    // The merged space takes an entry of both sizes together, with no eviction.
    notified.clear();
    Owner& big = Own("big");
    ASSERT_NE(ResourcesAllocateEntry(&big, &big.entry, static_cast<int32>(2 * each + 32) - kHeader, true, Notify),
              nullptr);
    EXPECT_TRUE(notified.empty());
    EXPECT_EQ(reinterpret_cast<const void*>(blocks[0] + 1), reinterpret_cast<void*>(big.entry));
    // Freeing the last two merges forwards and backwards into one.
    ResourcesFreeEntry(c.entry);
    ResourcesFreeEntry(d.entry);
    ResourcesFreeEntry(big.entry);
    ASSERT_EQ(Blocks().size(), 1u);
    EXPECT_EQ(Blocks()[0]->blockSize, Space() - 32);
}

// The block an entry sits in.
const ArenaBlock* BlockOf(const ResEntry* e) { return reinterpret_cast<const ArenaBlock*>(e) - 1; }

TEST_F(Arena, TheSmallestHoleThatFitsIsTakenNotTheFirst) {
    // Blocks of 512, 64, 128 and 64 data bytes, then the free rest: freeing
    // the 512 and the 128 leaves holes of both sizes, the larger first.
    Owner& a = Own("a");
    Owner& s1 = Own("s1");
    Owner& b = Own("b");
    Owner& s2 = Own("s2");
    for (auto [o, bytes] : {std::pair{&a, 512}, std::pair{&s1, 64}, std::pair{&b, 128}, std::pair{&s2, 64}}) {
        ASSERT_NE(ResourcesAllocateEntry(o, &o->entry, bytes - kHeader, true, nullptr), nullptr);
        ASSERT_EQ(BlockOf(o->entry)->blockSize, static_cast<uint32>(bytes));
    }
    const ResEntry* holeA = a.entry;
    const ResEntry* holeB = b.entry;
    ResourcesFreeEntry(a.entry);
    ResourcesFreeEntry(b.entry);
    Owner& c = Own("c");
    ASSERT_NE(ResourcesAllocateEntry(&c, &c.entry, 96 - kHeader, true, nullptr), nullptr);
    EXPECT_EQ(c.entry, holeB);
    EXPECT_NE(c.entry, holeA);
}

TEST_F(Arena, ABlockIsSplitOnlyWhenTheRestHoldsMoreThanAHeaderAndSixtyFourBytes) {
    // A hole of `hole` data bytes between used blocks, and 96 asked of it.
    struct Case {
        uint32 hole;
        bool split;
    };
    for (const Case& k : {Case{128, false}, Case{160, false}, Case{192, true}}) {
        SCOPED_TRACE(k.hole);
        Owner& keep = Own("keep");
        Owner& hole = Own("hole");
        Owner& after = Own("after");
        ASSERT_NE(ResourcesAllocateEntry(&keep, &keep.entry, 64 - kHeader, true, nullptr), nullptr);
        ASSERT_NE(ResourcesAllocateEntry(&hole, &hole.entry, static_cast<int32>(k.hole) - kHeader, true, nullptr),
                  nullptr);
        ASSERT_NE(ResourcesAllocateEntry(&after, &after.entry, 64 - kHeader, true, nullptr), nullptr);
        const ResEntry* at = hole.entry;
        ResourcesFreeEntry(hole.entry);
        const std::size_t before = Blocks().size();
        Owner& e = Own("e");
        ASSERT_NE(ResourcesAllocateEntry(&e, &e.entry, 96 - kHeader, true, nullptr), nullptr);
        ASSERT_EQ(e.entry, at);
        if (k.split) {
            EXPECT_EQ(BlockOf(e.entry)->blockSize, 96u);
            ASSERT_EQ(Blocks().size(), before + 1);
            EXPECT_EQ(BlockOf(e.entry)->nextBlock->blockSize, k.hole - 96 - 32);
            EXPECT_EQ(BlockOf(e.entry)->nextBlock->used & 1, 0u);
        } else {
            EXPECT_EQ(BlockOf(e.entry)->blockSize, k.hole);
            EXPECT_EQ(Blocks().size(), before);
        }
        for (const ArenaBlock* block : Blocks()) EXPECT_GE(block->blockSize, 32u);
        ResourcesEmptyArena();
    }
}

TEST_F(Arena, EmptyingTheArenaClearsEveryOwnerReference) {
    ResourcesModule* m = ResourcesModuleGet();
    Owner& a = Own("a");
    Owner& b = Own("b");
    Owner& c = Own("c");
    Owner& outside = Own("outside");
    ASSERT_NE(Quarter(&a), nullptr);
    ResourcesEndFrame();
    ASSERT_NE(Quarter(&b), nullptr);
    ASSERT_NE(ResourcesAllocateEntry(&c, &c.entry, 10, true, nullptr), nullptr);
    ASSERT_NE(ResourcesAllocateEntry(&outside, &outside.entry, 100000, false, Notify), nullptr);
    EXPECT_EQ(outside.entry->link.next, nullptr);
    EXPECT_EQ(m->bytesInUse, 2 * QuarterSize() + 10) << "entries outside the arena are not counted";
    EXPECT_TRUE(ResourcesEmptyArena());
    EXPECT_EQ(a.entry, nullptr);
    EXPECT_EQ(b.entry, nullptr);
    EXPECT_EQ(c.entry, nullptr);
    EXPECT_NE(outside.entry, nullptr);
    EXPECT_EQ(m->bytesInUse, 0);
    EXPECT_EQ(m->bytesThrashed, 0);
    EXPECT_TRUE(LinkListEmpty(m->currentFrameList));
    EXPECT_TRUE(LinkListEmpty(m->olderList));
    EXPECT_EQ(Blocks().size(), 1u);
    // Outside entries are left alone by use and by the frame's end.
    EXPECT_EQ(ResourcesUseEntry(outside.entry), outside.entry);
    ResourcesEndFrame();
    EXPECT_TRUE(ResourcesFreeEntry(outside.entry));
    EXPECT_EQ(outside.entry, nullptr);
    EXPECT_EQ(notified, (std::vector<std::string>{"b", "a", "outside"}));
}

TEST_F(Arena, AnEntryTheArenaCanNeverHoldFailsWithoutEvictingAnything) {
    test::ErrorLog log;
    Owner& a = Own("a");
    Owner& big = Own("big");
    ASSERT_NE(Quarter(&a), nullptr);
    big.entry = reinterpret_cast<ResEntry*>(&big);
    EXPECT_EQ(ResourcesAllocateEntry(&big, &big.entry, kArena, true, Notify), nullptr);
    EXPECT_EQ(big.entry, nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrResourcesArenaFull));
    EXPECT_NE(a.entry, nullptr);
    EXPECT_TRUE(notified.empty());
    // The whole arena in one entry evicts everything else.
    EXPECT_NE(ResourcesAllocateEntry(&big, &big.entry, static_cast<int32>(Space() - 32) - kHeader, true, Notify),
              nullptr);
    EXPECT_EQ(a.entry, nullptr);
}

TEST_F(Arena, AnArenaTooSmallForItsHeapFailsToStart) {
    Stop();
    test::ErrorLog log;
    ResourcesSetArenaSize(64);
    EXPECT_FALSE(test::EngineUp());
    EXPECT_TRUE(log.Has(kModuleCore, kErrResourcesArenaFull));
    test::EngineDown();
    EXPECT_EQ(ResourcesModuleGet(), nullptr);
}

}  // namespace
}  // namespace kv
