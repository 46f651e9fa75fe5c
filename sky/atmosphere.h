// The physical sky: a spherical planet under air, aerosols and ozone
// (atmosphere_medium.h), lit by the sun, with multiple scattering and light
// reflected by the ground. Unlike the analytic model it holds for a sun
// anywhere, through civil, nautical and astronomical twilight into the night
// (where the sun's scattered light is nothing), gives the ground below the
// horizon and the sun's disc, and its units are physical.
//
// Units: colours are linear Rec. 709 RGB (D65 white) whose luminance Y =
// 0.2126 R + 0.7152 G + 0.0722 B is in kcd/m^2 (1 = 1000 cd/m^2), the units
// of the analytic model (sky.h), so that one exposure curve (SkyToneMap)
// serves both. A colour outside the Rec. 709 gamut has its negative channels
// set to 0; AtmosphereXYZ gives the colour before that, in cd/m^2.
// Directions are unit vectors with y up, +z north and +x west; azimuths are
// degrees from +z towards +x, zenith angles degrees from +y.
//
// How: the light is computed in kAtmosphereBins spectral bands and converted
// with the CIE 1931 observer. In the manner of Hillaire 2020 ("A Scalable
// and Production Ready Sky and Atmosphere Rendering Technique"),
// AtmosphereSetup builds a table of transmittance; the multiply scattered
// light at every altitude and angle of the sun, order by order: the second,
// third and fourth each gathered from every direction and scattered by the
// phase functions of air and aerosols into every direction, the further ones
// a geometric series of the fourth with Hillaire's ratio f; the sky's
// irradiance on the ground; the paths of the viewer's rays; and the
// multiply scattered light along those rays for a range of suns.
// AtmosphereSetSun then builds a sky-view table (view zenith by azimuth
// from the sun) of single scattering with the phase functions left out, the
// ground, and the multiple scattering of its sun; each direction reads it
// and applies the phase functions of its angle to the sun.
//
// Threads: after AtmosphereSetup and AtmosphereSetSun the evaluations read
// the model only, and may run on several threads at once.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"
#include "sky/atmosphere_medium.h"

namespace kv {

constexpr int kAtmosphereBins = 16;
constexpr float kAtmosphereMaxSunZenith = 180.0f;
// The lowest sun whose scattered light the tables hold, 24 degrees below the
// horizon. Sunlight reaches no air below 100 km once the sun is 20.2 degrees
// down, and the light scattered more than once, all that is left, falls by
// about ten times a degree, to a millionth of a moonless night's sky by
// here. Over the tables' last step it fades to nothing, and below it the
// sun gives no light at all.
constexpr float kAtmosphereLitSunZenith = 114.0f;

struct Atmosphere;

// A model with nothing set up yet; null when memory
// runs out. It holds about 11 MB of tables.
Atmosphere* AtmosphereCreate();
void AtmosphereDestroy(Atmosphere* atmosphere);

// Builds what depends on the turbidity (1.7 to 10, as the analytic model's;
// see AtmosphereAerosolDepth550 for its meaning), the ground's albedo (0 to
// 1), the viewer's altitude above the ground (0 to 20000 m) and the kind of
// aerosols, with their optical depth when it is given (kAtmosphereMinDepth
// to kAtmosphereMaxDepth; 0 takes it from the turbidity). Values out of
// range (or not numbers) are refused: kErrOutOfRange raised, false, the
// model unchanged. The sun must be set again after it.
bool AtmosphereSetup(Atmosphere* atmosphere, float turbidity, float albedo, float altitude,
                     AtmosphereAerosols aerosols = {});
float AtmosphereTurbidity(const Atmosphere* atmosphere);
AtmosphereAerosols AtmosphereAerosolsOf(const Atmosphere* atmosphere);
const AtmosphereMedium& AtmosphereMediumOf(const Atmosphere* atmosphere);
float AtmosphereAlbedo(const Atmosphere* atmosphere);
float AtmosphereAltitude(const Atmosphere* atmosphere);

// Places the sun and builds what depends on it: zenith angle clamped to
// [0, kAtmosphereMaxSunZenith], azimuth in degrees (any value); a sun past
// kAtmosphereLitSunZenith lights nothing, and costs next to nothing. False
// (kErrNotReady raised, nothing changed) until AtmosphereSetup has made the
// model's tables.
bool AtmosphereSetSun(Atmosphere* atmosphere, float zenithDegrees, float azimuthDegrees);
// The unit direction towards the sun's centre.
V3d AtmosphereSunDirection(const Atmosphere* atmosphere);

// What an evaluation includes besides the sky and the ground.
enum AtmosphereFlags : int32 {
    AtmosphereSkyOnly = 0,
    AtmosphereWithSunDisc = 1,  // directions within the sun's disc add its radiance
};

// Colours for many directions (unit vectors, as the dome's vertices).
void AtmosphereColors(const Atmosphere* atmosphere, const V3d* directions, int32 count, RGBAReal* colours, int32 flags);
// Colours of a panorama's row: one zenith angle and many azimuths, radians
// in the program's convention (as PanoramaPixelAngles gives them).
void AtmosphereRowColors(const Atmosphere* atmosphere, double theta, const double* phi, int32 count, RGBAReal* colours,
                         int32 flags);
// The same with the sines and cosines of the azimuths given, as a panorama
// keeps them for all its rows.
void AtmosphereRowColorsAt(const Atmosphere* atmosphere, double theta, const double* sinPhi, const double* cosPhi,
                           int32 count, RGBAReal* colours, int32 flags);
// CIE XYZ in cd/m^2 of one direction (unit vector), before any gamut clamp.
void AtmosphereXYZ(const Atmosphere* atmosphere, V3d direction, int32 flags, double xyz[3]);

// The sun's disc as the viewer sees it: the extraterrestrial sun through the
// atmosphere's transmittance along its path, of uniform radiance over a disc
// kSunAngularRadius in radius; black when the planet hides its centre.
RGBAReal AtmosphereSunRadiance(const Atmosphere* atmosphere);
// Illuminance in lux on a surface facing the sun, and the sun's colour
// scaled to luminance 1 (for a light that stands for it).
double AtmosphereSunIlluminance(const Atmosphere* atmosphere, RGBAReal* colour);

// Transmittance of each band along the path from the viewer towards a zenith
// angle (degrees; 0 where the path meets the ground), and the sun's disc
// radiance seen along it: also the sun of the analytic model, from a model
// set up at that model's turbidity.
void AtmosphereTransmittance(const Atmosphere* atmosphere, double zenithDegrees, float transmittance[kAtmosphereBins]);
RGBAReal AtmosphereSunRadianceAt(const Atmosphere* atmosphere, double zenithDegrees);

// Illuminance in lux on the horizontal ground below the viewer from the sun
// and the sky (*fromSky, may be null, gets the sky's part), and the radiance
// of that ground: Lambertian, albedo times illuminance over pi.
double AtmosphereHorizontalIlluminance(const Atmosphere* atmosphere, double* fromSky);
RGBAReal AtmosphereGroundRadiance(const Atmosphere* atmosphere);

// The luminance (cd/m^2) of a radiance spectrum given per band relative to
// the extraterrestrial irradiance of the band (sr^-1).
void AtmosphereBandsToXYZ(const Atmosphere* atmosphere, const float relative[kAtmosphereBins], double xyz[3]);

// Builds only what the sun's path needs, for a viewer on the ground: enough
// for AtmosphereTransmittance and AtmosphereSunRadianceAt (the analytic
// model's sun) in well under a millisecond, where AtmosphereSetup takes half
// a second. Refuses a turbidity as AtmosphereSetup does. Nothing else may be
// asked of the model until AtmosphereSetup.
bool AtmosphereSetupSunPath(Atmosphere* atmosphere, float turbidity);

// The moon as a second light, scattered by the same air: its zenith angle
// and azimuth (degrees, as the sun's) and its illuminance outside the
// atmosphere (lux, on a surface facing it); 0 lux, or a moon past
// kAtmosphereMaxSunZenith, takes it away. Its spectrum is the sun's
// reddened by the lunar albedo. Every evaluation after it adds the
// moonlit sky and ground; AtmosphereSetup takes the moon away. False
// (kErrNotReady raised) until AtmosphereSetup has made the tables.
bool AtmosphereSetMoon(Atmosphere* atmosphere, float zenithDegrees, float azimuthDegrees, double illuminance);
// The moon's illuminance (lux) on the horizontal ground, direct and
// scattered (*fromSky, may be null, gets the scattered part), and the
// radiance of that ground when groundRadiance is not null; 0 without a moon.
double AtmosphereMoonIlluminance(const Atmosphere* atmosphere, double* fromSky, RGBAReal* groundRadiance);

}  // namespace kv
