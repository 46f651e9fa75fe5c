#include "export_file.h"

#include <cerrno>
#include <cstring>

#include "engine/stream/safe_write.h"

namespace kv {

std::string ExportFileProblem(const FileWriteStatus& status) {
    std::string text = FileWriteStepText(status.step);
    if (status.osError != 0) text += std::string(" (") + std::strerror(status.osError) + ")";
    if (const char* advice = FileWriteStepAdvice(status.step)) text += std::string("; ") + advice;
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

}  // namespace kv
