// Internal links between the world objects' modules (atomics and clumps,
// sectors, worlds, lights): the world extension blocks and the lists of live
// objects that closing a module walks.
#pragma once

#include "engine/world/light.h"
#include "engine/world/world.h"

namespace kv::worldp {

// Null until WorldPluginAttach registered the extension.
AtomicWorldExt* AtomicExt(const Atomic* atomic);
ClumpWorldExt* ClumpExt(const Clump* clump);
CameraWorldExt* CameraExt(const Camera* camera);
LightWorldExt* LightExt(const Light* light);

// An atomic joins (world given) or leaves (none) the world of its clump: it
// takes the world and is placed at the next sync, or drops its ties.
void AtomicSetWorld(Atomic* atomic, World* world);

// Registrations made by WorldPluginAttach, in its order.
bool AtomicClumpPluginAttach();  // live-object links of atomics and clumps
bool LightPluginAttach();        // live-object links of lights
bool WorldSectorPluginAttach();  // the mesh extension's block on sectors

// The default atomic pipeline as the world pipelines module keeps it.
Pipeline* DefaultAtomicPipeline();

}  // namespace kv::worldp
