// Atomics and clumps. An atomic places one geometry in the scene through a
// frame; a clump groups atomics under one frame. Both come from the free lists
// of the world-objects module and carry registered extension data.
#pragma once

#include "engine/camera/camera.h"
#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/frame/frame.h"

namespace kv {

struct Geometry;
struct Pipeline;
struct ResEntry;
struct Atomic;
struct Clump;

constexpr uint8 kObjectTypeAtomic = 1;
constexpr uint8 kObjectTypeClump = 2;

// Atomic flags (the header's flags byte).
constexpr uint8 kAtomicFlagFirstList = 0x01;  // tied into a sector's first atomic list
constexpr uint8 kAtomicFlagRender = 0x04;     // drawn by WorldRender
constexpr uint8 kAtomicDefaultFlags = kAtomicFlagFirstList | kAtomicFlagRender;

// Atomic private flags.
constexpr uint8 kAtomicWorldSphereDirty = 0x01;

// AtomicSetGeometry flags.
constexpr uint32 kAtomicSameBoundingSphere = 0x01;  // keep the local sphere

// Morph interpolator state flags.
constexpr int32 kMorphInstanceDirty = 0x01;  // the pipeline must re-instance positions and normals
constexpr int32 kMorphSphereDirty = 0x02;    // the local sphere must be interpolated

struct MorphInterpolator {
    int16 startMorphTarget;
    int16 endMorphTarget;
    real duration;
    real recipDuration;
    real position;  // 0 .. duration
    int32 flags;    // kMorph*
};

using AtomicRenderCallBack = Atomic* (*)(Atomic* atomic);
using AtomicCallBack = Atomic* (*)(Atomic* atomic, void* data);
using ClumpRenderCallBack = Clump* (*)(Clump* clump);

// Registered extension data follows the record.
struct Atomic {
    ObjectWithFrame object;  // header (type 1, flags, private flags; parent: the frame), frame link, sync
    Geometry* geometry;      // counted reference, or none
    Sphere boundingSphere;   // local
    Sphere worldBoundingSphere;
    Clump* clump;
    LLLink inClumpLink;
    AtomicRenderCallBack renderCallBack;
    Pipeline* pipeline;       // none: the default atomic pipeline
    ResEntry* instanceEntry;  // the pipeline's cache when it lives on the atomic
    MorphInterpolator interpolator;
    uint16 renderFrame;   // the engine's render frame when last considered
    LinkList sectorTies;  // SectorTie::inObject links
};

// Registered extension data follows the record.
struct Clump {
    Object object;        // header (type 2; parent: the frame)
    LinkList atomicList;  // Atomic::inClumpLink, head insertion
    LLLink inWorldLink;   // in the world's clump list
    ClumpRenderCallBack renderCallBack;
};

// The world-objects module's block in the engine instance (module 0x504).
struct FreeList;
struct WorldObjectsModule {
    FreeList* atomicFreeList;  // 20 a block
    FreeList* clumpFreeList;   // 10 a block
    LinkList worldList;        // every world, World::inModuleLink
};

// Flags 5, world sphere dirty, no frame, no geometry, default render callback
// (runs the atomic's pipeline, or the default atomic pipeline); registry
// constructors run. Null when the module is not open or memory runs out.
Atomic* AtomicCreate();
// Leaves its clump, releases its geometry and cache, leaves its frame.
bool AtomicDestroy(Atomic* atomic);
// flags: kAtomicSameBoundingSphere keeps the local sphere.
Atomic* AtomicSetGeometry(Atomic* atomic, Geometry* geometry, uint32 flags);
inline Geometry* AtomicGetGeometry(const Atomic* atomic) { return atomic->geometry; }
Atomic* AtomicSetFrame(Atomic* atomic, Frame* frame);
inline Frame* AtomicGetFrame(const Atomic* atomic) { return ObjectWithFrameGetFrame(&atomic->object); }
inline Atomic* AtomicSetFlags(Atomic* atomic, uint8 flags) {
    atomic->object.object.flags = flags;
    return atomic;
}
inline uint8 AtomicGetFlags(const Atomic* atomic) { return atomic->object.object.flags; }
inline Clump* AtomicGetClump(const Atomic* atomic) { return atomic->clump; }
inline const Sphere* AtomicGetBoundingSphere(const Atomic* atomic) { return &atomic->boundingSphere; }
Atomic* AtomicSetBoundingSphere(Atomic* atomic, const Sphere* sphere);
// Brought up to date first: recomputed only when the frame moved, the local
// sphere changed or the morph interpolation asks for it.
const Sphere* AtomicGetWorldBoundingSphere(Atomic* atomic);

inline Atomic* AtomicSetPipeline(Atomic* atomic, Pipeline* pipeline) {
    atomic->pipeline = pipeline;
    return atomic;
}
inline Pipeline* AtomicGetPipeline(const Atomic* atomic) { return atomic->pipeline; }
// Null restores the default callback.
Atomic* AtomicSetRenderCallBack(Atomic* atomic, AtomicRenderCallBack callBack);
inline AtomicRenderCallBack AtomicGetRenderCallBack(const Atomic* atomic) { return atomic->renderCallBack; }
// Calls the render callback.
Atomic* AtomicRender(Atomic* atomic);
// The default render callback: PipelineExecute(own or default pipeline,
// atomic, reset heap). Without any pipeline it fails with kErrEngineState.
Atomic* AtomicDefaultRenderCallBack(Atomic* atomic);

// Morph interpolation between two morph targets of the geometry.
Atomic* AtomicSetMorphTargets(Atomic* atomic, int16 start, int16 end, real duration);
Atomic* AtomicSetMorphPosition(Atomic* atomic, real position);
inline const MorphInterpolator* AtomicGetInterpolator(const Atomic* atomic) { return &atomic->interpolator; }
inline MorphInterpolator* AtomicGetInterpolator(Atomic* atomic) { return &atomic->interpolator; }

// The atomic registry: plugins register before the engine opens.
int32 AtomicRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                           PluginCopy copy);
int32 AtomicRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                 PluginStreamSize getSize);
int32 AtomicGetPluginOffset(uint32 pluginID);
PluginRegistry* AtomicGetRegistry();

// The default atomic pipeline. Null restores the platform pipeline if one was
// built, else the generic one (see WorldPipelinesSetBuilders in world.h).
Pipeline* AtomicSetDefaultPipeline(Pipeline* pipeline);
Pipeline* AtomicGetDefaultPipeline();

// Clumps.
Clump* ClumpCreate();
// Leaves its world, destroys its atomics and its frame hierarchy.
bool ClumpDestroy(Clump* clump);
// Takes the atomic from any clump it is in.
Clump* ClumpAddAtomic(Clump* clump, Atomic* atomic);
// Null (error kErrNullArgument) when the atomic is not in this clump.
Clump* ClumpRemoveAtomic(Clump* clump, Atomic* atomic);
// Each atomic in list order until the callback returns null; the next atomic
// is read before the call, so a callback may remove its own atomic.
Clump* ClumpForAllAtomics(Clump* clump, AtomicCallBack callBack, void* data);
int32 ClumpGetNumAtomics(const Clump* clump);
Clump* ClumpSetFrame(Clump* clump, Frame* frame);
inline Frame* ClumpGetFrame(const Clump* clump) { return static_cast<Frame*>(clump->object.parent); }
// Null restores the default callback (which does nothing).
Clump* ClumpSetRenderCallBack(Clump* clump, ClumpRenderCallBack callBack);
Clump* ClumpRender(Clump* clump);

int32 ClumpRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy);
int32 ClumpRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                PluginStreamSize getSize);
int32 ClumpGetPluginOffset(uint32 pluginID);
PluginRegistry* ClumpGetRegistry();

// Registered by WorldPluginAttach as engine module 0x504. Closing destroys the
// clumps, atomics and worlds still alive.
void* WorldObjectsModuleOpen(void* instance, int32 offset, int32 size);
void* WorldObjectsModuleClose(void* instance, int32 offset, int32 size);
// Null while the module is not open.
WorldObjectsModule* WorldObjectsModuleGet();

}  // namespace kv
