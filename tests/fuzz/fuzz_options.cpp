// libFuzzer target: the program's command line on arbitrary bytes. The input
// is the arguments after the program's name, split at NUL bytes; the same
// bytes up to the first NUL also go through the shell's splitter of a command
// given as one line, and its words through the option reader too. Accepted or
// refused, the reader must leave a sound result: the arguments it passes on
// are the skeleton's own, its values inside their ranges, and a refusal says
// why and changes nothing.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/skel/sdl/platform.h"
#include "app/skel/skeleton.h"
#include "app/skydome/options.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// A refusal leaves the options as they were.
bool Defaults(const kv::SkydomeOptions& o) {
    const kv::SkydomeOptions d;
    return o.frames == d.frames && !o.help && !o.version && o.screenshot.empty() && o.saveDome.empty() &&
           o.sunZenith == d.sunZenith && o.sunAzimuth == d.sunAzimuth && o.exposure == d.exposure &&
           o.resolution == d.resolution && o.turbidity == d.turbidity && !o.location && !o.time &&
           o.exportGltf.empty() && o.exportPanorama.empty() && o.panoramaWidth == d.panoramaWidth && !o.exportOnly;
}

void Parse(std::vector<char*> args) {
    const std::vector<char*> given = args;
    kv::SkydomeOptions o;
    std::string error;
    if (!kv::SkydomeParseOptions(args, &o, &error)) {
        Check(!error.empty());
        Check(args == given);
        Check(Defaults(o));
        return;
    }
    Check(error.empty());
    // What is left is the program's name and the skeleton's "-vms".
    Check(!args.empty() && args[0] == given[0]);
    for (std::size_t i = 1; i < args.size(); ++i) Check(std::strcmp(args[i], "-vms") == 0);
    Check(o.frames >= -1);
    Check(o.sunZenith >= 0.0f && o.sunZenith <= 85.0f);
    Check(o.sunAzimuth >= 0.0f && o.sunAzimuth < 360.0f);
    Check(o.exposure >= 0.01f && o.exposure <= 1.0f);
    Check(o.resolution >= 1 && o.resolution <= 32);
    Check(o.turbidity >= 1.7f && o.turbidity <= 10.0f);
    Check(o.panoramaWidth >= 16 && o.panoramaWidth <= 8192 && o.panoramaWidth % 2 == 0);
    // --help and --version answer before the options are checked together.
    const bool answersAtOnce = o.help || o.version;
    Check(o.location == o.time || answersAtOnce);
    if (o.location) {
        Check(std::fabs(o.latitude) <= 90.0 && std::fabs(o.longitude) <= 180.0);
    }
    Check(!o.exportOnly || answersAtOnce || o.frames < 0);
    Check(o.screenshot.empty() || answersAtOnce || o.frames >= 1);
}

}  // namespace

// The skeleton calls the application's handler; this target is no application.
namespace kv {
int32 AppEventHandler(int32, void*) { return EventNotHandled; }
}  // namespace kv

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // The arguments as the system hands them over: NUL-terminated strings.
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words(1, "skydome");
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        words.emplace_back(text, start, end - start);
        start = end + 1;
    }
    std::vector<char*> args;
    for (std::string& w : words) args.push_back(w.data());
    Parse(args);

    // The same bytes as one command line, split by the shell.
    kv::int32 count = -1;
    char** split = kv::CommandLineSplit(text.c_str(), &count);
    Check(split != nullptr && count >= 0);
    std::vector<char*> line(1, words[0].data());
    for (kv::int32 i = 0; i < count; ++i) {
        Check(split[i] != nullptr && std::strlen(split[i]) <= size);
        line.push_back(split[i]);
    }
    Check(split[count] == nullptr);
    Parse(line);
    kv::CommandLineFree(split);
    return 0;
}
