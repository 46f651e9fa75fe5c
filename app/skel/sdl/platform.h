// Inside the SDL platform shell: the pieces that have no need of a display
// (key translation, frame pacing, the command-line splitter) and the hooks the
// window code is built from, declared here so they can be checked on their own.
#pragma once

#include "app/skel/skeleton.h"

namespace kv {

// Keys. The window system's scancode becomes the PC keyboard's scan index
// (set-1 make code, plus 128 for the extended keys), and the scan index is
// looked up in the key-code table.
int32 ScanIndexFromScancode(int32 sdlScancode);
int32 KeyCodeFromScanIndex(int32 scanIndex);

// Frame pacing of the main loop. lastFrameTime lives in the platform record;
// the rest is the loop's own state.
struct FramePacing {
    uint32 framePeriod;   // whole milliseconds per frame; 0 = unpaced
    float frameFraction;  // the rest of the period, carried as it adds up
    float fractionSum;
    uint32 frameCarry;  // 1 when the next frame is a millisecond later
};
// Fixes the period for the rate the first time it is needed; a rate of 0
// clears it (every pass of the loop is a frame).
void PacingSetRate(FramePacing* pacing, int32 maxFrameRate);
// Given the timer's reading, tells whether a frame is due; when it is, the
// schedule moves on by one period (not to now, so a late frame is followed by
// catch-up frames).
bool PacingFrameDue(FramePacing* pacing, uint32* lastFrameTime, uint32 now);

// Splits a command given as one string into arguments: separators are the
// characters up to the space outside double quotes, and an argument written
// between double quotes keeps its spaces and loses the quotes. Returns one
// block (the pointers, then the cut copy of the line) to be freed with
// CommandLineFree, or null when memory runs out.
char** CommandLineSplit(const char* line, int32* count);
void CommandLineFree(char** args);

// The platform record.
struct PlatformRecord {
    void* window;
    void* instance;
    int32 fullScreen;
    float lastMouseX, lastMouseY;
    uint32 lastFrameTime;
};
PlatformRecord* PlatformGetRecord();

}  // namespace kv
