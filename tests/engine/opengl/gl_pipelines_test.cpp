// Atomics and world sectors drawn through the OpenGL default pipelines: what
// reaches the screen, what the instance cache keeps between frames, lights,
// and what each mesh's packet carries to its material's pipeline.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/image/image.h"
#include "engine/image/png_write.h"
#include "engine/image/texture.h"
#include "gl_pipelines_fixture.h"

namespace kv::test {
namespace {

using GlPipes = GlPipesTest;

constexpr RGBA kRed{255, 0, 0, 255};
constexpr RGBA kBlack{0, 0, 0, 255};
constexpr RGBAReal kWhite{1, 1, 1, 1};
// The camera shows 128 pixels per unit across and 96 up; the engine's right
// axis is mirrored on screen, so world +x is drawn left of the centre.
int ScreenX(real x) { return static_cast<int>(std::lround(320 - 128 * x)); }
int ScreenY(real y) { return static_cast<int>(std::lround(240 - 96 * y)); }

TEST_F(GlPipes, DefaultPipelinesAreTheOpenGLOnes) {
    Pipeline* atomic = AtomicGetDefaultPipeline();
    Pipeline* sector = WorldSectorGetDefaultPipeline();
    Pipeline* material = MaterialGetDefaultPipeline();
    ASSERT_TRUE(atomic && sector && material);
    EXPECT_STREQ(material->nodes[0].nodeType->name, "OpenGLSubmitWithLight.csl");
    for (auto [p, instance, listingName] :
         {std::tuple{atomic, "AtomicInstance.csl", "AtomicEnumerateLights.csl"},
          std::tuple{sector, "WorldSectorInstance.csl", "WorldSectorEnumerateLights.csl"}}) {
        ASSERT_EQ(p->locked, 0);
        ASSERT_EQ(p->numNodes, 3);
        EXPECT_STREQ(p->nodes[0].nodeType->name, instance);
        const PipelineNode* listing = PipelineFindNode(p, listingName, nullptr);
        ASSERT_NE(listing, nullptr);
        // Both instance outputs lead to the light listing.
        EXPECT_EQ(p->nodes[0].outputs[0], listing - p->nodes);
        EXPECT_EQ(p->nodes[0].outputs[1], listing - p->nodes);
        const NodeType* scatter = PipelineFindNode(p, "MaterialScatter.csl", nullptr)->nodeType;
        EXPECT_EQ(scatter->numClusters, 8);
        EXPECT_EQ(scatter->clusters[6].clusterType, &clusterOpenGLExtensionData);
        EXPECT_EQ(scatter->clusters[7].clusterType, &clusterUVs);
    }
}

TEST_F(GlPipes, PrelitGeometryIsDrawnWhereItStands) {
    Place(Grid(2, GeometryPrelit), V3d{1.5f, 0, 0});
    while (gl.GetError() != GL_NO_ERROR) {
    }
    GlLogStart();
    Render();
    EXPECT_EQ(GlLogCount(GlIndexDrawElements), 1);
    EXPECT_EQ(GlLogCount(GlIndexDrawArrays), 0);
    EXPECT_TRUE(Near(Pixel(ScreenX(1.5f), ScreenY(0)), kRed));
    EXPECT_TRUE(Near(Pixel(ScreenX(-1.5f), ScreenY(0)), kClear));
    EXPECT_EQ(gl.GetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GlPipes, InstanceCacheIsReusedUntilTheGeometryChanges) {
    Geometry* g = Grid(2, GeometryPrelit);
    Place(g);
    Render();
    ResEntry* entry = g->instanceEntry;
    ASSERT_NE(entry, nullptr);
    GlInstance* cache = GlInstanceFromEntry(entry);
    EXPECT_EQ(cache->serialNum, g->mesh->serialNum);
    EXPECT_EQ(GeometryGetLockFlags(g), 0);
    const auto paint = [&](RGBA c) {
        for (int32 i = 0; i < cache->numVertices; ++i) cache->vertices[i].colour = c;
    };

    // Frames that change nothing draw what the cache holds.
    const RGBA blue{0, 0, 255, 255};
    paint(blue);
    Render();
    Render();
    EXPECT_EQ(g->instanceEntry, entry);
    EXPECT_TRUE(Near(Centre(), blue));

    // Changed prelit colours are laid out again.
    GeometryLock(g, GeometryLockPrelight);
    for (int32 i = 0; i < 4; ++i) g->preLitLum[i] = RGBA{0, 255, 0, 255};
    GeometryUnlock(g);
    Render();
    EXPECT_EQ(g->instanceEntry, entry);
    EXPECT_TRUE(Near(Centre(), RGBA{0, 255, 0, 255}));
    EXPECT_EQ(GeometryGetLockFlags(g), 0);

    // Moved vertices refresh positions alone.
    paint(blue);
    GeometryLock(g, GeometryLockVertices);
    for (int32 i = 0; i < 4; ++i) g->morphTarget[0].verts[i].x += 1.5f;
    GeometryUnlock(g);
    Render();
    EXPECT_FLOAT_EQ(cache->vertices[0].position.x, 0.5f);
    EXPECT_TRUE(cache->vertices[0].colour == blue);
    EXPECT_TRUE(Near(Centre(), kClear));
    EXPECT_TRUE(Near(Pixel(ScreenX(1.5f), ScreenY(0)), blue));

    // New meshes (a new serial number) build a new cache.
    GeometryLock(g, GeometryLockPolygons);
    GeometryUnlock(g);
    Render();
    ASSERT_NE(g->instanceEntry, nullptr);
    EXPECT_EQ(GlInstanceFromEntry(g->instanceEntry)->serialNum, g->mesh->serialNum);
    EXPECT_TRUE(Near(Pixel(ScreenX(1.5f), ScreenY(0)), RGBA{0, 255, 0, 255}));
}

// No vertex-array-range memory exists here: the arena is laid over plain
// memory to follow the copy.
TEST_F(GlPipes, RangeCopyIsDrawnUntilSoftwareLightsWriteTheVertices) {
    std::vector<uint8> memory(1 << 16);
    GlDeviceState* d = GlDevice();
    // The device must not hand this memory back to OpenGL when it stops.
    struct Restore {
        GlDeviceState* d;
        ~Restore() {
            d->hasArena = false;
            d->arena = VertexArena{};
        }
    } restore{d};
    ASSERT_TRUE(VertexArenaInit(&d->arena, memory.data(), memory.size()));
    d->hasArena = true;
    Geometry* g = Grid(3, GeometryPrelit | GeometryNormals | GeometryLight);
    Place(g);
    Render();
    GlInstance* cache = GlInstanceFromEntry(g->instanceEntry);
    ASSERT_NE(cache->rangeCopy, nullptr);
    EXPECT_EQ(std::memcmp(cache->rangeCopy, cache->vertices, 9 * sizeof(ObjSpace3DVertex)), 0);
    EXPECT_TRUE(Near(Centre(), kRed));
    auto* copy = reinterpret_cast<ObjSpace3DVertex*>(cache->rangeCopy);
    for (int32 i = 0; i < 9; ++i) copy[i].colour = RGBA{0, 0, 255, 255};
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{0, 0, 255, 255}));

    // Lit in software, the packet's own vertices are drawn.
    LightSetRadius(AddLight(LightPoint, RGBAReal{0, 1, 0, 1}, V3d{0, 0, -1}), 2.0f);
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{255, 127, 0, 255}));

    // The copy goes back to the arena with the cache.
    ResourcesFreeEntry(g->instanceEntry);
    EXPECT_EQ(d->arena.first->flags & 1, 0u);
    EXPECT_EQ(d->arena.first->next, nullptr);
}

TEST_F(GlPipes, MorphTargetsBlendOnACacheOfTheAtomic) {
    Geometry* g = Grid(2, GeometryPrelit);
    ASSERT_EQ(GeometryAddMorphTarget(g), 1);
    for (int32 i = 0; i < 4; ++i) {
        g->morphTarget[1].verts[i] = V3dAdd(g->morphTarget[0].verts[i], V3d{3, 0, 0});
    }
    Atomic* a = Place(g);
    AtomicSetMorphTargets(a, 0, 1, 2.0f);
    AtomicSetMorphPosition(a, 0.0f);
    Render();
    EXPECT_EQ(g->instanceEntry, nullptr);
    ASSERT_NE(a->instanceEntry, nullptr);
    EXPECT_TRUE(Near(Centre(), kRed));

    AtomicSetMorphPosition(a, 1.0f);  // halfway: three halves to the side
    Render();
    EXPECT_FLOAT_EQ(GlInstanceFromEntry(a->instanceEntry)->vertices[0].position.x, 0.5f);
    EXPECT_TRUE(Near(Centre(), kClear));
    EXPECT_TRUE(Near(Pixel(ScreenX(1.5f), ScreenY(0)), kRed));
}

TEST_F(GlPipes, MaterialColourModulatesEachMeshOfALitGeometry) {
    Material* red = MaterialCreate();
    Material* green = MaterialCreate();
    const RGBA r{255, 0, 0, 255}, gr{0, 255, 0, 255};
    MaterialSetColor(red, &r);
    MaterialSetColor(green, &gr);
    Geometry* g = Grid(3, GeometryNormals | GeometryLight | GeometryModulateMaterialColor, kBlack, red);
    // The cells at x > 0 take the green material.
    for (int32 t : {2, 3, 6, 7}) TriangleSetMaterial(g, g->triangles + t, green);
    GeometryLock(g, GeometryLockPolygons);
    GeometryUnlock(g);
    MaterialDestroy(red);
    MaterialDestroy(green);
    Place(g);
    AddLight(LightDirectional, kWhite);
    GlLogStart();
    Render();
    EXPECT_EQ(GlLogCount(GlIndexDrawElements), 2);
    EXPECT_TRUE(Near(Pixel(ScreenX(-0.5f), ScreenY(0.5f)), r));
    EXPECT_TRUE(Near(Pixel(ScreenX(0.5f), ScreenY(0.5f)), gr));
}

TEST_F(GlPipes, TexturedMeshesSampleTheRasterTheirTextureNames) {
    Raster* raster = RasterCreate(2, 2, 0, RasterTypeTexture);
    ASSERT_NE(raster, nullptr);
    uint8* pixels = RasterLock(raster, 0, RasterLockWrite);
    ASSERT_NE(pixels, nullptr);
    for (int32 i = 0; i < 4; ++i) std::memcpy(pixels + 4 * i, "\x00\xff\x00\xff", 4);
    RasterUnlock(raster);
    Texture* texture = TextureCreate(raster);
    ASSERT_NE(texture, nullptr);
    Material* m = MaterialCreate();
    MaterialSetTexture(m, texture);
    TextureDestroy(texture);
    Geometry* g = Grid(2, GeometryPrelit | GeometryTextured, RGBA{255, 255, 255, 255}, m);
    MaterialDestroy(m);
    for (int32 i = 0; i < 4; ++i) g->texCoords[0][i] = TexCoords{real(i % 2), real(i / 2)};
    Place(g);
    GlLogStart();
    Render();
    EXPECT_GE(GlLogCount(GlIndexTexCoordPointer), 1);
    EXPECT_TRUE(Near(Centre(), RGBA{0, 255, 0, 255}));  // white vertices modulate the texel

    // Without a reader the mesh is drawn untextured.
    MeshStateSetTextureReader(nullptr);
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{255, 255, 255, 255}));
}

// Pictures read through an image format of the test's own, from (empty)
// files on the search path.
Image* QuadrantsPicture(const char*) {
    // 4 x 4: red, green / blue, yellow in 2 x 2 blocks, rows from the top.
    const RGBA colours[4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255}};
    Image* image = ImageCreate(4, 4, 32);
    if (image == nullptr || ImageAllocatePixels(image) == nullptr) return nullptr;
    for (int32 y = 0; y < 4; ++y) {
        for (int32 x = 0; x < 4; ++x) {
            std::memcpy(image->pixels + y * image->stride + 4 * x, &colours[(y / 2) * 2 + x / 2], 4);
        }
    }
    return image;
}

TEST_F(GlPipes, ATextureReadByNameIsDrawnWithItsOwnSampling) {
    char pattern[] = "/tmp/kvglpipes.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::fclose(std::fopen((dir + "/quadrants.kvt").c_str(), "wb"));
    ASSERT_TRUE(ImageRegisterImageFormat("kvt", QuadrantsPicture, nullptr));
    ASSERT_NE(ImageSetPath((dir + "/").c_str()), nullptr);

    Texture* texture = TextureRead("quadrants", nullptr);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(RasterGetFormat(TextureGetRaster(texture)) & kRasterFormatPixelMask, RasterFormat888);
    TextureSetFilterMode(texture, 1);
    TextureSetAddressU(texture, 3);
    Material* m = MaterialCreate();
    MaterialSetTexture(m, texture);
    TextureDestroy(texture);
    Geometry* g = Grid(2, GeometryPrelit | GeometryTextured, RGBA{255, 255, 255, 255}, m);
    for (int32 i = 0; i < 4; ++i) g->texCoords[0][i] = TexCoords{real(i % 2), real(i / 2)};
    Place(g);
    Render();
    // World +x is drawn on the left; v = 0 (the picture's top row) at y = -1.
    const RGBA red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, yellow{255, 255, 0, 255};
    EXPECT_TRUE(Near(Pixel(ScreenX(-0.5f), ScreenY(-0.5f)), red));
    EXPECT_TRUE(Near(Pixel(ScreenX(0.5f), ScreenY(-0.5f)), green));
    EXPECT_TRUE(Near(Pixel(ScreenX(-0.5f), ScreenY(0.5f)), blue));
    EXPECT_TRUE(Near(Pixel(ScreenX(0.5f), ScreenY(0.5f)), yellow));
    // Nearest sampling: no blend where the quadrants meet.
    const RGBA edge = Pixel(ScreenX(-0.02f), ScreenY(-0.5f));
    EXPECT_TRUE(Near(edge, red) || Near(edge, green));
    if (const char* out = std::getenv("KV_SAVE_FRAMES")) {
        RasterWritePNG(colour, (std::string(out) + "/textured_quad.png").c_str());
    }

    // The packet carried the texture's own settings.
    MaterialSetPipeline(m, RecordingPipeline());
    seen.clear();
    Render();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].render.textureRaster, TextureGetRaster(texture));
    EXPECT_EQ(seen[0].render.filter, 1);
    EXPECT_EQ(seen[0].render.addressU, 3);
    EXPECT_EQ(seen[0].render.addressV, 1);
    MaterialDestroy(m);
    std::remove((dir + "/quadrants.kvt").c_str());
    rmdir(dir.c_str());
}

TEST_F(GlPipes, DirectionalAndAmbientLightsShadeTheSurface) {
    Place(Grid(2, GeometryNormals | GeometryLight));
    gl.Enable(GL_LIGHT3);  // left on by someone else
    Render();
    EXPECT_TRUE(Near(Centre(), kBlack));  // unlit, not prelit
    EXPECT_FALSE(gl.IsEnabled(GL_LIGHT3));

    Light* sun = AddLight(LightDirectional, kWhite);
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{255, 255, 255, 255}));

    // Light at 60 degrees to the normal: half as bright.
    const V3d up{0, 1, 0};
    FrameRotate(LightGetFrame(sun), &up, 60.0f, CombineReplace);
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{128, 128, 128, 255}, 3));

    AddLight(LightAmbient, RGBAReal{0.25f, 0.25f, 0.25f, 1});
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{191, 191, 191, 255}, 3));
}

TEST_F(GlPipes, PrelitColoursGlowUnderHardwareLights) {
    Material* magenta = MaterialCreate();
    const RGBA c{255, 0, 255, 255};
    MaterialSetColor(magenta, &c);
    Place(Grid(2, GeometryPrelit | GeometryNormals | GeometryLight | GeometryModulateMaterialColor, RGBA{64, 0, 0, 255},
               magenta));
    MaterialDestroy(magenta);
    AddLight(LightDirectional, kWhite, V3d{0, 0, 0}, 60.0f);
    Render();
    // Emission from the vertices plus the diffuse term of the material colour.
    EXPECT_TRUE(Near(Centre(), RGBA{192, 0, 128, 255}, 3));
}

TEST_F(GlPipes, HardwareLightsBeyondOpenGLsLimitAreLeftOut) {
    GLint max = 0;
    gl.GetIntegerv(GL_MAX_LIGHTS, &max);
    ASSERT_GE(max, 2);
    Place(Grid(2, GeometryNormals | GeometryLight));
    for (GLint i = 0; i <= max; ++i) AddLight(LightDirectional, RGBAReal{0.1f, 0.1f, 0.1f, 1});
    GlLogStart();
    Render();
    // Four parameters a directional light.
    EXPECT_EQ(GlLogCount(GlIndexLightfv), 4 * max);
    EXPECT_TRUE(gl.IsEnabled(static_cast<GLenum>(GL_LIGHT0 + max - 1)));
    const int lit = static_cast<int>(std::lround(max * 25.5));
    EXPECT_TRUE(Near(Centre(), RGBA{uint8(lit), uint8(lit), uint8(lit), 255}, 3));

    // A later mesh with fewer lights turns the others off.
    for (std::size_t i = 1; i < lights.size(); ++i) WorldRemoveLight(world, lights[i]);
    Render();
    EXPECT_TRUE(gl.IsEnabled(GL_LIGHT0));
    EXPECT_FALSE(gl.IsEnabled(GL_LIGHT1));
    EXPECT_FALSE(gl.IsEnabled(static_cast<GLenum>(GL_LIGHT0 + max - 1)));
}

TEST_F(GlPipes, HardwarePointAndSpotLightsAttenuateAndCut) {
    Place(Grid(9, GeometryNormals | GeometryLight));
    Light* point = AddLight(LightPointHW, kWhite, V3d{0, 0, -1});
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{255, 255, 255, 255}));
    ASSERT_NE(LightSetAttenuation(point, 1.0f, 0.0f, 1.0f), nullptr);
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{128, 128, 128, 255}, 3));

    WorldRemoveLight(world, point);
    Light* spot = AddLight(LightSpotHW, kWhite, V3d{0, 0, -1});
    LightSetConeAngle(spot, 0.5f);  // about 29 degrees
    Render();
    EXPECT_TRUE(Near(Centre(), RGBA{255, 255, 255, 255}));
    EXPECT_TRUE(Near(Pixel(ScreenX(0.75f), ScreenY(0.75f)), kBlack));  // 47 degrees off the axis
}

TEST_F(GlPipes, SoftwareLocalLightsLightAPacketCopyOfTheVertices) {
    Geometry* g = Grid(9, GeometryNormals | GeometryLight);
    Place(g);
    Light* point = AddLight(LightPoint, kWhite, V3d{0, 0, -1});
    LightSetRadius(point, 2.0f);
    Render();
    // (1/distance - 1/radius) x (d . n) x 255 at the vertices.
    EXPECT_TRUE(Near(Centre(), RGBA{127, 127, 127, 255}));
    EXPECT_TRUE(Near(Pixel(ScreenX(1), ScreenY(1)), RGBA{19, 19, 19, 255}));
    const GlInstance* cache = GlInstanceFromEntry(g->instanceEntry);
    EXPECT_TRUE(cache->vertices[40].colour == kBlack);

    // A light that does not light atomics is not listed.
    LightSetFlags(point, kLightLightsWorld);
    Render();
    EXPECT_TRUE(Near(Centre(), kBlack));
}

TEST(LocalLight, ReachConeAndSoftEdge) {
    LocalLight l{LightPoint, V3d{0, 0, 0}, V3d{0, 0, 1}, 2.0f, -std::cos(0.5236f), 255, 255, 255};
    const V3d towards{0, 0, -1};
    EXPECT_FLOAT_EQ(LocalLightAmount(l, V3d{0, 0, 1}, towards), 0.5f);
    EXPECT_EQ(LocalLightAmount(l, V3d{0, 0, 1}, V3d{0, 0, 1}), 0.0f);  // facing away
    EXPECT_EQ(LocalLightAmount(l, V3d{0, 0, 2.5f}, towards), 0.0f);    // out of reach
    // A 30-degree spot lights the axis, not 45 degrees off it.
    l.type = LightSpot;
    EXPECT_FLOAT_EQ(LocalLightAmount(l, V3d{0, 0, 1}, towards), 0.5f);
    EXPECT_EQ(LocalLightAmount(l, V3d{1, 0, 1}, towards), 0.0f);
    const V3d inCone{0.3f, 0, 1};
    const real hard = LocalLightAmount(l, inCone, towards);
    l.type = LightSpotSoft;
    const real soft = LocalLightAmount(l, inCone, towards);
    EXPECT_GT(hard, 0.0f);
    EXPECT_GT(soft, 0.0f);
    EXPECT_LT(soft, hard);
    EXPECT_FLOAT_EQ(LocalLightAmount(l, V3d{0, 0, 1}, towards), 0.5f);  // no falloff on the axis
}

TEST_F(GlPipes, ALightSharedBySectorsIsListedOnceAfterTheGlobalOnes) {
    ASSERT_NE(WorldSplitSector(world, reinterpret_cast<WorldSector*>(WorldGetRootSector(world)), 0, 0.0f), nullptr);
    Material* m = MaterialCreate();
    MaterialSetPipeline(m, RecordingPipeline());
    Atomic* a = Place(Grid(2, GeometryNormals | GeometryLight, kBlack, m));
    MaterialDestroy(m);
    Light* point = AddLight(LightPoint, kWhite);
    LightSetRadius(point, 5.0f);
    Light* sun = AddLight(LightDirectional, kWhite);
    LightSetFlags(AddLight(LightAmbient, kWhite), kLightLightsWorld);
    Render();
    int32 sectors = 0;
    AtomicForAllWorldSectors(
        a, [](WorldSector* s, void* n) { return ++*static_cast<int32*>(n), s; }, &sectors);
    EXPECT_EQ(sectors, 2);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].lights, (std::vector<Light*>{sun, point}));
}

TEST_F(GlPipes, PacketsCarryRebasedIndicesAndTheMaterialsState) {
    Material* m = MaterialCreate();
    const RGBA translucent{10, 20, 30, 128};
    MaterialSetColor(m, &translucent);
    MaterialSetPipeline(m, RecordingPipeline());
    Geometry* g = GeometryCreate(202, 1, GeometryPrelit);
    for (int32 i = 0; i < 202; ++i) g->morphTarget[0].verts[i] = V3d{0.01f * i - 1, 0.5f, 0};
    TriangleSetVertexIndices(g, g->triangles, 100, 150, 200);
    TriangleSetMaterial(g, g->triangles, m);
    Sphere s{};
    MorphTargetCalcBoundingSphere(&g->morphTarget[0], &s);
    MorphTargetSetBoundingSphere(&g->morphTarget[0], &s);
    GeometryUnlock(g);
    Place(g, V3d{0, 0, 1});
    Render();
    ASSERT_EQ(seen.size(), 1u);
    const Seen& p = seen[0];
    EXPECT_EQ(p.vertices.size(), 101u);
    EXPECT_FLOAT_EQ(p.vertices[0].position.x, 0.0f);
    EXPECT_EQ(p.indices, (std::vector<uint32>{0, 50, 100}));
    EXPECT_EQ(p.state.material, m);
    EXPECT_TRUE(p.state.matColour == translucent);
    EXPECT_EQ(p.state.numVertices, 101u);
    EXPECT_EQ(p.state.primType, PrimTypeTriList);
    EXPECT_FLOAT_EQ(p.state.objToWorld.pos.z, 1.0f);
    EXPECT_NE(p.render.flags & RenderStateFlagVertexAlpha, 0u);

    const RGBA opaque{10, 20, 30, 255};
    MaterialSetColor(m, &opaque);
    MaterialDestroy(m);
    seen.clear();
    Render();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].render.flags & RenderStateFlagVertexAlpha, 0u);
}

TEST_F(GlPipes, SectorGeometryDrawsUnindexedRunsAndRebuildsForNewMeshes) {
    auto* sector = reinterpret_cast<WorldSector*>(WorldGetRootSector(world));
    // Two triangles, each the next run of three vertices.
    std::vector<V3d> verts = {{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}, {-2, -2, 0}, {-1.5f, -2, 0}, {-1.75f, -1.5f, 0}};
    std::vector<RGBA> colours(6, kRed);
    sector->vertices = verts.data();
    sector->preLitColors = colours.data();
    sector->numVertices = 6;
    MeshesDestroy(sector->meshes);
    sector->meshes = MeshHeaderCreate(2, 0, kMeshHeaderUnindexed);
    ASSERT_NE(sector->meshes, nullptr);
    for (int32 i = 0; i < 2; ++i) MeshHeaderGetMeshes(sector->meshes)[i].numIndices = 3;
    WorldSetFlags(world, GeometryPrelit);
    GlLogStart();
    Render();
    EXPECT_EQ(GlLogCount(GlIndexDrawArrays), 2);
    EXPECT_EQ(GlLogCount(GlIndexDrawElements), 0);
    EXPECT_TRUE(Near(Centre(), kRed));
    ASSERT_NE(sector->instanceEntry, nullptr);
    EXPECT_EQ(GlInstanceFromEntry(sector->instanceEntry)->meshes[1].firstVertex, 3u);

    // Indexed meshes: one triangle of the second run.
    MeshesDestroy(sector->meshes);
    sector->meshes = MeshHeaderCreate(1, 3, kMeshHeaderTriList);
    Mesh* mesh = MeshHeaderGetMeshes(sector->meshes);
    mesh->indices = MeshHeaderGetIndexArea(sector->meshes);
    mesh->numIndices = 3;
    for (uint32 k = 0; k < 3; ++k) mesh->indices[k] = 3 + k;
    GlLogClear();
    Render();
    EXPECT_EQ(GlLogCount(GlIndexDrawElements), 1);
    EXPECT_TRUE(Near(Centre(), kClear));
    EXPECT_TRUE(Near(Pixel(ScreenX(-1.75f), ScreenY(-1.85f)), kRed));
    sector->vertices = nullptr;
    sector->preLitColors = nullptr;
    sector->numVertices = 0;
}

}  // namespace
}  // namespace kv::test
