#include "safe_write.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "stream.h"

namespace kv {

namespace {

int OpenFile(const char* path, int flags) { return open(path, flags); }
int RenameFile(const char* from, const char* to) { return std::rename(from, to); }

constexpr FileWriteSystem kRealSystem = {
    .makeTemp = mkstemp,
    .open = OpenFile,
    .sync = fsync,
    .close = close,
    .rename = RenameFile,
    .unlink = unlink,
};
const FileWriteSystem* sys = &kRealSystem;

// As many links as the kernel follows before it calls it a loop.
constexpr int kMaxLinks = 40;
// Short whatever the target's name, so that a name near the file-system's
// limit can still be saved.
constexpr char kTempName[] = ".kvsave-XXXXXX";

char* CopyOf(const char* s, std::size_t n) {
    auto* out = static_cast<char*>(KvMalloc(n + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, s, n);
    out[n] = '\0';
    return out;
}

// dir + '/' + name; a null or empty dir gives name alone.
char* Join(const char* dir, std::size_t dirLength, const char* name) {
    const std::size_t nameLength = std::strlen(name);
    auto* out = static_cast<char*>(KvMalloc(dirLength + 1 + nameLength + 1));
    if (out == nullptr) return nullptr;
    std::size_t at = 0;
    if (dirLength > 0) {
        std::memcpy(out, dir, dirLength);
        at = dirLength;
        if (out[at - 1] != '/') out[at++] = '/';
    }
    std::memcpy(out + at, name, nameLength + 1);
    return out;
}

// Length of the folder part of path including its last '/'; 0 for a bare name.
std::size_t FolderLength(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// Whether the folder the path names a file in exists: a file system such
// as /proc answers "no such file" when asked to make one in a folder that is
// there.
bool FolderIsThere(const char* path) {
    const std::size_t length = FolderLength(path);
    char folder[PATH_MAX];
    if (length >= sizeof folder) return false;
    if (length == 0) {
        std::strcpy(folder, ".");
    } else {
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    struct stat info;
    return stat(folder, &info) == 0 && S_ISDIR(info.st_mode);
}

// The new files on disk not yet committed, for FileWriteRemoveTemporaries.
// Enough for every write a program has under way at once; a write that finds
// the table full is still safe, only not removed by a signal handler.
constexpr int kPendingSlots = 8;
std::atomic<const char*> pending[kPendingSlots];
std::atomic<int> pendingFolder[kPendingSlots];  // the folder held for each, or -1
static_assert(std::atomic<const char*>::is_always_lock_free, "a signal handler reads the table");
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the table");

// The last part of a path: the name within its folder.
const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

// Every signal held back while a new file and the table change together.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

void Remember(const char* temp, int folder) {
    for (int i = 0; i < kPendingSlots; ++i) {
        const char* empty = nullptr;
        if (pending[i].compare_exchange_strong(empty, temp)) {
            pendingFolder[i].store(folder);
            return;
        }
    }
}

// Whether the target's folder, by its name, is no longer the folder held
// (moved, removed, or a link on the way now leads elsewhere).
bool FolderMoved(const FileWrite* w) {
    if (w->folder < 0 || w->target == nullptr) return false;
    struct stat held, now;
    if (fstat(w->folder, &held) != 0) return false;
    const std::size_t length = FolderLength(w->target);
    char* folder = length == 0 ? CopyOf(".", 1) : CopyOf(w->target, length);
    if (folder == nullptr) return false;
    const bool moved = stat(folder, &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino;
    KvFree(folder);
    return moved;
}

void Forget(const char* temp) {
    for (std::atomic<const char*>& slot : pending) {
        const char* held = temp;
        slot.compare_exchange_strong(held, nullptr);
    }
}

void RemoveTemp(FileWrite* w) {
    if (w->temp == nullptr) return;
    const SignalsHeld held;
    // By its name while that still leads to it; else in the folder held.
    if (FolderMoved(w)) {
        unlinkat(w->folder, BaseName(w->temp), 0);
    } else {
        sys->unlink(w->temp);
    }
    Forget(w->temp);
}

void Release(FileWrite* w) {
    KvFree(w->target);
    KvFree(w->temp);
    w->target = nullptr;
    w->temp = nullptr;
    if (w->folder >= 0) close(w->folder);
    w->folder = -1;
}

bool Fail(FileWrite* w, int32 step, int error, int32 code) {
    FileWriteFail(w, step, error);
    ErrorRaiseDetail(kModuleNone, code, error);
    RemoveTemp(w);
    Release(w);
    return false;
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Follows links in the last part of the name to what they finally name. The
// result may not exist (a dangling link, or a new file). Null with *error set
// on a loop or when memory runs out.
char* FollowLinks(const char* path, struct stat* info, bool* exists, int* error) {
    char* current = CopyOf(path, std::strlen(path));
    for (int hops = 0; current != nullptr; ++hops) {
        if (lstat(current, info) != 0) {
            if (errno == ELOOP) break;
            // Missing, or a folder on the way that cannot be searched: making
            // the new file reports what is wrong.
            *exists = false;
            return current;
        }
        if (!S_ISLNK(info->st_mode)) {
            *exists = true;
            return current;
        }
        if (hops == kMaxLinks) {
            errno = ELOOP;
            break;
        }
        // st_size is the link's length, except for links that do not know it.
        const std::size_t room = info->st_size > 0 ? static_cast<std::size_t>(info->st_size) + 1 : PATH_MAX;
        auto* link = static_cast<char*>(KvMalloc(room));
        if (link == nullptr) break;
        const ssize_t n = readlink(current, link, room);
        if (n < 0 || static_cast<std::size_t>(n) >= room) {
            if (n >= 0) errno = ENAMETOOLONG;
            KvFree(link);
            break;
        }
        link[n] = '\0';
        // A relative link is relative to the folder that holds it.
        char* next =
            link[0] == '/' ? CopyOf(link, static_cast<std::size_t>(n)) : Join(current, FolderLength(current), link);
        KvFree(link);
        KvFree(current);
        current = next;
    }
    *error = current == nullptr ? ENOMEM : errno;
    KvFree(current);
    return nullptr;
}

void SyncPath(const char* path) {
    const int fd = sys->open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    sys->sync(fd);
    sys->close(fd);
}

}  // namespace

bool FileWriteBegin(FileWrite* w, const char* path) {
    if (w == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    *w = FileWrite{nullptr, nullptr, {FileWriteOk, 0, 0}, -1};
    if (path == nullptr || *path == '\0') return Fail(w, FileWriteCreate, ENOENT, kErrNullArgument);

    // A device or a pipe takes the data as it comes; renaming a file over it
    // would destroy it. Asked of the name itself, so that links the kernel
    // alone can follow (/proc/self/fd/1 -> "pipe:[N]") lead to the pipe.
    struct stat info;
    if (stat(path, &info) == 0 && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) {
        w->target = CopyOf(path, std::strlen(path));
        if (w->target == nullptr) return Fail(w, FileWriteCreate, ENOMEM, kErrNoMemory);
        return true;
    }
    bool exists = false;
    int error = 0;
    w->target = FollowLinks(path, &info, &exists, &error);
    if (w->target == nullptr) return Fail(w, FileWriteFollow, error, kErrFileOpen);
    if (exists) {
        if (S_ISDIR(info.st_mode)) return Fail(w, FileWriteFolder, EISDIR, kErrFileOpen);
        // Made a device or a pipe since it was looked at.
        if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) return true;
        if (!S_ISREG(info.st_mode)) return Fail(w, FileWriteKind, 0, kErrFileOpen);
        w->status.kept = 1;
    }

    w->temp = Join(w->target, FolderLength(w->target), kTempName);
    if (w->temp == nullptr) return Fail(w, FileWriteCreate, ENOMEM, kErrNoMemory);
    // Exclusively, under a name nobody else holds: a file or link planted
    // under a guessable name is never written through.
    int fd = -1;
    int e = 0;
    bool moved = false;
    {
        // The folder the new file goes in, held from now on. Opened first:
        // should the name lead to another folder by the time the new file is
        // made, the new file is in the folder the name leads to, where it is
        // removed by its name.
        const std::size_t length = FolderLength(w->target);
        char* folder = length == 0 ? CopyOf(".", 1) : CopyOf(w->target, length);
        w->folder = folder != nullptr ? open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
        KvFree(folder);
        const SignalsHeld held;
        fd = sys->makeTemp(w->temp);
        e = errno;
        if (fd >= 0) {
            struct stat made, found;
            moved = w->folder >= 0 && fstat(fd, &made) == 0 &&
                    (fstatat(w->folder, BaseName(w->temp), &found, AT_SYMLINK_NOFOLLOW) != 0 ||
                     made.st_dev != found.st_dev || made.st_ino != found.st_ino);
            if (moved) {
                sys->unlink(w->temp);
            } else {
                Remember(w->temp, w->folder);
            }
        }
    }
    if (moved) {
        sys->close(fd);
        KvFree(w->temp);
        w->temp = nullptr;
        return Fail(w, FileWriteFolderMoved, 0, kErrFileOpen);
    }
    if (fd < 0) {
        KvFree(w->temp);
        w->temp = nullptr;
        // The file may be writable, but the new one goes beside it.
        const bool locked = e == EACCES || e == EPERM || e == EROFS;
        if (e == ENOENT && FolderIsThere(w->target)) return Fail(w, FileWriteNoNewFiles, e, kErrFileOpen);
        return Fail(w, locked ? FileWriteFolderLocked : FileWriteCreate, e, kErrFileOpen);
    }
    if (exists) {
        // Best effort: only an administrator can give the file back to
        // another owner.
        if (fchown(fd, info.st_uid, info.st_gid) != 0) {
        }
    }
    fchmod(fd, exists ? info.st_mode & 07777 : NewFileMode());
    sys->close(fd);
    return true;
}

const char* FileWritePath(const FileWrite* w) {
    if (w == nullptr) return nullptr;
    return w->temp != nullptr ? w->temp : w->target;
}

bool FileWriteInPlace(const FileWrite* w) { return w != nullptr && w->target != nullptr && w->temp == nullptr; }

void FileWriteFail(FileWrite* w, int32 step, int32 osError) {
    if (w == nullptr || w->status.step != FileWriteOk) return;
    w->status.step = step;
    w->status.osError = osError;
}

bool FileWriteCommit(FileWrite* w, int64_t expectedSize) {
    if (w == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    if (w->target == nullptr || w->status.step != FileWriteOk) {
        FileWriteFail(w, FileWriteData, 0);
        return Fail(w, w->status.step, w->status.osError, kErrWriteFailed);
    }
    if (w->temp == nullptr) {
        Release(w);
        return true;
    }
    if (FolderMoved(w)) return Fail(w, FileWriteFolderMoved, 0, kErrWriteFailed);
    struct stat info;
    if (stat(w->temp, &info) != 0) return Fail(w, FileWriteData, errno, kErrWriteFailed);
    if (expectedSize >= 0 && info.st_size != expectedSize) return Fail(w, FileWriteShort, 0, kErrWriteFailed);
    const int fd = sys->open(w->temp, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(w, FileWriteData, errno, kErrWriteFailed);
    if (sys->sync(fd) != 0) {
        const int e = errno;
        sys->close(fd);
        return Fail(w, FileWriteData, e, kErrWriteFailed);
    }
    sys->close(fd);
    int renamed = 0;
    int e = 0;
    {
        const SignalsHeld held;
        renamed = sys->rename(w->temp, w->target);
        e = errno;
        if (renamed == 0) Forget(w->temp);
    }
    if (renamed != 0) return Fail(w, FileWriteReplace, e, kErrWriteFailed);
    // The rename itself survives a crash once its folder is synced.
    const std::size_t folder = FolderLength(w->target);
    if (folder == 0) {
        SyncPath(".");
    } else {
        w->target[folder == 1 ? 1 : folder - 1] = '\0';
        SyncPath(w->target);
    }
    Release(w);
    return true;
}

void FileWriteAbort(FileWrite* w) {
    if (w == nullptr) return;
    RemoveTemp(w);
    Release(w);
}

void FileWriteRemoveTemporaries() {
    for (int i = 0; i < kPendingSlots; ++i) {
        const char* temp = pending[i].exchange(nullptr);
        if (temp == nullptr) continue;
        const int folder = pendingFolder[i].load();
        if (folder >= 0) {
            unlinkat(folder, BaseName(temp), 0);
        } else {
            unlink(temp);
        }
    }
}

void FileWriteSetSystem(const FileWriteSystem* system) { sys = system != nullptr ? system : &kRealSystem; }

const char* FileWriteStepText(int32 step) {
    switch (step) {
        case FileWriteOk:
            return "no failure";
        case FileWriteFollow:
            return "the links to it cannot be followed";
        case FileWriteFolder:
            return "it is a folder";
        case FileWriteKind:
            return "it is neither a file nor a device or pipe that can be written";
        case FileWriteCreate:
            return "the file cannot be made";
        case FileWriteData:
            return "the file could not be written";
        case FileWriteShort:
            return "the file was not written whole";
        case FileWriteReplace:
            return "the file could not be replaced";
        case FileWriteFolderLocked:
            return "its folder cannot be written to";
        case FileWriteFolderMoved:
            return "its folder was moved, or a link on the way to it was changed, while the file was written";
        case FileWriteNoNewFiles:
            return "its folder is a system folder that makes no new files";
        default:
            return "the file could not be written";
    }
}

const char* FileWriteReason(const FileWriteStatus* status) {
    if (status == nullptr) return "the file could not be written";
    switch (status->step) {
        case FileWriteOk:
            return "no failure";
        case FileWriteFollow:
            return status->osError == ELOOP ? "the links to it go round in a loop"
                                            : "the links to it cannot be followed";
        case FileWriteFolder:
            return "it is a folder";
        case FileWriteKind:
            return "it is a block device or a socket, not a file";
        case FileWriteFolderMoved:
            return "its folder was moved, or a link on the way to it now leads to another folder, since the write "
                   "began; the new file was removed, and nothing was written under the name";
        case FileWriteNoNewFiles:
            return "its folder is there, but it is a system folder that makes no new files";
        case FileWriteFolderLocked:
            if (status->osError != EROFS) return "its folder cannot be written to";
            break;
        default:
            break;
    }
    const bool making = status->step == FileWriteCreate || status->step == FileWriteFolderLocked;
    switch (status->osError) {
        case ENOENT:
            return making ? "the folder it would go in does not exist" : "the file was removed while it was written";
        case ENOTDIR:
            return "a part of its path is a file, not a folder";
        case EACCES:
        case EPERM:
            return making ? "there is no permission to write in its folder" : "there is no permission to write it";
        case EROFS:
            return "its folder is on a read-only file system";
        case ENOSPC:
            return "the disk is full";
        case EDQUOT:
            return "the disk quota is used up";
        case EFBIG:
            return "it would grow past the largest file allowed (the file-size limit)";
        case ENAMETOOLONG:
            return "its name is too long";
        case EIO:
            return "the disk reported an input/output error";
        case EMFILE:
        case ENFILE:
            return "too many files are open";
        case ENOMEM:
            return "the program ran out of memory";
        case EPIPE:
            return "nothing reads the pipe any more (the program at its other end has ended)";
        case ESPIPE:
            return "it can only be written in order, as a pipe or a terminal is, and this file cannot";
        case 0:
            break;
        default:
            // The system's own words follow in the message.
            return FileWriteStepText(status->step);
    }
    return status->step == FileWriteShort ? "not every byte reached the disk" : FileWriteStepText(status->step);
}

const char* FileWriteAdvice(const FileWriteStatus* status) {
    if (status == nullptr) return "Check the name and its folder, and try again";
    switch (status->step) {
        case FileWriteFollow:
            return "Point the link at a file, or give another name";
        case FileWriteFolder:
            return "Give the name of a file, not of a folder";
        case FileWriteKind:
            return "Give the name of a file";
        case FileWriteFolderMoved:
            return "Leave the folder and the links to it as they are until the write ends, and write it again";
        case FileWriteNoNewFiles:
            return "Give a name in a folder of your own, such as your home folder";
        case FileWriteFolderLocked:
            // The file itself may be writable: say why that is not enough.
            if (status->kept != 0) {
                return "A save writes the new file beside the old one before it takes the old one's place, so save "
                       "into a folder you can write to, or make this one writable";
            }
            break;
        case FileWriteShort:
            return "Check that the disk has room, and try again";
        case FileWriteData:
            if (status->osError == 0) return "Check that the disk has room, and try again";
            break;
        default:
            break;
    }
    switch (status->osError) {
        case ENOENT:
            return "Make the folder first, or give a name in a folder that exists";
        case ENOTDIR:
            return "Check the path: every part but the last must be a folder";
        case EACCES:
        case EPERM:
        case EROFS:
            return "Give a name in a folder you can write in";
        case ENOSPC:
        case EDQUOT:
            return "Free some space, or write to another disk";
        case EFBIG:
            return "Raise the limit (ulimit -f), or write to another disk";
        case ENAMETOOLONG:
            return "Give a shorter name";
        case EIO:
            return "Check the disk, or write to another one";
        case EMFILE:
        case ENFILE:
        case ENOMEM:
            return "Close other programs, and try again";
        case EPIPE:
            return "Keep the reading program running until the write ends, or write to a file";
        case ESPIPE:
            return "Write it to a file";
        default:
            return "Check the name and its folder, and try again";
    }
}

char* FileWriteProblem(const FileWriteStatus* status, char* out, int32 size) {
    if (out == nullptr || size <= 0) return out;
    const int32 error = status != nullptr ? status->osError : 0;
    std::snprintf(out, static_cast<std::size_t>(size), "%s%s%s%s. %s%s", FileWriteReason(status),
                  error != 0 ? " (" : "", error != 0 ? std::strerror(error) : "", error != 0 ? ")" : "",
                  FileWriteAdvice(status),
                  status != nullptr && status->kept != 0 ? ". The file there is unchanged" : "");
    return out;
}

}  // namespace kv
