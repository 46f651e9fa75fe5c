#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/image/texture.h"
#include "engine/stream/chunk.h"
#include "engine/world/material_list.h"
#include "geometry_fixture.h"
#include "tools/kvdump/chunk_walk.h"

namespace kv {
namespace {

using test::ErrorLog;
using test::GetLE32;

std::vector<uint8> Written(Stream* s) {
    StreamMemory out{};
    EXPECT_TRUE(StreamClose(s, &out));
    std::vector<uint8> bytes(out.buffer, out.buffer + out.length);
    KvFree(out.buffer);
    return bytes;
}

Stream* OpenWrite() { return StreamOpen(StreamTypeMemory, StreamAccessWrite, nullptr); }

Stream* OpenRead(std::vector<uint8>& bytes, std::size_t from = 0, std::size_t length = ~std::size_t{0}) {
    static StreamMemory mem;
    const std::size_t n = length == ~std::size_t{0} ? bytes.size() - from : length;
    mem = {bytes.data() + from, static_cast<uint32>(n)};
    return StreamOpen(StreamTypeMemory, StreamAccessRead, &mem);
}

class GeometryStreams : public test::GeometryTest {
  protected:
    // Separate quads of 4 vertices and 2 triangles each; the materials take
    // the quads in runs, so each has a run of vertices of its own.
    Geometry* Ribbon(int32 quads, uint32 flags, const std::vector<Material*>& materials) {
        const int32 n = 4 * quads;
        Geometry* g = GeometryCreate(n, 2 * quads, flags);
        EXPECT_NE(g, nullptr);
        for (int32 q = 0; q < quads; ++q) {
            const auto a = static_cast<uint16>(4 * q);
            Triangle* t = GeometryGetTriangles(g) + 2 * q;
            TriangleSetVertexIndices(g, t, a, static_cast<uint16>(a + 1), static_cast<uint16>(a + 2));
            TriangleSetVertexIndices(g, t + 1, static_cast<uint16>(a + 2), static_cast<uint16>(a + 1),
                                     static_cast<uint16>(a + 3));
            if (!materials.empty()) {
                Material* m =
                    materials[static_cast<std::size_t>(q) * materials.size() / static_cast<std::size_t>(quads)];
                TriangleSetMaterial(g, t, m);
                TriangleSetMaterial(g, t + 1, m);
            }
        }
        V3d* v = MorphTargetGetVertices(GeometryGetMorphTarget(g, 0));
        for (int32 i = 0; i < n; ++i) v[i] = V3d{static_cast<real>(i), static_cast<real>(i % 2), 0.5f};
        return g;
    }
    std::vector<uint8> Write(const Geometry* g) {
        Stream* s = OpenWrite();
        EXPECT_EQ(GeometryStreamWrite(g, s), g);
        return Written(s);
    }
};

float GetReal(const std::vector<uint8>& v, std::size_t at) {
    const uint32 bits = GetLE32(v, at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

TEST_F(GeometryStreams, TheDomeGeometryHasTheSizesOfItsFormat) {
    // The saved dome's geometry: 325 prelit vertices with normals, 612
    // triangles in one material.
    Material* m = Colored(255, 255, 255);
    Geometry* g = GeometryCreate(325, 612, GeometryPrelit | GeometryNormals);
    for (int32 i = 0; i < 612; ++i) {
        Triangle* t = GeometryGetTriangles(g) + i;
        TriangleSetVertexIndices(g, t, static_cast<uint16>(i % 325), static_cast<uint16>((i + 1) % 325),
                                 static_cast<uint16>((i + 2) % 325));
        TriangleSetMaterial(g, t, m);
    }
    ASSERT_EQ(GeometryUnlock(g), g);
    std::vector<uint8> bytes = Write(g);
    ASSERT_EQ(bytes.size(), kChunkHeaderSize + GeometryStreamGetSize(g));

    const dump::ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok()) << tree.problems[0].message;
    const int geo = tree.FindChild(-1, ChunkGeometry);
    ASSERT_EQ(geo, 0);
    const int st = tree.FindChild(geo, ChunkStruct);
    EXPECT_EQ(tree.nodes[st].length, 14048u);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[st].BodyOffset()), 0x18u);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[st].BodyOffset() + 4), 612u);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[st].BodyOffset() + 8), 325u);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[st].BodyOffset() + 12), 1u);
    const int list = tree.FindChild(geo, ChunkMaterialList);
    ASSERT_GE(list, 0);
    const int listStruct = tree.FindChild(list, ChunkStruct);
    EXPECT_EQ(tree.nodes[listStruct].length, 8u);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[listStruct].BodyOffset() + 4), 0xFFFFFFFFu);
    const int mat = tree.FindChild(list, ChunkMaterial);
    ASSERT_GE(mat, 0);
    const int matStruct = tree.FindChild(mat, ChunkStruct);
    EXPECT_EQ(tree.nodes[matStruct].length, 28u);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[matStruct].BodyOffset() + 12), 0u);  // untextured
    EXPECT_EQ(tree.nodes[tree.FindChild(mat, ChunkExtension)].length, 0u);
    const int ext = tree.FindChild(geo, ChunkExtension);
    EXPECT_EQ(tree.nodes[ext].length, 7376u);
    const int mesh = tree.FindChild(ext, kIdMeshExtension);
    ASSERT_GE(mesh, 0);
    EXPECT_TRUE(tree.nodes[mesh].plugin);
    EXPECT_EQ(tree.nodes[mesh].summary, "triangle lists, meshes 1, indices 1836");
    GeometryDestroy(g);
    MaterialDestroy(m);
}

TEST_F(GeometryStreams, WrittenBytesMatchTheComputedSizesForEveryLayout) {
    Material* a = Colored(1, 2, 3, 4);
    Material* b = Colored(5, 6, 7);
    const uint32 layouts[] = {0,
                              GeometryPrelit,
                              GeometryTextured,
                              GeometryTextured2,
                              GeometryNormals,
                              GeometryPrelit | GeometryTextured2 | GeometryNormals | GeometryLight};
    for (uint32 flags : layouts) {
        for (bool unlocked : {false, true}) {
            Geometry* g = Ribbon(6, flags, {a, b});
            ASSERT_EQ(GeometryAddMorphTarget(g), 1);
            if (unlocked) GeometryUnlock(g);
            std::vector<uint8> bytes = Write(g);
            EXPECT_EQ(bytes.size(), kChunkHeaderSize + GeometryStreamGetSize(g)) << "flags " << flags;
            const dump::ChunkTree tree = dump::ChunkWalk(bytes);
            EXPECT_TRUE(tree.Ok()) << "flags " << flags << ": " << tree.problems[0].message;
            // Meshes are written only once they exist.
            const int ext = tree.FindChild(0, ChunkExtension);
            EXPECT_EQ(tree.FindChild(ext, kIdMeshExtension) >= 0, unlocked);
            GeometryDestroy(g);
        }
    }
    MaterialDestroy(a);
    MaterialDestroy(b);
}

TEST_F(GeometryStreams, StructureFieldsInTheirPlaces) {
    Material* m = Colored(10, 20, 30, 40);
    Geometry* g = Ribbon(1, GeometryPrelit | GeometryTextured | GeometryNormals, {m});
    GeometryGetPrelitColors(g)[1] = RGBA{1, 2, 3, 4};
    GeometryGetTexCoords(g, 0)[3] = TexCoords{0.25f, 0.75f};
    MorphTarget* t = GeometryGetMorphTarget(g, 0);
    MorphTargetGetNormals(t)[2] = V3d{0.0f, -1.0f, 0.0f};
    const Sphere sphere{{1.0f, 2.0f, 3.0f}, 4.0f};
    MorphTargetSetBoundingSphere(t, &sphere);
    const SurfaceProperties surface{0.5f, 0.25f, 0.125f};
    GeometrySetSurfaceProperties(g, &surface);
    std::vector<uint8> bytes = Write(g);

    // Header 28, prelit 16, texture coordinates 32, triangles 16, then the morph target.
    const std::size_t s = 24;
    EXPECT_EQ(GetLE32(bytes, s), 0x1Cu);
    EXPECT_EQ(GetReal(bytes, s + 16), 0.5f);
    EXPECT_EQ(GetReal(bytes, s + 20), 0.25f);
    EXPECT_EQ(GetReal(bytes, s + 24), 0.125f);
    EXPECT_EQ(GetLE32(bytes, s + 28 + 4), 0x04030201u);
    EXPECT_EQ(GetReal(bytes, s + 44 + 24), 0.25f);
    EXPECT_EQ(GetReal(bytes, s + 44 + 28), 0.75f);
    // Triangles (0,1,2) and (2,1,3), material slot 0: vertex 2, vertex 1, material, vertex 3 as u16.
    EXPECT_EQ(GetLE32(bytes, s + 76), 0x00000001u);
    EXPECT_EQ(GetLE32(bytes, s + 80), 0x00020000u);
    EXPECT_EQ(GetLE32(bytes, s + 84), 0x00020001u);
    EXPECT_EQ(GetLE32(bytes, s + 88), 0x00030000u);
    const std::size_t mt = s + 92;
    EXPECT_EQ(GetReal(bytes, mt), 1.0f);
    EXPECT_EQ(GetReal(bytes, mt + 12), 4.0f);
    EXPECT_EQ(GetLE32(bytes, mt + 16), 1u);
    EXPECT_EQ(GetLE32(bytes, mt + 20), 1u);
    EXPECT_EQ(GetReal(bytes, mt + 24 + 12 * 3), 3.0f);  // position 3's x
    EXPECT_EQ(GetReal(bytes, mt + 24 + 48 + 12 * 2 + 4), -1.0f);
    // The material: colour bytes in order.
    const dump::ChunkTree tree = dump::ChunkWalk(bytes);
    const int mat = tree.FindChild(tree.FindChild(0, ChunkMaterialList), ChunkMaterial);
    const std::size_t body = tree.nodes[tree.FindChild(mat, ChunkStruct)].BodyOffset();
    EXPECT_EQ(GetLE32(bytes, body + 4), 0x281E140Au);
    EXPECT_EQ(GetReal(bytes, body + 16), 1.0f);
    GeometryDestroy(g);
    MaterialDestroy(m);
}

TEST_F(GeometryStreams, AGeometryWithoutVerticesWritesHeaderAndMorphTargetsOnly) {
    Geometry* g = GeometryCreate(0, 3, GeometryPrelit | GeometryNormals);
    GeometryAddMorphTarget(g);
    std::vector<uint8> bytes = Write(g);
    const dump::ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok());
    const int st = tree.FindChild(0, ChunkStruct);
    EXPECT_EQ(tree.nodes[st].length, 28u + 2 * 24u);
    // Neither morph target has positions or normals.
    EXPECT_EQ(GetLE32(bytes, tree.nodes[st].BodyOffset() + 28 + 16), 0u);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[st].BodyOffset() + 28 + 20), 0u);
    EXPECT_EQ(bytes.size(), kChunkHeaderSize + GeometryStreamGetSize(g));
    GeometryDestroy(g);
}

TEST_F(GeometryStreams, AMaterialInTwoSlotsIsWrittenOnce) {
    Material* a = Colored(1, 1, 1);
    Material* b = Colored(2, 2, 2);
    MaterialList list;
    MaterialListInit(&list);
    for (Material* m : {a, b, a, a}) ASSERT_GE(MaterialListAppend(&list, m), 0);
    EXPECT_EQ(MaterialGetRefCount(a), 4);
    EXPECT_EQ(MaterialListFindLast(&list, a), 3);
    Stream* s = OpenWrite();
    ASSERT_EQ(MaterialListStreamWrite(&list, s), &list);
    std::vector<uint8> bytes = Written(s);
    EXPECT_EQ(bytes.size(), kChunkHeaderSize + MaterialListStreamGetSize(&list));
    const dump::ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok());
    const std::size_t body = tree.nodes[tree.FindChild(0, ChunkStruct)].BodyOffset();
    EXPECT_EQ(GetLE32(bytes, body), 4u);
    EXPECT_EQ(static_cast<int32>(GetLE32(bytes, body + 4)), -1);
    EXPECT_EQ(static_cast<int32>(GetLE32(bytes, body + 8)), -1);
    EXPECT_EQ(GetLE32(bytes, body + 12), 0u);
    EXPECT_EQ(GetLE32(bytes, body + 16), 2u);  // the nearest earlier slot
    EXPECT_GE(tree.FindChild(0, ChunkMaterial, 1), 0);
    EXPECT_LT(tree.FindChild(0, ChunkMaterial, 2), 0);
    MaterialListRelease(&list);
    EXPECT_EQ(MaterialGetRefCount(a), 1);
    MaterialDestroy(a);
    MaterialDestroy(b);
}

TEST_F(GeometryStreams, ATexturedMaterialCarriesItsTextureChunk) {
    Material* m = Colored(10, 20, 30);
    Texture* t = TextureCreate(nullptr);
    ASSERT_TRUE(m && t);
    TextureSetName(t, "ground");
    TextureSetFilterMode(t, 2);
    MaterialSetTexture(m, t);
    TextureDestroy(t);
    // 56 + "ground" (6 rounded down to 4) + the empty mask (4) + no plugins.
    EXPECT_EQ(MaterialStreamGetSize(m), (12u + 28) + (12 + 64) + 12);
    Stream* s = OpenWrite();
    ASSERT_EQ(MaterialStreamWrite(m, s), m);
    std::vector<uint8> bytes = Written(s);
    ASSERT_EQ(bytes.size(), 12u + MaterialStreamGetSize(m));
    const dump::ChunkTree tree = dump::ChunkWalk(bytes);
    ASSERT_TRUE(tree.Ok()) << tree.problems[0].message;
    const std::vector<int> parts = tree.Children(0);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(tree.nodes[parts[0]].type, ChunkStruct);
    EXPECT_EQ(GetLE32(bytes, tree.nodes[parts[0]].BodyOffset() + 12), 1u);  // textured
    const auto& texture = tree.nodes[parts[1]];
    EXPECT_EQ(texture.type, ChunkTexture);
    EXPECT_EQ(texture.length, 64u);
    EXPECT_EQ(tree.nodes[tree.FindChild(parts[1], ChunkString)].text, "ground");
    EXPECT_EQ(GetLE32(bytes, tree.nodes[tree.FindChild(parts[1], ChunkStruct)].BodyOffset()), 0x1102u);
    EXPECT_EQ(tree.nodes[parts[2]].type, ChunkExtension);
    MaterialDestroy(m);
}

TEST_F(GeometryStreams, MaterialsSharingVerticesCannotBeWritten) {
    Material* a = Colored(1, 1, 1);
    Material* b = Colored(2, 2, 2);
    Geometry* g = Ribbon(2, 0, {a, b});
    // Give the second material a triangle on the first one's vertices.
    TriangleSetVertexIndices(g, GeometryGetTriangles(g) + 3, 0, 1, 5);
    ErrorLog log;
    Stream* s = OpenWrite();
    EXPECT_EQ(GeometryStreamWrite(g, s), nullptr);
    EXPECT_TRUE(log.Has(0, kErrMaterialGrouping));
    EXPECT_TRUE(Written(s).empty());
    // One material may use its vertices in any order.
    Geometry* one = Ribbon(2, 0, {a});
    TriangleSetVertexIndices(one, GeometryGetTriangles(one) + 3, 0, 1, 5);
    s = OpenWrite();
    EXPECT_EQ(GeometryStreamWrite(one, s), one);
    StreamClose(s, nullptr);
    GeometryDestroy(g);
    GeometryDestroy(one);
    MaterialDestroy(a);
    MaterialDestroy(b);
}

// A stream that takes `room` bytes and refuses the rest.
struct Limited {
    uint32 room;
    uint32 taken = 0;
};

TEST_F(GeometryStreams, AnyFailedWriteFailsTheWriter) {
    Material* m = Colored(1, 1, 1);
    Geometry* g = Ribbon(3, GeometryPrelit | GeometryNormals, {m});
    GeometryUnlock(g);
    const uint32 total = kChunkHeaderSize + GeometryStreamGetSize(g);
    for (uint32 room = 0; room < total; room += 7) {
        Limited limit{room};
        StreamCustom custom{nullptr, nullptr,
                            [](void* d, const void*, uint32 n) {
                                auto* l = static_cast<Limited*>(d);
                                if (l->taken + n > l->room) return false;
                                l->taken += n;
                                return true;
                            },
                            nullptr, &limit};
        Stream* s = StreamOpen(StreamTypeCustom, StreamAccessWrite, &custom);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(GeometryStreamWrite(g, s), nullptr) << "room " << room;
        StreamClose(s, nullptr);
    }
    GeometryDestroy(g);
    MaterialDestroy(m);
}

class MeshExtension : public GeometryStreams {
  protected:
    // The mesh extension's payload inside a written geometry.
    static std::pair<std::size_t, uint32> MeshPayload(const std::vector<uint8>& bytes) {
        const dump::ChunkTree tree = dump::ChunkWalk(bytes);
        const int mesh = tree.FindChild(tree.FindChild(0, ChunkExtension), kIdMeshExtension);
        EXPECT_GE(mesh, 0);
        return {tree.nodes[mesh].BodyOffset(), tree.nodes[mesh].length};
    }
    static std::vector<uint8> MeshBody(const MeshHeader* h, const MaterialList* list) {
        Stream* s = OpenWrite();
        EXPECT_TRUE(MeshHeaderStreamWrite(h, list, s));
        std::vector<uint8> bytes = Written(s);
        EXPECT_EQ(bytes.size(), MeshHeaderStreamGetSize(h));
        return bytes;
    }
    static void ExpectSameMeshes(const MeshHeader* a, const MeshHeader* b) {
        ASSERT_EQ(a->numMeshes, b->numMeshes);
        EXPECT_EQ(a->flags, b->flags);
        EXPECT_EQ(a->totalIndicesInMesh, b->totalIndicesInMesh);
        for (uint32 i = 0; i < a->numMeshes; ++i) {
            const Mesh& x = MeshHeaderGetMeshes(a)[i];
            const Mesh& y = MeshHeaderGetMeshes(b)[i];
            EXPECT_EQ(x.material, y.material);
            ASSERT_EQ(x.numIndices, y.numIndices);
            EXPECT_EQ(0, std::memcmp(x.indices, y.indices, 4 * x.numIndices));
        }
    }
};

TEST_F(MeshExtension, ReadsBackWhatTheGeometryWrote) {
    Material* a = Colored(1, 1, 1);
    Material* b = Colored(2, 2, 2, 7);
    for (uint32 flags : {0u, static_cast<uint32>(GeometryTriStrip)}) {
        Geometry* g = Ribbon(300, flags, {a, b});  // over 256 indices per mesh
        TriangleSetMaterial(g, GeometryGetTriangles(g) + 5, nullptr);
        ASSERT_EQ(GeometryUnlock(g), g);
        std::vector<uint8> bytes = Write(g);
        const auto [at, length] = MeshPayload(bytes);

        Geometry* copy = Ribbon(300, flags, {a, b});
        Stream* s = OpenRead(bytes, at, length);
        ASSERT_EQ(MeshStreamRead(s, static_cast<int32>(length), copy, 0, 0), s);
        StreamClose(s, nullptr);
        ASSERT_NE(GeometryGetMeshHeader(copy), nullptr);
        ExpectSameMeshes(GeometryGetMeshHeader(g), GeometryGetMeshHeader(copy));
        // A header read is a new one to the pipelines.
        EXPECT_NE(GeometryGetMeshHeader(copy)->serialNum, GeometryGetMeshHeader(g)->serialNum);
        GeometryDestroy(g);
        GeometryDestroy(copy);
    }
    MaterialDestroy(a);
    MaterialDestroy(b);
}

TEST_F(MeshExtension, MaterialIndexOutsideTheListIsRejected) {
    Material* a = Colored(1, 1, 1);
    Geometry* g = Ribbon(4, 0, {a});
    GeometryUnlock(g);
    std::vector<uint8> body = MeshBody(GeometryGetMeshHeader(g), GeometryGetMaterialList(g));
    ASSERT_EQ(GetLE32(body, 16), 0u);  // mesh 0's slot
    Geometry* target = Ribbon(4, 0, {a});
    GeometryUnlock(target);
    MeshHeader* before = GeometryGetMeshHeader(target);

    for (int32 bad : {1, 7, -2}) {
        std::vector<uint8> copy = body;
        std::memcpy(&copy[16], &bad, 4);
        ErrorLog log;
        Stream* s = OpenRead(copy);
        EXPECT_EQ(MeshStreamRead(s, static_cast<int32>(copy.size()), target, 0, 0), nullptr) << bad;
        StreamClose(s, nullptr);
        EXPECT_TRUE(log.Has(static_cast<int32>(kIdMeshModule), kErrMeshStreamMalformed));
        // The geometry keeps the meshes it had.
        EXPECT_EQ(GeometryGetMeshHeader(target), before);
    }
    // A geometry without materials has no slot 0 either.
    Geometry* bare = Ribbon(4, 0, {});
    Stream* s = OpenRead(body);
    EXPECT_EQ(MeshStreamRead(s, static_cast<int32>(body.size()), bare, 0, 0), nullptr);
    StreamClose(s, nullptr);
    EXPECT_EQ(GeometryGetMeshHeader(bare), nullptr);
    for (Geometry* x : {g, target, bare}) GeometryDestroy(x);
    MaterialDestroy(a);
}

TEST_F(MeshExtension, MeshesWithoutAMaterialComeBackWithoutOne) {
    Material* a = Colored(1, 1, 1);
    Geometry* g = Ribbon(4, 0, {a});
    for (int32 i = 0; i < 3; ++i) TriangleSetMaterial(g, GeometryGetTriangles(g) + i, nullptr);
    GeometryUnlock(g);
    ASSERT_EQ(GeometryGetMeshHeader(g)->numMeshes, 2);
    std::vector<uint8> body = MeshBody(GeometryGetMeshHeader(g), GeometryGetMaterialList(g));
    EXPECT_EQ(static_cast<int32>(GetLE32(body, 16)), -1);
    Geometry* copy = Ribbon(4, 0, {a});
    Stream* s = OpenRead(body);
    ASSERT_EQ(MeshStreamRead(s, static_cast<int32>(body.size()), copy, 0, 0), s);
    StreamClose(s, nullptr);
    ExpectSameMeshes(GeometryGetMeshHeader(g), GeometryGetMeshHeader(copy));
    GeometryDestroy(g);
    GeometryDestroy(copy);
    MaterialDestroy(a);
}

TEST_F(MeshExtension, ShortOrInconsistentBodiesAreRejected) {
    Material* a = Colored(1, 1, 1);
    Geometry* g = Ribbon(4, 0, {a});
    GeometryUnlock(g);
    const std::vector<uint8> body = MeshBody(GeometryGetMeshHeader(g), GeometryGetMaterialList(g));
    auto rejects = [&](std::vector<uint8> bytes, int32 length) {
        Geometry* target = Ribbon(4, 0, {a});
        Stream* s = OpenRead(bytes);
        const bool rejected = MeshStreamRead(s, length, target, 0, 0) == nullptr;
        StreamClose(s, nullptr);
        const bool untouched = GeometryGetMeshHeader(target) == nullptr;
        GeometryDestroy(target);
        return rejected && untouched;
    };
    const auto n = static_cast<int32>(body.size());
    // Cut short, in the header, a record or the indices.
    for (int32 cut : {4, 14, 20, n - 4}) {
        EXPECT_TRUE(rejects(std::vector<uint8>(body.begin(), body.begin() + cut), n)) << cut;
    }
    // A length that does not match the counts.
    EXPECT_TRUE(rejects(body, n - 4));
    EXPECT_TRUE(rejects(body, 8));
    // Counts that do not add up: the mesh claims more than the total.
    std::vector<uint8> more = body;
    const uint32 big = 1000;
    std::memcpy(&more[12], &big, 4);
    EXPECT_TRUE(rejects(more, n));
    // A vertex index past the geometry's vertices.
    std::vector<uint8> far = body;
    const uint32 vertex = 16;  // 16 vertices: 0..15
    std::memcpy(&far[20], &vertex, 4);
    EXPECT_TRUE(rejects(far, n));
    // A huge count with a matching-looking length is refused before allocating.
    std::vector<uint8> huge = body;
    const int32 total = 0x3FFFFFFF;
    std::memcpy(&huge[8], &total, 4);
    EXPECT_TRUE(rejects(huge, n));
    // And the body itself is still good.
    std::vector<uint8> good = body;
    EXPECT_FALSE(rejects(good, n));
    GeometryDestroy(g);
    MaterialDestroy(a);
}

// Counts that agree with the declared length but not with the bytes that
// follow: the reader asks for memory as the indices arrive, so the file fails
// as cut short, never as too big for memory.
TEST_F(MeshExtension, CorruptCountsCostOnlyTheBytesThatArrive) {
    Material* a = Colored(1, 1, 1);
    Geometry* g = Ribbon(300, 0, {a});
    GeometryUnlock(g);
    const std::vector<uint8> body = MeshBody(GeometryGetMeshHeader(g), GeometryGetMaterialList(g));
    ASSERT_GT(body.size(), 7000u);
    const struct {
        int32 meshes, firstCount, total;
    } lies[] = {
        {1, 0x1FFFFFF0, 0x1FFFFFF0},  // one mesh of 2 GiB of indices
        {0xFFFF, 3, 0x1FF00000},      // every mesh record the format allows
        {1, 1800, 0x1FFFFFF0},        // the first mesh honest, the total not
    };
    for (const auto& lie : lies) {
        SCOPED_TRACE(lie.total);
        std::vector<uint8> bytes = body;
        std::memcpy(&bytes[4], &lie.meshes, 4);
        std::memcpy(&bytes[8], &lie.total, 4);
        std::memcpy(&bytes[12], &lie.firstCount, 4);
        const int32 length = 12 + 8 * lie.meshes + 4 * lie.total;
        Geometry* target = Ribbon(300, 0, {a});
        ErrorLog log;
        test::CountedMemory::largest = 0;
        Stream* s = OpenRead(bytes);
        EXPECT_EQ(MeshStreamRead(s, length, target, 0, 0), nullptr);
        StreamClose(s, nullptr);
        // A first block of 64 KiB at most, grown only by what arrived.
        EXPECT_LE(test::CountedMemory::largest, std::max<std::size_t>(65536, 4 * bytes.size()));
        EXPECT_FALSE(log.Has(kModuleNone, kErrNoMemory));
        EXPECT_EQ(GeometryGetMeshHeader(target), nullptr);
        GeometryDestroy(target);
    }
    GeometryDestroy(g);
    MaterialDestroy(a);
}

TEST_F(MeshExtension, TheGeometryExtensionIsNeverWrittenAndMarksOnRead) {
    Geometry* g = Ribbon(1, 0, {});
    EXPECT_EQ(GeometryNativeStreamGetSize(g, 0, 0), 0);
    std::vector<uint8> bytes{1, 2, 3, 4, 5, 6, 7, 8};
    Stream* s = OpenRead(bytes);
    EXPECT_EQ(GeometryNativeStreamRead(s, 4, g, 0, 0), s);
    EXPECT_EQ(g->reserved, 1u);
    // Its payload is passed over.
    uint8 next = 0;
    EXPECT_EQ(StreamRead(s, &next, 1), 1u);
    EXPECT_EQ(next, 5);
    StreamClose(s, nullptr);
    GeometryDestroy(g);
}

}  // namespace
}  // namespace kv
