// "SubmitTriangle.csl" and "SubmitLine.csl": hand a packet's screen-space
// triangle list (or line list) to the device's 2D drawing functions with the
// packet's texture and blending.
#pragma once

#include "cluster_layouts.h"
#include "engine/pipe/pipeline.h"
#include "engine/pipe/render_state.h"

namespace kv {

// What a node that draws takes from the packet it picks up: its vertices
// (cluster 0), indices (1, may be absent), mesh state (2) and render state (3:
// the packet's, else the pipeline module's default, else the engine's
// defaults). Not to be copied: record may point at fallback.
struct SubmitPacket {
    Packet* packet;
    const Cluster* vertices;
    const Cluster* indices;
    const MeshState* state;
    const RenderStateRecord* record;
    RenderStateRecord fallback;
};
// False when there is nothing to draw: no packet, or one without vertices or
// mesh state (released then).
bool SubmitPacketPickUp(Pipeline* pipeline, SubmitPacket* out);

NodeType* NodeDefinitionGetSubmitTriangle();
NodeType* NodeDefinitionGetSubmitLine();

}  // namespace kv
