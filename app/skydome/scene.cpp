#include "scene.h"

#include "app/skydome/dome.h"
#include "app/skydome/options.h"
#include "app/skydome/program_sky.h"
#include "sky/analytic_sky.h"
#include "sky/sky_model.h"

namespace kv {

Clump* SkydomeSceneCreate(World* world, const SkydomeOptions* options, const char** failure) {
    if (!SkyColorInit()) {
        *failure = "Error initializing color.";
        return nullptr;
    }
    DomeReset();
    DomeSettings* settings = DomeGetSettings();
    settings->resolution = options->resolution;
    settings->exposure = options->exposure;
    // Photographic exposure by default with the physical sky; what the
    // options chose stays whatever the model.
    settings->autoExposure =
        options->exposureChoice == ExposureChoiceAuto || options->exposureChoice == ExposureChoiceEv ||
                (options->exposureChoice == ExposureChoiceDefault && options->sky == SkyModelPhysical)
            ? 1
            : 0;
    settings->evFixed = options->exposureChoice == ExposureChoiceEv ? 1 : 0;
    settings->ev = options->ev;
    if (options->exposureChoice != ExposureChoiceDefault) DomeExposureChosen();
    if (!SkyModelConfigure(options->sky, options->turbidity, options->albedo, options->altitude, options->aerosols) ||
        !SkyModelSetNightBrightness(ProgramSky(), options->skyBrightness)) {
        *failure = "Cannot set up the sky model.";
        return nullptr;
    }
    Clump* clump = DomeClumpCreate(world, settings->resolution);
    if (clump == nullptr) {
        *failure = "Cannot create skydome clump.";
        return nullptr;
    }
    DomeClumpPlaceOrbit(clump);
    DomeAttachToSky();
    // The sun starts below its first move, so the move places it (and the
    // hook colours the dome).
    SkyState* sky = SkyGetState();
    sky->sunTheta = 0.0f;
    sky->sunPhi = 0.0f;
    SkyMoveSun(options->sunZenith, options->sunAzimuth);
    return clump;
}

}  // namespace kv
