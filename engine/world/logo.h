// The logo overlay: a small picture drawn into a corner of a camera's picture
// at the end of every update of that camera, after the scene and before the
// picture is shown. One logo raster per engine; an on/off flag per camera
// (off when the camera is made). The menu turns it on for the camera it draws
// on, off while the help page is shown, and keeps its text clear of the
// rectangle the logo took last.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Camera;
struct Raster;

// The plug-in id in the engine and camera registries.
constexpr uint32 kIdLogoPlugin = 266;

struct LogoRect {
    int32 x, y, width, height;  // pixels in the camera's parent raster
};

// Positions, 5 pixels in from the edges they touch: 1-3 centred across (top,
// middle, bottom), 4 and 6 at the left (middle, top), 5, 7 and 9 at the right
// (middle, top, bottom), 8 at the bottom left.
constexpr int32 kLogoBottomLeft = 8;

// Registers the engine block (the logo raster, made at engine start) and the
// camera block (the flag, and the camera's own end update, which the logo's
// end update calls after drawing). Call after EngineInit, before EngineOpen.
bool LogoPluginAttach();

// Sets a camera's flag; returns the flag it had (0 when the plug-in is not
// attached).
int32 LogoSetCamera(Camera* camera, int32 enabled);

// The rectangle the last end update computed. False, with a zero rectangle,
// while the engine has no logo block (not attached, or not started).
bool LogoGetRect(LogoRect* rect);

// The engine's logo raster, or null (no plug-in, or it could not be made).
Raster* LogoGetRaster();

}  // namespace kv
