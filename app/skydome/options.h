// Options of the sky-dome creator for unattended runs.
#pragma once

#include <string>
#include <vector>

namespace kv {

struct SkydomeOptions {
    long frames = -1;  // quit after this many frames; -1 runs until the user quits
    bool help = false;
    std::string screenshot;         // PNG written after the last frame of a --frames run
    bool screenshotFailed = false;  // set when it could not be written
};

// Takes the program's own options out of argv; what remains is passed to the
// shell (the skeleton's options such as "-vms", and file arguments). Returns
// false with a message in *error when an option is malformed.
bool SkydomeParseOptions(std::vector<char*>& args, SkydomeOptions* options, std::string* error);
const char* SkydomeUsage();

SkydomeOptions* SkydomeGetOptions();

}  // namespace kv
