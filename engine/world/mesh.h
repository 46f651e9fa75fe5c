// Meshes: a geometry's triangles regrouped by material, the form in which the
// pipelines draw them. One allocation holds the header, its mesh records and
// every index.
#pragma once

#include "engine/core/engine.h"  // PrimitiveType
#include "engine/core/types.h"

namespace kv {

struct Material;

struct Mesh {
    uint32* indices;  // into the header's index area
    uint32 numIndices;
    Material* material;  // not a counted reference
};

struct MeshHeader {
    uint32 flags;  // kMeshHeader*
    uint16 numMeshes;
    uint16 serialNum;  // changes whenever meshes are rebuilt or read
    uint32 totalIndicesInMesh;
    uint32 firstMeshOffset;  // bytes from the end of the header to the first mesh record
};

constexpr uint32 kMeshHeaderTriList = 0;
constexpr uint32 kMeshHeaderTriStrip = 1;
// Each mesh uses the next run of vertices and has no indices (world sectors).
constexpr uint32 kMeshHeaderUnindexed = 0x100;

inline Mesh* MeshHeaderGetMeshes(MeshHeader* header) {
    return PtrAdd<Mesh>(header + 1, static_cast<std::ptrdiff_t>(header->firstMeshOffset));
}
inline const Mesh* MeshHeaderGetMeshes(const MeshHeader* header) {
    return MeshHeaderGetMeshes(const_cast<MeshHeader*>(header));
}

// One triangle handed to the builders: its material (none allowed) and its
// three vertex indices, in the geometry's triangle order.
struct BuildMeshTriangle {
    Material* material;
    uint32 vertIndex[3];
};

// Groups the triangles into one mesh per material (sorted by
// MaterialSortCompare): triangle lists in vertex-disjoint sweeps, or with
// strips one triangle strip per material. No triangles: the shared empty
// header. Null, with out of memory raised, on failure.
MeshHeader* MeshesBuild(const BuildMeshTriangle* triangles, int32 numTriangles, bool strips);
// Pointers to the triangles sorted by material (MaterialSortCompare; equal
// materials keep their input order), allocated with KvMalloc; null with out of
// memory raised.
const BuildMeshTriangle** MeshesSortTriangles(const BuildMeshTriangle* triangles, int32 numTriangles);
// The shared empty header is never freed.
void MeshesDestroy(MeshHeader* header);
// No meshes, no indices; shared by everything without triangles.
MeshHeader* MeshesEmptyHeader();

// A header with room for numMeshes mesh records (zeroed) and totalIndices
// indices, the next serial number, and the given flags; null with out of
// memory raised. Mesh index pointers are for the caller to set.
MeshHeader* MeshHeaderCreate(int32 numMeshes, uint32 totalIndices, uint32 flags);
// Where a header's index area begins.
uint32* MeshHeaderGetIndexArea(MeshHeader* header);

// The process-wide serial number: returns the current value, then advances.
uint16 MeshNextSerialNumber();

using MeshCallBack = Mesh* (*)(Mesh* mesh, MeshHeader* header, void* data);
// Calls back per mesh until the callback returns none.
MeshHeader* MeshForAll(MeshHeader* header, MeshCallBack callBack, void* data);

// The primitive type (PrimTypeTriList, PrimTypeTriStrip) of a header's meshes.
int32 MeshGetPrimitiveType(const MeshHeader* header);

// Orders materials for drawing, most significant first: blended materials
// after opaque ones (none first of all), then texture raster, pipeline,
// texture and the material itself. <0, 0, >0.
int MaterialSortCompare(const Material* a, const Material* b);

// The mesh module's block in the engine instance.
struct MeshModule {
    int32 primitiveType[2];  // by the strip flag
};

// Registered as engine module kIdMeshModule with sizeof(MeshModule).
void* MeshModuleOpen(void* instance, int32 offset, int32 size);
void* MeshModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
