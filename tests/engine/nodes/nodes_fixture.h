// The software vertex nodes on the null device: a camera at the origin
// looking along +z with a 640 x 480 raster and view window 1 (so camera space
// is x' = (z - x) / 2, y' = (z - y) / 2), render states kept in a table, and a
// device whose 2D functions record every vertex they are handed. Immediate
// mode drives the nodes; recording nodes can stand in a pipeline where a test
// wants to look at a packet.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/frame/frame.h"
#include "engine/image/raster.h"
#include "engine/nodes/clip.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/nodes/node_clip_triangle.h"
#include "engine/nodes/node_cull_triangle.h"
#include "engine/nodes/node_immediate.h"
#include "engine/pipe/pipeline_module.h"
#include "engine/pipe/standard_clusters.h"
#include "engine_fixture.h"
#include "error_log.h"

namespace kv::test {

// One call of the device's 2D functions, with the vertices in drawing order.
struct Drawn {
    int32 primType;
    std::vector<Im2DVertex> vertices;
};

// What a recording node saw.
struct Recorded {
    int32 node = -1;  // which recorder
    MeshState state{};
    std::vector<CamSpace3DVertex> cam;
    std::vector<Im2DVertex> scr;
    std::vector<uint32> indices;
    bool hasIndices = false;
    std::vector<ClipInterpolant> interpolants;
};

class NodesTest : public StartedEngine {
  public:
    // The world point that the camera sees at camera-space (x', y', z).
    static V3d At(real x, real y, real z) { return V3d{z - 2 * x, z - 2 * y, z}; }
    static V3d AtParallel(real x, real y, real z) { return V3d{1 - 2 * x, 1 - 2 * y, z}; }
    static Im3DVertex Vertex(V3d p, RGBA c = {255, 255, 255, 255}) {
        return Im3DVertex{p, V3d{0, 0, 0}, c, 0.0f, 0.0f};
    }

  protected:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static constexpr real kNear = 1.0f;
    static constexpr real kFar = 100.0f;

    static inline std::vector<Drawn> drawn;
    static inline std::vector<Recorded> recorded;
    static inline std::map<int32, std::intptr_t> states;

    void SetUp() override {
        drawn.clear();
        recorded.clear();
        states.clear();
        StartedEngine::SetUp();
        if (HasFatalFailure()) return;
        DeviceRecord& d = EngineInstanceGet()->dOpenDevice;
        d.im2DRenderPrimitive = [](int32 type, Im2DVertex* v, int32 n) {
            drawn.push_back(Drawn{type, std::vector<Im2DVertex>(v, v + n)});
            return true;
        };
        d.im2DRenderIndexedPrimitive = [](int32 type, Im2DVertex* v, int32 n, const uint32* i, int32 count) {
            Drawn call{type, {}};
            for (int32 k = 0; k < count; ++k) {
                if (i[k] >= static_cast<uint32>(n)) return false;
                call.vertices.push_back(v[i[k]]);
            }
            drawn.push_back(call);
            return true;
        };
        d.setRenderState = [](int32 state, std::intptr_t value) {
            states[state] = value;
            return true;
        };
        d.getRenderState = [](int32 state, std::intptr_t* value) {
            auto it = states.find(state);
            if (it == states.end()) return false;
            *value = it->second;
            return true;
        };
        raster = Raster{};
        raster.parentRaster = &raster;
        raster.width = kWidth;
        raster.height = kHeight;
        camera = CameraCreate();
        frame = FrameCreate();
        ASSERT_TRUE(camera && frame);
        CameraSetFrame(camera, frame);
        CameraSetRaster(camera, &raster);
        CameraSetNearClipPlane(camera, kNear);
        CameraSetFarClipPlane(camera, kFar);
        const V2d window{1.0f, 1.0f};
        CameraSetViewWindow(camera, &window);
        Begin();
        ErrorClear();
    }

    void TearDown() override {
        EngineInstanceGet()->curCamera = nullptr;
        for (Pipeline* p : pipelines) PipelineDestroy(p);
        if (camera != nullptr) {
            CameraSetFrame(camera, nullptr);
            CameraDestroy(camera);
        }
        if (frame != nullptr) FrameDestroy(frame);
        StartedEngine::TearDown();
    }

    // The camera is current, its view matrix up to date (the null device has
    // no begin update of its own).
    void Begin() {
        EngineInstanceGet()->curCamera = camera;
        FramesSyncDirty();
    }

    void Parallel() {
        CameraSetProjection(camera, ProjectionParallel);
        Begin();
    }

    // A node that keeps a copy of the packet it is handed.
    template <int32 Id>
    static NodeType* Recorder() {
        static const ClusterUse clusters[] = {{.clusterType = &clusterCamSpace3DVertices},
                                              {.clusterType = &clusterScrSpace2DVertices},
                                              {.clusterType = &clusterIndices},
                                              {.clusterType = &clusterMeshState},
                                              {.clusterType = &clusterInterpolants}};
        static const ClusterNeed needs[] = {ClusterOptional, ClusterOptional, ClusterOptional, ClusterOptional,
                                            ClusterOptional};
        static NodeType type = {
            .name = Id == 0 ? "Record.csl" : "RecordElse.csl",
            .body = Record<Id>,
            .numClusters = 5,
            .clusters = clusters,
            .needs = needs,
        };
        return &type;
    }
    template <int32 Id>
    static bool Record(PipelineNode*, const ExecuteParams*) {
        Pipeline* p = PipelineExecutionState()->pipeline;
        Packet* packet = PacketPickUp(p);
        if (packet == nullptr) return true;
        Recorded r;
        r.node = Id;
        if (const Cluster* c = ClusterPeek(packet, 0)) {
            const auto* v = static_cast<const CamSpace3DVertex*>(c->data);
            r.cam.assign(v, v + c->numUsed);
        }
        if (const Cluster* c = ClusterPeek(packet, 1)) {
            const auto* v = static_cast<const Im2DVertex*>(c->data);
            r.scr.assign(v, v + c->numUsed);
        }
        if (const Cluster* c = ClusterPeek(packet, 2)) {
            const auto* v = static_cast<const uint32*>(c->data);
            r.indices.assign(v, v + c->numUsed);
            r.hasIndices = true;
        }
        if (const Cluster* c = ClusterPeek(packet, 3)) r.state = *static_cast<const MeshState*>(c->data);
        if (const Cluster* c = ClusterPeek(packet, 4)) {
            const auto* v = static_cast<const ClipInterpolant*>(c->data);
            r.interpolants.assign(v, v + c->numUsed);
        }
        recorded.push_back(r);
        PacketRelease(p);
        return true;
    }

    // Setup -> mangle -> the given nodes -> recorder 0; `elseOutput` of the
    // last given node goes to recorder 1.
    Pipeline* TrianglePipeline(std::vector<NodeType*> middle, const char* elseOutput = nullptr) {
        return RecordingPipeline(NodeDefinitionGetImmMangleTriangleIndices(), std::move(middle), elseOutput);
    }
    Pipeline* LinePipeline(std::vector<NodeType*> middle, const char* elseOutput = nullptr) {
        return RecordingPipeline(NodeDefinitionGetImmMangleLineIndices(), std::move(middle), elseOutput);
    }
    Pipeline* RecordingPipeline(NodeType* mangle, std::vector<NodeType*> middle, const char* elseOutput) {
        NodeType* setup = NodeDefinitionGetImmRenderSetup();
        std::vector<NodeType*> chain{setup, mangle};
        chain.insert(chain.end(), middle.begin(), middle.end());
        chain.push_back(Recorder<0>());
        Pipeline* p = PipelineLock(PipelineCreate());
        p = PipelineAddNodeList(p, nullptr, chain.data(), static_cast<int32>(chain.size()));
        p = PipelineLinkOutput(p,
                               NodeFindOutput(PipelineFindNode(p, setup->name, nullptr), "ImmRenderSetupOutUnindexed"),
                               PipelineFindNode(p, mangle->name, nullptr));
        if (elseOutput != nullptr) {
            p = PipelineAddNodes(p, nullptr, Recorder<1>());
            p = PipelineLinkOutput(p, NodeFindOutput(PipelineFindNode(p, middle.back()->name, nullptr), elseOutput),
                                   PipelineFindNode(p, Recorder<1>()->name, nullptr));
        }
        p = PipelineUnlock(p);
        EXPECT_NE(p, nullptr);
        pipelines.push_back(p);
        return p;
    }

    Raster raster{};
    Camera* camera = nullptr;
    Frame* frame = nullptr;
    std::vector<Pipeline*> pipelines;
};

inline bool SameColour(const Im2DVertex& v, RGBA c) {
    return v.r == c.red && v.g == c.green && v.b == c.blue && v.a == c.alpha;
}

}  // namespace kv::test
