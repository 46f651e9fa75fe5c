#include "dome_save.h"

#include <cerrno>

#include "app/skydome/dome.h"
#include "engine/core/quoted_name.h"
#include "engine/frame/frame.h"
#include "engine/stream/chunk.h"
#include "engine/stream/safe_write.h"
#include "engine/stream/stream.h"
#include "engine/world/clump.h"
#include "engine/world/clump_stream.h"
#include "export/export_file.h"

namespace kv {

namespace {

// While it lives, the clump stands in the dome's own frame and the dome
// faces the way asked.
struct OwnFrame {
    Frame* frame = nullptr;
    Matrix placed{};
    bool turned = false;
    OwnFrame(Clump* clump, DomeFacing facing) : frame(ClumpGetFrame(clump)) {
        if (frame != nullptr) {
            placed = *FrameGetMatrix(frame);
            Matrix identity;
            MatrixSetIdentity(&identity);
            FrameTransform(frame, &identity, CombineReplace);
        }
        const Atomic* dome = DomeGetAtomic();
        const bool inward = DomeGetSettings()->preview != 0;
        turned = facing != DomeFacingAsShown && dome != nullptr && AtomicGetClump(dome) == clump &&
                 (facing == DomeFacingInward) != inward;
        if (turned) DomeInvert();
    }
    ~OwnFrame() {
        if (turned) DomeInvert();
        if (frame != nullptr) FrameTransform(frame, &placed, CombineReplace);
    }
};

}  // namespace

bool DomeSave(Clump* clump, const char* path, std::string* message, const DomeSaveOptions* options,
              FileWriteStatus* status) {
    const std::string target = path != nullptr ? path : "";
    if (status != nullptr) *status = FileWriteStatus{FileWriteOk, 0, 0};
    auto fail = [&](const FileWriteStatus& failed) {
        if (status != nullptr) *status = failed;
        if (message != nullptr)
            *message = "Cannot save the dome to " + QuotedName(target) + ": " + ExportFileProblem(failed) + ".";
        return false;
    };
    if (clump == nullptr || target.empty()) {
        if (message != nullptr) *message = "Cannot save the dome to " + QuotedName(target) + ": nothing to save.";
        return false;
    }
    const OwnFrame own(clump, options != nullptr ? options->facing : DomeFacingAsShown);
    const uint32 expected = ClumpStreamGetSize(clump);
    if (expected == 0) {
        if (message != nullptr)
            *message = "Cannot save the dome to " + QuotedName(target) + ": the dome cannot be measured.";
        return false;
    }

    FileWrite file;
    if (!FileWriteBegin(&file, target.c_str())) return fail(file.status);
    errno = 0;
    Stream* stream = options != nullptr && options->open != nullptr
                         ? options->open(FileWritePath(&file), options->data)
                         : StreamOpen(StreamTypeFileName, StreamAccessWrite, FileWritePath(&file));
    if (stream == nullptr) {
        FileWriteFail(&file, FileWriteCreate, errno);
        FileWriteAbort(&file);
        return fail(file.status);
    }
    errno = 0;
    const bool written = ClumpStreamWrite(clump, stream) != nullptr;
    int error = errno;
    // Buffered bytes reach the file at close, and may fail only then.
    errno = 0;
    const bool closed = StreamClose(stream, nullptr);
    if (error == 0) error = errno;
    if (!written || !closed) {
        FileWriteFail(&file, FileWriteData, error);
        FileWriteAbort(&file);
        return fail(file.status);
    }
    if (!FileWriteCommit(&file, static_cast<int64_t>(expected) + kChunkHeaderSize)) return fail(file.status);
    if (message != nullptr) message->clear();
    return true;
}

bool DomeSaveCouldNotOpen(const FileWriteStatus& status) {
    return status.step == FileWriteFollow || status.step == FileWriteFolder || status.step == FileWriteKind ||
           status.step == FileWriteCreate || status.step == FileWriteFolderLocked || status.step == FileWriteNoNewFiles;
}

}  // namespace kv
