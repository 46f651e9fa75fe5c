// Photographic exposure: a sky metered as a camera's reflected-light meter
// meters a scene, and the tone curve that shows it from a moonless night to
// the sun at noon.
//
// The meter takes a weighted log-average of luminance (Reinhard, Stark,
// Shirley and Ferwerda 2002, "Photographic Tone Reproduction for Digital
// Images", eq. 1) and states it as EV at ISO 100 with the reflected-light
// calibration constant K = 12.5 (ISO 2720:1974): EV100 = log2(L * 100 / K),
// L in cd/m^2. An exposure of EV100 puts the luminance K 2^EV100 / 100 at
// photographic mid-grey (0.18, the paper's middle key), and the paper's
// global operator L / (1 + L) (its eq. 3) rolls the highlights off on
// luminance, the channels keeping their ratios (a channel past 1 is clipped
// alone), so that a low sun's or the moon's disc keeps its colour instead of
// going flat white. The result is encoded for the display with the sRGB
// transfer function (IEC 61966-2-1).
//
// Colours are linear Rec. 709 in kcd/m^2 (the physical sky's; the analytic
// sky's go through SkyModelToRec709 first).
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"

namespace kv {

struct Sky;

// ISO 2720:1974's reflected-light meter calibration constant, cd s / m^2.
constexpr double kExposureMeterK = 12.5;
// Where the metered luminance lands, linear (Reinhard et al. 2002's key).
constexpr double kExposureMidGrey = 0.18;
// The meter's range: a sky of 1e-7 kcd/m^2 (darker than a moonless night,
// about EV100 -10) to several times the brightest daylight sky (about 16).
constexpr double kExposureMinEV = -16.0;
constexpr double kExposureMaxEV = 22.0;

// EV100 = log2(L * 100 / K) for a luminance in cd/m^2 (not clamped; -inf
// for 0).
double ExposureEV100(double luminance);
// The luminance (cd/m^2) an exposure of ev100 shows as mid-grey.
double ExposureMeteredLuminance(double ev100);

// A meter: luminances (kcd/m^2) added with their weights (solid angles);
// their log-average is what it reads.
struct ExposureMeter {
    double sumLog = 0.0;
    double sumWeight = 0.0;
};
void ExposureMeterAdd(ExposureMeter* meter, double luminance, double weight);
// The EV100 that puts the log-average at mid-grey, within kExposureMinEV to
// kExposureMaxEV; kExposureMinEV when nothing was added.
double ExposureMeterEV100(const ExposureMeter& meter);

// How colours become display bytes for an exposure: scale takes kcd/m^2 to
// the curve's input (mid-grey at 0.18). nightVision shifts what is dim
// towards the dark-adapted eye's rendition (ExposureNightVision).
struct ExposureTone {
    double scale = 0.0;
    bool nightVision = false;
};
ExposureTone ExposureToneFor(double ev100, bool nightVision);
// One colour, opaque; black for negative or NaN channels.
RGBA ExposureToneMap(const RGBAReal& colour, const ExposureTone& tone);
void ExposureToneMapColors(const RGBAReal* colours, RGBA* out, int32 count, const ExposureTone& tone);

// The eye's scotopic shift (Jensen, Durand, Stark, Premoze, Dorsey and
// Shirley 2001, "A Physically-Based Night Sky Model", after Ferwerda et al.
// 1996): below the mesopic range's top the picture blends towards the rods'
// rendition, a luminance without hue seen as a cool blue-grey, fully so at
// its bottom. The rods' luminance is the scotopic one (the CIE 1951
// luminosity function V'(lambda)) estimated from XYZ as Larson, Rushmeier and
// Piatko 1997 give it. Linear Rec. 709 in kcd/m^2, in place.
void ExposureNightVision(RGBAReal* colour);

// The meter over a hemisphere's directions in the dome's order
// (SkyHemisphereDirections: rings, then the apex last) and their colours
// (linear Rec. 709, kcd/m^2), weighted by solid angle. With a look direction,
// only the directions within the cone of that cosine about it (what a view
// shows), or all of them when none is. The EV100 within the meter's range.
double ExposureMeterHemisphere(const V3d* directions, const RGBAReal* colours, int32 count, const V3d* look,
                               double cosCone);

// How a picture file's bytes are made: the exposure curve k (SkyToneMap),
// or photographic at ev100, metered from the sky itself (SkyMeterEV100)
// when metered.
struct SkyPictureExposure {
    float k = 0.1f;
    bool photographic = false;
    bool metered = false;
    double ev100 = 0.0;
    bool nightVision = false;
};

// Meters a sky as a camera facing the whole of it would: the log-average of
// its hemisphere, weighted by solid angle, the sun's and the night's bodies'
// discs left out (they are not in the sky's own colours). The EV100 within
// the meter's range.
double SkyMeterEV100(Sky* sky);

}  // namespace kv
