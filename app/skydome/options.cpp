#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/skydome/dome.h"
#include "app/skydome/sky.h"
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

// "--show ground,wire,normals" turns those on; "none" turns every one off.
bool ParseShow(const char* list, SkydomeOptions* o, std::string* error) {
    if (list == nullptr || *list == '\0') {
        *error = "--show needs a list of overlays: ground, wire, normals or none (for example --show ground,wire)";
        return false;
    }
    std::string unknown;
    const std::string text(list);
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string name = text.substr(at, comma - at);
        if (name == "ground") {
            o->showGround = true;
        } else if (name == "wire") {
            o->showWire = true;
        } else if (name == "normals") {
            o->showNormals = true;
        } else if (name == "none") {
            o->showGround = o->showWire = o->showNormals = false;
        } else {
            unknown += (unknown.empty() ? "" : ", ") + (name.empty() ? std::string("(empty)") : "'" + name + "'");
        }
        at = comma + 1;
    }
    if (!unknown.empty()) {
        *error = "--show: unknown overlay " + unknown + " (known: ground, wire, normals, none)";
        return false;
    }
    return true;
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
           "  --show LIST   overlays to draw, comma-separated: ground, wire (the wire mesh\n"
           "                of the faces towards the viewer), normals (the vertex normals);\n"
           "                the ground is on unless 'none' turns every overlay off\n"
           "  --software-pipelines\n"
           "                draw with the engine's own software transform, clipping and\n"
           "                lighting instead of the driver's, to compare the two\n"
           "  --help        show this text and exit\n"
           "\n"
           "Escape or closing the window quits.\n";
}

bool SkydomeParseOptions(std::vector<char*>& args, SkydomeOptions* options, std::string* error) {
    std::vector<char*> rest;
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
            ++i;
        } else if (std::strcmp(a, "--show") == 0) {
            if (!ParseShow(ValueOf(args, i), options, error)) return false;
            ++i;
        } else if (std::strcmp(a, "--software-pipelines") == 0) {
            options->softwarePipelines = true;
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
    args = rest;
    return true;
}

}  // namespace kv
