#include "program_sky.h"

#include "engine/core/error.h"

namespace kv {

namespace {

float maxSunZenith = kSkyMaxSunZenith;
SkySunMovedHook sunHook = nullptr;
void* sunHookData = nullptr;

}  // namespace

Sky* ProgramSky() {
    // Made once and kept to the end: the window, the batch run and the
    // exports all show this one.
    static Sky* const sky = SkyModelCreate();
    KV_ASSERT(sky != nullptr);
    return sky;
}

SkyState* SkyGetState() { return SkyModelAnalyticState(ProgramSky()); }

void SkySetSun(float thetaDegrees, float phiDegrees, float turbidity) {
    SkyStateSetSun(SkyGetState(), thetaDegrees, phiDegrees, turbidity);
}

double SkyPerez(double theta, double gamma, int32 channel) { return SkyPerez(*SkyGetState(), theta, gamma, channel); }

RGBAReal SkyColor(double thetaS, double phiS, double theta, double phi) {
    return SkyColor(*SkyGetState(), thetaS, phiS, theta, phi);
}

void SkyMoveSun(float dThetaDegrees, float dPhiDegrees) {
    const SkyState& s = *SkyGetState();
    float theta = s.sunTheta + dThetaDegrees;
    if (theta > maxSunZenith) {
        theta = maxSunZenith;
    } else if (theta < 0.0f) {
        theta = 0.0f;
    }
    float phi = s.sunPhi + dPhiDegrees;
    if (phi >= 360.0f) {
        phi -= 360.0f;
    } else if (phi < 0.0f) {
        phi += 360.0f;
    }
    SkyModelSetSun(ProgramSky(), theta, phi);
    if (sunHook != nullptr) sunHook(theta, phi, sunHookData);
}

bool SkySetTurbidity(float turbidity) { return SkyModelSetTurbidity(ProgramSky(), turbidity); }

float SkyGetTurbidity() { return SkyModelTurbidity(ProgramSky()); }

void SkySetMaxSunZenith(float degrees) { maxSunZenith = degrees; }
float SkyGetMaxSunZenith() { return maxSunZenith; }

void SkySetSunMovedHook(SkySunMovedHook hook, void* data) {
    sunHook = hook;
    sunHookData = data;
}

bool SkyModelConfigure(SkyModelKind kind, float turbidity, float albedo, float altitude, AtmosphereAerosols aerosols) {
    if (!SkyModelConfigure(ProgramSky(), kind, turbidity, albedo, altitude, aerosols)) return false;
    SkySetMaxSunZenith(SkyModelMaxSunZenith(kind));
    return true;
}

bool SkyModelConfigure(SkyModelKind kind, float turbidity, float albedo, float altitude) {
    return SkyModelConfigure(kind, turbidity, albedo, altitude, SkyModelAerosols(ProgramSky()));
}

bool SkyModelSelect(SkyModelKind kind) {
    if (!SkyModelSetKind(ProgramSky(), kind)) return false;
    SkySetMaxSunZenith(SkyModelMaxSunZenith(kind));
    // In the new model's range, and the dome recoloured by it.
    SkyMoveSun(0.0f, 0.0f);
    return true;
}

void SkyModelRelease() {
    SkyModelRelease(ProgramSky());
    SkySetMaxSunZenith(kSkyMaxSunZenith);
}

}  // namespace kv
