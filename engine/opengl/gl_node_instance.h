// The OpenGL instance nodes: "WorldSectorInstance.csl" (data = a world
// sector) and "AtomicInstance.csl" (data = an atomic) lay an object's
// geometry out once as interleaved vertices and rebased 32-bit indices in a
// resource-arena entry, refresh it when the geometry changes, and send one
// packet per mesh: indexed meshes on the first output, unindexed ones (world
// sectors whose meshes each use the next run of vertices) on the second.
#pragma once

#include "engine/image/resource_arena.h"
#include "engine/nodes/cluster_layouts.h"
#include "engine/world/geometry.h"

namespace kv {

NodeType* NodeDefinitionGetOpenGLWorldSectorInstance();
NodeType* NodeDefinitionGetOpenGLAtomicInstance();

// The cache of one sector, or of one geometry (of one atomic when the
// geometry has several morph targets): a resource-arena entry holding this
// record, its meshes, the vertices, the second texture set and the indices.
struct GlInstanceMesh {
    uint32* indices;  // rebased to firstVertex; none for unindexed meshes
    uint32 numIndices;
    uint32 firstVertex;  // the lowest vertex the mesh uses
    uint32 numVertices;  // highest - lowest + 1; 0: nothing to draw
    Material* material;
    Mesh* mesh;
};

struct GlInstance {
    uint32 serialNum;     // of the mesh header it was built from
    uint32 changeSerial;  // the geometry's change count the vertices are up to
    int32 numMeshes;
    int32 numVertices;
    ObjSpace3DVertex* vertices;
    TexCoords* uv2;    // the second texture set, or none
    uint8* rangeCopy;  // vertices then second set in vertex-array-range memory, or none
    GlInstanceMesh* meshes;
};

inline GlInstance* GlInstanceFromEntry(ResEntry* entry) { return static_cast<GlInstance*>(ResEntryData(entry)); }
// The generic pipelines cache objects in the same place: an entry is this
// node's only if it made it.
bool GlInstanceOwnsEntry(const ResEntry* entry);

}  // namespace kv
