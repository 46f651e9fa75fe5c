#include "mesh.h"

#include <algorithm>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/image/raster.h"
#include "engine/image/texture.h"
#include "material.h"
#include "mesh_strips.h"

namespace kv {

namespace {

constexpr int32 kPrimitiveTypes[2] = {PrimTypeTriList, PrimTypeTriStrip};

// Never freed; everything without triangles shares it.
MeshHeader emptyHeader{kMeshHeaderTriList, 0, 0, 0, 0};

uint16 nextSerialNumber = 0;

// The raster format classes that carry alpha.
bool FormatHasAlpha(int32 format) {
    const int32 pixel = format & kRasterFormatPixelMask;
    return pixel == 0x100 || pixel == 0x300 || pixel == RasterFormat8888;
}

const Raster* TextureRasterOf(const Material* m) { return m->texture != nullptr ? m->texture->raster : nullptr; }

bool NeedsBlending(const Material* m) {
    const Raster* raster = TextureRasterOf(m);
    return (raster != nullptr && FormatHasAlpha(RasterGetFormat(raster))) || m->color.alpha != 255;
}

template <typename T>
int ComparePointers(const T* a, const T* b) {
    const auto x = reinterpret_cast<std::uintptr_t>(a);
    const auto y = reinterpret_cast<std::uintptr_t>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

// Puts a mesh's triangles in sweeps: within one sweep no two triangles share
// a vertex, so the device can work on them without waiting on each other.
// Without scratch memory the mesh keeps its order.
void SweepOrder(uint32* indices, uint32 numIndices) {
    const uint32 numTris = numIndices / 3;
    if (numTris < 2) return;
    uint32 all = 0;
    for (uint32 i = 0; i < numIndices; ++i) all |= indices[i];
    const std::size_t bitmapBytes = (static_cast<std::size_t>(all) >> 3) + 1;
    auto* marked = static_cast<uint8*>(KvCalloc(bitmapBytes, 1));
    auto* source = static_cast<uint32*>(KvMalloc(sizeof(uint32) * numIndices));
    // Triangles not yet taken, in order, compacted after every sweep.
    auto* pending = static_cast<uint32*>(KvMalloc(sizeof(uint32) * numTris));
    if (marked == nullptr || source == nullptr || pending == nullptr) {
        KvFree(marked);
        KvFree(source);
        KvFree(pending);
        return;
    }
    std::memcpy(source, indices, sizeof(uint32) * numIndices);
    for (uint32 t = 0; t < numTris; ++t) pending[t] = t;
    auto isMarked = [&](uint32 v) { return (marked[v >> 3] & (1u << (v & 7))) != 0; };
    auto mark = [&](uint32 v) { marked[v >> 3] = static_cast<uint8>(marked[v >> 3] | (1u << (v & 7))); };
    auto unmark = [&](uint32 v) { marked[v >> 3] = static_cast<uint8>(marked[v >> 3] & ~(1u << (v & 7))); };

    uint32* out = indices;
    uint32 numPending = numTris;
    while (numPending > 0) {
        uint32* sweepStart = out;
        uint32 kept = 0;
        for (uint32 p = 0; p < numPending; ++p) {
            const uint32* tri = source + 3 * pending[p];
            if (isMarked(tri[0]) || isMarked(tri[1]) || isMarked(tri[2])) {
                pending[kept++] = pending[p];
                continue;
            }
            mark(tri[0]);
            mark(tri[1]);
            mark(tri[2]);
            *out++ = tri[0];
            *out++ = tri[1];
            *out++ = tri[2];
        }
        // Only this sweep's vertices are marked: clear just those.
        for (const uint32* v = sweepStart; v < out; ++v) unmark(*v);
        numPending = kept;
    }
    KvFree(marked);
    KvFree(source);
    KvFree(pending);
}

MeshHeader* BuildLists(const BuildMeshTriangle* triangles, int32 numTriangles) {
    const BuildMeshTriangle** sorted = MeshesSortTriangles(triangles, numTriangles);
    if (sorted == nullptr) return nullptr;
    int32 numMeshes = 1;
    for (int32 i = 1; i < numTriangles; ++i) {
        if (sorted[i]->material != sorted[i - 1]->material) ++numMeshes;
    }
    MeshHeader* header = MeshHeaderCreate(numMeshes, 3 * static_cast<uint32>(numTriangles), kMeshHeaderTriList);
    if (header == nullptr) {
        KvFree(sorted);
        return nullptr;
    }
    Mesh* mesh = MeshHeaderGetMeshes(header) - 1;
    uint32* out = MeshHeaderGetIndexArea(header);
    for (int32 i = 0; i < numTriangles; ++i) {
        if (i == 0 || sorted[i]->material != sorted[i - 1]->material) {
            ++mesh;
            mesh->indices = out;
            mesh->numIndices = 0;
            mesh->material = sorted[i]->material;
        }
        for (uint32 v : sorted[i]->vertIndex) *out++ = v;
        mesh->numIndices += 3;
    }
    KvFree(sorted);
    Mesh* meshes = MeshHeaderGetMeshes(header);
    for (int32 m = 0; m < numMeshes; ++m) SweepOrder(meshes[m].indices, meshes[m].numIndices);
    return header;
}

}  // namespace

int MaterialSortCompare(const Material* a, const Material* b) {
    if (a == b) return 0;
    // No material first, then opaque, then blended.
    const int classA = a == nullptr ? 0 : NeedsBlending(a) ? 2 : 1;
    const int classB = b == nullptr ? 0 : NeedsBlending(b) ? 2 : 1;
    if (classA != classB) return classA < classB ? -1 : 1;
    if (a == nullptr || b == nullptr) return 0;  // unreachable: both none means a == b
    if (const int c = ComparePointers(TextureRasterOf(a), TextureRasterOf(b))) return c;
    if (const int c = ComparePointers(a->pipeline, b->pipeline)) return c;
    if (const int c = ComparePointers(a->texture, b->texture)) return c;
    return ComparePointers(a, b);
}

const BuildMeshTriangle** MeshesSortTriangles(const BuildMeshTriangle* triangles, int32 numTriangles) {
    const std::size_t bytes = sizeof(BuildMeshTriangle*) * static_cast<std::size_t>(numTriangles);
    auto** sorted = static_cast<const BuildMeshTriangle**>(KvMalloc(bytes));
    if (sorted == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return nullptr;
    }
    for (int32 i = 0; i < numTriangles; ++i) sorted[i] = triangles + i;
    // Ties keep the input order, so the same triangles always give the same
    // meshes (and the same saved files).
    std::sort(sorted, sorted + numTriangles, [](const BuildMeshTriangle* x, const BuildMeshTriangle* y) {
        const int c = MaterialSortCompare(x->material, y->material);
        return c != 0 ? c < 0 : x < y;
    });
    return sorted;
}

MeshHeader* MeshesBuild(const BuildMeshTriangle* triangles, int32 numTriangles, bool strips) {
    if (numTriangles <= 0 || triangles == nullptr) return &emptyHeader;
    return strips ? MeshesBuildStrips(triangles, numTriangles) : BuildLists(triangles, numTriangles);
}

void MeshesDestroy(MeshHeader* header) {
    if (header == nullptr || header == &emptyHeader) return;
    KvFree(header);
}

MeshHeader* MeshesEmptyHeader() { return &emptyHeader; }

MeshHeader* MeshHeaderCreate(int32 numMeshes, uint32 totalIndices, uint32 flags) {
    if (numMeshes < 0 || numMeshes > 0xFFFF) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    const std::size_t bytes = sizeof(MeshHeader) + sizeof(Mesh) * static_cast<std::size_t>(numMeshes) +
                              sizeof(uint32) * static_cast<std::size_t>(totalIndices);
    auto* header = static_cast<MeshHeader*>(KvMalloc(bytes));
    if (header == nullptr) {
        ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
        return nullptr;
    }
    header->flags = flags;
    header->numMeshes = static_cast<uint16>(numMeshes);
    header->serialNum = MeshNextSerialNumber();
    header->totalIndicesInMesh = totalIndices;
    header->firstMeshOffset = 0;
    std::memset(static_cast<void*>(MeshHeaderGetMeshes(header)), 0, sizeof(Mesh) * static_cast<std::size_t>(numMeshes));
    return header;
}

uint32* MeshHeaderGetIndexArea(MeshHeader* header) {
    return reinterpret_cast<uint32*>(MeshHeaderGetMeshes(header) + header->numMeshes);
}

uint16 MeshNextSerialNumber() { return nextSerialNumber++; }

MeshHeader* MeshForAll(MeshHeader* header, MeshCallBack callBack, void* data) {
    Mesh* meshes = MeshHeaderGetMeshes(header);
    for (uint32 i = 0; i < header->numMeshes; ++i) {
        if (callBack(meshes + i, header, data) == nullptr) break;
    }
    return header;
}

int32 MeshGetPrimitiveType(const MeshHeader* header) {
    return kPrimitiveTypes[(header->flags & kMeshHeaderTriStrip) != 0 ? 1 : 0];
}

void* MeshModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    auto* m = PtrAdd<MeshModule>(instance, offset);
    m->primitiveType[0] = kPrimitiveTypes[0];
    m->primitiveType[1] = kPrimitiveTypes[1];
    return instance;
}

void* MeshModuleClose(void* instance, int32 /*offset*/, int32 /*size*/) { return instance; }

}  // namespace kv
