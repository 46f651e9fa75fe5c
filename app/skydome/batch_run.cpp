#include "batch_run.h"

#include <cmath>
#include <cstdio>

#include "app/skydome/dome.h"
#include "app/skydome/dome_save.h"
#include "app/skydome/night_bodies.h"
#include "app/skydome/options.h"
#include "app/skydome/program_sky.h"
#include "app/skydome/scene.h"
#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/world/clump.h"
#include "engine/world/world.h"
#include "export/gltf.h"
#include "export/panorama.h"
#include "sky/analytic_sky.h"
#include "sky/sky.h"
#include "sky/sky_model.h"
#include "sky/sun_position.h"

namespace kv {

namespace {

std::string Format(const char* format, double a, double b = 0.0, double c = 0.0) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return buffer;
}

void ToStderr(const char* text) { std::fprintf(stderr, "skydome: %s\n", text); }

}  // namespace

bool SkydomeResolveSun(SkydomeOptions* o, std::string* line, std::string* error) {
    if (!o->location) return true;
    SolarPosition p{};
    std::string why;
    if (!SkySunFromPlace(o->sky, o->latitude, o->longitude, o->moment, &o->sunZenith, &o->sunAzimuth, &p, &why)) {
        *error = "--location and --time: " + why;
        const double elevation = 90.0 - p.zenith;
        const double lowest = 90.0 - SkyModelMaxSunZenith(SkyModelPhysical);
        if (o->sky != SkyModelPhysical && elevation >= lowest) {
            *error += "; --sky physical takes a sun down to " + Format("%g", -lowest) + " degrees below the horizon";
        }
        return false;
    }
    const float azimuth = o->sunAzimuth;
    *line =
        "sun: zenith angle " +
        Format("%.2f, compass azimuth %.2f, program azimuth %.2f", p.zenith, p.azimuth, static_cast<double>(azimuth)) +
        " (degrees; " + Format("%.4f, %.4f", o->latitude, o->longitude) + " at " + o->timeText + ")";
    return true;
}

bool SkydomeRunExports(const SkydomeOptions* o, Atomic* dome, void (*report)(const char* text)) {
    if (report == nullptr) report = ToStderr;
    bool ok = true;
    std::string message;
    for (const std::string& file : o->exportGltf) {
        const Geometry* geometry = dome != nullptr ? AtomicGetGeometry(dome) : nullptr;
        const SkyLight* light = SkyModelLight();
        const GltfSun sun{SkyGetState()->sunDirection, light->sunColour, light->sunIlluminance};
        if (!DomeExportGLTF(geometry, DomeGetSettings()->preview, file.c_str(), &message, &sun)) {
            report(message.c_str());
            ok = false;
        }
    }
    if (!o->exportPanorama.empty()) {
        std::string warning;
        SkydomeSetNightBodies(*o, &warning);
        if (!warning.empty()) report(warning.c_str());
    }
    for (const std::string& file : o->exportPanorama) {
        if (!PanoramaWrite(ProgramSky(), file.c_str(), o->panoramaWidth, DomeGetSettings()->exposure, &message)) {
            report(message.c_str());
            ok = false;
        }
    }
    return ok;
}

int SkydomeExportOnly(SkydomeOptions* o) {
    EngineUseStandardModules();
    EngineSetDevice(nullptr);  // the null device: nothing is shown
    if (!EngineInit(nullptr, 0)) {
        ToStderr("Error initializing Kelvane.");
        return 1;
    }
    EngineOpenParams params{nullptr};
    if (!WorldPluginAttach() || !EngineOpen(&params)) {
        EngineTerm();
        ToStderr("Error initializing Kelvane.");
        return 1;
    }
    if (!EngineStart()) {
        EngineClose();
        EngineTerm();
        ToStderr("Error initializing Kelvane.");
        return 1;
    }
    int status = 0;
    World* world = nullptr;
    Clump* clump = nullptr;
    const char* failure = nullptr;
    if ((world = WorldCreate(&kSkydomeWorldBox)) == nullptr) {
        ToStderr("Cannot create world.");
        status = 1;
    } else if ((clump = SkydomeSceneCreate(world, o, &failure)) == nullptr) {
        ToStderr(failure);
        status = 1;
    } else {
        if (!SkydomeRunExports(o, DomeGetAtomic(), ToStderr)) {
            o->exportFailed = true;
            status = 1;
        }
        for (const std::string& file : o->saveDome) {
            std::string message;
            DomeSaveOptions save;
            save.facing = o->domeFacing;
            if (!DomeSave(clump, file.c_str(), &message, &save)) {
                ToStderr(message.c_str());
                o->saveFailed = true;
                status = 1;
            }
        }
    }
    SkySetSunMovedHook(nullptr, nullptr);
    if (clump != nullptr) DomeClumpDestroy(clump);
    DomeReset();
    SkyModelRelease();
    if (world != nullptr) WorldDestroy(world);
    EngineStop();
    EngineClose();
    EngineTerm();
    return status;
}

}  // namespace kv
