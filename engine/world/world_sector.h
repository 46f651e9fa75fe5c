// World sectors: a binary tree that divides a world's space. Plane sectors
// split it along an axis; atomic sectors (the leaves) hold ties to the atomics
// and local lights that overlap them, and optionally static geometry.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/math/bbox.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"

namespace kv {

struct Atomic;
struct Light;
struct World;
struct MeshHeader;
struct Pipeline;
struct ResEntry;
struct FreeList;
struct WorldSector;

// A sector's type: the split axis (0 x, 1 y, 2 z) of a plane sector, or
// kSectorTypeAtomic for a leaf.
constexpr int32 kSectorTypeAtomic = -1;

struct Sector {
    int32 type;
};

struct PlaneSector {
    int32 type;  // axis, >= 0
    Sector* leftSubTree;
    Sector* rightSubTree;
    real leftValue;   // the left subtree lies below this on the axis
    real rightValue;  // the right subtree lies above this
    real value;       // the split plane, which side a camera is on
};

// Sector vertex normals: signed bytes, 1/128 per unit.
struct SectorNormal {
    int8 x, y, z, pad;
};

struct SectorTriangle {
    uint16 vertIndex[3];
    int16 matIndex;  // slot of the world's material list
};

// The two atomic tie lists of a sector.
constexpr int32 kSectorAtomicListFirst = 0;   // atomics with kAtomicFlagFirstList
constexpr int32 kSectorAtomicListSecond = 1;  // the others

// Registered extension data follows the record.
struct WorldSector {
    int32 type;  // kSectorTypeAtomic
    BBox boundingBox;
    LinkList atomicTies[2];  // SectorTie::inSector links
    LinkList lightTies;
    World* world;
    // Static geometry (none in worlds made by WorldCreate).
    V3d* vertices;
    SectorNormal* normals;
    RGBA* preLitColors;
    V2d* texCoords[2];
    SectorTriangle* triangles;
    int32 numVertices;
    int32 numTriangles;
    MeshHeader* meshes;
    ResEntry* instanceEntry;  // the sector pipeline's cache
    Pipeline* pipeline;       // none: the world's, else the default sector pipeline
};

// Links one atomic or one local light with one sector; in both their lists.
struct SectorTie {
    LLLink inSector;  // in the sector's atomic or light tie list
    LLLink inObject;  // in the atomic's or light's tie list
    union {
        Atomic* atomic;
        Light* light;
    };
    WorldSector* sector;
};

inline SectorTie* SectorTieFromSectorLink(LLLink* link) {
    return LLLinkGetData<SectorTie>(link, offsetof(SectorTie, inSector));
}
inline SectorTie* SectorTieFromObjectLink(LLLink* link) {
    return LLLinkGetData<SectorTie>(link, offsetof(SectorTie, inObject));
}

using WorldSectorCallBack = WorldSector* (*)(WorldSector* sector, void* data);
using SectorAtomicCallBack = Atomic* (*)(Atomic* atomic, void* data);
using SectorLightCallBack = Light* (*)(Light* light, void* data);

// Until the callback returns null. Both atomic lists, first list first.
WorldSector* WorldSectorForAllAtomics(WorldSector* sector, SectorAtomicCallBack callBack, void* data);
WorldSector* WorldSectorForAllLights(WorldSector* sector, SectorLightCallBack callBack, void* data);
// The sectors an atomic is tied to, until the callback returns null.
Atomic* AtomicForAllWorldSectors(Atomic* atomic, WorldSectorCallBack callBack, void* data);
// The sectors a light is tied to.
Light* LightForAllWorldSectors(Light* light, WorldSectorCallBack callBack, void* data);

inline const BBox* WorldSectorGetBBox(const WorldSector* sector) { return &sector->boundingBox; }
inline World* WorldSectorGetWorld(const WorldSector* sector) { return sector->world; }
inline WorldSector* WorldSectorSetPipeline(WorldSector* sector, Pipeline* pipeline) {
    sector->pipeline = pipeline;
    return sector;
}
inline Pipeline* WorldSectorGetPipeline(const WorldSector* sector) { return sector->pipeline; }

// Calls back with every atomic sector whose box the given box reaches, in
// tree order (left before right). Returns false when the callback stopped it.
bool SectorForAllInBox(Sector* root, const BBox* box, WorldSectorCallBack callBack, void* data);

// Ties. A tie links object and sector both ways; null (out of memory raised)
// when the tie module cannot give a record.
SectorTie* SectorTieAtomic(WorldSector* sector, Atomic* atomic);
SectorTie* SectorTieLight(WorldSector* sector, Light* light);
// Unlinks and frees every tie of the object.
void AtomicRemoveSectorTies(Atomic* atomic);
void LightRemoveSectorTies(Light* light);
// Unlinks and frees every tie of the sector (atomic and light ties).
void WorldSectorRemoveTies(WorldSector* sector);

// The sector registry: plugins register before the engine opens.
int32 WorldSectorRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                                PluginCopy copy);
int32 WorldSectorRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                      PluginStreamSize getSize);
int32 WorldSectorGetPluginOffset(uint32 pluginID);
PluginRegistry* WorldSectorGetRegistry();

// The sector-tie module's block (engine module 0x509).
struct SectorTieModule {
    FreeList* tieFreeList;
};

// Registered by WorldPluginAttach. Closing unlinks every tie still alive.
void* SectorTieModuleOpen(void* instance, int32 offset, int32 size);
void* SectorTieModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
