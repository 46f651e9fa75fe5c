// Saving the dome: the clump is written to a new file beside the target and
// only replaces it once every byte is known to be on disk, so that a failed
// save never costs the user the dome they saved before.
//
// The file holds the dome in its own frame (identity: y up, +z north), not
// placed and turned as the orbit view shows it, so that a dome saved after
// turning it still holds the sky the right way round.
#pragma once

#include <string>

#include "engine/core/types.h"

namespace kv {

struct Clump;
struct Stream;
struct FileWriteStatus;

constexpr const char* kDomeFileName = "skydome.dff";
// The menu's save reports it first when no file can be opened for writing.
constexpr const char* kDomeCannotOpen = "Cannot open stream.";

// Opens the stream the clump is written to, for the temporary file at path
// (tests hand in failing streams). Null: it cannot be opened.
using DomeSaveOpenFn = Stream* (*)(const char* path, void* data);

// Which way the saved dome's faces point: as the view shows them (the
// preview's dome is turned inside out, as an engine draws a sky from inside),
// or either way whatever the view.
enum DomeFacing : int32 {
    DomeFacingAsShown = 0,
    DomeFacingOutward = 1,
    DomeFacingInward = 2,
};

struct DomeSaveOptions {
    DomeSaveOpenFn open = nullptr;  // null: a file-name stream opened for writing
    void* data = nullptr;
    DomeFacing facing = DomeFacingAsShown;
};

// Writes the clump to path (a link: to the file it names; a device or a pipe:
// in place), its frame the identity and, when it is the dome's clump, facing
// as asked; the clump is as it was afterwards. On failure the file at path is
// as it was, no temporary file is left, and *message (may be null) names the
// path and says in words why and what to do (ExportFileProblem); *status (may
// be null) is the failed step.
bool DomeSave(Clump* clump, const char* path, std::string* message, const DomeSaveOptions* options = nullptr,
              FileWriteStatus* status = nullptr);
// Whether the failed step is one where no file could be opened for writing.
bool DomeSaveCouldNotOpen(const FileWriteStatus& status);

}  // namespace kv
