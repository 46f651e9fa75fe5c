// kvimage: reads a picture the way the program does (by its extension,
// through the engine's registered readers), says what it is and can write it
// out as an 8-bit RGBA PNG. A way to check pictures before giving them to the
// program.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/image/image.h"
#include "engine/image/image_readers.h"
#include "engine/image/png_write.h"
#include "engine/stream/safe_write.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadImage = 1;
constexpr int kExitUsage = 2;

void Usage(FILE* out) {
    std::fputs(
        "Usage: kvimage IN [OUT.png]\n"
        "Reads the picture IN as the sky-dome creator reads its textures (a .bmp\n"
        "or .png file, chosen by the extension) and prints its width, height and\n"
        "depth in bits per pixel (4 and 8 have a palette). With OUT.png, writes\n"
        "the picture as an 8-bit RGBA PNG with any palette applied; the name must\n"
        "end in .png (a device or a pipe, such as /dev/stdout, takes any name).\n"
        "\n"
        "Options:\n"
        "  -h, --help            show this text and exit\n"
        "  --version             show the version and exit\n"
        "\n"
        "Exit status: 0 read (and written); 1 the picture cannot be read or\n"
        "written (one line on standard error says why); 2 bad usage.\n",
        out);
}

// Why the last read failed, in words.
std::string Reason(const char* fileName) {
    kv::ErrorRecord e{};
    if (kv::ErrorGet(&e)) {
        if (const char* text = kv::ImageReadErrorText(e.pluginID, e.errorCode)) return text;
        if (const char* text = kv::ErrorMeaningIn(e.pluginID, e.errorCode)) return text;
        return "the engine could not read it";
    }
    // No reader was asked: the extension is not one of theirs, or the file is missing.
    if (!kv::EngineInstanceGet()->fileFuncs.kvfexist(fileName)) return "no such file";
    return "not a .bmp or .png file name";
}

// Why a write failed and what to do, in words.
std::string WriteProblem(const kv::FileWriteStatus& status) {
    if (status.step == kv::FileWriteOk) return "the picture cannot be turned into PNG.";
    char text[512];
    return std::string(kv::FileWriteProblem(&status, text, sizeof text)) + ".";
}

struct Engine {
    bool up = false;
    Engine() {
        static int display = 0;
        kv::EngineSetDevice(nullptr);
        kv::EngineOpenParams params{&display};
        kv::EngineUseStandardModules();
        up = kv::EngineInit(nullptr, 0) && kv::EngineOpen(&params) && kv::EngineStart() &&
             kv::ImageRegisterFileReaders();
    }
    ~Engine() {
        if (kv::EngineGetState() == kv::EngineStateStarted) kv::EngineStop();
        if (kv::EngineOpenCount() != 0) kv::EngineClose();
        kv::EngineTerm();
    }
};

int Run(const char* in, const char* out) {
    Engine engine;
    if (!engine.up) {
        std::fprintf(stderr, "kvimage: the engine could not start\n");
        return kExitBadImage;
    }
    kv::ErrorClear();
    kv::Image* image = kv::ImageRead(in);
    if (image == nullptr) {
        std::fprintf(stderr, "kvimage: %s: %s\n", in, Reason(in).c_str());
        return kExitBadImage;
    }
    std::printf("%s: %d x %d, depth %d\n", in, image->width, image->height, image->depth);
    int status = kExitOk;
    kv::FileWriteStatus written{};
    if (out != nullptr && !kv::ImageWritePNG(image, out, true, &written)) {
        std::fprintf(stderr, "kvimage: cannot write %s: %s\n", out, WriteProblem(written).c_str());
        status = kExitBadImage;
    }
    kv::ImageDestroy(image);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        // --name=value is the GNU form of --name value; neither option here takes one.
        const std::string name = a.rfind("--", 0) == 0 ? a.substr(0, a.find('=')) : a;
        if (name != a && (name == "--help" || name == "--version")) {
            std::fprintf(stderr, "kvimage: %s takes no value\n", name.c_str());
            return kExitUsage;
        }
        if (a == "-h" || a == "--help") {
            Usage(stdout);
            return kExitOk;
        }
        if (a == "--version") {
            std::printf("kvimage %s\n", KV_VERSION);
            return kExitOk;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "kvimage: unknown option %s (see --help)\n", name.c_str());
            return kExitUsage;
        }
        files.push_back(argv[i]);
    }
    if (files.empty() || files.size() > 2) {
        Usage(stderr);
        return kExitUsage;
    }
    // The bytes are PNG: a name that says another format would mislead.
    if (files.size() == 2 && !kv::PngFileNameFits(files[1])) {
        std::fprintf(stderr, "kvimage: %s: the picture is written as PNG, so the name must end in .png\n", files[1]);
        return kExitUsage;
    }
    return Run(files[0], files.size() == 2 ? files[1] : nullptr);
}
