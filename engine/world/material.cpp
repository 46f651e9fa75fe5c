#include "material.h"

#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "engine/image/texture.h"

namespace kv {

namespace {

constexpr int32 kMaterialsPerBlock = 20;
constexpr SurfaceProperties kDefaultSurfaceProperties{1.0f, 1.0f, 1.0f};

PluginRegistry materialRegistry = PluginRegistryMake(sizeof(Material));
ModuleSlot<MaterialModule> slot;

MaterialModule* Module() { return slot.Get(); }

// Whatever still references the material is beyond help here; the module is
// going away.
void MaterialFree(MaterialModule* m, Material* material) {
    RegistryDestruct(&materialRegistry, material);
    if (material->texture != nullptr) TextureDestroy(material->texture);
    material->texture = nullptr;
    material->refCount = 0;
    KvFreeListFree(m->materialFreeList, material);
}

}  // namespace

const SurfaceProperties* SurfacePropertiesDefault() { return &kDefaultSurfaceProperties; }

Material* MaterialCreate() {
    MaterialModule* m = Module();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    auto* material = static_cast<Material*>(KvFreeListAlloc(m->materialFreeList));
    if (material == nullptr) return nullptr;
    std::memset(static_cast<void*>(material), 0, sizeof(Material));
    material->texture = nullptr;
    material->color = RGBA{255, 255, 255, 255};
    material->pipeline = nullptr;
    material->surfaceProps = kDefaultSurfaceProperties;
    material->refCount = 1;
    if (RegistryConstruct(&materialRegistry, material) == nullptr) {
        KvFreeListFree(m->materialFreeList, material);
        return nullptr;
    }
    return material;
}

Material* MaterialAddRef(Material* material) {
    ++material->refCount;
    return material;
}

bool MaterialDestroy(Material* material) {
    if (material == nullptr) return true;
    if (material->refCount <= 0) return true;  // already freed: never free twice
    if (--material->refCount > 0) return true;
    MaterialModule* m = Module();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return false;
    }
    MaterialFree(m, material);
    return true;
}

Material* MaterialSetTexture(Material* material, Texture* texture) {
    // The new one first: it may be the texture already set.
    if (texture != nullptr) TextureAddRef(texture);
    if (material->texture != nullptr) TextureDestroy(material->texture);
    material->texture = texture;
    return material;
}

Material* MaterialSetColor(Material* material, const RGBA* color) {
    material->color = *color;
    return material;
}

Material* MaterialSetSurfaceProperties(Material* material, const SurfaceProperties* props) {
    material->surfaceProps = *props;
    return material;
}

int32 MaterialRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                             PluginCopy copy) {
    return RegistryRegister(&materialRegistry, size, pluginID, construct, destruct, copy);
}

int32 MaterialRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamSize getSize) {
    return RegistrySetStream(&materialRegistry, pluginID, read, write, getSize);
}

int32 MaterialGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&materialRegistry, pluginID); }

PluginRegistry* MaterialGetRegistry() { return &materialRegistry; }

void* MaterialModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    MaterialModule* m = slot.At(instance, offset);
    m->materialFreeList = FreeListCreate(materialRegistry.sizeOfStruct, kMaterialsPerBlock, alignof(Material));
    if (m->materialFreeList == nullptr) return nullptr;
    slot.Opened(offset);
    return instance;
}

void* MaterialModuleClose(void* instance, int32 offset, int32 /*size*/) {
    MaterialModule* m = slot.At(instance, offset);
    if (m->materialFreeList == nullptr) return instance;
    // Freeing an entry only pushes it on the pool's free stack, which does not
    // disturb the walk over the others.
    FreeListForAllUsed(
        m->materialFreeList,
        [](void* e, void* d) { MaterialFree(static_cast<MaterialModule*>(d), static_cast<Material*>(e)); }, m);
    FreeListDestroy(m->materialFreeList);
    m->materialFreeList = nullptr;
    slot.Closed();
    return instance;
}

}  // namespace kv
