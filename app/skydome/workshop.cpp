#include "workshop.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/skel/menu.h"
#include "app/skydome/batch_run.h"
#include "app/skydome/controls.h"
#include "app/skydome/dome.h"
#include "app/skydome/night_sky.h"
#include "app/skydome/options.h"
#include "app/skydome/skydome.h"
#include "export/export_file.h"
#include "sky/analytic_sky.h"
#include "sky/night_bodies.h"
#include "sky/sky_model.h"
#include "sky/stars.h"
#include "sky/sun_position.h"

namespace kv {

namespace {

// A change to the physical sky's haze, ground or altitude rebuilds its
// tables (about half a second): it waits until the value has rested this
// long, so that a drag or a held key does not rebuild at every step.
constexpr uint32 kRebuildRest = 300;
// Numbered files go up to this.
constexpr int32 kMaxNumber = 999;

struct Workshop {
    PlaceTime place;
    float turbidity = kSkyTurbidity;
    float albedo = 0.3f;
    float altitude = 0.0f;
    // Where following the place last put the sun: another place means a hand
    // moved it.
    bool placed = false;
    float placedZenith = 0.0f, placedAzimuth = 0.0f;
    bool physicalReady = false;  // the physical sky's tables were made once
    // Work shown on the status line first, done once a frame has shown it.
    int32 pendingModel = -1;
    int32* modelShown = nullptr;  // the menu's Sky model, put back when a switch fails
    bool rebuildPending = false;
    uint32 changedAt = 0;
    int32 framesShown = 0;
    uint32 now = 0;
    const SkydomeOptions* options = nullptr;
    // The star catalogue, read the first time the night's bodies are shown.
    std::vector<CatalogueStar> stars;
    bool starsRead = false;
};
Workshop w;

std::string Text(const char* format, double a, double b = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The shortest decimal that reads back as the same float, as a double (so
// that JSON writes it that way).
double Shortest(float f) {
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(f));
        if (static_cast<float>(std::strtod(text, nullptr)) == f) break;
    }
    return std::strtod(text, nullptr);
}

std::string ShortestText(float f) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", Shortest(f));
    return text;
}

bool Physical() { return SkyModelInUse() == SkyModelPhysical; }

// The sun at these angles, the dome recoloured (SkyMoveSun keeps it in the
// model's range).
void PutSun(float zenith, float azimuth) {
    SkyState* sky = SkyGetState();
    sky->sunTheta = zenith;
    sky->sunPhi = azimuth;
    SkyMoveSun(0.0f, 0.0f);
}

// The moon, the planets and the stars of the place and the moment, while
// the sun follows them in the physical sky; none otherwise.
void ShowBodies() {
    if (w.place.on == 0 || !Physical()) {
        SkyClearNightBodies(ProgramSky());
        return;
    }
    if (!w.starsRead) {
        w.starsRead = true;
        std::string warning;
        if (!SkydomeLoadStars(&w.stars, &warning)) {
            w.stars.clear();
            std::fprintf(stderr, "skydome: %s\n", warning.c_str());
        }
    }
    SkySetNightBodies(ProgramSky(), PlaceTimeLatitude(w.place), PlaceTimeLongitude(w.place), SkyModelAltitude(),
                      PlaceTimeMoment(w.place), w.stars.empty() ? nullptr : &w.stars);
}

// The sun where the place and the moment put it; when the model cannot hold
// it there, as near as it can, and the status line says so.
void FollowPlace() {
    // The bodies, the moonlit air and the night's own light of the place and
    // moment, before the sun's move recolours the dome.
    ShowBodies();
    if (w.place.on == 0) return;
    double zenith = 0.0;
    float azimuth = 0.0f;
    PlaceTimeSun(w.place, &zenith, &azimuth);
    PutSun(static_cast<float>(zenith), azimuth);
    const SkyState* sky = SkyGetState();
    w.placed = true;
    w.placedZenith = sky->sunTheta;
    w.placedAzimuth = sky->sunPhi;
    const double limit = SkyModelMaxSunZenith(SkyModelInUse());
    if (zenith > limit) {
        const double elevation = 90.0 - zenith;
        const std::string where =
            elevation < 0.0 ? Text("%.1f degrees below the horizon", -elevation) : Text("%.1f degrees high", elevation);
        SkydomeSetStatus(
            ("The sun is " + where + " then; " +
             (Physical() ? Text("the physical sky shows it at most %g degrees below the horizon", limit - 90.0)
                         : Text("the analytic sky shows it %g degrees high (M: physical sky)", 90.0 - limit)))
                .c_str());
    }
}

int32 PlaceChanged(int32 query) {
    if (query == kMenuQueryAvailable) return 1;
    w.place.on = 1;
    FollowPlace();
    return 1;
}

int32 PlaceToggled(int32 query) {
    if (query == kMenuQueryAvailable) return 1;
    FollowPlace();
    // Off: the mean night again, without the moon of a place.
    if (w.place.on == 0) SkyMoveSun(0.0f, 0.0f);
    return 1;
}

// The analytic sky takes new values at once; the physical one after they rest.
int32 AtmosphereChanged(int32 query) {
    if (query == kMenuQueryAvailable) return 1;
    if (!Physical()) {
        if (!SkyModelConfigure(SkyModelPreetham, w.turbidity, w.albedo, SkyModelAltitude())) return 0;
        SkyMoveSun(0.0f, 0.0f);
        return 1;
    }
    w.rebuildPending = true;
    w.changedAt = w.now;
    w.framesShown = 0;
    SkydomeSetStatus("Making the physical sky for the new values...");
    return 1;
}

int32 AltitudeChanged(int32 query) {
    if (query == kMenuQueryAvailable) return Physical() ? 1 : 0;
    return AtmosphereChanged(query);
}

void Rebuild() {
    w.rebuildPending = false;
    if (!SkyModelConfigure(SkyModelInUse(), w.turbidity, w.albedo, w.altitude)) {
        w.turbidity = SkyGetTurbidity();
        w.albedo = SkyModelAlbedo();
        w.altitude = SkyModelAltitude();
        SkydomeSetStatus("Cannot make the physical sky for those values: it keeps the ones before");
        return;
    }
    SkyMoveSun(0.0f, 0.0f);
    // The bodies are seen through the new air.
    ShowBodies();
    SkydomeSetStatus("The physical sky is made for the new values");
}

// Switches the model and says what it changed.
bool Switch(SkyModelKind kind) {
    const float before = SkyGetState()->sunTheta;
    if (!SkyModelSelect(kind)) {
        SkydomeSetStatus("Cannot make the physical sky: the program ran out of memory");
        return false;
    }
    if (kind == SkyModelPhysical) w.physicalReady = true;
    DomeExposureFollowModel(kind == SkyModelPhysical);
    // Values the menu changed while a rebuild waited are taken now.
    if (w.rebuildPending) Rebuild();
    const char* name = kind == SkyModelPhysical ? "the physical sky" : "the analytic sky";
    std::string status = std::string("Now ") + name;
    const float after = SkyGetState()->sunTheta;
    if (w.place.on != 0) {
        FollowPlace();
    } else if (after != before) {
        ShowBodies();
        status =
            std::string(kind == SkyModelPhysical ? "The physical sky" : "The analytic sky") +
            Text(" holds the sun at most %g degrees from overhead:\n", SkyModelMaxSunZenith(kind)) +
            Text("the sun went from %.1f to %.1f degrees", static_cast<double>(before), static_cast<double>(after));
    }
    w.placedZenith = SkyGetState()->sunTheta;
    w.placedAzimuth = SkyGetState()->sunPhi;
    if (w.place.on == 0 || after == before) SkydomeSetStatus(status.c_str());
    return true;
}

std::string Absolute(const std::string& file) {
    std::error_code ignored;
    const std::filesystem::path p = std::filesystem::absolute(file, ignored);
    return p.empty() ? file : p.lexically_normal().string();
}

bool Exists(const std::string& file) {
    struct stat info;
    return lstat(file.c_str(), &info) == 0;
}

// "skydome-NNN" with the first number none of the endings has.
std::string FreeStem(const std::vector<const char*>& endings) {
    for (int32 n = 1; n <= kMaxNumber; ++n) {
        char stem[32];
        std::snprintf(stem, sizeof stem, "skydome-%03d", static_cast<int>(n));
        bool free = true;
        for (const char* ending : endings) free = free && !Exists(std::string(stem) + ending);
        if (free) return stem;
    }
    return "";
}

std::vector<std::string> failures;
void Collect(const char* text) { failures.emplace_back(text); }

// Which folder a failure was in, and what the window can do about it.
void ReportFailure(const std::string& file) {
    const std::string folder = std::filesystem::path(Absolute(file)).parent_path().string();
    for (const std::string& f : failures) std::fprintf(stderr, "skydome: %s\n", f.c_str());
    // The message's first sentence after the file's name: why.
    const std::string& first = failures.front();
    const std::size_t named = first.find(": ");
    std::string why = named == std::string::npos ? first : first.substr(named + 2);
    // The system's own words (in brackets) are on the terminal.
    why = why.substr(0, std::min(why.find(". "), why.find(" (")));
    SkydomeSetStatus(("Cannot write in " + folder + ":\n" + why +
                      "\nThe files go where the program started, or where the options say")
                         .c_str());
}

}  // namespace

void WorkshopStart(const SkydomeOptions& options) {
    w = Workshop{};
    w.options = &options;
    w.place = PlaceTimeFromOptions(options);
    w.turbidity = SkyGetTurbidity();
    w.albedo = SkyModelAlbedo();
    w.altitude = SkyModelAltitude();
    w.physicalReady = Physical();
    ShowBodies();
    if (w.place.on != 0) {
        w.placed = true;
        w.placedZenith = SkyGetState()->sunTheta;
        w.placedAzimuth = SkyGetState()->sunPhi;
    }
}

bool WorkshopAddMenuEntries() {
    PlaceTime& p = w.place;
    return MenuAddSeparator() &&
           MenuAddFloat("Turbidity", &w.turbidity, AtmosphereChanged, kSkyMinTurbidity, kSkyMaxTurbidity, 0.1f) &&
           MenuAddFloat("Albedo", &w.albedo, AtmosphereChanged, 0.0f, 1.0f, 0.05f) &&
           MenuAddFloat("Altitude", &w.altitude, AltitudeChanged, 0.0f, 20000.0f, 100.0f) && MenuAddSeparator() &&
           MenuAddToggle("Place & time_O", &p.on, PlaceToggled) &&
           MenuAddFloat("Latitude", &p.latitude, PlaceChanged, -90.0f, 90.0f, 0.5f) &&
           MenuAddFloat("Longitude", &p.longitude, PlaceChanged, -180.0f, 180.0f, 0.5f) &&
           MenuAddInt("Day of year", &p.dayOfYear, PlaceChanged, 1, 366, 1, nullptr) &&
           MenuAddFloat("Time of day", &p.hours, PlaceChanged, 0.0f, 24.0f, 0.25f) && MenuAddSeparator() &&
           MenuAddAction("Export_E",
                         [](int32 query) { return query == kMenuQueryAvailable ? 1
                                                  : WorkshopExport()           ? 1
                                                                               : 0; }) &&
           MenuAddAction("Save settings_V", [](int32 query) {
               return query == kMenuQueryAvailable ? 1 : WorkshopSaveSettings() ? 1 : 0;
           });
}

bool WorkshopSelectModel(int32* kind) {
    const auto wanted = static_cast<SkyModelKind>(*kind);
    w.modelShown = kind;
    if (wanted == SkyModelPhysical && !w.physicalReady) {
        // Shown first: the tables take a moment the first time.
        w.pendingModel = wanted;
        w.framesShown = 0;
        SkydomeSetStatus("Setting up the physical sky: a moment...");
        return true;
    }
    const bool ok = Switch(wanted);
    *kind = SkyModelInUse();
    return ok;
}

void WorkshopFrame(uint32 now) {
    w.now = now;
    if (w.pendingModel >= 0 && w.framesShown > 0) {
        const auto kind = static_cast<SkyModelKind>(w.pendingModel);
        w.pendingModel = -1;
        Switch(kind);
        if (w.modelShown != nullptr) *w.modelShown = SkyModelInUse();
    }
    if (w.rebuildPending && w.framesShown > 0 && now - w.changedAt >= kRebuildRest) Rebuild();
    // The sun moved by hand no longer follows the place.
    const SkyState* sky = SkyGetState();
    if (w.place.on != 0 && w.placed && (sky->sunTheta != w.placedZenith || sky->sunPhi != w.placedAzimuth)) {
        w.place.on = 0;
        w.placed = false;
        ShowBodies();
        SkydomeSetStatus("The sun was moved by hand: it no longer follows the place and time (O)");
    }
}

void WorkshopFrameShown() { ++w.framesShown; }

int32 WorkshopKeyboard(int32 event, void* data) {
    const auto* key = static_cast<const KeyboardRecord*>(data);
    if (key == nullptr || (key->keyCode != '[' && key->keyCode != ']')) return EventNotHandled;
    if (event != EventKeyDown) return EventHandled;
    WorkshopStepTime(key->keyCode == ']' ? 0.25f : -0.25f);
    return EventHandled;
}

void WorkshopStepTime(float hours) {
    PlaceTime& p = w.place;
    p.hours += hours;
    // Round the clock within the day.
    if (p.hours >= 24.0f) p.hours -= 24.0f;
    if (p.hours < 0.0f) p.hours += 24.0f;
    p.on = 1;
    FollowPlace();
}

bool WorkshopExport() {
    const SkydomeOptions& o = *w.options;
    SkydomeOptions chosen = o;
    std::vector<std::string> domes = o.saveDome;
    if (o.exportGltf.empty() && o.exportPanorama.empty() && o.saveDome.empty()) {
        const std::string stem = FreeStem({".glb", ".exr", ".png", ".dff"});
        if (stem.empty()) {
            SkydomeSetStatus("Cannot export: skydome-001 to skydome-999 are all taken here");
            return false;
        }
        chosen.exportGltf = {stem + ".glb"};
        chosen.exportPanorama = {stem + ".exr", stem + ".png"};
        domes = {stem + ".dff"};
    }
    // The sky as it is on screen, so that the night's bodies of the place and
    // moment set in the window are in the panoramas as a batch run of the
    // saved settings puts them.
    chosen.sky = SkyModelInUse();
    chosen.altitude = SkyModelAltitude();
    chosen.location = chosen.time = w.place.on != 0;
    if (w.place.on != 0) {
        chosen.latitude = PlaceTimeLatitude(w.place);
        chosen.longitude = PlaceTimeLongitude(w.place);
        chosen.moment = PlaceTimeMoment(w.place);
    }
    failures.clear();
    bool ok = SkydomeRunExports(&chosen, DomeGetAtomic(), Collect);
    std::string failedFile;
    for (const std::string& file : domes) {
        std::string message;
        if (!SkydomeSaveDomeFile(file.c_str(), &message)) {
            failures.push_back(message);
            failedFile = file;
            ok = false;
        }
    }
    std::vector<std::string> all = chosen.exportGltf;
    all.insert(all.end(), chosen.exportPanorama.begin(), chosen.exportPanorama.end());
    all.insert(all.end(), domes.begin(), domes.end());
    if (!ok) {
        ReportFailure(failedFile.empty() ? all.front() : failedFile);
        return false;
    }
    // One line for each file, so that each full path shows.
    std::string lines = "Exported";
    for (const std::string& file : all) {
        std::fprintf(stderr, "skydome: exported %s\n", Absolute(file).c_str());
        lines += "\n" + Absolute(file);
    }
    SkydomeSetStatus(lines.c_str());
    return true;
}

std::string WorkshopSettingsJson() {
    const SkydomeOptions& o = *w.options;
    const DomeSettings* dome = DomeGetSettings();
    const ViewState* view = ViewGetState();
    const SkydomeApp* app = SkydomeGetApp();
    const SkyState* sky = SkyGetState();
    nlohmann::ordered_json j;
    j["sky"] = kSkyModelNames[SkyModelInUse()];
    if (w.place.on != 0) {
        j["location"] = Text("%.4f,%.4f", PlaceTimeLatitude(w.place), PlaceTimeLongitude(w.place));
        j["time"] = PlaceTimeText(w.place);
        if (!w.place.zone.empty()) j["zone"] = w.place.zone;
    } else {
        j["sun"] = ShortestText(sky->sunTheta) + "," + ShortestText(sky->sunPhi);
    }
    j["turbidity"] = Shortest(SkyGetTurbidity());
    j["albedo"] = Shortest(SkyModelAlbedo());
    if (SkyModelInUse() == SkyModelPhysical) {
        j["altitude"] = Shortest(SkyModelAltitude());
        const AtmosphereAerosols aerosols = SkyModelAerosols();
        j["aerosols"] = kAtmosphereAerosolNames[aerosols.kind];
        if (aerosols.depth550 > 0.0f) j["aod"] = Shortest(aerosols.depth550);
        const double brightness = SkyModelNightBrightness(ProgramSky());
        if (brightness > 0.0) j["sky-brightness"] = Shortest(static_cast<float>(brightness));
    }
    if (dome->autoExposure != 0 && dome->evFixed != 0) {
        j["ev"] = Shortest(dome->ev);
    } else if (dome->autoExposure != 0) {
        j["exposure"] = "auto";
    } else {
        j["exposure"] = Shortest(dome->exposure);
    }
    j["resolution"] = DomeGetTessellation()->rings;
    j["view"] = dome->preview != 0 ? "preview" : "orbit";
    j["look"] = ShortestText(view->elevation) + "," + ShortestText(view->azimuth);
    j["fov"] = Shortest(view->fieldOfView);
    std::string show = "none";
    const std::pair<const char*, bool> overlays[] = {
        {"ground", dome->ground != 0},         {"wire", dome->wire != 0},       {"normals", dome->normals != 0},
        {"flares", app->lensEffect != 0},      {"data", app->displayData != 0}, {"fps", app->showFps != 0},
        {"menu", MenuGetMode() != MenuModeOff}};
    for (const auto& [name, on] : overlays) {
        if (on) show += std::string(",") + name;
    }
    j["show"] = show;
    j["panorama-size"] = o.panoramaWidth;
    if (!o.exportGltf.empty()) j["export-gltf"] = o.exportGltf;
    if (!o.exportPanorama.empty()) j["export-panorama"] = o.exportPanorama;
    if (!o.saveDome.empty()) j["save-dome"] = o.saveDome;
    if (o.domeFacing != DomeFacingAsShown) j["dome-facing"] = o.domeFacing == DomeFacingInward ? "inward" : "outward";
    return j.dump(2) + "\n";
}

bool WorkshopSaveSettings() {
    const std::string stem = FreeStem({".json"});
    if (stem.empty()) {
        SkydomeSetStatus("Cannot save the settings: skydome-001.json to skydome-999.json are all taken here");
        return false;
    }
    const std::string file = stem + ".json";
    std::string text = WorkshopSettingsJson();
    std::string why;
    const bool ok = ExportFileWrite(file.c_str(), ExportStringWriter, &text, &why);
    if (!ok) {
        failures = {"Cannot write the settings to " + Absolute(file) + ": " + why + "."};
        ReportFailure(file);
        return false;
    }
    std::fprintf(stderr, "skydome: saved the settings to %s\n", Absolute(file).c_str());
    SkydomeSetStatus(("Saved the settings to " + Absolute(file)).c_str());
    return true;
}

const PlaceTime* WorkshopGetPlace() { return &w.place; }

}  // namespace kv
