// The OpenGL device on an SDL window: what a program needs to install it.
#pragma once

#include "engine/core/engine.h"

struct SDL_Window;

namespace kv {

// The device's record, for EngineSetDevice. Its windowCreate makes the window
// the device draws in.
DeviceRecord* GlDeviceGetInterface();

// Makes a window the device can draw in. The pixel format is fixed when the
// window is made, so the device's format is asked for here: double-buffered
// with a compatibility context, no stencil, depth 32 bits, else 24, else 16.
// When no OpenGL window can be made at all (a video driver without OpenGL) a
// plain one is returned; starting the device on it then fails. (The device
// record's windowCreate makes a hidden, resizable one.)
SDL_Window* GlWindowCreate(const char* title, int x, int y, int width, int height, uint32 flags);

}  // namespace kv
