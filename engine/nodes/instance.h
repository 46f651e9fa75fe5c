// What every instance node does per mesh, whatever device draws it: the mesh
// state and render state of a mesh's packet, and where an atomic stands
// between its morph targets.
#pragma once

#include <cstddef>

#include "cluster_layouts.h"
#include "engine/image/resource_arena.h"
#include "engine/pipe/render_state.h"
#include "engine/world/mesh.h"

namespace kv {

struct Atomic;
struct Geometry;
struct MeshHeader;
struct MorphTarget;
struct WorldSector;

// Flags, the material's fields (white, untextured, default coefficients for a
// mesh without material), the header's primitive type, the object matrix
// (identity when none) and an identity camera matrix. Counts are left 0.
void MeshStateInitialise(MeshState* state, uint32 flags, Mesh* mesh, const MeshHeader* header, const Matrix* objToWorld,
                         void* object);

// The module default, with the mesh's texture and its blending: a material
// colour that is not fully opaque needs alpha blending.
void MeshRenderStateInitialise(RenderStateRecord* record, const MeshState* state);

// Textures are the texture module's records: it says which raster and which
// sampling a texture stands for by filling the record's texture fields
// (raster, address modes, filter). Without a reader no texture is drawn.
using MeshTextureReadFn = void (*)(const Texture* texture, RenderStateRecord* record);
void MeshStateSetTextureReader(MeshTextureReadFn reader);

// The two morph targets an atomic's geometry is drawn between and how far
// along (0: all start). Targets out of range fall back to the first.
struct MorphBlend {
    const MorphTarget* start;
    const MorphTarget* end;
    real t;
};
MorphBlend AtomicMorphBlend(const Atomic* atomic, const Geometry* geometry);

// Position (and normal, when wanted) of vertex i under a blend.
void MorphBlendVertex(const MorphBlend& blend, int32 i, bool normals, V3d* position, V3d* normal);

// The interleaved vertices of a world sector's static geometry (flags: the
// world's): normals unpacked, prelit colours or opaque black, the first
// texture set.
void InstanceSectorVertices(ObjSpace3DVertex* out, const WorldSector* sector, uint32 flags);
// The interleaved vertices of an atomic's geometry where its morph blend
// stands: every field, or positions and normals alone.
void InstanceAtomicVertices(ObjSpace3DVertex* out, const Atomic* atomic, const Geometry* geometry, uint32 flags,
                            bool everything);

// --- The caches instance nodes keep in the resource arena -----------------
//
// Every instance cache starts with the same fields: the mesh header it was
// built from, how far it has caught up with its geometry's changes, and the
// interleaved vertices. Each device's node lays out the rest.

// Rounds a size up so that what follows it is aligned for any field.
inline std::size_t InstanceAlignUp(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

// The triangle-list indices a mesh of n indices makes.
inline uint32 InstanceTriangleSlots(bool strip, uint32 n) { return strip ? (n > 2 ? 3 * (n - 2) : 0) : n - n % 3; }

// A cache of size bytes for owner: in the arena, or, when it could never fit
// there, from the general allocator and never evicted. Null (no memory
// raised, *ownerRef null) on failure.
void* InstanceCacheAllocate(void* owner, ResEntry** ownerRef, std::size_t size, ResEntryDestroyNotify notify);

// The fields every cache starts with, for a cache at base.
template <typename Cache>
Cache* InstanceCacheStart(void* base, const MeshHeader* header, int32 numMeshes, int32 numVertices,
                          std::size_t verticesAt) {
    auto* cache = static_cast<Cache*>(base);
    cache->serialNum = header->serialNum;
    cache->changeSerial = 0;
    cache->numMeshes = numMeshes;
    cache->numVertices = numVertices;
    cache->vertices = reinterpret_cast<ObjSpace3DVertex*>(static_cast<uint8*>(base) + verticesAt);
    return cache;
}

// Where an atomic's cache lives: on the geometry when it has one morph target
// (every atomic draws it alike and shares it), else on the atomic.
ResEntry** InstanceAtomicCacheRef(Atomic* atomic, Geometry* geometry, void** owner);

// What a cache made at changeSerial must fill again to catch up with its
// geometry and the atomic's morph blend.
enum InstanceRefill : int32 {
    InstanceRefillNone = 0,
    InstanceRefillShape = 1,  // positions and normals
    InstanceRefillAll = 2,
};
InstanceRefill InstanceAtomicRefill(const Atomic* atomic, Geometry* geometry, uint32 changeSerial);
// After a fill: the change serial the cache is now up to; the geometry's
// lock bits and the atomic's morph mark are cleared.
uint32 InstanceAtomicCaughtUp(Atomic* atomic, Geometry* geometry);

// A packet's one-element cluster at index; *out stays null when no later node
// wants it. False when memory runs out.
template <typename T>
bool PacketAllocateOne(Packet* packet, int32 index, PipelineNode* node, T** out) {
    *out = nullptr;
    Cluster* c = ClusterOpen(packet, index, node);
    if (c == nullptr) return true;
    if (ClusterAllocate(c, 1, sizeof(T)) == nullptr) return false;
    c->numUsed = 1;
    *out = static_cast<T*>(c->data);
    return true;
}

}  // namespace kv
