// Vectors and the vector module: table-driven square roots, normalisation and
// the replaceable point and vector transforms.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct V2d {
    real x;
    real y;
};
static_assert(sizeof(V2d) == 8);

struct V3d {
    real x;
    real y;
    real z;
};
static_assert(sizeof(V3d) == 12);

struct Matrix;

inline V3d V3dAdd(const V3d& a, const V3d& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3d V3dSub(const V3d& a, const V3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3d V3dScale(const V3d& a, real s) { return {a.x * s, a.y * s, a.z * s}; }
inline V3d V3dNegate(const V3d& a) { return {-a.x, -a.y, -a.z}; }
// a + b * s
inline V3d V3dIncrementScaled(const V3d& a, const V3d& b, real s) {
    return {a.x + b.x * s, a.y + b.y * s, a.z + b.z * s};
}
inline real V3dDotProduct(const V3d& a, const V3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3d V3dCrossProduct(const V3d& a, const V3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline V2d V2dAdd(const V2d& a, const V2d& b) { return {a.x + b.x, a.y + b.y}; }
inline V2d V2dSub(const V2d& a, const V2d& b) { return {a.x - b.x, a.y - b.y}; }
inline V2d V2dScale(const V2d& a, real s) { return {a.x * s, a.y * s}; }
inline real V2dDotProduct(const V2d& a, const V2d& b) { return a.x * b.x + a.y * b.y; }

// Square root and reciprocal square root of a non-negative float by table;
// zero gives zero. The vector module must be open (the engine started).
real SqrtFast(real x);
real InvSqrtFast(real x);
// The same on a float's bit pattern.
real SqrtFastBits(uint32 bits);
real InvSqrtFastBits(uint32 bits);

real V3dLength(const V3d* v);
real V2dLength(const V2d* v);
// out := in / |in|; returns |in|. A zero vector reports kErrZeroLengthVector
// and gives (0, 0, 0) and length 0.
real V3dNormalize(V3d* out, const V3d* in);
// out := in * InvSqrtFast(|in|^2); returns that reciprocal length. Silent.
real V3dNormalizeFast(V3d* out, const V3d* in);
real V2dNormalize(V2d* out, const V2d* in);

// Points include the matrix's translation, vectors do not. out may equal in.
using V3dTransformFn = V3d* (*)(V3d* out, const V3d* in, int32 count, const Matrix* matrix);
V3d* V3dTransformPoints(V3d* out, const V3d* in, int32 count, const Matrix* matrix);
V3d* V3dTransformVectors(V3d* out, const V3d* in, int32 count, const Matrix* matrix);
V3d* V3dTransformPoint(V3d* out, const V3d* in, const Matrix* matrix);
V3d* V3dTransformVector(V3d* out, const V3d* in, const Matrix* matrix);
// The portable versions, which the module installs at open.
V3d* V3dTransformPointsPortable(V3d* out, const V3d* in, int32 count, const Matrix* matrix);
V3d* V3dTransformVectorsPortable(V3d* out, const V3d* in, int32 count, const Matrix* matrix);
// A device may install faster versions while the engine runs; null keeps the
// current one.
void V3dSetTransformFunctions(V3dTransformFn points, V3dTransformFn vectors);

struct CoreModule;
// The vector module's block in the engine instance.
struct VectorModuleGlobals {
    uint32* sqrtTable;     // 4096 entries
    uint32* invSqrtTable;  // 4096 entries
    V3dTransformFn transformPoints;
    V3dTransformFn transformVectors;
};

void* VectorModuleOpen(void* instance, int32 offset, int32 size);
void* VectorModuleClose(void* instance, int32 offset, int32 size);
CoreModule VectorModuleEntry();

}  // namespace kv
