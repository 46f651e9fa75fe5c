#include "batch_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "app/skydome/dome.h"
#include "app/skydome/dome_save.h"
#include "app/skydome/night_sky.h"
#include "app/skydome/options.h"
#include "app/skydome/program_sky.h"
#include "app/skydome/scene.h"
#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/world/clump.h"
#include "engine/world/world.h"
#include "export/cubemap.h"
#include "export/export_file.h"
#include "export/gltf.h"
#include "export/irradiance.h"
#include "export/panorama.h"
#include "sky/analytic_sky.h"
#include "sky/ephemeris.h"
#include "sky/moon.h"
#include "sky/night_bodies.h"
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
    // A time-lapse places the sun anew for each of its moments.
    if (!o->location || o->timeLapse) return true;
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
    SkydomeSetPlaceMoment(*o);
    {
        // The night of the place and moment lights every file (the moonlit
        // air, the night's own light), and its bodies are in the panoramas
        // and cube maps: a time-lapse's moment gives the same files.
        std::string warning;
        SkydomeSetNightBodies(*o, &warning);
        if (!warning.empty()) report(warning.c_str());
    }
    GltfSun moon{};
    const bool moonUp = !o->exportGltf.empty() && GltfMoonOf(ProgramSky(), &moon);
    for (const std::string& file : o->exportGltf) {
        const Geometry* geometry = dome != nullptr ? AtomicGetGeometry(dome) : nullptr;
        const SkyLight* light = SkyModelLight();
        const GltfSun sun{SkyGetState()->sunDirection, light->sunColour, light->sunIlluminance};
        if (!DomeExportGLTF(geometry, DomeGetSettings()->preview, file.c_str(), &message, &sun,
                            moonUp ? &moon : nullptr)) {
            report(message.c_str());
            ok = false;
        }
    }
    for (const std::string& file : o->exportPanorama) {
        if (!PanoramaWrite(ProgramSky(), file.c_str(), o->panoramaWidth, DomePictureExposure(), &message)) {
            report(message.c_str());
            ok = false;
        }
    }
    for (const std::string& file : o->exportCubemap) {
        if (!CubemapWrite(ProgramSky(), file.c_str(), o->cubemapSize, static_cast<CubeMips>(o->cubemapMips),
                          DomeGetSettings()->exposure, &message)) {
            report(message.c_str());
            ok = false;
        }
    }
    for (const std::string& file : o->exportIrradiance) {
        if (!IrradianceWriteJSON(ProgramSky(), file.c_str(), &message)) {
            report(message.c_str());
            ok = false;
        }
    }
    return ok;
}

namespace {

// One moment of a time-lapse and what became of it.
struct LapseFrame {
    SolarTime moment{};
    std::string time;  // as ISO 8601, in the start's UTC offset
    bool shown = false;
    std::string why;  // when not shown: why the sky cannot show that sun
    float zenith = 0.0f, azimuth = 0.0f;
    SolarPosition where{};
    V3d sun{};
    double sunLux = 0.0, horizontalLux = 0.0, skyLux = 0.0;
    // The moon then: apparent altitude and compass azimuth (degrees), the lit
    // fraction, and the lux it gives through the air on a surface facing it
    // (the physical sky's; 0 when it is down).
    double moonAltitude = 0.0, moonAzimuth = 0.0, moonLit = 0.0, moonLux = 0.0;
    std::vector<std::string> failures;
    bool stopped = false;  // the run was asked to quit before this moment
};

// Seconds since 1970 in UTC, by calendar arithmetic: exact where the Julian
// day's few tens of microseconds of rounding would drop an END that lies
// exactly a whole number of steps after START.
double MomentSeconds(const SolarTime& m) { return SolarClockSeconds(m) - 60.0 * m.offsetMinutes; }

// The moment step seconds after start, on the start's clock: calendar
// arithmetic on the clock's own fields, the offset kept.
SolarTime MomentAfter(const SolarTime& start, double seconds) {
    const double total = SolarClockSeconds(start) + seconds;
    const double whole = std::floor(total);
    const auto at = static_cast<std::time_t>(whole);
    std::tm out{};
    gmtime_r(&at, &out);
    SolarTime m = start;
    m.year = out.tm_year + 1900;
    m.month = out.tm_mon + 1;
    m.day = out.tm_mday;
    m.hour = out.tm_hour;
    m.minute = out.tm_min;
    m.second = out.tm_sec + (total - whole);
    return m;
}

std::string MomentText(const SolarTime& m) {
    char seconds[16];
    if (m.second == std::floor(m.second)) {
        std::snprintf(seconds, sizeof seconds, "%02d", static_cast<int>(m.second));
    } else {
        std::snprintf(seconds, sizeof seconds, "%06.3f", m.second);
    }
    const int offset = m.offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%s%c%02d:%02d", m.year, m.month, m.day, m.hour, m.minute,
                  seconds, offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
    return text;
}

// "dir/sky.exr" as frame 7: "dir/sky-0007.exr".
std::string Numbered(const std::string& path, std::size_t frame, const char* suffix = nullptr) {
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    char number[16];
    std::snprintf(number, sizeof number, "-%04zu", frame);
    return path.substr(0, dot) + (suffix != nullptr ? suffix : number + path.substr(dot));
}

std::string Json(double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.9g", v);
    return buffer;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// The file name without its folder: the index lies beside the files.
std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Lapse {
    const SkydomeOptions* o;
    // The stars of the physical sky's night (null without a catalogue).
    const std::vector<CatalogueStar>* stars = nullptr;
    std::vector<LapseFrame> frames;
    std::atomic<std::size_t> next{0};
    std::mutex lock;  // the progress line and the count of frames done
    std::size_t done = 0;
    bool progress = false;
    SkyPictureExposure exposure;
};

void Progress(Lapse* l) {
    std::lock_guard<std::mutex> guard(l->lock);
    ++l->done;
    if (!l->progress) return;
    std::fprintf(stderr, "\rskydome: time-lapse, %zu of %zu moments", l->done, l->frames.size());
    std::fflush(stderr);
}

// A worker: its own sky, the next moment not yet taken until none is left.
void LapseWorker(Lapse* l) {
    const SkydomeOptions& o = *l->o;
    Sky* sky = SkyCreate(SkyParameters{o.sky, o.turbidity, o.albedo, o.altitude, o.aerosols, o.skyBrightness});
    for (std::size_t i = l->next.fetch_add(1); i < l->frames.size(); i = l->next.fetch_add(1)) {
        LapseFrame& f = l->frames[i];
        if (sky == nullptr) {
            f.failures.push_back("Cannot make the sky for " + f.time + ": out of memory.");
            Progress(l);
            continue;
        }
        if (PanoramaStopAsked()) {
            f.stopped = true;
            f.why = std::string("not written: ") + PanoramaStopReason();
            Progress(l);
            continue;
        }
        f.shown = SkySunFromPlace(o.sky, o.latitude, o.longitude, f.moment, &f.zenith, &f.azimuth, &f.where, &f.why) &&
                  SkySetSunAngles(sky, f.zenith, f.azimuth);
        if (f.shown) {
            // The night's bodies of this moment, as a single export shows them.
            if (o.sky == SkyModelPhysical) {
                SkySetNightBodies(sky, o.latitude, o.longitude, o.altitude, f.moment, l->stars);
            } else {
                SkySetPlaceMoment(sky, o.latitude, o.longitude, o.altitude, f.moment);
            }
            f.sun = SkySunDirection(sky);
            f.sunLux = SkySunIlluminance(sky);
            f.horizontalLux = SkyHorizontalIlluminance(sky, &f.skyLux);
            const MoonView moonView =
                MoonObserve(SkyMomentAt(SolarJulianDay(f.moment)), SkyPlace{o.latitude, o.longitude, o.altitude});
            f.moonAltitude = moonView.horizontal.altitude;
            f.moonAzimuth = moonView.horizontal.azimuth;
            f.moonLit = moonView.illuminatedFraction;
            GltfSun moonLight{};
            if (GltfMoonOf(sky, &moonLight)) f.moonLux = moonLight.illuminance;
            std::string message;
            for (const std::string& file : o.exportPanorama) {
                // Metered again for each moment's own sky.
                if (!PanoramaWrite(sky, Numbered(file, i).c_str(), o.panoramaWidth, l->exposure, &message)) {
                    f.failures.push_back(message);
                }
            }
            for (const std::string& file : o.exportCubemap) {
                if (!CubemapWrite(sky, Numbered(file, i).c_str(), o.cubemapSize, static_cast<CubeMips>(o.cubemapMips),
                                  l->exposure.k, &message)) {
                    f.failures.push_back(message);
                }
            }
            for (const std::string& file : o.exportIrradiance) {
                if (!IrradianceWriteJSON(sky, Numbered(file, i).c_str(), &message)) f.failures.push_back(message);
            }
        }
        Progress(l);
    }
    if (sky != nullptr) SkyDestroy(sky);
}

std::string IndexText(const Lapse& l) {
    const SkydomeOptions& o = *l.o;
    std::string t = "{\n";
    t += "  \"kind\": \"skydome time-lapse\",\n  \"version\": 1,\n";
    t += "  \"location\": {\"latitude\": " + Json(o.latitude) + ", \"longitude\": " + Json(o.longitude) + "},\n";
    t += std::string("  \"sky\": \"") + kSkyModelNames[o.sky] + "\",\n";
    t += "  \"axes\": \"unit directions (x, y, z) with y up, +z north, +x west\",\n";
    t += "  \"step_seconds\": " + Json(o.lapseStep) + ",\n";
    t += "  \"frames\": [\n";
    for (std::size_t i = 0; i < l.frames.size(); ++i) {
        const LapseFrame& f = l.frames[i];
        // A moment whose files are not all written is not shown.
        const bool shown = f.shown && !f.stopped && f.failures.empty();
        const std::string why = f.failures.empty() ? f.why : f.failures.front();
        t += "    {\"frame\": " + std::to_string(i) + ", \"time\": " + JsonString(f.time) +
             ", \"shown\": " + (shown ? "true" : "false");
        t +=
            ",\n     \"sun\": {\"zenith\": " + Json(f.where.zenith) + ", \"compass_azimuth\": " + Json(f.where.azimuth);
        if (shown) {
            t += ", \"direction\": [" + Json(f.sun.x) + ", " + Json(f.sun.y) + ", " + Json(f.sun.z) +
                 "], \"illuminance\": " + Json(f.sunLux) + "}";
            t += ",\n     \"horizontal_illuminance\": " + Json(f.horizontalLux) +
                 ", \"sky_illuminance\": " + Json(f.skyLux);
            t += ",\n     \"moon\": {\"altitude\": " + Json(f.moonAltitude) +
                 ", \"compass_azimuth\": " + Json(f.moonAzimuth) + ", \"illuminated\": " + Json(f.moonLit) +
                 ", \"illuminance\": " + Json(f.moonLux) + "}";
            t += ",\n     \"files\": {";
            std::string files;
            // Each kind's files, in the order the options named them.
            const std::pair<const char*, const std::vector<std::string>*> kinds[] = {
                {"panorama", &o.exportPanorama},
                {"cubemap", &o.exportCubemap},
                {"irradiance", &o.exportIrradiance},
                {"gltf", &o.exportGltf}};
            for (const auto& [name, paths] : kinds) {
                if (paths->empty()) continue;
                std::string list;
                for (const std::string& path : *paths) {
                    list += std::string(list.empty() ? "" : ", ") + JsonString(BaseName(Numbered(path, i)));
                }
                files += std::string(files.empty() ? "" : ", ") + "\"" + name + "\": [" + list + "]";
            }
            t += files + "}";
        } else {
            t += "},\n     \"why\": " + JsonString(why);
        }
        t += std::string("}") + (i + 1 < l.frames.size() ? ",\n" : "\n");
    }
    t += "  ]\n}\n";
    return t;
}

}  // namespace

std::string SkydomeTimeLapseIndex(const SkydomeOptions* o) {
    for (const std::vector<std::string>* paths :
         {&o->exportPanorama, &o->exportCubemap, &o->exportIrradiance, &o->exportGltf}) {
        if (!paths->empty()) return Numbered(paths->front(), 0, "-index.json");
    }
    return std::string();
}

bool SkydomeTimeLapse(const SkydomeOptions* o, Atomic* dome, void (*report)(const char* text)) {
    if (report == nullptr) report = ToStderr;
    Lapse l;
    l.o = o;
    l.exposure = DomePictureExposure();
    l.progress = isatty(STDERR_FILENO) != 0;
    std::vector<CatalogueStar> stars;
    if (o->sky == SkyModelPhysical) {
        std::string warning;
        if (SkydomeLoadStars(&stars, &warning)) {
            l.stars = &stars;
        } else {
            report(warning.c_str());
        }
    }
    const double span = MomentSeconds(o->lapseEnd) - MomentSeconds(o->lapseStart);
    const auto count = static_cast<std::size_t>(std::floor(span / o->lapseStep + 1e-9)) + 1;
    l.frames.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        l.frames[i].moment = MomentAfter(o->lapseStart, o->lapseStep * static_cast<double>(i));
        l.frames[i].time = MomentText(l.frames[i].moment);
    }
    // Frames are independent: one worker per core, each with its own sky.
    const std::size_t workers = std::min<std::size_t>(count, std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> helpers;
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            helpers.emplace_back(LapseWorker, &l);
        } catch (const std::system_error&) {
            break;  // the threads there take every frame
        }
    }
    LapseWorker(&l);
    for (std::thread& h : helpers) h.join();
    // The glTF holds the dome, of which there is one: its frames one by one.
    if (!o->exportGltf.empty()) {
        const Geometry* geometry = dome != nullptr ? AtomicGetGeometry(dome) : nullptr;
        for (std::size_t i = 0; i < count; ++i) {
            LapseFrame& f = l.frames[i];
            if (!f.shown) continue;
            if (PanoramaStopAsked()) {
                for (std::size_t j = i; j < count; ++j) {
                    LapseFrame& g = l.frames[j];
                    if (!g.shown || g.stopped) continue;
                    g.stopped = true;
                    g.why = std::string("its glTF not written: ") + PanoramaStopReason();
                }
                break;
            }
            const SkyState* s = SkyGetState();
            SkyMoveSun(f.zenith - s->sunTheta, f.azimuth - s->sunPhi);
            const SkyLight* light = SkyModelLight();
            const GltfSun sun{SkyGetState()->sunDirection, light->sunColour, light->sunIlluminance};
            SkySetPlaceMoment(ProgramSky(), o->latitude, o->longitude, o->altitude, f.moment);
            GltfSun moon{};
            const bool moonUp = GltfMoonOf(ProgramSky(), &moon);
            std::string message;
            for (const std::string& file : o->exportGltf) {
                if (!DomeExportGLTF(geometry, DomeGetSettings()->preview, Numbered(file, i).c_str(), &message, &sun,
                                    moonUp ? &moon : nullptr)) {
                    f.failures.push_back(message);
                }
            }
        }
    }
    if (l.progress) std::fputc('\n', stderr);
    bool ok = true;
    std::size_t skipped = 0;
    std::size_t stopped = 0;
    for (const LapseFrame& f : l.frames) {
        for (const std::string& failure : f.failures) report(failure.c_str());
        ok = ok && f.failures.empty();
        if (f.stopped) {
            ++stopped;
        } else if (!f.shown && f.failures.empty()) {
            ++skipped;
        }
    }
    if (stopped > 0) {
        // One line for them all, not one a moment.
        const std::string line = "The time-lapse stopped (" + std::string(PanoramaStopReason()) +
                                 "): " + std::to_string(stopped) + " of " + std::to_string(count) +
                                 " moments are not written, or not wholly.";
        report(line.c_str());
        ok = false;
    }
    if (skipped > 0) {
        const std::string line = std::to_string(skipped) + " of " + std::to_string(count) +
                                 " moments skipped: the sky cannot show their sun (the index says why)";
        report(line.c_str());
    }
    const std::string index = SkydomeTimeLapseIndex(o);
    const std::string text = IndexText(l);
    std::string why;
    if (!ExportFileWrite(index.c_str(), ExportStringWriter, const_cast<std::string*>(&text), &why)) {
        report(("Cannot write the time-lapse's index to " + index + ": " + why + ".").c_str());
        ok = false;
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
        if (o->timeLapse ? !SkydomeTimeLapse(o, DomeGetAtomic(), ToStderr)
                         : !SkydomeRunExports(o, DomeGetAtomic(), ToStderr)) {
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
