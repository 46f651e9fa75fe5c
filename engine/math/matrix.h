// The 4x4 affine matrix with type flags, and the matrix module: a free list of
// matrices and the combine operations. Row vectors: a point p maps to
// p.x * right + p.y * up + p.z * at + pos, and A x B applies A first.
#pragma once

#include "vector.h"

namespace kv {

constexpr uint32 kMatrixTypeMask = 0x00000003;
constexpr uint32 kMatrixTypeOrthonormal = 0x00000003;
constexpr uint32 kMatrixTypeGeneral = 0x00000000;
constexpr uint32 kMatrixFlagIdentity = 0x00020000;
constexpr uint32 kMatrixIdentityFlags = 0x00020003;

// Always moved as one 64-byte block; the pads are never read.
struct Matrix {
    V3d right;
    uint32 flags;
    V3d up;
    uint32 pad1;
    V3d at;
    uint32 pad2;
    V3d pos;
    uint32 pad3;
};
static_assert(sizeof(Matrix) == 64);

// How a new transform T is merged into a matrix M.
enum CombineOp : int32 {
    CombineReplace = 0,     // M := T
    CombinePreConcat = 1,   // M := T x M (T applied first, in M's local space)
    CombinePostConcat = 2,  // M := M x T (T applied after M, in M's parent space)
};

// Identity rows and flags 0x00020003; needs no module.
Matrix* MatrixSetIdentity(Matrix* m);
inline Matrix* MatrixCopy(Matrix* dst, const Matrix* src) {
    *dst = *src;
    return dst;
}

// From the module's free list; null when it cannot grow.
Matrix* MatrixCreate();
bool MatrixDestroy(Matrix* m);

// out := a x b. out must not alias a or b. Identity operands short-cut to a
// copy of the other (flags included).
Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b);
Matrix* MatrixRotate(Matrix* m, const V3d* axis, real angleDegrees, CombineOp combine);
// unitAxis must be unit length.
Matrix* MatrixRotateOneMinusCosSin(Matrix* m, const V3d* unitAxis, real oneMinusCos, real sine, CombineOp combine);
Matrix* MatrixTranslate(Matrix* m, const V3d* translation, CombineOp combine);
Matrix* MatrixTransform(Matrix* m, const Matrix* transform, CombineOp combine);
Matrix* MatrixInvert(Matrix* out, const Matrix* in);
// Declares m changed by direct writes: it becomes general.
Matrix* MatrixUpdate(Matrix* m);

// out := a x b on the rows alone; out's flags and pads are left alone.
using MatrixMultiplyFn = void (*)(Matrix* out, const Matrix* a, const Matrix* b);
void MatrixMultiplyPortable(Matrix* out, const Matrix* a, const Matrix* b);
// A device may install a faster product while the engine runs; null restores
// the portable one.
void MatrixSetMultiplyFunction(MatrixMultiplyFn fn);
// The identity flag is honoured only where this mask has it (set at open).
uint32 MatrixGetOptimizations();
void MatrixSetOptimizations(uint32 mask);

struct CoreModule;
// The matrix module's block in the engine instance.
struct FreeList;
struct MatrixModuleGlobals {
    FreeList* freeList;
    uint32 optimiseMask;
    MatrixMultiplyFn multiply;
};

void* MatrixModuleOpen(void* instance, int32 offset, int32 size);
void* MatrixModuleClose(void* instance, int32 offset, int32 size);
CoreModule MatrixModuleEntry();

}  // namespace kv
