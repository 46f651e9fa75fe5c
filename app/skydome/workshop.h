// What the window tunes and ships beyond the dome itself: the sky's haze,
// ground and altitude, the sun from a place and a moment, the switch between
// sky models (the physical one set up while a line says so), the exports and
// the settings file.
#pragma once

#include <string>

#include "app/skydome/place_time.h"
#include "engine/core/types.h"

namespace kv {

struct SkydomeOptions;

// From the options, once the scene is made.
void WorkshopStart(const SkydomeOptions& options);
// The menu's entries for the sky, the place and moment, and the files.
bool WorkshopAddMenuEntries();
// The menu changed the sky model to *kind: the switch is made, or, the first
// time the physical sky is asked for, made after a frame has shown that it
// is being set up. False when the model cannot be made (*kind is the one in use).
bool WorkshopSelectModel(int32* kind);
// Each frame, before it is drawn: work that waits for a frame to show its
// status line, and the sun moved by hand (which ends following the place).
void WorkshopFrame(uint32 now);
// After the frame is shown.
void WorkshopFrameShown();
// '[' and ']' step the time of day back and forward by the menu's step.
int32 WorkshopKeyboard(int32 event, void* data);
// Steps the time of day by so many hours (round the clock), turns the place
// on and puts the sun, the dome's colours and the night's bodies where the
// moment puts them.
void WorkshopStepTime(float hours);

// Writes what is on screen: the files the options name (--export-gltf,
// --export-panorama, --save-dome), or else skydome-NNN.glb, .exr, .png and
// .dff with the first number none of them has. Each file's full path goes to
// the status line and the terminal.
bool WorkshopExport();
// Writes the settings in use as a --settings file, skydome-NNN.json.
bool WorkshopSaveSettings();
// The settings in use, as --settings reads them.
std::string WorkshopSettingsJson();

const PlaceTime* WorkshopGetPlace();

}  // namespace kv
