// The clipper at the planes the window tests do not reach: the far plane in
// perspective and parallel views, for triangles and lines, and the parallel
// view's own top and right planes. Where each made vertex lies, what it is
// flagged with, how far along its edge it was made, and where it lands on
// the screen.
#include "engine/nodes/node_clip_line.h"
#include "nodes_fixture.h"

namespace kv::test {
namespace {

class Clip : public NodesTest {
  protected:
    // The packet after ClipTriangle (or ClipLine) of one primitive of the
    // given vertices.
    Recorded Clipped(std::vector<Im3DVertex> v, bool lines) {
        Pipeline* p =
            lines ? LinePipeline({NodeDefinitionGetClipLine()}) : TrianglePipeline({NodeDefinitionGetClipTriangle()});
        const int32 type = lines ? PrimTypeLineList : PrimTypeTriList;
        EXPECT_EQ(Im3DSetRenderPipeline(p, type), p);
        recorded.clear();
        EXPECT_NE(Im3DTransform(v.data(), static_cast<int32>(v.size()), nullptr, 0), nullptr);
        EXPECT_TRUE(Im3DRenderPrimitive(type));
        Im3DEnd();
        Im3DSetRenderPipeline(nullptr, type);
        EXPECT_EQ(recorded.size(), 1u);
        return recorded.empty() ? Recorded{} : recorded[0];
    }

    // The device depth of a plane at distance d, as the camera maps depth.
    real ScreenZ(real d) const {
        const bool perspective = CameraGetProjection(camera) == ProjectionPerspective;
        return (perspective ? 1.0f / d : d) * camera->zScale + camera->zShift;
    }

    // Every vertex made after the first `given`, checked against the edge it
    // was made on: t from the outside vertex to the inside one.
    static void ExpectOnTheirEdges(const Recorded& r, uint32 given) {
        for (const ClipInterpolant& i : r.interpolants) {
            ASSERT_LT(i.newVertex, r.cam.size());
            EXPECT_GE(i.newVertex, given);
            const V3d& a = r.cam[i.outsideVertex].position;
            const V3d& b = r.cam[i.insideVertex].position;
            const V3d& n = r.cam[i.newVertex].position;
            EXPECT_NEAR(n.x, a.x + (b.x - a.x) * i.t, 1e-3f);
            EXPECT_NEAR(n.y, a.y + (b.y - a.y) * i.t, 1e-3f);
            EXPECT_NEAR(n.z, a.z + (b.z - a.z) * i.t, 1e-3f);
        }
    }
};

TEST_F(Clip, ATriangleThroughTheFarPlaneIsCutOnItInPerspective) {
    // Two corners at depth 50, one at 150 beyond the far plane (100): the
    // far corner's two edges are cut half way.
    const Recorded r = Clipped({Vertex(At(20, 20, 50)), Vertex(At(30, 20, 50)), Vertex(At(40, 60, 150))}, false);
    ASSERT_EQ(r.cam.size(), 5u);
    EXPECT_EQ(r.state.numPrimitives, 2u);
    ASSERT_EQ(r.indices.size(), 6u);
    for (uint32 k : r.indices) EXPECT_NE(k, 2u) << "the corner beyond the plane is gone";
    ASSERT_EQ(r.interpolants.size(), 2u);
    for (const ClipInterpolant& i : r.interpolants) {
        EXPECT_EQ(i.outsideVertex, 2u);
        EXPECT_FLOAT_EQ(i.t, 0.5f);
    }
    ExpectOnTheirEdges(r, 3);
    for (uint32 v : {3u, 4u}) {
        SCOPED_TRACE(v);
        const CamSpace3DVertex& c = r.cam[v];
        EXPECT_EQ(c.position.z, kFar);
        EXPECT_EQ(c.clipFlags & ClipAll, ClipFar);
        EXPECT_FLOAT_EQ(c.position.y, 40.0f);
        // On the screen at x / z and y / z of the window, at the far end of
        // the depth range.
        const Im2DVertex& s = r.scr[v];
        EXPECT_FLOAT_EQ(s.x, kWidth * c.position.x / kFar);
        EXPECT_FLOAT_EQ(s.y, kHeight * 0.4f);
        EXPECT_EQ(s.z, ScreenZ(kFar));
        EXPECT_NE(s.z, ScreenZ(kNear));
        EXPECT_FLOAT_EQ(s.recipZ, 1.0f / kFar);
    }
    // One from each far edge: towards (30, 20) and towards (20, 20).
    const real xs[] = {r.cam[3].position.x, r.cam[4].position.x};
    EXPECT_TRUE((xs[0] == 35.0f && xs[1] == 30.0f) || (xs[0] == 30.0f && xs[1] == 35.0f)) << xs[0] << " " << xs[1];
}

TEST_F(Clip, ALineThroughTheFarPlaneEndsOnItAndOneBeyondItIsGone) {
    const Recorded r = Clipped(
        {Vertex(At(10, 30, 50)), Vertex(At(40, 30, 200)), Vertex(At(10, 10, 120)), Vertex(At(12, 10, 130))}, true);
    // The second line lies wholly beyond the plane.
    ASSERT_EQ(r.indices.size(), 2u);
    EXPECT_EQ(r.state.numPrimitives, 1u);
    EXPECT_EQ(r.indices[0], 0u);
    const uint32 made = r.indices[1];
    ASSERT_GE(made, 4u);
    const CamSpace3DVertex& c = r.cam[made];
    // A third of the way from (10, 30, 50) to (40, 30, 200).
    EXPECT_EQ(c.position.z, kFar);
    EXPECT_NEAR(c.position.x, 20.0f, 1e-4f);
    EXPECT_EQ(c.clipFlags & ClipAll, ClipFar);
    EXPECT_EQ(r.scr[made].z, ScreenZ(kFar));
    EXPECT_NEAR(r.scr[made].x, kWidth * 0.2f, 1e-3f);
    EXPECT_NEAR(r.scr[made].y, kHeight * 0.3f, 1e-3f);
}

TEST_F(Clip, ParallelViewsCutAtTheFarPlaneAndAtOneAcrossTheWindow) {
    Parallel();
    // x and y run from 0 to 1 across the window whatever the depth.
    const Recorded r = Clipped(
        {Vertex(AtParallel(0.2f, 0.2f, 50)), Vertex(AtParallel(0.4f, 0.2f, 50)), Vertex(AtParallel(0.6f, 0.6f, 150))},
        false);
    ASSERT_EQ(r.cam.size(), 5u);
    ExpectOnTheirEdges(r, 3);
    for (uint32 v : {3u, 4u}) {
        EXPECT_EQ(r.cam[v].position.z, kFar);
        EXPECT_EQ(r.cam[v].clipFlags & ClipAll, ClipFar);
        EXPECT_EQ(r.scr[v].z, ScreenZ(kFar));
        EXPECT_NEAR(r.scr[v].y, kHeight * 0.4f, 1e-3f);
        EXPECT_FLOAT_EQ(r.scr[v].recipZ, 1.0f);
    }

    // Past the right (x > 1) and the top (y > 1): new corners exactly on
    // x = 1 and y = 1, the screen's right and bottom edges.
    const Recorded side = Clipped(
        {Vertex(AtParallel(0.5f, 0.5f, 5)), Vertex(AtParallel(0.5f, 0.25f, 5)), Vertex(AtParallel(1.5f, 0.5f, 5))},
        false);
    ExpectOnTheirEdges(side, 3);
    ASSERT_EQ(side.interpolants.size(), 2u);
    for (const ClipInterpolant& i : side.interpolants) {
        EXPECT_EQ(i.outsideVertex, 2u);
        EXPECT_FLOAT_EQ(i.t, 0.5f);  // (1 - 1.5) / (0.5 - 1.5)
        const CamSpace3DVertex& c = side.cam[i.newVertex];
        EXPECT_EQ(c.position.x, 1.0f);
        EXPECT_EQ(c.clipFlags & ClipAll, ClipRight);
        EXPECT_EQ(side.scr[i.newVertex].x, static_cast<real>(kWidth));
        EXPECT_EQ(side.scr[i.newVertex].z, 5 * camera->zScale + camera->zShift);
    }
    const Recorded top = Clipped(
        {Vertex(AtParallel(0.5f, 0.5f, 5)), Vertex(AtParallel(0.25f, 0.5f, 5)), Vertex(AtParallel(0.5f, 1.25f, 5))},
        false);
    ASSERT_EQ(top.interpolants.size(), 2u);
    for (const ClipInterpolant& i : top.interpolants) {
        EXPECT_FLOAT_EQ(i.t, 1.0f / 3.0f);  // (1 - 1.25) / (0.5 - 1.25)
        EXPECT_EQ(top.cam[i.newVertex].position.y, 1.0f);
        EXPECT_EQ(top.cam[i.newVertex].clipFlags & ClipAll, ClipTop);
        EXPECT_EQ(top.scr[i.newVertex].y, static_cast<real>(kHeight));
    }

    // A line through the far plane in a parallel view.
    const Recorded line = Clipped({Vertex(AtParallel(0.1f, 0.5f, 25)), Vertex(AtParallel(0.9f, 0.5f, 125))}, true);
    ASSERT_EQ(line.indices.size(), 2u);
    const CamSpace3DVertex& end = line.cam[line.indices[1]];
    EXPECT_EQ(end.position.z, kFar);
    EXPECT_NEAR(end.position.x, 0.7f, 1e-5f);
    EXPECT_EQ(line.scr[line.indices[1]].z, ScreenZ(kFar));
}

}  // namespace
}  // namespace kv::test
