// Materials: how triangles are drawn (a colour, an optional texture, a
// pipeline and three surface coefficients). Reference-counted records from the
// material module's free list, extensible through the material registry.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/math/rgba.h"

namespace kv {

struct FreeList;
struct Texture;
struct Pipeline;

// Engine module ids of the world objects' modules (registered by the world
// plug-in, in this order).
constexpr uint32 kIdMaterialModule = 0x501;
constexpr uint32 kIdGeometryModule = 0x503;

struct SurfaceProperties {
    real ambient;
    real specular;
    real diffuse;
};

// The engine defaults that new materials, geometries and worlds copy.
const SurfaceProperties* SurfacePropertiesDefault();

// Registered extension data follows the record.
struct Material {
    Texture* texture;  // counted reference, or none
    RGBA color;
    Pipeline* pipeline;  // none: the default material pipeline
    SurfaceProperties surfaceProps;
    // Every triangle that uses the material holds a reference: 16 bits
    // would wrap at 65535 triangles.
    int32 refCount;
};

// The material module's block in the engine instance.
struct MaterialModule {
    FreeList* materialFreeList;
};

// White, opaque, untextured, default surface properties, one reference.
Material* MaterialCreate();
Material* MaterialAddRef(Material* material);
// Drops one reference and frees on the last. A material released more often
// than it was referenced is not freed again.
bool MaterialDestroy(Material* material);

inline Texture* MaterialGetTexture(const Material* material) { return material->texture; }
// Takes a reference to the new texture (none allowed) and releases the old.
Material* MaterialSetTexture(Material* material, Texture* texture);
Material* MaterialSetColor(Material* material, const RGBA* color);
inline const RGBA* MaterialGetColor(const Material* material) { return &material->color; }
Material* MaterialSetSurfaceProperties(Material* material, const SurfaceProperties* props);
inline const SurfaceProperties* MaterialGetSurfaceProperties(const Material* material) {
    return &material->surfaceProps;
}
inline Material* MaterialSetPipeline(Material* material, Pipeline* pipeline) {
    material->pipeline = pipeline;
    return material;
}
inline Pipeline* MaterialGetPipeline(const Material* material) { return material->pipeline; }
inline int32 MaterialGetRefCount(const Material* material) { return material->refCount; }

// The material registry: plugins register before the engine opens.
int32 MaterialRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                             PluginCopy copy);
int32 MaterialRegisterPluginStream(uint32 pluginID, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamSize getSize);
int32 MaterialGetPluginOffset(uint32 pluginID);
PluginRegistry* MaterialGetRegistry();

// Registered as engine module kIdMaterialModule with sizeof(MaterialModule).
// Closing destroys the materials still alive.
void* MaterialModuleOpen(void* instance, int32 offset, int32 size);
void* MaterialModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
