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
// JD is the Julian day of UT; places in degrees (east positive), metres.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "sky/ephemeris.h"
#include "sky/moon.h"
#include "sky/planets.h"
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
