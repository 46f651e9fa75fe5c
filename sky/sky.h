// The sky on its own, for a caller that wants its light without the program:
// make a sky from a model and its parameters, place its sun by angles or by a
// place on Earth and a moment, and ask for the radiance of directions.
// Nothing here knows about windows, menus or the dome, and a sky is a value
// its caller owns: any number live side by side.
//
// Units and axes: radiance is linear Rec. 709 RGB scaled so that luminance is
// in kcd/m^2 (1 = 1000 cd/m^2, as the EXR panoramas hold it); illuminance is
// in lux. Directions are unit vectors with y up, +z north and +x west; the
// sun's azimuth runs from north towards west (compass azimuth = 360 - it).
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"
#include "sky/sky_model.h"
#include "sky/sun_position.h"

namespace kv {

// A sky's model and what it is made for (the ranges SkyCreate takes).
struct SkyParameters {
    SkyModelKind model = SkyModelPreetham;  // the analytic daylight model, or the physical atmosphere
    float turbidity = 2.0f;                 // haze, 1.7 (clearest) to 10
    float albedo = 0.3f;                    // the ground's, 0 to 1
    float altitude = 0.0f;                  // the viewer's, metres, 0 to 20000 (physical model)
    AtmosphereAerosols aerosols{};          // their kind, and a measured depth (physical model)
    // The site's moonless zenith, V mag/arcsec^2, 14 (a city) to 22.5, or 0
    // for a dark site's natural night (physical model).
    double skyBrightness = 0.0;
};

// A sky with its sun overhead; null with the error raised (kErrOutOfRange for
// a parameter out of range, kErrNoMemory). The physical model's tables take
// about half a second to make.
Sky* SkyCreate(const SkyParameters& parameters);
void SkyDestroy(Sky* sky);
SkyParameters SkyGetParameters(const Sky* sky);

// Places the sun: zenith angle from 0 to the model's limit (85 degrees for
// the analytic sky, 100 for the physical one), azimuth 0 up to 360. False
// (kErrOutOfRange raised, the sun unchanged) outside those.
bool SkySetSunAngles(Sky* sky, float zenithDegrees, float azimuthDegrees);
// The sun as seen from a place (degrees, north and east positive) at a
// moment (years 1901 to 2099). False, the sun unchanged, with *error saying
// where the sun is and what the model holds, when it is too low for the
// model. *where (may be null) gets the computed position.
bool SkySunFromPlace(SkyModelKind model, double latitude, double longitude, const SolarTime& time, float* zenithDegrees,
                     float* azimuthDegrees, SolarPosition* where, std::string* error);
bool SkySetSunAt(Sky* sky, double latitude, double longitude, const SolarTime& time, SolarPosition* where,
                 std::string* error);
void SkyGetSunAngles(const Sky* sky, float* zenithDegrees, float* azimuthDegrees);
// The unit direction towards the sun.
V3d SkySunDirection(const Sky* sky);

// Radiance of count unit directions: the sky above the horizon, the ground
// (Lambertian, of the sky's albedo) below it, without the sun's disc. The
// physical sky includes the night's own light (airglow, zodiacal light,
// faint stars, a town's light) and, for a place and a moment
// (SkySetNightBodies), the moonlit air; a sky without them has the mean
// night's light and no moon. Runs on
// up to the given number of threads (0: one per processor). False (error
// raised) when memory runs out.
bool SkyRadiance(Sky* sky, const V3d* directions, std::int64_t count, RGBAReal* radiance, int32 threads);

// The sun's disc: its radiance (black when the planet hides it), and the
// illuminance it gives on a surface facing it.
RGBAReal SkySunRadiance(Sky* sky);
double SkySunIlluminance(Sky* sky);
// The illuminance on the horizontal ground from the sun and the sky, and
// (when not null) the sky's part of it. The physical sky's includes the
// moon's (its beam and its scattered light), the night's own light and the
// stars and planets; the sky's part is everything but the sun's and the
// moon's beams.
double SkyHorizontalIlluminance(Sky* sky, double* fromSky);

}  // namespace kv
