// Sky colours for many directions at once: the dome's recolour path.
//
// What depends only on a direction (its angles, their sines and cosines, the
// zenith-angle factor of each channel) is kept per direction; a sun change
// then costs one pass that evaluates the rest with fast approximations of
// known error. A channel whose float could differ from the plain evaluation
// is computed plainly instead, so the colours are always exactly those of
// SkyDirectionAngles and SkyColor, and the bytes those of SkyToneMap.
#pragma once

#include "sky/analytic_sky.h"

namespace kv {

struct SkyColorCache {
    int32 count;
    int32 capacity;
    double* block;  // one allocation holding every array below
    double* theta;
    double* phi;
    double* sinTheta;
    double* cosTheta;
    double* cosPhi;
    double* sinPhi;
    double* zenithFactor[3];          // 1 + A e^(B / cos theta) per channel
    double factorCoefficients[3][2];  // the A, B the factors were made with
    bool factorsValid;
    bool row;          // every direction at one zenith angle: the theta arrays hold one entry
    int32 plainCount;  // directions evaluated plainly in the last pass
};

void SkyColorCacheInit(SkyColorCache* cache);
// Takes the directions (used as given, as by SkyDirectionAngles). Grows only;
// false when memory runs out (the cache then holds no directions).
bool SkyColorCacheSetDirections(SkyColorCache* cache, const V3d* directions, int32 count);
void SkyColorCacheRelease(SkyColorCache* cache);
// A row of directions given by their angles, all at one zenith angle (a
// panorama's row): the azimuths (radians) once, then the zenith angle of each
// row. The colours are SkyColor's for (theta, phi[i]), bit for bit. False when
// memory runs out (the cache then holds no directions).
bool SkyColorCacheSetAzimuths(SkyColorCache* cache, const double* phi, int32 count);
void SkyColorCacheSetZenith(SkyColorCache* cache, double theta);
// colours[i] := SkyColor(state, thetaS, phiS, angles of direction i), bit for
// bit. Sun angles in radians, as for SkyColor.
void SkyColorCacheCompute(SkyColorCache* cache, const SkyState& state, double thetaS, double phiS, RGBAReal* colours);

// out[i] := SkyToneMap(&colours[i], k), bit for bit.
void SkyToneMapColors(const RGBAReal* colours, RGBA* out, int32 count, float k);

// Whether the four-wide kernels may be used where the processor has them
// (default true); both paths give the same results.
void SkyColorsSetVectorUnits(bool allowed);

// The plain evaluations the fast ones must equal.
void SkyComputeColorsPlain(const SkyState& state, const V3d* directions, int32 count, double thetaS, double phiS,
                           RGBAReal* colours);
void SkyToneMapColorsPlain(const RGBAReal* colours, RGBA* out, int32 count, float k);

// The unit directions of a hemisphere of the given number of rings, in the
// dome's vertex order: ring i, segment j at index i * 4 * rings + j, then the
// apex. Fills 4 rings^2 + 1 entries.
void SkyHemisphereDirections(int32 rings, V3d* out);
// The dome's faces over those vertices, each wound counter-clockwise seen
// from outside: the bands between rings, then the cap around the apex.
// Fills 3 * 4 rings (2 rings - 1) vertex indices (rings up to 32: 16 bits).
void SkyHemisphereTriangles(int32 rings, uint16* out);

}  // namespace kv
