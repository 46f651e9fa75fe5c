// The night sky's own light as the physical sky shows it: the airglow, the
// zodiacal light, the faint stars' light and a town's light of night_glow.h,
// each given its colour, kept in small tables for one place and moment (or
// for a sky without them) so that every direction of a dome or a panorama
// reads it in a few operations. The ground below the horizon is lit by it
// as a Lambertian surface.
//
// Colours, in linear Rec. 709 (kcd/m^2, as the physical sky's):
// - airglow: the green line of atomic oxygen at 557.7 nm, about 250 R at the
//   zenith (Leinert et al. 1998, "The 1997 reference of diffuse night sky
//   brightness", A&AS 127, their table of the airglow's emissions), and for
//   the rest of its V-band brightness a continuum taken as flat in energy
//   over the visible (a stated stand-in for its many faint bands);
// - zodiacal light and the faint stars: the sun's spectrum, the zodiacal
//   light being sunlight scattered by dust (Leinert et al. 1998, section 8,
//   find it close to solar) and the stars' integrated light close to it;
// - a town's light: CIE standard illuminant A (a 2856 K Planckian radiator),
//   a stand-in for warm street lamps.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"
#include "sky/night_glow.h"

namespace kv {

// Rows of the table over a direction's height (y, 0 to 1), and cells a side
// of the table over the upper hemisphere, in the Lambert azimuthal
// equal-area projection about the zenith.
constexpr int kNightLightHeights = 256;
constexpr int kNightLightGrid = 48;

struct NightLight {
    RGBAReal byHeight[kNightLightHeights + 1];             // the airglow and a town's light, by y
    float grid[kNightLightGrid + 1][kNightLightGrid + 1];  // the zodiacal and faint stars' luminance
    RGBAReal gridColour;                                   // their colour at luminance 1
    RGBAReal groundPerAlbedo;                              // the ground's radiance for an albedo of 1
    double horizontal = 0.0;                               // lux on the horizontal ground
};

// The light of a glow from NightGlowAt or NightGlowMean.
void NightLightMake(NightLight* light, const NightGlow& glow);

// Adds the light to the colours of unit directions (x west, y up, z north):
// the sky's above the horizon (cosHorizon, the cosine of its zenith angle;
// between it and 0 the horizon's), the ground's of that albedo below it.
void NightLightAdd(const NightLight& light, const V3d* directions, int32 count, double cosHorizon, float albedo,
                   RGBAReal* colours);
// The same for a panorama's row: zenith angle theta, the sines and cosines
// of the program's azimuths.
void NightLightAddRow(const NightLight& light, double theta, const double* sinPhi, const double* cosPhi, int32 count,
                      double cosHorizon, float albedo, RGBAReal* colours);

}  // namespace kv
