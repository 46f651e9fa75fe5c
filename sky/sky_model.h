// A sky and the one place that sends every request for its light to its
// model: the analytic model of analytic_sky.h (the default) or the physical
// atmosphere of atmosphere.h. The dome, the preview's sun, the panoramas and
// the glTF ask here and never choose for themselves.
//
// Colours come in the model's own RGB: the analytic model's display primaries
// (SkyColorInit), or linear Rec. 709 for the physical one; luminance in
// kcd/m^2 in both, so that one exposure curve (SkyToneMap) shows either.
// SkyModelToRec709 turns them into the linear Rec. 709 that files state.
//
// A Sky is a value its caller owns: two skies live side by side. The sun is
// kept in its analytic state (SkyModelAnalyticState), which the physical
// model follows when asked for colours.
#pragma once

#include <vector>

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"
#include "sky/atmosphere_medium.h"
#include "sky/ephemeris.h"

namespace kv {

struct SkyColorCache;
struct SkyState;
struct Sky;

enum SkyModelKind : int32 {
    SkyModelPreetham = 0,  // the analytic daylight model, the default
    SkyModelPhysical = 1,  // the physical atmosphere
};
// The names --sky and the menu use, by kind.
constexpr const char* kSkyModelNames[] = {"preetham", "physical"};

// A sky of the default model and values (turbidity kSkyTurbidity, albedo
// kAtmosphereDefaultAlbedo, altitude 0) whose sun is not yet placed; null
// (error raised) when memory runs out. Destroying frees its tables.
Sky* SkyModelCreate();
void SkyModelDestroy(Sky* sky);

// The analytic model's state: the sun's angles and what they give.
SkyState* SkyModelAnalyticState(Sky* sky);
const SkyState* SkyModelAnalyticState(const Sky* sky);
// Places the sun (degrees; not clamped) at the sky's turbidity.
void SkyModelSetSun(Sky* sky, float thetaDegrees, float phiDegrees);
// The turbidity the next SkyModelSetSun uses; values outside 1.7 to 10 are
// refused (kErrOutOfRange raised, false).
bool SkyModelSetTurbidity(Sky* sky, float turbidity);
float SkyModelTurbidity(const Sky* sky);

// How far from overhead each model lets the sun go: 85 and 180 degrees.
float SkyModelMaxSunZenith(SkyModelKind kind);

// The model and what it is made for: the turbidity (both models), the
// ground's albedo (both models' ground), the viewer's altitude and the
// aerosols (the physical model's). The physical model's tables are built
// here (about half a second) when it is chosen. Does not move the sun. False, with the error
// raised and nothing changed, for a value out of range or when memory runs
// out.
bool SkyModelConfigure(Sky* sky, SkyModelKind kind, float turbidity, float albedo, float altitude,
                       AtmosphereAerosols aerosols = {});
// Changes the model only, building the physical model's tables the first
// time. False, nothing changed, when the tables cannot be made.
bool SkyModelSetKind(Sky* sky, SkyModelKind kind);
SkyModelKind SkyModelInUse(const Sky* sky);
float SkyModelAlbedo(const Sky* sky);
float SkyModelAltitude(const Sky* sky);
// Frees the models' tables and returns to the default model and values,
// keeping the sun and the turbidity; before the engine whose memory they
// hold closes.
void SkyModelRelease(Sky* sky);
AtmosphereAerosols SkyModelAerosols(const Sky* sky);

// Brings the model in use to the current sun; evaluations may then run on
// several threads at once (each with its own cache) until the sun moves.
void SkyModelPrepare(Sky* sky);

// Colours of unit directions (the dome's vertices), after SkyModelPrepare
// or not. The cache, when not null, holds these directions
// (SkyColorCacheSetDirections) and makes the analytic model fast.
void SkyModelColors(Sky* sky, const V3d* directions, int32 count, SkyColorCache* cache, RGBAReal* colours);
// A panorama's row at zenith angle theta (radians, as PanoramaPixelAngles):
// the sky above the horizon, the ground below it; no sun disc. The cache
// holds the row's azimuths (SkyColorCacheSetAzimuths). Needs SkyModelLight
// (made after the sun's last move) and SkyModelPrepare, and is then safe on
// several threads.
void SkyModelRowColors(const Sky* sky, SkyColorCache* cache, double theta, const double* phi, int32 count,
                       RGBAReal* colours);

// The sun and the ground of a sky.
struct SkyLight {
    RGBAReal sun;           // the disc's radiance (model's RGB, kcd/m^2); black when the planet hides it
    double sunIlluminance;  // lux on a surface facing the sun
    RGBAReal sunColour;     // the sun's linear Rec. 709 colour at luminance 1
    RGBAReal ground;        // radiance of the ground (model's RGB): Lambertian, albedo * horizontal / pi
    double horizontal;      // lux on the horizontal ground, from the sun and the sky
    double fromSky;         // the sky's part of it
};
// Computed for the current sun on first use after it moved (a few
// milliseconds for the analytic model's sky integral); not thread-safe.
const SkyLight* SkyModelLight(Sky* sky);
// Only the sun's disc (model's RGB), cheaper, for every frame of the preview.
RGBAReal SkyModelSunRadiance(Sky* sky);

// The colour (model's RGB) at which a point of light with the sun's
// spectrum and a luminance of 1 outside the atmosphere arrives from a zenith
// angle (degrees): the model's own transmittance along that path. Black
// where the path meets the ground.
RGBAReal SkyModelThroughAir(double zenithDegrees);

// The colour (model's RGB) at which a point of light with the sun's
// spectrum and a luminance of 1 outside the atmosphere arrives from a zenith
// angle (degrees): the model's own transmittance along that path. Black
// where the path meets the ground.
RGBAReal SkyModelThroughAir(Sky* sky, double zenithDegrees);
// Room for what a caller derives from that transmittance (the night's
// bodies keep it by zenith angle): emptied whenever the sky's air changes,
// so that what is kept always belongs to the air as it is.
struct SkyAirCache {
    std::vector<RGBAReal> values;
    std::vector<uint8> known;
};
SkyAirCache* SkyModelAirCache(Sky* sky);

// The night's bodies a sky's panoramas show (panorama_rows.h).
struct PanoramaBodies;
PanoramaBodies* SkyModelBodies(Sky* sky);
const PanoramaBodies* SkyModelBodies(const Sky* sky);
// Where and when its sun was placed from (night_bodies.h).
struct SkyPlaceMoment;
SkyPlaceMoment* SkyModelPlaceMoment(Sky* sky);
const SkyPlaceMoment* SkyModelPlaceMoment(const Sky* sky);

// Zenith angle (radians) past which the viewer sees the ground: 90 degrees,
// less the horizon's dip for a physical viewer above the ground.
double SkyModelHorizon(const Sky* sky);
// Luminance (kcd/m^2) of a colour in the model's RGB.
double SkyModelLuminance(const Sky* sky, const RGBAReal& colour);
// The model's RGB to linear Rec. 709, in place; negative channels (out of
// the Rec. 709 gamut) become 0.
void SkyModelToRec709(const Sky* sky, RGBAReal* colours, int32 count);

// The night of the physical model: its own light (night_light.h) and the
// moon's light scattered by the air, added to its colours, its ground and
// its horizontal illuminance. A sky without a place and a moment has the
// mean night (NightGlowMean) and no moon.
struct SkyModelNight {
    SkyMoment moment;
    SkyPlace place;
    bool moonUp = false;            // above the lowest sun the model holds
    float moonZenith = 0.0f;        // degrees, as the sun's
    float moonAzimuth = 0.0f;       // the program's azimuth, degrees
    double moonIlluminance = 0.0;   // lux outside the atmosphere, on a surface facing it
    double starsIlluminance = 0.0;  // lux on the horizontal ground from the stars and planets drawn one by one
};
// Null: the mean night, without a moon.
void SkyModelSetNight(Sky* sky, const SkyModelNight* night);
// The site's moonless zenith in V mag/arcsec^2, kNightSkyBrightest to
// kNightSkyDarkest, or 0 for a dark site's natural sky; false
// (kErrOutOfRange raised, nothing changed) for any other value.
bool SkyModelSetNightBrightness(Sky* sky, double zenithMagnitude);
double SkyModelNightBrightness(const Sky* sky);
// What the night gives the horizontal ground, lux: the moon's beam and its
// scattered light, the night's own light, and the stars and planets drawn
// one by one (physical model; zeros for the analytic one).
struct SkyModelNightLight {
    double moon = 0.0;
    double moonSky = 0.0;
    double glow = 0.0;
    double stars = 0.0;
};
SkyModelNightLight SkyModelNightIlluminance(Sky* sky);

}  // namespace kv
