#include "options.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/skydome/dome.h"
#include "app/skydome/panorama.h"
#include "app/skydome/sky.h"
#include "app/skydome/sunpos.h"
#include "engine/core/kvtypes.h"

namespace kv {

namespace {
SkydomeOptions current;

bool ParseCount(const char* text, long* out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 0) return false;
    *out = v;
    return true;
}

// The whole text must be one finite number.
bool ParseReal(const char* text, float* out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    const float v = std::strtof(text, &end);
    if (errno == ERANGE || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// "ZENITH,AZIMUTH"
bool ParseSun(const char* text, float* zenith, float* azimuth) {
    if (text == nullptr) return false;
    const char* comma = std::strchr(text, ',');
    if (comma == nullptr) return false;
    const std::string first(text, comma);
    return ParseReal(first.c_str(), zenith) && ParseReal(comma + 1, azimuth);
}

std::string Number(float v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(v));
    return buffer;
}

// The value that follows an option, or null when there is none.
const char* ValueOf(const std::vector<char*>& args, std::size_t i) {
    return i + 1 < args.size() ? args[i + 1] : nullptr;
}

bool ParseSkyOption(const char* option, const char* value, SkydomeOptions* o, std::string* error) {
    if (std::strcmp(option, "--sun") == 0) {
        float zenith = 0.0f, azimuth = 0.0f;
        if (!ParseSun(value, &zenith, &azimuth)) {
            *error = "--sun needs ZENITH,AZIMUTH in degrees, for example --sun 50,20";
            return false;
        }
        if (!(zenith >= 0.0f && zenith <= kSkyMaxSunZenith)) {
            *error = "--sun: the zenith angle " + Number(zenith) + " is out of range (0 to 85 degrees)";
            return false;
        }
        if (!(azimuth >= 0.0f && azimuth < 360.0f)) {
            *error = "--sun: the azimuth " + Number(azimuth) + " is out of range (0 up to, not including, 360 degrees)";
            return false;
        }
        o->sunZenith = zenith;
        o->sunAzimuth = azimuth;
    } else if (std::strcmp(option, "--exposure") == 0) {
        float k = 0.0f;
        if (!ParseReal(value, &k)) {
            *error = "--exposure needs a number from 0.01 to 1";
            return false;
        }
        if (!(k >= kDomeMinExposure && k <= kDomeMaxExposure)) {
            *error = "--exposure: " + Number(k) + " is out of range (0.01 to 1)";
            return false;
        }
        o->exposure = k;
    } else {  // --resolution
        long rings = 0;
        if (value == nullptr || *value == '\0') {
            *error = "--resolution needs a whole number of rings from 1 to 32";
            return false;
        }
        errno = 0;
        char* end = nullptr;
        rings = std::strtol(value, &end, 10);
        if (errno != 0 || *end != '\0') {
            *error = "--resolution needs a whole number of rings from 1 to 32";
            return false;
        }
        if (rings < kDomeMinResolution || rings > kDomeMaxResolution) {
            *error = "--resolution: " + std::string(value) + " is out of range (1 to 32)";
            return false;
        }
        o->resolution = static_cast<int>(rings);
    }
    return true;
}
// The whole text must be one finite number, kept in double.
bool ParseDouble(const char* text, double* out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno == ERANGE || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool EndsWith(const std::string& name, const char* extension) {
    const std::size_t n = std::strlen(extension);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, extension) == 0;
}

// The options of skies for other tools: the sun from a place and a moment,
// the haze, and the exports.
bool ParseExportOption(const char* option, const char* value, SkydomeOptions* o, std::string* error) {
    const std::string name = option;
    if (name == "--turbidity") {
        float t = 0.0f;
        if (!ParseReal(value, &t)) {
            *error = "--turbidity needs a number from 1.7 to 10";
            return false;
        }
        if (!(t >= kSkyMinTurbidity && t <= kSkyMaxTurbidity)) {
            *error = "--turbidity: " + Number(t) + " is out of range (1.7 to 10)";
            return false;
        }
        o->turbidity = t;
    } else if (name == "--location") {
        const char* comma = value != nullptr ? std::strchr(value, ',') : nullptr;
        double latitude = 0.0, longitude = 0.0;
        if (comma == nullptr || !ParseDouble(std::string(value, comma).c_str(), &latitude) ||
            !ParseDouble(comma + 1, &longitude)) {
            *error =
                "--location needs LATITUDE,LONGITUDE in degrees (north and east positive), for example "
                "--location 48.8566,2.3522";
            return false;
        }
        if (!(latitude >= -90.0 && latitude <= 90.0)) {
            *error = "--location: the latitude " + std::string(value, comma) + " is out of range (-90 to 90 degrees)";
            return false;
        }
        if (!(longitude >= -180.0 && longitude <= 180.0)) {
            *error = "--location: the longitude " + std::string(comma + 1) + " is out of range (-180 to 180 degrees)";
            return false;
        }
        o->location = true;
        o->latitude = latitude;
        o->longitude = longitude;
    } else if (name == "--time") {
        std::string why;
        if (!SolarParseTime(value, &o->moment, &why)) {
            *error = "--time: " + why;
            return false;
        }
        o->time = true;
        o->timeText = value;
    } else if (name == "--export-gltf") {
        if (value == nullptr || !EndsWith(value, ".glb")) {
            *error = "--export-gltf needs a file name ending in .glb (glTF binary)";
            return false;
        }
        o->exportGltf = value;
    } else if (name == "--export-panorama") {
        if (PanoramaFormatOf(value) == PanoramaFormatNone) {
            *error =
                "--export-panorama needs a file name ending in .png (the program's colours) or .exr (linear, "
                "for lighting)";
            return false;
        }
        o->exportPanorama = value;
    } else {  // --panorama-size
        long width = 0;
        if (!ParseCount(value, &width) || width > kPanoramaMaxWidth || !PanoramaWidthValid(static_cast<int32>(width))) {
            *error = "--panorama-size needs an even width in pixels from 16 to 8192 (the height is half of it)";
            return false;
        }
        o->panoramaWidth = static_cast<int>(width);
    }
    return true;
}

bool IsExportOption(const char* a) {
    for (const char* name :
         {"--turbidity", "--location", "--time", "--export-gltf", "--export-panorama", "--panorama-size"}) {
        if (std::strcmp(a, name) == 0) return true;
    }
    return false;
}

// What the options ask for together.
bool CheckTogether(const SkydomeOptions* o, bool sunGiven, bool widthGiven, std::string* error) {
    if (sunGiven && o->location) {
        *error = "--sun and --location both place the sun: give one of them";
        return false;
    }
    if (o->location != o->time) {
        *error = o->location ? "--location needs --time: the sun's place depends on the moment"
                             : "--time needs --location: the sun's place depends on where it is seen";
        return false;
    }
    if (widthGiven && o->exportPanorama.empty()) {
        *error = "--panorama-size needs --export-panorama";
        return false;
    }
    if (o->exportOnly) {
        if (o->exportGltf.empty() && o->exportPanorama.empty() && o->saveDome.empty()) {
            *error = "--export-only needs something to write: --export-gltf, --export-panorama or --save-dome";
            return false;
        }
        if (!o->screenshot.empty() || o->frames >= 0) {
            *error = "--export-only shows no frames: leave out --frames and --screenshot";
            return false;
        }
    }
    // One file for two outputs would keep only the last written.
    const std::string* files[] = {&o->screenshot, &o->saveDome, &o->exportGltf, &o->exportPanorama};
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t j = i + 1; j < 4; ++j) {
            if (!files[i]->empty() && *files[i] == *files[j]) {
                *error = "two outputs name the same file " + *files[i];
                return false;
            }
        }
    }
    return true;
}

}  // namespace

SkydomeOptions* SkydomeGetOptions() { return &current; }

const char* SkydomeUsage() {
    return "usage: skydome [options] [-vms]\n"
           "\n"
           "Computes the clear daytime sky over a dome, shows it and saves it.\n"
           "\n"
           "options:\n"
           "  -vms          do not show the device-selection dialog; take the current mode\n"
           "  --frames N    quit after N frames (for unattended runs)\n"
           "  --screenshot FILE\n"
           "                after the last frame of a --frames run, write the picture\n"
           "                to FILE as PNG (the exit status is 1 when it cannot be written)\n"
           "  --save-dome FILE\n"
           "                save the dome to FILE when the run ends (after the last frame\n"
           "                of a --frames run); the exit status is 1 when it cannot be saved\n"
           "  --sun ZENITH,AZIMUTH\n"
           "                the sun's position in degrees: zenith angle 0 to 85, azimuth\n"
           "                0 up to 360 (default 50,20)\n"
           "  --exposure K  exposure, 0.01 to 1 (default 0.1)\n"
           "  --resolution R\n"
           "                rings of the dome, 1 to 32 (default 9)\n"
           "  --turbidity T haze, 1.7 (clearest) to 10 (hazy) (default 2)\n"
           "  --location LATITUDE,LONGITUDE\n"
           "  --time YYYY-MM-DDTHH:MM[:SS]+HH:MM\n"
           "                place the sun where it stands seen from that place (degrees,\n"
           "                north and east positive) at that moment (ISO 8601 with the\n"
           "                clock's UTC offset, or Z for UTC), instead of --sun; years\n"
           "                1901 to 2099. NOAA's solar equations, with their correction\n"
           "                for refraction: good to about 0.01 degrees away from the\n"
           "                horizon. The program prints the zenith angle, the compass\n"
           "                azimuth (from north, clockwise) and its own azimuth, which is\n"
           "                360 minus the compass azimuth (the dome's +z is north, +x\n"
           "                west). A sun lower than 5 degrees (or set) is refused.\n"
           "  --export-gltf FILE.glb\n"
           "                write the dome as glTF 2.0 binary at the end of the run\n"
           "                (vertex colours in linear light, one unlit material, y up)\n"
           "  --export-panorama FILE.png|FILE.exr\n"
           "                write the sky as an equirectangular panorama at the end of\n"
           "                the run: PNG with the program's colours, or OpenEXR with\n"
           "                half-float linear colours for lighting. North in the centre,\n"
           "                east three quarters across, zenith at the top; below the\n"
           "                horizon the horizon's colour\n"
           "  --panorama-size W\n"
           "                the panorama's width, even, 16 to 8192; the height is W/2\n"
           "                (default 2048)\n"
           "  --export-only write the files asked for (exports, --save-dome) without\n"
           "                opening a window or using OpenGL, and exit\n"
           "  --help        show this text and exit\n"
           "\n"
           "Escape or closing the window quits.\n";
}

bool SkydomeParseOptions(std::vector<char*>& args, SkydomeOptions* options, std::string* error) {
    std::vector<char*> rest;
    bool sunGiven = false;
    bool widthGiven = false;
    if (!args.empty()) rest.push_back(args[0]);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const char* a = args[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            options->help = true;
        } else if (std::strcmp(a, "--frames") == 0) {
            if (i + 1 >= args.size() || !ParseCount(args[i + 1], &options->frames)) {
                *error = "--frames needs a whole number of frames, 0 or more";
                return false;
            }
            ++i;
        } else if (std::strcmp(a, "--screenshot") == 0) {
            if (i + 1 >= args.size() || args[i + 1][0] == '\0') {
                *error = "--screenshot needs a file name";
                return false;
            }
            options->screenshot = args[i + 1];
            ++i;
        } else if (std::strcmp(a, "--save-dome") == 0) {
            const char* file = ValueOf(args, i);
            if (file == nullptr || file[0] == '\0') {
                *error = "--save-dome needs a file name";
                return false;
            }
            options->saveDome = file;
            ++i;
        } else if (std::strcmp(a, "--sun") == 0 || std::strcmp(a, "--exposure") == 0 ||
                   std::strcmp(a, "--resolution") == 0) {
            if (!ParseSkyOption(a, ValueOf(args, i), options, error)) return false;
            sunGiven = sunGiven || std::strcmp(a, "--sun") == 0;
            ++i;
        } else if (IsExportOption(a)) {
            if (!ParseExportOption(a, ValueOf(args, i), options, error)) return false;
            widthGiven = widthGiven || std::strcmp(a, "--panorama-size") == 0;
            ++i;
        } else if (std::strcmp(a, "--export-only") == 0) {
            options->exportOnly = true;
        } else if (std::strncmp(a, "--", 2) == 0) {
            *error = std::string("unknown option ") + a + " (see --help)";
            return false;
        } else {
            rest.push_back(args[i]);
        }
    }
    if (!options->screenshot.empty() && !options->help && options->frames < 1) {
        *error = "--screenshot needs --frames N with N at least 1 (the picture of the last frame is written)";
        return false;
    }
    if (!options->help && !CheckTogether(options, sunGiven, widthGiven, error)) return false;
    args = rest;
    return true;
}

}  // namespace kv
