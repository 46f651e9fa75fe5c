#include "domesave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/stream/babinary.h"
#include "engine/stream/bastream.h"
#include "engine/world/babinwor.h"

namespace kv {

namespace {

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// The directory part of path, for syncing the rename ("." for a bare name).
std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncFile(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

}  // namespace

bool DomeSave(Clump* clump, const char* path, std::string* message, const DomeSaveOptions* options) {
    std::string target = path != nullptr ? path : "";
    auto fail = [&](const std::string& why, int error) {
        if (message != nullptr) {
            *message = "Cannot save the dome to " + target + ": " + why;
            if (error != 0) *message += std::string(" (") + std::strerror(error) + ")";
            *message += ". The file there is unchanged.";
        }
        return false;
    };
    if (clump == nullptr || target.empty()) return fail("nothing to save", 0);

    // A link is kept and what it points at is replaced, as writing through it would.
    struct stat info;
    if (lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = realpath(target.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    const bool exists = stat(target.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) return fail("it is a folder", 0);
    const mode_t mode = exists ? (info.st_mode & 07777) : (0666 & ~CurrentUmask());

    const uint32 expected = ClumpStreamGetSize(clump);
    if (expected == 0) return fail("the dome cannot be measured", ENOMEM);

    // Beside the target, so that the rename replaces it in one step.
    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        if (message != nullptr) *message = kDomeCannotOpen;
        return false;
    }
    fchmod(fd, mode);
    close(fd);
    auto discard = [&](const std::string& why, int error) {
        unlink(temp.c_str());
        return fail(why, error);
    };

    Stream* stream = options != nullptr && options->open != nullptr
                         ? options->open(temp.c_str(), options->data)
                         : StreamOpen(StreamTypeFileName, StreamAccessWrite, temp.c_str());
    if (stream == nullptr) {
        unlink(temp.c_str());
        if (message != nullptr) *message = kDomeCannotOpen;
        return false;
    }
    errno = 0;
    const bool written = ClumpStreamWrite(clump, stream) != nullptr;
    int error = errno;
    // Buffered bytes reach the file at close, and may fail only then.
    const bool closed = StreamClose(stream, nullptr);
    if (error == 0) error = errno;
    if (!written || !closed) return discard("the file could not be written", error);

    struct stat writtenInfo;
    if (stat(temp.c_str(), &writtenInfo) != 0) return discard("the file could not be written", errno);
    if (writtenInfo.st_size != static_cast<off_t>(expected) + kChunkHeaderSize) {
        return discard("the file was not written whole", 0);
    }
    if (!SyncFile(temp.c_str())) return discard("the file could not be written", errno);
    if (rename(temp.c_str(), target.c_str()) != 0) return discard("the file could not be replaced", errno);
    // Best effort: the rename itself survives a crash once its directory is synced.
    SyncFile(DirectoryOf(target).c_str());
    if (message != nullptr) message->clear();
    return true;
}

}  // namespace kv
