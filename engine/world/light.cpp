#include "light.h"

#include <cmath>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "engine/world/world_sector.h"
#include "world_internal.h"

namespace kv {

namespace {

constexpr int32 kLightsPerBlock = 20;
constexpr real kDefaultConeCos = 0.70710677f;  // 45 degrees

PluginRegistry lightRegistry = PluginRegistryMake(sizeof(Light));
ModuleSlot<LightModule> slot;

// Every live light, so that closing the module finds them. The block takes
// the world-objects module's id: the light module's id is also the
// hardware-light extension's.
LinkList liveLights;
PluginSlot<LLLink> live;

void* LiveConstruct(void* object, int32 offset, int32) {
    LinkListAddLLLink(&liveLights, PtrAdd<LLLink>(object, offset));
    return object;
}
void* LiveDestruct(void* object, int32 offset, int32) {
    LLLinkRemove(PtrAdd<LLLink>(object, offset));
    return object;
}

LightModule* Module() { return slot.Get(); }

bool KnownType(uint8 type) {
    return type == LightDirectional || type == LightAmbient || (type >= LightPoint && type <= LightSpotExponentHW);
}

// A light has no work of its own at a frame sync; the world extension places
// local lights.
ObjectWithFrame* LightSync(ObjectWithFrame* object) { return object; }

void MarkLocal(Light* light) {
    if (!LightTypeIsLocal(LightGetType(light))) return;
    if (Frame* f = LightGetFrame(light); f != nullptr && LightGetWorld(light) != nullptr) FrameUpdateObjects(f);
}

Light* NewRecord(uint8 type) {
    LightModule* m = Module();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    if (!KnownType(type)) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    auto* l = static_cast<Light*>(KvFreeListAlloc(m->lightFreeList));
    if (l == nullptr) return nullptr;
    std::memset(static_cast<void*>(l), 0, sizeof(Light));
    ObjectInitialize(&l->object.object, kObjectTypeLight, type);
    l->object.object.flags = kLightLightsAtomics | kLightLightsWorld;
    l->object.object.privateFlags = kLightPrivateGrey;
    l->object.frameLink.next = l->object.frameLink.prev = &l->object.frameLink;
    l->object.syncCallback = LightSync;
    l->color = RGBAReal{1.0f, 1.0f, 1.0f, 1.0f};
    l->minusCosAngle = -kDefaultConeCos;
    LinkListInitialize(&l->sectorTies);
    return l;
}

}  // namespace

Light* LightCreate(uint8 type) {
    Light* l = NewRecord(type);
    if (l == nullptr) return nullptr;
    if (RegistryConstruct(&lightRegistry, l) == nullptr) {
        KvFreeListFree(Module()->lightFreeList, l);
        return nullptr;
    }
    return l;
}

Light* LightClone(const Light* light) {
    if (light == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    Light* l = LightCreate(LightGetType(light));
    if (l == nullptr) return nullptr;
    l->object.object.flags = light->object.object.flags;
    l->object.object.privateFlags = light->object.object.privateFlags;
    l->radius = light->radius;
    l->color = light->color;
    l->minusCosAngle = light->minusCosAngle;
    RegistryCopy(&lightRegistry, l, light);
    return l;
}

bool LightDestroy(Light* light) {
    if (light == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    // The world extension's destructor takes it out of its world.
    RegistryDestruct(&lightRegistry, light);
    LightRemoveSectorTies(light);
    ObjectWithFrameRemove(&light->object);
    if (LightModule* m = Module()) KvFreeListFree(m->lightFreeList, light);
    return true;
}

Light* LightSetFrame(Light* light, Frame* frame) {
    ObjectWithFrameSetFrame(&light->object, frame);
    if (frame == nullptr) LightRemoveSectorTies(light);
    return light;
}

Light* LightSetRadius(Light* light, real radius) {
    light->radius = radius;
    MarkLocal(light);
    return light;
}

Light* LightSetColor(Light* light, const RGBAReal* color) {
    light->color = *color;
    if (color->red == color->green && color->red == color->blue) {
        light->object.object.privateFlags |= kLightPrivateGrey;
    } else {
        light->object.object.privateFlags &= static_cast<uint8>(~kLightPrivateGrey);
    }
    return light;
}

Light* LightSetConeAngle(Light* light, real radians) {
    light->minusCosAngle = -std::cos(radians);
    return light;
}

real LightGetConeAngle(const Light* light) {
    const real c = -light->minusCosAngle;
    if (c <= -1.0f) return std::acos(-1.0f);
    if (c >= 1.0f) return 0.0f;
    return std::acos(c);
}

int32 LightRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy) {
    return RegistryRegister(&lightRegistry, size, pluginID, construct, destruct, copy);
}

int32 LightGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&lightRegistry, pluginID); }
PluginRegistry* LightGetRegistry() { return &lightRegistry; }

bool worldp::LightPluginAttach() {
    return live.Registered(
        RegistryRegister(&lightRegistry, sizeof(LLLink), kIdWorldObjectsModule, LiveConstruct, LiveDestruct, nullptr));
}

void* LightModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    LightModule* m = slot.At(instance, offset);
    m->lightFreeList = FreeListCreate(lightRegistry.sizeOfStruct, kLightsPerBlock, alignof(Light));
    if (m->lightFreeList == nullptr) return nullptr;
    LinkListInitialize(&liveLights);
    slot.Opened(offset);
    return instance;
}

void* LightModuleClose(void* instance, int32 offset, int32 /*size*/) {
    LightModule* m = slot.At(instance, offset);
    if (!slot.IsOpen()) return instance;
    while (!LinkListEmpty(&liveLights)) LightDestroy(live.OwnerOf<Light>(LinkListGetFirst(&liveLights)));
    FreeListDestroy(m->lightFreeList);
    m->lightFreeList = nullptr;
    slot.Closed();
    return instance;
}

}  // namespace kv
