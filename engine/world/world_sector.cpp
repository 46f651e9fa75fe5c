#include "world_sector.h"

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "engine/world/geometry_stream.h"
#include "world_internal.h"

namespace kv {

namespace {

constexpr int32 kTiesPerBlock = 50;

PluginRegistry sectorRegistry = PluginRegistryMake(sizeof(WorldSector));

ModuleSlot<SectorTieModule> tieSlot;

SectorTieModule* TieModule() { return tieSlot.Get(); }

SectorTie* NewTie(WorldSector* sector, LinkList* sectorList, LinkList* objectList) {
    SectorTieModule* m = TieModule();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    auto* t = static_cast<SectorTie*>(KvFreeListAlloc(m->tieFreeList));
    if (t == nullptr) return nullptr;
    t->sector = sector;
    LinkListAddLLLink(sectorList, &t->inSector);
    LinkListAddLLLink(objectList, &t->inObject);
    return t;
}

void FreeTie(SectorTie* tie) {
    LLLinkRemove(&tie->inSector);
    LLLinkRemove(&tie->inObject);
    if (SectorTieModule* m = TieModule()) KvFreeListFree(m->tieFreeList, tie);
}

// Drops the ties of an object's tie list.
void RemoveObjectTies(LinkList* list) {
    while (!LinkListEmpty(list)) FreeTie(SectorTieFromObjectLink(LinkListGetFirst(list)));
}

void RemoveSectorList(LinkList* list) {
    while (!LinkListEmpty(list)) FreeTie(SectorTieFromSectorLink(LinkListGetFirst(list)));
}

const real& Axis(const V3d& v, int32 axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

bool WalkBox(Sector* s, const BBox* box, WorldSectorCallBack callBack, void* data) {
    while (s != nullptr) {
        if (s->type < 0) return callBack(reinterpret_cast<WorldSector*>(s), data) != nullptr;
        auto* p = reinterpret_cast<PlaneSector*>(s);
        const bool left = Axis(box->min, p->type) < p->leftValue;
        const bool right = Axis(box->max, p->type) > p->rightValue;
        if (left && right) {
            if (!WalkBox(p->leftSubTree, box, callBack, data)) return false;
            s = p->rightSubTree;
        } else if (left) {
            s = p->leftSubTree;
        } else if (right) {
            s = p->rightSubTree;
        } else {
            return true;
        }
    }
    return true;
}

}  // namespace

bool SectorForAllInBox(Sector* root, const BBox* box, WorldSectorCallBack callBack, void* data) {
    return WalkBox(root, box, callBack, data);
}

SectorTie* SectorTieAtomic(WorldSector* sector, Atomic* atomic) {
    const int32 list =
        (AtomicGetFlags(atomic) & kAtomicFlagFirstList) != 0 ? kSectorAtomicListFirst : kSectorAtomicListSecond;
    SectorTie* t = NewTie(sector, &sector->atomicTies[list], &atomic->sectorTies);
    if (t != nullptr) t->atomic = atomic;
    return t;
}

SectorTie* SectorTieLight(WorldSector* sector, Light* light) {
    SectorTie* t = NewTie(sector, &sector->lightTies, &light->sectorTies);
    if (t != nullptr) t->light = light;
    return t;
}

void AtomicRemoveSectorTies(Atomic* atomic) { RemoveObjectTies(&atomic->sectorTies); }
void LightRemoveSectorTies(Light* light) { RemoveObjectTies(&light->sectorTies); }

void WorldSectorRemoveTies(WorldSector* sector) {
    RemoveSectorList(&sector->atomicTies[0]);
    RemoveSectorList(&sector->atomicTies[1]);
    RemoveSectorList(&sector->lightTies);
}

WorldSector* WorldSectorForAllAtomics(WorldSector* sector, SectorAtomicCallBack callBack, void* data) {
    for (LinkList& list : sector->atomicTies) {
        for (LLLink* l = LinkListGetFirst(&list); l != LinkListGetTerminator(&list);) {
            LLLink* next = l->next;
            if (callBack(SectorTieFromSectorLink(l)->atomic, data) == nullptr) return sector;
            l = next;
        }
    }
    return sector;
}

WorldSector* WorldSectorForAllLights(WorldSector* sector, SectorLightCallBack callBack, void* data) {
    LinkList* list = &sector->lightTies;
    for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
        LLLink* next = l->next;
        if (callBack(SectorTieFromSectorLink(l)->light, data) == nullptr) break;
        l = next;
    }
    return sector;
}

Atomic* AtomicForAllWorldSectors(Atomic* atomic, WorldSectorCallBack callBack, void* data) {
    LinkList* list = &atomic->sectorTies;
    for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
        LLLink* next = l->next;
        if (callBack(SectorTieFromObjectLink(l)->sector, data) == nullptr) break;
        l = next;
    }
    return atomic;
}

Light* LightForAllWorldSectors(Light* light, WorldSectorCallBack callBack, void* data) {
    LinkList* list = &light->sectorTies;
    for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
        LLLink* next = l->next;
        if (callBack(SectorTieFromObjectLink(l)->sector, data) == nullptr) break;
        l = next;
    }
    return light;
}

int32 WorldSectorRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                                PluginCopy copy) {
    return RegistryRegister(&sectorRegistry, size, pluginID, construct, destruct, copy);
}

int32 WorldSectorRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                      PluginStreamSize getSize) {
    return RegistrySetStream(&sectorRegistry, pluginID, read, write, getSize);
}

int32 WorldSectorGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&sectorRegistry, pluginID); }
PluginRegistry* WorldSectorGetRegistry() { return &sectorRegistry; }

// Sectors read no meshes from streams here (worlds are built in code), so the
// mesh extension on sectors is a marker block without stream callbacks.
bool worldp::WorldSectorPluginAttach() {
    return RegistryRegister(&sectorRegistry, 0, kIdMeshExtension, nullptr, nullptr, nullptr) >= 0;
}

void* SectorTieModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    SectorTieModule* m = tieSlot.At(instance, offset);
    m->tieFreeList = FreeListCreate(sizeof(SectorTie), kTiesPerBlock, alignof(SectorTie));
    if (m->tieFreeList == nullptr) return nullptr;
    tieSlot.Opened(offset);
    return instance;
}

void* SectorTieModuleClose(void* instance, int32 offset, int32 /*size*/) {
    SectorTieModule* m = tieSlot.At(instance, offset);
    if (!tieSlot.IsOpen()) return instance;
    // Atomics and lights outlive this module at stop: every tie goes now, so
    // none of them is left holding a freed record.
    if (WorldObjectsModule* wm = WorldObjectsModuleGet()) {
        for (LLLink* l = LinkListGetFirst(&wm->worldList); l != LinkListGetTerminator(&wm->worldList); l = l->next) {
            WorldForAllWorldSectors(
                LLLinkGetData<World>(l, offsetof(World, inModuleLink)),
                [](WorldSector* s, void*) -> WorldSector* {
                    WorldSectorRemoveTies(s);
                    return s;
                },
                nullptr);
        }
    }
    FreeListDestroy(m->tieFreeList);
    m->tieFreeList = nullptr;
    tieSlot.Closed();
    return instance;
}

}  // namespace kv
