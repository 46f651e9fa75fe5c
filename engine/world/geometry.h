// Geometries: the engine's editable meshes. Vertex data (positions and
// optional normals per morph target; prelit colours and texture coordinates
// shared by all morph targets), triangles that name three vertices and a slot
// of the material list, and the meshes built from them on unlock.
// Reference-counted records from the geometry module's free list, extensible
// through the geometry registry.
#pragma once

#include "engine/camera/camera.h"
#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"
#include "material.h"
#include "material_list.h"
#include "mesh.h"

namespace kv {

struct FreeList;
struct ResEntry;
struct Geometry;

constexpr uint8 kObjectTypeGeometry = 8;

// Format flags (one byte).
enum GeometryFlag : uint8 {
    GeometryTriStrip = 0x01,
    GeometryPositions = 0x02,  // not used
    GeometryTextured = 0x04,
    GeometryPrelit = 0x08,
    GeometryNormals = 0x10,
    GeometryLight = 0x20,
    GeometryModulateMaterialColor = 0x40,
    GeometryTextured2 = 0x80,  // two sets, unless GeometryTextured is set
};

// Lock flags: what changed since the pipeline last instanced the geometry.
enum GeometryLockFlag : uint16 {
    GeometryLockPolygons = 0x01,  // discards the meshes
    GeometryLockVertices = 0x02,
    GeometryLockNormals = 0x04,
    GeometryLockTexCoords = 0x08,
    GeometryLockTexCoords2 = 0x10,
    GeometryLockPrelight = 0x20,
    GeometryLockAll = 0x3F,
};

struct Triangle {
    uint16 vertIndex[3];
    int16 matIndex;  // slot of the material list, -1 for none
};
static_assert(sizeof(Triangle) == 8);

struct TexCoords {
    real u;
    real v;
};
static_assert(sizeof(TexCoords) == 8);

struct MorphTarget {
    Geometry* parentGeom;
    Sphere boundingSphere;
    V3d* verts;    // vertex count positions; with normals, the normals follow in the same block
    V3d* normals;  // or none
};

// Registered extension data follows the record.
struct Geometry {
    Object object;               // type 8; flags: the format flags; parent unused
    ResEntry* instanceEntry;     // the pipeline's cached instance, or none
    uint16 lockedSinceLastInst;  // GeometryLockFlag bits
    int16 refCount;
    MaterialList matList;
    int32 numTriangles;  // fixed at creation
    int32 numVertices;   // fixed at creation
    int32 numMorphTargets;
    Triangle* triangles;      // or none
    RGBA* preLitLum;          // with GeometryPrelit
    TexCoords* texCoords[2];  // set 1 with GeometryTextured or GeometryTextured2; set 2 with the latter
    SurfaceProperties surfaceProps;
    MeshHeader* mesh;  // built by unlock, or none
    MorphTarget* morphTarget;
    uint32 reserved;  // 1 once the geometry extension was read for it
    // Counts the locks that changed vertex data, so that every cache of the
    // geometry (one per atomic when it morphs) sees every change, whoever
    // instanced it first: a cache remembers the count it was made at.
    uint32 changeSerial;
    uint32 fullChangeSerial;  // the count at the last change beyond positions and normals
};

// The geometry module's block in the engine instance.
struct GeometryModule {
    FreeList* geometryFreeList;
};

// One morph target, all material indices -1, lock flags 0, one reference.
Geometry* GeometryCreate(int32 numVertices, int32 numTriangles, uint32 format);
Geometry* GeometryAddRef(Geometry* geometry);
// Drops one reference and frees on the last.
bool GeometryDestroy(Geometry* geometry);

// The new morph target's index, or -1.
int32 GeometryAddMorphTarget(Geometry* geometry);
// Null for an index outside the geometry's morph targets.
MorphTarget* GeometryGetMorphTarget(const Geometry* geometry, int32 index);
inline int32 GeometryGetNumMorphTargets(const Geometry* geometry) { return geometry->numMorphTargets; }
inline int32 GeometryGetNumVertices(const Geometry* geometry) { return geometry->numVertices; }
inline int32 GeometryGetNumTriangles(const Geometry* geometry) { return geometry->numTriangles; }
inline uint32 GeometryGetFlags(const Geometry* geometry) { return geometry->object.flags; }
inline Triangle* GeometryGetTriangles(const Geometry* geometry) { return geometry->triangles; }
inline RGBA* GeometryGetPrelitColors(const Geometry* geometry) { return geometry->preLitLum; }
// set 0 or 1; null when the geometry has no such set.
inline TexCoords* GeometryGetTexCoords(const Geometry* geometry, int32 set) {
    return set == 0 || set == 1 ? geometry->texCoords[set] : nullptr;
}
inline const MaterialList* GeometryGetMaterialList(const Geometry* geometry) { return &geometry->matList; }
inline int32 GeometryGetNumMaterials(const Geometry* geometry) { return geometry->matList.numMaterials; }
// The material of a material-list slot, or null.
Material* GeometryGetMaterial(const Geometry* geometry, int32 slot);
inline MeshHeader* GeometryGetMeshHeader(const Geometry* geometry) { return geometry->mesh; }
inline const SurfaceProperties* GeometryGetSurfaceProperties(const Geometry* geometry) {
    return &geometry->surfaceProps;
}
Geometry* GeometrySetSurfaceProperties(Geometry* geometry, const SurfaceProperties* props);
inline uint16 GeometryGetLockFlags(const Geometry* geometry) { return geometry->lockedSinceLastInst; }
// The instancing pipeline clears the change bits once it has caught up.
inline void GeometryClearLockFlags(Geometry* geometry) { geometry->lockedSinceLastInst = 0; }
inline uint32 GeometryGetChangeSerial(const Geometry* geometry) { return geometry->changeSerial; }
// What changed since a cache was made at `serial`: 0, positions and normals
// alone (GeometryLockVertices | GeometryLockNormals), or GeometryLockAll.
inline uint32 GeometryChangesSince(const Geometry* geometry, uint32 serial) {
    if (serial == geometry->changeSerial) return 0;
    // Counts run on: what matters is how far back the cache is.
    const bool beyondShape = geometry->changeSerial - geometry->fullChangeSerial < geometry->changeSerial - serial;
    return beyondShape ? uint32{GeometryLockAll} : uint32{GeometryLockVertices | GeometryLockNormals};
}
inline int16 GeometryGetRefCount(const Geometry* geometry) { return geometry->refCount; }

inline V3d* MorphTargetGetVertices(const MorphTarget* target) { return target->verts; }
inline V3d* MorphTargetGetNormals(const MorphTarget* target) { return target->normals; }
inline const Sphere* MorphTargetGetBoundingSphere(const MorphTarget* target) { return &target->boundingSphere; }
// Computes the sphere around the positions into *sphere; does not store it.
// A morph target without vertices gives the zero sphere.
const MorphTarget* MorphTargetCalcBoundingSphere(const MorphTarget* target, Sphere* sphere);
MorphTarget* MorphTargetSetBoundingSphere(MorphTarget* target, const Sphere* sphere);

Geometry* TriangleSetVertexIndices(Geometry* geometry, Triangle* triangle, uint16 vert1, uint16 vert2, uint16 vert3);
// Any output may be null.
const Geometry* TriangleGetVertexIndices(const Geometry* geometry, const Triangle* triangle, uint16* vert1,
                                         uint16* vert2, uint16* vert3);
// Names the material (appending it to the material list when new) or none;
// the triangle holds a reference to its material.
Geometry* TriangleSetMaterial(Geometry* geometry, Triangle* triangle, Material* material);
// The triangle's material, or null.
Material* TriangleGetMaterial(const Geometry* geometry, const Triangle* triangle);

// Adds change bits; GeometryLockPolygons discards the meshes.
Geometry* GeometryLock(Geometry* geometry, uint32 lockFlags);
// Builds the meshes when there are none; null (and no meshes) on failure.
Geometry* GeometryUnlock(Geometry* geometry);

// The geometry registry: plugins register before the engine opens.
int32 GeometryRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                             PluginCopy copy);
int32 GeometryRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamSize getSize);
int32 GeometryGetPluginOffset(uint32 pluginID);
PluginRegistry* GeometryGetRegistry();

// Registered as engine module kIdGeometryModule with sizeof(GeometryModule).
// Closing destroys the geometries still alive.
void* GeometryModuleOpen(void* instance, int32 offset, int32 size);
void* GeometryModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
