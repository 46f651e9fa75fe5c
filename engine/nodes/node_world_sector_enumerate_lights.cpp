#include "node_world_sector_enumerate_lights.h"

#include "engine/pipe/standard_clusters.h"
#include "engine/world/light.h"
#include "engine/world/world.h"
#include "light_list.h"

namespace kv {

namespace {

struct Listing {
    Cluster* lights;
    bool ok;
};

Light* Add(Light* light, void* data) {
    auto* list = static_cast<Listing*>(data);
    if ((LightGetFlags(light) & kLightLightsWorld) != 0 && !LightsAppend(list->lights, light)) {
        list->ok = false;
        return nullptr;
    }
    return light;
}

Light* AddGlobal(Light* light, void* data) {
    // Global lights come first in a world's walk: the rest are local.
    return LightTypeIsLocal(LightGetType(light)) ? nullptr : Add(light, data);
}

bool ListLights(Cluster* lights, WorldSector* sector) {
    if (!LightsStart(lights)) return false;
    World* world = WorldGetCurrent();
    if (world == nullptr || (WorldGetFlags(world) & MeshStateLight) == 0) return true;
    Listing list{lights, true};
    WorldForAllLights(world, AddGlobal, &list);
    if (list.ok) WorldSectorForAllLights(sector, Add, &list);
    return list.ok;
}

bool WorldSectorEnumerateLightsRun(PipelineNode* node, const ExecuteParams* params) {
    return EnumerateLightsRun(node, params, [](Cluster* lights, void* object) {
        return ListLights(lights, static_cast<WorldSector*>(object));
    });
}

NodeType nodeType = EnumerateLightsNodeType("WorldSectorEnumerateLights.csl", WorldSectorEnumerateLightsRun);

}  // namespace

NodeType* NodeDefinitionGetWorldSectorEnumerateLights() { return &nodeType; }

}  // namespace kv
