#include "exposure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "sky/sky_colours.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

// The directions the whole-sky meter reads: a dome of this many rings (1025
// directions), enough that the brightest band of a twilight sky is weighed.
constexpr int32 kMeterRings = 16;
// Added to every luminance before its logarithm (kcd/m^2), far below the
// darkest night sky, so that a black direction does not drive the mean to
// minus infinity (Reinhard et al. 2002's delta).
constexpr double kMeterFloor = 1e-12;

// Rec. 709 luminance (ITU-R BT.709).
double Luminance(const RGBAReal& c) { return 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue; }

// Display-linear [0, 1] to the sRGB byte, through a table fine enough that
// the darkest steps are exact: 65536 entries.
constexpr int32 kEncodeSteps = 65535;
const std::array<uint8, kEncodeSteps + 1>& EncodeTable() {
    static const std::array<uint8, kEncodeSteps + 1> table = [] {
        std::array<uint8, kEncodeSteps + 1> t{};
        for (int32 i = 0; i <= kEncodeSteps; ++i) {
            const double v = static_cast<double>(i) / kEncodeSteps;
            const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
            t[static_cast<std::size_t>(i)] = static_cast<uint8>(std::lround(std::clamp(e, 0.0, 1.0) * 255.0));
        }
        return t;
    }();
    return table;
}

uint8 Encode(const std::array<uint8, kEncodeSteps + 1>& table, double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 1.0) return 255;
    return table[static_cast<std::size_t>(v * kEncodeSteps + 0.5)];
}

// The mesopic range (CIE 191:2010): below 0.005 cd/m^2 the rods alone see,
// above 5 cd/m^2 the cones.
constexpr double kScotopicTop = 0.005;
constexpr double kPhotopicBottom = 5.0;

// Larson, Rushmeier and Piatko 1997 (IEEE TVCG 3(4)): the scotopic
// luminance from XYZ, V = Y (1.33 (1 + (Y + Z) / X) - 1.68).
double ScotopicOf(double x, double y, double z) { return y * (1.33 * (1.0 + (y + z) / x) - 1.68); }

// Rec. 709 linear to CIE XYZ (D65).
void ToXYZ(const RGBAReal& c, double* x, double* y, double* z) {
    *x = 0.4124 * c.red + 0.3576 * c.green + 0.1805 * c.blue;
    *y = Luminance(c);
    *z = 0.0193 * c.red + 0.1192 * c.green + 0.9505 * c.blue;
}

// The rods' picture: a cool blue-grey (our choice of tint, normalised to
// luminance 1 below), so that a dim sky reads as night does to the eye.
constexpr RGBAReal kRodTint = {0.80f, 0.98f, 1.45f, 0.0f};

}  // namespace

double ExposureEV100(double luminance) { return std::log2(luminance * 100.0 / kExposureMeterK); }

double ExposureMeteredLuminance(double ev100) { return kExposureMeterK * std::exp2(ev100) / 100.0; }

void ExposureMeterAdd(ExposureMeter* meter, double luminance, double weight) {
    // NaN and negative luminances (out-of-gamut noise) read as black.
    const double l = luminance > 0.0 ? luminance : 0.0;
    if (!(weight > 0.0)) return;
    meter->sumLog += weight * std::log(kMeterFloor + l);
    meter->sumWeight += weight;
}

double ExposureMeterEV100(const ExposureMeter& meter) {
    if (!(meter.sumWeight > 0.0)) return kExposureMinEV;
    const double average = std::exp(meter.sumLog / meter.sumWeight);  // kcd/m^2
    const double ev = ExposureEV100(average * 1000.0);
    return std::isfinite(ev) ? std::clamp(ev, kExposureMinEV, kExposureMaxEV) : kExposureMinEV;
}

ExposureTone ExposureToneFor(double ev100, bool nightVision) {
    ExposureTone tone;
    // kcd/m^2 to cd/m^2, then the metered luminance to mid-grey.
    tone.scale = 1000.0 * kExposureMidGrey / ExposureMeteredLuminance(ev100);
    tone.nightVision = nightVision;
    return tone;
}

void ExposureNightVision(RGBAReal* colour) {
    double x, y, z;
    ToXYZ(*colour, &x, &y, &z);
    const double cd = y * 1000.0;
    if (!(x > 0.0) || !(y > 0.0) || cd >= kPhotopicBottom) return;
    // A neutral grey keeps its luminance: V of D65 white scales V to it.
    static const double white = ScotopicOf(0.9505, 1.0, 1.089);
    const double rods = std::max(0.0, ScotopicOf(x, y, z) / white);
    // How far into the rods' range, smoothly over the log of luminance.
    const double t = std::clamp(
        (std::log10(cd) - std::log10(kScotopicTop)) / (std::log10(kPhotopicBottom) - std::log10(kScotopicTop)), 0.0,
        1.0);
    const double s = 1.0 - t * t * (3.0 - 2.0 * t);
    const double tint = rods / Luminance(kRodTint);
    colour->red = static_cast<real>((1.0 - s) * colour->red + s * tint * kRodTint.red);
    colour->green = static_cast<real>((1.0 - s) * colour->green + s * tint * kRodTint.green);
    colour->blue = static_cast<real>((1.0 - s) * colour->blue + s * tint * kRodTint.blue);
}

RGBA ExposureToneMap(const RGBAReal& colour, const ExposureTone& tone) {
    if (!(colour.red >= 0.0f && colour.green >= 0.0f && colour.blue >= 0.0f)) return RGBA{0, 0, 0, 255};
    RGBAReal c = colour;
    if (tone.nightVision) ExposureNightVision(&c);
    const double y = Luminance(c) * tone.scale;
    if (!(y > 0.0)) return RGBA{0, 0, 0, 255};
    // Reinhard et al. 2002, eq. 3, on luminance; the channels in proportion.
    const double k = tone.scale / (1.0 + y);
    const auto& table = EncodeTable();
    return RGBA{Encode(table, c.red * k), Encode(table, c.green * k), Encode(table, c.blue * k), 255};
}

void ExposureToneMapColors(const RGBAReal* colours, RGBA* out, int32 count, const ExposureTone& tone) {
    for (int32 i = 0; i < count; ++i) out[i] = ExposureToneMap(colours[i], tone);
}

double ExposureMeterHemisphere(const V3d* directions, const RGBAReal* colours, int32 count, const V3d* look,
                               double cosCone) {
    for (int pass = 0; pass < 2; ++pass) {
        // The view's cone first; when it holds no direction of the sky (a
        // view of the ground alone), the whole sky.
        const bool cone = pass == 0 && look != nullptr;
        ExposureMeter meter;
        for (int32 i = 0; i < count; ++i) {
            const V3d& d = directions[i];
            if (cone && d.x * look->x + d.y * look->y + d.z * look->z < cosCone) continue;
            // Each direction of the grid stands for a patch of about
            // cos(elevation) times the grid's step squared; the apex, the
            // last, for a cap of pi / 4 of it.
            const double weight =
                i + 1 < count ? std::sqrt(static_cast<double>(d.x) * d.x + static_cast<double>(d.z) * d.z) : 0.785398;
            ExposureMeterAdd(&meter, Luminance(colours[i]), weight);
        }
        if (meter.sumWeight > 0.0 || !cone) return ExposureMeterEV100(meter);
    }
    return kExposureMinEV;
}

double SkyMeterEV100(Sky* sky) {
    const int32 count = 4 * kMeterRings * kMeterRings + 1;
    std::vector<V3d> directions(static_cast<std::size_t>(count));
    std::vector<RGBAReal> colours(static_cast<std::size_t>(count));
    SkyHemisphereDirections(kMeterRings, directions.data());
    SkyModelColors(sky, directions.data(), count, nullptr, colours.data());
    SkyModelToRec709(sky, colours.data(), count);
    return ExposureMeterHemisphere(directions.data(), colours.data(), count, nullptr, -1.0);
}

}  // namespace kv
