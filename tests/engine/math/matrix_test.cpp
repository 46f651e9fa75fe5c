#include "engine/math/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine_fixture.h"
#include "error_log.h"

namespace kv {
namespace {

using Matrices = test::StartedEngine;

Matrix General(float s) {
    Matrix m;
    m.right = V3d{2.0f * s, 0.5f, -1.0f};
    m.up = V3d{0.25f, 3.0f, 1.0f};
    m.at = V3d{1.0f, -0.5f, 1.5f * s};
    m.pos = V3d{4.0f, -2.0f, 7.0f};
    m.flags = kMatrixTypeGeneral;
    m.pad1 = m.pad2 = m.pad3 = 0;
    return m;
}

// A applied first, then B: the rows of A expressed in B's axes.
Matrix Product(const Matrix& a, const Matrix& b) {
    auto row = [&](const V3d& r) {
        return V3d{r.x * b.right.x + r.y * b.up.x + r.z * b.at.x, r.x * b.right.y + r.y * b.up.y + r.z * b.at.y,
                   r.x * b.right.z + r.y * b.up.z + r.z * b.at.z};
    };
    Matrix p = a;
    p.right = row(a.right);
    p.up = row(a.up);
    p.at = row(a.at);
    p.pos = V3dAdd(row(a.pos), b.pos);
    return p;
}

void ExpectRowsNear(const Matrix& a, const Matrix& b, float tol = 1e-5f) {
    const V3d* ra = &a.right;
    const V3d* rb = &b.right;
    for (int r = 0; r < 4; ++r) {
        const V3d& x = *reinterpret_cast<const V3d*>(reinterpret_cast<const char*>(ra) + 16 * r);
        const V3d& y = *reinterpret_cast<const V3d*>(reinterpret_cast<const char*>(rb) + 16 * r);
        EXPECT_NEAR(x.x, y.x, tol) << "row " << r;
        EXPECT_NEAR(x.y, y.y, tol) << "row " << r;
        EXPECT_NEAR(x.z, y.z, tol) << "row " << r;
    }
}

Matrix Identity() {
    Matrix m;
    std::memset(&m, 0, sizeof m);
    return *MatrixSetIdentity(&m);
}

TEST_F(Matrices, CreateGivesIdentityFromThePool) {
    Matrix* m = MatrixCreate();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->flags, 0x00020003u);
    EXPECT_EQ(m->right.x, 1.0f);
    EXPECT_EQ(m->up.y, 1.0f);
    EXPECT_EQ(m->at.z, 1.0f);
    EXPECT_EQ(m->pos.x, 0.0f);
    EXPECT_TRUE(MatrixDestroy(m));
}

TEST_F(Matrices, MultiplyShortCutsIdentityAndReducesFlags) {
    const Matrix id = Identity();
    Matrix b = General(1.0f);
    b.flags = 0x12345670u;  // odd flags and pads travel with the copy
    b.pad2 = 0xDEADBEEF;
    Matrix out;
    MatrixMultiply(&out, &id, &b);
    EXPECT_EQ(std::memcmp(&out, &b, sizeof out), 0);
    MatrixMultiply(&out, &b, &id);
    EXPECT_EQ(std::memcmp(&out, &b, sizeof out), 0);

    Matrix a = General(1.0f);
    Matrix c = General(2.0f);
    a.flags = 3;
    c.flags = 3;
    out.flags = 0x00020003;
    MatrixMultiply(&out, &a, &c);
    EXPECT_EQ(out.flags, 3u);
    ExpectRowsNear(out, Product(a, c));
    c.flags = 0;
    out.flags = 0x00020003;
    MatrixMultiply(&out, &a, &c);
    EXPECT_EQ(out.flags, 0u);
    // An output that was general stays general whatever the inputs.
    c.flags = 3;
    out.flags = 0;
    MatrixMultiply(&out, &a, &c);
    EXPECT_EQ(out.flags, 0u);
}

TEST_F(Matrices, MultiplyIntoAnOperandStillGivesTheProduct) {
    Matrix a = General(1.0f);
    const Matrix b = General(2.0f);
    const Matrix expected = Product(a, b);
    MatrixMultiply(&a, &a, &b);
    ExpectRowsNear(a, expected);
}

TEST_F(Matrices, IdentityFlagIsHonouredOnlyUnderTheMask) {
    Matrix liar = General(1.0f);
    liar.flags = kMatrixIdentityFlags;  // rows are not the identity
    const Matrix b = General(2.0f);
    Matrix out;
    MatrixMultiply(&out, &liar, &b);
    EXPECT_EQ(std::memcmp(&out, &b, sizeof out), 0);
    EXPECT_EQ(MatrixGetOptimizations(), kMatrixFlagIdentity);
    MatrixSetOptimizations(0);
    MatrixMultiply(&out, &liar, &b);
    ExpectRowsNear(out, Product(liar, b));
    MatrixSetOptimizations(kMatrixFlagIdentity);
}

TEST_F(Matrices, MultiplyFunctionCanBeReplaced) {
    static int calls;
    calls = 0;
    MatrixSetMultiplyFunction([](Matrix* out, const Matrix* a, const Matrix* b) {
        ++calls;
        MatrixMultiplyPortable(out, a, b);
    });
    const Matrix a = General(1.0f);
    const Matrix b = General(3.0f);
    Matrix out;
    MatrixMultiply(&out, &a, &b);
    EXPECT_EQ(calls, 1);
    ExpectRowsNear(out, Product(a, b));
    MatrixSetMultiplyFunction(nullptr);
    MatrixMultiply(&out, &a, &b);
    EXPECT_EQ(calls, 1);
}

TEST_F(Matrices, RotateNormalisesTheAxisAndKeepsTheType) {
    Matrix m = Identity();
    const V3d z{0.0f, 0.0f, 2.0f};
    ASSERT_EQ(MatrixRotate(&m, &z, 90.0f, CombineReplace), &m);
    EXPECT_NEAR(m.right.x, 0.0f, 1e-3f);
    EXPECT_NEAR(m.right.y, 1.0f, 1e-3f);
    EXPECT_NEAR(m.up.x, -1.0f, 1e-3f);
    EXPECT_NEAR(m.up.y, 0.0f, 1e-3f);
    EXPECT_NEAR(m.at.z, 1.0f, 1e-3f);
    EXPECT_EQ(m.flags, 3u);

    // Pre-concatenation rotates in local space, post in the parent's.
    Matrix t = Identity();
    const V3d move{5.0f, 0.0f, 0.0f};
    MatrixTranslate(&t, &move, CombineReplace);
    Matrix pre = t;
    MatrixRotate(&pre, &z, 90.0f, CombinePreConcat);
    EXPECT_NEAR(pre.pos.x, 5.0f, 1e-3f);
    EXPECT_NEAR(pre.pos.y, 0.0f, 1e-3f);
    Matrix post = t;
    MatrixRotate(&post, &z, 90.0f, CombinePostConcat);
    EXPECT_NEAR(post.pos.x, 0.0f, 1e-3f);
    EXPECT_NEAR(post.pos.y, 5.0f, 1e-3f);
    EXPECT_EQ(post.flags, 3u);

    Matrix g = General(1.0f);
    MatrixRotate(&g, &z, 30.0f, CombinePostConcat);
    EXPECT_EQ(g.flags, 0u);
}

TEST_F(Matrices, TranslateByCombine) {
    Matrix m = General(1.0f);
    const V3d v{1.0f, 2.0f, 3.0f};
    Matrix pre = m;
    MatrixTranslate(&pre, &v, CombinePreConcat);
    EXPECT_NEAR(pre.pos.x, 4.0f + 2.0f + 0.25f * 2.0f + 3.0f, 1e-5f);
    EXPECT_NEAR(pre.pos.y, -2.0f + 0.5f + 6.0f - 1.5f, 1e-5f);
    EXPECT_NEAR(pre.pos.z, 7.0f - 1.0f + 2.0f + 4.5f, 1e-5f);
    EXPECT_EQ(pre.flags, 0u);
    Matrix post = m;
    MatrixTranslate(&post, &v, CombinePostConcat);
    EXPECT_EQ(post.pos.x, 5.0f);
    EXPECT_EQ(post.pos.z, 10.0f);
    Matrix rep = m;
    MatrixTranslate(&rep, &v, CombineReplace);
    EXPECT_EQ(rep.flags, 3u);
    EXPECT_EQ(rep.right.x, 1.0f);
    EXPECT_EQ(rep.right.y, 0.0f);
    EXPECT_EQ(rep.pos.y, 2.0f);
    Matrix id = Identity();
    MatrixTranslate(&id, &v, CombinePostConcat);
    EXPECT_EQ(id.flags, 3u);
}

TEST_F(Matrices, TransformByCombine) {
    const Matrix t = General(2.0f);
    Matrix m = General(1.0f);
    m.flags = 3;
    Matrix rep = m;
    MatrixTransform(&rep, &t, CombineReplace);
    EXPECT_EQ(std::memcmp(&rep, &t, sizeof t), 0);
    Matrix pre = m;
    MatrixTransform(&pre, &t, CombinePreConcat);
    ExpectRowsNear(pre, Product(t, m));
    EXPECT_EQ(pre.flags, 0u);
    Matrix post = m;
    MatrixTransform(&post, &t, CombinePostConcat);
    ExpectRowsNear(post, Product(m, t));
    Matrix id = Identity();
    MatrixTransform(&id, &t, CombinePostConcat);
    ExpectRowsNear(id, t);
    EXPECT_EQ(id.flags, 0u);
}

TEST_F(Matrices, InvalidCombineLeavesTheMatrixUntouched) {
    const auto bad = static_cast<CombineOp>(3);
    Matrix m = General(1.0f);
    m.pad1 = 0x11111111;
    const Matrix before = m;
    const V3d v{1.0f, 2.0f, 3.0f};
    for (int op = 0; op < 3; ++op) {
        test::ErrorLog log;
        Matrix* r = op == 0   ? MatrixRotate(&m, &v, 10.0f, bad)
                    : op == 1 ? MatrixTranslate(&m, &v, bad)
                              : MatrixTransform(&m, &before, bad);
        EXPECT_EQ(r, nullptr);
        EXPECT_TRUE(log.Has(0, static_cast<int32>(0x80000003u)));
        EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0);
    }
    ErrorRecord kept;
    ASSERT_TRUE(ErrorGet(&kept));
    EXPECT_EQ(kept.errorCode, kErrBadCombine);
}

TEST_F(Matrices, InvertOrthonormalTransposes) {
    Matrix m = Identity();
    const V3d axis{1.0f, 1.0f, 0.0f};
    MatrixRotate(&m, &axis, 40.0f, CombineReplace);
    const V3d t{1.0f, 2.0f, 3.0f};
    MatrixTranslate(&m, &t, CombinePostConcat);
    ASSERT_EQ(m.flags, 3u);
    Matrix inv = Identity();
    MatrixInvert(&inv, &m);
    EXPECT_EQ(inv.flags, 3u);
    EXPECT_EQ(inv.right.y, m.up.x);
    EXPECT_EQ(inv.up.z, m.at.y);
    EXPECT_EQ(inv.at.x, m.right.z);
    EXPECT_FLOAT_EQ(inv.pos.x, -V3dDotProduct(t, m.right));
    EXPECT_FLOAT_EQ(inv.pos.y, -V3dDotProduct(t, m.up));
    EXPECT_FLOAT_EQ(inv.pos.z, -V3dDotProduct(t, m.at));
    ExpectRowsNear(Product(m, inv), Identity());
}

TEST_F(Matrices, InvertGeneralAndSingular) {
    const Matrix m = General(1.0f);
    Matrix inv = Identity();
    MatrixInvert(&inv, &m);
    EXPECT_EQ(inv.flags, 3u);  // the destination's own type bits stay
    ExpectRowsNear(Product(m, inv), Identity(), 1e-4f);
    ExpectRowsNear(Product(inv, m), Identity(), 1e-4f);

    // Zero determinant: the unscaled adjugate, no division by zero.
    Matrix s = General(1.0f);
    s.at = V3dAdd(s.right, s.up);
    Matrix out;
    out.flags = 0;
    MatrixInvert(&out, &s);
    for (float f : {out.right.x, out.right.y, out.up.z, out.at.x, out.pos.y}) EXPECT_TRUE(std::isfinite(f));
    EXPECT_FLOAT_EQ(out.right.x, s.up.y * s.at.z - s.up.z * s.at.y);

    const Matrix id = Identity();
    MatrixInvert(&out, &id);
    EXPECT_EQ(std::memcmp(&out, &id, sizeof id), 0);
    inv.flags = kMatrixTypeGeneral;
    MatrixInvert(&inv, &inv);  // in place
    ExpectRowsNear(inv, m, 1e-4f);
}

TEST_F(Matrices, UpdateMakesGeneral) {
    Matrix m = Identity();
    MatrixUpdate(&m);
    EXPECT_EQ(m.flags, 0u);
}

TEST(MatricesClosed, CreateNeedsTheModule) {
    test::ErrorLog log;
    EXPECT_EQ(MatrixCreate(), nullptr);
    // The arithmetic itself works without the engine.
    Matrix a = Identity();
    Matrix b = General(1.0f);
    Matrix out;
    MatrixMultiply(&out, &a, &b);
    EXPECT_EQ(std::memcmp(&out, &b, sizeof b), 0);
}

}  // namespace
}  // namespace kv
