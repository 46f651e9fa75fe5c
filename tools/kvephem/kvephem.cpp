// The sky's astronomy on the command line, for the build and for checking.
//   kvephem catalogue TEXT OUT   the star catalogue's text into the program's
//                              own data file (run by the build)
//   kvephem query [STARS]        answers queries read from standard input,
//                              one a line, so that a script can compare the
//                              program's places with another ephemeris:
//     moon JD LAT LON HEIGHT          the moon
//     planet NAME JD LAT LON HEIGHT   Mercury, Venus, Mars, Jupiter, Saturn
//     sun JD LAT LON HEIGHT           the sun
//     stars JD LAT LON HEIGHT         every star of STARS, then "end"
//     light JD LAT LON HEIGHT         the night's light in the physical sky
//                                     (turbidity 2), without the sun's: the
//                                     moon's altitude and phase angle, its
//                                     lux outside the air, the lux on the
//                                     ground of its beam and its scattered
//                                     light, of the night's own light and
//                                     of the stars and planets
//     moonsky Z A PHASE VZ VA         the luminance (cd/m^2) of the air lit
//                                     by a moon at zenith angle Z, azimuth A
//                                     and phase angle PHASE (its mean
//                                     distance), towards zenith angle VZ
//                                     and azimuth VA (degrees, the program's
//                                     azimuths), and the model's extinction
//                                     at the zenith, mag per air mass
// JD is the Julian day of UT; places in degrees (east positive), metres.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "sky/atmosphere.h"
#include "sky/ephemeris.h"
#include "sky/moon.h"
#include "sky/night_bodies.h"
#include "sky/planets.h"
#include "sky/sky.h"
#include "sky/stars.h"

namespace {

int Catalogue(const char* textPath, const char* outPath) {
    std::ifstream in(textPath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "kvephem: cannot open %s\n", textPath);
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<kv::CatalogueStar> stars;
    std::string error;
    if (!kv::StarCatalogueParseText(text, &stars, &error)) {
        std::fprintf(stderr, "kvephem: %s: %s\n", textPath, error.c_str());
        return 1;
    }
    const std::vector<kv::uint8> bytes = kv::StarCatalogueEncode(stars);
    std::ofstream out(outPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "kvephem: cannot write %s\n", outPath);
        std::remove(outPath);
        return 1;
    }
    return 0;
}

bool PlanetOf(const std::string& name, kv::Planet* out) {
    for (int i = 0; i < kv::kPlanetCount; ++i) {
        const auto p = static_cast<kv::Planet>(i);
        if (name == kv::PlanetName(p)) {
            *out = p;
            return true;
        }
    }
    return false;
}

// The physical sky the light queries share: made on first use (half a
// second), its sun as low as the model holds, so that what it adds is least.
kv::Sky* NightSky() {
    static kv::Sky* sky = nullptr;
    if (sky == nullptr) {
        kv::SkyParameters p;
        p.model = kv::SkyModelPhysical;
        sky = kv::SkyCreate(p);
        if (sky != nullptr) kv::SkySetSunAngles(sky, kv::SkyModelMaxSunZenith(kv::SkyModelPhysical), 0.0f);
    }
    return sky;
}

kv::Atmosphere* MoonAir() {
    static kv::Atmosphere* air = nullptr;
    if (air == nullptr) {
        air = kv::AtmosphereCreate();
        if (air != nullptr && !kv::AtmosphereSetup(air, 2.0f, 0.3f, 0.0f)) air = nullptr;
        if (air != nullptr) kv::AtmosphereSetSun(air, kv::kAtmosphereMaxSunZenith, 0.0f);
    }
    return air;
}

bool MoonSky(std::istringstream& in) {
    double z = 0.0, a = 0.0, phase = 0.0, vz = 0.0, va = 0.0;
    kv::Atmosphere* air = MoonAir();
    if (!(in >> z >> a >> phase >> vz >> va) || air == nullptr) return false;
    const double d = vz * 3.14159265358979323846 / 180.0;
    const double p = va * 3.14159265358979323846 / 180.0;
    const kv::V3d view{static_cast<kv::real>(std::sin(d) * std::sin(p)), static_cast<kv::real>(std::cos(d)),
                       static_cast<kv::real>(std::sin(d) * std::cos(p))};
    double without[3], with[3];
    kv::AtmosphereSetMoon(air, 0.0f, 0.0f, 0.0);
    kv::AtmosphereXYZ(air, view, kv::AtmosphereSkyOnly, without);
    const double lux = kv::MagnitudeIlluminance(kv::MoonMagnitude(phase, 384400.0));
    kv::AtmosphereSetMoon(air, static_cast<float>(z), static_cast<float>(a), lux);
    kv::AtmosphereXYZ(air, view, kv::AtmosphereSkyOnly, with);
    float through[kv::kAtmosphereBins];
    float outside[kv::kAtmosphereBins];
    kv::AtmosphereTransmittance(air, 0.0, through);
    for (float& v : outside) v = 1.0f;
    double t[3], o[3];
    kv::AtmosphereBandsToXYZ(air, through, t);
    kv::AtmosphereBandsToXYZ(air, outside, o);
    std::printf("%.6g %.5f\n", with[1] - without[1], -2.5 * std::log10(t[1] / o[1]));
    return true;
}

int Query(const char* starsPath) {
    std::vector<kv::CatalogueStar> stars;
    std::string error;
    if (starsPath && !kv::StarCatalogueLoad(starsPath, &stars, &error)) {
        std::fprintf(stderr, "kvephem: %s\n", error.c_str());
        return 1;
    }
    std::string line;
    int bad = 0;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string what, name;
        in >> what;
        if (what.empty()) continue;
        if (what == "planet") in >> name;
        if (what == "moonsky") {
            if (!MoonSky(in)) {
                std::printf("error: expected Z A PHASE VZ VA\n");
                ++bad;
            }
            std::fflush(stdout);
            continue;
        }
        kv::SkyPlace place;
        double jd = 0.0;
        if (!(in >> jd >> place.latitude >> place.longitude >> place.height)) {
            std::printf("error: expected JD LAT LON HEIGHT\n");
            ++bad;
            continue;
        }
        const kv::SkyMoment moment = kv::SkyMomentAt(jd);
        if (what == "moon") {
            const kv::MoonView m = kv::MoonObserve(moment, place);
            std::printf("%.6f %.6f %.6f %.6f %.6f %.6f %.4f %.4f %.3f %.3f %.6g\n", m.horizontal.altitude,
                        m.horizontal.trueAltitude, m.horizontal.azimuth, m.rightAscension, m.declination,
                        m.illuminatedFraction, m.phaseAngle, m.brightLimbAngle, m.distance, m.magnitude, m.illuminance);
        } else if (what == "planet") {
            kv::Planet p{};
            if (!PlanetOf(name, &p)) {
                std::printf("error: no planet %s\n", name.c_str());
                ++bad;
                continue;
            }
            const kv::PlanetView v = kv::PlanetObserve(p, moment, place);
            std::printf("%.6f %.6f %.6f %.6f %.6f %.3f %.4f %.6f\n", v.horizontal.altitude, v.horizontal.trueAltitude,
                        v.horizontal.azimuth, v.rightAscension, v.declination, v.magnitude, v.phaseAngle, v.distance);
        } else if (what == "sun") {
            const kv::SunPlace s = kv::SunApparent(moment);
            const kv::SkyHorizontal h =
                kv::SkyTopocentric(moment, place, s.rightAscension, s.declination, s.distance * 23454.8);
            std::printf("%.6f %.6f %.6f %.6f %.6f\n", h.altitude, h.trueAltitude, h.azimuth, s.rightAscension,
                        s.declination);
        } else if (what == "stars") {
            std::vector<kv::StarView> views;
            kv::StarsObserve(stars, moment, place, &views);
            for (const kv::StarView& v : views) {
                std::printf("%u %.6f %.6f %.6f %.3f\n", static_cast<unsigned>(v.number), v.horizontal.altitude,
                            v.horizontal.trueAltitude, v.horizontal.azimuth, v.magnitude);
            }
            std::printf("end\n");
        } else if (what == "light") {
            kv::Sky* sky = NightSky();
            if (sky == nullptr) {
                std::printf("error: no memory for the sky\n");
                ++bad;
                continue;
            }
            kv::SkySetNightBodiesAt(sky, place, moment, starsPath ? &stars : nullptr);
            const kv::MoonView m = kv::MoonObserve(moment, place);
            const kv::SkyModelNightLight n = kv::SkyModelNightIlluminance(sky);
            std::printf("%.4f %.4f %.6g %.6g %.6g %.6g %.6g\n", m.horizontal.altitude, m.phaseAngle, m.illuminance,
                        n.moon, n.moonSky, n.glow, n.stars);
        } else {
            std::printf("error: unknown query %s\n", what.c_str());
            ++bad;
        }
        std::fflush(stdout);
    }
    return bad ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "catalogue") == 0) return Catalogue(argv[2], argv[3]);
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "query") == 0) return Query(argc == 3 ? argv[2] : nullptr);
    std::fprintf(stderr, "usage: kvephem catalogue TEXT OUT | kvephem query [STARS]\n");
    return 2;
}
