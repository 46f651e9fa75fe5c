#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "engine/image/raster.h"
#include "engine/image/texture.h"
#include "engine/world/mesh_strips.h"
#include "geometry_fixture.h"

namespace kv {
namespace {

using test::CountedMemory;
using test::ErrorLog;
using test::MeshTriangles;
using Tri = std::vector<uint32>;

class Geometries : public test::GeometryTest {};

TEST_F(Geometries, CreateAllocatesWhatTheFormatAsksFor) {
    Geometry* g = GeometryCreate(5, 4, GeometryPrelit | GeometryNormals);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->object.type, kObjectTypeGeometry);
    EXPECT_EQ(GeometryGetFlags(g), 0x18u);
    EXPECT_EQ(GeometryGetRefCount(g), 1);
    EXPECT_EQ(GeometryGetLockFlags(g), 0);
    EXPECT_NE(GeometryGetPrelitColors(g), nullptr);
    EXPECT_EQ(GeometryGetTexCoords(g, 0), nullptr);
    EXPECT_EQ(GeometryGetTexCoords(g, 1), nullptr);
    EXPECT_EQ(GeometryGetMeshHeader(g), nullptr);
    ASSERT_EQ(GeometryGetNumMorphTargets(g), 1);
    MorphTarget* t = GeometryGetMorphTarget(g, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->parentGeom, g);
    // Positions and normals in one block.
    EXPECT_EQ(MorphTargetGetNormals(t), MorphTargetGetVertices(t) + 5);
    EXPECT_EQ(GeometryGetMorphTarget(g, 1), nullptr);
    for (int32 i = 0; i < 4; ++i) EXPECT_EQ(GeometryGetTriangles(g)[i].matIndex, -1);
    const SurfaceProperties* s = GeometryGetSurfaceProperties(g);
    EXPECT_EQ(s->ambient, 1.0f);
    EXPECT_EQ(s->specular, 1.0f);
    EXPECT_EQ(s->diffuse, 1.0f);

    // A second morph target gets its own positions; without the normals flag
    // there are none.
    Geometry* plain = GeometryCreate(3, 1, 0);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(GeometryAddMorphTarget(plain), 1);
    EXPECT_EQ(MorphTargetGetNormals(GeometryGetMorphTarget(plain, 1)), nullptr);
    EXPECT_NE(MorphTargetGetVertices(GeometryGetMorphTarget(plain, 1)),
              MorphTargetGetVertices(GeometryGetMorphTarget(plain, 0)));

    // One texture set with 0x04 (even beside 0x80), two with 0x80 alone.
    Geometry* one = GeometryCreate(3, 1, GeometryTextured | GeometryTextured2);
    Geometry* two = GeometryCreate(3, 1, GeometryTextured2);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(GeometryGetTexCoords(one, 0), nullptr);
    EXPECT_EQ(GeometryGetTexCoords(one, 1), nullptr);
    EXPECT_NE(GeometryGetTexCoords(two, 0), nullptr);
    EXPECT_NE(GeometryGetTexCoords(two, 1), nullptr);

    for (Geometry* x : {g, plain, one, two}) EXPECT_TRUE(GeometryDestroy(x));
}

TEST_F(Geometries, NoTrianglesMeansNoTriangleArrayAndTheSharedEmptyMeshes) {
    Geometry* g = GeometryCreate(4, 0, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GeometryGetTriangles(g), nullptr);
    ASSERT_EQ(GeometryUnlock(g), g);
    EXPECT_EQ(GeometryGetMeshHeader(g), MeshesEmptyHeader());
    EXPECT_EQ(MeshesEmptyHeader()->numMeshes, 0);
    EXPECT_TRUE(GeometryDestroy(g));
    // Still there for the next one.
    EXPECT_EQ(MeshesEmptyHeader()->numMeshes, 0);
    EXPECT_EQ(MeshesBuild(nullptr, 0, false), MeshesEmptyHeader());
}

TEST_F(Geometries, FailedCreationLeavesNothingBehind) {
    const long before = CountedMemory::live;
    CountedMemory::failMalloc = true;
    EXPECT_EQ(GeometryCreate(100, 50, GeometryPrelit | GeometryNormals | GeometryTextured2), nullptr);
    CountedMemory::failMalloc = false;
    EXPECT_EQ(CountedMemory::live, before);
    EXPECT_EQ(GeometryCreate(-1, 2, 0), nullptr);
}

TEST_F(Geometries, ReferenceCountsOfGeometriesAndTheirMaterials) {
    Geometry* g = GeometryCreate(4, 3, 0);
    Material* m = Colored(10, 20, 30);
    ASSERT_NE(g, nullptr);
    Triangle* t = GeometryGetTriangles(g);
    ASSERT_EQ(TriangleSetMaterial(g, &t[0], m), g);
    ASSERT_EQ(TriangleSetMaterial(g, &t[1], m), g);
    // Appended once; one reference for the slot and one per triangle.
    EXPECT_EQ(GeometryGetNumMaterials(g), 1);
    EXPECT_EQ(MaterialGetRefCount(m), 4);
    EXPECT_EQ(TriangleGetMaterial(g, &t[1]), m);
    EXPECT_EQ(TriangleGetMaterial(g, &t[2]), nullptr);

    // Setting the same material again changes nothing.
    ASSERT_EQ(TriangleSetMaterial(g, &t[0], m), g);
    EXPECT_EQ(MaterialGetRefCount(m), 4);
    // Clearing drops the triangle's reference.
    ASSERT_EQ(TriangleSetMaterial(g, &t[1], nullptr), g);
    EXPECT_EQ(t[1].matIndex, -1);
    EXPECT_EQ(MaterialGetRefCount(m), 3);

    // Another holder (an atomic) keeps the geometry alive.
    EXPECT_EQ(GeometryAddRef(g), g);
    EXPECT_TRUE(GeometryDestroy(g));
    EXPECT_EQ(GeometryGetRefCount(g), 1);
    EXPECT_EQ(MaterialGetRefCount(m), 3);
    EXPECT_TRUE(GeometryDestroy(g));
    EXPECT_EQ(MaterialGetRefCount(m), 1);
    EXPECT_TRUE(MaterialDestroy(m));
}

TEST_F(Geometries, ReplacingATrianglesMaterialReleasesTheOldOne) {
    Geometry* g = GeometryCreate(3, 1, 0);
    Material* a = Colored(1, 0, 0);
    Material* b = Colored(0, 1, 0);
    Triangle* t = GeometryGetTriangles(g);
    TriangleSetMaterial(g, t, a);
    TriangleSetMaterial(g, t, b);
    // a keeps its slot's reference, not the triangle's.
    EXPECT_EQ(MaterialGetRefCount(a), 2);
    EXPECT_EQ(MaterialGetRefCount(b), 3);
    EXPECT_EQ(t->matIndex, 1);
    GeometryDestroy(g);
    EXPECT_EQ(MaterialGetRefCount(a), 1);
    EXPECT_EQ(MaterialGetRefCount(b), 1);
    MaterialDestroy(a);
    MaterialDestroy(b);
}

TEST_F(Geometries, AMaterialReleasedTooOftenIsFreedOnce) {
    Material* m = MaterialCreate();
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(MaterialDestroy(m));
    EXPECT_TRUE(MaterialDestroy(m));
    // Freed twice, the record would come out of the pool twice.
    Material* a = MaterialCreate();
    Material* b = MaterialCreate();
    EXPECT_NE(a, b);
    MaterialDestroy(a);
    MaterialDestroy(b);
}

TEST_F(Geometries, AMaterialOn65535TrianglesOutlivesItsCreatorsRelease) {
    // The pools' first blocks stay: make them before counting.
    MaterialDestroy(MaterialCreate());
    GeometryDestroy(GeometryCreate(3, 1, 0));
    const long before = CountedMemory::live;
    constexpr int32 kTriangles = 65535;
    Geometry* g = GeometryCreate(kTriangles, kTriangles, 0);
    Material* m = Colored(7, 8, 9);
    ASSERT_TRUE(g && m);
    Triangle* t = GeometryGetTriangles(g);
    for (int32 i = 0; i < kTriangles; ++i) {
        TriangleSetVertexIndices(g, t + i, static_cast<uint16>(i), static_cast<uint16>((i + 1) % kTriangles),
                                 static_cast<uint16>((i + 2) % kTriangles));
        ASSERT_EQ(TriangleSetMaterial(g, t + i, m), g);
    }
    // The creator, the slot and every triangle: past what 16 bits can count.
    EXPECT_EQ(MaterialGetRefCount(m), kTriangles + 2);
    EXPECT_TRUE(MaterialDestroy(m));
    EXPECT_EQ(MaterialGetRefCount(m), kTriangles + 1);
    EXPECT_EQ(TriangleGetMaterial(g, t + kTriangles - 1)->color.blue, 9);
    ASSERT_EQ(GeometryUnlock(g), g);
    EXPECT_EQ(MeshHeaderGetMeshes(GeometryGetMeshHeader(g))[0].material, m);
    // The geometry's releases free it, once.
    EXPECT_TRUE(GeometryDestroy(g));
    EXPECT_EQ(CountedMemory::live, before);
}

TEST_F(Geometries, AMaterialHoldsAReferenceToItsTexture) {
    Material* m = MaterialCreate();
    Texture* a = TextureCreate(nullptr);
    Texture* b = TextureCreate(nullptr);
    ASSERT_TRUE(m && a && b);
    EXPECT_EQ(MaterialSetTexture(m, a), m);
    EXPECT_EQ(MaterialGetTexture(m), a);
    EXPECT_EQ(TextureGetRefCount(a), 2);
    // Setting it again keeps one reference, not two, and does not free it.
    MaterialSetTexture(m, a);
    EXPECT_EQ(TextureGetRefCount(a), 2);
    MaterialSetTexture(m, b);
    EXPECT_EQ(TextureGetRefCount(a), 1);
    EXPECT_EQ(TextureGetRefCount(b), 2);
    MaterialSetTexture(m, nullptr);
    EXPECT_EQ(MaterialGetTexture(m), nullptr);
    EXPECT_EQ(TextureGetRefCount(b), 1);
    // The material's last release releases its texture.
    MaterialSetTexture(m, a);
    TextureDestroy(a);
    EXPECT_EQ(TextureGetRefCount(a), 1);
    MaterialDestroy(m);
    // a is gone with it: a new texture may take its record.
    TextureDestroy(b);
    const long live = CountedMemory::live;
    Texture* c = TextureCreate(nullptr);
    EXPECT_EQ(CountedMemory::live, live);
    TextureDestroy(c);
}

TEST_F(Geometries, ModulesDestroyWhatIsStillAliveWhenTheyClose) {
    const long before = CountedMemory::live;
    Geometry* g = GeometryCreate(30, 10, GeometryPrelit | GeometryNormals);
    Material* m = Colored(1, 2, 3);
    for (int32 i = 0; i < 10; ++i) {
        Triangle* t = GeometryGetTriangles(g) + i;
        TriangleSetVertexIndices(g, t, static_cast<uint16>(3 * i), static_cast<uint16>(3 * i + 1),
                                 static_cast<uint16>(3 * i + 2));
        TriangleSetMaterial(g, t, m);
    }
    ASSERT_EQ(GeometryUnlock(g), g);
    EXPECT_GT(CountedMemory::live, before);
    // Neither is destroyed: stopping the engine must free them.
    ASSERT_TRUE(EngineStop());
    ASSERT_TRUE(EngineClose());
    ASSERT_TRUE(EngineTerm());
    EXPECT_EQ(CountedMemory::live, 0);
}

TEST_F(Geometries, BoundingSpheres) {
    Geometry* g = GeometryCreate(1, 0, 0);
    MorphTarget* t = GeometryGetMorphTarget(g, 0);
    MorphTargetGetVertices(t)[0] = V3d{2.0f, -3.0f, 4.0f};
    Sphere s{{9, 9, 9}, 9};
    MorphTargetCalcBoundingSphere(t, &s);
    EXPECT_EQ(s.center.x, 2.0f);
    EXPECT_EQ(s.center.y, -3.0f);
    EXPECT_EQ(s.center.z, 4.0f);
    EXPECT_EQ(s.radius, 0.0f);
    // Computing does not store.
    EXPECT_EQ(MorphTargetGetBoundingSphere(t)->radius, 0.0f);
    GeometryDestroy(g);

    g = GeometryCreate(4, 0, 0);
    t = GeometryGetMorphTarget(g, 0);
    V3d* v = MorphTargetGetVertices(t);
    v[0] = {0, 0, 0};
    v[1] = {4, 0, 0};
    v[2] = {0, 2, 0};
    v[3] = {1, 1, 6};
    MorphTargetCalcBoundingSphere(t, &s);
    // Centre of the box (0..4, 0..2, 0..6); the farthest corner is 14 away squared.
    EXPECT_EQ(s.center.x, 2.0f);
    EXPECT_EQ(s.center.y, 1.0f);
    EXPECT_EQ(s.center.z, 3.0f);
    EXPECT_EQ(s.radius, std::sqrt(14.0f) * 1.0010000467300415f);
    EXPECT_EQ(MorphTargetSetBoundingSphere(t, &s), t);
    EXPECT_EQ(MorphTargetGetBoundingSphere(t)->radius, s.radius);
    GeometryDestroy(g);

    // Nothing to surround.
    g = GeometryCreate(0, 0, 0);
    MorphTargetCalcBoundingSphere(GeometryGetMorphTarget(g, 0), &s);
    EXPECT_EQ(s.radius, 0.0f);
    EXPECT_EQ(s.center.x, 0.0f);
    GeometryDestroy(g);
}

TEST_F(Geometries, LockAddsChangeBitsAndOnlyTrianglesDiscardTheMeshes) {
    Geometry* g = GeometryCreate(4, 2, 0);
    Material* m = Colored(1, 1, 1);
    Triangle* t = GeometryGetTriangles(g);
    TriangleSetVertexIndices(g, &t[0], 0, 1, 2);
    TriangleSetVertexIndices(g, &t[1], 2, 1, 3);
    uint16 a = 9, c = 9;
    TriangleGetVertexIndices(g, &t[1], &a, nullptr, &c);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(c, 3);
    TriangleSetMaterial(g, &t[0], m);
    TriangleSetMaterial(g, &t[1], m);
    ASSERT_EQ(GeometryUnlock(g), g);
    MeshHeader* first = GeometryGetMeshHeader(g);
    ASSERT_NE(first, nullptr);
    const uint16 serial = first->serialNum;

    GeometryLock(g, GeometryLockVertices);
    GeometryLock(g, GeometryLockNormals);
    EXPECT_EQ(GeometryGetLockFlags(g), GeometryLockVertices | GeometryLockNormals);
    EXPECT_EQ(GeometryGetMeshHeader(g), first);
    // Unlock keeps meshes that still hold.
    GeometryUnlock(g);
    EXPECT_EQ(GeometryGetMeshHeader(g), first);

    GeometryLock(g, GeometryLockPolygons);
    EXPECT_EQ(GeometryGetMeshHeader(g), nullptr);
    EXPECT_EQ(GeometryGetLockFlags(g), 0x07);
    ASSERT_EQ(GeometryUnlock(g), g);
    ASSERT_NE(GeometryGetMeshHeader(g), nullptr);
    EXPECT_EQ(GeometryGetMeshHeader(g)->serialNum, static_cast<uint16>(serial + 1));
    // The pipeline clears the bits once it has caught up.
    GeometryClearLockFlags(g);
    EXPECT_EQ(GeometryGetLockFlags(g), 0);
    GeometryDestroy(g);
    MaterialDestroy(m);
}

TEST_F(Geometries, FailedUnlockLeavesNoMeshes) {
    Geometry* g = GeometryCreate(3, 1, 0);
    TriangleSetVertexIndices(g, GeometryGetTriangles(g), 0, 1, 2);
    ErrorLog log;
    CountedMemory::failMalloc = true;
    EXPECT_EQ(GeometryUnlock(g), nullptr);
    CountedMemory::failMalloc = false;
    EXPECT_EQ(GeometryGetMeshHeader(g), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNoMemory));
    EXPECT_EQ(GeometryUnlock(g), g);
    GeometryDestroy(g);
}

class Meshes : public test::GeometryTest {};

TEST_F(Meshes, SweepsTakeVertexDisjointTriangles) {
    Material* m = Colored(5, 5, 5);
    // (2,1,3) shares vertices with (0,1,2) and waits for the second sweep;
    // (4,5,6) shares none and joins the first.
    const BuildMeshTriangle tris[] = {{m, {0, 1, 2}}, {m, {2, 1, 3}}, {m, {4, 5, 6}}};
    MeshHeader* h = MeshesBuild(tris, 3, false);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->flags, kMeshHeaderTriList);
    ASSERT_EQ(h->numMeshes, 1);
    EXPECT_EQ(h->totalIndicesInMesh, 9u);
    const Mesh& mesh = MeshHeaderGetMeshes(h)[0];
    EXPECT_EQ(mesh.material, m);
    EXPECT_EQ(MeshTriangles(mesh), (std::vector<Tri>{{0, 1, 2}, {4, 5, 6}, {2, 1, 3}}));
    EXPECT_EQ(MeshGetPrimitiveType(h), PrimTypeTriList);
    MeshesDestroy(h);

    h = MeshesBuild(tris, 2, false);
    EXPECT_EQ(MeshTriangles(MeshHeaderGetMeshes(h)[0]), (std::vector<Tri>{{0, 1, 2}, {2, 1, 3}}));
    MeshesDestroy(h);
    MaterialDestroy(m);
}

TEST_F(Meshes, OneMeshPerMaterialInDrawingOrder) {
    Material* opaque1 = Colored(9, 9, 9);
    Material* opaque2 = Colored(9, 9, 9);  // same colour, still a material of its own
    Material* blended = Colored(9, 9, 9, 128);
    const BuildMeshTriangle tris[] = {
        {blended, {0, 1, 2}}, {opaque1, {3, 4, 5}}, {nullptr, {6, 7, 8}},
        {opaque2, {0, 4, 8}}, {opaque1, {1, 2, 3}}, {blended, {5, 6, 7}},
    };
    MeshHeader* h = MeshesBuild(tris, 6, false);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->numMeshes, 4);
    EXPECT_EQ(h->totalIndicesInMesh, 18u);
    const Mesh* meshes = MeshHeaderGetMeshes(h);
    // No material first, blended last.
    EXPECT_EQ(meshes[0].material, nullptr);
    EXPECT_EQ(meshes[3].material, blended);
    const std::set<Material*> middle{meshes[1].material, meshes[2].material};
    EXPECT_EQ(middle, (std::set<Material*>{opaque1, opaque2}));
    uint32 sum = 0;
    for (int32 i = 0; i < 4; ++i) {
        EXPECT_EQ(meshes[i].indices, MeshHeaderGetIndexArea(h) + sum);
        sum += meshes[i].numIndices;
    }
    EXPECT_EQ(sum, 18u);
    const Mesh& o1 = meshes[1].material == opaque1 ? meshes[1] : meshes[2];
    EXPECT_EQ(MeshTriangles(o1), (std::vector<Tri>{{3, 4, 5}, {1, 2, 3}}));

    int visited = 0;
    MeshForAll(
        h, [](Mesh* mesh, MeshHeader*, void* d) -> Mesh* { return ++*static_cast<int*>(d) < 2 ? mesh : nullptr; },
        &visited);
    EXPECT_EQ(visited, 2);

    // Each build takes the next serial number.
    MeshHeader* again = MeshesBuild(tris, 6, false);
    EXPECT_EQ(again->serialNum, static_cast<uint16>(h->serialNum + 1));
    MeshesDestroy(again);
    MeshesDestroy(h);
    for (Material* m : {opaque1, opaque2, blended}) MaterialDestroy(m);
}

TEST_F(Meshes, TexturesSortByRasterBeforePipelineAndAlphaRastersBlend) {
    // Records that only carry a format: nothing here asks the device.
    Raster rasters[3] = {};
    rasters[0].rasterFormat = RasterFormat888 >> 8;
    rasters[1].rasterFormat = RasterFormat888 >> 8;
    rasters[2].rasterFormat = RasterFormat8888 >> 8;
    static char pipelines[2];
    auto* p1 = reinterpret_cast<Pipeline*>(&pipelines[0]);
    auto* p2 = reinterpret_cast<Pipeline*>(&pipelines[1]);
    Texture* textures[3];
    for (int i = 0; i < 3; ++i) textures[i] = TextureCreate(&rasters[i]);
    auto textured = [&](int raster, Pipeline* p) {
        Material* m = MaterialCreate();
        MaterialSetTexture(m, textures[raster]);
        MaterialSetPipeline(m, p);
        return m;
    };
    Material* aLate = textured(0, p2);
    Material* bEarly = textured(1, p1);
    Material* aEarly = textured(0, p1);
    Material* alpha = textured(2, p1);
    Material* plain = Colored(1, 1, 1);
    // The raster decides before the pipeline...
    EXPECT_LT(MaterialSortCompare(aLate, bEarly), 0);
    EXPECT_LT(MaterialSortCompare(aEarly, aLate), 0);
    // ... no texture comes first among opaque ones, and an alpha raster
    // blends like a translucent colour.
    EXPECT_LT(MaterialSortCompare(plain, aEarly), 0);
    EXPECT_GT(MaterialSortCompare(alpha, bEarly), 0);
    EXPECT_GT(MaterialSortCompare(alpha, plain), 0);

    const BuildMeshTriangle tris[] = {
        {bEarly, {0, 1, 2}}, {aLate, {3, 4, 5}}, {alpha, {6, 7, 8}}, {aEarly, {0, 4, 8}}, {plain, {1, 2, 3}}};
    MeshHeader* h = MeshesBuild(tris, 5, false);
    ASSERT_NE(h, nullptr);
    const Mesh* meshes = MeshHeaderGetMeshes(h);
    ASSERT_EQ(h->numMeshes, 5);
    const std::vector<Material*> order{meshes[0].material, meshes[1].material, meshes[2].material, meshes[3].material,
                                       meshes[4].material};
    EXPECT_EQ(order, (std::vector<Material*>{plain, aEarly, aLate, bEarly, alpha}));
    MeshesDestroy(h);
    for (Material* m : {aLate, bEarly, aEarly, alpha, plain}) MaterialDestroy(m);
    for (Texture* t : textures) {
        TextureSetRaster(t, nullptr);
        TextureDestroy(t);
    }
}

TEST_F(Meshes, RandomMeshesKeepEveryTriangleAndSweepCorrectly) {
    std::mt19937 rng(7);
    Material* mats[3] = {Colored(1, 1, 1), Colored(2, 2, 2, 100), nullptr};
    std::vector<BuildMeshTriangle> tris(500);
    for (auto& t : tris) {
        t.material = mats[rng() % 3];
        for (uint32& v : t.vertIndex) v = rng() % 60;
    }
    MeshHeader* h = MeshesBuild(tris.data(), static_cast<int32>(tris.size()), false);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->numMeshes, 3);
    for (int32 i = 0; i < 3; ++i) {
        const Mesh& mesh = MeshHeaderGetMeshes(h)[i];
        std::vector<Tri> expected;
        for (const auto& t : tris) {
            if (t.material == mesh.material) expected.push_back({t.vertIndex[0], t.vertIndex[1], t.vertIndex[2]});
        }
        std::vector<Tri> got = MeshTriangles(mesh);
        // Cut the output into sweeps: a sweep ends where the next triangle
        // shares a vertex with it.
        std::vector<std::vector<Tri>> sweeps(1);
        std::set<uint32> used;
        for (const Tri& t : got) {
            if (used.count(t[0]) != 0 || used.count(t[1]) != 0 || used.count(t[2]) != 0) {
                sweeps.emplace_back();
                used.clear();
            }
            used.insert(t.begin(), t.end());
            sweeps.back().push_back(t);
        }
        // A triangle left for a later sweep was refused by the sweep before:
        // it shares a vertex with that sweep.
        for (std::size_t k = 1; k < sweeps.size(); ++k) {
            std::set<uint32> before;
            for (const Tri& t : sweeps[k - 1]) before.insert(t.begin(), t.end());
            for (const Tri& t : sweeps[k]) {
                EXPECT_TRUE(before.count(t[0]) + before.count(t[1]) + before.count(t[2]) > 0)
                    << "sweep " << k << " of mesh " << i;
            }
        }
        EXPECT_GT(sweeps.size(), 1u);
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected);
    }
    MeshesDestroy(h);
    MaterialDestroy(mats[0]);
    MaterialDestroy(mats[1]);
}

// The triangles a strip draws, each rotated to start at its smallest index,
// degenerate ones left out.
std::vector<Tri> StripTriangles(const uint32* s, uint32 n) {
    std::vector<Tri> out;
    for (uint32 i = 0; i + 2 < n; ++i) {
        Tri t = (i & 1) == 0 ? Tri{s[i], s[i + 1], s[i + 2]} : Tri{s[i + 1], s[i], s[i + 2]};
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) continue;
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        out.push_back(t);
    }
    return out;
}

std::vector<Tri> Canonical(const std::vector<BuildMeshTriangle>& tris, const Material* m) {
    std::vector<Tri> out;
    for (const auto& b : tris) {
        if (b.material != m) continue;
        Tri t{b.vertIndex[0], b.vertIndex[1], b.vertIndex[2]};
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        out.push_back(t);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(Meshes, JoiningStripsKeepsTheWinding) {
    const uint32 a[] = {0, 1, 2, 3};  // even length
    const uint32 b[] = {10, 11, 12};
    uint32 out[32];
    uint32 n = StripAppend(out, 0, a, 4);
    ASSERT_EQ(n, 4u);
    n = StripAppend(out, n, b, 3);
    EXPECT_EQ(n, StripJoinedLength(4, 3));
    EXPECT_EQ(std::vector<uint32>(out, out + n), (std::vector<uint32>{0, 1, 2, 3, 3, 10, 10, 11, 12}));
    // Odd length: the next strip's first index three times.
    n = StripAppend(out, n, b, 3);
    EXPECT_EQ(n, StripJoinedLength(9, 3));
    EXPECT_EQ(std::vector<uint32>(out + 9, out + n), (std::vector<uint32>{12, 10, 10, 10, 11, 12}));
    // Every joined strip still draws its own triangles with their winding.
    std::vector<Tri> drawn = StripTriangles(out, n);
    EXPECT_EQ(drawn, (std::vector<Tri>{{0, 1, 2}, {1, 3, 2}, {10, 11, 12}, {10, 11, 12}}));
}

TEST_F(Meshes, StripBuilderDrawsEveryTriangleOnceWithItsWinding) {
    Material* m1 = Colored(1, 1, 1);
    Material* m2 = Colored(2, 2, 2);
    // A 6 x 5 grid of quads, two consistently wound triangles each, the
    // left half in m1 and the right in m2.
    std::vector<BuildMeshTriangle> tris;
    const uint32 w = 7;
    for (uint32 y = 0; y < 5; ++y) {
        for (uint32 x = 0; x < 6; ++x) {
            const uint32 a = y * w + x, b = a + 1, c = a + w, d = c + 1;
            Material* m = x < 3 ? m1 : m2;
            tris.push_back({m, {a, c, b}});
            tris.push_back({m, {b, c, d}});
        }
    }
    // A lone triangle, a degenerate one and three triangles on one edge.
    tris.push_back({m1, {100, 101, 102}});
    tris.push_back({m1, {103, 103, 104}});
    tris.push_back({m2, {200, 201, 202}});
    tris.push_back({m2, {201, 200, 203}});
    tris.push_back({m2, {200, 201, 204}});
    MeshHeader* h = MeshesBuild(tris.data(), static_cast<int32>(tris.size()), true);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->flags, kMeshHeaderTriStrip);
    EXPECT_EQ(MeshGetPrimitiveType(h), PrimTypeTriStrip);
    ASSERT_EQ(h->numMeshes, 2);
    uint32 total = 0;
    for (int32 i = 0; i < 2; ++i) {
        const Mesh& mesh = MeshHeaderGetMeshes(h)[i];
        total += mesh.numIndices;
        std::vector<Tri> drawn = StripTriangles(mesh.indices, mesh.numIndices);
        std::sort(drawn.begin(), drawn.end());
        std::vector<Tri> expected = Canonical(tris, mesh.material);
        // The degenerate triangle draws nothing.
        expected.erase(std::remove_if(expected.begin(), expected.end(), [](const Tri& t) { return t[0] == t[1]; }),
                       expected.end());
        EXPECT_EQ(drawn, expected) << "mesh " << i;
        // Strips through the grid share vertices: far fewer indices than a list.
        EXPECT_LT(mesh.numIndices, 3 * expected.size());
    }
    EXPECT_EQ(h->totalIndicesInMesh, total);
    MeshesDestroy(h);
    MaterialDestroy(m1);
    MaterialDestroy(m2);
}

TEST_F(Meshes, StripsFromAGeometryWithTheStripFlag) {
    std::mt19937 rng(3);
    Geometry* g = GeometryCreate(40, 120, GeometryTriStrip);
    Material* m = Colored(3, 3, 3);
    std::vector<BuildMeshTriangle> tris;
    for (int32 i = 0; i < 120; ++i) {
        Triangle* t = GeometryGetTriangles(g) + i;
        uint16 v[3];
        do {
            for (uint16& x : v) x = static_cast<uint16>(rng() % 40);
        } while (v[0] == v[1] || v[1] == v[2] || v[0] == v[2]);
        TriangleSetVertexIndices(g, t, v[0], v[1], v[2]);
        if (i % 2 == 0) TriangleSetMaterial(g, t, m);
        tris.push_back({i % 2 == 0 ? m : nullptr, {v[0], v[1], v[2]}});
    }
    ASSERT_EQ(GeometryUnlock(g), g);
    const MeshHeader* h = GeometryGetMeshHeader(g);
    ASSERT_EQ(h->flags, kMeshHeaderTriStrip);
    ASSERT_EQ(h->numMeshes, 2);
    for (int32 i = 0; i < 2; ++i) {
        const Mesh& mesh = MeshHeaderGetMeshes(h)[i];
        std::vector<Tri> drawn = StripTriangles(mesh.indices, mesh.numIndices);
        std::sort(drawn.begin(), drawn.end());
        EXPECT_EQ(drawn, Canonical(tris, mesh.material));
    }
    GeometryDestroy(g);
    MaterialDestroy(m);
}

}  // namespace
}  // namespace kv
