#include "string_file_functions.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
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

FileRefusedHook refusedHook = nullptr;

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

std::FILE* Refuse(const char* name, mode_t mode, int fd, const char* kind = nullptr) {
    if (fd >= 0) close(fd);
    if (refusedHook != nullptr) refusedHook(name, kind != nullptr ? kind : KindOf(mode));
    errno = S_ISDIR(mode) ? EISDIR : ENODEV;
    return nullptr;
}

// The files the kernel makes as they are read (/proc, /sys and the like)
// look like regular files, but a read of some waits for ever (/proc/kmsg)
// and others hold no data of the program's: they are not read.
bool KernelFiles(int fd) {
    struct statfs info;
    if (fstatfs(fd, &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case BPF_FS_MAGIC:
        case EFIVARFS_MAGIC:
        case PSTOREFS_MAGIC:
            return true;
        default:
            return false;
    }
}

bool ReadOnly(const char* access) { return access[0] == 'r' && std::strchr(access, '+') == nullptr; }

// Looked at before it is opened, so that no device is ever opened (opening
// some has effects of its own), and again once open, in case the name was
// given to something else in between; the open itself never waits.
std::FILE* OpenForReading(const char* name) {
    struct stat info;
    if (stat(name, &info) != 0) return nullptr;
    if (!S_ISREG(info.st_mode)) return Refuse(name, info.st_mode, -1);
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* file = nullptr;
    if (fstat(fd, &info) == 0) {
        if (!S_ISREG(info.st_mode)) return Refuse(name, info.st_mode, fd);
        if (KernelFiles(fd)) return Refuse(name, info.st_mode, fd, "one of the kernel's (such as /proc's)");
        // Reads of the file itself wait as usual.
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1) file = fdopen(fd, "r");
    }
    if (file == nullptr) {
        const int e = errno;
        close(fd);
        errno = e;
    }
    return file;
}

std::FILE* OpenFile(const char* name, const char* access) {
    if (name == nullptr || access == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return ReadOnly(access) ? OpenForReading(name) : std::fopen(name, access);
}

// The path test opens the file for reading: it exists when it can be read.
bool FileExists(const char* name) {
    std::FILE* f = OpenFile(name, "rb");
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
    [](const char* name, const char* access) -> void* { return OpenFile(name, access); },
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

void FileSetRefusedHook(FileRefusedHook hook) { refusedHook = hook; }

}  // namespace kv
