#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/stream/file_system.h"
#include "stream_fixture.h"

namespace kv {
namespace {

using test::CountedMemory;
using test::ErrorLog;
using Streams = test::StreamTest;

std::vector<uint8> Bytes(uint32 n, uint8 start = 0) {
    std::vector<uint8> v(n);
    for (uint32 i = 0; i < n; ++i) v[i] = static_cast<uint8>(start + i);
    return v;
}

std::string TempPath(const char* name) {
    // Tests run side by side: the process id keeps their files apart.
    return (std::filesystem::temp_directory_path() / ("kvstream_" + std::to_string(getpid()) + "_" + name)).string();
}

TEST_F(Streams, MemoryWriteGrowsBy512OrTheWriteAndHandsOutTheBuffer) {
    Stream* s = OpenWrite();
    ASSERT_NE(s, nullptr);
    const auto a = Bytes(10), b = Bytes(600, 10);
    ASSERT_EQ(StreamWrite(s, a.data(), 10), s);
    EXPECT_EQ(s->Type.memory.length, 512u);
    ASSERT_EQ(StreamWrite(s, b.data(), 600), s);
    EXPECT_EQ(s->Type.memory.length, 1112u);
    // A small write that fits takes no new memory; one that does not grows by 512.
    ASSERT_EQ(StreamWrite(s, b.data(), 502), s);
    EXPECT_EQ(s->Type.memory.length, 1112u);
    ASSERT_EQ(StreamWrite(s, a.data(), 1), s);
    EXPECT_EQ(s->Type.memory.length, 1624u);

    const std::vector<uint8> out = Written(s);
    ASSERT_EQ(out.size(), 1113u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), out.begin()));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), out.begin() + 10));
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 502, out.begin() + 610));
    EXPECT_EQ(out[1112], a[0]);
}

TEST_F(Streams, MemoryOutYieldsTheWrittenLength) {
    Stream* s = OpenWrite();
    const auto a = Bytes(610);
    ASSERT_EQ(StreamWrite(s, a.data(), 10), s);
    ASSERT_EQ(StreamWrite(s, a.data() + 10, 600), s);
    StreamMemory out{};
    ASSERT_TRUE(StreamClose(s, &out));
    EXPECT_EQ(out.length, 610u);
    EXPECT_EQ(std::memcmp(out.buffer, a.data(), 610), 0);
    KvFree(out.buffer);
}

TEST_F(Streams, WriteStreamClosedWithoutMemoryOutFreesItsBuffer) {
    const long before = CountedMemory::live;
    Stream* s = OpenWrite();
    const auto a = Bytes(700);
    ASSERT_EQ(StreamWrite(s, a.data(), 700), s);
    EXPECT_EQ(CountedMemory::live, before + 1);
    ASSERT_TRUE(StreamClose(s, nullptr));
    EXPECT_EQ(CountedMemory::live, before);
}

TEST_F(Streams, AppendContinuesTheCallersBlock) {
    auto* block = static_cast<uint8*>(KvMalloc(3));
    std::memcpy(block, "abc", 3);
    StreamMemory mem{block, 3};
    Stream* s = StreamOpen(StreamTypeMemory, StreamAccessAppend, &mem);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(StreamWrite(s, "defg", 4), s);
    EXPECT_EQ(s->Type.memory.length, 3u + 512u);
    const std::vector<uint8> out = Written(s);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abcdefg");
}

TEST_F(Streams, AppendStreamClosedWithoutAskingForItsBlockFreesIt) {
    const long before = CountedMemory::live;
    auto* block = static_cast<uint8*>(KvMalloc(3));
    std::memcpy(block, "abc", 3);
    StreamMemory mem{block, 3};
    Stream* s = StreamOpen(StreamTypeMemory, StreamAccessAppend, &mem);
    ASSERT_NE(s, nullptr);
    const auto grow = Bytes(2000);  // moves the block
    ASSERT_EQ(StreamWrite(s, grow.data(), 2000), s);
    ASSERT_TRUE(StreamClose(s, nullptr));
    EXPECT_EQ(CountedMemory::live, before) << "the grown block is neither leaked nor left to the caller";
}

TEST_F(Streams, GrowthFailureKeepsWhatWasWritten) {
    ErrorLog log;
    Stream* s = OpenWrite();
    const auto a = Bytes(600);
    ASSERT_EQ(StreamWrite(s, a.data(), 500), s);
    CountedMemory::failRealloc = true;
    EXPECT_EQ(StreamWrite(s, a.data(), 600), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNoMemory));
    CountedMemory::failRealloc = false;
    const std::vector<uint8> out = Written(s);
    ASSERT_EQ(out.size(), 500u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), a.begin()));
}

TEST_F(Streams, ShortMemoryReadReportsEndOfStreamAndStopsAtTheEnd) {
    ErrorLog log;
    const auto data = Bytes(13);
    Stream* s = OpenRead(data);
    ASSERT_EQ(StreamSkip(s, 8), s);
    uint8 buf[8] = {};
    EXPECT_EQ(StreamRead(s, buf, 8), 5u);
    EXPECT_TRUE(log.Has(kModuleCore, kErrStreamEnd));
    EXPECT_EQ(s->Type.memory.position, 13u);
    EXPECT_EQ(std::memcmp(buf, data.data() + 8, 5), 0);

    // Skipping past the end also stops there.
    log.errors.clear();
    EXPECT_EQ(StreamSkip(s, 1), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrStreamEnd));
    EXPECT_EQ(s->Type.memory.position, 13u);
    EXPECT_TRUE(StreamClose(s, nullptr));
}

TEST_F(Streams, MemoryStreamsOnlyReadOrWriteInTheirDirection) {
    ErrorLog log;
    // Reading a write stream would hand out capacity nobody wrote.
    Stream* w = OpenWrite();
    ASSERT_EQ(StreamWrite(w, "abcd", 4), w);
    w->Type.memory.position = 0;
    uint8 buf[4];
    EXPECT_EQ(StreamRead(w, buf, 4), 0u);
    EXPECT_EQ(StreamSkip(w, 4), nullptr);
    EXPECT_TRUE(StreamClose(w, nullptr));

    // Writing a read stream would reallocate the caller's block.
    std::vector<uint8> data = Bytes(4);
    Stream* r = OpenRead(data);
    EXPECT_EQ(StreamWrite(r, "zz", 2), nullptr);
    EXPECT_TRUE(log.Has(0, kErrWriteFailed));
    EXPECT_EQ(data, Bytes(4));
    EXPECT_TRUE(StreamClose(r, nullptr));
}

struct CustomLog {
    int closes = 0, skips = 0;
    std::vector<uint8> written;
    bool failWrites = false;
};

StreamCustom CustomFor(CustomLog* log) {
    return StreamCustom{
        [](void* d) { ++static_cast<CustomLog*>(d)->closes; },
        [](void*, void* buffer, uint32 length) {
            std::memset(buffer, 'r', length / 2);
            return length / 2;
        },
        [](void* d, const void* buffer, uint32 length) {
            auto* l = static_cast<CustomLog*>(d);
            if (l->failWrites) return false;
            const auto* b = static_cast<const uint8*>(buffer);
            l->written.insert(l->written.end(), b, b + length);
            return true;
        },
        [](void* d, uint32) {
            ++static_cast<CustomLog*>(d)->skips;
            return true;
        },
        log,
    };
}

TEST_F(Streams, SkipOfZeroSucceedsWithoutTouchingAnyStream) {
    const auto data = Bytes(4);
    Stream* m = OpenRead(data);
    EXPECT_EQ(StreamSkip(m, 0), m);
    EXPECT_EQ(m->Type.memory.position, 0u);
    StreamClose(m, nullptr);

    CustomLog cl;
    StreamCustom c = CustomFor(&cl);
    Stream* cs = StreamOpen(StreamTypeCustom, StreamAccessRead, &c);
    EXPECT_EQ(StreamSkip(cs, 0), cs);
    EXPECT_EQ(cl.skips, 0);
    EXPECT_EQ(StreamSkip(cs, 3), cs);
    EXPECT_EQ(cl.skips, 1);
    StreamClose(cs, nullptr);

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("abc", f);
    Stream* fs = StreamOpen(StreamTypeFile, StreamAccessRead, f);
    EXPECT_EQ(StreamSkip(fs, 0), fs);
    EXPECT_EQ(std::ftell(f), 3);
    StreamClose(fs, nullptr);
    std::fclose(f);

    Stream bogus{};
    bogus.type = 9;
    EXPECT_EQ(StreamSkip(&bogus, 0), &bogus);
}

TEST_F(Streams, BadOpensFailAndReturnTheRecord) {
    ErrorLog log;
    const std::string path = TempPath("access");
    Stream* probe = OpenWrite();
    ASSERT_TRUE(StreamClose(probe, nullptr));

    EXPECT_EQ(StreamOpen(StreamTypeFileName, StreamAccessNone, path.c_str()), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrStreamBadAccess));
    EXPECT_FALSE(std::filesystem::exists(path));
    StreamMemory mem{};
    EXPECT_EQ(StreamOpen(StreamTypeMemory, 7, &mem), nullptr);
    EXPECT_EQ(StreamOpen(9, StreamAccessRead, &mem), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrStreamBadType));
    EXPECT_EQ(StreamOpen(StreamTypeFileName, StreamAccessRead, TempPath("missing/none").c_str()), nullptr);
    EXPECT_TRUE(log.Has(0, kErrFileOpen));

    // Every failed open put the record back: the pool hands out the same one.
    Stream* again = OpenWrite();
    EXPECT_EQ(again, probe);
    StreamClose(again, nullptr);
}

TEST_F(Streams, FileHandleStreamLeavesTheCallersHandleOpen) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    Stream* s = StreamOpen(StreamTypeFile, StreamAccessWrite, f);
    ASSERT_EQ(StreamWrite(s, "chunk", 5), s);
    ASSERT_TRUE(StreamClose(s, nullptr));
    // Still ours: it takes more writes and reads back.
    EXPECT_EQ(std::fputs("!", f), 1);
    std::rewind(f);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, 8, f), 6u);
    EXPECT_STREQ(buf, "chunk!");
    EXPECT_EQ(std::fclose(f), 0);
}

TEST_F(Streams, FileNameStreamWritesAppendsAndReadsToTheEnd) {
    ErrorLog log;
    const std::string path = TempPath("roundtrip");
    Stream* w = StreamOpen(StreamTypeFileName, StreamAccessWrite, path.c_str());
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(StreamWrite(w, "hello", 5), w);
    ASSERT_TRUE(StreamClose(w, nullptr));
    Stream* a = StreamOpen(StreamTypeFileName, StreamAccessAppend, path.c_str());
    ASSERT_EQ(StreamWrite(a, " world", 6), a);
    ASSERT_TRUE(StreamClose(a, nullptr));

    Stream* r = StreamOpen(StreamTypeFileName, StreamAccessRead, path.c_str());
    ASSERT_NE(r, nullptr);
    char buf[16] = {};
    ASSERT_EQ(StreamSkip(r, 6), r);
    EXPECT_EQ(StreamRead(r, buf, 16), 5u);
    EXPECT_STREQ(buf, "world");
    EXPECT_TRUE(log.Has(kModuleCore, kErrStreamEnd));
    EXPECT_TRUE(StreamClose(r, nullptr));
    std::filesystem::remove(path);
}

// File functions that count their calls and can fail reads without reaching
// the end of the file.
struct FileSpy {
    static inline int opens = 0, closes = 0;
    static inline bool failReads = false, failWrites = false;
    static inline FileFunctions saved{};
    static void Install() {
        opens = closes = 0;
        failReads = failWrites = false;
        FileFunctions& f = EngineInstanceGet()->fileFuncs;
        saved = f;
        f.kvfopen = [](const char* n, const char* m) {
            ++opens;
            return saved.kvfopen(n, m);
        };
        f.kvfclose = [](void* h) {
            ++closes;
            return saved.kvfclose(h);
        };
        f.kvfread = [](void* a, std::size_t s, std::size_t n, void* h) {
            return failReads ? std::size_t{0} : saved.kvfread(a, s, n, h);
        };
        f.kvfwrite = [](const void* a, std::size_t s, std::size_t n, void* h) {
            return failWrites ? n / 2 : saved.kvfwrite(a, s, n, h);
        };
    }
};

TEST_F(Streams, FilesAreReachedOnlyThroughTheInstanceTable) {
    ErrorLog log;
    const std::string path = TempPath("spy");
    FileSpy::Install();
    Stream* w = StreamOpen(StreamTypeFileName, StreamAccessWrite, path.c_str());
    ASSERT_EQ(StreamWrite(w, "x", 1), w);
    // Anything short of the full count is a write failure.
    FileSpy::failWrites = true;
    EXPECT_EQ(StreamWrite(w, "yz", 2), nullptr);
    EXPECT_TRUE(log.Has(0, kErrWriteFailed));
    FileSpy::failWrites = false;
    ASSERT_TRUE(StreamClose(w, nullptr));
    EXPECT_EQ(FileSpy::opens, 1);
    EXPECT_EQ(FileSpy::closes, 1);

    // The path test opens for reading through the same table and closes again.
    EXPECT_TRUE(EngineInstanceGet()->fileFuncs.kvfexist(path.c_str()));
    EXPECT_FALSE(EngineInstanceGet()->fileFuncs.kvfexist(TempPath("missing/none").c_str()));
    EXPECT_EQ(FileSpy::opens, 3);
    EXPECT_EQ(FileSpy::closes, 2);

    // A short read that is not at the end of the file is a read failure.
    Stream* r = StreamOpen(StreamTypeFileName, StreamAccessRead, path.c_str());
    FileSpy::failReads = true;
    char c;
    EXPECT_EQ(StreamRead(r, &c, 1), 0u);
    EXPECT_TRUE(log.Has(0, kErrReadFailed));
    EXPECT_FALSE(log.Has(kModuleCore, kErrStreamEnd));
    StreamClose(r, nullptr);
    std::filesystem::remove(path);
}

TEST_F(Streams, CustomStreamsCallTheirFunctionsWithTheirData) {
    CustomLog cl;
    StreamCustom c = CustomFor(&cl);
    Stream* s = StreamOpen(StreamTypeCustom, StreamAccessWrite, &c);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(StreamWrite(s, "ab", 2), s);
    uint8 buf[6] = {};
    EXPECT_EQ(StreamRead(s, buf, 6), 3u);
    EXPECT_EQ(buf[2], 'r');
    cl.failWrites = true;
    EXPECT_EQ(StreamWrite(s, "c", 1), nullptr);
    EXPECT_TRUE(StreamClose(s, nullptr));
    EXPECT_EQ(cl.closes, 1);
    EXPECT_EQ(std::string(cl.written.begin(), cl.written.end()), "ab");
}

TEST_F(Streams, TypedWritesAreLittleEndianAndRealsPassThroughTheStaging) {
    std::vector<real> reals(100);
    for (int i = 0; i < 100; ++i) reals[i] = 0.5f * static_cast<float>(i) - 7.0f;
    const int32 ints[2] = {-1, 0x01020304};
    Stream* s = OpenWrite();
    ASSERT_EQ(StreamWriteInt32(s, ints, 8), s);
    ASSERT_EQ(StreamWriteReal(s, reals.data(), 400), s);  // more than one staging buffer
    const std::vector<uint8> out = Written(s);
    ASSERT_EQ(out.size(), 408u);
    EXPECT_EQ(test::GetLE32(out, 0), 0xFFFFFFFFu);
    EXPECT_EQ((std::vector<uint8>(out.begin() + 4, out.begin() + 8)), (std::vector<uint8>{4, 3, 2, 1}));
    uint32 bits;
    std::memcpy(&bits, &reals[99], 4);
    EXPECT_EQ(test::GetLE32(out, 404), bits);

    Stream* r = OpenRead(out);
    int32 backInts[2];
    std::vector<real> backReals(100);
    ASSERT_EQ(StreamReadInt32(r, backInts, 8), r);
    ASSERT_EQ(StreamReadReal(r, backReals.data(), 400), r);
    EXPECT_EQ(backInts[1], 0x01020304);
    EXPECT_EQ(backReals, reals);
    StreamClose(r, nullptr);
}

TEST_F(Streams, TypedReadsFailOnNothingAndOnPartialData) {
    ErrorLog log;
    const auto data = Bytes(6);
    Stream* r = OpenRead(data);
    int32 words[2] = {0, 0};
    // Six bytes for eight: the second word would be half unset.
    EXPECT_EQ(StreamReadInt32(r, words, 8), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrStreamEnd));
    EXPECT_EQ(StreamReadInt32(r, words, 4), nullptr);
    EXPECT_TRUE(log.Has(0, kErrReadFailed));
    StreamClose(r, nullptr);
}

TEST_F(Streams, TypeNamesForErrorReports) {
    EXPECT_STREQ(StreamTypeName(StreamTypeNA), "kvNASTREAM");
    EXPECT_STREQ(StreamTypeName(StreamTypeFile), "kvSTREAMFILE");
    EXPECT_STREQ(StreamTypeName(StreamTypeFileName), "kvSTREAMFILENAME");
    EXPECT_STREQ(StreamTypeName(StreamTypeMemory), "kvSTREAMMEMORY");
    EXPECT_STREQ(StreamTypeName(StreamTypeCustom), "Unknown");
    EXPECT_STREQ(StreamTypeName(-3), "Unknown");
}

TEST(StreamsStopped, OpenWithoutAStartedEngineFails) {
    ASSERT_TRUE(test::EngineUp({.plugins = [] {
        return StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr) == nullptr;  // not yet started
    }}));
    Stream* s = StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr);
    EXPECT_NE(s, nullptr);
    StreamClose(s, nullptr);
    EngineStop();
    EXPECT_EQ(StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr), nullptr);
    test::EngineDown();
}

}  // namespace
}  // namespace kv
