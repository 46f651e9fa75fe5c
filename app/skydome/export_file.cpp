#include "export_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/stream/safe_write.h"

namespace kv {

std::string ExportFileProblem(const FileWriteStatus& status) {
    std::string text = FileWriteStepText(status.step);
    if (status.osError != 0) text += std::string(" (") + std::strerror(status.osError) + ")";
    return text;
}

bool ExportFileWrite(const char* target, ExportWriterFn writer, void* data, std::string* why) {
    if (target == nullptr || *target == '\0') {
        *why = "no file name";
        return false;
    }
    FileWrite file;
    if (!FileWriteBegin(&file, target)) {
        *why = ExportFileProblem(file.status);
        return false;
    }
    std::string problem;
    errno = 0;
    if (!writer(FileWritePath(&file), data, &problem)) {
        FileWriteFail(&file, FileWriteData, errno);
        FileWriteAbort(&file);
        *why = problem;
        return false;
    }
    if (!FileWriteCommit(&file, -1)) {
        *why = ExportFileProblem(file.status);
        return false;
    }
    return true;
}

namespace {

std::string SystemProblem(const char* what, int error) {
    return std::string("the file could not be ") + what + " (" + std::strerror(error) + ")";
}

}  // namespace

bool ExportFileOpen(ExportFileOut* out, const char* path) {
    out->fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out->fd < 0) {
        out->why = SystemProblem("opened", errno);
        return false;
    }
    return true;
}

bool ExportFilePut(ExportFileOut* out, const void* bytes, std::size_t count) {
    if (out->fd < 0) return false;
    const auto* p = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = write(out->fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (out->why.empty()) out->why = SystemProblem("written", n < 0 ? errno : ENOSPC);
            close(out->fd);
            out->fd = -1;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ExportFileClose(ExportFileOut* out) {
    if (out->fd < 0) return false;
    const int fd = out->fd;
    out->fd = -1;
    if (close(fd) != 0) {
        out->why = SystemProblem("written", errno);
        return false;
    }
    return out->why.empty();
}

}  // namespace kv
