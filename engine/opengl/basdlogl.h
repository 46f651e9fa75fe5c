// The OpenGL device on an SDL window: what a program needs to install it.
#pragma once

#include "engine/core/badevice.h"

namespace kv {

// The device's record, for EngineSetDevice. Its windowCreate makes the window
// the device draws in.
DeviceRecord* GlDeviceGetInterface();

}  // namespace kv
