#include "exportfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kv {

namespace {

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

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

std::string Reason(const char* what, int error) {
    std::string text = what;
    if (error != 0) text += std::string(" (") + std::strerror(error) + ")";
    return text;
}

}  // namespace

bool ExportFileWrite(const char* path, ExportWriterFn writer, void* data, std::string* why) {
    std::string target = path != nullptr ? path : "";
    if (target.empty()) {
        *why = "no file name";
        return false;
    }
    // A link is kept and what it points at is replaced, as writing through it would.
    struct stat info;
    if (lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = realpath(target.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    const bool exists = stat(target.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        *why = "it is a folder";
        return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        *why = "it is not a plain file";
        return false;
    }
    const mode_t mode = exists ? (info.st_mode & 07777) : (0666 & ~CurrentUmask());

    // Beside the target, so that the rename replaces it in one step.
    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *why = Reason("no file can be made there", errno);
        return false;
    }
    fchmod(fd, mode);
    close(fd);
    auto discard = [&](const std::string& reason) {
        unlink(temp.c_str());
        *why = reason;
        return false;
    };
    std::string writerWhy;
    if (!writer(temp.c_str(), data, &writerWhy)) return discard(writerWhy);
    if (!SyncFile(temp.c_str())) return discard(Reason("the file could not be written", errno));
    if (rename(temp.c_str(), target.c_str()) != 0) return discard(Reason("the file could not be replaced", errno));
    // Best effort: the rename itself survives a crash once its folder is synced.
    SyncFile(DirectoryOf(target).c_str());
    return true;
}

}  // namespace kv
