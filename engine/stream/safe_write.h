// Writing a file so that the user can trust it: the data goes to a new file
// made beside the target and replaces the target only once every byte is on
// disk, so a failed write leaves the old file as it was. Links are followed to
// the file they name; devices and pipes are written in place (nothing can be
// renamed over them without destroying them). The writer itself opens
// FileWritePath with the instance's file functions. The new files not yet
// committed are known, so that a program ended by a signal can remove them.
#pragma once

#include "engine/core/types.h"

namespace kv {

// The step of a write that failed; each has a text for messages.
enum FileWriteStep : int32 {
    FileWriteOk = 0,
    FileWriteFollow = 1,        // the links to the file cannot be followed (a loop)
    FileWriteFolder = 2,        // the name is a folder
    FileWriteKind = 3,          // a block device or a socket: neither a file nor a stream
    FileWriteCreate = 4,        // the file (or the device) cannot be opened
    FileWriteData = 5,          // the data could not be written
    FileWriteShort = 6,         // fewer bytes reached the file than were written
    FileWriteReplace = 7,       // the new file could not take the old one's place
    FileWriteFolderLocked = 8,  // no new file can be made in the target's folder (not writable)
    FileWriteFolderMoved = 9,   // the target's folder was moved, or a link to it changed, during the write
    FileWriteNoNewFiles = 10,   // the folder is there but makes no new files (a system folder such as /proc)
};

struct FileWriteStatus {
    int32 step;     // FileWriteStep
    int32 osError;  // errno of the failing call; 0 when none applies
    int32 kept;     // 1: a file was there before, and a failed write leaves it as it was
};

struct FileWrite {
    char* target;  // the file that is written: every link followed
    char* temp;    // the new file beside it; null when written in place
    FileWriteStatus status;
    // The folder the new file was made in, held open, so that the new file
    // is found and removed there whatever happens to the names on the way
    // (a link to the folder swapped); -1 when none is held.
    int32 folder;
};

// Prepares a write of path. What the name reaches decides: a device or a pipe
// (through links, /dev/stdout and /proc/self/fd/N included) is written in
// place under the name given; otherwise links are followed to the file they
// name, and a dangling link makes that file. Fails (status set, kErrFileOpen
// raised) on a link loop, a folder, a block device or socket, or when no file
// can be made beside the target; nothing is left behind then. The new file is empty, created exclusively under a short
// unique name, and has the target's permissions (a new target's: 0666 less
// the umask).
bool FileWriteBegin(FileWrite* write, const char* path);
// Where the writer writes: the new file, or the target when in place.
const char* FileWritePath(const FileWrite* write);
bool FileWriteInPlace(const FileWrite* write);
// Records a failure of the writer itself (FileWriteData with its errno).
void FileWriteFail(FileWrite* write, int32 step, int32 osError);
// After the writer has closed the file: checks that the target's folder is
// still the one the new file was made in (else the new file is removed and
// FileWriteFolderMoved reported), checks its size (expectedSize < 0:
// not checked), syncs it, renames it over the target and syncs the folder.
// On failure the new file is removed and the target is as it was. Frees what
// FileWriteBegin allocated either way.
bool FileWriteCommit(FileWrite* write, int64_t expectedSize);
// Gives up: removes the new file, frees the record; the status stays.
void FileWriteAbort(FileWrite* write);

// The system calls by which the data reaches the disk, in one table so that a
// test can watch their order (the file synced before it is renamed) or make
// one fail. FileWriteSetSystem(null) restores the real calls.
struct FileWriteSystem {
    int (*makeTemp)(char* pattern);  // mkstemp
    int (*open)(const char* path, int flags);
    int (*sync)(int fd);  // fsync
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
};
void FileWriteSetSystem(const FileWriteSystem* system);

// Removes every new file begun and not yet committed or given up, for a
// signal handler about to end the program: it only reads a fixed table and
// calls unlinkat in the folders held, so it is safe in a handler. The writer makes, renames and
// removes its new files with all signals blocked, so the table is never
// behind the disk.
void FileWriteRemoveTemporaries();

// "it is a folder", "the file could not be written"... for a message that
// names the path and adds the system's reason.
const char* FileWriteStepText(int32 step);
// Why a write failed, in words a user can act on ("the disk is full", "the
// folder it would go in does not exist"), from the step and its errno.
const char* FileWriteReason(const FileWriteStatus* status);
// What the user can do about it ("Free some space, or write to another
// disk"), without a full stop.
const char* FileWriteAdvice(const FileWriteStatus* status);
// The words after "Cannot write X to PATH: " without the closing full stop:
// the reason, the system's own in brackets, the advice, and, when a file was
// there before, that it is unchanged. Written into out (size bytes, cut short
// when it must be); returns out.
char* FileWriteProblem(const FileWriteStatus* status, char* out, int32 size);

}  // namespace kv
