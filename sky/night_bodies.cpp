#include "night_bodies.h"

#include <cmath>
#include <vector>

#include "sky/analytic_sky.h"
#include "sky/ephemeris.h"
#include "sky/moon.h"
#include "sky/panorama_rows.h"
#include "sky/planets.h"
#include "sky/sky_model.h"
#include "sky/stars.h"
#include "sky/sun_position.h"

namespace kv {

namespace {

constexpr double kAuKm = 149597870.7;
constexpr double kEarthRadiiPerAu = kAuKm / 6378.14;

struct Unit {
    double x, y, z;
};

// The program's frame (x west, y up, z north) for an altitude and a compass
// azimuth in degrees.
Unit Towards(const SkyHorizontal& h) {
    const double theta = (90.0 - h.altitude) * kSkyDegToRad;
    const double phi = SolarProgramAzimuth(h.azimuth) * kSkyDegToRad;
    return Unit{std::sin(theta) * std::sin(phi), std::cos(theta), std::sin(theta) * std::cos(phi)};
}

// The flux of a point of illuminance lux outside the atmosphere, through air.
PanoramaPoint Lit(PanoramaPoint p, const RGBAReal& air, double lux) {
    // lux to the model's kcd/m^2 times steradians.
    const double k = lux / 1000.0;
    p.flux = RGBAReal{static_cast<real>(air.red * k), static_cast<real>(air.green * k), static_cast<real>(air.blue * k),
                      0.0f};
    return p;
}

// The model's transmittance by zenith angle for the thousands of stars of
// a moment: evaluated at 1 degree steps to 80 degrees and 0.05 degree
// steps past it, where the air mass grows fast, and interpolated in its logarithm
// (a path's transmittance is exponential in its optical depth). Where a
// neighbour is black (the path meets the ground) the model is asked itself.
// The entries depend on the air alone, so the sky keeps them from one
// moment to the next.
class AirByZenith {
  public:
    explicit AirByZenith(Sky* sky) : sky_(sky), cache_(SkyModelAirCache(sky)) {
        cache_->values.resize(kEntries);
        cache_->known.resize(kEntries, 0);
    }
    RGBAReal At(double zenith) {
        double index = zenith < kSplit ? zenith : kSplit + (zenith - kSplit) * kFine;
        if (!(index >= 0.0) || index >= kEntries - 1) return SkyModelThroughAir(sky_, zenith);
        const auto i = static_cast<int>(index);
        const double f = index - i;
        const RGBAReal a = Entry(i);
        const RGBAReal b = Entry(i + 1);
        if (!(a.red > 0.0f && a.green > 0.0f && a.blue > 0.0f && b.red > 0.0f && b.green > 0.0f && b.blue > 0.0f)) {
            return SkyModelThroughAir(sky_, zenith);
        }
        auto mix = [f](real x, real y) {
            return static_cast<real>(std::exp((1.0 - f) * std::log(x) + f * std::log(y)));
        };
        return RGBAReal{mix(a.red, b.red), mix(a.green, b.green), mix(a.blue, b.blue), 0.0f};
    }

  private:
    static constexpr double kSplit = 80.0;
    static constexpr double kFine = 20.0;      // entries a degree past kSplit
    static constexpr int kEntries = 80 + 225;  // to 91.2 degrees, 1.2 below the horizon
    RGBAReal Entry(int i) {
        if (cache_->known[i] == 0) {
            const double zenith = i <= kSplit ? i : kSplit + (i - kSplit) / kFine;
            cache_->values[i] = SkyModelThroughAir(sky_, zenith);
            cache_->known[i] = 1;
        }
        return cache_->values[i];
    }
    Sky* sky_;
    SkyAirCache* cache_;
};

// A point of light of illuminance lux outside the atmosphere, seen through
// the model's air along its path.
PanoramaPoint Point(AirByZenith* air, const SkyHorizontal& h, double lux) {
    PanoramaPoint p;
    p.theta = (90.0 - h.altitude) * kSkyDegToRad;
    p.phi = SolarProgramAzimuth(h.azimuth) * kSkyDegToRad;
    return Lit(p, air->At(90.0 - h.altitude), lux);
}

PanoramaPoint Point(Sky* sky, const SkyHorizontal& h, double lux) {
    PanoramaPoint p;
    p.theta = (90.0 - h.altitude) * kSkyDegToRad;
    p.phi = SolarProgramAzimuth(h.azimuth) * kSkyDegToRad;
    return Lit(p, SkyModelThroughAir(sky, 90.0 - h.altitude), lux);
}

// The moon's light in the air, wherever it is: the model leaves out a moon
// too far below the horizon to light it.
void SetMoonLight(const MoonView& m, SkyModelNight* night) {
    night->moonUp = true;
    night->moonZenith = static_cast<float>(90.0 - m.horizontal.altitude);
    night->moonAzimuth = static_cast<float>(SolarProgramAzimuth(m.horizontal.azimuth));
    night->moonIlluminance = m.illuminance;
}

}  // namespace

void SkyClearNightBodies(Sky* sky) {
    PanoramaSetBodies(sky, {}, PanoramaMoon{});
    SkyModelSetNight(sky, nullptr);
}

void SkySetNightBodies(Sky* sky, double latitude, double longitude, double altitude, const SolarTime& when,
                       const std::vector<CatalogueStar>* catalogue) {
    SkySetPlaceMoment(sky, latitude, longitude, altitude, when);
    SkySetNightBodiesAt(sky, SkyPlace{latitude, longitude, altitude}, SkyMomentAt(SolarJulianDay(when)), catalogue);
}

void SkySetNightBodiesAt(Sky* sky, const SkyPlace& place, const SkyMoment& moment,
                         const std::vector<CatalogueStar>* catalogue) {
    std::vector<PanoramaPoint> points;
    PanoramaMoon moon;
    SkyModelNight night{moment, place};
    AirByZenith air(sky);
    // The light the points give the horizontal ground, as they arrive.
    auto onGround = [&](const PanoramaPoint& p) {
        const double cosZenith = std::cos(p.theta);
        if (cosZenith > 0.0) {
            night.starsIlluminance += 1e3 * cosZenith * SkyModelLuminance(sky, p.flux);
        }
    };
    if (catalogue != nullptr) {
        std::vector<StarView> stars;
        StarsObserve(*catalogue, moment, place, &stars);
        for (const StarView& s : stars) {
            if (s.horizontal.altitude > -1.0) {
                points.push_back(Point(&air, s.horizontal, s.illuminance));
                onGround(points.back());
            }
        }
    }
    for (int i = 0; i < kPlanetCount; ++i) {
        const PlanetView p = PlanetObserve(static_cast<Planet>(i), moment, place);
        if (p.horizontal.altitude > -1.0) {
            points.push_back(Point(sky, p.horizontal, p.illuminance));
            onGround(points.back());
        }
    }

    const MoonView m = MoonObserve(moment, place);
    SetMoonLight(m, &night);
    if (m.horizontal.altitude > -1.0) {
        const PanoramaPoint centre = Point(sky, m.horizontal, m.illuminance);
        moon.shown = true;
        moon.theta = centre.theta;
        moon.phi = centre.phi;
        moon.radius = m.angularRadius * kSkyDegToRad;
        moon.flux = centre.flux;
        // The sun as seen from the moon: its place from here, less the
        // moon's.
        const SunPlace sunPlace = SunApparent(moment);
        const SkyHorizontal sunSky = SkyTopocentric(moment, place, sunPlace.rightAscension, sunPlace.declination,
                                                    sunPlace.distance * kEarthRadiiPerAu);
        SkyHorizontal sunTrue = sunSky;
        sunTrue.altitude = sunSky.trueAltitude;
        SkyHorizontal moonTrue = m.horizontal;
        moonTrue.altitude = m.horizontal.trueAltitude;
        const Unit s = Towards(sunTrue);
        const Unit c = Towards(moonTrue);
        const double sunKm = sunPlace.distance * kAuKm;
        Unit d{s.x * sunKm - c.x * m.distance, s.y * sunKm - c.y * m.distance, s.z * sunKm - c.z * m.distance};
        const double n = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        moon.toSunX = d.x / n;
        moon.toSunY = d.y / n;
        moon.toSunZ = d.z / n;
    }
    PanoramaSetBodies(sky, points, moon);
    SkyModelSetNight(sky, &night);
}

void SkySetPlaceMoment(Sky* sky, double latitude, double longitude, double altitude, const SolarTime& moment) {
    SkyPlaceMoment* p = SkyModelPlaceMoment(sky);
    const SkyState* s = SkyModelAnalyticState(sky);
    *p = SkyPlaceMoment{true, latitude, longitude, altitude, moment, s->sunTheta, s->sunPhi};
}

void SkyClearPlaceMoment(Sky* sky) { *SkyModelPlaceMoment(sky) = SkyPlaceMoment{}; }

bool SkyGetPlaceMoment(const Sky* sky, SkyPlaceMoment* out) {
    const SkyPlaceMoment* p = SkyModelPlaceMoment(sky);
    const SkyState* s = SkyModelAnalyticState(sky);
    if (!p->known || p->sunZenith != s->sunTheta || p->sunAzimuth != s->sunPhi) return false;
    *out = *p;
    return true;
}

}  // namespace kv
