#include "night_sky.h"

#include <vector>

#include "app/skel/skeleton.h"
#include "app/skydome/program_sky.h"
#include "sky/night_bodies.h"

namespace kv {

bool SkydomeLoadStars(std::vector<CatalogueStar>* stars, std::string* warning) {
    std::string tried;
    for (int32 i = 0; const char* folder = ShellDataFolder(i); ++i) {
        const std::string path = std::string(folder) + kNightStarFile;
        std::string error;
        if (StarCatalogueLoad(path, stars, &error)) return true;
        tried += (tried.empty() ? "" : "; ") + error;
    }
    *warning = "no stars in the panorama: the star catalogue cannot be read (" + tried + ")";
    return false;
}

void SkydomeSetPlaceMoment(const SkydomeOptions& o) {
    if (o.location && o.time) {
        SkySetPlaceMoment(ProgramSky(), o.latitude, o.longitude, o.altitude, o.moment);
    } else {
        SkyClearPlaceMoment(ProgramSky());
    }
}

void SkydomeSetNightBodies(const SkydomeOptions& o, std::string* warning) {
    if (!o.location || o.sky != SkyModelPhysical) {
        SkyClearNightBodies(ProgramSky());
        return;
    }
    std::vector<CatalogueStar> catalogue;
    const bool stars = SkydomeLoadStars(&catalogue, warning);
    SkySetNightBodies(ProgramSky(), o.latitude, o.longitude, o.altitude, o.moment, stars ? &catalogue : nullptr);
}

}  // namespace kv
