// The sky-dome creator's answers to the skeleton's events: start-up of the
// scene, one frame per idle event, the menu, saving, and shut-down in reverse
// order. The program's AppEventHandler hands every event to
// SkydomeEventHandler; tests hand it theirs and drive it with real input.
#pragma once

#include <string>

#include "app/skel/skeleton.h"
#include "engine/math/rgba.h"

namespace kv {

struct Camera;
struct Clump;
struct Raster;
struct Texture;
struct World;

// How long the line that reports a save stays on screen.
constexpr uint32 kSkydomeStatusMillis = 4000;

struct SkydomeApp {
    bool engineStarted;
    bool sceneReady;  // start-up went through
    bool menuOpen;
    Raster* charset;  // the data display's text
    World* world;
    Camera* camera;
    Clump* domeClump;
    Texture* ground;
    Raster* pointer;  // drawn in the middle while the preview look drag is on
    bool flaresLoaded;
    // The menu's toggles that only the frame reads.
    int32 lensEffect;   // "Lens effect_L"
    int32 displayData;  // "Display data_D"
    int32 showFps;      // "FPS_F"
    int32 skyModel;     // "Sky model_M": the SkyModelKind shown
    // Frames per second: frames counted since the time base, and the count of
    // the last period of just over a second.
    uint32 frameCounter;
    uint32 framesPerSecond;
    uint32 timeBase;
    uint32 previousTime;
    bool clockStarted;
    long framesDrawn;  // for --frames
    bool screenshotTaken;
    // The line that reports the last save, and until when it shows.
    char status[1024];  // lines apart by '\n', drawn upwards from the first
    uint32 statusUntil;
};
const SkydomeApp* SkydomeGetApp();

int32 SkydomeEventHandler(int32 event, void* data);

// The clock of the frame counter, the spin and the status line;
// PlatformGetTimer unless a test sets another (null puts it back).
using SkydomeClock = uint32 (*)();
void SkydomeSetClock(SkydomeClock clock);

// What the program says when a run that only a person can end (no --frames)
// finds no display: why, and how to run it unattended instead.
std::string SkydomeNoDisplayMessage();

// "interrupted by SIGTERM" once a quit signal has come, else null: the reason
// long work (a panorama) gives for stopping.
const char* SkydomeInterruption();

// "Save dome_X": the dome to "skydome.dff" in the current folder through the
// safe save; the outcome goes on screen for a few seconds and to stderr.
bool SkydomeSave();
// Shows the text on the status line (each line cut to the window's width)
// for a few seconds.
void SkydomeSetStatus(const char* text);
// Saves the dome as --save-dome does: to the name as given, facing as the
// options say; *message says why not.
bool SkydomeSaveDomeFile(const char* file, std::string* message);

// The data display: the sun's angles, in the preview the camera's, the dome's
// vertex and triangle counts, and the frames per second when asked.
void DataDisplay();
// The line that reports the last save, while its time lasts.
void StatusLineDraw(uint32 now);

}  // namespace kv
