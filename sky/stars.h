// The stars seen by eye: the program's own compact catalogue (made at build
// time from the Yale Bright Star Catalogue, 5th revised edition, Hoffleit &
// Warren 1991, about 9,100 stars to V 6.5, as Debian's xplanet package
// carries it: J2000 places and V, without proper motions or colours), and
// their apparent places for an observer: precession from J2000 to the date,
// nutation, the horizon and refraction (ephemeris.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/core/types.h"
#include "ephemeris.h"

namespace kv {

struct CatalogueStar {
    double rightAscension = 0.0;  // J2000 mean place, degrees [0, 360)
    double declination = 0.0;     // degrees
    double magnitude = 0.0;       // V
    uint16 number = 0;            // the catalogue's running number (HR)
};

// The catalogue as text: one star a line, "Dec RA(hours) V "name" HR HD SAO",
// '#' starting a comment. False, with *error naming the line, on any line
// that is not a star or whose values are out of range.
bool StarCatalogueParseText(const std::string& text, std::vector<CatalogueStar>* out, std::string* error);

// The program's own file: "KVSTARS1", a little-endian count, then per star
// the right ascension as a fraction of the circle in 32 bits, the declination
// in 1e-7 degree, V in 1/1000 magnitude and the HR number (12 bytes).
std::vector<uint8> StarCatalogueEncode(const std::vector<CatalogueStar>& stars);
bool StarCatalogueDecode(const uint8* data, std::size_t size, std::vector<CatalogueStar>* out, std::string* error);
bool StarCatalogueLoad(const std::string& path, std::vector<CatalogueStar>* out, std::string* error);

struct StarView {
    SkyHorizontal horizontal;
    double magnitude = 0.0;
    double illuminance = 0.0;  // lux at the top of the atmosphere
    uint16 number = 0;
};

// Every star of the catalogue on the observer's sky at the moment, in the
// catalogue's order (above and below the horizon).
void StarsObserve(const std::vector<CatalogueStar>& stars, const SkyMoment& moment, const SkyPlace& place,
                  std::vector<StarView>* out);

}  // namespace kv
