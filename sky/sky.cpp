#include "sky.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/core/error.h"
#include "sky/analytic_sky.h"
#include "sky/night_bodies.h"
#include "sky/sky_colours.h"

namespace kv {

namespace {

// Directions evaluated at once by one thread: its cache's size.
constexpr std::int64_t kRadianceBlock = 4096;

std::string Format(const char* format, double a, double b = 0.0) {
    char buffer[120];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

RGBAReal ToRec709(const Sky* sky, RGBAReal colour) {
    SkyModelToRec709(sky, &colour, 1);
    return colour;
}

// Directions [begin, end) into radiance, in blocks through one cache.
bool RadianceRange(Sky* sky, const V3d* directions, std::int64_t begin, std::int64_t end, RGBAReal* radiance,
                   const RGBAReal& ground, double cosHorizon) {
    SkyColorCache cache;
    SkyColorCacheInit(&cache);
    bool ok = true;
    for (std::int64_t first = begin; first < end && ok; first += kRadianceBlock) {
        const auto n = static_cast<int32>(std::min(kRadianceBlock, end - first));
        if (!SkyColorCacheSetDirections(&cache, directions + first, n)) {
            ok = false;
            break;
        }
        SkyModelColors(sky, directions + first, n, &cache, radiance + first);
        SkyModelToRec709(sky, radiance + first, n);
        for (int32 i = 0; i < n; ++i) {
            if (directions[first + i].y < cosHorizon) radiance[first + i] = ground;
        }
    }
    SkyColorCacheRelease(&cache);
    return ok;
}

}  // namespace

Sky* SkyCreate(const SkyParameters& p) {
    Sky* sky = SkyModelCreate();
    if (sky == nullptr) return nullptr;
    if (!SkyModelConfigure(sky, p.model, p.turbidity, p.albedo, p.altitude, p.aerosols) ||
        !SkyModelSetNightBrightness(sky, p.skyBrightness)) {
        SkyModelDestroy(sky);
        return nullptr;
    }
    SkyModelSetSun(sky, 0.0f, 0.0f);
    return sky;
}

void SkyDestroy(Sky* sky) { SkyModelDestroy(sky); }

SkyParameters SkyGetParameters(const Sky* sky) {
    return SkyParameters{SkyModelInUse(sky),    SkyModelTurbidity(sky), SkyModelAlbedo(sky),
                         SkyModelAltitude(sky), SkyModelAerosols(sky),  SkyModelNightBrightness(sky)};
}

bool SkySetSunAngles(Sky* sky, float zenith, float azimuth) {
    if (!(zenith >= 0.0f && zenith <= SkyModelMaxSunZenith(SkyModelInUse(sky))) ||
        !(azimuth >= 0.0f && azimuth < 360.0f)) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return false;
    }
    SkyModelSetSun(sky, zenith, azimuth);
    return true;
}

bool SkySunFromPlace(SkyModelKind model, double latitude, double longitude, const SolarTime& time, float* zenith,
                     float* azimuth, SolarPosition* where, std::string* error) {
    const SolarPosition p = SolarCompute(latitude, longitude, SolarJulianDay(time));
    if (where != nullptr) *where = p;
    const double elevation = 90.0 - p.zenith;
    const double maxZenith = SkyModelMaxSunZenith(model);
    const double minimum = 90.0 - maxZenith;
    if (elevation < minimum) {
        const std::string at = elevation < 0.0 ? Format("%.2f degrees below the horizon", -elevation)
                                               : Format("%.2f degrees above the horizon", elevation);
        *error = "the sun is " + at + " there and then; the sky is made for a sun " +
                 (minimum >= 0.0
                      ? Format("at least %g degrees high (zenith angle up to %g)", minimum, maxZenith)
                      : Format("at most %g degrees below the horizon (zenith angle up to %g)", -minimum, maxZenith));
        return false;
    }
    float a = static_cast<float>(SolarProgramAzimuth(p.azimuth));
    if (a >= 360.0f) a = 0.0f;  // 359.99999... rounds up in single precision
    *zenith = static_cast<float>(p.zenith);
    *azimuth = a;
    return true;
}

bool SkySetSunAt(Sky* sky, double latitude, double longitude, const SolarTime& time, SolarPosition* where,
                 std::string* error) {
    float zenith = 0.0f;
    float azimuth = 0.0f;
    if (!SkySunFromPlace(SkyModelInUse(sky), latitude, longitude, time, &zenith, &azimuth, where, error)) {
        return false;
    }
    SkyModelSetSun(sky, zenith, azimuth);
    // Its files then say where and when.
    SkySetPlaceMoment(sky, latitude, longitude, SkyModelAltitude(sky), time);
    return true;
}

void SkyGetSunAngles(const Sky* sky, float* zenith, float* azimuth) {
    const SkyState* s = SkyModelAnalyticState(sky);
    *zenith = s->sunTheta;
    *azimuth = s->sunPhi;
}

V3d SkySunDirection(const Sky* sky) { return SkyModelAnalyticState(sky)->sunDirection; }

bool SkyRadiance(Sky* sky, const V3d* directions, std::int64_t count, RGBAReal* radiance, int32 threads) {
    if (count <= 0) return true;
    // What every thread reads is made first: the model at this sun, its ground.
    SkyModelPrepare(sky);
    const RGBAReal ground = ToRec709(sky, SkyModelLight(sky)->ground);
    const double cosHorizon = std::cos(SkyModelHorizon(sky));
    std::int64_t n = threads > 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    n = std::min(n, (count + kRadianceBlock - 1) / kRadianceBlock);
    const std::int64_t share = (count + n - 1) / n;
    std::vector<std::thread> helpers;
    std::vector<char> done(static_cast<std::size_t>(n), 0);
    for (std::int64_t t = 1; t < n; ++t) {
        const std::int64_t begin = t * share;
        const std::int64_t end = std::min(count, begin + share);
        try {
            helpers.emplace_back([=, &done] {
                done[static_cast<std::size_t>(t)] =
                    RadianceRange(sky, directions, begin, end, radiance, ground, cosHorizon) ? 1 : 0;
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one does that share too, below.
            done[static_cast<std::size_t>(t)] = 2;
        }
    }
    bool ok = RadianceRange(sky, directions, 0, std::min(count, share), radiance, ground, cosHorizon);
    for (std::thread& h : helpers) h.join();
    for (std::int64_t t = 1; t < n; ++t) {
        const auto i = static_cast<std::size_t>(t);
        if (done[i] == 2) {
            done[i] = RadianceRange(sky, directions, t * share, std::min(count, (t + 1) * share), radiance, ground,
                                    cosHorizon)
                          ? 1
                          : 0;
        }
        ok = ok && done[i] == 1;
    }
    if (!ok) ErrorRaise(kModuleNone, kErrNoMemory);
    return ok;
}

RGBAReal SkySunRadiance(Sky* sky) { return ToRec709(sky, SkyModelLight(sky)->sun); }

double SkySunIlluminance(Sky* sky) { return SkyModelLight(sky)->sunIlluminance; }

double SkyHorizontalIlluminance(Sky* sky, double* fromSky) {
    const SkyLight* light = SkyModelLight(sky);
    if (fromSky != nullptr) *fromSky = light->fromSky;
    return light->horizontal;
}

}  // namespace kv
