#include "engine/world/clump_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/stream/chunk.h"
#include "engine/world/geometry_stream.h"
#include "tools/kvdump/chunk_walk.h"
#include "world_fixture.h"

namespace kv {
namespace {

using test::CountedMemory;
using test::ErrorLog;
using test::GetLE32;
using test::WorldTest;

Stream* OpenWrite() { return StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr); }

std::vector<uint8> Written(Stream* s) {
    StreamMemory out{};
    EXPECT_TRUE(StreamClose(s, &out));
    std::vector<uint8> bytes(out.buffer, out.buffer + out.length);
    KvFree(out.buffer);
    return bytes;
}

// A stream that accepts `budget` bytes and then fails every write.
struct ShortStream {
    uint32 budget = 0;
    uint32 written = 0;
    static bool Write(void* data, const void*, uint32 length) {
        auto* s = static_cast<ShortStream*>(data);
        if (s->written + length > s->budget) return false;
        s->written += length;
        return true;
    }
    Stream* Open() {
        static StreamCustom custom;
        custom = StreamCustom{nullptr, nullptr, Write, nullptr, this};
        return StreamOpen(StreamTypeCustom, StreamAccessWrite, &custom);
    }
};

class ClumpStreams : public WorldTest {
  protected:
    std::vector<uint8> Write(Clump* c) {
        Stream* s = OpenWrite();
        EXPECT_EQ(ClumpStreamWrite(c, s), c);
        return Written(s);
    }
    // The int32 fields of a structure chunk that is the nth child.
    static std::vector<int32> Struct(const std::vector<uint8>& bytes, const dump::ChunkTree& t, int node) {
        const int s = t.FindChild(node, ChunkStruct);
        EXPECT_GE(s, 0);
        std::vector<int32> out;
        const dump::ChunkNode& n = t.nodes[static_cast<std::size_t>(s)];
        for (uint32 k = 0; k + 4 <= n.length; k += 4)
            out.push_back(static_cast<int32>(GetLE32(bytes, n.BodyOffset() + k)));
        return out;
    }
};

TEST_F(ClumpStreams, OneAtomicClumpLayout) {
    Geometry* g = Triangle3(MaterialCreate());
    MaterialDestroy(GeometryGetMaterial(g, 0));  // the geometry keeps its own references
    Clump* c = OneAtomicClump(g, V3d{1, 2, 3});
    const uint32 size = ClumpStreamGetSize(c);
    const std::vector<uint8> bytes = Write(c);
    ASSERT_EQ(bytes.size(), 12 + size);

    const dump::ChunkTree t = dump::ChunkWalk(bytes);
    ASSERT_TRUE(t.Ok()) << t.problems[0].message;
    ASSERT_EQ(t.Children(-1).size(), 1u);
    const int clump = t.Children(-1)[0];
    EXPECT_EQ(t.nodes[0].type, ChunkClump);
    EXPECT_EQ(t.nodes[0].length, size);
    EXPECT_EQ(t.nodes[0].version, kLibraryVersionStamp);
    std::vector<uint32> kinds;
    for (int k : t.Children(clump)) kinds.push_back(t.nodes[static_cast<std::size_t>(k)].type);
    EXPECT_EQ(kinds,
              (std::vector<uint32>{ChunkStruct, ChunkFrameList, ChunkGeometryList, ChunkAtomic, ChunkExtension}));
    EXPECT_EQ(Struct(bytes, t, clump), std::vector<int32>{1});

    // Two frames: the clump's (parent -1), then the atomic's (parent 0).
    const int frames = t.FindChild(clump, ChunkFrameList);
    const std::vector<int32> fl = Struct(bytes, t, frames);
    ASSERT_EQ(fl.size(), 1u + 2 * 14);
    EXPECT_EQ(fl[0], 2);
    EXPECT_EQ(fl[1 + 12], -1);
    EXPECT_EQ(fl[1 + 14 + 12], 0);
    EXPECT_EQ(t.Children(frames).size(), 3u);  // structure and two empty extensions

    const int geometries = t.FindChild(clump, ChunkGeometryList);
    EXPECT_EQ(Struct(bytes, t, geometries), std::vector<int32>{1});
    const int geometry = t.FindChild(geometries, ChunkGeometry);
    ASSERT_GE(geometry, 0);
    EXPECT_EQ(t.nodes[static_cast<std::size_t>(geometry)].length, GeometryStreamGetSize(g));

    const int atomic = t.FindChild(clump, ChunkAtomic);
    EXPECT_EQ(Struct(bytes, t, atomic), (std::vector<int32>{1, 0, 5, 0}));
    EXPECT_EQ(t.FindChild(atomic, ChunkGeometry), -1);  // inside a clump it refers to the list
    const int ext = t.FindChild(clump, ChunkExtension);
    EXPECT_EQ(t.nodes[static_cast<std::size_t>(ext)].length, 0u);
    ClumpDestroy(c);
    GeometryDestroy(g);
}

TEST_F(ClumpStreams, SharedGeometryIsListedOnce) {
    Geometry* g = Triangle3();
    Geometry* h = Triangle3();
    Atomic* first = nullptr;
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0}, &first);
    // Atomics are listed newest first: a (h), b (g), first (g).
    for (Geometry* geo : {g, h}) {
        Atomic* a = AtomicCreate();
        Frame* f = FrameCreate();
        FrameAddChild(ClumpGetFrame(c), f);
        AtomicSetFrame(a, f);
        AtomicSetGeometry(a, geo, 0);
        ClumpAddAtomic(c, a);
    }
    AtomicSetFlags(first, kAtomicFlagRender);
    const std::vector<uint8> bytes = Write(c);
    EXPECT_EQ(bytes.size(), 12 + ClumpStreamGetSize(c));
    const dump::ChunkTree t = dump::ChunkWalk(bytes);
    ASSERT_TRUE(t.Ok());
    const int clump = 0;
    EXPECT_EQ(Struct(bytes, t, clump), std::vector<int32>{3});
    EXPECT_EQ(Struct(bytes, t, t.FindChild(clump, ChunkGeometryList)), std::vector<int32>{2});
    std::vector<int32> geometryIndex, flags;
    for (int n = 0; n < 3; ++n) {
        const std::vector<int32> s = Struct(bytes, t, t.FindChild(clump, ChunkAtomic, n));
        geometryIndex.push_back(s[1]);
        flags.push_back(s[2]);
    }
    EXPECT_EQ(geometryIndex, (std::vector<int32>{0, 1, 1}));
    EXPECT_EQ(flags, (std::vector<int32>{5, 5, 4}));
    // The list's references are gone again.
    EXPECT_EQ(GeometryGetRefCount(g), 3);
    EXPECT_EQ(GeometryGetRefCount(h), 2);
    ClumpDestroy(c);
    GeometryDestroy(g);
    GeometryDestroy(h);
}

TEST_F(ClumpStreams, AtomicWrittenOnItsOwnCarriesItsGeometry) {
    Geometry* g = Triangle3();
    Atomic* a = nullptr;
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0}, &a);
    FrameList frames{};
    ASSERT_NE(FrameListCreate(&frames, ClumpGetFrame(c)), nullptr);
    const AtomicStreamContext alone{&frames, nullptr};
    const uint32 size = AtomicStreamGetSize(a, &alone);
    EXPECT_EQ(size, 12 + kAtomicStructSize + 12 + GeometryStreamGetSize(g) + 12);
    Stream* s = OpenWrite();
    ASSERT_EQ(AtomicStreamWrite(a, &alone, s), a);
    const std::vector<uint8> bytes = Written(s);
    ASSERT_EQ(bytes.size(), 12 + size);
    const dump::ChunkTree t = dump::ChunkWalk(bytes);
    ASSERT_TRUE(t.Ok());
    EXPECT_GE(t.FindChild(0, ChunkGeometry), 0);
    EXPECT_EQ(Struct(bytes, t, 0), (std::vector<int32>{1, 0, 5, 0}));
    FrameListDestroy(&frames);
    ClumpDestroy(c);
    GeometryDestroy(g);
}

TEST_F(ClumpStreams, AtomicsThatCannotBeReferencedFailBeforeWriting) {
    Geometry* g = Triangle3();
    Atomic* a = nullptr;
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0}, &a);
    // A frame outside the clump's hierarchy.
    Frame* stray = FrameCreate();
    Frame* own = AtomicGetFrame(a);
    AtomicSetFrame(a, stray);
    ErrorLog log;
    Stream* s = OpenWrite();
    EXPECT_EQ(ClumpStreamWrite(c, s), nullptr);
    EXPECT_TRUE(Written(s).empty());
    AtomicSetFrame(a, own);
    FrameDestroy(stray);
    // No geometry: not in the geometry list either.
    AtomicSetGeometry(a, nullptr, 0);
    s = OpenWrite();
    EXPECT_EQ(ClumpStreamWrite(c, s), nullptr);
    EXPECT_TRUE(Written(s).empty());
    // A clump without a frame has no frame list.
    Clump* bare = ClumpCreate();
    s = OpenWrite();
    EXPECT_EQ(ClumpStreamWrite(bare, s), nullptr);
    EXPECT_EQ(ClumpStreamGetSize(bare), 0u);
    EXPECT_TRUE(Written(s).empty());
    EXPECT_EQ(GeometryGetRefCount(g), 1);
    ClumpDestroy(bare);
    ClumpDestroy(c);
    GeometryDestroy(g);
}

TEST_F(ClumpStreams, EveryShortWriteFailsAndReleasesTheLists) {
    Geometry* g = Triangle3(MaterialCreate());
    MaterialDestroy(GeometryGetMaterial(g, 0));
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0});
    const uint32 total = 12 + ClumpStreamGetSize(c);
    for (uint32 budget = 0; budget < total; budget += 4) {
        ShortStream sink{budget};
        Stream* s = sink.Open();
        EXPECT_EQ(ClumpStreamWrite(c, s), nullptr) << budget;
        StreamClose(s, nullptr);
        EXPECT_EQ(GeometryGetRefCount(g), 2);
    }
    ShortStream enough{total};
    Stream* s = enough.Open();
    EXPECT_EQ(ClumpStreamWrite(c, s), c);
    EXPECT_EQ(enough.written, total);
    StreamClose(s, nullptr);
    ClumpDestroy(c);
    GeometryDestroy(g);
}

TEST_F(ClumpStreams, OutOfMemoryWhileListingIsReported) {
    Geometry* g = Triangle3();
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0});
    Stream* s = OpenWrite();
    ErrorLog log;
    CountedMemory::failMalloc = true;
    EXPECT_EQ(ClumpStreamWrite(c, s), nullptr);
    CountedMemory::failMalloc = false;
    EXPECT_TRUE(log.Has(0, kErrNoMemory));
    EXPECT_TRUE(Written(s).empty());
    EXPECT_EQ(GeometryGetRefCount(g), 2);
    ClumpDestroy(c);
    GeometryDestroy(g);
}

}  // namespace
}  // namespace kv
