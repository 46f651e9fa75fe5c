#include "world.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "engine/image/resource_arena.h"
#include "engine/pipe/pipeline.h"
#include "engine/world/geometry.h"
#include "engine/world/geometry_stream.h"
#include "engine/world/hardware_light.h"
#include "engine/world/light.h"
#include "engine/world/mesh.h"
#include "world_internal.h"

namespace kv {

namespace {

PluginRegistry worldRegistry = PluginRegistryMake(sizeof(World));

PluginSlot<AtomicWorldExt> atomicExt;
PluginSlot<ClumpWorldExt> clumpExt;
PluginSlot<CameraWorldExt> cameraExt;
PluginSlot<LightWorldExt> lightExt;

void LinkSelf(LLLink* link) {
    link->next = link;
    link->prev = link;
}

void Unlink(LLLink* link) {
    LLLinkRemove(link);
    LinkSelf(link);
}

const real& Axis(const V3d& v, int32 axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }
real& Axis(V3d& v, int32 axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

Clump* ClumpFromWorldLink(LLLink* l) { return LLLinkGetData<Clump>(l, offsetof(Clump, inWorldLink)); }

// --- Placement of atomics and local lights into sectors -------------------

WorldSector* TieAtomicCB(WorldSector* sector, void* data) {
    return SectorTieAtomic(sector, static_cast<Atomic*>(data)) != nullptr ? sector : nullptr;
}

WorldSector* TieLightCB(WorldSector* sector, void* data) {
    return SectorTieLight(sector, static_cast<Light*>(data)) != nullptr ? sector : nullptr;
}

BBox BoxAround(const V3d& c, real r) { return BBox{V3d{c.x + r, c.y + r, c.z + r}, V3d{c.x - r, c.y - r, c.z - r}}; }

void PlaceAtomic(Atomic* atomic, World* world) {
    AtomicRemoveSectorTies(atomic);
    if (AtomicGetFrame(atomic) == nullptr) return;
    const Sphere* s = AtomicGetWorldBoundingSphere(atomic);
    const BBox box = BoxAround(s->center, s->radius);
    SectorForAllInBox(world->rootSector, &box, TieAtomicCB, atomic);
}

void PlaceLight(Light* light, World* world) {
    LightRemoveSectorTies(light);
    Frame* f = LightGetFrame(light);
    if (f == nullptr || !LightTypeIsLocal(LightGetType(light))) return;
    const BBox box = BoxAround(FrameGetWorldMatrix(f)->pos, light->radius);
    SectorForAllInBox(world->rootSector, &box, TieLightCB, light);
}

// --- The world extension of atomics ---------------------------------------

ObjectWithFrame* AtomicWorldSync(ObjectWithFrame* object) {
    auto* atomic = reinterpret_cast<Atomic*>(object);
    AtomicWorldExt* ext = worldp::AtomicExt(atomic);
    if (ext->savedSync != nullptr) ext->savedSync(object);
    if (ext->world != nullptr) PlaceAtomic(atomic, ext->world);
    return object;
}

void* AtomicExtConstruct(void* object, int32 offset, int32) {
    auto* atomic = static_cast<Atomic*>(object);
    auto* ext = PtrAdd<AtomicWorldExt>(object, offset);
    ext->world = nullptr;
    ext->savedSync = atomic->object.syncCallback;
    atomic->object.syncCallback = AtomicWorldSync;
    atomic->renderFrame = static_cast<uint16>(EngineInstanceGet()->renderFrame - 1);
    return object;
}

void* AtomicExtDestruct(void* object, int32 offset, int32) {
    auto* atomic = static_cast<Atomic*>(object);
    auto* ext = PtrAdd<AtomicWorldExt>(object, offset);
    AtomicRemoveSectorTies(atomic);
    ext->world = nullptr;
    atomic->object.syncCallback = ext->savedSync;
    return object;
}

// --- The world extension of clumps ----------------------------------------

void* ClumpExtConstruct(void* object, int32 offset, int32) {
    PtrAdd<ClumpWorldExt>(object, offset)->world = nullptr;
    return object;
}

void* ClumpExtDestruct(void* object, int32 offset, int32) {
    auto* ext = PtrAdd<ClumpWorldExt>(object, offset);
    if (ext->world != nullptr) WorldRemoveClump(ext->world, static_cast<Clump*>(object));
    return object;
}

// --- The world extension of lights ----------------------------------------

ObjectWithFrame* LightWorldSync(ObjectWithFrame* object) {
    auto* light = reinterpret_cast<Light*>(object);
    LightWorldExt* ext = worldp::LightExt(light);
    if (ext->savedSync != nullptr) ext->savedSync(object);
    if (ext->world != nullptr && LightTypeIsLocal(LightGetType(light))) PlaceLight(light, ext->world);
    return object;
}

void* LightExtConstruct(void* object, int32 offset, int32) {
    auto* light = static_cast<Light*>(object);
    auto* ext = PtrAdd<LightWorldExt>(object, offset);
    ext->world = nullptr;
    ext->savedSync = light->object.syncCallback;
    LinkSelf(&ext->inWorldLink);
    light->object.syncCallback = LightWorldSync;
    return object;
}

void* LightExtDestruct(void* object, int32 offset, int32) {
    auto* light = static_cast<Light*>(object);
    auto* ext = PtrAdd<LightWorldExt>(object, offset);
    if (ext->world != nullptr) WorldRemoveLight(ext->world, light);
    light->object.syncCallback = ext->savedSync;
    return object;
}

// --- The world extension of cameras ---------------------------------------

struct VisibleWalk {
    Camera* camera;
    CameraWorldExt* ext;
    V3d eye;
    bool perspective;
    bool full;  // out of memory: the list ends where it is
};

// Visible unless wholly outside one frustum plane: the corner least far
// along the plane's outward normal decides.
bool SectorInFrustum(const Camera* camera, const BBox* box) {
    for (const FrustumPlane& p : camera->frustumPlanes) {
        const V3d q{p.closestX != 0 ? box->min.x : box->max.x, p.closestY != 0 ? box->min.y : box->max.y,
                    p.closestZ != 0 ? box->min.z : box->max.z};
        if (V3dDotProduct(p.normal, q) - p.distance > 0.0f) return false;
    }
    return true;
}

void AppendVisible(VisibleWalk* w, WorldSector* sector) {
    CameraWorldExt* ext = w->ext;
    if (ext->numSectors == ext->capacity) {
        const int32 capacity = ext->capacity + kCameraSectorGrowth;
        const std::size_t bytes = sizeof(WorldSector*) * static_cast<std::size_t>(capacity);
        auto* grown = static_cast<WorldSector**>(KvRealloc(ext->sectors, bytes));
        if (grown == nullptr) {
            ErrorRaiseDetail(kModuleNone, kErrNoMemory, static_cast<int64_t>(bytes));
            w->full = true;
            return;
        }
        ext->sectors = grown;
        ext->capacity = capacity;
    }
    ext->sectors[ext->numSectors++] = sector;
}

void VisitVisible(VisibleWalk* w, Sector* s) {
    while (s != nullptr && !w->full) {
        if (s->type < 0) {
            auto* ws = reinterpret_cast<WorldSector*>(s);
            if (SectorInFrustum(w->camera, &ws->boundingBox)) AppendVisible(w, ws);
            return;
        }
        auto* p = reinterpret_cast<PlaneSector*>(s);
        const BBox& fb = w->camera->frustumBox;
        const bool below = Axis(fb.min, p->type) < p->leftValue;
        const bool above = Axis(fb.max, p->type) > p->rightValue;
        if (below && above) {
            // Near side first.
            bool leftFirst = Axis(w->eye, p->type) <= p->value;
            if (!w->perspective) leftFirst = !leftFirst;
            VisitVisible(w, leftFirst ? p->leftSubTree : p->rightSubTree);
            s = leftFirst ? p->rightSubTree : p->leftSubTree;
        } else {
            s = below ? p->leftSubTree : p->rightSubTree;
        }
    }
}

void BuildVisibleSectors(Camera* camera, CameraWorldExt* ext) {
    ext->numSectors = 0;
    Frame* f = CameraGetFrame(camera);
    if (f == nullptr || ext->world == nullptr) return;
    VisibleWalk w{camera, ext, FrameGetWorldMatrix(f)->pos, CameraGetProjection(camera) != ProjectionParallel, false};
    VisitVisible(&w, ext->world->rootSector);
}

Camera* CameraWorldBeginUpdate(Camera* camera) {
    CameraWorldExt* ext = worldp::CameraExt(camera);
    EngineInstance* instance = EngineInstanceGet();
    instance->curWorld = ext->world;
    ++instance->renderFrame;
    return ext->savedBeginUpdate(camera);
}

Camera* CameraWorldEndUpdate(Camera* camera) {
    CameraWorldExt* ext = worldp::CameraExt(camera);
    EngineInstanceGet()->curWorld = nullptr;
    return ext->savedEndUpdate(camera);
}

ObjectWithFrame* CameraWorldSync(ObjectWithFrame* object) {
    auto* camera = reinterpret_cast<Camera*>(object);
    CameraWorldExt* ext = worldp::CameraExt(camera);
    if (ext->savedSync != nullptr) ext->savedSync(object);
    if (ext->world != nullptr) BuildVisibleSectors(camera, ext);
    return object;
}

void* CameraExtConstruct(void* object, int32 offset, int32) {
    auto* camera = static_cast<Camera*>(object);
    auto* ext = PtrAdd<CameraWorldExt>(object, offset);
    std::memset(static_cast<void*>(ext), 0, sizeof(CameraWorldExt));
    LinkSelf(&ext->inWorldLink);
    ext->savedBeginUpdate = camera->beginUpdate;
    ext->savedEndUpdate = camera->endUpdate;
    ext->savedSync = camera->object.syncCallback;
    camera->beginUpdate = CameraWorldBeginUpdate;
    camera->endUpdate = CameraWorldEndUpdate;
    camera->object.syncCallback = CameraWorldSync;
    return object;
}

void* CameraExtDestruct(void* object, int32 offset, int32) {
    auto* camera = static_cast<Camera*>(object);
    auto* ext = PtrAdd<CameraWorldExt>(object, offset);
    if (ext->world != nullptr) WorldRemoveCamera(ext->world, camera);
    KvFree(ext->sectors);
    ext->sectors = nullptr;
    ext->capacity = ext->numSectors = 0;
    camera->beginUpdate = ext->savedBeginUpdate;
    camera->endUpdate = ext->savedEndUpdate;
    camera->object.syncCallback = ext->savedSync;
    return object;
}

// --- Sectors --------------------------------------------------------------

void InitAtomicSector(WorldSector* s, World* world, const BBox* box) {
    std::memset(static_cast<void*>(s), 0, sizeof(WorldSector));
    s->type = kSectorTypeAtomic;
    s->boundingBox = *box;
    LinkListInitialize(&s->atomicTies[0]);
    LinkListInitialize(&s->atomicTies[1]);
    LinkListInitialize(&s->lightTies);
    s->world = world;
}

void FreeSectorTree(Sector* s) {
    if (s == nullptr) return;
    if (s->type < 0) {
        auto* ws = reinterpret_cast<WorldSector*>(s);
        WorldSectorRemoveTies(ws);
        if (ws->meshes != nullptr) MeshesDestroy(ws->meshes);
        ws->meshes = nullptr;
        if (ws->instanceEntry != nullptr) ResourcesFreeEntry(ws->instanceEntry);
        RegistryDestruct(WorldSectorGetRegistry(), ws);
    } else {
        auto* p = reinterpret_cast<PlaneSector*>(s);
        FreeSectorTree(p->leftSubTree);
        FreeSectorTree(p->rightSubTree);
    }
    KvFree(s);
}

bool ForAllSectors(Sector* s, WorldSectorCallBack callBack, void* data) {
    while (s != nullptr) {
        if (s->type < 0) return callBack(reinterpret_cast<WorldSector*>(s), data) != nullptr;
        auto* p = reinterpret_cast<PlaneSector*>(s);
        if (!ForAllSectors(p->leftSubTree, callBack, data)) return false;
        s = p->rightSubTree;
    }
    return true;
}

// The slot in the tree that points at sector (the root pointer included).
Sector** FindSlot(Sector** slot, const Sector* sector) {
    if (*slot == sector) return slot;
    if (*slot == nullptr || (*slot)->type < 0) return nullptr;
    auto* p = reinterpret_cast<PlaneSector*>(*slot);
    if (Sector** l = FindSlot(&p->leftSubTree, sector)) return l;
    return FindSlot(&p->rightSubTree, sector);
}

// --- World pipelines ------------------------------------------------------

WorldPipelinesBuildFn genericBuilder = nullptr;
WorldPipelinesBuildFn platformBuilder = nullptr;
ModuleSlot<WorldPipelinesModule> pipesSlot;

WorldPipelinesModule* PipesModule() { return pipesSlot.Get(); }

void DestroySet(WorldPipelineSet* set) {
    PipelineDestroy(set->atomic);
    PipelineDestroy(set->sector);
    PipelineDestroy(set->material);
    *set = WorldPipelineSet{nullptr, nullptr, nullptr};
}

Pipeline* PlatformOrGeneric(const WorldPipelinesModule* m, Pipeline* WorldPipelineSet::*role) {
    return m->platform.*role != nullptr ? m->platform.*role : m->generic.*role;
}

Pipeline* SetDefault(Pipeline* WorldPipelineSet::*role, Pipeline* pipeline) {
    WorldPipelinesModule* m = PipesModule();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    m->current.*role = pipeline != nullptr ? pipeline : PlatformOrGeneric(m, role);
    return m->current.*role;
}

Pipeline* GetDefault(Pipeline* WorldPipelineSet::*role) {
    WorldPipelinesModule* m = PipesModule();
    return m != nullptr ? m->current.*role : nullptr;
}

}  // namespace

// --- Internal links -------------------------------------------------------

AtomicWorldExt* worldp::AtomicExt(const Atomic* atomic) {
    return atomicExt.ValidIn(AtomicGetRegistry()) ? atomicExt.Of(atomic) : nullptr;
}
ClumpWorldExt* worldp::ClumpExt(const Clump* clump) {
    return clumpExt.ValidIn(ClumpGetRegistry()) ? clumpExt.Of(clump) : nullptr;
}
CameraWorldExt* worldp::CameraExt(const Camera* camera) {
    if (cameraExt.Offset() < 0 || CameraGetPluginOffset(kIdWorldExtension) != cameraExt.Offset()) return nullptr;
    return cameraExt.Of(camera);
}
LightWorldExt* worldp::LightExt(const Light* light) {
    return lightExt.ValidIn(LightGetRegistry()) ? lightExt.Of(light) : nullptr;
}

void worldp::AtomicSetWorld(Atomic* atomic, World* world) {
    AtomicWorldExt* ext = AtomicExt(atomic);
    if (ext == nullptr) return;
    ext->world = world;
    if (world == nullptr) {
        AtomicRemoveSectorTies(atomic);
    } else if (Frame* f = AtomicGetFrame(atomic)) {
        FrameUpdateObjects(f);
    }
}

Pipeline* worldp::DefaultAtomicPipeline() { return GetDefault(&WorldPipelineSet::atomic); }

World* AtomicGetWorld(const Atomic* atomic) {
    const AtomicWorldExt* ext = worldp::AtomicExt(atomic);
    return ext != nullptr ? ext->world : nullptr;
}
World* ClumpGetWorld(const Clump* clump) {
    const ClumpWorldExt* ext = worldp::ClumpExt(clump);
    return ext != nullptr ? ext->world : nullptr;
}
World* LightGetWorld(const Light* light) {
    const LightWorldExt* ext = worldp::LightExt(light);
    return ext != nullptr ? ext->world : nullptr;
}
World* CameraGetWorld(const Camera* camera) {
    const CameraWorldExt* ext = worldp::CameraExt(camera);
    return ext != nullptr ? ext->world : nullptr;
}

int32 CameraGetNumVisibleSectors(const Camera* camera) {
    const CameraWorldExt* ext = worldp::CameraExt(camera);
    return ext != nullptr ? ext->numSectors : 0;
}

WorldSector* CameraGetVisibleSector(const Camera* camera, int32 index) {
    const CameraWorldExt* ext = worldp::CameraExt(camera);
    if (ext == nullptr || index < 0 || index >= ext->numSectors) return nullptr;
    return ext->sectors[index];
}

World* WorldGetCurrent() { return static_cast<World*>(EngineInstanceGet()->curWorld); }

// --- Worlds ---------------------------------------------------------------

World* WorldCreate(const BBox* box) {
    if (box == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    WorldObjectsModule* m = WorldObjectsModuleGet();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    const PluginRegistry* sectorRegistry = WorldSectorGetRegistry();
    auto* w = static_cast<World*>(KvMalloc(static_cast<std::size_t>(worldRegistry.sizeOfStruct)));
    auto* s = static_cast<WorldSector*>(KvMalloc(static_cast<std::size_t>(sectorRegistry->sizeOfStruct)));
    if (w == nullptr || s == nullptr) {
        KvFree(w);
        KvFree(s);
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    std::memset(static_cast<void*>(w), 0, sizeof(World));
    ObjectInitialize(&w->object, kObjectTypeWorld, 0);
    MaterialListInit(&w->matList);
    w->rootSector = reinterpret_cast<Sector*>(s);
    LinkListInitialize(&w->clumpList);
    LinkListInitialize(&w->globalLightList);
    LinkListInitialize(&w->localLightList);
    LinkListInitialize(&w->cameraList);
    w->boundingBox = *box;
    w->surfaceProps = *SurfacePropertiesDefault();
    w->renderCallBack = WorldSectorDefaultRenderCallBack;
    w->numSectors = 1;
    InitAtomicSector(s, w, box);
    LinkListAddLLLink(&m->worldList, &w->inModuleLink);
    if (RegistryConstruct(&worldRegistry, w) == nullptr) {
        LLLinkRemove(&w->inModuleLink);
        KvFree(s);
        KvFree(w);
        return nullptr;
    }
    if (RegistryConstruct(sectorRegistry, s) == nullptr) {
        RegistryDestruct(&worldRegistry, w);
        LLLinkRemove(&w->inModuleLink);
        KvFree(s);
        KvFree(w);
        return nullptr;
    }
    s->meshes = MeshesEmptyHeader();
    return w;
}

bool WorldDestroy(World* world) {
    if (world == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    // Nothing may keep pointing at the world or its sectors.
    while (!LinkListEmpty(&world->cameraList)) {
        LLLink* l = LinkListGetFirst(&world->cameraList);
        WorldRemoveCamera(world, LLLinkGetData<Camera>(l, cameraExt.Offset() + offsetof(CameraWorldExt, inWorldLink)));
    }
    while (!LinkListEmpty(&world->clumpList)) {
        WorldRemoveClump(world, ClumpFromWorldLink(LinkListGetFirst(&world->clumpList)));
    }
    for (LinkList* list : {&world->globalLightList, &world->localLightList}) {
        while (!LinkListEmpty(list)) {
            LLLink* l = LinkListGetFirst(list);
            WorldRemoveLight(world, LLLinkGetData<Light>(l, lightExt.Offset() + offsetof(LightWorldExt, inWorldLink)));
        }
    }
    if (EngineInstanceGet()->curWorld == world) EngineInstanceGet()->curWorld = nullptr;
    LLLinkRemove(&world->inModuleLink);
    FreeSectorTree(world->rootSector);
    world->rootSector = nullptr;
    MaterialListRelease(&world->matList);
    RegistryDestruct(&worldRegistry, world);
    KvFree(world);
    return true;
}

World* WorldAddClump(World* world, Clump* clump) {
    if (world == nullptr || clump == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    ClumpWorldExt* ext = worldp::ClumpExt(clump);
    if (ext == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    if (ext->world != nullptr) {
        ErrorRaise(kModuleCore, kErrWorldClumpInWorld);
        return nullptr;
    }
    LinkListAddLLLink(&world->clumpList, &clump->inWorldLink);
    ++world->numClumps;
    ext->world = world;
    // Every atomic is placed into sectors at the next sync.
    ClumpForAllAtomics(
        clump,
        [](Atomic* a, void* w) -> Atomic* {
            worldp::AtomicSetWorld(a, static_cast<World*>(w));
            return a;
        },
        world);
    if (Frame* f = ClumpGetFrame(clump)) FrameUpdateObjects(f);
    return world;
}

World* WorldRemoveClump(World* world, Clump* clump) {
    if (world == nullptr || clump == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    ClumpWorldExt* ext = worldp::ClumpExt(clump);
    if (ext == nullptr || ext->world != world) {
        ErrorRaise(kModuleCore, kErrWorldClumpNotInWorld);
        return nullptr;
    }
    --world->numClumps;
    Unlink(&clump->inWorldLink);
    ClumpForAllAtomics(
        clump,
        [](Atomic* a, void*) -> Atomic* {
            worldp::AtomicSetWorld(a, nullptr);
            return a;
        },
        nullptr);
    ext->world = nullptr;
    return world;
}

World* WorldAddCamera(World* world, Camera* camera) {
    if (world == nullptr || camera == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    CameraWorldExt* ext = worldp::CameraExt(camera);
    if (ext == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    if (ext->world == world) return world;
    if (ext->world != nullptr) WorldRemoveCamera(ext->world, camera);
    ext->world = world;
    LinkListAddLLLink(&world->cameraList, &ext->inWorldLink);
    if (Frame* f = CameraGetFrame(camera)) FrameUpdateObjects(f);
    return world;
}

World* WorldRemoveCamera(World* world, Camera* camera) {
    if (world == nullptr || camera == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    CameraWorldExt* ext = worldp::CameraExt(camera);
    if (ext == nullptr || ext->world != world) return world;
    Unlink(&ext->inWorldLink);
    KvFree(ext->sectors);
    ext->sectors = nullptr;
    ext->capacity = ext->numSectors = 0;
    ext->world = nullptr;
    return world;
}

World* WorldAddLight(World* world, Light* light) {
    if (world == nullptr || light == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    LightWorldExt* ext = worldp::LightExt(light);
    if (ext == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    if (ext->world == world) return world;
    if (ext->world != nullptr) WorldRemoveLight(ext->world, light);
    const bool local = LightTypeIsLocal(LightGetType(light));
    LinkListAddLLLink(local ? &world->localLightList : &world->globalLightList, &ext->inWorldLink);
    ext->world = world;
    if (Frame* f = LightGetFrame(light); f != nullptr && local) FrameUpdateObjects(f);
    return world;
}

World* WorldRemoveLight(World* world, Light* light) {
    if (world == nullptr || light == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    LightWorldExt* ext = worldp::LightExt(light);
    if (ext == nullptr || ext->world != world) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    LightRemoveSectorTies(light);
    Unlink(&ext->inWorldLink);
    ext->world = nullptr;
    return world;
}

World* WorldForAllClumps(World* world, ClumpCallBack callBack, void* data) {
    LinkList* list = &world->clumpList;
    for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
        LLLink* next = l->next;
        if (callBack(ClumpFromWorldLink(l), data) == nullptr) break;
        l = next;
    }
    return world;
}

World* WorldForAllLights(World* world, LightCallBack callBack, void* data) {
    for (LinkList* list : {&world->globalLightList, &world->localLightList}) {
        for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
            LLLink* next = l->next;
            if (callBack(LLLinkGetData<Light>(l, lightExt.Offset() + offsetof(LightWorldExt, inWorldLink)), data) ==
                nullptr) {
                return world;
            }
            l = next;
        }
    }
    return world;
}

World* WorldForAllWorldSectors(World* world, WorldSectorCallBack callBack, void* data) {
    ForAllSectors(world->rootSector, callBack, data);
    return world;
}

WorldSector* WorldSplitSector(World* world, WorldSector* sector, int32 axis, real value) {
    if (world == nullptr || sector == nullptr || axis < 0 || axis > 2) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    Sector** slot = FindSlot(&world->rootSector, reinterpret_cast<Sector*>(sector));
    if (slot == nullptr || !(Axis(sector->boundingBox.min, axis) < value) ||
        !(value < Axis(sector->boundingBox.max, axis))) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    const PluginRegistry* sectorRegistry = WorldSectorGetRegistry();
    auto* plane = static_cast<PlaneSector*>(KvMalloc(sizeof(PlaneSector)));
    auto* upper = static_cast<WorldSector*>(KvMalloc(static_cast<std::size_t>(sectorRegistry->sizeOfStruct)));
    if (plane == nullptr || upper == nullptr) {
        KvFree(plane);
        KvFree(upper);
        ErrorRaise(kModuleNone, kErrNoMemory);
        return nullptr;
    }
    BBox upperBox = sector->boundingBox;
    Axis(upperBox.min, axis) = value;
    InitAtomicSector(upper, world, &upperBox);
    if (RegistryConstruct(sectorRegistry, upper) == nullptr) {
        KvFree(plane);
        KvFree(upper);
        return nullptr;
    }
    upper->meshes = MeshesEmptyHeader();
    Axis(sector->boundingBox.max, axis) = value;
    *plane =
        PlaneSector{axis, reinterpret_cast<Sector*>(sector), reinterpret_cast<Sector*>(upper), value, value, value};
    *slot = reinterpret_cast<Sector*>(plane);
    ++world->numSectors;
    // What was tied to the old sector finds its sectors again at the next sync.
    WorldSectorRemoveTies(sector);
    WorldForAllClumps(
        world,
        [](Clump* c, void*) -> Clump* {
            ClumpForAllAtomics(
                c,
                [](Atomic* a, void*) -> Atomic* {
                    if (Frame* f = AtomicGetFrame(a)) FrameUpdateObjects(f);
                    return a;
                },
                nullptr);
            return c;
        },
        nullptr);
    for (LLLink* l = LinkListGetFirst(&world->localLightList); l != LinkListGetTerminator(&world->localLightList);
         l = l->next) {
        Light* light = LLLinkGetData<Light>(l, lightExt.Offset() + offsetof(LightWorldExt, inWorldLink));
        if (Frame* f = LightGetFrame(light)) FrameUpdateObjects(f);
    }
    // Cameras rebuild their visible-sector lists.
    for (LLLink* l = LinkListGetFirst(&world->cameraList); l != LinkListGetTerminator(&world->cameraList);
         l = l->next) {
        Camera* camera = LLLinkGetData<Camera>(l, cameraExt.Offset() + offsetof(CameraWorldExt, inWorldLink));
        if (Frame* f = CameraGetFrame(camera)) FrameUpdateObjects(f);
    }
    return upper;
}

World* WorldSetSectorRenderCallBack(World* world, WorldSectorRenderCallBack callBack) {
    world->renderCallBack = callBack != nullptr ? callBack : WorldSectorDefaultRenderCallBack;
    return world;
}

WorldSector* WorldSectorDefaultRenderCallBack(WorldSector* sector) {
    Pipeline* p = sector->pipeline;
    if (p == nullptr && sector->world != nullptr) p = sector->world->pipeline;
    if (p == nullptr) p = WorldSectorGetDefaultPipeline();
    if (p == nullptr) {
        // Nothing to draw needs no pipeline.
        const bool empty = sector->numVertices == 0 || sector->meshes == nullptr || sector->meshes->numMeshes == 0;
        if (empty) return sector;
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    return PipelineExecute(p, sector, true) != nullptr ? sector : nullptr;
}

World* WorldRender(World* world) {
    if (world == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    EngineInstance* instance = EngineInstanceGet();
    auto* camera = static_cast<Camera*>(instance->curCamera);
    if (camera == nullptr) {
        ErrorRaise(kModuleCore, kErrCoreNoCamera);
        return nullptr;
    }
    const CameraWorldExt* ext = worldp::CameraExt(camera);
    // A camera of another world sees nothing of this one.
    if (ext == nullptr || ext->world != world) return world;
    const auto stamp = static_cast<uint16>(instance->renderFrame);
    for (int32 i = 0; i < ext->numSectors; ++i) {
        WorldSector* sector = ext->sectors[i];
        if (world->renderCallBack(sector) == nullptr) continue;
        for (LinkList& list : sector->atomicTies) {
            for (LLLink* l = LinkListGetFirst(&list); l != LinkListGetTerminator(&list);) {
                LLLink* next = l->next;
                Atomic* a = SectorTieFromSectorLink(l)->atomic;
                if ((AtomicGetFlags(a) & kAtomicFlagRender) != 0 && a->renderFrame != stamp) {
                    if (CameraFrustumTestSphere(camera, AtomicGetWorldBoundingSphere(a)) != FrustumOutside) {
                        a->renderCallBack(a);
                    }
                    a->renderFrame = stamp;
                }
                l = next;
            }
        }
    }
    return world;
}

int32 WorldRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy) {
    return RegistryRegister(&worldRegistry, size, pluginID, construct, destruct, copy);
}

int32 WorldGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&worldRegistry, pluginID); }
PluginRegistry* WorldGetRegistry() { return &worldRegistry; }

// --- The plug-in ----------------------------------------------------------

bool WorldPluginAttach() {
    struct ModuleRow {
        int32 size;
        uint32 id;
        PluginConstructor open;
        PluginDestructor close;
    };
    const ModuleRow modules[] = {
        {static_cast<int32>(sizeof(MaterialModule)), kIdMaterialModule, MaterialModuleOpen, MaterialModuleClose},
        {static_cast<int32>(sizeof(MeshModule)), kIdMeshModule, MeshModuleOpen, MeshModuleClose},
        {static_cast<int32>(sizeof(GeometryModule)), kIdGeometryModule, GeometryModuleOpen, GeometryModuleClose},
        {static_cast<int32>(sizeof(WorldObjectsModule)), kIdWorldObjectsModule, WorldObjectsModuleOpen,
         WorldObjectsModuleClose},
        {static_cast<int32>(sizeof(LightModule)), kIdLightModule, LightModuleOpen, LightModuleClose},
        {static_cast<int32>(sizeof(WorldPipelinesModule)), kIdWorldPipelinesModule, WorldPipelinesModuleOpen,
         WorldPipelinesModuleClose},
        {static_cast<int32>(sizeof(SectorTieModule)), kIdSectorTieModule, SectorTieModuleOpen, SectorTieModuleClose},
        // Reserved for the pipelines' use.
        {8, kIdWorldModule50A, nullptr, nullptr},
        {8, kIdWorldModule50B, nullptr, nullptr},
    };
    for (const ModuleRow& m : modules) {
        if (EngineRegisterPlugin(m.size, m.id, m.open, m.close) < 0) return false;
    }
    if (!worldp::AtomicClumpPluginAttach() || !worldp::LightPluginAttach()) return false;
    const bool cameras = cameraExt.Registered(CameraRegisterPlugin(sizeof(CameraWorldExt), kIdWorldExtension,
                                                                   CameraExtConstruct, CameraExtDestruct, nullptr));
    const bool clumps = clumpExt.Registered(
        ClumpRegisterPlugin(sizeof(ClumpWorldExt), kIdWorldExtension, ClumpExtConstruct, ClumpExtDestruct, nullptr));
    const bool atomics = atomicExt.Registered(AtomicRegisterPlugin(sizeof(AtomicWorldExt), kIdWorldExtension,
                                                                   AtomicExtConstruct, AtomicExtDestruct, nullptr));
    const bool lights = lightExt.Registered(
        LightRegisterPlugin(sizeof(LightWorldExt), kIdWorldExtension, LightExtConstruct, LightExtDestruct, nullptr));
    if (!cameras || !clumps || !atomics || !lights) return false;
    return GeometryStreamPluginsAttach() && worldp::WorldSectorPluginAttach() && HardwareLightPluginAttach();
}

// --- The world pipelines module -------------------------------------------

void WorldPipelinesSetBuilders(WorldPipelinesBuildFn generic, WorldPipelinesBuildFn platform) {
    genericBuilder = generic;
    platformBuilder = platform;
}

Pipeline* AtomicSetDefaultPipeline(Pipeline* pipeline) { return SetDefault(&WorldPipelineSet::atomic, pipeline); }
Pipeline* AtomicGetDefaultPipeline() { return GetDefault(&WorldPipelineSet::atomic); }
Pipeline* WorldSectorSetDefaultPipeline(Pipeline* pipeline) { return SetDefault(&WorldPipelineSet::sector, pipeline); }
Pipeline* WorldSectorGetDefaultPipeline() { return GetDefault(&WorldPipelineSet::sector); }
Pipeline* MaterialSetDefaultPipeline(Pipeline* pipeline) { return SetDefault(&WorldPipelineSet::material, pipeline); }
Pipeline* MaterialGetDefaultPipeline() { return GetDefault(&WorldPipelineSet::material); }

const WorldPipelineSet* WorldPipelinesGetGeneric() {
    const WorldPipelinesModule* m = PipesModule();
    return m != nullptr ? &m->generic : nullptr;
}

void* WorldPipelinesModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    WorldPipelinesModule* m = pipesSlot.At(instance, offset);
    *m = WorldPipelinesModule{};
    if (genericBuilder != nullptr && !genericBuilder(&m->generic)) {
        *m = WorldPipelinesModule{};
        return nullptr;
    }
    if (platformBuilder != nullptr && !platformBuilder(&m->platform)) {
        DestroySet(&m->generic);
        *m = WorldPipelinesModule{};
        return nullptr;
    }
    for (Pipeline* WorldPipelineSet::*role :
         {&WorldPipelineSet::atomic, &WorldPipelineSet::sector, &WorldPipelineSet::material}) {
        m->current.*role = PlatformOrGeneric(m, role);
    }
    pipesSlot.Opened(offset);
    return instance;
}

void* WorldPipelinesModuleClose(void* instance, int32 offset, int32 /*size*/) {
    WorldPipelinesModule* m = pipesSlot.At(instance, offset);
    if (!pipesSlot.IsOpen()) return instance;
    m->current = WorldPipelineSet{nullptr, nullptr, nullptr};
    DestroySet(&m->platform);
    DestroySet(&m->generic);
    pipesSlot.Closed();
    return instance;
}

}  // namespace kv
