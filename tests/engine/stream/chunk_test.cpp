#include "engine/stream/chunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream_fixture.h"

namespace kv {
namespace {

using test::CountedMemory;
using test::ErrorLog;
using test::GetLE32;
using test::PutHeader;
using test::PutLE32;
using Chunks = test::StreamTest;

TEST_F(Chunks, HeaderIsTwelveLittleEndianBytes) {
    Stream* s = OpenWrite();
    ASSERT_TRUE(ChunkHeaderWrite(s, 0x0102030Fu, 0x1234, kLibraryVersionStamp));
    const std::vector<uint8> out = Written(s);
    EXPECT_EQ(out, (std::vector<uint8>{0x0F, 0x03, 0x02, 0x01, 0x34, 0x12, 0, 0, 0x10, 0x03, 0, 0}));

    Stream* r = OpenRead(out);
    uint32 type = 0, version = 0;
    ASSERT_TRUE(ChunkHeaderRead(r, &type, nullptr, &version));
    EXPECT_EQ(type, 0x0102030Fu);
    EXPECT_EQ(version, 0x310u);
    StreamClose(r, nullptr);
}

TEST_F(Chunks, ShortHeaderIsAReadFailure) {
    ErrorLog log;
    std::vector<uint8> data;
    PutLE32(data, 1);
    PutLE32(data, 4);
    Stream* r = OpenRead(data);
    EXPECT_FALSE(ChunkHeaderRead(r, nullptr, nullptr, nullptr));
    EXPECT_TRUE(log.Has(0, kErrReadFailed));
    StreamClose(r, nullptr);
}

TEST_F(Chunks, FindChunkSkipsOtherBodiesExactly) {
    std::vector<uint8> data;
    PutHeader(data, ChunkGeometry, 7);
    data.insert(data.end(), {1, 2, 3, 4, 5, 6, 7});
    PutHeader(data, ChunkFrameList, 4, 0x305);
    data.insert(data.end(), {0xAA, 0xBB, 0xCC, 0xDD});
    Stream* r = OpenRead(data);
    uint32 length = 0, version = 0;
    ASSERT_TRUE(StreamFindChunk(r, ChunkFrameList, &length, &version));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(version, 0x305u);
    uint8 body[4];
    ASSERT_EQ(StreamRead(r, body, 4), 4u);
    EXPECT_EQ(body[0], 0xAA);
    EXPECT_EQ(body[3], 0xDD);
    StreamClose(r, nullptr);

    // Not there at all: the search runs off the end.
    ErrorLog log;
    r = OpenRead(data);
    EXPECT_FALSE(StreamFindChunk(r, ChunkClump, nullptr, nullptr));
    EXPECT_TRUE(log.Has(0, kErrReadFailed));
    StreamClose(r, nullptr);
}

TEST_F(Chunks, VersionsOutsideTheAcceptedRangeAreRefused) {
    struct Case {
        uint32 version;
        bool accepted;
    };
    for (const Case c : {Case{0x300, false}, Case{0x301, true}, Case{0x310, true}, Case{0x311, false}}) {
        SCOPED_TRACE(c.version);
        ErrorLog log;
        std::vector<uint8> data;
        PutHeader(data, ChunkString, 4, c.version);
        data.insert(data.end(), {'a', 'b', 0, 0});

        Stream* r = OpenRead(data);
        EXPECT_EQ(StreamFindChunk(r, ChunkString, nullptr, nullptr), c.accepted);
        StreamClose(r, nullptr);

        r = OpenRead(data);
        char* text = StringStreamRead(nullptr, r);
        EXPECT_EQ(text != nullptr, c.accepted);
        if (text != nullptr) {
            EXPECT_STREQ(text, "ab");
        }
        KvFree(text);
        StreamClose(r, nullptr);
        EXPECT_EQ(log.Has(0, kErrBadVersion), !c.accepted);
    }
}

TEST_F(Chunks, StringBodiesArePaddedToFourWithAtLeastOneNul) {
    EXPECT_EQ(StringStreamGetSize("abc"), 4u);
    EXPECT_EQ(StringStreamGetSize("abcd"), 8u);
    EXPECT_EQ(StringStreamGetSize(""), 4u);
    EXPECT_EQ(StringStreamGetSize(nullptr), 4u);

    Stream* s = OpenWrite();
    ASSERT_NE(StringStreamWrite("abc", s), nullptr);
    ASSERT_NE(StringStreamWrite("abcd", s), nullptr);
    ASSERT_NE(StringStreamWrite(nullptr, s), nullptr);
    const std::vector<uint8> out = Written(s);
    std::vector<uint8> expect;
    PutHeader(expect, ChunkString, 4);
    expect.insert(expect.end(), {'a', 'b', 'c', 0});
    PutHeader(expect, ChunkString, 8);
    expect.insert(expect.end(), {'a', 'b', 'c', 'd', 0, 0, 0, 0});
    PutHeader(expect, ChunkString, 4);
    expect.insert(expect.end(), {0, 0, 0, 0});
    EXPECT_EQ(out, expect);

    // And they read back in order, into our buffer or the caller's.
    Stream* r = OpenRead(out);
    char* a = StringStreamRead(nullptr, r);
    char mine[8];
    EXPECT_EQ(StringStreamRead(mine, r), mine);
    char* c = StringStreamRead(nullptr, r);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(a, "abc");
    EXPECT_STREQ(mine, "abcd");
    EXPECT_STREQ(c, "");
    KvFree(a);
    KvFree(c);
    StreamClose(r, nullptr);
}

TEST_F(Chunks, StringReadSkipsOtherChunksAndKeepsLowBytesOfUnicode) {
    std::vector<uint8> data;
    PutHeader(data, ChunkStruct, 3);
    data.insert(data.end(), {9, 9, 9});
    PutHeader(data, ChunkUnicodeString, 8);
    data.insert(data.end(), {'x', 0, 'y', 0x01, 'z', 0, 0, 0});
    Stream* r = OpenRead(data);
    char* text = StringStreamRead(nullptr, r);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "xyz");
    KvFree(text);
    StreamClose(r, nullptr);
}

TEST_F(Chunks, CorruptStringBodiesAreTerminatedOrRefusedWithoutLeaks) {
    const long before = CountedMemory::live;
    {
        // No NUL anywhere in the body.
        std::vector<uint8> data;
        PutHeader(data, ChunkString, 4);
        data.insert(data.end(), {'a', 'b', 'c', 'd'});
        PutHeader(data, ChunkUnicodeString, 5);
        data.insert(data.end(), {'p', 0, 'q', 0, 'r'});
        Stream* r = OpenRead(data);
        char* a = StringStreamRead(nullptr, r);
        char* b = StringStreamRead(nullptr, r);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(std::strlen(a), 3u);
        EXPECT_STREQ(b, "pq");
        KvFree(a);
        KvFree(b);
        StreamClose(r, nullptr);
    }
    for (uint32 type : {uint32{ChunkString}, uint32{ChunkUnicodeString}}) {
        // A length far beyond the data: the read fails once the data ends,
        // having asked only for memory the stream could back.
        ErrorLog log;
        std::vector<uint8> data;
        PutHeader(data, type, 0xFFFFFFF0u);
        data.insert(data.end(), 300, 'a');
        Stream* r = OpenRead(data);
        EXPECT_EQ(StringStreamRead(nullptr, r), nullptr);
        EXPECT_TRUE(log.Has(kModuleCore, kErrStreamEnd));
        StreamClose(r, nullptr);
    }
    EXPECT_EQ(CountedMemory::live, before);
}

TEST_F(Chunks, StringReadReportsOutOfMemory) {
    ErrorLog log;
    std::vector<uint8> data;
    PutHeader(data, ChunkString, 4);
    data.insert(data.end(), {'a', 0, 0, 0});
    Stream* r = OpenRead(data);
    CountedMemory::failMalloc = true;
    EXPECT_EQ(StringStreamRead(nullptr, r), nullptr);
    CountedMemory::failMalloc = false;
    EXPECT_TRUE(log.Has(0, kErrNoMemory));
    StreamClose(r, nullptr);
}

// An object kind with four plugins: one writes 5 bytes, one has nothing to
// write, one has no stream functions, one sizes but cannot write.
struct Thing {
    int32 base;
};
PluginRegistry thingRegistry = PluginRegistryMake(sizeof(Thing));
bool failPluginWrite = false;

class Extensions : public test::StreamTest {
  protected:
    void RegisterPlugins() override {
        failPluginWrite = false;
        ASSERT_GE(RegistryRegister(&thingRegistry, 8, 0x1F0, nullptr, nullptr, nullptr), 0);
        ASSERT_GE(RegistryRegister(&thingRegistry, 8, 0x1F1, nullptr, nullptr, nullptr), 0);
        ASSERT_GE(RegistryRegister(&thingRegistry, 8, 0x1F2, nullptr, nullptr, nullptr), 0);
        ASSERT_GE(RegistryRegister(&thingRegistry, 8, 0x1F3, nullptr, nullptr, nullptr), 0);
        RegistrySetStream(
            &thingRegistry, 0x1F0, nullptr,
            [](Stream* s, int32 length, const void* object, int32 offset, int32) -> Stream* {
                if (failPluginWrite) return nullptr;
                const uint8* block = static_cast<const uint8*>(object) + offset;
                return StreamWrite(s, block, static_cast<uint32>(length));
            },
            [](const void*, int32, int32) { return 5; });
        RegistrySetStream(
            &thingRegistry, 0x1F1, nullptr, [](Stream* s, int32, const void*, int32, int32) -> Stream* { return s; },
            [](const void*, int32, int32) { return 0; });
        RegistrySetStream(&thingRegistry, 0x1F3, nullptr, nullptr, [](const void*, int32, int32) { return 40; });
    }
};

TEST_F(Extensions, OnlyPluginsWithDataAreWrittenEachUnderItsId) {
    std::vector<uint8> object(static_cast<std::size_t>(thingRegistry.sizeOfStruct), 0);
    const int32 offset = RegistryGetOffset(&thingRegistry, 0x1F0);
    std::memcpy(object.data() + offset, "plug", 5);

    EXPECT_EQ(RegistryStreamSize(&thingRegistry, object.data()), 17);
    Stream* s = OpenWrite();
    ASSERT_TRUE(RegistryStreamWrite(&thingRegistry, s, object.data()));
    const std::vector<uint8> out = Written(s);
    std::vector<uint8> expect;
    PutHeader(expect, ChunkExtension, 17);
    PutHeader(expect, 0x1F0, 5);
    expect.insert(expect.end(), {'p', 'l', 'u', 'g', 0});
    EXPECT_EQ(out, expect);
}

TEST_F(Extensions, AFailingPluginFailsTheWrite) {
    std::vector<uint8> object(static_cast<std::size_t>(thingRegistry.sizeOfStruct), 0);
    failPluginWrite = true;
    Stream* s = OpenWrite();
    EXPECT_FALSE(RegistryStreamWrite(&thingRegistry, s, object.data()));
    StreamClose(s, nullptr);
}

TEST_F(Chunks, ObjectWithoutStreamingPluginsGetsAnEmptyExtension) {
    PluginRegistry bare = PluginRegistryMake(16);
    uint8 object[16] = {};
    EXPECT_EQ(RegistryStreamSize(&bare, object), 0);
    Stream* s = OpenWrite();
    ASSERT_TRUE(RegistryStreamWrite(&bare, s, object));
    const std::vector<uint8> out = Written(s);
    ASSERT_EQ(out.size(), 12u);
    EXPECT_EQ(GetLE32(out, 0), uint32{ChunkExtension});
    EXPECT_EQ(GetLE32(out, 4), 0u);
    EXPECT_EQ(GetLE32(out, 8), kLibraryVersionStamp);
}

}  // namespace
}  // namespace kv
