// The OpenGL device on an SDL window: what a program needs to install it.
#pragma once

#include "engine/core/engine.h"

namespace kv {

// The device's record, for EngineSetDevice. Its windowCreate makes the window
// the device draws in.
DeviceRecord* GlDeviceGetInterface();

}  // namespace kv
