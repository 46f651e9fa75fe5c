#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kv {

namespace {
SkydomeOptions current;

bool ParseCount(const char* text, long* out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < 0) return false;
    *out = v;
    return true;
}
}  // namespace

SkydomeOptions* SkydomeGetOptions() { return &current; }

const char* SkydomeUsage() {
    return "usage: skydome [options] [-vms]\n"
           "\n"
           "Computes the clear daytime sky over a dome, shows it and saves it.\n"
           "\n"
           "options:\n"
           "  -vms          do not show the device-selection dialog; take the current mode\n"
           "  --frames N    quit after N frames (for unattended runs)\n"
           "  --screenshot FILE\n"
           "                after the last frame of a --frames run, write the picture\n"
           "                to FILE as PNG (the exit status is 1 when it cannot be written)\n"
           "  --help        show this text and exit\n"
           "\n"
           "Escape or closing the window quits.\n";
}

bool SkydomeParseOptions(std::vector<char*>& args, SkydomeOptions* options, std::string* error) {
    std::vector<char*> rest;
    if (!args.empty()) rest.push_back(args[0]);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const char* a = args[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            options->help = true;
        } else if (std::strcmp(a, "--frames") == 0) {
            if (i + 1 >= args.size() || !ParseCount(args[i + 1], &options->frames)) {
                *error = "--frames needs a whole number of frames, 0 or more";
                return false;
            }
            ++i;
        } else if (std::strcmp(a, "--screenshot") == 0) {
            if (i + 1 >= args.size() || args[i + 1][0] == '\0') {
                *error = "--screenshot needs a file name";
                return false;
            }
            options->screenshot = args[i + 1];
            ++i;
        } else if (std::strncmp(a, "--", 2) == 0) {
            *error = std::string("unknown option ") + a + " (see --help)";
            return false;
        } else {
            rest.push_back(args[i]);
        }
    }
    if (!options->screenshot.empty() && !options->help && options->frames < 1) {
        *error = "--screenshot needs --frames N with N at least 1 (the picture of the last frame is written)";
        return false;
    }
    args = rest;
    return true;
}

}  // namespace kv
