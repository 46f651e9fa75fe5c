// The clear-sky model: Perez distributions of luminance and chromaticity
// scaled by zenith values that depend on turbidity and the sun's zenith angle,
// converted from CIE XYZ to linear RGB and tone-mapped to bytes. A sky is a
// SkyState value its owner keeps; nothing here holds one.
//
// Angles at the interface are degrees; everything inside is radians, with
// degrees converted by kSkyDegToRad.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"

namespace kv {

// pi/180 with pi first rounded to single precision, in double.
constexpr double kSkyDegToRad = 0.017453293005625408;
// The default turbidity, and the range of hazier skies the model is meant for.
constexpr float kSkyTurbidity = 2.0f;
constexpr float kSkyMinTurbidity = 1.7f;
constexpr float kSkyMaxTurbidity = 10.0f;
constexpr float kSkyMaxSunZenith = 85.0f;

// Perez channels, in evaluation order.
enum SkyChannel : int32 {
    SkyChannelX = 0,    // chromaticity x
    SkyChannelY = 1,    // chromaticity y
    SkyChannelLum = 2,  // luminance Y
};

struct SkyState {
    float sunTheta;  // degrees, 0 = overhead
    float sunPhi;    // degrees, from +z towards +x
    float turbidity;
    V3d sunDirection;      // (sin t sin p, cos t, sin t cos p), y up
    double perez[3][5];    // A..E per channel
    double zenith[3];      // x_z, y_z, Y_z
    double normaliser[3];  // each channel's Perez function at the zenith
};

// Builds the XYZ-to-RGB conversion matrix; false when a matrix is singular.
// The matrix is a constant of the model, made once for the process.
bool SkyColorInit();
// Row r gives output channel r (red, green, blue) from X, Y, Z.
const double (*SkyGetConversionMatrix())[3];
// dst := src^-1; false (dst untouched) when the determinant is exactly 0.
bool Matrix3Invert(const double src[3][3], double dst[3][3]);

// Fills every derived field of a sky state for that sun (degrees) and
// turbidity.
void SkyStateSetSun(SkyState* state, float thetaDegrees, float phiDegrees, float turbidity);
// One channel's Perez function of that state; 0 when it is not finite.
double SkyPerez(const SkyState& state, double theta, double gamma, int32 channel);
// Zenith angle and azimuth (radians, azimuth in [0, 2 pi)) of a direction;
// v is used as given.
void SkyDirectionAngles(const V3d* v, double* theta, double* phi);
// Linear RGB (alpha 0) of a state's sky for a direction, all angles in
// radians; the sun angles must be the state's.
RGBAReal SkyColor(const SkyState& state, double thetaS, double phiS, double theta, double phi);
RGBAReal SkyXYZToRGB(double x, double y, double z);
// Exposure curve: each channel c becomes trunc((1 - e^(-k c)) * 255), alpha
// 255; a colour with a negative (or undefined) channel is opaque black.
RGBA SkyToneMap(const RGBAReal* colour, float k);

}  // namespace kv
