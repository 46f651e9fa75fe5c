// Unattended work of the sky-dome creator: the sun placed from a place on
// Earth and a moment, the exports, and runs that only write files (no window,
// no OpenGL: the engine runs on its null device).
#pragma once

#include <string>

namespace kv {

struct Atomic;
struct SkydomeOptions;

// With --location and --time: the options' sun becomes the sun seen there and
// then, and *line tells where it stands (zenith angle, compass azimuth, the
// program's azimuth). False with *error (naming the elevation found) when the
// sun is outside the range of the options' sky: lower than 5 degrees, or set
// (the physical sky takes the sun wherever it is).
bool SkydomeResolveSun(SkydomeOptions* options, std::string* line, std::string* error);

// Writes the exports the options ask for, of the dome atomic and the current
// sky; each failure is handed to report. False when any failed.
bool SkydomeRunExports(const SkydomeOptions* options, Atomic* dome, void (*report)(const char* text));

// The run of --time-lapse: for each moment from the options' start to their
// end by their step, every export asked for, numbered (FILE-0000.ext...), the
// panoramas, cube maps and irradiance of moments in parallel (a sky each),
// the glTF's dome one moment at a time; then the index (SkydomeTimeLapseIndex)
// with each moment's time, sun and illuminance. Moments whose sun the sky
// cannot show are skipped and listed. False when a file could not be written.
bool SkydomeTimeLapse(const SkydomeOptions* options, Atomic* dome, void (*report)(const char* text));
// The index's name: beside the first export asked for, "FILE-index.json".
std::string SkydomeTimeLapseIndex(const SkydomeOptions* options);

// The run of --export-only: the sky and the dome as a windowed run would make
// them, then the exports and --save-dome. Returns the exit status (0, or 1
// when something could not be written).
int SkydomeExportOnly(SkydomeOptions* options);

}  // namespace kv
