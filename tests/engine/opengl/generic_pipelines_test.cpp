// The generic (software) pipelines next to the OpenGL ones on a hidden
// window: the same scenes drawn both ways come out alike, every atomic of a
// shared morphing geometry sees its changes, and immediate mode draws through
// both sets of pipelines.
#include "engine/nodes/generic_pipelines.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/image/png_write.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/nodes/node_generic_instance.h"
#include "engine/opengl/gl_node_immediate.h"
#include "gl_pipelines_fixture.h"

namespace kv::test {
namespace {

using Picture = std::vector<RGBA>;

constexpr RGBA kRed{255, 0, 0, 255};
// The camera shows 128 pixels per unit across and 96 up; world +x is drawn
// left of the centre.
int ScreenX(real x) { return static_cast<int>(std::lround(320 - 128 * x)); }
int ScreenY(real y) { return static_cast<int>(std::lround(240 - 96 * y)); }

class GenPipes : public GlPipesTest {
  protected:
    static void UseGeneric(bool generic) {
        const WorldPipelineSet* g = WorldPipelinesGetGeneric();
        ASSERT_NE(g, nullptr);
        AtomicSetDefaultPipeline(generic ? g->atomic : nullptr);
        WorldSectorSetDefaultPipeline(generic ? g->sector : nullptr);
        MaterialSetDefaultPipeline(generic ? g->material : nullptr);
    }

    // The frame drawn with back faces culled, as the program draws.
    void Draw() {
        ASSERT_EQ(CameraClear(camera, &kClear, ClearImage | ClearZ), camera);
        ASSERT_EQ(CameraBeginUpdate(camera), camera);
        RenderStateSet(StateShadeMode, 2);
        RenderStateSet(StateZTestEnable, 1);
        RenderStateSet(StateZWriteEnable, 1);
        RenderStateSet(StateCullMode, 2);
        EXPECT_EQ(WorldRender(world), world);
        ASSERT_EQ(CameraEndUpdate(camera), camera);
    }

    static Picture Grab() {
        Picture p(kWidth * kHeight);
        gl.ReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
        return p;
    }

    // With KV_SAVE_PICTURES set, the last frame goes to a PNG to look at.
    void SaveIfAsked(const char* file) {
        if (std::getenv("KV_SAVE_PICTURES") != nullptr) {
            EXPECT_TRUE(RasterWritePNG(colour, file));
        }
    }

    // Share of pixels whose channels all lie within `tolerance`; the count of
    // pixels that are not the clear colour in either goes to *covered.
    static double Agreement(const Picture& a, const Picture& b, int tolerance, int* covered = nullptr) {
        int same = 0, drawn = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (Near(a[i], b[i], tolerance)) ++same;
            if (!Near(a[i], kClear, 0) || !Near(b[i], kClear, 0)) ++drawn;
        }
        if (covered != nullptr) *covered = drawn;
        return static_cast<double>(same) / static_cast<double>(a.size());
    }

    // Draws the scene through both sets of pipelines.
    void BothWays(Picture* openGL, Picture* generic, const std::string& name = "") {
        UseGeneric(false);
        Draw();
        *openGL = Grab();
        if (!name.empty()) SaveIfAsked((name + "_opengl.png").c_str());
        UseGeneric(true);
        Draw();
        *generic = Grab();
        if (!name.empty()) SaveIfAsked((name + "_generic.png").c_str());
        UseGeneric(false);
    }

    // A grid as Grid makes it, wound to face the camera: the generic
    // pipelines cull back faces whatever the device's cull mode.
    static Geometry* FrontGrid(int n, uint32 flags, RGBA prelit = {255, 0, 0, 255}, Material* m = nullptr) {
        Geometry* g = Grid(n, flags, prelit, m);
        GeometryLock(g, GeometryLockPolygons);
        for (int32 i = 0; i < GeometryGetNumTriangles(g); ++i) {
            uint16* v = g->triangles[i].vertIndex;
            const uint16 b = v[1];
            v[1] = v[2];
            v[2] = b;
        }
        EXPECT_EQ(GeometryUnlock(g), g);
        return g;
    }

    // A ring of quads around the camera's axis, half of it outside the view,
    // one corner through the near plane: every clip path is taken.
    static Geometry* Tunnel(int n) {
        Geometry* g = GeometryCreate(4 * n, 2 * n, GeometryPrelit);
        EXPECT_NE(g, nullptr);
        V3d* v = g->morphTarget[0].verts;
        Triangle* t = GeometryGetTriangles(g);
        for (int i = 0; i < n; ++i) {
            const real a0 = 6.2831855f * static_cast<real>(i) / static_cast<real>(n);
            const real a1 = 6.2831855f * static_cast<real>(i + 1) / static_cast<real>(n);
            v[4 * i + 0] = V3d{2.5f * std::cos(a0), 2.5f * std::sin(a0), -4.95f};
            v[4 * i + 1] = V3d{2.5f * std::cos(a1), 2.5f * std::sin(a1), -4.95f};
            v[4 * i + 2] = V3d{2.5f * std::cos(a1), 2.5f * std::sin(a1), 10};
            v[4 * i + 3] = V3d{2.5f * std::cos(a0), 2.5f * std::sin(a0), 10};
            // One colour a quad: the software path interpolates colours
            // across the screen, OpenGL across the surface.
            for (int k = 0; k < 4; ++k) {
                g->preLitLum[4 * i + k] =
                    RGBA{static_cast<uint8>(60 + 8 * i), static_cast<uint8>(i * 255 / n), 200, 255};
            }
            const auto b = static_cast<uint16>(4 * i);
            // Facing the axis, where the camera is.
            TriangleSetVertexIndices(g, t++, b, static_cast<uint16>(b + 2), static_cast<uint16>(b + 1));
            TriangleSetVertexIndices(g, t++, b, static_cast<uint16>(b + 3), static_cast<uint16>(b + 2));
        }
        Sphere s{};
        MorphTargetCalcBoundingSphere(&g->morphTarget[0], &s);
        MorphTargetSetBoundingSphere(&g->morphTarget[0], &s);
        EXPECT_EQ(GeometryUnlock(g), g);
        return g;
    }
};

TEST_F(GenPipes, BothSetsAreBuiltAndTheOpenGLOnesAreTheDefaults) {
    const WorldPipelineSet* g = WorldPipelinesGetGeneric();
    ASSERT_TRUE(g && g->atomic && g->sector && g->material);
    EXPECT_NE(g->material, MaterialGetDefaultPipeline());
    const char* material[] = {"Transform.csl", "CullTriangle.csl", "PreLight.csl",      "Light.csl",
                              "PostLight.csl", "ClipTriangle.csl", "SubmitTriangle.csl"};
    ASSERT_EQ(g->material->numNodes, 7);
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(g->material->nodes[i].nodeType->name, material[i]);
    EXPECT_STREQ(g->atomic->nodes[0].nodeType->name, "AtomicInstance.csl");
    EXPECT_STREQ(g->sector->nodes[0].nodeType->name, "WorldSectorInstance.csl");
    EXPECT_STREQ(g->atomic->nodes[2].nodeType->name, "MaterialScatter.csl");
    // Immediate mode: the OpenGL pipelines are current, the generic ones kept.
    EXPECT_STREQ(Im3DGetTransformPipeline()->nodes[1].nodeType->name, "ImmStash.csl");
    EXPECT_STREQ(Im3DGetDefaultTransformPipeline()->nodes[1].nodeType->name, "Transform.csl");
    EXPECT_STREQ(Im3DGetRenderPipeline(PrimTypeLineList)->nodes[1].nodeType->name, "SubmitNoLight.csl");
    EXPECT_EQ(Im3DGetRenderPipeline(PrimTypeLineList), Im3DGetRenderPipeline(PrimTypeTriFan));
    EXPECT_EQ(Im3DGetRenderPipeline(PrimTypePointList), nullptr);
    Pipeline* mine = Im3DGetDefaultRenderPipeline(PrimTypeTriList);
    EXPECT_EQ(Im3DSetRenderPipeline(mine, PrimTypeTriList), mine);
    EXPECT_EQ(Im3DSetRenderPipeline(nullptr, PrimTypeTriList), Im3DGetRenderPipeline(PrimTypeLineList));
}

TEST_F(GenPipes, PrelitAndLitGeometryLookTheSameBothWays) {
    Place(FrontGrid(6, GeometryPrelit, RGBA{200, 60, 30, 255}), V3d{1.2f, 0.3f, 0});
    Material* m = MaterialCreate();
    Place(FrontGrid(8, GeometryNormals | GeometryLight, RGBA{}, m), V3d{-1.3f, -0.2f, 0.5f});
    MaterialDestroy(m);
    AddLight(LightAmbient, RGBAReal{0.2f, 0.2f, 0.3f, 1});
    AddLight(LightDirectional, RGBAReal{0.9f, 0.7f, 0.4f, 1}, V3d{0, 0, 0}, 20);
    Picture a, b;
    BothWays(&a, &b);
    int covered = 0;
    EXPECT_GE(Agreement(a, b, 8, &covered), 0.999);
    EXPECT_GT(covered, 20000);
    // Lit: brighter than the ambient light alone.
    const RGBA lit = Pixel(ScreenX(-1.3f), 240 + 20);
    EXPECT_GT(lit.red, 120);
}

TEST_F(GenPipes, AMaterialsAlphaLeavesTheVerticesAlphaAsItIsBothWays) {
    // Modulation on, a half-transparent white material over opaque white
    // vertices: the vertices stay opaque, whichever pipelines draw them.
    Material* m = MaterialCreate();
    const RGBA half{255, 255, 255, 128};
    MaterialSetColor(m, &half);
    Place(FrontGrid(4, GeometryPrelit | GeometryModulateMaterialColor, RGBA{255, 255, 255, 255}, m));
    MaterialDestroy(m);
    Picture a, b;
    BothWays(&a, &b, "genpipes_material_alpha");
    const RGBA white{255, 255, 255, 255};
    EXPECT_TRUE(Near(a[(kHeight / 2) * kWidth + kWidth / 2], white, 0));
    EXPECT_TRUE(Near(b[(kHeight / 2) * kWidth + kWidth / 2], white, 0));
    int covered = 0;
    EXPECT_GE(Agreement(a, b, 2, &covered), 0.999);
    EXPECT_GT(covered, 20000);
}

TEST_F(GenPipes, AViewOffsetMovesThePictureAlikeBothWays) {
    Place(FrontGrid(6, GeometryPrelit, RGBA{200, 60, 30, 255}), V3d{0.3f, 0.2f, 0});
    Place(Tunnel(16));
    Picture centred, unused;
    BothWays(&centred, &unused);
    for (int32 projection : {ProjectionPerspective, ProjectionParallel}) {
        SCOPED_TRACE(projection);
        ASSERT_NE(CameraSetProjection(camera, projection), nullptr);
        // A parallel view shows as many units across as its window says.
        const V2d view = projection == ProjectionParallel ? V2d{3.0f, 2.25f} : V2d{0.5f, 0.5f};
        CameraSetViewWindow(camera, &view);
        const V2d offset{0.15f, -0.1f};
        ASSERT_NE(CameraSetViewOffset(camera, &offset), nullptr);
        Picture a, b;
        BothWays(&a, &b, projection == ProjectionParallel ? "genpipes_offset_parallel" : "genpipes_offset");
        int covered = 0;
        EXPECT_GE(Agreement(a, b, 8, &covered), 0.99);
        EXPECT_GT(covered, 20000);
        if (projection == ProjectionPerspective) {
            EXPECT_LT(Agreement(a, centred, 8), 0.95) << "the offset moved nothing";
        }
        const V2d none{0, 0};
        CameraSetViewOffset(camera, &none);
    }
    CameraSetProjection(camera, ProjectionPerspective);
    const V2d view{0.5f, 0.5f};
    CameraSetViewWindow(camera, &view);
}

TEST_F(GenPipes, GeometryCutByTheWindowAndTheNearPlaneLooksTheSameBothWays) {
    Place(Tunnel(24));
    Picture a, b;
    BothWays(&a, &b, "genpipes_tunnel");
    int covered = 0;
    EXPECT_GE(Agreement(a, b, 8, &covered), 0.99);
    EXPECT_GT(covered, kWidth * kHeight / 2);
}

TEST_F(GenPipes, GeometryCutByTheFarPlaneLooksTheSameBothWays) {
    // The tunnel reaches 15 units from the camera; the far plane cuts it at 9.
    Place(Tunnel(24));
    Picture whole, unused;
    BothWays(&whole, &unused);
    CameraSetFarClipPlane(camera, 9.0f);
    Picture a, b;
    BothWays(&a, &b, "genpipes_far");
    int covered = 0, wholeCovered = 0;
    EXPECT_GE(Agreement(a, b, 8, &covered), 0.99);
    Agreement(whole, whole, 0, &wholeCovered);
    EXPECT_GT(covered, kWidth * kHeight / 2);
    EXPECT_LT(covered, wholeCovered - 5000) << "the far end was not cut away";
}

TEST_F(GenPipes, ACameraOnPartOfTheWindowDrawsInThatPartBothWays) {
    Raster* sub = RasterCreate(0, 0, 0, RasterTypeCamera);
    ASSERT_NE(sub, nullptr);
    const Rect rect{100, 50, 320, 240};
    ASSERT_NE(RasterSubRaster(sub, colour, &rect), nullptr);
    CameraSetRaster(camera, sub);
    Place(FrontGrid(4, GeometryPrelit, RGBA{30, 200, 90, 255}), V3d{0.4f, -0.3f, 0});
    Picture a, b;
    BothWays(&a, &b, "genpipes_subraster");
    CameraSetRaster(camera, colour);
    RasterDestroy(sub);
    int covered = 0;
    EXPECT_GE(Agreement(a, b, 8, &covered), 0.999);
    EXPECT_GT(covered, 5000);
}

TEST_F(GenPipes, EveryAtomicOfASharedMorphingGeometrySeesEveryChange) {
    for (bool generic : {false, true}) {
        SCOPED_TRACE(generic ? "generic" : "OpenGL");
        UseGeneric(generic);
        Geometry* g = FrontGrid(2, GeometryPrelit, RGBA{255, 0, 0, 255});
        ASSERT_EQ(GeometryAddMorphTarget(g), 1);
        for (int i = 0; i < 4; ++i) g->morphTarget[1].verts[i] = g->morphTarget[0].verts[i];
        GeometryAddRef(g);  // the second atomic's
        Atomic* left = Place(g, V3d{1.5f, 0, 0});
        Atomic* right = Place(g, V3d{-1.5f, 0, 0});
        Render();
        ASSERT_TRUE(left->instanceEntry && right->instanceEntry);
        EXPECT_TRUE(Near(Pixel(ScreenX(1.5f), ScreenY(0)), RGBA{255, 0, 0, 255}));
        EXPECT_TRUE(Near(Pixel(ScreenX(-1.5f), ScreenY(0)), RGBA{255, 0, 0, 255}));

        // Both atomics follow a change of colour, then one of shape.
        GeometryLock(g, GeometryLockPrelight);
        for (int i = 0; i < 4; ++i) g->preLitLum[i] = RGBA{0, 0, 255, 255};
        GeometryUnlock(g);
        Render();
        EXPECT_TRUE(Near(Pixel(ScreenX(1.5f), ScreenY(0)), RGBA{0, 0, 255, 255}));
        EXPECT_TRUE(Near(Pixel(ScreenX(-1.5f), ScreenY(0)), RGBA{0, 0, 255, 255}));
        GeometryLock(g, GeometryLockVertices);
        for (int t = 0; t < 2; ++t) {
            for (int i = 0; i < 4; ++i) g->morphTarget[t].verts[i].y += 1.5f;
        }
        GeometryUnlock(g);
        Render();
        for (real x : {1.5f, -1.5f}) {
            EXPECT_TRUE(Near(Pixel(ScreenX(x), ScreenY(0)), kClear)) << x;
            EXPECT_TRUE(Near(Pixel(ScreenX(x), ScreenY(1.5f)), RGBA{0, 0, 255, 255})) << x;
        }
        for (Clump* c : clumps) {
            WorldRemoveClump(world, c);
            ClumpDestroy(c);
        }
        clumps.clear();
    }
}

TEST_F(GenPipes, SectorStripsBecomeTriangleListsWithTheirPlanes) {
    auto* sector = reinterpret_cast<WorldSector*>(WorldGetRootSector(world));
    // A quad as one strip, facing the camera, and an unindexed run beside it.
    std::vector<V3d> verts = {{1, 1, 0}, {1, -1, 0}, {-1, 1, 0}, {-1, -1, 0}};
    std::vector<RGBA> colours = {kRed, RGBA{0, 255, 0, 255}, RGBA{0, 0, 255, 255}, kRed};
    sector->vertices = verts.data();
    sector->preLitColors = colours.data();
    sector->numVertices = 4;
    MeshesDestroy(sector->meshes);
    sector->meshes = MeshHeaderCreate(1, 4, kMeshHeaderTriStrip);
    ASSERT_NE(sector->meshes, nullptr);
    Mesh* mesh = MeshHeaderGetMeshes(sector->meshes);
    mesh->indices = MeshHeaderGetIndexArea(sector->meshes);
    mesh->numIndices = 4;
    for (uint32 k = 0; k < 4; ++k) mesh->indices[k] = k;
    WorldSetFlags(world, GeometryPrelit);
    Picture a, b;
    BothWays(&a, &b, "genpipes_sector");
    int covered = 0;
    EXPECT_GE(Agreement(a, b, 8, &covered), 0.999);
    EXPECT_GT(covered, 40000);
    UseGeneric(true);
    Draw();
    UseGeneric(false);
    ASSERT_NE(sector->instanceEntry, nullptr);
    const GenInstance* cache = GenInstanceFromEntry(sector->instanceEntry);
    ASSERT_NE(cache, nullptr);
    const GenInstanceMesh& m = cache->meshes[0];
    ASSERT_EQ(m.numIndices, 6u);
    const uint32 expected[] = {0, 1, 2, 2, 1, 3};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(m.indices[k], expected[k]) << k;
    ASSERT_NE(m.planes, nullptr);
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(m.planes[t].x, 0);
        EXPECT_EQ(m.planes[t].z, -127);  // towards the camera
        EXPECT_FLOAT_EQ(m.planes[t].distance, 0.0f);
    }
    sector->vertices = nullptr;
    sector->preLitColors = nullptr;
    sector->numVertices = 0;
}

TEST_F(GenPipes, EachSetOfPipelinesKeepsItsOwnCache) {
    Geometry* g = FrontGrid(3, GeometryPrelit);
    Place(g);
    Render();
    ASSERT_NE(g->instanceEntry, nullptr);
    EXPECT_EQ(GenInstanceFromEntry(g->instanceEntry), nullptr);
    EXPECT_TRUE(GlInstanceOwnsEntry(g->instanceEntry));
    UseGeneric(true);
    Render();
    ASSERT_NE(g->instanceEntry, nullptr);
    const GenInstance* cache = GenInstanceFromEntry(g->instanceEntry);
    ASSERT_NE(cache, nullptr);
    EXPECT_FALSE(GlInstanceOwnsEntry(g->instanceEntry));
    EXPECT_EQ(cache->meshes[0].numIndices, 24u);
    EXPECT_TRUE(Near(Centre(), kRed));
}

// Immediate mode through both sets of pipelines.
class Im3DGl : public GenPipes {
  protected:
    void Begin() {
        ASSERT_EQ(CameraClear(camera, &kClear, ClearImage | ClearZ), camera);
        ASSERT_EQ(CameraBeginUpdate(camera), camera);
        RenderStateSet(StateCullMode, 2);
        RenderStateSet(StateTextureRaster, 0);
    }
    void End() { ASSERT_EQ(CameraEndUpdate(camera), camera); }
    static void UseGenericIm3D(bool generic) {
        Im3DSetTransformPipeline(generic ? Im3DGetDefaultTransformPipeline() : nullptr);
        for (int32 t = PrimTypeLineList; t <= PrimTypeTriFan; ++t) {
            Im3DSetRenderPipeline(generic ? Im3DGetDefaultRenderPipeline(t) : nullptr, t);
        }
    }
    static Im3DVertex V(real x, real y, RGBA c) { return Im3DVertex{V3d{x, y, 0}, V3d{0, 0, -1}, c, 0, 0}; }
};

TEST_F(Im3DGl, OpenGLPipelinesDrawTheCallersVerticesOnePerIndex) {
    Im3DVertex v[] = {V(1, 1, kRed), V(1, -1, kRed), V(-1, -1, kRed), V(-1, 1, kRed)};
    const uint32 indices[] = {0, 1, 2, 0, 2, 3};
    Begin();
    ASSERT_NE(Im3DTransform(v, 4, nullptr, Im3DTransformNoAlpha), nullptr);
    // The caller's array itself is stashed: OpenGL transforms it.
    EXPECT_EQ(Im3DModuleGet()->request.batch.objVertices, v);
    EXPECT_EQ(Im3DModuleGet()->request.batch.camVertices, nullptr);
    GlLogStart();
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeTriList, indices, 6));
    EXPECT_EQ(GlLogCount(GlIndexVertex3fv), 6);
    EXPECT_EQ(GlLogCount(GlIndexBegin), 1);
    GlLogClear();
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriFan));
    EXPECT_EQ(GlLogCount(GlIndexVertex3fv), 4);
    GlLogStop();
    EXPECT_TRUE(Im3DEnd());
    End();
    EXPECT_TRUE(Near(Centre(), kRed));
}

TEST_F(Im3DGl, AFlatTriangleCutAtTheWindowEdgeKeepsItsColourBothWays) {
    const RGBA a{255, 0, 0, 255}, b{0, 255, 0, 255}, c{0, 0, 255, 255};
    // The third vertex, which colours the flat triangle, is off the left of
    // the window (world +x is drawn on the left).
    Im3DVertex v[] = {V(-1, -1, a), V(-1, 1, b), V(4, 0, c)};
    Picture pictures[2];
    for (bool generic : {false, true}) {
        UseGenericIm3D(generic);
        Begin();
        RenderStateSet(StateShadeMode, 1);
        RenderStateSet(StateCullMode, 1);
        ASSERT_NE(Im3DTransform(v, 3, nullptr, Im3DTransformNoAlpha), nullptr);
        ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
        Im3DEnd();
        RenderStateSet(StateShadeMode, 2);
        End();
        pictures[generic ? 1 : 0] = Grab();
    }
    UseGenericIm3D(false);
    int covered = 0, blue = 0;
    for (const RGBA& p : pictures[1]) {
        if (Near(p, kClear, 0)) continue;
        ++covered;
        if (Near(p, c, 0)) ++blue;
    }
    EXPECT_GT(covered, 10000);
    EXPECT_EQ(blue, covered);
    EXPECT_GE(Agreement(pictures[0], pictures[1], 8), 0.999);
}

TEST_F(Im3DGl, LinesAndTrianglesLookTheSameThroughBothSetsOfPipelines) {
    std::vector<Im3DVertex> v;
    for (int i = 0; i < 40; ++i) {
        const real a = 6.2831855f * static_cast<real>(i) / 40.0f;
        const auto shade = static_cast<uint8>(100 + 3 * i);
        // A fan that reaches past the window and behind the camera.
        v.push_back(Im3DVertex{V3d{4 * std::cos(a), 3 * std::sin(a), 6 * std::sin(2 * a)}, V3d{},
                               RGBA{shade, 80, static_cast<uint8>(255 - shade), 255}, 0, 0});
    }
    std::vector<uint32> lines;
    for (uint32 i = 0; i < 40; ++i) {
        lines.push_back(i);
        lines.push_back((i * 7 + 3) % 40);
    }
    Picture pictures[2];
    for (bool generic : {false, true}) {
        UseGenericIm3D(generic);
        Begin();
        ASSERT_NE(Im3DTransform(v.data(), 40, nullptr, Im3DTransformNoAlpha), nullptr);
        ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriFan));
        ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeLineList, lines.data(), 80));
        Im3DEnd();
        End();
        pictures[generic ? 1 : 0] = Grab();
    }
    UseGenericIm3D(false);
    int covered = 0;
    EXPECT_GE(Agreement(pictures[0], pictures[1], 8, &covered), 0.99);
    EXPECT_GT(covered, 20000);
    SaveIfAsked("im3d_generic.png");
}

}  // namespace
}  // namespace kv::test
