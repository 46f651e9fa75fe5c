#include "night_light.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sky/atmosphere_medium.h"
#include "sky/colour_matching.h"

namespace kv {

namespace {

using std::numbers::pi;
constexpr double kRadToDeg = 180.0 / pi;
// The green line: its wavelength and zenith intensity (Leinert et al. 1998),
// and one rayleigh in photons m^-2 s^-1 sr^-1 (10^10 / 4 pi).
constexpr double kGreenLineNm = 557.7;
constexpr double kGreenLineRayleighs = 250.0;
constexpr double kRayleighPhotons = 1e10 / (4.0 * pi);
constexpr double kPlanck = 6.62607015e-34;
constexpr double kLight = 2.99792458e8;
// Illuminant A: Planck's law at 2856 K with c2 = 1.4388e-2 m K (CIE 15:2004).
constexpr double kIlluminantAKelvin = 2856.0;
constexpr double kSecondRadiation = 1.4388e-2;

struct Colour3 {
    double xyz[3] = {};
};

// A spectrum's XYZ over the visible, 1 nm steps.
template <typename Spectrum>
Colour3 Integrate(Spectrum spectrum) {
    Colour3 c;
    for (double nm = kAtmosphereFirstNm + 0.5; nm < kAtmosphereLastNm; nm += 1.0) {
        double cmf[3];
        ColourMatching(nm, cmf);
        const double s = spectrum(nm);
        for (int i = 0; i < 3; ++i) c.xyz[i] += s * cmf[i];
    }
    return c;
}

Colour3 UnitLuminance(Colour3 c) {
    const double y = c.xyz[1];
    for (double& v : c.xyz) v = y > 0.0 ? v / y : 0.0;
    return c;
}

// Linear Rec. 709 at luminance 1 (kcd/m^2); channels out of the gamut cut.
RGBAReal Rec709(const Colour3& unit) {
    double rgb[3];
    XYZToRec709(unit.xyz, rgb);
    return RGBAReal{static_cast<real>(std::max(rgb[0], 0.0)), static_cast<real>(std::max(rgb[1], 0.0)),
                    static_cast<real>(std::max(rgb[2], 0.0)), 0.0f};
}

RGBAReal Scaled(const RGBAReal& c, double k) {
    return RGBAReal{static_cast<real>(c.red * k), static_cast<real>(c.green * k), static_cast<real>(c.blue * k), 0.0f};
}

void Add(RGBAReal* to, const RGBAReal& c) {
    to->red += c.red;
    to->green += c.green;
    to->blue += c.blue;
}

double Luminance(const RGBAReal& c) { return 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue; }

// The airglow's colour: the green line's share of its zenith luminance, the
// rest a flat continuum.
RGBAReal AirglowColour() {
    double cmf[3];
    ColourMatching(kGreenLineNm, cmf);
    const double photon = kPlanck * kLight / (kGreenLineNm * 1e-9);
    const double lineLuminance = kLuminousEfficacy * cmf[1] * kGreenLineRayleighs * kRayleighPhotons * photon;
    const double zenith = NightGlowLuminance(NightGlowSampleAt(NightGlow{}, 90.0, 0.0).airglow);
    const double share = std::clamp(lineLuminance / zenith, 0.0, 1.0);
    Colour3 line;
    for (int i = 0; i < 3; ++i) line.xyz[i] = cmf[i];
    line = UnitLuminance(line);
    const Colour3 continuum = UnitLuminance(Integrate([](double) { return 1.0; }));
    Colour3 mix;
    for (int i = 0; i < 3; ++i) mix.xyz[i] = share * line.xyz[i] + (1.0 - share) * continuum.xyz[i];
    return Rec709(mix);
}

RGBAReal SunColour() {
    const AtmosphereMedium medium = AtmosphereMediumFor(2.0f, AtmosphereAerosols{});
    return Rec709(UnitLuminance(Integrate([&](double nm) {
        AtmosphereOptics o;
        AtmosphereOpticsAt(medium, nm, &o);
        return o.solarIrradiance;
    })));
}

RGBAReal LampColour() {
    return Rec709(UnitLuminance(Integrate([](double nm) {
        const double m = nm * 1e-9;
        return 1.0 / (m * m * m * m * m * (std::exp(kSecondRadiation / (m * kIlluminantAKelvin)) - 1.0));
    })));
}

// The colours are the same for every sky: made once.
struct Colours {
    RGBAReal airglow = AirglowColour();
    RGBAReal sun = SunColour();
    RGBAReal lamp = LampColour();
};

const Colours& TheColours() {
    static const Colours colours;
    return colours;
}

// Cell coordinate (0 to kNightLightGrid) of a direction's x or z in the
// equal-area projection, whose disc of radius sqrt 2 is the hemisphere.
double GridCoordinate(double v, double k) { return (v * k / std::numbers::sqrt2 + 1.0) * 0.5 * kNightLightGrid; }

// The light that depends on height alone, at y (0 to 1).
RGBAReal HeightPart(const NightLight& l, double y) {
    const double fy = y * kNightLightHeights;
    const int iy = std::min(static_cast<int>(fy), kNightLightHeights - 1);
    const auto wy = static_cast<real>(fy - iy);
    const RGBAReal& a = l.byHeight[iy];
    const RGBAReal& b = l.byHeight[iy + 1];
    return RGBAReal{a.red + (b.red - a.red) * wy, a.green + (b.green - a.green) * wy, a.blue + (b.blue - a.blue) * wy,
                    0.0f};
}

// The grid's light towards (x, z) added to c; k is the projection's scale at
// the direction's height, sqrt(2 / (1 + y)).
void AddGridPart(const NightLight& l, double x, double z, double k, RGBAReal* c) {
    const double fu = std::clamp(GridCoordinate(x, k) - 0.5, 0.0, static_cast<double>(kNightLightGrid));
    const double fv = std::clamp(GridCoordinate(z, k) - 0.5, 0.0, static_cast<double>(kNightLightGrid));
    const int iu = std::min(static_cast<int>(fu), kNightLightGrid - 1);
    const int iv = std::min(static_cast<int>(fv), kNightLightGrid - 1);
    const auto wu = static_cast<float>(fu - iu);
    const auto wv = static_cast<float>(fv - iv);
    const float g = (l.grid[iu][iv] * (1.0f - wv) + l.grid[iu][iv + 1] * wv) * (1.0f - wu) +
                    (l.grid[iu + 1][iv] * (1.0f - wv) + l.grid[iu + 1][iv + 1] * wv) * wu;
    c->red += l.gridColour.red * g;
    c->green += l.gridColour.green * g;
    c->blue += l.gridColour.blue * g;
}

void AddAt(const NightLight& l, double x, double y, double z, double cosHorizon, float albedo, RGBAReal* colour) {
    if (y < cosHorizon) {
        Add(colour, Scaled(l.groundPerAlbedo, albedo));
        return;
    }
    y = std::clamp(y, 0.0, 1.0);
    Add(colour, HeightPart(l, y));
    AddGridPart(l, x, z, std::sqrt(2.0 / (1.0 + y)), colour);
}

}  // namespace

void NightLightMake(NightLight* l, const NightGlow& glow) {
    const Colours& colours = TheColours();
    // kcd/m^2 per S10.
    const double perS10 = NightGlowLuminance(1.0) * 1e-3;
    // The light that depends on height alone, and its irradiance on the
    // ground: 2 pi times the integral of L y dy.
    RGBAReal irradiance{};
    for (int i = 0; i <= kNightLightHeights; ++i) {
        const double y = static_cast<double>(i) / kNightLightHeights;
        const NightGlowSample s = NightGlowSampleAt(glow, std::asin(y) * kRadToDeg, 0.0);
        RGBAReal c = Scaled(colours.airglow, s.airglow * perS10);
        Add(&c, Scaled(colours.lamp, s.artificial * perS10));
        l->byHeight[i] = c;
        const double w = (i == 0 || i == kNightLightHeights ? 0.5 : 1.0) / kNightLightHeights;
        Add(&irradiance, Scaled(c, 2.0 * pi * y * w));
    }
    // The light that depends on the direction, at the grid's points; points
    // outside the hemisphere's disc take the horizon's value there. Each
    // point inside stands for an equal share of the hemisphere, 2 pi over
    // the disc's area of 2 pi.
    double gridIrradiance = 0.0;
    const double step = 2.0 * std::numbers::sqrt2 / kNightLightGrid;
    for (int i = 0; i <= kNightLightGrid; ++i) {
        for (int j = 0; j <= kNightLightGrid; ++j) {
            // The point's place in the projection (cell centres at half steps).
            double px = -std::numbers::sqrt2 + (i + 0.5) * step;
            double pz = -std::numbers::sqrt2 + (j + 0.5) * step;
            double r2 = px * px + pz * pz;
            const bool inside = r2 <= 2.0 && i < kNightLightGrid && j < kNightLightGrid;
            if (r2 > 2.0) {
                const double k = std::sqrt(2.0 / r2);
                px *= k;
                pz *= k;
                r2 = 2.0;
            }
            const double y = 1.0 - r2 / 2.0;
            const double s = std::sqrt(std::max(0.0, 1.0 - r2 / 4.0));
            const double x = px * s;
            const double z = pz * s;
            // The program's azimuth runs from north towards west; the compass's towards east.
            const double compass = std::fmod(360.0 - std::atan2(x, z) * kRadToDeg, 360.0);
            const NightGlowSample sample =
                NightGlowSampleAt(glow, std::asin(std::clamp(y, 0.0, 1.0)) * kRadToDeg, compass);
            const double luminance = (sample.zodiacal + sample.starlight) * perS10;
            l->grid[i][j] = static_cast<float>(luminance);
            if (inside) gridIrradiance += luminance * y * step * step;
        }
    }
    l->gridColour = colours.sun;
    Add(&irradiance, Scaled(colours.sun, gridIrradiance));
    // Lambertian: radiance E / pi for an albedo of 1.
    l->groundPerAlbedo = Scaled(irradiance, 1.0 / pi);
    l->horizontal = Luminance(irradiance) * 1e3;
}

void NightLightAdd(const NightLight& l, const V3d* d, int32 count, double cosHorizon, float albedo, RGBAReal* colours) {
    for (int32 i = 0; i < count; ++i) AddAt(l, d[i].x, d[i].y, d[i].z, cosHorizon, albedo, &colours[i]);
}

void NightLightAddRow(const NightLight& l, double theta, const double* sinPhi, const double* cosPhi, int32 count,
                      double cosHorizon, float albedo, RGBAReal* colours) {
    const double st = std::sin(theta);
    const double ct = std::cos(theta);
    if (ct < cosHorizon) {
        const RGBAReal ground = Scaled(l.groundPerAlbedo, albedo);
        for (int32 i = 0; i < count; ++i) Add(&colours[i], ground);
        return;
    }
    // What the row shares, once.
    const double y = std::clamp(ct, 0.0, 1.0);
    const RGBAReal height = HeightPart(l, y);
    const double k = std::sqrt(2.0 / (1.0 + y));
    for (int32 i = 0; i < count; ++i) {
        RGBAReal c = height;
        AddGridPart(l, st * sinPhi[i], st * cosPhi[i], k, &c);
        Add(&colours[i], c);
    }
}

}  // namespace kv
