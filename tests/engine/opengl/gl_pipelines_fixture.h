// A world drawn through the OpenGL default pipelines on a hidden 640 x 480
// window: a camera at (0, 0, -5) looking along +z at grids of quads in the
// z = 0 plane, lights on frames, and a recording material pipeline that keeps
// what each mesh's packet carried.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/frame/frame.h"
#include "engine/image/raster.h"
#include "engine/nodes/instance.h"
#include "engine/nodes/light_list.h"
#include "engine/opengl/gl_device.h"
#include "engine/opengl/gl_internal.h"
#include "engine/opengl/gl_node_instance.h"
#include "engine/opengl/gl_pipelines.h"
#include "engine/pipe/render_state.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/clump.h"
#include "engine/world/hardware_light.h"
#include "engine/world/light.h"
#include "engine/world/world.h"
#include "engine_fixture.h"

namespace kv::test {

// What one mesh's packet brought to a material pipeline.
struct Seen {
    MeshState state;
    RenderStateRecord render;
    std::vector<ObjSpace3DVertex> vertices;
    std::vector<uint32> indices;
    std::vector<Light*> lights;
};

class GlPipesTest : public ::testing::Test {
  protected:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static inline SDL_Window* window = nullptr;
    static inline std::vector<Seen> seen;
    static constexpr RGBA kClear{64, 64, 64, 255};

    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        ASSERT_EQ(SDL_GL_LoadLibrary(nullptr), 0) << SDL_GetError();
        window = GlWindowCreate("pipelines test", 0, 0, kWidth, kHeight, SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
    }
    static void TearDownTestSuite() {
        if (window != nullptr) SDL_DestroyWindow(window);
        window = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(window, nullptr);
        seen.clear();
        ASSERT_TRUE(EngineUp({.device = GlDeviceGetInterface,
                              .plugins = WorldPluginAttach,
                              .window = window,
                              .opened =
                                  [] {
                                      if (!EngineSetVideoMode(0)) return false;
                                      GlWorldPipelinesInstall();
                                      return true;
                                  }}))
            << SDL_GetError();
        colour = RasterCreate(kWidth, kHeight, 0, RasterTypeCamera);
        depth = RasterCreate(kWidth, kHeight, 0, RasterTypeZBuffer);
        camera = CameraCreate();
        cameraFrame = FrameCreate();
        ASSERT_TRUE(colour && depth && camera && cameraFrame);
        const V3d at{0, 0, -5};
        FrameTranslate(cameraFrame, &at, CombineReplace);
        CameraSetFrame(camera, cameraFrame);
        CameraSetRaster(camera, colour);
        CameraSetZRaster(camera, depth);
        CameraSetNearClipPlane(camera, 0.1f);
        CameraSetFarClipPlane(camera, 30.0f);
        const V2d w{0.5f, 0.5f};
        CameraSetViewWindow(camera, &w);
        const BBox box{V3d{100, 100, 100}, V3d{-100, -100, -100}};
        world = WorldCreate(&box);
        ASSERT_NE(world, nullptr);
        ASSERT_EQ(WorldAddCamera(world, camera), world);
    }

    void TearDown() override {
        GlLogStop();
        MeshStateSetTextureReader(nullptr);
        for (Light* l : lights) {
            Frame* f = LightGetFrame(l);
            LightDestroy(l);
            FrameDestroy(f);
        }
        for (Clump* c : clumps) ClumpDestroy(c);
        if (world != nullptr) {
            WorldRemoveCamera(world, camera);
            WorldDestroy(world);
        }
        if (camera != nullptr) {
            CameraSetFrame(camera, nullptr);
            CameraDestroy(camera);
        }
        if (cameraFrame != nullptr) FrameDestroy(cameraFrame);
        for (Raster* r : {colour, depth}) {
            if (r != nullptr) RasterDestroy(r);
        }
        for (Pipeline* p : pipelines) PipelineDestroy(p);
        EngineDown();
        WorldPipelinesSetBuilders(nullptr, nullptr);
    }

    // An n x n grid of vertices over (cx - 1 .. cx + 1, -1 .. 1) at z = 0,
    // normals towards the camera; every triangle takes material m.
    static Geometry* Grid(int n, uint32 flags, RGBA prelit = {255, 0, 0, 255}, Material* m = nullptr, real cx = 0) {
        Geometry* g = GeometryCreate(n * n, 2 * (n - 1) * (n - 1), flags);
        EXPECT_NE(g, nullptr);
        MorphTarget* t = GeometryGetMorphTarget(g, 0);
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                const int i = y * n + x;
                t->verts[i] = V3d{cx - 1 + 2.0f * x / (n - 1), -1 + 2.0f * y / (n - 1), 0};
                if (t->normals != nullptr) t->normals[i] = V3d{0, 0, -1};
                if (g->preLitLum != nullptr) g->preLitLum[i] = prelit;
            }
        }
        Triangle* tri = GeometryGetTriangles(g);
        for (int y = 0; y + 1 < n; ++y) {
            for (int x = 0; x + 1 < n; ++x) {
                const auto i = static_cast<uint16>(y * n + x);
                const auto w = static_cast<uint16>(n);
                TriangleSetVertexIndices(g, tri, i, static_cast<uint16>(i + 1), static_cast<uint16>(i + w));
                TriangleSetMaterial(g, tri++, m);
                TriangleSetVertexIndices(g, tri, static_cast<uint16>(i + 1), static_cast<uint16>(i + w + 1),
                                         static_cast<uint16>(i + w));
                TriangleSetMaterial(g, tri++, m);
            }
        }
        Sphere s{};
        MorphTargetCalcBoundingSphere(t, &s);
        MorphTargetSetBoundingSphere(t, &s);
        EXPECT_EQ(GeometryUnlock(g), g);
        return g;
    }

    // An atomic drawing g (the clump keeps the only reference) in the world.
    Atomic* Place(Geometry* g, V3d pos = {0, 0, 0}) {
        Clump* c = ClumpCreate();
        Frame* root = FrameCreate();
        Atomic* a = AtomicCreate();
        EXPECT_TRUE(c && root && a);
        FrameTranslate(root, &pos, CombineReplace);
        ClumpSetFrame(c, root);
        AtomicSetFrame(a, root);
        AtomicSetGeometry(a, g, 0);
        GeometryDestroy(g);
        ClumpAddAtomic(c, a);
        EXPECT_EQ(WorldAddClump(world, c), world);
        clumps.push_back(c);
        return a;
    }

    // A light in the world, at pos, shining along its frame's at axis turned
    // by yDegrees about y.
    Light* AddLight(uint8 type, RGBAReal c, V3d pos = {0, 0, 0}, real yDegrees = 0) {
        Light* l = LightCreate(type);
        Frame* f = FrameCreate();
        EXPECT_TRUE(l && f);
        const V3d up{0, 1, 0};
        FrameRotate(f, &up, yDegrees, CombineReplace);
        FrameTranslate(f, &pos, CombinePostConcat);
        LightSetFrame(l, f);
        LightSetColor(l, &c);
        EXPECT_EQ(WorldAddLight(world, l), world);
        lights.push_back(l);
        return l;
    }

    void Render() {
        ASSERT_EQ(CameraClear(camera, &kClear, ClearImage | ClearZ), camera);
        ASSERT_EQ(CameraBeginUpdate(camera), camera);
        // Both windings drawn: the tests are about what reaches the screen.
        RenderStateSet(StateCullMode, 1);
        EXPECT_EQ(WorldRender(world), world);
        ASSERT_EQ(CameraEndUpdate(camera), camera);
    }

    // The colour at (x, y) of the back buffer, y counted from the top.
    static RGBA Pixel(int x, int y) {
        uint8 p[4] = {};
        gl.ReadPixels(x, kHeight - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return RGBA{p[0], p[1], p[2], p[3]};
    }
    static RGBA Centre() { return Pixel(kWidth / 2, kHeight / 2); }

    // A material pipeline of one node that keeps a copy of each packet.
    Pipeline* RecordingPipeline() {
        static const ClusterUse clusters[] = {{&clusterMeshState, 0, 0},
                                              {&clusterObjSpace3DVertices, 0, 0},
                                              {&clusterIndices, 0, 0},
                                              {&clusterRenderState, 0, 0},
                                              {&clusterLights, 0, 0}};
        static const ClusterNeed needs[] = {ClusterRequired, ClusterRequired, ClusterOptional, ClusterOptional,
                                            ClusterOptional};
        static NodeType type = {
            .name = "Record.csl", .body = Record, .numClusters = 5, .clusters = clusters, .needs = needs};
        Pipeline* p = PipelineLock(PipelineCreate());
        p = PipelineUnlock(PipelineAddNodes(p, nullptr, &type));
        EXPECT_NE(p, nullptr);
        pipelines.push_back(p);
        return p;
    }
    static bool Record(PipelineNode*, const ExecuteParams*) {
        Pipeline* p = PipelineExecutionState()->pipeline;
        Packet* packet = PacketPickUp(p);
        if (packet == nullptr) return true;
        Seen s{};
        s.state = *static_cast<const MeshState*>(ClusterPeek(packet, 0)->data);
        const Cluster* v = ClusterPeek(packet, 1);
        const auto* vd = static_cast<const ObjSpace3DVertex*>(v->data);
        s.vertices.assign(vd, vd + v->numUsed);
        if (const Cluster* i = ClusterPeek(packet, 2)) {
            const auto* id = static_cast<const uint32*>(i->data);
            s.indices.assign(id, id + i->numUsed);
        }
        if (const Cluster* r = ClusterPeek(packet, 3)) s.render = *static_cast<const RenderStateRecord*>(r->data);
        if (const Cluster* l = ClusterPeek(packet, 4)) {
            for (uint32 k = 0; k < l->numUsed; ++k) s.lights.push_back(LightsAt(l, k));
        }
        seen.push_back(s);
        PacketRelease(p);
        return true;
    }

    Raster* colour = nullptr;
    Raster* depth = nullptr;
    Camera* camera = nullptr;
    Frame* cameraFrame = nullptr;
    World* world = nullptr;
    std::vector<Clump*> clumps;
    std::vector<Light*> lights;
    std::vector<Pipeline*> pipelines;
};

inline bool Near(RGBA a, RGBA b, int tolerance = 2) {
    const auto d = [](int x, int y) { return x > y ? x - y : y - x; };
    return d(a.red, b.red) <= tolerance && d(a.green, b.green) <= tolerance && d(a.blue, b.blue) <= tolerance;
}

}  // namespace kv::test
