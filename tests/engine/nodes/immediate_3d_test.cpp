// The 3D immediate-mode front end and its pipelines on the null device: what
// the index manglers make of strips, fans and polylines, the counts the front
// end cuts, the limits it refuses, and the life of a transformed batch.
#include <vector>

#include "nodes_fixture.h"

namespace kv::test {
namespace {

using Im3D = NodesTest;

// A square of n vertices across the middle of the view, all inside.
std::vector<Im3DVertex> Row(int n) {
    std::vector<Im3DVertex> v;
    for (int i = 0; i < n; ++i) {
        const real x = 0.1f + 0.8f * static_cast<real>(i) / static_cast<real>(n);
        v.push_back(NodesTest::Vertex(NodesTest::At(x, (i % 2) != 0 ? 0.7f : 0.3f, 2)));
    }
    return v;
}

std::vector<uint32> Triples(std::initializer_list<uint32> list) { return std::vector<uint32>(list); }

TEST_F(Im3D, StripsFansAndPolylinesBecomeListsOfTheGivenIndices) {
    Pipeline* triangles = TrianglePipeline({});
    ASSERT_EQ(Im3DSetRenderPipeline(triangles, PrimTypeTriStrip), triangles);
    ASSERT_EQ(Im3DSetRenderPipeline(triangles, PrimTypeTriFan), triangles);
    ASSERT_EQ(Im3DSetRenderPipeline(triangles, PrimTypeTriList), triangles);
    std::vector<Im3DVertex> v = Row(12);
    ASSERT_NE(Im3DTransform(v.data(), 12, nullptr, 0), nullptr);

    const uint32 strip[] = {10, 11, 5, 6, 7};
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeTriStrip, strip, 5));
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].indices, Triples({10, 11, 5, 5, 11, 6, 5, 6, 7}));
    EXPECT_EQ(recorded[0].state.primType, PrimTypeTriList);
    EXPECT_EQ(recorded[0].state.numPrimitives, 3u);

    // Unindexed: the batch's vertices in order, a fan of four around vertex 0.
    recorded.clear();
    ASSERT_NE(Im3DTransform(v.data(), 6, nullptr, 0), nullptr);
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriFan));
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].indices, Triples({0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 5}));

    // A list of 7 indices draws 2 triangles.
    recorded.clear();
    const uint32 seven[] = {0, 1, 2, 3, 4, 5, 1};
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeTriList, seven, 7));
    EXPECT_EQ(recorded[0].indices, Triples({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(recorded[0].state.numPrimitives, 2u);
}

TEST_F(Im3D, PolylinesAndOddLineListsAreCutToWholeSegments) {
    std::vector<Im3DVertex> v = Row(6);
    ASSERT_NE(Im3DTransform(v.data(), 6, nullptr, 0), nullptr);
    const uint32 poly[] = {5, 0, 3, 1};
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypePolyLine, poly, 4));
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_EQ(drawn[0].vertices.size(), 6u);  // three segments
    const Im2DVertex* s = Im3DModuleGet()->request.batch.scrVertices;
    const uint32 expected[] = {5, 0, 0, 3, 3, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(drawn[0].vertices[i].x, s[expected[i]].x) << i;

    drawn.clear();
    const uint32 five[] = {0, 1, 2, 3, 4};
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeLineList, five, 5));
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].vertices.size(), 4u);  // two lines

    // Unindexed, a polyline runs through every vertex.
    drawn.clear();
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypePolyLine));
    EXPECT_EQ(drawn[0].vertices.size(), 10u);
}

TEST_F(Im3D, BatchesOfUpTo65535VerticesAreTaken) {
    ErrorLog log;
    std::vector<Im3DVertex> v(65536, Vertex(At(0.5f, 0.5f, 2)));
    EXPECT_NE(Im3DTransform(v.data(), 65535, nullptr, 0), nullptr);
    EXPECT_EQ(Im3DModuleGet()->request.numVertices, 65535u);
    EXPECT_EQ(Im3DTransform(v.data(), 65536, nullptr, 0), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrIm3DTooManyVertices));
    // The refused batch does not leave the old one to draw.
    EXPECT_FALSE(Im3DRenderPrimitive(PrimTypeTriList));
}

TEST_F(Im3D, PointsHaveNoPipelineUntilOneIsSet) {
    std::vector<Im3DVertex> v = Row(3);
    ASSERT_NE(Im3DTransform(v.data(), 3, nullptr, 0), nullptr);
    ErrorLog log;
    EXPECT_EQ(Im3DGetRenderPipeline(PrimTypePointList), nullptr);
    EXPECT_FALSE(Im3DRenderPrimitive(PrimTypePointList));
    EXPECT_FALSE(Im3DRenderPrimitive(7));
    EXPECT_TRUE(log.Has(kModuleCore, kErrIm3DPrimType));
    EXPECT_EQ(Im3DSetRenderPipeline(nullptr, 0), nullptr);

    Pipeline* points = TrianglePipeline({});
    ASSERT_EQ(Im3DSetRenderPipeline(points, PrimTypePointList), points);
    // The triangle mangler knows no points: the packet goes on, the render fails.
    EXPECT_FALSE(Im3DRenderPrimitive(PrimTypePointList));
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].state.primType, PrimTypePointList);
    EXPECT_EQ(Im3DSetRenderPipeline(nullptr, PrimTypePointList), nullptr);
}

TEST_F(Im3D, SettingNoPipelineBringsBackTheDefault) {
    Pipeline* generic = Im3DGetDefaultRenderPipeline(PrimTypeTriList);
    ASSERT_NE(generic, nullptr);
    EXPECT_EQ(Im3DGetDefaultRenderPipeline(PrimTypeTriFan), generic);
    EXPECT_NE(Im3DGetDefaultRenderPipeline(PrimTypeLineList), generic);
    EXPECT_EQ(Im3DGetDefaultRenderPipeline(PrimTypeLineList), Im3DGetDefaultRenderPipeline(PrimTypePolyLine));
    Pipeline* mine = TrianglePipeline({});
    EXPECT_EQ(Im3DSetRenderPipeline(mine, PrimTypeTriList), mine);
    EXPECT_EQ(Im3DGetRenderPipeline(PrimTypeTriList), mine);
    EXPECT_EQ(Im3DSetRenderPipeline(nullptr, PrimTypeTriList), generic);
    EXPECT_EQ(Im3DSetTransformPipeline(mine), mine);
    EXPECT_EQ(Im3DSetTransformPipeline(nullptr), Im3DGetDefaultTransformPipeline());
}

TEST_F(Im3D, ABatchDrawsUntilItEndsOrTheHeapIsEmptied) {
    std::vector<Im3DVertex> v = Row(3);
    const uint32 tri[] = {0, 1, 2};
    ErrorLog log;
    EXPECT_FALSE(Im3DRenderPrimitive(PrimTypeTriList));
    EXPECT_TRUE(log.Has(kModuleCore, kErrIm3DNoBatch));
    EXPECT_FALSE(Im3DEnd());

    ASSERT_NE(Im3DTransform(v.data(), 3, nullptr, 0), nullptr);
    const CamSpace3DVertex* stashed = Im3DModuleGet()->request.batch.camVertices;
    // Twice from one transform: the same vertices, not transformed again.
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeTriList, tri, 3));
    ASSERT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeTriList, tri, 3));
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(Im3DModuleGet()->request.batch.camVertices, stashed);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(drawn[0].vertices[i].x, drawn[1].vertices[i].x);
        EXPECT_EQ(drawn[0].vertices[i].y, drawn[1].vertices[i].y);
    }
    // The caller's indices are left as they were.
    EXPECT_EQ(tri[0], 0u);
    EXPECT_EQ(tri[2], 2u);

    // Anything else that runs a pipeline from an empty heap ends the batch.
    log.errors.clear();
    ASSERT_TRUE(HeapReset(PipelineModuleHeap()));
    EXPECT_FALSE(Im3DRenderPrimitive(PrimTypeTriList));
    EXPECT_TRUE(log.Has(kModuleCore, kErrIm3DNoBatch));

    ASSERT_NE(Im3DTransform(v.data(), 3, nullptr, 0), nullptr);
    EXPECT_TRUE(Im3DEnd());
    log.errors.clear();
    EXPECT_FALSE(Im3DRenderPrimitive(PrimTypeTriList));
    EXPECT_TRUE(log.Has(kModuleCore, kErrIm3DNoBatch));
    EXPECT_EQ(drawn.size(), 2u);
}

TEST_F(Im3D, IndicesPastTheBatchAreRefusedAndNothingIsDrawn) {
    std::vector<Im3DVertex> v = Row(4);
    ASSERT_NE(Im3DTransform(v.data(), 4, nullptr, 0), nullptr);
    ErrorLog log;
    const uint32 past[] = {0, 1, 2, 1, 2, 4};
    EXPECT_FALSE(Im3DRenderIndexedPrimitive(PrimTypeTriList, past, 6));
    EXPECT_FALSE(Im3DRenderIndexedPrimitive(PrimTypeLineList, past, 6));
    EXPECT_TRUE(log.Has(kModuleNone, kErrOutOfRange));
    EXPECT_TRUE(drawn.empty());
    // Indices left over by the count's cut are not read.
    const uint32 cut[] = {0, 1, 2, 9};
    EXPECT_TRUE(Im3DRenderIndexedPrimitive(PrimTypeTriList, cut, 4));
    EXPECT_EQ(drawn.size(), 1u);
    // Outside camera begin and end update nothing is transformed.
    EngineInstanceGet()->curCamera = nullptr;
    EXPECT_EQ(Im3DTransform(v.data(), 4, nullptr, 0), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrCoreNoCamera));
}

TEST_F(Im3D, TheMatrixPlacesTheBatchAndTheFlagsAskForBlending) {
    std::vector<Im3DVertex> v = Row(3);
    Matrix m;
    MatrixSetIdentity(&m);
    const V3d shift{-1, 0, 0};  // half a window to the right on the screen at z = 2
    MatrixTranslate(&m, &shift, CombineReplace);
    ASSERT_NE(Im3DTransform(v.data(), 3, nullptr, Im3DTransformNoAlpha), nullptr);
    const real x0 = Im3DModuleGet()->request.batch.scrVertices[0].x;
    const RenderStateRecord* render = Im3DModuleGet()->request.batch.renderState;
    EXPECT_EQ(render->flags & RenderStateFlagVertexAlpha, 0u);
    ASSERT_NE(Im3DTransform(v.data(), 3, &m, 0), nullptr);
    EXPECT_FLOAT_EQ(Im3DModuleGet()->request.batch.scrVertices[0].x, x0 + 0.25f * kWidth);
    EXPECT_NE(Im3DModuleGet()->request.batch.renderState->flags & RenderStateFlagVertexAlpha, 0u);
    // Blending stays only when the device has it on as well.
    RenderStateSet(StateVertexAlphaEnable, 0);
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
    EXPECT_EQ(states[StateVertexAlphaEnable], 0);
    RenderStateSet(StateVertexAlphaEnable, 1);
    ASSERT_NE(Im3DTransform(v.data(), 3, &m, 0), nullptr);
    ASSERT_TRUE(Im3DRenderPrimitive(PrimTypeTriList));
    EXPECT_EQ(states[StateVertexAlphaEnable], 1);
}

}  // namespace
}  // namespace kv::test
