#include "options.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/skydome/controls.h"
#include "app/skydome/dome.h"
#include "app/skydome/place_time.h"
#include "app/skydome/program_sky.h"
#include "engine/core/quoted_name.h"
#include "engine/core/types.h"
#include "engine/image/png_write.h"
#include "export/cubemap.h"
#include "export/export_file.h"
#include "export/panorama.h"
#include "sky/analytic_sky.h"
#include "sky/atmosphere.h"
#include "sky/atmosphere_medium.h"
#include "sky/exposure.h"
#include "sky/night_glow.h"
#include "sky/sun_position.h"

namespace kv {

namespace {

SkydomeOptions current;

// The range a number must fall in; values are checked at the precision they
// are kept in.
struct NumberRule {
    double min, max;
    bool maxExcluded;   // max itself is refused
    bool whole;         // a whole number
    const char* range;  // for messages: "0.01 to 1"
};

constexpr NumberRule kFramesRule = {0, 2147483647, false, true, "0 to 2147483647"};
constexpr NumberRule kResolutionRule = {kDomeMinResolution, kDomeMaxResolution, false, true, "1 to 32"};
constexpr NumberRule kExposureRule = {kDomeMinExposure, kDomeMaxExposure, false, false, "0.01 to 1"};
constexpr NumberRule kEvRule = {kExposureMinEV, kExposureMaxEV, false, false, "-16 to 22"};
constexpr NumberRule kZenithRule = {0, kSkyMaxSunZenith, false, false, "0 to 85 degrees"};
constexpr NumberRule kTwilightZenithRule = {0, kAtmosphereMaxSunZenith, false, false, "0 to 180 degrees"};
constexpr NumberRule kAlbedoRule = {0, 1, false, false, "0 to 1"};
constexpr NumberRule kAltitudeRule = {kAtmosphereMinAltitude, kAtmosphereMaxAltitude, false, false,
                                      "0 to 20000 metres"};
constexpr NumberRule kAzimuthRule = {0, 360, true, false, "0 up to, not including, 360 degrees"};
constexpr NumberRule kElevationRule = {-kViewMaxElevation, kViewMaxElevation, false, false, "-89.9 to 89.9 degrees"};
constexpr NumberRule kFovRule = {kViewMinFov, kViewMaxFov, false, false, "1 to 179 degrees"};
// In decimal: 1.7 as a float lies above 1.7 itself.
constexpr NumberRule kTurbidityRule = {1.7, 10.0, false, false, "1.7 to 10"};
constexpr NumberRule kDepthRule = {kAtmosphereMinDepth, kAtmosphereMaxDepth, false, false, "0.01 to 3"};
constexpr NumberRule kSkyBrightnessRule = {kNightSkyBrightest, kNightSkyDarkest, false, false,
                                           "14 to 22.5 magnitudes per square arcsecond"};
constexpr NumberRule kLatitudeRule = {-90, 90, false, false, "-90 to 90 degrees"};
constexpr NumberRule kLongitudeRule = {-180, 180, false, false, "-180 to 180 degrees"};
constexpr NumberRule kCubemapRule = {kCubemapMinSize, kCubemapMaxSize, false, true, "a power of two from 16 to 4096"};
// A time-lapse's frames at most: a day by the minute.
constexpr double kLapseMaxFrames = 1441;
constexpr NumberRule kLapseStepRule = {0, 1e9, false, false, "more than 0"};
constexpr NumberRule kPanoramaRule = {kPanoramaMinWidth, kPanoramaMaxWidth, false, true,
                                      "an even number from 16 to 8192"};

// Decimal only: an optional sign, digits with an optional point, an optional
// exponent. No hexadecimal, no "inf" or "nan", no spaces.
bool IsDecimal(const char* text) {
    const char* p = text;
    if (*p == '+' || *p == '-') ++p;
    std::size_t digits = 0;
    while (*p >= '0' && *p <= '9') ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') ++p, ++digits;
    }
    if (digits == 0) return false;
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!(*p >= '0' && *p <= '9')) return false;
        while (*p >= '0' && *p <= '9') ++p;
    }
    return *p == '\0';
}

enum class NumberFault { None, NotANumber, OutOfRange };

// The one number reader of every option. A number too small to tell from 0
// is 0; one too large for a double is out of range.
NumberFault ReadNumber(const char* text, const NumberRule& rule, double* out) {
    if (text == nullptr || !IsDecimal(text)) return NumberFault::NotANumber;
    errno = 0;
    const double v = std::strtod(text, nullptr) + 0.0;  // no negative zero
    if (std::isinf(v)) return NumberFault::OutOfRange;
    if (rule.whole && v != std::floor(v)) return NumberFault::NotANumber;
    if (v < rule.min || v > rule.max || (rule.maxExcluded && v >= rule.max)) return NumberFault::OutOfRange;
    *out = v;
    return NumberFault::None;
}

// Single precision, as the program keeps its angles and factors. A value
// inside an open upper bound stays inside it (359.99999 degrees does not
// become 360, which is 0).
NumberFault ReadReal(const char* text, const NumberRule& rule, float* out) {
    double v = 0.0;
    const NumberFault fault = ReadNumber(text, rule, &v);
    if (fault != NumberFault::None) return fault;
    float f = static_cast<float>(v);
    if (f < static_cast<float>(rule.min) || f > static_cast<float>(rule.max)) return NumberFault::OutOfRange;
    if (rule.maxExcluded && f >= static_cast<float>(rule.max)) f = std::nextafter(static_cast<float>(rule.max), 0.0f);
    *out = f;
    return NumberFault::None;
}

// The skeleton's own option, passed on to it.
constexpr const char* kNoDialog = "-vms";
// --help: help text from this column, lines at most this wide (the help page
// in the program indents them by two, to its 78).
constexpr std::size_t kUsageColumn = 24;
constexpr std::size_t kUsageWidth = 76;

struct OptionSpec;
using ApplyFn = bool (*)(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error);

// One row per option: its name, the name of its value (null: it takes none),
// its lines of help, and what it does. --help is made from this table.
struct OptionSpec {
    const char* name = nullptr;
    const char* value = nullptr;
    const char* help = nullptr;
    ApplyFn apply = nullptr;
    const NumberRule* rule = nullptr;                           // numeric options
    float SkydomeOptions::*real = nullptr;                      // options of one real number
    std::string SkydomeOptions::*file = nullptr;                // file options
    std::vector<std::string> SkydomeOptions::*files = nullptr;  // file options that may be repeated
    const char* needs = nullptr;                                // what a malformed value is told it needs
};

// A value as messages show it: in double quotes, or quoted as ls quotes a
// name when it holds what a terminal would obey.
std::string Shown(const std::string& value) {
    const std::string quoted = QuotedName(value);
    return quoted == value ? "\"" + value + "\"" : quoted;
}

// What the command line and settings files gave, for the checks made once
// every option is known.
struct Given {
    bool sun = false;
    bool cube = false;
    bool aerosols = false;
    bool width = false;
    bool altitude = false;
    bool skyBrightness = false;
};
Given given;

bool ApplyOption(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error);

std::string Refuse(const OptionSpec& spec, const char* value) {
    std::string e = std::string(spec.name) + " needs " + spec.needs;
    if (value != nullptr) e += ", not " + Shown(value);
    return e;
}

std::string OutOfRange(const OptionSpec& spec, const char* what, const char* value, const NumberRule& rule) {
    return std::string(spec.name) + ": " + what + value + " is out of range (" + rule.range + ")";
}

bool ApplyHelp(const OptionSpec&, const char*, SkydomeOptions* o, std::string*) {
    o->help = true;
    return true;
}

bool ApplyVersion(const OptionSpec&, const char*, SkydomeOptions* o, std::string*) {
    o->version = true;
    return true;
}

// An option's one number by its rule, or the message saying what is wrong.
bool Explain(const OptionSpec& spec, const char* value, NumberFault fault, std::string* error) {
    switch (fault) {
        case NumberFault::NotANumber:
            *error = Refuse(spec, value);
            return false;
        case NumberFault::OutOfRange:
            *error = OutOfRange(spec, "", value, *spec.rule);
            return false;
        case NumberFault::None:
            break;
    }
    return true;
}
bool OptionNumber(const OptionSpec& spec, const char* value, double* out, std::string* error) {
    return Explain(spec, value, ReadNumber(value, *spec.rule, out), error);
}
bool OptionReal(const OptionSpec& spec, const char* value, float* out, std::string* error) {
    return Explain(spec, value, ReadReal(value, *spec.rule, out), error);
}

bool ApplyFrames(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    double v = 0.0;
    if (!OptionNumber(spec, value, &v, error)) return false;
    o->frames = static_cast<long>(v);
    return true;
}

bool ApplyResolution(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    double v = 0.0;
    if (!OptionNumber(spec, value, &v, error)) return false;
    o->resolution = static_cast<int>(v);
    return true;
}

// Two angles, "FIRST,SECOND", each read by its rule.
struct AnglePair {
    const NumberRule* first;
    const NumberRule* second;
    const char* firstName;  // for messages: "the zenith angle "
    const char* secondName;
};

bool ReadAnglePair(const OptionSpec& spec, const char* value, const AnglePair& pair, float* first, float* second,
                   std::string* error) {
    const char* comma = value != nullptr ? std::strchr(value, ',') : nullptr;
    if (comma == nullptr) {
        *error = Refuse(spec, value);
        return false;
    }
    const std::string firstText(value, comma);
    const char* secondText = comma + 1;
    float a = 0.0f, b = 0.0f;
    const NumberFault fa = ReadReal(firstText.c_str(), *pair.first, &a);
    const NumberFault fb = ReadReal(secondText, *pair.second, &b);
    if (fa == NumberFault::NotANumber || fb == NumberFault::NotANumber) {
        *error = Refuse(spec, value);
        return false;
    }
    if (fa == NumberFault::OutOfRange) {
        *error = OutOfRange(spec, pair.firstName, firstText.c_str(), *pair.first);
        return false;
    }
    if (fb == NumberFault::OutOfRange) {
        *error = OutOfRange(spec, pair.secondName, secondText, *pair.second);
        return false;
    }
    *first = a;
    *second = b;
    return true;
}

bool ApplyTurbidity(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    return OptionReal(spec, value, &o->turbidity, error);
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "LATITUDE,LONGITUDE", kept in double: the sun's place needs no rounding.
bool ApplyLocation(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    const char* comma = value != nullptr ? std::strchr(value, ',') : nullptr;
    if (comma == nullptr) {
        *error = Refuse(spec, value);
        return false;
    }
    // Blanks round the numbers are let be: map applications copy a place as
    // "40.7128, -74.0060".
    const std::string latitudeText = Trimmed(std::string(value, comma));
    const std::string longitudeString = Trimmed(comma + 1);
    const char* longitudeText = longitudeString.c_str();
    double latitude = 0.0, longitude = 0.0;
    const NumberFault a = ReadNumber(latitudeText.c_str(), kLatitudeRule, &latitude);
    const NumberFault b = ReadNumber(longitudeText, kLongitudeRule, &longitude);
    if (a == NumberFault::NotANumber || b == NumberFault::NotANumber) {
        *error = Refuse(spec, value);
        return false;
    }
    if (a == NumberFault::OutOfRange) {
        *error = OutOfRange(spec, "the latitude ", latitudeText.c_str(), kLatitudeRule);
        return false;
    }
    if (b == NumberFault::OutOfRange) {
        *error = OutOfRange(spec, "the longitude ", longitudeText, kLongitudeRule);
        return false;
    }
    o->location = true;
    o->latitude = latitude;
    o->longitude = longitude;
    return true;
}

// Read by ReadTime once the options are all known: --zone may follow it.
bool ApplyTime(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value == nullptr) {
        *error = Refuse(spec, nullptr);
        return false;
    }
    o->time = true;
    o->timeText = value;
    return true;
}

// A name of the tz database, as a file under its folder: no absolute path and
// no way out of the folder (a missing zone would quietly be UTC).
bool ZoneExists(const std::string& zone) {
    if (zone.empty() || zone[0] == '/' || zone.find("..") != std::string::npos) return false;
    const char* folder = std::getenv("TZDIR");
    const std::string file =
        std::string(folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo") + "/" + zone;
    struct stat info;
    return stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ApplyZone(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value == nullptr || !ZoneExists(value)) {
        *error = Refuse(spec, value);
        if (value != nullptr) *error += " (the system's tz database has no such zone)";
        return false;
    }
    o->zone = value;
    return true;
}

// --time, with the offset it gives or, with --zone, the one that zone's clock
// had then.
bool ReadTime(SkydomeOptions* o, std::string* error) {
    const char* name = "--time";
    std::string why;
    // The clock's moment, read once: what is written afterwards (the batch
    // run's line, a settings file) gives that moment again, not "now".
    if (o->timeText == "now") {
        o->moment = PlaceTimeNow(o->zone);
        o->timeText = PlaceTimeIso(o->moment);
        return true;
    }
    if (o->zone.empty()) {
        if (SolarParseTime(o->timeText.c_str(), &o->moment, &why)) return true;
        *error = std::string(name) + ": " + why + ", not " + Shown(o->timeText);
        return false;
    }
    SolarTime t{};
    if (!SolarParseTime((o->timeText + "Z").c_str(), &t, &why)) {
        if (SolarParseTime(o->timeText.c_str(), &t, &why)) {
            *error = std::string(name) + " with --zone takes the clock's reading without a UTC offset, not " +
                     Shown(o->timeText);
        } else {
            *error = std::string(name) + ": " + why + ", not " + Shown(o->timeText);
        }
        return false;
    }
    t.offsetMinutes = ZoneOffsetMinutes(o->zone, t);
    o->moment = t;
    return true;
}

bool ApplyPanoramaSize(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    double v = 0.0;
    if (!OptionNumber(spec, value, &v, error)) return false;
    // Whole and in range; an odd width has no half height.
    if (!PanoramaWidthValid(static_cast<int32>(v))) {
        *error = OutOfRange(spec, "", value, *spec.rule);
        return false;
    }
    o->panoramaWidth = static_cast<int>(v);
    return true;
}

bool ApplyExportOnly(const OptionSpec&, const char*, SkydomeOptions* o, std::string*) {
    o->exportOnly = true;
    return true;
}

bool ApplyFile(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error);

// Export files: the name's extension says the format.
bool ApplyGltf(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value != nullptr && *value != '\0' && !EndsWith(value, ".glb")) {
        *error = Refuse(spec, value);
        return false;
    }
    return ApplyFile(spec, value, o, error);
}

bool ApplyPanorama(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value != nullptr && *value != '\0' && PanoramaFormatOf(value) == PanoramaFormatNone) {
        *error = Refuse(spec, value);
        return false;
    }
    return ApplyFile(spec, value, o, error);
}

bool ApplyCubemap(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value != nullptr && *value != '\0' && CubemapFormatOf(value) == CubemapFormatNone) {
        *error = Refuse(spec, value);
        return false;
    }
    return ApplyFile(spec, value, o, error);
}

bool ApplyIrradiance(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value != nullptr && *value != '\0' && !EndsWith(value, ".json")) {
        *error = Refuse(spec, value);
        return false;
    }
    return ApplyFile(spec, value, o, error);
}

bool ApplyCubemapSize(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    double v = 0.0;
    if (!OptionNumber(spec, value, &v, error)) return false;
    if (!CubemapSizeValid(static_cast<int32>(v))) {
        *error = OutOfRange(spec, "", value, *spec.rule);
        return false;
    }
    o->cubemapSize = static_cast<int>(v);
    return true;
}

bool ApplyCubemapMips(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    const char* names[] = {"none", "box", "specular"};
    for (int i = 0; i < 3; ++i) {
        if (value != nullptr && std::strcmp(value, names[i]) == 0) {
            o->cubemapMips = i;
            return true;
        }
    }
    *error = Refuse(spec, value);
    return false;
}

// "START,END,STEP": two moments as --time takes them and a step of seconds,
// minutes or hours ("90s", "15min", "1h").
bool ApplyTimeLapse(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    const std::string text = value != nullptr ? value : "";
    const std::size_t first = text.find(',');
    const std::size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    if (second == std::string::npos || text.find(',', second + 1) != std::string::npos) {
        *error = Refuse(spec, value);
        return false;
    }
    const std::string start = text.substr(0, first);
    const std::string end = text.substr(first + 1, second - first - 1);
    std::string step = text.substr(second + 1);
    std::string why;
    for (const std::string* moment : {&start, &end}) {
        SolarTime t{};
        if (!SolarParseTime(moment->c_str(), &t, &why)) {
            *error = std::string(spec.name) + ": " + why + ", not \"" + *moment + "\"";
            return false;
        }
        (moment == &start ? o->lapseStart : o->lapseEnd) = t;
    }
    double unit = 0.0;
    for (const auto& [suffix, seconds] : {std::pair<const char*, double>{"min", 60.0}, {"h", 3600.0}, {"s", 1.0}}) {
        const std::size_t n = std::strlen(suffix);
        if (step.size() > n && step.compare(step.size() - n, n, suffix) == 0) {
            unit = seconds;
            step.resize(step.size() - n);
            break;
        }
    }
    double amount = 0.0;
    if (unit == 0.0 || ReadNumber(step.c_str(), kLapseStepRule, &amount) != NumberFault::None || amount <= 0.0) {
        *error = Refuse(spec, value);
        return false;
    }
    o->lapseStep = amount * unit;
    const double span = (SolarJulianDay(o->lapseEnd) - SolarJulianDay(o->lapseStart)) * 86400.0;
    if (span < 0.0) {
        *error = std::string(spec.name) + ": the end " + end + " comes before the start " + start;
        return false;
    }
    // The Julian days' rounding (tens of microseconds) is no moment more or less.
    if (std::floor(span / o->lapseStep + 1e-6) + 1 > kLapseMaxFrames) {
        *error = std::string(spec.name) + ": " + std::to_string(static_cast<long>(span / o->lapseStep + 1e-6) + 1) +
                 " moments; at most 1441 are written (a day by the minute)";
        return false;
    }
    o->lapseText[0] = start;
    o->lapseText[1] = end;
    o->timeLapse = true;
    return true;
}

// "ZENITH,AZIMUTH", read by ReadSun once the sky model is known: the
// physical sky takes a sun below the horizon.
bool ApplySun(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value == nullptr || *value == '\0') {
        *error = Refuse(spec, value);
        return false;
    }
    o->sunText = value;
    return true;
}

bool ReadSun(const OptionSpec& spec, SkydomeOptions* o, std::string* error) {
    const NumberRule* zenith = o->sky == SkyModelPhysical ? &kTwilightZenithRule : &kZenithRule;
    const AnglePair sun = {zenith, &kAzimuthRule, "the zenith angle ", "the azimuth "};
    if (ReadAnglePair(spec, o->sunText.c_str(), sun, &o->sunZenith, &o->sunAzimuth, error)) return true;
    // A sun the analytic sky cannot hold may be one the physical sky can.
    float z = 0.0f, a = 0.0f;
    const AnglePair twilight = {&kTwilightZenithRule, &kAzimuthRule, "", ""};
    std::string ignored;
    if (o->sky != SkyModelPhysical && ReadAnglePair(spec, o->sunText.c_str(), twilight, &z, &a, &ignored)) {
        *error += "; --sky physical takes a sun anywhere, below the horizon too (zenith angle up to 180)";
    }
    return false;
}

// Which of two names the value is: 0 or 1, or -1 (refused) for neither.
int Choice(const OptionSpec& spec, const char* value, const char* first, const char* second, std::string* error) {
    for (int i = 0; i < 2; ++i) {
        if (value != nullptr && std::strcmp(value, i == 0 ? first : second) == 0) return i;
    }
    *error = Refuse(spec, value);
    return -1;
}

bool ApplySky(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    const int kind = Choice(spec, value, kSkyModelNames[SkyModelPreetham], kSkyModelNames[SkyModelPhysical], error);
    if (kind >= 0) o->sky = kind == 0 ? SkyModelPreetham : SkyModelPhysical;
    return kind >= 0;
}

bool ApplyAerosols(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    for (int kind = 0; kind < kAtmosphereAerosolKinds; ++kind) {
        if (value != nullptr && std::strcmp(value, kAtmosphereAerosolNames[kind]) == 0) {
            o->aerosols.kind = static_cast<AtmosphereAerosolKind>(kind);
            return true;
        }
    }
    *error = Refuse(spec, value);
    return false;
}

bool ApplyDepth(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    return OptionReal(spec, value, &o->aerosols.depth550, error);
}

bool ApplyDomeFacing(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    const int side = Choice(spec, value, "inward", "outward", error);
    if (side >= 0) o->domeFacing = side == 0 ? DomeFacingInward : DomeFacingOutward;
    return side >= 0;
}

// "ELEVATION,AZIMUTH"
bool ApplyLook(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    constexpr AnglePair kLook = {&kElevationRule, &kAzimuthRule, "the elevation ", "the azimuth "};
    if (!ReadAnglePair(spec, value, kLook, &o->lookElevation, &o->lookAzimuth, error)) return false;
    o->look = true;
    return true;
}

// "auto" (photographic exposure, metered) or the exposure curve's K.
bool ApplyExposure(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value != nullptr && std::strcmp(value, "auto") == 0) {
        o->exposureChoice = ExposureChoiceAuto;
        return true;
    }
    if (!OptionReal(spec, value, &o->exposure, error)) return false;
    o->exposureChoice = ExposureChoiceCurve;
    return true;
}

// A fixed EV100 for photographic exposure.
bool ApplyEv(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (!OptionReal(spec, value, &o->ev, error)) return false;
    o->exposureChoice = ExposureChoiceEv;
    return true;
}

// A number kept in single precision.
bool ApplyReal(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    return OptionReal(spec, value, &(o->*spec.real), error);
}

bool ApplyView(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value != nullptr && std::strcmp(value, "orbit") == 0) {
        o->preview = false;
    } else if (value != nullptr && std::strcmp(value, "preview") == 0) {
        o->preview = true;
    } else {
        *error = Refuse(spec, value);
        return false;
    }
    return true;
}

// The overlays --show names, with what each turns on.
struct Overlay {
    const char* name;
    bool SkydomeOptions::*shown;
};
constexpr Overlay kOverlays[] = {
    {"ground", &SkydomeOptions::showGround},   {"wire", &SkydomeOptions::showWire},
    {"normals", &SkydomeOptions::showNormals}, {"flares", &SkydomeOptions::showFlares},
    {"data", &SkydomeOptions::showData},       {"fps", &SkydomeOptions::showFps},
    {"menu", &SkydomeOptions::showMenu},
};

std::string OverlayNames() {
    std::string names;
    for (const Overlay& overlay : kOverlays) names += std::string(overlay.name) + ", ";
    return names + "none";
}

// "ground,wire" turns those on; "none" turns every one off (names after it
// turn on again). Every unknown name is listed in the message.
bool ApplyShow(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value == nullptr || *value == '\0') {
        *error = Refuse(spec, value);
        return false;
    }
    SkydomeOptions shown = *o;
    std::string unknown;
    const std::string text(value);
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string name = text.substr(at, comma - at);
        at = comma + 1;
        if (name == "none") {
            for (const Overlay& overlay : kOverlays) shown.*overlay.shown = false;
            continue;
        }
        bool known = false;
        for (const Overlay& overlay : kOverlays) {
            if (name != overlay.name) continue;
            shown.*overlay.shown = true;
            known = true;
        }
        if (!known)
            unknown += (unknown.empty() ? "" : ", ") + (name.empty() ? std::string("(empty)") : "'" + name + "'");
    }
    if (!unknown.empty()) {
        *error = std::string(spec.name) + ": unknown overlay " + unknown + " (known: " + OverlayNames() + ")";
        return false;
    }
    *o = shown;
    return true;
}

bool ApplySoftwarePipelines(const OptionSpec&, const char*, SkydomeOptions* o, std::string*) {
    o->softwarePipelines = true;
    return true;
}

bool ApplyVerbose(const OptionSpec&, const char*, SkydomeOptions* o, std::string*) {
    o->verbose = true;
    return true;
}

// The picture is PNG whatever the name says: a name that says otherwise is
// refused, as the panorama's is.
bool ApplyScreenshot(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value != nullptr && *value != '\0' && !PngFileNameFits(value)) {
        *error = Refuse(spec, value);
        return false;
    }
    return ApplyFile(spec, value, o, error);
}

// A folder that is there: a mistyped name would quietly fall back on the
// program's own data.
bool ApplyData(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    struct stat info;
    const bool there = value != nullptr && *value != '\0' && stat(value, &info) == 0;
    if (!there || !S_ISDIR(info.st_mode)) {
        *error = Refuse(spec, value);
        if (value != nullptr && *value != '\0')
            *error += there ? " (it is not a folder)" : " (there is no such folder)";
        return false;
    }
    o->dataFolder = value;
    return true;
}

bool ApplyFile(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value == nullptr || *value == '\0') {
        *error = Refuse(spec, nullptr);
        return false;
    }
    if (spec.files != nullptr) {
        (o->*spec.files).push_back(value);
    } else {
        o->*spec.file = value;
    }
    return true;
}

// A settings file: one JSON object whose names are the options' without
// "--", each with the option's value (a string or a number; an array of them
// for an option given more than once; true for an option without a value).
// Applied in the file's order where --settings stands: options after it
// change what it set.
constexpr std::size_t kSettingsMaxBytes = 1 << 20;

const OptionSpec* FindOption(const char* name);

bool ApplySettingValue(const OptionSpec& spec, const nlohmann::json& v, SkydomeOptions* o, std::string* error) {
    if (spec.value == nullptr) {
        if (!v.is_boolean()) {
            *error = "needs true or false";
            return false;
        }
        return !v.get<bool>() || ApplyOption(spec, nullptr, o, error);
    }
    std::string text;
    if (v.is_string()) {
        text = v.get<std::string>();
    } else if (v.is_number()) {
        char number[40];
        // Every digit of the double, so that the number read is the one written.
        std::snprintf(number, sizeof number, "%.17g", v.get<double>());
        text = number;
    } else {
        *error = "needs a string or a number";
        return false;
    }
    return ApplyOption(spec, text.c_str(), o, error);
}

bool ApplySettings(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (value == nullptr || *value == '\0') {
        *error = Refuse(spec, nullptr);
        return false;
    }
    const std::string head = std::string(spec.name) + " " + value + ": ";
    errno = 0;
    std::ifstream in(value, std::ios::binary);
    struct stat info;
    if (!in || stat(value, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = head + (errno != 0 ? std::strerror(errno) : "it cannot be read") +
                 " (give a settings file that "
                 "Save settings wrote, or one of your own)";
        return false;
    }
    if (static_cast<std::size_t>(info.st_size) > kSettingsMaxBytes) {
        *error = head + "it is larger than 1 MB, too large for a settings file";
        return false;
    }
    nlohmann::json settings;
    try {
        settings = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        std::string what = e.what();
        const std::size_t end = what.find("] ");
        if (what.rfind("[json", 0) == 0 && end != std::string::npos) what = what.substr(end + 2);
        *error = head + "not JSON: " + what;
        return false;
    }
    if (!settings.is_object()) {
        *error = head + "expected one JSON object of settings, {\"name\": value, ...}";
        return false;
    }
    for (const auto& [name, v] : settings.items()) {
        const OptionSpec* option = FindOption(("--" + name).c_str());
        if (option == nullptr || option->apply == ApplySettings || option->apply == ApplyHelp ||
            option->apply == ApplyVersion) {
            *error = head + "unknown setting \"" + name +
                     "\" (the settings are the options of --help, named "
                     "without --)";
            return false;
        }
        std::string why;
        bool ok = true;
        if (v.is_array()) {
            for (const nlohmann::json& item : v) ok = ok && ApplySettingValue(*option, item, o, &why);
        } else {
            ok = ApplySettingValue(*option, v, o, &why);
        }
        if (!ok) {
            // The option's own words name it with "--"; the file's name goes first.
            *error = head + "\"" + name + "\" " + why;
            return false;
        }
    }
    return true;
}

// The one source of the options' help: --help is made from this table, the
// help page in the program and the manual page from --help. The help text is
// one paragraph, wrapped where it is shown.
const OptionSpec kOptions[] = {
    {.name = "--frames",
     .value = "N",
     .help = "quit after N frames (for unattended runs)",
     .apply = ApplyFrames,
     .rule = &kFramesRule,
     .needs = "a whole number of frames, 0 or more"},
    {.name = "--screenshot",
     .value = "FILE.png",
     .help = "after the last frame of a --frames run, write the picture to FILE.png as PNG (a device or a pipe, "
             "such as /dev/stdout, takes it under any name)",
     .apply = ApplyScreenshot,
     .file = &SkydomeOptions::screenshot,
     .needs = "a file name ending in .png (the picture is written as PNG)"},
    {.name = "--save-dome",
     .value = "FILE",
     .help = "save the dome to FILE when the run ends (after the last frame of a --frames run, or when interrupted)",
     .apply = ApplyFile,
     .files = &SkydomeOptions::saveDome,
     .needs = "a file name"},
    {.name = "--sun",
     .value = "ZENITH,AZIMUTH",
     .help = "the sun's position in degrees: zenith angle 0 to 85 (to 180 with --sky physical: below the "
             "horizon, through twilight into the night), and azimuth 0 up to 360, the program's own: from north "
             "towards west, so 0 is "
             "north, 90 west, 180 south and 270 east (the compass azimuth is 360 less it). --sun 40,90 puts the "
             "sun 50 degrees high in the west (default 50,20)",
     .apply = ApplySun,
     .needs = "ZENITH,AZIMUTH in degrees, for example --sun 50,20"},
    {.name = "--exposure",
     .value = "K",
     .help = "exposure, 0.01 to 1 (default 0.1), or auto: photographic exposure, metered from the view as a "
             "camera's meter does (K = 12.5), the sun's and the moon's discs keeping their colour (the default "
             "with --sky physical). It also makes the PNG panoramas",
     .apply = ApplyExposure,
     .rule = &kExposureRule,
     .needs = "a number from 0.01 to 1, or auto"},
    {.name = "--ev",
     .value = "N",
     .help = "photographic exposure fixed at N, the exposure value at ISO 100, -16 to 22 (for example 15 for a "
             "sunny day, 0 for dusk, -6 for moonlight), in the window and the PNG panoramas",
     .apply = ApplyEv,
     .rule = &kEvRule,
     .needs = "a number from -16 to 22"},
    {.name = "--resolution",
     .value = "R",
     .help = "rings of the dome, 1 to 32 (default 9)",
     .apply = ApplyResolution,
     .rule = &kResolutionRule,
     .needs = "a whole number of rings from 1 to 32"},
    {.name = "--view",
     .value = "VIEW",
     .help = "the view at start: orbit (the dome from outside, the default) or preview (from the dome's centre)",
     .apply = ApplyView,
     .needs = "orbit or preview"},
    {.name = "--look",
     .value = "ELEVATION,AZIMUTH",
     .help = "where the preview camera looks, in degrees: elevation up to 89.9 above the horizon or below it "
             "(negative), azimuth 0 up to 360 (default 25,345)",
     .apply = ApplyLook,
     .needs = "ELEVATION,AZIMUTH in degrees, for example --look 25,345"},
    {.name = "--fov",
     .value = "DEG",
     .help = "the field of view of the view shown at start, 1 to 179 degrees (default 45 in the orbit view, 90 in "
             "the preview)",
     .apply = ApplyReal,
     .rule = &kFovRule,
     .real = &SkydomeOptions::fov,
     .needs = "a number of degrees from 1 to 179"},
    {.name = "--turbidity",
     .value = "T",
     .help = "haze, 1.7 (clearest) to 10 (hazy) (default 2). In the physical sky the aerosols' "
             "optical depth at 550 nm is 2.175 (0.04608 T - 0.04586), and with it the Linke turbidity (at "
             "air mass 2, continental aerosols, 1.4 cm of precipitable water): T 1.7 gives depth 0.07 and Linke "
             "2.6, a very clean sky (mountain or polar air); T 2, 0.10 and 2.8, a clear day; T 3, 0.20 and 3.5, an "
             "ordinary clear summer day; T 4, 0.30 and 4.2, a hazy day; T 6, 0.50 and 5.5, a polluted city or "
             "light dust; T 10, 0.90 and 8.3, thick haze or a dust storm's edge. --aod gives the depth itself",
     .apply = ApplyTurbidity,
     .rule = &kTurbidityRule,
     .needs = "a number from 1.7 to 10"},
    {.name = "--sky",
     .value = "MODEL",
     .help = "the sky model: preetham (the analytic daylight model, the\n"
             "default) or physical (a physical atmosphere of air, aerosols\n"
             "and ozone with multiple scattering: twilight down to 10 degrees\n"
             "below the horizon; about half a second to set up)",
     .apply = ApplySky,
     .needs = "preetham or physical"},
    {.name = "--albedo",
     .value = "A",
     .help = "the ground's albedo, 0 to 1 (default 0.3): the ground below\n"
             "the horizon in the panoramas, and in the physical sky the\n"
             "light the ground sends back into the air",
     .apply = ApplyReal,
     .rule = &kAlbedoRule,
     .real = &SkydomeOptions::albedo,
     .needs = "a number from 0 to 1"},
    {.name = "--altitude",
     .value = "M",
     .help = "the viewer's height above the ground in metres, 0 to 20000\n"
             "(default 0), with --sky physical",
     .apply = ApplyReal,
     .rule = &kAltitudeRule,
     .real = &SkydomeOptions::altitude,
     .needs = "a number of metres from 0 to 20000"},
    {.name = "--aerosols",
     .value = "KIND",
     .help = "the physical sky's aerosols: continental (the default),\n"
             "maritime, urban or desert, with the optical properties and\n"
             "the height of the standard mixtures of the climatology of\n"
             "Hess et al. 1998: how much light they absorb, how narrow a\n"
             "glow they make round the sun, how their haze tints with\n"
             "wavelength and how high it reaches (2 km; 6 km for desert dust)",
     .apply = ApplyAerosols,
     .needs = "continental, maritime, urban or desert"},
    {.name = "--aod",
     .value = "TAU",
     .help = "the physical sky's aerosol optical depth at 550 nm, 0.01 to 3,\n"
             "for a measured sky (a sun photometer's reading): it takes the\n"
             "place of what --turbidity gives. Typical clean continental air\n"
             "is 0.05 to 0.1, a hazy summer day 0.3, a polluted city or\n"
             "desert dust 0.5 and more",
     .apply = ApplyDepth,
     .rule = &kDepthRule,
     .needs = "an optical depth from 0.01 to 3"},
    {.name = "--sky-brightness",
     .value = "MAG",
     .help = "the physical sky's moonless zenith at night, in V magnitudes per\n"
             "square arcsecond, 14 to 22.5, for a site with light pollution\n"
             "(a sky-quality meter's reading): 22 is a dark site, 21 a rural\n"
             "sky, 19 a suburb, 17 a city. A town's light is added to the\n"
             "natural night (airglow, zodiacal light, faint stars) up to\n"
             "that brightness, brightening towards the horizon. Without it\n"
             "the site is dark, 21.5 to 22 at the zenith",
     .apply = ApplyReal,
     .rule = &kSkyBrightnessRule,
     .real = &SkydomeOptions::skyBrightness,
     .needs = "a brightness from 14 to 22.5 magnitudes per square arcsecond"},
    {.name = "--location",
     .value = "LATITUDE,LONGITUDE",
     .help = "with --time, instead of --sun: the sun as seen from that place "
             "(degrees, north and east positive) at that moment. NOAA's solar "
             "equations with their refraction correction, for the years 1901 "
             "to 2099: good to about 0.01 degrees away from the horizon. The "
             "program prints the zenith angle, the compass azimuth (from north, "
             "clockwise) and its own azimuth, which is 360 minus the compass "
             "azimuth (the dome's +z is north, +x west). A sun lower than 5 "
             "degrees, or set, is refused, except with --sky physical, which "
             "takes the sun wherever it is, twilight and night included",
     .apply = ApplyLocation,
     .needs = "LATITUDE,LONGITUDE in degrees, for example --location 48.8566,2.3522"},
    {.name = "--time",
     .value = "ISO8601",
     .help = "the moment for --location: YYYY-MM-DDTHH:MM[:SS[.fff]] with the clock's UTC offset, for example "
             "2026-06-21T18:00+02:00 (Z for UTC); the other forms of ISO 8601 and RFC 3339 too (a space or t for "
             "the T, 23:59:60 leap seconds, week and ordinal dates); or now: the system clock's moment when the "
             "program starts, to the minute, shown on the clock of --zone (else in UTC); a saved settings file "
             "holds that moment, not now",
     .apply = ApplyTime,
     .needs = "a date and time with a UTC offset, for example 2026-06-21T18:00+02:00"},
    {.name = "--zone",
     .value = "ZONE",
     .help = "read --time on the clock of that zone of the system's tz database, for example --time 2026-06-21T18:00 "
             "--zone Europe/Paris (the time then has no UTC offset of its own; summer time is the zone's)",
     .apply = ApplyZone,
     .needs = "a zone of the tz database, for example Europe/Paris"},
    {.name = "--export-gltf",
     .value = "FILE.glb",
     .help = "write the dome as glTF 2.0 binary when the run ends (vertex "
             "colours in linear light, one unlit material, y up, +z north) "
             "with the sun as a directional light (KHR_lights_punctual)",
     .apply = ApplyGltf,
     .files = &SkydomeOptions::exportGltf,
     .needs = "a file name ending in .glb (glTF binary)"},
    {.name = "--export-panorama",
     .value = "FILE.png|.exr|.hdr",
     .help = "write the sky as an equirectangular panorama when the run ends: "
             "PNG with the program's colours, or for lighting linear Rec. 709 "
             "with the sun: OpenEXR in 32-bit floats (1 = 1000 cd/m^2) or "
             "Radiance .hdr (1 = 179 cd/m^2). Zenith at the top, north in the "
             "centre, east three quarters across; below the horizon the ground",
     .apply = ApplyPanorama,
     .files = &SkydomeOptions::exportPanorama,
     .needs = "a file name ending in .png (the program's colours), .exr or .hdr (linear, for lighting)"},
    {.name = "--panorama-size",
     .value = "W",
     .help = "the panorama's width in pixels, even, 16 to 8192; its height is W/2 (default 2048)",
     .apply = ApplyPanoramaSize,
     .rule = &kPanoramaRule,
     .needs = "an even width in pixels from 16 to 8192"},
    {.name = "--export-cubemap",
     .value = "FILE.dds|.ktx2|.png",
     .help = "write the sky as a cube map for game engines when the run ends: linear Rec. 709 RGBA in 16-bit floats "
             "(1 = 100000 cd/m^2, so that the sun's disc fits), the sun's disc keeping its light. DDS (DX10 header, "
             "DXGI_FORMAT_R16G16B16A16_FLOAT) in Direct3D's left-handed frame: +X east, -X west, +Y up, -Y down, "
             "+Z north, -Z south; KTX2 (VK_FORMAT_R16G16B16A16_SFLOAT) in Vulkan's right-handed one, as glTF: +X "
             "west, -X east, +Y up, -Y down, +Z north, -Z south. The faces' order and orientation are each "
             "format's own. PNG: the six faces to look at, in the program's colours, as a cross (up; west, north, "
             "east, south; down)",
     .apply = ApplyCubemap,
     .files = &SkydomeOptions::exportCubemap,
     .needs = "a file name ending in .dds (Direct3D), .ktx2 (Vulkan) or .png (a picture of the faces)"},
    {.name = "--cubemap-size",
     .value = "N",
     .help = "the cube map's faces in texels across, a power of two from 16 to 4096 (default 512)",
     .apply = ApplyCubemapSize,
     .rule = &kCubemapRule,
     .needs = "a power of two from 16 to 4096"},
    {.name = "--cubemap-mips",
     .value = "KIND",
     .help = "the cube map's mip chain, down to one texel: none (default: one level), box (each level the mean "
             "of the one above) or specular (prefiltered for GGX reflections, the split-sum approximation: level "
             "l of n at roughness l/(n-1), alpha = roughness^2; level 0 is the sky itself)",
     .apply = ApplyCubemapMips,
     .needs = "none, box or specular"},
    {.name = "--export-irradiance",
     .value = "FILE.json",
     .help = "write the sky's diffuse light when the run ends: the nine spherical-harmonic coefficients of its "
             "radiance per colour channel (sky and ground, in the program's axes, with the convolution constants "
             "that turn them into irradiance in lux), and the sun as a separate directional light: its direction, "
             "colour and illuminance in lux",
     .apply = ApplyIrradiance,
     .files = &SkydomeOptions::exportIrradiance,
     .needs = "a file name ending in .json"},
    {.name = "--time-lapse",
     .value = "START,END,STEP",
     .help = "with --location, instead of --time: write every export asked for (panorama, cube map, "
             "irradiance, glTF) once for each moment from START to END (as --time takes them) every STEP (for "
             "example 30min, 1h or 90s), numbered FILE-0000.ext, FILE-0001.ext..., with an index FILE-index.json "
             "beside the first export giving each moment's time, sun and illuminance. Moments whose sun the sky "
             "cannot show are listed there and skipped. Frames are made in parallel; implies --export-only",
     .apply = ApplyTimeLapse,
     .needs = "START,END,STEP, for example 2026-06-21T05:00+02:00,2026-06-21T21:00+02:00,1h"},
    {.name = "--dome-facing",
     .value = "SIDE",
     .help = "which way the faces of the dome --save-dome writes point:\n"
             "inward (as the preview shows it, the way an engine draws a sky\n"
             "from inside) or outward (default: as the view shows it when\n"
             "the run ends)",
     .apply = ApplyDomeFacing,
     .needs = "inward or outward"},
    {.name = "--export-only",
     .help = "write the files asked for (the exports, --save-dome) without opening a window or using OpenGL, and "
             "exit; runs with no display at all",
     .apply = ApplyExportOnly},
    {.name = "--show",
     .value = "LIST",
     .help = "what to draw besides the dome, comma-separated: ground, wire (the edges of the dome's faces, those that "
             "face the viewer), normals (the vertex normals), flares (the lens flares, in the preview), data (the data "
             "display), fps (the frames per second), menu; none turns every one off. Each name turns its overlay "
             "on beside those the program starts with (ground, flares, data and menu)",
     .apply = ApplyShow,
     .needs = "a list of overlays: ground, wire, normals, flares, data, fps, menu or none (for example --show "
              "none,wire)"},
    {.name = "--data",
     .value = "DIR",
     .help = "read the help text (readme.txt) and the pictures (textures/)\n"
             "from DIR first; what DIR lacks comes from the program's own data.\n"
             "Without it only the program's own data is read, never the\n"
             "current folder's",
     .apply = ApplyData,
     .needs = "a folder that holds readme.txt or textures/"},
    {.name = "--settings",
     .value = "FILE.json",
     .help = "take the settings in FILE.json (as \"Save settings\" in the menu writes them) as if they were given "
             "here: each is an option's name without -- and its value, for example {\"sky\": \"physical\", "
             "\"sun\": \"95,20\", \"exposure\": 0.2}; options after it change what it set",
     .apply = ApplySettings,
     .needs = "a settings file, FILE.json"},
    {.name = "--software-pipelines",
     .help = "draw with the engine's own software transform, clipping and lighting instead of the driver's, to "
             "compare the two",
     .apply = ApplySoftwarePipelines},
    {.name = "--verbose",
     .help = "with a failure, also print the engine's error codes behind it, and the video system's own messages "
             "(for reports to the program's developers)",
     .apply = ApplyVerbose},
    {.name = "--version", .help = "show the program's version and exit", .apply = ApplyVersion},
    {.name = "--help", .help = "show this text and exit", .apply = ApplyHelp},
};

const OptionSpec* FindOption(const char* name) {
    if (std::strcmp(name, "-h") == 0) name = "--help";
    for (const OptionSpec& spec : kOptions) {
        if (std::strcmp(spec.name, name) == 0) return &spec;
    }
    return nullptr;
}

// Where a name that reaches no file yet would make one: a link that leads
// nowhere is followed to the name it gives (as a write follows it), then its
// folder is resolved and the last part kept.
std::filesystem::path PlaceOf(const std::string& name, std::error_code* error) {
    namespace fs = std::filesystem;
    fs::path at = fs::absolute(name, *error);
    if (*error) return {};
    // As many links as the kernel follows before it calls it a loop.
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(at, *error)); ++hops) {
        const fs::path link = fs::read_symlink(at, *error);
        if (*error) return {};
        at = link.is_absolute() ? link : at.parent_path() / link;
    }
    error->clear();
    const fs::path folder = fs::weakly_canonical(at.parent_path(), *error);
    return *error ? fs::path{} : folder / at.filename();
}

// Whether a value is one of the options, alone or with its own "=value".
bool NamesAnOption(const char* value) {
    if (std::strcmp(value, kNoDialog) == 0) return true;
    if (std::strncmp(value, "--", 2) != 0) return false;
    const char* equals = std::strchr(value, '=');
    const std::string name = equals != nullptr ? std::string(value, equals) : std::string(value);
    return FindOption(name.c_str()) != nullptr;
}

bool ApplyOption(const OptionSpec& spec, const char* value, SkydomeOptions* o, std::string* error) {
    if (!spec.apply(spec, value, o, error)) return false;
    given.sun = given.sun || std::strcmp(spec.name, "--sun") == 0;
    given.altitude = given.altitude || std::strcmp(spec.name, "--altitude") == 0;
    given.width = given.width || std::strcmp(spec.name, "--panorama-size") == 0;
    given.cube = given.cube || std::strncmp(spec.name, "--cubemap-", 10) == 0;
    given.aerosols =
        given.aerosols || std::strcmp(spec.name, "--aerosols") == 0 || std::strcmp(spec.name, "--aod") == 0;
    given.skyBrightness = given.skyBrightness || std::strcmp(spec.name, "--sky-brightness") == 0;
    return true;
}

// Whether two names reach one file: the same file (device and inode) when
// both exist, else the same place once links and dots are resolved.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    const bool hasA = stat(a.c_str(), &sa) == 0;
    const bool hasB = stat(b.c_str(), &sb) == 0;
    if (hasA && hasB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    // One exists and the other not: two files.
    if (hasA != hasB) return false;
    std::error_code ea, eb;
    const std::filesystem::path pa = PlaceOf(a, &ea);
    const std::filesystem::path pb = PlaceOf(b, &eb);
    return ea || eb ? a == b : pa == pb;
}

// What the options of skies for other tools ask for together.
bool CheckExports(SkydomeOptions& o, bool sunGiven, bool widthGiven, bool cubeGiven, std::string* error) {
    if (sunGiven && o.location) {
        *error = "--sun and --location both place the sun: give one of them";
        return false;
    }
    if (o.time && o.timeLapse) {
        *error = "--time and --time-lapse both give the moment: give one of them";
        return false;
    }
    if (o.timeLapse && !o.location) {
        *error = "--time-lapse needs --location: the sun's place depends on where it is seen";
        return false;
    }
    if (o.location != (o.time || o.timeLapse)) {
        *error = o.location ? "--location needs --time: the sun's place depends on the moment"
                            : "--time needs --location: the sun's place depends on where it is seen";
        return false;
    }
    if (!o.zone.empty() && !o.time) {
        *error = "--zone needs --time: it says which clock the time is read on";
        return false;
    }
    if (cubeGiven && o.exportCubemap.empty()) {
        *error = "--cubemap-size and --cubemap-mips need --export-cubemap";
        return false;
    }
    if (o.timeLapse) {
        if (o.exportGltf.empty() && o.exportPanorama.empty() && o.exportCubemap.empty() && o.exportIrradiance.empty()) {
            *error =
                "--time-lapse needs something to write: --export-panorama, --export-cubemap, "
                "--export-irradiance or --export-gltf";
            return false;
        }
        if (!o.saveDome.empty()) {
            *error = "--time-lapse writes its exports for every moment: --save-dome saves one dome, leave it out";
            return false;
        }
        o.exportOnly = true;
    }
    if (widthGiven && o.exportPanorama.empty() && o.exportOnly) {
        *error = "--panorama-size needs --export-panorama";
        return false;
    }
    if (o.exportOnly) {
        if (o.exportGltf.empty() && o.exportPanorama.empty() && o.exportCubemap.empty() && o.exportIrradiance.empty() &&
            o.saveDome.empty()) {
            *error =
                "--export-only needs something to write: --export-gltf, --export-panorama, --export-cubemap, "
                "--export-irradiance or --save-dome";
            return false;
        }
        if (!o.screenshot.empty() || o.frames >= 0) {
            *error = std::string(o.timeLapse ? "--time-lapse" : "--export-only") +
                     " shows no frames: leave out --frames and --screenshot";
            return false;
        }
    }
    // One file for two outputs would keep only the one written last.
    std::vector<std::pair<const char*, const std::string*>> files;
    if (!o.screenshot.empty()) files.emplace_back("--screenshot", &o.screenshot);
    for (const std::string& f : o.saveDome) files.emplace_back("--save-dome", &f);
    for (const std::string& f : o.exportGltf) files.emplace_back("--export-gltf", &f);
    for (const std::string& f : o.exportPanorama) files.emplace_back("--export-panorama", &f);
    for (const std::string& f : o.exportCubemap) files.emplace_back("--export-cubemap", &f);
    for (const std::string& f : o.exportIrradiance) files.emplace_back("--export-irradiance", &f);
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if (SameFile(*files[i].second, *files[j].second)) {
                *error = std::string(files[i].first) + " and " + files[j].first + " name the same file, " +
                         QuotedName(*files[j].second) + ": each would overwrite the other";
                return false;
            }
        }
    }
    return true;
}

// Words of text laid out in lines of at most width columns, each line after
// the first indented by indent; a word longer than a line stands alone. Line
// ends in the text are spaces: the help of an option is one paragraph.
std::string Wrap(const std::string& text, std::size_t column, std::size_t indent, std::size_t width) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find_first_of(" \n", at);
        if (end == std::string::npos) end = text.size();
        const std::size_t length = end - at;
        if (length == 0) {
            at = end + 1;
            continue;
        }
        if (column > indent && column + 1 + length > width) {
            out += '\n' + std::string(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out.append(text, at, length);
        column += length;
        at = end + 1;
    }
    return out;
}

std::string OptionLine(const std::string& head, const char* help) {
    std::string line = "  " + head;
    if (line.size() + 2 > kUsageColumn) {
        line += "\n" + std::string(kUsageColumn, ' ');
    } else {
        line += std::string(kUsageColumn - line.size(), ' ');
    }
    return line + Wrap(help, kUsageColumn, kUsageColumn, kUsageWidth) + "\n";
}

std::string MakeUsage() {
    std::string text =
        "Usage: skydome [OPTION]... [-vms]\n"
        "Computes the clear sky over a dome, shows it, and saves it as a model for\n"
        "other programs, as glTF and as panoramas: the daytime sky of an analytic\n"
        "daylight model, or a physical sky (--sky physical) that follows the sun\n"
        "through twilight into the night.\n"
        "\n"
        "Options:\n";
    text += OptionLine(kNoDialog,
                       "do not show the device-selection dialog; use the current display mode (without it the "
                       "program first asks for the display device and the video mode; a mode marked (Fullscreen) "
                       "fills the screen)");
    for (const OptionSpec& spec : kOptions) {
        std::string head = std::string(std::strcmp(spec.name, "--help") == 0 ? "-h, " : "") + spec.name;
        if (spec.value != nullptr) head += std::string(" ") + spec.value;
        text += OptionLine(head, spec.help);
    }
    text +=
        "\n"
        "A value follows its option as the next word or after \"=\": --sun 30,200\n"
        "and --sun=30,200 are the same. Numbers are decimal (0.25, 1e-3). A value\n"
        "that begins with \"--\" is taken for a forgotten one (after \"=\", one that\n"
        "names an option): write ./--name for a file of that name.\n"
        "\n"
        "Escape or closing the window quits; so do SIGINT (Ctrl-C), SIGTERM and\n"
        "SIGHUP, in every phase, which still save the dome asked for with\n"
        "--save-dome (a panorama being made stops); a second one ends the\n"
        "program at once. No partial file is left either way. Without a\n"
        "display, give the run an end: --frames N (with SDL_VIDEODRIVER=offscreen)\n"
        "or --export-only.\n"
        "\n"
        "Exit status: 0 when the run did what it was asked; 1 when the program\n"
        "could not start (no display, a missing or damaged picture) or a file\n"
        "could not be written (a --screenshot run that ended before its last frame\n"
        "included); 2 when an option is wrong.\n"
        "\n"
        "Environment:\n"
        "  SDL_VIDEODRIVER=offscreen\n"
        "                        draw without a display, where nobody sees it\n"
        "                        (with --frames N)\n";
    return text;
}

}  // namespace

SkydomeOptions* SkydomeGetOptions() { return &current; }

const char* SkydomeVersion() { return KV_VERSION; }

const char* SkydomeUsage() {
    static const std::string usage = MakeUsage();
    return usage.c_str();
}

bool SkydomeParseOptions(std::vector<char*>& args, SkydomeOptions* options, std::string* error) {
    std::vector<char*> rest;
    if (!args.empty()) rest.push_back(args[0]);
    SkydomeOptions parsed = *options;
    given = Given{};
    for (std::size_t i = 1; i < args.size(); ++i) {
        const char* a = args[i];
        if (std::strcmp(a, kNoDialog) == 0) {
            rest.push_back(args[i]);
            continue;
        }
        // --name=value, the GNU form, is the same as --name value.
        std::string name = a;
        const char* attached = nullptr;
        if (std::strncmp(a, "--", 2) == 0) {
            if (const char* equals = std::strchr(a, '=')) {
                name.assign(a, equals);
                attached = equals + 1;
            }
        }
        const OptionSpec* spec = FindOption(name.c_str());
        if (spec == nullptr) {
            if (a[0] == '-') {
                *error = "unknown option " + QuotedName(name) + " (see --help)";
            } else {
                *error = "unexpected argument " + Shown(a) + ": the program reads no files (see --help)";
            }
            return false;
        }
        if (attached != nullptr && spec->value == nullptr) {
            *error = std::string(spec->name) + " takes no value, not " + Shown(attached);
            return false;
        }
        const char* value = attached;
        if (spec->value != nullptr && attached == nullptr) value = i + 1 < args.size() ? args[++i] : nullptr;
        // The value was forgotten and the next option taken for it. After "="
        // a value is written on purpose, but one of the program's options
        // there ("--save-dome=--sun") is refused as the next word is: no file
        // is made under an option's name.
        if (spec->value != nullptr && value != nullptr &&
            (attached != nullptr ? NamesAnOption(value)
                                 : std::strncmp(value, "--", 2) == 0 || std::strcmp(value, kNoDialog) == 0)) {
            *error = Refuse(*spec, nullptr) + ", not the option " + QuotedName(value) + " (write ./" +
                     QuotedName(value) + " for a file of that name)";
            return false;
        }
        if (!ApplyOption(*spec, value, &parsed, error)) return false;
    }
    const bool sunGiven = given.sun, widthGiven = given.width, altitudeGiven = given.altitude, cubeGiven = given.cube,
               aerosolsGiven = given.aerosols, skyBrightnessGiven = given.skyBrightness;
    if (!parsed.help && !parsed.version) {
        if (sunGiven && !ReadSun(*FindOption("--sun"), &parsed, error)) return false;
        if (parsed.time && !ReadTime(&parsed, error)) return false;
        if (!parsed.screenshot.empty() && parsed.frames < 1) {
            *error = "--screenshot needs --frames N with N at least 1 (the picture of the last frame is written)";
            return false;
        }
        if (!CheckExports(parsed, sunGiven, widthGiven, cubeGiven, error)) return false;
        if (altitudeGiven && parsed.sky != SkyModelPhysical) {
            *error = "--altitude needs --sky physical: the default sky has no viewer's altitude";
            return false;
        }
        if (aerosolsGiven && parsed.sky != SkyModelPhysical) {
            *error = "--aerosols and --aod need --sky physical: the default sky has no aerosols of its own";
            return false;
        }
        if (skyBrightnessGiven && parsed.sky != SkyModelPhysical) {
            *error = "--sky-brightness needs --sky physical: the default sky has no night";
            return false;
        }
    }
    *options = parsed;
    args = rest;
    return true;
}

}  // namespace kv
