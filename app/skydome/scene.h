// The scene every run of the program makes, windowed or not: the sky model
// chosen and ready, the dome clump in the world at the options' resolution, placed for
// the orbit view and coloured for the options' sun. One function, so that a
// dome saved by --export-only is the file the windowed program saves.
#pragma once

#include "engine/math/bbox.h"

namespace kv {

// The world every run makes holds the dome and the camera.
constexpr BBox kSkydomeWorldBox = {{100.0f, 100.0f, 100.0f}, {-100.0f, -100.0f, -100.0f}};

struct Clump;
struct SkydomeOptions;
struct World;

// The dome clump, or null with *failure set to the start-up message of the
// step that failed ("Error initializing color.", "Cannot set up the sky
// model.", "Cannot create skydome clump."). The dome module's state is reset
// first; the sky model is the options' (SkyModelRelease when done).
Clump* SkydomeSceneCreate(World* world, const SkydomeOptions* options, const char** failure);

}  // namespace kv
