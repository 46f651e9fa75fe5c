#include "string_file_functions.h"

#include <cctype>
#include <cstring>

namespace kv {

int StrICmp(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

char* StrUpr(char* s) {
    for (char* p = s; *p != '\0'; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return s;
}

char* StrLwr(char* s) {
    for (char* p = s; *p != '\0'; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return s;
}

namespace {

// The path test opens the file for reading: it exists when it can be read.
bool FileExists(const char* name) {
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

const StringFunctions kStrings = {
    std::sprintf,
    std::vsprintf,
    std::strcpy,
    std::strncpy,
    std::strcat,
    std::strncat,
    [](const char* s, int c) -> const char* { return std::strrchr(s, c); },
    [](const char* s, int c) -> const char* { return std::strchr(s, c); },
    [](const char* s, const char* f) -> const char* { return std::strstr(s, f); },
    std::strcmp,
    StrICmp,
    std::strlen,
    StrUpr,
    StrLwr,
    std::strtok,
    std::sscanf,
};

const FileFunctions kFiles = {
    FileExists,
    [](const char* name, const char* access) -> void* { return std::fopen(name, access); },
    [](void* f) { return std::fclose(static_cast<std::FILE*>(f)); },
    [](void* a, std::size_t s, std::size_t n, void* f) { return std::fread(a, s, n, static_cast<std::FILE*>(f)); },
    [](const void* a, std::size_t s, std::size_t n, void* f) {
        return std::fwrite(a, s, n, static_cast<std::FILE*>(f));
    },
    [](char* b, int n, void* f) { return std::fgets(b, n, static_cast<std::FILE*>(f)); },
    [](const char* b, void* f) { return std::fputs(b, static_cast<std::FILE*>(f)); },
    // End of file: the flag is set, or the next read would return nothing.
    [](void* f) {
        auto* file = static_cast<std::FILE*>(f);
        if (std::feof(file) != 0) return 1;
        const int c = std::fgetc(file);
        if (c == EOF) return 1;
        std::ungetc(c, file);
        return 0;
    },
    [](void* f, long o, int w) { return std::fseek(static_cast<std::FILE*>(f), o, w); },
    [](void* f) { return std::fflush(static_cast<std::FILE*>(f)); },
    [](void* f) { return std::ftell(static_cast<std::FILE*>(f)); },
};

}  // namespace

const StringFunctions* StringFunctionsDefault() { return &kStrings; }
const FileFunctions* FileFunctionsDefault() { return &kFiles; }

}  // namespace kv
