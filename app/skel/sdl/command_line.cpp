// The command-line splitter, for a command given as one string. Two passes:
// the first counts the arguments so that the pointers and the copy of the line
// fit in one block, the second cuts the copy in place.
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace kv {

namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) < '!'; }

// One argument as a span of the line: [begin, end) is the run of
// non-separators, quotes included.
struct Run {
    std::size_t begin;
    std::size_t end;
};

// Finds the next run at or after *pos; false at the end of the line. The
// in-quotes state carries from run to run as it does through the line.
bool NextRun(const char* line, std::size_t* pos, bool* inQuotes, Run* run) {
    std::size_t i = *pos;
    while (line[i] != '\0' && !*inQuotes && IsSeparator(line[i])) ++i;
    if (line[i] == '\0') {
        *pos = i;
        return false;
    }
    run->begin = i;
    while (line[i] != '\0' && (*inQuotes || !IsSeparator(line[i]))) {
        if (line[i] == '"') *inQuotes = !*inQuotes;
        ++i;
    }
    run->end = i;
    *pos = i;
    return true;
}

// A run of nothing but double quotes gives no argument; both passes skip it,
// so the count always matches the pointers.
bool OnlyQuotes(const char* line, const Run& run) {
    for (std::size_t i = run.begin; i < run.end; ++i) {
        if (line[i] != '"') return false;
    }
    return true;
}

}  // namespace

char** CommandLineSplit(const char* line, int32* count) {
    if (line == nullptr) line = "";
    int32 n = 0;
    std::size_t pos = 0;
    bool inQuotes = false;
    Run run{};
    while (NextRun(line, &pos, &inQuotes, &run)) {
        if (!OnlyQuotes(line, run)) ++n;
    }

    const std::size_t length = std::strlen(line);
    const std::size_t pointers = (static_cast<std::size_t>(n) + 1) * sizeof(char*);
    auto* block = static_cast<char**>(std::malloc(pointers + length + 1));
    if (block == nullptr) {
        *count = 0;
        return nullptr;
    }
    char* copy = reinterpret_cast<char*>(block) + pointers;
    std::memcpy(copy, line, length + 1);

    int32 k = 0;
    pos = 0;
    inQuotes = false;
    while (NextRun(copy, &pos, &inQuotes, &run)) {
        if (OnlyQuotes(copy, run)) continue;
        std::size_t first = run.begin;
        while (copy[first] == '"') ++first;
        block[k++] = copy + first;
        // The NUL goes over a closing quote, else over the separator (or the
        // line's own end). The scan resumes after it.
        if (copy[run.end - 1] == '"') {
            copy[run.end - 1] = '\0';
        } else if (copy[run.end] != '\0') {
            copy[run.end] = '\0';
            ++pos;
        }
    }
    block[k] = nullptr;
    *count = k;
    return block;
}

void CommandLineFree(char** args) { std::free(args); }

}  // namespace kv
