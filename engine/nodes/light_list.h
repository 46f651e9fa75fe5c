// Lights in pipelines: the light list that travels with a packet
// ("Lights.csl"), and the software lighting of local lights (point, spot and
// soft spot), which adds their effect to the vertex colours.
#pragma once

#include "cluster_layouts.h"

namespace kv {

struct Light;

// An empty list with room for kLightsGrowth lights.
bool LightsStart(Cluster* lights);
// Appends, growing by kLightsGrowth when full.
bool LightsAppend(Cluster* lights, Light* light);
bool LightsContain(const Cluster* lights, const Light* light);
inline Light* LightsAt(const Cluster* lights, uint32 i) { return static_cast<const LightRef*>(lights->data)[i]; }

// The body of the light-enumeration nodes: the packet's light list is filled
// by list(lights, the object being rendered) and the packet goes on to the
// node's one output.
using LightsListFn = bool (*)(Cluster* lights, void* object);
bool EnumerateLightsRun(PipelineNode* node, const ExecuteParams* params, LightsListFn list);
// The node type both enumeration nodes share: it makes the lights cluster and
// has one output.
NodeType EnumerateLightsNodeType(const char* name, NodeBodyFn body);

// A local light as seen from one mesh's object space.
struct LocalLight {
    uint8 type;
    V3d position;           // object space
    V3d direction;          // the spot axis, object space, unit length
    real radius;            // object units
    real cone;              // the light's stored cone value (negated cosine)
    real red, green, blue;  // colour x diffuse coefficient x 255 (x material colour when modulating)
};

// False for anything but a point, spot or soft spot light lit in software.
bool LocalLightPrepare(LocalLight* out, const Light* light, const MeshState* state);
// Adds the light to the colour bytes (clamped to 255; alpha unchanged).
void LocalLightApply(const LocalLight& light, ObjSpace3DVertex* vertices, uint32 count);
// What the light adds per unit of colour at one vertex (0 when out of reach).
real LocalLightAmount(const LocalLight& light, const V3d& position, const V3d& normal);

}  // namespace kv
