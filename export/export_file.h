// Exports whose libraries write a file by its name (glTF, OpenEXR), written
// the safe way (engine/stream/safe_write.h): a new file beside the target takes
// its place only once it is whole and on disk, so a failed export never leaves
// a partial file and never costs the user the file that was there.
#pragma once

#include <cstddef>
#include <string>

#include "engine/core/types.h"

namespace kv {

// Whether a file name ends in the extension (".png"), in any case, after at
// least one other character.
bool EndsWith(const char* name, const char* extension);

struct FileWriteStatus;

// Writes the file at path; false with *why saying what went wrong.
using ExportWriterFn = bool (*)(const char* path, void* data, std::string* why);

// False with *why (the problem, for a message that names the file) when the
// target cannot be written; the target is then as it was and nothing is left
// beside it.
bool ExportFileWrite(const char* target, ExportWriterFn writer, void* data, std::string* why);

// The words after "Cannot write X to PATH: " for a failed write, without the
// closing full stop: why (with the system's reason), what to do, and, when a
// file was there before, that it is unchanged. "the disk is full (No space
// left on device). Free some space, or write to another disk".
std::string ExportFileProblem(const FileWriteStatus& status);

// The file a writer writes, in pieces: opened by its name (the new file
// ExportFileWrite made), each piece written whole, closed; *why keeps the
// first failure.
struct ExportFileOut {
    int fd = -1;
    std::string why;
};
bool ExportFileOpen(ExportFileOut* out, const char* path);
bool ExportFilePut(ExportFileOut* out, const void* bytes, std::size_t count);
// False when the close, or anything before it, failed.
bool ExportFileClose(ExportFileOut* out);

// A writer for ExportFileWrite of bytes already made: data is the
// std::string that holds them.
bool ExportStringWriter(const char* path, void* data, std::string* why);

}  // namespace kv
