#include "sky_model.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <vector>

#include "engine/core/error.h"
#include "sky/analytic_sky.h"
#include "sky/atmosphere.h"
#include "sky/atmosphere_medium.h"
#include "sky/colour_matching.h"
#include "sky/night_bodies.h"
#include "sky/night_light.h"
#include "sky/panorama_rows.h"
#include "sky/sky_colours.h"

namespace kv {

namespace {

using std::numbers::pi;
// The analytic sky's integral over the hemisphere: cells of 1 degree of
// zenith angle by 2 of azimuth, within 0.1% of finer ones.
constexpr int kIrradianceRows = 90;
constexpr int kIrradianceColumns = 180;

// What a light was made for.
struct LightKey {
    SkyModelKind kind;
    float sunTheta, sunPhi, turbidity, albedo;
    uint32 generation;  // of the physical model's tables
    uint32 night;       // of the night's light and moon
    bool operator==(const LightKey&) const = default;
};

}  // namespace

struct Sky {
    SkyModelKind kind = SkyModelPreetham;
    float turbidity = kSkyTurbidity;
    // The analytic model's state, which holds the sun for both models.
    SkyState analytic{};
    float albedo = kAtmosphereDefaultAlbedo;
    float altitude = 0.0f;
    AtmosphereAerosols aerosols{};
    // The physical model, and what its tables were built for.
    Atmosphere* physical = nullptr;
    bool physicalReady = false;
    float physicalTurbidity = 0.0f, physicalAlbedo = 0.0f, physicalAltitude = 0.0f;
    AtmosphereAerosols physicalAerosols{};
    uint32 generation = 0;
    bool physicalSunSet = false;
    float physicalSunTheta = 0.0f, physicalSunPhi = 0.0f;
    // The analytic model's sun: the same atmosphere's path at its turbidity.
    Atmosphere* sunPath = nullptr;
    float sunPathTurbidity = 0.0f;
    // The last light and the last disc, with what they were made for.
    bool lightValid = false;
    LightKey lightKey{};
    SkyLight light{};
    bool discValid = false;
    LightKey discKey{};
    RGBAReal disc{};
    // What the night's bodies keep of the air's transmittance, and the air
    // it was kept for.
    SkyAirCache airCache;
    LightKey airCacheKey{};
    // What its panoramas show of the night: stars, planets, the moon.
    PanoramaBodies bodies;
    // Where and when its sun stands, for the files that say so.
    SkyPlaceMoment placeMoment;
    // The night's own light and the moon's (physical model): for the place
    // and moment of the night's bodies, or without them the mean night;
    // the site's zenith brightness; the light made for them, and the
    // generation of the tables the moon was last given to.
    double nightBrightness = 0.0;
    bool nightPlaced = false;
    SkyMoment nightMoment{};
    SkyPlace nightPlace{};
    bool moonUp = false;
    float moonZenith = 0.0f, moonAzimuth = 0.0f;
    double moonLux = 0.0;
    double starsLux = 0.0;
    uint32 night = 0;
    bool nightLightValid = false;
    NightLight nightLight{};
    bool moonSet = false;
    uint32 moonGeneration = 0;
};

namespace {

LightKey CurrentKey(const Sky& model) {
    const SkyState* s = &model.analytic;
    return LightKey{model.kind, s->sunTheta, s->sunPhi, model.turbidity, model.albedo, model.generation, model.night};
}

bool InRange(float v, float lo, float hi) { return v >= lo && v <= hi; }

// The physical model's tables for these values, built when they differ from
// the ones it has.
bool SetUpPhysical(Sky& model, float turbidity, float albedo, float altitude, const AtmosphereAerosols& aerosols) {
    if (model.physicalReady && model.physicalTurbidity == turbidity && model.physicalAlbedo == albedo &&
        model.physicalAltitude == altitude && model.physicalAerosols.kind == aerosols.kind &&
        model.physicalAerosols.depth550 == aerosols.depth550) {
        return true;
    }
    if (model.physical == nullptr) {
        model.physical = AtmosphereCreate();
        if (model.physical == nullptr) return false;
    }
    if (!AtmosphereSetup(model.physical, turbidity, albedo, altitude, aerosols)) return false;
    model.physicalReady = true;
    model.physicalAerosols = aerosols;
    model.physicalTurbidity = turbidity;
    model.physicalAlbedo = albedo;
    model.physicalAltitude = altitude;
    model.physicalSunSet = false;
    ++model.generation;
    return true;
}

// The analytic model's sun path at the current turbidity; null when memory
// runs out.
Atmosphere* SunPath(Sky& model) {
    const float turbidity = model.turbidity;
    if (model.sunPath != nullptr && model.sunPathTurbidity == turbidity) return model.sunPath;
    if (model.sunPath == nullptr) model.sunPath = AtmosphereCreate();
    if (model.sunPath == nullptr || !AtmosphereSetupSunPath(model.sunPath, turbidity)) return nullptr;
    model.sunPathTurbidity = turbidity;
    return model.sunPath;
}

// The night's light for the sky's place and moment (or the mean night),
// and the moon given to the physical model's tables.
void PhysicalFollowNight(Sky& model) {
    if (!model.nightLightValid) {
        const NightGlowSettings settings{model.nightBrightness};
        NightLightMake(&model.nightLight, model.nightPlaced ? NightGlowAt(model.nightMoment, model.nightPlace, settings)
                                                            : NightGlowMean(settings));
        model.nightLightValid = true;
    }
    if (!model.moonSet || model.moonGeneration != model.generation) {
        AtmosphereSetMoon(model.physical, model.moonZenith, model.moonAzimuth, model.moonUp ? model.moonLux : 0.0);
        model.moonSet = true;
        model.moonGeneration = model.generation;
    }
}

void PhysicalFollowSun(Sky& model) {
    PhysicalFollowNight(model);
    const SkyState* s = &model.analytic;
    if (model.physicalSunSet && model.physicalSunTheta == s->sunTheta && model.physicalSunPhi == s->sunPhi) return;
    AtmosphereSetSun(model.physical, s->sunTheta, s->sunPhi);
    model.physicalSunSet = true;
    model.physicalSunTheta = s->sunTheta;
    model.physicalSunPhi = s->sunPhi;
}

bool Physical(const Sky& model) { return model.kind == SkyModelPhysical && model.physicalReady; }

// The analytic model's RGB to XYZ: the inverse of its conversion.
bool AnalyticToXYZ(double m[3][3]) { return Matrix3Invert(SkyGetConversionMatrix(), m); }

RGBAReal Colour(const double rgb[3]) {
    return RGBAReal{static_cast<real>(rgb[0]), static_cast<real>(rgb[1]), static_cast<real>(rgb[2]), 0.0f};
}

// A linear Rec. 709 colour in the model's RGB.
RGBAReal FromRec709(const Sky& model, const RGBAReal& c) {
    if (Physical(model)) return c;
    const double rgb[3] = {c.red, c.green, c.blue};
    double xyz[3];
    Rec709ToXYZ(rgb, xyz);
    return SkyXYZToRGB(xyz[0], xyz[1], xyz[2]);
}

double Rec709Luminance(const RGBAReal& c) { return 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue; }

// The analytic model's sun disc in linear Rec. 709; black past the horizon.
RGBAReal AnalyticSunRec709(Sky& model) {
    Atmosphere* path = SunPath(model);
    if (path == nullptr) return RGBAReal{0.0f, 0.0f, 0.0f, 0.0f};
    return AtmosphereSunRadianceAt(path, model.analytic.sunTheta);
}

// The analytic sky's irradiance on the horizontal (model's RGB, klux per
// channel): its radiance times the cosine over the hemisphere.
void AnalyticSkyIrradiance(const Sky& model, double e[3]) {
    const SkyState* s = &model.analytic;
    const double thetaS = s->sunTheta * kSkyDegToRad;
    const double phiS = s->sunPhi * kSkyDegToRad;
    const double dTheta = pi / 2.0 / kIrradianceRows;
    const double dPhi = 2.0 * pi / kIrradianceColumns;
    e[0] = e[1] = e[2] = 0.0;
    for (int i = 0; i < kIrradianceRows; ++i) {
        const double theta = (i + 0.5) * dTheta;
        // The exact solid angle of the cell, times the cosine at its centre.
        const double weight = (std::cos(i * dTheta) - std::cos((i + 1) * dTheta)) * dPhi * std::cos(theta);
        for (int j = 0; j < kIrradianceColumns; ++j) {
            const RGBAReal c = SkyColor(*s, thetaS, phiS, theta, (j + 0.5) * dPhi);
            e[0] += c.red * weight;
            e[1] += c.green * weight;
            e[2] += c.blue * weight;
        }
    }
}

void MakeLight(Sky& model, SkyLight* l) {
    if (Physical(model)) {
        PhysicalFollowSun(model);
        l->sun = AtmosphereSunRadiance(model.physical);
        l->sunIlluminance = AtmosphereSunIlluminance(model.physical, &l->sunColour);
        l->ground = AtmosphereGroundRadiance(model.physical);
        l->horizontal = AtmosphereHorizontalIlluminance(model.physical, &l->fromSky);
        // The moon's light, the night's own and the stars': everything but
        // the sun's and the moon's beams counts as the sky's.
        double moonSky = 0.0;
        RGBAReal moonGround{};
        const double moon = AtmosphereMoonIlluminance(model.physical, &moonSky, &moonGround);
        const NightLight& night = model.nightLight;
        const auto albedo = static_cast<real>(model.albedo);
        l->ground.red += moonGround.red + night.groundPerAlbedo.red * albedo;
        l->ground.green += moonGround.green + night.groundPerAlbedo.green * albedo;
        l->ground.blue += moonGround.blue + night.groundPerAlbedo.blue * albedo;
        l->horizontal += moon + night.horizontal + model.starsLux;
        l->fromSky += moonSky + night.horizontal + model.starsLux;
        return;
    }
    const RGBAReal sun709 = AnalyticSunRec709(model);
    const double y = Rec709Luminance(sun709);
    const double omega = SunSolidAngle();
    l->sun = FromRec709(model, sun709);
    l->sunIlluminance = y * 1e3 * omega;
    l->sunColour = y > 0.0 ? RGBAReal{static_cast<real>(sun709.red / y), static_cast<real>(sun709.green / y),
                                      static_cast<real>(sun709.blue / y), 0.0f}
                           : RGBAReal{0.0f, 0.0f, 0.0f, 0.0f};
    double e[3];
    AnalyticSkyIrradiance(model, e);
    const double cosSun = std::fmax(0.0, std::cos(model.analytic.sunTheta * kSkyDegToRad));
    const double sunRgb[3] = {l->sun.red, l->sun.green, l->sun.blue};
    double ground[3];
    for (int c = 0; c < 3; ++c) ground[c] = (e[c] + sunRgb[c] * omega * cosSun) * model.albedo / pi;
    l->ground = Colour(ground);
    l->fromSky = SkyModelLuminance(&model, Colour(e)) * 1e3;
    l->horizontal = l->fromSky + l->sunIlluminance * cosSun;
}

}  // namespace

Sky* SkyModelCreate() {
    Sky* sky = new (std::nothrow) Sky;
    if (sky == nullptr) ErrorRaise(kModuleNone, kErrNoMemory);
    return sky;
}

void SkyModelDestroy(Sky* sky) {
    if (sky == nullptr) return;
    SkyModelRelease(sky);
    delete sky;
}

SkyState* SkyModelAnalyticState(Sky* sky) { return &sky->analytic; }
const SkyState* SkyModelAnalyticState(const Sky* sky) { return &sky->analytic; }

void SkyModelSetSun(Sky* sky, float thetaDegrees, float phiDegrees) {
    SkyStateSetSun(&sky->analytic, thetaDegrees, phiDegrees, sky->turbidity);
}

bool SkyModelSetTurbidity(Sky* sky, float turbidity) {
    if (!InRange(turbidity, kSkyMinTurbidity, kSkyMaxTurbidity)) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    sky->turbidity = turbidity;
    return true;
}

float SkyModelTurbidity(const Sky* sky) { return sky->turbidity; }

float SkyModelMaxSunZenith(SkyModelKind kind) {
    return kind == SkyModelPhysical ? kAtmosphereMaxSunZenith : kSkyMaxSunZenith;
}

bool SkyModelConfigure(Sky* model, SkyModelKind kind, float turbidity, float albedo, float altitude,
                       AtmosphereAerosols aerosols) {
    if (!InRange(turbidity, kSkyMinTurbidity, kSkyMaxTurbidity) || !InRange(albedo, 0.0f, 1.0f) ||
        !InRange(altitude, kAtmosphereMinAltitude, kAtmosphereMaxAltitude) ||
        (kind != SkyModelPreetham && kind != SkyModelPhysical) || aerosols.kind < 0 ||
        aerosols.kind >= kAtmosphereAerosolKinds ||
        !(aerosols.depth550 == 0.0f || InRange(aerosols.depth550, kAtmosphereMinDepth, kAtmosphereMaxDepth))) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    if (kind == SkyModelPhysical && !SetUpPhysical(*model, turbidity, albedo, altitude, aerosols)) return false;
    model->turbidity = turbidity;
    model->kind = kind;
    model->albedo = albedo;
    model->altitude = altitude;
    model->aerosols = aerosols;
    model->lightValid = false;
    model->discValid = false;
    return true;
}

bool SkyModelSetKind(Sky* model, SkyModelKind kind) {
    if (kind == SkyModelPhysical &&
        !SetUpPhysical(*model, model->turbidity, model->albedo, model->altitude, model->aerosols)) {
        return false;
    }
    model->kind = kind;
    return true;
}

SkyModelKind SkyModelInUse(const Sky* model) { return model->kind; }
float SkyModelAlbedo(const Sky* model) { return model->albedo; }
float SkyModelAltitude(const Sky* model) { return model->altitude; }
AtmosphereAerosols SkyModelAerosols(const Sky* model) { return model->aerosols; }

void SkyModelRelease(Sky* model) {
    AtmosphereDestroy(model->physical);
    AtmosphereDestroy(model->sunPath);
    // The sun and the turbidity stay: they are the sky's, not the model's.
    const SkyState analytic = model->analytic;
    const float turbidity = model->turbidity;
    *model = Sky{};
    model->analytic = analytic;
    model->turbidity = turbidity;
}

void SkyModelPrepare(Sky* model) {
    if (Physical(*model)) PhysicalFollowSun(*model);
}

void SkyModelColors(Sky* model, const V3d* directions, int32 count, SkyColorCache* cache, RGBAReal* colours) {
    if (Physical(*model)) {
        PhysicalFollowSun(*model);
        AtmosphereColors(model->physical, directions, count, colours, AtmosphereSkyOnly);
        NightLightAdd(model->nightLight, directions, count, std::cos(SkyModelHorizon(model)), model->albedo, colours);
        return;
    }
    const SkyState* s = &model->analytic;
    const double thetaS = s->sunTheta * kSkyDegToRad;
    const double phiS = s->sunPhi * kSkyDegToRad;
    if (cache != nullptr) {
        SkyColorCacheCompute(cache, *s, thetaS, phiS, colours);
    } else {
        SkyComputeColorsPlain(*s, directions, count, thetaS, phiS, colours);
    }
}

void SkyModelRowColors(const Sky* model, SkyColorCache* cache, double theta, const double* phi, int32 count,
                       RGBAReal* colours) {
    if (Physical(*model)) {
        // The azimuths' sines and cosines the cache keeps for every row.
        const bool held = cache != nullptr && cache->count == count && cache->sinPhi != nullptr;
        std::vector<double> own;
        const double* sinPhi = held ? cache->sinPhi : nullptr;
        const double* cosPhi = held ? cache->cosPhi : nullptr;
        if (!held) {
            own.resize(2 * static_cast<std::size_t>(count));
            for (int32 i = 0; i < count; ++i) {
                own[i] = std::sin(phi[i]);
                own[count + i] = std::cos(phi[i]);
            }
            sinPhi = own.data();
            cosPhi = own.data() + count;
        }
        AtmosphereRowColorsAt(model->physical, theta, sinPhi, cosPhi, count, colours, AtmosphereSkyOnly);
        NightLightAddRow(model->nightLight, theta, sinPhi, cosPhi, count, std::cos(SkyModelHorizon(model)),
                         model->albedo, colours);
        return;
    }
    // At and past the horizon the analytic sky has no values: the ground.
    if (theta >= 90.0 * kSkyDegToRad) {
        for (int32 i = 0; i < count; ++i) colours[i] = model->light.ground;
        return;
    }
    const SkyState* s = &model->analytic;
    SkyColorCacheSetZenith(cache, theta);
    SkyColorCacheCompute(cache, *s, s->sunTheta * kSkyDegToRad, s->sunPhi * kSkyDegToRad, colours);
}

const SkyLight* SkyModelLight(Sky* model) {
    const LightKey key = CurrentKey(*model);
    if (!model->lightValid || !(model->lightKey == key)) {
        MakeLight(*model, &model->light);
        model->lightKey = key;
        model->lightValid = true;
    }
    return &model->light;
}

RGBAReal SkyModelSunRadiance(Sky* model) {
    const LightKey key = CurrentKey(*model);
    if (model->lightValid && model->lightKey == key) return model->light.sun;
    if (!model->discValid || !(model->discKey == key)) {
        if (Physical(*model)) {
            PhysicalFollowSun(*model);
            model->disc = AtmosphereSunRadiance(model->physical);
        } else {
            model->disc = FromRec709(*model, AnalyticSunRec709(*model));
        }
        model->discKey = key;
        model->discValid = true;
    }
    return model->disc;
}

RGBAReal SkyModelThroughAir(Sky* model, double zenithDegrees) {
    Atmosphere* air = Physical(*model) ? model->physical : SunPath(*model);
    if (air == nullptr) return RGBAReal{0.0f, 0.0f, 0.0f, 0.0f};
    float through[kAtmosphereBins];
    float outside[kAtmosphereBins];
    AtmosphereTransmittance(air, zenithDegrees, through);
    for (float& v : outside) v = 1.0f;
    double xyz[3], xyz0[3];
    AtmosphereBandsToXYZ(air, through, xyz);
    AtmosphereBandsToXYZ(air, outside, xyz0);
    if (!(xyz0[1] > 0.0)) return RGBAReal{0.0f, 0.0f, 0.0f, 0.0f};
    for (double& v : xyz) v /= xyz0[1];
    double rgb[3];
    XYZToRec709(xyz, rgb);
    for (double& v : rgb) v = std::max(v, 0.0);
    return FromRec709(*model, Colour(rgb));
}

SkyAirCache* SkyModelAirCache(Sky* model) {
    // The transmittance follows the kind of sky, its turbidity and the
    // physical model's tables (its medium and the viewer's altitude).
    const LightKey key{model->kind, 0.0f, 0.0f, model->turbidity, 0.0f, model->generation, 0};
    if (!(key == model->airCacheKey)) {
        model->airCacheKey = key;
        model->airCache.known.assign(model->airCache.known.size(), 0);
    }
    return &model->airCache;
}

PanoramaBodies* SkyModelBodies(Sky* model) { return &model->bodies; }
const PanoramaBodies* SkyModelBodies(const Sky* model) { return &model->bodies; }
SkyPlaceMoment* SkyModelPlaceMoment(Sky* model) { return &model->placeMoment; }
const SkyPlaceMoment* SkyModelPlaceMoment(const Sky* model) { return &model->placeMoment; }

double SkyModelHorizon(const Sky* model) {
    if (!Physical(*model)) return pi / 2.0;
    return pi / 2.0 + std::acos(kAtmospherePlanetRadius / (kAtmospherePlanetRadius + model->physicalAltitude));
}

double SkyModelLuminance(const Sky* model, const RGBAReal& c) {
    if (Physical(*model)) return Rec709Luminance(c);
    double m[3][3];
    if (!AnalyticToXYZ(m)) return 0.0;
    return m[1][0] * c.red + m[1][1] * c.green + m[1][2] * c.blue;
}

void SkyModelToRec709(const Sky* model, RGBAReal* colours, int32 count) {
    // The physical model's colours are Rec. 709 already, out-of-gamut
    // channels cut.
    if (Physical(*model)) return;
    double m[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
    double toXYZ[3][3];
    if (AnalyticToXYZ(toXYZ)) {
        for (int c = 0; c < 3; ++c) {
            const double column[3] = {toXYZ[0][c], toXYZ[1][c], toXYZ[2][c]};
            double rgb[3];
            XYZToRec709(column, rgb);
            for (int r = 0; r < 3; ++r) m[r][c] = rgb[r];
        }
    }
    for (int32 i = 0; i < count; ++i) {
        RGBAReal& c = colours[i];
        const double in[3] = {c.red, c.green, c.blue};
        real out[3];
        for (int r = 0; r < 3; ++r) {
            const double v = m[r][0] * in[0] + m[r][1] * in[1] + m[r][2] * in[2];
            out[r] = v > 0.0 ? static_cast<real>(v) : 0.0f;
        }
        c = RGBAReal{out[0], out[1], out[2], c.alpha};
    }
}

}  // namespace kv

namespace kv {

bool SkyModelSetNightBrightness(Sky* model, double zenithMagnitude) {
    if (!(zenithMagnitude == 0.0 || (zenithMagnitude >= kNightSkyBrightest && zenithMagnitude <= kNightSkyDarkest))) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    if (model->nightBrightness != zenithMagnitude) {
        model->nightBrightness = zenithMagnitude;
        model->nightLightValid = false;
        ++model->night;
    }
    return true;
}

double SkyModelNightBrightness(const Sky* model) { return model->nightBrightness; }

void SkyModelSetNight(Sky* model, const SkyModelNight* night) {
    model->nightPlaced = night != nullptr;
    model->moonUp = false;
    model->starsLux = 0.0;
    if (night != nullptr) {
        model->nightMoment = night->moment;
        model->nightPlace = night->place;
        model->moonUp = night->moonUp;
        model->moonZenith = night->moonZenith;
        model->moonAzimuth = night->moonAzimuth;
        model->moonLux = night->moonIlluminance;
        model->starsLux = night->starsIlluminance;
    }
    model->nightLightValid = false;
    model->moonSet = false;
    ++model->night;
}

SkyModelNightLight SkyModelNightIlluminance(Sky* model) {
    SkyModelNightLight n;
    if (!Physical(*model)) return n;
    PhysicalFollowSun(*model);
    n.moon = AtmosphereMoonIlluminance(model->physical, &n.moonSky, nullptr);
    n.glow = model->nightLight.horizontal;
    n.stars = model->starsLux;
    return n;
}

}  // namespace kv
