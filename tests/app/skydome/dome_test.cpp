// The dome: its tessellation, turning it inside out, its sky colours and the
// buffer behind them, rebuilding it, the viewer in its coordinates and its
// clump.
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "dome_fixture.h"
#include "engine/frame/frame.h"
#include "engine/world/material.h"
#include "engine/world/mesh.h"

namespace kv::test {
namespace {

V3d Cross(const V3d& a, const V3d& b) { return V3dCrossProduct(a, b); }

// Sum over the triangles of (face normal . centroid): the sign of every term
// tells which side the face is wound towards.
int CountOutwardFaces(const Geometry* g) {
    const V3d* p = MorphTargetGetVertices(GeometryGetMorphTarget(g, 0));
    int outward = 0;
    for (int32 i = 0; i < GeometryGetNumTriangles(g); ++i) {
        const uint16* v = GeometryGetTriangles(g)[i].vertIndex;
        const V3d n = Cross(V3dSub(p[v[1]], p[v[0]]), V3dSub(p[v[2]], p[v[0]]));
        const V3d c = V3dScale(V3dAdd(V3dAdd(p[v[0]], p[v[1]]), p[v[2]]), 1.0f / 3.0f);
        outward += V3dDotProduct(n, c) > 0.0f ? 1 : 0;
    }
    return outward;
}

std::vector<RGBA> Prelit(const Geometry* g) {
    const RGBA* c = GeometryGetPrelitColors(g);
    return std::vector<RGBA>(c, c + GeometryGetNumVertices(g));
}

TEST_F(DomeTest, BuildGivesAClosedOutwardHemisphereAtEveryResolution) {
    long baseline = -1;
    for (int32 rings = 1; rings <= kDomeMaxResolution; ++rings) {
        SCOPED_TRACE(rings);
        Geometry* g = DomeBuild(rings);
        ASSERT_NE(g, nullptr);
        const int32 s = 4 * rings, n = rings * s + 1, t = (2 * rings - 1) * s;
        ASSERT_EQ(GeometryGetNumVertices(g), n);
        ASSERT_EQ(GeometryGetNumTriangles(g), t);
        EXPECT_EQ(GeometryGetFlags(g), 0x18u);
        EXPECT_EQ(GeometryGetNumMorphTargets(g), 1);
        ASSERT_EQ(GeometryGetNumMaterials(g), 1);
        Material* m = GeometryGetMaterial(g, 0);
        EXPECT_EQ(*MaterialGetColor(m), (RGBA{255, 255, 255, 255}));
        EXPECT_EQ(MaterialGetTexture(m), nullptr);

        const MorphTarget* target = GeometryGetMorphTarget(g, 0);
        const V3d* p = MorphTargetGetVertices(target);
        const V3d* normals = MorphTargetGetNormals(target);
        const Sphere* sphere = MorphTargetGetBoundingSphere(target);
        for (int32 i = 0; i < n; ++i) {
            EXPECT_NEAR(V3dLength(&p[i]), 1.0f, 1e-6f) << i;
            EXPECT_EQ(std::memcmp(&p[i], &normals[i], sizeof(V3d)), 0) << i;
            EXPECT_EQ(GeometryGetPrelitColors(g)[i], (RGBA{0, 0, 0, 255}));
            const V3d fromCentre = V3dSub(p[i], sphere->center);
            EXPECT_LE(V3dLength(&fromCentre), sphere->radius);
            // Every vertex of a ring at that ring's height.
            if (i < n - 1) {
                EXPECT_EQ(p[i].y, p[(i / s) * s].y) << i;
            }
        }
        EXPECT_EQ(p[0].y, 0.0f);
        EXPECT_EQ(p[n - 1].x, 0.0f);
        EXPECT_EQ(p[n - 1].y, 1.0f);

        // Each edge between two faces is used once in each direction; only the
        // rim of ring 0 borders a single face.
        std::map<std::pair<int, int>, int> directed;
        const Triangle* tris = GeometryGetTriangles(g);
        for (int32 i = 0; i < t; ++i) {
            EXPECT_EQ(tris[i].matIndex, 0);
            for (int e = 0; e < 3; ++e) ++directed[{tris[i].vertIndex[e], tris[i].vertIndex[(e + 1) % 3]}];
        }
        int rim = 0;
        for (const auto& [edge, count] : directed) {
            EXPECT_EQ(count, 1) << edge.first << "-" << edge.second;
            if (directed.count({edge.second, edge.first}) == 0) {
                EXPECT_TRUE(edge.first < s && edge.second < s) << edge.first << "-" << edge.second;
                ++rim;
            }
        }
        EXPECT_EQ(rim, s);
        EXPECT_EQ(CountOutwardFaces(g), t);

        const MeshHeader* meshes = GeometryGetMeshHeader(g);
        ASSERT_NE(meshes, nullptr);
        ASSERT_EQ(meshes->numMeshes, 1);
        EXPECT_EQ(MeshHeaderGetMeshes(meshes)[0].numIndices, static_cast<uint32>(3 * t));
        EXPECT_EQ(MeshHeaderGetMeshes(meshes)[0].material, m);

        if (rings == 1) {
            const uint16 cap[4][3] = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
            for (int i = 0; i < 4; ++i) EXPECT_EQ(std::memcmp(tris[i].vertIndex, cap[i], sizeof cap[i]), 0) << i;
        }
        GeometryDestroy(g);
        // The material and everything else go with the geometry.
        if (baseline < 0) baseline = CountedMemory::live;
        EXPECT_EQ(CountedMemory::live, baseline);
    }
    EXPECT_EQ(DomeBuild(0), nullptr);
    EXPECT_EQ(DomeBuild(kDomeMaxResolution + 1), nullptr);
}

TEST_F(DomeTest, InvertTurnsTheDomeInsideOutAndTwiceRestoresIt) {
    ASSERT_NE(MakeDome(3), nullptr);
    Geometry* g = DomeGeometry();
    const int32 n = GeometryGetNumVertices(g), t = GeometryGetNumTriangles(g);
    const MorphTarget* target = GeometryGetMorphTarget(g, 0);
    const std::vector<V3d> positions(MorphTargetGetVertices(target), MorphTargetGetVertices(target) + n);
    const std::vector<V3d> normals(MorphTargetGetNormals(target), MorphTargetGetNormals(target) + n);
    const std::vector<Triangle> triangles(GeometryGetTriangles(g), GeometryGetTriangles(g) + t);
    const std::vector<RGBA> colours = Prelit(g);
    GeometryClearLockFlags(g);

    DomeInvert();
    EXPECT_EQ(GeometryGetLockFlags(g) & (GeometryLockPolygons | GeometryLockNormals),
              GeometryLockPolygons | GeometryLockNormals);
    EXPECT_EQ(CountOutwardFaces(g), 0);
    for (int32 i = 0; i < n; ++i) {
        EXPECT_EQ(MorphTargetGetNormals(target)[i].y, -normals[i].y);
        EXPECT_EQ(MorphTargetGetVertices(target)[i].y, positions[i].y);
    }
    const uint16* first = GeometryGetTriangles(g)[0].vertIndex;
    EXPECT_EQ(first[0], triangles[0].vertIndex[0]);
    EXPECT_EQ(first[1], triangles[0].vertIndex[2]);
    EXPECT_EQ(first[2], triangles[0].vertIndex[1]);
    // The meshes the pipelines draw follow the new winding.
    const Mesh* mesh = MeshHeaderGetMeshes(GeometryGetMeshHeader(g));
    EXPECT_EQ(mesh->numIndices, static_cast<uint32>(3 * t));
    EXPECT_EQ(CountOutwardFaces(g), 0);
    EXPECT_EQ(Prelit(g), colours);

    DomeInvert();
    EXPECT_EQ(std::memcmp(MorphTargetGetVertices(target), positions.data(), sizeof(V3d) * n), 0);
    EXPECT_EQ(std::memcmp(MorphTargetGetNormals(target), normals.data(), sizeof(V3d) * n), 0);
    EXPECT_EQ(std::memcmp(GeometryGetTriangles(g), triangles.data(), sizeof(Triangle) * t), 0);
    EXPECT_EQ(CountOutwardFaces(g), t);
}

TEST_F(DomeTest, ColoursAreTheSkyModelsForEverySunMoveExposureAndSkySwitch) {
    ASSERT_NE(MakeDome(9), nullptr);
    Atomic* atomic = DomeGetAtomic();
    Geometry* g = DomeGeometry();
    EXPECT_EQ(Prelit(g), ExpectedColours(g, 50.0f, 20.0f, 0.1f));
    // The worked examples: the horizon towards +z is vertex 0, the apex the last.
    EXPECT_EQ(GeometryGetPrelitColors(g)[0], (RGBA{249, 234, 221, 255}));
    EXPECT_EQ(GeometryGetPrelitColors(g)[324], (RGBA{66, 85, 122, 255}));

    // A second move takes the cached path; the buffer holds SkyColor bit for bit.
    SkyMoveSun(10.0f, 100.0f);
    const V3d* p = MorphTargetGetVertices(GeometryGetMorphTarget(g, 0));
    for (int32 i = 0; i < GeometryGetNumVertices(g); ++i) {
        double theta = 0.0, phi = 0.0;
        SkyDirectionAngles(&p[i], &theta, &phi);
        const RGBAReal c = SkyColor(60.0f * kSkyDegToRad, 120.0f * kSkyDegToRad, theta, phi);
        ASSERT_EQ(std::memcmp(&DomeGetColors()[i], &c, sizeof c), 0) << i;
    }
    EXPECT_EQ(Prelit(g), ExpectedColours(g, 60.0f, 120.0f, 0.1f));

    GeometryClearLockFlags(g);
    DomeApplyColors(atomic, false);
    EXPECT_EQ(GeometryGetLockFlags(g) & GeometryLockPrelight, GeometryLockPrelight);
    EXPECT_EQ(Prelit(g), std::vector<RGBA>(325, RGBA{0, 0, 0, 255}));
    DomeGetSettings()->exposure = 0.5f;
    DomeApplyColors(atomic, true);
    EXPECT_EQ(Prelit(g), ExpectedColours(g, 60.0f, 120.0f, 0.5f));
    // With the sky off a sun move leaves the dome black.
    DomeGetSettings()->sky = false;
    SkyMoveSun(-20.0f, 0.0f);
    EXPECT_EQ(Prelit(g), std::vector<RGBA>(325, RGBA{0, 0, 0, 255}));
    DomeApplyColors(atomic, true);
    EXPECT_EQ(Prelit(g), ExpectedColours(g, 40.0f, 120.0f, 0.5f));
}

TEST_F(DomeTest, TessellateRebuildsAtTheMenuResolutionOnly) {
    ASSERT_NE(MakeDome(9), nullptr);
    Geometry* old = DomeGeometry();
    DomeGetSettings()->resolution = 4;
    EXPECT_EQ(DomeGeometry(), old);
    EXPECT_EQ(DomeGetTessellation()->rings, 9);

    ASSERT_TRUE(DomeTessellate());
    Geometry* g = DomeGeometry();
    EXPECT_EQ(GeometryGetNumVertices(g), 65);
    EXPECT_EQ(GeometryGetRefCount(g), 1);
    EXPECT_EQ(DomeGetTessellation()->rings, 4);
    EXPECT_EQ(DomeGetTessellation()->segments, 16);
    EXPECT_EQ(DomeGetColorCapacity(), 325);  // never shrinks
    EXPECT_EQ(Prelit(g), ExpectedColours(g, 50.0f, 20.0f, 0.1f));

    // Rebuilt in preview, it faces the camera inside.
    DomeGetSettings()->preview = true;
    DomeGetSettings()->resolution = 12;
    ASSERT_TRUE(DomeTessellate());
    g = DomeGeometry();
    EXPECT_EQ(DomeGetColorCapacity(), 577);
    EXPECT_EQ(CountOutwardFaces(g), 0);
    EXPECT_EQ(MorphTargetGetNormals(GeometryGetMorphTarget(g, 0))[576].y, -1.0f);
    EXPECT_EQ(Prelit(g), ExpectedColours(g, 50.0f, 20.0f, 0.1f));
    EXPECT_TRUE(messages.empty());
}

TEST_F(DomeTest, TessellationThatCannotGrowTheBufferKeepsTheOldDome) {
    ASSERT_NE(MakeDome(2), nullptr);
    Geometry* old = DomeGeometry();
    const std::vector<RGBA> colours = Prelit(old);
    const RGBAReal* buffer = DomeGetColors();
    const long live = CountedMemory::live;

    DomeGetSettings()->resolution = 6;
    CountedMemory::failRealloc = true;
    EXPECT_FALSE(DomeTessellate());
    CountedMemory::failRealloc = false;
    EXPECT_EQ(messages, std::vector<std::string>{"Tessellation failed."});
    EXPECT_EQ(DomeGeometry(), old);
    EXPECT_EQ(Prelit(old), colours);
    EXPECT_EQ(DomeGetTessellation()->rings, 2);
    EXPECT_EQ(DomeGetColorCapacity(), 17);
    EXPECT_EQ(DomeGetColors(), buffer);
    EXPECT_EQ(CountedMemory::live, live);  // the new geometry went

    // It grows to exactly the new count and never shrinks.
    ASSERT_TRUE(DomeTessellate());
    EXPECT_EQ(DomeGetColorCapacity(), 145);
    buffer = DomeGetColors();
    EXPECT_TRUE(DomeReserveColors(100));
    EXPECT_EQ(DomeGetColorCapacity(), 145);
    EXPECT_EQ(DomeGetColors(), buffer);
}

TEST_F(DomeTest, ViewerIsTheCameraInDomeCoordinates) {
    ASSERT_NE(MakeDome(2), nullptr);
    DomeClumpPlaceOrbit(clump);
    Frame* camera = FrameCreate();
    ASSERT_NE(camera, nullptr);
    DomeSetCameraFrame(camera);
    DomeUpdateViewer();
    V3d q, w;
    DomeGetViewer(&q, &w);
    // The orbit view sees the dome from 45 degrees above its rim, looking at
    // its centre.
    const float h = 4.5f * std::sqrt(0.5f);
    EXPECT_NEAR(q.x, 0.0f, 1e-5f);
    EXPECT_NEAR(q.y, h, 1e-5f);
    EXPECT_NEAR(q.z, h, 1e-5f);
    EXPECT_NEAR(w.x, 0.0f, 1e-6f);
    EXPECT_NEAR(w.y, -std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(w.z, -std::sqrt(0.5f), 1e-6f);

    // A move of the camera is a point's move; its direction stays.
    const V3d step{1.0f, 0.0f, 0.0f};
    FrameTranslate(camera, &step, CombinePostConcat);
    DomeUpdateViewer();
    V3d q2, w2;
    DomeGetViewer(&q2, &w2);
    EXPECT_NEAR(q2.x, -1.0f, 1e-5f);  // turned half round with the dome
    EXPECT_NEAR(q2.y, h, 1e-5f);
    EXPECT_NEAR(w2.y, w.y, 1e-6f);
    DomeSetCameraFrame(nullptr);
    FrameDestroy(camera);
}

TEST_F(DomeTest, ClumpIsBuiltWholeOrNotAtAll) {
    const BBox box{{100.0f, 100.0f, 100.0f}, {-100.0f, -100.0f, -100.0f}};
    World* world = WorldCreate(&box);
    ASSERT_NE(world, nullptr);
    clump = DomeClumpCreate(world, 9);
    ASSERT_NE(clump, nullptr);
    Atomic* atomic = DomeGetAtomic();
    ASSERT_NE(atomic, nullptr);
    EXPECT_EQ(ClumpGetNumAtomics(clump), 1);
    EXPECT_EQ(AtomicGetClump(atomic), clump);
    EXPECT_EQ(FrameGetParent(AtomicGetFrame(atomic)), ClumpGetFrame(clump));
    EXPECT_EQ(AtomicGetFlags(atomic), 5);
    EXPECT_EQ(GeometryGetRefCount(AtomicGetGeometry(atomic)), 1);
    EXPECT_EQ(ClumpGetWorld(clump), world);
    EXPECT_EQ(DomeGetColorCapacity(), 325);
    EXPECT_EQ(DomeGetTessellation()->segments, 36);
    DomeClumpDestroy(clump);
    clump = nullptr;
    EXPECT_EQ(DomeGetAtomic(), nullptr);
    EXPECT_EQ(WorldGetNumClumps(world), 0);

    // A failure at any step leaves nothing behind.
    const long live = CountedMemory::live;
    EXPECT_EQ(DomeClumpCreate(world, 0), nullptr);
    EXPECT_EQ(DomeClumpCreate(world, 40), nullptr);
    EXPECT_EQ(WorldGetNumClumps(world), 0);
    EXPECT_EQ(DomeGetAtomic(), nullptr);
    EXPECT_EQ(CountedMemory::live, live);
    WorldDestroy(world);
}

}  // namespace
}  // namespace kv::test
