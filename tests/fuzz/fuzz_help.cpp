// libFuzzer target: the help-file loader on arbitrary bytes. The engine's
// file table opens the input as readme.txt in the user's data folder; no
// other folder is searched. Whatever the file holds, the page must be at most 1500
// lines of at most 78 printable characters with no trailing blanks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/skel/menu.h"
#include "app/skel/skeleton.h"
#include "engine/core/engine.h"
#include "fuzz_image.h"

namespace {

const uint8_t* input = nullptr;
std::size_t inputSize = 0;

void* OpenInput(const char* name, const char* access) {
    const std::size_t n = std::strlen(name);
    if (std::strcmp(access, "r") != 0 || n < 10 || std::strcmp(name + n - 10, "readme.txt") != 0) return nullptr;
    // An empty input is an empty file; its pointer need not be valid.
    static char empty = '\0';
    if (inputSize == 0) return fmemopen(&empty, 0, "r");
    return fmemopen(const_cast<uint8_t*>(input), inputSize, "r");
}

void CheckPage() {
    const kv::int32 count = kv::MenuHelpLineCount();
    kv::fuzz::Check(count >= 0 && count <= kv::kMenuHelpMaxLines);
    for (kv::int32 i = 0; i < count; ++i) {
        const char* line = kv::MenuHelpLine(i);
        kv::fuzz::Check(line != nullptr);
        const std::size_t length = std::strlen(line);
        kv::fuzz::Check(length <= static_cast<std::size_t>(kv::kMenuHelpColumns));
        for (std::size_t c = 0; c < length; ++c) {
            const auto u = static_cast<unsigned char>(line[c]);
            kv::fuzz::Check(u >= 32 && u < 128);
        }
        kv::fuzz::Check(length == 0 || line[length - 1] != ' ');
    }
    kv::fuzz::Check(kv::MenuHelpLine(count) == nullptr);
}

}  // namespace

// The skeleton calls the application's handler; this target is no application.
namespace kv {
int32 AppEventHandler(int32, void*) { return EventNotHandled; }
}  // namespace kv

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kv::fuzz::StartEngine();
    kv::EngineInstance* engine = kv::EngineInstanceGet();
    engine->fileFuncs.kvfopen = OpenInput;
    // The menu's character sets need no pixels here, and the null device makes no rasters.
    for (kv::int32 slot : {kv::StdRasterCreate, kv::StdRasterDestroy, kv::StdRasterSetImage}) {
        engine->stdFunc.fn[slot] = [](void*, void*, kv::int32) { return true; };
    }
    static const char* const noFolders[] = {nullptr};
    kv::ShellSetDataFolders(noFolders);
    kv::ShellSetUserDataFolder("./");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    input = data;
    inputSize = size;
    kv::fuzz::Check(kv::MenuOpen(0, nullptr, nullptr));
    CheckPage();
    kv::fuzz::Check(kv::MenuClose());
    return 0;
}
