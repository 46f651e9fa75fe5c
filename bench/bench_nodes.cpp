// The software vertex nodes alone: the 32-ring dome (4097 vertices, 8064
// triangles) through Transform, CullTriangle and ClipTriangle with the camera
// turned so that about half of the dome lies outside the view. No drawing:
// the packet ends in a node that only counts what is left.
#include <benchmark/benchmark.h>

#include <vector>

#include "app/skydome/dome.h"
#include "engine/assembly/standard_modules.h"
#include "engine/camera/camera.h"
#include "engine/core/engine.h"
#include "engine/frame/frame.h"
#include "engine/image/raster.h"
#include "engine/nodes/clip.h"
#include "engine/nodes/node_clip_triangle.h"
#include "engine/nodes/node_cull_triangle.h"
#include "engine/nodes/node_transform.h"
#include "engine/pipe/standard_clusters.h"
#include "engine/world/geometry.h"
#include "engine/world/world.h"

namespace kv {
namespace {

constexpr int32 kRings = 32;

struct Source {
    std::vector<ObjSpace3DVertex> vertices;
    std::vector<uint32> indices;
    Matrix objToCamera;
};
Source source;
uint32 trianglesLeft = 0;
uint8 outsideOr = 0;

bool SourceBody(PipelineNode* node, const ExecuteParams* params) {
    Pipeline* pipeline = PipelineExecutionState()->pipeline;
    Packet* packet = PacketCreate(node);
    if (packet == nullptr) return false;
    ClusterAttach(ClusterOpen(packet, 0, node), source.vertices.data(), sizeof(ObjSpace3DVertex),
                  static_cast<uint32>(source.vertices.size()));
    ClusterAttach(ClusterOpen(packet, 1, node), source.indices.data(), sizeof(uint32),
                  static_cast<uint32>(source.indices.size()));
    Cluster* mesh = ClusterAllocate(ClusterOpen(packet, 2, node), 1, sizeof(MeshState));
    if (mesh == nullptr) return false;
    mesh->numUsed = 1;
    auto* state = static_cast<MeshState*>(mesh->data);
    *state = MeshState{};
    state->flags = MeshStatePrelit;
    MatrixSetIdentity(&state->objToWorld);
    state->objToCamera = source.objToCamera;
    state->matColour = RGBA{255, 255, 255, 255};
    state->primType = PrimTypeTriList;
    state->numPrimitives = static_cast<uint32>(source.indices.size() / 3);
    state->numVertices = static_cast<uint32>(source.vertices.size());
    if (PipelineNode* next = PacketDispatch(pipeline, node, 0)) NodeRun(next, params);
    PacketRelease(pipeline);
    return true;
}

bool SinkBody(PipelineNode*, const ExecuteParams*) {
    Pipeline* pipeline = PipelineExecutionState()->pipeline;
    if (Packet* packet = PacketPickUp(pipeline)) {
        const Cluster* mesh = ClusterPeek(packet, 0);
        if (mesh != nullptr) {
            trianglesLeft = static_cast<const MeshState*>(mesh->data)->numPrimitives;
            outsideOr = static_cast<uint8>(static_cast<const MeshState*>(mesh->data)->clipFlagsOr);
        }
    }
    PacketRelease(pipeline);
    return true;
}

const ClusterUse kSourceClusters[] = {
    {.clusterType = &clusterObjSpace3DVertices}, {.clusterType = &clusterIndices}, {.clusterType = &clusterMeshState}};
const ClusterNeed kSourceNeeds[] = {ClusterIgnored, ClusterIgnored, ClusterIgnored};
const ClusterEffect kSourceEffects[] = {ClusterMade, ClusterMade, ClusterMade};
const OutputSpec kSourceOutputs[] = {{.name = "Out", .effects = kSourceEffects, .otherEffect = ClusterUntouched}};
NodeType sourceType = {.name = "BenchSource.csl",
                       .body = SourceBody,
                       .numClusters = 3,
                       .clusters = kSourceClusters,
                       .needs = kSourceNeeds,
                       .numOutputs = 1,
                       .outputs = kSourceOutputs};
const ClusterUse kSinkClusters[] = {{.clusterType = &clusterMeshState}, {.clusterType = &clusterScrSpace2DVertices}};
const ClusterNeed kSinkNeeds[] = {ClusterOptional, ClusterOptional};
NodeType sinkType = {
    .name = "BenchSink.csl", .body = SinkBody, .numClusters = 2, .clusters = kSinkClusters, .needs = kSinkNeeds};

void BM_TransformCullClipHalfOutside(benchmark::State& state) {
    EngineUseStandardModules();
    EngineOpenParams p{nullptr};
    if (!EngineInit(nullptr, 0) || !WorldPluginAttach() || !EngineOpen(&p) || !EngineStart()) {
        return state.SkipWithError("engine");
    }
    Geometry* dome = DomeBuild(kRings);
    Raster raster{};
    raster.parentRaster = &raster;
    raster.width = 640;
    raster.height = 480;
    Camera* camera = CameraCreate();
    Frame* frame = FrameCreate();
    CameraSetFrame(camera, frame);
    CameraSetRaster(camera, &raster);
    CameraSetNearClipPlane(camera, 0.1f);
    CameraSetFarClipPlane(camera, 30.0f);
    const V2d window{0.41421357f, 0.31066018f};
    CameraSetViewWindow(camera, &window);
    // Looking along +z at the dome from 3 units, moved sideways by half the
    // view's width there: the dome's middle is on the window's edge.
    const V3d eye{1.25f, 0.5f, -3.0f};
    FrameTranslate(frame, &eye, CombineReplace);
    EngineInstanceGet()->curCamera = camera;
    FramesSyncDirty();

    const MorphTarget* t = GeometryGetMorphTarget(dome, 0);
    source.vertices.clear();
    for (int32 i = 0; i < GeometryGetNumVertices(dome); ++i) {
        source.vertices.push_back(ObjSpace3DVertex{t->verts[i], t->normals[i], RGBA{200, 200, 255, 255}, 0, 0});
    }
    source.indices.clear();
    for (int32 i = 0; i < GeometryGetNumTriangles(dome); ++i) {
        for (uint16 v : dome->triangles[i].vertIndex) source.indices.push_back(v);
    }
    source.objToCamera = *CameraGetViewMatrix(camera);
    uint32 outside = 0;
    for (const ObjSpace3DVertex& v : source.vertices) {
        V3d c;
        V3dTransformPoint(&c, &v.position, &source.objToCamera);
        outside += c.x < 0 || c.x > c.z || c.y < 0 || c.y > c.z ? 1 : 0;
    }

    Pipeline* pipe =
        PipelineAddNodes(PipelineLock(PipelineCreate()), nullptr, &sourceType, NodeDefinitionGetTransform(),
                         NodeDefinitionGetCullTriangle(), NodeDefinitionGetClipTriangle(), &sinkType);
    if (PipelineUnlock(pipe) == nullptr) {
        state.SkipWithError("pipeline");
    } else {
        for (auto _ : state) {
            if (PipelineExecute(pipe, nullptr, true) == nullptr) {
                state.SkipWithError("execute");
                break;
            }
        }
        state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * GeometryGetNumTriangles(dome));
        state.counters["vertices_outside"] = static_cast<double>(outside) / static_cast<double>(source.vertices.size());
        state.counters["triangles_left"] = trianglesLeft;
    }
    PipelineDestroy(pipe);
    EngineInstanceGet()->curCamera = nullptr;
    CameraSetFrame(camera, nullptr);
    CameraDestroy(camera);
    FrameDestroy(frame);
    GeometryDestroy(dome);
    EngineStop();
    EngineClose();
    EngineTerm();
}
BENCHMARK(BM_TransformCullClipHalfOutside)->Unit(benchmark::kMicrosecond);

// The floor: the same vertices through a plain loop that only transforms each
// one into camera space and works out which sides of the view it lies
// outside, the least the nodes above must do before culling and clipping.
void BM_PlainTransformAndOutcodes(benchmark::State& state) {
    EngineUseStandardModules();
    EngineOpenParams p{nullptr};
    if (!EngineInit(nullptr, 0) || !WorldPluginAttach() || !EngineOpen(&p) || !EngineStart()) {
        return state.SkipWithError("engine");
    }
    Geometry* dome = DomeBuild(kRings);
    const MorphTarget* t = GeometryGetMorphTarget(dome, 0);
    const std::vector<V3d> positions(t->verts, t->verts + GeometryGetNumVertices(dome));
    Matrix objToCamera;
    MatrixSetIdentity(&objToCamera);
    objToCamera.pos = V3d{-1.25f, -0.5f, 3.0f};
    std::vector<V3d> camera(positions.size());
    std::vector<uint8> outcodes(positions.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < positions.size(); ++i) {
            V3d& c = camera[i];
            V3dTransformPoint(&c, &positions[i], &objToCamera);
            outcodes[i] =
                static_cast<uint8>((c.x < 0 ? 1 : 0) | (c.x > c.z ? 2 : 0) | (c.y < 0 ? 4 : 0) | (c.y > c.z ? 8 : 0));
        }
        benchmark::DoNotOptimize(outcodes.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * GeometryGetNumTriangles(dome));
    GeometryDestroy(dome);
    EngineStop();
    EngineClose();
    EngineTerm();
}
BENCHMARK(BM_PlainTransformAndOutcodes)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kv
