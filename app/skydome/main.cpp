// Process entry of the sky-dome creator: the program's own options are taken
// out, the rest goes to the shell, whose events go to the application.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/skel/skeleton.h"
#include "app/skydome/batch_run.h"
#include "app/skydome/options.h"
#include "app/skydome/skydome.h"
#include "engine/stream/safe_write.h"
#include "export/panorama.h"

int32_t kv::AppEventHandler(int32_t event, void* data) { return kv::SkydomeEventHandler(event, data); }

namespace {

bool outputFailed = false;

// What was printed reached standard output; when it did not (a full disk, a
// pipe whose reader has gone) the run says so, once, and fails. errno is
// cleared before the printing, whose failed write sets it.
bool OutputWritten() {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
    if (!outputFailed) {
        const int error = errno;
        const kv::FileWriteStatus status{kv::FileWriteData, error, 0};
        std::fprintf(stderr, "skydome: cannot write to standard output: %s%s%s%s\n", kv::FileWriteReason(&status),
                     error != 0 ? " (" : "", error != 0 ? std::strerror(error) : "", error != 0 ? ")" : "");
    }
    outputFailed = true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Past a file-size limit a write then fails (and is reported, keeping the
    // file saved before) instead of the signal ending the program mid-save.
    std::signal(SIGXFSZ, SIG_IGN);
    // Output to a pipe whose reader has gone fails (and is reported) instead
    // of the signal ending the program silently, with a save half made.
    std::signal(SIGPIPE, SIG_IGN);
    // A quit signal is honoured from here on, in every phase: start-up, the
    // frames, --export-only, the saves at the end. A panorama in the making
    // stops at it.
    kv::PlatformCatchQuitSignals();
    kv::PanoramaSetStop(kv::SkydomeInterruption);
    std::vector<char*> args(argv, argv + argc);
    std::string error;
    kv::SkydomeOptions* options = kv::SkydomeGetOptions();
    if (!kv::SkydomeParseOptions(args, options, &error)) {
        std::fprintf(stderr, "skydome: %s\n", error.c_str());
        return 2;
    }
    errno = 0;
    if (options->help) {
        std::fputs(kv::SkydomeUsage(), stdout);
        return OutputWritten() ? 0 : 1;
    }
    if (options->version) {
        std::printf("skydome %s\n", kv::SkydomeVersion());
        return OutputWritten() ? 0 : 1;
    }
    std::string sun;
    if (!kv::SkydomeResolveSun(options, &sun, &error)) {
        std::fprintf(stderr, "skydome: %s\n", error.c_str());
        return 2;
    }
    // The files asked for are still written when the line cannot be.
    errno = 0;
    if (!sun.empty()) std::printf("%s\n", sun.c_str());
    OutputWritten();
    kv::ShellSetVerbose(options->verbose);
    int status = 0;
    if (options->exportOnly) {
        status = kv::SkydomeExportOnly(options);
    } else {
        // Nothing but a person ends a run without --frames: without a display
        // nobody could, and it would run unseen until interrupted.
        static const std::string noDisplay = kv::SkydomeNoDisplayMessage();
        if (options->frames < 0) kv::ShellSetNoDisplayMessage(noDisplay.c_str());
        args.push_back(nullptr);
        status = kv::ShellMain(static_cast<int>(args.size()) - 1, args.data());
        if (status == 0 && (options->screenshotFailed || options->saveFailed || options->exportFailed)) status = 1;
    }
    // The run is over: nothing is left to end in order, and the wake-ups that
    // break off waits after a quit signal stop.
    kv::PlatformReleaseQuitSignals();
    if (!OutputWritten() && status == 0) status = 1;
    return status;
}
