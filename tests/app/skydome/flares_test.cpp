// Where the lens flares go: along the line from the view centre through the
// sun's image on the plane 1.01 in front of the camera, or nowhere when the
// sun is not in front of the camera.
#include "app/skydome/flares.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kv {
namespace {

V3d Unit(V3d v) {
    const float n = std::sqrt(V3dDotProduct(v, v));
    return V3dScale(v, 1.0f / n);
}

void ExpectNear(const V3d& a, const V3d& b, float tolerance, const char* what) {
    EXPECT_NEAR(a.x, b.x, tolerance) << what;
    EXPECT_NEAR(a.y, b.y, tolerance) << what;
    EXPECT_NEAR(a.z, b.z, tolerance) << what;
}

// A camera at pos looking along at (unit), with y up.
Matrix Camera(V3d pos, V3d at) {
    Matrix m{};
    m.at = at;
    m.up = V3d{0.0f, 1.0f, 0.0f};
    m.right = V3dCrossProduct(m.up, at);
    m.pos = pos;
    return m;
}

TEST(FlaresPlace, TheFlaresLieOnTheLineThroughTheSunsImage) {
    const V3d p{1.0f, 2.0f, 3.0f};
    const Matrix camera = Camera(p, V3d{0.0f, 0.0f, 1.0f});
    const V3d sun = Unit(V3d{0.3f, 0.2f, 1.0f});
    ASSERT_TRUE(FlaresPlace(&camera, &sun));

    // The sun's image and the view centre on the plane 1.01 ahead.
    const V3d image = V3dIncrementScaled(p, sun, 1.01f / sun.z);
    const V3d centre = V3dIncrementScaled(p, camera.at, 1.01f);
    const V3d line = V3dSub(image, centre);
    const FlareEntry* table = FlaresGetTable();
    const V3d* at = FlaresGetPositions();
    for (int32 i = 0; i < kFlareCount; ++i) {
        ExpectNear(at[i], V3dIncrementScaled(centre, line, table[i].t), 1e-5f, "on the line");
        EXPECT_NEAR(at[i].z, centre.z, 1e-5f) << "on the plane " << i;
    }
    // The sun's own flares, the one beyond it, those past the centre.
    for (int32 i : {1, 9, 10, 11}) ExpectNear(at[i], image, 1e-5f, "at the sun's image");
    EXPECT_GT(V3dDotProduct(V3dSub(at[0], image), line), 0.0f) << "beyond the sun";
    for (int32 i = 5; i <= 8; ++i) EXPECT_LT(V3dDotProduct(V3dSub(at[i], centre), line), 0.0f) << i;

    // The quads' axes: along the line, and across it in the plane.
    V3d u, w;
    FlaresGetAxes(&u, &w);
    ExpectNear(u, Unit(line), 1e-3f, "u");
    ExpectNear(w, V3dCrossProduct(u, camera.at), 1e-5f, "w = u x at");
    EXPECT_NEAR(V3dDotProduct(w, camera.at), 0.0f, 1e-5f);
}

TEST(FlaresPlace, NoFlaresWhenTheSunIsBehindTheCameraOrOnItsPlane) {
    const Matrix camera = Camera(V3d{0.0f, 0.0f, 0.0f}, V3d{0.0f, 0.0f, 1.0f});
    const V3d ahead = Unit(V3d{0.5f, 0.5f, 1.0f});
    ASSERT_TRUE(FlaresPlace(&camera, &ahead));
    const V3d before = FlaresGetPositions()[0];

    const V3d behind = Unit(V3d{0.5f, 0.5f, -1.0f});
    EXPECT_FALSE(FlaresPlace(&camera, &behind));
    // Exactly on the camera's plane the image would lie at infinity: nothing
    // is drawn, and nothing is placed at infinity or from a division by zero.
    for (const V3d& side : {V3d{1.0f, 0.0f, 0.0f}, V3d{0.0f, 1.0f, -0.0f}}) {
        EXPECT_FALSE(FlaresPlace(&camera, &side));
    }
    // What was placed last stays as it was.
    ExpectNear(FlaresGetPositions()[0], before, 0.0f, "untouched");
    for (int32 i = 0; i < kFlareCount; ++i) {
        const V3d& q = FlaresGetPositions()[i];
        EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z)) << i;
    }
}

TEST(FlaresPlace, LookingStraightAtTheSunTheFlaresCollapseOntoTheCentre) {
    const V3d at = Unit(V3d{0.0f, 1.0f, 1.0f});
    Matrix camera = Camera(V3d{0.0f, 0.0f, 0.0f}, at);
    ASSERT_TRUE(FlaresPlace(&camera, &at));
    for (int32 i = 0; i < kFlareCount; ++i) ExpectNear(FlaresGetPositions()[i], V3dScale(at, 1.01f), 1e-6f, "centre");
    // Where the image is exactly the centre there is no line: the quads have
    // no size, and nothing is made of a zero-length line.
    const V3d up{0.0f, 1.0f, 0.0f};
    camera = Camera(V3d{0.0f, 0.0f, 0.0f}, up);
    ASSERT_TRUE(FlaresPlace(&camera, &up));
    V3d u{1.0f, 1.0f, 1.0f}, w{1.0f, 1.0f, 1.0f};
    FlaresGetAxes(&u, &w);
    ExpectNear(u, V3d{0.0f, 0.0f, 0.0f}, 0.0f, "u");
    ExpectNear(w, V3d{0.0f, 0.0f, 0.0f}, 0.0f, "w");
}

TEST(FlaresPlace, ColoursFollowTheBrightnessTruncated) {
    EXPECT_EQ(FlareColour(0.6f), (RGBA{76, 38, 38, 255}));
    EXPECT_EQ(FlareColour(0.3f), (RGBA{38, 19, 19, 255}));
    EXPECT_EQ(FlareColour(0.2f), (RGBA{25, 12, 12, 255}));
    // Every texture the table names is one of the eight.
    for (int32 i = 0; i < kFlareCount; ++i) {
        EXPECT_GE(FlaresGetTable()[i].texture, 0);
        EXPECT_LT(FlaresGetTable()[i].texture, kFlareTextureCount);
    }
}

}  // namespace
}  // namespace kv
