// The one sky the window shows, and the names the program has always used for
// it. The sky's science (sky/) keeps no state of its own: this is the
// program's sky, whose sun the controls move, whose model the menu switches
// and which the dome, the preview's sun and the exports show.
#pragma once

#include "app/skydome/program_sky.h"
#include "sky/analytic_sky.h"
#include "sky/sky_model.h"

namespace kv {

// The program's sky, made on first use.
Sky* ProgramSky();

// Its analytic state: the sun's angles and what they give (zero until the
// first SkySetSun or SkyMoveSun).
SkyState* SkyGetState();
// Recomputes every derived field for that sun (degrees) and turbidity.
void SkySetSun(float thetaDegrees, float phiDegrees, float turbidity);
// The program's sky's Perez function and colour, as analytic_sky.h gives
// them for a state.
double SkyPerez(double theta, double gamma, int32 channel);
RGBAReal SkyColor(double thetaS, double phiS, double theta, double phi);

// Moves the sun by the given degrees (zenith clamped to [0, SkyGetMaxSunZenith()],
// azimuth wrapped into [0, 360)), recomputes the model with the current
// turbidity and calls the sun hook.
void SkyMoveSun(float dThetaDegrees, float dPhiDegrees);
// How far from overhead SkyMoveSun lets the sun go: kSkyMaxSunZenith until
// the sky in use holds a lower sun (SkyModelConfigure and SkyModelSelect set
// it).
void SkySetMaxSunZenith(float degrees);
float SkyGetMaxSunZenith();

// The turbidity SkyMoveSun computes the sky for (kSkyTurbidity until set).
// Values outside 1.7 to 10 are refused (kErrOutOfRange raised, false).
bool SkySetTurbidity(float turbidity);
float SkyGetTurbidity();

// Called by SkyMoveSun after the model is recomputed: where the dome
// recolours itself. Null for none.
using SkySunMovedHook = void (*)(float thetaDegrees, float phiDegrees, void* data);
void SkySetSunMovedHook(SkySunMovedHook hook, void* data);

// The program's sky model (sky_model.h on ProgramSky()). Configuring also
// sets how far SkyMoveSun lets the sun go.
bool SkyModelConfigure(SkyModelKind kind, float turbidity, float albedo, float altitude, AtmosphereAerosols aerosols);
// The same, keeping the aerosols the sky has.
bool SkyModelConfigure(SkyModelKind kind, float turbidity, float albedo, float altitude);
// Changes the model only (the menu): builds the physical model's tables the
// first time, then moves the sun into the model's range (SkyMoveSun, which
// recolours the dome). False, nothing changed, when the tables cannot be made.
bool SkyModelSelect(SkyModelKind kind);
// Frees the models' tables and returns to the default model and values.
void SkyModelRelease();
inline SkyModelKind SkyModelInUse() { return SkyModelInUse(ProgramSky()); }
inline float SkyModelAlbedo() { return SkyModelAlbedo(ProgramSky()); }
inline float SkyModelAltitude() { return SkyModelAltitude(ProgramSky()); }
inline AtmosphereAerosols SkyModelAerosols() { return SkyModelAerosols(ProgramSky()); }
inline void SkyModelPrepare() { SkyModelPrepare(ProgramSky()); }
inline void SkyModelColors(const V3d* directions, int32 count, SkyColorCache* cache, RGBAReal* colours) {
    SkyModelColors(ProgramSky(), directions, count, cache, colours);
}
inline const SkyLight* SkyModelLight() { return SkyModelLight(ProgramSky()); }
inline RGBAReal SkyModelSunRadiance() { return SkyModelSunRadiance(ProgramSky()); }
inline double SkyModelHorizon() { return SkyModelHorizon(ProgramSky()); }
inline double SkyModelLuminance(const RGBAReal& colour) { return SkyModelLuminance(ProgramSky(), colour); }
inline void SkyModelToRec709(RGBAReal* colours, int32 count) { SkyModelToRec709(ProgramSky(), colours, count); }

}  // namespace kv
