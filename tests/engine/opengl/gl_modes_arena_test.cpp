// The OpenGL device's pieces that need no context: mode-table rules,
// extension-name matching and the vertex-arena allocator on plain memory.
#include "engine/opengl/gl_modes_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kv {
namespace {

GlDisplayMode Mode(int32 w, int32 h, int32 bpp, int32 hz) { return GlDisplayMode{0, w, h, bpp, hz, 0}; }

TEST(GlModeTable, DesktopFirstDuplicatesAndShallowModesDroppedRestSorted) {
    const GlDisplayMode desktop = Mode(1920, 1080, 32, 60);
    const std::vector<GlDisplayMode> listed = {
        Mode(640, 480, 32, 60), Mode(640, 480, 16, 60), Mode(640, 480, 16, 75), Mode(1024, 768, 16, 60),
        Mode(320, 200, 8, 70),  Mode(800, 600, 32, 60), Mode(640, 400, 32, 60), Mode(2560, 1440, 32, 144)};
    std::vector<GlDisplayMode> table(listed.size() + 1);
    const int32 n = GlModeTableBuild(table.data(), desktop, listed.data(), static_cast<int32>(listed.size()));
    ASSERT_EQ(n, 7);
    // The desktop stays first and windowed, though larger than what follows.
    EXPECT_EQ(table[0].fullScreen, 0);
    EXPECT_EQ(table[0].width, 1920);
    const int32 expected[6][3] = {{640, 480, 16}, {1024, 768, 16}, {640, 400, 32},
                                  {640, 480, 32}, {800, 600, 32},  {2560, 1440, 32}};
    for (int32 i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i + 1].fullScreen, 1);
        EXPECT_EQ(table[i + 1].width, expected[i][0]);
        EXPECT_EQ(table[i + 1].height, expected[i][1]);
        EXPECT_EQ(table[i + 1].depth, expected[i][2]);
    }
    // The first of two refresh rates is the one kept.
    EXPECT_EQ(table[1].refreshRate, 60);
}

TEST(GlModeTable, EveryListedModeAcceptedFitsBesideTheDesktop) {
    const std::vector<GlDisplayMode> listed = {Mode(800, 600, 24, 60), Mode(640, 480, 24, 60)};
    std::vector<GlDisplayMode> table(3, Mode(-1, -1, -1, -1));
    EXPECT_EQ(GlModeTableBuild(table.data(), Mode(800, 600, 24, 60), listed.data(), 2), 3);
    EXPECT_EQ(table[1].width, 640);
    EXPECT_EQ(table[2].width, 800);
    EXPECT_EQ(GlModeTableBuild(table.data(), Mode(800, 600, 24, 60), nullptr, 0), 1);
}

TEST(GlExtensionMatch, WholeWordsOnly) {
    const char* ext = "GL_ARB_multitexture GL_EXT_compiled_vertex_array GL_ARB_multitexture_extra";
    EXPECT_TRUE(GlExtensionInString(ext, "GL_ARB_multitexture"));
    EXPECT_TRUE(GlExtensionInString(ext, "GL_EXT_compiled_vertex_array"));
    EXPECT_TRUE(GlExtensionInString(ext, "GL_ARB_multitexture_extra"));
    EXPECT_FALSE(GlExtensionInString(ext, "GL_ARB_multi"));           // the beginning of a name
    EXPECT_FALSE(GlExtensionInString(ext, "compiled_vertex_array"));  // its end
    EXPECT_FALSE(GlExtensionInString(ext, ""));
    EXPECT_FALSE(GlExtensionInString(ext, "GL_ARB_multitexture GL_EXT_compiled_vertex_array"));
    EXPECT_FALSE(GlExtensionInString(nullptr, "GL_ARB_multitexture"));
    EXPECT_FALSE(GlExtensionInString("GL_ARB_multitexturE", "GL_ARB_multitexture"));
}

class VertexArenaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Deliberately misaligned: the arena rounds its ends in.
        memory.resize(4096 + 64);
        ASSERT_TRUE(VertexArenaInit(&arena, memory.data() + 8, 4096));
    }
    int32 Blocks() const {
        int32 n = 0;
        for (const VertexArenaBlock* b = arena.first; b != nullptr; b = b->next) ++n;
        return n;
    }
    std::vector<unsigned char> memory;
    VertexArena arena{};
};

TEST_F(VertexArenaTest, FreshArenaIsOneAlignedFreeBlock) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(arena.first) % 32, 0u);
    EXPECT_EQ(arena.rover, arena.first);
    // Start rounded up by 24, end down by 8, less the header.
    EXPECT_EQ(arena.first->size, 4096u - 32 - 32);
    EXPECT_EQ(Blocks(), 1);
}

TEST_F(VertexArenaTest, HundredBytesTakeABlockOf128AndFreeingMergesBack) {
    const std::size_t whole = arena.first->size;
    void* p = VertexArenaAllocFrom(&arena, 100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<char*>(p) - reinterpret_cast<char*>(arena.first), 32);
    EXPECT_EQ(arena.first->size, 128u);
    ASSERT_EQ(Blocks(), 2);
    EXPECT_EQ(arena.first->next->size, whole - 128 - 32);
    EXPECT_EQ(arena.rover, arena.first->next);
    VertexArenaFreeTo(&arena, p);
    EXPECT_EQ(Blocks(), 1);
    EXPECT_EQ(arena.first->size, whole);
    EXPECT_EQ(arena.rover, arena.first);
}

TEST_F(VertexArenaTest, BestFitSplitsOnlyWhenTheRestIsWorthIt) {
    void* a = VertexArenaAllocFrom(&arena, 256);
    void* b = VertexArenaAllocFrom(&arena, 64);
    void* c = VertexArenaAllocFrom(&arena, 512);
    void* d = VertexArenaAllocFrom(&arena, 64);
    ASSERT_TRUE(a && b && c && d);
    VertexArenaFreeTo(&arena, a);  // a 256-byte hole
    VertexArenaFreeTo(&arena, c);  // a 512-byte hole
    // 480 fits both the 512 hole and the large tail; the smallest wins, and
    // 32 bytes left over are not worth a block of their own.
    void* e = VertexArenaAllocFrom(&arena, 480);
    EXPECT_EQ(e, c);
    // 200 goes into the 256 hole, again whole.
    void* f = VertexArenaAllocFrom(&arena, 200);
    EXPECT_EQ(f, a);
    for (void* p : {b, d, e, f}) VertexArenaFreeTo(&arena, p);
    EXPECT_EQ(Blocks(), 1);
}

TEST_F(VertexArenaTest, ExhaustionGivesNullAndFreesInAnyOrderCoalesce) {
    std::vector<void*> taken;
    while (void* p = VertexArenaAllocFrom(&arena, 96)) taken.push_back(p);
    EXPECT_EQ(taken.size(), 31u);
    // 64 bytes were left at the end, too small to split off a 96.
    void* last = VertexArenaAllocFrom(&arena, 1);
    ASSERT_NE(last, nullptr);
    taken.push_back(last);
    EXPECT_EQ(arena.rover, nullptr);
    EXPECT_EQ(VertexArenaAllocFrom(&arena, 1), nullptr);
    // Every other block first, then the rest: neighbours merge both ways.
    for (std::size_t i = 1; i < taken.size(); i += 2) VertexArenaFreeTo(&arena, taken[i]);
    EXPECT_EQ(arena.rover, reinterpret_cast<VertexArenaBlock*>(static_cast<char*>(taken[1]) - 32));
    for (std::size_t i = 0; i < taken.size(); i += 2) VertexArenaFreeTo(&arena, taken[i]);
    EXPECT_EQ(Blocks(), 1);
    EXPECT_EQ(arena.rover, arena.first);
    EXPECT_NE(VertexArenaAllocFrom(&arena, 2048), nullptr);
}

TEST(VertexArena, NoMemoryOrTooLittleMakesNoArena) {
    VertexArena arena{};
    EXPECT_FALSE(VertexArenaInit(&arena, nullptr, 4096));
    EXPECT_EQ(VertexArenaAllocFrom(&arena, 32), nullptr);
    alignas(32) unsigned char small[48];
    EXPECT_FALSE(VertexArenaInit(&arena, small, sizeof(small)));
}

}  // namespace
}  // namespace kv
