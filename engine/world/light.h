// Lights: records on frames that illuminate lit geometry. Global lights
// (directional, ambient) reach everything in their world; local lights (type
// 0x80 and above) are tied to the world sectors their radius reaches.
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/frame/frame.h"
#include "engine/math/rgba.h"

namespace kv {

struct FreeList;

constexpr uint8 kObjectTypeLight = 3;

// Light types (the header's sub-type byte).
enum LightType : uint8 {
    LightNAType = 0,
    LightDirectional = 1,
    LightAmbient = 2,
    LightPoint = 0x80,     // lit in software
    LightSpot = 0x81,      // lit in software
    LightSpotSoft = 0x82,  // lit in software, soft cone edge
    LightPointHW = 0x83,   // the device's hardware lights
    LightSpotHW = 0x84,
    LightSpotExponentHW = 0x85,
};
constexpr uint8 kLightFirstLocalType = 0x80;
inline bool LightTypeIsLocal(uint8 type) { return type >= kLightFirstLocalType; }

// Light flags.
constexpr uint8 kLightLightsAtomics = 0x01;
constexpr uint8 kLightLightsWorld = 0x02;
// Light private flags.
constexpr uint8 kLightPrivateGrey = 0x01;  // red = green = blue

// Registered extension data follows the record.
struct Light {
    ObjectWithFrame object;  // header (type 3, sub-type: the light type), frame link, sync
    real radius;
    RGBAReal color;       // alpha unused
    real minusCosAngle;   // the negated cosine of a spot light's cone angle
    LinkList sectorTies;  // SectorTie::inObject links
    uint16 lightFrame;    // the engine's light-visit stamp when last listed for an atomic
};

// Flags kLightLightsAtomics | kLightLightsWorld, white, radius 0, a cone of
// 45 degrees, no frame. Null (kErrNullArgument) for an unknown type.
Light* LightCreate(uint8 type);
// Leaves its world and its frame.
bool LightDestroy(Light* light);
inline uint8 LightGetType(const Light* light) { return light->object.object.subType; }
Light* LightSetFrame(Light* light, Frame* frame);
inline Frame* LightGetFrame(const Light* light) { return ObjectWithFrameGetFrame(&light->object); }
// A local light in a world is placed again at the next frame sync.
Light* LightSetRadius(Light* light, real radius);
inline real LightGetRadius(const Light* light) { return light->radius; }
// Also keeps kLightPrivateGrey.
Light* LightSetColor(Light* light, const RGBAReal* color);
inline const RGBAReal* LightGetColor(const Light* light) { return &light->color; }
Light* LightSetConeAngle(Light* light, real radians);
// Radians: the arc-cosine of the negated cone value (a stored -1 gives 0, +1
// gives pi; values beyond those ends give the end's angle).
real LightGetConeAngle(const Light* light);
inline Light* LightSetFlags(Light* light, uint8 flags) {
    light->object.object.flags = flags;
    return light;
}
inline uint8 LightGetFlags(const Light* light) { return light->object.object.flags; }
// A new light of the same type, radius, colour, cone and flags, without frame
// or world; every plugin's copy callback runs.
Light* LightClone(const Light* light);

int32 LightRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                          PluginCopy copy);
int32 LightGetPluginOffset(uint32 pluginID);
PluginRegistry* LightGetRegistry();

// The light module's block in the engine instance (module 0x505).
struct LightModule {
    FreeList* lightFreeList;  // 20 a block
};

// Registered by WorldPluginAttach. Closing destroys the lights still alive.
void* LightModuleOpen(void* instance, int32 offset, int32 size);
void* LightModuleClose(void* instance, int32 offset, int32 size);

}  // namespace kv
