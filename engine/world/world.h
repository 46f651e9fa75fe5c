// Worlds: clumps, lights and cameras in a space divided into sectors, so that
// only what a camera can see is drawn; the world plug-in that registers the
// world objects' modules and extends cameras, atomics, clumps and lights; and
// the world pipelines module that holds the default object pipelines.
#pragma once

#include "engine/camera/camera.h"
#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/math/bbox.h"
#include "engine/world/clump.h"
#include "engine/world/material.h"
#include "engine/world/material_list.h"
#include "engine/world/world_sector.h"

namespace kv {

struct Light;
struct Pipeline;

constexpr uint8 kObjectTypeWorld = 7;

// Engine module ids registered by the world plug-in besides the material,
// mesh and geometry modules (material.h).
constexpr uint32 kIdWorldObjectsModule = 0x504;
constexpr uint32 kIdLightModule = 0x505;
constexpr uint32 kIdWorldPipelinesModule = 0x507;
constexpr uint32 kIdSectorTieModule = 0x509;
constexpr uint32 kIdWorldModule50A = 0x50A;
constexpr uint32 kIdWorldModule50B = 0x50B;
// The world extension's id on cameras, clumps, atomics and lights (the mesh
// extension's and the geometry extension's are in geometry_stream.h).
constexpr uint32 kIdWorldExtension = 0x509;

using WorldSectorRenderCallBack = WorldSector* (*)(WorldSector* sector);
using ClumpCallBack = Clump* (*)(Clump* clump, void* data);
using LightCallBack = Light* (*)(Light* light, void* data);

// Registered extension data follows the record. The world's flags (header
// flags byte) describe its static geometry as a geometry's format flags do.
struct World {
    Object object;  // type 7
    MaterialList matList;
    Sector* rootSector;
    int32 numClumps;
    LinkList clumpList;        // Clump::inWorldLink
    LinkList globalLightList;  // directional and ambient lights
    LinkList localLightList;   // lights of type 0x80 and above
    LinkList cameraList;       // cameras added to the world
    BBox boundingBox;
    SurfaceProperties surfaceProps;
    WorldSectorRenderCallBack renderCallBack;
    Pipeline* pipeline;  // sector pipeline for sectors without their own; none: the default
    LLLink inModuleLink;
    int32 numSectors;  // atomic sectors
};
// Sectors are allocated with KvMalloc (atomic sectors with the sector
// registry's size) and freed by WorldDestroy.

// The world extension of atomics.
struct AtomicWorldExt {
    World* world;
    ObjectWithFrameSyncCallBack savedSync;
};
// The world extension of clumps.
struct ClumpWorldExt {
    World* world;
};
// The world extension of cameras: the visible-sector list and the saved hooks.
struct CameraWorldExt {
    WorldSector** sectors;
    int32 capacity;
    int32 numSectors;
    World* world;
    CameraUpdateFn savedBeginUpdate;
    CameraUpdateFn savedEndUpdate;
    ObjectWithFrameSyncCallBack savedSync;
    LLLink inWorldLink;  // in World::cameraList
};
// The world extension of lights.
struct LightWorldExt {
    World* world;
    ObjectWithFrameSyncCallBack savedSync;
    LLLink inWorldLink;  // in the world's global or local light list
};
// The visible-sector list grows this many entries at a time.
constexpr int32 kCameraSectorGrowth = 50;

// One atomic sector covering box (maximum and minimum corners); the world's
// material list is empty and its surface properties are the defaults.
World* WorldCreate(const BBox* box);
// Takes out its clumps, lights and cameras first, so none of them is left
// pointing at the freed world.
bool WorldDestroy(World* world);
// Error kErrWorldClumpInWorld (module 1) when the clump is in a world already.
World* WorldAddClump(World* world, Clump* clump);
// Error kErrWorldClumpNotInWorld (module 1) when the clump is not in this
// world (in none, or in another one).
World* WorldRemoveClump(World* world, Clump* clump);
World* WorldAddCamera(World* world, Camera* camera);
World* WorldRemoveCamera(World* world, Camera* camera);
// Global lights join the global list, local ones the local list; a light in
// another world leaves it first.
World* WorldAddLight(World* world, Light* light);
World* WorldRemoveLight(World* world, Light* light);
World* WorldForAllClumps(World* world, ClumpCallBack callBack, void* data);
World* WorldForAllLights(World* world, LightCallBack callBack, void* data);
// Every atomic sector, in tree order.
World* WorldForAllWorldSectors(World* world, WorldSectorCallBack callBack, void* data);
// Splits an atomic sector of the world at value on axis (0 x, 1 y, 2 z): the
// sector keeps the part below (its box shrinks) and a new atomic sector takes
// the part above, under a new plane sector. Everything tied to the old sector
// is placed again at the next frame sync. Null when value is not inside the
// sector's box on that axis, or memory runs out.
WorldSector* WorldSplitSector(World* world, WorldSector* sector, int32 axis, real value);
inline int32 WorldGetNumClumps(const World* world) { return world->numClumps; }
inline const BBox* WorldGetBBox(const World* world) { return &world->boundingBox; }
inline Sector* WorldGetRootSector(const World* world) { return world->rootSector; }
inline World* WorldSetFlags(World* world, uint8 flags) {
    world->object.flags = flags;
    return world;
}
inline uint8 WorldGetFlags(const World* world) { return world->object.flags; }
inline World* WorldSetPipeline(World* world, Pipeline* pipeline) {
    world->pipeline = pipeline;
    return world;
}
inline Pipeline* WorldGetPipeline(const World* world) { return world->pipeline; }
// Null restores the default sector render callback.
World* WorldSetSectorRenderCallBack(World* world, WorldSectorRenderCallBack callBack);
// The default sector render callback: PipelineExecute(the sector's, else the
// world's, else the default sector pipeline, sector, reset heap). A sector
// without static geometry and no pipeline to run succeeds without drawing.
WorldSector* WorldSectorDefaultRenderCallBack(WorldSector* sector);

// Renders what the current camera sees: each visible sector, then each
// atomic tied to it that has kAtomicFlagRender, is in the frustum and has not
// been considered this frame. Null (kErrCoreNoCamera) without a current camera.
World* WorldRender(World* world);

// The world the current camera is in while it updates, or none.
World* WorldGetCurrent();

// World extension accessors (null before WorldPluginAttach or when not in a world).
World* AtomicGetWorld(const Atomic* atomic);
World* ClumpGetWorld(const Clump* clump);
World* LightGetWorld(const Light* light);
World* CameraGetWorld(const Camera* camera);
// The sectors the camera saw at its last frame sync, in visiting order.
int32 CameraGetNumVisibleSectors(const Camera* camera);
WorldSector* CameraGetVisibleSector(const Camera* camera, int32 index);

// The world registry: plugins register before the engine opens.
int32 WorldRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy);
int32 WorldGetPluginOffset(uint32 pluginID);
PluginRegistry* WorldGetRegistry();

// Registers the world objects' engine modules (0x501 materials, 0x502 meshes,
// 0x503 geometries, 0x504 world objects, 0x505 lights, 0x507 world pipelines,
// 0x509 sector ties, 0x50A, 0x50B), the world extension (0x509) on cameras,
// clumps, atomics and lights, the mesh extension (0x50E) on geometries and
// world sectors, the geometry extension (0x510) and the hardware-light extension.
// Call between EngineInit and EngineOpen; false when any registration fails.
bool WorldPluginAttach();

// The world pipelines module: per role a generic pipeline, a platform
// pipeline and the current default. Builders are installed before the engine
// starts; at module start the generic builder runs, then the platform one,
// and the platform pipelines become the defaults. If a builder fails, what
// was built is destroyed and the module (and so the engine start) fails.
struct WorldPipelineSet {
    Pipeline* atomic;
    Pipeline* sector;
    Pipeline* material;
};
// Fills the set (any member may stay null); false on failure, with whatever
// it had built already destroyed by itself.
using WorldPipelinesBuildFn = bool (*)(WorldPipelineSet* set);
void WorldPipelinesSetBuilders(WorldPipelinesBuildFn generic, WorldPipelinesBuildFn platform);

struct WorldPipelinesModule {
    WorldPipelineSet generic;
    WorldPipelineSet platform;
    WorldPipelineSet current;
};

// The generic set the module built (null while it is closed): what a program
// installs as defaults to draw in software.
const WorldPipelineSet* WorldPipelinesGetGeneric();

Pipeline* WorldSectorSetDefaultPipeline(Pipeline* pipeline);
Pipeline* WorldSectorGetDefaultPipeline();
// The pipeline a mesh's packet runs through when its material has none.
Pipeline* MaterialSetDefaultPipeline(Pipeline* pipeline);
Pipeline* MaterialGetDefaultPipeline();

void* WorldPipelinesModuleOpen(void* instance, int32 offset, int32 size);
void* WorldPipelinesModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
