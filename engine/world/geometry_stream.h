// Stream formats of geometries, material lists and materials (writers), and
// the mesh extension that geometries carry (writer and reader). Sizes are the
// exact payload bytes behind each chunk header, computed before writing.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Stream;
struct Geometry;
struct Material;
struct MaterialList;
struct MeshHeader;

// Plugin ids on the geometry registry (and, for meshes, on world sectors).
constexpr uint32 kIdMeshExtension = 0x50E;
constexpr uint32 kIdGeometryNativeExtension = 0x510;

// A malformed mesh extension body (counts that do not add up to its length, or
// a material index outside the material list) raises kErrMeshStreamMalformed
// under the mesh module's id.

// Geometry chunk: structure, material list, extension.
uint32 GeometryStreamGetSize(const Geometry* geometry);
// Fails (0x8000001D, before writing) when several materials' vertices are not
// grouped by material.
const Geometry* GeometryStreamWrite(const Geometry* geometry, Stream* stream);

// Material list chunk: structure with the slot references, then one material
// chunk per distinct material.
uint32 MaterialListStreamGetSize(const MaterialList* list);
const MaterialList* MaterialListStreamWrite(const MaterialList* list, Stream* stream);

// Material chunk: structure, the texture chunk when textured, extension.
uint32 MaterialStreamGetSize(const Material* material);
const Material* MaterialStreamWrite(const Material* material, Stream* stream);

// The mesh extension body of a header whose materials are slots of list.
uint32 MeshHeaderStreamGetSize(const MeshHeader* header);
bool MeshHeaderStreamWrite(const MeshHeader* header, const MaterialList* list, Stream* stream);
// Reads a body of `length` bytes; every mesh's material index must be a slot
// of list (-1: no material). Null on a short read, a malformed body or an
// index outside the list. Memory grows with the bytes read, not with the
// counts the body declares.
MeshHeader* MeshHeaderStreamRead(Stream* stream, int32 length, const MaterialList* list);

// The mesh extension's callbacks on the geometry registry (object: the
// geometry). The reader replaces the geometry's meshes.
int32 MeshStreamGetSize(const void* object, int32 offset, int32 size);
Stream* MeshStreamWrite(Stream* stream, int32 length, const void* object, int32 offset, int32 size);
Stream* MeshStreamRead(Stream* stream, int32 length, void* object, int32 offset, int32 size);

// The geometry extension: never written (size 0); reading it marks the
// geometry.
int32 GeometryNativeStreamGetSize(const void* object, int32 offset, int32 size);
Stream* GeometryNativeStreamRead(Stream* stream, int32 length, void* object, int32 offset, int32 size);

// Registers both extensions on the geometry registry; call before the engine
// opens (the world plug-in's attach does).
bool GeometryStreamPluginsAttach();

}  // namespace kv
