#include "matrix.h"

#include <cmath>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"

namespace kv {

namespace {

constexpr int32 kMatricesPerBlock = 50;
// Degrees to radians in single precision (0x3C8EFA35).
constexpr real kDegToRad = 0.017453292f;

ModuleSlot<MatrixModuleGlobals> slot;

// What the operations use while the module is closed: the same rules, no pool.
MatrixModuleGlobals closedGlobals = {nullptr, kMatrixFlagIdentity, MatrixMultiplyPortable};

MatrixModuleGlobals* Globals() {
    MatrixModuleGlobals* g = slot.Get();
    return g != nullptr ? g : &closedGlobals;
}

bool IsIdentity(const MatrixModuleGlobals* g, const Matrix* m) {
    return (g->optimiseMask & m->flags & kMatrixFlagIdentity) != 0;
}

bool ValidCombine(CombineOp combine) {
    if (combine == CombineReplace || combine == CombinePreConcat || combine == CombinePostConcat) return true;
    ErrorRaise(kModuleNone, kErrBadCombine);
    return false;
}

void CopyRows(Matrix* dst, const Matrix* src) {
    dst->right = src->right;
    dst->up = src->up;
    dst->at = src->at;
    dst->pos = src->pos;
}

}  // namespace

Matrix* MatrixSetIdentity(Matrix* m) {
    m->right = V3d{1.0f, 0.0f, 0.0f};
    m->up = V3d{0.0f, 1.0f, 0.0f};
    m->at = V3d{0.0f, 0.0f, 1.0f};
    m->pos = V3d{0.0f, 0.0f, 0.0f};
    m->flags = kMatrixIdentityFlags;
    return m;
}

void MatrixMultiplyPortable(Matrix* out, const Matrix* a, const Matrix* b) {
    auto row = [b](const V3d& r) {
        return V3d{r.x * b->right.x + r.y * b->up.x + r.z * b->at.x, r.x * b->right.y + r.y * b->up.y + r.z * b->at.y,
                   r.x * b->right.z + r.y * b->up.z + r.z * b->at.z};
    };
    out->right = row(a->right);
    out->up = row(a->up);
    out->at = row(a->at);
    out->pos = V3dAdd(row(a->pos), b->pos);
}

Matrix* MatrixCreate() {
    MatrixModuleGlobals* g = Globals();
    if (g->freeList == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    auto* m = static_cast<Matrix*>(KvFreeListAlloc(g->freeList));
    if (m == nullptr) return nullptr;
    return MatrixSetIdentity(m);
}

bool MatrixDestroy(Matrix* m) {
    MatrixModuleGlobals* g = Globals();
    if (m != nullptr && g->freeList != nullptr) KvFreeListFree(g->freeList, m);
    return true;
}

Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
    const MatrixModuleGlobals* g = Globals();
    if (IsIdentity(g, a)) {
        *out = *b;
        return out;
    }
    if (IsIdentity(g, b)) {
        *out = *a;
        return out;
    }
    if (out == a || out == b) {
        // A product written over its own operand would read rows it has
        // already replaced; form it aside. The flags are still out's own.
        Matrix tmp;
        g->multiply(&tmp, a, b);
        CopyRows(out, &tmp);
    } else {
        g->multiply(out, a, b);
    }
    out->flags &= ~kMatrixFlagIdentity;
    if ((a->flags & kMatrixTypeMask) == 0 || (b->flags & kMatrixTypeMask) == 0) out->flags &= ~kMatrixTypeMask;
    return out;
}

Matrix* MatrixRotate(Matrix* m, const V3d* axis, real angleDegrees, CombineOp combine) {
    if (!ValidCombine(combine)) return nullptr;
    const V3d unit = V3dScale(*axis, InvSqrtFast(V3dDotProduct(*axis, *axis)));
    const real angle = angleDegrees * kDegToRad;
    return MatrixRotateOneMinusCosSin(m, &unit, 1.0f - std::cos(angle), std::sin(angle), combine);
}

Matrix* MatrixRotateOneMinusCosSin(Matrix* m, const V3d* a, real c1, real s, CombineOp combine) {
    if (!ValidCombine(combine)) return nullptr;
    const MatrixModuleGlobals* g = Globals();
    Matrix r;
    r.right = V3d{1.0f - c1 * (1.0f - a->x * a->x), c1 * a->x * a->y + s * a->z, c1 * a->z * a->x - s * a->y};
    r.up = V3d{c1 * a->x * a->y - s * a->z, 1.0f - c1 * (1.0f - a->y * a->y), c1 * a->y * a->z + s * a->x};
    r.at = V3d{c1 * a->z * a->x + s * a->y, c1 * a->y * a->z - s * a->x, 1.0f - c1 * (1.0f - a->z * a->z)};
    r.pos = V3d{0.0f, 0.0f, 0.0f};
    r.flags = kMatrixTypeOrthonormal;

    if (combine == CombineReplace || IsIdentity(g, m)) {
        CopyRows(m, &r);
    } else {
        Matrix tmp;
        if (combine == CombinePreConcat) {
            g->multiply(&tmp, &r, m);
        } else {
            g->multiply(&tmp, m, &r);
        }
        CopyRows(m, &tmp);
    }
    m->flags &= ~kMatrixFlagIdentity;
    return m;
}

Matrix* MatrixTranslate(Matrix* m, const V3d* v, CombineOp combine) {
    if (!ValidCombine(combine)) return nullptr;
    switch (combine) {
        case CombineReplace: {
            const uint32 flags = m->flags;
            MatrixSetIdentity(m);
            m->pos = *v;
            m->flags = flags | kMatrixTypeOrthonormal;
            break;
        }
        case CombinePreConcat:
            m->pos.x += v->x * m->right.x + v->y * m->up.x + v->z * m->at.x;
            m->pos.y += v->x * m->right.y + v->y * m->up.y + v->z * m->at.y;
            m->pos.z += v->x * m->right.z + v->y * m->up.z + v->z * m->at.z;
            break;
        case CombinePostConcat:
            m->pos = V3dAdd(m->pos, *v);
            break;
    }
    m->flags &= ~kMatrixFlagIdentity;
    return m;
}

Matrix* MatrixTransform(Matrix* m, const Matrix* t, CombineOp combine) {
    if (!ValidCombine(combine)) return nullptr;
    if (combine == CombineReplace) {
        *m = *t;
        return m;
    }
    const uint32 flags = m->flags;
    Matrix tmp;
    tmp.flags = 0;
    if (combine == CombinePreConcat) {
        MatrixMultiply(&tmp, t, m);
    } else {
        MatrixMultiply(&tmp, m, t);
    }
    CopyRows(m, &tmp);
    m->flags = flags & ~kMatrixIdentityFlags;
    return m;
}

Matrix* MatrixInvert(Matrix* out, const Matrix* in) {
    const MatrixModuleGlobals* g = Globals();
    if (IsIdentity(g, in)) {
        *out = *in;
        return out;
    }
    const uint32 outFlags = out->flags;
    Matrix r;
    if ((in->flags & kMatrixTypeMask) == kMatrixTypeOrthonormal) {
        r.right = V3d{in->right.x, in->up.x, in->at.x};
        r.up = V3d{in->right.y, in->up.y, in->at.y};
        r.at = V3d{in->right.z, in->up.z, in->at.z};
        r.pos =
            V3d{-V3dDotProduct(in->pos, in->right), -V3dDotProduct(in->pos, in->up), -V3dDotProduct(in->pos, in->at)};
        CopyRows(out, &r);
        out->flags = (outFlags & ~kMatrixFlagIdentity) | kMatrixTypeOrthonormal;
        return out;
    }
    // Cofactors of the 3x3 part; the inverse is their transpose over the
    // determinant. A singular matrix yields the unscaled adjugate.
    const V3d& a = in->right;
    const V3d& b = in->up;
    const V3d& c = in->at;
    r.right = V3d{b.y * c.z - b.z * c.y, c.y * a.z - c.z * a.y, a.y * b.z - a.z * b.y};
    r.up = V3d{b.z * c.x - b.x * c.z, c.z * a.x - c.x * a.z, a.z * b.x - a.x * b.z};
    r.at = V3d{b.x * c.y - b.y * c.x, c.x * a.y - c.y * a.x, a.x * b.y - a.y * b.x};
    const real det = a.x * r.right.x + a.y * r.up.x + a.z * r.at.x;
    const real scale = det == 0.0f ? 1.0f : 1.0f / det;
    r.right = V3dScale(r.right, scale);
    r.up = V3dScale(r.up, scale);
    r.at = V3dScale(r.at, scale);
    const V3d& p = in->pos;
    r.pos = V3d{-(p.x * r.right.x + p.y * r.up.x + p.z * r.at.x), -(p.x * r.right.y + p.y * r.up.y + p.z * r.at.y),
                -(p.x * r.right.z + p.y * r.up.z + p.z * r.at.z)};
    CopyRows(out, &r);
    out->flags = outFlags & ~kMatrixFlagIdentity;
    return out;
}

Matrix* MatrixUpdate(Matrix* m) {
    m->flags &= ~kMatrixIdentityFlags;
    return m;
}

void MatrixSetMultiplyFunction(MatrixMultiplyFn fn) {
    Globals()->multiply = fn != nullptr ? fn : MatrixMultiplyPortable;
}

uint32 MatrixGetOptimizations() { return Globals()->optimiseMask; }
void MatrixSetOptimizations(uint32 mask) { Globals()->optimiseMask = mask; }

void* MatrixModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    MatrixModuleGlobals* g = slot.At(instance, offset);
    g->freeList = FreeListCreate(sizeof(Matrix), kMatricesPerBlock, 16);
    if (g->freeList == nullptr) return nullptr;
    g->optimiseMask = kMatrixFlagIdentity;
    g->multiply = MatrixMultiplyPortable;
    slot.Opened(offset);
    return instance;
}

void* MatrixModuleClose(void* instance, int32 offset, int32 /*size*/) {
    MatrixModuleGlobals* g = slot.At(instance, offset);
    if (g->freeList != nullptr) FreeListDestroy(g->freeList);
    g->freeList = nullptr;
    slot.Closed();
    return instance;
}

CoreModule MatrixModuleEntry() {
    return {"matrix", static_cast<int32>(sizeof(MatrixModuleGlobals)), kIdMatrixModule, MatrixModuleOpen,
            MatrixModuleClose};
}

}  // namespace kv
