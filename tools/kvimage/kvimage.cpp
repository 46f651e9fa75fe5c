// kvimage: reads a picture the way the program does (by its extension,
// through the engine's registered readers), says what it is and can write it
// out as an 8-bit RGBA PNG. A way to check pictures before giving them to the
// program.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/image/image.h"
#include "engine/image/png_write.h"
#include "engine/image/image_readers.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadImage = 1;
constexpr int kExitUsage = 2;

void Usage(FILE* out) {
    std::fputs(
        "usage: kvimage IN [OUT.png]\n"
        "\n"
        "Reads the picture IN as the program reads its textures (a .bmp or .png\n"
        "file, chosen by the extension) and prints its width, height and depth in\n"
        "bits per pixel (4 and 8 have a palette). With OUT, writes the picture as\n"
        "an 8-bit RGBA PNG with any palette applied.\n"
        "\n"
        "exit status: 0 read (and written); 1 the picture cannot be read or\n"
        "written (one line on standard error says why); 2 bad usage.\n",
        out);
}

// Why the last read failed, in words.
std::string Reason(const char* fileName) {
    kv::ErrorRecord e{};
    if (kv::ErrorGet(&e)) {
        if (const char* text = kv::ImageReadErrorText(e.pluginID, e.errorCode)) return text;
        char code[64];
        std::snprintf(code, sizeof(code), "engine error %d/0x%08x", e.pluginID, static_cast<unsigned>(e.errorCode));
        return code;
    }
    // No reader was asked: the extension is not one of theirs, or the file is missing.
    if (!kv::EngineInstanceGet()->fileFuncs.kvfexist(fileName)) return "no such file";
    return "not a .bmp or .png file name";
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
    if (out != nullptr && !kv::ImageWritePNG(image, out, true)) {
        std::fprintf(stderr, "kvimage: %s: cannot write the PNG file\n", out);
        status = kExitBadImage;
    }
    kv::ImageDestroy(image);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        Usage(stdout);
        return kExitOk;
    }
    if (argc < 2 || argc > 3) {
        Usage(stderr);
        return kExitUsage;
    }
    return Run(argv[1], argc == 3 ? argv[2] : nullptr);
}
