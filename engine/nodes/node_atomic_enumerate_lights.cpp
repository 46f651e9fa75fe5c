#include "node_atomic_enumerate_lights.h"

#include "engine/pipe/standard_clusters.h"
#include "engine/world/clump.h"
#include "engine/world/geometry.h"
#include "engine/world/light.h"
#include "engine/world/world.h"
#include "light_list.h"

namespace kv {

namespace {

struct Listing {
    Cluster* lights;
    bool ok;
};

Light* AddGlobal(Light* light, void* data) {
    auto* list = static_cast<Listing*>(data);
    // Global lights come first in a world's walk: the rest are local.
    if (LightTypeIsLocal(LightGetType(light))) return nullptr;
    if ((LightGetFlags(light) & kLightLightsAtomics) != 0 && !LightsAppend(list->lights, light)) {
        list->ok = false;
        return nullptr;
    }
    return light;
}

Light* AddLocal(Light* light, void* data) {
    auto* list = static_cast<Listing*>(data);
    // A light reaching several of the atomic's sectors is listed once.
    if ((LightGetFlags(light) & kLightLightsAtomics) != 0 && !LightsContain(list->lights, light) &&
        !LightsAppend(list->lights, light)) {
        list->ok = false;
        return nullptr;
    }
    return light;
}

WorldSector* AddSector(WorldSector* sector, void* data) {
    WorldSectorForAllLights(sector, AddLocal, data);
    return static_cast<Listing*>(data)->ok ? sector : nullptr;
}

bool ListLights(Cluster* lights, Atomic* atomic) {
    if (!LightsStart(lights)) return false;
    const Geometry* geometry = AtomicGetGeometry(atomic);
    World* world = AtomicGetWorld(atomic);
    if (geometry == nullptr || (GeometryGetFlags(geometry) & GeometryLight) == 0 || world == nullptr) return true;
    Listing list{lights, true};
    WorldForAllLights(world, AddGlobal, &list);
    if (list.ok) AtomicForAllWorldSectors(atomic, AddSector, &list);
    return list.ok;
}

bool AtomicEnumerateLightsRun(PipelineNode* node, const ExecuteParams* params) {
    return EnumerateLightsRun(
        node, params, [](Cluster* lights, void* object) { return ListLights(lights, static_cast<Atomic*>(object)); });
}

NodeType nodeType = EnumerateLightsNodeType("AtomicEnumerateLights.csl", AtomicEnumerateLightsRun);

}  // namespace

NodeType* NodeDefinitionGetAtomicEnumerateLights() { return &nodeType; }

}  // namespace kv
