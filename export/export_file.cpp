#include "export_file.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/stream/safe_write.h"

namespace kv {

bool EndsWith(const char* name, const char* extension) {
    const std::size_t n = std::strlen(name);
    const std::size_t e = std::strlen(extension);
    return n > e && strcasecmp(name + n - e, extension) == 0;
}

std::string ExportFileProblem(const FileWriteStatus& status) {
    char text[512];
    return FileWriteProblem(&status, text, sizeof text);
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
        if (file.status.kept != 0) *why += ". The file there is unchanged";
        return false;
    }
    if (!FileWriteCommit(&file, -1)) {
        *why = ExportFileProblem(file.status);
        return false;
    }
    return true;
}

bool ExportFileOpen(ExportFileOut* out, const char* path) {
    out->fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out->fd < 0) {
        out->why = ExportFileProblem(FileWriteStatus{FileWriteCreate, errno, 0});
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
            if (out->why.empty())
                out->why = ExportFileProblem(FileWriteStatus{FileWriteData, n < 0 ? errno : ENOSPC, 0});
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
        out->why = ExportFileProblem(FileWriteStatus{FileWriteData, errno, 0});
        return false;
    }
    return out->why.empty();
}

bool ExportStringWriter(const char* path, void* data, std::string* why) {
    const auto* bytes = static_cast<const std::string*>(data);
    ExportFileOut out;
    const bool written = ExportFileOpen(&out, path) && ExportFilePut(&out, bytes->data(), bytes->size());
    const bool closed = ExportFileClose(&out);
    if (!written || !closed) *why = out.why;
    return written && closed;
}

}  // namespace kv
