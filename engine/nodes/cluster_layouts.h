// Element layouts of the clusters that object pipelines fill and read: the
// interleaved object-space vertex, the per-mesh state record, the per-mesh
// data of the OpenGL vertex-array paths and the light list.
#pragma once

#include "engine/core/types.h"
#include "engine/math/matrix.h"
#include "engine/math/rgba.h"
#include "engine/pipe/pipeline.h"
#include "engine/world/material.h"

namespace kv {

struct Mesh;
struct Light;

// "KxObjSpace3DVertices.csl": handed to OpenGL as interleaved arrays.
struct ObjSpace3DVertex {
    V3d position;
    V3d normal;
    RGBA colour;
    real u;
    real v;
};
static_assert(sizeof(ObjSpace3DVertex) == 36);
static_assert(offsetof(ObjSpace3DVertex, normal) == 12 && offsetof(ObjSpace3DVertex, colour) == 24 &&
              offsetof(ObjSpace3DVertex, u) == 28);

// Mesh-state flags: a geometry's format flags, or a world's for sectors.
enum MeshStateFlag : uint32 {
    MeshStateTextured = 0x04,
    MeshStatePrelit = 0x08,
    MeshStateNormals = 0x10,
    MeshStateLight = 0x20,
    MeshStateModulate = 0x40,
    MeshStateTextured2 = 0x80,
};

// "MeshState.csl": one per packet.
struct MeshState {
    uint32 flags;
    Material* material;  // or none
    Matrix objToWorld;   // identity for sectors
    Matrix objToCamera;  // identity from the OpenGL instance nodes: OpenGL transforms
    SurfaceProperties surfaceProps;
    Texture* texture;  // the material's, or none
    RGBA matColour;
    Pipeline* matPipeline;  // none: the default material pipeline
    int32 primType;         // PrimitiveType
    uint32 numPrimitives;
    uint32 numVertices;
    uint32 clipFlagsOr;
    uint32 clipFlagsAnd;
    Mesh* mesh;
    void* object;  // the sector or atomic
};

// "OpenGLExtensionData.csl": where the mesh's vertices sit.
struct OpenGLExtensionData {
    void* rangeVertices;  // the mesh's first vertex in the vertex-array-range copy, or none
    uint32 firstVertex;
    uint32 numVertices;
};

// "Lights.csl": one light per element.
using LightRef = Light*;
constexpr uint32 kLightsGrowth = 8;

// A cluster to read without opening it (opening copies someone else's data
// into the heap, which only writers need). Null when the node does not see
// it or it holds nothing.
inline const Cluster* ClusterPeek(const Packet* packet, int32 index) {
    if (packet == nullptr || packet->inputToClusterSlot == nullptr || index < 0) return nullptr;
    const int32 slot = packet->inputToClusterSlot[index];
    if (slot < 0) return nullptr;
    const Cluster* c = &packet->clusters[slot];
    return c->clusterRef != nullptr && (c->flags & ClusterValid) != 0 && c->data != nullptr ? c : nullptr;
}

}  // namespace kv
