#include "hardware_light.h"

#include "engine/core/error.h"
#include "engine/world/light.h"

namespace kv {

namespace {

PluginSlot<HardwareLightExt> ext;

void* Construct(void* object, int32 offset, int32) {
    *PtrAdd<HardwareLightExt>(object, offset) = HardwareLightExt{1.0f, 0.0f, 0.0f, 0.0f};
    return object;
}

void* Copy(void* dst, const void* src, int32 offset, int32) {
    *PtrAdd<HardwareLightExt>(dst, offset) = *PtrAdd<const HardwareLightExt>(const_cast<void*>(src), offset);
    return dst;
}

// The light's block, or null with the error raised.
HardwareLightExt* Ext(const Light* light) {
    // A registry reset by EngineTerm forgets the block until the next attach.
    if (!ext.ValidIn(LightGetRegistry())) {
        ErrorRaise(kModuleHardwareLight, kErrNotReady);
        return nullptr;
    }
    if (light == nullptr) {
        ErrorRaise(kModuleHardwareLight, kErrNullArgument);
        return nullptr;
    }
    return ext.Of(light);
}

bool Attenuated(const Light* light) {
    return LightGetType(light) >= LightPointHW && LightGetType(light) <= LightSpotExponentHW;
}

}  // namespace

bool HardwareLightPluginAttach() {
    return ext.Registered(
        LightRegisterPlugin(sizeof(HardwareLightExt), kIdHardwareLightPlugin, Construct, nullptr, Copy));
}

real LightGetConstantAttenuation(const Light* light) {
    const HardwareLightExt* e = Ext(light);
    return e != nullptr && Attenuated(light) ? e->constantAttenuation : -1.0f;
}

real LightGetLinearAttenuation(const Light* light) {
    const HardwareLightExt* e = Ext(light);
    return e != nullptr && Attenuated(light) ? e->linearAttenuation : -1.0f;
}

real LightGetQuadraticAttenuation(const Light* light) {
    const HardwareLightExt* e = Ext(light);
    return e != nullptr && Attenuated(light) ? e->quadraticAttenuation : -1.0f;
}

real LightGetSpotExponent(const Light* light) {
    const HardwareLightExt* e = Ext(light);
    return e != nullptr && LightGetType(light) == LightSpotExponentHW ? e->spotExponent : -1.0f;
}

Light* LightSetAttenuation(Light* light, real constant, real linear, real quadratic) {
    HardwareLightExt* e = Ext(light);
    if (e == nullptr) return nullptr;
    if (!Attenuated(light)) {
        ErrorRaise(kModuleHardwareLight, kErrNullArgument);
        return nullptr;
    }
    e->constantAttenuation = constant;
    e->linearAttenuation = linear;
    e->quadraticAttenuation = quadratic;
    return light;
}

Light* LightSetSpotExponent(Light* light, real exponent) {
    HardwareLightExt* e = Ext(light);
    if (e == nullptr) return nullptr;
    if (LightGetType(light) != LightSpotExponentHW) {
        ErrorRaise(kModuleHardwareLight, kErrNullArgument);
        return nullptr;
    }
    e->spotExponent = exponent;
    return light;
}

}  // namespace kv
