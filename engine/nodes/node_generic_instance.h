// The generic instance nodes: "WorldSectorInstance.csl" (data = a world
// sector) and "AtomicInstance.csl" (data = an atomic) for pipelines that
// transform in software. Each lays the object out once in a resource-arena
// entry (interleaved vertices, every mesh as a triangle list of 32-bit
// indices rebased to the mesh's lowest vertex, and for sectors one plane per
// triangle), refreshes it when the geometry changes, and sends one packet
// per mesh with the object-to-camera matrix in its mesh state.
#pragma once

#include "engine/image/resource_arena.h"
#include "engine/nodes/cluster_layouts.h"

namespace kv {

NodeType* NodeDefinitionGetWorldSectorInstance();
NodeType* NodeDefinitionGetAtomicInstance();

// "KxTriPlanes.csl": a triangle's unit normal in signed 1/127 steps and its
// distance from the origin.
struct TriPlane {
    int8 x, y, z, pad;
    real distance;
};
static_assert(sizeof(TriPlane) == 8);

struct GenInstanceMesh {
    uint32* indices;  // triangle list, rebased to firstVertex
    uint32 numIndices;
    uint32 firstVertex;
    uint32 numVertices;  // 0: nothing to draw
    Mesh* mesh;
    TriPlane* planes;  // sectors: one per triangle; else none
};

struct GenInstance {
    uint32 serialNum;     // of the mesh header it was built from
    uint32 changeSerial;  // the geometry's change count the vertices are up to
    int32 numMeshes;
    int32 numVertices;
    ObjSpace3DVertex* vertices;
    GenInstanceMesh* meshes;
};

// Null when the entry is another pipeline's cache.
GenInstance* GenInstanceFromEntry(ResEntry* entry);

}  // namespace kv
