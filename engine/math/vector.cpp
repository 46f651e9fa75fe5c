#include "vector.h"

#include <cmath>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "matrix.h"

namespace kv {

namespace {

constexpr int32 kTableEntries = 4096;
constexpr std::size_t kTableBytes = 0x4000;
static_assert(kTableEntries * sizeof(uint32) == kTableBytes);

ModuleSlot<VectorModuleGlobals> slot;

VectorModuleGlobals* Globals() { return slot.Get(); }

uint32 Bits(float f) {
    uint32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

float FromBits(uint32 b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// The tables are indexed by the exponent's lowest bit and the top 11 mantissa
// bits: [0, 2048) covers [2, 4), [2048, 4096) covers [1, 2). The exponent's
// halving is added back at lookup.
void BuildTables(uint32* sqrtTable, uint32* invSqrtTable) {
    uint32 f = 0x3F800000;
    for (int32 i = 0; i < 2048; ++i, f += 0x1000) {
        const long double root = std::sqrt(static_cast<long double>(FromBits(f)));
        sqrtTable[2048 + i] = Bits(static_cast<float>(root)) - 0x1FC00000;
        invSqrtTable[2048 + i] = Bits(static_cast<float>(1.0L / root)) - 0x20000000;
    }
    for (int32 i = 0; i < 2048; ++i, f += 0x1000) {
        const long double root = std::sqrt(static_cast<long double>(FromBits(f)));
        sqrtTable[i] = Bits(static_cast<float>(root)) - 0x20000000;
        invSqrtTable[i] = Bits(static_cast<float>(1.0L / root)) - 0x1FC00000;
    }
}

V3d* TransformPortable(V3d* out, const V3d* in, int32 count, const Matrix* m, bool withPos) {
    const real w = withPos ? 1.0f : 0.0f;
    for (int32 i = 0; i < count; ++i) {
        const V3d v = in[i];  // out may alias in
        out[i].x = v.x * m->right.x + v.y * m->up.x + v.z * m->at.x + w * m->pos.x;
        out[i].y = v.x * m->right.y + v.y * m->up.y + v.z * m->at.y + w * m->pos.y;
        out[i].z = v.x * m->right.z + v.y * m->up.z + v.z * m->at.z + w * m->pos.z;
    }
    return out;
}

}  // namespace

real SqrtFastBits(uint32 bits) {
    if (bits == 0) return 0.0f;
    const VectorModuleGlobals* g = Globals();
    // Without the module (engine not started) fall back to the library.
    if (g == nullptr) return std::sqrt(FromBits(bits));
    const uint32 r = bits + 2048;
    return FromBits(g->sqrtTable[(r >> 12) & 0xFFF] + ((r >> 1) & 0x3FC00000));
}

real InvSqrtFastBits(uint32 bits) {
    if (bits == 0) return 0.0f;
    const VectorModuleGlobals* g = Globals();
    if (g == nullptr) return 1.0f / std::sqrt(FromBits(bits));
    const uint32 r = bits + 2048;
    return FromBits(g->invSqrtTable[(r >> 12) & 0xFFF] + ((~r >> 1) & 0x3FC00000));
}

real SqrtFast(real x) { return SqrtFastBits(Bits(x)); }
real InvSqrtFast(real x) { return InvSqrtFastBits(Bits(x)); }

real V3dLength(const V3d* v) { return SqrtFast(V3dDotProduct(*v, *v)); }
real V2dLength(const V2d* v) { return SqrtFast(V2dDotProduct(*v, *v)); }

real V3dNormalize(V3d* out, const V3d* in) {
    const real sq = V3dDotProduct(*in, *in);
    const real length = SqrtFast(sq);
    if (length == 0.0f) {
        ErrorRaise(kModuleCore, kErrZeroLengthVector);
        *out = V3d{0.0f, 0.0f, 0.0f};
        return 0.0f;
    }
    *out = V3dScale(*in, InvSqrtFast(sq));
    return length;
}

real V3dNormalizeFast(V3d* out, const V3d* in) {
    const real recip = InvSqrtFast(V3dDotProduct(*in, *in));
    *out = V3dScale(*in, recip);
    return recip;
}

real V2dNormalize(V2d* out, const V2d* in) {
    const real sq = V2dDotProduct(*in, *in);
    const real length = SqrtFast(sq);
    if (length == 0.0f) {
        ErrorRaise(kModuleCore, kErrZeroLengthVector);
        *out = V2d{0.0f, 0.0f};
        return 0.0f;
    }
    *out = V2dScale(*in, InvSqrtFast(sq));
    return length;
}

V3d* V3dTransformPointsPortable(V3d* out, const V3d* in, int32 count, const Matrix* matrix) {
    return TransformPortable(out, in, count, matrix, true);
}

V3d* V3dTransformVectorsPortable(V3d* out, const V3d* in, int32 count, const Matrix* matrix) {
    return TransformPortable(out, in, count, matrix, false);
}

V3d* V3dTransformPoints(V3d* out, const V3d* in, int32 count, const Matrix* matrix) {
    const VectorModuleGlobals* g = Globals();
    return (g != nullptr ? g->transformPoints : V3dTransformPointsPortable)(out, in, count, matrix);
}

V3d* V3dTransformVectors(V3d* out, const V3d* in, int32 count, const Matrix* matrix) {
    const VectorModuleGlobals* g = Globals();
    return (g != nullptr ? g->transformVectors : V3dTransformVectorsPortable)(out, in, count, matrix);
}

V3d* V3dTransformPoint(V3d* out, const V3d* in, const Matrix* matrix) { return V3dTransformPoints(out, in, 1, matrix); }

V3d* V3dTransformVector(V3d* out, const V3d* in, const Matrix* matrix) {
    return V3dTransformVectors(out, in, 1, matrix);
}

void V3dSetTransformFunctions(V3dTransformFn points, V3dTransformFn vectors) {
    VectorModuleGlobals* g = Globals();
    if (g == nullptr) return;
    if (points != nullptr) g->transformPoints = points;
    if (vectors != nullptr) g->transformVectors = vectors;
}

void* VectorModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    VectorModuleGlobals* g = slot.At(instance, offset);
    g->sqrtTable = static_cast<uint32*>(KvMalloc(kTableBytes));
    if (g->sqrtTable == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(kTableBytes));
        return nullptr;
    }
    g->invSqrtTable = static_cast<uint32*>(KvMalloc(kTableBytes));
    if (g->invSqrtTable == nullptr) {
        KvFree(g->sqrtTable);
        g->sqrtTable = nullptr;
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(kTableBytes));
        return nullptr;
    }
    BuildTables(g->sqrtTable, g->invSqrtTable);
    g->transformPoints = V3dTransformPointsPortable;
    g->transformVectors = V3dTransformVectorsPortable;
    slot.Opened(offset);
    return instance;
}

void* VectorModuleClose(void* instance, int32 offset, int32 /*size*/) {
    VectorModuleGlobals* g = slot.At(instance, offset);
    KvFree(g->sqrtTable);
    g->sqrtTable = nullptr;
    KvFree(g->invSqrtTable);
    g->invSqrtTable = nullptr;
    slot.Closed();
    return instance;
}

CoreModule VectorModuleEntry() {
    return {"vector", static_cast<int32>(sizeof(VectorModuleGlobals)), kIdVectorModule, VectorModuleOpen,
            VectorModuleClose};
}

}  // namespace kv
