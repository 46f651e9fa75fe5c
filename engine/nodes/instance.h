// What every instance node does per mesh, whatever device draws it: the mesh
// state and render state of a mesh's packet, and where an atomic stands
// between its morph targets.
#pragma once

#include "engine/pipe/render_state.h"
#include "cluster_layouts.h"

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

}  // namespace kv
