// Options of the sky-dome creator for unattended runs.
#pragma once

#include <string>
#include <vector>

#include "app/skydome/dome_save.h"
#include "app/skydome/program_sky.h"
#include "sky/sky_model.h"
#include "sky/sun_position.h"

namespace kv {

// What the options chose for the exposure: nothing (photographic with the
// physical sky, the curve with the analytic one), the curve's K, metered
// photographic exposure, or a fixed EV100.
enum ExposureChoice : int32 { ExposureChoiceDefault, ExposureChoiceCurve, ExposureChoiceAuto, ExposureChoiceEv };

struct SkydomeOptions {
    long frames = -1;  // quit after this many frames; -1 runs until the user quits
    bool help = false;
    bool version = false;               // print the version and exit
    std::string screenshot;             // PNG written after the last frame of a --frames run
    bool screenshotFailed = false;      // set when it could not be written
    std::vector<std::string> saveDome;  // the dome is saved to each at the end of the run
    bool saveFailed = false;            // set when it could not be saved
    // The sky and the dome at start-up (the menu's ranges).
    float sunZenith = 50.0f;   // degrees, 0 to 85 (100 in the physical sky)
    float sunAzimuth = 20.0f;  // degrees, 0 up to 360
    std::string sunText;       // --sun as given: read once the sky model (its range) is known
    float exposure = 0.1f;     // 0.01 to 1
    ExposureChoice exposureChoice = ExposureChoiceDefault;
    float ev = 0.0f;         // EV100, -16 to 22, with ExposureChoiceEv
    int resolution = 9;      // rings, 1 to 32
    float turbidity = 2.0f;  // haze, 1.7 to 10
    // The sky model and what only some skies use.
    SkyModelKind sky = SkyModelPreetham;
    float albedo = 0.3f;                        // the ground's, 0 to 1
    float altitude = 0.0f;                      // the viewer's, metres, 0 to 20000 (the physical sky)
    AtmosphereAerosols aerosols;                // their kind, and a measured depth (the physical sky)
    float skyBrightness = 0.0f;                 // the moonless zenith, V mag/arcsec^2; 0: a dark site (physical sky)
    DomeFacing domeFacing = DomeFacingAsShown;  // of the dome --save-dome writes
    // The sun from a place and a moment (both or neither), instead of --sun.
    bool location = false;
    double latitude = 0.0;   // degrees north
    double longitude = 0.0;  // degrees east
    bool time = false;
    std::string timeText;   // as given
    std::string zone;       // --zone: the tz database's name of the clock --time reads
    SolarTime moment = {};  // read from it
    // Exports, written at the end of the run with --save-dome.
    // Each option may be given more than once: every file named is written.
    std::vector<std::string> exportGltf;      // the dome as glTF 2.0 binary
    std::vector<std::string> exportPanorama;  // .png, .exr or .hdr
    int panoramaWidth = 2048;                 // even, 16 to 8192; the height is half of it
    // Skies for engines: a cube map, its diffuse light, a day in sequence.
    std::vector<std::string> exportCubemap;     // .dds (Direct3D's frame) or .ktx2 (Vulkan's)
    int cubemapSize = 512;                      // a power of two, 16 to 4096
    int cubemapMips = 0;                        // a CubeMips (export/cubemap.h): none, box or specular
    std::vector<std::string> exportIrradiance;  // .json: spherical harmonics and the sun as a light
    bool timeLapse = false;                     // --time-lapse: numbered files for moments from start to end
    SolarTime lapseStart = {};
    SolarTime lapseEnd = {};
    double lapseStep = 0.0;     // seconds
    std::string lapseText[2];   // the start and the end as given
    bool exportOnly = false;    // no window: only the files asked for are written
    bool exportFailed = false;  // set when an export could not be written
    // The view at start-up.
    bool preview = false;  // --view preview: from the dome's centre
    bool look = false;     // --look given: the preview camera's angles
    float lookElevation = 25.0f;
    float lookAzimuth = 345.0f;
    float fov = 0.0f;  // degrees, 1 to 179, of the view shown first; 0: its default
    // What is drawn besides the dome (--show), at first as in the program.
    bool showGround = true;
    bool showWire = false;
    bool showNormals = false;
    bool showFlares = true;  // "Lens effect_L"
    bool showData = true;    // "Display data_D"
    bool showFps = false;
    bool showMenu = true;  // the menu shown (else off; Space shows it)
    // The software object and immediate-mode pipelines draw instead of the driver's.
    bool softwarePipelines = false;
    bool verbose = false;  // the engine's codes behind failures, the platform's own messages
    // --data: a folder of the user's own help text and pictures, looked in
    // before the program's own data; empty for none.
    std::string dataFolder;
};

// Takes the program's own options out of argv; what remains ("-vms", the
// skeleton's own option) is passed to the shell. A value follows its option
// as the next word or after "=" (--sun=30,200). Returns false with a message
// in *error for an unknown option, a stray word, a missing or malformed value
// (a value that begins with "--" is a forgotten one), a value given to an
// option that takes none, or two outputs naming the same file. Options are
// listed in one table, which --help is made from (and from --help the help
// page and the manual page); every number goes through one decimal reader.
bool SkydomeParseOptions(std::vector<char*>& args, SkydomeOptions* options, std::string* error);
// The --help text: lines of at most 76 columns.
const char* SkydomeUsage();
// The program's version, as the build was told it ("1.0.0").
const char* SkydomeVersion();

SkydomeOptions* SkydomeGetOptions();

}  // namespace kv
