// The hardware-light extension: attenuation and spot exponent of the lights
// that the device's own lights draw (types 0x83 to 0x85).
#pragma once

#include "engine/core/types.h"

namespace kv {

struct Light;

constexpr uint32 kIdHardwareLightPlugin = 1285;

struct HardwareLightExt {
    real constantAttenuation;   // 1 at creation
    real linearAttenuation;     // 0
    real quadraticAttenuation;  // 0
    real spotExponent;          // 0
};
static_assert(sizeof(HardwareLightExt) == 16);

// Registers the extension on lights (called by WorldPluginAttach).
bool HardwareLightPluginAttach();

// Attenuation: types 0x83 to 0x85 only; the exponent: type 0x85 only. Other
// types read -1 and refuse the setter (kErrNullArgument). Before the extension
// is registered: error 0x80000018; a null light: kErrNullArgument.
real LightGetConstantAttenuation(const Light* light);
real LightGetLinearAttenuation(const Light* light);
real LightGetQuadraticAttenuation(const Light* light);
real LightGetSpotExponent(const Light* light);
Light* LightSetAttenuation(Light* light, real constant, real linear, real quadratic);
Light* LightSetSpotExponent(Light* light, real exponent);

}  // namespace kv
