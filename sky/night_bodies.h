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
// Only the light of a place's night at a moment: the moonlit air and the
// night's own light, and the planets' light on the ground; for a sky whose
// bodies are drawn by someone else (the window's). SkyClearNightBodies
// takes it away.
void SkySetNightLight(Sky* sky, const SkyPlace& place, const SkyMoment& moment);
// No bodies: the panoramas show the sky alone.
void SkyClearNightBodies(Sky* sky);

}  // namespace kv
