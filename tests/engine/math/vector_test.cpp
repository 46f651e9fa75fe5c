#include "engine/math/vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/math/bbox.h"
#include "engine/math/matrix.h"
#include "engine_fixture.h"
#include "error_log.h"

namespace kv {
namespace {

using Vectors = test::StartedEngine;

uint32 Bits(float f) {
    uint32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

TEST_F(Vectors, FastRootsFollowTheTableRule) {
    EXPECT_EQ(SqrtFast(4.0f), 2.0f);
    EXPECT_EQ(SqrtFast(1.0f), 1.0f);
    EXPECT_EQ(InvSqrtFast(4.0f), 0.5f);
    EXPECT_EQ(SqrtFast(0.0f), 0.0f);
    EXPECT_EQ(InvSqrtFast(0.0f), 0.0f);
    // 2.0 is the first entry of the [2, 4) half: the table holds the rounded
    // root exactly.
    EXPECT_EQ(Bits(SqrtFast(2.0f)), Bits(static_cast<float>(std::sqrt(2.0L))));
    EXPECT_EQ(Bits(InvSqrtFast(2.0f)), Bits(static_cast<float>(1.0L / std::sqrt(2.0L))));
    EXPECT_EQ(Bits(SqrtFastBits(Bits(9.0f))), Bits(3.0f));
}

TEST_F(Vectors, FastRootsAreCloseOverTheWholeRange) {
    // Eleven mantissa bits: the relative error stays below 2^-11.
    for (float x = 1e-30f; x < 1e30f; x *= 1.37f) {
        const double root = std::sqrt(static_cast<double>(x));
        EXPECT_NEAR(SqrtFast(x) / root, 1.0, 5e-4) << x;
        EXPECT_NEAR(InvSqrtFast(x) * root, 1.0, 5e-4) << x;
    }
}

TEST_F(Vectors, NormalizeReportsAZeroVector) {
    test::ErrorLog log;
    V3d out{9.0f, 9.0f, 9.0f};
    const V3d zero{0.0f, 0.0f, 0.0f};
    EXPECT_EQ(V3dNormalize(&out, &zero), 0.0f);
    EXPECT_EQ(out.x, 0.0f);
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_EQ(out.z, 0.0f);
    ASSERT_TRUE(log.Has(kModuleCore, kErrZeroLengthVector));
    ErrorRecord kept;
    ASSERT_TRUE(ErrorGet(&kept));
    EXPECT_EQ(kept.pluginID, 1);
    EXPECT_EQ(kept.errorCode, 25);

    const V3d v{3.0f, 0.0f, 4.0f};
    EXPECT_NEAR(V3dNormalize(&out, &v), 5.0f, 5e-3f);
    EXPECT_NEAR(out.x, 0.6f, 1e-3f);
    EXPECT_NEAR(out.z, 0.8f, 1e-3f);
    EXPECT_NEAR(V3dLength(&v), 5.0f, 5e-3f);
    const float recip = V3dNormalizeFast(&out, &v);
    EXPECT_NEAR(recip, 0.2f, 1e-4f);
    EXPECT_NEAR(out.z, 0.8f, 1e-3f);
}

TEST_F(Vectors, TransformsMayWorkInPlaceAndCanBeReplaced) {
    Matrix m;
    MatrixSetIdentity(&m);
    m.right = V3d{0.0f, 1.0f, 0.0f};  // x -> y
    m.up = V3d{-1.0f, 0.0f, 0.0f};    // y -> -x
    m.pos = V3d{10.0f, 20.0f, 30.0f};
    MatrixUpdate(&m);
    V3d v[2] = {{1.0f, 2.0f, 3.0f}, {0.0f, 0.0f, 0.0f}};
    V3dTransformPoints(v, v, 2, &m);
    EXPECT_EQ(v[0].x, 8.0f);
    EXPECT_EQ(v[0].y, 21.0f);
    EXPECT_EQ(v[0].z, 33.0f);
    EXPECT_EQ(v[1].x, 10.0f);
    V3d d{1.0f, 2.0f, 3.0f};
    V3dTransformVectors(&d, &d, 1, &m);
    EXPECT_EQ(d.x, -2.0f);
    EXPECT_EQ(d.y, 1.0f);
    EXPECT_EQ(d.z, 3.0f);

    static int calls;
    calls = 0;
    V3dSetTransformFunctions(
        [](V3d* out, const V3d* in, int32 count, const Matrix* mat) {
            ++calls;
            return V3dTransformPointsPortable(out, in, count, mat);
        },
        nullptr);
    V3dTransformPoint(&d, &d, &m);
    V3dTransformVector(&d, &d, &m);
    EXPECT_EQ(calls, 1);
}

TEST(BBox, OnePointAndStrictGrowth) {
    const V3d pts[3] = {{1.0f, -2.0f, 3.0f}, {-1.0f, 5.0f, 3.0f}, {0.0f, 0.0f, 7.0f}};
    BBox box;
    BBoxCalculate(&box, pts, 1);
    EXPECT_EQ(std::memcmp(&box.max, &pts[0], sizeof(V3d)), 0);
    EXPECT_EQ(std::memcmp(&box.min, &pts[0], sizeof(V3d)), 0);
    BBoxCalculate(&box, pts, 3);
    EXPECT_EQ(box.max.x, 1.0f);
    EXPECT_EQ(box.max.y, 5.0f);
    EXPECT_EQ(box.max.z, 7.0f);
    EXPECT_EQ(box.min.x, -1.0f);
    EXPECT_EQ(box.min.y, -2.0f);
    EXPECT_EQ(box.min.z, 3.0f);
    EXPECT_TRUE(BBoxContainsPoint(&box, &pts[2]));
    const V3d outside{0.0f, 6.0f, 5.0f};
    EXPECT_FALSE(BBoxContainsPoint(&box, &outside));
}

}  // namespace
}  // namespace kv
