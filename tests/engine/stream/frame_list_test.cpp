#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/frame/frame.h"
#include "engine/stream/chunk.h"
#include "stream_fixture.h"
#include "tools/kvdump/chunk_walk.h"

namespace kv {
namespace {

using test::CountedMemory;
using test::ErrorLog;
using test::GetLE32;

float GetReal(const std::vector<uint8>& v, std::size_t at) {
    const uint32 bits = GetLE32(v, at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Frames carry a tag plugin that streams 4 bytes for tagged frames only.
constexpr uint32 kTagPlugin = 0x0F0;
int32 tagOffset = -1;

class FrameLists : public test::StreamTest {
  protected:
    void RegisterPlugins() override {
        tagOffset = FrameRegisterPlugin(4, kTagPlugin, nullptr, nullptr, nullptr);
        ASSERT_GE(tagOffset, 0);
        FrameRegisterPluginStream(
            kTagPlugin, nullptr,
            [](Stream* s, int32 length, const void* object, int32 offset, int32) -> Stream* {
                return StreamWrite(s, static_cast<const uint8*>(object) + offset, static_cast<uint32>(length));
            },
            [](const void* object, int32 offset, int32) {
                int32 tag;
                std::memcpy(&tag, static_cast<const uint8*>(object) + offset, 4);
                return tag != 0 ? 4 : 0;
            });
    }
    void TearDown() override {
        for (Frame* f : made) FrameDestroy(f);
        test::StreamTest::TearDown();
    }
    Frame* Make() {
        Frame* f = FrameCreate();
        EXPECT_NE(f, nullptr);
        std::memset(PtrAdd(f, tagOffset), 0, 4);
        made.push_back(f);
        return f;
    }
    static void Tag(Frame* f, const char* four) { std::memcpy(PtrAdd(f, tagOffset), four, 4); }
    std::vector<Frame*> made;
};

TEST_F(FrameLists, SingleRootWritesOneRecordWithNoParentAndAnEmptyExtension) {
    Frame* root = Make();
    FrameList list{};
    ASSERT_EQ(FrameListCreate(&list, root), &list);
    ASSERT_EQ(list.frameCount, 1);
    EXPECT_EQ(FrameListStreamGetSize(&list), 56u + 16u + 12u);

    Stream* s = OpenWrite();
    ASSERT_EQ(FrameListStreamWrite(&list, s), &list);
    const std::vector<uint8> out = Written(s);
    FrameListDestroy(&list);
    ASSERT_EQ(out.size(), 12u + 84u);
    EXPECT_EQ(GetLE32(out, 0), uint32{ChunkFrameList});
    EXPECT_EQ(GetLE32(out, 4), 84u);
    EXPECT_EQ(GetLE32(out, 12), uint32{ChunkStruct});
    EXPECT_EQ(GetLE32(out, 16), 60u);
    EXPECT_EQ(GetLE32(out, 24), 1u);  // count
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(GetReal(out, 28 + 4 * i), identity[i]) << i;
    EXPECT_EQ(GetLE32(out, 76), 0xFFFFFFFFu);  // parent -1
    EXPECT_EQ(GetLE32(out, 80), 0x00020003u);  // identity flags
    EXPECT_EQ(GetLE32(out, 84), uint32{ChunkExtension});
    EXPECT_EQ(GetLE32(out, 88), 0u);
    EXPECT_EQ(GetLE32(out, 92), kLibraryVersionStamp);
}

TEST_F(FrameLists, OrderIsRootThenEachSiblingChainBeforeTheChildrenOfItsMembers) {
    // Children go to the head of the list: adding B then A gives A, B.
    Frame* root = Make();
    Frame *a = Make(), *b = Make(), *a1 = Make(), *b1 = Make(), *b2 = Make(), *b11 = Make();
    FrameAddChild(root, b);
    FrameAddChild(root, a);
    FrameAddChild(a, a1);
    FrameAddChild(b, b2);
    FrameAddChild(b, b1);
    FrameAddChild(b1, b11);
    FrameList list{};
    ASSERT_NE(FrameListCreate(&list, root), nullptr);
    const std::vector<Frame*> expect = {root, a, b, b1, b2, b11, a1};
    ASSERT_EQ(list.frameCount, 7);
    EXPECT_EQ(std::vector<Frame*>(list.frames, list.frames + 7), expect);

    int32 index = -1;
    EXPECT_TRUE(FrameListFind(&list, b11, &index));
    EXPECT_EQ(index, 5);
    EXPECT_FALSE(FrameListFind(&list, Make(), &index));

    Stream* s = OpenWrite();
    ASSERT_NE(FrameListStreamWrite(&list, s), nullptr);
    const std::vector<uint8> out = Written(s);
    FrameListDestroy(&list);
    const int32 parents[7] = {-1, 0, 0, 2, 2, 3, 1};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(static_cast<int32>(GetLE32(out, 28 + 56 * i + 48)), parents[i]) << i;
}

TEST_F(FrameLists, RecordsCarryTheLocalMatrixAndTheExtensionsTheirPluginData) {
    Frame* root = Make();
    Frame* child = Make();
    FrameAddChild(root, child);
    const V3d up{0.0f, 2.5f, -1.0f};
    FrameTranslate(child, &up, CombineReplace);
    Tag(child, "tag!");
    FrameList list{};
    ASSERT_NE(FrameListCreate(&list, root), nullptr);
    const uint32 size = FrameListStreamGetSize(&list);
    EXPECT_EQ(size, 2u * 56u + 16u + 12u + (12u + 16u));

    Stream* s = OpenWrite();
    ASSERT_NE(FrameListStreamWrite(&list, s), nullptr);
    const std::vector<uint8> out = Written(s);
    FrameListDestroy(&list);
    ASSERT_EQ(out.size(), 12u + size);
    const std::size_t rec = 28 + 56;
    EXPECT_EQ(GetReal(out, rec + 36), 0.0f);
    EXPECT_EQ(GetReal(out, rec + 40), 2.5f);
    EXPECT_EQ(GetReal(out, rec + 44), -1.0f);
    EXPECT_EQ(GetLE32(out, rec + 52), child->localMatrix.flags);

    // The walker agrees: a frame list of two frames, an empty extension for
    // the root, the tag inside the child's.
    const dump::ChunkTree tree = dump::ChunkWalk(out.data(), out.size());
    ASSERT_TRUE(tree.Ok()) << tree.problems[0].message;
    ASSERT_EQ(tree.nodes.size(), 5u);
    EXPECT_EQ(tree.nodes[1].summary, "frames 2");
    EXPECT_EQ(tree.nodes[2].length, 0u);
    EXPECT_EQ(tree.nodes[3].length, 16u);
    EXPECT_TRUE(tree.nodes[4].plugin);
    EXPECT_EQ(tree.nodes[4].type, kTagPlugin);
    EXPECT_EQ(std::memcmp(out.data() + tree.nodes[4].BodyOffset(), "tag!", 4), 0);
}

TEST_F(FrameLists, AParentOutsideTheListFailsTheWriteBeforeAnyByte) {
    Frame* root = Make();
    Frame* child = Make();
    FrameAddChild(root, child);
    FrameList list{};
    ASSERT_NE(FrameListCreate(&list, child), nullptr);
    EXPECT_EQ(list.frameCount, 1);
    Stream* s = OpenWrite();
    EXPECT_EQ(FrameListStreamWrite(&list, s), nullptr);
    EXPECT_TRUE(Written(s).empty());
    FrameListDestroy(&list);
}

TEST_F(FrameLists, CreateReportsOutOfMemoryAndNullArguments) {
    ErrorLog log;
    Frame* root = Make();
    FrameList list{};
    EXPECT_EQ(FrameListCreate(&list, nullptr), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
    const long before = CountedMemory::live;
    CountedMemory::failMalloc = true;
    EXPECT_EQ(FrameListCreate(&list, root), nullptr);
    CountedMemory::failMalloc = false;
    EXPECT_TRUE(log.Has(0, kErrNoMemory));
    EXPECT_EQ(CountedMemory::live, before);
}

}  // namespace
}  // namespace kv
