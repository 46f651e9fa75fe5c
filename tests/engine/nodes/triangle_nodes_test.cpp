// Transform, cull and clip as the generic immediate-mode pipelines run them:
// clip flags at the edges of the view volume, culling in perspective and
// parallel views, the pieces a cut makes and where their vertices land, and
// the flat colour of a cut triangle.
#include <cmath>

#include "nodes_fixture.h"

namespace kv::test {
namespace {

using Nodes = NodesTest;

const CamSpace3DVertex* Stashed() { return Im3DModuleGet()->request.batch.camVertices; }
const MeshState* StashedState() { return Im3DModuleGet()->request.batch.meshState; }

TEST_F(Nodes, ClipFlagsCountTheEdgesOfTheVolumeAsInside) {
    Im3DVertex v[] = {
        Vertex(At(2, 0.5f, 2)),          // x = z exactly: on the right edge
        Vertex(At(2.001f, 0.5f, 2)),     // just past it
        Vertex(At(0, 0, 2)),             // the top-left corner
        Vertex(At(-0.001f, 1, 2)),       // left of it
        Vertex(At(1, 1, kNear)),         // on the near plane
        Vertex(At(0.5f, 0.5f, 0.999f)),  // in front of it
        Vertex(At(1, 1, kFar + 1)),      // beyond the far plane
        Vertex(At(1, 2.5f, 2)),          // below the bottom edge
    };
    ASSERT_NE(Im3DTransform(v, 8, nullptr, 0), nullptr);
    const CamSpace3DVertex* c = Stashed();
    ASSERT_NE(c, nullptr);
    const uint8 expected[] = {0, ClipRight, 0, ClipLeft, 0, ClipNear, ClipFar, ClipTop};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(c[i].clipFlags, expected[i]) << i;
    EXPECT_EQ(StashedState()->clipFlagsOr, ClipRight | ClipLeft | ClipNear | ClipFar | ClipTop);
    EXPECT_EQ(StashedState()->clipFlagsAnd, 0u);
    // Inside vertices land on the screen in pixels; the corner on pixel (0, 0).
    const Im2DVertex* s = Im3DModuleGet()->request.batch.scrVertices;
    EXPECT_FLOAT_EQ(s[0].x, kWidth);
    EXPECT_FLOAT_EQ(s[0].y, 0.25f * kHeight);
    EXPECT_FLOAT_EQ(s[2].x, 0);
    EXPECT_FLOAT_EQ(s[2].y, 0);
    Im3DEnd();

    Parallel();
    Im3DVertex p[] = {Vertex(AtParallel(1, 0.5f, 5)), Vertex(AtParallel(1.01f, 0.5f, 5)),
                      Vertex(AtParallel(0.5f, 1, 5))};
    ASSERT_NE(Im3DTransform(p, 3, nullptr, 0), nullptr);
    EXPECT_EQ(Stashed()[0].clipFlags, 0);
    EXPECT_EQ(Stashed()[1].clipFlags, ClipRight);
    EXPECT_EQ(Stashed()[2].clipFlags, 0);
}

TEST_F(Nodes, VerticesAllBeyondOnePlaneLeaveTransformOnItsSecondOutput) {
    Im3DVertex far[] = {Vertex(At(0.5f, 0.5f, kFar + 1)), Vertex(At(0.2f, 0.5f, kFar + 5)),
                        Vertex(At(0.5f, -3, kFar + 2))};
    ASSERT_NE(Im3DTransform(far, 3, nullptr, 0), nullptr);
    // The stash at the end of the first output never ran.
    EXPECT_EQ(Im3DModuleGet()->request.batch.objVertices, nullptr);
    EXPECT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
    EXPECT_TRUE(drawn.empty());

    far[2] = Vertex(At(0.5f, 0.5f, 50));
    ASSERT_NE(Im3DTransform(far, 3, nullptr, 0), nullptr);
    EXPECT_EQ(Im3DModuleGet()->request.batch.objVertices, far);
    EXPECT_EQ(StashedState()->clipFlagsAnd, 0u);
}

TEST_F(Nodes, DegenerateTrianglesAreCulledInPerspectiveAndKeptInParallelAtPlusZero) {
    // Front faces wind counter-clockwise on the screen with y down.
    // Quarters keep every product exact.
    Im3DVertex front[] = {Vertex(At(0.25f, 0.25f, 2)), Vertex(At(0.25f, 0.75f, 2)), Vertex(At(0.75f, 0.75f, 2))};
    Im3DVertex back[] = {front[0], front[2], front[1]};
    Im3DVertex flat[] = {Vertex(At(0.25f, 0.25f, 2)), Vertex(At(0.5f, 0.5f, 2)), Vertex(At(0.75f, 0.75f, 2))};
    auto count = [&](Im3DVertex* v) {
        drawn.clear();
        EXPECT_NE(Im3DTransform(v, 3, nullptr, 0), nullptr);
        EXPECT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
        return drawn.empty() ? 0 : static_cast<int>(drawn[0].vertices.size() / 3);
    };
    EXPECT_EQ(count(front), 1);
    EXPECT_EQ(count(back), 0);
    EXPECT_EQ(count(flat), 0);

    Parallel();
    Im3DVertex pFront[] = {Vertex(AtParallel(0.25f, 0.25f, 2)), Vertex(AtParallel(0.25f, 0.75f, 2)),
                           Vertex(AtParallel(0.75f, 0.75f, 2))};
    Im3DVertex pBack[] = {pFront[0], pFront[2], pFront[1]};
    Im3DVertex pFlat[] = {Vertex(AtParallel(0.25f, 0.25f, 2)), Vertex(AtParallel(0.5f, 0.5f, 2)),
                          Vertex(AtParallel(0.75f, 0.75f, 2))};
    EXPECT_EQ(count(pFront), 1);
    EXPECT_EQ(count(pBack), 0);
    EXPECT_EQ(count(pFlat), 1);
}

TEST_F(Nodes, ATriangleAcrossTheNearPlaneBecomesTwoWithNewVerticesOnThePlane) {
    Pipeline* p = TrianglePipeline({NodeDefinitionGetCullTriangle(), NodeDefinitionGetClipTriangle()});
    ASSERT_EQ(Im3DSetRenderPipeline(p, PrimTypeTriList), p);
    // A quad of two triangles sharing a corner behind the near plane: each
    // is cut to four corners, drawn as two pieces.
    Im3DVertex quad[] = {Vertex(At(0.1f, 0.1f, 0.5f)), Vertex(At(0.1f, 0.9f, 2)), Vertex(At(0.9f, 0.9f, 2)),
                         Vertex(At(0.9f, 0.1f, 2))};
    const uint32 indices[] = {0, 1, 2, 0, 2, 3};
    ASSERT_NE(Im3DTransform(quad, 4, nullptr, 0), nullptr);
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeTriList, indices, 6));
    ASSERT_EQ(recorded.size(), 1u);
    const Recorded& r = recorded[0];
    ASSERT_EQ(r.indices.size(), 12u);
    EXPECT_EQ(r.state.numPrimitives, 4u);
    // Four made vertices (two per cut triangle), after the four of the quad.
    ASSERT_EQ(r.cam.size(), 8u);
    EXPECT_EQ(r.state.numVertices, 8u);
    const real nearZ = r.scr[4].z;
    for (uint32 v = 4; v < 8; ++v) {
        EXPECT_EQ(r.cam[v].position.z, kNear) << v;
        EXPECT_EQ(r.cam[v].clipFlags & ClipAll, ClipNear) << v;
        EXPECT_EQ(r.scr[v].z, nearZ) << v;
    }
    // The near plane sits at the front end of the camera's depth range.
    EXPECT_NEAR(nearZ, camera->zScale / kNear + camera->zShift, 1e-3f);
    // The cut triangles keep their places; the one extra piece of each comes last.
    EXPECT_TRUE(r.indices[0] >= 4 || r.indices[1] >= 4 || r.indices[2] >= 4);
    EXPECT_TRUE(r.indices[3] >= 4 || r.indices[4] >= 4 || r.indices[5] >= 4);
    for (uint32 k : r.indices) EXPECT_NE(k, 0u) << "the vertex behind the plane is gone";
    // Each made vertex says where on which edge it was cut.
    ASSERT_EQ(r.interpolants.size(), 4u);
    for (const ClipInterpolant& i : r.interpolants) {
        EXPECT_GE(i.newVertex, 4u);
        EXPECT_EQ(i.outsideVertex, 0u);
        EXPECT_GT(i.t, 0.0f);
        EXPECT_LT(i.t, 1.0f);
        const V3d& a = r.cam[i.outsideVertex].position;
        const V3d& b = r.cam[i.insideVertex].position;
        EXPECT_NEAR(r.cam[i.newVertex].position.x, a.x + (b.x - a.x) * i.t, 1e-5f);
        EXPECT_NEAR(r.cam[i.newVertex].position.y, a.y + (b.y - a.y) * i.t, 1e-5f);
    }
}

TEST_F(Nodes, ACutAtTheLeftCornerSnapsNewVerticesToTheRastersEdges) {
    // A triangle over the top-left corner of the window, on the screen side
    // of the view (x' < 0 is left, y' < 0 above the top edge).
    Im3DVertex v[] = {Vertex(At(-0.3f, -0.2f, 2)), Vertex(At(-0.2f, 1.0f, 2)), Vertex(At(1.2f, 0.6f, 2))};
    ASSERT_NE(Im3DTransform(v, 3, nullptr, 0), nullptr);
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
    ASSERT_EQ(drawn.size(), 1u);
    bool onLeft = false, onTop = false;
    for (const Im2DVertex& s : drawn[0].vertices) {
        EXPECT_GE(s.x, 0.0f);
        EXPECT_GE(s.y, 0.0f);
        onLeft = onLeft || s.x == 0.0f;
        onTop = onTop || s.y == 0.0f;
    }
    EXPECT_TRUE(onLeft);
    EXPECT_TRUE(onTop);
}

TEST_F(Nodes, TrianglesCutToNothingLeaveOnTheAllClippedOutputWithNoPrimitives) {
    Pipeline* p =
        TrianglePipeline({NodeDefinitionGetCullTriangle(), NodeDefinitionGetClipTriangle()}, "ClipAllClipped");
    ASSERT_EQ(Im3DSetRenderPipeline(p, PrimTypeTriList), p);
    // Outside past the top-left corner, but no one plane has all three.
    Im3DVertex v[] = {Vertex(At(-0.5f, 0.2f, 2)), Vertex(At(0.2f, -0.5f, 2)), Vertex(At(-1, -1, 2))};
    ASSERT_NE(Im3DTransform(v, 3, nullptr, 0), nullptr);
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].node, 1);
    EXPECT_EQ(recorded[0].state.numPrimitives, 0u);
    EXPECT_FALSE(recorded[0].hasIndices);
}

TEST_F(Nodes, EveryPieceOfAFlatTriangleKeepsItsColourWhenTheColouringVertexIsCut) {
    RenderStateSet(StateShadeMode, 1);
    // The third vertex gives a flat triangle its colour; it is left of the
    // window and cut away.
    const RGBA a{255, 0, 0, 255}, b{0, 255, 0, 255}, c{0, 0, 255, 255};
    Im3DVertex v[] = {Vertex(At(0.8f, 1.6f, 2), b), Vertex(At(0.5f, 0.1f, 2), a), Vertex(At(-0.5f, 1.0f, 2), c)};
    ASSERT_NE(Im3DTransform(v, 3, nullptr, 0), nullptr);
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
    ASSERT_EQ(drawn.size(), 1u);
    const std::vector<Im2DVertex>& out = drawn[0].vertices;
    ASSERT_GE(out.size(), 6u);  // cut into a fan
    for (std::size_t t = 0; t + 2 < out.size(); t += 3) EXPECT_TRUE(SameColour(out[t + 2], c)) << t / 3;

    // Gouraud shading interpolates the made vertices instead.
    RenderStateSet(StateShadeMode, 2);
    drawn.clear();
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
    ASSERT_EQ(drawn.size(), 1u);
    int blue = 0;
    for (const Im2DVertex& s : drawn[0].vertices) blue += SameColour(s, c) ? 1 : 0;
    EXPECT_EQ(blue, 0);
}

TEST_F(Nodes, ALineCrossingTheWindowEdgeIsCutAtIt) {
    Im3DVertex v[] = {Vertex(At(-0.5f, 0.5f, 2)), Vertex(At(0.5f, 0.5f, 2)), Vertex(At(-0.5f, 0.2f, 2)),
                      Vertex(At(-0.4f, 0.9f, 2))};
    const uint32 indices[] = {0, 1, 2, 3};
    ASSERT_NE(Im3DTransform(v, 4, nullptr, 0), nullptr);
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeLineList, indices, 4));
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].primType, PrimTypeLineList);
    // The line wholly left of the window is gone; the other starts on the edge.
    ASSERT_EQ(drawn[0].vertices.size(), 2u);
    EXPECT_EQ(drawn[0].vertices[0].x, 0.0f);
    EXPECT_FLOAT_EQ(drawn[0].vertices[1].x, 0.25f * kWidth);
    EXPECT_FLOAT_EQ(drawn[0].vertices[0].y, 0.25f * kHeight);
}

}  // namespace
}  // namespace kv::test
