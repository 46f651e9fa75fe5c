// The dome's overlays as immediate mode receives them: which wire-mesh edges
// and which normals a viewer sees, the ground's two faces, and the
// overlays' grow-only buffers.
#include <algorithm>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include "dome_fixture.h"
#include "engine/camera/camera.h"
#include "engine/frame/frame.h"
#include "engine/image/raster.h"
#include "engine/nodes/immediate_3d.h"
#include "engine/nodes/node_immediate.h"
#include "engine/pipe/standard_clusters.h"

namespace kv::test {
namespace {

// One primitive as the render pipeline got it.
struct Batch {
    int32 primType;
    uint32 meshFlags;
    std::vector<Im3DVertex> vertices;
    std::vector<uint32> indices;  // empty: unindexed
    std::intptr_t texture, shade;
};

class DomeOverlays : public DomeTest {
  protected:
    static inline std::vector<Batch> batches;
    static inline std::intptr_t texture = 0, shade = 2;

    void SetUp() override {
        DomeTest::SetUp();
        batches.clear();
        texture = 0;
        shade = 2;
        DeviceRecord& d = EngineInstanceGet()->dOpenDevice;
        d.setRenderState = [](int32 state, std::intptr_t value) {
            if (state == StateTextureRaster) texture = value;
            if (state == StateShadeMode) shade = value;
            return true;
        };
        raster = Raster{};
        raster.parentRaster = &raster;
        raster.width = 640;
        raster.height = 480;
        camera = CameraCreate();
        cameraFrame = FrameCreate();
        ASSERT_TRUE(camera && cameraFrame);
        CameraSetFrame(camera, cameraFrame);
        CameraSetRaster(camera, &raster);
        // Immediate mode hands each batch as it came to a recording node.
        transform = PipelineUnlock(PipelineAddNodes(PipelineLock(PipelineCreate()), nullptr,
                                                    NodeDefinitionGetImmInstance(), NodeDefinitionGetImmStash()));
        render = PipelineCreate();
        Pipeline* p = PipelineAddNodes(PipelineLock(render), nullptr, NodeDefinitionGetImmRenderSetup(), &recorder);
        p = PipelineLinkOutput(
            p, NodeFindOutput(PipelineFindNode(p, "ImmRenderSetup.csl", nullptr), "ImmRenderSetupOutUnindexed"),
            PipelineFindNode(p, recorder.name, nullptr));
        ASSERT_TRUE(transform && PipelineUnlock(p));
        Im3DSetTransformPipeline(transform);
        Im3DSetRenderPipeline(render, PrimTypeLineList);
        Im3DSetRenderPipeline(render, PrimTypeTriList);
    }
    void TearDown() override {
        EngineInstanceGet()->curCamera = nullptr;
        Im3DSetTransformPipeline(nullptr);
        Im3DSetRenderPipeline(nullptr, PrimTypeLineList);
        Im3DSetRenderPipeline(nullptr, PrimTypeTriList);
        PipelineDestroy(transform);
        PipelineDestroy(render);
        CameraSetFrame(camera, nullptr);
        CameraDestroy(camera);
        FrameDestroy(cameraFrame);
        DomeTest::TearDown();
    }

    // The viewer at `eye` looking along `at` (unit), the dome unmoved.
    void View(V3d eye, V3d at) {
        Matrix m;
        MatrixSetIdentity(&m);
        const V3d up = std::abs(at.y) > 0.9f ? V3d{0, 0, 1} : V3d{0, 1, 0};
        V3d right = V3dCrossProduct(up, at);
        V3dNormalize(&right, &right);
        m.right = right;
        m.up = V3dCrossProduct(at, right);
        m.at = at;
        m.pos = eye;
        MatrixUpdate(&m);
        FrameTransform(cameraFrame, &m, CombineReplace);
        DomeSetCameraFrame(cameraFrame);
        DomeUpdateViewer();
        EngineInstanceGet()->curCamera = camera;
        FramesSyncDirty();
    }

    static bool Record(PipelineNode*, const ExecuteParams* params) {
        Pipeline* p = PipelineExecutionState()->pipeline;
        Packet* packet = PacketPickUp(p);
        if (packet == nullptr) return true;
        const auto* batch = static_cast<const Im3DBatch*>(params->data);
        Batch b{batch->primType, batch->meshState->flags, {}, {}, texture, shade};
        b.vertices.assign(batch->objVertices, batch->objVertices + batch->numVertices);
        if (batch->indices != nullptr) b.indices.assign(batch->indices, batch->indices + batch->numIndices);
        batches.push_back(b);
        PacketRelease(p);
        return true;
    }
    static inline const ClusterUse kClusters[] = {{.clusterType = &clusterObjSpace3DVertices}};
    static inline const ClusterNeed kNeeds[] = {ClusterOptional};
    static inline NodeType recorder = {
        .name = "RecordBatch.csl", .body = Record, .numClusters = 1, .clusters = kClusters, .needs = kNeeds};

    // The edges of a recorded line list, each with its lower vertex first.
    static std::set<std::pair<uint32, uint32>> Edges(const Batch& b) {
        std::set<std::pair<uint32, uint32>> edges;
        for (std::size_t i = 0; i + 1 < b.indices.size(); i += 2) {
            edges.insert({std::min(b.indices[i], b.indices[i + 1]), std::max(b.indices[i], b.indices[i + 1])});
        }
        return edges;
    }

    Raster raster{};
    Camera* camera = nullptr;
    Frame* cameraFrame = nullptr;
    Pipeline* transform = nullptr;
    Pipeline* render = nullptr;
};

bool Is(const RGBA& c, RGBA want) {
    return c.red == want.red && c.green == want.green && c.blue == want.blue && c.alpha == want.alpha;
}

TEST_F(DomeOverlays, TheWireShowsTheEdgesOfTheFacesTowardsTheViewer) {
    ASSERT_NE(MakeDome(1), nullptr);
    // From the side, level with the ring: the near half of the ring and the
    // one line to the apex that faces the viewer.
    View(V3d{0, 0, 5}, V3d{0, 0, -1});
    DomeDrawWire();
    ASSERT_EQ(batches.size(), 1u);
    const Batch& b = batches[0];
    EXPECT_EQ(b.primType, PrimTypeLineList);
    EXPECT_EQ(b.vertices.size(), 5u);
    EXPECT_EQ(Edges(b), (std::set<std::pair<uint32, uint32>>{{0, 1}, {0, 3}, {0, 4}}));
    for (const Im3DVertex& v : b.vertices) EXPECT_TRUE(Is(v.colour, RGBA{160, 64, 0, 255}));

    // From above, the lines to the apex; turned inside out (preview) the
    // same viewer sees none of them but the far side's ring from within.
    batches.clear();
    View(V3d{0, 5, 0}, V3d{0, -1, 0});
    DomeDrawWire();
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(Edges(batches[0]), (std::set<std::pair<uint32, uint32>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}}));

    // Looking away from the dome, nothing is in front: nothing is drawn.
    batches.clear();
    View(V3d{0, 0, 5}, V3d{0, 0, 1});
    DomeDrawWire();
    EXPECT_TRUE(batches.empty());
}

TEST_F(DomeOverlays, TheWireOfAnInvertedDomeShowsItsInsideFromTheCentre) {
    ASSERT_NE(MakeDome(9), nullptr);
    View(V3d{0, 0.1f, 0}, V3d{0, 0, 1});
    DomeDrawWire();
    EXPECT_TRUE(batches.empty());  // every face turns away from the centre
    DomeInvert();
    DomeDrawWire();
    ASSERT_EQ(batches.size(), 1u);
    // Everything ahead of the viewer: the half of the dome with z >= 0.
    const std::set<std::pair<uint32, uint32>> edges = Edges(batches[0]);
    EXPECT_GT(edges.size(), 100u);
    const V3d* p = MorphTargetGetVertices(GeometryGetMorphTarget(DomeGeometry(), 0));
    for (const auto& [a, c] : edges) EXPECT_GE(p[a].z + p[c].z, -1e-5f) << a << "-" << c;
}

TEST_F(DomeOverlays, NormalsStickOutOfTheSideTowardsTheViewer) {
    ASSERT_NE(MakeDome(1), nullptr);
    View(V3d{0, 0, 5}, V3d{0, 0, -1});
    DomeDrawNormals();
    ASSERT_EQ(batches.size(), 1u);
    const Batch& b = batches[0];
    EXPECT_EQ(b.primType, PrimTypeLineList);
    EXPECT_TRUE(b.indices.empty());
    ASSERT_EQ(b.vertices.size(), 2u);  // only vertex 0, (0, 0, 1), faces the viewer
    EXPECT_NEAR(b.vertices[0].position.z, 1.0f, 1e-6f);
    EXPECT_NEAR(b.vertices[1].position.z, 1.2f, 1e-6f);
    EXPECT_NEAR(b.vertices[1].position.x, 0.0f, 1e-6f);
    for (const Im3DVertex& v : b.vertices) EXPECT_TRUE(Is(v.colour, RGBA{64, 160, 0, 255}));
}

TEST_F(DomeOverlays, TheGroundIsATexturedTopAndAFlatUnderside) {
    ASSERT_NE(MakeDome(9), nullptr);
    View(V3d{0, 3, 5}, V3d{0, -0.5f, -0.8660254f});
    texture = 0x1234;  // the ground raster the program sets
    DomeDrawGround();
    ASSERT_EQ(batches.size(), 2u);
    const Batch& top = batches[0];
    const Batch& under = batches[1];
    EXPECT_EQ(top.primType, PrimTypeTriList);
    ASSERT_EQ(top.vertices.size(), 6u);
    // Texture coordinates carried, the caller's raster still set.
    EXPECT_NE(top.meshFlags & MeshStateTextured, 0u);
    EXPECT_EQ(top.texture, 0x1234);
    EXPECT_EQ(under.meshFlags & MeshStateTextured, 0u);
    EXPECT_EQ(under.texture, 0);
    EXPECT_EQ(under.shade, 1);
    for (const Im3DVertex& v : top.vertices) {
        EXPECT_EQ(v.position.y, 0.0f);
        EXPECT_EQ(std::abs(v.position.x), 1.1f);
        EXPECT_EQ(v.u, v.position.x > 0 ? 0.0f : 1.0f);
        EXPECT_EQ(v.v, v.position.z < 0 ? 0.0f : 1.0f);
        EXPECT_TRUE(Is(v.colour, RGBA{255, 255, 255, 255}));
    }
    for (const Im3DVertex& v : under.vertices) EXPECT_TRUE(Is(v.colour, RGBA{160, 64, 0, 255}));
    // Opposite windings: seen from above, the top turns counter-clockwise.
    auto turn = [](const std::vector<Im3DVertex>& v) {
        const V3d a = V3dSub(v[1].position, v[0].position), c = V3dSub(v[2].position, v[0].position);
        return V3dCrossProduct(a, c).y;
    };
    EXPECT_GT(turn(top.vertices), 0.0f);
    EXPECT_LT(turn(under.vertices), 0.0f);
}

TEST_F(DomeOverlays, BuffersGrowToWhatIsAskedAndStayWhenTheyCannot) {
    EXPECT_TRUE(DomeReserveImmediate(10, 20));
    EXPECT_TRUE(DomeReserveImmediate(5, 5));
    const long live = CountedMemory::live;
    CountedMemory::failMalloc = true;
    EXPECT_TRUE(DomeReserveImmediate(10, 20));  // nothing to grow
    EXPECT_FALSE(DomeReserveImmediate(11, 20));
    EXPECT_FALSE(DomeReserveImmediate(10, 21));
    CountedMemory::failMalloc = false;
    EXPECT_EQ(CountedMemory::live, live);
    // Without room for its buffers an overlay is left out.
    ASSERT_NE(MakeDome(9), nullptr);
    View(V3d{0, 0, 5}, V3d{0, 0, -1});
    CountedMemory::failMalloc = true;
    DomeDrawWire();
    CountedMemory::failMalloc = false;
    EXPECT_TRUE(batches.empty());
    DomeDrawWire();
    EXPECT_EQ(batches.size(), 1u);
}

}  // namespace
}  // namespace kv::test
