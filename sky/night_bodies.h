// The night's bodies of a place and a moment (the moon, the planets and the
// stars), set on a sky so that its panoramas show them where they stand,
// each seen through the sky's own air.
#pragma once

#include <vector>

#include "sky/ephemeris.h"
#include "sky/sky_model.h"
#include "sky/stars.h"
#include "sky/sun_position.h"

namespace kv {

// The program's own star file, as the build makes it from the catalogue.
constexpr const char* kNightStarFile = "stars.dat";

// Sets the bodies a sky's panoramas show for a place (degrees north and
// east, metres above the sea) and a moment: the moon's lit disc, the five
// bright planets and, when a catalogue is given, its stars, each above
// about a degree below the horizon.
void SkySetNightBodies(Sky* sky, double latitude, double longitude, double altitude, const SolarTime& moment,
                       const std::vector<CatalogueStar>* stars);
// The same at a moment of the ephemeris (a Julian day's time scales).
void SkySetNightBodiesAt(Sky* sky, const SkyPlace& place, const SkyMoment& moment,
                         const std::vector<CatalogueStar>* stars);
// No bodies: the panoramas show the sky alone.
void SkyClearNightBodies(Sky* sky);

// The place and the moment a sky's sun was placed from, kept with the sky
// so that the files made of it can say where and when they are.
struct SkyPlaceMoment {
    bool known = false;
    double latitude = 0.0;   // degrees north
    double longitude = 0.0;  // degrees east
    double altitude = 0.0;   // metres above the sea
    SolarTime moment{};
    // The sun's angles (degrees) when they were set: a sun moved since then
    // is no longer that moment's.
    float sunZenith = 0.0f, sunAzimuth = 0.0f;
};
// Records them with the sky's sun as it stands now (SkySetNightBodies does
// too).
void SkySetPlaceMoment(Sky* sky, double latitude, double longitude, double altitude, const SolarTime& moment);
void SkyClearPlaceMoment(Sky* sky);
// False when none was set, or when the sun has been moved since.
bool SkyGetPlaceMoment(const Sky* sky, SkyPlaceMoment* out);

}  // namespace kv
