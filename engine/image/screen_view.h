// The camera being drawn, as 2D drawing below the camera layer sees it (the
// on-screen text clips its glyphs to the camera's raster and gives the near
// plane's depth to its vertices). The camera module answers the query; with
// no camera current there is no view.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct ScreenView {
    int32 width;  // the camera raster's size in pixels
    int32 height;
    real nearPlane;  // the camera's near clip plane
};

using ScreenViewQuery = bool (*)(ScreenView* view);

// Installed by the camera module while it is open; null removes it.
void ScreenViewSetQuery(ScreenViewQuery query);
// False when no camera is current (or no query is installed).
bool ScreenViewGet(ScreenView* view);

}  // namespace kv
