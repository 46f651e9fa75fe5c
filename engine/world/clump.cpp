#include "clump.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "engine/image/resource_arena.h"
#include "engine/pipe/pipeline.h"
#include "engine/world/geometry.h"
#include "engine/world/world_sector.h"
#include "world_internal.h"

namespace kv {

namespace {

constexpr int32 kAtomicsPerBlock = 20;
constexpr int32 kClumpsPerBlock = 10;

PluginRegistry atomicRegistry = PluginRegistryMake(sizeof(Atomic));
PluginRegistry clumpRegistry = PluginRegistryMake(sizeof(Clump));

ModuleSlot<WorldObjectsModule> slot;

// Every live atomic and clump, so that closing the module finds them whatever
// kind of free list they came from.
LinkList liveAtomics;
LinkList liveClumps;
PluginSlot<LLLink> atomicLive;
PluginSlot<LLLink> clumpLive;

LLLink* LiveLink(void* object, int32 offset) { return PtrAdd<LLLink>(object, offset); }

void* LiveAtomicConstruct(void* object, int32 offset, int32) {
    LinkListAddLLLink(&liveAtomics, LiveLink(object, offset));
    return object;
}
void* LiveClumpConstruct(void* object, int32 offset, int32) {
    LinkListAddLLLink(&liveClumps, LiveLink(object, offset));
    return object;
}
void* LiveDestruct(void* object, int32 offset, int32) {
    LLLinkRemove(LiveLink(object, offset));
    return object;
}

void LinkSelf(LLLink* link) {
    link->next = link;
    link->prev = link;
}

Atomic* AtomicFromClumpLink(LLLink* link) { return LLLinkGetData<Atomic>(link, offsetof(Atomic, inClumpLink)); }

// Between the start and end morph targets' spheres at the interpolator's
// position; an index outside the geometry counts as target 0.
void InterpolateSphere(Atomic* atomic) {
    MorphInterpolator* in = &atomic->interpolator;
    in->flags &= ~kMorphSphereDirty;
    const Geometry* g = atomic->geometry;
    if (g == nullptr) return;
    const int32 n = GeometryGetNumMorphTargets(g);
    const int32 s = in->startMorphTarget >= 0 && in->startMorphTarget < n ? in->startMorphTarget : 0;
    const int32 e = in->endMorphTarget >= 0 && in->endMorphTarget < n ? in->endMorphTarget : 0;
    const MorphTarget* ts = GeometryGetMorphTarget(g, s);
    const MorphTarget* te = GeometryGetMorphTarget(g, e);
    if (ts == nullptr || te == nullptr) return;
    const real t = in->position * in->recipDuration;
    const Sphere& a = ts->boundingSphere;
    const Sphere& b = te->boundingSphere;
    atomic->boundingSphere.center = V3dIncrementScaled(a.center, V3dSub(b.center, a.center), t);
    atomic->boundingSphere.radius = a.radius + t * (b.radius - a.radius);
    atomic->object.object.privateFlags |= kAtomicWorldSphereDirty;
}

ObjectWithFrame* AtomicSync(ObjectWithFrame* object) {
    auto* atomic = reinterpret_cast<Atomic*>(object);
    if ((atomic->interpolator.flags & kMorphSphereDirty) != 0) InterpolateSphere(atomic);
    atomic->object.object.privateFlags |= kAtomicWorldSphereDirty;
    return object;
}

void MarkFrame(Atomic* atomic) {
    if (Frame* f = AtomicGetFrame(atomic)) FrameUpdateObjects(f);
}

Clump* ClumpRenderNothing(Clump* clump) { return clump; }

// What destroying an atomic does once it is out of its clump.
void AtomicFree(Atomic* atomic) {
    RegistryDestruct(&atomicRegistry, atomic);
    AtomicRemoveSectorTies(atomic);
    if (atomic->instanceEntry != nullptr) ResourcesFreeEntry(atomic->instanceEntry);
    atomic->instanceEntry = nullptr;
    if (atomic->geometry != nullptr) GeometryDestroy(atomic->geometry);
    atomic->geometry = nullptr;
    ObjectWithFrameRemove(&atomic->object);
    if (WorldObjectsModule* m = WorldObjectsModuleGet()) KvFreeListFree(m->atomicFreeList, atomic);
}

}  // namespace

WorldObjectsModule* WorldObjectsModuleGet() { return slot.Get(); }

Atomic* AtomicCreate() {
    WorldObjectsModule* m = WorldObjectsModuleGet();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    auto* a = static_cast<Atomic*>(KvFreeListAlloc(m->atomicFreeList));
    if (a == nullptr) return nullptr;
    std::memset(static_cast<void*>(a), 0, sizeof(Atomic));
    ObjectInitialize(&a->object.object, kObjectTypeAtomic, 0);
    a->object.object.flags = kAtomicDefaultFlags;
    a->object.object.privateFlags = kAtomicWorldSphereDirty;
    LinkSelf(&a->object.frameLink);
    a->object.syncCallback = AtomicSync;
    LinkSelf(&a->inClumpLink);
    a->renderCallBack = AtomicDefaultRenderCallBack;
    a->interpolator = MorphInterpolator{0, 0, 1.0f, 1.0f, 0.0f, kMorphInstanceDirty | kMorphSphereDirty};
    a->renderFrame = static_cast<uint16>(EngineInstanceGet()->renderFrame - 1);
    LinkListInitialize(&a->sectorTies);
    if (RegistryConstruct(&atomicRegistry, a) == nullptr) {
        KvFreeListFree(m->atomicFreeList, a);
        return nullptr;
    }
    return a;
}

bool AtomicDestroy(Atomic* atomic) {
    if (atomic == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    if (atomic->clump != nullptr) ClumpRemoveAtomic(atomic->clump, atomic);
    AtomicFree(atomic);
    return true;
}

Atomic* AtomicSetGeometry(Atomic* atomic, Geometry* geometry, uint32 flags) {
    if (geometry == atomic->geometry) return atomic;
    if (geometry != nullptr) GeometryAddRef(geometry);
    if (atomic->geometry != nullptr) GeometryDestroy(atomic->geometry);
    atomic->geometry = geometry;
    // A cache kept on the atomic was built from the old geometry.
    if (atomic->instanceEntry != nullptr) ResourcesFreeEntry(atomic->instanceEntry);
    atomic->instanceEntry = nullptr;
    if ((flags & kAtomicSameBoundingSphere) != 0) {
        // The caller's sphere stays; no interpolation may overwrite it.
        atomic->interpolator.flags &= ~kMorphSphereDirty;
    } else if (geometry != nullptr) {
        if (const MorphTarget* t = GeometryGetMorphTarget(geometry, 0)) atomic->boundingSphere = t->boundingSphere;
    }
    atomic->interpolator.flags |= kMorphInstanceDirty;
    atomic->object.object.privateFlags |= kAtomicWorldSphereDirty;
    MarkFrame(atomic);
    return atomic;
}

Atomic* AtomicSetFrame(Atomic* atomic, Frame* frame) {
    ObjectWithFrameSetFrame(&atomic->object, frame);
    atomic->object.object.privateFlags |= kAtomicWorldSphereDirty;
    // Without a frame it has no place in any sector.
    if (frame == nullptr) AtomicRemoveSectorTies(atomic);
    return atomic;
}

Atomic* AtomicSetBoundingSphere(Atomic* atomic, const Sphere* sphere) {
    atomic->boundingSphere = *sphere;
    atomic->interpolator.flags &= ~kMorphSphereDirty;
    atomic->object.object.privateFlags |= kAtomicWorldSphereDirty;
    MarkFrame(atomic);
    return atomic;
}

const Sphere* AtomicGetWorldBoundingSphere(Atomic* atomic) {
    if ((atomic->interpolator.flags & kMorphSphereDirty) != 0) InterpolateSphere(atomic);
    Frame* frame = AtomicGetFrame(atomic);
    if (frame == nullptr) {
        atomic->worldBoundingSphere = atomic->boundingSphere;
        atomic->object.object.privateFlags &= static_cast<uint8>(~kAtomicWorldSphereDirty);
        return &atomic->worldBoundingSphere;
    }
    // A hierarchy awaiting its sync may have moved the frame without telling
    // the atomic yet.
    if ((atomic->object.object.privateFlags & kAtomicWorldSphereDirty) != 0 || FrameIsSyncPending(frame) != 0) {
        const Matrix* m = FrameGetWorldMatrix(frame);
        V3dTransformPoint(&atomic->worldBoundingSphere.center, &atomic->boundingSphere.center, m);
        const real r = V3dDotProduct(m->right, m->right);
        const real u = V3dDotProduct(m->up, m->up);
        const real a = V3dDotProduct(m->at, m->at);
        const real largest = std::sqrt(std::fmax(r, std::fmax(u, a)));
        atomic->worldBoundingSphere.radius = atomic->boundingSphere.radius * largest;
        atomic->object.object.privateFlags &= static_cast<uint8>(~kAtomicWorldSphereDirty);
    }
    return &atomic->worldBoundingSphere;
}

Atomic* AtomicSetRenderCallBack(Atomic* atomic, AtomicRenderCallBack callBack) {
    atomic->renderCallBack = callBack != nullptr ? callBack : AtomicDefaultRenderCallBack;
    return atomic;
}

Atomic* AtomicRender(Atomic* atomic) { return atomic->renderCallBack(atomic); }

Atomic* AtomicDefaultRenderCallBack(Atomic* atomic) {
    Pipeline* p = atomic->pipeline != nullptr ? atomic->pipeline : worldp::DefaultAtomicPipeline();
    if (p == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    return PipelineExecute(p, atomic, true) != nullptr ? atomic : nullptr;
}

Atomic* AtomicSetMorphTargets(Atomic* atomic, int16 start, int16 end, real duration) {
    MorphInterpolator* in = &atomic->interpolator;
    in->startMorphTarget = start;
    in->endMorphTarget = end;
    in->duration = duration;
    in->recipDuration = duration != 0.0f ? 1.0f / duration : 0.0f;
    in->position = 0.0f;
    in->flags |= kMorphInstanceDirty | kMorphSphereDirty;
    MarkFrame(atomic);
    return atomic;
}

Atomic* AtomicSetMorphPosition(Atomic* atomic, real position) {
    atomic->interpolator.position = position;
    atomic->interpolator.flags |= kMorphInstanceDirty | kMorphSphereDirty;
    MarkFrame(atomic);
    return atomic;
}

int32 AtomicRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                           PluginCopy copy) {
    return RegistryRegister(&atomicRegistry, size, pluginID, construct, destruct, copy);
}

int32 AtomicRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                 PluginStreamSize getSize) {
    return RegistrySetStream(&atomicRegistry, pluginID, read, write, getSize);
}

int32 AtomicGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&atomicRegistry, pluginID); }
PluginRegistry* AtomicGetRegistry() { return &atomicRegistry; }

Clump* ClumpCreate() {
    WorldObjectsModule* m = WorldObjectsModuleGet();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    auto* c = static_cast<Clump*>(KvFreeListAlloc(m->clumpFreeList));
    if (c == nullptr) return nullptr;
    std::memset(static_cast<void*>(c), 0, sizeof(Clump));
    ObjectInitialize(&c->object, kObjectTypeClump, 0);
    LinkListInitialize(&c->atomicList);
    LinkSelf(&c->inWorldLink);
    c->renderCallBack = ClumpRenderNothing;
    if (RegistryConstruct(&clumpRegistry, c) == nullptr) {
        KvFreeListFree(m->clumpFreeList, c);
        return nullptr;
    }
    return c;
}

bool ClumpDestroy(Clump* clump) {
    if (clump == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    // The world extension's destructor takes the clump out of its world.
    RegistryDestruct(&clumpRegistry, clump);
    while (!LinkListEmpty(&clump->atomicList)) {
        LLLink* l = LinkListGetFirst(&clump->atomicList);
        LLLinkRemove(l);
        LinkSelf(l);
        Atomic* a = AtomicFromClumpLink(l);
        a->clump = nullptr;
        AtomicFree(a);
    }
    FrameDestroyHierarchy(ClumpGetFrame(clump));
    clump->object.parent = nullptr;
    if (WorldObjectsModule* m = WorldObjectsModuleGet()) KvFreeListFree(m->clumpFreeList, clump);
    return true;
}

Clump* ClumpAddAtomic(Clump* clump, Atomic* atomic) {
    if (clump == nullptr || atomic == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (atomic->clump == clump) return clump;
    if (atomic->clump != nullptr) ClumpRemoveAtomic(atomic->clump, atomic);
    LinkListAddLLLink(&clump->atomicList, &atomic->inClumpLink);
    atomic->clump = clump;
    if (World* w = ClumpGetWorld(clump)) worldp::AtomicSetWorld(atomic, w);
    return clump;
}

Clump* ClumpRemoveAtomic(Clump* clump, Atomic* atomic) {
    if (clump == nullptr || atomic == nullptr || atomic->clump != clump) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    LLLinkRemove(&atomic->inClumpLink);
    LinkSelf(&atomic->inClumpLink);
    atomic->clump = nullptr;
    worldp::AtomicSetWorld(atomic, nullptr);
    return clump;
}

Clump* ClumpForAllAtomics(Clump* clump, AtomicCallBack callBack, void* data) {
    LinkList* list = &clump->atomicList;
    for (LLLink* l = LinkListGetFirst(list); l != LinkListGetTerminator(list);) {
        LLLink* next = l->next;
        if (callBack(AtomicFromClumpLink(l), data) == nullptr) break;
        l = next;
    }
    return clump;
}

int32 ClumpGetNumAtomics(const Clump* clump) {
    int32 n = 0;
    for (const LLLink* l = clump->atomicList.link.next; l != &clump->atomicList.link; l = l->next) ++n;
    return n;
}

Clump* ClumpSetFrame(Clump* clump, Frame* frame) {
    clump->object.parent = frame;
    // A clump in a world has its atomics placed again.
    if (frame != nullptr && ClumpGetWorld(clump) != nullptr) FrameUpdateObjects(frame);
    return clump;
}

Clump* ClumpSetRenderCallBack(Clump* clump, ClumpRenderCallBack callBack) {
    clump->renderCallBack = callBack != nullptr ? callBack : ClumpRenderNothing;
    return clump;
}

Clump* ClumpRender(Clump* clump) { return clump->renderCallBack(clump); }

int32 ClumpRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy) {
    return RegistryRegister(&clumpRegistry, size, pluginID, construct, destruct, copy);
}

int32 ClumpRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                PluginStreamSize getSize) {
    return RegistrySetStream(&clumpRegistry, pluginID, read, write, getSize);
}

int32 ClumpGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&clumpRegistry, pluginID); }
PluginRegistry* ClumpGetRegistry() { return &clumpRegistry; }

bool worldp::AtomicClumpPluginAttach() {
    const bool atomics = atomicLive.Registered(RegistryRegister(&atomicRegistry, sizeof(LLLink), kIdWorldObjectsModule,
                                                                LiveAtomicConstruct, LiveDestruct, nullptr));
    const bool clumps = clumpLive.Registered(RegistryRegister(&clumpRegistry, sizeof(LLLink), kIdWorldObjectsModule,
                                                              LiveClumpConstruct, LiveDestruct, nullptr));
    return atomics && clumps;
}

void* WorldObjectsModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    WorldObjectsModule* m = slot.At(instance, offset);
    m->atomicFreeList = FreeListCreate(atomicRegistry.sizeOfStruct, kAtomicsPerBlock, alignof(Atomic));
    m->clumpFreeList = FreeListCreate(clumpRegistry.sizeOfStruct, kClumpsPerBlock, alignof(Clump));
    if (m->atomicFreeList == nullptr || m->clumpFreeList == nullptr) {
        if (m->atomicFreeList != nullptr) FreeListDestroy(m->atomicFreeList);
        if (m->clumpFreeList != nullptr) FreeListDestroy(m->clumpFreeList);
        m->atomicFreeList = m->clumpFreeList = nullptr;
        return nullptr;
    }
    LinkListInitialize(&m->worldList);
    LinkListInitialize(&liveAtomics);
    LinkListInitialize(&liveClumps);
    slot.Opened(offset);
    return instance;
}

void* WorldObjectsModuleClose(void* instance, int32 offset, int32 /*size*/) {
    WorldObjectsModule* m = slot.At(instance, offset);
    if (!slot.IsOpen()) return instance;
    // Worlds first: they release their clumps, lights and cameras.
    while (!LinkListEmpty(&m->worldList)) {
        WorldDestroy(LLLinkGetData<World>(LinkListGetFirst(&m->worldList), offsetof(World, inModuleLink)));
    }
    while (!LinkListEmpty(&liveClumps)) {
        ClumpDestroy(clumpLive.OwnerOf<Clump>(LinkListGetFirst(&liveClumps)));
    }
    while (!LinkListEmpty(&liveAtomics)) {
        AtomicDestroy(atomicLive.OwnerOf<Atomic>(LinkListGetFirst(&liveAtomics)));
    }
    FreeListDestroy(m->atomicFreeList);
    FreeListDestroy(m->clumpFreeList);
    m->atomicFreeList = m->clumpFreeList = nullptr;
    slot.Closed();
    return instance;
}

}  // namespace kv
