// An engine with the world plug-in attached, on a device that answers camera
// begin and end update, over counted memory; helpers for geometries, clumps,
// cameras and a pipeline that records what it was run with.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/frame/frame.h"
#include "engine/pipe/pipeline.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/world.h"
#include "error_log.h"
#include "raster_memory.h"
#include "stream_fixture.h"

namespace kv::test {

// A pipeline of one node that records the data pointer of every run.
struct RecordingPipeline {
    static inline std::vector<void*> runs;
    static inline bool fail = false;
    static bool Body(PipelineNode*, const ExecuteParams* params) {
        runs.push_back(params->data);
        return !fail;
    }
    NodeType type{};
    Pipeline* pipeline = nullptr;

    RecordingPipeline() {
        type.name = "Record.csl";
        type.body = Body;
    }
    Pipeline* Build() {
        pipeline = PipelineLock(PipelineCreate());
        int32 first = 0;
        EXPECT_EQ(PipelineAddNodes(pipeline, &first, &type, nullptr), pipeline);
        EXPECT_EQ(PipelineUnlock(pipeline), pipeline);
        return pipeline;
    }
    int Count(const void* data) const {
        int n = 0;
        for (void* d : runs) n += d == data ? 1 : 0;
        return n;
    }
};

class WorldTest : public StartedEngine {
  protected:
    EngineSetup HowToStart() override {
        return {.device = TestDevice::Interface, .memory = CountedMemory::Table(), .plugins = WorldPluginAttach};
    }
    void SetUp() override {
        CountedMemory::failMalloc = false;
        CountedMemory::failRealloc = false;
        RecordingPipeline::runs.clear();
        RecordingPipeline::fail = false;
        TestDevice::Reset();
        RasterMemory::Install();
        liveBefore = CountedMemory::live;
        StartedEngine::SetUp();
    }
    void TearDown() override {
        CountedMemory::failMalloc = false;
        CountedMemory::failRealloc = false;
        StartedEngine::TearDown();
        // Closing the modules frees whatever a test left behind.
        EXPECT_EQ(CountedMemory::live, liveBefore);
    }

    // A prelit geometry with normals: one triangle spanning (-1..1) on x and y.
    static Geometry* Triangle3(Material* material = nullptr) {
        Geometry* g = GeometryCreate(3, 1, GeometryPrelit | GeometryNormals);
        EXPECT_NE(g, nullptr);
        MorphTarget* t = GeometryGetMorphTarget(g, 0);
        V3d* v = MorphTargetGetVertices(t);
        v[0] = V3d{-1, -1, 0};
        v[1] = V3d{1, -1, 0};
        v[2] = V3d{0, 1, 0};
        Sphere s{};
        MorphTargetCalcBoundingSphere(t, &s);
        MorphTargetSetBoundingSphere(t, &s);
        TriangleSetVertexIndices(g, GeometryGetTriangles(g), 0, 1, 2);
        if (material != nullptr) TriangleSetMaterial(g, GeometryGetTriangles(g), material);
        GeometryUnlock(g);
        return g;
    }

    // A clump on a root frame with one atomic on a child frame at pos.
    static Clump* OneAtomicClump(Geometry* g, V3d pos, Atomic** atomicOut = nullptr) {
        Clump* c = ClumpCreate();
        Frame* root = FrameCreate();
        Frame* child = FrameCreate();
        Atomic* a = AtomicCreate();
        EXPECT_TRUE(c && root && child && a);
        FrameAddChild(root, child);
        FrameTranslate(child, &pos, CombineReplace);
        ClumpSetFrame(c, root);
        AtomicSetFrame(a, child);
        AtomicSetGeometry(a, g, 0);
        ClumpAddAtomic(c, a);
        if (atomicOut != nullptr) *atomicOut = a;
        return c;
    }

    // A camera at pos looking along +z (or -z), with a frame of its own.
    static Camera* MakeCamera(V3d pos, bool lookBack = false) {
        Camera* cam = CameraCreate();
        Frame* f = FrameCreate();
        EXPECT_TRUE(cam && f);
        if (lookBack) {
            const V3d up{0, 1, 0};
            FrameRotate(f, &up, 180.0f, CombineReplace);
        }
        FrameTranslate(f, &pos, CombinePostConcat);
        CameraSetFrame(cam, f);
        CameraSetNearClipPlane(cam, 0.1f);
        CameraSetFarClipPlane(cam, 30.0f);
        const V2d w{0.5f, 0.5f};
        CameraSetViewWindow(cam, &w);
        return cam;
    }
    static void DestroyCamera(Camera* cam) {
        Frame* f = CameraGetFrame(cam);
        CameraSetFrame(cam, nullptr);
        CameraDestroy(cam);
        FrameDestroy(f);
    }

    // One frame: begin update (syncs frames, places atomics), render, end.
    static void Frame1(Camera* cam, World* world) {
        ASSERT_EQ(CameraBeginUpdate(cam), cam);
        EXPECT_EQ(WorldRender(world), world);
        ASSERT_EQ(CameraEndUpdate(cam), cam);
    }

    static BBox Box(real h) { return BBox{V3d{h, h, h}, V3d{-h, -h, -h}}; }

    static int32 Ties(WorldSector* s, int32 list) {
        int32 n = 0;
        for (LLLink* l = s->atomicTies[list].link.next; l != &s->atomicTies[list].link; l = l->next) ++n;
        return n;
    }

    long liveBefore = 0;
};

}  // namespace kv::test
